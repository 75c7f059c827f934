// Runs a program under test in a folder of its own, with the limits, extra
// environment and standard input a fault case needs, and collects its end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace reliability {

struct RunOptions {
    std::vector<std::string> environment;  // added to PATH
    long open_files_limit = -1;            // RLIMIT_NOFILE, when >= 0
    long file_size_limit = -1;             // RLIMIT_FSIZE in bytes, when >= 0
    bool as_unprivileged = false;          // run as user nobody when the tests run as root
    bool keep_stdin_open = false;          // standard input is a pipe the test holds
    std::string capture_dir;               // where standard output and error go; default the run folder
};

struct Running {
    pid_t pid = -1;
    int stdin_fd = -1;
    std::string capture_dir;
};

struct Finished {
    int exit_status = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string out, err;
};

Running start_run(const std::string& program, const std::string& dir, const RunOptions& options = {});
Finished finish_run(Running& run, std::chrono::seconds bound = std::chrono::seconds(60));
Finished run_program(const std::string& program, const std::string& dir, const RunOptions& options = {});

std::string make_temp_dir();
void remove_tree(const std::string& path);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds bound);

// A configuration whose flux records name the series and results files.
std::string flux_configuration(const std::string& series, const std::string& results, int rate_hz,
                               int interval_seconds, int window_seconds);
// A configuration for the despiking program (records 1 to 39).
std::string scrubber_configuration(const std::string& raw, const std::string& cleaned, int rate_hz);
// A heading and n samples of eight values at rate_hz, written to path (the
// raw form of the despiking program; the flux program reads the first seven).
void write_series(const std::string& path, long n, int rate_hz);

// A series of n samples at rate_hz generated once into the build folder's
// cache and shared by later runs; returns its path.
std::string cached_series(long n, int rate_hz);

// Records of a file written by the programs: CR LF ends each; false when the
// text does not end with a complete record.
bool whole_records(const std::string& text, std::vector<std::string>* records = nullptr);

}  // namespace reliability
