#include "engine/record_skim.hpp"
#include "textio/limits.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "textio/plain_number.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#define VARNEX_SKIM_AVX2 1
#endif

namespace engine {

namespace {

// The first `length` (at most 10) digit characters at p, as the two words a wanted
// identifier keeps.
void pack_identifier(const char* p, unsigned length, std::uint64_t& bytes, std::uint16_t& more) {
    bytes = 0;
    more = 0;
    std::memcpy(&bytes, p, length < 8 ? length : 8);
    if (length > 8) std::memcpy(&more, p + 8, length - 8);
}

}  // namespace

wanted_digits digits_of(std::int32_t id) {
    wanted_digits w;
    if (id < 1) return w;
    char reversed[max_plain_identifier_digits];
    int n = 0;
    for (std::int32_t v = id; v > 0; v /= 10) reversed[n++] = static_cast<char>('0' + v % 10);
    for (int i = 0; i < n; ++i) w.text[i] = reversed[n - 1 - i];
    pack_identifier(w.text, static_cast<unsigned>(n), w.bytes, w.more);
    w.length = n;
    w.usable = true;
    w.id = id;
    return w;
}

#if VARNEX_SKIM_AVX2
namespace {

using textio::prefetch_distance;

struct class_masks {
    std::uint64_t newline, separator, carriage_return, digit, point, sign;
};

[[gnu::target("avx2")]] inline std::uint64_t equal_mask(__m256i low, __m256i high, char c) {
    const __m256i v = _mm256_set1_epi8(c);
    const auto lo = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, v)));
    const auto hi = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, v)));
    return lo | static_cast<std::uint64_t>(hi) << 32;
}

[[gnu::target("avx2")]] inline std::uint64_t digit_mask(__m256i low, __m256i high) {
    // '0'..'9' moved to -128..-119: one signed comparison tells digits from everything else.
    const __m256i shift = _mm256_set1_epi8(static_cast<char>(128 - '0'));
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(-128 + 10));
    const auto lo =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(limit, _mm256_add_epi8(low, shift))));
    const auto hi =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(limit, _mm256_add_epi8(high, shift))));
    return lo | static_cast<std::uint64_t>(hi) << 32;
}

[[gnu::target("avx2")]] inline class_masks classify(const char* p) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {equal_mask(low, high, '\n'), equal_mask(low, high, ' ') | equal_mask(low, high, '\t'),
            equal_mask(low, high, '\r'), digit_mask(low, high),
            equal_mask(low, high, '.'),  equal_mask(low, high, '+') | equal_mask(low, high, '-')};
}

// Whether the first four tokens of a line, as masks over its first 64 bytes, are plain
// numbers exactly as the plain-record reader takes them: sign only in front and followed
// by a digit or point, at most one point, at least one digit, at most 15 characters
// (hence digits), nothing else. `tokens` marks the characters of the first four tokens.
[[gnu::target("avx2,bmi,bmi2,popcnt")]] inline bool plain_tokens(const class_masks& m, std::uint64_t tokens,
                                                                 std::uint64_t starts) {
    const std::uint64_t numeric = m.digit | m.point | m.sign;
    const std::uint64_t signs = m.sign & tokens;
    const std::uint64_t points = m.point & tokens;
    // Adding a token's point to its run of ones carries through the rest of the token,
    // flipping every later character; a second point of the same token is not flipped.
    const std::uint64_t after_a_point = (tokens + points) ^ tokens;
    std::uint64_t long_run = tokens & (tokens >> 1);
    long_run &= long_run >> 2;
    long_run &= long_run >> 4;
    long_run &= long_run >> 8;
    const std::uint64_t bad = (tokens & ~numeric) | (signs & ~starts) | ((signs << 1) & ~(m.digit | m.point)) |
                              (points & ~after_a_point) | (points & ~(m.digit << 1) & ~(m.digit >> 1)) | long_run;
    return bad == 0;
}

