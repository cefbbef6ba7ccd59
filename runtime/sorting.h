// Sorting fixed-size records in place: a stable natural merge sort with the
// powersort merge policy, and an unstable quicksort that adapts to presorted
// input. The order is entirely the compare callback's; the sorters only
// compare and move whole records.
//
// The callback may raise (a language error travels as a C++ exception):
// every record is then still present exactly once, in some order, and the
// merge sort's work buffer is released. The callback may run user code and
// so a collection; the merge sort's work buffer keeps cell records visible
// to the collector while they are out of the range.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::sort {

// Above 0 when a must come after b, 0 when they are equal in order, below 0
// when a comes before b.
using Compare = int (*)(const void* a, const void* b, void* context, std::uint32_t flags);

// Stable. Fires script too-long when the work buffer (n / 2 records) is
// larger than 32 bits can count. `cells`: the records are value cells.
void merge_sort(void* base, std::size_t n, std::size_t size, void* context,
                std::uint32_t flags, Compare compare, bool cells = false);

// Unstable, in place, no extra memory; near one pass on presorted input.
void quicksort(void* base, std::size_t n, std::size_t size, void* context,
               std::uint32_t flags, Compare compare);

// Exchanges two records of size bytes, 4 bytes at a time unless bytewise.
void swap_records(void* a, void* b, std::size_t size, bool bytewise);

}  // namespace kiv::sort
