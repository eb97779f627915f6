// Constant-force control: the quantised (and low-passed) Z error and the step limit, the offset
// limits with their fault codes, the corrected pose in each frame (KDL's frame algebra),
// learning, compliance, the start command, and the host's filters measured by their response to
// sines.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/forcesensor/sensor_fixture.hpp"

namespace {

using namespace sensor_test;

constexpr uint8_t kZOnly[6] = {0, 0, 1, 0, 0, 0};
constexpr uint8_t kMXOnly[6] = {0, 0, 0, 1, 0, 0};
constexpr uint8_t kNone[6] = {};

constexpr double kTarget[6] = {10, 0, 10, 10, 0, 0};  // [N], [N m]

class ConstForce : public SensorFixture {
   protected:
    // Started with gain Kp on every axis and offset limits of 20 mm and 5 deg, from zero offsets.
    int32_t start(const uint8_t sel[6], const double target[6] = kTarget, double kp = 0.001,
                  uint8_t zfilter = 0, uint8_t adjust = 0, uint8_t ilc = 0, uint8_t admittance = 0,
                  int32_t frame = 0) {
        std::memset(mcb.constForceOffset, 0, sizeof mcb.constForceOffset);
        const double gains[6] = {kp, 0, 0, kp, 0, 0};
        return qmcConstForceStartStop(1, frame, sel, target, gains, adjust, ilc, 20, 5, 100,
                                      zfilter, admittance, 1);
    }
    Trsf step(double f, int axis = 2) {
        mpb.forceSensorWrench[axis] = f;
        Trsf out;
        last_ = constForceControl(mpb.cmdCartPose, &out);
        return out;
    }
    static Trsf present_tool() {
        Trsf t;
        multTrsf(&t, &mpb.flangePose, &mpb.toolTrsf);
        return t;
    }
    int32_t last_ = 0;
};

TEST_F(ConstForce, HoldsTheForceOnACompliantPad) {
    // The tool on a pad of 4 N/mm (40 N m/deg), `depth` into it at zero offset (negative: clear of
    // it); the offset backs the tool off. The Z error is quantised (a dead band of 1 N, then 1.5,
    // 3, 5 and 10 N, the error itself beyond 20 N), so the first Z correction (Kp 0.001) tells
    // the band; no correction exceeds 0.05 mm (deg), and the force settles within the dead band
    // of the target, also with the Z error low-passed, the gain adapted, or learning.
    struct Row {
        const char *name;
        int axis;
        double depth;
        uint8_t zfilter, adjust, ilc;
        double first, tolerance;  // first correction
    };
    const Row rows[] = {
        {"error 1 N: dead band", 2, 2.75, 0, 0, 0, 0, 0},
        {"error 1.2 N", 2, 2.8, 0, 0, 0, 0.0015, 1e-15},
        {"error 3.01 N", 2, 3.2525, 0, 0, 0, 0.003, 1e-15},
        {"error 5.1 N", 2, 3.775, 0, 0, 0, 0.005, 1e-15},
        {"error 10.5 N", 2, 5.125, 0, 0, 0, 0.01, 1e-15},
        {"error 21 N", 2, 7.75, 0, 0, 0, 0.021, 1e-15},
        {"80 N: step limit", 2, 20, 0, 0, 0, 0.05, 0},
        {"clear of the pad", 2, -2, 0, 0, 0, -0.005, 1e-15},
        {"low-passed", 2, 20, 1, 0, 0, 0.0025, 0.0025},  // starts at rest
        {"adapted", 2, 20, 0, 1, 0, 0.05, 0},
        // PID -0.005 and the first learnt step: 0.9 x 5e-6 x (e + de/dt), e = -5 N from 0 in 1 ms
        {"learning", 2, -2, 0, 0, 1, -0.0275225, 1e-9},
        {"X, not quantised", 0, 3, 0, 0, 0, 0.002, 1e-15},
        {"MX 80 N m: step limit", 3, 2, 0, 0, 0, 0.05, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const uint8_t sel[6] = {r.axis == 0, 0, r.axis == 2, r.axis == 3, 0, 0};
        ASSERT_EQ(start(sel, kTarget, 0.001, r.zfilter, r.adjust, r.ilc), 0);
        double force = 0, largest = 0;
        for (int k = 0; k < 3000; ++k) {
            const double before = mcb.constForceOffset[r.axis];
            force = std::max(0.0, (r.axis < 3 ? 4 : 40) * (r.depth - before));
            step(force, r.axis);
            const double correction = mcb.constForceOffset[r.axis] - before;
            if (k == 0) {
                EXPECT_NEAR(correction, r.first, r.tolerance);
            }
            largest = std::max(largest, std::fabs(correction));
        }
        EXPECT_NEAR(force, 10, 1.0);
        EXPECT_LE(largest, 0.05 + 1e-15);
        EXPECT_EQ(mcb.constForcePid[2].Kp == 0.001, r.adjust == 0);
    }
    // A reading or a PID gain that is not a number holds the axis: no correction, no fault.
    ASSERT_EQ(start(kMXOnly), 0);
    step(std::nan(""), 3);
    mcb.constForcePid[3].Kp = std::nan("");
    step(20, 3);
    EXPECT_EQ(mcb.constForceOffset[3], 0.0);
    EXPECT_EQ(last_, 0);
    // The error's low-pass has unit gain at rest: a steady 4 N error settles on 0.003 mm a cycle.
    ASSERT_EQ(start(kZOnly, kTarget, 0.001, 1), 0);
    double before = 0;
    for (int k = 0; k < 300; ++k) {
        before = mcb.constForceOffset[2];
        step(14);
    }
    EXPECT_NEAR(mcb.constForceOffset[2] - before, 0.003, 1e-9);
    // Started again without the stop command (as after an offset-limit fault), the low-pass
    // starts from rest, not from the old run's error: its first step is a small part of 0.003 mm.
    ASSERT_EQ(start(kZOnly, kTarget, 0.001, 1), 0);
    step(14);
    EXPECT_LT(mcb.constForceOffset[2], 0.1 * 0.003);
}

TEST_F(ConstForce, OffsetLimitsStopTheControlWithTheAxisFaultCode) {
    mcb.forceSensorRefCoord = 1;
    mpb.targetJointPos[3] = 12.5;
    mpb.toolTrsf.pos.v[2] = 150;
    const Trsf tool = present_tool();
    for (int axis = 0; axis < 6; ++axis) {
        const double limit = axis < 3 ? 20.0 : 5.0;
        for (double value :
             {limit, -limit, std::nextafter(limit, 1e9), -limit - 0.01, std::nan("")}) {
            SCOPED_TRACE("axis " + std::to_string(axis) + " offset " + std::to_string(value));
            ASSERT_EQ(start(kNone), 0);
            mcb.faultCode = 0;
            mcb.constForceOffset[axis] = value;
            mpb.cmdCartPose.pos.v[0] = -999;
            const Trsf out = step(0);
            const bool allowed = std::fabs(value) <= limit;
            EXPECT_EQ(last_, allowed ? 0 : -1);
            EXPECT_EQ(mcb.faultCode, allowed ? 0u : 0x10000071u + axis);
            EXPECT_EQ(mcb.constForceOn, allowed ? 1 : 0);
            EXPECT_EQ(mcb.constForceOffset[axis], allowed ? value : 0.0);
            if (!allowed) {
                for (int i = 0; i < 3; ++i) EXPECT_NEAR(out.pos.v[i], tool.pos.v[i], 1e-9);
                EXPECT_NEAR(mpb.cmdCartPose.pos.v[0], tool.pos.v[0], 1e-9);
                EXPECT_EQ(mpb.cmdJointPos[3], 12.5);
            }
        }
    }
    // The first axis beyond its limit names the fault.
    ASSERT_EQ(start(kNone), 0);
    mcb.constForceOffset[4] = 6;
    mcb.constForceOffset[1] = 21;
    step(0);
    EXPECT_EQ(mcb.faultCode, 0x10000072u);
}

TEST_F(ConstForce, CorrectedPoseInEachFrame) {
    const double o[6] = {1.5, -2.0, 0.7, 0.8, -1.2, 2.5};
    const double p_pose[6] = {400, -120, 300, 170, 20, -60}, w_pose[6] = {100, 200, -50, 0, 30, 45};
    const KDL::Frame P = kdl_pose(p_pose), W = kdl_pose(w_pose);
    const double d = kPi / 180;
    const KDL::Frame T(KDL::Rotation::RPY(o[3] * d, o[4] * d, o[5] * d),
                       KDL::Vector(o[0], o[1], o[2]) / 1000);
    const Trsf w = trsf(W);
    mpb.workpieceFrameTable[7][0] = 1;
    std::memcpy(&mpb.workpieceFrameTable[7][1], &w, sizeof w);
    struct Row {
        uint8_t frame;
        int32_t entry;
        KDL::Frame want;
    };
    const Row rows[] = {
        {0, 7, P * W * T * W.Inverse()},
        {0, 8, P * T},  // an unset work-piece entry is the base frame
        {2, 7, P * KDL::Frame(KDL::Vector(o[0], o[1], o[2]) / 1000)},  // admittance state at rest
        {1, 7,
         KDL::Frame(KDL::Rotation::RPY((p_pose[3] + o[3]) * d, (p_pose[4] + o[4]) * d,
                                       (p_pose[5] + o[5]) * d),
                    P.p + KDL::Vector(o[0], o[1], o[2]) / 1000)},
    };
    Trsf out;
    for (const Row &r : rows) {
        SCOPED_TRACE(int(r.frame));
        mcb.forceSensorRefCoord = r.frame;
        for (int i = 3; i < 6; ++i) mpb.tcpPos[i] = p_pose[i];
        ASSERT_EQ(start(kNone, kTarget, 0.001, 0, 0, 0, 0, r.entry), 0);
        std::memcpy(mcb.constForceOffset, o, sizeof o);
        ASSERT_EQ(constForceControl(trsf(P), &out), 0);
        EXPECT_TRUE(KDL::Equal(kdl(out), r.want, 1e-9));
    }
    // Off: the host's pose passes unchanged and the offsets are cleared.
    mcb.constForceOn = 0;
    ASSERT_EQ(constForceControl(trsf(P), &out), 0);
    EXPECT_TRUE(KDL::Equal(kdl(out), P, 1e-12));
    EXPECT_EQ(mcb.constForceOffset[5], 0.0);
}

TEST_F(ConstForce, StartAndStopCommand) {
    const double t[6] = {5, -3, 10, 0, 0, 0}, g[6] = {0.001, 0, 0, 0.01, 0, 0},
                 bad[6] = {0, std::nan(""), 0, 0, 0, 0};
    const uint8_t sel2[6] = {0, 2, 0, 0, 0, 0};
    struct Row {
        const char *name;
        uint8_t on;
        int32_t frame;
        const uint8_t *sel;
        const double *target;
        uint8_t adjust, ilc;
        double max;
        int32_t result;
        double rot_max = 5, ref_length = 100;
    };
    const Row rows[] = {
        {"on 2", 2, 0, kZOnly, t, 0, 0, 20, -1},
        {"frame 257", 1, 257, kZOnly, t, 0, 0, 20, -1},
        {"frame -1", 1, -1, kZOnly, t, 0, 0, 20, -1},
        {"adjust 2", 1, 0, kZOnly, t, 2, 0, 20, -1},
        {"ilc 3", 1, 0, kZOnly, t, 0, 3, 20, -1},
        {"flag 2", 1, 0, sel2, t, 0, 0, 20, -1},
        {"target NaN", 1, 0, kZOnly, bad, 0, 0, 20, -1},
        {"limit inf", 1, 0, kZOnly, t, 0, 0, INFINITY, -1},
        {"rotation limit NaN", 1, 0, kZOnly, t, 0, 0, 20, -1, std::nan("")},
        {"reference length inf", 1, 0, kZOnly, t, 0, 0, 20, -1, 5, INFINITY},
        {"sensor off", 1, 0, kZOnly, t, 0, 0, 20, -2},
        {"started", 1, 9, kZOnly, t, 1, 2, 20, 0},
    };
    uint32_t id = 40;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        mcb.errorCode = 0;
        mcb.forceSensorAct = r.result != -2;
        mcb.constForceOn = 0;
        EXPECT_EQ(qmcConstForceStartStop(r.on, r.frame, r.sel, r.target, g, r.adjust, r.ilc, r.max,
                                         r.rot_max, r.ref_length, 1, 0, ++id),
                  r.result);
        EXPECT_EQ(mpb.cmdId, id);
        EXPECT_EQ(mcb.errorCode, r.on > 1 ? KXMC_ERR_ARGUMENT : 0u);
        EXPECT_EQ(mcb.constForceOn, r.result == 0 ? 1 : 0);
    }
    EXPECT_EQ(mcb.constForcePid[5].Kp, 0.01);  // the moment axes take the second three gains

    // Stopping with the surface angle at rest (0 deg) turns the X target round, hands the host
    // the present pose and joints, and clears the offsets.
    mcb.constForceOffset[2] = 3;
    mpb.targetJointPos[0] = 33;
    mpb.cmdCartPose.pos.v[2] = -1;
    mpb.toolTrsf.pos.v[1] = 120;
    ASSERT_EQ(qmcConstForceStartStop(0, 0, kZOnly, t, g, 1, 0, 20, 5, 100, 1, 0, 50), 0);
    EXPECT_EQ(mcb.constForceTarget[0], -5.0);
    EXPECT_EQ(mcb.constForceTarget[1], -3.0);
    EXPECT_EQ(mcb.constForceOffset[2], 0.0);
    EXPECT_EQ(mcb.constForcePidAdjustMode, 0);
    EXPECT_EQ(mpb.cmdJointPos[0], 33.0);
    const Trsf tool = present_tool();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(mpb.cmdCartPose.pos.v[i], tool.pos.v[i], 1e-9) << i;
}

TEST_F(ConstForce, ZGainAdaptationAndLearningOnAMomentAxis) {
    // Pressing 5 N too hard all along raises the Z gain by 0.0001 every 50 cycles up to its
    // ceiling, max(gain at the start, 0.005); a force that leaps from 15 to -90 N cuts the ceiling,
    // and with it the gain, by a third, and swinging on by 200 N a cycle it falls to 0.0001.
    ASSERT_EQ(start(kZOnly, kTarget, 0.003, 0, 1), 0);
    for (int k = 0; k < 1200; ++k) step(15);
    EXPECT_NEAR(mcb.constForcePid[2].Kp, 0.005, 1e-12);
    step(-90);
    EXPECT_NEAR(mcb.constForcePid[2].Kp, 0.005 * 2 / 3, 1e-15);
    for (int k = 0; k < 50; ++k) step(k % 2 ? -90 : 110);
    EXPECT_EQ(mcb.constForcePid[2].Kp, 0.0001);

    // About X (no PID gain): a moment 1 N m above the target teaches corrections of the error's
    // sign; replayed with no error they come back cycle by cycle, and again from the sequence's
    // start after a reset.
    ASSERT_EQ(start(kMXOnly, kTarget, 0.0, 0, 0, 1), 0);
    for (int k = 0; k < 500; ++k) step(11, 3);
    const double learned = mcb.constForceOffset[3];
    EXPECT_GT(learned, 0.0);
    ASSERT_EQ(start(kMXOnly, kTarget, 0.0, 0, 0, 2), 0);
    for (int k = 0; k < 500; ++k) step(10, 3);
    EXPECT_EQ(mcb.constForceOffset[3], learned);
    kxmcILCreset();
    for (int k = 0; k < 500; ++k) step(10, 3);
    EXPECT_NEAR(mcb.constForceOffset[3], 2 * learned, 1e-15);
    // The sequence holds 12000 cycles: learning one more is refused.
    ASSERT_EQ(start(kMXOnly, kTarget, 0.0, 0, 0, 1), 0);
    for (int k = 0; k < KXMC_ILC_LENGTH; ++k) step(11, 3);
    EXPECT_EQ(mcb.errorCode, 0u);
    step(11, 3);
    EXPECT_EQ(mcb.errorCode, KXMC_ERR_ARGUMENT);
}

TEST_F(ConstForce, ComplianceRelaxesTheOffsetWithoutContact) {
    struct Row {
        double ratio, threshold;
        int32_t state;
        int32_t result;
    };
    const Row rows[] = {{-0.1, 5, 1, -1}, {0.1, -5, 1, -1},
                        {0.1, 5, -1, -1}, {std::nan(""), 5, 1, -1},
                        {0, 5, 1, 0},  // no relaxation
                        {0.1, 5, 1, 0}};
    for (const Row &r : rows) {
        mcb.errorCode = 0;
        mpb.cmdId = 0;
        EXPECT_EQ(kxmcCompliancestartstop(r.ratio, r.threshold, r.state, 8), r.result);
        EXPECT_EQ(mcb.errorCode, r.result ? KXMC_ERR_ARGUMENT : 0u);
        EXPECT_EQ(mpb.cmdId, 8u);
    }
    const uint8_t all[6] = {1, 1, 1, 1, 1, 1};
    ASSERT_EQ(start(all, kTarget, 0.0), 0);
    const double o[6] = {2, 2, 2, 1, 1, 1};
    std::memcpy(mcb.constForceOffset, o, sizeof o);
    mpb.forceSensorWrench[2] = -6;  // X and Z in contact (|F| >= 5)
    step(6, 0);
    const double want[6] = {2, 1.8, 2, 0.9, 0.9, 0.9};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(mcb.constForceOffset[i], want[i], 1e-12) << i;
}

TEST_F(ConstForce, HostFilters) {
    // Moving average of a ramp k = 0, 1, ...: the mean of the samples seen, then of the last 100.
    for (int k = 0; k < 1000; ++k) {
        const float mean = update_filter(&MovingAverageFilter, float(k));
        ASSERT_NEAR(mean, k < 100 ? k / 2.0 : k - 49.5, 1e-3) << k;
    }
    MovingAverageFilter.count = -5;  // a damaged record
    MovingAverageFilter.index = 300;
    const float damaged_mean = update_filter(&MovingAverageFilter, 4.0f);
    EXPECT_EQ(damaged_mean, MovingAverageFilter.sum / 100);
    EXPECT_EQ(MovingAverageFilter.count, 100);
    EXPECT_EQ(MovingAverageFilter.index, 1);
    init_filter(&MovingAverageFilter);  // starts afresh
    EXPECT_EQ(update_filter(&MovingAverageFilter, 7.0f), 7.0f);
    // Notch at 10 Hz, 5 octaves wide: steady amplitude of sines through it; its half-power
    // edges lie 2.5 octaves either side of the centre.
    struct Tone {
        double hz, lo, hi;
    };
    const Tone tones[] = {{0, 0.999, 1.001},
                          {10, 0, 0.01},
                          {10 / std::pow(2, 2.5), 0.69, 0.72},
                          {10 * std::pow(2, 2.5), 0.69, 0.72},
                          {400, 0.95, 1.05}};
    for (const Tone &t : tones) {
        ASSERT_EQ(init_notch(&notchFilter, 10.0, 5.0), 0);
        double peak = 0;
        for (int k = 0; k < 20000; ++k) {
            const double y = notch_process(&notchFilter,
                                           t.hz == 0 ? 1.0 : std::sin(2 * kPi * t.hz * k / 1000.0));
            if (k > 15000) peak = std::max(peak, std::fabs(y));
        }
        EXPECT_GE(peak, t.lo) << t.hz << " Hz";
        EXPECT_LE(peak, t.hi) << t.hz << " Hz";
    }
    EXPECT_EQ(init_notch(&notchFilter, 0.0, 5.0), -1);
    EXPECT_EQ(notch_process(&notchFilter, 3.0), 3.0);
}

TEST_F(ConstForce, SidewaysTargetTurnsWithTheSurfaceAndTheAdmittanceTiltsTheTool) {
    // A push of 5 N in the sensor's XY plane at angle phi on the tip of a 100 mm tool, with a
    // twist Mz: the X/Y target, (ratio Mz/L, binding force) turned by the estimated surface
    // angle, is read back from the steady per-cycle corrections (Kp 0.001, no force along X, Y).
    const double tool[3] = {30, -10, 100};  // [mm]
    std::memcpy(mpb.toolTrsf.pos.v, tool, sizeof tool);
    const uint8_t xy[6] = {1, 1, 0, 0, 0, 0};
    const double sideways[6] = {3, 4, 0, 0, 0, 0}, phi = 60 * kPi / 180;
    // The first two twists put the tool point's lever just beyond the reference length (|s| 1.03).
    for (double mz : {-0.36, 0.67, 0.05}) {
        SCOPED_TRACE(mz);
        ASSERT_EQ(start(xy, sideways), 0);
        const double m[3] = {-0.5 * std::sin(phi), 0.5 * std::cos(phi), mz};  // [N m]
        double before[2] = {};
        for (int k = 0; k < 1000; ++k) {
            std::memcpy(mcb.forceSensorCompWrench + 3, m, sizeof m);
            std::memcpy(before, mcb.constForceOffset, sizeof before);
            step(0);
        }
        // Surface angle: the push's direction from the moments (-30 deg) tilted by the lever of
        // the tool point, asin(s), s = r . M / (|Mxy| L), a right angle when the lever is longer
        // than L; the estimate's low-pass has unit gain at rest.
        const double rm = (tool[0] * m[0] + tool[1] * m[1] + tool[2] * m[2]) / 1000;
        const double s = std::clamp(rm / (std::hypot(m[0], m[1]) * 0.1), -1.0, 1.0);
        const double th = std::fabs(std::atan(m[1] / m[0]) + std::asin(s));
        const double r = std::fabs(mz) / 0.1, b = 5;
        EXPECT_NEAR(-(mcb.constForceOffset[0] - before[0]) / 0.001,
                    std::cos(th) * r + std::sin(th) * b, 1e-6);
        EXPECT_NEAR(-(mcb.constForceOffset[1] - before[1]) / 0.001,
                    std::fabs(std::cos(th)) * b - std::sin(th) * r, 1e-6);
    }
    double held = 0, kept = 0;
    kxmcFTNormal_estimation(&held, nullptr);
    std::memset(mcb.forceSensorCompWrench + 3, 0, 3 * sizeof(double));  // no direction: kept
    kxmcFTNormal_estimation(&kept, nullptr);
    EXPECT_EQ(kept, held);
    EXPECT_EQ(buttordFTControlThetaf(6, 0, &kept), -1);  // a seventh channel is refused
    // Stopping with the surface at about 42 deg, between the sectors that turn the X target
    // (below 30 deg) and the Y target (70 to 120 deg) round, keeps both.
    ASSERT_EQ(qmcConstForceStartStop(0, 0, xy, sideways, sideways, 0, 0, 20, 5, 100, 0, 0, 1), 0);
    EXPECT_EQ(mcb.constForceTarget[0], 3.0);
    EXPECT_EQ(mcb.constForceTarget[1], 4.0);
    // A sideways target of zero along X keeps X out of it whatever the surface's angle.
    const double along_y[6] = {0, 5, 0, 0, 0, 0};
    ASSERT_EQ(start(xy, along_y), 0);
    step(0);
    EXPECT_EQ(mcb.constForceOffset[0], 0.0);
    EXPECT_LT(mcb.constForceOffset[1], 0.0);

    // Pressing on Z with the admittance on: moments of 0.15 N m about X and -0.1 N m about Y
    // turn the tool like a mass of 0.5 and a damper of 1.5 about each axis (angle(t) = (M/B)(t -
    // (m/B)(1 - exp(-B t/m)))); the Z correction shrinks to its part along the tilted tool axis,
    // and the tool frame output carries the tilt.
    mcb.forceSensorRefCoord = 2;
    ASSERT_EQ(start(kZOnly, kTarget, 0.001, 0, 0, 0, 1), 0);
    mpb.forceSensorWrench[3] = 0.15;
    mpb.forceSensorWrench[4] = -0.1;
    double z_before = 0;
    Trsf out;
    for (int k = 0; k < 1000; ++k) {
        z_before = mcb.constForceOffset[2];
        out = step(3);  // Fz error -7: -5
    }
    auto tilt = [](double t) {
        const double per_moment = (t - (0.5 / 1.5) * (1 - std::exp(-3 * t))) / 1.5;
        return KDL::Rotation::RPY(0.15 * per_moment, -0.1 * per_moment, 0);
    };
    // The last cycle's correction follows the tilt as it was before that cycle (at 0.999 s).
    EXPECT_NEAR(mcb.constForceOffset[2] - z_before, -0.005 * tilt(0.999)(2, 2), 1e-7);
    const KDL::Frame want =
        kdl(mpb.cmdCartPose) *
        KDL::Frame(tilt(1.0), KDL::Vector(0, 0, mcb.constForceOffset[2] / 1000));
    EXPECT_TRUE(KDL::Equal(kdl(out), want, 2e-4));
    // Started again, the admittance starts from rest: without a moment the tool does not turn.
    mpb.forceSensorWrench[3] = 0;
    mpb.forceSensorWrench[4] = 0;
    ASSERT_EQ(start(kZOnly, kTarget, 0.001, 0, 0, 0, 1), 0);
    out = step(3);
    EXPECT_TRUE(KDL::Equal(kdl(out).M, kdl(mpb.cmdCartPose).M, 1e-12));
}

}  // namespace
