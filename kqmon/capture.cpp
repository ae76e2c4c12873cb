// The capture file: a copy of every byte of the current document, at a fixed path.
#include "monitor.h"

namespace kqmon {

HANDLE OpenCaptureFile(DWORD* error) {
    // The spooler's account writes here and any user can put something at this path first: a link is not
    // followed and a file with other names is refused, so the copy can never land in someone else's file.
    // Write sharing is denied, so while one document is captured another one's bytes cannot interleave:
    // the later document prints without a copy.
    HANDLE file = CreateFileA(kCapturePath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        *error = GetLastError();
    } else if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        *error = ERROR_CANT_RESOLVE_FILENAME;
    } else if (info.nNumberOfLinks != 1) {
        *error = ERROR_ACCESS_DENIED;
    } else if (!SetEndOfFile(file)) { // each document starts an empty copy
        *error = GetLastError();
    } else {
        *error = 0;
        return file;
    }
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

} // namespace kqmon
