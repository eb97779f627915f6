// kxsim: the library running inside a simulated arm.
//
//   kxsim [--model N] [--seed S] [--out DIR] [--quiet] <subcommand> [options]
//
//   handguide  hand guiding in torque mode; an operator pushes the flange, then lets go
//   collision  a joint program hit by an external force, and the same program without impact
//   sweep      the collision over a grid of collision levels and impact forces
//
// Without a subcommand: a short collision run and its no-impact run.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "sim/arm_sets.hpp"
#include "sim/report.hpp"
#include "sim/scenarios.hpp"

namespace {

using namespace kxsim;

struct Global {
    uint32_t model = 101;
    uint64_t seed = 1;
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
                "%.1f s, payload %.2f kg configured, %.2f kg carried\n\n",
                o.common.model, o.mode == 0 ? "gravity only" : "full dynamics", o.force,
                o.direction[0], o.direction[1], o.direction[2], o.push + 2 * o.ramp, o.payload,
                o.payload * o.payload_error);
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
    rows.push_back({"host calls by the library", r.events.empty() ? "none" : fmt("%zu", r.events.size())});
    std::printf("%s\n", format_table({"quantity", "value"}, rows).c_str());

    const std::vector<double> t = column(r.trace, &TraceRow::t);
    PlotPanel path{"Flange path (top view)", "x [mm]", "y [mm]", {}, {}, true};
    path.series.push_back({"flange", flange(r.trace, 0), flange(r.trace, 1), "#1f77b4", false});
    PlotPanel xyz{"Flange position", "time [s]", "position - start [mm]", {}, {{r.release_time, "release"}}, false};
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

int do_collision(const Global &g, const CollisionOptions &in) {
    CollisionOptions o = in;
    o.common = common_of(g);
    const CollisionResult r = run_collision(o);

    static const char *const kReactions[] = {"pause", "warning only", "stop", "stop + drag",
                                             "stop + drag hold", "stop + drag rebound"};
    std::printf("\nCollision: model %u, program at %.0f deg/s, %.0f N on link %d at %.3f s "
                "(rise %.0f ms), level %.1f, reaction %u (%s)\n\n",
                o.common.model, o.speed, o.force, o.link, o.at, o.rise * 1000.0, o.level,
                o.reaction, o.reaction <= 5 ? kReactions[o.reaction] : "other");
    std::vector<std::vector<std::string>> rows;
    for (const auto &d : {std::make_pair("torque residual", r.residual),
                          std::make_pair("dual encoder", r.dual)}) {
        rows.push_back({d.first, detector_cell(d.second),
                        d.second.detected ? fmt("%.0f", d.second.delay_ms) : "-",
                        d.second.detected ? fmt("%.0f", d.second.force_at_detection) : "-"});
    }
    std::printf("%s\n", format_table({"detector", "detected", "delay [ms]", "force then [N]"}, rows).c_str());

    std::string reactions;
    for (const HostEvent &e : r.reactions) {
        reactions += fmt("%s%s@%.0fms", reactions.empty() ? "" : ", ", e.what.c_str(),
                         (e.t - o.at) * 1000.0);
    }
    const std::vector<std::vector<std::string>> live = {
        {"first detector (live run)", r.first_detector},
        {"host calls (after impact)", reactions.empty() ? "none" : reactions},
        {"program halted after", r.halt_ms >= 0.0 ? fmt("%.0f ms", r.halt_ms) : "not halted"},
        {"peak contact force", fmt("%.0f N", r.live.peak_force)},
        {"false alarms without impact", fmt("%d residual, %d dual encoder (%.1f s)",
                                            r.false_alarms_residual, r.false_alarms_dual,
                                            o.duration)},
    };
    std::printf("%s\n", format_table({"live run", "result"}, live).c_str());

    const std::vector<TraceRow> &tr = r.live.trace;
    const std::vector<double> t = column(tr, &TraceRow::t);
    std::vector<std::pair<double, std::string>> marks = {{o.at, "impact"}};
    if (r.halt_ms >= 0.0) {
        marks.push_back({o.at + r.halt_ms / 1000.0, "halt"});
    }
    PlotPanel res{"Torque residuals against thresholds (J1-J3)", "time [s]",
                  "residual [N m, motor side]", {}, marks, false};
    for (int j = 0; j < 3; ++j) {
        res.series.push_back({fmt("J%d residual", j + 1), t, column(tr, &TraceRow::residual, j),
                              joint_colour(j), false});
        res.series.push_back({fmt("J%d threshold", j + 1), t, column(tr, &TraceRow::threshold, j),
                              joint_colour(j), true});
        res.series.push_back({"", t, column(tr, &TraceRow::threshold, j, -1.0), joint_colour(j), true});
    }
    PlotPanel defl{"Gear deflection seen by the two encoders", "time [s]", "deflection [deg]", {}, marks, false};
    for (int j = 0; j < 3; ++j) {
        defl.series.push_back({fmt("J%d", j + 1), t, column(tr, &TraceRow::deflection, j),
                               joint_colour(j), false});
    }
    PlotPanel cmd = command_panel(tr);
    cmd.markers = marks;
    PlotPanel path{"Flange path (side view)", "x [mm]", "z [mm]", {}, {}, true};
    path.series.push_back({"with impact", flange(tr, 0), flange(tr, 2), "#d62728", false});
    path.series.push_back({"no impact", flange(r.clean.trace, 0), flange(r.clean.trace, 2), "#1f77b4", true});
    report_files(g, "collision", tr, "kxsim collision", {res, defl, cmd, path});
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
    o.duration = std::min(o.duration, o.at + o.hold + 2 * o.rise + 0.3);
    const std::vector<SweepCell> cells = run_sweep(o, levels, forces);

    std::printf("\nDetection delay [ms] after the impact, torque residual / dual encoder "
                "(\"-\": not detected); model %u, link %d, program %.0f deg/s\n\n",
                o.common.model, o.link, o.speed);
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
    std::printf("%s %s\n", write_svg(svg, "kxsim sweep", {p}) ? "wrote" : "FAILED to write", svg.c_str());
    return 0;
}

void add_collision_options(CLI::App *c, CollisionOptions &o) {
    c->add_option("--link", o.link, "link hit by the impact, 1..6 (6: the flange)")->check(CLI::Range(1, 6));
    c->add_option("--force", o.force, "impact force [N]")->check(CLI::Range(0.0, 5000.0));
    c->add_option("--at", o.at, "impact start, program time [s]")->check(CLI::Range(0.0, 600.0));
    c->add_option("--rise", o.rise, "rise time of the impact force [s]")->check(CLI::Range(0.0, 1.0));
    c->add_option("--hold", o.hold, "time the force stays at full size [s]")->check(CLI::Range(0.0, 60.0));
    c->add_option("--duration", o.duration, "program time simulated [s]")->check(CLI::Range(0.1, 3600.0));
    c->add_option("--speed", o.speed, "programmed joint speed [deg/s]")->check(CLI::Range(1.0, 180.0));
    c->add_option("--reaction", o.reaction, "collision reaction: 0 pause, 1 warn, 2 stop, 3-5 stop and drag")
        ->check(CLI::Range(0, 5));
    c->add_flag("!--no-dual-encoder", o.dual_encoder, "switch the dual-encoder detector off");
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"kxsim: the force/torque library driving a simulated six-joint arm"};
    Global g;
    app.add_option("--model", g.model, "arm model code (standard chain families)")->check(CLI::Range(0u, 1100u));
    app.add_option("--seed", g.seed, "seed of the measurement noise");
    app.add_option("--out", g.out, "output folder for CSV traces and SVG plots");
    app.add_flag("--quiet", g.quiet, "no progress lines");

