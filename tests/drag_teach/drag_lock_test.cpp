// PID step, drag lock, joint impedance and interference drag: the reference captured on the first
// call, a Cartesian spring that pulls the flange back toward it (checked as minus the gradient of
// the spring's energy, by central differences of the host's forward kinematics), and the zone
// state that re-arms the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>

#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr double kPose[6] = {10, -60, 80, -110, 70, 20};          // [deg]
constexpr double kTauIn[6] = {1.5, -20.0, 8.0, 0.4, -0.3, 0.05};  // [N m]
constexpr double kStiffness = 3.0;  // [N/m] per unit of position error; [N m] per unit of angle

// Kp 2, Ki 0.5, Kd 1 on the errors 1, 3, -2, worked by hand: out = 2 e + 0.5 sum + (e - last).
TEST(Pid, InitClearsTheHistoryAndTheStepFollowsAHandComputedSequence) {
    // e, out, error before last
    const double steps[][3] = {{1, 2 + 0.5 + 1, 0}, {3, 6 + 2 + 2, 1}, {-2, -4 + 1 - 5, 3}};
    PIDRecord rec{9, 9, 9, 9, 9, 9};
    ASSERT_EQ(PIDInit(&rec, 2.0, 0.5, 1.0), 0);
    EXPECT_EQ(PIDInit(nullptr, 1, 1, 1), -1);
    for (const auto &s : steps) {
        double out = 0.0;
        ASSERT_EQ(PID_increase_Calc(&rec, s[0], &out), 0);
        EXPECT_DOUBLE_EQ(out, s[1]) << "e " << s[0];
        EXPECT_EQ(rec.prevError, s[2]);
    }
}

struct LockCase {
    int32_t (*law)(PIDRecord *, Trsf, const double *, const double *, double *);
    int32_t familyIndex;  // of the interference law
    uint32_t hostModel;
};
void PrintTo(const LockCase &c, std::ostream *os) { *os << "model " << c.hostModel; }

class DragLock : public kxsim_test::HostFixture, public ::testing::WithParamInterface<LockCase> {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        restart(GetParam().hostModel);
        for (PIDRecord &p : pid) ASSERT_EQ(PIDInit(&p, kStiffness, 0.0, 0.0), 0);
        ASSERT_EQ(kxmcdynfiltresert(), 0);  // the next call captures the reference
    }
    PIDRecord pid[6] = {};
};

// Energy [J] of the spring holding the flange at q [deg] toward `locked`: Kp |dx|^2 / 2 with dx
// [m], and 40 Kp (1 - cos(angle / 20)), whose gradient is the moment 2 Kp sin(angle / 20) about
// the axis back to the locked orientation (a tenth of the rotation for small angles).
double spring_energy(const Trsf &locked, const double q_deg[6]) {
    const Trsf t = kxsim::flange_transform(q_deg);
    double dx2 = 0.0, trace = 0.0;
    for (int k = 0; k < 3; ++k) dx2 += std::pow((t.pos.v[k] - locked.pos.v[k]) * 0.001, 2);
    for (int k = 0; k < 9; ++k) trace += t.rot.r[k] * locked.rot.r[k];
    const double angle = std::acos(std::max(-1.0, std::min(1.0, (trace - 1.0) / 2.0)));
    return kStiffness * (dx2 / 2.0 + 40.0 * (1.0 - std::cos(angle / 20.0)));
}

