// Scenario runs. Every run starts a fresh host (records, configuration folder) and a fresh
// plant, so its figures depend only on its options and seed.
#include "sim/scenarios.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kxsim {

namespace {

constexpr double kCycle = 0.001;  // [s]
constexpr double kProgressEvery = 1.0;   // [s] simulated
constexpr double kProgressAbove = 5.0;   // [s] runs longer than this show progress

void progress(const CommonOptions &c, const char *name, double t, double total) {
    if (!c.progress || total <= kProgressAbove) {
        return;
    }
    std::fprintf(stderr, "\r[kxsim] %s %5.1f / %.1f s", name, t, total);
    if (t + kProgressEvery >= total) {
        std::fprintf(stderr, "\n");
    }
    std::fflush(stderr);
}

double ramp_profile(double t, double start, double rise, double hold) {
    if (t < start) {
        return 0.0;
    }
    const double r = std::max(rise, kCycle);
    const double u = t - start;
    if (u < r) {
        return u / r;
    }
    if (u < r + hold) {
        return 1.0;
    }
    if (u < 2.0 * r + hold) {
        return 1.0 - (u - r - hold) / r;
    }
    return 0.0;
}

double distance3(const double a[3], const double b[3]) {
    const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace

// ---- Hand guiding ---------------------------------------------------------------------------

HandguideResult run_handguide(const HandguideOptions &o) {
    PlantConfig pc;
    pc.model_code = o.common.model;
    pc.seed = o.common.seed;
    pc.payload_mass = o.payload * o.payload_error;
    for (int k = 0; k < 3; ++k) {
        pc.payload_centre[k] = o.payload_centre[k];
    }
    ArmPlant plant(pc);
    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = static_cast<uint8_t>(o.mode);
    hc.payload_mass = o.payload;
    for (int k = 0; k < 3; ++k) {
        hc.payload_centre[k] = o.payload_centre[k];
    }
    hc.dual_encoder = false;
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    host.start(default_program().waypoints[0]);
    host.enter_drag();

    double dir[3] = {o.direction[0], o.direction[1], o.direction[2]};
    const double n = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    for (double &d : dir) {
        d = n > 0.0 ? d / n : 0.0;
    }

    HandguideResult r;
    r.release_time = 2.0 * o.ramp + o.push;
    const int cycles = static_cast<int>(std::lround(o.duration / kCycle));
    r.trace.reserve(static_cast<std::size_t>(cycles));
    for (int i = 0; i < cycles; ++i) {
        const double t = i * kCycle;
        const double f = o.force * ramp_profile(t, 0.0, o.ramp, o.push);
        const double force[3] = {f * dir[0], f * dir[1], f * dir[2]};
        const Vec6 tau = plant.force_to_joint_torque(6, force);
        r.trace.push_back(host.cycle(tau, std::fabs(f)));
        if (i % 1000 == 0) {
            progress(o.common, "handguide", t, o.duration);
        }
    }

    const TraceRow &first = r.trace.front();
    const std::size_t release =
        std::min(r.trace.size() - 1, static_cast<std::size_t>(r.release_time / kCycle));
    r.travel_mm = distance3(r.trace[release].flange, first.flange);
    const std::size_t last_second =
        r.trace.size() > 1000 ? r.trace.size() - 1000 : std::size_t{0};
    for (std::size_t i = std::max<std::size_t>(last_second, 1); i < r.trace.size(); ++i) {
        r.drift_mm += distance3(r.trace[i].flange, r.trace[i - 1].flange);
    }
    if (r.trace.size() > 10) {
        r.end_speed =
            distance3(r.trace.back().flange, r.trace[r.trace.size() - 11].flange) / (10 * kCycle);
    }
    for (const TraceRow &row : r.trace) {
        for (std::size_t j = 0; j < 6; ++j) {
            r.peak_cmd[j] = std::max(r.peak_cmd[j], std::fabs(row.cmd[j]));
        }
    }
    r.events = host.events();
    return r;
}

// ---- Collision ------------------------------------------------------------------------------

CollisionRun run_collision_once(const CollisionOptions &o, bool impact, bool monitor_only) {
    PlantConfig pc;
    pc.model_code = o.common.model;
    pc.seed = o.common.seed;
    ArmPlant plant(pc);
    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = 2;
    hc.collision_level = o.level;
    hc.reaction = o.reaction;
    hc.monitor_only = monitor_only;
    hc.dual_encoder = o.dual_encoder;
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    JointProgram program = default_program();
    program.speed = o.speed;
    host.start(program.waypoints[0]);
    host.run_program(program);

    CollisionRun run;
    const int cycles = static_cast<int>(std::lround(o.duration / kCycle));
    run.trace.reserve(static_cast<std::size_t>(cycles));
    bool direction_set = false;
    for (int i = 0; i < cycles; ++i) {
        const double t = i * kCycle;
        Vec6 tau{};
        double f = 0.0;
        if (impact && t >= o.at) {
            if (!direction_set) {
                // The obstacle stands in the way of the link: the force opposes the point's
                // motion at the moment of impact (straight down when it is at rest).
                double pos[3], vel[3];
                plant.link_point(o.link, pos, vel);
                const double speed = std::sqrt(vel[0] * vel[0] + vel[1] * vel[1] + vel[2] * vel[2]);
                for (int k = 0; k < 3; ++k) {
                    run.impact_direction[k] = speed > 1.0 ? -vel[k] / speed : (k == 2 ? -1.0 : 0.0);
                }
                direction_set = true;
            }
            f = o.force * ramp_profile(t, o.at, o.rise, o.hold);
            const double force[3] = {f * run.impact_direction[0], f * run.impact_direction[1],
                                     f * run.impact_direction[2]};
            tau = plant.force_to_joint_torque(o.link, force);
        }
        run.peak_force = std::max(run.peak_force, f);
        run.trace.push_back(host.cycle(tau, f));
        if (i % 1000 == 0) {
            progress(o.common, impact ? "collision" : "no-impact", t, o.duration);
        }
    }
    run.events = host.events();
    return run;
}

DetectorReport first_detection(const CollisionRun &run, const std::string &detector,
                               double from) {
    DetectorReport d;
    for (const HostEvent &e : run.events) {
        if (e.what == detector && e.t >= from - 1e-9) {
            d.detected = true;
            d.delay_ms = (e.t - from) * 1000.0;
            d.joint = e.joint;
            const std::size_t i = std::min(run.trace.size() - 1,
                                           static_cast<std::size_t>(std::lround(e.t / kCycle)));
            d.force_at_detection = run.trace.empty() ? 0.0 : run.trace[i].force;
            break;
        }
    }
    return d;
}

int count_alarms(const CollisionRun &run, const std::string &detector) {
    return static_cast<int>(std::count_if(run.events.begin(), run.events.end(),
                                          [&](const HostEvent &e) { return e.what == detector; }));
}

CollisionResult run_collision(const CollisionOptions &o) {
    CollisionResult r;
    r.live = run_collision_once(o, true, false);
    const CollisionRun shadow = run_collision_once(o, true, true);
    r.residual = first_detection(shadow, "residual", o.at);
    r.dual = first_detection(shadow, "dual-encoder", o.at);

    r.first_detector = "none";
    for (const HostEvent &e : r.live.events) {
        if (e.what == "residual" || e.what == "dual-encoder") {
            if (r.first_detector == "none") {
                r.first_detector = e.what;
            }
        } else {
            r.reactions.push_back(e);
            if (r.halt_ms < 0.0 &&
                (e.what == "qmcPause" || e.what == "qmcStop" || e.what == "qmcDragSwitch(1)")) {
                r.halt_ms = (e.t - o.at) * 1000.0;
            }
        }
    }
    r.clean = run_collision_once(o, false, true);
    r.false_alarms_residual = count_alarms(r.clean, "residual");
    r.false_alarms_dual = count_alarms(r.clean, "dual-encoder");
    return r;
}

// ---- Sweep ----------------------------------------------------------------------------------

std::vector<SweepCell> run_sweep(const CollisionOptions &base, const std::vector<float> &levels,
                                 const std::vector<double> &forces) {
    std::vector<SweepCell> cells;
    const double total = static_cast<double>(levels.size() * forces.size());
    double done = 0.0;
    for (double force : forces) {
        for (float level : levels) {
            CollisionOptions o = base;
            o.level = level;
            o.force = force;
            o.common.progress = false;
            const CollisionRun run = run_collision_once(o, true, true);
            cells.push_back({level, force, first_detection(run, "residual", o.at),
                             first_detection(run, "dual-encoder", o.at)});
            done += 1.0;
            if (base.common.progress && total * base.duration > kProgressAbove) {
                std::fprintf(stderr, "\r[kxsim] sweep %3.0f / %.0f runs", done, total);
                if (done >= total) {
                    std::fprintf(stderr, "\n");
                }
                std::fflush(stderr);
            }
        }
    }
    return cells;
}

}  // namespace kxsim
