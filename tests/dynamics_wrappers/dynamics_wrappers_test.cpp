// Dynamics block wrappers through the simulated host: unit conversions of the host's joint
// rates, mounting gravity, the model-code-3 joint turn, the filtered load arrays and the
// dual-encoder hand-off. Torques are checked against an independent recursive Newton-Euler
// (Orocos KDL) and against the blocks called directly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_dual_encoder.h"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_gravity.h"
#include "host_fixture.hpp"
#include "simhost/kxsimhost.hpp"

#if KXMC_HAVE_KDL
#include <kdl/chain.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/frames.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/rigidbodyinertia.hpp>
#include <kdl/rotationalinertia.hpp>
#include <kdl/segment.hpp>
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// Default parameter set of the standard arm (the 5-kg arm), as the per-cycle control hands it
// to the wrapper.
struct StandardSet {
    float lengths[6] = {152, -425, -395, 102, 102, 100};
    float masses[6] = {4.64f, 10.08f, 2.71f, 1.56f, 1.56f, 0.36f};
    float centres[18] = {-0.19f, -18.28f, 2.26f, 212.47f, 0.0f,   121.2f,
                         122.62f, 0.17f,  12.59f, 0.05f,  -2.33f, 14.68f,
                         -0.05f, 2.33f,   14.68f, 0.93f,  0.81f,  -20.05f};
    float inertias[36] = {9383.91f, -58.83f, -33.05f, 7742.20f, 222.87f, 9324.49f,
                          20604.96f, 280.19f, 2.62f, 438994.31f, -2.68f, 435456.0f,
                          3575.41f, 95.7f, 224.85f, 71482.85f, 3.43f, 71119.15f,
                          1625.95f, -2.85f, -3.47f, 1580.2f, 61.31f, 1255.26f,
                          1625.95f, -2.85f, 3.47f, 1580.2f, -61.31f, 1255.26f,
                          230.09f, 0.13f, 0.98f, 230.49f, 0.85f, 359.3f};
    float rotor[6] = {1615598, 1615598, 1615598, 425520, 425520, 425520};
    float spare[6] = {};
};

// Gravity of the mounting, written out from the installation angles [deg].
void expected_gravity(double tilt, double rot, double g[3]) {
    g[0] = -9.8 * std::cos(rot * kDeg) * std::sin(tilt * kDeg);
    g[1] = -9.8 * std::sin(rot * kDeg) * std::sin(tilt * kDeg);
    g[2] = -9.8 * std::cos(tilt * kDeg);
}

struct Payload {
    double cx, cy, cz;  // [mm]
    double mass;        // [kg]
};

class Wrappers : public kxsim_test::HostFixture {
protected:
    void start(uint32_t model_code) {
        restart(model_code);
        mpb.robotState = 1;
        mpb.collisionMode = 0;
        mcb.installTilt = 0.0;
        mcb.installRot = 0.0;
        for (int i = 0; i < 6; ++i) {
            mpb.targetJointVel[i] = 0.0;
            mpb.feedJointAcc[i] = 0.0;
            mpb.targetJointAcc[i] = 0.0;
            how.jointCurrent[i] = 0;
            how.encoderPosA[i] = 0;
            how.encoderPosB[i] = 0;
        }
        initCollisionDetection();
    }

    void standard(const double q[6], const Payload &p, double tau[6], double diag[36]) {
        ASSERT_EQ(kxqmckxdynamicblock(q, p.cx, p.cy, p.cz, p.mass, tau, set_.lengths, set_.masses,
                                      set_.centres, set_.inertias, set_.rotor, set_.spare, diag),
                  0);
    }

    StandardSet set_;
};

// ---- Independent reference: recursive Newton-Euler of Orocos KDL -----------------------------

