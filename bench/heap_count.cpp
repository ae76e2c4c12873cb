// Replaces malloc and its family with glibc's own entry points plus a count of the bytes held, so that the
// benchmarks can say how much memory a job made the print processor hold at its peak.
#include "heap_count.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
void __libc_free(void* p);
}

namespace {

// One thread measures at a time, and the processors run on it: loads and stores, no locked instructions.
std::atomic<bool> g_counting{false};
std::atomic<int64_t> g_net{0};
std::atomic<int64_t> g_peak{0};

void Add(void* p) {
    if (!p || !g_counting.load(std::memory_order_relaxed)) {
        return;
    }
    const int64_t now = g_net.load(std::memory_order_relaxed) + static_cast<int64_t>(malloc_usable_size(p));
    g_net.store(now, std::memory_order_relaxed);
    if (now > g_peak.load(std::memory_order_relaxed)) {
        g_peak.store(now, std::memory_order_relaxed);
    }
}

void Remove(void* p) {
    if (p && g_counting.load(std::memory_order_relaxed)) {
        g_net.store(g_net.load(std::memory_order_relaxed) - static_cast<int64_t>(malloc_usable_size(p)),
                    std::memory_order_relaxed);
    }
}

} // namespace

namespace kqbench {
void HeapCountStart() {
    g_net.store(0);
    g_peak.store(0);
    g_counting.store(true);
}
int64_t HeapCountPeak() {
    return g_peak.load();
}
void HeapCountStop() {
    g_counting.store(false);
}
} // namespace kqbench

extern "C" {

void* malloc(size_t size) {
    void* p = __libc_malloc(size);
    Add(p);
    return p;
}

void free(void* p) {
    Remove(p);
    __libc_free(p);
}

void* calloc(size_t count, size_t size) {
    void* p = __libc_calloc(count, size);
    Add(p);
    return p;
}

void* realloc(void* p, size_t size) {
    if (!g_counting.load(std::memory_order_relaxed)) {
        return __libc_realloc(p, size);
    }
    const auto before = p ? static_cast<int64_t>(malloc_usable_size(p)) : 0;
    void* q = __libc_realloc(p, size);
    if (q) {
        // counted as glibc may do it: the new block taken before the old one is let go
        Add(q);
        g_net.store(g_net.load(std::memory_order_relaxed) - before, std::memory_order_relaxed);
    } else if (size == 0 && p) {
        g_net.store(g_net.load(std::memory_order_relaxed) - before, std::memory_order_relaxed); // freed
    }
    return q;
}

void* memalign(size_t alignment, size_t size) {
    void* p = __libc_memalign(alignment, size);
    Add(p);
    return p;
}

void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    void* p = memalign(alignment, size);
    if (!p) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}

void* valloc(size_t size) {
    void* p = __libc_valloc(size);
    Add(p);
    return p;
}

void* pvalloc(size_t size) {
    void* p = __libc_pvalloc(size);
    Add(p);
    return p;
}

} // extern "C"
