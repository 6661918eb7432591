#include "engine/plain_record.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <string_view>

#include "textio/convert.hpp"
#include "textio/limits.hpp"

namespace engine {
namespace {

using textio::plain_number;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The common record: four plain numbers separated by blanks or tabs, the fourth ended by a
// blank, tab, comma, slash or the end of the line; a carriage return only at the very end.
// Whatever follows the fourth value is discarded, as the free-form rules discard it.
bool scan_plain_line(std::string_view line, plain_number fields[4]) {
    const char* p = line.data();
    const char* end = p + line.size();
    if (end > p && end[-1] == '\r') --end;
    for (int i = 0; i < 4; ++i) {
        while (p < end && is_blank(*p)) ++p;
        if (p == end || !textio::scan_plain_number(p, end, fields[i])) return false;
        if (p < end && !is_blank(*p) && !(i == 3 && (*p == ',' || *p == '/'))) return false;
    }
    return true;
}

// The line at `offset` and where the next starts. A line longer than the short route's
// reach is left to the general rules, which give the same values and hand the pages of a
// long line back as they pass them.
bool line_at(const textio::in_unit& data, std::int64_t offset, std::string_view& line, std::int64_t& next) {
    const char* first = data.buffer + offset;
    const std::size_t left = data.end - static_cast<std::size_t>(offset);
    const void* feed = std::memchr(first, '\n', std::min(left, textio::plain_line_reach + 1));
    if (!feed && left > textio::plain_line_reach) return false;
    const std::size_t length = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - first) : left;
    line = std::string_view(first, length);
    next = offset + static_cast<std::int64_t>(feed ? length + 1 : length);
    return true;
}

// A record found plain before, character by character: the first two values are passed
// over, the next two read, and the line's end looked for after them.
std::int64_t known_plain_values_by_characters(text_bytes data, std::int64_t offset, float& date, float& value) {
    const char* p = data.base + offset;
    const char* end = data.base + data.size;
    const auto pass_blanks = [&] {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
    };
    const auto pass_value = [&] {
        while (p < end && *p != ' ' && *p != '\t') ++p;
    };
    const auto take_value = [&] {
        plain_number n;
        pass_blanks();
        return textio::scan_plain_number(p, end, n) ? textio::plain_number_value(n) : 0.0f;
    };
    pass_blanks();
    pass_value();
    pass_blanks();
    pass_value();
    date = take_value();
    value = take_value();
    const void* feed = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    return feed ? static_cast<const char*>(feed) - data.base + 1 : static_cast<std::int64_t>(data.size);
}

}  // namespace

// The nearest double to the text (at most 15 digits and a power of ten, both exact, so one
// division rounds correctly), truncated toward zero.
std::int32_t plain_identifier(const plain_number& n) {
    // Whole numbers (the usual identifiers) are exact doubles already.
    const double whole = static_cast<double>(n.digits);
    const double value = n.decimals == 0 ? whole : whole / textio::exact_powers_of_ten[n.decimals];
    return textio::truncate_to_int32(n.negative ? -value : value);
}

bool plain_record_by_characters(const textio::in_unit& data, std::int64_t offset, plain_number fields[4],
                                std::int64_t& next) {
    std::string_view line;
    return line_at(data, offset, line, next) && scan_plain_line(line, fields);
}

#if defined(__x86_64__)
// The functions that use the instructions carry them as their target: the rest of the
// program runs on any x86-64 processor.
#define VARNEX_BLOCKS [[gnu::target("avx2,bmi,bmi2,popcnt")]]

namespace {

// Bit i set where byte i of the 64 at `at` is `c`.
VARNEX_BLOCKS std::uint64_t bytes_equal(const char* at, char c) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    const __m256i v = _mm256_set1_epi8(c);
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, v)))) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, v)))) << 32;
}

// The character classes of the 64 bytes at a line's start, one bit per byte.
struct byte_classes {
    std::uint64_t digit = 0;
    std::uint64_t point = 0;
    std::uint64_t sign = 0;
    std::uint64_t minus = 0;
    std::uint64_t blank = 0;
    std::uint64_t feed = 0;
};

