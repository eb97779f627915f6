// The soak: a short run passes and repeats exactly, and each of its checks catches the fault it
// is there for when one is put into the host records.
#include "sim/soak.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmcforcetorque.h"
#include "simhost/kxsimhost.hpp"

namespace {

using namespace kxsim;

SoakOptions options(double seconds, uint64_t seed = 1) {
    SoakOptions o;
    o.common.seed = seed;
    o.common.config_root = kxsim_test::make_temp_dir("kxsim-soak");
    o.duration = seconds;
    o.command_interval = 0.05;  // many commands in a short run
    o.phase_scale = 0.1;        // program 1-6 s, stopped 0.1-0.5 s, drag 0.2-0.8 s
    return o;
}

// Issued and invalid commands of each kind.
std::map<std::string, std::pair<uint64_t, uint64_t>> counts(const SoakResult &r) {
    std::map<std::string, std::pair<uint64_t, uint64_t>> by_kind;
    for (const SoakCommandCount &c : r.commands) by_kind[c.kind] = {c.issued, c.invalid};
    return by_kind;
}

TEST(Soak, TwentySecondsOfCommandsPassEveryCheck) {
    const SoakResult r = run_soak(options(20.0));
    for (const SoakFailure &f : r.failures) {
        ADD_FAILURE() << "cycle " << f.cycle << " " << f.check << ": " << f.detail;
    }
    EXPECT_TRUE(r.passed());
    EXPECT_EQ(r.cycles, 20000u);
    EXPECT_EQ(r.cycles_program + r.cycles_stopped + r.cycles_drag, r.cycles);
    // Every command kind was issued, and every kind that has invalid arguments got some.
    const auto by_kind = counts(r);
    for (const auto &[kind, count] : by_kind) EXPECT_GT(count.first, 0u) << kind;
    for (const char *k :
         {"collision level", "collision reaction", "torque model", "drag power limit",
          "friction law gains", "interference drag", "drag lock gains"}) {
        EXPECT_GT(by_kind.at(k).second, 0u) << k;
    }
    EXPECT_EQ(by_kind.at("collision level resume").second, 0u);
    // The arm really moved under the library's command words, in every phase.
    EXPECT_GT(r.cycles_program, 5000u);
    EXPECT_GT(r.cycles_drag, 200u);
    EXPECT_GT(r.peak_command, 50.0);
    EXPECT_GE(r.settings_reads, 600u);
}

TEST(Soak, SameSeedRepeatsExactlyAndAnotherSeedDiffers) {
    const SoakResult a = run_soak(options(3.0, 7));
    const SoakResult b = run_soak(options(3.0, 7));
    const SoakResult c = run_soak(options(3.0, 8));
    EXPECT_EQ(a.fingerprint, b.fingerprint);
    EXPECT_NE(a.fingerprint, c.fingerprint);
    EXPECT_EQ(counts(a), counts(b));
    EXPECT_EQ(a.cycles_drag, b.cycles_drag);
}

// A fault put into the records after one cycle: the check that must see it, how often.
struct Injected {
    const char *name;
    std::function<void()> fault;
    const char *check;           // nullptr: nothing may fail
    uint64_t failures;           // exact count, 0 for "at least one"
    const char *also = nullptr;  // another check the fault may fail as well
    double seconds = 2.0;        // soak length: a fault that shows only in some commands needs more
};

void PrintTo(const Injected &in, std::ostream *os) { *os << in.name; }

// Appends lines to the host's user settings file, as a broken writer would leave them.
void append_to_user_settings(const char *text) {
    std::ofstream(config_file("/root/robot/user.config"), std::ios::app) << text;
}

class SoakCatches : public ::testing::TestWithParam<Injected> {};

TEST_P(SoakCatches, TheFaultInItsCheckOnly) {
    const Injected &in = GetParam();
    SoakOptions o = options(in.seconds);
    constexpr uint64_t kAt = 1500;
    o.after_cycle = [&in](uint64_t cycle) {
        if (cycle == kAt) {
            in.fault();
        }
    };
    const SoakResult r = run_soak(o);
    if (in.check == nullptr) {
        EXPECT_TRUE(r.passed());
        return;
    }
    if (in.failures == 0) {
        EXPECT_GE(r.failures_of(in.check), 1u);
    } else {
        EXPECT_EQ(r.failures_of(in.check), in.failures);
    }
    const uint64_t also = in.also != nullptr ? r.failures_of(in.also) : 0;
    EXPECT_EQ(r.failure_count, r.failures_of(in.check) + also) << "other checks failed too";
    ASSERT_FALSE(r.failures.empty());
    EXPECT_GE(r.failures.front().cycle, kAt);
}

const double kNan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Faults, SoakCatches,
    ::testing::Values(
        Injected{"NaNModelTorque", [] { mpb.modelJointTorque[2] = static_cast<float>(kNan); },
                 "torque", 1},
        Injected{"InfiniteMeasuredTorque",
                 [] { mpb.measuredJointTorque[0] = std::numeric_limits<float>::infinity(); },
                 "torque", 1},
        Injected{"NaNResidual", [] { forceCollisionError[5] = kNan; }, "torque", 1},
        Injected{"CommandWordOverLimit", [] { how.jointTorqueCmd[4] = 3001; }, "command", 1},
        Injected{"CommandWordUnderLimit", [] { how.jointTorqueCmd[1] = -3001; }, "command", 1},
        Injected{"CommandWordAtLimit", [] { how.jointTorqueCmd[3] = -3000; }, nullptr, 0},
        Injected{"LibraryPause", [] { (void)qmcPause(); }, "reaction", 1},
        Injected{"LibraryDragSwitch", [] { (void)qmcDragSwitch(1); }, "reaction", 1},
        Injected{"CollisionCode", [] { mcb.collisionErrorCode = KXMC_COLLISION_NONE + 3; },
                 "reaction", 1},
        Injected{"SettingsValueNotANumber",
                 [] {
                     (void)ConfigWriteEntry("/root/robot/user.config", "USER_PARAM", "SOAK_TEST",
                                            static_cast<float>(kNan));
                 },
                 "settings", 0},
        Injected{"SettingsValueText", [] { append_to_user_settings("[SOAK]\nLEVEL=high\n"); },
                 "settings", 0},
        Injected{"SettingsKeyTwice", [] { append_to_user_settings("[SOAK]\nLEVEL=1\nLEVEL=2\n"); },
                 "settings", 0},
        // With no joints to validate the setters take invalid arrays: the answers are wrong, and
        // what they persist may not read back as numbers.
        Injected{"SettersValidateNoJoint", [] { mpb.jointNum = 0; }, "answer", 0, "settings",
                 12.0}),
    [](const ::testing::TestParamInfo<Injected> &p) { return std::string(p.param.name); });

}  // namespace
