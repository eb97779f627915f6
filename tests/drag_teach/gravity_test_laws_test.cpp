// The gravity-test laws: at rest, before and after the warm-up, gain x the gravity torque of the
// family's rigid-body set; only the family's own model code computes; the dynamic part joins once
// more than 500 samples were filtered; the 5-kg law carries its payload and follows the commanded
// motion, checked against KDL's inverse dynamics.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <cmath>
#include <vector>

#include "dynamics/arm_parameters.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"

#ifdef KXMC_HAVE_KDL
#include <kdl/chain.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#endif

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr double kPose[6] = {10, -60, 80, -110, 70, 20};  // [deg]
constexpr double kG = 9.81;                               // [m/s^2] of the identified models
constexpr double kOnes[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

using GravityLaw = int32_t (*)(double, double, const double *, const double *, double *, int32_t);
using SelftestModel = int32_t (*)(const double *, const double *, const double *, MatHead);

struct Family {
    GravityLaw law;
    SelftestModel model;
    int32_t lawCode, otherCode;  // the code the law computes for; another code of its band
    uint32_t set, hostModel;     // rigid-body set its identified model stands for; host's arm
};
void PrintTo(const Family &f, std::ostream *os) { *os << "code " << f.lawCode; }

const Family kFamilies[] = {
    {kxmcteachcontrol3_gravitytest, computeKx3_selftautest, 1, 2, 1, 1},
    {kxmcteachcontrol5_gravitytest, computeKx5_selftautest, 102, 101, 0, 101},
    {kxmcteachcontrol10_gravitytest, computeKx10_selftautest, 201, 202, 201, 201},
    {kxmcteachcontrol16_gravitytest, computeKx16_selftautest, 301, 302, 301, 301},
};

// Holding torque of a standard set with a point payload at the flange origin, gravity kG from the
// installation angles [deg].
void static_gravity(uint32_t set_code, double mass, double tilt, double rot, double out[6]) {
    const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(set_code);
    double lengths[6], masses[6], centres[18];
    const double payload[10] = {mass};
    for (int i = 0; i < 18; ++i) {
        centres[i] = p.centres[i];
        if (i < 6) lengths[i] = p.lengths[i], masses[i] = p.masses[i];
    }
    const double t = tilt * kDegToRad, r = rot * kDegToRad;
    const double gv[3] = {-kG * std::cos(r) * std::sin(t), -kG * std::sin(r) * std::sin(t),
                          -kG * std::cos(t)};
    ASSERT_EQ(kxmcInvGravity(lengths, masses, centres, payload, gv, kPose, out), 0);
}

class GravityTestLaw : public kxsim_test::HostFixture,
                       public ::testing::WithParamInterface<Family> {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        restart(GetParam().hostModel);
        ASSERT_EQ(kxmcdynfiltresert(), 0);  // the law starts from its first sample
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
        static_gravity(f.set, mpb.loadWeight, c[0], c[1], reference);
        ASSERT_GT(std::fabs(reference[1]), 1.0);
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

INSTANTIATE_TEST_SUITE_P(Families, GravityTestLaw, ::testing::ValuesIn(kFamilies));

class FilteredRates : public GravityTestLaw {
   protected:
    static constexpr double kSpeed = 0.0115;  // [deg/cycle], about 0.2 rad/s
    // Outputs of the law along a ramp of constant joint speed, from a fresh start.
    std::vector<std::array<double, 6>> ramp(double kf, int samples) {
        EXPECT_EQ(kxmcdynfiltresert(), 0);
        double gain[12];
        for (int j = 0; j < 12; ++j) gain[j] = j < 6 ? 1.0 : kf;
        std::vector<std::array<double, 6>> out(samples);
        for (int n = 0; n < samples; ++n) {
            double q[6];
            for (int j = 0; j < 6; ++j) q[j] = kPose[j] + kSpeed * n;
            EXPECT_EQ(GetParam().law(0.0, 0.0, gain, q, out[n].data(), GetParam().lawCode), 0);
        }
        return out;
    }
};

// Up to sample 501 the rates are zero. Long after, the filter has settled on the ramp: the angles
// trail it by the filter's delay at rest (2 - sum(k a_k) / sum(a_k) samples for its symmetric
// numerator), the rates are the ramp's speed and the accelerations zero, so the dynamic part is
// the model's velocity torque at the trailing angles.
TEST_P(FilteredRates, DynamicPartJoinsAfterFiveHundredSamples) {
    const auto without = ramp(0.0, 1500), with = ramp(1.0, 1500);
    for (int n = 0; n < 501; ++n) ASSERT_EQ(with[n], without[n]) << "sample " << n + 1;
    EXPECT_NE(with[501], without[501]) << "sample 502 uses the filtered rates";

    const double a[5] = {1.0, -3.953836739036792, 5.862572756863548, -3.863621026769476,
                         0.954885104129417};
    const double sum_a = a[0] + a[1] + a[2] + a[3] + a[4];
    const double delay = 2 - (a[1] + 2 * a[2] + 3 * a[3] + 4 * a[4]) / sum_a;  // about 148 samples
    const int n = 1499;
    const double zero[6] = {};
    double input[9] = {}, rate[6], moving[6], rest[6];
    double *moving_rows[6], *rest_rows[6];
    for (int j = 0; j < 6; ++j) {
        input[3 + j] = (kPose[j] + kSpeed * (n - delay)) * kDegToRad;
        rate[j] = kSpeed * 1000.0 * kDegToRad;
        moving_rows[j] = &moving[j];
        rest_rows[j] = &rest[j];
    }
    ASSERT_EQ(GetParam().model(input, rate, zero, MatHead{0, 5, 0, 0, 0, moving_rows}), 0);
    ASSERT_EQ(GetParam().model(input, zero, zero, MatHead{0, 5, 0, 0, 0, rest_rows}), 0);
    double largest = 0.0;
    for (int j = 0; j < 6; ++j) largest = std::max(largest, std::fabs(moving[j] - rest[j]));
    ASSERT_GT(largest, 1e-4);
    for (int j = 0; j < 6; ++j)
        EXPECT_NEAR(with[n][j] - without[n][j], 100 * (moving[j] - rest[j]), largest) << j;
}

INSTANTIATE_TEST_SUITE_P(Families, FilteredRates,
                         ::testing::Values(kFamilies[0], kFamilies[2], kFamilies[3]));

class FiveKgLaw : public kxsim_test::HostFixture {};

#ifdef KXMC_HAVE_KDL
// With both gains 1 the law is the full rigid-body torque of the commanded motion (KDL chain of
// the 5-kg set: DH frames, link inertias about their centres, point payload at the flange) plus
// the reflected rotor share of the commanded acceleration.
TEST_F(FiveKgLaw, FollowsTheCommandedMotionLikeTheRigidBodyModelPlusItsRotorShare) {
    restart(101);
    const double vel[6] = {0.05, -0.08, 0.06, 0.1, -0.12, 0.09};   // [deg/cycle]
    const double acc[6] = {2e-4, -1e-4, 3e-4, -2e-4, 1e-4, 4e-4};  // [deg/cycle^2]
    const double rotor_share[6] = {0.1, 0.1, 0.3, 0.2, 0.0, 0.2};
    const double rotor[6] = {1615598, 1615598, 1615598, 425520, 425520, 425520};  // [kg mm^2]
    mpb.loadWeight = 2.0;  // [kg]
    std::copy(vel, vel + 6, mpb.targetJointVel);
    std::copy(acc, acc + 6, mpb.feedJointAcc);
    ASSERT_EQ(kxmcdynfiltresert(), 0);
    double out[6];
    ASSERT_EQ(kxmcteachcontrol5_gravitytest(0, 0, kOnes, kPose, out, 102), 0);

    const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(0);
    const double twist[6] = {90, 0, 0, 90, -90, 0};  // [deg]
    KDL::Chain chain;
    for (int i = 0; i < 6; ++i) {
        const float *c = &p.centres[3 * i], *I = &p.inertias[6 * i];
        const double a = i == 1 || i == 2 ? -std::fabs(p.lengths[i]) * 1e-3 : 0.0;
        const double d = i == 1 || i == 2 ? 0.0 : p.lengths[i] * 1e-3;
        KDL::RigidBodyInertia body(p.masses[i], KDL::Vector(c[0] * 1e-3, c[1] * 1e-3, c[2] * 1e-3),
                                   KDL::RotationalInertia(I[0] * 1e-6, I[3] * 1e-6, I[5] * 1e-6,
                                                          I[1] * 1e-6, I[2] * 1e-6, I[4] * 1e-6));
        if (i == 5) body = body + KDL::RigidBodyInertia(2.0);
        chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                      KDL::Frame::DH(a, twist[i] * kDegToRad, d, 0.0), body));
    }
    KDL::ChainIdSolver_RNE rne(chain, KDL::Vector(0, 0, -kG));
    KDL::JntArray q(6), qd(6), qdd(6), tau(6);
    for (int j = 0; j < 6; ++j) {
        q(j) = kPose[j] * kDegToRad;
        qd(j) = vel[j] * 1000.0 * kDegToRad;
        qdd(j) = acc[j] * 1e6 * kDegToRad;
    }
    ASSERT_GE(rne.CartToJnt(q, qd, qdd, KDL::Wrenches(6, KDL::Wrench::Zero()), tau), 0);
    for (int j = 0; j < 6; ++j) {
        const double expected = tau(j) + rotor_share[j] * rotor[j] * 1e-6 * qdd(j);
        EXPECT_NEAR(out[j], expected, 1e-3 * (std::fabs(expected) + 1.0)) << j;
    }
}
#endif

}  // namespace
