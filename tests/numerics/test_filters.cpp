// Filters checked by their step responses (gain at rest, slow rise of the low cut-off set),
// the zero-past rule after a reset, the index guards of the exported family and the
// exponential smoother's limiting weights.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <ostream>
#include <string>

#include "kxmc/kxmc_numerics.h"
#include "numerics/butterworth.hpp"
#include "numerics/filter_records.hpp"

namespace {

using kxmc::detail::butterworth_step;
using kxmc::detail::Butterworth4;
using kxmc::detail::shift_filter_rows;

// Drives one channel of a history record through the row discipline every user keeps:
// shift when the row index passes 5, store input, filter, store output, advance.
struct FilterRig {
    const Butterworth4 &coeffs;
    int y_row;  // first output row: 6, or 12 for the dual-encoder layout
    FilterHistory rec{};

    double step(int ch, double x) {
        if (rec.row > 5) {
            shift_filter_rows(&rec.history[0]);
            shift_filter_rows(&rec.history[y_row]);
            rec.row = 5;
        }
        rec.history[rec.row][ch] = x;
        double y = NAN;
        EXPECT_EQ(butterworth_step(coeffs, &rec.history[0], &rec.history[y_row], ch, rec.row, &y),
                  0);
        rec.history[y_row + rec.row][ch] = y;
        ++rec.row;
        return y;
    }
};

struct StepCase {
    const char *name;
    const Butterworth4 &coeffs;
    int y_row;
    int settle_steps;      // samples after which the output has settled
    double gain_at_rest;   // settled output for a unit step
    double tolerance;
    int slow_until;        // output below one half up to this sample
};

// Short names in test listings.
void PrintTo(const StepCase &p, std::ostream *os) { *os << p.name; }

const StepCase kStepCases[] = {
    // Cut-off 0.0056 of Nyquist: a 2.8 Hz corner at the 1 kHz cycle.
    {"slow", kxmc::detail::kButterworthSlow, 6, 20000, 1.0, 1e-6, 60},
    // Cut-off 0.16 of Nyquist; the rounded coefficients give 0.9916 at rest.
    {"deflection", kxmc::detail::kButterworthDeflection, 12, 2000, 0.9916, 1e-4, 2},
};

class ButterworthStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(ButterworthStep, UnitStepFromRestSettlesAtGainAtRest) {
    const StepCase &c = GetParam();
    FilterRig rig{c.coeffs, c.y_row};
    double y = 0.0, peak = 0.0;
    for (int n = 0; n < c.settle_steps; ++n) {
        y = rig.step(3, 1.0);
        if (n == 0) {
            EXPECT_DOUBLE_EQ(y, c.coeffs.b[0]) << "zero past on the first sample";
        }
        if (n <= c.slow_until) {
            EXPECT_LT(y, 0.5) << "sample " << n;
        }
        peak = std::fmax(peak, y);
    }
    EXPECT_NEAR(y, c.gain_at_rest, c.tolerance);
    EXPECT_LT(peak, 1.2 * c.gain_at_rest) << "fourth-order Butterworth overshoot is about 11 %";
    // The other channels saw nothing.
    for (int ch = 0; ch < 6; ++ch) {
        if (ch == 3) continue;
        for (int r = 0; r < 18; ++r) EXPECT_EQ(rig.rec.history[r][ch], 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(CoefficientSets, ButterworthStep, ::testing::ValuesIn(kStepCases),
                         [](const ::testing::TestParamInfo<StepCase> &p) {
                             return std::string(p.param.name);
                         });

TEST(ButterworthStep, RowsBeforeTheFirstCountAsZero) {
    // Rows past k hold unrelated values (the rest of an old window); only rows 0..k count.
    const Butterworth4 &f = kxmc::detail::kButterworthDeflection;
    FilterHistory h{};
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 6; ++c) h.history[r][c] = 1000.0 + r;
    h.history[0][1] = 2.0;
    double y0 = 0.0;
    ASSERT_EQ(butterworth_step(f, &h.history[0], &h.history[6], 1, 0, &y0), 0);
    EXPECT_DOUBLE_EQ(y0, f.b[0] * 2.0);

    const double x[3] = {1.0, -0.5, 0.25}, y[2] = {0.1, 0.2};
    for (int r = 0; r < 3; ++r) h.history[r][1] = x[r];
    for (int r = 0; r < 2; ++r) h.history[6 + r][1] = y[r];
    double y2 = 0.0;
    ASSERT_EQ(butterworth_step(f, &h.history[0], &h.history[6], 1, 2, &y2), 0);
    const double expected = f.b[0] * x[2] + f.b[1] * x[1] - f.a[1] * y[1] + f.b[2] * x[0] -
                            f.a[2] * y[0];
    EXPECT_NEAR(y2, expected, 1e-15);
}

// ---- Exported family ----------------------------------------------------------------------

struct FamilyMember {
    const char *name;
    int (*fn)(int, int, double *);
};

// Short names in test listings.
void PrintTo(const FamilyMember &p, std::ostream *os) { *os << p.name; }

const FamilyMember kFamily[] = {
    {"buttord", buttord},         {"TualEncoderbuttord", TualEncoderbuttord},
    {"Fivebuttord", Fivebuttord}, {"Loadbuttord", Loadbuttord},
    {"LoadPosbuttord", LoadPosbuttord}, {"ForceCollisionbuttord", ForceCollisionbuttord},
};

class ButterworthFamily : public ::testing::TestWithParam<FamilyMember> {};

TEST_P(ButterworthFamily, RestOutputsZeroAndIndicesOutsideTheWindowAreRefused) {
    const FamilyMember &m = GetParam();
    for (int ch = 0; ch < 6; ++ch) {
        for (int k = 0; k < 6; ++k) {
            double out = 5.0;
            ASSERT_EQ(m.fn(ch, k, &out), 0);
            EXPECT_EQ(out, 0.0) << "records start at rest";
        }
    }
    const int bad[][2] = {{-1, 0}, {6, 0}, {0, -1}, {0, 6}, {INT_MIN, 3}, {2, INT_MAX}};
    for (const auto &b : bad) {
        double out = 5.0;
        EXPECT_EQ(m.fn(b[0], b[1], &out), -1) << m.name << " ch " << b[0] << " k " << b[1];
        EXPECT_EQ(out, 5.0);
    }
    EXPECT_EQ(m.fn(0, 0, nullptr), -1);
}

INSTANTIATE_TEST_SUITE_P(Members, ButterworthFamily, ::testing::ValuesIn(kFamily),
                         [](const ::testing::TestParamInfo<FamilyMember> &p) {
                             return std::string(p.param.name);
                         });

// ---- myfilter -----------------------------------------------------------------------------

TEST(MyFilter, UnitStepSettlesAtOneOnItsOwnChannel) {
    double y = 0.0;
    double first = 0.0;
    for (int n = 0; n < 5000; ++n) {
        ASSERT_EQ(myfilter(2, 1.0, &y), 4);
        if (n == 0) first = y;
    }
    EXPECT_GT(first, 0.0);
    EXPECT_LT(first, 1e-5) << "cut-off 0.02 of Nyquist: the first sample barely moves";
    EXPECT_NEAR(y, 1.0, 1e-6);
    double other = 1.0;
    ASSERT_EQ(myfilter(4, 0.0, &other), 4);
    EXPECT_EQ(other, 0.0) << "channels keep separate histories";
}

TEST(MyFilter, ChannelOutsideTheHistoryIsRefused) {
    for (int32_t ch : {-1, 6, INT_MIN, INT_MAX}) {
        double y = 5.0;
        EXPECT_EQ(myfilter(ch, 1.0, &y), -1);
        EXPECT_EQ(y, 5.0);
    }
    EXPECT_EQ(myfilter(0, 1.0, nullptr), -1);
    double y = 5.0;
    ASSERT_EQ(myfilter(0, 0.0, &y), 4);
    EXPECT_EQ(y, 0.0) << "refused calls left the history at rest";
}

// ---- Exponential smoother -----------------------------------------------------------------

TEST(LowpassFilter, WeightFromTheTwoGains) {
    LowpassFilter rec{0.5f, {1, 2, 3, 4, 5, 6}};
    ASSERT_EQ(init_lowpassfilter(&rec, 1.0f, 0.1f), 0);
    EXPECT_NEAR(rec.alpha, 1.0 / 11.0, 1e-7);
    for (float p : rec.prev) EXPECT_EQ(p, 0.0f);
    // A constant input approaches geometrically: after n steps 1 - (1 - alpha)^n.
    const double x[6] = {1, 1, 1, 1, 1, 1};
    float y[6];
    for (int n = 1; n <= 50; ++n) ASSERT_EQ(lowpassfilterMain(&rec, x, y), 0);
    EXPECT_NEAR(y[0], 1.0 - std::pow(10.0 / 11.0, 50), 1e-5);
    // No usable weight: samples pass unsmoothed.
    EXPECT_EQ(init_lowpassfilter(&rec, 1.0f, -1.0f), -1);
    EXPECT_EQ(rec.alpha, 1.0f);
}

TEST(LowpassFilter, LimitingWeightsAndBadSamples) {
    struct Case {
        float alpha;
        double x;
        float prev;
        float expected;
    };
    const Case cases[] = {
        {1.0f, 2.5, 7.0f, 2.5f},                 // alpha 1 passes the input through
        {0.0f, 2.5, 7.0f, 7.0f},                 // alpha 0 holds the previous output
        {0.25f, 4.0, 0.0f, 1.0f},                // a quarter of the way
        {0.5f, NAN, 3.0f, 3.0f},                 // a NaN sample repeats the last output
        {0.5f, HUGE_VAL, 3.0f, 3.0f},            // so does an infinite one
        {1.0f, 1e300, 0.0f, FLT_MAX},            // beyond float range: saturates
        {1.0f, -1e300, 0.0f, -FLT_MAX},
    };
    for (const Case &c : cases) {
        LowpassFilter rec{c.alpha, {}};
        double x[6];
        for (int j = 0; j < 6; ++j) {
            rec.prev[j] = c.prev;
            x[j] = c.x;
        }
        float y[6];
        ASSERT_EQ(lowpassfilterMain(&rec, x, y), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(y[j], c.expected) << "alpha " << c.alpha << " x " << c.x;
            EXPECT_EQ(rec.prev[j], c.expected);
        }
    }
    float y[6];
    const double x[6] = {};
    EXPECT_EQ(lowpassfilterMain(nullptr, x, y), -1);
    EXPECT_EQ(lowpassfilterMain(&lowpassfilter, nullptr, y), -1);
}

}  // namespace
