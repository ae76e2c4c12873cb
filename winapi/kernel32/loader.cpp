// The loader: the program's module and file name, and DLLs, which are shared objects here.
#include "kernel32_private.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace kqwin {
namespace {

constexpr char kDefaultProgramPath[] = "C:\\KQT50\\KqtSetup.exe";

// The running program's file on the simulated disk.
struct ProgramFile {
    std::mutex mutex;
    std::string path = kDefaultProgramPath;
};

ProgramFile& Program() {
    static ProgramFile file;
    return file;
}

std::string ProgramPath() {
    ProgramFile& p = Program();
    std::lock_guard lock(p.mutex);
    return p.path;
}

void ResetProgramPath() {
    ProgramFile& p = Program();
    std::lock_guard lock(p.mutex);
    p.path = kDefaultProgramPath;
}
const ResetHook kProgramPathOnReset(&ResetProgramPath);

struct ModuleObj : Object {
    explicit ModuleObj(void* h) : Object(ObjType::Module), dl(h) {}
    ~ModuleObj() override {
        if (dl) {
            dlclose(dl);
        }
    }
    void* dl;
};

bool HasPathPart(std::string_view name) {
    return name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos ||
           name.find(':') != std::string_view::npos;
}

HMODULE LoadModule(const std::string& hostPath, const std::string& name) {
    void* dl = dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!dl) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        if (std::getenv("KQT50_DEBUG")) {
            DebugOutputLine("LoadLibrary " + name + ": " + dlerror());
        }
        return nullptr;
    }
    return static_cast<HMODULE>(Handles().Add(std::make_shared<ModuleObj>(dl)));
}

} // namespace
} // namespace kqwin

namespace kqwin::control {

void SetProgramPath(const std::string& windowsPath) {
    ProgramFile& p = Program();
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
    const std::string path = ProgramPath();
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
    const std::string path = ProgramPath();
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

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (HasPathPart(name)) {
        return LoadModule(MapPath(name), name);
    }
    // a bare name is looked for in the system folder, then as the host finds libraries
    const std::string inSystem = MapPath(SystemDirectory() + "\\" + name);
    if (GetFileAttributesA(inSystem.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return LoadModule(inSystem, name);
    }
    return LoadModule(name, name);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return LoadLibraryA(Utf16ToAnsi(name).c_str());
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    auto m = GetObject<ModuleObj>(module, ObjType::Module);
    if (!m) {
        return nullptr;
    }
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* sym = dlsym(m->dl, name);
    if (!sym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

BOOL WINAPI FreeLibrary(HMODULE module) { return Handles().Remove(module, ObjType::Module) ? TRUE : FALSE; }

} // extern "C"