VARNEX_BLOCKS std::uint64_t bits_of(__m256i low, __m256i high) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(low))) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

// The characters the classes are made of, each in every byte. Made once before a loop over
// records: made in each pass of it, they took a fifth of its instructions.
struct class_bytes {
    __m256i below_digits, above_digits, point, minus, plus, space, tab, feed;
};

// The empty asm hides each value from the compiler, which would otherwise make it again
// where it is used, inside the loop.
[[gnu::always_inline]] VARNEX_BLOCKS inline __m256i every_byte(char c) {
    __m256i v = _mm256_set1_epi8(c);
    asm("" : "+x"(v));
    return v;
}

[[gnu::always_inline]] VARNEX_BLOCKS inline class_bytes make_class_bytes() {
    return {every_byte('0' - 1), every_byte('9' + 1), every_byte('.'),  every_byte('-'),
            every_byte('+'),     every_byte(' '),     every_byte('\t'), every_byte('\n')};
}

[[gnu::always_inline]] VARNEX_BLOCKS inline __m256i digit_bytes_of(__m256i x, const class_bytes& k) {
    return _mm256_and_si256(_mm256_cmpgt_epi8(x, k.below_digits), _mm256_cmpgt_epi8(k.above_digits, x));
}

[[gnu::always_inline]] VARNEX_BLOCKS inline byte_classes classes_at(const char* at, const class_bytes& k) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    byte_classes c;
    c.digit = bits_of(digit_bytes_of(a, k), digit_bytes_of(b, k));
    c.point = bits_of(_mm256_cmpeq_epi8(a, k.point), _mm256_cmpeq_epi8(b, k.point));
    c.minus = bits_of(_mm256_cmpeq_epi8(a, k.minus), _mm256_cmpeq_epi8(b, k.minus));
    c.sign = c.minus | bits_of(_mm256_cmpeq_epi8(a, k.plus), _mm256_cmpeq_epi8(b, k.plus));
    c.blank = bits_of(_mm256_or_si256(_mm256_cmpeq_epi8(a, k.space), _mm256_cmpeq_epi8(a, k.tab)),
                      _mm256_or_si256(_mm256_cmpeq_epi8(b, k.space), _mm256_cmpeq_epi8(b, k.tab)));
    c.feed = bits_of(_mm256_cmpeq_epi8(a, k.feed), _mm256_cmpeq_epi8(b, k.feed));
    return c;
}

// Where the next record starts after a plain record whose line feed is not among the 64
// bytes at `p`: looked for in a few more blocks, then further on.
VARNEX_BLOCKS bool line_start_further(const textio::in_unit& data, const char* p, std::int64_t& next) {
    const char* data_end = data.buffer + data.end;
    for (const char* block = p + 64; block < data_end && block < p + 256; block += 64) {
        const std::uint64_t more = bytes_equal(block, '\n');
        if (more != 0) {
            const char* feed = block + _tzcnt_u64(more);
            if (feed >= data_end) break;
            next = feed + 1 - data.buffer;
            return true;
        }
    }
    std::string_view line;
    return line_at(data, p - data.buffer, line, next);
}

// Where the next record starts after a plain record whose fourth value ends at byte `end`
// of the 64 at `p`: after the line feed, most often among those 64 bytes.
[[gnu::always_inline]] VARNEX_BLOCKS inline bool next_line_start(const textio::in_unit& data, const char* p,
                                                                 std::uint64_t feeds, unsigned end,
                                                                 std::int64_t& next) {
    const std::uint64_t later = feeds & (~std::uint64_t{0} << end);
    if (later == 0) return line_start_further(data, p, next);
    next = p - data.buffer + static_cast<std::int64_t>(_tzcnt_u64(later)) + 1;
    return true;
}