#if KXMC_HAVE_KDL
// Joint torques [N m] of the standard chain for q [deg], qd [deg/s], qdd [deg/s^2], holding
// against gravity g [m/s^2]; the payload is a point mass on link 6; rotor inertias act on the
// joint's own acceleration.
void kdl_torque(const StandardSet &s, const double q[6], const double qd[6], const double qdd[6],
                const Payload &p, const double g[3], double tau[6]) {
    const double twist[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
    const double a[6] = {0, -std::fabs(s.lengths[1]) / 1000.0, -std::fabs(s.lengths[2]) / 1000.0,
                         0, 0, 0};
    const double d[6] = {s.lengths[0] / 1000.0, 0, 0, s.lengths[3] / 1000.0,
                         s.lengths[4] / 1000.0, s.lengths[5] / 1000.0};
    KDL::Chain chain;
    for (int i = 0; i < 6; ++i) {
        const float *I = &s.inertias[6 * i];
        const KDL::RotationalInertia ic(I[0] * 1e-6, I[3] * 1e-6, I[5] * 1e-6, I[1] * 1e-6,
                                        I[2] * 1e-6, I[4] * 1e-6);
        KDL::RigidBodyInertia body(
            s.masses[i],
            KDL::Vector(s.centres[3 * i] / 1000.0, s.centres[3 * i + 1] / 1000.0,
                        s.centres[3 * i + 2] / 1000.0),
            ic);
        if (i == 5) {
            body = body + KDL::RigidBodyInertia(
                              p.mass, KDL::Vector(p.cx / 1000.0, p.cy / 1000.0, p.cz / 1000.0),
                              KDL::RotationalInertia::Zero());
        }
        chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                      KDL::Frame::DH(a[i], twist[i], d[i], 0.0), body));
    }
    KDL::JntArray jq(6), jqd(6), jqdd(6), jt(6);
    for (int i = 0; i < 6; ++i) {
        jq(i) = q[i] * kDeg;
        jqd(i) = qd[i] * kDeg;
        jqdd(i) = qdd[i] * kDeg;
    }
    KDL::ChainIdSolver_RNE solver(chain, KDL::Vector(g[0], g[1], g[2]));
    KDL::Wrenches none(6, KDL::Wrench::Zero());
    ASSERT_GE(solver.CartToJnt(jq, jqd, jqdd, none, jt), 0);
    for (int i = 0; i < 6; ++i) {
        tau[i] = jt(i) + s.rotor[i] * 1e-6 * jqdd(i);
    }
}
#endif

struct StateCase {
    const char *name;
    uint32_t model;
    double tilt, rot;      // [deg]
    double q[6];           // [deg] as the host hands them
    double vel;            // [deg/cycle], every joint (signs alternate)
    double acc;            // [deg/cycle^2], every joint (signs alternate)
    Payload payload;
};

class WrapperState : public Wrappers, public ::testing::WithParamInterface<StateCase> {};

