// The torque model shared by the per-cycle collision check and the static collision check.
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

}  // namespace detail
}  // namespace kxmc
