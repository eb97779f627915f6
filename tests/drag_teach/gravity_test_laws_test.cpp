// The gravity-test laws: at rest and before the warm-up they are gain x the family's gravity
// torque, computed here from the family's rigid-body set; the dynamic part joins once more than
// 500 samples were filtered; only the family's own model code computes; the 5-kg law carries its
// payload and follows the commanded motion, checked against KDL's inverse dynamics.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host_fixture.hpp"
#include "teach_support.hpp"

#ifdef KXMC_HAVE_KDL
#include <kdl/chain.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/frames.hpp>
#endif

namespace teach_test {
namespace {

constexpr double kGain[12] = {1.0, 1.1, 1.2, 0.9, 0.8, 1.3, 3, 3, 3, 3, 3, 3};
constexpr double kSelftestG = 9.81;  // [m/s^2]

class GravityTestLaw : public kxsim_test::HostFixture,
                       public ::testing::WithParamInterface<Family> {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        restart(GetParam().hostModel);
        mpb.loadWeight = 0.0;
        ASSERT_EQ(kxmcdynfiltresert(), 0);  // the law starts from its first sample
    }
};

struct Mounting {
    double tilt, rot;  // [deg]
};

// At a constant pose the filtered angles stay at the pose and the rates stay zero, also after the
// warm-up: tauOut is gain x the gravity torque, for the 3-, 10- and 16-kg laws written as
// 100 x gain x the model they load (held in hundredths).
TEST_P(GravityTestLaw, AtRestIsGainTimesTheFamilysGravityTorque) {
    const Family &f = GetParam();
    const Mounting m = {30.0, 45.0};
    double q_rad[6];
    for (int j = 0; j < 6; ++j) {
        q_rad[j] = kPose[j] * kDegToRad;
    }
    double reference[6];
    static_gravity(f.set, 0.0, m.tilt, m.rot, kSelftestG, kPose, reference);
    const double scale = f.lawCode == 102 ? 1.0 : 100.0;
    // The reference angles are captured in single precision: the filter sees a residue of
    // about 1e-8 rad, and the 5-kg law works on single-precision angles.
    const double tol = f.lawCode == 102 ? 1e-4 : 1e-6;
    for (int n = 1; n <= 600; ++n) {
        double out[6] = {};
        ASSERT_EQ(f.law(-m.tilt, m.rot, kGain, kPose, out, f.lawCode), 0);
        if (n != 1 && n != 501 && n != 502 && n != 600) {
            continue;
        }
        double tau_g[6];
        const double zero[6] = {};
        model_torque(f.model, -m.tilt, m.rot, q_rad, zero, zero, tau_g);
        for (int j = 0; j < 6; ++j) {
            EXPECT_NEAR(out[j], scale * kGain[j] * tau_g[j], tol * (std::fabs(out[j]) + 1.0))
                << "sample " << n << " joint " << j + 1;
            EXPECT_NEAR(out[j], kGain[j] * reference[j], 1e-4 * (std::fabs(reference[j]) + 1.0))
                << "sample " << n << " joint " << j + 1;
        }
    }
    EXPECT_GT(std::fabs(reference[1]), 1.0);
}

TEST_P(GravityTestLaw, AnotherModelCodeOfTheBandComputesNothing) {
    const Family &f = GetParam();
    for (int n = 0; n < 3; ++n) {
        double out[6] = {1, 1, 1, 1, 1, 1};
        ASSERT_EQ(f.law(0.0, 0.0, kGain, kPose, out, f.otherCode), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(out[j], 0.0) << "joint " << j + 1;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, GravityTestLaw, ::testing::ValuesIn(kFamilies), family_name);

// ---- Warm-up of the filtered rates (3-, 10- and 16-kg laws) --------------------------------------

class FilteredRates : public GravityTestLaw {
   protected:
    // Outputs of the law along a ramp of constant joint speed, from a fresh start.
    std::vector<std::array<double, 6>> ramp(double kf, int samples) {
        EXPECT_EQ(kxmcdynfiltresert(), 0);
        double gain[12];
        for (int j = 0; j < 6; ++j) {
            gain[j] = 1.0;
            gain[6 + j] = kf;
        }
        std::vector<std::array<double, 6>> out;
        for (int n = 0; n < samples; ++n) {
            double q[6];
            for (int j = 0; j < 6; ++j) {
                q[j] = kPose[j] + kSpeed * n;
            }
            std::array<double, 6> tau{};
            EXPECT_EQ(GetParam().law(0.0, 0.0, gain, q, tau.data(), GetParam().lawCode), 0);
            out.push_back(tau);
        }
        return out;
    }
    static constexpr double kSpeed = 0.0115;  // [deg/cycle], about 0.2 rad/s
};

TEST_P(FilteredRates, DynamicPartJoinsAfterFiveHundredSamples) {
    const int kSamples = 1500;
    const auto without = ramp(0.0, kSamples);
    const auto with = ramp(1.0, kSamples);
    for (int n = 0; n < 501; ++n) {
        ASSERT_EQ(with[n], without[n]) << "sample " << n + 1 << " is still in the warm-up";
    }
    EXPECT_NE(with[501], without[501]) << "sample 502 uses the filtered rates";

    // Long after the warm-up the filter has settled on the ramp: the filtered angles trail it by
    // the filter's delay at rest (from its design: 2 - sum(k a_k) / sum(a_k) samples for the
    // symmetric numerator), the rates are the ramp's speed and the accelerations zero, so the
    // dynamic part is the model's velocity torque at the trailing angles.
    const double a[5] = {1.0, -3.953836739036792, 5.862572756863548, -3.863621026769476,
                         0.954885104129417};
    double sum_a = 0.0, moment_a = 0.0;
    for (int k = 0; k < 5; ++k) {
        sum_a += a[k];
        moment_a += k * a[k];
    }
    const double delay = 2.0 - moment_a / sum_a;  // [samples], about 148
    const int n = kSamples - 1;
    double q_rad[6], rate[6];
    for (int j = 0; j < 6; ++j) {
        q_rad[j] = (kPose[j] + kSpeed * (n - delay)) * kDegToRad;
        rate[j] = kSpeed * 1000.0 * kDegToRad;
    }
    const double zero[6] = {};
    double moving[6], rest[6];
    model_torque(GetParam().model, 0.0, 0.0, q_rad, rate, zero, moving);
    model_torque(GetParam().model, 0.0, 0.0, q_rad, zero, zero, rest);
    double largest = 0.0;
    for (int j = 0; j < 6; ++j) {
        largest = std::max(largest, std::fabs(100.0 * (moving[j] - rest[j])));
    }
    ASSERT_GT(largest, 0.01);
    for (int j = 0; j < 6; ++j) {
        const double dynamic = with[n][j] - without[n][j];
        EXPECT_NEAR(dynamic, 100.0 * (moving[j] - rest[j]), 0.01 * largest) << "joint " << j + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FilteredRates,
                         ::testing::Values(kFamilies[0], kFamilies[2], kFamilies[3]), family_name);

// ---- The 5-kg law --------------------------------------------------------------------------------

class FiveKgLaw : public kxsim_test::HostFixture {
   protected:
    void SetUp() override {
        HostFixture::SetUp();
        restart(101);
    }
};

TEST_F(FiveKgLaw, PayloadAtTheFlangeGivesTheRigidBodyGravityTorqueWithThatPayload) {
    const double gain[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const Mounting mountings[] = {{0, 0}, {90, 0}, {180, 0}, {40, -70}};
    for (const double mass : {0.0, 2.5, 5.0}) {
        for (const Mounting &m : mountings) {
            mpb.loadWeight = mass;
            ASSERT_EQ(kxmcdynfiltresert(), 0);  // the payload enters the model at the first sample
            double out[6];
            ASSERT_EQ(kxmcteachcontrol5_gravitytest(-m.tilt, m.rot, gain, kPose, out, 102), 0);
            double expected[6];
            static_gravity(0, mass, m.tilt, m.rot, kSelftestG, kPose, expected);
            for (int j = 0; j < 6; ++j) {
                EXPECT_NEAR(out[j], expected[j], 1e-4 * (std::fabs(expected[j]) + 1.0))
                    << "mass " << mass << " tilt " << m.tilt << " joint " << j + 1;
            }
        }
    }
}

#ifdef KXMC_HAVE_KDL
// KDL chain of a standard set (DH frames, link inertias about their centres) with a point payload
// at the flange origin.
KDL::Chain standard_chain(uint32_t set_code, double payload) {
    const kxmc::StandardArmParameters &p = kxmc::standard_arm_parameters(set_code);
    const double twist[6] = {90, 0, 0, 90, -90, 0};
    const double a[6] = {0, -std::fabs(p.lengths[1]) * 1e-3, -std::fabs(p.lengths[2]) * 1e-3, 0, 0,
                         0};
    const double d[6] = {p.lengths[0] * 1e-3, 0, 0, p.lengths[3] * 1e-3, p.lengths[4] * 1e-3,
                         p.lengths[5] * 1e-3};
    KDL::Chain chain;
    for (int i = 0; i < 6; ++i) {
        const float *c = &p.centres[3 * i];
        const float *I = &p.inertias[6 * i];
        KDL::RigidBodyInertia body(p.masses[i], KDL::Vector(c[0] * 1e-3, c[1] * 1e-3, c[2] * 1e-3),
                                   KDL::RotationalInertia(I[0] * 1e-6, I[3] * 1e-6, I[5] * 1e-6,
                                                          I[1] * 1e-6, I[2] * 1e-6, I[4] * 1e-6));
        if (i == 5) {
            body = body + KDL::RigidBodyInertia(payload, KDL::Vector::Zero(),
                                                KDL::RotationalInertia::Zero());
        }
        chain.addSegment(KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                                      KDL::Frame::DH(a[i], twist[i] * kDegToRad, d[i], 0.0), body));
    }
    return chain;
}

// With both gains 1 the law is the full rigid-body torque of the commanded motion plus the
// reflected rotor share of the commanded acceleration.
TEST_F(FiveKgLaw, FollowsTheCommandedMotionLikeTheRigidBodyModelPlusItsRotorShare) {
    const double gain[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const double mass = 2.0;
    const double vel[6] = {0.05, -0.08, 0.06, 0.1, -0.12, 0.09};   // [deg/cycle]
    const double acc[6] = {2e-4, -1e-4, 3e-4, -2e-4, 1e-4, 4e-4};  // [deg/cycle^2]
    const double rotor_share[6] = {0.1, 0.1, 0.3, 0.2, 0.0, 0.2};
    const double rotor[6] = {1615598, 1615598, 1615598, 425520, 425520, 425520};  // [kg mm^2]
    mpb.loadWeight = mass;
    for (int j = 0; j < 6; ++j) {
        mpb.targetJointVel[j] = vel[j];
        mpb.feedJointAcc[j] = acc[j];
    }
    ASSERT_EQ(kxmcdynfiltresert(), 0);
    double out[6];
    ASSERT_EQ(kxmcteachcontrol5_gravitytest(0, 0, gain, kPose, out, 102), 0);

    const KDL::Chain chain = standard_chain(0, mass);
    KDL::ChainIdSolver_RNE rne(chain, KDL::Vector(0, 0, -kSelftestG));
    KDL::JntArray q(6), qd(6), qdd(6), tau(6);
    for (int j = 0; j < 6; ++j) {
        q(j) = kPose[j] * kDegToRad;
        qd(j) = vel[j] * 1000.0 * kDegToRad;
        qdd(j) = acc[j] * 1e6 * kDegToRad;
    }
    KDL::Wrenches ext(6, KDL::Wrench::Zero());
    ASSERT_GE(rne.CartToJnt(q, qd, qdd, ext, tau), 0);
    for (int j = 0; j < 6; ++j) {
        const double expected = tau(j) + rotor_share[j] * rotor[j] * 1e-6 * qdd(j);
        EXPECT_NEAR(out[j], expected, 1e-3 * (std::fabs(expected) + 1.0)) << "joint " << j + 1;
    }
}
#endif

}  // namespace
}  // namespace teach_test
