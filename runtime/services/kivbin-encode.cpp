// KIVBIN writer: one value, with everything it reaches, into an image.
//
// The writer walks the value depth first. Each value written takes the next
// index of the container being written (the index counter); entering a
// container pushes the counter on the path stack and restarts it at 0, so
// the path stack plus the counter always name the place of the next value
// from the root block. Every series, context and function is stored in the
// reference table with that path when first written; meeting it again writes
// the path instead of its contents.
//
// GC: the walk allocates nothing (records, symbols and paths live in C++
// buffers, symbol texts are read in place), so no collection can move or
// free what the reference table names; only the finished image is copied
// into a new binary!.
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/fire.h"
#include "runtime/lz.h"
#include "runtime/memory.h"
#include "runtime/services/kivbin-format.h"
#include "runtime/services/kivbin.h"

namespace kiv::kivbin {

namespace {

using namespace format;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t money_sign = 0x4000;  // money!'s header sign bit

void put_u32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put_leb(Bytes& out, std::uint32_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(v));
}


[[noreturn]] void refuse(const Cell* value) {
    const Cell copy = *value;
    fire(ErrorId::access_no_codec, &copy);
}

// Whether a word is written as a plain global word: bound to the global
// context, unbound, or bound to a context whose owner no record can stand
// for (an unset!, none! or block! owner, or an error!).
bool written_global(const Cell* word) {
    const NodeId ctx = word->data1;
    if (ctx == 0 || ctx == context::global()) return true;
    switch (context::owner(ctx)->type()) {
        case Type::object: case Type::function: case Type::port: case Type::routine:
            return false;
        default:
            return true;
    }
}

class Writer {
public:
    Writer(Mode mode, bool boot) : compact_(mode == Mode::compact), boot_(boot) {}

    Bytes records;
    std::vector<std::uint32_t> offsets;  // of each symbol's text in `strings`
    Bytes strings;

    // Writes one value at the current index and steps the counter.
    void value(const Cell* v) {
        switch (v->type()) {
            case Type::unset: case Type::none: head(v, false, false, 0); break;
            case Type::datatype: scalar(v, v->data1); break;
            case Type::logic: logic(v); break;
            case Type::integer: integer(v); break;
            case Type::char_: scalar(v, v->data2); break;
            case Type::pair: pair(v); break;
            case Type::point2d: point(v, 2); break;
            case Type::point3d: point(v, 3); break;
            case Type::float_: case Type::time: case Type::percent: number(v); break;
            case Type::date: date(v); break;
            case Type::typeset: typeset(v); break;
            case Type::tuple: tuple_value(v); break;
            case Type::money: money(v); break;
            case Type::issue: scalar(v, symbol_index(v->data2)); break;
            case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
            case Type::refinement:
                word(v);
                break;
            case Type::block: case Type::paren: case Type::path: case Type::lit_path:
            case Type::set_path: case Type::get_path: case Type::hash:
                cells(v);
                break;
            case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
            case Type::ref: case Type::binary:
                text(v);
                break;
            case Type::vector: vector_value(v); break;
            case Type::image: image_value(v); break;
            case Type::map: map(v); break;
            case Type::bitset: bitset(v); break;
            case Type::native: case Type::action: native(v); break;
            case Type::op: op(v); break;
            case Type::error: error(v); break;
            case Type::object: object(v); break;
            case Type::function: function(v); break;
            default: refuse(v);
        }
        ++counter_;
    }

private:
    struct Place {
        std::uint32_t start;  // in `area_`
        std::uint32_t depth;
    };

    bool compact_;
    bool boot_;
    std::int32_t counter_ = 0;
    std::vector<std::int32_t> path_;
    std::unordered_map<NodeId, Place> places_;
    std::vector<std::int32_t> area_;
    std::unordered_map<std::uint32_t, std::uint32_t> symbol_indexes_;

    // --- fields -----------------------------------------------------------

