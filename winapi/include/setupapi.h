// Stand-in setupapi: the error codes and flag values of INF processing, and the INF calls that the printer
// class installer (printui) makes. The stand-in's rundll32 runs InstallHinfSection and PrintUIEntry.
#pragma once

#include <windows.h>

// Errors of INF parsing and installation (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | n)
#define ERROR_EXPECTED_SECTION_NAME 0xE0000000u
#define ERROR_BAD_SECTION_NAME_LINE 0xE0000001u
#define ERROR_SECTION_NAME_TOO_LONG 0xE0000002u
#define ERROR_GENERAL_SYNTAX 0xE0000003u
#define ERROR_WRONG_INF_STYLE 0xE0000100u
#define ERROR_SECTION_NOT_FOUND 0xE0000101u
#define ERROR_LINE_NOT_FOUND 0xE0000102u

// CopyFiles flags
#define COPYFLG_WARN_IF_SKIP 0x00000001u
#define COPYFLG_NOSKIP 0x00000002u
#define COPYFLG_NOVERSIONCHECK 0x00000004u
#define COPYFLG_FORCE_FILE_IN_USE 0x00000008u
#define COPYFLG_NO_OVERWRITE 0x00000010u
#define COPYFLG_NO_VERSION_DIALOG 0x00000020u
#define COPYFLG_OVERWRITE_OLDER_ONLY 0x00000040u
#define COPYFLG_REPLACEONLY 0x00000400u

// AddReg flags
#define FLG_ADDREG_BINVALUETYPE 0x00000001u
#define FLG_ADDREG_NOCLOBBER 0x00000002u
#define FLG_ADDREG_DELVAL 0x00000004u
#define FLG_ADDREG_APPEND 0x00000008u
#define FLG_ADDREG_KEYONLY 0x00000010u
#define FLG_ADDREG_OVERWRITEONLY 0x00000020u
#define FLG_ADDREG_TYPE_MASK (0xFFFF0000u | FLG_ADDREG_BINVALUETYPE)
#define FLG_ADDREG_TYPE_SZ 0x00000000u
#define FLG_ADDREG_TYPE_MULTI_SZ 0x00010000u
#define FLG_ADDREG_TYPE_EXPAND_SZ 0x00020000u
#define FLG_ADDREG_TYPE_BINARY (0x00000000u | FLG_ADDREG_BINVALUETYPE)
#define FLG_ADDREG_TYPE_DWORD (0x00010000u | FLG_ADDREG_BINVALUETYPE)
#define FLG_ADDREG_TYPE_NONE (0x00020000u | FLG_ADDREG_BINVALUETYPE)

// Directory ids
#define DIRID_WINDOWS 10
#define DIRID_SYSTEM 11
#define DIRID_DRIVERS 12
#define DIRID_INF 17
#define DIRID_BOOT 24
#define DIRID_PRINTER 66000
#define DIRID_PRINTPROCESSOR 66001
#define DIRID_PRINTERSYSTEM 66002

#ifdef __cplusplus
extern "C" {
#endif

typedef PVOID HINF;
typedef PVOID HDEVINFO;
typedef struct _SP_DEVINFO_DATA* PSP_DEVINFO_DATA; // no device installation here

// A line of an open INF: which INF, section and line.
typedef struct _INFCONTEXT {
    PVOID Inf;
    PVOID CurrentInf;
    UINT Section;
    UINT Line;
} INFCONTEXT, *PINFCONTEXT;

#define INF_STYLE_OLDNT 0x00000001
#define INF_STYLE_WIN4 0x00000002

// SetupInstallFromInfSection: what to carry out, and the notifications of its file operations.
#define SPINST_REGISTRY 0x00000004
#define SPINST_FILES 0x00000010
#define SPFILENOTIFY_STARTCOPY 0x0000000b
#define SPFILENOTIFY_ENDCOPY 0x0000000c
#define FILEOP_DOIT 1
typedef UINT(CALLBACK* PSP_FILE_CALLBACK_A)(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);
typedef struct _FILEPATHS_A {
    PCSTR Target;
    PCSTR Source;
    UINT Win32Error;
    DWORD Flags;
} FILEPATHS_A, *PFILEPATHS_A;

KQWIN_API HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine);
KQWIN_API BOOL WINAPI SetupOpenAppendInfFileA(PCSTR FileName, HINF InfHandle, PUINT ErrorLine);
KQWIN_API VOID WINAPI SetupCloseInfFile(HINF InfHandle);
KQWIN_API LONG WINAPI SetupGetLineCountA(HINF InfHandle, PCSTR Section);
KQWIN_API BOOL WINAPI SetupFindFirstLineA(HINF InfHandle, PCSTR Section, PCSTR Key, PINFCONTEXT Context);
KQWIN_API BOOL WINAPI SetupFindNextLine(PINFCONTEXT ContextIn, PINFCONTEXT ContextOut);
KQWIN_API BOOL WINAPI SetupFindNextMatchLineA(PINFCONTEXT ContextIn, PCSTR Key, PINFCONTEXT ContextOut);
KQWIN_API DWORD WINAPI SetupGetFieldCount(PINFCONTEXT Context);
KQWIN_API BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer,
                                           DWORD ReturnBufferSize, PDWORD RequiredSize);
KQWIN_API BOOL WINAPI SetupSetDirectoryIdA(HINF InfHandle, DWORD Id, PCSTR Directory);
// Files (SPINST_FILES: DelFiles, then CopyFiles) and the registry (SPINST_REGISTRY: DelReg, then AddReg) of a
// section; the handler hears SPFILENOTIFY_ENDCOPY of each file the section puts in place.
KQWIN_API BOOL WINAPI SetupInstallFromInfSectionA(HWND Owner, HINF InfHandle, PCSTR SectionName, UINT Flags,
                                                  HKEY RelativeKeyRoot, PCSTR SourceRootPath, UINT CopyFlags,
                                                  PSP_FILE_CALLBACK_A MsgHandler, PVOID Context,
                                                  HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);

// rundll32's entry of SETUPAPI: "section mode path" of an INF.
KQWIN_API void WINAPI InstallHinfSectionA(HWND Window, HINSTANCE ModuleHandle, PCSTR CommandLine,
                                          INT ShowCommand);

#ifdef __cplusplus
}
#endif
