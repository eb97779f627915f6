// Integration tests of the arm simulator: the library's per-cycle path closing the loop around
// the simulated arm. They assert conclusions of short runs (no false alarm, detection and
// reaction, drift, forces that follow speed and level), not exact figures.
//
// Durations: the no-impact program runs 30 s simulated in optimised builds and 6 s in debug
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

#include "host_fixture.hpp"
#include "sim/report.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

double program_seconds() {
    const char *s = std::getenv("KXSIM_TEST_SECONDS");
    if (s && std::atof(s) > 0.0) return std::atof(s);
#ifdef NDEBUG
    return 30.0;
#else
    return 6.0;
#endif
}

CommonOptions common(uint64_t seed = 1) {
    CommonOptions c;
    c.seed = seed;
    c.config_root = kxsim_test::make_temp_dir("kxsim-test");
    return c;
}

// ---- No false alarm over a long program at every level, default model error ---------------

class NoImpactProgram : public ::testing::TestWithParam<float> {};

TEST_P(NoImpactProgram, RaisesNoCollisionAtAnyLevel) {
    CollisionOptions o;
    o.common = common();
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

// ---- A rigid box on the path: detection and the host's reaction -------------------------------

struct ReactionCase {
    uint8_t reaction;
    const char *halt_call;
    int32_t halted_state;
};

class BoxReaction : public ::testing::TestWithParam<ReactionCase> {};

TEST_P(BoxReaction, DetectedAndHostHalts) {
    const ReactionCase c = GetParam();
    CollisionOptions o;
    o.common = common();
    o.reaction = c.reaction;
    o.duration = 1.6;
    o.scan_doubled_error = false;
    const CollisionResult r = run_collision(o);

    // The tool leads the motion: it meets the box where and when it was placed.
    ASSERT_TRUE(r.live.impact);
    EXPECT_NEAR(r.live.onset, o.at, 0.02);
    EXPECT_GT(r.live.contact_speed, 100.0);  // [mm/s]
    ASSERT_TRUE(r.residual.detected || r.dual.detected);
    for (const DetectorReport &d : {r.residual, r.dual}) {
        if (d.detected) {
            EXPECT_GT(d.delay_ms, 0.0);
            EXPECT_LT(d.delay_ms, 50.0);
        }
    }
    EXPECT_NE(r.first_detector, "none");

    ASSERT_FALSE(r.reactions.empty());
    EXPECT_EQ(r.reactions.front().what, c.halt_call);
    EXPECT_GE(r.halt_ms, 0.0);
    EXPECT_LT(r.halt_ms, 50.0);
    EXPECT_EQ(r.live.trace.back().state, c.halted_state);
    // The halted arm comes to rest against the box: no travel in the last 100 ms.
    const TraceRow &before_end = r.live.trace[r.live.trace.size() - 100];
    const TraceRow &end = r.live.trace.back();
    EXPECT_LT(std::hypot(end.flange[0] - before_end.flange[0], end.flange[1] - before_end.flange[1],
                         end.flange[2] - before_end.flange[2]),
              0.5);
    EXPECT_GT(r.live.peak_force, 0.0);
    EXPECT_GT(r.live.impulse, 0.0);
    EXPECT_EQ(r.false_alarms_residual + r.false_alarms_dual, 0);
}

INSTANTIATE_TEST_SUITE_P(PauseAndStop, BoxReaction,
                         ::testing::Values(ReactionCase{0, "qmcPause", 3},
                                           ReactionCase{2, "qmcStop", 1}),
                         [](const ::testing::TestParamInfo<ReactionCase> &p) {
                             return std::string(p.param.halt_call);
                         });

// Sensitivity follows the level: a stronger scripted impact or a more sensitive level is
// detected no later, and an impact well below the least sensitive level's threshold is not.
TEST(ImpactSweep, DelayFollowsLevelAndForce) {
    CollisionOptions o;
    o.common = common();
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

// ---- Safety table: body regions at levels and speeds ----------------------------------------

// Every asked row exists with contact and detection; the contact speed grows with the programmed
// speed, a less sensitive level is detected no sooner, the arm halted on the region presses no
// harder than at the peak, and the verdict is the peak against the region's transient limit.
// (The peak itself need not grow with speed: a fast contact can trip a quicker detector.)
TEST(SafetyTable, RowsFollowSpeedAndLevel) {
    SafetyOptions o;
    o.common = common();
    o.regions = {"chest", "hand", "upper-arm"};
    o.levels = {1.0f, 10.0f};
    o.speeds = {20.0, 40.0, 60.0};
    o.after = 0.2;
    const std::vector<SafetyRow> rows = run_safety(o);
    ASSERT_EQ(rows.size(), 18u);
    auto row = [&](const std::string &region, float level, double speed) -> const SafetyRow & {
        for (const SafetyRow &r : rows)
            if (r.region == region && r.level == level && r.speed == speed) return r;
        throw std::runtime_error("missing row");
    };
    for (const std::string region : {"chest", "hand", "upper-arm"}) {
        SCOPED_TRACE(region);
        const BodyRegion &b = *find_body_region(region);
        for (float level : o.levels) {
            for (std::size_t s = 0; s < o.speeds.size(); ++s) {
                const SafetyRow &r = row(region, level, o.speeds[s]);
                SCOPED_TRACE(::testing::Message() << level << " " << o.speeds[s]);
                ASSERT_TRUE(r.contact);
                ASSERT_TRUE(r.detected);
                EXPECT_GT(r.delay_ms, 0.0);
                EXPECT_LT(r.delay_ms, 100.0);
                EXPECT_EQ(r.limit, b.transient);
                EXPECT_EQ(r.held_limit, b.quasi_static);
                EXPECT_EQ(r.within(), r.peak <= b.transient);
                EXPECT_LE(r.held, r.peak);
                if (s > 0) {
                    EXPECT_GT(r.contact_speed, row(region, level, o.speeds[s - 1]).contact_speed);
                }
            }
        }
        for (double speed : o.speeds) {
            EXPECT_GE(row(region, 10.0f, speed).delay_ms, row(region, 1.0f, speed).delay_ms);
        }
    }
    SafetyOptions unknown = o;
    unknown.regions = {"elbow"};
    EXPECT_THROW(run_safety(unknown), std::runtime_error);
}

// ---- Hand guiding: the released arm rests unless the payload is wrong ---------------------------

// The same push on the exact model and with a too heavy payload; the plant's joint friction
// follows its scale, so the same push moves a stiffer arm less.
class HandguideDrift : public ::testing::TestWithParam<int> {};

TEST_P(HandguideDrift, WrongPayloadDriftsExactModelRestsStifferArmMovesLess) {
    HandguideOptions o;
    o.common = common();
    o.common.model_error = 0.0;
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
    o.payload_error = 1.0;
    o.common.friction_scale = {2, 2, 2, 2, 2, 2};
    o.duration = 1.6;  // the travel is taken at the release
    EXPECT_LT(run_handguide(o).travel_mm, 0.8 * exact.travel_mm);
}

INSTANTIATE_TEST_SUITE_P(GravityOnlyAndFullDynamics, HandguideDrift, ::testing::Values(0, 2));

// ---- Friction identification: the host's speed ladder on the flange joint ---------------------

// The curve identified through the per-cycle control holds the plant's friction (the drive law
// of the plant's description) within 10 % at each of the 20 test speeds, and the verdict passes
// the joint; with the plant's friction doubled the verdict fails it, while the curve still
// follows the plant.
TEST(FrictionIdentification, RecoversThePlantsCurveAndFailsDoubledFriction) {
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        FrictionIdOptions o;
        o.common = common();
        o.common.friction_scale[5] = scale;
        const JointFriction &law = find_drive(find_arm(o.common.model)->motor[5])->friction;
        const FrictionIdResult r = run_frictionid(o);
        EXPECT_EQ(r.status, scale == 1.0 ? 0 : 1);
        EXPECT_EQ(r.alarms, 0);
        ASSERT_EQ(r.points.size(), 20u);
        for (const FrictionIdPoint &p : r.points) {
            const double plant = scale * law.torque(p.speed * kDeg);
            EXPECT_NEAR(p.identified, plant, 0.1 * std::fabs(plant)) << p.speed << " deg/s";
        }
    }
}

// ---- Determinism --------------------------------------------------------------------------------

// Runs one collision scenario in a child process (the library's statics start from zero, as at
// load) and returns its CSV.
std::string collision_csv(uint64_t seed, double model_error, const std::string &dir) {
    const std::string path =
        dir + "/run-" + std::to_string(seed) + "-" + std::to_string(model_error) + ".csv";
    const pid_t pid = ::fork();
    if (pid == 0) {
        CollisionOptions o;
        o.common = common(seed);
        o.common.model_error = model_error;
        o.duration = 1.0;
        const CollisionRun run = run_collision_once(o, true, false);
        ::_exit(write_trace_csv(path, run.trace) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0) << "the run failed or its trace was not written";
    std::stringstream ss;
    ss << std::ifstream(path).rdbuf();
    return ss.str();
}

TEST(Determinism, SameSeedSameTraceOtherSeedOrErrorOtherTrace) {
    const std::string dir = kxsim_test::make_temp_dir("kxsim-test");
    const std::string a = collision_csv(7, 1.0, dir);
    ASSERT_GT(a.size(), 1000u);
    EXPECT_EQ(a, collision_csv(7, 1.0, dir));
    EXPECT_NE(a, collision_csv(8, 1.0, dir));
    EXPECT_NE(a, collision_csv(7, 0.0, dir));
}

}  // namespace

// The tool on the wrist sensor from three held poses of the plant: mass within 1 %, centre within
// 2 mm, the sensor's bias within its counts (two for moments, whose offset carries the centre's
// error times the weight); the identified load then cancels the tool.
TEST(Toolload, IdentifiesTheToolAndTheSensorBias) {
    ToolloadOptions o;
    o.common.config_root = kxsim_test::make_temp_dir();
    const ToolloadResult r = run_toolload(o);
    ASSERT_EQ(r.status, 0);
    EXPECT_NEAR(r.mass, o.mass, 0.01 * o.mass);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.centre[k], r.true_centre[k], 2.0) << k;
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(r.offsets[k], o.bias[k], k < 3 ? r.force_count : 2 * r.moment_count) << k;
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.residual[k], 0.0, k < 3 ? 0.2 : 0.01) << k;
}
