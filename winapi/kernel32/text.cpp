// Text: debugger output, the lstr functions, the code page conversions and the double-byte lead-byte test.
#include "kernel32_private.h"

#include "observers.h"

#include <algorithm>
#include <cstring>

namespace kqwin {

void DebugOutputLine(const std::string& utf8) {
    if (Kernel32Observer* observer = Kernel32Hook().Get()) {
        observer->DebugOutput(utf8);
    }
}

} // namespace kqwin

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
    for (;; ++a, ++b) {
        const char16_t x = AsciiUpper(*a);
        const char16_t y = AsciiUpper(*b);
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



BOOL WINAPI IsDBCSLeadByte(BYTE c) { return IsLeadByte(c) ? TRUE : FALSE; }

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
