// Rated motor torques, any-angle gravity torque, gravity dispatch by model code and mounting, and
// the end-load torque, through the simulated host against independent physics from KDL: the
// gravity torque of the measured 5-kg arm with its payload, and the holding torque of a point mass
// on the simulated host's arm geometry.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <utility>

#include "host_fixture.hpp"
#include "kxmc/kxmc_gravity.h"
#include "simhost/kxsimhost.hpp"
#include "tests/dynamics_model/oracle.hpp"

namespace {

using Vec6 = std::array<double, 6>;
constexpr double kPi = kxtest::kPi;
constexpr double kModelDegree = kxtest::kBlockDeg;  // degree factor of the dynamics model

// Gravity torque [N m] of the measured 5-kg arm (masses, lengths and centres from its data
// sheet) with a point payload of mass m at c [mm] in the flange frame, at q [deg].
Vec6 arm5_torque(const double q[6], double m, const double c[3], const double g[3]) {
    kxmc::StandardArmParameters arm5 = kxmc::standard_arm_parameters(0);
    std::copy(kxtest::kArm5Centres, kxtest::kArm5Centres + 18, arm5.centres);
    const double payload[10] = {m, c[0], c[1], c[2]};
    const double rest[6] = {};
    const kxtest::Dynamics k = kxtest::kdl_dynamics(
        kxtest::standard_model(kxtest::kStandardSets[0], arm5, payload), q, rest, rest, g);
    return {k.G[0], k.G[1], k.G[2], k.G[3], k.G[4], k.G[5]};
}

// Holding torque of a point mass m at c [mm] in the flange frame on the host's arm geometry of
// mcb.robotModelCode, at joint angles (q + turn) x rad_per_deg [rad].
Vec6 point_load_torque(const double q_deg[6], const double c_mm[3], double m, const double g[3],
                       double rad_per_deg = kPi / 180.0, const double turn[6] = nullptr) {
    const kxsim::ArmGeometry geo = kxsim::arm_geometry(mcb.robotModelCode);
    KDL::Chain chain;
    KDL::JntArray q(6), tau(6);
    for (int i = 0; i < 6; ++i) {
        const KDL::Vector c = KDL::Vector(c_mm[0], c_mm[1], c_mm[2]) * 1e-3;
        chain.addSegment(
            KDL::Segment(KDL::Joint(KDL::Joint::RotZ),
                         KDL::Frame::DH(geo.a[i], geo.alpha[i], geo.d[i], geo.theta_offset[i]),
                         i < 5 ? KDL::RigidBodyInertia() : KDL::RigidBodyInertia(m, c)));
        q(i) = (q_deg[i] + (turn != nullptr ? turn[i] : 0.0)) * rad_per_deg;
    }
    EXPECT_GE(KDL::ChainDynParam(chain, KDL::Vector(g[0], g[1], g[2])).JntToGravity(q, tau), 0);
    return {tau(0), tau(1), tau(2), tau(3), tau(4), tau(5)};
}

void expect_near(const double *got, const Vec6 &want, double tol, const std::string &what) {
    for (int j = 0; j < 6; ++j) EXPECT_NEAR(got[j], want[j], tol) << what << " joint " << j;
}

class Gravity : public kxsim_test::HostFixture {
   protected:
    void start(uint32_t code) { kxsim::startup(code), mcb.robotModelCode = code; }
    void angles(double tilt, double rot) { mcb.installTilt = tilt, mcb.installRot = rot; }
    std::mt19937 rng{20240611u};
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    }
    void random_pose(double q[6]) {
        for (int i = 0; i < 6; ++i) q[i] = uniform(-180.0, 180.0);
    }
};

