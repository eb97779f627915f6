// Drag power averaging window, shared by the power measurement (qmcPowerReal) and the per-cycle
// torque control, which empties it when the mean drag power trips the limit.
//
// Library-internal: external linkage so both translation units reach the same objects, hidden
// from the host.
#pragma once

#include <cstdint>

namespace kxmc {
constexpr int kPowerWindow = 100;  // samples (cycles) averaged
}  // namespace kxmc

// Samples |tau . omega| summed over the joints [W], oldest in slot 0; slot powerCount - 1 holds
// the newest while the window is filling, slot 99 once it is full.
[[gnu::visibility("hidden")]] extern float powerIntegral[kxmc::kPowerWindow];
// Samples held, 0..100.
[[gnu::visibility("hidden")]] extern int32_t powerCount;

namespace kxmc {
// Empties the window: the next 100 measurements report 0 again.
[[gnu::visibility("hidden")]] void reset_power_window() noexcept;
}  // namespace kxmc
