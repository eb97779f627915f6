// Kinematics library of the simulated host: frames against an independent implementation
// (Orocos KDL where installed), roll-pitch-yaw round trips and continuity, forward against
// inverse kinematics of every arm geometry.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "host_fixture.hpp"

#ifdef KXMC_HAVE_KDL
#include <Eigen/SVD>
#include <kdl/chain.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <kdl/frames.hpp>
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

Trsf rpy(double first, double second, double third) {
    Trsf t;
    rpyToTrsf(&t, third, second, first);
    return t;
}

double rot_distance(const Trsf &a, const Trsf &b) {
    double d = 0.0;
    for (int i = 0; i < 9; ++i) {
        d = std::fmax(d, std::fabs(a.rot.r[i] - b.rot.r[i]));
    }
    return d;
}

double pos_distance(const Trsf &a, const Trsf &b) {
    return std::sqrt(std::pow(a.pos.v[0] - b.pos.v[0], 2) + std::pow(a.pos.v[1] - b.pos.v[1], 2) +
                     std::pow(a.pos.v[2] - b.pos.v[2], 2));
}

// Angle [rad] of the rotation between two frames.
double rot_angle(const Trsf &a, const Trsf &b) {
    double tr = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            tr += a.rot.r[3 * k + i] * b.rot.r[3 * k + i];
        }
    }
    // acos is ill-conditioned near 0: use the skew part as well.
    double s = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            double m = 0.0;
            for (int j = 0; j < 3; ++j) {
                m += a.rot.r[3 * j + i] * b.rot.r[3 * j + k];
            }
            double mt = 0.0;
            for (int j = 0; j < 3; ++j) {
                mt += a.rot.r[3 * j + k] * b.rot.r[3 * j + i];
            }
            s += 0.25 * (m - mt) * (m - mt);
        }
    }
    return std::atan2(std::sqrt(0.5 * s), 0.5 * (tr - 1.0));
}

// ---- Frames ---------------------------------------------------------------------------------

TEST(Frames, RollPitchYawRoundTripAtRandomAngles) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> any(-180.0, 180.0), pitch(-89.5, 89.5);
    for (int n = 0; n < 20000; ++n) {
        const double a = any(rng), b = pitch(rng), c = any(rng);
        const Trsf t = rpy(a, b, c);
        double third, second, first;
        ASSERT_EQ(trsfToRpy(&third, &second, &first, &t), 0);
        ASSERT_NEAR(first, a, 1e-9) << n;
        ASSERT_NEAR(second, b, 1e-9) << n;
        ASSERT_NEAR(third, c, 1e-9) << n;
        EXPECT_NEAR(detRotrsf(&t.rot), 1.0, 1e-14);
    }
}

TEST(Frames, RollPitchYawAtGimbalLockStillRebuildsTheRotation) {
    for (double b : {90.0, -90.0}) {
        const Trsf t = rpy(30.0, b, -70.0);
        double third, second, first;
        trsfToRpy(&third, &second, &first, &t);
        EXPECT_NEAR(second, b, 1e-6);
        EXPECT_LT(rot_distance(rpy(first, second, third), t), 1e-12);
    }
}

