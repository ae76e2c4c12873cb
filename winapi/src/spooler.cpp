// The simulated print spooler at print time: spooling an application's RAW job, running the printer's
// print processor on it, replaying the job to the processor, and sending the processor's output to the
// port through the driver's language monitor (when there is one) and the local port monitor.
#include "spooler.h"

#include <winsplp.h>

#include <algorithm>
#include <cstring>

namespace kqwin {


namespace {

constexpr char kJobSuffix[] = ", Job ";
constexpr char kPortSuffix[] = ", Port";
// A read of kReadAheadAfter bytes or more brings as many bytes, kReadAhead further on, towards the processor.
constexpr size_t kReadAheadAfter = 256;
constexpr size_t kReadAhead = 4096;

struct SpoolerState {
    std::mutex mutex;
    DWORD nextJobId = 1;
    std::map<DWORD, std::shared_ptr<Job>> jobs;
    // printers whose print processor runs now (lower-case name), with what their job has done so far
    std::map<std::string, std::shared_ptr<control::JobOutcome>> despooling;
    // the open print processors of those printers, for a cancel from another thread
    struct OpenProcessor {
        HANDLE handle = nullptr;
        BOOL(WINAPI* control)(HANDLE, DWORD) = nullptr;
    };
    std::map<std::string, OpenProcessor> processors;
    std::optional<control::JobOutcome> last;
    std::map<std::string, HMODULE> modules;           // loaded once, as the spooler keeps them
    std::map<std::string, PortMonitorTable> monitors; // initialised language monitors by name
    std::map<std::string, int> monitorPorts;          // ports open through each of them now
    // write recording for tests and traces
    std::atomic<bool> listening{false}; // recording or observed: without either, a write is not looked at
    std::mutex recordMutex;
    bool record = false;
    std::vector<control::WriteRecord> writes;
    std::function<void(const BYTE*, DWORD, DWORD)> observer;
};

SpoolerState& Spooler() {
    static SpoolerState state;
    return state;
}

std::string EnvironmentsKey() { return std::string(kPrintKey) + "\\Environments"; }

HMODULE CachedModule(const std::string& hostPath, const std::string& name) {
    SpoolerState& s = Spooler();
    {
        std::lock_guard lock(s.mutex);
        auto it = s.modules.find(hostPath);
        if (it != s.modules.end()) {
            return it->second;
        }
    }
    HMODULE module = LoadModule(hostPath, name);
    if (module) {
        std::lock_guard lock(s.mutex);
        s.modules.emplace(hostPath, module);
    }
    return module;
}

// The language monitor of a printer's driver, initialised on first use; null when there is none.
const PortMonitorTable* LanguageMonitor(const PrinterRecord& rec, std::string* error) {
    const std::optional<DriverRecord> driver = LoadDriver(rec.driver);
    if (!driver || driver->monitor.empty()) {
        return nullptr;
    }
    SpoolerState& s = Spooler();
    {
        std::lock_guard lock(s.mutex);
        auto it = s.monitors.find(LowerAscii(driver->monitor));
        if (it != s.monitors.end()) {
            return &it->second;
        }
    }
    std::string file;
    if (!FindMonitor(driver->monitor, &file)) {
        *error = "language monitor \"" + driver->monitor + "\" is not installed";
        return nullptr;
    }
    const std::string host = MapPath(SystemDirectory() + "\\" + file);
    HMODULE module = CachedModule(host, file);
    using InitFn = BOOL(WINAPI*)(LPSTR, PortMonitorTable*);
    auto init = module ? ProcAddress<InitFn>(module, "InitializeMonitorEx") : nullptr;
    if (!init) {
        *error = "language monitor \"" + driver->monitor + "\" cannot be loaded from " + host;
        return nullptr;
    }
    PortMonitorTable table{};
    std::string root = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\" + driver->monitor;
    if (!init(root.data(), &table)) {
        *error = "language monitor \"" + driver->monitor + "\" refused to initialise";
        return nullptr;
    }
    std::lock_guard lock(s.mutex);
    return &s.monitors.emplace(LowerAscii(driver->monitor), table).first->second;
}

std::shared_ptr<Job> FindJob(DWORD id) {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    auto it = s.jobs.find(id);
    return it == s.jobs.end() ? nullptr : it->second;
}

// Splits "<printer>, Job <n>".
bool ParseJobName(const std::string& name, std::string* printer, DWORD* id) {
    const size_t at = name.rfind(kJobSuffix);
    if (at == std::string::npos) {
        return false;
    }
    const std::string digits = name.substr(at + sizeof(kJobSuffix) - 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    *printer = name.substr(0, at);
    *id = static_cast<DWORD>(std::stoul(digits));
    return true;
}

void Record(const BYTE* bytes, DWORD offered, DWORD accepted, BOOL result) {
    SpoolerState& s = Spooler();
    if (!s.listening.load(std::memory_order_acquire)) {
        return;
    }
    std::lock_guard lock(s.recordMutex);
    if (s.observer) {
        s.observer(bytes, offered, accepted);
    }
    if (s.record) {
        s.writes.push_back(control::WriteRecord{std::vector<BYTE>(bytes, bytes + offered), accepted, result});
    }
}

BOOL OpenPrinterCommon(const std::string& name, LPHANDLE handle, const DEVMODEW* devmode, ACCESS_MASK access) {
    const FaultDecision fault = CheckFault(control::Op::OpenPrinter);
    if (!handle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *handle = nullptr;
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    auto obj = std::make_shared<PrinterObj>();
    std::string printer;
    DWORD jobId = 0;
    if (ParseJobName(name, &printer, &jobId)) {
        std::shared_ptr<Job> job = FindJob(jobId);
        if (!job || !job->bytes || !EqualsNoCase(job->printer, printer)) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        obj->kind = PrinterObj::Kind::JobReader;
        obj->printer = job->printer;
        obj->jobBytes = job->bytes;
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        auto it = s.despooling.find(LowerAscii(job->printer));
        if (it != s.despooling.end() && it->second->jobId == jobId) {
            obj->outcome = it->second; // the pass's read position is kept when the reader is closed
        }
    } else if (name.size() > sizeof(kPortSuffix) - 1 &&
               EqualsNoCase(name.substr(name.size() - (sizeof(kPortSuffix) - 1)), kPortSuffix)) {
        // "<port>, Port": the name under which the spooler opens a print processor for a printer's port
        const std::string port = name.substr(0, name.size() - (sizeof(kPortSuffix) - 1));
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        for (const auto& [printerKey, outcome] : s.despooling) {
            const std::optional<PrinterRecord> rec = LoadPrinter(printerKey);
            if (rec && EqualsNoCase(rec->port, port)) {
                obj->printer = rec->name;
                obj->portBound = true;
                obj->outcome = outcome;
                break;
            }
        }
        if (!obj->portBound) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
    } else {
        const std::optional<PrinterRecord> rec = LoadPrinter(name);
        if (!rec) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        obj->printer = rec->name;
        // Administrators get what they ask for; no request is a request to print.
        obj->access = access ? access : PRINTER_ACCESS_USE;
        if (devmode) {
            DEVMODEW copy{};
            std::memcpy(&copy, devmode, std::min<size_t>(sizeof(DEVMODEW), devmode->dmSize ? devmode->dmSize
                                                                                             : sizeof(DEVMODEW)));
            obj->devmode = copy;
        }
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        auto it = s.despooling.find(LowerAscii(rec->name));
        if (it != s.despooling.end()) {
            obj->portBound = true;
            obj->outcome = it->second;
        }
    }
    *handle = Handles().Add(std::move(obj));
    if (!*handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

} // namespace

// ---- port documents -------------------------------------------------------------------------------

struct PortDoc {
    const PortMonitorTable* table = nullptr;
    HANDLE port = nullptr;
    bool started = false;
    bool viaMonitor = false;
    std::string monitor; // lower case, while the port is open through a language monitor

    ~PortDoc() { End(); }
    void End() {
        if (started && table->pfnEndDocPort) {
            table->pfnEndDocPort(port);
        }
        started = false;
        if (port && table->pfnClosePort) {
            table->pfnClosePort(port);
        }
        port = nullptr;
        if (!monitor.empty()) {
            SpoolerState& s = Spooler();
            std::lock_guard lock(s.mutex);
            if (--s.monitorPorts[monitor] <= 0) {
                s.monitorPorts.erase(monitor);
            }
            monitor.clear();
        }
    }
};

PrinterObj::PrinterObj() : Object(ObjType::Printer) {}
PrinterObj::~PrinterObj() = default;

std::string PrinterKey(const std::string& printer) { return std::string(kPrintKey) + "\\Printers\\" + printer; }

std::optional<PrinterRecord> LoadPrinter(const std::string& name) {
    if (name.empty() || name.find('\\') != std::string::npos) {
        return std::nullopt;
    }
    // one look-up for the whole record: a printer is loaded at every open and document
    const std::optional<std::vector<Registry::Value>> values = Hive().GetValues(PrinterKey(name));
    if (!values) {
        return std::nullopt;
    }
    auto text = [&values](std::string_view value) { return Registry::StringIn(*values, value); };
    auto number = [&values](std::string_view value, DWORD fallback) {
        return Registry::DwordIn(*values, value, fallback);
    };
    PrinterRecord rec;
    rec.name = text("Name");
    if (rec.name.empty()) {
        rec.name = name;
    }
    rec.share = text("Share Name");
    rec.port = text("Port");
    rec.driver = text("Printer Driver");
    rec.comment = text("Description");
    rec.location = text("Location");
    rec.sepFile = text("Separator File");
    rec.printProcessor = text("Print Processor");
    rec.datatype = text("Datatype");
    rec.parameters = text("Parameters");
    rec.attributes = number("Attributes", 0);
    rec.priority = number("Priority", 1);
    rec.defaultPriority = number("Default Priority", 0);
    rec.startTime = number("StartTime", 0);
    rec.untilTime = number("UntilTime", 0);
    rec.verticalDpi = static_cast<int>(number("Resolution", 203));
    return rec;
}

void StorePrinter(const PrinterRecord& rec) {
    Registry& r = Hive();
    const std::string key = PrinterKey(rec.name);
    r.CreateKey(key, nullptr);
    r.SetString(key, "Name", rec.name);
    r.SetString(key, "Share Name", rec.share);
    r.SetString(key, "Port", rec.port);
    r.SetString(key, "Printer Driver", rec.driver);
    r.SetString(key, "Description", rec.comment);
    r.SetString(key, "Location", rec.location);
    r.SetString(key, "Separator File", rec.sepFile);
    r.SetString(key, "Print Processor", rec.printProcessor);
    r.SetString(key, "Datatype", rec.datatype);
    r.SetString(key, "Parameters", rec.parameters);
    r.SetDword(key, "Attributes", rec.attributes);
    r.SetDword(key, "Priority", rec.priority);
    r.SetDword(key, "Default Priority", rec.defaultPriority);
    r.SetDword(key, "StartTime", rec.startTime);
    r.SetDword(key, "UntilTime", rec.untilTime);
    r.SetDword(key, "Resolution", static_cast<DWORD>(rec.verticalDpi));
}

int PrinterVerticalDpi(const std::string& printer) {
    const auto rec = LoadPrinter(printer);
    return rec ? rec->verticalDpi : 0;
}

namespace {

// The environments of the machine's registry, its own first.
std::vector<std::string> EnvironmentsByPreference() {
    std::vector<std::string> envs = Hive().SubKeys(EnvironmentsKey());
    const std::string native = NativeEnvironment();
    std::stable_partition(envs.begin(), envs.end(), [&](const std::string& e) { return EqualsNoCase(e, native); });
    return envs;
}

std::string EnvironmentFolder(const std::string& environment) {
    if (EqualsNoCase(environment, "Windows 4.0")) {
        return "WIN40";
    }
    if (EqualsNoCase(environment, "Windows x64")) {
        return "x64";
    }
    if (EqualsNoCase(environment, "Windows IA64")) {
        return "IA64";
    }
    return "W32X86";
}

} // namespace

std::string DriverKey(const std::string& environment, DWORD version, const std::string& name) {
    return EnvironmentsKey() + "\\" + environment + "\\Drivers\\Version-" + std::to_string(version) + "\\" + name;
}

DWORD DriverVersion(const std::string& environment, DWORD cVersion) {
    if (EqualsNoCase(environment, "Windows 4.0")) {
        return 0;
    }
    return cVersion >= 1 && cVersion <= 3 ? cVersion : 3;
}

std::optional<DriverRecord> LoadDriver(const std::string& name) {
    if (name.empty() || name.find('\\') != std::string::npos) {
        return std::nullopt;
    }
    Registry& r = Hive();
    for (const std::string& env : EnvironmentsByPreference()) {
        for (DWORD version = 4; version-- > 0;) {
            if (const auto values = r.GetValues(DriverKey(env, version, name))) {
                return DriverRecord{name, env, Registry::StringIn(*values, "Monitor"),
                                    Registry::StringIn(*values, "Datatype")};
            }
        }
        // a machine set up by an earlier stand-in keeps its drivers directly below Drivers
        const auto legacy = r.GetValues(EnvironmentsKey() + "\\" + env + "\\Drivers\\" + name);
        if (legacy && !Registry::StringIn(*legacy, "Driver").empty()) {
            return DriverRecord{name, env, Registry::StringIn(*legacy, "Monitor"),
                                Registry::StringIn(*legacy, "Datatype")};
        }
    }
    return std::nullopt;
}

std::string NativeEnvironment() { return Windows9x() ? "Windows 4.0" : "Windows NT x86"; }

bool KnownEnvironment(const std::string& environment) {
    for (const char* known : {"Windows 4.0", "Windows NT x86", "Windows x64", "Windows IA64"}) {
        if (EqualsNoCase(environment, known)) {
            return true;
        }
    }
    return false;
}

std::string PrintProcessorDirectory(const std::string& environment) {
    if (Windows9x()) {
        return SystemDirectory();
    }
    return "C:\\WINDOWS\\System32\\spool\\PRTPROCS\\" + EnvironmentFolder(environment);
}

std::string PrinterDriverDirectory(const std::string& environment) {
    if (Windows9x()) {
        return SystemDirectory();
    }
    return "C:\\WINDOWS\\System32\\spool\\DRIVERS\\" + EnvironmentFolder(environment);
}

bool MonitorInUse(const std::string& name) {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    return s.monitorPorts.count(LowerAscii(name)) != 0;
}

void UnloadSpoolerFile(const std::string& hostPath) {
    SpoolerState& s = Spooler();
    HMODULE module = nullptr;
    {
        std::lock_guard lock(s.mutex);
        auto it = s.modules.find(hostPath);
        if (it == s.modules.end()) {
            return;
        }
        module = it->second;
        s.modules.erase(it);
    }
    FreeLibrary(module);
}

void UnloadMonitor(const std::string& name) {
    std::string file;
    if (FindMonitor(name, &file)) {
        SpoolerState& s = Spooler();
        {
            std::lock_guard lock(s.mutex);
            s.monitors.erase(LowerAscii(name));
        }
        UnloadSpoolerFile(MapPath(SystemDirectory() + "\\" + file));
    }
}

bool FindPrintProcessor(const std::string& name, std::string* file, std::string* environment) {
    Registry& r = Hive();
    for (const std::string& env : EnvironmentsByPreference()) {
        const std::string key = EnvironmentsKey() + "\\" + env + "\\Print Processors\\" + name;
        if (r.KeyExists(key)) {
            *file = r.GetString(key, "Driver");
            *environment = env;
            return !file->empty();
        }
    }
    return false;
}

bool FindMonitor(const std::string& name, std::string* file) {
    const std::string key = std::string(kPrintKey) + "\\Monitors\\" + name;
    if (!Hive().KeyExists(key)) {
        return false;
    }
    *file = Hive().GetString(key, "Driver");
    return !file->empty();
}

void ResetSpooler() {
    SpoolerState& s = Spooler();
    {
        std::lock_guard lock(s.mutex);
        s.jobs.clear();
        s.despooling.clear();
        s.processors.clear();
        s.last.reset();
        s.monitors.clear();
        s.monitorPorts.clear();
        s.nextJobId = 1;
    }
    std::lock_guard lock(s.recordMutex);
    s.record = false;
    s.writes.clear();
    s.observer = nullptr;
    s.listening.store(false, std::memory_order_release);
}

const ResetHook kSpoolerOnReset(&ResetSpooler);

// ---- running a job --------------------------------------------------------------------------------

namespace {

struct ProcessorExports {
    BOOL(WINAPI* enumDatatypes)(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) = nullptr;
    HANDLE(WINAPI* open)(LPWSTR, PPRINTPROCESSOROPENDATA) = nullptr;
    BOOL(WINAPI* print)(HANDLE, LPWSTR) = nullptr;
    BOOL(WINAPI* close)(HANDLE) = nullptr;
    BOOL(WINAPI* control)(HANDLE, DWORD) = nullptr;
    DWORD(WINAPI* caps)(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD) = nullptr;
};

template <class T> void Resolve(HMODULE m, const char* name, T* fn) { *fn = ProcAddress<T>(m, name); }

bool LoadProcessor(const PrinterRecord& rec, ProcessorExports* pp, std::string* error) {
    std::string file;
    std::string env;
    if (!FindPrintProcessor(rec.printProcessor, &file, &env)) {
        *error = "print processor \"" + rec.printProcessor + "\" is not installed";
        return false;
    }
    const std::string host = MapPath(PrintProcessorDirectory(env) + "\\" + file);
    HMODULE m = CachedModule(host, file);
    if (!m) {
        *error = "print processor file " + host + " cannot be loaded";
        return false;
    }
    Resolve(m, "EnumPrintProcessorDatatypesW", &pp->enumDatatypes);
    Resolve(m, "OpenPrintProcessor", &pp->open);
    Resolve(m, "PrintDocumentOnPrintProcessor", &pp->print);
    Resolve(m, "ClosePrintProcessor", &pp->close);
    Resolve(m, "ControlPrintProcessor", &pp->control);
    Resolve(m, "GetPrintProcessorCapabilities", &pp->caps);
    if (!pp->enumDatatypes || !pp->open || !pp->print || !pp->close || !pp->control || !pp->caps) {
        *error = "print processor " + host + " lacks one of the six entry points";
        return false;
    }
    return true;
}

// Asks the processor for its datatypes the way the spooler does: the size first, then the list.
bool AcceptsDatatype(const ProcessorExports& pp, const std::string& ppName, const std::u16string& datatype,
                     std::string* error) {
    std::u16string name = AnsiToUtf16(ppName);
    DWORD needed = 0;
    DWORD count = 0;
    SetLastError(0);
    if (pp.enumDatatypes(nullptr, name.data(), 1, nullptr, 0, &needed, &count) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0 || needed > 65536) {
        *error = "print processor gave no datatype list size";
        return false;
    }
    std::vector<BYTE> buffer(needed);
    if (!pp.enumDatatypes(nullptr, name.data(), 1, buffer.data(), needed, &needed, &count)) {
        *error = "print processor gave no datatype list";
        return false;
    }
    const BYTE* end = buffer.data() + buffer.size();
    for (DWORD i = 0; i < count && (i + 1) * sizeof(DATATYPES_INFO_1W) <= buffer.size(); ++i) {
        DATATYPES_INFO_1W entry;
        std::memcpy(&entry, buffer.data() + i * sizeof(entry), sizeof(entry));
        const auto* p = reinterpret_cast<const BYTE*>(entry.pName);
        if (p < buffer.data() || p >= end) {
            *error = "print processor's datatype list points outside its buffer";
            return false;
        }
        std::u16string dt;
        for (; p + 1 < end; p += 2) {
            char16_t c;
            std::memcpy(&c, p, 2);
            if (!c) {
                break;
            }
            dt += c;
        }
        if (lstrcmpiW(dt.c_str(), datatype.c_str()) == 0) {
            return true;
        }
    }
    *error = "print processor does not take datatype " + Utf16ToUtf8(datatype);
    return false;
}

void RunJob(const std::shared_ptr<Job>& job) {
    SpoolerState& s = Spooler();
    auto outcome = std::make_shared<control::JobOutcome>();
    outcome->jobId = job->id;
    outcome->bytesIn = job->bytes->size();
    const std::optional<PrinterRecord> rec = LoadPrinter(job->printer);
    ProcessorExports pp;
    std::string error;
    if (!rec) {
        outcome->error = "printer \"" + job->printer + "\" is gone";
    } else if (LoadProcessor(*rec, &pp, &error) && AcceptsDatatype(pp, rec->printProcessor, job->datatype, &error)) {
        outcome->processorLoaded = true;
        {
            std::lock_guard lock(s.mutex);
            s.despooling[LowerAscii(rec->name)] = outcome;
        }
        std::u16string printer = AnsiToUtf16(rec->name);
        std::u16string datatype = job->datatype;
        std::u16string parameters = job->parameters;
        std::u16string document = job->document;
        std::u16string output = job->outputFile;
        // As Windows does, the processor is opened under the port's name; the printer's own name is in the
        // open data.
        std::u16string printerForOpen = AnsiToUtf16(rec->port + kPortSuffix);
        DEVMODEW devmode = job->devmode.value_or(DEVMODEW{});
        PRINTPROCESSOROPENDATA od{};
        od.pDevMode = job->devmode ? &devmode : nullptr;
        od.pDatatype = datatype.data();
        od.pParameters = parameters.data();
        od.pDocumentName = document.data();
        od.JobId = job->id;
        od.pOutputFile = output.empty() ? nullptr : output.data();
        od.pPrinterName = printer.data();
        HANDLE h = pp.open(printerForOpen.data(), &od);
        if (h) {
            outcome->opened = true;
            {
                std::lock_guard lock(s.mutex);
                s.processors[LowerAscii(rec->name)] = {h, pp.control};
            }
            std::u16string readName = AnsiToUtf16(job->printer) + u", Job " + Utf8ToUtf16(std::to_string(job->id));
            outcome->printed = pp.print(h, readName.data());
            if (!outcome->printed) {
                outcome->printError = GetLastError();
                outcome->error = "the print processor reported failure, error " + std::to_string(outcome->printError);
            }
            {
                // no cancel may reach the handle once it is being closed
                std::lock_guard lock(s.mutex);
                s.processors.erase(LowerAscii(rec->name));
            }
            outcome->closed = pp.close(h);
        } else {
            outcome->error = "the print processor did not open the job, error " + std::to_string(GetLastError());
        }
        std::lock_guard lock(s.mutex);
        s.despooling.erase(LowerAscii(rec->name));
    } else {
        outcome->error = error;
    }
    std::lock_guard lock(s.mutex);
    s.jobs.erase(job->id);
    s.last = *outcome;
}

// Opens the way to the port for a print processor's document.
std::unique_ptr<PortDoc> OpenPortDoc(const PrinterObj& obj, const DOC_INFO_1W& info, DWORD jobId) {
    const std::optional<PrinterRecord> rec = LoadPrinter(obj.printer);
    if (!rec) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    auto doc = std::make_unique<PortDoc>();
    std::string printerName = rec->name;
    std::string portName = rec->port;
    BOOL opened = FALSE;
    const std::u16string outputFile = WideOrEmpty(info.pOutputFile);
    std::string monitorError;
    if (!outputFile.empty()) {
        // printing to a file named by the document goes straight to that file
        doc->table = LocalPortMonitor();
        opened = LocalPortOpenFile(MapPath(Utf16ToAnsi(outputFile)), &doc->port);
    } else if (const PortMonitorTable* lm = (rec->attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI)
                                                 ? LanguageMonitor(*rec, &monitorError)
                                                 : nullptr) {
        doc->table = lm;
        doc->viaMonitor = true;
        opened = lm->pfnOpenPortEx && lm->pfnOpenPortEx(portName.data(), printerName.data(), &doc->port,
                                                        LocalPortMonitor());
    } else {
        doc->table = LocalPortMonitor();
        opened = doc->table->pfnOpenPort(portName.data(), &doc->port);
    }
    if (!monitorError.empty() && obj.outcome) {
        obj.outcome->error = monitorError;
    }
    if (!opened) {
        doc->port = nullptr;
        return nullptr;
    }
    if (doc->viaMonitor) {
        // the monitor is in use while the port is open through it
        const std::optional<DriverRecord> driver = LoadDriver(rec->driver);
        doc->monitor = LowerAscii(driver ? driver->monitor : rec->driver);
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        ++s.monitorPorts[doc->monitor];
    }
    std::string docName = Utf16ToAnsi(WideOrEmpty(info.pDocName));
    std::string output = Utf16ToAnsi(outputFile);
    std::string datatype = Utf16ToAnsi(WideOrEmpty(info.pDatatype));
    DOC_INFO_1A docInfo{docName.data(), output.empty() ? nullptr : output.data(),
                        datatype.empty() ? nullptr : datatype.data()};
    if (!doc->table->pfnStartDocPort ||
        !doc->table->pfnStartDocPort(doc->port, printerName.data(), jobId, 1, reinterpret_cast<LPBYTE>(&docInfo))) {
        return nullptr; // the port is closed by the PortDoc
    }
    doc->started = true;
    if (obj.outcome) {
        obj.outcome->viaMonitor = doc->viaMonitor;
    }
    return doc;
}

} // namespace
} // namespace kqwin

// ---- the spooler's print-time calls ----------------------------------------------------------------

using namespace kqwin;

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
    return OpenPrinterCommon(name ? Utf16ToAnsi(name) : std::string(), handle,
                             defaults ? defaults->pDevMode : nullptr, defaults ? defaults->DesiredAccess : 0);
}

BOOL WINAPI OpenPrinterA(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults) {
    // an 8-bit device mode is not used by the kit
    return OpenPrinterCommon(name ? name : std::string(), handle, nullptr, defaults ? defaults->DesiredAccess : 0);
}

BOOL WINAPI ClosePrinter(HANDLE h) {
    const auto obj = std::static_pointer_cast<PrinterObj>(Handles().Remove(h, ObjType::Printer));
    if (!obj) {
        return FALSE;
    }
    if (obj->kind == PrinterObj::Kind::JobReader && obj->outcome) {
        obj->outcome->passReads.push_back({obj->position, obj->reachedEnd});
    }
    return TRUE;
}

DWORD WINAPI StartDocPrinterW(HANDLE h, DWORD level, LPBYTE docInfo) {
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return 0;
    }
    if (obj->portBound) {
        const FaultDecision fault = CheckFault(control::Op::StartDocPrinter);
        if (fault.fail) {
            SetLastError(fault.error);
            return 0;
        }
    }
    if (obj->kind != PrinterObj::Kind::Printer) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return 0;
    }
    if (!docInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DOC_INFO_1W info;
    std::memcpy(&info, docInfo, sizeof(info));
    SpoolerState& s = Spooler();
    if (obj->portBound) {
        if (obj->portDoc) {
            SetLastError(ERROR_INVALID_PARAMETER); // a document is already open on this handle
            return 0;
        }
        const DWORD jobId = obj->outcome ? obj->outcome->jobId : 0;
        obj->portDoc = OpenPortDoc(*obj, info, jobId);
        if (!obj->portDoc) {
            if (obj->outcome) {
                obj->outcome->portFailed = true;
            }
            if (GetLastError() == 0) {
                SetLastError(ERROR_WRITE_FAULT);
            }
            return 0;
        }
        return jobId ? jobId : 1;
    }
    if (obj->spooling) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto job = std::make_shared<Job>();
    job->printer = obj->printer;
    job->document = WideOrEmpty(info.pDocName);
    job->outputFile = WideOrEmpty(info.pOutputFile);
    job->datatype = info.pDatatype && info.pDatatype[0] ? std::u16string(info.pDatatype) : std::u16string(u"RAW");
    job->devmode = obj->devmode;
    DWORD copies = 1;
    if (obj->devmode && (obj->devmode->dmFields & DM_COPIES) && obj->devmode->dmCopies >= 0) {
        copies = static_cast<DWORD>(obj->devmode->dmCopies);
    }
    job->parameters = Utf8ToUtf16("COPIES=" + std::to_string(copies) + ";");
    {
        std::lock_guard lock(s.mutex);
        job->id = s.nextJobId++;
    }
    obj->spooling = job;
    return job->id;
}

DWORD WINAPI StartDocPrinterA(HANDLE h, DWORD level, LPBYTE docInfo) {
    if (level != 1 || !docInfo) {
        SetLastError(level != 1 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return 0;
    }
    DOC_INFO_1A a;
    std::memcpy(&a, docInfo, sizeof(a));
    std::u16string doc = AnsiToUtf16(AnsiOrEmpty(a.pDocName));
    std::u16string out = AnsiToUtf16(AnsiOrEmpty(a.pOutputFile));
    std::u16string dt = AnsiToUtf16(AnsiOrEmpty(a.pDatatype));
    DOC_INFO_1W w{doc.data(), a.pOutputFile ? out.data() : nullptr, a.pDatatype ? dt.data() : nullptr};
    return StartDocPrinterW(h, 1, reinterpret_cast<LPBYTE>(&w));
}

BOOL WINAPI WritePrinter(HANDLE h, LPVOID buffer, DWORD count, LPDWORD written) {
    if (written) {
        *written = 0;
    }
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (!written || (count && !buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const BYTE*>(buffer);
    if (obj->portBound) {
        const FaultDecision fault = CheckFault(control::Op::WritePrinter);
        control::JobOutcome* outcome = obj->outcome.get();
        if (outcome) {
            outcome->writes++;
            outcome->bytesOffered += count;
        }
        if (!obj->portDoc) {
            SetLastError(ERROR_SPL_NO_STARTDOC);
            Record(bytes, count, 0, FALSE);
            return FALSE;
        }
        if (fault.fail) {
            SetLastError(fault.error);
            Record(bytes, count, 0, FALSE);
            return FALSE;
        }
        const DWORD toPort = fault.shorten ? std::min(fault.keep, count) : count;
        // The port may take a write in parts: the rest is offered again until it is all taken or refused.
        DWORD done = 0;
        BOOL ok = TRUE;
        const PortDoc& doc = *obj->portDoc;
        while (done < toPort) {
            DWORD n = 0;
            SetLastError(0);
            const BOOL r = doc.table->pfnWritePort &&
                           doc.table->pfnWritePort(doc.port, const_cast<BYTE*>(bytes) + done, toPort - done, &n);
            n = std::min(n, toPort - done);
            done += n;
            if (!r || n == 0) { // refused, or stuck taking nothing
                ok = FALSE;
                if (GetLastError() == 0) {
                    SetLastError(ERROR_WRITE_FAULT);
                }
                break;
            }
        }
        if (outcome) {
            outcome->bytesToPort += done;
            outcome->portFailed = outcome->portFailed || !ok || done != count;
        }
        *written = done;
        Record(bytes, count, done, ok);
        return ok;
    }
    if (!obj->spooling) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    obj->spooling->data.insert(obj->spooling->data.end(), bytes, bytes + count);
    *written = count;
    return TRUE;
}

BOOL WINAPI ReadPrinter(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read) {
    if (read) {
        *read = 0;
    }
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (obj->kind != PrinterObj::Kind::JobReader) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const FaultDecision fault = CheckFault(control::Op::ReadPrinter);
    if (!read || (count && !buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    const std::vector<BYTE>& data = *obj->jobBytes;
    size_t n = std::min<size_t>(count, data.size() - obj->position);
    if (fault.shorten) {
        n = std::min<size_t>(n, fault.keep);
    }
    if (n == 1) {
        *static_cast<BYTE*>(buffer) = data[obj->position];
    } else if (n) {
        std::memcpy(buffer, data.data() + obj->position, n);
        // Read-ahead, as a spooler reading its spool file gets it from the file cache: a processor that
        // reads a block of the job usually reads on. Each block read asks for as many bytes a little further
        // on, so that the job streams in ahead of the reads.
        if (n >= kReadAheadAfter) {
            const size_t end = std::min(data.size(), obj->position + n + kReadAhead);
            for (size_t at = (obj->position + kReadAhead) & ~size_t{63}; at < end; at += 64) {
                __builtin_prefetch(data.data() + at);
            }
        }
    }
    obj->position += n;
    obj->reachedEnd = obj->reachedEnd || (n < count && obj->position == data.size());
    *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WINAPI EndDocPrinter(HANDLE h) {
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (obj->portBound) {
        if (!obj->portDoc) {
            SetLastError(ERROR_SPL_NO_STARTDOC);
            return FALSE;
        }
        obj->portDoc.reset();
        return TRUE;
    }
    if (!obj->spooling) {
        SetLastError(ERROR_SPL_NO_STARTDOC);
        return FALSE;
    }
    std::shared_ptr<Job> job = std::move(obj->spooling);
    job->bytes = std::make_shared<const std::vector<BYTE>>(std::move(job->data));
    job->data = {};
    {
        SpoolerState& s = Spooler();
        std::lock_guard lock(s.mutex);
        s.jobs[job->id] = job;
    }
    // The job is despooled at once, on the caller's thread, as a local spooler with an idle port would.
    const std::optional<PrinterRecord> rec = LoadPrinter(job->printer);
    if (rec && !rec->printProcessor.empty()) {
        RunJob(job);
    }
    return TRUE;
}

} // extern "C"

// ---- test control of the spooler ---------------------------------------------------------------------

namespace kqwin::control {

void RecordWrites(bool on) {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.recordMutex);
    s.record = on;
    s.listening.store(s.record || static_cast<bool>(s.observer), std::memory_order_release);
}

std::vector<WriteRecord> Writes() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.recordMutex);
    return s.writes;
}

void ClearWrites() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.recordMutex);
    s.writes.clear();
}

void SetWriteObserver(std::function<void(const BYTE*, DWORD, DWORD)> observer) {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.recordMutex);
    s.observer = std::move(observer);
    s.listening.store(s.record || static_cast<bool>(s.observer), std::memory_order_release);
}

bool AddTestPrinter(const PrinterSetup& setup) {
    if (setup.name.empty() || LoadPrinter(setup.name)) {
        return false;
    }
    PrinterRecord rec;
    rec.name = setup.name;
    rec.port = setup.port;
    rec.driver = setup.driver;
    rec.printProcessor = setup.printProcessor;
    rec.datatype = "RAW";
    rec.attributes = setup.attributes;
    rec.verticalDpi = setup.verticalDpi;
    StorePrinter(rec);
    return true;
}

bool SetPrinterAttributes(const std::string& printer, DWORD attributes) {
    std::optional<PrinterRecord> rec = LoadPrinter(printer);
    if (!rec) {
        return false;
    }
    rec->attributes = attributes;
    StorePrinter(*rec);
    return true;
}

bool SetPrinterResolution(const std::string& printer, int verticalDpi) {
    std::optional<PrinterRecord> rec = LoadPrinter(printer);
    if (!rec) {
        return false;
    }
    rec->verticalDpi = verticalDpi;
    StorePrinter(*rec);
    return true;
}

DWORD SpoolJob(const std::string& printer, const std::vector<BYTE>& data, const std::u16string& documentName) {
    const std::optional<PrinterRecord> rec = LoadPrinter(printer);
    if (!rec) {
        return 0;
    }
    auto job = std::make_shared<Job>();
    job->printer = rec->name;
    job->document = documentName;
    job->datatype = u"RAW";
    job->parameters = u"COPIES=1;";
    job->bytes = std::make_shared<const std::vector<BYTE>>(data);
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    job->id = s.nextJobId++;
    s.jobs[job->id] = job;
    return job->id;
}

std::u16string JobReadName(const std::string& printer, DWORD jobId) {
    return AnsiToUtf16(printer) + u", Job " + Utf8ToUtf16(std::to_string(jobId));
}

DespoolScope::DespoolScope(const std::string& printer, DWORD jobId) : printer_(LowerAscii(printer)) {
    auto outcome = std::make_shared<JobOutcome>();
    outcome->jobId = jobId;
    outcome->processorLoaded = true;
    if (std::shared_ptr<Job> job = FindJob(jobId)) {
        outcome->bytesIn = job->bytes ? job->bytes->size() : 0;
    }
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    s.despooling[printer_] = std::move(outcome);
}

DespoolScope::~DespoolScope() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    auto it = s.despooling.find(printer_);
    if (it != s.despooling.end()) {
        s.last = *it->second;
        s.jobs.erase(it->second->jobId); // printed, as the spooler deletes a job it has run
        s.despooling.erase(it);
    }
}

bool CancelRunningJob() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    for (const auto& [printer, processor] : s.processors) {
        auto it = s.despooling.find(printer);
        if (it != s.despooling.end()) {
            it->second->cancelled = true;
        }
        processor.control(processor.handle, JOB_CONTROL_CANCEL);
    }
    return !s.processors.empty();
}

std::optional<JobOutcome> LastJobOutcome() {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    return s.last;
}

} // namespace kqwin::control
