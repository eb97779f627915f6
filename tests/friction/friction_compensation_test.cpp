// frictionCompensation through the simulated host: motor sizes per arm, clipping, the
// implausible-velocity guard, drag gains and drag scaling.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_fixture.hpp"
#include "kxmc/kxmc_friction.h"

namespace {

enum Size { k14, k17, k25, k32, k40, kNone };

double plain(Size s, double v) {
    double (*const laws[])(double) = {joint14FrictionCalculate_deadzone, joint17FrictionCalculate_deadzone,
                                      joint25FrictionCalculate_deadzone, joint32FrictionCalculate_deadzone,
                                      joint40FrictionCalculate_deadzone};
    return s == kNone ? 0.0 : laws[s](v);
}

double drag(Size s, double v) {  // with the drag gains set by configure()
    double (*const laws[])(double, double, double, double, double) = {
        joint14FrictionCalculate_deadzone_DRAG, joint17FrictionCalculate_deadzone_DRAG,
        joint25FrictionCalculate_deadzone_DRAG, joint32FrictionCalculate_deadzone_DRAG,
        joint40FrictionCalculate_deadzone_DRAG};
    return s == kNone ? 0.0 : laws[s](v, 0.6, 0.7, 1.3, 1.4);
}

class FrictionCompensation : public kxsim_test::HostFixture {
protected:
    void configure(uint32_t code) {
        kxsim::startup(code);
        mcb.robotModelCode = code;
        mpb.jointNum = 6;
        mpb.robotState = 1;
        std::fill_n(mpb.jointMaxSpeed, 6, 180.0);  // [deg/s]
        double *gains[4] = {mpb.fricForDeadGain, mpb.fricRevDeadGain, mpb.fricForFastGain, mpb.fricRevFastGain};
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

// Outside drag each joint gets the plain law of its motor size; in drag the law with the drag
// gains (arms that have them) scaled by 0.4 on the 10-kg arms (201-300), else 0.4, 0.4, 0.5,
// 0.6, 0.6, 0.6. Velocities inside every limit [deg/ms]: both sets, both directions, the size-32 band.
TEST_F(FrictionCompensation, MotorSizesDragGainsAndScalingPerArm) {
    const std::vector<double> v = {0.0005, -0.004, 0.03, -0.012, 0.02, -0.035};
    const struct { uint32_t code; Size sizes[6]; bool drag_gains; } arms[] = {
        {0, {k25, k25, k25, k14, k14, k14}, true},     {100, {k17, k17, k17, k14, k14, k14}, true},
        {150, {k25, k25, k25, k14, k14, k14}, true},   {201, {k32, k32, k25, k17, k17, k17}, true},
        {300, {k32, k32, k25, k17, k17, k17}, true},   {399, {k32, k32, k25, k17, k17, k17}, true},
        {450, {k40, k40, k32, k25, k25, k25}, true},   {701, {k17, k17, k14, k14, k14, k14}, true},
        {702, {k17, k17, k17, k14, k14, k14}, true},   {704, {kNone, kNone, kNone, kNone, kNone, kNone}, false},
        {800, {kNone, kNone, kNone, kNone, kNone, kNone}, false},
        {850, {k17, k17, k14, k14, k14, k14}, false},  {902, {k32, k32, k25, k17, k17, k17}, false},
        {1001, {k40, k40, k32, k25, k25, k25}, true},  {1002, {k25, k25, k25, k14, k14, k14}, false},
    };
    for (const auto &arm : arms) {
        configure(arm.code);
        const auto still = run(v);
        mpb.robotState = 4;
        const auto dragged = run(v);
        const bool ten_kg = arm.code >= 201 && arm.code <= 300;
        const double scale[6] = {0.4, 0.4, ten_kg ? 0.4 : 0.5, ten_kg ? 0.4 : 0.6, ten_kg ? 0.4 : 0.6, ten_kg ? 0.4 : 0.6};
        for (int i = 0; i < 6; ++i) {
            EXPECT_DOUBLE_EQ(still[i], plain(arm.sizes[i], v[i])) << arm.code << " joint " << i;
            const double f = arm.drag_gains ? drag(arm.sizes[i], v[i]) : plain(arm.sizes[i], v[i]);
            EXPECT_DOUBLE_EQ(dragged[i], scale[i] * f) << arm.code << " joint " << i << " in drag";
        }
    }
}

TEST_F(FrictionCompensation, ClipsToTheFamilySpeedLimits) {
    const struct { uint32_t code; int joint; double v; Size size; double clipped; } cases[] = {  // [deg/ms]
        {101, 3, 0.05, k14, 0.04},   {101, 4, -0.3, k14, -0.04},  {101, 0, 0.5, k25, 0.18},
        {101, 2, 0.17, k25, 0.17},   {201, 0, 0.15, k32, 0.12},   {201, 4, 0.15, k17, 0.15},
        {250, 5, -0.5, k17, -0.18},  {301, 0, 0.15, k32, 0.15},   {301, 3, 0.15, k17, 0.04},
    };
    for (const auto &c : cases) {
        configure(c.code);
        std::vector<double> v(6, 0.0);
        v[c.joint] = c.v;
        EXPECT_DOUBLE_EQ(run(v)[c.joint], plain(c.size, c.clipped)) << c.code << " " << c.joint;
    }
}

// Faster than four times the joint's maximum speed, or not finite: all outputs zero and four
// log lines with the joint states.
TEST_F(FrictionCompensation, ImplausibleVelocityZeroesAllAndLogsTheJointState) {
    configure(101);
    for (int i = 0; i < 6; ++i) {
        mpb.targetJointPos[i] = 1.0 + i;
        mpb.jointPos[i] = 10.5 + i;
        mpb.prevJointPos[i] = -2.25 * (i + 1);
    }
    mpb.jointMaxSpeed[2] = 100.0;  // [deg/s]: more than 0.4 deg/ms is implausible
    EXPECT_EQ(run({0.01, 0.02, 0.4001, 0.01, 0.01, 0.01}), std::vector<double>(6, 0.0));
    std::vector<std::string> lines;
    for (const auto &l : kxsim::log_lines()) {
        EXPECT_EQ(l.level, 1);
        lines.push_back(l.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"jointVel2 400.100000",
                                                "jC 1.000000 2.000000 3.000000 4.000000 5.000000 6.000000",
                                                "j6 10.500000 11.500000 12.500000 13.500000 14.500000 15.500000",
                                                "oldJ6 -2.250000 -4.500000 -6.750000 -9.000000 -11.250000 -13.500000"}));
    kxsim::clear_log();  // exactly four times the maximum speed is still plausible (and clipped)
    EXPECT_DOUBLE_EQ(run({0.0, 0.0, -0.4, 0.0, 0.0, 0.0})[2], plain(k25, -0.18));
    EXPECT_TRUE(kxsim::log_lines().empty());
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        configure(201);
        EXPECT_EQ(run({0.01, 0.01, 0.01, 0.01, bad, 0.01}), std::vector<double>(6, 0.0));
        ASSERT_EQ(kxsim::log_lines().size(), 4u);
        EXPECT_EQ(kxsim::log_lines()[0].text.rfind("jointVel4 ", 0), 0u);
    }
}

TEST_F(FrictionCompensation, OnlyTheArmsJointsAreEvaluated) {
    configure(101);
    mpb.jointNum = 3;
    const auto out = run({0.01, 0.01, 0.01, std::nan(""), 5.0, 0.02});  // 4-6 not read
    EXPECT_EQ(out, (std::vector<double>{plain(k25, 0.01), plain(k25, 0.01), plain(k25, 0.01), 0, 0, 0}));
    EXPECT_TRUE(kxsim::log_lines().empty());
    for (int32_t n : {-5, 0, 99}) {
        mpb.jointNum = n;
        EXPECT_EQ(run({0.01, 0.01, 0.01, 0.01, 0.01, 0.01})[5], n == 99 ? plain(k14, 0.01) : 0.0) << n;
    }
}

}  // namespace
