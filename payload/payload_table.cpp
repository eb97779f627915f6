// The payload table: one setter that validates a payload, makes it the current payload, stores
// it as a table entry and persists both.
//
// Runs in the host's command handling. The servo cycle reads the same fields without a lock, so
// for one cycle it may see the new mass with the old centre; every value written is finite and
// in range, so that cycle's torques stay sound.
#include <cmath>
#include <cstdint>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_payload.h"
#include "payload/payload_common.hpp"

namespace {

constexpr const char kLoadConfigPath[] = "/root/robot/load.config";
constexpr const char kLoadSection[] = "LOAD_PARAM";

constexpr double kCoordLimit = 1000.0;  // [mm] each centre coordinate, bounds included

constexpr uint32_t kCoordErrorCodes[3] = {KXMC_PARAM_ERR_LOAD_X, KXMC_PARAM_ERR_LOAD_Y,
                                          KXMC_PARAM_ERR_LOAD_Z};

// Keys of one table entry: mass, then centre x, y, z.
#define KXMC_LOAD_ENTRY_KEYS(n) \
    { "LOAD" #n "_WEIGHT", "LOAD" #n "_Coord_X", "LOAD" #n "_Coord_Y", "LOAD" #n "_Coord_Z" }
constexpr const char *kEntryKeys[KXMC_LOAD_TABLE_SIZE][4] = {
    KXMC_LOAD_ENTRY_KEYS(0),  KXMC_LOAD_ENTRY_KEYS(1),  KXMC_LOAD_ENTRY_KEYS(2),
    KXMC_LOAD_ENTRY_KEYS(3),  KXMC_LOAD_ENTRY_KEYS(4),  KXMC_LOAD_ENTRY_KEYS(5),
    KXMC_LOAD_ENTRY_KEYS(6),  KXMC_LOAD_ENTRY_KEYS(7),  KXMC_LOAD_ENTRY_KEYS(8),
    KXMC_LOAD_ENTRY_KEYS(9),  KXMC_LOAD_ENTRY_KEYS(10), KXMC_LOAD_ENTRY_KEYS(11),
    KXMC_LOAD_ENTRY_KEYS(12), KXMC_LOAD_ENTRY_KEYS(13), KXMC_LOAD_ENTRY_KEYS(14),
    KXMC_LOAD_ENTRY_KEYS(15), KXMC_LOAD_ENTRY_KEYS(16), KXMC_LOAD_ENTRY_KEYS(17),
    KXMC_LOAD_ENTRY_KEYS(18), KXMC_LOAD_ENTRY_KEYS(19),
};
#undef KXMC_LOAD_ENTRY_KEYS

// Written so that NaN fails: a non-finite mass or coordinate would reach the dynamics of every
// cycle.
bool mass_acceptable(double weight, uint32_t model_code) noexcept {
    return std::isfinite(weight) && weight >= kxmc::kPayloadMassFloor &&
           weight <= kxmc::payload_mass_limit(model_code);
}

void persist_load_key(const char *key, double value) noexcept {
    static_cast<void>(ConfigWriteEntry(kLoadConfigPath, kLoadSection, key,
                                       kxmc::detail::saturate_to_float(value)));
}

}  // namespace

extern "C" {

int32_t qmcSetLoadPara(uint8_t loadNum, double weight, double x, double y, double z,
                       uint32_t cmdId) {
    if (loadNum >= KXMC_LOAD_TABLE_SIZE) {
        return -3;
    }
    if (!mass_acceptable(weight, mcb.robotModelCode)) {
        mcb.paramErrorCode = KXMC_PARAM_ERR_LOAD_MASS;
        return -1;
    }
    const double coord[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(coord[i]) <= kCoordLimit)) {
            mcb.paramErrorCode = kCoordErrorCodes[i];
            return -2;
        }
    }

    mpb.loadNum = loadNum;
    mpb.loadWeight = weight;
    mpb.loadWeightTable[loadNum] = weight;
    for (int i = 0; i < 3; ++i) {
        mpb.loadCoord[i] = coord[i];
        mpb.loadCoordTable[loadNum][i] = coord[i];
    }

    Write_Log(1, "loadWeight:%f", mpb.loadWeight);
    Write_Log(2, "loadCoord:%f %f %f", mpb.loadCoord[0], mpb.loadCoord[1], mpb.loadCoord[2]);

    kxmc::detail::persist_user_param("LOAD_NUM", mpb.loadNum);
    kxmc::persist_current_payload();

    persist_load_key(kEntryKeys[loadNum][0], mpb.loadWeightTable[loadNum]);
    for (int i = 0; i < 3; ++i) {
        persist_load_key(kEntryKeys[loadNum][1 + i], mpb.loadCoordTable[loadNum][i]);
    }

    mpb.cmdId = cmdId;
    return 0;
}

}  // extern "C"
