// Settings commands through the simulated host: an accepted call stores its values in the host
// records and persists the same values under the listed keys, in order (read back from disk); a
// refused call returns its code and changes nothing, apart from the partial updates the commands
// make on purpose (collision levels, drag lock gains, friction law gains on the first call).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "host_fixture.hpp"
#include "kxmc/kxmc_collision_settings.h"
#include "kxmc/kxmc_dynamics_settings.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Key {
    std::string section, key;
    double value;
};

std::vector<Key> numbered(const char *section, const std::string &prefix, const double v[6],
                          const std::string &suffix = "") {
    std::vector<Key> keys;
    for (int j = 0; j < 6; ++j)
        keys.push_back({section, prefix + std::to_string(j + 1) + suffix, v[j]});
    return keys;
}

std::vector<Key> operator+(std::vector<Key> a, const std::vector<Key> &b) {
    return a.insert(a.end(), b.begin(), b.end()), a;
}

double *law_field(int g) {
    return std::array<double *, 4>{mpb.fricForDeadGain, mpb.fricRevDeadGain, mpb.fricForFastGain,
                                   mpb.fricRevFastGain}[g];
}
double *lock_field(int t) {
    return std::array<double *, 3>{mcb.dragLockKp, mcb.dragLockKi, mcb.dragLockKd}[t];
}

// Friction law gains (forDead, revDead, forFast, revFast per joint) and drag lock gains (P, I, D
// per axis x, y, z, a, b, c), all different, the last at its upper bound.
struct Gains {
    double v[4][6];
};
Gains gains(int rows, double first, double step, double last) {
    Gains g{};
    for (int r = 0; r < rows; ++r)
        for (int j = 0; j < 6; ++j) g.v[r][j] = first + step * (rows * j + r);
    g.v[rows - 1][5] = last;
    return g;
}
const Gains kLaw = gains(4, 0.5, 0.04, 1.5), kLock = gains(3, 0.0, 0.5, 10.0);
// Keys joint by joint (axis by axis), the gains of one joint in row order.
std::vector<Key> gain_keys(const char *section, const Gains &g, int rows,
                           std::string (*name)(int row, int j)) {
    std::vector<Key> keys;
    for (int j = 0; j < 6; ++j)
        for (int r = 0; r < rows; ++r) keys.push_back({section, name(r, j), g.v[r][j]});
    return keys;
}
std::string law_key(int r, int j) {
    return std::string(r % 2 ? "REV" : "FOR") + (r < 2 ? "DEAD" : "FAST") + "_GAIN" +
           std::to_string(j + 1);
}
std::string lock_key(int r, int j) {
    return std::string("DRAGLOCK_") + "PID"[r] + "_" + "XYZABC"[j];
}

// Every persisted key with the host field that holds its value.
std::map<std::string, double> host_values() {
    std::map<std::string, double> m = {{"COLLISION_STATIC", mcb.staticCollisionOn},
                                       {"COLLISION_PAUSE", mcb.collisionPauseFlag},
                                       {"COLLISION_SAFETIME", mcb.collisionSafeTime},
                                       {"COLLISION_SAFEDISTANCE", mcb.collisionSafeDistance},
                                       {"COLLISION_SAFESPEED", mcb.collisionSafeSpeed},
                                       {"COLLISION_MODE", mpb.collisionMode},
                                       {"COLLISION_THRESHOLDMODE", mpb.collisionThresholdMode},
                                       {"POWER_FLAG", mcb.powerFlag},
                                       {"POWER_LIMIT", mcb.powerLimit},
                                       {"FRIC_COMPENSATION", mcb.frictionCompOn},
                                       {"FRIC_JOINTSTIFFNESSTYPE", mcb.fricJointStiffnessType},
                                       {"INTERFERE_DRAG", mcb.interfereDragMode},
                                       {"DRAGLOCK_ENABLE", mcb.dragLockOn},
                                       {"NEW_TEACH_ENABLE", mcb.newTeachEnable}};
    for (int j = 0; j < 6; ++j) {
        const std::string n = std::to_string(j + 1);
        m["COLLISION_SAFEMARGIN" + n] = mcb.collisionSafeMargin[j];
        m["FRIC_VALUE_FREE_J" + n] = mpb.frictionGain[j];
        m["NEW_TEACH_GAIN" + n] = mcb.newTeachGain[j];
        m["NEW_TEACH_GAIN_KF" + n] = mcb.newTeachGainKf[j];
        for (int r = 0; r < 4; ++r) m[law_key(r, j)] = law_field(r)[j];
        for (int r = 0; r < 3; ++r) m[lock_key(r, j)] = lock_field(r)[j];
    }
    return m;
}

