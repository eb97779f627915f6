// Singular poses during end-force guiding.
//
// Near a singular pose the inverse kinematics turns a small Cartesian step into large joint
// steps. Two answers are offered:
//  - with mcb.singularityConstraintsFlag: an unsafe pose gets heavy damping on every axis, and
//    once the operator has slowed the tool the arm is handed to the host's joint drag mode,
//    from which it returns when it is moved clear again;
//  - without it: a constrained admittance adds a repulsive wrench along the gradients of the
//    translational and rotational manipulability, and damps the axes moving against it.
// Close to the joint limits of joints 4 and 6 the damping rises as well.
#include <cmath>
#include <cstring>

#include "forcesensor/sensor_state.hpp"
#include "host/kxmc_host.h"
#include "kxmc/kxmc_numerics.h"
#include "kxmc/kxmc_virtual_wall.h"
#include "numerics/model_bands.hpp"

namespace kxmc {
namespace sensor {

double weakB[kAxes] = {0, 0, 0, 0, 0, 0};
uint8_t dragModelflag = 0;
double shoulderSingularDis = 100.0;

namespace {

constexpr double kDegToRad = kPi / 180.0;

// ---- Arm geometry ------------------------------------------------------------------------

// Standard chain (twists 90, 0, 0, 90, -90, 0 deg) of the constrained admittance [mm].
struct ChainLengths {
    double d1, a2, a3, d4, d5, d6;
};
constexpr ChainLengths kChain5kg = {152, -425, -395, 102, 102, 100};
constexpr kxmc::Band<ChainLengths> kChains[] = {
    {1, 100, {152, -280, -240, 102, 102, 100}},  // 3 kg (base height as the 5-kg arm)
    {101, 200, kChain5kg},
    {201, 300, {180, -700, -586, 159, 114, 106}},
    {301, 400, {180, -520, -400, 159, 114, 106}},
    {401, 500, {215, -1000, -716, 166, 138, 120}},
    {1001, 1100, {215, -700, -536, 166, 138, 120}},
};
constexpr double kTwist[6] = {kPi / 2, 0.0, 0.0, kPi / 2, -kPi / 2, 0.0};

// Shoulder metric per family: flange offset d6 [m] and the squared shoulder offset d4^2 [m^2].
struct ShoulderRow {
    double d6;
    double d4Squared;
};
constexpr ShoulderRow kShoulder5kg = {0.1, 0.010404};
constexpr kxmc::Band<ShoulderRow> kShoulderRows[] = {
    {1, 200, kShoulder5kg},
    {201, 400, {0.106, 0.025281}},
    {401, 500, {0.12, 0.027556}},
    {1001, 1100, {0.12, 0.027556}},
};

// ---- Safety bands (joint angles [deg], metric [m^2], speeds [mm/s]) ---------------------

constexpr double kShoulderUnsafe = 0.01;
constexpr double kReleaseSpeed = 20.0;  // the flagged arm is handed over below this TCP speed
constexpr double kHeavyTranslation = 5000.0;  // [N s/m] damping of an unsafe pose
constexpr double kHeavyRotation = 100.0;      // [N m s/rad] rotation axes facing the constraint
constexpr double kLimitRotation = 150.0;      // [N m s/rad] near the joint limits of 4 and 6

// ---- Constraint potential -------------------------------------------------------------

constexpr double kGradientStep = 0.001;  // [m], [rad] Cartesian step of the gradient
constexpr double kPotentialGain = 1500.0;
constexpr double kPotentialScale = 5.0;
constexpr double kRotationLower = 0.1;  // band of the rotational measure
constexpr double kRotationUpper = 0.5;
constexpr double kForceLimit = 100.0;   // [N] per component
constexpr double kMomentLimit = 6.0;    // [N m] per component
constexpr double kSingularDet = 1e-6;
constexpr double kAddForce = 3.0;       // [N^2] a smaller constraint force adds to the push
constexpr double kAddMoment = 0.5;      // [(N m)^2]
constexpr double kActiveForce = 1.0;    // [N] components that damp their axis
constexpr double kActiveMoment = 0.5;   // [N m]

struct TranslationBand {
    double gain;
    double gainNearStretch;  // 5-kg arm with |q3| <= 30 deg: the elbow nearly stretched
    double lower, upper;     // [m^3]
};
constexpr TranslationBand kTranslationDefault = {kPotentialGain, kPotentialGain, 0.005, 0.05};
constexpr kxmc::Band<TranslationBand> kTranslationBands[] = {
    {1, 100, {kPotentialGain, kPotentialGain, 0.0024, 0.01}},
    {101, 200, {kPotentialGain, 2 * kPotentialGain, 0.005, 0.05}},
    {201, 300, {kPotentialGain, kPotentialGain, 0.038, 0.15}},
    {301, 400, {kPotentialGain, kPotentialGain, 0.013, 0.06}},
    {401, 500, {kPotentialGain, kPotentialGain, 0.05, 0.2}},
    {1001, 1100, {kPotentialGain, kPotentialGain, 0.04, 0.16}},
};
constexpr double kStretchedElbow = 30.0;  // [deg]

// Repulsive potential of a measure m in the band (lower, upper]: grows without bound toward
// the lower edge, twice as steep below it, zero above the band.
double potential(double gain, double m, double lower, double upper) noexcept {
    const double shape = 1.0 / (m - lower) - 1.0 / (upper - lower);
    if (m <= lower) {
        return -2.0 * gain * shape;
    }
    return m <= upper ? gain * shape : 0.0;
}

// Limits to +-limit; not a number gives 0.
double limit(double x, double bound) noexcept {
    if (!(x == x)) {
        return 0.0;
    }
    return x > bound ? bound : (x < -bound ? -bound : x);
}

void jacobian(const ChainLengths &g, const double q_rad[6], double J[36]) noexcept {
    const double a[6] = {0, g.a2 * kMmToM, g.a3 * kMmToM, 0, 0, 0};
    const double d[6] = {g.d1 * kMmToM, 0, 0, g.d4 * kMmToM, g.d5 * kMmToM, g.d6 * kMmToM};
    Jacobian_com(kTwist, a, d, q_rad, J);
}

// Manipulability of rows `keep` of J with the motion of the other three rows projected out.
double projected_measure(const double J[36], int keep) noexcept {
    const int other = keep == 0 ? 3 : 0;
    const double *B = J + 6 * keep;   // 3 x 6
    const double *A = J + 6 * other;  // 3 x 6
    double At[18], AAt[9], AAtInv[9];
    transposeMatrixDimen(3, 6, A, At);
    MatrixMulDimen(3, 6, 3, A, At, AAt);
    if (inverseMatrix3(AAt, AAtInv) != 0) {
        return 0.0;
    }
    double AtInv[18], P[36], I[36], IminusP[36], Bp[18], Bpt[18], BBt[9];
    MatrixMulDimen(6, 3, 3, At, AAtInv, AtInv);
    MatrixMulDimen(6, 3, 6, AtInv, A, P);
    std::memset(I, 0, sizeof I);
    for (int i = 0; i < 6; ++i) {
        I[7 * i] = 1.0;
    }
    MatrixSubDimen(6, 6, I, P, IminusP);
    MatrixMulDimen(3, 6, 6, B, IminusP, Bp);
    transposeMatrixDimen(3, 6, Bp, Bpt);
    MatrixMulDimen(3, 6, 3, Bp, Bpt, BBt);
    double d = 0.0;
    det3(BBt, &d);
    return d > 0.0 ? std::sqrt(d) : 0.0;  // rounding may leave a tiny negative Gram determinant
}

constexpr int kTranslationRows = 0;
constexpr int kRotationRows = 3;

bool pose_unsafe(const double q[6], double s) noexcept {
    return std::fabs(q[2]) < 20.0 || std::fabs(q[2]) > 160.0 || std::fabs(q[4]) < 20.0 ||
           std::fabs(q[4]) > 160.0 || q[3] > 70.0 || q[3] < -250.0 ||
           std::fabs(q[5]) > 160.0 || s < kShoulderUnsafe;
}

bool pose_safe_unflagged(const double q[6], double s) noexcept {
    const double q3 = std::fabs(q[2]), q5 = std::fabs(q[4]);
    return q3 >= 30.0 && q3 <= 150.0 && q5 >= 20.0 && q5 <= 160.0 && s >= kShoulderUnsafe;
}

void set_all(double value_translation, double value_rotation) noexcept {
    for (int i = 0; i < kAxes; ++i) {
        weakB[i] = i < 3 ? value_translation : value_rotation;
    }
}

// Joints 4 and 6 running into their limits (the last 10 degrees before 174 / -264).
bool near_joint_limit(const double q[6]) noexcept {
    const double q4 = q[3], q6 = q[5];
    const double v4 = mpb.targetJointVel[3], v6 = mpb.targetJointVel[5];
    return (q6 > 165.0 && q6 < 174.0 && v6 > 0.0) || (q6 > -174.0 && q6 < -165.0 && v6 < 0.0) ||
           (q4 > 70.0 && q4 < 84.0 && v4 > 0.0) || (q4 > -264.0 && q4 < -250.0 && v4 < 0.0);
}

// The constraint wrench comes in flange axes; the admittance runs in the guiding frame.
void flange_to_guiding_frame(double w[kAxes]) noexcept {
    Rotrsf r;
    if (mcb.forceSensorRefCoord == 0) {
        return;
    }
    if (mcb.forceSensorRefCoord == 1) {
        r = mpb.flangePose.rot;
    } else {
        trsposeRotrsf(&r, &mpb.toolTrsf.rot);
    }
    double v[3];
    for (int part = 0; part < 2; ++part) {
        rotate(r, w + 3 * part, v);
        std::memcpy(w + 3 * part, v, sizeof v);
    }
}

}  // namespace

double shoulder_metric() noexcept {
    const ShoulderRow &row = kxmc::lookup_band(kShoulderRows, mcb.robotModelCode, kShoulder5kg);
    const double *r = mpb.flangePose.rot.r;
    // Wrist centre: d6 back from the flange origin along the flange axis (third column).
    const double wx = mpb.flangePose.pos.v[0] * kMmToM - row.d6 * r[2];
    const double wy = mpb.flangePose.pos.v[1] * kMmToM - row.d6 * r[5];
    return wx * wx + wy * wy - row.d4Squared;
}

bool pose_clear_for_guiding(const double q[6], double s) noexcept {
    return std::fabs(q[2]) >= 20.0 && std::fabs(q[4]) >= 20.0 && std::fabs(q[5]) <= 160.0 &&
           s >= kShoulderUnsafe && q[3] >= -250.0 && q[3] <= 70.0;
}

void singularity_guard(double ff[kAxes], const double vel[kAxes]) noexcept {
    const double *q = mpb.targetJointPos;
    double fc[kAxes] = {0, 0, 0, 0, 0, 0};
    if (mcb.singularityConstraintsFlag == 1) {
        if (pose_unsafe(q, shoulderSingularDis)) {
            dragModelflag = 1;
            set_all(kHeavyTranslation, kHeavyTranslation);
        } else if (dragModelflag == 0) {
            set_all(0.0, 0.0);  // the joint-limit damping ends with the limit band
        }
        if (dragModelflag == 1 && std::fabs(mpb.tcpSpeed) < kReleaseSpeed) {
            set_all(0.0, 0.0);
            qmcDragSwitch(1);
            log_drag_handover(kSingularPose);
            dragModelflag = 2;
        }
        static_cast<void>(kxmcConstraintsAdmittance(fc));  // keeps its diagnostics running
    } else if (pose_safe_unflagged(q, shoulderSingularDis) || dragModelflag == 2) {
        set_all(0.0, 0.0);
    } else if (kxmcConstraintsAdmittance(fc) == 0) {
        flange_to_guiding_frame(fc);
        const double f2 = fc[0] * fc[0] + fc[1] * fc[1] + fc[2] * fc[2];
        const double m2 = fc[3] * fc[3] + fc[4] * fc[4] + fc[5] * fc[5];
        for (int i = 0; i < kAxes; ++i) {
            const bool add = i < 3 ? f2 < kAddForce : m2 < kAddMoment;
            ff[i] = add ? ff[i] + fc[i] : fc[i];
            const double active = i < 3 ? kActiveForce : kActiveMoment;
            if (std::fabs(fc[i]) > active) {
                weakB[i] = fc[i] * vel[i] < 0.0 ? (i < 3 ? kHeavyTranslation : kHeavyRotation)
                                                : 0.0;
            }
        }
    }
    if (near_joint_limit(q)) {
        set_all(kHeavyTranslation, kLimitRotation);
    }
}

}  // namespace sensor
}  // namespace kxmc

