// Time and size of the netCDF file at several deflate levels, on a large synthetic
// selection: stations with a seasonal cycle, values in tenths of a degree as the archives
// hold them, one month in 20 missing.
//
//   make netcdf-bench   (or: cmake --build build --target varnex_netcdf_bench)
//   build/varnex_netcdf_bench [STATIONS] [YEARS] [LEVEL...]     default: 8750 50 0 1 4
// Each level is written three times; the best time is shown.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/netcdf_output.hpp"

namespace {

constexpr std::int32_t first_year = 1951;

std::vector<float> make_rows(std::mt19937& random, int years, float lat) {
    std::normal_distribution<float> noise(0.0f, 1.5f);
    std::uniform_int_distribution<int> missing(0, 19);
    const float mean = 25.0f - std::fabs(lat) * 0.4f;
    const float amplitude = std::fabs(lat) * 0.25f;
    std::vector<float> rows(static_cast<std::size_t>(years) * 12);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const float season = -std::cos(static_cast<float>(i % 12) * 0.5235988f) * amplitude;
        const float value = std::round((mean + season + noise(random)) * 10.0f) / 10.0f;
        rows[i] = missing(random) == 0 ? -99.0f : value;
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    const int stations = argc > 1 ? std::atoi(argv[1]) : 8750;
    const int years = argc > 2 ? std::atoi(argv[2]) : 50;
    std::vector<int> levels;
    for (int i = 3; i < argc; ++i) levels.push_back(std::atoi(argv[i]));
    if (levels.empty()) levels = {0, 1, 4};
    if (stations < 0 || years < 1) {
        std::fprintf(stderr, "usage: %s [STATIONS] [YEARS] [LEVEL...]\n", argv[0]);
        return 2;
    }
    const int runs = 3;
    const char* dir = std::getenv("TMPDIR");
    const std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/varnex-netcdf-bench.nc";

    engine::output_meta meta;
    meta.type_word = "tave";
    meta.selection.has_box = true;  // the whole world
    meta.fyod = first_year;
    meta.lyod = first_year + years - 1;
    meta.history = "varnex_netcdf_bench";

    // Generated once, so that the times are the writer's alone.
    std::mt19937 random(11);
    std::uniform_real_distribution<float> latitude(-60.0f, 75.0f);
    std::vector<float> lats(static_cast<std::size_t>(stations));
    std::vector<float> values;
    for (float& lat : lats) {
        lat = latitude(random);
        const std::vector<float> rows = make_rows(random, years, lat);
        values.insert(values.end(), rows.begin(), rows.end());
    }
    const auto* all_rows = reinterpret_cast<const float(*)[12]>(values.data());

    std::printf("%d stations x %d years (%.1f MB of floats), best of %d runs\n", stations, years,
                static_cast<double>(values.size()) * 4 / 1e6, runs);
    std::printf("%6s %10s %12s\n", "level", "seconds", "MB");
    for (const int level : levels) {
        double best = 1e300;
        for (int run = 0; run < runs; ++run) {
            const auto started = std::chrono::steady_clock::now();
            try {
                engine::netcdf_writer w = engine::create_netcdf(path, meta, level);
                for (int s = 0; s < stations; ++s) {
                    const engine::station_series series = {100000 + s,
                                                           static_cast<float>(s % 360) - 180.0f,
                                                           lats[s],
                                                           static_cast<float>(s % 2000),
                                                           meta.fyod,
                                                           meta.lyod,
                                                           all_rows + static_cast<std::size_t>(s) * years};
                    engine::write_netcdf_station(w, series);
                }
                engine::close_netcdf(w);
            } catch (const engine::output_error& e) {
                std::fprintf(stderr, "%s\n", e.what());
                return 1;
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (seconds < best) best = seconds;
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return 1;
        std::printf("%6d %10.3f %12.2f\n", level, best, static_cast<double>(st.st_size) / 1e6);
    }
    ::unlink(path.c_str());
    return 0;
}
