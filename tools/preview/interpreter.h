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

// A command as the interpreter took it: its item and its bytes.
using CommandSeen = std::function<void(const escpos::Item& item, escpos::View command)>;

class Interpreter {
  public:
    // `atCut` runs after each cut, once its mark is on the paper.
    Interpreter(Layout& layout, Warnings& warnings, std::function<void()> atCut = {});

    // Each whole command, after the interpreter has acted on it.
    void OnCommand(CommandSeen seen) { seen_ = std::move(seen); }

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

    // What the command that waits at the start of `pending_` needs before reading it again can get further:
    // so many bytes in all, or a NUL among the new ones (data that runs to a NUL); anything, otherwise.
    struct Wait {
        size_t size = 0;
        bool nul = false;
    };

    // Reads `stream` from its start; how far it got (all of it at the `end` of the stream).
    size_t Read(escpos::View stream, bool end);
    // Whether `bytes`, added to what waits, may let the waiting command end.
    bool MayEnd(escpos::View bytes) const;
    // Drops what a command too long to keep has left to come; the bytes of `bytes` after it.
    escpos::View Skip(escpos::View bytes);
    // Gives up on a waiting command that has grown too long to keep.
    void DropLongCommand();
    // The warning for a command too long to draw, named `name`, at byte `at` of the stream.
    void TooLong(const std::string& name, uint64_t at);
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
    Wait wait_;                    // what the command in `pending_` waits for
    uint64_t skip_ = 0;            // bytes still to drop of a command too long to keep
    bool skipToNul_ = false;       // drop bytes up to and with the next NUL
    CommandSeen seen_;
};

} // namespace preview
