// Frames, rotations, vectors, roll-pitch-yaw angles and quaternions of the host's kinematics
// library. Rotations are row-major 3x3; transforms add a position in mm; angles are degrees
// except for dhClassic (radians). Every routine tolerates its output aliasing an input.
#include <cmath>
#include <cstring>

#include "simhost_internal.hpp"

namespace kxsim {
namespace detail {

namespace {

// Below this |cos(second)| the rotation is treated as gimbal-locked: first and third angle
// then only fix their sum or difference.
constexpr double kGimbalCos = 1e-12;

Rotrsf rot_mul(const Rotrsf &a, const Rotrsf &b) {
    Rotrsf r;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            r.r[3 * i + k] = a.r[3 * i] * b.r[k] + a.r[3 * i + 1] * b.r[3 + k] +
                             a.r[3 * i + 2] * b.r[6 + k];
        }
    }
    return r;
}

Vect rot_apply(const Rotrsf &a, const Vect &v) {
    Vect r;
    for (int i = 0; i < 3; ++i) {
        r.v[i] = a.r[3 * i] * v.v[0] + a.r[3 * i + 1] * v.v[1] + a.r[3 * i + 2] * v.v[2];
    }
    return r;
}

Rotrsf rot_transpose(const Rotrsf &a) {
    Rotrsf r;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            r.r[3 * i + k] = a.r[3 * k + i];
        }
    }
    return r;
}

// R = Rz(third) Ry(second) Rx(first), angles in radians.
Rotrsf rpy_rotation(double third, double second, double first) {
    const double ca = std::cos(first), sa = std::sin(first);
    const double cb = std::cos(second), sb = std::sin(second);
    const double cc = std::cos(third), sc = std::sin(third);
    Rotrsf r;
    r.r[0] = cc * cb;
    r.r[1] = cc * sb * sa - sc * ca;
    r.r[2] = cc * sb * ca + sc * sa;
    r.r[3] = sc * cb;
    r.r[4] = sc * sb * sa + cc * ca;
    r.r[5] = sc * sb * ca - cc * sa;
    r.r[6] = -sb;
    r.r[7] = cb * sa;
    r.r[8] = cb * ca;
    return r;
}

// Angles [deg] of a rotation in the order first, second, third; at gimbal lock the first angle
// is first_if_locked and the third takes the rest.
void rotation_angles(const Rotrsf &m, double first_if_locked, double *first, double *second,
                     double *third) {
    const double *r = m.r;
    const double cb = std::hypot(r[0], r[3]);
    *second = std::atan2(-r[6], cb) * kRadToDeg;
    if (cb > kGimbalCos) {
        *first = std::atan2(r[7], r[8]) * kRadToDeg;
        *third = std::atan2(r[3], r[0]) * kRadToDeg;
        return;
    }
    // second = +90: r01 = -sin(third - first), r11 = cos(third - first);
    // second = -90: r01 = -sin(third + first), r11 = cos(third + first).
    const double combined = std::atan2(-r[1], r[4]) * kRadToDeg;
    *first = first_if_locked;
    *third = (r[6] < 0.0) ? combined + first_if_locked : combined - first_if_locked;
}

}  // namespace

Trsf identity_trsf() {
    Trsf t{};
    t.rot.r[0] = t.rot.r[4] = t.rot.r[8] = 1.0;
    return t;
}

double wrap_near(double angle, double ref) {
    if (!std::isfinite(angle) || !std::isfinite(ref)) {
        return angle;
    }
    double d = angle - ref;
    if (d > -180.0 && d <= 180.0) {
        return ref + d;  // the common case, without the costly remainder
    }
    d = std::remainder(d, 360.0);  // [-180, 180]
    if (d <= -180.0) {
        d += 360.0;
    }
    return ref + d;
}

void trsf_to_pose(const Trsf &t, double pose[6]) {
    pose[0] = t.pos.v[0];
    pose[1] = t.pos.v[1];
    pose[2] = t.pos.v[2];
    rotation_angles(t.rot, 0.0, &pose[3], &pose[4], &pose[5]);
}

