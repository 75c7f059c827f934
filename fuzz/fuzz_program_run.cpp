// Whole runs of a program on an arbitrary configuration and series, inside
// the fuzzer's process so that millions of runs fit in an afternoon. The
// program's sources are compiled into this target with its main renamed, and
// the text layer is built so that a run's end throws RunEnded instead of
// ending the process.
//
// Input: configuration text, a zero byte, series text. The file names in the
// configuration are replaced by names inside the run folder (chosen by the
// byte that stood there), so that a mutated name can never reach a file
// outside it. Each run must end with one of the program's statuses, without
// a sanitizer report (reported by the fuzzer itself, with the stack), within
// the fuzzer's -timeout; a normal end writes nothing on standard error and a
// failure exactly one line; every file it wrote ends with a complete record.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <sanitizer/common_interface_defs.h>

#include "run_configuration.h"
#include "text_records.h"

int program_main();  // the program's main, renamed at compile time

namespace {

#if defined(PROGRAM_TAVRIN)
constexpr int INPUT_RECORD = 29, INPUT_COLUMN = 23, OUTPUT_RECORD = 32, OUTPUT_COLUMN = 23;
// Samples per interval are bounded: the program sizes its arrays by them
// (zero-filled, tens of megabytes at the top of the range), while a series of
// at most 16 KB never completes an interval of much more than two thousand
// (a line of separators alone is a sample).
constexpr int RATE_RECORD = 33, INTERVAL_RECORD = 36;
constexpr double MAX_FUZZ_INTERVAL_SAMPLES = 2048;
#else
constexpr int INPUT_RECORD = 4, INPUT_COLUMN = 20, OUTPUT_RECORD = 19, OUTPUT_COLUMN = 23;

#endif
constexpr std::size_t MAX_SERIES_BYTES = 16 * 1024;
// Despiking runs of more passes are not run: each pass is a full scan, a
// console line and a flush, every pass after the first runs the same code on
// the last one's output, and a count in the billions is slow, not wrong.
constexpr std::int32_t MAX_FUZZ_PASSES = 4;
const int ALLOWED_STATUS[] = {0, 3, 9, 24, 29, 30, 38, 39, 42, 43, 64, 78, 164};

std::string g_dir;
int g_home = -1;                  // the fuzzer's working folder
int g_run_stdout = -1, g_run_stderr = -1;  // memory files standing in for the console
int g_saved_stdout = -1, g_saved_stderr = -1;
long long g_program_runs = 0, g_inputs_passed_over = 0;  // reported when the fuzzer ends

int g_report = 2;  // a copy of the fuzzer's standard error, taken before -close_fd_mask moves it

void fatal(const char* what) {
    dprintf(g_report, "harness: %s\n", what);
    std::abort();
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) fatal("cannot write a run file");
}

// Record k (from 1) of text as [begin, end) offsets, end before the LF (and CR).
bool find_record(const std::string& text, int k, std::size_t& begin, std::size_t& end) {
    std::size_t at = 0;
    for (int r = 1; r < k; ++r) {
        std::size_t nl = text.find('\n', at);
        if (nl == std::string::npos) return false;
        at = nl + 1;
    }
    std::size_t nl = text.find('\n', at);
    if (nl == std::string::npos) return false;
    begin = at;
    end = nl > at && text[nl - 1] == '\r' ? nl - 1 : nl;
    return true;
}

void put_field(std::string& text, int record, int column, std::string value, std::size_t width) {
    std::size_t b, e;
    if (!find_record(text, record, b, e)) return;
    std::string rec = text.substr(b, e - b);
    if (rec.size() < static_cast<std::size_t>(column) + width) rec.resize(static_cast<std::size_t>(column) + width, ' ');
    value.resize(width, ' ');
    rec.replace(static_cast<std::size_t>(column), width, value);
    text.replace(b, e - b, rec);
}

// The width bytes of a record from column on, blank-padded like a fixed-field read.
std::string field_text(const std::string& text, int record, int column, std::size_t width) {
    std::size_t b, e;
    std::string field;
    if (find_record(text, record, b, e) && b + static_cast<std::size_t>(column) < e)
        field = text.substr(b + static_cast<std::size_t>(column), std::min(width, e - b - static_cast<std::size_t>(column)));
    field.resize(width, ' ');
    return field;
}

