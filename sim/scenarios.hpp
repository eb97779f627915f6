// The simulator's scenarios: hand guiding with an operator's push, a collision during a joint
// program (with the no-impact check), a sweep of collision levels against scripted impact
// forces, the safety table (the arm driven into human body regions), the momentum observer
// meeting a collision, the payload identified on the excitation trajectory and the friction
// identification of one joint. Each returns its figures; the command-line program prints and
// plots them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/host_loop.hpp"

namespace kxsim {

struct CommonOptions {
    uint32_t model = 101;         // arm model code
    uint64_t seed = 1;            // measurement noise and the arm's model error
    double model_error = 1.0;     // scale of the seeded model error (0: the nominal arm)
    Vec6 friction_scale{1, 1, 1, 1, 1, 1};  // the plant's joint friction, per joint
    bool progress = false;        // progress lines on stderr for long runs
    std::string config_root;      // host configuration folder (empty: the host's default)
};

// The plant of a scenario: the common options' arm, error and friction with a scene.
PlantConfig plant_config(const CommonOptions &c, const Scene &scene);
// A progress line on stderr at simulated time t [s] of a long run, when asked for.
void progress(const CommonOptions &c, const char *name, double t, double total);

// ---- Hand guiding ---------------------------------------------------------------------------

struct HandguideOptions {
    CommonOptions common;
    int mode = 2;                  // torque model: 0 gravity only, 2 full dynamics
    double force = 20.0;           // [N] operator push at the flange
    double direction[3] = {1, 0, 0};  // base frame, normalised by the scenario
    double ramp = 0.2;             // [s] rise and fall of the push
    double push = 1.0;             // [s] push at full force
    double duration = 4.0;         // [s] whole run (the arm is released after the push)
    double payload = 5.0;          // [kg] payload the host declares
    double payload_centre[3] = {0, 0, 60};  // [mm, flange frame]
    double payload_error = 1.0;    // carried payload = declared x this (then the model error)
};

struct HandguideResult {
    std::vector<TraceRow> trace;
    double release_time = 0.0;     // [s] end of the push
    double travel_mm = 0.0;        // flange displacement at release from the start [mm]
    double drift_mm = 0.0;         // flange path length over the last second [mm]
    double end_speed = 0.0;        // flange speed at the end [mm/s]
    double peak_cmd[6] = {0, 0, 0, 0, 0, 0};  // largest |command word| per joint [per mille]
    double carried_mass = 0.0;     // [kg] the payload's truth
    std::vector<HostEvent> events;
};

HandguideResult run_handguide(const HandguideOptions &o);

// ---- Collision -----------------------------------------------------------------------------

// What the arm meets: a scripted force, a rigid box, or a human body region (by name).
constexpr const char *kScripted = "scripted";
constexpr const char *kBox = "box";
constexpr int kToolPoint = 7;      // hit point "link" 7: the tool centre point

struct CollisionOptions {
    CommonOptions common;
    std::string obstacle = kBox;
    int link = 0;                  // hit point: origin of DH frame 1..6, or 7 the tool centre
                                   // point; 0: the tool against obstacles, link 3 when scripted
    double force = 150.0;          // [N] scripted impact force
    double at = 0.8;               // [s] program time of the impact (obstacle: planned contact)
    double rise = 0.02;            // [s] rise time of the scripted force
    double hold = 0.3;             // [s] the scripted force stays this long at full size
    double duration = 2.0;         // [s] program time simulated
    float level = 3.0f;            // collision level of every joint
    uint8_t reaction = 0;          // 0 pause, 2 stop, ...
    double speed = 60.0;           // [deg/s] programmed joint speed
    bool dual_encoder = true;
    bool scan_doubled_error = true;  // also look for false alarms with twice the model error
    bool observer = false;         // the momentum observer is the only detector ("observer")
};

struct DetectorReport {
    bool detected = false;
    double delay_ms = 0.0;         // after the impact started
    int joint = 0;
    double force_at_detection = 0.0;  // [N]
};

// One simulated run of the program, with or without impact.
struct CollisionRun {
    std::vector<TraceRow> trace;
    std::vector<HostEvent> events;
    bool impact = false;           // the load started (scripted) or the arm touched the obstacle
    double onset = 0.0;            // [s] when: scripted start or first contact
    double impact_direction[3] = {0, 0, 0};  // motion of the hit point at the onset (unit)
    double contact_speed = 0.0;    // [mm/s] speed of the hit point at the onset
    double peak_force = 0.0;       // [N]
    double impulse = 0.0;          // [N s] contact force integrated over kImpulseWindow
};
constexpr double kImpulseWindow = 0.5;  // [s] after the onset

struct CollisionResult {
    CollisionRun live;             // detectors with the configured reaction
    DetectorReport residual;       // from a run in which detectors only report
    DetectorReport dual;
    std::string first_detector;    // in the live run ("residual", "dual-encoder" or "none")
    std::vector<HostEvent> reactions;  // host calls of the live run
    double halt_ms = -1.0;         // program halted this long after the onset (-1: never)
    int false_alarms_residual = 0; // run without impact
    int false_alarms_dual = 0;
    CollisionRun clean;
    // False alarms of the run without impact at levels 1..10 with twice the model error, per
    // detector, the highest level that had any (0: none), and the largest torque residual of
    // the level-1 run as a share of its threshold; empty when not scanned.
    std::vector<int> doubled_error_residual_alarms;
    std::vector<int> doubled_error_dual_alarms;
    int doubled_error_alarm_level = 0;
    double doubled_error_residual_share = 0.0;
};

CollisionRun run_collision_once(const CollisionOptions &o, bool impact, bool monitor_only);
// The hit point a collision run uses (resolves link 0).
int hit_link(const CollisionOptions &o);
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

// Scripted impacts (whatever obstacle `base` names) over levels and forces.
std::vector<SweepCell> run_sweep(const CollisionOptions &base, const std::vector<float> &levels,
                                 const std::vector<double> &forces);

// ---- Safety table --------------------------------------------------------------------------

struct SafetyOptions {
    CommonOptions common;
    std::vector<std::string> regions = {"chest", "hand", "upper-arm"};
    std::vector<float> levels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<double> speeds = {20, 40, 60};  // [deg/s] programmed joint speeds
    int link = kToolPoint;         // the arm's point that meets the region
    uint8_t reaction = 0;
    bool dual_encoder = true;
    double after = 0.6;            // [s] simulated after the planned contact
};

struct SafetyRow {
    std::string region;
    float level = 0.0f;
    double speed = 0.0;            // [deg/s] programmed
    double contact_speed = 0.0;    // [mm/s] of the hit point at first contact
    bool contact = false;
    bool detected = false;
    std::string detector;          // first detector to fire
    double delay_ms = 0.0;         // first contact to detection
    double peak = 0.0;             // [N] peak transient contact force
    double limit = 0.0;            // [N] the region's permissible transient force
    double held = 0.0;             // [N] contact force at the end (the arm halted, clamping)
    double held_limit = 0.0;       // [N] the region's permissible quasi-static force
    bool within() const { return contact && peak <= limit; }
};

// One row per region, level and speed, in that nesting order. Throws std::runtime_error for
// an unknown region.
std::vector<SafetyRow> run_safety(const SafetyOptions &o);

// ---- Wrist-sensor guiding -------------------------------------------------------------------

// End-force hand guiding: the arm carries a wrist sensor and a tool; an operator pushes a point
// of the tool, the library turns the sensor's wrench into a goal each cycle and the host's
// position loop follows it. The path run pushes the tool toward a box that a virtual wall
// guards; the singularity run pushes the wrist through its singular pose.
struct FtguideOptions {
    CommonOptions common;
    double force = 20.0;              // [N] operator push at the tool centre point
    double direction[3] = {0, 1, 0};  // path run, base frame (normalised by the scenario)
    double start = 0.3;               // [s] the push begins (the sensor reads the tool at rest)
    double ramp = 0.2;                // [s] rise and fall of the push
    double push = 3.0;                // [s] at full force
    double duration = 5.0;            // [s] each run
    double damping = 200.0;           // [N s/m] translational damping of the admittance
    double inertia = 10.0;            // [kg] translational virtual mass
    double box_distance = 300.0;      // [mm] tool point to the wall's face at the start
    double clearance = 15.0;          // [mm] wall face to the tool's surface at the box
    bool wall = true;                 // virtual wall around the box
    double joint_speed_limit = 90.0;  // [deg/s] guiding stops above it
    double tool_mass = 1.2;           // [kg] the tool's truth; the host declares the nominal
    double tool_mass_error = 1.0;     // carried tool mass = declared x this
    uint8_t sensor_model = 16;
    uint8_t sensor_range = 0;
    double sensor_noise = 0.5;        // [counts] standard deviation
    int singularity_flag = 1;         // 1: damp and hand over to joint drag; 0: constraint wrench
    double singular_wrist = -35.0;    // [deg] joint 5 at the start of the singularity run
};

struct FtguideRun {
    std::vector<TraceRow> trace;
    std::vector<Vec3> tool;           // tool centre point per cycle [mm, base]
    std::vector<double> speed;        // its speed along the push [mm/s]
    std::vector<double> commanded;    // fastest commanded joint per cycle [deg/s]
    Vec3 direction{};                 // push direction (unit, base)
    double release = 0.0;             // [s] the push has ended
    double expected_speed = 0.0;      // force / damping [mm/s]
    double steady_speed = 0.0;        // mean speed along the push before the wall [mm/s]
    double travel = 0.0;              // tool point displacement along the push [mm]
    double stop_time = -1.0;          // [s] after the release until below 1 mm/s (-1: never)
    double end_speed = 0.0;           // [mm/s] at the end of the run
    double rest_residual = 0.0;       // [N] compensated force before the push
    double peak_commanded = 0.0;      // [deg/s] fastest commanded joint
    double peak_actual = 0.0;         // [deg/s] fastest actual joint while guiding
    uint32_t warning = 0;             // mcb.warningCode at the end
    bool guiding_on = false;          // mcb.endForceDragOn at the end
    std::vector<HostEvent> events;
    // Path run.
    bool boxed = false;
    ObstacleSpec box;
    double box_bounds[6] = {0, 0, 0, 0, 0, 0};  // the box's corners [mm, base]
    double wall_box[6] = {0, 0, 0, 0, 0, 0};    // virtual wall corners [mm]
    double min_wall_gap = 0.0;        // [mm] tool point to the wall's face, closest
    double min_box_gap = 0.0;         // [mm] tool surface to the box, closest
    double band_speed = 0.0;          // [mm/s] along the push at the end of the push
    double peak_contact = 0.0;        // [N] the box's contact force
    // Singularity run.
    double wrist_start = 0.0, wrist_end = 0.0;  // joint 5 [deg]
    double wrist_min = 0.0;           // smallest |joint 5| [deg]
    int handovers = 0, returns = 0;   // qmcDragSwitch(1) / (0)
};

struct FtguideResult {
    FtguideRun path;
    FtguideRun singular;
};

// The start pose of the path run and of the singularity run (joint 5 as given) [deg].
Vec6 ftguide_path_start();
Vec6 ftguide_singular_start(double wrist);
FtguideRun run_ftguide_path(const FtguideOptions &o);
FtguideRun run_ftguide_singular(const FtguideOptions &o);
FtguideResult run_ftguide(const FtguideOptions &o);
// ---- Momentum observer ---------------------------------------------------------------------

struct ObserverResult {
    CollisionRun live;             // the observer acts with the configured reaction
    DetectorReport detection;      // from a run in which the observer only reports
    std::vector<HostEvent> reactions;  // host calls of the live run
    double halt_ms = -1.0;         // program halted this long after the onset (-1: never)
    Vec6 peak_residual{};          // [N m] largest |residual| per joint within 0.3 s of the onset
                                   // (reporting run)
    CollisionRun clean;            // the program without impact, the observer reporting
    int false_alarms = 0;
    double clean_share = 0.0;      // largest |residual| / (threshold + allowance) without impact
};

// The collision scenario with the momentum observer as the arm's detector (the residual check
// and the dual-encoder detector off). The observer's joint-space model is the 5-kg arm on the
// floor: throws std::runtime_error for another arm.
ObserverResult run_observer(const CollisionOptions &o);

// ---- Excitation identification ------------------------------------------------------------

struct ExcitationOptions {
    CommonOptions common;
    double payload = 2.0;                    // [kg] body carried on the tool
    double payload_centre[3] = {30, -20, 60};  // [mm, flange frame]
    double period = 10.0;                    // [s] the Fourier series' own period
    double play = 40.0;                      // [s] real time of one period: the run's length
    double lead_in = 2.0;                    // [s] the arm speeds up onto the trajectory
    std::vector<double> model_errors = {0.0, 1.0};  // plants identified, by model error scale
};

// A payload identified against one baseline.
struct ExcitationEstimate {
    int status = -2;               // the result call's return: 0, -2 no solution, -3 no mass
    double mass = 0.0;             // [kg]
    double centre[3] = {0, 0, 0};  // [mm, flange frame]
    double mass_error = 0.0;       // [kg] against the plant's truth
    double centre_error = 0.0;     // [mm] distance from the truth
};

struct ExcitationRow {
    double model_error = 0.0;
    Inertial truth;                // the payload the plant carries
    ExcitationEstimate table;        // against the tabulated no-load baseline
    ExcitationEstimate measured;     // against a no-load run of the same plant
    double peak_rate = 0.0;        // [deg/s] fastest joint rate of the payload run
};

struct ExcitationResult {
    std::vector<ExcitationRow> rows;
    std::vector<TraceRow> trace;   // payload run of the last row, every 10th cycle
};

// Per model error: a run without payload (the measured baseline), then one with the payload.
// Throws std::runtime_error for another arm than the 5-kg arm (the wrist regressor's).
ExcitationResult run_excitation(const ExcitationOptions &o);

}  // namespace kxsim

