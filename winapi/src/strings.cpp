// Strings of the ANSI code page (949, double-byte): the C runtime's _mbs functions, CharUpper and CharNext,
// and the text comparisons of the controls.
#include "user32.h"

#include <mbstring.h>

#include <cstring>

namespace kqwin {
namespace {

bool IsLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Length in bytes of the character at p (1 or 2); a lead byte before the terminating zero stands alone.
size_t CharLen(const unsigned char* p) { return (IsLead(p[0]) && p[1] != 0) ? 2 : 1; }

unsigned char UpperByte(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// Uppercases the single-byte letters of n bytes, leaving double-byte characters whole; returns bytes seen.
size_t UpperInPlace(unsigned char* p, size_t n) {
    size_t i = 0;
    while (i < n && p[i]) {
        if (IsLead(p[i]) && i + 1 < n && p[i + 1]) {
            i += 2;
        } else {
            p[i] = UpperByte(p[i]);
            ++i;
        }
    }
    return i;
}

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

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
        const size_t len = CharLen(bytes + n);
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
        const char16_t x = Fold(a[i]);
        const char16_t y = Fold(b[i]);
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

int _mbscmp(const unsigned char* a, const unsigned char* b) {
    for (;;) {
        const size_t la = CharLen(a);
        const size_t lb = CharLen(b);
        // a double-byte character compares as one 16-bit value, lead byte high
        const unsigned va = la == 2 ? (unsigned{a[0]} << 8 | a[1]) : a[0];
        const unsigned vb = lb == 2 ? (unsigned{b[0]} << 8 | b[1]) : b[0];
        if (va != vb) {
            return va < vb ? -1 : 1;
        }
        if (va == 0) {
            return 0;
        }
        a += la;
        b += lb;
    }
}

unsigned char* _mbsstr(const unsigned char* str, const unsigned char* sub) {
    const size_t n = std::strlen(reinterpret_cast<const char*>(sub));
    for (const unsigned char* p = str;; p += CharLen(p)) {
        if (std::strncmp(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(sub), n) == 0) {
            return const_cast<unsigned char*>(p);
        }
        if (*p == 0) {
            return nullptr;
        }
    }
}

unsigned char* _mbsupr(unsigned char* s) {
    if (s) {
        UpperInPlace(s, std::strlen(reinterpret_cast<const char*>(s)));
    }
    return s;
}

LPSTR WINAPI CharUpperA(LPSTR s) {
    if (IS_INTRESOURCE(s)) { // a single character in the low word
        const auto c = static_cast<unsigned char>(reinterpret_cast<uintptr_t>(s) & 0xFF);
        return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(UpperByte(c)));
    }
    UpperInPlace(reinterpret_cast<unsigned char*>(s), std::strlen(s));
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
        if (IsLead(p[i]) && i + 1 < n) {
            i += 2;
        } else {
            p[i] = UpperByte(p[i]);
            ++i;
        }
    }
    return n;
}

LPSTR WINAPI CharNextA(LPCSTR s) {
    if (!s || !*s) {
        return const_cast<LPSTR>(s);
    }
    return const_cast<LPSTR>(s + CharLen(reinterpret_cast<const unsigned char*>(s)));
}

BOOL WINAPI IsDBCSLeadByte(BYTE c) { return IsLead(c) ? TRUE : FALSE; }

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
    if (!dst || !src || max <= 0) {
        return dst;
    }
    int i = 0;
    for (; i < max - 1 && src[i]; ++i) {
        dst[i] = src[i];
    }
    dst[i] = '\0';
    return dst;
}

} // extern "C"
