#include "engine/block_scan.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "engine/observation_record.hpp"
#include "engine/plain_record.hpp"
#include "textio/limits.hpp"
#include "util/stop_signal.hpp"
#include "util/work_team.hpp"

namespace engine {
namespace {

// The stations asked for, for a look-up at every change of identifier: open addressing,
// at most half full, giving each identifier's place in the sorted list.
class wanted_set {
public:
    explicit wanted_set(const std::vector<std::int32_t>& ids) {
        std::size_t size = 16;
        while (size < 2 * ids.size()) size *= 2;
        keys_.assign(size, 0);
        places_.assign(size, -1);
        mask_ = size - 1;
        for (std::size_t k = 0; k < ids.size(); ++k) {
            std::size_t i = slot(ids[k]);
            while (places_[i] >= 0 && keys_[i] != ids[k]) i = (i + 1) & mask_;
            keys_[i] = ids[k];
            places_[i] = static_cast<std::int32_t>(k);
        }
    }
    // -1 for a station not asked for.
    std::int32_t place_of(std::int32_t id) const {
        for (std::size_t i = slot(id); places_[i] >= 0; i = (i + 1) & mask_)
            if (keys_[i] == id) return places_[i];
        return -1;
    }

private:
    std::size_t slot(std::int32_t id) const { return (static_cast<std::uint32_t>(id) * 0x9E3779B1u >> 7) & mask_; }
    std::vector<std::int32_t> keys_;
    std::vector<std::int32_t> places_;
    std::size_t mask_ = 0;
};

struct found_run {
    std::int64_t ordinal = 0;
    std::int64_t count = 0;
    std::int64_t offset = 0;
    std::int32_t station = 0;     // the identifier's place among those asked for
    bool plain = true;            // every record read by the short route
    std::int64_t kept_from = -1;  // its first record's dates and values in the chunk's, when kept
    std::int64_t end = 0;         // after its last record
};

// Where the records of a run of a station asked for lie, by the station's place.
struct run_bytes {
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::int32_t station = 0;
};

// What one chunk holds: the records that start in [begin, limit), read as if a record
// started at `begin`. Ordinals count from the chunk's first record; lines from
// `line_before`, the number of the line before it.
struct chunk_scan {
    std::int64_t begin = 0;
    std::int64_t limit = 0;
    std::int64_t end = 0;  // where the record after its last starts
    long line_before = 0;
    long lines = 0;
    std::int64_t records = 0;
    std::int64_t longest_plain = 0;  // bytes of its longest record read by the short route
    // Records at its start whose identifier is carried in from the chunk before.
    std::int64_t leading_carried = 0;
    std::vector<found_run> runs;  // of the stations asked for
    kept_dates_and_values kept;   // of their plain runs, while there is room
    std::vector<special_record> specials;
    std::vector<std::uint8_t> known_in;  // of each special record's carried values, those set in the chunk
    carried_values carried;              // at its end
    std::uint8_t known = 0;
    bool ended = false;   // the file-order reading ends in it
    bool failed = false;  // on a record that cannot be read
    record_reading end_record;
    textio::io_failure failure;
    std::int64_t lost_from = INT64_MAX;  // where lost pages began when it was scanned
    bool keep_values = true;             // of the plain runs of the stations asked for
};

// A chunk's scan: the records that give four plain values on their line are taken by
// the short route, which finds the line end over the whole line and reads only the
// first four values; every other record is read by the general rules where it lies.
class chunk_scanner {
public:
    chunk_scanner(const textio::in_unit& data, const wanted_set& wanted, chunk_scan& out)
        : data_(data), wanted_(wanted), out_(out) {}