#ifdef KXMC_HAVE_KDL
TEST(Frames, RotationsAndLinkTransformsAgreeWithKdl) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> ang(-kPi, kPi), len(-500.0, 500.0);
    for (int n = 0; n < 500; ++n) {
        const double a = ang(rng), b = 0.99 * ang(rng) / 2, c = ang(rng);
        const KDL::Rotation k = KDL::Rotation::RPY(a, b, c);  // Rz(c) Ry(b) Rx(a)
        const Trsf t = rpy(a / kDeg, b / kDeg, c / kDeg);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                ASSERT_NEAR(t.rot.r[3 * i + j], k(i, j), 1e-14);
            }
        }
        // Quaternion and rotation vector.
        Qtrn q;
        trsfToQtrn(&q, &t);
        double x, y, z, w;
        k.GetQuaternion(x, y, z, w);
        const double s = w < 0.0 ? -1.0 : 1.0;
        EXPECT_NEAR(q.q[0], s * w, 1e-12);
        EXPECT_NEAR(q.q[1], s * x, 1e-12);
        EXPECT_NEAR(q.q[2], s * y, 1e-12);
        EXPECT_NEAR(q.q[3], s * z, 1e-12);
        Vect d;
        qtrnToDspl(&d, &q);
        const KDL::Vector rv = k.GetRot();
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(d.v[i], rv(i), 1e-9);
        }
        // Standard Denavit-Hartenberg link.
        const double la = len(rng), ld = len(rng), alpha = ang(rng), theta = ang(rng);
        Trsf dh;
        dhClassic(&dh, la, alpha, ld, theta);
        const KDL::Frame f = KDL::Frame::DH(la, alpha, ld, theta);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(dh.pos.v[i], f.p(i), 1e-12);
            for (int j = 0; j < 3; ++j) {
                EXPECT_NEAR(dh.rot.r[3 * i + j], f.M(i, j), 1e-15);
            }
        }
    }
}
#endif

TEST(Frames, InverseAndCompositionAreConsistent) {
    Trsf a = rpy(10, 20, 30), b = rpy(-40, 5, 170);
    a.pos.v[0] = 100;
    a.pos.v[1] = -20;
    a.pos.v[2] = 5;
    b.pos.v[0] = -3;
    b.pos.v[1] = 44;
    b.pos.v[2] = 900;
    Trsf ai, ab, back;
    invertTrsf(&ai, &a);
    multTrsf(&ab, &a, &b);
    multTrsf(&back, &ai, &ab);
    EXPECT_LT(rot_distance(back, b), 1e-14);
    EXPECT_LT(pos_distance(back, b), 1e-12);
    // Aliased output.
    Trsf c = a;
    multTrsf(&c, &c, &b);
    EXPECT_LT(rot_distance(c, ab), 1e-15);
    EXPECT_LT(pos_distance(c, ab), 1e-12);
    // General 3x3 inverse; a singular matrix is refused.
    Rotrsf m{{2, 1, 0, 0, 3, 1, 1, 0, 4}}, mi, prod;
    ASSERT_EQ(invRotrsf(&mi, &m), 0);
    multRotrsf(&prod, &m, &mi);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(prod.r[i], (i % 4 == 0) ? 1.0 : 0.0, 1e-15);
    }
    EXPECT_DOUBLE_EQ(detRotrsf(&m), 25.0);
    Rotrsf singular{{1, 2, 3, 2, 4, 6, 0, 1, 1}};
    EXPECT_EQ(invRotrsf(&mi, &singular), -1);
}

