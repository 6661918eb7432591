#include "engine/block_search.hpp"

#include <algorithm>
#include <cassert>

namespace engine {
namespace {

// A record met record by record, with the values it holds on this search's way.
struct met_record {
    carried_values values;
    bool spans_lines = false;
    reading_step from_last_line;
    std::int64_t last_line_offset = -1;  // where that reading starts
};

class searcher {
public:
    searcher(const block_table& t, search_state& s, std::int32_t id, std::int32_t qualifying)
        : t_(t), s_(s), id_(id), qualifying_(qualifying) {
        const auto at = std::lower_bound(t.ids.begin(), t.ids.end(), id);
        if (at != t.ids.end() && *at == id) runs_ = &t.station_blocks[static_cast<std::size_t>(at - t.ids.begin())];
    }

    // Reads on by a run, a record or an end; true once the outcome is known, or once the
    // table so far cannot tell it.
    bool step(station_search& out) {
        switch (s_.at) {
            case search_state::place::past_end: return meet_end(out);
            case search_state::place::alternate: return read_alternate(out);
            case search_state::place::record: break;
        }
        if (s_.ordinal == t_.record_count) return t_.complete ? read_end(out) : wait();
        if (s_.in_step) return read_in_step(out);
        return read_special(out);
    }

    bool found = false;
    bool waiting = false;  // the outcome lies beyond the records scanned so far

private:
    bool wait() {
        waiting = true;
        return true;
    }

    // The file-order reading holds here: the runs answer for every record up to the
    // station's next one, or the end.
    bool read_in_step(station_search& out) {
        const std::int64_t q = s_.ordinal;
        static const std::vector<block_entry> none;
        const std::vector<block_entry>& runs = runs_ ? *runs_ : none;
        const auto ahead = std::partition_point(runs.begin(), runs.end(), [q](const block_entry& b) {
            return static_cast<std::int64_t>(b.ordinal + b.count) <= q;
        });
        const auto k = static_cast<std::size_t>(ahead - runs.begin());
        const bool run_ahead = k < runs.size() && (!found || static_cast<std::int64_t>(runs[k].ordinal) <= q);
        if (!run_ahead) {
            // Found before (out of step): the record here is another station's.
            if (found) return end_block_at(out, q, s_.offset);
            if (!t_.complete) return wait();
            s_.ordinal = t_.record_count;
            s_.offset = -1;
            return false;
        }
        const block_entry& b = runs[k];
        const std::int64_t from = std::max<std::int64_t>(q, static_cast<std::int64_t>(b.ordinal));
        const std::int64_t offset = from == static_cast<std::int64_t>(b.ordinal) ? b.offset : s_.offset;
        assert(offset >= 0);
        std::int64_t end = static_cast<std::int64_t>(b.ordinal + b.count);
        bool plain = b.plain != 0;
        for (std::size_t n = k + 1; n < runs.size() && static_cast<std::int64_t>(runs[n].ordinal) == end; ++n) {
            end += static_cast<std::int64_t>(runs[n].count);
            plain = plain && runs[n].plain != 0;
        }
        note_found();
        const special_record* first = special_at(t_, from);
        block_piece piece;
        piece.offset = offset;
        piece.ordinal = from;
        piece.count = end - from;
        piece.plain = plain;
        if (first) piece.values = first->carried_in;
        out.pieces.push_back(piece);
        s_.ordinal = end;
        s_.offset = -1;
        if (end == t_.record_count) return false;
        const special_record* ending = special_at(t_, end);
        return end_block_at(out, end, ending ? ending->place.offset : -1);
    }

    // The record at ordinal q, read in step, is another station's and ends the block.
    bool end_block_at(station_search& out, std::int64_t q, std::int64_t offset) {
        out.outcome = search_outcome::ended_by_record;
        const special_record* s = special_at(t_, q);
        if (s && s->place.spans_lines()) {
            if (!t_.complete) return wait();  // the reading from its last line is not known yet
            go_to(s->from_last_line, s->place.last_line_offset);
            s_.in_step = false;
            s_.carried = merged(s->carried_in, s->given, s->mask);
            return true;
        }
        s_.at = search_state::place::record;
        s_.ordinal = q;
        s_.offset = offset;
        return true;
    }

    // A special record met out of step: its values depend on what this search carries.
    bool read_special(station_search& out) {
        const special_record* s = special_at(t_, s_.ordinal);
        if (!s) {
            s_.in_step = true;  // a record that gives every value: in step from here
            return false;
        }
        met_record r{merged(s_.carried, s->given, s->mask), s->place.spans_lines(), s->from_last_line,
                     s->place.last_line_offset};
        const std::int64_t here = s_.ordinal;
        if (meet(out, r, here)) return true;
        s_.carried = r.values;
        if (s->mask == given_all) s_.in_step = true;
        s_.ordinal = here + 1;
        s_.offset = s->place.end;
        return false;
    }

