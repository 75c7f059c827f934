// The samples of the interval being processed and the sums formed while
// reading them. Sized once at start-up for the configured interval length.
#pragma once

#include <cstdint>
#include <vector>

namespace flux {

constexpr std::int32_t MAX_INTERVAL_SAMPLES = 1000000;

struct IntervalSeries {
    std::vector<double> time;    // hours, as read
    std::vector<double> x;       // m/s
    std::vector<double> y;       // m/s
    std::vector<double> z;       // m/s, the selected vertical velocity
    std::vector<double> oxygen;  // uM, the selected O2
    std::vector<double> speed;   // m/s, horizontal speed of each sample
};

// Sums of the accepted samples, each in ascending sample order from 0.0.
struct IntervalSums {
    double time = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double oxygen = 0.0;
    std::int32_t count = 0;
};

inline void size_interval_series(IntervalSeries& s, std::int32_t n) {
    for (auto* v : {&s.time, &s.x, &s.y, &s.z, &s.oxygen, &s.speed}) v->assign(static_cast<std::size_t>(n), 0.0);
}

}  // namespace flux
