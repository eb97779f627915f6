// Pieces of the guiding step on their own: the per-axis admittance, the increment filter, the
// joint-speed and singular-pose check, and the manipulability measures behind the constrained
// admittance, checked against KDL's Jacobian.
#include <gtest/gtest.h>
#include <kdl/chainfksolverpos_recursive.hpp>

#include "guiding_fixture.hpp"

namespace {

using namespace sensor_test;
using Parts = GuidingFixture;

TEST_F(Parts, AdmittanceAxisLawAndSpeedLimits) {
    struct Case { int axis; double M, B, K, F, x, v0, want; };
    const double nan = std::nan("");
    // Spring on degrees (row 2), heavy damping shrinks the limit by (1/2)^2 (rows 3, 5), a
    // parameter that is not a number holds the axis still (last row).
    std::vector<Case> cases = {{0, 10, 200, 0, 20, 0, 0.01, 0.01 + (20 - 200 * 0.01) / 10 * 0.001},
                               {4, 0.5, 10, 2, 0, 30, 0, -(kPi / 180) * 2 * 30 / 0.5 * 0.001},
                               {2, 10, 20000, 0, 1e7, 0, 0, 0.2 * 0.25},
                               {1, 10, 200, 0, -1e7, 0, 0, -0.2},
                               {5, 0.5, 100, 0, 1e6, 0, 0, 0.349 * 0.25},
                               {3, 0.5, 10, 0, 1e6, 0, 0, 0.349},
                               {0, nan, 200, 0, 20, 0, 0.05, 0.0}};
    for (int axis = 0; axis < 6; ++axis)
        cases.push_back(
            {axis, 2, 10, 3, 0, 30, 0, -(axis < 3 ? 0.001 : kPi / 180) * 3 * 30 / 2 * 0.001});
    for (const Case &c : cases) {
        double M[6], B[6], K[6], F[6], x[6], v[6], dx[6];
        for (int i = 0; i < 6; ++i) {
            M[i] = c.M;
            B[i] = c.B;
            K[i] = c.K;
            F[i] = c.F;
            x[i] = c.x;
            v[i] = c.v0;
            dx[i] = 7;
        }
        EXPECT_EQ(kxmcAdmittanceControl(c.axis, M, B, K, F, 0.001, x, v, dx), 0);
        EXPECT_NEAR(v[c.axis], c.want, 1e-12) << c.axis << " " << c.B;
        EXPECT_NEAR(dx[c.axis], 0.001 * c.want, 1e-15);
        EXPECT_EQ(dx[(c.axis + 1) % 6], 7);
    }
    double a[6] = {};
    EXPECT_EQ(kxmcAdmittanceControl(6, a, a, a, a, 0.001, a, a, a), -1);
}

TEST_F(Parts, IncrementFilterStartsAtItsFirstSampleAndSettlesOnTheInput) {
    for (int type : {0, 1, 2, 3}) {
        // Whatever lies before the record (here: not numbers) never enters the output.
        struct {
            double guard[4];
            ButterWorthFilter f;
        } held;
        std::fill(held.guard, held.guard + 4, std::nan(""));
        ButterWorthFilter &f = held.f;
        EXPECT_EQ(kxmcButterWorthFiltInit(&f, type), type < 3 ? 0 : -1);
        EXPECT_EQ(kxmcButterWorthFiltProcessData(&f, 1.0, nullptr, 0), -1);
        f.count = type == 1 ? -3 : f.count;  // a damaged count restarts the record
        double first = 0, out = 0, raw = 0;
        kxmcButterWorthFiltProcessData(&f, 2.5, &first, 0);
        for (int i = 0; i < 20000; ++i) kxmcButterWorthFiltProcessData(&f, 2.5, &out, 0);
        EXPECT_EQ(first, 2.5) << type;  // a constant passes unchanged
        EXPECT_NEAR(out, 2.5, 1e-12) << type;
        for (int i = 0; i < 20000; ++i) kxmcButterWorthFiltProcessData(&f, 4.5, &raw, i % 2);
        kxmcButterWorthFiltProcessData(&f, 4.5, &out, 0);
        kxmcButterWorthFiltProcessData(&f, 4.5, &raw, 1);
        // Unit gain at rest: a step settles on the new input (the unbiased output on the step).
        EXPECT_NEAR(out, type < 3 ? 4.5 : 2.5, 1e-6) << type;
        EXPECT_NEAR(raw, type < 3 ? 2.0 : 0.0, 1e-6) << type;
    }
}

// Wall damping of a tool at p [mm] moving with v [m/s] (base frame) near the box -300..-100 on X,
// 0..200 on Y and Z: (100.001 / (dist + 0.001) - 1) x 800 for X, Y, Z and x 80 for the rotations,
// capped at 15000 and 1000, while moving toward it within 100 mm; dist < 0: no damping.
TEST_F(Parts, VirtualWallDampingByDistanceAndMotion) {
    mcb.forceSensorRefCoord = 1;
    mcb.wallOn = 1;
    struct Case { uint8_t shape, def; double p[3], v[3], dist; };
    const Case cases[] = {
        {0, 0, {-350, 100, 100}, {1, 0, 0}, 50},     {0, 1, {-350, 100, 100}, {-1, 0, 0}, -1},
        {0, 0, {-350, 100, 100}, {0, 0, 0}, 50},     {0, 0, {-50, 100, 100}, {-1, 0.5, 0}, 50},
        {0, 1, {-200, 100, 299}, {0, 0, -1}, 99},    {0, 0, {-200, 100, 300.5}, {0, 0, -1}, -1},
        {0, 0, {-330, -40, 100}, {1, 1, 0}, 50},     {0, 1, {-200, 100, 100}, {0, 0, 1}, 0},
        {0, 0, {-200, -101, 100}, {0, 1, 0}, -1},    {1, 0, {-200, 100, 100}, {1, 0, 0}, -1},
        {1, 1, {-270, 100, 100}, {-1, 0, 0}, 30},    {1, 0, {-270, 100, 100}, {1, 0, 0}, -1},
        {1, 0, {-130, 100, 100}, {1, 0, 0}, 30},     {1, 1, {-310, 100, 100}, {-1, 0, 0}, 0},
        {1, 0, {-310, 100, 100}, {1, 0, 0}, -1},     {1, 0, {-280, 20, 100}, {-1, -1, 0}, 0},
        {1, 0, {-200, 195, 100}, {0, 1, 0}, 5},      {2, 0, {-200, 100, 100}, {1, 0, 0}, -1},
        {1, 0, {-90, 100, 100}, {1, 0, 0}, 0},       {1, 0, {-90, 100, 100}, {-1, 0, 0}, -1},
        {1, 0, {-200, 100, 100.5}, {0, 0, 1}, 99.5},
    };
    for (const Case &c : cases) {
        mcb.wallShape = c.shape;
        mcb.wallDefMode = c.def;
        const double corners[6] = {-100, 0, 200, -300, 200, 0}, centre[3] = {-200, 100, 100},
                     size[3] = {-200, 200, 200};
        std::copy(corners, corners + 6, mcb.wallCorners);
        std::copy(centre, centre + 3, mcb.wallCentre);
        std::copy(size, size + 3, mcb.wallSize);
        mpb.cartPoseActual = trsf(KDL::Frame(KDL::Vector(c.p[0], c.p[1], c.p[2]) / 1000.0));
        float v[6] = {float(c.v[0]), float(c.v[1]), float(c.v[2]), 0, 0, 0}, bw[6];
        EXPECT_EQ(kxmcForceSensorVirtualWall(v, bw), 0);
        for (int i = 0; i < 6; ++i) {
            const double law = (100.001 / (c.dist + 0.001) - 1) * (i < 3 ? 800 : 80),
                         cap = i < 3 ? 15000 : 1000;
            EXPECT_NEAR(bw[i], c.dist < 0 ? 0 : std::min(law, cap), 1e-5 * cap)
                << int(c.shape) << " " << c.p[0] << "," << c.p[1] << "," << c.p[2] << " axis " << i;
        }
    }
    // The velocity comes back in base axes: the flange frame turns with the flange, the tool
    // frame with flange and tool, the base frame not at all.
    const KDL::Frame flange(KDL::Rotation::RPY(0.3, -0.2, 1.1)),
        tool(KDL::Rotation::RPY(kPi / 2, 0, 0));
    mpb.cartPoseActual = trsf(flange);
    mpb.toolTrsf = trsf(tool);
    mcb.wallOn = 0;
    for (uint8_t ref : {0, 1, 2}) {
        float v[6] = {0.1f, -0.2f, 0.3f, 9, 9, 9}, bw[6];
        mcb.forceSensorRefCoord = ref;
        kxmcForceSensorVirtualWall(v, bw);
        const KDL::Vector want = (ref == 0   ? flange.M
                                  : ref == 1 ? KDL::Rotation::Identity()
                                             : flange.M * tool.M) *
                                 KDL::Vector(0.1, -0.2, 0.3);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[i], want(i), 1e-6) << int(ref);
        EXPECT_EQ(v[3] + bw[0], 9);
    }
}

