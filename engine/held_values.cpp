#include "engine/held_values.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "textio/limits.hpp"
#include "textio/plain_number.hpp"

namespace engine {
namespace {

constexpr unsigned most_decimals = 8;
constexpr std::int64_t date_limit = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t value_limit = std::numeric_limits<std::int16_t>::max();

float held_float(std::int64_t n, unsigned decimals) {
    return static_cast<float>(static_cast<double>(n) * textio::nearest_inverse_powers_of_ten[0][decimals]);
}

bool same_bits(float a, float b) {
    std::uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// N for `f` with `decimals`, within [-limit, limit], when it gives `f` back. The product of
// a float and a power of ten up to 10^8 is exact in a double; it is rounded to the nearest
// integer by one conversion (whichever integer it gives is checked).
bool held_integer(float f, unsigned decimals, std::int64_t limit, std::int64_t& n) {
    const double scaled = static_cast<double>(f) * textio::exact_powers_of_ten[decimals];
    if (!(std::fabs(scaled) <= static_cast<double>(limit))) return false;
#if defined(__x86_64__)
    n = _mm_cvtsd_si64(_mm_set_sd(scaled));
#else
    n = std::llrint(scaled);
#endif
    return same_bits(held_float(n, decimals), f);
}

// The decimals for `f`: `preferred` when they give it back, else the fewest that do.
bool choose_decimals(float f, std::uint8_t preferred, std::int64_t limit, std::uint8_t& decimals, std::int64_t& n) {
    if (held_integer(f, preferred, limit, n)) {
        decimals = preferred;
        return true;
    }
    for (unsigned d = 0; d <= most_decimals; ++d) {
        if (held_integer(f, d, limit, n)) {
            decimals = static_cast<std::uint8_t>(d);
            return true;
        }
    }
    return false;
}

// Room for `bytes` (even) in the pages, within the budget; null when there is none.
std::uint8_t* take_room(held_values& held, std::size_t bytes) {
    if (held.page_size - held.page_used < bytes) {
        const std::size_t page = std::max(textio::held_page_bytes, bytes);
        if (held.taken + page > held.budget) return nullptr;
        held.pages.emplace_back(new std::uint8_t[page]);
        held.taken += page;
        held.page_size = page;
        held.page_used = 0;
    }
    std::uint8_t* at = held.pages.back().get() + held.page_used;
    held.page_used += bytes;
    return at;
}

void put_step(std::uint8_t* steps, std::size_t k, std::uint32_t step) {
    if (k % 2 == 0)
        steps[k / 2] = static_cast<std::uint8_t>(step);
    else
        steps[k / 2] = static_cast<std::uint8_t>(steps[k / 2] | step << 4);
}

std::int64_t step_at(const std::uint8_t* steps, std::size_t k) { return (steps[k / 2] >> (k % 2 * 4)) & 15; }

// A held run of one record, the one at `ordinal`, its value written at `value_at`; false
// when it fits in no way.
bool begin_run(held_run& r, std::int64_t ordinal, float date, float value, const held_run* before,
               std::int16_t* value_at) {
    std::int64_t date_n = 0, value_n = 0;
    if (!choose_decimals(date, before ? before->date_decimals : 0, date_limit, r.date_decimals, date_n) ||
        !choose_decimals(value, before ? before->value_decimals : 0, value_limit, r.value_decimals, value_n))
        return false;
    r.ordinal = ordinal;
    r.count = 1;
    r.first_date = static_cast<std::int32_t>(date_n);
    r.values = value_at;
    *value_at = static_cast<std::int16_t>(value_n);
    return true;
}

#if defined(__x86_64__)
// The same as held_integer for four floats at once, each within `limit`: their N, and
// whether all four give their floats back.
[[gnu::target("avx2")]] bool four_held(const float* f, double scale, double inverse, double limit, __m128i& n) {
    const __m128 floats = _mm_loadu_ps(f);
    const __m256d scaled = _mm256_mul_pd(_mm256_cvtps_pd(floats), _mm256_set1_pd(scale));
    const __m256d magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), scaled);
    const int within = _mm256_movemask_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(limit), _CMP_LE_OQ));
    n = _mm256_cvtpd_epi32(scaled);
    const __m128 back = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtepi32_pd(n), _mm256_set1_pd(inverse)));
    const int same =
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(back), _mm_castps_si128(floats))));
    return (within & same) == 15;
}

