// kxsim: the library running inside a simulated arm.
//
//   kxsim [--model N] [--seed S] [--model-error E] [--out DIR] [--quiet] <subcommand> [options]
//
//   handguide  hand guiding in torque mode; an operator pushes the flange, then lets go
//   collision  a joint program meets an obstacle (a box, a body region or a scripted force),
//              and the same program without it
//   sweep      scripted impacts over a grid of collision levels and impact forces
//   safety     the arm driven into human body regions at each level and speed: the table
//              for a risk assessment
//   toolload   the tool on the wrist sensor identified from three held poses
//   constforce a stylus pressed onto a compliant surface with constant force while the host
//              moves it along the surface
//   ftguide    wrist-sensor guiding: an operator pushes the tool toward a box guarded by a
//              virtual wall, then through a wrist singularity
//   observer   the collision scenario with the momentum observer as the detector (5-kg arm)
//   excitation the payload identified on the Fourier excitation trajectory (5-kg arm)
//   frictionid one joint driven through the friction identification's speed ladder: the
//              identified friction curve against the plant's, and the library's verdict
//   payload    the arm carries a payload the host does not know; the host identifies it with
//              its step-driven sequence, the nine-point procedure and the continuous
//              identification from the wrist sensor while guiding by hand
//   soak       an hour (--duration) of a joint program with random host commands interleaved,
//              checked every cycle: finite torques, command words in range, no reaction, the
//              settings files parse
//   model      writes an arm's MuJoCo model (MJCF) to a file
//
// Without a subcommand: a short collision run and its no-impact runs.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "payload/payload_common.hpp"
#include "sim/mjcf.hpp"
#include "sim/payload_scenario.hpp"
#include "sim/report.hpp"
#include "sim/scenarios.hpp"
#include "sim/soak.hpp"

namespace {

using namespace kxsim;

struct Global {
    uint32_t model = 101;
    uint64_t seed = 1;
    double model_error = 1.0;
    std::vector<double> friction_scale = {1.0};
    std::string body_regions;
    std::string out = "kxsim-out";
    bool quiet = false;
};

bool make_dir(const std::string &path) {
    std::string partial;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!partial.empty()) {
                ::mkdir(partial.c_str(), 0755);
            }
        }
        if (i < path.size()) {
            partial += path[i];
        }
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CommonOptions common_of(const Global &g) {
    CommonOptions c;
    c.model = g.model;
    c.seed = g.seed;
    c.model_error = g.model_error;
    for (std::size_t j = 0; j < 6; ++j) {
        c.friction_scale[j] =
            g.friction_scale.size() == 6 ? g.friction_scale[j] : g.friction_scale[0];
    }
    c.progress = !g.quiet;
    c.config_root = g.out + "/host";
    return c;
}

std::vector<double> column(const std::vector<TraceRow> &trace, double TraceRow::*field) {
    std::vector<double> v;
    v.reserve(trace.size());
    for (const TraceRow &r : trace) {
        v.push_back(r.*field);
    }
    return v;
}

std::vector<double> column(const std::vector<TraceRow> &trace, Vec6 TraceRow::*field, int j,
                           double scale = 1.0) {
    std::vector<double> v;
    v.reserve(trace.size());
    for (const TraceRow &r : trace) {
        v.push_back((r.*field)[static_cast<std::size_t>(j)] * scale);
    }
    return v;
}

std::vector<double> flange(const std::vector<TraceRow> &trace, int k) {
    std::vector<double> v;
    v.reserve(trace.size());
    for (const TraceRow &r : trace) {
        v.push_back(r.flange[k]);
    }
    return v;
}

PlotPanel command_panel(const std::vector<TraceRow> &trace) {
    PlotPanel p{"Torque command words", "time [s]", "command [per mille]", {}, {}, false};
    const std::vector<double> t = column(trace, &TraceRow::t);
    for (int j = 0; j < 6; ++j) {
        p.series.push_back({fmt("J%d", j + 1), t, column(trace, &TraceRow::cmd, j),
                            joint_colour(j), false});
    }
    return p;
}

void report_files(const Global &g, const std::string &name, const std::vector<TraceRow> &trace,
                  const std::string &title, const std::vector<PlotPanel> &panels) {
    const std::string csv = g.out + "/" + name + ".csv";
    const std::string svg = g.out + "/" + name + ".svg";
    const bool ok_csv = write_trace_csv(csv, trace);
    const bool ok_svg = write_svg(svg, title, panels);
    std::printf("%s %s\n%s %s\n", ok_csv ? "wrote" : "FAILED to write", csv.c_str(),
                ok_svg ? "wrote" : "FAILED to write", svg.c_str());
}

// ---- handguide ------------------------------------------------------------------------------

int do_handguide(const Global &g, const HandguideOptions &in) {
    HandguideOptions o = in;
    o.common = common_of(g);
    const HandguideResult r = run_handguide(o);

    std::printf("\nHand guiding: model %u, torque model %s, push %.1f N along (%g, %g, %g) for "
                "%.1f s, payload %.2f kg declared, %.2f kg carried\n\n",
                o.common.model, o.mode == 0 ? "gravity only" : "full dynamics", o.force,
                o.direction[0], o.direction[1], o.direction[2], o.push + 2 * o.ramp, o.payload,
                r.carried_mass);
    std::vector<std::vector<std::string>> rows = {
        {"flange travel at release", fmt("%.1f mm", r.travel_mm)},
        {"drift over the last second", fmt("%.2f mm", r.drift_mm)},
        {"flange speed at the end", fmt("%.2f mm/s", r.end_speed)},
    };
    std::string peaks;
    for (int j = 0; j < 6; ++j) {
        peaks += fmt("%s%.0f", j ? " / " : "", r.peak_cmd[j]);
    }
    rows.push_back({"peak |command| J1..J6 [per mille]", peaks});
    rows.push_back(
        {"host calls by the library", r.events.empty() ? "none" : fmt("%zu", r.events.size())});
    std::printf("%s\n", format_table({"quantity", "value"}, rows).c_str());

    const std::vector<double> t = column(r.trace, &TraceRow::t);
    PlotPanel path{"Flange path (top view)", "x [mm]", "y [mm]", {}, {}, true};
    path.series.push_back({"flange", flange(r.trace, 0), flange(r.trace, 1), "#1f77b4", false});
    PlotPanel xyz{"Flange position",
                  "time [s]",
                  "position - start [mm]",
                  {},
                  {{r.release_time, "release"}},
                  false};
    const char *names[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        std::vector<double> v = flange(r.trace, k);
        const double v0 = v.empty() ? 0.0 : v.front();
        for (double &x : v) {
            x -= v0;
        }
        xyz.series.push_back({names[k], t, v, joint_colour(k), false});
    }
    PlotPanel force{"Operator force", "time [s]", "force [N]", {}, {}, false};
    force.series.push_back({"|F|", t, column(r.trace, &TraceRow::force), "#333", false});
    PlotPanel cmd = command_panel(r.trace);
    cmd.markers.push_back({r.release_time, "release"});
    report_files(g, "handguide", r.trace, "kxsim hand guiding", {xyz, path, cmd, force});
    return 0;
}

// ---- collision ------------------------------------------------------------------------------

std::string detector_cell(const DetectorReport &d) {
    return d.detected ? fmt("yes, J%d", d.joint) : std::string("no");
}

std::string hit_point_name(int link) {
    return link == kToolPoint ? std::string("the tool centre point") : fmt("link %d", link);
}