// The wrapper's torque equals the rigid-body torque of an independent implementation at the
// host's state: positions in degrees, velocities x1000 and accelerations x10^6 per second,
// gravity from the installation angles, payload on the flange, joints 1, 2, 4, 6 turned for
// model code 3.
TEST_P(WrapperState, MatchesIndependentNewtonEuler) {
#if !KXMC_HAVE_KDL
    GTEST_SKIP() << "Orocos KDL not available";
#else
    const StateCase &c = GetParam();
    start(c.model);
    mcb.installTilt = c.tilt;
    mcb.installRot = c.rot;
    double qd[6], qdd[6], q_block[6];
    for (int i = 0; i < 6; ++i) {
        const double sign = i % 2 ? -1.0 : 1.0;
        mpb.targetJointVel[i] = sign * c.vel * (1.0 + 0.1 * i);
        mpb.feedJointAcc[i] = -sign * c.acc * (1.0 + 0.2 * i);
        mpb.targetJointAcc[i] = 123.0;  // not the standard block's acceleration source
        qd[i] = mpb.targetJointVel[i] * 1000.0;
        qdd[i] = mpb.feedJointAcc[i] * 1e6;
        const bool turned = c.model == 3 && (i == 0 || i == 1 || i == 3 || i == 5);
        q_block[i] = c.q[i] - (turned ? 180.0 : 0.0);
    }
    double g[3];
    expected_gravity(c.tilt, c.rot, g);
    double ref[6];
    kdl_torque(set_, q_block, qd, qdd, c.payload, g, ref);

    double tau[6], diag[36];
    standard(c.q, c.payload, tau, diag);
    double scale = 0.0;
    for (double t : ref) {
        scale = std::max(scale, std::fabs(t));
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(tau[i], ref[i], 2e-4 * scale + 1e-4) << "joint " << i + 1;
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    States, WrapperState,
    ::testing::Values(
        StateCase{"FloorStatic", 0, 0, 0, {10, -70, 40, 20, 90, 0}, 0, 0, {0, 0, 0, 0}},
        StateCase{"FloorStaticPayload", 101, 0, 0, {-30, -90, 80, -45, 60, 30}, 0, 0,
                  {20, -15, 80, 3.0}},
        StateCase{"WallStatic", 0, 90, 0, {0, -60, 70, 10, -80, 45}, 0, 0, {0, 0, 50, 2.0}},
        StateCase{"CeilingStatic", 0, 180, 0, {45, -120, 30, 0, 90, 0}, 0, 0, {0, 0, 0, 0}},
        StateCase{"AnyAngleStatic", 0, 35, 60, {5, -80, 95, -30, 40, 15}, 0, 0, {10, 0, 30, 1.0}},
        StateCase{"FloorMoving", 0, 0, 0, {10, -70, 40, 20, 90, 0}, 0.05, 2e-4, {0, 0, 0, 0}},
        StateCase{"TiltedMovingPayload", 0, -50, 200, {-60, -45, 110, 70, -30, 120}, 0.08,
                  5e-4, {15, 25, 60, 4.0}},
        StateCase{"ModelCode3Turned", 3, 0, 0, {190, 100, 40, 200, 90, 175}, 0.03, 1e-4,
                  {0, 0, 40, 1.5}},
        StateCase{"ModelCode3Static", 3, 20, 0, {150, 80, -20, 180, 60, 90}, 0, 0,
                  {0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<StateCase> &p) { return std::string(p.param.name); });

// The wrapper hands the block exactly the host's state in the block's units and returns the
// block's torque and mass-matrix diagonal; at rest the torque is the static (gravity) torque.
TEST_F(Wrappers, PassesTheHostStateToTheStandardBlock) {
    start(0);
    mcb.installTilt = 30.0;
    mcb.installRot = -45.0;
    const double q[6] = {12, -85, 60, -10, 75, 33};
    const Payload p{5, -10, 70, 2.5};
    for (int moving = 0; moving < 2; ++moving) {
        float qf[6], qdf[6], qddf[6];
        for (int i = 0; i < 6; ++i) {
            mpb.targetJointVel[i] = moving ? 0.01 * (i + 1) : 0.0;
            mpb.feedJointAcc[i] = moving ? -3e-5 * (i + 1) : 0.0;
            qf[i] = static_cast<float>(q[i]);
            qdf[i] = static_cast<float>(mpb.targetJointVel[i] * 1000.0);
            qddf[i] = static_cast<float>(mpb.feedJointAcc[i] * 1e6);
        }
        double g[3];
        expected_gravity(30.0, -45.0, g);
        const float gf[3] = {static_cast<float>(g[0]), static_cast<float>(g[1]),
                             static_cast<float>(g[2])};
        const float payload[10] = {2.5f, 5.0f, -10.0f, 70.0f, 0, 0, 0, 0, 0, 0};
        float tau[6], tau_static[6], mass[36], cor[36];
        ASSERT_EQ(qmckxdynamicblock(set_.lengths, qf, qdf, qddf, payload, set_.masses,
                                    set_.centres, set_.inertias, set_.rotor, gf, tau, tau_static,
                                    mass, cor),
                  0);
        double out[6], diag[36];
        std::fill(diag, diag + 36, 99.0);
        standard(q, p, out, diag);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(out[i], tau[i], 1e-5 * (1.0 + std::fabs(tau[i]))) << i;
            if (!moving) {
                EXPECT_NEAR(out[i], tau_static[i], 1e-5 * (1.0 + std::fabs(tau[i]))) << i;
            }
            for (int k = 0; k < 6; ++k) {
                EXPECT_EQ(diag[6 * i + k], i == k ? static_cast<double>(mass[6 * i + k]) : 0.0);
            }
        }
    }
}

TEST_F(Wrappers, ModelCode3TurnsJoints124And6ByMinus180) {
    start(3);
    const double q[6] = {30, -20, 50, 170, -60, 10};
    const double turned[6] = {30 - 180.0, -20 - 180.0, 50, 170 - 180.0, -60, 10 - 180.0};
    const Payload p{0, 0, 30, 1.0};
    double a[6], b[6], diag[36];
    standard(q, p, a, diag);
    mcb.robotModelCode = 2;  // same parameters passed, no turn
    standard(turned, p, b, diag);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(a[i], b[i]) << i;
    }
    standard(q, p, b, diag);
    bool differs = false;
    for (int i = 0; i < 6; ++i) {
        differs = differs || std::fabs(a[i] - b[i]) > 1e-3;
    }
    EXPECT_TRUE(differs);
}

// ---- TZ and PX wrappers -------------------------------------------------------------------------

struct TzSet {
    double lengths[6] = {140, -420, 12, 360, 102, 100};
    double masses[6] = {2.26, 4.53, 1.56, 1.97, 1.56, 0.35};
    double centres[36] = {};
    double inertias[30] = {3015.96, -11.16, -9.73,  2293.95,   83.28,  2942.66,
                           5693.29, 48.54,  -761.36, 173107.64, 7.08,   171869.7,
                           1626.46, -2.85,  3.48,   1580.68,   -61.22, 1255.31,
                           14803.69, -2.41, 3.46,   2246.79,   -890.25, 14362.64,
                           1626.46, -2.85,  3.48,   1580.68,   -61.22, 1255.31};
    double rotor[6] = {657160, 657160, 425520, 425520, 425520, 425520};
};
const double kPxLengths[6] = {180, -700, -586, 211, 114, 106};
const double kPxRotor[6] = {17472660, 17472660, 1615598, 657160, 657160, 657160};

struct FamilyCase {
    const char *name;
    bool px;
    double tilt, rot;  // [deg]
    double vel, acc;   // [deg/cycle], [deg/cycle^2]
};

class FamilyWrapper : public Wrappers, public ::testing::WithParamInterface<FamilyCase> {};

// The TZ and PX wrappers give their block the host's state: target velocity x1000, target
// acceleration x10^6 (the feed-forward acceleration is not theirs) and the mounting's gravity.
TEST_P(FamilyWrapper, PassesTheHostStateToTheBlock) {
    const FamilyCase &c = GetParam();
    start(c.px ? 902 : 701);
    mcb.installTilt = c.tilt;
    mcb.installRot = c.rot;
    const double q[6] = {20, -75, 55, 15, 80, -40};
    double qd[6], qdd[6];
    for (int i = 0; i < 6; ++i) {
        mpb.targetJointVel[i] = c.vel * (i + 1) * (i % 2 ? -1 : 1);
        mpb.targetJointAcc[i] = c.acc * (6 - i);
        mpb.feedJointAcc[i] = 0.5;  // would dominate the torque if it were used
        qd[i] = mpb.targetJointVel[i] * 1000.0;
        qdd[i] = mpb.targetJointAcc[i] * 1e6;
    }
    const double payload[10] = {1.8, 10, -5, 45, 0, 0, 0, 0, 0, 0};
    double g[3];
    expected_gravity(c.tilt, c.rot, g);

    TzSet tz;
    double expected[6], out[6];
    if (c.px) {
        ASSERT_EQ(qmcPXkx10dynamicblock(kPxLengths, q, qd, qdd, payload, kPxRotor, g, expected), 0);
        ASSERT_EQ(kxPXqmckxdynamicblock(q, 10, -5, 45, 1.8, out, kPxLengths, kPxRotor), 0);
    } else {
        ASSERT_EQ(qmckxTZdynamicblock(tz.lengths, q, qd, qdd, payload, tz.masses, tz.centres,
                                      tz.inertias, tz.rotor, g, expected),
                  0);
        ASSERT_EQ(kxTZqmckxdynamicblock(q, 10, -5, 45, 1.8, out, tz.lengths, tz.masses,
                                        tz.centres, tz.inertias, tz.rotor),
                  0);
    }
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(out[i], expected[i], 1e-9 * (1.0 + std::fabs(expected[i]))) << i;
    }
}

