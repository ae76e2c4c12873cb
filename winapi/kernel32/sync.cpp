// Kernel objects and memory: the last error, the heap, memory probing, events, waits on events and
// processes, processes' exit codes, threads.
#include "kernel32_private.h"

#include "observers.h"

#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KQWIN_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KQWIN_ASAN 1
#endif
#ifdef KQWIN_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace kqwin {

// ---- events ---------------------------------------------------------------------------------------

namespace {

struct EventObj : Object {
    EventObj(bool manual, bool initial) : Object(ObjType::Event), manualReset(manual), signalled(initial) {}
    std::mutex mutex;
    std::condition_variable cv;
    const bool manualReset;
    bool signalled;
};

thread_local DWORD t_lastError = 0;

bool IsProcessHandle(HANDLE h) { return Handles().Get(h, ObjType::Process) != nullptr; }

} // namespace
} // namespace kqwin

using namespace kqwin;

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }

void WINAPI SetLastError(DWORD code) { t_lastError = code; }

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    const FaultDecision fault = CheckFault(control::Op::GlobalAlloc);
    if (fault.fail || !AllocationAllowed(bytes)) {
        SetLastError(fault.error ? fault.error : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A fixed block is its own handle; moveable blocks are not needed by the kit and are handed out fixed.
    void* p = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (!p) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else if (Kernel32Observer* observer = Kernel32Hook().Get()) {
        observer->GlobalBlocks(+1);
    }
    return p;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
    if (mem) {
        if (Kernel32Observer* observer = Kernel32Hook().Get()) {
            observer->GlobalBlocks(-1);
        }
    }
    std::free(mem);
    return nullptr;
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
    if (!info || length < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t base = reinterpret_cast<uintptr_t>(address) & ~(pageSize - 1);
    std::memset(info, 0, sizeof(*info));
    info->BaseAddress = reinterpret_cast<PVOID>(base);
    info->AllocationBase = info->BaseAddress;
    info->RegionSize = pageSize;
    // Ask the kernel to copy one byte of the page: it answers EFAULT for memory that cannot be read,
    // without a fault in this process.
    char probe = 0;
    iovec local{&probe, 1};
    iovec remote{reinterpret_cast<void*>(base), 1};
    const ssize_t n = base == 0 ? -1 : process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    bool readable = n == 1;
    if (n < 0 && base != 0 && errno != EFAULT) {
        // process_vm_readv refused for another reason: fall back to a pipe, which also reports EFAULT
        int fds[2];
        if (pipe(fds) == 0) {
            readable = write(fds[1], reinterpret_cast<void*>(base), 1) == 1;
            close(fds[0]);
            close(fds[1]);
        }
    }
#ifdef KQWIN_ASAN
    // Freed heap blocks stay mapped; under AddressSanitizer they are poisoned and reading them is a fault.
    if (readable && __asan_address_is_poisoned(address)) {
        readable = false;
    }
#endif
    if (readable) {
        info->State = MEM_COMMIT;
        info->Protect = PAGE_READWRITE;
        info->AllocationProtect = PAGE_READWRITE;
    } else {
        info->State = MEM_FREE;
        info->Protect = PAGE_NOACCESS;
        info->AllocationProtect = PAGE_NOACCESS;
    }
    return sizeof(MEMORY_BASIC_INFORMATION);
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name && name[0]) {
        SetLastError(ERROR_NOT_SUPPORTED); // named events are not part of this machine
        return nullptr;
    }
    HANDLE h = Handles().Add(std::make_shared<EventObj>(manualReset != FALSE, initialState != FALSE));
    if (!h) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return h;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attrs, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name && name[0]) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return CreateEventW(attrs, manualReset, initialState, nullptr);
}

BOOL WINAPI SetEvent(HANDLE h) {
    auto ev = GetObject<EventObj>(h, ObjType::Event);
    if (!ev) {
        return FALSE;
    }
    {
        std::lock_guard lock(ev->mutex);
        ev->signalled = true;
    }
    ev->cv.notify_all();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE h) {
    auto ev = GetObject<EventObj>(h, ObjType::Event);
    if (!ev) {
        return FALSE;
    }
    std::lock_guard lock(ev->mutex);
    ev->signalled = false;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD milliseconds) {
    const DWORD lastError = GetLastError();
    auto ev = GetObject<EventObj>(h, ObjType::Event);
    if (!ev) {
        if (IsProcessHandle(h)) {
            SetLastError(lastError); // a process has ended by the time its start returns
            return WAIT_OBJECT_0;
        }
        return WAIT_FAILED;
    }
    std::unique_lock lock(ev->mutex);
    if (!ev->signalled && milliseconds != 0) {
        lock.unlock();
        NotifyWaitBlocking(h);
        lock.lock();
    }
    if (milliseconds == INFINITE) {
        ev->cv.wait(lock, [&] { return ev->signalled; });
    } else if (!ev->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return ev->signalled; })) {
        return WAIT_TIMEOUT;
    }
    if (!ev->manualReset) {
        ev->signalled = false;
    }
    return WAIT_OBJECT_0;
}

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    const auto obj = GetObject<ProcessObj>(process, ObjType::Process);
    if (!obj) {
        return FALSE;
    }
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = obj->exitCode;
    return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

} // extern "C"
