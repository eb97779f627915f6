// The payload setter through the simulated host: every refusal leaves the records (apart from
// the parameter error code) and both configuration files untouched; an accepted payload lands
// in the current payload, its table entry, the log and both files with their keys in order.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_fixture.hpp"
#include "kxmc/kxmc_payload.h"
#include "simhost/kxsimhost.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr uint32_t kUnset = 0xABCDEF01u;

using Table = kxsim_test::HostFixture;

std::vector<std::string> keys(const char *file) {
    std::vector<std::string> out;
    for (const auto &k : kxsim::read_config(file)) out.push_back(k.section + "/" + k.key + "=" + k.value);
    return out;
}

TEST_F(Table, RefusalsChangeNothingButTheErrorCode) {
    struct Case { uint32_t code; uint8_t n; double w, x, y, z; int32_t result; uint32_t error; };
    const Case cases[] = {
        {101, 20, 1, 0, 0, 0, -3, kUnset},          {101, 255, kNaN, 0, 0, 0, -3, kUnset},
        {250, 0, 10.0001, 0, 0, 0, -1, 0x19000004}, {101, 0, -0.00001, 0, 0, 0, -1, 0x19000004},
        {101, 0, kNaN, 0, 0, 0, -1, 0x19000004},    {950, 0, kInf, 0, 0, 0, -1, 0x19000004},
        {101, 0, 1, 1000.5, 0, 0, -2, 0x19000005},  {101, 0, 1, 0, -1001, 0, -2, 0x19000006},
        {101, 0, 1, 0, 0, kNaN, -2, 0x19000007},    {101, 0, 1, kInf, 0, kNaN, -2, 0x19000005},
    };
    for (const Case &c : cases) {
        restart(c.code);
        mcb.paramErrorCode = kUnset;
        const MotionControlBlock mcb0 = mcb;
        const MotionParamBlock mpb0 = mpb;
        EXPECT_EQ(qmcSetLoadPara(c.n, c.w, c.x, c.y, c.z, 77), c.result) << c.w << " " << c.x;
        EXPECT_EQ(mcb.paramErrorCode, c.error);
        mcb.paramErrorCode = kUnset;
        EXPECT_EQ(std::memcmp(&mcb, &mcb0, sizeof mcb) | std::memcmp(&mpb, &mpb0, sizeof mpb), 0);
        EXPECT_TRUE(kxsim::journal().empty() && kxsim::log_lines().empty());
        EXPECT_TRUE(keys("/root/robot/user.config").empty() && keys("/root/robot/load.config").empty());
    }
}

TEST_F(Table, MaximumMassFollowsTheArm) {
    struct Band { uint32_t first, last; double max; };
    const Band bands[] = {{0, 0, 5},       {1, 100, 3},     {101, 200, 5},   {201, 300, 10},
                          {301, 400, 16},  {401, 500, 20},  {501, 600, 3},   {601, 700, 5},
                          {701, 800, 3},   {801, 900, 3},   {901, 901, 5},   {902, 902, 10},
                          {1001, 1100, 30}, {903, 1000, kInf}, {1101, 4000000000u, kInf}};
    for (const Band &b : bands)  // the maximum at the first code, the bound at both edges
        for (uint32_t code : {b.first, b.last}) {
            mcb.robotModelCode = code;
            const double max = std::isinf(b.max) ? 1e6 : b.max;
            EXPECT_EQ(code == b.first ? qmcSetLoadPara(3, max, 0, 0, 0, 1) : 0, 0) << code;
            EXPECT_EQ(qmcSetLoadPara(3, std::nextafter(max, kInf), 0, 0, 0, 1), std::isinf(b.max) ? 0 : -1) << code;
        }
}

TEST_F(Table, AcceptedPayloadIsCurrentTabledLoggedAndPersisted) {
    struct Case { uint32_t code; uint8_t n; double w, x, y, z; };
    const Case cases[] = {{250, 7, 10.0, 1000, -1000, 12.5}, {101, 0, -0.0000005, -3, 4, 5},
                          {950, 19, 100, 0.25, 999, -1000}};
    for (const Case &c : cases) {
        restart(c.code);
        kxsim::clear_config();
        mpb.loadWeightTable[(c.n + 1) % 20] = 9.0;
        ASSERT_EQ(qmcSetLoadPara(c.n, c.w, c.x, c.y, c.z, 4711), 0);
        const double xyz[3] = {c.x, c.y, c.z};
        EXPECT_EQ(mpb.loadNum, c.n);
        EXPECT_EQ(mpb.cmdId, 4711u);
        EXPECT_TRUE(mpb.loadWeight == c.w && mpb.loadWeightTable[c.n] == c.w && mpb.loadWeightTable[(c.n + 1) % 20] == 9.0);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(mpb.loadCoord[i] == xyz[i] && mpb.loadCoordTable[c.n][i] == xyz[i]);
        char w[64], xyzs[160];
        std::snprintf(w, sizeof w, "loadWeight:%f", c.w);
        std::snprintf(xyzs, sizeof xyzs, "loadCoord:%f %f %f", c.x, c.y, c.z);
        EXPECT_TRUE(kxsim::log_contains(w, 1) && kxsim::log_contains(xyzs, 2));
        const auto v = [](double x) { char s[32]; std::snprintf(s, sizeof s, "%.9g", double(float(x))); return std::string(s); };
        const std::string n = "LOAD_PARAM/LOAD" + std::to_string(c.n);
        EXPECT_EQ(keys("/root/robot/user.config"),
                  (std::vector<std::string>{"USER_PARAM/LOAD_NUM=" + v(c.n), "USER_PARAM/LOAD_WEIGHT=" + v(c.w),
                                            "USER_PARAM/LOAD_Coord_X=" + v(c.x), "USER_PARAM/LOAD_Coord_Y=" + v(c.y),
                                            "USER_PARAM/LOAD_Coord_Z=" + v(c.z)}));
        EXPECT_EQ(keys("/root/robot/load.config"),
                  (std::vector<std::string>{n + "_WEIGHT=" + v(c.w), n + "_Coord_X=" + v(c.x),
                                            n + "_Coord_Y=" + v(c.y), n + "_Coord_Z=" + v(c.z)}));
        const auto writes = kxsim::calls("ConfigWriteEntry");  // the user file first
        ASSERT_EQ(writes.size(), 9u);
        EXPECT_EQ(writes[5].text, "/root/robot/load.config|" + std::string(n).replace(10, 1, "|") + "_WEIGHT");
    }
    kxsim::clear_config();
    std::vector<std::string> all;  // every entry has its own four keys
    for (int n = 0; n < 20; ++n) {
        ASSERT_EQ(qmcSetLoadPara(uint8_t(n), 1, 0, 0, 0, 1), 0);
        for (const char *k : {"_WEIGHT=1", "_Coord_X=0", "_Coord_Y=0", "_Coord_Z=0"}) all.push_back("LOAD_PARAM/LOAD" + std::to_string(n) + k);
    }
    EXPECT_EQ(keys("/root/robot/load.config"), all);
}

}  // namespace
