// Dynamics block wrappers through the simulated host: the host's state in the blocks' units,
// mounting gravity and the model-code-3 joint turn (against Orocos KDL), the load filters, the
// dual-encoder hand-off, and no heap allocation on the servo-cycle path (the executable counts
// every global operator new).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmc_dual_encoder.h"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_gravity.h"
#include "tests/dynamics_model/oracle.hpp"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void *operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

class Wrappers : public kxsim_test::HostFixture {
   protected:
    void start(uint32_t model_code, double tilt = 0, double rot = 0) {
        restart(model_code);
        mpb.robotState = 1;
        mpb.collisionMode = 0;
        mcb.installTilt = tilt;
        mcb.installRot = rot;
        initCollisionDetection();
    }
    // The standard wrapper with the default set and a payload {cx, cy, cz [mm], mass [kg]}.
    void standard(const double q[6], const double *load = kNoLoad,
                  const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(0)) {
        ASSERT_EQ(kxqmckxdynamicblock(q, load[0], load[1], load[2], load[3], tau_, p.lengths,
                                      p.masses, p.centres, p.inertias, p.rotor, nullptr, diag_),
                  0);
    }
    static constexpr double kNoLoad[4] = {0, 0, 0, 0};
    const kxmc::StandardArmParameters &p_ = kxmc::standard_arm_parameters(0);
    double tau_[6], diag_[36];
};

struct StateCase {
    uint32_t model;
    double tilt, rot;  // [deg]
    double q[6];       // [deg] as the host hands them
    double vel, acc;   // [deg/cycle], [deg/cycle^2], every joint with alternating signs
    double load[4];    // cx, cy, cz [mm], mass [kg]
};

// Torque and mass-matrix diagonal at the host's state: velocities x1000 and feed-forward
// accelerations x10^6 per second, gravity from the installation angles, payload on the flange,
// joints 1, 2, 4, 6 turned by -180 degrees for model code 3.
TEST_F(Wrappers, StandardWrapperMatchesKdlAtTheHostsState) {
    const StateCase cases[] = {
        {101, 0, 0, {-30, -90, 80, -45, 60, 30}, 0, 0, {20, -15, 80, 3.0}},
        {0, -50, 200, {-60, -45, 110, 70, -30, 120}, 0.08, 5e-4, {15, 25, 60, 4.0}},
        {3, 20, 0, {190, 100, 40, 200, 90, 175}, 0.03, 1e-4, {0, 0, 40, 1.5}},
    };
    for (const StateCase &c : cases) {
        SCOPED_TRACE(c.model);
        start(c.model, c.tilt, c.rot);
        double q[6], qd[6], qdd[6], g[3];
        for (int i = 0; i < 6; ++i) {
            const double sign = i % 2 ? -1.0 : 1.0;
            mpb.targetJointVel[i] = sign * c.vel * (1.0 + 0.1 * i);
            mpb.feedJointAcc[i] = -sign * c.acc * (1.0 + 0.2 * i);
            mpb.targetJointAcc[i] = 123.0;  // not the standard block's acceleration source
            const bool turned = c.model == 3 && (i == 0 || i == 1 || i == 3 || i == 5);
            q[i] = c.q[i] - (turned ? 180.0 : 0.0);
            qd[i] = mpb.targetJointVel[i] * 1000.0;
            qdd[i] = mpb.feedJointAcc[i] * 1e6;
        }
        kxtest::mounting_gravity_deg(c.tilt, c.rot, g);
        const double payload[10] = {c.load[3], c.load[0], c.load[1], c.load[2]};
        const kxtest::Dynamics k =
            kxtest::kdl_dynamics(kxtest::standard_model(p_, payload), q, qd, qdd, g);
        standard(c.q, c.load);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(tau_[i], k.tau[i], 2e-4 * kxtest::max_abs(k.tau, 6) + 1e-4) << i;
            for (int j = 0; j < 6; ++j)
                EXPECT_NEAR(diag_[6 * i + j], i == j ? k.M[7 * i] : 0.0, 1e-4 * k.M[0]) << i << j;
        }
    }
}

// The TZ and PX wrappers hand their block the target velocity x1000, the target acceleration
// x10^6 (the feed-forward acceleration is not theirs) and the mounting's whole gravity vector.
TEST_F(Wrappers, FamilyWrappersPassTheHostsStateToTheirBlock) {
    using namespace kxtest;
    double g[3];
    const double q[6] = {20, -75, 55, 15, 80, -40};
    const double payload[10] = {1.8, 10, -5, 45};
    for (int px = 0; px < 2; ++px) {
        start(px ? 902 : 701, px ? -45 : 90, px ? 30 : 0);
        double qd[6], qdd[6], expected[6], out[6];
        for (int i = 0; i < 6; ++i) {
            mpb.targetJointVel[i] = 0.05 * (i + 1) * (i % 2 ? -1 : 1);
            mpb.targetJointAcc[i] = 1e-4 * (6 - i);
            mpb.feedJointAcc[i] = 0.5;  // would dominate the torque if it were used
            qd[i] = mpb.targetJointVel[i] * 1000.0;
            qdd[i] = mpb.targetJointAcc[i] * 1e6;
        }
        kxtest::mounting_gravity_deg(mcb.installTilt, mcb.installRot, g);
        if (px) {
            ASSERT_EQ(qmcPXkx10dynamicblock(kPxLengths, q, qd, qdd, payload, kPxRotor, g, expected),
                      0);
            ASSERT_EQ(kxPXqmckxdynamicblock(q, 10, -5, 45, 1.8, out, kPxLengths, kPxRotor), 0);
        } else {
            ASSERT_EQ(qmckxTZdynamicblock(kTzLengths, q, qd, qdd, payload, kTzMasses, kTzCentres,
                                          kTzInertias, kTzRotor, g, expected),
                      0);
            ASSERT_EQ(kxTZqmckxdynamicblock(q, 10, -5, 45, 1.8, out, kTzLengths, kTzMasses,
                                            kTzCentres, kTzInertias, kTzRotor),
                      0);
        }
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(out[i], expected[i], 1e-9 * (1.0 + std::fabs(expected[i]))) << px << i;
    }
}

