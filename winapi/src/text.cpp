// Text: UTF-16 strings, the machine's ANSI code page (949), debugger output and wvsprintfA.
#include "core.h"

#include <iconv.h>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kqwin {

// ---- debugger output --------------------------------------------------------------------------------

namespace {
struct DebugSink {
    std::mutex mutex;
    std::vector<std::string> lines;
    bool echo = std::getenv("KQT50_DEBUG") != nullptr;
};
DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}
} // namespace

void DebugOutputLine(const std::string& utf8) {
    DebugSink& sink = Sink();
    std::lock_guard lock(sink.mutex);
    sink.lines.push_back(utf8);
    if (sink.lines.size() > 100000) { // a long run keeps the newest lines only
        sink.lines.erase(sink.lines.begin(), sink.lines.begin() + 50000);
    }
    if (sink.echo) {
        std::fprintf(stderr, "[debug] %s%s", utf8.c_str(), (!utf8.empty() && utf8.back() == '\n') ? "" : "\n");
    }
}

void ResetDebugOutput() {
    std::lock_guard lock(Sink().mutex);
    Sink().lines.clear();
}

const ResetHook kDebugOutputOnReset(&ResetDebugOutput);

} // namespace kqwin

namespace kqwin::control {
std::vector<std::string> DebugOutput() {
    std::lock_guard lock(Sink().mutex);
    return Sink().lines;
}
void ClearDebugOutput() { ResetDebugOutput(); }
void EchoDebugOutput(bool on) {
    std::lock_guard lock(Sink().mutex);
    Sink().echo = on || std::getenv("KQT50_DEBUG") != nullptr;
}
} // namespace kqwin::control

using namespace kqwin;

extern "C" {

void WINAPI OutputDebugStringA(LPCSTR s) { DebugOutputLine(s ? Utf16ToUtf8(AnsiToUtf16(s)) : std::string()); }

void WINAPI OutputDebugStringW(LPCWSTR s) { DebugOutputLine(s ? Utf16ToUtf8(s) : std::string()); }

int WINAPI lstrlenW(LPCWSTR s) { return s ? static_cast<int>(std::char_traits<char16_t>::length(s)) : 0; }

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b) {
        return a ? 1 : (b ? -1 : 0);
    }
    auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; };
    for (;; ++a, ++b) {
        const char16_t x = fold(*a);
        const char16_t y = fold(*b);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (x == 0) {
            return 0;
        }
    }
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    if (!a || !b) {
        return a ? 1 : (b ? -1 : 0);
    }
    const std::string x = LowerAscii(a);
    const std::string y = LowerAscii(b);
    return x < y ? -1 : (x == y ? 0 : 1);
}

LPWSTR WINAPI lstrcpyW(LPWSTR dst, LPCWSTR src) {
    if (!dst || !src) {
        return nullptr;
    }
    LPWSTR d = dst;
    while ((*d++ = *src++) != 0) {
    }
    return dst;
}

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) {
        return nullptr;
    }
    return std::strcpy(dst, src);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
    if (!src || srcLen == 0 || dstLen < 0 || (dstLen > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = srcLen < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
    const std::string_view in(src, n);
    const std::u16string out = codePage == CP_UTF8 ? Utf8ToUtf16(in) : AnsiToUtf16(in);
    if (dstLen == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(dstLen)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(out.begin(), out.end(), dst);
    return static_cast<int>(out.size());
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int srcLen, LPSTR dst, int dstLen, LPCSTR,
                               LPBOOL usedDefault) {
    if (!src || srcLen == 0 || dstLen < 0 || (dstLen > 0 && !dst)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = srcLen < 0 ? std::char_traits<char16_t>::length(src) + 1 : static_cast<size_t>(srcLen);
    const std::u16string_view in(src, n);
    const std::string out = codePage == CP_UTF8 ? Utf16ToUtf8(in) : Utf16ToAnsi(in);
    if (usedDefault) {
        *usedDefault = FALSE;
    }
    if (dstLen == 0) {
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(dstLen)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(out.begin(), out.end(), dst);
    return static_cast<int>(out.size());
}

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
