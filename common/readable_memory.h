// Whether memory can be read, asked of the memory manager instead of found out by faulting. The kit's
// libraries use it to reject a bad handle from the spooler without touching memory behind it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kqkit {

// Whether the region at `at` is committed and readable; gives where the region ends.
inline bool QueryReadable(uintptr_t at, uintptr_t* regionEnd) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &info, sizeof(info)) != sizeof(info)) {
        return false;
    }
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    *regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    return info.State == MEM_COMMIT && (info.Protect & kReadable) && !(info.Protect & PAGE_GUARD) &&
           *regionEnd > at;
}

// Whether all of [p, p + size) can be read.
inline bool IsReadable(const void* p, size_t size) {
    const auto start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t last = start + size - 1;
    if (size == 0 || last < start) {
        return false;
    }
    uintptr_t end = 0;
    for (uintptr_t at = start;; at = end) {
        if (!QueryReadable(at, &end)) {
            return false;
        }
        if (last < end) {
            break;
        }
    }
    return last == start || QueryReadable(last, &end);
}

} // namespace kqkit
