// The shell: ShellExecuteExA and the processes it starts, the current directory, and the machine's own
// rundll32, which runs PrintUIEntry and InstallHinfSection on INF files. A started process runs to its end
// inside ShellExecuteExA; its handle is then signalled and holds the exit code.
#include "inf.h"

#include "spooler.h"

#include <shellapi.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>

namespace kqwin {
namespace {

constexpr uintptr_t kStartedInstance = 42; // what Windows gives for a started program

struct ShellState {
    std::mutex mutex;
    std::optional<std::string> currentDirectory; // none: the program's folder
    std::vector<control::ProcessStart> starts;
    std::optional<DWORD> forcedRundll32Exit;
};

ShellState& Shell() {
    static ShellState state;
    return state;
}

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

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    const DWORD lastError = GetLastError();
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    SetLastError(lastError);
    return FolderOf(std::string(path, n < MAX_PATH ? n : 0));
}

std::string CurrentDirectory() {
    {
        ShellState& s = Shell();
        std::lock_guard lock(s.mutex);
        if (s.currentDirectory) {
            return *s.currentDirectory;
        }
    }
    return ProgramFolder();
}

// Where Windows finds a program that ShellExecuteEx names: a name with a path as given; a bare name in the
// program's folder, the current (or given) directory, the system directory, the Windows directory. A name
// without an extension is looked for as a program first.
std::optional<std::string> FindProgram(const std::string& file, const std::string& directory) {
    const std::string base = directory.empty() ? CurrentDirectory() : FullPath(directory, CurrentDirectory());
    const size_t slash = file.find_last_of("\\/:");
    const std::string last = slash == std::string::npos ? file : file.substr(slash + 1);
    std::vector<std::string> names;
    if (last.find('.') == std::string::npos) {
        names.push_back(file + ".exe");
    }
    names.push_back(file);
    std::vector<std::string> folders;
    if (slash == std::string::npos) {
        folders = {ProgramFolder(), base, SystemDirectory(), WindowsDirectory()};
    }
    for (const std::string& name : names) {
        if (folders.empty() && KindOf(FullPath(name, base)) == PathKind::File) {
            return FullPath(name, base);
        }
        for (const std::string& folder : folders) {
            const std::string candidate = JoinPath(folder, name);
            if (KindOf(candidate) == PathKind::File) {
                return candidate;
            }
        }
    }
    return std::nullopt;
}

// The command-line rules of the C runtime: blanks separate arguments, quotes group, 2n backslashes before a
// quote are n backslashes and a quote that groups, 2n+1 are n and a literal quote, "" inside quotes is a quote.
std::vector<std::string> SplitArguments(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i == line.size()) {
            break;
        }
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
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

// The machine's rundll32: "DLL,Entry arguments". Exits with 0 when the entry did its work, otherwise with the
// error of what failed: ERROR_MOD_NOT_FOUND for a DLL it does not have, ERROR_PROC_NOT_FOUND for an entry
// the DLL does not export, ERROR_INVALID_PARAMETER for a command line without "DLL,Entry".
DWORD RunRundll32(const std::string& parameters) {
    {
        ShellState& s = Shell();
        std::lock_guard lock(s.mutex);
        if (s.forcedRundll32Exit) {
            const DWORD code = *s.forcedRundll32Exit;
            s.forcedRundll32Exit.reset();
            return code;
        }
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
    auto isEntry = [&entry](const char* name) {
        return EqualsNoCase(entry, name) || EqualsNoCase(entry, std::string(name) + "W") ||
               EqualsNoCase(entry, std::string(name) + "A");
    };
    if (module == "printui" && !Windows9x()) { // Windows 98 and ME have no PRINTUI.DLL
        return isEntry("PrintUIEntry") ? inf::PrintUiInstall(SplitArguments(rest)) : ERROR_PROC_NOT_FOUND;
    }
    if (module == "setupapi") {
        return isEntry("InstallHinfSection") ? inf::InstallHinfSection(rest) : ERROR_PROC_NOT_FOUND;
    }
    return ERROR_MOD_NOT_FOUND;
}

HINSTANCE InstanceForError(DWORD error) {
    const uintptr_t code = error == ERROR_NO_ASSOCIATION ? SE_ERR_NOASSOC
                           : error <= 32                ? error
                                                        : SE_ERR_ACCESSDENIED;
    return reinterpret_cast<HINSTANCE>(code);
}

BOOL FailStart(SHELLEXECUTEINFOA* info, DWORD error) {
    info->hInstApp = InstanceForError(error);
    SetLastError(error);
    return FALSE;
}

} // namespace

void ResetShell() {
    ShellState& s = Shell();
    std::lock_guard lock(s.mutex);
    s.currentDirectory.reset();
    s.starts.clear();
    s.forcedRundll32Exit.reset();
}

const ResetHook kShellOnReset(&ResetShell);

bool IsProcessHandle(HANDLE h) { return Handles().Get(h, ObjType::Process) != nullptr; }

} // namespace kqwin

