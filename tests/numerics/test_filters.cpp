// Filters checked by their step responses (gain at rest, slow rise of the low cut-off set),
// the difference equation over the rows in use, which record each filter of the family reads,
// its index guards and the exponential smoother's limiting weights.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "dynamics/arm_parameters.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "numerics/butterworth.hpp"
#include "numerics/filter_records.hpp"

namespace {

using kxmc::detail::Butterworth4;
using kxmc::detail::butterworth_step;
using FilterRecords = kxsim_test::HostFixture;

// The slow set as designed (2.8 Hz at the 1 kHz cycle).
constexpr double kSlowB[5] = {5.949168623009538e-9, 2.379667449203815e-8, 3.569501173805723e-8,
                              2.379667449203815e-8, 5.949168623009538e-9};
constexpr double kSlowA[5] = {1, -3.953836739036792, 5.862572756863548, -3.863621026769476,
                              0.954885104129417};

// Output n of the slow set from rest for the inputs x[0..n].
double slow_from_rest(const double *x, const double *y, int n) {
    long double out = 0.0L;
    for (int i = 0; i <= 4 && i <= n; ++i) {
        out += static_cast<long double>(kSlowB[i]) * x[n - i];
        if (i > 0) out -= static_cast<long double>(kSlowA[i]) * y[n - i];
    }
    return static_cast<double>(out);
}

TEST(ButterworthStep, UnitStepFromRestSettlesAtGainAtRest) {
    // Coefficients, first output row (12 in the dual-encoder layout), samples to settle,
    // settled output, its tolerance, and the sample up to which the output stays below 1/2.
    const struct {
        const Butterworth4 &coeffs;
        int y_row, settle_steps;
        double gain_at_rest, tolerance;
        int slow_until;
    } cases[] = {
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
            ASSERT_EQ(
                butterworth_step(c.coeffs, &rec.history[0], &rec.history[c.y_row], 3, rec.row, &y),
                0);
            rec.history[c.y_row + rec.row++][3] = y;
            EXPECT_TRUE(n > c.slow_until || y < 0.5) << "sample " << n;
            peak = std::fmax(peak, y);
        }
        EXPECT_NEAR(y, c.gain_at_rest, c.tolerance);
        EXPECT_LT(peak, 1.2 * c.gain_at_rest) << "fourth-order Butterworth overshoot is about 11 %";
        for (int i = 0; i < 18 * 6; ++i)
            EXPECT_TRUE(i % 6 == 3 || rec.history[i / 6][i % 6] == 0.0) << "channel " << i % 6;
    }
}

// y = b0 x[k] + sum_(i = 1..4) (b_i x[k-i] - a_i y[k-i]) over the rows 0..k only: rows before 0
// count as zero (the first rows after a reset see a zero past) and rows past k, the rest of an
// old window, not at all. Both coefficient sets as designed.
TEST(ButterworthStep, DifferenceEquationOverTheRowsUpToTheCurrentOne) {
    const double kDeflectionB[5] = {0.0022, 0.0089, 0.0134, 0.0089, 0.0022};
    const double kDeflectionA[5] = {1, -2.6926, 2.8674, -1.4035, 0.2646};
    const struct {
        const Butterworth4 &filter;
        const double *b, *a;
    } sets[] = {{kxmc::detail::kButterworthSlow, kSlowB, kSlowA},
                {kxmc::detail::kButterworthDeflection, kDeflectionB, kDeflectionA}};
    for (const auto &set : sets) {
        for (int k = 0; k < 6; ++k) {
            FilterHistory h{};
            for (int r = 0; r < 6; ++r) {
                for (int c = 0; c < 6; ++c) {
                    h.history[r][c] = r <= k ? 1.0 + 0.5 * r + 0.1 * c : 1e6;      // x
                    h.history[6 + r][c] = r < k ? -2.0 + 0.3 * r - 0.2 * c : 1e6;  // y
                }
            }
            long double want = 0.0L;
            for (int i = 0; i <= 4 && i <= k; ++i) {
                want += static_cast<long double>(set.b[i]) * h.history[k - i][4];
                if (i > 0) want -= static_cast<long double>(set.a[i]) * h.history[6 + k - i][4];
            }
            double y = 0.0;
            ASSERT_EQ(butterworth_step(set.filter, &h.history[0], &h.history[6], 4, k, &y), 0);
            EXPECT_NEAR(y, static_cast<double>(want), 1e-15 * (1.0 + std::fabs(y))) << "k " << k;
        }
    }
}