// One record judged from the 64 bytes at its start.
struct judged_line {
    unsigned length;         // bytes before the line feed
    std::uint64_t digits;    // digit characters
    std::uint64_t points;    // decimal points
    std::uint64_t starts;    // first characters of the tokens
    std::uint64_t ends;      // characters just after the tokens
    std::uint64_t id_bytes;  // the identifier's first 8 digits, when it is plain digits
    std::uint16_t id_more;   // its 9th and 10th
    unsigned id_length;
};

// True when the record is four plain numbers whose identifier is plain digits without
// sign, point or leading zero (at most 10 of them); false when the reader must judge it.
[[gnu::target("avx2,bmi,bmi2,popcnt")]] inline bool judge_line(const char* p, std::size_t available, judged_line& j) {
    const class_masks m = classify(p);
    const std::uint64_t valid = available >= 64 ? ~0ull : (1ull << available) - 1;
    const std::uint64_t newline = m.newline & valid;
    if (newline == 0) return false;  // the record does not end within 64 buffered bytes
    j.length = static_cast<unsigned>(__builtin_ctzll(newline));
    std::uint64_t line = (1ull << j.length) - 1;
    // A carriage return right before the line feed ends the record like the line end.
    if (j.length > 0 && ((m.carriage_return >> (j.length - 1)) & 1)) line &= ~(1ull << (j.length - 1));
    const std::uint64_t token_chars = line & ~m.separator;
    j.starts = token_chars & ~(token_chars << 1);
    j.ends = (token_chars << 1) & ~token_chars;
    j.digits = m.digit;
    j.points = m.point;
    if (_mm_popcnt_u64(j.starts) < 4) return false;
    const std::uint64_t tokens = token_chars & (_pdep_u64(1ull << 3, j.ends) - 1);
    if (!plain_tokens(m, tokens, j.starts)) return false;
    const unsigned first = static_cast<unsigned>(__builtin_ctzll(j.starts));
    j.id_length = static_cast<unsigned>(__builtin_ctzll(j.ends)) - first;
    const std::uint64_t id_span = ((1ull << j.id_length) - 1) << first;
    if (j.id_length > max_plain_identifier_digits || ((m.point | m.sign) & id_span) || p[first] == '0') return false;
    // The identifier is followed by at least its separator within the record, so the first
    // 8 bytes, and for a longer identifier the next 2, may be read whole and masked.
    std::memcpy(&j.id_bytes, p + first, sizeof j.id_bytes);
    if (j.id_length < 8) j.id_bytes &= (1ull << (8 * j.id_length)) - 1;
    j.id_more = 0;
    if (j.id_length > 8) {
        std::memcpy(&j.id_more, p + first + 8, sizeof j.id_more);
        if (j.id_length == 9) j.id_more &= 0xFF;
    }
    return true;
}

bool is_wanted(const judged_line& j, const wanted_digits& wanted) {
    return static_cast<int>(j.id_length) == wanted.length && j.id_bytes == wanted.bytes && j.id_more == wanted.more;
}

// A token the judge found plain, by the scalar scanner the plain-record reader uses.
inline float scanned_value(const char* s, const char* end) {
    textio::plain_number n;
    textio::scan_plain_number(s, end, n);
    return textio::plain_number_value(n);
}

[[gnu::target("avx2,bmi,bmi2,popcnt")]] inline unsigned nth_bit(std::uint64_t mask, unsigned n) {
    return static_cast<unsigned>(__builtin_ctzll(_pdep_u64(1ull << n, mask)));
}

