#include <gtest/gtest.h>
#include <omp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/capture.hpp"
#include "textio/convert.hpp"
#include "util/blank.hpp"
#include "util/parallel.hpp"
#include "util/ssort.hpp"
#include "util/work_team.hpp"

namespace {

TEST(ParallelRule, Thresholds) {
    EXPECT_FALSE(util::worth_parallel(4352, util::blank_fill_cost));
    EXPECT_TRUE(util::worth_parallel(4353, util::blank_fill_cost));
    EXPECT_FALSE(util::worth_parallel(2176, util::sign_flip_cost));
    EXPECT_TRUE(util::worth_parallel(2177, util::sign_flip_cost));
    EXPECT_FALSE(util::worth_parallel(1, 1000000));
}

TEST(ParallelRule, EveryIterationRunsOnceWhateverTheTeam) {
    for (int threads : {1, 2, 3, 8}) {
        omp_set_num_threads(threads);
        for (long n : {0L, 1L, 2L, 3L, 7L, 2020L}) {
            std::vector<std::atomic<int>> runs(static_cast<std::size_t>(n));
            util::parallel_loop(n, true, [&runs](long i) { runs[static_cast<std::size_t>(i)]++; });
            for (long i = 0; i < n; ++i) EXPECT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << threads << " " << n;
        }
    }
    omp_set_num_threads(2);
}

TEST(ParallelRule, ContiguousBlocksPerThread) {
    omp_set_num_threads(3);
    std::vector<int> owner(10, -1);
    util::parallel_loop(10, true, [&owner](long i) { owner[static_cast<std::size_t>(i)] = omp_get_thread_num(); });
    // b = ceil(10 / 3) = 4: thread 0 takes 0..3, thread 1 4..7, thread 2 8..9.
    EXPECT_EQ(owner, (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 1, 2, 2}));
    omp_set_num_threads(2);
}

// Every item once, on a thread of the team, the first on the caller's, however many items
// and however often the team is asked: a wake-up lost between two jobs would hang here.
TEST(WorkTeam, EveryItemRunsOnceOnATeamThread) {
    for (const std::size_t count : {0, 1, 2, 3, 17, 1000}) {
        for (int round = 0; round < 200; ++round) {
            std::vector<std::atomic<int>> runs(count);
            std::atomic<bool> thread_in_team{true};
            util::share_items(count, [&](std::size_t item, std::size_t thread) {
                runs[item].fetch_add(1);
                if (thread >= util::team_threads() || (item == 0 && thread != 0)) thread_in_team = false;
            });
            for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(runs[i].load(), 1) << count << " items, item " << i;
            ASSERT_TRUE(thread_in_team);
        }
    }
}

// A child forked after the team was made (as a host such as Python may) has none of its
// threads: its loops run every item on the caller, instead of waiting for helpers forever.
TEST(WorkTeam, AForkedChildRunsItsItemsItself) {
    std::atomic<int> runs{0};
    util::share_items(8, [&](std::size_t, std::size_t) { runs.fetch_add(1); });
    ASSERT_EQ(runs.load(), 8);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atomic<int> child_runs{0};
        util::share_items(100, [&](std::size_t, std::size_t thread) { child_runs.fetch_add(thread == 0 ? 1 : 1000); });
        ::_exit(child_runs.load() == 100 ? 0 : 1);
    }
    int status = 0;
    for (int waited = 0; waited < 1000 && ::waitpid(child, &status, WNOHANG) == 0; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the child waited for the team's threads";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Blank, FillsExactlyTheField) {
    for (std::int32_t n : {0, 1, 30, 4352, 4353, 100000}) {
        std::string text(static_cast<std::size_t>(n) + 2, 'x');
        util::blank(text.data() + 1, n);
        EXPECT_EQ(text, "x" + std::string(static_cast<std::size_t>(n), ' ') + "x") << n;
    }
    char untouched[2] = {'a', 'b'};
    util::blank(untouched, -5);
    EXPECT_EQ(untouched[0], 'a');
}

