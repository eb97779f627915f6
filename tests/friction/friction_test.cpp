// Friction laws of the five motor sizes and frictionCalculate, against the law evaluated here in
// its written form from the identified parameter table (an independent copy, long double); and
// frictionCompensation through the simulated host: motor sizes per arm, clipping, the
// implausible-velocity guard, drag gains and drag scaling.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host_fixture.hpp"
#include "kxmc/kxmc_friction.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Identified parameters: (static - Coulomb, Coulomb, Stribeck velocity, sign slope, viscous).
struct Set {
    long double A, B, vs, K, b;
};

long double law(const Set &p, long double v_deg_ms) {
    const long double w = v_deg_ms * 3.141592653589793238462643383279L / 180.0L * 1000.0L;
    const long double e = std::exp(p.K * w);
    return (p.A * std::exp(-(w / p.vs) * (w / p.vs)) + p.B) * (1.0L - e) / (1.0L + e) + p.b * w;
}

struct MotorSize {
    const char *name;
    uint32_t stiffness;  // mcb.fricJointStiffnessType
    Set low, high;       // below and from 0.01 deg/ms
    double (*plain)(double);
    double (*drag)(double, double, double, double, double);
};
MotorSize motor(const char *name, uint32_t stiffness, Set low, Set high, double (*plain)(double),
                double (*drag)(double, double, double, double, double)) {
    return {name, stiffness, low, high, plain, drag};
}
const MotorSize kSizes[] = {
    motor("40", 0, {104.742L, 16.9667L, 0.0089L, -65.742L, 86.3627L},
          {138.1667L, -114.2515L, -3.5737L, -179.4015L, 35.6362L},
          joint40FrictionCalculate_deadzone, joint40FrictionCalculate_deadzone_DRAG),
    motor("32", 0, {3.1188L, 12.1015L, 0.0169L, -775.8381L, 23.7299L},
          {34.627L, -21.0712L, -2.6147L, -48.6744L, 14.8233L}, joint32FrictionCalculate_deadzone,
          joint32FrictionCalculate_deadzone_DRAG),
    motor("25/0", 0, {7.1287L, 5.3406L, -0.012L, -153.1699L, 11.4372L},
          {-6.7499L, 13.6401L, 0.6317L, -21.9747L, 1.3145L}, joint25FrictionCalculate_deadzone,
          joint25FrictionCalculate_deadzone_DRAG),
    motor("25/1", 1, {31.499L, 10.024L, 0.0033L, -329.9324L, 28.289L},
          {83.0455L, -71.7434L, 4.42725L, -23.9343L, 17.9582L}, joint25FrictionCalculate_deadzone,
          joint25FrictionCalculate_deadzone_DRAG),
    motor("17", 0, {6.6446L, 2.1779L, 0.0073L, -151.1883L, 3.5497L},
          {-8.2762L, 5.7085L, -4.4524L, 19.6854L, 1.9261L}, joint17FrictionCalculate_deadzone,
          joint17FrictionCalculate_deadzone_DRAG),
    motor("14", 0, {0.1153L, 1.2523L, 0.0126L, -2579.9799L, 2.1091L},
          {10.9733L, -9.4779L, -6.0408L, -20.2514L, 1.5311L}, joint14FrictionCalculate_deadzone,
          joint14FrictionCalculate_deadzone_DRAG),
};
enum Size { k40, k32, k25, k17 = 4, k14, kNone };  // index into kSizes (size 25 with stiffness 0)

double plain(Size s, double v) { return s == kNone ? 0.0 : kSizes[s].plain(v); }
// With the drag gains of configure().
double drag(Size s, double v) { return s == kNone ? 0.0 : kSizes[s].drag(v, 0.6, 0.7, 1.3, 1.4); }

