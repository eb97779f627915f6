// Wrist-sensor guiding runs. The host reads the plant's wrist sensor as the sensor's counts,
// the library processes them and steps the admittance, and the drives' position loop follows
// the goal. Every run starts a fresh host and plant.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/kxmc_host.h"
#include "kxmc/kxmcforcetorque.h"
#include "sim/scenarios.hpp"
#include "simhost/kxsimhost.hpp"

namespace kxsim {

namespace {

constexpr uint32_t kCmdId = 12;
constexpr double kToolCentre = 110.0;  // [mm] tool's centre of mass on the flange's Z
constexpr double kToolLength = 200.0;  // [mm] tool centre point on the flange's Z
constexpr double kToolRadius = 30.0;   // [mm]
constexpr double kStopSpeed = 1.0;     // [mm/s] the tool counts as stopped below this
constexpr double kSteadyFrom = 0.5;    // [s] after the push is at full force
constexpr double kSteadySpan = 0.5;    // [s] window of the steady speed
constexpr double kSpeedWindow = 10;    // [cycles] speed by difference over this many cycles
// The sensor sits 40 mm out on the flange, turned 30 deg about its axis.
constexpr double kSensorMount[6] = {0, 0, 40, 0, 0, 30};
// Moments below this do not turn the tool: the path run guides the tool point only.
constexpr double kNoTurn = 50.0;   // [N m]
constexpr double kSwitchOn = 0.2;  // [s] before the push: guiding switched on

Scene guiding_scene(const FtguideOptions &o) {
    Scene s;
    s.sensor.offset = {kSensorMount[0], kSensorMount[1], kSensorMount[2]};
    s.sensor.rpy = {kSensorMount[3], kSensorMount[4], kSensorMount[5]};
    s.tool.inertial.mass = o.tool_mass * o.tool_mass_error;
    s.tool.inertial.centre = {0.0, 0.0, kToolCentre};
    // A solid cylinder of radius 30 mm and length 200 mm about its centre [kg mm^2].
    const double m = s.tool.inertial.mass, r2 = kToolRadius * kToolRadius;
    const double side = m * (3.0 * r2 + kToolLength * kToolLength) / 12.0;
    s.tool.inertial.inertia = {side, 0.0, 0.0, side, 0.0, 0.5 * m * r2};
    s.tool.tcp = {0.0, 0.0, kToolLength};
    s.tool.radius = kToolRadius;
    return s;
}

Vec3 unit(const double d[3]) {
    const Vec3 v{d[0], d[1], d[2]};
    const double n = norm(v);
    return n > 0.0 ? scale(v, 1.0 / n) : Vec3{1.0, 0.0, 0.0};
}

// Axis-aligned corners of a box obstacle grown by `margin` on every side [mm].
void box_corners(const ObstacleSpec &b, double margin, double out[6]) {
    const Mat3 r = frame_with_z(b.normal);
    const Vec3 centre = sub(b.face_centre, scale(rotate(r, {0.0, 0.0, 1.0}), 0.5 * b.thickness));
    const double half[3] = {0.5 * b.face[0], 0.5 * b.face[1], 0.5 * b.thickness};
    for (std::size_t k = 0; k < 3; ++k) {
        const double extent = std::fabs(r[3 * k]) * half[0] + std::fabs(r[3 * k + 1]) * half[1] +
                              std::fabs(r[3 * k + 2]) * half[2] + margin;
        out[k] = centre[k] - extent;
        out[k + 3] = centre[k] + extent;
    }
}

// Distance of a point outside an axis-aligned box (0 inside) [mm].
double box_distance(const double corners[6], const Vec3 &p) {
    double d2 = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        const double d = std::max({corners[k] - p[k], 0.0, p[k] - corners[k + 3]});
        d2 += d * d;
    }
    return std::sqrt(d2);
}

// The host's configuration of sensor and guiding, once the host has started.
void configure_guiding(const FtguideOptions &o, const double threshold[6], int32_t wall_on) {
    mcb.forceSensorType = o.sensor_model;
    mcb.forceSensorRange = o.sensor_range;
    float mount[6];
    std::copy(kSensorMount, kSensorMount + 6, mount);
    qmcSetForceSensorRcs(1, mount, kCmdId);  // wrench and guiding in base axes
    qmcSetForceSensorLoadWeight(o.tool_mass, kCmdId);
    // The tool's centre in the sensor frame: 70 mm out along the common axis.
    qmcSetForceSensorLoadCoord(0.0, 0.0, kToolCentre - kSensorMount[2], kCmdId);
    qmcSetForceSensorAct(1, kCmdId);
    mpb.toolTrsf = Trsf{};
    mpb.toolTrsf.rot.r[0] = mpb.toolTrsf.rot.r[4] = mpb.toolTrsf.rot.r[8] = 1.0;
    mpb.toolTrsf.pos.v[2] = kToolLength;
    mcb.speedMode = 1;
    const double inertia[6] = {o.inertia, o.inertia, o.inertia, 0.5, 0.5, 0.5};
    const double damp[6] = {o.damping, o.damping, o.damping, 10, 10, 10};
    const double stiffness[6] = {0, 0, 0, 0, 0, 0};
    // Stored with guiding off: the operator switches it on once the arm is under the host.
    kxmcEndForceDragstartstop(0, 0, wall_on, o.singularity_flag, inertia, damp, stiffness,
                              threshold, 100.0, o.joint_speed_limit);
}

struct Guided {
    ArmPlant plant;
    SimHost host;
    SensorSampleSource source;
    Vec3 last_tool{};