    void byte(std::uint8_t b) { records.push_back(b); }
    void raw32(std::uint32_t v) { put_u32(records, v); }
    // An unsigned number: LEB128 (compact) or a word (normal).
    void field(std::uint32_t v) { compact_ ? put_leb(records, v) : put_u32(records, v); }
    // A signed number: zigzag LEB128 (compact) or a word (normal).
    void signed_field(std::uint32_t v) {
        const auto n = static_cast<std::int32_t>(v);
        compact_ ? put_leb(records, zigzag(n)) : put_u32(records, v);
    }
    void raw_bytes(const std::uint8_t* p, std::size_t n) { records.insert(records.end(), p, p + n); }
    // Bytes padded with zeros to a multiple of 4 in normal mode.
    void payload(const std::uint8_t* p, std::size_t n) {
        raw_bytes(p, n);
        if (!compact_) records.resize(records.size() + ((4 - n % 4) % 4), 0);
    }
    // The 8 bytes of a double held in the float layout.
    void float64(const Cell* v) {
        if (compact_) {
            raw32(v->data2);  // low word first
            raw32(v->data3);
        } else {
            raw32(v->data3);  // high half first
            raw32(v->data2);
        }
    }

    // Starts a record: compact prefixes and tag (`bit6` its flag), or the
    // normal header word (`bits` its flags). The new-line flag comes from
    // the value.
    void head(const Cell* v, bool reference, bool bit6, std::uint32_t bits) {
        const bool new_line = v->header & cell_flag::new_line;
        const std::uint32_t id = v->type_id();
        if (compact_) {
            if (new_line) byte(prefix_new_line);
            if (reference) byte(prefix_reference);
            byte(static_cast<std::uint8_t>(id | (bit6 ? tag_bit6 : 0)));
            return;
        }
        std::uint32_t word = id | bits;
        if (new_line) word |= header::new_line;
        if (reference) word |= header::reference;
        raw32(word);
    }

    // --- symbols and references --------------------------------------------

    std::uint32_t symbol_index(std::uint32_t symbol) {
        auto [it, added] = symbol_indexes_.try_emplace(symbol, static_cast<std::uint32_t>(offsets.size()));
        if (!added) return it->second;
        offsets.push_back(static_cast<std::uint32_t>(strings.size()));
        const std::string_view text = symbol::text(symbol);
        strings.insert(strings.end(), text.begin(), text.end());
        strings.push_back(0);
        if (!compact_) strings.resize((strings.size() + 7) & ~std::size_t{7}, 0);
        return it->second;
    }

    const Place* find(NodeId node) const {
        auto it = places_.find(node);
        return it == places_.end() ? nullptr : &it->second;
    }

    void write_path(const Place& p) {
        if (!compact_) raw32(header::reference_record);
        field(p.depth);
        for (std::uint32_t i = 0; i < p.depth; ++i)
            field(static_cast<std::uint32_t>(area_[p.start + i]));
    }

    // Pushes the counter, stores the node's path and restarts the counter.
    void enter(NodeId node) {
        if (path_.size() >= static_cast<std::size_t>(max_nesting)) fire(ErrorId::internal_too_deep);
        path_.push_back(counter_);
        places_[node] = Place{static_cast<std::uint32_t>(area_.size()),
                              static_cast<std::uint32_t>(path_.size())};
        area_.insert(area_.end(), path_.begin(), path_.end());
        counter_ = 0;
    }
    void leave() {
        counter_ = path_.back();
        path_.pop_back();
    }

    // --- scalars ------------------------------------------------------------

    // A record of one unsigned field.
    void scalar(const Cell* v, std::uint32_t n) {
        head(v, false, false, 0);
        field(n);
    }

    void pair(const Cell* v) {
        head(v, false, false, 0);
        signed_field(v->data2);
        signed_field(v->data3);
    }

    void three_words(const Cell* v) {
        raw32(v->data1);
        raw32(v->data2);
        raw32(v->data3);
    }

    void logic(const Cell* v) {
        if (!compact_) {
            head(v, false, false, 0);
            raw32(v->data1 ? 1 : 0);
            return;
        }
        if (v->header & cell_flag::new_line) byte(prefix_new_line);
        byte(v->data1 ? tag_true : tag_false);
    }

    void integer(const Cell* v) {
        const auto n = static_cast<std::int32_t>(v->data2);
        if (compact_ && n >= 0 && n <= 63) {
            if (v->header & cell_flag::new_line) byte(prefix_new_line);
            byte(static_cast<std::uint8_t>(tag_small_integer + n));
            return;
        }
        head(v, false, false, 0);
        signed_field(v->data2);
    }

