// The natives that reach the operating system, the collector or the
// interpreter's words: to-local-file, size?, wait, unset, new-line,
// new-line?, context?, set-env, get-env, list-env, now, as, call, browse,
// compress, decompress and recycle.
//
// GC: the natives that make strings, binaries and maps allocate; values
// they hold meanwhile sit in frame cells or C++ locals, which the
// collector's stack scan keeps.
#include <algorithm>
#include <cstring>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/natives-args.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/evaluator/natives-system.h"
#include "runtime/evaluator/natives.h"
#include "runtime/fire.h"
#include "runtime/platform/host.h"
#include "runtime/platform/platform.h"
#include "runtime/services/process.h"

namespace kiv::natives_system {

CodecService codec_service;
void (*wait_events)() = nullptr;

void run_codec(CodecFn fn, Codec codec, const std::uint8_t* in, std::size_t n, std::size_t room,
               Cell* out, const Cell* data) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (room > static_cast<std::size_t>(INT32_MAX)) fire(ErrorId::internal_no_memory);
        binary::make_at(out, static_cast<std::int64_t>(room));
        memory::SeriesBuffer* b = binary::buffer(out);
        std::size_t size = room;
        const CodecResult r = fn(codec, in, n, b->head(), &size);
        if (r == CodecResult::ok && size <= room) {
            b->set_tail(b->head() + size);
            return;
        }
        if (r != CodecResult::too_small) break;
        room = size;
    }
    const Cell refused = *data;
    fire(ErrorId::script_invalid_data, &refused);
}


}  // namespace kiv::natives_system