    void scan() {
        std::int64_t pos = out_.begin;
        long line = out_.line_before + 1;
        const bool by_blocks = blocks_supported();
        while (pos < out_.limit) {
            if (by_blocks && text_length_ != 0) {
                // The rest of a run written as its record before: passed in one call.
                const std::int64_t passed =
                    pass_plain_records_written_as(data_, pos, out_.limit, out_.lost_from, text_at_, text_length_,
                                                  last_plain_, out_.longest_plain, keeping() ? &out_.kept : nullptr);
                if (passed > 0) {
                    note_identifier(id_, pos, passed);
                    out_.records += passed;
                    line += static_cast<long>(passed);
                    continue;
                }
            }
            std::int32_t id = 0;
            std::int64_t next = 0;
            const bool same_text = same_identifier_text(pos);
            if (same_text ? plain_record_checked(data_, pos, next) : plain_record_id(data_, pos, id, next)) {
                if (next <= out_.lost_from) {
                    if (same_text)
                        id = id_;
                    else
                        note_identifier_text(pos);
                    last_plain_ = pos;
                    out_.longest_plain = std::max(out_.longest_plain, next - pos);
                    note_identifier(id, pos);
                    if (keeping()) keep_values_of(pos);
                    ++out_.records;
                    ++line;
                    pos = next;
                    continue;
                }
            }
            if (!read_general(pos, line)) break;
        }
        out_.end = pos;
        close_run(pos);
        out_.lines = line - 1 - out_.line_before;
        take_plain_values();
        out_.carried = carried_;
        out_.known = known_;
    }

private:
    // Whether the run of the identifier read last is one whose values are being kept; a run
    // that meets the chunk's limit is kept no further.
    bool keeping() {
        if (run_ < 0) return false;
        found_run& r = out_.runs[static_cast<std::size_t>(run_)];
        if (r.kept_from >= 0 && out_.kept.full()) r.kept_from = -1;
        return r.kept_from >= 0;
    }

    void keep_values_of(std::int64_t pos) {
        float date = 0.0f, value = 0.0f;
        read_known_plain_run(bytes_of(data_), pos, 1, &date, &value);
        out_.kept.make_room();
        out_.kept.add(date, value);
    }

    // Most records repeat the identifier of the record before, written the same way: the
    // bytes up to the blank after it are the same, and it is not converted again.
    bool same_identifier_text(std::int64_t pos) const {
        if (text_length_ == 0 || static_cast<std::size_t>(pos) + text_length_ > data_.end) return false;
        // Compared 8 bytes at a time: the text is short, and a call costs more than it.
        const char* a = data_.buffer + pos;
        const char* b = data_.buffer + text_at_;
        std::size_t k = 0;
        for (; k + 8 <= text_length_; k += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a + k, 8);
            std::memcpy(&y, b + k, 8);
            if (x != y) return false;
        }
        for (; k < text_length_; ++k)
            if (a[k] != b[k]) return false;
        return true;
    }

    // The bytes of the record at `pos` up to and with the blank after its first value.
    void note_identifier_text(std::int64_t pos) {
        const char* p = data_.buffer + pos;
        const char* end = data_.buffer + data_.end;
        const char* q = p;
        while (q < end && (*q == ' ' || *q == '\t')) ++q;
        while (q < end && *q != ' ' && *q != '\t') ++q;
        text_at_ = pos;
        text_length_ = q < end && q - p < 32 ? static_cast<std::size_t>(q - p) + 1 : 0;
    }

    // The values a plain record left behind are read only when a record needs them.
    void take_plain_values() {
        if (last_plain_ < 0) return;
        const record_reading r = read_record_at(data_, last_plain_, 0);
        carried_ = r.given;
        known_ = given_all;
        last_plain_ = -1;
    }

    bool read_general(std::int64_t& pos, long& line) {
        text_length_ = 0;  // the identifier may change here without its text
        record_reading r;
        try {
            r = read_record_at(data_, pos, line);
        } catch (const textio::io_failure& failure) {
            out_.ended = out_.failed = true;
            out_.failure = failure;
            return false;
        }
        if (r.is_end) {
            out_.ended = true;
            out_.end_record = r;
            line = r.place.last_line + 1;
            return false;
        }
        take_plain_values();
        if (r.mask != given_all || r.place.spans_lines()) {
            special_record s;
            s.ordinal = out_.records;
            s.place = r.place;
            s.given = r.given;
            s.mask = r.mask;
            s.carried_in = carried_;
            out_.specials.push_back(s);
            out_.known_in.push_back(known_);
        }
        const bool id_known = (r.mask & given_id) || (known_ & given_id);
        const std::int32_t id = (r.mask & given_id) ? r.given.id : carried_.id;
        carried_ = merged(carried_, r.given, r.mask);
        known_ |= r.mask;
        if (id_known) {
            note_identifier(id, pos);
            if (run_ >= 0) {
                out_.runs[static_cast<std::size_t>(run_)].plain = false;
                out_.runs[static_cast<std::size_t>(run_)].kept_from = -1;
            }
        } else {
            ++out_.leading_carried;
        }
        ++out_.records;
        line = r.place.last_line + 1;
        pos = r.place.end;
        return true;
    }

