#include "text_records.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decimal_digits.h"

namespace flux {

// ============================================================================
// Process state
// ============================================================================

struct OutputFile {
    int fd = -1;
    int unit = 0;
    std::string path;
    char* data = nullptr;       // records not yet handed to the system
    std::size_t capacity = 0;
    std::size_t committed = 0;  // bytes of completed records in data
    bool truncate_pending = false;  // old contents still there until the first record
    bool console = false;           // console lines end with LF alone
    bool failed = false;
};

namespace {

const char* g_tag = "program";
constexpr int MAX_OPEN_OUTPUTS = 32;
OutputFile* g_outputs[MAX_OPEN_OUTPUTS];
volatile std::sig_atomic_t g_output_count = 0;
OutputFile* g_console = nullptr;
// Kept open until the program ends; never destroyed, so exit handlers still see the files.
std::vector<InputFile*>* const g_inputs = new std::vector<InputFile*>;

// A buffer is handed to the system once it holds this much.
constexpr std::size_t FLUSH_THRESHOLD = 1 << 20;
constexpr std::size_t READ_BLOCK = 1 << 20;

// Writes [p, p+n) to fd; returns the bytes written before a failure other than EINTR.
std::size_t write_prefix(int fd, const char* p, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t k = ::write(fd, p + done, n - done);
        if (k < 0) {
            if (errno == EINTR) continue;
            break;
        }
        done += static_cast<std::size_t>(k);
    }
    return done;
}

bool write_all(int fd, const char* p, std::size_t n) { return write_prefix(fd, p, n) == n; }

void write_stderr(std::string_view s) { write_all(2, s.data(), s.size()); }

// Ends the run with a status: the process, or (in process) back to the harness.
[[noreturn]] void end_run(int status) {
#if defined(FLUX_RUNS_RETURN)
    throw RunEnded{status};
#else
    _exit(status);
#endif
}

// Signals are held back while a buffer is written out or moved, so that an
// interrupt never writes a record twice or reads a freed buffer.
struct SignalHold {
    sigset_t old;
    SignalHold() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &old);
    }
    ~SignalHold() { sigprocmask(SIG_SETMASK, &old, nullptr); }
};

// Hands the completed records of one file to the system. Returns false on failure.
bool flush_file(OutputFile* f) {
    if (f->failed || f->committed == 0) return true;
    SignalHold hold;
    const std::size_t written = write_prefix(f->fd, f->data, f->committed);
    const bool ok = written == f->committed;
    if (!ok) {
        f->failed = true;
        // A full disk or a size limit can take part of a record: cut the file
        // back to the end of the last whole record it holds.
        std::size_t whole = written;
        while (whole > 0 && f->data[whole - 1] != '\n') --whole;
        const off_t end = ::lseek(f->fd, 0, SEEK_CUR);
        if (whole < written && end >= 0) (void)::ftruncate(f->fd, end - static_cast<off_t>(written - whole));
    }
    f->committed = 0;
    return ok;
}

void flush_or_fail(OutputFile* f) {
    if (!flush_file(f)) fail_run(FAIL_WRITE, "error during write", f->unit, f->path);
}

// Interrupt handler: only async-signal-safe calls. Buffers are never moved
// while signals are unblocked, so committed bytes are whole records.
void on_interrupt(int sig) {
    const char* event = sig == SIGINT ? "control-C" : sig == SIGQUIT ? "control-BREAK" : "menu-CLOSE";
    char line[160];
    std::size_t n = 0;
    auto put = [&](const char* s) {
        while (*s && n < sizeof line - 2) line[n++] = *s++;
    };
    put(g_tag);
    put(": error (200): program aborting due to ");
    put(event);
    put(" event");
    line[n++] = '\n';
    for (int i = 0; i < g_output_count; ++i) {
        OutputFile* f = g_outputs[i];
        if (!f->failed && f->committed > 0) write_all(f->fd, f->data, f->committed);
    }
    write_all(2, line, n);
    _exit(EXIT_INTERRUPT);
}

OutputFile* register_output(int fd, int unit, std::string path, bool console_file) {
    auto* f = new OutputFile;
    f->fd = fd;
    f->unit = unit;
    f->path = std::move(path);
    f->console = console_file;
    f->capacity = 64 * 1024;
    f->data = static_cast<char*>(std::malloc(f->capacity));
    if (f->data == nullptr) std::abort();
    SignalHold hold;
    if (g_output_count < MAX_OPEN_OUTPUTS) {
        g_outputs[g_output_count] = f;
        g_output_count = g_output_count + 1;
    }
    return f;
}

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Message number of a failed open, from the system's reason.
int open_failure_number(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR: return FAIL_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return FAIL_PERMISSION;
        case ENAMETOOLONG:
        case EINVAL:
        case EILSEQ: return FAIL_NAME;
        case ENXIO:
        case ENODEV: return FAIL_NO_DEVICE;
        default: return FAIL_OPEN;
    }
}

