// Text of the ANSI code page (949, double-byte) as user32 handles it: CharUpper and CharNext, copying text out
// to a caller's buffer, and the comparisons and searches of the controls.
#include "user32_private.h"

#include <cstring>

namespace kqwin {
namespace {

// The sort class of a character: punctuation and spaces, digits, letters, then everything else.
int SortClass(char16_t c) {
    if (c >= 0x80) {
        return 4;
    }
    if (c >= u'0' && c <= u'9') {
        return 2;
    }
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) {
        return 3;
    }
    return 1;
}

} // namespace

int CopyAnsiOut(std::u16string_view text, LPSTR out, int max) {
    if (!out || max <= 0) {
        return 0;
    }
    const std::string ansi = Utf16ToAnsi(text);
    const auto* bytes = reinterpret_cast<const unsigned char*>(ansi.c_str());
    size_t n = 0;
    while (n < ansi.size()) {
        const size_t len = AnsiCharBytes(bytes + n);
        if (n + len > static_cast<size_t>(max - 1)) {
            break;
        }
        n += len;
    }
    std::memcpy(out, ansi.data(), n);
    out[n] = '\0';
    return static_cast<int>(n);
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = AsciiUpper(a[i]);
        const char16_t y = AsciiUpper(b[i]);
        if (x == y) {
            continue;
        }
        const int cx = SortClass(x);
        const int cy = SortClass(y);
        if (cx != cy) {
            return cx < cy ? -1 : 1;
        }
        return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return prefix.size() <= text.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

bool EqualsNoCase16(std::u16string_view a, std::u16string_view b) { return CompareNoCase(a, b) == 0; }

} // namespace kqwin

using namespace kqwin;

extern "C" {

LPSTR WINAPI CharUpperA(LPSTR s) {
    if (IS_INTRESOURCE(s)) { // a single character in the low word
        const auto c = static_cast<unsigned char>(reinterpret_cast<uintptr_t>(s) & 0xFF);
        return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(AsciiUpper(c)));
    }
    AnsiUpperInPlace(reinterpret_cast<unsigned char*>(s), std::strlen(s));
    return s;
}

DWORD WINAPI CharUpperBuffA(LPSTR s, DWORD n) {
    if (!s) {
        return 0;
    }
    // the buffer may hold zero bytes: every byte of the count is looked at
    DWORD i = 0;
    auto* p = reinterpret_cast<unsigned char*>(s);
    while (i < n) {
        if (IsLeadByte(p[i]) && i + 1 < n) {
            i += 2;
        } else {
            p[i] = AsciiUpper(p[i]);
            ++i;
        }
    }
    return n;
}

LPSTR WINAPI CharNextA(LPCSTR s) {
    if (!s || !*s) {
        return const_cast<LPSTR>(s);
    }
    return const_cast<LPSTR>(s + AnsiCharBytes(reinterpret_cast<const unsigned char*>(s)));
}

} // extern "C"
