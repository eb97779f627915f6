// Momentum observer: against an arm integrated with Orocos KDL's dynamics (the host feeding the
// library's M, V and g), an external torque shows in the residual as a first-order lag of 100
// cycles whether the drives hold the arm or let it move, and decays once the arm is at rest;
// thresholds by joint, level and speed override; the reactions; refusals.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <kdl/chaindynparam.hpp>
#include <limits>
#include <string>
#include <vector>

#include "host_fixture.hpp"
#include "kxmc/kxmc_friction.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_momentum_observer.h"
#include "simhost/kxsimhost.hpp"
#include "tests/excitation/excitation_plant.hpp"

namespace {

using excitation_test::Joints;
constexpr double kLag = 0.99;  // 1 - K: share of the residual's distance left after a cycle
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The 5-kg arm's rigid links (KDL), drives that produce what their current says, the friction of
// the library's model, and a host that feeds the observer every cycle.
class ObservedArm {
   public:
    ObservedArm()
        : plant_(102.0, excitation_test::Payload{}, 9.8, false),
          dyn_(plant_.chain(), KDL::Vector(0, 0, -9.8)) {
        kxmcJointDefaultTorque(rated_);
    }
    Joints q{0.2, -1.3, 1.1, -0.9, -1.4, 0.3}, qd{}, q_ref = q, tau_ext{};
    bool held = true;     // drives hold q_ref, or only carry gravity and friction
    bool frozen = false;  // arm at rest, drives on gravity and friction only
    Joints remainder{};   // drive torque minus gravity and friction of the last cycle [N m]

    // The host calls the observer with the library's matrices at the state; the arm moves 1 ms.
    void cycle() {
        const excitation_test::Matrices d = excitation_test::matrices(q, qd);
        double fric[6];
        for (int i = 0; i < 6; ++i) mpb.actualJointVel[i] = qd[i] / excitation_test::kDeg / 1000.0;
        frictionCompensation(mpb.actualJointVel, fric);
        Eigen::Matrix<double, 6, 1> drive;
        for (int i = 0; i < 6; ++i) {
            // hold: 60 rad/s, critically damped, on the joint's inertia
            double cmd = d.G(i) + fric[i];
            if (held && !frozen) cmd += d.M(i, i) * (3600.0 * (q_ref[i] - q[i]) - 120.0 * qd[i]);
            const double quantum = 0.1 * rated_[i] * 1.6;  // [N m] per mille of current
            how.jointCurrent[i] = static_cast<int16_t>(std::lround(cmd / quantum));
            drive(i) = how.jointCurrent[i] * quantum;
            remainder[i] = drive(i) - d.G(i) - fric[i];
        }
        ASSERT_EQ(kxmcMomentumObserver(0, 0, d.M.data(), d.V.data(), d.G.data(), 0, nullptr), 0);
        if (frozen) return;
        const Joints bias = plant_.torque(q, qd, Joints{});  // C qd + g of the rigid links
        KDL::JntArray jq(6);
        KDL::JntSpaceInertiaMatrix mass(6);
        for (int i = 0; i < 6; ++i) jq(i) = q[i], drive(i) += tau_ext[i] - fric[i] - bias[i];
        dyn_.JntToMass(jq, mass);
        const Eigen::Matrix<double, 6, 1> qdd = mass.data.ldlt().solve(drive);
        for (int i = 0; i < 6; ++i) qd[i] += 1e-3 * qdd(i), q[i] += 1e-3 * qd[i];
    }

