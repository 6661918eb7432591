#include "engine/judged_windows.hpp"
#include "textio/limits.hpp"

#include <algorithm>
#include <cstdint>

namespace engine {
namespace {

// Runs of one identifier judged where a search lands: its block, and the record after it.
constexpr std::size_t landing_runs = 2;

using textio::split_window_bytes;
constexpr int least_share_here = 5;
constexpr int most_share_here = 50;
constexpr int share_step = 2;

// Where the last `share` percent of `text` begins, at a record start: the helper judges the
// records before it, this thread those after, so that only the smaller part this thread
// judges is copied behind the helper's. The end of the text when the share is 0 or no
// record starts there.
std::size_t split_point(std::string_view text, int share) {
    if (share <= 0) return text.size();
    const std::size_t feed = text.find('\n', text.size() * static_cast<std::size_t>(100 - share) / 100);
    return feed == std::string_view::npos ? text.size() : feed + 1;
}

void judge_earlier_part(window_judge& r, std::string_view earlier, judged_records& into) {
    r.helper->start([&into, earlier, ids = r.searched_ids] { judge_records(earlier, *ids, into); });
}

// Judges the records of `text` from `split` on here, then takes those before it from the
// helper, which judged them into `earlier`. True when the helper had finished first.
bool judge_here_and_join(window_judge& r, std::string_view text, std::size_t split, judged_records& earlier) {
    judge_records(text.substr(split), *r.searched_ids, r.judged_here);
    const bool helper_first = r.helper->done();
    r.helper->wait();
    std::swap(r.judged, earlier);
    if (!r.judged.stopped) append_judged(r.judged, r.judged_here);
    return helper_first;
}

// A share of this thread's moves toward the point where both threads end together: down
// when the helper was done first, up when this thread was.
int follow_the_wait(int share, bool helper_first, int least) {
    return helper_first ? std::max(least, share - share_step) : std::min(most_share_here, share + share_step);
}

// While the window just judged is searched, the helper judges most of the next one.
void judge_next_ahead(const textio::in_unit& unit, window_judge& r, const textio::record_window& w) {
    if (!r.helper || r.judged.stopped || r.run_limit != SIZE_MAX || r.landings_on_helper) return;
    const std::int64_t next = w.offset + static_cast<std::int64_t>(w.bytes.size());
    const std::string_view text = textio::mapped_window_at(unit, next);
    const std::size_t split = split_point(text, r.ahead_share_here);
    if (text.size() < split_window_bytes || split >= text.size()) return;
    r.ahead = text;
    r.ahead_offset = next;
    r.ahead_split = split;
    judge_earlier_part(r, text.substr(0, split), r.judged_ahead);
}

// Judges the records of window `w` for every station: the part judged ahead is used when
// the window is the one expected; a long window is otherwise judged in two halves on two
// threads. A later part counts only when the part before it was judged to its end.
void judge_window(const textio::in_unit& unit, window_judge& r, const textio::record_window& w) {
    const std::string_view text = w.bytes;
    if (r.ahead_offset >= 0) {
        const bool expected = r.ahead_offset == w.offset && r.ahead.data() == text.data() &&
                              r.ahead.size() == text.size() && r.run_limit == SIZE_MAX;
        r.ahead_offset = -1;
        if (expected) {
            const bool helper_first = judge_here_and_join(r, text, r.ahead_split, r.judged_ahead);
            r.ahead_share_here = follow_the_wait(r.ahead_share_here, helper_first, least_share_here);
        } else {
            r.helper->wait();
            judge_window(unit, r, w);
            return;
        }
    } else {
        const bool split =
            text.size() >= split_window_bytes && r.helper && r.run_limit == SIZE_MAX && !r.landings_on_helper;
        const std::size_t middle = split ? split_point(text, 50) : text.size();
        if (middle >= text.size()) {
            judge_records(text, *r.searched_ids, r.judged, r.run_limit);
        } else {
            judge_earlier_part(r, text.substr(0, middle), r.judged_ahead);
            judge_here_and_join(r, text, middle, r.judged_ahead);
        }
    }
    r.judged_offset = w.offset;
    judge_next_ahead(unit, r, w);
}

std::int64_t judged_end(const window_judge& r) {
    return r.judged_offset + static_cast<std::int64_t>(judged_start(r.judged, judged_count(r.judged)));
}

// The index of the judged record that starts at file offset `at`, when there is one (or the
// judged records end there and judging them ended before a record the reader judges itself).
bool judged_record_at(const window_judge& r, std::int64_t at, std::size_t& from) {
    const judged_records& j = r.judged;
    if (r.judged_offset < 0 || at < r.judged_offset || at > judged_end(r)) return false;
    const auto relative = static_cast<std::uint64_t>(at - r.judged_offset);
    if (relative == 0) {
        from = 0;
    } else {
        const auto end = std::lower_bound(j.ends.begin(), j.ends.end(), relative);
        if (end == j.ends.end() || *end != relative) return false;
        from = static_cast<std::size_t>(end - j.ends.begin()) + 1;
    }
    return from < judged_count(j) || j.stopped;
}

// The window must also hold every judged record after its start (after a seek it may not).
bool find_judged_record(const window_judge& r, const textio::record_window& w, std::size_t& from) {
    return judged_end(r) <= w.offset + static_cast<std::int64_t>(w.bytes.size()) && judged_record_at(r, w.offset, from);
}

// A search that jumped, or met a record the reader judges itself, often needs only the
// block where it lands: judging ends there with the record after the block, and judges
// whole windows again once the reading goes on from where the judged records end.
void size_judging(window_judge& r, std::int64_t at) {
    const bool goes_on = r.judged_offset >= 0 && at == judged_end(r);
    r.run_limit = goes_on ? SIZE_MAX : landing_runs;
}

}  // namespace

void prepare_judging(window_judge& r, bool second_thread) {
    r.searched_ids = std::make_shared<const std::vector<std::int32_t>>();
    if (second_thread && !r.helper) r.helper = std::make_unique<util::helper_thread>();
}

void keep_values_near(window_judge& r, const station_table& table, std::int32_t row) {
    if (r.near_first >= 0 && row >= r.near_first && row < r.near_first + r.near_count / 2) return;
    const std::int32_t last = row + std::min(table.qualifying_count - row, r.near_count);
    std::vector<std::int32_t> ids(table.station_id.begin() + row, table.station_id.begin() + last);
    std::sort(ids.begin(), ids.end());
    r.searched_ids = std::make_shared<const std::vector<std::int32_t>>(std::move(ids));
    r.near_first = row;
}

void judge_block_again(window_judge& r, const textio::record_window& w) {
    judge_records(w.bytes, *r.searched_ids, r.judged, landing_runs);
    r.judged_offset = w.offset;
    if (r.near_count < INT32_MAX / 2) r.near_count *= 2;
    r.near_first = -1;
}

namespace {

// The judged records from the reading position of a mapped file, when it is one of their
// starts: the window is theirs, without looking for the end of a longer one.
bool judged_at_reading_position(const textio::in_unit& unit, const window_judge& r, judged_view& v) {
    if (!unit.mapped || !judged_record_at(r, textio::input_offset(unit), v.from)) return false;
    v.bytes = static_cast<std::size_t>(judged_end(r) - textio::input_offset(unit));
    v.window = textio::mapped_records_here(unit, v.bytes);
    return true;
}

}  // namespace

judged_view judged_window(textio::in_unit& unit, window_judge& r) {
    judged_view v;
    if (judged_at_reading_position(unit, r, v)) return v;
    v.window = textio::next_window(unit);
    if (v.window.bytes.empty()) {
        // The end of the file: nothing to judge, and the records judged before are kept.
        v.from = judged_count(r.judged);
        return v;
    }
    if (!find_judged_record(r, v.window, v.from)) {
        size_judging(r, v.window.offset);
        judge_window(unit, r, v.window);
        v.from = 0;
    }
    v.bytes = judged_start(r.judged, judged_count(r.judged)) - judged_start(r.judged, v.from);
    return v;
}

bool ready_for_landings(const window_judge& r) { return r.helper && r.ahead_offset < 0 && !r.landings_on_helper; }

void judge_landings(window_judge& r) {
    // Waking the helper and waiting for it costs more than judging a short stretch (blocks
    // that lie apart come one to a stretch): each of those searches judges its own block.
    if (r.coming.text.size() < split_window_bytes) return;
    // The helper judges the stretch from a record start near the share left to this thread;
    // the part before it is judged here when the first of these searches comes.
    r.coming.split = split_point(r.coming.text, r.landings_share_here);
    r.landings_on_helper = true;
    judge_earlier_part(r, r.coming.text.substr(0, r.coming.split), r.coming.judged);
}

bool take_landings(window_judge& r, std::int32_t row) {
    if (!r.landings_on_helper) return false;
    r.landings_on_helper = false;
    if (row < r.coming.first_row || row > r.coming.last_row) {
        r.helper->wait();
        return false;
    }
    const bool helper_first = judge_here_and_join(r, r.coming.text, r.coming.split, r.coming.judged);
    r.landings_share_here = follow_the_wait(r.landings_share_here, helper_first, 0);
    r.judged_offset = r.coming.offset;
    r.landed_last_row = r.coming.last_row;
    return true;
}

}  // namespace engine
