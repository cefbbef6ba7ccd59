// Tracked raw allocation: the runtime's own tables and buffers outside the
// collector's frames come from malloc through these routines. Each block has
// a header that links it into one list (the head lives in the runtime record,
// runtime/state.h), so that the process's exit can release every block at once.
//
// Invariants: the list holds exactly the live tracked blocks, in allocation
// order; a resized block keeps its place. A failed allocation never returns:
// it ends the process with runtime error 94. Nothing here touches language
// values or can run the collector.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::memory {

// Sits in front of the caller's memory. Its size keeps the caller's pointer
// aligned as malloc aligns.
struct TrackedBlock {
    TrackedBlock* previous;
    TrackedBlock* next;
    std::size_t size;  // the size last asked for, in bytes
    std::size_t reserved;
};
static_assert(sizeof(TrackedBlock) % alignof(std::max_align_t) == 0);

constexpr std::size_t tracked_header_size = sizeof(TrackedBlock);

struct TrackedList {
    TrackedBlock* first;
    TrackedBlock* last;
};

// Contents undefined. Never null.
void* allocate(std::size_t size);
void* allocate_zeroed(std::size_t size);
// Null pointer: allocates. Size 0: frees and answers null. Otherwise keeps the
// block's place in the list.
void* resize(void* pointer, std::size_t size);
// A pointer that is not a live tracked block (or null) is ignored.
void free(void* pointer);
// Releases every block, first to last; the list is empty afterwards.
void free_all();

// The bytes held by tracked blocks, headers included.
std::size_t tracked_bytes();

// The smallest multiple of `alignment` (a power of two) not below `value`.
constexpr std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

}  // namespace kiv::memory
