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
// see a zero past. Accumulated in extended precision, term by term in the order of i.
// Returns 0; ch or k outside 0..5 or a null out returns -1 without writing.
inline int butterworth_step(const Butterworth4 &f, const double (*x)[kFilterChannels],
                            const double (*y)[kFilterChannels], int ch, int k,
                            double *out) noexcept {
    if (ch < 0 || ch >= kFilterChannels || k < 0 || k >= kFilterRows || out == nullptr) {
        return -1;
    }
    long double acc = static_cast<long double>(f.b[0]) * x[k][ch];
    for (int i = 1; i <= 4 && k - i >= 0; ++i) {
        acc += static_cast<long double>(f.b[i]) * x[k - i][ch];
        acc -= static_cast<long double>(f.a[i]) * y[k - i][ch];
    }
    *out = static_cast<double>(acc);
    return 0;
}

}  // namespace detail
}  // namespace kxmc
