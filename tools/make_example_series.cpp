// make_example_series: writes a synthetic raw series of a benthic deployment,
// a ConfigTAVRIN.Dat that runs the despiking and the flux program on it, and a
// truth file with what the chain should recover.
//
// The model, per sample at a fixed integer rate:
//   - a mean horizontal current that turns with the M2 tide (tidal ellipse);
//   - turbulence in x, y and z as sums of unit-variance AR(1) processes with
//     time constants spaced by factors of two and variances growing as
//     tau^(2/3), which gives a red spectrum falling roughly as f^(-5/3);
//     z keeps only the shorter time constants (the bed limits vertical eddies);
//   - an O2 signal: tidal swing, independent fast fluctuations, and a part
//     proportional to the fastest z processes, scaled so that the covariance
//     of z (m/s) and O2 (uM) times 86400 is the planted flux;
//   - the O2 sensor answers late by a pure delay (the planted lag);
//   - white sensor noise, single-sample spikes in one velocity component or
//     one O2 sensor, and runs of missing velocity (x = y = z = -99.0).
// The flux sits in eddies of 0.2 s and faster, so a running-mean removal of a
// few seconds keeps most of it; the truth file gives the exact expected
// fraction for the configured window.
//
// Everything is driven by one integer generator seeded from --seed, so a seed
// gives the same bytes on every run.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double SECONDS_PER_DAY = 86400.0;
constexpr double M2_PERIOD_HOURS = 12.4206;
constexpr double MISSING = -99.0;
constexpr int MAX_SEARCH_RUN = 900;  // keep missing runs well inside the despiker's end search

struct Options {
    int rate = 64;                 // samples per second
    double hours = 3.0;            // duration
    long long samples = -1;        // exact sample count, overrides hours
    double start_hours = 10.0;     // time of the first sample
    std::uint64_t seed = 1;
    double flux = -20.0;           // mmol m-2 d-1
    double lag = 0.5;              // O2 sensor delay, s
    double spikes_per_minute = 2.0;       // velocity and O2 spikes, each
    double short_gaps_per_minute = 1.0;   // 1..0.25 s of missing velocity
    double long_gaps_per_hour = 2.0;      // 2..8 s of missing velocity
    int interval_seconds = 900;
    int window_seconds = 2;
    double max_gap_seconds = 1.0;
    std::string out = "raw.dat";
    std::string config = "ConfigTAVRIN.Dat";
    std::string truth = "";
    std::string clean_name = "clean.dat";
    std::string results_name = "results.dat";
};

[[noreturn]] void usage(const char* why) {
    if (why) std::fprintf(stderr, "make_example_series: %s\n", why);
    std::fprintf(stderr,
                 "usage: make_example_series [options]\n"
                 "  --rate HZ            integer sample rate (64)\n"
                 "  --hours H            duration in hours (3)\n"
                 "  --samples N          exact number of samples (overrides --hours)\n"
                 "  --start H            time of the first sample, hours (10)\n"
                 "  --seed N             random seed (1)\n"
                 "  --flux F             planted O2 flux, mmol m-2 d-1 (-20)\n"
                 "  --lag S              O2 sensor delay, seconds (0.5)\n"
                 "  --spike-rate R       velocity spikes and O2 spikes per minute, each (2)\n"
                 "  --gap-rate R         short missing runs per minute (1)\n"
                 "  --long-gap-rate R    long missing runs per hour (2)\n"
                 "  --interval S         flux interval written to the configuration (900)\n"
                 "  --window S           running-mean window of the flux program (2)\n"
                 "  --max-gap S          longest missing run filled without a warning (1.0)\n"
                 "  --out PATH           raw series file (raw.dat)\n"
                 "  --config PATH        configuration file (ConfigTAVRIN.Dat)\n"
                 "  --truth PATH         also write the expected results here\n"
                 "  --clean-name NAME    cleaned file named in the configuration (clean.dat)\n"
                 "  --results-name NAME  results table named in the configuration (results.dat)\n");
    std::exit(2);
}

