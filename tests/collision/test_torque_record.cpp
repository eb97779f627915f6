// Torque record (recording, replay, band comparison), joint 2's delay line, the collision message
// ring and the static collision check.
#include <algorithm>
#include <cmath>
#include <tuple>

#include "collision_fixture.hpp"

namespace collision_test {
namespace {

const float kLower[6] = {-0.2f, -0.2f, -0.2f, -0.2f, -0.2f, -0.2f};  // [N m]
const float kUpper[6] = {0.2f, 0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
const int32_t kLimits[6] = {3, 3, 3, 3, 3, 3};

class TorqueRecord : public CollisionFixture {
   protected:
    int32_t start_end(uint8_t enable, uint8_t smooth = 0, uint32_t id = 1) {
        return qmcTorqueRecordStartEnd(enable, smooth, kLower, kUpper, kLimits, id);
    }

    // Start, record `samples` samples of the currents given by `current(sample, joint)`, stop,
    // start again: the recording is being applied.
    template <class F>
    void record(uint8_t smooth, int samples, F current) {
        ASSERT_EQ(start_end(1, smooth), 0);
        ASSERT_EQ(mcb.torqueRecordRun, 1);
        for (int s = 0; s < samples * 50; ++s) {
            for (int j = 0; j < 6; ++j) how.jointCurrent[j] = current(s / 50, j);
            ASSERT_EQ(kxmcTorqueRecordProcess(), 0);
        }
        ASSERT_EQ(mcb.torqueRecordLength, samples);
        ASSERT_EQ(start_end(0, smooth), 0);
        ASSERT_EQ(mcb.torqueRecordRun, 2);
        ASSERT_EQ(start_end(1, smooth, 13), 0);
        ASSERT_EQ(mcb.torqueRecordApply, 1);
        EXPECT_EQ(mpb.cmdId, 13u);
    }

    int16_t replay_one() {
        int16_t e[6] = {};
        EXPECT_EQ(kxmcTorqueRecordCollision(e), 0);
        return e[2];
    }
};

// One refusal per kind: bad flag, non-finite band, swapped band, missing band.
TEST_F(TorqueRecord, StartRejectsBadArgumentsWithoutChange) {
    const float nan_hi[6] = {0.2f, NAN, 0.2f, 0.2f, 0.2f, 0.2f};
    const std::tuple<uint8_t, const float *, const float *> cases[] = {
        {2, kLower, kUpper}, {1, kLower, nan_hi}, {1, kUpper, kLower}, {1, nullptr, kUpper}};
    for (const auto &[enable, lo, hi] : cases) {
        EXPECT_EQ(qmcTorqueRecordStartEnd(enable, 0, lo, hi, kLimits, 5), -1);
        EXPECT_EQ(mcb.torqueRecordEnable + mcb.torqueRecordRun + mcb.torqueRecordLower[3], 0);
    }
    // Stopping takes any band.
    EXPECT_EQ(qmcTorqueRecordStartEnd(0, 1, kUpper, kLower, kLimits, 6), 0);
    EXPECT_EQ(mpb.cmdId, 6u);
}

// A new recording starts from an empty buffer; 50 x 12000 cycles fill it exactly.
TEST_F(TorqueRecord, TwelveThousandSamplesFillTheBufferExactly) {
    mcb.torqueRecordSamples[3][11999] = 99;  // left over
    ASSERT_EQ(start_end(1), 0);
    EXPECT_EQ(mcb.torqueRecordSamples[3][11999], 0);
    for (long c = 1; c <= 50L * 12000; ++c) {
        how.jointCurrent[0] = static_cast<int16_t>(c / 50);
        ASSERT_EQ(kxmcTorqueRecordProcess(), 0) << c;
    }
    EXPECT_EQ(mcb.torqueRecordLength, 12000);
    EXPECT_EQ(mcb.torqueRecordSamples[0][0], 1);
    EXPECT_EQ(mcb.torqueRecordSamples[0][11999], 12000);
    for (int c = 1; c < 50; ++c) ASSERT_EQ(kxmcTorqueRecordProcess(), 0);
    EXPECT_EQ(mcb.faultCode, 0u);
    EXPECT_EQ(kxmcTorqueRecordProcess(), -1);
    EXPECT_EQ(mcb.faultCode, KXMC_FAULT_TORQUE_RECORD_FULL);
    EXPECT_EQ(mcb.torqueRecordLength, 12000);
}

// Integer interpolation between samples; while paused the command's share replaces the replay,
// which resumes where it stopped; past the recording the last sample holds.
TEST_F(TorqueRecord, LinearReplayInterpolatesPausesAndHoldsTheLastSample) {
    const int16_t values[3] = {100, 201, -50};
    record(0, 3, [&](int s, int) { return values[s]; });
    std::vector<int16_t> got;
    for (int c = 0; c < 200; ++c) {
        if (c == 60) {
            mpb.robotState = 3;
            how.jointTorqueCmd[2] = 1000;
            mpb.torqueCmdGain[2] = 0.5;
            EXPECT_EQ(replay_one(), 350);  // 1000 x 0.7 x 0.5
            mpb.robotState = 2;
        }
        got.push_back(replay_one());
    }
    EXPECT_EQ(got[0], 100);
    EXPECT_EQ(got[25], 150);  // 100 + (101 * 25) / 50, truncated
    EXPECT_EQ(got[49], 198);
    EXPECT_EQ(got[50], 201);
    EXPECT_EQ(got[75], 201 + (-251 * 25) / 50);
    for (int c = 100; c < 200; ++c) EXPECT_EQ(got[c], -50) << c;
}

TEST_F(TorqueRecord, ReplayNeverReadsPastTheBufferWhateverTheHostLength) {
    record(0, 4, [](int s, int j) { return static_cast<int16_t>(10 * s + j); });
    for (int32_t length : {50000, -7, 12000}) {
        mcb.torqueRecordLength = length;
        for (int c = 0; c < 300; ++c) replay_one();
    }
    mcb.torqueRecordLength = 4;
    mcb.torqueRecordApply = 0;
    replay_one();  // replay off: restarts from sample 0
    mcb.torqueRecordApply = 1;
    EXPECT_EQ(replay_one(), 2);
    EXPECT_EQ(qmcTorqueRecordReset(99), 0);
    EXPECT_EQ(mcb.torqueRecordApply + mcb.torqueRecordLength + mcb.torqueRecordSamples[5][1], 0);
    mcb.torqueRecordEnable = mcb.torqueRecordApply = 1;
    EXPECT_EQ(kxmcResetTorqueRecordPara(), 0);
    EXPECT_EQ(mcb.torqueRecordEnable + mcb.torqueRecordApply, 0);
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
            const int16_t want = n == 0
                                     ? static_cast<int16_t>((values[1] * s) / 50)
                                     : kxmc::trunc_to<int16_t>(kxmccomBfitting(&ref, s, 4, params));
            ASSERT_EQ(replay_one(), want) << n << " " << s;
        }
    }
    EXPECT_EQ(replay_one(), 100);
}

// ---- Recorded-band comparison through the check cycle ---------------------------------------

// Records 3000 cycles of smooth currents through the check cycle, replays them against the same
// currents (no collision), then against a push on joint 4 beyond four times the band (caught in
// the cycle it appears).
TEST_F(TorqueRecord, BandRunSameCurrentsPassAndAnExcursionIsCaught) {
    const auto run = [](int push_from, int16_t push) {
        for (int k = 0; k < 3000; ++k) {
            for (int j = 0; j < 6; ++j) {
                const int extra = (j == 3 && k >= push_from) ? push : 0;
                how.jointCurrent[j] =
                    static_cast<int16_t>(150.0 * std::sin(0.002 * k + j) + 20.0 * j + extra);
            }
            kxmcCheckForCollisionError();
            if (!kxsim::action_names().empty() || mcb.warningCode != 0) {
                return k;
            }
        }
        return -1;
    };
    for (uint8_t smooth : {0, 1}) {
        rearm();
        mpb.motionType = 9;
        std::fill_n(mpb.collisionLevel, 6, 100.0f);  // the level branch never counts
        ASSERT_EQ(start_end(1, smooth), 0);
        ASSERT_EQ(run(0, 0), -1);
        ASSERT_EQ(start_end(0, smooth), 0);
        EXPECT_EQ(mcb.torqueRecordLength, 60);
        ASSERT_EQ(start_end(1, smooth), 0);
        EXPECT_EQ(run(0, 0), -1) << int(smooth);
        EXPECT_EQ(mcb.collisionState, 0);
        // Stop and apply again: the replay restarts at sample 0.
        ASSERT_EQ(start_end(0, smooth), 0);
        ASSERT_EQ(start_end(1, smooth), 0);
        EXPECT_EQ(run(1500, current_for(3, 4.5 * kUpper[3])), 1500) << int(smooth);
        EXPECT_EQ(kxsim::action_names(), kPause);
        EXPECT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 4);
    }
}

