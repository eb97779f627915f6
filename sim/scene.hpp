// What the simulated arm carries and meets: the wrist force/torque sensor between flange and
// tool, the tool, the payload, and obstacles (rigid boxes, compliant surfaces, human body
// regions). A scene is fixed when the plant is built (the physics engine compiles it into its
// model); what changes while it runs (operator pushes, scripted loads) goes through ArmPlant.
//
// Frames and units: the base frame is the arm's Denavit-Hartenberg frame 0 (z up on a floor
// mounting); the flange frame is DH frame 6. Lengths mm, angles deg, forces N, moments N m,
// stiffness N/mm.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "sim/description.hpp"
#include "sim/frames.hpp"

namespace kxsim {

// The wrist force/torque sensor sits on the flange; the tool is mounted on the sensor. Its frame
// is the flange frame moved by `offset` (in the flange frame) and turned by R = Rz(c) Ry(b) Rx(a)
// with rpy = (a, b, c), the host's roll-pitch-yaw convention.
struct SensorMount {
    Vec3 offset{};  // [mm]
    Vec3 rpy{};     // [deg]
};

// The tool: a rigid body on the sensor. Its collision geometry is a capsule of `radius` from the
// sensor origin to the tool centre point. Inertial data and points in the flange frame (as the
// host declares a payload).
struct ToolSpec {
    Inertial inertial;           // [kg, mm, kg mm^2], flange frame
    Vec3 tcp{0.0, 0.0, 100.0};   // [mm] tool centre point, flange frame
    double radius = 35.0;        // [mm]
};

// An obstacle: a box whose face toward the arm is centred at `face_centre` with outward unit
// normal `normal` (base frame). Rigid when `stiffness` is 0: fixed to the ground. Otherwise a
// padded contact: the face plate (mass `mass`) rides on a spring of `stiffness` and a damper of
// `damping_ratio` of critical along the normal, backed by the ground (a region clamped against
// something fixed, the harder case). The contact force is the physics engine's.
struct ObstacleSpec {
    Vec3 face_centre{};                // [mm]
    Vec3 normal{0.0, 0.0, 1.0};
    std::array<double, 2> face{120.0, 120.0};  // [mm] face width and height
    double thickness = 60.0;           // [mm]
    double stiffness = 0.0;            // [N/mm]; 0: rigid
    double damping_ratio = 0.5;
    double mass = 0.05;                // [kg] face plate of a compliant obstacle
    double friction = 0.5;             // Coulomb coefficient against the arm
    double contact_time = 0.0;         // [s] time constant of the contact with the arm; 0: the
                                       // stiffest contact the integration step resolves
};

// A rigid box on the path of the arm.
ObstacleSpec rigid_box(const Vec3 &face_centre, const Vec3 &normal);
// A human body region as a padded contact of the region's effective stiffness.
ObstacleSpec body_region_pad(const BodyRegion &region, const Vec3 &face_centre,
                             const Vec3 &normal);
// A compliant surface (a table top, a work piece) of the given stiffness [N/mm].
ObstacleSpec compliant_surface(const Vec3 &face_centre, const Vec3 &normal, double stiffness,
                               std::array<double, 2> face = {400.0, 400.0});

struct Scene {
    SensorMount sensor;
    ToolSpec tool;
    Inertial payload;            // carried on the tool, flange frame: the truth, whatever the
                                 // host declares
    std::vector<ObstacleSpec> obstacles;
};

// Wrench of six numbers: force (N) then moment (N m).
using Wrench = std::array<double, 6>;

}  // namespace kxsim