const char* failure_text(int number) {
    switch (number) {
        case FAIL_END_OF_FILE: return "end-of-file during read";
        case FAIL_NOT_FOUND: return "file not found";
        case FAIL_PERMISSION: return "permission to access file denied";
        case FAIL_NAME: return "file name specification error";
        case FAIL_NO_DEVICE: return "no such device";
        case FAIL_CONVERSION: return "input conversion error";
        case FAIL_READ: return "error during read";
        case FAIL_WRITE: return "error during write";
        default: return "open failure";
    }
}

[[noreturn]] void domain_error(const char* function) {
    flush_all();
    write_stderr("\nrun-time error M6201: MATH\n- ");
    write_stderr(function);
    write_stderr(": DOMAIN error\n");
    end_run(EXIT_DOMAIN_ERROR);
}

}  // namespace

void start_program(const char* tag) {
    g_tag = tag;
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigfillset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaction(sig, &sa, nullptr);
}

std::string full_path(std::string_view name) {
    if (!name.empty() && name.front() == '/') return std::string(name);
    char cwd[4096];
    std::string path = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    path += '/';
    path += name;
    return path;
}

void flush_all() {
    for (int i = 0; i < g_output_count; ++i) flush_or_fail(g_outputs[i]);
}

void fail_run(int number, std::string_view text, int unit, std::string_view path) {
    std::string line = g_tag;
    line += ": severe (" + std::to_string(number) + "): ";
    line += text;
    if (unit >= 0) {
        line += ", unit " + std::to_string(unit) + ", file ";
        line += path;
    }
    line += '\n';
    // Completed records first, so nothing written before the failure is lost.
    for (int i = 0; i < g_output_count; ++i) flush_file(g_outputs[i]);
    write_stderr(line);
    end_run(number & 0xFF);
}

void close_run_files() {
    SignalHold hold;
    for (int i = 0; i < g_output_count; ++i) {
        OutputFile* f = g_outputs[i];
        if (f->fd > 2) ::close(f->fd);
        std::free(f->data);
        delete f;
        g_outputs[i] = nullptr;
    }
    g_output_count = 0;
    g_console = nullptr;
    for (InputFile* f : *g_inputs) {
        ::close(f->fd);
        delete f;
    }
    g_inputs->clear();
}

void fail_integer_divide() {
    fail_run(FAIL_INTEGER_DIVIDE, "Program Exception - integer divide by zero", -1, {});
}

double checked_sqrt(double x) {
    if (std::isnan(x) || x < 0.0) domain_error("sqrt");
    return std::sqrt(x);
}
double checked_acos(double x) {
    if (std::isnan(x) || x < -1.0 || x > 1.0) domain_error("acos");
    return std::acos(x);
}
double checked_atan(double x) {
    if (std::isnan(x)) domain_error("atan");
    return std::atan(x);
}

// ============================================================================
// Opening
// ============================================================================

InputFile* open_existing(std::string_view raw_name, int unit) {
    std::string_view name = trim_blanks(raw_name);
    std::string path = full_path(name);
    std::string sys_name(name);
    int fd = ::open(sys_name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int number = open_failure_number(errno);
        fail_run(number, failure_text(number), unit, path);
    }
    auto* f = new InputFile;
    f->fd = fd;
    f->unit = unit;
    f->path = std::move(path);
    // A short file (a configuration) takes a buffer of its own size; the
    // buffer doubles whenever a record does not fit, so this is only a start.
    std::size_t block = READ_BLOCK;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
        static_cast<std::uint64_t>(st.st_size) < READ_BLOCK)
        block = std::max<std::size_t>(static_cast<std::size_t>(st.st_size) + 1, 4096);
    f->buffer.resize(block);
    g_inputs->push_back(f);
    return f;
}

OutputFile* open_for_writing(std::string_view raw_name, int unit) {
    std::string_view name = trim_blanks(raw_name);
    std::string path = full_path(name);
    std::string sys_name(name);
    int fd = ::open(sys_name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        int number = open_failure_number(errno);
        fail_run(number, failure_text(number), unit, path);
    }
    OutputFile* f = register_output(fd, unit, std::move(path), false);
    f->truncate_pending = true;
    return f;
}

