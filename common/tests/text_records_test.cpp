#include "text_records.h"

#include <double-conversion/double-conversion.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>

using namespace flux;

namespace {

std::string fixed(double v, int w, int d) {
    std::string s(static_cast<std::size_t>(w), '?');
    render_fixed(s.data(), v, w, d);
    return s;
}
std::string fixed_plain(double v, int w, int d) {
    std::string s(static_cast<std::size_t>(w), '?');
    render_fixed_plain(s.data(), v, w, d);
    return s;
}

// Independent oracle: the exact binary value rounded half away from zero,
// laid out by the same field rules.
std::string oracle(double v, int w, int d) {
    using double_conversion::DoubleToStringConverter;
    static const DoubleToStringConverter conv(DoubleToStringConverter::NO_FLAGS, "Infinity", "NaN", 'e', 0, 0, 0, 0);
    if (std::isnan(v)) return w >= 4 ? " NaN" + std::string(static_cast<std::size_t>(w - 4), ' ') : std::string(static_cast<std::size_t>(w), '*');
    if (std::isinf(v)) {
        std::string t = v < 0 ? " -Infinity" : " Infinity";
        return static_cast<std::size_t>(w) >= t.size() ? t + std::string(w - t.size(), ' ') : std::string(static_cast<std::size_t>(w), '*');
    }
    char buf[256];
    double_conversion::StringBuilder sb(buf, sizeof buf);
    EXPECT_TRUE(conv.ToFixed(std::fabs(v), d, &sb));
    std::string t = sb.Finalize();
    bool zero = t.find_first_not_of("0.") == std::string::npos;
    bool neg = std::signbit(v) && !zero;
    if (d == 0) t += '.';
    if (t.rfind("0.", 0) == 0) t.erase(0, 1);  // leading zero optional
    if (neg) t = "-" + t;
    if (t.size() > static_cast<std::size_t>(w)) return std::string(static_cast<std::size_t>(w), '*');
    if (t.size() < static_cast<std::size_t>(w) && (t[0] == '.' || (t[0] == '-' && t[1] == '.'))) {
        t.insert(t[0] == '-' ? 1 : 0, "0");
    }
    return std::string(w - t.size(), ' ') + t;
}

struct RenderCase {
    double v;
    int w, d;
    const char* text;
};

}  // namespace

TEST(RenderFixed, WorkedExamples) {
    const RenderCase cases[] = {
        {0.125, 5, 2, " 0.13"},     {-0.125, 5, 2, "-0.13"},   {2.5, 4, 0, "  3."},
        {-2.5, 4, 0, " -3."},       {0.375, 5, 2, " 0.38"},    {2.675, 5, 2, " 2.67"},
        {0.15, 5, 1, "  0.1"},      {0.45, 5, 1, "  0.5"},     {1.005, 5, 2, " 1.00"},
        {9.996, 5, 2, "10.00"},     {-0.004, 5, 2, " 0.00"},   {-0.0, 5, 2, " 0.00"},
        {-0.005, 5, 2, "-0.01"},    {0.5, 5, 2, " 0.50"},      {0.5, 4, 2, "0.50"},
        {-0.5, 4, 2, "-.50"},       {0.5, 3, 2, ".50"},        {-0.5, 6, 2, " -0.50"},
        {-0.5, 3, 2, "***"},        {-9.996, 5, 2, "*****"},   {99.996, 5, 2, "*****"},
        {12345.678, 8, 2, "12345.68"}, {-12345.678, 8, 2, "********"},
        {100.0, 12, 8, "100.00000000"}, {-100.0, 12, 8, "************"},
        {1.0, 12, 9, " 1.000000000"}, {10.123456789, 12, 9, "10.123456789"},
        {std::numeric_limits<double>::quiet_NaN(), 8, 2, " NaN    "},
        {std::numeric_limits<double>::infinity(), 12, 4, " Infinity   "},
        {-std::numeric_limits<double>::infinity(), 12, 4, " -Infinity  "},
        {std::numeric_limits<double>::infinity(), 9, 4, " Infinity"},
        {std::numeric_limits<double>::infinity(), 8, 2, "********"},
        {4.9e-324, 6, 2, "  0.00"}, {-4.9e-324, 6, 2, "  0.00"},
        {1e300, 12, 2, "************"},
    };
    for (const RenderCase& c : cases) {
        EXPECT_EQ(fixed(c.v, c.w, c.d), c.text) << c.v << " F" << c.w << "." << c.d;
        EXPECT_EQ(fixed_plain(c.v, c.w, c.d), c.text) << c.v << " F" << c.w << "." << c.d;
    }
}

