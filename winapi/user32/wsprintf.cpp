// wvsprintfA and wsprintfA, user32's own formatter.
#include "user32_private.h"

#include <cstdio>
#include <cstring>

using namespace kqwin;

extern "C" {

// wvsprintfA as user32 has it: %c %d %i %u %x %X %s %S, with the flags '-', '#' and '0', a width, a
// precision for strings, the size prefixes h and l; no floating point; at most 1024 bytes of output.
int WINAPI wvsprintfA(LPSTR out, LPCSTR fmt, va_list args) {
    constexpr size_t kMax = 1024;
    if (!out || !fmt) {
        return 0;
    }
    std::string s;
    for (const char* p = fmt; *p && s.size() < kMax; ++p) {
        if (*p != '%') {
            s += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            s += '%';
            continue;
        }
        bool left = false;
        bool zero = false;
        bool alt = false;
        for (;; ++p) {
            if (*p == '-') {
                left = true;
            } else if (*p == '0') {
                zero = true;
            } else if (*p == '#') {
                alt = true;
            } else {
                break;
            }
        }
        size_t width = 0;
        while (*p >= '0' && *p <= '9') {
            width = width * 10 + static_cast<size_t>(*p++ - '0');
        }
        long precision = -1;
        if (*p == '.') {
            ++p;
            precision = 0;
            while (*p >= '0' && *p <= '9') {
                precision = precision * 10 + (*p++ - '0');
            }
        }
        char sizePrefix = 0;
        if (*p == 'h' || *p == 'l' || *p == 'w') {
            sizePrefix = *p == 'w' ? 'l' : *p;
            ++p;
        }
        if (*p == 'I' && p[1] == '6' && p[2] == '4') { // %I64 is not needed by the kit: print nothing
            p += 2;
        }
        std::string field;
        switch (*p) {
        case 'c':
            field = static_cast<char>(va_arg(args, int));
            break;
        case 'C':
            field = static_cast<char>(va_arg(args, int));
            break;
        case 'd':
        case 'i':
            field = std::to_string(static_cast<long long>(va_arg(args, int)));
            break;
        case 'u':
            field = std::to_string(va_arg(args, unsigned int));
            break;
        case 'x':
        case 'X': {
            char buf[16];
            std::snprintf(buf, sizeof(buf), *p == 'x' ? "%x" : "%X", va_arg(args, unsigned int));
            field = buf;
            if (alt) {
                field = (*p == 'x' ? "0x" : "0X") + field;
            }
            break;
        }
        case 's':
        case 'S': {
            const bool wide = sizePrefix == 'l' || (*p == 'S' && sizePrefix != 'h');
            if (wide) {
                const auto* w = va_arg(args, const char16_t*);
                field = w ? Utf16ToAnsi(w) : "(null)";
            } else {
                const char* a = va_arg(args, const char*);
                field = a ? a : "(null)";
            }
            if (precision >= 0 && field.size() > static_cast<size_t>(precision)) {
                field.resize(static_cast<size_t>(precision));
            }
            break;
        }
        case '\0':
            --p;
            continue;
        default:
            field = *p;
            break;
        }
        if (field.size() < width) {
            const std::string pad(width - field.size(), (zero && !left) ? '0' : ' ');
            field = left ? field + pad : pad + field;
        }
        s += field;
    }
    if (s.size() > kMax - 1) {
        s.resize(kMax - 1);
    }
    std::memcpy(out, s.c_str(), s.size() + 1);
    return static_cast<int>(s.size());
}

int wsprintfA(LPSTR out, LPCSTR fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = wvsprintfA(out, fmt, args);
    va_end(args);
    return n;
}

} // extern "C"
