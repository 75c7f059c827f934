// The two cumulative flux files: one row per velocity sample with the product
// of the running-mean fluctuations and a run-long cumulative sum of the
// products divided by the sample rate.
//   cumflux.out       pairs velocity sample i with O2 sample i
//   cumfluxSHIFT.out  pairs velocity sample i with O2 sample i + k, k the
//                     lag of the interval's smallest running-mean flux
// Row layout 1X,F12.8 five times: TIME, CUMFLUX, COVAR, ZPRIME, O2PRIME.
#pragma once

#include <cstdint>

#include "rate_division.h"
#include "text_records.h"

namespace flux {

struct CumulativeFile {
    OutputFile* file = nullptr;
    double cumulative_flux = 0.0;  // never reset: runs across intervals
};

void write_cumulative_heading(OutputFile* file);

// Extends the total by p / f and writes (t, total, p, z', o2').
void write_cumflux_row(CumulativeFile& cum, double t, double p, double z_prime, double o2_prime,
                       const RateDivider& rate);

// Rows i = 1..n-k of the shifted file for one interval (arrays 0-based).
void write_shifted_rows(CumulativeFile& cum, const double* time, const double* z_prime_running,
                        const double* o2_prime_running, std::int32_t n, std::int32_t lag, const RateDivider& rate);

}  // namespace flux
