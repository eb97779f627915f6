// Configuration files of the simulated host: INI layout, key order,
// atomic replacement, and the start-up that reads the saved settings back into the records.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "host_fixture.hpp"

namespace {

constexpr const char *kUser = "/root/robot/user.config";
constexpr const char *kLoad = "/root/robot/load.config";

std::string file_text(const std::string &host_path, const char *suffix = "") {
    std::stringstream s;
    s << std::ifstream(kxsim::config_file(host_path) + suffix).rdbuf();
    return s.str();
}

using ConfigFile = kxsim_test::HostFixture;

TEST_F(ConfigFile, KeysKeepOrderAndUpdateInPlaceUnderTheRoot) {
    // C is appended to its section, B updated where it is.
    const struct {
        const char *path, *section, *key;
        float v;
    } writes[] = {{kUser, "USER_PARAM", "A", 1},    {kUser, "USER_PARAM", "B", 2},
                  {kUser, "FORCE_SENSOR", "A", 4},  {kUser, "USER_PARAM", "C", 3},
                  {kUser, "USER_PARAM", "B", 5.5f}, {kLoad, "LOAD_PARAM", "LOAD7_WEIGHT", 2.5f}};
    for (const auto &w : writes)
        ASSERT_EQ(ConfigWriteEntry(w.path, w.section, w.key, w.v), 0) << w.key;
    EXPECT_EQ(
        file_text(kUser) + file_text(kLoad),
        "[USER_PARAM]\nA=1\nB=5.5\nC=3\n[FORCE_SENSOR]\nA=4\n[LOAD_PARAM]\nLOAD7_WEIGHT=2.5\n");
    // Every write is journalled with path, section, key and value.
    EXPECT_EQ(kxsim::calls("ConfigWriteEntry")[5].text,
              "/root/robot/load.config|LOAD_PARAM|LOAD7_WEIGHT");
}

TEST_F(ConfigFile, WriteStoppedBeforeRenameLeavesThePreviousFile) {
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "COLLISION_PAUSE", 2.0f), 0);
    const std::string before = file_text(kUser);
    kxsim::fail_next_config_write_before_rename(true);
    EXPECT_NE(ConfigWriteEntry(kUser, "USER_PARAM", "COLLISION_PAUSE", 5.0f), 0);
    EXPECT_EQ(file_text(kUser), before);
    EXPECT_NE(file_text(kUser, ".tmp").find("COLLISION_PAUSE=5"), std::string::npos);
    // The hook fires once: the next write goes through on top of the intact file.
    ASSERT_EQ(ConfigWriteEntry(kUser, "USER_PARAM", "COLLISION_SAFETIME", 300.0f), 0);
    EXPECT_EQ(file_text(kUser), "[USER_PARAM]\nCOLLISION_PAUSE=2\nCOLLISION_SAFETIME=300\n");
}

// A key written before a restart and the field the start-up reads it into.
struct SavedCase {
    const char *file, *section, *key;
    float value;
    std::function<double()> field;
    double expect;
};

using SavedSettings = kxsim_test::HostFixture;

TEST_F(SavedSettings, StartupReadsSavedKeysAndKeepsDefaultsForMisplacedOrOutOfRangeOnes) {
    const SavedCase cases[] = {
        {kUser, "USER_PARAM", "INSTALL_YANGLE", 90, [] { return mcb.installTilt; }, 90},
        {kUser, "USER_PARAM", "J2_COLLISION_LEVEL", 7.5f, [] { return mpb.collisionLevelSaved[1]; },
         7.5},
        {kLoad, "LOAD_PARAM", "LOAD12_Coord_Y", -40, [] { return mpb.loadCoordTable[12][1]; }, -40},
        {kUser, "FORCE_SENSOR", "FORCESENSOR_ZEROOFFSET_MY", -0.5f,
         [] { return mcb.forceSensorZeroOffset[4]; }, -0.5},
        // Outside the field's range (a load index the payload table does not have, ...).
        {kUser, "USER_PARAM", "J1_COLLISION_LEVEL", 150, [] { return mpb.collisionLevel[0]; }, 1},
        {kUser, "USER_PARAM", "LOAD_NUM", 25, [] { return mpb.loadNum; }, 0},
        // Right key, wrong section or wrong file.
        {kUser, "TEST_PARAM", "LOAD_WEIGHT", 3, [] { return mpb.loadWeight; }, 0},
        {kUser, "LOAD_PARAM", "LOAD1_WEIGHT", 3, [] { return mpb.loadWeightTable[1]; }, 0},
    };
    for (const SavedCase &c : cases)
        ASSERT_EQ(ConfigWriteEntry(c.file, c.section, c.key, c.value), 0) << c.key;
    restart(201);
    for (const SavedCase &c : cases) EXPECT_EQ(c.field(), c.expect) << c.key;
    EXPECT_EQ(mcb.robotModelCode, 201u);
    EXPECT_TRUE(kxsim::journal().empty());
}

}  // namespace
