#include "cospectra.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <random>
#include <atomic>
#include <chrono>
#include <thread>

#include <pthread.h>
#include <unistd.h>

using namespace flux;

TEST(ScanLadder, SixtyFourAndTenAndAHalfHertz) {
    std::vector<std::int32_t> l64 = scan_window_ladder(64.0, 57600);
    ASSERT_EQ(l64.size(), 989u);
    EXPECT_EQ(l64[0], 2);
    EXPECT_EQ(l64[62], 64);
    EXPECT_EQ(l64[63], 80);
    EXPECT_EQ(l64[99], 656);
    EXPECT_EQ(l64[100], 720);
    EXPECT_EQ(l64.back(), 57552);
    std::vector<std::int32_t> l105 = scan_window_ladder(10.5, 2000);
    const std::vector<std::int32_t> head = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), l105.begin()));
    EXPECT_NE(std::find(l105.begin(), l105.end(), 107), l105.end());
    EXPECT_NE(std::find(l105.begin(), l105.end(), 117), l105.end());
    EXPECT_NE(std::find(l105.begin(), l105.end(), 127), l105.end());
    // Below 4 Hz the quarter-second step is one sample: the ladder still climbs.
    EXPECT_EQ(scan_window_ladder(2.0, 30), (std::vector<std::int32_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 23, 25, 27, 29}));
    EXPECT_EQ(scan_window_ladder(8.0, 3), (std::vector<std::int32_t>{2}));
    EXPECT_EQ(scan_window_ladder(8.0, 2), (std::vector<std::int32_t>{2}));
}

namespace {

std::vector<std::vector<double>> random_intervals(int count, int n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> g;
    std::vector<std::vector<double>> out;
    for (int i = 0; i < 2 * count; ++i) {
        std::vector<double> v(static_cast<std::size_t>(n));
        double drift = g(rng);
        for (int k = 0; k < n; ++k) v[static_cast<std::size_t>(k)] = (i % 2 ? 250.0 + 3 * g(rng) : 0.01 * g(rng)) + drift * k * 1e-4;
        out.push_back(v);
    }
    return out;
}

}  // namespace

TEST(Scanner, BitIdenticalToThePlainScanWhateverTheThreads) {
    for (double rate : {64.0, 10.5, 8.0}) {
        for (int n : {2, 3, 97, 640}) {
            const int count = 11;  // one full block and a partial one
            auto data = random_intervals(count, n, static_cast<std::uint64_t>(n * 7 + rate));
            std::vector<std::int32_t> ladder = scan_window_ladder(rate, n);
            std::vector<std::vector<double>> plain(count, std::vector<double>(ladder.size()));
            for (int i = 0; i < count; ++i)
                scan_windows_plain(data[2 * i].data(), data[2 * i + 1].data(), n, rate, ladder, plain[i].data());
            for (int threads : {0, 1, 2}) {
                CospectraScanner s;
                start_scanner(s, n, rate, threads);
                for (int i = 0; i < count; ++i) scan_interval(s, data[2 * i].data(), data[2 * i + 1].data());
                finish_scanner(s);
                ASSERT_EQ(s.ladder, ladder);
                for (int i = 0; i < count; ++i)
                    for (std::size_t m = 0; m < ladder.size(); ++m)
                        ASSERT_EQ(std::memcmp(&s.table[i][m], &plain[i][m], sizeof(double)), 0)
                            << "rate " << rate << " n " << n << " threads " << threads << " interval " << i
                            << " window " << ladder[m] << ": " << s.table[i][m] << " vs " << plain[i][m];
            }
        }
    }
}

namespace {
std::atomic<int> g_interrupts_handled{0};
std::atomic<bool> g_handled_on_worker{false};
pthread_t g_test_thread;
void note_interrupt(int) {
    g_interrupts_handled.fetch_add(1);
    if (!pthread_equal(pthread_self(), g_test_thread)) g_handled_on_worker.store(true);
}
}  // namespace

// Regression: an interrupt could be handled on a scan worker while the
// reading thread was writing a buffer out with interrupts held back, so the
// handler wrote the same records a second time.
TEST(Scanner, WorkersLeaveInterruptsToTheReadingThread) {
    g_test_thread = pthread_self();
    struct sigaction sa {}, old_action {};
    sa.sa_handler = note_interrupt;
    sigaction(SIGTERM, &sa, &old_action);

    CospectraScanner s;
    start_scanner(s, 64, 64.0, 1);  // started while this thread takes interrupts
    sigset_t term, old_mask;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old_mask);  // as the reader does while it writes
    kill(getpid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(g_interrupts_handled.load(), 0) << "a worker took the interrupt";
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);  // the held interrupt arrives here
    EXPECT_EQ(g_interrupts_handled.load(), 1);
    EXPECT_FALSE(g_handled_on_worker.load());

    finish_scanner(s);
    sigaction(SIGTERM, &old_action, nullptr);
}
