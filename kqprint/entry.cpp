// The print processor's entry points and its job record.
#include "kqprint.h"

#include "last_error.h"
#include "readable_memory.h"

#include <cstring>
#include <new>

namespace kqprint {
namespace {

// The datatypes this processor takes, in order; a job's DatatypeIndex is its position here.
constexpr LPCWSTR kDatatypes[] = {TEXT("RAW")};
constexpr DWORD kDatatypeCount = sizeof(kDatatypes) / sizeof(kDatatypes[0]);

DWORD FindDatatype(LPCWSTR name) {
    for (DWORD i = 0; i < kDatatypeCount; ++i) {
        if (lstrcmpiW(name, kDatatypes[i]) == 0) {
            return i;
        }
    }
    return kDatatypeCount;
}

// Owns a record while it is being built; releases it the way ClosePrintProcessor does.
struct JobDeleter {
    void operator()(ProcessorJob* job) const {
        if (job) {
            job->~ProcessorJob();
            GlobalFree(job);
        }
    }
};
using JobPtr = std::unique_ptr<ProcessorJob, JobDeleter>;

void ApplyCopiesRule(ProcessorJob& job) {
    if (job.Copies <= 1) {
        return;
    }
    const HANDLE printer = job.PrinterHandle.get();
    if (!printer || printer == INVALID_HANDLE_VALUE) {
        job.Copies = 1;
        return;
    }
    DWORD error = 0;
    const GlobalPtr<BYTE> info = QueryPrinterInfo(printer, 2, &error);
    if (!info) {
        job.Copies = 1;
        return;
    }
    PRINTER_INFO_2W printerInfo;
    std::memcpy(&printerInfo, info.get(), sizeof(printerInfo));
    if (printerInfo.Attributes & PRINTER_ATTRIBUTE_DIRECT) {
        job.Copies = 1; // a printer without spooling gets one pass
    }
}

} // namespace

GlobalPtr<BYTE> AllocZeroed(SIZE_T bytes) { return GlobalPtr<BYTE>(static_cast<BYTE*>(GlobalAlloc(GPTR, bytes))); }

GlobalString DuplicateString(LPCWSTR s) {
    if (!s) {
        return nullptr;
    }
    const SIZE_T chars = static_cast<SIZE_T>(lstrlenW(s)) + 1;
    GlobalString copy(reinterpret_cast<WCHAR*>(AllocZeroed(chars * sizeof(WCHAR)).release()));
    if (copy) {
        std::memcpy(copy.get(), s, chars * sizeof(WCHAR));
    }
    return copy;
}

ProcessorJob* ValidateJob(HANDLE handle) {
    if (!handle || !kqkit::IsReadable(handle, sizeof(kSignature))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    char signature[sizeof(kSignature)];
    std::memcpy(signature, handle, sizeof(signature));
    // Only a whole, aligned, readable record with the signature is trusted.
    if (std::memcmp(signature, kSignature, sizeof(kSignature)) != 0 ||
        reinterpret_cast<uintptr_t>(handle) % alignof(ProcessorJob) != 0 ||
        !kqkit::IsReadable(handle, sizeof(ProcessorJob))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<ProcessorJob*>(handle);
}

GlobalPtr<BYTE> QueryPrinterInfo(HANDLE printer, DWORD level, DWORD* error) {
    DWORD size = 2048;
    GlobalPtr<BYTE> buffer = AllocZeroed(size);
    for (int retries = 1;; --retries) {
        if (!buffer) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        DWORD needed = 0;
        if (GetPrinterW(printer, level, buffer.get(), size, &needed)) {
            *error = 0;
            return buffer;
        }
        *error = GetLastError();
        if (*error != ERROR_INSUFFICIENT_BUFFER) {
            return nullptr;
        }
        buffer.reset();
        if (retries == 0 || needed > MAXDWORD - 10) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        size = needed + 10;
        buffer = AllocZeroed(size);
    }
}

} // namespace kqprint

using namespace kqprint;

extern "C" {

BOOL WINAPI EnumPrintProcessorDatatypesW(LPWSTR, LPWSTR, DWORD, LPBYTE datatypes, DWORD cbBuf, LPDWORD needed,
                                         LPDWORD returned) {
    OutputDebugStringW(TEXT("EnumPrintProcessorDatatypes"));
    if (!needed || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    DWORD total = 0;
    for (LPCWSTR name : kDatatypes) {
        total += sizeof(DATATYPES_INFO_1W) + (static_cast<DWORD>(lstrlenW(name)) + 1) * sizeof(WCHAR);
    }
    *needed = total;
    if (total > cbBuf) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!datatypes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Entries at the start, names packed at the end growing downwards, the first name last.
    DWORD nameEnd = cbBuf & ~DWORD{1}; // names stay on WCHAR boundaries
    for (DWORD i = 0; i < kDatatypeCount; ++i) {
        const DWORD bytes = (static_cast<DWORD>(lstrlenW(kDatatypes[i])) + 1) * sizeof(WCHAR);
        nameEnd -= bytes;
        BYTE* name = datatypes + nameEnd;
        std::memcpy(name, kDatatypes[i], bytes);
        DATATYPES_INFO_1W entry;
        entry.pName = reinterpret_cast<LPWSTR>(name);
        std::memcpy(datatypes + i * sizeof(entry), &entry, sizeof(entry));
        ++*returned;
    }
    return TRUE;
}

HANDLE WINAPI OpenPrintProcessor(LPWSTR printerName, PPRINTPROCESSOROPENDATA openData) {
    if (!openData || !openData->pDatatype || !openData->pDatatype[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const DWORD datatypeIndex = FindDatatype(openData->pDatatype);
    GlobalPtr<BYTE> block = AllocZeroed(sizeof(ProcessorJob));
    if (!block) {
        return nullptr;
    }
    JobPtr job(new (block.release()) ProcessorJob());
    if (datatypeIndex == kDatatypeCount) {
        SetLastError(ERROR_INVALID_DATATYPE);
        return nullptr;
    }
    HANDLE printer = nullptr;
    if (!OpenPrinterW(printerName, &printer, nullptr)) {
        kqkit::LastErrorKeeper keep;
        job.reset();
        return nullptr;
    }
    job->PrinterHandle.reset(printer);
    // The spooler may open a processor under its port's name ("COM1:, Port"), which names no device:
    // the device context is made for the printer that the job was printed to.
    const LPWSTR device =
        openData->pPrinterName && openData->pPrinterName[0] ? openData->pPrinterName : printerName;
    const HDC dc = CreateDCW(TEXT(""), device, TEXT(""), openData->pDevMode);
    if (!dc) {
        kqkit::LastErrorKeeper keep;
        job.reset();
        return nullptr;
    }
    job->VerticalDpi = GetDeviceCaps(dc, LOGPIXELSY);
    DeleteDC(dc);

    std::memcpy(job->Signature, kSignature, sizeof(kSignature));
    job->RecordSize = sizeof(ProcessorJob);
    job->JobId = openData->JobId;
    job->ResumeEvent.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    job->DatatypeIndex = 0;
    job->Copies = 1;
    // A string that cannot be copied stays empty; the job goes on without it.
    job->PrinterName = DuplicateString(printerName);
    job->Datatype = DuplicateString(openData->pDatatype);
    job->DocumentName = DuplicateString(openData->pDocumentName);
    job->OutputFile = DuplicateString(openData->pOutputFile);
    job->Parameters = DuplicateString(openData->pParameters);
    job->OpenDataPrinterName = DuplicateString(openData->pPrinterName);

    if (job->Parameters) {
        USHORT sizeWord = sizeof(DWORD);
        DWORD copies = 0;
        LookupNumericParameter(job->Parameters.get(), TEXT("COPIES"), &sizeWord, &copies);
        if (sizeWord == sizeof(DWORD)) {
            job->Copies = copies;
        }
    }
    ApplyCopiesRule(*job);
    return job.release();
}

BOOL WINAPI ClosePrintProcessor(HANDLE handle) {
    OutputDebugStringW(TEXT("ClosePrintProcessor"));
    ProcessorJob* job = ValidateJob(handle);
    if (!job) {
        return FALSE;
    }
    std::memset(job->Signature, 0, sizeof(job->Signature));
    JobPtr release(job); // the record's members close and free what it owns, its bands included
    return TRUE;
}

BOOL WINAPI ControlPrintProcessor(HANDLE handle, DWORD command) {
    ProcessorJob* job = ValidateJob(handle);
    if (!job) {
        return FALSE;
    }
    // The order of event and flag carries the hand-over to a pump that may be about to wait.
    switch (command) {
    case JOB_CONTROL_PAUSE:
        ResetEvent(job->ResumeEvent.get());
        job->ControlFlags.fetch_or(kPaused);
        return TRUE;
    case JOB_CONTROL_CANCEL:
        job->ControlFlags.fetch_or(kCancelled);
        [[fallthrough]];
    case JOB_CONTROL_RESUME:
        if (job->ControlFlags.load() & kPaused) {
            SetEvent(job->ResumeEvent.get());
            job->ControlFlags.fetch_and(~kPaused);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

DWORD WINAPI GetPrintProcessorCapabilities(LPTSTR valueName, DWORD, LPBYTE data, DWORD size, LPDWORD needed) {
    if (needed) {
        *needed = sizeof(PRINTPROCESSOR_CAPS_1);
    }
    if (!data || !valueName || !needed) {
        return ERROR_INVALID_PARAMETER;
    }
    if (size < sizeof(PRINTPROCESSOR_CAPS_1)) {
        return ERROR_MORE_DATA;
    }
    PRINTPROCESSOR_CAPS_1 caps{};
    caps.dwLevel = 1;
    const bool known = FindDatatype(valueName) != kDatatypeCount;
    if (known) {
        caps.dwNupOptions = 1;
        caps.dwPageOrderFlags = NORMAL_PRINT;
        caps.dwNumberOfCopies = 0xFFFFFFFF;
        std::memcpy(data, &caps, sizeof(caps));
        return ERROR_SUCCESS;
    }
    std::memcpy(data, &caps.dwLevel, sizeof(caps.dwLevel));
    return ERROR_INVALID_DATATYPE;
}

} // extern "C"