std::string records() {  // every byte of the host records
    const auto bytes = [](const auto &r) {
        return std::string(reinterpret_cast<const char *>(&r), sizeof r);
    };
    return bytes(mcb) + bytes(mpb) + bytes(how);
}

void expect_user_config(const std::vector<Key> &want) {
    const auto got = kxsim::read_config("/root/robot/user.config");
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].section + "/" + got[i].key, want[i].section + "/" + want[i].key) << i;
        EXPECT_EQ(std::stof(got[i].value), static_cast<float>(want[i].value)) << want[i].key;
    }
}

void expect_nothing_persisted() {
    EXPECT_TRUE(kxsim::calls("ConfigWriteEntry").empty());
    EXPECT_TRUE(kxsim::read_config("/root/robot/user.config").empty());
}

class Settings : public kxsim_test::HostFixture {
   protected:
    uint32_t model_code() const override { return 101; }  // the 5-kg arm
    void SetUp() override {
        HostFixture::SetUp();
        // Every field poisoned with a value no case writes, so a value not stored is seen.
        std::memset(&mcb, 0x55, sizeof mcb);
        std::memset(&mpb, 0x55, sizeof mpb);
        mcb.robotModelCode = 101;
        mpb.jointNum = 6;
        mcb.dragLockOn = mcb.interfereDragMode = 0;
        for (int j = 0; j < 6; ++j) mcb.newTeachGainBase[j] = 10.0 * (j + 1);
        kxsim::clear_journal();
    }
    static void fresh() { kxsim::clear_config(), kxsim::clear_journal(); }
};

struct SetterCase {
    const char *name;
    int32_t (*apply)();
    int32_t result;
    std::vector<Key> keys = {};   // persisted, and held by the host fields, when accepted
    void (*prepare)() = nullptr;  // host state before the call
};

class Setter : public Settings, public ::testing::WithParamInterface<SetterCase> {};

TEST_P(Setter, StoresAndPersistsOrChangesNothing) {
    const SetterCase &c = GetParam();
    if (c.prepare != nullptr) c.prepare();
    const auto before = records();
    EXPECT_EQ(c.apply(), c.result);
    if (c.result != 0) {
        EXPECT_TRUE(records() == before) << "host records changed";
        expect_nothing_persisted();
        return;
    }
    expect_user_config(c.keys);
    EXPECT_EQ(kxsim::calls("ConfigWriteEntry").size(), c.keys.size()) << "each key written once";
    const auto fields = host_values();
    for (const Key &k : c.keys)
        EXPECT_EQ(static_cast<float>(fields.at(k.key)), static_cast<float>(k.value)) << k.key;
}

const char kU[] = "USER_PARAM";
const double kEdgeMargins[6] = {10, 1, 10, 1, 10, 1};
const double kAnyMargins[6] = {0, -1, 99, 0, 0, 0};
const double kTeachGains[6] = {14.3, 24.6, 36.9,
                               57.2, 71.5, 85.8};  // base x 1.43, joints 2-3 x 1.23
const double kOnes[6] = {1, 1, 1, 1, 1, 1};
const double kFree[6] = {-0.000001, 1.0, 0.0, 0.7, 0.8, 0.9};
const double kFreeBeyondArm[6] = {0.5, 0.5, 0.5, 3.0, 0.5, 0.5};