char field_byte(const std::string& text, int record, int column) { return field_text(text, record, column, 1)[0]; }

std::string input_name(char selector) {
    switch (static_cast<unsigned char>(selector) % 8) {
        case 5: return "missing.dat";
        case 6: return "adir";  // a folder: opens, then cannot be read
        case 7: return "";
        default: return "series.dat";
    }
}

std::string output_name(char selector) {
    switch (static_cast<unsigned char>(selector) % 8) {
        case 5: return "nodir/out.dat";
        case 6: return "adir";
        case 7: return "";
        default: return "out.dat";
    }
}

// Removes every file of the run folder but the standing subfolder; false
// when the folder cannot be read or a file cannot be removed.
bool unlink_run_files() {
    DIR* d = opendir(g_dir.c_str());
    if (!d) return false;
    bool ok = true;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "adir") continue;
        ok = unlink((g_dir + "/" + name).c_str()) == 0 && ok;
    }
    closedir(d);
    return ok;
}

void clear_run_folder() {
    if (!unlink_run_files()) fatal("cannot clear the run folder");
}

std::string read_descriptor(int fd) {
    std::string text;
    char block[4096];
    for (off_t at = 0;;) {
        ssize_t k = ::pread(fd, block, sizeof block, at);
        if (k <= 0) break;
        text.append(block, static_cast<std::size_t>(k));
        at += k;
    }
    return text;
}

void reset_memory_file(int fd) {
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) fatal("cannot reset a console file");
}

// One run with the console on the memory files and the run folder as the
// working folder; the interrupt handlers the program installs are put back.
int run_program() {
    reset_memory_file(g_run_stdout);
    reset_memory_file(g_run_stderr);
    struct sigaction saved[4];
    const int signals[4] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
    for (int i = 0; i < 4; ++i) sigaction(signals[i], nullptr, &saved[i]);
    if (chdir(g_dir.c_str()) != 0) fatal("chdir to the run folder");
    dup2(g_run_stdout, 1);
    dup2(g_run_stderr, 2);
    int status = 0;
    try {
        status = program_main();
    } catch (const flux::RunEnded& e) {
        status = e.status;
    }
    flux::close_run_files();
    dup2(g_saved_stdout, 1);
    dup2(g_saved_stderr, 2);
    if (fchdir(g_home) != 0) fatal("fchdir back");
    for (int i = 0; i < 4; ++i) sigaction(signals[i], &saved[i], nullptr);
    return status;
}

