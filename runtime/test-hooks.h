// Fault hooks for the test build: the environment variable KIV_TEST_FAULT
// names a failure that start-up provokes right before the console would
// launch, so that tests can check each fatal path's report and exit status.
// KIV_TEST_RESTORE_TEXT, when set, is written by a stand-in terminal
// restorer, showing that the way out restores the terminal.
//
// A hook may also end by leaving a throw code pending (answering thrown),
// as a native would, to show what the outermost region does with it.
#pragma once

#include "runtime/throw.h"

namespace kiv::runtime::test_hooks {

#if KIV_TEST_HOOKS
Status run_fault_hook();
// The file KIV_TEST_BOOT_IMAGE names, which start-up loads as its boot
// image instead of the built-in one; null when unset.
const char* boot_image_file();
#else
inline Status run_fault_hook() { return Status::ok; }
inline const char* boot_image_file() { return nullptr; }
#endif

}  // namespace kiv::runtime::test_hooks
