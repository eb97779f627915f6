// Counts the global operator new calls of the whole test binary, so a test can assert that a
// real-time call does not touch the heap.
#pragma once

namespace selftest_alloc {
long allocations() noexcept;
}
