// Centred running mean, cut at the series' ends, with one running sum.
//
// The window of position k (1-based) is max(1, k+h-W+1) .. min(n, k+h) with
// h = W/2: for odd W, h samples each side; for even W, h-1 before and h after.
// The running sum S goes through four stages in a fixed order, because its
// rounding carries along the series and shows in the results:
//   head    S = v1 + ... + v(h+1)                 r1 = S/(h+1)
//   growth  j = h+2..W:   S = S + vj              r(j-h) = S/j
//   steady  j = W+1..n:   S = (S + vj) - v(j-W)   r(j-h) = S/W
//   tail    q = 1..h:     S = S - v(n-W+q)        r(n-h+q) = S/(W-q)
// Example, W = 4 over v = 1..6: r = 2, 2.5, 3.5, 4.5, 5, 5.5.
//
// W < 1 gives NaN at every position. n < W gives each position the mean of
// its window clipped to 1..n, by the same add-then-subtract walk.
#pragma once

#include <cstdint>

namespace flux {

// values and means hold n elements (0-based storage of positions 1..n).
void running_mean(const double* values, std::int32_t n, std::int32_t window, double* means);

// Two series of equal length through one sweep; same results as two calls.
void running_mean_pair(const double* a, const double* b, std::int32_t n, std::int32_t window, double* mean_a,
                       double* mean_b);

}  // namespace flux
