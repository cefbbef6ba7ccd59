// The Kiv sources built into the executable (library, console engine, view),
// so that start-up reads no file from disk.
#pragma once

#include <cstddef>

namespace kiv::embedded {

struct Source {
    const char* path;  // relative to the source root, e.g. "library/series.kiv"
    const char* text;  // UTF-8, NUL-terminated
    std::size_t size;
};

// Terminated by an entry whose path is null.
extern const Source sources[];

}  // namespace kiv::embedded
