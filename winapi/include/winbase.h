// Stand-in kernel32, second part: resources and modules, file search, version, DBCS helpers and the default
// configuration of serial ports. Values and layouts are those of the Windows headers.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HRSRC__* HRSRC;

#define ERROR_NO_MORE_FILES 18L
#define ERROR_BADKEY 1010L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_INVALID_MENU_HANDLE 1401L
#define ERROR_INVALID_CURSOR_HANDLE 1402L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_INVALID_ICON_HANDLE 1414L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#define ERROR_NOT_CHILD_WINDOW 1442L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

// Serial ports
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_TOGGLE 0x03
#define CBR_110 110
#define CBR_300 300
#define CBR_600 600
#define CBR_1200 1200
#define CBR_2400 2400
#define CBR_4800 4800
#define CBR_9600 9600
#define CBR_14400 14400
#define CBR_19200 19200
#define CBR_38400 38400
#define CBR_56000 56000
#define CBR_57600 57600
#define CBR_115200 115200
#define CBR_128000 128000
#define CBR_256000 256000
#define PST_UNSPECIFIED 0x00000000
#define PST_RS232 0x00000001
#define PST_PARALLELPORT 0x00000002
#define PST_RS422 0x00000003
#define PST_RS423 0x00000004
#define PST_RS449 0x00000005
#define PST_MODEM 0x00000006
#define PST_FAX 0x00000021
#define PST_SCANNER 0x00000022
#define PST_NETWORK_BRIDGE 0x00000100
#define PST_LAT 0x00000101
#define PST_TCPIP_TELNET 0x00000102
#define PST_X25 0x00000103

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMMCONFIG {
    DWORD dwSize;
    WORD wVersion;
    WORD wReserved;
    DCB dcb;
    DWORD dwProviderSubType;
    DWORD dwProviderOffset;
    DWORD dwProviderSize;
    WCHAR wcProviderData[1];
} COMMCONFIG, *LPCOMMCONFIG;

#ifdef __cplusplus
static_assert(sizeof(DCB) == 28, "DCB is 28 bytes");
static_assert(sizeof(COMMCONFIG) == 52, "COMMCONFIG is 52 bytes");
static_assert(offsetof(COMMCONFIG, dcb) == 8 && offsetof(COMMCONFIG, wcProviderData) == 48,
              "COMMCONFIG has the Windows layout");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA is 320 bytes");
#endif

// Modules and resources
KQWIN_API HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
KQWIN_API DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
KQWIN_API HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
KQWIN_API HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
KQWIN_API LPVOID WINAPI LockResource(HGLOBAL hResData);
KQWIN_API DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
KQWIN_API BOOL WINAPI FreeResource(HGLOBAL hResData);

// File search (drive letters map to folders of the machine root)
KQWIN_API HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
KQWIN_API BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
KQWIN_API BOOL WINAPI FindClose(HANDLE hFindFile);

// Version, DBCS, strings
KQWIN_API BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
KQWIN_API BOOL WINAPI IsDBCSLeadByte(BYTE TestChar);
KQWIN_API LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);

// Default configuration of serial ports ("COM1", without the colon)
KQWIN_API BOOL WINAPI GetDefaultCommConfigA(LPCSTR lpszName, LPCOMMCONFIG lpCC, LPDWORD lpdwSize);
KQWIN_API BOOL WINAPI SetDefaultCommConfigA(LPCSTR lpszName, LPCOMMCONFIG lpCC, DWORD dwSize);

// Processes started through the shell, and the current directory
#define STILL_ACTIVE 259u
#define ERROR_DIRECTORY 267L
#define ERROR_CAN_NOT_COMPLETE 1003L
#define ERROR_NO_ASSOCIATION 1155L
#define ERROR_INVALID_ENVIRONMENT 1805L
KQWIN_API BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// The pseudo-handle of the calling process, and whether a 32-bit program runs on 64-bit Windows (Windows XP
// and later have IsWow64Process; programs for older ones look it up with GetProcAddress).
KQWIN_API HANDLE WINAPI GetCurrentProcess(void);
KQWIN_API BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);
KQWIN_API DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
KQWIN_API BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName);

#ifndef UNICODE
typedef WIN32_FIND_DATAA WIN32_FIND_DATA;
typedef LPWIN32_FIND_DATAA LPWIN32_FIND_DATA;
typedef OSVERSIONINFOA OSVERSIONINFO;
typedef LPOSVERSIONINFOA LPOSVERSIONINFO;
#define GetModuleHandle GetModuleHandleA
#define GetModuleFileName GetModuleFileNameA
#define FindResource FindResourceA
#define FindFirstFile FindFirstFileA
#define FindNextFile FindNextFileA
#define GetVersionEx GetVersionExA
#define lstrcpyn lstrcpynA
#define GetDefaultCommConfig GetDefaultCommConfigA
#define SetDefaultCommConfig SetDefaultCommConfigA
#define GetCurrentDirectory GetCurrentDirectoryA
#define SetCurrentDirectory SetCurrentDirectoryA
#endif

#ifdef __cplusplus
}
#endif
