// Growable arrays over series buffers.
#include "runtime/array.h"

#include <cstring>

#include "runtime/memory.h"

namespace kiv::array {

using memory::buffer_of;
using memory::SeriesBuffer;

NodeId make(std::int64_t count, std::uint32_t element_size) {
    NodeId n = memory::alloc_bytes(count * element_size);
    SeriesBuffer* b = buffer_of(n);
    b->flags = (b->flags & ~memory::series_flag::unit_mask) | element_size;
    return n;
}

std::uint32_t length(NodeId array) { return buffer_of(array)->length(); }
void clear(NodeId array) { buffer_of(array)->tail = buffer_of(array)->offset; }

void truncate_at(NodeId array, std::uint32_t position) {
    SeriesBuffer* b = buffer_of(array);
    b->tail = b->offset + (position - 1) * b->unit();
}

NodeId copy(NodeId array) { return memory::copy_series(buffer_of(array)); }
std::uint32_t get_flags(NodeId array) { return buffer_of(array)->flags; }

std::uint8_t* append_byte(NodeId array, std::uint8_t byte) {
    std::uint8_t* at = memory::alloc_tail_bytes(buffer_of(array), 1);
    *at = byte;
    return at;
}

std::uint8_t* append_bytes(NodeId array, const void* source, std::uint32_t count) {
    std::uint8_t* at = memory::alloc_tail_bytes(buffer_of(array), count);
    std::memcpy(at, source, count);
    return at;
}

std::uint8_t* append_int(NodeId array, std::uint32_t value) {
    std::uint8_t* at = memory::alloc_tail_bytes(buffer_of(array), 4);
    std::memcpy(at, &value, 4);
    return at;
}

std::uint32_t pick_int(NodeId array, std::uint32_t position) {
    std::uint32_t v;
    std::memcpy(&v, buffer_of(array)->head() + (position - 1) * 4, 4);
    return v;
}

void poke(NodeId array, std::uint32_t position, std::uint32_t value) {
    std::memcpy(buffer_of(array)->head() + (position - 1) * 4, &value, 4);
}

std::int32_t find_int(NodeId array, std::uint32_t value) {
    SeriesBuffer* b = buffer_of(array);
    for (std::uint32_t at = 0; at + 4 <= b->used_bytes(); at += 4) {
        std::uint32_t v;
        std::memcpy(&v, b->head() + at, 4);
        if (v == value) return static_cast<std::int32_t>(at);
    }
    return -1;
}

void remove_at(NodeId array, std::uint32_t byte_offset, std::uint32_t count) {
    SeriesBuffer* b = buffer_of(array);
    std::uint8_t* at = b->head() + byte_offset;
    std::memmove(at, at + count, b->used_bytes() - byte_offset - count);
    b->tail -= count;
}

std::int32_t remove_int(NodeId array, std::uint32_t value) {
    std::int32_t at = find_int(array, value);
    if (at >= 0) remove_at(array, static_cast<std::uint32_t>(at), 4);
    return at;
}

}  // namespace kiv::array