int do_collision(const Global &g, const CollisionOptions &in) {
    CollisionOptions o = in;
    o.common = common_of(g);
    const CollisionResult r = run_collision(o);

    static const char *const kReactions[] = {"pause", "warning only", "stop", "stop + drag",
                                             "stop + drag hold", "stop + drag rebound"};
    const std::string what = o.obstacle == kScripted
                                 ? fmt("%.0f N scripted on %s at %.3f s (rise %.0f ms)", o.force,
                                       hit_point_name(hit_link(o)).c_str(), o.at, o.rise * 1000.0)
                                 : fmt("%s on the path of %s at %.3f s", o.obstacle.c_str(),
                                       hit_point_name(hit_link(o)).c_str(), o.at);
    std::printf("\nCollision: model %u, model error x%g, program at %.0f deg/s, %s, level %.1f, "
                "reaction %u (%s)\n\n",
                o.common.model, o.common.model_error, o.speed, what.c_str(), o.level, o.reaction,
                o.reaction <= 5 ? kReactions[o.reaction] : "other");
    std::vector<std::vector<std::string>> rows;
    for (const auto &d : {std::make_pair("torque residual", r.residual),
                          std::make_pair("dual encoder", r.dual)}) {
        rows.push_back({d.first, detector_cell(d.second),
                        d.second.detected ? fmt("%.0f", d.second.delay_ms) : "-",
                        d.second.detected ? fmt("%.0f", d.second.force_at_detection) : "-"});
    }
    std::printf("%s\n",
                format_table(
                    {"detector (monitoring run)", "detected", "delay [ms]", "force then [N]"}, rows)
                    .c_str());

    std::string reactions;
    for (const HostEvent &e : r.reactions) {
        reactions += fmt("%s%s@%.0fms", reactions.empty() ? "" : ", ", e.what.c_str(),
                         (e.t - r.live.onset) * 1000.0);
    }
    auto alarm_list = [](const std::vector<int> &alarms) {
        std::string s;
        for (int a : alarms) {
            s += fmt("%s%d", s.empty() ? "" : " ", a);
        }
        return s;
    };
    std::string scan = "not scanned";
    if (!r.doubled_error_residual_alarms.empty()) {
        scan = r.doubled_error_alarm_level == 0
                   ? fmt("none at levels 1-10 (%.1f s each)", o.duration)
                   : fmt("at level %d and below (%.1f s each; residual / dual encoder alarms at "
                         "levels 1-10: %s / %s)",
                         r.doubled_error_alarm_level, o.duration,
                         alarm_list(r.doubled_error_residual_alarms).c_str(),
                         alarm_list(r.doubled_error_dual_alarms).c_str());
        scan += fmt("; largest residual at level 1: %.0f %% of its threshold",
                    100.0 * r.doubled_error_residual_share);
    }
    const std::vector<std::vector<std::string>> live = {
        {"contact", r.live.impact ? fmt("at %.3f s, %.0f mm/s", r.live.onset, r.live.contact_speed)
                                  : std::string("none")},
        {"first detector (live run)", r.first_detector},
        {"host calls (after contact)", reactions.empty() ? "none" : reactions},
        {"program halted after", r.halt_ms >= 0.0 ? fmt("%.0f ms", r.halt_ms) : "not halted"},
        {"peak contact force", fmt("%.0f N", r.live.peak_force)},
        {"impulse (first 0.5 s)", fmt("%.2f N s", r.live.impulse)},
        {"false alarms without impact", fmt("%d residual, %d dual encoder (%.1f s)",
                                            r.false_alarms_residual, r.false_alarms_dual,
                                            o.duration)},
        {"false alarms, model error x2", scan},
    };
    std::printf("%s\n", format_table({"live run", "result"}, live).c_str());

    const std::vector<TraceRow> &tr = r.live.trace;
    const std::vector<double> t = column(tr, &TraceRow::t);
    std::vector<std::pair<double, std::string>> marks;
    if (r.live.impact) {
        marks.push_back({r.live.onset, "contact"});
    }
    if (r.halt_ms >= 0.0) {
        marks.push_back({r.live.onset + r.halt_ms / 1000.0, "halt"});
    }
    PlotPanel res{"Torque residuals against thresholds (J1-J3)", "time [s]",
                  "residual [N m, motor side]", {}, marks, false};
    for (int j = 0; j < 3; ++j) {
        res.series.push_back({fmt("J%d residual", j + 1), t, column(tr, &TraceRow::residual, j),
                              joint_colour(j), false});
        res.series.push_back({fmt("J%d threshold", j + 1), t, column(tr, &TraceRow::threshold, j),
                              joint_colour(j), true});
        res.series.push_back(
            {"", t, column(tr, &TraceRow::threshold, j, -1.0), joint_colour(j), true});
    }
    PlotPanel defl{"Gear deflection seen by the two encoders",
                   "time [s]",
                   "deflection [deg]",
                   {},
                   marks,
                   false};
    for (int j = 0; j < 3; ++j) {
        defl.series.push_back({fmt("J%d", j + 1), t, column(tr, &TraceRow::deflection, j),
                               joint_colour(j), false});
    }
    PlotPanel force{"Contact force", "time [s]", "force [N]", {}, marks, false};
    force.series.push_back({"|F|", t, column(tr, &TraceRow::force), "#333", false});
    PlotPanel cmd = command_panel(tr);
    cmd.markers = marks;
    PlotPanel path{"Flange path (side view)", "x [mm]", "z [mm]", {}, {}, true};
    path.series.push_back({"with impact", flange(tr, 0), flange(tr, 2), "#d62728", false});
    path.series.push_back(
        {"no impact", flange(r.clean.trace, 0), flange(r.clean.trace, 2), "#1f77b4", true});
    report_files(g, "collision", tr, "kxsim collision", {res, force, defl, cmd, path});
    const std::string clean_csv = g.out + "/collision-noimpact.csv";
    std::printf("%s %s\n", write_trace_csv(clean_csv, r.clean.trace) ? "wrote" : "FAILED to write",
                clean_csv.c_str());
    return 0;
}

// ---- sweep -----------------------------------------------------------------------------------

int do_sweep(const Global &g, const CollisionOptions &in, const std::vector<float> &levels,
             const std::vector<double> &forces) {
    CollisionOptions o = in;
    o.common = common_of(g);
    o.obstacle = kScripted;
    o.duration = std::min(o.duration, o.at + o.hold + 2 * o.rise + 0.3);
    const std::vector<SweepCell> cells = run_sweep(o, levels, forces);

    std::printf("\nDetection delay [ms] after a scripted impact, torque residual / dual encoder "
                "(\"-\": not detected); model %u, %s, program %.0f deg/s\n\n",
                o.common.model, hit_point_name(hit_link(o)).c_str(), o.speed);
    std::vector<std::string> header = {"force [N]"};
    for (float l : levels) {
        header.push_back(fmt("level %g", l));
    }
    std::vector<std::vector<std::string>> rows;
    auto cell_text = [](const DetectorReport &d) {
        return d.detected ? fmt("%.0f", d.delay_ms) : std::string("-");
    };
    for (double f : forces) {
        std::vector<std::string> row = {fmt("%.0f", f)};
        for (const SweepCell &c : cells) {
            if (c.force == f) {
                row.push_back(cell_text(c.residual) + " / " + cell_text(c.dual));
            }
        }
        rows.push_back(row);
    }
    std::printf("%s\n", format_table(header, rows).c_str());

    const std::string csv = g.out + "/sweep.csv";
    if (std::FILE *f = std::fopen(csv.c_str(), "w")) {
        std::fprintf(f, "level,force_N,residual_detected,residual_delay_ms,residual_joint,"
                        "dual_detected,dual_delay_ms,dual_joint\n");
        for (const SweepCell &c : cells) {
            std::fprintf(f, "%g,%.1f,%d,%.0f,%d,%d,%.0f,%d\n", c.level, c.force,
                         c.residual.detected ? 1 : 0, c.residual.delay_ms, c.residual.joint,
                         c.dual.detected ? 1 : 0, c.dual.delay_ms, c.dual.joint);
        }
        std::fclose(f);
        std::printf("wrote %s\n", csv.c_str());
    }
    PlotPanel p{"Torque-residual detection delay", "impact force [N]", "delay [ms]", {}, {}, false};
    for (std::size_t i = 0; i < levels.size(); ++i) {
        PlotSeries s{fmt("level %g", levels[i]), {}, {}, joint_colour(static_cast<int>(i)), false};
        for (const SweepCell &c : cells) {
            if (c.level == levels[i] && c.residual.detected) {
                s.x.push_back(c.force);
                s.y.push_back(c.residual.delay_ms);
            }
        }
        p.series.push_back(s);
    }
    const std::string svg = g.out + "/sweep.svg";
    std::printf("%s %s\n", write_svg(svg, "kxsim sweep", {p}) ? "wrote" : "FAILED to write",
                svg.c_str());
    return 0;
}

// ---- safety ----------------------------------------------------------------------------------

int do_safety(const Global &g, const SafetyOptions &in) {
    SafetyOptions o = in;
    o.common = common_of(g);
    const std::vector<SafetyRow> rows = run_safety(o);

    std::printf("\nSafety: model %u, model error x%g, %s driven into body regions (clamped), "
                "reaction %u; delay from first contact, peak transient force against the "
                "region's transient limit; held: contact force %.1f s after the planned contact "
                "against the quasi-static limit\n\n",
                o.common.model, o.common.model_error, hit_point_name(o.link).c_str(), o.reaction,
                o.after);
    std::vector<std::vector<std::string>> table;
    for (const SafetyRow &r : rows) {
        table.push_back({r.region, fmt("%g", r.level), fmt("%.0f", r.speed),
                         r.contact ? fmt("%.0f", r.contact_speed) : "no contact",
                         r.detected ? fmt("%.0f", r.delay_ms) : "not detected",
                         fmt("%.0f", r.peak), fmt("%.0f", r.limit),
                         r.contact ? (r.within() ? "within" : "over") : "-",
                         fmt("%.0f / %.0f", r.held, r.held_limit)});
    }
    std::printf("%s\n", format_table({"region", "level", "speed [deg/s]", "contact [mm/s]",
                                      "delay [ms]", "peak [N]", "limit [N]", "verdict",
                                      "held / limit [N]"},
                                     table)
                            .c_str());

    const std::string csv = g.out + "/safety.csv";
    if (std::FILE *f = std::fopen(csv.c_str(), "w")) {
        std::fprintf(f, "region,level,speed_deg_s,contact,contact_speed_mm_s,detected,detector,"
                        "delay_ms,peak_N,limit_N,within,held_N,held_limit_N\n");
        for (const SafetyRow &r : rows) {
            std::fprintf(f, "%s,%g,%.0f,%d,%.1f,%d,%s,%.0f,%.1f,%.0f,%d,%.1f,%.0f\n",
                         r.region.c_str(), r.level, r.speed, r.contact ? 1 : 0, r.contact_speed,
                         r.detected ? 1 : 0, r.detected ? r.detector.c_str() : "none",
                         r.delay_ms, r.peak, r.limit, r.within() ? 1 : 0, r.held, r.held_limit);
        }
        std::fclose(f);
        std::printf("wrote %s\n", csv.c_str());
    }
    std::vector<PlotPanel> panels;
    for (const std::string &region : o.regions) {
        PlotPanel p{
            "Peak transient force: " + region, "collision level", "force [N]", {}, {}, false};
        double limit = 0.0;
        for (std::size_t i = 0; i < o.speeds.size(); ++i) {
            PlotSeries s{
                fmt("%.0f deg/s", o.speeds[i]), {}, {}, joint_colour(static_cast<int>(i)), false};
            for (const SafetyRow &r : rows) {
                if (r.region == region && r.speed == o.speeds[i]) {
                    s.x.push_back(r.level);
                    s.y.push_back(r.peak);
                    limit = r.limit;
                }
            }
            p.series.push_back(s);
        }
        if (!o.levels.empty()) {
            const auto [lo, hi] = std::minmax_element(o.levels.begin(), o.levels.end());
            p.series.push_back({"limit", {*lo, *hi}, {limit, limit}, "#000", true});
        }
        panels.push_back(p);
    }
    const std::string svg = g.out + "/safety.svg";
    std::printf("%s %s\n", write_svg(svg, "kxsim safety", panels) ? "wrote" : "FAILED to write",
                svg.c_str());
    return 0;
}

