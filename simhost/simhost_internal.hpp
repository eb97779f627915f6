// Pieces the translation units of the simulated host share; not part of its interface.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/kxmc_host.h"
#include "kxsimhost.hpp"

namespace kxsim {
namespace detail {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kRadToDeg = 180.0 / kPi;

// ---- Journal (journal_log.cpp) -------------------------------------------------------------
// Appends a call to the journal (nothing, and no allocation, while recording is off).
void record_call(const char *name, const double *args, int count,
                 const std::string &text = std::string());
void record_call(const char *name, std::initializer_list<double> args,
                 const std::string &text = std::string());
// The configuration root, chosen on first use (config_root() hands out a copy).
const std::string &root_path();
// Resets the settable inputs of the host services (feed-forward, ratios, hardware inputs,
// pose override, cycle counter, write-failure hook) to their start-up state.
void reset_services();
void reset_config_hooks();

// ---- Transforms (transforms.cpp) -----------------------------------------------------------
Trsf identity_trsf();
// x, y, z [mm], angles (first, second, third) [deg] of a transform, no continuity reference.
void trsf_to_pose(const Trsf &t, double pose[6]);
Trsf pose_to_trsf(const double pose[6]);
// Wraps an angle [deg] into (ref - 180, ref + 180].
double wrap_near(double angle, double ref);

// ---- Kinematics (kinematics.cpp) -----------------------------------------------------------
// Flange transform [mm] of a geometry at joints [deg].
Trsf forward_kinematics(const ArmGeometry &g, const double joints_deg[6]);
// Tool transform (flange * mpb.toolTrsf) of the arm of mcb.robotModelCode.
Trsf tool_transform(const double joints_deg[6]);
// True when the geometry is the six-joint chain whose closed-form solution applies
// (twists 90, 0, 0, 90, -90, 0; a1 = a4 = a5 = a6 = 0; d2 = d3 = 0).
bool has_closed_form_ik(const ArmGeometry &g);
// Closed-form solutions [deg, each in (-180, 180]] of a flange transform [mm]; theta6 of a
// wrist-singular solution takes wrist_ref6 [deg]. Returns the number written (0..8). With
// verify false the candidates are not checked against the pose (see the next function).
int closed_form_ik(const ArmGeometry &g, const Trsf &flange, double wrist_ref6,
                   double out[8][6], bool verify = true);
// A closed-form candidate [deg] reproduces the flange transform (the check verify applies).
bool closed_form_solution_holds(const ArmGeometry &g, const Trsf &flange, const double deg[6]);
// Damped Newton iteration from the reference joints [deg]; true on convergence.
bool numeric_ik(const ArmGeometry &g, const Trsf &flange, const double ref_deg[6],
                double out_deg[6]);

// ---- Model table (defaults.cpp) ------------------------------------------------------------
struct ModelDefaults {
    uint8_t motor_size[6];     // 14, 17, 25, 32 or 40
    double max_speed[6];       // [deg/s]
    uint8_t teach_mode;        // torque model selected at start: 0 gravity only, 2 full dynamics
};
const ModelDefaults &model_defaults(uint32_t model_code);
// Rated motor torque [N m, motor side] of a motor size.
float rated_torque_of_size(uint8_t size);

}  // namespace detail
}  // namespace kxsim
