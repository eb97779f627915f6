// Filter history records of the numerics filters, shared inside the library with the code that
// feeds them (drag teach, dynamics block, dual-encoder detection, excitation identification,
// dynamics settings). Not exported: the shared object builds with hidden visibility.
//
// The force-sensor code keeps records of the same shape under some of the same names (filt5,
// filt6) in its own translation units with internal linkage; those are separate objects.
#pragma once

#include "kxmc/kxmc_numerics.h"

extern FilterHistory filt;   // buttord: gravity-test law of the drag control
extern FilterHistory filt1;  // excitation-trajectory identification (used as plain arrays)
extern FilterHistory filt2;  // Fivebuttord
extern FilterHistory filt3;  // cleared with filt and filt1 by the dynamics settings
extern FilterHistory filt4;  // TualEncoderbuttord: dual-encoder deflection (y in rows 12-17)
extern FilterHistory filt5;  // Loadbuttord (rows 0-11) and LoadPosbuttord (second bank)
extern FilterHistory filt6;  // ForceCollisionbuttord (second bank)

namespace kxmc {
namespace detail {

constexpr int kFilterRows = 6;      // rows of one history in use
constexpr int kFilterChannels = 6;  // channels of a record
constexpr int kFilterYRow = 6;      // first output row of the standard layout
constexpr int kFilterYRowDual = 12; // first output row of the dual-encoder layout

// Moves rows 1..5 of a six-row history down by one (row 1 to row 0, ...), making room for the
// newest sample in row 5. Every user applies it to each history it keeps when row > 5.
inline void shift_filter_rows(double (*rows)[kFilterChannels]) noexcept {
    for (int r = 0; r + 1 < kFilterRows; ++r) {
        for (int c = 0; c < kFilterChannels; ++c) {
            rows[r][c] = rows[r + 1][c];
        }
    }
}

}  // namespace detail
}  // namespace kxmc
