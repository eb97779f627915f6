#include "sim/mjcf.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "sim/frames.hpp"

namespace kxsim {

namespace {

constexpr double kMm = 0.001;        // [m/mm]
constexpr double kInertia = 1e-6;    // [kg m^2 per kg mm^2]
constexpr double kLinkSegment = 1.0; // [mm] chain segments shorter than this get no capsule
constexpr double kContactDampRatio = 1.0;
// Contact impedance close to a hard contact: the stiffness of a padded obstacle is its spring's.
constexpr const char *kSolimp = "0.99 0.999 0.001";

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", std::fabs(v) < 1e-300 ? 0.0 : v);
    return buf;
}

std::string vec(const Vec3 &v, double scale = 1.0) {
    return num(v[0] * scale) + " " + num(v[1] * scale) + " " + num(v[2] * scale);
}

std::string quat(const Mat3 &r) {
    const std::array<double, 4> q = quaternion(r);
    return num(q[0]) + " " + num(q[1]) + " " + num(q[2]) + " " + num(q[3]);
}

// <inertial> of a body whose centre c [mm] and tensor I [kg mm^2] are given in a frame F, when
// the body's own frame is F moved by origin o [mm] and turned by R (both in F).
void inertial(std::ostringstream &x, const Inertial &b, const Vec3 &o, const Mat3 &r,
              const char *indent) {
    if (!(b.mass > 0.0)) {
        return;
    }
    const Mat3 rt = transpose(r);
    const Vec3 c = rotate(rt, sub(b.centre, o));
    // Principal axes computed here to full precision (the engine's own decomposition of a
    // full tensor stops near 1e-9 of its size).
    Mat3 axes{};
    Vec3 moments{};
    principal_axes(mul(mul(rt, tensor(b.inertia)), r), axes, moments);
    x << indent << "<inertial mass=\"" << num(b.mass) << "\" pos=\"" << vec(c, kMm) << "\" quat=\""
      << quat(axes) << "\" diaginertia=\"" << vec(moments, kInertia) << "\"/>\n";
}

void capsule(std::ostringstream &x, const std::string &name, const Vec3 &from, const Vec3 &to,
             double radius, const char *cls, const char *indent) {
    x << indent << "<geom name=\"" << name << "\" class=\"" << cls
      << "\" type=\"capsule\" fromto=\"" << vec(from, kMm) << " " << vec(to, kMm) << "\" size=\""
      << num(radius * kMm) << "\"/>\n";
}

}  // namespace

ObstacleSpec rigid_box(const Vec3 &face_centre, const Vec3 &normal) {
    ObstacleSpec o;
    o.face_centre = face_centre;
    o.normal = normal;
    o.face = {100.0, 100.0};
    o.thickness = 100.0;
    return o;
}

ObstacleSpec body_region_pad(const BodyRegion &region, const Vec3 &face_centre,
                             const Vec3 &normal) {
    ObstacleSpec o;
    o.face_centre = face_centre;
    o.normal = normal;
    o.stiffness = region.stiffness;
    return o;
}

ObstacleSpec compliant_surface(const Vec3 &face_centre, const Vec3 &normal, double stiffness,
                               std::array<double, 2> face) {
    ObstacleSpec o;
    o.face_centre = face_centre;
    o.normal = normal;
    o.face = face;
    o.thickness = 40.0;
    o.stiffness = stiffness;
    o.mass = 0.2;
    return o;
}