    void point(const Cell* v, int n) {
        head(v, false, false, 0);
        const std::uint32_t words[3] = {v->data1, v->data2, v->data3};
        for (int i = 0; i < n; ++i) raw32(words[i]);
    }

    // The integer a float!, time! or percent! is written as in compact
    // mode, when it is one exactly; -0.0 stays raw.
    static bool as_integer(const Cell* v, std::int32_t* n) {
        const double d = float_::get(v);
        if (std::signbit(d) && d == 0.0) return false;
        if (v->is(Type::percent)) {
            if (!(d >= -21474836.0 && d <= 21474836.0)) return false;
            const double r = std::round(d * 100.0);  // half away from zero
            if (r / 100.0 != d) return false;
            *n = static_cast<std::int32_t>(r);
            return true;
        }
        if (!(d >= -2147483000.0 && d <= 2147483000.0) || d != std::trunc(d)) return false;
        *n = static_cast<std::int32_t>(d);
        return true;
    }

    void number(const Cell* v) {
        std::int32_t n;
        if (compact_ && as_integer(v, &n)) {
            head(v, false, true, 0);
            put_leb(records, zigzag(n));
            return;
        }
        if (!compact_ && records.size() % 8 != 0) raw32(0);  // a padding record
        head(v, false, false, 0);
        float64(v);
    }

    void date(const Cell* v) {
        const bool has_time = v->data1 & 0x10000;
        head(v, false, has_time, 0);
        raw32(v->data1);
        if (has_time || !compact_) float64(v);
    }

    void typeset(const Cell* v) {
        head(v, false, false, 0);
        if (!compact_) return three_words(v);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&v->data1);
        int n = 12;
        while (n > 0 && bytes[n - 1] == 0) --n;
        byte(static_cast<std::uint8_t>(n));
        raw_bytes(bytes, static_cast<std::size_t>(n));
    }

    void tuple_value(const Cell* v) {
        const int n = tuple::length(v);
        head(v, false, n != 3, static_cast<std::uint32_t>(n) << header::unit_shift);
        if (!compact_) return three_words(v);
        if (n != 3) byte(static_cast<std::uint8_t>(n));
        raw_bytes(tuple::bytes(v), static_cast<std::size_t>(n));
    }

    void money(const Cell* v) {
        const bool negative = v->header & money_sign;
        head(v, false, negative, negative ? header::negative : 0);
        // The currency byte and the 11 digit bytes are the cell's last 12.
        raw_bytes(reinterpret_cast<const std::uint8_t*>(v) + 4, 12);
    }

    // --- words --------------------------------------------------------------

    void word(const Cell* v) {
        const std::uint32_t symbol = symbol_index(v->data2);
        if (written_global(v)) {
            head(v, false, false, compact_ || boot_ ? 0 : header::word_global);
            field(symbol);
            if (!compact_) {
                if (boot_) raw32(0xFFFFFFFF);  // the global context's root index
                raw32(0xFFFFFFFF);
            }
            return;
        }
        if (boot_) {
            const Cell copy = *v;
            fire(ErrorId::script_invalid_arg, &copy);
        }
        const NodeId ctx = v->data1;
        const Cell* owner = context::owner(ctx);
        if (owner->is(Type::port) || owner->is(Type::routine)) refuse(owner);
        const Place* place = find(ctx);
        head(v, place != nullptr, true, 0);
        field(symbol);
        signed_field(v->data3);
        if (place) {
            write_path(*place);
            return;
        }
        const Cell holder = *owner;
        enter(ctx);
        if (holder.is(Type::object)) object_record(&holder, false);
        else function_record(&holder, false);
        leave();
    }

    // --- series -------------------------------------------------------------

    // The head written for a series value (a negative one counts as 0).
    static std::uint32_t head_of(const Cell* v) {
        const auto h = static_cast<std::int32_t>(v->data1);
        return h > 0 ? static_cast<std::uint32_t>(h) : 0;
    }