    void close_run(std::int64_t end) {
        if (run_ >= 0) out_.runs[static_cast<std::size_t>(run_)].end = end;
    }

    void note_identifier(std::int32_t id, std::int64_t offset, std::int64_t records = 1) {
        if (!have_id_ || id != id_) {
            close_run(offset);
            have_id_ = true;
            id_ = id;
            run_ = -1;
            const std::int32_t station = wanted_.place_of(id);
            if (station >= 0) {
                run_ = static_cast<std::int64_t>(out_.runs.size());
                const bool room = out_.keep_values && !out_.kept.full();
                const auto kept_from = room ? static_cast<std::int64_t>(out_.kept.count) : -1;
                out_.runs.push_back({out_.records, 0, offset, station, true, kept_from});
            }
        }
        if (run_ >= 0) out_.runs[static_cast<std::size_t>(run_)].count += records;
    }

    const textio::in_unit& data_;
    const wanted_set& wanted_;
    chunk_scan& out_;
    carried_values carried_;
    std::uint8_t known_ = 0;
    std::int64_t last_plain_ = -1;
    bool have_id_ = false;
    std::int32_t id_ = 0;
    std::int64_t text_at_ = 0;
    std::size_t text_length_ = 0;
    std::int64_t run_ = -1;
};

// The offset just after the next line feed from `at` (the size when none is left), looked
// for a window at a time, handing back the pages of a long line as they are passed.
std::int64_t after_line_feed(const textio::in_unit& data, std::int64_t at) {
    const auto size = static_cast<std::int64_t>(data.end);
    for (std::int64_t from = at; from < size;) {
        const auto count = std::min<std::int64_t>(size - from, static_cast<std::int64_t>(textio::mapped_window_bytes));
        const void* feed = std::memchr(data.buffer + from, '\n', static_cast<std::size_t>(count));
        if (feed) return static_cast<const char*>(feed) - data.buffer + 1;
        textio::hand_back(data, from, from + count);
        from += count;
    }
    return size;
}

// Where the next `count` chunks begin, from `first`: line starts about `chunk_bytes`
// apart; `after` is where the chunk after them begins (the size when none does). Found a
// wave at a time, so that only the pages of the wave being scanned are mapped.
std::vector<std::int64_t> chunk_starts(const textio::in_unit& data, std::int64_t first, std::int64_t chunk_bytes,
                                       std::size_t count, std::int64_t& after) {
    std::vector<std::int64_t> starts{first};
    const auto size = static_cast<std::int64_t>(data.end);
    after = size;
    for (std::int64_t at = first + chunk_bytes; at < size; at = starts.back() + chunk_bytes) {
        const std::int64_t next = after_line_feed(data, at - 1);
        if (next >= size) break;
        if (starts.size() == count) {
            after = next;
            break;
        }
        starts.push_back(next);
    }
    return starts;
}

// The chunks' scans put together in file order, into the table.
class table_builder {
public:
    table_builder(const textio::in_unit& data, const wanted_set& wanted, scanned_archive& out)
        : data_(data), wanted_(wanted), out_(out), table_(out.table) {}

    std::int64_t next_begin() const { return next_begin_; }
    // The runs of the stations asked for put in the table since the last call, in file order,
    // and where the first record spanning lines put in it lies (-1 while none is).
    std::vector<run_bytes> take_wave_runs() { return std::exchange(wave_runs_, {}); }
    std::int64_t first_spanning_line() const { return first_spanning_line_; }
    long next_line() const { return next_line_; }
    bool ended() const { return ended_; }

    void start(std::int64_t first_offset, long first_line) {
        table_.first_offset = first_offset;
        table_.first_line = first_line;
        table_.station_blocks.assign(table_.ids.size(), {});
        table_.lines_before.assign(1, 0);
        next_begin_ = first_offset;
        next_line_ = first_line;
    }

