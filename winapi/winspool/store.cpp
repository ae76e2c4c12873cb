// The print store: printers and drivers as the registry keeps them, the environments and the spooler's
// folders, the registrations of print processors and monitors, the files the spooler keeps loaded, and the
// spooled jobs.
#include "winspool_private.h"

#include <algorithm>

namespace kqwin {
namespace {

std::string EnvironmentsKey() { return std::string(kPrintKey) + "\\Environments"; }

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

void ResetSpooler() {
    ShutdownMonitors();
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    s.jobs.clear();
    s.despooling.clear();
    s.processors.clear();
    s.last.reset();
    s.monitorPorts.clear();
    s.nextJobId = 1;
}

const ResetHook kSpoolerOnReset(&ResetSpooler);

} // namespace

SpoolerState& Spooler() {
    static SpoolerState state;
    return state;
}

HMODULE LoadSpoolerModule(const std::string& windowsPath) {
    if (ModuleArchitecture(windowsPath) != NativeArchitecture()) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    return LoadLibraryA(windowsPath.c_str());
}

HMODULE CachedModule(const std::string& windowsPath) {
    const std::string hostPath = MapPath(windowsPath);
    SpoolerState& s = Spooler();
    {
        std::lock_guard lock(s.mutex);
        auto it = s.modules.find(hostPath);
        if (it != s.modules.end()) {
            return it->second;
        }
    }
    HMODULE module = LoadSpoolerModule(windowsPath);
    if (module) {
        std::lock_guard lock(s.mutex);
        s.modules.emplace(hostPath, module);
    }
    return module;
}

std::shared_ptr<Job> FindJob(DWORD id) {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    auto it = s.jobs.find(id);
    return it == s.jobs.end() ? nullptr : it->second;
}

DWORD JobCount(const std::string& printer) {
    SpoolerState& s = Spooler();
    std::lock_guard lock(s.mutex);
    return static_cast<DWORD>(std::count_if(s.jobs.begin(), s.jobs.end(),
                                            [&](const auto& job) { return EqualsNoCase(job.second->printer, printer); }));
}

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

std::string NativeEnvironment() {
    if (Windows9x()) {
        return "Windows 4.0";
    }
    return NativeArchitecture() == PROCESSOR_ARCHITECTURE_AMD64 ? "Windows x64" : "Windows NT x86";
}

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
        std::optional<MonitorTables> loaded;
        {
            std::lock_guard lock(s.mutex);
            auto it = s.monitors.find(LowerAscii(name));
            if (it != s.monitors.end()) {
                loaded = it->second;
                s.monitors.erase(it);
            }
        }
        if (loaded) {
            ShutdownMonitor(*loaded);
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

} // namespace kqwin

namespace kqwin::control {

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

} // namespace kqwin::control
