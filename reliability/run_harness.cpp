#include "run_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace reliability {

namespace {

constexpr uid_t NOBODY = 65534;

[[noreturn]] void child_fail(const char* what) {
    std::fprintf(stderr, "harness child: %s: %s\n", what, std::strerror(errno));
    _exit(125);
}

}  // namespace

Running start_run(const std::string& program, const std::string& dir, const RunOptions& options) {
    int in_pipe[2] = {-1, -1};
    if (options.keep_stdin_open && pipe(in_pipe) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> env_text = {"PATH=/usr/bin:/bin"};
    for (const auto& e : options.environment) env_text.push_back(e);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string capture = options.capture_dir.empty() ? dir : options.capture_dir;
    const std::string out_path = capture + "/.stdout", err_path = capture + "/.stderr";

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(dir.c_str()) != 0) child_fail("chdir");
        int in = options.keep_stdin_open ? in_pipe[0] : open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0 || err < 0) child_fail("standard streams");
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // Only the three standard streams reach the program.
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        if (options.as_unprivileged && geteuid() == 0) {
            if (setgid(NOBODY) != 0 || setuid(NOBODY) != 0) child_fail("setuid");
        }
        if (options.file_size_limit >= 0) {
            rlimit r{static_cast<rlim_t>(options.file_size_limit), static_cast<rlim_t>(options.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &r) != 0) child_fail("RLIMIT_FSIZE");
            signal(SIGXFSZ, SIG_IGN);  // the write fails instead of the process being killed
        }
        if (options.open_files_limit >= 0) {
            rlimit r{static_cast<rlim_t>(options.open_files_limit), static_cast<rlim_t>(options.open_files_limit)};
            if (setrlimit(RLIMIT_NOFILE, &r) != 0) child_fail("RLIMIT_NOFILE");
        }
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        execve(program.c_str(), argv, envp.data());
        child_fail("execve");
    }
    Running run;
    run.pid = pid;
    run.capture_dir = capture;
    if (options.keep_stdin_open) {
        close(in_pipe[0]);
        run.stdin_fd = in_pipe[1];
    }
    return run;
}

Finished finish_run(Running& run, std::chrono::seconds bound) {
    Finished f;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        pid_t r = waitpid(run.pid, &status, WNOHANG);
        if (r == run.pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(run.pid, SIGKILL);
            waitpid(run.pid, &status, 0);
            f.err = "harness: the program did not end within the bound";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (run.stdin_fd >= 0) close(run.stdin_fd);
    run.stdin_fd = -1;
    if (WIFEXITED(status)) f.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) f.signal = WTERMSIG(status);
    f.out = read_file(run.capture_dir + "/.stdout");
    f.err += read_file(run.capture_dir + "/.stderr");
    unlink((run.capture_dir + "/.stdout").c_str());
    unlink((run.capture_dir + "/.stderr").c_str());
    return f;
}

Finished run_program(const std::string& program, const std::string& dir, const RunOptions& options) {
    Running r = start_run(program, dir, options);
    return finish_run(r);
}

std::string make_temp_dir() {
    char tmpl[] = "/tmp/reliability_XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    return tmpl;
}

void remove_tree(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name != "." && name != "..") remove_tree(path + "/" + name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

namespace {

std::string record(const std::string& label, const std::string& value, std::size_t column = 23) {
    std::string r = label;
    r.resize(column, ' ');
    return r + value + "\r\n";
}

std::string despiking_records(const std::string& raw, const std::string& cleaned, int rate_hz) {
    std::string c = "Run configuration\r\n---- despiking ----\r\nRaw series:\r\n";
    c += record("Raw file name", raw, 20);
    c += "Sample rate = record 6 / record 7\r\n";
    c += record("Rate numerator", std::to_string(rate_hz));
    c += record("Rate divisor", "1");
    c += "Instrument\r\n";
    c += record("Height", "0") + record("Angle", "0") + "Not used\r\n";
    for (int k = 0; k < 5; ++k) c += record("Not used", "0");
    c += "---- cleaning ----\r\nOutput:\r\n";
    c += record("Cleaned file name", cleaned);
    c += record("Span start (h)", "0.0") + record("Span end (h)", "0.0") + record("Mean window (s)", "10");
    c += record("O2 SD factor", "3") + record("Acceleration (m/s2)", "5.0") + record("Iterations", "1");
    c += record("Max gap (s)", "1.0");
    return c;
}

}  // namespace

std::string flux_configuration(const std::string& series, const std::string& results, int rate_hz,
                               int interval_seconds, int window_seconds) {
    std::string c = despiking_records("raw.dat", "clean.dat", rate_hz);
    c += "---- flux ----\r\nInput:\r\n";
    c += record("Flux input file", series) + "(not used)\r\n(not used)\r\n";
    c += record("Results file", results);
    c += record("Sample rate (Hz)", std::to_string(rate_hz) + ".0");
    c += record("Flux start (h)", "0") + record("Flux end (h)", "0");
    c += record("Interval (s)", std::to_string(interval_seconds));
    c += record("O2 select", "1") + record("W select", "0");
    c += record("Running window (s)", std::to_string(window_seconds));
    return c + "end\r\n";
}

std::string scrubber_configuration(const std::string& raw, const std::string& cleaned, int rate_hz) {
    return despiking_records(raw, cleaned, rate_hz) + "end\r\n";
}

void write_series(const std::string& path, long n, int rate_hz) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    std::setvbuf(f, nullptr, _IOFBF, 1 << 20);
    std::fputs("TIME X Y Z O21 O22 O21MEAN O22MEAN\r\n", f);
    // Small deterministic wobbles; integer arithmetic keeps generation fast.
    unsigned state = 12345;
    for (long i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        const int a = static_cast<int>((state >> 8) % 2000) - 1000;
        const int b = static_cast<int>((state >> 16) % 600) - 300;
        const long micro_hours = 10000000L + i * 1000000L / (3600L * rate_hz);
        std::fprintf(f, "%ld.%06ld %d.%03d 1.5 %d.%02d 0.1 %d.%d 250.0 240.0\r\n", micro_hours / 1000000L,
                     micro_hours % 1000000L, a / 1000, std::abs(a % 1000), b / 100, std::abs(b % 100),
                     200 + (a & 31), std::abs(b) % 10);
    }
    if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

std::string cached_series(long n, int rate_hz) {
    mkdir(LARGE_INPUT_CACHE, 0755);
    const std::string path = std::string(LARGE_INPUT_CACHE) + "/series8_" + std::to_string(n) + "_" +
                             std::to_string(rate_hz) + ".dat";
    struct stat st {};
    if (stat((path + ".done").c_str(), &st) != 0) {
        // Tests run in parallel may both generate it: each writes its own
        // file and renames it into place whole, so no run reads a half file.
        const std::string tmp = path + ".tmp." + std::to_string(getpid());
        write_series(tmp, n, rate_hz);
        if (rename(tmp.c_str(), path.c_str()) != 0) throw std::runtime_error("rename");
        write_file(path + ".done", "");
    }
    return path;
}

bool whole_records(const std::string& text, std::vector<std::string>* records) {
    if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) return false;
    if (records) {
        records->clear();
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find("\r\n", at);
            records->push_back(text.substr(at, end - at));
            at = end + 2;
        }
    }
    return true;
}

}  // namespace reliability