// Interference zones: entering (mode 0, strictly inside) or leaving (mode 1) sets the joint's
// flag and hands over once; the idle path releases a joint one degree clear of its condition
// while the TCP is slower than 100 mm/s.
TEST_F(Parts, InterferenceZoneBoundariesAndRelease) {
    struct Case { uint8_t mode, drag_mode; double q, release_at; bool set; };
    const Case cases[] = {{0, 1, 10, 0, false},      {0, 1, 10.01, 8.9, true},
                          {0, 0, 15, 0, false},      {1, 1, 20, 0, false},
                          {1, 1, 10, 0, false},      {1, 1, 9.99, 11.1, true},
                          {1, 1, 20.01, 18.9, true}, {2, 1, 25, 0, false}};
    for (const Case &c : cases) {
        restart(101);
        configure();
        mcb.interfereOn = 1;
        mcb.interfereJointOn[2] = 1;
        mcb.interfereLower[2] = 10;
        mcb.interfereUpper[2] = 20;
        mcb.interfereZoneMode = c.mode;
        mcb.interfereDragMode = c.drag_mode;
        mpb.jointPos[2] = c.q;
        float v[6] = {}, bw[6];
        kxmcForceSensorVirtualWall(v, bw);
        EXPECT_EQ(jointInterFlag[2], c.set ? 1 : 0) << int(c.mode) << " " << c.q;
        EXPECT_EQ(kxsim::calls("qmcDragSwitch").size(), c.set ? 1u : 0u)
            << int(c.mode) << " " << c.q;
        EXPECT_EQ(kxsim::log_contains(
                      "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 8", 2),
                  c.set);
        if (!c.set) continue;
        // Just short of the margin, then at it with the TCP too fast, then slow.
        const double short_of = c.release_at + (c.release_at < c.q ? 0.2 : -0.2);
        for (auto step : {std::make_pair(short_of, 10.0), std::make_pair(c.release_at, 120.0),
                          std::make_pair(c.release_at, 10.0)}) {
            EXPECT_EQ(jointInterFlag[2], 1) << step.first << " " << step.second;
            mpb.jointPos[2] = step.first;
            mpb.tcpSpeed = step.second;
            kxmcForceSensorDragProcess();
        }
        // on, then off once released (and guiding may go on)
        EXPECT_EQ(jointInterFlag[2], 0);
        EXPECT_EQ(kxsim::calls("qmcDragSwitch").size(), 2u);
        EXPECT_EQ(mpb.robotState, 1);
        EXPECT_TRUE(kxsim::log_contains(
            "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : 6", 2));
    }
}