TEST(RenderFixed, FastPathMatchesOracleOnRandomDoubles) {
    std::mt19937_64 rng(20261211);
    std::uniform_int_distribution<int> width(1, 40), decimals(0, 20), scale(-30, 30);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const long iterations = std::getenv("RENDER_ITERATIONS") ? std::atol(std::getenv("RENDER_ITERATIONS")) : 2000000;
    long mismatches = 0;
    for (long i = 0; i < iterations && mismatches < 10; ++i) {
        double v;
        switch (i % 4) {
            case 0: v = unit(rng) * std::pow(10.0, scale(rng)); break;
            case 1: {  // arbitrary bit patterns below 1e60
                std::uint64_t bits = rng();
                std::memcpy(&v, &bits, sizeof v);
                if (!(std::fabs(v) < 1e59)) v = unit(rng);
                break;
            }
            case 2: v = std::round(unit(rng) * 1e6) / 1024.0; break;  // exact ties
            default: v = unit(rng) * 1000.0; break;
        }
        int w = width(rng), d = decimals(rng);
        std::string got = fixed(v, w, d), want = oracle(v, w, d);
        if (got != want) {
            ++mismatches;
            ADD_FAILURE() << std::hexfloat << v << " F" << w << "." << d << " got '" << got << "' want '" << want << "'";
        }
    }
}

TEST(RenderFixed, PlainPathMatchesOracle) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        double v = unit(rng) * std::pow(10.0, (i % 40) - 20);
        int w = 1 + i % 40, d = (i * 7) % 30;
        ASSERT_EQ(fixed_plain(v, w, d), oracle(v, w, d)) << v << " F" << w << "." << d;
    }
}

TEST(RenderInteger, Examples) {
    const struct { std::int64_t v; int w; const char* text; } cases[] = {
        {0, 4, "   0"}, {12345, 4, "****"}, {-12, 4, " -12"}, {-123, 4, "-123"}, {-1234, 4, "****"},
        {3, 12, "           3"}, {-2147483648LL, 11, "-2147483648"},
    };
    for (const auto& c : cases) {
        std::string s(static_cast<std::size_t>(c.w), '?');
        render_integer(s.data(), c.v, c.w);
        EXPECT_EQ(s, c.text);
    }
}

TEST(ParseFixedFields, RealFieldTable) {
    const struct { const char* text; int d; bool ok; double value; } cases[] = {
        {"15", 0, true, 15.0},          {"15.5", 0, true, 15.5},      {"1 5", 0, true, 15.0},
        {"1.5E2", 0, true, 150.0},      {"", 0, true, 0.0},           {"      ", 0, true, 0.0},
        {"1.5+2", 0, true, 150.0},      {"1.5d-1", 0, true, 0.15},    {"2q1", 0, true, 20.0},
        {"\t  7", 0, true, 7.0},        {"12345", 2, true, 123.45},   {"5", 3, true, 0.005},
        {"12.5", 3, true, 12.5},        {"-nan", 0, true, NAN},       {"Infinity", 0, true, INFINITY},
        {"15a", 0, false, 0},           {"15\t", 0, false, 0},        {"1.2.3", 0, false, 0},
        {"1e999", 0, false, 0},         {"abc", 0, false, 0},         {"1e-400", 0, true, 0.0},
        {"+", 0, false, 0},
    };
    for (const auto& c : cases) {
        double v = -1.0;
        EXPECT_EQ(parse_real_field(c.text, c.d, v), c.ok) << "'" << c.text << "'";
        if (c.ok && !std::isnan(c.value)) {
            EXPECT_EQ(v, c.value) << c.text;
        }
        if (c.ok && std::isnan(c.value)) {
            EXPECT_TRUE(std::isnan(v)) << c.text;
        }
    }
    float f = 0;
    ASSERT_TRUE(parse_single_field("0.1", 0, f));
    EXPECT_EQ(f, 0.1f);
}