    // Opens a series value with head h: its header and head field, then
    // either a path back to where its buffer was already written (false:
    // nothing more to write) or the buffer's entry (true: write its data,
    // then leave()).
    bool open_series(const Cell* v, NodeId node, std::uint32_t h, std::uint32_t flags) {
        const Place* place = find(node);
        head(v, place != nullptr, h != 0, flags);
        if (h != 0 || !compact_) field(h);
        if (place) {
            write_path(*place);
            return false;
        }
        enter(node);
        return true;
    }

    // Block family and hash!: the head, then the whole buffer from its first
    // cell.
    void cells(const Cell* v) {
        const NodeId node = v->data2;
        const std::uint32_t h = head_of(v);
        if (!open_series(v, node, h, 0)) return;
        memory::SeriesBuffer* b = memory::buffer_of(node);
        const std::uint32_t count = b->length();
        field(count);
        for (std::uint32_t i = 0; i < count; ++i) value(memory::buffer_of(node)->cells() + i);
        leave();
    }

    // The string family and binary!: the head, the length of the whole
    // buffer in units and the units as stored.
    void text(const Cell* v) {
        const NodeId node = v->data2;
        const std::uint32_t h = head_of(v);
        memory::SeriesBuffer* b = memory::buffer_of(node);
        const std::uint32_t unit = v->is(Type::binary) ? 1 : b->unit();
        if (!open_series(v, node, h, unit << header::unit_shift)) return;
        const std::uint32_t length = b->used_bytes() / unit;
        if (compact_ && !v->is(Type::binary)) {
            const std::uint32_t u = unit == 4 ? 2 : unit == 2 ? 1 : 0;
            put_leb(records, (length << 2) | u);
        } else {
            field(length);
        }
        payload(b->head(), b->used_bytes());
        leave();
    }

    // vector!: the head, then the element type and size with the length of
    // the whole buffer in elements (compact: one byte type << 2 | log2 of
    // the size, then the count; normal: the size in the header, the count
    // and the type as fields), then the elements as stored.
    void vector_value(const Cell* v) {
        const NodeId node = v->data2;
        const std::uint32_t h = head_of(v);
        memory::SeriesBuffer* b = memory::buffer_of(node);
        const std::uint32_t size = b->unit();
        if (!open_series(v, node, h, size << header::unit_shift)) return;
        const std::uint32_t length = b->length();
        if (compact_) {
            const std::uint32_t u = size == 8 ? 3 : size == 4 ? 2 : size == 2 ? 1 : 0;
            byte(static_cast<std::uint8_t>(v->data3 << 2 | u));
            field(length);
        } else {
            field(length);
            field(v->data3);
        }
        payload(b->head(), b->used_bytes());
        leave();
    }

    // image!: the head, the size (compact: width and height; normal: the
    // size word), then the pixel words as stored (B, G, R, A).
    void image_value(const Cell* v) {
        const NodeId node = v->data2;
        const std::uint32_t h = head_of(v);
        if (!open_series(v, node, h, 0)) return;
        const std::uint32_t w = image::width(v);
        const std::uint32_t ht = image::height(v);
        if (compact_) {
            field(w);
            field(ht);
        } else {
            raw32(imaging::pack_size(w, ht));
        }
        payload(reinterpret_cast<const std::uint8_t*>(imaging::pixels(node)), std::size_t{w} * ht * 4);
        leave();
    }

    // map!: the live entries, key and value in turn.
    void map(const Cell* v) {
        const NodeId node = v->data2;
        const Place* place = find(node);
        head(v, place != nullptr, false, 0);
        if (place) {
            write_path(*place);
            return;
        }
        enter(node);
        memory::SeriesBuffer* b = memory::buffer_of(node);
        std::uint32_t live = 0;
        for (const Cell* c = b->cells(); c + 1 < b->cells_tail(); c += 2)
            if (c[1].header != 0) ++live;
        field(2 * live);
        const std::uint32_t end = b->length() & ~1u;
        for (std::uint32_t i = 0; i < end; i += 2) {
            const Cell* entry = memory::buffer_of(node)->cells() + i;
            if (entry[1].header == 0) continue;  // a removed entry
            value(entry);
            value(memory::buffer_of(node)->cells() + i + 1);
        }
        leave();
    }

