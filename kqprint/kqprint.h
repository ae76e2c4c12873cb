// KQPRINT: the KQT-50 print processor. Internal declarations shared by its source files.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace kqprint {

// ---- the printer language's prefix and control bytes -------------------------------------------------------

constexpr BYTE NUL = 0x00;
constexpr BYTE FF = 0x0C;
constexpr BYTE CR = 0x0D;
constexpr BYTE DLE = 0x10;
constexpr BYTE ESC = 0x1B;
constexpr BYTE FS = 0x1C;
constexpr BYTE GS = 0x1D;

// ---- owned resources -------------------------------------------------------------------------------

struct GlobalFreeDeleter {
    void operator()(void* p) const {
        if (p) {
            GlobalFree(p);
        }
    }
};
template <class T> using GlobalPtr = std::unique_ptr<T, GlobalFreeDeleter>;
using GlobalString = GlobalPtr<WCHAR>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using MallocPtr = std::unique_ptr<T, FreeDeleter>;

struct PrinterCloser {
    using pointer = HANDLE;
    void operator()(HANDLE h) const {
        if (h) {
            ClosePrinter(h);
        }
    }
};
using UniquePrinter = std::unique_ptr<void, PrinterCloser>;

struct HandleCloser {
    using pointer = HANDLE;
    void operator()(HANDLE h) const {
        if (h) {
            CloseHandle(h);
        }
    }
};
using UniqueEvent = std::unique_ptr<void, HandleCloser>;

// ---- band list ---------------------------------------------------------------------------------------

// One raster band of a page: Width bytes per row (8 dots each), Rows rows, Data row after row.
struct RasterBand {
    LONG Width;
    LONG Rows;
    BYTE* Data; // malloc'd, owned by the band; none when Width x Rows is 0
    RasterBand* Next;
};

// The raster bands of the page being built, in order down the page.
struct BandList {
    RasterBand* BandHead = nullptr;
    RasterBand* BandTail = nullptr; // meaningful only while BandHead is set
    LONG BandMaxWidth = 0;
    LONG BandTotalRows = 0;
};

// Links a band at the tail and keeps the totals. Refuses (false, nothing linked) a band whose rows would
// push the page's row count past what a 32-bit count holds.
bool AppendBand(BandList& list, RasterBand* band);
// Fills in `band` as `rows` rows of `width` bytes over `data` and links it at the tail, where the list takes
// both; false, both left to the caller, when there is no band or AppendBand refuses it.
bool AppendNewBand(BandList& list, MallocPtr<RasterBand>& band, MallocPtr<BYTE>& data, LONG width, LONG rows);
// Releases every band from `head` on, with its data.
void FreeBandList(RasterBand* head);
// Releases the list's bands and leaves it empty, ready for a new page.
void ClearBandList(BandList& list);
// Writes the bands as one raster image of `width` bytes by `height` rows. An image taller than the 16-bit
// height of GS v 0, or one whose block cannot be had in one piece, goes out as consecutive images that
// together print the same dots. False only when not even one row could be allocated.
bool WritePageImage(HANDLE printer, LONG width, LONG height, const RasterBand* head);
// Writes a non-empty list as one page image and empties it. False only when the image could not be
// written for lack of memory; the list is emptied all the same.
bool FlushBandList(BandList& list, HANDLE printer);

// ---- job record --------------------------------------------------------------------------------------

constexpr DWORD kCancelled = 0x1; // ControlFlags
constexpr DWORD kPaused = 0x8;    // ControlFlags
constexpr DWORD kCutAtEnd = 0x1;  // PassFlags

// The print-processor handle that the spooler holds from OpenPrintProcessor to ClosePrintProcessor.
struct ProcessorJob {
    char Signature[4]; // "VLME" while open; first, so that a handle can be checked before it is trusted
    DWORD RecordSize;
    std::atomic<DWORD> ControlFlags; // written by ControlPrintProcessor, read by the pump
    UniqueEvent ResumeEvent;         // manual reset; reset while paused
    DWORD DatatypeIndex;
    UniquePrinter PrinterHandle;
    GlobalString PrinterName;
    GlobalString DocumentName;
    GlobalString OutputFile;
    GlobalString Datatype;
    GlobalString Parameters;
    DWORD JobId;
    DWORD Copies;
    DWORD PassFlags;
    LONG PendingBandRows; // rows of the image band that no feed has followed yet
    LONG PendingBandWidth;
    LONG VerticalDpi;
    BandList Bands;
    GlobalString OpenDataPrinterName;