// The first call returns tauIn; displaced, the law adds 100 J^T F, which is minus 100 times the
// gradient of the spring's energy in the joints [rad], and does negative work on the displacement.
TEST_P(DragLock, CapturesThePoseThenPullsTheFlangeBackWithACartesianSpring) {
    const Trsf locked = kxsim::flange_transform(kPose);
    double out[6];
    ASSERT_EQ(GetParam().law(pid, locked, kPose, kTauIn, out), 0);
    for (int j = 0; j < 6; ++j) EXPECT_EQ(out[j], kTauIn[j]);

    const double step[6] = {0.5, -0.3, 0.4, 0.6, -0.5, 0.7};  // [deg]
    double q1[6];
    for (int j = 0; j < 6; ++j) q1[j] = kPose[j] + step[j];
    ASSERT_EQ(GetParam().law(pid, kxsim::flange_transform(q1), q1, kTauIn, out), 0);
    const double h = 1e-6;  // [rad]
    double work = 0.0;
    for (int i = 0; i < 6; ++i) {
        double qp[6], qm[6];
        for (int j = 0; j < 6; ++j) qp[j] = qm[j] = q1[j] + (i == j ? h / kDegToRad : 0.0);
        qm[i] -= 2 * h / kDegToRad;
        const double expected = -50 * (spring_energy(locked, qp) - spring_energy(locked, qm)) / h;
        EXPECT_NEAR(out[i] - kTauIn[i], expected, 1e-3 * std::fabs(expected) + 1e-4)
            << "joint " << i + 1;
        work += (out[i] - kTauIn[i]) * step[i];
    }
    EXPECT_LT(work, -1e-4) << "the correction opposes the displacement";
}

// Zone state 0 passes the torque through and drops the reference: the next zone entry holds the
// pose of that moment.
TEST_P(DragLock, ZoneStateZeroRearmsTheReference) {
    const int32_t family = GetParam().familyIndex;
    double qb[6], out[6];
    for (int j = 0; j < 6; ++j) qb[j] = kPose[j] + 1.0;
    const Trsf a = kxsim::flange_transform(kPose), b = kxsim::flange_transform(qb);
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, family, a, kPose, kTauIn, out), 0);  // captures a
    ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, family, b, qb, kTauIn, out), 0);
    EXPECT_GT(std::fabs(out[0] - kTauIn[0]) + std::fabs(out[1] - kTauIn[1]), 1e-3) << "held at a";
    for (const uint8_t zone : {0, 2}) {
        ASSERT_EQ(kxmcteachcontrolinterfere(pid, zone, family, b, qb, kTauIn, out), 0);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(out[j], kTauIn[j]) << "zone " << int(zone);
    }
}

// The zone state may switch between joint holding (1) and pose holding (2) without passing 0:
// each law then captures its own reference, so an arm that has not moved feels no torque (the
// joint reference is held in single precision: a few 1e-6 N m remain).
TEST_P(DragLock, DirectZoneChangeHoldsTheArmWhereItIs) {
    const Trsf frame = kxsim::flange_transform(kPose);
    for (const uint8_t first : {1, 2}) {
        ASSERT_EQ(kxmcdynfiltresert(), 0);
        for (const uint8_t zone : {first, uint8_t(3 - first), first, uint8_t(3 - first)}) {
            double out[6];
            ASSERT_EQ(kxmcteachcontrolinterfere(pid, zone, GetParam().familyIndex, frame, kPose,
                                                kTauIn, out),
                      0);
            for (int j = 0; j < 6; ++j) {
                EXPECT_NEAR(out[j], kTauIn[j], 1e-4)
                    << "from " << int(first) << " zone " << int(zone) << " joint " << j + 1;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, DragLock,
                         ::testing::Values(LockCase{teachcontrol3, 0, 1},
                                           LockCase{teachcontrol5, 1, 101},
                                           LockCase{teachcontrol10, 2, 201},
                                           LockCase{teachcontrol16, 3, 301}));

// Unknown family indices copy tauIn; null arguments are refused.
TEST_P(DragLock, FamilyIndexOutsideTheLawsAndNullArgumentsAreHandled) {
    const Trsf frame = kxsim::flange_transform(kPose);
    double out[6];
    for (const int32_t index : {-1, 5}) {
        ASSERT_EQ(kxmcteachcontrolinterfere(pid, 2, index, frame, kPose, kTauIn, out), 0);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(out[j], kTauIn[j]) << "index " << index;
    }
    EXPECT_EQ(kxmcteachcontrolinterfere(nullptr, 1, 1, frame, kPose, kTauIn, out), -1);
    EXPECT_EQ(kxmcimpedencejoint(pid, nullptr, kTauIn, out), -1);
    EXPECT_EQ(GetParam().law(pid, frame, kPose, nullptr, out), -1);
    EXPECT_EQ(kx5_pretau(pid, frame, nullptr, out), -1);
}

}  // namespace
