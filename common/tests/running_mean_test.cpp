#include "running_mean.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using flux::running_mean;

namespace {

// Mean of the clipped window of every position, summed afresh (no running sum).
std::vector<double> window_means(const std::vector<double>& v, int w) {
    int n = static_cast<int>(v.size()), h = w / 2;
    std::vector<double> r(v.size());
    for (int k = 1; k <= n; ++k) {
        int lo = std::max(1, k + h - w + 1), hi = std::min(n, k + h);
        double s = 0;
        for (int j = lo; j <= hi; ++j) s += v[j - 1];
        r[k - 1] = s / (hi - lo + 1);
    }
    return r;
}

std::vector<double> run(const std::vector<double>& v, int w) {
    std::vector<double> r(v.size());
    running_mean(v.data(), static_cast<int>(v.size()), w, r.data());
    return r;
}

}  // namespace

TEST(RunningMean, WindowsOnIntegers) {
    // Small integers keep every sum exact, so the window of each position shows.
    std::vector<double> v = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(run(v, 4), (std::vector<double>{2, 2.5, 3.5, 4.5, 5, 5.5}));
    EXPECT_EQ(run(v, 3), (std::vector<double>{1.5, 2, 3, 4, 5, 5.5}));
    EXPECT_EQ(run(v, 1), v);
    // W = n: only position h is the mean of everything (even n).
    EXPECT_EQ(run(v, 6), (std::vector<double>{2.5, 3, 3.5, 4, 4.5, 5}));
    for (int w : {1, 2, 3, 4, 5, 6}) EXPECT_EQ(run(v, w), window_means(v, w)) << w;
}

TEST(RunningMean, StagesCarryTheRoundingOfTheRunningSum) {
    // Reproduce the four stages by hand on values whose sums round.
    std::vector<double> v = {0.1, 0.7, 1e16, 0.3, -1e16, 0.2, 0.9, 0.4};
    const int w = 4, h = 2, n = 8;
    std::vector<double> want(n);
    double s = 0.0;
    for (int j = 1; j <= h + 1; ++j) s = s + v[j - 1];
    want[0] = s / (h + 1);
    for (int j = h + 2; j <= w; ++j) { s = s + v[j - 1]; want[j - h - 1] = s / j; }
    for (int j = w + 1; j <= n; ++j) { s = (s + v[j - 1]) - v[j - w - 1]; want[j - h - 1] = s / w; }
    for (int q = 1; q <= h; ++q) { s = s - v[n - w + q - 1]; want[n - h + q - 1] = s / (w - q); }
    EXPECT_EQ(run(v, w), want);
    EXPECT_NE(run(v, w), window_means(v, w));  // the carried rounding shows
}

TEST(RunningMean, DegenerateWindows) {
    std::vector<double> v = {1, 2, 3};
    for (int w : {0, -5}) {
        for (double r : run(v, w)) EXPECT_TRUE(std::isnan(r));
    }
    // Series shorter than the window: the plain mean of the clipped window.
    for (int w : {4, 5, 9}) EXPECT_EQ(run(v, w), window_means(v, w)) << w;
    std::vector<double> one = {7};
    EXPECT_EQ(run(one, 3), one);
}

TEST(RunningMean, PairEqualsTwoCalls) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> g;
    std::vector<double> a(1000), b(1000), ra(1000), rb(1000);
    for (auto& x : a) x = g(rng);
    for (auto& x : b) x = 250 + g(rng);
    flux::running_mean_pair(a.data(), b.data(), 1000, 37, ra.data(), rb.data());
    EXPECT_EQ(ra, run(a, 37));
    EXPECT_EQ(rb, run(b, 37));
}