// Joint-speed check of a goal one cycle away from the commanded joints. The shoulder
// singularity (wrist centre on the cylinder around joint 1 where joints 1 and 4 couple) is found
// where KDL's Jacobian determinant changes sign, with the flange tilted.
TEST_F(Parts, JointSpeedCheckRefusesFastJointsAndSingularPoses) {
    mcb.endDragVMax = 20;
    double shoulder[6] = {30, 0, 70, 10, 60, -40};
    const double q2 = shoulder_singular_q2(arm_chain(), shoulder);
    struct Case { double q[6]; int joint; double move; int32_t want; };
    const Case cases[] = {
        {{30, q2, 70, 10, 60, -40}, 0, 0, -7},        {{30, q2 + 8, 70, 10, 60, -40}, 0, 0, 0},
        {{0, -90, 90, -90, -90, 0}, 2, 0.0199, 0},    {{0, -90, 90, -90, -90, 0}, 2, 0.021, -3},
        {{10, -80, 70, -100, -60, 30}, 5, -0.03, -6}, {{0, -90, 90, -90, 5, 0}, 0, 0, -7},
        {{0, -90, 5, -90, -90, 0}, 0, 0, -7},         {{0, -90, 90, -90, -175, 0}, 0, 0, -7},
        {{0, -20, -161, -90, -90, 0}, 0, 0, -7},      {{0, -20, -159, -90, -90, 0}, 0, 0, 0}};
    for (const Case &c : cases) {
        double goal_joints[6];
        std::copy(c.q, c.q + 6, mpb.targetJointPos);
        std::copy(c.q, c.q + 6, goal_joints);
        goal_joints[c.joint] += c.move;
        kxsim::ideal_position_loop_step();
        kxsim::clear_log();
        EXPECT_EQ(
            kxmcIsOverJntvel(trsf(kdl(kxsim::flange_transform(goal_joints)) * kdl(mpb.toolTrsf))),
            c.want)
            << c.joint;
        EXPECT_EQ(
            !kxsim::log_lines().empty() &&
                kxsim::log_lines()[0].text.rfind("dv[" + std::to_string(c.joint) + "] = :", 0) == 0,
            c.want < 0 && c.want > -7);
    }
    Trsf far = mpb.flangePose;
    far.pos.v[0] += 5000;  // out of reach
    EXPECT_EQ(kxmcIsOverJntvel(far), -7);
    // A refused guiding step hands back the pose it was given.
    Trsf out{}, idle{};
    EXPECT_EQ(kxmcEndForceDragToCart(far, &out), -7);
    EXPECT_EQ(std::memcmp(&out, &far, sizeof out), 0);
    mcb.endForceDragOn = 0;  // outside guiding the pose passes through
    EXPECT_EQ(kxmcEndForceDragToCart(far, &idle), 0);
    EXPECT_EQ(std::memcmp(&idle, &far, sizeof idle), 0);
}

