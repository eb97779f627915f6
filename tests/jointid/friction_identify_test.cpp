// Single-joint friction identification through the simulated host: the recorder fed cycle by
// cycle as the host's speed ladder drives one joint, and the status call's fit and verdict.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

class FrictionIdentify : public kxsim_test::HostFixture {
   protected:
    uint32_t model_code() const override { return 101; }

    // One servo cycle of joint j (0-based) at a commanded speed [deg/s] with a measured current
    // [per mille] and an acceleration [deg/s^2]; the model torque of the joint is `model` [N m].
    void cycle(int j, double speed, int16_t current = 0, double accel = 0.0, double model = 0.0) {
        mpb.robotState = 2;
        mpb.targetJointVel[j] = speed / 1000.0;
        mpb.feedJointAcc[j] = accel / 1e6;
        how.jointCurrent[j] = current;
        double tau[6] = {0, 0, 0, 0, 0, 0};
        tau[j] = model;
        kxmcSingleJointFrictionSaveData(tau);
    }
    // A ramp cycle into the speed (accelerating), then `cycles` at constant speed.
    void hold(int j, double speed, int cycles, int16_t current = 0) {
        cycle(j, speed, current, 1.0);
        for (int i = 0; i < cycles; ++i) cycle(j, speed, current);
    }
    // Rated motor torque of joint j [N m].
    static double rated(int j) {
        float r[6];
        kxmcJointDefaultTorque(r);
        return r[j];
    }
    const SingleJointIdentify &rec = singleJointIdentify;
};

// Joint numbers 0 and 7 name no joint of the arm: the recorder leaves every bin alone and the
// status reads no joint's speed, current or compensation law (the sanitizer build checks that).
TEST_F(FrictionIdentify, AJointOutsideTheArmRecordsAndChecksNothing) {
    for (uint8_t joint : {0, 7}) {
        kxmcSingleJointFrictionOnlineOnOff(joint, 1);
        hold(0, 0.45, 12, 100);
        hold(5, 0.45, 12, 100);
        for (double v : rec.slowJointVel) EXPECT_EQ(v, 0.0);
        kxmcSingleJointFrictionOnlineOnOff(joint, 0);
        uint16_t status = 9;
        EXPECT_EQ(kxmcGetJointFrictionStatus(&status, nullptr, nullptr, nullptr), 0);
    }
}

TEST_F(FrictionIdentify, SlowBinsAverageTheFirstTenConstantSpeedSamplesOfTheirWindow) {
    kxmcSingleJointFrictionOnlineOnOff(4, 1);
    const int j = 3;
    // 1.003 deg/s lies outside bin 0's window (-0.1, 1.0): bins fill in order.
    hold(j, 1.003, 20, 100);
    EXPECT_EQ(rec.slowJointVel[0], 0.0);
    EXPECT_EQ(rec.sumVel, 0.0f);
    EXPECT_EQ(rec.sumTorque, 0.0f);
    EXPECT_EQ(rec.sampleCount, 0);
    // Ten samples with currents 100..190 per mille, the eleventh closes the group.
    for (int i = 0; i < 10; ++i) cycle(j, 0.5, static_cast<int16_t>(100 + 10 * i));
    EXPECT_EQ(rec.slowJointVel[0], 0.0);
    cycle(j, 0.5, 999);  // not sampled: it closes the group
    EXPECT_NEAR(rec.slowJointVel[0], 0.5, 1e-6);
    EXPECT_NEAR(rec.slowJointTorque[0], 0.145 * rated(j), 1e-6);
    EXPECT_EQ(rec.sumVel, 0.0f);
    EXPECT_EQ(rec.sumTorque, 0.0f);
    // 0.95 deg/s lies in bin 1's window (0.8, 1.9): the same samples close into bin 1 too.
    cycle(j, 0.95, 500);
    EXPECT_NEAR(rec.slowJointVel[1], 0.5, 1e-6);
    EXPECT_NEAR(rec.slowJointTorque[1], 0.145 * rated(j), 1e-6);
    cycle(j, 0.95, 500);  // bin 2's window starts at 1.7: the group is dropped
    EXPECT_EQ(rec.slowJointVel[2], 0.0);
    EXPECT_EQ(rec.sampleCount, 0);
}

