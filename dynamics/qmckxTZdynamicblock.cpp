// Rigid-body dynamics block of the TZ arm family (codes 701, 801-900), double precision.
//
// Chain geometry. The family's lengths (140, -420, 12, 360, 102, 100 mm) describe an
// elbow-offset arm in the standard Denavit-Hartenberg convention with twists
// 90, 0, 90, -90, 90, 0 degrees, a = (0, a2, a3, 0, 0, 0) and d = (d1, 0, 0, d4, d5, d6), the
// lengths taken with their signs:
//   joint 1 vertical, shoulder height d1 = 140;
//   shoulder and elbow parallel, upper arm a2 = -420 along x2;
//   elbow offset a3 = 12, then the twist of 90 degrees turns joint 4 along the forearm;
//   forearm d4 = 360 along joint 4's axis, so the measured link-4 inertia is slender about y4
//   (Iyy 2247 against 14804 and 14363 kg mm^2): y4 lies along the forearm;
//   wrist joints 5 and 6 offset by d5 = 102 and d6 = 100 along their own axes, as on the
//   standard arm's wrist.
// At zero joints the upper arm is horizontal and the forearm hangs straight down. The host's
// kinematics uses the same table, so torques and poses refer to one arm.
//
// Parameter layout: centres 36 values, six per link (x, y, z [mm] in the link frame, then three
// unused; the per-cycle control passes zeros); inertias 30 values, links 1 to 5 (Ixx, Ixy, Ixz,
// Iyy, Iyz, Izz about the centre [kg mm^2]); link 6 counts as a point mass.
#include <cmath>

#include "dynamics/spatial_rnea.hpp"
#include "dynamics/spatial_routines.hpp"
#include "kxmc/kxmc_dynamics_model.h"

namespace {

constexpr double kTwistTZ[6] = {90, 0, 90, -90, 90, 0};  // [deg]

}  // namespace

extern "C" {

int32_t qmckxTZdynamicblock(const double *lengths, const double *q, const double *qd,
                            const double *qdd, const double *payload, const double *masses,
                            const double *centres, const double *inertias, const double *rotor,
                            const double *gravity, double *tau) {
    if (lengths == nullptr || q == nullptr || qd == nullptr || qdd == nullptr ||
        payload == nullptr || masses == nullptr || centres == nullptr || inertias == nullptr ||
        rotor == nullptr || gravity == nullptr || tau == nullptr) {
        return -1;
    }
    kxmc::detail::SpatialChain chain{};
    const double a_mm[6] = {0, lengths[1], lengths[2], 0, 0, 0};
    const double d_mm[6] = {lengths[0], 0, 0, lengths[3], lengths[4], lengths[5]};
    for (int i = 0; i < 6; ++i) {
        chain.a[i] = a_mm[i] * 0.001;
        chain.d[i] = d_mm[i] * 0.001;
        chain.alpha[i] = kTwistTZ[i] * (kxmc::detail::kPi / 180.0);
        chain.mass[i] = masses[i];
        for (int k = 0; k < 3; ++k) {
            chain.com[i][k] = centres[6 * i + k] * 0.001;
        }
        for (int k = 0; k < 6; ++k) {
            chain.inertia[i][k] = i < 5 ? inertias[6 * i + k] * 0.000001 : 0.0;
        }
        chain.rotor[i] = rotor[i] * 0.000001;
    }
    const kxmc::detail::SpatialRoutines routines{kxmc::detail::cross_operator6, kxmc::detail::inv,
                                                  kxmc::detail::TransMatrix_SDH};
    kxmc::detail::spatial_rnea(chain, routines, q, qd, qdd, payload, gravity, tau);
    return 0;
}

}  // extern "C"
