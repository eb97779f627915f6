// Rigid-body dynamics block of the PX arm (code 902), double precision.
//
// The PX arm is a 10-kg class arm on the standard chain (twists 90, 0, 0, 90, -90, 0 degrees;
// a2, a3 = -|length|) with lengths 180, -700, -586, 211, 114, 106 mm: the 10-kg arm with a
// longer wrist offset d4. Its rigid-body constants are built in:
//  * masses: the two measured 10-kg arms differ only in d4 (model 201: d4 = 195 mm, model 202:
//    d4 = 159 mm), so each link mass is extrapolated linearly in d4 to 211 mm,
//    m = m202 + (m201 - m202) (211 - 159) / (195 - 159)
//    = 13.02, 19.56, 3.95, 2.38, 2.14, 0.35 kg;
//  * centres of mass and inertias: the 5-kg arm's links stretched to the PX lengths with these
//    masses, by the same derivation as the other standard sets (arm_derivation.hpp), which keeps
//    every tensor physically realisable.
// Lengths and rotor inertias come from the caller.
#include <cmath>

#include "dynamics/arm_derivation.hpp"
#include "dynamics/spatial_rnea.hpp"
#include "dynamics/spatial_routines.hpp"
#include "kxmc/kxmc_dynamics_model.h"

namespace {

constexpr float kPxLengths[6] = {180.0f, -700.0f, -586.0f, 211.0f, 114.0f, 106.0f};  // [mm]
constexpr float kMass201[6] = {12.7f, 19.57f, 3.87f, 2.17f, 2.0f, 0.35f};    // d4 = 195 [kg]
constexpr float kMass202[6] = {11.97f, 19.59f, 3.7f, 1.69f, 1.69f, 0.35f};   // d4 = 159 [kg]
constexpr float kD4Fraction = (211.0f - 159.0f) / (195.0f - 159.0f);
constexpr float kPxMasses[6] = {
    kMass202[0] + (kMass201[0] - kMass202[0]) * kD4Fraction,
    kMass202[1] + (kMass201[1] - kMass202[1]) * kD4Fraction,
    kMass202[2] + (kMass201[2] - kMass202[2]) * kD4Fraction,
    kMass202[3] + (kMass201[3] - kMass202[3]) * kD4Fraction,
    kMass202[4] + (kMass201[4] - kMass202[4]) * kD4Fraction,
    kMass202[5] + (kMass201[5] - kMass202[5]) * kD4Fraction,
};
constexpr float kNoRotor[6] = {0, 0, 0, 0, 0, 0};
constexpr kxmc::StandardArmParameters kPxBody =
    kxmc::detail::derived_set(kPxLengths, kPxMasses, kNoRotor);

constexpr double kTwistStandard[6] = {90, 0, 0, 90, -90, 0};  // [deg]

}  // namespace

extern "C" {

int32_t qmcPXkx10dynamicblock(const double *lengths, const double *q, const double *qd,
                              const double *qdd, const double *payload, const double *rotor,
                              const double *gravity, double *tau) {
    if (lengths == nullptr || q == nullptr || qd == nullptr || qdd == nullptr ||
        payload == nullptr || rotor == nullptr || gravity == nullptr || tau == nullptr) {
        return -1;
    }
    kxmc::detail::SpatialChain chain{};
    const auto len = kxmc::detail::chain_lengths<double>(lengths);
    for (int i = 0; i < 6; ++i) {
        chain.a[i] = len.a[i];
        chain.d[i] = len.d[i];
        chain.alpha[i] = kTwistStandard[i] * (kxmc::detail::kPi / 180.0);
        chain.mass[i] = kPxBody.masses[i];
        for (int k = 0; k < 3; ++k) {
            chain.com[i][k] = kPxBody.centres[3 * i + k] * 0.001;
        }
        for (int k = 0; k < 6; ++k) {
            chain.inertia[i][k] = kPxBody.inertias[6 * i + k] * 0.000001;
        }
        chain.rotor[i] = rotor[i] * 0.000001;
    }
    const kxmc::detail::SpatialRoutines routines{kxmc::detail::cross_operator6, kxmc::detail::inv,
                                                  kxmc::detail::TransMatSDH};
    kxmc::detail::spatial_rnea(chain, routines, q, qd, qdd, payload, gravity, tau);
    return 0;
}

}  // extern "C"
