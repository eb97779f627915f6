// Excess counts of the custom collision detector, shared between the detector (which counts)
// and the per-cycle collision check (which compares them with mpb.collisionCountLimit and
// clears them on a reaction). Servo thread only.
#pragma once

namespace kxmc {
namespace detail {

// Consecutive cycles in which the first joint outside its custom residual limit was this one.
extern float jointCollisionCount[6];
// Consecutive cycles in which the first TCP wrench component outside its limit was this one
// (index = component Fx, Fy, Fz, Mx, My, Mz).
extern float tcpCollisionCount[6];

}  // namespace detail
}  // namespace kxmc
