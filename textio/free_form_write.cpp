// The free-form writer: a leading blank, then every item in its own default form.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "textio/detail/digits.hpp"
#include "textio/detail/free_form_write.hpp"
#include "textio/format.hpp"

namespace textio {
namespace {

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
void append_new_free_real(std::string& out, float value) {
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

// The texts of the last reals written on this thread, by their bits: a station's
// coordinates are written in its terminal line, its coordinates row and its series header,
// and each time their digits cost more than the rest of the line.
struct recent_real {
    std::uint32_t bits = 0;
    std::uint8_t length = 0;  // 0: none yet
    char text[23] = {};
};
constexpr std::size_t recent_real_count = 4;
thread_local recent_real recent_reals[recent_real_count];
thread_local std::size_t next_recent_real = 0;

void append_free_real(std::string& out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (const recent_real& r : recent_reals) {
        if (r.length != 0 && r.bits == bits) {
            out.append(r.text, r.length);
            return;
        }
    }
    const std::size_t before = out.size();
    append_new_free_real(out, value);
    const std::size_t length = out.size() - before;
    if (length >= sizeof(recent_real::text)) return;
    recent_real& r = recent_reals[next_recent_real++ % recent_real_count];
    r.bits = bits;
    r.length = static_cast<std::uint8_t>(length);
    out.copy(r.text, length, before);
}

void append_free_integer(std::string& out, std::int32_t value) {
    char text[12];
    const int n = integer_text(value, text);
    out.append(value < 0 ? " " : "  ");
    out.append(text, static_cast<std::size_t>(n));
}

}  // namespace

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

void append_free_form(std::string& out, std::span<const out_item> items) {
    out.push_back(' ');
    bool after_text = true;  // the first item gets no blank of its own
    for (const out_item& item : items) {
        append_free_item(out, item, after_text);
        after_text = item.type == item_type::text;
    }
    out.push_back('\n');
}

}  // namespace textio
