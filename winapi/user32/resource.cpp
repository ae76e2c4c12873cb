// A module's resources as user32 reads them, through kernel32's FindResourceA; the strings of its string
// tables.
#include "user32_private.h"

#include "resfields.h"

#include <cstring>

namespace kqwin {

std::optional<ResourceBytes> FindResourceBytes(HINSTANCE module, LPCSTR name, LPCSTR type) {
    const HRSRC info = FindResourceA(module, name, type);
    if (!info) {
        return std::nullopt;
    }
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
    if (!data) {
        return std::nullopt;
    }
    return ResourceBytes{data, SizeofResource(module, info)};
}

} // namespace kqwin

using namespace kqwin;

extern "C" {

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int max) {
    const FaultDecision fault = CheckFault(control::Op::LoadStringResource);
    if (!buffer || max <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    if (fault.fail) {
        SetLastError(fault.error);
        return 0;
    }
    // strings come in blocks of 16, block n + 1 holding ids 16n to 16n + 15, each a length and UTF-16 text
    const auto table = FindResourceBytes(instance, MAKEINTRESOURCEA(((id & 0xFFFF) >> 4) + 1), AnsiResourceId(RT_STRING));
    if (!table) {
        return 0;
    }
    size_t pos = 0;
    std::u16string text;
    for (UINT i = 0; i <= (id & 0xF); ++i) {
        if (pos + 2 > table->size) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        const WORD len = ReadField<WORD>(table->data + pos);
        pos += 2;
        if (pos + size_t{len} * 2 > table->size) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return 0;
        }
        if (i == (id & 0xF)) {
            text.resize(len);
            std::memcpy(text.data(), table->data + pos, size_t{len} * 2);
        }
        pos += size_t{len} * 2;
    }
    if (text.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    return CopyAnsiOut(text, buffer, max);
}

} // extern "C"
