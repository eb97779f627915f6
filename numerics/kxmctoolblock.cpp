// Small dense matrix routines of the servo cycle: fixed and variable size products, transposes,
// determinants by cofactor expansion, the Gauss-Jordan and LU inversions, and the rotation step
// between two poses used by the drag-lock law.
//
// Storage is row-major throughout; every buffer belongs to the caller; nothing allocates.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/float_cast.hpp"

namespace {

constexpr int kDim6 = 6;
constexpr int kMaxDeterminantOrder = 6;  // cofactor expansion is n! work: bounded on purpose

// P = A B for n x n, formed in a local so that P may alias A or B.
template <int N>
void mul_square(const double *A, const double *B, double *P) {
    double out[N * N];
    for (int i = 0; i < N; ++i) {
        for (int k = 0; k < N; ++k) {
            double s = 0.0;
            for (int j = 0; j < N; ++j) {
                s += A[i * N + j] * B[j * N + k];
            }
            out[i * N + k] = s;
        }
    }
    std::memcpy(P, out, sizeof out);
}

std::ptrdiff_t idx(int32_t i, int32_t cols, int32_t k) {
    return static_cast<std::ptrdiff_t>(i) * cols + k;
}

// Determinant of the leading n x n block of a 6 x 6 storage (stride 6), 1 <= n <= 6.
double det_stride6(const double *A, int n) {
    if (n == 1) {
        return A[0];
    }
    if (n == 2) {
        return A[0] * A[kDim6 + 1] - A[1] * A[kDim6];
    }
    if (n == 3) {
        // The expansion written out: saves building three 2 x 2 minors at the bottom level.
        const double *r1 = A + kDim6;
        const double *r2 = A + 2 * kDim6;
        const double m0 = r1[1] * r2[2] - r1[2] * r2[1];
        const double m1 = r1[0] * r2[2] - r1[2] * r2[0];
        const double m2 = r1[0] * r2[1] - r1[1] * r2[0];
        return A[0] * m0 - A[1] * m1 + A[2] * m2;
    }
    double det = 0.0;
    double minor[kDim6 * kDim6];
    for (int j = 0; j < n; ++j) {
        // Minor of element (0, j): rows 1..n-1, every column but j, kept at stride 6.
        for (int i = 1; i < n; ++i) {
            int mc = 0;
            for (int c = 0; c < n; ++c) {
                if (c != j) {
                    minor[(i - 1) * kDim6 + mc] = A[i * kDim6 + c];
                    ++mc;
                }
            }
        }
        const double term = A[j] * det_stride6(minor, n - 1);
        det += (j % 2 == 0) ? term : -term;
    }
    return det;
}

// Determinant of the leading n x n block of a storage of the given stride, 1 <= n <= 6.
double det_leading(const double *A, int n, int stride) {
    double m[kDim6 * kDim6];
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < n; ++k) {
            m[i * kDim6 + k] = A[i * stride + k];
        }
    }
    return det_stride6(m, n);
}

// B = A^-1 for an n x n matrix (n <= 6) by LU factorisation with partial pivoting, then
// forward and back substitution for each column of the identity. Reading A completes before B
// is written, so B may alias A.
template <int N>
void lu_inverse(const double *A, double *B) {
    double x[N * N];
    double y[N * N];
    int perm[N];
    std::memcpy(x, A, sizeof x);
    for (int i = 0; i < N * N; ++i) {
        y[i] = 0.0;
    }
    for (int i = 0; i < N; ++i) {
        perm[i] = i;
    }
    for (int j = 0; j < N - 1; ++j) {
        // Largest magnitude in column j at or below the diagonal; the first one wins a tie.
        int jp = j;
        double smax = std::fabs(x[j * N + j]);
        for (int i = j + 1; i < N; ++i) {
            const double s = std::fabs(x[i * N + j]);
            if (s > smax) {
                smax = s;
                jp = i;
            }
        }
        if (x[jp * N + j] != 0.0) {  // a NaN pivot counts as not zero
            if (jp != j) {
                for (int k = 0; k < N; ++k) {
                    const double t = x[j * N + k];
                    x[j * N + k] = x[jp * N + k];
                    x[jp * N + k] = t;
                }
                const int t = perm[j];
                perm[j] = perm[jp];
                perm[jp] = t;
            }
            for (int i = j + 1; i < N; ++i) {
                x[i * N + j] /= x[j * N + j];
            }
        }
        for (int i = j + 1; i < N; ++i) {
            const double l = x[i * N + j];
            for (int k = j + 1; k < N; ++k) {
                x[i * N + k] -= l * x[j * N + k];
            }
        }
    }
    // P A = L U, so A X = I becomes L U X = P: row k of P has its 1 in column perm[k].
    for (int k = 0; k < N; ++k) {
        const int c = perm[k];
        y[k * N + c] = 1.0;
        for (int j = k; j < N; ++j) {
            const double yj = y[j * N + c];
            if (yj != 0.0) {
                for (int i = j + 1; i < N; ++i) {
                    y[i * N + c] -= yj * x[i * N + j];
                }
            }
        }
    }
    for (int c = 0; c < N; ++c) {
        for (int j = N - 1; j >= 0; --j) {
            if (y[j * N + c] != 0.0) {
                y[j * N + c] /= x[j * N + j];
                const double yj = y[j * N + c];
                for (int i = 0; i < j; ++i) {
                    y[i * N + c] -= yj * x[i * N + j];
                }
            }
        }
    }
    std::memcpy(B, y, sizeof y);
}

}  // namespace