// Six detector steps per cycle, joints 1 to 6 in turn, only while a program runs with the
// detector on (mode 1 or 2): the warm-up of 100 steps ends in the 17th cycle with the fifth
// call, so joints 5 and 6 are published then and joints 1 to 4 a cycle later. The thresholds
// follow the joint torque of the model: a 10-kg arm holding 5 kg at rest carries 30 to 110 N m
// on joint 2 (divisor 1630), 15 to 50 N m on joint 3 (700) and nothing on joint 1 (850).
TEST_F(Wrappers, HandsSixStepsPerCycleToTheDetectorWhileAProgramRuns) {
    const struct {
        uint8_t mode;
        int32_t robot_state;
        bool runs;
    } cases[] = {{1, 2, true},  {2, 2, true},  {0, 2, false},
                 {3, 2, false}, {1, 1, false}, {2, 4, false}};
    const auto &set = kxmc::standard_arm_parameters(201);
    const double q[6] = {0, -120, 60, -90, 90, 0};
    const double load[4] = {0, 0, 50, 5.0};
    const double rest[6] = {};
    const double payload[10] = {load[3], load[0], load[1], load[2]};
    const double g[3] = {0, 0, -9.8};
    const kxtest::Dynamics k =
        kxtest::kdl_dynamics(kxtest::standard_model(set, payload), q, rest, rest, g);
    ASSERT_LT(std::fabs(k.tau[0]), 30.0);
    ASSERT_GT(std::fabs(k.tau[1]), 30.0) << k.tau[1];
    ASSERT_LT(std::fabs(k.tau[1]), 110.0) << k.tau[1];
    ASSERT_GT(std::fabs(k.tau[2]), 15.0) << k.tau[2];
    ASSERT_LT(std::fabs(k.tau[2]), 50.0) << k.tau[2];
    const double expected[3] = {90.0 / 850, 90.0 / 1630, 25.0 / 700};  // [deg] at level 1
    auto published = [](int joint) { return mpb.collisionThrDisplay[joint] != -1.0; };
    auto cycles = [&](int count) {
        for (int n = 0; n < count; ++n) standard(q, load, set);
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + "/" + std::to_string(c.robot_state));
        start(201);
        mpb.collisionMode = c.mode;
        mpb.robotState = c.robot_state;
        std::fill(mpb.collisionLevel, mpb.collisionLevel + 6, 1.0f);
        std::fill(mpb.collisionThrDisplay, mpb.collisionThrDisplay + 6, -1.0);
        cycles(16);
        EXPECT_FALSE(published(5));
        cycles(1);
        EXPECT_FALSE(published(3));
        EXPECT_EQ(published(4), c.runs);
        cycles(1);
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(mpb.collisionThrDisplay[j], c.runs ? expected[j] : -1.0, 1e-12) << j + 1;
        }
    }
}

// The servo-cycle path of all three wrappers, the six detector steps and the detector's
// collision report (a raised deflection period on joint 1) allocate nothing.
TEST_F(Wrappers, ServoCyclePathAllocatesNothing) {
    start(0);
    mpb.robotState = 2;
    mpb.collisionMode = 1;
    mcb.collisionPauseFlag = 1;  // code word only: the host's own calls (journal, log) allocate
    std::fill(mpb.collisionLevel, mpb.collisionLevel + 6, 1.0f);
    std::fill(mpb.targetJointVel, mpb.targetJointVel + 6, 0.01);
    std::fill(how.jointCurrent, how.jointCurrent + 6, 100);
    const double q[6] = {10, -80, 70, 0, 60, 0};
    const double load[4] = {0, 0, 50, 1.0};
    const double zeros[36] = {};
    const double L[6] = {140, -420, 12, 360, 102, 100};  // [mm]
    const long before = g_allocations.load();
    ASSERT_GT(before, 0) << "the counting operator new is not in use";  // start-up allocated
    for (int n = 0; n < 2000; ++n) {
        const double amplitude = n / 40 == 20 ? 0.9 : 0.5;  // [deg]
        how.encoderPosB[0] = static_cast<int32_t>(std::lround(
            amplitude * std::sin(2.0 * kxtest::kPi * (n + 0.3) / 40) * 16384.0 * 101.0 / 360.0));
        standard(q, load);
        kxTZqmckxdynamicblock(q, 0, 0, 50, 1.0, tau_, L, L, zeros, zeros, zeros);
        kxPXqmckxdynamicblock(q, 0, 0, 50, 1.0, tau_, L, zeros);
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_JOINT1);  // the reaction path ran
}

}  // namespace
