// The heap cage: one 4 GiB virtual reservation that holds every node frame,
// series frame, big frame and fixed series. Anything the runtime stores as a
// 32-bit "address" (a node id, a node slot's buffer, a buffer's offset, tail
// and node back-pointer) is an offset into the cage; turning it into a C++
// pointer is one addition, of a constant in the normal build.
//
// Layout: offset 0 is never handed out (0 means "none"). Series frames, big
// frames and fixed series are carved from the low half; node frames sit in the
// high half at fixed-size slots, so a node id is never a small number and the
// frame of a node is found by a division.
//
// Pages are committed when a region is taken and given back to the system
// when it is released; a released range reads as inaccessible memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::cage {

using Offset = std::uint32_t;

constexpr std::uint64_t reserved_bytes = std::uint64_t{1} << 32;
constexpr std::uint32_t page_size = 4096;
// First byte handed out in the low half; below it nothing is ever mapped.
constexpr Offset low_start = 0x00010000;
// Node frames live in [high_start, 4 GiB).
constexpr Offset high_start = 0x80000000;
// Every node frame's block occupies exactly one slot of this many bytes.
constexpr std::uint32_t node_slot_bytes = 40960;
constexpr std::uint32_t node_slot_count =
    static_cast<std::uint32_t>((reserved_bytes - high_start) / node_slot_bytes);

#if defined(KIV_SANITIZE)
// The reservation's first byte, wherever the system put it; null before
// `init`. The sanitizer keeps its shadow memory where a fixed cage would go.
extern std::uint8_t* base;
inline std::uint8_t* origin() { return base; }
constexpr bool fixed_origin = false;
#else
// PERF: the reservation sits at a fixed address below 2 GiB, so turning an
// offset into a pointer is a displacement in the instruction that uses it
// rather than a load of the base (after every call and store through a
// byte pointer) and an addition. fib 20: 37.08M instructions before, 35.18M
// after; a while loop of 1,000,000 steps: 353.7M -> 329.1M.
// It lies above the 0x58000000 where valgrind loads its tools. The address
// is taken with MAP_FIXED_NOREPLACE; start-up fails with out-of-memory if
// anything already occupies it.
// GC: the compiler may now keep base + id (a node's slot address) in place
// of a node id across a call; the stack scan takes such a pointer as the id.
constexpr std::uintptr_t fixed_base = 0x60000000;
inline std::uint8_t* origin() { return reinterpret_cast<std::uint8_t*>(fixed_base); }
constexpr bool fixed_origin = true;
#endif

// Makes the reservation once; later calls do nothing.
void init();

inline std::uint8_t* ptr(Offset off) { return origin() + off; }
template <class T>
inline T* at(Offset off) {
    return reinterpret_cast<T*>(origin() + off);
}
inline Offset offset_of(const void* p) {
    return static_cast<Offset>(static_cast<const std::uint8_t*>(p) - origin());
}
inline bool contains(const void* p) {
    auto* b = static_cast<const std::uint8_t*>(p);
    return b >= origin() && b < origin() + reserved_bytes;
}

// Takes a committed, zero-filled range of at least `length` bytes (rounded up
// to whole pages) from the low half; null when the half has no room.
std::uint8_t* take_low(std::uint64_t length);
// Gives back a range taken by `take_low` with the same length.
void release_low(void* start, std::uint64_t length);

// Commits the lowest free node-frame slot and answers its first byte; null
// when every slot is taken.
std::uint8_t* take_node_slot();
void release_node_slot(void* start);
inline std::uint32_t node_slot_index(Offset off) { return (off - high_start) / node_slot_bytes; }
inline Offset node_slot_offset(std::uint32_t index) { return high_start + index * node_slot_bytes; }
// One byte per node-frame slot: 1 while committed.
extern std::uint8_t node_slot_used[node_slot_count];
// Whether node-frame slot `index` is currently committed.
inline bool node_slot_live(std::uint32_t index) {
    return index < node_slot_count && node_slot_used[index];
}

// Free space inside frames is marked unreadable in sanitizer builds and
// filled with 0xDD in debug builds, so that a stale pointer into reclaimed
// or moved-from bytes shows itself; `unpoison` makes a range usable again.
#if defined(NDEBUG) && !defined(KIV_SANITIZE)
inline void poison(void*, std::uint64_t) {}
inline void unpoison(void*, std::uint64_t) {}
#else
void poison(void* first, std::uint64_t length);
void unpoison(void* first, std::uint64_t length);
#endif

constexpr std::uint64_t round_to_pages(std::uint64_t n) {
    return (n + page_size - 1) & ~std::uint64_t{page_size - 1};
}

}  // namespace kiv::cage
