// Barcodes of GS k as bars: the symbologies a receipt carries most (UPC-A, EAN-13, EAN-8, CODE39, ITF,
// CODE128), encoded from the command's data as the printer does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace preview {

struct Bars {
    // Widths in modules, bar and space in turn, starting with a bar. A narrow element is one module, a
    // wide one (CODE39, ITF) is `wide` modules over two, so that 5 gives the usual ratio of 1 to 2.5.
    std::vector<int> widths;
    bool halfModules = false; // widths are in half modules (CODE39 and ITF)
    std::string text;         // the human-readable line

    // An element's width in dots, for a module of `module` dots.
    int Dots(int element, int module) const { return halfModules ? element * module / 2 : element * module; }
    // The symbol's width in dots.
    int Width(int module) const {
        int width = 0;
        for (const int w : widths) {
            width += Dots(w, module);
        }
        return width;
    }
};

// The GS k system byte `m` (both forms) as a name: "EAN13", "CODE128", ...; empty for an unknown one.
std::string BarcodeName(uint8_t m);
// The bars of `data` for system `m`; none with `why` when the system is not drawn or the data is not one
// the printer prints.
std::optional<Bars> EncodeBarcode(uint8_t m, const std::string& data, std::string* why);

} // namespace preview
