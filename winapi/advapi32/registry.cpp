// The Reg* calls: key handles over the machine's registry hive.
#include "advapi32_private.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kqwin {
namespace {

struct KeyObj : Object {
    explicit KeyObj(std::string p) : Object(ObjType::Key), path(std::move(p)) {}
    std::string path;
};

// Full path of a key handle, or empty for a bad handle.
std::string KeyPath(HKEY key) {
    const auto v = reinterpret_cast<uintptr_t>(key);
    switch (v) {
    case 0x80000000u:
        return "HKCR";
    case 0x80000001u:
        return "HKCU";
    case 0x80000002u:
        return "HKLM";
    case 0x80000003u:
        return "HKU";
    default:
        break;
    }
    auto obj = GetObject<KeyObj>(key, ObjType::Key);
    return obj ? obj->path : std::string();
}

std::string Join(const std::string& base, LPCSTR sub) {
    std::string s = sub ? sub : "";
    while (!s.empty() && s.front() == '\\') {
        s.erase(0, 1);
    }
    while (!s.empty() && s.back() == '\\') {
        s.pop_back();
    }
    return s.empty() ? base : base + "\\" + s;
}

bool IsRoot(const std::string& path) { return path.find('\\') == std::string::npos; }

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR sub, DWORD, LPSTR, DWORD, REGSAM, const LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition) {
    const FaultDecision fault = CheckFault(control::Op::RegCreateKeyEx);
    if (fault.fail) {
        if (result) {
            *result = nullptr;
        }
        return static_cast<LSTATUS>(fault.error);
    }
    const std::string base = KeyPath(key);
    if (base.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    if (!result) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string path = Join(base, sub);
    bool created = false;
    if (!IsRoot(path)) {
        Hive().CreateKey(path, &created);
    }
    if (disposition) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result = static_cast<HKEY>(Handles().Add(std::make_shared<KeyObj>(path)));
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR sub, DWORD, REGSAM, PHKEY result) {
    const FaultDecision fault = CheckFault(control::Op::RegOpenKeyEx);
    if (fault.fail) {
        if (result) {
            *result = nullptr;
        }
        return static_cast<LSTATUS>(fault.error);
    }
    const std::string base = KeyPath(key);
    if (base.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    if (!result) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string path = Join(base, sub);
    if (!IsRoot(path) && !Hive().KeyExists(path)) {
        *result = nullptr;
        return ERROR_FILE_NOT_FOUND;
    }
    *result = static_cast<HKEY>(Handles().Add(std::make_shared<KeyObj>(path)));
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    if (reinterpret_cast<uintptr_t>(key) >= 0x80000000u && reinterpret_cast<uintptr_t>(key) <= 0x80000003u) {
        return ERROR_SUCCESS;
    }
    return Handles().Remove(key, ObjType::Key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR sub) {
    const std::string base = KeyPath(key);
    if (base.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    if (!sub || !*sub) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string path = Join(base, sub);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExA(&version) && version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        // Windows 98 and ME delete the key with everything below it
        if (!Hive().KeyExists(path)) {
            return ERROR_FILE_NOT_FOUND;
        }
        Hive().DeleteTree(path);
        return ERROR_SUCCESS;
    }
    return Hive().DeleteKey(path); // NT refuses a key that has subkeys
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    const std::string path = KeyPath(key);
    if (path.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    if (size && !data) {
        return ERROR_INVALID_PARAMETER;
    }
    return Hive().SetValue(path, name ? name : "", type, data, size) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    const std::string path = KeyPath(key);
    if (path.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    Registry::Value v;
    if (!Hive().GetValue(path, name ? name : "", &v)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) {
        *type = v.type;
    }
    const auto needed = static_cast<DWORD>(v.data.size());
    if (!size) {
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    if (data && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data) {
        std::copy(v.data.begin(), v.data.end(), data);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
    const std::string path = KeyPath(key);
    if (path.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    return Hive().DeleteValue(path, name ? name : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPSTR, LPDWORD,
                             PFILETIME) {
    const std::string path = KeyPath(key);
    if (path.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    if (!name || !nameSize) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::vector<std::string> subs = Hive().SubKeys(path);
    if (index >= subs.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& s = subs[index];
    if (*nameSize <= s.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, s.c_str(), s.size() + 1);
    *nameSize = static_cast<DWORD>(s.size());
    return ERROR_SUCCESS;
}

} // extern "C"
