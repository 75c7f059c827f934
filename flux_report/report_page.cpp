#include "report_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "svg_plot.h"

namespace flux_report {

namespace {

constexpr double PAGE_WIDTH = 1000.0;
constexpr double PLOT_LEFT = 92.0;
constexpr double PLOT_WIDTH = 870.0;
constexpr std::size_t MAX_MARKED_INTERVALS = 400;  // beyond this, markers only clutter
constexpr std::size_t MAX_COSPECTRUM_CURVES = 300;  // beyond this, bands keep the page small

const char* STYLE = R"(
body{font-family:"DejaVu Sans",Arial,Helvetica,sans-serif;color:#222;margin:0 auto;max-width:1100px;padding:12px 20px}
h1{font-size:24px;margin:8px 0 12px}
h2{font-size:19px;margin:26px 0 4px}
p.caption{margin:2px 0 6px;font-size:14px;color:#444}
table.summary{border-collapse:collapse;font-size:15px}
table.summary th{text-align:left;font-weight:600;padding:3px 18px 3px 0;vertical-align:top}
table.summary td{padding:3px 0}
svg.panel{width:100%;height:auto;display:block;background:#fff}
svg text{font-size:14px;fill:#222}
svg .axis-title{font-size:15px}
svg .no-data{font-size:17px;fill:#8a1c1c}
.grid{stroke:#e4e4e4;stroke-width:1}
.tick{stroke:#333;stroke-width:1}
.frame{fill:none;stroke:#333;stroke-width:1}
.zero-line{stroke:#000;stroke-width:1.2;stroke-dasharray:6 4}
.curve{fill:none;stroke-width:2;stroke-linejoin:round}
.flux-l{stroke:#1f5fbf}
.flux-r{stroke:#c8461b}
.mark-l{fill:#1f5fbf}
.mark-r{fill:#c8461b}
.band{stroke:none}
.lin-band{fill:#1f5fbf;fill-opacity:.16}
.run-band{fill:#c8461b;fill-opacity:.16}
.cumflux{stroke:#1f5fbf}
.cumflux-shift{stroke:#c8461b;stroke-dasharray:7 3}
.cospectrum{stroke-width:1.1;stroke-opacity:.75}
.cospectrum-median{stroke:#000;stroke-width:2.6}
.cospectrum-outer{fill:#2a5f9f;fill-opacity:.18}
.cospectrum-inner{fill:#2a5f9f;fill-opacity:.35}
.window-mark{stroke:#6a2c91;stroke-width:1.6;stroke-dasharray:8 5}
.window-label{fill:#6a2c91}
.speed{stroke:#2a7f3f}
.mark-speed{fill:#2a7f3f}
.dir-dot{fill:#2a5f9f}
.notes{font-size:14px}
.notes li{margin:2px 0}
.problem{color:#8a1c1c}
)";

std::string unit_flux() { return "mmol m\u207B\u00B2 d\u207B\u00B9"; }
std::string unit_cumulative() { return "mmol m\u207B\u00B2"; }

std::string svg_open(const char* id, double height, const std::string& label) {
    std::string s = "<svg class=\"panel\" id=\"";
    s += id;
    s += "\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 ";
    append_number(s, PAGE_WIDTH);
    s += ' ';
    append_number(s, height);
    s += "\" role=\"img\" aria-label=\"" + html_escape(label) + "\">";
    return s;
}

void legend_line(std::string& svg, double x, double y, const std::string& css, const std::string& label) {
    svg += "<line class=\"curve " + css + "\" x1=\"";
    append_number(svg, x);
    svg += "\" y1=\"";
    append_number(svg, y);
    svg += "\" x2=\"";
    append_number(svg, x + 28);
    svg += "\" y2=\"";
    append_number(svg, y);
    svg += "\"/><text x=\"";
    append_number(svg, x + 34);
    svg += "\" y=\"";
    append_number(svg, y + 5);
    svg += "\">" + label + "</text>";
}

void legend_box(std::string& svg, double x, double y, const std::string& css, const std::string& label) {
    svg += "<rect class=\"band " + css + "\" x=\"";
    append_number(svg, x);
    svg += "\" y=\"";
    append_number(svg, y - 7);
    svg += "\" width=\"28\" height=\"14\"/><text x=\"";
    append_number(svg, x + 34);
    svg += "\" y=\"";
    append_number(svg, y + 5);
    svg += "\">" + label + "</text>";
}

void path(std::string& svg, const std::string& css, const std::string& d, const char* extra = "") {
    if (d.empty()) return;
    svg += "<path class=\"" + css + "\" d=\"" + d + "\"" + extra + "/>";
}

void markers(std::string& svg, const Frame& f, const std::vector<double>& x, const std::vector<double>& y,
             const char* css, double radius) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
        svg += "<circle class=\"";
        svg += css;
        svg += "\" cx=\"";
        append_number(svg, f.px(x[i]));
        svg += "\" cy=\"";
        append_number(svg, f.py(y[i]));
        svg += "\" r=\"";
        append_number(svg, radius);
        svg += "\"/>";
    }
}

std::vector<PlotPoint> as_points(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<PlotPoint> p;
    p.reserve(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isfinite(x[i]) && std::isfinite(y[i])) p.push_back({x[i], y[i]});
        else p.push_back(BREAK_POINT);
    }
    return p;
}

Ticks padded_linear(Range r, int wanted, bool include_zero) {
    if (include_zero) r.include(0.0);
    if (!r.any) return linear_ticks(0.0, 1.0, wanted);
    double pad = (r.hi - r.lo) * 0.03;
    // Values that are never negative (speeds) keep zero as the floor.
    double lo = r.lo >= 0.0 ? std::max(0.0, r.lo - pad) : r.lo - pad;
    return linear_ticks(lo, r.hi + pad, wanted);
}

std::string clip_rect(const char* id, const Frame& f) {
    std::string s = "<clipPath id=\"";
    s += id;
    s += "\"><rect x=\"";
    append_number(s, f.left);
    s += "\" y=\"";
    append_number(s, f.top);
    s += "\" width=\"";
    append_number(s, f.width);
    s += "\" height=\"";
    append_number(s, f.height);
    s += "\"/></clipPath>";
    return s;
}

// The median of the forward steps between neighbouring points times `factor`:
// steps much wider than usual are gaps in the record (or stray interval
// times) and are not bridged by a line.
double gap_step(const std::vector<PlotPoint>& points, double factor) {
    std::vector<double> steps;
    for (std::size_t i = 1; i < points.size(); ++i)
        if (!is_break(points[i]) && !is_break(points[i - 1]) && points[i].x > points[i - 1].x)
            steps.push_back(points[i].x - points[i - 1].x);
    if (steps.empty()) return NO_STEP_LIMIT;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return factor * steps[steps.size() / 2];
}

// ---- per-interval columns of the results table -------------------------------------------
struct Columns {
    std::vector<double> time, speed, direction, flux_l, flux_r, lin_min, lin_max, run_min, run_max;
};

Columns columns_of(const ResultsTable& t) {
    Columns c;
    for (const IntervalRow& r : t.rows) {
        c.time.push_back(r.time);
        c.speed.push_back(r.speed);
        c.direction.push_back(r.direction);
        c.flux_l.push_back(r.flux_linear);
        c.flux_r.push_back(r.flux_running);
        c.lin_min.push_back(r.lin_min);
        c.lin_max.push_back(r.lin_max);
        c.run_min.push_back(r.run_min);
        c.run_max.push_back(r.run_max);
    }
    return c;
}

std::string missing_text(const FileReport& f) {
    return f.present ? f.name + " holds nothing to draw" : f.name + " is missing";
}

// ---- panels ---------------------------------------------------------------------------------

std::string flux_panel(const ResultsTable& t, const Columns& c, const Ticks& time_ticks, double step) {
    const double height = 420;
    Frame f{PLOT_LEFT, 46, PLOT_WIDTH, 306, time_ticks, {}, false};
    Range y;
    bool any = false;
    for (std::size_t i = 0; i < c.time.size(); ++i) {
        if (!std::isfinite(c.time[i])) continue;
        for (double v : {c.flux_l[i], c.flux_r[i], c.lin_min[i], c.lin_max[i], c.run_min[i], c.run_max[i]}) {
            y.include(v);
            any = any || std::isfinite(v);
        }
    }
    f.y = padded_linear(y, 7, true);
    std::string s = svg_open("flux-panel", height, "Flux per interval against time");
    s += clip_rect("flux-clip", f);
    draw_axes(s, f, "time (h)", "flux (" + unit_flux() + ")");
    s += "<g clip-path=\"url(#flux-clip)\">";
    path(s, "band lin-band", band_path(f, c.time, c.lin_min, c.lin_max, step));
    path(s, "band run-band", band_path(f, c.time, c.run_min, c.run_max, step));
    draw_hline(s, f, 0.0, "zero-line");
    path(s, "curve flux-l", curve_path(f, as_points(c.time, c.flux_l), true, step));
    path(s, "curve flux-r", curve_path(f, as_points(c.time, c.flux_r), true, step));
    if (c.time.size() <= MAX_MARKED_INTERVALS) {
        markers(s, f, c.time, c.flux_l, "mark-l", 3.0);
        markers(s, f, c.time, c.flux_r, "mark-r", 3.0);
    }
    s += "</g>";
    legend_line(s, PLOT_LEFT + 4, 20, "flux-l", "FLUX-L (linear detrending)");
    legend_line(s, PLOT_LEFT + 250, 20, "flux-r", "FLUX-R (running mean)");
    legend_box(s, PLOT_LEFT + 480, 20, "lin-band", "LINMIN\u2013LINMAX");
    legend_box(s, PLOT_LEFT + 650, 20, "run-band", "RUNMIN\u2013RUNMAX");
    if (!any) draw_message(s, f, t.rows.empty() ? missing_text(t.file) + " or holds no interval" : "no finite flux to draw");
    s += "</svg>";
    return s;
}

std::string cumulative_panel(const CumulativeCurve& a, const CumulativeCurve& b, const Ticks& time_ticks) {
    const double height = 420;
    Frame f{PLOT_LEFT, 46, PLOT_WIDTH, 306, time_ticks, {}, false};
    Range y;
    for (const CumulativeCurve* c : {&a, &b})
        for (const PlotPoint& p : c->points)
            if (!is_break(p)) y.include(p.y);
    f.y = padded_linear(y, 7, true);
    std::string s = svg_open("cumulative-panel", height, "Cumulative flux against time");
    s += clip_rect("cumulative-clip", f);
    draw_axes(s, f, "time (h)", "cumulative flux (" + unit_cumulative() + ")");
    s += "<g clip-path=\"url(#cumulative-clip)\">";
    draw_hline(s, f, 0.0, "zero-line");
    // Gaps were marked while reading, at full resolution.
    path(s, "curve cumflux", curve_path(f, a.points, false));
    path(s, "curve cumflux-shift", curve_path(f, b.points, false));
    s += "</g>";
    legend_line(s, PLOT_LEFT + 4, 20, "cumflux", html_escape(a.file.name) + " (zero shift)");
    legend_line(s, PLOT_LEFT + 330, 20, "cumflux-shift", html_escape(b.file.name) + " (best shift of each interval)");
    if (!y.any) {
        std::string why;
        for (const CumulativeCurve* c : {&a, &b})
            if (!c->has_values) why += (why.empty() ? "" : "; ") + missing_text(c->file);
        draw_message(s, f, why);
    } else if (!a.has_values || !b.has_values) {
        const CumulativeCurve& gone = a.has_values ? b : a;
        std::string note;
        note += "<text class=\"no-data\" x=\"";
        append_number(note, f.left + 12);
        note += "\" y=\"";
        append_number(note, f.top + 24);
        note += "\" text-anchor=\"start\">" + html_escape(missing_text(gone.file)) + "</text>";
        s += note;
    }
    s += "</svg>";
    return s;
}

// The y range holding the bulk of the values: the outer 2 % on either side
// are left out when there are enough values, so that one wild interval does
// not flatten all the others.
Range bulk_range(std::vector<double> v, long& outside) {
    Range r;
    outside = 0;
    if (v.empty()) return r;
    std::sort(v.begin(), v.end());
    if (v.size() < 50) {
        r.include(v.front());
        r.include(v.back());
        return r;
    }
    std::size_t cut = v.size() / 50;
    double lo = v[cut], hi = v[v.size() - 1 - cut];
    double pad = (hi - lo) * 0.15;
    r.include(lo - pad);
    r.include(hi + pad);
    for (double x : v)
        if (x < r.lo || x > r.hi) ++outside;
    return r;
}

std::string cospectra_panel(const ReportInput& in, long& clipped) {
    const Cospectra& c = in.cospectra;
    const double height = 470;
    Frame f{PLOT_LEFT, 46, PLOT_WIDTH, 356, {}, {}, true};

    int window_seconds = std::min(in.running_window_seconds, in.interval_seconds);
    double window_samples = std::trunc(static_cast<double>(window_seconds) * in.sample_rate_hz);
    double window_frequency = window_samples >= 1.0 ? in.sample_rate_hz / window_samples : NAN;

    Range x;
    for (double v : c.frequencies)
        if (v > 0.0) x.include(v);
    if (window_frequency > 0.0) x.include(window_frequency);
    f.x = x.any ? log_ticks(x.lo, x.hi) : log_ticks(0.1, 10.0);

    std::vector<double> all;
    for (const auto& column : c.fluxes)
        for (std::size_t m = 0; m < column.size() && m < c.frequencies.size(); ++m)
            if (std::isfinite(column[m]) && c.frequencies[m] > 0.0) all.push_back(column[m]);
    Range y = bulk_range(all, clipped);
    f.y = padded_linear(y, 7, true);

    std::string s = svg_open("cospectra-panel", height, "Cospectra: running-mean flux against frequency");
    s += clip_rect("cospectra-clip", f);
    draw_axes(s, f, "frequency (Hz), logarithmic", "running-mean flux (" + unit_flux() + ")");
    s += "<g clip-path=\"url(#cospectra-clip)\">";
    draw_hline(s, f, 0.0, "zero-line");

    // Many intervals share the page: their curves are thinned to wider pixel
    // columns the more of them there are, keeping each column's extremes.
    std::size_t k_count = c.fluxes.size();
    bool each_interval = k_count <= MAX_COSPECTRUM_CURVES;
    double column_width = std::clamp(static_cast<double>(k_count) / 24.0, 1.0, 12.0);
    for (std::size_t k = 0; each_interval && k < k_count; ++k) {
        ColumnThinner thinner;
        for (std::size_t m = 0; m < c.fluxes[k].size() && m < c.frequencies.size(); ++m) {
            double fr = c.frequencies[m];
            if (!(fr > 0.0)) continue;
            auto column = static_cast<long long>(std::floor((f.px(fr) - f.left) / column_width));
            if (std::isfinite(c.fluxes[k][m])) thinner.add(column, fr, c.fluxes[k][m]);
            else thinner.skip(column);
        }
        double hue = k_count > 1 ? 240.0 * (1.0 - static_cast<double>(k) / static_cast<double>(k_count - 1)) : 240.0;
        char style[64];
        std::snprintf(style, sizeof style, " stroke=\"hsl(%.0f,75%%,42%%)\"", hue);
        path(s, "curve cospectrum", curve_path(f, thinner.finish(), false), style);
    }
    // The median over the intervals, row by row; with too many intervals for
    // one curve each, their spread is drawn as bands instead.
    if (k_count > 1) {
        std::vector<PlotPoint> median;
        std::vector<double> fr, p10, p25, p75, p90;  // ascending frequency for the bands
        for (std::size_t m = c.frequencies.size(); m-- > 0;) {
            std::vector<double> v;
            for (const auto& column : c.fluxes)
                if (m < column.size() && std::isfinite(column[m])) v.push_back(column[m]);
            if (v.empty() || !(c.frequencies[m] > 0.0)) {
                median.push_back(BREAK_POINT);
                continue;
            }
            std::sort(v.begin(), v.end());
            double med = v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
            median.push_back({c.frequencies[m], med});
            auto at = [&](double q) { return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)]; };
            fr.push_back(c.frequencies[m]);
            p10.push_back(at(0.10));
            p25.push_back(at(0.25));
            p75.push_back(at(0.75));
            p90.push_back(at(0.90));
        }
        if (!each_interval) {
            path(s, "band cospectrum-outer", band_path(f, fr, p10, p90));
            path(s, "band cospectrum-inner", band_path(f, fr, p25, p75));
        }
        path(s, "curve cospectrum-median", curve_path(f, median, false));
    }
    s += "</g>";
    if (window_frequency > 0.0) {
        double wx = f.px(window_frequency);
        s += "<line class=\"window-mark\" x1=\"";
        append_number(s, wx);
        s += "\" y1=\"";
        append_number(s, f.top);
        s += "\" x2=\"";
        append_number(s, wx);
        s += "\" y2=\"";
        append_number(s, f.top + f.height);
        s += "\"/><text class=\"window-label\" x=\"";
        append_number(s, wx + 6);
        s += "\" y=\"";
        append_number(s, f.top + 18);
        s += "\" text-anchor=\"start\">running window " + std::to_string(window_seconds) + " s (" +
             tick_label(window_frequency, window_frequency < 0.1 ? 0.0001 : 0.001) + " Hz)</text>";
    }
    std::string first = c.interval_times.empty() ? "" : fixed(c.interval_times.front(), 4) + " h";
    std::string last = c.interval_times.empty() ? "" : fixed(c.interval_times.back(), 4) + " h";
    // Colour key: from blue (first interval) to red (last).
    if (!each_interval) {
        legend_box(s, PLOT_LEFT + 4, 19, "cospectrum-outer", "10\u201390 % of the intervals");
        legend_box(s, PLOT_LEFT + 230, 19, "cospectrum-inner", "25\u201375 %");
        s += "<text x=\"";
        append_number(s, PLOT_LEFT + 340);
        s += "\" y=\"24\">(" + std::to_string(k_count) + " intervals, " + first + " to " + last + ")</text>";
    } else {
    s += "<defs><linearGradient id=\"interval-key\"><stop offset=\"0\" stop-color=\"hsl(240,75%,42%)\"/>"
         "<stop offset=\".5\" stop-color=\"hsl(120,75%,42%)\"/><stop offset=\"1\" stop-color=\"hsl(0,75%,42%)\"/>"
         "</linearGradient></defs>";
    s += "<rect x=\"";
    append_number(s, PLOT_LEFT + 4);
    s += "\" y=\"13\" width=\"120\" height=\"12\" fill=\"url(#interval-key)\"/><text x=\"";
    append_number(s, PLOT_LEFT + 132);
    s += "\" y=\"24\">one curve per interval, first (" + first + ") to last (" + last + ")</text>";
    }
    if (k_count > 1) legend_line(s, PLOT_LEFT + 640, 19, "cospectrum-median", "median of the intervals");
    if (k_count == 0 || all.empty())
        draw_message(s, f, c.fluxes.empty() ? missing_text(c.file) + " or holds no interval" : "no finite value to draw");
    s += "</svg>";
    return s;
}

std::string current_panel(const ResultsTable& t, const Columns& c, const Ticks& time_ticks, double step) {
    const double height = 560;
    Frame speed{PLOT_LEFT, 20, PLOT_WIDTH, 200, time_ticks, {}, false};
    Frame dir{PLOT_LEFT, 300, PLOT_WIDTH, 200, time_ticks, {}, false};
    Range y;
    for (std::size_t i = 0; i < c.time.size(); ++i)
        if (std::isfinite(c.time[i])) y.include(c.speed[i]);
    speed.y = padded_linear(y, 5, true);
    dir.y = Ticks{0.0, 360.0, 90.0, {0.0, 90.0, 180.0, 270.0, 360.0}};
    std::string s = svg_open("current-panel", height, "Mean current speed and direction per interval");
    s += clip_rect("speed-clip", speed);
    draw_axes(s, speed, "time (h)", "speed (cm s\u207B\u00B9)");
    s += "<g clip-path=\"url(#speed-clip)\">";
    path(s, "curve speed", curve_path(speed, as_points(c.time, c.speed), true, step));
    if (c.time.size() <= MAX_MARKED_INTERVALS) markers(s, speed, c.time, c.speed, "mark-speed", 3.0);
    s += "</g>";
    draw_axes(s, dir, "time (h)", "direction (\u00B0)");
    // Directions wrap at 360: dots, not a line.
    markers(s, dir, c.time, c.direction, "dir-dot", 3.5);
    if (!y.any) {
        std::string why = t.rows.empty() ? missing_text(t.file) + " or holds no interval" : "no finite value to draw";
        draw_message(s, speed, why);
        draw_message(s, dir, why);
    }
    s += "</svg>";
    return s;
}

void summary_row(std::string& html, const std::string& label, const std::string& value) {
    html += "<tr><th>" + label + "</th><td>" + value + "</td></tr>\n";
}

std::string mean_text(const MeanAndError& m, long intervals) {
    if (m.n == 0) return "no finite value";
    std::string s = fixed(m.mean, 2);
    if (m.n >= 2) {
        s += " \u00B1 ";
        s += fixed(m.standard_error, 2);
    } else {
        s += " (no standard error from one interval)";
    }
    s += ' ';
    s += unit_flux();
    s += " (" + std::to_string(m.n) + " of " + std::to_string(intervals) + " intervals)";
    return s;
}

std::string skip_text(const SkipCounts& s) {
    std::string t;
    auto part = [&](long n, const char* one, const char* many) {
        if (n == 0) return;
        if (!t.empty()) t += ", ";
        t += std::to_string(n) + " " + (n == 1 ? one : many);
    };
    part(s.overflow, "asterisk field (too wide for its field)", "asterisk fields (too wide for their field)");
    part(s.non_finite, "NaN or Infinity", "NaN or Infinity");
    part(s.unreadable, "unreadable field", "unreadable fields");
    return t;
}

}  // namespace

MeanAndError mean_and_error(const std::vector<double>& values) {
    MeanAndError r{NAN, NAN, 0};
    double sum = 0.0;
    for (double v : values)
        if (std::isfinite(v)) {
            sum += v;
            ++r.n;
        }
    if (r.n == 0) return r;
    r.mean = sum / static_cast<double>(r.n);
    if (r.n < 2) return r;
    double squares = 0.0;
    for (double v : values)
        if (std::isfinite(v)) squares += (v - r.mean) * (v - r.mean);
    r.standard_error = std::sqrt(squares / static_cast<double>(r.n - 1)) / std::sqrt(static_cast<double>(r.n));
    return r;
}

std::string render_report(const ReportInput& in) {
    Columns c = columns_of(in.results);

    // The interval panels span the intervals (mean times give or take half an
    // interval); the cumulative panel spans its own samples, so that one stray
    // sample time cannot squeeze the interval panels into a corner.
    Range time;
    for (double t : c.time) time.include(t);
    if (time.any && in.interval_seconds > 0) {
        double half = in.interval_seconds / 7200.0;
        time.include(time.lo - half);
        time.include(time.hi + half);
    }
    Range sample_time;
    for (const CumulativeCurve* cc : {&in.cumulative, &in.cumulative_shift})
        for (const PlotPoint& p : cc->points)
            if (!is_break(p)) sample_time.include(p.x);
    if (!time.any) time = sample_time;
    if (!sample_time.any) sample_time = time;
    Ticks time_ticks = time.any ? linear_ticks(time.lo, time.hi, 10) : linear_ticks(0.0, 1.0, 10);
    // Neighbouring intervals lie about one typical step apart (taken from the
    // times themselves, which need not match the configured rate).
    double interval_step = gap_step(as_points(c.time, c.time), 2.5);
    Ticks sample_time_ticks =
        sample_time.any ? linear_ticks(sample_time.lo, sample_time.hi, 10) : linear_ticks(0.0, 1.0, 10);

    std::string html;
    html.reserve(1 << 20);
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Flux report: " +
            html_escape(in.input_file_name) + "</title>\n<style>" + STYLE + "</style>\n</head>\n<body>\n";
    html += "<h1>Flux report: " + html_escape(in.input_file_name) + "</h1>\n";

    std::vector<double> fl(c.flux_l), fr(c.flux_r);
    long intervals = static_cast<long>(in.results.rows.size());
    int window_seconds = std::min(in.running_window_seconds, in.interval_seconds);
    long samples = static_cast<long>(std::trunc(in.sample_rate_hz)) * in.interval_seconds;
    html += "<table class=\"summary\" id=\"summary\">\n";
    summary_row(html, "Input series", html_escape(in.input_file_name));
    summary_row(html, "Results table", html_escape(in.results_file_name));
    summary_row(html, "Sample rate", tick_label(in.sample_rate_hz, 0.0) + " Hz");
    summary_row(html, "Interval length",
                std::to_string(in.interval_seconds) + " s (" + std::to_string(samples) + " samples)");
    summary_row(html, "Running-mean window", std::to_string(window_seconds) + " s");
    std::string count = std::to_string(intervals);
    if (time.any && !c.time.empty()) {
        Range span;
        for (double t : c.time) span.include(t);
        if (span.any) count += " (mean times " + fixed(span.lo, 4) + " h to " + fixed(span.hi, 4) + " h)";
    }
    summary_row(html, "Intervals", count);
    summary_row(html, "Mean FLUX-L \u00B1 standard error", mean_text(mean_and_error(fl), intervals));
    summary_row(html, "Mean FLUX-R \u00B1 standard error", mean_text(mean_and_error(fr), intervals));
    html += "</table>\n";

    html += "<h2>Flux per interval</h2>\n<p class=\"caption\">Linear-detrending (FLUX-L) and running-mean "
            "(FLUX-R) flux of each interval at its mean time; the bands span the smallest to largest flux "
            "over the shifts of up to two seconds.</p>\n";
    html += flux_panel(in.results, c, time_ticks, interval_step);
    html += "\n<h2>Cumulative flux</h2>\n<p class=\"caption\">Running total over the whole record, sample by "
            "sample (thinned for drawing; every drawing column keeps its lowest and highest value).</p>\n";
    html += cumulative_panel(in.cumulative, in.cumulative_shift, sample_time_ticks);
    long clipped = 0;
    std::string cospectra = cospectra_panel(in, clipped);
    html += "\n<h2>Cospectra</h2>\n<p class=\"caption\">Running-mean flux of each interval for running-mean "
            "windows of growing length; a window of L samples stands for the frequency rate / L.";
    if (clipped > 0)
        html += " The flux axis covers the bulk of the values: " + std::to_string(clipped) +
                " value(s) lie beyond it, outside the frame.";
    html += "</p>\n" + cospectra;
    html += "\n<h2>Mean current</h2>\n<p class=\"caption\">Magnitude and direction of the mean horizontal "
            "current of each interval.</p>\n";
    html += current_panel(in.results, c, time_ticks, interval_step);

    html += "\n<h2>Notes</h2>\n<ul class=\"notes\" id=\"skipped-note\">\n";
    long total = 0;
    for (const FileReport* f : {&in.results.file, &in.cumulative.file, &in.cumulative_shift.file, &in.cospectra.file})
        total += f->skipped.total();
    html += "<li>" +
            (total == 0 ? std::string("No value was skipped.")
                        : "Skipped values, not drawn (never shown as zero): " + std::to_string(total) + " in all.") +
            "</li>\n";
    for (const FileReport* f : {&in.results.file, &in.cumulative.file, &in.cumulative_shift.file, &in.cospectra.file}) {
        std::string line = "<code>" + html_escape(f->name) + "</code>: ";
        if (f->present) line += std::to_string(f->records) + " records read";
        std::string skipped = skip_text(f->skipped);
        if (!skipped.empty()) line += "; skipped " + skipped;
        if (!f->problem.empty())
            line += std::string(f->present ? "; " : "") + "<span class=\"problem\">" + html_escape(f->problem) + " (" + html_escape(f->path) + ")</span>";
        html += "<li>" + line + "</li>\n";
    }
    html += "</ul>\n</body>\n</html>\n";
    return html;
}

}  // namespace flux_report