// ---- toolload ---------------------------------------------------------------------------------

int do_toolload(const Global &g, const ToolloadOptions &in) {
    ToolloadOptions o = in;
    o.common = common_of(g);
    const ToolloadResult r = run_toolload(o);
    std::printf("kxsim toolload: model %u, tool %.3f kg at (%.1f, %.1f, %.1f) mm (flange frame), "
                "sensor at (%.1f, %.1f, %.1f) mm turned (%.1f, %.1f, %.1f) deg, %zu poses\n\n",
                o.common.model, o.mass, o.centre[0], o.centre[1], o.centre[2], o.mount[0],
                o.mount[1], o.mount[2], o.mount[3], o.mount[4], o.mount[5], o.poses.size());
    if (r.status != 0) {
        std::printf("identification refused (%d): degenerate poses\n", r.status);
        return 1;
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"mass [kg]", fmt("%.4f", o.mass), fmt("%.4f", r.mass),
                    fmt("%+.2f %%", 100.0 * (r.mass - o.mass) / o.mass)});
    const char *axes[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        rows.push_back({fmt("centre %s [mm, sensor frame]", axes[k]), fmt("%.2f", r.true_centre[k]),
                        fmt("%.2f", r.centre[k]), fmt("%+.2f mm", r.centre[k] - r.true_centre[k])});
    }
    const char *names[6] = {"Fx", "Fy", "Fz", "Mx", "My", "Mz"};
    for (int k = 0; k < 6; ++k) {
        const double count = k < 3 ? r.force_count : r.moment_count;
        rows.push_back({fmt("offset %s", names[k]), fmt("%.4f", o.bias[k]),
                        fmt("%.4f", r.offsets[k]),
                        fmt("%+.2f counts", (r.offsets[k] - o.bias[k]) / count)});
    }
    std::printf("%s\n", format_table({"", "truth", "identified", "error"}, rows).c_str());
    std::printf(
        "compensated wrench at the last pose afterwards: %.3f %.3f %.3f N, %.4f %.4f %.4f N m\n",
        r.residual[0], r.residual[1], r.residual[2], r.residual[3], r.residual[4], r.residual[5]);
    const std::vector<double> t = column(r.trace, &TraceRow::t);
    PlotPanel p{
        "Wrist sensor (sensor frame, before compensation)", "time [s]", "force [N]", {}, {}, false};
    for (int k = 0; k < 3; ++k) {
        std::vector<double> f;
        for (const TraceRow &row : r.trace) {
            f.push_back(row.sensor[static_cast<std::size_t>(k)]);
        }
        p.series.push_back({names[k], t, f, joint_colour(k), false});
    }
    report_files(g, "toolload", r.trace, "kxsim tool load identification", {p});
    return 0;
}

// ---- constforce -------------------------------------------------------------------------------

int do_constforce(const Global &g, const ConstforceOptions &in) {
    ConstforceOptions o = in;
    o.common = common_of(g);
    const ConstforceResult r = run_constforce(o);
    std::printf(
        "kxsim constforce: model %u, target %.1f N along base Z, surface %.2f N/mm, friction "
        "%.2f, path %.0f mm/s along base X, Kp %.4g Ki %.4g Kd %.4g, Z filter %s, adaptation "
        "%s\n\n",
        o.common.model, o.target, o.stiffness, o.friction, o.speed, o.kp, o.ki, o.kd,
        o.z_filter ? "on" : "off", o.adapt ? "on" : "off");
    if (r.start_status != 0) {
        std::printf("the start command was refused (%d)\n", r.start_status);
        return 1;
    }
    const std::string after = fmt("after %.1f s", o.settle);
    std::vector<std::vector<std::string>> rows = {
        {"signed mean of the Z force error", fmt("%+.3f N", r.mean),
         fmt("%+.3f N", r.reading_mean)},
        {"standard deviation", fmt("%.3f N", r.sd), fmt("%.3f N", r.reading_sd)},
        {"largest |error|", fmt("%.3f N", r.worst), fmt("%.3f N", r.reading_worst)},
    };
    std::printf("Z force error %s\n%s\n", after.c_str(),
                format_table({"", "surface (truth)", "sensor reading"}, rows).c_str());
    std::printf("surface with its contact as the stylus meets it: %.2f N/mm\n",
                r.effective_stiffness);
    std::printf("friction force along the surface %.2f N, stylus travel %.1f mm, collision reports "
                "%d, unreachable poses %d, offset-limit faults %d%s, control %s at the end\n",
                r.lateral_mean, r.travel, r.alarms, r.unreachable, r.faults,
                r.faults ? fmt(" (0x%08X)", r.fault).c_str() : "", r.control_on ? "on" : "off");
    const bool pass = std::fabs(r.mean) <= 1.0 && r.sd < 1.0 && r.faults == 0;
    std::printf("verdict: %s (mean within 1 N, deviation below 1 N)\n", pass ? "held" : "NOT held");

    const std::vector<std::pair<double, std::string>> marks = {{o.settle, "statistics"},
                                                               {o.move_from, "path"}};
    PlotPanel force{"Pressing force along base Z", "time [s]", "force [N]", {}, marks, false};
    force.series.push_back({"surface (truth)", r.t, r.contact, "#1f77b4", false});
    force.series.push_back({"sensor reading", r.t, r.reading, "#ff7f0e", false});
    force.series.push_back(
        {"target", {r.t.front(), r.t.back()}, {o.target, o.target}, "#333", true});
    PlotPanel offset{
        "Z offset of the constant-force control", "time [s]", "offset [mm]", {}, marks, false};
    offset.series.push_back({"offset Z", r.t, r.offset, "#2ca02c", false});
    PlotPanel path{"Stylus tip", "x [mm]", "z [mm]", {}, {}, false};
    path.series.push_back({"tip", r.tip_x, r.tip_z, "#9467bd", false});
    report_files(g, "constforce", r.trace, "kxsim constant force", {force, offset, path});
    const std::string csv = g.out + "/constforce-force.csv";
    std::FILE *f = std::fopen(csv.c_str(), "w");
    if (f != nullptr) {
        std::fprintf(f, "t_s,surface_N,reading_N,offset_z_mm,tip_x_mm,tip_z_mm\n");
        for (std::size_t i = 0; i < r.t.size(); ++i) {
            std::fprintf(f, "%.3f,%.4f,%.4f,%.5f,%.4f,%.4f\n", r.t[i], r.contact[i], r.reading[i],
                         r.offset[i], r.tip_x[i], r.tip_z[i]);
        }
    }
    std::printf("%s %s\n", f != nullptr && std::fclose(f) == 0 ? "wrote" : "FAILED to write",
                csv.c_str());
    return pass ? 0 : 1;
}

// ---- ftguide ---------------------------------------------------------------------------------

std::vector<double> tool_axis(const FtguideRun &r, int k) {
    std::vector<double> v;
    v.reserve(r.tool.size());
    for (const Vec3 &p : r.tool) {
        v.push_back(p[static_cast<std::size_t>(k)]);
    }
    return v;
}

// Outline of a box's corners in the top view.
PlotSeries box_outline(const double c[6], const std::string &label, const char *colour,
                       bool dashed) {
    return {label, {c[0], c[3], c[3], c[0], c[0]}, {c[1], c[1], c[4], c[4], c[1]}, colour, dashed};
}

std::string handover_cell(const FtguideRun &r) {
    return fmt("%d hand-over%s to joint drag, %d return%s", r.handovers,
               r.handovers == 1 ? "" : "s", r.returns, r.returns == 1 ? "" : "s");
}

std::string guiding_end_cell(const FtguideRun &r) {
    return r.guiding_on ? std::string("on") : fmt("stopped, warning 0x%08X", r.warning);
}

