// Bitmap fonts for the receipt preview: the console fonts that stand in for the printer's font A (12×24)
// and font B (9×17, drawn from an 8×16 face), and GNU Unifont for Hangul and whatever the console fonts
// lack.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace preview {

// One character: width × height dots, one byte a dot (1 = set), row after row from the top.
struct Glyph {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> dots;

    bool At(int x, int y) const { return dots[static_cast<size_t>(y) * width + x] != 0; }
};

// Glyphs by Unicode code point.
class BitmapFont {
  public:
    // A PC Screen Font (version 1 or 2, gzip-compressed or not) with its Unicode table.
    static BitmapFont LoadPsf(const std::string& path, std::string* error);
    // A Unifont .hex file (8×16 and 16×16 glyphs).
    static BitmapFont LoadHex(const std::string& path, std::string* error);

    bool empty() const { return glyphs_.empty(); }
    // The glyph of `c`; null when the font has none.
    const Glyph* Find(char32_t c) const;
    // Adds a glyph (tests build small fonts with it).
    void Add(char32_t c, Glyph glyph);

  private:
    std::vector<Glyph> glyphs_;
    std::unordered_map<char32_t, size_t> index_;
};

// Where the fonts live: the files of Debian's console-setup-linux and unifont packages.
struct FontFiles {
    std::string fontA = "/usr/share/consolefonts/Uni2-Terminus24x12.psf.gz";
    std::string fontABold = "/usr/share/consolefonts/Uni2-TerminusBold24x12.psf.gz";
    std::string fontB = "/usr/share/consolefonts/Uni2-Terminus16.psf.gz";
    std::string fontBBold = "/usr/share/consolefonts/Uni2-TerminusBold16.psf.gz";
    std::string unifont = "/usr/share/unifont/unifont.hex";
};

struct Fonts {
    BitmapFont a, aBold, b, bBold;
    BitmapFont unifont;
    // One line per font that could not be loaded: its file and why.
    std::vector<std::string> missing;

    static Fonts Load(const FontFiles& files = FontFiles{});
};

} // namespace preview
