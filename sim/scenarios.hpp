// The simulator's scenarios: hand guiding with an operator's push, a collision during a joint
// program (with the no-impact check), and a sweep of collision levels against impact forces.
// Each returns its figures; the command-line program prints and plots them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/host_loop.hpp"

namespace kxsim {

struct CommonOptions {
    uint32_t model = 101;         // arm model code
    uint64_t seed = 1;            // measurement noise
    bool progress = false;        // progress lines on stderr for long runs
    std::string config_root;      // host configuration folder (empty: the host's default)
};

// ---- Hand guiding ---------------------------------------------------------------------------

struct HandguideOptions {
    CommonOptions common;
    int mode = 2;                  // torque model: 0 gravity only, 2 full dynamics
    double force = 20.0;           // [N] operator push at the flange
    double direction[3] = {1, 0, 0};  // base frame, normalised by the scenario
    double ramp = 0.2;             // [s] rise and fall of the push
    double push = 1.0;             // [s] push at full force
    double duration = 4.0;         // [s] whole run (the arm is released after the push)
    double payload = 5.0;          // [kg] nominal payload configured in the library
    double payload_centre[3] = {0, 0, 60};  // [mm, flange frame]
    double payload_error = 1.0;    // plant payload = nominal x this factor
};

struct HandguideResult {
    std::vector<TraceRow> trace;
    double release_time = 0.0;     // [s] end of the push
    double travel_mm = 0.0;        // flange displacement at release from the start [mm]
    double drift_mm = 0.0;         // flange path length over the last second [mm]
    double end_speed = 0.0;        // flange speed at the end [mm/s]
    double peak_cmd[6] = {0, 0, 0, 0, 0, 0};  // largest |command word| per joint [per mille]
    std::vector<HostEvent> events;
};

HandguideResult run_handguide(const HandguideOptions &o);

// ---- Collision -----------------------------------------------------------------------------

struct CollisionOptions {
    CommonOptions common;
    int link = 3;                  // hit link 1..6 (force at its distal frame origin)
    double force = 150.0;          // [N] impact force
    double at = 0.8;               // [s] impact start, program time
    double rise = 0.02;            // [s] rise time of the impact force
    double hold = 0.3;             // [s] the force stays this long at full size
    double duration = 2.0;         // [s] program time simulated
    float level = 3.0f;            // collision level of every joint
    uint8_t reaction = 0;          // 0 pause, 2 stop, ...
    double speed = 60.0;           // [deg/s] programmed joint speed
    bool dual_encoder = true;
};

struct DetectorReport {
    bool detected = false;
    double delay_ms = 0.0;         // after the impact start
    int joint = 0;
    double force_at_detection = 0.0;  // [N]
};

// One simulated run of the program, with or without impact.
struct CollisionRun {
    std::vector<TraceRow> trace;
    std::vector<HostEvent> events;
    double impact_direction[3] = {0, 0, 0};
    double peak_force = 0.0;       // [N]
};

struct CollisionResult {
    CollisionRun live;             // detectors with the configured reaction
    DetectorReport residual;       // from a run in which detectors only report
    DetectorReport dual;
    std::string first_detector;    // in the live run ("residual", "dual-encoder" or "none")
    std::vector<HostEvent> reactions;  // host calls of the live run
    double halt_ms = -1.0;         // program halted this long after the impact (-1: never)
    int false_alarms_residual = 0; // run without impact
    int false_alarms_dual = 0;
    CollisionRun clean;
};

CollisionRun run_collision_once(const CollisionOptions &o, bool impact, bool monitor_only);
CollisionResult run_collision(const CollisionOptions &o);

// Detector reports of a run (first event of each detector at or after `from` [s]).
DetectorReport first_detection(const CollisionRun &run, const std::string &detector,
                               double from);
int count_alarms(const CollisionRun &run, const std::string &detector);

// ---- Sweep ---------------------------------------------------------------------------------

struct SweepCell {
    float level;
    double force;
    DetectorReport residual;
    DetectorReport dual;
};

std::vector<SweepCell> run_sweep(const CollisionOptions &base, const std::vector<float> &levels,
                                 const std::vector<double> &forces);

}  // namespace kxsim
