// The replacement lives in its own translation unit, so the compiler cannot pair an allocation
// in a test with its release and elide both.
#include "allocation_counter.hpp"

#include <atomic>
#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KXMC_ALLOC_COUNTER 0
#else
#define KXMC_ALLOC_COUNTER 1
#endif

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
std::atomic<long> g_fail_at{0};
std::atomic<long> g_live{0};
// Counts an allocation inside the window; false refuses it.
inline bool admit() {
    if (!g_counting.load(std::memory_order_relaxed)) {
        return true;
    }
    if (g_allocations.fetch_add(1, std::memory_order_relaxed) + 1 == g_fail_at) {
        return false;
    }
    g_live.fetch_add(1, std::memory_order_relaxed);
    return true;
}
inline void released(const void *p) {
    if (p != nullptr && g_counting.load(std::memory_order_relaxed)) {
        g_live.fetch_sub(1, std::memory_order_relaxed);
    }
}
}  // namespace

namespace kxmc_alloc {
bool counting_available() { return KXMC_ALLOC_COUNTER != 0; }
void count_allocations(bool on, long fail_at) {
    if (on) {
        g_allocations = 0;
        g_live = 0;
        g_fail_at = fail_at;
    }
    g_counting = on;
}
long allocations() { return g_allocations.load(); }
long live_blocks() { return g_live.load(); }
}  // namespace kxmc_alloc

#if KXMC_ALLOC_COUNTER
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);

void *malloc(std::size_t n) { return admit() ? __libc_malloc(n) : nullptr; }
void *calloc(std::size_t n, std::size_t m) { return admit() ? __libc_calloc(n, m) : nullptr; }
void *realloc(void *p, std::size_t n) {
    if (!admit()) {
        return nullptr;
    }
    released(p);  // the new block replaces p
    return __libc_realloc(p, n);
}
void free(void *p) {
    released(p);
    __libc_free(p);
}
}

void *operator new(std::size_t n) {
    if (void *p = admit() ? __libc_malloc(n == 0 ? 1 : n) : nullptr) {
        return p;
    }
    throw std::bad_alloc();
}
void *operator new[](std::size_t n) { return operator new(n); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    return admit() ? __libc_malloc(n == 0 ? 1 : n) : nullptr;
}
void *operator new[](std::size_t n, const std::nothrow_t &t) noexcept { return operator new(n, t); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, std::size_t) noexcept { free(p); }
void operator delete[](void *p, std::size_t) noexcept { free(p); }
#endif
