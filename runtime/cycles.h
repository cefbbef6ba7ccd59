// The cycle guard: the series and contexts that a recursive walk over values
// (mold, form, ownership binding) is inside, so that a value containing
// itself is met once and then replaced by a short marker.
//
// Entries are node ids: a series' node, or an object's context node. The
// stack is not a root (the walkers hold their values), but node compaction
// re-points its entries.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::cycles {

constexpr std::uint32_t capacity = 1000;

// Pushes a node; at the capacity the stack is emptied and internal
// `too-deep` fires (emptied first, so the error can be formed).
void push(NodeId node);
void pop();
void pop_n(std::uint32_t n);
void reset();
bool find(NodeId node);
std::uint32_t depth();
// Drops the entries above `depth` (nothing when the stack is lower).
void cut_to(std::uint32_t depth);
// Re-points entries whose nodes node compaction moved (the collector's use).
void relocate();

// When the value is already being walked, answers its marker (mold or form
// spelling) and lowers `*remaining` by the marker's length; else null.
// The caller appends the marker to its output.
const char* detect(const Cell* value, bool mold, std::int32_t* remaining);

// The node a walk pushes for a value: an object's context, else its series.
NodeId node_of(const Cell* value);

// Restores the depth found on entry when a walk is left, by error included.
class Guard {
public:
    Guard() : depth_(depth()) {}
    ~Guard() { cut_to(depth_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    std::uint32_t depth_;
};

}  // namespace kiv::cycles