    // Takes the chunk when it was scanned from where the record before it ended, with no
    // lost page unseen and without a failure; else scans it again from there.
    void take(chunk_scan& c) {
        if (c.begin != next_begin_ && next_begin_ >= c.limit) return;  // a record before took it whole
        const std::int64_t lost = textio::first_lost_offset(data_);
        const bool lost_unseen = lost >= 0 && lost < c.lost_from && lost < std::max(c.end, c.limit);
        // A failure is read again with its line counted from the file's start.
        if (c.begin != next_begin_ || c.failed || lost_unseen) {
            chunk_scan again;
            again.begin = next_begin_;
            again.limit = std::max(c.limit, next_begin_);
            again.line_before = next_line_ - 1;
            again.lost_from = lost >= 0 ? lost : INT64_MAX;
            again.keep_values = c.keep_values;
            chunk_scanner(data_, wanted_, again).scan();
            merge(again);
            return;
        }
        merge(c);
    }

    void finish() {
        if (ended_) return;
        table_.end = reading_end::end_of_file;
        table_.final_carried = carried_;
    }

private:
    // A run that goes on from the station's last one joins it. An entry after the first of
    // a run too long for one starts at a record the table does not place; the values are
    // read on from the first entry's start.
    void add_run(found_run r) {
        std::vector<block_entry>& runs = table_.station_blocks[static_cast<std::size_t>(r.station)];
        if (!runs.empty() && static_cast<std::int64_t>(runs.back().ordinal + runs.back().count) == r.ordinal) {
            block_entry& last = runs.back();
            const std::int64_t n =
                std::min<std::int64_t>(r.count, static_cast<std::int64_t>(block_count_limit - last.count));
            last.count = (last.count + static_cast<std::uint64_t>(n)) & block_count_limit;
            last.plain = last.plain && r.plain;
            r.ordinal += n;
            r.count -= n;
            r.offset = -1;
        }
        while (r.count > 0) {
            const std::int64_t n = std::min<std::int64_t>(r.count, block_count_limit);
            block_entry e;
            e.ordinal = static_cast<std::uint64_t>(r.ordinal) & block_ordinal_limit;
            e.count = static_cast<std::uint64_t>(n) & block_count_limit;
            e.plain = r.plain ? 1 : 0;
            e.offset = r.offset;
            runs.push_back(e);
            r.ordinal += n;
            r.count -= n;
            r.offset = -1;
        }
    }

    void merge(chunk_scan& c) {
        const long line_shift = next_line_ - 1 - c.line_before;
        const std::int32_t carried_station = wanted_.place_of(carried_.id);
        if (c.leading_carried > 0 && carried_station >= 0) {
            add_run({ordinal_base_, c.leading_carried, c.begin, carried_station, false});
            wave_runs_.push_back({c.begin, c.runs.empty() ? c.end : c.runs.front().offset, carried_station});
        }
        const kept_dates_and_values& kept = out_.kept.storage.emplace_back(std::move(c.kept));
        for (found_run r : c.runs) {
            r.ordinal += ordinal_base_;
            add_run(r);
            wave_runs_.push_back({r.offset, r.end, r.station});
            if (r.plain && r.kept_from >= 0) {
                const auto from = static_cast<std::size_t>(r.kept_from);
                out_.kept.runs.push_back(
                    {r.ordinal, r.count, r.station, kept.dates.get() + from, kept.values.get() + from});
            }
        }
        for (std::size_t i = 0; i < c.specials.size(); ++i) {
            special_record s = c.specials[i];
            s.ordinal += ordinal_base_;
            s.place.line += line_shift;
            s.place.last_line += line_shift;
            s.carried_in = merged(carried_, s.carried_in, c.known_in[i]);
            if (s.place.spans_lines() && first_spanning_line_ < 0) first_spanning_line_ = s.place.last_line_offset;
            table_.specials.push_back(s);
            table_.lines_before.push_back(table_.lines_before.back() + (s.place.last_line - s.place.line));
        }
        carried_ = merged(carried_, c.carried, c.known);
        table_.longest_plain_record = std::max(table_.longest_plain_record, c.longest_plain);
        ordinal_base_ += c.records;
        next_line_ += c.lines;
        next_begin_ = c.end;
        table_.record_count = ordinal_base_;
        if (!c.ended) return;
        ended_ = true;
        if (c.failed) {
            table_.end = reading_end::failure;
            table_.end_failure = static_cast<std::int32_t>(out_.failures.size());
            out_.failures.push_back(c.failure);
        } else {
            table_.end = reading_end::end_of_file;
            table_.end_given = c.end_record.given;
            table_.end_mask = c.end_record.mask;
        }
        table_.final_carried = merged(carried_, table_.end_given, table_.end_mask);
    }