std::string arm_mjcf(const ArmDescription &arm, const Scene &scene, const MjcfOptions &options) {
    std::ostringstream x;
    const double contact_time = 2.0 * options.timestep;  // [s] the stiffest contact resolvable
    x << "<mujoco model=\"" << arm.name << "\">\n"
      << "  <compiler angle=\"radian\" inertiafromgeom=\"false\"/>\n"
      << "  <option timestep=\"" << num(options.timestep) << "\" integrator=\"RK4\" collision=\""
      << (scene.obstacles.empty() ? "all" : "predefined") << "\" gravity=\"0 0 "
      << num(-options.gravity)
      << "\"/>\n"
      // Room for a few dozen contacts; the engine's default scratch size (10 MB per simulation
      // state) costs more to clear than a short run costs to simulate.
      << "  <size njmax=\"300\" nconmax=\"60\" nstack=\"100000\"/>\n"
      << "  <default>\n"
      << "    <geom contype=\"1\" conaffinity=\"0\" condim=\"3\" friction=\"0 0 0\" solref=\""
      << num(contact_time) << " " << num(kContactDampRatio) << "\" solimp=\"" << kSolimp << "\""
      << (options.visuals ? " rgba=\"0.75 0.75 0.78 1\"" : "") << "/>\n"
      << "    <default class=\"arm\"><geom/></default>\n"
      << "    <default class=\"carried\"><geom"
      << (options.visuals ? " rgba=\"0.3 0.3 0.35 1\"" : "") << "/></default>\n"
      << "    <default class=\"visual\"><geom contype=\"0\" conaffinity=\"0\"/></default>\n"
      << "    <default class=\"obstacle\"><geom contype=\"0\" conaffinity=\"1\""
      << (options.visuals ? " rgba=\"0.85 0.55 0.45 1\"" : "") << "/></default>\n"
      << "  </default>\n"
      << "  <worldbody>\n";
    if (options.visuals) {
        x << "    <light pos=\"0 0 3\" dir=\"0 0 -1\" directional=\"true\"/>\n"
          << "    <geom name=\"floor\" class=\"visual\" type=\"plane\" size=\"2 2 0.01\" "
             "rgba=\"0.9 0.9 0.9 1\"/>\n";
    }

    // The chain: body i in body i-1 at DH frame i-1.
    std::vector<std::string> touching;  // geometry of the arm and what it carries
    std::string indent = "    ";
    for (int i = 0; i < 6; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        Vec3 pos{};
        Mat3 rot = identity();
        if (i > 0) {
            pos = {arm.dh_a(i - 1), 0.0, arm.dh_d(i - 1)};
            rot = rot_x(arm.twist[k - 1] * kDegree);
        }
        x << indent << "<body name=\"link" << i + 1 << "\" pos=\"" << vec(pos, kMm) << "\" quat=\""
          << quat(rot) << "\">\n";
        const std::string in = indent + "  ";
        x << in << "<joint name=\"joint" << i + 1 << "\" type=\"hinge\" axis=\"0 0 1\" armature=\""
          << num(arm.rotor[k] * kInertia) << "\" limited=\"true\" range=\""
          << num(arm.lower[k] * kDegree) << " " << num(arm.upper[k] * kDegree) << "\"/>\n";
        // Link i's data are given in its distal frame i.
        const Vec3 frame{arm.dh_a(i), 0.0, arm.dh_d(i)};
        const Mat3 frame_rot = rot_x(arm.twist[k] * kDegree);
        const Mat3 frame_rot_t = transpose(frame_rot);
        inertial(x, arm.link[k], rotate(frame_rot_t, {-frame[0], -frame[1], -frame[2]}),
                 frame_rot_t, in.c_str());
        const Vec3 knee{0.0, 0.0, frame[2]};
        const std::string link = "link" + std::to_string(i + 1);
        if (std::fabs(frame[2]) >= kLinkSegment) {
            capsule(x, link + "_d", {0.0, 0.0, 0.0}, knee, arm.radius[k], "arm", in.c_str());
            touching.push_back(link + "_d");
        }
        if (std::fabs(frame[0]) >= kLinkSegment) {
            capsule(x, link + "_a", knee, frame, arm.radius[k], "arm", in.c_str());
            touching.push_back(link + "_a");
        }
        x << in << "<site name=\"frame" << i + 1 << "\" pos=\"" << vec(frame, kMm) << "\" quat=\""
          << quat(frame_rot) << "\"/>\n";
        indent = in;
    }

    // Flange, sensor, tool and payload on link 6.
    {
        const Vec3 flange{arm.dh_a(5), 0.0, arm.dh_d(5)};
        const Mat3 flange_rot = rot_x(arm.twist[5] * kDegree);
        x << indent << "<site name=\"flange\" pos=\"" << vec(flange, kMm) << "\" quat=\""
          << quat(flange_rot) << "\"/>\n";
        const Mat3 mount = rpy(scene.sensor.rpy);
        x << indent << "<body name=\"tool\" pos=\""
          << vec(add(flange, rotate(flange_rot, scene.sensor.offset)), kMm) << "\" quat=\""
          << quat(mul(flange_rot, mount)) << "\">\n";
        const std::string in = indent + "  ";
        inertial(x, scene.tool.inertial, scene.sensor.offset, mount, in.c_str());
        x << in << "<site name=\"ft_sensor\"/>\n";
        const Vec3 tcp = rotate(transpose(mount), sub(scene.tool.tcp, scene.sensor.offset));
        x << in << "<site name=\"tcp\" pos=\"" << vec(tcp, kMm) << "\"/>\n";
        if (norm(tcp) >= kLinkSegment) {
            capsule(x, "tool", {0.0, 0.0, 0.0}, tcp, scene.tool.radius, "carried", in.c_str());
        } else {
            x << in << "<geom name=\"tool\" class=\"carried\" type=\"sphere\" size=\""
              << num(scene.tool.radius * kMm) << "\"/>\n";
        }
        touching.push_back("tool");
        x << in << "<body name=\"payload\">\n";
        inertial(x, scene.payload, scene.sensor.offset, mount, (in + "  ").c_str());
        if (scene.payload.mass > 0.0 && options.visuals) {
            const Vec3 c = rotate(transpose(mount), sub(scene.payload.centre, scene.sensor.offset));
            x << in << "  <geom class=\"visual\" type=\"sphere\" size=\"0.03\" pos=\""
              << vec(c, kMm) << "\" rgba=\"0.2 0.4 0.8 1\"/>\n";
        }
        x << in << "</body>\n" << indent << "</body>\n";
    }
    for (int i = 5; i >= 0; --i) {
        indent.resize(indent.size() - 2);
        x << indent << "</body>\n";
    }

    // Obstacles: body frame at the face centre, z along the outward normal.
    for (std::size_t k = 0; k < scene.obstacles.size(); ++k) {
        const ObstacleSpec &o = scene.obstacles[k];
        const std::string name = "obstacle" + std::to_string(k);
        x << "    <body name=\"" << name << "\" pos=\"" << vec(o.face_centre, kMm) << "\" quat=\""
          << quat(frame_with_z(o.normal)) << "\">\n";
        const Vec3 half{0.5 * o.face[0], 0.5 * o.face[1], 0.5 * o.thickness};
        if (o.stiffness > 0.0) {
            const double k_si = o.stiffness / kMm;  // [N/m]
            const double damping = 2.0 * o.damping_ratio * std::sqrt(k_si * o.mass);
            const double ixx = o.mass * (half[1] * half[1] + half[2] * half[2]) / 3.0 * kInertia;
            const double iyy = o.mass * (half[0] * half[0] + half[2] * half[2]) / 3.0 * kInertia;
            const double izz = o.mass * (half[0] * half[0] + half[1] * half[1]) / 3.0 * kInertia;
            // The spring's rest length leaves the plate's face at `face_centre` under its weight.
            const double sag =
                o.mass * options.gravity * o.normal[2] / norm(o.normal) / k_si;  // [m]
            x << "      <joint name=\"" << name
              << "_slide\" type=\"slide\" axis=\"0 0 1\" stiffness=\"" << num(k_si)
              << "\" springref=\"" << num(sag) << "\" damping=\"" << num(damping) << "\"/>\n"
              << "      <inertial mass=\"" << num(o.mass) << "\" pos=\"0 0 " << num(-half[2] * kMm)
              << "\" diaginertia=\"" << num(ixx) << " " << num(iyy) << " " << num(izz) << "\"/>\n";
        }
        x << "      <geom name=\"" << name << "_face\" class=\"obstacle\" type=\"box\" pos=\"0 0 "
          << num(-half[2] * kMm) << "\" size=\"" << vec(half, kMm) << "\" friction=\""
          << num(o.friction) << " 0.005 0.0001\"/>\n"
          << "    </body>\n";
    }
    x << "  </worldbody>\n";
    // Only the arm's geometry against obstacles is ever tested for contact: listing the pairs
    // spares the engine its search over every pair of bodies.
    if (!scene.obstacles.empty()) {
        x << "  <contact>\n";
        for (std::size_t k = 0; k < scene.obstacles.size(); ++k) {
            const ObstacleSpec &o = scene.obstacles[k];
            for (const std::string &g : touching) {
                x << "    <pair geom1=\"" << g << "\" geom2=\"obstacle" << k
                  << "_face\" condim=\"3\" friction=\"" << num(o.friction) << " " << num(o.friction)
                  << " 0.005 0.0001 0.0001\" solref=\""
                  << num(std::max(o.contact_time, contact_time)) << " " << num(kContactDampRatio)
                  << "\" solimp=\"" << kSolimp << "\"/>\n";
            }
        }
        x << "  </contact>\n";
    }
    x << "  <sensor>\n"
      << "    <force name=\"ft_force\" site=\"ft_sensor\"/>\n"
      << "    <torque name=\"ft_torque\" site=\"ft_sensor\"/>\n"
      << "  </sensor>\n"
      << "</mujoco>\n";
    return x.str();
}

}  // namespace kxsim
