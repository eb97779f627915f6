// Non-finite constants of the generated numerical code.
//
// The globals are constant-initialised, so they hold their values from the moment the library
// is loaded, before any code runs; rt_InitInfAndNaN writes the same values again. NaN is the
// negative quiet NaN (sign bit set), the pattern the generated code has always used.
#include <cstdint>
#include <cstring>
#include <limits>

#include "kxmc/kxmc_numerics.h"

namespace {

constexpr uint64_t kNaNBits = 0xFFF8000000000000ull;
constexpr uint32_t kNaNFBits = 0xFFC00000u;

// Negating the default quiet NaN (0x7FF8..., 0x7FC0...) sets the sign bit and keeps the
// payload; a test pins the resulting patterns.
constexpr double kNaN = -std::numeric_limits<double>::quiet_NaN();
constexpr float kNaNF = -std::numeric_limits<float>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kInfF = std::numeric_limits<float>::infinity();

double nan_from_bits() {
    double x;
    std::memcpy(&x, &kNaNBits, sizeof x);
    return x;
}

float nanf_from_bits() {
    float x;
    std::memcpy(&x, &kNaNFBits, sizeof x);
    return x;
}

}  // namespace

extern "C" {

double rtNaN = kNaN;
double rtInf = kInf;
double rtMinusInf = -kInf;
float rtNaNF = kNaNF;
float rtInfF = kInfF;
float rtMinusInfF = -kInfF;

void rt_InitInfAndNaN(void) {
    rtNaN = nan_from_bits();
    rtNaNF = nanf_from_bits();
    rtInf = kInf;
    rtInfF = kInfF;
    rtMinusInf = -kInf;
    rtMinusInfF = -kInfF;
}

double rtGetNaN(void) { return nan_from_bits(); }
float rtGetNaNF(void) { return nanf_from_bits(); }
double rtGetInf(void) { return kInf; }
float rtGetInfF(void) { return kInfF; }
double rtGetMinusInf(void) { return -kInf; }
float rtGetMinusInfF(void) { return -kInfF; }

uint8_t rtIsNaN(double x) { return (x != x) ? 1 : 0; }
uint8_t rtIsNaNF(float x) { return (x != x) ? 1 : 0; }
uint8_t rtIsInf(double x) { return (x == kInf || x == -kInf) ? 1 : 0; }
uint8_t rtIsInfF(float x) { return (x == kInfF || x == -kInfF) ? 1 : 0; }

}  // extern "C"
