// The real flux_report binary on small runs, in a temporary folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "report_runner.h"

using namespace report_test;

namespace {

const char* FLUX_RUN_FILES[] = {"ConfigTAVRIN.Dat", "results.dat", "cumflux.out", "cumfluxSHIFT.out", "Cospectra.out"};

// Mean and standard error of FLUX-L (columns 84-91) as the page shows them,
// worked out here from the table itself.
std::string expected_mean_flux_l(const std::string& table) {
    std::vector<double> v;
    std::size_t at = table.find("\r\n") + 2;
    while (at < table.size()) {
        std::size_t end = table.find("\r\n", at);
        v.push_back(std::stod(table.substr(at + 83, 8)));
        at = end + 2;
    }
    double sum = 0.0;
    for (double x : v) sum += x;
    double mean = sum / v.size();
    double squares = 0.0;
    for (double x : v) squares += (x - mean) * (x - mean);
    double se = std::sqrt(squares / (v.size() - 1)) / std::sqrt(static_cast<double>(v.size()));
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.2f \u00B1 %.2f", mean, se);
    std::string s = buf;
    if (s[0] == '-') s = "\u2212" + s.substr(1);
    return s;
}

}  // namespace

// A sound run of 18 intervals at 16 Hz: every panel is drawn, the path of the
// report is printed, the skipped asterisk fields of its Cospectra.out are
// counted, and none of the run's files changes by a byte.
TEST(FluxReportEndToEnd, DrawsEveryPanelOfASoundRun) {
    RunFolder folder("run_16hz");
    std::vector<std::string> before;
    for (const char* name : FLUX_RUN_FILES) before.push_back(read_file(folder.run / name));

    auto r = folder.run_report();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, (folder.run / "flux_report.html").string() + "\n");
    std::string page = folder.report();
    ASSERT_FALSE(page.empty());

    for (const char* id : {"flux-panel", "cumulative-panel", "cospectra-panel", "current-panel"})
        EXPECT_EQ(count_of(page, std::string("<svg class=\"panel\" id=\"") + id + "\""), 1u) << id;
    for (const char* element : {"<path class=\"curve flux-l\"", "<path class=\"curve flux-r\"",
                                "<path class=\"band lin-band\"", "<path class=\"band run-band\"",
                                "<line class=\"zero-line\"", "<path class=\"curve cumflux\"",
                                "<path class=\"curve cumflux-shift\"", "<line class=\"window-mark\"",
                                "<path class=\"curve speed\"", "<path class=\"curve cospectrum-median\""})
        EXPECT_EQ(count_of(page, element), element == std::string("<line class=\"zero-line\"") ? 3u : 1u) << element;
    EXPECT_EQ(count_of(page, "<path class=\"curve cospectrum\""), 18u);  // one per interval
    EXPECT_EQ(count_of(page, "<circle class=\"dir-dot\""), 18u);
    EXPECT_EQ(count_of(page, "<circle class=\"mark-l\""), 18u);
    EXPECT_NE(page.find("running window 1 s (1.000 Hz)"), std::string::npos);  // 5 s limited to the 1 s interval
    EXPECT_NE(page.find("frequency (Hz), logarithmic"), std::string::npos);
    EXPECT_NE(page.find("cumulative flux (mmol m\u207B\u00B2)"), std::string::npos);

    // Header table.
    EXPECT_NE(page.find("<th>Sample rate</th><td>16 Hz</td>"), std::string::npos);
    EXPECT_NE(page.find("<th>Interval length</th><td>1 s (16 samples)</td>"), std::string::npos);
    EXPECT_NE(page.find("<th>Intervals</th><td>18 "), std::string::npos);
    EXPECT_NE(page.find(expected_mean_flux_l(before[1]) + " mmol m\u207B\u00B2 d\u207B\u00B9 (18 of 18 intervals)"),
              std::string::npos)
        << expected_mean_flux_l(before[1]);

    EXPECT_NE(page.find("<li><code>Cospectra.out</code>: 14 records read; skipped 10 asterisk fields"),
              std::string::npos);
    EXPECT_NE(page.find("Skipped values, not drawn (never shown as zero): 10 in all."), std::string::npos);

    // Self-contained: nothing to fetch, nothing to run.
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_EQ(count_of(page, "http"), count_of(page, "xmlns=\"http://www.w3.org/2000/svg\""));

    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(read_file(folder.run / FLUX_RUN_FILES[i]), before[i]) << FLUX_RUN_FILES[i] << " changed";
}

