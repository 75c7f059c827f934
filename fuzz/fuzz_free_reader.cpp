// Free-form reading of arbitrary bytes. Besides crashes, the values read are
// checked against a plain reference whenever every record holds only blanks
// and number characters, so that a misplaced record boundary or a wrong
// conversion shows up as a mismatch.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "memory_input.h"

namespace {

bool simple_text(std::string_view s) {
    for (char c : s)
        if (!std::strchr("0123456789.+-eEdDqQ \t\r\n", c) || c == '\0') return false;
    return true;
}

// Strict number: sign, digits with at most one point, optional exponent.
// Returns false when not a number or beyond the double range.
bool reference_number(std::string_view t, double& out) {
    std::size_t i = 0;
    std::string norm;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm += t[i++];
    int digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9') {
            ++digits;
        } else if (t[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
        norm += t[i];
    }
    if (digits == 0) return false;
    if (i < t.size()) {
        if (!std::strchr("eEdDqQ", t[i])) return false;
        norm += 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm += t[i++];
        int exp_digits = 0;
        for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++exp_digits) norm += t[i];
        if (exp_digits == 0 || i != t.size()) return false;
    }
    errno = 0;
    out = std::strtod(norm.c_str(), nullptr);
    return !std::isinf(out);
}

// Expected values of successive reads of count values each.
std::vector<std::vector<double>> reference_reads(const std::vector<std::string_view>& records, int count) {
    std::vector<std::vector<double>> reads;
    std::size_t r = 0;
    for (;;) {
        std::vector<double> got;
        while (static_cast<int>(got.size()) < count) {
            if (r == records.size()) return reads;
            std::string_view rec = records[r++];
            std::size_t p = 0;
            while (p < rec.size() && static_cast<int>(got.size()) < count) {
                if (rec[p] == ' ' || rec[p] == '\t') {
                    ++p;
                    continue;
                }
                std::size_t q = p;
                while (q < rec.size() && rec[q] != ' ' && rec[q] != '\t') ++q;
                double v;
                if (!reference_number(rec.substr(p, q - p), v)) return reads;
                got.push_back(v);
                p = q;
            }
        }
        reads.push_back(got);
    }
}

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t block = 1 + data[0];
    const int count = 1 + data[1] % 10;
    data += 2;
    size -= 2;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    flux::InputFile f;
    load_memory_input(f, data, size, block);
    const std::vector<std::string_view> records = split_records(text);
    const bool check = simple_text(text);
    const auto expected = check ? reference_reads(records, count) : std::vector<std::vector<double>>{};

    constexpr double UNSET = -7.25e300;
    std::size_t reads = 0;
    for (;;) {
        double values[10];
        for (double& v : values) v = UNSET;
        if (flux::read_free(&f, values, count) == flux::ReadStatus::ended) break;
        // Every completed read consumes at least one whole record.
        if (++reads > records.size()) std::abort();
        if (f.begin > f.end || f.end > f.buffer.size()) std::abort();
        if (check) {
            if (reads > expected.size()) std::abort();
            for (int k = 0; k < count; ++k)
                if (!same(values[k], expected[reads - 1][static_cast<std::size_t>(k)])) {
                    std::fprintf(stderr, "read %zu value %d: got %.17g expected %.17g\n", reads, k, values[k],
                                 expected[reads - 1][static_cast<std::size_t>(k)]);
                    std::abort();
                }
        }
    }
    if (check && reads != expected.size()) {
        std::fprintf(stderr, "%zu reads completed, expected %zu\n", reads, expected.size());
        std::abort();
    }
    return 0;
}
