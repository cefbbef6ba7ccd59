// The external handle registry: objects that live outside the heap (images
// of the imaging backend, operating-system handles) get a slot whose index a
// value can hold. The collector marks the slots live values reach and, after
// marking, releases every other object through its kind's callback.
//
// Slot indexes stay valid while the table grows: it doubles when its last
// free slot is taken. Objects are opaque 64-bit words here.
#pragma once

#include <cstdint>

namespace kiv::externals {

using Release = void (*)(std::uint64_t object);

constexpr int max_kinds = 20;
constexpr std::uint32_t initial_slots = 1000;
constexpr std::uint32_t mark_bit = 0x80000000;
constexpr std::uint32_t free_word = 0x40000000;
constexpr std::uint32_t kind_mask = 0xFF;

// Sets up the tables; a second call starts them afresh.
void init();
// Kinds are numbered from 1 in registration order.
int register_kind(const char* name, Release release);
const char* kind_name(int kind);
// Answers the object's slot index.
std::int32_t register_object(std::uint64_t object, int kind);
// Frees the slot, releasing the object first when `release` is set; answers -1.
std::int32_t unregister(std::int32_t index, bool release);
void release_object(std::uint32_t kind_word, std::uint64_t object);
// Marks a slot; a non-zero object replaces the slot's object. True when the
// slot was unmarked.
bool mark(std::int32_t index, std::uint64_t object);
// Releases and frees every unmarked in-use slot; clears the other marks.
void sweep();

std::uint64_t object_at(std::int32_t index);
int kind_at(std::int32_t index);
std::uint32_t slot_count();

}  // namespace kiv::externals
