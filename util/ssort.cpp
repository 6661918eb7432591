#include "util/ssort.hpp"

#include <cstdlib>
#include <utility>

#include "textio/format.hpp"
#include "textio/terminal.hpp"
#include "util/parallel.hpp"

namespace util {
namespace {

// The larger part of every split is stacked, so the stack holds at most log2(n) segments;
// 64 covers any 32-bit count.
constexpr int stack_entries = 64;

void say(const char* message) {
    const textio::out_item item = textio::item_text(message);
    textio::write_free_form(textio::terminal_output(), {&item, 1});
}

void flip_signs(float* keys, long n) {
    parallel_loop(n, worth_parallel(n, sign_flip_cost), [keys](long i) { keys[i] = -keys[i]; });
}

// One interchange of key and companion positions a and b (1-based views).
struct sort_view {
    float* x;  // x[1..n]
    float* y;  // y[1..n], or nullptr when the companion is not carried

    void swap(long a, long b) const {
        std::swap(x[a], x[b]);
        if (y) std::swap(y[a], y[b]);
    }
};

// Moves the key at `from` into the pivot slot `ij` and the pivot into `from`,
// keeping t (and ty) equal to the new pivot key.
void exchange_with_pivot(const sort_view& v, long from, long ij, float& t, float& ty) {
    v.x[ij] = v.x[from];
    v.x[from] = t;
    t = v.x[ij];
    if (v.y) {
        v.y[ij] = v.y[from];
        v.y[from] = ty;
        ty = v.y[ij];
    }
}

// Singleton's quicksort: pivot at a moving fraction r of the segment, explicit stack,
// straight insertion for what is left of a segment.
void sort_increasing(const sort_view& v, long n) {
    long il[stack_entries + 1], iu[stack_entries + 1];
    long m = 1, i = 1, j = n, k = 0, l = 0, ij = 0;
    float r = 0.375f, t = 0.0f, ty = 0.0f;

top:
    if (i == j) goto pop;
    if (r <= 0.5898437f)
        r += 0.0390625f;
    else
        r -= 0.21875f;
split:
    k = i;
    ij = i + static_cast<long>(static_cast<float>(j - i) * r);
    t = v.x[ij];
    ty = v.y ? v.y[ij] : 0.0f;
    if (v.x[i] > t) exchange_with_pivot(v, i, ij, t, ty);
    l = j;
    if (v.x[j] < t) {
        exchange_with_pivot(v, j, ij, t, ty);
        if (v.x[i] > t) exchange_with_pivot(v, i, ij, t, ty);
    }
    for (;;) {
        // After the exchanges above x[i] <= t <= x[j] (or t is not comparable), so the
        // scans stop inside [i, j]; the bounds only guard against what cannot happen.
        do --l;
        while (l > i && v.x[l] > t);
        do ++k;
        while (k < j && v.x[k] < t);
        if (k > l) break;
        v.swap(l, k);
    }
    if (m > stack_entries) std::abort();
    if (l - i > j - k) {
        il[m] = i;
        iu[m] = l;
        i = k;
    } else {
        il[m] = k;
        iu[m] = j;
        j = l;
    }
    ++m;
    goto next;
pop:
    if (--m == 0) return;
    i = il[m];
    j = iu[m];
next:
    if (j - i >= 1) goto split;
    if (i == 1) goto top;
    // Straight insertion; with the splits above it only ever meets one-key segments.
    --i;
    for (;;) {
        ++i;
        if (i == j) goto pop;
        t = v.x[i + 1];
        ty = v.y ? v.y[i + 1] : 0.0f;
        if (v.x[i] <= t) continue;
        k = i;
        do {
            v.x[k + 1] = v.x[k];
            if (v.y) v.y[k + 1] = v.y[k];
            --k;
        } while (k >= 1 && t < v.x[k]);
        v.x[k + 1] = t;
        if (v.y) v.y[k + 1] = ty;
    }
}

}  // namespace

void ssort(float* keys, float* companion, std::int32_t n, std::int32_t k) {
    if (n < 1) {
        say("the number of values to be sorted is not positive.");
        return;
    }
    if (k != 1 && k != 2 && k != -1 && k != -2) {
        say("the sort control parameter, k, is not 2, 1, -1, or -2.");
        return;
    }
    if (k < 0) flip_signs(keys, n);
    sort_increasing({keys - 1, (k == 2 || k == -2) ? companion - 1 : nullptr}, n);
    if (k < 0) flip_signs(keys, n);
}

}  // namespace util
