#include "interval_stats.h"

#include <limits>

#include "text_records.h"

namespace flux {

double direction_degrees(double mean_x, double mean_y) {
    // A zero mean vector has no direction; the run goes on with NaN.
    if (mean_x == 0.0 && mean_y == 0.0) return std::numeric_limits<double>::quiet_NaN();
    const double pi = checked_acos(-1.0);
    double d = checked_atan(mean_x / mean_y) / pi * 180.0;
    if (mean_y > 0.0) return mean_x >= 0.0 ? d : d + 360.0;
    if (mean_y < 0.0) return d + 180.0;
    return mean_x > 0.0 ? 90.0 : 270.0;
}

void form_interval_means(const IntervalSums& sums, std::int32_t n, IntervalStats& s) {
    const double count = static_cast<double>(n);
    s = IntervalStats{};
    s.interval_mean_time = sums.time / count;
    s.mean_x = sums.x / count;
    s.mean_y = sums.y / count;
    s.mean_z = sums.z / count;
    s.mean_o2 = sums.oxygen / count;
    s.mag = checked_sqrt(s.mean_x * s.mean_x + s.mean_y * s.mean_y);
    s.dir = direction_degrees(s.mean_x, s.mean_y);
}

void finish_variances(std::int32_t n, IntervalStats& s) {
    const double divisor = static_cast<double>(n) - 1.0;
    s.var_z = s.sum_dz2 / divisor;
    s.var_speed = s.sum_dspeed2 / divisor;
    s.var_o2 = s.sum_do2 / divisor;
}

}  // namespace flux
