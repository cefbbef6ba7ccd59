// file!: a file or directory name in the language's portable form, held as
// text (the string layout) with "/" as separator. The operating system's
// path is the text itself: on Linux names pass to the system unchanged,
// as UTF-8. Its actions hand the work to the file services.
#pragma once

#include "runtime/cell.h"

namespace kiv::file {

// The text of the file from its index as a NUL-terminated UTF-8 path, kept
// in the value's side buffer (its fourth word). Valid until the next call
// for the same value or the next collection that moves it; a caller holding
// the pointer on its stack keeps the buffer in place. Allocates.
const char* to_os_path(Cell* file);

// Appends the operating system's form of the file's text to `target`: the
// text itself, after the current directory when `full` is set and the path
// is relative. Allocates.
void convert_to_os_path(Cell* file, Cell* target, bool full);

// Makes `out` a string! of the current directory, ending in "/". Allocates.
Cell* get_current_dir(Cell* out);

// The file and directory services that the file actions call. Each entry
// is set by the services at start-up; while one is unset its action raises
// internal not-done.
struct Services {
    // Deletes the directory or file; answers success.
    bool (*delete_)(Cell* file);
    // Makes `result` the file's date, or none when there is no such file.
    void (*query)(Cell* file, Cell* result);
    bool (*rename)(Cell* from, Cell* to);
    // Makes `result` the data read. part and seek may be null.
    void (*read)(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, Cell* result);
    void (*write)(Cell* file, Cell* data, Cell* part, Cell* seek, bool binary, bool append,
                  bool lines);
};
extern Services services;

// Registers file!, after url!.
void init();

}  // namespace kiv::file
