// Forward and inverse kinematics of the host for the arm of mcb.robotModelCode, the current
// pose, the hand-off of a new joint goal and the external-axis / work-piece conversions.
//
// Inverse kinematics of the standard chain is closed-form (up to eight solutions: shoulder
// left/right, wrist up/down, elbow up/down), the solution nearest the reference joints wins,
// and every joint is wrapped into the reference's half-turn neighbourhood. The TZ chain has no
// closed form here: a damped Newton (Levenberg-Marquardt) iteration starts at the reference.
#include <cmath>
#include <cstring>

#include "simhost_internal.hpp"

namespace kxsim {
namespace detail {

namespace {

constexpr double kAcosSlack = 1e-9;        // cosines this far beyond +-1 are rounding, clamped
constexpr double kWristSingularSin = 1e-10; // |sin q5| below this: q4 and q6 share one rotation
constexpr double kSolutionPosTol = 1e-4;   // [mm] a closed-form candidate must reproduce the pose
constexpr double kSolutionRotTol = 1e-7;   // [rad]
constexpr double kNewtonPosTol = 1e-9;     // [mm] convergence of the numeric inverse
constexpr double kNewtonRotTol = 1e-12;    // [rad]
constexpr int kNewtonIterations = 200;

double to_mm(double metres) { return metres * 1000.0; }

Trsf link_transform(const ArmGeometry &g, int i, double q_rad) {
    Trsf t;
    dhClassic(&t, to_mm(g.a[i]), g.alpha[i], to_mm(g.d[i]), q_rad + g.theta_offset[i]);
    return t;
}

bool all_finite(const double *v, int n) {
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// Error that moves actual onto target: position difference [mm] and the rotation vector [rad]
// of R_target R_actual^T, both in the base frame.
void pose_error(const Trsf &target, const Trsf &actual, double e[6]) {
    for (int i = 0; i < 3; ++i) {
        e[i] = target.pos.v[i] - actual.pos.v[i];
    }
    Trsf actual_inv, rel;
    invertTrsf(&actual_inv, &actual);
    actual_inv.pos.v[0] = actual_inv.pos.v[1] = actual_inv.pos.v[2] = 0.0;
    Trsf target_rot = target;
    target_rot.pos.v[0] = target_rot.pos.v[1] = target_rot.pos.v[2] = 0.0;
    multTrsf(&rel, &target_rot, &actual_inv);
    Qtrn q;
    Vect w;
    trsfToQtrn(&q, &rel);
    qtrnToDspl(&w, &q);
    e[3] = w.v[0];
    e[4] = w.v[1];
    e[5] = w.v[2];
}

// Geometric Jacobian [mm/rad; 1] of the flange in the base frame at joints q [rad].
void geometric_jacobian(const ArmGeometry &g, const double q[6], double J[6][6]) {
    Trsf frames[7];
    frames[0] = identity_trsf();
    for (int i = 0; i < 6; ++i) {
        const Trsf a = link_transform(g, i, q[i]);
        multTrsf(&frames[i + 1], &frames[i], &a);
    }
    const double *pe = frames[6].pos.v;
    for (int i = 0; i < 6; ++i) {
        const double z[3] = {frames[i].rot.r[2], frames[i].rot.r[5], frames[i].rot.r[8]};
        const double r[3] = {pe[0] - frames[i].pos.v[0], pe[1] - frames[i].pos.v[1],
                             pe[2] - frames[i].pos.v[2]};
        J[0][i] = z[1] * r[2] - z[2] * r[1];
        J[1][i] = z[2] * r[0] - z[0] * r[2];
        J[2][i] = z[0] * r[1] - z[1] * r[0];
        J[3][i] = z[0];
        J[4][i] = z[1];
        J[5][i] = z[2];
    }
}

// Solves the 6x6 system A x = b by Gaussian elimination with partial pivoting; false when
// singular.
bool solve6(double A[6][6], double b[6], double x[6]) {
    for (int c = 0; c < 6; ++c) {
        int p = c;
        for (int r = c + 1; r < 6; ++r) {
            if (std::fabs(A[r][c]) > std::fabs(A[p][c])) {
                p = r;
            }
        }
        if (!(std::fabs(A[p][c]) > 1e-300)) {
            return false;
        }
        if (p != c) {
            for (int k = 0; k < 6; ++k) {
                const double t = A[p][k];
                A[p][k] = A[c][k];
                A[c][k] = t;
            }
            const double t = b[p];
            b[p] = b[c];
            b[c] = t;
        }
        for (int r = c + 1; r < 6; ++r) {
            const double f = A[r][c] / A[c][c];
            for (int k = c; k < 6; ++k) {
                A[r][k] -= f * A[c][k];
            }
            b[r] -= f * b[c];
        }
    }
    for (int r = 5; r >= 0; --r) {
        double s = b[r];
        for (int k = r + 1; k < 6; ++k) {
            s -= A[r][k] * x[k];
        }
        x[r] = s / A[r][r];
    }
    return true;
}

double error_cost(const double e[6]) {
    // Position in mm and rotation in rad weighted so that 1 mrad counts like 1 mm at 1 m.
    double c = 0.0;
    for (int i = 0; i < 3; ++i) {
        c += e[i] * e[i] + 1e6 * e[i + 3] * e[i + 3];
    }
    return c;
}

bool pose_matches(const Trsf &target, const Trsf &actual, double pos_tol, double rot_tol) {
    double e[6];
    pose_error(target, actual, e);
    return std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]) <= pos_tol &&
           std::sqrt(e[3] * e[3] + e[4] * e[4] + e[5] * e[5]) <= rot_tol;
}

double clamp_unit(double c) { return c > 1.0 ? 1.0 : (c < -1.0 ? -1.0 : c); }

double wrap_pi(double a) {
    if (a > -kPi && a <= kPi) {
        return a;
    }
    double w = std::remainder(a, 2.0 * kPi);
    if (w <= -kPi) {
        w += 2.0 * kPi;
    }
    return w;
}

// Copy of the host's robot pose override (qmcGetRobotPos); unset by default.
bool g_robot_pos_set = false;
double g_robot_pos[6] = {0, 0, 0, 0, 0, 0};

// Reference joints of an inverse-kinematics request: the caller's array for refMode -1,
// otherwise the host's actual joints; non-finite entries count as 0.
void reference_joints(int ref_mode, const double joints[6], double ref[6]) {
    const double *src = ref_mode == -1 ? joints : mpb.jointPos;
    for (int i = 0; i < 6; ++i) {
        ref[i] = std::isfinite(src[i]) ? src[i] : 0.0;
    }
}

}  // namespace

Trsf forward_kinematics(const ArmGeometry &g, const double joints_deg[6]) {
    Trsf t = identity_trsf();
    for (int i = 0; i < 6; ++i) {
        const Trsf a = link_transform(g, i, joints_deg[i] * kDegToRad);
        multTrsf(&t, &t, &a);
    }
    return t;
}

Trsf tool_transform(const double joints_deg[6]) {
    const Trsf flange = forward_kinematics(arm_geometry(mcb.robotModelCode), joints_deg);
    Trsf tool;
    multTrsf(&tool, &flange, &mpb.toolTrsf);
    return tool;
}

bool has_closed_form_ik(const ArmGeometry &g) {
    const double twist[6] = {90, 0, 0, 90, -90, 0};
    for (int i = 0; i < 6; ++i) {
        if (std::fabs(g.alpha[i] - twist[i] * kDegToRad) > 1e-12 || g.theta_offset[i] != 0.0) {
            return false;
        }
    }
    return g.a[0] == 0.0 && g.a[3] == 0.0 && g.a[4] == 0.0 && g.a[5] == 0.0 &&
           g.d[1] == 0.0 && g.d[2] == 0.0 && g.d[5] != 0.0 && g.a[1] != 0.0 && g.a[2] != 0.0;
}

bool closed_form_solution_holds(const ArmGeometry &g, const Trsf &flange, const double deg[6]) {
    return pose_matches(flange, forward_kinematics(g, deg), kSolutionPosTol, kSolutionRotTol);
}

int closed_form_ik(const ArmGeometry &g, const Trsf &flange, double wrist_ref6,
                   double out[8][6], bool verify) {
    if (!has_closed_form_ik(g) || !all_finite(flange.rot.r, 9) || !all_finite(flange.pos.v, 3)) {
        return 0;
    }
    const double a2 = to_mm(g.a[1]), a3 = to_mm(g.a[2]);
    const double d4 = to_mm(g.d[3]), d6 = to_mm(g.d[5]);
    const double *R = flange.rot.r;
    const double *p = flange.pos.v;
    // Wrist centre: origin of frame 5, d6 back along the flange axis.
    const double p05x = p[0] - d6 * R[2];
    const double p05y = p[1] - d6 * R[5];
    const double rho = std::hypot(p05x, p05y);
    if (rho < std::fabs(d4) * (1.0 - kAcosSlack)) {
        return 0;  // the wrist centre lies inside the cylinder the shoulder offset sweeps
    }
    const double psi = std::atan2(p05y, p05x);
    const double phi = std::acos(clamp_unit(d4 / rho));
    int n = 0;
    for (int s1sign = 0; s1sign < 2; ++s1sign) {
        const double q1 = psi + kPi / 2.0 + (s1sign == 0 ? phi : -phi);
        const double c1 = std::cos(q1), s1 = std::sin(q1);
        // Along joint 1's lateral axis the flange sits at d4 + d6 cos q5.
        const double c5 = (p[0] * s1 - p[1] * c1 - d4) / d6;
        if (std::fabs(c5) > 1.0 + kAcosSlack) {
            continue;
        }
        for (int s5sign = 0; s5sign < 2; ++s5sign) {
            const double q5 = (s5sign == 0 ? 1.0 : -1.0) * std::acos(clamp_unit(c5));
            const double s5 = std::sin(q5);
            double q6;
            if (std::fabs(s5) < kWristSingularSin) {
                q6 = wrist_ref6 * kDegToRad;
            } else {
                q6 = std::atan2(-(R[1] * s1 - R[4] * c1) / s5, (R[0] * s1 - R[3] * c1) / s5);
            }
            // T14 = A1^-1 T A6^-1 A5^-1: the planar part of joints 2, 3, 4.
            Trsf a1 = link_transform(g, 0, q1), a5 = link_transform(g, 4, q5),
                 a6 = link_transform(g, 5, q6);
            Trsf a1i, a5i, a6i, t14;
            invertTrsf(&a1i, &a1);
            invertTrsf(&a5i, &a5);
            invertTrsf(&a6i, &a6);
            multTrsf(&t14, &a1i, &flange);
            multTrsf(&t14, &t14, &a6i);
            multTrsf(&t14, &t14, &a5i);
            const double x = t14.pos.v[0], y = t14.pos.v[1];
            const double c3 = (x * x + y * y - a2 * a2 - a3 * a3) / (2.0 * a2 * a3);
            if (std::fabs(c3) > 1.0 + kAcosSlack) {
                continue;
            }
            for (int s3sign = 0; s3sign < 2; ++s3sign) {
                const double q3 = (s3sign == 0 ? 1.0 : -1.0) * std::acos(clamp_unit(c3));
                const double q2 =
                    std::atan2(y, x) - std::atan2(a3 * std::sin(q3), a2 + a3 * std::cos(q3));
                const double q234 = std::atan2(t14.rot.r[3], t14.rot.r[0]);
                const double q4 = q234 - q2 - q3;
                const double q[6] = {q1, q2, q3, q4, q5, q6};
                double deg[6];
                for (int i = 0; i < 6; ++i) {
                    deg[i] = wrap_pi(q[i]) * kRadToDeg;
                }
                if (verify && !closed_form_solution_holds(g, flange, deg)) {
                    continue;
                }
                std::memcpy(out[n], deg, sizeof deg);
                ++n;
            }
        }
    }
    return n;
}

namespace {

// One Levenberg-Marquardt descent from the start joints; true when it reaches the pose.
bool newton_from(const ArmGeometry &g, const Trsf &flange, const double ref_deg[6],
                 double out_deg[6]) {
    double q[6];
    for (int i = 0; i < 6; ++i) {
        q[i] = ref_deg[i] * kDegToRad;
    }
    double qdeg[6];
    auto to_deg = [&](const double *qr) {
        for (int i = 0; i < 6; ++i) {
            qdeg[i] = qr[i] * kRadToDeg;
        }
    };
    to_deg(q);
    double e[6];
    pose_error(flange, forward_kinematics(g, qdeg), e);
    double cost = error_cost(e);
    double lambda = 1e-3;
    for (int it = 0; it < kNewtonIterations; ++it) {
        if (std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]) <= kNewtonPosTol &&
            std::sqrt(e[3] * e[3] + e[4] * e[4] + e[5] * e[5]) <= kNewtonRotTol) {
            for (int i = 0; i < 6; ++i) {
                out_deg[i] = q[i] * kRadToDeg;
            }
            return true;
        }
        double J[6][6];
        geometric_jacobian(g, q, J);
        // Rotation rows scaled by 1000 mm so that both halves weigh alike (as error_cost).
        for (int k = 0; k < 6; ++k) {
            for (int r = 3; r < 6; ++r) {
                J[r][k] *= 1000.0;
            }
        }
        double ew[6] = {e[0], e[1], e[2], 1000.0 * e[3], 1000.0 * e[4], 1000.0 * e[5]};
        bool stepped = false;
        for (int attempt = 0; attempt < 12 && !stepped; ++attempt) {
            double A[6][6], b[6], dq[6];
            for (int r = 0; r < 6; ++r) {
                for (int c = 0; c < 6; ++c) {
                    double s = 0.0;
                    for (int k = 0; k < 6; ++k) {
                        s += J[k][r] * J[k][c];
                    }
                    A[r][c] = s + (r == c ? lambda : 0.0);
                }
                double s = 0.0;
                for (int k = 0; k < 6; ++k) {
                    s += J[k][r] * ew[k];
                }
                b[r] = s;
            }
            if (!solve6(A, b, dq)) {
                lambda *= 10.0;
                continue;
            }
            double qn[6];
            for (int i = 0; i < 6; ++i) {
                qn[i] = q[i] + dq[i];
            }
            to_deg(qn);
            double en[6];
            pose_error(flange, forward_kinematics(g, qdeg), en);
            const double cn = error_cost(en);
            if (cn < cost) {
                std::memcpy(q, qn, sizeof q);
                std::memcpy(e, en, sizeof e);
                cost = cn;
                lambda = std::fmax(lambda * 0.1, 1e-12);
                stepped = true;
            } else {
                lambda *= 10.0;
            }
        }
        if (!stepped) {
            break;
        }
    }
    if (std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]) <= kNewtonPosTol &&
        std::sqrt(e[3] * e[3] + e[4] * e[4] + e[5] * e[5]) <= kNewtonRotTol) {
        for (int i = 0; i < 6; ++i) {
            out_deg[i] = q[i] * kRadToDeg;
        }
        return true;
    }
    return false;
}

}  // namespace