int do_ftguide(const Global &g, const FtguideOptions &in) {
    FtguideOptions o = in;
    o.common = common_of(g);
    const FtguideResult res = run_ftguide(o);
    const FtguideRun &p = res.path, &s = res.singular;

    std::printf("\nWrist-sensor guiding: model %u, sensor model %u range %u, tool %.2f kg "
                "(carried %.2f kg), push %.1f N at the tool centre point for %.1f s, damping "
                "%.0f N s/m, joint speed limit %.0f deg/s\n\n",
                o.common.model, o.sensor_model, o.sensor_range, o.tool_mass,
                o.tool_mass * o.tool_mass_error, o.force, o.push + 2 * o.ramp, o.damping,
                o.joint_speed_limit);
    std::vector<std::vector<std::string>> rows = {
        {"compensated force at rest", fmt("%.2f N", p.rest_residual),
         fmt("%.2f N", s.rest_residual)},
        {"steady speed along the push",
         fmt("%.1f mm/s (force / damping %.1f, %+.1f %%)", p.steady_speed, p.expected_speed,
             100.0 * (p.steady_speed / p.expected_speed - 1.0)),
         fmt("%.1f mm/s", s.steady_speed)},
        {"travel along the push", fmt("%.0f mm", p.travel), fmt("%.0f mm", s.travel)},
        {"speed at the end of the push", fmt("%.1f mm/s", p.band_speed),
         fmt("%.1f mm/s", s.band_speed)},
        {"stopped after the release", p.stop_time >= 0 ? fmt("%.2f s", p.stop_time) : "no",
         s.stop_time >= 0 ? fmt("%.2f s", s.stop_time) : "no"},
        {"fastest joint: commanded / actual",
         fmt("%.1f / %.1f deg/s", p.peak_commanded, p.peak_actual),
         fmt("%.1f / %.1f deg/s", s.peak_commanded, s.peak_actual)},
        {"guiding at the end", guiding_end_cell(p), guiding_end_cell(s)},
    };
    if (p.boxed) {
        rows.push_back({"closest to the wall's face / the box",
                        fmt("%.1f mm / %.1f mm", p.min_wall_gap, p.min_box_gap), "-"});
        rows.push_back({"contact force on the box", fmt("%.1f N", p.peak_contact), "-"});
    }
    rows.push_back({"joint 5: start, end, closest to 0", "-",
                    fmt("%.1f, %.1f, %.1f deg", s.wrist_start, s.wrist_end, s.wrist_min)});
    rows.push_back({"singularity guard", "-", handover_cell(s)});
    std::printf("%s\n",
                format_table({"quantity", "path run (wall)", "singularity run"}, rows).c_str());

    std::vector<std::pair<double, std::string>> marks = {{o.start, "push"}, {p.release, "release"}};
    const std::vector<double> t = column(p.trace, &TraceRow::t);
    PlotPanel path{"Tool centre point (top view)", "x [mm]", "y [mm]", {}, {}, true};
    path.series.push_back({"tool, path run", tool_axis(p, 0), tool_axis(p, 1), "#1f77b4", false});
    path.series.push_back(
        {"tool, singularity run", tool_axis(s, 0), tool_axis(s, 1), "#ff7f0e", false});
    if (p.boxed) {
        path.series.push_back(box_outline(p.box_bounds, "box", "#333", false));
        path.series.push_back(box_outline(p.wall_box, "virtual wall", "#d62728", true));
    }
    PlotPanel speed{"Tool speed along the push", "time [s]", "speed [mm/s]", {}, marks, false};
    speed.series.push_back({"path run", t, p.speed, "#1f77b4", false});
    speed.series.push_back(
        {"singularity run", column(s.trace, &TraceRow::t), s.speed, "#ff7f0e", false});
    speed.series.push_back({"force / damping",
                            {t.front(), t.back()},
                            {p.expected_speed, p.expected_speed},
                            "#333",
                            true});
    PlotPanel joints{
        "Fastest commanded joint while guiding", "time [s]", "speed [deg/s]", {}, marks, false};
    joints.series.push_back({"path run", t, p.commanded, "#1f77b4", false});
    joints.series.push_back(
        {"singularity run", column(s.trace, &TraceRow::t), s.commanded, "#ff7f0e", false});
    joints.series.push_back({"limit",
                             {t.front(), t.back()},
                             {o.joint_speed_limit, o.joint_speed_limit},
                             "#d62728",
                             true});
    std::vector<std::pair<double, std::string>> guard_marks;
    for (const HostEvent &e : s.events) {
        if (e.what == "qmcDragSwitch(1)" || e.what == "qmcDragSwitch(0)") {
            guard_marks.push_back({e.t, e.what == "qmcDragSwitch(1)" ? "joint drag" : "guiding"});
        }
    }
    PlotPanel wrist{
        "Singularity run: joint 5", "time [s]", "joint 5 [deg]", {}, guard_marks, false};
    wrist.series.push_back({"J5", column(s.trace, &TraceRow::t), column(s.trace, &TraceRow::q, 4),
                            joint_colour(4), false});
    report_files(g, "ftguide", p.trace, "kxsim wrist-sensor guiding", {path, speed, joints, wrist});
    const std::string csv = g.out + "/ftguide-singular.csv";
    std::printf("%s %s\n", write_trace_csv(csv, s.trace) ? "wrote" : "FAILED to write",
                csv.c_str());
    return 0;
}

// ---- observer --------------------------------------------------------------------------------

int do_observer(const Global &g, const CollisionOptions &in) {
    CollisionOptions o = in;
    o.common = common_of(g);
    const ObserverResult r = run_observer(o);

    const std::string what = o.obstacle == kScripted
                                 ? fmt("%.0f N scripted on %s at %.3f s (rise %.0f ms)", o.force,
                                       hit_point_name(hit_link(o)).c_str(), o.at, o.rise * 1000.0)
                                 : fmt("%s on the path of %s at %.3f s", o.obstacle.c_str(),
                                       hit_point_name(hit_link(o)).c_str(), o.at);
    std::printf("\nMomentum observer: model %u, model error x%g, program at %.0f deg/s, %s, "
                "level %.1f, reaction %u\n\n",
                o.common.model, o.common.model_error, o.speed, what.c_str(), o.level, o.reaction);
    std::string peaks;
    for (std::size_t j = 0; j < 6; ++j) {
        peaks += fmt("%s%.1f", j ? " / " : "", r.peak_residual[j]);
    }
    std::string reactions;
    for (const HostEvent &e : r.reactions) {
        reactions += fmt("%s%s@%.0fms", reactions.empty() ? "" : ", ", e.what.c_str(),
                         (e.t - r.live.onset) * 1000.0);
    }
    const std::vector<std::vector<std::string>> rows = {
        {"contact", r.live.impact ? fmt("at %.3f s, %.0f mm/s", r.live.onset, r.live.contact_speed)
                                  : std::string("none")},
        {"detected (reporting run)", r.detection.detected
                                         ? fmt("J%d after %.0f ms, force then %.0f N",
                                               r.detection.joint, r.detection.delay_ms,
                                               r.detection.force_at_detection)
                                         : std::string("no")},
        {"peak |residual| J1..J6, first 0.3 s [N m]", peaks},
        {"host calls (after contact)", reactions.empty() ? "none" : reactions},
        {"program halted after", r.halt_ms >= 0.0 ? fmt("%.0f ms", r.halt_ms) : "not halted"},
        {"peak contact force", fmt("%.0f N", r.live.peak_force)},
        {"false alarms without impact", fmt("%d (%.1f s)", r.false_alarms, o.duration)},
        {"largest residual without impact", fmt("%.0f %% of threshold + allowance",
                                                 100.0 * r.clean_share)},
    };
    std::printf("%s\n", format_table({"quantity", "result"}, rows).c_str());

    const std::vector<TraceRow> &tr = r.live.trace;
    const std::vector<double> t = column(tr, &TraceRow::t);
    std::vector<std::pair<double, std::string>> marks;
    if (r.live.impact) {
        marks.push_back({r.live.onset, "contact"});
    }
    if (r.halt_ms >= 0.0) {
        marks.push_back({r.live.onset + r.halt_ms / 1000.0, "halt"});
    }
    PlotPanel res{"Observer residuals against thresholds (J1-J3)", "time [s]",
                  "residual [N m, joint side]", {}, marks, false};
    PlotPanel clean{"Observer residuals without impact", "time [s]", "residual [N m, joint side]",
                    {}, {}, false};
    const std::vector<double> tc = column(r.clean.trace, &TraceRow::t);
    for (int j = 0; j < 6; ++j) {
        clean.series.push_back({fmt("J%d", j + 1), tc,
                                column(r.clean.trace, &TraceRow::observer, j), joint_colour(j),
                                false});
        if (j >= 3) {
            continue;
        }
        res.series.push_back({fmt("J%d residual", j + 1), t, column(tr, &TraceRow::observer, j),
                              joint_colour(j), false});
        res.series.push_back({fmt("J%d threshold", j + 1), t,
                              column(tr, &TraceRow::observer_threshold, j), joint_colour(j), true});
    }
    PlotPanel force{"Contact force", "time [s]", "force [N]", {}, marks, false};
    force.series.push_back({"|F|", t, column(tr, &TraceRow::force), "#333", false});
    report_files(g, "observer", tr, "kxsim momentum observer", {res, force, clean});
    const std::string clean_csv = g.out + "/observer-noimpact.csv";
    std::printf("%s %s\n", write_trace_csv(clean_csv, r.clean.trace) ? "wrote" : "FAILED to write",
                clean_csv.c_str());
    return 0;
}

// ---- excitation ------------------------------------------------------------------------------

std::string estimate_cell(const ExcitationEstimate &e) {
    if (e.status != 0) {
        return fmt("none (%d)", e.status);
    }
    return fmt("%.3f kg (%+.1f %%), (%.1f, %.1f, %.1f) mm, %.1f mm off", e.mass,
               100.0 * e.mass_error / std::max(1e-9, e.mass - e.mass_error), e.centre[0],
               e.centre[1], e.centre[2], e.centre_error);
}

