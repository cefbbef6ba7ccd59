// file!: the operating system's form of a file name, the current directory,
// the "%" notation, and the file actions, which hand the file to the file
// services.
//
// LINUX: the system's path is the file's text itself, as UTF-8: names pass
// to the system unchanged, with no drive letters or backslashes.
#include "runtime/datatypes/file.h"

#include <cstring>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/platform/platform.h"
#include "runtime/tracked-alloc.h"
#include "runtime/unicode-strings.h"

namespace kiv::file {

Services services{};

const char* to_os_path(Cell* file) {
    long length = -1;
    return reinterpret_cast<const char*>(unicode::to_utf8(file, &length));
}

Cell* get_current_dir(Cell* out) {
    std::size_t length = 0;
    char* path = platform::get_current_dir(length);
    string::make_at(out, static_cast<std::int64_t>(length) + 1);
    if (path) {
        string::append_utf8(out, std::string_view(path, length));
        memory::free(path);
    }
    const std::int32_t n = string::ks_abs_length(out);
    if (n == 0 || string::ks_abs_at(out, n - 1) != '/') string::append_literal(out, "/");
    return out;
}

void convert_to_os_path(Cell* file, Cell* target, bool full) {
    const bool relative = string::ks_tail_q(file) ||
                          string::ks_abs_at(file, static_cast<std::int32_t>(file->data1)) != '/';
    if (full && relative) {
        Cell directory;
        get_current_dir(&directory);
        string::concatenate(target, &directory, -1, 0, string::Mode::append);
    }
    string::concatenate(target, file, -1, 0, string::Mode::append);
}

namespace {

// Whether the text must be quoted to load back as one file: it holds a
// character below 127 that an unquoted file cannot hold. Besides those
// outside the url table, "(", ")", ":" and "@" end an unquoted file when
// it is read, so they are quoted too.
bool needs_quotes(const std::uint8_t* p, const std::uint8_t* end, std::uint32_t unit) {
    for (; p < end; p += unit) {
        const std::uint32_t c = string::get_char(p, unit);
        if (c >= 127) continue;
        if (!url::kept_q(url::Table::url, static_cast<std::uint8_t>(c))) return true;
        if (c == '(' || c == ')' || c == ':' || c == '@') return true;
    }
    return false;
}

// "%" and the text, bare or, when it needs them, between double quotes with
// the caret escapes of string! mold, so that the file loads back as it was.
int mold(Cell* value, Cell* out, bool, bool, bool, Cell* part_arg, int part, int) {
    string::append_literal(out, "%");
    const std::int64_t rest = string::ks_length(value);
    if (rest == 0) {
        string::append_literal(out, "\"\"");
        return part - 3;
    }
    std::int64_t count = rest;
    if (part_arg && part < count) count = part < 0 ? 0 : part;
    Cell text = *value;
    if (value->data2 == out->data2) {
        string::make_at_unit(&text, count, string::buffer(value)->unit());
        string::concatenate(&text, value, count, 0, string::Mode::append);
    }
    const std::uint32_t unit = string::buffer(&text)->unit();
    const std::uint8_t* p = string::ks_head(&text);
    const std::uint8_t* end = p + count * unit;
    if (needs_quotes(p, end, unit)) {
        string::append_literal(out, "\"");
        for (; p < end; p += unit) string::append_escaped_char(out, string::get_char(p, unit), false);
        string::append_literal(out, "\"");
    } else {
        string::concatenate(out, &text, count, 0, string::Mode::append);
    }
    return static_cast<int>(part - count - 1);
}

[[noreturn]] void fire_not_done() { fire(ErrorId::internal_not_done); }

Cell* delete_(Cell* file) {
    if (!services.delete_) fire_not_done();
    return logic::make_at(file, services.delete_(file));
}

Cell* query(Cell* target) {
    if (!services.query) fire_not_done();
    Cell result;
    none::make_at(&result);
    services.query(target, &result);
    *target = result;
    return target;
}

Cell* rename(Cell* from, Cell* to) {
    if (!services.rename) fire_not_done();
    if (!string::is_any_string(to->type())) fire(ErrorId::script_invalid_arg, to);
    return logic::make_at(from, services.rename(from, to));
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
    if (as || !services.read) fire_not_done();
    Cell result;
    none::make_at(&result);
    services.read(source, part, seek, binary, lines, &result);
    *source = result;
    return source;
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool, bool append, Cell* part,
            Cell* seek, Cell* allow, Cell* as) {
    if (allow || as || !services.write) fire_not_done();
    services.write(destination, data, part, seek, binary, append, lines);
    *destination = Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
    return destination;
}

constexpr ActionRow actions{
    .make = inherit,
    .to = inherit,
    .form = inherit,
    .mold = mold,
    .eval_path = inherit,
    .compare = inherit,
    .append = inherit,
    .at = inherit,
    .back = inherit,
    .change = inherit,
    .clear = inherit,
    .copy = inherit,
    .find = inherit,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .insert = inherit,
    .length_q = inherit,
    .move = inherit,
    .next = inherit,
    .pick = inherit,
    .poke = inherit,
    .remove = inherit,
    .reverse = inherit,
    .select = inherit,
    .skip = inherit,
    .swap = inherit,
    .tail = inherit,
    .tail_q = inherit,
    .take = inherit,
    .delete_ = delete_,
    .modify = inherit,
    .query = query,
    .read = read,
    .rename = rename,
    .write = write,
};

}  // namespace

void init() { registry::register_type(Type::file, Type::url, "file!", actions); }

}  // namespace kiv::file