int32_t free_gains(const float (&g)[6]) { return qmcSetFrictionValue_free(g); }
int32_t law_gains(Gains g) { return qmcSetJointFrictionGain(g.v[0], g.v[1], g.v[2], g.v[3]); }
int32_t lock_gains(Gains g) { return qmcSetDragLockPara(g.v[0], g.v[1], g.v[2]); }
int32_t pause(uint8_t r, uint32_t t, uint32_t d, uint32_t s, const int32_t (&m)[6]) {
    return qmcSetCollisionPause(r, t, d, s, m);
}
std::vector<Key> pause_keys(double reaction, double time, double dist, double speed,
                            const double *m) {
    return std::vector<Key>{{kU, "COLLISION_PAUSE", reaction},
                            {kU, "COLLISION_SAFETIME", time},
                            {kU, "COLLISION_SAFEDISTANCE", dist},
                            {kU, "COLLISION_SAFESPEED", speed}} +
           numbered(kU, "COLLISION_SAFEMARGIN", m);
}

// name, call, result, then the keys and the host state before the call as in SetterCase.
#define CASE(name, call, ...)                  \
    SetterCase {                               \
        name, [] { return call; }, __VA_ARGS__ \
    }
const SetterCase kSetterCases[] = {
    CASE("StaticAnyByte", qmcSetStaticCollisionOnOff(7), 0, {{kU, "COLLISION_STATIC", 7}}),
    CASE("ReboundAtLimits", pause(5, 2000, 500, 80, {10, 1, 10, 1, 10, 1}), 0,
         pause_keys(5, 2000, 500, 80, kEdgeMargins)),
    // Below reaction 5 the limits are not range-tested.
    CASE("StopAndDragUnchecked", pause(4, 5000, 900, 70000, {0, -1, 99, 0, 0, 0}), 0,
         pause_keys(4, 5000, 900, 70000, kAnyMargins)),
    CASE("ReboundTimeOver", pause(5, 2001, 500, 80, {5, 5, 5, 5, 5, 5}), -1),
    CASE("ReboundDistanceOver", pause(5, 2000, 501, 80, {5, 5, 5, 5, 5, 5}), -1),
    CASE("ReboundMarginZero", pause(5, 2000, 500, 80, {5, 5, 5, 5, 5, 0}), -1),
    CASE("ReboundMarginEleven", pause(5, 2000, 500, 80, {5, 11, 5, 5, 5, 5}), -1),
    CASE("UnknownReaction", pause(6, 100, 100, 80, {5, 5, 5, 5, 5, 5}), -1),
    CASE("DetectorMode", qmcSetCollisionMode(2, 1), 0,
         {{kU, "COLLISION_MODE", 2}, {kU, "COLLISION_THRESHOLDMODE", 1}}),
    CASE("DetectorModeThree", qmcSetCollisionMode(3, 0), -1),
    CASE("PowerOn", qmcSetPowerLimit(1, 250.5), 0,
         {{kU, "POWER_FLAG", 1}, {kU, "POWER_LIMIT", 250.5}}),
    CASE("PowerOffAnyLimit", qmcSetPowerLimit(0, -3.0), 0,
         {{kU, "POWER_FLAG", 0}, {kU, "POWER_LIMIT", -3.0}}),
    CASE("PowerFlagTwo", qmcSetPowerLimit(2, 100.0), -1),
    CASE("PowerLimitNaN", qmcSetPowerLimit(1, double(kNaN)), -1),
    CASE("FrictionOn", qmcFrictionCompensationOnOff(1), 0, {{kU, "FRIC_COMPENSATION", 1}}),
    CASE("FrictionTwo", qmcFrictionCompensationOnOff(2), -1),
    CASE("StiffnessTwo", qmcSetJointStiffnessType(2), -1),
    CASE("StiffnessOne", qmcSetJointStiffnessType(1), 0, {{kU, "FRIC_JOINTSTIFFNESSTYPE", 1}}),
    CASE("InterfereLeaveWhileLocked", qmcSetInterfereDrag(2), 0,
         {{"INTERFERE_PARAM", "INTERFERE_DRAG", 2}}, [] { mcb.dragLockOn = 1; }),
    CASE("HoldWhileLocked", qmcSetInterfereDrag(1), -2, {}, [] { mcb.dragLockOn = 1; }),
    CASE("LockOn", qmcDragLockEnableDisable(1), 0, {{"DRAGLOCK_PARAM", "DRAGLOCK_ENABLE", 1}}),
    CASE("LockWhileHolding", qmcDragLockEnableDisable(1), -2, {},
         [] { mcb.interfereDragMode = 1; }),
    CASE("UnlockWhileHolding", qmcDragLockEnableDisable(0), 0,
         {{"DRAGLOCK_PARAM", "DRAGLOCK_ENABLE", 0}},
         [] { mcb.interfereDragMode = mcb.dragLockOn = 1; }),
    CASE("FreeGainsBounds", free_gains({-0.000001f, 1.0f, 0.0f, 0.7f, 0.8f, 0.9f}), 0,
         numbered(kU, "FRIC_VALUE_FREE_J", kFree)),
    // Only the arm's joints are range-tested; all six are stored and persisted.
    CASE("FreeGainsBeyondArm", free_gains({0.5f, 0.5f, 0.5f, 3.0f, 0.5f, 0.5f}), 0,
         numbered(kU, "FRIC_VALUE_FREE_J", kFreeBeyondArm), [] { mpb.jointNum = 3; }),
    CASE("FreeGainAboveOne", free_gains({0.5f, 0.5f, 1.0001f, 0.5f, 0.5f, 0.5f}), -1),
    CASE("FreeGainNaN", free_gains({kNaN, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}), -1),
    CASE("TeachVersionOne", qmcgravityTeachVersionOnOff(1), 0,
         std::vector<Key>{{"TEST_PARAM", "NEW_TEACH_ENABLE", 1}} +
             numbered("TEST_PARAM", "NEW_TEACH_GAIN", kTeachGains) +
             numbered("TEST_PARAM", "NEW_TEACH_GAIN_KF", kOnes)),
    CASE("LawGains", law_gains(kLaw), 0, gain_keys(kU, kLaw, 4, law_key)),
    CASE("DragLockGains", lock_gains(kLock), 0, gain_keys("DRAGLOCK_PARAM", kLock, 3, lock_key)),
};
INSTANTIATE_TEST_SUITE_P(Cases, Setter, ::testing::ValuesIn(kSetterCases),
                         [](const ::testing::TestParamInfo<SetterCase> &i) {
                             return std::string(i.param.name);
                         });