// The value of token n of a judged line, a plain number. A token of at most 8 characters
// is converted without a branch on its characters: its digit bytes are packed together
// (the sign and point left out) and read eight at a time.
[[gnu::target("avx2,bmi,bmi2,popcnt")]] inline float token_value(const char* p, const judged_line& j, unsigned n) {
    const unsigned start = nth_bit(j.starts, n), end = nth_bit(j.ends, n);
    // Eight bytes are read from the token's start: they must lie within the record and
    // its line feed, beyond which the buffer may hold nothing yet.
    if (end - start > 8 || start + 8 > j.length + 1) return scanned_value(p + start, p + end);
    const std::uint64_t span = ((1ull << (end - start)) - 1) << start;
    const std::uint64_t digit_bits = (j.digits & span) >> start;
    const std::uint64_t after_point = ~((j.points & span) - 1) & span;  // all ones when no point
    const int decimals =
        (j.points & span) ? static_cast<int>(_mm_popcnt_u64(j.digits & after_point & ~(j.points & span))) : 0;
    std::uint64_t bytes;
    std::memcpy(&bytes, p + start, sizeof bytes);
    const std::uint64_t packed = _pext_u64(bytes, _pdep_u64(digit_bits, 0x0101010101010101ull) * 0xFF);
    const unsigned count = static_cast<unsigned>(_mm_popcnt_u64(digit_bits));
    std::uint64_t v = packed << (8 * (8 - count));
    v = ((v & 0x0F0F0F0F0F0F0F0Full) * 2561) >> 8;
    v = ((v & 0x00FF00FF00FF00FFull) * 6553601) >> 16;
    v = ((v & 0x0000FFFF0000FFFFull) * 42949672960001ull) >> 32;
    return textio::plain_number_value(v, decimals, p[start] == '-');
}

// Made twice, with and without noting run starts, so that the loop that only passes over
// records does not test for it.
template <bool note_starts>
[[gnu::target("avx2,bmi,bmi2,popcnt")]] skim_result skim_avx2(const char* text, std::size_t size,
                                                              const wanted_digits& wanted,
                                                              std::vector<record_start>* starts) {
    skim_result result;
    std::size_t pos = 0;
    judged_line j;
    // The identifier's digit bytes, zero beyond its length, tell identifiers apart by
    // themselves; no identifier has all zero bytes, so the first record is always a start.
    // A record of the same identifier as the one before is not the wanted station's either.
    std::uint64_t previous_bytes = 0;
    std::uint16_t previous_more = 0;
    while (pos < size && judge_line(text + pos, size - pos, j)) {
        __builtin_prefetch(text + pos + prefetch_distance);
        if (((j.id_bytes ^ previous_bytes) | (j.id_more ^ previous_more)) != 0) {
            if (is_wanted(j, wanted)) break;
            if constexpr (note_starts) starts->push_back({pos, result.records});
            previous_bytes = j.id_bytes;
            previous_more = j.id_more;
        }
        result.last_record_offset = pos;
        pos += j.length + 1;
        ++result.records;
    }
    result.bytes = pos;
    return result;
}

[[gnu::target("avx2,bmi,bmi2,popcnt")]] gather_result gather_avx2(const char* text, std::size_t size,
                                                                  const wanted_digits& wanted,
                                                                  std::vector<float>& dates,
                                                                  std::vector<float>& values) {
    gather_result result;
    std::size_t pos = 0;
    judged_line j;
    while (pos < size && judge_line(text + pos, size - pos, j)) {
        const char* p = text + pos;
        __builtin_prefetch(p + prefetch_distance);
        result.last_record_offset = pos;
        pos += j.length + 1;
        ++result.records;
        if (!is_wanted(j, wanted)) {
            result.ended_by_other_station = true;
            break;
        }
        dates.push_back(token_value(p, j, 2));
        values.push_back(token_value(p, j, 3));
    }
    result.bytes = pos;
    return result;
}

// The identifier of a judged line, plain digits, as the record reader converts it: exact,
// and the most negative int32 beyond the int32 range.
std::int32_t judged_identifier(const char* p, const judged_line& j) {
    const char* digits = p + __builtin_ctzll(j.starts);
    std::uint64_t value = 0;
    for (unsigned k = 0; k < j.id_length; ++k) value = value * 10 + static_cast<unsigned>(digits[k] - '0');
    return value <= INT32_MAX ? static_cast<std::int32_t>(value) : INT32_MIN;
}

