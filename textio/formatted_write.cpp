// The record assembly: a format list walked over the items, its records built in memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "textio/convert.hpp"
#include "textio/detail/fields.hpp"
#include "textio/detail/free_form_write.hpp"
#include "textio/format.hpp"

namespace textio {
namespace {

// ---------------------------------------------------------------------------------------
// Data descriptors applied to items.

// A number or logical under a: its free-form text without the blanks in front.
void append_value_as_text(std::string& out, const out_item& item, int width) {
    std::string text;
    append_free_item(text, item, true);
    const std::size_t first = text.find_first_not_of(' ');
    append_text_field(out, std::string_view(text).substr(first == std::string::npos ? text.size() : first), width);
}

void append_data_field(std::string& out, const descriptor& d, const out_item& item) {
    if (d.kind == descriptor_kind::text) {
        if (item.type == item_type::text) return append_text_field(out, item.text, d.width);
        return append_value_as_text(out, item, d.width);
    }
    if (item.type == item_type::text || item.type == item_type::logical) return append_stars(out, d.width);
    if (d.kind == descriptor_kind::integer) {
        const std::int32_t v = item.type == item_type::real ? truncate_to_int32(item.real) : item.integer;
        return append_integer_field(out, v, d.width);
    }
    const float v = item.type == item_type::integer ? static_cast<float>(item.integer) : item.real;
    append_fixed_field(out, v, d.width, d.decimals);
}

// ---------------------------------------------------------------------------------------
// The walk of a format list.

struct record_builder {
    std::string& out;
    bool internal;              // a character variable: one record, no line feed
    bool no_line_feed = false;  // $ met in the current record
};

void end_inner_record(record_builder& b) {
    if (b.internal) std::abort();  // a character variable holds one record only
    if (!b.no_line_feed) b.out.push_back('\n');
    b.no_line_feed = false;
}

// Walks the list over the items and leaves the last record open for the caller to end.
void walk_format(record_builder& b, const format_list& list, std::span<const out_item> items) {
    const std::size_t count = list.items.size();
    std::size_t next = 0;
    std::size_t next_at_pass_start = 0;
    std::size_t i = 0;
    for (;;) {
        if (i == count) {
            if (next == items.size()) return;
            if (next == next_at_pass_start) std::abort();  // items but no data descriptor
            end_inner_record(b);
            next_at_pass_start = next;
            i = 0;
            continue;
        }
        const descriptor& d = list.items[i++];
        switch (d.kind) {
            case descriptor_kind::literal: b.out.append(d.literal); break;
            case descriptor_kind::skip: append_blanks(b.out, d.width); break;
            case descriptor_kind::slash: end_inner_record(b); break;
            case descriptor_kind::dollar: b.no_line_feed = true; break;
            default:
                if (next == items.size()) return;
                append_data_field(b.out, d, items[next++]);
        }
    }
}

}  // namespace

void append_formatted(std::string& out, const format_list& list, std::span<const out_item> items) {
    record_builder b{out, false};
    walk_format(b, list, items);
    if (!b.no_line_feed) out.push_back('\n');
}

void format_to_string(char* field, std::size_t length, const format_list& list, std::span<const out_item> items) {
    thread_local std::string record;
    record.clear();
    record_builder b{record, true};
    walk_format(b, list, items);
    const std::size_t used = record.size() < length ? record.size() : length;
    for (std::size_t i = 0; i < used; ++i) field[i] = record[i];
    for (std::size_t i = used; i < length; ++i) field[i] = ' ';
}

}  // namespace textio
