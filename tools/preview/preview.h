// preview: draws an ESC/POS byte stream as the KQT-50 prints it on its paper, for a PNG that shows a
// receipt before paper is spent on it.
//
// It reads the stream that leaves the print processor: text in the printer's fonts A (12×24) and B (9×17)
// with its print modes, line spacing and feeds, raster and downloaded images, barcodes with their
// human-readable line, and a dashed red line with a label where the paper is cut. What it cannot show is
// skipped by its length and named once in a warning; nothing is drawn from it.
#pragma once

#include "escpos.h"
#include "fonts.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace preview {

// Colours of the picture. Marks are the preview's own notes (cuts, characters it cannot draw): they
// are never printed.
enum Ink : uint8_t { kPaper = 0, kDot = 1, kMark = 2 };

// One byte per dot, row after row from the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> dots;

    uint8_t At(int x, int y) const { return dots[static_cast<size_t>(y) * width + x]; }
};

// The longest command drawn: a longer one (an image that says it is gigabytes long, data that never ends) is
// skipped by its length, or to its NUL, and named in a warning, without being kept while it arrives.
inline constexpr size_t kLongestCommand = size_t{1} << 24;

struct Options {
    int paperWidth = 576;  // dots across the paper (72 mm at 8 dots a millimetre)
    int dpi = 203;         // dots per inch along the paper; the printer's feeds are in 1/180 inch
    int maxRows = 1 << 18; // the longest picture drawn (about 33 m at 203 dpi): longer ones stop there
};

struct Preview {
    Picture picture;
    std::vector<std::string> warnings; // each thing it could not show, once
};

// Draws a stream that may arrive in pieces: bytes as they come (a command may be cut across two pieces),
// and a picture at each cut when asked for one per receipt. It is three steps, each in files of its own:
// the interpreter reads the commands (interpreter.h), the layout sets lines and moves the paper (layout.h),
// and the canvas paints (canvas.h, characters.h).
class Renderer {
  public:
    enum class Pictures {
        One,           // the whole stream, cuts marked on it
        OnePerReceipt, // each cut ends a picture: the receipt down to its cut's mark
    };

    // `fonts` must outlive the renderer.
    explicit Renderer(const Fonts& fonts, const Options& options = {}, Pictures pictures = Pictures::One);
    Renderer(const Fonts&& fonts, const Options& options = {}, Pictures pictures = Pictures::One) = delete;
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // The next bytes of the stream; the receipts that cuts among them ended (none for Pictures::One), each
    // with the warnings that came up while it was drawn.
    std::vector<Preview> Write(std::span<const uint8_t> bytes);
    // The end of the stream: the picture of what no cut ended (the whole stream for Pictures::One; one row
    // of paper when nothing came after the last cut), with its warnings.
    Preview Finish();

    // Rows of paper moved past the print position since the stream began.
    int64_t FedRows() const;
    // Calls `seen` with each whole command read from now on, after it was drawn.
    void OnCommand(std::function<void(const escpos::Item& item, std::span<const uint8_t> command)> seen);

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The whole stream as one picture.
Preview Render(std::span<const uint8_t> stream, const Fonts& fonts, const Options& options = {});

// Writes `picture` as a PNG image (white paper, black dots, red marks).
bool WritePng(const Picture& picture, std::FILE* out, std::string* error);

} // namespace preview
