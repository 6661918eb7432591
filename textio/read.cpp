#include "textio/read.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "textio/failure.hpp"
#include "textio/convert.hpp"

namespace textio {
namespace {

// Beyond these decimal exponents every value is an infinity or a zero in double precision,
// so the digits need not be converted at all.
constexpr std::int64_t overflow_exponent = 400;
constexpr std::int64_t underflow_exponent = -400;
// Exponent digits beyond this value change nothing; accumulation stops growing there.
constexpr std::int64_t exponent_ceiling = 1000000000;
// Magnitudes past the int32 range all saturate alike; accumulation stops growing there.
constexpr std::int64_t magnitude_ceiling = 4294967296;
constexpr std::int64_t int32_positive_bound = 2147483647;
constexpr std::int64_t int32_negative_bound = 2147483648;
// Doubles from here on round to infinity in single precision (the midpoint between the
// largest float and 2^128 rounds to the even neighbour, 2^128).
constexpr double float_overflow_threshold = 0x1.ffffffp127;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }
bool is_exponent_letter(char c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }

[[noreturn]] void raise_end_of_input(const in_unit& u) {
    raise_failure(failure_at(failure_kind::end_of_file, "READ", u.unit, u.name, u.line + 1));
}

// `field` counts the values of the read from 1; `text` is the value as typed.
[[noreturn]] void raise_illegal_character(const in_unit& u, long line, int field, std::string_view text) {
    io_failure failure = failure_at(failure_kind::illegal_character, "READ", u.unit, u.name, line);
    failure.field = field;
    failure.text = text;
    raise_failure(std::move(failure));
}

// Next record with CRs dropped and TABs expanded; the view points into the unit's buffer
// when the record has neither, into `scratch` otherwise.
bool load_record(in_unit& u, std::string& scratch, std::string_view& record) {
    std::string_view raw;
    if (!next_raw_record(u, raw)) return false;
    if (!std::memchr(raw.data(), '\r', raw.size()) && !std::memchr(raw.data(), '\t', raw.size())) {
        record = raw;
    } else {
        clean_record(raw, scratch);
        record = scratch;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Numbers

float double_to_float(double value) {
    if (std::fabs(value) >= float_overflow_threshold) return std::signbit(value) ? -HUGE_VALF : HUGE_VALF;
    return static_cast<float>(value);
}

// Integer text: blanks anywhere are ignored, then an optional sign and digits. With
// `empty_is_zero`, nothing (or only a sign) reads 0. Magnitudes beyond int32 saturate to
// the bound of their sign.
bool scan_integer(std::string_view text, bool empty_is_zero, std::int32_t& value) {
    bool negative = false;
    bool signed_already = false;
    bool any_digit = false;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c == ' ') continue;
        if (!any_digit && !signed_already && is_sign(c)) {
            signed_already = true;
            negative = c == '-';
            continue;
        }
        if (!is_digit(c)) return false;
        any_digit = true;
        magnitude = std::min(magnitude * 10 + (c - '0'), magnitude_ceiling);
    }
    if (!any_digit && !empty_is_zero) return false;
    magnitude = std::min(magnitude, negative ? int32_negative_bound : int32_positive_bound);
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

// The parts of a checked real: its digits (point removed) and where the point stands.
struct real_text {
    bool negative = false;
    enum { finite, infinity, not_a_number } kind = finite;
    std::string_view integer_digits;
    std::string_view fraction_digits;
    bool has_point = false;
    std::int64_t exponent = 0;
};

std::size_t skip_digits(std::string_view text, std::size_t i) {
    while (i < text.size() && is_digit(text[i])) ++i;
    return i;
}

// Exponent part from position i: a letter E or D with an optional sign, or a sign alone,
// then at least one digit, up to the end of the text.
bool scan_exponent(std::string_view text, std::size_t i, std::int64_t& exponent) {
    if (is_exponent_letter(text[i])) {
        ++i;
        if (i < text.size() && is_sign(text[i])) ++i;
    } else if (is_sign(text[i])) {
        ++i;
    } else {
        return false;
    }
    const bool negative = text[i - 1] == '-';
    const std::size_t first = i;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!is_digit(text[i])) return false;
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), exponent_ceiling);
    }
    if (i == first) return false;
    exponent = negative ? -magnitude : magnitude;
    return true;
}

