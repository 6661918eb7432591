#include "engine/block_index.hpp"

#include <algorithm>

namespace engine {
namespace {

// An identifier with very many blocks is looked up no further than this; past it the
// search reads on, so that a file of two interleaved stations costs no more than without
// an index.
constexpr int max_chain_steps = 4096;

bool room_for_one_more(block_index& x, std::int64_t offset) {
    if (x.entries.size() < x.cap) return true;
    // Everything before this block start is described; nothing from it on will be.
    x.full = true;
    x.known_end = offset;
    return false;
}

void add_entry(block_index& x, const index_entry& entry) {
    const auto index = static_cast<std::uint32_t>(x.entries.size());
    x.entries.push_back(entry);
    if (entry.barrier) {
        x.barriers.push_back(index);
        return;
    }
    const auto [chain, added] = x.by_id.try_emplace(entry.id, block_index::id_chain{index, index});
    if (!added) {
        x.entries[chain->second.last].next_of_id = index;
        chain->second.last = index;
    }
}

bool is_new(const block_index& x, std::int64_t offset) { return x.started && !x.full && offset >= x.known_end; }

// The index of the last entry at or before `offset` (entries.size() when there is none).
std::size_t entry_at_or_before(const block_index& x, std::int64_t offset) {
    const auto after = std::upper_bound(x.entries.begin(), x.entries.end(), offset,
                                        [](std::int64_t o, const index_entry& e) { return o < e.offset; });
    if (after == x.entries.begin()) return x.entries.size();
    return static_cast<std::size_t>(after - x.entries.begin()) - 1;
}

// The first entry of `wanted` after `offset`: entries.size() when there is none, no_entry
// when the chain is too long to follow.
std::size_t first_of_id_after(const block_index& x, std::int32_t wanted, std::int64_t offset) {
    const auto chain = x.by_id.find(wanted);
    if (chain == x.by_id.end()) return x.entries.size();
    std::uint32_t k = chain->second.first;
    for (int steps = 0; k != no_entry; ++steps) {
        if (steps == max_chain_steps) return no_entry;
        if (x.entries[k].offset > offset) return k;
        k = x.entries[k].next_of_id;
    }
    return x.entries.size();
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
    add_entry(x, {offset, line, id, no_entry, false});
    x.last_kind = last_record_kind::plain;
    x.last_id = id;
}

void note_general_record(block_index& x, std::int64_t offset, long line) {
    if (!is_new(x, offset) || x.last_kind == last_record_kind::general) return;
    if (!room_for_one_more(x, offset)) return;
    add_entry(x, {offset, line, 0, no_entry, true});
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

index_jump jump_for(const block_index& x, std::int64_t at, std::int32_t wanted) {
    if (!x.started || at < x.first_offset || at >= x.known_end) return {};
    const std::size_t here = entry_at_or_before(x, at);
    if (here == x.entries.size() || x.entries[here].barrier || x.entries[here].id == wanted) return {};
    const std::size_t found = first_of_id_after(x, wanted, at);
    if (found == no_entry) return {};
    const std::size_t barrier = first_barrier_after(x, at);
    std::int64_t stop = x.known_end;
    if (barrier < x.entries.size()) stop = std::min(stop, x.entries[barrier].offset);
    if (found < x.entries.size() && x.entries[found].offset < stop) return jump_to(x.entries[found]);
    // Reading goes on at a plain record, which sets every value an empty field may take.
    if (stop == x.known_end && x.reaches_end)
        return x.final_record_offset > at ? index_jump{true, x.final_record_offset, x.final_record_line} : index_jump{};
    // The records from the last block start before `stop` on are read again.
    const std::size_t last = entry_at_or_before(x, stop - 1);
    if (last == x.entries.size() || last == here || x.entries[last].offset <= at) return {};
    return jump_to(x.entries[last]);
}

}  // namespace engine
