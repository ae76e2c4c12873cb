// Command interpretation: reads the stream item by item through escpos as the KQT-50 reads it, keeps the
// printer's modes, and turns each command and text byte into steps of the line layout. The stream may come
// in pieces: a command (or a double-byte character) cut at the end of one waits for the rest.
#pragma once

#include "codepages.h"
#include "escpos.h"
#include "layout.h"
#include "warnings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace preview {

class Interpreter {
  public:
    // `atCut` runs after each cut, once its mark is on the paper.
    Interpreter(Layout& layout, Warnings& warnings, std::function<void()> atCut = {});

    // The next bytes of the stream.
    void Write(escpos::View bytes);
    // The end of the stream: what waits is read as it stands (a command cut short is named in a warning).
    void Finish();

  private:
    // The modes that are not the layout's.
    struct Modes {
        bool korean = false; // code page 949 double-byte text: after FS & or ESC R 13 (Korea)
        bool won = false;    // ESC R 13 also puts the won sign in place of the backslash
        int codeTable = 0;
        BarcodeLook barcode;
    };

    // Reads `stream` from its start; how far it got (all of it at the `end` of the stream).
    size_t Read(escpos::View stream, bool end);
    // Text bytes [from, to); where it stopped: before a lead byte whose second byte is still to come when
    // `more` may follow.
    size_t Text(escpos::View stream, size_t from, size_t to, bool more);
    void Handle(escpos::View stream, const escpos::Item& item);
    void Command(escpos::View stream, const escpos::Item& item);
    void Barcode(escpos::View command);
    void DefineNvImages(escpos::View command);
    std::optional<escpos::Bitmap> ColumnImage(escpos::View data, int x, int y) const;
    void NotShown(const escpos::Item& item);

    Layout& layout_;
    Warnings& warnings_;
    std::function<void()> atCut_;
    bool cut_ = false; // the command just handled cut the paper
    Modes modes_;
    CodePage korean_{"CP949"};
    std::unique_ptr<CodePage> table_;
    int tableNumber_ = -1;
    std::optional<escpos::Bitmap> downloaded_;
    std::vector<escpos::Bitmap> nvImages_;
    std::vector<uint8_t> pending_; // bytes that wait for the rest of their command
    uint64_t consumed_ = 0;        // the stream's bytes before the first of `pending_`
};

} // namespace preview