// Wall and tilted mountings take the whole gravity vector of the mounting, so its magnitude
// stays 9.8 m/s^2 (a constant vertical component would add a second 9.8 on the wall).
INSTANTIATE_TEST_SUITE_P(
    Families, FamilyWrapper,
    ::testing::Values(FamilyCase{"TzFloorStatic", false, 0, 0, 0, 0},
                      FamilyCase{"TzWallMoving", false, 90, 0, 0.04, 1e-4},
                      FamilyCase{"TzTiltedMoving", false, 30, 120, 0.06, -2e-4},
                      FamilyCase{"PxFloorStatic", true, 0, 0, 0, 0},
                      FamilyCase{"PxCeilingMoving", true, 180, 0, 0.02, 5e-5},
                      FamilyCase{"PxTiltedMoving", true, -45, 30, 0.05, 1e-4}),
    [](const ::testing::TestParamInfo<FamilyCase> &p) { return std::string(p.param.name); });

// ---- Filtered load torque and joint angle -----------------------------------------------------

TEST_F(Wrappers, FiltersMeasuredTorqueAndJointAngle) {
    start(101);
    const int16_t current[6] = {150, -300, 420, -80, 60, -25};  // [per mille]
    const double pos[6] = {10, -80, 95, -30, 45, 170};           // [deg]
    float rated[6] = {};
    ASSERT_EQ(kxmcJointDefaultTorque(rated), 0);
    const double q[6] = {};
    double tau[6], diag[36];
    auto settle = [&] {
        for (int n = 0; n < 4000; ++n) {
            standard(q, Payload{0, 0, 0, 0}, tau, diag);
        }
    };
    // From rest (whatever the filter saw before) to a step of current and position.
    for (int i = 0; i < 6; ++i) {
        how.jointCurrent[i] = 0;
        mpb.jointPos[i] = 0.0;
    }
    settle();
    for (int i = 0; i < 6; ++i) {
        how.jointCurrent[i] = current[i];
        mpb.jointPos[i] = pos[i];
    }
    standard(q, Payload{0, 0, 0, 0}, tau, diag);
    // A slow low-pass: after one cycle only a trace of the step has come through.
    for (int i = 0; i < 6; ++i) {
        const double measured = current[i] * 0.001 * rated[i] * 101.0;
        EXPECT_LT(std::fabs(torque[i]), 1e-6 * std::fabs(measured)) << i;
        EXPECT_LT(std::fabs(joint_angle_load[i]), 1e-6 * std::fabs(pos[i])) << i;
    }
    settle();
    for (int i = 0; i < 6; ++i) {
        const double measured = current[i] * 0.001 * rated[i] * 101.0;  // [N m]
        EXPECT_NEAR(torque[i], measured, 1e-5 * std::fabs(measured)) << i;
        EXPECT_NEAR(joint_angle_load[i], pos[i], 1e-5 * std::fabs(pos[i])) << i;
    }
}

