// Force-and-torque guiding on the plant: the host hands the arm to the operator in torque mode
// (joint drag) with the wrist-sensor torque term on; an operator pushes the tool centre point.
// Each cycle the host reads the sensor as its counts and the library processes them; the torque
// cycle maps the wrench through the transposed Jacobian into the joints' feed-forward. The run
// records the joint torques the mapping took in (before its low-pass) against the plant's own
// Jacobian times the wrench the mapping used, and how far the tool followed the push.
#include <mujoco/mujoco.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/kxmc_host.h"
#include "kxmc/kxmcforcetorque.h"
#include "sim/scenarios.hpp"
#include "simhost/kxsimhost.hpp"

namespace kxsim {

namespace {

constexpr uint32_t kCmdId = 14;
constexpr double kSensorMount[6] = {0, 0, 40, 0, 0, 30};  // 40 mm out, turned 30 deg
constexpr double kToolMass = 1.0;                         // [kg]
constexpr double kToolCentre = 100.0;                     // [mm] on the flange's Z
constexpr double kToolLength = 180.0;                     // [mm] tool centre point
constexpr double kMm = 0.001;                             // [m/mm]
// The mapping keeps its last six inputs; the oldest one is read back with the row-0 step of
// its low-pass, b0 x[0].
constexpr double kLowPassB0 = 1.57633448805864e-6;
constexpr int kMappingDelay = 5;  // [cycles] age of the oldest input in the window

Scene tool_scene() {
    Scene s;
    s.sensor.offset = {kSensorMount[0], kSensorMount[1], kSensorMount[2]};
    s.sensor.rpy = {kSensorMount[3], kSensorMount[4], kSensorMount[5]};
    s.tool.inertial.mass = kToolMass;
    s.tool.inertial.centre = {0.0, 0.0, kToolCentre};
    const double side = kToolMass * kToolLength * kToolLength / 12.0;
    s.tool.inertial.inertia = {side, 0.0, 0.0, side, 0.0, 0.5 * kToolMass * 900.0};
    s.tool.tcp = {0.0, 0.0, kToolLength};
    s.tool.radius = 30.0;
    return s;
}

double push_profile(const TorqueGuidingOptions &o, double t) {
    const double u = t - o.start;
    if (u < 0.0) return 0.0;
    if (u < o.ramp) return u / o.ramp;
    if (u < o.ramp + o.push) return 1.0;
    if (u < 2.0 * o.ramp + o.push) return 1.0 - (u - o.ramp - o.push) / o.ramp;
    return 0.0;
}

// Joint torques of a wrench (sensor frame, about the sensor origin) at the joints, from the
// plant's own kinematics: the wrench is turned into base axes with the sensor's pose and taken
// to the flange, then mapped through the translational and rotational Jacobians of the flange.
Vec6 plant_joint_torques(const ArmPlant &plant, mjData *d, const double q_deg[6],
                         const double w[6]) {
    const mjModel *m = plant.model();
    for (int j = 0; j < 6; ++j) d->qpos[j] = q_deg[j] * kDeg;
    mj_kinematics(m, d);
    mj_comPos(m, d);
    const int flange = mj_name2id(m, mjOBJ_SITE, "flange");
    const int sensor = mj_name2id(m, mjOBJ_SITE, "ft_sensor");
    const mjtNum *r = d->site_xmat + 9 * sensor;
    const Mat3 rs{r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]};
    const Vec3 f = rotate(rs, {w[0], w[1], w[2]});
    Vec3 mo = rotate(rs, {w[3], w[4], w[5]});
    const mjtNum *ps = d->site_xpos + 3 * sensor, *pf = d->site_xpos + 3 * flange;
    mo = add(mo, cross({ps[0] - pf[0], ps[1] - pf[1], ps[2] - pf[2]}, f));
    std::vector<mjtNum> jp(3 * static_cast<std::size_t>(m->nv)), jr(jp.size());
    mj_jacSite(m, d, jp.data(), jr.data(), flange);
    Vec6 tau{};
    for (std::size_t j = 0; j < 6; ++j) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t c = k * static_cast<std::size_t>(m->nv) + j;
            tau[j] += jp[c] * f[k] + jr[c] * mo[k];
        }
    }
    return tau;
}

}  // namespace

