// The file layer: reads files into strings, binaries or blocks of lines,
// writes values to files or to standard output, lists directories, and
// deletes, renames, queries and creates files and directories. The file!
// actions reach it through the hooks `init` installs in file::services; the
// library routines, the natives and the HTTP client call it directly.
//
// LINUX: a path is the file's text from its index as UTF-8, passed to POSIX
// unchanged. Sizes and offsets are 64-bit. No descriptor stays open between
// calls. Text is written as UTF-8 with LF line ends (also the line end that
// /lines adds); reading drops a CR that stands before an LF.
//
// Low-level operations report failure by value (-1, false, or no value);
// the value-level ones raise access cannot-open (and the others they name)
// through fire. Every operation here that makes a value allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::file_io {

// ---------------------------------------------------------------------------
// Low level, on NUL-terminated UTF-8 paths.

// The file's text from its index as the system's path, in the value's side
// buffer; null when the text holds a NUL, which the system would take for
// the end of a shorter name. Each operation below fails on a null path.
// Allocates.
const char* os_path(Cell* file);

// Open modes, combined as bits. Read wins over the others; write alone
// creates or truncates; append and seek open or create and keep the data.
namespace mode {
constexpr int read = 1;
constexpr int write = 2;
constexpr int append = 4;
constexpr int seek = 8;
}  // namespace mode

// One directory level; whether it was made.
bool make_dir(const char* path);
// Whether a file or directory of that name exists.
bool file_exists_q(const char* path);
// A descriptor, or -1. A directory never opens.
int open_file(const char* path, int mode);
// The size a regular file reports; 0 for pipes, devices and the files of
// /proc, whose size is only known by reading them; -1 on failure.
std::int64_t file_size_q(int fd);
bool seek_file(int fd, std::int64_t offset);
// Reads until `count` bytes are in or the file ends; the bytes read, or -1.
std::int64_t read_data(int fd, std::uint8_t* buffer, std::int64_t count);
// Writes all `count` bytes; the bytes written, or -1.
std::int64_t write_data(int fd, const std::uint8_t* buffer, std::int64_t count);
bool close_file(int fd);

// ---------------------------------------------------------------------------
// Text conversion.

// Makes `out` a string! of UTF-8 bytes (a leading byte order mark skipped,
// each CR before an LF dropped). Invalid UTF-8 fires access invalid-utf8.
// The bytes must be writable: the CRs are dropped in place.
Cell* load_text(std::uint8_t* bytes, std::int64_t count, Cell* out);
// Makes `out` a block! of one string! per line: a line ends at an LF, one
// CR before it is dropped, a final LF adds no empty line, a lone CR stays.
Cell* lines_to_block(const std::uint8_t* bytes, std::int64_t count, Cell* out);

// The bytes to write for a value and their count. A string! is its UTF-8
// from its index, at most `part` characters when part >= 0; a binary! its
// bytes from its index, at most `part` when part >= 0; any other value is
// molded into `scratch` (a string!, emptied first) and taken as a string.
// The pointer stays valid until the next allocation touching the value or
// the scratch string.
struct Bytes {
    const std::uint8_t* data;
    std::int64_t size;
};
Bytes to_bytes(Cell* value, std::int64_t part, Cell* scratch);

// ---------------------------------------------------------------------------
// Files and directories, on language values.

// Whether the file's text names a directory: it ends in "/" or "\", or is
// "." or "..", or ends in a separator and one or two dots.
bool dir_q(const Cell* file);

// Makes `result` the file's content (or its directory listing): a string!,
// a binary! with `binary`, a block! of lines with `lines`. part and seek
// (null when absent) are integer! or float! values: at most part bytes,
// from byte offset seek. Fires access cannot-open with the file when it
// cannot be read; script too-long when it cannot fit in a series.
void read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, Cell* result);

// Writes data to the file (null: standard output): a string! as UTF-8, a
// binary! as its bytes, anything else molded; with `lines` a block! one
// value per line, any other value followed by a line end. A plain write
// truncates; `append` writes at the end; a seek offset writes from there
// and keeps the rest. A part that is not an integer!, or a negative one,
// fires script invalid-refine-arg. Answers the count of the last write;
// fires access cannot-open with the file on failure (a failed write to
// standard output is silent and answers -1).
std::int64_t write(Cell* file, Cell* data, Cell* part, Cell* seek, bool binary, bool append,
                   bool lines);

// Removes the file, or the (empty) directory when the name is in directory
// form; whether it was removed.
bool delete_(Cell* file);
// Makes `result` the date! of the last write (universal time), or none
// when there is no such entry or a name in directory form is not one.
void query(Cell* file, Cell* result);
// Whether the file was renamed. An existing target is never replaced.
bool rename(Cell* from, Cell* to);
// Makes `result` a block! of the directory's entries as file! values, "."
// and ".." left out, directories ending in "/", in the order the system
// gives. Fires access cannot-open with the file when it cannot be listed.
void read_dir(Cell* file, Cell* result);
// Makes `result` the size of the file as an integer!, or none when it
// cannot be opened, is in directory form, or does not fit an integer!.
void size_q(Cell* file, Cell* result);

// Installs the file! action hooks. A start-up step.
void init();

}  // namespace kiv::file_io