class Friction : public kxsim_test::HostFixture {
   protected:
    void configure(uint32_t code) {
        kxsim::startup(code);
        mcb.robotModelCode = code;
        mpb.jointNum = 6;
        mpb.robotState = 1;
        std::fill_n(mpb.jointMaxSpeed, 6, 180.0);  // [deg/s]
        double *gains[4] = {mpb.fricForDeadGain, mpb.fricRevDeadGain, mpb.fricForFastGain,
                            mpb.fricRevFastGain};
        const double values[4] = {0.6, 0.7, 1.3, 1.4};  // the drag gains drag() uses
        for (int k = 0; k < 4; ++k) std::fill_n(gains[k], 6, values[k]);
        kxsim::clear_log();
    }
    std::vector<double> run(const std::vector<double> &v) {
        std::vector<double> out(6, 99.0);
        EXPECT_EQ(frictionCompensation(v.data(), out.data()), 0);
        return out;
    }
};

// Both sets on both sides of the selection at 0.01 deg/ms, and far out (2000 deg/s) where exp(K w)
// overflows in double and the law must reach its asymptote. Drag gains: dead-band gains below
// 0.01 deg/ms, fast gains from it on, forward or reverse by the sign.
TEST_F(Friction, EachSizeFollowsItsSetsAndDragGains) {
    // [deg/ms]; the slowest where the Stribeck term still counts (|omega| near vs)
    const double v[] = {0.00005, -0.0002, 0.002, -0.005, 0.0099, -0.0099,
                        0.01,    -0.01,   0.025, -0.18,  2.0,    -2.0};
    const double forDead = 0.6, revDead = 0.7, forFast = 1.3, revFast = 1.4;
    for (const MotorSize &s : kSizes) {
        mcb.fricJointStiffnessType = s.stiffness;
        for (double x : v) {
            SCOPED_TRACE(std::string("size ") + s.name + " v " + std::to_string(x));
            const bool low = std::fabs(x) < 0.01;
            const double want = static_cast<double>(law(low ? s.low : s.high, x));
            const bool dead = s.plain == joint32FrictionCalculate_deadzone && std::fabs(x) < 0.001;
            EXPECT_NEAR(s.plain(x), dead ? 0.0 : want, 1e-12 * std::fabs(want) + 1e-15);
            const double gain = low ? (x > 0 ? forDead : revDead) : (x > 0 ? forFast : revFast);
            EXPECT_NEAR(s.drag(x, forDead, revDead, forFast, revFast), gain * want,
                        1e-12 * std::fabs(want) + 1e-15);
        }
        // The two sets do not meet: every law jumps at 0.01 deg/ms (the 14 up, the others down),
        // by 0.03 (size 25/0) to 2.2 N m (size 40).
        EXPECT_GT(std::fabs(s.plain(0.01) - s.plain(std::nextafter(0.01, 0.0))), 0.03) << s.name;
        for (double bad : {0.0, std::nan(""), kInf, -kInf}) {
            EXPECT_EQ(s.plain(bad), 0.0) << s.name;
            EXPECT_EQ(s.drag(bad, 1, 1, 1, 1), 0.0) << s.name;
        }
    }
    for (double x :
         {0.0005, -0.00099}) {  // size 32: a dead band below 0.001 deg/ms, not with drag gains
        EXPECT_EQ(joint32FrictionCalculate_deadzone(x), 0.0) << x;
        EXPECT_NEAR(joint32FrictionCalculate_deadzone_DRAG(x, 1, 1, 1, 1),
                    static_cast<double>(law(kSizes[k32].low, x)), 1e-12);
    }
    EXPECT_NEAR(joint32FrictionCalculate_deadzone(0.001),
                static_cast<double>(law(kSizes[k32].low, 0.001)), 1e-12);
}