// Beyond four times the band a residual is caught at once, beyond the band after the count limit
// (0: 500). Reaction 0 pauses, 2 stops, every other one only warns: the band branch never
// switches to drag.
TEST_F(TorqueRecord, BandReactionAndCount) {
    // residual in units of the upper band; cycles_to_catch -1: not within 600 cycles
    struct Case {
        uint8_t reaction;
        double residual;
        int32_t count_limit;
        int cycles_to_catch;
    } cases[] = {{0, 4.5, 3, 1},   {2, -4.5, 3, 1}, {0, 2.0, 3, 4}, {2, 3.5, 3, 4},
                 {2, 2.0, 0, 501}, {0, 0.9, 3, -1}, {1, 4.5, 3, 1}, {3, 4.5, 3, 1},
                 {4, 4.5, 3, 1},   {5, 4.5, 3, 1},  {9, 4.5, 3, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << int(c.reaction) << " " << c.residual << " " << c.count_limit);
        rearm();
        record(0, 2, [](int, int) { return static_cast<int16_t>(0); });
        mcb.collisionPauseFlag = c.reaction;
        mcb.collisionCheckMode = 2;
        mcb.torqueRecordCountLimit[1] = c.count_limit;
        mpb.segmentStep = 0;  // the band mode opens the progress gate by itself
        how.jointCurrent[1] = current_for(1, c.residual * kUpper[1]);
        int caught = -1;
        for (int k = 1; k <= 600 && caught < 0; ++k) {
            kxmcCheckForCollisionError();
            caught = mcb.collisionState == 1 ? k : -1;
        }
        EXPECT_EQ(caught, c.cycles_to_catch);
        const Names want = caught < 0        ? Names{}
                           : c.reaction == 0 ? kPause
                           : c.reaction == 2 ? kStop
                                             : Names{};
        EXPECT_EQ(kxsim::action_names(), want);
        EXPECT_EQ(mcb.collisionErrorCode,
                  want.empty() ? KXMC_COLLISION_NONE : KXMC_COLLISION_NONE + 2);
        EXPECT_EQ(mcb.warningCode, caught > 0 && want.empty() ? 0x22000003u : 0u);
        EXPECT_EQ(CollisionStartFlag, 0);
        EXPECT_EQ(mpb.collisionCounter[1], 0);
    }
}

