// Free-form reads: values separated by blanks, commas or record ends, with null values,
// r* repeats, quoted text and a slash that ends the read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "textio/detail/read_support.hpp"
#include "textio/detail/scan.hpp"
#include "textio/read.hpp"

namespace textio {
namespace {

// After an optional point, t or T means true; everything else means false.
bool logical_value(std::string_view text) {
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    return !text.empty() && (text.front() == 't' || text.front() == 'T');
}

enum class token_kind { value, null, slash, end_of_source };

struct token {
    token_kind kind = token_kind::null;
    std::string_view text;
    std::size_t repeat = 1;
    long line = 0;
};

struct free_cursor {
    in_unit& source;
    std::string& scratch;
    std::string& joined;      // a value joined from pieces of a long record
    std::string_view record;  // the record being read, or the piece of a long one
    std::size_t position = 0;
    // A value was read and the separator after it is not consumed yet: one comma that
    // follows, even at the start of the next record, only separates.
    bool separator_pending = false;
    std::size_t column = 0;  // where the next piece of a long record starts, as cleaned
    bool in_record = false;  // a record of this read is being read (not one a read before left)
};

bool ends_value(char c) { return c == ' ' || c == ',' || c == '/'; }

// A thread's scratch text grown for a long record is given back once the read is over,
// whichever way it ends: several threads read records at once, and each would otherwise
// keep the megabytes of the longest record it met.
struct scratch_returned {
    std::string& text;
    ~scratch_returned() {
        if (text.capacity() > kept_scratch_bytes) std::string().swap(text);
    }
};

bool next_free_record(free_cursor& cursor) {
    if (!load_record(cursor.source, cursor.scratch, cursor.record, tab_rule::one_blank)) return false;
    cursor.position = 0;
    cursor.column = cursor.record.size();
    cursor.in_record = true;
    return true;
}

// Past the end of what is being read: the next piece of a long record, else the next record.
bool read_on(free_cursor& cursor) {
    if (cursor.in_record &&
        load_record_piece(cursor.source, cursor.scratch, cursor.record, cursor.column, tab_rule::one_blank)) {
        cursor.position = 0;
        return true;
    }
    return next_free_record(cursor);
}

// A value that runs to the end of a piece of a long record goes on in the next piece: it
// is joined with what follows, up to the end of the value, so that it lies whole in the
// record being read. A value longer than max_value_bytes is not held, wherever it lies.
void join_value_across_pieces(free_cursor& cursor) {
    if (!cursor.in_record || !record_goes_on(cursor.source)) return;
    const std::string_view rest = cursor.record.substr(cursor.position);
    if (std::any_of(rest.begin(), rest.end(), ends_value)) return;
    std::string value(rest);
    std::string_view piece;
    while (load_record_piece(cursor.source, cursor.scratch, piece, cursor.column, tab_rule::one_blank)) {
        value += piece;
        if (std::any_of(piece.begin(), piece.end(), ends_value)) break;
        if (value.size() > max_value_bytes) raise_value_too_long(cursor.source);
    }
    if (std::find_if(value.begin(), value.end(), ends_value) - value.begin() >
        static_cast<std::ptrdiff_t>(max_value_bytes))
        raise_value_too_long(cursor.source);
    cursor.joined.swap(value);
    cursor.record = cursor.joined;
    cursor.position = 0;
}

// A value in apostrophes or quotation marks, continued across records; a doubled quote
// stands for one.
bool take_quoted(free_cursor& cursor, std::string& text) {
    const char quote = cursor.record[cursor.position++];
    text.clear();
    for (;;) {
        if (cursor.position >= cursor.record.size()) {
            if (!read_on(cursor)) return false;
            continue;
        }
        const char c = cursor.record[cursor.position++];
        if (c != quote) {
            text.push_back(c);
        } else if (cursor.position < cursor.record.size() && cursor.record[cursor.position] == quote) {
            text.push_back(quote);
            ++cursor.position;
        } else {
            return true;
        }
    }
}

// r* in front of a value: r decimal digits, not zero. Returns whether one was there.
bool take_repeat(free_cursor& cursor, std::size_t& count) {
    const std::string_view rest = cursor.record.substr(cursor.position);
    const std::size_t stop = skip_digits(rest, 0);
    if (stop == 0 || stop >= rest.size() || rest[stop] != '*') return false;
    std::int32_t value = 0;
    scan_integer(rest.substr(0, stop), false, value);
    if (value <= 0) return false;
    cursor.position += stop + 1;
    count = static_cast<std::size_t>(value);
    return true;
}

void take_value(free_cursor& cursor, bool quotes_allowed, token& t) {
    t.line = cursor.source.line;
    t.repeat = 1;
    join_value_across_pieces(cursor);
    const bool repeated = take_repeat(cursor, t.repeat);
    const std::string_view rest = cursor.record.substr(cursor.position);
    if (repeated && (rest.empty() || ends_value(rest.front()))) {
        t.kind = token_kind::null;  // r* alone: r null values
        return;
    }
    t.kind = token_kind::value;
    if (quotes_allowed && (rest.front() == '\'' || rest.front() == '"')) {
        thread_local std::string quoted;
        if (!take_quoted(cursor, quoted)) {
            t.kind = token_kind::end_of_source;
            return;
        }
        t.text = quoted;
        return;
    }
    std::size_t stop = 0;
    while (stop < rest.size() && !ends_value(rest[stop])) ++stop;
    t.text = rest.substr(0, stop);
    cursor.position += stop;
}

token next_token(free_cursor& cursor, bool quotes_allowed) {
    token t;
    for (;;) {
        while (cursor.position < cursor.record.size() && cursor.record[cursor.position] == ' ') ++cursor.position;
        if (cursor.position >= cursor.record.size()) {
            if (!read_on(cursor)) return t.kind = token_kind::end_of_source, t;
            continue;
        }
        const char c = cursor.record[cursor.position];
        if (c == ',') {
            ++cursor.position;
            if (cursor.separator_pending) {
                cursor.separator_pending = false;
                continue;
            }
            return t.kind = token_kind::null, t;
        }
        if (c == '/') return t.kind = token_kind::slash, t;
        take_value(cursor, quotes_allowed, t);
        cursor.separator_pending = true;
        return t;
    }
}

void store_value(in_unit& source, const in_item& item, const token& t, int field) {
    switch (item.type) {
        case item_type::integer: {
            std::int32_t value = 0;
            if (!scan_integer(t.text, false, value)) raise_illegal_character(source, t.line, field, t.text);
            store_integer(item, value);
            return;
        }
        case item_type::real: {
            float value = 0.0f;
            if (!scan_real(t.text, -1, value)) raise_illegal_character(source, t.line, field, t.text);
            store_real(item, value);
            return;
        }
        case item_type::identifier: {
            std::int32_t value = 0;
            if (!scan_identifier(t.text, value)) raise_illegal_character(source, t.line, field, t.text);
            *static_cast<std::int32_t*>(item.target) = value;
            return;
        }
        case item_type::logical: *static_cast<bool*>(item.target) = logical_value(t.text); return;
        case item_type::text: store_text(item, t.text); return;
    }
}

}  // namespace

namespace {

read_outcome read_items(in_unit& source, std::span<const in_item> items, bool end_of_file_allowed,
                        std::uint32_t& stored) {
    thread_local std::string scratch;
    thread_local std::string joined;
    const scratch_returned returned{scratch};
    const scratch_returned joined_returned{joined};
    if (items.empty()) {
        std::string_view skipped;
        if (next_raw_record(source, skipped)) return read_outcome::ok;
        if (end_of_file_allowed) return read_outcome::end_of_file;
        raise_end_of_input(source);
    }
    free_cursor cursor{source, scratch, joined, {}, 0, false};
    token current;
    std::size_t copies_left = 0;
    int field = 0;
    for (const in_item& item : items) {
        ++field;
        if (copies_left == 0) {
            current = next_token(cursor, item.type == item_type::text);
            if (current.kind == token_kind::end_of_source) {
                if (end_of_file_allowed) return read_outcome::end_of_file;
                raise_end_of_input(source);
            }
            if (current.kind == token_kind::slash) return read_outcome::ok;
            copies_left = current.repeat;
        }
        --copies_left;
        if (current.kind == token_kind::value) {
            store_value(source, item, current, field);
            stored |= 1u << (field - 1);
        }
    }
    return read_outcome::ok;
}

}  // namespace

read_outcome read_free_form(in_unit& source, std::span<const in_item> items, bool end_of_file_allowed) {
    std::uint32_t stored = 0;
    return read_items(source, items, end_of_file_allowed, stored);
}

read_outcome read_free_form_at(const in_unit& mapped, std::int64_t offset, long line, std::span<const in_item> items,
                               read_extent& extent) {
    // Each thread reads through a view of its own: the unit itself never moves, and the
    // mapping outlives every view (the unit is closed after the readers are done).
    thread_local in_unit view;
    view_mapping(mapped, view, offset, line);
    extent.stored = 0;
    const read_outcome outcome = read_items(view, items, true, extent.stored);
    extent.end = input_offset(view);
    extent.last_line_start = view.last_record_start;
    extent.last_line = view.line;
    return outcome;
}

}  // namespace textio