// The constrained admittance works on each family's arm: its Jacobian is singular exactly at
// that arm's shoulder singularity.
TEST_F(Parts, ConstraintWrenchUsesTheArmOfTheModelCode) {
    struct Family { uint32_t code; double l[6]; };
    const Family families[] = {
        {50, {152, -280, -240, 102, 102, 100}},   {150, {152, -425, -395, 102, 102, 100}},
        {250, {180, -700, -586, 159, 114, 106}},  {350, {180, -520, -400, 159, 114, 106}},
        {450, {215, -1000, -716, 166, 138, 120}}, {1050, {215, -700, -536, 166, 138, 120}},
        {750, {152, -425, -395, 102, 102, 100}}};
    for (const Family &f : families) {
        mcb.robotModelCode = f.code;
        double joints[6] = {30, 0, 70, 10, 60, -40}, fc[6];
        shoulder_singular_q2(arm_chain(f.l), joints);
        std::copy(joints, joints + 6, mpb.targetJointPos);
        const int32_t at_singularity = kxmcConstraintsAdmittance(fc);
        mpb.targetJointPos[1] += 5;
        EXPECT_EQ(at_singularity, -1) << f.code;
        EXPECT_EQ(kxmcConstraintsAdmittance(fc), 0) << f.code;
    }
}

// For J = [T; R] (translation rows T, rotation rows R): det(J)^2 = det(R R^T) det(T (I-P) T^T),
// so each measure is |det J| / sqrt(det of the other block's Gram matrix).
struct Measures { double trans, rot, det; Eigen::Matrix<double, 6, 6> J; };
Measures oracle(const double q_deg[6],
                const Eigen::Matrix<double, 6, 1> &dq = Eigen::Matrix<double, 6, 1>::Zero()) {
    const KDL::Chain chain = arm_chain();
    KDL::JntArray q(6);
    KDL::Jacobian J(6);
    for (int j = 0; j < 6; ++j) q(j) = q_deg[j] * kPi / 180 + dq(j);
    KDL::ChainJntToJacSolver(chain).JntToJac(q, J);
    const auto T = J.data.topRows(3), R = J.data.bottomRows(3);
    const double det = std::fabs(J.data.determinant());
    return {det / std::sqrt((R * R.transpose()).determinant()),
            det / std::sqrt((T * T.transpose()).determinant()), det, J.data};
}

