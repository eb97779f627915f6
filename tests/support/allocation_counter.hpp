// Counting replacement of the process's allocation functions (malloc, calloc, realloc and the
// global operator new): counts while a window is open. Not built into sanitizer builds, whose
// runtimes own the allocator; there the count is unavailable.
#pragma once

namespace kxmc_alloc {

// True when the replacement is linked in and counting works.
bool counting_available();
// Opens a counting window (the counts restart at 0) or closes it. Inside the window the
// fail_at-th allocation (1-based; 0: none) is refused, as a full heap would.
void count_allocations(bool on, long fail_at = 0);
// Allocations counted since the window opened.
long allocations();
// Blocks allocated minus blocks freed inside the window.
long live_blocks();

}  // namespace kxmc_alloc
