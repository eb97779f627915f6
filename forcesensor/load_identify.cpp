// Identification of the tool on the wrist sensor from three orientations of the flange.
//
// Each recorded pose gives the wrench the tool applies to the sensor (sensor frame) and the
// rotation that turns base vectors into the sensor frame. With the tool's weight W = m g_s:
//   moment  M = r x F + M0          (r the centre of mass, M0 the moment offset)
//   force   F = P g + F0            (P the base-to-sensor rotation, g = m g_base, F0 the offset)
// Both are linear in their unknowns and solved by least squares through the normal equations.
// The moment fit uses the measured force (weight plus offset), so the moment offset about the
// sensor origin is M0 + r x F0.
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "dynamics/installation_gravity.hpp"
#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "kxmc/kxmc_sensor_load_identify.h"

namespace kxmc {
namespace sensor {
namespace {

constexpr int kPoses = 3;
constexpr int kUnknowns = 6;
constexpr double kDegenerate = 1e-6;   // |det| of a normal matrix at or below: no solution
constexpr double kNoLoadForce = 1.0;   // [N]
constexpr double kNoLoadMoment = 0.1;  // [N m]
constexpr double kMToMm = 1000.0;
constexpr useconds_t kSettleTime = 10000;  // [us] a few sensor cycles after the host's move

// Recorded wrench of each pose and its base-to-sensor rotation.
double ThreePointData[kPoses][kAxes];
double POS1[9];
double POS2[9];
double POS3[9];
double *const kPoseRotations[kPoses] = {POS1, POS2, POS3};
uint8_t recordedPoses = 0;  // bit n-1: pose n recorded

bool felt_no_load(const double w[kAxes]) noexcept {
    for (int i = 0; i < 3; ++i) {
        if (!(w[i] > -kNoLoadForce && w[i] < kNoLoadForce) ||
            !(w[i + 3] > -kNoLoadMoment && w[i + 3] < kNoLoadMoment)) {
            return false;
        }
    }
    return true;
}

bool degenerate(double det) noexcept { return !(std::fabs(det) >= kDegenerate); }

// Row r (0..2) of the matrix that maps the centre r onto the moment r x f, followed by the
// identity of the moment offset: a 3 x 6 block, row-major.
void moment_rows(const double *f, double a[3 * kUnknowns]) noexcept {
    const double rows[3][kUnknowns] = {{0.0, f[2], -f[1], 1.0, 0.0, 0.0},
                                       {-f[2], 0.0, f[0], 0.0, 1.0, 0.0},
                                       {f[1], -f[0], 0.0, 0.0, 0.0, 1.0}};
    std::memcpy(a, rows, sizeof rows);
}

// [P | I]: the base-to-sensor rotation of the pose, then the identity of the force offset.
void force_rows(const double *p, double b[3 * kUnknowns]) noexcept {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            b[r * kUnknowns + c] = p[r * 3 + c];
            b[r * kUnknowns + 3 + c] = r == c ? 1.0 : 0.0;
        }
    }
}

// Adds A^T A to n and A^T y to v for a 3 x 6 block A and a 3-vector y.
void accumulate_normal(const double a[3 * kUnknowns], const double *y,
                       double n[kUnknowns * kUnknowns], double v[kUnknowns]) noexcept {
    double at[kUnknowns * 3];
    double ata[kUnknowns * kUnknowns];
    double aty[kUnknowns];
    transposeMatrixDimen(3, kUnknowns, a, at);
    MatrixMulDimen(kUnknowns, 3, kUnknowns, at, a, ata);
    MatrixAddDimen(kUnknowns, kUnknowns, n, ata, n);
    MatrixMulDimenSingle(kUnknowns, 3, 1, at, y, aty);
    MatrixAddDimen(kUnknowns, 1, v, aty, v);
}

// Solves n x = v unless n is degenerate; then logs the determinant with the given header and
// the three recorded wrenches with the given row formats, and returns false.
bool solve_or_log(const double n[kUnknowns * kUnknowns], const double v[kUnknowns],
                  const char *header, const char *const rows[kPoses],
                  double x[kUnknowns]) noexcept {
    const double det = determinant(n, kUnknowns);
    if (degenerate(det)) {
        Write_Log(4, header, det);
        for (int i = 0; i < kPoses; ++i) {
            const double *w = ThreePointData[i];
            Write_Log(4, rows[i], w[0], w[1], w[2], w[3], w[4], w[5]);
        }
        return false;
    }
    double inverse[kUnknowns * kUnknowns];
    inverseJacobi(n, inverse);
    MatrixMulDimenSingle(kUnknowns, kUnknowns, 1, inverse, v, x);
    for (int i = 0; i < kUnknowns; ++i) {
        if (!std::isfinite(x[i])) {
            return false;
        }
    }
    return true;
}

constexpr const char *kStage1Rows[kPoses] = {"ThreePointData11: data1 error = %f,%f,%f,%f,%f,%f",
                                             "ThreePointData12: data2 error = %f,%f,%f,%f,%f,%f",
                                             "ThreePointData13: data3 error = %f,%f,%f,%f,%f,%f"};
constexpr const char *kStage2Rows[kPoses] = {"ThreePointData21: data error = %f,%f,%f,%f,%f,%f",
                                             "ThreePointData22: data error = %f,%f,%f,%f,%f,%f",
                                             "ThreePointData23: data error = %f,%f,%f,%f,%f,%f"};
constexpr const char *kHostRows[kPoses] = {"threePoint1: data error = %f,%f,%f,%f,%f,%f",
                                           "threePoint2: data error = %f,%f,%f,%f,%f,%f",
                                           "threePoint3: data error = %f,%f,%f,%f,%f,%f"};

}  // namespace
}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t kxmcSaveSensorDataFlag(int32_t n) {
    if (n < 1 || n > kPoses) {
        return -3;
    }
    // The compensation has already taken the residual offsets off; they are put back so every
    // pose reads the sensor as it is without them (no load is configured, so nothing else was
    // taken off but the zero).
    double w[kAxes];
    for (int i = 0; i < kAxes; ++i) {
        w[i] = mcb.forceSensorCompWrench[i] + mcb.forceSensorZeroOffset[i];
    }
    if (n == 1 && felt_no_load(w)) {
        return -1;
    }
    if (tool_load_configured()) {
        return -2;
    }
    std::memset(mcb.forceSensorZeroOffset, 0, sizeof mcb.forceSensorZeroOffset);
    std::memcpy(ThreePointData[n - 1], w, sizeof w);

    Rotrsf sensor_in_base;
    const Trsf mounting = sensor_mounting();
    multRotrsf(&sensor_in_base, &mpb.flangePose.rot, &mounting.rot);
    Rotrsf base_to_sensor;
    invRotrsf(&base_to_sensor, &sensor_in_base);
    std::memcpy(kPoseRotations[n - 1], base_to_sensor.r, sizeof base_to_sensor.r);
    recordedPoses = static_cast<uint8_t>(recordedPoses | (1u << (n - 1)));
    return 0;
}

