// Fault hooks for the test build: the environment variable KIV_TEST_FAULT
// names a failure that start-up provokes right before the console would
// launch, so that tests can check each fatal path's report and exit status.
// KIV_TEST_RESTORE_TEXT, when set, is written by a stand-in terminal
// restorer, showing that the way out restores the terminal.
#pragma once

namespace kiv::runtime::test_hooks {

#if KIV_TEST_HOOKS
void run_fault_hook();
#else
inline void run_fault_hook() {}
#endif

}  // namespace kiv::runtime::test_hooks
