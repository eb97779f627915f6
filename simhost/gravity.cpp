// The host's gravity routines for the three fixed mountings: the torque that holds the arm and
// its payload, computed with the library's static inverse dynamics (kxmcInvGravity) from the
// host's own parameter sets of the standard chain.
//
// Parameter sets: lengths and masses of each arm as measured; the centres of mass of the 5-kg
// arm as measured and those of the other arms derived from it by the same geometric scaling of
// each link body the dynamics model uses (dynamics/arm_derivation.hpp), so the host and the
// library model the same arm. Gravity in the base frame: floor (0, 0, -9.8), wall (-9.8, 0, 0)
// (tilt 90 about Y), ceiling (0, 0, +9.8).
#include "dynamics/arm_derivation.hpp"
#include "kxmc/kxmc_gravity.h"
#include "numerics/model_bands.hpp"
#include "simhost_internal.hpp"

namespace kxsim {

namespace {

using kxmc::detail::derived_set;
using Set = kxmc::StandardArmParameters;

constexpr float kLen3kg[6] = {140, -280, -240, 102, 102, 100};  // [mm]
constexpr float kNoRotor[6] = {0, 0, 0, 0, 0, 0};                // rotors play no part here

constexpr Set kSet1 = derived_set(kLen3kg, {2.37f, 5.21f, 2.31f, 1.66f, 1.66f, 0.34f}, kNoRotor);
constexpr Set kSet2 = derived_set(kLen3kg, {2.24f, 4.94f, 2.29f, 1.56f, 1.56f, 0.36f}, kNoRotor);
constexpr Set kSet3 = derived_set(kLen3kg, {2.24f, 4.89f, 2.29f, 1.56f, 1.58f, 0.35f}, kNoRotor);
constexpr Set kSet201 = derived_set({180, -700, -586, 195, 114, 106},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kNoRotor);
constexpr Set kSet202 = derived_set({180, -700, -586, 159, 114, 106},
                                    {11.97f, 19.59f, 3.7f, 1.69f, 1.69f, 0.35f}, kNoRotor);
constexpr Set kSet301 = derived_set({180, -520, -400, 195, 114, 106},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kNoRotor);
constexpr Set kSet302 = derived_set({180, -520, -400, 159, 114, 106},
                                    {11.97f, 18.18f, 3.22f, 1.69f, 1.69f, 0.35f}, kNoRotor);
constexpr Set kSet401 = derived_set({215, -1000, -716, 166, 138, 120},
                                    {20.79f, 42.84f, 9.88f, 4.64f, 4.64f, 0.6f}, kNoRotor);
constexpr Set kSet702 = derived_set({140, -425, -395, 102, 102, 100},
                                    {1.66f, 3.74f, 2.0f, 1.17f, 1.17f, 0.28f}, kNoRotor);
constexpr Set kSet703 = derived_set(kLen3kg, {1.66f, 3.68f, 1.81f, 1.18f, 1.18f, 0.28f}, kNoRotor);
constexpr Set kSet901 = derived_set(kLen3kg, {1.59f, 3.41f, 1.68f, 1.14f, 1.14f, 0.35f}, kNoRotor);
constexpr Set kSet903 = derived_set({150, -280, -240, 102, 102, 100},
                                    {1.55f, 3.34f, 1.5f, 1.1f, 1.11f, 0.35f}, kNoRotor);
constexpr Set kSet1001 = derived_set({215, -700, -536, 166, 138, 120},
                                     {20.64f, 36.37f, 8.41f, 4.64f, 4.64f, 0.6f}, kNoRotor);

// Model code handed to the routine -> parameter set; 101-200 and unknown codes: the 5-kg arm.
constexpr kxmc::Band<Set> kSets[] = {
    {1, 1, kSet1},       {2, 2, kSet2},       {3, 3, kSet3},       {4, 100, kSet2},
    {201, 201, kSet201}, {202, 300, kSet202}, {301, 301, kSet301}, {302, 400, kSet302},
    {401, 500, kSet401}, {702, 702, kSet702}, {703, 703, kSet703}, {901, 901, kSet901},
    {903, 903, kSet903}, {1001, 1100, kSet1001},
};

int holding_torque(const double jointPos[6], const double load[4], double out[6], int model,
                   const double gravity[3]) {
    if (jointPos == nullptr || load == nullptr || out == nullptr) {
        return -1;
    }
    const uint32_t code = model < 0 ? 0u : static_cast<uint32_t>(model);
    const Set &s = kxmc::lookup_band(kSets, code, kxmc::detail::kDefaultSet);
    double lengths[6], masses[6], centres[18];
    for (int i = 0; i < 6; ++i) {
        lengths[i] = s.lengths[i];
        masses[i] = s.masses[i];
    }
    for (int i = 0; i < 18; ++i) {
        centres[i] = s.centres[i];
    }
    const double payload[10] = {load[3], load[0], load[1], load[2], 0, 0, 0, 0, 0, 0};
    return kxmcInvGravity(lengths, masses, centres, payload, gravity, jointPos, out);
}

}  // namespace

}  // namespace kxsim

extern "C" {

int qmcDynComGravityExload(const double jointPos[6], const double load[4], double out[6],
                           int modelCode) {
    static constexpr double kFloor[3] = {0.0, 0.0, -9.8};  // [m/s^2]
    return kxsim::holding_torque(jointPos, load, out, modelCode, kFloor);
}

int qmcDynComGravityExloadWall(const double jointPos[6], const double load[4], double out[6],
                               int modelCode) {
    static constexpr double kWall[3] = {-9.8, 0.0, 0.0};  // [m/s^2]
    return kxsim::holding_torque(jointPos, load, out, modelCode, kWall);
}

int qmcDynComGravityExloadCeiling(const double jointPos[6], const double load[4], double out[6],
                                  int modelCode) {
    static constexpr double kCeiling[3] = {0.0, 0.0, 9.8};  // [m/s^2]
    return kxsim::holding_torque(jointPos, load, out, modelCode, kCeiling);
}

}  // extern "C"
