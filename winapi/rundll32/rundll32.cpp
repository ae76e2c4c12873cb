// The machine's rundll32 ("C:\\WINDOWS\\SYSTEM32\\rundll32.exe"): "DLL,Entry arguments" calls the entry of a
// system DLL, from a table of the entries this machine's DLLs have. The entries return nothing, so rundll32
// exits with 0 whatever they did; a DLL or an entry it cannot find is a message box, as on Windows.
#include "rundll32_private.h"

#include <utility>

extern "C" {
// The entries, declared as rundll32 calls what GetProcAddress gives it; each is defined by its DLL.
void WINAPI InstallHinfSectionA(HWND window, HINSTANCE module, LPCSTR commandLine, INT show);
void WINAPI PrintUIEntryW(HWND window, HINSTANCE module, LPCWSTR commandLine, INT show);
}

namespace kqwin {
namespace {

struct DllEntry {
    const char* dll;   // lower case, without ".dll"
    const char* entry; // without its W or A
    bool onWindows9x;  // Windows 98 and ME have the DLL too
    void (*call)(const std::string& arguments);
};

const DllEntry kEntries[] = {
    {"setupapi", "InstallHinfSection", true,
     [](const std::string& arguments) { InstallHinfSectionA(nullptr, nullptr, arguments.c_str(), SW_SHOWNORMAL); }},
    {"printui", "PrintUIEntry", false,
     [](const std::string& arguments) {
         const std::u16string wide = AnsiToUtf16(arguments);
         PrintUIEntryW(nullptr, nullptr, wide.c_str(), SW_SHOWNORMAL);
     }},
};

struct Rundll32State {
    std::mutex mutex;
    std::optional<DWORD> forcedExit;
};

Rundll32State& Rundll32() {
    static Rundll32State state;
    return state;
}

std::optional<DWORD> TakeForcedExit() {
    Rundll32State& r = Rundll32();
    std::lock_guard lock(r.mutex);
    return std::exchange(r.forcedExit, std::nullopt);
}

void ForgetForcedExit() { TakeForcedExit(); }
const ResetHook kForcedExitOnReset(&ForgetForcedExit);

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return std::string(s);
}

std::string CurrentDirectory() {
    char buffer[MAX_PATH] = {};
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
    return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

// What rundll32 shows when it cannot call the entry.
void CannotRun(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "RunDLL", MB_OK | MB_ICONERROR);
}

// The machine's rundll32: "DLL,Entry arguments". Exits with 0: what the entry did, or that the DLL or the
// entry could not be found, is never its exit code (test control can force one).
DWORD RunRundll32(const std::string& parameters) {
    if (const std::optional<DWORD> forced = TakeForcedExit()) {
        return *forced;
    }
    const size_t comma = parameters.find(',');
    std::string dll = Trim(parameters.substr(0, comma));
    if (dll.size() >= 2 && dll.front() == '"' && dll.back() == '"') {
        dll = dll.substr(1, dll.size() - 2);
    }
    const std::string tail = comma == std::string::npos ? std::string() : Trim(parameters.substr(comma + 1));
    const size_t blank = tail.find_first_of(" \t");
    const std::string entry = tail.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : tail.substr(blank + 1);
    // a DLL named with a folder must be the system's own
    const size_t slash = dll.find_last_of("\\/");
    std::string module = LowerAscii(slash == std::string::npos ? dll : dll.substr(slash + 1));
    if (module.size() > 4 && module.compare(module.size() - 4, 4, ".dll") == 0) {
        module.resize(module.size() - 4);
    }
    const bool systemFolder =
        slash == std::string::npos ||
        EqualsNoCase(FullPath(dll.substr(0, slash), CurrentDirectory()), SystemDirectory());
    const DllEntry* found = nullptr;
    for (const DllEntry& e : kEntries) {
        if (systemFolder && module == e.dll && (e.onWindows9x || !Windows9x())) {
            found = &e;
        }
    }
    if (!found) {
        CannotRun("There was a problem starting " + dll + "\n\nThe specified module could not be found.");
        return 0;
    }
    // the entry as named, or its wide or 8-bit form
    const std::string name = found->entry;
    if (!EqualsNoCase(entry, name) && !EqualsNoCase(entry, name + "W") && !EqualsNoCase(entry, name + "A")) {
        CannotRun("Error in " + dll + "\nMissing entry:" + entry);
        return 0;
    }
    found->call(rest);
    return 0;
}

const ProgramRegistration kRundll32(kRundll32Path, RunRundll32);

} // namespace
} // namespace kqwin

namespace kqwin::control {

void ForceNextRundll32Exit(DWORD exitCode) {
    Rundll32State& r = Rundll32();
    std::lock_guard lock(r.mutex);
    r.forcedExit = exitCode;
}

} // namespace kqwin::control