TEST(Frames, QuaternionOfAHalfTurnAndDisplacementOfSmallRotations) {
    // Half turn about (1, 1, 0)/sqrt2: the trace is -1, the branch that needs Shepperd's care.
    Trsf t{};
    const double r[9] = {0, 1, 0, 1, 0, 0, 0, 0, -1};
    for (int i = 0; i < 9; ++i) {
        t.rot.r[i] = r[i];
    }
    Qtrn q;
    trsfToQtrn(&q, &t);
    EXPECT_NEAR(q.q[0], 0.0, 1e-15);
    EXPECT_NEAR(std::fabs(q.q[1]), std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(q.q[1], q.q[2], 1e-15);
    Vect d;
    qtrnToDspl(&d, &q);
    EXPECT_NEAR(std::sqrt(d.v[0] * d.v[0] + d.v[1] * d.v[1] + d.v[2] * d.v[2]), kPi, 1e-12);
    // A rotation of 1e-9 rad about Z gives exactly that rotation vector.
    const Trsf small = rpy(0, 0, 1e-9 / kDeg);
    trsfToQtrn(&q, &small);
    qtrnToDspl(&d, &q);
    EXPECT_NEAR(d.v[2], 1e-9, 1e-22);
    // unitQtrn normalises; a zero quaternion becomes the identity.
    Qtrn raw{{2, 0, 0, 0}}, u;
    EXPECT_EQ(unitQtrn(&u, &raw), 0);
    EXPECT_EQ(u.q[0], 1.0);
    Qtrn zero{{0, 0, 0, 0}};
    EXPECT_EQ(unitQtrn(&u, &zero), -1);
    EXPECT_EQ(u.q[0], 1.0);
}

struct RtCase {
    double angles[3];  // first, second, third of the rotation [deg]
    double ref[3];     // reference first, second, third [deg]
    double expect[3];  // chosen set
};

TEST(Frames, ContinuousAnglesPickTheSetNearestTheReference) {
    const RtCase cases[] = {
        // Plain: the principal set is nearest.
        {{10, 20, 30}, {12, 18, 33}, {10, 20, 30}},
        // Whole-turn wraps follow a reference beyond +-180.
        {{-10, 20, 30}, {350, 20, 30}, {350, 20, 30}},
        {{170, 0, -170}, {-175, 0, 185}, {-190, 0, 190}},
        {{0, 0, 0}, {721, -1, 359}, {720, 0, 360}},
        // Pitch beyond 90: the equivalent set (a + 180, 180 - b, c + 180) is nearer.
        {{-170, 80, -170}, {5, 105, 5}, {10, 100, 10}},
    };
    for (const RtCase &c : cases) {
        const Trsf t = rpy(c.angles[0], c.angles[1], c.angles[2]);
        double third, second, first;
        ASSERT_EQ(trsfToRpyRt(&third, &second, &first, &t, c.ref), 0);
        EXPECT_NEAR(first, c.expect[0], 1e-9) << c.ref[0];
        EXPECT_NEAR(second, c.expect[1], 1e-9) << c.ref[1];
        EXPECT_NEAR(third, c.expect[2], 1e-9) << c.ref[2];
        EXPECT_LT(rot_distance(rpy(first, second, third), t), 1e-12);
    }
}

// ---- Arm kinematics ---------------------------------------------------------------------

struct ArmCase {
    uint32_t model;
    const char *name;
};

void PrintTo(const ArmCase &c, std::ostream *os) { *os << "model " << c.model; }

const ArmCase kStandardArms[] = {
    {0, "default"}, {1, "kg3"},   {201, "kg10_201"}, {250, "kg10"},  {301, "kg16_301"},
    {350, "kg16"},  {450, "fifth"}, {702, "code702"}, {902, "PX"},   {903, "code903"},
    {1050, "code1001"},
};

class StandardArm : public kxsim_test::HostFixture, public ::testing::WithParamInterface<ArmCase> {
protected:
    uint32_t model_code() const override { return GetParam().model; }
};

// Forward then inverse over 10 000 random joint vectors away from the three singular
// configurations (elbow stretched, wrist aligned, wrist centre over the base axis).
TEST_P(StandardArm, InverseOfForwardReturnsThePoseAndTheOriginalJoints) {
    const kxsim::ArmGeometry g = kxsim::arm_geometry(GetParam().model);
    const double d4 = g.d[3] * 1000.0, d6 = g.d[5] * 1000.0;
    std::mt19937_64 rng(1000 + GetParam().model);
    std::uniform_real_distribution<double> joint(-180.0, 180.0), wide(-340.0, 340.0);
    int tested = 0;
    for (int n = 0; tested < 10000; ++n) {
        double q[6];
        for (int i = 0; i < 6; ++i) {
            q[i] = (n % 4 == 0) ? wide(rng) : joint(rng);
        }
        const Trsf f = kxsim::flange_transform(q);
        const double wx = f.pos.v[0] - d6 * f.rot.r[2], wy = f.pos.v[1] - d6 * f.rot.r[5];
        if (std::fabs(std::sin(q[2] * kDeg)) < 0.1 || std::fabs(std::sin(q[4] * kDeg)) < 0.1 ||
            std::hypot(wx, wy) - std::fabs(d4) < 20.0) {
            continue;
        }
        ++tested;
        SCOPED_TRACE(::testing::Message() << "sample " << n << " q = " << q[0] << ", " << q[1]
                                          << ", " << q[2] << ", " << q[3] << ", " << q[4] << ", "
                                          << q[5]);
        // Every closed-form solution reaches the pose.
        const auto all = kxsim::inverse_kinematics_all(f);
        ASSERT_GE(all.size(), 1u);
        ASSERT_LE(all.size(), 8u);
        for (const auto &s : all) {
            const Trsf fs = kxsim::flange_transform(s.data());
            ASSERT_LT(pos_distance(fs, f), 1e-6);
            ASSERT_LT(rot_angle(fs, f), 1e-9);
        }
        // With the original joints as reference, the host's inverse returns them.
        double pose[6];
        pose[0] = f.pos.v[0];
        pose[1] = f.pos.v[1];
        pose[2] = f.pos.v[2];
        trsfToRpy(&pose[5], &pose[4], &pose[3], &f);
        double joints[6] = {q[0], q[1], q[2], q[3], q[4], q[5]};
        ASSERT_GE(qmcGetInverseKinematicNoLine(0, pose[0], pose[1], pose[2], pose[3], pose[4],
                                               pose[5], -1, joints),
                  0);
        for (int i = 0; i < 6; ++i) {
            ASSERT_NEAR(joints[i], q[i], 1e-9 / kDeg) << "joint " << i + 1;
        }
    }
}

TEST_P(StandardArm, EightSolutionsAtAGenericPoseAndTheNearestIsChosen) {
    const double q[6] = {30, -120, 80, -60, 70, 10};
    const Trsf f = kxsim::flange_transform(q);
    const auto all = kxsim::inverse_kinematics_all(f);
    ASSERT_EQ(all.size(), 8u);
    // A reference near another solution selects that one.
    for (const auto &s : all) {
        double joints[6];
        for (int i = 0; i < 6; ++i) {
            joints[i] = s[i] + 3.0;
        }
        double pose[6];
        trsfToRpy(&pose[5], &pose[4], &pose[3], &f);
        ASSERT_EQ(qmcGetInverseKinematicNoLine(0, f.pos.v[0], f.pos.v[1], f.pos.v[2], pose[3],
                                               pose[4], pose[5], -1, joints),
                  0);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(joints[i], s[i], 1e-8);
        }
    }
}

