// Fuzzes the parameter lookup: any UTF-16 text, any key, the size word's contract, and the result against
// a second reading of the entries written here from the lookup's state table (blanks after the key token
// and after the value accepted, anything else after such blanks making the entry not match).
#include "kqprint.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

bool IsBlank(WCHAR c) { return c == ' ' || c == '\t'; }
bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }
WCHAR Upper(WCHAR c) { return c >= 'a' && c <= 'z' ? WCHAR(c - 'a' + 'A') : c; }

// The value found for `key` in `text`, or none.
std::optional<DWORD> Reference(const WCHAR* text, const WCHAR* key) {
    size_t keyLength = 0;
    while (key[keyLength]) {
        ++keyLength;
    }
    enum { BeforeKey, InKey, AfterKey, BeforeValue, InValue, AfterValue } state = BeforeKey;
    const WCHAR* token = nullptr;
    const WCHAR* value = nullptr;
    for (const WCHAR* p = text; *p; ++p) {
        const WCHAR c = *p;
        bool skip = false;
        if (state == BeforeKey) {
            if (c == '=') {
                skip = true;
            } else if (!IsBlank(c) && c != ';') {
                token = p;
                state = InKey;
            }
        } else if (state == InKey || state == AfterKey) {
            if (c == '=') {
                bool match = true;
                for (size_t i = 0; i < keyLength && match; ++i) {
                    match = token[i] && Upper(token[i]) == Upper(key[i]);
                }
                match ? void(state = BeforeValue) : void(skip = true);
            } else if (c == ';') {
                state = BeforeKey;
            } else if (IsBlank(c)) {
                state = AfterKey;
            } else if (state == AfterKey) {
                skip = true;
            }
        } else if (state == BeforeValue) {
            if (c == ';') {
                state = BeforeKey;
            } else if (c == '=') {
                skip = true;
            } else if (!IsBlank(c)) {
                value = p;
                state = InValue;
            }
        } else {
            if (c == ';') {
                if (IsDigit(*value)) {
                    uint64_t n = 0;
                    for (const WCHAR* d = value; IsDigit(*d) && n <= 0xFFFFFFFFull; ++d) {
                        n = n * 10 + uint64_t(*d - '0');
                    }
                    return n > 0xFFFFFFFFull ? 0xFFFFFFFFu : DWORD(n);
                }
                skip = true;
            } else if (c == '=') {
                skip = true;
            } else if (IsBlank(c)) {
                state = AfterValue;
            } else if (state == AfterValue) {
                skip = true;
            }
        }
        if (skip) {
            while (*p && *p != ';') {
                ++p;
            }
            if (!*p) {
                return std::nullopt;
            }
            state = BeforeKey;
        }
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // the first byte splits the input into the key and the parameter string
    const size_t keyChars = data[0] % 8;
    std::vector<WCHAR> text((size - 1) / 2 + 1, 0);
    std::memcpy(text.data(), data + 1, (size - 1) / 2 * sizeof(WCHAR));
    std::vector<WCHAR> key(keyChars + 1, 0);
    for (size_t i = 0; i < keyChars && i < text.size() - 1; ++i) {
        key[i] = text[i] ? text[i] : WCHAR('K');
    }
    const WCHAR* parameters = text.data() + (keyChars < text.size() ? keyChars : text.size() - 1);
    static const WCHAR kCopies[] = {'C', 'O', 'P', 'I', 'E', 'S', 0};
    for (const WCHAR* k : {static_cast<const WCHAR*>(kCopies), static_cast<const WCHAR*>(key.data())}) {
        USHORT sizeWord = sizeof(DWORD);
        DWORD value = 0xDEADBEEF;
        const DWORD error = kqprint::LookupNumericParameter(parameters, k, &sizeWord, &value);
        const bool found = error == ERROR_SUCCESS;
        if ((found && sizeWord != sizeof(DWORD)) || (!found && (sizeWord != 0 || error != ERROR_NO_DATA))) {
            std::abort();
        }
        if (!found && value != 0xDEADBEEF) {
            std::abort(); // nothing is stored unless found
        }
        const std::optional<DWORD> expected = Reference(parameters, k);
        if (expected.has_value() != found || (found && *expected != value)) {
            std::abort(); // another entry, or another value, than the state table gives
        }
    }
    return 0;
}
