#include "flux_estimation.h"

#include <algorithm>
#include <cmath>

#include "running_mean.h"

namespace flux {

void size_flux_workspace(FluxWorkspace& ws, std::int32_t n, double rate, std::int32_t running_window) {
    ws.n = n;
    ws.rate = rate;
    ws.divider = make_rate_divider(rate);
    ws.running_window = running_window;
    // Lags of n or more have no sample pairs: they are not formed.
    double lags = std::trunc(SHIFT_RANGE_SECONDS * rate);
    ws.max_lag = static_cast<std::int32_t>(std::min<double>(lags, n - 1));
    const auto size = static_cast<std::size_t>(n);
    for (auto* v : {&ws.z_running_mean, &ws.o2_running_mean, &ws.z_prime_mean, &ws.o2_prime_mean,
                    &ws.z_prime_linear, &ws.o2_prime_linear, &ws.z_prime_running, &ws.o2_prime_running})
        v->assign(size, 0.0);
    const auto lags_size = static_cast<std::size_t>(ws.max_lag) + 1;
    for (auto* v : {&ws.lag_sum_linear, &ws.lag_sum_running, &ws.flux_linear_by_lag, &ws.flux_running_by_lag})
        v->assign(lags_size, 0.0);
}

// Vectorised across lags: for every i the products with the next max_lag O2
// values go to their own sums, so each sum still adds in ascending i.
__attribute__((target_clones("avx512f", "avx2", "default")))
void shifted_sums(const double* a, const double* b, std::int32_t n, std::int32_t max_lag, const RateDivider& rate,
                  double* sums) {
    for (std::int32_t k = 1; k <= max_lag; ++k) sums[k] = 0.0;
    const double f = rate.rate, inverse = rate.inverse;
    double* s = sums + 1;
    for (std::int32_t i = 0; i < n; ++i) {
        const double ai = a[i];
        const double* next = b + i + 1;
        const std::int32_t lags = std::min(max_lag, n - 1 - i);
        if (rate.exact_inverse) {
            for (std::int32_t k = 0; k < lags; ++k) s[k] = s[k] + (ai * next[k]) * inverse;
        } else {
            for (std::int32_t k = 0; k < lags; ++k) s[k] = s[k] + (ai * next[k]) / f;
        }
    }
}

IntervalFluxes estimate_fluxes(const IntervalSeries& series, IntervalStats& stats, FluxWorkspace& ws,
                               CumulativeFile& cumflux) {
    const std::int32_t n = ws.n;
    const double f = ws.rate;
    const RateDivider& rate = ws.divider;
    const double* t = series.time.data();
    const double* z = series.z.data();
    const double* o2 = series.oxygen.data();

    // 1. Running means of z and O2, centred, cut at the interval's ends.
    running_mean_pair(z, o2, n, ws.running_window, ws.z_running_mean.data(), ws.o2_running_mean.data());

    // 2. One pass for the deviation sums of the statistics and the sums of
    //    the least-squares lines against time (hours).
    const double t_mean = stats.interval_mean_time, z_mean = stats.mean_z, o2_mean = stats.mean_o2;
    double s_tt = 0.0, s_tz = 0.0, s_to = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        accumulate_deviations(stats, z[i], series.speed[static_cast<std::size_t>(i)], o2[i]);
        const double dt = t[i] - t_mean;
        s_tt = s_tt + dt * dt;
        s_tz = s_tz + dt * (z[i] - z_mean);
        s_to = s_to + dt * (o2[i] - o2_mean);
    }
    finish_variances(n, stats);
    const double b_z = s_tz / s_tt;
    const double b_o = s_to / s_tt;
    const double a_z = z_mean - b_z * t_mean;
    // The O2 intercept is held in single precision.
    const float a_o = static_cast<float>(o2_mean - b_o * t_mean);

