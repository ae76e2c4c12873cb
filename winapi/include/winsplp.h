// Stand-in winsplp: the print processor contract between the spooler and a print processor DLL.
#pragma once

#include <windows.h>
#include <winspool.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _PRINTPROCESSOROPENDATA {
    PDEVMODEW pDevMode;
    LPWSTR pDatatype;
    LPWSTR pParameters;
    LPWSTR pDocumentName;
    DWORD JobId;
    LPWSTR pOutputFile;
    LPWSTR pPrinterName;
} PRINTPROCESSOROPENDATA, *LPPRINTPROCESSOROPENDATA, *PPRINTPROCESSOROPENDATA;

// The print processor exports that the spooler resolves by name.
BOOL WINAPI EnumPrintProcessorDatatypesW(LPWSTR pName, LPWSTR pPrintProcessorName, DWORD Level, LPBYTE pDatatypes,
                                         DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
HANDLE WINAPI OpenPrintProcessor(LPWSTR pPrinterName, PPRINTPROCESSOROPENDATA pPrintProcessorOpenData);
BOOL WINAPI PrintDocumentOnPrintProcessor(HANDLE hPrintProcessor, LPWSTR pDocumentName);
BOOL WINAPI ClosePrintProcessor(HANDLE hPrintProcessor);
BOOL WINAPI ControlPrintProcessor(HANDLE hPrintProcessor, DWORD Command);
DWORD WINAPI GetPrintProcessorCapabilities(LPTSTR pValueName, DWORD dwAttributes, LPBYTE pData, DWORD nSize,
                                           LPDWORD pcbNeeded);

#ifdef __cplusplus
}
#endif
