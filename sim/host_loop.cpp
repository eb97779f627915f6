// The simulated host's servo loop. Per cycle, in the host's order:
//   1. read the drives (joint positions, rates, encoders) into mpb / how;
//   2. the motion: program interpolation (state 2), hold (stopped 1, paused 3) or following
//      the arm (hand guiding, 4);
//   3. the library's torque feed-forward (how.jointTorqueCmd);
//   4. the drives: position PID on top of the command word (program) or the command word
//      alone (hand guiding); they report the measured current;
//   5. the library's collision check, and the momentum observer when the host runs it;
//   6. the host's reactions to what the library asked (the call journal);
//   7. the plant advances 1 ms (with the loads the scenario set on it).
#include "sim/host_loop.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_collision_check.h"
#include "kxmc/kxmc_collision_settings.h"
#include "kxmc/kxmc_gravity.h"
#include "kxmc/kxmc_joint_space_dynamics.h"
#include "kxmc/kxmc_momentum_observer.h"
#include "kxmc/kxmc_torque_control.h"
#include "simhost/kxsimhost.hpp"

namespace kxsim {

namespace {

constexpr double kPerSecond = 1000.0;            // [cycle/s]
constexpr double kPerSecondSquared = 1.0e6;      // [cycle^2/s^2]
constexpr double kPerMille = 0.001;
constexpr int kSettleCycles = 300;               // stopped cycles before a scenario starts
constexpr double kIntegralRate = 4.0;            // [1/s] Ki / Kp of the drives
constexpr int32_t kStopped = 1;
constexpr int32_t kRunning = 2;
constexpr int32_t kPaused = 3;
constexpr int32_t kDrag = 4;
constexpr double kGearRatio = 101.0;             // the drives' gear, as the host knows it
// The momentum observer reads a current as per mille x 0.001 x 100 x rated x this gain (the
// drives it was made for report current on another scale than they take the command).
constexpr double kObserverCurrentScale = 100.0 * 1.6;
constexpr double kRotorUnit = 1.0e-6;             // [kg m^2 per kg mm^2]

// Quintic blend s(u) = 10u^3 - 15u^4 + 6u^5 and its derivatives, u in [0, 1].
void quintic(double u, double &s, double &ds, double &dds) {
    const double u2 = u * u, u3 = u2 * u;
    s = u3 * (10.0 - 15.0 * u + 6.0 * u2);
    ds = 30.0 * u2 * (1.0 - 2.0 * u + u2);
    dds = 60.0 * u * (1.0 - 3.0 * u + 2.0 * u2);
}

double rated_of(int j) {
    float rated[6] = {0, 0, 0, 0, 0, 0};
    kxmcJointDefaultTorque(rated);
    return rated[j] > 0.0f ? rated[j] : 1.0;
}

uint64_t cycles_run = 0;

}  // namespace

uint64_t simulated_cycles() { return cycles_run; }

double drive_torque(int joint, double permille) {
    return permille * kPerMille * rated_of(joint) * kGearRatio;
}

// ---- Program ------------------------------------------------------------------------------

double JointProgram::segment_duration(std::size_t from) const {
    const Vec6 &a = waypoints[from % waypoints.size()];
    const Vec6 &b = waypoints[(from + 1) % waypoints.size()];
    double span = 0.0;
    for (std::size_t j = 0; j < 6; ++j) {
        span = std::max(span, std::fabs(b[j] - a[j]));
    }
    // The quintic's peak rate is 1.875 span / T.
    return std::max(0.5, 1.875 * span / std::max(speed, 1.0));
}

JointProgram::Sample JointProgram::sample(double t) const {
    if (profile) {
        return profile(t);
    }
    Sample s{};
    if (waypoints.empty()) {
        return s;
    }
    double total = 0.0;
    for (std::size_t i = 0; i < waypoints.size(); ++i) {
        total += segment_duration(i);
    }
    double local = std::fmod(std::max(t, 0.0), total);
    std::size_t i = 0;
    while (i + 1 < waypoints.size() && local >= segment_duration(i)) {
        local -= segment_duration(i);
        ++i;
    }
    const double dur = segment_duration(i);
    const Vec6 &a = waypoints[i];
    const Vec6 &b = waypoints[(i + 1) % waypoints.size()];
    double u = std::clamp(local / dur, 0.0, 1.0), p, dp, ddp;
    quintic(u, p, dp, ddp);
    for (std::size_t j = 0; j < 6; ++j) {
        const double span = b[j] - a[j];
        s.pos[j] = a[j] + span * p;
        s.vel[j] = span * dp / dur;
        s.acc[j] = span * ddp / (dur * dur);
    }
    s.segment_steps = static_cast<int32_t>(std::lround(dur * kPerSecond));
    s.segment_step = static_cast<int32_t>(local * kPerSecond);
    return s;
}

JointProgram default_program() {
    JointProgram p;
    p.waypoints = {
        {0, -90, 90, -90, -90, 0},
        {40, -70, 70, -100, -80, 30},
        {-30, -100, 110, -70, -100, -20},
        {20, -80, 60, -90, -70, 45},
    };
    p.speed = 60.0;
    return p;
}

// ---- Host -----------------------------------------------------------------------------------

SimHost::SimHost(const HostConfig &config, ArmPlant &plant) : config_(config), plant_(plant) {}

void SimHost::start(const Vec6 &joints_deg) {
    if (!config_.config_root.empty()) {
        set_config_root(config_.config_root);
    }
    clear_config();
    startup(config_.model_code);

    // The library models the configured payload; the plant may carry another.
    mpb.loadWeight = config_.payload_mass;
    for (int k = 0; k < 3; ++k) {
        mpb.loadCoord[k] = config_.payload_centre[k];
    }
    mcb.newTeachEnable = config_.teach_mode;
    mcb.collisionPauseFlag = config_.monitor_only ? 1 : config_.reaction;
    mpb.collisionMode = config_.dual_encoder ? 1 : 0;
    for (int j = 0; j < 6; ++j) {
        // The expected current equals the command word (0.7 x 1/0.7).
        mpb.torqueCmdGain[j] = 1.0 / 0.7;
    }
    const float levels[6] = {config_.collision_level, config_.collision_level,
                             config_.collision_level, config_.collision_level,
                             config_.collision_level, config_.collision_level};
    qmcSetCollisionLevel(0, levels, 0, 0);
    // The host scales no joint's sensitivity: every ratio 1.
    const float ratio[6] = {1, 1, 1, 1, 1, 1};
    set_collision_ratio(ratio);

    plant_.reset(joints_deg.data());
    for (std::size_t j = 0; j < 6; ++j) {
        hold_[j] = joints_deg[j];
        target_pos_[j] = joints_deg[j];
        mpb.jointPos[j] = joints_deg[j];
        mpb.prevJointPos[j] = joints_deg[j];
        last_q_deg_[j] = joints_deg[j];
    }
    // Drive gains from the arm's inertia at the start pose: critically damped position loop.
    const Vec6 m = plant_.mass_diagonal();
    const double w = 2.0 * kPi * config_.drive_bandwidth;
    for (std::size_t j = 0; j < 6; ++j) {
        kp_[j] = m[j] * w * w;
        kd_[j] = 2.0 * m[j] * w;
        ki_[j] = kp_[j] * kIntegralRate;
        integral_[j] = 0.0;
    }
    const Trsf f = flange_transform(joints_deg.data());
    for (int k = 0; k < 3; ++k) {
        last_flange_[k] = f.pos.v[k];
    }
    mpb.robotState = kStopped;
    last_state_ = kStopped;
    journal_seen_ = journal().size();
    t_ = -kSettleCycles * kCycle;
    for (int i = 0; i < kSettleCycles; ++i) {
        cycle();
    }
    events_.clear();
    t_ = 0.0;
}

void SimHost::run_program(const JointProgram &program) {
    run_path([program](double t) { return program.sample(t); });
    program_speed_ = program.speed;
}

void SimHost::run_path(JointPath path) {
    path_ = std::move(path);
    program_speed_ = 0.0;
    program_on_ = true;
    program_t_ = 0.0;
    mpb.robotState = kRunning;
    last_state_ = kRunning;
}

void SimHost::enter_drag() {
    program_on_ = false;
    mpb.robotState = kDrag;
    last_state_ = kDrag;
}

void SimHost::halt() {
    program_on_ = false;
    hold_ = plant_.joints_deg();
    mpb.robotState = kStopped;
    last_state_ = kStopped;
}

void SimHost::forget_history() {
    events_.clear();
    clear_journal();
    clear_log();
    journal_seen_ = 0;
}

void SimHost::follow_goal(std::function<void()> step) {
    goal_step_ = std::move(step);
    target_pos_ = plant_.joints_deg();
    target_vel_ = Vec6{};
}

void SimHost::update_motion_fields() {
    const Vec6 q = plant_.joints_deg();
    const Vec6 v = plant_.velocity_deg_s();
    const Vec6 a = plant_.acceleration_deg_s2();
    const int32_t state = mpb.robotState;

    if (state == kRunning && program_on_) {
        const JointProgram::Sample s = path_(program_t_);
        target_pos_ = s.pos;
        target_vel_ = s.vel;
        target_acc_ = s.acc;
        mpb.segmentStep = s.segment_step;
        mpb.segmentSteps = s.segment_steps;
        program_t_ += kCycle;
    } else if (state == kDrag) {
        // Hand guiding: the host follows the arm; no commanded acceleration.
        target_pos_ = q;
        target_vel_ = v;
        target_acc_ = Vec6{};
        mpb.segmentStep = 0;
        mpb.segmentSteps = 0;
    } else if (state == kStopped && goal_step_) {
        // The last goal and its rate stay the command until the guiding step gives the next.
        target_acc_ = Vec6{};
        mpb.segmentStep = 0;
        mpb.segmentSteps = 0;
    } else {
        target_pos_ = hold_;
        target_vel_ = Vec6{};
        target_acc_ = Vec6{};
        mpb.segmentStep = 0;
        mpb.segmentSteps = 0;
    }

    for (std::size_t j = 0; j < 6; ++j) {
        mpb.prevJointPos[j] = last_q_deg_[j];
        mpb.jointPos[j] = q[j];
        mpb.actualJointVel[j] = v[j] / kPerSecond;
        mpb.actualJointAcc[j] = a[j] / kPerSecondSquared;
        mpb.targetJointPos[j] = target_pos_[j];
        mpb.cmdJointPos[j] = target_pos_[j];
        mpb.targetJointVel[j] = target_vel_[j] / kPerSecond;
        mpb.targetJointAcc[j] = target_acc_[j] / kPerSecondSquared;
        mpb.feedJointAcc[j] = mpb.targetJointAcc[j];
        how.encoderPosA[j] = plant_.encoder_a()[j];
        how.encoderPosB[j] = plant_.encoder_b()[j];
        last_q_deg_[j] = q[j];
    }
    mpb.motionType = 1;
    mpb.jointMoveVel = program_on_ ? program_speed_ : 0.0;

    const Trsf f = flange_transform(q.data());
    mpb.flangePose = f;
    mpb.cartPoseActual = f;
    double third = 0, second = 0, first = 0;
    trsfToRpy(&third, &second, &first, &f);
    const double pose[6] = {f.pos.v[0], f.pos.v[1], f.pos.v[2], first, second, third};
    double dist2 = 0.0;
    for (int k = 0; k < 3; ++k) {
        const double d = f.pos.v[k] - last_flange_[k];
        dist2 += d * d;
        last_flange_[k] = f.pos.v[k];
    }
    for (int k = 0; k < 6; ++k) {
        mpb.tcpPos[k] = pose[k];
    }
    mpb.tcpSpeed = std::sqrt(dist2) * kPerSecond;
}

// The library's torque feed-forward with the actual joint positions, as the host calls it.
void SimHost::feed_forward() { gravityTorqueControl(mpb.jointPos); }

// One step of the momentum observer with the arm's joint-space dynamics at the measured state.
// The library's matrices hold the rigid links; the drives' currents also accelerate the rotors,
// so their reflected inertias join M's diagonal. The observer compares one joint per cycle.
void SimHost::observe() {
    double q[6], qd[6], m[36], v[36], g[6];
    double *m_rows[6], *v_rows[6], *g_rows[6];
    for (std::size_t j = 0; j < 6; ++j) {
        q[j] = mpb.jointPos[j] * kDeg;
        qd[j] = mpb.actualJointVel[j] * kPerSecond * kDeg;
        m_rows[j] = &m[6 * j];
        v_rows[j] = &v[6 * j];
        g_rows[j] = &g[j];
    }
    (void)com_M_matrix(q, MatHead{0, 5, 0, 5, 0, m_rows});
    (void)com_C_matrix(q, qd, MatHead{0, 5, 0, 5, 0, v_rows});
    (void)com_G_matrix(q, MatHead{0, 5, 0, 0, 0, g_rows});
    for (std::size_t j = 0; j < 6; ++j) {
        m[7 * j] += plant_.nominal().rotor[j] * kRotorUnit;
    }

    // The observer takes the measured currents on its own scale; the host's record keeps them.
    int16_t measured[6];
    std::memcpy(measured, how.jointCurrent, sizeof measured);
    for (std::size_t j = 0; j < 6; ++j) {
        how.jointCurrent[j] =
            static_cast<int16_t>(std::lround(measured[j] * kGearRatio / kObserverCurrentScale));
    }
    const uint32_t code_before = mcb.collisionErrorCode;
    (void)kxmcMomentumObserver(observer_joint_, 0, m, v, g, 0, nullptr);
    std::memcpy(how.jointCurrent, measured, sizeof measured);
    const uint32_t code = mcb.collisionErrorCode;
    if (code != code_before && code > KXMC_COLLISION_NONE && code < KXMC_COLLISION_TCP) {
        events_.push_back({t_, "observer", static_cast<int>(code - KXMC_COLLISION_NONE)});
        if (config_.monitor_only) {
            mcb.collisionErrorCode = KXMC_COLLISION_NONE;
        }
    }
    observer_joint_ = (observer_joint_ + 1) % 6;
}

void SimHost::scan_journal() {
    const std::vector<Call> &j = journal();
    for (; journal_seen_ < j.size(); ++journal_seen_) {
        const Call &c = j[journal_seen_];
        if (c.name == "qmcPause" || c.name == "qmcStop" || c.name == "doConfigHandle" ||
            c.name == "resetWeldControlPara") {
            events_.push_back({t_, c.name, 0});
        } else if (c.name == "qmcDragSwitch") {
            const int on = c.args.empty() ? 0 : static_cast<int>(c.args[0]);
            events_.push_back({t_, on != 0 ? "qmcDragSwitch(1)" : "qmcDragSwitch(0)", 0});
        }
    }
}

const TraceRow &SimHost::cycle(double scripted_force) {
    set_cycle(static_cast<uint64_t>(std::llround((t_ + 1.0) * kPerSecond)));
    update_motion_fields();
    if (goal_step_) {
        goal_step_();
        if (mpb.robotState == kStopped) {
            for (std::size_t j = 0; j < 6; ++j) {
                const double goal = mpb.targetJointPos[j];
                target_vel_[j] = (goal - target_pos_[j]) * kPerSecond;
                target_pos_[j] = goal;
            }
            hold_ = target_pos_;
        }
    }

    // Torque feed-forward; the dual-encoder detector runs inside it while a program runs.
    const uint32_t code_before = mcb.collisionErrorCode;
    feed_forward();
    const uint32_t code_after = mcb.collisionErrorCode;
    if (code_after != code_before && code_after > KXMC_COLLISION_NONE &&
        code_after < KXMC_COLLISION_TCP) {
        events_.push_back({t_, "dual-encoder", static_cast<int>(code_after - KXMC_COLLISION_NONE)});
        if (config_.monitor_only) {
            mcb.collisionErrorCode = KXMC_COLLISION_NONE;
        }
    }

    // Drives.
    Vec6 current{};
    float ff[6] = {0, 0, 0, 0, 0, 0};
    const Vec6 q = plant_.joints_deg();
    const Vec6 v = plant_.velocity_deg_s();
    for (std::size_t j = 0; j < 6; ++j) {
        const double to_permille = 1.0 / (kPerMille * rated_of(static_cast<int>(j)) * kGearRatio);
        if (mpb.robotState == kDrag) {
            current[j] = how.jointTorqueCmd[j];
            integral_[j] = 0.0;
        } else {
            const double e = (target_pos_[j] - q[j]) * kDeg;
            const double ed = (target_vel_[j] - v[j]) * kDeg;
            integral_[j] += ki_[j] * e * kCycle;
            const double pd = kp_[j] * e + kd_[j] * ed;
            current[j] = how.jointTorqueCmd[j] + (pd + integral_[j]) * to_permille;
            // The slowly learnt share of the tracking correction is the host's velocity
            // feed-forward: the collision model expects it, so only sudden effort counts.
            ff[j] = static_cast<float>(integral_[j] * to_permille);
        }
    }
    set_velocity_feedforward(ff);
    const std::array<int16_t, 6> &measured = plant_.apply_current(current);
    for (std::size_t j = 0; j < 6; ++j) {
        how.jointCurrent[j] = measured[j];
    }

    // Collision check.
    const uint8_t state_before = mcb.collisionState;
    const uint32_t code_check_before = mcb.collisionErrorCode;
    if (config_.collision_check) {
        kxmcCheckForCollisionError();
    }
    if (config_.momentum_observer) {
        observe();
    }
    if (state_before == 0 && mcb.collisionState == 1) {
        int joint = 0;
        if (mcb.collisionErrorCode != code_check_before &&
            mcb.collisionErrorCode > KXMC_COLLISION_NONE) {
            joint = static_cast<int>(mcb.collisionErrorCode - KXMC_COLLISION_NONE);
        } else {
            double worst = 0.0;
            for (int j = 0; j < 6; ++j) {
                const double r = std::fabs(forceCollisionError[j]) /
                                 std::max(1e-9, mpb.collisionThreshold[j]);
                if (r > worst) {
                    worst = r;
                    joint = j + 1;
                }
            }
        }
        events_.push_back({t_, "residual", joint});
        if (config_.monitor_only) {
            mcb.collisionState = 0;
            mcb.warningCode = 0;
            mcb.collisionErrorCode = KXMC_COLLISION_NONE;
        }
    }
    scan_journal();

    // The host's reactions: a halted program holds where the arm is.
    const int32_t state = mpb.robotState;
    if (state != last_state_) {
        if (state == kPaused || state == kStopped) {
            program_on_ = false;
            hold_ = plant_.joints_deg();
        }
        last_state_ = state;
    }

    // Trace row of the cycle, then the plant advances.
    row_.t = t_;
    row_.state = state;
    row_.q = q;
    row_.target = target_pos_;
    const Trsf f = mpb.flangePose;
    for (int k = 0; k < 3; ++k) {
        row_.flange[k] = f.pos.v[k];
    }
    for (std::size_t j = 0; j < 6; ++j) {
        row_.cmd[j] = how.jointTorqueCmd[j];
        row_.current[j] = how.jointCurrent[j];
        row_.residual[j] = static_cast<double>(mpb.measuredJointTorque[j]) -
                           static_cast<double>(mpb.modelJointTorque[j]);
        row_.threshold[j] = mpb.collisionThreshold[j] *
                            (1.0 + (static_cast<double>(mpb.collisionLevel[j]) - 1.0) / 3.0);
        row_.deflection[j] = plant_.deflection_deg()[j];
        row_.observer[j] = mpb.observerResidual[j];
        row_.observer_threshold[j] = mpb.collisionThrDisplay[j];
    }
    plant_.step();
    ++cycles_run;
    row_.force = scripted_force;
    row_.contact_peak = 0.0;
    for (std::size_t k = 0; k < plant_.obstacle_count(); ++k) {
        row_.force += plant_.contact(k).force;
        row_.contact_peak = std::max(row_.contact_peak, plant_.contact(k).peak);
    }
    row_.sensor = plant_.sensor_wrench();
    t_ += kCycle;
    return row_;
}

}  // namespace kxsim
