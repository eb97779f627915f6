// Configuration files of the simulated host: INI layout, exact float round trip, key order,
// atomic replacement, and the start-up that reads the saved settings back into the records.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "host_fixture.hpp"

namespace {

constexpr const char *kUser = "/root/robot/user.config";
constexpr const char *kLoad = "/root/robot/load.config";

std::string file_text(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool file_exists(const std::string &path) { return std::ifstream(path).good(); }

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

using ConfigFile = kxsim_test::HostFixture;

TEST_F(ConfigFile, AwkwardFloatsReadBackBitIdentical) {
    const float values[] = {0.1f,
                            1e-7f,
                            -0.0f,
                            0.0f,
                            3.4e38f,
                            -3.4028235e38f,
                            std::numeric_limits<float>::min(),
                            std::numeric_limits<float>::denorm_min(),
                            1.0f / 3.0f,
                            -123.456f,
                            16777217.0f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};
    int i = 0;
    for (float v : values) {
        const std::string key = "KEY" + std::to_string(i++);
        ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", key.c_str(), v), 0);
    }
    i = 0;
    for (float v : values) {
        const std::string key = "KEY" + std::to_string(i++);
        float back = 12345.0f;
        ASSERT_TRUE(kxsim::config_value(kUser, "USER_PARAM", key, &back)) << key;
        EXPECT_EQ(bits(back), bits(v)) << key << " wrote " << v << " read " << back;
    }
    // A NaN stays a NaN.
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "NAN_KEY", std::nanf("")), 0);
    float back = 0.0f;
    ASSERT_TRUE(kxsim::config_value(kUser, "USER_PARAM", "NAN_KEY", &back));
    EXPECT_TRUE(std::isnan(back));
}

TEST_F(ConfigFile, KeysKeepOrderAndUpdateInPlace) {
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "A", 1.0f), 0);
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "B", 2.0f), 0);
    ASSERT_EQ(ConfigWriteEntry(kUser, "FORCE_SENSOR", "D", 4.0f), 0);
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "C", 3.0f), 0);  // appended to its section
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "B", 5.5f), 0);  // updated where it is
    ASSERT_EQ(ConfigWriteEntry(kUser, "TEST_PARAM", "E", -1.0f), 0);

    EXPECT_EQ(file_text(kxsim::config_file(kUser)),
              "[USER_PARAM]\nA=1\nB=5.5\nC=3\n[FORCE_SENSOR]\nD=4\n[TEST_PARAM]\nE=-1\n");

    const auto keys = kxsim::read_config(kUser);
    ASSERT_EQ(keys.size(), 5u);
    const char *expect[5][3] = {{"USER_PARAM", "A", "1"},   {"USER_PARAM", "B", "5.5"},
                                {"USER_PARAM", "C", "3"},   {"FORCE_SENSOR", "D", "4"},
                                {"TEST_PARAM", "E", "-1"}};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].section, expect[i][0]);
        EXPECT_EQ(keys[i].key, expect[i][1]);
        EXPECT_EQ(keys[i].value, expect[i][2]);
    }
    // The same key name in another section is another key.
    float v = 0.0f;
    EXPECT_FALSE(kxsim::config_value(kUser, "FORCE_SENSOR", "A", &v));
}

TEST_F(ConfigFile, HostPathsLiveUnderTheRoot) {
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "X", 1.0f), 0);
    ASSERT_EQ(ConfigWriteEntry(kLoad, "LOAD_PARAM", "LOAD0_WEIGHT", 2.0f), 0);
    EXPECT_EQ(kxsim::config_file(kUser), root() + kUser);
    EXPECT_TRUE(file_exists(root() + kUser));
    EXPECT_TRUE(file_exists(root() + kLoad));
    EXPECT_EQ(kxsim::read_config(kLoad).size(), 1u);
    kxsim::clear_config();
    EXPECT_FALSE(file_exists(root() + kUser));
    EXPECT_TRUE(kxsim::read_config(kUser).empty());
}

TEST_F(ConfigFile, WriteStoppedBeforeRenameLeavesThePreviousFile) {
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "COLLISION_PAUSE", 2.0f), 0);
    const std::string before = file_text(kxsim::config_file(kUser));

    kxsim::fail_next_config_write_before_rename(true);
    EXPECT_NE(ConfigWriteEntry(kUser, "USER_PARAM", "COLLISION_PAUSE", 5.0f), 0);
    EXPECT_EQ(file_text(kxsim::config_file(kUser)), before);
    float v = 0.0f;
    ASSERT_TRUE(kxsim::config_value(kUser, "USER_PARAM", "COLLISION_PAUSE", &v));
    EXPECT_EQ(v, 2.0f);
    // The half-done write left only its temporary file behind.
    EXPECT_NE(file_text(kxsim::config_file(kUser) + ".tmp").find("COLLISION_PAUSE=5"),
              std::string::npos);

    // The hook fires once: the next write goes through on top of the intact file.
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "COLLISION_SAFETIME", 300.0f), 0);
    EXPECT_EQ(file_text(kxsim::config_file(kUser)),
              "[USER_PARAM]\nCOLLISION_PAUSE=2\nCOLLISION_SAFETIME=300\n");
}

