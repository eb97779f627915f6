// Output of the simulator: CSV traces, hand-written SVG plots and text tables.
#pragma once

#include <string>
#include <vector>

#include "sim/host_loop.hpp"

namespace kxsim {

// One CSV row per cycle: time, state, joints, targets, command words, currents, residuals,
// thresholds, gear deflections, flange position, external force, peak contact force and the
// wrist sensor's wrench. Fixed number formats, so
// the same run gives the same bytes. Returns false when the file cannot be written.
bool write_trace_csv(const std::string &path, const std::vector<TraceRow> &trace);

struct PlotSeries {
    std::string label;
    std::vector<double> x, y;
    std::string colour;
    bool dashed = false;
};

struct PlotPanel {
    std::string title;
    std::string x_label;
    std::string y_label;
    std::vector<PlotSeries> series;
    std::vector<std::pair<double, std::string>> markers;  // vertical lines at x with a label
    bool equal_axes = false;                              // paths: same scale on x and y
};

// Panels stacked in one SVG file (polylines, axes with ticks, legend, markers).
bool write_svg(const std::string &path, const std::string &title,
               const std::vector<PlotPanel> &panels);

// Colour of joint j (0..5) in plots.
const char *joint_colour(int j);

// Text table with aligned columns (Markdown pipe syntax).
std::string format_table(const std::vector<std::string> &header,
                         const std::vector<std::vector<std::string>> &rows);

// printf-style formatting into a string.
std::string fmt(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace kxsim