TorqueGuidingResult run_torque_guiding(const TorqueGuidingOptions &o) {
    TorqueGuidingResult r;
    ArmPlant plant(plant_config(o.common, tool_scene()));
    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = 2;  // full dynamics: the mode that carries the sensor torque term
    hc.payload_mass = kToolMass;
    hc.payload_centre[2] = kToolCentre;
    hc.monitor_only = true;
    hc.dual_encoder = false;
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    SensorSampleSource source(16, 0, o.common.seed, o.sensor_noise);
    std::unique_ptr<mjData, void (*)(mjData *)> scratch(mj_makeData(plant.model()), mj_deleteData);

    host.start({0, -90, 90, -90, -90, 0});
    mcb.forceSensorType = 16;
    mcb.forceSensorRange = 0;
    float mount[6];
    std::copy(kSensorMount, kSensorMount + 6, mount);
    qmcSetForceSensorRcs(1, mount, kCmdId);
    qmcSetForceSensorLoadWeight(kToolMass, kCmdId);
    qmcSetForceSensorLoadCoord(0.0, 0.0, kToolCentre - kSensorMount[2], kCmdId);
    qmcSetForceSensorAct(1, kCmdId);
    mpb.toolTrsf = Trsf{};
    mpb.toolTrsf.rot.r[0] = mpb.toolTrsf.rot.r[4] = mpb.toolTrsf.rot.r[8] = 1.0;
    mpb.toolTrsf.pos.v[2] = kToolLength;
    const double lambda[6] = {o.reduce, o.reduce, o.reduce, o.reduce, o.reduce, o.reduce};
    const double k[6] = {}, b[6] = {};
    r.start_status = kxmcForceAndTorqueDragStartStop(o.sensor_term ? 1 : 0, 0, lambda, k, b,
                                                     o.speed_limit, 180.0);
    // The host hands the stored lambda to the torque cycle and supervises the mode's speed.
    std::copy(mcb.forceTorqueLambda, mcb.forceTorqueLambda + 6, mcb.forceTorqueDragReduce);
    mcb.forceTorqueDragSpeedLimit = o.speed_limit;
    mcb.forceTorqueDragRotSpeedLimit = 180.0;
    host.follow_goal([&] {
        int32_t words[6];
        source.sample(plant.sensor_wrench().data(), words);
        forceSensorDataProcess(words);
    });
    host.enter_drag();

    Vec3 dir{o.direction[0], o.direction[1], o.direction[2]};
    dir = scale(dir, 1.0 / std::max(norm(dir), 1e-12));
    const Vec3 tcp = plant.config().scene.tool.tcp;
    const Vec3 start = plant.tool_point(tcp);
    std::vector<Vec6> expected;  // J^T w of each cycle, from the plant's kinematics
    const int cycles = static_cast<int>(std::lround(o.duration / kCycle));
    const double release = o.start + 2.0 * o.ramp + o.push;
    for (int i = 0; i < cycles; ++i) {
        const double t = i * kCycle;
        plant.push_tool(tcp, scale(dir, o.force * push_profile(o, t)));
        double q[6];
        std::copy(mpb.jointPos, mpb.jointPos + 6, q);
        r.trace.push_back(host.cycle(o.force * push_profile(o, t)));
        // The wrench the mapping used (dead bands applied, written back) at the joints it used.
        std::copy(mpb.jointPos, mpb.jointPos + 6, q);
        expected.push_back(plant_joint_torques(plant, scratch.get(), q, mcb.forceSensorCompWrench));
        if (o.sensor_term && i >= kMappingDelay + 1) {
            const Vec6 &want = expected[static_cast<std::size_t>(i - kMappingDelay)];
            for (int j = 0; j < 6; ++j) {
                double x0 = 0.0;
                TwoForceAndTorqueDragbuttord(j, 0, &x0);
                const double got = x0 / kLowPassB0;
                r.mapping_error =
                    std::max(r.mapping_error, std::fabs(got - want[static_cast<std::size_t>(j)]));
                r.mapping_peak =
                    std::max(r.mapping_peak, std::fabs(want[static_cast<std::size_t>(j)]));
            }
            ++r.compared;
        }
        const Vec3 p = plant.tool_point(tcp);
        r.along.push_back(dot(sub(p, start), dir));
        if (t <= release) r.travel = r.along.back();
    }
    r.guiding_on = mcb.forceTorqueDragOn == 1 && mpb.robotState == 4;
    r.warning = mcb.warningCode;
    return r;
}

}  // namespace kxsim
