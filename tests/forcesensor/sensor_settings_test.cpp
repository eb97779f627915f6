// Sensor settings and the start command of end-force guiding: an accepted call stores its
// fields and writes its keys in order (read back from disk); a refused call returns its code,
// writes the code word it names and changes nothing else.
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sensor_fixture.hpp"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
struct Key { std::string key; double value; };

std::vector<Key> six(const std::string &prefix, const char *const names[6], const double *v) {
    std::vector<Key> keys;
    for (int i = 0; i < 6; ++i) keys.push_back({prefix + names[i], v[i]});
    return keys;
}
std::vector<Key> operator+(std::vector<Key> a, const std::vector<Key> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const char *const kW[6] = {"FX", "FY", "FZ", "MX", "MY", "MZ"};
const char *const kA[6] = {"X", "Y", "Z", "MX", "MY", "MZ"};
const char *const kP[6] = {"X", "Y", "Z", "A", "B", "C"};

std::string records() {
    const auto bytes = [](const auto &r) {
        return std::string(reinterpret_cast<const char *>(&r), sizeof r);
    };
    return bytes(mcb) + bytes(mpb);
}
// Records before the call under test; a case that sets up a precondition marks after it.
std::string g_before;
void mark() { g_before = records(); }

class Settings : public sensor_test::SensorFixture {
protected:
    void configure() override {
        SensorFixture::configure();
        mcb.robotModelCode = 350;  // 16-kg arm: tool mass up to 16 kg
        mpb.cmdId = 1;
        mcb.errorCode = mcb.paramErrorCode = 0;
        for (int i = 0; i < 6; ++i) {
            mpb.forceSensorRaw[i] = 1.5 - i;
            mcb.forceSensorZeroOffset[i] = 9;
        }
    }
    void expect_keys(const std::vector<Key> &want, const std::string &name) {
        const auto got = kxsim::read_config("/root/robot/user.config");
        ASSERT_EQ(got.size(), want.size()) << name;
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].section + "/" + got[i].key, "FORCE_SENSOR/" + want[i].key)
                << name << " " << want[i].key;
            EXPECT_EQ(std::stof(got[i].value), float(want[i].value)) << name << " " << want[i].key;
        }
    }
};

struct Case {
    const char *name;
    std::function<int32_t()> call;
    int32_t result;
    std::vector<Key> keys = {};               // written when accepted
    std::function<bool()> stored = {};        // fields hold the accepted values
    uint32_t errorCode = 0, paramErrorCode = 0, cmdId = 1;
};

const double kInertia[6] = {2, 12, 40, 0.05, 3, 50}, kDamp[6] = {150, 160, 170, 5, 6, 7},
             kStiff[6] = {0, 10, 0, 0, 0, 1}, kThr[6] = {3, 3, 3, 0.3, 0.3, 0.3};
const double kClamped[6] = {5, 12, 30, 0.1, 3, 10};
int32_t start(const double *inertia, const double *damp, const double *stiff, double fmax = 80) {
    return kxmcEndForceDragstartstop(1, 1, 0, 1, inertia, damp, stiff, kThr, fmax, 45);
}
const float kPose[6] = {1.5f, -2, 40, 0, 90, -45};
const double kPoseD[6] = {1.5, -2, 40, 0, 90, -45}, kZeros[6] = {},
             kRaw[6] = {1.5, 0.5, -0.5, -1.5, -2.5, -3.5};

