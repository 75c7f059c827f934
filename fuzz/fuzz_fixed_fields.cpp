// Fixed-field reading of an arbitrary configuration text. A conversion error
// ends the process, so the fields are first cut out and parsed here with the
// parse functions; only when every field reads does the whole configuration
// read run in process, and its results must agree field by field. A read
// that ends the process although every field parsed is itself a finding.
// The parse functions are also checked against a plain reference on the
// field texts that are ordinary numbers.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "memory_input.h"
#include "run_configuration.h"

namespace {

// Columns from..from+width-1 (from counted from 0), cut at a comma.
std::string_view numeric_field(std::string_view rec, std::size_t from, std::size_t width) {
    if (from >= rec.size()) return {};
    std::string_view f = rec.substr(from, width);
    std::size_t comma = f.find(',');
    return comma == std::string_view::npos ? f : f.substr(0, comma);
}

std::string without_blanks(std::string_view f) {
    std::string s;
    for (char c : f)
        if (c != ' ') s += c;
    return s;
}

// Plain decimal with a point: [sign] digits.digits [e[sign]digits], at least one digit.
bool plain_pointed(const std::string& s) {
    std::size_t i = 0, digits = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') ++digits;
        else if (s[i] == '.' && !point) point = true;
        else break;
    }
    if (!point || digits == 0) return false;
    if (i == s.size()) return true;
    if (s[i] != 'e' && s[i] != 'E') return false;
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) ++exp_digits;
    return exp_digits > 0 && i == s.size();
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check_real(std::string_view field, bool ok, double got, bool single) {
    std::string s = without_blanks(field);
    if (!plain_pointed(s)) return;
    errno = 0;
    double want = single ? static_cast<double>(std::strtof(s.c_str(), nullptr)) : std::strtod(s.c_str(), nullptr);
    if (std::isinf(want)) {
        if (ok) std::abort();  // beyond the range must be refused
        return;
    }
    if (!ok || !same_bits(got, want)) {
        std::fprintf(stderr, "field '%.*s': ok=%d got %.17g want %.17g\n", static_cast<int>(field.size()),
                     field.data(), ok, got, want);
        std::abort();
    }
}

void check_integer(std::string_view field, bool ok, std::int32_t got) {
    std::string s = without_blanks(field);
    std::size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
    if (i == s.size()) return;
    for (std::size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') {
            if (ok) std::abort();  // anything but sign and digits is refused
            return;
        }
    if (s.size() - i > 15) return;
    long long want = std::stoll(s);
    bool fits = want >= -2147483648LL && want <= 2147483647LL;
    if (ok != fits || (ok && got != want)) {
        std::fprintf(stderr, "field '%.*s': ok=%d got %d want %lld\n", static_cast<int>(field.size()), field.data(),
                     ok, got, want);
        std::abort();
    }
}

struct Field {
    int record;  // counted from 1
    int width;
    char code;   // 'F', 'S' (single), 'I', 'A'
};

// The two programs' layouts, as record, width and kind of each value.
const std::vector<Field> FLUX_FIELDS = {{29, 20, 'A'}, {32, 20, 'A'}, {33, 8, 'F'}, {34, 8, 'F'}, {35, 8, 'F'},
                                        {36, 8, 'I'},  {37, 1, 'I'},  {38, 1, 'I'}, {39, 4, 'I'}};
const std::vector<Field> SCRUBBER_FIELDS = {
    {4, 20, 'A'},  {6, 20, 'I'},  {7, 20, 'I'},  {9, 12, 'S'},  {10, 12, 'S'}, {12, 12, 'S'}, {13, 12, 'S'},
    {14, 12, 'S'}, {15, 12, 'S'}, {16, 12, 'S'}, {19, 20, 'A'}, {20, 12, 'F'}, {21, 12, 'F'}, {22, 20, 'I'},
    {23, 12, 'F'}, {24, 12, 'F'}, {25, 20, 'I'}, {26, 12, 'F'}};

struct Parsed {
    bool ok = true;
    std::vector<double> reals;
    std::vector<float> singles;
    std::vector<std::int32_t> integers;
    std::vector<std::string> texts;
};

