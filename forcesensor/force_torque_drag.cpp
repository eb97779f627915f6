// Force-and-torque hand guiding: the operator's push, measured by the wrist sensor, becomes
// the joint torques that would balance it (tau = J^T w with w at the flange in base axes), to
// which the torque-controlled drag adds its feed-forward.
#include <cmath>
#include <cstring>

#include "dynamics/user_config.hpp"
#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_force_torque_drag.h"
#include "kxmc/kxmc_numerics.h"
#include "numerics/filter_records.hpp"
#include "numerics/model_bands.hpp"

namespace kxmc {
namespace sensor {
namespace {

constexpr char kTestSection[] = "TEST_PARAM";
constexpr const char *kLambdaKeys[kAxes] = {"LAMDAGAIN1", "LAMDAGAIN2", "LAMDAGAIN3",
                                            "LAMDAGAIN4", "LAMDAGAIN5", "LAMDAGAIN6"};
constexpr const char *kKKeys[kAxes] = {"KGAIN1", "KGAIN2", "KGAIN3", "KGAIN4", "KGAIN5", "KGAIN6"};
constexpr const char *kBKeys[kAxes] = {"BGAIN1", "BGAIN2", "BGAIN3", "BGAIN4", "BGAIN5", "BGAIN6"};
constexpr double kMaxLambda = 5.0;
constexpr double kMaxB = 1.0;

constexpr double kForceDeadBand = 1.0;             // [N]
constexpr double kMomentDeadBandSquared = 0.0025;  // [N^2 m^2] (0.05 N m)
constexpr double kPerCycleToPerSecond = 1000.0;

// Standard chain of the arm (twists 90, 0, 0, 90, -90, 0 deg; lengths in mm).
struct ChainLengths {
    double d1, a2, a3, d4, d5, d6;
};
constexpr ChainLengths kChain5kg = {152, -425, -395, 102, 102, 100};
constexpr kxmc::Band<ChainLengths> kChains[] = {
    {1, 100, {140, -280, -240, 102, 102, 100}},    {101, 200, kChain5kg},
    {201, 300, {180, -700, -586, 159, 114, 106}},  {301, 400, {180, -520, -400, 159, 114, 106}},
    {401, 500, {215, -1000, -716, 166, 138, 120}}, {1001, 1100, {215, -700, -536, 166, 138, 120}},
};
constexpr double kTwist[kAxes] = {kPi / 2, 0.0, 0.0, kPi / 2, -kPi / 2, 0.0};

// Second-order low-pass of the joint torques (cut-off about 0.4 Hz at 1 kHz, unit gain at rest).
constexpr double kB0 = 1.57633448805864e-6;
constexpr double kB1 = 3.15266897611727e-6;
constexpr double kA1 = -1.99644569738134;
constexpr double kA2 = 0.996452002719291;
constexpr int kYRow = kxmc::detail::kFilterYRow;
constexpr int kRows = kxmc::detail::kFilterRows;

// History of the torque low-pass: inputs rows 0-5, outputs rows 6-11.
FilterHistory filt6;

bool all_at_least_zero(const double *v) noexcept {
    for (int i = 0; i < kAxes; ++i) {
        if (!(v[i] >= 0.0)) {
            return false;
        }
    }
    return true;
}

void persist(const char *key, double value) noexcept {
    kxmc::detail::persist_user_key(kTestSection, key, value);
}

// Applies the dead bands to the compensated wrench in place; a component that is not a number
// reads as zero.
void dead_bands(double *w) noexcept {
    for (int i = 0; i < kAxes; ++i) {
        if (!std::isfinite(w[i])) {
            w[i] = 0.0;
        }
    }
    const double f2 = w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
    if (std::sqrt(f2) <= kForceDeadBand) {
        w[0] = w[1] = w[2] = 0.0;
    }
    if (w[3] * w[3] + w[4] * w[4] + w[5] * w[5] <= kMomentDeadBandSquared) {
        w[3] = w[4] = w[5] = 0.0;
    }
}

// Wrench of the sensor (sensor frame, about its origin) at the flange origin in base axes.
void wrench_at_flange_in_base(const double *w, double out[kAxes]) noexcept {
    const Trsf mounting = sensor_mounting();
    double f[3], m[3], lever[3];
    rotate(mounting.rot, w, f);
    rotate(mounting.rot, w + 3, m);
    const double p[3] = {mounting.pos.v[0] * kMmToM, mounting.pos.v[1] * kMmToM,
                         mounting.pos.v[2] * kMmToM};
    cross(p, f, lever);
    for (int i = 0; i < 3; ++i) {
        m[i] += lever[i];
    }
    rotate(mpb.flangePose.rot, f, out);
    rotate(mpb.flangePose.rot, m, out + 3);
}

void filter_torques(const double in[kAxes], double out[kAxes]) noexcept {
    if (filt6.row > kRows - 1 || filt6.row < 0) {
        kxmc::detail::shift_filter_rows(filt6.history);
        kxmc::detail::shift_filter_rows(filt6.history + kYRow);
        filt6.row = kRows - 1;
    }
    const int k = filt6.row;
    for (int j = 0; j < kAxes; ++j) {
        filt6.history[k][j] = in[j];
        double y = 0.0;
        TwoForceAndTorqueDragbuttord(j, k, &y);
        filt6.history[kYRow + k][j] = y;
        out[j] = y;
    }
    filt6.row = k + 1;
    ++filt6.samples;
}

}  // namespace
}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t kxmcForceAndTorqueDragStartStop(int32_t on, int32_t impedanceSign, const double lambda[6],
                                        const double K[6], const double B[6], double maxTcpVel,
                                        double maxTcpOriVel) {
    const bool flags_ok = (on == 0 || on == 1) && (impedanceSign == 0 || impedanceSign == 1);
    if (!flags_ok || lambda == nullptr || K == nullptr || B == nullptr ||
        !all_at_least_zero(lambda) || !all_at_least_zero(K) || !all_at_least_zero(B) ||
        !std::isfinite(maxTcpVel) || !std::isfinite(maxTcpOriVel)) {
        mcb.errorCode = KXMC_ERR_ARGUMENT;
        return -1;
    }
    if (mcb.forceSensorAct == 0) {
        return -2;
    }
    mcb.forceTorqueDragOn = on;
    mcb.impedanceSign = impedanceSign;
    mcb.dragMaxTcpVel = maxTcpVel;
    mcb.dragMaxTcpOriVel = maxTcpOriVel;
    for (int j = 0; j < kAxes; ++j) {
        mcb.forceTorqueLambda[j] = std::fmin(lambda[j], kMaxLambda);
        mcb.forceTorqueK[j] = K[j];
        mcb.forceTorqueB[j] = std::fmin(B[j], kMaxB);
    }
    persist("IMPEDANCE_SIGN", impedanceSign);
    for (int j = 0; j < kAxes; ++j) {
        persist(kLambdaKeys[j], mcb.forceTorqueLambda[j]);
    }
    for (int j = 0; j < kAxes; ++j) {
        persist(kKKeys[j], mcb.forceTorqueK[j]);
    }
    for (int j = 0; j < kAxes; ++j) {
        persist(kBKeys[j], mcb.forceTorqueB[j]);
    }
    persist("DRAGMAXTCPVEL", maxTcpVel);
    persist("DRAGMAXTCPORIVEL", maxTcpOriVel);
    return 0;
}

int32_t kxmcGetForceAndTorqueDragState(int32_t *outEndForce, int32_t *outForceTorque) {
    if (outEndForce != nullptr) {
        *outEndForce = mcb.endForceDragOn;
    }
    if (outForceTorque != nullptr) {
        *outForceTorque = mcb.forceTorqueDragOn;
    }
    return 0;
}

int32_t TwoForceAndTorqueDragbuttord(int32_t ch, int32_t k, double *out) {
    if (ch < 0 || ch >= kAxes || k < 0 || k >= kRows || out == nullptr) {
        return -1;
    }
    const FilterHistory &rec = kxmc::sensor::filt6;  // not the numerics record of that name
    const double(*x)[kAxes] = rec.history;
    const double(*y)[kAxes] = rec.history + kYRow;
    double acc = kB0 * x[k][ch];
    if (k >= 1) {
        acc += kB1 * x[k - 1][ch] - kA1 * y[k - 1][ch];
    }
    if (k >= 2) {
        acc += kB0 * x[k - 2][ch] - kA2 * y[k - 2][ch];
    }
    *out = acc;
    return 0;
}

int32_t kxmcForceDataToTorque(const double q[6], double tau[6]) {
    if (q == nullptr || tau == nullptr) {
        return -1;
    }
    const ChainLengths &g = kxmc::lookup_band(kChains, mcb.robotModelCode, kChain5kg);
    const double a[kAxes] = {0.0, g.a2 * kMmToM, g.a3 * kMmToM, 0.0, 0.0, 0.0};
    const double d[kAxes] = {g.d1 * kMmToM, 0.0, 0.0, g.d4 * kMmToM, g.d5 * kMmToM, g.d6 * kMmToM};
    double qr[kAxes];
    for (int j = 0; j < kAxes; ++j) {
        qr[j] = q[j] * (kPi / 180.0);
    }
    double J[36], Jt[36];
    Jacobian_com(kTwist, a, d, qr, J);
    transposeMatrix(J, Jt);

    dead_bands(mcb.forceSensorCompWrench);
    double w[kAxes];
    wrench_at_flange_in_base(mcb.forceSensorCompWrench, w);
    double t[kAxes];
    MatrixMul6and1(Jt, w, t);
    if (mcb.impedanceSign == 1) {
        for (int j = 0; j < kAxes; ++j) {
            t[j] -= kPerCycleToPerSecond * mpb.actualJointVel[j] * mcb.forceTorqueB[j];
        }
    }
    // A joint value that is not a number (a host-poisoned angle, speed or gain) would stay in
    // the filter's history for good: it enters as zero.
    for (double &v : t) {
        if (!std::isfinite(v)) {
            v = 0.0;
        }
    }
    filter_torques(t, tau);
    return 0;
}

}  // extern "C"
