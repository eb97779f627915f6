// Geometric Jacobian of the six-joint arm from classic Denavit-Hartenberg parameters, its
// single-precision variant for the custom TCP check, and joint velocities from a flange
// velocity.
//
// Column i of the base-frame Jacobian is [z_{i-1} x (p_6 - p_{i-1}); z_{i-1}], z and p the axis
// and origin of joint frame i-1: rows 0-2 linear velocity of the flange origin, rows 3-5
// angular velocity.
#include <cmath>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/model_bands.hpp"

namespace {

constexpr int kJoints = 6;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;

// Rigid transform: rotation row-major and position.
struct Frame {
    double r[9];
    double p[3];
};

Frame dh_link(double alpha, double a, double d, double theta) {
    const double ct = std::cos(theta);
    const double st = std::sin(theta);
    const double ca = std::cos(alpha);
    const double sa = std::sin(alpha);
    return Frame{{ct, -st * ca, st * sa, st, ct * ca, -ct * sa, 0.0, sa, ca},
                 {a * ct, a * st, d}};
}

Frame compose(const Frame &x, const Frame &y) {
    Frame out;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            out.r[i * 3 + k] =
                x.r[i * 3] * y.r[k] + x.r[i * 3 + 1] * y.r[3 + k] + x.r[i * 3 + 2] * y.r[6 + k];
        }
        out.p[i] = x.r[i * 3] * y.p[0] + x.r[i * 3 + 1] * y.p[1] + x.r[i * 3 + 2] * y.p[2] +
                   x.p[i];
    }
    return out;
}

// DH lengths of the standard chain per model-code band [mm]: d1, a2, a3, d4, d5, d6.
struct ChainLengths {
    double d1, a2, a3, d4, d5, d6;
};

constexpr ChainLengths kDefaultChain = {152.0, -425.0, -395.0, 102.0, 102.0, 100.0};

constexpr kxmc::Band<ChainLengths> kChainTable[] = {
    {1, 100, {140.0, -280.0, -240.0, 102.0, 102.0, 100.0}},    // 3-kg arm
    {101, 200, {152.0, -425.0, -395.0, 102.0, 102.0, 100.0}},  // 5-kg arm
    {201, 300, {180.0, -700.0, -586.0, 159.0, 114.0, 106.0}},  // 10-kg arm
    {301, 400, {180.0, -520.0, -400.0, 159.0, 114.0, 106.0}},  // 16-kg arm
    {401, 500, {215.0, -1000.0, -716.0, 166.0, 138.0, 120.0}}, // fifth family
};

// Twists of the standard chain [rad].
constexpr double kStandardAlpha[kJoints] = {kPi / 2, 0.0, 0.0, kPi / 2, -kPi / 2, 0.0};

}  // namespace

