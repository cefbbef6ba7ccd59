#include <gtest/gtest.h>

#include <csignal>

#include "runtime/error-exit.h"
#include "runtime/state.h"

namespace kiv {

// Signal codes that a test process cannot provoke on this machine are
// checked here; the fatal-path tests run the real faults.
TEST(FaultCode, SignalsMapToTheirRuntimeErrors) {
    char stack[4096];
    State saved = state;
    state.stack_low = stack + 2048;
    state.stack_guard = 1024;
    struct Case { int signal, code; const void* fault; int expected; };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, reinterpret_cast<void*>(16), 1},
        {SIGSEGV, SEGV_ACCERR, stack + 1500, 19},
        {SIGSEGV, SEGV_MAPERR, stack + 1024, 19},
        {SIGSEGV, SEGV_MAPERR, stack + 1023, 1},
        {SIGSEGV, SEGV_MAPERR, stack + 2048, 1},
        {SIGBUS, BUS_ADRALN, nullptr, 2},
        {SIGBUS, BUS_ADRERR, nullptr, 16},
        {SIGBUS, BUS_OBJERR, nullptr, 16},
        {SIGFPE, FPE_INTDIV, nullptr, 13},
        {SIGFPE, FPE_INTOVF, nullptr, 14},
        {SIGFPE, FPE_FLTDIV, nullptr, 7},
        {SIGFPE, FPE_FLTOVF, nullptr, 10},
        {SIGFPE, FPE_FLTUND, nullptr, 12},
        {SIGFPE, FPE_FLTRES, nullptr, 8},
        {SIGFPE, FPE_FLTINV, nullptr, 9},
        {SIGFPE, FPE_FLTSUB, nullptr, 5},
        {SIGFPE, SI_USER, nullptr, 99},
        {SIGILL, ILL_PRVOPC, nullptr, 15},
        {SIGILL, ILL_PRVREG, nullptr, 15},
        {SIGILL, ILL_ILLOPN, nullptr, 17},
        {SIGTRAP, TRAP_TRACE, nullptr, 4},
        {SIGTRAP, SI_KERNEL, nullptr, 3},
        {SIGSTKFLT, SI_TKILL, nullptr, 11},
        {SIGABRT, SI_TKILL, nullptr, 99},
        {SIGSYS, 1, nullptr, 99},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runtime::fault_code(c.signal, c.code, c.fault), c.expected)
            << "signal " << c.signal << " code " << c.code;
    state = saved;
}

}  // namespace kiv
