// The process's current directory; until a program sets one it is the program's own folder.
#include "kernel32_private.h"

#include <cstring>

namespace kqwin {
namespace {

struct CurrentDirectoryState {
    std::mutex mutex;
    std::optional<std::string> directory; // none: the program's folder
};

CurrentDirectoryState& Current() {
    static CurrentDirectoryState state;
    return state;
}

void ForgetCurrentDirectory() {
    CurrentDirectoryState& c = Current();
    std::lock_guard lock(c.mutex);
    c.directory.reset();
}
const ResetHook kCurrentDirectoryOnReset(&ForgetCurrentDirectory);

std::string CurrentDirectory() {
    {
        CurrentDirectoryState& c = Current();
        std::lock_guard lock(c.mutex);
        if (c.directory) {
            return *c.directory;
        }
    }
    return ProgramFolder();
}

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

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
    CurrentDirectoryState& c = Current();
    std::lock_guard lock(c.mutex);
    c.directory = full;
    return TRUE;
}

} // extern "C"
