#include "runtime/entry.h"

#include <pthread.h>

#include <cfenv>
#include <new>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/error-exit.h"
#include "runtime/fire.h"
#include "runtime/init.h"
#include "runtime/platform/platform.h"
#include "runtime/state.h"
#include "runtime/test-hooks.h"
#include "runtime/throw.h"

namespace kiv::runtime {

namespace {

// A tree-walking evaluator spends several C++ frames on one language call;
// the language's own depth limits must be met long before this stack ends.
// Linux commits the pages only when they are touched.
constexpr std::size_t runtime_stack_size = std::size_t{512} << 20;
// Wide enough that a frame with a large local buffer cannot step over it.
constexpr std::size_t runtime_stack_guard = std::size_t{1} << 20;

// Round to nearest, every floating-point exception masked.
// LINUX: doubles are computed in SSE registers at 53 bits already; the x87
// precision setting is left alone, as the C library's long double code
// expects it.
void reset_float_environment() { std::fesetenv(FE_DFL_ENV); }

void record_stack_bounds() {
    platform::StackBounds bounds = platform::current_stack();
    state.stack_low = bounds.low;
    state.stack_high = bounds.high;
    state.stack_guard = bounds.guard ? bounds.guard : runtime_stack_guard;
}

// The outermost catch region takes every code that reaches it: quit ends the
// process quietly, anything else is a throw that nothing caught.
[[noreturn, gnu::noinline]] void top_level_catch(std::uint32_t code) {
    if (code == throw_code::quit) error_exit(0, nullptr);
    error_exit(fatal::no_catch_for_throw, get_fault_address());
}

int start_up() {
    state.native_stack_bound = static_cast<char*>(__builtin_frame_address(0));
    init();
    // The words and root cells that native code names are made by the units'
    // own init steps; from here on the collector may run.
    state.keep_in_root = false;
    collector::set_active(true);
    boot::run(state.argc, state.argv);
    // A throw code that no region took reaches the outermost one here.
    if (test_hooks::run_fault_hook() != Status::ok) top_level_catch(state.thrown_code);
    return boot::launch();
}

[[noreturn]] void run_runtime() {
    reset_float_environment();
    use_alternate_signal_stack();
    record_stack_bounds();
    int status = 0;
    try {
        status = start_up();
    } catch (const NativeThrow& thrown) {
        top_level_catch(thrown.code);
    } catch (const KivError&) {
        top_level_catch(throw_code::error);
    } catch (const std::bad_alloc&) {
        error_exit(fatal::out_of_memory, get_fault_address());
    } catch (...) {
        top_level_catch(throw_code::error);
    }
    // The console's end: 0, or 1 after a script that failed (no report).
    exit_process(status);
}

void* runtime_thread(void*) { run_runtime(); }

bool start_runtime_thread(pthread_t& thread) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    bool ok = pthread_attr_setstacksize(&attr, runtime_stack_size) == 0 &&
              pthread_attr_setguardsize(&attr, runtime_stack_guard) == 0 &&
              pthread_create(&thread, &attr, runtime_thread, nullptr) == 0;
    pthread_attr_destroy(&attr);
    return ok;
}

}  // namespace

int program_entry(int argc, char** argv) {
    // LINUX: the standard streams are descriptors 0, 1 and 2; there are no
    // handles to take, and no critical-error boxes to switch off.
    state.argc = argc;
    state.argv = argv;
    install_signal_handlers();
    use_alternate_signal_stack();
    pthread_t thread;
    // Without room for the large stack the runtime makes do with this one.
    if (!start_runtime_thread(thread)) run_runtime();
    // The runtime thread ends the process; this thread only waits.
    pthread_join(thread, nullptr);
    return 0;
}

}  // namespace kiv::runtime
