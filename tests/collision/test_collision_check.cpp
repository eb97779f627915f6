// The per-cycle collision check: reactions, counting rules, gates, allowance window, hold-off,
// error logging, and a scripted program run against an independent torque model.
#include <algorithm>
#include <cmath>
#include <deque>

#include "collision_fixture.hpp"

namespace collision_test {
namespace {

using Logs = std::vector<std::pair<int, std::string>>;

Logs log_pairs() {
    Logs out;
    for (const kxsim::LogLine &l : kxsim::log_lines()) out.emplace_back(l.level, l.text);
    return out;
}

// ---- Reactions ----------------------------------------------------------------------------

struct ReactionCase {
    bool tcp;
    uint8_t reaction, check_mode;
};  // check mode 2: a stop also hands over to drag

// Host calls (Write_Log included, in order) and log lines of one reaction of joint 3 or the TCP.
void expected_reaction(const ReactionCase &c, Names *calls, Logs *logs) {
    const uint8_t r = c.reaction;
    if (r == 1 || r > 5) return;  // a warning only
    *calls = r == 0 ? kPause : kStop;
    const auto log = [&](int level, const std::string &text) {
        calls->push_back("Write_Log");
        logs->emplace_back(level, text);
    };
    const std::string flag = "mcb.collisionPauseFlag = :" + std::to_string(r);
    if (c.tcp && r <= 2) log(2, "TCP Collision " + flag);
    if (r >= 3 || (r == 2 && c.check_mode == 2)) {
        calls->push_back("qmcDragSwitch");
        log(2, std::string(c.tcp ? "TCP " : "") + (r == 2 ? "safetyStopEnable " : "") +
                   "Collision After to DragMode " + flag);
    }
    if (!c.tcp) log(4, "collisionError:3");
}

const ReactionCase kReactionCases[] = {{false, 0, 0}, {false, 1, 0}, {false, 2, 0}, {false, 2, 2},
                                       {false, 3, 0}, {false, 4, 1}, {false, 5, 0}, {false, 9, 0},
                                       {true, 0, 0},  {true, 1, 0},  {true, 2, 0},  {true, 2, 2},
                                       {true, 3, 0},  {true, 4, 0},  {true, 5, 0},  {true, 9, 0}};

class Reaction : public CollisionFixture, public ::testing::WithParamInterface<ReactionCase> {};

TEST_P(Reaction, HostCallsCodesAndFlags) {
    const ReactionCase &c = GetParam();
    mpb.collisionCountLimit = 1;
    mcb.collisionPauseFlag = c.reaction;
    mcb.collisionCheckMode = c.check_mode;
    if (c.tcp) {
        // TCP-only mode: joint limits far below the residuals must not count, and of the two
        // forces out of range only the first counts (one reaction, not two).
        const float joint[6] = {0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f};
        const float tcp[6] = {1e9f, 1.0f, 1.0f, 1e9f, 1e9f, 1e9f};
        configure(2, joint, tcp);
        for (int j = 0; j < 3; ++j) how.jointCurrent[j] = current_for(j, 0.3 * rated[j]);
    } else {
        mcb.customCollisionMode = 1;  // joint limits far away: the custom part stays quiet
        drive_residual(2, 1.5);
    }
    kxmcCheckForCollisionError();

    if (c.tcp) {
        ASSERT_GT(std::fabs(mcb.tcpForceEstimate[1]), 1.0f);
        ASSERT_GT(std::fabs(mcb.tcpForceEstimate[2]), 1.0f);
    }
    Names want, calls;
    Logs want_logs;
    expected_reaction(c, &want, &want_logs);
    for (const kxsim::Call &call : kxsim::journal()) {
        if (call.name != "ConfigWriteEntry") calls.push_back(call.name);
    }
    EXPECT_EQ(calls, want);
    EXPECT_EQ(log_pairs(), want_logs);
    const bool acted = !want.empty();
    const bool drag = std::count(want.begin(), want.end(), "qmcDragSwitch") > 0;
    const uint32_t code = c.tcp ? KXMC_COLLISION_TCP : KXMC_COLLISION_NONE + 3;
    EXPECT_EQ(mcb.collisionState, 1);
    EXPECT_EQ(mcb.collisionErrorCode, acted ? code : KXMC_COLLISION_NONE);
    EXPECT_EQ(mcb.warningCode, acted ? 0u : 0x22000003u);
    EXPECT_EQ(mcb.frictionCompOn, drag ? 0 : 1);
    // A stop ends the custom check; a pause or a warning keeps it armed.
    EXPECT_EQ(mcb.customCollisionMode, c.reaction == 0 || !acted ? (c.tcp ? 2 : 1) : 0);
    const int32_t after[6] = {0, 0, 0, 1000, 5000, 1234};  // [cycles] drag time per reaction
    EXPECT_EQ(CollisionStartFlag, c.reaction == 4 || c.reaction == 5);
    EXPECT_EQ(CollisionAfterTime, c.reaction <= 5 ? after[c.reaction] : 0);
    for (const kxsim::Call &call : kxsim::journal()) {
        EXPECT_EQ(call.args, call.name == "doConfigHandle"  ? std::vector<double>({1, 1})
                             : call.name == "qmcDragSwitch" ? std::vector<double>({1})
                                                            : call.args);
    }
    EXPECT_EQ(mpb.collisionCounter[2], 0);
    if (!c.tcp) {
        cycles(2);  // the joint's error code is logged once, not again while it stands
        const Logs logs = log_pairs();
        EXPECT_EQ(
            std::count_if(logs.begin(), logs.end(),
                          [](const auto &l) { return l.second.rfind("collisionError:", 0) == 0; }),
            acted ? 1 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(AllReactions, Reaction, ::testing::ValuesIn(kReactionCases));

// ---- Counting rules ---------------------------------------------------------------------

// Only the first exceeding joint counts; one at level 100 never counts but ends the search.
TEST_F(CollisionFixture, OnlyTheFirstExceedingJointCountsAndLevelHundredNever) {
    mpb.collisionCountLimit = 100;
    mpb.collisionLevel[0] = 100.0f;
    mpb.collisionCounter[4] = 2;
    drive_residual(0, 1.5);
    drive_residual(4, -1.5);
    cycles(10);
    EXPECT_EQ(mpb.collisionCounter[0], 0);
    EXPECT_EQ(mpb.collisionCounter[4], 2);
    mpb.collisionLevel[0] = 1.0f;
    cycles(2);
    EXPECT_EQ(mpb.collisionCounter[0], 2);
    EXPECT_EQ(mpb.collisionCounter[4], 2);  // kept, neither counted nor cleared
    EXPECT_TRUE(kxsim::action_names().empty());
}

// A closed gate clears every counter; each opener lets an idle arm outside a segment count on.
TEST_F(CollisionFixture, GatesClearTheCountersOrLetThemCount) {
    const struct {
        const char *name;
        void (*set)();
        bool opens;  // set on an idle arm outside a segment: joint 4 counts on (2 before)
    } gates[] = {{"idle arm, program-only mode", [] { mpb.robotState = 1; }, false},
                 {"unknown check mode", [] { mcb.collisionCheckMode = 7; }, false},
                 {"segment start", [] { mpb.segmentStep = 100; }, false},
                 {"segment end", [] { mpb.segmentStep = mpb.segmentSteps - 100; }, false},
                 {"nothing exceeds", [] { how.jointCurrent[3] = 0; }, false},
                 {"force check A", [] { mcb.collisionForceCheckA = 1; }, true},
                 {"force check B in motion",
                  [] {
                      mcb.collisionForceCheckB = 1;
                      mpb.motionType = 9;
                  },
                  true},
                 {"check always",
                  [] {
                      mcb.collisionCheckMode = 1;
                      mpb.motionType = 9;
                  },
                  true}};
    for (const auto &g : gates) {
        SCOPED_TRACE(g.name);
        rearm();
        mpb.collisionCountLimit = 100;
        drive_residual(3, 1.5);
        cycles(2);
        mpb.collisionCounter[0] = 1;  // a stale count of another joint
        if (g.opens) {
            mpb.robotState = 1;  // an idle arm outside a segment
            mpb.segmentStep = 0;
        }
        g.set();
        cycles(1);
        EXPECT_EQ(mpb.collisionCounter[3], g.opens ? 3 : 0);
        EXPECT_EQ(mpb.collisionCounter[0], g.opens ? 1 : 0);
    }
}

TEST_F(CollisionFixture, SeveralReactionsInOneCycleEachCallTheHost) {
    mcb.collisionPauseFlag = 2;
    drive_residual(0, 1.5);
    mpb.collisionCounter[0] = kCountLimit - 1;
    mpb.collisionCounter[4] = kCountLimit;
    cycles(1);
    EXPECT_EQ(kxsim::action_names(), (Names{"qmcStop", "doConfigHandle", "resetWeldControlPara",
                                            "qmcStop", "doConfigHandle", "resetWeldControlPara"}));
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 5);  // the last one written
    EXPECT_EQ(mpb.collisionCounter[0] + mpb.collisionCounter[4], 0);
}

TEST_F(CollisionFixture, CustomCountIsComparedWithTheLimitAsFloat) {
    // 2^24 + 1 is no float: the count stops at 2^24, which equals the limit as a float.
    const int32_t limit = 16777217;
    mpb.collisionCountLimit = limit;
    mcb.customCollisionMode = 1;
    mcb.customJointLimit[1] = 0.0f;
    const double r[6] = {0, 1.0, 0, 0, 0, 0}, meas[6] = {};
    for (int32_t i = 0; i < limit; ++i) kxmcCustomCollisionDetectionMain(r, meas);
    drive_residual(1, 0.5);
    cycles(1);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 2);
}

// ---- Allowance window and hold-off ----------------------------------------------------

// A second jump 100 cycles into a running window: on joint 1 (or upward on joint 3) it restarts
// the window; downward on joint 3 the window runs on; +50.5 on joint 3 (50 truncated) only re-arms
// it, which ends the allowance at once; joint 4 plays no part. After the window has run out any
// jump opens a new one. The allowance covers joints 1 to 3 only. Seen in joint's counter after
// 400 cycles: the cycles counted since the last one with allowance. The window lasts its length
// plus one cycle: 200, or 250 with the curve reference exactly 1440.
TEST_F(CollisionFixture, SecondJumpRestartsRearmsOrLeavesTheWindow) {
    const struct {
        const char *name;
        double reference;
        int jump_joint, jump_at;
        double jump;  // [deg/s^2]
        int residual_joint, counted;
    } cases[] = {{"no second jump", 720, 0, 100, 0.0, 0, 199},
                 {"no second jump, reference 1440", 1440, 0, 100, 0.0, 0, 149},
                 {"no second jump, reference 1440.5", 1440.5, 0, 100, 0.0, 0, 199},
                 {"joint 1 up", 720, 0, 100, 60.0, 0, 100},
                 {"joint 3 up", 720, 2, 100, 60.0, 0, 100},
                 {"joint 3 down", 720, 2, 100, -60.0, 0, 199},
                 {"joint 3 by 50.5", 720, 2, 100, 50.5, 0, 301},
                 {"joint 4", 720, 3, 100, 60.0, 0, 199},
                 {"joint 3 down after the window", 720, 2, 250, -60.0, 0, 0},
                 {"residual on joint 4", 720, 0, 100, 0.0, 3, 400}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rearm();
        mpb.collisionCurveRef = c.reference;
        mpb.collisionCountLimit = 1000000;
        std::fill_n(mpb.feedJointAcc, 6, 0.0);
        cycles(300);  // no jump for longer than a window: armed
        const int j = c.residual_joint;
        how.jointCurrent[j] = current_for(j, mpb.collisionThreshold[j] + 0.02);
        for (int k = 1; k <= 400; ++k) {
            for (int i = 0; i < 6; ++i) {  // the first jump on joint 1 at cycle 1, then held
                const double second = i == c.jump_joint && k >= c.jump_at ? c.jump : 0.0;
                mpb.feedJointAcc[i] = ((i == 0) * 100.0 + second) * 1e-6;  // [deg/cycle^2]
            }
            kxmcCheckForCollisionError();
        }
        EXPECT_EQ(mpb.collisionCounter[j], c.counted);
    }
}

// The level threshold is the host's per-joint ratio times the joint's threshold times the level
// factor 1 + (level - 1) / 3; only a residual beyond it counts.
TEST_F(CollisionFixture, LevelThresholdScalesWithRatioAndLevel) {
    const struct {
        int joint;
        float ratio, level;
        double residual;  // in units of the joint's threshold
        bool counts;
    } cases[] = {
        {2, 2.0f, 4.0f, 3.9, false}, {2, 2.0f, 4.0f, 4.1, true},
        {4, 0.5f, 1.0f, 0.6, true},  {4, 0.5f, 1.0f, -0.45, false},
        {0, 1.0f, 7.0f, -3.1, true}, {0, 1.0f, NAN, 1.5, true}};  // no level: the base threshold
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "joint " << c.joint + 1 << " residual " << c.residual);
        rearm();
        mpb.collisionCountLimit = 100;
        float ratio[6] = {1, 1, 1, 1, 1, 1};
        ratio[c.joint] = c.ratio;
        kxsim::set_collision_ratio(ratio);
        mpb.collisionLevel[c.joint] = c.level;
        how.jointCurrent[c.joint] =
            current_for(c.joint, c.residual * mpb.collisionThreshold[c.joint]);
        cycles(1);
        EXPECT_EQ(mpb.collisionCounter[c.joint], c.counts ? 1 : 0);
    }
    // A residual exactly at the threshold, of either sign, is not over it.
    for (const int16_t current : {200, -200}) {
        rearm();
        mpb.collisionCountLimit = 100;
        how.jointCurrent[1] = current;
        mpb.collisionThreshold[1] = std::fabs(how.jointCurrent[1] * 0.001 * rated[1]);
        cycles(1);
        EXPECT_EQ(mpb.collisionCounter[1], 0) << current;
    }
}

// The error code is logged once while it stands, and again for the next error once the host has
// set it back to none.
TEST_F(CollisionFixture, EachErrorIsLoggedOnce) {
    mpb.collisionCountLimit = 1;
    mcb.collisionCheckMode = 1;  // checked in every state, the paused one too
    for (int error = 0; error < 2; ++error) {
        drive_residual(2, 1.5);
        cycles(3);
        mcb.collisionErrorCode = KXMC_COLLISION_NONE;  // the host acknowledges
        how.jointCurrent[2] = 0;
        cycles(1);
    }
    const Logs logs = log_pairs();
    EXPECT_EQ(
        std::count(logs.begin(), logs.end(), std::make_pair(4, std::string("collisionError:3"))),
        2);
}

TEST_F(CollisionFixture, NoDetectionForTwoHundredCyclesAfterResume) {
    mpb.collisionCountLimit = 1;
    mpb.robotState = 3;
    cycles(1);
    mpb.robotState = 2;
    mpb.collisionCounter[5] = 7;
    drive_residual(5, 3.0);
    cycles(200);
    EXPECT_TRUE(kxsim::action_names().empty());
    EXPECT_EQ(mpb.collisionCounter[5], 7);  // untouched during the hold-off
    cycles(1);
    EXPECT_EQ(kxsim::action_names(), kPause);
}

// ---- Scripted program run -------------------------------------------------------------

// A 10-second joint motion with a smooth torque command and velocity feed-forward. The measured
// current of each cycle is built here from the drive's own view of the current (0.7 of the
// command, joint 2 delayed by the speed-dependent lag, plus feed-forward and friction), so that
// the library's model must reproduce it.
class ProgramRun : public CollisionFixture {
   protected:
    static constexpr int kCycles = 10000;
    static constexpr int kLag = 16;  // 100 x 30 / 180

