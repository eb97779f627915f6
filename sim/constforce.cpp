// Constant force on the plant: a stylus on the wrist sensor is pressed onto a compliant surface
// while the host moves it along the surface. Each cycle the host reads the sensor as its counts,
// the library processes them, the host hands its commanded tool pose (the straight path) to the
// constant-force control, turns the corrected pose into joints with its inverse kinematics, and
// the drives' position loop follows.
#include <algorithm>
#include <cmath>

#include "host/kxmc_host.h"
#include "kxmc/kxmcforcetorque.h"
#include "sim/scenarios.hpp"
#include "simhost/kxsimhost.hpp"

namespace kxsim {

namespace {

constexpr uint32_t kCmdId = 13;
// Sensor 30 mm out on the flange; a stylus of 0.8 kg, centre 80 mm and ball tip 160 mm out.
constexpr double kSensorMount[6] = {0, 0, 30, 0, 0, 0};
constexpr double kToolMass = 0.8;          // [kg]
constexpr double kToolCentre = 80.0;       // [mm] on the flange's Z
constexpr double kToolLength = 160.0;      // [mm] tool centre point on the flange's Z
constexpr double kTipRadius = 8.0;         // [mm] ball tip of the stylus
constexpr double kRamp = 0.3;              // [s] the path speeds up and slows down over this
constexpr double kPadMass = 0.05;          // [kg] moving face of the compliant pad
constexpr double kPadDamping = 2.0;        // of critical
constexpr double kPadContactTime = 0.005;  // [s]

Scene stylus_scene() {
    Scene s;
    s.sensor.offset = {kSensorMount[0], kSensorMount[1], kSensorMount[2]};
    s.sensor.rpy = {kSensorMount[3], kSensorMount[4], kSensorMount[5]};
    s.tool.inertial.mass = kToolMass;
    s.tool.inertial.centre = {0.0, 0.0, kToolCentre};
    // A slender rod of the stylus's length about its centre [kg mm^2].
    const double side = kToolMass * kToolLength * kToolLength / 12.0;
    s.tool.inertial.inertia = {side, 0.0, 0.0,
                               side, 0.0, 0.5 * kToolMass * kTipRadius * kTipRadius};
    s.tool.tcp = {0.0, 0.0, kToolLength};
    s.tool.radius = kTipRadius;
    return s;
}

// Distance along the path at time t: rest, ramp up, constant speed, ramp down, rest [mm].
double path_distance(const ConstforceOptions &o, double t) {
    const double t0 = o.move_from, t1 = std::max(o.duration - o.stop_before, t0 + 2.0 * kRamp);
    const double v = o.speed;
    auto ramp_distance = [&](double u) { return v * u * u / (2.0 * kRamp); };
    if (t <= t0) return 0.0;
    if (t < t0 + kRamp) return ramp_distance(t - t0);
    const double cruise_end = t1 - kRamp;
    if (t < cruise_end) return ramp_distance(kRamp) + v * (t - t0 - kRamp);
    const double at_end = ramp_distance(kRamp) + v * (cruise_end - t0 - kRamp);
    if (t < t1) return at_end + v * (t - cruise_end) - ramp_distance(t - cruise_end);
    return at_end + ramp_distance(kRamp);
}

void configure_sensor_and_tool() {
    mcb.forceSensorType = 16;
    mcb.forceSensorRange = 0;
    float mount[6];
    std::copy(kSensorMount, kSensorMount + 6, mount);
    qmcSetForceSensorRcs(1, mount, kCmdId);  // wrench in base axes
    qmcSetForceSensorLoadWeight(kToolMass, kCmdId);
    qmcSetForceSensorLoadCoord(0.0, 0.0, kToolCentre - kSensorMount[2], kCmdId);
    qmcSetForceSensorAct(1, kCmdId);
    mpb.toolTrsf = Trsf{};
    mpb.toolTrsf.rot.r[0] = mpb.toolTrsf.rot.r[4] = mpb.toolTrsf.rot.r[8] = 1.0;
    mpb.toolTrsf.pos.v[2] = kToolLength;
}

struct Stats {
    double mean = 0.0, sd = 0.0, worst = 0.0;
};

Stats statistics(const std::vector<double> &e) {
    Stats s;
    if (e.empty()) return s;
    for (double x : e) s.mean += x;
    s.mean /= static_cast<double>(e.size());
    for (double x : e) {
        s.sd += (x - s.mean) * (x - s.mean);
        s.worst = std::max(s.worst, std::fabs(x));
    }
    s.sd = std::sqrt(s.sd / static_cast<double>(e.size()));
    return s;
}

}  // namespace

Vec6 constforce_start() { return {0, -90, 90, -90, -90, 0}; }

ConstforceResult run_constforce(const ConstforceOptions &o) {
    ConstforceResult r;
    Scene scene = stylus_scene();
    const Vec6 q0 = constforce_start();
    {
        // The surface lies across the stylus, its face `gap` below the ball tip.
        const ArmPlant probe(plant_config(o.common, scene));
        const Vec3 tip = probe.tool_point_at(q0.data(), scene.tool.tcp);
        const double travel = path_distance(o, o.duration);
        const Vec3 face{tip[0] + 0.5 * travel, tip[1], tip[2] - kTipRadius - o.gap};
        ObstacleSpec surface =
            compliant_surface(face, {0.0, 0.0, 1.0}, o.stiffness, {travel + 200.0, travel + 200.0});
        surface.friction = o.friction;
        // A pad whose moving face is light and well damped; its contact with the stylus is
        // given 5 ms: with friction, the stiffest contact the integration step resolves sets the
        // stylus chattering at a few hundred hertz.
        surface.mass = kPadMass;
        surface.damping_ratio = kPadDamping;
        surface.contact_time = kPadContactTime;
        scene.obstacles.push_back(surface);
        r.face_z = face[2];
    }
    ArmPlant plant(plant_config(o.common, scene));
    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = 2;
    hc.payload_mass = kToolMass;  // the host holds the stylus with its feed-forward
    hc.payload_centre[2] = kToolCentre;
    hc.monitor_only = true;  // pressing is no collision: the detectors only report
    hc.dual_encoder = false;
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    SensorSampleSource source(16, 0, o.common.seed, o.sensor_noise);

    host.start(q0);
    configure_sensor_and_tool();
    Trsf start_pose;
    multTrsf(&start_pose, &mpb.flangePose, &mpb.toolTrsf);
    const uint8_t axes[6] = {0, 0, 1, 0, 0, 0};
    const double target[6] = {0, 0, o.target, 0, 0, 0};
    const double gains[6] = {o.kp, o.ki, o.kd, 0, 0, 0};
    r.start_status =
        qmcConstForceStartStop(1, 0, axes, target, gains, o.adapt ? 1 : 0, 0, o.max_offset, 5.0,
                               100.0, o.z_filter ? 1 : 0, 0, kCmdId);
    Vec6 goal = plant.joints_deg();
    host.follow_goal([&] {
        int32_t words[6];
        source.sample(plant.sensor_wrench().data(), words);
        forceSensorDataProcess(words);
        // The host's commanded tool pose: the start pose moved along base X.
        Trsf cmd = start_pose;
        cmd.pos.v[0] += path_distance(o, host.time());
        mpb.cmdCartPose = cmd;
        Trsf out;
        if (constForceControl(cmd, &out) != 0) {
            ++r.faults;
            r.fault = mcb.faultCode;
        }
        double c = 0, b = 0, a = 0;
        trsfToRpy(&c, &b, &a, &out);
        double q[6];
        std::copy(goal.begin(), goal.end(), q);
        if (qmcGetInverseKinematicNoLine(1, out.pos.v[0], out.pos.v[1], out.pos.v[2], a, b, c, -1,
                                         q) >= 0) {
            std::copy(q, q + 6, goal.begin());
        } else {
            ++r.unreachable;
        }
        std::copy(goal.begin(), goal.end(), mpb.targetJointPos);
    });

    const int cycles = static_cast<int>(std::lround(o.duration / kCycle));
    std::vector<double> contact_error, sensor_error, lateral;
    double pressed_sum = 0.0, depth_sum = 0.0;
    const Vec3 tcp = scene.tool.tcp;
    for (int i = 0; i < cycles; ++i) {
        const double t = host.time();
        const TraceRow &row = host.cycle();
        r.trace.push_back(row);
        const ContactCycle &c = plant.contact(0);
        // The arm presses down on the surface: its push on the surface is -Fz.
        const double pressed = -c.mean[2];
        r.t.push_back(t);
        r.contact.push_back(pressed);
        r.reading.push_back(mpb.forceSensorWrench[2]);
        r.offset.push_back(mcb.constForceOffset[2]);
        const Vec3 p = plant.tool_point(tcp);
        r.tip_x.push_back(p[0]);
        r.tip_z.push_back(p[2]);
        if (t >= o.settle) {
            contact_error.push_back(pressed - o.target);
            sensor_error.push_back(mpb.forceSensorWrench[2] - o.target);
            lateral.push_back(std::hypot(c.mean[0], c.mean[1]));
            pressed_sum += pressed;
            depth_sum += r.face_z - (p[2] - kTipRadius);
        }
    }
    const Stats a = statistics(contact_error), b = statistics(sensor_error);
    r.mean = a.mean, r.sd = a.sd, r.worst = a.worst;
    r.reading_mean = b.mean, r.reading_sd = b.sd, r.reading_worst = b.worst;
    for (double f : lateral) r.lateral_mean += f / static_cast<double>(lateral.size());
    r.travel = r.tip_x.back() - r.tip_x.front();
    // Surface and contact in series, as the stylus meets them: force over depth below the face.
    r.effective_stiffness = depth_sum > 0.0 ? pressed_sum / depth_sum : 0.0;
    for (const HostEvent &e : host.events()) {
        r.alarms += (e.what == "residual" || e.what == "dual-encoder") ? 1 : 0;
    }
    r.control_on = mcb.constForceOn == 1;
    return r;
}

}  // namespace kxsim
