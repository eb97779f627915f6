// End-force guiding in closed loop with an ideal position loop: the tool follows the push with
// the configured admittance in each frame, stops with it, and the joint-speed limit, the
// virtual wall and the singularity guard hold.
#include <gtest/gtest.h>
#include <kdl/chainfksolverpos_recursive.hpp>

#include "guiding_fixture.hpp"

namespace {

using namespace sensor_test;
using Guiding = GuidingFixture;

TEST_F(Guiding, FollowsThePushWithForceOverDampingAndStopsWithIt) {
    struct Case { uint8_t ref; double w[6]; };
    // Pushes constant in the guided frame; the last rows turn the frame while pushing, so the
    // push must keep acting along the turned axes.
    const Case cases[] = {{1, {20, 0, 0, 0, 0, 0}},  {1, {0, -15, 10, 0, 0, 0}},
                          {0, {0, 0, 20, 0, 0, 0}},  {2, {-20, 0, 0, 0, 0, 0}},
                          {0, {0, 0, 0, 0, 1.5, 0}}, {2, {16, 0, 0, 0, 0, 2}},
                          {1, {16, 0, 0, 0, 0, 2}},  {0, {0, 16, 0, -2, 0, 0}}};
    for (const Case &c : cases) {
        restart(101);
        configure();
        mpb.toolTrsf = trsf(KDL::Frame(KDL::Rotation::RPY(kPi / 2, 0, kPi / 6)));  // turned tool
        mcb.forceSensorRefCoord = c.ref;
        const KDL::Twist t = run(c.w, 2000);
        double speed[2] = {0, 0};  // commanded translation and rotation speeds
        for (int i = 0; i < 6; ++i)
            speed[i / 3] = std::max(speed[i / 3], std::fabs(c.w[i] / mcb.endDragDamp[i]));
        for (int i = 0; i < 6; ++i)  // within 5 % of the commanded speed
            EXPECT_NEAR(t(i), c.w[i] / mcb.endDragDamp[i], 0.05 * speed[i / 3] + 5e-4)
                << "frame " << int(c.ref) << " axis " << i;
        const double none[6] = {};
        const KDL::Twist rest = run(none, 1200);
        EXPECT_LT(rest.vel.Norm() + rest.rot.Norm(), 1e-5) << "frame " << int(c.ref);
        EXPECT_EQ(mcb.endForceDragOn, 1);
        EXPECT_EQ(kxsim::calls("qmcUpdateJointCartGoalPos").size(), 3200u);
    }
}

// Guiding paused (a cycle without it) and the arm moved elsewhere by the host: the next session
// starts where the arm now is, not from the previous start pose (the previous push still
// fades out of the force prefilter: micro-degrees).
TEST_F(Guiding, NewSessionStartsWhereTheArmIs) {
    const double push[6] = {20, 0, 0, 0, 0, 0}, none[6] = {};
    for (uint8_t ref : {0, 1, 2}) {  // flange, base and tool frames
        restart(101);
        configure();
        mcb.forceSensorRefCoord = ref;
        run(push, 300);
        run(none, 300);
        move_to({10, -80, 80, -90, -80, 10});
        run(none, 10);
        const double want[6] = {10, -80, 80, -90, -80, 10};
        for (int j = 0; j < 6; ++j)
            EXPECT_NEAR(mpb.targetJointPos[j], want[j], 1e-3) << int(ref) << " " << j;
        EXPECT_EQ(mcb.endForceDragOn, 1) << int(ref);
        EXPECT_EQ(mcb.warningCode, 0u) << int(ref);
    }
}

// Adaptive damping adds a quarter of the push and the contact's critical damping: slower than
// the base damping alone, still moving.
TEST_F(Guiding, AdaptiveDampingSlowsTheFollow) {
    const double w[6] = {15, 15, 15, 1, 1, 1};
    mcb.forceSensorRefCoord = 1;
    mcb.endDragAdaptiveSign = 1;
    const KDL::Twist t = run(w, 1500);
    for (int i = 0; i < 6; ++i) {
        const double free = w[i] / (mcb.endDragDamp[i] + 0.25 * w[i]);
        EXPECT_GT(t(i), 0.3 * free) << i << " " << t(i);
        EXPECT_LT(t(i), free) << i << " " << t(i);
    }
}

TEST_F(Guiding, PushBelowTheDeadBandOrWithGuidingBlockedLeavesTheArmAtRest) {
    struct Case { double fx; std::function<void()> block; };
    const Case cases[] = {{2.95, [] {}},
                          {20, [] { mpb.robotState = 4; }},
                          {20, [] { mcb.speedMode = 0; }},
                          {20, [] { mcb.collisionForceCheckA = 1; }},
                          {20, [] { mcb.faultCode = 0x1000001d; }},
                          {20, [] { mcb.safetyCode = 0x23000001; }},
                          {20, [] { mcb.endForceDragOn = 0; }}};
    for (const Case &c : cases) {
        restart(101);
        configure();
        const double w[6] = {c.fx, 0, 0, 0, 0, 0}, q1 = mpb.jointPos[0];
        mcb.forceSensorRefCoord = 1;
        c.block();
        run(w, 300);
        EXPECT_NEAR(mpb.jointPos[0], q1, 1e-6) << c.fx;
    }
}

TEST_F(Guiding, JointSpeedLimitStopsGuidingWithItsWarning) {
    const double w[6] = {40, 0, 0, 0, 0, 0};
    mcb.endDragVMax = 8;  // [deg/s]
    mcb.forceSensorRefCoord = 1;
    run(w, 1500);
    EXPECT_EQ(mcb.endForceDragOn, 0);
    EXPECT_GE(mcb.warningCode, KXMC_WARN_HANDGUIDE_JOINT1_FAST);
    EXPECT_LE(mcb.warningCode, KXMC_WARN_HANDGUIDE_JOINT1_FAST + 5);
    EXPECT_LT(max_joint_speed_, 8.0);
    const auto &log = kxsim::log_lines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const kxsim::LogLine &l) {
        return l.level == 2 && l.text.rfind("dv[", 0) == 0 &&
               l.text.find("-- max=8.000000") != std::string::npos;
    }));
}