TEST_F(FrictionIdentify, AccelerationStopsAndAnotherStateDropTheGroup) {
    kxmcSingleJointFrictionOnlineOnOff(2, 1);
    const int j = 1;
    struct Case {
        const char *name;
        double accel;
        int32_t state;
    } cases[] = {
        {"accelerating", 0.01, 2}, {"paused", 0.0, 3}, {"acceleration not a number", NAN, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        cycle(j, 0.0);  // standing: no group open
        hold(j, 0.5, 9, 200);
        cycle(j, 0.5, 200, c.accel);
        mpb.robotState = c.state;
        double tau[6] = {};
        if (c.state != 2) kxmcSingleJointFrictionSaveData(tau);
        EXPECT_EQ(rec.sampleCount, 0);
        hold(j, 0.5, 10, 200);
        EXPECT_EQ(rec.slowJointVel[0], 0.0) << "a group needs ten fresh samples";
        cycle(j, 0.0);
        EXPECT_EQ(rec.sumVel, 0.0f);
    }
    // A corrupt sample count never reads past the group's samples.
    singleJointIdentify.sampleCount = 11;
    cycle(j, 0.5, 200);
    EXPECT_EQ(rec.sampleCount, 0);
    EXPECT_EQ(rec.slowJointVel[0], 0.0);
}

TEST_F(FrictionIdentify, EighteenDegreesPerSecondSwitchesToFastBinsOfThreeForGood) {
    kxmcSingleJointFrictionOnlineOnOff(1, 1);
    hold(0, 18.0, 4, 100);  // bin 0's window is (17.9, 21.7)
    EXPECT_NEAR(rec.highJointVel[0], 18.0, 1e-5);
    hold(0, 0.5, 20, 100);  // slow speeds are ignored from now on
    EXPECT_EQ(rec.slowJointVel[0], 0.0);
    hold(0, -21.6, 4, -100);  // negative direction: its own counter
    EXPECT_NEAR(rec.highJointVel[30], -21.6, 1e-5);
    hold(0, 21.6, 4, 100);  // positive direction continues with bin 1
    EXPECT_NEAR(rec.highJointVel[1], 21.6, 1e-5);
    hold(0, 40.0, 4, 100);  // bin 2's window is (25.1, 28.9): dropped
    hold(0, 28.903, 4, 100);
    EXPECT_EQ(rec.highJointVel[2], 0.0);
    cycle(0, 25.2, 100, 1.0);
    for (int i = 0; i < 4; ++i) cycle(0, 25.2, 100, 0.102);  // still accelerating
    EXPECT_EQ(rec.highJointVel[2], 0.0);
    for (int i = 0; i < 4; ++i) cycle(0, 25.2, 100, 0.098);  // constant speed
    EXPECT_NEAR(rec.highJointVel[2], 25.2, 1e-5);
    hold(0, 130.0, 4, 100);  // above 126.1 deg/s nothing counts
    EXPECT_EQ(rec.sampleCount, 0);
}

// The last bin of each direction takes every later group; the bins beyond it (the other
// direction, the next array) are never written.
TEST_F(FrictionIdentify, CountersStopAtTheLastBinOfTheirDirection) {
    kxmcSingleJointFrictionOnlineOnOff(4, 1);
    const int j = 3;
    for (double dir : {1.0, -1.0}) {
        for (int k = 0; k < 20; ++k) hold(j, dir * (0.45 + 0.9 * k), 11, 100);
        hold(j, dir * 17.99, 11, 300);  // opens "bin 20" of a counter left unbounded
    }
    EXPECT_NEAR(rec.slowJointVel[19], 17.99, 1e-5);
    EXPECT_NEAR(rec.slowJointVel[20], -0.45, 1e-6);
    EXPECT_NEAR(rec.slowJointVel[39], -17.99, 1e-5);
    EXPECT_NEAR(rec.slowJointTorque[0], 0.1 * rated(j), 1e-6);
    EXPECT_NEAR(rec.slowJointTorque[19], 0.3 * rated(j), 1e-6);
    for (double dir : {1.0, -1.0}) {
        for (int k = 0; k < 30; ++k) hold(j, dir * (18.0 + 3.6 * k), 4, 100);
        hold(j, dir * 124.0, 4, 300);
    }
    EXPECT_NEAR(rec.highJointVel[29], 124.0, 1e-4);
    EXPECT_NEAR(rec.highJointVel[30], -18.0, 1e-5);
    EXPECT_NEAR(rec.highJointVel[59], -124.0, 1e-4);
    EXPECT_NEAR(rec.highJointTorque[0], 0.1 * rated(j), 1e-6);
}

TEST_F(FrictionIdentify, StatusWhileRecordingRestartsTheCountersAndZerosFirstElements) {
    kxmcSingleJointFrictionOnlineOnOff(4, 1);
    hold(3, 0.5, 11, 100);
    hold(3, 25.0, 4, 100);
    float ident[10], ref[10], diff[10];
    for (int k = 0; k < 10; ++k) ident[k] = ref[k] = diff[k] = 9.0f;
    uint16_t status = 7;
    EXPECT_EQ(kxmcGetJointFrictionStatus(&status, ident, ref, diff), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ident[0], 0.0f);
    EXPECT_EQ(ref[0], 0.0f);
    EXPECT_EQ(diff[0], 0.0f);
    EXPECT_EQ(ident[1], 9.0f);
    EXPECT_NEAR(rec.slowJointVel[0], 0.5, 1e-6);  // bins are kept
    // The slow phase and bin 0 again.
    hold(3, 0.6, 11, 100);
    EXPECT_NEAR(rec.slowJointVel[0], 0.6, 1e-6);
    EXPECT_TRUE(kxsim::log_lines().empty());
}

// The host's whole ladder on a joint whose friction is `scale` times the arm's compensation law;
// measured currents in whole per mille, as the drives report them.
struct LadderCase {
    uint32_t code;
    int joint;  // 1..6
    double scale;
    uint16_t status;
};

class FrictionLadder : public FrictionIdentify {
   protected:
    double law(int j, double speed) {  // [N m, joint side]
        double v[6] = {0, 0, 0, 0, 0, 0}, out[6];
        v[j] = speed / 1000.0;
        frictionCompensation(v, out);
        return out[j];
    }
    void step(int j, double speed, int cycles, double scale) {
        const double permille = scale * law(j, speed) / 100.0 / rated(j) * 1000.0;
        hold(j, speed, cycles, static_cast<int16_t>(std::lround(permille)));
    }
    void run_ladder(int joint, double scale) {
        const int j = joint - 1;
        kxmcSingleJointFrictionOnlineOnOff(static_cast<uint8_t>(joint), 1);
        uint16_t status;
        float a[10], b[10], c[10];
        kxmcGetJointFrictionStatus(&status, a, b, c);
        for (double dir : {1.0, -1.0})
            for (int k = 0; k < 20; ++k) step(j, dir * (0.45 + 0.9 * k), 12, scale);
        for (double dir : {1.0, -1.0})
            for (int k = 0; k < 30; ++k) step(j, dir * (18.0 + 3.6 * k), 5, scale);
        kxmcSingleJointFrictionOnlineOnOff(static_cast<uint8_t>(joint), 0);
    }
};

// Friction torque of a parameter set [N m] at a speed [rad/s].
double friction(const float *p, double w) {
    const double g = std::exp(-w * w / (double(p[2]) * p[2]));
    return (p[0] + (p[1] - p[0]) * g) * std::tanh(0.5 * p[3] * w) + p[4] * w;
}

// Each ladder: the verdict, the bins converted to radians in place, the fit's log and, with the
// joint's own friction, the identified curve against the compensation law at the test speeds.
TEST_F(FrictionLadder, RecoversTheJointsCurveAndFailsItWhenFrictionDoubledOrHalved) {
    const LadderCase cases[] = {
        {101, 4, 1.0, 0}, {101, 4, 2.0, 1}, {101, 4, 0.5, 1}, {101, 2, 1.0, 0},
        {101, 2, 2.0, 1}, {50, 1, 1.0, 0},  {250, 3, 1.0, 0}, {450, 5, 1.0, 0},
    };
    for (const LadderCase &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "code " << c.code << " joint " << c.joint << " x" << c.scale);
        restart(c.code);
        singleJointIdentify = SingleJointIdentify{};
        run_ladder(c.joint, c.scale);
        const double high3 = rec.highJointVel[3], slow5 = rec.slowJointVel[5];
        uint16_t status = 9;
        float ident[10], ref[10], diff[10];
        EXPECT_EQ(kxmcGetJointFrictionStatus(&status, ident, ref, diff), 0);
        EXPECT_EQ(status, c.status);
        EXPECT_DOUBLE_EQ(rec.highJointVel[3], high3 * 0.017453292519943);
        EXPECT_DOUBLE_EQ(rec.slowJointVel[5], slow5 * 0.017453292519943);
        for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(diff[k], ref[k] - ident[k]);

        int bin_lines = 0;
        for (const auto &l : kxsim::log_lines()) {
            EXPECT_EQ(l.level, 1);
            bin_lines += l.text.rfind("singleJointIdentify.high", 0) == 0;
            double p[5];
            for (int set : {0, 1}) {
                const char *format = set == 0 ? "slow fc fs qs yita sita = %lf %lf %lf %lf %lf"
                                              : "high fc fs qs yita sita = %lf %lf %lf %lf %lf";
                if (std::sscanf(l.text.c_str(), format, &p[0], &p[1], &p[2], &p[3], &p[4]) != 5)
                    continue;
                for (int k = 0; k < 5; ++k)
                    EXPECT_NEAR(p[k], ident[5 * set + k], 1e-6 * (1 + std::fabs(p[k])));
            }
        }
        EXPECT_EQ(bin_lines, 120);
        EXPECT_TRUE(kxsim::log_contains(std::to_string(c.joint - 1) + "-------------\n"));

        if (c.scale != 1.0) continue;
        // The identified curve (each speed with the set of its phase) at the 20 test speeds.
        for (double s : {3.6, 7.2, 10.8, 14.4, 18.0, 32.4, 46.8, 61.2, 75.6, 90.0}) {
            for (double dir : {1.0, -1.0}) {
                const double w = dir * s * kPi / 180.0;
                const double got = friction(s < 18.0 ? ident : ident + 5, w);
                const double want = law(c.joint - 1, dir * s);
                EXPECT_NEAR(got, want, 0.1 * std::fabs(want)) << dir * s << " deg/s";
            }
        }
    }
}

