#include "runtime/error-exit.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>

#include "runtime/state.h"
#include "runtime/tracked-alloc.h"
#include "runtime/typed-print.h"

// Bounds of the executable's own image, from the linker.
extern "C" char __executable_start[];
extern "C" char etext[];

namespace kiv::runtime {

namespace {

volatile std::sig_atomic_t in_fault = 0;

struct MessageRow {
    int code;
    const char* message;
};

constexpr MessageRow message_rows[] = {
#define KIV_FATAL_ROW(code, ident, message) {code, message},
    KIV_FATAL_CODES(KIV_FATAL_ROW)
#undef KIV_FATAL_ROW
};

void restore_terminal() {
    if (state.restore_terminal) state.restore_terminal();
}

void print_report(int code, const void* address) {
    const TypedItem items[] = {
        TypedItem::of_byte('\n'),
        TypedItem::of_text("*** Runtime Error "),
        TypedItem::of_integer(code),
        TypedItem::of_text(": "),
        TypedItem::of_text(fatal_message(code)),
        TypedItem::of_byte('\n'),
        TypedItem::of_text("*** at: "),
        TypedItem::of_hex(report_address(address)),
        TypedItem::of_text("h"),
        TypedItem::of_byte('\n'),
    };
    console_output::print_typed_list(items, static_cast<int>(std::size(items)));
}

// The faulting instruction, from the context the kernel saved.
const void* instruction_of(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return reinterpret_cast<const void*>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return nullptr;
#endif
}

void on_fault(int signal, siginfo_t* info, void* context) {
#if defined(__x86_64__)
    // The alignment-check flag may still be set from the faulting code; the
    // C library's string routines read unaligned words.
    asm volatile("pushfq\n\tandq $~0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
#endif
    in_fault = 1;
    error_exit(fault_code(signal, info->si_code, info->si_addr), instruction_of(context));
}

// LINUX: the console's Ctrl-C exit becomes the signal's own default action,
// once the terminal is back in the state the process found it in.
void on_interrupt(int signal) {
    restore_terminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

constexpr int fault_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSTKFLT, SIGABRT, SIGSYS};
constexpr int interrupt_signals[] = {SIGINT, SIGTERM, SIGHUP};

int float_fault_code(int signal_code) {
    switch (signal_code) {
        case FPE_INTDIV: return fatal::integer_divide_by_zero;
        case FPE_INTOVF: return fatal::integer_overflow;
        case FPE_FLTDIV: return fatal::float_divide_by_zero;
        case FPE_FLTOVF: return fatal::float_overflow;
        case FPE_FLTUND: return fatal::float_underflow;
        case FPE_FLTRES: return fatal::float_inexact_result;
        case FPE_FLTINV: return fatal::float_invalid_operation;
        case FPE_FLTSUB: return fatal::bounds_exceeded;
        default: return fatal::unknown_error;
    }
}

bool in_stack_guard(const void* fault) {
    const char* address = static_cast<const char*>(fault);
    if (!state.stack_low || !address) return false;
    return address < state.stack_low && address >= state.stack_low - state.stack_guard;
}

}  // namespace

const char* fatal_message(int code) {
    for (const MessageRow& row : message_rows)
        if (row.code == code) return row.message;
    return "unknown error code!";
}

bool handling_fault() { return in_fault != 0; }

void error_exit(int code, const void* address) {
    if (code != 0) print_report(code, address);
    exit_process(code);
}

void exit_process(int code) {
    restore_terminal();
    // After a fault the heap and the C library's streams may be the broken
    // part; the tracked blocks go back to the system with the process anyway.
    if (in_fault) _exit(code);
    memory::free_all();
    std::exit(code);
}

const void* get_fault_address() { return __builtin_return_address(0); }

int fault_code(int signal, int signal_code, const void* fault) {
    switch (signal) {
        case SIGSEGV:
            return in_stack_guard(fault) ? fatal::stack_overflow : fatal::access_violation;
        case SIGBUS:
            return signal_code == BUS_ADRALN ? fatal::invalid_alignment
                                             : fatal::invalid_virtual_address;
        case SIGFPE: return float_fault_code(signal_code);
        case SIGILL:
            return signal_code == ILL_PRVOPC || signal_code == ILL_PRVREG
                       ? fatal::privileged_instruction
                       : fatal::illegal_instruction;
        // LINUX: int3 arrives with the kernel's own signal code, not TRAP_BRKPT.
        case SIGTRAP: return signal_code == TRAP_TRACE ? fatal::single_step : fatal::breakpoint;
        case SIGSTKFLT: return fatal::float_stack_check;
        default: return fatal::unknown_error;
    }
}

std::uint32_t report_address(const void* address) {
    auto a = reinterpret_cast<std::uintptr_t>(address);
    auto start = reinterpret_cast<std::uintptr_t>(__executable_start);
    auto end = reinterpret_cast<std::uintptr_t>(etext);
    if (a >= start && a < end) return static_cast<std::uint32_t>(a - start);
    return static_cast<std::uint32_t>(a);
}

void install_signal_handlers() {
    std::signal(SIGPIPE, SIG_IGN);

    struct sigaction fault = {};
    fault.sa_sigaction = on_fault;
    fault.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // Nothing else interrupts the report.
    sigfillset(&fault.sa_mask);
    for (int s : fault_signals) sigaction(s, &fault, nullptr);

    struct sigaction interrupt = {};
    interrupt.sa_handler = on_interrupt;
    interrupt.sa_flags = SA_ONSTACK;
    sigfillset(&interrupt.sa_mask);
    for (int s : interrupt_signals) sigaction(s, &interrupt, nullptr);
}

void use_alternate_signal_stack() {
    // Room for the report's own frames, sanitizer-instrumented ones included.
    constexpr std::size_t size = 256 * 1024;
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t alternate = {};
    alternate.ss_sp = memory;
    alternate.ss_size = size;
    sigaltstack(&alternate, nullptr);
}

}  // namespace kiv::runtime