int do_excitation(const Global &g, const ExcitationOptions &in) {
    ExcitationOptions o = in;
    o.common = common_of(g);
    if (g.model_error != 0.0) {
        o.model_errors = {0.0, g.model_error};
    } else {
        o.model_errors = {0.0};
    }
    const ExcitationResult r = run_excitation(o);

    std::printf("\nExcitation identification: model %u, series period %.1f s played over %.1f s "
                "(lead-in %.1f s), payload %.2f kg at (%g, %g, %g) mm declared\n\n",
                o.common.model, o.period, o.play, o.lead_in, o.payload, o.payload_centre[0],
                o.payload_centre[1], o.payload_centre[2]);
    std::vector<std::vector<std::string>> rows;
    for (const ExcitationRow &row : r.rows) {
        rows.push_back({fmt("x%g", row.model_error),
                        fmt("%.3f kg, (%.1f, %.1f, %.1f) mm", row.truth.mass, row.truth.centre[0],
                            row.truth.centre[1], row.truth.centre[2]),
                        estimate_cell(row.table), estimate_cell(row.measured),
                        fmt("%.0f", row.peak_rate)});
    }
    std::printf("%s\n", format_table({"model error", "plant's payload", "against the table",
                                       "against a no-load run", "peak rate [deg/s]"},
                                      rows)
                            .c_str());

    const std::vector<double> t = column(r.trace, &TraceRow::t);
    PlotPanel q{"Joint positions on the excitation trajectory", "time [s]", "joint [deg]", {}, {},
                false};
    PlotPanel cur{"Measured currents", "time [s]", "current [per mille]", {}, {}, false};
    for (int j = 0; j < 6; ++j) {
        q.series.push_back({fmt("J%d", j + 1), t, column(r.trace, &TraceRow::q, j),
                            joint_colour(j), false});
        cur.series.push_back({fmt("J%d", j + 1), t, column(r.trace, &TraceRow::current, j),
                              joint_colour(j), false});
    }
    report_files(g, "excitation", r.trace, "kxsim excitation identification", {q, cur});
    const std::string csv = g.out + "/excitation-result.csv";
    if (std::FILE *f = std::fopen(csv.c_str(), "w")) {
        std::fprintf(f, "model_error,true_mass_kg,true_x_mm,true_y_mm,true_z_mm,baseline,status,"
                        "mass_kg,x_mm,y_mm,z_mm,mass_error_kg,centre_error_mm\n");
        for (const ExcitationRow &row : r.rows) {
            for (const auto &[name, e] : {std::make_pair("table", row.table),
                                          std::make_pair("no-load run", row.measured)}) {
                std::fprintf(f, "%g,%.4f,%.2f,%.2f,%.2f,%s,%d,%.4f,%.2f,%.2f,%.2f,%.4f,%.2f\n",
                             row.model_error, row.truth.mass, row.truth.centre[0],
                             row.truth.centre[1], row.truth.centre[2], name, e.status, e.mass,
                             e.centre[0], e.centre[1], e.centre[2], e.mass_error, e.centre_error);
            }
        }
        std::fclose(f);
        std::printf("wrote %s\n", csv.c_str());
    }
    return 0;
}

// ---- frictionid ------------------------------------------------------------------------------

int do_frictionid(const Global &g, const FrictionIdOptions &in) {
    FrictionIdOptions o = in;
    o.common = common_of(g);
    const FrictionIdResult r = run_frictionid(o);

    const std::size_t j = static_cast<std::size_t>(o.joint - 1);
    std::printf("\nFriction identification: model %u, joint %d (ladder from %.1f deg), plant "
                "friction x%g, model error x%g; torques joint side [N m]\n\n",
                o.common.model, o.joint, r.start_deg, o.common.friction_scale[j],
                o.common.model_error);
    std::vector<std::vector<std::string>> rows;
    for (const FrictionIdPoint &p : r.points) {
        rows.push_back({fmt("%.1f", p.speed), fmt("%.3f", p.plant), fmt("%.3f", p.identified),
                        fmt("%+.1f", 100.0 * p.error()), fmt("%.3f", p.compensation)});
    }
    std::printf("%s\n", format_table({"test speed [deg/s]", "plant", "identified", "error [%]",
                                      "compensation law"},
                                     rows)
                            .c_str());
    static const char *const kNames[5] = {"fc", "fs", "qs", "yita", "sita"};
    std::vector<std::vector<std::string>> params;
    for (int k = 0; k < 5; ++k) {
        params.push_back({kNames[k], fmt("%.4g", r.identified[k]), fmt("%.4g", r.reference[k]),
                          fmt("%.4g", r.identified[5 + k]), fmt("%.4g", r.reference[5 + k])});
    }
    std::printf("%s\n", format_table({"parameter", "slow identified", "slow reference",
                                      "fast identified", "fast reference"},
                                     params)
                            .c_str());
    const std::vector<std::vector<std::string>> verdict = {
        {"largest error at the test speeds", fmt("%.1f %%", 100.0 * r.largest_error)},
        {"status", fmt("%u (%s)", r.status,
                       r.status == 0 ? "friction in order" : "friction not in order")},
        {"detector reports during the ladder", fmt("%d", r.alarms)},
    };
    std::printf("%s\n", format_table({"result", "value"}, verdict).c_str());

    const std::string csv = g.out + "/frictionid-curve.csv";
    if (std::FILE *f = std::fopen(csv.c_str(), "w")) {
        std::fprintf(f, "speed_deg_s,plant_Nm,identified_Nm,error,compensation_Nm\n");
        for (const FrictionIdPoint &p : r.points) {
            std::fprintf(f, "%.1f,%.6f,%.6f,%.6f,%.6f\n", p.speed, p.plant, p.identified,
                         p.error(), p.compensation);
        }
        std::fclose(f);
        std::printf("wrote %s\n", csv.c_str());
    }

    // Curves over the ladder's speeds: the identified slow set below 18 deg/s, the fast set above.
    PlotPanel curve{"Friction torque, joint side", "speed [deg/s]", "torque [N m]", {}, {}, false};
    PlotSeries plant{"plant", {}, {}, "#333", false};
    PlotSeries law{"compensation law", {}, {}, "#1f77b4", true};
    PlotSeries ident[3] = {{"", {}, {}, "#d62728", false},
                           {"identified", {}, {}, "#d62728", false},
                           {"", {}, {}, "#d62728", false}};
    for (const FrictionIdPoint &p : r.curve) {
        plant.x.push_back(p.speed);
        plant.y.push_back(p.plant);
        law.x.push_back(p.speed);
        law.y.push_back(p.compensation);
        // Three pieces: fast set negative, slow set, fast set positive.
        PlotSeries &piece = ident[p.speed <= -18.0 ? 0 : (p.speed < 18.0 ? 1 : 2)];
        piece.x.push_back(p.speed);
        piece.y.push_back(p.identified);
    }
    curve.series = {plant, ident[1], ident[0], ident[2], law};
    PlotSeries recorded{"recorded bins", {}, {}, "#2ca02c", true};
    for (const FrictionIdBin &b : r.bins) {
        recorded.x.push_back(b.speed);
        recorded.y.push_back(b.torque);
    }
    curve.series.push_back(recorded);

    const std::vector<double> t = column(r.trace, &TraceRow::t);
    PlotPanel speed{fmt("Joint %d: programmed speed", o.joint), "time [s]", "speed [deg/s]",
                    {}, {}, false};
    std::vector<double> target_speed(r.trace.size(), 0.0);
    for (std::size_t i = 1; i < r.trace.size(); ++i) {
        target_speed[i] = (r.trace[i].target[j] - r.trace[i - 1].target[j]) / kCycle;
    }
    speed.series.push_back({"target", t, target_speed, joint_colour(o.joint - 1), false});
    PlotPanel current{fmt("Joint %d: measured current and command word", o.joint), "time [s]",
                      "[per mille]", {}, {}, false};
    current.series.push_back({"current", t, column(r.trace, &TraceRow::current, o.joint - 1),
                              joint_colour(o.joint - 1), false});
    current.series.push_back({"command word", t, column(r.trace, &TraceRow::cmd, o.joint - 1),
                              "#333", true});
    report_files(g, "frictionid", r.trace, "kxsim friction identification",
                 {curve, speed, current});
    return 0;
}

// ---- payload ---------------------------------------------------------------------------------

struct PayloadRow {
    double mass;            // nominal [kg]
    Vec3 centre;            // nominal [mm]
    double model_error;
    PayloadResult result;
};

std::string centre_text(const Vec3 &c) { return fmt("%.0f, %.0f, %.0f", c[0], c[1], c[2]); }

