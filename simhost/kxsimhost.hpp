// The simulated host controller: defines the records mcb, mpb, how and every host function
// the library calls, records what the library asks of the host, and lets tests, benchmarks
// and the arm simulator set the host's inputs.
//
// C++ interface for tests and tools; the C host functions themselves are declared in
// host/kxmc_host_functions.h.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/kxmc_host.h"

namespace kxsim {

// ---- Start-up ----------------------------------------------------------------------------

// Defaults of a configured arm of the given model code: joint count 6, rated motor torques per
// motor size, joint speed limits, friction gains 1.0 / 0.5, collision levels, thresholds and
// count limit, payload table zeroed, identity tool, flange pose of the home joints, ...
// Then the saved settings are read back from the configuration files (as the real host does
// at start). Clears the journal and the log capture.
void startup(uint32_t model_code);

// Only the defaults, without reading the configuration files back.
void load_defaults(uint32_t model_code);

// Reads the saved settings of both configuration files into the records.
void load_saved_settings();

// ---- Configuration files -----------------------------------------------------------------

// Root folder under which "/root/robot/user.config" and "/root/robot/load.config" live.
// Taken from the environment variable KXMC_CONFIG_ROOT; when unset, a per-process folder
// under the system's temporary directory is created. set_config_root overrides both.
std::string config_root();
void set_config_root(const std::string &root);
// Host path ("/root/robot/user.config") to the real file under the root.
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
const std::vector<LogLine> &log_lines();
void clear_log();
// True when some captured line (optionally of the given level) equals text exactly.
bool log_contains(const std::string &text, int level = -1);
// Path of the log file (under the config root).
std::string log_file();

// ---- Journal of host actions ---------------------------------------------------------------

// One call the library made into the host that has an effect: qmcPause, qmcStop,
// qmcDragSwitch, doConfigHandle, resetWeldControlPara, qmcUpdateJointCartGoalPos,
// ConfigWriteEntry, kxHal* outputs, ... with its numeric arguments in order (strings of
// ConfigWriteEntry in `text`, joined by '|': path|section|key).
struct Call {
    std::string name;
    std::vector<double> args;
    std::string text;
};
const std::vector<Call> &journal();
void clear_journal();
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

// Current TCP pose returned by qmcGetRobotPos (x, y, z [mm], a, b, c [deg]); by default the
// forward kinematics of the tool at mpb.jointPos.
void set_robot_pos(const double pose[6]);
void clear_robot_pos();

// ---- Arm geometry the host's kinematics uses ----------------------------------------------

// Denavit-Hartenberg parameters of the arm of a model code (metres, radians).
struct ArmGeometry {
    double a[6];
    double alpha[6];
    double d[6];
    double theta_offset[6];
};
ArmGeometry arm_geometry(uint32_t model_code);

// Flange transform (mm) of the arm of mcb.robotModelCode at joints [deg].
Trsf flange_transform(const double joints_deg[6]);

// All inverse-kinematics solutions [deg] of a flange transform for the arm of
// mcb.robotModelCode (up to 8).
std::vector<std::vector<double>> inverse_kinematics_all(const Trsf &flange);

}  // namespace kxsim