// The number written by the first `count` (up to 8) of the eight characters in `v`, the
// first in its lowest byte: the bytes after them are shifted out, and those before become
// leading zeros.
[[gnu::always_inline]] inline std::uint32_t digits_value(std::uint64_t v, unsigned count) {
    if (count == 0) return 0;
    v = (v - 0x3030303030303030u) << (8 * (8 - count));
    v = v * 10 + (v >> 8);
    v = ((v & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
         ((v >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
        32;
    return static_cast<std::uint32_t>(v);
}

// The place of the set bit of `mask` that has k set bits below it.
[[gnu::always_inline]] VARNEX_BLOCKS inline unsigned nth_bit(std::uint64_t mask, unsigned k) {
    return static_cast<unsigned>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << k, mask)));
}

// Whether each of the four values, from its first byte in `firsts` to its last in `lasts`,
// holds 1 to 15 digits.
VARNEX_BLOCKS bool digit_counts_plain(std::uint64_t digit, std::uint64_t firsts, std::uint64_t lasts) {
    for (int k = 0; k < 4; ++k) {
        const auto from = static_cast<unsigned>(_tzcnt_u64(firsts));
        const auto to = static_cast<unsigned>(_tzcnt_u64(lasts)) + 1;
        firsts &= firsts - 1;
        lasts &= lasts - 1;
        const std::uint64_t span = _bzhi_u64(~std::uint64_t{0}, to) & (~std::uint64_t{0} << from);
        const auto digits = static_cast<unsigned>(_mm_popcnt_u64(digit & span));
        if (digits - 1 >= static_cast<unsigned>(textio::plain_digit_limit)) return false;
    }
    return true;
}

// Where the digits of a plain number of the 64 bytes at `p` lie (its form checked already),
// from its first byte `a` to before byte `b`, and the factor that makes its value: the same
// for every number written in the same places. `packed` when its digits lie within eight
// bytes.
struct value_place {
    std::uint64_t digit_bytes = 0;  // of the eight bytes from `first`, those that hold digits
    double factor = 0.0;            // its sign, and the power of ten of its digits after the point
    unsigned first = 0;
    unsigned count = 0;
    bool packed = false;
};

[[gnu::always_inline]] VARNEX_BLOCKS inline value_place place_of_value(unsigned a, unsigned b, const byte_classes& c) {
    value_place v;
    const std::uint64_t span = _bzhi_u64(~std::uint64_t{0}, b) & (~std::uint64_t{0} << a);
    const std::uint64_t digits = c.digit & span;
    v.first = static_cast<unsigned>(_tzcnt_u64(digits));
    if (b - v.first > 8) return v;
    v.packed = true;
    v.digit_bytes = _pdep_u64(digits >> v.first, 0x0101010101010101u) * 0xFF;
    v.count = static_cast<unsigned>(_mm_popcnt_u64(digits));
    const std::uint64_t point = c.point & span;  // one bit at most, or none
    const auto fraction = static_cast<unsigned>(_mm_popcnt_u64(digits & ~((point << 1) - 1)));
    v.factor = textio::nearest_inverse_powers_of_ten[(c.minus >> a) & 1][fraction];
    return v;
}

// The value of the number written in `place` of the 64 bytes at `p`, when its digits lie
// within eight bytes and are at most 8: its digits moved together (the point taken out)
// make one integer, times the factor. No branch depends on the sign or the number's width,
// which change from record to record.
[[gnu::always_inline]] VARNEX_BLOCKS inline bool value_at_place(const char* p, const value_place& place, float& value) {
    if (!place.packed) return false;
    std::uint64_t text;
    std::memcpy(&text, p + place.first, 8);
    const std::uint32_t whole_number = digits_value(_pext_u64(text, place.digit_bytes), place.count);
    if (whole_number >= textio::float_exact_limit) return false;
    value = textio::digits_times_factor(whole_number, place.factor);
    return true;
}

// The value from the lowest set bit of `first` to that of `last`, whose digits lie in `place`.
[[gnu::always_inline]] VARNEX_BLOCKS inline void take_value(const char* p, std::uint64_t first, std::uint64_t last,
                                                            const value_place& place, float& value) {
    if (value_at_place(p, place, value)) return;
    plain_number n;
    const char* q = p + _tzcnt_u64(first);
    textio::scan_plain_number(q, p + _tzcnt_u64(last) + 1, n);
    value = textio::plain_number_value(n);
}

// The places of the values from the lowest set bit of `first` to that of `last`.
[[gnu::always_inline]] VARNEX_BLOCKS inline value_place place_between(std::uint64_t first, std::uint64_t last,
                                                                      const byte_classes& c) {
    return place_of_value(static_cast<unsigned>(_tzcnt_u64(first)), static_cast<unsigned>(_tzcnt_u64(last)) + 1, c);
}

// What a plain record's checks found, for the next record of its run. Most records of a run
// are written like the one before: the same bytes but for other digits in the same places,
// up to and with the byte that ends the fourth value. Such a record passes the same checks
// (they look only at the classes of those bytes, and at the line feed after them), and its
// values lie in the same places: only its line feed is looked for, and its values read.
struct plain_shape {
    __m256i low{}, high{};    // the record's 64 bytes
    std::uint64_t span = 0;   // bit i: byte i lies up to the end of the fourth value, that byte included
    std::uint64_t digit = 0;  // bit i: byte i is a digit
    std::uint64_t third_first = 0, third_last = 0, fourth_first = 0, fourth_last = 0;
    value_place date, value;  // when the values are read
    unsigned end = 0;         // where the fourth value ends
    // Not for a fourth value ended by a carriage return (whose line feed must follow it),
    // nor by the end of the file.
    bool reusable = false;
};

// Notes the shape of the record at `p`, whose fourth value ends at byte `end`.
[[gnu::always_inline]] VARNEX_BLOCKS inline void note_shape(plain_shape& shape, const char* p, unsigned end,
                                                            std::uint64_t digit, bool reusable) {
    shape.low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    shape.high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    shape.span = _bzhi_u64(~std::uint64_t{0}, end + 1);
    shape.digit = digit;
    shape.end = end;
    shape.reusable = reusable;
}

// Whether the record at `p` has `shape`: digits where the record noted has them, and its
// very bytes everywhere else; with the line feeds among its 64 bytes.
[[gnu::always_inline]] VARNEX_BLOCKS inline bool has_shape(const char* p, const char* data_end, const class_bytes& k,
                                                           const plain_shape& shape, std::uint64_t& feeds) {
    if (p + shape.end >= data_end) return false;
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const std::uint64_t digit = bits_of(digit_bytes_of(a, k), digit_bytes_of(b, k));
    const std::uint64_t same = bits_of(_mm256_cmpeq_epi8(a, shape.low), _mm256_cmpeq_epi8(b, shape.high));
    if ((((digit ^ shape.digit) | ~(same | digit)) & shape.span) != 0) return false;
    feeds = bits_of(_mm256_cmpeq_epi8(a, k.feed), _mm256_cmpeq_epi8(b, k.feed));
    return true;
}

[[gnu::always_inline]] VARNEX_BLOCKS inline bool plain_at(const textio::in_unit& data, std::int64_t offset,
                                                          const class_bytes& k, plain_number fields[4],
                                                          unsigned convert, std::int64_t& next,
                                                          float* date_and_value = nullptr,
                                                          plain_shape* shape = nullptr) {
    const char* p = data.buffer + offset;
    const char* data_end = data.buffer + data.end;
    const byte_classes c = classes_at(p, k);
    const std::uint64_t number = c.digit | c.point | c.sign;
    const std::uint64_t starts = number & ~(number << 1);
    if (_mm_popcnt_u64(starts) < 4) return false;
    // The fourth value, and the bytes before its end: values and blanks only, a sign only
    // where a value starts.
    const unsigned fourth = static_cast<unsigned>(_tzcnt_u64(_pdep_u64(8, starts)));
    const std::uint64_t beyond = ~number & (~std::uint64_t{0} << fourth);
    if (beyond == 0) return false;
    const unsigned end = static_cast<unsigned>(_tzcnt_u64(beyond));
    const std::uint64_t before = _bzhi_u64(~std::uint64_t{0}, end);
    if (((number | c.blank) & before) != before || (c.sign & before & ~starts) != 0) return false;
    // Each value: 1 to 15 digits, one point at most. Most values have a digit among their
    // first two bytes and fewer than 16 bytes; the others have their digits counted.
    const std::uint64_t values = number & before;
    const std::uint64_t firsts = starts & before;
    const std::uint64_t lasts = values & ~(values >> 1);
    std::uint64_t long_values = values;  // bit i: bytes i to i + 15 all lie in values
    long_values &= long_values >> 1;
    long_values &= long_values >> 2;
    long_values &= long_values >> 4;
    long_values &= long_values >> 8;
    const bool usual = (firsts & ~(c.digit | (c.digit >> 1))) == 0 && long_values == 0;
    if (!usual && !digit_counts_plain(c.digit, firsts, lasts)) return false;
    // The points added to the values carry through each value from its first point on, so
    // that only a second point of one value is left standing.
    const std::uint64_t points = c.point & before;
    if (((values + points) & points) != 0) return false;

    // What ends the fourth value: a blank, a comma, a slash, the line's end (after one
    // carriage return at most) or the file's end.
    const char* after = p + end;
    if (after < data_end) {
        const char e = *after;
        const bool ends = ((c.blank >> end) & 1) || e == ',' || e == '/' || e == '\n' ||
                          (e == '\r' && (after + 1 == data_end || after[1] == '\n'));
        if (!ends || !next_line_start(data, p, c.feed, end, next)) return false;
    } else {
        next = data_end - data.buffer;
    }
    for (unsigned f = 0; f < 4; ++f) {
        const bool wanted = (f == 0 && (convert & convert_id)) || (f >= 2 && (convert & convert_date_and_value));
        if (!wanted) continue;
        const char* q = p + nth_bit(firsts, f);
        textio::scan_plain_number(q, p + nth_bit(lasts, f) + 1, fields[f]);
    }
    // The third and fourth values: the lowest two of their firsts and lasts cleared.
    const std::uint64_t third_first = _blsr_u64(_blsr_u64(firsts)), third_last = _blsr_u64(_blsr_u64(lasts));
    const std::uint64_t fourth_first = _blsr_u64(third_first), fourth_last = _blsr_u64(third_last);
    value_place date, value;
    if (date_and_value) {
        date = place_between(third_first, third_last, c);
        value = place_between(fourth_first, fourth_last, c);
        take_value(p, third_first, third_last, date, date_and_value[0]);
        take_value(p, fourth_first, fourth_last, value, date_and_value[1]);
    }
    if (shape) {
        note_shape(*shape, p, end, c.digit, after < data_end && *after != '\r');
        shape->third_first = third_first;
        shape->third_last = third_last;
        shape->fourth_first = fourth_first;
        shape->fourth_last = fourth_last;
        shape->date = date;
        shape->value = value;
    }
    return true;
}

// The record at `p` when it is written like the one `shape` was found in (see plain_shape):
// where the next record starts and, when `date_and_value` is not null, its date and value,
// as plain_at gives them. False when it is not, or its line feed is not within reach.
[[gnu::always_inline]] VARNEX_BLOCKS inline bool same_shape_at(const textio::in_unit& data, const char* p,
                                                               const class_bytes& k, const plain_shape& shape,
                                                               std::int64_t& next, float* date_and_value) {
    std::uint64_t feeds = 0;
    if (!has_shape(p, data.buffer + data.end, k, shape, feeds) || !next_line_start(data, p, feeds, shape.end, next))
        return false;
    if (date_and_value) {
        take_value(p, shape.third_first, shape.third_last, shape.date, date_and_value[0]);
        take_value(p, shape.fourth_first, shape.fourth_last, shape.value, date_and_value[1]);
    }
    return true;
}

// Whether the bytes at `a` are those of `text` where `wanted` has a bit.
[[gnu::always_inline]] VARNEX_BLOCKS inline bool same_text(const char* a, __m256i text, std::uint32_t wanted) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const auto equal_bytes = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, text)));
    return (equal_bytes & wanted) == wanted;
}

}  // namespace