#undef CASE

// Versions 1 and 0 are refused by the arms their laws do not cover; a refusal selects full
// dynamics, an unknown version changes nothing.
TEST_F(Settings, TorqueModelVersionPerArmModel) {
    const struct {
        int model, version, result, enable;
    } cases[] = {{1, 1, 0, 1},    {400, 1, 0, 1},  {3, 1, -1, 2},  {401, 1, -1, 2}, {500, 0, 0, 0},
                 {501, 0, -1, 2}, {700, 0, -1, 2}, {701, 0, 0, 0}, {800, 0, 0, 0},  {801, 0, -1, 2},
                 {900, 0, -1, 2}, {901, 0, 0, 0},  {550, 2, 0, 2}, {101, 3, -1, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.model) + " v" + std::to_string(c.version));
        fresh();
        mcb.robotModelCode = c.model;
        mcb.newTeachEnable = 1;
        std::fill_n(mcb.newTeachGain, 6, -1.0);
        EXPECT_EQ(qmcgravityTeachVersionOnOff(c.version), c.result);
        EXPECT_EQ(int{mcb.newTeachEnable}, c.enable);
        if (c.result != 0) {  // a refusal stores no gains and persists nothing
            EXPECT_EQ(std::vector<double>(mcb.newTeachGain, mcb.newTeachGain + 6),
                      std::vector<double>(6, -1.0));
            expect_nothing_persisted();
        }
    }
}

