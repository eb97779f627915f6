// Nine-point payload identification from joint torques.
//
// At each of nine poses the flange wrench that holds the filtered joint torques is recorded,
// once without and once with the payload. The difference is the payload's weight acting at its
// centre of mass; over poses of different orientation it determines the mass and the centre:
// in the flange frame, with u the upward vertical, the payload loads the flange with
// F = -W u and M = c x F (W = m g). The result is the least-squares solution over all nine
// points.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_dynamics_model.h"
#include "kxmc/kxmc_numerics.h"
#include "kxmc/kxmc_payload.h"
#include "numerics/model_bands.hpp"
#include "payload/payload_common.hpp"

SimplyLoadIdentify simply_loadidentify;

namespace {

constexpr int kPoints = KXMC_LOAD_IDENTIFY_POINTS;
constexpr double kGravity = 9.81;  // [m/s^2]
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kDegenerateDet = 1e-6;
// Below this weight [N] (about 10 g) the centre of mass is not defined and reported as 0.
constexpr double kMinWeight = 0.1;

constexpr uint32_t kWithoutPayload = 0;
constexpr uint32_t kWithPayload = 1;

// Standard Denavit-Hartenberg chain of the arm, twists 90, 0, 0, 90, -90, 0 degrees,
// a = (0, a2, a3, 0, 0, 0), d = (d1, 0, 0, d4, d5, d6).
struct ChainLengths {
    double d1, a2, a3, d4, d5, d6;  // [m]
};

constexpr ChainLengths kChain3kg = {0.14, -0.28, -0.24, 0.102, 0.102, 0.1};
constexpr ChainLengths kChain5kg = {0.152, -0.425, -0.395, 0.102, 0.102, 0.1};
constexpr ChainLengths kChain10kg = {0.18, -0.7, -0.586, 0.159, 0.114, 0.106};

// Lengths of each arm's chain; codes of no row take the 5-kg arm. Codes 303-400 are built as
// 302, the PX arm (902) as the 10-kg arm, and 703, 901, 903 as the 3-kg arm. Where an arm
// differs from its row only in d1 or d4 (201, 902, 903) the wrench of a weight comes out the
// same: d1 and d4 shift the flange along the axis of joint 1 and along the parallel axes of
// joints 2 to 4, which changes only the lever of a force about joint 1's vertical axis, and a
// weight has no moment about a vertical axis.
constexpr kxmc::Band<ChainLengths> kChains[] = {
    {1, 100, kChain3kg},
    {201, 300, kChain10kg},
    {301, 301, {0.18, -0.52, -0.4, 0.195, 0.114, 0.106}},
    {302, 400, {0.18, -0.52, -0.4, 0.159, 0.114, 0.106}},
    {401, 500, {0.215, -1.0, -0.716, 0.166, 0.138, 0.12}},
    {703, 703, kChain3kg},
    {901, 901, kChain3kg},
    {902, 902, kChain10kg},
    {903, 903, kChain3kg},
    {1001, 1100, {0.215, -0.7, -0.536, 0.166, 0.138, 0.12}},
};

constexpr double kTwist[KXMC_JOINTS] = {kPi / 2, 0.0, 0.0, kPi / 2, -kPi / 2, 0.0};

// Flange wrench [N, N m; base frame, about the flange origin] that the joint torques tau hold
// at joints q [deg]: tau = J^T w.
void holding_wrench(const double q_deg[6], const double tau[6], double w[6]) noexcept {
    const ChainLengths &l = kxmc::lookup_band(kChains, mcb.robotModelCode, kChain5kg);
    const double a[KXMC_JOINTS] = {0.0, l.a2, l.a3, 0.0, 0.0, 0.0};
    const double d[KXMC_JOINTS] = {l.d1, 0.0, 0.0, l.d4, l.d5, l.d6};
    double q[KXMC_JOINTS];
    for (int i = 0; i < KXMC_JOINTS; ++i) {
        q[i] = q_deg[i] * kDegToRad;
    }
    double J[36];
    double Jt[36];
    double Jt_inv[36];
    Jacobian_com(kTwist, a, d, q, J);
    transposeMatrixDimen(6, 6, J, Jt);
    // Row-exchanging inverse: a regular J^T may have a zero on its diagonal (the flange above
    // the base axis), which elimination without exchange cannot pass.
    invNxN(Jt, Jt_inv);
    MatrixMulDimenSingle(6, 6, 1, Jt_inv, tau, w);
}

// Regressor of the payload's load on the flange for the parameters (W, W cx, W cy, W cz), rows
// Fx, Fy, Fz, Mx, My, Mz, with u the upward vertical in the flange frame.
void regressor(const double u[3], double A[6][4]) noexcept {
    const double rows[6][4] = {
        {-u[0], 0.0, 0.0, 0.0},  {-u[1], 0.0, 0.0, 0.0},  {-u[2], 0.0, 0.0, 0.0},
        {0.0, 0.0, -u[2], u[1]}, {0.0, u[2], 0.0, -u[0]}, {0.0, -u[1], u[0], 0.0},
    };
    std::memcpy(A, rows, sizeof rows);
}

}  // namespace

