// KQBARE: the floor that KQPRINT is measured against. A print processor that does nothing but pass the job
// through: one byte per ReadPrinter, plain writes of 256 bytes, no commands looked at, no copies.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstring>
#include <new>

namespace {

constexpr WCHAR kRaw[] = TEXT("RAW");
constexpr DWORD kBatch = 256;

struct BareJob {
    HANDLE printer = nullptr;
    WCHAR* document = nullptr;
};

WCHAR* Duplicate(LPCWSTR s) {
    if (!s) {
        return nullptr;
    }
    const SIZE_T bytes = (static_cast<SIZE_T>(lstrlenW(s)) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<WCHAR*>(GlobalAlloc(GPTR, bytes));
    if (copy) {
        std::memcpy(copy, s, bytes);
    }
    return copy;
}

} // namespace

extern "C" {

BOOL WINAPI EnumPrintProcessorDatatypesW(LPWSTR, LPWSTR, DWORD, LPBYTE datatypes, DWORD cbBuf, LPDWORD needed,
                                         LPDWORD returned) {
    if (!needed || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    *needed = sizeof(DATATYPES_INFO_1W) + sizeof(kRaw);
    if (cbBuf < *needed || !datatypes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* name = datatypes + sizeof(DATATYPES_INFO_1W);
    std::memcpy(name, kRaw, sizeof(kRaw));
    DATATYPES_INFO_1W entry;
    entry.pName = reinterpret_cast<LPWSTR>(name);
    std::memcpy(datatypes, &entry, sizeof(entry));
    *returned = 1;
    return TRUE;
}

HANDLE WINAPI OpenPrintProcessor(LPWSTR printerName, PPRINTPROCESSOROPENDATA openData) {
    if (!openData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* job = new (std::nothrow) BareJob;
    if (!job) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!OpenPrinterW(printerName, &job->printer, nullptr)) {
        delete job;
        return nullptr;
    }
    job->document = Duplicate(openData->pDocumentName);
    return job;
}

BOOL WINAPI PrintDocumentOnPrintProcessor(HANDLE handle, LPWSTR documentName) {
    auto* job = static_cast<BareJob*>(handle);
    if (!job) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    WCHAR raw[] = TEXT("RAW");
    DOC_INFO_1W info{job->document, nullptr, raw};
    if (!StartDocPrinterW(job->printer, 1, reinterpret_cast<LPBYTE>(&info))) {
        return FALSE;
    }
    HANDLE reader = nullptr;
    if (!OpenPrinterW(documentName, &reader, nullptr)) {
        EndDocPrinter(job->printer);
        return FALSE;
    }
    BYTE buffer[kBatch];
    DWORD count = 0;
    DWORD written = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadPrinter(reader, buffer + count, 1, &got) || got != 1) {
            break;
        }
        if (++count == kBatch) {
            WritePrinter(job->printer, buffer, count, &written);
            count = 0;
        }
    }
    if (count > 0) {
        WritePrinter(job->printer, buffer, count, &written);
    }
    ClosePrinter(reader);
    EndDocPrinter(job->printer);
    return TRUE;
}

BOOL WINAPI ClosePrintProcessor(HANDLE handle) {
    auto* job = static_cast<BareJob*>(handle);
    if (!job) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ClosePrinter(job->printer);
    GlobalFree(job->document);
    delete job;
    return TRUE;
}

BOOL WINAPI ControlPrintProcessor(HANDLE handle, DWORD) {
    return handle ? TRUE : FALSE;
}

DWORD WINAPI GetPrintProcessorCapabilities(LPTSTR, DWORD, LPBYTE, DWORD, LPDWORD needed) {
    if (needed) {
        *needed = sizeof(PRINTPROCESSOR_CAPS_1);
    }
    return ERROR_INVALID_PARAMETER;
}

} // extern "C"
