#include "Folders.h"

#include <windows.h>

#include <cstring>

CString ProgramFolder() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '\\')) {
        *slash = '\0';
    }
    return path;
}

CString SystemFolder() {
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, MAX_PATH);
    return dir;
}