using namespace kxmc::sensor;

extern "C" {

int32_t det3(const double m[9], double *out) {
    if (m == nullptr || out == nullptr) {
        return -1;
    }
    *out = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
    return 0;
}

int32_t inverseMatrix3(const double m[9], double out[9]) {
    if (m == nullptr || out == nullptr) {
        return -1;
    }
    double det = 0.0;
    det3(m, &det);
    if (det == 0.0) {
        Write_Log(2, "Matrix is not invertible.\n");
        return -1;
    }
    const double adj[9] = {
        m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
        m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
        m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    for (int i = 0; i < 9; ++i) {
        out[i] = adj[i] / det;
    }
    return 0;
}

double kxmcInputJJOutTrans(const double J[36]) {
    return J == nullptr ? 0.0 : projected_measure(J, kTranslationRows);
}

double kxmcInputJJOutROT(const double J[36]) {
    return J == nullptr ? 0.0 : projected_measure(J, kRotationRows);
}

int32_t kxmcConstraintsAdmittance(double Fc[6]) {
    if (Fc == nullptr) {
        return -1;
    }
    const ChainLengths &g = kxmc::lookup_band(kChains, mcb.robotModelCode, kChain5kg);
    double q[6];
    for (int i = 0; i < 6; ++i) {
        q[i] = mpb.targetJointPos[i] * kDegToRad;
    }
    double J[36];
    jacobian(g, q, J);
    const double mt = kxmcInputJJOutTrans(J);
    const double mr = kxmcInputJJOutROT(J);
    const double det = determinant(J, 6);
    if (!(std::fabs(det) > kSingularDet)) {
        Write_Log(4, "detValue = %f", det);
        for (int r = 0; r < 6; ++r) {
            const double *row = J + 6 * r;
            Write_Log(4, "JJ%d: = %f,%f,%f,%f,%f,%f", r + 1, row[0], row[1], row[2], row[3],
                      row[4], row[5]);
        }
        return -1;
    }
    // Joint motion of a unit Cartesian motion along each direction: the columns of J^-1, by LU
    // with partial pivoting. (Pivoting on the diagonal alone is not enough here: the arm's
    // Jacobian has zero diagonal entries in ordinary poses, the ready pose among them.)
    double Jinv[36];
    invNxN(J, Jinv);
    // Change of the translational measure over a step of +-1 mm along X, Y, Z and of the
    // rotational measure over +-1 mrad about the three axes.
    double gradient[kAxes];
    for (int k = 0; k < kAxes; ++k) {
        double qp[6], qm[6], Jp[36], Jm[36];
        for (int i = 0; i < 6; ++i) {
            qp[i] = q[i] + kGradientStep * Jinv[6 * i + k];
            qm[i] = q[i] - kGradientStep * Jinv[6 * i + k];
        }
        jacobian(g, qp, Jp);
        jacobian(g, qm, Jm);
        const int rows = k < 3 ? kTranslationRows : kRotationRows;
        gradient[k] = projected_measure(Jp, rows) - projected_measure(Jm, rows);
    }
    shoulderSingularDis = shoulder_metric();

    const TranslationBand &band =
        kxmc::lookup_band(kTranslationBands, mcb.robotModelCode, kTranslationDefault);
    const double gain =
        std::fabs(mpb.targetJointPos[2]) <= kStretchedElbow ? band.gainNearStretch : band.gain;
    const double pt = potential(gain, mt, band.lower, band.upper);
    const double pr = potential(gain, mr, kRotationLower, kRotationUpper);
    double force_base[3], moment_base[3];
    for (int i = 0; i < 3; ++i) {
        force_base[i] = pt * gradient[i] * kPotentialScale;
        moment_base[i] = pr * gradient[3 + i] * kPotentialScale;
    }
    Rotrsf base_to_flange;
    trsposeRotrsf(&base_to_flange, &mpb.flangePose.rot);
    double force[3], moment[3];
    rotate(base_to_flange, force_base, force);
    rotate(base_to_flange, moment_base, moment);
    for (int i = 0; i < 3; ++i) {
        Fc[i] = limit(force[i], kForceLimit);
        Fc[3 + i] = limit(moment[i], kMomentLimit);
    }
    return 0;
}

}  // extern "C"
