// Runs the real flux program in a temporary folder and checks its console
// lines, exit status and files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Outcome {
    int status;
    std::string out, err;
};

struct Folder {
    std::string dir;
    Folder() {
        char tmpl[] = "/tmp/tavrin_e2e_XXXXXX";
        dir = mkdtemp(tmpl);
        char real[4096];
        dir = realpath(dir.c_str(), real);
    }
    ~Folder() { std::system(("rm -rf '" + dir + "'").c_str()); }
    void write(const std::string& name, const std::string& content) const {
        std::ofstream(dir + "/" + name, std::ios::binary) << content;
    }
    std::string read(const std::string& name) const { return slurp(dir + "/" + name); }
    bool exists(const std::string& name) const {
        struct stat st;
        return stat((dir + "/" + name).c_str(), &st) == 0;
    }
    Outcome run() const {
        std::string cmd = "cd '" + dir + "' && " TAVRIN_PATH " </dev/null >stdout.txt 2>stderr.txt";
        int rc = std::system(cmd.c_str());
        Outcome r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read("stdout.txt"), read("stderr.txt")};
        unlink((dir + "/stdout.txt").c_str());
        unlink((dir + "/stderr.txt").c_str());
        return r;
    }
};

// A configuration with the flux records set and 28 free-text records before them.
std::string configuration(const std::string& input, const std::string& results, const std::string& rate,
                          const std::string& start, const std::string& end, const std::string& interval,
                          const std::string& o2_select, const std::string& w_select, const std::string& window,
                          int records = 40) {
    std::vector<std::string> r(static_cast<std::size_t>(records), "free text");
    auto field = [](const std::string& v) { return std::string(23, '.') + v; };
    auto set = [&](int n, const std::string& v) {
        if (n <= records) r[static_cast<std::size_t>(n - 1)] = field(v);
    };
    set(29, input);
    set(32, results);
    set(33, rate);
    set(34, start);
    set(35, end);
    set(36, interval);
    set(37, o2_select);
    set(38, w_select);
    set(39, window);
    std::string s;
    for (auto& line : r) s += line + "\r\n";
    return s;
}

std::string basic_config() { return configuration("series.dat", "results.dat", "8", "0", "0", "       1", "1", "1", "   1"); }

// n samples at 8 Hz of a cleaned-series-like record (8 values).
std::string series(int n, double t0 = 1.0) {
    std::string s = " TIME X Y Z O21 O22 M1 M2\r\n";
    char line[200];
    for (int i = 0; i < n; ++i) {
        double t = t0 + i / (8.0 * 3600.0);
        std::snprintf(line, sizeof line, "%12.8f %10.6f %10.6f %10.6f %11.5f %11.5f %11.5f %11.5f\r\n", t,
                      3.0 + (i % 3), -2.0 + (i % 5) * 0.5, 0.1 * ((i * 7) % 5 - 2), 250.0 + (i % 4), 240.0 - (i % 3),
                      0.2 * ((i * 3) % 7 - 3), 251.0 + ((i * 5) % 6));
        s += line;
    }
    return s;
}

const char* const OUTPUTS[] = {"results.dat", "Cospectra.out", "cumflux.out", "cumfluxSHIFT.out"};

}  // namespace

TEST(TavrinEndToEnd, FailuresNameTheFileAndTouchNoOutput) {
    struct Case {
        const char* what;
        std::string config;   // empty: no configuration file
        std::string input;    // "-": no input file
        int status;
        std::string line;     // stderr, <DIR> for the folder
    };
    const std::vector<Case> cases = {
        {"missing configuration", "", "-", 29, "TAVRIN: severe (29): file not found, unit 2030, file <DIR>/ConfigTAVRIN.Dat\n"},
        {"26 records", configuration("series.dat", "results.dat", "8", "0", "0", "1", "1", "1", "1", 26), series(20), 24,
         "TAVRIN: severe (24): end-of-file during read, unit 2030, file <DIR>/ConfigTAVRIN.Dat\n"},
        {"letter in a real field", configuration("series.dat", "results.dat", "8x", "0", "0", "1", "1", "1", "1"), series(20), 64,
         "TAVRIN: severe (64): input conversion error, unit 2030, file <DIR>/ConfigTAVRIN.Dat\n"},
        {"point in an integer field", configuration("series.dat", "results.dat", "8", "0", "0", "   1.", "1", "1", "1"), series(20), 64,
         "TAVRIN: severe (64): input conversion error, unit 2030, file <DIR>/ConfigTAVRIN.Dat\n"},
        {"missing input", basic_config(), "-", 29, "TAVRIN: severe (29): file not found, unit 8, file <DIR>/series.dat\n"},
        {"input without any record", basic_config(), "", 24,
         "TAVRIN: severe (24): end-of-file during read, unit 8, file <DIR>/series.dat\n"},
        {"output folder missing", configuration("series.dat", "no/results.dat", "8", "0", "0", "1", "1", "1", "1"), series(20), 29,
         "TAVRIN: severe (29): file not found, unit 9, file <DIR>/no/results.dat\n"},
        {"interval of one sample", configuration("series.dat", "results.dat", "1", "0", "0", "1", "1", "1", "1"), series(20), 78,
         "TAVRIN: severe (78): invalid configuration, unit 2030, file <DIR>/ConfigTAVRIN.Dat: "},
        {"negative rate times negative interval", configuration("series.dat", "results.dat", "-8", "0", "0", "-2", "1", "1", "1"), series(20), 78,
         "TAVRIN: severe (78): invalid configuration, unit 2030, file <DIR>/ConfigTAVRIN.Dat: "},
        {"interval beyond the buffers", configuration("series.dat", "results.dat", "1000", "0", "0", "1001", "1", "1", "1"), series(20), 78,
         "TAVRIN: severe (78): invalid configuration, unit 2030, file <DIR>/ConfigTAVRIN.Dat: "},
    };
    for (const Case& c : cases) {
        Folder f;
        if (!c.config.empty()) f.write("ConfigTAVRIN.Dat", c.config);
        if (c.input != "-") f.write("series.dat", c.input);
        for (const char* name : OUTPUTS) f.write(name, "earlier results\r\n");
        Outcome r = f.run();
        EXPECT_EQ(r.status, c.status) << c.what;
        std::string want = c.line;
        want.replace(want.find("<DIR>"), 5, f.dir);
        if (c.status == 78)
            EXPECT_EQ(r.err.substr(0, want.size()), want) << c.what;
        else
            EXPECT_EQ(r.err, want) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        for (const char* name : OUTPUTS) EXPECT_EQ(f.read(name), "earlier results\r\n") << c.what << ": " << name;
    }
}