TEST_P(StandardArm, UnreachablePosesReturnNegativeAndKeepTheJoints) {
    const double far_away[][6] = {
        {5000, 0, 0, 180, 0, 0},  // beyond the reach
        {0, 0, 0, 180, 0, 0},     // wrist centre inside the shoulder offset cylinder
        {std::nan(""), 0, 300, 0, 0, 0},
    };
    for (const auto &p : far_away) {
        double joints[6] = {1, 2, 3, 4, 5, 6};
        EXPECT_LT(qmcGetInverseKinematicNoLine(0, p[0], p[1], p[2], p[3], p[4], p[5], -1, joints),
                  0);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(joints[i], i + 1.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Models, StandardArm, ::testing::ValuesIn(kStandardArms),
                         [](const ::testing::TestParamInfo<ArmCase> &i) {
                             return std::string(i.param.name);
                         });

#ifdef KXMC_HAVE_KDL
// The flange pose of every geometry, rebuilt link by link with KDL from the DH table.
TEST(ArmGeometry, ForwardKinematicsAgreesWithKdlForEveryFamily) {
    const uint32_t models[] = {0, 1, 3, 150, 201, 202, 301, 302, 401, 701, 702, 703, 850, 901, 902,
                               903, 1001, 5000};
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> joint(-180.0, 180.0);
    for (uint32_t m : models) {
        mcb.robotModelCode = m;
        const kxsim::ArmGeometry g = kxsim::arm_geometry(m);
        for (int n = 0; n < 50; ++n) {
            double q[6];
            KDL::Frame k = KDL::Frame::Identity();
            for (int i = 0; i < 6; ++i) {
                q[i] = joint(rng);
                k = k * KDL::Frame::DH(g.a[i] * 1000.0, g.alpha[i], g.d[i] * 1000.0,
                                       q[i] * kDeg + g.theta_offset[i]);
            }
            float pose[6];
            ASSERT_EQ(jointTrsfToEndCartTCF_RT(1, q, pose), 0);
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(pose[i], k.p(i), 1e-3) << "model " << m;
            }
            const Trsf t = rpy(pose[3], pose[4], pose[5]);
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    EXPECT_NEAR(t.rot.r[3 * i + j], k.M(i, j), 1e-5) << "model " << m;
                }
            }
        }
    }
}
#endif

