// Counting replacement of the process's allocation functions (malloc, calloc, realloc and the
// global operator new): counts while a window is open. Not built into sanitizer builds, whose
// runtimes own the allocator; there the count is unavailable.
#pragma once

namespace kxmc_alloc {

// True when the replacement is linked in and counting works.
bool counting_available();
// Opens a counting window (the count restarts at 0) or closes it.
void count_allocations(bool on);
// Allocations counted since the window opened.
long allocations();

}  // namespace kxmc_alloc
