#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace flux_report {

void Range::include(double v) {
    if (!std::isfinite(v)) return;
    if (!any) {
        lo = hi = v;
        any = true;
        return;
    }
    lo = std::min(lo, v);
    hi = std::max(hi, v);
}

void Range::include(const Range& other) {
    if (!other.any) return;
    include(other.lo);
    include(other.hi);
}

Ticks linear_ticks(double lo, double hi, int wanted) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0.0, hi = 1.0;
    if (hi < lo) std::swap(lo, hi);
    if (hi - lo <= std::max(std::fabs(lo), std::fabs(hi)) * 1e-12) {
        double pad = lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1;
        lo -= pad;
        hi += pad;
    }
    double raw = (hi - lo) / std::max(1, wanted);
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= raw) break;
    }
    Ticks t;
    t.step = step;
    t.lo = std::floor(lo / step) * step;
    t.hi = std::ceil(hi / step) * step;
    long long n = std::llround((t.hi - t.lo) / step);
    for (long long i = 0; i <= n; ++i) t.values.push_back(t.lo + static_cast<double>(i) * step);
    return t;
}

Ticks log_ticks(double lo, double hi) {
    if (!(lo > 0.0) || !std::isfinite(lo) || !std::isfinite(hi)) lo = 0.1, hi = 10.0;
    if (hi < lo) std::swap(lo, hi);
    int e_lo = static_cast<int>(std::floor(std::log10(lo) + 1e-9));
    int e_hi = static_cast<int>(std::ceil(std::log10(hi) - 1e-9));
    if (e_hi <= e_lo) e_hi = e_lo + 1;
    Ticks t;
    t.lo = std::pow(10.0, e_lo);
    t.hi = std::pow(10.0, e_hi);
    t.step = 0.0;
    bool short_range = e_hi - e_lo <= 2;
    for (int e = e_lo; e <= e_hi; ++e) {
        double d = std::pow(10.0, e);
        t.values.push_back(d);
        if (short_range && e < e_hi) {
            t.values.push_back(2.0 * d);
            t.values.push_back(5.0 * d);
        }
    }
    return t;
}

std::string tick_label(double v, double step) {
    char buf[64];
    if (step <= 0.0) {
        // Log axis: plain decimals of a power of ten (0.001, 0.5, 100).
        std::snprintf(buf, sizeof buf, "%.10g", v);
        return buf;
    }
    if (std::fabs(v) < step * 1e-9) v = 0.0;
    int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    if (std::fabs(v) >= 1e7 || std::fabs(step) >= 1e7)
        std::snprintf(buf, sizeof buf, "%.3g", v);
    else
        std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s = buf;
    if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    // Use a true minus sign.
    if (!s.empty() && s[0] == '-') s = "\u2212" + s.substr(1);
    return s;
}

std::string fixed(double v, int decimals) {
    if (!std::isfinite(v)) return "\u2013";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s = buf;
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    if (!s.empty() && s[0] == '-') s = "\u2212" + s.substr(1);
    return s;
}

std::string html_escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control bytes cannot stand in an HTML page.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') out += "\xEF\xBF\xBD";
            else out += c;
        }
    }
    return out;
}

double Frame::px(double v) const {
    if (x_log) {
        double a = std::log10(x.lo), b = std::log10(x.hi);
        return left + (std::log10(v) - a) / (b - a) * width;
    }
    return left + (v - x.lo) / (x.hi - x.lo) * width;
}

double Frame::py(double v) const { return top + height - (v - y.lo) / (y.hi - y.lo) * height; }

void append_number(std::string& out, double v) {
    char buf[32];
    // Clamp far-off values so a clipped curve keeps sane coordinates.
    v = std::clamp(v, -1e6, 1e6);
    int n = std::snprintf(buf, sizeof buf, "%.1f", v);
    if (n >= 2 && buf[n - 1] == '0' && buf[n - 2] == '.') n -= 2;
    if (n == 2 && buf[0] == '-' && buf[1] == '0') {
        buf[0] = '0';
        n = 1;
    }
    out.append(buf, static_cast<std::size_t>(n));
}

namespace {

void line(std::string& svg, double x1, double y1, double x2, double y2, const char* css_class) {
    svg += "<line class=\"";
    svg += css_class;
    svg += "\" x1=\"";
    append_number(svg, x1);
    svg += "\" y1=\"";
    append_number(svg, y1);
    svg += "\" x2=\"";
    append_number(svg, x2);
    svg += "\" y2=\"";
    append_number(svg, y2);
    svg += "\"/>";
}

void text(std::string& svg, double x, double y, const char* anchor, const std::string& body,
          const char* extra = "") {
    svg += "<text x=\"";
    append_number(svg, x);
    svg += "\" y=\"";
    append_number(svg, y);
    svg += "\" text-anchor=\"";
    svg += anchor;
    svg += "\"";
    svg += extra;
    svg += ">";
    svg += body;
    svg += "</text>";
}

}  // namespace