// Outside drag each joint gets the plain law of its motor size; in drag the law with the drag
// gains (arms that have them) scaled by 0.4 on the 10-kg arms (201-300), else 0.4, 0.4, 0.5,
// 0.6, 0.6, 0.6. Velocities inside every limit [deg/ms]: both sets, both directions, the size-32
// band.
TEST_F(Friction, CompensationMotorSizesDragGainsAndScalingPerArm) {
    const std::vector<double> v = {0.0005, -0.004, 0.03, -0.012, 0.02, -0.035};
    using Sizes = std::array<Size, 6>;
    const Sizes s3 = {k17, k17, k17, k14, k14, k14};
    const Sizes s5 = {k25, k25, k25, k14, k14, k14};
    const Sizes s10 = {k32, k32, k25, k17, k17, k17};
    const Sizes s40 = {k40, k40, k32, k25, k25, k25};
    const Sizes light = {k17, k17, k14, k14, k14, k14};
    const Sizes none = {kNone, kNone, kNone, kNone, kNone, kNone};
    const struct {
        uint32_t code;
        Sizes sizes;
        bool drag_gains;
    } arms[] = {{0, s5, true},      {1, s3, true},      {100, s3, true},    {150, s5, true},
                {201, s10, true},   {300, s10, true},   {399, s10, true},   {450, s40, true},
                {701, light, true}, {702, s3, true},    {703, s3, true},    {900, light, false},
                {901, s3, false},   {704, none, false}, {800, none, false}, {850, light, false},
                {902, s10, false},  {1001, s40, true},  {1002, s5, false}};
    for (const auto &arm : arms) {
        configure(arm.code);
        const auto still = run(v);
        mpb.robotState = 4;
        const auto dragged = run(v);
        const double s = arm.code >= 201 && arm.code <= 300 ? 0.4 : 0.0,
                     scale[6] = {0.4, 0.4, s ? s : 0.5, s ? s : 0.6, s ? s : 0.6, s ? s : 0.6};
        for (int i = 0; i < 6; ++i) {
            EXPECT_DOUBLE_EQ(still[i], plain(arm.sizes[i], v[i])) << arm.code << " joint " << i;
            const double f = arm.drag_gains ? drag(arm.sizes[i], v[i]) : plain(arm.sizes[i], v[i]);
            EXPECT_DOUBLE_EQ(dragged[i], scale[i] * f) << arm.code << " joint " << i << " in drag";
        }
    }
}

// Clipping to the family's speed limits; only the arm's joints are evaluated (the others stay 0).
TEST_F(Friction, CompensationClipsToTheFamilyLimitsAndTheArmsJoints) {
    const struct {
        uint32_t code;
        int joint;
        double v;
        Size size;
        double clipped;
    } cases[] = {
        // [deg/ms]
        {101, 3, 0.05, k14, 0.04},  {101, 4, -0.3, k14, -0.04}, {101, 0, 0.5, k25, 0.18},
        {101, 2, 0.17, k25, 0.17},  {201, 0, 0.15, k32, 0.12},  {201, 4, 0.15, k17, 0.15},
        {250, 5, -0.5, k17, -0.18}, {301, 0, 0.15, k32, 0.15},  {301, 3, 0.15, k17, 0.04},
    };
    for (const auto &c : cases) {
        configure(c.code);
        std::vector<double> v(6, 0.0);
        v[c.joint] = c.v;
        EXPECT_DOUBLE_EQ(run(v)[c.joint], plain(c.size, c.clipped)) << c.code << " " << c.joint;
    }
    configure(101);
    mpb.jointNum = 3;
    const auto out = run({0.01, 0.01, 0.01, std::nan(""), 5.0, 0.02});  // 4-6 not read
    EXPECT_EQ(out,
              (std::vector<double>{plain(k25, 0.01), plain(k25, 0.01), plain(k25, 0.01), 0, 0, 0}));
    EXPECT_TRUE(kxsim::log_lines().empty());
    for (int32_t n : {-5, 0, 99}) {  // beyond the storage: all six joints
        mpb.jointNum = n;
        const auto all = run({0.01, 0.01, 0.01, 0.01, 0.01, 0.01});
        EXPECT_EQ(all[0], n == 99 ? plain(k25, 0.01) : 0.0) << n;
        EXPECT_EQ(all[5], n == 99 ? plain(k14, 0.01) : 0.0) << n;
    }
}

