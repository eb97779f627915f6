// The simulated arm. Each 1 ms cycle the drives' joint torques (current x 0.001 x rated x gear)
// and the joint friction (a passive force of the plant's own law) act on MuJoCo's model of the
// arm's truth, integrated in two 0.5 ms steps of fourth-order Runge-Kutta (energy drift below
// 1e-9 over seconds; friction and contact stay stable at that step). The gear twists by the
// torque it carries to the link, which the motor-side encoder sees on top of the link angle.
#include "sim/plant.hpp"

#include <mujoco/mujoco.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim/mjcf.hpp"

namespace kxsim {

namespace {

constexpr double kPerMille = 0.001;
constexpr double kMm = 1000.0;  // [mm/m]

// The plant being stepped on this thread: the engine's passive-force hook asks it for the
// joint friction at every evaluation of the integrator.
thread_local const ArmPlant *stepping = nullptr;

struct ActivePlant {
    explicit ActivePlant(const ArmPlant *p) { stepping = p; }
    ~ActivePlant() { stepping = nullptr; }
};

void joint_friction(const mjModel *m, mjData *d) {
    if (stepping == nullptr || stepping->model() != m) {
        return;
    }
    for (int j = 0; j < 6; ++j) {
        d->qfrc_passive[j] -= stepping->friction(j, d->qvel[j]);
    }
}

void physics_warning(const char *message) {
    std::fprintf(stderr, "kxsim: physics engine: %s\n", message);
}

mjModel *compile(const std::string &xml) {
    // The engine reads MJCF from files; a virtual file keeps it in memory.
    auto vfs = std::make_unique<mjVFS>();
    mj_defaultVFS(vfs.get());
    const char *name = "arm.xml";
    if (mj_makeEmptyFileVFS(vfs.get(), name, static_cast<int>(xml.size())) != 0) {
        throw std::runtime_error("cannot stage the arm model");
    }
    const int index = mj_findFileVFS(vfs.get(), name);
    std::memcpy(vfs->filedata[index], xml.data(), xml.size());
    char error[1024] = "";
    mjModel *m = mj_loadXML(name, vfs.get(), error, sizeof error);
    mj_deleteVFS(vfs.get());
    if (m == nullptr) {
        throw std::runtime_error(std::string("the physics engine refused the arm model: ") + error);
    }
    return m;
}

int id_of(const mjModel *m, int type, const std::string &name) {
    const int id = mj_name2id(m, type, name.c_str());
    if (id < 0) {
        throw std::runtime_error("arm model lacks " + name);
    }
    return id;
}

}  // namespace

ArmPlant::ArmPlant(const PlantConfig &config)
    : config_(config),
      nominal_(config.arm != nullptr ? config.arm : find_arm(config.model_code)),
      rng_state_(config.seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {
    if (nominal_ == nullptr) {
        throw std::runtime_error("no arm description for model code " +
                                 std::to_string(config.model_code));
    }
    truth_ = perturbed(*nominal_, config.model_error);
    for (std::size_t j = 0; j < 6; ++j) {
        drives_[j] = find_drive(truth_.motor[j]);
        if (drives_[j] == nullptr) {
            throw std::runtime_error("no drive of motor size " + std::to_string(truth_.motor[j]));
        }
    }
    mju_user_warning = physics_warning;
    mjcb_passive = joint_friction;
    MjcfOptions options;
    options.timestep = kCycle / std::max(1, config.substeps);
    model_ = compile(arm_mjcf(truth_, config.scene, options));
    if (config.scene.obstacles.empty()) {
        // Arm and carried geometry never touch each other: without obstacles the engine's
        // collision search finds nothing.
        model_->opt.disableflags |= mjDSBL_CONTACT;
    }
    data_ = mj_makeData(model_);
    scratch_ = mj_makeData(model_);
    try {
        find_objects();
    } catch (...) {
        mj_deleteData(scratch_);
        mj_deleteData(data_);
        mj_deleteModel(model_);
        throw;
    }
    const double home[6] = {0, -90, 90, -90, -90, 0};
    reset(home);
}

void ArmPlant::find_objects() {

    for (int i = 0; i < 6; ++i) {
        const std::string n = std::to_string(i + 1);
        // The arm's joints come first: qpos, qvel and dof index i are joint i + 1.
        if (model_->jnt_qposadr[id_of(model_, mjOBJ_JOINT, "joint" + n)] != i) {
            throw std::runtime_error("arm joints out of order in the model");
        }
        link_body_[static_cast<std::size_t>(i)] = id_of(model_, mjOBJ_BODY, "link" + n);
        frame_site_[static_cast<std::size_t>(i)] = id_of(model_, mjOBJ_SITE, "frame" + n);
    }
    tool_body_ = id_of(model_, mjOBJ_BODY, "tool");
    payload_body_ = id_of(model_, mjOBJ_BODY, "payload");
    payload_mass_ = model_->body_mass[payload_body_];
    for (std::size_t k = 0; k < 3; ++k) {
        payload_moments_[k] = model_->body_inertia[3 * payload_body_ + static_cast<int>(k)];
    }
    force_sensor_ = model_->sensor_adr[id_of(model_, mjOBJ_SENSOR, "ft_force")];
    torque_sensor_ = model_->sensor_adr[id_of(model_, mjOBJ_SENSOR, "ft_torque")];
    geom_obstacle_.assign(static_cast<std::size_t>(model_->ngeom), -1);
    for (std::size_t k = 0; k < config_.scene.obstacles.size(); ++k) {
        const std::string n = "obstacle" + std::to_string(k);
        geom_obstacle_[static_cast<std::size_t>(id_of(model_, mjOBJ_GEOM, n + "_face"))] =
            static_cast<int>(k);
        const int slide = mj_name2id(model_, mjOBJ_JOINT, (n + "_slide").c_str());
        obstacle_qpos_.push_back(slide < 0 ? -1 : model_->jnt_qposadr[slide]);
    }
    contacts_.assign(config_.scene.obstacles.size(), ContactCycle{});
    contact_sum_.assign(config_.scene.obstacles.size(), Vec3{});
}

ArmPlant::~ArmPlant() {
    mj_deleteData(scratch_);
    mj_deleteData(data_);
    mj_deleteModel(model_);
}

void ArmPlant::reset(const double joints_deg[6]) {
    mj_resetData(model_, data_);
    for (std::size_t j = 0; j < 6; ++j) {
        data_->qpos[j] = joints_deg[j] * kDeg;
        applied_[j] = 0.0;
        qdd_[j] = 0.0;
        deflection_deg_[j] = 0.0;
        measured_[j] = 0;
        const double counts = joints_deg[j] * drives_[j]->gear * kCountsPerMotorTurn / 360.0;
        enc_a_[j] = static_cast<int32_t>(std::llround(counts));
        enc_b_[j] = enc_a_[j];
    }
    clear_loads();
    mj_forward(model_, data_);
    read_sensor();
    std::fill(contacts_.begin(), contacts_.end(), ContactCycle{});
}

double ArmPlant::friction(int joint, double w) const {
    if (!config_.friction_on) {
        return 0.0;
    }
    const std::size_t j = static_cast<std::size_t>(joint);
    return config_.friction_scale[j] * drives_[j]->friction.torque(w);
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

void ArmPlant::set_link_force(int link, const Vec3 &force) {
    load_link_ = std::clamp(link, 1, 6);
    link_force_ = force;
}

void ArmPlant::push_tool(const Vec3 &point, const Vec3 &force) {
    push_point_ = point;
    push_force_ = force;
    push_on_ = true;
}

void ArmPlant::clear_loads() {
    load_link_ = 0;
    link_force_ = {};
    push_on_ = false;
    push_force_ = {};
    if (data_ != nullptr) {
        mju_zero(data_->xfrc_applied, 6 * model_->nbody);
    }
}

// The payload body has no joint of its own: the engine lumps it into the tool in every step,
// so a mass and inertia of zero take it off without changing anything else of the model.
void ArmPlant::carry_payload(bool on) {
    payload_on_ = on;
    model_->body_mass[payload_body_] = on ? payload_mass_ : 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        model_->body_inertia[3 * payload_body_ + static_cast<int>(k)] =
            on ? payload_moments_[k] : 0.0;
    }
}

// Forces at points become body wrenches about each body's centre of mass (the engine's
// convention for applied forces), from this sub-step's kinematics.
void ArmPlant::apply_loads() {
    mju_zero(data_->xfrc_applied, 6 * model_->nbody);
    auto apply_at = [this](int body, const Vec3 &point_m, const Vec3 &force) {
        mjtNum *w = data_->xfrc_applied + 6 * body;
        const double *c = data_->xipos + 3 * body;
        const Vec3 arm{point_m[0] - c[0], point_m[1] - c[1], point_m[2] - c[2]};
        const Vec3 moment = cross(arm, force);
        for (int k = 0; k < 3; ++k) {
            w[k] += force[static_cast<std::size_t>(k)];
            w[3 + k] += moment[static_cast<std::size_t>(k)];
        }
    };
    if (load_link_ > 0) {
        const std::size_t i = static_cast<std::size_t>(load_link_ - 1);
        const double *p = data_->site_xpos + 3 * frame_site_[i];
        apply_at(link_body_[i], {p[0], p[1], p[2]}, link_force_);
    }
    if (push_on_) {
        apply_at(tool_body_, scale(tool_point(push_point_), 1.0 / kMm), push_force_);
    }
}

void ArmPlant::account_contacts(bool first_substep, double h) {
    std::vector<ContactCycle> &c = contacts_;
    std::vector<Vec3> &sum = contact_sum_;
    std::fill(sum.begin(), sum.end(), Vec3{});
    const std::size_t n = c.size();
    for (int i = 0; i < data_->ncon; ++i) {
        const mjContact &con = data_->contact[i];
        const int o1 = geom_obstacle_[static_cast<std::size_t>(con.geom1)];
        const int o2 = geom_obstacle_[static_cast<std::size_t>(con.geom2)];
        const int k = o1 >= 0 ? o1 : o2;
        if (k < 0 || static_cast<std::size_t>(k) >= n) {
            continue;
        }
        mjtNum f[6];
        mj_contactForce(model_, data_, i, f);
        // Contact frame rows: normal (from geom1 to geom2), then the two tangents; the force
        // is the one geom1 exerts on geom2.
        const double sign = o2 == k ? 1.0 : -1.0;
        for (int a = 0; a < 3; ++a) {
            sum[static_cast<std::size_t>(k)][static_cast<std::size_t>(a)] +=
                sign * (f[0] * con.frame[a] + f[1] * con.frame[3 + a] + f[2] * con.frame[6 + a]);
        }
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (first_substep) {
            c[k].peak = 0.0;
            c[k].impulse = 0.0;
            c[k].mean = Vec3{};
        }
        c[k].mean = add(c[k].mean, scale(sum[k], h / kCycle));
        c[k].vector = sum[k];
        c[k].force = norm(sum[k]);
        c[k].peak = std::max(c[k].peak, c[k].force);
        c[k].impulse += c[k].force * h;
        const int adr = obstacle_qpos_[k];
        c[k].compression = adr >= 0 ? -data_->qpos[adr] * kMm : 0.0;
    }
}

void ArmPlant::read_sensor() {
    // The engine reports the force the flange side exerts on the tool side; the sensor reads
    // the reaction.
    for (int k = 0; k < 3; ++k) {
        sensor_[static_cast<std::size_t>(k)] = -data_->sensordata[force_sensor_ + k];
        sensor_[static_cast<std::size_t>(3 + k)] = -data_->sensordata[torque_sensor_ + k];
    }
}

void ArmPlant::step() {
    Vec6 motor{};  // joint-side motor torque [N m]
    Vec6 qd_start{}, friction_mean{};
    for (std::size_t j = 0; j < 6; ++j) {
        motor[j] = applied_[j] * kPerMille * drives_[j]->rated * drives_[j]->gear;
        qd_start[j] = data_->qvel[j];
    }
    const int substeps = std::max(1, config_.substeps);
    const double h = model_->opt.timestep;
    ActivePlant active(this);
    for (int s = 0; s < substeps; ++s) {
        if (load_link_ > 0 || push_on_) {
            mj_kinematics(model_, data_);  // where the loads' points are now
        }
        for (std::size_t j = 0; j < 6; ++j) {
            friction_mean[j] += friction(static_cast<int>(j), data_->qvel[j]) / substeps;
            data_->qfrc_applied[j] = motor[j];
        }
        apply_loads();
        mj_step(model_, data_);
        account_contacts(s == 0, h);
    }
    read_sensor();
    for (std::size_t j = 0; j < 6; ++j) {
        qdd_[j] = (data_->qvel[j] - qd_start[j]) / kCycle;
        // Torque the gear carries to the link: the motor torque less the joint friction and
        // what accelerates the rotor. The gear twists by it (quasi-static).
        const double rotor = truth_.rotor[j] * 1e-6;  // [kg m^2]
        const double transmitted = motor[j] - friction_mean[j] - rotor * qdd_[j];
        const double twist = config_.elasticity_on ? transmitted / drives_[j]->stiffness : 0.0;
        deflection_deg_[j] = twist / kDeg;
        const double counts_per_deg = drives_[j]->gear * kCountsPerMotorTurn / 360.0;
        const double link_deg = data_->qpos[j] / kDeg;
        enc_b_[j] = static_cast<int32_t>(std::llround(link_deg * counts_per_deg));
        enc_a_[j] =
            static_cast<int32_t>(std::llround((link_deg + deflection_deg_[j]) * counts_per_deg));
    }
}

Vec6 ArmPlant::joints_deg() const {
    Vec6 out{};
    for (std::size_t j = 0; j < 6; ++j) {
        out[j] = data_->qpos[j] / kDeg;
    }
    return out;
}

Vec6 ArmPlant::velocity_deg_s() const {
    Vec6 out{};
    for (std::size_t j = 0; j < 6; ++j) {
        out[j] = data_->qvel[j] / kDeg;
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

// Positions come from the kinematics of the last sub-step's start; the simulated state has
// moved on by at most one sub-step, so points are recomputed on the scratch data.
Vec3 ArmPlant::frame_point(int link) const {
    const Vec6 q = joints_deg();
    return frame_point_at(q.data(), link);
}

Vec3 ArmPlant::tool_point(const Vec3 &point) const {
    const Vec6 q = joints_deg();
    return tool_point_at(q.data(), point);
}

Vec3 ArmPlant::frame_point_at(const double joints_deg[6], int link) const {
    for (std::size_t j = 0; j < 6; ++j) {
        scratch_->qpos[j] = joints_deg[j] * kDeg;
    }
    mj_kinematics(model_, scratch_);
    const double *p =
        scratch_->site_xpos + 3 * frame_site_[static_cast<std::size_t>(std::clamp(link, 1, 6) - 1)];
    return {p[0] * kMm, p[1] * kMm, p[2] * kMm};
}

Vec3 ArmPlant::tool_point_at(const double joints_deg[6], const Vec3 &point) const {
    const Vec3 flange = frame_point_at(joints_deg, 6);  // runs the kinematics
    const mjtNum *r = scratch_->site_xmat + 9 * frame_site_[5];
    const Mat3 rot{r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]};
    return add(flange, rotate(rot, point));
}

Vec6 ArmPlant::mass_diagonal() const {
    Vec6 d{};
    for (std::size_t j = 0; j < 6; ++j) {
        d[j] = data_->qM[model_->dof_Madr[j]];
    }
    return d;
}

double ArmPlant::energy() {
    // Computed on request only: the engine's energy option costs a few per cent of every step.
    model_->opt.enableflags |= mjENBL_ENERGY;
    mj_forward(model_, data_);
    model_->opt.enableflags &= ~mjENBL_ENERGY;
    return data_->energy[0] + data_->energy[1];
}

}  // namespace kxsim
