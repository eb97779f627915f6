// Float-to-integer conversion without undefined behaviour.
//
// Every conversion of a computed value to an integer host field goes through these helpers:
// truncation toward zero, saturation at the limits of the target type, and NaN to 0.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace kxmc {

template <class Int>
constexpr Int trunc_to(double x) noexcept {
    static_assert(std::is_integral<Int>::value, "integer target only");
    if (!(x == x)) {
        return Int{0};  // NaN
    }
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (x <= lo) {
        return std::numeric_limits<Int>::min();
    }
    if (x >= hi) {
        return std::numeric_limits<Int>::max();
    }
    return static_cast<Int>(x);  // in range: truncates toward zero
}

inline int16_t trunc_i16(double x) noexcept { return trunc_to<int16_t>(x); }
inline int32_t trunc_i32(double x) noexcept { return trunc_to<int32_t>(x); }

// Double to float without undefined behaviour: finite values beyond the float range saturate
// at +-FLT_MAX; infinities and NaN carry over.
inline float narrow_to_float(double x) noexcept {
    constexpr double kMax = static_cast<double>(std::numeric_limits<float>::max());
    if (x > kMax && x <= std::numeric_limits<double>::max()) {
        return std::numeric_limits<float>::max();
    }
    if (x < -kMax && x >= -std::numeric_limits<double>::max()) {
        return -std::numeric_limits<float>::max();
    }
    return static_cast<float>(x);
}

}  // namespace kxmc
