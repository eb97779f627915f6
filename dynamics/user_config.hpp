// Persisting settings in the host's user configuration file.
//
// Every settings command stores its value in the host record first and then writes each key it
// owns through the host's ConfigWriteEntry, value as a 32-bit float. The host reads the file back
// at start; the library never reads it. The write result is deliberately ignored: the value in
// the record is what the cycle uses, and a failed write only loses it at the next restart.
#pragma once

#include <cmath>
#include <limits>

#include "host/kxmc_host.h"

namespace kxmc {
namespace detail {

constexpr const char kUserConfigPath[] = "/root/robot/user.config";
constexpr const char kUserParamSection[] = "USER_PARAM";

// Double to float; finite values beyond the float range saturate at its largest magnitude
// (a plain conversion of those is undefined), infinities and NaN pass unchanged.
inline float saturate_to_float(double x) noexcept {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (std::isfinite(x)) {
        if (x > kMax) {
            return std::numeric_limits<float>::max();
        }
        if (x < -kMax) {
            return -std::numeric_limits<float>::max();
        }
    }
    return static_cast<float>(x);
}

// Writes one key of `section` in "/root/robot/user.config".
inline void persist_user_key(const char *section, const char *key, double value) noexcept {
    static_cast<void>(ConfigWriteEntry(kUserConfigPath, section, key, saturate_to_float(value)));
}

// Writes one key of section "USER_PARAM" in "/root/robot/user.config".
inline void persist_user_param(const char *key, double value) noexcept {
    persist_user_key(kUserParamSection, key, value);
}

}  // namespace detail
}  // namespace kxmc
