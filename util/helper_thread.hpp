// A second thread for work split in two: the thread that owns it hands one share over,
// does the other share itself, then waits for the handed share to be done. The thread
// sleeps between shares.
#pragma once
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace util {

class helper_thread {
public:
    helper_thread();
    ~helper_thread();
    helper_thread(const helper_thread&) = delete;
    helper_thread& operator=(const helper_thread&) = delete;

    // Starts `share` on the helper; one share at a time.
    void start(std::function<void()> share);
    // Waits until the share is done; throws what it threw.
    void wait();
    // Whether the share is done, without waiting.
    bool done();

private:
    void work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> share_;
    bool busy_ = false;
    bool closing_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace util