TEST_F(Settings, AcceptedStoreAndPersistRefusedChangeNothing) {
    const double half_mm = 1.02e-6;
    const std::vector<Case> cases = {
        {"act",
         [] { return qmcSetForceSensorAct(0, 11); },
         0,
         {{"FORCESENSOR_SETFLAG", 0}},
         [] { return mcb.forceSensorAct == 0; },
         0,
         0,
         11},
        {"act 2", [] { return qmcSetForceSensorAct(2, 12); }, -1, {}, {}, KXMC_ERR_ARGUMENT},
        {"zero on", [] { return qmcSetForceSensorZero(1, 13); }, 0,
         std::vector<Key>{{"FORCESENSOR_ZEROFLAG", 1}} + six("FORCESENSOR_ZERO_", kW, kRaw) +
             six("FORCESENSOR_ZEROOFFSET_", kW, kZeros),
         [] {
             return mcb.forceSensorZeroFlag == 1 && mcb.forceSensorZero[5] == -3.5 &&
                    mcb.forceSensorZeroOffset[0] == 0;
         },
         0, 0, 13},
        {"zero off",
         [] {
             mcb.forceSensorZeroFlag = 1;
             mcb.forceSensorZero[2] = 4;
             return qmcSetForceSensorZero(0, 14);
         },
         0,
         std::vector<Key>{{"FORCESENSOR_ZEROFLAG", 0}} + six("FORCESENSOR_ZERO_", kW, kZeros) +
             six("FORCESENSOR_ZEROOFFSET_", kW, kZeros),
         [] { return mcb.forceSensorZeroFlag == 0 && mcb.forceSensorZero[2] == 0; }, 0, 0, 14},
        {"zero flag 2",
         [] { return qmcSetForceSensorZero(2, 15); },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT,
         0,
         15},
        {"zero in base frame",
         [] {
             mcb.forceSensorRefCoord = 1;
             mark();
             return qmcSetForceSensorZero(1, 16);
         },
         -2},
        {"zero with a tool",
         [] {
             mpb.forceSensorLoadWeight = 0.5;
             mark();
             return qmcSetForceSensorZero(1, 17);
         },
         -3},
        {"zero with a centre",
         [half_mm] {
             mpb.forceSensorLoadCoord[2] = -half_mm;
             mark();
             return qmcSetForceSensorZero(1, 17);
         },
         -3},
        {"rcs", [] { return qmcSetForceSensorRcs(2, kPose, 18); }, 0,
         six("FORCESENSOR_COORD_", kP, kPoseD) + std::vector<Key>{{"FORCESENSOR_REFCOORD", 2}},
         [] { return mcb.forceSensorRefCoord == 2 && mcb.forceSensorCoord[4] == 90; }, 0, 0, 18},
        {"rcs frame 3",
         [] { return qmcSetForceSensorRcs(3, kPose, 19); },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT,
         0,
         19},
        {"rcs NaN",
         [] {
             float p[6] = {0, 0, std::nanf(""), 0, 0, 0};
             return qmcSetForceSensorRcs(0, p, 20);
         },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT,
         0,
         20},
        {"mass 16",
         [] { return qmcSetForceSensorLoadWeight(16, 21); },
         0,
         {{"FORCESENSOR_LOADWEIGHT", 16}},
         [] {
             return mpb.forceSensorLoadWeight == 16 &&
                    kxsim::log_contains("forceSensorLoadWeight:16.000000", 1);
         },
         0,
         0,
         21},
        {"mass -1e-7",
         [] { return qmcSetForceSensorLoadWeight(-1e-7, 22); },
         0,
         {{"FORCESENSOR_LOADWEIGHT", -1e-7}},
         {},
         0,
         0,
         22},
        {"mass 16.01",
         [] { return qmcSetForceSensorLoadWeight(16.01, 23); },
         -1,
         {},
         {},
         0,
         KXMC_PARAM_ERR_LOAD_MASS},
        {"mass -1e-5",
         [] { return qmcSetForceSensorLoadWeight(-1e-5, 23); },
         -1,
         {},
         {},
         0,
         KXMC_PARAM_ERR_LOAD_MASS},
        {"mass NaN",
         [] { return qmcSetForceSensorLoadWeight(kNaN, 23); },
         -1,
         {},
         {},
         0,
         KXMC_PARAM_ERR_LOAD_MASS},
        {"mass unbounded model",
         [] {
             mcb.robotModelCode = 1200;
             return qmcSetForceSensorLoadWeight(100, 24);
         },
         0,
         {{"FORCESENSOR_LOADWEIGHT", 100}},
         {},
         0,
         0,
         24},
        {"mass model 0",
         [] {
             mcb.robotModelCode = 0;
             mark();
             return qmcSetForceSensorLoadWeight(5.01, 24);
         },
         -1,
         {},
         {},
         0,
         KXMC_PARAM_ERR_LOAD_MASS},
        {"centre",
         [] { return qmcSetForceSensorLoadCoord(1000, -1000, 0, 25); },
         0,
         {{"FORCESENSOR_LOADCOORDX", 1000},
          {"FORCESENSOR_LOADCOORDY", -1000},
          {"FORCESENSOR_LOADCOORDZ", 0}},
         [] {
             return mpb.forceSensorLoadCoord[1] == -1000 &&
                    kxsim::log_contains("forceSensorLoadCoord:1000.000000 -1000.000000 0.000000",
                                        1);
         },
         0,
         0,
         25},
        {"centre y",
         [] { return qmcSetForceSensorLoadCoord(0, 1000.001, 2000, 26); },
         -1,
         {},
         {},
         0,
         KXMC_PARAM_ERR_LOAD_Y},
        {"centre x first",
         [] { return qmcSetForceSensorLoadCoord(-2000, 0, kNaN, 26); },
         -1,
         {},
         {},
         0,
         KXMC_PARAM_ERR_LOAD_X},
        {"centre z NaN",
         [] { return qmcSetForceSensorLoadCoord(0, 0, kNaN, 26); },
         -1,
         {},
         {},
         0,
         KXMC_PARAM_ERR_LOAD_Z},
        {"auto",
         [] { return qmcSetForceSensorDragAutoFlag(1); },
         0,
         {{"FORCESENSOR_ENDDRAGAUTOFLAG", 1}},
         [] { return mcb.endDragAutoFlag == 1; }},
        {"auto 2", [] { return qmcSetForceSensorDragAutoFlag(2); }, -1},
        {"save load",
         [] {
             mpb.forceSensorLoadWeight = 1.25;
             return forceSensorSaveLoadCoord();
         },
         0,
         std::vector<Key>{{"FORCESENSOR_LOADWEIGHT", 1.25},
                          {"FORCESENSOR_LOADCOORDX", 0},
                          {"FORCESENSOR_LOADCOORDY", 0},
                          {"FORCESENSOR_LOADCOORDZ", 0}} +
             six("FORCESENSOR_ZEROOFFSET_", kW, std::vector<double>(6, 9).data())},
        {"guiding start", [] { return start(kInertia, kDamp, kStiff); }, 0,
         six("FORCESENSOR_ENDDRAG", kW, kThr) + six("FORCESENSOR_INERTIA_", kA, kClamped) +
             six("FORCESENSOR_DAMP_", kA, kDamp) + six("FORCESENSOR_STIFFNESS_", kA, kStiff) +
             std::vector<Key>{{"FORCESENSOR_ADAPTIVE_SIGN", 1},
                              {"FORCESENSOR_INTERFERE_SIGN", 0},
                              {"SINGULARITYCONSTRAINTSFLAG", 1},
                              {"FORCESENSOR_ENDDRAGFMAX", 80},
                              {"FORCESENSOR_ENDDRAGVMAX", 45}},
         [] {
             return mcb.endForceDragOn == 1 && mcb.endDragInertia[5] == 10 &&
                    mcb.endDragInertia[0] == 5 && mcb.endDragVMax == 45 &&
                    mcb.singularityConstraintsFlag == 1 && mcb.endDragStiffness[1] == 10;
         }},
        {"guiding damping 0",
         [] {
             double d[6] = {1, 1, 1, 1, 0, 1};
             return start(kInertia, d, kStiff);
         },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT},
        {"guiding inertia NaN",
         [] {
             double m[6] = {1, 1, kNaN, 1, 1, 1};
             return start(m, kDamp, kStiff);
         },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT},
        {"guiding stiffness < 0",
         [] {
             double k[6] = {0, 0, 0, -1, 0, 0};
             return start(kInertia, kDamp, k);
         },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT},
        {"guiding fMax < 0",
         [] { return start(kInertia, kDamp, kStiff, -1); },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT},
        {"guiding state < 0",
         [] { return kxmcEndForceDragstartstop(-1, 0, 0, 0, kInertia, kDamp, kStiff, kThr, 1, 1); },
         -1,
         {},
         {},
         KXMC_ERR_ARGUMENT},
    };
    for (const Case &c : cases) {
        restart(101);
        configure();
        kxsim::clear_config();
        mark();
        EXPECT_EQ(c.call(), c.result) << c.name;
        expect_keys(c.keys, c.name);
        EXPECT_TRUE(!c.stored || c.stored()) << c.name;
        EXPECT_EQ(mcb.errorCode, c.errorCode) << c.name;
        EXPECT_EQ(mcb.paramErrorCode, c.paramErrorCode) << c.name;
        EXPECT_EQ(mpb.cmdId, c.cmdId) << c.name;
        if (c.result != 0) {
            mcb.errorCode = mcb.paramErrorCode = 0;
            mpb.cmdId = 1;
            EXPECT_TRUE(records() == g_before) << c.name;
        }
    }
}