    void bitset(const Cell* v) {
        const NodeId node = v->data2;
        memory::SeriesBuffer* b = memory::buffer_of(node);
        const bool complemented = b->flags & memory::series_flag::complement;
        const Place* place = find(node);
        head(v, place != nullptr, complemented, complemented ? header::complemented : 0);
        if (place) {
            write_path(*place);
            return;
        }
        enter(node);
        field(b->used_bytes());
        payload(b->head(), b->used_bytes());
        leave();
    }

    // --- callables ----------------------------------------------------------

    // native! and action!: the slot, then the spec, which takes no index of
    // its own.
    void native(const Cell* v) {
        head(v, false, false, 0);
        field(v->data1);
        const Cell spec{static_cast<std::uint32_t>(Type::block), 0, v->data2, 0};
        value(&spec);
        --counter_;
    }

    // op!: the tag, then the value it wraps, which takes no index of its own.
    void op(const Cell* v) {
        const Type source = op::source_type(v);
        if (source != Type::native && source != Type::action && source != Type::function) refuse(v);
        head(v, false, false, static_cast<std::uint32_t>(source) << header::wrapped_shift);
        Cell wrapped = *v;
        wrapped.header = static_cast<std::uint32_t>(source);
        value(&wrapped);
        --counter_;
    }

    void error(const Cell* v) {
        const NodeId ctx = v->data1;
        head(v, false, false, 0);
        enter(ctx);
        const Cell* code = error::field(v, error::Field::code);
        field(code->is(Type::integer) ? code->data2 : 0xFFFFFFFF);
        for (auto f = static_cast<std::int32_t>(error::Field::arg1);
             f <= static_cast<std::int32_t>(error::Field::stack); ++f)
            value(error::field(v, static_cast<error::Field>(f)));
        leave();
    }

    // An object or function whose context was written already becomes a
    // reference to where it stands; otherwise its full record.
    void context_value(const Cell* v, void (Writer::*record)(const Cell*, bool)) {
        const NodeId ctx = v->data1;
        if (const Place* place = find(ctx)) {
            head(v, true, false, 0);
            write_path(*place);
            return;
        }
        enter(ctx);
        (this->*record)(v, true);
        leave();
    }

    void object(const Cell* v) { context_value(v, &Writer::object_record); }
    void function(const Cell* v) { context_value(v, &Writer::function_record); }

    // The full object record: class id, handler entries, context. Prefixes
    // only where the object stands as a value of its own.
    void object_record(const Cell* v, bool as_value) {
        const NodeId handlers = v->data3;
        Cell plain = *v;
        if (!as_value) plain.header = static_cast<std::uint32_t>(Type::object);
        head(&plain, false, handlers != 0, handlers ? header::handlers : 0);
        signed_field(v->data2);
        if (handlers) {
            signed_field(memory::buffer_of(handlers)->cells()[0].data1);
            signed_field(memory::buffer_of(handlers)->cells()[1].data1);
        }
        context_record(v->data1);
    }

    // The full function record: the sizes, the context, then the spec and
    // the body as the values 0 and 1.
    void function_record(const Cell* v, bool as_value) {
        Cell plain = *v;
        if (!as_value) plain.header = static_cast<std::uint32_t>(Type::function);
        const Cell spec{static_cast<std::uint32_t>(Type::block), 0, v->data2, 0};
        const Cell body = *function::more_cell(v, function::more::body);
        head(&plain, false, false, 0);
        field(memory::buffer_of(spec.data2)->length());
        field(body.is(Type::block) ? memory::buffer_of(body.data2)->length() : 0);
        context_record(v->data1);
        const std::int32_t saved = counter_;
        counter_ = 0;
        value(&spec);
        value(&body);
        counter_ = saved;
    }

