// The gravity-test laws: at rest, before and after the warm-up, gain x the gravity torque of the
// family's rigid-body set; only the family's own model code computes; the dynamic part joins once
// more than 500 samples were filtered; the 5-kg law carries its payload and follows the commanded
// motion, checked against KDL's inverse dynamics.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ostream>

#include "dynamics/arm_parameters.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "tests/dynamics_model/oracle.hpp"

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr double kPose[6] = {10, -60, 80, -110, 70, 20};  // [deg]
constexpr double kG = 9.81;                               // [m/s^2] of the identified models
constexpr double kOnes[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr double kOrigin[3] = {};
constexpr double kRest[6] = {};
constexpr double kGravity[3] = {0, 0, -kG};

struct Family {
    int32_t (*law)(double, double, const double *, const double *, double *, int32_t);
    int32_t lawCode, otherCode;  // the code the law computes for; another code of its band
    uint32_t set, hostModel;     // rigid-body set its identified model stands for; host's arm
};
void PrintTo(const Family &f, std::ostream *os) { *os << "code " << f.lawCode; }

const Family kFamilies[] = {
    {kxmcteachcontrol3_gravitytest, 1, 2, 1, 1},
    {kxmcteachcontrol5_gravitytest, 102, 101, 0, 101},
    {kxmcteachcontrol10_gravitytest, 201, 202, 201, 201},
    {kxmcteachcontrol16_gravitytest, 301, 302, 301, 301},
};

class GravityTestLaw : public kxsim_test::HostFixture,
                       public ::testing::WithParamInterface<Family> {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        restart(GetParam().hostModel);
    }
};

// At a constant pose the filtered rates stay zero, also after the warm-up: tauOut is gain x the
// gravity torque of the family's set, for the 5-kg law with the payload at the flange. Another
// model code of the band then computes nothing.
TEST_P(GravityTestLaw, AtRestIsGainTimesTheGravityTorqueOnlyForItsOwnCode) {
    const Family &f = GetParam();
    const double gain[12] = {1.0, 1.1, 1.2, 0.9, 0.8, 1.3, 3, 3, 3, 3, 3, 3};
    // tilt, rot [deg], payload [kg]; the first case with gains and over the warm-up
    const double cases[][3] = {{30, 45, 0}, {0, 0, 2.5}, {90, 0, 5}, {180, 0, 2.5}, {40, -70, 5}};
    for (const auto &c : cases) {
        const bool first = &c == &cases[0];
        mpb.loadWeight = f.lawCode == 102 ? c[2] : 0.0;
        ASSERT_EQ(kxmcdynfiltresert(), 0);  // the payload enters the model at the first sample
        double reference[6];
        kxtest::static_gravity(f.set, mpb.loadWeight, kOrigin, c[0], c[1], kG, kPose, reference);
        for (int n = 1; n <= (first ? 600 : 1); ++n) {
            double out[6] = {};
            ASSERT_EQ(f.law(-c[0], c[1], first ? gain : kOnes, kPose, out, f.lawCode), 0);
            for (int j = 0; j < 6; ++j) {
                const double want = (first ? gain[j] : 1.0) * reference[j];
                EXPECT_NEAR(out[j], want, 1e-4 * (std::fabs(want) + 1)) << n << " " << c[0];
            }
        }
    }
    double out[6] = {1, 1, 1, 1, 1, 1};
    ASSERT_EQ(f.law(0.0, 0.0, gain, kPose, out, f.otherCode), 0);
    for (int j = 0; j < 6; ++j) EXPECT_EQ(out[j], 0.0) << "code " << f.otherCode;
}

// Output of a law at the last of `samples` steps from a fresh start, with dynamic gain kf, while
// every joint follows q(n) = pose + rate n + curve n^2 [deg, n in cycles].
std::array<double, 6> run(const Family &f, double kf, int samples, double rate, double curve) {
    EXPECT_EQ(kxmcdynfiltresert(), 0);
    double gain[12], q[6];
    for (int j = 0; j < 12; ++j) gain[j] = j < 6 ? 1.0 : kf;
    std::array<double, 6> out{};
    for (int n = 0; n < samples; ++n) {
        for (int j = 0; j < 6; ++j) q[j] = kPose[j] + (j == 0 ? rate * n + curve * n * n : 0.0);
        EXPECT_EQ(f.law(0.0, 0.0, gain, q, out.data(), f.lawCode), 0);
    }
    return out;
}