struct LengthCase {
    uint32_t model;
    double d1, a2, a3, d4, d5, d6;  // [mm]
};

TEST(ArmGeometry, LinkLengthsPerModelBand) {
    const LengthCase cases[] = {
        {0, 152, -425, -395, 102, 102, 100},    {150, 152, -425, -395, 102, 102, 100},
        {3, 140, -280, -240, 102, 102, 100},    {201, 180, -700, -586, 195, 114, 106},
        {260, 180, -700, -586, 159, 114, 106},  {301, 180, -520, -400, 195, 114, 106},
        {399, 180, -520, -400, 159, 114, 106},  {401, 215, -1000, -716, 166, 138, 120},
        {702, 140, -425, -395, 102, 102, 100},  {703, 140, -280, -240, 102, 102, 100},
        {901, 140, -280, -240, 102, 102, 100},  {902, 180, -700, -586, 211, 114, 106},
        {903, 150, -280, -240, 102, 102, 100},  {1100, 215, -700, -536, 166, 138, 120},
        {701, 140, -420, 12, 360, 102, 100},    {801, 140, -420, 12, 360, 102, 100},
        {4000, 152, -425, -395, 102, 102, 100},
    };
    for (const LengthCase &c : cases) {
        const kxsim::ArmGeometry g = kxsim::arm_geometry(c.model);
        EXPECT_NEAR(g.d[0] * 1000, c.d1, 1e-9) << c.model;
        EXPECT_NEAR(g.a[1] * 1000, c.a2, 1e-9) << c.model;
        EXPECT_NEAR(g.a[2] * 1000, c.a3, 1e-9) << c.model;
        EXPECT_NEAR(g.d[3] * 1000, c.d4, 1e-9) << c.model;
        EXPECT_NEAR(g.d[4] * 1000, c.d5, 1e-9) << c.model;
        EXPECT_NEAR(g.d[5] * 1000, c.d6, 1e-9) << c.model;
    }
}

// ---- TZ family: numeric inverse ------------------------------------------------------------

#ifdef KXMC_HAVE_KDL
// Smallest singular value of the flange Jacobian [m/rad, 1], from a KDL chain of the geometry.
double smallest_singular_value(const kxsim::ArmGeometry &g, const double q_deg[6]) {
    KDL::Chain chain;
    for (int i = 0; i < 6; ++i) {
        chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                      KDL::Frame::DH(g.a[i], g.alpha[i], g.d[i], g.theta_offset[i])));
    }
    KDL::JntArray q(6);
    for (int i = 0; i < 6; ++i) {
        q(i) = q_deg[i] * kDeg;
    }
    KDL::Jacobian jac(6);
    KDL::ChainJntToJacSolver(chain).JntToJac(q, jac);
    Eigen::JacobiSVD<Eigen::Matrix<double, 6, 6>> svd(jac.data);
    return svd.singularValues()(5);
}
#endif

class ElbowOffsetArm : public kxsim_test::HostFixture {
protected:
    uint32_t model_code() const override { return 701; }
};

