#include "engine/month.hpp"

#include <cstring>

#include "textio/convert.hpp"
#include "textio/format.hpp"

namespace engine {
namespace {

const textio::format_list fraction_text = textio::parse_format("(f5.3)");

constexpr const char* month_texts[12] = {"0.042", "0.125", "0.208", "0.292", "0.375", "0.458",
                                         "0.542", "0.625", "0.708", "0.792", "0.875", "0.958"};

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The month of a fraction of a year is decided by its "(f5.3)" text. That text is a
// non-decreasing step function of the fraction, so the fractions that give one month's text
// form one interval of floats; the bounds are found once by bisection on the text itself.
int thousandths_text_value(float fraction) {
    char text[5];
    const textio::out_item item = textio::item_real(fraction);
    textio::format_to_string(text, sizeof text, fraction_text, {&item, 1});
    int value = 0;
    for (const char c : text)
        if (is_digit(c)) value = value * 10 + (c - '0');
    return value;
}

// Smallest float in [0, 1] whose text reads at least `target` thousandths.
float first_fraction_reading(int target) {
    std::uint32_t low = 0, high = 0x3F800000u;  // bit patterns of 0.0 and 1.0
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        float f;
        std::memcpy(&f, &middle, sizeof f);
        if (thousandths_text_value(f) >= target)
            high = middle;
        else
            low = middle + 1;
    }
    float f;
    std::memcpy(&f, &low, sizeof f);
    return f;
}

}  // namespace

const month_intervals& month_table() {
    static const month_intervals table = [] {
        month_intervals t;
        for (int m = 0; m < 12; ++m) {
            const int thousandths =
                (month_texts[m][2] - '0') * 100 + (month_texts[m][3] - '0') * 10 + (month_texts[m][4] - '0');
            t.low[m] = first_fraction_reading(thousandths);
            t.high[m] = first_fraction_reading(thousandths + 1);
        }
        return t;
    }();
    return table;
}

int month_of_fraction_by_text(float fraction) {
    char text[5];
    const textio::out_item item = textio::item_real(fraction);
    textio::format_to_string(text, sizeof text, fraction_text, {&item, 1});
    for (int m = 0; m < 12; ++m)
        if (std::memcmp(text, month_texts[m], 5) == 0) return m + 1;
    return 0;
}

}  // namespace engine