// ---- Delay line ---------------------------------------------------------------------------

// The first 101 inputs pass straight through; after that the output is the input of `lag`
// calls ago, the lag following the programmed speed's share of the maximum, capped at 100.
TEST(DelayLine, LagFollowsTheProgrammedSpeedWithinBounds) {
    struct Case {
        int32_t motion_type;
        double joint_vel, joint_max, linear_vel, linear_max;
        int lag;
    } cases[] = {{1, 45.0, 180.0, 0, 0, 25},
                 {1, 270.0, 180.0, 0, 0, 100},
                 {2, 0, 0, 250.0, 1000.0, 25},
                 {1, 45.0, 0.0, 0, 0, 0},
                 {21, 0, 0, NAN, 1000.0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.motion_type);
        mpb.motionType = c.motion_type;
        mpb.jointMoveVel = c.joint_vel;
        mpb.jointMaxSpeed[0] = c.joint_max;
        mpb.linearMoveVel = c.linear_vel;
        mpb.linearMaxVel = c.linear_max;
        int16_t out = 0;
        for (int16_t v = 0; v < 300; ++v) {
            findHistoryCurrentSet(v, &out);
            if ((&c == cases && v <= 100) || v >= 200) {
                ASSERT_EQ(out, v <= 100 ? v : v - c.lag) << v;
            }
        }
    }
}

