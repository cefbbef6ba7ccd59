#include "runtime/test-hooks.h"

#if KIV_TEST_HOOKS

#include <sys/mman.h>
#include <unistd.h>

#include <cfenv>
#include <cfloat>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/word.h"
#include "runtime/error-exit.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/state.h"
#include "runtime/throw.h"
#include "runtime/tracked-alloc.h"

namespace kiv::runtime::test_hooks {

namespace {

// The machine faults are provoked in assembly where the compiler or a
// sanitizer would otherwise see (and report) the undefined behaviour first.

void access_violation() {
    // An address in the never-mapped first page, but not null.
    volatile int* p = reinterpret_cast<volatile int*>(16);
#if defined(__x86_64__)
    asm volatile("movl $1, (%0)" : : "r"(p) : "memory");
#else
    *p = 1;
#endif
}

void misaligned_access() {
#if defined(__x86_64__)
    alignas(8) static char bytes[16];
    // With the alignment-check flag set, a misaligned load faults.
    asm volatile(
        "pushfq\n\t"
        "orq $0x40000, (%%rsp)\n\t"
        "popfq\n\t"
        "movl (%0), %%eax"
        :
        : "r"(bytes + 1)
        : "eax", "memory", "cc");
#endif
}

void beyond_mapped_file() {
    // A shared mapping of an empty file: the page has no backing.
    int fd = memfd_create("kiv-test", 0);
    auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    if (page == MAP_FAILED) return;
    (void)page[0];
}

void breakpoint() {
#if defined(__x86_64__)
    asm volatile("int3");
#endif
}

void single_step() {
#if defined(__x86_64__)
    asm volatile(
        "pushfq\n\t"
        "orq $0x100, (%%rsp)\n\t"
        "popfq\n\t"
        "nop" ::
            : "memory", "cc");
#endif
}

void integer_divide_by_zero() {
#if defined(__x86_64__)
    int divisor = 0;
    asm volatile("movl $1, %%eax\n\tcltd\n\tidivl %0" : : "r"(divisor) : "eax", "edx", "cc");
#endif
}

volatile double zero = 0.0;
volatile double one = 1.0;
volatile double three = 3.0;
volatile double result = 0.0;

void float_trap(int exception) {
    feenableexcept(exception);
    switch (exception) {
        case FE_DIVBYZERO: result = one / zero; break;
        case FE_INEXACT: result = one / three; break;
        case FE_INVALID: result = zero / zero; break;
        case FE_OVERFLOW: result = DBL_MAX * (one + one); break;
        case FE_UNDERFLOW: result = DBL_MIN / three; break;
    }
}

void illegal_instruction() {
#if defined(__x86_64__)
    asm volatile("ud2");
#endif
}

volatile int recursion_stop = -1;

// Each level keeps a buffer live across the call, so the calls cannot
// collapse into a loop.
[[gnu::noinline]] int recurse(int depth) {
    volatile char pad[512];
    pad[depth % 512] = static_cast<char>(depth);
    if (depth == recursion_stop) return 0;
    return recurse(depth + 1) + pad[depth % 512];
}

void out_of_memory() { memory::allocate(std::size_t{1} << 62); }

// The language side: frames named by words, as natives would open them.
Cell named(const char* name) {
    Cell w;
    return *word::load(name, &w);
}

void throw_without_catch() {
    const Cell name = named("throw");
    stack::push_native_frame(&name);
    const Cell value = integer::make_cell(42);
    (void)stack::throw_value(throw_code::throw_, &value, nullptr);
}

// A catch frame that never takes the throw it receives.
Status unclaimed_throw() {
    const Cell name = named("catch");
    stack::push_catch_frame(&name);
    const Cell thrower = named("throw");
    stack::push_native_frame(&thrower);
    const Cell value = integer::make_cell(42);
    return stack::throw_value(throw_code::throw_, &value, nullptr);
}

// The quit code passes a loop region and a catch region, which each take
// only their own codes.
Status quit_through_regions() {
    const Cell loop = named("loop");
    stack::push_loop_frame(&loop);
    const Cell catcher = named("catch");
    stack::push_catch_frame(&catcher);
    state.thrown_code = throw_code::quit;
    if (stack::take(throw_code::throw_)) return Status::ok;
    if (stack::take(throw_code::break_) || stack::take(throw_code::continue_)) return Status::ok;
    return Status::thrown;
}

// Each level opens a function frame; with a large pad the native stack runs
// short before the call stack is full.
template <std::size_t Pad>
[[gnu::noinline]] int deep(int depth) {
    volatile char pad[Pad];
    pad[depth % Pad] = static_cast<char>(depth);
    if (depth == recursion_stop) return 0;
    const Cell name = named("deep");
    stack::push_function_frame(&name, 0);
    return deep<Pad>(depth + 1) + pad[depth % Pad];
}

struct Hook {
    const char* name;
    void (*provoke)();
    Status (*leave_pending)() = nullptr;
};

const Hook hooks[] = {
    {"access", access_violation},
    {"misalign", misaligned_access},
    {"bus", beyond_mapped_file},
    {"breakpoint", breakpoint},
    {"single-step", single_step},
    {"integer-divide", integer_divide_by_zero},
    {"float-divide", [] { float_trap(FE_DIVBYZERO); }},
    {"float-inexact", [] { float_trap(FE_INEXACT); }},
    {"float-invalid", [] { float_trap(FE_INVALID); }},
    {"float-overflow", [] { float_trap(FE_OVERFLOW); }},
    {"float-underflow", [] { float_trap(FE_UNDERFLOW); }},
    {"illegal", illegal_instruction},
    {"stack-fault", [] { std::raise(SIGSTKFLT); }},
    {"abort", [] { std::abort(); }},
    {"stack-overflow", [] { recurse(0); }},
    // Far deeper than a default 8 MB stack allows; ends normally.
    {"deep-recursion", [] { recursion_stop = 100000; recurse(0); }},
    {"out-of-memory", out_of_memory},
    {"bad-alloc", [] { throw std::bad_alloc(); }},
    {"uncaught-throw", [] { throw NativeThrow{throw_code::throw_}; }},
    {"language-error", [] {
         const Cell foo = named("foo");
         fire(ErrorId::script_no_value, &foo);
     }},
    {"throw-without-catch", throw_without_catch},
    {"unclaimed-throw", nullptr, unclaimed_throw},
    {"quit-through-regions", nullptr, quit_through_regions},
    {"deep-frames", [] { deep<64>(0); }},
    {"deep-native", [] { deep<65536>(0); }},
    {"foreign-exception", [] { throw 42; }},
    {"quit-throw", [] { throw NativeThrow{throw_code::quit}; }},
    {"interrupt", [] { std::raise(SIGINT); }},
};

const char* restore_text = nullptr;

void write_restore_text() {
    if (restore_text) (void)!write(STDOUT_FILENO, restore_text, std::strlen(restore_text));
}

}  // namespace

const char* boot_image_file() {
    const char* path = std::getenv("KIV_TEST_BOOT_IMAGE");
    return path && *path ? path : nullptr;
}

Status run_fault_hook() {
    restore_text = std::getenv("KIV_TEST_RESTORE_TEXT");
    if (restore_text) state.restore_terminal = write_restore_text;
    const char* fault = std::getenv("KIV_TEST_FAULT");
    if (!fault) return Status::ok;
    // exit:N goes straight to the fatal exit with code N.
    if (std::strncmp(fault, "exit:", 5) == 0) error_exit(std::atoi(fault + 5), get_fault_address());
    for (const Hook& hook : hooks) {
        if (std::strcmp(fault, hook.name) != 0) continue;
        if (hook.leave_pending) return hook.leave_pending();
        hook.provoke();
    }
    return Status::ok;
}

}  // namespace kiv::runtime::test_hooks

#endif
