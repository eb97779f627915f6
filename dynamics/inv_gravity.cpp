// Static gravity torque of the standard arm chain for any gravity direction.
#include <cmath>

#include "dynamics/standard_chain.hpp"
#include "kxmc/kxmc_gravity.h"

namespace {

using kxmc::detail::kChainJoints;

// Gravity torque by a backward sweep over the links: joint j holds every link distal to it,
// whose mass m and first moment S = sum(m_i * p_ci) are accumulated from the flange down.
// The torque that holds the links against gravity g is tau_j = -z_{j-1} . ((S - m o_{j-1}) x g).
void inverse_gravity(const double *lengths, const double *masses, const double *centres,
                     const double *payload, const double *gravity, const double *joint_pos,
                     double *out) {
    const auto chain = kxmc::detail::chain_lengths<double>(lengths);

    // Frame origins o[i] and axes z[i] of frames 0..6 in the base, and link centres of mass.
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double o[kChainJoints + 1][3] = {};
    double z[kChainJoints + 1][3] = {{0, 0, 1}};
    double first_moment[kChainJoints][3] = {};  // m_i * p_ci [kg m]
    double link_mass[kChainJoints] = {};
    for (int i = 0; i < kChainJoints; ++i) {
        const double theta = joint_pos[i] * kxmc::detail::kDegToRadBlock;
        double Ri[9];
        double pi[3];
        kxmc::detail::link_transform(chain, i, std::cos(theta), std::sin(theta), Ri, pi);
        double Rn[9];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                Rn[3 * r + c] =
                    R[3 * r] * Ri[c] + R[3 * r + 1] * Ri[3 + c] + R[3 * r + 2] * Ri[6 + c];
            }
            o[i + 1][r] = o[i][r] + R[3 * r] * pi[0] + R[3 * r + 1] * pi[1] + R[3 * r + 2] * pi[2];
        }
        for (int k = 0; k < 9; ++k) {
            R[k] = Rn[k];
        }
        for (int r = 0; r < 3; ++r) {
            z[i + 1][r] = R[3 * r + 2];
        }
        // Link i's mass and first moment; the payload joins link 6 (centre in the flange frame).
        double m = masses[i];
        double local[3] = {masses[i] * centres[3 * i] * 0.001,
                           masses[i] * centres[3 * i + 1] * 0.001,
                           masses[i] * centres[3 * i + 2] * 0.001};
        if (i == kChainJoints - 1) {
            m += payload[0];
            for (int k = 0; k < 3; ++k) {
                local[k] += payload[0] * payload[1 + k] * 0.001;
            }
        }
        link_mass[i] = m;
        for (int r = 0; r < 3; ++r) {
            first_moment[i][r] = m * o[i + 1][r] + R[3 * r] * local[0] + R[3 * r + 1] * local[1] +
                                 R[3 * r + 2] * local[2];
        }
    }

    double mass_sum = 0.0;
    double moment_sum[3] = {0.0, 0.0, 0.0};
    for (int j = kChainJoints - 1; j >= 0; --j) {
        mass_sum += link_mass[j];
        for (int r = 0; r < 3; ++r) {
            moment_sum[r] += first_moment[j][r];
        }
        // Lever of the distal mass about joint j's origin, o[j] (frame j-1 of the 1-based chain).
        const double lever[3] = {moment_sum[0] - mass_sum * o[j][0],
                                 moment_sum[1] - mass_sum * o[j][1],
                                 moment_sum[2] - mass_sum * o[j][2]};
        const double torque[3] = {lever[1] * gravity[2] - lever[2] * gravity[1],
                                  lever[2] * gravity[0] - lever[0] * gravity[2],
                                  lever[0] * gravity[1] - lever[1] * gravity[0]};
        out[j] = -(z[j][0] * torque[0] + z[j][1] * torque[1] + z[j][2] * torque[2]);
    }
}

}  // namespace

extern "C" {

int kxmcInvGravity(const double *lengths, const double *masses, const double *centres,
                   const double *payload, const double *gravity, const double *jointPos,
                   double *out) {
    if (lengths == nullptr || masses == nullptr || centres == nullptr || payload == nullptr ||
        gravity == nullptr || jointPos == nullptr || out == nullptr) {
        return -1;
    }
    inverse_gravity(lengths, masses, centres, payload, gravity, jointPos, out);
    return 0;
}

}  // extern "C"