// Faster than four times the joint's maximum speed, or not finite: all outputs zero and four
// log lines with the joint states.
TEST_F(Friction, CompensationImplausibleVelocityZeroesAllAndLogsTheJointState) {
    configure(101);
    for (int i = 0; i < 6; ++i)
        mpb.targetJointPos[i] = 1.0 + i, mpb.jointPos[i] = 10.5 + i,
        mpb.prevJointPos[i] = -2.25 * (i + 1);
    mpb.jointMaxSpeed[2] = 100.0;  // [deg/s]: more than 0.4 deg/ms is implausible
    EXPECT_EQ(run({0.01, 0.02, 0.4001, 0.01, 0.01, 0.01}), std::vector<double>(6, 0.0));
    std::vector<std::string> lines;
    for (const auto &l : kxsim::log_lines())
        lines.push_back(std::to_string(l.level) + " " + l.text);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "1 jointVel2 400.100000",
                         "1 jC 1.000000 2.000000 3.000000 4.000000 5.000000 6.000000",
                         "1 j6 10.500000 11.500000 12.500000 13.500000 14.500000 15.500000",
                         "1 oldJ6 -2.250000 -4.500000 -6.750000 -9.000000 -11.250000 -13.500000"}));
    kxsim::clear_log();  // exactly four times the maximum speed is still plausible (and clipped)
    EXPECT_DOUBLE_EQ(run({0.0, 0.0, -0.4, 0.0, 0.0, 0.0})[2], plain(k25, -0.18));
    EXPECT_TRUE(kxsim::log_lines().empty());
    for (double bad : {std::nan(""), kInf}) {
        configure(201);
        EXPECT_EQ(run({0.01, 0.01, 0.01, 0.01, bad, 0.01}), std::vector<double>(6, 0.0));
        ASSERT_EQ(kxsim::log_lines().size(), 4u);
        EXPECT_EQ(kxsim::log_lines()[0].text.rfind("jointVel4 ", 0), 0u);
    }
}

// frictionCalculate: (Coulomb, static, vs, k, viscous) for the slow and the fast set, split at
// 0.018 rad/s (0.00103132 deg/ms); a collapsed fit (vs = 0, steep sign) gives no NaN from 0/0 or
// inf/inf.
TEST(FrictionCalculate, SetsSplitAtOmega0018AndDegenerateInputsStayFinite) {
    const float params[10] = {1.5f, 2.5f, 0.01f, 300.0f, 4.0f, 2.0f, 3.5f, 0.2f, 60.0f, 1.5f};
    for (float v : {0.00103f, 0.00104f, 0.0005f, -0.0008f, 0.003f, -0.02f, 0.1f}) {
        const float *p =
            std::fabs(v * 3.14159265358979323846 / 180.0 * 1000.0) <= 0.018 ? params : params + 5;
        const double want = static_cast<double>(law({static_cast<long double>(p[1]) - p[0], p[0],
                                                     p[2], -static_cast<long double>(p[3]), p[4]},
                                                    v));
        EXPECT_NEAR(frictionCalculate(params, v), want, 2e-6 * std::fabs(want) + 1e-6) << v;
    }
    const float collapsed[10] = {1.0f, 2.0f, 0.0f, 5000.0f, 0.5f, 1.0f, 2.0f, 0.0f, 5000.0f, 0.5f};
    const double w =
        0.05 * 3.14159265358979323846 / 180.0 * 1000.0;  // K w = -4363: exp overflows in float
    EXPECT_NEAR(frictionCalculate(collapsed, 0.05f), 1.0 + 0.5 * w, 1e-5);
    EXPECT_NEAR(frictionCalculate(collapsed, -0.05f), -(1.0 + 0.5 * w), 1e-5);
    for (float bad : {0.0f, std::nanf(""), std::numeric_limits<float>::infinity()})
        EXPECT_EQ(frictionCalculate(collapsed, bad), 0.0f);
    EXPECT_EQ(frictionCalculate(params, 0.0f), 0.0f);
    EXPECT_EQ(frictionCalculate(nullptr, 0.1f), 0.0f);
}

}  // namespace