int do_payload(const Global &g, const PayloadOptions &in, std::vector<double> masses,
               const std::vector<double> &centres) {
    const double limit = kxmc::payload_mass_limit(g.model);
    if (masses.empty()) {
        // A light, a middle and the largest payload of the arm.
        const double top = std::isfinite(limit) ? limit : 5.0;
        masses = {0.2 * top, 0.5 * top, top};
    }
    std::vector<double> errors = {0.0};
    if (g.model_error > 0.0) {
        errors.push_back(g.model_error);
    }
    std::vector<PayloadRow> rows;
    const std::size_t total = masses.size() * (centres.size() / 3) * errors.size();
    for (double mass : masses) {
        for (std::size_t c = 0; c + 2 < centres.size(); c += 3) {
            for (double error : errors) {
                PayloadOptions o = in;
                o.common = common_of(g);
                o.common.model_error = error;
                o.common.progress = false;
                o.mass = mass;
                o.centre = {centres[c], centres[c + 1], centres[c + 2]};
                rows.push_back({mass, o.centre, error, run_payload(o)});
                if (!g.quiet) {
                    std::fprintf(stderr, "\r[kxsim] payload %3zu / %zu runs", rows.size(), total);
                    if (rows.size() == total) {
                        std::fprintf(stderr, "\n");
                    }
                    std::fflush(stderr);
                }
            }
        }
    }

    std::printf("\nPayload identification: model %u (largest payload %s), payload truth = nominal "
                "moved by the model error; step-driven sequence, nine-point procedure (settle "
                "%.1f s), continuous identification while guiding (window %u cycles, %.1f s, "
                "declared mass %.0f %% of nominal at the start)\n\n",
                g.model, std::isfinite(limit) ? fmt("%.0f kg", limit).c_str() : "none",
                in.settle, in.window, in.guide, 100.0 * in.declared_ratio);
    struct Procedure {
        const char *name;
        PayloadEstimate PayloadResult::*estimate;
    };
    const Procedure procedures[] = {{"step-driven", &PayloadResult::step},
                                    {"nine-point", &PayloadResult::nine},
                                    {"continuous", &PayloadResult::continuous}};
    std::vector<std::vector<std::string>> table;
    for (const PayloadRow &row : rows) {
        const Inertial &truth = row.result.truth;
        const Vec3 truth_centre{truth.centre[0], truth.centre[1], truth.centre[2]};
        for (const Procedure &p : procedures) {
            const PayloadEstimate &e = row.result.*p.estimate;
            if (!e.ran) {
                continue;
            }
            std::vector<std::string> cells = {
                fmt("%.2f kg at %s", row.mass, centre_text(row.centre).c_str()),
                fmt("%g", row.model_error), p.name,
                fmt("%.3f kg at %s", truth.mass, centre_text(truth_centre).c_str())};
            if (!e.formed) {
                cells.insert(cells.end(), {"no result", "-", "-", "-"});
            } else {
                cells.push_back(fmt("%.3f", e.mass));
                cells.push_back(fmt("%+.2f %%", mass_error_percent(e, truth)));
                cells.push_back(e.has_centre ? centre_text(e.centre) : "(not identified)");
                cells.push_back(e.has_centre ? fmt("%.1f", centre_error_mm(e, truth)) : "-");
            }
            table.push_back(cells);
        }
    }
    std::printf("%s\n", format_table({"payload (nominal) [kg, mm]", "model error", "procedure",
                                      "truth", "mass [kg]", "mass error", "centre [mm]",
                                      "centre error [mm]"},
                                     table)
                            .c_str());

    // The continuous identification: every estimate once the window is full.
    std::vector<std::vector<std::string>> guided_rows;
    for (const PayloadRow &row : rows) {
        const PayloadResult &r = row.result;
        if (!r.continuous.ran) {
            continue;
        }
        double worst = 0.0;
        for (const auto &estimate : r.estimates) {
            const double e = 100.0 * (estimate.second - r.truth.mass) / r.truth.mass;
            worst = std::fabs(e) > std::fabs(worst) ? e : worst;
        }
        guided_rows.push_back(
            {fmt("%.2f kg at %s", row.mass, centre_text(row.centre).c_str()),
             fmt("%g", row.model_error), fmt("%.3f", r.truth.mass), fmt("%.3f", r.declared_mass),
             r.first_estimate >= 0.0 ? fmt("%.2f", r.first_estimate) : "none",
             fmt("%zu", r.estimates.size()), fmt("%+.2f %%", worst),
             r.continuous.formed ? fmt("%+.2f %%", mass_error_percent(r.continuous, r.truth))
                                 : "-"});
    }
    if (!guided_rows.empty()) {
        std::printf("%s\n", format_table({"payload (nominal) [kg, mm]", "model error", "truth [kg]",
                                          "declared [kg]", "first estimate [s]", "estimates",
                                          "worst error", "last error"},
                                         guided_rows)
                                .c_str());
    }

    const std::string csv = g.out + "/payload.csv";
    if (std::FILE *f = std::fopen(csv.c_str(), "w")) {
        std::fprintf(f, "nominal_kg,nominal_x_mm,nominal_y_mm,nominal_z_mm,model_error,procedure,"
                        "truth_kg,truth_x_mm,truth_y_mm,truth_z_mm,formed,mass_kg,mass_error_pct,"
                        "x_mm,y_mm,z_mm,centre_error_mm\n");
        for (const PayloadRow &row : rows) {
            const Inertial &t = row.result.truth;
            for (const Procedure &p : procedures) {
                const PayloadEstimate &e = row.result.*p.estimate;
                if (!e.ran) {
                    continue;
                }
                std::fprintf(f, "%.3f,%.1f,%.1f,%.1f,%g,%s,%.4f,%.2f,%.2f,%.2f,%d,%.4f,%.3f,",
                             row.mass, row.centre[0], row.centre[1], row.centre[2],
                             row.model_error, p.name, t.mass, t.centre[0], t.centre[1],
                             t.centre[2], e.formed ? 1 : 0, e.mass,
                             mass_error_percent(e, t));
                if (e.has_centre) {
                    std::fprintf(f, "%.2f,%.2f,%.2f,%.2f\n", e.centre[0], e.centre[1],
                                 e.centre[2], centre_error_mm(e, t));
                } else {
                    std::fprintf(f, ",,,\n");
                }
            }
        }
        std::fclose(f);
        std::printf("wrote %s\n", csv.c_str());
    }

    // The continuous estimates of every run against its truth, and the first run's torques.
    PlotPanel guided{"Continuous identification while guiding", "guiding time [s]",
                     "mass estimate - truth [%]", {}, {}, false};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PayloadResult &r = rows[i].result;
        PlotSeries s{fmt("%.1f kg, error x%g", rows[i].mass, rows[i].model_error), {}, {},
                     joint_colour(static_cast<int>(i % 6)), rows[i].model_error > 0.0};
        for (const auto &[t, m] : r.estimates) {
            s.x.push_back(t);
            s.y.push_back(100.0 * (m - r.truth.mass) / r.truth.mass);
        }
        if (!s.x.empty()) {
            guided.series.push_back(s);
        }
    }
    if (rows.empty()) {
        return 0;
    }
    const PayloadResult &first = rows.front().result;
    PlotPanel current{"Measured currents, first run", "time [s]", "current [per mille]", {},
                      first.phases, false};
    const std::vector<double> t = column(first.trace, &TraceRow::t);
    for (int j = 0; j < 6; ++j) {
        current.series.push_back({fmt("J%d", j + 1), t, column(first.trace, &TraceRow::current, j),
                                  joint_colour(j), false});
    }
    PlotPanel sensor{"Wrist sensor force, first run", "time [s]", "force [N]", {}, first.phases,
                     false};
    const char *axes[3] = {"Fx", "Fy", "Fz"};
    for (std::size_t k = 0; k < 3; ++k) {
        std::vector<double> v;
        v.reserve(first.trace.size());
        for (const TraceRow &row : first.trace) {
            v.push_back(row.sensor[k]);
        }
        sensor.series.push_back({axes[k], t, v, joint_colour(static_cast<int>(k)), false});
    }
    report_files(g, "payload-trace", first.trace, "kxsim payload", {guided, current, sensor});
    return 0;
}

// ---- model -----------------------------------------------------------------------------------

int do_model(uint32_t code, const std::string &path) {
    const ArmDescription *arm = find_arm(code);
    if (arm == nullptr) {
        std::fprintf(stderr, "kxsim: no arm description for model code %u\n", code);
        return 2;
    }
    MjcfOptions options;
    options.visuals = true;
    std::ofstream out(path);
    out << arm_mjcf(*arm, Scene{}, options);
    out.close();
    if (!out) {
        std::fprintf(stderr, "kxsim: cannot write %s\n", path.c_str());
        return 2;
    }
    std::printf("wrote %s (%s, model code %u, nominal)\n", path.c_str(), arm->name.c_str(), code);
    return 0;
}

// ---- soak ------------------------------------------------------------------------------------

int do_soak(const Global &g, const SoakOptions &in) {
    SoakOptions o = in;
    o.common = common_of(g);
    const SoakResult r = run_soak(o);

    std::printf("\nSoak: model %u, seed %llu, %.0f s of arm time, a host command every %.2f s on "
                "average (%.0f %% of settings commands with an invalid argument)\n\n",
                o.common.model, static_cast<unsigned long long>(o.common.seed), o.duration,
                o.command_interval, o.invalid_share * 100.0);
    const double arm_time = static_cast<double>(r.cycles) * kCycle;
    std::vector<std::vector<std::string>> rows = {
        {"servo cycles", fmt("%llu", static_cast<unsigned long long>(r.cycles))},
        {"wall time",
         fmt("%.1f s (%.1f x real time)", r.wall_s, r.wall_s > 0 ? arm_time / r.wall_s : 0.0)},
        {"processor time", fmt("%.1f s", r.cpu_s)},
        {"cycles program / stopped / drag",
         fmt("%llu / %llu / %llu", static_cast<unsigned long long>(r.cycles_program),
             static_cast<unsigned long long>(r.cycles_stopped),
             static_cast<unsigned long long>(r.cycles_drag))},
        {"settings file read-backs",
         fmt("%llu", static_cast<unsigned long long>(r.settings_reads))},
        {"peak |command word|",
         fmt("%.0f per mille (limit %.0f)", r.peak_command, kSoakCommandLimit)},
        {"command word fingerprint",
         fmt("%016llx", static_cast<unsigned long long>(r.fingerprint))},
    };
    for (const char *check : {"torque", "command", "reaction", "answer", "settings"}) {
        rows.push_back({fmt("failed checks: %s", check),
                        fmt("%llu", static_cast<unsigned long long>(r.failures_of(check)))});
    }
    std::printf("%s\n", format_table({"quantity", "value"}, rows).c_str());

    std::vector<std::vector<std::string>> commands;
    uint64_t total = 0, invalid = 0;
    for (const SoakCommandCount &c : r.commands) {
        commands.push_back({c.kind, fmt("%llu", static_cast<unsigned long long>(c.issued)),
                            fmt("%llu", static_cast<unsigned long long>(c.invalid))});
        total += c.issued;
        invalid += c.invalid;
    }
    commands.push_back({"all", fmt("%llu", static_cast<unsigned long long>(total)),
                        fmt("%llu", static_cast<unsigned long long>(invalid))});
    std::printf("%s\n",
                format_table({"host command", "issued", "invalid arguments"}, commands).c_str());

    for (const SoakFailure &f : r.failures) {
        std::printf("FAILED at cycle %llu (%.3f s): %s: %s\n",
                    static_cast<unsigned long long>(f.cycle), static_cast<double>(f.cycle) * kCycle,
                    f.check.c_str(), f.detail.c_str());
    }
    if (r.failure_count > r.failures.size()) {
        std::printf("... and %llu more failures\n",
                    static_cast<unsigned long long>(r.failure_count - r.failures.size()));
    }
    std::printf("verdict: %s\n", r.passed() ? "PASS" : "FAIL");
    return r.passed() ? 0 : 1;
}

