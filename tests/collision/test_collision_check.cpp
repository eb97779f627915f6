// The per-cycle collision check: reactions, counting rules, gates, allowance window, hold-off,
// error logging, and a scripted program run against an independent torque model.
#include <algorithm>
#include <cmath>
#include <deque>

#include "collision_fixture.hpp"

namespace collision_test {
namespace {

using Names = std::vector<std::string>;
using Logs = std::vector<std::pair<int, std::string>>;

const Names kPause = {"qmcPause", "doConfigHandle", "resetWeldControlPara"};
const Names kStop = {"qmcStop", "doConfigHandle", "resetWeldControlPara"};

Names plus(Names a, const Names &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- Reactions ----------------------------------------------------------------------------

struct ReactionCase {
    const char *name;
    bool tcp;
    uint8_t reaction;
    uint8_t check_mode;
    Names journal;          // host calls including Write_Log, in order
    Logs logs;              // (level, text)
    uint32_t error_code;    // mcb.collisionErrorCode afterwards
    uint32_t warning;       // mcb.warningCode afterwards
    uint8_t friction_on;    // mcb.frictionCompOn afterwards (1 before)
    uint8_t custom_mode;    // mcb.customCollisionMode afterwards (the test arms it first)
    uint8_t start_flag;
    int32_t after_time;
};

const char kJ[] = "Collision After to DragMode mcb.collisionPauseFlag = :";
const char kT[] = "TCP Collision After to DragMode mcb.collisionPauseFlag = :";
const char kTs[] = "TCP Collision mcb.collisionPauseFlag = :";
const uint32_t kJ3 = KXMC_COLLISION_NONE + 3;

const ReactionCase kReactionCases[] = {
    {"joint_pause", false, 0, 0, plus(kPause, {"Write_Log"}), {{4, "collisionError:3"}}, kJ3, 0, 1, 1, 0, 0},
    {"joint_warn", false, 1, 0, {}, {}, KXMC_COLLISION_NONE, 0x22000003u, 1, 1, 0, 0},
    {"joint_stop", false, 2, 0, plus(kStop, {"Write_Log"}), {{4, "collisionError:3"}}, kJ3, 0, 1, 0, 0, 0},
    {"joint_stop_drag", false, 2, 2, plus(kStop, {"qmcDragSwitch", "Write_Log", "Write_Log"}),
     {{2, "safetyStopEnable Collision After to DragMode mcb.collisionPauseFlag = :2"},
      {4, "collisionError:3"}}, kJ3, 0, 0, 0, 0, 0},
    {"joint_drag3", false, 3, 0, plus(kStop, {"qmcDragSwitch", "Write_Log", "Write_Log"}),
     {{2, std::string(kJ) + "3"}, {4, "collisionError:3"}}, kJ3, 0, 0, 0, 0, 1000},
    {"joint_drag4", false, 4, 1, plus(kStop, {"qmcDragSwitch", "Write_Log", "Write_Log"}),
     {{2, std::string(kJ) + "4"}, {4, "collisionError:3"}}, kJ3, 0, 0, 0, 1, 5000},
    {"joint_drag5", false, 5, 0, plus(kStop, {"qmcDragSwitch", "Write_Log", "Write_Log"}),
     {{2, std::string(kJ) + "5"}, {4, "collisionError:3"}}, kJ3, 0, 0, 0, 1, 1234},
    {"joint_unknown", false, 9, 0, {}, {}, KXMC_COLLISION_NONE, 0x22000003u, 1, 1, 0, 0},
    {"tcp_pause", true, 0, 0, plus(kPause, {"Write_Log"}), {{2, std::string(kTs) + "0"}},
     KXMC_COLLISION_TCP, 0, 1, 2, 0, 0},
    {"tcp_warn", true, 1, 0, {}, {}, KXMC_COLLISION_NONE, 0x22000003u, 1, 2, 0, 0},
    {"tcp_stop", true, 2, 0, plus(kStop, {"Write_Log"}), {{2, std::string(kTs) + "2"}},
     KXMC_COLLISION_TCP, 0, 1, 0, 0, 0},
    {"tcp_stop_drag", true, 2, 2, plus(kStop, {"Write_Log", "qmcDragSwitch", "Write_Log"}),
     {{2, std::string(kTs) + "2"},
      {2, "TCP safetyStopEnable Collision After to DragMode mcb.collisionPauseFlag = :2"}},
     KXMC_COLLISION_TCP, 0, 0, 0, 0, 0},
    {"tcp_drag3", true, 3, 0, plus(kStop, {"qmcDragSwitch", "Write_Log"}), {{2, std::string(kT) + "3"}},
     KXMC_COLLISION_TCP, 0, 0, 0, 0, 1000},
    {"tcp_drag4", true, 4, 0, plus(kStop, {"qmcDragSwitch", "Write_Log"}), {{2, std::string(kT) + "4"}},
     KXMC_COLLISION_TCP, 0, 0, 0, 1, 5000},
    {"tcp_drag5", true, 5, 0, plus(kStop, {"qmcDragSwitch", "Write_Log"}), {{2, std::string(kT) + "5"}},
     KXMC_COLLISION_TCP, 0, 0, 0, 1, 1234},
    {"tcp_unknown", true, 9, 0, {}, {}, KXMC_COLLISION_NONE, 0x22000003u, 1, 2, 0, 0},
};

void PrintTo(const ReactionCase &c, std::ostream *os) { *os << c.name; }

class Reaction : public CollisionFixture, public ::testing::WithParamInterface<ReactionCase> {};

TEST_P(Reaction, HostCallsCodesAndFlags) {
    const ReactionCase &c = GetParam();
    mpb.collisionCountLimit = 1;
    mcb.collisionPauseFlag = c.reaction;
    mcb.collisionCheckMode = c.check_mode;
    if (c.tcp) {
        // Custom TCP limits replace the level thresholds; only Fz has a finite limit.
        const float joint[6] = {1e6f, 1e6f, 1e6f, 1e6f, 1e6f, 1e6f};
        const float tcp[6] = {1e9f, 1e9f, 1.0f, 1e9f, 1e9f, 1e9f};
        ASSERT_EQ(kxmcSetCustomCollisionDetection(2, joint, tcp), 0);
        mpb.collisionThresholdMode = 1;
        for (int j = 0; j < 3; ++j) {
            how.jointCurrent[j] = current_for(j, 0.3 * rated[j]);
        }
    } else {
        mcb.customCollisionMode = 1;  // joint limits far away: the custom part stays quiet
        drive_residual(2, 1.5);
    }
    kxmcCheckForCollisionError();

    EXPECT_EQ(journal_names(), c.journal);
    EXPECT_EQ(log_pairs(), c.logs);
    EXPECT_EQ(mcb.collisionState, 1);
    EXPECT_EQ(mcb.collisionErrorCode, c.error_code);
    EXPECT_EQ(mcb.warningCode, c.warning);
    EXPECT_EQ(mcb.frictionCompOn, c.friction_on);
    EXPECT_EQ(mcb.customCollisionMode, c.custom_mode);
    EXPECT_EQ(CollisionStartFlag, c.start_flag);
    EXPECT_EQ(CollisionAfterTime, c.after_time);
    for (const kxsim::Call &call : kxsim::calls("doConfigHandle")) {
        EXPECT_EQ(call.args, (std::vector<double>{1, 1}));
    }
    for (const kxsim::Call &call : kxsim::calls("qmcDragSwitch")) {
        EXPECT_EQ(call.args, (std::vector<double>{1}));
    }
    EXPECT_EQ(mpb.collisionCounter[2], 0);
}

INSTANTIATE_TEST_SUITE_P(AllReactions, Reaction, ::testing::ValuesIn(kReactionCases),
                         [](const auto &p) { return std::string(p.param.name); });

// ---- Counting rules ---------------------------------------------------------------------

TEST_F(CollisionFixture, CollisionAfterExactlyCountLimitExceedingCycles) {
    drive_residual(1, 1.2);
    cycles(kCountLimit - 1);
    EXPECT_EQ(mpb.collisionCounter[1], kCountLimit - 1);
    EXPECT_TRUE(kxsim::action_names().empty());
    cycles(1);
    EXPECT_EQ(kxsim::action_names(), kPause);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 2);
    EXPECT_EQ(mpb.collisionCounter[1], 0);
}

// A count limit of zero or less acts as one exceeding cycle: it never reports a collision
// while no residual exceeds, and still reports the first exceeding cycle.
TEST_F(CollisionFixture, CountLimitBelowOneNeedsOneExceedingCycle) {
    const int32_t running_state = mpb.robotState;
    for (int32_t limit : {0, -5}) {
        mpb.robotState = running_state;
        mcb.collisionState = 0;
        mpb.collisionCountLimit = limit;
        cycles(20);
        EXPECT_TRUE(kxsim::action_names().empty()) << limit;
        drive_residual(1, 1.2);
        cycles(1);
        EXPECT_EQ(kxsim::action_names(), kPause) << limit;
        kxsim::clear_journal();
        drive_residual(1, 0.0);
        mcb.collisionErrorCode = KXMC_COLLISION_NONE;
    }
}

TEST_F(CollisionFixture, ResidualJustInsideThresholdNeverCounts) {
    for (int j = 0; j < 6; ++j) {
        mpb.collisionLevel[j] = static_cast<float>(1 + 10 * j);
        drive_residual(j, 0.98);
    }
    cycles(50);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(mpb.collisionCounter[j], 0) << j;
    }
    EXPECT_TRUE(kxsim::action_names().empty());
}

TEST_F(CollisionFixture, OnlyTheFirstExceedingJointCounts) {
    mpb.collisionCounter[4] = 1;
    drive_residual(1, -1.5);
    drive_residual(4, 1.5);
    cycles(2);
    EXPECT_EQ(mpb.collisionCounter[1], 2);
    EXPECT_EQ(mpb.collisionCounter[4], 1);  // kept, neither counted nor cleared
}

TEST_F(CollisionFixture, LevelHundredNeverCountsButEndsTheSearch) {
    mpb.collisionLevel[0] = 100.0f;
    mpb.collisionCounter[1] = 2;
    drive_residual(0, 1.5);
    drive_residual(1, 1.5);
    cycles(10);
    EXPECT_EQ(mpb.collisionCounter[0], 0);
    EXPECT_EQ(mpb.collisionCounter[1], 2);
    EXPECT_TRUE(kxsim::action_names().empty());
}

TEST_F(CollisionFixture, EveryGateClearsTheCounters) {
    struct Gate {
        const char *name;
        void (*close)();
    };
    const Gate gates[] = {
        {"idle arm, program-only mode", [] { mpb.robotState = 1; }},
        {"unknown check mode", [] { mcb.collisionCheckMode = 7; }},
        {"segment start", [] { mpb.segmentStep = 100; }},
        {"segment end", [] { mpb.segmentStep = mpb.segmentSteps - 100; }},
        {"nothing exceeds", [] { how.jointCurrent[3] = 0; }},
    };
    for (const Gate &g : gates) {
        SCOPED_TRACE(g.name);
        quiet_running_arm();
        drive_residual(3, 1.5);
        cycles(2);
        ASSERT_EQ(mpb.collisionCounter[3], 2);
        mpb.collisionCounter[0] = 1;
        g.close();
        cycles(1);
        EXPECT_EQ(mpb.collisionCounter[3], 0);
        EXPECT_EQ(mpb.collisionCounter[0], 0);
    }
}

TEST_F(CollisionFixture, GatesOpenedByForceChecksAndMotionKind) {
    struct Opener {
        const char *name;
        void (*open)();
    };
    const Opener openers[] = {
        {"force check A", [] { mcb.collisionForceCheckA = 1; }},
        {"force check B in motion", [] { mcb.collisionForceCheckB = 1; mpb.motionType = 9; }},
        {"check always", [] { mcb.collisionCheckMode = 1; mpb.motionType = 9; }},
    };
    for (const Opener &o : openers) {
        SCOPED_TRACE(o.name);
        quiet_running_arm();
        mpb.robotState = 1;
        mpb.segmentStep = 0;
        drive_residual(0, 1.5);
        o.open();
        cycles(1);
        EXPECT_EQ(mpb.collisionCounter[0], 1);
    }
}

TEST_F(CollisionFixture, CustomLimitsReplaceLevelCountersInThresholdMode) {
    mpb.collisionThresholdMode = 1;
    mcb.customCollisionMode = 1;
    drive_residual(2, 1.5);
    cycles(kCountLimit + 2);
    EXPECT_EQ(mpb.collisionCounter[2], 0);
    EXPECT_TRUE(kxsim::action_names().empty());
    // Custom joint limit below the residual: the custom count makes the collision.
    mcb.customJointLimit[2] = static_cast<float>(0.5 * mpb.collisionThreshold[2]);
    cycles(kCountLimit - 1);
    EXPECT_TRUE(kxsim::action_names().empty());
    cycles(1);
    EXPECT_EQ(kxsim::action_names(), kPause);
    EXPECT_EQ(mcb.collisionErrorCode, kJ3);
}

TEST_F(CollisionFixture, SeveralReactionsInOneCycleEachCallTheHost) {
    mcb.collisionPauseFlag = 2;
    drive_residual(0, 1.5);
    mpb.collisionCounter[0] = kCountLimit - 1;
    mpb.collisionCounter[4] = kCountLimit;
    cycles(1);
    EXPECT_EQ(kxsim::action_names(), plus(kStop, kStop));
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 5);  // the last one written
    EXPECT_EQ(mpb.collisionCounter[0], 0);
    EXPECT_EQ(mpb.collisionCounter[4], 0);
}

