// Flux estimation of one interval: the vertical-velocity and O2 series are
// detrended three ways (interval mean, least-squares line against time,
// centred running mean), their zero-lag covariances become fluxes in
// mmol m-2 d-1, and the linear and running-mean fluxes are repeated with the
// O2 series shifted up to two seconds later, keeping the extremes.
#pragma once

#include <cstdint>
#include <vector>

#include "cumulative_flux.h"
#include "interval_series.h"
#include "interval_stats.h"
#include "rate_division.h"

namespace flux {

constexpr double SECONDS_PER_DAY = 86400.0;
constexpr double SHIFT_RANGE_SECONDS = 2.0;

struct IntervalFluxes {
    double flux_mean = 0.0;     // console only
    double flux_linear = 0.0;   // FLUX-L
    double flux_running = 0.0;  // FLUX-R
    double lin_min = 0.0, run_min = 0.0, lin_max = 0.0, run_max = 0.0;
    double shift_lin_min = 0.0, shift_run_min = 0.0, shift_lin_max = 0.0, shift_run_max = 0.0;  // seconds, <= 0
    std::int32_t best_running_lag = 0;  // lag of run_min, samples
};

// Everything derived once from the settings, and the per-interval series and
// per-lag tables, all sized once.
struct FluxWorkspace {
    std::int32_t n = 0;               // samples per interval
    double rate = 0.0;                // Hz
    RateDivider divider;
    std::int32_t running_window = 0;  // samples
    std::int32_t max_lag = 0;         // lags with sample pairs: min(trunc(2 f), n - 1)
    std::vector<double> z_running_mean, o2_running_mean;
    std::vector<double> z_prime_mean, o2_prime_mean;
    std::vector<double> z_prime_linear, o2_prime_linear;
    std::vector<double> z_prime_running, o2_prime_running;
    std::vector<double> lag_sum_linear, lag_sum_running;  // index k = 0..max_lag
    std::vector<double> flux_linear_by_lag, flux_running_by_lag;
};

void size_flux_workspace(FluxWorkspace& ws, std::int32_t n, double rate, std::int32_t running_window);

// Runs the whole step for one interval whose means are in stats: running
// means, the deviation pass (which also completes the variances of stats),
// trend lines, fluctuations, the zero-lag pass writing the rows of
// cumflux.out, the shifted fluxes and their extremes.
IntervalFluxes estimate_fluxes(const IntervalSeries& series, IntervalStats& stats, FluxWorkspace& ws,
                               CumulativeFile& cumflux);

// Lag sums S[k] = sum over i = 1..n-k of a_i * b_(i+k) / f for k = 1..max_lag,
// each in ascending i. Exposed for the test that compares it with a plain loop.
void shifted_sums(const double* a, const double* b, std::int32_t n, std::int32_t max_lag, const RateDivider& rate,
                  double* sums);

}  // namespace flux
