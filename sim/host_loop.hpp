// The simulated host's servo loop around the library: joint programs in position mode, hand
// guiding in torque mode, the drives' PID loop, the host services the library asks for, and
// the reactions the library orders through the host.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/plant.hpp"

namespace kxsim {

// A joint program: point-to-point moves with quintic profiles (zero velocity and
// acceleration at each waypoint), repeated from the first waypoint; or a motion of a scenario's
// own (`profile`, when set, replaces the waypoints).
struct JointProgram {
    std::vector<Vec6> waypoints;  // [deg]
    double speed = 60.0;          // [deg/s] programmed joint speed (peak of the fastest joint)

    // Segment index, duration and position within the program at time t [s].
    struct Sample {
        Vec6 pos, vel, acc;  // [deg], [deg/s], [deg/s^2]
        int32_t segment_step;
        int32_t segment_steps;
    };
    std::function<Sample(double t)> profile;
    Sample sample(double t) const;
    double segment_duration(std::size_t from) const;  // [s]
};

JointProgram default_program();

// A path the host follows in position mode: target position, rate and acceleration at program
// time t [s] (segment fields unused).
using JointPath = std::function<JointProgram::Sample(double t)>;

struct HostConfig {
    uint32_t model_code = 101;
    uint8_t teach_mode = 2;          // mcb.newTeachEnable: 0 gravity only, 2 full dynamics
    double payload_mass = 0.0;       // [kg] configured in the host (what the library models)
    double payload_centre[3] = {0, 0, 0};  // [mm, flange frame]
    float collision_level = 3.0f;    // all joints
    uint8_t reaction = 0;            // mcb.collisionPauseFlag
    bool monitor_only = false;       // detectors report, the host acknowledges and goes on
    bool dual_encoder = true;        // mpb.collisionMode 1
    bool collision_check = true;     // the library's torque-residual check every cycle
    bool momentum_observer = false;  // the momentum observer every cycle, fed by the library's
                                     // joint-space matrices of the 5-kg arm (reports "observer")
    double drive_bandwidth = 6.0;    // [Hz] position loop of the drives
    std::string config_root;         // folder of the host's configuration files and log
};

// What the host saw in one cycle, kept for reports and traces.
struct TraceRow {
    double t;                      // [s]
    int32_t state;                 // mpb.robotState
    Vec6 q, target;                // [deg]
    Vec6 cmd;                      // how.jointTorqueCmd [per mille]
    Vec6 current;                  // how.jointCurrent [per mille]
    Vec6 residual;                 // measured minus model torque [N m, motor side]
    Vec6 threshold;                // level threshold of the residual [N m, motor side]
    Vec6 deflection;               // gear deflection the encoders see [deg]
    double flange[3];              // [mm]
    double force;                  // external force on the arm over the cycle [N]: scripted or
                                   // the obstacles' contact forces (end of the cycle)
    double contact_peak;           // largest contact force within the cycle [N]
    Wrench sensor;                 // wrist sensor, sensor frame [N, N m]
    Vec6 observer;                 // momentum observer residual, -external torque [N m, joint]
    Vec6 observer_threshold;       // its published thresholds [N m, joint]
};

// One report of a detector or one reaction of the host.
struct HostEvent {
    double t;          // [s]
    std::string what;  // "residual", "dual-encoder", "observer", or the host call (qmcPause, ...)
    int joint;         // 1..6, 0 when not a joint
};

// Simulated servo cycles of every host so far (speed figures).
uint64_t simulated_cycles();

// Joint torque [N m] a drive's current [per mille of rated] stands for, as the host converts it.
double drive_torque(int joint, double permille);

class SimHost {
public:
    SimHost(const HostConfig &config, ArmPlant &plant);

    // Starts the host records for the model, configures library and host, places the arm at
    // the joints [deg] and lets it settle for a few hundred cycles in the stopped state.
    void start(const Vec6 &joints_deg);
    void run_program(const JointProgram &program);  // robot state 2 from the next cycle
    void run_path(JointPath path);                  // the same for any path (speed unset)
    void enter_drag();                              // robot state 4 (hand guiding)
    void halt();                                    // robot state 1, holding where the arm is
    // Goal following: each cycle, once the host state is updated, `step` runs (the caller's
    // sensor reading and the library's guiding step); while the arm is stopped (state 1) the
    // drives' position loop then tracks the goal it left in mpb.targetJointPos. Other states
    // behave as before (joint drag in state 4 after a hand-over).
    void follow_goal(std::function<void()> step);

    // One servo cycle; the plant carries the loads set on it. `scripted_force` [N] is the
    // magnitude of a scripted load, for the trace.
    const TraceRow &cycle(double scripted_force = 0.0);

    double time() const { return t_; }
    const std::vector<HostEvent> &events() const { return events_; }
    // Drops the events and the host's call journal and log capture seen so far: long runs keep
    // them from growing (the library logs and calls the drives every cycle).
    void forget_history();
    const TraceRow &last() const { return row_; }
    ArmPlant &plant() { return plant_; }

private:
    void feed_forward();
    void scan_journal();
    void update_motion_fields();
    void observe();

    HostConfig config_;
    ArmPlant &plant_;
    JointPath path_;
    double program_speed_ = 0.0;  // [deg/s] of a joint program, 0 for other paths
    bool program_on_ = false;
    std::function<void()> goal_step_;
    double program_t_ = 0.0;
    double t_ = 0.0;
    Vec6 hold_{};
    Vec6 target_pos_{}, target_vel_{}, target_acc_{};
    Vec6 kp_{}, kd_{}, ki_{};
    Vec6 integral_{};
    Vec6 last_q_deg_{};
    double last_flange_[3] = {0, 0, 0};
    int32_t last_state_ = 1;
    std::size_t journal_seen_ = 0;
    uint32_t observer_joint_ = 0;  // joint the observer compares this cycle (round robin)
    std::vector<HostEvent> events_;
    TraceRow row_{};
};

}  // namespace kxsim
