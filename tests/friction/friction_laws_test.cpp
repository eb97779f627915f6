// Friction laws of the five motor sizes and frictionCalculate, against the law evaluated here in
// its written form from the identified parameter table (an independent copy, long double).
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kxmc/kxmc_friction.h"
#include "host_fixture.hpp"

namespace {

struct Set {
    long double A, B, vs, K, b;
};
struct Law {
    const char *name;
    Set low, high;
};

// Identified parameters: (static - Coulomb, Coulomb, Stribeck velocity, sign slope, viscous).
const Law kLaw40 = {"40", {104.742L, 16.9667L, 0.0089L, -65.742L, 86.3627L},
                    {138.1667L, -114.2515L, -3.5737L, -179.4015L, 35.6362L}};
const Law kLaw32 = {"32", {3.1188L, 12.1015L, 0.0169L, -775.8381L, 23.7299L},
                    {34.627L, -21.0712L, -2.6147L, -48.6744L, 14.8233L}};
const Law kLaw25a = {"25/0", {7.1287L, 5.3406L, -0.012L, -153.1699L, 11.4372L},
                     {-6.7499L, 13.6401L, 0.6317L, -21.9747L, 1.3145L}};
const Law kLaw25b = {"25/1", {31.499L, 10.024L, 0.0033L, -329.9324L, 28.289L},
                     {83.0455L, -71.7434L, 4.42725L, -23.9343L, 17.9582L}};
const Law kLaw17 = {"17", {6.6446L, 2.1779L, 0.0073L, -151.1883L, 3.5497L},
                    {-8.2762L, 5.7085L, -4.4524L, 19.6854L, 1.9261L}};
const Law kLaw14 = {"14", {0.1153L, 1.2523L, 0.0126L, -2579.9799L, 2.1091L},
                    {10.9733L, -9.4779L, -6.0408L, -20.2514L, 1.5311L}};

long double law(const Set &p, long double v_deg_ms) {
    const long double w = v_deg_ms * 3.141592653589793238462643383279L / 180.0L * 1000.0L;
    const long double e = std::exp(p.K * w);
    return (p.A * std::exp(-(w / p.vs) * (w / p.vs)) + p.B) * (1.0L - e) / (1.0L + e) + p.b * w;
}

enum class Which { kLow, kHigh };

using Plain = double (*)(double);
using Drag = double (*)(double, double, double, double, double);

struct SizeFns {
    const Law *law;
    uint32_t stiffness;  // mcb.fricJointStiffnessType
    Plain plain;
    Drag drag;
};

const SizeFns kSizes[] = {
    {&kLaw40, 0, joint40FrictionCalculate_deadzone, joint40FrictionCalculate_deadzone_DRAG},
    {&kLaw32, 0, joint32FrictionCalculate_deadzone, joint32FrictionCalculate_deadzone_DRAG},
    {&kLaw25a, 0, joint25FrictionCalculate_deadzone, joint25FrictionCalculate_deadzone_DRAG},
    {&kLaw25b, 1, joint25FrictionCalculate_deadzone, joint25FrictionCalculate_deadzone_DRAG},
    {&kLaw17, 0, joint17FrictionCalculate_deadzone, joint17FrictionCalculate_deadzone_DRAG},
    {&kLaw14, 0, joint14FrictionCalculate_deadzone, joint14FrictionCalculate_deadzone_DRAG},
};

// Velocities [deg/ms] and the set they belong to (written out, not computed).
struct Point {
    double v;
    Which set;
};
const Point kPoints[] = {
    {0.002, Which::kLow},    {-0.002, Which::kLow},  {0.005, Which::kLow},
    {-0.0071, Which::kLow},  {0.0099, Which::kLow},  {-0.0099, Which::kLow},
    {0.01, Which::kHigh},    {-0.01, Which::kHigh},  {0.025, Which::kHigh},
    {-0.04, Which::kHigh},   {0.12, Which::kHigh},   {-0.18, Which::kHigh},
};

constexpr double kRel = 1e-12;
constexpr double kPi = 3.14159265358979323846;

class FrictionLaws : public kxsim_test::HostFixture {
protected:
    uint32_t model_code() const override { return 101; }
};

TEST_F(FrictionLaws, EachSizeMatchesItsParameterSetOnBothSides) {
    for (const SizeFns &s : kSizes) {
        mcb.fricJointStiffnessType = s.stiffness;
        for (const Point &p : kPoints) {
            const Set &set = p.set == Which::kLow ? s.law->low : s.law->high;
            const double want = static_cast<double>(law(set, p.v));
            SCOPED_TRACE(std::string("size ") + s.law->name + " v " + std::to_string(p.v));
            EXPECT_NEAR(s.plain(p.v), want, kRel * std::fabs(want) + 1e-15);
            // The other set gives a different value: the selection is really exercised.
            const Set &other = p.set == Which::kLow ? s.law->high : s.law->low;
            EXPECT_GT(std::fabs(static_cast<double>(law(other, p.v)) - want), 1e-4);
        }
    }
}

TEST_F(FrictionLaws, ZeroVelocityGivesZeroAndLawsAreOdd) {
    for (const SizeFns &s : kSizes) {
        mcb.fricJointStiffnessType = s.stiffness;
        EXPECT_EQ(s.plain(0.0), 0.0) << s.law->name;
        EXPECT_EQ(s.drag(0.0, 1.2, 0.8, 1.1, 0.9), 0.0) << s.law->name;
        for (const Point &p : kPoints) {
            EXPECT_NEAR(s.plain(-p.v), -s.plain(p.v), 1e-12) << s.law->name << " " << p.v;
        }
    }
}

// The low and high sets do not meet at 0.01 deg/ms: each law jumps there by the amount its
// two parameter sets give (values of the written law at 10 deg/s, low set minus high set).
TEST_F(FrictionLaws, BoundaryJumpOfEachSize) {
    struct Jump {
        const SizeFns *fns;
        double low_limit;  // [N m] low set at 0.01 deg/ms
        double high;       // [N m] high set at 0.01 deg/ms
    };
    const Jump jumps[] = {
        {&kSizes[0], 32.0394819102557, 29.805732462591877},  // 40: drops by 2.23 N m
        {&kSizes[1], 16.243148861690024, 15.983532992324674},  // 32: drops by 0.26 N m
        {&kSizes[2], 7.336767972064742, 7.303446697971487},  // 25 type 0: drops by 0.033 N m
        {&kSizes[3], 14.961361920966759, 13.9698318711195},  // 25 type 1: drops by 0.99 N m
        {&kSizes[4], 2.7974395245653203, 2.7317457792436386},  // 17: drops by 0.066 N m
        {&kSizes[5], 1.6204073925381242, 1.6692147183237716},  // 14: rises by 0.049 N m
    };
    for (const Jump &j : jumps) {
        mcb.fricJointStiffnessType = j.fns->stiffness;
        const double below = j.fns->plain(std::nextafter(0.01, 0.0));
        const double at = j.fns->plain(0.01);
        SCOPED_TRACE(j.fns->law->name);
        EXPECT_NEAR(below, j.low_limit, 1e-9);
        EXPECT_NEAR(at, j.high, 1e-9);
        EXPECT_GT(std::fabs(at - below), 0.03);  // discontinuous, for every size
        EXPECT_NEAR(j.fns->plain(-0.01), -j.high, 1e-9);
    }
}

TEST_F(FrictionLaws, Size32DeadBandOnlyWithoutDragGains) {
    for (double v : {0.0005, -0.0005, 0.00099, -0.00099}) {
        EXPECT_EQ(joint32FrictionCalculate_deadzone(v), 0.0) << v;
        const double drag = joint32FrictionCalculate_deadzone_DRAG(v, 1.0, 1.0, 1.0, 1.0);
        EXPECT_NEAR(drag, static_cast<double>(law(kLaw32.low, v)), 1e-12) << v;
        EXPECT_GT(std::fabs(drag), 1.0) << v;
    }
    EXPECT_NEAR(joint32FrictionCalculate_deadzone(0.001),
                static_cast<double>(law(kLaw32.low, 0.001)), 1e-12);
}

TEST_F(FrictionLaws, DragGainFollowsSetAndDirection) {
    const double forDead = 0.6, revDead = 0.7, forFast = 1.3, revFast = 1.4;
    struct Case {
        double v;
        double gain;
    };
    const Case cases[] = {{0.004, forDead}, {-0.004, revDead}, {0.0099, forDead},
                          {0.01, forFast},  {-0.01, revFast},  {-0.05, revFast}};
    for (const SizeFns &s : kSizes) {
        mcb.fricJointStiffnessType = s.stiffness;
        for (const Case &c : cases) {
            const Set &set = std::fabs(c.v) < 0.01 ? s.law->low : s.law->high;
            const double want = c.gain * static_cast<double>(law(set, c.v));
            EXPECT_NEAR(s.drag(c.v, forDead, revDead, forFast, revFast), want,
                        1e-12 * std::fabs(want) + 1e-15)
                << s.law->name << " " << c.v;
        }
    }
}

// Far outside the compensated range exp(K w) overflows; the laws stay finite and reach their
// asymptote (Stribeck term gone, sign saturated).
TEST_F(FrictionLaws, LargeAndNonFiniteVelocities) {
    const double v = 2.0;  // [deg/ms] 2000 deg/s
    const double w = v * kPi / 180.0 * 1000.0;
    for (const SizeFns &s : kSizes) {
        mcb.fricJointStiffnessType = s.stiffness;
        const Set &h = s.law->high;
        const double sign = h.K < 0 ? 1.0 : -1.0;
        const double stribeck = static_cast<double>(h.A) * std::exp(-std::pow(w / static_cast<double>(h.vs), 2));
        const double want = (stribeck + static_cast<double>(h.B)) * sign + static_cast<double>(h.b) * w;
        EXPECT_NEAR(s.plain(v), want, 1e-9 * std::fabs(want)) << s.law->name;
        EXPECT_NEAR(s.plain(-v), -want, 1e-9 * std::fabs(want)) << s.law->name;
        for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()}) {
            EXPECT_EQ(s.plain(bad), 0.0) << s.law->name;
            EXPECT_EQ(s.drag(bad, 1, 1, 1, 1), 0.0) << s.law->name;
        }
    }
}