    ProcessorJob() : Signature{}, RecordSize(0), ControlFlags(0), DatatypeIndex(0), JobId(0), Copies(0),
                     PassFlags(0), PendingBandRows(0), PendingBandWidth(0), VerticalDpi(0) {}
    ~ProcessorJob() { FreeBandList(Bands.BandHead); }
    ProcessorJob(const ProcessorJob&) = delete;
    ProcessorJob& operator=(const ProcessorJob&) = delete;
};

// The record's signature letters, in memory order.
constexpr char kSignature[4] = {'V', 'L', 'M', 'E'};

ProcessorJob* ValidateJob(HANDLE handle);
DWORD LookupNumericParameter(LPCWSTR parameters, LPCWSTR key, USHORT* sizeWord, DWORD* value);
GlobalPtr<BYTE> QueryPrinterInfo(HANDLE printer, DWORD level, DWORD* error);
GlobalPtr<BYTE> AllocZeroed(SIZE_T bytes);
GlobalString DuplicateString(LPCWSTR s);

// ---- job pump and command handlers -------------------------------------------------------------------

BOOL PumpJob(ProcessorJob& job, LPWSTR documentName);

// A command handler reads the rest of its command from the job (`reader`) and writes it to the printer;
// nonzero when the whole command was taken and written.
using CommandHandler = BOOL (*)(ProcessorJob& job, HANDLE reader);

BOOL HandleDleSequence(ProcessorJob& job, HANDLE reader);
BOOL HandleEscSequence(ProcessorJob& job, HANDLE reader);
BOOL HandleFsSequence(ProcessorJob& job, HANDLE reader);
BOOL HandleGsSequence(ProcessorJob& job, HANDLE reader);

// ---- job data in and out ---------------------------------------------------------------------------

// One read that must deliver exactly `count` bytes; one write that must take exactly `count` bytes.
bool ReadExact(HANDLE reader, void* dest, DWORD count);
bool WriteExact(HANDLE printer, const void* src, DWORD count);
// Fills `dest` with exactly `count` bytes of the job, repeating reads as needed.
bool ReadJobData(HANDLE reader, BYTE* dest, uint64_t count);
// Exactly `count` bytes from the job to the printer, in one read and one write.
bool CopyJobData(HANDLE printer, HANDLE reader, DWORD count);
// The same, with `lead` bytes (a command's header) written first, and only once the data is in hand,
// so that a job that ends inside the data sends the printer nothing of the command.
bool CopyJobDataAfter(HANDLE printer, HANDLE reader, uint64_t count, const BYTE* lead, DWORD leadCount);

// ---- command tables ----------------------------------------------------------------------------------

// A command as it is assembled: prefix, second byte, parameters.
struct CommandBuffer {
    static constexpr DWORD kSize = 512;
    BYTE bytes[kSize];
    DWORD length; // bytes assembled so far
};

// Special handling for a command once its fixed parameters are in the buffer.
using SpecialHandler = BOOL (*)(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);

// One row of a prefix's command table.
struct CommandDef {
    BYTE code;              // the command's second byte
    BYTE parameters;        // bytes read in one read after it
    SpecialHandler special; // none: the command is written whole as read
};

// Whether a command table is in the order of its codes, as HandleTableCommand's search needs.
constexpr bool InCodeOrder(const CommandDef* table, size_t count) {
    for (size_t i = 1; i < count; ++i) {
        if (table[i - 1].code >= table[i].code) {
            return false;
        }
    }
    return true;
}

// Reads the second byte, looks it up in `table` (in the order of its codes), reads its parameters and
// writes or hands it on.
BOOL HandleTableCommand(ProcessorJob& job, HANDLE reader, BYTE prefix, const CommandDef* table, size_t count);

} // namespace kqprint
