// The file layer over POSIX: descriptors, whole-file reads that also work on
// pipes and the files of /proc, writes with their open modes, the text and
// line conversions, directory listings, and the file! action hooks.
//
// GC: reads collect the bytes in a tracked raw buffer and make the value in
// one step at the end; writes take the bytes from the value's buffer or its
// side buffer and hand them to the system before anything else allocates.
#include "runtime/services/file-io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/tracked-alloc.h"
#include "runtime/unicode-strings.h"
#include "runtime/unicode.h"

namespace kiv::file_io {

namespace {

// The largest content a series can hold, in bytes: a series buffer's size
// is a 31-bit count, with room kept for its header and rounding.
constexpr std::int64_t max_content = 0x7FFFFFFF - 64;
// The chunk in which files of unknown size are read.
constexpr std::int64_t chunk = 65536;
constexpr std::uint8_t line_end[] = {'\n'};

// Closes a descriptor on every way out, fire included.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close_file(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A tracked raw buffer released on every way out.
class RawBuffer {
public:
    RawBuffer() = default;
    ~RawBuffer() { memory::free(data_); }
    RawBuffer(const RawBuffer&) = delete;
    RawBuffer& operator=(const RawBuffer&) = delete;
    std::uint8_t* data() const { return data_; }
    void resize(std::int64_t size) {
        data_ = static_cast<std::uint8_t*>(memory::resize(data_, static_cast<std::size_t>(size)));
    }

private:
    std::uint8_t* data_ = nullptr;
};

[[noreturn]] void fire_cannot_open(const Cell* file) { fire(ErrorId::access_cannot_open, file); }

[[noreturn]] void fire_refine_arg(const char* refinement, const Cell* value) {
    Cell word;
    word::load(refinement, &word);
    word.set_type(Type::refinement);
    fire(ErrorId::script_invalid_refine_arg, &word, value);
}

// The integer of a /part or /seek argument: an integer!, or a float!
// truncated toward zero (saturated); anything else fires.
std::int64_t offset_arg(const Cell* value, const char* refinement) {
    if (value->is(Type::integer)) return static_cast<std::int32_t>(value->data2);
    if (value->is(Type::float_)) {
        const double d = float_::get(value);
        if (d != d) fire_refine_arg(refinement, value);
        if (d >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
        if (d <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(d);
    }
    fire_refine_arg(refinement, value);
}

// The code point n places before the end of the text from its index, or 0.
std::uint32_t char_from_end(const Cell* file, std::int32_t n) {
    const std::int32_t length = string::ks_abs_length(file);
    const std::int32_t at = length - n;
    if (at < static_cast<std::int32_t>(file->data1)) return 0;
    return string::ks_abs_at(file, at);
}

bool separator_q(std::uint32_t c) { return c == '/' || c == '\\'; }

// The empty value of a read: a binary! or a string!.
void empty_value(bool binary, bool lines, Cell* result) {
    if (binary) binary::make_at(result, 0);
    else if (lines) block::make_at(result, 0);
    else string::make_at(result, 0);
}

// The value of the bytes read, as asked.
void make_value(std::uint8_t* bytes, std::int64_t count, bool binary, bool lines, Cell* result) {
    if (binary) binary::load_at(result, bytes, count);
    else if (lines) lines_to_block(bytes, count, result);
    else load_text(bytes, count, result);
}

void check_size(std::int64_t size) {
    if (size > max_content) fire(ErrorId::script_too_long);
}

// Reads a file whose size is not known beforehand up to its end, or until
// `limit` bytes are in (limit < 0: no limit). Answers the count, or -1.
std::int64_t read_to_end(int fd, RawBuffer& buffer, std::int64_t limit) {
    std::int64_t got = 0;
    std::int64_t capacity = 0;
    for (;;) {
        if (got == capacity) {
            check_size(capacity + chunk);
            capacity += capacity < chunk ? chunk : capacity;
            if (capacity > max_content) capacity = max_content;
            buffer.resize(capacity);
        }
        std::int64_t want = capacity - got;
        if (limit >= 0 && want > limit - got) want = limit - got;
        if (want == 0) return got;
        const ssize_t n = ::read(fd, buffer.data() + got, static_cast<std::size_t>(want));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) return got;
        got += n;
    }
}

// Reads a file into `result`; false when it cannot be opened or read.
// LINUX: pipes, devices and the files of /proc report no size: they are
// read to their end in one pass, and seek and part are taken from the
// bytes read.
bool read_file(const char* path, std::int64_t part, std::int64_t seek, bool binary, bool lines,
               Cell* result) {
    Descriptor fd(path ? open_file(path, mode::read) : -1);
    if (fd.get() < 0) return false;
    std::int64_t size = file_size_q(fd.get());
    if (size < 0) return false;
    RawBuffer buffer;
    std::int64_t got;
    std::int64_t start = 0;
    if (size == 0) {
        const std::int64_t skip = seek > 0 ? seek : 0;
        got = read_to_end(fd.get(), buffer, part > 0 ? skip + part : -1);
        if (got < 0) return false;
        if (got == 0 || part == 0) {
            empty_value(binary, lines, result);
            return true;
        }
        start = skip < got ? skip : got;
        got -= start;
    } else {
        if (seek >= 0) {
            if (seek < size && !seek_file(fd.get(), seek)) return false;
            size = seek < size ? size - seek : 0;
        }
        if (part == 0) {
            empty_value(binary, lines, result);
            return true;
        }
        if (part > 0 && part < size) size = part;
        check_size(size);
        buffer.resize(size ? size : 1);
        got = read_data(fd.get(), buffer.data(), size);
        if (got < 0) return false;
    }
    make_value(buffer.data() + start, got, binary, lines, result);
    return true;
}

// Writes the bytes and, when asked, a line end; the count of the last
// write, or -1.
std::int64_t write_bytes(int fd, Bytes bytes, bool newline) {
    std::int64_t written = write_data(fd, bytes.data, bytes.size);
    if (written >= 0 && newline) written = write_data(fd, line_end, 1);
    return written;
}

// Writes each value of the block from its index, each followed by a line
// end; the count of the last write (1 for an empty block), or -1.
std::int64_t write_lines(int fd, const Cell* block, Cell* scratch) {
    std::int64_t written = 1;
    const std::int32_t length = block::ks_length(block);
    for (std::int32_t i = 0; i < length && written >= 0; ++i) {
        // GC: a copy, as molding allocates and may move the block's buffer.
        Cell value = *block::ks_abs_at(block, static_cast<std::int32_t>(block->data1) + i);
        written = write_bytes(fd, to_bytes(&value, -1, scratch), true);
    }
    return written;
}

// The position of a write: after the seek offset (an offset of 0 writes
// from the start), then at the end with `append`.
bool position_write(int fd, std::int64_t offset, bool append) {
    if (offset > 0 && !seek_file(fd, offset)) return false;
    return !append || ::lseek(fd, 0, SEEK_END) >= 0;
}

// Whether a directory entry is a directory; a link counts as what it names.
bool entry_is_dir(DIR* dir, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    struct stat st;
    return ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool dot_entry_q(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// A file! of a directory entry's name, "/" appended for a directory, at the
// block's tail.
void append_entry(Cell* block, const char* name, bool dir) {
    Cell entry;
    const std::size_t length = std::strlen(name);
    string::make_at(&entry, static_cast<std::int64_t>(length) + 1);
    // A name that is not UTF-8 keeps each undecodable byte as itself.
    string::append_utf8(&entry, std::string_view(name, length));
    if (dir) string::append_literal(&entry, "/");
    entry.set_type(Type::file);
    block::ks_append(block, &entry);
}

class Directory {
public:
    explicit Directory(const char* path) : dir_(path ? ::opendir(path) : nullptr) {}
    ~Directory() {
        if (dir_) ::closedir(dir_);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

// --- hooks of the file! actions ---

void write_hook(Cell* file, Cell* data, Cell* part, Cell* seek, bool binary, bool append,
                bool lines) {
    write(file, data, part, seek, binary, append, lines);
}

}  // namespace

// ---------------------------------------------------------------------------
// Low level.

const char* os_path(Cell* file) {
    long length = -1;
    const auto* path = reinterpret_cast<const char*>(unicode::to_utf8(file, &length));
    return std::strlen(path) == static_cast<std::size_t>(length) ? path : nullptr;
}

bool make_dir(const char* path) { return path && ::mkdir(path, 0777) == 0; }

bool file_exists_q(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0;
}

int open_file(const char* path, int open_mode) {
    if (!path) return -1;
    int flags;
    if (open_mode & mode::read) flags = O_RDONLY;
    else if (open_mode & (mode::append | mode::seek)) flags = O_WRONLY | O_CREAT;
    else if (open_mode & mode::write) flags = O_WRONLY | O_CREAT | O_TRUNC;
    else return -1;
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::int64_t file_size_q(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : 0;
}

bool seek_file(int fd, std::int64_t offset) { return ::lseek(fd, offset, SEEK_SET) == offset; }

std::int64_t read_data(int fd, std::uint8_t* buffer, std::int64_t count) {
    std::int64_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, buffer + got, static_cast<std::size_t>(count - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += n;
    }
    return got;
}

std::int64_t write_data(int fd, const std::uint8_t* buffer, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, buffer + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += n;
    }
    return done;
}

bool close_file(int fd) { return ::close(fd) == 0; }

// ---------------------------------------------------------------------------
// Text conversion.

namespace {

// The count without a last UTF-8 sequence that the end cuts short (a /part
// that stops inside a character): its bytes so far are valid and are left
// out, as the text loader leaves them for a next block. Invalid bytes still
// fire when the text is decoded.
std::int64_t without_cut_sequence(const std::uint8_t* bytes, std::int64_t count) {
    for (std::int64_t back = 1; back <= 3 && back <= count; ++back) {
        const std::uint8_t b = bytes[count - back];
        if ((b & 0xC0) == 0x80) continue;  // a continuation byte
        if (unicode::utf8_sequence_length(b) <= back) return count;
        int available = static_cast<int>(back);
        return unicode::read_utf8_char(bytes + count - back, &available) < 0 ? count - back : count;
    }
    return count;
}

}  // namespace

Cell* load_text(std::uint8_t* bytes, std::int64_t count, Cell* out) {
    count = without_cut_sequence(bytes, count);
    std::int64_t kept = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (bytes[i] == '\r' && i + 1 < count && bytes[i + 1] == '\n') continue;
        bytes[kept++] = bytes[i];
    }
    return string::decode_utf8(bytes, kept, out);
}

Cell* lines_to_block(const std::uint8_t* bytes, std::int64_t count, Cell* out) {
    count = without_cut_sequence(bytes, count);
    // Each line is loaded on its own, and the loader stops quietly at a
    // sequence that the line's end cuts short: checking the whole text first
    // makes such bytes fire as they do when the text is read in one piece.
    string::check_utf8(bytes, count);
    std::int64_t lines = 1;
    for (std::int64_t i = 0; i < count; ++i) lines += bytes[i] == '\n';
    block::make_at(out, lines);
    std::int64_t start = 0;
    for (std::int64_t i = 0; i <= count; ++i) {
        const bool end = i == count;
        if (!end && bytes[i] != '\n') continue;
        if (end && start == count) break;
        std::int64_t stop = i;
        if (!end && stop > start && bytes[stop - 1] == '\r') --stop;
        string::load_in(bytes + start, stop - start, out, 0);
        start = i + 1;
    }
    return out;
}

Bytes to_bytes(Cell* value, std::int64_t part, Cell* scratch) {
    if (value->is(Type::binary)) {
        std::int64_t n = binary::ks_length(value);
        if (part >= 0 && part < n) n = part;
        return {binary::ks_head(value), n};
    }
    if (!value->is(Type::string)) {
        string::ks_reset(scratch);
        registry::find<Action::mold>(value)(value, scratch, false, false, false, nullptr, 0, 0);
        value = scratch;
    }
    const std::int64_t length = string::ks_length(value);
    long n = part >= 0 && part < length ? static_cast<long>(part) : -1;
    const std::uint8_t* data = unicode::to_utf8(value, &n);
    return {data, n};
}

// ---------------------------------------------------------------------------
// Files and directories.

bool dir_q(const Cell* file) {
    const std::uint32_t c1 = char_from_end(file, 1);
    if (c1 == 0) return false;
    const std::uint32_t c2 = char_from_end(file, 2);
    const std::uint32_t c3 = char_from_end(file, 3);
    const std::int32_t length = string::ks_abs_length(file) - static_cast<std::int32_t>(file->data1);
    if (separator_q(c1)) return true;
    if (c1 != '.') return false;
    if (length == 1 || separator_q(c2)) return true;
    return c2 == '.' && (separator_q(c3) || length == 2);
}

void read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines, Cell* result) {
    if (dir_q(file)) return read_dir(file, result);
    const std::int64_t p = part ? offset_arg(part, "part") : -1;
    const std::int64_t s = seek ? offset_arg(seek, "seek") : -1;
    if (!read_file(os_path(file), p, s, binary, lines, result)) fire_cannot_open(file);
}

std::int64_t write(Cell* file, Cell* data, Cell* part, Cell* seek, bool, bool append, bool lines) {
    std::int64_t p = -1;
    if (part) {
        if (!part->is(Type::integer) || static_cast<std::int32_t>(part->data2) < 0) {
            Cell refinement;
            fire(ErrorId::script_invalid_refine_arg, words::refinement(words::Ref::part, &refinement),
                 part);
        }
        p = static_cast<std::int32_t>(part->data2);
    }
    const std::int64_t offset = seek ? offset_arg(seek, "seek") : -1;
    Cell scratch;
    string::make_at(&scratch, 16);
    int open_mode = mode::write | (append ? mode::append : 0) | (offset >= 0 ? mode::seek : 0);
    const char* path = file ? os_path(file) : nullptr;
    Descriptor fd(path ? open_file(path, open_mode) : -1);
    const int out = file ? fd.get() : STDOUT_FILENO;
    if (out < 0) fire_cannot_open(file);
    std::int64_t written = -1;
    if (position_write(out, offset, append)) {
        if (lines && data->is(Type::block)) written = write_lines(out, data, &scratch);
        else written = write_bytes(out, to_bytes(data, p, &scratch), lines);
    }
    // LINUX: a failed write to standard output (a closed pipe) loses its
    // text silently, as console output does.
    if (written < 0 && file) fire_cannot_open(file);
    return written;
}

bool delete_(Cell* file) {
    const char* path = os_path(file);
    if (!path) return false;
    return (dir_q(file) ? ::rmdir(path) : ::unlink(path)) == 0;
}

void query(Cell* file, Cell* result) {
    const char* path = os_path(file);
    struct stat st;
    if (!path || ::stat(path, &st) != 0 || (separator_q(char_from_end(file, 1)) && !S_ISDIR(st.st_mode))) {
        none::make_at(result);
        return;
    }
    std::tm t;
    if (!::gmtime_r(&st.st_mtim.tv_sec, &t)) {
        none::make_at(result);
        return;
    }
    // The date keeps the time of the last write to the millisecond.
    const auto ms = static_cast<std::int32_t>(st.st_mtim.tv_nsec / 1000000);
    date::make_at_time(result, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                       t.tm_sec, ms * 1000000);
}

bool rename(Cell* from, Cell* to) {
    const char* source = os_path(from);
    const char* target = os_path(to);
    if (!source || !target) return false;
    // LINUX: the system's rename replaces an existing target; here a rename
    // onto an existing name fails instead, so that no file is lost.
    if (::renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename.
    return !file_exists_q(target) && ::rename(source, target) == 0;
}

void read_dir(Cell* file, Cell* result) {
    Directory dir(os_path(file));
    if (!dir.get()) fire_cannot_open(file);
    block::make_at(result, 16);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) break;
        if (dot_entry_q(entry->d_name)) continue;
        append_entry(result, entry->d_name, entry_is_dir(dir.get(), entry));
    }
    if (errno != 0) fire_cannot_open(file);
}

void size_q(Cell* file, Cell* result) {
    none::make_at(result);
    if (dir_q(file)) return;
    const char* path = os_path(file);
    Descriptor fd(path ? open_file(path, mode::read) : -1);
    if (fd.get() < 0) return;
    const std::int64_t size = file_size_q(fd.get());
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) return;
    *result = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(size), 0};
}

void init() {
    file::services.delete_ = delete_;
    file::services.query = query;
    file::services.rename = rename;
    file::services.read = read;
    file::services.write = write_hook;
}

}  // namespace kiv::file_io
