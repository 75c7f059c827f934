// Interval statistics: means, the magnitude and direction of the mean
// horizontal current, and the variances behind the standard deviations.
#pragma once

#include <cstdint>

#include "interval_series.h"

namespace flux {

struct IntervalStats {
    double interval_mean_time = 0.0;  // hours
    double mean_x = 0.0, mean_y = 0.0, mean_z = 0.0;  // m/s
    double mean_o2 = 0.0;                              // uM
    double mag = 0.0;  // m/s, length of the mean horizontal vector
    double dir = 0.0;  // degrees from +y toward +x, 0 up to 360; NaN when the mean is (0, 0)
    // Deviation sums, then variances (divisor N - 1).
    double sum_dz2 = 0.0, sum_dspeed2 = 0.0, sum_do2 = 0.0;
    double var_z = 0.0, var_speed = 0.0, var_o2 = 0.0;
};

// Means from the reading sums, magnitude and direction.
// Examples of the direction: mean (1, 1) -> 45, (1, -1) -> 135, (-1, -1) -> 225,
// (-1, 1) -> 315, (1, 0) -> 90, (0, -1) -> 180.
void form_interval_means(const IntervalSums& sums, std::int32_t n, IntervalStats& stats);

// Direction of the vector (mean_x, mean_y), measured from +y toward +x.
double direction_degrees(double mean_x, double mean_y);

// Adds sample i's squared deviations (z, speed about mag, O2).
inline void accumulate_deviations(IntervalStats& s, double z, double speed, double oxygen) {
    double dz = z - s.mean_z;
    double ds = speed - s.mag;
    double d_o = oxygen - s.mean_o2;
    s.sum_dz2 = s.sum_dz2 + dz * dz;
    s.sum_dspeed2 = s.sum_dspeed2 + ds * ds;
    s.sum_do2 = s.sum_do2 + d_o * d_o;
}

void finish_variances(std::int32_t n, IntervalStats& stats);

}  // namespace flux
