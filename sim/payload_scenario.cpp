// The payload scenario. One plant and one host run the three procedures one after the other,
// as an operator would on a new tool:
//   1. the host's step-driven sequence with the payload mounted;
//   2. the nine-point procedure: the payload taken off, nine poses, mounted again, the same
//      nine poses;
//   3. hand guiding with the continuous identification on, starting from a declared mass that
//      is off, while the operator leads the arm by the wrist (never by the tool: the sensor
//      would count a push on the tool as payload); the plant's wrist sensor gives its sample
//      words to the library's sensor processing every cycle.
// The host stays in monitoring mode for collisions throughout: an unknown payload is exactly
// what the torque residual would otherwise report.
#include "sim/payload_scenario.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/kxmc_host.h"
#include "kxmc/kxmc_payload.h"
#include "kxmc/kxmc_sensor_processing.h"
#include "kxmc/kxmc_sensor_settings.h"
#include "simhost/kxsimhost.hpp"

namespace kxsim {

namespace {

constexpr int32_t kStopped = 1;
constexpr double kMm = 1000.0;  // [mm/m]

// The wrist sensor: 0.096 N per count, room for the heaviest arm's largest payload.
constexpr uint8_t kSensorModel = 16;
constexpr uint8_t kSensorRange = 0;

// The host's identification sequence. Steps 3-4 hold the flange axis horizontal, across the
// horizontal axis of joint 5, so joint 5 carries the payload's weight at the lever of the
// flange plus the payload's depth; steps 6-7 hold the flange down with the payload a fixed
// horizontal distance from the elbow; steps 9-10 turn joint 6 with its axis horizontal so its
// torque passes through the payload's largest lever.
constexpr Vec6 kWristHorizontal{0, -90, 90, -90, 0, 0};
constexpr double kElbowLever = 232.0;  // [mm] payload to the elbow axis in steps 6-7
constexpr double kStepHold = 2.3;      // [s] per mass step: two averaging windows
constexpr double kStepTurn = 200.0;    // [deg] joint 6 in steps 9 and 10 each
constexpr double kStepTurnTime = 5.0;  // [s]
constexpr double kStepQuarter = 90.0;  // [deg] joint 6 between steps 3 and 4, 6 and 7

// Continuous identification: the operator's hand holds the wrist (origin of frame 4) through
// the give of an arm and leads it round a horizontal circle: a spring and damper between the
// hand and the wrist, the circle's radius growing to its full size over the first second.
constexpr int kGuidedLink = 4;
constexpr double kHandRamp = 1.0;         // [s]
constexpr double kHandStiffness = 800.0;  // [N/m]
constexpr double kHandDamping = 250.0;    // [N s/m]
constexpr double kHandForceLimit = 80.0;  // [N]

// The nine-point poses [deg]: wrist tilts of ±20..90 degrees about the ready pose in different
// directions, joint 5 well away from 0 and ±180 (joints 4 and 6 aligned).
const std::vector<Vec6> kNinePoses = {
    {0, -90, 90, -90, -90, 0},        {20, -80, 80, -60, -60, 40},
    {-20, -100, 100, -120, -60, -40}, {0, -70, 100, -30, -90, 90},
    {30, -90, 80, -90, -130, 30},     {-30, -80, 110, -150, -110, -60},
    {10, -100, 70, -50, -40, 120},    {-10, -110, 90, -100, -140, 60},
    {0, -90, 90, -180, -90, 0},
};

// Flange down with the flange axis `lever` mm horizontally from the elbow axis (joint 1 at 0,
// so the axes of joints 2-4 lie along the base y axis): the elbow angle found by bisection,
// joint 4 keeping the flange vertical.
Vec6 elbow_pose(const ArmPlant &plant, double lever) {
    auto pose = [](double q3) { return Vec6{0, -90, q3, -q3, -90, 0}; };
    auto reach = [&](double q3) {
        const Vec6 q = pose(q3);
        return std::fabs(plant.frame_point_at(q.data(), 6)[0] -
                         plant.frame_point_at(q.data(), 2)[0]);
    };
    double lo = 0.0, hi = 90.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (lo + hi);
        (reach(mid) < lever ? lo : hi) = mid;
    }
    return pose(0.5 * (lo + hi));
}

Vec6 turned(Vec6 q, double joint6) {
    q[5] += joint6;
    return q;
}

// Plant, host and the identification calls of one servo cycle.
class Rig {
   public:
    Rig(const PayloadOptions &o, ArmPlant &plant, SimHost &host, PayloadResult &r)
        : o_(o),
          plant_(plant),
          host_(host),
          r_(r),
          sensor_(kSensorModel, kSensorRange, o.common.seed) {}

    void start(const Vec6 &q) {
        host_.start(q);
        goal_ = q;
    }

    // One servo cycle: the sensor's sample, the host's cycle, then the identification steps
    // the host runs after the library's torque and collision calls.
    void cycle() {
        mpb.cmdId = step_;
        if (sensor_on_) {
            feed_sensor();
        }
        if (guiding_) {
            lead_by_hand();
        }
        r_.trace.push_back(host_.cycle());
        if (step_driven_) {
            kxmcLoadIdentifyControl();
        }
        if (sensor_on_) {
            const double before = mpb.loadWeight;
            kxmcLoadIdentifyDynControl();
            if (mpb.robotState == 4) {
                note_estimate(before);
            }
        }
    }

