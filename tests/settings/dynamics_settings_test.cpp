// Torque-model and hand-guiding settings through the simulated host: stored fields, persisted
// keys (section, name, order, value read back from disk), refusals that change nothing, and the
// two documented exceptions (first call of the friction law gains, partial drag lock update).
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kxmc/kxmc_collision_settings.h"
#include "kxmc/kxmc_dynamics_settings.h"
#include "settings_fixture.hpp"

namespace {

using settings_test::concat;
using settings_test::Key;
using settings_test::numbered_keys;
using settings_test::RecordSnapshot;
using settings_test::SettingsTest;

constexpr const char kUser[] = "USER_PARAM";
constexpr const char kTest[] = "TEST_PARAM";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- Torque model version ----------------------------------------------------------------

struct TeachCase {
    uint32_t model;
    uint8_t version;
    int32_t result;
    uint8_t enable;  // mcb.newTeachEnable afterwards
};

void PrintTo(const TeachCase &c, std::ostream *os) { *os << "model " << c.model << " version " << int{c.version}; }

class TeachVersion : public SettingsTest, public ::testing::WithParamInterface<TeachCase> {};

TEST_P(TeachVersion, SelectsTheModelTheArmCanUse) {
    const TeachCase &c = GetParam();
    mcb.robotModelCode = c.model;
    mcb.newTeachEnable = 1;
    const double base[6] = {10, 20, 30, 40, 50, 60};
    for (int j = 0; j < 6; ++j) {
        mcb.newTeachGainBase[j] = base[j];
        mcb.newTeachGain[j] = -1.0;
        mcb.newTeachGainKf[j] = -2.0;
    }
    const RecordSnapshot before = RecordSnapshot::take();

    EXPECT_EQ(qmcgravityTeachVersionOnOff(c.version), c.result);
    EXPECT_EQ(mcb.newTeachEnable, c.enable);

    if (c.result != 0) {
        // Refused: at most the mode moved to full dynamics; gains and files untouched.
        mcb.newTeachEnable = 1;
        expect_records_unchanged(before);
        expect_nothing_persisted();
        return;
    }
    // Joints 2 and 3 carry the arm and get the smaller factor.
    const double gain[6] = {14.3, 24.6, 36.9, 57.2, 71.5, 85.8};
    const double kf[6] = {1, 1, 1, 1, 1, 1};
    for (int j = 0; j < 6; ++j) {
        EXPECT_DOUBLE_EQ(mcb.newTeachGain[j], gain[j]) << "joint " << j + 1;
        EXPECT_EQ(mcb.newTeachGainKf[j], 1.0);
    }
    expect_user_config(concat(concat({{kTest, "NEW_TEACH_ENABLE", static_cast<double>(c.enable)}},
                                     numbered_keys(kTest, "NEW_TEACH_GAIN", gain)),
                              numbered_keys(kTest, "NEW_TEACH_GAIN_KF", kf)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TeachVersion,
    ::testing::Values(TeachCase{101, 1, 0, 1}, TeachCase{1, 1, 0, 1}, TeachCase{400, 1, 0, 1},
                      TeachCase{3, 1, -1, 2}, TeachCase{401, 1, -1, 2}, TeachCase{1001, 1, -1, 2},
                      TeachCase{101, 0, 0, 0}, TeachCase{500, 0, 0, 0}, TeachCase{501, 0, -1, 2},
                      TeachCase{700, 0, -1, 2}, TeachCase{701, 0, 0, 0}, TeachCase{801, 0, -1, 2},
                      TeachCase{900, 0, -1, 2}, TeachCase{901, 0, 0, 0}, TeachCase{3, 0, 0, 0},
                      TeachCase{550, 2, 0, 2}, TeachCase{3, 2, 0, 2}, TeachCase{101, 3, -1, 1},
                      TeachCase{101, 255, -1, 1}),
    [](const ::testing::TestParamInfo<TeachCase> &param_info) {
        return "Model" + std::to_string(param_info.param.model) + "Version" +
               std::to_string(param_info.param.version);
    });

// ---- Single-key switches -------------------------------------------------------------------

// A setter of one or two keys, called with one argument set, and the keys it must write.
struct SwitchCase {
    const char *name;
    void (*prepare)();  // host state before the call (may be null)
    int32_t (*apply)();
    int32_t result;
    std::vector<Key> keys;  // written when accepted
    void (*check)();        // fields after an accepted call
};

void PrintTo(const SwitchCase &c, std::ostream *os) { *os << c.name; }

class Switches : public SettingsTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(Switches, StoreAndPersistOrRefuse) {
    const SwitchCase &c = GetParam();
    mcb.powerFlag = 0;
    mcb.powerLimit = 77.0;
    mcb.frictionCompOn = 0;
    mcb.fricJointStiffnessType = 0;
    mcb.dragLockOn = 0;
    mcb.interfereDragMode = 0;
    if (c.prepare != nullptr) {
        c.prepare();
    }
    const RecordSnapshot before = RecordSnapshot::take();

    EXPECT_EQ(c.apply(), c.result);
    if (c.result != 0) {
        expect_records_unchanged(before);
        expect_nothing_persisted();
        return;
    }
    c.check();
    expect_user_config(c.keys);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Switches,
    ::testing::Values(
        SwitchCase{"PowerOn", nullptr, [] { return qmcSetPowerLimit(1, 250.5); }, 0,
                   {{kUser, "POWER_FLAG", 1}, {kUser, "POWER_LIMIT", 250.5}},
                   [] {
                       EXPECT_EQ(mcb.powerFlag, 1);
                       EXPECT_EQ(mcb.powerLimit, 250.5);
                   }},
        SwitchCase{"PowerOffAnyLimit", nullptr, [] { return qmcSetPowerLimit(0, -3.0); }, 0,
                   {{kUser, "POWER_FLAG", 0}, {kUser, "POWER_LIMIT", -3.0}},
                   [] { EXPECT_EQ(mcb.powerLimit, -3.0); }},
        SwitchCase{"PowerFlagTwo", nullptr, [] { return qmcSetPowerLimit(2, 100.0); }, -1, {}, nullptr},
        SwitchCase{"PowerLimitNaN", nullptr, [] { return qmcSetPowerLimit(1, kNaN); }, -1, {}, nullptr},
        SwitchCase{"FrictionOn", nullptr, [] { return qmcFrictionCompensationOnOff(1); }, 0,
                   {{kUser, "FRIC_COMPENSATION", 1}},
                   [] { EXPECT_EQ(mcb.frictionCompOn, 1); }},
        SwitchCase{"FrictionTwo", nullptr, [] { return qmcFrictionCompensationOnOff(2); }, -1, {}, nullptr},
        SwitchCase{"StiffnessOne", nullptr, [] { return qmcSetJointStiffnessType(1); }, 0,
                   {{kUser, "FRIC_JOINTSTIFFNESSTYPE", 1}},
                   [] { EXPECT_EQ(mcb.fricJointStiffnessType, 1u); }},
        SwitchCase{"StiffnessTwo", nullptr, [] { return qmcSetJointStiffnessType(2); }, -1, {}, nullptr},
        SwitchCase{"StiffnessHuge", nullptr, [] { return qmcSetJointStiffnessType(0x80000001u); }, -1, {},
                   nullptr},
        SwitchCase{"InterfereLeave", nullptr, [] { return qmcSetInterfereDrag(2); }, 0,
                   {{"INTERFERE_PARAM", "INTERFERE_DRAG", 2}},
                   [] { EXPECT_EQ(mcb.interfereDragMode, 2); }},
        SwitchCase{"InterfereThree", nullptr, [] { return qmcSetInterfereDrag(3); }, -1, {}, nullptr},
        SwitchCase{"HoldWhileLocked", [] { mcb.dragLockOn = 1; },
                   [] { return qmcSetInterfereDrag(1); },
                   -2, {}, nullptr},
        SwitchCase{"LeaveWhileLocked", [] { mcb.dragLockOn = 1; },
                   [] { return qmcSetInterfereDrag(2); },
                   0, {{"INTERFERE_PARAM", "INTERFERE_DRAG", 2}},
                   [] { EXPECT_EQ(mcb.interfereDragMode, 2); }},
        SwitchCase{"LockOn", nullptr, [] { return qmcDragLockEnableDisable(1); }, 0,
                   {{"DRAGLOCK_PARAM", "DRAGLOCK_ENABLE", 1}},
                   [] { EXPECT_EQ(mcb.dragLockOn, 1); }},
        SwitchCase{"LockTwo", nullptr, [] { return qmcDragLockEnableDisable(2); }, -1, {}, nullptr},
        SwitchCase{"LockWhileHolding", [] { mcb.interfereDragMode = 1; },
                   [] { return qmcDragLockEnableDisable(1); },
                   -2, {}, nullptr},
        SwitchCase{"UnlockWhileHolding",
                   [] {
                       mcb.interfereDragMode = 1;
                       mcb.dragLockOn = 1;
                   },
                   [] { return qmcDragLockEnableDisable(0); },
                   0, {{"DRAGLOCK_PARAM", "DRAGLOCK_ENABLE", 0}},
                   [] { EXPECT_EQ(mcb.dragLockOn, 0); }}),
    settings_test::CaseName());

// ---- Friction compensation gains ---------------------------------------------------------

struct FreeCase {
    const char *name;
    float gains[6];
    int32_t joints;
    bool accepted;
};

void PrintTo(const FreeCase &c, std::ostream *os) { *os << c.name; }

class FrictionFree : public SettingsTest, public ::testing::WithParamInterface<FreeCase> {};

TEST_P(FrictionFree, ValidatesTheArmsJointsThenStoresAllSix) {
    const FreeCase &c = GetParam();
    mpb.jointNum = c.joints;
    for (float &g : mpb.frictionGain) {
        g = 0.25f;
    }
    const RecordSnapshot before = RecordSnapshot::take();
    const int32_t result = qmcSetFrictionValue_free(c.gains);
    if (!c.accepted) {
        EXPECT_EQ(result, -1);
        expect_records_unchanged(before);
        expect_nothing_persisted();
        return;
    }
    EXPECT_EQ(result, 0);
    double values[6];
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(mpb.frictionGain[j], c.gains[j]) << "joint " << j + 1;
        values[j] = c.gains[j];
    }
    expect_user_config(numbered_keys(kUser, "FRIC_VALUE_FREE_J", values));
}

constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, FrictionFree,
    ::testing::Values(FreeCase{"Typical", {0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f}, 6, true},
                      FreeCase{"Bounds", {-0.000001f, 1.0f, 0.0f, 1.0f, -0.000001f, 0.0f}, 6, true},
                      FreeCase{"AboveOne", {0.5f, 0.5f, 1.0001f, 0.5f, 0.5f, 0.5f}, 6, false},
                      FreeCase{"Negative", {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, -0.00001f}, 6, false},
                      FreeCase{"NaN", {kNaNf, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, 6, false},
                      FreeCase{"BeyondThreeJoints", {0.5f, 0.5f, 0.5f, 3.0f, 0.5f, 0.5f}, 3, true},
                      FreeCase{"NoJointsStillPersistsSix", {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f}, 0,
                               true}),
    settings_test::CaseName());

// ---- Friction law gains ------------------------------------------------------------------

double *law_field(int g) {
    double *fields[4] = {mpb.fricForDeadGain, mpb.fricRevDeadGain, mpb.fricForFastGain,
                         mpb.fricRevFastGain};
    return fields[g];
}

void set_law_fields(double v) {
    for (int g = 0; g < 4; ++g) {
        for (int j = 0; j < 6; ++j) {
            law_field(g)[j] = v;
        }
    }
}

struct LawGains {
    double v[4][6];  // forDead, revDead, forFast, revFast

    int32_t apply() { return qmcSetJointFrictionGain(v[0], v[1], v[2], v[3]); }
};

LawGains distinct_law_gains() {
    LawGains g{};
    for (int a = 0; a < 4; ++a) {
        for (int j = 0; j < 6; ++j) {
            g.v[a][j] = 0.5 + 0.04 * (6 * a + j);  // 0.5 ... 1.42, all different
        }
    }
    return g;
}

TEST_F(SettingsTest, FrictionLawGainsStoredAndPersistedJointByJoint) {
    LawGains g = distinct_law_gains();
    g.v[0][0] = 0.5;  // bounds are accepted
    g.v[3][5] = 1.5;
    ASSERT_EQ(g.apply(), 0);
    std::vector<Key> keys;
    const char *names[4] = {"FORDEAD_GAIN", "REVDEAD_GAIN", "FORFAST_GAIN", "REVFAST_GAIN"};
    for (int j = 0; j < 6; ++j) {
        for (int a = 0; a < 4; ++a) {
            EXPECT_EQ(law_field(a)[j], g.v[a][j]);
            keys.push_back({kUser, names[a] + std::to_string(j + 1), g.v[a][j]});
        }
    }
    expect_user_config(keys);
}

struct LawRejectCase {
    int array, joint;
    double value;
};

void PrintTo(const LawRejectCase &c, std::ostream *os) { *os << "array " << c.array << " joint " << c.joint << " value " << c.value; }

class FrictionLawReject : public SettingsTest,
                          public ::testing::WithParamInterface<LawRejectCase> {};

// The first call of the library's life resets all 24 gains to 1.0 before validating; a refused
// call stores nothing else, and a later refused call changes nothing at all.
TEST_P(FrictionLawReject, FirstCallResetsThenNothingIsStored) {
    const LawRejectCase &c = GetParam();
    LawGains g = distinct_law_gains();
    g.v[c.array][c.joint] = c.value;

    set_law_fields(0.8);
    EXPECT_EQ(g.apply(), -1);
    for (int a = 0; a < 4; ++a) {
        for (int j = 0; j < 6; ++j) {
            EXPECT_EQ(law_field(a)[j], 1.0);
        }
    }
    expect_nothing_persisted();

    set_law_fields(0.9);
    const RecordSnapshot before = RecordSnapshot::take();
    EXPECT_EQ(g.apply(), -1);
    expect_records_unchanged(before);
    expect_nothing_persisted();
}

INSTANTIATE_TEST_SUITE_P(Cases, FrictionLawReject,
                         ::testing::Values(LawRejectCase{0, 0, 0.49}, LawRejectCase{1, 3, 1.51},
                                           LawRejectCase{2, 5, kNaN}, LawRejectCase{3, 5, 0.0},
                                           LawRejectCase{3, 0, -1.0}));

// A missing array is a refused argument, never a crash.
TEST_F(SettingsTest, MissingArraysAreRefused) {
    double six[6] = {1, 1, 1, 1, 1, 1};
    const RecordSnapshot before = RecordSnapshot::take();
    EXPECT_EQ(qmcSetCollisionPause(0, 0, 0, 0, nullptr), -1);
    EXPECT_EQ(qmcSetCollisionLevel(0, nullptr, 1, 5), -1);
    EXPECT_EQ(qmcGetCollisionState(nullptr), -1);
    EXPECT_EQ(qmcSetFrictionValue_free(nullptr), -1);
    EXPECT_EQ(qmcSetDragLockPara(six, six, nullptr), -1);
    expect_records_unchanged(before);
    EXPECT_EQ(qmcSetJointFrictionGain(six, nullptr, six, six), -1);
    expect_nothing_persisted();
}

// ---- Drag lock gains ---------------------------------------------------------------------

double *lock_field(int term) {
    double *fields[3] = {mcb.dragLockKp, mcb.dragLockKi, mcb.dragLockKd};
    return fields[term];
}

struct LockGains {
    double v[3][6];  // P, I, D per axis x, y, z, a, b, c

    int32_t apply() { return qmcSetDragLockPara(v[0], v[1], v[2]); }
};

LockGains distinct_lock_gains() {
    LockGains g{};
    for (int t = 0; t < 3; ++t) {
        for (int a = 0; a < 6; ++a) {
            g.v[t][a] = 0.5 * (3 * a + t);  // 0 ... 8.5
        }
    }
    return g;
}

TEST_F(SettingsTest, DragLockGainsPersistedAxisByAxis) {
    LockGains g = distinct_lock_gains();
    g.v[2][5] = 10.0;
    ASSERT_EQ(g.apply(), 0);
    std::vector<Key> keys;
    const char *axes = "XYZABC";
    const char *terms = "PID";
    for (int a = 0; a < 6; ++a) {
        for (int t = 0; t < 3; ++t) {
            EXPECT_EQ(lock_field(t)[a], g.v[t][a]);
            keys.push_back({"DRAGLOCK_PARAM",
                            std::string("DRAGLOCK_") + terms[t] + "_" + axes[a], g.v[t][a]});
        }
    }
    expect_user_config(keys);
}

struct LockRejectCase {
    const char *name;
    int term, axis;
    double value;
};

void PrintTo(const LockRejectCase &c, std::ostream *os) { *os << c.name; }

class DragLockReject : public SettingsTest, public ::testing::WithParamInterface<LockRejectCase> {};

// Gains before the refused one (axis by axis, P, I, D within an axis) stay stored; the refused
// element of the caller's array becomes 10.0; nothing is persisted.
TEST_P(DragLockReject, KeepsTheGainsBeforeTheRefusedOne) {
    const LockRejectCase &c = GetParam();
    LockGains g = distinct_lock_gains();
    g.v[c.term][c.axis] = c.value;
    const LockGains sent = g;
    for (int t = 0; t < 3; ++t) {
        for (int a = 0; a < 6; ++a) {
            lock_field(t)[a] = -7.0;
        }
    }

    EXPECT_EQ(g.apply(), -1);

    const int refused = 3 * c.axis + c.term;
    for (int a = 0; a < 6; ++a) {
        for (int t = 0; t < 3; ++t) {
            SCOPED_TRACE("axis " + std::to_string(a) + " term " + std::to_string(t));
            const int order = 3 * a + t;
            EXPECT_EQ(lock_field(t)[a], order < refused ? sent.v[t][a] : -7.0);
            EXPECT_EQ(g.v[t][a], order == refused ? 10.0 : sent.v[t][a]);
        }
    }
    expect_nothing_persisted();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DragLockReject,
    ::testing::Values(LockRejectCase{"PofZ", 0, 2, 12.0}, LockRejectCase{"PofX", 0, 0, -0.5},
                      LockRejectCase{"DofC", 2, 5, 10.001}, LockRejectCase{"IofB", 1, 4, kNaN},
                      LockRejectCase{"DofY", 2, 1, 1e9}),
    settings_test::CaseName());

}  // namespace
