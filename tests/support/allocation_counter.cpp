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
inline void note() {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
}
}  // namespace

namespace kxmc_alloc {
bool counting_available() { return KXMC_ALLOC_COUNTER != 0; }
void count_allocations(bool on) {
    if (on) {
        g_allocations = 0;
    }
    g_counting = on;
}
long allocations() { return g_allocations.load(); }
}  // namespace kxmc_alloc

#if KXMC_ALLOC_COUNTER
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);

void *malloc(std::size_t n) {
    note();
    return __libc_malloc(n);
}
void *calloc(std::size_t n, std::size_t m) {
    note();
    return __libc_calloc(n, m);
}
void *realloc(void *p, std::size_t n) {
    note();
    return __libc_realloc(p, n);
}
void free(void *p) { __libc_free(p); }
}

void *operator new(std::size_t n) {
    note();
    if (void *p = __libc_malloc(n == 0 ? 1 : n)) {
        return p;
    }
    throw std::bad_alloc();
}
void *operator new[](std::size_t n) { return operator new(n); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    note();
    return __libc_malloc(n == 0 ? 1 : n);
}
void *operator new[](std::size_t n, const std::nothrow_t &t) noexcept { return operator new(n, t); }
void operator delete(void *p) noexcept { __libc_free(p); }
void operator delete[](void *p) noexcept { __libc_free(p); }
void operator delete(void *p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void *p, std::size_t) noexcept { __libc_free(p); }
#endif