    // A joint move from the last goal, running (robot state 2).
    void move(const Vec6 &to, double speed) {
        JointProgram p;
        p.waypoints = {goal_, to};
        p.speed = speed;
        const int cycles = static_cast<int>(std::lround(p.segment_duration(0) / kCycle));
        host_.run_program(p);
        run(cycles);
        goal_ = to;
    }
    // Standing at the goal while the program still runs (state 2).
    void hold_running(double seconds) {
        JointProgram p;
        p.waypoints = {goal_, goal_};
        host_.run_program(p);
        run(static_cast<int>(std::lround(seconds / kCycle)));
    }
    // Stopped at the goal (state 1).
    void rest(double seconds) {
        mpb.robotState = kStopped;
        run(static_cast<int>(std::lround(seconds / kCycle)));
    }
    void run(int cycles) {
        for (int i = 0; i < cycles; ++i) {
            cycle();
        }
    }

    void set_step(uint32_t step) { step_ = step; }
    void set_step_driven(bool on) { step_driven_ = on; }
    // The sensor's processing on, giving the wrench about the flange in flange axes (the
    // continuous identification reads it there), with the sensor's mounting on the flange.
    void set_sensor(bool on) {
        sensor_on_ = on;
        if (on) {
            mcb.forceSensorType = kSensorModel;
            mcb.forceSensorRange = kSensorRange;
            const SensorMount &m = plant_.config().scene.sensor;
            const float pose[6] = {static_cast<float>(m.offset[0]), static_cast<float>(m.offset[1]),
                                   static_cast<float>(m.offset[2]), static_cast<float>(m.rpy[0]),
                                   static_cast<float>(m.rpy[1]),    static_cast<float>(m.rpy[2])};
            qmcSetForceSensorRcs(0, pose, 0);
        }
        qmcSetForceSensorAct(on ? 1 : 0, 0);
    }
    void guide(bool on) {
        guiding_ = on;
        if (on) {
            guide_start_ = host_.time();
            hand_start_ = last_wrist_ = plant_.frame_point(kGuidedLink);
            qmcDragSwitch(1);
            host_.enter_drag();
        } else {
            plant_.clear_loads();
            qmcDragSwitch(0);
        }
    }
    void phase(const char *name) { r_.phases.push_back({host_.time(), name}); }

   private:
    // The first estimate shows as the declared mass changing; from then on one follows every
    // sample period (a limited estimate may repeat the previous value).
    void note_estimate(double before) {
        ++guided_cycles_;
        const int64_t period = std::max<int64_t>(1, o_.window / 5);
        const bool first = r_.estimates.empty() && mpb.loadWeight != before;
        if (first) {
            first_cycle_ = guided_cycles_;
        }
        if (first || (!r_.estimates.empty() && (guided_cycles_ - first_cycle_) % period == 0)) {
            r_.estimates.push_back({host_.time() - guide_start_, mpb.loadWeight});
        }
    }

    void lead_by_hand() {
        const double t = host_.time() - guide_start_;
        const double radius = o_.hand_radius * std::min(1.0, t / kHandRamp);
        const double a = 2.0 * kPi * t / o_.hand_period;
        const Vec3 hand =
            add(hand_start_, {radius * (1.0 - std::cos(a)), radius * std::sin(a), 0.0});
        const Vec3 wrist = plant_.frame_point(kGuidedLink);
        const Vec3 velocity = scale(sub(wrist, last_wrist_), 1.0 / (kMm * kCycle));  // [m/s]
        last_wrist_ = wrist;
        Vec3 force =
            sub(scale(sub(hand, wrist), kHandStiffness / kMm), scale(velocity, kHandDamping));
        const double size = norm(force);
        if (size > kHandForceLimit) {
            force = scale(force, kHandForceLimit / size);
        }
        plant_.set_link_force(kGuidedLink, force);
    }

    // This cycle's sample words of the plant's wrist sensor through the library's processing.
    void feed_sensor() {
        int32_t words[6] = {0, 0, 0, 0, 0, 0};
        sensor_.sample(plant_.sensor_wrench().data(), words);
        forceSensorDataProcess(words);
    }

