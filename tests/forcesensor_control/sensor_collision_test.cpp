// Collision detection on the sensor's wrench: band edges per component, the start command's
// refusals, and every reaction with and without a running program.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/forcesensor/sensor_fixture.hpp"

namespace {

using namespace sensor_test;
using SensorCollision = SensorFixture;

constexpr uint8_t kAll[6] = {1, 1, 1, 1, 1, 1};
constexpr double kRef[6] = {5, -3, 20, 0.5, -0.25, 0};
constexpr double kUpper[6] = {10, 4, 15, 1, 0.75, 2};
constexpr double kLower[6] = {8, 6, 25, 0.5, 0.5, 3};

void start(const uint8_t sel[6] = kAll) {
    ASSERT_EQ(qmcCollisionStartStop(1, 0, sel, kRef, kUpper, kLower, 9), 0);
}

bool fires(const double w[6]) {
    mcb.collisionErrorCode = KXMC_COLLISION_NONE;
    std::memcpy(mpb.forceSensorWrench, w, 6 * sizeof(double));
    EXPECT_EQ(collisionControl(), 0);
    return mcb.collisionErrorCode != KXMC_COLLISION_NONE;
}

TEST_F(SensorCollision, BandEdgesOfEveryComponent) {
    mcb.collisionPauseFlag = 1;  // warning only: the check stays armed
    const double inf = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE("component " + std::to_string(i));
        uint8_t only[6] = {};
        only[i] = 1;
        start(only);
        double w[6];
        std::memcpy(w, kRef, sizeof w);
        const double hi = kRef[i] + kUpper[i], lo = kRef[i] - kLower[i];
        struct Edge {
            double value;
            bool fires;
        };
        const Edge edges[] = {{hi, false},      {std::nextafter(hi, inf), true},
                              {lo, false},      {std::nextafter(lo, -inf), true},
                              {kRef[i], false}, {std::nan(""), true}};
        for (const Edge &e : edges) {
            w[i] = e.value;
            EXPECT_EQ(fires(w), e.fires) << e.value;
        }
        // The other components are not watched, however far out they are.
        std::memcpy(w, kRef, sizeof w);
        w[(i + 1) % 6] = 1e6;
        w[(i + 2) % 6] = -1e6;
        EXPECT_FALSE(fires(w));
    }
    const uint8_t none[6] = {};
    start(none);
    const double far[6] = {1e9, -1e9, 1e9, -1e9, 1e9, -1e9};
    EXPECT_FALSE(fires(far));
    // Off, or with the sensor processing off, nothing fires.
    start();
    mcb.forceSensorAct = 0;
    EXPECT_FALSE(fires(far));
    mcb.forceSensorAct = 1;
    mcb.sensorCollisionOn = 0;
    EXPECT_FALSE(fires(far));
}