namespace kiv::natives {

namespace {

using natives_system::Codec;
using natives_system::CodecResult;

// The UTF-8 text of an environment variable's name: a word's spelling or
// a string's text from its index.
std::string env_name(Cell* var) {
    if (string::is_any_string(var->type())) return string::to_utf8(var);
    return std::string(symbol::text(var->data2));
}

Cell* make_text(Cell* out, std::string_view utf8) {
    string::make_at(out, static_cast<std::int64_t>(utf8.size()));
    string::append_utf8(out, utf8);
    return out;
}

// ---------------------------------------------------------------------------
// now

// The refinements of now, by their number in the spec.
enum NowRef : int {
    r_year = 1, r_month, r_day, r_time, r_zone, r_date, r_weekday, r_yearday, r_precise, r_utc
};

void check_now_refinements(const std::int32_t* args) {
    int selectors = 0;
    for (int k = r_year; k <= r_precise; ++k) selectors += ref_used(args, k) ? 1 : 0;
    const bool precise_time = selectors == 2 && ref_used(args, r_time) && ref_used(args, r_precise);
    if (selectors >= 2 && !precise_time) fire(ErrorId::script_bad_refines);
}

// The current date and time in the zone (0 under /utc): the universal date
// and time of day read together, then carried into the zone's local date.
Cell current_date(bool utc, bool precise) {
    const std::uint32_t zone = utc ? 0 : date::zone_of(platform::get_date(false));
    std::uint32_t day = platform::get_date(true);
    double seconds = platform::get_time(precise);
    const std::uint32_t again = platform::get_date(true);
    // The clock passed midnight between the two readings: read the time of
    // the new day.
    if (again != day) {
        day = again;
        seconds = platform::get_time(precise);
    }
    const std::int32_t days = date::normalize(date::to_days(day), &seconds, zone);
    return date::make_cell(date::from_days(days, zone, true), seconds);
}

// ---------------------------------------------------------------------------
// call

// The refinements of call, by their number in the spec.
enum CallRef : int { r_wait = 1, r_show, r_console, r_shell, r_input, r_output, r_error };

// ---------------------------------------------------------------------------
// new-line

void set_marker(Cell* cell, bool on) {
    if (on) cell->header |= cell_flag::new_line;
    else cell->header &= ~cell_flag::new_line;
}

// ---------------------------------------------------------------------------
// as

int as_group(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path:
            return 1;
        default:
            return string::is_any_string(t) ? 2 : 0;
    }
}

// ---------------------------------------------------------------------------
// compress and decompress

const std::uint8_t* bytes_of(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

Codec codec_arg(const Cell* method) {
    static constexpr std::string_view names[] = {"zlib", "deflate", "gzip"};
    const int i = natives_args::spelling_index(method, names);
    if (i < 0) natives_args::fire_invalid_arg(method);
    return static_cast<Codec>(i);
}

// The bytes to compress: a string's UTF-8 text or a binary's bytes, from
// the index.
std::string input_bytes(Cell* data) {
    if (data->is(Type::binary))
        return std::string(reinterpret_cast<const char*>(binary::ks_head(data)),
                           static_cast<std::size_t>(binary::ks_length(data)));
    return string::to_utf8(data);
}

}  // namespace

namespace entries {

Status to_local_file(const std::int32_t* args, std::int32_t) {
    Cell path = *arg(0);
    Cell out;
    string::make_at(&out, string::ks_abs_length(&path));
    file::convert_to_os_path(&path, &out, ref_used(args, 1));
    *arg(0) = out;
    return Status::ok;
}

Status size_q(const std::int32_t*, std::int32_t) {
    Cell* file = arg(0);
    const std::int32_t n = string::ks_length(file);
    if (n > 0 && string::ks_abs_at(file, static_cast<std::int32_t>(file->data1) + n - 1) == '/') {
        none::make_at(file);
        return Status::ok;
    }
    const std::int64_t size = host::file_size(file::to_os_path(file));
    // A size beyond what integer! holds is none, never wrapped.
    if (size < 0 || size > INT32_MAX) none::make_at(file);
    else *file = integer::make_cell(static_cast<std::int32_t>(size));
    return Status::ok;
}

Status wait(const std::int32_t*, std::int32_t) {
    Cell* value = arg(0);
    double seconds;
    if (value->is(Type::integer) || value->is(Type::float_) || value->is(Type::time))
        seconds = natives_args::number_of(value);
    else
        natives_args::fire_invalid_arg(value);
    none::make_at(value);
    platform::wait(seconds);
    if (natives_system::wait_events) natives_system::wait_events();
    return Status::ok;
}

Status unset(const std::int32_t*, std::int32_t) {
    const Cell target = *arg(0);
    if (target.is(Type::word)) {
        Cell word = target;
        context::set_in(&word, &unset::value, word.data1, false);
    } else {
        for (std::int32_t i = std::max(series::head(&target), 0);; ++i) {
            memory::SeriesBuffer* b = block::buffer(&target);
            if (i >= static_cast<std::int32_t>(b->length())) break;
            Cell word = b->cells()[i];
            if (word.is(Type::word)) context::set_in(&word, &unset::value, word.data1, false);
        }
    }
    unset::make_at(arg(0));
    return Status::ok;
}

Status new_line(const std::int32_t* args, std::int32_t) {
    const Cell position = *arg(0);
    const bool on = logic::get(arg(1));
    const Cell* size = ref_arg(args, 2);
    memory::SeriesBuffer* b = block::buffer(&position);
    Cell* first = b->cells() + std::max(series::head(&position), 0);
    Cell* end = b->cells_tail();
    if (!ref_used(args, 1) && !size) {
        if (first < end) set_marker(first, on);
        return Status::ok;
    }
    const std::int32_t step = size ? integer::get(size) : 1;
    if (step <= 0) series::fire_out_of_range(size);
    std::int32_t count = 0;
    for (Cell* c = first; c < end; ++c, ++count) set_marker(c, (count % step == 0) == on);
    return Status::ok;
}

Status new_line_q(const std::int32_t*, std::int32_t) {
    const Cell position = *arg(0);
    memory::SeriesBuffer* b = block::buffer(&position);
    const std::int32_t head = std::max(series::head(&position), 0);
    const bool marked = head < static_cast<std::int32_t>(b->length()) &&
                        (b->cells()[head].header & cell_flag::new_line) != 0;
    logic::make_at(arg(0), marked);
    return Status::ok;
}

Status context_q(const std::int32_t*, std::int32_t) {
    const Cell word = *arg(0);
    if (!word.data1) {
        none::make_at(arg(0));
        return Status::ok;
    }
    const Cell owner = *context::owner(word.data1);
    if (owner.is(Type::unset)) none::make_at(arg(0));
    else *arg(0) = owner;
    return Status::ok;
}

Status set_env(const std::int32_t*, std::int32_t) {
    Cell* var = arg(0);
    Cell* value = arg(1);
    const std::string name = env_name(var);
    const bool removing = value->is(Type::none);
    const std::string text = removing ? std::string() : string::to_utf8(value);
    // The system takes NUL-terminated texts: a NUL would silently cut the
    // name or the value short.
    if (name.find('\0') != std::string::npos) natives_args::fire_invalid_arg(var);
    if (text.find('\0') != std::string::npos) natives_args::fire_invalid_arg(value);
    // A name the system refuses (empty, or holding "=") would leave the
    // environment unchanged while the call looked successful.
    if (!platform::set_env(name.c_str(), removing ? nullptr : text.c_str()))
        natives_args::fire_invalid_arg(var);
    *arg(0) = *value;
    return Status::ok;
}

Status get_env(const std::int32_t*, std::int32_t) {
    const std::string name = env_name(arg(0));
    // No variable's name holds a NUL: the cut name would answer another's.
    const std::size_t needed =
        name.find('\0') != std::string::npos ? 0 : platform::get_env(name.c_str(), nullptr, 0);
    if (needed < 1) {
        none::make_at(arg(0));
        return Status::ok;
    }
    std::string value(needed, '\0');
    const std::size_t length = platform::get_env(name.c_str(), value.data(), value.size());
    value.resize(std::min(length, needed - 1));
    make_text(arg(0), value);
    return Status::ok;
}

Status list_env(const std::int32_t*, std::int32_t) {
    Cell out;
    std::int32_t count = 0;
    host::for_each_env([&](std::string_view, std::string_view) { ++count; });
    map::make_at(&out, nullptr, count);
    host::for_each_env([&](std::string_view name, std::string_view value) {
        Cell key;
        Cell text;
        make_text(&key, name);
        make_text(&text, value);
        map::put(&out, &key, &text, true);
    });
    *arg(0) = out;
    return Status::ok;
}

Status now(const std::int32_t* args, std::int32_t) {
    check_now_refinements(args);
    const bool utc = ref_used(args, r_utc);
    Cell* out = arg(0);
    if (ref_used(args, r_date)) {
        const std::uint32_t d = platform::get_date(utc);
        *out = date::make_cell(
            date::pack(date::year_of(d), date::month_of(d), date::day_of(d), 0, false), 0.0);
        return Status::ok;
    }
    const Cell current = current_date(utc, ref_used(args, r_precise));
    static constexpr struct { int ref; int field; } selectors[] = {
        {r_year, date::f_year}, {r_month, date::f_month}, {r_day, date::f_day},
        {r_zone, date::f_zone}, {r_time, date::f_time}, {r_weekday, date::f_weekday},
        {r_yearday, date::f_yearday},
    };
    for (const auto& s : selectors) {
        if (ref_used(args, s.ref)) {
            date::get_field(&current, s.field, out);
            return Status::ok;
        }
    }
    *out = current;
    return Status::ok;
}

Status as(const std::int32_t*, std::int32_t) {
    const Cell* type = arg(0);
    Cell spec = *arg(1);
    const Type target = type->is(Type::datatype) ? static_cast<Type>(type->data1) : type->type();
    const int group = as_group(target);
    if (group == 0 || group != as_group(spec.type())) {
        Cell a;
        Cell b;
        registry::make_datatype(&a, target);
        registry::make_datatype(&b, spec.type());
        fire(ErrorId::script_not_related, &a, &b);
    }
    spec.set_type(target);
    *arg(0) = spec;
    return Status::ok;
}

Status call(const std::int32_t* args, std::int32_t) {
    const std::int32_t result = process::call(
        arg(0), ref_used(args, r_wait), ref_used(args, r_show), ref_used(args, r_console),
        ref_used(args, r_shell), ref_arg(args, r_input), ref_arg(args, r_output),
        ref_arg(args, r_error));
    *arg(0) = integer::make_cell(result);
    return Status::ok;
}

Status browse(const std::int32_t*, std::int32_t) {
    Cell* target = arg(0);
    std::string text;
    if (target->is(Type::file)) {
        Cell os;
        string::make_at(&os, string::ks_abs_length(target));
        file::convert_to_os_path(target, &os, false);
        text = string::to_utf8(&os);
    } else {
        text = string::to_utf8(target);
    }
    // LINUX: the desktop's opener stands for the shell's "open" verb; a
    // system without one cannot browse.
    if (!host::program_on_path_q("xdg-open")) fire(ErrorId::internal_feature_na);
    host::launch_detached("xdg-open", text.c_str());
    unset::make_at(arg(0));
    return Status::ok;
}

Status compress(const std::int32_t*, std::int32_t) {
    const Codec codec = codec_arg(arg(1));
    if (!natives_system::codec_service.compress) fire(ErrorId::internal_feature_na);
    const std::string input = input_bytes(arg(0));
    Cell out;
    natives_system::run_codec(natives_system::codec_service.compress, codec, bytes_of(input),
                              input.size(), input.size() + 32, &out, arg(0));
    *arg(0) = out;
    return Status::ok;
}

Status decompress(const std::int32_t* args, std::int32_t) {
    const Codec codec = codec_arg(arg(1));
    const auto fn = natives_system::codec_service.decompress;
    if (!fn) fire(ErrorId::internal_feature_na);
    const std::string input = input_bytes(arg(0));
    std::size_t room = 0;
    const Cell* size = ref_arg(args, 1);
    if (size) {
        const std::int32_t n = integer::get(size);
        if (n < 0) natives_args::fire_invalid_arg(size);
        room = static_cast<std::size_t>(n);
    }
    if (codec == Codec::gzip || room <= input.size()) {
        std::size_t measured = 0;
        const auto* in = reinterpret_cast<const std::uint8_t*>(input.data());
        if (fn(codec, in, input.size(), nullptr, &measured) != CodecResult::ok) {
            Cell data = *arg(0);
            fire(ErrorId::script_invalid_data, &data);
        }
        room = measured;
    }
    Cell out;
    natives_system::run_codec(fn, codec, bytes_of(input), input.size(), room, &out, arg(0));
    *arg(0) = out;
    return Status::ok;
}

Status recycle(const std::int32_t* args, std::int32_t count) {
    if (ref_used(args, 1) || ref_used(args, 2)) {
        collector::set_active(ref_used(args, 1));
        unset::make_at(arg(0));
        return Status::ok;
    }
    collector::do_cycle();
    // The memory in use, as stats answers it without refinements.
    const std::int32_t plain[] = {args[0], -1, -1};
    return stats(plain, count);
}

// The lexer's entry takes the natives' calling convention as it is.
Status transcode(const std::int32_t* args, std::int32_t count) {
    return lexer::transcode_entry(args, count);
}

}  // namespace entries

}  // namespace kiv::natives
