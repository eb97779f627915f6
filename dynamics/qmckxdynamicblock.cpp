// Rigid-body dynamics block of the standard arms, single precision, once per servo cycle.
#include "dynamics/standard_dynamics.hpp"
#include "kxmc/kxmc_dynamics_model.h"

extern "C" {

int32_t qmckxdynamicblock(const float *lengths, const float *q, const float *qd, const float *qdd,
                          const float *payload, const float *masses, const float *centres,
                          const float *inertias, const float *rotor, const float *gravity,
                          float *tau, float *tauStatic, float *massMatrix, float *coriolisMatrix) {
    if (lengths == nullptr || q == nullptr || qd == nullptr || qdd == nullptr ||
        payload == nullptr || masses == nullptr || centres == nullptr || inertias == nullptr ||
        rotor == nullptr || gravity == nullptr || tau == nullptr || tauStatic == nullptr ||
        massMatrix == nullptr || coriolisMatrix == nullptr) {
        return -1;
    }
    const kxmc::detail::StandardModelInput<float> in{lengths, q,       qd,       qdd,   payload,
                                                     masses,  centres, inertias, rotor, gravity};
    kxmc::detail::standard_chain_dynamics(in, massMatrix, coriolisMatrix, tauStatic, tau);
    return 0;
}

}  // extern "C"