Trsf pose_to_trsf(const double pose[6]) {
    Trsf t;
    t.rot = rpy_rotation(pose[5] * kDegToRad, pose[4] * kDegToRad, pose[3] * kDegToRad);
    t.pos.v[0] = pose[0];
    t.pos.v[1] = pose[1];
    t.pos.v[2] = pose[2];
    return t;
}

}  // namespace detail
}  // namespace kxsim

using kxsim::detail::kDegToRad;
using kxsim::detail::kRadToDeg;

extern "C" {

int multTrsf(Trsf *out, const Trsf *a, const Trsf *b) {
    if (out == nullptr || a == nullptr || b == nullptr) {
        return -1;
    }
    Trsf r;
    r.rot = kxsim::detail::rot_mul(a->rot, b->rot);
    r.pos = kxsim::detail::rot_apply(a->rot, b->pos);
    for (int i = 0; i < 3; ++i) {
        r.pos.v[i] += a->pos.v[i];
    }
    *out = r;
    return 0;
}

int invertTrsf(Trsf *out, const Trsf *in) {
    if (out == nullptr || in == nullptr) {
        return -1;
    }
    Trsf r;
    r.rot = kxsim::detail::rot_transpose(in->rot);
    r.pos = kxsim::detail::rot_apply(r.rot, in->pos);
    for (double &v : r.pos.v) {
        v = -v;
    }
    *out = r;
    return 0;
}

int rpyToTrsf(Trsf *out, double third, double second, double first) {
    if (out == nullptr) {
        return -1;
    }
    out->rot = kxsim::detail::rpy_rotation(third * kDegToRad, second * kDegToRad,
                                           first * kDegToRad);
    out->pos.v[0] = out->pos.v[1] = out->pos.v[2] = 0.0;
    return 0;
}

int trsfToRpy(double *third, double *second, double *first, const Trsf *t) {
    if (third == nullptr || second == nullptr || first == nullptr || t == nullptr) {
        return -1;
    }
    double a, b, c;
    kxsim::detail::rotation_angles(t->rot, 0.0, &a, &b, &c);
    *first = a;
    *second = b;
    *third = c;
    return 0;
}

// The two angle sets of one rotation are (a, b, c) and (a + 180, 180 - b, c + 180); each angle
// may further move by whole turns. The set nearest the reference (sum of squared differences)
// after wrapping every angle into the reference's half-turn neighbourhood wins.
int trsfToRpyRt(double *third, double *second, double *first, const Trsf *t,
                const double ref[3]) {
    if (third == nullptr || second == nullptr || first == nullptr || t == nullptr) {
        return -1;
    }
    double r[3];
    if (ref != nullptr) {
        r[0] = ref[0];
        r[1] = ref[1];
        r[2] = ref[2];
    } else {
        r[0] = mpb.tcpPos[3];
        r[1] = mpb.tcpPos[4];
        r[2] = mpb.tcpPos[5];
    }
    for (double &v : r) {
        if (!std::isfinite(v)) {
            v = 0.0;
        }
    }
    double a, b, c;
    kxsim::detail::rotation_angles(t->rot, r[0], &a, &b, &c);
    const double sets[2][3] = {{a, b, c}, {a + 180.0, 180.0 - b, c + 180.0}};
    double best[3] = {a, b, c};
    double best_cost = -1.0;
    for (const auto &s : sets) {
        double w[3];
        double cost = 0.0;
        for (int i = 0; i < 3; ++i) {
            w[i] = kxsim::detail::wrap_near(s[i], r[i]);
            cost += (w[i] - r[i]) * (w[i] - r[i]);
        }
        if (best_cost < 0.0 || cost < best_cost) {
            best_cost = cost;
            best[0] = w[0];
            best[1] = w[1];
            best[2] = w[2];
        }
    }
    *first = best[0];
    *second = best[1];
    *third = best[2];
    return 0;
}

int multRotrsf(Rotrsf *out, const Rotrsf *a, const Rotrsf *b) {
    if (out == nullptr || a == nullptr || b == nullptr) {
        return -1;
    }
    *out = kxsim::detail::rot_mul(*a, *b);
    return 0;
}

int addRotrsf(Rotrsf *out, const Rotrsf *a, const Rotrsf *b) {
    if (out == nullptr || a == nullptr || b == nullptr) {
        return -1;
    }
    for (int i = 0; i < 9; ++i) {
        out->r[i] = a->r[i] + b->r[i];
    }
    return 0;
}

// General 3x3 inverse by the adjugate. A singular matrix writes the transpose (the inverse of
// the rotation it is meant to be) and returns -1.
int invRotrsf(Rotrsf *out, const Rotrsf *in) {
    if (out == nullptr || in == nullptr) {
        return -1;
    }
    const double *m = in->r;
    Rotrsf adj;
    adj.r[0] = m[4] * m[8] - m[5] * m[7];
    adj.r[1] = m[2] * m[7] - m[1] * m[8];
    adj.r[2] = m[1] * m[5] - m[2] * m[4];
    adj.r[3] = m[5] * m[6] - m[3] * m[8];
    adj.r[4] = m[0] * m[8] - m[2] * m[6];
    adj.r[5] = m[2] * m[3] - m[0] * m[5];
    adj.r[6] = m[3] * m[7] - m[4] * m[6];
    adj.r[7] = m[1] * m[6] - m[0] * m[7];
    adj.r[8] = m[0] * m[4] - m[1] * m[3];
    const double det = m[0] * adj.r[0] + m[1] * adj.r[3] + m[2] * adj.r[6];
    double scale = 0.0;
    for (int i = 0; i < 9; ++i) {
        scale = std::fmax(scale, std::fabs(m[i]));
    }
    if (!std::isfinite(det) || std::fabs(det) <= 1e-14 * scale * scale * scale) {
        *out = kxsim::detail::rot_transpose(*in);
        return -1;
    }
    for (double &v : adj.r) {
        v /= det;
    }
    *out = adj;
    return 0;
}

int trsposeRotrsf(Rotrsf *out, const Rotrsf *in) {
    if (out == nullptr || in == nullptr) {
        return -1;
    }
    *out = kxsim::detail::rot_transpose(*in);
    return 0;
}

double detRotrsf(const Rotrsf *r) {
    if (r == nullptr) {
        return 0.0;
    }
    const double *m = r->r;
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

int multRotrsfVect(Vect *out, const Rotrsf *r, const Vect *v) {
    if (out == nullptr || r == nullptr || v == nullptr) {
        return -1;
    }
    *out = kxsim::detail::rot_apply(*r, *v);
    return 0;
}

int crossVect(Vect *out, const Vect *a, const Vect *b) {
    if (out == nullptr || a == nullptr || b == nullptr) {
        return -1;
    }
    const double *x = a->v, *y = b->v;
    Vect r;
    r.v[0] = x[1] * y[2] - x[2] * y[1];
    r.v[1] = x[2] * y[0] - x[0] * y[2];
    r.v[2] = x[0] * y[1] - x[1] * y[0];
    *out = r;
    return 0;
}

int addVect(Vect *out, const Vect *a, const Vect *b) {
    if (out == nullptr || a == nullptr || b == nullptr) {
        return -1;
    }
    for (int i = 0; i < 3; ++i) {
        out->v[i] = a->v[i] + b->v[i];
    }
    return 0;
}

int subtractVect(Vect *out, const Vect *a, const Vect *b) {
    if (out == nullptr || a == nullptr || b == nullptr) {
        return -1;
    }
    for (int i = 0; i < 3; ++i) {
        out->v[i] = a->v[i] - b->v[i];
    }
    return 0;
}

int scaleVect(Vect *out, const Vect *v, double factor) {
    if (out == nullptr || v == nullptr) {
        return -1;
    }
    for (int i = 0; i < 3; ++i) {
        out->v[i] = v->v[i] * factor;
    }
    return 0;
}

double normVect(const Vect *v) {
    if (v == nullptr) {
        return 0.0;
    }
    return std::sqrt(v->v[0] * v->v[0] + v->v[1] * v->v[1] + v->v[2] * v->v[2]);
}

// Shepperd's method: start from the largest of 4w^2, 4x^2, 4y^2, 4z^2 so the square root
// never takes a small, cancellation-prone argument. Sign fixed so that w >= 0.
int trsfToQtrn(Qtrn *out, const Trsf *t) {
    if (out == nullptr || t == nullptr) {
        return -1;
    }
    const double *r = t->rot.r;
    const double tr = r[0] + r[4] + r[8];
    double w, x, y, z;
    if (tr >= r[0] && tr >= r[4] && tr >= r[8]) {
        const double s = 2.0 * std::sqrt(std::fmax(1.0 + tr, 0.0));
        w = 0.25 * s;
        x = (r[7] - r[5]) / s;
        y = (r[2] - r[6]) / s;
        z = (r[3] - r[1]) / s;
    } else if (r[0] >= r[4] && r[0] >= r[8]) {
        const double s = 2.0 * std::sqrt(std::fmax(1.0 + r[0] - r[4] - r[8], 0.0));
        w = (r[7] - r[5]) / s;
        x = 0.25 * s;
        y = (r[1] + r[3]) / s;
        z = (r[2] + r[6]) / s;
    } else if (r[4] >= r[8]) {
        const double s = 2.0 * std::sqrt(std::fmax(1.0 + r[4] - r[0] - r[8], 0.0));
        w = (r[2] - r[6]) / s;
        x = (r[1] + r[3]) / s;
        y = 0.25 * s;
        z = (r[5] + r[7]) / s;
    } else {
        const double s = 2.0 * std::sqrt(std::fmax(1.0 + r[8] - r[0] - r[4], 0.0));
        w = (r[3] - r[1]) / s;
        x = (r[2] + r[6]) / s;
        y = (r[5] + r[7]) / s;
        z = 0.25 * s;
    }
    // The representative with w >= 0, or its negative when a test asks for it.
    const double sign = ((w < 0.0) != (kxsim::quaternion_sign() < 0)) ? -1.0 : 1.0;
    w *= sign;
    x *= sign;
    y *= sign;
    z *= sign;
    out->q[0] = w;
    out->q[1] = x;
    out->q[2] = y;
    out->q[3] = z;
    return 0;
}

// A zero or non-finite quaternion becomes the identity and returns -1.
int unitQtrn(Qtrn *out, const Qtrn *in) {
    if (out == nullptr || in == nullptr) {
        return -1;
    }
    const double n = std::sqrt(in->q[0] * in->q[0] + in->q[1] * in->q[1] +
                               in->q[2] * in->q[2] + in->q[3] * in->q[3]);
    if (!(n > 0.0) || !std::isfinite(n)) {
        out->q[0] = 1.0;
        out->q[1] = out->q[2] = out->q[3] = 0.0;
        return -1;
    }
    for (int i = 0; i < 4; ++i) {
        out->q[i] = in->q[i] / n;
    }
    return 0;
}

// Rotation vector of the shortest rotation the quaternion describes: the angle comes from
// atan2 of the vector part's length and w, accurate for small and near-half-turn angles.
int qtrnToDspl(Vect *out, const Qtrn *q) {
    if (out == nullptr || q == nullptr) {
        return -1;
    }
    double w = q->q[0], x = q->q[1], y = q->q[2], z = q->q[3];
    if (w < 0.0) {
        w = -w;
        x = -x;
        y = -y;
        z = -z;
    }
    const double s = std::sqrt(x * x + y * y + z * z);
    if (!(s > 0.0)) {
        out->v[0] = out->v[1] = out->v[2] = 0.0;
        return 0;
    }
    const double angle = 2.0 * std::atan2(s, w);  // [rad]
    out->v[0] = x / s * angle;
    out->v[1] = y / s * angle;
    out->v[2] = z / s * angle;
    return 0;
}

int dhClassic(Trsf *out, double a, double alpha, double d, double theta) {
    if (out == nullptr) {
        return -1;
    }
    const double ct = std::cos(theta), st = std::sin(theta);
    const double ca = std::cos(alpha), sa = std::sin(alpha);
    double *r = out->rot.r;
    r[0] = ct;
    r[1] = -st * ca;
    r[2] = st * sa;
    r[3] = st;
    r[4] = ct * ca;
    r[5] = -ct * sa;
    r[6] = 0.0;
    r[7] = sa;
    r[8] = ca;
    out->pos.v[0] = a * ct;
    out->pos.v[1] = a * st;
    out->pos.v[2] = d;
    return 0;
}

}  // extern "C"