// A 20 N push toward a box 150 mm ahead for 4 s: without the wall the tool runs into the box;
// the keep-out wall slows it to a crawl in its 100 mm band, and a keep-in box whose face lies
// ahead holds it inside the same way.
TEST_F(Guiding, VirtualWallHoldsTheToolOutOfTheBoxAndInsideTheKeepInBox) {
    struct Case { uint8_t on, shape; bool outside_ahead; double min_gap; };
    for (const Case &c : {Case{0, 0, true, -100}, Case{1, 0, true, 15}, Case{1, 1, false, 15}}) {
        restart(101);
        configure();
        mcb.forceSensorRefCoord = 1;
        mcb.endDragInterfereSign = 1;
        mcb.wallOn = c.on;
        mcb.wallShape = c.shape;
        mcb.wallDefMode = 1;
        const double *p = mpb.flangePose.pos.v, face = p[0] + 150;  // [mm] the face ahead in +X
        const double centre[3] = {c.outside_ahead ? face + 200 : face - 300, p[1], p[2]},
                     size[3] = {400, 800, 800}, w[6] = {20, 0, 0, 0, 0, 0};
        std::copy(centre, centre + 3, mcb.wallCentre);
        std::copy(size, size + 3, mcb.wallSize);
        double gap = 1e9;
        const KDL::Twist t =
            run(w, 4000, 200, [&] { gap = std::min(gap, face - mpb.flangePose.pos.v[0]); });
        // Without the wall the tool enters the box; with it, it crawls (< 10 mm/s) outside.
        if (c.on) {
            EXPECT_GT(gap, c.min_gap) << int(c.shape) << " " << gap;
            EXPECT_LT(t.vel.Norm(), 0.01) << int(c.shape) << " " << gap;
        } else {
            EXPECT_LT(gap, c.min_gap) << int(c.shape) << " " << gap;
        }
    }
}