void draw_axes(std::string& svg, const Frame& f, const std::string& x_title, const std::string& y_title) {
    svg += "<g class=\"axis\">";
    double bottom = f.top + f.height;
    double right = f.left + f.width;
    for (double v : f.x.values) {
        if (v < f.x.lo - 1e-12 * std::fabs(f.x.lo) || v > f.x.hi + 1e-12 * std::fabs(f.x.hi)) continue;
        double x = f.px(v);
        line(svg, x, f.top, x, bottom, "grid");
        line(svg, x, bottom, x, bottom + 6, "tick");
        text(svg, x, bottom + 22, "middle", tick_label(v, f.x.step));
    }
    if (f.x_log) {
        // Unlabelled minor ticks at 2..9 of every decade.
        for (double d = f.x.lo; d < f.x.hi * 0.999; d *= 10.0)
            for (int m = 2; m <= 9; ++m) {
                double x = f.px(d * m);
                line(svg, x, bottom, x, bottom + 4, "tick");
            }
    }
    for (double v : f.y.values) {
        double y = f.py(v);
        line(svg, f.left, y, right, y, "grid");
        line(svg, f.left - 6, y, f.left, y, "tick");
        text(svg, f.left - 9, y + 5, "end", tick_label(v, f.y.step));
    }
    svg += "<rect class=\"frame\" x=\"";
    append_number(svg, f.left);
    svg += "\" y=\"";
    append_number(svg, f.top);
    svg += "\" width=\"";
    append_number(svg, f.width);
    svg += "\" height=\"";
    append_number(svg, f.height);
    svg += "\"/>";
    text(svg, f.left + f.width / 2, bottom + 44, "middle", x_title, " class=\"axis-title\"");
    double cy = f.top + f.height / 2;
    std::string rotate = " class=\"axis-title\" transform=\"rotate(-90 ";
    std::string coords;
    append_number(coords, f.left - 62);
    coords += ' ';
    append_number(coords, cy);
    rotate += coords + ")\"";
    text(svg, f.left - 62, cy, "middle", y_title, rotate.c_str());
    svg += "</g>";
}

void draw_hline(std::string& svg, const Frame& f, double y, const std::string& css_class) {
    if (y < f.y.lo || y > f.y.hi) return;
    line(svg, f.left, f.py(y), f.left + f.width, f.py(y), css_class.c_str());
}

void draw_message(std::string& svg, const Frame& f, const std::string& message) {
    text(svg, f.left + f.width / 2, f.top + f.height / 2, "middle", html_escape(message), " class=\"no-data\"");
}

std::string curve_path(const Frame& f, const std::vector<PlotPoint>& points, bool break_on_backward,
                       double max_step) {
    std::string d;
    bool pen_down = false;
    double previous_x = 0.0;
    for (const PlotPoint& p : points) {
        if (is_break(p) || !std::isfinite(p.y)) {
            pen_down = false;
            continue;
        }
        if (pen_down && break_on_backward && (p.x < previous_x || p.x - previous_x > max_step)) pen_down = false;
        d += pen_down ? 'L' : 'M';
        append_number(d, f.px(p.x));
        d += ' ';
        append_number(d, f.py(p.y));
        pen_down = true;
        previous_x = p.x;
    }
    return d;
}

std::string band_path(const Frame& f, const std::vector<double>& x, const std::vector<double>& lower,
                      const std::vector<double>& upper, double max_step) {
    std::string d;
    std::size_t n = x.size();
    std::size_t i = 0;
    while (i < n) {
        auto usable = [&](std::size_t k) {
            return std::isfinite(x[k]) && std::isfinite(lower[k]) && std::isfinite(upper[k]);
        };
        if (!usable(i)) {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < n && usable(j) && x[j] >= x[j - 1] && x[j] - x[j - 1] <= max_step) ++j;
        // Piece [i, j): upper edge forward, lower edge back. A single interval
        // gets a narrow bar so it still shows.
        double half = j - i == 1 ? 2.0 : 0.0;
        for (std::size_t k = i; k < j; ++k) {
            d += k == i ? 'M' : 'L';
            append_number(d, f.px(x[k]) - (k == i ? half : 0.0));
            d += ' ';
            append_number(d, f.py(upper[k]));
            if (half > 0.0) {
                d += 'L';
                append_number(d, f.px(x[k]) + half);
                d += ' ';
                append_number(d, f.py(upper[k]));
            }
        }
        for (std::size_t k = j; k-- > i;) {
            d += 'L';
            append_number(d, f.px(x[k]) + (k == i ? half : 0.0));
            d += ' ';
            append_number(d, f.py(lower[k]));
            if (half > 0.0) {
                d += 'L';
                append_number(d, f.px(x[k]) - half);
                d += ' ';
                append_number(d, f.py(lower[k]));
            }
        }
        d += 'Z';
        i = j;
    }
    return d;
}

}  // namespace flux_report
