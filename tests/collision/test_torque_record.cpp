// Torque record (recording, replay, band comparison), joint 2's delay line, the collision message
// ring and the static collision check.
#include <cmath>
#include <cstring>

#include "collision_fixture.hpp"

namespace collision_test {
namespace {

using Names = std::vector<std::string>;

const float kLower[6] = {-0.2f, -0.2f, -0.2f, -0.2f, -0.2f, -0.2f};  // [N m]
const float kUpper[6] = {0.2f, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
const int32_t kLimits[6] = {3, 3, 3, 3, 3, 3};

class TorqueRecord : public CollisionFixture {
protected:
    // Start, record `samples` samples of the currents given by `current(sample, joint)`, stop,
    // start again: the recording is being applied.
    template <class F>
    void record(uint8_t smooth, int samples, F current) {
        ASSERT_EQ(qmcTorqueRecordStartEnd(1, smooth, kLower, kUpper, kLimits, 11), 0);
        ASSERT_EQ(mcb.torqueRecordRun, 1);
        for (int s = 0; s < samples; ++s) {
            for (int j = 0; j < 6; ++j) {
                how.jointCurrent[j] = current(s, j);
            }
            for (int c = 0; c < 50; ++c) {
                ASSERT_EQ(kxmcTorqueRecordProcess(), 0);
            }
        }
        ASSERT_EQ(mcb.torqueRecordLength, samples);
        ASSERT_EQ(qmcTorqueRecordStartEnd(0, smooth, kLower, kUpper, kLimits, 12), 0);
        ASSERT_EQ(mcb.torqueRecordRun, 2);
        ASSERT_EQ(qmcTorqueRecordStartEnd(1, smooth, kLower, kUpper, kLimits, 13), 0);
        ASSERT_EQ(mcb.torqueRecordApply, 1);
        EXPECT_EQ(mpb.cmdId, 13u);
    }

    int16_t replay_one() {
        int16_t e[6] = {};
        EXPECT_EQ(kxmcTorqueRecordCollision(e), 0);
        return e[2];
    }
};

TEST_F(TorqueRecord, StartRejectsBadArgumentsWithoutChange) {
    const float bad_lo[6] = {-0.2f, -0.2f, -0.2f, -1e-7f, -0.2f, -0.2f};
    const float nan_hi[6] = {0.2f, NAN, 0.2f, 0.2f, 0.2f, 0.2f};
    struct Case {
        uint8_t enable, smooth;
        const float *lo, *hi;
    } cases[] = {{2, 0, kLower, kUpper}, {1, 2, kLower, kUpper}, {1, 0, bad_lo, kUpper},
                 {1, 0, kLower, nan_hi}, {1, 0, kUpper, kLower}, {1, 0, nullptr, kUpper}};
    for (const Case &c : cases) {
        EXPECT_EQ(qmcTorqueRecordStartEnd(c.enable, c.smooth, c.lo, c.hi, kLimits, 5), -1);
        EXPECT_EQ(mcb.torqueRecordEnable, 0);
        EXPECT_EQ(mcb.torqueRecordRun, 0);
        EXPECT_EQ(mcb.torqueRecordLower[3], 0.0f);
    }
    // Stopping takes any band.
    EXPECT_EQ(qmcTorqueRecordStartEnd(0, 1, kUpper, kLower, kLimits, 6), 0);
    EXPECT_EQ(mcb.torqueRecordSmooth, 1);
    EXPECT_EQ(mpb.cmdId, 6u);
}

TEST_F(TorqueRecord, TwelveThousandSamplesFillTheBufferExactly) {
    ASSERT_EQ(qmcTorqueRecordStartEnd(1, 0, kLower, kUpper, kLimits, 1), 0);
    for (long c = 1; c <= 50L * 12000; ++c) {
        how.jointCurrent[0] = static_cast<int16_t>(c / 50);
        ASSERT_EQ(kxmcTorqueRecordProcess(), 0) << c;
    }
    EXPECT_EQ(mcb.torqueRecordLength, 12000);
    EXPECT_EQ(mcb.faultCode, 0u);
    EXPECT_EQ(mcb.torqueRecordSamples[0][0], 1);
    EXPECT_EQ(mcb.torqueRecordSamples[0][11999], 12000);
    for (int c = 1; c < 50; ++c) {
        ASSERT_EQ(kxmcTorqueRecordProcess(), 0);
    }
    EXPECT_EQ(mcb.faultCode, 0u);
    EXPECT_EQ(kxmcTorqueRecordProcess(), -1);
    EXPECT_EQ(mcb.faultCode, KXMC_FAULT_TORQUE_RECORD_FULL);
    EXPECT_EQ(mcb.torqueRecordLength, 12000);
}

TEST_F(TorqueRecord, TheCheckCycleSamplesEveryFiftiethCycle) {
    ASSERT_EQ(qmcTorqueRecordStartEnd(1, 0, kLower, kUpper, kLimits, 1), 0);
    mpb.collisionLevel[0] = 100.0f;  // the recorded current reads as a residual: no count
    for (int c = 1; c <= 120; ++c) {
        how.jointCurrent[0] = static_cast<int16_t>(c);
        kxmcCheckForCollisionError();
    }
    EXPECT_EQ(mcb.torqueRecordLength, 2);
    EXPECT_EQ(mcb.torqueRecordSamples[0][0], 50);
    EXPECT_EQ(mcb.torqueRecordSamples[0][1], 100);
}

TEST_F(TorqueRecord, LinearReplayInterpolatesAndHoldsTheLastSample) {
    const int16_t values[3] = {100, 201, -50};
    record(0, 3, [&](int s, int) { return values[s]; });
    std::vector<int16_t> got;
    for (int c = 0; c < 200; ++c) {
        got.push_back(replay_one());
    }
    EXPECT_EQ(got[0], 100);
    EXPECT_EQ(got[25], 150);   // 100 + (101 * 25) / 50, truncated
    EXPECT_EQ(got[49], 198);
    EXPECT_EQ(got[50], 201);
    EXPECT_EQ(got[75], 201 + (-251 * 25) / 50);
    for (int c = 100; c < 200; ++c) {
        EXPECT_EQ(got[c], -50) << c;  // past the recording the last sample holds
    }
}

TEST_F(TorqueRecord, ReplayNeverReadsPastTheBufferWhateverTheHostLength) {
    record(0, 4, [](int s, int j) { return static_cast<int16_t>(10 * s + j); });
    for (int32_t length : {50000, -7, 12000}) {
        mcb.torqueRecordLength = length;
        for (int c = 0; c < 300; ++c) {
            replay_one();
        }
    }
    mcb.torqueRecordLength = 4;
    mcb.torqueRecordApply = 0;
    replay_one();  // replay off: restarts from sample 0
    mcb.torqueRecordApply = 1;
    EXPECT_EQ(replay_one(), 2);
}

TEST_F(TorqueRecord, SmoothReplayFollowsTheHostFit) {
    const int16_t values[5] = {0, 400, 300, -200, 100};
    record(1, 5, [&](int s, int) { return values[s]; });
    BsplineFit ref;
    kxmcinitBtraj(&ref);
    const double params[4] = {0.0, 0.05, 0.1, 0.15};
    for (int n = 0; n < 5; ++n) {
        kxmcaddpointBfitting(&ref, values[n], n == 4 ? 0 : 1);
        for (int s = 0; s < 50; ++s) {
            const int16_t got = replay_one();
            const int16_t want = n == 0 ? static_cast<int16_t>((values[1] * s) / 50)
                                        : kxmc::trunc_to<int16_t>(kxmccomBfitting(&ref, s, 4, params));
            ASSERT_EQ(got, want) << n << " " << s;
        }
    }
    EXPECT_EQ(mcb.torqueRecordFit[2].lastFlag, 0);
    EXPECT_EQ(replay_one(), 100);
}

TEST_F(TorqueRecord, PausedReplayUsesTheCommandAndResumesWhereItStopped) {
    record(0, 3, [](int s, int) { return static_cast<int16_t>(100 * s); });
    for (int c = 0; c < 60; ++c) {
        replay_one();
    }
    mpb.robotState = 3;
    how.jointTorqueCmd[2] = 1000;
    mpb.torqueCmdGain[2] = 0.5;
    EXPECT_EQ(replay_one(), 350);  // 1000 x 0.7 x 0.5
    mpb.robotState = 2;
    EXPECT_EQ(replay_one(), 100 + (100 * 10) / 50);
}

TEST_F(TorqueRecord, ResetClearsEverything) {
    record(0, 2, [](int, int) { return static_cast<int16_t>(7); });
    EXPECT_EQ(qmcTorqueRecordReset(99), 0);
    EXPECT_EQ(mcb.torqueRecordEnable + mcb.torqueRecordRun + mcb.torqueRecordApply +
                  mcb.torqueRecordSmooth, 0);
    EXPECT_EQ(mcb.torqueRecordLength, 0);
    EXPECT_EQ(mcb.torqueRecordSamples[5][1], 0);
    EXPECT_EQ(mcb.torqueRecordUpper[0], 0.0f);
    EXPECT_EQ(mcb.torqueRecordCountLimit[0], 0);
    EXPECT_EQ(mpb.cmdId, 99u);
    mcb.torqueRecordEnable = mcb.torqueRecordApply = 1;
    EXPECT_EQ(kxmcResetTorqueRecordPara(), 0);
    EXPECT_EQ(mcb.torqueRecordEnable + mcb.torqueRecordApply, 0);
}

// ---- Recorded-band comparison through the check cycle ---------------------------------------

// One program run of 3000 cycles with smooth currents; `excursion(k, j)` adds to them.
class BandRun : public TorqueRecord, public ::testing::WithParamInterface<uint8_t> {
protected:
    int16_t profile(int k, int j) const {
        return static_cast<int16_t>(150.0 * std::sin(0.002 * k + j) + 20.0 * j);
    }
    template <class F>
    void run(F excursion) {
        mpb.motionType = 9;
        for (int k = 0; k < 3000 && kxsim::action_names().empty() && mcb.warningCode == 0; ++k) {
            for (int j = 0; j < 6; ++j) {
                how.jointCurrent[j] = static_cast<int16_t>(profile(k, j) + excursion(k, j));
            }
            kxmcCheckForCollisionError();
        }
    }
};

TEST_P(BandRun, SameCurrentsPassAndAnExcursionIsCaught) {
    const uint8_t smooth = GetParam();
    mpb.collisionCurveRef = 720.0;
    for (int j = 0; j < 6; ++j) {
        mpb.collisionLevel[j] = 100.0f;  // the level branch never counts while recording
    }
    ASSERT_EQ(qmcTorqueRecordStartEnd(1, smooth, kLower, kUpper, kLimits, 1), 0);
    run([](int, int) { return 0; });
    ASSERT_EQ(qmcTorqueRecordStartEnd(0, smooth, kLower, kUpper, kLimits, 2), 0);
    EXPECT_EQ(mcb.torqueRecordLength, 60);
    ASSERT_EQ(qmcTorqueRecordStartEnd(1, smooth, kLower, kUpper, kLimits, 3), 0);

    run([](int, int) { return 0; });
    EXPECT_TRUE(kxsim::action_names().empty());
    EXPECT_EQ(mcb.collisionState, 0);

    // Stop and apply again: the replay restarts at sample 0.
    ASSERT_EQ(qmcTorqueRecordStartEnd(0, smooth, kLower, kUpper, kLimits, 4), 0);
    ASSERT_EQ(qmcTorqueRecordStartEnd(1, smooth, kLower, kUpper, kLimits, 5), 0);
    // A push on joint 4 beyond four times the band: caught in the cycle it appears.
    const int16_t push = current_for(3, 4.5 * kUpper[3]);
    int pushed_at = -1;
    int caught_at = -1;
    int k_seen = 0;
    run([&](int k, int j) {
        k_seen = k;
        if (k >= 1500 && j == 3) {
            if (pushed_at < 0) {
                pushed_at = k;
            }
            return static_cast<int>(push);
        }
        return 0;
    });
    caught_at = k_seen;
    EXPECT_EQ(caught_at, pushed_at);
    EXPECT_EQ(kxsim::action_names(), (Names{"qmcPause", "doConfigHandle", "resetWeldControlPara"}));
    EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 4);
}

INSTANTIATE_TEST_SUITE_P(LinearAndSmooth, BandRun, ::testing::Values(0, 1),
                         [](const auto &p) { return std::string(p.param ? "smooth" : "linear"); });

struct BandCase {
    const char *name;
    uint8_t reaction;
    double residual;       // in units of the upper band
    int32_t count_limit;
    int cycles_to_catch;   // -1: not within 600 cycles
    Names journal;
    uint32_t code;
    uint32_t warning;
};

const BandCase kBandCases[] = {
    {"hard_pause", 0, 4.5, 3, 1, {"qmcPause", "doConfigHandle", "resetWeldControlPara"}, KXMC_COLLISION_NONE + 2, 0},
    {"hard_stop", 2, -4.5, 3, 1, {"qmcStop", "doConfigHandle", "resetWeldControlPara"}, KXMC_COLLISION_NONE + 2, 0},
    {"soft_counts_past_limit", 0, 2.0, 3, 4, {"qmcPause", "doConfigHandle", "resetWeldControlPara"}, KXMC_COLLISION_NONE + 2, 0},
    {"zero_limit_is_500", 2, 2.0, 0, 501, {"qmcStop", "doConfigHandle", "resetWeldControlPara"}, KXMC_COLLISION_NONE + 2, 0},
    {"inside_band", 0, 0.9, 3, -1, {}, KXMC_COLLISION_NONE, 0},
    {"warn_1", 1, 4.5, 3, 1, {}, KXMC_COLLISION_NONE, 0x22000003u},
    {"warn_3", 3, 4.5, 3, 1, {}, KXMC_COLLISION_NONE, 0x22000003u},
    {"warn_4", 4, 4.5, 3, 1, {}, KXMC_COLLISION_NONE, 0x22000003u},
    {"warn_5", 5, 4.5, 3, 1, {}, KXMC_COLLISION_NONE, 0x22000003u},
    {"warn_9", 9, 4.5, 3, 1, {}, KXMC_COLLISION_NONE, 0x22000003u},
};

void PrintTo(const BandCase &c, std::ostream *os) { *os << c.name; }

class BandReaction : public TorqueRecord, public ::testing::WithParamInterface<BandCase> {};

TEST_P(BandReaction, ReactionAndCount) {
    const BandCase &c = GetParam();
    record(0, 2, [](int, int) { return static_cast<int16_t>(0); });
    mcb.collisionPauseFlag = c.reaction;
    mcb.collisionCheckMode = 2;  // the band branch never switches to drag
    mcb.torqueRecordCountLimit[1] = c.count_limit;
    mpb.segmentStep = 0;         // the band mode opens the progress gate by itself
    how.jointCurrent[1] = current_for(1, c.residual * kUpper[1]);
    int caught = -1;
    for (int k = 1; k <= 600 && caught < 0; ++k) {
        kxmcCheckForCollisionError();
        if (mcb.collisionState == 1) {
            caught = k;
        }
    }
    EXPECT_EQ(caught, c.cycles_to_catch);
    EXPECT_EQ(kxsim::action_names(), c.journal);
    EXPECT_EQ(mcb.collisionErrorCode, c.code);
    EXPECT_EQ(mcb.warningCode, c.warning);
    EXPECT_EQ(CollisionStartFlag, 0);
    EXPECT_EQ(mpb.collisionCounter[1], 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, BandReaction, ::testing::ValuesIn(kBandCases),
                         [](const auto &p) { return std::string(p.param.name); });

// ---- Delay line ---------------------------------------------------------------------------

TEST(DelayLine, LagFollowsTheProgrammedSpeedWithinBounds) {
    struct Case {
        int32_t motion_type;
        double joint_vel, joint_max, linear_vel, linear_max;
        int lag;
    } cases[] = {
        {1, 45.0, 180.0, 0, 0, 25},   {1, 270.0, 180.0, 0, 0, 100},  // 150 capped
        {2, 0, 0, 250.0, 1000.0, 25}, {17, 0, 0, 1.0, 1000.0, 0},
        {5, 90.0, 180.0, 500.0, 1000.0, 0}, {1, 45.0, 0.0, 0, 0, 0},
        {14, 0, 0, -300.0, 1000.0, 0}, {21, 0, 0, NAN, 1000.0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.motion_type);
        mpb.motionType = c.motion_type;
        mpb.jointMoveVel = c.joint_vel;
        mpb.jointMaxSpeed[0] = c.joint_max;
        mpb.linearMoveVel = c.linear_vel;
        mpb.linearMaxVel = c.linear_max;
        // After at least 101 inputs, the output is the input of `lag` calls ago.
        int16_t out = 0;
        for (int16_t v = 0; v < 300; ++v) {
            findHistoryCurrentSet(v, &out);
        }
        EXPECT_EQ(out, 299 - c.lag);
    }
}

TEST(DelayLine, FirstHundredOneCallsPassTheInput) {
    mpb.motionType = 1;
    mpb.jointMoveVel = 90.0;
    mpb.jointMaxSpeed[0] = 180.0;
    int16_t out = 0;
    for (int16_t v = 1; v <= 101; ++v) {
        findHistoryCurrentSet(static_cast<int16_t>(v * 3), &out);
        ASSERT_EQ(out, v * 3);
    }
    findHistoryCurrentSet(1000, &out);
    EXPECT_EQ(out, (102 - 50) * 3);
}

// ---- Message ring ---------------------------------------------------------------------------

class MessageRing : public CollisionFixture {
protected:
    void save_rows(int n, int first) {
        for (int i = 0; i < n; ++i) {
            mpb.targetJointPos[0] = first + i;
            mpb.jointPos[5] = -(first + i);
            mpb.targetJointVel[1] = 0.001 * (first + i);
            mpb.actualJointAcc[2] = 1e-6 * (first + i);
            const double model[6] = {0, 0, 0, 100.0 * (first + i), 0, 0};
            const double meas[6] = {0, 0, 0, 0, 2.0 * (first + i), 0};
            collisionMessageSave(model, meas);
        }
    }
};

TEST_F(MessageRing, KeepsTheLastTwoHundredRowsOldestFirst) {
    save_rows(250, 1);
    EXPECT_DOUBLE_EQ(collisionJointTarpos[0][0], 51.0);
    EXPECT_DOUBLE_EQ(collisionJointTarpos[199][0], 250.0);
    EXPECT_DOUBLE_EQ(collisionJointRealpos[0][5], -51.0);
    EXPECT_DOUBLE_EQ(collisionJointTarvel[199][1], 250.0);
    EXPECT_DOUBLE_EQ(collisionJointRealacc[199][2], 250.0);
    EXPECT_DOUBLE_EQ(collisionJointTartor[10][3], 61.0);
    EXPECT_DOUBLE_EQ(collisionJointRealtor[10][4], 122.0);
}

TEST_F(MessageRing, PrintsFourQuantityPairsAndRestartsTheRing) {
    save_rows(200, 1);
    const char *names[4][2] = {{"tarpos", "realpos"}, {"tarvel", "realvel"},
                               {"taracc", "realacc"}, {"tartor", "realtor"}};
    for (int i = 0; i < 800; ++i) {
        saveMsgPrintfCount = i;
        EXPECT_EQ(collisionMessagePrintf(i), 0);
    }
    EXPECT_EQ(saveMsgPrintfCount, 0);  // wrapped after 799
    const auto &lines = kxsim::log_lines();
    ASSERT_EQ(lines.size(), 1600u);
    for (int k = 0; k < 4; ++k) {
        const std::string &first = lines[k * 400 + 2 * 7].text;  // row 7 of quantity k
        EXPECT_EQ(first.rfind("7 " + std::string(names[k][0]) + " ", 0), 0u) << first;
        EXPECT_EQ(lines[k * 400 + 2 * 7 + 1].text.rfind(std::string(names[k][1]) + " ", 0), 0u);
        EXPECT_EQ(lines[k * 400].level, 2);
    }
    EXPECT_EQ(lines[14].text, "7 tarpos 8.000000 -60.000000 80.000000 -110.000000 70.000000 20.000000");
    EXPECT_EQ(lines[1201].text, "realtor 0.000000 0.000000 0.000000 0.000000 2.000000 0.000000");
    // The next save starts a fresh ring at row 0.
    save_rows(1, 500);
    EXPECT_DOUBLE_EQ(collisionJointTarpos[0][0], 500.0);
    EXPECT_DOUBLE_EQ(collisionJointTarpos[1][0], 2.0);
}

TEST_F(MessageRing, IndexOrCounterOutsideTheRingPrintsNothing) {
    const std::pair<int32_t, int32_t> cases[] = {{0, -1}, {0, 200}, {250, 100}, {799, 800},
                                                 {-5, 3}, {800, 3}, {INT32_MIN, INT32_MAX}};
    for (const auto &c : cases) {
        saveMsgPrintfCount = c.first;
        EXPECT_EQ(collisionMessagePrintf(c.second), -1);
    }
    EXPECT_TRUE(kxsim::log_lines().empty());
    EXPECT_EQ(saveMsgPrintfCount, INT32_MIN);
    saveMsgPrintfCount = 799;
    EXPECT_EQ(collisionMessagePrintf(4000), -1);
    EXPECT_EQ(saveMsgPrintfCount, 0);  // the wrap still happens
}

// ---- Static collision check -----------------------------------------------------------------

struct StaticCase {
    uint32_t model;
    double ratio[6];
};

void PrintTo(const StaticCase &c, std::ostream *os) { *os << "model " << c.model; }

class StaticCheck : public CollisionFixture, public ::testing::WithParamInterface<StaticCase> {};

TEST_P(StaticCheck, SwitchesToDragOnlyAboveTheRatedFraction) {
    const StaticCase &c = GetParam();
    mcb.robotModelCode = c.model;
    kxmcJointDefaultTorque(rated);
    for (int j = 0; j < 6; ++j) {
        SCOPED_TRACE(j);
        quiet_running_arm();
        mcb.robotModelCode = c.model;
        CollisionStartFlag = 0;
        CollisionAfterTime = 0;
        kxsim::clear_journal();
        kxsim::clear_log();
        // Exactly the fraction of the rated torque: not over it.
        const int16_t at = static_cast<int16_t>(std::lround(c.ratio[j] * 1000.0));
        how.jointCurrent[j] = at;
        qmcCheckTorqueError();
        EXPECT_TRUE(kxsim::action_names().empty());
        how.jointCurrent[j] = static_cast<int16_t>(-(at + 1));
        qmcCheckTorqueError();
        EXPECT_EQ(kxsim::action_names(), Names{"qmcDragSwitch"});
        EXPECT_TRUE(kxsim::log_contains("Static Collision After to DragMode", 2));
        EXPECT_EQ(CollisionStartFlag, 1);
        EXPECT_EQ(CollisionAfterTime, 1000);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, StaticCheck,
                         ::testing::Values(StaticCase{0, {0.3, 0.5, 0.6, 0.8, 0.8, 0.8}},
                                           StaticCase{101, {0.3, 0.5, 0.6, 0.8, 0.8, 0.8}},
                                           StaticCase{250, {0.4, 0.6, 0.6, 0.8, 0.8, 0.8}},
                                           StaticCase{1050, {0.4, 0.6, 0.6, 0.8, 0.8, 0.8}},
                                           StaticCase{902, {0.4, 0.6, 0.6, 0.8, 0.8, 0.8}},
                                           StaticCase{750, {0.3, 0.5, 0.6, 0.8, 0.8, 0.8}},
                                           StaticCase{99999, {0.3, 0.5, 0.6, 0.8, 0.8, 0.8}}),
                         [](const auto &p) { return "model" + std::to_string(p.param.model); });

TEST_F(CollisionFixture, StaticCheckRepeatsForEveryJointOverItsLimit) {
    how.jointCurrent[0] = current_for(0, 0.5 * rated[0]);
    how.jointCurrent[4] = current_for(4, -0.9 * rated[4]);
    how.jointCurrent[5] = current_for(5, 0.9 * rated[5]);
    qmcCheckTorqueError();
    EXPECT_EQ(kxsim::action_names(), (Names{"qmcDragSwitch", "qmcDragSwitch", "qmcDragSwitch"}));
    EXPECT_EQ(kxsim::log_lines().size(), 3u);
}

}  // namespace
}  // namespace collision_test
