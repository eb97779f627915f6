// Simulated host set up as a 5-kg arm running a program with the collision check armed and
// nothing moving: every residual is zero until a test drives a current.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "numerics/float_cast.hpp"
#include "simhost/kxsimhost.hpp"

namespace collision_test {

using Names = std::vector<std::string>;
const Names kPause = {"qmcPause", "doConfigHandle", "resetWeldControlPara"};
const Names kStop = {"qmcStop", "doConfigHandle", "resetWeldControlPara"};

constexpr uint32_t kModel = 101;
constexpr int32_t kCountLimit = 3;

class CollisionFixture : public kxsim_test::HostFixture {
   protected:
    uint32_t model_code() const override { return kModel; }

    void SetUp() override {
        HostFixture::SetUp();
        rearm();
        kxmcJointDefaultTorque(rated);  // level-1 thresholds are 0.2 x rated [N m] motor side
    }

    // A freshly started host, changed only where the check needs it; case loops re-arm with it.
    void rearm() {
        restart(kModel);
        mpb.robotState = 2;
        const double pose[6] = {10, -60, 80, -110, 70, 20};
        for (int j = 0; j < 6; ++j) {
            mpb.targetJointPos[j] = mpb.jointPos[j] = pose[j];
            mcb.customJointLimit[j] = 1e6f;
            mcb.customTcpLimit[j] = 1e9f;
        }
        mpb.segmentStep = 500;
        mpb.segmentSteps = 1000;
        mpb.motionType = 1;
        mpb.collisionCountLimit = kCountLimit;
        mpb.collisionCurveRef = 720.0;
        mcb.collisionSafeTime = 1234;
        mcb.speedMode = 2;  // allowance without speed scaling
        const float ones[6] = {1, 1, 1, 1, 1, 1}, zero[6] = {};
        kxsim::set_collision_ratio(ones);
        kxsim::set_velocity_feedforward(zero);
        kxsim::clear_journal();
        kxsim::clear_log();
    }

    // Custom limits in place of the level thresholds.
    static void configure(uint8_t mode, const float joint[6], const float tcp[6]) {
        ASSERT_EQ(kxmcSetCustomCollisionDetection(mode, joint, tcp), 0);
        mpb.collisionThresholdMode = 1;
    }

    // Measured current [per mille] that makes joint j's motor torque `torque` [N m].
    int16_t current_for(int j, double torque) const {
        return kxmc::trunc_to<int16_t>(torque / (0.001 * rated[j]));
    }

    // Drives joint j's residual to `factor` times its level threshold.
    void drive_residual(int j, double factor) {
        const double f = 1.0 + (mpb.collisionLevel[j] - 1.0) / 3.0;
        how.jointCurrent[j] = current_for(j, factor * mpb.collisionThreshold[j] * f);
    }

    void cycles(int n) {
        for (int i = 0; i < n; ++i) kxmcCheckForCollisionError();
    }

    float rated[6] = {};
};

}  // namespace collision_test
