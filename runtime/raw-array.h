// A growable array of plain values in tracked memory, for the memory
// manager's and the collector's own bookkeeping (free ranges, sorted frame
// lists, the mark work list, the pending-free queue). It never holds
// language values across an allocation and never allocates from the cage, so
// a collection may use it while the heap is being rearranged. Running out of
// memory ends the process (runtime error 94).
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "runtime/tracked-alloc.h"

namespace kiv::raw {

// Ends the process as an exhausted tracked allocation does.
[[noreturn, gnu::cold, gnu::noinline]] void out_of_memory();

template <class T>
struct RawArray {
    static_assert(std::is_trivially_copyable_v<T>);
    T* items = nullptr;
    std::uint32_t count = 0;
    std::uint32_t room = 0;

    T& operator[](std::uint32_t i) { return items[i]; }
    const T& operator[](std::uint32_t i) const { return items[i]; }
    T* begin() { return items; }
    T* end() { return items + count; }
    bool empty() const { return count == 0; }
    void clear() { count = 0; }

    void reserve(std::uint32_t n) {
        if (n <= room) return;
        items = static_cast<T*>(memory::resize(items, sizeof(T) * n));
        room = n;
    }
    void push(const T& v) {
        if (count == room) reserve(room ? room * 2 : 64);
        items[count++] = v;
    }
    T pop() { return items[--count]; }
    void insert_at(std::uint32_t i, const T& v) {
        if (count == room) reserve(room ? room * 2 : 64);
        std::memmove(items + i + 1, items + i, sizeof(T) * (count - i));
        items[i] = v;
        ++count;
    }
    void erase_at(std::uint32_t i) {
        std::memmove(items + i, items + i + 1, sizeof(T) * (count - i - 1));
        --count;
    }
    // Gives memory back when the array holds far fewer entries than its room.
    void shrink_if_sparse(std::uint32_t floor) {
        if (room > floor && count < room / 3) {
            std::uint32_t n = count > floor ? count : floor;
            items = static_cast<T*>(memory::resize(items, sizeof(T) * n));
            room = n;
        }
    }
};

}  // namespace kiv::raw
