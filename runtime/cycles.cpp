// The cycle guard's stack.
#include "runtime/cycles.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/fire.h"

namespace kiv::cycles {

namespace {
NodeId entries[capacity];
std::uint32_t top = 0;
}  // namespace

void push(NodeId node) {
    entries[top++] = node;
    if (top == capacity) {
        top = 0;
        fire(ErrorId::internal_too_deep);
    }
}

void pop() {
    if (top) --top;
}

void pop_n(std::uint32_t n) { top = n > top ? 0 : top - n; }
void reset() { top = 0; }
std::uint32_t depth() { return top; }
void cut_to(std::uint32_t depth) {
    if (top > depth) top = depth;
}

bool find(NodeId node) {
    for (std::uint32_t i = 0; i < top; ++i)
        if (entries[i] == node) return true;
    return false;
}

void relocate() { collector::relocate_range(entries, entries + top); }

NodeId node_of(const Cell* value) {
    // object!, error! and port! share the object cell: the context comes first.
    const bool object_cell = value->is(Type::object) || value->is(Type::error) || value->is(Type::port);
    return object_cell ? value->data1 : value->data2;
}

const char* detect(const Cell* value, bool mold, std::int32_t* remaining) {
    if (!find(node_of(value))) return nullptr;
    const char* marker = "...";
    if (mold) {
        switch (value->type()) {
        case Type::block:
        case Type::hash: marker = "[...]"; break;
        case Type::paren: marker = "(...)"; break;
        case Type::map: marker = "#[...]"; break;
        case Type::object: marker = "make object! [...]"; break;
        default: break;
        }
    }
    if (remaining) *remaining -= static_cast<std::int32_t>(std::strlen(marker));
    return marker;
}

}  // namespace kiv::cycles