TEST_F(CollisionFixture, CustomCountIsComparedWithTheLimitAsFloat) {
    // 2^24 + 1 is no float: the count stops at 2^24, which equals the limit as a float.
    const int32_t limit = 16777217;
    mpb.collisionCountLimit = limit;
    mcb.customCollisionMode = 1;
    mcb.customJointLimit[1] = 0.0f;
    const double r[6] = {0, 1.0, 0, 0, 0, 0};
    const double meas[6] = {};
    for (int32_t i = 0; i < limit; ++i) {
        kxmcCustomCollisionDetectionMain(r, meas);
    }
    drive_residual(1, 0.5);
    cycles(1);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 2);
}

TEST_F(CollisionFixture, ErrorCodeLoggedOncePerError) {
    mpb.collisionCountLimit = 1;
    mcb.collisionPauseFlag = 1;  // warnings only: the state stays 2, the check goes on
    mcb.collisionErrorCode = KXMC_COLLISION_NONE + 4;
    cycles(5);
    mcb.collisionErrorCode = KXMC_COLLISION_TCP;
    cycles(1);
    mcb.collisionErrorCode = KXMC_COLLISION_NONE;
    cycles(1);
    mcb.collisionErrorCode = KXMC_COLLISION_NONE + 6;
    cycles(3);
    EXPECT_EQ(log_pairs(), (Logs{{4, "collisionError:4"}, {4, "collisionError:6"}}));
}

