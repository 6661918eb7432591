// The format-list parser. The lists are constants of the program: whatever does not parse
// is a programming error and aborts at once.
#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>

#include "textio/format.hpp"

namespace textio {
namespace {

constexpr int largest_format_number = 100000;  // widths, counts and places

struct format_cursor {
    std::string_view text;
    std::size_t pos = 0;
};

[[noreturn]] void reject_format() { std::abort(); }

descriptor make_descriptor(descriptor_kind kind, int width = 0) {
    descriptor d;
    d.kind = kind;
    d.width = width;
    return d;
}

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

char lower_letter(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; }

// Next significant character (blanks outside literals mean nothing), '\0' at the end.
char peek(format_cursor& c) {
    while (c.pos < c.text.size() && (c.text[c.pos] == ' ' || c.text[c.pos] == '\t')) ++c.pos;
    return c.pos < c.text.size() ? c.text[c.pos] : '\0';
}

// An unsigned number at the cursor; false when no digit stands there.
bool read_number(format_cursor& c, int& value) {
    if (!is_digit(peek(c))) return false;
    int v = 0;
    while (is_digit(peek(c))) {
        v = v * 10 + (c.text[c.pos++] - '0');
        if (v > largest_format_number) reject_format();
    }
    value = v;
    return true;
}

int read_width(format_cursor& c) {
    int w = 0;
    if (!read_number(c, w) || w < 1) reject_format();
    return w;
}

// 'text' or "text"; the quote doubled inside stands for one quote.
void parse_literal(format_cursor& c, format_list& list) {
    const char quote = c.text[c.pos++];
    std::string text;
    for (;;) {
        if (c.pos >= c.text.size()) reject_format();
        const char ch = c.text[c.pos++];
        if (ch == quote) {
            if (c.pos < c.text.size() && c.text[c.pos] == quote) {
                text.push_back(quote);
                ++c.pos;
                continue;
            }
            break;
        }
        text.push_back(ch);
    }
    list.items.push_back({descriptor_kind::literal, 0, 0, std::move(text)});
}

// a, aw, iw or fw.d, `repeat` times.
void parse_data_descriptor(format_cursor& c, format_list& list, int repeat) {
    descriptor d = make_descriptor(descriptor_kind::text);
    switch (lower_letter(c.text[c.pos++])) {
        case 'a':
            if (is_digit(peek(c))) d.width = read_width(c);
            break;
        case 'i':
            d.kind = descriptor_kind::integer;
            d.width = read_width(c);
            break;
        case 'f':
            d.kind = descriptor_kind::fixed;
            d.width = read_width(c);
            if (peek(c) != '.') reject_format();
            ++c.pos;
            if (!read_number(c, d.decimals)) reject_format();
            break;
        default: reject_format();
    }
    list.items.insert(list.items.end(), static_cast<std::size_t>(repeat), d);
}

// One descriptor other than a lone slash; returns the kind it added.
descriptor_kind parse_descriptor(format_cursor& c, format_list& list) {
    const char ch = peek(c);
    if (ch == '\'' || ch == '"') {
        parse_literal(c, list);
        return descriptor_kind::literal;
    }
    if (ch == '$') {
        ++c.pos;
        list.items.push_back(make_descriptor(descriptor_kind::dollar));
        return descriptor_kind::dollar;
    }
    int count = 1;
    if (read_number(c, count) && count < 1) reject_format();
    const char letter = lower_letter(peek(c));
    if (letter == 'x') {
        ++c.pos;
        list.items.push_back(make_descriptor(descriptor_kind::skip, count));
        return descriptor_kind::skip;
    }
    if (letter == '/') {
        ++c.pos;
        list.items.insert(list.items.end(), static_cast<std::size_t>(count), make_descriptor(descriptor_kind::slash));
        return descriptor_kind::slash;
    }
    if (letter != 'a' && letter != 'i' && letter != 'f') reject_format();
    parse_data_descriptor(c, list, count);
    return list.items.back().kind;
}

}  // namespace

format_list parse_format(std::string_view text) {
    format_cursor c{text};
    format_list list;
    if (peek(c) != '(') reject_format();
    ++c.pos;
    bool need_separator = false;
    for (;;) {
        const char ch = peek(c);
        if (ch == ')') {
            ++c.pos;
            break;
        }
        if (ch == ',') {
            ++c.pos;
            need_separator = false;
            continue;
        }
        if (ch == '/') {  // a slash needs no comma on either side
            ++c.pos;
            list.items.push_back(make_descriptor(descriptor_kind::slash));
            need_separator = false;
            continue;
        }
        if (ch == '\0' || need_separator) reject_format();
        need_separator = parse_descriptor(c, list) != descriptor_kind::slash;
    }
    if (peek(c) != '\0') reject_format();
    return list;
}

}  // namespace textio
