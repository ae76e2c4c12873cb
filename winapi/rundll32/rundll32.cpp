// The machine's rundll32 ("C:\\WINDOWS\\SYSTEM32\\rundll32.exe"): "DLL,Entry arguments" calls the entry of a
// system DLL, from a table of the entries this machine's DLLs have.
#include "rundll32_private.h"

#include <utility>

extern "C" {
// The entries, declared as rundll32 calls what GetProcAddress gives it; each is defined by its DLL. They
// report failure through the last error, which the stand-in's rundll32 exits with, so that the program that
// started it can tell what failed.
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

// The machine's rundll32: "DLL,Entry arguments". Exits with 0 when the entry did its work, otherwise with the
// error of what failed: ERROR_MOD_NOT_FOUND for a DLL it does not have, ERROR_PROC_NOT_FOUND for an entry
// the DLL does not export, ERROR_INVALID_PARAMETER for a command line without "DLL,Entry".
DWORD RunRundll32(const std::string& parameters) {
    if (const std::optional<DWORD> forced = TakeForcedExit()) {
        return *forced;
    }
    const size_t comma = parameters.find(',');
    if (comma == std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string dll = Trim(parameters.substr(0, comma));
    if (dll.size() >= 2 && dll.front() == '"' && dll.back() == '"') {
        dll = dll.substr(1, dll.size() - 2);
    }
    const std::string tail = Trim(parameters.substr(comma + 1));
    const size_t blank = tail.find_first_of(" \t");
    const std::string entry = tail.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : tail.substr(blank + 1);
    // a DLL named with a folder must be the system's own
    const size_t slash = dll.find_last_of("\\/");
    if (slash != std::string::npos && !EqualsNoCase(FullPath(dll.substr(0, slash), CurrentDirectory()),
                                                    SystemDirectory())) {
        return ERROR_MOD_NOT_FOUND;
    }
    std::string module = LowerAscii(slash == std::string::npos ? dll : dll.substr(slash + 1));
    if (module.size() > 4 && module.compare(module.size() - 4, 4, ".dll") == 0) {
        module.resize(module.size() - 4);
    }
    const DllEntry* found = nullptr;
    for (const DllEntry& e : kEntries) {
        if (module == e.dll && (e.onWindows9x || !Windows9x())) {
            found = &e;
        }
    }
    if (!found) {
        return ERROR_MOD_NOT_FOUND;
    }
    // the entry as named, or its wide or 8-bit form
    const std::string name = found->entry;
    if (!EqualsNoCase(entry, name) && !EqualsNoCase(entry, name + "W") && !EqualsNoCase(entry, name + "A")) {
        return ERROR_PROC_NOT_FOUND;
    }
    SetLastError(0);
    found->call(rest);
    return GetLastError();
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
