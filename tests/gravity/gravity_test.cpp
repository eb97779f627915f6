// Rated motor torques, any-angle gravity torque, gravity dispatch by model code and mounting, and
// the end-load torque, through the simulated host against independent physics: the gradient of
// the potential energy of the 5-kg arm's standard chain, and the holding torque of a point mass
// from the simulated host's flange kinematics, both by fourth-order central differences.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <utility>

#include "dynamics/arm_parameters.hpp"
#include "host_fixture.hpp"
#include "kxmc/kxmc_gravity.h"
#include "simhost/kxsimhost.hpp"

namespace {

using Vec6 = std::array<double, 6>;
using Vec3 = std::array<double, 3>;
constexpr double kPi = 3.14159265358979323846;
constexpr double kModelDegree = 0.017453292;  // degree factor of the dynamics model [rad/deg]

Vec3 gravity(double tilt_deg, double rot_deg) {  // floor (0, 0, -9.8), wall (-9.8, 0, 0)
    const double t = tilt_deg * kPi / 180.0, r = rot_deg * kPi / 180.0;
    return {-9.8 * std::cos(r) * std::sin(t), -9.8 * std::sin(r) * std::sin(t), -9.8 * std::cos(t)};
}

// dV/dtheta_j [N m] of a potential V(theta [rad]) at theta = q_deg * rad_per_deg.
template <class Potential>
Vec6 gradient(Potential V, const double q_deg[6], double rad_per_deg) {
    const long double h = 1e-3L, steps[4] = {-2 * h, -h, h, 2 * h};
    Vec6 tau{};
    for (int j = 0; j < 6; ++j) {
        long double v[4];
        for (int k = 0; k < 4; ++k) {
            long double th[6];
            for (int i = 0; i < 6; ++i) th[i] = q_deg[i] * rad_per_deg + (i == j ? steps[k] : 0.0L);
            v[k] = V(th);
        }
        tau[j] = static_cast<double>((v[0] - 8 * v[1] + 8 * v[2] - v[3]) / (12 * h));
    }
    return tau;
}

// The measured 5-kg arm (model codes 0, 101-200 and codes without a set of their own), rounded
// to single precision as the model stores it: link masses [kg] and centres of mass [mm].
const float kArm5Masses[6] = {4.64f, 10.08f, 2.71f, 1.56f, 1.56f, 0.36f};
const float kArm5Centres[18] = {-0.19f,  -18.28f, 2.26f,  212.47f, 0.0f,   121.2f,
                                122.62f, 0.17f,   12.59f, 0.05f,   -2.33f, 14.68f,
                                -0.05f,  2.33f,   14.68f, 0.93f,   0.81f,  -20.05f};

// Potential energy of the 5-kg arm with a point payload of mass m at c [mm] in the flange frame,
// in gravity g. Classic DH chain, centres in the distal frames.
long double arm_potential(const long double th[6], double m, const double c_mm[3], const Vec3 &g) {
    const double d[6] = {0.152, 0, 0, 0.102, 0.102, 0.100}, a[6] = {0, -0.425, -0.395, 0, 0, 0};
    const double alpha[6] = {kPi / 2, 0, 0, kPi / 2, -kPi / 2, 0};
    long double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, o[3] = {0, 0, 0}, V = 0;
    auto add_mass = [&](double mk, const float *cf, const double *cd) {
        for (int r = 0; r < 3; ++r) {
            long double pos = o[r];
            for (int k = 0; k < 3; ++k) pos += R[r][k] * (cf != nullptr ? cf[k] : cd[k]) * 1e-3L;
            V -= mk * g[r] * pos;
        }
    };
    for (int i = 0; i < 6; ++i) {
        const long double ct = std::cos(th[i]), st = std::sin(th[i]), ca = std::cos(alpha[i]),
                          sa = std::sin(alpha[i]);
        const long double A[3][3] = {{ct, -st * ca, st * sa}, {st, ct * ca, -ct * sa}, {0, sa, ca}};
        const long double p[3] = {a[i] * ct, a[i] * st, d[i]};
        long double Rn[3][3];
        for (int r = 0; r < 3; ++r) {
            o[r] += R[r][0] * p[0] + R[r][1] * p[1] + R[r][2] * p[2];
            for (int c = 0; c < 3; ++c)
                Rn[r][c] = R[r][0] * A[0][c] + R[r][1] * A[1][c] + R[r][2] * A[2][c];
        }
        std::copy(&Rn[0][0], &Rn[0][0] + 9, &R[0][0]);
        add_mass(kArm5Masses[i], kArm5Centres + 3 * i, nullptr);
    }
    add_mass(m, nullptr, c_mm);
    return V;
}

// Holding torque of a point mass m at c [mm] in the flange frame, from the host's kinematics of
// mcb.robotModelCode (joint angles offset by `turn` [deg]).
Vec6 point_load_torque(const double q_deg[6], const double c_mm[3], double m, const Vec3 &g,
                       double rad_per_deg = kPi / 180.0, const double turn[6] = nullptr) {
    return gradient(
        [&](const long double th[6]) {
            double q[6];
            for (int i = 0; i < 6; ++i)
                q[i] = static_cast<double>((th[i] + (turn ? turn[i] * rad_per_deg : 0.0)) * 180.0L /
                                           kPi);
            const Trsf T = kxsim::flange_transform(q);
            long double V = 0;
            for (int r = 0; r < 3; ++r)
                V -= m * g[r] *
                     (T.pos.v[r] + T.rot.r[3 * r] * c_mm[0] + T.rot.r[3 * r + 1] * c_mm[1] +
                      T.rot.r[3 * r + 2] * c_mm[2]) *
                     1e-3;
            return V;
        },
        q_deg, rad_per_deg);
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

// The 5-kg arm's gravity torque, payload included, equals the gradient of its potential energy
// for 1000 random poses and payloads on the floor, wall, ceiling and at arbitrary angles. For every
// other family, in the same states, the payload adds exactly the holding torque of a point mass at
// the flange (model code 3 is the 3-kg chain with joints 1, 2, 4 and 6 turned by -180 deg).
TEST_F(Gravity, TorqueIsThePotentialGradientAndPayloadAPointMass) {
    const uint32_t codes[] = {0, 101, 150, 5000},
                   families[] = {1,   2,   3,   50,  201, 202, 250, 301,
                                 302, 350, 450, 702, 703, 901, 903, 1050};
    const double fixed[3] = {0, 90, 180}, turn3[6] = {-180, -180, 0, -180, 0, -180},
                 bare[4] = {0, 0, 0, 0};
    for (int n = 0; n < 1000; ++n) {
        const double tilt = n % 4 < 3 ? fixed[n % 4] : uniform(-360, 360),
                     rot = n % 4 < 3 ? 0.0 : uniform(-360, 360);
        const Vec3 g = gravity(tilt, rot);
        double q[6], out[6], unloaded[6];
        random_pose(q);
        const double load[4] = {uniform(-150, 150), uniform(-150, 150), uniform(-50, 250),
                                n % 5 == 0 ? 0.0 : uniform(0, 6)};
        start(codes[n % 4]);
        angles(tilt, rot);
        ASSERT_EQ(kxmcGravityTorque(q, load, out), 0);
        expect_near(
            out,
            gradient([&](const long double th[6]) { return arm_potential(th, load[3], load, g); },
                     q, kModelDegree),
            1e-9, "case " + std::to_string(n));
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
        expect_near(out, n % 17 < 7 ? point_load_torque(q, c, mass, gravity(m[0], m[1])) : Vec6{},
                    2e-5, "code " + std::to_string(code) + " tilt " + std::to_string(m[0]));
    }
}

}  // namespace
