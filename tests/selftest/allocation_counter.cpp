// Replacement of the global allocation functions that counts every operator new of the test
// binary (in its own translation unit, so the compiler does not pair it with the free below).
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> g_allocations{0};
}

long selftest_allocations() noexcept { return g_allocations.load(); }

void *operator new(std::size_t n) {
    g_allocations.fetch_add(1);
    if (void *p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
