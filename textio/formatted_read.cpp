// Formatted reads: one record (more where the list has /) cut into fields by the list's
// a, iw and fw.d descriptors.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "textio/detail/read_support.hpp"
#include "textio/detail/scan.hpp"
#include "textio/read.hpp"

namespace textio {
namespace {

struct field_cursor {
    std::string_view record;
    std::size_t position = 0;  // may run past the record: the columns there are blanks
};

// The next `width` columns; a comma inside a numeric field ends it and is passed over.
std::string_view take_field(field_cursor& cursor, std::size_t width, bool numeric) {
    const std::size_t start = std::min(cursor.position, cursor.record.size());
    std::string_view field = cursor.record.substr(start, std::min(width, cursor.record.size() - start));
    if (numeric) {
        const std::size_t comma = field.find(',');
        if (comma != std::string_view::npos) {
            cursor.position = start + comma + 1;
            return field.substr(0, comma);
        }
    }
    cursor.position += width;
    return field;
}

// aw of a variable of length L: a field at least as wide as the variable gives its
// rightmost L columns, a narrower one is stored from the left. Missing columns are blanks.
void store_text_field(const in_item& item, std::string_view field, std::size_t width) {
    if (item.type != item_type::text) return;
    if (width == item.length) {
        store_text(item, field);
        return;
    }
    char* target = static_cast<char*>(item.target);
    const std::size_t skipped = width > item.length ? width - item.length : 0;
    for (std::size_t k = 0; k < item.length; ++k) {
        const std::size_t column = skipped + k;
        target[k] = column < width && column < field.size() ? field[column] : ' ';
    }
}

std::string_view without_blanks(std::string_view field, std::string& scratch) {
    if (!std::memchr(field.data(), ' ', field.size())) return field;
    scratch.clear();
    for (const char c : field) {
        if (c != ' ') scratch.push_back(c);
    }
    return scratch;
}

void read_data_field(in_unit& source, field_cursor& cursor, const descriptor& d, const in_item& item, int field) {
    const std::size_t width = static_cast<std::size_t>(d.width > 0 ? d.width : 0);
    switch (d.kind) {
        case descriptor_kind::text: {
            const std::size_t text_width = d.width > 0 ? width : item.length;
            store_text_field(item, take_field(cursor, text_width, false), text_width);
            return;
        }
        case descriptor_kind::integer: {
            std::int32_t value = 0;
            const std::string_view text = take_field(cursor, width, true);
            if (!scan_integer(text, true, value)) raise_illegal_character(source, source.line, field, text);
            store_integer(item, value);
            return;
        }
        case descriptor_kind::fixed: {
            thread_local std::string packed;
            float value = 0.0f;
            const std::string_view text = without_blanks(take_field(cursor, width, true), packed);
            if (!scan_real(text, d.decimals, value)) raise_illegal_character(source, source.line, field, text);
            store_real(item, value);
            return;
        }
        default: return;
    }
}

bool is_data_descriptor(descriptor_kind kind) {
    return kind == descriptor_kind::text || kind == descriptor_kind::integer || kind == descriptor_kind::fixed;
}

void next_formatted_record(in_unit& source, std::string& scratch, field_cursor& cursor) {
    if (!load_record(source, scratch, cursor.record, tab_rule::to_tab_stop)) raise_end_of_input(source);
    cursor.position = 0;
}

}  // namespace

void read_formatted(in_unit& source, const format_list& list, std::span<const in_item> items) {
    thread_local std::string scratch;
    field_cursor cursor;
    next_formatted_record(source, scratch, cursor);
    std::size_t next_item = 0;
    for (;;) {
        bool took_item = false;
        for (const descriptor& d : list.items) {
            if (is_data_descriptor(d.kind)) {
                if (next_item == items.size()) return;
                read_data_field(source, cursor, d, items[next_item], static_cast<int>(next_item) + 1);
                ++next_item;
                took_item = true;
            } else if (d.kind == descriptor_kind::skip) {
                cursor.position += static_cast<std::size_t>(d.width > 0 ? d.width : 0);
            } else if (d.kind == descriptor_kind::slash) {
                next_formatted_record(source, scratch, cursor);
            }
        }
        if (next_item == items.size() || !took_item) return;
        // Items remain at the end of the list: it starts again on a new record.
        next_formatted_record(source, scratch, cursor);
    }
}

}  // namespace textio
