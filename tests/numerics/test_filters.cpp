// Filters checked by their step responses (gain at rest, slow rise of the low cut-off set),
// the zero-past rule after a reset, the index guards of the exported family and the
// exponential smoother's limiting weights.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "kxmc/kxmc_numerics.h"
#include "numerics/butterworth.hpp"
#include "numerics/filter_records.hpp"

namespace {

using kxmc::detail::butterworth_step;
using kxmc::detail::Butterworth4;

TEST(ButterworthStep, UnitStepFromRestSettlesAtGainAtRest) {
    // Coefficients, first output row (12 in the dual-encoder layout), samples to settle,
    // settled output, its tolerance, and the sample up to which the output stays below 1/2.
    const struct { const Butterworth4 &coeffs; int y_row, settle_steps; double gain_at_rest, tolerance; int slow_until; } cases[] = {
        // Cut-off 0.0056 of Nyquist: a 2.8 Hz corner at the 1 kHz cycle.
        {kxmc::detail::kButterworthSlow, 6, 20000, 1.0, 1e-6, 60},
        // Cut-off 0.16 of Nyquist; the rounded coefficients give 0.9916 at rest.
        {kxmc::detail::kButterworthDeflection, 12, 2000, 0.9916, 1e-4, 2},
    };
    for (const auto &c : cases) {
        // The row discipline every user keeps: shift when the row index passes 5, store the
        // input, filter, store the output, advance.
        FilterHistory rec{};
        double y = 0.0, peak = 0.0;
        for (int n = 0; n < c.settle_steps; ++n) {
            if (rec.row > 5) {
                kxmc::detail::shift_filter_rows(&rec.history[0]);
                kxmc::detail::shift_filter_rows(&rec.history[c.y_row]);
                rec.row = 5;
            }
            rec.history[rec.row][3] = 1.0;
            ASSERT_EQ(butterworth_step(c.coeffs, &rec.history[0], &rec.history[c.y_row], 3, rec.row, &y), 0);
            rec.history[c.y_row + rec.row++][3] = y;
            EXPECT_TRUE(n > c.slow_until || y < 0.5) << "sample " << n;
            peak = std::fmax(peak, y);
        }
        EXPECT_NEAR(y, c.gain_at_rest, c.tolerance);
        EXPECT_LT(peak, 1.2 * c.gain_at_rest) << "fourth-order Butterworth overshoot is about 11 %";
        for (int i = 0; i < 18 * 6; ++i) EXPECT_TRUE(i % 6 == 3 || rec.history[i / 6][i % 6] == 0.0) << "channel " << i % 6;
    }
}

TEST(ButterworthStep, RowsPastTheCurrentOneDoNotCount) {
    // Rows past k hold the rest of an old window; only rows 0..k count.
    const Butterworth4 &f = kxmc::detail::kButterworthDeflection;
    FilterHistory h{};
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 6; ++c) h.history[r][c] = 1000.0 + r;
    h.history[0][1] = 2.0;
    double y0 = 0.0;
    ASSERT_EQ(butterworth_step(f, &h.history[0], &h.history[6], 1, 0, &y0), 0);
    EXPECT_DOUBLE_EQ(y0, f.b[0] * 2.0);
}

TEST(ButterworthFamily, RestOutputsZeroAndIndicesOutsideTheWindowAreRefused) {
    int (*const family[])(int, int, double *) = {buttord, TualEncoderbuttord, Fivebuttord,
                                                  Loadbuttord, LoadPosbuttord, ForceCollisionbuttord};
    const int bad[][2] = {{-1, 0}, {6, 0}, {0, -1}, {0, 6}};
    for (int m = 0; m < 6; ++m) {
        double rest = 5.0;
        EXPECT_TRUE(family[m](5, 5, &rest) == 0 && rest == 0.0) << "records start at rest";
        for (const auto &b : bad) {
            double out = 5.0;
            EXPECT_TRUE(family[m](b[0], b[1], &out) == -1 && out == 5.0) << m << " ch " << b[0] << " k " << b[1];
        }
        EXPECT_EQ(family[m](0, 0, nullptr), -1);
    }
}

TEST(MyFilter, UnitStepSettlesOnItsOwnChannelAndBadChannelsAreRefused) {
    double y = 5.0;
    EXPECT_TRUE(myfilter(-1, 1.0, &y) == -1 && myfilter(6, 1.0, &y) == -1 && y == 5.0 && myfilter(2, 1.0, nullptr) == -1);
    for (int n = 0; n < 5000; ++n) ASSERT_EQ(myfilter(2, 1.0, &y), 4);
    EXPECT_NEAR(y, 1.0, 1e-6) << "refused calls left the history at rest";
    double other = 1.0;
    ASSERT_EQ(myfilter(4, 0.0, &other), 4);
    EXPECT_EQ(other, 0.0) << "channels keep separate histories";
}

TEST(LowpassFilter, WeightFromTheGainsLimitingWeightsAndBadSamples) {
    LowpassFilter rec{0.5f, {1, 2, 3, 4, 5, 6}};
    ASSERT_EQ(init_lowpassfilter(&rec, 1.0f, 0.1f), 0);
    EXPECT_EQ(rec.prev[5], 0.0f);
    // A constant input approaches as 1 - (1 - alpha)^n with alpha = 0.1 / (1 + 0.1).
    const double ones[6] = {1, 1, 1, 1, 1, 1};
    float y[6];
    for (int n = 1; n <= 50; ++n) ASSERT_EQ(lowpassfilterMain(&rec, ones, y), 0);
    EXPECT_NEAR(y[0], 1.0 - std::pow(10.0 / 11.0, 50), 1e-5);
    EXPECT_TRUE(init_lowpassfilter(&rec, 1.0f, -1.0f) == -1 && rec.alpha == 1.0f) << "no usable weight: unsmoothed";
    // alpha 1 passes the input, 0 holds the output, a non-finite sample repeats the output,
    // beyond float range saturates.
    const struct { float alpha; double x; float prev, expected; } cases[] = {
        {1.0f, 2.5, 7.0f, 2.5f}, {0.0f, 2.5, 7.0f, 7.0f}, {0.5f, NAN, 3.0f, 3.0f},
        {0.5f, HUGE_VAL, 3.0f, 3.0f}, {1.0f, 1e300, 0.0f, FLT_MAX}, {1.0f, -1e300, 0.0f, -FLT_MAX}};
    for (const auto &c : cases) {
        LowpassFilter r{c.alpha, {}};
        double x[6];
        for (int j = 0; j < 6; ++j) r.prev[j] = c.prev, x[j] = c.x;
        ASSERT_EQ(lowpassfilterMain(&r, x, y), 0);
        for (int j = 0; j < 6; ++j) EXPECT_TRUE(y[j] == c.expected && r.prev[j] == c.expected) << c.x;
    }
    EXPECT_TRUE(lowpassfilterMain(nullptr, ones, y) == -1 && lowpassfilterMain(&lowpassfilter, nullptr, y) == -1);
}

}  // namespace