// From a reference a few degrees off, the iteration reaches the pose; away from singular
// poses (smallest singular value of the Jacobian above 0.01) it returns the original joints.
TEST_F(ElbowOffsetArm, NewtonInverseFromANearbyReferenceReturnsTheJoints) {
#ifdef KXMC_HAVE_KDL
    const kxsim::ArmGeometry g = kxsim::arm_geometry(701);
    int same = 0;
#endif
    std::mt19937_64 rng(701);
    std::uniform_real_distribution<double> joint(-170.0, 170.0), nudge(-4.0, 4.0);
    for (int n = 0; n < 500; ++n) {
        double q[6];
        for (double &v : q) {
            v = joint(rng);
        }
        const Trsf f = kxsim::flange_transform(q);
        double pose[6] = {f.pos.v[0], f.pos.v[1], f.pos.v[2], 0, 0, 0};
        trsfToRpy(&pose[5], &pose[4], &pose[3], &f);
        double joints[6];
        for (int i = 0; i < 6; ++i) {
            joints[i] = q[i] + nudge(rng);
        }
        ASSERT_EQ(qmcGetInverseKinematicNoLine(0, pose[0], pose[1], pose[2], pose[3], pose[4],
                                               pose[5], -1, joints),
                  0)
            << n;
        const Trsf back = kxsim::flange_transform(joints);
        EXPECT_LT(pos_distance(back, f), 1e-6) << n;
        EXPECT_LT(rot_angle(back, f), 1e-9) << n;
#ifdef KXMC_HAVE_KDL
        if (smallest_singular_value(g, q) < 0.01) {
            continue;
        }
        ++same;
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(joints[i], q[i], 1e-7) << n << " joint " << i + 1;
        }
#endif
    }
#ifdef KXMC_HAVE_KDL
    EXPECT_GT(same, 400);  // the filter leaves most samples in
#endif
    double joints[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_LT(qmcGetInverseKinematicNoLine(0, 3000, 0, 0, 0, 0, 0, -1, joints), 0);
}

// ---- Tool, current pose and work-piece frame --------------------------------------------

using HostKinematics = kxsim_test::HostFixture;

TEST_F(HostKinematics, ToolPoseIsFlangeTimesToolAndInverseUndoesIt) {
    mpb.toolTrsf = rpy(0, 30, 90);
    mpb.toolTrsf.pos.v[2] = 150.0;
    const double q[6] = {10, -80, 95, -100, -85, 20};
    float flange[6], tool[6];
    jointTrsfToEndCartTCF_RT(1, q, flange);
    jointTrsfToToolCartTCF_RT(1, q, tool);
    Trsf f = rpy(flange[3], flange[4], flange[5]);
    f.pos.v[0] = flange[0];
    f.pos.v[1] = flange[1];
    f.pos.v[2] = flange[2];
    Trsf expect;
    multTrsf(&expect, &f, &mpb.toolTrsf);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(tool[i], expect.pos.v[i], 1e-3);
    }
    double joints[6] = {q[0] + 1, q[1] - 1, q[2] + 1, q[3], q[4], q[5]};
    ASSERT_EQ(qmcGetInverseKinematicNoLine(0, tool[0], tool[1], tool[2], tool[3], tool[4],
                                           tool[5], -1, joints),
              0);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(joints[i], q[i], 1e-3);  // the pose went through floats
    }
    // refMode other than -1 takes the host's joints as reference.
    std::copy(q, q + 6, mpb.jointPos);
    double far[6] = {170, 170, 170, 170, 170, 170};
    ASSERT_EQ(qmcGetInverseKinematicNoLine(0, tool[0], tool[1], tool[2], tool[3], tool[4],
                                           tool[5], 0, far),
              0);
    EXPECT_NEAR(far[2], q[2], 1e-3);
}

TEST_F(HostKinematics, StartPoseAndCurrentPose) {
    // The ready pose: flange pointing straight down.
    EXPECT_NEAR(mpb.flangePose.rot.r[8], -1.0, 1e-12);
    const Trsf f = kxsim::flange_transform(mpb.jointPos);
    EXPECT_LT(pos_distance(f, mpb.flangePose), 1e-12);
    double pose[6];
    ASSERT_EQ(qmcGetRobotPos(pose), 0);
    EXPECT_NEAR(pose[0], f.pos.v[0], 1e-9);
    EXPECT_NEAR(pose[2], f.pos.v[2], 1e-9);
    const double set[6] = {1, 2, 3, 4, 5, 6};
    kxsim::set_robot_pos(set);
    qmcGetRobotPos(pose);
    EXPECT_EQ(pose[5], 6.0);
    kxsim::clear_robot_pos();
    qmcGetRobotPos(pose);
    EXPECT_NEAR(pose[0], f.pos.v[0], 1e-9);

    Trsf nf;
    ASSERT_EQ(newFwdKinematics(mpb.jointPos, &nf), 0);
    EXPECT_LT(pos_distance(nf, f), 1e-12);
}

