// Division by the sample rate, the most frequent division of the flux step.
//
// When the rate is a power of two whose reciprocal is a normal number,
// x / f and x * (1 / f) denote the same real number, so the correctly
// rounded results are identical for every x (subnormal results included);
// the multiplication is then used. Any other rate divides.
#pragma once

#include <cmath>

namespace flux {

struct RateDivider {
    double rate = 1.0;
    double inverse = 1.0;
    bool exact_inverse = false;
};

inline RateDivider make_rate_divider(double f) {
    RateDivider r;
    r.rate = f;
    int exponent = 0;
    double mantissa = std::frexp(f, &exponent);
    r.exact_inverse = std::isfinite(f) && mantissa == 0.5 && exponent <= 1022 && exponent >= -1020;
    r.inverse = r.exact_inverse ? 1.0 / f : 0.0;
    return r;
}

inline double per_rate(double x, const RateDivider& r) { return r.exact_inverse ? x * r.inverse : x / r.rate; }

}  // namespace flux