// ---- Tool load identification on the wrist sensor ----------------------------------------------

namespace kxsim {

struct ToolloadOptions {
    CommonOptions common;
    double mass = 2.0;                       // [kg] the tool's truth
    double centre[3] = {15.0, -10.0, 80.0};  // [mm] its centre of mass, flange frame
    double mount[6] = {0, 0, 30, 0, 0, 30};  // sensor on the flange: x, y, z [mm], a, b, c [deg]
    double bias[6] = {0.8, -0.5, 1.2, 0.03, -0.02, 0.01};  // the sensor's own offsets [N, N m]
    std::vector<Vec6> poses = {{0, -90, 90, -90, -90, 0}, {0, -90, 90, -45, -90, 0},
                               {0, -90, 90, -90, -45, 30}};  // [deg]
    double settle = 1.0;                     // [s] held at each pose before it is recorded
};

struct ToolloadResult {
    int32_t status = -1;                  // of the identification (0 identified)
    double mass = 0.0;                    // [kg] identified
    double centre[3] = {0, 0, 0};         // [mm] identified, sensor frame
    double true_centre[3] = {0, 0, 0};    // [mm] the truth in the sensor frame
    double offsets[6] = {0, 0, 0, 0, 0, 0};  // identified [N, N m]
    double residual[6] = {0, 0, 0, 0, 0, 0}; // compensated wrench at the last pose afterwards
    double force_count = 0.0, moment_count = 0.0;  // sensor resolution [N], [N m]
    std::vector<TraceRow> trace;
};

// The arm holds the tool still in each pose while the simulated sensor (model 16, range 0, with
// the bias added) feeds the library; each pose is recorded, then the tool is identified.
ToolloadResult run_toolload(const ToolloadOptions &o);
// ---- Friction identification ---------------------------------------------------------------

struct FrictionIdOptions {
    CommonOptions common;
    // 1..6, driven alone through the identification's speed ladder. The flange joint by
    // default: in the start pose its axis is vertical, so its torque holds friction alone (the
    // gravity torque of a shoulder or elbow joint, known to the library only within the arm's
    // model error, would enter the recorded residuals).
    int joint = 6;
};

// The friction torques at one of the identification's test speeds [N m, joint side].
struct FrictionIdPoint {
    double speed = 0.0;            // [deg/s]
    double plant = 0.0;            // the plant's friction (its law, friction scale included)
    double identified = 0.0;       // the identified curve: slow set below 18 deg/s, fast set above
    double compensation = 0.0;  // the library's compensation law, which the verdict compares with
    double error() const { return plant != 0.0 ? (identified - plant) / plant : 0.0; }
};

// One recorded bin: mean speed [deg/s] and mean torque residual scaled to the joint side [N m].
struct FrictionIdBin {
    double speed = 0.0;
    double torque = 0.0;
};

struct FrictionIdResult {
    uint16_t status = 0;           // the library's verdict: 0 friction in order, 1 not
    float identified[10] = {};     // slow fc, fs, qs, yita, sita, then the fast five
    float reference[10] = {};
    std::vector<FrictionIdPoint> points;  // the 20 test speeds, ascending
    std::vector<FrictionIdPoint> curve;   // the same torques over the ladder's speeds, ascending
    std::vector<FrictionIdBin> bins;      // the 40 slow and 60 fast bins, ascending speed
    double largest_error = 0.0;    // largest |identified - plant| / |plant| over the test speeds
    double start_deg = 0.0;        // where the ladder started the joint
    int alarms = 0;                // collision detector reports during the ladder (monitored)
    std::vector<TraceRow> trace;
};

// The host arms the recorder, runs the ladder on the joint (the per-cycle torque control feeds
// the recorder), switches it off and asks for the fit and the verdict.
FrictionIdResult run_frictionid(const FrictionIdOptions &o);
// Friction torque of an identified parameter set (fc, fs, qs, yita, sita) at w [rad/s].
double identified_friction(const float set[5], double w);

}  // namespace kxsim

