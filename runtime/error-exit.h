// Fatal runtime errors: failures below the language level end the process
// here. The report is a line feed, "*** Runtime Error <code>: <message>", a
// line feed, "*** at: <address as 8 hex digits>h" and a line feed; the code
// becomes the exit status. Code 0 is the quiet exit of a normal end.
//
// Machine faults arrive as signals, handled on an alternate signal stack and
// mapped to the codes of the table below. SIGINT, SIGTERM and SIGHUP put the
// terminal back and then end the process by the signal itself.
#pragma once

#include <csignal>
#include <cstdint>

namespace kiv::runtime {

// KIV_FATAL_CODES(F): F(code, identifier, message). Codes 1 to 22 are machine
// faults; a code missing here prints "unknown error code!".
#define KIV_FATAL_CODES(F)                                         \
    F(1, access_violation, "access violation")                     \
    F(2, invalid_alignment, "invalid alignment")                   \
    F(3, breakpoint, "breakpoint")                                 \
    F(4, single_step, "single step")                               \
    F(5, bounds_exceeded, "bounds exceeded")                       \
    F(6, float_denormal_operand, "float denormal operan")          \
    F(7, float_divide_by_zero, "float divide by zero")             \
    F(8, float_inexact_result, "float inexact result")             \
    F(9, float_invalid_operation, "float invalid operation")       \
    F(10, float_overflow, "float overflow")                        \
    F(11, float_stack_check, "float stack check")                  \
    F(12, float_underflow, "float underflow")                      \
    F(13, integer_divide_by_zero, "integer divide by zero")        \
    F(14, integer_overflow, "integer overflow")                    \
    F(15, privileged_instruction, "privileged instruction")        \
    F(16, invalid_virtual_address, "invalid virtual address")      \
    F(17, illegal_instruction, "illegal instruction")              \
    F(18, non_continuable_exception, "non-continuable exception")  \
    F(19, stack_overflow, "stack error or overflow")               \
    F(20, invalid_disposition, "invalid disposition")              \
    F(21, guard_page, "guard page")                                \
    F(22, invalid_handle, "invalid handle")                        \
    F(94, out_of_memory, "out of memory")                          \
    F(95, no_catch_for_throw, "no CATCH for THROW")                \
    F(99, unknown_error, "unknown error")                          \
    F(100, no_case_match, "no value matched in CASE")              \
    F(101, no_switch_match, "no value matched in SWITCH")

namespace fatal {
#define KIV_FATAL_CONSTANT(code, ident, message) constexpr int ident = code;
KIV_FATAL_CODES(KIV_FATAL_CONSTANT)
#undef KIV_FATAL_CONSTANT
}  // namespace fatal

// The message printed after the code.
const char* fatal_message(int code);

// Prints the report (unless code is 0), releases every tracked block and
// ends the process with the code as its status.
[[noreturn, gnu::cold]] void error_exit(int code, const void* address);

// Ends the process with the status, without a report: the terminal is put
// back and every tracked block released. An error that no try frame takes
// leaves this way with status -2.
[[noreturn, gnu::cold]] void exit_process(int status);

// The code address in the caller just after the call: the "at" of a report
// about the caller's own failure.
[[gnu::noinline]] const void* get_fault_address();

// The runtime error code for a fault signal. `fault` is the faulting data
// address the kernel reports; a SIGSEGV inside the guard region of the
// runtime thread's stack is a stack overflow.
int fault_code(int signal, int signal_code, const void* fault);

// The address as the report shows it: inside the executable, its offset from
// the image start (what a symbolizer takes); elsewhere its low 32 bits.
std::uint32_t report_address(const void* address);

// True while a fault handler is reporting: the C library's stream and heap
// code may be the thing that faulted, so the way out avoids both.
bool handling_fault();

// The fault and interrupt handlers, on an alternate stack; SIGPIPE ignored.
void install_signal_handlers();
// Gives the calling thread an alternate signal stack, so that a stack
// overflow on it still reaches the handler.
void use_alternate_signal_stack();

}  // namespace kiv::runtime
