#include "sim/report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <limits>

namespace kxsim {

namespace {

constexpr double kPanelWidth = 960.0;    // [px]
constexpr double kPanelHeight = 280.0;   // [px]
constexpr double kMarginLeft = 70.0;
constexpr double kMarginRight = 170.0;   // legend
constexpr double kMarginTop = 34.0;
constexpr double kMarginBottom = 40.0;
constexpr std::size_t kMaxPoints = 2500; // per polyline

std::string escape(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            default: out += c;
        }
    }
    return out;
}

// A "nice" tick step for a span: 1, 2 or 5 times a power of ten.
double tick_step(double span) {
    if (!(span > 0.0)) {
        return 1.0;
    }
    const double raw = span / 5.0;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / p;
    return (m < 1.5 ? 1.0 : m < 3.5 ? 2.0 : m < 7.5 ? 5.0 : 10.0) * p;
}

}  // namespace

std::string fmt(const char *format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buf);
}

const char *joint_colour(int j) {
    static const char *const kColours[6] = {"#1f77b4", "#d62728", "#2ca02c",
                                            "#9467bd", "#ff7f0e", "#17becf"};
    return kColours[std::clamp(j, 0, 5)];
}

bool write_trace_csv(const std::string &path, const std::vector<TraceRow> &trace) {
    std::FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    std::fprintf(f, "t_s,state");
    const char *groups[] = {"q_deg", "target_deg", "cmd_permille", "current_permille",
                            "residual_Nm", "threshold_Nm", "deflection_deg"};
    for (const char *g : groups) {
        for (int j = 1; j <= 6; ++j) {
            std::fprintf(f, ",%s%d", g, j);
        }
    }
    std::fprintf(f, ",flange_x_mm,flange_y_mm,flange_z_mm,force_N,contact_peak_N,sensor_Fx_N,"
                    "sensor_Fy_N,sensor_Fz_N,sensor_Mx_Nm,sensor_My_Nm,sensor_Mz_Nm\n");
    for (const TraceRow &r : trace) {
        std::fprintf(f, "%.3f,%d", r.t, r.state);
        const Vec6 *cols[] = {&r.q, &r.target};
        for (const Vec6 *c : cols) {
            for (double v : *c) {
                std::fprintf(f, ",%.5f", v);
            }
        }
        for (double v : r.cmd) {
            std::fprintf(f, ",%.0f", v);
        }
        for (double v : r.current) {
            std::fprintf(f, ",%.0f", v);
        }
        for (double v : r.residual) {
            std::fprintf(f, ",%.5f", v);
        }
        for (double v : r.threshold) {
            std::fprintf(f, ",%.5f", v);
        }
        for (double v : r.deflection) {
            std::fprintf(f, ",%.6f", v);
        }
        std::fprintf(f, ",%.3f,%.3f,%.3f,%.3f,%.3f", r.flange[0], r.flange[1], r.flange[2], r.force,
                     r.contact_peak);
        for (double v : r.sensor) {
            std::fprintf(f, ",%.4f", v);
        }
        std::fprintf(f, "\n");
    }
    return std::fclose(f) == 0;
}

