// Running the real flux_report binary in a temporary folder holding a copy
// of a small run's files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace report_test {

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const fs::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

inline std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// A scratch folder: <root>/run is the working folder, output goes beside it.
struct RunFolder {
    fs::path root;
    fs::path run;
    explicit RunFolder(const std::string& fixture) {
        char tmpl[] = "/tmp/flux_report_test_XXXXXX";
        root = mkdtemp(tmpl);
        run = root / "run";
        fs::create_directory(run);
        if (!fixture.empty())
            for (const auto& e : fs::directory_iterator(fs::path(FLUX_REPORT_TEST_DATA) / fixture))
                fs::copy_file(e.path(), run / e.path().filename());
    }
    ~RunFolder() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    struct Result {
        int status;
        std::string out, err;
    };
    Result run_report() const {
        std::string command = "cd '" + run.string() + "' && '" FLUX_REPORT_BINARY "' >'" + (root / "stdout").string() +
                              "' 2>'" + (root / "stderr").string() + "' </dev/null";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(root / "stdout"), read_file(root / "stderr")};
    }
    std::string report() const { return read_file(run / "flux_report.html"); }
};

}  // namespace report_test
