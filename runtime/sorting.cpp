// Sorting: see sorting.h.
//
// Exception safety: between two callback calls the range always holds every
// record once, except inside a merge, where the records of the shorter run
// wait in the work buffer and the range has a gap of exactly their number.
// The merge's guard copies the waiting records into the gap on every exit,
// normal or not, so a raising callback leaves a permutation of the input.
#include "runtime/sorting.h"

#include <algorithm>
#include <cstring>

#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/tracked-alloc.h"

namespace kiv::sort {

namespace {

// Runs shorter than this are extended by insertion before merging.
constexpr std::size_t min_run = 24;
// Ranges of at most this many records are finished by insertion.
constexpr std::size_t small_range = 7;
// Without a presorted hint, ranges this long take the pivot from their
// first records only.
constexpr std::size_t long_range = 512;
constexpr std::size_t pivot_span = 63;
// The presortedness scan samples every this many adjacent pairs.
constexpr std::size_t sample_step = 97;
// Run repair moves an out-of-order record back at most this far.
constexpr std::size_t repair_window = 16;

struct Range {
    std::uint8_t* base;
    std::size_t size;
    bool bytewise;
    void* context;
    std::uint32_t flags;
    Compare compare;

    std::uint8_t* at(std::size_t i) const { return base + i * size; }
    int cmp(std::size_t i, std::size_t j) const { return compare(at(i), at(j), context, flags); }
    int cmp(const void* a, const void* b) const { return compare(a, b, context, flags); }
    void swap(std::size_t i, std::size_t j) const { swap_records(at(i), at(j), size, bytewise); }
    void copy(void* dst, const void* src, std::size_t count) const {
        std::memcpy(dst, src, count * size);
    }
    void reverse(std::size_t first, std::size_t end) const {
        while (first + 1 < end) swap(first++, --end);
    }
    // Moves record k left by adjacent swaps while its left neighbour
    // compares greater, stopping at `first`.
    void insert_left(std::size_t first, std::size_t k) const {
        for (; k > first && cmp(k - 1, k) > 0; --k) swap(k - 1, k);
    }
    void insertion_sort(std::size_t first, std::size_t end) const {
        for (std::size_t k = first + 1; k < end; ++k) insert_left(first, k);
    }
};

// ---------------------------------------------------------------- merge sort

// The merge sort's work buffer. Cell records wait in a cell series, which
// the collector scans while a pointer into it sits on this stack, so a
// collection run by the callback keeps what they refer to; other records
// wait in plain tracked memory, released on every way out.
class WorkBuffer {
public:
    WorkBuffer(std::size_t bytes, bool cells) {
        if (cells) {
            memory::SeriesBuffer* b = memory::buffer_of(
                memory::alloc_unset_cells(static_cast<std::int64_t>(bytes / sizeof(Cell))));
            b->set_tail(b->head() + bytes);
            series_ = b;
            data_ = b->head();
        } else {
            data_ = static_cast<std::uint8_t*>(memory::allocate(bytes ? bytes : 1));
        }
    }
    ~WorkBuffer() {
        if (series_) {
            series_->tail = series_->offset;  // the collector reclaims it
        } else {
            memory::free(data_);
        }
    }
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;
    std::uint8_t* data() const { return data_; }

private:
    memory::SeriesBuffer* series_ = nullptr;
    std::uint8_t* data_;
};

// Copies the records still waiting in the buffer into the range's gap when
// the merge ends, however it ends.
struct GapGuard {
    const Range& r;
    const std::uint8_t*& waiting;  // first waiting record in the buffer
    std::size_t& count;            // how many wait
    std::uint8_t*& gap;            // first record of the gap
    ~GapGuard() { r.copy(gap, waiting, count); }
};

// Left run shorter (or equal): merge from the front; a buffered left record
// goes first unless it is strictly greater.
void merge_front(const Range& r, std::size_t l, std::size_t m, std::size_t e, std::uint8_t* buf) {
    std::size_t count = m - l;
    r.copy(buf, r.at(l), count);
    const std::uint8_t* waiting = buf;
    std::uint8_t* gap = r.at(l);
    std::size_t j = m;
    GapGuard guard{r, waiting, count, gap};
    while (count > 0 && j < e) {
        if (r.cmp(waiting, r.at(j)) > 0) {
            r.copy(gap, r.at(j++), 1);
        } else {
            r.copy(gap, waiting, 1);
            waiting += r.size;
            --count;
        }
        gap += r.size;
    }
}

// Right run shorter: merge from the back; a left record goes last only when
// it is strictly greater than the buffered right record.
void merge_back(const Range& r, std::size_t l, std::size_t m, std::size_t e, std::uint8_t* buf) {
    std::size_t count = e - m;
    r.copy(buf, r.at(m), count);
    const std::uint8_t* waiting = buf;
    std::uint8_t* gap = r.at(m);  // the gap is [gap, gap + count): left records shift right into it
    std::size_t i = m;            // left records are [l, i)
    std::size_t out = e;          // next record written goes to out - 1
    GapGuard guard{r, waiting, count, gap};
    while (count > 0 && i > l) {
        const std::uint8_t* last_waiting = waiting + (count - 1) * r.size;
        if (r.cmp(r.at(i - 1), last_waiting) > 0) {
            r.copy(r.at(--out), r.at(--i), 1);
        } else {
            r.copy(r.at(--out), last_waiting, 1);
            --count;
        }
        gap = r.at(out - count);
    }
}

void merge(const Range& r, std::size_t l, std::size_t m, std::size_t e, std::uint8_t* buf) {
    if (e - m < m - l) {
        merge_back(r, l, m, e, buf);
    } else {
        merge_front(r, l, m, e, buf);
    }
}

// The natural run at start, made ascending, then extended by insertion to
// min_run records (or the end). Only strictly descending runs are reversed,
// so equal records keep their order.
std::size_t find_run(const Range& r, std::size_t start, std::size_t end) {
    std::size_t i = start + 1;
    if (i < end) {
        if (r.cmp(start, i) <= 0) {
            while (i + 1 < end && r.cmp(i, i + 1) <= 0) ++i;
        } else {
            while (i + 1 < end && r.cmp(i, i + 1) > 0) ++i;
            r.reverse(start, i + 1);
        }
        ++i;
    }
    std::size_t target = end - start < min_run ? end : start + min_run;
    for (; i < target; ++i) r.insert_left(start, i);
    return i;
}

// The first bit at which the midpoints of [s1, e1) and [e1, e2), as
// fractions of n, differ.
int boundary_power(std::size_t s1, std::size_t e1, std::size_t e2, std::size_t n) {
    std::uint64_t a = s1 + e1;
    std::uint64_t b = e1 + e2;
    int power = 0;
    for (;;) {
        bool a_high = a >= n;
        if (a_high != (b >= n)) break;
        ++power;
        if (a_high) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return power + 1;
}

// ---------------------------------------------------------------- quicksort

std::size_t median_of_three(const Range& r, std::size_t a, std::size_t b, std::size_t c) {
    if (r.cmp(a, b) > 0) std::swap(a, b);  // now a <= b
    if (r.cmp(b, c) <= 0) return b;
    return r.cmp(a, c) > 0 ? a : c;
}

void sift_down(const Range& r, std::size_t root, std::size_t n) {
    for (std::size_t child; (child = 2 * root + 1) < n; root = child) {
        if (child + 1 < n && r.cmp(child, child + 1) < 0) ++child;
        if (r.cmp(root, child) >= 0) return;
        r.swap(root, child);
    }
}

// The fallback when partitioning keeps going badly: O(n log n) whatever
// the callback's order.
void heapsort(const Range& r, std::size_t n) {
    for (std::size_t i = n / 2; i-- > 0;) sift_down(r, i, n);
    for (std::size_t end = n; end-- > 1;) {
        r.swap(0, end);
        sift_down(r, 0, end);
    }
}

// Three-way partition of the range of r around the record at p. Equal
// records gather next to the pivot and drop out; answers the sizes of the
// smaller-than and greater-than parts (at the range's start and end).
void partition(const Range& r, std::size_t n, std::size_t p, std::size_t* less,
               std::size_t* greater) {
    r.swap(0, p);
    std::size_t a = 1, b = 1, c = n - 1, d = n - 1;
    for (;;) {
        int o;
        while (b <= c && (o = r.cmp(b, 0)) <= 0) {
            if (o == 0) r.swap(a++, b);
            ++b;
        }
        while (b <= c && (o = r.cmp(c, 0)) >= 0) {
            if (o == 0) r.swap(c, d--);
            --c;
        }
        if (b > c) break;
        r.swap(b++, c--);
    }
    std::size_t s = std::min(a, b - a);
    for (std::size_t i = 0; i < s; ++i) r.swap(i, b - s + i);
    s = std::min(d - c, n - 1 - d);
    for (std::size_t i = 0; i < s; ++i) r.swap(b + i, n - s + i);
    *less = b - a;
    *greater = d - c;
}

int bit_length(std::size_t n) {
    int bits = 0;
    for (; n; n >>= 1) ++bits;
    return bits;
}

// Sorts n records at r.base; the first `sorted` of them are known to be in
// order, which makes the middle one a good first pivot.
void quicksort_range(Range r, std::size_t sorted, std::size_t n, int depth) {
    while (n > small_range) {
        if (depth-- == 0) {
            heapsort(r, n);
            return;
        }
        std::size_t p;
        if (sorted > 2) {
            p = sorted / 2;
        } else {
            std::size_t span = n >= long_range ? pivot_span : n;
            p = median_of_three(r, 0, span / 2, span - 1);
        }
        sorted = 0;
        std::size_t less, greater;
        partition(r, n, p, &less, &greater);
        Range high = r;
        high.base = r.at(n - greater);
        if (less < greater) {
            quicksort_range(r, 0, less, depth);
            r = high;
            n = greater;
        } else {
            quicksort_range(high, 0, greater, depth);
            n = less;
        }
    }
    r.insertion_sort(0, n);
}

// Length of the run at the start in its direction (+1 ascending, -1
// descending, equal pairs skipped); *dir receives the direction.
std::size_t initial_run(const Range& r, std::size_t n, int* dir) {
    *dir = 0;
    std::size_t i = 1;
    for (; i < n; ++i) {
        int c = r.cmp(i - 1, i);
        if (c == 0) continue;
        int d = c < 0 ? 1 : -1;
        if (*dir == 0) {
            *dir = d;
        } else if (d != *dir) {
            break;
        }
    }
    return i;
}

// Grows the ascending run at the base over mostly ordered data, moving each
// record that is only slightly out of place back into it; stops at the
// first record that belongs further back.
std::size_t repair_run(const Range& r, std::size_t n) {
    std::size_t run = 1;
    while (run < n) {
        if (r.cmp(run - 1, run) > 0) {
            if (run > repair_window && r.cmp(run - repair_window, run) > 0) break;
            r.insert_left(0, run);
        }
        ++run;
    }
    return run;
}

}  // namespace

void swap_records(void* a, void* b, std::size_t size, bool bytewise) {
    auto* pa = static_cast<std::uint8_t*>(a);
    auto* pb = static_cast<std::uint8_t*>(b);
    if (bytewise) {
        for (std::size_t i = 0; i < size; ++i) std::swap(pa[i], pb[i]);
        return;
    }
    for (std::size_t i = 0; i < size; i += 4) {
        std::uint32_t x, y;
        std::memcpy(&x, pa + i, 4);
        std::memcpy(&y, pb + i, 4);
        std::memcpy(pa + i, &y, 4);
        std::memcpy(pb + i, &x, 4);
    }
}

void merge_sort(void* base, std::size_t n, std::size_t size, void* context,
                std::uint32_t flags, Compare compare, bool cells) {
    if (n < 2) return;
    if ((n / 2) * size > 0xFFFFFFFFu) fire(ErrorId::script_too_long);
    Range r{static_cast<std::uint8_t*>(base), size, size % 4 != 0, context, flags, compare};
    WorkBuffer buffer((n / 2) * size, cells);
    struct Entry { std::size_t start; int power; };
    Entry stack[66];
    int top = 0;
    std::size_t s1 = 0;
    std::size_t e1 = find_run(r, 0, n);
    while (e1 < n) {
        std::size_t e2 = find_run(r, e1, n);
        int power = boundary_power(s1, e1, e2, n);
        while (top > 0 && stack[top - 1].power > power) {
            merge(r, stack[top - 1].start, s1, e1, buffer.data());
            s1 = stack[--top].start;
        }
        stack[top++] = Entry{s1, power};
        s1 = e1;
        e1 = e2;
    }
    while (top > 0) {
        merge(r, stack[top - 1].start, s1, n, buffer.data());
        s1 = stack[--top].start;
    }
}

void quicksort(void* base, std::size_t n, std::size_t size, void* context, std::uint32_t flags,
               Compare compare) {
    if (n < 2) return;
    Range r{static_cast<std::uint8_t*>(base), size, size % 4 != 0, context, flags, compare};
    int dir;
    std::size_t run = initial_run(r, n, &dir);
    if (run < n) {
        long score = dir * static_cast<long>(run);
        for (std::size_t j = run + sample_step; j < n; j += sample_step) {
            int c = r.cmp(j - 1, j);
            score += c < 0 ? 1 : c > 0 ? -1 : 0;
        }
        if (static_cast<std::size_t>(score < 0 ? -score : score) > n / 512) {
            // mostly ordered: make it mostly ascending, then mend the run
            if (score < 0) r.reverse(0, n);
            run = repair_run(r, n);
            dir = 1;
        }
    }
    if (dir < 0) r.reverse(0, run);
    if (run == n) return;
    quicksort_range(r, run, n, 2 * bit_length(n));
}

}  // namespace kiv::sort