TEST(TavrinEndToEnd, ReadOnlyResultsFile) {
    if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root from writing";
    Folder f;
    f.write("ConfigTAVRIN.Dat", basic_config());
    f.write("series.dat", series(20));
    f.write("results.dat", "kept\r\n");
    chmod((f.dir + "/results.dat").c_str(), 0444);
    Outcome r = f.run();
    EXPECT_EQ(r.status, 9);
    EXPECT_EQ(r.err, "TAVRIN: severe (9): permission to access file denied, unit 9, file " + f.dir + "/results.dat\n");
    EXPECT_EQ(f.read("results.dat"), "kept\r\n");
}

TEST(TavrinEndToEnd, RecordWidthsAndOldContentsCutOff) {
    Folder f;
    f.write("ConfigTAVRIN.Dat", basic_config());
    f.write("series.dat", series(8 * 3 + 5));  // three intervals, the fourth unfinished
    f.write("cumflux.out", std::string(100000, 'x'));
    Outcome r = f.run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto lines = [](const std::string& s) {
        std::vector<std::string> out;
        std::size_t at = 0, nl;
        while ((nl = s.find("\r\n", at)) != std::string::npos) {
            out.push_back(s.substr(at, nl - at));
            at = nl + 2;
        }
        EXPECT_EQ(at, s.size()) << "file ends inside a record";
        return out;
    };
    auto results = lines(f.read("results.dat"));
    ASSERT_EQ(results.size(), 4u);
    for (auto& l : results) EXPECT_EQ(l.size(), 163u);
    for (const char* name : {"cumflux.out", "cumfluxSHIFT.out"}) {
        auto rows = lines(f.read(name));
        EXPECT_EQ(rows[0], "         TIME      CUMFLUX        COVAR       ZPRIME      O2PRIME");
        for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].size(), 65u) << name;
    }
    EXPECT_EQ(lines(f.read("cumflux.out")).size(), 1u + 24u);
    auto cospectra = lines(f.read("Cospectra.out"));
    ASSERT_EQ(cospectra.size(), 1u + 6u);  // windows 2..7 at 8 Hz below 8 samples
    for (auto& l : cospectra) EXPECT_EQ(l.size(), 10u + 9u * 3u);
    EXPECT_EQ(cospectra[1].substr(0, 10), "  4.000000");
    // One console line per interval, LF-terminated, 39 columns.
    std::istringstream console(r.out);
    std::string line;
    int count = 0;
    while (std::getline(console, line)) {
        EXPECT_EQ(line.size(), 39u);
        ++count;
    }
    EXPECT_EQ(count, 3);
}

TEST(TavrinEndToEnd, StartAndEndTimesAndNullValues) {
    // Start 1.0 h skips earlier samples wherever they stand; a null keeps the
    // value of the previous sample read, a skipped one included; a sample
    // after the end time ends the run and drops the unfinished interval.
    Folder f;
    f.write("ConfigTAVRIN.Dat", configuration("series.dat", "results.dat", "2", "1.0", "1.5", "       1", "1", "1", "   1"));
    f.write("series.dat",
            "heading\n"
            "0.9 1 1 1 1 250 250\n"
            "1.0 2 2 2 2 250 250\n"
            "0.5 9 9 9 9 999 999\n"   // skipped, does not break the interval
            "1.1 4,,4 4 252 252\n"    // null: y keeps 9 from the skipped sample
            "1.2 2 2 2 2 250 250\n"
            "1.3 4 4 4 4 252 252\n"
            "1.6 1 1 1 1 1 1\n"       // beyond the end time: the run ends
            "1.7 1 1 1 1 1 1\n");
    Outcome r = f.run();
    ASSERT_EQ(r.status, 0) << r.err;
    // Two samples a interval: w' = -/+1 cm/s, O2' = -/+1 uM; the mean-removed
    // flux is 0.01 * 86400, the linear fit leaves nothing, the 2-sample running
    // mean leaves half.
    EXPECT_EQ(r.out, " 1.050000000   864.00     0.00   432.00\n 1.250000000   864.00     0.00   432.00\n");
    std::string results = f.read("results.dat");
    EXPECT_EQ(results.substr(results.find("\r\n") + 2, 66),
              "      1.0500   3.000   5.500   3.000   1.414   6.265   4.965  28.6");
}
