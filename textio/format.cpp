// Format lists and the record writers. Numbers are rendered from their exact binary value
// by integer arithmetic alone, so no locale or C library default can touch a character.
#include "textio/format.hpp"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "textio/fixed_digits.hpp"
#include "textio/convert.hpp"

namespace textio {
namespace {

using u128 = unsigned __int128;

// ---------------------------------------------------------------------------------------
// Format-list parsing. The lists are constants of the program: whatever does not parse is
// a programming error and aborts at once.

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

// ---------------------------------------------------------------------------------------
// Exact decimal expansion: a small multi-word integer, enough for 2^24 * 5^149 (371 bits).

constexpr int big_words = 12;

struct big_integer {
    std::uint32_t word[big_words] = {};  // least significant first
    int size = 0;
};

void multiply_small(big_integer& n, std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (int i = 0; i < n.size; ++i) {
        const std::uint64_t p = static_cast<std::uint64_t>(n.word[i]) * factor + carry;
        n.word[i] = static_cast<std::uint32_t>(p);
        carry = p >> 32;
    }
    if (carry != 0) {
        if (n.size == big_words) std::abort();
        n.word[n.size++] = static_cast<std::uint32_t>(carry);
    }
}

std::uint32_t divide_small(big_integer& n, std::uint32_t divisor) {
    std::uint64_t rest = 0;
    for (int i = n.size - 1; i >= 0; --i) {
        const std::uint64_t cur = (rest << 32) | n.word[i];
        n.word[i] = static_cast<std::uint32_t>(cur / divisor);
        rest = cur % divisor;
    }
    while (n.size > 0 && n.word[n.size - 1] == 0) --n.size;
    return static_cast<std::uint32_t>(rest);
}

void multiply_power(big_integer& n, std::uint32_t base, std::uint32_t chunk_factor, int chunk, int power) {
    for (; power >= chunk; power -= chunk) multiply_small(n, chunk_factor);
    for (; power > 0; --power) multiply_small(n, base);
}

// Decimal digits of n, most significant first, into text; returns their count.
int big_to_decimal(big_integer n, char* text) {
    char reversed[big_words * 10 + 10];
    int count = 0;
    while (n.size > 0) {
        std::uint32_t chunk = divide_small(n, 1000000000u);
        for (int i = 0; i < 9; ++i, chunk /= 10) reversed[count++] = static_cast<char>('0' + chunk % 10);
    }
    while (count > 0 && reversed[count - 1] == '0') --count;
    for (int i = 0; i < count; ++i) text[i] = reversed[count - 1 - i];
    return count;
}

constexpr std::uint64_t power_of_ten(int n) {
    std::uint64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

int decimal_length(std::uint64_t v) {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

// Writes the decimal digits of v and returns their count.
int unsigned_text(std::uint64_t v, char* text) {
    const int n = decimal_length(v);
    for (int i = n - 1; i >= 0; --i, v /= 10) text[i] = static_cast<char>('0' + v % 10);
    return n;
}

// ---------------------------------------------------------------------------------------
// Item conversions the program never needs but must not trip over.

// Truncation toward zero; NaN, infinities and values outside int32 give INT32_MIN.

int integer_text(std::int32_t value, char* text) {
    const bool negative = value < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                                             : static_cast<std::uint64_t>(value);
    if (negative) text[0] = '-';
    return unsigned_text(magnitude, text + (negative ? 1 : 0)) + (negative ? 1 : 0);
}

// ---------------------------------------------------------------------------------------
// fw.d layout of a rounded magnitude.

struct float_parts {
    bool sign;
    bool not_finite;  // NaN or infinity
    bool zero;     // zero or subnormal
    bool nan;
    float magnitude;
};

float_parts split_float(float value) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t biased = (bits >> 23) & 0xffu;
    float_parts p{};
    p.sign = (bits >> 31) != 0;
    p.not_finite = biased == 0xffu;
    p.nan = p.not_finite && (bits & 0x7fffffu) != 0;
    p.zero = biased == 0;
    p.magnitude = std::bit_cast<float>(bits & 0x7fffffffu);
    return p;
}

// Appends `count` digits of the rounded value starting at digit `from`; digits beyond the
// lead's own are zeros.
void append_rounded_digits(std::string& out, rounded_digits r, int from, int count) {
    char lead[24];
    const int n = unsigned_text(r.lead, lead);
    for (int i = from; i < from + count; ++i) out.push_back(i < n ? lead[i] : '0');
}

int rounded_length(rounded_digits r) { return r.lead == 0 ? 0 : decimal_length(r.lead) + r.zeros; }

void append_stars(std::string& out, int width) { out.append(static_cast<std::size_t>(width), '*'); }

void append_blanks(std::string& out, int count) {
    if (count > 0) out.append(static_cast<std::size_t>(count), ' ');
}

// A value that rounds to zero at d places: never a minus sign; a negative value keeps the
// column it reserved for the sign as a blank.
void append_zero_field(std::string& out, bool negative, int width, int decimals, int room) {
    if (room < 0) return append_stars(out, width);
    if (negative) {
        append_blanks(out, room > 0 ? room : width - decimals - 1);
        if (room > 0) out.push_back('0');
    } else {
        append_blanks(out, room - 1);
        if (room > 0) out.push_back('0');
    }
    out.push_back('.');
    out.append(static_cast<std::size_t>(decimals), '0');
}

// The common field: a rounded value without trailing zeros beyond its digits, in a width
// of at most 32. Built right to left in one pass; the same bytes as the general layout.
// Decimal digits of v, written to end at `end`, two at a time; returns where they start.
char* digits_before(char* end, std::uint64_t v) {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    while (v >= 100) {
        const std::uint64_t q = v / 100;
        end -= 2;
        std::memcpy(end, pairs + 2 * (v - 100 * q), 2);
        v = q;
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, pairs + 2 * v, 2);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

bool layout_fixed_quickly(std::string& out, rounded_digits r, bool negative, int width, int decimals) {
    if (r.zeros != 0 || r.lead == 0 || width > 32) return false;
    char digits[24];
    char* const digits_end = digits + sizeof digits;
    const char* first = digits_before(digits_end, r.lead);
    const int length = static_cast<int>(digits_end - first);
    const int room = width - (negative ? 1 : 0) - decimals - 1;
    const int k = length - decimals;
    if (k > room || (k <= 0 && room < 0)) return false;
    char field[32];
    char* at = field;
    if (k > 0) {
        at = static_cast<char*>(std::memset(at, ' ', static_cast<std::size_t>(room - k))) + (room - k);
        if (negative) *at++ = '-';
        at = static_cast<char*>(std::memcpy(at, first, static_cast<std::size_t>(k))) + k;
        *at++ = '.';
        std::memcpy(at, first + k, static_cast<std::size_t>(decimals));
    } else {
        const int blanks = room > 0 ? room - 1 : 0;
        at = static_cast<char*>(std::memset(at, ' ', static_cast<std::size_t>(blanks))) + blanks;
        if (negative) *at++ = '-';
        if (room > 0) *at++ = '0';
        *at++ = '.';
        at = static_cast<char*>(std::memset(at, '0', static_cast<std::size_t>(-k))) - k;
        std::memcpy(at, first, static_cast<std::size_t>(length));
    }
    out.append(field, static_cast<std::size_t>(width));
    return true;
}

void layout_fixed(std::string& out, rounded_digits r, bool negative, int width, int decimals) {
    if (layout_fixed_quickly(out, r, negative, width, decimals)) return;
    const int room = width - (negative ? 1 : 0) - decimals - 1;
    const int length = rounded_length(r);
    if (length == 0) return append_zero_field(out, negative, width, decimals, room);
    const int k = length - decimals;
    if (k > 0) {
        if (k > room) return append_stars(out, width);
        append_blanks(out, room - k);
        if (negative) out.push_back('-');
        append_rounded_digits(out, r, 0, k);
        out.push_back('.');
        append_rounded_digits(out, r, k, decimals);
        return;
    }
    if (room < 0) return append_stars(out, width);
    append_blanks(out, room - 1);
    if (negative) out.push_back('-');
    if (room > 0) out.push_back('0');
    out.push_back('.');
    out.append(static_cast<std::size_t>(-k), '0');
    append_rounded_digits(out, r, 0, length);
}

// NaN or INF right-justified, with the sign bit shown; asterisks when they do not fit.
void append_not_finite_field(std::string& out, const float_parts& p, int width) {
    const int length = 3 + (p.sign ? 1 : 0);
    if (width < length) return append_stars(out, width);
    append_blanks(out, width - length);
    if (p.sign) out.push_back('-');
    out.append(p.nan ? "NaN" : "INF");
}

// ---------------------------------------------------------------------------------------
// Free-form items.

void append_number_prefix(std::string& out, bool negative) { out.append(negative ? " -" : "  "); }

// Digits of a rounded magnitude with `places` after the point and a leading 0 below 1.
void append_plain_number(std::string& out, rounded_digits r, int places) {
    const int length = rounded_length(r);
    const int k = length - places;
    if (k > 0) {
        append_rounded_digits(out, r, 0, k);
        out.push_back('.');
        append_rounded_digits(out, r, k, places);
        return;
    }
    out.append("0.");
    out.append(static_cast<std::size_t>(-k), '0');
    if (length > 0) append_rounded_digits(out, r, 0, length);
}

// d.ddddddE+xx: seven significant digits, the 8th deciding the rounding.
void append_exponent_number(std::string& out, leading_digits v) {
    std::uint64_t lead = v.digits / 10;
    if (v.digits % 10 >= 5) ++lead;
    int exponent = v.exponent - 1;
    if (lead == power_of_ten(7)) {
        lead /= 10;
        ++exponent;
    }
    char digits[8];
    unsigned_text(lead, digits);
    out.push_back(digits[0]);
    out.push_back('.');
    out.append(digits + 1, 6);
    out.push_back('E');
    out.push_back(exponent < 0 ? '-' : '+');
    const int magnitude = exponent < 0 ? -exponent : exponent;
    char text[12];
    const int n = unsigned_text(static_cast<std::uint64_t>(magnitude), text);
    if (n < 2) out.push_back('0');
    out.append(text, static_cast<std::size_t>(n));
}

// Fixed form with 6 - c' places while the value has 0 to 6 digits before the point,
// exponent form otherwise (also when rounding carries it to a 7th digit).
void append_free_real(std::string& out, float value) {
    const float_parts p = split_float(value);
    append_number_prefix(out, p.sign && !p.zero);
    if (p.not_finite) {
        out.append(p.nan ? "NaN" : "INF");
        return;
    }
    if (p.zero) {
        out.append("0.000000");
        return;
    }
    const leading_digits v = exact_leading_digits(p.magnitude);
    const int c = digits_before_point(round_leading_digits(v, 7), 7);
    if (c >= 0 && c <= 6) {
        const int c_rounded = digits_before_point(round_leading_digits(v, 6 - c), 6 - c);
        if (c_rounded >= 0 && c_rounded <= 6) {
            const int places = 6 - c_rounded;
            return append_plain_number(out, round_leading_digits(v, places), places);
        }
    }
    append_exponent_number(out, v);
}

void append_free_integer(std::string& out, std::int32_t value) {
    char text[12];
    const int n = integer_text(value, text);
    out.append(value < 0 ? " " : "  ");
    out.append(text, static_cast<std::size_t>(n));
}

void append_free_item(std::string& out, const out_item& item, bool after_text) {
    switch (item.type) {
        case item_type::integer:
        case item_type::identifier: return append_free_integer(out, item.integer);
        case item_type::real: return append_free_real(out, item.real);
        case item_type::logical: out.append(item.logical ? " T" : " F"); return;
        case item_type::text:
            if (!after_text) out.push_back(' ');
            out.append(item.text);
            return;
    }
}

// ---------------------------------------------------------------------------------------
// Data descriptors applied to items.

// aw: the leftmost w characters, or blanks in front up to w; a alone: the whole item.
void append_text_field(std::string& out, std::string_view text, int width) {
    const std::size_t w = static_cast<std::size_t>(width);
    if (width > 0 && text.size() > w) text = text.substr(0, w);
    if (width > 0) out.append(w - text.size(), ' ');
    out.append(text);
}

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

// ---------------------------------------------------------------------------------------
// Digits.

leading_digits exact_leading_digits(float magnitude) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(magnitude) & 0x7fffffffu;
    const int exponent2 = static_cast<int>(bits >> 23) - 150;
    big_integer n;
    n.word[0] = (bits & 0x7fffffu) | 0x800000u;
    n.size = 1;
    int scale = 0;  // magnitude = n * 10^-scale
    if (exponent2 >= 0) {
        multiply_power(n, 2, 1u << 31, 31, exponent2);
    } else {
        multiply_power(n, 5, 1220703125u, 13, -exponent2);  // 5^13
        scale = -exponent2;
    }
    char text[big_words * 10 + 10];
    const int length = big_to_decimal(n, text);
    leading_digits v;
    for (int i = 0; i < float_significant_digits; ++i) v.digits = v.digits * 10 + (i < length ? text[i] - '0' : 0);
    v.exponent = length - scale;
    return v;
}

rounded_digits round_leading_digits(leading_digits value, int decimals) {
    if (value.digits == 0) return {};
    const int kept = value.exponent + decimals;
    if (kept >= float_significant_digits) {
        std::uint64_t lead = value.digits;
        const std::uint64_t last = lead % 10;
        if (last >= 5) lead += 10 - last;
        return {lead, kept - float_significant_digits};
    }
    const int dropped = float_significant_digits - kept;
    if (dropped > float_significant_digits) return {};
    const std::uint64_t unit = power_of_ten(dropped);
    std::uint64_t lead = value.digits / unit;
    if ((value.digits / (unit / 10)) % 10 >= 5) ++lead;
    return {lead, 0};
}

// With at most 7 significant digits kept, the first dropped digit lies within the 8 that
// the cut keeps, so exact half-up rounding of |x| * 10^d gives the same count.
bool round_fixed_fast(float magnitude, int decimals, rounded_digits& result) {
    constexpr int largest_decimals = 18;
    constexpr int smallest_exponent = -100;
    constexpr u128 seven_digit_limit = 10000000;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(magnitude) & 0x7fffffffu;
    const std::uint32_t biased = bits >> 23;
    if (biased == 0 || biased == 0xffu || decimals < 0 || decimals > largest_decimals) return false;
    const int exponent2 = static_cast<int>(biased) - 150;
    if (exponent2 > 7) return false;
    if (exponent2 < smallest_exponent) {
        // Below 2^-76 even 18 places show nothing: the first dropped digit is a leading zero.
        result = {0, 0};
        return true;
    }
    u128 scaled = static_cast<u128>((bits & 0x7fffffu) | 0x800000u) * power_of_ten(decimals);
    if (exponent2 >= 0) {
        scaled <<= exponent2;
        if (scaled >= seven_digit_limit) return false;
        result = {static_cast<std::uint64_t>(scaled), 0};
        return true;
    }
    const int shift = -exponent2;
    if (scaled >= (seven_digit_limit << shift)) return false;
    result = {static_cast<std::uint64_t>((scaled + (static_cast<u128>(1) << (shift - 1))) >> shift), 0};
    return true;
}

rounded_digits round_fixed(float magnitude, int decimals) {
    rounded_digits r;
    if (round_fixed_fast(magnitude, decimals, r)) return r;
    return round_leading_digits(exact_leading_digits(magnitude), decimals);
}

int digits_before_point(rounded_digits value, int decimals) { return rounded_length(value) - decimals; }

// ---------------------------------------------------------------------------------------
// Public writers.

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

void append_formatted(std::string& out, const format_list& list, std::span<const out_item> items) {
    record_builder b{out, false};
    walk_format(b, list, items);
    if (!b.no_line_feed) out.push_back('\n');
}

void append_free_form(std::string& out, std::span<const out_item> items) {
    out.push_back(' ');
    bool after_text = true;  // the first item gets no blank of its own
    for (const out_item& item : items) {
        append_free_item(out, item, after_text);
        after_text = item.type == item_type::text;
    }
    out.push_back('\n');
}

void format_to_string(char* field, std::size_t length, const format_list& list,
                      std::span<const out_item> items) {
    thread_local std::string record;
    record.clear();
    record_builder b{record, true};
    walk_format(b, list, items);
    const std::size_t used = record.size() < length ? record.size() : length;
    for (std::size_t i = 0; i < used; ++i) field[i] = record[i];
    for (std::size_t i = used; i < length; ++i) field[i] = ' ';
}

void append_integer_field(std::string& out, std::int32_t value, int width) {
    if (width <= 0) return;
    char text[12];
    const int n = integer_text(value, text);
    if (n > width) return append_stars(out, width);
    append_blanks(out, width - n);
    out.append(text, static_cast<std::size_t>(n));
}

void append_fixed_field(std::string& out, float value, int width, int decimals) {
    if (width <= 0) return;
    const float_parts p = split_float(value);
    if (p.not_finite) return append_not_finite_field(out, p, width);
    if (decimals < 0) decimals = 0;
    if (decimals >= width) return append_stars(out, width);  // not even the point and d digits fit
    const bool negative = p.sign && !p.zero;
    const rounded_digits r = p.zero ? rounded_digits{} : round_fixed(p.magnitude, decimals);
    layout_fixed(out, r, negative, width, decimals);
}

}  // namespace textio
