// Friction laws of the five motor sizes and frictionCalculate, against the law evaluated here in
// its written form from the identified parameter table (an independent copy, long double).
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "host_fixture.hpp"
#include "kxmc/kxmc_friction.h"

namespace {

// Identified parameters: (static - Coulomb, Coulomb, Stribeck velocity, sign slope, viscous).
struct Set {
    long double A, B, vs, K, b;
};

long double law(const Set &p, long double v_deg_ms) {
    const long double w = v_deg_ms * 3.141592653589793238462643383279L / 180.0L * 1000.0L;
    const long double e = std::exp(p.K * w);
    return (p.A * std::exp(-(w / p.vs) * (w / p.vs)) + p.B) * (1.0L - e) / (1.0L + e) + p.b * w;
}

const struct Size {
    const char *name;
    uint32_t stiffness;  // mcb.fricJointStiffnessType
    Set low, high;       // below and from 0.01 deg/ms
    double (*plain)(double);
    double (*drag)(double, double, double, double, double);
} kSizes[] = {
    {"40", 0, {104.742L, 16.9667L, 0.0089L, -65.742L, 86.3627L}, {138.1667L, -114.2515L, -3.5737L, -179.4015L, 35.6362L},
     joint40FrictionCalculate_deadzone, joint40FrictionCalculate_deadzone_DRAG},
    {"32", 0, {3.1188L, 12.1015L, 0.0169L, -775.8381L, 23.7299L}, {34.627L, -21.0712L, -2.6147L, -48.6744L, 14.8233L},
     joint32FrictionCalculate_deadzone, joint32FrictionCalculate_deadzone_DRAG},
    {"25/0", 0, {7.1287L, 5.3406L, -0.012L, -153.1699L, 11.4372L}, {-6.7499L, 13.6401L, 0.6317L, -21.9747L, 1.3145L},
     joint25FrictionCalculate_deadzone, joint25FrictionCalculate_deadzone_DRAG},
    {"25/1", 1, {31.499L, 10.024L, 0.0033L, -329.9324L, 28.289L}, {83.0455L, -71.7434L, 4.42725L, -23.9343L, 17.9582L},
     joint25FrictionCalculate_deadzone, joint25FrictionCalculate_deadzone_DRAG},
    {"17", 0, {6.6446L, 2.1779L, 0.0073L, -151.1883L, 3.5497L}, {-8.2762L, 5.7085L, -4.4524L, 19.6854L, 1.9261L},
     joint17FrictionCalculate_deadzone, joint17FrictionCalculate_deadzone_DRAG},
    {"14", 0, {0.1153L, 1.2523L, 0.0126L, -2579.9799L, 2.1091L}, {10.9733L, -9.4779L, -6.0408L, -20.2514L, 1.5311L},
     joint14FrictionCalculate_deadzone, joint14FrictionCalculate_deadzone_DRAG},
};

class FrictionLaws : public kxsim_test::HostFixture {
protected:
    uint32_t model_code() const override { return 101; }
};

// Both sets on both sides of the selection at 0.01 deg/ms, and far out (2000 deg/s) where exp(K w)
// overflows in double and the law must reach its asymptote. Drag gains: dead-band gains below
// 0.01 deg/ms, fast gains from it on, forward or reverse by the sign.
TEST_F(FrictionLaws, EachSizeFollowsItsSetsAndDragGains) {
    const double v[] = {0.002, -0.005, 0.0099, -0.0099, 0.01, -0.01, 0.025, -0.18, 2.0, -2.0};  // [deg/ms]
    const double forDead = 0.6, revDead = 0.7, forFast = 1.3, revFast = 1.4;
    for (const Size &s : kSizes) {
        mcb.fricJointStiffnessType = s.stiffness;
        for (double x : v) {
            SCOPED_TRACE(std::string("size ") + s.name + " v " + std::to_string(x));
            const bool low = std::fabs(x) < 0.01;
            const double want = static_cast<double>(law(low ? s.low : s.high, x));
            EXPECT_NEAR(s.plain(x), want, 1e-12 * std::fabs(want) + 1e-15);
            const double gain = low ? (x > 0 ? forDead : revDead) : (x > 0 ? forFast : revFast);
            EXPECT_NEAR(s.drag(x, forDead, revDead, forFast, revFast), gain * want, 1e-12 * std::fabs(want) + 1e-15);
        }
        // The two sets do not meet: every law jumps at 0.01 deg/ms (the 14 up, the others down),
        // by 0.03 (size 25/0) to 2.2 N m (size 40).
        EXPECT_GT(std::fabs(s.plain(0.01) - s.plain(std::nextafter(0.01, 0.0))), 0.03) << s.name;
        EXPECT_EQ(s.plain(0.0), 0.0) << s.name;
        if (std::string(s.name) == "32") {  // a dead band below 0.001 deg/ms, not with drag gains
            for (double x : {0.0005, -0.00099}) {
                EXPECT_EQ(s.plain(x), 0.0) << x;
                EXPECT_NEAR(s.drag(x, 1, 1, 1, 1), static_cast<double>(law(s.low, x)), 1e-12) << x;
            }
            EXPECT_NEAR(s.plain(0.001), static_cast<double>(law(s.low, 0.001)), 1e-12);
        }
        for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
            EXPECT_EQ(s.plain(bad), 0.0) << s.name;
            EXPECT_EQ(s.drag(bad, 1, 1, 1, 1), 0.0) << s.name;
        }
    }
}

// frictionCalculate: (Coulomb, static, vs, k, viscous) for the slow and the fast set, split at
// 0.018 rad/s (0.00103132 deg/ms).
long double calc_law(const float *set, long double v) {
    return law({static_cast<long double>(set[1]) - set[0], set[0], set[2], -static_cast<long double>(set[3]), set[4]}, v);
}

TEST(FrictionCalculate, SetsSplitAtOmega0018AndDegenerateInputsStayFinite) {
    const float params[10] = {1.5f, 2.5f, 0.01f, 300.0f, 4.0f, 2.0f, 3.5f, 0.2f, 60.0f, 1.5f};
    for (float v : {0.00103f, 0.00104f, 0.0005f, -0.0008f, 0.003f, -0.02f, 0.1f}) {
        const float *set = std::fabs(v * 3.14159265358979323846 / 180.0 * 1000.0) <= 0.018 ? params : params + 5;
        const double want = static_cast<double>(calc_law(set, v));
        EXPECT_NEAR(frictionCalculate(params, v), want, 2e-6 * std::fabs(want) + 1e-6) << v;
    }
    EXPECT_EQ(frictionCalculate(params, 0.0f), 0.0f);
    // vs = 0 (a fit that collapsed) and a steep sign: no NaN from 0/0 or inf/inf.
    const float collapsed[10] = {1.0f, 2.0f, 0.0f, 5000.0f, 0.5f, 1.0f, 2.0f, 0.0f, 5000.0f, 0.5f};
    const double w = 0.05 * 3.14159265358979323846 / 180.0 * 1000.0;  // K w = -4363: exp overflows in float
    EXPECT_NEAR(frictionCalculate(collapsed, 0.05f), 1.0 + 0.5 * w, 1e-5);
    EXPECT_NEAR(frictionCalculate(collapsed, -0.05f), -(1.0 + 0.5 * w), 1e-5);
    EXPECT_EQ(frictionCalculate(collapsed, 0.0f), 0.0f);
    EXPECT_EQ(frictionCalculate(collapsed, std::nanf("")), 0.0f);
    EXPECT_EQ(frictionCalculate(collapsed, std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_EQ(frictionCalculate(nullptr, 0.1f), 0.0f);
}

}  // namespace
