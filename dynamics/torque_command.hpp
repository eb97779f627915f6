// Arithmetic of the torque cycle's outputs, kept apart from the host records so that it can be
// checked with plain values: the drive command word and the capped sensor drag torque.
//
// Library-internal (hidden from the host).
#pragma once

#include <cmath>
#include <cstdint>

#include "numerics/float_cast.hpp"

namespace kxmc {
namespace detail {

constexpr double kPerMille = 1000.0;

// Drive command word [per mille of the rated motor torque] of a joint torque through a gear:
// torque / (gear x rated) x 1000, truncated toward zero. A result beyond the 16-bit range
// saturates and a non-finite one gives 0 (kxmc::trunc_to); a joint whose rated torque is 0 has
// no scale and gets 0 instead of a division by zero.
//   torque [N m] on the side the gear factor maps to the motor (gear 1 for a motor torque)
//   gear   gear factor (100 for the drives' nominal gear; 0.7 for the motor-side override)
//   rated  rated motor torque [N m]
inline int16_t torque_command_word(double torque, double gear, double rated) noexcept {
    if (rated == 0.0) {
        return 0;
    }
    return trunc_to<int16_t>(torque / (gear * rated) * kPerMille);
}

// Joint torque of the full-dynamics model with the sensor drag torque t taken off, the sensor
// term limited to |cap| (the torque that accelerates the joint at its bound). A sensor torque
// that is not a number contributes nothing.
inline double sensor_drag_torque(double model, double t, double cap) noexcept {
    const double limit = std::fabs(cap);
    if (std::fabs(t) <= limit) {
        return model - t;
    }
    const double sign = t > 0.0 ? 1.0 : (t < 0.0 ? -1.0 : 0.0);
    return model - sign * limit;
}

// A friction compensation gain outside [-0.000001, 1] (or not a number) is repaired to 0.5.
constexpr float kFrictionGainRepaired = 0.5f;
inline float friction_gain_in_use(float *gain) noexcept {
    const double g = static_cast<double>(*gain);
    if (!(g >= -0.000001 && g <= 1.0)) {
        *gain = kFrictionGainRepaired;
    }
    return *gain;
}

}  // namespace detail
}  // namespace kxmc