    Guided(const FtguideOptions &o, const Scene &scene)
        : plant(plant_config(o.common, scene)),
          host(host_config(o), plant),
          source(o.sensor_model, o.sensor_range, o.common.seed, o.sensor_noise) {}

    static HostConfig host_config(const FtguideOptions &o) {
        HostConfig hc;
        hc.model_code = o.common.model;
        hc.teach_mode = 2;
        hc.payload_mass = o.tool_mass;  // the tool is the arm's load
        hc.payload_centre[2] = kToolCentre;
        hc.monitor_only = true;  // the operator's push is no collision: detectors only report
        hc.dual_encoder = false;
        hc.config_root = o.common.config_root;
        return hc;
    }

    // Starts host and guiding at the joints; each cycle the sensor sample goes through the
    // library before the drives.
    void start(const FtguideOptions &o, const Vec6 &joints, const double threshold[6],
               int32_t wall_on) {
        host.start(joints);
        configure_guiding(o, threshold, wall_on);
        last_tool = plant.tool_point(plant.config().scene.tool.tcp);
        host.follow_goal([this] {
            // The host reports the tool centre point's speed.
            const Vec3 p = plant.tool_point(plant.config().scene.tool.tcp);
            mpb.tcpSpeed = norm(sub(p, last_tool)) / kCycle;
            last_tool = p;
            int32_t words[6];
            source.sample(plant.sensor_wrench().data(), words);
            forceSensorDataProcess(words);
            kxmcForceSensorDragProcess();
        });
    }
};

double ramp_push(const FtguideOptions &o, double t) {
    const double u = t - o.start;
    const double r = std::max(o.ramp, kCycle);
    if (u < 0.0) return 0.0;
    if (u < r) return u / r;
    if (u < r + o.push) return 1.0;
    if (u < 2.0 * r + o.push) return 1.0 - (u - r - o.push) / r;
    return 0.0;
}

// Runs the push and fills the figures both runs share.
void run_push(const FtguideOptions &o, Guided &g, const Vec3 &dir, FtguideRun &r) {
    const int cycles = static_cast<int>(std::lround(o.duration / kCycle));
    r.direction = dir;
    r.release = o.start + 2.0 * o.ramp + o.push;
    r.expected_speed = o.force / o.damping * 1000.0;
    r.trace.reserve(static_cast<std::size_t>(cycles));
    const Vec3 tcp = g.plant.config().scene.tool.tcp;
    Vec6 last_goal{};
    std::copy(mpb.targetJointPos, mpb.targetJointPos + 6, last_goal.begin());
    int rest_samples = 0;
    const int switch_on =
        static_cast<int>(std::lround(std::max(o.start - kSwitchOn, 0.0) / kCycle));
    for (int i = 0; i < cycles; ++i) {
        const double t = i * kCycle;
        if (i == switch_on) {
            kxmcEndForceDragStartStopControl(1);
        }
        g.plant.push_tool(tcp, scale(dir, o.force * ramp_push(o, t)));
        const TraceRow &row = g.host.cycle(o.force * ramp_push(o, t));
        r.trace.push_back(row);
        r.tool.push_back(g.plant.tool_point(tcp));
        double fastest = 0.0;
        for (std::size_t j = 0; j < 6; ++j) {
            fastest = std::max(fastest, std::fabs(row.target[j] - last_goal[j]) / kCycle);
            last_goal[j] = row.target[j];
            if (row.state == 1) {
                r.peak_actual = std::max(r.peak_actual, std::fabs(g.plant.velocity_deg_s()[j]));
            }
        }
        r.commanded.push_back(row.state == 1 ? fastest : 0.0);
        r.peak_commanded = std::max(r.peak_commanded, r.commanded.back());
        if (t > o.start - 0.1 && t < o.start) {
            r.rest_residual += norm({mcb.forceSensorCompWrench[0], mcb.forceSensorCompWrench[1],
                                     mcb.forceSensorCompWrench[2]});
            ++rest_samples;
        }
        for (std::size_t k = 0; k < g.plant.obstacle_count(); ++k) {
            r.peak_contact = std::max(r.peak_contact, g.plant.contact(k).peak);
        }
    }
    r.rest_residual /= std::max(rest_samples, 1);

    const std::size_t n = r.tool.size();
    const std::size_t w = static_cast<std::size_t>(kSpeedWindow);
    r.speed.assign(n, 0.0);
    for (std::size_t i = w; i < n; ++i) {
        r.speed[i] = dot(sub(r.tool[i], r.tool[i - w]), dir) / (kSpeedWindow * kCycle);
    }
    const auto at = [&](double t) {
        return std::min(n - 1, static_cast<std::size_t>(std::max(t, 0.0) / kCycle));
    };
    const std::size_t s0 = at(o.start + o.ramp + kSteadyFrom);
    const std::size_t s1 = at(o.start + o.ramp + kSteadyFrom + kSteadySpan);
    r.steady_speed = dot(sub(r.tool[s1], r.tool[s0]), dir) / ((s1 - s0) * kCycle + 1e-12);
    r.travel = dot(sub(r.tool[at(r.release)], r.tool.front()), dir);
    r.band_speed = r.speed[at(r.release - o.ramp)];
    for (std::size_t i = at(r.release); i < n; ++i) {
        if (std::fabs(r.speed[i]) < kStopSpeed &&
            norm(sub(r.tool[i], r.tool[i - w])) / (kSpeedWindow * kCycle) < kStopSpeed) {
            r.stop_time = (i - at(r.release)) * kCycle;
            break;
        }
    }
    r.end_speed = norm(sub(r.tool[n - 1], r.tool[n - 1 - w])) / (kSpeedWindow * kCycle);
    r.warning = mcb.warningCode;
    r.guiding_on = mcb.endForceDragOn == 1;
    r.events = g.host.events();
}

}  // namespace

