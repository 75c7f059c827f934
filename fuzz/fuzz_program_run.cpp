// Whole runs of a sanitized program on an arbitrary configuration and series.
// Input: configuration text, a zero byte, series text. The file names in the
// configuration are replaced by names inside the run folder (chosen by the
// byte that stood there), so that a mutated name can never reach a file
// outside it. The run must end within the time bound, with one of the
// program's statuses, without a sanitizer report, and every file it wrote
// must end with a complete record.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

#if defined(PROGRAM_TAVRIN)
constexpr int INPUT_RECORD = 29, INPUT_COLUMN = 23, OUTPUT_RECORD = 32, OUTPUT_COLUMN = 23;
constexpr int ITERATION_RECORD = 0;
#else
constexpr int INPUT_RECORD = 4, INPUT_COLUMN = 20, OUTPUT_RECORD = 19, OUTPUT_COLUMN = 23;
constexpr int ITERATION_RECORD = 25;  // passes are clamped: each is a full scan and a console line
#endif
constexpr std::size_t MAX_SERIES_BYTES = 16 * 1024;
constexpr auto TIME_BOUND = std::chrono::seconds(10);
const int ALLOWED_STATUS[] = {0, 3, 9, 24, 29, 30, 38, 39, 42, 43, 64, 78, 164};

std::string g_dir;

void fatal(const char* what) {
    std::fprintf(stderr, "harness: %s\n", what);
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

char field_byte(const std::string& text, int record, int column) {
    std::size_t b, e;
    if (!find_record(text, record, b, e) || b + static_cast<std::size_t>(column) >= e) return ' ';
    return text[b + static_cast<std::size_t>(column)];
}

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

void clear_run_folder() {
    DIR* d = opendir(g_dir.c_str());
    if (!d) fatal("run folder gone");
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "adir") continue;
        std::string path = g_dir + "/" + name;
        if (unlink(path.c_str()) != 0) fatal("cannot clear the run folder");
    }
    closedir(d);
}

int run_program() {
    pid_t pid = fork();
    if (pid < 0) fatal("fork");
    if (pid == 0) {
        if (chdir(g_dir.c_str()) != 0) _exit(120);
        int in = open("/dev/null", O_RDONLY);
        int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(121);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        close(in);
        close(out);
        close(err);
        rlimit fsize{32 << 20, 32 << 20};
        setrlimit(RLIMIT_FSIZE, &fsize);
        signal(SIGXFSZ, SIG_IGN);  // an over-long file is a write failure, not a kill
        char* argv[] = {const_cast<char*>(PROGRAM_PATH), nullptr};
        char* envp[] = {const_cast<char*>("ASAN_OPTIONS=detect_leaks=0:exitcode=97:abort_on_error=0"),
                        const_cast<char*>("UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=98"),
                        const_cast<char*>("PATH=/usr/bin:/bin"), nullptr};
        execve(PROGRAM_PATH, argv, envp);
        _exit(122);
    }
    const auto deadline = std::chrono::steady_clock::now() + TIME_BOUND;
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0) fatal("waitpid");
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            fatal("the program did not end within the time bound");
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char tmpl[] = "/tmp/fuzz_run_XXXXXX";
    if (!mkdtemp(tmpl)) fatal("mkdtemp");
    g_dir = tmpl;
    mkdir((g_dir + "/adir").c_str(), 0755);
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
    if (ITERATION_RECORD > 0) {
        std::size_t b, e;
        if (find_record(config, ITERATION_RECORD, b, e) && e > b + 23) {
            std::string field = config.substr(b + 23, std::min<std::size_t>(20, e - b - 23));
            std::string digits;
            for (char c : field)
                if (c != ' ') digits += c;
            if (!digits.empty() && digits.size() < 19 && digits.find_first_not_of("0123456789") == std::string::npos &&
                std::stoll(digits) > 20)
                put_field(config, ITERATION_RECORD, 23, "20", 20);
        }
    }

    clear_run_folder();
    write_file(g_dir + "/ConfigTAVRIN.Dat", config);
    write_file(g_dir + "/series.dat", series);

    const int status = run_program();
    const std::string err = read_file(g_dir + "/stderr.txt");
    if (err.find("Sanitizer") != std::string::npos || err.find("runtime error") != std::string::npos) {
        std::fprintf(stderr, "%s\n", err.c_str());
        fatal("sanitizer report from the program");
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "%s\nsignal %d\n", err.c_str(), WTERMSIG(status));
        fatal("the program ended by a signal");
    }
    const int code = WEXITSTATUS(status);
    bool allowed = false;
    for (int s : ALLOWED_STATUS) allowed = allowed || s == code;
    if (!allowed) {
        std::fprintf(stderr, "%s\nstatus %d\n", err.c_str(), code);
        fatal("exit status outside the program's set");
    }
    const bool one_line = !err.empty() && err.find('\n') + 1 == err.size();
    if ((code == 0 && !err.empty()) || (code != 0 && code != 3 && !one_line)) {
        std::fprintf(stderr, "status %d, stderr: '%s'\n", code, err.c_str());
        fatal("a normal end writes nothing on standard error; a failure exactly one line");
    }
    const std::string out = read_file(g_dir + "/stdout.txt");
    if (!out.empty() && out.back() != '\n') fatal("the console ends inside a line");

    // Every file the run wrote ends with a whole record.
    DIR* d = opendir(g_dir.c_str());
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "adir" || name == "ConfigTAVRIN.Dat" || name == "series.dat" ||
            name == "stdout.txt" || name == "stderr.txt")
            continue;
        const std::string text = read_file(g_dir + "/" + name);
        if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) {
            std::fprintf(stderr, "%s: %zu bytes, last record incomplete\n", name.c_str(), text.size());
            fatal("partial record in an output file");
        }
    }
    closedir(d);
    return 0;
}