TEST(ParseFixedFields, IntegerFieldTable) {
    const struct { const char* text; bool ok; std::int32_t value; } cases[] = {
        {"   42  ", true, 42}, {"", true, 0}, {"- 4 2", true, -42}, {"7.", false, 0}, {"1e3", false, 0},
        {"\t1", false, 0}, {"2147483647", true, 2147483647}, {"2147483648", false, 0},
        {"-2147483648", true, -2147483647 - 1}, {"x", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t v = -1;
        EXPECT_EQ(parse_integer_field(c.text, v), c.ok) << "'" << c.text << "'";
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

namespace {

// A scratch folder per test; files are written there and read back.
struct Scratch {
    std::string dir;
    Scratch() {
        char tmpl[] = "/tmp/text_records_XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~Scratch() { std::system(("rm -rf " + dir).c_str()); }
    std::string write(const std::string& name, const std::string& content) const {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
};

}  // namespace

TEST(ReadFree, SeparatorsRepeatsNullsAndRecords) {
    Scratch s;
    std::string path = s.write("in.txt",
                               "1 2 3 4\r\n5 6 7 8 9\n"          // 7 values over two records, 8 9 passed over
                               "10,,12 , 13\n"                  // null leaves the variable
                               "3*2.5 1d1\n"                    // repeat, D exponent
                               "2* 7 8\n"                       // two nulls
                               "1 2 / 99\n"                     // slash ends the read
                               "\n\n  4\t5,6\n"                 // blank records skipped
                               "1 2 x 4\n"                      // invalid value ends the input
                               "1 2 3 4\n");
    InputFile* f = open_existing(path, 8);
    double v[7] = {};
    ASSERT_EQ(read_free(f, v, 7), ReadStatus::ok);
    EXPECT_EQ(std::vector<double>(v, v + 7), (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
    double w[4] = {0, -1, 0, 0};
    ASSERT_EQ(read_free(f, w, 4), ReadStatus::ok);
    EXPECT_EQ(std::vector<double>(w, w + 4), (std::vector<double>{10, -1, 12, 13}));
    double x[4] = {};
    ASSERT_EQ(read_free(f, x, 4), ReadStatus::ok);
    EXPECT_EQ(std::vector<double>(x, x + 4), (std::vector<double>{2.5, 2.5, 2.5, 10}));
    double y[4] = {-1, -2, 0, 0};
    ASSERT_EQ(read_free(f, y, 4), ReadStatus::ok);
    EXPECT_EQ(std::vector<double>(y, y + 4), (std::vector<double>{-1, -2, 7, 8}));
    double z[4] = {0, 0, -3, -4};
    ASSERT_EQ(read_free(f, z, 4), ReadStatus::ok);
    EXPECT_EQ(std::vector<double>(z, z + 4), (std::vector<double>{1, 2, -3, -4}));
    double t[3] = {};
    ASSERT_EQ(read_free(f, t, 3), ReadStatus::ok);
    EXPECT_EQ(std::vector<double>(t, t + 3), (std::vector<double>{4, 5, 6}));
    double u[4] = {};
    EXPECT_EQ(read_free(f, u, 4), ReadStatus::ended);
}

TEST(ReadFree, EndOfFileForms) {
    Scratch s;
    const struct { const char* content; int complete; } cases[] = {
        {"1 2\n3 4", 1},            // unterminated last line is not read
        {"1 2\n\x1a\n3 4\n", 1},    // a record of byte 26 alone ends the file
        {"1 2\n3\n", 1},            // file ends inside a read
        {"1 2\n3 4\n", 2},
        {"1 2\n+3 -4e0\n", 2},
        {"1 2\n1e999 4\n", 1},      // overflow is not a number
        {"1 2\nNaN 4\n", 1},
    };
    for (const auto& c : cases) {
        InputFile* f = open_existing(s.write("e.txt", c.content), 8);
        double v[2];
        int n = 0;
        while (read_free(f, v, 2) == ReadStatus::ok) ++n;
        EXPECT_EQ(n, c.complete) << c.content;
    }
}

TEST(WriteRecords, FixedLayoutAndFreeForm) {
    Scratch s;
    std::string path = s.dir + "/out.txt";
    {
        std::ofstream(path) << "old contents that are much longer than the new ones\n";
    }
    OutputFile* out = open_for_writing(path, 5);
    Layout pass_line = parse_layout("1X,\"ITERATION = \",I4,2X,I8,1X,\"SPIKES REMOVED\"");
    FieldValue pv[] = {integer_value(1), integer_value(12)};
    write_fields(out, pass_line, pv, 2);
    Layout three = parse_layout("1X,F5.2,3X,F5.2,\"|\",2X");
    FieldValue one[] = {real_value(1.0)};
    write_fields(out, three, one, 1);  // values used up: the record ends after the field
    FieldValue five[] = {real_value(1), real_value(2), real_value(3), real_value(4), real_value(5)};
    write_fields(out, three, five, 5);  // restarts the layout on new records
    write_free(out, {free_integer(3), free_text(" INTERPOLATION VIOLATIONS WRITTEN TO WARNING_LOG.DAT")});
    write_free(out, {free_text("Warning - did not reach end of file!")});
    flush_all();
    std::ifstream in(path, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all,
              " ITERATION =    1        12 SPIKES REMOVED\r\n"
              "  1.00\r\n"
              "  1.00    2.00|\r\n"
              "  3.00    4.00|\r\n"
              "  5.00\r\n"
              "           3 INTERPOLATION VIOLATIONS WRITTEN TO WARNING_LOG.DAT\r\n"
              " Warning - did not reach end of file!\r\n");
}

TEST(WriteRecords, UntouchedUntilFirstRecord) {
    Scratch s;
    std::string path = s.write("keep.txt", "old\n");
    open_for_writing(path, 9);
    flush_all();
    std::ifstream in(path, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all, "old\n");
}

TEST(ReadFieldsDeath, FailuresAreFatalWithTheirNumbers) {
    Scratch s;
    Layout layout = parse_layout("/,23X,F12.0");
    double v = 0;
    std::string shortfile = s.write("short.txt", "only one line\n");
    EXPECT_EXIT(read_fields(open_existing(shortfile, 2030), layout, {real_target(v)}), testing::ExitedWithCode(24),
                "severe \\(24\\): end-of-file during read, unit 2030, file .*short.txt");
    std::string letter = s.write("letter.txt", "x\n                       12a\n");
    EXPECT_EXIT(read_fields(open_existing(letter, 2030), layout, {real_target(v)}), testing::ExitedWithCode(64),
                "severe \\(64\\): input conversion error, unit 2030");
    EXPECT_EXIT(open_existing(s.dir + "/missing.txt", 8), testing::ExitedWithCode(29),
                "severe \\(29\\): file not found, unit 8, file .*/missing.txt");
    EXPECT_EXIT(open_for_writing(s.dir + "/no/such/folder.txt", 9), testing::ExitedWithCode(29), "file not found");
    EXPECT_EXIT(checked_sqrt(-1.0), testing::ExitedWithCode(3), "run-time error M6201: MATH\n- sqrt: DOMAIN error");
    EXPECT_EXIT(checked_acos(1.5), testing::ExitedWithCode(3), "- acos: DOMAIN error");
    EXPECT_EXIT(checked_atan(NAN), testing::ExitedWithCode(3), "- atan: DOMAIN error");
    EXPECT_EQ(checked_sqrt(-0.0), -0.0);
    EXPECT_TRUE(std::signbit(checked_sqrt(-0.0)));
    EXPECT_EQ(checked_atan(std::numeric_limits<double>::infinity()), std::acos(-1.0) / 2);
}

TEST(ReadFields, ShortRecordsCommaAndText) {
    Scratch s;
    std::string path = s.write("cfg.txt",
                               std::string("a\n") + std::string(23, 'L') + "1234567\r\n" +  // ends inside the field
                               std::string(23, 'L') + "15,2\n" +                         // comma ends the field
                               "short\n" + "name.dat\n");
    Layout layout = parse_layout("/,23X,F12.0,/,23X,F3.0,F3.0,/,23X,F12.0,/,A20");
    double a = -1, b = -1, c = -1, d = -1;
    std::string text;
    read_fields(open_existing(path, 2030), layout,
                {real_target(a), real_target(b), real_target(c), real_target(d), text_target(text, 20)});
    EXPECT_EQ(a, 1234567.0);
    EXPECT_EQ(b, 15.0);
    EXPECT_EQ(c, 2.0);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(text, "name.dat            ");
}