TEST_F(Parts, ManipulabilityMeasuresAndTheConstraintWrench) {
    const double poses[][6] = {
        {0, -90, 90, -90, -40, 0}, {20, -60, 35, -120, -15, 70}, {0, -90, 90, -90, 0, 0}};
    for (const auto &pose : poses) {
        const Measures m = oracle(pose);
        double rows[36];
        Eigen::Map<Eigen::Matrix<double, 6, 6, Eigen::RowMajor>>{rows} = m.J;
        EXPECT_NEAR(kxmcInputJJOutTrans(rows), m.trans, 1e-7);
        EXPECT_NEAR(kxmcInputJJOutROT(rows), m.rot, 1e-7);
        std::copy(pose, pose + 6, mpb.targetJointPos);
        kxsim::ideal_position_loop_step();
        kxsim::clear_log();
        double fc[6] = {9, 9, 9, 9, 9, 9};
        ASSERT_EQ(kxmcConstraintsAdmittance(fc), m.det > 1e-6 ? 0 : -1);
        if (m.det <= 1e-6) {  // singular: diagnostics, nothing written
            EXPECT_EQ(fc[0], 9);
            EXPECT_EQ(kxsim::log_lines().size(), 7u);
            EXPECT_EQ(kxsim::log_lines().at(1).text.rfind("JJ1: = ", 0), 0u);
            continue;
        }
        // A small motion along the constraint force (moment) raises the translational
        // (rotational) measure: the wrench pushes away from the singularities.
        const KDL::Rotation flange = kdl(mpb.flangePose).M;
        const KDL::Vector f = flange * KDL::Vector(fc[0], fc[1], fc[2]),
                          t = flange * KDL::Vector(fc[3], fc[4], fc[5]);
        Eigen::Matrix<double, 6, 1> push, turn;
        push << f.x(), f.y(), f.z(), 0, 0, 0;
        turn << 0, 0, 0, t.x(), t.y(), t.z();
        EXPECT_GT(oracle(pose, m.J.inverse() * (1e-6 * push / f.Norm())).trans, m.trans);
        EXPECT_GT(oracle(pose, m.J.inverse() * (1e-6 * turn / t.Norm())).rot, m.rot);
        for (int i = 0; i < 6; ++i) EXPECT_LE(std::fabs(fc[i]), i < 3 ? 100.0 : 6.0);
        if (pose[4] != -40) continue;
        // Where nothing is limited: 5 x potential x the measure's change over +-1 mm (+-1 mrad)
        // of the flange, potential G (1/(m - lower) - 1/(upper - lower)) with the 5-kg arm's band
        // (G 1500, 0.005 .. 0.05) and the rotational one (0.1 .. 0.5).
        for (int k = 0; k < 6; ++k) {
            const Eigen::Matrix<double, 6, 1> step = m.J.inverse().col(k) * 1e-3;
            const Measures plus = oracle(pose, step), minus = oracle(pose, -step);
            const double change = k < 3 ? plus.trans - minus.trans : plus.rot - minus.rot;
            (k < 3 ? push : turn)(k) =
                5 * 1500 * (k < 3 ? 1 / (m.trans - 0.005) - 1 / 0.045 : 1 / (m.rot - 0.1) - 2.5) *
                change;
        }
        const KDL::Vector f_want = flange.Inverse(KDL::Vector(push(0), push(1), push(2))),
                          t_want = flange.Inverse(KDL::Vector(turn(3), turn(4), turn(5)));
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(fc[i], f_want(i), 1e-3) << i;
            EXPECT_NEAR(fc[3 + i], t_want(i), 1e-4) << i;
        }
    }
}

