// The code pages of the printer's text, converted to Unicode with the system's converter (iconv).
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace preview {

class CodePage {
  public:
    explicit CodePage(const char* name);
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    // The one character that `bytes` encode; none when they encode no character (or the system has no
    // converter for the code page).
    std::optional<char32_t> Char(const uint8_t* bytes, size_t count);

  private:
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t cd_;
};

// The converter's name for the character code table `n` of ESC t; null for a table it does not know.
const char* CodeTableName(int n);

} // namespace preview
