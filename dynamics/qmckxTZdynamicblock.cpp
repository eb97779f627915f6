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
#include "kxmc/kxmc_dynamics_model.h"

namespace {

// Row-major 6x6 [[-S(b), 0], [-S(a), -S(b)]] of x = (a; b), S(u) y = u x y: the transpose of
// the motion cross-product matrix of the linear-first spatial vector x.
void cross_operator6(const double *x, double *out) {
    const double a[3] = {x[0], x[1], x[2]};
    const double b[3] = {x[3], x[4], x[5]};
    const double Sa[9] = {0, -a[2], a[1], a[2], 0, -a[0], -a[1], a[0], 0};
    const double Sb[9] = {0, -b[2], b[1], b[2], 0, -b[0], -b[1], b[0], 0};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            out[6 * r + c] = -Sb[3 * r + c];
            out[6 * r + 3 + c] = 0.0;
            out[6 * (3 + r) + c] = -Sa[3 * r + c];
            out[6 * (3 + r) + 3 + c] = -Sb[3 * r + c];
        }
    }
}

// General inverse of a row-major n x n matrix (n <= 6) by Gauss-Jordan elimination with
// partial pivoting. Returns 0, or -1 (out untouched) when n is out of range or the matrix is
// singular to working precision.
int inv(const double *a, int n, double *out) {
    constexpr int kMax = 6;
    if (n < 1 || n > kMax) {
        return -1;
    }
    double w[kMax][2 * kMax];
    double scale = 0.0;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            w[r][c] = a[n * r + c];
            w[r][n + c] = (r == c) ? 1.0 : 0.0;
            const double m = std::fabs(a[n * r + c]);
            scale = m > scale ? m : scale;
        }
    }
    if (!(scale > 0.0) || !std::isfinite(scale)) {
        return -1;
    }
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r) {
            if (std::fabs(w[r][col]) > std::fabs(w[pivot][col])) {
                pivot = r;
            }
        }
        if (std::fabs(w[pivot][col]) <= 1e-14 * scale) {
            return -1;
        }
        if (pivot != col) {
            for (int c = 0; c < 2 * n; ++c) {
                const double tmp = w[col][c];
                w[col][c] = w[pivot][c];
                w[pivot][c] = tmp;
            }
        }
        const double inv_pivot = 1.0 / w[col][col];
        for (int c = 0; c < 2 * n; ++c) {
            w[col][c] *= inv_pivot;
        }
        for (int r = 0; r < n; ++r) {
            if (r != col && w[r][col] != 0.0) {
                const double factor = w[r][col];
                for (int c = 0; c < 2 * n; ++c) {
                    w[r][c] -= factor * w[col][c];
                }
            }
        }
    }
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            out[n * r + c] = w[r][n + c];
        }
    }
    return 0;
}

// Standard Denavit-Hartenberg link transform for p = (d, a, alpha) [m, rad] and joint angle
// theta [rad]; 4x4 homogeneous matrix stored column by column (element (r, c) at out[4 c + r]).
void TransMatrix_SDH(const double *p, double theta, double *out) {
    const double ct = std::cos(theta);
    const double st = std::sin(theta);
    const double ca = std::cos(p[2]);
    const double sa = std::sin(p[2]);
    const double rows[16] = {ct, -st * ca, st * sa,  p[1] * ct,  //
                             st, ct * ca,  -ct * sa, p[1] * st,  //
                             0,  sa,       ca,       p[0],       //
                             0,  0,        0,        1};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[4 * c + r] = rows[4 * r + c];
        }
    }
}

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
    const kxmc::detail::SpatialRoutines routines{cross_operator6, inv, TransMatrix_SDH};
    kxmc::detail::spatial_rnea(chain, routines, q, qd, qdd, payload, gravity, tau);
    return 0;
}

}  // extern "C"
