// The cage's reservation and its two page allocators: first-fit ranges in the
// low half, fixed-size node-frame slots in the high half.
#include "runtime/cage.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#if defined(KIV_SANITIZE)
#include <sanitizer/asan_interface.h>
#endif

#include "runtime/error-exit.h"
#include "runtime/raw-array.h"

namespace kiv::raw {

void out_of_memory() {
    runtime::error_exit(runtime::fatal::out_of_memory, __builtin_return_address(0));
}

}  // namespace kiv::raw

namespace kiv::cage {

#if defined(KIV_SANITIZE)
std::uint8_t* base = nullptr;
#endif
std::uint8_t node_slot_used[node_slot_count];

namespace {

struct Range {
    std::uint64_t start;  // cage offset
    std::uint64_t length;
};

// Free ranges of the low half, sorted by address, never adjacent.
raw::RawArray<Range> free_low;
std::uint32_t node_slot_first_free = 0;

bool commit(std::uint8_t* p, std::uint64_t length) {
    return mprotect(p, length, PROT_READ | PROT_WRITE) == 0;
}

// LINUX: mapping fresh PROT_NONE pages over the range drops its contents and
// its memory, while the reservation stays ours.
void decommit(void* p, std::uint64_t length) {
    void* r = mmap(p, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED,
                   -1, 0);
    if (r == MAP_FAILED) raw::out_of_memory();
}

}  // namespace

void init() {
    static bool reserved = false;
    if (reserved) return;
#if defined(KIV_SANITIZE)
    void* p = mmap(nullptr, reserved_bytes, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) raw::out_of_memory();
    base = static_cast<std::uint8_t*>(p);
#else
    void* p = mmap(origin(), reserved_bytes, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (p != origin()) raw::out_of_memory();
#endif
    reserved = true;
    free_low.push(Range{low_start, high_start - low_start});
}

std::uint8_t* take_low(std::uint64_t length) {
    length = round_to_pages(length);
    for (std::uint32_t i = 0; i < free_low.count; ++i) {
        Range& r = free_low[i];
        if (r.length < length) continue;
        std::uint8_t* p = origin() + r.start;
        if (!commit(p, length)) return nullptr;
        unpoison(p, length);
        r.start += length;
        r.length -= length;
        if (r.length == 0) free_low.erase_at(i);
        return p;
    }
    return nullptr;
}

void release_low(void* start, std::uint64_t length) {
    length = round_to_pages(length);
    decommit(start, length);
    std::uint64_t s = offset_of(start);
    std::uint32_t i = 0;
    while (i < free_low.count && free_low[i].start < s) ++i;
    bool joins_prev = i > 0 && free_low[i - 1].start + free_low[i - 1].length == s;
    bool joins_next = i < free_low.count && s + length == free_low[i].start;
    if (joins_prev && joins_next) {
        free_low[i - 1].length += length + free_low[i].length;
        free_low.erase_at(i);
    } else if (joins_prev) {
        free_low[i - 1].length += length;
    } else if (joins_next) {
        free_low[i].start = s;
        free_low[i].length += length;
    } else {
        free_low.insert_at(i, Range{s, length});
    }
}

std::uint8_t* take_node_slot() {
    for (std::uint32_t i = node_slot_first_free; i < node_slot_count; ++i) {
        if (node_slot_used[i]) continue;
        std::uint8_t* p = origin() + node_slot_offset(i);
        if (!commit(p, node_slot_bytes)) return nullptr;
        node_slot_used[i] = 1;
        node_slot_first_free = i + 1;
        return p;
    }
    return nullptr;
}

void release_node_slot(void* start) {
    std::uint32_t i = node_slot_index(offset_of(start));
    decommit(start, node_slot_bytes);
    node_slot_used[i] = 0;
    if (i < node_slot_first_free) node_slot_first_free = i;
}

#if !defined(NDEBUG) || defined(KIV_SANITIZE)
void poison([[maybe_unused]] void* first, [[maybe_unused]] std::uint64_t length) {
#ifndef NDEBUG
    unpoison(first, length);
    std::memset(first, 0xDD, length);
#endif
#if defined(KIV_SANITIZE)
    ASAN_POISON_MEMORY_REGION(first, length);
#endif
}

void unpoison([[maybe_unused]] void* first, [[maybe_unused]] std::uint64_t length) {
#if defined(KIV_SANITIZE)
    ASAN_UNPOISON_MEMORY_REGION(first, length);
#endif
}

#endif

}  // namespace kiv::cage