void add_collision_options(CLI::App *c, CollisionOptions &o) {
    c->add_option(
         "--link", o.link,
         "hit point: origin of link 1..6's distal frame (6: the flange), 7: the tool centre point "
         "(default: the tool against obstacles, link 3 for a scripted force)")
        ->check(CLI::Range(1, 7));
    c->add_option("--force", o.force, "scripted impact force [N]")->check(CLI::Range(0.0, 5000.0));
    c->add_option("--at", o.at, "program time of the impact [s]")->check(CLI::Range(0.0, 600.0));
    c->add_option("--rise", o.rise, "rise time of the scripted force [s]")
        ->check(CLI::Range(0.0, 1.0));
    c->add_option("--hold", o.hold, "time the scripted force stays at full size [s]")
        ->check(CLI::Range(0.0, 60.0));
    c->add_option("--duration", o.duration, "program time simulated [s]")
        ->check(CLI::Range(0.1, 3600.0));
    c->add_option("--speed", o.speed, "programmed joint speed [deg/s]")
        ->check(CLI::Range(1.0, 180.0));
    c->add_option("--reaction", o.reaction,
                  "collision reaction: 0 pause, 1 warn, 2 stop, 3-5 stop and drag")
        ->check(CLI::Range(0, 5));
    c->add_flag("!--no-dual-encoder", o.dual_encoder, "switch the dual-encoder detector off");
}