    void context_record(NodeId ctx) {
        const Cell h = *context::header(ctx);
        const bool on_stack = h.header & context::flag::values_on_stack;
        const bool self = h.header & context::flag::has_self;
        const auto kind = static_cast<std::uint32_t>(context::kind_of(ctx));
        const std::int32_t n = context::word_count(ctx);
        const std::int32_t stored = on_stack ? 0 : static_cast<std::int32_t>(memory::buffer_of(h.data2)->length());
        bool values = false;
        for (std::int32_t i = 0; i < n && i < stored; ++i)
            if (!context::slot(ctx, i)->is(Type::unset)) values = true;
        if (compact_) {
            byte(static_cast<std::uint8_t>(Type::context));
            byte(static_cast<std::uint8_t>(kind | (on_stack ? context_flag::on_stack : 0) |
                                           (self ? context_flag::self : 0) |
                                           (values ? context_flag::values : 0)));
        } else {
            raw32(static_cast<std::uint32_t>(Type::context) | (kind << header::context_kind_shift) |
                  (self ? header::context_self : 0) | (on_stack ? header::context_on_stack : 0) |
                  (values ? header::context_values : 0));
        }
        field(static_cast<std::uint32_t>(n));
        for (std::int32_t i = 0; i < n; ++i) field(symbol_index(context::get_word_at(ctx, i)->data2));
        if (!values) return;
        const Cell unset{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
        for (std::int32_t i = 0; i < n; ++i) value(i < stored ? context::slot(ctx, i) : &unset);
    }
};

// The compact image: preamble, LEB128 record count and records size, the
// symbol table, the records.
Bytes assemble_compact(const Writer& w, std::uint8_t version, std::uint32_t record_count) {
    const bool symbols = !w.offsets.empty();
    Bytes image(magic, magic + 6);
    image.reserve(w.records.size() + w.strings.size() + 4 * w.offsets.size() + 32);
    image.push_back(version);
    image.push_back(static_cast<std::uint8_t>(flag_compact | (symbols ? flag_symbols : 0)));
    put_leb(image, record_count);
    put_leb(image, static_cast<std::uint32_t>(w.records.size()));
    if (symbols) {
        put_leb(image, static_cast<std::uint32_t>(w.offsets.size()));
        put_leb(image, static_cast<std::uint32_t>(w.strings.size()));
        for (std::uint32_t offset : w.offsets) put_u32(image, offset);
        image.insert(image.end(), w.strings.begin(), w.strings.end());
    }
    image.insert(image.end(), w.records.begin(), w.records.end());
    return image;
}

// The normal image: the 16-byte header, the symbol table, the records.
Bytes assemble_normal(const Writer& w) {
    const bool symbols = !w.offsets.empty();
    Bytes image(magic, magic + 6);
    image.push_back(writer_version);
    image.push_back(symbols ? flag_symbols : 0);
    put_u32(image, 1);
    put_u32(image, static_cast<std::uint32_t>(w.records.size()));
    if (symbols) {
        put_u32(image, static_cast<std::uint32_t>(w.offsets.size()));
        put_u32(image, static_cast<std::uint32_t>(w.strings.size()));
        for (std::uint32_t offset : w.offsets) put_u32(image, offset);
        image.insert(image.end(), w.strings.begin(), w.strings.end());
    }
    image.insert(image.end(), w.records.begin(), w.records.end());
    return image;
}

// Everything after the preamble packed by the LZ coder, and the flag set.
Bytes compress_body(const Bytes& image) {
    Bytes packed(image.begin(), image.begin() + preamble_size);
    packed[7] |= flag_compressed;
    const Bytes body = lz::compress(image.data() + preamble_size, image.size() - preamble_size);
    packed.insert(packed.end(), body.begin(), body.end());
    return packed;
}

}  // namespace

Cell* encode(const Cell* value, Mode mode, Cell* out) {
    Bytes image;
    {
        Writer w(mode, false);
        const Cell v = *value;
        w.value(&v);
        image = mode == Mode::compact ? assemble_compact(w, writer_version, 1) : assemble_normal(w);
    }
    return binary::load_at(out, image.data(), static_cast<std::int64_t>(image.size()));
}

Cell* encode_boot(const Cell* records, bool compress, Cell* out) {
    Bytes image;
    {
        Writer w(Mode::compact, true);
        const NodeId node = records->data2;
        const std::uint32_t count = memory::buffer_of(node)->length();
        for (std::uint32_t i = 0; i < count; ++i) w.value(memory::buffer_of(node)->cells() + i);
        image = assemble_compact(w, boot_version, count);
    }
    if (compress) image = compress_body(image);
    return binary::load_at(out, image.data(), static_cast<std::int64_t>(image.size()));
}

Cell* save(const Cell* value, bool compact, Cell* out) {
    return encode(value, compact ? Mode::compact : Mode::normal, out);
}

}  // namespace kiv::kivbin
