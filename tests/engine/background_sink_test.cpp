// The sink that hands stations on from a thread of its own: same order, same grids, and a
// failure of the other sink brought back to the station pass.
#include "engine/background_sink.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct heard_station {
    std::int32_t id;
    engine::verdict_kind kind;
    float first_cell;  // the first month of the span, for saved stations
    float outside;     // a cell before the span: always the missing value
};

class slow_sink : public engine::station_sink {
public:
    explicit slow_sink(int fail_at = -1) : fail_at_(fail_at) {}
    void table_loaded(std::int32_t count) override { table = count; }
    void station(const engine::station_row& row, const engine::station_verdict& verdict,
                 const engine::year_month_grid& grid) override {
        if (static_cast<int>(heard.size()) == fail_at_) throw std::runtime_error("refused");
        const bool saved = verdict.kind == engine::verdict_kind::saved;
        heard.push_back({row.id, verdict.kind, saved ? grid[1950][0] : 0.0f, saved ? grid[1949][0] : 0.0f});
    }
    std::int32_t table = -1;
    std::vector<heard_station> heard;

private:
    int fail_at_;
};

std::unique_ptr<engine::station_grid> grid_with(float january_1950) {
    auto grid = std::make_unique<engine::station_grid>();
    for (auto& year : grid->cells)
        for (float& cell : year) cell = 7.0f;
    grid->cells[1950][0] = january_1950;
    return grid;
}

TEST(BackgroundSink, HandsEveryStationOnInOrderWithItsSpan) {
    slow_sink target;
    {
        engine::background_sink behind(target, 1950, 1951);
        behind.table_loaded(1000);
        for (int i = 0; i < 1000; ++i) {
            engine::station_verdict verdict;
            verdict.kind = i % 3 == 0 ? engine::verdict_kind::saved : engine::verdict_kind::no_records;
            const auto grid = grid_with(static_cast<float>(i));
            behind.station({i, 0.0f, 0.0f, 0.0f, 1950, 1951}, verdict, grid->cells);
        }
        behind.finish();
    }
    EXPECT_EQ(target.table, 1000);
    ASSERT_EQ(target.heard.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        const heard_station& h = target.heard[static_cast<std::size_t>(i)];
        EXPECT_EQ(h.id, i);
        if (i % 3 != 0) continue;
        EXPECT_EQ(h.first_cell, static_cast<float>(i));
        EXPECT_EQ(h.outside, engine::missing_value);
    }
}

TEST(BackgroundSink, BringsAFailureBackToThePass) {
    slow_sink target(5);
    engine::background_sink behind(target, 1950, 1950);
    const auto grid = grid_with(1.0f);
    engine::station_verdict saved;
    bool thrown = false;
    try {
        for (int i = 0; i < 10000; ++i) behind.station({i, 0.0f, 0.0f, 0.0f, 1950, 1950}, saved, grid->cells);
        behind.finish();
    } catch (const std::runtime_error& e) {
        thrown = true;
        EXPECT_STREQ(e.what(), "refused");
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(target.heard.size(), 5u);
}

}  // namespace
