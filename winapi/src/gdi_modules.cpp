// GDI printer device contexts (resolution only) and modules (DLLs are shared objects here).
#include "core.h"

#include <dlfcn.h>

namespace kqwin {
namespace {

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

} // namespace

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

} // namespace kqwin

using namespace kqwin;

extern "C" {

HDC WINAPI CreateDCW(LPCWSTR, LPCWSTR device, LPCWSTR, const DEVMODEW* devmode) {
    const FaultDecision fault = CheckFault(control::Op::CreateDC);
    if (fault.fail) {
        SetLastError(fault.error);
        return nullptr;
    }
    const std::string printer = device ? Utf16ToAnsi(device) : std::string();
    const int dpi = PrinterVerticalDpi(printer);
    if (dpi == 0) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    auto dc = std::make_shared<DcObj>();
    dc->logPixelsY = dpi;
    if (devmode && (devmode->dmFields & DM_YRESOLUTION) && devmode->dmYResolution > 0) {
        dc->logPixelsY = devmode->dmYResolution; // the job's own resolution wins
    }
    dc->logPixelsX = dc->logPixelsY;
    return static_cast<HDC>(Handles().Add(std::move(dc)));
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
    auto dc = GetObject<DcObj>(hdc, ObjType::Dc);
    if (!dc) {
        return 0;
    }
    switch (index) {
    case LOGPIXELSX:
        return dc->logPixelsX;
    case LOGPIXELSY:
        return dc->logPixelsY;
    default:
        return 0;
    }
}

BOOL WINAPI DeleteDC(HDC hdc) { return Handles().Remove(hdc, ObjType::Dc) ? TRUE : FALSE; }

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
