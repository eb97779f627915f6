// Rated motor torques, any-angle gravity torque, gravity dispatch by model code and mounting,
// and the end-load torque, through the simulated host against independent physics.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/installation_gravity.hpp"
#include "gravity_reference.hpp"
#include "kxmc/kxmc_gravity.h"
#include "host_fixture.hpp"

namespace {

using gravity_ref::Vec6;

void expect_near(const double *got, const Vec6 &want, double tol, const std::string &what) {
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(got[j], want[j], tol) << what << " joint " << j;
    }
}

class Gravity : public kxsim_test::HostFixture {
protected:
    void start(uint32_t code) {
        kxsim::startup(code);
        mcb.robotModelCode = code;
    }
    void angles(double tilt, double rot) {
        mcb.installTilt = tilt;
        mcb.installRot = rot;
    }
    std::mt19937 rng{20240611u};
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    void random_pose(double q[6]) {
        for (int i = 0; i < 6; ++i) q[i] = uniform(-180.0, 180.0);
    }
};

// ---- Installation gravity ---------------------------------------------------------------------

TEST(InstallationGravity, FixedMountingsAndMagnitude) {
    struct Case {
        double tilt, rot, g[3];
    };
    const Case cases[] = {{0, 0, {0, 0, -9.8}},      {90, 0, {-9.8, 0, 0}},  {180, 0, {0, 0, 9.8}},
                          {90, 90, {0, -9.8, 0}},    {-90, 0, {9.8, 0, 0}},  {360, 0, {0, 0, -9.8}}};
    for (const Case &c : cases) {
        double g[3];
        kxmc::installation_gravity(c.tilt, c.rot, g);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(g[k], c.g[k], 1e-12) << c.tilt << " " << c.rot;
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> a(-360, 360);
    for (int n = 0; n < 100; ++n) {
        double g[3];
        kxmc::installation_gravity(a(rng), a(rng), g);
        EXPECT_NEAR(std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]), 9.8, 1e-12);
    }
}

// ---- Rated torques ------------------------------------------------------------------------

TEST_F(Gravity, RatedTorqueByMotorSizeOfEachBand) {
    enum S { s14, s17, s25, s32, s40 };
    struct Row {
        uint32_t code;
        S size[6];
    };
    const Row rows[] = {
        {0, {s25, s25, s25, s14, s14, s14}},      {1, {s17, s17, s17, s14, s14, s14}},
        {100, {s17, s17, s17, s14, s14, s14}},    {101, {s25, s25, s25, s14, s14, s14}},
        {200, {s25, s25, s25, s14, s14, s14}},    {201, {s32, s32, s25, s17, s17, s17}},
        {400, {s32, s32, s25, s17, s17, s17}},    {401, {s40, s40, s32, s25, s25, s25}},
        {500, {s40, s40, s32, s25, s25, s25}},    {501, {s14, s14, s14, s14, s14, s14}},
        {600, {s14, s14, s14, s14, s14, s14}},    {601, {s25, s25, s25, s14, s14, s14}},
        {700, {s25, s25, s25, s14, s14, s14}},    {701, {s17, s17, s14, s14, s14, s14}},
        {702, {s17, s17, s17, s14, s14, s14}},    {703, {s17, s17, s17, s14, s14, s14}},
        {704, {s17, s17, s14, s14, s14, s14}},    {800, {s17, s17, s14, s14, s14, s14}},
        {801, {s17, s17, s14, s14, s14, s14}},    {900, {s17, s17, s14, s14, s14, s14}},
        {901, {s17, s17, s17, s14, s14, s14}},    {902, {s32, s32, s25, s17, s17, s17}},
        {903, {s25, s25, s25, s14, s14, s14}},    {1001, {s40, s40, s32, s25, s25, s25}},
        {1100, {s40, s40, s32, s25, s25, s25}},   {1101, {s25, s25, s25, s14, s14, s14}},
        {4000000000u, {s25, s25, s25, s14, s14, s14}},
    };
    const float rated[5] = {1.4f, 1.7f, 2.5f, 3.2f, 4.0f};
    for (const Row &r : rows) {
        start(r.code);
        mpb.ratedTorque14 = rated[s14];
        mpb.ratedTorque17 = rated[s17];
        mpb.ratedTorque25 = rated[s25];
        mpb.ratedTorque32 = rated[s32];
        mpb.ratedTorque40 = rated[s40];
        float out[6] = {};
        EXPECT_EQ(kxmcJointDefaultTorque(out), 0);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(out[j], rated[r.size[j]]) << r.code << " joint " << j;
    }
}

// ---- Any-angle gravity torque ---------------------------------------------------------------