namespace kqwin::control {

std::vector<ProcessStart> ProcessStarts() {
    ShellState& s = Shell();
    std::lock_guard lock(s.mutex);
    return s.starts;
}

void ClearProcessStarts() {
    ShellState& s = Shell();
    std::lock_guard lock(s.mutex);
    s.starts.clear();
}

void ForceNextRundll32Exit(DWORD exitCode) {
    ShellState& s = Shell();
    std::lock_guard lock(s.mutex);
    s.forcedRundll32Exit = exitCode;
}

} // namespace kqwin::control

using namespace kqwin;

extern "C" {

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
    const FaultDecision fault = CheckFault(control::Op::ShellExecuteEx);
    if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        if (info) {
            info->hInstApp = reinterpret_cast<HINSTANCE>(SE_ERR_ACCESSDENIED);
        }
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    info->hInstApp = nullptr;
    info->hProcess = nullptr;
    if (fault.fail) {
        return FailStart(info, fault.error);
    }
    const std::string verb = AnsiOrEmpty(info->lpVerb);
    if (!verb.empty() && !EqualsNoCase(verb, "open") && !EqualsNoCase(verb, "runas")) {
        return FailStart(info, ERROR_NO_ASSOCIATION); // a program has no other verbs
    }
    const std::string file = AnsiOrEmpty(info->lpFile);
    const std::string directory = AnsiOrEmpty(info->lpDirectory);
    const std::optional<std::string> found = file.empty() ? std::nullopt : FindProgram(file, directory);
    if (!found) {
        return FailStart(info, ERROR_FILE_NOT_FOUND);
    }
    control::ProcessStart start;
    start.file = *found;
    start.verb = verb;
    start.parameters = AnsiOrEmpty(info->lpParameters);
    start.directory = directory;
    start.show = info->nShow;
    start.mask = info->fMask;
    start.window = info->hwnd;
    // the program runs to its end now; what it does to the last error stays in its own process
    const DWORD lastError = GetLastError();
    start.exitCode = EqualsNoCase(*found, kRundll32Path) ? RunRundll32(start.parameters) : 0;
    SetLastError(lastError);
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
        info->hProcess = Handles().Add(std::make_shared<ProcessObj>(start.exitCode));
    }
    {
        ShellState& s = Shell();
        std::lock_guard lock(s.mutex);
        s.starts.push_back(std::move(start));
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(kStartedInstance);
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    const auto obj = GetObject<ProcessObj>(process, ObjType::Process);
    if (!obj) {
        return FALSE;
    }
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = obj->exitCode;
    return TRUE;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    const std::string dir = CurrentDirectory();
    if (!buffer || size <= dir.size()) {
        return static_cast<DWORD>(dir.size() + 1);
    }
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<DWORD>(dir.size());
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string full = FullPath(path, CurrentDirectory());
    const PathKind kind = KindOf(full);
    if (kind != PathKind::Folder) {
        SetLastError(kind == PathKind::File                     ? ERROR_DIRECTORY
                     : KindOf(FolderOf(full)) == PathKind::Folder ? ERROR_FILE_NOT_FOUND
                                                                  : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    ShellState& s = Shell();
    std::lock_guard lock(s.mutex);
    s.currentDirectory = full;
    return TRUE;
}

} // extern "C"