// Collision levels are taken joint by joint: the joints before a refused level keep the new one.
TEST_F(Settings, CollisionLevelsJointByJoint) {
    // changed: joints taking the new level; joints: mpb.jointNum.
    const struct {
        const char *name;
        uint8_t type;
        float level[6];
        int joints, persist, result, changed;
    } cases[] = {
        {"PersistBounds", 1, {0, 100, 30, 40, 0.5f, 99.5f}, 6, 1, 0, 6},
        {"PersistFlagTwoIsNotOne", 0, {7, 7, 7, 7, 7, 7}, 6, 2, 0, 6},
        {"SecondJointOver", 0, {10, 100.5f, 10, 10, 10, 10}, 6, 1, -1, 1},
        {"FirstJointNaN", 0, {kNaN, 5, 5, 5, 5, 5}, 6, 1, -1, 0},
        {"LevelTypeTwo", 2, {5, 5, 5, 5, 5, 5}, 6, 1, -1, 0},
        // Only the arm's joints are read; the persisted keys still cover all six.
        {"ThreeJointArm", 0, {8, 9, 10, 150, kNaN, -5}, 3, 1, 0, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        mpb.jointNum = c.joints;
        mpb.cmdId = 7;
        mcb.paramErrorCode = 0;
        std::fill_n(mpb.collisionLevel, 6, 3.0f);
        std::fill_n(mpb.collisionLevelSaved, 6, 4.0f);
        std::fill_n(mpb.collisionCounter, 6, 42);
        const auto before = records();
        const int32_t result = qmcSetCollisionLevel(c.type, c.level, c.persist, 0xC0FFEE);
        EXPECT_EQ(result, c.result);
        const bool persisted = result == 0 && c.persist == 1;
        double levels[6];
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(mpb.collisionLevel[j], j < c.changed ? c.level[j] : 3.0f) << j;
            EXPECT_EQ(mpb.collisionCounter[j], j < c.changed ? 0 : 42) << j;
            EXPECT_EQ(mpb.collisionLevelSaved[j], persisted ? mpb.collisionLevel[j] : 4.0f) << j;
            levels[j] = mpb.collisionLevel[j];
        }
        EXPECT_EQ(mcb.paramErrorCode, result == 0 || c.type > 1 ? 0u : 0x19000003u);
        EXPECT_EQ(mpb.cmdId, result == 0 ? 0xC0FFEEu : 7u);
        if (persisted) {
            expect_user_config(std::vector<Key>{{kU, "COLLISION_LEVEL_TYPE", double(c.type)}} +
                               numbered(kU, "J", levels, "_COLLISION_LEVEL"));
        } else {
            expect_nothing_persisted();
        }
        mcb.paramErrorCode = 0;  // apart from the error code nothing moved when no joint changed
        EXPECT_TRUE(result == 0 || c.changed != 0 || records() == before);
    }
    // Resume restores the levels last persisted (the three-joint case), even over a corrupted one.
    const std::vector<float> persisted(mpb.collisionLevelSaved, mpb.collisionLevelSaved + 6);
    mpb.collisionLevel[0] = kNaN;
    mpb.collisionLevel[4] = -persisted[4];
    kxsim::clear_journal();
    EXPECT_EQ(qmcCollisionLevelResume(), 0);
    EXPECT_EQ(std::vector<float>(mpb.collisionLevel, mpb.collisionLevel + 6), persisted);
    EXPECT_EQ(std::vector<float>(mpb.collisionLevelSaved, mpb.collisionLevelSaved + 6), persisted);
    EXPECT_TRUE(kxsim::calls("ConfigWriteEntry").empty());
}

// The first call of the library's life resets all 24 law gains to 1.0 before validating; later
// refused calls change nothing at all.
TEST_F(Settings, RefusedLawGainsResetOnlyOnTheFirstCall) {
    const struct {
        int array, joint;
        double value;
    } bad[] = {{0, 0, 0.49}, {1, 3, 1.51}, {2, 5, double(kNaN)}};
    for (int n = 0; n < 3; ++n) {
        Gains g = kLaw;
        g.v[bad[n].array][bad[n].joint] = bad[n].value;
        for (int a = 0; a < 4; ++a) std::fill_n(law_field(a), 6, 0.9);
        const auto before = records();
        EXPECT_EQ(qmcSetJointFrictionGain(g.v[0], g.v[1], g.v[2], g.v[3]), -1);
        for (int a = 0; a < 4; ++a)
            EXPECT_EQ(std::vector<double>(law_field(a), law_field(a) + 6),
                      std::vector<double>(6, n ? 0.9 : 1.0));
        EXPECT_TRUE(n == 0 || records() == before) << n;
        expect_nothing_persisted();
    }
}