// Near singular poses the pose error has local minima that are not solutions; when the
// descent from the reference ends in one, it restarts from the wrist-flipped reference and
// from references moved by growing offsets, and the first start that converges wins.
bool numeric_ik(const ArmGeometry &g, const Trsf &flange, const double ref_deg[6],
                double out_deg[6]) {
    if (!all_finite(flange.rot.r, 9) || !all_finite(flange.pos.v, 3) || !all_finite(ref_deg, 6)) {
        return false;
    }
    static constexpr double kOffsets[] = {10.0, -10.0, 25.0, -25.0};  // [deg]
    static constexpr double kPattern[6] = {1, -1, 1, -1, 1, -1};
    if (newton_from(g, flange, ref_deg, out_deg)) {
        return true;
    }
    double start[6];
    std::memcpy(start, ref_deg, sizeof start);
    start[3] += 180.0;
    start[4] = -start[4];
    start[5] += 180.0;
    if (newton_from(g, flange, start, out_deg)) {
        return true;
    }
    for (double offset : kOffsets) {
        for (int i = 0; i < 6; ++i) {
            start[i] = ref_deg[i] + offset * kPattern[i];
        }
        if (newton_from(g, flange, start, out_deg)) {
            return true;
        }
    }
    return false;
}

}  // namespace detail