[[gnu::target("avx2,bmi,bmi2,popcnt")]] void judge_avx2(const char* text, std::size_t size,
                                                        std::span<const std::int32_t> converted, judged_records& out,
                                                        std::size_t run_limit) {
    std::size_t pos = 0;
    judged_line j;
    std::uint64_t previous_bytes = 0;
    std::uint16_t previous_more = 0;
    bool convert = false;
    while (pos < size && judge_line(text + pos, size - pos, j)) {
        const char* p = text + pos;
        __builtin_prefetch(p + prefetch_distance);
        if (((j.id_bytes ^ previous_bytes) | (j.id_more ^ previous_more)) != 0) {
            const std::int32_t id = judged_identifier(p, j);
            convert = std::binary_search(converted.begin(), converted.end(), id);
            out.runs.push_back({static_cast<std::uint32_t>(out.ends.size()), id, convert,
                                static_cast<std::uint32_t>(out.dates.size()), j.id_bytes, j.id_more});
            previous_bytes = j.id_bytes;
            previous_more = j.id_more;
        }
        pos += j.length + 1;
        out.ends.push_back(static_cast<std::uint32_t>(pos));
        if (convert) {
            out.dates.push_back(token_value(p, j, 2));
            out.values.push_back(token_value(p, j, 3));
        }
        if (out.runs.size() >= run_limit) break;
    }
    out.stopped = pos < size && out.runs.size() < run_limit;
}

bool processor_can_skim() {
    static const bool able = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                             __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return able;
}

}  // namespace
#endif

// Without the instructions every record is left to the record reader.
gather_result gather_wanted_records([[maybe_unused]] std::string_view text,
                                    [[maybe_unused]] const wanted_digits& wanted,
                                    [[maybe_unused]] std::vector<float>& dates,
                                    [[maybe_unused]] std::vector<float>& values) {
#if VARNEX_SKIM_AVX2
    if (wanted.usable && processor_can_skim()) return gather_avx2(text.data(), text.size(), wanted, dates, values);
#endif
    return {};
}

skim_result skim_other_stations([[maybe_unused]] std::string_view text, [[maybe_unused]] const wanted_digits& wanted,
                                [[maybe_unused]] std::vector<record_start>* starts) {
#if VARNEX_SKIM_AVX2
    if (wanted.usable && processor_can_skim()) {
        if (starts) return skim_avx2<true>(text.data(), text.size(), wanted, starts);
        return skim_avx2<false>(text.data(), text.size(), wanted, nullptr);
    }
#endif
    return {};
}

void judge_records([[maybe_unused]] std::string_view text, [[maybe_unused]] std::span<const std::int32_t> converted,
                   judged_records& out, [[maybe_unused]] std::size_t run_limit) {
    // Filled on this thread's own stack: two threads judging into neighbouring objects
    // would write the same cache lines at every record.
    judged_records mine = std::move(out);
    mine.ends.clear();
    mine.runs.clear();
    mine.dates.clear();
    mine.values.clear();
    mine.stopped = !text.empty();
#if VARNEX_SKIM_AVX2
    if (processor_can_skim()) judge_avx2(text.data(), text.size(), converted, mine, run_limit);
#endif
    out = std::move(mine);
}

