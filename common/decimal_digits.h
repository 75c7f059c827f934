// 128-bit helpers of the fixed-point renderer: powers of ten and digit output.
#pragma once

#include <cstdint>
#include <cstring>

namespace flux {

using u128 = unsigned __int128;

// Largest d the 128-bit path handles: m < 2^53 and 10^22 < 2^74, so
// m * 10^d < 2^127 and the scaled value always fits.
constexpr int MAX_FAST_DECIMALS = 22;

constexpr u128 pow10_u128(int d) {
    u128 p = 1;
    for (int i = 0; i < d; ++i) p *= 10;
    return p;
}

inline constexpr u128 POW10_128[MAX_FAST_DECIMALS + 1] = {
    pow10_u128(0),  pow10_u128(1),  pow10_u128(2),  pow10_u128(3),  pow10_u128(4),  pow10_u128(5),
    pow10_u128(6),  pow10_u128(7),  pow10_u128(8),  pow10_u128(9),  pow10_u128(10), pow10_u128(11),
    pow10_u128(12), pow10_u128(13), pow10_u128(14), pow10_u128(15), pow10_u128(16), pow10_u128(17),
    pow10_u128(18), pow10_u128(19), pow10_u128(20), pow10_u128(21), pow10_u128(22)};

// Number of leading zero bits of x (128 for zero).
static inline int count_leading_zeros_128(u128 x) {
    auto hi = static_cast<std::uint64_t>(x >> 64);
    auto lo = static_cast<std::uint64_t>(x);
    if (hi != 0) return __builtin_clzll(hi);
    if (lo != 0) return 64 + __builtin_clzll(lo);
    return 128;
}

// Writes the decimal digits of x (< 10^20) right-aligned ending at end; returns the count.
static inline int u64_digits_backward(std::uint64_t x, char* end) {
    static constexpr char PAIRS[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char* p = end;
    while (x >= 100) {
        unsigned r = static_cast<unsigned>(x % 100);
        x /= 100;
        p -= 2;
        std::memcpy(p, PAIRS + 2 * r, 2);
    }
    if (x >= 10) {
        p -= 2;
        std::memcpy(p, PAIRS + 2 * x, 2);
    } else if (x > 0) {
        *--p = static_cast<char>('0' + x);
    }
    return static_cast<int>(end - p);
}

// Writes the decimal digits of x into out (at least 40 bytes), no leading
// zeros; returns the count, 0 for x = 0.
static inline int u128_to_digits(u128 x, char* out) {
    char tmp[48];
    char* end = tmp + sizeof tmp;
    char* p = end;
    constexpr std::uint64_t E19 = 10000000000000000000ULL;
    while (x > static_cast<u128>(~std::uint64_t{0})) {
        auto chunk = static_cast<std::uint64_t>(x % E19);
        x /= E19;
        int n = u64_digits_backward(chunk, p);
        p -= n;
        while (n++ < 19) *--p = '0';
    }
    p -= u64_digits_backward(static_cast<std::uint64_t>(x), p);
    int count = static_cast<int>(end - p);
    std::memcpy(out, p, static_cast<std::size_t>(count));
    return count;
}

}  // namespace flux
