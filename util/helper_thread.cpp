#include "util/helper_thread.hpp"

#include <utility>

#include "util/stop_signal.hpp"

namespace util {

helper_thread::helper_thread() : thread_(thread_without_stop_signals([this] { work(); })) {}

helper_thread::~helper_thread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void helper_thread::start(std::function<void()> share) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        share_ = std::move(share);
        busy_ = true;
        failure_ = nullptr;
    }
    changed_.notify_all();
}

void helper_thread::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

bool helper_thread::done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !busy_;
}

void helper_thread::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || closing_; });
        if (!busy_) return;
        std::function<void()> share = std::move(share_);
        lock.unlock();
        std::exception_ptr failure;
        try {
            share();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        failure_ = failure;
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace util
