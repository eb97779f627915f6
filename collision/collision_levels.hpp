// Collision level and speed override, shared by the detectors that scale their thresholds with
// them (dual-encoder detection, dynamic allowance, momentum observer).
#pragma once

#include <cstdint>

#include "host/kxmc_host.h"
#include "numerics/float_cast.hpp"

namespace kxmc {
namespace detail {

constexpr int kCollisionLevels = 10;  // entries of a level table: levels 1..10

// Row of a ten-entry level table for a collision level: trunc(level - 1), clamped to the table.
// Levels below 1 take the first row, 11 and above the last, a level that is not a number the
// first (the most sensitive).
inline int level_row(float level) noexcept {
    const int32_t i = trunc_to<int32_t>(static_cast<double>(level) - 1.0);
    return i < 0 ? 0 : (i >= kCollisionLevels ? kCollisionLevels - 1 : i);
}

// Speed override that scales the collision thresholds: mcb.speedRatioA in speed mode 0,
// mcb.speedRatioB in speed mode 1. Returns false (x untouched) in any other mode.
inline bool speed_override(double *x) noexcept {
    if (mcb.speedMode == 0) {
        *x = mcb.speedRatioA;
        return true;
    }
    if (mcb.speedMode == 1) {
        *x = mcb.speedRatioB;
        return true;
    }
    return false;
}

// Speed factor of a joint at override x and collision level: 10 x / level when 10 x does not
// exceed the level (slow programs tighten the threshold), else 1. A level that is not positive
// keeps the factor 1.
inline double speed_factor(double x, double level) noexcept {
    return level > 0.0 && 10.0 * x <= level ? 10.0 * x / level : 1.0;
}

}  // namespace detail
}  // namespace kxmc
