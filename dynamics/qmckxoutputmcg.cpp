// Mass matrix, Coriolis matrix and gravity torque of the 5-kg arm in double precision, for
// offline use by the host (identification tools, trajectory checks); nothing in the library
// calls it.
#include "dynamics/arm_derivation.hpp"
#include "dynamics/standard_dynamics.hpp"
#include "kxmc/kxmc_dynamics_model.h"

extern "C" {

int32_t output_MCG(const double *jointPos, const double *jointVel, const double *centres,
                   double loadMass, const double *loadCentre, double *M, double *C, double *G) {
    if (jointPos == nullptr || jointVel == nullptr || centres == nullptr || loadCentre == nullptr ||
        M == nullptr || C == nullptr || G == nullptr) {
        return -1;
    }
    const kxmc::StandardArmParameters &arm = kxmc::detail::kDefaultSet;
    double lengths[6], masses[6], inertias[36], rotor[6];
    for (int i = 0; i < 6; ++i) {
        lengths[i] = arm.lengths[i];
        masses[i] = arm.masses[i];
        rotor[i] = arm.rotor[i];
    }
    for (int i = 0; i < 36; ++i) {
        inertias[i] = arm.inertias[i];
    }
    const double payload[10] = {loadMass, loadCentre[0], loadCentre[1], loadCentre[2], 0, 0, 0, 0, 0, 0};
    const double gravity[3] = {0.0, 0.0, -9.8};  // floor mounting [m/s^2]
    const kxmc::detail::StandardModelInput<double> in{lengths, jointPos, jointVel, nullptr,
                                                      payload, masses,   centres,  inertias,
                                                      rotor,   gravity};
    kxmc::detail::standard_chain_dynamics<double>(in, M, C, G, nullptr);
    return 0;
}

}  // extern "C"