// ---- Allowance window and hold-off ----------------------------------------------------

std::string window_name(const ::testing::TestParamInfo<std::pair<double, int>> &p) {
    return "ref" + std::to_string(static_cast<int>(p.param.first * 10));
}

class AllowanceWindow : public CollisionFixture,
                        public ::testing::WithParamInterface<std::pair<double, int>> {};

TEST_P(AllowanceWindow, LastsItsLengthPlusOneCyclesAfterAJump) {
    const double curve_ref = GetParam().first;
    const int length = GetParam().second;
    mpb.collisionCountLimit = 1000000;
    mpb.collisionCurveRef = curve_ref;
    // A residual a little above the level threshold, inside the allowance all through the window.
    how.jointCurrent[0] = current_for(0, mpb.collisionThreshold[0] + 0.02);
    cycles(1);
    ASSERT_EQ(mpb.collisionCounter[0], 1);
    mpb.collisionCounter[0] = 0;
    mpb.feedJointAcc[0] = 100e-6;  // a jump of 100 deg/s^2
    int first = -1;
    for (int k = 1; k <= 400 && first < 0; ++k) {
        kxmcCheckForCollisionError();
        if (mpb.collisionCounter[0] > 0) {
            first = k;
        }
    }
    // The allowance covers t = 1 .. length + 1; the cycle after counts.
    EXPECT_EQ(first, length + 2);
}

