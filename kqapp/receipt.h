// A receipt as the print processor takes it from the printer application: raster lines become GS v 0 bands
// of the printed width, blank paper at the top and bottom of each page is left out, and the processor's own
// directives end pages and the job and ask for the cut. The bytes go to a sink (a spooled document).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kqapp {

// Takes bytes for the print processor; false when they could not be taken (the job ends).
using ByteSink = std::function<bool(const uint8_t* bytes, size_t count)>;

// How grey becomes dots: a threshold keeps text and bar codes sharp, error diffusion keeps the tones of a
// photograph; by content, each row is diffused when it is mostly tones (a photograph, a ramp) and
// thresholded when it is mostly black and white (text, lines, bar codes, even anti-aliased).
enum class Dither { Threshold, Diffusion, ByContent };

// A row is tones when at least this share of its dots is neither near white nor near black.
inline constexpr double kToneShare = 0.25;

// Where the paper is cut: never, after the job, or after every page.
enum class CutAfter { None, Job, Page };

// Rows of one GS v 0 band: the processor joins a page's bands into one image, so a band only bounds what
// is held here.
inline constexpr int kBandRows = 256;

// One page of raster lines as they arrive, 8 bits a pixel.
struct PageFormat {
    int width = 0;             // pixels per line
    int height = 0;            // lines the page announces
    bool inkIsHigh = false;    // 0 is white (device black); otherwise 0 is black (sGray)
    int printableDots = 576;   // the print head's width: the middle of the line is printed
    int maxRows = 65535 * 4;   // the longest page the printer takes, in rows
    Dither dither = Dither::Threshold;
};

// Why a page cannot be printed, or nothing.
std::optional<std::string> CheckPage(const PageFormat& format);

// Turns the lines of one page into bands: the rows above the first mark are dropped, blank rows between
// marks are kept, and blank rows after the last mark are dropped when the page ends. Holds at most one
// band and two rows of diffusion error, whatever the page's length.
class PageConverter {
  public:
    // The format must pass CheckPage.
    PageConverter(const PageFormat& format, ByteSink sink);

    // One line of `format.width` pixels. False when the sink failed or the page grew longer than the
    // printer takes (see error()); nothing more is taken then.
    bool Line(const uint8_t* pixels);
    // Sends the last band and forgets the blank rows after the last mark; false when the sink failed. A
    // page with marks (`marked()`) is then ended by the caller; a page without any prints nothing.
    bool Finish();

    bool marked() const { return marked_; }
    int64_t rowsIn() const { return rowsIn_; }
    int height() const { return format_.height; }
    int64_t rowsOut() const { return rowsOut_; }
    const std::string& error() const { return why_; }

  private:
    void DitherRow(const uint8_t* pixels, uint8_t* out);
    void Threshold(uint8_t* out) const;
    void Diffuse(uint8_t* out);
    bool AppendRow(const uint8_t* row);
    bool FlushBand();

    PageFormat format_;
    ByteSink sink_;
    int bytesPerRow_ = 0;
    int offset_ = 0;               // first pixel of the line under the head's first dot (negative: margin)
    std::vector<uint8_t> band_;    // header and rows of the band being filled
    int bandRows_ = 0;
    std::vector<uint8_t> row_;     // the current row's dots
    std::vector<uint8_t> light_;   // the current row's printed pixels as lightness (0 black, 255 white)
    std::vector<int> carry_[2];    // diffusion error for this row and the next, one guard cell each side
    int64_t rowsIn_ = 0;
    int64_t rowsOut_ = 0;
    int64_t blankRun_ = 0;         // blank rows since the last mark, not yet sent
    bool marked_ = false;
    bool failed_ = false;
    bool leftToRight_ = true;      // diffusion runs both ways, a row each
    std::string why_;
};

// The print processor's input for one job: the printer reset at the start, pages of bands each ended by
// the end-of-page directive, and the cut request and end-of-document directive where the paper is cut.
class ReceiptJob {
  public:
    ReceiptJob(CutAfter cut, ByteSink sink) : cut_(cut), sink_(std::move(sink)) {}

    // ESC @, once, before the first page.
    bool Start();
    // Ends a page that had marks: ESC P e 0, and the cut when every page is cut.
    bool EndPage();
    // Ends the job: the cut and the end of the document (nothing more when every page was cut).
    bool End();

    // The directives themselves, for tests and documentation.
    static const std::vector<uint8_t>& ResetBytes();
    static const std::vector<uint8_t>& EndPageBytes();
    static const std::vector<uint8_t>& CutBytes();
    static const std::vector<uint8_t>& EndDocumentBytes();

  private:
    bool Send(const std::vector<uint8_t>& bytes) { return sink_(bytes.data(), bytes.size()); }

    CutAfter cut_;
    ByteSink sink_;
};

} // namespace kqapp
