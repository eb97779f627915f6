// Joint-space dynamics matrices of the 5-kg arm for the host (observer, trajectory checks):
// the rigid links of the default parameter set on the floor, evaluated by the same Christoffel
// factorisation as the dynamics block.
#include <cmath>

#include "dynamics/arm_derivation.hpp"
#include "dynamics/standard_dynamics.hpp"
#include "kxmc/kxmc_joint_space_dynamics.h"
#include "payload/matrix_block.hpp"

namespace {

constexpr int kJoints = 6;
constexpr double kGravity = 9.8;  // [m/s^2]

struct JointSpaceDynamics {
    double M[kJoints * kJoints];  // [kg m^2]
    double V[kJoints * kJoints];  // [kg m^2/s]
    double G[kJoints];            // [N m]
};

bool finite_joints(const double *v) noexcept {
    if (v == nullptr) {
        return false;
    }
    for (int i = 0; i < kJoints; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// M, V and G at q [rad] and qd [rad/s] (null: at rest).
void evaluate(const double *q, const double *qd, JointSpaceDynamics &out) noexcept {
    const kxmc::StandardArmParameters &arm = kxmc::detail::kDefaultSet;
    double lengths[kJoints], masses[kJoints], inertias[36], centres[18];
    for (int i = 0; i < kJoints; ++i) {
        lengths[i] = arm.lengths[i];
        masses[i] = arm.masses[i];
    }
    for (int i = 0; i < 18; ++i) {
        centres[i] = arm.centres[i];
    }
    for (int i = 0; i < 36; ++i) {
        inertias[i] = arm.inertias[i];
    }
    // The chain takes degrees with its own degree factor; dividing by that factor hands it the
    // radians unchanged.
    double q_deg[kJoints], qd_deg[kJoints] = {};
    for (int i = 0; i < kJoints; ++i) {
        q_deg[i] = q[i] / kxmc::detail::kDegToRadBlock;
        if (qd != nullptr) {
            qd_deg[i] = qd[i] / kxmc::detail::kDegToRadBlock;
        }
    }
    const double no_rotor[kJoints] = {};
    const double no_payload[10] = {};
    const double gravity[3] = {0.0, 0.0, -kGravity};
    const kxmc::detail::StandardModelInput<double> in{
        lengths, q_deg, qd_deg, nullptr, no_payload, masses, centres, inertias, no_rotor, gravity};
    kxmc::detail::standard_chain_dynamics<double>(in, out.M, out.V, out.G, nullptr);
}

void store(const double *src, int32_t cols, const MatHead &dst) noexcept {
    for (int32_t i = 0; i < kJoints; ++i) {
        for (int32_t k = 0; k < cols; ++k) {
            kxmc::detail::block_at(dst, i, k) = src[i * cols + k];
        }
    }
}

}  // namespace

extern "C" {

int32_t com_M_matrix(const double *q, MatHead M) {
    if (!finite_joints(q) || !kxmc::detail::block_fits(M, kJoints, kJoints)) {
        return -1;
    }
    JointSpaceDynamics d;
    evaluate(q, nullptr, d);
    store(d.M, kJoints, M);
    return 0;
}

int32_t com_C_matrix(const double *q, const double *qd, MatHead V) {
    if (!finite_joints(q) || !finite_joints(qd) || !kxmc::detail::block_fits(V, kJoints, kJoints)) {
        return -1;
    }
    JointSpaceDynamics d;
    evaluate(q, qd, d);
    store(d.V, kJoints, V);
    return 0;
}

int32_t com_G_matrix(const double *q, MatHead G) {
    if (!finite_joints(q) || !kxmc::detail::block_fits(G, kJoints, 1)) {
        return -1;
    }
    JointSpaceDynamics d;
    evaluate(q, nullptr, d);
    store(d.G, 1, G);
    return 0;
}

}  // extern "C"
