// Small pieces for drawing charts as inline SVG text: value ranges, nice tick
// values, a plot frame that maps data to page units, axes with ticks and
// labels, and curves and bands as path data.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "thinning.h"

namespace flux_report {

struct Range {
    double lo = 0.0, hi = 0.0;
    bool any = false;
    void include(double v);  // non-finite values are ignored
    void include(const Range& other);
};

// Tick values for a linear axis: steps of 1, 2 or 5 times a power of ten,
// about `wanted` of them, the ends widened to whole steps.
struct Ticks {
    double lo, hi, step;
    std::vector<double> values;
};
Ticks linear_ticks(double lo, double hi, int wanted);
// Decades (and 2 and 5 in between when the range is short) for a log axis.
Ticks log_ticks(double lo, double hi);

// A value as a tick label: as many decimals as the step needs, no "-0".
std::string tick_label(double v, double step);
// A number for a table or note, with the given decimals; "–" when not finite.
std::string fixed(double v, int decimals);

std::string html_escape(std::string_view text);

struct Frame {
    double left, top, width, height;  // plot area in page units
    Ticks x, y;
    bool x_log = false;
    double px(double x) const;
    double py(double y) const;
};

// Grid, tick marks, tick labels and the two axis titles.
void draw_axes(std::string& svg, const Frame& f, const std::string& x_title, const std::string& y_title);
// A horizontal line at y across the frame (if y is inside it).
void draw_hline(std::string& svg, const Frame& f, double y, const std::string& css_class);
// A message in the middle of the frame (for a panel with nothing to draw).
void draw_message(std::string& svg, const Frame& f, const std::string& text);

constexpr double NO_STEP_LIMIT = 1e300;

// Path data ("M x y L x y ...") for points in order. A break point starts a
// new piece; so does, with break_on_backward, a point left of its predecessor
// or one more than max_step to its right (a gap in the record is not bridged).
std::string curve_path(const Frame& f, const std::vector<PlotPoint>& points, bool break_on_backward,
                       double max_step = NO_STEP_LIMIT);
// Closed band pieces between lower and upper bounds over x; a piece ends where
// a bound is missing (NaN), x goes backwards or steps more than max_step.
std::string band_path(const Frame& f, const std::vector<double>& x, const std::vector<double>& lower,
                      const std::vector<double>& upper, double max_step = NO_STEP_LIMIT);

void append_number(std::string& out, double v);  // one decimal, for coordinates

}  // namespace flux_report