double parse_double(const char* s, const char* what) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s, &end);
    if (errno != 0 || end == s || *end != '\0' || !std::isfinite(v)) usage(what);
    return v;
}

long long parse_integer(const char* s, const char* what) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0') usage(what);
    return v;
}

Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") usage(nullptr);
        if (i + 1 >= argc) usage(("missing value after " + a).c_str());
        const char* v = argv[++i];
        if (a == "--rate") o.rate = static_cast<int>(parse_integer(v, "bad --rate"));
        else if (a == "--hours") o.hours = parse_double(v, "bad --hours");
        else if (a == "--samples") o.samples = parse_integer(v, "bad --samples");
        else if (a == "--start") o.start_hours = parse_double(v, "bad --start");
        else if (a == "--seed") o.seed = static_cast<std::uint64_t>(parse_integer(v, "bad --seed"));
        else if (a == "--flux") o.flux = parse_double(v, "bad --flux");
        else if (a == "--lag") o.lag = parse_double(v, "bad --lag");
        else if (a == "--spike-rate") o.spikes_per_minute = parse_double(v, "bad --spike-rate");
        else if (a == "--gap-rate") o.short_gaps_per_minute = parse_double(v, "bad --gap-rate");
        else if (a == "--long-gap-rate") o.long_gaps_per_hour = parse_double(v, "bad --long-gap-rate");
        else if (a == "--interval") o.interval_seconds = static_cast<int>(parse_integer(v, "bad --interval"));
        else if (a == "--window") o.window_seconds = static_cast<int>(parse_integer(v, "bad --window"));
        else if (a == "--max-gap") o.max_gap_seconds = parse_double(v, "bad --max-gap");
        else if (a == "--out") o.out = v;
        else if (a == "--config") o.config = v;
        else if (a == "--truth") o.truth = v;
        else if (a == "--clean-name") o.clean_name = v;
        else if (a == "--results-name") o.results_name = v;
        else usage(("unknown option " + a).c_str());
    }
    if (o.rate < 1 || o.rate > 10000) usage("--rate must be 1..10000");
    if (o.samples < 0) o.samples = static_cast<long long>(std::llround(o.hours * 3600.0 * o.rate));
    if (o.samples < 1) usage("the series needs at least one sample");
    if (o.start_hours < 0.0 || o.start_hours + o.samples / (3600.0 * o.rate) >= 1000.0)
        usage("times must stay within 0..1000 hours");
    if (o.lag < 0.0) usage("--lag must not be negative");
    if (o.spikes_per_minute < 0 || o.short_gaps_per_minute < 0 || o.long_gaps_per_hour < 0)
        usage("rates must not be negative");
    if (o.interval_seconds < 1 || o.window_seconds < 1 || o.window_seconds > 9999)
        usage("--interval and --window must be positive");
    if (o.clean_name.size() > 20 || o.results_name.size() > 20 || o.clean_name.empty() || o.results_name.empty())
        usage("configured names hold 1 to 20 characters");
    return o;
}