INSTANTIATE_TEST_SUITE_P(CurveReference, AllowanceWindow,
                         ::testing::Values(std::pair<double, int>{720.0, 200},
                                           std::pair<double, int>{1440.0, 250},
                                           std::pair<double, int>{1440.5, 200}),
                         window_name);

TEST_F(CollisionFixture, JointThreeJumpsReArmOrContinueTheWindow) {
    mpb.collisionCountLimit = 1000000;
    how.jointCurrent[0] = current_for(0, mpb.collisionThreshold[0] + 0.02);
    cycles(300);
    mpb.collisionCounter[0] = 0;
    mpb.feedJointAcc[0] = 100e-6;
    cycles(20);
    ASSERT_EQ(mpb.collisionCounter[0], 0);  // window running

    // -60 on joint 3 alone: the window goes on.
    mpb.feedJointAcc[2] = -60e-6;
    cycles(20);
    EXPECT_EQ(mpb.collisionCounter[0], 0);
    // +50.5 on joint 3: re-armed, |trunc| is 50, so no new window: counting starts at once.
    mpb.feedJointAcc[2] += 50.5e-6;
    cycles(1);
    EXPECT_EQ(mpb.collisionCounter[0], 1);
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

// ---- Malformed host values --------------------------------------------------------------

TEST_F(CollisionFixture, MalformedHostValuesStayDefined) {
    struct Bad {
        const char *name;
        void (*set)();
    };
    const Bad cases[] = {
        {"joint count 7", [] { mpb.jointNum = 7; }},
        {"joint count -3", [] { mpb.jointNum = -3; }},
        {"joint count huge", [] { mpb.jointNum = 1 << 30; }},
        {"NaN level", [] { mpb.collisionLevel[0] = NAN; }},
        {"level 1e30", [] { mpb.collisionLevel[1] = 1e30f; }},
        {"NaN threshold", [] { mpb.collisionThreshold[2] = NAN; }},
        {"NaN curve", [] { mpb.collisionCurveRef = NAN; mpb.feedJointAcc[0] = 1.0; }},
        {"huge feed acceleration", [] { mpb.feedJointAcc[1] = 1e300; }},
        {"segment extremes", [] { mpb.segmentStep = INT32_MAX; mpb.segmentSteps = INT32_MIN; }},
        {"counter at max", [] { mpb.collisionCounter[0] = INT32_MAX; mpb.collisionCountLimit = INT32_MAX; }},
        {"NaN feed-forward", [] { const float ff[6] = {NAN, NAN, NAN, NAN, NAN, NAN}; kxsim::set_velocity_feedforward(ff); }},
        {"safe time above int", [] { mcb.collisionPauseFlag = 5; mcb.collisionSafeTime = 0xFFFFFFFFu; mpb.collisionCounter[0] = 99; }},
        {"model code far out", [] { mcb.robotModelCode = 0xFFFFFFFFu; }},
    };
    for (const Bad &b : cases) {
        SCOPED_TRACE(b.name);
        quiet_running_arm();
        drive_residual(0, 1.5);
        b.set();
        cycles(3);
        for (int j = 0; j < 6; ++j) {
            EXPECT_TRUE(std::isfinite(forceCollisionError[j]));
        }
        EXPECT_GE(CollisionAfterTime, 0);
    }
}

TEST_F(CollisionFixture, NanLevelKeepsDetectingAtTheBaseThreshold) {
    mpb.collisionLevel[0] = NAN;
    how.jointCurrent[0] = current_for(0, 1.5 * mpb.collisionThreshold[0]);
    cycles(kCountLimit);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 1);
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
        for (int j = 0; j < 6; ++j) {
            mpb.torqueCmdGain[j] = 0.9 + 0.02 * j;
        }
        history.clear();
    }

    // Sets the motion record and the commands of cycle k; returns the measured currents.
    void step(int k, double ext_torque_j2) {
        const double t = k * 0.001;
        for (int j = 0; j < 6; ++j) {
            const double amp = 40.0 - 5.0 * j;          // [deg]
            const double w = 2.0 * 3.14159265358979 / (4.0 + j);  // [rad/s]
            mpb.targetJointPos[j] = mpb.jointPos[j] = amp * (1.0 - std::cos(w * t));
            mpb.targetJointVel[j] = mpb.actualJointVel[j] = amp * w * std::sin(w * t) * 1e-3;
            mpb.feedJointAcc[j] = mpb.targetJointAcc[j] = amp * w * w * std::cos(w * t) * 1e-6;
            how.jointTorqueCmd[j] = static_cast<int16_t>(300.0 * std::sin(w * t + j) + 50.0 * j);
        }
        float ff[6];
        for (int j = 0; j < 6; ++j) {
            ff[j] = static_cast<float>(2000.0 * mpb.targetJointVel[j]);
        }
        kxsim::set_velocity_feedforward(ff);
        double fric[6] = {};
        frictionCompensation(mpb.targetJointVel, fric);

        history.push_back(how.jointTorqueCmd[1]);
        const int16_t delayed = history.size() <= 101 ? history.back()
                                                      : history[history.size() - 1 - kLag];
        if (history.size() > 200) {
            history.pop_front();
        }
        for (int j = 0; j < 6; ++j) {
            const double cmd = j == 1 ? delayed : how.jointTorqueCmd[j];
            const double expected = std::trunc(cmd * 0.7 * mpb.torqueCmdGain[j]);
            double current = expected + ff[j] + fric[j] / 100.0 / (0.001 * rated[j]);
            if (j == 1) {
                current += ext_torque_j2 / (0.001 * rated[j]);
            }
            how.jointCurrent[j] = static_cast<int16_t>(std::lround(current));
        }
        mpb.segmentStep = k;
    }

    std::deque<int16_t> history;
};

