// Output hooks: see output-hooks.h.
#include "runtime/output-hooks.h"

#include <cstdio>

#include "runtime/console-output.h"
#include "runtime/memory.h"
#include "runtime/tracked-alloc.h"
#include "runtime/typed-print.h"
#include "view/backends/terminal/gui-print.h"

namespace kiv::console_output {

namespace {

constexpr int hook_growth = 5;

template <typename Hook>
struct HookList {
    Hook* hooks = nullptr;
    int count = 0;
    int capacity = 0;

    void make() {
        hooks = static_cast<Hook*>(memory::allocate(hook_growth * sizeof(Hook)));
        capacity = hook_growth;
    }
    void add(Hook hook) {
        if (count == capacity) {
            auto* grown = static_cast<Hook*>(memory::allocate((capacity + hook_growth) * sizeof(Hook)));
            for (int i = 0; i < count; ++i) grown[i] = hooks[i];
            memory::free(hooks);
            hooks = grown;
            capacity += hook_growth;
        }
        hooks[count++] = hook;
    }
};

HookList<PrintHook> print_hooks;
HookList<LineHook> line_hooks;
bool ready = false;

// A live text-mode view steps aside for the print and comes back after it,
// also when the print fires.
struct ViewAside {
    ViewAside() { gui::before_print(); }
    ~ViewAside() {
        std::fflush(nullptr);
        gui::after_print();
    }
};

}  // namespace

void init_hooks() {
    if (ready) return;
    print_hooks.make();
    line_hooks.make();
    print_hooks.add(print_encoded);
    ready = true;
}

void add_hooks(PrintHook print_hook, LineHook line_hook) {
    if (print_hook) print_hooks.add(print_hook);
    if (line_hook) line_hooks.add(line_hook);
}

void call_print_hooks(const Cell* value, bool newline) {
    for (int i = 0; i < print_hooks.count; ++i) print_hooks.hooks[i](value, newline);
}

void call_line_hooks(const char* text, std::size_t count, int extra) {
    for (int i = 0; i < line_hooks.count; ++i) line_hooks.hooks[i](text, count, extra);
}

void print_units(const void* start, std::size_t bytes, int unit, bool newline) {
    ViewAside aside;
    if (unit == 1 || unit == 2 || unit == 4) {
        write(start, bytes, unit, newline);
    } else {
        print_line({TypedItem::of_text("Error: unknown string encoding: "), TypedItem::of_integer(unit)});
    }
}

void print_encoded(const Cell* value, bool newline) {
    // A string cell: head index in word 1, the buffer's node in word 2.
    memory::SeriesBuffer* b = memory::buffer_of(value->data2);
    int unit = static_cast<int>(b->unit());
    std::uint8_t* start = b->head() + static_cast<std::size_t>(value->data1) * static_cast<std::size_t>(unit);
    std::uint8_t* tail = b->tail_ptr();
    print_units(start, start < tail ? static_cast<std::size_t>(tail - start) : 0, unit, newline);
}

}  // namespace kiv::console_output