// Eight records from `k` (even) added to the held run `r`, whose base step is set, when all
// eight fit it as they are; false, with nothing written, when some do not. The dates' N are
// kept within 2^29 here, so that no step overflows.
[[gnu::target("avx2")]] bool hold_eight(const float* dates, const float* values, std::size_t k, const held_run& r,
                                        std::int64_t& date_n, std::int16_t* value_room, std::uint8_t* steps) {
    constexpr double date_limit_here = 1 << 29;
    const unsigned dd = r.date_decimals, dv = r.value_decimals;
    const double date_scale = textio::exact_powers_of_ten[dd],
                 date_inverse = textio::nearest_inverse_powers_of_ten[0][dd];
    const double value_scale = textio::exact_powers_of_ten[dv];
    const double value_inverse = textio::nearest_inverse_powers_of_ten[0][dv];
    __m128i d0, d1, v0, v1;
    if (!four_held(dates + k, date_scale, date_inverse, date_limit_here, d0) ||
        !four_held(dates + k + 4, date_scale, date_inverse, date_limit_here, d1) ||
        !four_held(values + k, value_scale, value_inverse, static_cast<double>(value_limit), v0) ||
        !four_held(values + k + 4, value_scale, value_inverse, static_cast<double>(value_limit), v1))
        return false;
    const __m128i base = _mm_set1_epi32(r.date_step);
    const __m128i s0 = _mm_sub_epi32(
        _mm_sub_epi32(d0, _mm_alignr_epi8(d0, _mm_set1_epi32(static_cast<std::int32_t>(date_n)), 12)), base);
    const __m128i s1 = _mm_sub_epi32(_mm_sub_epi32(d1, _mm_alignr_epi8(d1, d0, 12)), base);
    const __m128i outside =
        _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(s0, _mm_setzero_si128()), _mm_cmpgt_epi32(s0, _mm_set1_epi32(15))),
                     _mm_or_si128(_mm_cmplt_epi32(s1, _mm_setzero_si128()), _mm_cmpgt_epi32(s1, _mm_set1_epi32(15))));
    if (!_mm_testz_si128(outside, outside)) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(value_room + k), _mm_packs_epi32(v0, v1));
    alignas(16) std::int32_t s[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(s), s0);
    _mm_store_si128(reinterpret_cast<__m128i*>(s + 4), s1);
    for (int j = 0; j < 4; ++j)
        steps[k / 2 + static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(s[2 * j] | s[2 * j + 1] << 4);
    date_n = _mm_extract_epi32(d1, 3);
    return true;
}

// Eight records of the held run `r` from its record `k`, whose step lies at an even place
// of `steps`, given back as held_float does: the dates from the N before them, `date_n`,
// which is left at the last one's. The dates' N all fit in 32 bits (they were held so), so
// the sums of the steps are exact in them.
[[gnu::target("avx2")]] void give_eight(const held_run& r, std::size_t k, std::int64_t& date_n, float* date_out,
                                        float* value_out) {
    std::uint32_t packed;
    std::memcpy(&packed, r.steps + (r.first_step + k) / 2, sizeof packed);
    const __m256i shifts = _mm256_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28);
    __m256i n = _mm256_and_si256(_mm256_srlv_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(packed)), shifts),
                                 _mm256_set1_epi32(15));
    n = _mm256_add_epi32(n, _mm256_set1_epi32(r.date_step));
    // Running sums: within each half, then the low half's total added to the high half.
    n = _mm256_add_epi32(n, _mm256_slli_si256(n, 4));
    n = _mm256_add_epi32(n, _mm256_slli_si256(n, 8));
    const __m256i low_total = _mm256_permute2x128_si256(_mm256_shuffle_epi32(n, 0xff), n, 0x08);
    n = _mm256_add_epi32(_mm256_add_epi32(n, low_total), _mm256_set1_epi32(static_cast<std::int32_t>(date_n)));
    const __m256d date_inverse = _mm256_set1_pd(textio::nearest_inverse_powers_of_ten[0][r.date_decimals]);
    _mm_storeu_ps(date_out,
                  _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(n)), date_inverse)));
    _mm_storeu_ps(date_out + 4,
                  _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(n, 1)), date_inverse)));
    date_n = _mm256_extract_epi32(n, 7);
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r.values + k));
    const __m256d value_inverse = _mm256_set1_pd(textio::nearest_inverse_powers_of_ten[0][r.value_decimals]);
    _mm_storeu_ps(value_out, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm_cvtepi16_epi32(v)), value_inverse)));
    _mm_storeu_ps(value_out + 4, _mm256_cvtpd_ps(_mm256_mul_pd(
                                     _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(_mm_srli_si128(v, 8))), value_inverse)));
}

bool eight_at_once() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

void add_run(held_values& held, const held_run& r) {
    held.runs.push_back(r);
    held.firsts.push_back(r.ordinal);
    held.taken += sizeof(held_run) + sizeof(std::int64_t);
}

}  // namespace

namespace {

// `total` less what each of `stations` takes elsewhere, or nothing.
std::size_t less_stations(std::size_t total, std::size_t stations) {
    const std::size_t elsewhere = stations * textio::station_bytes_elsewhere;
    return elsewhere < total ? total - elsewhere : 0;
}

}  // namespace

std::size_t held_values_budget(std::size_t stations, bool copied) {
    return copied ? 0 : less_stations(textio::held_values_bytes, stations);
}

std::size_t copy_memory_budget(std::size_t stations) { return less_stations(textio::copy_memory_bytes, stations); }