TEST_F(ProgramRun, MatchingCurrentsRaiseNoCollisionAtAnyLevel) {
    for (int level = 1; level <= 99; ++level) {
        quiet_running_arm();
        start();
        for (int j = 0; j < 6; ++j) {
            mpb.collisionLevel[j] = static_cast<float>(level);
        }
        int max_counter = 0;
        for (int k = 0; k < kCycles; ++k) {
            step(k, 0.0);
            kxmcCheckForCollisionError();
            for (int j = 0; j < 6; ++j) {
                max_counter = std::max(max_counter, mpb.collisionCounter[j]);
            }
        }
        ASSERT_EQ(max_counter, 0) << "level " << level;
        ASSERT_TRUE(kxsim::action_names().empty()) << "level " << level;
        for (int j = 0; j < 6; ++j) {
            ASSERT_LT(std::fabs(forceCollisionError[j]), 0.002 * rated[j]) << j;
        }
    }
}

struct StepCase {
    float level;
    uint8_t reaction;
    int32_t count_limit;
};

void PrintTo(const StepCase &c, std::ostream *os) {
    *os << "level " << c.level << " reaction " << int(c.reaction) << " limit " << c.count_limit;
}

class ProgramStep : public ProgramRun, public ::testing::WithParamInterface<StepCase> {};