VARNEX_BLOCKS bool plain_record_by_blocks(const textio::in_unit& data, std::int64_t offset, plain_number fields[4],
                                          unsigned convert, std::int64_t& next) {
    return plain_at(data, offset, make_class_bytes(), fields, convert, next);
}

namespace {

template <bool Keep>
VARNEX_BLOCKS std::int64_t pass_records_written_as(const textio::in_unit& data, std::int64_t& offset,
                                                   std::int64_t limit, std::int64_t last_end, std::int64_t text_at,
                                                   std::size_t text_length, std::int64_t& last_start,
                                                   std::int64_t& longest, kept_dates_and_values* kept) {
    if (text_length == 0 || text_length >= 32) return 0;
    if (Keep) kept->make_room();
    const class_bytes k = make_class_bytes();
    // The loop works on copies, written back once, and with as few of them as it can: through
    // the references and the room's pointers, and with more values than registers, each
    // record stored and loaded them again.
    const std::int64_t stop =
        std::min(limit, static_cast<std::int64_t>(data.end) - static_cast<std::int64_t>(text_length) + 1);
    __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data.buffer + text_at));
    asm("" : "+x"(text));
    const std::uint32_t text_bytes = (std::uint32_t{1} << text_length) - 1;
    const std::int64_t room = Keep ? static_cast<std::int64_t>(kept_dates_and_values::room - kept->count) : INT64_MAX;
    float* const dates = Keep ? kept->dates.get() + kept->count : nullptr;
    float* const values = Keep ? kept->values.get() + kept->count : nullptr;
    std::int64_t at = offset, last = last_start, most = longest, count = 0;
    plain_number fields[4];
    float date_and_value[2];
    plain_shape shape;  // of the record before
    while (at < stop && same_text(data.buffer + at, text, text_bytes)) {
        // Past the room for kept values the caller stops keeping the run's.
        if (Keep && count >= room) break;
        std::int64_t next = 0;
        float* const wanted = Keep ? date_and_value : nullptr;
        const bool plain = (shape.reusable && same_shape_at(data, data.buffer + at, k, shape, next, wanted)) ||
                           plain_at(data, at, k, fields, 0, next, wanted, &shape);
        if (!plain || next > last_end) break;
        if (Keep) {
            dates[count] = date_and_value[0];
            values[count] = date_and_value[1];
        }
        last = at;
        most = std::max(most, next - at);
        at = next;
        ++count;
    }
    offset = at;
    last_start = last;
    longest = most;
    if (Keep) kept->count += static_cast<std::size_t>(count);
    return count;
}

}  // namespace

