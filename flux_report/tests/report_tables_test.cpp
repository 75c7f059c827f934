#include "report_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

using namespace flux_report;

namespace {

struct TempFolder {
    std::string dir;
    TempFolder() {
        char tmpl[] = "/tmp/report_tables_XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~TempFolder() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string write(const std::string& name, const std::string& content) const {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
};

std::string cumulative_row(double t, double cum) {
    char buf[80];
    std::snprintf(buf, sizeof buf, " %12.8f %12.8f %12.8f %12.8f %12.8f\r\n", t, cum, 0.5, 0.25, 2.0);
    return buf;
}

const char* CUMULATIVE_HEADING = "         TIME      CUMFLUX        COVAR       ZPRIME      O2PRIME\r\n";

}  // namespace

TEST(ParseField, KindsOfFields) {
    struct Case {
        const char* text;
        FieldKind kind;
        double value;
    } cases[] = {
        {"  -61.86", FieldKind::value, -61.86},
        {"-.50", FieldKind::value, -0.5},
        {"  0.00003755", FieldKind::value, 0.00003755},
        {"********", FieldKind::overflow, 0},
        {" NaN    ", FieldKind::non_finite, 0},
        {" Infinity", FieldKind::non_finite, 0},
        {"-Infinity", FieldKind::non_finite, 0},
        {"        ", FieldKind::unreadable, 0},
        {" 1.2.3  ", FieldKind::unreadable, 0},
        {" **1.5  ", FieldKind::unreadable, 0},
    };
    for (const Case& c : cases) {
        Field f = parse_field(c.text);
        EXPECT_EQ(f.kind, c.kind) << '"' << c.text << '"';
        if (c.kind == FieldKind::value) {
            EXPECT_DOUBLE_EQ(f.value, c.value) << c.text;
        }
    }
}

// Fields are cut by column, so asterisks glued to a number and a value that
// fills its whole field are both read right.
TEST(ReadCospectra, FixedColumnsWithGluedFields) {
    TempFolder folder;
    std::string path = folder.write("Cospectra.out",
                                    "      FREQ  10.0010  10.0031  10.0052\r\n"
                                    "  3.750000 276.63331198.3823*********\r\n"
                                    "  2.500000   NaN    -10.5000   1.0000\r\n");
    Cospectra c = read_cospectra(path);
    EXPECT_TRUE(c.file.problem.empty()) << c.file.problem;
    ASSERT_EQ(c.interval_times.size(), 3u);
    EXPECT_DOUBLE_EQ(c.interval_times[2], 10.0052);
    ASSERT_EQ(c.frequencies.size(), 2u);
    EXPECT_DOUBLE_EQ(c.frequencies[1], 2.5);
    EXPECT_DOUBLE_EQ(c.fluxes[0][0], 276.6333);
    EXPECT_DOUBLE_EQ(c.fluxes[1][0], 1198.3823);
    EXPECT_TRUE(std::isnan(c.fluxes[2][0]));
    EXPECT_TRUE(std::isnan(c.fluxes[0][1]));
    EXPECT_DOUBLE_EQ(c.fluxes[1][1], -10.5);
    EXPECT_EQ(c.file.skipped.overflow, 1);
    EXPECT_EQ(c.file.skipped.non_finite, 1);
}

// A results table cut inside its last row: the complete rows are kept and the
// damage is named; a missing file is named as missing.
TEST(ReadResultsTable, CutShortAndMissing) {
    TempFolder folder;
    std::string heading =
        "        TIME   X-VEL   Y-VEL   Z-VEL   Z-STD     MAG MAG-STD   DIR      O2  O2-STD   FLUX-L   FLUX-R   "
        "LINMIN   RUNMIN   LINMAX   RUNMAX    SLMIN SRMIN SLMAX SRMAX\r\n";
    std::string row =
        "    100.0650   0.096   0.379   0.047   0.553   0.390   2.661  14.2 239.880   0.493   -70.42   -67.06  "
        "-148.88  -142.20   177.39   184.38    -0.38 -0.38 -0.50 -0.50\r\n";
    ASSERT_EQ(row.size(), 165u);
    std::string path = folder.write("results.dat", heading + row + row.substr(0, 90));
    ResultsTable t = read_results_table(path);
    EXPECT_TRUE(t.file.present);
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_DOUBLE_EQ(t.rows[0].time, 100.065);
    EXPECT_DOUBLE_EQ(t.rows[0].speed, 0.390);
    EXPECT_DOUBLE_EQ(t.rows[0].direction, 14.2);
    EXPECT_DOUBLE_EQ(t.rows[0].flux_linear, -70.42);
    EXPECT_DOUBLE_EQ(t.rows[0].flux_running, -67.06);
    EXPECT_DOUBLE_EQ(t.rows[0].lin_min, -148.88);
    EXPECT_DOUBLE_EQ(t.rows[0].run_min, -142.20);
    EXPECT_DOUBLE_EQ(t.rows[0].lin_max, 177.39);
    EXPECT_DOUBLE_EQ(t.rows[0].run_max, 184.38);
    EXPECT_NE(t.file.problem.find("cut short"), std::string::npos) << t.file.problem;

    ResultsTable gone = read_results_table(folder.dir + "/absent.dat");
    EXPECT_FALSE(gone.file.present);
    EXPECT_NE(gone.file.problem.find("No such file"), std::string::npos) << gone.file.problem;

    ResultsTable empty = read_results_table(folder.write("empty.dat", ""));
    EXPECT_TRUE(empty.file.present);
    EXPECT_NE(empty.file.problem.find("empty"), std::string::npos) << empty.file.problem;
}

// A long cumulative file: a one-row spike survives thinning, a stretch of
// asterisk rows is a gap in the curve, never a run of zeros, and a stray
// sample time far off the record is not joined to its neighbours.
TEST(ReadCumulative, SpikeSurvivesAndOverflowIsAGap) {
    TempFolder folder;
    std::string text = CUMULATIVE_HEADING;
    constexpr int ROWS = 20000;
    for (int i = 0; i < ROWS; ++i) {
        double t = 10.0 + i / 3600.0;
        if (i >= 12000 && i < 12500) {
            char row[80];
            std::snprintf(row, sizeof row, " %12.8f ************ ************   0.25000000   2.00000000\r\n", t);
            text += row;
            continue;
        }
        if (i == 3000) t = 2.5;  // stray time, hours before the record
        text += cumulative_row(t, i == 7001 ? 900.0 : 0.001 * i);
    }
    std::string path = folder.write("cumflux.out", text);
    CumulativeCurve curve = read_cumulative(path, 100);
    EXPECT_TRUE(curve.file.problem.empty()) << curve.file.problem;
    EXPECT_EQ(curve.file.records, ROWS);
    EXPECT_EQ(curve.file.skipped.overflow, 500);  // CUMFLUX only: COVAR is not read
    EXPECT_LE(curve.points.size(), 400u + 10u);
    bool spike = false, zero_in_gap = false, stray = false;
    int breaks = 0;
    for (std::size_t i = 0; i < curve.points.size(); ++i) {
        const PlotPoint& p = curve.points[i];
        if (is_break(p)) {
            ++breaks;
            continue;
        }
        if (p.x == 2.5) {  // the stray point stands alone
            stray = true;
            EXPECT_TRUE(i > 0 && is_break(curve.points[i - 1]));
            EXPECT_TRUE(i + 1 < curve.points.size() && is_break(curve.points[i + 1]));
        }
        if (p.y == 900.0) spike = true;
        if (p.x > 10.0 + 12000 / 3600.0 && p.x < 10.0 + 12499 / 3600.0) zero_in_gap = true;
    }
    EXPECT_TRUE(spike);
    EXPECT_TRUE(stray);
    EXPECT_FALSE(zero_in_gap);
    EXPECT_EQ(breaks, 3);
    EXPECT_DOUBLE_EQ(curve.first_time, 10.0);
}

TEST(ReadCumulative, UnterminatedLastRowIsNamedAndTheRestKept) {
    TempFolder folder;
    std::string text = CUMULATIVE_HEADING + cumulative_row(1.0, 0.5) + cumulative_row(2.0, 0.75);
    std::string path = folder.write("cumflux.out", text + cumulative_row(3.0, 1.0).substr(0, 30));
    CumulativeCurve curve = read_cumulative(path, 1000);
    EXPECT_EQ(curve.file.records, 2);
    ASSERT_EQ(curve.points.size(), 2u);
    EXPECT_DOUBLE_EQ(curve.points[1].y, 0.75);
    EXPECT_NE(curve.file.problem.find("cut short"), std::string::npos) << curve.file.problem;
}