void append_judged(judged_records& earlier, const judged_records& later) {
    const auto shift = static_cast<std::uint32_t>(judged_start(earlier, judged_count(earlier)));
    const auto records = static_cast<std::uint32_t>(judged_count(earlier));
    const auto values = static_cast<std::uint32_t>(earlier.dates.size());
    for (const std::uint32_t end : later.ends) earlier.ends.push_back(end + shift);
    for (judged_run run : later.runs) {
        // A run cut where the text was split goes on.
        const bool goes_on = run.first == 0 && !earlier.runs.empty() && earlier.runs.back().id_bytes == run.id_bytes &&
                             earlier.runs.back().id_more == run.id_more;
        if (goes_on) {
            // The two parts may have kept the values of different stations: the run keeps
            // its values only when both parts did.
            if (!run.converted) earlier.runs.back().converted = false;
            continue;
        }
        run.first += records;
        run.value_first += values;
        earlier.runs.push_back(run);
    }
    earlier.dates.insert(earlier.dates.end(), later.dates.begin(), later.dates.end());
    earlier.values.insert(earlier.values.end(), later.values.begin(), later.values.end());
    earlier.stopped = later.stopped;
}

namespace {

// The run that holds record `i`.
std::size_t run_of(const judged_records& j, std::size_t i) {
    const auto after = std::upper_bound(j.runs.begin(), j.runs.end(), i,
                                        [](std::size_t record, const judged_run& run) { return record < run.first; });
    return static_cast<std::size_t>(after - j.runs.begin()) - 1;
}

std::size_t run_end(const judged_records& j, std::size_t run) {
    return run + 1 < j.runs.size() ? j.runs[run + 1].first : judged_count(j);
}

// The records from `from` up to `to` (excluded) passed over, as counted from `from`.
skim_result passed_records(const judged_records& j, std::size_t from, std::size_t to) {
    const std::size_t base = judged_start(j, from);
    skim_result result;
    result.bytes = judged_start(j, to) - base;
    result.records = static_cast<long>(to - from);
    result.last_record_offset = to > from ? judged_start(j, to - 1) - base : 0;
    return result;
}

}  // namespace

bool unconverted_run_at(const judged_records& judged, std::size_t from, const wanted_digits& wanted) {
    if (!wanted.usable || from >= judged_count(judged)) return false;
    const judged_run& run = judged.runs[run_of(judged, from)];
    return run.id == wanted.id && !run.converted;
}

skim_result skim_judged_records(const judged_records& judged, std::size_t from, const wanted_digits& wanted,
                                std::vector<record_start>* starts) {
    if (!wanted.usable || from >= judged_count(judged)) return {};
    const std::size_t base = judged_start(judged, from);
    std::size_t at = from;
    for (std::size_t run = run_of(judged, from); run < judged.runs.size(); ++run) {
        if (judged.runs[run].id == wanted.id) break;
        if (starts) starts->push_back({judged_start(judged, at) - base, static_cast<long>(at - from)});
        at = run_end(judged, run);
    }
    return passed_records(judged, from, at);
}

gather_result gather_judged_records(const judged_records& judged, std::size_t from, const wanted_digits& wanted,
                                    std::vector<float>& dates, std::vector<float>& values) {
    if (!wanted.usable || from >= judged_count(judged)) return {};
    const std::size_t run = run_of(judged, from);
    const judged_run& own = judged.runs[run];
    std::size_t to = from;
    if (own.id == wanted.id) {
        if (!own.converted) return {};
        to = run_end(judged, run);
        const std::size_t first = own.value_first + (from - own.first);
        const std::size_t last = own.value_first + (to - own.first);
        dates.insert(dates.end(), judged.dates.begin() + static_cast<std::ptrdiff_t>(first),
                     judged.dates.begin() + static_cast<std::ptrdiff_t>(last));
        values.insert(values.end(), judged.values.begin() + static_cast<std::ptrdiff_t>(first),
                      judged.values.begin() + static_cast<std::ptrdiff_t>(last));
    }
    gather_result result;
    // The record of another station that ends the block is read too.
    result.ended_by_other_station = to < judged_count(judged);
    const skim_result taken = passed_records(judged, from, result.ended_by_other_station ? to + 1 : to);
    result.bytes = taken.bytes;
    result.records = taken.records;
    result.last_record_offset = taken.last_record_offset;
    return result;
}

}  // namespace engine
