// Dynamics self-test torque: tau = H(q, qd, qdd) * gtau for the 3-, 5-, 10- and 16-kg arms.
//
// The regressors are generated straight-line code (selftest_chain_regressor.cpp) and the
// family parameter vectors are built in selftest_parameters.cpp; this file holds the exported
// entry points and the data objects the gravity-test laws fill.
#include "kxmc/kxmc_selftest.h"

#include <cmath>

#include "host/kxmc_host.h"
#include "jointid/selftest_regressor.hpp"

extern "C" {
double gtau[54];
double selftauHb_x[54];
}

namespace kxmc {
namespace detail {

void selftest_gravity(double tilt_neg, double rot, double gravity[3]) noexcept {
    const double t = -tilt_neg;
    gravity[0] = -kSelftestGravity * std::cos(rot) * std::sin(t);
    gravity[1] = -kSelftestGravity * std::sin(rot) * std::sin(t);
    gravity[2] = -kSelftestGravity * std::cos(t);
}

}  // namespace detail

namespace {

using detail::kSelftestParams;

// One self-test evaluation: regressor and parameters on the stack, then out = H * theta with
// the host's matrix product.
template <void (*Regressor)(const double *, const double *, const double *, const double *,
                            double (*)[54]) noexcept>
int32_t selftest_torque(const double *q, const double *qd, const double *qdd, MatHead out) noexcept {
    if (q == nullptr || qd == nullptr || qdd == nullptr || out.rows == nullptr ||
        out.firstRow != 0 || out.lastRow != 5 || out.firstCol != 0 || out.lastCol != 0) {
        return -1;
    }
    for (int i = 0; i < detail::kSelftestJoints; ++i) {
        if (out.rows[i] == nullptr) {
            return -1;
        }
    }
    double gravity[3];
    detail::selftest_gravity(q[1], q[2], gravity);
    double h[6][54];
    Regressor(&q[3], qd, qdd, gravity, h);
    double theta[54];
    double *h_rows[6];
    double *theta_rows[54];
    for (int i = 0; i < detail::kSelftestJoints; ++i) {
        h_rows[i] = h[i];
    }
    for (int k = 0; k < kSelftestParams; ++k) {
        theta[k] = gtau[k];
        theta_rows[k] = &theta[k];
    }
    const MatHead h_head{0, 5, 0, kSelftestParams - 1, 0, h_rows};
    const MatHead theta_head{0, kSelftestParams - 1, 0, 0, 0, theta_rows};
    return matmul(h_head, theta_head, out) == 0 ? 0 : -1;
}

}  // namespace

}  // namespace kxmc

extern "C" {

int32_t computeKx3_selftautest(const double q[9], const double qd[6], const double qdd[6],
                               MatHead out) {
    return kxmc::selftest_torque<kxmc::detail::selftest_family_regressor<3>>(q, qd, qdd, out);
}

int32_t computeKx5_selftautest(const double q[9], const double qd[6], const double qdd[6],
                               MatHead out) {
    return kxmc::selftest_torque<kxmc::detail::selftest_family_regressor<5>>(q, qd, qdd, out);
}

int32_t computeKx10_selftautest(const double q[9], const double qd[6], const double qdd[6],
                                MatHead out) {
    return kxmc::selftest_torque<kxmc::detail::selftest_family_regressor<10>>(q, qd, qdd, out);
}

int32_t computeKx16_selftautest(const double q[9], const double qd[6], const double qdd[6],
                                MatHead out) {
    return kxmc::selftest_torque<kxmc::detail::selftest_family_regressor<16>>(q, qd, qdd, out);
}

}  // extern "C"