TEST(Convert, TruncationIsAlwaysDefined) {
    struct {
        double in;
        std::int32_t out;
    } cases[] = {
        {123.9, 123},
        {-7.5, -7},
        {0.999, 0},
        {-0.999, 0},
        {2147483647.0, 2147483647},
        {2147483648.0, INT32_MIN},
        {-2147483648.0, INT32_MIN},
        {-2147483648.9, INT32_MIN},
        {-2147483647.5, -2147483647},
        {1e30, INT32_MIN},
        {NAN, INT32_MIN},
        {INFINITY, INT32_MIN},
        {-INFINITY, INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(textio::truncate_to_int32(c.in), c.out) << c.in;
}

TEST(Ssort, HandTracedOrders) {
    struct {
        std::vector<float> keys, values, sorted_keys, carried;
    } cases[] = {
        {{2, 1}, {10, 20}, {1, 2}, {20, 10}},
        // Equal keys: the splits leave three equal keys as they stand and interchange the
        // middle two of four.
        {{5, 5}, {1, 2}, {5, 5}, {1, 2}},
        {{5, 5, 5}, {1, 2, 3}, {5, 5, 5}, {1, 2, 3}},
        {{5, 5, 5, 5}, {1, 2, 3, 4}, {5, 5, 5, 5}, {1, 3, 2, 4}},
        {{7}, {70}, {7}, {70}},
    };
    for (auto& c : cases) {
        util::ssort(c.keys.data(), c.values.data(), static_cast<std::int32_t>(c.keys.size()), 2);
        EXPECT_EQ(c.keys, c.sorted_keys);
        EXPECT_EQ(c.values, c.carried);
    }
}

TEST(Ssort, CompanionOnlyCarriedWhenAsked) {
    std::vector<float> keys{3, 1, 2}, values{30, 10, 20};
    util::ssort(keys.data(), values.data(), 3, 1);
    EXPECT_EQ(keys, (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(values, (std::vector<float>{30, 10, 20}));
    util::ssort(keys.data(), values.data(), 3, -1);
    EXPECT_EQ(keys, (std::vector<float>{3, 2, 1}));
    EXPECT_EQ(values, (std::vector<float>{30, 10, 20}));
    util::ssort(keys.data(), values.data(), 3, -2);
    EXPECT_EQ(keys, (std::vector<float>{3, 2, 1}));
}

TEST(Ssort, DecreasingKeepsTheSignOfZero) {
    std::vector<float> keys{0.0f, -1.0f, 2.0f};
    util::ssort(keys.data(), nullptr, 3, -1);
    EXPECT_EQ(keys, (std::vector<float>{2.0f, 0.0f, -1.0f}));
    EXPECT_FALSE(std::signbit(keys[1]));
}

TEST(Ssort, RejectedArgumentsLeaveArraysAndSayWhy) {
    struct {
        std::int32_t n, k;
        const char* message;
    } cases[] = {
        {0, 2, " the number of values to be sorted is not positive.\n"},
        {-3, 2, " the number of values to be sorted is not positive.\n"},
        {2, 0, " the sort control parameter, k, is not 2, 1, -1, or -2.\n"},
        {2, 3, " the sort control parameter, k, is not 2, 1, -1, or -2.\n"},
        {2, -3, " the sort control parameter, k, is not 2, 1, -1, or -2.\n"},
        {2, INT32_MIN, " the sort control parameter, k, is not 2, 1, -1, or -2.\n"},
    };
    for (const auto& c : cases) {
        std::vector<float> keys{2, 1}, values{20, 10};
        const std::string said = support::capture_stdout([&] { util::ssort(keys.data(), values.data(), c.n, c.k); });
        EXPECT_EQ(said, c.message);
        EXPECT_EQ(keys, (std::vector<float>{2, 1}));
        EXPECT_EQ(values, (std::vector<float>{20, 10}));
    }
}

// Large inputs of every shape end sorted, each value still beside its own key, and the
// result does not depend on the number of threads of the sign flips.
TEST(Ssort, LargeInputsEndSortedWithTheirCompanions) {
    std::mt19937 random(12345);
    for (int shape = 0; shape < 5; ++shape) {
        const int n = 5000;
        std::vector<float> keys(n);
        for (int i = 0; i < n; ++i) {
            switch (shape) {
                case 0: keys[i] = static_cast<float>(i); break;
                case 1: keys[i] = static_cast<float>(n - i); break;
                case 2: keys[i] = 1950.5f; break;
                case 3: keys[i] = static_cast<float>(random() % 100); break;
                default: keys[i] = static_cast<float>(random() % 100000) / 7.0f; break;
            }
        }
        std::vector<float> companions(n);
        for (int i = 0; i < n; ++i) companions[i] = keys[i] * 3.0f + 1.0f;
        std::vector<std::vector<float>> results;
        for (int threads : {1, 2, 5}) {
            omp_set_num_threads(threads);
            std::vector<float> k = keys, c = companions;
            util::ssort(k.data(), c.data(), n, shape % 2 ? -2 : 2);
            if (shape % 2) std::reverse(k.begin(), k.end()), std::reverse(c.begin(), c.end());
            EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
            for (int i = 0; i < n; ++i) ASSERT_EQ(c[i], k[i] * 3.0f + 1.0f);
            std::vector<float> expect = keys;
            std::sort(expect.begin(), expect.end());
            EXPECT_EQ(k, expect);
            results.push_back(c);
        }
        EXPECT_EQ(results[0], results[1]);
        EXPECT_EQ(results[0], results[2]);
        omp_set_num_threads(2);
    }
}

}  // namespace

namespace {}  // namespace
