// Files of the simulated disk: opening, reading and writing, copying, deleting, folders.
#include "kernel32_private.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace kqwin {
namespace {

// Files open in this process, for the sharing rules that Windows applies between openers of one file.
struct OpenFiles {
    struct Opener {
        DWORD access;
        DWORD share;
    };
    std::mutex mutex;
    std::multimap<std::pair<dev_t, ino_t>, Opener> open;
};

OpenFiles& Opened() {
    static OpenFiles files;
    return files;
}

bool Conflicts(DWORD access, DWORD share, const OpenFiles::Opener& other) {
    const bool read = access & GENERIC_READ;
    const bool write = access & GENERIC_WRITE;
    const bool otherRead = other.access & GENERIC_READ;
    const bool otherWrite = other.access & GENERIC_WRITE;
    return (read && !(other.share & FILE_SHARE_READ)) || (write && !(other.share & FILE_SHARE_WRITE)) ||
           (otherRead && !(share & FILE_SHARE_READ)) || (otherWrite && !(share & FILE_SHARE_WRITE));
}

struct FileObj : Object {
    explicit FileObj(int f) : Object(ObjType::File), fd(f) {}
    ~FileObj() override {
        if (registered) {
            OpenFiles& files = Opened();
            std::lock_guard lock(files.mutex);
            files.open.erase(entry);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    // Takes its place among the file's openers; false when their sharing does not allow it.
    bool Register(DWORD access, DWORD share) {
        struct stat st{};
        if (fstat(fd, &st) != 0) {
            return true;
        }
        const auto key = std::make_pair(st.st_dev, st.st_ino);
        OpenFiles& files = Opened();
        std::lock_guard lock(files.mutex);
        for (auto [it, end] = files.open.equal_range(key); it != end; ++it) {
            if (Conflicts(access, share, it->second)) {
                return false;
            }
        }
        entry = files.open.emplace(key, OpenFiles::Opener{access, share});
        registered = true;
        return true;
    }
    int fd;
    bool reparsePoint = false; // opened as the link itself
    bool registered = false;
    std::multimap<std::pair<dev_t, ino_t>, OpenFiles::Opener>::iterator entry;
};

DWORD ErrnoToWin(int e) {
    switch (e) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                          HANDLE) {
    const FaultDecision fault = CheckFault(control::Op::CreateFile);
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return INVALID_HANDLE_VALUE;
    }
    const std::string host = MapPath(name);
    int oflags = O_CLOEXEC;
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    oflags |= (read && write) ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
    switch (disposition) {
    case CREATE_NEW:
        oflags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        oflags |= O_CREAT;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        oflags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool openLink = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    if (openLink) {
        struct stat st{};
        if (lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            // The link itself is opened, as Windows opens a reparse point: it can be examined, not written.
            const int fd = open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                SetLastError(ErrnoToWin(errno));
                return INVALID_HANDLE_VALUE;
            }
            auto obj = std::make_shared<FileObj>(fd);
            obj->reparsePoint = true;
            return Handles().Add(std::move(obj));
        }
        oflags |= O_NOFOLLOW;
    }
    const size_t slash = host.rfind('/');
    if (slash != std::string::npos && (oflags & O_CREAT)) {
        MakeDirs(host.substr(0, slash)); // the simulated disk's folders exist as soon as they are used
    }
    const int fd = open(host.c_str(), oflags, 0666);
    if (fd < 0) {
        SetLastError(ErrnoToWin(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto obj = std::make_shared<FileObj>(fd);
    // Sharing is settled before the file is emptied, as Windows refuses the open without touching it.
    if (!obj->Register(access, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && ftruncate(fd, 0) != 0) {
        SetLastError(ErrnoToWin(errno));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = Handles().Add(std::move(obj));
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
    const FaultDecision fault = CheckFault(control::Op::WriteFile);
    if (written) {
        *written = 0;
    }
    auto file = GetObject<FileObj>(h, ObjType::File);
    if (!file) {
        return FALSE;
    }
    if (file->reparsePoint) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (fault.fail) {
        SetLastError(fault.error);
        return FALSE;
    }
    if (count && !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD want = fault.shorten ? std::min(fault.keep, count) : count;
    DWORD done = 0;
    while (done < want) {
        const ssize_t n = write(file->fd, static_cast<const BYTE*>(buffer) + done, want - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetLastError(ErrnoToWin(errno));
            if (written) {
                *written = done;
            }
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (written) {
        *written = done;
    }
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) {
    if (read) {
        *read = 0;
    }
    auto file = GetObject<FileObj>(h, ObjType::File);
    if (!file) {
        return FALSE;
    }
    ssize_t n;
    do {
        n = ::read(file->fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    if (read) {
        *read = static_cast<DWORD>(n);
    }
    return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE h) {
    auto file = GetObject<FileObj>(h, ObjType::File);
    if (!file) {
        return FALSE;
    }
    const off_t pos = lseek(file->fd, 0, SEEK_CUR);
    if (pos < 0 || ftruncate(file->fd, pos) != 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
    auto file = GetObject<FileObj>(h, ObjType::File);
    if (!file) {
        return FALSE;
    }
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat st{};
    if (file->reparsePoint ? fstatat(file->fd, "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0
                           : fstat(file->fd, &st) != 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    std::memset(info, 0, sizeof(*info));
    info->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if (file->reparsePoint || S_ISLNK(st.st_mode)) {
        info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    info->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    info->nFileSizeLow = static_cast<DWORD>(st.st_size);
    info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    info->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
    info->nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string host = MapPath(name);
    if (unlink(host.c_str()) != 0) {
        const int e = errno;
        const size_t slash = host.rfind('/');
        struct stat st{};
        const bool noFolder = e == ENOENT && slash != std::string::npos && slash > 0 &&
                              stat(host.substr(0, slash).c_str(), &st) != 0;
        SetLastError(noFolder ? ERROR_PATH_NOT_FOUND : ErrnoToWin(e));
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR name) {
    struct stat st{};
    if (!name || lstat(MapPath(name).c_str(), &st) != 0) {
        SetLastError(name ? ErrnoToWin(errno) : ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attrs = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if (S_ISLNK(st.st_mode)) {
        attrs |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return attrs;
}

BOOL WINAPI CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
    if (!from || !to) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string src = MapPath(from);
    const std::string dst = MapPath(to);
    const int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    const size_t slash = dst.rfind('/');
    if (slash != std::string::npos) {
        MakeDirs(dst.substr(0, slash));
    }
    // Written beside the target and renamed over it, so a program that has the old file loaded keeps it.
    const std::string tmp = dst + ".part";
    if (failIfExists && access(dst.c_str(), F_OK) == 0) {
        close(in);
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    const int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (out < 0) {
        const int e = errno;
        close(in);
        SetLastError(ErrnoToWin(e));
        return FALSE;
    }
    char buf[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buf, sizeof(buf));
        if (n == 0) {
            break;
        }
        if (n < 0 || write(out, buf, static_cast<size_t>(n)) != n) {
            ok = false;
            break;
        }
    }
    close(in);
    ok = (close(out) == 0) && ok;
    if (!ok || rename(tmp.c_str(), dst.c_str()) != 0) {
        unlink(tmp.c_str());
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mkdir(MapPath(name).c_str(), 0777) != 0) {
        SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrnoToWin(errno));
        return FALSE;
    }
    return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    const FaultDecision fault = CheckFault(control::Op::GetSystemDirectory);
    if (fault.fail) {
        SetLastError(fault.error);
        return 0;
    }
    const std::string dir = SystemDirectory();
    if (!buffer || size <= dir.size()) {
        return static_cast<UINT>(dir.size() + 1);
    }
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

BOOL WINAPI CloseHandle(HANDLE h) {
    if (Handles().Remove(h, ObjType::Event) || Handles().Remove(h, ObjType::File) ||
        Handles().Remove(h, ObjType::Process)) {
        return TRUE;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

} // extern "C"
