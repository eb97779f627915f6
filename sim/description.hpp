// The simulated arms' own descriptions, as a robot description ships with a real arm: link
// geometry, masses, centres of mass, inertias, rotor inertias and drives, read from the text
// files under sim/data/ (built into the program). The plant never reads the library's parameter
// tables: a wrong number on either side shows as a disagreement between plant and model.
//
// Units in the files and in these records: lengths mm, angles deg, masses kg, inertias kg mm^2,
// torques N m (joint side unless named motor side).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kxsim {

// Inertial parameters of one rigid body: mass, centre of mass and the inertia tensor about the
// centre (Ixx, Ixy, Ixz, Iyy, Iyz, Izz, products as tensor entries), both in the body's frame.
struct Inertial {
    double mass = 0.0;                      // [kg]
    std::array<double, 3> centre{};         // [mm]
    std::array<double, 6> inertia{};        // [kg mm^2]
};

// One arm. Link i's frame is the distal Denavit-Hartenberg frame i (standard convention: link
// transform Rz(theta_i) Tz(d_i) Tx(a_i) Rx(alpha_i), theta_i the joint angle); the chain lengths
// d1, a2, a3, d4, d5, d6 give a = (0, a2, a3, 0, 0, 0) and d = (d1, 0, 0, d4, d5, d6).
struct ArmDescription {
    std::string name;                                  // "5-kg arm"
    std::string file;                                  // "kx5.arm"
    std::vector<std::pair<uint32_t, uint32_t>> codes;  // model-code ranges, inclusive
    std::array<double, 6> twist{};                     // alpha [deg]
    std::array<double, 6> lengths{};                   // d1, a2, a3, d4, d5, d6 [mm]
    std::array<uint8_t, 6> motor{};                    // motor size per joint
    std::array<double, 6> rotor{};  // rotor inertia reflected to the joint [kg mm^2]
    std::array<Inertial, 6> link{};
    std::array<double, 6> lower{}, upper{};            // joint range [deg]
    std::array<double, 6> radius{};                    // collision capsule radius per link [mm]

    double dh_a(int i) const;  // [mm]
    double dh_d(int i) const;  // [mm]
    bool has_code(uint32_t code) const;
};

// A joint's friction as the plant has it (joint side):
//   f(w) = (coulomb + (stiction - coulomb) exp(-(w / stribeck)^2)) tanh(w / smoothing) + viscous w.
struct JointFriction {
    double coulomb = 0.0;    // [N m]
    double stiction = 0.0;   // [N m] breakaway level
    double stribeck = 1.0;   // [rad/s] speed where the static peak has decayed
    double smoothing = 1.0;  // [rad/s] width of the smooth sign
    double viscous = 0.0;    // [N m s/rad]

    double torque(double w) const;  // [N m] at joint speed w [rad/s]; opposes the motion
};

// The drive of one motor size: rated motor torque, gear and the joint's elasticity and friction.
struct Drive {
    uint8_t size = 0;
    double rated = 0.0;       // [N m] motor side
    double gear = 1.0;        // motor turns per joint turn
    double stiffness = 0.0;   // [N m/rad] gear torsional stiffness
    JointFriction friction;
};

// A human body region: effective stiffness and permissible contact forces.
struct BodyRegion {
    std::string name;             // "chest"
    double stiffness = 0.0;       // [N/mm]
    double quasi_static = 0.0;    // [N] permissible clamping force
    double transient = 0.0;       // [N] permissible transient force
};

// ---- Parsing --------------------------------------------------------------------------------
// Each parser reads a whole file's text; '#' starts a comment. On a fault it returns false and
// names the line in `error`.
bool parse_arm(const std::string &text, ArmDescription &arm, std::string &error);
bool parse_drives(const std::string &text, std::vector<Drive> &drives, std::string &error);
bool parse_body_regions(const std::string &text, std::vector<BodyRegion> &regions,
                        std::string &error);

// ---- Built-in data --------------------------------------------------------------------------
// Every arm description under sim/data/arms, in file-name order.
const std::vector<ArmDescription> &arms();
// The arm of a model code; nullptr for codes the plant has no description of.
const ArmDescription *find_arm(uint32_t model_code);
const std::vector<Drive> &drives();
// The drive of a motor size; nullptr for an unknown size.
const Drive *find_drive(uint8_t size);
// The body-region table: the built-in one, or the one last loaded by load_body_regions.
const std::vector<BodyRegion> &body_regions();
const BodyRegion *find_body_region(const std::string &name);
// Replaces the body-region table by a file's; false (table unchanged) on a fault.
bool load_body_regions(const std::string &path, std::string &error);
void reset_body_regions();

// ---- Model error ----------------------------------------------------------------------------
// How far the simulated arm's truth departs from its description, at scale 1: each link mass by
// up to +-5 %, each centre coordinate by up to +-5 mm, each principal second moment of the
// link's mass distribution by up to +-10 % (so every tensor stays physical). Errors are drawn
// uniformly from a seeded stream; the scale multiplies every bound (0: the nominal arm).
struct ModelError {
    double scale = 1.0;
    uint64_t seed = 1;
};
constexpr double kMassError = 0.05;      // relative
constexpr double kCentreError = 5.0;     // [mm]
constexpr double kInertiaError = 0.10;   // relative, principal second moments

ArmDescription perturbed(const ArmDescription &nominal, const ModelError &error);
// A carried body's truth from what is declared: mass +-5 %, centre +-5 mm at scale 1.
Inertial perturbed(const Inertial &declared, const ModelError &error, uint64_t stream);

}  // namespace kxsim
