// Fw.d rendering of arbitrary doubles, widths 1-40 and decimals 0-20, against
// two references: the library's own plain decimal expansion, and a field laid
// out here from libdouble-conversion's exact fixed conversion (which rounds
// the exact binary value, halfway cases away from zero). Any difference aborts.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <double-conversion/double-conversion.h>

#include "text_records.h"

namespace {

std::string word_field(const std::string& word, int w) {
    if (w < static_cast<int>(word.size()) + 1) return std::string(static_cast<std::size_t>(w), '*');
    std::string s = " " + word;
    s.resize(static_cast<std::size_t>(w), ' ');
    return s;
}

// The field for v from its exact rounded magnitude; false when the reference
// cannot convert v.
bool reference_field(double v, int w, int d, std::string& out) {
    if (std::isnan(v)) {
        out = word_field("NaN", w);
        return true;
    }
    if (std::isinf(v)) {
        out = word_field(v < 0 ? "-Infinity" : "Infinity", w);
        return true;
    }
    using double_conversion::DoubleToStringConverter;
    static const DoubleToStringConverter converter(DoubleToStringConverter::NO_FLAGS, "Infinity", "NaN", 'e', 0, 0,
                                                   0, 0);
    char buf[256];
    double_conversion::StringBuilder sb(buf, sizeof buf);
    if (!converter.ToFixed(std::fabs(v), d, &sb)) {
        // Beyond 60 integer digits: wider than any field here.
        if (std::fabs(v) < 1e60) return false;
        out = std::string(static_cast<std::size_t>(w), '*');
        return true;
    }
    std::string text = sb.Finalize();
    std::size_t point = text.find('.');
    std::string int_part = point == std::string::npos ? text : text.substr(0, point);
    std::string frac = point == std::string::npos ? "" : text.substr(point + 1);
    if (static_cast<int>(frac.size()) != d) std::abort();
    bool zero = (int_part + frac).find_first_not_of('0') == std::string::npos;
    bool negative = std::signbit(v) && !zero;
    if (int_part == "0") int_part.clear();
    std::string body = (negative ? "-" : "") + int_part + "." + frac;
    if (static_cast<int>(body.size()) > w) {
        out = std::string(static_cast<std::size_t>(w), '*');
        return true;
    }
    if (int_part.empty() && static_cast<int>(body.size()) < w) body.insert(negative ? 1 : 0, "0");
    out = std::string(static_cast<std::size_t>(w) - body.size(), ' ') + body;
    return true;
}

void mismatch(const char* what, double v, int w, int d, const char* got, const std::string& want) {
    std::fprintf(stderr, "%s: %a (%.17g) F%d.%d: got '%.*s' want '%s'\n", what, v, v, w, d, w, got, want.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 10) return 0;
    double v;
    std::memcpy(&v, data, sizeof v);
    const int w = 1 + data[8] % 40;
    const int d = data[9] % 21;

    char fast[48], plain[48];
    std::memset(fast, 0x55, sizeof fast);
    std::memset(plain, 0x55, sizeof plain);
    flux::render_fixed(fast, v, w, d);
    flux::render_fixed_plain(plain, v, w, d);
    // Nothing is written past the field.
    if (fast[w] != 0x55 || plain[w] != 0x55) std::abort();
    if (std::memcmp(fast, plain, static_cast<std::size_t>(w)) != 0)
        mismatch("fast vs plain", v, w, d, fast, std::string(plain, static_cast<std::size_t>(w)));
    std::string want;
    if (reference_field(v, w, d, want) && std::memcmp(fast, want.data(), static_cast<std::size_t>(w)) != 0)
        mismatch("fast vs double-conversion", v, w, d, fast, want);
    return 0;
}