extern "C" {

int MatrixMul(const double *A, const double *B, double *P) {
    mul_square<4>(A, B, P);
    return 0;
}

int MatrixMul3(const double *A, const double *B, double *P) {
    mul_square<3>(A, B, P);
    return 0;
}

int MatrixMul6(const double *A, const double *B, double *P) {
    mul_square<kDim6>(A, B, P);
    return 0;
}

int MatrixMul6and1(const double *A, const double *x, double *y) {
    double out[kDim6];
    for (int i = 0; i < kDim6; ++i) {
        double s = 0.0;
        for (int j = 0; j < kDim6; ++j) {
            s += A[i * kDim6 + j] * x[j];
        }
        out[i] = s;
    }
    std::memcpy(y, out, sizeof out);
    return 0;
}

int transposeMatrix(const double *A, double *B) {
    double out[kDim6 * kDim6];
    for (int i = 0; i < kDim6; ++i) {
        for (int k = 0; k < kDim6; ++k) {
            out[k * kDim6 + i] = A[i * kDim6 + k];
        }
    }
    std::memcpy(B, out, sizeof out);
    return 0;
}

int crossProduct(const double *a, const double *b, double *c) {
    const double c0 = a[1] * b[2] - a[2] * b[1];
    const double c1 = a[2] * b[0] - a[0] * b[2];
    const double c2 = a[0] * b[1] - a[1] * b[0];
    c[0] = c0;
    c[1] = c1;
    c[2] = c2;
    return 0;
}

int MatrixAddDimen(int32_t r, int32_t c, const double *A, const double *B, double *S) {
    for (int32_t i = 0; i < r; ++i) {
        for (int32_t k = 0; k < c; ++k) {
            S[idx(i, c, k)] = A[idx(i, c, k)] + B[idx(i, c, k)];
        }
    }
    return 0;
}

int MatrixSubDimen(int32_t r, int32_t c, const double *A, const double *B, double *S) {
    for (int32_t i = 0; i < r; ++i) {
        for (int32_t k = 0; k < c; ++k) {
            S[idx(i, c, k)] = A[idx(i, c, k)] - B[idx(i, c, k)];
        }
    }
    return 0;
}

int MatrixMulDimen(int32_t r, int32_t n, int32_t c, const double *A, const double *B, double *P) {
    if (n < 1) {
        return 0;
    }
    for (int32_t i = 0; i < r; ++i) {
        for (int32_t k = 0; k < c; ++k) {
            double s = 0.0;
            for (int32_t j = 0; j < n; ++j) {
                s += A[idx(i, n, j)] * B[idx(j, c, k)];
            }
            P[idx(i, c, k)] = s;
        }
    }
    return 0;
}

int MatrixMulDimenSingle(int32_t r, int32_t n, int32_t k, const double *A, const double *x,
                         double *y) {
    // Repeating the computation k times gives the same y; one pass suffices for any k >= 1.
    if (k < 1 || n < 1) {
        return 0;
    }
    for (int32_t i = 0; i < r; ++i) {
        double s = 0.0;
        for (int32_t j = 0; j < n; ++j) {
            s += A[idx(i, n, j)] * x[j];
        }
        y[i] = s;
    }
    return 0;
}

int transposeMatrixDimen(int32_t r, int32_t c, const double *A, double *B) {
    for (int32_t i = 0; i < r; ++i) {
        for (int32_t k = 0; k < c; ++k) {
            B[idx(k, r, i)] = A[idx(i, c, k)];
        }
    }
    return 0;
}

double determinant(const double *A, int32_t n) {
    if (n < 1 || n > kMaxDeterminantOrder) {
        return 0.0;
    }
    return det_stride6(A, static_cast<int>(n));
}

double determinantDimen(int32_t n, const double *A) {
    if (n < 1 || n > kMaxDeterminantOrder) {
        return 0.0;
    }
    return det_leading(A, static_cast<int>(n), static_cast<int>(n));
}

double determinantDimen4(int32_t n, const double *A) {
    if (n < 1 || n > 4) {
        return 0.0;
    }
    return det_leading(A, static_cast<int>(n), 4);
}

int inverseJacobi(const double *A, double *B) {
    constexpr int kCols = 2 * kDim6;
    double m[kDim6 * kCols];
    for (int i = 0; i < kDim6; ++i) {
        for (int k = 0; k < kDim6; ++k) {
            m[i * kCols + k] = A[i * kDim6 + k];
            m[i * kCols + kDim6 + k] = (i == k) ? 1.0 : 0.0;
        }
    }
    for (int p = 0; p < kDim6; ++p) {
        const double pivot = m[p * kCols + p];
        for (int k = 0; k < kCols; ++k) {
            m[p * kCols + k] /= pivot;
        }
        for (int i = 0; i < kDim6; ++i) {
            if (i == p) {
                continue;
            }
            const double f = m[i * kCols + p];
            for (int k = 0; k < kCols; ++k) {
                m[i * kCols + k] -= f * m[p * kCols + k];
            }
        }
    }
    for (int i = 0; i < kDim6; ++i) {
        for (int k = 0; k < kDim6; ++k) {
            B[i * kDim6 + k] = m[i * kCols + kDim6 + k];
        }
    }
    return 0;
}

int invNxN(const double *A, double *B) {
    lu_inverse<kDim6>(A, B);
    return 0;
}

int inv(const double *A, double *B) { return invNxN(A, B); }

int invMatrix(const float *A, float *B) {
    double a[16];
    double b[16];
    for (int i = 0; i < 16; ++i) {
        a[i] = static_cast<double>(A[i]);
    }
    lu_inverse<4>(a, b);
    for (int i = 0; i < 16; ++i) {
        B[i] = kxmc::narrow_to_float(b[i]);
    }
    return 0;
}

int inverseMatrix4(const float *A, float *B) {
    float a[16];
    float b[16];
    std::memcpy(a, A, sizeof a);
    invMatrix(a, b);
    std::memcpy(B, b, sizeof b);
    return 0;
}

int inverseMatrix2(const double *A, double *B) {
    const double det = A[3] * A[0] - A[1] * A[2];
    if (det == 0.0) {
        Write_Log(4, "Matrix is not invertible.\n");
        return -1;
    }
    const double b0 = A[3] / det;
    const double b1 = -A[1] / det;
    const double b2 = -A[2] / det;
    const double b3 = A[0] / det;
    B[0] = b0;
    B[1] = b1;
    B[2] = b2;
    B[3] = b3;
    return 0;
}

int quattorpy(Trsf a, Trsf b, double *out) {
    Trsf a_inv;
    Trsf rel;
    invertTrsf(&a_inv, &a);
    multTrsf(&rel, &a_inv, &b);
    Qtrn q;
    Qtrn qu;
    trsfToQtrn(&q, &rel);
    unitQtrn(&qu, &q);
    double w = qu.q[0];
    double v[3] = {qu.q[1], qu.q[2], qu.q[3]};
    // q and -q are the same rotation; the short way round has w >= 0. Rounding may leave |w|
    // a hair above 1, where acos is undefined: clamp.
    if (w < 0.0) {
        w = -w;
        v[0] = -v[0];
        v[1] = -v[1];
        v[2] = -v[2];
    }
    if (w > 1.0) {
        w = 1.0;
    }
    const double theta = std::acos(w);  // half the rotation angle [rad]
    const double s = std::sin(theta);
    if (theta == 0.0 || s == 0.0 || !std::isfinite(theta)) {
        out[0] = 0.0;
        out[1] = 0.0;
        out[2] = 0.0;
        return 0;
    }
    // Spherical interpolation from the identity toward q by 0.1: vector part
    // v sin(0.1 theta) / sin(theta); out is twice it.
    const double f = 2.0 * std::sin(0.1 * theta) / s;
    out[0] = v[0] * f;
    out[1] = v[1] * f;
    out[2] = v[2] * f;
    return 0;
}

}  // extern "C"