VARNEX_BLOCKS std::int64_t pass_plain_records_written_as(const textio::in_unit& data, std::int64_t& offset,
                                                         std::int64_t limit, std::int64_t last_end,
                                                         std::int64_t text_at, std::size_t text_length,
                                                         std::int64_t& last_start, std::int64_t& longest,
                                                         kept_dates_and_values* kept) {
    return kept ? pass_records_written_as<true>(data, offset, limit, last_end, text_at, text_length, last_start,
                                                longest, kept)
                : pass_records_written_as<false>(data, offset, limit, last_end, text_at, text_length, last_start,
                                                 longest, nullptr);
}

namespace {

// The third and fourth values of a record known to be plain, from the classes of its first
// 64 bytes, and where the next record starts; false when the fourth does not end within
// them, or a value has more than 8 digits within eight bytes.
[[gnu::always_inline]] VARNEX_BLOCKS inline bool known_values_at(text_bytes data, std::int64_t offset,
                                                                 const class_bytes& k, float& date, float& value,
                                                                 std::int64_t& next, plain_shape* shape = nullptr) {
    const char* p = data.base + offset;
    const byte_classes c = classes_at(p, k);
    const std::uint64_t number = c.digit | c.point | c.sign;
    const std::uint64_t third_first = _blsr_u64(_blsr_u64(number & ~(number << 1)));
    const std::uint64_t third_last = _blsr_u64(_blsr_u64(number & ~(number >> 1)));
    const std::uint64_t fourth_last = _blsr_u64(third_last);
    // A value whose last byte here is byte 63 may go on past it.
    if (fourth_last == 0 || _tzcnt_u64(fourth_last) == 63) return false;
    const auto fourth_end = static_cast<unsigned>(_tzcnt_u64(fourth_last)) + 1;
    const value_place date_place = place_between(third_first, third_last, c);
    const value_place value_place_ = place_between(_blsr_u64(third_first), fourth_last, c);
    if (!value_at_place(p, date_place, date) || !value_at_place(p, value_place_, value)) return false;
    const char* data_end = data.base + data.size;
    if (shape) {
        note_shape(*shape, p, fourth_end, c.digit, p + fourth_end < data_end);
        shape->date = date_place;
        shape->value = value_place_;
    }
    const std::uint64_t later = c.feed & (~std::uint64_t{0} << fourth_end);
    if (later != 0) {
        next = std::min<std::int64_t>(offset + static_cast<std::int64_t>(_tzcnt_u64(later)) + 1,
                                      static_cast<std::int64_t>(data.size));
        return true;
    }
    const char* from = std::min(p + fourth_end, data_end);
    const void* feed = std::memchr(from, '\n', static_cast<std::size_t>(data_end - from));
    next = feed ? static_cast<const char*>(feed) - data.base + 1 : static_cast<std::int64_t>(data.size);
    return true;
}

// A record known to be plain, written like the one `shape` was found in (see plain_shape):
// its date and value, as known_values_at gives them, and where the next record starts when
// its line feed is among its first 64 bytes. False otherwise.
[[gnu::always_inline]] VARNEX_BLOCKS inline bool known_same_shape_at(text_bytes data, std::int64_t offset,
                                                                     const class_bytes& k, const plain_shape& shape,
                                                                     float& date, float& value, std::int64_t& next) {
    const char* p = data.base + offset;
    std::uint64_t feeds = 0;
    if (!has_shape(p, data.base + data.size, k, shape, feeds)) return false;
    const std::uint64_t later = feeds & (~std::uint64_t{0} << shape.end);
    if (later == 0 || !value_at_place(p, shape.date, date) || !value_at_place(p, shape.value, value)) return false;
    next = std::min<std::int64_t>(offset + static_cast<std::int64_t>(_tzcnt_u64(later)) + 1,
                                  static_cast<std::int64_t>(data.size));
    return true;
}

VARNEX_BLOCKS std::int64_t known_plain_run_by_blocks(text_bytes data, std::int64_t offset, std::int64_t count,
                                                     float* dates, float* values) {
    const class_bytes k = make_class_bytes();
    plain_shape shape;  // of the record before
    for (std::int64_t i = 0; i < count; ++i) {
        std::int64_t next = 0;
        if (shape.reusable && known_same_shape_at(data, offset, k, shape, dates[i], values[i], next)) {
            offset = next;
            continue;
        }
        shape.reusable = false;
        offset = known_values_at(data, offset, k, dates[i], values[i], next, &shape)
                     ? next
                     : known_plain_values_by_characters(data, offset, dates[i], values[i]);
    }
    return offset;
}

}  // namespace

