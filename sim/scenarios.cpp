// Scenario runs. Every run starts a fresh host (records, configuration folder) and a fresh
// plant, so its figures depend only on its options and seed.
#include "sim/scenarios.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "kxmc/kxmc_identification_store.h"

namespace kxsim {

namespace {

constexpr double kProgressEvery = 1.0;   // [s] simulated
constexpr double kProgressAbove = 5.0;   // [s] runs longer than this show progress
constexpr double kContactOnset = 0.5;    // [N] contact force that counts as touching
constexpr double kPathStep = 0.005;      // [s] finite-difference step along the program
constexpr double kObserverAllowance = 5.0;  // [N m] the observer adds to every threshold
constexpr double kObserverWindow = 0.3;  // [s] after the onset, for the peak residual
constexpr int kTraceEvery = 10;          // excitation trace: every 10th cycle
// Torque gains of the drives the wrist regressor was identified with (joints 4 and 5): a host
// whose torques are exact applies them so the regressor sees what it was made for.
constexpr double kWristReportGain[6] = {1.0, 1.0, 1.0, 0.8151, 0.8407, 1.0};
constexpr double kTrajectoryTick = 1.0e-6;  // [s] of the real period per trajectory step k
constexpr double kTrajectoryStep = 0.008;   // the trajectory's time per step at a = 1

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

// The arm's point that meets the obstacle: a DH frame origin or the tool centre point.
Vec3 hit_point_at(const ArmPlant &plant, const double joints_deg[6], int link) {
    return link == kToolPoint ? plant.tool_point_at(joints_deg, plant.config().scene.tool.tcp)
                              : plant.frame_point_at(joints_deg, link);
}

// How far the arm's surface reaches beyond the hit point: the thickest capsule meeting there.
double hit_radius(const ArmPlant &plant, int link) {
    const Scene &scene = plant.config().scene;
    if (link == kToolPoint) {
        return scene.tool.radius;
    }
    const std::size_t i = static_cast<std::size_t>(std::clamp(link, 1, 6) - 1);
    const double beyond = i < 5 ? plant.truth().radius[i + 1] : scene.tool.radius;
    return std::max(plant.truth().radius[i], beyond);
}

// Obstacle face on the programmed path: where the hit point's surface arrives at program time
// `at`, facing the motion.
ObstacleSpec obstacle_on_path(const CollisionOptions &o, const Scene &scene,
                              const JointProgram &program) {
    const ArmPlant probe(plant_config(o.common, scene));
    const JointProgram::Sample now = program.sample(o.at);
    const JointProgram::Sample before = program.sample(o.at - kPathStep);
    const JointProgram::Sample after = program.sample(o.at + kPathStep);
    const int link = hit_link(o);
    const Vec3 p = hit_point_at(probe, now.pos.data(), link);
    const Vec3 motion = sub(hit_point_at(probe, after.pos.data(), link),
                            hit_point_at(probe, before.pos.data(), link));
    const double len = norm(motion);
    const Vec3 u = len > 1e-9 ? scale(motion, 1.0 / len) : Vec3{0.0, 0.0, -1.0};
    const Vec3 face = add(p, scale(u, hit_radius(probe, link)));
    const Vec3 normal = scale(u, -1.0);
    if (o.obstacle == kBox) {
        return rigid_box(face, normal);
    }
    const BodyRegion *region = find_body_region(o.obstacle);
    if (region == nullptr) {
        throw std::runtime_error("unknown obstacle '" + o.obstacle + "'");
    }
    return body_region_pad(*region, face, normal);
}

}  // namespace

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

int hit_link(const CollisionOptions &o) {
    if (o.link != 0) {
        return o.link;
    }
    return o.obstacle == kScripted ? 3 : kToolPoint;
}

// The observer's joint-space matrices and the wrist regressor are the 5-kg arm's.
void require_five_kg_arm(uint32_t model, const char *scenario) {
    const ArmDescription *arm = find_arm(model);
    if (arm == nullptr || arm != find_arm(101)) {
        throw std::runtime_error(std::string(scenario) + " needs the 5-kg arm (model code 101)");
    }
}

PlantConfig plant_config(const CommonOptions &c, const Scene &scene) {
    PlantConfig pc;
    pc.model_code = c.model;
    pc.seed = c.seed;
    pc.model_error = {c.model_error, c.seed};
    pc.friction_scale = c.friction_scale;
    pc.scene = scene;
    return pc;
}

// ---- Hand guiding ---------------------------------------------------------------------------

HandguideResult run_handguide(const HandguideOptions &o) {
    Scene scene;  // a massless tool 100 mm long on the sensor, no payload
    Inertial declared;
    declared.mass = o.payload * o.payload_error;
    declared.centre = {o.payload_centre[0], o.payload_centre[1], o.payload_centre[2]};
    scene.payload = perturbed(declared, {o.common.model_error, o.common.seed}, 1);
    ArmPlant plant(plant_config(o.common, scene));
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

    Vec3 dir{o.direction[0], o.direction[1], o.direction[2]};
    const double n = norm(dir);
    dir = n > 0.0 ? scale(dir, 1.0 / n) : Vec3{};

    HandguideResult r;
    r.carried_mass = scene.payload.mass;
    r.release_time = 2.0 * o.ramp + o.push;
    const int cycles = static_cast<int>(std::lround(o.duration / kCycle));
    r.trace.reserve(static_cast<std::size_t>(cycles));
    for (int i = 0; i < cycles; ++i) {
        const double t = i * kCycle;
        const double f = o.force * ramp_profile(t, 0.0, o.ramp, o.push);
        plant.push_tool({0.0, 0.0, 0.0}, scale(dir, f));
        r.trace.push_back(host.cycle(std::fabs(f)));
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
    JointProgram program = default_program();
    program.speed = o.speed;
    Scene scene;  // a massless tool 100 mm long on the sensor, no payload
    const bool scripted = o.obstacle == kScripted;
    if (impact && !scripted) {
        scene.obstacles.push_back(obstacle_on_path(o, scene, program));
    }
    ArmPlant plant(plant_config(o.common, scene));
    HostConfig hc;
    hc.model_code = o.common.model;
    hc.teach_mode = 2;
    hc.collision_level = o.level;
    hc.reaction = o.reaction;
    hc.monitor_only = monitor_only;
    hc.dual_encoder = o.dual_encoder && !o.observer;
    hc.collision_check = !o.observer;
    hc.momentum_observer = o.observer;
    hc.config_root = o.common.config_root;
    SimHost host(hc, plant);
    host.start(program.waypoints[0]);
    host.run_program(program);

    CollisionRun run;
    const int cycles = static_cast<int>(std::lround(o.duration / kCycle));
    run.trace.reserve(static_cast<std::size_t>(cycles));
    const int link = hit_link(o);
    Vec3 last_point = hit_point_at(plant, plant.joints_deg().data(), link);
    for (int i = 0; i < cycles; ++i) {
        const double t = i * kCycle;
        const Vec3 point = hit_point_at(plant, plant.joints_deg().data(), link);
        const Vec3 motion = scale(sub(point, last_point), 1.0 / kCycle);  // [mm/s]
        last_point = point;
        const bool starts = impact && !run.impact && scripted && t >= o.at;
        if (starts) {
            // The scripted obstacle stands in the way of the point: the force opposes its motion
            // at the onset (straight down when it is at rest).
            run.impact = true;
            run.onset = t;
            run.contact_speed = norm(motion);
            for (std::size_t k = 0; k < 3; ++k) {
                run.impact_direction[k] = run.contact_speed > 1.0 ? motion[k] / run.contact_speed
                                                                  : (k == 2 ? -1.0 : 0.0);
            }
        }
        double f = 0.0;
        if (impact && scripted && run.impact) {
            f = o.force * ramp_profile(t, o.at, o.rise, o.hold);
            const Vec3 force{-f * run.impact_direction[0], -f * run.impact_direction[1],
                             -f * run.impact_direction[2]};
            if (link == kToolPoint) {
                plant.push_tool(plant.config().scene.tool.tcp, force);
            } else {
                plant.set_link_force(link, force);
            }
        }
        const TraceRow &row = host.cycle(f);
        run.trace.push_back(row);
        if (!scripted && !run.impact && row.contact_peak > kContactOnset) {
            run.impact = true;
            run.onset = t;
            run.contact_speed = norm(motion);
            const Vec3 u =
                run.contact_speed > 0.0 ? scale(motion, 1.0 / run.contact_speed) : Vec3{};
            std::copy(u.begin(), u.end(), run.impact_direction);
        }
        run.peak_force = std::max(run.peak_force, std::max(row.contact_peak, f));
        if (run.impact && t < run.onset + kImpulseWindow) {
            double impulse = f * kCycle;
            for (std::size_t k = 0; k < plant.obstacle_count(); ++k) {
                impulse += plant.contact(k).impulse;
            }
            run.impulse += impulse;
        }
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
    if (shadow.impact) {
        r.residual = first_detection(shadow, "residual", shadow.onset);
        r.dual = first_detection(shadow, "dual-encoder", shadow.onset);
    }

    r.first_detector = "none";
    for (const HostEvent &e : r.live.events) {
        if (e.what == "residual" || e.what == "dual-encoder") {
            if (r.first_detector == "none") {
                r.first_detector = e.what;
            }
        } else {
            r.reactions.push_back(e);
            if (r.halt_ms < 0.0 && r.live.impact &&
                (e.what == "qmcPause" || e.what == "qmcStop" || e.what == "qmcDragSwitch(1)")) {
                r.halt_ms = (e.t - r.live.onset) * 1000.0;
            }
        }
    }
    r.clean = run_collision_once(o, false, true);
    r.false_alarms_residual = count_alarms(r.clean, "residual");
    r.false_alarms_dual = count_alarms(r.clean, "dual-encoder");

    if (o.scan_doubled_error) {
        CollisionOptions doubled = o;
        doubled.common.model_error *= 2.0;
        doubled.common.progress = false;
        for (int level = 1; level <= 10; ++level) {
            doubled.level = static_cast<float>(level);
            const CollisionRun run = run_collision_once(doubled, false, true);
            r.doubled_error_residual_alarms.push_back(count_alarms(run, "residual"));
            r.doubled_error_dual_alarms.push_back(count_alarms(run, "dual-encoder"));
            if (r.doubled_error_residual_alarms.back() + r.doubled_error_dual_alarms.back() > 0) {
                r.doubled_error_alarm_level = level;
            }
            for (std::size_t i = 0; level == 1 && i < run.trace.size(); ++i) {
                const TraceRow &row = run.trace[i];
                for (std::size_t j = 0; j < 6; ++j) {
                    if (row.threshold[j] > 0.0) {
                        r.doubled_error_residual_share =
                            std::max(r.doubled_error_residual_share,
                                     std::fabs(row.residual[j]) / row.threshold[j]);
                    }
                }
            }
        }
    }
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
            o.obstacle = kScripted;
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

// ---- Safety table ---------------------------------------------------------------------------

std::vector<SafetyRow> run_safety(const SafetyOptions &o) {
    for (const std::string &name : o.regions) {
        if (find_body_region(name) == nullptr) {
            throw std::runtime_error("unknown body region '" + name + "'");
        }
    }
    std::vector<SafetyRow> rows;
    const double total = static_cast<double>(o.regions.size() * o.levels.size() * o.speeds.size());
    for (const std::string &name : o.regions) {
        const BodyRegion &region = *find_body_region(name);
        for (float level : o.levels) {
            for (double speed : o.speeds) {
                CollisionOptions c;
                c.common = o.common;
                c.common.progress = false;
                c.obstacle = name;
                c.link = o.link;
                c.level = level;
                c.speed = speed;
                c.reaction = o.reaction;
                c.dual_encoder = o.dual_encoder;
                // Meet the region half-way through the first move, at the programmed speed.
                JointProgram program = default_program();
                program.speed = speed;
                c.at = 0.5 * program.segment_duration(0);
                c.duration = c.at + o.after;
                const CollisionRun run = run_collision_once(c, true, false);

                SafetyRow row;
                row.region = name;
                row.level = level;
                row.speed = speed;
                row.limit = region.transient;
                row.held_limit = region.quasi_static;
                row.contact = run.impact;
                row.contact_speed = run.contact_speed;
                row.peak = run.peak_force;
                row.held = run.trace.empty() ? 0.0 : run.trace.back().force;
                for (const HostEvent &e : run.events) {
                    if (run.impact && (e.what == "residual" || e.what == "dual-encoder") &&
                        e.t >= run.onset - 1e-9) {
                        row.detected = true;
                        row.detector = e.what;
                        row.delay_ms = (e.t - run.onset) * 1000.0;
                        break;
                    }
                }
                rows.push_back(row);
                if (o.common.progress) {
                    std::fprintf(stderr, "\r[kxsim] safety %3zu / %.0f runs", rows.size(), total);
                    if (static_cast<double>(rows.size()) >= total) {
                        std::fprintf(stderr, "\n");
                    }
                    std::fflush(stderr);
                }
            }
        }
    }
    return rows;
}

// ---- Momentum observer ----------------------------------------------------------------------

ObserverResult run_observer(const CollisionOptions &in) {
    require_five_kg_arm(in.common.model, "the observer scenario");
    CollisionOptions o = in;
    o.observer = true;
    ObserverResult r;
    r.live = run_collision_once(o, true, false);
    for (const HostEvent &e : r.live.events) {
        if (e.what == "observer") {
            continue;
        }
        r.reactions.push_back(e);
        if (r.halt_ms < 0.0 && r.live.impact && (e.what == "qmcPause" || e.what == "qmcStop")) {
            r.halt_ms = (e.t - r.live.onset) * 1000.0;
        }
    }
    const CollisionRun shadow = run_collision_once(o, true, true);
    if (shadow.impact) {
        r.detection = first_detection(shadow, "observer", shadow.onset);
        for (const TraceRow &row : shadow.trace) {
            if (row.t < shadow.onset || row.t > shadow.onset + kObserverWindow) {
                continue;
            }
            for (std::size_t j = 0; j < 6; ++j) {
                r.peak_residual[j] = std::max(r.peak_residual[j], std::fabs(row.observer[j]));
            }
        }
    }
    r.clean = run_collision_once(o, false, true);
    r.false_alarms = count_alarms(r.clean, "observer");
    for (const TraceRow &row : r.clean.trace) {
        for (std::size_t j = 0; j < 6; ++j) {
            const double limit = row.observer_threshold[j] + kObserverAllowance;
            r.clean_share = std::max(r.clean_share, std::fabs(row.observer[j]) / limit);
        }
    }
    return r;
}

// ---- Excitation identification --------------------------------------------------------------

namespace {

// Joint positions [deg] of the library's excitation trajectory s seconds into a run whose real
// period is `play`.
Vec6 excitation_pose(const ExcitationOptions &o, double s) {
    const double a = kTrajectoryStep * o.play / kTrajectoryTick;
    const uint32_t k = static_cast<uint32_t>(std::llround(std::max(s, 0.0) / kTrajectoryTick));
    Vec6 q{};
    (void)kxmcComputefourierAccVelPos(0.0, a, o.period, k, q.data());
    return q;
}

// The path: the trajectory entered at rest, its time s(t) speeding up over the lead-in L
// (s = t^2 / 2L, then t - L / 2), so the arm starts from a standstill at the trajectory's start.
JointProgram::Sample excitation_sample(const ExcitationOptions &o, double t) {
    const double lead = std::max(o.lead_in, kCycle);
    const double s = t < lead ? t * t / (2.0 * lead) : t - 0.5 * lead;
    const double ds = t < lead ? t / lead : 1.0;
    const double dds = t < lead ? 1.0 / lead : 0.0;
    const double h = kCycle;
    const Vec6 before = excitation_pose(o, s - h), now = excitation_pose(o, s),
               after = excitation_pose(o, s + h);
    JointProgram::Sample sample{};
    for (std::size_t j = 0; j < 6; ++j) {
        const double dq = (after[j] - before[j]) / (2.0 * h);
        const double ddq = (after[j] - 2.0 * now[j] + before[j]) / (h * h);
        sample.pos[j] = now[j];
        sample.vel[j] = dq * ds;
        sample.acc[j] = ddq * ds * ds + dq * dds;
    }
    return sample;
}

ExcitationEstimate payload_estimate(const Inertial &truth) {
    ExcitationEstimate e;
    ExcitationResultBlock block{};
    block.value[4] = 1.0;
    e.status = kxmcgetloadidentifyresult(block, &e.mass, e.centre);
    e.mass_error = e.mass - truth.mass;
    double d2 = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        const double d = e.centre[k] - truth.centre[k];
        d2 += d * d;
    }
    e.centre_error = std::sqrt(d2);
    return e;
}

// One identification run on a plant carrying `scene`: the arm enters the trajectory, then the
// library collects one real period. Returns whether the run ended with a solution.
bool identification_run(const ExcitationOptions &o, const CommonOptions &c, const Scene &scene,
                        std::vector<TraceRow> *trace, double *peak_rate) {
    ArmPlant plant(plant_config(c, scene));
    HostConfig hc;
    hc.model_code = c.model;
    hc.teach_mode = 2;
    // The payload is what is unknown: no collision detection while it is identified.
    hc.collision_check = false;
    hc.dual_encoder = false;
    hc.config_root = c.config_root;
    SimHost host(hc, plant);
    host.start(excitation_sample(o, 0.0).pos);
    host.run_path([o](double t) { return excitation_sample(o, t); });

    const int lead = static_cast<int>(std::lround(o.lead_in / kCycle));
    const int samples = static_cast<int>(std::lround(o.play / kCycle));
    if (kxmcdynstoreresert() != 0) {
        return false;
    }
    Vec6 last{};
    for (int i = 0; i < lead + samples; ++i) {
        const TraceRow &row = host.cycle();
        if (i >= lead) {
            double torque[6];
            for (std::size_t j = 0; j < 6; ++j) {
                torque[j] = drive_torque(static_cast<int>(j), row.current[j]) * kWristReportGain[j];
                if (peak_rate != nullptr && i > lead) {
                    *peak_rate = std::max(*peak_rate, std::fabs(row.q[j] - last[j]) / kCycle);
                }
            }
            (void)kxmcloadidentifymain(torque, row.q.data(), o.play);
            if (trace != nullptr && (i - lead) % kTraceEvery == 0) {
                trace->push_back(row);
            }
        }
        last = row.q;
        if (i % 1000 == 0) {
            progress(c, "excitation", i * kCycle, (lead + samples) * kCycle);
        }
    }
    // A solved run leaves a result; without one the result call says so.
    double mass = 0.0, centre[3];
    return kxmcgetloadidentifyresult(ExcitationResultBlock{}, &mass, centre) != -2;
}

}  // namespace

ExcitationResult run_excitation(const ExcitationOptions &o) {
    require_five_kg_arm(o.common.model, "the excitation scenario");
    ExcitationResult r;
    for (double error : o.model_errors) {
        CommonOptions c = o.common;
        c.model_error = error;
        ExcitationRow row;
        row.model_error = error;
        Inertial declared;
        declared.mass = o.payload;
        declared.centre = {o.payload_centre[0], o.payload_centre[1], o.payload_centre[2]};
        // A compact body: the inertia of a 60 mm ball about its centre.
        const double ball = 0.4 * o.payload * 30.0 * 30.0;
        declared.inertia = {ball, 0.0, 0.0, ball, 0.0, ball};
        Scene loaded;
        loaded.payload = perturbed(declared, {error, c.seed}, 1);
        row.truth = loaded.payload;

        // The measured baseline: the same arm without payload along the same trajectory.
        (void)kxmcselectvalue(0);
        const bool baseline = identification_run(o, c, Scene{}, nullptr, nullptr) &&
                              kxmcloadidentifyvalue(1) == 0;
        r.trace.clear();
        (void)identification_run(o, c, loaded, &r.trace, &row.peak_rate);
        if (baseline) {
            row.measured = payload_estimate(row.truth);
        }
        (void)kxmcselectvalue(0);
        row.table = payload_estimate(row.truth);
        r.rows.push_back(row);
    }
    return r;
}

}  // namespace kxsim
