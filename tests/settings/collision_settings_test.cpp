// Collision settings through the simulated host: accepted values land in the host records and in
// "/root/robot/user.config" [USER_PARAM] with their keys in order; rejected ones change nothing
// (apart from the documented partial level update and its error code).
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kxmc/kxmc_collision_settings.h"
#include "settings_fixture.hpp"

namespace {

using settings_test::concat;
using settings_test::Key;
using settings_test::RecordSnapshot;
using settings_test::SettingsTest;

constexpr const char kUser[] = "USER_PARAM";
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// ---- Static collision --------------------------------------------------------------------

TEST_F(SettingsTest, StaticCollisionTakesAnyByte) {
    for (uint8_t on : {uint8_t{1}, uint8_t{0}, uint8_t{7}}) {
        SCOPED_TRACE(static_cast<int>(on));
        EXPECT_EQ(qmcSetStaticCollisionOnOff(on), 0);
        EXPECT_EQ(mcb.staticCollisionOn, on);
        expect_user_config({{kUser, "COLLISION_STATIC", static_cast<double>(on)}});
    }
}

// ---- Collision reaction -----------------------------------------------------------------

struct PauseCase {
    const char *name;
    uint8_t reaction;
    uint32_t time, distance, speed;
    int32_t margin[6];
    bool accepted;
};

void PrintTo(const PauseCase &c, std::ostream *os) { *os << c.name; }

class CollisionPause : public SettingsTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(CollisionPause, StoresAndPersistsOrRejectsWhole) {
    const PauseCase &c = GetParam();
    mcb.collisionPauseFlag = 1;
    mcb.collisionSafeTime = 111;
    mcb.collisionSafeDistance = 222;
    mcb.collisionSafeSpeed = 333;
    for (int j = 0; j < 6; ++j) {
        mcb.collisionSafeMargin[j] = 4;
    }
    const RecordSnapshot before = RecordSnapshot::take();

    const int32_t result = qmcSetCollisionPause(c.reaction, c.time, c.distance, c.speed, c.margin);

