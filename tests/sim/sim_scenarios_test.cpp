// Integration tests of the arm simulator: the library's per-cycle path closing the loop around
// a simulated arm. They assert conclusions (no false alarm, detection and reaction, drift),
// not exact figures.
//
// Durations: the no-impact program runs 60 s simulated in optimised builds and 6 s in debug
// (sanitizer) builds; KXSIM_TEST_SECONDS overrides both.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "sim/plant.hpp"
#include "sim/report.hpp"
#include "sim/scenarios.hpp"
#include "simhost/kxsimhost.hpp"

namespace {

using namespace kxsim;

double program_seconds() {
    const char *s = std::getenv("KXSIM_TEST_SECONDS");
    if (s && std::atof(s) > 0.0) return std::atof(s);
#ifdef NDEBUG
    return 60.0;
#else
    return 6.0;
#endif
}

CommonOptions common(const std::string &root, uint64_t seed = 1) {
    CommonOptions c;
    c.seed = seed;
    c.config_root = root;
    return c;
}

// ---- No false alarm over a long program at every level -----------------------------------------

class NoImpactProgram : public ::testing::TestWithParam<float> {};

TEST_P(NoImpactProgram, RaisesNoCollisionAtAnyLevel) {
    CollisionOptions o;
    o.common = common(kxsim_test::make_temp_dir("kxsim-test"));
    o.level = GetParam();
    o.duration = program_seconds();
    const CollisionRun run = run_collision_once(o, false, true);
    EXPECT_EQ(count_alarms(run, "residual"), 0);
    EXPECT_EQ(count_alarms(run, "dual-encoder"), 0);
    // The program really ran the whole time and moved the arm.
    ASSERT_FALSE(run.trace.empty());
    EXPECT_EQ(run.trace.back().state, 2);
    double travel = 0.0;
    for (std::size_t i = 1; i < run.trace.size(); ++i)
        travel += std::fabs(run.trace[i].q[0] - run.trace[i - 1].q[0]);
    EXPECT_GT(travel, 20.0 * o.duration);  // [deg] joint 1 keeps moving
}

INSTANTIATE_TEST_SUITE_P(Levels1To10, NoImpactProgram, ::testing::Range(1.0f, 10.5f, 1.0f));

// ---- Impact: detection and the host's reaction ------------------------------------------------

// Reaction setting, what the library asks of the host, and the robot state after it.
struct ReactionCase { uint8_t reaction; const char *halt_call; int32_t halted_state; };

class ImpactReaction : public ::testing::TestWithParam<ReactionCase> {};

TEST_P(ImpactReaction, ResidualDetectorReportsAndHostHalts) {
    const ReactionCase c = GetParam();
    CollisionOptions o;
    o.common = common(kxsim_test::make_temp_dir("kxsim-test"));
    o.reaction = c.reaction;
    o.force = 300.0;
    o.level = 3.0f;
    o.duration = 2.5;
    const CollisionResult r = run_collision(o);

    ASSERT_TRUE(r.residual.detected);
    EXPECT_TRUE(r.residual.delay_ms > 0.0 && r.residual.delay_ms < 100.0) << r.residual.delay_ms;
    EXPECT_TRUE(r.residual.joint >= 1 && r.residual.joint <= 3)
        << "the hit link is carried by joints 1 to 3";
    EXPECT_NE(r.first_detector, "none");

    // The host carried out the reaction once, followed by the configuration handling.
    ASSERT_FALSE(r.reactions.empty());
    EXPECT_EQ(r.reactions.front().what, c.halt_call);
    EXPECT_TRUE(r.halt_ms >= 0.0 && r.halt_ms < 100.0) << r.halt_ms;
    EXPECT_EQ(r.live.trace.back().state, c.halted_state);
    // Once the impact is over, the halted arm settles back where the host holds it: the
    // flange ends close to where it was at the halt, and at rest.
    const TraceRow &halt =
        r.live.trace[static_cast<std::size_t>((o.at + r.halt_ms * 1e-3) * 1000.0)];
    const TraceRow &before_end = r.live.trace[r.live.trace.size() - 100];
    const TraceRow &end = r.live.trace.back();
    auto dist = [](const TraceRow &a, const TraceRow &b) {
        return std::hypot(b.flange[0] - a.flange[0], b.flange[1] - a.flange[1],
                          b.flange[2] - a.flange[2]);
    };
    EXPECT_LT(dist(halt, end), 3.0);         // [mm]
    EXPECT_LT(dist(before_end, end), 0.5);   // [mm in the last 100 ms]

    EXPECT_EQ(r.false_alarms_residual + r.false_alarms_dual, 0);
}

INSTANTIATE_TEST_SUITE_P(PauseAndStop, ImpactReaction,
                         ::testing::Values(ReactionCase{0, "qmcPause", 3},
                                           ReactionCase{2, "qmcStop", 1}),
                         [](const ::testing::TestParamInfo<ReactionCase> &p) {
                             return std::string(p.param.halt_call);
                         });

// Sensitivity follows the level: a stronger impact or a more sensitive level is detected no
// later, and an impact well below the threshold of the least sensitive level is not.
TEST(ImpactSweep, DelayFollowsLevelAndForce) {
    CollisionOptions o;
    o.common = common(kxsim_test::make_temp_dir("kxsim-test"));
    o.duration = 1.4;
    const std::vector<SweepCell> cells = run_sweep(o, {1.0f, 10.0f}, {50.0, 200.0, 400.0});
    auto cell = [&](float level, double force) -> const SweepCell & {
        for (const SweepCell &c : cells)
            if (c.level == level && c.force == force) return c;
        throw std::runtime_error("missing cell");
    };
    EXPECT_FALSE(cell(10.0f, 50.0).residual.detected);
    for (const auto &lf : std::initializer_list<std::pair<float, double>>{
             {1.0f, 200.0}, {1.0f, 400.0}, {10.0f, 400.0}})
        ASSERT_TRUE(cell(lf.first, lf.second).residual.detected) << lf.first << " " << lf.second;
    EXPECT_LE(cell(1.0f, 400.0).residual.delay_ms, cell(1.0f, 200.0).residual.delay_ms);
    EXPECT_LE(cell(1.0f, 400.0).residual.delay_ms, cell(10.0f, 400.0).residual.delay_ms);
}

// ---- Hand guiding: the released arm comes to rest unless the payload is wrong ----------------

class HandguideDrift : public ::testing::TestWithParam<int> {};

TEST_P(HandguideDrift, WrongPayloadDriftsExactModelRests) {
    HandguideOptions o;
    o.common = common(kxsim_test::make_temp_dir("kxsim-test"));
    o.mode = GetParam();
    const HandguideResult exact = run_handguide(o);
    o.payload_error = 1.2;
    const HandguideResult heavy = run_handguide(o);

    EXPECT_GT(exact.travel_mm, 50.0);  // the push moved the arm
    EXPECT_LT(exact.drift_mm, 1.0);    // [mm over the last second]
    EXPECT_GT(heavy.drift_mm, 5.0);
    EXPECT_GT(heavy.drift_mm, 10.0 * exact.drift_mm);
    // The heavy payload sinks: the flange ends lower than with the exact model.
    EXPECT_LT(heavy.trace.back().flange[2], exact.trace.back().flange[2]);
}

INSTANTIATE_TEST_SUITE_P(GravityOnlyAndFullDynamics, HandguideDrift, ::testing::Values(0, 2));

// ---- Determinism --------------------------------------------------------------------------------

// Runs one collision scenario in a child process (the library's statics start from zero, as at
// load) and returns its CSV.
std::string collision_csv(uint64_t seed, const std::string &dir) {
    const std::string path = dir + "/run-" + std::to_string(seed) + "-" +
                             std::to_string(::getpid()) + "-" + std::to_string(std::rand()) +
                             ".csv";
    const pid_t pid = ::fork();
    if (pid == 0) {
        CollisionOptions o;
        o.common = common(dir + "/host-" + std::to_string(::getpid()), seed);
        o.duration = 1.2;
        const CollisionRun run = run_collision_once(o, true, false);
        ::_exit(write_trace_csv(path, run.trace) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::stringstream ss;
    ss << std::ifstream(path).rdbuf();
    return ss.str();
}

TEST(Determinism, SameSeedSameTraceOtherSeedOtherNoise) {
    const std::string dir = kxsim_test::make_temp_dir("kxsim-test");
    const std::string a = collision_csv(7, dir);
    const std::string b = collision_csv(7, dir);
    const std::string c = collision_csv(8, dir);
    ASSERT_GT(a.size(), 1000u);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

// ---- Plant: external force to joint torque ---------------------------------------------------

// J^T F of a point on each link against the virtual work of finite joint displacements:
// tau_i = F . dp/dq_i.
TEST(Plant, ForceToJointTorqueMatchesFiniteDifferences) {
    kxsim::startup(101);
    PlantConfig pc;
    ArmPlant plant(pc);
    const double base[6] = {12, -75, 80, -100, -60, 33};
    const double force[3] = {40.0, -25.0, 60.0};
    for (int link = 1; link <= 6; ++link) {
        plant.reset(base);
        const Vec6 tau = plant.force_to_joint_torque(link, force);
        for (int i = 0; i < 6; ++i) {
            const double h = 1e-4;  // [deg]
            double pp[3], pm[3], v[3], q[6];
            std::copy(base, base + 6, q);
            q[i] += h;
            plant.reset(q);
            plant.link_point(link, pp, v);
            q[i] -= 2 * h;
            plant.reset(q);
            plant.link_point(link, pm, v);
            double work = 0.0;  // [N m per rad]
            for (int k = 0; k < 3; ++k) work += force[k] * (pp[k] - pm[k]) * 1e-3 / (2 * h * kDeg);
            EXPECT_NEAR(tau[static_cast<std::size_t>(i)], work, 1e-4 * (1.0 + std::fabs(work)))
                << "link " << link << " joint " << i + 1;
        }
    }
    // The flange point is the host kinematics' flange.
    plant.reset(base);
    double p[3], v[3];
    plant.link_point(6, p, v);
    const Trsf f = kxsim::flange_transform(base);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], f.pos.v[k], 1e-6);
}

}  // namespace
