#include "runtime/tracked-alloc.h"

#include <cstdlib>
#include <cstring>

#include "runtime/error-exit.h"
#include "runtime/state.h"

namespace kiv::memory {

namespace {

TrackedBlock* block_of(void* pointer) {
    return reinterpret_cast<TrackedBlock*>(static_cast<char*>(pointer) - tracked_header_size);
}

void* memory_of(TrackedBlock* block) {
    return reinterpret_cast<char*>(block) + tracked_header_size;
}

// Header plus size, or 0 when that does not fit in a size_t.
std::size_t gross_size(std::size_t size) {
    return size > SIZE_MAX - tracked_header_size ? 0 : size + tracked_header_size;
}

[[noreturn]] void out_of_memory(const void* where) {
    runtime::error_exit(runtime::fatal::out_of_memory, where);
}

void append(TrackedBlock* block) {
    TrackedList& list = state.tracked;
    block->previous = list.last;
    block->next = nullptr;
    if (list.last)
        list.last->next = block;
    else
        list.first = block;
    list.last = block;
}

void unlink(TrackedBlock* block) {
    TrackedList& list = state.tracked;
    if (block->previous)
        block->previous->next = block->next;
    else
        list.first = block->next;
    if (block->next)
        block->next->previous = block->previous;
    else
        list.last = block->previous;
}

bool is_tracked(TrackedBlock* block) {
    for (TrackedBlock* b = state.tracked.first; b; b = b->next)
        if (b == block) return true;
    return false;
}

[[gnu::always_inline]] inline void* allocate_from(std::size_t size, const void* caller) {
    std::size_t gross = gross_size(size);
    auto* block = gross ? static_cast<TrackedBlock*>(std::malloc(gross)) : nullptr;
    if (!block) out_of_memory(caller);
    block->size = size;
    block->reserved = 0;
    append(block);
    return memory_of(block);
}

}  // namespace

// The report of a failed allocation names the caller of these routines.
[[gnu::noinline]] void* allocate(std::size_t size) {
    return allocate_from(size, __builtin_return_address(0));
}

[[gnu::noinline]] void* allocate_zeroed(std::size_t size) {
    void* memory = allocate_from(size, __builtin_return_address(0));
    std::memset(memory, 0, size);
    return memory;
}

[[gnu::noinline]] void* resize(void* pointer, std::size_t size) {
    if (!pointer) return allocate_from(size, __builtin_return_address(0));
    if (size == 0) {
        free(pointer);
        return nullptr;
    }
    TrackedBlock* block = block_of(pointer);
    TrackedBlock* previous = block->previous;
    TrackedBlock* next = block->next;
    std::size_t gross = gross_size(size);
    auto* moved = gross ? static_cast<TrackedBlock*>(std::realloc(block, gross)) : nullptr;
    if (!moved) out_of_memory(__builtin_return_address(0));
    moved->size = size;
    if (next)
        next->previous = moved;
    else
        state.tracked.last = moved;
    if (previous)
        previous->next = moved;
    else
        state.tracked.first = moved;
    return memory_of(moved);
}

void free(void* pointer) {
    if (!pointer) return;
    TrackedBlock* block = block_of(pointer);
    // The walk keeps a stray pointer from being handed to the C library.
    if (!is_tracked(block)) return;
    unlink(block);
    std::free(block);
}

void free_all() {
    TrackedBlock* block = state.tracked.first;
    while (block) {
        TrackedBlock* next = block->next;
        std::free(block);
        block = next;
    }
    state.tracked = {nullptr, nullptr};
}

std::size_t tracked_bytes() {
    std::size_t total = 0;
    for (TrackedBlock* b = state.tracked.first; b; b = b->next) total += b->size + tracked_header_size;
    return total;
}

}  // namespace kiv::memory
