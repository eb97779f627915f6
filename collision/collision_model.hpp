// The torque model shared by the per-cycle collision check and the static collision check, and
// the order of the collision message ring.
#pragma once

#include <cstdint>

namespace kxmc {
namespace detail {

// Model and measured torque of one cycle, six joints (joints beyond mpb.jointNum are 0).
struct CycleTorques {
    float rated[6];   // rated motor torque [N m]
    double model[6];  // expected joint torque: (expected + feed-forward current) x rated x 100
                      // plus friction [N m, joint side]
    double meas[6];   // measured motor torque [N m]
};

// Runs the recorder, then forms the cycle's torques from friction (mcb.frictionCompOn 0 only,
// at mpb.targetJointVel), the rated torques, the expected current and the host's velocity
// feed-forward current. A non-finite feed-forward value counts as 0.
void form_cycle_torques(CycleTorques &t) noexcept;

// Puts the collision message ring back in order, row 0 the oldest. Each save of a full ring
// overwrites the oldest row in place, which keeps the cycle cheap; the order is restored only
// where the rows are read: at the end of a collision check that reported a collision, and
// before the ring is printed.
void order_collision_messages() noexcept;

}  // namespace detail
}  // namespace kxmc
