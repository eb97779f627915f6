// Fourth-order Butterworth low-pass in direct form I over six-row history windows: the
// arithmetic of the filter family (buttord, TualEncoderbuttord, ...), kept apart from the
// records the exported functions bind it to so that it can be exercised on any history.
#pragma once

#include "numerics/filter_records.hpp"

namespace kxmc {
namespace detail {

// Numerator b0..b4 and denominator 1, a1..a4.
struct Butterworth4 {
    double b[5];
    double a[5];  // a[0] = 1, not used
};

// Cut-off 0.0056 of the Nyquist frequency, unit gain at rest.
constexpr Butterworth4 kButterworthSlow = {
    {5.949168623009538e-9, 2.379667449203815e-8, 3.569501173805723e-8, 2.379667449203815e-8,
     5.949168623009538e-9},
    {1.0, -3.953836739036792, 5.862572756863548, -3.863621026769476, 0.954885104129417}};

// Cut-off 0.16 of the Nyquist frequency. The coefficients are rounded to four decimals, so the
// gain at rest is 0.0356 / 0.0359 = 0.9916, not 1: the deflection thresholds were tuned on it.
constexpr Butterworth4 kButterworthDeflection = {{0.0022, 0.0089, 0.0134, 0.0089, 0.0022},
                                                 {1.0, -2.6926, 2.8674, -1.4035, 0.2646}};

// y = b0 x[k] + sum_{i=1..4} (b_i x[k-i] - a_i y[k-i]) for channel ch of the windows x and y
// (six rows of six channels each); rows below 0 count as zero, so the first rows after a reset
// see a zero past. Accumulated in Acc, term by term in the order of i: extended precision by
// default, which the slow set needs (its poles lie close to 1, so its output is a small difference
// of large terms).
// Returns 0; ch or k outside 0..5 or a null out returns -1 without writing.
template <class Acc = long double>
inline int butterworth_step(const Butterworth4 &f, const double (*x)[kFilterChannels],
                            const double (*y)[kFilterChannels], int ch, int k,
                            double *out) noexcept {
    if (ch < 0 || ch >= kFilterChannels || k < 0 || k >= kFilterRows || out == nullptr) {
        return -1;
    }
    Acc acc = static_cast<Acc>(f.b[0]) * x[k][ch];
    if (k >= 4) {  // a full past, the usual case: the same sum without the loop
        acc += static_cast<Acc>(f.b[1]) * x[k - 1][ch];
        acc -= static_cast<Acc>(f.a[1]) * y[k - 1][ch];
        acc += static_cast<Acc>(f.b[2]) * x[k - 2][ch];
        acc -= static_cast<Acc>(f.a[2]) * y[k - 2][ch];
        acc += static_cast<Acc>(f.b[3]) * x[k - 3][ch];
        acc -= static_cast<Acc>(f.a[3]) * y[k - 3][ch];
        acc += static_cast<Acc>(f.b[4]) * x[k - 4][ch];
        acc -= static_cast<Acc>(f.a[4]) * y[k - 4][ch];
        *out = static_cast<double>(acc);
        return 0;
    }
    for (int i = 1; i <= 4 && k - i >= 0; ++i) {
        acc += static_cast<Acc>(f.b[i]) * x[k - i][ch];
        acc -= static_cast<Acc>(f.a[i]) * y[k - i][ch];
    }
    *out = static_cast<double>(acc);
    return 0;
}

// Step of the deflection set, accumulated in double: the dual-encoder detector runs 36 of these
// steps every cycle, and extended arithmetic costs it a sixth of the servo cycle. Its poles lie
// at most 0.83 from the origin; at rest its terms add up to about 230 times the output and the
// feedback carries a rounding 28-fold, so the double sum stays within about 1e-11 of the
// output's size: far below the detector's thresholds (1e-3 deg and more) and the four decimals
// its coefficients carry.
inline int deflection_filter_step(const double (*x)[kFilterChannels],
                                  const double (*y)[kFilterChannels], int ch, int k,
                                  double *out) noexcept {
    return butterworth_step<double>(kButterworthDeflection, x, y, ch, k, out);
}

}  // namespace detail
}  // namespace kxmc