// Rated motor torque of each joint: the host's torque of the joint's motor size, by model code.
// The host's torques are set apart per size here so the size shows in the result.
TEST_F(Gravity, RatedTorquesFollowEachJointsMotorSize) {
    using Sizes = std::array<int, 6>;
    const Sizes s3 = {17, 17, 17, 14, 14, 14}, s5 = {25, 25, 25, 14, 14, 14};
    const Sizes s10 = {32, 32, 25, 17, 17, 17}, s40 = {40, 40, 32, 25, 25, 25};
    const Sizes light = {17, 17, 14, 14, 14, 14}, s14 = {14, 14, 14, 14, 14, 14};
    const std::pair<uint32_t, Sizes> rows[] = {
        {0, s5},    {1, s3},     {100, s3},    {101, s5},    {200, s5}, {201, s10}, {400, s10},
        {401, s40}, {500, s40},  {501, s14},   {600, s14},   {601, s5}, {700, s5},  {701, light},
        {702, s3},  {703, s3},   {704, light}, {900, light}, {901, s3}, {902, s10}, {903, s5},
        {1000, s5}, {1001, s40}, {1100, s40},  {1101, s5}};
    for (const auto &[code, sizes] : rows) {
        mcb.robotModelCode = code;
        mpb.ratedTorque14 = 1.4f, mpb.ratedTorque17 = 1.7f, mpb.ratedTorque25 = 2.5f;
        mpb.ratedTorque32 = 3.2f, mpb.ratedTorque40 = 4.0f;
        float rated[6] = {};
        ASSERT_EQ(kxmcJointDefaultTorque(rated), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_FLOAT_EQ(rated[j], sizes[j] / 10.0f) << "code " << code << " joint " << j + 1;
        }
    }
}

// The 5-kg arm's gravity torque, payload included, equals KDL's for the measured arm for 1000
// random poses and payloads on the floor, wall, ceiling and at arbitrary angles. For every
// other family, in the same states, the payload adds exactly the holding torque of a point mass at
// the flange (model code 3 is the 3-kg chain with joints 1, 2, 4 and 6 turned by -180 deg).
TEST_F(Gravity, TorqueIsTheMeasuredArmsAndPayloadAPointMass) {
    const uint32_t codes[] = {0, 101, 150, 5000},
                   families[] = {1,   2,   3,   50,  201, 202, 250, 301,
                                 302, 350, 450, 702, 703, 901, 903, 1050};
    const double fixed[3] = {0, 90, 180}, turn3[6] = {-180, -180, 0, -180, 0, -180},
                 bare[4] = {0, 0, 0, 0};
    for (int n = 0; n < 1000; ++n) {
        const double tilt = n % 4 < 3 ? fixed[n % 4] : uniform(-360, 360),
                     rot = n % 4 < 3 ? 0.0 : uniform(-360, 360);
        double q[6], out[6], unloaded[6], g[3];
        kxtest::mounting_gravity_deg(tilt, rot, g);
        random_pose(q);
        const double load[4] = {uniform(-150, 150), uniform(-150, 150), uniform(-50, 250),
                                n % 5 == 0 ? 0.0 : uniform(0, 6)};
        start(codes[n % 4]);
        angles(tilt, rot);
        ASSERT_EQ(kxmcGravityTorque(q, load, out), 0);
        expect_near(out, arm5_torque(q, load[3], load, g), 1e-9, "case " + std::to_string(n));
        const uint32_t code = families[n % 16];
        start(code);
        angles(tilt, rot);
        kxmcGravityTorque(q, bare, unloaded);
        kxmcGravityTorque(q, load, out);
        Vec6 added{};
        for (int j = 0; j < 6; ++j) added[j] = out[j] - unloaded[j];
        expect_near(
            added.data(),
            point_load_torque(q, load, load[3], g, kModelDegree, code == 3 ? turn3 : nullptr), 1e-8,
            "payload code " + std::to_string(code));
    }
}

// A null pose or load is refused before any routine runs (the host's would dereference it),
// whatever the arm.
TEST_F(Gravity, NewGravityTorqueRefusesANullPoseOrLoadOnEveryRoute) {
    const double q[6] = {10, -80, 70, 20, 30, 40}, load[4] = {0, 0, 50, 2};
    for (const uint32_t code : {0u, 101u, 701u}) {
        start(code);
        double out[6] = {7, 7, 7, 7, 7, 7};
        EXPECT_EQ(kxmcNewGravityTorque(q, nullptr, out), 0) << code;
        EXPECT_EQ(kxmcNewGravityTorque(nullptr, load, out), 0) << code;
        for (double v : out) EXPECT_EQ(v, 7.0) << code;
        EXPECT_EQ(kxsim::journal().size(), 0u) << "no host routine sees a null pointer " << code;
    }
}

