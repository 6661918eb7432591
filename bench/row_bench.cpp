// Nanoseconds per series row, "(i4,12f8.3)", by the general iw and fw.d writers and by the
// dedicated row writer, on rows like those of a real run: values of the plausible range
// with three places, and some missing months.
//
//   make row-bench            (or: cmake --build build --target varnex_row_bench && build/varnex_row_bench)
//   build/varnex_row_bench [ROWS] [ROUNDS]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "textio/format.hpp"
#include "textio/series_row.hpp"

namespace {

using row_values = float[12];

void append_general_row(std::string& out, std::int32_t year, const row_values& months) {
    textio::append_integer_field(out, year, 4);
    for (const float value : months) textio::append_fixed_field(out, value, 8, 3);
    out.push_back('\n');
}

// Temperatures in tenths of a degree, as the archives hold them, one month in 20 missing.
std::vector<float> make_values(std::size_t rows) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> tenths(-400, 400);
    std::uniform_int_distribution<int> missing(0, 19);
    std::vector<float> values(rows * 12);
    for (float& v : values) v = missing(random) == 0 ? -99.0f : static_cast<float>(tenths(random)) / 10.0f;
    return values;
}

template <typename Append>
double nanoseconds_per_row(const std::vector<float>& values, std::size_t rows, int rounds, std::string& out,
                           Append append) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        out.clear();
        const auto started = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < rows; ++i) {
            const auto& months = *reinterpret_cast<const row_values*>(values.data() + 12 * i);
            append(out, static_cast<std::int32_t>(1900 + i % 111), months);
        }
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - started).count();
        if (ns < best) best = ns;
    }
    return best / static_cast<double>(rows);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t rows = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    if (rows == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: %s [ROWS] [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::vector<float> values = make_values(rows);
    std::string general, quick;
    general.reserve(rows * textio::series_row_length);
    quick.reserve(rows * textio::series_row_length);
    const double general_ns = nanoseconds_per_row(values, rows, rounds, general, append_general_row);
    const double quick_ns = nanoseconds_per_row(values, rows, rounds, quick, textio::append_series_row);
    if (general != quick) {
        std::fprintf(stderr, "the two writers gave different rows\n");
        return 1;
    }
    std::printf("%zu rows, best of %d rounds\n", rows, rounds);
    std::printf("general iw + fw.d writers: %8.1f ns per row\n", general_ns);
    std::printf("series row writer:         %8.1f ns per row  (%.1f times faster)\n", quick_ns, general_ns / quick_ns);
    return 0;
}
