// The registry's tables. Free slots are chained in ascending order; in-use
// slots form a list with the newest first.
#include "runtime/externals.h"

#include <cstdlib>

#include "runtime/raw-array.h"

namespace kiv::externals {

namespace {

struct Kind {
    const char* name;
    Release release;
};

struct Slot {
    std::uint32_t kind_word;
    std::uint64_t object;
    std::int32_t next;
};

Kind kinds[max_kinds];
int kind_count = 0;
raw::RawArray<Slot> slots;
std::int32_t free_head = -1;
std::int32_t used_head = -1;

// Appends `n` free slots chained in ascending order, ending the chain with
// `tail_next`.
void add_free_slots(std::uint32_t n, std::int32_t tail_next) {
    std::uint32_t first = slots.count;
    slots.reserve(first + n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::int32_t next = i + 1 < n ? static_cast<std::int32_t>(first + i + 1) : tail_next;
        slots.push(Slot{free_word, 0, next});
    }
}

}  // namespace

void init() {
    kind_count = 0;
    slots.clear();
    add_free_slots(initial_slots, -1);
    free_head = 0;
    used_head = -1;
}

int register_kind(const char* name, Release release) {
    if (kind_count == max_kinds) raw::out_of_memory();
    kinds[kind_count++] = Kind{name, release};
    return kind_count;
}

const char* kind_name(int kind) {
    return kind >= 1 && kind <= kind_count ? kinds[kind - 1].name : nullptr;
}

std::int32_t register_object(std::uint64_t object, int kind) {
    if (slots.count == 0) init();
    std::int32_t index = free_head;
    // Taking the last free slot doubles the table first.
    if (slots[index].next == -1) {
        std::uint32_t old = slots.count;
        add_free_slots(old, -1);
        slots[index].next = static_cast<std::int32_t>(old);
    }
    free_head = slots[index].next;
    slots[index] = Slot{static_cast<std::uint32_t>(kind), object, used_head};
    used_head = index;
    return index;
}

void release_object(std::uint32_t kind_word, std::uint64_t object) {
    int kind = static_cast<int>(kind_word & kind_mask);
    if (kind >= 1 && kind <= kind_count && kinds[kind - 1].release) kinds[kind - 1].release(object);
}

std::int32_t unregister(std::int32_t index, bool release) {
    Slot& s = slots[index];
    if (release) release_object(s.kind_word, s.object);
    if (used_head == index) {
        used_head = s.next;
    } else {
        for (std::int32_t i = used_head; i != -1; i = slots[i].next) {
            if (slots[i].next == index) {
                slots[i].next = s.next;
                break;
            }
        }
    }
    s = Slot{free_word, 0, free_head};
    free_head = index;
    return -1;
}

bool mark(std::int32_t index, std::uint64_t object) {
    if (index < 0 || static_cast<std::uint32_t>(index) >= slots.count) return false;
    Slot& s = slots[index];
    if (s.kind_word & free_word) return false;
    if (object) s.object = object;
    if (s.kind_word & mark_bit) return false;
    s.kind_word |= mark_bit;
    return true;
}

void sweep() {
    std::int32_t kept = -1;
    for (std::int32_t i = used_head; i != -1;) {
        Slot& s = slots[i];
        std::int32_t next = s.next;
        if (s.kind_word & mark_bit) {
            s.kind_word &= ~mark_bit;
            kept = i;
        } else {
            release_object(s.kind_word, s.object);
            if (kept == -1) used_head = next;
            else slots[kept].next = next;
            s = Slot{free_word, 0, free_head};
            free_head = i;
        }
        i = next;
    }
}

std::uint64_t object_at(std::int32_t index) { return slots[index].object; }
int kind_at(std::int32_t index) { return static_cast<int>(slots[index].kind_word & kind_mask); }
std::uint32_t slot_count() { return slots.count; }

}  // namespace kiv::externals