    const textio::in_unit& data_;
    const wanted_set& wanted_;
    scanned_archive& out_;
    block_table& table_;
    std::vector<run_bytes> wave_runs_;
    std::int64_t first_spanning_line_ = -1;
    carried_values carried_;
    std::int64_t ordinal_base_ = 0;
    std::int64_t next_begin_ = 0;
    long next_line_ = 0;
    bool ended_ = false;
};

// The readings from the last lines of the records that span lines, until they meet a
// record of the file-order reading, or the end.
class alternate_builder {
public:
    alternate_builder(const textio::in_unit& data, scanned_archive& out) : data_(data), out_(out), t_(out.table) {}

    void build() {
        for (std::size_t i = 0; i < t_.specials.size(); ++i) {
            const record_place p = t_.specials[i].place;
            if (p.spans_lines()) t_.specials[i].from_last_line = reading_from(p.last_line_offset, p.last_line);
        }
        for (std::size_t a = 0; a < t_.alternates.size(); ++a) {
            const alternate_record r = t_.alternates[a];
            if (!r.is_end && r.place.spans_lines())
                t_.alternates[a].from_last_line = reading_from(r.place.last_line_offset, r.place.last_line);
        }
    }

private:
    // The ordinal of the file-order record that starts at line `line`, or -1 when none
    // does there.
    std::int64_t ordinal_starting(long line) const {
        const auto after = std::upper_bound(t_.specials.begin(), t_.specials.end(), line,
                                            [](long l, const special_record& s) { return l < s.place.line; });
        const std::size_t k = static_cast<std::size_t>(after - t_.specials.begin());
        if (k > 0) {
            const special_record& before = t_.specials[k - 1];
            if (before.place.line == line) return before.ordinal;
            if (line <= before.place.last_line) return -1;
        }
        const std::int64_t ordinal = (line - t_.first_line) - t_.lines_before[k];
        return ordinal < t_.record_count ? ordinal : -1;
    }

    // The step to the reading from `offset`, reading the alternate records on from there
    // until they meet a record read before.
    reading_step reading_from(std::int64_t offset, long line) {
        reading_step first;
        std::int32_t before = -1;
        for (;;) {
            reading_step here;
            const auto known = starts_.find(offset);
            if (known != starts_.end()) here.alternate = known->second;
            if (here.alternate < 0) here.ordinal = main_ordinal(offset, line);
            const bool met = here.alternate >= 0 || here.ordinal >= 0;
            if (!met) {
                here.alternate = static_cast<std::int32_t>(t_.alternates.size());
                t_.alternates.push_back(read_alternate(offset, line));
                starts_.emplace(offset, here.alternate);
            }
            if (before >= 0) t_.alternates[static_cast<std::size_t>(before)].next = here;
            if (before < 0) first = here;
            if (met) return first;
            const alternate_record& r = t_.alternates.back();
            if (r.is_end) return first;
            before = here.alternate;
            offset = r.place.end;
            line = r.place.last_line + 1;
        }
    }

    std::int64_t main_ordinal(std::int64_t offset, long line) const {
        if (offset == main_end_) return t_.record_count;
        if (offset > main_end_) return -1;
        return ordinal_starting(line);
    }

