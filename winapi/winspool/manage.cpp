// The simulated print spooler's management calls: printer records, drivers, monitors, print processors
// and ports, kept in the registry as a local spooler keeps them.
#include "winspool_private.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kqwin {
namespace {

// No environment means the machine's own.
std::string Environment(LPSTR env) { return env && *env ? std::string(env) : NativeEnvironment(); }

std::string EnvKey(const std::string& env) { return std::string(kPrintKey) + "\\Environments\\" + env; }

bool IsLocal(LPSTR server) { return !server || !*server; }

// Lays out a spooler answer: fixed records at the front of the caller's buffer, their strings packed at its
// end, growing downwards. The first pass only counts.
class Packer {
  public:
    Packer(LPBYTE buffer, size_t size) : base_(buffer), size_(size), back_(size) {}
    void Reserve(size_t fixedBytes) { front_ += fixedBytes; }
    template <class C> C* Put(const std::basic_string<C>& s, bool nullIfEmpty = false) {
        if (nullIfEmpty && s.empty()) {
            return nullptr;
        }
        const size_t bytes = (s.size() + 1) * sizeof(C);
        needed_ += bytes + (alignof(C) - 1);
        if (!base_ || back_ < bytes + front_) {
            fits_ = false;
            return nullptr;
        }
        back_ -= bytes;
        back_ &= ~(alignof(C) - 1);
        if (back_ < front_) {
            fits_ = false;
            return nullptr;
        }
        std::memcpy(base_ + back_, s.c_str(), bytes);
        return reinterpret_cast<C*>(base_ + back_);
    }
    size_t Needed() const { return front_ + needed_; }
    bool Fits() const { return fits_ && base_ && Needed() <= size_; }
    LPBYTE At(size_t offset) const { return base_ + offset; }

