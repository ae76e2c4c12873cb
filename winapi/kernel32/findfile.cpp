// File search over the simulated disk: FindFirstFileA, FindNextFileA and FindClose, with the wildcards * and ?
// in the last part of the path. The disk is case-insensitive, so names match without regard to case.
#include "kernel32_private.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace kqwin {
namespace {

struct FindObj : Object {
    FindObj() : Object(ObjType::FindFile) {}
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Windows patterns: * is any run of characters, ? any one; "*.*" also matches a name without a dot.
bool Matches(const char* pattern, const char* name) {
    if (*pattern == '\0') {
        return *name == '\0';
    }
    if (*pattern == '*') {
        if (std::strcmp(pattern, "*.*") == 0) {
            return true;
        }
        for (const char* n = name;; ++n) {
            if (Matches(pattern + 1, n)) {
                return true;
            }
            if (*n == '\0') {
                return false;
            }
        }
    }
    if (*name == '\0') {
        return false;
    }
    return (*pattern == '?' || UpperChar(*pattern) == UpperChar(*name)) && Matches(pattern + 1, name + 1);
}

FILETIME ToFileTime(const timespec& t) {
    // 100-nanosecond intervals since 1601
    const uint64_t v = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                       static_cast<uint64_t>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

WIN32_FIND_DATAA Describe(const std::string& name, const struct stat& st) {
    WIN32_FIND_DATAA d;
    std::memset(&d, 0, sizeof(d));
    d.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    d.ftCreationTime = ToFileTime(st.st_ctim);
    d.ftLastAccessTime = ToFileTime(st.st_atim);
    d.ftLastWriteTime = ToFileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        d.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
        d.nFileSizeLow = static_cast<DWORD>(st.st_size);
    }
    std::strncpy(d.cFileName, name.c_str(), MAX_PATH - 1);
    return d;
}

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

HANDLE WINAPI FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
    if (!path || !*path || !data) {
        SetLastError(!path || !*path ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string windowsPath(path);
    const size_t slash = windowsPath.find_last_of("\\/");
    const std::string pattern = slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
    // "C:\dir\" lists nothing; "C:name" and "name" are relative to the root of the drive
    const std::string dir = slash == std::string::npos ? std::string() : windowsPath.substr(0, slash + 1);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string hostDir = MapPath(dir.empty() ? std::string("C:\\") : dir);
    DIR* d = opendir(hostDir.c_str());
    if (!d) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObj>();
    const bool atRoot = dir.size() <= 3; // "C:\" has no "." and ".." entries
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const bool dots = name == "." || name == "..";
        if ((dots && atRoot) || !Matches(pattern.c_str(), name.c_str())) {
            continue;
        }
        struct stat st{};
        if (stat((hostDir + "/" + name).c_str(), &st) != 0) {
            continue;
        }
        find->entries.push_back(Describe(name, st));
    }
    closedir(d);
    // NTFS lists a folder in the order of its upper-cased names, "." and ".." first
    std::sort(find->entries.begin(), find->entries.end(), [](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
        std::string x(a.cFileName);
        std::string y(b.cFileName);
        std::transform(x.begin(), x.end(), x.begin(), UpperChar);
        std::transform(y.begin(), y.end(), y.begin(), UpperChar);
        return x < y;
    });
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = find->entries[0];
    find->next = 1;
    const HANDLE h = Handles().Add(std::move(find));
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

BOOL WINAPI FindNextFileA(HANDLE h, LPWIN32_FIND_DATAA data) {
    auto find = GetObject<FindObj>(h, ObjType::FindFile);
    if (!find) {
        return FALSE;
    }
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (find->next >= find->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = find->entries[find->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE h) { return Handles().Remove(h, ObjType::FindFile) ? TRUE : FALSE; }

} // extern "C"