OutputFile* console() {
    if (g_console == nullptr) g_console = register_output(1, 6, "/dev/stdout", true);
    return g_console;
}

// ============================================================================
// Output records
// ============================================================================

char* record_space(OutputFile* f, std::size_t bytes) {
    std::size_t need = f->committed + bytes + 2;
    if (need > f->capacity) {
        if (f->committed > 0) flush_or_fail(f);
        need = bytes + 2;
        if (need > f->capacity) {
            SignalHold hold;
            std::size_t cap = f->capacity;
            while (cap < need) cap *= 2;
            char* grown = static_cast<char*>(std::realloc(f->data, cap));
            if (grown == nullptr) std::abort();
            f->data = grown;
            f->capacity = cap;
        }
    }
    return f->data + f->committed;
}

void end_record(OutputFile* f, char* record_end) {
    if (f->truncate_pending) {
        // The old contents are cut off at the first record written.
        f->truncate_pending = false;
        if (::ftruncate(f->fd, 0) != 0) {
            struct stat st {};
            if (::fstat(f->fd, &st) != 0 || S_ISREG(st.st_mode))
                fail_run(FAIL_WRITE, "error during write", f->unit, f->path);
        }
    }
    if (!f->console) *record_end++ = '\r';
    *record_end++ = '\n';
    f->committed = static_cast<std::size_t>(record_end - f->data);
    if (f->committed >= FLUSH_THRESHOLD) flush_or_fail(f);
}

// ============================================================================
// Rendering
// ============================================================================

namespace {

void fill_asterisks(char* out, int w) { std::memset(out, '*', static_cast<std::size_t>(w)); }

// Left-aligned word after one blank, or asterisks when it does not fit.
void render_word(char* out, int w, std::string_view word) {
    if (static_cast<std::size_t>(w) < word.size() + 1) return fill_asterisks(out, w);
    std::memset(out, ' ', static_cast<std::size_t>(w));
    std::memcpy(out + 1, word.data(), word.size());
}

// Lays out the rounded magnitude n (the value times 10^d, as digits) with its
// sign into w columns, following the leading-zero and overflow rules.
void place_digits(char* out, int w, int d, const char* digits, int nd, bool negative) {
    // digits: nd decimal digits of the scaled value, no leading zeros (nd = 0 for zero).
    int int_digits = nd > d ? nd - d : 0;
    int len = (negative ? 1 : 0) + int_digits + 1 + d;
    if (len > w) return fill_asterisks(out, w);
    bool leading_zero = int_digits == 0 && len < w;
    if (leading_zero) ++len;
    int pos = w - len;
    std::memset(out, ' ', static_cast<std::size_t>(pos));
    if (negative) out[pos++] = '-';
    if (leading_zero) out[pos++] = '0';
    std::memcpy(out + pos, digits, static_cast<std::size_t>(int_digits));
    pos += int_digits;
    out[pos++] = '.';
    // Fraction: the last d digits, zero-padded on the left when nd < d.
    int frac_from_digits = nd < d ? nd : d;
    int pad = d - frac_from_digits;
    std::memset(out + pos, '0', static_cast<std::size_t>(pad));
    pos += pad;
    std::memcpy(out + pos, digits + (nd - frac_from_digits), static_cast<std::size_t>(frac_from_digits));
}

bool render_special(char* out, double v, int w) {
    if (std::isnan(v)) {
        render_word(out, w, "NaN");
        return true;
    }
    if (std::isinf(v)) {
        render_word(out, w, v < 0 ? "-Infinity" : "Infinity");
        return true;
    }
    return false;
}

}  // namespace

void render_fixed_plain(char* out, double v, int w, int d) {
    if (render_special(out, v, w)) return;
    // The exact decimal expansion: a double's binary fraction ends within 1074
    // decimal places, so this precision loses nothing.
    static thread_local std::vector<char> text(2000 + 400);
    int n = std::snprintf(text.data(), text.size(), "%.1100f", std::fabs(v));
    const char* point = static_cast<const char*>(std::memchr(text.data(), '.', static_cast<std::size_t>(n)));
    int int_len = static_cast<int>(point - text.data());
    // Digits of the value times 10^d, truncated, then rounded half away from zero.
    std::string digits(text.data(), static_cast<std::size_t>(int_len));
    digits.append(point + 1, static_cast<std::size_t>(d));
    bool up = point[1 + d] >= '5';
    if (up) {
        int i = static_cast<int>(digits.size()) - 1;
        while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9') digits[static_cast<std::size_t>(i--)] = '0';
        if (i >= 0)
            ++digits[static_cast<std::size_t>(i)];
        else
            digits.insert(digits.begin(), '1');
    }
    std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) first = digits.size();
    int nd = static_cast<int>(digits.size() - first);
    place_digits(out, w, d, digits.data() + first, nd, std::signbit(v) && nd > 0);
}

