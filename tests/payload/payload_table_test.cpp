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

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
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
        {101, 0, 1, 0, 0, kNaN, -2, 0x19000007},    {101, 0, 1, kInf, 0, kNaN, -2, 0x19000005}};
    for (const Case &c : cases) {
        restart(c.code);
        mcb.paramErrorCode = kUnset;
        const MotionControlBlock mcb0 = mcb;
        const MotionParamBlock mpb0 = mpb;
        EXPECT_EQ(qmcSetLoadPara(c.n, c.w, c.x, c.y, c.z, 77), c.result) << c.w << " " << c.x;
        EXPECT_EQ(mcb.paramErrorCode, c.error);
        mcb.paramErrorCode = kUnset;
        EXPECT_EQ(std::memcmp(&mcb, &mcb0, sizeof mcb) | std::memcmp(&mpb, &mpb0, sizeof mpb), 0);
        EXPECT_TRUE(kxsim::journal().empty() && keys("/root/robot/user.config").empty() && keys("/root/robot/load.config").empty());
    }
}

TEST_F(Table, MaximumMassFollowsTheArm) {
    struct Band { uint32_t first, last; double max; };
    const Band bands[] = {{0, 0, 5},       {1, 100, 3},     {101, 200, 5},   {201, 300, 10},  {301, 400, 16},
                          {401, 500, 20},  {501, 600, 3},   {601, 700, 5},   {701, 800, 3},   {801, 900, 3},
                          {901, 901, 5},   {902, 902, 10},  {1001, 1100, 30}, {903, 1000, kInf}, {1101, 4000000000u, kInf}};
    for (const Band &b : bands)  // the maximum at the first code, the bound at both edges
        for (uint32_t code : {b.first, b.last}) {
            mcb.robotModelCode = code;
            const double max = std::isinf(b.max) ? 1e6 : b.max;
            EXPECT_EQ(code == b.first ? qmcSetLoadPara(3, max, 0, 0, 0, 1) : 0, 0) << code;
            EXPECT_EQ(qmcSetLoadPara(3, std::nextafter(max, kInf), 0, 0, 0, 1), std::isinf(b.max) ? 0 : -1) << code;
        }
}

TEST_F(Table, AcceptedPayloadIsCurrentTabledLoggedAndPersisted) {
    restart(250);
    mpb.loadWeightTable[8] = 9.0;
    ASSERT_EQ(qmcSetLoadPara(7, 10.0, 1000, -1000, 12.5, 4711), 0);
    EXPECT_TRUE(mpb.loadNum == 7 && mpb.cmdId == 4711u && mpb.loadWeight == 10 && mpb.loadWeightTable[7] == 10 && mpb.loadWeightTable[8] == 9);
    const double xyz[3] = {1000, -1000, 12.5};
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(mpb.loadCoord[i] == xyz[i] && mpb.loadCoordTable[7][i] == xyz[i]);
    EXPECT_TRUE(kxsim::log_contains("loadWeight:10.000000", 1) && kxsim::log_contains("loadCoord:1000.000000 -1000.000000 12.500000", 2));
    EXPECT_EQ(keys("/root/robot/user.config"), (std::vector<std::string>{"USER_PARAM/LOAD_NUM=7", "USER_PARAM/LOAD_WEIGHT=10",
              "USER_PARAM/LOAD_Coord_X=1000", "USER_PARAM/LOAD_Coord_Y=-1000", "USER_PARAM/LOAD_Coord_Z=12.5"}));
    EXPECT_EQ(kxsim::calls("ConfigWriteEntry")[5].text, "/root/robot/load.config|LOAD_PARAM|LOAD7_WEIGHT");  // after the user file
    kxsim::clear_config();
    std::vector<std::string> all;  // every entry has its own four keys, mass first
    for (int n = 0; n < 20; ++n) {
        ASSERT_EQ(qmcSetLoadPara(uint8_t(n), n == 0 ? -1e-6 : n % 4, n, -n, 2 * n, 1), 0);
        const std::string p = "LOAD_PARAM/LOAD" + std::to_string(n);
        for (const std::string &k : {"_WEIGHT=" + (n == 0 ? "-9.99999997e-07" : std::to_string(n % 4)),
                                     "_Coord_X=" + std::to_string(n), "_Coord_Y=" + std::to_string(-n), "_Coord_Z=" + std::to_string(2 * n)})
            all.push_back(p + k);
    }
    EXPECT_EQ(keys("/root/robot/load.config"), all);
}

}  // namespace