bool write_svg(const std::string &path, const std::string &title,
               const std::vector<PlotPanel> &panels) {
    std::ofstream out(path);
    if (!out) {
        return false;
    }
    const double height = kMarginTop + panels.size() * kPanelHeight + 10.0;
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kPanelWidth << "\" height=\""
        << height << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    out << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    out << "<text x=\"" << kPanelWidth / 2 << "\" y=\"20\" text-anchor=\"middle\" font-size=\"15\">"
        << escape(title) << "</text>\n";

    for (std::size_t p = 0; p < panels.size(); ++p) {
        const PlotPanel &panel = panels[p];
        const double top = kMarginTop + p * kPanelHeight + 18.0;
        const double left = kMarginLeft;
        const double w = kPanelWidth - kMarginLeft - kMarginRight;
        const double h = kPanelHeight - kMarginBottom - 18.0;
        double x0 = std::numeric_limits<double>::max(), x1 = -x0, y0 = x0, y1 = -x0;
        for (const PlotSeries &s : panel.series) {
            for (std::size_t i = 0; i < s.x.size() && i < s.y.size(); ++i) {
                if (std::isfinite(s.x[i]) && std::isfinite(s.y[i])) {
                    x0 = std::min(x0, s.x[i]);
                    x1 = std::max(x1, s.x[i]);
                    y0 = std::min(y0, s.y[i]);
                    y1 = std::max(y1, s.y[i]);
                }
            }
        }
        if (x0 > x1) {
            x0 = 0.0, x1 = 1.0, y0 = 0.0, y1 = 1.0;
        }
        if (y1 - y0 < 1e-9) {
            y0 -= 1.0, y1 += 1.0;
        }
        if (x1 - x0 < 1e-9) {
            x0 -= 1.0, x1 += 1.0;
        }
        const double pad = 0.05 * (y1 - y0);
        y0 -= pad, y1 += pad;
        if (panel.equal_axes) {
            // Same mm per pixel on both axes, centred.
            const double scale = std::max((x1 - x0) / w, (y1 - y0) / h);
            const double cx = 0.5 * (x0 + x1), cy = 0.5 * (y0 + y1);
            x0 = cx - 0.5 * scale * w, x1 = cx + 0.5 * scale * w;
            y0 = cy - 0.5 * scale * h, y1 = cy + 0.5 * scale * h;
        }
        auto px = [&](double x) { return left + (x - x0) / (x1 - x0) * w; };
        auto py = [&](double y) { return top + h - (y - y0) / (y1 - y0) * h; };

        out << "<text x=\"" << left << "\" y=\"" << top - 6 << "\" font-size=\"13\">"
            << escape(panel.title) << "</text>\n";
        out << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << w << "\" height=\""
            << h << "\" fill=\"none\" stroke=\"#444\"/>\n";
        const double xs = tick_step(x1 - x0), ys = tick_step(y1 - y0);
        for (double x = std::ceil(x0 / xs) * xs; x <= x1 + 1e-12; x += xs) {
            out << "<line x1=\"" << px(x) << "\" y1=\"" << top << "\" x2=\"" << px(x)
                << "\" y2=\"" << top + h << "\" stroke=\"#e4e4e4\"/>\n";
            out << "<text x=\"" << px(x) << "\" y=\"" << top + h + 14
                << "\" text-anchor=\"middle\">" << fmt("%g", std::fabs(x) < 1e-12 ? 0.0 : x)
                << "</text>\n";
        }
        for (double y = std::ceil(y0 / ys) * ys; y <= y1 + 1e-12; y += ys) {
            out << "<line x1=\"" << left << "\" y1=\"" << py(y) << "\" x2=\"" << left + w
                << "\" y2=\"" << py(y) << "\" stroke=\"#e4e4e4\"/>\n";
            out << "<text x=\"" << left - 5 << "\" y=\"" << py(y) + 4
                << "\" text-anchor=\"end\">" << fmt("%g", std::fabs(y) < 1e-12 ? 0.0 : y)
                << "</text>\n";
        }
        out << "<text x=\"" << left + w / 2 << "\" y=\"" << top + h + 30
            << "\" text-anchor=\"middle\">" << escape(panel.x_label) << "</text>\n";
        out << "<text transform=\"translate(" << 16 << "," << top + h / 2
            << ") rotate(-90)\" text-anchor=\"middle\">" << escape(panel.y_label) << "</text>\n";
        for (const auto &m : panel.markers) {
            if (m.first < x0 || m.first > x1) {
                continue;
            }
            out << "<line x1=\"" << px(m.first) << "\" y1=\"" << top << "\" x2=\"" << px(m.first)
                << "\" y2=\"" << top + h << "\" stroke=\"#000\" stroke-dasharray=\"2,3\"/>\n";
            out << "<text x=\"" << px(m.first) + 3 << "\" y=\"" << top + 12 << "\">"
                << escape(m.second) << "</text>\n";
        }
        int legend_row = 0;
        for (std::size_t s = 0; s < panel.series.size(); ++s) {
            const PlotSeries &series = panel.series[s];
            const std::size_t n = std::min(series.x.size(), series.y.size());
            const std::size_t stride = std::max<std::size_t>(1, n / kMaxPoints);
            out << "<polyline fill=\"none\" stroke=\"" << series.colour << "\" stroke-width=\"1.2\""
                << (series.dashed ? " stroke-dasharray=\"6,4\"" : "") << " points=\"";
            for (std::size_t i = 0; i < n; i += stride) {
                if (std::isfinite(series.x[i]) && std::isfinite(series.y[i])) {
                    out << fmt("%.1f,%.1f ", px(series.x[i]), py(series.y[i]));
                }
            }
            out << "\"/>\n";
            if (series.label.empty()) {
                continue;  // a companion curve (e.g. the negative threshold) has no legend entry
            }
            const double ly = top + 12 + 15.0 * legend_row++;
            out << "<line x1=\"" << left + w + 10 << "\" y1=\"" << ly - 4 << "\" x2=\""
                << left + w + 34 << "\" y2=\"" << ly - 4 << "\" stroke=\"" << series.colour
                << "\" stroke-width=\"2\"" << (series.dashed ? " stroke-dasharray=\"6,4\"" : "")
                << "/>\n";
            out << "<text x=\"" << left + w + 40 << "\" y=\"" << ly << "\">"
                << escape(series.label) << "</text>\n";
        }
    }
    out << "</svg>\n";
    return static_cast<bool>(out);
}

std::string format_table(const std::vector<std::string> &header,
                         const std::vector<std::vector<std::string>> &rows) {
    std::vector<std::size_t> width(header.size(), 3);
    for (std::size_t c = 0; c < header.size(); ++c) {
        width[c] = std::max(width[c], header[c].size());
    }
    for (const auto &r : rows) {
        for (std::size_t c = 0; c < r.size() && c < width.size(); ++c) {
            width[c] = std::max(width[c], r[c].size());
        }
    }
    auto line = [&](const std::vector<std::string> &cells) {
        std::string s = "|";
        for (std::size_t c = 0; c < width.size(); ++c) {
            const std::string v = c < cells.size() ? cells[c] : std::string();
            s += " " + v + std::string(width[c] - v.size(), ' ') + " |";
        }
        return s + "\n";
    };
    std::string out = line(header);
    std::string sep = "|";
    for (std::size_t w : width) {
        sep += std::string(w + 2, '-') + "|";
    }
    out += sep + "\n";
    for (const auto &r : rows) {
        out += line(r);
    }
    return out;
}

}  // namespace kxsim
