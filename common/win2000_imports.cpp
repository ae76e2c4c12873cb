// The 32-bit kit loads on Windows 2000. The MinGW runtime linked into it (winpthreads and libstdc++'s
// thread-exit list) calls four kernel32 functions that came later: GetTickCount64 (Vista),
// AddVectoredExceptionHandler and RemoveVectoredExceptionHandler (XP), GetModuleHandleExW (XP). Imported
// by name they would stop the loader before any of our code ran. Their import slots are defined here
// instead, so the linker takes nothing of them from kernel32's import library: each slot looks the real
// function up when first called and, on a Windows without it, does what the runtime copes with.
#include <windows.h>

namespace {

template <class Fn> Fn Kernel32Function(const char* name) {
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    return kernel32 ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)))
                    : nullptr;
}

ULONGLONG WINAPI TickCount64() {
    using Fn = ULONGLONG(WINAPI*)();
    if (const Fn real = Kernel32Function<Fn>("GetTickCount64")) {
        return real();
    }
    // Only the runtime's timed waits use it, as differences; they cannot span the 49.7-day wrap of the
    // 32-bit count in practice.
    return GetTickCount();
}

PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
    using Fn = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    const Fn real = Kernel32Function<Fn>("AddVectoredExceptionHandler");
    return real ? real(first, handler) : nullptr; // no handler: the runtime only names threads with it
}

ULONG WINAPI RemoveVectoredHandler(PVOID handle) {
    using Fn = ULONG(WINAPI*)(PVOID);
    const Fn real = Kernel32Function<Fn>("RemoveVectoredExceptionHandler");
    return real && handle ? real(handle) : 0;
}

BOOL WINAPI ModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
    using Fn = BOOL(WINAPI*)(DWORD, LPCWSTR, HMODULE*);
    if (const Fn real = Kernel32Function<Fn>("GetModuleHandleExW")) {
        return real(flags, name, module);
    }
    // The runtime pins its module with it and carries on when it fails.
    if (module) {
        *module = nullptr;
    }
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

} // namespace

// The slots under the names that callers compiled with dllimport reach them by (stdcall: @ and the
// argument bytes).
extern "C" {
ULONGLONG(WINAPI* kqGetTickCount64Slot)() __asm__("__imp__GetTickCount64@0") = TickCount64;
PVOID(WINAPI* kqAddVectoredExceptionHandlerSlot)(ULONG, PVECTORED_EXCEPTION_HANDLER) __asm__(
    "__imp__AddVectoredExceptionHandler@8") = AddVectoredHandler;
ULONG(WINAPI* kqRemoveVectoredExceptionHandlerSlot)(PVOID) __asm__("__imp__RemoveVectoredExceptionHandler@4") =
    RemoveVectoredHandler;
BOOL(WINAPI* kqGetModuleHandleExWSlot)(DWORD, LPCWSTR, HMODULE*) __asm__("__imp__GetModuleHandleExW@12") =
    ModuleHandleExW;
}