    if (!c.accepted) {
        EXPECT_EQ(result, -1);
        expect_records_unchanged(before);
        expect_nothing_persisted();
        return;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(mcb.collisionPauseFlag, c.reaction);
    EXPECT_EQ(mcb.collisionSafeTime, c.time);
    EXPECT_EQ(mcb.collisionSafeDistance, c.distance);
    EXPECT_EQ(mcb.collisionSafeSpeed, c.speed);
    double margins[6];
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(mcb.collisionSafeMargin[j], c.margin[j]) << "joint " << j + 1;
        margins[j] = c.margin[j];
    }
    expect_user_config(concat({{kUser, "COLLISION_PAUSE", static_cast<double>(c.reaction)},
                               {kUser, "COLLISION_SAFETIME", static_cast<double>(c.time)},
                               {kUser, "COLLISION_SAFEDISTANCE", static_cast<double>(c.distance)},
                               {kUser, "COLLISION_SAFESPEED", static_cast<double>(c.speed)}},
                              settings_test::numbered_keys(kUser, "COLLISION_SAFEMARGIN", margins)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CollisionPause,
    ::testing::Values(
        PauseCase{"ReboundAtLimits", 5, 2000, 500, 80, {10, 10, 10, 10, 10, 10}, true},
        PauseCase{"ReboundLowestMargins", 5, 0, 0, 0, {1, 1, 1, 1, 1, 1}, true},
        PauseCase{"ReboundTimeOver", 5, 2001, 500, 80, {10, 10, 10, 10, 10, 10}, false},
        PauseCase{"ReboundDistanceOver", 5, 2000, 501, 80, {10, 10, 10, 10, 10, 10}, false},
        PauseCase{"ReboundMarginZero", 5, 100, 100, 80, {5, 5, 5, 5, 5, 0}, false},
        PauseCase{"ReboundMarginEleven", 5, 100, 100, 80, {11, 5, 5, 5, 5, 5}, false},
        PauseCase{"ReboundMarginNegative", 5, 100, 100, 80, {5, 5, -3, 5, 5, 5}, false},
        // Below reaction 5 the limits are not range-tested.
        PauseCase{"StopAndDragLongTime", 4, 5000, 900, 70000, {0, -1, 99, 0, 0, 0}, true},
        PauseCase{"Pause", 0, 0, 0, 0, {0, 0, 0, 0, 0, 0}, true},
        PauseCase{"UnknownReaction", 6, 100, 100, 80, {5, 5, 5, 5, 5, 5}, false},
        PauseCase{"ByteMax", 255, 0, 0, 0, {5, 5, 5, 5, 5, 5}, false}),
    settings_test::CaseName());

// ---- Collision levels --------------------------------------------------------------------

struct LevelCase {
    const char *name;
    uint8_t levelType;
    float level[6];
    int32_t joints;   // mpb.jointNum
    uint8_t persist;
    int32_t result;
    int changed;      // joints taking the new level (the rest keep kOldLevel)
    bool errorCode;   // mcb.paramErrorCode written
};

void PrintTo(const LevelCase &c, std::ostream *os) { *os << c.name; }

constexpr float kOldLevel = 3.0f;
constexpr float kSavedLevel = 4.0f;
constexpr uint32_t kCmdId = 0xC0FFEE;

class CollisionLevel : public SettingsTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(CollisionLevel, TakesLevelsJointByJoint) {
    const LevelCase &c = GetParam();
    mpb.jointNum = c.joints;
    mpb.cmdId = 7;
    mcb.paramErrorCode = 0;
    for (int j = 0; j < 6; ++j) {
        mpb.collisionLevel[j] = kOldLevel;
        mpb.collisionLevelSaved[j] = kSavedLevel;
        mpb.collisionCounter[j] = 42;
    }
    const RecordSnapshot expected = RecordSnapshot::take();

    const int32_t result = qmcSetCollisionLevel(c.levelType, c.level, c.persist, kCmdId);
    EXPECT_EQ(result, c.result);

    // Joints before a rejected one keep their new level and a cleared counter.
    for (int j = 0; j < 6; ++j) {
        SCOPED_TRACE("joint " + std::to_string(j + 1));
        const bool changed = j < c.changed;
        if (changed) {
            EXPECT_EQ(mpb.collisionLevel[j], c.level[j]);
            EXPECT_EQ(mpb.collisionCounter[j], 0);
        } else {
            EXPECT_EQ(mpb.collisionLevel[j], kOldLevel);
            EXPECT_EQ(mpb.collisionCounter[j], 42);
        }
        const float saved = (result == 0 && c.persist == 1) ? mpb.collisionLevel[j] : kSavedLevel;
        EXPECT_EQ(mpb.collisionLevelSaved[j], saved);
    }
    EXPECT_EQ(mcb.paramErrorCode, c.errorCode ? 0x19000003u : 0u);
    EXPECT_EQ(mpb.cmdId, result == 0 ? kCmdId : 7u);

    if (result == 0 && c.persist == 1) {
        double levels[6];
        for (int j = 0; j < 6; ++j) {
            levels[j] = mpb.collisionLevel[j];
        }
        expect_user_config(concat({{kUser, "COLLISION_LEVEL_TYPE", static_cast<double>(c.levelType)}},
                                  settings_test::numbered_keys(kUser, "J", levels, "_COLLISION_LEVEL")));
    } else {
        expect_nothing_persisted();
    }
    if (result != 0 && c.changed == 0) {
        // Apart from the error code nothing at all may have moved.
        mcb.paramErrorCode = 0;
        expect_records_unchanged(expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CollisionLevel,
    ::testing::Values(
        LevelCase{"PersistAll", 0, {10, 20, 30, 40, 50, 60}, 6, 1, 0, 6, false},
        LevelCase{"TypeOnePersisted", 1, {1, 2, 3, 4, 5, 6}, 6, 1, 0, 6, false},
        LevelCase{"BoundsAccepted", 0, {0, 100, 0, 100, 0.5f, 99.5f}, 6, 1, 0, 6, false},
        LevelCase{"WithoutPersisting", 0, {7, 7, 7, 7, 7, 7}, 6, 0, 0, 6, false},
        LevelCase{"PersistFlagTwoIsNotOne", 0, {7, 7, 7, 7, 7, 7}, 6, 2, 0, 6, false},
        LevelCase{"SecondJointOver", 0, {10, 150, 10, 10, 10, 10}, 6, 1, -1, 1, true},
        LevelCase{"LastJointNegative", 0, {5, 5, 5, 5, 5, -0.01f}, 6, 1, -1, 5, true},
        LevelCase{"FirstJointNaN", 0, {kNaN, 5, 5, 5, 5, 5}, 6, 1, -1, 0, true},
        LevelCase{"ThirdJointNaN", 0, {5, 5, kNaN, 5, 5, 5}, 6, 1, -1, 2, true},
        LevelCase{"LevelTypeTwo", 2, {5, 5, 5, 5, 5, 5}, 6, 1, -1, 0, false},
        // Only the arm's joints are read; the persisted keys still cover all six joints.
        LevelCase{"ThreeJointArm", 0, {8, 9, 10, 150, kNaN, -5}, 3, 1, 0, 3, false},
        LevelCase{"NoJoints", 0, {150, 150, 150, 150, 150, 150}, 0, 1, 0, 0, false}),
    settings_test::CaseName());

TEST_F(SettingsTest, ResumeRestoresLastPersistedLevels) {
    const float persisted[6] = {10, 20, 30, 40, 50, 60};
    ASSERT_EQ(qmcSetCollisionLevel(0, persisted, 1, 1), 0);
    const float temporary[6] = {10, 25, 30, 45, 50, 65};
    ASSERT_EQ(qmcSetCollisionLevel(0, temporary, 0, 2), 0);
    mpb.collisionLevel[0] = std::numeric_limits<float>::quiet_NaN();  // corrupted in the record
    kxsim::clear_journal();

    EXPECT_EQ(qmcCollisionLevelResume(), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(mpb.collisionLevel[j], persisted[j]) << "joint " << j + 1;
    }
    EXPECT_TRUE(kxsim::calls("ConfigWriteEntry").empty());
}

// ---- Detector mode -----------------------------------------------------------------------

TEST_F(SettingsTest, CollisionModeAcceptsItsRangeOnly) {
    struct Case {
        uint8_t mode, threshold;
        bool accepted;
    };
    const Case cases[] = {{0, 0, true}, {2, 1, true}, {1, 0, true},
                          {3, 0, false}, {0, 2, false}, {255, 255, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + "/" + std::to_string(c.threshold));
        kxsim::clear_config();
        kxsim::clear_journal();
        mpb.collisionMode = 1;
        mpb.collisionThresholdMode = 1;
        const RecordSnapshot before = RecordSnapshot::take();
        const int32_t result = qmcSetCollisionMode(c.mode, c.threshold);
        if (!c.accepted) {
            EXPECT_EQ(result, -1);
            expect_records_unchanged(before);
            expect_nothing_persisted();
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(mpb.collisionMode, c.mode);
        EXPECT_EQ(mpb.collisionThresholdMode, c.threshold);
        expect_user_config({{kUser, "COLLISION_MODE", static_cast<double>(c.mode)},
                            {kUser, "COLLISION_THRESHOLDMODE", static_cast<double>(c.threshold)}});
    }
}

// ---- Joint limits per model --------------------------------------------------------------

struct LimitCase {
    uint32_t model;
    double vel[6];  // [deg/s]
    float acc[6];   // [deg/s^2]
};

void PrintTo(const LimitCase &c, std::ostream *os) { *os << "model " << c.model; }

class JointLimits : public SettingsTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(JointLimits, FollowTheArmModel) {
    const LimitCase &c = GetParam();
    mcb.robotModelCode = c.model;
    mpb.robotState = 1;
    double vel[6] = {};
    float acc[6] = {};
    EXPECT_EQ(MaxJointVel(vel), 0);
    EXPECT_EQ(JointMaxAcc(acc), 0);
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(vel[j], c.vel[j]) << "joint " << j + 1;
        EXPECT_EQ(acc[j], c.acc[j]) << "joint " << j + 1;
    }
}

constexpr LimitCase kLimitsLight{0, {180, 180, 180, 180, 180, 180}, {360, 360, 360, 360, 360, 360}};

LimitCase with_model(LimitCase c, uint32_t model) {
    c.model = model;
    return c;
}

constexpr LimitCase kLimitsMedium{0, {120, 120, 180, 180, 180, 180}, {240, 240, 360, 360, 360, 360}};
constexpr LimitCase kLimitsHeavy{0, {120, 120, 120, 180, 180, 180}, {120, 120, 120, 360, 360, 360}};

INSTANTIATE_TEST_SUITE_P(
    Models, JointLimits,
    ::testing::Values(with_model(kLimitsLight, 0), with_model(kLimitsLight, 1),
                      with_model(kLimitsLight, 200), with_model(kLimitsMedium, 201),
                      with_model(kLimitsMedium, 302), with_model(kLimitsMedium, 400),
                      with_model(kLimitsHeavy, 401), with_model(kLimitsHeavy, 500),
                      with_model(kLimitsLight, 501), with_model(kLimitsLight, 750),
                      with_model(kLimitsLight, 1000), with_model(kLimitsHeavy, 1001),
                      with_model(kLimitsHeavy, 1100), with_model(kLimitsLight, 1101),
                      with_model(kLimitsLight, 0xFFFFFFFFu)),
    [](const ::testing::TestParamInfo<LimitCase> &param_info) {
        return "Model" + std::to_string(param_info.param.model);
    });

struct OverspeedCase {
    const char *name;
    int32_t state;
    double vel[6];      // [deg/s]
    uint32_t warning;   // 0: none
};

void PrintTo(const OverspeedCase &c, std::ostream *os) { *os << c.name; }

class DragOverspeed : public SettingsTest, public ::testing::WithParamInterface<OverspeedCase> {};

TEST_P(DragOverspeed, WarnsForTheFirstFastJoint) {
    const OverspeedCase &c = GetParam();
    mcb.robotModelCode = 201;  // limits 120, 120, 180, 180, 180, 180
    mpb.robotState = c.state;
    mcb.warningCode = 0;
    for (int j = 0; j < 6; ++j) {
        mpb.actualJointVel[j] = c.vel[j] / 1000.0;  // [deg/cycle]
    }
    double limit[6];
    EXPECT_EQ(MaxJointVel(limit), 0);
    EXPECT_EQ(mcb.warningCode, c.warning);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DragOverspeed,
    ::testing::Values(
        OverspeedCase{"AllSlow", 4, {119, 119, 179, 179, 179, 179}, 0},
        OverspeedCase{"AtLimitIsNotOver", 4, {120, 120, 180, 180, 180, 180}, 0},
        OverspeedCase{"JointOne", 4, {121, 0, 0, 0, 0, 0}, 0x22000004},
        OverspeedCase{"JointThreeBeforeSix", 4, {0, 0, 181, 0, 0, 500}, 0x22000006},
        OverspeedCase{"JointSix", 4, {0, 0, 0, 0, 0, 180.5}, 0x22000009},
        OverspeedCase{"JointTwoOnlyWithMediumLimit", 4, {0, 150, 0, 0, 0, 0}, 0x22000005},
        // Fast turning in the negative direction is reported like the positive direction.
        OverspeedCase{"NegativeDirection", 4, {-900, -900, -900, -900, -900, -900}, 0x22000004},
        OverspeedCase{"NegativeJointFour", 4, {-119, 0, 0, -181, 0, 0}, 0x22000007},
        OverspeedCase{"NotInDrag", 2, {900, 900, 900, 900, 900, 900}, 0},
        OverspeedCase{"Paused", 3, {900, 0, 0, 0, 0, 0}, 0}),
    settings_test::CaseName());

}  // namespace
