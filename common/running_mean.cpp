#include "running_mean.h"

#include <algorithm>
#include <limits>

namespace flux {

namespace {

// Mean of the window of every position, by the general walk: the window's
// upper end grows until it meets n, its lower end follows W behind; the new
// value is added before the old one is taken away. Used when n < W.
void clipped_walk(const double* v, std::int32_t n, std::int32_t w, double* r) {
    const std::int64_t h = w / 2;
    double s = 0.0;
    std::int64_t hi = std::min<std::int64_t>(n, 1 + h);
    for (std::int64_t j = 1; j <= hi; ++j) s = s + v[j - 1];
    std::int64_t lo = 1;
    r[0] = s / static_cast<double>(hi - lo + 1);
    for (std::int64_t k = 2; k <= n; ++k) {
        std::int64_t new_hi = std::min<std::int64_t>(n, k + h);
        std::int64_t new_lo = std::max<std::int64_t>(1, k + h - w + 1);
        if (new_hi > hi) s = s + v[new_hi - 1];
        if (new_lo > lo) s = s - v[lo - 1];
        hi = new_hi;
        lo = new_lo;
        r[k - 1] = s / static_cast<double>(hi - lo + 1);
    }
}

}  // namespace

void running_mean(const double* v, std::int32_t n, std::int32_t w, double* r) {
    if (n <= 0) return;
    if (w < 1) {
        for (std::int32_t k = 0; k < n; ++k) r[k] = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    if (n < w) return clipped_walk(v, n, w, r);
    const std::int32_t h = w / 2;
    double s = 0.0;
    // Head.
    for (std::int32_t j = 1; j <= h + 1; ++j) s = s + v[j - 1];
    r[0] = s / static_cast<double>(h + 1);
    // Growth.
    for (std::int32_t j = h + 2; j <= w; ++j) {
        s = s + v[j - 1];
        r[j - h - 1] = s / static_cast<double>(j);
    }
    // Steady part: new value in before the old one out.
    const double full = static_cast<double>(w);
    for (std::int32_t j = w + 1; j <= n; ++j) {
        s = (s + v[j - 1]) - v[j - w - 1];
        r[j - h - 1] = s / full;
    }
    // Tail.
    for (std::int32_t q = 1; q <= h; ++q) {
        s = s - v[n - w + q - 1];
        r[n - h + q - 1] = s / static_cast<double>(w - q);
    }
}

void running_mean_pair(const double* a, const double* b, std::int32_t n, std::int32_t w, double* ra, double* rb) {
    running_mean(a, n, w, ra);
    running_mean(b, n, w, rb);
}

}  // namespace flux