VARNEX_BLOCKS bool known_plain_values_by_blocks(text_bytes data, std::int64_t offset, float& date, float& value,
                                                std::int64_t& next) {
    return known_values_at(data, offset, make_class_bytes(), date, value, next);
}

#else

bool plain_record_by_blocks(const textio::in_unit&, std::int64_t, plain_number[4], unsigned, std::int64_t&) {
    return false;
}

bool known_plain_values_by_blocks(text_bytes, std::int64_t, float&, float&, std::int64_t&) { return false; }

std::int64_t pass_plain_records_written_as(const textio::in_unit&, std::int64_t&, std::int64_t, std::int64_t,
                                           std::int64_t, std::size_t, std::int64_t&, std::int64_t&,
                                           kept_dates_and_values*) {
    return 0;
}

#endif

bool blocks_supported() {
#if defined(__x86_64__)
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                                  __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return supported;
#else
    return false;
#endif
}

std::int64_t read_known_plain_run(text_bytes data, std::int64_t offset, std::int64_t count, float* dates,
                                  float* values) {
#if defined(__x86_64__)
    if (blocks_supported()) return known_plain_run_by_blocks(data, offset, count, dates, values);
#endif
    for (std::int64_t k = 0; k < count; ++k)
        offset = known_plain_values_by_characters(data, offset, dates[k], values[k]);
    return offset;
}

bool plain_record(const textio::in_unit& data, std::int64_t offset, plain_number fields[4], unsigned convert,
                  std::int64_t& next) {
    if (blocks_supported() && plain_record_by_blocks(data, offset, fields, convert, next)) return true;
    return plain_record_by_characters(data, offset, fields, next);
}

}  // namespace engine