TEST_F(HostKinematics, WorkPieceFrameFromTheActiveEntry) {
    Trsf in = rpy(0, 0, 45);
    in.pos.v[0] = 500;
    in.pos.v[1] = 100;
    Trsf out;
    // Unset (all-zero) frame: identity.
    ASSERT_EQ(baseTrsfToWorkPiece(&out, &in), 0);
    EXPECT_LT(pos_distance(out, in), 1e-12);

    Trsf w = rpy(0, 0, 90);
    w.pos.v[0] = 400;
    std::memcpy(&mpb.activeWorkpieceFrame[1], &w, sizeof w);
    ASSERT_EQ(baseTrsfToWorkPiece(&out, &in), 0);
    // 100 mm along base x and 100 mm along base y from the frame's origin: in the frame
    // turned by 90 degrees that is (100, -100).
    EXPECT_NEAR(out.pos.v[0], 100.0, 1e-9);
    EXPECT_NEAR(out.pos.v[1], -100.0, 1e-9);
    double third, second, first;
    trsfToRpy(&third, &second, &first, &out);
    EXPECT_NEAR(third, -45.0, 1e-9);

    ASSERT_EQ(toolInBaseTrsfToToolInExAxis_RealTime(&out, &in), 0);
    EXPECT_LT(pos_distance(out, in), 1e-15);
}

}  // namespace

namespace {

// ---- Gravity routines of the fixed mountings ------------------------------------------------

using HostGravity = kxsim_test::HostFixture;

TEST_F(HostGravity, MountingsHoldArmAndPayloadAgainstTheirGravity) {
    const double q[6] = {25, -70, 80, -40, 60, 15};
    const double none[4] = {0, 0, 0, 0};
    const double payload[4] = {0, 0, 0, 2.0};  // 2 kg at the flange centre
    for (int code : {101, 1, 201, 302, 401}) {
        mcb.robotModelCode = static_cast<uint32_t>(code);
        double floor[6], ceiling[6], wall[6], floor_load[6], wall_load[6];
        ASSERT_EQ(qmcDynComGravityExload(q, none, floor, code), 0);
        ASSERT_EQ(qmcDynComGravityExloadCeiling(q, none, ceiling, code), 0);
        ASSERT_EQ(qmcDynComGravityExloadWall(q, none, wall, code), 0);
        qmcDynComGravityExload(q, payload, floor_load, code);
        qmcDynComGravityExloadWall(q, payload, wall_load, code);
        // The base joint turns about the floor's gravity: it holds nothing there.
        EXPECT_NEAR(floor[0], 0.0, 1e-9) << code;
        EXPECT_GT(std::fabs(wall[0]), 0.1) << code;
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(ceiling[i], -floor[i], 1e-9) << code;  // gravity reversed
        }
#ifdef KXMC_HAVE_KDL
        // A point mass at the flange: the extra torque is J_v^T times its weight, with J_v
        // the flange's linear Jacobian from KDL on the host's geometry.
        const kxsim::ArmGeometry g = kxsim::arm_geometry(static_cast<uint32_t>(code));
        KDL::Chain chain;
        for (int i = 0; i < 6; ++i) {
            chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                          KDL::Frame::DH(g.a[i], g.alpha[i], g.d[i], 0.0)));
        }
        KDL::JntArray jq(6);
        for (int i = 0; i < 6; ++i) {
            jq(i) = q[i] * kDeg;
        }
        KDL::Jacobian jac(6);
        KDL::ChainJntToJacSolver(chain).JntToJac(jq, jac);
        for (int i = 0; i < 6; ++i) {
            const double hold_floor = jac(2, i) * 2.0 * 9.8;  // weight pulls along -z
            const double hold_wall = jac(0, i) * 2.0 * 9.8;   // along -x
            EXPECT_NEAR(floor_load[i] - floor[i], hold_floor, 1e-6) << code << " joint " << i + 1;
            EXPECT_NEAR(wall_load[i] - wall[i], hold_wall, 1e-6) << code << " joint " << i + 1;
        }
#endif
    }
}

}  // namespace