   private:
    excitation_test::Plant plant_;
    KDL::ChainDynParam dyn_;
    float rated_[6];
};

class ExternalTorque : public kxsim_test::HostFixture, public ::testing::WithParamInterface<int> {};

// r follows -tau_ext (1 - 0.99^n) on the pushed joint and stays near 0 on the others. The free
// arm already moves at the first call: the estimate starts from its momentum. Then the arm is
// stopped at rest with the drives on gravity and friction: the residual decays by 1 % a cycle
// down to the drives' quantisation.
TEST_P(ExternalTorque, ShowsInTheResidualAsAFirstOrderLagAndDecaysAtRest) {
    struct StepCase {
        int joint;
        double torque;  // [N m]
        bool held;
    };
    const StepCase cases[] = {{0, 15.0, true},  {1, -25.0, true}, {2, 12.0, true},
                              {3, 4.0, true},   {4, -3.0, true},  {5, 2.0, true},
                              {0, 10.0, false}, {1, 15.0, false}, {2, -8.0, false}};
    const StepCase &c = cases[GetParam()];
    const int j = c.joint;
    ObservedArm arm;
    arm.held = c.held;
    if (!c.held) arm.qd = {0.3, -0.2, 0.25, 0.4, -0.3, 0.5};
    const double floor = 0.3 + 0.03 * std::fabs(c.torque);  // quantisation and integration
    for (int n = 1; n <= 400; ++n) {
        if (n == 101) arm.tau_ext[j] = c.torque;
        arm.cycle();
        const double want = n <= 100 ? 0.0 : -c.torque * (1.0 - std::pow(kLag, n - 100));
        for (int i = 0; i < 6; ++i)
            ASSERT_NEAR(mpb.observerResidual[i], i == j ? want : 0.0, floor) << n << " " << i;
    }
    arm.qd = {}, arm.frozen = true;
    arm.cycle();
    const double r0 = mpb.observerResidual[j];
    ASSERT_GT(std::fabs(r0), 0.9 * std::fabs(c.torque));  // the push is still in the residual
    for (int n = 1; n <= 800; ++n) {
        arm.cycle();
        const double quantisation = 1e-9 + std::fabs(arm.remainder[j]);
        ASSERT_NEAR(mpb.observerResidual[j], r0 * std::pow(kLag, n), quantisation) << n;
    }
    EXPECT_LT(std::fabs(mpb.observerResidual[j]), 0.3);
}

INSTANTIATE_TEST_SUITE_P(Joints, ExternalTorque, ::testing::Range(0, 9));

// ---- Thresholds and reactions -----------------------------------------------------------------

// The arm at rest with a unit inertia: a gravity input off by -d makes the residual rise to d.
class Offset : public kxsim_test::HostFixture {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        for (int i = 0; i < 36; ++i) M_[i] = i % 7 == 0 ? 1.0 : 0.0;
        mpb.robotState = 2;
    }
    int until_collision(uint32_t j, int calls) {  // the call that collided, 0 if none
        for (int n = 1; n <= calls; ++n) {
            EXPECT_EQ(kxmcMomentumObserver(j, 0, M_, V_, g_, 0, thr_), 0);
            if (mcb.collisionErrorCode != KXMC_COLLISION_NONE) return n;
        }
        return 0;
    }
    double M_[36], V_[36] = {}, g_[6] = {}, thr_[6] = {};
};

class Threshold : public Offset, public ::testing::WithParamInterface<int> {};

// Published as the joint's threshold; a residual settling 0.5 N m above thr + 5 is a collision
// on either side of zero, 0.5 N m below is none.
TEST_P(Threshold, ByJointLevelAndSpeedOverride) {
    struct ThresholdCase {
        uint32_t joint;
        float level;
        uint8_t speed_mode;
        double ratio_a, ratio_b, thr;  // thr [N m]
    };
    const ThresholdCase cases[] = {
        {2, 3, 1, 1.0, 0.2, 60.0 * 2.0 / 3.0},      // elbow, level 3, manual speed
        {3, 10, 0, 0.98, 1.0, 79.8 * 0.98},         // wrist 1, level 10
        {1, 4, 2, 1.0, 1.0, 0.0},                   // another speed mode
        {1, 0, 0, 1.0, 1.0, 25.0},                  // level 0
        {4, 11, 0, 1.0, 1.0, 152.5 * 10.0 / 11.0},  // level 11
        {0, NAN, 0, 1.0, 1.0, 25.0},                // level not a number
        {5, 2, 0, -1.0, 1.0, 0.0},                  // negative speed ratio
        {5, 2, 0, kNaN, 1.0, 14.3}};                // speed ratio not a number
    const ThresholdCase &c = cases[GetParam()];
    mpb.collisionLevel[c.joint] = c.level;
    mcb.speedMode = c.speed_mode, mcb.speedRatioA = c.ratio_a, mcb.speedRatioB = c.ratio_b;
    mcb.collisionPauseFlag = 1;
    const double bound = c.thr + 5.0;
    g_[c.joint] = -(bound - 0.5);
    EXPECT_EQ(until_collision(c.joint, 3000), 0);
    EXPECT_NEAR(mpb.observerResidual[c.joint], bound - 0.5, 1e-6);
    EXPECT_NEAR(mpb.collisionThrDisplay[c.joint], c.thr, 1e-9);
    EXPECT_NEAR(thr_[c.joint], c.thr, 1e-9);
    EXPECT_EQ(mpb.collisionThrSource[c.joint], 1);
    for (double sign : {1.0, -1.0}) {
        g_[c.joint] = -sign * (bound + 0.5);
        EXPECT_GT(until_collision(c.joint, 3000), 0) << sign;
        EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + c.joint + 1);
        mcb.collisionErrorCode = KXMC_COLLISION_NONE;
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Threshold, ::testing::Range(0, 8));

