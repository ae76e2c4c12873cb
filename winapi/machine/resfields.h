// The fields of Windows' binary resource formats, which kernel32 reads in a .res file's entry headers and
// user32 in dialog templates: little-endian values, and the field that holds either an ordinal (0xFFFF and
// a WORD) or a zero-terminated UTF-16 name.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

namespace kqwin {

template <class T> T ReadField(const BYTE* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

// Reads an ordinal-or-name field at `pos`; false when it runs past `end`.
inline bool ReadNameField(const BYTE* base, size_t end, size_t* pos, std::u16string* text, WORD* ordinal,
                          bool* isOrdinal) {
    if (*pos + 2 > end) {
        return false;
    }
    const WORD first = ReadField<WORD>(base + *pos);
    *isOrdinal = false;
    text->clear();
    *ordinal = 0;
    if (first == 0xFFFF) {
        if (*pos + 4 > end) {
            return false;
        }
        *ordinal = ReadField<WORD>(base + *pos + 2);
        *isOrdinal = true;
        *pos += 4;
        return true;
    }
    for (;;) {
        if (*pos + 2 > end) {
            return false;
        }
        const auto c = static_cast<char16_t>(ReadField<WORD>(base + *pos));
        *pos += 2;
        if (c == 0) {
            return true;
        }
        text->push_back(c);
    }
}

// Entries and template items start on 4-byte boundaries.
constexpr size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

} // namespace kqwin