    alternate_record read_alternate(std::int64_t offset, long line) {
        alternate_record a;
        try {
            const record_reading r = read_record_at(data_, offset, line);
            a.place = r.place;
            a.given = r.given;
            a.mask = r.mask;
            a.is_end = r.is_end;
        } catch (const textio::io_failure& failure) {
            a.place.offset = offset;
            a.place.line = a.place.last_line = line;
            a.is_end = true;
            a.end = reading_end::failure;
            a.failure = static_cast<std::int32_t>(out_.failures.size());
            out_.failures.push_back(failure);
        }
        return a;
    }

public:
    std::int64_t main_end_ = 0;  // where the file-order reading meets its end

private:
    const textio::in_unit& data_;
    scanned_archive& out_;
    block_table& t_;
    std::unordered_map<std::int64_t, std::int32_t> starts_;
};

void scan_chunk(const textio::in_unit& data, const wanted_set& wanted, chunk_scan& c) {
    chunk_scanner(data, wanted, c).scan();
}

// What a scanned wave holds once the listener has read what it could of it: its pages of
// data.txt and, for an input being copied (textio::release_copied), the bytes no later
// search reads: all but the runs of stations still to be searched, and all from the first
// record that spans lines, whose alternate readings are read once the table is complete.
struct wave_bytes {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::int64_t stop = 0;  // where the bytes that may be released end
    std::vector<run_bytes> runs;
};

wave_bytes bytes_of_wave(table_builder& builder, std::int64_t begin, std::int64_t end) {
    const std::int64_t hold = builder.first_spanning_line();
    const std::int64_t stop = hold >= 0 ? std::min(hold, builder.next_begin()) : builder.next_begin();
    return {begin, end, stop, builder.take_wave_runs()};
}

// The kept values of the wave's runs that a later search may read, held past the wave.
void hold_kept_values(scanned_archive& out, const station_filter& may_read) {
    if (!may_read) return;
    for (const kept_run& r : out.kept.runs) {
        if (!may_read(r.station)) continue;
        if (!has_room(out.held)) return;
        hold_run(out.held, r.ordinal, r.dates, r.values, r.count);
    }
}

// The wave's rooms for kept values, emptied for the next wave's chunks: taken anew each
// time, their pages would be cleared by the system for every wave.
void recycle_kept_rooms(kept_wave& kept, std::vector<kept_dates_and_values>& spare) {
    for (kept_dates_and_values& room : kept.storage) {
        if (!room.dates) continue;
        room.count = 0;
        spare.push_back(std::move(room));
    }
    kept = kept_wave{};
}

// The wave's pages are handed back by the caller: at once where nothing is left to read in
// them, else after that.
void let_go_of_wave(textio::in_unit& data, const wave_bytes& w, const station_filter& may_read) {
    if (!data.spool || !may_read) return;
    std::int64_t from = w.begin;
    for (const run_bytes& r : w.runs) {
        if (!may_read(r.station)) continue;
        if (r.from > from) textio::release_copied(data, from, std::min(r.from, w.stop));
        from = std::max(from, r.to);
    }
    textio::release_copied(data, from, std::max(from, w.stop));  // what is not let go of is kept
}

// Makes `view` end where the last line of what `data` holds from `next` ends, asking for at
// least `reach` bytes past `next` first; where the input has ended, at its end. False when
// it has ended at `next`.
bool view_up_to(textio::in_unit& data, textio::in_unit& view, std::int64_t next, std::int64_t reach) {
    for (;;) {
        textio::await_input(data, static_cast<std::size_t>(next + reach));
        view.capacity = data.capacity;
        view.end = data.end;
        view.at_end = data.at_end;
        const auto size = static_cast<std::int64_t>(data.end);
        if (data.at_end) return next < size;
        const void* feed =
            next < size ? ::memrchr(data.buffer + next, '\n', static_cast<std::size_t>(size - next)) : nullptr;
        if (feed) {
            view.end = static_cast<std::size_t>(static_cast<const char*>(feed) - data.buffer) + 1;
            return true;
        }
        reach *= 2;
    }
}

}  // namespace

const special_record* special_at(const block_table& t, std::int64_t ordinal) {
    const auto at = std::lower_bound(t.specials.begin(), t.specials.end(), ordinal,
                                     [](const special_record& s, std::int64_t o) { return s.ordinal < o; });
    return at != t.specials.end() && at->ordinal == ordinal ? &*at : nullptr;
}

long line_of(const block_table& t, std::int64_t ordinal) {
    const auto at = std::lower_bound(t.specials.begin(), t.specials.end(), ordinal,
                                     [](const special_record& s, std::int64_t o) { return s.ordinal < o; });
    const auto k = static_cast<std::size_t>(at - t.specials.begin());
    return t.first_line + static_cast<long>(ordinal) + t.lines_before[k];
}

