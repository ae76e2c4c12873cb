// The program: its resources (a .res file handed over at start-up), its module handle and file name, and the
// Windows version it is told.
#include "user32.h"

#include "kqwin/resources.h"

#include <cstring>

namespace kqwin {
namespace {

struct Entry {
    ResName type;
    ResName name;
    WORD language = 0;
    const BYTE* data = nullptr;
    DWORD size = 0;
};

constexpr char kDefaultProgramPath[] = "C:\\KQT50\\KqtSetup.exe";

struct ProgramState {
    std::mutex mutex;
    std::deque<Entry> resources; // a deque: HRSRC values point at entries and stay valid
    std::string path = kDefaultProgramPath;
};

ProgramState& Program() {
    static ProgramState state;
    return state;
}

template <class T> T Read(const BYTE* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

std::u16string Upper16(std::u16string s) {
    for (char16_t& c : s) {
        c = AsciiUpper(c);
    }
    return s;
}

// Reads an ordinal-or-string field of a resource header or template at `pos`; false when it runs past `end`.
bool ReadNameField(const BYTE* base, size_t end, size_t* pos, std::u16string* text, WORD* ordinal, bool* isOrdinal) {
    if (*pos + 2 > end) {
        return false;
    }
    const WORD first = Read<WORD>(base + *pos);
    *isOrdinal = false;
    text->clear();
    *ordinal = 0;
    if (first == 0xFFFF) {
        if (*pos + 4 > end) {
            return false;
        }
        *ordinal = Read<WORD>(base + *pos + 2);
        *isOrdinal = true;
        *pos += 4;
        return true;
    }
    for (;;) {
        if (*pos + 2 > end) {
            return false;
        }
        const auto c = static_cast<char16_t>(Read<WORD>(base + *pos));
        *pos += 2;
        if (c == 0) {
            return true;
        }
        text->push_back(c);
    }
}

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

} // namespace

ResName ResNameOf(LPCSTR s) {
    if (IS_INTRESOURCE(s)) {
        return ResId(static_cast<WORD>(reinterpret_cast<uintptr_t>(s)));
    }
    if (s[0] == '#') {
        return ResId(static_cast<WORD>(std::strtoul(s + 1, nullptr, 10)));
    }
    return ResName{0, Upper16(AnsiToUtf16(s))};
}

std::optional<ResourceBytes> ProgramResource(const ResName& type, const ResName& name) {
    ProgramState& p = Program();
    std::lock_guard lock(p.mutex);
    bool typeSeen = false;
    for (const Entry& e : p.resources) {
        if (e.type == type) {
            typeSeen = true;
            if (e.name == name) {
                return ResourceBytes{e.data, e.size};
            }
        }
    }
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return std::nullopt;
}

std::optional<DialogTemplate> ParseDialogTemplate(const BYTE* data, size_t size) {
    if (!data || size < 18) {
        return std::nullopt;
    }
    DialogTemplate t;
    size_t pos = 0;
    WORD count = 0;
    t.extended = Read<WORD>(data) == 1 && Read<WORD>(data + 2) == 0xFFFF;
    if (t.extended) {
        if (size < 26) {
            return std::nullopt;
        }
        t.exStyle = Read<DWORD>(data + 8);
        t.style = Read<DWORD>(data + 12);
        count = Read<WORD>(data + 16);
        t.x = Read<short>(data + 18);
        t.y = Read<short>(data + 20);
        t.cx = Read<short>(data + 22);
        t.cy = Read<short>(data + 24);
        pos = 26;
    } else {
        t.style = Read<DWORD>(data);
        t.exStyle = Read<DWORD>(data + 4);
        count = Read<WORD>(data + 8);
        t.x = Read<short>(data + 10);
        t.y = Read<short>(data + 12);
        t.cx = Read<short>(data + 14);
        t.cy = Read<short>(data + 16);
        pos = 18;
    }
    bool ordinal = false;
    WORD unused = 0;
    if (!ReadNameField(data, size, &pos, &t.menu, &t.menuOrdinal, &ordinal) ||
        !ReadNameField(data, size, &pos, &t.className, &t.classOrdinal, &ordinal) ||
        !ReadNameField(data, size, &pos, &t.title, &unused, &ordinal)) {
        return std::nullopt;
    }
    if (t.style & DS_SETFONT) {
        if (pos + 2 > size) {
            return std::nullopt;
        }
        t.pointSize = Read<WORD>(data + pos);
        pos += 2;
        if (t.extended) {
            if (pos + 4 > size) {
                return std::nullopt;
            }
            t.weight = Read<WORD>(data + pos);
            t.italic = data[pos + 2];
            t.charset = data[pos + 3];
            pos += 4;
        }
        if (!ReadNameField(data, size, &pos, &t.font, &unused, &ordinal)) {
            return std::nullopt;
        }
    }
    for (WORD i = 0; i < count; ++i) {
        pos = Align4(pos);
        DialogItem item;
        if (t.extended) {
            if (pos + 24 > size) {
                return std::nullopt;
            }
            item.exStyle = Read<DWORD>(data + pos + 4);
            item.style = Read<DWORD>(data + pos + 8);
            item.x = Read<short>(data + pos + 12);
            item.y = Read<short>(data + pos + 14);
            item.cx = Read<short>(data + pos + 16);
            item.cy = Read<short>(data + pos + 18);
            item.id = Read<DWORD>(data + pos + 20);
            pos += 24;
        } else {
            if (pos + 18 > size) {
                return std::nullopt;
            }
            item.style = Read<DWORD>(data + pos);
            item.exStyle = Read<DWORD>(data + pos + 4);
            item.x = Read<short>(data + pos + 8);
            item.y = Read<short>(data + pos + 10);
            item.cx = Read<short>(data + pos + 12);
            item.cy = Read<short>(data + pos + 14);
            item.id = Read<WORD>(data + pos + 16);
            pos += 18;
        }
        if (!ReadNameField(data, size, &pos, &item.className, &item.classAtom, &ordinal) ||
            !ReadNameField(data, size, &pos, &item.title, &item.titleOrdinal, &item.hasTitleOrdinal) ||
            pos + 2 > size) {
            return std::nullopt;
        }
        const WORD extra = Read<WORD>(data + pos);
        pos += 2;
        if (pos + extra > size) {
            return std::nullopt;
        }
        item.creationData.assign(data + pos, data + pos + extra);
        pos += extra;
        t.items.push_back(std::move(item));
    }
    return t;
}

void ResetProgramSettings() {
    ProgramState& p = Program();
    std::lock_guard lock(p.mutex);
    p.path = kDefaultProgramPath;
}

void RegisterProgramResources(const BYTE* res, size_t size) {
    ProgramState& p = Program();
    std::lock_guard lock(p.mutex);
    p.resources.clear();
    size_t pos = 0;
    while (res && pos + 8 <= size) {
        const DWORD dataSize = Read<DWORD>(res + pos);
        const DWORD headerSize = Read<DWORD>(res + pos + 4);
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
            e.language = Read<WORD>(res + field + 6);
        }
        e.data = res + headerEnd;
        e.size = dataSize;
        // the file starts with an empty entry (type and name 0) that marks the format
        if (e.type.id != 0 || !e.type.name.empty()) {
            p.resources.push_back(e);
        }
        pos = Align4(headerEnd + dataSize);
    }
}

} // namespace kqwin

