#include "flux_estimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace flux;

TEST(ShiftedSums, EqualPlainLoopBitForBit) {
    std::mt19937_64 rng(11);
    std::normal_distribution<double> g;
    for (double rate : {64.0, 10.5, 8.0, 3.0}) {
        for (int n : {2, 3, 50, 1000}) {
            std::vector<double> a(static_cast<std::size_t>(n)), b(static_cast<std::size_t>(n));
            for (auto& v : a) v = g(rng) * 0.01;
            for (auto& v : b) v = g(rng) * 5.0;
            const int max_lag = std::min(static_cast<int>(std::trunc(2.0 * rate)), n - 1);
            std::vector<double> fast(static_cast<std::size_t>(max_lag) + 1);
            shifted_sums(a.data(), b.data(), n, max_lag, make_rate_divider(rate), fast.data());
            for (int k = 1; k <= max_lag; ++k) {
                double s = 0.0;
                for (int i = 0; i + k < n; ++i) s = s + a[static_cast<std::size_t>(i)] * b[static_cast<std::size_t>(i + k)] / rate;
                ASSERT_EQ(fast[static_cast<std::size_t>(k)], s) << "rate " << rate << " n " << n << " lag " << k;
            }
        }
    }
}

TEST(RateDivision, PowerOfTwoRatesMultiplyOthersDivide) {
    EXPECT_TRUE(make_rate_divider(64.0).exact_inverse);
    EXPECT_TRUE(make_rate_divider(1.0).exact_inverse);
    EXPECT_FALSE(make_rate_divider(10.5).exact_inverse);
    EXPECT_FALSE(make_rate_divider(48.0).exact_inverse);
    std::mt19937_64 rng(5);
    RateDivider r = make_rate_divider(64.0);
    for (int i = 0; i < 100000; ++i) {
        std::uint64_t bits = rng();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (std::isnan(x)) continue;
        ASSERT_EQ(per_rate(x, r), x / 64.0) << std::hexfloat << x;
    }
}

namespace {

struct Interval {
    IntervalSeries series;
    IntervalSums sums;
    void add(double t, double x, double y, double z, double o2) {
        series.time.push_back(t);
        series.x.push_back(x);
        series.y.push_back(y);
        series.z.push_back(z);
        series.oxygen.push_back(o2);
        series.speed.push_back(std::sqrt(x * x + y * y));
        sums.time += t;
        sums.x += x;
        sums.y += y;
        sums.z += z;
        sums.oxygen += o2;
        ++sums.count;
    }
};

}  // namespace

TEST(EstimateFluxes, ExtremesStartAtLagZeroEveryInterval) {
    // Constant vertical velocity (exact in binary, so every mean is exact):
    // every flux of every lag is zero, so lag 0
    // wins every tie and all shift times are zero, whatever came before.
    const int n = 40;
    const double rate = 8.0;
    Interval iv;
    for (int i = 0; i < n; ++i) iv.add(1.0 + i / (rate * 3600.0), 0.01, 0.02, 0.25, 250.0 + std::sin(i));
    IntervalStats stats;
    form_interval_means(iv.sums, n, stats);
    FluxWorkspace ws;
    size_flux_workspace(ws, n, rate, 4);
    EXPECT_EQ(ws.max_lag, 16);
    char path[] = "/tmp/cumflux_XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    CumulativeFile cum{open_for_writing(path, 43)};
    IntervalFluxes f = estimate_fluxes(iv.series, stats, ws, cum);
    EXPECT_EQ(f.best_running_lag, 0);
    EXPECT_EQ(f.shift_lin_min, 0.0);
    EXPECT_EQ(f.shift_run_max, 0.0);
    EXPECT_EQ(f.lin_min, f.flux_linear);
    EXPECT_EQ(f.run_max, f.flux_running);
    EXPECT_EQ(f.flux_mean, 0.0);

    // O2 follows w three samples later: the running-mean flux is most
    // negative at lag 3 (shift -3/8 s) when O2 = -w.
    std::mt19937_64 rng(1);
    std::normal_distribution<double> g;
    std::vector<double> w(n);
    for (auto& v : w) v = g(rng) * 0.01;
    Interval trailing;
    for (int i = 0; i < n; ++i)
        trailing.add(1.0 + i / (rate * 3600.0), 0.01, 0.02, w[static_cast<std::size_t>(i)],
                     250.0 - 100.0 * w[static_cast<std::size_t>(i >= 3 ? i - 3 : 0)]);
    form_interval_means(trailing.sums, n, stats);
    IntervalFluxes g3 = estimate_fluxes(trailing.series, stats, ws, cum);
    EXPECT_EQ(g3.best_running_lag, 3);
    EXPECT_EQ(g3.shift_run_min, -3.0 / 8.0);
    flush_all();
    unlink(path);
}