// kxmcNewGravityTorque: the host's routine of the mounting (floor, wall, ceiling; angles ignored)
// with the code whose gravity it computes, the any-angle torque for mounting 3 and the codes
// without a host routine, nothing for unknown mountings and the codes without gravity.
TEST_F(Gravity, NewGravityTorqueDispatchPerCodeAndMounting) {
    enum Route { kHost, kAny, kNone };
    const struct {
        uint32_t code;
        Route route;
        uint32_t passed;
    } rows[] = {{0, kHost, 101},   {1, kHost, 1},     {2, kHost, 2},     {3, kAny, 0},
                {100, kHost, 1},   {101, kHost, 101}, {102, kHost, 102}, {103, kAny, 0},
                {200, kHost, 101}, {201, kHost, 201}, {202, kHost, 202}, {300, kHost, 201},
                {301, kHost, 301}, {302, kHost, 302}, {401, kHost, 401}, {402, kHost, 402},
                {480, kHost, 401}, {501, kNone, 0},   {700, kNone, 0},   {701, kAny, 0},
                {800, kAny, 0},    {801, kNone, 0},   {901, kHost, 101}, {1001, kAny, 0}};
    const double mount_tilt[3] = {0, 90, 180}, load[4] = {12, -34, 56, 2.5};
    for (const auto &row : rows) {
        for (uint8_t mounting = 0; mounting <= 4; ++mounting) {
            start(row.code);
            double q[6], want[6] = {7, 7, 7, 7, 7, 7}, out[6] = {7, 7, 7, 7, 7, 7};
            random_pose(q);
            angles(33, -47);
            mcb.installPos = mounting;
            ASSERT_EQ(kxmcNewGravityTorque(q, load, out), 0);
            if (row.route == kHost && mounting < 3) {
                mcb.robotModelCode = row.passed;
                angles(mount_tilt[mounting], 0);
            }
            if (row.route != kNone && mounting <= 3) kxmcGravityTorque(q, load, want);
            // The host's own model agrees with the library's to rounding (the library turns
            // degrees into radians with the blocks' factor 0.017453292).
            for (int j = 0; j < 6; ++j) {
                EXPECT_NEAR(out[j], want[j], 1e-6 * (1.0 + std::fabs(want[j])))
                    << "code " << row.code << " mounting " << int{mounting};
            }
        }
    }
}

// kxmcendload is J^T times the payload's weight wrench for every family with a Jacobian, and
// zero for the codes without one (from 0 in the table).
TEST_F(Gravity, EndLoadIsJacobianTransposeTimesWeightWrench) {
    const int32_t codes[] = {1,   102, 201, 301, 702, 703, 750, 0, 2,
                             101, 202, 302, 401, 550, 701, 901, -1};
    const double mountings[][2] = {{0, 0}, {30, 45}, {90, 0}, {180, 0}, {-75, 200}};  // tilt, rot
    for (int n = 0; n < 17 * 5 * 10; ++n) {
        const int32_t code = codes[n % 17];
        const double *m = mountings[n % 5];
        double q[6], out[6] = {9, 9, 9, 9, 9, 9};
        random_pose(q);
        const double c[3] = {uniform(-120, 120), uniform(-120, 120), uniform(0, 250)},
                     mass = uniform(0.2, 8);
        if (n % 17 < 7) start(static_cast<uint32_t>(code));
        ASSERT_EQ(kxmcendload(-m[0], m[1], q, c[0], c[1], c[2], mass, out, code), 0);
        double g[3];
        kxtest::mounting_gravity_deg(m[0], m[1], g);
        expect_near(out, n % 17 < 7 ? point_load_torque(q, c, mass, g) : Vec6{}, 2e-5,
                    "code " + std::to_string(code) + " tilt " + std::to_string(m[0]));
    }
}

}  // namespace