    bool read_alternate(station_search& out) {
        const alternate_record& a = t_.alternates[static_cast<std::size_t>(s_.alternate)];
        if (a.is_end) {
            if (a.end == reading_end::failure) return fail(out, a.failure);
            s_.carried = merged(s_.carried, a.given, a.mask);
            s_.at = search_state::place::past_end;
            return meet_end(out);
        }
        met_record r{merged(s_.carried, a.given, a.mask), a.place.spans_lines(), a.from_last_line,
                     a.place.last_line_offset};
        if (meet(out, r, -1)) return true;
        s_.carried = r.values;
        go_to(a.next, a.place.end);
        return false;
    }

    // The record read at the end of the file-order reading: the end, perhaps after a
    // record cut short, or a record that cannot be read.
    bool read_end(station_search& out) {
        if (t_.end == reading_end::failure) return fail(out, t_.end_failure);
        s_.carried = s_.in_step ? t_.final_carried : merged(s_.carried, t_.end_given, t_.end_mask);
        s_.in_step = false;
        s_.at = search_state::place::past_end;
        return meet_end(out);
    }

    // A record with its values on this search's way; true when it ends the block, which
    // leaves the reading on it (or, for a record spanning lines, on its last line).
    bool meet(station_search& out, const met_record& r, std::int64_t ordinal) {
        if (r.values.id == id_) {
            note_found();
            block_piece piece;
            piece.values = r.values;
            out.pieces.push_back(piece);
            return false;
        }
        if (!found) return false;
        if (r.spans_lines && !t_.complete) return wait();
        out.outcome = search_outcome::ended_by_record;
        s_.in_step = false;
        s_.carried = r.values;
        if (r.spans_lines) {
            go_to(r.from_last_line, r.last_line_offset);
        } else if (ordinal < 0) {
            s_.at = search_state::place::alternate;  // the same alternate record again
        } else {
            s_.at = search_state::place::record;
            s_.ordinal = ordinal;
        }
        return true;
    }

    // The end of the file met: the block ends there, or the search goes round once.
    bool meet_end(station_search& out) {
        if (found) {
            out.outcome = search_outcome::ended_by_end;
            return true;
        }
        // The search gives up without a report only when every station was found; one
        // that has not found its own cannot see that, as each search before it found one
        // at most.
        assert(s_.found_count < qualifying_);
        (void)qualifying_;
        ++s_.rewind_count;
        ++s_.rewinds;
        s_.at = search_state::place::record;
        s_.ordinal = 0;
        s_.offset = t_.first_offset;
        s_.in_step = false;
        if (s_.rewind_count <= 1) return false;
        s_.rewind_count = 0;
        out.outcome = search_outcome::missing_reported;
        return true;
    }

    bool fail(station_search& out, std::int32_t failure) {
        out.outcome = search_outcome::failed;
        out.failure = failure;
        return true;
    }

    void note_found() {
        if (found) return;
        found = true;
        ++s_.found_count;
        s_.rewind_count = 0;
    }

    void go_to(const reading_step& step, std::int64_t offset) {
        if (step.alternate >= 0) {
            s_.at = search_state::place::alternate;
            s_.alternate = step.alternate;
            return;
        }
        s_.at = search_state::place::record;
        s_.ordinal = step.ordinal;
        s_.offset = offset;
        s_.in_step = false;
    }

    const block_table& t_;
    search_state& s_;
    std::int32_t id_;
    std::int32_t qualifying_;
    const std::vector<block_entry>* runs_ = nullptr;  // the station's, when it is asked for
};

}  // namespace

bool try_search_station(const block_table& t, search_state& state, std::int32_t id, std::int32_t qualifying,
                        station_search& out) {
    std::vector<block_piece> room = std::move(out.pieces);  // used again, without allocating
    room.clear();
    out = station_search{};
    out.pieces = std::move(room);
    const search_state before = state;
    searcher s(t, state, id, qualifying);
    while (!s.step(out)) {}
    if (!s.waiting) return true;
    state = before;
    return false;
}

station_search search_station(const block_table& t, search_state& state, std::int32_t id, std::int32_t qualifying) {
    assert(t.complete);
    station_search out;
    const bool known = try_search_station(t, state, id, qualifying, out);
    assert(known);
    (void)known;
    return out;
}

}  // namespace engine
