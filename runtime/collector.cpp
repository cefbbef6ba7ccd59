// The collector. FIXME: only the bookkeeping exists so far; cycles do nothing.
#include "runtime/collector.h"

#include <pthread.h>

#include "runtime/memory.h"

namespace kiv::collector {

namespace {
bool is_active = false;
bool in_cycle = false;
bool node_compaction_on = true;
std::uint32_t cycles = 0;
std::uint32_t node_compactions = 0;
void* scan_base = nullptr;
Hook hooks[max_hooks];
int hook_count = 0;
}  // namespace

void init() {
    cycles = 0;
    node_compactions = 0;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* addr;
        size_t size;
        if (pthread_attr_getstack(&attr, &addr, &size) == 0)
            scan_base = static_cast<char*>(addr) + size;
        pthread_attr_destroy(&attr);
    }
}

void set_stack_base(void* base) { scan_base = base; }
void* stack_base() { return scan_base; }
void set_active(bool on) { is_active = on; }
bool active() { return is_active; }
void run_if_enabled() {
    if (is_active) do_cycle();
}
void do_cycle() {
    if (in_cycle) return;
    in_cycle = true;
    ++cycles;
    in_cycle = false;
}
bool collecting() { return in_cycle; }
void set_node_compaction(bool on) { node_compaction_on = on; }
bool node_compaction() { return node_compaction_on; }
std::uint32_t cycle_count() { return cycles; }
std::uint32_t node_compaction_count() { return node_compactions; }
void register_hook(Hook hook) {
    if (hook_count < max_hooks) hooks[hook_count++] = hook;
}
void register_root(NodeId*) {}
void register_root_cell(Cell*) {}
void register_after_mark_hook(Hook) {}
void set_hashtable_marker(SlotMarker) {}
void set_image_marker(void (*)(NodeId)) {}
bool mark_node(NodeId*) { return false; }
bool mark_block(NodeId*) { return false; }
bool mark_series_value(Cell*) { return false; }
void mark_context(NodeId*) {}
void mark_values(Cell*, Cell*) {}
void mark_cell(Cell*) {}
void clear_mark(NodeId) {}
bool is_marked(NodeId) { return true; }
NodeId relocated(NodeId node) { return node; }
void relocate_range(std::uint32_t*, std::uint32_t*) {}
void queue_node_free(NodeId) {}
void flush_node_frees() {}
bool verify_heap(std::string*) { return true; }
void set_verify(bool) {}

}  // namespace kiv::collector