// The 5-kg arm's gravity torque equals the derivative of its potential energy, for 1000 random
// poses, payloads and mountings (floor, wall, ceiling, arbitrary angles).
TEST_F(Gravity, AnyAngleTorqueIsThePotentialEnergyGradient) {
    const gravity_ref::Arm arm = gravity_ref::five_kg_arm();
    const uint32_t codes[] = {0, 101, 150, 5000};
    const double fixed[3][2] = {{0, 0}, {90, 0}, {180, 0}};
    for (int n = 0; n < 1000; ++n) {
        start(codes[n % 4]);
        double tilt, rot;
        if (n % 4 < 3) {
            tilt = fixed[n % 4][0];
            rot = fixed[n % 4][1];
        } else {
            tilt = uniform(-360, 360);
            rot = uniform(-360, 360);
        }
        angles(tilt, rot);
        double q[6];
        random_pose(q);
        const double load[4] = {uniform(-150, 150), uniform(-150, 150), uniform(-50, 250),
                                n % 5 == 0 ? 0.0 : uniform(0, 6)};
        double out[6];
        ASSERT_EQ(kxmcGravityTorque(q, load, out), 0);
        const Vec6 want =
            gravity_ref::gravity_torque(arm, q, load[3], load, gravity_ref::gravity(tilt, rot));
        expect_near(out, want, 1e-9, "case " + std::to_string(n));
    }
}

// For every family: the torque is linear in gravity (a tilted mounting is the floor, wall and
// side-wall torques mixed by the angles), and the payload adds exactly the holding torque of a
// point mass at the flange (from the host's kinematics).
TEST_F(Gravity, EveryFamilyLinearInGravityAndPayloadIsAPointMass) {
    const uint32_t codes[] = {1, 2, 50, 201, 202, 250, 301, 302, 350, 450, 702, 703, 901, 903, 1050};
    for (uint32_t code : codes) {
        start(code);
        for (int n = 0; n < 20; ++n) {
            double q[6];
            random_pose(q);
            const double tilt = uniform(-360, 360), rot = uniform(-360, 360);
            const double bare[4] = {0, 0, 0, 0};
            const double load[4] = {uniform(-100, 100), uniform(-100, 100), uniform(0, 200), uniform(0.5, 10)};
            double floor_t[6], wall_x[6], wall_y[6], mixed[6], loaded[6];
            angles(0, 0);
            kxmcGravityTorque(q, bare, floor_t);
            angles(90, 0);
            kxmcGravityTorque(q, bare, wall_x);
            angles(90, 90);
            kxmcGravityTorque(q, bare, wall_y);
            angles(tilt, rot);
            kxmcGravityTorque(q, bare, mixed);
            kxmcGravityTorque(q, load, loaded);
            const double t = tilt * gravity_ref::kPi / 180, r = rot * gravity_ref::kPi / 180;
            Vec6 lin{};
            for (int j = 0; j < 6; ++j)
                lin[j] = std::cos(t) * floor_t[j] + std::sin(t) * std::cos(r) * wall_x[j] +
                         std::sin(t) * std::sin(r) * wall_y[j];
            expect_near(mixed, lin, 1e-9, "linearity code " + std::to_string(code));
            const Vec6 point = gravity_ref::point_load_torque(q, load, load[3], gravity_ref::gravity(tilt, rot),
                                                              gravity_ref::kModelDegree);
            for (int j = 0; j < 6; ++j) {
                EXPECT_NEAR(loaded[j] - mixed[j], point[j], 1e-8) << "payload code " << code << " joint " << j;
            }
        }
    }
}

// Model code 3 is the 3-kg chain with joints 1, 2, 4 and 6 turned by -180 degrees.
TEST_F(Gravity, ModelCode3TurnsFourJoints) {
    start(3);
    for (int n = 0; n < 50; ++n) {
        double q[6];
        random_pose(q);
        angles(uniform(-180, 180), uniform(-180, 180));
        const double bare[4] = {0, 0, 0, 0};
        const double load[4] = {30, -20, 80, 3.0};
        double a[6], b[6];
        kxmcGravityTorque(q, bare, a);
        kxmcGravityTorque(q, load, b);
        const double turned[6] = {q[0] - 180, q[1] - 180, q[2], q[3] - 180, q[4], q[5] - 180};
        const Vec6 point = gravity_ref::point_load_torque(turned, load, load[3],
                                                          gravity_ref::gravity(mcb.installTilt, mcb.installRot),
                                                          gravity_ref::kModelDegree);
        for (int j = 0; j < 6; ++j) EXPECT_NEAR(b[j] - a[j], point[j], 1e-8) << n << " joint " << j;
    }
}

// ---- Dispatch by model code and mounting ------------------------------------------------------

enum class Route { kHost, kAny, kNone };
struct DispatchRow {
    uint32_t code;
    Route route;
    uint32_t passed;  // code whose gravity the host routine computes
};
const DispatchRow kDispatch[] = {
    {0, Route::kHost, 101},     {1, Route::kHost, 1},       {2, Route::kHost, 2},
    {3, Route::kAny, 0},        {4, Route::kHost, 1},       {100, Route::kHost, 1},
    {101, Route::kHost, 101},   {102, Route::kHost, 102},   {103, Route::kAny, 0},
    {104, Route::kHost, 101},   {200, Route::kHost, 101},   {201, Route::kHost, 201},
    {202, Route::kHost, 202},   {203, Route::kHost, 201},   {300, Route::kHost, 201},
    {301, Route::kHost, 301},   {302, Route::kHost, 302},   {399, Route::kHost, 301},
    {401, Route::kHost, 401},   {402, Route::kHost, 402},   {480, Route::kHost, 401},
    {501, Route::kNone, 0},     {550, Route::kNone, 0},     {700, Route::kNone, 0},
    {701, Route::kAny, 0},      {750, Route::kAny, 0},      {800, Route::kAny, 0},
    {801, Route::kNone, 0},     {900, Route::kNone, 0},     {901, Route::kHost, 101},
    {1001, Route::kAny, 0},     {1100, Route::kAny, 0},     {1200, Route::kHost, 101},
};

