// escpos: an ESC/POS stream decoder of its own, independent of the print processor.
//
// It splits a byte stream into text runs and commands by the command lengths of the ESC/POS command set
// (plus the private ESC P directives that jobs for the KQT-50 carry), says where a command is cut short or
// unknown, and reads the GS v 0 raster images of a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace escpos {

using Bytes = std::vector<uint8_t>;
using View = std::span<const uint8_t>;

enum class Kind {
    Text,      // bytes up to the next prefix byte (DLE, ESC, FS, GS) or the end
    Command,   // one whole command
    Truncated, // the stream ends inside a command; the item runs to the end of the stream
    Unknown,   // a prefix and a second byte that start no known command; the item is those two bytes
    Malformed, // a known command with a selector byte it does not define; the item ends at that byte
    Refused,   // (KQT-50 reading only) a command of the printer that the print processor refuses as written
};

struct Item {
    Kind kind = Kind::Text;
    size_t offset = 0;
    size_t size = 0;
    // "ESC J", "GS v 0", "GS k", "ESC P e", "DLE EOT", ...; empty for text.
    std::string name;
    // A truncated item: the size the whole command would have had, when the bytes that say it arrived (0
    // when they did not).
    size_t expected = 0;
    // A refused item (KQT-50 reading): why the print processor refuses it.
    std::string note;

    size_t end() const { return offset + size; }
};

// The item that starts at `at` (at < stream.size()).
Item Next(View stream, size_t at);
// The whole stream, item after item.
std::vector<Item> Decode(View stream);
// True when every item is text or a whole command.
bool AllWhole(const std::vector<Item>& items);
// "ESC J 1b4a18" style text for messages; long items are cut with "...".
std::string Describe(View stream, const Item& item);
// 1,234,567: counts of bytes and dots for messages.
std::string Thousands(uint64_t n);
// What a command does, in words ("cancel Kanji character mode" for "FS ."); empty for a name it does
// not know.
std::string Meaning(const std::string& name);
// The name with its meaning for messages: "FS . (cancel Kanji character mode)"; a name without one stands
// alone.
std::string Named(const std::string& name);

// The item at `at` as the KQT-50's print processor reads it: its own, smaller command set and its own
// lengths (DLE always takes two bytes; GS V takes a second parameter only after 'B'; GS k data runs to
// NUL, CR or FF in both forms, dropping the ESC $, ESC -, ESC E and ESC J it holds; ESC D and GS k data
// must fit the processor's 512-byte buffer). An ESC/POS command outside that set is Unknown (named as
// ESC/POS names it); a KQT-50 command that the processor refuses as written is Refused or Malformed.
Item Kqt50Next(View stream, size_t at);
// The item at `at` as the KQT-50 itself reads what its print processor sends it: by the ESC/POS lengths of
// Next, except GS V, whose second parameter it too takes only after 'B' (as Kqt50Next reads it).
Item Kqt50PrinterNext(View stream, size_t at);

// A raster image: `width` bytes per row (8 dots each, leftmost dot in the high bit), `rows` rows.
struct Bitmap {
    int width = 0;
    int rows = 0;
    Bytes data; // width * rows bytes, row after row from the top

    bool operator==(const Bitmap&) const = default;
    // Rows of zeros.
    static Bitmap Blank(int width, int rows);
};

// The image of a GS v 0 item; none for any other item.
std::optional<Bitmap> ReadRaster(View stream, const Item& item);
// Every GS v 0 image of the stream, in order.
std::vector<Bitmap> RasterImages(View stream);
// How many whole GS v 0 images the stream holds.
size_t CountRasterImages(View stream);
// Images one below the other: as wide as the widest, narrower ones padded with zeros on the right.
Bitmap Stack(const std::vector<Bitmap>& images);
// Every GS v 0 image of the stream stacked into one bitmap, as Stack lays them.
inline Bitmap StackRasterImages(View stream) {
    return Stack(RasterImages(stream));
}
// The GS v 0 command (mode 0) that prints `image`.
Bytes EncodeRaster(const Bitmap& image);
// A picture of rows for messages: '#' for a set dot, '.' for a clear one, at most `maxRows` rows.
std::string ToText(const Bitmap& image, int maxRows = 64);

} // namespace escpos