// ---- Message ring ---------------------------------------------------------------------------

// Each row holds the cycle's target and actual positions [deg], velocities [deg/s],
// accelerations [deg/s^2] and torques [N m, motor side]; printing logs them quantity pair by
// quantity pair, row 0 the oldest of the last 200.
TEST_F(CollisionFixture, MessageRingKeepsTwoHundredRowsAndPrintsFourQuantityPairs) {
    for (int i = 1; i <= 250; ++i) {
        double model[6], meas[6];
        for (int j = 0; j < 6; ++j) {
            const int n = j + 1;
            mpb.targetJointPos[j] = i + j;
            mpb.jointPos[j] = -(i + j);
            mpb.targetJointVel[j] = 0.001 * n;  // [deg/cycle]
            mpb.actualJointVel[j] = 0.004 * n;
            mpb.targetJointAcc[j] = 2e-6 * n;  // [deg/cycle^2]
            mpb.actualJointAcc[j] = 5e-6 * n;
            model[j] = 300.0 * n;  // joint side x 100
            meas[j] = 6.0 * n;
        }
        collisionMessageSave(model, meas);
    }
    for (int i = 0; i < 800; ++i) {
        saveMsgPrintfCount = i;
        EXPECT_EQ(collisionMessagePrintf(i), 0);
    }
    EXPECT_EQ(saveMsgPrintfCount, 0);                    // wrapped after 799
    EXPECT_DOUBLE_EQ(collisionJointTarpos[0][0], 51.0);  // oldest first once printing started
    EXPECT_DOUBLE_EQ(collisionJointRealpos[199][5], -255.0);
    const auto row = [](const char *name, double first, double step) {
        std::string text = name;
        for (int j = 0; j < 6; ++j) text += " " + std::to_string(first + step * j);
        return text;
    };
    const std::string want[8] = {row("7 tarpos", 58, 1), row("realpos", -58, -1),
                                 row("7 tarvel", 1, 1),  row("realvel", 4, 4),
                                 row("7 taracc", 2, 2),  row("realacc", 5, 5),
                                 row("7 tartor", 3, 3),  row("realtor", 6, 6)};
    const auto &lines = kxsim::log_lines();
    ASSERT_EQ(lines.size(), 1600u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(lines[k * 400 + 14].text, want[2 * k]);
        EXPECT_EQ(lines[k * 400 + 15].text, want[2 * k + 1]);
        EXPECT_EQ(lines[k * 400].level, 2);
        EXPECT_EQ(lines[k * 400 + 1].level, 2);
    }
}