// Checks a real written without blanks: sign, digits with at most one point, at most one
// exponent part; or a sign followed by I (infinity) or N (not-a-number) and anything.
bool scan_real_text(std::string_view text, real_text& parts) {
    std::size_t i = 0;
    if (i < text.size() && is_sign(text[i])) {
        parts.negative = text[i] == '-';
        ++i;
    }
    if (i < text.size()) {
        const char c = text[i];
        if (c == 'I' || c == 'i') return parts.kind = real_text::infinity, true;
        if (c == 'N' || c == 'n') return parts.kind = real_text::not_a_number, true;
    }
    std::size_t stop = skip_digits(text, i);
    parts.integer_digits = text.substr(i, stop - i);
    i = stop;
    if (i < text.size() && text[i] == '.') {
        parts.has_point = true;
        stop = skip_digits(text, i + 1);
        parts.fraction_digits = text.substr(i + 1, stop - i - 1);
        i = stop;
    }
    const bool any_digit = !parts.integer_digits.empty() || !parts.fraction_digits.empty();
    if (i == text.size()) return true;
    return any_digit && scan_exponent(text, i, parts.exponent);
}

// Significant digits of a finite real (leading zeros dropped) and the decimal exponent e
// for which the value is 0.<digits> times ten to the e. Returns false when every digit is
// zero.
bool significant_digits(const real_text& parts, std::int64_t point_position, std::string& digits,
                        std::int64_t& decimal_exponent) {
    std::string_view integer = parts.integer_digits;
    std::string_view fraction = parts.fraction_digits;
    while (!integer.empty() && integer.front() == '0') {
        integer.remove_prefix(1);
        --point_position;
    }
    if (integer.empty()) {
        while (!fraction.empty() && fraction.front() == '0') {
            fraction.remove_prefix(1);
            --point_position;
        }
        if (fraction.empty()) return false;
    }
    digits.assign(integer);
    digits.append(fraction);
    decimal_exponent = point_position + parts.exponent;
    return true;
}

// The nearest double to the digits, from_chars being correctly rounded; exponents far
// outside the double range are settled without converting.
double nearest_double(const std::string& digits, std::int64_t decimal_exponent) {
    if (decimal_exponent > overflow_exponent) return HUGE_VAL;
    if (decimal_exponent < underflow_exponent) return 0.0;
    thread_local std::string text;
    text.assign("0.");
    text.append(digits);
    text.push_back('e');
    char exponent_text[24];
    const auto written = std::to_chars(exponent_text, exponent_text + sizeof exponent_text, decimal_exponent);
    text.append(exponent_text, written.ptr);
    double magnitude = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (result.ec == std::errc::result_out_of_range) return decimal_exponent > 0 ? HUGE_VAL : 0.0;
    return magnitude;
}

// The checked text to the nearest double; infinities and not-a-number as such.
// `implied_decimals` > 0 places a point before the last that many digits when none was
// typed (a field read under fw.d).
double convert_real_exactly(const real_text& parts, int implied_decimals) {
    if (parts.kind == real_text::infinity) return parts.negative ? -HUGE_VAL : HUGE_VAL;
    if (parts.kind == real_text::not_a_number) return std::numeric_limits<double>::quiet_NaN();
    std::int64_t point_position = static_cast<std::int64_t>(parts.integer_digits.size());
    if (!parts.has_point && implied_decimals > 0) point_position -= implied_decimals;
    thread_local std::string digits;
    std::int64_t decimal_exponent = 0;
    if (!significant_digits(parts, point_position, digits, decimal_exponent)) return parts.negative ? -0.0 : 0.0;
    const double magnitude = nearest_double(digits, decimal_exponent);
    return parts.negative ? -magnitude : magnitude;
}

