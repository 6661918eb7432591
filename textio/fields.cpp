// The fixed-field writers iw, fw.d and aw: each field exactly w characters (a without w:
// the item's own length).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "textio/detail/digits.hpp"
#include "textio/detail/fields.hpp"
#include "textio/format.hpp"

namespace textio {
namespace {

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

// The common field: a value that does not round to zero, with no zeros beyond its own
// digits, in a width of at most 32. Its digits are made once, two at a time, and the field
// is laid out in a local buffer and appended whole. Any other field, and one that needs
// asterisks, gives false with `out` untouched and is left to the general layout below,
// which writes the same bytes for the fields both can take.
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

}  // namespace

void append_text_field(std::string& out, std::string_view text, int width) {
    const std::size_t w = static_cast<std::size_t>(width);
    if (width > 0 && text.size() > w) text = text.substr(0, w);
    if (width > 0) out.append(w - text.size(), ' ');
    out.append(text);
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