extern "C" {

int Jacobian_com(const double *alpha, const double *a, const double *d, const double *q,
                 double *J) {
    Frame link[kJoints];
    for (int i = 0; i < kJoints; ++i) {
        link[i] = dh_link(alpha[i], a[i], d[i], q[i]);
    }
    // tail[i] = A_{i+1} ... A_6: pose of the flange in joint frame i, built right to left;
    // tail[0] is the flange in the base frame.
    Frame tail[kJoints + 1];
    tail[kJoints] = Frame{{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}};
    for (int i = kJoints - 1; i >= 0; --i) {
        tail[i] = compose(link[i], tail[i + 1]);
    }
    // Column i in flange coordinates: with (R, p) = tail[i], frame i's axis seen from the
    // flange is z = R^T e_z and the flange origin relative to frame i's origin is R^T p, so
    // the linear part is z x R^T p = R^T (e_z x p) and the angular part R^T e_z.
    double jf[6][kJoints];
    for (int i = 0; i < kJoints; ++i) {
        const Frame &t = tail[i];
        const double ez[3] = {0.0, 0.0, 1.0};
        double zcp[3];
        crossProduct(ez, t.p, zcp);
        for (int row = 0; row < 3; ++row) {
            jf[row][i] = t.r[row] * zcp[0] + t.r[3 + row] * zcp[1] + t.r[6 + row] * zcp[2];
            jf[3 + row][i] = t.r[6 + row];
        }
    }
    // Into the base frame: J = blockdiag(R06, R06) J_flange.
    const double *R = tail[0].r;
    for (int row = 0; row < 3; ++row) {
        for (int i = 0; i < kJoints; ++i) {
            J[row * kJoints + i] =
                R[row * 3] * jf[0][i] + R[row * 3 + 1] * jf[1][i] + R[row * 3 + 2] * jf[2][i];
            J[(3 + row) * kJoints + i] =
                R[row * 3] * jf[3][i] + R[row * 3 + 1] * jf[4][i] + R[row * 3 + 2] * jf[5][i];
        }
    }
    return 0;
}

int EndvelToJointvel(double *q, const double *v, double *qdot) {
    const ChainLengths &len = kxmc::lookup_band(kChainTable, mcb.robotModelCode, kDefaultChain);
    const double a[kJoints] = {0.0, len.a2 / 1000.0, len.a3 / 1000.0, 0.0, 0.0, 0.0};  // [m]
    const double d[kJoints] = {len.d1 / 1000.0, 0.0, 0.0, len.d4 / 1000.0, len.d5 / 1000.0,
                               len.d6 / 1000.0};  // [m]
    for (int i = 0; i < kJoints; ++i) {
        q[i] *= kDegToRad;  // the caller's array holds radians from here on
    }
    double J[kJoints * kJoints];
    Jacobian_com(kStandardAlpha, a, d, q, J);
    const double det = determinant(J, kJoints);
    if (det == 0.0 || !std::isfinite(det)) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    // Partial pivoting: the Jacobian of a regular pose can have a zero on the diagonal, which
    // elimination in row order cannot pass.
    double Jinv[kJoints * kJoints];
    invNxN(J, Jinv);
    MatrixMul6and1(Jinv, v, qdot);
    return 0;
}

int velocityJacob(const float *dh, const float *q, float *J) {
    // Standard chain in metres; a2 and a3 enter as -|a|.
    const float d[kJoints] = {dh[0] / 1000.0f, 0.0f, 0.0f, dh[3] / 1000.0f, dh[4] / 1000.0f,
                              dh[5] / 1000.0f};
    const float a[kJoints] = {0.0f, -std::fabs(dh[1]) / 1000.0f, -std::fabs(dh[2]) / 1000.0f,
                              0.0f, 0.0f, 0.0f};
    const float ca[kJoints] = {0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f};
    const float sa[kJoints] = {1.0f, 0.0f, 0.0f, 1.0f, -1.0f, 0.0f};
    // Forward accumulation from the base: z[i], p[i] axis and origin of frame i.
    float R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float p[3] = {0.0f, 0.0f, 0.0f};
    float z[kJoints + 1][3];
    float o[kJoints + 1][3];
    z[0][0] = 0.0f;
    z[0][1] = 0.0f;
    z[0][2] = 1.0f;
    o[0][0] = o[0][1] = o[0][2] = 0.0f;
    for (int i = 0; i < kJoints; ++i) {
        const float ct = std::cos(q[i]);
        const float st = std::sin(q[i]);
        const float A[9] = {ct, -st * ca[i], st * sa[i], st, ct * ca[i], -ct * sa[i],
                            0.0f, sa[i], ca[i]};
        const float t[3] = {a[i] * ct, a[i] * st, d[i]};
        float Rn[9];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                Rn[r * 3 + c] = R[r * 3] * A[c] + R[r * 3 + 1] * A[3 + c] + R[r * 3 + 2] * A[6 + c];
            }
            p[r] += R[r * 3] * t[0] + R[r * 3 + 1] * t[1] + R[r * 3 + 2] * t[2];
        }
        for (int k = 0; k < 9; ++k) {
            R[k] = Rn[k];
        }
        for (int r = 0; r < 3; ++r) {
            z[i + 1][r] = R[r * 3 + 2];
            o[i + 1][r] = p[r];
        }
    }
    for (int i = 0; i < kJoints; ++i) {
        const float dp[3] = {o[kJoints][0] - o[i][0], o[kJoints][1] - o[i][1],
                             o[kJoints][2] - o[i][2]};
        J[0 * kJoints + i] = z[i][1] * dp[2] - z[i][2] * dp[1];
        J[1 * kJoints + i] = z[i][2] * dp[0] - z[i][0] * dp[2];
        J[2 * kJoints + i] = z[i][0] * dp[1] - z[i][1] * dp[0];
        J[3 * kJoints + i] = z[i][0];
        J[4 * kJoints + i] = z[i][1];
        J[5 * kJoints + i] = z[i][2];
    }
    return 0;
}

}  // extern "C"