// Gains before the refused one (axis by axis, P, I, D within an axis) stay stored; the refused
// element of the caller's array becomes 10.0; nothing is persisted.
TEST_F(Settings, RefusedDragLockGainKeepsTheGainsBeforeIt) {
    const struct {
        int term, axis;
        double value;
    } bad[] = {{0, 0, -0.5}, {1, 4, double(kNaN)}, {2, 5, 10.001}};
    for (const auto &b : bad) {
        Gains g = kLock;
        g.v[b.term][b.axis] = b.value;
        for (int t = 0; t < 3; ++t) std::fill_n(lock_field(t), 6, -7.0);
        EXPECT_EQ(qmcSetDragLockPara(g.v[0], g.v[1], g.v[2]), -1);
        const int refused = 3 * b.axis + b.term;
        for (int i = 0; i < 18; ++i) {  // i = 3 axis + term
            EXPECT_EQ(lock_field(i % 3)[i / 3], i < refused ? kLock.v[i % 3][i / 3] : -7.0) << i;
            EXPECT_EQ(g.v[i % 3][i / 3], i == refused ? 10.0 : kLock.v[i % 3][i / 3]) << i;
        }
        expect_nothing_persisted();
    }
}

// Joint speed and acceleration limits of each arm family [deg/s, deg/s^2].
TEST_F(Settings, JointLimitsPerArmFamily) {
    using Limits = std::array<double, 6>;
    const Limits v180 = {180, 180, 180, 180, 180, 180}, a360 = {360, 360, 360, 360, 360, 360};
    const Limits v10 = {120, 120, 180, 180, 180, 180}, a10 = {240, 240, 360, 360, 360, 360};
    const Limits v40 = {120, 120, 120, 180, 180, 180}, a40 = {120, 120, 120, 360, 360, 360};
    const struct {
        uint32_t model;
        Limits vel, acc;
    } rows[] = {{0, v180, a360},   {100, v180, a360},  {101, v180, a360}, {200, v180, a360},
                {201, v10, a10},   {400, v10, a10},    {401, v40, a40},   {500, v40, a40},
                {501, v180, a360}, {1000, v180, a360}, {1001, v40, a40},  {1100, v40, a40},
                {1101, v180, a360}};
    mpb.robotState = 1;
    for (const auto &r : rows) {
        mcb.robotModelCode = r.model;
        double vel[6];
        float acc[6];
        ASSERT_EQ(MaxJointVel(vel), 0);
        ASSERT_EQ(JointMaxAcc(acc), 0);
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(vel[j], r.vel[j]) << "model " << r.model << " joint " << j + 1;
            EXPECT_EQ(acc[j], r.acc[j]) << "model " << r.model << " joint " << j + 1;
        }
    }
}

// In drag (state 4) the first joint faster than its limit raises its warning; the limits of the
// 10-kg arm are 120, 120, 180, 180, 180, 180 deg/s.
TEST_F(Settings, DragOverspeedWarnsForTheFirstFastJoint) {
    const struct {
        int32_t state;
        double vel[6];
        uint32_t warning;
    } drags[] = {// [deg/s]
                 {4, {120, 120, 180, 180, 180, 180}, 0},    {4, {0, 0, 181, 0, 0, 500}, 0x22000006},
                 {4, {0, 0, 0, 0, 0, 180.5}, 0x22000009},   {4, {0, 150, 0, 0, 0, 0}, 0x22000005},
                 {4, {-119, 0, 0, -181, 0, 0}, 0x22000007}, {2, {900, 900, 900, 900, 900, 900}, 0}};
    mcb.robotModelCode = 201;
    for (const auto &c : drags) {
        mpb.robotState = c.state;
        mcb.warningCode = 0;
        for (int j = 0; j < 6; ++j) mpb.actualJointVel[j] = c.vel[j] / 1000.0;  // [deg/cycle]
        double limit[6];
        EXPECT_EQ(MaxJointVel(limit), 0);
        EXPECT_EQ(mcb.warningCode, c.warning) << c.vel[0] << " " << c.vel[3];
    }
}

}  // namespace
