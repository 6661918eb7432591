#include "engine/block_index.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Records of 10 bytes each, from offset 100 (record number 1 there), read in order.
struct file_record {
    std::int32_t id;
    bool plain = true;
};

constexpr std::int64_t first = 100;
constexpr std::int64_t size = 10;

std::int64_t offset_of(long number) { return first + (number - 1) * size; }

engine::block_index read_in_order(const std::vector<file_record>& records, std::size_t cap, bool to_the_end) {
    engine::block_index x;
    x.cap = cap;
    engine::start_index(x, first);
    long number = 0;
    for (const file_record& r : records) {
        ++number;
        if (r.plain) {
            engine::note_plain_record(x, offset_of(number), number, r.id);
        } else {
            engine::note_general_record(x, offset_of(number), number);
        }
        engine::note_reached(x, offset_of(number), offset_of(number + 1));
    }
    if (to_the_end) engine::note_end_of_file(x, offset_of(number + 1), offset_of(number), number);
    return x;
}

void expect_jump(const engine::index_jump& j, long number) {
    EXPECT_TRUE(j.jump);
    EXPECT_EQ(j.offset, offset_of(number));
    EXPECT_EQ(j.line, number);
}

const std::vector<file_record> two_blocks_of_7 = {{5}, {5}, {7}, {7}, {6}, {7}, {8}, {8}};

TEST(block_index, goes_to_the_first_block_after_the_position) {
    engine::block_index x = read_in_order(two_blocks_of_7, 100, false);
    expect_jump(engine::jump_for(x, offset_of(1), 7), 3);
    expect_jump(engine::jump_for(x, offset_of(5), 7), 6);
    expect_jump(engine::jump_for(x, offset_of(1), 8), 7);
}

TEST(block_index, reads_on_where_the_record_is_the_wanted_ones) {
    engine::block_index x = read_in_order(two_blocks_of_7, 100, false);
    EXPECT_FALSE(engine::jump_for(x, offset_of(3), 7).jump);
    EXPECT_FALSE(engine::jump_for(x, offset_of(4), 7).jump);  // inside the block
}

TEST(block_index, without_the_block_goes_to_the_last_block_start_before_the_known_end) {
    engine::block_index x = read_in_order(two_blocks_of_7, 100, false);
    expect_jump(engine::jump_for(x, offset_of(1), 9), 7);
    EXPECT_FALSE(engine::jump_for(x, offset_of(7), 9).jump);
    EXPECT_FALSE(engine::jump_for(x, offset_of(9), 9).jump);  // not read yet
}

TEST(block_index, at_the_end_of_the_file_goes_to_the_last_record) {
    engine::block_index x = read_in_order(two_blocks_of_7, 100, true);
    expect_jump(engine::jump_for(x, offset_of(1), 9), 8);
    expect_jump(engine::jump_for(x, offset_of(7), 9), 8);
    EXPECT_FALSE(engine::jump_for(x, offset_of(8), 9).jump);
}

TEST(block_index, stops_before_records_read_by_the_general_rules) {
    // Record 5 has an empty field: whatever follows is read again from 7's block start,
    // whose record gives every value.
    const std::vector<file_record> records = {{5}, {5}, {7}, {7}, {8, false}, {8}, {9}, {9}};
    engine::block_index x = read_in_order(records, 100, true);
    expect_jump(engine::jump_for(x, offset_of(1), 9), 3);
    expect_jump(engine::jump_for(x, offset_of(1), 7), 3);
    EXPECT_FALSE(engine::jump_for(x, offset_of(5), 9).jump);
    expect_jump(engine::jump_for(x, offset_of(6), 9), 7);  // 8's plain record starts a block
}

TEST(block_index, past_its_cap_describes_nothing_more) {
    const std::vector<file_record> records = {{1}, {2}, {2}, {3}, {4}, {5}};
    engine::block_index x = read_in_order(records, 3, true);
    EXPECT_EQ(x.entries.size(), 3u);
    EXPECT_EQ(x.known_end, offset_of(5));
    expect_jump(engine::jump_for(x, offset_of(1), 3), 4);
    expect_jump(engine::jump_for(x, offset_of(1), 5), 4);  // reads on from 3's block
    EXPECT_FALSE(engine::jump_for(x, offset_of(5), 5).jump);
}

TEST(block_index, with_a_cap_of_0_never_jumps) {
    engine::block_index x = read_in_order(two_blocks_of_7, 0, true);
    EXPECT_TRUE(x.entries.empty());
    EXPECT_FALSE(engine::jump_for(x, offset_of(1), 7).jump);
    EXPECT_FALSE(engine::jump_for(x, offset_of(1), 9).jump);
}

}  // namespace

namespace {

// A block ends where the next block start (or run of general records) begins, or where the
// records known end.
TEST(block_index, a_block_ends_at_the_next_entry) {
    const engine::block_index x = read_in_order(two_blocks_of_7, 100, true);
    EXPECT_EQ(engine::next_entry_after(x, offset_of(3)), offset_of(5));
    EXPECT_EQ(engine::next_entry_after(x, offset_of(4)), offset_of(5));
    EXPECT_EQ(engine::next_entry_after(x, offset_of(1)), offset_of(3));
    EXPECT_EQ(engine::next_entry_after(x, offset_of(7)), offset_of(9));  // the last block: the end
    const engine::block_index y = read_in_order({{5}, {5, false}, {6}}, 100, true);
    EXPECT_EQ(engine::next_entry_after(y, offset_of(1)), offset_of(2));
}

}  // namespace
