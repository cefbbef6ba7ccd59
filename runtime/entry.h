// The runtime's entry sequence: prepares the process, runs the unit inits in
// their fixed order, binds the library and launches the console.
#pragma once

namespace kiv::runtime {

// Never returns to its caller except with the process's exit status.
int program_entry(int argc, char** argv);

}  // namespace kiv::runtime