// Asterisk and non-finite fields are counted per file in the note and left
// out of the drawing: a file of nothing but NaN totals draws no curve at all.
TEST(FluxReportEndToEnd, CountsSkippedValuesAndNeverDrawsThem) {
    struct Case {
        const char* fixture;
        std::vector<std::string> note_lines;
        bool cumulative_drawn;
    } cases[] = {
        {"run_overflow",
         {"Skipped values, not drawn (never shown as zero): 587 in all.",
          "<code>res.txt</code>: 30 records read; skipped 15 asterisk fields (too wide for their field)</li>",
          "<code>cumflux.out</code>: 300 records read; skipped 299 asterisk fields (too wide for their field)</li>",
          "<code>Cospectra.out</code>: 8 records read; skipped 32 asterisk fields"},
         true},
        {"run_nan",
         {"Skipped values, not drawn (never shown as zero): 658 in all.",
          "<code>results.dat</code>: 14 records read; skipped 1 asterisk field (too wide for its field), 42 NaN or "
          "Infinity</li>",
          "<code>cumflux.out</code>: 294 records read; skipped 294 NaN or Infinity</li>"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        RunFolder folder(c.fixture);
        auto r = folder.run_report();
        EXPECT_EQ(r.status, 0) << r.err;
        std::string page = folder.report();
        for (const std::string& line : c.note_lines) EXPECT_NE(page.find(line), std::string::npos) << line;
        EXPECT_EQ(page.find("<path class=\"curve cumflux\"") != std::string::npos, c.cumulative_drawn);
        if (!c.cumulative_drawn) {
            EXPECT_NE(page.find("cumflux.out holds nothing to draw"), std::string::npos);
        }
    }
}

// Damaged input: one line on standard error naming the file, status 1, and
// the report still drawn from everything else.
TEST(FluxReportEndToEnd, BadInputIsNamedAndTheRestIsDrawn) {
    struct Case {
        const char* what;
        const char* file;
        void (*damage)(const fs::path& run);
        const char* still_drawn;
        const char* not_drawn;
    } cases[] = {
        {"missing cumflux.out", "cumflux.out", [](const fs::path& run) { fs::remove(run / "cumflux.out"); },
         "<path class=\"curve cumflux-shift\"", "<path class=\"curve cumflux\""},
        {"results table cut inside a row", "results.dat",
         [](const fs::path& run) { fs::resize_file(run / "results.dat", fs::file_size(run / "results.dat") - 100); },
         "<path class=\"curve flux-l\"", nullptr},
        {"cumflux.out cut at a record end", "cumflux.out",
         [](const fs::path& run) { fs::resize_file(run / "cumflux.out", fs::file_size(run / "cumflux.out") - 67 * 10); },
         "<path class=\"curve cumflux\"", nullptr},
        {"empty Cospectra.out", "Cospectra.out", [](const fs::path& run) { write_file(run / "Cospectra.out", ""); },
         "<path class=\"curve flux-r\"", "<path class=\"curve cospectrum\""},
        {"missing results table", "results.dat", [](const fs::path& run) { fs::remove(run / "results.dat"); },
         "<path class=\"curve cospectrum\"", "<path class=\"curve flux-l\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunFolder folder("run_16hz");
        c.damage(folder.run);
        auto r = folder.run_report();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(count_of(r.err, "\n"), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("flux_report: " + (folder.run / c.file).string() + ": ", 0), 0u) << r.err;
        EXPECT_EQ(r.out, (folder.run / "flux_report.html").string() + "\n");
        std::string page = folder.report();
        EXPECT_NE(page.find(c.still_drawn), std::string::npos);
        if (c.not_drawn != nullptr) {
            EXPECT_EQ(page.find(c.not_drawn), std::string::npos);
        }
        EXPECT_NE(page.find("<span class=\"problem\">"), std::string::npos);
    }
    // Two intervals' worth of damage: the complete rows before it are kept.
    RunFolder folder("run_16hz");
    fs::resize_file(folder.run / "results.dat", fs::file_size(folder.run / "results.dat") - 100);
    folder.run_report();
    EXPECT_EQ(count_of(folder.report(), "<circle class=\"mark-l\""), 17u);
}

TEST(FluxReportEndToEnd, MissingConfigurationStopsWithoutAReport) {
    RunFolder folder("run_16hz");
    fs::remove(folder.run / "ConfigTAVRIN.Dat");
    auto r = folder.run_report();
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(count_of(r.err, "\n"), 1u) << r.err;
    EXPECT_NE(r.err.find((folder.run / "ConfigTAVRIN.Dat").string()), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(folder.run / "flux_report.html"));
}
