// ESC commands: passed on whole, with feeds after a stored image folded into the page image, the private
// ESC P directives acted on, and ESC i replaced by GS V.
#include "kqprint.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

namespace kqprint {
namespace {

constexpr LONG kFeedUnitsPerInch = 180;
constexpr BYTE kEndOfPageFeed = 238;

BOOL UserDefinedCharacters(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL TabPositions(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL PrintAndFeed(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL PrivateDirective(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL PartialCut(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);

// ESC commands: second byte, parameter bytes read in one read, special handling.
constexpr CommandDef kEscCommands[] = {
    {0x0C, 0, nullptr},               // FF   print page (page mode)
    {0x20, 1, nullptr},               // SP n right-side character spacing
    {0x21, 1, nullptr},               // !  n print mode
    {0x24, 2, nullptr},               // $  nL nH absolute position
    {0x25, 1, nullptr},               // %  n user-defined character set on/off
    {0x26, 0, UserDefinedCharacters}, // &  y c1 c2 [x d1...d(y*x)]...
    {0x2D, 1, nullptr},               // -  n underline
    {0x32, 0, nullptr},               // 2    default line spacing
    {0x33, 1, nullptr},               // 3  n line spacing
    {0x3D, 1, nullptr},               // =  n peripheral device
    {0x3F, 1, nullptr},               // ?  n cancel user-defined character
    {0x40, 0, nullptr},               // @    initialise
    {0x44, 0, TabPositions},          // D  n1...nk NUL
    {0x45, 1, nullptr},               // E  n emphasis
    {0x47, 1, nullptr},               // G  n double strike
    {0x4A, 1, PrintAndFeed},          // J  n print and feed
    {0x4C, 0, nullptr},               // L    page mode
    {0x4D, 1, nullptr},               // M  n character font
    {0x50, 1, PrivateDirective},      // P  sub-code ...: directives to this processor
    {0x52, 1, nullptr},               // R  n international character set
    {0x53, 0, nullptr},               // S    standard mode
    {0x54, 1, nullptr},               // T  n print direction (page mode)
    {0x56, 1, nullptr},               // V  n 90 degree rotation
    {0x57, 8, nullptr},               // W  xL xH yL yH dxL dxH dyL dyH print area (page mode)
    {0x5C, 2, nullptr},               // \  nL nH relative position
    {0x61, 1, nullptr},               // a  n justification
    {0x63, 2, nullptr},               // c  n1 n2 (c3, c4, c5 n) paper sensor and panel settings
    {0x64, 1, nullptr},               // d  n print and feed lines
    {0x69, 0, PartialCut},            // i    partial cut
    {0x70, 3, nullptr},               // p  m t1 t2 drawer kick-out pulse
    {0x74, 1, nullptr},               // t  n character code table
    {0x7B, 1, nullptr},               // {  n upside-down printing
};

static_assert(InCodeOrder(kEscCommands, std::size(kEscCommands)), "ESC commands in order of their codes");

BOOL UserDefinedCharacters(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    const HANDLE printer = job.PrinterHandle.get();
    for (DWORD i = 2; i < 5; ++i) { // y, c1, c2, one at a time
        if (!ReadExact(reader, cmd.bytes + i, 1)) {
            return FALSE;
        }
    }
    if (!WriteExact(printer, cmd.bytes, 5)) {
        return FALSE;
    }
    const int y = cmd.bytes[2];
    const int characters = static_cast<int>(cmd.bytes[4]) - static_cast<int>(cmd.bytes[3]) + 1;
    for (int c = 0; c < characters; ++c) {
        BYTE x;
        if (!ReadExact(reader, &x, 1) || !CopyJobDataAfter(printer, reader, uint64_t{x} * y, &x, 1)) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL TabPositions(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    // The list is gathered first and sent after ESC D only once its NUL has arrived: a list that does not
    // end within the buffer (a real one holds at most 32 positions) or a job that ends inside it sends the
    // printer nothing of the command.
    DWORD n = 0;
    do {
        if (n == CommandBuffer::kSize || !ReadExact(reader, cmd.bytes + n, 1)) {
            return FALSE;
        }
    } while (cmd.bytes[n++] != NUL);
    const BYTE head[2] = {ESC, 0x44};
    const HANDLE printer = job.PrinterHandle.get();
    return WriteExact(printer, head, sizeof(head)) && WriteExact(printer, cmd.bytes, n);
}

// A blank band of `rows` rows of `width` bytes, appended to the page; false when it cannot be had.
bool AppendBlankBand(BandList& list, LONG width, int64_t rows) {
    if (rows > INT_MAX) {
        return false;
    }
    MallocPtr<RasterBand> band(static_cast<RasterBand*>(std::malloc(sizeof(RasterBand))));
    MallocPtr<BYTE> data(static_cast<BYTE*>(std::calloc(static_cast<size_t>(rows), static_cast<size_t>(width))));
    return data && AppendNewBand(list, band, data, width, static_cast<LONG>(rows));
}

BOOL PrintAndFeed(ProcessorJob& job, HANDLE, CommandBuffer& cmd) {
    if (job.PendingBandRows > 0) {
        // The feed follows an image band: only what goes beyond the band's own height still feeds, and
        // that becomes blank rows of the page image.
        const LONG feed = static_cast<LONG>(cmd.bytes[2]) - job.PendingBandRows;
        const LONG f = feed > 0 ? feed : 0;
        cmd.bytes[2] = static_cast<BYTE>(f);
        const int64_t rows = int64_t{job.VerticalDpi} * f / kFeedUnitsPerInch;
        const LONG width = job.PendingBandWidth;
        job.PendingBandRows = 0;
        job.PendingBandWidth = 0;
        if (int64_t{width} * rows > 0) {
            AppendBlankBand(job.Bands, width, rows); // without memory the feed is dropped
            cmd.bytes[2] = 0;
        }
    }
    if (cmd.bytes[2] == 0) {
        return TRUE;
    }
    const HANDLE printer = job.PrinterHandle.get();
    if (!FlushBandList(job.Bands, printer)) {
        return FALSE;
    }
    return WriteExact(printer, cmd.bytes, 3);
}

BOOL PrivateDirective(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    const HANDLE printer = job.PrinterHandle.get();
    BYTE v[2];
    switch (cmd.bytes[2]) {
    case 'b':
        return ReadExact(reader, v, 2);
    case 'e':
        if (!ReadExact(reader, v, 1)) {
            return FALSE;
        }
        if (v[0] == 0) { // end of page
            static constexpr BYTE kFeed[] = {ESC, 0x4A, kEndOfPageFeed};
            return FlushBandList(job.Bands, printer) && WriteExact(printer, kFeed, sizeof(kFeed));
        }
        if (v[0] == 1) { // end of document
            if (job.PassFlags & kCutAtEnd) {
                static constexpr BYTE kCut[] = {GS, 0x56, 0xFF};
                WriteExact(printer, kCut, sizeof(kCut)); // a missed cut does not stop the document
            }
            static constexpr BYTE kDefaultSpacing[] = {ESC, 0x32};
            return WriteExact(printer, kDefaultSpacing, sizeof(kDefaultSpacing));
        }
        return TRUE;
    case 'g':
        if (!ReadExact(reader, v, 1)) {
            return FALSE;
        }
        if (v[0] == 0x02 || v[0] == 0x12) {
            job.PassFlags |= kCutAtEnd;
        }
        return TRUE;
    case 'r':
        return ReadExact(reader, v, 1);
    default:
        return FALSE;
    }
}

BOOL PartialCut(ProcessorJob& job, HANDLE, CommandBuffer&) {
    // GS V 1: the partial cut that ESC i asks for, in the cut command this printer's other cuts use.
    static constexpr BYTE kCut[] = {GS, 0x56, 0x01};
    return WriteExact(job.PrinterHandle.get(), kCut, sizeof(kCut));
}

} // namespace

BOOL HandleTableCommand(ProcessorJob& job, HANDLE reader, BYTE prefix, const CommandDef* table,
                        size_t count) {
    CommandBuffer cmd;
    cmd.bytes[0] = prefix;
    if (!ReadExact(reader, cmd.bytes + 1, 1)) {
        return FALSE;
    }
    // the tables are in order of their codes
    const CommandDef* end = table + count;
    const CommandDef* command = std::lower_bound(
        table, end, cmd.bytes[1], [](const CommandDef& c, BYTE code) { return c.code < code; });
    if (command == end || command->code != cmd.bytes[1]) {
        return FALSE; // not a command of this printer: nothing is sent
    }
    if (command->parameters > 0 && !ReadExact(reader, cmd.bytes + 2, command->parameters)) {
        return FALSE;
    }
    cmd.length = 2u + command->parameters;
    if (command->special) {
        return command->special(job, reader, cmd);
    }
    return WriteExact(job.PrinterHandle.get(), cmd.bytes, cmd.length);
}

BOOL HandleEscSequence(ProcessorJob& job, HANDLE reader) {
    return HandleTableCommand(job, reader, ESC, kEscCommands, sizeof(kEscCommands) / sizeof(kEscCommands[0]));
}

} // namespace kqprint