int32_t kxmcSensorComload(double *outWeight, double outCoord[3]) {
    if (outWeight == nullptr || outCoord == nullptr || recordedPoses != (1u << kPoses) - 1) {
        return -1;
    }
    // Centre of mass and moment offset.
    double n[kUnknowns * kUnknowns] = {};
    double v[kUnknowns] = {};
    double block[3 * kUnknowns];
    for (int i = 0; i < kPoses; ++i) {
        moment_rows(ThreePointData[i], block);
        accumulate_normal(block, ThreePointData[i] + 3, n, v);
    }
    double x1[kUnknowns];
    if (!solve_or_log(n, v, "ThreePointDataCalibration1: data error detValue = %f", kStage1Rows,
                      x1)) {
        return -1;
    }
    const double *r = x1;       // [m]
    const double *m0 = x1 + 3;  // [N m]
    for (int k = 0; k < 3; ++k) {
        mpb.forceSensorLoadCoord[k] = kMToMm * r[k];
        outCoord[k] = kMToMm * r[k];
    }

    // Mass (through the gravity vector) and force offset.
    std::memset(n, 0, sizeof n);
    std::memset(v, 0, sizeof v);
    for (int i = 0; i < kPoses; ++i) {
        force_rows(kPoseRotations[i], block);
        accumulate_normal(block, ThreePointData[i], n, v);
    }
    double x2[kUnknowns];
    if (!solve_or_log(n, v, "ThreePointDataCalibration2: data error detValue = %f", kStage2Rows,
                      x2)) {
        return -1;
    }
    const double *g = x2;       // [N] weight in base axes
    const double *f0 = x2 + 3;  // [N]
    const double mass = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]) / kxmc::kGravity;
    mpb.forceSensorLoadWeight = mass;
    *outWeight = mass;

    double lever[3];
    cross(r, f0, lever);
    for (int k = 0; k < 3; ++k) {
        mcb.forceSensorZeroOffset[k] = f0[k];
        mcb.forceSensorZeroOffset[k + 3] = m0[k] + lever[k];
    }
    return 0;
}

