// The five gear/motor sizes of the arm's joints (largest 40, smallest 14). A joint's size selects
// its friction law and its rated motor torque; each model-code band maps its six joints to sizes.
#pragma once

#include <cstdint>

namespace kxmc {

enum class MotorSize : uint8_t { k14, k17, k25, k32, k40 };

// Short names for the band tables that list six sizes per row.
constexpr MotorSize S14 = MotorSize::k14;
constexpr MotorSize S17 = MotorSize::k17;
constexpr MotorSize S25 = MotorSize::k25;
constexpr MotorSize S32 = MotorSize::k32;
constexpr MotorSize S40 = MotorSize::k40;

}  // namespace kxmc
