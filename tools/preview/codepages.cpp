#include "codepages.h"

#include <algorithm>
#include <cstring>

namespace preview {

CodePage::CodePage(const char* name) : cd_(iconv_open("UTF-32LE", name)) {}

CodePage::~CodePage() {
    if (ok()) {
        iconv_close(cd_);
    }
}

std::optional<char32_t> CodePage::Char(const uint8_t* bytes, size_t count) {
    if (!ok()) {
        return std::nullopt;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char in[4];
    std::memcpy(in, bytes, std::min<size_t>(count, sizeof(in)));
    uint8_t out[8];
    char* ip = in;
    char* op = reinterpret_cast<char*>(out);
    size_t il = count, ol = sizeof(out);
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 || ol != 4) {
        return std::nullopt;
    }
    return out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
}

const char* CodeTableName(int n) {
    switch (n) {
    case 0:
        return "CP437";
    case 2:
        return "CP850";
    case 3:
        return "CP860";
    case 4:
        return "CP863";
    case 5:
        return "CP865";
    case 16:
        return "CP1252";
    case 17:
        return "CP866";
    case 18:
        return "CP852";
    case 19:
        return "CP858";
    default:
        return nullptr;
    }
}

} // namespace preview