bool hold_run(held_values& held, std::int64_t ordinal, const float* dates, const float* values, std::int64_t count) {
    if (count <= 0 || count > std::numeric_limits<std::int32_t>::max()) return count <= 0;
    const auto records = static_cast<std::size_t>(count);
    std::uint8_t* room = take_room(held, 2 * records + (records + 1) / 2 + (records + 1) / 2 % 2);
    if (!room) return false;
    // The run's values, then its dates' steps.
    auto* const value_room = reinterpret_cast<std::int16_t*>(room);
    std::uint8_t* const steps = room + 2 * records;
    // A run broken into many held runs would take more than its floats: it is held no further.
    const std::size_t most_runs = records / 8 + 1;
    std::size_t runs = 1;
    held_run r;
    r.steps = steps;
    if (!begin_run(r, ordinal, dates[0], values[0], nullptr, value_room)) return false;
    put_step(steps, 0, 0);
    bool stepped = false;  // whether the base step is set
    std::int64_t date_n = r.first_date;
#if defined(__x86_64__)
    const bool by_eight = eight_at_once();
#endif
    for (std::size_t k = 1; k < records; ++k) {
#if defined(__x86_64__)
        while (by_eight && stepped && k % 2 == 0 && k + 8 <= records && std::abs(r.date_step) < (1 << 29) &&
               std::abs(date_n) < (1 << 29) && hold_eight(dates, values, k, r, date_n, value_room, steps)) {
            k += 8;
            r.count += 8;
        }
        if (k >= records) break;
#endif
        std::int64_t next_date = 0, value_n = 0;
        bool fits = held_integer(dates[k], r.date_decimals, date_limit, next_date) &&
                    held_integer(values[k], r.value_decimals, value_limit, value_n);
        if (fits && !stepped) {
            const std::int64_t base = next_date - date_n - 8;
            fits = base >= std::numeric_limits<std::int32_t>::min() && base <= std::numeric_limits<std::int32_t>::max();
            r.date_step = static_cast<std::int32_t>(base);
        }
        const std::int64_t step = next_date - date_n - r.date_step;
        if (fits && step >= 0 && step <= 15) {
            value_room[k] = static_cast<std::int16_t>(value_n);
            put_step(steps, k, static_cast<std::uint32_t>(step));
            stepped = true;
            date_n = next_date;
            ++r.count;
            continue;
        }
        add_run(held, r);
        if (++runs > most_runs) return false;
        held_run next;
        next.steps = steps;
        next.first_step = static_cast<std::uint32_t>(k);
        if (!begin_run(next, ordinal + static_cast<std::int64_t>(k), dates[k], values[k], &r, value_room + k))
            return false;
        put_step(steps, k, 0);
        r = next;
        stepped = false;
        date_n = r.first_date;
    }
    add_run(held, r);
    return true;
}

bool has_room(const held_values& held) {
    return held.page_used + 2 < held.page_size || held.taken + textio::held_page_bytes <= held.budget;
}

bool take_held_values(const held_values& held, std::int64_t ordinal, std::int64_t count, std::vector<float>& dates,
                      std::vector<float>& values) {
    const auto after = std::upper_bound(held.firsts.begin(), held.firsts.end(), ordinal);
    if (after == held.firsts.begin()) return false;
    auto run = held.runs.begin() + (after - held.firsts.begin() - 1);
    if (!runs_hold(run, held.runs.end(), ordinal, count)) return false;
    const std::int64_t end = ordinal + count;
    for (std::int64_t at = ordinal; at < end; ++run) {
        const std::int64_t from = at - run->ordinal;
        const std::int64_t to = std::min(end, run->ordinal + run->count) - run->ordinal;
        const std::size_t base = run->first_step;
        std::int64_t date_n = run->first_date;
        for (std::int64_t k = 1; k <= from; ++k)
            date_n += run->date_step + step_at(run->steps, base + static_cast<std::size_t>(k));
        const std::size_t before = dates.size();
        const auto n = static_cast<std::size_t>(to - from);
        dates.resize(before + n);
        values.resize(before + n);
        float* const date_out = dates.data() + before;
        float* const value_out = values.data() + before;
        const std::int16_t* const value_in = run->values + from;
        date_out[0] = held_float(date_n, run->date_decimals);
        value_out[0] = held_float(value_in[0], run->value_decimals);
        std::size_t k = 1;
#if defined(__x86_64__)
        // Eight at a time from an even place of the steps, whose four bytes hold their steps.
        if (eight_at_once()) {
            if ((base + static_cast<std::size_t>(from) + k) % 2 != 0 && k < n) {
                date_n += run->date_step + step_at(run->steps, base + static_cast<std::size_t>(from) + k);
                date_out[k] = held_float(date_n, run->date_decimals);
                value_out[k] = held_float(value_in[k], run->value_decimals);
                ++k;
            }
            for (; k + 8 <= n; k += 8)
                give_eight(*run, static_cast<std::size_t>(from) + k, date_n, date_out + k, value_out + k);
        }
#endif
        for (; k < n; ++k) {
            date_n += run->date_step + step_at(run->steps, base + static_cast<std::size_t>(from) + k);
            date_out[k] = held_float(date_n, run->date_decimals);
            value_out[k] = held_float(value_in[k], run->value_decimals);
        }
        at += to - from;
    }
    return true;
}

}  // namespace engine