// Each filter of the family reads the record its user fills: the load filters recompute the
// published filtered torque and angle, the teach and deflection filters see their users'
// samples, and the two filters without a user in the library stay at rest.
TEST_F(FilterRecords, EachFilterReadsItsOwnRecord) {
    const auto &set = kxmc::standard_arm_parameters(0);
    double tau[6], diag[36];
    const double gain[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int n = 0; n < 8; ++n) {
        double q[6];
        for (int j = 0; j < 6; ++j) {
            q[j] = 10.0 * j + n;
            mpb.jointPos[j] = q[j];
            how.jointCurrent[j] = static_cast<int16_t>(100 * (j + 1) + 10 * n);
        }
        ASSERT_EQ(kxqmckxdynamicblock(q, 0, 0, 0, 0, tau, set.lengths, set.masses, set.centres,
                                      set.inertias, set.rotor, nullptr, diag),
                  0);
        ASSERT_EQ(kxmcteachcontrol10_gravitytest(0, 0, gain, q, tau, 201), 0);
    }
    for (int n = 0; n < 8; ++n) {
        how.encoderPosB[n % 6] += 1000;  // the wrapper restarted the detector on every cycle
        ASSERT_EQ(kxmcCollisionDetection(0, nullptr), 0);
    }
    for (int ch = 0; ch < 6; ++ch) {
        double out[6];
        ASSERT_EQ(Loadbuttord(ch, 5, &out[0]), 0);
        ASSERT_EQ(LoadPosbuttord(ch, 5, &out[1]), 0);
        ASSERT_EQ(buttord(ch, 5, &out[2]), 0);
        ASSERT_EQ(TualEncoderbuttord(ch, 5, &out[3]), 0);
        ASSERT_EQ(Fivebuttord(ch, 5, &out[4]), 0);
        ASSERT_EQ(ForceCollisionbuttord(ch, 5, &out[5]), 0);
        EXPECT_EQ(out[0], torque[ch]) << ch;
        EXPECT_EQ(out[1], joint_angle_load[ch]) << ch;
        EXPECT_NE(out[2], 0.0) << ch;
        EXPECT_NE(out[3], 0.0) << ch;
        EXPECT_EQ(out[4], 0.0) << ch;
        EXPECT_EQ(out[5], 0.0) << ch;
    }
}

// From rest, the load filters of the dynamics block run the slow set over their own inputs,
// through the window shifts: the joint angle (a sample that is not a number holds the previous
// one), and a step of the measured torque (current per mille x rated torque x gear 101).
TEST_F(FilterRecords, LoadFiltersRunTheSlowSetFromRest) {
    const auto &set = kxmc::standard_arm_parameters(0);
    const double q[6] = {};
    double tau[6], diag[36];
    float rated[6] = {};
    ASSERT_EQ(kxmcJointDefaultTorque(rated), 0);
    constexpr int kCycles = 9;
    double angle[6][kCycles], angle_out[6][kCycles], step[kCycles], step_out[kCycles];
    for (int n = 0; n < kCycles; ++n) {
        step[n] = 1.0;
        step_out[n] = slow_from_rest(step, step_out, n);
        for (int j = 0; j < 6; ++j) {
            angle[j][n] = mpb.jointPos[j] = 10.0 * (j + 1) + 0.5 * n * n;
            if (j == 1 && n == 7) {  // not a number: the previous sample is held
                mpb.jointPos[j] = NAN;
                angle[j][n] = angle[j][n - 1];
            }
            angle_out[j][n] = slow_from_rest(angle[j], angle_out[j], n);
            how.jointCurrent[j] = static_cast<int16_t>(100 * (j + 1));
        }
        ASSERT_EQ(kxqmckxdynamicblock(q, 0, 0, 0, 0, tau, set.lengths, set.masses, set.centres,
                                      set.inertias, set.rotor, nullptr, diag),
                  0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_NEAR(joint_angle_load[j], angle_out[j][n], 1e-12 * std::fabs(angle_out[j][n]))
                << "joint " << j << " cycle " << n;
            const double want = step_out[n] * 100 * (j + 1) * 0.001 * rated[j] * 101;  // [N m]
            EXPECT_NEAR(torque[j], want, 1e-9 * want) << "joint " << j << " cycle " << n;
        }
    }
}

