#include "util/work_team.hpp"

#include <unistd.h>

#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "util/parallel.hpp"
#include "util/stop_signal.hpp"

namespace util {
namespace {

// The job being shared, and the threads that share it. `body`, `count` and `generation` are
// written under `lock` by the caller while no thread works on a job; the threads read them
// after seeing the generation change.
class work_team {
public:
    explicit work_team(std::size_t helpers) : owner_(::getpid()) {
        for (std::size_t k = 0; k < helpers; ++k)
            threads_.push_back(thread_without_stop_signals([this, k] { help(k + 1); }));
    }

    ~work_team() {
        if (forked()) {
            // The threads stayed in the parent: there is none here to join.
            for (std::thread& t : threads_) t.detach();
            return;
        }
        {
            const std::lock_guard<std::mutex> held(lock_);
            closing_ = true;
        }
        start_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    // In a child of the process that made the team (a host such as Python may fork after a
    // run), whose threads the child does not have.
    bool forked() const { return ::getpid() != owner_; }

    work_team(const work_team&) = delete;
    work_team& operator=(const work_team&) = delete;

    // `body` lives until every helper is done with it: the caller waits for that.
    void share(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body) {
        {
            const std::lock_guard<std::mutex> held(lock_);
            assert(working_ == 0 && body_ == nullptr);  // the team is idle when it is given work
            body_ = &body;
            count_ = count;
            next_.store(1, std::memory_order_relaxed);  // the first item is the caller's
            working_ = threads_.size();
            ++generation_;
        }
        start_.notify_all();
        body(0, 0);
        take_items(0);
        std::unique_lock<std::mutex> held(lock_);
        done_.wait(held, [this] { return working_ == 0; });
        body_ = nullptr;
    }

private:
    void take_items(std::size_t thread) {
        for (std::size_t item; (item = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) (*body_)(item, thread);
    }

    void help(std::size_t thread) {
        std::uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> held(lock_);
                start_.wait(held, [&] { return closing_ || generation_ != seen; });
                if (closing_) return;
                seen = generation_;
            }
            take_items(thread);
            const std::lock_guard<std::mutex> held(lock_);
            if (--working_ == 0) done_.notify_one();
        }
    }

    const pid_t owner_;
    std::vector<std::thread> threads_;
    std::mutex lock_;
    std::condition_variable start_;
    std::condition_variable done_;
    const std::function<void(std::size_t, std::size_t)>* body_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    std::size_t working_ = 0;  // helpers still on the job
    std::uint64_t generation_ = 0;
    bool closing_ = false;
};

work_team& the_team() {
    static work_team team(team_threads() - 1);
    return team;
}

}  // namespace

std::size_t team_threads() {
    static const std::size_t threads = static_cast<std::size_t>(std::max(1, omp_get_max_threads()));
    return threads;
}

void share_items(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body) {
    if (team_threads() == 1 || count <= 1 || the_team().forked()) {
        for (std::size_t item = 0; item < count; ++item) body(item, 0);
        return;
    }
    the_team().share(count, body);
}

}  // namespace util