std::string base_name(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---- random numbers ------------------------------------------------------------

std::uint64_t splitmix64(std::uint64_t& s) {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

struct Rng {  // xoshiro256**
    std::uint64_t s[4];
    explicit Rng(std::uint64_t seed) {
        for (auto& w : s) w = splitmix64(seed);
    }
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t next() {
        std::uint64_t r = rotl(s[1] * 5, 7) * 9;
        std::uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return r;
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    // Unit-variance, zero-mean deviate: the sum of four 16-bit uniforms. Its
    // tails stop at 3.46 sigma, which keeps the turbulence itself from ever
    // looking like a spike; the AR(1) filters make the sums near Gaussian.
    double normal() {
        std::uint64_t r = next();
        unsigned sum = static_cast<unsigned>(r & 0xFFFF) + static_cast<unsigned>((r >> 16) & 0xFFFF) +
                       static_cast<unsigned>((r >> 32) & 0xFFFF) + static_cast<unsigned>(r >> 48);
        constexpr double SD = 37837.2265;  // sqrt(4 * (65536^2 - 1) / 12)
        return (static_cast<double>(sum) - 131070.0) / SD;
    }
};

// ---- turbulence ------------------------------------------------------------------

struct Ar1 {
    double phi, gain, sigma, state;
};

// Unit-variance AR(1) with time constant tau at the given rate, scaled by sigma.
Ar1 make_ar1(double tau_seconds, double sigma, int rate, Rng& rng) {
    double phi = std::exp(-1.0 / (tau_seconds * rate));
    return {phi, std::sqrt(1.0 - phi * phi), sigma, rng.normal()};
}

// Time constants 0.05 s * 2^k; variances proportional to tau^(2/3), scaled to total_sd.
std::vector<Ar1> make_spectrum(int count, double total_sd, int rate, Rng& rng) {
    std::vector<double> share(count);
    double sum = 0.0;
    for (int k = 0; k < count; ++k) sum += share[k] = std::pow(0.05 * std::ldexp(1.0, k), 2.0 / 3.0);
    std::vector<Ar1> out;
    for (int k = 0; k < count; ++k)
        out.push_back(make_ar1(0.05 * std::ldexp(1.0, k), total_sd * std::sqrt(share[k] / sum), rate, rng));
    return out;
}

// ---- fast fixed-point output -----------------------------------------------------

struct Writer {
    std::FILE* f;
    std::string path;
    std::vector<char> buf = std::vector<char>(1 << 22);
    std::size_t used = 0;
    void flush() {
        if (used && std::fwrite(buf.data(), 1, used, f) != used) {
            std::fprintf(stderr, "make_example_series: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            std::exit(1);
        }
        used = 0;
    }
    char* room(std::size_t n) {
        if (used + n > buf.size()) flush();
        return buf.data() + used;
    }
};

constexpr std::int64_t POW10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

char* put_unsigned(char* p, std::uint64_t v) {
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *p++ = tmp[--n];
    return p;
}

// v rounded to d decimals (d <= 8), no exponent, no minus sign on a zero.
char* put_fixed(char* p, double v, int d) {
    double scaled = v * static_cast<double>(POW10[d]);
    auto q = static_cast<std::int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    if (q < 0) {
        *p++ = '-';
        q = -q;
    }
    p = put_unsigned(p, static_cast<std::uint64_t>(q / POW10[d]));
    if (d > 0) {
        *p++ = '.';
        std::int64_t frac = q % POW10[d];
        for (int i = d - 1; i >= 0; --i) {
            p[i] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        p += d;
    }
    return p;
}

// ---- expected results --------------------------------------------------------------

// Cross-covariance of z at sample a with the recorded O2 at sample a + m, as a
// flux: the planted flux spread over the correlated processes by their share,
// each falling off as phi^|m - lag|.
struct CrossCovariance {
    std::vector<double> weight, phi;
    long lag_samples;
    double operator()(long m) const {
        double c = 0.0;
        long d = std::labs(m - lag_samples);
        for (std::size_t k = 0; k < weight.size(); ++k) c += weight[k] * std::pow(phi[k], static_cast<double>(d));
        return c;
    }
};

// Expected flux at shift d after removing the centred running mean of L
// samples from both series (interior of an interval). The window of sample i
// covers offsets h-L+1 .. h, h = L/2.
double expected_running(const CrossCovariance& c, long d, long L) {
    long h = L / 2;
    double single = 0.0;
    for (long u = h - L + 1; u <= h; ++u) single += c(d + u) + c(d - u);
    double pair = 0.0;  // sum over u, v of c(d + v - u): offset m occurs L - |m| times
    for (long m = -(L - 1); m <= L - 1; ++m) pair += static_cast<double>(L - std::labs(m)) * c(d + m);
    return c(d) - single / static_cast<double>(L) + pair / (static_cast<double>(L) * static_cast<double>(L));
}

// ---- configuration -----------------------------------------------------------------

// A value that fits a field of the given width, with as many decimals as fit.
std::string fit_number(double v, int width) {
    for (int d = 8; d >= 0; --d) {
        char b[64];
        if (d > 0) std::snprintf(b, sizeof b, "%.*f", d, v);
        else std::snprintf(b, sizeof b, "%.0f.", v);
        if (static_cast<int>(std::strlen(b)) <= width) return b;
    }
    usage("a configuration value does not fit its field");
}

std::string record(const std::string& label, int value_column, const std::string& value, int width,
                   const std::string& note) {
    std::string r = label;
    r.resize(static_cast<std::size_t>(value_column - 1), ' ');
    std::string v = value;
    v.resize(static_cast<std::size_t>(width), ' ');
    return r + v + "  " + note;
}

void write_configuration(const Options& o, const std::string& raw_name, double span_start, double span_end,
                         double acceleration_limit) {
    std::vector<std::string> r;
    auto val = [&](const std::string& label, const std::string& value, int width, int rec) {
        r.push_back(record(label, 24, value, width, "! record " + std::to_string(rec)));
    };
    r.push_back("ConfigTAVRIN.Dat written by make_example_series (seed " + std::to_string(o.seed) + ")");
    r.push_back("---------------- despiking program ----------------");
    r.push_back("Raw series file:");
    r.push_back(record("Raw data file name", 21, raw_name, 20, "! record 4"));
    r.push_back("Sample rate = record 6 / record 7");
    val("Sample rate numerator", std::to_string(o.rate), 20, 6);
    val("Sample rate divisor", "1", 20, 7);
    r.push_back("Instrument (not used)");
    val("Sensor height (cm)", "15", 12, 9);
    val("Sensor angle (deg)", "0.0", 12, 10);
    r.push_back("Not used");
    for (int rec = 12; rec <= 16; ++rec) val("Not used", "0", 12, rec);
    r.push_back("---------------- cleaning ----------------");
    r.push_back("Output:");
    val("Cleaned file name", o.clean_name, 20, 19);
    val("Span start (h)", fit_number(span_start, 12), 12, 20);
    val("Span end (h)", fit_number(span_end, 12), 12, 21);
    val("O2 mean window (s)", std::to_string(o.window_seconds), 20, 22);
    val("O2 SD factor", "5.0", 12, 23);
    val("Accel. limit (m/s2)", fit_number(acceleration_limit, 12), 12, 24);
    val("Iterations", "3", 20, 25);
    val("Max gap (s)", fit_number(o.max_gap_seconds, 12), 12, 26);
    r.push_back("---------------- flux program ----------------");
    r.push_back("Input:");
    val("Flux input file", o.clean_name, 20, 29);
    r.push_back("(not used)");
    r.push_back("(not used)");
    val("Results file", o.results_name, 20, 32);
    val("Sample rate (Hz)", fit_number(o.rate, 8), 8, 33);
    val("Flux start time (h)", "0", 8, 34);
    val("Flux end time (h)", "0", 8, 35);
    val("Interval (s)", std::to_string(o.interval_seconds), 8, 36);
    val("O2 select (1: val 6)", "1", 1, 37);
    val("W select (1: val 5)", "0", 1, 38);
    val("Running window (s)", std::to_string(o.window_seconds), 4, 39);
    r.push_back("end of configuration");

    std::FILE* f = std::fopen(o.config.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "make_example_series: cannot create %s: %s\n", o.config.c_str(), std::strerror(errno));
        std::exit(1);
    }
    for (auto& line : r) std::fprintf(f, "%s\r\n", line.c_str());
    if (std::fclose(f) != 0) {
        std::fprintf(stderr, "make_example_series: cannot write %s\n", o.config.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse_options(argc, argv);
    std::string raw_name = base_name(o.out);
    if (raw_name.empty() || raw_name.size() > 20) usage("the raw file name must hold 1 to 20 characters");

    const int rate = o.rate;
    const long long n = o.samples;
    const double dt_hours = 1.0 / (3600.0 * rate);
    const long lag_samples = std::lround(o.lag * rate);
    if (lag_samples > 2 * rate)
        std::fprintf(stderr, "make_example_series: warning: a lag beyond 2 s is outside the flux program's search\n");

    Rng rng(o.seed);

    // Turbulence. z keeps eddies up to 6.4 s; the three fastest carry the flux.
    std::vector<Ar1> tx = make_spectrum(13, 1.0, rate, rng);
    std::vector<Ar1> ty = make_spectrum(13, 1.0, rate, rng);
    std::vector<Ar1> tz = make_spectrum(8, 0.6, rate, rng);
    constexpr int FLUX_PROCESSES = 3;
    Ar1 o2_own = make_ar1(0.3, 0.15, rate, rng);  // O2 fluctuations unrelated to z

    // z in cm/s, O2 in uM: a flux F needs cov(z, O2) = F * 100 / 86400.
    double corr_variance = 0.0;
    for (int k = 0; k < FLUX_PROCESSES; ++k) corr_variance += tz[k].sigma * tz[k].sigma;
    const double gamma = o.flux * 100.0 / SECONDS_PER_DAY / corr_variance;  // uM per cm/s
    double o2_coupling[FLUX_PROCESSES];
    CrossCovariance cross;
    cross.lag_samples = lag_samples;
    for (int k = 0; k < FLUX_PROCESSES; ++k) {
        o2_coupling[k] = gamma * tz[k].sigma;
        cross.weight.push_back(o.flux * tz[k].sigma * tz[k].sigma / corr_variance);
        cross.phi.push_back(tz[k].phi);
    }

    // Sensor delay: the recorded O2 at sample i is the true O2 at sample i - lag.
    std::vector<double> delay(static_cast<std::size_t>(lag_samples) + 1, 0.0);
    auto true_o2_part = [&]() {
        double v = o2_own.sigma * o2_own.state;
        for (int k = 0; k < FLUX_PROCESSES; ++k) v += o2_coupling[k] * tz[k].state;
        return v;
    };
    auto step = [&](Ar1& a) { a.state = a.phi * a.state + a.gain * rng.normal(); };
    auto advance = [&]() {
        for (auto& a : tx) step(a);
        for (auto& a : ty) step(a);
        for (auto& a : tz) step(a);
        step(o2_own);
    };
    // Fill the delay line so that the first recorded O2 already lags.
    for (long k = 0; k < lag_samples; ++k) {
        delay[static_cast<std::size_t>(k)] = true_o2_part();
        advance();
    }

    // Events: no spike or gap within the first and last two seconds, and at
    // least four clean samples between events, so each spike is replaced once
    // and each missing run is filled from good neighbours.
    const double per_sample_minute = 1.0 / (60.0 * rate);
    const double p_long_gap = o.long_gaps_per_hour / (3600.0 * rate);
    const double p_short_gap = o.short_gaps_per_minute * per_sample_minute;
    const double p_velocity_spike = o.spikes_per_minute * per_sample_minute;
    const double p_o2_spike = o.spikes_per_minute * per_sample_minute;
    const long long guard = 2LL * rate + 8;
    const double velocity_noise = 0.2, o2_noise = 0.05;  // cm/s, uM
    // The despiker's acceleration limit, set so that a jump of 4 cm/s between
    // neighbours is a spike at any rate; turbulence and noise stay far below it.
    const double jump_cm_s = 4.0;
    const double acceleration_limit = jump_cm_s / 100.0 * rate;  // m/s2

    long long velocity_spikes = 0, o2_spikes = 0, short_gaps = 0, long_gaps = 0, violations = 0, missing = 0;
    long long quiet_until = guard;  // first sample where an event may start
    long long gap_end = -1;         // samples < gap_end are missing

    std::FILE* f = std::fopen(o.out.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "make_example_series: cannot create %s: %s\n", o.out.c_str(), std::strerror(errno));
        return 1;
    }
    Writer w{f, o.out};
    static const char HEADING[] = "TIME(H) X(CM/S) Y(CM/S) Z(CM/S) O21(UM) O22(UM) CORR(%) TEMP(C)\r\n";
    std::memcpy(w.room(sizeof HEADING - 1), HEADING, sizeof HEADING - 1);
    w.used += sizeof HEADING - 1;

    const double tide_rad_per_hour = 2.0 * std::acos(-1.0) / M2_PERIOD_HOURS;
    const double tide_phase = rng.uniform() * 2.0 * std::acos(-1.0);
    std::size_t delay_pos = static_cast<std::size_t>(lag_samples);  // next free slot after the warm-up

    for (long long i = 0; i < n; ++i) {
        const double t = o.start_hours + static_cast<double>(i) * dt_hours;
        const double phase = tide_rad_per_hour * (t - o.start_hours) + tide_phase;
        const double c = std::cos(phase), s = std::sin(phase);

        // The mean current traces a tidal ellipse: 2..6 cm/s, turning once a cycle.
        double x = 1.0 + 5.0 * c, y = 0.5 + 3.0 * s, z = 0.0;
        for (auto& a : tx) x += a.sigma * a.state;
        for (auto& a : ty) y += a.sigma * a.state;
        for (auto& a : tz) z += a.sigma * a.state;
        x += velocity_noise * rng.normal();
        y += velocity_noise * rng.normal();
        z += velocity_noise * rng.normal();

        const double o2_base = 250.0 + 8.0 * s;
        delay[delay_pos] = true_o2_part();
        const double o2_fluct = delay[(delay_pos + 1) % delay.size()];
        delay_pos = (delay_pos + 1) % delay.size();
        double o21 = o2_base + o2_fluct + o2_noise * rng.normal();
        double o22 = o2_base + 3.0 + o2_fluct + o2_noise * rng.normal();

        bool gap = i < gap_end;
        if (!gap && i >= quiet_until && i < n - guard) {
            double u = rng.uniform();
            if ((u -= p_long_gap) < 0) {
                long long m = 2LL * rate + static_cast<long long>(rng.uniform() * 6.0 * rate);
                if (m > MAX_SEARCH_RUN) m = MAX_SEARCH_RUN;
                if (i + m >= n - guard) m = n - guard - i - 1;
                if (m >= 1) {
                    gap_end = i + m;
                    gap = true;
                    ++long_gaps;
                }
            } else if ((u -= p_short_gap) < 0) {
                long long m = 1 + static_cast<long long>(rng.uniform() * (rate / 4.0));
                gap_end = i + m;
                gap = true;
                ++short_gaps;
            } else if ((u -= p_velocity_spike) < 0) {
                double size = (2.5 + 3.5 * rng.uniform()) * jump_cm_s * (rng.next() & 1 ? 1.0 : -1.0);
                switch (rng.next() % 3) {
                    case 0: x += size; break;
                    case 1: y += size; break;
                    default: z += size; break;
                }
                ++velocity_spikes;
                quiet_until = i + 5;
            } else if ((u -= p_o2_spike) < 0) {
                double size = (30.0 + 50.0 * rng.uniform()) * (rng.next() & 1 ? 1.0 : -1.0);
                (rng.next() & 1 ? o21 : o22) += size;
                ++o2_spikes;
                quiet_until = i + 5;
            }
            if (gap) {
                long long m = gap_end - i;
                missing += m;
                if (static_cast<double>(m) / rate > o.max_gap_seconds) ++violations;
                quiet_until = gap_end + 4;
            }
        }
        if (gap) x = y = z = MISSING;

        std::uint64_t extra = rng.next();
        char* p = w.room(160);
        char* start = p;
        p = put_fixed(p, t, 8);
        *p++ = ' ';
        p = put_fixed(p, x, 4);
        *p++ = ' ';
        p = put_fixed(p, y, 4);
        *p++ = ' ';
        p = put_fixed(p, z, 4);
        *p++ = ' ';
        p = put_fixed(p, o21, 4);
        *p++ = ' ';
        p = put_fixed(p, o22, 4);
        *p++ = ' ';
        p = put_unsigned(p, 90 + extra % 10);  // beam correlation, %
        *p++ = ' ';
        p = put_fixed(p, 8.2 + 0.3 * c + 0.001 * static_cast<double>((extra >> 8) % 100), 3);  // temperature
        *p++ = '\r';
        *p++ = '\n';
        w.used += static_cast<std::size_t>(p - start);

        advance();
    }
    w.flush();
    if (std::fclose(f) != 0) {
        std::fprintf(stderr, "make_example_series: cannot write %s\n", o.out.c_str());
        return 1;
    }

    // The despiker works strictly inside the span: open it half a sample before
    // the first sample, and close it a second before the last so that its
    // look-ahead at the last two samples never reaches past the series.
    const double span_start = o.start_hours - 0.5 * dt_hours;
    const double span_end = o.start_hours + static_cast<double>(n - 1) * dt_hours - 1.0 / 3600.0;
    write_configuration(o, raw_name, span_start, span_end, acceleration_limit);

    if (!o.truth.empty()) {
        // Filled runs carry no covariance: scale the expectations by the share of good samples.
        const double kept = 1.0 - static_cast<double>(missing) / static_cast<double>(n);
        const long window = static_cast<long>(o.window_seconds * static_cast<double>(rate));
        const long samples_per_interval = static_cast<long>(rate) * o.interval_seconds;
        std::FILE* tf = std::fopen(o.truth.c_str(), "wb");
        if (!tf) {
            std::fprintf(stderr, "make_example_series: cannot create %s: %s\n", o.truth.c_str(), std::strerror(errno));
            return 1;
        }
        std::fprintf(tf, "rate_hz %d\n", rate);
        std::fprintf(tf, "samples %lld\n", n);
        std::fprintf(tf, "samples_per_interval %ld\n", samples_per_interval);
        std::fprintf(tf, "intervals %lld\n", n / samples_per_interval);
        std::fprintf(tf, "running_window_samples %ld\n", window);
        std::fprintf(tf, "planted_flux %.6f\n", o.flux);
        std::fprintf(tf, "planted_lag_s %.6f\n", static_cast<double>(lag_samples) / rate);
        std::fprintf(tf, "expected_flux_linear_zero_shift %.6f\n", kept * cross(0));
        std::fprintf(tf, "expected_flux_running_zero_shift %.6f\n", kept * expected_running(cross, 0, window));
        std::fprintf(tf, "expected_flux_linear_best_shift %.6f\n", kept * cross(lag_samples));
        std::fprintf(tf, "expected_flux_running_best_shift %.6f\n",
                     kept * expected_running(cross, lag_samples, window));
        std::fprintf(tf, "planted_velocity_spikes %lld\n", velocity_spikes);
        std::fprintf(tf, "planted_o2_spikes %lld\n", o2_spikes);
        std::fprintf(tf, "short_gaps %lld\n", short_gaps);
        std::fprintf(tf, "long_gaps %lld\n", long_gaps);
        std::fprintf(tf, "expected_gap_violations %lld\n", violations);
        std::fprintf(tf, "missing_samples %lld\n", missing);
        if (std::fclose(tf) != 0) {
            std::fprintf(stderr, "make_example_series: cannot write %s\n", o.truth.c_str());
            return 1;
        }
    }
    return 0;
}
