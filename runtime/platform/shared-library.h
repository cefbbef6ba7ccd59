// Optional system libraries, opened at their first use rather than linked:
// a start-up that never needs them does not pay for loading them, and a
// machine without one still runs everything else (the caller fires internal
// feature-na where the library is needed).
#pragma once

#include <dlfcn.h>

namespace kiv::shared_library {

// The library of that file name (its soname), or null when it cannot be
// loaded. Each call asks the dynamic loader again; callers keep the handle.
inline void* open(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

// Looks an entry point up by name into `out`; answers whether it was found.
template <class F>
bool find(void* library, const char* name, F* out) {
    *out = reinterpret_cast<F>(dlsym(library, name));
    return *out != nullptr;
}

}  // namespace kiv::shared_library