int32_t qmcGetForceSensorData_loadIdentify(int32_t frameIndex, double out[6]) {
    if (!workpiece_frame_valid(frameIndex)) {
        return -1;
    }
    if (mcb.forceSensorZeroFlag == 0) {
        return -2;
    }
    if (mcb.forceSensorRefCoord != 0) {
        return -3;
    }
    if (tool_load_configured()) {
        return -4;
    }
    if (out == nullptr) {
        return -1;
    }
    activate_workpiece_frame(frameIndex);
    usleep(kSettleTime);
    std::memcpy(out, mpb.forceSensorWrench, sizeof mpb.forceSensorWrench);
    return 0;
}

int32_t qmcForceSensor_loadCoordIdentify(const double data[18], double out[3]) {
    if (data == nullptr || out == nullptr) {
        return -1;
    }
    // S_i r = r x F_i; A = sum S_i^T S_i, b = sum S_i^T M_i.
    Rotrsf a{};
    Vect b{};
    for (int i = 0; i < kPoses; ++i) {
        const double *f = data + i * kAxes;
        const Rotrsf s = {{0.0, f[2], -f[1], -f[2], 0.0, f[0], f[1], -f[0], 0.0}};
        Rotrsf st;
        Rotrsf sts;
        trsposeRotrsf(&st, &s);
        multRotrsf(&sts, &st, &s);
        addRotrsf(&a, &a, &sts);
        const Vect m = {{f[3], f[4], f[5]}};
        Vect stm;
        multRotrsfVect(&stm, &st, &m);
        addVect(&b, &b, &stm);
    }
    const double det = detRotrsf(&a);
    if (degenerate(det)) {
        Write_Log(4, "threePointCalibration: data error detValue = %f", det);
        for (int i = 0; i < kPoses; ++i) {
            const double *w = data + i * kAxes;
            Write_Log(4, kHostRows[i], w[0], w[1], w[2], w[3], w[4], w[5]);
        }
        return -1;
    }
    Rotrsf inverse;
    invRotrsf(&inverse, &a);
    Vect r;
    multRotrsfVect(&r, &inverse, &b);
    for (int k = 0; k < 3; ++k) {
        out[k] = kMToMm * r.v[k];
    }
    return 0;
}

int32_t qmcForceSensor_loadWeightIdentify(ForceSensorWrench wrench, double *out) {
    if (out == nullptr) {
        return -1;
    }
    *out = std::fabs(wrench.w[2]) / kxmc::kGravity;
    return 0;
}

}  // extern "C"