void scan_blocks(textio::in_unit& data, std::int64_t first_offset, long first_line,
                 const std::vector<std::int32_t>& wanted, std::int64_t chunk_bytes, scanned_archive& out,
                 const table_listener& grown, const station_filter& may_read) {
    out = scanned_archive{};
    out.table.ids = wanted;
    out.held.budget = held_values_budget(wanted.size(), data.spool != nullptr);
    const wanted_set set(wanted);
    // The scan reads the input through a unit of its own that ends at the last whole line
    // copied so far, for an input still being copied as it is read; a mapped file is whole
    // from the start.
    textio::in_unit view = data;
    table_builder builder(view, set, out);
    builder.start(first_offset, first_line);
    // Chunks are scanned a wave at a time and put together in order, so that what the
    // scans hold before they are put together stays small.
    bool keep_values = true;
    std::vector<kept_dates_and_values> spare_rooms;
    // What the listener left, and letting go of the wave before, done by this thread beside
    // the next wave's scan: the first item of its loop, which this thread takes.
    side_work beside;
    const std::int64_t wave_reach = chunk_bytes * static_cast<std::int64_t>(textio::scan_wave) + chunk_bytes;
    std::int64_t reach = wave_reach;
    for (std::int64_t next = first_offset; !builder.ended() && view_up_to(data, view, next, reach);) {
        std::int64_t after = 0;
        const std::vector<std::int64_t> starts = chunk_starts(view, next, chunk_bytes, textio::scan_wave, after);
        const std::size_t count = starts.size();
        std::vector<chunk_scan> chunks(count);
        for (std::size_t k = 0; k < count; ++k) {
            chunks[k].begin = starts[k];
            chunks[k].limit = k + 1 < count ? starts[k + 1] : after;
            chunks[k].line_before = 0;
            const std::int64_t lost = textio::first_lost_offset(data);
            chunks[k].lost_from = lost >= 0 ? lost : INT64_MAX;
            chunks[k].keep_values = keep_values;
            if (keep_values && !spare_rooms.empty()) {
                chunks[k].kept = std::move(spare_rooms.back());
                spare_rooms.pop_back();
            }
        }
        // A failure of the work beside comes first: it concerns stations found before.
        std::exception_ptr thrown, beside_thrown;
        std::mutex thrown_lock;
        const std::size_t first_chunk = beside ? 1 : 0;
        util::share_items(first_chunk + count, [&](std::size_t item, std::size_t) {
            try {
                if (item < first_chunk)
                    beside();
                else
                    scan_chunk(view, set, chunks[item - first_chunk]);
            } catch (...) {
                const std::lock_guard<std::mutex> held(thrown_lock);
                std::exception_ptr& first = item < first_chunk ? beside_thrown : thrown;
                if (!first) first = std::current_exception();
            }
        });
        beside = nullptr;
        if (beside_thrown) std::rethrow_exception(beside_thrown);
        if (thrown) std::rethrow_exception(thrown);
        recycle_kept_rooms(out.kept, spare_rooms);  // held by the work beside, where a later search reads it
        // A reading that met the end of what has been copied may go on past it: the wave is
        // scanned again with more.
        if (!view.at_end && std::any_of(chunks.begin(), chunks.end(), [](const chunk_scan& c) { return c.ended; })) {
            reach *= 2;
            continue;
        }
        reach = wave_reach;
        next = after;
        std::int64_t wave_end = 0;
        for (chunk_scan& c : chunks) {
            wave_end = std::max(wave_end, c.end);
            if (builder.ended()) break;
            builder.take(c);
            if (util::stop_signal() != 0) {
                out.stopped = true;
                return;
            }
        }
        // The wave's pages stay mapped while the listener reads what it can of them.
        side_work left;
        const bool took = grown && grown(out, left);
        keep_values = took || (may_read && has_room(out.held));
        // With nothing left to read in them (the catalogue in another order than data.txt),
        // the wave's pages are handed back now, not once the next wave is scanned: the two
        // waves' pages at once would count toward the peak memory beside the held values.
        const wave_bytes wave = bytes_of_wave(builder, chunks.front().begin, std::max(wave_end, builder.next_begin()));
        if (!left) textio::hand_back(data, wave.begin, wave.end);
        beside = [&data, &out, &may_read, left = std::move(left), wave] {
            if (left) {
                left();
                textio::hand_back(data, wave.begin, wave.end);
            }
            hold_kept_values(out, may_read);
            let_go_of_wave(data, wave, may_read);
        };
    }
    if (beside) beside();
    if (!builder.ended() && builder.next_begin() >= static_cast<std::int64_t>(view.end)) {
        // The reading meets the end of the file after the last record.
        chunk_scan last;
        last.begin = builder.next_begin();
        last.limit = builder.next_begin() + 1;
        last.line_before = builder.next_line() - 1;
        builder.take(last);
    }
    builder.finish();
    alternate_builder alternates(view, out);
    alternates.main_end_ = builder.next_begin();
    alternates.build();
    out.table.complete = true;
    if (!grown) return;
    side_work left;
    grown(out, left);
    if (left) left();
}

}  // namespace engine
