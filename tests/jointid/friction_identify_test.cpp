// Single-joint friction identification through the simulated host: the recorder fed cycle by
// cycle as the host's speed ladder drives one joint, and the status call's fit and verdict.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
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
    // [per mille], an acceleration [deg/s^2] and a run state.
    void cycle(int j, double speed, int16_t current = 0, double accel = 0.0, int32_t state = 2) {
        mpb.robotState = state;
        mpb.targetJointVel[j] = speed / 1000.0;
        mpb.feedJointAcc[j] = accel / 1e6;
        how.jointCurrent[j] = current;
        const double tau[6] = {0, 0, 0, 0, 0, 0};
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
        EXPECT_EQ(kxmcGetJointFrictionStatus(nullptr, nullptr, nullptr, nullptr), 0);
    }
}

// One run of the speed ladder, step by step. Each step holds a speed for some cycles at an
// acceleration and run state; the current rises by 10 per mille a cycle from 100, so a bin's
// torque tells which samples it averaged: the first ten of a slow group (mean 145), the first
// three of a fast one (mean 110). `bin` is the bin the step closes (slow bins until the first
// step at 18 deg/s, fast bins from then on; -1: none), `mean` its speed when it is not the
// step's own. Every bin ends as the last step that closed it left it, every other bin at zero.
struct Step {
    const char *what;
    double speed;  // [deg/s]
    int cycles;
    int bin;
    double accel = 0.0;  // [deg/s^2]
    int32_t state = 2;
    double mean = 0.0;
};

TEST_F(FrictionIdentify, TheLadderFillsEachBinFromTheFirstConstantSpeedSamplesOfItsWindow) {
    std::vector<Step> steps = {
        {"1.003 lies outside bin 0's window (-0.1, 1.0): bins fill in order", 1.003, 20, -1},
        {"ten samples, the eleventh closes the group", 0.5, 11, 0},
        {"in bin 1's window (0.8, 1.9) the same samples close into bin 1", 0.95, 1, 1, 0, 2, 0.5},
        {"bin 2's window starts at 1.7: dropped", 0.95, 1, -1},
        {"nine samples", 2.25, 9, -1},
        {"accelerating", 2.25, 1, -1, 0.01},
        {"nine fresh samples", 2.25, 9, -1},
        {"paused", 2.25, 1, -1, 0.0, 3},
        {"nine fresh samples", 2.25, 9, -1},
        {"acceleration not a number", 2.25, 1, -1, NAN},
        {"nine fresh samples", 2.25, 9, -1},
        {"standing", 0.0, 1, -1},
        {"ten fresh samples close", 2.25, 11, 2},
    };
    // A rung of the ladder: a ramp cycle (accelerating, so the last group stays closed), then
    // constant speed.
    auto rung = [&steps](const char *what, double speed, int cycles, int bin) {
        steps.push_back({"ramp", speed, 1, -1, 1.0});
        steps.push_back({what, speed, cycles, bin});
    };
    // The rest of the slow ladder; a speed just below 18 deg/s opens "bin 20" of a counter left
    // unbounded: the last bin of the direction takes it instead.
    for (int k = 3; k < 20; ++k) rung("slow up", 0.45 + 0.9 * k, 11, k);
    rung("beyond the last slow bin", 17.99, 11, 19);
    for (int k = 0; k < 20; ++k) rung("slow down", -0.45 - 0.9 * k, 11, 20 + k);
    rung("beyond the last slow bin", -17.99, 11, 39);
    const Step fast[] = {
        {"18 deg/s switches to fast bins of three, window (17.9, 21.7)", 18.0, 4, 0},
        {"slow speeds are ignored from now on, even in the open slow bin", 17.55, 20, -1},
        {"the negative direction has its own counter", -21.6, 4, 30},
        {"ramp", 21.6, 1, -1, 1.0},
        {"the positive direction goes on with bin 1", 21.6, 4, 1},
        {"40 lies outside bin 2's window (25.1, 28.9)", 40.0, 4, -1},
        {"just above the window", 28.903, 4, -1},
        {"still accelerating", 25.2, 4, -1, 0.102},
        {"constant speed", 25.2, 4, 2, 0.098},
        {"above 126.1 deg/s nothing counts", 130.0, 4, -1},
    };
    steps.insert(steps.end(), std::begin(fast), std::end(fast));
    for (int k = 3; k < 30; ++k) rung("fast up", 19.8 + 3.6 * k, 4, k);
    rung("beyond the last fast bin", 124.0, 4, 29);
    for (int k = 1; k < 30; ++k) rung("fast down", -19.8 - 3.6 * k, 4, 30 + k);
    rung("beyond the last fast bin", -124.0, 4, 59);

    kxmcSingleJointFrictionOnlineOnOff(4, 1);
    const int j = 3;
    double want_vel[100] = {}, want_torque[100] = {};  // slow bins, then fast bins
    bool fast_phase = false;
    for (const Step &s : steps) {
        SCOPED_TRACE(testing::Message() << s.what << " at " << s.speed);
        fast_phase = fast_phase || std::fabs(s.speed) >= 18.0;
        for (int i = 0; i < s.cycles; ++i)
            cycle(j, s.speed, static_cast<int16_t>(100 + 10 * i), s.accel, s.state);
        EXPECT_EQ(rec.sumVel, 0.0f);
        EXPECT_EQ(rec.sumTorque, 0.0f);
        if (s.bin < 0) continue;
        const int b = fast_phase ? 40 + s.bin : s.bin;
        want_vel[b] = s.mean != 0.0 ? s.mean : s.speed;
        want_torque[b] = (fast_phase ? 0.110 : 0.145) * rated(j);
    }
    for (int b = 0; b < 100; ++b) {
        const double vel = b < 40 ? rec.slowJointVel[b] : rec.highJointVel[b - 40];
        const double torque = b < 40 ? rec.slowJointTorque[b] : rec.highJointTorque[b - 40];
        EXPECT_NEAR(vel, want_vel[b], 1e-6 * (1 + std::fabs(want_vel[b]))) << b;
        EXPECT_NEAR(torque, want_torque[b], 1e-6) << b;
    }
    // A corrupt sample count never reads past the group's samples.
    singleJointIdentify.sampleCount = 11;
    cycle(j, 124.0, 900);
    EXPECT_EQ(rec.sampleCount, 0);
    EXPECT_NEAR(rec.highJointVel[29], 124.0, 1e-4);
}