void render_fixed(char* out, double v, int w, int d) {
    // Fast path: v = m * 2^e exactly; the rounded magnitude of v * 10^d is
    // formed in 128-bit integers. m < 2^53 and 10^d < 2^74 for d <= 22, so
    // m * 10^d never exceeds 2^127.
    if (d > MAX_FAST_DECIMALS) return render_fixed_plain(out, v, w, d);
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bool negative = (bits >> 63) != 0;
    int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased == 0x7FF) {
        render_special(out, v, w);
        return;
    }
    std::uint64_t m = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
    int e = biased == 0 ? -1074 : biased - 1075;
    u128 scaled = static_cast<u128>(m) * POW10_128[d];
    u128 n;
    if (e >= 0) {
        // Whole numbers; beyond 2^127 the text cannot fit any field we render here.
        int bitlen = 128 - count_leading_zeros_128(scaled);
        if (scaled != 0 && bitlen + e > 127) return render_fixed_plain(out, v, w, d);
        n = scaled << e;
    } else {
        int s = -e;
        if (s >= 128) {
            n = 0;  // scaled < 2^127 <= 2^(s-1): below one half
        } else {
            u128 q = scaled >> s;
            u128 r = scaled - (q << s);
            u128 half = static_cast<u128>(1) << (s - 1);
            n = q + (r >= half ? 1 : 0);
        }
    }
    char digits[48];
    if (n <= static_cast<u128>(~std::uint64_t{0})) {
        // Usual case: the digits are produced in place, right-aligned.
        int nd = u64_digits_backward(static_cast<std::uint64_t>(n), digits + sizeof digits);
        place_digits(out, w, d, digits + sizeof digits - nd, nd, negative && nd > 0);
        return;
    }
    int nd = u128_to_digits(n, digits);
    place_digits(out, w, d, digits, nd, negative && nd > 0);
}

void render_integer(char* out, std::int64_t v, int w) {
    char digits[24];
    std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    int nd = u128_to_digits(mag, digits);
    if (nd == 0) digits[nd++] = '0';
    int len = nd + (v < 0 ? 1 : 0);
    if (len > w) return fill_asterisks(out, w);
    int pos = w - len;
    std::memset(out, ' ', static_cast<std::size_t>(pos));
    if (v < 0) out[pos++] = '-';
    std::memcpy(out + pos, digits, static_cast<std::size_t>(nd));
}

// ============================================================================
// Layouts
// ============================================================================

namespace {

int parse_count(std::string_view s, std::size_t& i) {
    int n = 0;
    bool any = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        n = n * 10 + (s[i] - '0');
        ++i;
        any = true;
    }
    return any ? n : -1;
}

}  // namespace

Layout parse_layout(std::string_view s) {
    Layout layout;
    std::size_t i = 0;
    auto bad = [&]() { throw std::invalid_argument("bad layout: " + std::string(s)); };
    while (i < s.size()) {
        if (s[i] == ',' || s[i] == ' ') {
            ++i;
            continue;
        }
        if (s[i] == '"' || s[i] == '\'') {
            char quote = s[i++];
            std::size_t close = s.find(quote, i);
            if (close == std::string_view::npos) bad();
            FieldCode c{CodeKind::literal, 0, 0, {}};
            c.literal = std::string(s.substr(i, close - i));
            layout.codes.push_back(c);
            layout.repeat.push_back(1);
            i = close + 1;
            continue;
        }
        int count = parse_count(s, i);
        if (i >= s.size()) bad();
        char letter = s[i++];
        FieldCode c{};
        int repeat = 1;
        switch (letter) {
            case 'X':
                c.kind = CodeKind::skip;
                c.width = count < 0 ? 1 : count;
                break;
            case '/':
                c.kind = CodeKind::next_record;
                c.width = count < 0 ? 1 : count;
                break;
            case 'F':
            case 'I':
            case 'A': {
                repeat = count < 0 ? 1 : count;
                c.kind = letter == 'F' ? CodeKind::real : letter == 'I' ? CodeKind::integer : CodeKind::text;
                c.width = parse_count(s, i);
                if (c.width <= 0) bad();
                if (letter == 'F') {
                    if (i >= s.size() || s[i] != '.') bad();
                    ++i;
                    c.decimals = parse_count(s, i);
                    if (c.decimals < 0) bad();
                }
                break;
            }
            default: bad();
        }
        layout.codes.push_back(c);
        layout.repeat.push_back(repeat);
    }
    return layout;
}

