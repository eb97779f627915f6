// Simulated host prepared for the torque cycle: an arm at rest in a pose with gravity load on
// every joint, no reaction, check or hand-guiding feature armed, friction compensation off, so
// that the command words show the model torque alone until a test switches something on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "dynamics/arm_parameters.hpp"
#include "dynamics/torque_command.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"
#include "tests/dynamics_model/oracle.hpp"

namespace torque_test {

using Names = std::vector<std::string>;

constexpr double kPose[6] = {10, -60, 80, -110, 70, 20};  // [deg]
using kxtest::kPi;
constexpr double kNominalGear[6] = {100, 100, 100, 100, 100, 100};
constexpr double kSplitGear[6] = {121, 121, 121, 101, 101, 101};
constexpr double kNoLoad[4] = {0, 0, 0, 0};  // centre [mm], mass [kg]
constexpr const char kExitPrefix[] =
    "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : ";

inline std::string exit_message(int site) { return kExitPrefix + std::to_string(site); }

using ::testing::PrintToString;                                     // case rows in traces
constexpr double kCollisionKd[6] = {0.5, 0.5, 0.5, 0.1, 0.1, 0.0};  // [N m s/deg] host's damping

// Command word a drive expects for a torque (the conversion itself is checked by hand values).
using kxmc::detail::torque_command_word;
// Number of times the library switched drag off.
inline std::size_t drag_switches() { return kxsim::calls("qmcDragSwitch").size(); }

// Log lines starting with `prefix`; all of them must be level 2.
inline Names logged(const std::string &prefix = kExitPrefix) {
    Names out;
    for (const kxsim::LogLine &l : kxsim::log_lines()) {
        if (l.text.rfind(prefix, 0) != 0) continue;
        EXPECT_EQ(l.level, 2) << l.text;
        out.push_back(l.text);
    }
    return out;
}

using kxtest::static_gravity;  // holding torque of a standard set, from KDL

class TorqueFixture : public kxsim_test::HostFixture {
   protected:
    // Restarts the host as the given arm in the given torque mode, at rest in kPose.
    void start(uint32_t model, uint8_t mode) {
        restart(model);
        mcb.newTeachEnable = mode;
        mcb.frictionCompOn = 0;
        CollisionStartFlag = 0;  // shared with the collision checks, which the host runs too
        CollisionAfterTime = 0;
        float r[6] = {};
        kxmcJointDefaultTorque(r);
        for (int j = 0; j < 6; ++j) {
            q[j] = mpb.jointPos[j] = mpb.targetJointPos[j] = kPose[j];
            forceCollisionError[j] = 0.0;
            rated[j] = r[j];
        }
    }

    void cycle() { ASSERT_EQ(gravityTorqueControl(q), 0); }
    void cycles(int n) {
        for (int i = 0; i < n; ++i) cycle();
    }

    // The command words equal the torques through the gears, within `tol` counts.
    void expect_commands(const double tau[6], const double gear[6] = kNominalGear,
                         int tol = 1) const {
        for (int j = 0; j < 6; ++j) {
            EXPECT_NEAR(how.jointTorqueCmd[j], torque_command_word(tau[j], gear[j], rated[j]), tol)
                << "joint " << j + 1 << " torque " << tau[j];
        }
    }
    // The command words are the mounting gravity torque with the given load.
    void expect_gravity(const double load[4] = kNoLoad) {
        double g[6] = {};
        ASSERT_EQ(kxmcNewGravityTorque(q, load, g), 0);
        expect_commands(g);
    }

    double q[6] = {};
    double rated[6] = {};
};

}  // namespace torque_test
