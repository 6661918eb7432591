// Format lists and the record writers: every line the program writes is built here.
#pragma once
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "textio/items.hpp"

namespace textio {

enum class descriptor_kind : unsigned char {
    literal,  // 'text'
    skip,     // nX: move n columns right
    slash,    // /: end of record
    dollar,   // $: no line feed at the end of this record
    text,     // a or aw
    integer,  // iw
    fixed,    // fw.d
};

struct descriptor {
    descriptor_kind kind;
    int width = 0;     // n of nX; w of aw (0: the item's own length), iw, fw.d
    int decimals = 0;  // d of fw.d
    std::string literal;
};

// A parsed format list; repeat counts are expanded ("12f8.3" gives twelve descriptors).
struct format_list {
    std::vector<descriptor> items;
};

// Parses a list such as "(/1x,'Invalid latitude: ',f6.2)". The program's lists are
// constants: an invalid list is a programming error and aborts.
format_list parse_format(std::string_view text);

// Appends the records that `list` and `items` give to `out`, each ended by a line feed
// except a record ended by $.
void append_formatted(std::string& out, const format_list& list, std::span<const out_item> items);

// Appends one free-form record (leading blank, items, line feed).
void append_free_form(std::string& out, std::span<const out_item> items);

// Internal record: the formatted record stored into field[0..length), blank-padded.
void format_to_string(char* field, std::size_t length, const format_list& list, std::span<const out_item> items);

// Single fields, exactly w characters: iw of an integer and fw.d of a real.
void append_integer_field(std::string& out, std::int32_t value, int width);
void append_fixed_field(std::string& out, float value, int width, int decimals);

}  // namespace textio