// Pushing the wrist toward its singular pose (joint 5 at 0) with a moment about joint 5's axis.
TEST_F(Guiding, SingularityGuardEngagesNearTheWristSingularity) {
    for (int flagged : {0, 1}) {  // (a flagged release would hold the unflagged guard off)
        restart(101);
        configure();
        mcb.forceSensorRefCoord = 1;
        mcb.singularityConstraintsFlag = flagged;
        move_to({0, -90, 90, -90, -35, 0});
        const KDL::Vector axis5 = 2.0 * joint_axis(4);  // turning about it raises q5 toward 0
        const double w[6] = {0, 0, 0, axis5.x(), axis5.y(), axis5.z()};
        double nearest = 180, back_out = 0;  // |q5| closest, and furthest after reaching the band
        run(w, 3000, 200, [&] {
            nearest = std::min(nearest, std::fabs(mpb.jointPos[4]));
            if (nearest < 20) back_out = std::max(back_out, std::fabs(mpb.jointPos[4]));
        });
        // Guided up to the band before the guard acted; the unflagged constraint wrench pushes
        // the wrist back out, the flagged guard hands the arm to joint drag; never stopped for
        // joint speed.
        EXPECT_GT(nearest, flagged ? 19.0 : 15.0) << nearest << " " << back_out;
        EXPECT_LT(nearest, 21.0) << nearest << " " << back_out;
        if (!flagged) {
            EXPECT_GT(back_out, 21.0) << nearest << " " << back_out;
        }
        EXPECT_EQ(mcb.warningCode, 0u) << flagged;
        EXPECT_EQ(mpb.robotState, flagged ? 4 : 1) << flagged;
        EXPECT_EQ(kxsim::log_contains(
                      "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 9", 2),
                  flagged == 1);
    }
    // Moved in joint drag, faster than 50 mm/s: still at a (shoulder) singular pose it stays
    // there, clear again it returns to guiding.
    double shoulder[6] = {30, 0, 70, 10, 60, -40};
    shoulder_singular_q2(arm_chain(), shoulder);
    // Joint 4 just above 70 deg is not clear yet; at 70 it is.
    struct Release { std::vector<double> pose; int32_t state; };
    for (const Release &r :
         {Release{std::vector<double>(shoulder, shoulder + 6), 4},
          Release{{0, -90, 90, 70.01, -40, 0}, 4}, Release{{0, -90, 90, 70, -40, 0}, 1}}) {
        std::copy(r.pose.begin(), r.pose.end(), mpb.targetJointPos);
        kxsim::ideal_position_loop_step();
        mpb.robotState = 4;
        mpb.tcpSpeed = 60;
        kxmcForceSensorDragProcess();
        EXPECT_EQ(mpb.robotState, r.state) << r.pose[3];
    }
    EXPECT_TRUE(
        kxsim::log_contains("kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 7", 2));
}

// Turning joint 4 or 6 toward its limit (the last 10 degrees) adds damping (5000 N s/m,
// 150 N m s/rad); turning away does not.
TEST_F(Guiding, JointLimitBandsDampTheApproach) {
    struct Case { int joint; double q, sign, extra_rot; };
    for (const Case &c : {Case{5, 168, 1, 150}, Case{5, 168, -1, 0}, Case{5, -168, -1, 150},
                          Case{3, 74, 1, 150}, Case{3, -254, -1, 150}, Case{3, -254, 1, 0}}) {
        restart(101);
        configure();
        mcb.forceSensorRefCoord = 1;
        double joints[6] = {0, -90, 90, -90, -90, 0};
        joints[c.joint] = c.q;
        move_to({joints[0], joints[1], joints[2], joints[3], joints[4], joints[5]});
        const KDL::Vector axis =
            c.sign * 2.0 * joint_axis(c.joint);  // [N m] about the joint's axis
        const double w[6] = {10, 0, 0, axis.x(), axis.y(), axis.z()}, b_rot = 10 + c.extra_rot,
                     b_lin = 200 + 5000 * c.extra_rot / 150;
        const KDL::Twist t = run(w, 400, 100);
        EXPECT_NEAR(dot(t.rot, axis) / 4.0 * b_rot, 1, 0.1) << c.joint << " " << c.q;
        EXPECT_NEAR(t.vel.x() * b_lin / 10, 1, 0.1) << c.joint << " " << c.q;
    }
}

}  // namespace