// The filter keeps running cycle after cycle (its row counter advances and the history
// shifts): a ramp comes out as the same ramp, delayed.
TEST_F(Wrappers, FilteredJointAngleFollowsARampAndSurvivesABadSample) {
    start(0);
    const double q[6] = {};
    double tau[6], diag[36];
    constexpr double kSlope = 0.01;  // [deg/cycle]
    double last = 0.0;
    for (int n = 0; n < 6000; ++n) {
        mpb.jointPos[1] = kSlope * n;
        if (n == 3000) {
            mpb.jointPos[1] = std::numeric_limits<double>::quiet_NaN();
        }
        standard(q, Payload{0, 0, 0, 0}, tau, diag);
        ASSERT_TRUE(std::isfinite(joint_angle_load[1])) << n;
        if (n == 2999 || n == 5999) {
            EXPECT_NEAR(joint_angle_load[1] - last, kSlope, 1e-6) << n;
            // Group delay of the filter at low frequency: a fixed lag of some tens of cycles.
            const double lag = (kSlope * n - joint_angle_load[1]) / kSlope;
            EXPECT_GT(lag, 100.0);
            EXPECT_LT(lag, 200.0);
        }
        last = joint_angle_load[1];
    }
}

// ---- Dual-encoder hand-off ----------------------------------------------------------------------

constexpr double kCountsPerDeg = 16384.0 * 101.0 / 360.0;

void set_deflection(int joint, double deg) {
    how.encoderPosA[joint] = 0;
    how.encoderPosB[joint] = static_cast<int32_t>(std::lround(deg * kCountsPerDeg));
}

struct HandOffCase {
    const char *name;
    uint8_t collision_mode;
    int32_t robot_state;
    bool detects;
};

class HandOff : public Wrappers, public ::testing::WithParamInterface<HandOffCase> {};

