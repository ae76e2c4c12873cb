// "PrintUIEntry /if": the printer class installer of Windows 2000/XP, installing a printer from an INF. It
// reads the INF with setupapi's calls, finds the model, copies the files of its install section, registers
// the language monitor, the print processor and the driver through the spooler's calls, and adds the printer.
#include "printui_private.h"

#include <setupapi.h>

#include <algorithm>
#include <cstdlib>

namespace kqwin {
namespace {

constexpr char kPrinterClassGuid[] = "{4D36E979-E325-11CE-BFC1-08002BE10318}";
// What the class installer gives a new local printer: spooled, completed documents first; the spooler's
// local flag; and bidirectional mode when the driver has a language monitor.
constexpr DWORD kLocalPrinterAttributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;

// The spooler's environment of the machine's own drivers.
std::string NativeEnvironment() {
    return NativeArchitecture() == PROCESSOR_ARCHITECTURE_AMD64 ? "Windows x64" : "Windows NT x86";
}

struct Request {
    std::string printer; // /b
    std::string inf;     // /f
    std::string port;    // /r
    std::string model;   // /m
    std::string environment = NativeEnvironment(); // /h
};

// The driver architectures of /h, as the spooler's environments.
bool EnvironmentOf(const std::string& architecture, std::string* environment) {
    struct Name {
        const char* architecture;
        const char* environment;
    };
    for (const Name& n : {Name{"x86", "Windows NT x86"}, Name{"Intel", "Windows NT x86"},
                          Name{"x64", "Windows x64"}, Name{"Itanium", "Windows IA64"}}) {
        if (EqualsNoCase(architecture, n.architecture)) {
            *environment = n.environment;
            return true;
        }
    }
    return false;
}

// The driver versions of /v that name a Windows 2000 and later (version 3, user-mode) driver.
bool IsVersion3(const std::string& version) {
    for (const char* v3 : {"Windows 2000 or XP", "Windows XP", "Windows 2000", "Type 3 - User Mode"}) {
        if (EqualsNoCase(version, v3)) {
            return true;
        }
    }
    return false;
}

// The command-line rules of the C runtime: blanks separate arguments, quotes group, 2n backslashes before a
// quote are n backslashes and a quote that groups, 2n+1 are n and a literal quote, "" inside quotes is a quote.
std::vector<std::string> SplitArguments(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i == line.size()) {
            break;
        }
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !(line[i] == ' ' || line[i] == '\t'))) {
            if (line[i] == '\\') {
                size_t n = 0;
                while (i < line.size() && line[i] == '\\') {
                    ++n;
                    ++i;
                }
                if (i < line.size() && line[i] == '"') {
                    arg.append(n / 2, '\\');
                    if (n % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(n, '\\');
                }
            } else if (line[i] == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

// The options of "/if"; printui's options are case-sensitive and a value may follow its option or be
// joined to it ("/bName").
DWORD ParseRequest(const std::vector<std::string>& args, Request* r) {
    bool install = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "/if") {
            install = true;
            continue;
        }
        if (a == "/w" || a == "/q" || a == "/u" || a == "/z" || a == "/Z" || a == "/y" || a == "/Y") {
            continue; // prompts, messages, sharing and the default printer: nothing to act on here
        }
        std::string* target = nullptr;
        std::string version;
        std::string architecture;
        if (a.size() >= 2 && a[0] == '/') {
            switch (a[1]) {
            case 'b': target = &r->printer; break;
            case 'f': target = &r->inf; break;
            case 'r': target = &r->port; break;
            case 'm': target = &r->model; break;
            case 'v': target = &version; break;
            case 'h': target = &architecture; break;
            default: break;
            }
        }
        if (!target) {
            return ERROR_INVALID_PARAMETER;
        }
        if (a.size() > 2) {
            *target = a.substr(2);
        } else if (i + 1 < args.size()) {
            *target = args[++i];
        } else {
            return ERROR_INVALID_PARAMETER;
        }
        if (target == &version && !IsVersion3(version)) {
            return ERROR_INVALID_PARAMETER;
        }
        if (target == &architecture && !EnvironmentOf(architecture, &r->environment)) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    if (!install || r->inf.empty() || r->port.empty() || r->model.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    if (r->printer.empty()) {
        r->printer = r->model;
    }
    // the printer made here needs a driver that this machine's spooler runs
    if (!EqualsNoCase(r->environment, NativeEnvironment())) {
        return ERROR_INVALID_ENVIRONMENT;
    }
    return 0;
}

// How well a [Manufacturer] decoration ("NTx86", "NTamd64.6.0", "NT.5.1", ...) fits this machine: 0 not at
// all. Windows 2000 reads no decoration; 64-bit Windows reads only its own platform's.
int DecorationFit(const std::string& decoration) {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    GetVersionExA(&v);
    if (v.dwMajorVersion < 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion < 1)) {
        return 0;
    }
    const std::string d = LowerAscii(decoration);
    const std::string own = "nt" + std::string(InfPlatform());
    int fit = 1;
    std::string rest;
    if (d.compare(0, own.size(), own) == 0) {
        fit = 3;
        rest = d.substr(own.size());
    } else if (d.compare(0, 2, "nt") == 0 && (d.size() == 2 || d[2] == '.') &&
               NativeArchitecture() != PROCESSOR_ARCHITECTURE_AMD64) {
        rest = d.substr(2);
    } else {
        return 0;
    }
    if (rest.empty()) {
        return fit;
    }
    if (rest[0] != '.') {
        return 0; // another platform whose name begins with this one's
    }
    // ".major[.minor...]": no newer than the running system
    const DWORD major = static_cast<DWORD>(std::strtoul(rest.c_str() + 1, nullptr, 10));
    const size_t dot = rest.find('.', 1);
    const DWORD minor =
        dot == std::string::npos ? 0 : static_cast<DWORD>(std::strtoul(rest.c_str() + dot + 1, nullptr, 10));
    if (major > v.dwMajorVersion || (major == v.dwMajorVersion && minor > v.dwMinorVersion)) {
        return 0;
    }
    return fit + 1;
}

// An open INF, closed with its scope.
class OpenInf {
  public:
    explicit OpenInf(const std::string& path) : h_(SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr)) {}
    ~OpenInf() {
        if (*this) {
            SetupCloseInfFile(h_);
        }
    }
    OpenInf(const OpenInf&) = delete;
    OpenInf& operator=(const OpenInf&) = delete;
    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
    HINF get() const { return h_; }

  private:
    HINF h_;
};

std::string Field(INFCONTEXT& line, DWORD index) {
    DWORD needed = 0;
    if (!SetupGetStringFieldA(&line, index, nullptr, 0, &needed) || needed == 0) {
        return {};
    }
    std::string text(needed, '\0');
    if (!SetupGetStringFieldA(&line, index, text.data(), needed, nullptr)) {
        return {};
    }
    text.resize(needed - 1);
    return text;
}

// A line's values (its fields after the key).
std::vector<std::string> Fields(INFCONTEXT& line) {
    std::vector<std::string> fields;
    for (DWORD i = 1, n = SetupGetFieldCount(&line); i <= n; ++i) {
        fields.push_back(Field(line, i));
    }
    return fields;
}

bool HasSection(HINF inf, const std::string& section) { return SetupGetLineCountA(inf, section.c_str()) >= 0; }

// The values of every line of `section` whose key is `key`, in order.
std::vector<std::string> Values(HINF inf, const std::string& section, const char* key) {
    std::vector<std::string> values;
    INFCONTEXT line;
    for (bool found = SetupFindFirstLineA(inf, section.c_str(), key, &line); found;
         found = SetupFindNextMatchLineA(&line, key, &line)) {
        const std::vector<std::string> fields = Fields(line);
        values.insert(values.end(), fields.begin(), fields.end());
    }
    return values;
}

// The install section of `model`, from the models sections of [Manufacturer]: for each manufacturer its best
// fitting decorated models section, or the undecorated one when no decoration fits (on 64-bit Windows a
// models section must be decorated for its platform).
bool FindModel(HINF inf, const std::string& model, std::string* section) {
    INFCONTEXT maker;
    for (bool more = SetupFindFirstLineA(inf, "Manufacturer", nullptr, &maker); more;
         more = SetupFindNextLine(&maker, &maker)) {
        const std::vector<std::string> fields = Fields(maker);
        if (fields.empty()) {
            continue;
        }
        const std::string& models = fields[0];
        std::string best = models;
        int bestFit = 0;
        for (size_t i = 1; i < fields.size(); ++i) {
            const int fit = DecorationFit(fields[i]);
            if (fit > bestFit && HasSection(inf, models + "." + fields[i])) {
                best = models + "." + fields[i];
                bestFit = fit;
            }
        }
        if (bestFit == 0 && NativeArchitecture() == PROCESSOR_ARCHITECTURE_AMD64) {
            continue;
        }
        INFCONTEXT line;
        for (bool found = SetupFindFirstLineA(inf, best.c_str(), model.c_str(), &line); found;
             found = SetupFindNextMatchLineA(&line, model.c_str(), &line)) {
            if (std::string install = Field(line, 1); !install.empty()) {
                *section = install;
                return true;
            }
        }
    }
    return false;
}

// "Name,DLL" of LanguageMonitor= and PrintProcessor=, whether the INF quoted it or not.
bool NameAndFile(const std::vector<std::string>& fields, std::string* name, std::string* file) {
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) {
        joined += (i ? "," : "") + fields[i];
    }
    const size_t comma = joined.find(',');
    if (comma == std::string::npos) {
        return false;
    }
    *name = joined.substr(0, comma);
    *file = joined.substr(comma + 1);
    return !name->empty() && !file->empty();
}