int run(int argc, char **argv) {
    CLI::App app{"kxsim: the force/torque library driving a simulated six-joint arm"};
    Global g;
    app.add_option("--model", g.model, "arm model code (see README: the arms kxsim simulates)")
        ->check(CLI::Range(0u, 1100u));
    app.add_option("--seed", g.seed, "seed of the measurement noise and of the arm's model error");
    app.add_option("--model-error", g.model_error,
                   "scale of the arm's model error: 1 = masses +-5 %, centres +-5 mm, inertias "
                   "+-10 %; 0 = nominal")
        ->check(CLI::Range(0.0, 5.0));
    app.add_option("--friction-scale", g.friction_scale,
                   "the plant's joint friction x this (one value, or one per joint)")
        ->check(CLI::Range(0.0, 10.0))
        ->expected(1, 6);
    app.add_option(
        "--body-regions", g.body_regions,
        "file replacing the body-region table (region stiffness quasi-static [transient])");
    app.add_option("--out", g.out, "output folder for CSV traces and SVG plots");
    app.add_flag("--quiet", g.quiet, "no progress lines");

    HandguideOptions hg;
    CLI::App *handguide =
        app.add_subcommand("handguide", "hand guiding with an operator's push at the flange");
    handguide->add_option("--mode", hg.mode, "torque model: 0 gravity only, 2 full dynamics")
        ->check(CLI::IsMember({0, 2}));
    handguide->add_option("--force", hg.force, "operator force [N]")->check(CLI::Range(0.0, 500.0));
    handguide->add_option("--push", hg.push, "time at full force [s]")
        ->check(CLI::Range(0.0, 60.0));
    handguide->add_option("--ramp", hg.ramp, "rise and fall time of the push [s]")
        ->check(CLI::Range(0.0, 10.0));
    handguide->add_option("--duration", hg.duration, "whole run [s]")
        ->check(CLI::Range(0.1, 3600.0));
    handguide->add_option("--payload", hg.payload, "payload the host declares [kg]")
        ->check(CLI::Range(0.0, 50.0));
    handguide->add_option("--payload-error", hg.payload_error, "payload carried / payload declared")
        ->check(CLI::Range(0.0, 5.0));
    std::vector<double> dir = {1, 0, 0};
    handguide->add_option("--direction", dir, "push direction x y z (base frame)")->expected(3);

    CollisionOptions co;
    CLI::App *collision = app.add_subcommand("collision", "a joint program meets an obstacle");
    collision->add_option("--level", co.level, "collision level of every joint, 1..10")
        ->check(CLI::Range(1.0, 10.0));
    collision->add_option("--obstacle", co.obstacle,
                          "scripted, box, or a body region (skull, face, neck, back, chest, belly, "
                          "pelvis, upper-arm, lower-arm, hand, thigh, lower-leg)");
    add_collision_options(collision, co);

    CollisionOptions so;
    so.duration = 1.6;
    std::vector<float> levels = {1, 3, 5, 7, 10};
    std::vector<double> forces = {50, 100, 200, 400};
    CLI::App *sweep = app.add_subcommand(
        "sweep", "detection delay over collision levels and scripted impact forces");
    sweep->add_option("--levels", levels, "collision levels")->check(CLI::Range(1.0, 10.0));
    sweep->add_option("--forces", forces, "impact forces [N]")->check(CLI::Range(0.0, 5000.0));
    add_collision_options(sweep, so);

    SafetyOptions sa;
    CLI::App *safety = app.add_subcommand("safety",
                                          "the arm driven into body regions: delay, peak force and "
                                          "verdict per region, level and speed");
    safety->add_option("--regions", sa.regions, "body regions");
    safety->add_option("--levels", sa.levels, "collision levels")->check(CLI::Range(1.0, 10.0));
    safety->add_option("--speeds", sa.speeds, "programmed joint speeds [deg/s]")
        ->check(CLI::Range(1.0, 180.0));
    safety
        ->add_option("--link", sa.link,
                     "hit point: 1..6 a link's distal frame origin, 7 the tool centre point")
        ->check(CLI::Range(1, 7));
    safety
        ->add_option("--reaction", sa.reaction,
                     "collision reaction: 0 pause, 1 warn, 2 stop, 3-5 stop and drag")
        ->check(CLI::Range(0, 5));
    safety->add_flag("!--no-dual-encoder", sa.dual_encoder, "switch the dual-encoder detector off");

    ToolloadOptions tl;
    CLI::App *toolload = app.add_subcommand(
        "toolload", "identify the tool on the wrist sensor from three held poses");
    toolload->add_option("--mass", tl.mass, "the tool's mass [kg]")->check(CLI::Range(0.1, 20.0));
    std::vector<double> tl_centre = {tl.centre[0], tl.centre[1], tl.centre[2]};
    toolload->add_option("--centre", tl_centre, "its centre of mass x y z [mm, flange frame]")
        ->expected(3);
    toolload->add_option("--settle", tl.settle, "time held at each pose [s]")
        ->check(CLI::Range(0.1, 60.0));
    ConstforceOptions cf;
    CLI::App *constforce = app.add_subcommand("constforce",
                                              "a stylus pressed onto a compliant surface with "
                                              "constant force while the host moves along it");
    constforce->add_option("--target", cf.target, "pressing force [N]")
        ->check(CLI::Range(1.0, 100.0));
    constforce->add_option("--stiffness", cf.stiffness, "surface stiffness [N/mm]")
        ->check(CLI::Range(0.2, 200.0));
    constforce->add_option("--friction", cf.friction, "friction coefficient of stylus on surface")
        ->check(CLI::Range(0.0, 2.0));
    constforce->add_option("--speed", cf.speed, "host's speed along the surface [mm/s]")
        ->check(CLI::Range(0.0, 200.0));
    constforce->add_option("--duration", cf.duration, "run [s]")->check(CLI::Range(2.0, 600.0));
    constforce->add_option("--kp", cf.kp, "proportional gain of the Z axis [mm per N and cycle]")
        ->check(CLI::Range(0.0, 0.05));
    constforce->add_option("--ki", cf.ki, "integral gain of the Z axis")
        ->check(CLI::Range(0.0, 0.01));
    constforce->add_flag("--z-filter", cf.z_filter, "low-pass the quantised Z error");
    constforce->add_flag("--adapt", cf.adapt, "adapt the Z gain");
    FtguideOptions fg;
    CLI::App *ftguide =
        app.add_subcommand("ftguide",
                           "wrist-sensor guiding: a push at the tool toward a box behind a virtual "
                           "wall, then through a wrist singularity");
    ftguide->add_option("--force", fg.force, "operator push at the tool centre point [N]")
        ->check(CLI::Range(0.0, 200.0));
    ftguide->add_option("--push", fg.push, "time at full force [s]")->check(CLI::Range(0.0, 60.0));
    ftguide->add_option("--duration", fg.duration, "each run [s]")->check(CLI::Range(0.5, 600.0));
    ftguide->add_option("--damping", fg.damping, "translational damping of the admittance [N s/m]")
        ->check(CLI::Range(20.0, 5000.0));
    ftguide
        ->add_option("--box-distance", fg.box_distance,
                     "tool point to the wall's face at the start [mm] (0: no box)")
        ->check(CLI::Range(0.0, 2000.0));
    ftguide->add_flag("!--no-wall", fg.wall, "no virtual wall around the box");
    ftguide
        ->add_option("--joint-speed-limit", fg.joint_speed_limit,
                     "joint speed at which guiding stops [deg/s]")
        ->check(CLI::Range(1.0, 360.0));
    ftguide->add_option("--tool-mass-error", fg.tool_mass_error, "tool carried / tool declared")
        ->check(CLI::Range(0.5, 2.0));
    ftguide->add_option("--sensor-range", fg.sensor_range, "range index of the model-16 sensor")
        ->check(CLI::Range(0, 11));
    ftguide
        ->add_option("--singularity-flag", fg.singularity_flag,
                     "1: damp and hand over to joint drag, 0: constraint wrench")
        ->check(CLI::IsMember({0, 1}));
    ftguide
        ->add_option("--wrist", fg.singular_wrist,
                     "joint 5 at the start of the singularity run [deg]")
        ->check(CLI::Range(-60.0, 60.0));
    std::vector<double> fg_dir = {0, 1, 0};
    ftguide->add_option("--direction", fg_dir, "push direction of the path run x y z (base frame)")
        ->expected(3);
    CollisionOptions ob;
    ob.obstacle = kScripted;
    ob.level = 1.0f;
    ob.force = 300.0;
    ob.duration = 1.6;
    CLI::App *observer = app.add_subcommand(
        "observer", "the momentum observer (5-kg arm) meets a collision during a joint program");
    observer->add_option("--level", ob.level, "collision level of every joint, 1..10")
        ->check(CLI::Range(1.0, 10.0));
    observer->add_option("--obstacle", ob.obstacle, "scripted, box, or a body region");
    add_collision_options(observer, ob);

    ExcitationOptions ex;
    std::vector<double> centre = {30, -20, 60};
    CLI::App *excitation = app.add_subcommand("excitation",
                                              "payload identification on the excitation trajectory "
                                              "(5-kg arm), with and without the model error");
    excitation->add_option("--payload", ex.payload, "payload the plant carries [kg]")
        ->check(CLI::Range(0.1, 10.0));
    excitation->add_option("--centre", centre, "its centre of mass x y z [mm, flange frame]")
        ->expected(3);
    excitation->add_option("--period", ex.period, "period of the Fourier series [s]")
        ->check(CLI::Range(1.0, 100.0));
    excitation->add_option("--play", ex.play, "real time of one period: the run [s]")
        ->check(CLI::Range(1.0, 600.0));
    excitation->add_option("--lead-in", ex.lead_in, "time to speed up onto the trajectory [s]")
        ->check(CLI::Range(0.1, 20.0));

    FrictionIdOptions fo;
    CLI::App *frictionid =
        app.add_subcommand("frictionid",
                           "one joint through the friction identification's speed ladder: "
                           "identified curve against the plant's, and the verdict");
    frictionid->add_option("--joint", fo.joint, "joint driven through the ladder, 1..6")
        ->check(CLI::Range(1, 6));

    PayloadOptions po;
    std::vector<double> payload_masses;
    std::vector<double> payload_centres = {0, 0, 60, 80, -60, 100, -100, 100, 20};
    bool no_step = false, no_nine = false, no_continuous = false;
    CLI::App *payload =
        app.add_subcommand("payload",
                           "identify a payload the host does not know: step-driven sequence, "
                           "nine-point procedure, continuous identification while guiding; each "
                           "against the truth, without and with the model error");
    payload
        ->add_option(
            "--masses", payload_masses,
            "nominal payload masses [kg] (default: 20, 50 and 100 % of the arm's largest payload)")
        ->check(CLI::Range(0.01, 50.0));
    payload
        ->add_option("--centres", payload_centres,
                     "nominal centres of mass, x y z per payload [mm, flange frame]")
        ->check(CLI::Range(-200.0, 200.0));
    payload
        ->add_option("--settle", po.settle,
                     "time at rest before each nine-point pose is recorded [s]")
        ->check(CLI::Range(0.1, 10.0));
    payload->add_option("--guide", po.guide, "hand guiding with the continuous identification [s]")
        ->check(CLI::Range(0.1, 600.0));
    payload->add_option("--window", po.window, "window of the continuous identification [cycles]")
        ->check(CLI::Range(5u, 1000u));
    payload
        ->add_option("--declared-ratio", po.declared_ratio,
                     "mass the host declares when guiding starts / nominal mass")
        ->check(CLI::Range(0.0, 2.0));
    payload
        ->add_option(
            "--hand-radius", po.hand_radius,
            "radius of the horizontal circle the operator leads the wrist round while guiding [mm]")
        ->check(CLI::Range(0.0, 300.0));
    payload
        ->add_option("--hand-period", po.hand_period,
                     "time the operator's hand takes once round its circle [s]")
        ->check(CLI::Range(1.0, 60.0));
    payload->add_option("--speed", po.speed, "programmed joint speed of the moves [deg/s]")
        ->check(CLI::Range(5.0, 180.0));
    payload->add_flag("--no-step-driven", no_step, "skip the step-driven sequence");
    payload->add_flag("--no-nine-point", no_nine, "skip the nine-point procedure");
    payload->add_flag("--no-continuous", no_continuous, "skip the continuous identification");

    SoakOptions sk;
    CLI::App *soak = app.add_subcommand(
        "soak",
        "a joint program for an hour with random host commands interleaved (settings with valid "
        "and invalid arguments, torque models, collision levels, drag on and off), checked every "
        "cycle; exit status 1 on a failed check");
    soak->add_option("--duration", sk.duration, "arm time simulated [s]")
        ->check(CLI::Range(0.1, 360000.0));
    soak->add_option("--interval", sk.command_interval, "mean time between two host commands [s]")
        ->check(CLI::Range(0.01, 60.0));
    soak->add_option("--invalid", sk.invalid_share,
                     "share of settings commands with an invalid argument")
        ->check(CLI::Range(0.0, 1.0));

    uint32_t model_arm = 101;
    std::string model_out;
    CLI::App *model = app.add_subcommand(
        "model", "write an arm's generated MuJoCo model (nominal, no model error)");
    model->add_option("--arm", model_arm, "arm model code")->required();
    model->add_option("--out", model_out, "MJCF file to write")->required();

    app.require_subcommand(0, 1);
    // The global options may also follow the subcommand.
    for (CLI::App *sub :
         {handguide, collision, sweep, safety, toolload, constforce, ftguide, observer, excitation,
          frictionid, payload, soak}) {
        sub->fallthrough();
    }

    CLI11_PARSE(app, argc, argv);

    if (*model) {
        return do_model(model_arm, model_out);
    }
    if (find_arm(g.model) == nullptr) {
        std::fprintf(stderr, "kxsim: model code %u is not an arm the plant has a description of\n",
                     g.model);
        return 2;
    }
    std::string error;
    if (!g.body_regions.empty() && !load_body_regions(g.body_regions, error)) {
        std::fprintf(stderr, "kxsim: %s\n", error.c_str());
        return 2;
    }
    if (!make_dir(g.out) || !make_dir(g.out + "/host")) {
        std::fprintf(stderr, "kxsim: cannot create output folder %s\n", g.out.c_str());
        return 2;
    }
    if (*handguide) {
        for (int k = 0; k < 3; ++k) {
            hg.direction[k] = dir[static_cast<std::size_t>(k)];
        }
        return do_handguide(g, hg);
    }
    if (*toolload) {
        for (int k = 0; k < 3; ++k) {
            tl.centre[k] = tl_centre[static_cast<std::size_t>(k)];
        }
        return do_toolload(g, tl);
    }
    if (*constforce) {
        return do_constforce(g, cf);
    }
    if (*ftguide) {
        for (int k = 0; k < 3; ++k) {
            fg.direction[k] = fg_dir[static_cast<std::size_t>(k)];
        }
        return do_ftguide(g, fg);
    }
    if (*sweep) {
        return do_sweep(g, so, levels, forces);
    }
    if (*safety) {
        return do_safety(g, sa);
    }
    if (*observer) {
        return do_observer(g, ob);
    }
    if (*excitation) {
        for (std::size_t k = 0; k < 3; ++k) {
            ex.payload_centre[k] = centre[k];
        }
        return do_excitation(g, ex);
    }
    if (*payload) {
        if (payload_centres.size() % 3 != 0) {
            std::fprintf(stderr, "kxsim: --centres takes x y z per payload\n");
            return 2;
        }
        po.step_driven = !no_step;
        po.nine_point = !no_nine;
        po.continuous = !no_continuous;
        return do_payload(g, po, payload_masses, payload_centres);
    }
    if (*frictionid) {
        return do_frictionid(g, fo);
    }
    if (*soak) {
        return do_soak(g, sk);
    }
    if (!*collision) {
        co.duration = 1.5;  // the short default run
    }
    return do_collision(g, co);
}

}  // namespace

int main(int argc, char **argv) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    int status = 2;
    try {
        status = run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kxsim: %s\n", e.what());
        return 2;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    const double simulated = static_cast<double>(simulated_cycles()) * kCycle;
    if (simulated > 0.0 && wall > 0.0 && cpu > 0.0) {
        std::printf(
            "simulated %.1f s of arm time in %.2f s (%.2f s of processor time): %.0f x real "
            "time (%.0f x on the processor)\n",
            simulated, wall, cpu, simulated / wall, simulated / cpu);
    }
    return status;
}
