// The three basic routines of the spatial recursion of the TZ and PX blocks: the spatial cross
// operator, a general small-matrix inverse and the standard Denavit-Hartenberg link transform.
// Both blocks use the same definitions (TransMatSDH is the PX block's name for the transform).
#pragma once

#include <cmath>

namespace kxmc {
namespace detail {

// Row-major 6x6 [[-S(b), 0], [-S(a), -S(b)]] of x = (a; b), S(u) y = u x y: the transpose of
// the motion cross-product matrix of the linear-first spatial vector x.
inline void cross_operator6(const double *x, double *out) {
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
inline int inv(const double *a, int n, double *out) {
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
inline void TransMatrix_SDH(const double *p, double theta, double *out) {
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

// The PX block's name of the same link transform.
inline void TransMatSDH(const double *p, double theta, double *out) { TransMatrix_SDH(p, theta, out); }

}  // namespace detail
}  // namespace kxmc
