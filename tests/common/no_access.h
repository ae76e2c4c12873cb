// Memory that cannot be read, for handle checks: two pages, the first readable and writable, the second
// without any access. Header only: the portable tests use it on Linux and under wine64 alike.
#pragma once

#include <cstddef>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kqtest {

class NoAccessPages {
  public:
    NoAccessPages() {
#ifdef _WIN32
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (base_ && !VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old)) {
            VirtualFree(base_, 0, MEM_RELEASE);
            base_ = nullptr;
        }
#else
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* p = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED && mprotect(static_cast<unsigned char*>(p) + page_, page_, PROT_NONE) != 0) {
            munmap(p, 2 * page_);
            p = MAP_FAILED;
        }
        base_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
#endif
    }
    ~NoAccessPages() {
        if (!base_) {
            return;
        }
#ifdef _WIN32
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, 2 * page_);
#endif
    }
    NoAccessPages(const NoAccessPages&) = delete;
    NoAccessPages& operator=(const NoAccessPages&) = delete;

    // The first byte that cannot be read; null when the pages could not be had.
    unsigned char* Boundary() const { return base_ ? base_ + page_ : nullptr; }
    size_t PageSize() const { return page_; }

  private:
    unsigned char* base_ = nullptr;
    size_t page_ = 0;
};

} // namespace kqtest
