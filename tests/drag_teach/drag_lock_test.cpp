// Drag lock, joint impedance and interference drag: the reference captured on the first call,
// a Cartesian spring whose force (recovered here from the joint torques with a Jacobian of the
// host's forward kinematics) pulls the TCP back, and the zone state that re-arms the reference.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>

#include "host_fixture.hpp"
#include "teach_support.hpp"

namespace teach_test {
namespace {

using LockLaw = int32_t (*)(PIDRecord *, Trsf, const double *, const double *, double *);

struct LockCase {
    const char *name;
    LockLaw law;
    int32_t familyIndex;  // of the interference law
    uint32_t hostModel;
};

void PrintTo(const LockCase &c, std::ostream *os) { *os << c.name; }

const LockCase kLocks[] = {
    {"Kx3", teachcontrol3, 0, 1},
    {"Kx5", teachcontrol5, 1, 101},
    {"Kx10", teachcontrol10, 2, 201},
    {"Kx16", teachcontrol16, 3, 301},
};

constexpr double kTauIn[6] = {1.5, -20.0, 8.0, 0.4, -0.3, 0.05};  // [N m]
constexpr double kStiffness = 3.0;  // [N/m] per unit of position error; [N m] per unit of angle

class DragLock : public kxsim_test::HostFixture, public ::testing::WithParamInterface<LockCase> {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        restart(GetParam().hostModel);
        for (PIDRecord &p : pid) {
            ASSERT_EQ(PIDInit(&p, kStiffness, 0.0, 0.0), 0);
        }
        ASSERT_EQ(kxmcdynfiltresert(), 0);  // the next call captures the reference
    }
    PIDRecord pid[6] = {};
};

TEST_P(DragLock, FirstCallCapturesThePoseAndAddsNothing) {
    const Trsf frame = kxsim::flange_transform(kPose);
    double out[6];
    ASSERT_EQ(GetParam().law(pid, frame, kPose, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(out[j], kTauIn[j]);
    }
}

// Displaced from the captured pose, the joint correction is J^T F with F a spring toward the
// captured pose: Kp times the position error [m], and Kp times a tenth of the rotation back to
// the captured orientation [rad] (base frame).
TEST_P(DragLock, DisplacedPoseIsPulledBackByACartesianSpring) {
    const Trsf locked = kxsim::flange_transform(kPose);
    double out[6];
    ASSERT_EQ(GetParam().law(pid, locked, kPose, kTauIn, out), 0);

    const double step[6] = {0.5, -0.3, 0.4, 0.6, -0.5, 0.7};  // [deg]
    double q1[6];
    for (int j = 0; j < 6; ++j) {
        q1[j] = kPose[j] + step[j];
    }
    const Trsf moved = kxsim::flange_transform(q1);
    ASSERT_EQ(GetParam().law(pid, moved, q1, kTauIn, out), 0);

    double jt[6][6], jac[6][6], correction[6], force[6];
    flange_jacobian(q1, jac);
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 6; ++c) {
            jt[r][c] = jac[c][r];
        }
        correction[r] = (out[r] - kTauIn[r]) / 100.0;
    }
    solve6(jt, correction, force);

    double back[9], back_vector[3];
    mul_transposed(locked.rot.r, moved.rot.r, back);  // rotation from the moved to the locked pose
    rotation_vector(back, back_vector);
    const double angle =
        std::sqrt(back_vector[0] * back_vector[0] + back_vector[1] * back_vector[1] +
                  back_vector[2] * back_vector[2]);
    double expected[6];
    for (int k = 0; k < 3; ++k) {
        expected[k] = kStiffness * (locked.pos.v[k] - moved.pos.v[k]) * 0.001;
        expected[3 + k] = kStiffness * 2.0 * std::sin(0.05 * angle) * back_vector[k] / angle;
    }
    double lin_dot = 0.0, rot_dot = 0.0;
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(force[k], expected[k], 1e-3 * std::fabs(expected[k]) + 1e-6) << "force " << k;
        EXPECT_NEAR(force[3 + k], expected[3 + k], 1e-3 * std::fabs(expected[3 + k]) + 1e-6)
            << "moment " << k;
        lin_dot += force[k] * (moved.pos.v[k] - locked.pos.v[k]);
        rot_dot += force[3 + k] * -back_vector[k];
    }
    EXPECT_LT(lin_dot, 0.0) << "the force opposes the displacement";
    EXPECT_LT(rot_dot, 0.0) << "the moment opposes the turn";
}

