// Text as the machine keeps it: UTF-16 strings, UTF-8 for the host, and the ANSI code page 949 (converted
// with glibc's iconv), the conversions every DLL needs, as Wine's DLLs have them from ntdll.
#include "machine.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kqwin {

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        uint32_t c = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len <= s.size()) {
                c = b & (0x7F >> len);
                for (size_t k = 1; k < len; ++k) {
                    const auto cont = static_cast<unsigned char>(s[i + k]);
                    if ((cont & 0xC0) != 0x80) {
                        c = 0xFFFD;
                        len = k;
                        break;
                    }
                    c = (c << 6) | (cont & 0x3F);
                }
            } else {
                len = s.size() - i;
            }
        }
        i += len;
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c > 0x10FFFF ? 0xFFFD : c);
        }
    }
    return out;
}

namespace {

// Converts with iconv; characters that cannot be converted become '?'.
std::string Convert(const char* to, const char* from, const char* data, size_t size, size_t unit) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return {};
    }
    std::string out;
    char buf[1024];
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof(buf);
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, static_cast<size_t>(o - buf));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // skip one unit of input that cannot be converted
            const size_t skip = inLeft < unit ? inLeft : unit;
            in += skip;
            inLeft -= skip;
            out += (std::strcmp(to, "UTF-16LE") == 0) ? std::string("?\0", 2) : std::string("?");
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::u16string AnsiToUtf16(std::string_view s) {
    if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return std::u16string(s.begin(), s.end()); // ASCII is the same in both
    }
    const std::string bytes = Convert("UTF-16LE", "CP949", s.data(), s.size(), 1);
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return out;
}

std::string Utf16ToAnsi(std::u16string_view s) {
    if (std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; })) {
        return std::string(s.begin(), s.end());
    }
    std::string le(s.size() * 2, '\0');
    for (size_t i = 0; i < s.size(); ++i) {
        le[2 * i] = static_cast<char>(s[i] & 0xFF);
        le[2 * i + 1] = static_cast<char>(s[i] >> 8);
    }
    return Convert("CP949", "UTF-16LE", le.data(), le.size(), 2);
}

std::u16string WideOrEmpty(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

std::string AnsiOrEmpty(LPCSTR s) { return s ? std::string(s) : std::string(); }

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

size_t AnsiUpperInPlace(unsigned char* p, size_t n) {
    size_t i = 0;
    while (i < n && p[i]) {
        if (IsLeadByte(p[i]) && i + 1 < n && p[i + 1]) {
            i += 2;
        } else {
            p[i] = AsciiUpper(p[i]);
            ++i;
        }
    }
    return i;
}

} // namespace kqwin
