// The print monitors as the spooler holds them: a monitor initialised the way the machine's Windows calls
// one, the local port monitor in each spooler's form, the operations on an open port, and a monitor's end.
#include "winspool_private.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace kqwin {
namespace {

// The table of Windows 2000 ends at pfnShutdown; that Windows takes no other size. Later ones take that
// size or more, and use the entries the size covers. The SDK counts MONITOR2_SIZE_WIN2K without the padding
// that follows cbSize on 64-bit machines, so a size is taken to whole entries.
std::optional<MONITOR2> AcceptedMonitor2(const MONITOR2& given, std::string* error) {
    const WindowsVersion v = MachineVersion();
    const bool windows2000 = v.major == 5 && v.minor == 0;
    if (windows2000 ? given.cbSize != MONITOR2_SIZE_WIN2K : given.cbSize < MONITOR2_SIZE_WIN2K) {
        *error = "its MONITOR2 of " + std::to_string(given.cbSize) + " bytes does not fit Windows " +
                 std::to_string(v.major) + "." + std::to_string(v.minor);
        return std::nullopt;
    }
    const size_t whole = (given.cbSize + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*);
    MONITOR2 kept{};
    std::memcpy(&kept, &given, std::min(whole, sizeof(MONITOR2)));
    return kept;
}

// Initialises a monitor as the machine's spooler would: Windows 98/ME through InitializeMonitorEx with
// 8-bit names; Windows 2000 and later through InitializePrintMonitor2 when the DLL has it, otherwise through
// InitializeMonitorEx with UTF-16 names (a monitor made for the 98/ME spooler then gets names it misreads).
std::optional<MonitorTables> InitializeMonitor(HMODULE module, const std::string& name, std::string* error) {
    const std::string root = std::string(kPrintKey).substr(5) + "\\Monitors\\" + name; // below HKLM
    MonitorTables t;
    if (Windows9x()) {
        using InitFn = BOOL(WINAPI*)(LPSTR, MONITORA*);
        t.entry = "InitializeMonitorEx";
        t.form = MonitorTables::Form::Ansi;
        const auto init = ProcAddress<InitFn>(module, t.entry.c_str());
        std::string text = root;
        if (!init || !init(text.data(), &t.ansi)) {
            *error = init ? "it refused to initialise" : "it has no " + t.entry;
            return std::nullopt;
        }
        return t;
    }
    using Init2Fn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    if (const auto init2 = ProcAddress<Init2Fn>(module, "InitializePrintMonitor2")) {
        t.entry = "InitializePrintMonitor2";
        t.form = MonitorTables::Form::Monitor2;
        // the monitor's key, opened for it as the spooler opens it; the stand-in offers no registry table
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, root.c_str(), 0, KEY_ALL_ACCESS, &t.root);
        MONITORINIT init{};
        init.cbSize = sizeof(init);
        init.hckRegistryRoot = t.root;
        init.bLocal = TRUE;
        const MONITOR2* given = init2(&init, &t.instance);
        std::optional<MONITOR2> kept = given ? AcceptedMonitor2(*given, error) : std::nullopt;
        if (!kept) {
            if (given) {
                t.monitor2.pfnShutdown = given->cbSize >= MONITOR2_SIZE_WIN2K ? given->pfnShutdown : nullptr;
            } else {
                *error = "it refused to initialise";
            }
            ShutdownMonitor(t);
            return std::nullopt;
        }
        t.monitor2 = *kept;
        return t;
    }
    using InitWFn = BOOL(WINAPI*)(LPWSTR, LPMONITOR);
    t.entry = "InitializeMonitorEx";
    t.form = MonitorTables::Form::Wide;
    const auto initW = ProcAddress<InitWFn>(module, t.entry.c_str());
    std::u16string text = AnsiToUtf16(root);
    if (!initW || !initW(text.data(), &t.wide)) {
        *error = initW ? "it refused to initialise" : "it has neither InitializePrintMonitor2 nor " + t.entry;
        return std::nullopt;
    }
    return t;
}

} // namespace

const MonitorTables* InitializedMonitor(const std::string& name, std::string* error) {
    SpoolerState& s = Spooler();
    {
        std::lock_guard lock(s.mutex);
        auto it = s.monitors.find(LowerAscii(name));
        if (it != s.monitors.end()) {
            return &it->second;
        }
    }
    std::string file;
    if (!FindMonitor(name, &file)) {
        *error = "language monitor \"" + name + "\" is not installed";
        return nullptr;
    }
    const std::string path = SystemDirectory() + "\\" + file;
    HMODULE module = CachedModule(path);
    if (!module) {
        *error = "language monitor \"" + name + "\" cannot be loaded from " + MapPath(path);
        return nullptr;
    }
    std::string why;
    std::optional<MonitorTables> tables = InitializeMonitor(module, name, &why);
    if (!tables) {
        *error = "language monitor \"" + name + "\" cannot be used: " + why;
        return nullptr;
    }
    const MonitorTables* kept = nullptr;
    {
        std::lock_guard lock(s.mutex);
        kept = &s.monitors.emplace(LowerAscii(name), *tables).first->second;
    }
    // The spooler stops when the process that plays it ends, and ends the monitors it holds then. Registered
    // once a monitor runs, the handler comes before the end of all that a monitor's shutdown uses.
    [[maybe_unused]] static const bool stopsAtExit = std::atexit([] { ShutdownMonitors(); }) == 0;
    return kept;
}

const MonitorTables& LocalMonitor(MonitorTables::Form form) {
    using Form = MonitorTables::Form;
    static const std::array<MonitorTables, 3> tables = [] {
        std::array<MonitorTables, 3> t;
        t[0].form = Form::Ansi;
        InitializeLocalMonitor(&t[0].ansi);
        t[1].form = Form::Wide;
        InitializeLocalMonitorW(&t[1].wide);
        t[2].form = Form::Monitor2;
        MONITORINIT init{};
        init.cbSize = sizeof(init);
        init.bLocal = TRUE;
        if (const MONITOR2* m = InitializeLocalMonitor2(&init, &t[2].instance)) {
            t[2].monitor2 = *m;
        }
        return t;
    }();
    return tables[static_cast<size_t>(form)];
}

PortOps OperationsOf(const MonitorTables& t) {
    switch (t.form) {
    case MonitorTables::Form::Ansi:
        return {t.ansi.pfnWritePort, t.ansi.pfnReadPort, t.ansi.pfnEndDocPort, t.ansi.pfnClosePort};
    case MonitorTables::Form::Wide:
        return {t.wide.pfnWritePort, t.wide.pfnReadPort, t.wide.pfnEndDocPort, t.wide.pfnClosePort};
    case MonitorTables::Form::Monitor2:
        return {t.monitor2.pfnWritePort, t.monitor2.pfnReadPort, t.monitor2.pfnEndDocPort, t.monitor2.pfnClosePort};
    }
    return {};
}

void ShutdownMonitors() {
    SpoolerState& s = Spooler();
    std::map<std::string, MonitorTables> monitors;
    {
        std::lock_guard lock(s.mutex);
        monitors.swap(s.monitors);
    }
    for (auto& [name, tables] : monitors) {
        ShutdownMonitor(tables);
    }
}

void ShutdownMonitor(MonitorTables& t) {
    if (t.form == MonitorTables::Form::Monitor2 && t.monitor2.pfnShutdown) {
        t.monitor2.pfnShutdown(t.instance);
    }
    t.monitor2 = MONITOR2{};
    t.instance = nullptr;
    if (t.root) {
        RegCloseKey(t.root);
        t.root = nullptr;
    }
}

} // namespace kqwin