// The contact model against its equations written again with Eigen (hybrid extended Kalman
// filter, c = 5e-6, k = 200000, dt = 1 ms), step by step, fed the same noise by seeding the
// system's generator alike before each step.
TEST_F(Parts, ContactModelFollowsItsEquations) {
    using V3 = Eigen::Vector3d;
    using M3 = Eigen::Matrix3d;
    const double q[3] = {0.002, 100, 10}, r[2] = {0.002, 1.0}, c = 5e-6, k = 200000, dt = 0.001;
    V3 x(0.002, 500, 0);
    M3 P = V3(0.01, 100, 10).asDiagonal();
    const M3 GQG = V3(c * c * q[0], q[1], q[2]).asDiagonal();
    const Eigen::Matrix2d R = Eigen::Vector2d(r[0], r[1]).asDiagonal();
    const auto H = [&](const V3 &s) {
        return (Eigen::Matrix<double, 2, 3>() << -s(1) / k, -s(0) / k, -c, 0, 0, 1).finished();
    };
    for (int i = 0; i < 1500;
         ++i) {  // pressing, then moving (the deflection state reaches its bound)
        const Eigen::Vector2d z(i < 300 ? 1e-3 * std::sin(0.05 * i) : 0.05,
                                -10 + 0.02 * std::min(i, 300));
        double out[3], u[5];
        std::srand(100 + i);
        ASSERT_EQ(kxmcKalmanEnvironmenModelEvaluate(q, r, z.data(), out), 0);
        std::srand(100 + i);
        for (double &v : u) v = 2.0 * std::rand() / RAND_MAX - 1;
        const V3 xh(x(0) + dt * c * (-x(2) - x(1) * x(0) + std::sqrt(q[0]) * u[0]),
                    x(1) + dt * std::sqrt(q[1]) * u[1], x(2) + dt * std::sqrt(q[2]) * u[2]);
        M3 F = M3::Zero();
        F.row(0) = H(x).row(0);
        const M3 Ph = P + dt * (F * P + P * F.transpose() + GQG -
                                P * H(x).transpose() * R.inverse() * H(x) * P);
        const Eigen::Matrix<double, 3, 2> K =
            Ph * H(xh).transpose() * (H(xh) * Ph * H(xh).transpose() + R).inverse();
        const Eigen::Vector2d h((-xh(2) - xh(1) * xh(0)) * c + std::sqrt(r[0]) * u[3],
                                xh(2) + std::sqrt(r[1]) * u[4]);
        x = xh + K * (z - h);
        P = (M3::Identity() - K * H(xh)) * Ph;
        for (int j = 0; j < 3; ++j)
            ASSERT_NEAR(out[j], x(j), 1e-9 * (1 + std::fabs(x(j)))) << i << " " << j;
        x(0) = std::max(-0.5, std::min(0.5, x(0)));
        x(1) = x(1) < 0.5 ? 0 : x(1);
    }
    // Noise settings or measurements that are not numbers teach nothing: the stored state comes
    // back.
    double held[3], again[3];
    const double bad[3] = {0.002, std::nan(""), 10}, z[2] = {0, 0}, bad_z[2] = {std::nan(""), 0};
    EXPECT_EQ(kxmcKalmanEnvironmenModelEvaluate(bad, r, z, held), 0);
    EXPECT_EQ(held[0], x(0));
    EXPECT_EQ(held[1], x(1));
    EXPECT_EQ(held[2], x(2));
    EXPECT_EQ(kxmcKalmanEnvironmenModelEvaluate(q, r, bad_z, again), 0);
    EXPECT_EQ(again[0], -0.5);
    EXPECT_EQ(again[2], x(2));
}

TEST_F(Parts, ThreeByThreeInverse) {
    const double m[9] = {2, -1, 0.5, 0.3, 4, -2, 1, 0.2, 3},
                 singular[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
    double inv[9], d = 0, d_inv = 0, out[9] = {5};
    ASSERT_EQ(inverseMatrix3(m, inv), 0);
    ASSERT_EQ(det3(m, nullptr), -1);
    ASSERT_EQ(det3(nullptr, &d), -1);
    ASSERT_EQ(inverseMatrix3(m, nullptr), -1);
    det3(m, &d);
    det3(inv, &d_inv);
    EXPECT_NEAR(d * d_inv, 1.0, 1e-12);
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(m[3 * (k / 3)] * inv[k % 3] + m[3 * (k / 3) + 1] * inv[3 + k % 3] +
                        m[3 * (k / 3) + 2] * inv[6 + k % 3],
                    k % 4 == 0, 1e-12);
    EXPECT_EQ(inverseMatrix3(singular, out), -1);
    EXPECT_EQ(out[0], 5);
    EXPECT_TRUE(kxsim::log_contains("Matrix is not invertible.\n", 2));
}

}  // namespace
