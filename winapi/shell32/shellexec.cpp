// ShellExecuteExA: finds the program as Windows does and runs it. A started program runs to its end inside
// the call (the machine's rundll32 does its work; any other program exits with 0); its process handle then
// holds the exit code.
#include "shell32_private.h"

#include "observers.h"

#include <shellapi.h>

namespace kqwin {
namespace {

constexpr uintptr_t kStartedInstance = 42; // what Windows gives for a started program

// The current directory, as the process knows it.
std::string CurrentDirectory() {
    char path[MAX_PATH] = {};
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, path);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : ProgramFolder();
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
} // namespace kqwin

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
    const std::string parameters = AnsiOrEmpty(info->lpParameters);
    // the program runs to its end now; what it does to the last error stays in its own process
    const DWORD lastError = GetLastError();
    const DWORD exitCode = RunProgram(*found, parameters);
    SetLastError(lastError);
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
        info->hProcess = Handles().Add(std::make_shared<ProcessObj>(exitCode));
    }
    if (Shell32Observer* observer = Shell32Hook().Get()) {
        observer->ProcessStarted(
            control::ProcessStart{*found, verb, parameters, directory, info->nShow, info->fMask, info->hwnd, exitCode});
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(kStartedInstance);
    return TRUE;
}

} // extern "C"