// Code, pause or stop by the reaction setting, never the collision state or drag mode; the
// estimate restarts from the measured momentum, so the residual is back near 0 on the next call.
TEST_F(Offset, ReactionFollowsThePauseFlag) {
    struct Case {
        uint8_t pause_flag, no_stop;
        int32_t robot_state;
        bool code;
        std::vector<std::string> actions;
    };
    const Case cases[] = {{0, 0, 2, true, {"qmcPause"}}, {0, 1, 2, true, {}},
                          {0, 0, 3, true, {}},           {1, 0, 2, true, {}},
                          {2, 0, 2, true, {"qmcStop"}},  {2, 0, 1, true, {}},
                          {3, 0, 2, false, {}},          {9, 0, 2, false, {}}};
    g_[2] = -40.0;  // settles at 40 N m, beyond joint 3's level-1 band of 25 + 5
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.pause_flag) * 100 + c.no_stop * 10 + c.robot_state);
        mcb.collisionPauseFlag = c.pause_flag, mcb.collisionNoStop = c.no_stop,
        mpb.robotState = c.robot_state;
        mcb.collisionErrorCode = KXMC_COLLISION_NONE;
        kxsim::clear_journal();
        int n = 0;
        while (++n < 3000 && std::fabs(mpb.observerResidual[2]) <= 30.0)
            kxmcMomentumObserver(2, 0, M_, V_, g_, 0, thr_);
        ASSERT_LT(n, 3000);
        EXPECT_EQ(mcb.collisionErrorCode, c.code ? 0x13000003u : KXMC_COLLISION_NONE);
        EXPECT_EQ(kxsim::action_names(), c.actions);
        EXPECT_EQ(mcb.collisionState, 0);
        kxmcMomentumObserver(2, 0, M_, V_, g_, 0, thr_);
        EXPECT_NEAR(mpb.observerResidual[2], 40.0 * (1 - kLag), 1e-9);
    }
}

// Only the named joint is compared, every residual is published, j > 5 compares none; a call
// with a missing matrix or a value that is not finite changes nothing, not even the estimate.
TEST_F(Offset, ComparesOnlyTheNamedJointAndRefusesBadInputs) {
    mcb.collisionPauseFlag = 1;
    for (int i = 0; i < 6; ++i) g_[i] = -400.0;
    double thr[6] = {-1, -1, -1, -1, -1, -1}, first[36] = {kNaN}, last[36] = {};
    last[5] = -HUGE_VAL;  // the last value of g, inside M and V
    EXPECT_EQ(kxmcMomentumObserver(6, 0, M_, V_, g_, 0, thr), -1);
    for (const double *m : {first, last}) {
        EXPECT_EQ(kxmcMomentumObserver(0, 0, m, V_, g_, 0, thr) +
                      kxmcMomentumObserver(0, 0, M_, m, g_, 0, thr) +
                      kxmcMomentumObserver(0, 0, M_, V_, m, 0, thr),
                  -3);
    }
    mpb.actualJointVel[4] = kNaN;
    EXPECT_EQ(kxmcMomentumObserver(0, 0, M_, V_, g_, 0, thr), -1);
    mpb.actualJointVel[4] = 0.0;
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(mpb.observerResidual[i] + mpb.collisionThrSource[i] + thr[i], 4.0 - 1) << i;
    EXPECT_EQ(until_collision(3, 100), 3);  // 400 (1 - 0.99^4) > 9.5 + 5, the first call included
    EXPECT_EQ(mcb.collisionErrorCode, 0x13000004u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(mpb.collisionThrSource[i], i == 3 ? 1 : 0) << i;
        EXPECT_NEAR(mpb.observerResidual[i], 400.0 * (1 - std::pow(kLag, 4)), 1e-9) << i;
    }
}

}  // namespace