Trsf flange_transform(const double joints_deg[6]) {
    return detail::forward_kinematics(arm_geometry(mcb.robotModelCode), joints_deg);
}

std::vector<std::vector<double>> inverse_kinematics_all(const Trsf &flange) {
    const ArmGeometry g = arm_geometry(mcb.robotModelCode);
    std::vector<std::vector<double>> all;
    if (detail::has_closed_form_ik(g)) {
        double sol[8][6];
        const int n = detail::closed_form_ik(g, flange, mpb.jointPos[5], sol);
        for (int i = 0; i < n; ++i) {
            all.emplace_back(sol[i], sol[i] + 6);
        }
    } else {
        double q[6];
        if (detail::numeric_ik(g, flange, mpb.jointPos, q)) {
            all.emplace_back(q, q + 6);
        }
    }
    return all;
}

void set_robot_pos(const double pose[6]) {
    std::memcpy(detail::g_robot_pos, pose, sizeof detail::g_robot_pos);
    detail::g_robot_pos_set = true;
}

void clear_robot_pos() { detail::g_robot_pos_set = false; }

}  // namespace kxsim

using kxsim::detail::forward_kinematics;

extern "C" {

int jointTrsfToEndCartTCF_RT(int tool, const double jointPos[6], float pose[6]) {
    if (jointPos == nullptr || pose == nullptr) {
        return -1;
    }
    const Trsf t = kxsim::flange_transform(jointPos);
    double p[6];
    kxsim::detail::trsf_to_pose(t, p);
    for (int i = 0; i < 6; ++i) {
        pose[i] = static_cast<float>(p[i]);
    }
    return 0;
}

int jointTrsfToToolCartTCF_RT(int tool, const double jointPos[6], float pose[6]) {
    if (jointPos == nullptr || pose == nullptr) {
        return -1;
    }
    const Trsf t = kxsim::detail::tool_transform(jointPos);
    double p[6];
    kxsim::detail::trsf_to_pose(t, p);
    for (int i = 0; i < 6; ++i) {
        pose[i] = static_cast<float>(p[i]);
    }
    return 0;
}

int newFwdKinematics(const double joints[6], Trsf *flange) {
    if (joints == nullptr || flange == nullptr) {
        return -1;
    }
    *flange = kxsim::flange_transform(joints);
    return 0;
}

int qmcGetRobotPos(double pose[6]) {
    if (pose == nullptr) {
        return -1;
    }
    if (kxsim::detail::g_robot_pos_set) {
        std::memcpy(pose, kxsim::detail::g_robot_pos, sizeof kxsim::detail::g_robot_pos);
        return 0;
    }
    kxsim::detail::trsf_to_pose(kxsim::detail::tool_transform(mpb.jointPos), pose);
    return 0;
}

// The tool index is accepted for the host's signature; the simulated host has one tool,
// mpb.toolTrsf. On failure the joints array keeps the reference.
int qmcGetInverseKinematicNoLine(int tool, double x, double y, double z, double a, double b,
                                 double c, int refMode, double joints[6]) {
    if (joints == nullptr) {
        return -1;
    }
    const double pose[6] = {x, y, z, a, b, c};
    for (double v : pose) {
        if (!std::isfinite(v)) {
            return -1;
        }
    }
    double ref[6];
    kxsim::detail::reference_joints(refMode, joints, ref);
    const Trsf tool_pose = kxsim::detail::pose_to_trsf(pose);
    Trsf tool_inv, flange;
    invertTrsf(&tool_inv, &mpb.toolTrsf);
    multTrsf(&flange, &tool_pose, &tool_inv);

    const kxsim::ArmGeometry g = kxsim::arm_geometry(mcb.robotModelCode);
    double best[6];
    if (kxsim::detail::has_closed_form_ik(g)) {
        // Candidates nearest first; only those up to the first that reproduces the pose are
        // checked by forward kinematics (the servo cycle calls this every millisecond).
        double sol[8][6];
        const int n = kxsim::detail::closed_form_ik(g, flange, ref[5], sol, false);
        double wrapped[8][6], cost[8];
        int order[8];
        for (int s = 0; s < n; ++s) {
            cost[s] = 0.0;
            for (int i = 0; i < 6; ++i) {
                wrapped[s][i] = kxsim::detail::wrap_near(sol[s][i], ref[i]);
                cost[s] += (wrapped[s][i] - ref[i]) * (wrapped[s][i] - ref[i]);
            }
            int k = s;  // stable insertion by cost
            for (; k > 0 && cost[order[k - 1]] > cost[s]; --k) {
                order[k] = order[k - 1];
            }
            order[k] = s;
        }
        int found = -1;
        for (int k = 0; k < n && found < 0; ++k) {
            if (kxsim::detail::closed_form_solution_holds(g, flange, sol[order[k]])) {
                found = order[k];
            }
        }
        if (found < 0) {
            return -1;
        }
        std::memcpy(best, wrapped[found], sizeof best);
    } else {
        double q[6];
        if (!kxsim::detail::numeric_ik(g, flange, ref, q)) {
            return -1;
        }
        for (int i = 0; i < 6; ++i) {
            best[i] = kxsim::detail::wrap_near(q[i], ref[i]);
        }
    }
    std::memcpy(joints, best, sizeof best);
    return 0;
}

int qmcUpdateJointCartGoalPos(const double joints[6]) {
    if (joints == nullptr) {
        return -1;
    }
    kxsim::detail::record_call("qmcUpdateJointCartGoalPos", joints, 6);
    std::memcpy(mpb.targetJointPos, joints, sizeof mpb.targetJointPos);
    return 0;
}

// The simulated cell has no external axis: the tool pose in the axis frame is the base pose.
int toolInBaseTrsfToToolInExAxis_RealTime(Trsf *out, const Trsf *in) {
    if (out == nullptr || in == nullptr) {
        return -1;
    }
    *out = *in;
    return 0;
}

// Pose relative to the active work-piece frame W (words 1 .. 24 of mpb.activeWorkpieceFrame,
// a transform of 12 doubles): out = W^-1 in. A frame whose rotation is not a proper rotation
// (for example the all-zero entry of an unset table) counts as the identity.
int baseTrsfToWorkPiece(Trsf *out, const Trsf *in) {
    if (out == nullptr || in == nullptr) {
        return -1;
    }
    static_assert(sizeof(Trsf) <= sizeof(mpb.activeWorkpieceFrame) - sizeof(uint32_t),
                  "work-piece frame must fit after the first word");
    Trsf w;
    std::memcpy(&w, &mpb.activeWorkpieceFrame[1], sizeof w);
    const double det = detRotrsf(&w.rot);
    if (!(std::fabs(det - 1.0) < 1e-6) || !kxsim::detail::all_finite(w.pos.v, 3)) {
        *out = *in;
        return 0;
    }
    Trsf w_inv;
    invertTrsf(&w_inv, &w);
    multTrsf(out, &w_inv, in);
    return 0;
}

}  // extern "C"