// The checked text to the nearest double, then rounded to single precision.
float convert_real(const real_text& parts, int implied_decimals) {
    if (parts.kind == real_text::not_a_number) {
        return std::copysign(std::numeric_limits<float>::quiet_NaN(), parts.negative ? -1.0f : 1.0f);
    }
    return double_to_float(convert_real_exactly(parts, implied_decimals));
}

bool scan_real(std::string_view text, int implied_decimals, float& value) {
    real_text parts;
    if (!scan_real_text(text, parts)) return false;
    value = convert_real(parts, implied_decimals);
    return true;
}

bool scan_identifier(std::string_view text, std::int32_t& value) {
    real_text parts;
    if (!scan_real_text(text, parts)) return false;
    value = truncate_to_int32(convert_real_exactly(parts, -1));
    return true;
}

// ---------------------------------------------------------------------------------------
// Storing into items

void store_integer(const in_item& item, std::int32_t value) {
    switch (item.type) {
        case item_type::integer:
        case item_type::identifier: *static_cast<std::int32_t*>(item.target) = value; break;
        case item_type::real: *static_cast<float*>(item.target) = static_cast<float>(value); break;
        case item_type::logical: *static_cast<bool*>(item.target) = value != 0; break;
        case item_type::text: break;
    }
}

void store_real(const in_item& item, float value) {
    switch (item.type) {
        case item_type::integer:
        case item_type::identifier: *static_cast<std::int32_t*>(item.target) = truncate_to_int32(value); break;
        case item_type::real: *static_cast<float*>(item.target) = value; break;
        case item_type::logical: *static_cast<bool*>(item.target) = value != 0.0f; break;
        case item_type::text: break;
    }
}

// The variable takes the text from its first position; positions beyond it are blanks.
void store_text(const in_item& item, std::string_view text) {
    if (item.type != item_type::text) return;
    char* field = static_cast<char*>(item.target);
    const std::size_t count = std::min(item.length, text.size());
    std::memcpy(field, text.data(), count);
    std::memset(field + count, ' ', item.length - count);
}

// After an optional point, t or T means true; everything else means false.
bool logical_value(std::string_view text) {
    if (!text.empty() && text.front() == '.') text.remove_prefix(1);
    return !text.empty() && (text.front() == 't' || text.front() == 'T');
}

// ---------------------------------------------------------------------------------------
// Formatted input

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
    if (!load_record(source, scratch, cursor.record)) raise_end_of_input(source);
    cursor.position = 0;
}

// ---------------------------------------------------------------------------------------
// Free-form input

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
    std::string_view record;
    std::size_t position = 0;
    // A value was read and the separator after it is not consumed yet: one comma that
    // follows, even at the start of the next record, only separates.
    bool separator_pending = false;
};

bool ends_value(char c) { return c == ' ' || c == ',' || c == '/'; }

bool next_free_record(free_cursor& cursor) {
    if (!load_record(cursor.source, cursor.scratch, cursor.record)) return false;
    cursor.position = 0;
    return true;
}

// A value in apostrophes or quotation marks, continued across records; a doubled quote
// stands for one.
bool take_quoted(free_cursor& cursor, std::string& text) {
    const char quote = cursor.record[cursor.position++];
    text.clear();
    for (;;) {
        if (cursor.position >= cursor.record.size()) {
            if (!next_free_record(cursor)) return false;
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
            if (!next_free_record(cursor)) return t.kind = token_kind::end_of_source, t;
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

read_outcome read_free_form(in_unit& source, std::span<const in_item> items, bool end_of_file_allowed) {
    thread_local std::string scratch;
    if (items.empty()) {
        std::string_view skipped;
        if (next_raw_record(source, skipped)) return read_outcome::ok;
        if (end_of_file_allowed) return read_outcome::end_of_file;
        raise_end_of_input(source);
    }
    free_cursor cursor{source, scratch, {}, 0, false};
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
        if (current.kind == token_kind::value) store_value(source, item, current, field);
    }
    return read_outcome::ok;
}

float decimal_to_float(std::string_view text) {
    float value = 0.0f;
    if (!scan_real(text, -1, value)) return std::numeric_limits<float>::quiet_NaN();
    return value;
}

}  // namespace textio