extern "C" {

int32_t kxmcSetCurrentLoadIdentifyFlag(uint32_t mode) {
    simply_loadidentify.mode = mode;
    return 0;
}

int32_t kxmcSaveLoadIdentifyPoint(uint32_t point) {
    if (point < 1 || point > kPoints) {
        return -1;
    }
    const int slot = static_cast<int>(point) - 1;
    double w[6];
    holding_wrench(joint_angle_load, torque, w);

    const uint32_t mode = simply_loadidentify.mode & 0xFFu;
    if (mode == kWithoutPayload) {
        for (int k = 0; k < 6; ++k) {
            simply_loadidentify.noLoadWrench[slot][k] = static_cast<float>(w[k]);
        }
        static_assert(sizeof(Trsf) == sizeof simply_loadidentify.pose[0], "pose is a transform");
        std::memcpy(simply_loadidentify.pose[slot], &mpb.flangePose, sizeof(Trsf));
    } else if (mode == kWithPayload) {
        for (int k = 0; k < 6; ++k) {
            simply_loadidentify.loadWrench[slot][k] = static_cast<float>(w[k]);
        }
    }
    return 0;
}

int32_t kxmcComEndLoadMain(double *mass, double coord[3]) {
    if (mass == nullptr || coord == nullptr) {
        return -1;
    }
    SimplyLoadIdentify &rec = simply_loadidentify;
    double N[16] = {};
    double rhs[4] = {};
    for (int p = 0; p < kPoints; ++p) {
        const double *R = rec.pose[p];  // flange rotation in the base frame, row-major
        // The payload's load on the flange is the opposite of the wrench the arm adds to hold
        // it; both are turned from the base into the flange frame (R^T).
        double dw_base[6];
        for (int k = 0; k < 6; ++k) {
            dw_base[k] = static_cast<double>(rec.loadWrench[p][k]) -
                         static_cast<double>(rec.noLoadWrench[p][k]);
        }
        double load[6];
        for (int i = 0; i < 3; ++i) {
            load[i] = -(R[i] * dw_base[0] + R[3 + i] * dw_base[1] + R[6 + i] * dw_base[2]);
            load[3 + i] = -(R[i] * dw_base[3] + R[3 + i] * dw_base[4] + R[6 + i] * dw_base[5]);
        }
        const double up[3] = {R[6], R[7], R[8]};  // third row: the base z axis in the flange
        double A[6][4];
        regressor(up, A);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                for (int k = 0; k < 6; ++k) {
                    N[r * 4 + c] += A[k][r] * A[k][c];
                }
            }
            for (int k = 0; k < 6; ++k) {
                rhs[r] += A[k][r] * load[k];
            }
        }
    }
    // Each result stands on its own nine points: the sums of an earlier run are replaced.
    std::memcpy(rec.normalMatrix, N, sizeof N);
    std::memcpy(rec.rightHandSide, rhs, sizeof rhs);

    const double det = determinantDimen4(4, N);
    double theta[4];
    if (!(std::fabs(det) >= kDegenerateDet) || !kxmc::solve_linear<4>(N, rhs, theta)) {
        Write_Log(4, "detValue: = %f", det);
        Write_Log(4, "POS: error = %f,%f,%f", N[6], N[7], N[8]);
        for (int r = 0; r < 4; ++r) {
            Write_Log(4, "loadIdentify: leftsum = %f,%f,%f,%f", N[r * 4], N[r * 4 + 1],
                      N[r * 4 + 2], N[r * 4 + 3]);
        }
        return -1;
    }
    const double weight = theta[0];  // [N]
    *mass = weight / kGravity;
    for (int i = 0; i < 3; ++i) {
        coord[i] = weight > kMinWeight ? 1000.0 * theta[1 + i] / weight : 0.0;  // [mm]
    }
    return 0;
}

}  // extern "C"