// The wrist table for joints 4-6 of every arm, the small base table for joints 1-3 of the 3-kg
// arms, the base table for those of every other arm (told apart by their first value). Arrays of
// 11: the eleventh element is never written.
TEST_F(FrictionLadder, TheReferenceTableFollowsTheArmAndTheJoint) {
    struct Row {
        uint32_t code;
        uint8_t joint;
        float first;
    } rows[] = {
        {101, 4, 1.2523f}, {50, 6, 1.2523f}, {100, 3, 2.1779f}, {0, 1, 10.024f}, {101, 2, 10.024f}};
    for (const Row &r : rows) {
        restart(r.code);
        kxmcSingleJointFrictionOnlineOnOff(r.joint, 0);
        float out[3][11];
        for (auto &a : out) a[10] = -7.0f;
        kxmcGetJointFrictionStatus(nullptr, out[0], out[1], out[2]);
        EXPECT_EQ(out[1][0], r.first) << r.code << " " << int(r.joint);
        for (auto &a : out) EXPECT_EQ(a[10], -7.0f);
    }
}

// The residual is motor side: the joint's gravity torque (about 23 N m here) enters through the
// gear of 100.
TEST_F(FrictionLadder, TheTorqueCycleFeedsTheRecorderItsModelTorque) {
    mcb.newTeachEnable = 0;  // gravity model
    kxmcSingleJointFrictionOnlineOnOff(2, 1);
    mpb.robotState = 2;
    mpb.targetJointVel[1] = 0.0005;
    how.jointCurrent[1] = 300;
    gravityTorqueControl(mpb.jointPos);
    double gravity[6];
    const double load[4] = {0, 0, 0, 0};
    kxmcNewGravityTorque(mpb.jointPos, load, gravity);
    ASSERT_EQ(rec.sampleCount, 1);
    EXPECT_NEAR(rec.sampleTorque[0], 0.3 * rated(1) - gravity[1] / 100.0, 1e-5);
    kxmcSingleJointFrictionOnlineOnOff(2, 0);
    gravityTorqueControl(mpb.jointPos);
    EXPECT_EQ(rec.sampleCount, 1);
}

}  // namespace