    // 3. Fluctuations of the three kinds.
    for (std::int32_t i = 0; i < n; ++i) {
        ws.z_prime_mean[i] = z[i] - z_mean;
        ws.o2_prime_mean[i] = o2[i] - o2_mean;
        ws.z_prime_linear[i] = z[i] - (b_z * t[i] + a_z);
        ws.o2_prime_linear[i] = o2[i] - (b_o * t[i] + static_cast<double>(a_o));
        ws.z_prime_running[i] = z[i] - ws.z_running_mean[i];
        ws.o2_prime_running[i] = o2[i] - ws.o2_running_mean[i];
    }

    // 4. Zero-lag fluxes; every sample's running-mean product goes to cumflux.out.
    double s_mean = 0.0, s_lin = 0.0, s_run = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const double p_mean = ws.z_prime_mean[i] * ws.o2_prime_mean[i];
        const double p_lin = ws.z_prime_linear[i] * ws.o2_prime_linear[i];
        const double p_run = ws.z_prime_running[i] * ws.o2_prime_running[i];
        s_mean = s_mean + per_rate(p_mean, rate);
        s_lin = s_lin + per_rate(p_lin, rate);
        s_run = s_run + per_rate(p_run, rate);
        write_cumflux_row(cumflux, t[i], p_run, ws.z_prime_running[i], ws.o2_prime_running[i], rate);
    }
    const double duration = static_cast<double>(n) / f;
    IntervalFluxes out;
    out.flux_mean = s_mean / duration * SECONDS_PER_DAY;
    out.flux_linear = s_lin / duration * SECONDS_PER_DAY;
    out.flux_running = s_run / duration * SECONDS_PER_DAY;
    ws.lag_sum_linear[0] = s_lin;
    ws.lag_sum_running[0] = s_run;
    ws.flux_linear_by_lag[0] = out.flux_linear;
    ws.flux_running_by_lag[0] = out.flux_running;

    // 5. Shifted fluxes: O2 of sample i + k against the velocity of sample i,
    //    over the n - k pairs.
    const std::int32_t max_lag = ws.max_lag;
    shifted_sums(ws.z_prime_linear.data(), ws.o2_prime_linear.data(), n, max_lag, rate, ws.lag_sum_linear.data());
    shifted_sums(ws.z_prime_running.data(), ws.o2_prime_running.data(), n, max_lag, rate,
                 ws.lag_sum_running.data());
    for (std::int32_t k = 1; k <= max_lag; ++k) {
        const double covered = static_cast<double>(n - k) / f;
        ws.flux_linear_by_lag[k] = ws.lag_sum_linear[k] / covered * SECONDS_PER_DAY;
        ws.flux_running_by_lag[k] = ws.lag_sum_running[k] / covered * SECONDS_PER_DAY;
    }

    // 6. Extremes over the shifts; strict tests, so the smallest lag wins ties.
    out.lin_min = out.lin_max = out.flux_linear;
    out.run_min = out.run_max = out.flux_running;
    for (std::int32_t k = 1; k <= max_lag; ++k) {
        const double shift = -(static_cast<double>(k) / f);
        if (ws.flux_linear_by_lag[k] < out.lin_min) {
            out.lin_min = ws.flux_linear_by_lag[k];
            out.shift_lin_min = shift;
        }
        if (ws.flux_running_by_lag[k] < out.run_min) {
            out.run_min = ws.flux_running_by_lag[k];
            out.shift_run_min = shift;
            out.best_running_lag = k;
        }
    }
    for (std::int32_t k = 1; k <= max_lag; ++k) {
        const double shift = -(static_cast<double>(k) / f);
        if (ws.flux_linear_by_lag[k] > out.lin_max) {
            out.lin_max = ws.flux_linear_by_lag[k];
            out.shift_lin_max = shift;
        }
        if (ws.flux_running_by_lag[k] > out.run_max) {
            out.run_max = ws.flux_running_by_lag[k];
            out.shift_run_max = shift;
        }
    }
    return out;
}

}  // namespace flux
