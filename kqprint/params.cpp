// The job's parameter string: entries KEY=value; of which only numeric values are looked up.
#include "kqprint.h"

namespace kqprint {
namespace {

bool IsBlank(WCHAR c) { return c == 0x20 || c == 0x09; }
bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }

WCHAR UpperAscii(WCHAR c) { return (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

// Whether the text at `token` begins with `key`, without regard to case; stops at the first difference, so
// it never reads past the text's terminator.
bool KeyMatches(LPCWSTR token, LPCWSTR key) {
    for (; *key; ++key, ++token) {
        if (UpperAscii(*token) != UpperAscii(*key)) {
            return false;
        }
    }
    return true;
}

// The value's leading decimal digits as an unsigned 32-bit number, as wcstoul reads them (saturating).
DWORD ConvertValue(LPCWSTR value) {
    uint64_t n = 0;
    for (; IsDigit(*value); ++value) {
        n = n * 10 + static_cast<uint64_t>(*value - '0');
        if (n > 0xFFFFFFFFull) {
            return 0xFFFFFFFF;
        }
    }
    return static_cast<DWORD>(n);
}

enum class State {
    BeforeKey,
    InKey,
    AfterKey, // blanks after the key token, before its '='
    BeforeValue,
    InValue,
    AfterValue, // blanks after the value, before its ';'
};

} // namespace

DWORD LookupNumericParameter(LPCWSTR parameters, LPCWSTR key, USHORT* sizeWord, DWORD* value) {
    if (!parameters || !key || !sizeWord || !value) {
        if (sizeWord) {
            *sizeWord = 0;
        }
        return ERROR_INVALID_PARAMETER;
    }
    if (*sizeWord < sizeof(DWORD)) {
        *sizeWord = 0;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    State state = State::BeforeKey;
    LPCWSTR token = nullptr;
    LPCWSTR valueStart = nullptr;
    for (LPCWSTR p = parameters; *p; ++p) {
        const WCHAR c = *p;
        bool skipEntry = false;
        switch (state) {
        case State::BeforeKey:
            if (c == '=') {
                skipEntry = true;
            } else if (!IsBlank(c) && c != ';') {
                token = p;
                state = State::InKey;
            }
            break;
        case State::InKey:
        case State::AfterKey:
            if (c == '=') {
                if (KeyMatches(token, key)) {
                    state = State::BeforeValue;
                } else {
                    skipEntry = true;
                }
            } else if (c == ';') {
                state = State::BeforeKey;
            } else if (IsBlank(c)) {
                state = State::AfterKey; // "KEY =value" is accepted
            } else if (state == State::AfterKey) {
                skipEntry = true; // "KEY X=value" is not an entry of KEY
            }
            break;
        case State::BeforeValue:
            if (c == ';') {
                state = State::BeforeKey; // an entry without a value is ignored
            } else if (c == '=') {
                skipEntry = true;
            } else if (!IsBlank(c)) {
                valueStart = p;
                state = State::InValue;
            }
            break;
        case State::InValue:
        case State::AfterValue:
            if (c == ';') {
                if (IsDigit(*valueStart)) {
                    *value = ConvertValue(valueStart);
                    return ERROR_SUCCESS;
                }
                skipEntry = true;
            } else if (c == '=') {
                skipEntry = true;
            } else if (IsBlank(c)) {
                state = State::AfterValue; // "KEY=3 ;" is accepted
            } else if (state == State::AfterValue) {
                skipEntry = true; // "KEY=3 4;" is not a number
            }
            break;
        }
        if (skipEntry) {
            while (*p && *p != ';') {
                ++p;
            }
            if (!*p) {
                break;
            }
            state = State::BeforeKey;
        }
    }
    *sizeWord = 0;
    return ERROR_NO_DATA;
}

} // namespace kqprint