TEST_F(ConfigFile, FirstWriteStoppedBeforeRenameCreatesNoFile) {
    kxsim::fail_next_config_write_before_rename(true);
    EXPECT_NE(ConfigWriteEntry(kLoad, "LOAD_PARAM", "LOAD3_WEIGHT", 1.0f), 0);
    EXPECT_FALSE(file_exists(kxsim::config_file(kLoad)));
}

TEST_F(ConfigFile, UnusableArgumentsAreRefusedButJournalled) {
    struct Case {
        const char *path;
        const char *section;
        const char *key;
    } cases[] = {{kUser, "USER_PARAM", "BAD=KEY"},   {kUser, "USER_PARAM", "BAD\nKEY"},
                 {kUser, "USER]PARAM", "KEY"},       {kUser, "", "KEY"},
                 {kUser, "USER_PARAM", ""},          {kUser, nullptr, "KEY"},
                 {nullptr, "USER_PARAM", "KEY"},     {"/root/../../etc/x", "S", "KEY"}};
    for (const Case &c : cases) {
        EXPECT_EQ(ConfigWriteEntry(c.path, c.section, c.key, 1.0f), -1);
    }
    EXPECT_FALSE(file_exists(kxsim::config_file(kUser)));
    EXPECT_EQ(kxsim::calls("ConfigWriteEntry").size(), sizeof cases / sizeof cases[0]);
}

TEST_F(ConfigFile, EveryWriteIsJournalledWithPathSectionKeyAndValue) {
    ConfigWriteEntry(kUser, "USER_PARAM", "LOAD_WEIGHT", 2.5f);
    ConfigWriteEntry(kLoad, "LOAD_PARAM", "LOAD7_WEIGHT", 2.5f);
    const auto w = kxsim::calls("ConfigWriteEntry");
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].text, "/root/robot/user.config|USER_PARAM|LOAD_WEIGHT");
    EXPECT_EQ(w[1].text, "/root/robot/load.config|LOAD_PARAM|LOAD7_WEIGHT");
    ASSERT_EQ(w[1].args.size(), 1u);
    EXPECT_EQ(w[1].args[0], 2.5);
    EXPECT_TRUE(kxsim::action_names().empty());
}

// ---- Start-up reads the saved settings back ------------------------------------------------

struct SavedCase {
    const char *file;
    const char *section;
    const char *key;
    float value;
    std::function<double()> field;
    double expect;  // field value after the restart
};

using SavedSettings = kxsim_test::HostFixture;

