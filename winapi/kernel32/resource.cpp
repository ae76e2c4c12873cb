// The program's resources, as FindResourceA and LoadResource find them in a program's image: here a .res file
// handed over before main() runs (see kqwin/resources.h).
#include "kernel32_private.h"

#include "kqwin/resources.h"
#include "resfields.h"

#include <cstdlib>
#include <cstring>
#include <deque>

namespace kqwin {
namespace {

// A resource type or name: an ordinal, or a name (kept upper case, as resource compilers store names).
struct ResName {
    WORD id = 0;
    std::u16string name;
    bool operator==(const ResName& other) const { return id == other.id && name == other.name; }
};

struct Entry {
    ResName type;
    ResName name;
    WORD language = 0;
    const BYTE* data = nullptr;
    DWORD size = 0;
};

struct ResourceTable {
    std::mutex mutex;
    std::deque<Entry> entries; // a deque: HRSRC values point at entries and stay valid
};

ResourceTable& Resources() {
    static ResourceTable table;
    return table;
}

std::u16string Upper16(std::u16string s) {
    for (char16_t& c : s) {
        c = AsciiUpper(c);
    }
    return s;
}

// MAKEINTRESOURCE, "#123" or a name
ResName ResNameOf(LPCSTR s) {
    if (IS_INTRESOURCE(s)) {
        return ResName{static_cast<WORD>(reinterpret_cast<uintptr_t>(s)), {}};
    }
    if (s[0] == '#') {
        return ResName{static_cast<WORD>(std::strtoul(s + 1, nullptr, 10)), {}};
    }
    return ResName{0, Upper16(AnsiToUtf16(s))};
}

// The entry behind an HRSRC of the program.
const Entry* EntryOf(ResourceTable& table, HRSRC info) {
    for (const Entry& e : table.entries) {
        if (reinterpret_cast<HRSRC>(const_cast<Entry*>(&e)) == info) {
            return &e;
        }
    }
    return nullptr;
}

} // namespace

void RegisterProgramResources(const BYTE* res, size_t size) {
    ResourceTable& p = Resources();
    std::lock_guard lock(p.mutex);
    p.entries.clear();
    size_t pos = 0;
    while (res && pos + 8 <= size) {
        const DWORD dataSize = ReadField<DWORD>(res + pos);
        const DWORD headerSize = ReadField<DWORD>(res + pos + 4);
        if (headerSize < 16 || pos + headerSize > size || pos + headerSize + dataSize > size) {
            break; // a damaged file: keep what was read
        }
        size_t field = pos + 8;
        const size_t headerEnd = pos + headerSize;
        Entry e;
        bool ordinal = false;
        if (!ReadNameField(res, headerEnd, &field, &e.type.name, &e.type.id, &ordinal) ||
            !ReadNameField(res, headerEnd, &field, &e.name.name, &e.name.id, &ordinal)) {
            break;
        }
        e.type.name = Upper16(e.type.name);
        e.name.name = Upper16(e.name.name);
        field = Align4(field);
        if (field + 16 <= headerEnd) {
            e.language = ReadField<WORD>(res + field + 6);
        }
        e.data = res + headerEnd;
        e.size = dataSize;
        // the file starts with an empty entry (type and name 0) that marks the format
        if (e.type.id != 0 || !e.type.name.empty()) {
            p.entries.push_back(e);
        }
        pos = Align4(headerEnd + dataSize);
    }
}

} // namespace kqwin

using namespace kqwin;

extern "C" {

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if (!IsProgramModule(module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (!name || !type) {
        SetLastError(!type ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const ResName t = ResNameOf(type);
    const ResName n = ResNameOf(name);
    ResourceTable& p = Resources();
    std::lock_guard lock(p.mutex);
    bool typeSeen = false;
    for (Entry& e : p.entries) {
        if (e.type == t) {
            typeSeen = true;
            if (e.name == n) {
                return reinterpret_cast<HRSRC>(&e);
            }
        }
    }
    if (p.entries.empty()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    } else {
        SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC info) {
    if (!info || !IsProgramModule(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ResourceTable& p = Resources();
    std::lock_guard lock(p.mutex);
    if (const Entry* e = EntryOf(p, info)) {
        return const_cast<BYTE*>(e->data);
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

LPVOID WINAPI LockResource(HGLOBAL data) { return data; }

DWORD WINAPI SizeofResource(HMODULE module, HRSRC info) {
    if (!info || !IsProgramModule(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    ResourceTable& p = Resources();
    std::lock_guard lock(p.mutex);
    if (const Entry* e = EntryOf(p, info)) {
        return e->size;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; } // resources live as long as the module: nothing to free

} // extern "C"
