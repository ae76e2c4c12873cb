// The loader: the program's module and file name, DLLs (shared objects here), what programs look up in
// KERNEL32 at run time, and WOW64: a 32-bit program on 64-bit Windows.
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

// What the running program is built for: the image its file on the simulated disk is, or, when that is no
// PE image (or no file), the machine's own.
WORD ProgramArchitecture() {
    return ModuleArchitecture(ProgramPath());
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

// KERNEL32 as GetModuleHandleA gives it: the image base it has on Windows XP, which no handle of the table
// can be.
HMODULE KernelModule() {
    return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7C800000));
}

bool IsKernelName(std::string_view name) {
    return EqualsNoCase(name, "kernel32") || EqualsNoCase(name, "kernel32.dll");
}

// What programs look up in KERNEL32 by name, and the first Windows that has it (version major.minor).
struct KernelExport {
    const char* name;
    FARPROC proc;
    DWORD major;
    DWORD minor;
};

FARPROC KernelExportNamed(const char* name) {
    const KernelExport exports[] = {
        {"IsWow64Process", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&IsWow64Process)), 5, 1},
    };
    const WindowsVersion v = MachineVersion();
    for (const KernelExport& e : exports) {
        const bool has = v.platform == VER_PLATFORM_WIN32_NT &&
                         (v.major > e.major || (v.major == e.major && v.minor >= e.minor));
        if (std::strcmp(e.name, name) == 0 && has) {
            return e.proc;
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

// The pseudo-handle that GetCurrentProcess gives.
HANDLE CurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
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
    if (IsKernelName(name)) {
        return KernelModule();
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
    if (module == KernelModule() && name) {
        return KernelExportNamed(name);
    }
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

HANDLE WINAPI GetCurrentProcess(void) {
    return CurrentProcess();
}

// 64-bit Windows runs a 32-bit program under WOW64; the stand-in's program is 32-bit when its file on the
// simulated disk is an x86 image.
BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64) {
    if (process != CurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!wow64) {
        SetLastError(ERROR_INVALID_PARAMETER); // Windows faults on it; here the call fails
        return FALSE;
    }
    *wow64 = NativeArchitecture() == PROCESSOR_ARCHITECTURE_AMD64 &&
             ProgramArchitecture() == PROCESSOR_ARCHITECTURE_INTEL;
    return TRUE;
}

} // extern "C"
