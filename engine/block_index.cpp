#include "engine/block_index.hpp"

#include <algorithm>

namespace engine {
namespace {

bool room_for_one_more(block_index& x, std::int64_t offset) {
    if (x.entries.size() < x.cap) return true;
    // Everything before this block start is described; nothing from it on will be.
    x.full = true;
    x.known_end = offset;
    return false;
}

void add_entry(block_index& x, const index_entry& entry) {
    if (entry.barrier) x.barriers.push_back(static_cast<std::uint32_t>(x.entries.size()));
    x.entries.push_back(entry);
}

bool is_new(const block_index& x, std::int64_t offset) { return x.started && !x.full && offset >= x.known_end; }

// The index of the last entry at or before `offset` (entries.size() when there is none).
std::size_t entry_at_or_before(const block_index& x, std::int64_t offset) {
    const auto after = std::upper_bound(x.entries.begin(), x.entries.end(), offset,
                                        [](std::int64_t o, const index_entry& e) { return o < e.offset; });
    if (after == x.entries.begin()) return x.entries.size();
    return static_cast<std::size_t>(after - x.entries.begin()) - 1;
}

void sort_by_id(block_index& x) {
    x.by_id.clear();
    for (std::size_t k = 0; k < x.entries.size(); ++k)
        if (!x.entries[k].barrier) x.by_id.push_back(static_cast<std::uint32_t>(k));
    // Entries are in offset order, so their indices order the blocks of one identifier.
    std::sort(x.by_id.begin(), x.by_id.end(), [&x](std::uint32_t a, std::uint32_t b) {
        return x.entries[a].id != x.entries[b].id ? x.entries[a].id < x.entries[b].id : a < b;
    });
}

// The first entry of `wanted` after `offset` (entries.size() when there is none).
std::size_t first_of_id_after(const block_index& x, std::int32_t wanted, std::int64_t offset) {
    const auto found = std::lower_bound(x.by_id.begin(), x.by_id.end(), wanted, [&](std::uint32_t k, std::int32_t id) {
        const index_entry& e = x.entries[k];
        return e.id < id || (e.id == id && e.offset <= offset);
    });
    if (found == x.by_id.end() || x.entries[*found].id != wanted) return x.entries.size();
    return *found;
}

// The first barrier after `offset` (entries.size() when there is none).
std::size_t first_barrier_after(const block_index& x, std::int64_t offset) {
    const auto after = std::upper_bound(x.barriers.begin(), x.barriers.end(), offset,
                                        [&x](std::int64_t o, std::uint32_t k) { return o < x.entries[k].offset; });
    return after == x.barriers.end() ? x.entries.size() : *after;
}

index_jump jump_to(const index_entry& e) { return {true, e.offset, e.line}; }

}  // namespace

void start_index(block_index& x, std::int64_t offset) {
    x.started = true;
    x.full = x.cap == 0;
    x.known_end = offset;
    x.first_offset = offset;
}

void note_plain_record(block_index& x, std::int64_t offset, long line, std::int32_t id) {
    if (!is_new(x, offset)) return;
    if (x.last_kind == last_record_kind::plain && id == x.last_id) return;
    if (!room_for_one_more(x, offset)) return;
    add_entry(x, {offset, line, id, false});
    x.last_kind = last_record_kind::plain;
    x.last_id = id;
}

void note_general_record(block_index& x, std::int64_t offset, long line) {
    if (!is_new(x, offset) || x.last_kind == last_record_kind::general) return;
    if (!room_for_one_more(x, offset)) return;
    add_entry(x, {offset, line, 0, true});
    x.last_kind = last_record_kind::general;
}

void note_reached(block_index& x, std::int64_t begin, std::int64_t end) {
    if (!x.started || x.full || end <= x.known_end) return;
    if (begin > x.known_end) {
        // Records were read past a stretch the index did not see: it stops describing here.
        x.full = true;
        return;
    }
    x.known_end = end;
}

void note_end_of_file(block_index& x, std::int64_t at, std::int64_t last_record_offset, long line) {
    if (!x.started || x.full || at != x.known_end || x.last_kind != last_record_kind::plain) return;
    if (last_record_offset < x.first_offset || last_record_offset >= at) return;
    x.reaches_end = true;
    x.final_record_offset = last_record_offset;
    x.final_record_line = line;
}

index_jump jump_for(block_index& x, std::int64_t at, std::int32_t wanted) {
    if (!x.started || at < x.first_offset || at >= x.known_end) return {};
    const std::size_t here = entry_at_or_before(x, at);
    if (here == x.entries.size() || x.entries[here].barrier || x.entries[here].id == wanted) return {};
    const std::size_t barrier = first_barrier_after(x, at);
    std::int64_t stop = x.known_end;
    if (barrier < x.entries.size()) stop = std::min(stop, x.entries[barrier].offset);
    // Right after a block the reader stands on the next block's first record, in the last
    // block before `stop`: no other block start lies ahead, so no sort is needed.
    const bool blocks_ahead = here + 1 < x.entries.size() && x.entries[here + 1].offset < stop;
    if (blocks_ahead) {
        if (x.by_id.size() + x.barriers.size() != x.entries.size()) sort_by_id(x);
        const std::size_t found = first_of_id_after(x, wanted, at);
        if (found < x.entries.size() && x.entries[found].offset < stop) return jump_to(x.entries[found]);
    }
    // Reading goes on at a plain record, which sets every value an empty field may take.
    if (stop == x.known_end && x.reaches_end)
        return x.final_record_offset > at ? index_jump{true, x.final_record_offset, x.final_record_line} : index_jump{};
    if (!blocks_ahead) return {};
    // The records from the last block start before `stop` on are read again.
    return jump_to(x.entries[entry_at_or_before(x, stop - 1)]);
}

std::int64_t next_entry_after(const block_index& x, std::int64_t offset) {
    const auto after = std::upper_bound(x.entries.begin(), x.entries.end(), offset,
                                        [](std::int64_t o, const index_entry& e) { return o < e.offset; });
    return after == x.entries.end() ? x.known_end : after->offset;
}

}  // namespace engine
