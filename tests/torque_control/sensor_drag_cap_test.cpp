// Force-and-torque hand guiding in full-dynamics mode: the sensor's joint torque is taken off the
// model torque, each joint's share limited to its inertia (the mass matrix diagonal with the
// rotor, from KDL) times the acceleration bound of the arm's size; arms without a bound take no
// sensor torque at all.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

class SensorDragCap : public TorqueFixture {};

TEST_F(SensorDragCap, SensorTermIsLimitedToTheInertiaTimesTheAccelerationBound) {
    struct Row {
        uint32_t model;
        double amax[6];  // [rad/s^2]; all zero: no bound
    };
    const Row rows[] = {
        {200, {2 * kPi, 2 * kPi, 2 * kPi, 2 * kPi, 2 * kPi, 3 * kPi}},
        {201, {2 * kPi / 3, 2 * kPi / 3, kPi, 2 * kPi, 2 * kPi, 3 * kPi}},
        {450, {kPi / 4, kPi / 4, kPi / 3, 2 * kPi, 2 * kPi, 3 * kPi}},
        {702, {}},
    };
    // A push far beyond every joint's limit: the limit alone shows in the command.
    const double push[6] = {4000, -3000, 5000, 300, -400, 250};  // sensor frame [N, N m]
    for (const Row &r : rows) {
        SCOPED_TRACE("model " + std::to_string(r.model));
        start(r.model, 2);
        mpb.robotState = 4;
        mcb.forceTorqueDragOn = 1;
        for (int n = 0; n < 3000; ++n) {
            std::memcpy(mcb.forceSensorCompWrench, push, sizeof push);
            cycle();
        }
        int16_t pushed[6];
        std::memcpy(pushed, how.jointTorqueCmd, sizeof pushed);
        mcb.forceTorqueDragOn = 0;
        cycle();  // the model torque alone

        const double payload[10] = {};
        const double rest[6] = {};
        const double g[3] = {0, 0, -9.81};
        const kxtest::Dynamics k = kxtest::kdl_dynamics(
            kxtest::standard_model(kxmc::standard_arm_parameters(r.model), payload), q, rest, rest,
            g);
        for (int j = 0; j < 6; ++j) {
            const double limit = k.M[7 * j] * r.amax[j];  // [N m], the rotor included
            const double gear = r.model == 702 ? kSplitGear[j] : kNominalGear[j];
            EXPECT_NEAR(std::abs(pushed[j] - how.jointTorqueCmd[j]),
                        torque_command_word(limit, gear, rated[j]), 2)
                << "joint " << j + 1 << " limit " << limit;
        }
    }
}

}  // namespace
}  // namespace torque_test
