// The band list of a page and the page image that is made of it.
#include "kqprint.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kqprint {
namespace {

constexpr LONG kMaxImageRows = 0xFFFF; // the 16-bit height of GS v 0
constexpr size_t kHeaderBytes = 8;

// A position in the rows of a band list, walking down the page.
struct RowCursor {
    const RasterBand* band;
    LONG row;

    void SkipEmpty() {
        while (band && row >= band->Rows) {
            band = band->Next;
            row = 0;
        }
    }
};

// Writes `rows` rows from the cursor as one GS v 0 image of `width` bytes per row; false without memory.
bool WriteImage(HANDLE printer, LONG width, LONG rows, RowCursor& cursor) {
    const uint64_t bytes = uint64_t(width) * uint64_t(rows) + kHeaderBytes;
    if (bytes > SIZE_MAX || bytes > MAXDWORD) {
        return false;
    }
    const MallocPtr<BYTE> block(static_cast<BYTE*>(std::malloc(static_cast<size_t>(bytes))));
    if (!block) {
        return false;
    }
    BYTE* out = block.get();
    const BYTE header[kHeaderBytes] = {0x1D,
                                       0x76,
                                       0x30,
                                       0x00,
                                       static_cast<BYTE>(width % 256),
                                       static_cast<BYTE>((width / 256) % 256),
                                       static_cast<BYTE>(rows % 256),
                                       static_cast<BYTE>((rows / 256) % 256)};
    std::memcpy(out, header, kHeaderBytes);
    out += kHeaderBytes;
    // Band by band: rows of a band as wide as the image lie one after the other in the band and in the
    // image, and go over in one copy; narrower bands row by row, padded with zeros on the right.
    for (LONG r = 0; r < rows;) {
        cursor.SkipEmpty();
        const RasterBand* band = cursor.band;
        const LONG n = band ? std::min(rows - r, band->Rows - cursor.row) : rows - r;
        const LONG take = (band && band->Data) ? std::min(band->Width, width) : 0;
        const size_t pad = size_t(width - take);
        if (take == 0) {
            std::memset(out, 0, size_t(n) * size_t(width));
        } else if (take == width && band->Width == width) {
            std::memcpy(out, band->Data + size_t(cursor.row) * size_t(band->Width),
                        size_t(n) * size_t(width));
        } else {
            const BYTE* from = band->Data + size_t(cursor.row) * size_t(band->Width);
            BYTE* to = out;
            for (LONG i = 0; i < n; ++i, from += band->Width, to += width) {
                std::memcpy(to, from, size_t(take));
                if (pad > 0) {
                    std::memset(to + take, 0, pad);
                }
            }
        }
        out += size_t(n) * size_t(width);
        cursor.row += n;
        r += n;
    }
    DWORD written = 0;
    WritePrinter(printer, block.get(), static_cast<DWORD>(bytes), &written); // not looked at
    return true;
}

} // namespace

bool AppendBand(BandList& list, RasterBand* band) {
    if (band->Rows < 0 || band->Width < 0 || list.BandTotalRows > INT_MAX - band->Rows) {
        return false;
    }
    band->Next = nullptr;
    if (band->Width > list.BandMaxWidth) {
        list.BandMaxWidth = band->Width;
    }
    list.BandTotalRows += band->Rows;
    if (!list.BandHead) {
        list.BandHead = band;
    } else {
        list.BandTail->Next = band;
    }
    list.BandTail = band;
    return true;
}

bool AppendNewBand(BandList& list, MallocPtr<RasterBand>& band, MallocPtr<BYTE>& data, LONG width,
                   LONG rows) {
    if (!band) {
        return false;
    }
    band->Width = width;
    band->Rows = rows;
    band->Data = data.get();
    band->Next = nullptr;
    if (!AppendBand(list, band.get())) {
        return false;
    }
    data.release();
    band.release();
    return true;
}

void FreeBandList(RasterBand* head) {
    while (head) {
        RasterBand* next = head->Next;
        std::free(head->Data);
        std::free(head);
        head = next;
    }
}

void ClearBandList(BandList& list) {
    FreeBandList(list.BandHead);
    list = BandList{};
}

bool WritePageImage(HANDLE printer, LONG width, LONG height, const RasterBand* head) {
    RowCursor cursor{head, 0};
    LONG left = height;
    LONG chunk = std::min(left, kMaxImageRows);
    // Usually one image; a page taller than one image can say, or one whose block cannot be had whole,
    // goes out as images of fewer rows, one under the other.
    do { // an image of no rows is still written, as its header
        chunk = std::min(chunk, left);
        if (WriteImage(printer, width, chunk, cursor)) {
            left -= chunk;
        } else if (chunk > 1) {
            chunk = chunk / 2;
        } else {
            return false;
        }
    } while (left > 0);
    return true;
}

bool FlushBandList(BandList& list, HANDLE printer) {
    if (!list.BandHead) {
        return true;
    }
    const bool written = WritePageImage(printer, list.BandMaxWidth, list.BandTotalRows, list.BandHead);
    ClearBandList(list);
    return written;
}

} // namespace kqprint