// Zone state 0 passes the torque through and drops the reference: the next zone entry holds the
// pose of that moment.
TEST_P(DragLock, ZoneStateZeroRearmsTheReference) {
    const LockCase &c = GetParam();
    double qb[6];
    for (int j = 0; j < 6; ++j) {
        qb[j] = kPose[j] + 1.0;
    }
    const Trsf a = kxsim::flange_transform(kPose);
    const Trsf b = kxsim::flange_transform(qb);
    double out[6];
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, c.familyIndex, a, kPose, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(out[j], kTauIn[j]);
    }
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, c.familyIndex, b, qb, kTauIn, out), 0);
    EXPECT_GT(std::fabs(out[0] - kTauIn[0]) + std::fabs(out[1] - kTauIn[1]), 1e-3)
        << "held at the first pose";
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 0, c.familyIndex, b, qb, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(out[j], kTauIn[j]);
    }
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, c.familyIndex, b, qb, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(out[j], kTauIn[j]) << "a fresh reference at the second pose";
    }
}

INSTANTIATE_TEST_SUITE_P(Families, DragLock, ::testing::ValuesIn(kLocks),
                         [](const ::testing::TestParamInfo<LockCase> &p) {
                             return std::string(p.param.name);
                         });

// ---- Joint impedance and the family index -------------------------------------------------------

class Interference : public kxsim_test::HostFixture {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        restart(101);
        for (PIDRecord &p : pid) {
            ASSERT_EQ(PIDInit(&p, 2.0, 0.0, 0.0), 0);
        }
        ASSERT_EQ(kxmcdynfiltresert(), 0);
    }
    PIDRecord pid[6] = {};
};

TEST_F(Interference, JointZoneHoldsEachJointWithItsOwnSpring) {
    const Trsf frame{};
    double out[6];
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 1, 1, frame, kPose, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(out[j], kTauIn[j], 1e-4);
    }
    const double step[6] = {1.0, -2.0, 0.5, 3.0, -1.0, 2.0};  // [deg]
    double q1[6];
    for (int j = 0; j < 6; ++j) {
        q1[j] = kPose[j] + step[j];
    }
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 1, 1, frame, q1, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) {
        const double expected = 100.0 * 2.0 * (-step[j] * kDegToRad) + kTauIn[j];
        EXPECT_NEAR(out[j], expected, 1e-4 * (std::fabs(expected) + 1.0)) << "joint " << j + 1;
    }
}

TEST_F(Interference, FamilyWithoutLawLeavesTheOutputAndUnknownIndexCopies) {
    const Trsf frame = kxsim::flange_transform(kPose);
    double out[6] = {42, 42, 42, 42, 42, 42};
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, 4, frame, kPose, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(out[j], 42.0);
    }
    for (const int32_t index : {-1, 5, 99}) {
        ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, index, frame, kPose, kTauIn, out), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(out[j], kTauIn[j]) << "index " << index;
        }
    }
}

TEST_F(Interference, NullArgumentsAreRefused) {
    const Trsf frame{};
    double out[6];
    EXPECT_EQ(kxmcteachcontrolinterfere(nullptr, 1, 1, frame, kPose, kTauIn, out), -1);
    EXPECT_EQ(kxmcimpedencejoint(pid, nullptr, kTauIn, out), -1);
    EXPECT_EQ(teachcontrol5(pid, frame, kPose, nullptr, out), -1);
    EXPECT_EQ(kx5_pretau(pid, frame, nullptr, out), -1);
}

}  // namespace
}  // namespace teach_test
