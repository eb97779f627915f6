// The simulated arm. Forward dynamics of the standard chain,
//     M(q) qdd = tau_motor - f(qd) + tau_ext - C(q, qd) qd - g(q),
// with tau_motor = current x 0.001 x rated x gear ratio, integrated by semi-implicit Euler in
// sub-steps of the 1 ms cycle. M (rotor inertias on its diagonal), C and g come from the
// library's exported standard dynamics block with the plant's own parameter set and payload.
#include "sim/plant.hpp"

#include <algorithm>
#include <cmath>

#include "kxmc/kxmc_dynamics_model.h"
#include "sim/arm_sets.hpp"
#include "simhost/kxsimhost.hpp"
#include "simhost/simhost_internal.hpp"

namespace kxsim {

namespace {

constexpr double kCycle = 0.001;      // [s]
constexpr double kPerMille = 0.001;
constexpr double kGravity[3] = {0.0, 0.0, -9.8};  // [m/s^2] floor mounting

// Gear stiffness and friction per motor size. Stiffness of harmonic drives of the sizes that
// carry these motors; friction levels of the same order as real joints (joint side).
struct SizeRow {
    uint8_t size;
    double stiffness;  // [N m/rad]
    PlantFriction friction;
};
constexpr SizeRow kSizes[] = {
    {14, 4.0e3, {1.2, 1.8, 0.05, 0.004, 1.2}},
    {17, 1.0e4, {2.4, 3.4, 0.05, 0.004, 2.5}},
    {25, 2.5e4, {5.0, 7.0, 0.04, 0.004, 6.0}},
    {32, 5.0e4, {10.0, 14.0, 0.04, 0.004, 12.0}},
    {40, 9.0e4, {18.0, 25.0, 0.04, 0.004, 20.0}},
};

const SizeRow &size_row(uint8_t size) {
    for (const SizeRow &r : kSizes) {
        if (r.size == size) {
            return r;
        }
    }
    return kSizes[2];
}

// Solves M x = b for a symmetric positive definite 6 x 6 M (Cholesky); false when M is not.
bool solve_spd(const double m[36], const double b[6], double x[6]) {
    double l[36] = {};
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j <= i; ++j) {
            double s = m[6 * i + j];
            for (int k = 0; k < j; ++k) {
                s -= l[6 * i + k] * l[6 * j + k];
            }
            if (i == j) {
                if (!(s > 0.0)) {
                    return false;
                }
                l[6 * i + i] = std::sqrt(s);
            } else {
                l[6 * i + j] = s / l[6 * j + j];
            }
        }
    }
    double y[6];
    for (int i = 0; i < 6; ++i) {
        double s = b[i];
        for (int k = 0; k < i; ++k) {
            s -= l[6 * i + k] * y[k];
        }
        y[i] = s / l[6 * i + i];
    }
    for (int i = 5; i >= 0; --i) {
        double s = y[i];
        for (int k = i + 1; k < 6; ++k) {
            s -= l[6 * k + i] * x[k];
        }
        x[i] = s / l[6 * i + i];
    }
    return true;
}

// Standard Denavit-Hartenberg frames 0..6 of the arm at q [rad]: rotation (row-major) and
// origin [m] of each frame in the base.
struct Frames {
    double r[7][9];
    double p[7][3];
};

Frames dh_frames(const ArmGeometry &g, const Vec6 &q) {
    Frames f{};
    const double eye[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(eye, eye + 9, f.r[0]);
    for (int i = 0; i < 6; ++i) {
        const double ct = std::cos(q[static_cast<std::size_t>(i)] + g.theta_offset[i]);
        const double st = std::sin(q[static_cast<std::size_t>(i)] + g.theta_offset[i]);
        const double ca = std::cos(g.alpha[i]);
        const double sa = std::sin(g.alpha[i]);
        // Link transform Rz(theta) Tz(d) Tx(a) Rx(alpha).
        const double a[9] = {ct, -st * ca, st * sa, st, ct * ca, -ct * sa, 0, sa, ca};
        const double t[3] = {g.a[i] * ct, g.a[i] * st, g.d[i]};
        const double *r0 = f.r[i];
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                f.r[i + 1][3 * row + col] = r0[3 * row] * a[col] + r0[3 * row + 1] * a[3 + col] +
                                            r0[3 * row + 2] * a[6 + col];
            }
            f.p[i + 1][row] = f.p[i][row] + r0[3 * row] * t[0] + r0[3 * row + 1] * t[1] +
                              r0[3 * row + 2] * t[2];
        }
    }
    return f;
}

}  // namespace