// The failing call's error; a failure always has a nonzero one.
DWORD Failure() { return GetLastError() ? GetLastError() : static_cast<DWORD>(ERROR_GEN_FAILURE); }

// A folder of the spooler, as the spooler's own call gives it (GetPrinterDriverDirectoryA and the like).
using SpoolerDirectoryCall = BOOL(WINAPI*)(LPSTR, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD);
bool SpoolerDirectory(SpoolerDirectoryCall call, const std::string& environment, std::string* directory) {
    std::string env = environment;
    char buffer[MAX_PATH] = {};
    DWORD needed = 0;
    if (!call(nullptr, env.data(), 1, reinterpret_cast<LPBYTE>(buffer), sizeof(buffer), &needed)) {
        return false;
    }
    *directory = buffer;
    return true;
}

// Each file an install section puts in place, by its target path.
UINT CALLBACK NotePlacedFile(PVOID context, UINT notification, UINT_PTR paths, UINT_PTR) {
    if (notification == SPFILENOTIFY_ENDCOPY) {
        static_cast<std::vector<std::string>*>(context)->push_back(reinterpret_cast<const FILEPATHS_A*>(paths)->Target);
    }
    return FILEOP_DOIT;
}

DWORD PrintUiInstall(const std::vector<std::string>& args) {
    Request req;
    if (const DWORD error = ParseRequest(args, &req)) {
        return error;
    }
    const OpenInf inf(req.inf);
    if (!inf) {
        return Failure();
    }
    // the folders the INF's files go to, as the spooler and the system name them
    std::string driverDirectory;
    std::string processorDirectory;
    if (!SpoolerDirectory(GetPrinterDriverDirectoryA, req.environment, &driverDirectory) ||
        !SpoolerDirectory(GetPrintProcessorDirectoryA, req.environment, &processorDirectory)) {
        return Failure();
    }
    SetupSetDirectoryIdA(inf.get(), DIRID_PRINTER, driverDirectory.c_str());
    SetupSetDirectoryIdA(inf.get(), DIRID_PRINTPROCESSOR, processorDirectory.c_str());
    SetupSetDirectoryIdA(inf.get(), DIRID_PRINTERSYSTEM, SystemDirectory().c_str());

    // Only a printer INF has printer models; /w cannot ask for another INF here.
    const std::vector<std::string> classes = Values(inf.get(), "Version", "Class");
    const std::vector<std::string> guids = Values(inf.get(), "Version", "ClassGUID");
    const bool printerClass = (!classes.empty() && EqualsNoCase(classes[0], "Printer")) ||
                              (!guids.empty() && EqualsNoCase(guids[0], kPrinterClassGuid));
    std::string modelSection;
    if (!printerClass || !FindModel(inf.get(), req.model, &modelSection)) {
        return ERROR_UNKNOWN_PRINTER_DRIVER;
    }
    std::string section;
    for (const std::string& candidate :
         {modelSection + ".NT" + InfPlatform(), modelSection + ".NT", modelSection}) {
        if (HasSection(inf.get(), candidate)) {
            section = candidate;
            break;
        }
    }
    if (section.empty()) {
        return ERROR_SECTION_NOT_FOUND;
    }

    // The INFs the section includes (the system's, from its INF folder), then the driver's entries: the
    // section's own, then those of its data sections.
    for (const std::string& name : Values(inf.get(), section, "Include")) {
        if (!name.empty() && !SetupOpenAppendInfFileA(name.c_str(), inf.get(), nullptr)) {
            return Failure();
        }
    }
    auto entry = [&](const char* key) {
        std::vector<std::string> v = Values(inf.get(), section, key);
        for (const std::string& data : Values(inf.get(), section, "DataSection")) {
            if (v.empty() && !data.empty()) {
                v = Values(inf.get(), data, key);
            }
        }
        return v;
    };
    for (const std::string& data : Values(inf.get(), section, "DataSection")) {
        if (!data.empty() && !HasSection(inf.get(), data)) {
            return ERROR_SECTION_NOT_FOUND;
        }
    }
    // The sections it needs (their own Include and Needs are not followed), then its own files.
    std::vector<std::string> placed;
    for (const std::string& needed : Values(inf.get(), section, "Needs")) {
        if (needed.empty()) {
            continue;
        }
        if (!HasSection(inf.get(), needed)) {
            return ERROR_SECTION_NOT_FOUND;
        }
        if (!SetupInstallFromInfSectionA(nullptr, inf.get(), needed.c_str(), SPINST_FILES | SPINST_REGISTRY, nullptr,
                                         nullptr, 0, NotePlacedFile, &placed, nullptr, nullptr)) {
            return Failure();
        }
    }
    if (!SetupInstallFromInfSectionA(nullptr, inf.get(), section.c_str(), SPINST_FILES, nullptr, nullptr, 0,
                                     NotePlacedFile, &placed, nullptr, nullptr)) {
        return Failure();
    }

    std::string name;
    std::string dll;
    if (NameAndFile(entry("LanguageMonitor"), &name, &dll)) {
        std::string env = req.environment;
        MONITOR_INFO_2A monitor{name.data(), env.data(), dll.data()};
        if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)) &&
            GetLastError() != ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            return Failure();
        }
    }
    const std::string monitorName = name;
    std::string processor = "winprint";
    if (NameAndFile(entry("PrintProcessor"), &name, &dll)) {
        std::string env = req.environment;
        if (!AddPrintProcessorA(nullptr, env.data(), dll.data(), name.data()) &&
            GetLastError() != ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED) {
            return Failure();
        }
        processor = name;
    }

    auto first = [](const std::vector<std::string>& v) { return v.empty() ? std::string() : v[0]; };
    const std::string driverFile = first(entry("DriverFile"));
    const std::string configFile = first(entry("ConfigFile"));
    const std::string helpFile = first(entry("HelpFile"));
    const std::string dataFile = first(entry("DataFile")).empty() ? modelSection : first(entry("DataFile"));
    const std::vector<std::string> mainFiles = {driverFile, dataFile, configFile, helpFile};
    std::vector<std::string> dependents;
    for (const std::string& target : placed) {
        const std::string name = target.substr(target.find_last_of('\\') + 1);
        const auto same = [&](const std::string& n) { return EqualsNoCase(n, name); };
        if (EqualsNoCase(FolderOf(target), driverDirectory) && std::none_of(mainFiles.begin(), mainFiles.end(), same) &&
            std::none_of(dependents.begin(), dependents.end(), same)) {
            dependents.push_back(name);
        }
    }
    std::vector<char> deps;
    for (const std::string& d : dependents) {
        deps.insert(deps.end(), d.begin(), d.end());
        deps.push_back('\0');
    }
    deps.push_back('\0');
    // full paths in the driver directory, as the class installer hands them to the spooler
    const std::string dir = driverDirectory + "\\";
    auto inDriverDirectory = [&dir](const std::string& f) { return f.empty() ? std::string() : dir + f; };
    std::string driverPath = inDriverDirectory(driverFile);
    std::string dataPath = inDriverDirectory(dataFile);
    std::string configPath = inDriverDirectory(configFile);
    std::string helpPath = inDriverDirectory(helpFile);
    std::string model = req.model;
    std::string env = req.environment;
    std::string monitor = monitorName;
    std::string datatype = first(entry("DefaultDataType"));
    auto orNull = [](std::string& s) { return s.empty() ? nullptr : s.data(); };
    DRIVER_INFO_3A driver{3,
                          model.data(),
                          env.data(),
                          orNull(driverPath),
                          orNull(dataPath),
                          orNull(configPath),
                          orNull(helpPath),
                          deps.data(),
                          orNull(monitor),
                          orNull(datatype)};
    if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver))) {
        return Failure();
    }

    std::string printerName = req.printer;
    std::string port = req.port;
    std::string raw = "RAW";
    PRINTER_INFO_2A info{};
    info.pPrinterName = printerName.data();
    info.pPortName = port.data();
    info.pDriverName = model.data();
    info.pPrintProcessor = processor.data();
    info.pDatatype = raw.data();
    info.Attributes = kLocalPrinterAttributes | (monitor.empty() ? 0 : PRINTER_ATTRIBUTE_ENABLE_BIDI);
    info.Priority = 1;
    const HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!printer) {
        return Failure();
    }
    ClosePrinter(printer);
    return 0;
}

} // namespace
} // namespace kqwin

// rundll32's entry: "PrintUIEntry <options>", as PRINTUI.DLL exports it; it returns nothing, and the last
// error tells how it went (0: the printer is installed).
extern "C" KQWIN_API void WINAPI PrintUIEntryW(HWND, HINSTANCE, LPCWSTR commandLine, INT) {
    const std::string line = commandLine ? kqwin::Utf16ToAnsi(commandLine) : std::string();
    SetLastError(kqwin::PrintUiInstall(kqwin::SplitArguments(line)));
}
