// The arm as a MuJoCo model (MJCF text), generated from an arm description and a scene.
//
// Bodies link1..link6 follow the Denavit-Hartenberg chain: body i's frame is DH frame i-1
// turned by joint i (hinge "joint<i>" about its z axis), so link i's distal frame i sits in it
// at (a_i, 0, d_i) turned by Rx(alpha_i). Each link carries its mass, centre and inertia tensor,
// the rotor inertia as the joint's armature, the joint's range, and capsules along its chain
// segments as collision geometry. Sites "frame1".."frame6" mark the DH frame origins ("flange"
// is frame 6). Body "tool" hangs on the flange through the sensor mount, with site "ft_sensor"
// (force and torque sensors "ft_force", "ft_torque") at its origin and site "tcp"; body
// "payload" rides on the tool. Obstacle k is body "obstacle<k>" with geom "obstacle<k>_face"
// and, when compliant, slide joint "obstacle<k>_slide".
//
// Arm and carried geometry collide only with obstacles, never with each other. Joint friction,
// drives and damping are not in the model: the plant applies them.
#pragma once

#include <string>

#include "sim/description.hpp"
#include "sim/scene.hpp"

namespace kxsim {

struct MjcfOptions {
    double timestep = 0.0005;    // [s] integration step
    double gravity = 9.8;        // [m/s^2], along -z of the base
    bool visuals = false;        // floor, light and colours for MuJoCo's own viewer
};

std::string arm_mjcf(const ArmDescription &arm, const Scene &scene, const MjcfOptions &options);

}  // namespace kxsim
