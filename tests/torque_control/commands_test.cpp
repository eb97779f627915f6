// Drive command words: the conversion of torque to per mille of the rated torque (saturation,
// non-finite values, joints without a rated torque), the sensor drag term's cap, the friction
// term and its gain, the motor-side torque override of the power check, bounds of the inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "torque_fixture.hpp"

namespace torque_test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(CommandWord, TruncatesTowardZeroSaturatesAndTakesOffTheCappedSensorTerm) {
    const double cases[][4] = {
        // torque [N m], gear, rated [N m], word
        {-0.0499, 100, 0.5, 0},   {1.0, 0.7, 1.0, 1428},      {-1e9, 100, 1.27, -32768},
        {kInf, 100, 1.27, 32767}, {kNaN, 100, 1.27, 0},       {5.0, 100, 0.0, 0},
        {5.0, 100, kNaN, 0},      {417.0, 100, 0.127, 32767},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(kxmc::detail::torque_command_word(c[0], c[1], c[2]), c[3])
            << c[0] << " / (" << c[1] << " x " << c[2] << ")";
    }
    // The sensor drag term is taken off the model torque within its cap and limited beyond it.
    const double sensor_cases[][4] = {// model torque, sensor term, cap, result [N m]
                                      {10, -2, 3, 12}, {10, 5, 3, 7},     {10, -5, 3, 13},
                                      {10, 5, -3, 7},  {10, kNaN, 3, 10}, {10, 0.5, 0.2, 9.8}};
    for (const auto &c : sensor_cases) {
        EXPECT_DOUBLE_EQ(kxmc::detail::sensor_drag_torque(c[0], c[1], c[2]), c[3])
            << "t " << c[1] << " cap " << c[2];
    }
}

class Commands : public TorqueFixture {};

// Friction follows the commanded motion outside drag and the actual one in drag (none in sensor
// drag), times its gain; a gain outside -0.000001..1 is repaired to 0.5 before use.
TEST_F(Commands, FrictionFollowsTheMotionOfTheStateTimesItsRepairedGain) {
    const float kNaNf = std::nanf("");
    // compensation, robot state, sensor drag, source (0 none, 1 target, 2 actual velocities),
    // gain, gain used
    const float cases[][6] = {
        {0, 1, 0, 0, 1.0f, 1.0f},     {1, 2, 0, 1, 0.3f, 0.3f},  {1, 4, 0, 2, 1.5f, 0.5f},
        {1, 4, 1, 0, 1.0f, 1.0f},     {1, 1, 0, 1, kNaNf, 0.5f}, {1, 1, 0, 1, -1e-6f, -1e-6f},
        {1, 1, 0, 1, -1.1e-6f, 0.5f}, {1, 1, 0, 1, 1.0f, 1.0f},  {1, 1, 0, 1, 1.01f, 0.5f}};
    const double target[6] = {0.05, -0.05, 0.05, -0.05, 0.05, -0.05};     // [deg/cycle]
    const double actual[6] = {-0.02, -0.03, -0.04, -0.02, -0.03, -0.04};  // [deg/cycle]
    for (const auto &c : cases) {
        SCOPED_TRACE(PrintToString(c));
        start(101, 7);
        mcb.frictionCompOn = static_cast<uint8_t>(c[0]);
        mpb.robotState = static_cast<int32_t>(c[1]);
        mcb.forceTorqueDragOn = static_cast<int32_t>(c[2]);
        std::copy(target, target + 6, mpb.targetJointVel);
        std::copy(actual, actual + 6, mpb.actualJointVel);
        std::fill(mpb.frictionGain, mpb.frictionGain + 6, c[4]);
        cycle();
        double expected[6] = {};
        if (c[3] != 0) frictionCompensation(c[3] == 1 ? target : actual, expected);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(mpb.frictionGain[j], c[5]);
        for (double &t : expected) t *= c[5];
        expect_commands(expected);
    }
}

// The override [N m, motor side] replaces the command only with the power check on and from a
// micro-newton-metre on.
TEST_F(Commands, TorqueOverrideReplacesTheCommandWithThePowerCheck) {
    const double cases[][2] = {{-5e-7, 0}, {1e-6, 1}, {-2.0, 1}};
    for (const auto &c : cases) {
        for (const uint8_t check : {0, 1}) {
            SCOPED_TRACE(PrintToString(c) + std::to_string(check));
            start(101, 0);
            mcb.powerCheckOn = check;
            for (double &t : mpb.jointTorqueOverride) t = c[0];
            cycle();
            if (check == 0 || c[1] == 0) expect_gravity();
            for (int j = 0; check == 1 && c[1] != 0 && j < 6; ++j) {
                EXPECT_NEAR(how.jointTorqueCmd[j], torque_command_word(c[0], 0.7, rated[j]), 1);
            }
        }
    }
}

// A joint without rated torque or with a non-finite torque gets no command; missing joint
// positions fall back to the host's; joints beyond the arm's are left alone.
TEST_F(Commands, InputsOutOfRangeGiveNoCommandRatherThanUndefinedBehaviour) {
    start(101, 0);
    mpb.ratedTorque25 = 0.0f;  // joints 1-3 of the 5-kg arm
    mpb.jointNum = 4;
    how.jointTorqueCmd[4] = how.jointTorqueCmd[5] = 77;
    cycle();
    const int without_rated[6] = {0, 0, 0, how.jointTorqueCmd[3], 77, 77};
    for (int j = 0; j < 6; ++j) EXPECT_EQ(how.jointTorqueCmd[j], without_rated[j]);
    EXPECT_NE(how.jointTorqueCmd[3], 0);

    start(101, 2);
    q[1] = kNaN;
    cycle();
    for (int j = 0; j < 6; ++j) EXPECT_EQ(how.jointTorqueCmd[j], 0) << "joint " << j + 1;

    start(101, 0);
    ASSERT_EQ(gravityTorqueControl(nullptr), 0);
    expect_gravity();  // q equals the host's joints
}

}  // namespace
}  // namespace torque_test