class FilteredLaw : public GravityTestLaw {};

// Up to sample 501 the rates are zero, so the dynamic gain Kf changes nothing; from sample 502 on
// the filtered rates move the torque.
TEST_P(FilteredLaw, DynamicPartJoinsAfterFiveHundredSamples) {
    const double rate = 0.0115;  // [deg/cycle], about 0.2 rad/s on joint 1
    EXPECT_EQ(run(GetParam(), 0.0, 501, rate, 0.0), run(GetParam(), 1.0, 501, rate, 0.0));
    EXPECT_NE(run(GetParam(), 0.0, 502, rate, 0.0), run(GetParam(), 1.0, 502, rate, 0.0));
}

// Joint 1 turning at a constant acceleration about the vertical axis: its inertia does not
// depend on its own angle, so the dynamic part of its torque is that inertia times the filtered
// acceleration, which for a parabola settles at the acceleration itself.
TEST_P(FilteredLaw, DynamicPartIsTheInertiaTimesTheFilteredAcceleration) {
    const double curve = 5e-6;                           // [deg/cycle^2] / 2
    const double accel = 2.0 * curve * 1e6 * kDegToRad;  // [rad/s^2]
    const std::array<double, 6> with = run(GetParam(), 1.0, 1500, 0.0, curve);
    const std::array<double, 6> without = run(GetParam(), 0.0, 1500, 0.0, curve);
    const double none[10] = {};
    const kxtest::Model m =
        kxtest::standard_model(kxmc::standard_arm_parameters(GetParam().set), none);
    const double inertia = kxtest::kdl_dynamics(m, kPose, kRest, kRest, kGravity).M[0] - m.rotor[0];
    EXPECT_NEAR(with[0] - without[0], inertia * accel, 0.01 * inertia * accel);
}

INSTANTIATE_TEST_SUITE_P(Families, GravityTestLaw, ::testing::ValuesIn(kFamilies));
INSTANTIATE_TEST_SUITE_P(Families, FilteredLaw,
                         ::testing::Values(kFamilies[0], kFamilies[2], kFamilies[3]));

class FiveKgLaw : public kxsim_test::HostFixture {};

// With both gains 1 the law is the full rigid-body torque of the commanded motion (KDL chain of
// the 5-kg set: DH frames, link inertias about their centres, point payload at the flange) plus
// the reflected rotor share of the commanded acceleration.
TEST_F(FiveKgLaw, FollowsTheCommandedMotionLikeTheRigidBodyModelPlusItsRotorShare) {
    restart(101);
    const double vel[6] = {0.05, -0.08, 0.06, 0.1, -0.12, 0.09};   // [deg/cycle]
    const double acc[6] = {2e-4, -1e-4, 3e-4, -2e-4, 1e-4, 4e-4};  // [deg/cycle^2]
    // share of the reflected rotor inertias 1615598 (joints 1-3), 425520 [kg mm^2] the law adds
    const double rotor[6] = {161559.8, 161559.8, 484679.4, 85104, 0.0, 85104};  // [kg mm^2]
    const double payload[10] = {2.0};                                           // [kg]
    mpb.loadWeight = payload[0];
    double qd[6], qdd[6];
    for (int j = 0; j < 6; ++j) {
        qd[j] = (mpb.targetJointVel[j] = vel[j]) * 1000.0;  // [deg/s]
        qdd[j] = (mpb.feedJointAcc[j] = acc[j]) * 1e6;      // [deg/s^2]
    }
    ASSERT_EQ(kxmcdynfiltresert(), 0);
    double out[6];
    ASSERT_EQ(kxmcteachcontrol5_gravitytest(0, 0, kOnes, kPose, out, 102), 0);
    kxtest::Model m = kxtest::standard_model(kxmc::standard_arm_parameters(0), payload);
    for (int j = 0; j < 6; ++j) m.rotor[j] = rotor[j] * 1e-6;
    const kxtest::Dynamics k = kxtest::kdl_dynamics(m, kPose, qd, qdd, kGravity);
    for (int j = 0; j < 6; ++j)
        EXPECT_NEAR(out[j], k.tau[j], 1e-3 * (std::fabs(k.tau[j]) + 1.0)) << j;
}

}  // namespace
