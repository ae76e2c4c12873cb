// winspool's own: the print store (printer and driver records, registrations, spooled jobs), the handles on
// printers and jobs, and what the spooler keeps while it runs a job. The spooler reaches the local port
// monitor (localspl) only through its monitor table, as it reaches any monitor.
#pragma once

#include "machine.h"

#include <winspool.h>
#include <winsplp.h>

#include "winsplp_ansi.h"

#include <map>
#include <optional>

// localspl's entries, declared as the spooler calls what it finds on Windows: the local monitor's table in
// the form of the 98/ME spooler (8-bit names), and in the NT spoolers' two forms (UTF-16 names; MONITOR2).
extern "C" BOOL WINAPI InitializeLocalMonitor(MONITORA* table);
extern "C" BOOL WINAPI InitializeLocalMonitorW(LPMONITOR table);
extern "C" LPMONITOR2 WINAPI InitializeLocalMonitor2(PMONITORINIT init, PHANDLE monitor);

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

std::string PrinterKey(const std::string& printer);
// The number of jobs of a printer in the spooler now: spooled, held, or being printed.
DWORD JobCount(const std::string& printer);

// The machine's Windows decides where the spooler keeps its files: Windows 98 and ME keep print processors
// and drivers in the system directory.
// "Windows 4.0" on Windows 98/ME, "Windows x64" on 64-bit Windows, "Windows NT x86" otherwise
std::string NativeEnvironment();
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
// Loads a spooler file (print processor, monitor) into the spooler's process, which is of the machine's own
// architecture: a module built for another does not load (ERROR_BAD_EXE_FORMAT).
HMODULE LoadSpoolerModule(const std::string& windowsPath);
// A spooler file loaded once and kept, as the spooler keeps them.
HMODULE CachedModule(const std::string& windowsPath);
template <class Fn> Fn ProcAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
// A print monitor as the spooler holds it once initialised, in the form in which the machine's spooler
// called it: the 98/ME spooler's 8-bit table (InitializeMonitorEx); on Windows 2000 and later the MONITOR2
// of InitializePrintMonitor2 with the monitor's instance, or, for a monitor without it, the UTF-16 table of
// InitializeMonitorEx.
struct MonitorTables {
    enum class Form { Ansi, Wide, Monitor2 };
    Form form = Form::Ansi;
    MONITORA ansi{};
    MONITOR wide{};
    MONITOR2 monitor2{}; // the entries that the monitor's table size covers; the rest null
    HANDLE instance = nullptr;
    HKEY root = nullptr;  // the registry root handed to InitializePrintMonitor2
    std::string entry;    // the initialisation that the spooler called
};
// The operations on an open port, which every form of table has alike.
struct PortOps {
    BOOL(WINAPI* write)(HANDLE, LPBYTE, DWORD, LPDWORD) = nullptr;
    BOOL(WINAPI* read)(HANDLE, LPBYTE, DWORD, LPDWORD) = nullptr;
    BOOL(WINAPI* endDoc)(HANDLE) = nullptr;
    BOOL(WINAPI* close)(HANDLE) = nullptr;
};
PortOps OperationsOf(const MonitorTables& tables);
// The local port monitor in a spooler's form (kept, never changed).
const MonitorTables& LocalMonitor(MonitorTables::Form form);
// Ends what the spooler holds of an initialised monitor: its instance (Shutdown) and its registry root.
void ShutdownMonitor(MonitorTables& tables);
// Ends every monitor the spooler holds, as a spooler that stops does.
void ShutdownMonitors();
// A registered monitor, loaded and initialised once as the machine's spooler does (at AddMonitor, or when
// a port is first opened through it) and kept until it is deleted; null, with why, when it cannot be.
const MonitorTables* InitializedMonitor(const std::string& name, std::string* error);

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

// A document on its way to the port: the operations of the monitor it goes through and its port handle.
struct PortDoc {
    PortOps ops;
    HANDLE port = nullptr;
    bool started = false;
    bool viaMonitor = false;
    std::string monitor; // lower case, while the port is open through a language monitor

    ~PortDoc() { End(); }
    void End();
};

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

// ---- the spooler while it runs ---------------------------------------------------------------------

// "<printer>, Job <n>" opens a job for reading; "<port>, Port" is the name under which the spooler opens a
// print processor for a printer's port.
inline constexpr char kJobSuffix[] = ", Job ";
inline constexpr char kPortSuffix[] = ", Port";

struct SpoolerState {
    std::mutex mutex;
    DWORD nextJobId = 1;
    std::map<DWORD, std::shared_ptr<Job>> jobs; // from StartDocPrinter until the job has run
    // printers whose print processor runs now (lower-case name), with what their job has done so far
    std::map<std::string, std::shared_ptr<control::JobOutcome>> despooling;
    // the open print processors of those printers, for a cancel from another thread
    struct OpenProcessor {
        HANDLE handle = nullptr;
        BOOL(WINAPI* control)(HANDLE, DWORD) = nullptr;
    };
    std::map<std::string, OpenProcessor> processors;
    std::optional<control::JobOutcome> last;
    std::map<std::string, HMODULE> modules;   // loaded once, as the spooler keeps them
    std::map<std::string, MonitorTables> monitors; // initialised language monitors by name
    std::map<std::string, int> monitorPorts;  // ports open through each of them now
};
SpoolerState& Spooler();

std::shared_ptr<Job> FindJob(DWORD id);
// Runs a job that the application has ended: the printer's print processor prints it, and the job goes.
void RunJob(const std::shared_ptr<Job>& job);
// Opens the way to the port for a print processor's document; null (with the last error) when it fails.
std::unique_ptr<PortDoc> OpenPortDoc(const PrinterObj& obj, const DOC_INFO_1W& info, DWORD jobId);

} // namespace kqwin
