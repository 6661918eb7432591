#include "engine/block_values.hpp"

#include <algorithm>

#include "engine/observation_record.hpp"
#include "engine/plain_record.hpp"
#include "textio/limits.hpp"

namespace engine {
namespace {

// Reads `p.count` records in order from the one at `p.offset`. The values a plain record
// leaves to the next are read only when a record that leaves a value empty needs them.
std::int64_t read_stretch(const textio::in_unit& data, const block_table& t, const block_piece& p,
                          std::vector<float>& dates, std::vector<float>& values) {
    std::int64_t pos = p.offset;
    long line = -1;  // counted only once a record needs the general rules
    carried_values carried = p.values;
    std::int64_t last_plain = -1;
    for (std::int64_t k = 0; k < p.count; ++k) {
        float date = 0.0f;
        float value = 0.0f;
        std::int64_t next = 0;
        if (read_plain_values(data, pos, date, value, next)) {
            dates.push_back(date);
            values.push_back(value);
            last_plain = pos;
            pos = next;
            if (line >= 0) ++line;
            continue;
        }
        if (line < 0) line = line_of(t, p.ordinal + k);
        if (last_plain >= 0) carried = read_record_at(data, last_plain, line - 1).given;
        last_plain = -1;
        const record_reading r = read_record_at(data, pos, line);
        carried = merged(carried, r.given, r.mask);
        dates.push_back(carried.date);
        values.push_back(carried.value);
        pos = r.place.end;
        line = r.place.last_line + 1;
    }
    return pos;
}

// The same for a piece whose records the block table found plain, each read without its
// form checked again. Should a page of the stretch have been lost since, the values are
// dropped and read the checked way, which reports the loss.
std::int64_t read_plain_stretch(const textio::in_unit& data, const block_table& t, const block_piece& p,
                                std::vector<float>& dates, std::vector<float>& values) {
    const std::size_t before = dates.size();
    dates.resize(before + static_cast<std::size_t>(p.count));
    values.resize(before + static_cast<std::size_t>(p.count));
    const std::int64_t pos =
        read_known_plain_run(bytes_of(data), p.offset, p.count, dates.data() + before, values.data() + before);
    const std::int64_t lost = textio::first_lost_offset(data);
    if (lost < 0 || lost >= pos) return pos;
    dates.resize(before);
    values.resize(before);
    return read_stretch(data, t, p, dates, values);
}

// A plain piece that is short enough, copied from the file with one read and read from the
// copy: blocks scattered over the file would each have the system map (and the pass hand
// back) the pages around them. False, with nothing read, when the piece is too long or the
// copy is not whole (a file cut short since it was scanned, or a source that cannot seek).
bool read_plain_copy(const textio::in_unit& data, const block_table& t, const block_piece& p, std::vector<float>& dates,
                     std::vector<float>& values, value_reader& reader) {
    std::vector<char>& copy = reader.copy;
    const auto left = static_cast<std::int64_t>(data.end) - p.offset;
    if (t.longest_plain_record <= 0 || p.count > textio::copied_piece_bytes / t.longest_plain_record) return false;
    const auto want = static_cast<std::size_t>(std::min(p.count * t.longest_plain_record, left));
    copy.resize(want + 2 * textio::input_slack);  // whole 64-byte blocks and eight-byte digit loads past the end
    if (textio::copy_bytes_at(data, p.offset, copy.data(), want) != want) return false;
    const std::size_t before = dates.size();
    dates.resize(before + static_cast<std::size_t>(p.count));
    values.resize(before + static_cast<std::size_t>(p.count));
    const auto end = static_cast<std::size_t>(
        read_known_plain_run({copy.data(), want}, 0, p.count, dates.data() + before, values.data() + before));
    // Each record ends within the copy, the last by its line feed or by the file's end.
    if (end > 0 && (copy[end - 1] == '\n' || static_cast<std::int64_t>(end) == left)) {
        reader.last_end = p.offset + static_cast<std::int64_t>(end);
        return true;
    }
    dates.resize(before);
    values.resize(before);
    return false;
}

// A plain piece whose records the scan kept, from the runs that hold them one after the
// other; false, with nothing taken, when some are not kept.
bool take_kept_values(const kept_wave& kept, const block_piece& p, std::vector<float>& dates,
                      std::vector<float>& values) {
    auto run = std::upper_bound(kept.runs.begin(), kept.runs.end(), p.ordinal,
                                [](std::int64_t ordinal, const kept_run& r) { return ordinal < r.ordinal; });
    if (run == kept.runs.begin()) return false;
    --run;
    if (!runs_hold(run, kept.runs.end(), p.ordinal, p.count)) return false;
    const std::int64_t end = p.ordinal + p.count;
    for (std::int64_t at = p.ordinal; at < end; ++run) {
        const std::int64_t from = at - run->ordinal;
        const std::int64_t n = std::min(end, run->ordinal + run->count) - at;
        dates.insert(dates.end(), run->dates + from, run->dates + from + n);
        values.insert(values.end(), run->values + from, run->values + from + n);
        at += n;
    }
    return true;
}

}  // namespace

void read_block_values(const textio::in_unit& data, const block_table& t, const std::vector<block_piece>& pieces,
                       std::vector<float>& dates, std::vector<float>& values, value_reader& reader,
                       const kept_wave* kept, const held_values* held) {
    dates.clear();
    values.clear();
    for (const block_piece& p : pieces) {
        if (p.offset < 0) {
            dates.push_back(p.values.date);
            values.push_back(p.values.value);
            continue;
        }
        if (p.plain && kept && take_kept_values(*kept, p, dates, values)) continue;
        if (p.plain && held && take_held_values(*held, p.ordinal, p.count, dates, values)) continue;
        // A block just after the last one this thread read is read where it lies, the
        // system mapping its pages in runs; one further off is copied.
        const bool near = p.offset >= reader.last_end && p.offset - reader.last_end <= textio::nearby_block_bytes;
        if (p.plain && !near && read_plain_copy(data, t, p, dates, values, reader)) continue;
        const std::int64_t end =
            p.plain ? read_plain_stretch(data, t, p, dates, values) : read_stretch(data, t, p, dates, values);
        reader.mapped.from = std::min(reader.mapped.from, p.offset);
        reader.mapped.to = std::max(reader.mapped.to, end);
        reader.last_end = end;
    }
}

}  // namespace engine