// The host reads the ring after a collision: at the end of the cycle that reported it, by the
// level or the recorded-band comparison, the rows are oldest first, the collision cycle last.
TEST_F(CollisionFixture, MessageRingIsInOrderAfterTheCollisionCycle) {
    for (const bool band : {false, true}) {
        SCOPED_TRACE(band ? "recorded band" : "level");
        rearm();
        mpb.collisionCountLimit = 1;
        mcb.torqueRecordEnable = mcb.torqueRecordApply = band ? 1 : 0;
        std::fill(mcb.torqueRecordLower, mcb.torqueRecordLower + 6, -0.05f);  // [N m]
        std::fill(mcb.torqueRecordUpper, mcb.torqueRecordUpper + 6, 0.05f);
        for (int i = 1; i <= 321; ++i) {
            mpb.targetJointPos[0] = i;
            if (i == 321) drive_residual(2, 1.5);  // 0.4 N m: over the level and 4 x the band
            cycles(1);
        }
        ASSERT_EQ(mcb.collisionErrorCode, KXMC_COLLISION_NONE + 3);
        EXPECT_DOUBLE_EQ(collisionJointTarpos[0][0], 122.0);
        EXPECT_DOUBLE_EQ(collisionJointTarpos[199][0], 321.0);
        EXPECT_NEAR(collisionJointRealtor[199][2], 1.5 * mpb.collisionThreshold[2],
                    0.001 * rated[2]);
    }
}

TEST_F(CollisionFixture, MessageIndexOrCounterOutsideTheRingPrintsNothing) {
    const std::pair<int32_t, int32_t> cases[] = {
        {0, -1}, {0, 200}, {250, 100}, {799, 800}, {INT32_MIN, INT32_MAX}};
    for (const auto &c : cases) {
        saveMsgPrintfCount = c.first;
        EXPECT_EQ(collisionMessagePrintf(c.second), -1);
    }
    EXPECT_TRUE(kxsim::log_lines().empty());
    saveMsgPrintfCount = 799;
    EXPECT_EQ(collisionMessagePrintf(4000), -1);
    EXPECT_EQ(saveMsgPrintfCount, 0);  // the wrap still happens
}

// ---- Static collision check -----------------------------------------------------------------

// Each joint switches to drag only above its fraction of the rated torque (one per mille under
// it does not), one switch per joint over its limit; model codes outside every band take the
// small arms' fractions.
TEST_F(CollisionFixture, StaticCheckSwitchesToDragAboveTheRatedFraction) {
    using Fractions = std::vector<double>;
    const Fractions small = {0.3, 0.5, 0.6, 0.8, 0.8, 0.8}, arm10 = {0.4, 0.7, 0.8, 0.8, 0.8, 0.8};
    const Fractions large(6, 0.8), arm1050 = {0.5, 0.8, 0.8, 0.8, 0.8, 0.8};
    const std::pair<uint32_t, Fractions> families[] = {
        {101, small}, {250, arm10}, {902, arm10}, {450, large}, {1050, arm1050}, {99999, small}};
    for (const auto &f : families) {
        for (int j = 0; j < 6; ++j) {
            SCOPED_TRACE(::testing::Message() << f.first << " joint " << j + 1);
            rearm();
            mcb.robotModelCode = f.first;
            CollisionStartFlag = CollisionAfterTime = 0;
            const int16_t at = static_cast<int16_t>(std::lround(f.second[j] * 1000.0));
            how.jointCurrent[j] = static_cast<int16_t>(at - 1);  // [per mille] just under
            qmcCheckTorqueError();
            EXPECT_TRUE(kxsim::action_names().empty());
            how.jointCurrent[j] = static_cast<int16_t>(-(at + 1));
            how.jointCurrent[(j + 3) % 6] = 999;
            qmcCheckTorqueError();
            EXPECT_EQ(kxsim::action_names(), (Names{"qmcDragSwitch", "qmcDragSwitch"}));
            EXPECT_TRUE(kxsim::log_contains("Static Collision After to DragMode", 2));
            EXPECT_EQ(CollisionStartFlag, 1);
            EXPECT_EQ(CollisionAfterTime, 1000);
        }
    }
}

}  // namespace
}  // namespace collision_test
