// Rigid-body parameter sets of the standard arm chain, one per model-code band. The 5-kg arm
// is measured; the centres of mass and inertias of the other arms are derived from it (see
// arm_derivation.hpp for the scaling and why it keeps every tensor physically realisable).
#include "dynamics/arm_parameters.hpp"

#include "dynamics/arm_derivation.hpp"
#include "numerics/model_bands.hpp"

namespace kxmc {
namespace {

using Set = StandardArmParameters;
using detail::derived_set;
using detail::kDefaultSet;

// Measured data of the other arms: lengths [mm], masses [kg], rotor inertias [kg mm^2].
constexpr float kLen3kg[6] = {140.0f, -280.0f, -240.0f, 102.0f, 102.0f, 100.0f};
constexpr float kRotor3kg[6] = {657160.0f, 657160.0f, 657160.0f, 425520.0f, 425520.0f, 425520.0f};
constexpr float kRotor10kg[6] = {17472660.0f, 17472660.0f, 1615598.0f,
                                 657160.0f,   657160.0f,   657160.0f};

constexpr Set kSet1 = derived_set(kLen3kg, {2.37f, 5.21f, 2.31f, 1.66f, 1.66f, 0.34f}, kRotor3kg);
constexpr Set kSet2 = derived_set(kLen3kg, {2.24f, 4.94f, 2.29f, 1.56f, 1.56f, 0.36f}, kRotor3kg);
constexpr Set kSet3 = derived_set(kLen3kg, {2.24f, 4.89f, 2.29f, 1.56f, 1.58f, 0.35f}, kRotor3kg);
constexpr Set kSet201 = derived_set({180.0f, -700.0f, -586.0f, 195.0f, 114.0f, 106.0f},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kRotor10kg);
constexpr Set kSet202 = derived_set({180.0f, -700.0f, -586.0f, 159.0f, 114.0f, 106.0f},
                                    {11.97f, 19.59f, 3.7f, 1.69f, 1.69f, 0.35f}, kRotor10kg);
constexpr Set kSet301 = derived_set({180.0f, -520.0f, -400.0f, 195.0f, 114.0f, 106.0f},
                                    {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f}, kRotor10kg);
constexpr Set kSet302 = derived_set({180.0f, -520.0f, -400.0f, 159.0f, 114.0f, 106.0f},
                                    {11.97f, 18.18f, 3.22f, 1.69f, 1.69f, 0.35f}, kRotor10kg);
constexpr Set kSet401 = derived_set(
    {215.0f, -1000.0f, -716.0f, 166.0f, 138.0f, 120.0f},
    {20.79f, 42.84f, 9.88f, 4.64f, 4.64f, 0.6f},
    {49675000.0f, 49675000.0f, 26208990.0f, 1615598.0f, 1615598.0f, 1615598.0f});
constexpr Set kSet702 = derived_set(
    {140.0f, -425.0f, -395.0f, 102.0f, 102.0f, 100.0f}, {1.66f, 3.74f, 2.0f, 1.17f, 1.17f, 0.28f},
    {312933.0f, 312933.0f, 312933.0f, 319140.0f, 319140.0f, 319140.0f});
constexpr Set kSet703 = derived_set(
    kLen3kg, {1.66f, 3.68f, 1.81f, 1.18f, 1.18f, 0.28f},
    {156467.0f, 156467.0f, 156467.0f, 177300.0f, 177300.0f, 177300.0f});
constexpr float kRotor9xx[6] = {962147.94f, 962147.94f, 962147.94f,
                                434072.94f, 434072.94f, 434072.94f};
constexpr Set kSet901 =
    derived_set(kLen3kg, {1.59f, 3.41f, 1.68f, 1.14f, 1.14f, 0.35f}, kRotor9xx);
constexpr Set kSet903 = derived_set({150.0f, -280.0f, -240.0f, 102.0f, 102.0f, 100.0f},
                                    {1.55f, 3.34f, 1.5f, 1.1f, 1.11f, 0.35f}, kRotor9xx);
constexpr Set kSet1001 = derived_set(
    {215.0f, -700.0f, -536.0f, 166.0f, 138.0f, 120.0f},
    {20.64f, 36.37f, 8.41f, 4.64f, 4.64f, 0.6f},
    {39740000.0f, 39740000.0f, 26208990.0f, 1615598.0f, 1615598.0f, 1615598.0f});

// Single codes before the bands that contain them; 101-200 and every other code take the
// default set.
constexpr Band<Set> kSets[] = {
    {1, 1, kSet1},           {2, 2, kSet2},         {3, 3, kSet3},     {4, 100, kSet2},
    {201, 201, kSet201},     {202, 300, kSet202},   {301, 301, kSet301},
    {302, 400, kSet302},     {401, 500, kSet401},   {702, 702, kSet702},
    {703, 703, kSet703},     {901, 901, kSet901},   {903, 903, kSet903},
    {1001, 1100, kSet1001},
};

}  // namespace

const StandardArmParameters &standard_arm_parameters(uint32_t model_code) noexcept {
    return lookup_band(kSets, model_code, kDefaultSet);
}

}  // namespace kxmc