    HandguideOptions hg;
    CLI::App *handguide = app.add_subcommand("handguide", "hand guiding with an operator's push at the flange");
    handguide->add_option("--mode", hg.mode, "torque model: 0 gravity only, 2 full dynamics")->check(CLI::IsMember({0, 2}));
    handguide->add_option("--force", hg.force, "operator force [N]")->check(CLI::Range(0.0, 500.0));
    handguide->add_option("--push", hg.push, "time at full force [s]")->check(CLI::Range(0.0, 60.0));
    handguide->add_option("--ramp", hg.ramp, "rise and fall time of the push [s]")->check(CLI::Range(0.0, 10.0));
    handguide->add_option("--duration", hg.duration, "whole run [s]")->check(CLI::Range(0.1, 3600.0));
    handguide->add_option("--payload", hg.payload, "nominal payload configured in the library [kg]")->check(CLI::Range(0.0, 50.0));
    handguide->add_option("--payload-error", hg.payload_error, "payload carried / payload configured")->check(CLI::Range(0.0, 5.0));
    std::vector<double> dir = {1, 0, 0};
    handguide->add_option("--direction", dir, "push direction x y z (base frame)")->expected(3);

    CollisionOptions co;
    CLI::App *collision = app.add_subcommand("collision", "impact on a link during a joint program");
    collision->add_option("--level", co.level, "collision level of every joint, 1..10")->check(CLI::Range(1.0, 10.0));
    add_collision_options(collision, co);

    CollisionOptions so;
    so.duration = 1.6;
    std::vector<float> levels = {1, 3, 5, 7, 10};
    std::vector<double> forces = {50, 100, 200, 400};
    CLI::App *sweep = app.add_subcommand("sweep", "detection delay over collision levels and impact forces");
    sweep->add_option("--levels", levels, "collision levels")->check(CLI::Range(1.0, 10.0));
    sweep->add_option("--forces", forces, "impact forces [N]")->check(CLI::Range(0.0, 5000.0));
    add_collision_options(sweep, so);
    app.require_subcommand(0, 1);
    // The global options may also follow the subcommand.
    for (CLI::App *sub : {handguide, collision, sweep}) {
        sub->fallthrough();
    }

    CLI11_PARSE(app, argc, argv);

    if (!plant_supports_model(g.model)) {
        std::fprintf(stderr, "kxsim: model code %u is not a standard-chain arm the plant simulates\n", g.model);
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
    if (*sweep) {
        return do_sweep(g, so, levels, forces);
    }
    if (!*collision) {
        co.duration = 1.5;  // the short default run
    }
    return do_collision(g, co);
}