TEST_P(ProgramStep, ExternalTorqueOnJointTwoDetectedAfterCountLimitCycles) {
    const StepCase c = GetParam();
    start();
    mcb.collisionPauseFlag = c.reaction;
    mpb.collisionCountLimit = c.count_limit;
    for (int j = 0; j < 6; ++j) {
        mpb.collisionLevel[j] = c.level;
    }
    const double f = 1.0 + (c.level - 1.0) / 3.0;
    const double ext = 1.3 * mpb.collisionThreshold[1] * f;  // [N m] motor side
    const int k0 = 5000;
    int detected = -1;
    for (int k = 0; k < kCycles && detected < 0; ++k) {
        step(k, k >= k0 ? ext : 0.0);
        kxmcCheckForCollisionError();
        if (!kxsim::action_names().empty()) {
            detected = k;
        }
    }
    EXPECT_EQ(detected, k0 + c.count_limit - 1);
    EXPECT_EQ(kxsim::action_names(), c.reaction == 0 ? kPause : kStop);
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 2);
    EXPECT_EQ(mpb.robotState, c.reaction == 0 ? 3 : 1);
    EXPECT_NEAR(forceCollisionError[1], ext, 0.002 * rated[1]);
}

INSTANTIATE_TEST_SUITE_P(LevelsAndReactions, ProgramStep,
                         ::testing::Values(StepCase{1, 0, 3}, StepCase{1, 2, 10},
                                           StepCase{50, 0, 5}, StepCase{99, 2, 1}),
                         [](const auto &p) {
                             return "level" + std::to_string(static_cast<int>(p.param.level)) +
                                    "_reaction" + std::to_string(p.param.reaction) + "_limit" +
                                    std::to_string(p.param.count_limit);
                         });

}  // namespace
}  // namespace collision_test
