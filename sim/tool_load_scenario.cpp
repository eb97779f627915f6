// Tool load identification on the plant: the arm holds a tool of known mass and centre still in
// three poses, the wrist sensor's reading (with a bias of its own) goes through the library's
// sensor processing, each pose is recorded, and the library identifies the tool and the bias.
#include <cmath>

#include "kxmc/kxmcforcetorque.h"
#include "sim/scenarios.hpp"
#include "simhost/kxsimhost.hpp"

namespace kxsim {

namespace {

// R = Rz(c) Ry(b) Rx(a) of angles in degrees, row-major.
std::array<double, 9> rpy_rotation(double a, double b, double c) {
    const double ca = std::cos(a * kDeg), sa = std::sin(a * kDeg);
    const double cb = std::cos(b * kDeg), sb = std::sin(b * kDeg);
    const double cc = std::cos(c * kDeg), sc = std::sin(c * kDeg);
    return {cc * cb,
            cc * sb * sa - sc * ca,
            cc * sb * ca + sc * sa,
            sc * cb,
            sc * sb * sa + cc * ca,
            sc * sb * ca - cc * sa,
            -sb,
            cb * sa,
            cb * ca};
}

}  // namespace

ToolloadResult run_toolload(const ToolloadOptions &o) {
    Scene scene;
    scene.sensor.offset = {o.mount[0], o.mount[1], o.mount[2]};
    scene.sensor.rpy = {o.mount[3], o.mount[4], o.mount[5]};
    scene.tool.inertial.mass = o.mass;
    scene.tool.inertial.centre = {o.centre[0], o.centre[1], o.centre[2]};
    const double r = 30.0;  // [mm] inertia of a solid ball of this radius about its centre
    const double i = 0.4 * o.mass * r * r;
    scene.tool.inertial.inertia = {i, 0.0, 0.0, i, 0.0, i};  // xx, xy, xz, yy, yz, zz
    ArmPlant plant(plant_config(o.common, scene));
    HostConfig hc;
    hc.model_code = o.common.model;
    hc.payload_mass = o.mass;  // the host holds the tool with its feed-forward
    for (int k = 0; k < 3; ++k) {
        hc.payload_centre[k] = o.centre[k];
    }
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    SensorSampleSource source(16, 0, o.common.seed);

    ToolloadResult res;
    res.force_count = source.force_per_count();
    res.moment_count = source.moment_per_count();
    const std::array<double, 9> m = rpy_rotation(o.mount[3], o.mount[4], o.mount[5]);
    for (int k = 0; k < 3; ++k) {  // centre in the sensor frame: R^T (c - offset)
        for (int j = 0; j < 3; ++j) {
            res.true_centre[k] +=
                m[static_cast<std::size_t>(3 * j + k)] * (o.centre[j] - o.mount[j]);
        }
    }

    const int cycles = static_cast<int>(std::lround(o.settle / kCycle));
    for (std::size_t p = 0; p < o.poses.size(); ++p) {
        host.start(o.poses[p]);
        // The host restarted its records: the sensor processing starts afresh (filters seeded
        // with the first sample).
        mcb.forceSensorAct = 0;
        forceSensorDataProcess(nullptr);
        mcb.forceSensorAct = 1, mcb.forceSensorType = 16, mcb.forceSensorRange = 0;
        mcb.forceSensorRefCoord = 0;
        for (int k = 0; k < 6; ++k) {
            mcb.forceSensorCoord[k] = o.mount[k];
        }
        for (int c = 0; c < cycles; ++c) {
            res.trace.push_back(host.cycle());
            Wrench w = plant.sensor_wrench();
            for (std::size_t k = 0; k < 6; ++k) {
                w[k] += o.bias[k];
            }
            int32_t words[6];
            source.sample(w.data(), words);
            forceSensorDataProcess(words);
        }
        kxmcSaveSensorDataFlag(static_cast<int32_t>(p + 1));
    }
    res.status = kxmcSensorComload(&res.mass, res.centre);
    for (int k = 0; k < 6; ++k) {
        res.offsets[k] = mcb.forceSensorZeroOffset[k];
    }
    // One more reading at the last pose, compensated with what was identified.
    for (int c = 0; c < 50; ++c) {
        Wrench w = plant.sensor_wrench();
        for (std::size_t k = 0; k < 6; ++k) {
            w[k] += o.bias[k];
        }
        int32_t words[6];
        source.sample(w.data(), words);
        forceSensorDataProcess(words);
        res.trace.push_back(host.cycle());
    }
    for (int k = 0; k < 6; ++k) {
        res.residual[k] = mcb.forceSensorCompWrench[k];
    }
    return res;
}

}  // namespace kxsim