// ============================================================================
// Writing
// ============================================================================

namespace {

std::size_t layout_record_bound(const Layout& layout) {
    std::size_t n = 0;
    for (std::size_t c = 0; c < layout.codes.size(); ++c) {
        const FieldCode& code = layout.codes[c];
        std::size_t r = static_cast<std::size_t>(layout.repeat[c]);
        n += code.kind == CodeKind::literal ? code.literal.size() : static_cast<std::size_t>(code.width) * r;
    }
    return n;
}

}  // namespace

void write_fields(OutputFile* f, const Layout& layout, const FieldValue* values, std::size_t count) {
    std::size_t used = 0;
    const std::size_t bound = layout_record_bound(layout);
    do {
        char* rec = record_space(f, bound);
        std::size_t col = 0, last = 0;
        bool values_done = false;
        auto reach = [&](std::size_t c) {
            if (c > last) std::memset(rec + last, ' ', c - last);
        };
        for (std::size_t c = 0; c < layout.codes.size() && !values_done; ++c) {
            const FieldCode& code = layout.codes[c];
            switch (code.kind) {
                case CodeKind::literal:
                    reach(col);
                    std::memcpy(rec + col, code.literal.data(), code.literal.size());
                    col += code.literal.size();
                    last = std::max(last, col);
                    break;
                case CodeKind::skip: col += static_cast<std::size_t>(code.width); break;
                case CodeKind::real:
                case CodeKind::integer:
                    for (int r = 0; r < layout.repeat[c]; ++r) {
                        if (used == count) {
                            values_done = true;
                            break;
                        }
                        reach(col);
                        const FieldValue& v = values[used++];
                        if (code.kind == CodeKind::real)
                            render_fixed(rec + col, v.is_integer ? v.integer : v.real, code.width, code.decimals);
                        else
                            render_integer(rec + col, v.is_integer ? v.integer : static_cast<std::int64_t>(v.real), code.width);
                        col += static_cast<std::size_t>(code.width);
                        last = std::max(last, col);
                    }
                    break;
                default: break;  // input-only codes
            }
        }
        end_record(f, rec + last);
    } while (used < count);
}

void write_free(OutputFile* f, const std::vector<FreeItem>& items) {
    constexpr std::size_t RECORD = 80;
    std::string line;
    auto emit = [&]() {
        char* rec = record_space(f, line.size());
        std::memcpy(rec, line.data(), line.size());
        end_record(f, rec + line.size());
        line.clear();
    };
    for (const FreeItem& item : items) {
        std::string piece;
        if (item.is_integer) {
            piece.resize(12);
            render_integer(piece.data(), item.integer, 12);
        } else {
            piece = item.text;
        }
        if (line.empty() && !item.is_integer) piece.insert(piece.begin(), ' ');
        if (!line.empty() && line.size() + piece.size() > RECORD) {
            emit();
            if (!item.is_integer) piece.insert(piece.begin(), ' ');
        }
        // A text longer than a whole record continues over several records.
        while (line.size() + piece.size() > RECORD) {
            std::size_t take = RECORD - line.size();
            line.append(piece, 0, take);
            piece.erase(0, take);
            emit();
        }
        line += piece;
    }
    emit();
}

// ============================================================================
// Reading records
// ============================================================================

