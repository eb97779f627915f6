// Simulated host prepared for the torque cycle: an arm at rest in a pose with gravity load on
// every joint, no reaction, check or hand-guiding feature armed, friction compensation off, so
// that the command words show the model torque alone until a test switches something on.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "dynamics/arm_parameters.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace torque_test {

constexpr double kPose[6] = {10, -60, 80, -110, 70, 20};  // [deg]
constexpr double kPi = 3.14159265358979323846;
constexpr double kNominalGear[6] = {100, 100, 100, 100, 100, 100};
constexpr double kSplitGear[6] = {121, 121, 121, 101, 101, 101};
constexpr const char kExitPrefix[] =
    "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : ";

inline std::string exit_message(int site) { return kExitPrefix + std::to_string(site); }

// Command word a drive expects for a torque: torque / (gear x rated) per mille, truncated toward
// zero, saturated to 16 bits, 0 for NaN.
inline int expected_word(double torque, double gear, double rated) {
    const double v = torque / (gear * rated) * 1000.0;
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 32767.0) {
        return 32767;
    }
    if (v <= -32768.0) {
        return -32768;
    }
    return static_cast<int>(std::trunc(v));
}

// Names of the host actions the library took, configuration writes and the vibration
// abatement's gain flags (sent every cycle) left out.
inline std::vector<std::string> actions() {
    std::vector<std::string> out;
    for (const std::string &n : kxsim::action_names()) {
        if (n != "kxHalSetVarGainFactor") {
            out.push_back(n);
        }
    }
    return out;
}

inline int count_log(const std::string &text) {
    int n = 0;
    for (const kxsim::LogLine &l : kxsim::log_lines()) {
        n += l.text == text ? 1 : 0;
    }
    return n;
}

// Lines of the drag exits in order, e.g. {": 2"} as the full message texts.
inline std::vector<std::string> exit_lines() {
    std::vector<std::string> out;
    for (const kxsim::LogLine &l : kxsim::log_lines()) {
        if (l.text.rfind(kExitPrefix, 0) == 0) {
            EXPECT_EQ(l.level, 2) << l.text;
            out.push_back(l.text);
        }
    }
    return out;
}

// Standard parameter set of a model code in double precision for kxmcInvGravity.
struct SetD {
    double lengths[6];
    double masses[6];
    double centres[18];
};
inline SetD set_of(uint32_t code) {
    const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(code);
    SetD s{};
    for (int i = 0; i < 6; ++i) {
        s.lengths[i] = p.lengths[i];
        s.masses[i] = p.masses[i];
    }
    for (int i = 0; i < 18; ++i) {
        s.centres[i] = p.centres[i];
    }
    return s;
}

// Gravity vector of the installation angles [deg] with gravity g [m/s^2].
inline void gravity_of(double tilt, double rot, double g, double out[3]) {
    const double t = tilt * kPi / 180.0, r = rot * kPi / 180.0;
    out[0] = -g * std::cos(r) * std::sin(t);
    out[1] = -g * std::sin(r) * std::sin(t);
    out[2] = -g * std::cos(t);
}

// Static holding torque of a standard set with a payload (mass [kg], centre [mm]).
inline void static_gravity(uint32_t set_code, double mass, const double centre[3], double tilt,
                           double rot, double g, const double q[6], double out[6]) {
    const SetD s = set_of(set_code);
    const double payload[10] = {mass, centre[0], centre[1], centre[2], 0, 0, 0, 0, 0, 0};
    double gv[3];
    gravity_of(tilt, rot, g, gv);
    ASSERT_EQ(kxmcInvGravity(s.lengths, s.masses, s.centres, payload, gv, q, out), 0);
}

class TorqueFixture : public kxsim_test::HostFixture {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        quiet_arm();
    }

    // Restarts the host as the given arm in the given torque mode, at rest in kPose.
    void start(uint32_t model, uint8_t mode) {
        restart(model);
        quiet_arm();
        mcb.newTeachEnable = mode;
    }

    void quiet_arm() {
        mcb.newTeachEnable = 0;
        mcb.frictionCompOn = 0;
        mcb.installPos = 0;
        mcb.installTilt = 0.0;
        mcb.installRot = 0.0;
        mcb.staticCollisionOn = 0;
        mcb.powerCheckOn = 0;
        mcb.powerFlag = 0;
        mcb.dragLockOn = 0;
        mcb.interfereDragMode = 0;
        mcb.collisionState = 0;
        mcb.collisionPauseFlag = 0;
        mcb.tcpSpeedOverDragState = 0;
        mcb.forceTorqueDragOn = 0;
        CollisionStartFlag = 0;  // shared with the collision checks, which the host runs too
        CollisionAfterTime = 0;
        for (double &e : forceCollisionError) {
            e = 0.0;
        }
        mpb.robotState = 1;
        mpb.jointNum = 6;
        mpb.loadWeight = 0.0;
        mpb.tcpSpeed = 0.0;
        mpb.tcpRotSpeed = 0.0;
        for (int j = 0; j < 6; ++j) {
            q[j] = kPose[j];
            mpb.jointPos[j] = mpb.targetJointPos[j] = kPose[j];
            mpb.actualJointVel[j] = mpb.targetJointVel[j] = 0.0;
            mpb.actualJointAcc[j] = mpb.targetJointAcc[j] = mpb.feedJointAcc[j] = 0.0;
            mpb.jointTorqueOverride[j] = 0.0;
            mpb.loadCoord[j % 3] = 0.0;
            how.jointCurrent[j] = 0;
            how.jointTorqueCmd[j] = 0;
        }
        float r[6] = {};
        kxmcJointDefaultTorque(r);
        for (int j = 0; j < 6; ++j) {
            rated[j] = r[j];
        }
        kxsim::clear_journal();
        kxsim::clear_log();
    }

    void cycle() { ASSERT_EQ(gravityTorqueControl(q), 0); }
    void cycles(int n) {
        for (int i = 0; i < n; ++i) {
            cycle();
        }
    }

    // The command words equal the torques through the gears, within `tol` counts.
    void expect_commands(const double tau[6], const double gear[6] = kNominalGear,
                         int tol = 1) const {
        for (int j = 0; j < 6; ++j) {
            EXPECT_NEAR(how.jointTorqueCmd[j], expected_word(tau[j], gear[j], rated[j]), tol)
                << "joint " << j + 1 << " torque " << tau[j];
        }
    }

    double q[6] = {};
    double rated[6] = {};
};

}  // namespace torque_test
