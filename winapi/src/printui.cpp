// "PrintUIEntry /if": the printer class installer of Windows 2000/XP, installing a printer from an INF. It
// finds the model, copies the files of its install section, registers the language monitor, the print
// processor and the driver through the spooler's calls, and adds the printer.
#include "inf.h"

#include "spooler.h"

#include <setupapi.h>

#include <algorithm>
#include <cstdlib>

namespace kqwin::inf {
namespace {

constexpr char kPrinterClassGuid[] = "{4D36E979-E325-11CE-BFC1-08002BE10318}";
// What the class installer gives a new local printer: spooled, completed documents first; the spooler's
// local flag; and bidirectional mode when the driver has a language monitor.
constexpr DWORD kLocalPrinterAttributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;

struct Request {
    std::string printer; // /b
    std::string inf;     // /f
    std::string port;    // /r
    std::string model;   // /m
    std::string environment = "Windows NT x86";
};

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
        if (target == &version) {
            const bool v3 = version == "Windows 2000 or XP" || version == "Windows XP" || version == "Windows 2000" ||
                            version == "Type 3 - User Mode";
            if (!v3) {
                return ERROR_INVALID_PARAMETER;
            }
        }
        if (target == &architecture && !EqualsNoCase(architecture, "x86") && !EqualsNoCase(architecture, "Intel")) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    if (!install || r->inf.empty() || r->port.empty() || r->model.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    if (r->printer.empty()) {
        r->printer = r->model;
    }
    return 0;
}

// How well a [Manufacturer] decoration ("NTx86", "NT.5.1", ...) fits this machine: 0 not at all.
int DecorationFit(const std::string& decoration) {
    const std::string d = LowerAscii(decoration);
    int fit = 1;
    std::string rest;
    if (d.compare(0, 5, "ntx86") == 0) {
        fit = 3;
        rest = d.substr(5);
    } else if (d.compare(0, 2, "nt") == 0 && (d.size() == 2 || d[2] == '.')) {
        rest = d.substr(2);
    } else {
        return 0;
    }
    if (rest.empty()) {
        return fit;
    }
    // ".major[.minor...]": no newer than the running system
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof(v);
    GetVersionExA(&v);
    const DWORD major = static_cast<DWORD>(std::strtoul(rest.c_str() + 1, nullptr, 10));
    const size_t dot = rest.find('.', 1);
    const DWORD minor =
        dot == std::string::npos ? 0 : static_cast<DWORD>(std::strtoul(rest.c_str() + dot + 1, nullptr, 10));
    if (major > v.dwMajorVersion || (major == v.dwMajorVersion && minor > v.dwMinorVersion)) {
        return 0;
    }
    return fit + 1;
}

// The install section of `model`, from the models sections of [Manufacturer]: for each manufacturer its best
// fitting decorated models section, or the undecorated one when no decoration fits.
bool FindModel(const InfSet& set, const std::string& model, std::string* section) {
    for (const Line& m : set.Read("Manufacturer")) {
        const std::string models = m.Field(0);
        std::string best = models;
        int bestFit = 0;
        for (size_t i = 1; i < m.fields.size(); ++i) {
            const int fit = DecorationFit(m.fields[i]);
            if (fit > bestFit && set.Has(models + "." + m.fields[i])) {
                best = models + "." + m.fields[i];
                bestFit = fit;
            }
        }
        for (const Line& l : set.Read(best)) {
            if (l.hasKey && EqualsNoCase(l.key, model) && !l.Field(0).empty()) {
                *section = l.Field(0);
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

} // namespace

DWORD PrintUiInstall(const std::vector<std::string>& args) {
    Request req;
    if (const DWORD error = ParseRequest(args, &req)) {
        return error;
    }
    File file;
    if (const DWORD error = Open(req.inf, &file)) {
        return error;
    }
    InfSet set(std::move(file));
    set.dirids = StandardDirids();
    set.dirids[DIRID_PRINTER] = PrinterDriverDirectory(req.environment);
    set.dirids[DIRID_PRINTPROCESSOR] = PrintProcessorDirectory(req.environment);
    set.dirids[DIRID_PRINTERSYSTEM] = SystemDirectory();

    // Only a printer INF has printer models; /w cannot ask for another INF here.
    const std::vector<std::string> classes = set.Values("Version", "Class");
    const std::vector<std::string> guids = set.Values("Version", "ClassGUID");
    const bool printerClass = (!classes.empty() && EqualsNoCase(classes[0], "Printer")) ||
                              (!guids.empty() && EqualsNoCase(guids[0], kPrinterClassGuid));
    std::string modelSection;
    if (!printerClass || !FindModel(set, req.model, &modelSection)) {
        return ERROR_UNKNOWN_PRINTER_DRIVER;
    }
    std::string section;
    for (const std::string& candidate : {modelSection + ".NTx86", modelSection + ".NT", modelSection}) {
        if (set.Has(candidate)) {
            section = candidate;
            break;
        }
    }
    if (section.empty()) {
        return ERROR_SECTION_NOT_FOUND;
    }

    Installer installer(set);
    if (const DWORD error = installer.Include(section)) {
        return error;
    }
    // The driver's entries: the section's own, then those of its data sections.
    auto entry = [&](const char* key) {
        std::vector<std::string> v = set.Values(section, key);
        for (const std::string& data : set.Values(section, "DataSection")) {
            if (v.empty() && !data.empty()) {
                v = set.Values(data, key);
            }
        }
        return v;
    };
    for (const std::string& data : set.Values(section, "DataSection")) {
        if (!data.empty() && !set.Has(data)) {
            return ERROR_SECTION_NOT_FOUND;
        }
    }
    if (const DWORD error = installer.Needs(section)) {
        return error;
    }
    if (const DWORD error = installer.CopyFiles(section)) {
        return error;
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

    // The driver: its four files, and every other file copied into the driver directory as a dependent.
    auto first = [](const std::vector<std::string>& v) { return v.empty() ? std::string() : v[0]; };
    const std::string driverFile = first(entry("DriverFile"));
    const std::string configFile = first(entry("ConfigFile"));
    const std::string helpFile = first(entry("HelpFile"));
    const std::string dataFile = first(entry("DataFile")).empty() ? modelSection : first(entry("DataFile"));
    const std::vector<std::string> mainFiles = {driverFile, dataFile, configFile, helpFile};
    std::vector<std::string> dependents;
    for (const Copied& c : installer.Copies()) {
        const auto same = [&](const std::string& n) { return EqualsNoCase(n, c.name); };
        if (c.dirid == DIRID_PRINTER && std::none_of(mainFiles.begin(), mainFiles.end(), same) &&
            std::none_of(dependents.begin(), dependents.end(), same)) {
            dependents.push_back(c.name);
        }
    }
    std::vector<char> deps;
    for (const std::string& d : dependents) {
        deps.insert(deps.end(), d.begin(), d.end());
        deps.push_back('\0');
    }
    deps.push_back('\0');
    // full paths in the driver directory, as the class installer hands them to the spooler
    const std::string dir = set.dirids[DIRID_PRINTER] + "\\";
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

} // namespace kqwin::inf
