// The console's routines: the C++ functions behind routine! values of the
// console group, with the specs they are bound with. Start-up binds each
// part at its place in the group: the line editor's routines before `ask`,
// the standard input readers after `input`, and `system/console/init` once
// the console object exists.
#pragma once

namespace kiv::console_routines {

enum class Part { editor, stdin_readers, console_init };

// Makes the part's routines and binds them to their words or field.
void bind(Part part);

}  // namespace kiv::console_routines