TEST_F(Settings, ToolMassLimitPerArmFamily) {
    struct Band { uint32_t first, last; double max; };  // max 0: no upper bound
    const Band bands[] = {{0, 0, 5},        {1, 100, 3},    {101, 200, 5},  {201, 300, 10},
                          {301, 400, 16},   {401, 500, 20}, {501, 600, 3},  {601, 700, 5},
                          {701, 900, 3},    {901, 901, 5},  {902, 902, 10}, {903, 1000, 0},
                          {1001, 1100, 30}, {1101, 9999, 0}};
    for (const Band &b : bands)
        for (uint32_t code : {b.first, b.last}) {
            const double max = b.max > 0 ? b.max : 1e6;
            mcb.robotModelCode = code;
            EXPECT_EQ(qmcSetForceSensorLoadWeight(max, 1), 0) << code;
            EXPECT_EQ(qmcSetForceSensorLoadWeight(max + 0.01, 1), b.max > 0 ? -1 : 0) << code;
        }
}

TEST_F(Settings, GuidingSwitchAndQueries) {
    mcb.forceSensorAct = 0;
    EXPECT_EQ(kxmcEndForceDragStartStopControl(1), -1);
    EXPECT_EQ(mcb.errorCode, KXMC_ERR_ARGUMENT);
    mcb.forceSensorAct = 1;
    EXPECT_EQ(kxmcEndForceDragStartStopControl(2), -1);
    EXPECT_EQ(kxmcEndForceDragStartStopControl(1), 0);
    int32_t on = 0;
    uint8_t act = 0;
    kxmcGetEndForceDragStartStopState(&on);
    qmcGetForceSensorAct(&act);
    mcb.forceTorqueDragOn = 1;
    EXPECT_EQ(kxmcInitEndForceDragParam(), 0);
    EXPECT_EQ(kxmcEndForceDragParamReset(), 0);
    EXPECT_EQ(on + act, 2);
    EXPECT_EQ(mcb.forceTorqueDragOn, 0);
}

}  // namespace