TEST_F(SensorCollision, EveryReactionWithAndWithoutARunningProgram) {
    // Every reaction but the warning ends by telling the host (configuration, weld control).
    const std::vector<std::string> tell = {"doConfigHandle", "resetWeldControlPara"};
    struct Row {
        uint8_t reaction;
        int32_t state;  // robot state: 2 program running
        uint8_t inhibit;
        bool armedAfter;
        uint32_t code;
        float dragTime;
        std::vector<std::string> actions;
        int handover;  // code of the hand-over log line, 0: none
    };
    const std::string handover = "kxCtlTCPSpeedOver After to DragMode mcb.collisionPauseFlag = : ";
    const uint32_t tcp = KXMC_COLLISION_TCP, none = KXMC_COLLISION_NONE;
    const Row rows[] = {{0, 2, 0, true, tcp, 0, {"qmcPause"}, 0},
                        {0, 1, 0, true, tcp, 0, {}, 0},
                        {0, 2, 1, true, tcp, 0, {}, 0},
                        {0, 3, 0, true, tcp, 0, {}, 0},
                        {1, 2, 0, true, 0x13000001u, 0, {}, 0},
                        {2, 2, 0, false, tcp, 0, {"qmcStop"}, 0},
                        {2, 1, 0, false, tcp, 0, {}, 0},
                        {3, 2, 0, false, tcp, 1000, {"qmcStop", "qmcDragSwitch"}, 10},
                        {3, 1, 0, false, tcp, 1000, {}, 0},
                        {4, 2, 0, false, tcp, 5000, {"qmcStop", "qmcDragSwitch"}, 11},
                        {4, 4, 0, false, tcp, 5000, {}, 0},
                        {5, 2, 0, true, none, 2500, {"qmcStop", "qmcDragSwitch"}, 12},
                        {6, 2, 0, false, tcp, 0, {"qmcStop"}, 0},
                        {255, 2, 0, false, tcp, 0, {"qmcStop"}, 0}};
    const double hit[6] = {kRef[0], kRef[1], kRef[2] + kUpper[2] + 0.1, kRef[3], kRef[4], kRef[5]};
    mcb.collisionSafeTime = 2500;
    for (const Row &r : rows) {
        SCOPED_TRACE("reaction " + std::to_string(r.reaction) + " state " +
                     std::to_string(r.state) + " inhibit " + std::to_string(r.inhibit));
        start();
        mcb.collisionPauseFlag = r.reaction;
        mpb.robotState = r.state;
        mcb.collisionStopInhibit = r.inhibit;
        mcb.tcpSpeedOverDragState = 0;
        mcb.tcpSpeedOverDragTime = 0;
        kxsim::clear_journal();
        kxsim::clear_log();
        EXPECT_EQ(fires(hit), r.code != none);
        EXPECT_EQ(mcb.sensorCollisionOn, r.armedAfter ? 1 : 0);
        EXPECT_EQ(mcb.collisionErrorCode, r.code);
        EXPECT_EQ(mcb.tcpSpeedOverDragState, r.dragTime != 0 ? 1 : 0);
        EXPECT_EQ(mcb.tcpSpeedOverDragTime, r.dragTime);
        std::vector<std::string> want = r.actions;
        if (r.reaction != 1) want.insert(want.end(), tell.begin(), tell.end());
        EXPECT_EQ(kxsim::action_names(), want);
        for (const auto &c : kxsim::calls("doConfigHandle"))
            EXPECT_EQ(c.args, (std::vector<double>{1, 1}));
        for (const auto &c : kxsim::calls("qmcDragSwitch"))
            EXPECT_EQ(c.args, (std::vector<double>{1}));
        ASSERT_EQ(kxsim::log_lines().size(), r.handover ? 1u : 0u);
        EXPECT_TRUE(r.handover == 0 ||
                    kxsim::log_contains(handover + std::to_string(r.handover), 2));
    }
}

TEST_F(SensorCollision, StartCommandChecksStoresAndAlwaysEchoesTheCommand) {
    const uint8_t bad_sel[6] = {2, 0, 0, 0, 0, 0},  // the first axis: the check starts there
        seven[7] = {1, 1, 1, 1, 1, 1, 2};           // only six are flags
    const double bad_ref[6] = {std::nan(""), 0, 0, 0, 0, 0};  // the first component again
    struct Row {
        uint8_t on;
        int32_t frame;
        const uint8_t *sel;
        const double *ref;
        uint8_t act;
        int32_t result;
    };
    const Row rows[] = {
        {2, 0, kAll, kRef, 1, -1},    {1, 257, kAll, kRef, 1, -1},  {1, -1, kAll, kRef, 1, -1},
        {1, 0, bad_sel, kRef, 1, -1}, {1, 0, kAll, bad_ref, 1, -1}, {1, 0, nullptr, kRef, 1, -1},
        {1, 0, kAll, kRef, 0, -2},    {1, 256, seven, kRef, 1, 0},  {0, 5, kAll, kRef, 1, 0}};
    uint32_t id = 100;
    for (const Row &r : rows) {
        SCOPED_TRACE(&r - rows);
        mcb.sensorCollisionOn = 7;
        mcb.errorCode = 0;
        mcb.forceSensorAct = r.act;
        mcb.sensorCollisionRef[2] = 0;
        std::memset(mpb.activeWorkpieceFrame, 0, sizeof mpb.activeWorkpieceFrame);
        mpb.workpieceFrameTable[256][48] = 0xABCD;
        mpb.workpieceFrameTable[5][48] = 0x1234;
        EXPECT_EQ(qmcCollisionStartStop(r.on, r.frame, r.sel, r.ref, kUpper, kLower, ++id),
                  r.result);
        EXPECT_EQ(mpb.cmdId, id);
        EXPECT_EQ(mcb.errorCode, r.on > 1 ? KXMC_ERR_ARGUMENT : 0u);
        EXPECT_EQ(mcb.sensorCollisionOn, r.result == 0 ? r.on : 7);
        EXPECT_EQ(mcb.sensorCollisionRef[2], r.result == 0 ? kRef[2] : 0.0);
        EXPECT_EQ(mpb.activeWorkpieceFrame[48], r.result == 0 && r.on == 1 ? 0xABCDu : 0u);
    }
    // One band that is not a number refuses the start, however sound the other.
    EXPECT_EQ(qmcCollisionStartStop(1, 0, kAll, kRef, bad_ref, kLower, 1), -1);
}

}  // namespace