// ---- Constant force on a compliant surface -------------------------------------------------

namespace kxsim {

struct ConstforceOptions {
    CommonOptions common;
    double target = 10.0;        // [N] pressing force along base Z
    double stiffness = 5.0;      // [N/mm] of the surface
    double friction = 0.3;       // Coulomb coefficient of stylus on surface
    double speed = 20.0;         // [mm/s] of the host's path along base X
    double duration = 6.0;       // [s]
    double move_from = 0.5;      // [s] the host starts along the path
    double stop_before = 0.5;    // [s] the path ends this long before the run
    double settle = 1.0;         // [s] statistics from here on
    double gap = 1.0;            // [mm] stylus tip above the surface at the start
    double kp = 0.002;           // [mm per N and cycle] gains the host sets, Z axis
    double ki = 0.0;
    double kd = 0.0;
    bool z_filter = false;       // low-pass of the quantised Z error
    bool adapt = false;          // gain adaptation of the Z axis
    double max_offset = 50.0;    // [mm] offset limit
    double sensor_noise = 0.5;   // [counts] standard deviation
};

struct ConstforceResult {
    std::vector<TraceRow> trace;
    std::vector<double> t, contact, reading, offset, tip_x,
        tip_z;                   // per cycle [s, N, N, mm, mm, mm]
    int32_t start_status = -9;   // of the start command
    // Z force error after the settle time: the surface's force (truth) and the library's reading.
    double mean = 0.0, sd = 0.0, worst = 0.0;                        // [N]
    double reading_mean = 0.0, reading_sd = 0.0, reading_worst = 0.0;  // [N]
    double lateral_mean = 0.0;   // [N] friction force along the surface
    double face_z = 0.0;         // [mm] the surface's face at rest (base)
    double effective_stiffness = 0.0;  // [N/mm] force over the tip's depth below the face
    double travel = 0.0;         // [mm] of the stylus tip along X
    int faults = 0;              // cycles that returned an offset-limit fault
    uint32_t fault = 0;
    int unreachable = 0;         // cycles whose corrected pose had no joint solution
    int alarms = 0;              // collision detector reports (monitored only)
    bool control_on = false;     // at the end
};

// The start pose (stylus pointing down) [deg].
Vec6 constforce_start();
ConstforceResult run_constforce(const ConstforceOptions &o);

}  // namespace kxsim

