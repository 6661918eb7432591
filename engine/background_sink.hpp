// A sink that hands every station to another sink on a thread of its own, so that a slow
// writer (the compressed netCDF file) works on the second core while the station pass
// goes on. The stations reach the other sink in the same order; a failure there is thrown
// to the station pass at the next station, or by finish().
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/grid.hpp"
#include "engine/sink.hpp"
#include "textio/units.hpp"

namespace engine {

class background_sink : public station_sink {
public:
    // The grids handed on hold the years fyod to lyod; the other cells are missing.
    background_sink(station_sink& target, std::int32_t fyod, std::int32_t lyod);
    ~background_sink() override;
    background_sink(const background_sink&) = delete;
    background_sink& operator=(const background_sink&) = delete;

    void table_loaded(std::int32_t qualifying_count) override;
    void station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) override;
    // Waits until the other sink has heard every station; throws its failure, if any.
    void finish();

private:
    struct item {
        bool is_table = false;
        std::int32_t qualifying_count = 0;
        station_row row;
        station_verdict verdict;
        std::vector<float> span;  // the span's rows of a saved station, 12 values a year
    };
    void push(item&& next);
    void work();
    void hand_on(const item& next);
    void throw_failure();

    station_sink& target_;
    std::int32_t fyod_;
    std::int32_t lyod_;
    std::unique_ptr<station_grid> grid_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<item> queue_;
    // What the worker is doing, and what the pass asks of it; both change under mutex_.
    enum class worker_job : std::uint8_t { waiting, writing, failed, gone };
    enum class pass_request : std::uint8_t { batches, the_rest, close };
    worker_job job_ = worker_job::waiting;
    pass_request request_ = pass_request::batches;
    std::exception_ptr failure_;
    std::thread worker_;  // last: it starts once everything it reads is made
};

// extract_stations with sinks behind threads: on success every one of them has heard
// every station when it returns. A failure of the pass first lets them finish the
// stations before it, and a failure of one of them there, being earlier, is thrown
// instead: the run ends as it would with one thread.
struct extraction_summary;
struct run_settings;
struct archive;
struct station_table;
extraction_summary extract_stations_behind(const run_settings& run, archive& files, station_sink& sink,
                                           std::vector<background_sink*> behind);
extraction_summary extract_stations_behind(const run_settings& run, station_table table, textio::in_unit& observations,
                                           station_sink& sink, std::vector<background_sink*> behind);

}  // namespace engine