TEST_F(Gravity, NewGravityTorqueDispatchPerCodeAndMounting) {
    const double mount_angles[3][2] = {{0, 0}, {90, 0}, {180, 0}};
    for (const DispatchRow &row : kDispatch) {
        for (uint8_t mounting = 0; mounting <= 5; ++mounting) {
            start(row.code);
            double q[6];
            random_pose(q);
            const double load[4] = {12, -34, 56, 2.5};
            // Angles that are none of the fixed mountings: the host routine must not see them.
            angles(33, -47);
            mcb.installPos = mounting;
            double out[6] = {7, 7, 7, 7, 7, 7};
            ASSERT_EQ(kxmcNewGravityTorque(q, load, out), 0);
            const std::string what = "code " + std::to_string(row.code) + " mounting " + std::to_string(mounting);
            if (row.route == Route::kNone || mounting > 3) {
                for (double o : out) EXPECT_EQ(o, 7.0) << what;
                continue;
            }
            double want[6];
            if (row.route == Route::kAny || mounting == 3) {
                kxmcGravityTorque(q, load, want);
            } else {
                mcb.robotModelCode = row.passed;
                angles(mount_angles[mounting][0], mount_angles[mounting][1]);
                kxmcGravityTorque(q, load, want);
            }
            for (int j = 0; j < 6; ++j) EXPECT_NEAR(out[j], want[j], 1e-9) << what << " joint " << j;
        }
    }
}

// ---- End load ---------------------------------------------------------------------------------

TEST_F(Gravity, EndLoadIsJacobianTransposeTimesWeightWrench) {
    const uint32_t codes[] = {1, 102, 201, 301, 702, 703, 750};
    const double mountings[][2] = {{0, 0}, {30, 45}, {90, 0}, {180, 0}, {-75, 200}};  // tilt, rot
    for (uint32_t code : codes) {
        start(code);
        for (const auto &m : mountings) {
            for (int n = 0; n < 10; ++n) {
                double q[6];
                random_pose(q);
                const double c[3] = {uniform(-120, 120), uniform(-120, 120), uniform(0, 250)};
                const double mass = uniform(0.2, 8);
                double out[6];
                ASSERT_EQ(kxmcendload(-m[0], m[1], q, c[0], c[1], c[2], mass, out, static_cast<int32_t>(code)), 0);
                const Vec6 want = gravity_ref::point_load_torque(q, c, mass, gravity_ref::gravity(m[0], m[1]));
                expect_near(out, want, 2e-5,
                            "code " + std::to_string(code) + " tilt " + std::to_string(m[0]));
            }
        }
    }
}

// The end load carries the same weight direction as the dynamics model: arm gravity torque with
// the payload minus without it, for the gravity-test codes (the 5-kg default set for 102).
TEST_F(Gravity, EndLoadAgreesWithTheDynamicsModelsPayload) {
    start(102);
    for (int n = 0; n < 50; ++n) {
        double q[6];
        random_pose(q);
        const double tilt = uniform(-360, 360), rot = uniform(-360, 360);
        angles(tilt, rot);
        const double load[4] = {uniform(-80, 80), uniform(-80, 80), uniform(0, 150), uniform(0.5, 5)};
        const double bare[4] = {0, 0, 0, 0};
        double with[6], without[6], end[6];
        kxmcGravityTorque(q, load, with);
        kxmcGravityTorque(q, bare, without);
        kxmcendload(-tilt, rot, q, load[0], load[1], load[2], load[3], end, 102);
        for (int j = 0; j < 6; ++j) EXPECT_NEAR(end[j], with[j] - without[j], 5e-5) << n << " joint " << j;
    }
}

TEST_F(Gravity, EndLoadPureForceAndCodesWithoutJacobian) {
    start(102);
    const double q[6] = {10, -80, 60, -30, 90, 15};
    double out[6];
    kxmcendload(0, 0, q, 0, 0, 0, 2.0, out, 102);
    const double c0[3] = {0, 0, 0};
    expect_near(out, gravity_ref::point_load_torque(q, c0, 2.0, gravity_ref::gravity(0, 0)), 2e-5, "pure force");
    EXPECT_NEAR(out[5], 0.0, 1e-9);  // a force through the flange centre has no moment about joint 6
    for (int32_t code : {0, 2, 101, 202, 302, 401, 550, 701, 901, -1}) {
        double o[6] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(kxmcendload(0, 0, q, 10, 20, 30, 2.0, o, code), 0);
        for (double v : o) EXPECT_EQ(v, 0.0) << code;
    }
}

}  // namespace
