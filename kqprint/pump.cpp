// The job pump: one printer document per job, the spooled job read once per copy, one byte at a time;
// plain bytes in batches of up to 256, each command prefix handed with its command to its handler.
#include "kqprint.h"

#include <array>

namespace kqprint {
namespace {


struct PrefixEntry {
    BYTE prefix;
    CommandHandler handler;
};

// The command prefixes of the printer's language and their handlers.
constexpr PrefixEntry kPrefixTable[] = {
    {DLE, HandleDleSequence},
    {ESC, HandleEscSequence},
    {FS, HandleFsSequence},
    {GS, HandleGsSequence},
};

// The same, indexed by byte, for the loop that looks at every byte of the job.
constexpr std::array<CommandHandler, 256> MakeHandlerIndex() {
    std::array<CommandHandler, 256> index{};
    for (const PrefixEntry& e : kPrefixTable) {
        index[e.prefix] = e.handler;
    }
    return index;
}
constexpr std::array<CommandHandler, 256> kHandlerFor = MakeHandlerIndex();

constexpr DWORD kBatch = 256;

// One copy pass over the job. Returns false once the job was cancelled.
bool RunPass(ProcessorJob& job, HANDLE reader) {
    const HANDLE printer = job.PrinterHandle.get();
    job.PassFlags = 0;
    job.PendingBandRows = 0;
    ClearBandList(job.Bands);

    BYTE buffer[kBatch];
    DWORD count = 0;
    bool passOk = true;
    bool cancelled = false;
    for (;;) {
        BYTE byte;
        DWORD got = 0;
        if (!ReadPrinter(reader, &byte, 1, &got) || got != 1) {
            break;
        }
        if (job.ControlFlags.load() & kPaused) {
            WaitForSingleObject(job.ResumeEvent.get(), INFINITE);
        }
        if (job.ControlFlags.load() & kCancelled) {
            cancelled = true;
            break;
        }
        const CommandHandler handler = kHandlerFor[byte];
        if (handler) {
            if (count > 0) {
                if (!WriteExact(printer, buffer, count)) {
                    passOk = false;
                    break;
                }
                count = 0;
            }
            if (!handler(job, reader)) {
                passOk = false;
                break;
            }
            continue;
        }
        buffer[count++] = byte;
        if (count == kBatch) {
            const bool written = WriteExact(printer, buffer, count);
            count = 0;
            if (!written) {
                passOk = false;
                break;
            }
        }
    }
    if (passOk && count > 0) {
        DWORD written = 0;
        WritePrinter(printer, buffer, count, &written); // the pass is over: nothing is left to do about it
    }
    return !cancelled;
}

} // namespace

BOOL PumpJob(ProcessorJob& job, LPWSTR documentName) {
    const HANDLE printer = job.PrinterHandle.get();
    DOC_INFO_1W info{job.DocumentName.get(), job.OutputFile.get(), job.Datatype.get()};
    if (!StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&info))) {
        return FALSE;
    }
    BOOL result = TRUE;
    for (DWORD pass = 0; pass < job.Copies; ++pass) {
        HANDLE reader = nullptr;
        if (!OpenPrinterW(documentName, &reader, nullptr)) {
            result = FALSE;
            break;
        }
        const UniquePrinter readerGuard(reader);
        if (!RunPass(job, reader)) {
            break; // a cancelled job runs no further copies
        }
    }
    EndDocPrinter(printer);
    return result;
}

BOOL HandleDleSequence(ProcessorJob& job, HANDLE reader) {
    BYTE command[3] = {DLE, 0, 0};
    return ReadExact(reader, command + 1, 2) && WriteExact(job.PrinterHandle.get(), command, sizeof(command));
}

} // namespace kqprint

extern "C" BOOL WINAPI PrintDocumentOnPrintProcessor(HANDLE handle, LPWSTR documentName) {
    kqprint::ProcessorJob* job = kqprint::ValidateJob(handle);
    if (!job) {
        return FALSE;
    }
    if (job->DatatypeIndex != 0) {
        return TRUE;
    }
    OutputDebugStringW(TEXT("PRINTPROCESSOR_TYPE_RAW"));
    return kqprint::PumpJob(*job, documentName);
}