// The host's whole ladder on a joint whose friction is `scale` times the arm's compensation law;
// measured currents in whole per mille, as the drives report them.
struct LadderCase {
    uint32_t code;
    int joint;  // 1..6
    double scale;
    uint16_t status;
    float reference;  // first value of the joint's reference table
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
        // A status call while recording restarts the bin counters (an earlier ladder left them
        // at its last bins), keeps the bins and zeros only the first element of each output.
        const double kept = rec.slowJointVel[5];
        uint16_t status = 7;
        float out[3][2] = {{9, 9}, {9, 9}, {9, 9}};
        EXPECT_EQ(kxmcGetJointFrictionStatus(&status, out[0], out[1], out[2]), 0);
        EXPECT_EQ(status, 0);
        for (const auto &o : out) {
            EXPECT_EQ(o[0], 0.0f);
            EXPECT_EQ(o[1], 9.0f);
        }
        EXPECT_EQ(rec.slowJointVel[5], kept);
        EXPECT_TRUE(kxsim::log_lines().empty());
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

// Each ladder, one after the other on the same record: the verdict (one and a half times the
// joint's friction still passes, twice or half of it fails), the reference table (the
// wrist's for joints 4-6 of every arm, the small base's for joints 1-3 of the 3-kg arms, the
// base's for those of every other arm; outputs of exactly ten values), the bins converted to
// radians in place, the fit's log and, with the joint's own friction, the identified curve
// against the compensation law at the test speeds.
TEST_F(FrictionLadder, RecoversTheJointsCurveAndFailsItWhenFrictionDoubledOrHalved) {
    const LadderCase cases[] = {
        {101, 4, 1.0, 0, 1.2523f}, {101, 4, 2.0, 1, 1.2523f}, {101, 4, 0.5, 1, 1.2523f},
        {101, 2, 1.0, 0, 10.024f}, {101, 2, 2.0, 1, 10.024f}, {50, 1, 1.0, 0, 2.1779f},
        {100, 3, 1.0, 0, 2.1779f}, {50, 6, 1.0, 0, 1.2523f},  {250, 3, 1.0, 0, 10.024f},
        {450, 5, 1.0, 0, 1.2523f}, {0, 1, 1.0, 0, 10.024f},   {101, 2, 1.5, 0, 10.024f},
    };
    for (const LadderCase &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "code " << c.code << " joint " << c.joint << " x" << c.scale);
        restart(c.code);
        run_ladder(c.joint, c.scale);
        // The counters restarted at the first bins: a bin of each phase and direction holds its
        // rung's speed [deg/s] until the status call converts it to radians in place.
        double *bins[4] = {
            &singleJointIdentify.slowJointVel[5], &singleJointIdentify.slowJointVel[25],
            &singleJointIdentify.highJointVel[3], &singleJointIdentify.highJointVel[33]};
        const double rungs[4] = {4.95, -4.95, 28.8, -28.8};
        double deg[4];
        for (int i = 0; i < 4; ++i) {
            deg[i] = *bins[i];
            EXPECT_NEAR(deg[i], rungs[i], 1e-5) << i;
        }
        uint16_t status = 9;
        float out[3][11];
        for (auto &o : out) o[10] = -7.0f;
        const float *ident = out[0], *ref = out[1], *diff = out[2];
        EXPECT_EQ(kxmcGetJointFrictionStatus(&status, out[0], out[1], out[2]), 0);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(ref[0], c.reference);
        for (const auto &o : out) EXPECT_EQ(o[10], -7.0f);
        for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(*bins[i], deg[i] * 0.017453292519943) << i;
        for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(diff[k], ref[k] - ident[k]);

        int bin_lines = 0;
        int set_lines = 0;  // the slow and the fast parameter line
        for (const auto &l : kxsim::log_lines()) {
            EXPECT_EQ(l.level, 1);
            bin_lines += l.text.rfind("singleJointIdentify.high", 0) == 0;
            double p[5];
            for (int set : {0, 1}) {
                const char *format = set == 0 ? "slow fc fs qs yita sita = %lf %lf %lf %lf %lf"
                                              : "high fc fs qs yita sita = %lf %lf %lf %lf %lf";
                if (std::sscanf(l.text.c_str(), format, &p[0], &p[1], &p[2], &p[3], &p[4]) != 5)
                    continue;
                ++set_lines;
                for (int k = 0; k < 5; ++k)
                    EXPECT_NEAR(p[k], ident[5 * set + k], 1e-6 * (1 + std::fabs(p[k])));
            }
        }
        EXPECT_EQ(bin_lines, 120);
        EXPECT_EQ(set_lines, 2);
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
