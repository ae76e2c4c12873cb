// The port function table that print monitors exchange, in the form with 8-bit names that the Windows
// 95/98/ME spooler uses (InitializeMonitorEx, OpenPortEx). The DDK's winsplp.h calls this table MONITOR and
// compiles it with 8-bit strings for those spoolers; MinGW-w64's winsplp.h has MONITOR with wide names only
// (the table of the NT spoolers), so the 8-bit form is named here as Windows names the 8-bit form of its
// other print structures (MONITOR_INFO_2A, PRINTER_INFO_2A): MONITORA.
#pragma once

#include <windows.h>

#include <cstddef>

typedef struct _MONITORA {
    BOOL(WINAPI* pfnEnumPorts)(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                               LPDWORD pcReturned);
    BOOL(WINAPI* pfnOpenPort)(LPSTR pName, PHANDLE pHandle);
    BOOL(WINAPI* pfnOpenPortEx)(LPSTR pPortName, LPSTR pPrinterName, PHANDLE pHandle,
                                struct _MONITORA* pMonitor);
    BOOL(WINAPI* pfnStartDocPort)(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                                  LPBYTE pDocInfo);
    BOOL(WINAPI* pfnWritePort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
    BOOL(WINAPI* pfnReadPort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
    BOOL(WINAPI* pfnEndDocPort)(HANDLE hPort);
    BOOL(WINAPI* pfnClosePort)(HANDLE hPort);
    BOOL(WINAPI* pfnAddPort)(LPSTR pName, HWND hWnd, LPSTR pMonitorName);
    BOOL(WINAPI* pfnAddPortEx)(LPSTR pName, DWORD Level, LPBYTE lpBuffer, LPSTR lpMonitorName);
    BOOL(WINAPI* pfnConfigurePort)(LPSTR pName, HWND hWnd, LPSTR pPortName);
    BOOL(WINAPI* pfnDeletePort)(LPSTR pName, HWND hWnd, LPSTR pPortName);
    BOOL(WINAPI* pfnGetPrinterDataFromPort)(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                            LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                            DWORD cbOutBuffer, LPDWORD lpcbReturned);
} MONITORA, *LPMONITORA;

// Thirteen entries, as both spoolers and every monitor count them.
static_assert(sizeof(MONITORA) == 13 * sizeof(void*), "MONITORA has 13 entries");
