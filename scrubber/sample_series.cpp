#include "sample_series.h"

#include <cstdlib>

#include <sys/mman.h>

namespace flux {

namespace {
constexpr std::size_t COLUMNS = 8;
constexpr std::size_t GUARD_SLOTS = 3;  // position 0, and two after the capacity
constexpr std::size_t PAGE = 2 * 1024 * 1024;  // columns start on large-page bounds

std::size_t column_stride(std::int32_t capacity) {
    std::size_t bytes = (static_cast<std::size_t>(capacity) + GUARD_SLOTS) * sizeof(double);
    return (bytes + PAGE - 1) / PAGE * PAGE;
}
}  // namespace

SampleSeries reserve_series(std::int32_t capacity) {
    const std::size_t stride = column_stride(capacity);
    // Anonymous pages read as zero and take memory only once written.
    void* block = ::mmap(nullptr, stride * COLUMNS, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block == MAP_FAILED) std::abort();
    auto* base = static_cast<char*>(block);
    // Large pages cut the cost of first touching a long series. The first
    // stretch of each column keeps small pages, so a short file stays small.
    for (std::size_t c = 0; c < COLUMNS && stride > PAGE; ++c)
        ::madvise(base + c * stride + PAGE, stride - PAGE, MADV_HUGEPAGE);
    auto column = [&](std::size_t c) { return reinterpret_cast<double*>(base + c * stride); };
    SampleSeries s;
    s.time = column(0);
    s.x = column(1);
    s.y = column(2);
    s.z = column(3);
    s.o21 = column(4);
    s.o22 = column(5);
    s.o21_mean = column(6);
    s.o22_mean = column(7);
    s.capacity = capacity;
    return s;
}

void release_series(SampleSeries& s) {
    if (s.time != nullptr) ::munmap(s.time, column_stride(s.capacity) * COLUMNS);
    s = SampleSeries{};
}

}  // namespace flux