namespace {

enum class RecordResult { got, end_of_file, error };

// Reads more bytes after the held ones; false when nothing more could be read.
bool fill_more(InputFile* f) {
    if (f->at_eof || f->read_error) return false;
    if (f->begin > 0) {
        std::memmove(f->buffer.data(), f->buffer.data() + f->begin, f->end - f->begin);
        f->end -= f->begin;
        f->begin = 0;
    }
    if (f->end == f->buffer.size()) f->buffer.resize(f->buffer.size() * 2);
    for (;;) {
        ssize_t k = ::read(f->fd, f->buffer.data() + f->end, f->buffer.size() - f->end);
        if (k < 0) {
            if (errno == EINTR) continue;
            f->read_error = true;
            return false;
        }
        if (k == 0) {
            f->at_eof = true;
            return false;
        }
        f->end += static_cast<std::size_t>(k);
        return true;
    }
}

// The next record, without its line end. An unterminated last line and a
// record of byte 26 alone are the end of the file.
RecordResult next_record(InputFile* f, std::string_view& record) {
    std::size_t scan_from = f->begin;
    for (;;) {
        const char* base = f->buffer.data();
        const void* nl = std::memchr(base + scan_from, '\n', f->end - scan_from);
        if (nl != nullptr) {
            std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
            std::size_t len = stop - f->begin;
            if (len > 0 && base[stop - 1] == '\r') --len;
            record = std::string_view(base + f->begin, len);
            if (len == 1 && record[0] == '\x1a') return RecordResult::end_of_file;
            f->begin = stop + 1;
            return RecordResult::got;
        }
        std::size_t held = f->end - f->begin;
        if (!fill_more(f)) return f->read_error ? RecordResult::error : RecordResult::end_of_file;
        scan_from = f->begin + held;
    }
}

void record_or_fail(InputFile* f, std::string_view& record) {
    RecordResult r = next_record(f, record);
    if (r == RecordResult::end_of_file) fail_run(FAIL_END_OF_FILE, failure_text(FAIL_END_OF_FILE), f->unit, f->path);
    if (r == RecordResult::error) fail_run(FAIL_READ, failure_text(FAIL_READ), f->unit, f->path);
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// Converts a normalised decimal text ("-123.45e-6": optional '-', digits,
// optional point, optional e and signed integer) to the nearest value.
// Overflow is an error; underflow gives the nearest subnormal or zero.
template <class T>
bool convert_decimal(const char* first, const char* last, T& out) {
    T value{};
    auto res = std::from_chars(first, last, value, std::chars_format::general);
    if (res.ec == std::errc() && res.ptr == last) {
        out = value;
        return true;
    }
    if (res.ec != std::errc::result_out_of_range || res.ptr != last) return false;
    std::string text(first, last);
    errno = 0;
    T v;
    if constexpr (sizeof(T) == sizeof(float))
        v = std::strtof(text.c_str(), nullptr);
    else
        v = std::strtod(text.c_str(), nullptr);
    if (std::isinf(v)) return false;
    out = v;
    return true;
}

// Checks a free-form or fixed-field number and writes its normalised form
// into buf (returns the length), or -1 when it is not a valid number.
//   optional sign, digits with at most one point (at least one digit), then
//   optionally E/D/Q (either case) and an optionally signed integer; with
//   allow_bare_sign_exponent also a sign followed by an integer (1.5+2).
int normalise_number(std::string_view s, char* buf, int cap, bool allow_bare_sign_exponent, int implied_decimals) {
    std::size_t i = 0;
    int n = 0;
    auto put = [&](char c) {
        if (n < cap) buf[n] = c;
        ++n;
    };
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (neg) put('-');
    int digits = 0, point_at = -1, mant_digits_start = n;
    while (i < s.size()) {
        if (is_digit(s[i])) {
            put(s[i]);
            ++digits;
        } else if (s[i] == '.' && point_at < 0) {
            point_at = digits;
            put('.');
        } else {
            break;
        }
        ++i;
    }
    if (digits == 0) return -1;
    if (point_at < 0 && implied_decimals > 0) {
        // No point: the last d digits are the fraction.
        int int_digits = digits - implied_decimals;
        std::string mant(buf + mant_digits_start, buf + std::min(n, cap));
        n = mant_digits_start;
        if (int_digits <= 0) {
            put('0');
            put('.');
            for (int k = 0; k < -int_digits; ++k) put('0');
            for (char c : mant) put(c);
        } else {
            for (int k = 0; k < digits; ++k) {
                if (k == int_digits) put('.');
                put(mant[static_cast<std::size_t>(k)]);
            }
        }
    }
    if (i < s.size()) {
        char c = s[i];
        bool letter = c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q';
        bool bare_sign = allow_bare_sign_exponent && (c == '+' || c == '-');
        if (!letter && !bare_sign) return -1;
        if (letter) ++i;
        put('e');
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            if (s[i] == '-') put('-');
            ++i;
        }
        int exp_digits = 0;
        while (i < s.size() && is_digit(s[i])) {
            put(s[i++]);
            ++exp_digits;
        }
        if (exp_digits == 0 || i != s.size()) return -1;
    }
    if (n > cap) return -2;
    return n;
}

template <class T>
bool parse_number_text(std::string_view s, bool bare_sign_exponent, int implied_decimals, T& out) {
    char small[128];
    int n = normalise_number(s, small, sizeof small, bare_sign_exponent, implied_decimals);
    if (n == -1) return false;
    if (n == -2) {
        std::vector<char> big(s.size() * 2 + static_cast<std::size_t>(implied_decimals) + 8);
        n = normalise_number(s, big.data(), static_cast<int>(big.size()), bare_sign_exponent, implied_decimals);
        if (n < 0) return false;
        return convert_decimal(big.data(), big.data() + n, out);
    }
    return convert_decimal(small, small + n, out);
}

template <class T>
bool parse_real_text(std::string_view field, int decimals, T& out) {
    // Leading blanks, tabs and the control characters 10..13 are skipped;
    // after that, blanks anywhere are ignored.
    std::size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || (field[i] >= 10 && field[i] <= 13))) ++i;
    std::string text;
    text.reserve(field.size());
    for (; i < field.size(); ++i)
        if (field[i] != ' ') text += field[i];
    if (text.empty()) {
        out = 0;
        return true;
    }
    std::string_view word = text;
    bool neg = false;
    if (word[0] == '+' || word[0] == '-') {
        neg = word[0] == '-';
        word.remove_prefix(1);
    }
    if (iequals(word, "NaN")) {
        out = std::numeric_limits<T>::quiet_NaN();
        return true;
    }
    if (iequals(word, "Infinity")) {
        out = neg ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
        return true;
    }
    return parse_number_text(text, true, decimals, out);
}

}  // namespace