// ---- frictionCalculate --------------------------------------------------------------------

long double calc_law(const float *set, long double v) {
    const Set p = {static_cast<long double>(set[1]) - set[0], set[0], set[2], -static_cast<long double>(set[3]), set[4]};
    return law(p, v);
}

TEST(FrictionCalculate, SetsSplitAtOmega0018) {
    const float params[10] = {1.5f, 2.5f, 0.01f, 300.0f, 4.0f,    // slow: Coulomb, static, vs, k, b
                              2.0f, 3.5f, 0.2f, 60.0f, 1.5f};     // fast
    // 0.018 rad/s is 0.00103132... deg/ms.
    const float slow = 0.00103f, fast = 0.00104f;
    EXPECT_NEAR(frictionCalculate(params, slow), static_cast<double>(calc_law(params, slow)), 1e-5);
    EXPECT_NEAR(frictionCalculate(params, fast), static_cast<double>(calc_law(params + 5, fast)), 1e-5);
    for (float v : {0.0005f, -0.0008f, 0.003f, -0.02f, 0.1f}) {
        const float *set = std::fabs(v * kPi / 180.0 * 1000.0) <= 0.018 ? params : params + 5;
        const double want = static_cast<double>(calc_law(set, v));
        EXPECT_NEAR(frictionCalculate(params, v), want, 2e-6 * std::fabs(want) + 1e-6) << v;
    }
    EXPECT_EQ(frictionCalculate(params, 0.0f), 0.0f);
}

TEST(FrictionCalculate, DegenerateParametersAndVelocities) {
    // vs = 0 (a fit that collapsed) and a steep sign: finite results, no NaN from 0/0 or inf/inf.
    const float params[10] = {1.0f, 2.0f, 0.0f, 5000.0f, 0.5f, 1.0f, 2.0f, 0.0f, 5000.0f, 0.5f};
    EXPECT_EQ(frictionCalculate(params, 0.0f), 0.0f);
    const float v = 0.05f;  // [deg/ms] K w = -4363: exp overflows in float
    const double w = 0.05 * kPi / 180.0 * 1000.0;
    EXPECT_NEAR(frictionCalculate(params, v), 1.0 + 0.5 * w, 1e-5);
    EXPECT_NEAR(frictionCalculate(params, -v), -(1.0 + 0.5 * w), 1e-5);
    EXPECT_EQ(frictionCalculate(params, std::nanf("")), 0.0f);
    EXPECT_EQ(frictionCalculate(params, std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_EQ(frictionCalculate(nullptr, 0.1f), 0.0f);
}

}  // namespace
