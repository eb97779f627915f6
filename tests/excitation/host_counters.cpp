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
// The simulated host's matSum, resolved at start, not inside a counted window.
const MatSumFn g_host_matsum = reinterpret_cast<MatSumFn>(dlsym(RTLD_NEXT, "matSum"));
long g_matsum_calls = 0;
HeapCount g_heap;
bool g_armed = false;
long g_fail_at = 0;
}  // namespace

long matsum_calls() { return g_matsum_calls; }
void arm_heap(long fail_at) { g_heap = {}, g_fail_at = fail_at, g_armed = true; }
HeapCount disarm_heap() { return g_armed = false, g_heap; }

}  // namespace excitation_test

extern "C" {

int matSum(MatHead A, MatHead B, MatHead R) {
    ++excitation_test::g_matsum_calls;
    return excitation_test::g_host_matsum(A, B, R);
}

#if KXMC_COUNT_HEAP
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void __libc_free(void *);

// Counts an allocation while armed; false refuses it.
static bool admit() {
    using namespace excitation_test;
    return !g_armed || ++g_heap.allocations != g_fail_at;
}
static void *counted(void *p) {
    if (excitation_test::g_armed && p != nullptr) ++excitation_test::g_heap.live;
    return p;
}
void *malloc(std::size_t n) { return admit() ? counted(__libc_malloc(n)) : nullptr; }
// The compiler may turn a malloc followed by clearing into calloc.
void *calloc(std::size_t n, std::size_t s) {
    return admit() ? counted(__libc_calloc(n, s)) : nullptr;
}
void free(void *p) {
    if (excitation_test::g_armed && p != nullptr) --excitation_test::g_heap.live;
    __libc_free(p);
}
#endif

}  // extern "C"