// ---- Force-and-torque guiding through the torque cycle -------------------------------------

namespace kxsim {

struct TorqueGuidingOptions {
    CommonOptions common;
    double force = 10.0;              // [N] operator push at the tool centre point
    double direction[3] = {0, 1, 0};  // base frame
    double start = 0.3;               // [s]
    double ramp = 0.2;                // [s]
    double push = 0.6;                // [s] at full force
    double duration = 1.5;            // [s]
    bool sensor_term = true;          // the sensor torque mode on
    double reduce = 3.0;              // lambda of every joint, which the host also sets as its
                                      // mcb.forceTorqueDragReduce: the cycle adds
                                      // (reduce - 1) x the sensor torque
    double speed_limit = 1000.0;      // [mm/s] TCP speed supervision of the mode
    double sensor_noise = 0.5;        // [counts]
};

struct TorqueGuidingResult {
    std::vector<TraceRow> trace;
    std::vector<double> along;        // tool centre point along the push from the start [mm]
    int32_t start_status = -9;
    double travel = 0.0;              // [mm] along the push at the release
    double mapping_error = 0.0;       // [N m] largest |torque the mapping took in - J^T w|
    double mapping_peak = 0.0;        // [N m] largest |J^T w| (plant's kinematics)
    int compared = 0;                 // cycles compared
    bool guiding_on = false;          // mode on and the arm in drag at the end
    uint32_t warning = 0;
};

// The arm in joint drag with the wrist sensor's torque term; an operator pushes the tool.
TorqueGuidingResult run_torque_guiding(const TorqueGuidingOptions &o);

}  // namespace kxsim