Vec6 ftguide_path_start() { return {0, -90, 90, -90, -90, 0}; }

// The tool held sideways, joint 5 off its singular pose; turning joint 1 by about -wrist
// aligns joints 4 and 6.
Vec6 ftguide_singular_start(double wrist) { return {0, -90, 90, 0, wrist, 0}; }

FtguideRun run_ftguide_path(const FtguideOptions &o) {
    FtguideRun r;
    const Vec3 dir = unit(o.direction);
    Scene scene = guiding_scene(o);
    const Vec6 q0 = ftguide_path_start();
    if (o.box_distance > 0.0) {
        // The box's face lies across the path, the wall's face `clearance` plus the tool's
        // radius in front of it.
        const ArmPlant probe(plant_config(o.common, scene));
        const Vec3 p0 = probe.tool_point_at(q0.data(), scene.tool.tcp);
        const double margin = o.clearance + kToolRadius;
        r.box = rigid_box(add(p0, scale(dir, o.box_distance + margin)), scale(dir, -1.0));
        scene.obstacles.push_back(r.box);
        r.boxed = true;
        box_corners(r.box, margin, r.wall_box);
    }
    Guided g(o, scene);
    const double threshold[6] = {2, 2, 2, kNoTurn, kNoTurn, kNoTurn};
    g.start(o, q0, threshold, o.wall && r.boxed ? 1 : 0);
    if (o.wall && r.boxed) {
        mcb.wallOn = 1;
        mcb.wallShape = 0;
        mcb.wallDefMode = 0;
        mcb.interfereDragMode = 0;
        std::copy(r.wall_box, r.wall_box + 6, mcb.wallCorners);
    }
    run_push(o, g, dir, r);
    if (r.boxed) {
        box_corners(r.box, 0.0, r.box_bounds);
        r.min_wall_gap = r.min_box_gap = 1e9;
        for (const Vec3 &p : r.tool) {
            r.min_wall_gap = std::min(r.min_wall_gap, box_distance(r.wall_box, p));
            r.min_box_gap = std::min(r.min_box_gap, box_distance(r.box_bounds, p) - kToolRadius);
        }
    }
    return r;
}

FtguideRun run_ftguide_singular(const FtguideOptions &o) {
    FtguideRun r;
    const Vec6 q0 = ftguide_singular_start(o.singular_wrist);
    Guided g(o, guiding_scene(o));
    // Push around joint 1's axis, the way that turns joint 1 toward -joint 5.
    const Vec3 p = g.plant.tool_point_at(q0.data(), {0.0, 0.0, 0.0});
    const double sense = o.singular_wrist < 0.0 ? 1.0 : -1.0;
    const double tangent[3] = {-sense * p[1], sense * p[0], 0.0};
    const double threshold[6] = {2, 2, 2, kNoTurn, kNoTurn, kNoTurn};
    g.start(o, q0, threshold, 0);
    run_push(o, g, unit(tangent), r);
    r.wrist_start = r.trace.front().q[4];
    r.wrist_end = r.trace.back().q[4];
    r.wrist_min = 1e9;
    for (const TraceRow &row : r.trace) {
        r.wrist_min = std::min(r.wrist_min, std::fabs(row.q[4]));
    }
    for (const HostEvent &e : r.events) {
        r.handovers += e.what == "qmcDragSwitch(1)" ? 1 : 0;
        r.returns += e.what == "qmcDragSwitch(0)" ? 1 : 0;
    }
    return r;
}

FtguideResult run_ftguide(const FtguideOptions &o) {
    return {run_ftguide_path(o), run_ftguide_singular(o)};
}

}  // namespace kxsim
