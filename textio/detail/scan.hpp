// Number scanning: the text of an integer, a real or an identifier to its value. The
// formatted and free-form readers settle which characters form the text; these settle what
// it means. Each returns false, value untouched, for text that is not such a number.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace textio {

// Blanks anywhere are ignored, then an optional sign and digits. With `empty_is_zero`,
// nothing (or only a sign) reads 0. Magnitudes beyond int32 saturate to the bound of
// their sign.
bool scan_integer(std::string_view text, bool empty_is_zero, std::int32_t& value);

// A real written without blanks (sign, digits with at most one point, at most one exponent
// part; or I or N after the sign for infinity or not-a-number), to the nearest double and
// then to float. `implied_decimals` > 0 places a point before the last that many digits
// when none was typed (a field read under fw.d).
bool scan_real(std::string_view text, int implied_decimals, float& value);

// A real's text to the nearest double, truncated toward zero to 32 bits: never rounded to
// single precision on the way.
bool scan_identifier(std::string_view text, std::int32_t& value);

// The position of the first character at or after i that is not a decimal digit.
inline std::size_t skip_digits(std::string_view text, std::size_t i) {
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i;
}

}  // namespace textio
