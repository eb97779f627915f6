// Counters of what the identification asks of the heap and of the host's matrix library, by
// interposing the C library's allocation functions and the host's matSum in this executable.
// The allocation hooks are left out of sanitizer builds, whose runtime owns malloc.
#include "tests/excitation/host_counters.hpp"

#include <dlfcn.h>

#include <cstddef>

#include "host/kxmc_host.h"

namespace excitation_test {
namespace {

using MatSumFn = int (*)(MatHead, MatHead, MatHead);
// The simulated host's matSum, resolved at start so that no lookup runs inside a counted window.
const MatSumFn g_host_matsum = reinterpret_cast<MatSumFn>(dlsym(RTLD_NEXT, "matSum"));
long g_matsum_calls = 0;

#if KXMC_COUNT_HEAP
bool g_armed = false;
long g_allocations = 0;
long g_fail_at = 0;                // 1-based allocation to refuse, 0: none
void *g_live[512];                 // blocks handed out while armed and not yet freed
int g_live_count = 0;

void track(void *p) {
    if (p != nullptr && g_live_count < 512) g_live[g_live_count++] = p;
}
void untrack(void *p) {
    for (int i = 0; i < g_live_count; ++i) {
        if (g_live[i] == p) {
            g_live[i] = g_live[--g_live_count];
            return;
        }
    }
}
#endif

}  // namespace

long matsum_calls() { return g_matsum_calls; }

#if KXMC_COUNT_HEAP
void arm_heap(long fail_at) {
    g_allocations = 0;
    g_fail_at = fail_at;
    g_live_count = 0;
    g_armed = true;
}
HeapCount disarm_heap() {
    g_armed = false;
    return {g_allocations, g_live_count};
}
#endif

}  // namespace excitation_test

extern "C" {

int matSum(MatHead A, MatHead B, MatHead R) {
    ++excitation_test::g_matsum_calls;
    return excitation_test::g_host_matsum(A, B, R);
}

#if KXMC_COUNT_HEAP
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);

void *malloc(std::size_t n) {
    using namespace excitation_test;
    if (!g_armed) return __libc_malloc(n);
    if (++g_allocations == g_fail_at) return nullptr;
    void *p = __libc_malloc(n);
    track(p);
    return p;
}
// The compiler may turn a malloc followed by clearing into calloc.
void *calloc(std::size_t n, std::size_t size) {
    using namespace excitation_test;
    if (!g_armed) return __libc_calloc(n, size);
    if (++g_allocations == g_fail_at) return nullptr;
    void *p = __libc_calloc(n, size);
    track(p);
    return p;
}
void *realloc(void *old, std::size_t n) {
    using namespace excitation_test;
    if (!g_armed) return __libc_realloc(old, n);
    ++g_allocations;
    untrack(old);
    void *p = __libc_realloc(old, n);
    track(p);
    return p;
}
void free(void *p) {
    if (excitation_test::g_armed) excitation_test::untrack(p);
    __libc_free(p);
}
#endif

}  // extern "C"