    void start() {
        mcb.frictionCompOn = 0;  // friction in the model
        mpb.jointMoveVel = 30.0;
        mpb.jointMaxSpeed[0] = 180.0;
        mpb.segmentSteps = kCycles;
        for (int j = 0; j < 6; ++j) mpb.torqueCmdGain[j] = 0.9 + 0.02 * j;
        history.clear();
    }

    // Sets the motion record, the commands and the measured currents of cycle k.
    void step(int k, double ext_torque_j2) {
        const double t = k * 0.001;
        float ff[6];
        for (int j = 0; j < 6; ++j) {
            const double amp = 40.0 - 5.0 * j;                    // [deg]
            const double w = 2.0 * 3.14159265358979 / (4.0 + j);  // [rad/s]
            mpb.targetJointPos[j] = mpb.jointPos[j] = amp * (1.0 - std::cos(w * t));
            mpb.targetJointVel[j] = mpb.actualJointVel[j] = amp * w * std::sin(w * t) * 1e-3;
            mpb.feedJointAcc[j] = mpb.targetJointAcc[j] = amp * w * w * std::cos(w * t) * 1e-6;
            how.jointTorqueCmd[j] = static_cast<int16_t>(300.0 * std::sin(w * t + j) + 50.0 * j);
            ff[j] = static_cast<float>(2000.0 * mpb.targetJointVel[j]);
        }
        kxsim::set_velocity_feedforward(ff);
        double fric[6] = {};
        frictionCompensation(mpb.targetJointVel, fric);

        history.push_back(how.jointTorqueCmd[1]);
        const int16_t delayed =
            history.size() <= 101 ? history.back() : history[history.size() - 1 - kLag];
        if (history.size() > 200) history.pop_front();
        for (int j = 0; j < 6; ++j) {
            const double cmd = j == 1 ? delayed : how.jointTorqueCmd[j];
            const double expected = std::trunc(cmd * 0.7 * mpb.torqueCmdGain[j]);
            double current = expected + ff[j] + fric[j] / 100.0 / (0.001 * rated[j]);
            current += j == 1 ? ext_torque_j2 / (0.001 * rated[j]) : 0.0;
            how.jointCurrent[j] = static_cast<int16_t>(std::lround(current));
        }
        mpb.segmentStep = k;
    }