bool parse_real_field(std::string_view field, int decimals, double& out) { return parse_real_text(field, decimals, out); }
bool parse_single_field(std::string_view field, int decimals, float& out) { return parse_real_text(field, decimals, out); }

bool parse_integer_field(std::string_view field, std::int32_t& out) {
    std::int64_t value = 0;
    bool neg = false, sign_seen = false, digit_seen = false;
    for (char c : field) {
        if (c == ' ') continue;
        if ((c == '+' || c == '-') && !sign_seen && !digit_seen) {
            sign_seen = true;
            neg = c == '-';
            continue;
        }
        if (!is_digit(c)) return false;
        digit_seen = true;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return false;
    }
    if (neg) value = -value;
    if (value > 2147483647LL || value < -2147483648LL) return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

void read_fields(InputFile* f, const Layout& layout, const std::vector<FieldTarget>& targets) {
    std::string_view record;
    record_or_fail(f, record);
    std::size_t col = 0, next_target = 0;
    auto columns = [&](std::size_t width, bool numeric) -> std::string_view {
        std::string_view field;
        if (col < record.size()) field = record.substr(col, width);
        std::size_t advance = width;
        if (numeric) {
            std::size_t comma = field.find(',');
            if (comma != std::string_view::npos) {
                field = field.substr(0, comma);
                advance = comma + 1;
            }
        }
        col += advance;
        return field;
    };
    auto conversion_error = [&]() { fail_run(FAIL_CONVERSION, failure_text(FAIL_CONVERSION), f->unit, f->path); };
    for (std::size_t c = 0; c < layout.codes.size() && next_target < targets.size(); ++c) {
        const FieldCode& code = layout.codes[c];
        if (code.kind == CodeKind::next_record) {
            for (int k = 0; k < code.width; ++k) record_or_fail(f, record);
            col = 0;
            continue;
        }
        if (code.kind == CodeKind::skip) {
            col += static_cast<std::size_t>(code.width);
            continue;
        }
        if (code.kind == CodeKind::literal) continue;
        for (int r = 0; r < layout.repeat[c] && next_target < targets.size(); ++r) {
            const FieldTarget& t = targets[next_target++];
            std::size_t w = static_cast<std::size_t>(code.width);
            if (code.kind == CodeKind::text) {
                std::string field(col < record.size() ? record.substr(col, w) : std::string_view{});
                col += w;
                field.resize(w, ' ');
                std::size_t len = static_cast<std::size_t>(t.text_length);
                auto& text = *static_cast<std::string*>(t.variable);
                text = w >= len ? field.substr(w - len) : field + std::string(len - w, ' ');
                continue;
            }
            std::string_view field = columns(w, true);
            bool ok = true;
            switch (t.kind) {
                case TargetKind::real: ok = parse_real_field(field, code.decimals, *static_cast<double*>(t.variable)); break;
                case TargetKind::single: ok = parse_single_field(field, code.decimals, *static_cast<float*>(t.variable)); break;
                case TargetKind::integer:
                    ok = code.kind == CodeKind::integer && parse_integer_field(field, *static_cast<std::int32_t*>(t.variable));
                    break;
                case TargetKind::text: ok = false; break;
            }
            if (!ok) conversion_error();
        }
    }
}

void skip_record(InputFile* f) {
    std::string_view record;
    record_or_fail(f, record);
}

// ============================================================================
// Free-form reading
// ============================================================================

namespace {

inline bool is_value_end(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }

// One value token (no separators inside): a number, r*number or r* (nulls).
// Returns the number of variables it covers, 0 when invalid.
int parse_free_token(std::string_view tok, double& value, bool& is_null) {
    std::size_t star = tok.find('*');
    int repeat = 1;
    is_null = false;
    if (star != std::string_view::npos) {
        std::string_view r = tok.substr(0, star);
        if (r.empty()) return 0;
        long long n = 0;
        for (char c : r) {
            if (!is_digit(c)) return 0;
            n = n * 10 + (c - '0');
            if (n > 1000000000) return 0;
        }
        if (n == 0) return 0;
        repeat = static_cast<int>(n);
        tok = tok.substr(star + 1);
        if (tok.empty()) {
            is_null = true;
            return repeat;
        }
    }
    // Fast path: plain decimal text as from_chars reads it.
    const char* first = tok.data();
    const char* last = first + tok.size();
    if (first != last && *first != '+') {
        bool plain = true;
        for (const char* p = first; p != last; ++p) {
            char c = *p;
            if (!(is_digit(c) || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+')) {
                plain = false;
                break;
            }
        }
        if (plain) {
            // from_chars accepts exactly the plain forms; it rejects "1.", ".",
            // "--1" as it should except "1." and ".5", which it accepts too.
            auto res = std::from_chars(first, last, value, std::chars_format::general);
            if (res.ec == std::errc() && res.ptr == last) return repeat;
        }
    }
    if (!parse_number_text(tok, false, 0, value)) return 0;
    return repeat;
}

}  // namespace

ReadStatus read_free(InputFile* f, double* values, int count) {
    int got = 0;
    bool value_pending_separator = false;  // a comma here separates, not a null
    while (got < count) {
        std::string_view rec;
        const RecordResult r = next_record(f, rec);
        // A failing device is reported, not taken for the end of the data.
        if (r == RecordResult::error) fail_run(FAIL_READ, failure_text(FAIL_READ), f->unit, f->path);
        if (r != RecordResult::got) return ReadStatus::ended;
        const char* p = rec.data();
        const char* end = p + rec.size();
        while (p < end) {
            char c = *p;
            if (c == ' ' || c == '\t') {
                ++p;
                continue;
            }
            if (c == ',') {
                ++p;
                if (value_pending_separator) {
                    value_pending_separator = false;
                } else if (++got == count) {
                    return ReadStatus::ok;  // a null completes the read
                }
                continue;
            }
            if (c == '/') return ReadStatus::ok;
            const char* tok = p;
            while (p < end && !is_value_end(*p)) ++p;
            double v = 0.0;
            bool is_null = false;
            int n = parse_free_token(std::string_view(tok, static_cast<std::size_t>(p - tok)), v, is_null);
            if (n == 0) return ReadStatus::ended;
            for (int k = 0; k < n && got < count; ++k, ++got)
                if (!is_null) values[got] = v;
            value_pending_separator = true;
            if (got == count) return ReadStatus::ok;
        }
    }
    return ReadStatus::ok;
}

// ============================================================================
// Console pause
// ============================================================================

void pause_for_user() {
    OutputFile* out = console();
    for (;;) {
        std::string_view prompt = " Enter a command, or press Enter to continue";
        char* rec = record_space(out, prompt.size());
        std::memcpy(rec, prompt.data(), prompt.size());
        end_record(out, rec + prompt.size());
        flush_all();
        // At most 1024 characters; the rest of a longer line is passed over.
        char line[1026];
        std::size_t n = 0;
        bool ended = false;
        for (;;) {
            char c;
            ssize_t k = ::read(0, &c, 1);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) {
                ended = true;
                break;
            }
            if (n < 1024) line[n++] = c;
            if (c == '\n') break;
        }
        if (n == 0 || line[0] == '\n' || line[0] == '\r') return;  // empty line, or nothing more to read
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
        line[n] = '\0';
        int rc = std::system(line);
        (void)rc;
        if (ended) return;
    }
}

}  // namespace flux