namespace kqwin::control {

void SetProgramPath(const std::string& windowsPath) {
    ProgramState& p = Program();
    std::lock_guard lock(p.mutex);
    p.path = windowsPath;
}

} // namespace kqwin::control

using namespace kqwin;

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (!name) {
        return ProgramModule();
    }
    std::string path;
    {
        ProgramState& p = Program();
        std::lock_guard lock(p.mutex);
        path = p.path;
    }
    const size_t slash = path.find_last_of("\\/");
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string stem = file.substr(0, file.rfind('.'));
    if (EqualsNoCase(name, file) || EqualsNoCase(name, stem) || EqualsNoCase(name, path)) {
        return ProgramModule();
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (!IsProgramModule(module)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::string path;
    {
        ProgramState& p = Program();
        std::lock_guard lock(p.mutex);
        path = p.path;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // as Windows XP and later: a path that does not fit is cut, terminated, and the size is returned
    if (path.size() >= size) {
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

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
    ProgramState& p = Program();
    std::lock_guard lock(p.mutex);
    bool typeSeen = false;
    for (Entry& e : p.resources) {
        if (e.type == t) {
            typeSeen = true;
            if (e.name == n) {
                return reinterpret_cast<HRSRC>(&e);
            }
        }
    }
    if (p.resources.empty()) {
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
    ProgramState& p = Program();
    std::lock_guard lock(p.mutex);
    for (const Entry& e : p.resources) {
        if (reinterpret_cast<HRSRC>(const_cast<Entry*>(&e)) == info) {
            return const_cast<BYTE*>(e.data);
        }
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
    ProgramState& p = Program();
    std::lock_guard lock(p.mutex);
    for (const Entry& e : p.resources) {
        if (reinterpret_cast<HRSRC>(const_cast<Entry*>(&e)) == info) {
            return e.size;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

BOOL WINAPI FreeResource(HGLOBAL) { return FALSE; } // resources live as long as the module: nothing to free

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
    if (!IsProgramModule(instance)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    // strings come in blocks of 16, block n + 1 holding ids 16n to 16n + 15, each a length and UTF-16 text
    const auto table = ProgramResource(ResId(6), ResId(static_cast<WORD>(((id & 0xFFFF) >> 4) + 1)));
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
        const WORD len = Read<WORD>(table->data + pos);
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

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const WindowsVersion p = MachineVersion();
    info->dwMajorVersion = p.major;
    info->dwMinorVersion = p.minor;
    info->dwPlatformId = p.platform;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    DWORD build = 0;
    const DWORD version = p.major * 100 + p.minor;
    if (p.platform == VER_PLATFORM_WIN32_NT) {
        build = version == 500 ? 2195 : version == 501 ? 2600 : version == 502 ? 3790 : 0;
        if (version == 501) {
            std::strcpy(info->szCSDVersion, "Service Pack 3");
        }
    } else {
        // Windows 9x put the version in the high word of the build number
        const DWORD number = version == 410 ? 2222 : version == 490 ? 3000 : version == 400 ? 950 : 0;
        build = (p.major << 24) | (p.minor << 16) | number;
        if (version == 410) {
            std::strcpy(info->szCSDVersion, " A ");
        }
    }
    info->dwBuildNumber = build;
    return TRUE;
}

} // extern "C"
