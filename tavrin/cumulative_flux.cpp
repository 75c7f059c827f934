#include "cumulative_flux.h"

namespace flux {

namespace {

constexpr std::size_t ROW_WIDTH = 65;

inline void put_row(OutputFile* file, double t, double total, double p, double z_prime, double o2_prime) {
    char* rec = record_space(file, ROW_WIDTH);
    const double values[5] = {t, total, p, z_prime, o2_prime};
    for (int f = 0; f < 5; ++f) {
        rec[13 * f] = ' ';
        render_fixed(rec + 13 * f + 1, values[f], 12, 8);
    }
    end_record(file, rec + ROW_WIDTH);
}

}  // namespace

void write_cumulative_heading(OutputFile* file) {
    write_free(file, {free_text("        TIME      CUMFLUX        COVAR       ZPRIME      O2PRIME")});
}

void write_cumflux_row(CumulativeFile& cum, double t, double p, double z_prime, double o2_prime,
                       const RateDivider& rate) {
    cum.cumulative_flux = cum.cumulative_flux + per_rate(p, rate);
    put_row(cum.file, t, cum.cumulative_flux, p, z_prime, o2_prime);
}

void write_shifted_rows(CumulativeFile& cum, const double* time, const double* zr, const double* orun,
                        std::int32_t n, std::int32_t lag, const RateDivider& rate) {
    for (std::int32_t i = 0; i + lag < n; ++i) {
        double p = zr[i] * orun[i + lag];
        cum.cumulative_flux = cum.cumulative_flux + per_rate(p, rate);
        put_row(cum.file, time[i], cum.cumulative_flux, p, zr[i], orun[i + lag]);
    }
}

}  // namespace flux
