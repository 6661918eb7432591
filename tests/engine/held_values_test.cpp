// Values held past their wave come back bit for bit, or are not given at all.
#include "engine/held_values.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace {

std::uint32_t bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// A float as a reader makes it from decimal text: the nearest double, then a float.
float decimal(std::int64_t digits, int decimals) {
    static const double tens[] = {1, 10, 100, 1000, 10000};
    return static_cast<float>(static_cast<double>(digits) / tens[decimals]);
}

using record_maker = std::function<void(std::mt19937&, std::size_t k, float& date, float& value)>;

struct run_shape {
    const char* name;
    record_maker make;
    enum { all, some, maybe_none } held;  // how much of the shape's runs is held at least
};

float monthly_date(std::size_t k) {
    // 1950.042, 1950.125, ...: the month's middle with three decimals, as archives write it.
    const std::int64_t month = static_cast<std::int64_t>(k);
    return decimal(1950000 + month / 12 * 1000 + (month % 12 * 1000 + 500) / 12, 3);
}

float three_decimals(std::mt19937& random) {
    return decimal(std::uniform_int_distribution<int>(-32000, 32000)(random), 3);
}

const run_shape shapes[] = {
    {"monthly dates, values of three decimals",
     [](std::mt19937& r, std::size_t k, float& d, float& v) {
         d = monthly_date(k);
         v = three_decimals(r);
     },
     run_shape::all},
    {"values of two decimals, then of three",
     [](std::mt19937& r, std::size_t k, float& d, float& v) {
         d = monthly_date(k);
         v = k < 5 ? decimal(std::uniform_int_distribution<int>(-3000, 3000)(r), 2) : three_decimals(r);
     },
     run_shape::all},
    {"a year missing after every year",
     [](std::mt19937& r, std::size_t k, float& d, float& v) {
         d = monthly_date(k / 12 * 24 + k % 12);
         v = three_decimals(r);
     },
     run_shape::all},
    {"dates going back",
     [](std::mt19937& r, std::size_t k, float& d, float& v) {
         d = monthly_date(20000 - k);
         v = three_decimals(r);
     },
     run_shape::all},
    {"dates beyond the eight-at-once range",
     [](std::mt19937& r, std::size_t k, float& d, float& v) {
         d = decimal(600000000 + 128 * static_cast<std::int64_t>(k), 0);
         v = three_decimals(r);
     },
     run_shape::all},
    {"values of any bits",
     [](std::mt19937& r, std::size_t k, float& d, float& v) {
         d = monthly_date(k);
         const auto b = static_cast<std::uint32_t>(r());
         std::memcpy(&v, &b, sizeof v);
     },
     run_shape::maybe_none},
    {"now and then a value that fits in no way",
     [](std::mt19937& r, std::size_t k, float& d, float& v) {
         static const float odd[] = {-0.0f, std::numeric_limits<float>::quiet_NaN(), 40.125f, 1e30f, 1e-40f};
         d = monthly_date(k);
         v = r() % 50 == 0 ? odd[r() % 5] : three_decimals(r);
     },
     run_shape::some},
};

// Every shape's runs, held one after the other, then taken back whole, in pieces, and in
// pieces across two runs.
TEST(HeldValues, GiveBackEveryFloatTheyHoldBitForBit) {
    for (const run_shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        std::mt19937 random(7);
        engine::held_values held;
        held.budget = std::size_t{1} << 30;
        std::vector<float> dates, values;
        std::vector<std::int64_t> starts{0};
        std::vector<bool> whole;
        for (int run = 0; run < 60; ++run) {
            const std::size_t count = run == 0 ? 1 : random() % 2000 + 1;
            for (std::size_t k = 0; k < count; ++k) {
                float d = 0, v = 0;
                shape.make(random, k, d, v);
                dates.push_back(d);
                values.push_back(v);
            }
            const std::int64_t at = starts.back();
            whole.push_back(
                engine::hold_run(held, at, dates.data() + at, values.data() + at, static_cast<std::int64_t>(count)));
            if (shape.held == run_shape::all) {
                EXPECT_TRUE(whole.back()) << "run " << run;
            }
            starts.push_back(at + static_cast<std::int64_t>(count));
        }
        long given = 0;
        for (int piece = 0; piece < 3000; ++piece) {
            const std::size_t run = random() % whole.size();
            const std::int64_t run_from = starts[run], run_to = starts[run + (run + 1 < whole.size() ? 2 : 1)];
            const std::int64_t from =
                run_from + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(run_to - run_from));
            const std::int64_t count =
                piece % 3 == 0 ? starts[run + 1] - run_from
                               : 1 + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(run_to - from));
            const std::int64_t first = piece % 3 == 0 ? run_from : from;
            std::vector<float> d{1.0f}, v{2.0f};  // taken values are appended
            if (!engine::take_held_values(held, first, count, d, v)) {
                EXPECT_EQ(d.size(), 1u);
                EXPECT_NE(shape.held, run_shape::all) << "piece " << first << "+" << count;
                continue;
            }
            ++given;
            ASSERT_EQ(d.size(), static_cast<std::size_t>(count) + 1);
            for (std::int64_t k = 0; k < count; ++k) {
                ASSERT_EQ(bits(d[static_cast<std::size_t>(k) + 1]), bits(dates[static_cast<std::size_t>(first + k)]))
                    << first + k;
                ASSERT_EQ(bits(v[static_cast<std::size_t>(k) + 1]), bits(values[static_cast<std::size_t>(first + k)]))
                    << first + k;
            }
        }
        if (shape.held != run_shape::maybe_none) {
            EXPECT_GT(given, 0);
        }
    }
}

TEST(HeldValues, NothingIsHeldPastTheBudget) {
    engine::held_values held;
    held.budget = engine::held_values_budget(std::size_t{1} << 40, false);
    EXPECT_EQ(held.budget, 0u);
    const float dates[] = {1950.042f, 1950.125f}, values[] = {1.5f, 2.5f};
    EXPECT_FALSE(engine::hold_run(held, 0, dates, values, 2));
    EXPECT_FALSE(engine::has_room(held));
    std::vector<float> d, v;
    EXPECT_FALSE(engine::take_held_values(held, 0, 1, d, v));
    EXPECT_EQ(held.taken, 0u);
}

}  // namespace