// The pass count as the program itself reads it from the run folder's
// configuration (fields may end at a comma, blanks are ignored...), so that
// no rewriting of the text can miss a form the reader accepts.
[[maybe_unused]] bool too_many_passes() {
    flux::ScrubberSettings settings;
    bool over = false;
    dup2(g_run_stderr, 2);  // a configuration that cannot be read reports on the run's console
    try {
        flux::read_scrubber_records(flux::open_existing(g_dir + "/" + flux::CONFIGURATION_FILE_NAME,
                                                        flux::CONFIGURATION_UNIT),
                                    settings);
        over = settings.iteration_count > MAX_FUZZ_PASSES;
    } catch (const flux::RunEnded&) {
    }
    flux::close_run_files();
    dup2(g_saved_stderr, 2);
    return over;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The run's console takes descriptor 2 while it runs, so the fuzzer's own
    // output and the sanitizer reports must go elsewhere: -close_fd_mask=2
    // moves them to a copy of standard error. Added unless given.
    bool has_mask = false;
    for (int i = 1; i < *argc; ++i) has_mask = has_mask || std::strncmp((*argv)[i], "-close_fd_mask=", 15) == 0;
    if (!has_mask) {
        static std::vector<char*> args;
        args.assign(*argv, *argv + *argc);
        args.insert(args.begin() + 1, const_cast<char*>("-close_fd_mask=2"));
        args.push_back(nullptr);
        *argv = args.data();
        *argc += 1;
    }
    g_report = fcntl(2, F_DUPFD_CLOEXEC, 10);
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/fuzz_run_XXXXXX";
    if (!mkdtemp(tmpl.data())) fatal("mkdtemp");
    g_dir = tmpl;
    mkdir((g_dir + "/adir").c_str(), 0755);
    g_home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    g_run_stdout = memfd_create("run_stdout", MFD_CLOEXEC);
    g_run_stderr = memfd_create("run_stderr", MFD_CLOEXEC);
    if (g_home < 0 || g_run_stdout < 0 || g_run_stderr < 0) fatal("set-up");
    std::atexit([] {
        dprintf(g_report, "harness: %lld program runs, %lld inputs passed over\n", g_program_runs,
                g_inputs_passed_over);
        // The run folder goes with the fuzzer (a finding keeps its input, not the folder).
        unlink_run_files();
        rmdir((g_dir + "/adir").c_str());
        rmdir(g_dir.c_str());
    });
    int null_in = open("/dev/null", O_RDONLY);  // the despiking pause reads standard input
    dup2(null_in, 0);
    close(null_in);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    std::size_t zero = all.find('\0');
    std::string config(all.substr(0, zero));
    std::string_view series = zero == std::string_view::npos ? std::string_view{} : all.substr(zero + 1);
    if (series.size() > MAX_SERIES_BYTES) series = series.substr(0, MAX_SERIES_BYTES);

    put_field(config, INPUT_RECORD, INPUT_COLUMN, input_name(field_byte(config, INPUT_RECORD, INPUT_COLUMN)), 20);
    put_field(config, OUTPUT_RECORD, OUTPUT_COLUMN, output_name(field_byte(config, OUTPUT_RECORD, OUTPUT_COLUMN)),
              20);
#if defined(PROGRAM_TAVRIN)
    {
        double rate = 0;
        std::int32_t seconds = 0;
        if (flux::parse_real_field(field_text(config, RATE_RECORD, 23, 8), 0, rate) &&
            flux::parse_integer_field(field_text(config, INTERVAL_RECORD, 23, 8), seconds) && rate >= 1 &&
            seconds >= 1) {
            const double whole = std::trunc(rate);
            const double samples = whole * seconds;
            if (samples > MAX_FUZZ_INTERVAL_SAMPLES && samples <= 1e6) {
                if (whole <= MAX_FUZZ_INTERVAL_SAMPLES) {
                    put_field(config, INTERVAL_RECORD, 23, std::to_string(static_cast<int>(MAX_FUZZ_INTERVAL_SAMPLES / whole)), 8);
                } else {
                    put_field(config, RATE_RECORD, 23, "2048.", 8);
                    put_field(config, INTERVAL_RECORD, 23, "1", 8);
                }
            }
        }
    }
#endif
    clear_run_folder();
    write_file(g_dir + "/ConfigTAVRIN.Dat", config);
    write_file(g_dir + "/series.dat", series);

    // Descriptors 1 and 2 as the fuzzer left them (2 is /dev/null after -close_fd_mask).
    if (g_saved_stdout < 0) {
        g_saved_stdout = fcntl(1, F_DUPFD_CLOEXEC, 10);
        g_saved_stderr = fcntl(2, F_DUPFD_CLOEXEC, 10);
    }
#if !defined(PROGRAM_TAVRIN)
    if (too_many_passes()) {
        ++g_inputs_passed_over;
        return -1;  // not run, not kept in the corpus
    }
#endif
    const int code = run_program();
    ++g_program_runs;
    const std::string err = read_descriptor(g_run_stderr);
    bool allowed = false;
    for (int s : ALLOWED_STATUS) allowed = allowed || s == code;
    if (!allowed) {
        dprintf(g_report, "%s\nstatus %d\n", err.c_str(), code);
        fatal("exit status outside the program's set");
    }
    const bool one_line = !err.empty() && err.find('\n') + 1 == err.size();
    if ((code == 0 && !err.empty()) || (code != 0 && code != 3 && !one_line)) {
        dprintf(g_report, "status %d, stderr: '%s'\n", code, err.c_str());
        fatal("a normal end writes nothing on standard error; a failure exactly one line");
    }
    const std::string out = read_descriptor(g_run_stdout);
    if (!out.empty() && out.back() != '\n') fatal("the console ends inside a line");

    // Every file the run wrote ends with a whole record.
    DIR* d = opendir(g_dir.c_str());
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "adir" || name == "ConfigTAVRIN.Dat" || name == "series.dat")
            continue;
        const std::string text = read_file(g_dir + "/" + name);
        if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) {
            dprintf(g_report, "%s: %zu bytes, last record incomplete\n", name.c_str(), text.size());
            fatal("partial record in an output file");
        }
    }
    closedir(d);
    return 0;
}