ArmPlant::ArmPlant(const PlantConfig &config)
    : config_(config), rng_state_(config.seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {
    const detail::ModelDefaults &m = detail::model_defaults(config.model_code);
    for (int j = 0; j < 6; ++j) {
        JointData &d = joints_[static_cast<std::size_t>(j)];
        d.motor_size = m.motor_size[j];
        d.rated = detail::rated_torque_of_size(d.motor_size);
        const SizeRow &row = size_row(d.motor_size);
        d.stiffness = row.stiffness;
        d.friction = row.friction;
    }
    const double home[6] = {0, -90, 90, -90, -90, 0};
    reset(home);
}

void ArmPlant::reset(const double joints_deg[6]) {
    for (std::size_t j = 0; j < 6; ++j) {
        q_[j] = joints_deg[j] * kDeg;
        qd_[j] = 0.0;
        qdd_[j] = 0.0;
        applied_[j] = 0.0;
        deflection_deg_[j] = 0.0;
        measured_[j] = 0;
        enc_a_[j] = static_cast<int32_t>(std::llround(joints_deg[j] * kCountsPerJointDeg));
        enc_b_[j] = enc_a_[j];
    }
}

double ArmPlant::friction(int joint, double qd) const {
    if (!config_.friction_on) {
        return 0.0;
    }
    const PlantFriction &f = joints_[static_cast<std::size_t>(joint)].friction;
    const double x = qd / f.stribeck;
    const double level = f.coulomb + (f.stiction - f.coulomb) * std::exp(-x * x);
    return level * std::tanh(qd / f.smoothing) + f.viscous * qd;
}

// xorshift64* with a Box-Muller pair: the same numbers on every platform for a seed.
double ArmPlant::gaussian() {
    if (spare_valid_) {
        spare_valid_ = false;
        return spare_;
    }
    auto uniform = [this]() {
        rng_state_ ^= rng_state_ >> 12;
        rng_state_ ^= rng_state_ << 25;
        rng_state_ ^= rng_state_ >> 27;
        const uint64_t v = rng_state_ * 0x2545F4914F6CDD1Dull;
        return (static_cast<double>(v >> 11) + 0.5) * (1.0 / 9007199254740992.0);
    };
    const double u1 = uniform();
    const double u2 = uniform();
    const double r = std::sqrt(-2.0 * std::log(u1));
    spare_ = r * std::sin(2.0 * kPi * u2);
    spare_valid_ = true;
    return r * std::cos(2.0 * kPi * u2);
}

void ArmPlant::dynamics_terms(double mass[36], double bias[6]) const {
    const kxmc::StandardArmParameters &p = plant_arm_parameters(config_.model_code);
    float q[6], qd[6], qdd[6] = {0, 0, 0, 0, 0, 0};
    for (std::size_t j = 0; j < 6; ++j) {
        q[j] = static_cast<float>(q_[j] / kDeg);
        qd[j] = static_cast<float>(qd_[j] / kDeg);
    }
    const float payload[10] = {static_cast<float>(config_.payload_mass),
                               static_cast<float>(config_.payload_centre[0]),
                               static_cast<float>(config_.payload_centre[1]),
                               static_cast<float>(config_.payload_centre[2]),
                               0, 0, 0, 0, 0, 0};
    const float gravity[3] = {static_cast<float>(kGravity[0]), static_cast<float>(kGravity[1]),
                              static_cast<float>(kGravity[2])};
    float tau[6], tau_static[6], m[36], c[36];
    qmckxdynamicblock(p.lengths, q, qd, qdd, payload, p.masses, p.centres, p.inertias, p.rotor,
                      gravity, tau, tau_static, m, c);
    for (int i = 0; i < 6; ++i) {
        double cq = 0.0;
        for (int k = 0; k < 6; ++k) {
            mass[6 * i + k] = m[6 * i + k];
            cq += static_cast<double>(c[6 * i + k]) * qd_[static_cast<std::size_t>(k)];
        }
        bias[i] = cq + tau_static[i];
    }
}

Vec6 ArmPlant::mass_diagonal() const {
    double m[36], b[6];
    dynamics_terms(m, b);
    Vec6 d{};
    for (std::size_t j = 0; j < 6; ++j) {
        d[j] = m[7 * j];
    }
    return d;
}

const std::array<int16_t, 6> &ArmPlant::apply_current(const Vec6 &current_permille) {
    for (std::size_t j = 0; j < 6; ++j) {
        double c = current_permille[j];
        if (!std::isfinite(c)) {
            c = 0.0;
        }
        applied_[j] = std::clamp(c, -config_.current_limit, config_.current_limit);
        const double noisy = applied_[j] + config_.current_noise * gaussian();
        measured_[j] = static_cast<int16_t>(std::clamp(std::lround(noisy), -32768L, 32767L));
    }
    return measured_;
}

void ArmPlant::step(const Vec6 &external_torque) {
    Vec6 motor{};  // joint-side motor torque [N m]
    for (std::size_t j = 0; j < 6; ++j) {
        motor[j] = applied_[j] * kPerMille * joints_[j].rated * kGearRatio;
    }

    // M, C qd and g once per cycle; friction every sub-step (it changes fastest).
    double mass[36], bias[6];
    dynamics_terms(mass, bias);
    const double h = kCycle / std::max(1, config_.substeps);
    Vec6 qd_start = qd_;
    Vec6 fric_last{};
    for (int s = 0; s < std::max(1, config_.substeps); ++s) {
        double rhs[6], acc[6];
        for (std::size_t j = 0; j < 6; ++j) {
            fric_last[j] = friction(static_cast<int>(j), qd_[j]);
            rhs[j] = motor[j] - fric_last[j] + external_torque[j] - bias[j];
        }
        if (!solve_spd(mass, rhs, acc)) {
            for (double &a : acc) {
                a = 0.0;
            }
        }
        for (std::size_t j = 0; j < 6; ++j) {
            qd_[j] += h * acc[j];
            q_[j] += h * qd_[j];
        }
    }
    const kxmc::StandardArmParameters &p = plant_arm_parameters(config_.model_code);
    for (std::size_t j = 0; j < 6; ++j) {
        qdd_[j] = (qd_[j] - qd_start[j]) / kCycle;
        // Torque carried by the gear to the link: motor torque less the joint friction and
        // what accelerates the rotor. The gear twists by it (quasi-static).
        const double rotor = static_cast<double>(p.rotor[j]) * 1e-6;  // [kg m^2]
        const double transmitted = motor[j] - fric_last[j] - rotor * qdd_[j];
        const double twist = config_.elasticity_on ? transmitted / joints_[j].stiffness : 0.0;
        deflection_deg_[j] = twist / kDeg;
        const double link_deg = q_[j] / kDeg;
        enc_b_[j] = static_cast<int32_t>(std::llround(link_deg * kCountsPerJointDeg));
        enc_a_[j] = static_cast<int32_t>(
            std::llround((link_deg + deflection_deg_[j]) * kCountsPerJointDeg));
    }
}

Vec6 ArmPlant::joints_deg() const {
    Vec6 out{};
    for (std::size_t j = 0; j < 6; ++j) {
        out[j] = q_[j] / kDeg;
    }
    return out;
}

Vec6 ArmPlant::velocity_deg_s() const {
    Vec6 out{};
    for (std::size_t j = 0; j < 6; ++j) {
        out[j] = qd_[j] / kDeg;
    }
    return out;
}

Vec6 ArmPlant::acceleration_deg_s2() const {
    Vec6 out{};
    for (std::size_t j = 0; j < 6; ++j) {
        out[j] = qdd_[j] / kDeg;
    }
    return out;
}

void ArmPlant::link_point(int link, double pos_mm[3], double vel_mm_s[3]) const {
    const int k = std::clamp(link, 1, 6);
    const Frames f = dh_frames(arm_geometry(config_.model_code), q_);
    for (int r = 0; r < 3; ++r) {
        pos_mm[r] = f.p[k][r] * 1000.0;
        vel_mm_s[r] = 0.0;
    }
    // v = sum over the joints before the point of qd_i z_{i-1} x (p - o_{i-1}).
    for (int i = 0; i < k; ++i) {
        const double z[3] = {f.r[i][2], f.r[i][5], f.r[i][8]};
        const double d[3] = {f.p[k][0] - f.p[i][0], f.p[k][1] - f.p[i][1],
                             f.p[k][2] - f.p[i][2]};
        const double w = qd_[static_cast<std::size_t>(i)] * 1000.0;
        vel_mm_s[0] += w * (z[1] * d[2] - z[2] * d[1]);
        vel_mm_s[1] += w * (z[2] * d[0] - z[0] * d[2]);
        vel_mm_s[2] += w * (z[0] * d[1] - z[1] * d[0]);
    }
}

Vec6 ArmPlant::force_to_joint_torque(int link, const double force[3]) const {
    const int k = std::clamp(link, 1, 6);
    const Frames f = dh_frames(arm_geometry(config_.model_code), q_);
    Vec6 tau{};
    for (int i = 0; i < k; ++i) {
        const double z[3] = {f.r[i][2], f.r[i][5], f.r[i][8]};
        const double d[3] = {f.p[k][0] - f.p[i][0], f.p[k][1] - f.p[i][1],
                             f.p[k][2] - f.p[i][2]};
        const double zxd[3] = {z[1] * d[2] - z[2] * d[1], z[2] * d[0] - z[0] * d[2],
                               z[0] * d[1] - z[1] * d[0]};
        tau[static_cast<std::size_t>(i)] =
            zxd[0] * force[0] + zxd[1] * force[1] + zxd[2] * force[2];
    }
    return tau;
}

}  // namespace kxsim
