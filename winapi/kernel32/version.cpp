// GetVersionExA: the Windows the machine runs, with the build numbers and service packs those versions have.
#include "kernel32_private.h"

#include <cstring>

using namespace kqwin;

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const WindowsVersion p = MachineVersion();
    info->dwMajorVersion = p.major;
    info->dwMinorVersion = p.minor;
    info->dwPlatformId = p.platform;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    DWORD build = 0;
    const DWORD version = p.major * 100 + p.minor;
    if (p.platform == VER_PLATFORM_WIN32_NT) {
        build = version == 500   ? 2195
                : version == 501 ? 2600
                : version == 502 ? 3790
                : version == 601 ? 7601
                                 : 0;
        if (version == 501) {
            std::strcpy(info->szCSDVersion, "Service Pack 3");
        } else if (version == 601) {
            std::strcpy(info->szCSDVersion, "Service Pack 1");
        }
    } else {
        // Windows 9x put the version in the high word of the build number
        const DWORD number = version == 410 ? 2222 : version == 490 ? 3000 : version == 400 ? 950 : 0;
        build = (p.major << 24) | (p.minor << 16) | number;
        if (version == 410) {
            std::strcpy(info->szCSDVersion, " A ");
        }
    }
    info->dwBuildNumber = build;
    return TRUE;
}

} // extern "C"
