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

// A driver's registration (any environment).
struct DriverRecord {
    std::string name;
    std::string environment;
    std::string monitor;
    std::string datatype;
};
std::optional<DriverRecord> LoadDriver(const std::string& name);

// Where a print processor or monitor DLL of an environment lives on the simulated disk (Windows path).
std::string PrintProcessorDirectory(const std::string& environment);
std::string SystemDirectory();
// Registration lookups over all environments: file name of the DLL, and its environment.
bool FindPrintProcessor(const std::string& name, std::string* file, std::string* environment);
bool FindMonitor(const std::string& name, std::string* file);

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