    std::deque<int16_t> history;
};

// Without a push the residual is zero to rounding: no level counts (the most sensitive one shows
// it) and the torques published for the host agree: model torque (joint side / 100) and measured
// torque. A push on joint 2 is detected after exactly the count limit (one below one) of
// exceeding cycles, then paused or stopped as configured.
TEST_F(ProgramRun, ExternalTorqueOnJointTwoDetectedAfterCountLimitCycles) {
    const struct {
        float level;
        uint8_t reaction;
        int32_t count_limit;
        double push;  // in units of joint 2's threshold at the level
    } cases[] = {{1, 0, 3, 0.0},  {60, 0, 3, 0.0}, {1, 0, 3, 1.3}, {1, 2, 10, 1.3},
                 {50, 0, 5, 1.3}, {99, 2, 1, 1.3}, {1, 0, 0, 1.3}, {20, 2, -5, 1.3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "level " << c.level << " reaction " << int(c.reaction)
                                          << " limit " << c.count_limit << " push " << c.push);
        rearm();
        start();
        mcb.collisionPauseFlag = c.reaction;
        mpb.collisionCountLimit = c.count_limit;
        std::fill(mpb.collisionLevel, mpb.collisionLevel + 6, c.level);
        const double ext = c.push * mpb.collisionThreshold[1] * (1.0 + (c.level - 1.0) / 3.0);
        const int k0 = 5000;
        int detected = -1, max_counter = 0;
        for (int k = 0; k < kCycles && detected < 0; ++k) {
            step(k, k >= k0 ? ext : 0.0);
            kxmcCheckForCollisionError();
            if (k < k0) {
                max_counter = std::max(
                    max_counter, *std::max_element(mpb.collisionCounter, mpb.collisionCounter + 6));
            }
            detected = kxsim::action_names().empty() ? -1 : k;
        }
        ASSERT_EQ(max_counter, 0);
        EXPECT_NEAR(forceCollisionError[1], ext, 0.002 * rated[1]);
        if (c.push == 0.0) {
            ASSERT_EQ(detected, -1);
            for (int j = 0; j < 6; ++j) {
                ASSERT_LT(std::fabs(forceCollisionError[j]), 0.002 * rated[j]) << j;
                EXPECT_FLOAT_EQ(mpb.measuredJointTorque[j],
                                static_cast<float>(how.jointCurrent[j] * 0.001 * rated[j]));
                EXPECT_NEAR(mpb.modelJointTorque[j], mpb.measuredJointTorque[j], 0.002 * rated[j]);
            }
            continue;
        }
        EXPECT_EQ(detected, k0 + std::max(c.count_limit, 1) - 1);
        EXPECT_EQ(kxsim::action_names(), c.reaction == 0 ? kPause : kStop);
        EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 2);
        EXPECT_EQ(mpb.robotState, c.reaction == 0 ? 3 : 1);
    }
}

}  // namespace
}  // namespace collision_test