// One encoder sample per servo cycle: a steady joint-1 deflection sine with one raised period.
TEST_P(HandOff, DetectorRunsOnlyWhileAProgramRunsWithTheDetectorOn) {
    const HandOffCase &c = GetParam();
    start(0);
    mpb.collisionMode = c.collision_mode;
    mpb.robotState = c.robot_state;
    mcb.collisionPauseFlag = 1;
    mcb.collisionErrorCode = KXMC_COLLISION_NONE;
    for (int i = 0; i < 6; ++i) {
        mpb.collisionLevel[i] = 1.0f;
    }
    const double q[6] = {};
    double tau[6], diag[36];
    constexpr int kPeriod = 40;  // [cycles]
    int hit = -1;
    for (int n = 0; n < 30 * kPeriod && hit < 0; ++n) {
        const double amplitude = n / kPeriod == 25 ? 0.8 : 0.5;  // [deg]
        set_deflection(0, amplitude * std::sin(2.0 * kPi * (n + 0.3) / kPeriod));
        standard(q, Payload{0, 0, 0, 0}, tau, diag);
        if (mcb.collisionErrorCode != KXMC_COLLISION_NONE) {
            hit = n;
        }
    }
    if (c.detects) {
        EXPECT_GE(hit, 25 * kPeriod);
        EXPECT_LT(hit, 26 * kPeriod + 5);
        EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_JOINT1);
    } else {
        EXPECT_EQ(hit, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, HandOff,
    ::testing::Values(HandOffCase{"Mode1Running", 1, 2, true},
                      HandOffCase{"Mode2Running", 2, 2, true},
                      HandOffCase{"Mode0Running", 0, 2, false},
                      HandOffCase{"Mode3Running", 3, 2, false},
                      HandOffCase{"Mode1Stopped", 1, 1, false},
                      HandOffCase{"Mode1Paused", 1, 3, false},
                      HandOffCase{"Mode2Dragging", 2, 4, false}),
    [](const ::testing::TestParamInfo<HandOffCase> &p) {
        return std::string(p.param.name);
    });

// Six detector steps per cycle, joints 1 to 6 in turn: the warm-up of 100 steps ends in the
// 17th cycle with the fifth call, so joints 5 and 6 are published then and joints 1 to 4 a
// cycle later. A cycle outside a running program restarts the warm-up. Speeds reach the detector
// in deg/s.
TEST_F(Wrappers, HandOffRunsSixStepsPerCycleWithSpeedsInDegreesPerSecond) {
    start(450);
    mpb.collisionMode = 1;
    mpb.robotState = 2;
    for (int i = 0; i < 6; ++i) {
        mpb.collisionLevel[i] = 1.0f;
        mpb.collisionThrDisplay[i] = -1.0;
    }
    mpb.targetJointVel[0] = 0.3;   // 300 deg/s
    mpb.targetJointVel[1] = -0.1;  // 100 deg/s
    const double q[6] = {};
    double tau[6], diag[36];
    auto published = [](int joint) { return mpb.collisionThrDisplay[joint] != -1.0; };

    for (int restart = 0; restart < 2; ++restart) {
        for (int cycle = 1; cycle <= 16; ++cycle) {
            standard(q, Payload{0, 0, 0, 0}, tau, diag);
        }
        for (int j = 0; j < 6; ++j) {
            EXPECT_FALSE(published(j)) << j;
        }
        standard(q, Payload{0, 0, 0, 0}, tau, diag);  // cycle 17
        EXPECT_FALSE(published(3));
        EXPECT_TRUE(published(4));
        EXPECT_TRUE(published(5));
        standard(q, Payload{0, 0, 0, 0}, tau, diag);  // cycle 18
        EXPECT_NEAR(mpb.collisionThrDisplay[0], 170.0 / 7274.7, 1e-9);
        EXPECT_NEAR(mpb.collisionThrDisplay[1], 170.0 / 8360.0, 1e-9);

        // One cycle stopped: the detector starts over.
        mpb.robotState = 1;
        standard(q, Payload{0, 0, 0, 0}, tau, diag);
        mpb.robotState = 2;
        for (int i = 0; i < 6; ++i) {
            mpb.collisionThrDisplay[i] = -1.0;
        }
    }
}

}  // namespace