  private:
    LPBYTE base_;
    size_t size_;
    size_t front_ = 0;
    size_t back_;
    size_t needed_ = 0;
    bool fits_ = true;
};

template <class Info, class Str> void FillInfo2(Packer& p, Info* info, const PrinterRecord& r, Str conv) {
    std::memset(info, 0, sizeof(*info));
    info->pServerName = nullptr;
    info->pPrinterName = p.Put(conv(r.name));
    info->pShareName = p.Put(conv(r.share));
    info->pPortName = p.Put(conv(r.port));
    info->pDriverName = p.Put(conv(r.driver));
    info->pComment = p.Put(conv(r.comment));
    info->pLocation = p.Put(conv(r.location));
    info->pDevMode = nullptr;
    info->pSepFile = p.Put(conv(r.sepFile));
    info->pPrintProcessor = p.Put(conv(r.printProcessor));
    info->pDatatype = p.Put(conv(r.datatype));
    info->pParameters = p.Put(conv(r.parameters));
    info->pSecurityDescriptor = nullptr;
    info->Attributes = r.attributes;
    info->Priority = r.priority;
    info->DefaultPriority = r.defaultPriority;
    info->StartTime = r.startTime;
    info->UntilTime = r.untilTime;
    info->Status = 0;
    info->cJobs = JobCount(r.name);
    info->AveragePPM = 0;
}

std::string AsAnsi(const std::string& s) { return s; }
std::u16string AsWide(const std::string& s) { return AnsiToUtf16(s); }

// Writes printer records of one level for GetPrinter and EnumPrinters; false for an unknown level.
template <bool Wide>
bool PackPrinters(const std::vector<PrinterRecord>& printers, DWORD level, Packer& p) {
    if (level == 1 && !Wide) {
        // as the local spooler describes a printer: "name,driver,location"
        p.Reserve(sizeof(PRINTER_INFO_1A) * printers.size());
        for (size_t i = 0; i < printers.size(); ++i) {
            const PrinterRecord& r = printers[i];
            PRINTER_INFO_1A info{};
            info.Flags = PRINTER_ENUM_ICON8;
            info.pDescription = p.Put(r.name + "," + r.driver + "," + r.location);
            info.pName = p.Put(r.name);
            info.pComment = p.Put(r.comment);
            if (p.Fits()) {
                std::memcpy(p.At(i * sizeof(info)), &info, sizeof(info));
            }
        }
        return true;
    }
    if (level == 2) {
        using Info = std::conditional_t<Wide, PRINTER_INFO_2W, PRINTER_INFO_2A>;
        p.Reserve(sizeof(Info) * printers.size());
        for (size_t i = 0; i < printers.size(); ++i) {
            Info info;
            if constexpr (Wide) {
                FillInfo2(p, &info, printers[i], AsWide);
            } else {
                FillInfo2(p, &info, printers[i], AsAnsi);
            }
            if (p.Fits()) {
                std::memcpy(p.At(i * sizeof(Info)), &info, sizeof(Info));
            }
        }
        return true;
    }
    if (level == 4 && !Wide) {
        p.Reserve(sizeof(PRINTER_INFO_4A) * printers.size());
        for (size_t i = 0; i < printers.size(); ++i) {
            PRINTER_INFO_4A info{};
            info.pPrinterName = p.Put(printers[i].name);
            info.Attributes = printers[i].attributes | PRINTER_ATTRIBUTE_LOCAL;
            if (p.Fits()) {
                std::memcpy(p.At(i * sizeof(info)), &info, sizeof(info));
            }
        }
        return true;
    }
    return false;
}

template <bool Wide> BOOL GetPrinterCommon(HANDLE h, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    const FaultDecision fault = CheckFault(control::Op::GetPrinter);
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (obj->kind != PrinterObj::Kind::Printer) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    const std::optional<PrinterRecord> rec = LoadPrinter(obj->printer);
    if (!rec) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    Packer p(buffer, buffer ? size : 0);
    if (!PackPrinters<Wide>({*rec}, level, p)) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    *needed = static_cast<DWORD>(p.Needed());
    if (!p.Fits()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

std::vector<PrinterRecord> AllPrinters() {
    std::vector<PrinterRecord> out;
    for (const std::string& name : Hive().SubKeys(std::string(kPrintKey) + "\\Printers")) {
        if (auto rec = LoadPrinter(name)) {
            out.push_back(*rec);
        }
    }
    return out;
}

bool PortKnown(const std::string& port) {
    const std::vector<std::string> names = LocalPortNames();
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return EqualsNoCase(n, port); }) ||
           Hive().GetValue(PortTargetKey(), port, nullptr);
}

std::string Field(LPSTR s) { return s ? std::string(s) : std::string(); }

std::string FilePart(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the access granted at the open allows (the stand-in's user is an administrator: every request is
// granted, but a handle does only what was asked for).
constexpr ACCESS_MASK kDeleteAccess = 0x00010000;  // DELETE
constexpr ACCESS_MASK kGenericAll = 0x10000000;    // GENERIC_ALL
bool MayAdminister(const PrinterObj& p) { return (p.access & (PRINTER_ACCESS_ADMINISTER | kGenericAll)) != 0; }
bool MayDelete(const PrinterObj& p) { return (p.access & (kDeleteAccess | kGenericAll)) != 0; }

// The spooler takes a new driver's files from the driver directory, where its installer put them, into the
// folder of the driver's version.
void MoveDriverFiles(const std::string& environment, DWORD version, const std::vector<std::string>& files) {
    const std::string dir = PrinterDriverDirectory(environment);
    const std::string target = dir + "\\" + std::to_string(version);
    for (const std::string& file : files) {
        const std::string from = MapPath(dir + "\\" + file);
        struct stat st{};
        if (file.empty() || stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        MakeDirs(MapPath(target));
        std::rename(from.c_str(), MapPath(target + "\\" + file).c_str());
    }
}

// Every call below that the installer makes can be broken by test control.
bool Broken(control::Op op) {
    const FaultDecision fault = CheckFault(op);
    if (fault.fail) {
        SetLastError(fault.error);
    }
    return fault.fail;
}

// The answer of GetPrintProcessorDirectoryA and GetPrinterDriverDirectoryA.
BOOL DirectoryAnswer(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                     std::string (*directory)(const std::string&)) {
    if (!IsLocal(server)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string env = Environment(environment);
    if (!KnownEnvironment(env)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    const std::string dir = directory(env);
    *needed = static_cast<DWORD>(dir.size() + 1);
    if (!buffer || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return TRUE;
}

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

BOOL WINAPI GetPrinterW(HANDLE h, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetPrinterCommon<true>(h, level, buffer, size, needed);
}

BOOL WINAPI GetPrinterA(HANDLE h, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetPrinterCommon<false>(h, level, buffer, size, needed);
}

BOOL WINAPI SetPrinterA(HANDLE h, DWORD level, LPBYTE info, DWORD command) {
    if (Broken(control::Op::SetPrinter)) {
        return FALSE;
    }
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    std::optional<PrinterRecord> rec = LoadPrinter(obj->printer);
    if (!rec || obj->kind != PrinterObj::Kind::Printer) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!MayAdminister(*obj)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (level == 0) {
        return TRUE; // pause, resume and purge have nothing to act on here
    }
    if (level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!info || command != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PRINTER_INFO_2A in;
    std::memcpy(&in, info, sizeof(in));
    const std::string port = Field(in.pPortName);
    const std::string driver = Field(in.pDriverName);
    const std::string processor = Field(in.pPrintProcessor);
    std::string file;
    std::string env;
    if (!port.empty() && !PortKnown(port)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    if (!driver.empty() && !LoadDriver(driver)) {
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return FALSE;
    }
    if (!processor.empty() && !FindPrintProcessor(processor, &file, &env)) {
        SetLastError(ERROR_UNKNOWN_PRINTPROCESSOR);
        return FALSE;
    }
    rec->share = Field(in.pShareName);
    rec->port = port.empty() ? rec->port : port;
    rec->driver = driver.empty() ? rec->driver : driver;
    rec->comment = Field(in.pComment);
    rec->location = Field(in.pLocation);
    rec->sepFile = Field(in.pSepFile);
    rec->printProcessor = processor.empty() ? rec->printProcessor : processor;
    rec->datatype = in.pDatatype ? Field(in.pDatatype) : rec->datatype;
    rec->parameters = Field(in.pParameters);
    rec->attributes = in.Attributes;
    rec->priority = in.Priority;
    rec->defaultPriority = in.DefaultPriority;
    rec->startTime = in.StartTime;
    rec->untilTime = in.UntilTime;
    StorePrinter(*rec);
    return TRUE;
}

BOOL WINAPI EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                          LPDWORD returned) {
    const FaultDecision fault = CheckFault(control::Op::EnumPrinters);
    if (!needed || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    std::vector<PrinterRecord> printers;
    if ((flags & PRINTER_ENUM_LOCAL) && IsLocal(name)) {
        printers = AllPrinters();
    }
    Packer p(buffer, buffer ? size : 0);
    if (!PackPrinters<false>(printers, level, p)) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    *needed = static_cast<DWORD>(p.Needed());
    if (!printers.empty() && !p.Fits()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *returned = static_cast<DWORD>(printers.size());
    return TRUE;
}

BOOL WINAPI EnumPortsA(LPSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    const FaultDecision fault = CheckFault(control::Op::EnumPorts);
    if (!needed || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    if (!IsLocal(server)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::vector<std::string> ports = LocalPortNames();
    Packer p(buffer, buffer ? size : 0);
    const size_t entry = level == 1 ? sizeof(PORT_INFO_1A) : sizeof(PORT_INFO_2A);
    p.Reserve(entry * ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        if (level == 1) {
            PORT_INFO_1A info{p.Put(ports[i])};
            if (p.Fits()) {
                std::memcpy(p.At(i * entry), &info, entry);
            }
        } else {
            PORT_INFO_2A info{};
            info.pPortName = p.Put(ports[i]);
            info.pMonitorName = p.Put(std::string("Local Port"));
            info.pDescription = p.Put(std::string("Local Port"));
            info.fPortType = 0x3; // write and read
            if (p.Fits()) {
                std::memcpy(p.At(i * entry), &info, entry);
            }
        }
    }
    *needed = static_cast<DWORD>(p.Needed());
    if (!p.Fits()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *returned = static_cast<DWORD>(ports.size());
    return TRUE;
}

BOOL WINAPI AddPrinterDriverA(LPSTR server, DWORD level, LPBYTE info) {
    if (Broken(control::Op::AddPrinterDriver)) {
        return FALSE;
    }
    if (!IsLocal(server)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (level != 3 || !info) {
        SetLastError(level != 3 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DRIVER_INFO_3A d;
    std::memcpy(&d, info, sizeof(d));
    if (!d.pName || !*d.pName || !d.pDriverPath || !*d.pDriverPath || !d.pDataFile || !*d.pDataFile ||
        !d.pConfigFile || !*d.pConfigFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string env = Environment(d.pEnvironment);
    if (!KnownEnvironment(env)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    // Windows keeps a driver per environment and version, and only the names of its files; adding a driver
    // that is there already replaces it.
    const DWORD version = DriverVersion(env, d.cVersion);
    std::vector<std::string> files = {FilePart(d.pDriverPath), FilePart(d.pDataFile), FilePart(d.pConfigFile),
                                      FilePart(Field(d.pHelpFile))};
    std::vector<BYTE> deps;
    for (const char* p = d.pDependentFiles; p && *p; p += std::strlen(p) + 1) {
        const std::string file = FilePart(p);
        files.push_back(file);
        deps.insert(deps.end(), file.begin(), file.end());
        deps.push_back(0);
    }
    deps.push_back(0);
    const std::string key = DriverKey(env, version, d.pName);
    Registry& r = Hive();
    r.DeleteTree(key);
    r.CreateKey(key, nullptr);
    r.SetString(key, "Driver", files[0]);
    r.SetString(key, "Data File", files[1]);
    r.SetString(key, "Configuration File", files[2]);
    r.SetString(key, "Help File", files[3]);
    r.SetValue(key, "Dependent Files", REG_MULTI_SZ, deps.data(), deps.size());
    r.SetString(key, "Monitor", Field(d.pMonitorName));
    r.SetString(key, "Datatype", Field(d.pDefaultDataType));
    r.SetDword(key, "Version", version);
    if (!Windows9x()) {
        MoveDriverFiles(env, version, files);
    }
    return TRUE;
}

BOOL WINAPI AddMonitorA(LPSTR server, DWORD level, LPBYTE info) {
    if (Broken(control::Op::AddMonitor)) {
        return FALSE;
    }
    if (!IsLocal(server)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (level != 2 || !info) {
        SetLastError(level != 2 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MONITOR_INFO_2A m;
    std::memcpy(&m, info, sizeof(m));
    if (!m.pName || !*m.pName || !m.pDLLName || !*m.pDLLName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string key = std::string(kPrintKey) + "\\Monitors\\" + m.pName;
    // a key without a library is settings written ahead of the monitor, not a monitor
    if (!Hive().GetString(key, "Driver").empty()) {
        SetLastError(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
        return FALSE;
    }
    // The spooler loads and initialises a monitor when it is added, keeps it until it is deleted, and refuses
    // one that it cannot start.
    const std::string file = SystemDirectory() + "\\" + m.pDLLName;
    if (!CachedModule(file)) {
        SetLastError(GetLastError() == ERROR_BAD_EXE_FORMAT ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    const bool settingsBefore = Hive().KeyExists(key);
    Hive().CreateKey(key, nullptr);
    Hive().SetString(key, "Driver", m.pDLLName);
    std::string error;
    if (!InitializedMonitor(m.pName, &error)) {
        if (settingsBefore) {
            Hive().DeleteValue(key, "Driver");
        } else {
            Hive().DeleteTree(key);
        }
        UnloadSpoolerFile(MapPath(file));
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeleteMonitorA(LPSTR server, LPSTR, LPSTR name) {
    if (Broken(control::Op::DeleteMonitor)) {
        return FALSE;
    }
    if (!IsLocal(server) || !name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string key = std::string(kPrintKey) + "\\Monitors\\" + name;
    if (!Hive().KeyExists(key)) {
        SetLastError(ERROR_UNKNOWN_PRINT_MONITOR);
        return FALSE;
    }
    // Only a port open through the monitor keeps it; drivers that name it do not.
    if (MonitorInUse(name)) {
        SetLastError(ERROR_PRINT_MONITOR_IN_USE);
        return FALSE;
    }
    UnloadMonitor(name);
    Hive().DeleteTree(key);
    return TRUE;
}

BOOL WINAPI AddPrintProcessorA(LPSTR server, LPSTR environment, LPSTR path, LPSTR name) {
    if (Broken(control::Op::AddPrintProcessor)) {
        return FALSE;
    }
    if (!IsLocal(server)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (!path || !*path || !name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string env = Environment(environment);
    if (!KnownEnvironment(env)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    // any other processor added again is registered anew; the system's own is never replaced
    if (EqualsNoCase(name, "winprint")) {
        SetLastError(ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED);
        return FALSE;
    }
    if (GetFileAttributesA((PrintProcessorDirectory(env) + "\\" + path).c_str()) == INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    const std::string key = EnvKey(env) + "\\Print Processors\\" + name;
    Hive().CreateKey(key, nullptr);
    Hive().SetString(key, "Driver", path);
    return TRUE;
}

BOOL WINAPI DeletePrintProcessorA(LPSTR server, LPSTR environment, LPSTR name) {
    if (Broken(control::Op::DeletePrintProcessor)) {
        return FALSE;
    }
    if (!IsLocal(server) || !name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string env = Environment(environment);
    if (!KnownEnvironment(env)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    const std::string key = EnvKey(env) + "\\Print Processors\\" + name;
    if (!Hive().KeyExists(key)) {
        SetLastError(ERROR_UNKNOWN_PRINTPROCESSOR);
        return FALSE;
    }
    const std::vector<PrinterRecord> printers = AllPrinters();
    if (std::any_of(printers.begin(), printers.end(),
                    [&](const PrinterRecord& p) { return EqualsNoCase(p.printProcessor, name); })) {
        SetLastError(ERROR_CAN_NOT_COMPLETE); // a printer still uses it
        return FALSE;
    }
    UnloadSpoolerFile(MapPath(PrintProcessorDirectory(env) + "\\" + Hive().GetString(key, "Driver")));
    Hive().DeleteTree(key);
    return TRUE;
}

BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                       LPDWORD needed) {
    return DirectoryAnswer(server, environment, level, buffer, size, needed, PrinterDriverDirectory);
}

BOOL WINAPI GetPrintProcessorDirectoryA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                        LPDWORD needed) {
    if (Broken(control::Op::GetPrintProcessorDirectory)) {
        return FALSE;
    }
    return DirectoryAnswer(server, environment, level, buffer, size, needed, PrintProcessorDirectory);
}

HANDLE WINAPI AddPrinterA(LPSTR server, DWORD level, LPBYTE info) {
    if (Broken(control::Op::AddPrinter)) {
        return nullptr;
    }
    if (!IsLocal(server)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    if (level != 2 || !info) {
        SetLastError(level != 2 ? ERROR_INVALID_LEVEL : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PRINTER_INFO_2A in;
    std::memcpy(&in, info, sizeof(in));
    const std::string name = Field(in.pPrinterName);
    if (name.empty() || name.find('\\') != std::string::npos || name.find(',') != std::string::npos ||
        !in.pPortName || !in.pDriverName || !in.pPrintProcessor) {
        SetLastError(name.empty() || !in.pPortName || !in.pDriverName || !in.pPrintProcessor
                         ? ERROR_INVALID_PARAMETER
                         : ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    if (LoadPrinter(name)) {
        SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
        return nullptr;
    }
    std::string file;
    std::string env;
    if (!PortKnown(in.pPortName)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return nullptr;
    }
    if (!LoadDriver(in.pDriverName)) {
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return nullptr;
    }
    if (!FindPrintProcessor(in.pPrintProcessor, &file, &env)) {
        SetLastError(ERROR_UNKNOWN_PRINTPROCESSOR);
        return nullptr;
    }
    PrinterRecord rec;
    rec.name = name;
    rec.share = Field(in.pShareName);
    rec.port = in.pPortName;
    rec.driver = in.pDriverName;
    rec.comment = Field(in.pComment);
    rec.location = Field(in.pLocation);
    rec.sepFile = Field(in.pSepFile);
    rec.printProcessor = in.pPrintProcessor;
    rec.datatype = in.pDatatype ? in.pDatatype : "RAW";
    rec.parameters = Field(in.pParameters);
    rec.attributes = in.Attributes;
    rec.priority = in.Priority;
    rec.defaultPriority = in.DefaultPriority;
    rec.startTime = in.StartTime;
    rec.untilTime = in.UntilTime;
    StorePrinter(rec);
    // the handle of the printer's creator may do everything with it
    HANDLE h = nullptr;
    std::string openName = name;
    PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(openName.data(), &h, &all)) {
        return nullptr;
    }
    return h;
}

BOOL WINAPI DeletePrinter(HANDLE h) {
    if (Broken(control::Op::DeletePrinter)) {
        return FALSE;
    }
    auto obj = GetObject<PrinterObj>(h, ObjType::Printer);
    if (!obj) {
        return FALSE;
    }
    if (obj->kind != PrinterObj::Kind::Printer || !LoadPrinter(obj->printer)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!MayDelete(*obj)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    Hive().DeleteTree(PrinterKey(obj->printer));
    return TRUE;
}

} // extern "C"
