// FS and GS commands: passed on whole; image definitions copied in one piece; barcode data cleaned;
// GS v 0 raster images stored as bands of the page image instead of being sent.
#include "kqprint.h"

#include <climits>
#include <iterator>

namespace kqprint {
namespace {

constexpr BYTE kMaxBarcodeCount = 255; // the length byte of GS k's second form

BOOL DefineNvImages(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL DefineDownloadedImage(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL Cut(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL Barcode(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);
BOOL RasterImage(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd);

// FS commands: second byte, parameter bytes read in one read, special handling.
constexpr CommandDef kFsCommands[] = {
    {0x70, 2, nullptr},        // p n m   print NV image
    {0x71, 1, DefineNvImages}, // q n [xL xH yL yH d1...dk]...   define NV images
};

// GS commands: second byte, parameter bytes read in one read, special handling.
constexpr CommandDef kGsCommands[] = {
    {0x21, 1, nullptr},               // !  n character size
    {0x24, 2, nullptr},               // $  nL nH absolute vertical position (page mode)
    {0x2A, 2, DefineDownloadedImage}, // *  x y d1...d(x*y*8)
    {0x2F, 1, nullptr},               // /  m print downloaded image
    {0x3A, 0, nullptr},               // :    start/end macro definition
    {0x42, 1, nullptr},               // B  n white/black reverse
    {0x48, 1, nullptr},               // H  n HRI position
    {0x49, 1, nullptr},               // I  n printer ID
    {0x4C, 2, nullptr},               // L  nL nH left margin
    {0x50, 2, nullptr},               // P  x y motion units
    {0x56, 1, Cut},                   // V  m [n] cut
    {0x57, 2, nullptr},               // W  nL nH print area width
    {0x5C, 2, nullptr},               // \  nL nH relative vertical position (page mode)
    {0x5E, 3, nullptr},               // ^  r t m execute macro
    {0x61, 1, nullptr},               // a  n automatic status back
    {0x62, 1, nullptr},               // b  n smoothing
    {0x66, 1, nullptr},               // f  n HRI font
    {0x68, 1, nullptr},               // h  n barcode height
    {0x6B, 1, Barcode},               // k  m d1...dk NUL | k m n d1...dn
    {0x72, 1, nullptr},               // r  n transmit status
    {0x76, 6, RasterImage},           // v  0 m xL xH yL yH d1...dk
    {0x77, 1, nullptr},               // w  n barcode module width
};

static_assert(InCodeOrder(kFsCommands, std::size(kFsCommands)), "FS commands in order of their codes");
static_assert(InCodeOrder(kGsCommands, std::size(kGsCommands)), "GS commands in order of their codes");

// Bytes of an image definition of x by y: x * y * 8.
constexpr uint64_t ImageBytes(uint64_t x, uint64_t y) { return x * y * 8; }

BOOL DefineNvImages(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    const HANDLE printer = job.PrinterHandle.get();
    if (!WriteExact(printer, cmd.bytes, 3)) {
        return FALSE;
    }
    const unsigned images = cmd.bytes[2];
    for (unsigned i = 0; i < images; ++i) {
        BYTE header[4];
        if (!ReadExact(reader, header, sizeof(header))) {
            return FALSE;
        }
        const uint64_t x = header[0] + 256u * header[1];
        const uint64_t y = header[2] + 256u * header[3];
        // A count too large for one read is refused before anything of the image is sent.
        if (!CopyJobDataAfter(printer, reader, ImageBytes(x, y), header, sizeof(header))) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL DefineDownloadedImage(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    return CopyJobDataAfter(job.PrinterHandle.get(), reader, ImageBytes(cmd.bytes[2], cmd.bytes[3]), cmd.bytes, 4);
}

BOOL Cut(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    if (cmd.bytes[2] == 0x42) { // feed and cut: one more byte, in a read of its own
        if (!ReadExact(reader, cmd.bytes + 3, 1)) {
            return FALSE;
        }
        cmd.length = 4;
    }
    return WriteExact(job.PrinterHandle.get(), cmd.bytes, cmd.length);
}

// Stores one byte of barcode data; false when the command buffer is full.
bool Store(CommandBuffer& cmd, BYTE c) {
    if (cmd.length >= CommandBuffer::kSize) {
        return false;
    }
    cmd.bytes[cmd.length++] = c;
    return true;
}

// Reads and drops one ESC sequence inside barcode data, its ESC already read.
bool SkipEmbeddedEsc(HANDLE reader) {
    BYTE b;
    BYTE dropped[2];
    if (!ReadExact(reader, &b, 1)) {
        return false;
    }
    switch (b) {
    case 0x24: // ESC $ nL nH
        return ReadExact(reader, dropped, 2);
    case 0x2D: // ESC - n
    case 0x45: // ESC E n
    case 0x4A: // ESC J n
        return ReadExact(reader, dropped, 1);
    default:
        return false;
    }
}

// The next byte of barcode data, with the ESC sequences embedded in the data dropped.
bool NextBarcodeByte(HANDLE reader, BYTE* c) {
    for (;;) {
        if (!ReadExact(reader, c, 1)) {
            return false;
        }
        if (*c != ESC) {
            return true;
        }
        if (!SkipEmbeddedEsc(reader)) {
            return false;
        }
    }
}

BOOL Barcode(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    const BYTE m = cmd.bytes[2];
    if (m <= 6) {
        // First form: data ended by NUL. A CR or FF also ends it; the NUL is supplied and the CR or FF
        // follows the barcode.
        cmd.length = 3;
        for (;;) {
            BYTE c;
            if (!NextBarcodeByte(reader, &c)) {
                return FALSE;
            }
            if (c == CR || c == FF) {
                if (!Store(cmd, NUL) || !Store(cmd, c)) {
                    return FALSE;
                }
                break;
            }
            if (!Store(cmd, c)) {
                return FALSE; // longer than any barcode the buffer can carry: refused whole
            }
            if (c == NUL) {
                break;
            }
        }
    } else if (m >= 0x41 && m <= 0x49) {
        // Second form: the length byte is replaced by the count of the data actually read.
        if (!ReadExact(reader, cmd.bytes + 3, 1)) {
            return FALSE;
        }
        cmd.length = 4;
        unsigned count = 0;
        for (;;) {
            BYTE c;
            if (!NextBarcodeByte(reader, &c)) {
                return FALSE;
            }
            if (!Store(cmd, c)) {
                return FALSE;
            }
            if (c != CR && c != FF) {
                ++count;
            }
            if (c == NUL || c == CR || c == FF) {
                break;
            }
        }
        if (count > kMaxBarcodeCount) {
            return FALSE; // a length byte cannot say it: the barcode would print wrong
        }
        cmd.bytes[3] = static_cast<BYTE>(count);
    } else {
        return FALSE;
    }
    return WriteExact(job.PrinterHandle.get(), cmd.bytes, cmd.length);
}

// Reads an image's data into a block of its own. The block grows as the data arrives, so a damaged header
// that claims a huge image costs little memory before the job runs out.
bool ReadImageData(HANDLE reader, size_t bytes, MallocPtr<BYTE>* data) {
    constexpr size_t kFirstBlock = size_t{64} << 10;
    size_t capacity = bytes < kFirstBlock ? bytes : kFirstBlock;
    data->reset(static_cast<BYTE*>(std::malloc(capacity)));
    size_t have = 0;
    while (*data) {
        if (!ReadJobData(reader, data->get() + have, capacity - have)) {
            return false;
        }
        have = capacity;
        if (have == bytes) {
            return true;
        }
        capacity = bytes - capacity > capacity ? capacity * 2 : bytes;
        if (BYTE* grown = static_cast<BYTE*>(std::realloc(data->get(), capacity))) {
            data->release();
            data->reset(grown);
        } else {
            return false;
        }
    }
    return false;
}

BOOL RasterImage(ProcessorJob& job, HANDLE reader, CommandBuffer& cmd) {
    const LONG width = cmd.bytes[4] + 256 * cmd.bytes[5];
    const LONG height = cmd.bytes[6] + 256 * cmd.bytes[7];
    const uint64_t bytes = uint64_t(width) * uint64_t(height);
    if (bytes > SIZE_MAX) {
        return FALSE;
    }
    MallocPtr<RasterBand> band(static_cast<RasterBand*>(std::malloc(sizeof(RasterBand))));
    if (!band) {
        return FALSE;
    }
    MallocPtr<BYTE> data;
    if (bytes > 0 && !ReadImageData(reader, static_cast<size_t>(bytes), &data)) {
        return FALSE;
    }
    if (!AppendNewBand(job.Bands, band, data, width, height)) {
        return FALSE;
    }
    job.PendingBandWidth = width;
    job.PendingBandRows = height;
    return TRUE;
}

} // namespace

BOOL HandleFsSequence(ProcessorJob& job, HANDLE reader) {
    return HandleTableCommand(job, reader, FS, kFsCommands, sizeof(kFsCommands) / sizeof(kFsCommands[0]));
}

BOOL HandleGsSequence(ProcessorJob& job, HANDLE reader) {
    return HandleTableCommand(job, reader, GS, kGsCommands, sizeof(kGsCommands) / sizeof(kGsCommands[0]));
}

} // namespace kqprint