    const PayloadOptions &o_;
    ArmPlant &plant_;
    SimHost &host_;
    PayloadResult &r_;
    SensorSampleSource sensor_;
    Vec6 goal_{};
    uint32_t step_ = 0;
    bool step_driven_ = false;
    bool sensor_on_ = false;
    bool guiding_ = false;
    int64_t guided_cycles_ = 0, first_cycle_ = 0;
    double guide_start_ = 0.0;
    Vec3 hand_start_{}, last_wrist_{};
};

void step_driven(Rig &rig, const ArmPlant &plant, double speed, PayloadEstimate &e) {
    const Vec6 elbow = elbow_pose(plant, kElbowLever);
    qmcLoadIdentifyStartEnd(1);
    rig.set_step_driven(true);
    rig.set_step(1);
    rig.move(kWristHorizontal, speed);
    rig.set_step(2);
    rig.hold_running(0.5);
    rig.set_step(3);
    rig.hold_running(kStepHold);
    rig.set_step(4);
    rig.move(turned(kWristHorizontal, kStepQuarter), speed);
    rig.hold_running(kStepHold);
    rig.set_step(5);
    rig.move(elbow, speed);
    rig.set_step(6);
    rig.hold_running(kStepHold);
    rig.set_step(7);
    rig.move(turned(elbow, kStepQuarter), speed);
    rig.hold_running(kStepHold);
    rig.set_step(8);
    rig.move(kWristHorizontal, speed);
    // Joint 6 turns at the speed that takes it through kStepTurn in kStepTurnTime.
    const double turn_speed = 1.875 * kStepTurn / kStepTurnTime;
    rig.set_step(9);
    rig.move(turned(kWristHorizontal, kStepTurn), turn_speed);
    rig.set_step(10);
    rig.move(kWristHorizontal, turn_speed);
    rig.rest(0.01);  // the sequence ends: the robot stops in step 10
    rig.set_step(0);
    rig.set_step_driven(false);

    uint8_t finished = 0;
    double coord[3] = {0, 0, 0};
    qmcGetLoadWeightCoord(&finished, &e.mass, coord);
    e.ran = true;
    e.formed = finished == 1;
    e.centre = {coord[0], coord[1], coord[2]};
}

void nine_point(Rig &rig, ArmPlant &plant, const PayloadOptions &o, PayloadEstimate &e) {
    std::memset(&simply_loadidentify, 0, sizeof simply_loadidentify);
    for (uint32_t mode = 0; mode < 2; ++mode) {
        plant.carry_payload(mode == 1);  // taken off for the first round, mounted for the second
        kxmcSetCurrentLoadIdentifyFlag(mode);
        for (uint32_t k = 0; k < kNinePoses.size(); ++k) {
            rig.move(kNinePoses[k], o.speed);
            rig.rest(o.settle);
            kxmcSaveLoadIdentifyPoint(k + 1);
        }
    }
    double mass = 0.0, coord[3] = {0, 0, 0};
    e.ran = true;
    e.formed = kxmcComEndLoadMain(&mass, coord) == 0;
    e.mass = mass;
    e.centre = {coord[0], coord[1], coord[2]};
}

void continuous(Rig &rig, const PayloadOptions &o, PayloadResult &r) {
    rig.move(kNinePoses[0], o.speed);
    rig.rest(0.3);
    // The host's declared payload when guiding starts.
    r.declared_mass = o.mass * o.declared_ratio;
    mpb.loadWeight = r.declared_mass;
    for (std::size_t k = 0; k < 3; ++k) {
        mpb.loadCoord[k] = o.centre[k];
    }
    qmcSetLoadIdentifyDynPara(o.window);
    qmcLoadIdentifyDynOnOff(1);
    rig.set_sensor(true);
    rig.guide(true);
    rig.run(static_cast<int>(std::lround(o.guide / kCycle)));
    rig.guide(false);
    rig.run(2);  // leaving hand guiding persists the identified mass
    rig.set_sensor(false);
    qmcLoadIdentifyDynOnOff(0);

    PayloadEstimate &e = r.continuous;
    e.ran = true;
    e.has_centre = false;
    e.formed = !r.estimates.empty();
    if (e.formed) {
        r.first_estimate = r.estimates.front().first;
        e.mass = r.estimates.back().second;
    }
}

}  // namespace

const std::vector<Vec6> &nine_point_poses() { return kNinePoses; }

double mass_error_percent(const PayloadEstimate &e, const Inertial &truth) {
    return truth.mass > 0.0 ? 100.0 * (e.mass - truth.mass) / truth.mass : 0.0;
}

double centre_error_mm(const PayloadEstimate &e, const Inertial &truth) {
    return norm(sub(e.centre, {truth.centre[0], truth.centre[1], truth.centre[2]}));
}

PayloadResult run_payload(const PayloadOptions &o) {
    Scene scene;  // a massless tool 100 mm long on the sensor, and the payload
    Inertial nominal;
    nominal.mass = o.mass;
    nominal.centre = {o.centre[0], o.centre[1], o.centre[2]};
    scene.payload = perturbed(nominal, {o.common.model_error, o.common.seed}, 1);
    ArmPlant plant(plant_config(o.common, scene));

    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = 2;  // full dynamics: it keeps the filtered joint torques current
    hc.monitor_only = true;
    hc.dual_encoder = false;
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);

    PayloadResult r;
    r.truth = scene.payload;
    Rig rig(o, plant, host, r);
    rig.start(kNinePoses[0]);
    if (o.step_driven) {
        rig.phase("step-driven");
        step_driven(rig, plant, o.speed, r.step);
    }
    if (o.nine_point) {
        rig.phase("nine-point");
        nine_point(rig, plant, o, r.nine);
    }
    if (o.continuous) {
        rig.phase("hand guiding");
        continuous(rig, o, r);
    }
    return r;
}

}  // namespace kxsim
