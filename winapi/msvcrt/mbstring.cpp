// The C runtime's _mbs functions on strings of the ANSI code page (949, double-byte).
#include "msvcrt_private.h"

#include <mbstring.h>

#include <cstring>

using namespace kqwin;

extern "C" {

int _mbscmp(const unsigned char* a, const unsigned char* b) {
    for (;;) {
        const size_t la = AnsiCharBytes(a);
        const size_t lb = AnsiCharBytes(b);
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
    for (const unsigned char* p = str;; p += AnsiCharBytes(p)) {
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
        AnsiUpperInPlace(s, std::strlen(reinterpret_cast<const char*>(s)));
    }
    return s;
}

} // extern "C"