TEST(ButterworthFamily, RestOutputsZeroAndIndicesOutsideTheWindowAreRefused) {
    int (*const family[])(int, int, double *) = {buttord,        TualEncoderbuttord,
                                                 Fivebuttord,    Loadbuttord,
                                                 LoadPosbuttord, ForceCollisionbuttord};
    const int bad[][2] = {{-1, 0}, {6, 0}, {0, -1}, {0, 6}};
    for (int m = 0; m < 6; ++m) {
        double rest = 5.0;
        EXPECT_EQ(family[m](5, 5, &rest), 0) << m;
        EXPECT_EQ(rest, 0.0) << "records start at rest";
        for (const auto &b : bad) {
            double out = 5.0;
            EXPECT_EQ(family[m](b[0], b[1], &out), -1) << m << " ch " << b[0] << " k " << b[1];
            EXPECT_EQ(out, 5.0) << m << " ch " << b[0] << " k " << b[1];
        }
        EXPECT_EQ(family[m](0, 0, nullptr), -1);
    }
}

TEST(MyFilter, UnitStepSettlesOnItsOwnChannelAndBadChannelsAreRefused) {
    double y = 5.0;
    EXPECT_EQ(myfilter(-1, 1.0, &y), -1);
    EXPECT_EQ(myfilter(6, 1.0, &y), -1);
    EXPECT_EQ(myfilter(2, 1.0, nullptr), -1);
    EXPECT_EQ(y, 5.0);
    for (int n = 0; n < 5000; ++n) ASSERT_EQ(myfilter(2, 1.0, &y), 4);
    EXPECT_NEAR(y, 1.0, 1e-6) << "refused calls left the history at rest";
    double other = 1.0;
    ASSERT_EQ(myfilter(4, 0.0, &other), 4);
    EXPECT_EQ(other, 0.0) << "channels keep separate histories";
}

TEST(LowpassFilter, WeightFromTheGainsLimitingWeightsAndBadSamples) {
    LowpassFilter rec{0.5f, {1, 2, 3, 4, 5, 6}};
    ASSERT_EQ(init_lowpassfilter(&rec, 0.75f, 0.25f), 0);
    EXPECT_EQ(rec.alpha, 0.25f) << "weight b / (a + b)";
    ASSERT_EQ(init_lowpassfilter(&rec, 1.0f, 0.1f), 0);
    EXPECT_EQ(rec.prev[5], 0.0f);
    // A constant input approaches as 1 - (1 - alpha)^n with alpha = 0.1 / (1 + 0.1).
    const double ones[6] = {1, 1, 1, 1, 1, 1};
    float y[6];
    for (int n = 1; n <= 50; ++n) ASSERT_EQ(lowpassfilterMain(&rec, ones, y), 0);
    EXPECT_NEAR(y[0], 1.0 - std::pow(10.0 / 11.0, 50), 1e-5);
    EXPECT_EQ(init_lowpassfilter(&rec, 1.0f, -1.0f), -1);
    EXPECT_EQ(rec.alpha, 1.0f) << "no usable weight: unsmoothed";
    // alpha 1 passes the input, 0 holds the output, a non-finite sample repeats the output,
    // beyond float range saturates.
    const struct {
        float alpha;
        double x;
        float prev, expected;
    } cases[] = {{1.0f, 2.5, 7.0f, 2.5f},        {0.0f, 2.5, 7.0f, 7.0f},
                 {0.5f, NAN, 3.0f, 3.0f},        {0.5f, HUGE_VAL, 3.0f, 3.0f},
                 {1.0f, DBL_MAX, 0.0f, FLT_MAX}, {1.0f, -1e300, 0.0f, -FLT_MAX}};
    for (const auto &c : cases) {
        LowpassFilter r{c.alpha, {}};
        double x[6];
        for (int j = 0; j < 6; ++j) r.prev[j] = c.prev, x[j] = c.x;
        ASSERT_EQ(lowpassfilterMain(&r, x, y), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(y[j], c.expected) << c.x;
            EXPECT_EQ(r.prev[j], c.expected) << c.x;
        }
    }
    EXPECT_EQ(lowpassfilterMain(nullptr, ones, y), -1);
    EXPECT_EQ(lowpassfilterMain(&lowpassfilter, nullptr, y), -1);
}

}  // namespace