TEST_F(SavedSettings, StartupReadsEverySavedKeyIntoItsField) {
    const SavedCase cases[] = {
        {kUser, "USER_PARAM", "INSTALL_POS", 2, [] { return mcb.installPos; }, 2},
        {kUser, "USER_PARAM", "INSTALL_YANGLE", 90, [] { return mcb.installTilt; }, 90},
        {kUser, "USER_PARAM", "COLLISION_PAUSE", 5, [] { return mcb.collisionPauseFlag; }, 5},
        {kUser, "USER_PARAM", "COLLISION_SAFETIME", 1500, [] { return mcb.collisionSafeTime; }, 1500},
        {kUser, "USER_PARAM", "COLLISION_SAFEMARGIN4", 9, [] { return mcb.collisionSafeMargin[3]; }, 9},
        {kUser, "USER_PARAM", "J2_COLLISION_LEVEL", 7.5f, [] { return mpb.collisionLevel[1]; }, 7.5},
        {kUser, "USER_PARAM", "J2_COLLISION_LEVEL", 7.5f, [] { return mpb.collisionLevelSaved[1]; }, 7.5},
        {kUser, "USER_PARAM", "COLLISION_MODE", 1, [] { return mpb.collisionMode; }, 1},
        {kUser, "USER_PARAM", "FRIC_COMPENSATION", 0, [] { return mcb.frictionCompOn; }, 0},
        {kUser, "USER_PARAM", "FRIC_VALUE_FREE_J6", 0.25f, [] { return mpb.frictionGain[5]; }, 0.25},
        {kUser, "USER_PARAM", "REVFAST_GAIN3", 1.25f, [] { return mpb.fricRevFastGain[2]; }, 1.25},
        {kUser, "USER_PARAM", "LOAD_NUM", 7, [] { return mpb.loadNum; }, 7},
        {kUser, "USER_PARAM", "LOAD_WEIGHT", 2.5f, [] { return mpb.loadWeight; }, 2.5},
        {kUser, "USER_PARAM", "LOAD_Coord_Z", 80, [] { return mpb.loadCoord[2]; }, 80},
        {kUser, "USER_PARAM", "LOAD_IDENTIFY_TIME", 600, [] { return mcb.loadIdentifyTime; }, 600},
        {kLoad, "LOAD_PARAM", "LOAD7_WEIGHT", 1.5f, [] { return mpb.loadWeightTable[7]; }, 1.5},
        {kLoad, "LOAD_PARAM", "LOAD12_Coord_Y", -40, [] { return mpb.loadCoordTable[12][1]; }, -40},
        {kUser, "TEST_PARAM", "NEW_TEACH_ENABLE", 2, [] { return mcb.newTeachEnable; }, 2},
        {kUser, "TEST_PARAM", "NEW_TEACH_GAIN_KF5", 0.75f, [] { return mcb.newTeachGainKf[4]; }, 0.75},
        {kUser, "TEST_PARAM", "BGAIN3", 0.5f, [] { return mcb.forceTorqueB[2]; }, 0.5},
        {kUser, "TEST_PARAM", "DRAGMAXTCPORIVEL", 45, [] { return mcb.dragMaxTcpOriVel; }, 45},
        {kUser, "INTERFERE_PARAM", "INTERFERE_DRAG", 2, [] { return mcb.interfereDragMode; }, 2},
        {kUser, "DRAGLOCK_PARAM", "DRAGLOCK_D_C", 0.5f, [] { return mcb.dragLockKd[5]; }, 0.5},
        {kUser, "FORCE_SENSOR", "FORCESENSOR_SETFLAG", 1, [] { return mcb.forceSensorAct; }, 1},
        {kUser, "FORCE_SENSOR", "FORCESENSOR_ZEROOFFSET_MY", -0.5f, [] { return mcb.forceSensorZeroOffset[4]; }, -0.5},
        {kUser, "FORCE_SENSOR", "FORCESENSOR_COORD_C", 45, [] { return mcb.forceSensorCoord[5]; }, 45},
        {kUser, "FORCE_SENSOR", "FORCESENSOR_LOADCOORDY", 12, [] { return mpb.forceSensorLoadCoord[1]; }, 12},
        {kUser, "FORCE_SENSOR", "FORCESENSOR_DAMP_MZ", 3, [] { return mcb.endDragDamp[5]; }, 3},
        {kUser, "FORCE_SENSOR", "FORCESENSOR_ENDDRAGMX", 0.5f, [] { return mcb.endDragForceThreshold[3]; }, 0.5},
        {kUser, "FORCE_SENSOR", "SINGULARITYCONSTRAINTSFLAG", 1, [] { return mcb.singularityConstraintsFlag; }, 1},
    };
    for (const SavedCase &c : cases) {
        ASSERT_EQ(ConfigWriteEntry(c.file, c.section, c.key, c.value), 0) << c.key;
    }
    restart(201);
    for (const SavedCase &c : cases) {
        EXPECT_EQ(c.field(), c.expect) << c.key;
    }
    EXPECT_EQ(mcb.robotModelCode, 201u);
    EXPECT_TRUE(kxsim::journal().empty());
}

TEST_F(SavedSettings, KeysInTheWrongPlaceOrOutOfRangeKeepTheDefaults) {
    const SavedCase cases[] = {
        // A load index the payload table does not have.
        {kUser, "USER_PARAM", "LOAD_NUM", 25, [] { return mpb.loadNum; }, 0},
        {kUser, "USER_PARAM", "COLLISION_PAUSE", 9, [] { return mcb.collisionPauseFlag; }, 0},
        {kUser, "USER_PARAM", "J1_COLLISION_LEVEL", 150, [] { return mpb.collisionLevel[0]; }, 1},
        {kUser, "USER_PARAM", "INSTALL_POS", -1, [] { return mcb.installPos; }, 0},
        // Right key, wrong section or wrong file.
        {kUser, "TEST_PARAM", "LOAD_WEIGHT", 3, [] { return mpb.loadWeight; }, 0},
        {kUser, "LOAD_PARAM", "LOAD1_WEIGHT", 3, [] { return mpb.loadWeightTable[1]; }, 0},
    };
    for (const SavedCase &c : cases) {
        ASSERT_EQ(ConfigWriteEntry(c.file, c.section, c.key, c.value), 0) << c.key;
    }
    restart(0);
    for (const SavedCase &c : cases) {
        EXPECT_EQ(c.field(), c.expect) << c.key;
    }
}

TEST_F(SavedSettings, HandEditedFileWithSpacesAndCommentsIsRead) {
    const std::string path = kxsim::config_file(kUser);
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "POWER_LIMIT", 1.0f), 0);  // creates folders
    {
        std::ofstream out(path, std::ios::trunc);
        out << "; written by hand\n[ USER_PARAM ]\n  POWER_LIMIT = 120.5 \nPOWER_FLAG=1\n\n";
    }
    restart(0);
    EXPECT_EQ(mcb.powerLimit, 120.5);
    EXPECT_EQ(mcb.powerFlag, 1);
    // A later write keeps the hand-written lines and updates the key where it stands.
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "POWER_LIMIT", 60.0f), 0);
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "INSTALL_POS", 1.0f), 0);
    EXPECT_EQ(file_text(path),
              "; written by hand\n[USER_PARAM]\nPOWER_LIMIT=60\nPOWER_FLAG=1\nINSTALL_POS=1\n\n");
}

}  // namespace
