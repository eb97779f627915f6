// Closed loop of end-force guiding on the simulated host: each cycle the operator's wrench
// (given in the guided frame, applied at its origin) reaches the simulated sensor, the library
// processes it and steps the admittance, and the host's position loop follows the goal exactly.
#pragma once

#include <algorithm>
#include <functional>

#include <Eigen/LU>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainjnttojacsolver.hpp>

#include "tests/forcesensor/sensor_fixture.hpp"

namespace sensor_test {

// The guided frame of an output frame: the flange (0) or the tool (1: its point in base axes,
// 2: in its own axes).
inline KDL::Frame guided(uint8_t ref) {
    const KDL::Frame flange = kdl(mpb.flangePose);
    return ref == 0 ? flange : flange * kdl(mpb.toolTrsf);
}

// Joint 2 [deg] of the shoulder singularity of joints (q1, ., q3 ... q6) on a chain: where the
// Jacobian determinant changes sign, refined by bisection.
inline double shoulder_singular_q2(const KDL::Chain &chain, double joints[6]) {
    KDL::ChainJntToJacSolver solver(chain);
    const auto det = [&](double q2) {
        KDL::JntArray q(6);
        KDL::Jacobian J(6);
        for (int j = 0; j < 6; ++j) q(j) = (j == 1 ? q2 : joints[j]) * kPi / 180;
        solver.JntToJac(q, J);
        return J.data.determinant();
    };
    double lo = -180, hi = lo;
    while (hi < 180 && (det(hi + 0.5) > 0) == (det(lo) > 0)) hi += 0.5;
    hi += 0.5;
    for (int i = 0; i < 60; ++i)
        ((det((lo + hi) / 2) > 0) == (det(lo) > 0) ? lo : hi) = (lo + hi) / 2;
    return joints[1] = (lo + hi) / 2;
}

// Axis of joint j+1 (0-based j) of the 5-kg arm at the actual joints, in base axes.
inline KDL::Vector joint_axis(int j) {
    KDL::Frame frame;
    KDL::JntArray q(6);
    for (int i = 0; i < 6; ++i) q(i) = mpb.jointPos[i] * kPi / 180;
    KDL::ChainFkSolverPos_recursive(arm_chain()).JntToCart(q, frame, j);
    return frame.M.UnitZ();
}

class GuidingFixture : public SensorFixture {
protected:
    void configure() override {
        const double inertia[6] = {10, 10, 10, 0.5, 0.5, 0.5},
                     damp[6] = {200, 200, 200, 10, 10, 10}, stiffness[6] = {},
                     threshold[6] = {3, 3, 3, 0.3, 0.3, 0.3};
        SensorFixture::configure();
        mcb.speedMode = 1;
        mpb.robotState = 1;
        kxmcEndForceDragstartstop(1, 0, 0, 0, inertia, damp, stiffness, threshold, 100, 90);
        mcb.forceSensorCoord[5] = 30;  // the sensor turned on the flange
        move_to({0, -90, 90, -90, -90, 0});
    }
    // One cycle in which guiding does not run: the admittance rests at the commanded joints.
    void idle() {
        const int32_t state = mpb.robotState;
        mpb.robotState = 4;
        kxmcForceSensorDragProcess();
        mpb.robotState = state;
    }
    void move_to(std::initializer_list<double> joints) {
        std::copy(joints.begin(), joints.end(), mpb.targetJointPos);
        kxsim::ideal_position_loop_step();
        kxsim::ideal_position_loop_step();
        idle();  // at rest
    }
    // One servo cycle with the operator's wrench w (guided-frame axes, at its origin).
    void step(const double w[6]) {
        const KDL::Frame g = guided(mcb.forceSensorRefCoord);
        const KDL::Frame sensor = kdl(mpb.flangePose) * kdl_pose(mcb.forceSensorCoord);
        const KDL::Rotation axes = mcb.forceSensorRefCoord == 1 ? KDL::Rotation::Identity() : g.M;
        const KDL::Wrench push =
            axes * KDL::Wrench(KDL::Vector(w[0], w[1], w[2]), KDL::Vector(w[3], w[4], w[5]));
        double ws[6], before[6];
        to_array(sensor.M.Inverse(push.RefPoint(sensor.p - g.p)), ws);
        cycle(ws);
        EXPECT_EQ(kxmcForceSensorDragProcess(), 0);
        std::copy(mpb.jointPos, mpb.jointPos + 6, before);
        kxsim::ideal_position_loop_step();
        for (int j = 0; j < 6; ++j)
            max_joint_speed_ =
                std::max(max_joint_speed_, 1000 * std::fabs(mpb.jointPos[j] - before[j]));
    }
    // Runs n cycles of w; returns the twist of the guided frame over the last `window` cycles
    // in its own axes (base axes for the base frame) [m/s, rad/s].
    KDL::Twist run(const double w[6], int n, int window = 200,
                   const std::function<void()> &each = [] {}) {
        KDL::Frame start;
        for (int i = 0; i < n; ++i) {
            if (i == n - window) start = guided(mcb.forceSensorRefCoord);
            step(w);
            each();
        }
        const KDL::Frame end = guided(mcb.forceSensorRefCoord);
        const KDL::Twist t = KDL::diff(start, end, window * 0.001);
        return mcb.forceSensorRefCoord == 1 ? t : end.M.Inverse(t);
    }
    double max_joint_speed_ = 0.0;  // [deg/s] of the commanded joints
};

}  // namespace sensor_test
