#include "engine/background_sink.hpp"
#include "textio/limits.hpp"

#include <algorithm>
#include <cassert>

#include "engine/extract.hpp"
#include "util/stop_signal.hpp"

namespace engine {
namespace {

using textio::most_waiting;
using textio::wake_batch;

}  // namespace

background_sink::background_sink(station_sink& target, std::int32_t fyod, std::int32_t lyod)
    : target_(target), fyod_(fyod), lyod_(lyod), grid_(std::make_unique<station_grid>()) {
    for (auto& year : grid_->cells) std::fill(std::begin(year), std::end(year), missing_value);
    worker_ = util::thread_without_stop_signals([this] { work(); });
}

// Without finish() the run is failing: what still waits is dropped.
background_sink::~background_sink() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        request_ = pass_request::close;
        queue_.clear();
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void background_sink::table_loaded(std::int32_t qualifying_count) {
    item next;
    next.is_table = true;
    next.qualifying_count = qualifying_count;
    push(std::move(next));
}

void background_sink::station(const station_row& row, const station_verdict& verdict, const year_month_grid& grid) {
    item next;
    next.row = row;
    next.verdict = verdict;
    if (verdict.kind == verdict_kind::saved) next.span.assign(&grid[fyod_][0], &grid[lyod_][0] + 12);
    push(std::move(next));
}

void background_sink::push(item&& next) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return job_ == worker_job::failed || queue_.size() < most_waiting; });
    if (job_ == worker_job::failed) {
        lock.unlock();
        throw_failure();
    }
    queue_.push_back(std::move(next));
    const bool wake = job_ == worker_job::waiting && queue_.size() >= wake_batch;
    lock.unlock();
    if (wake) changed_.notify_all();
}

void background_sink::finish() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        request_ = pass_request::the_rest;
        changed_.notify_all();
        changed_.wait(lock,
                      [this] { return job_ == worker_job::failed || (queue_.empty() && job_ == worker_job::waiting); });
        request_ = pass_request::close;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
    throw_failure();
}

void background_sink::throw_failure() {
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure = failure_;
    }
    if (failure) std::rethrow_exception(failure);
}

// The worker takes the stations a batch at a time; each time it is idle again it tells the
// pass, which may wait for room or for the end.
void background_sink::work() {
    std::deque<item> batch;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = worker_job::waiting;
        changed_.notify_all();
        changed_.wait(lock, [this] {
            return request_ == pass_request::close || queue_.size() >= wake_batch ||
                   (request_ == pass_request::the_rest && !queue_.empty());
        });
        if (queue_.empty()) {
            job_ = worker_job::gone;
            return;
        }
        assert(job_ == worker_job::waiting);
        job_ = worker_job::writing;
        batch.clear();
        batch.swap(queue_);
        changed_.notify_all();  // room for the pass
        lock.unlock();
        try {
            for (const item& next : batch) hand_on(next);
        } catch (...) {
            lock.lock();
            failure_ = std::current_exception();
            job_ = worker_job::failed;
            queue_.clear();
            lock.unlock();
            changed_.notify_all();
            return;
        }
    }
}

void background_sink::hand_on(const item& next) {
    if (next.is_table) return target_.table_loaded(next.qualifying_count);
    if (!next.span.empty()) std::copy(next.span.begin(), next.span.end(), &grid_->cells[fyod_][0]);
    target_.station(next.row, next.verdict, grid_->cells);
}

namespace {

template <class Pass>
extraction_summary finish_behind(Pass pass, const std::vector<background_sink*>& behind) {
    extraction_summary summary;
    try {
        summary = pass();
    } catch (...) {
        for (background_sink* b : behind) b->finish();
        throw;
    }
    for (background_sink* b : behind) b->finish();
    return summary;
}

}  // namespace

extraction_summary extract_stations_behind(const run_settings& run, archive& files, station_sink& sink,
                                           std::vector<background_sink*> behind) {
    return finish_behind([&] { return extract_stations(run, files, sink); }, behind);
}

extraction_summary extract_stations_behind(const run_settings& run, station_table table, textio::in_unit& observations,
                                           station_sink& sink, std::vector<background_sink*> behind) {
    return finish_behind([&] { return extract_stations(run, std::move(table), observations, sink); }, behind);
}

}  // namespace engine
