// Fuzzes the parameter lookup: any UTF-16 text, any key, and the size word's contract.
#include "kqprint.h"

#include <cstdlib>
#include <cstring>
#include <vector>

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
    }
    return 0;
}