Parsed parse_all(const std::vector<std::string_view>& records, const std::vector<Field>& fields) {
    Parsed p;
    for (const Field& fd : fields) {
        std::string_view rec = fd.record <= static_cast<int>(records.size()) ? records[fd.record - 1] : "";
        std::size_t from = fd.record == 4 ? 20 : 23;
        if (fd.code == 'A') {
            std::string t(from < rec.size() ? rec.substr(from, 20) : std::string_view{});
            t.resize(20, ' ');
            p.texts.push_back(t);
            continue;
        }
        std::string_view field = numeric_field(rec, from, static_cast<std::size_t>(fd.width));
        bool ok;
        if (fd.code == 'F') {
            double v = -1.0;
            ok = flux::parse_real_field(field, 0, v);
            check_real(field, ok, v, false);
            p.reals.push_back(v);
        } else if (fd.code == 'S') {
            float v = -1.0f;
            ok = flux::parse_single_field(field, 0, v);
            check_real(field, ok, v, true);
            p.singles.push_back(v);
        } else {
            std::int32_t v = -1;
            ok = flux::parse_integer_field(field, v);
            check_integer(field, ok, v);
            p.integers.push_back(v);
        }
        p.ok = p.ok && ok;
    }
    return p;
}

bool same_float(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool flux_layout = (data[0] & 1) != 0;
    const std::size_t block = 1 + data[1];
    data += 2;
    size -= 2;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto records = split_records(text);

    // Implied decimals: the same fields with d from 0 to 9 must agree with
    // the digits placed by hand.
    for (std::string_view rec : records) {
        std::string_view field = numeric_field(rec, 23, 12);
        std::string s = without_blanks(field);
        bool digits_only = !s.empty() && s.size() <= 15 && s.find_first_not_of("0123456789") == std::string::npos;
        if (!digits_only) continue;
        for (int d = 0; d <= 9; ++d) {
            double got = -1.0;
            if (!flux::parse_real_field(field, d, got)) std::abort();
            std::string placed = d == 0 ? s : s.size() > static_cast<std::size_t>(d)
                                     ? s.substr(0, s.size() - d) + "." + s.substr(s.size() - d)
                                     : "0." + std::string(static_cast<std::size_t>(d) - s.size(), '0') + s;
            if (!same_bits(got, std::strtod(placed.c_str(), nullptr))) std::abort();
        }
    }

    const std::vector<Field>& fields = flux_layout ? FLUX_FIELDS : SCRUBBER_FIELDS;
    const Parsed want = parse_all(records, fields);
    const std::size_t needed = flux_layout ? 39 : 26;
    if (!want.ok || records.size() < needed) return 0;  // the whole read would end the process

    flux::InputFile f;
    load_memory_input(f, data, size, block);
    if (flux_layout) {
        flux::FluxSettings s;
        flux::read_flux_records(&f, s);
        const double reals[] = {s.sample_rate_hz, s.flux_start_time_hours, s.flux_end_time_hours};
        const std::int32_t ints[] = {s.interval_seconds, s.oxygen_select, s.vertical_select, s.running_window_seconds};
        if (s.flux_input_file_name != want.texts[0] || s.results_file_name != want.texts[1]) std::abort();
        for (int k = 0; k < 3; ++k)
            if (!same_bits(reals[k], want.reals[static_cast<std::size_t>(k)])) std::abort();
        for (int k = 0; k < 4; ++k)
            if (ints[k] != want.integers[static_cast<std::size_t>(k)]) std::abort();
    } else {
        flux::ScrubberSettings s;
        flux::read_scrubber_records(&f, s);
        if (s.input_file_name != want.texts[0] || s.output_file_name != want.texts[1]) std::abort();
        const std::int32_t ints[] = {s.sample_rate_numerator, s.sample_rate_divisor, s.mean_window_seconds,
                                     s.iteration_count};
        for (int k = 0; k < 4; ++k)
            if (ints[k] != want.integers[static_cast<std::size_t>(k)]) std::abort();
        for (int k = 0; k < 7; ++k)
            if (!same_float(s.unused_fields[k], want.singles[static_cast<std::size_t>(k)])) std::abort();
        const double reals[] = {s.span_start_hours,   s.span_end_hours, s.oxygen_sd_factor,
                                s.acceleration_limit, s.max_gap_seconds};
        for (int k = 0; k < 5; ++k)
            if (!same_bits(reals[k], want.reals[static_cast<std::size_t>(k)])) std::abort();
    }
    return 0;
}
