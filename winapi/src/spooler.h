// The simulated print spooler's shared pieces: printer records, jobs and the handles on them.
#pragma once

#include "core.h"

#include <map>
#include <optional>

namespace kqwin {

// A printer as the registry keeps it.
struct PrinterRecord {
    std::string name;
    std::string share;
    std::string port;
    std::string driver;
    std::string comment;
    std::string location;
    std::string sepFile;
    std::string printProcessor;
    std::string datatype;
    std::string parameters;
    DWORD attributes = 0;
    DWORD priority = 1;
    DWORD defaultPriority = 0;
    DWORD startTime = 0;
    DWORD untilTime = 0;
    int verticalDpi = 203;
};

std::optional<PrinterRecord> LoadPrinter(const std::string& name);
void StorePrinter(const PrinterRecord& rec);

// A driver's registration, under Environments\<env>\Drivers\Version-<n>\<name> as Windows keeps it. A
// lookup takes the machine's own environment first, and the newest version in each.
struct DriverRecord {
    std::string name;
    std::string environment;
    std::string monitor;
    std::string datatype;
};
std::optional<DriverRecord> LoadDriver(const std::string& name);
// The key of a driver's registration, and the version folder (0 to 3) its files go to.
std::string DriverKey(const std::string& environment, DWORD version, const std::string& name);
DWORD DriverVersion(const std::string& environment, DWORD cVersion);

// The machine's Windows decides where the spooler keeps its files: Windows 98 and ME keep print processors
// and drivers in the system directory.
std::string NativeEnvironment(); // "Windows 4.0" on Windows 98/ME, "Windows NT x86" otherwise
bool KnownEnvironment(const std::string& environment);
// Where a print processor or driver of an environment lives on the simulated disk (Windows path).
std::string PrintProcessorDirectory(const std::string& environment);
std::string PrinterDriverDirectory(const std::string& environment);
// Registration lookups (the machine's own environment first): file name of the DLL, and its environment.
bool FindPrintProcessor(const std::string& name, std::string* file, std::string* environment);
bool FindMonitor(const std::string& name, std::string* file);
// A language monitor through which a port is open now.
bool MonitorInUse(const std::string& name);
// Drops what the spooler keeps loaded of a monitor or a print processor file, as Windows unloads a monitor
// or print processor it deletes.
void UnloadMonitor(const std::string& name);
void UnloadSpoolerFile(const std::string& hostPath);

// A spooled job: its bytes never change once the application has ended the document.
struct Job {
    DWORD id = 0;
    std::string printer;
    std::u16string document;
    std::u16string outputFile;
    std::u16string datatype;
    std::u16string parameters;
    std::optional<DEVMODEW> devmode;
    std::vector<BYTE> data; // filled while spooling
    std::shared_ptr<const std::vector<BYTE>> bytes; // after EndDocPrinter
};

struct PortDoc;

// Every printer handle: on a printer (an application's, or a print processor's while the spooler runs
// it), or on a spooled job for reading.
struct PrinterObj : Object {
    PrinterObj();
    ~PrinterObj() override;
    enum class Kind { Printer, JobReader } kind = Kind::Printer;
    std::string printer;
    ACCESS_MASK access = PRINTER_ACCESS_USE; // as granted at the open
    std::optional<DEVMODEW> devmode;
    // reading a job
    std::shared_ptr<const std::vector<BYTE>> jobBytes;
    size_t position = 0;
    bool reachedEnd = false; // a read asked for more than was left
    // an application spooling a document
    std::shared_ptr<Job> spooling;
    // a print processor's handle: documents go to the port
    bool portBound = false;
    std::shared_ptr<control::JobOutcome> outcome;
    std::unique_ptr<PortDoc> portDoc;
};

} // namespace kqwin
