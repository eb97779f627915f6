// Counters of heap blocks and of the host's matrix sums taken by the library (host_counters.cpp).
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define KXMC_COUNT_HEAP 0
#else
#define KXMC_COUNT_HEAP 1
#endif

namespace excitation_test {

// Calls of the host's matSum since the process started (two per accumulated sample).
long matsum_calls();

struct HeapCount {
    long allocations;  // malloc and calloc calls while armed
    long live;         // blocks allocated minus blocks freed while armed
};
// Counts allocations from now on and refuses the fail_at-th (1-based, 0: none).
void arm_heap(long fail_at = 0);
HeapCount disarm_heap();

}  // namespace excitation_test
