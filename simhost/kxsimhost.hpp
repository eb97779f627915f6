// The simulated host controller: defines the records mcb, mpb, how and every host function
// the library calls, records what the library asks of the host, and lets tests, benchmarks
// and the arm simulator set the host's inputs.
//
// C++ interface for tests and tools; the C host functions themselves are declared in
// host/kxmc_host_functions.h.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/kxmc_host.h"

namespace kxsim {

// ---- Start-up ----------------------------------------------------------------------------

// Defaults of a configured arm of the given model code (all stated in simhost/defaults.cpp):
// joint count 6, rated motor torques per motor size (14: 0.32, 17: 0.64, 25: 1.27, 32: 2.39,
// 40: 3.82 N m), joint speed limits of the model, friction gain 0.5 and speed gains 1.0,
// collision levels 1, level-1 thresholds of 20 % of each joint motor's rated torque, count
// limit 5, payload table zeroed, identity tool, the ready pose (0, -90, 90, -90, -90, 0) deg
// with its flange pose. Then the saved settings are read back from the configuration files
// (as the real host does at start). Resets the settable service inputs (feed-forward, ratios,
// hardware inputs, pose override, cycle, write-failure hook), clears journal and log capture.
void startup(uint32_t model_code);

// Only the defaults (every field of mcb, mpb, how zeroed first), without reading the
// configuration files back.
void load_defaults(uint32_t model_code);

// Reads the saved settings of both configuration files into the records (simhost/
// saved_settings.cpp holds the key -> field table). A value outside its field's range (a load
// index above 19, a collision level above 100, ...) keeps the default.
void load_saved_settings();

// ---- Configuration files -----------------------------------------------------------------

// Root folder under which "/root/robot/user.config" and "/root/robot/load.config" live.
// Taken from the environment variable KXMC_CONFIG_ROOT; when unset, a per-process folder
// under the system's temporary directory is created (and removed at exit when empty).
// set_config_root overrides both. Files are INI text: "[SECTION]" lines, then "KEY=value";
// values printed with "%.9g", which reads back to the identical float.
std::string config_root();
void set_config_root(const std::string &root);
// Host path ("/root/robot/user.config") to the real file under the root; empty for a path
// that would climb out of it ("..").
std::string config_file(const std::string &host_path);

struct ConfigKey {
    std::string section;
    std::string key;
    std::string value;  // as written in the file
};
// Keys of one file in file order (sections in order of first write, keys in order of first
// write within a section). Empty when the file does not exist.
std::vector<ConfigKey> read_config(const std::string &host_path);
// Value of one key as float; returns false when absent.
bool config_value(const std::string &host_path, const std::string &section,
                  const std::string &key, float *value);
// Removes both files.
void clear_config();
// Test hook: when set, the next ConfigWriteEntry writes its temporary file and then stops
// before replacing the real file, as a crash half-way would.
void fail_next_config_write_before_rename(bool on);

// ---- Log capture -------------------------------------------------------------------------

struct LogLine {
    int level;
    std::string text;  // formatted message, without the level/cycle prefix
};
// Write_Log formats into a 512-character stack buffer (longer messages are cut) and appends
// "[cycle][level] message" to log_file().
const std::vector<LogLine> &log_lines();
void clear_log();
// True when some captured line (optionally of the given level) equals text exactly.
bool log_contains(const std::string &text, int level = -1);
// Path of the log file (under the config root).
std::string log_file();

// ---- Journal of host actions ---------------------------------------------------------------

// One call the library made into the host that has an effect: qmcPause, qmcStop,
// qmcDragSwitch, doConfigHandle, resetWeldControlPara, qmcUpdateJointCartGoalPos,
// ConfigWriteEntry, Write_Log, kxHalSetVarGainFactor, kxHalEnableAxleDeviceType,
// kxHalSetAxleSensorData, kxHalSetJointIdentifyType, kxHalSetJointIdentifyEnable,
// kxHalGetSingleJointIdentify (the joint asked for), a gravity routine (qmcDynComGravityExload,
// ...Wall, ...Ceiling) given a null pointer (as "gravity routine given a null pointer"), with its
// numeric arguments in order (strings of ConfigWriteEntry in `text`, joined by '|':
// path|section|key; Write_Log: args {level}, text the message). Robot state effects:
// qmcPause -> 3, qmcStop -> 1, qmcDragSwitch(1) -> 4, qmcDragSwitch(0) -> 1.
struct Call {
    std::string name;
    std::vector<double> args;
    std::string text;
};
const std::vector<Call> &journal();
void clear_journal();
// Journal and log capture on (default) or off. Off, the host functions record nothing and
// allocate nothing: for long simulations and allocation-counting benchmarks (the library calls
// kxHalSetVarGainFactor every cycle). startup() turns recording back on.
void set_recording(bool on);
// Journal entries with the given name, in order.
std::vector<Call> calls(const std::string &name);
// Names of the journal in order, ConfigWriteEntry and Write_Log left out (compact assertions:
// {"qmcPause", "doConfigHandle", "resetWeldControlPara"}).
std::vector<std::string> action_names();

// ---- Host inputs and services ------------------------------------------------------------

// Cycle counter shown in log lines; the simulator advances it.
void set_cycle(uint64_t cycle);
uint64_t cycle();

// Velocity feed-forward current returned by newJointVelFFTorque [per mille of rated].
void set_velocity_feedforward(const float ff[6]);
// Collision ratios returned by newCollisionRatio (default: leave the caller's preset).
void set_collision_ratio(const float ratio[6]);
void clear_collision_ratio();

// Hardware layer inputs.
void set_axle_din(uint16_t din);
void set_joint_identification_data(const int32_t values[6]);
void set_single_joint_identify(int32_t a, int32_t b, int32_t c);
// Off: both identification reads fail and write nothing (drives not answering); on by default.
void set_joint_identify_answers(bool on);

// Sign of the quaternions trsfToQtrn returns: +1 (default) the representative with w >= 0, -1
// its negative, the same rotation as another kinematics library may hand it out.
void set_quaternion_sign(int sign);
int quaternion_sign();

// Current TCP pose returned by qmcGetRobotPos (x, y, z [mm], a, b, c [deg]); by default the
// forward kinematics of the tool at mpb.jointPos.
void set_robot_pos(const double pose[6]);
void clear_robot_pos();

// ---- Wrist force/torque sensor -------------------------------------------------------------

// Resolution of a sensor model and range index as its data sheet gives it: force [N] and
// moment [N m] per count (model 16: full scale 40, 11.2, 100, 160, 6.4, 20, 10, 20, 40, 60, 80,
// 120 kgf and 1.6, 0.4, 2.8, 4, 0.32, 0.8, 1.6, 1.6, 1.6, 1.6, 1.6, 15 kgf m at 4096 counts for
// ranges 0..11; models 18-22 (range 0), 23, 25, 80 (ranges 0-2) and 96 (range 0): 0.1 N and
// 0.01 N m). False for a combination no sensor has. Null outputs are skipped.
bool sensor_resolution(uint8_t model, uint8_t range, double *force_per_count,
                       double *moment_per_count);

// Digital inputs of the end device that report a sensor fault (kxHalGetAxleDin).
constexpr uint16_t kSensorFaultInput1 = 1u << 6;
constexpr uint16_t kSensorFaultInput2 = 1u << 7;
// Sets the end device's digital inputs to the two fault inputs (every other input 0).
void set_sensor_fault_inputs(bool input1, bool input2);

// The sensor's sample words for forceSensorDataProcess. sample() takes the wrench the tool side
// applies to the sensor in the sensor frame (Fx, Fy, Fz [N], Mx, My, Mz [N m]: the tool's
// weight plus any contact) and writes, per channel, wrench / resolution plus Gaussian noise of
// noise_counts standard deviation (seeded, so runs repeat), rounded to the nearest count and
// saturated at -32768..32767, into the low 16 bits; the upper bits count frames. An unknown
// model/range reads zero counts. No allocation after construction.
class SensorSampleSource {
public:
    SensorSampleSource(uint8_t model, uint8_t range, uint64_t seed, double noise_counts = 0.5);
    void sample(const double wrench[6], int32_t words[6]);
    double force_per_count() const { return force_per_count_; }    // [N]
    double moment_per_count() const { return moment_per_count_; }  // [N m]

private:
    int32_t count_of(double value, double per_count);
    std::mt19937_64 rng_;
    std::normal_distribution<double> noise_;
    bool noisy_;
    double force_per_count_ = 0.0;
    double moment_per_count_ = 0.0;
    uint32_t frame_ = 0;
};

// The host's position loop as an ideal servo, for kinematic closed-loop runs: the actual joints
// reach the commanded ones (mpb.targetJointPos) in this cycle. Updates the previous and actual
// joints, the joint velocities [deg/cycle] (actual and target), mpb.cmdJointPos, the flange
// pose (mpb.flangePose, mpb.cartPoseActual), the tool pose (mpb.cmdCartPose, mpb.tcpPos with
// angles continuing from the previous ones) and the TCP speed mpb.tcpSpeed [mm/s].
void ideal_position_loop_step();

// ---- Arm geometry the host's kinematics uses ----------------------------------------------

// Standard Denavit-Hartenberg parameters of the arm of a model code (metres, radians), link
// transform Rz(theta + theta_offset) Tz(d) Tx(a) Rx(alpha). Standard chain: twists 90, 0, 0,
// 90, -90, 0 deg, a = (0, a2, a3, 0, 0, 0), d = (d1, 0, 0, d4, d5, d6). TZ family (701,
// 801-900): elbow-offset chain, twists 90, 0, 90, -90, 90, 0 deg, a = (0, -0.42, 0.012, 0, 0, 0),
// d = (0.14, 0, 0, 0.36, 0.102, 0.1). The table is in simhost/geometry.cpp.
struct ArmGeometry {
    double a[6];
    double alpha[6];
    double d[6];
    double theta_offset[6];
};
ArmGeometry arm_geometry(uint32_t model_code);

// Flange transform (mm) of the arm of mcb.robotModelCode at joints [deg].
Trsf flange_transform(const double joints_deg[6]);

// All inverse-kinematics solutions [deg, each in (-180, 180]] of a flange transform for the
// arm of mcb.robotModelCode: up to 8 closed-form solutions of the standard chain (shoulder,
// wrist and elbow branches; a wrist-singular solution takes q6 = mpb.jointPos[5]); for the TZ
// chain the one solution a damped Newton iteration finds from mpb.jointPos. Empty when the
// pose is out of reach.
//
// qmcGetInverseKinematicNoLine picks, among these, the solution nearest the reference joints
// (smallest sum of squared differences after wrapping every joint into the reference's
// +-180 deg neighbourhood) and returns it so wrapped.
std::vector<std::vector<double>> inverse_kinematics_all(const Trsf &flange);

}  // namespace kxsim
