// KIVBIN reader: an image back into values, appended to a target block.
//
// One recursive descent over the records. Every record fills exactly one
// cell: a record at the top level or inside a block is a new cell at that
// block's tail, a field value is its slot, and the value a container holds
// is in place before its contents are read, so that a reference path met
// inside it can already step through it. Nothing in an image is trusted:
// each read checks the bytes left, and a count is accepted only when the
// records or bytes it announces could fit in what is left.
//
// GC: each new value is stored in its cell (reachable from the target
// block) before anything else is allocated for it; node ids made ahead of
// their value stay in C++ locals, which the collector's stack scan sees.
#include <cstring>
#include <string_view>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/lz.h"
#include "runtime/memory.h"
#include "runtime/services/kivbin-internal.h"
#include "runtime/unicode.h"

namespace kiv::kivbin {

namespace {

using namespace format;
using memory::SeriesBuffer;

constexpr std::uint32_t header_of(Type t) { return static_cast<std::uint32_t>(t); }

Cell plain_cell(Type t, std::uint32_t d1, std::uint32_t d2, std::uint32_t d3) {
    return Cell{header_of(t), d1, d2, d3};
}

// What a record's start told: its datatype and flags.
struct Head {
    const std::uint8_t* at;  // the record's first byte, for messages
    Type type;
    std::uint32_t id;
    bool new_line = false;
    bool reference = false;  // C1, or header bit 19
    bool define = false;     // C4, or a boot word's header bit 25
    bool bit6 = false;       // compact: the tag's per-type flag
    std::uint32_t header = 0;  // normal: the header word
};

class Reader {
public:
    Reader(const Image& image, NodeId root, bool user)
        : p_(image.records), end_(image.records_end), body_(image.body),
          body_offset_(image.body_offset), compact_(image.compact), user_(user), root_(root),
          symbols_(image.symbols) {
        root_base_ = static_cast<std::int32_t>(memory::buffer_of(root)->length());
        ids_.assign(symbols_.count, 0);
        global_indexes_.assign(symbols_.count, 0);
    }

    // Decodes every record into the root block.
    void run() {
        for (;;) {
            skip_padding();
            if (p_ >= end_) return;
            top_record();
        }
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
    const std::uint8_t* body_;
    std::size_t body_offset_;
    bool compact_;
    bool user_;
    NodeId root_;
    std::int32_t root_base_ = 0;
    SymbolTable symbols_;
    std::vector<std::uint32_t> ids_;  // interned symbol ids, 0 until first use
    // The global word's index for each table index, + 1 (0: not looked up);
    // a word's index never changes once it is in the global context.
    std::vector<std::uint32_t> global_indexes_;
    std::uint32_t last_symbol_ = 0;
    std::vector<std::uint32_t> path_;
    int depth_ = 0;

    // --- failure and primitives ---------------------------------------------

    [[noreturn]] void invalid(const std::uint8_t* at) const {
        const auto position = static_cast<std::int32_t>(at - body_ + body_offset_ + 1);
        const Cell arg = plain_cell(Type::integer, 0, static_cast<std::uint32_t>(position), 0);
        fire(ErrorId::script_kb_invalid_record, &arg);
    }
    [[noreturn]] static void no_codec(std::uint32_t id) {
        Cell type;
        registry::make_datatype(&type, static_cast<Type>(id));
        fire(ErrorId::access_no_codec, &type);
    }

    std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }
    void need(std::size_t n) const {
        if (left() < n) invalid(p_);
    }
    std::uint8_t u8() {
        need(1);
        return *p_++;
    }
    std::uint32_t raw32() {
        need(4);
        const std::uint32_t v = p_[0] | (p_[1] << 8) | (p_[2] << 16) | (std::uint32_t{p_[3]} << 24);
        p_ += 4;
        return v;
    }
    std::uint32_t leb() {
        const std::uint8_t* at = p_;
        std::uint32_t v = 0;
        for (int i = 0; i < 5; ++i) {
            const std::uint8_t b = u8();
            if (i == 4 && (b & 0xF0)) invalid(at);
            v |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        invalid(at);
    }
    // An unsigned field: LEB128 or a word.
    std::uint32_t field() { return compact_ ? leb() : raw32(); }
    // A signed field: zigzag or a word.
    std::int32_t signed_field() {
        return compact_ ? unzigzag(leb()) : static_cast<std::int32_t>(raw32());
    }
    // A count of items that each take at least `each` bytes.
    std::uint32_t count(std::size_t each) {
        const std::uint8_t* at = p_;
        const std::uint32_t n = field();
        if (n > left() / each) invalid(at);
        return n;
    }
    // A series head: never negative.
    std::int32_t head_field() {
        const std::uint8_t* at = p_;
        const std::uint32_t h = field();
        if (h > 0x7FFFFFFF) invalid(at);
        return static_cast<std::int32_t>(h);
    }
    // Bytes padded to 4 in normal mode.
    const std::uint8_t* bytes(std::size_t n) {
        const std::size_t padded = compact_ ? n : (n + 3) & ~std::size_t{3};
        need(padded);
        const std::uint8_t* at = p_;
        p_ += padded;
        return at;
    }
    // The 8 bytes of a double into a cell's payload words 2-3.
    void float64(Cell* out) {
        const std::uint32_t a = raw32();
        const std::uint32_t b = raw32();
        out->data2 = compact_ ? a : b;  // compact: low word first
        out->data3 = compact_ ? b : a;
    }
    // The smallest record: one byte, or one word.
    std::size_t min_record() const { return compact_ ? 1 : 4; }

    void skip_padding() {
        if (compact_) return;
        while (left() >= 4 && p_[0] == 0 && p_[1] == 0 && p_[2] == 0 && p_[3] == 0) p_ += 4;
    }

    // --- symbols --------------------------------------------------------------

    // The symbol id of the table index read here; the index goes to
    // `last_symbol_`.
    std::uint32_t symbol() {
        const std::uint8_t* at = p_;
        const std::uint32_t index = field();
        if (index >= symbols_.count) invalid(at);
        last_symbol_ = index;
        if (ids_[index]) return ids_[index];
        const std::uint8_t* o = symbols_.offsets + 4 * std::size_t{index};
        const std::uint32_t offset = o[0] | (o[1] << 8) | (o[2] << 16) | (std::uint32_t{o[3]} << 24);
        if (offset >= symbols_.size) invalid(at);
        const std::uint8_t* text = symbols_.strings + offset;
        // The area ends with a NUL, so the text ends inside it.
        const auto length = static_cast<std::size_t>(
            static_cast<const std::uint8_t*>(std::memchr(text, 0, symbols_.size - offset)) - text);
        if (length == 0 || !valid_utf8(text, length)) invalid(at);
        ids_[index] = symbol::make_from_buffer(text, static_cast<std::int32_t>(length));
        return ids_[index];
    }

    static bool valid_utf8(const std::uint8_t* text, std::size_t length) {
        const std::uint8_t* end = text + length;
        for (const std::uint8_t* p = text; p < end;) {
            std::int32_t cp;
            p = unicode::fast_decode_utf8_char(p, end, &cp);
            if (cp < 0) return false;
        }
        return true;
    }

    // --- reference paths ------------------------------------------------------

    void read_path() {
        const std::uint8_t* at = p_;
        if (!compact_ && raw32() != header::reference_record) invalid(at);
        const std::uint32_t depth = field();
        if (depth < 1 || depth > max_path_depth || depth > left() / min_record()) invalid(at);
        path_.resize(depth);
        for (std::uint32_t i = 0; i < depth; ++i) path_[i] = field();
    }

    // The value a path leads to, from the root block.
    Cell resolve(const std::uint8_t* at) {
        Cell current = plain_cell(Type::block, 0, root_, 0);
        for (std::size_t step = 0; step < path_.size(); ++step) {
            std::uint32_t index = path_[step];
            if (step == 0) index += static_cast<std::uint32_t>(root_base_);
            current = step_into(current, index, at);
        }
        return current;
    }

    Cell step_into(const Cell& v, std::uint32_t index, const std::uint8_t* at) {
        switch (v.type()) {
            case Type::block: case Type::paren: case Type::path: case Type::lit_path:
            case Type::set_path: case Type::get_path: case Type::hash: case Type::map:
            case Type::native: case Type::action:
                return cell_at(v.data2, index, at);
            case Type::object:
                return field_at(v.data1, index, at);
            case Type::error:
                if (index >= static_cast<std::uint32_t>(error::field_count)) invalid(at);
                return field_at(v.data1, index + static_cast<std::uint32_t>(error::Field::arg1), at);
            case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
            case Type::refinement: {
                if (v.data1 == 0) invalid(at);
                const Cell* owner = context::owner(v.data1);
                if (context::header(v.data1)->header & context::flag::values_on_stack)
                    return step_into(*owner, index, at);
                return field_at(v.data1, index, at);
            }
            case Type::function: case Type::op: {
                if (v.is(Type::op) && op::source_type(&v) != Type::function) invalid(at);
                if (index == 0) return plain_cell(Type::block, 0, v.data2, 0);
                const Cell body = *function::more_cell(&v, function::more::body);
                if (index != 1 || !body.is(Type::block)) invalid(at);
                return body;
            }
            default:
                invalid(at);
        }
    }

    Cell cell_at(NodeId node, std::uint32_t index, const std::uint8_t* at) {
        SeriesBuffer* b = memory::buffer_of(node);
        if (b->unit() != sizeof(Cell) || index >= b->length()) invalid(at);
        return b->cells()[index];
    }

    Cell field_at(NodeId ctx, std::uint32_t index, const std::uint8_t* at) {
        const Cell* h = context::header(ctx);
        if (h->header & context::flag::values_on_stack) invalid(at);
        if (index >= memory::buffer_of(h->data2)->length()) invalid(at);
        return *context::slot(ctx, static_cast<std::int32_t>(index));
    }

    // --- records --------------------------------------------------------------

    struct Depth {
        Reader& r;
        explicit Depth(Reader& reader, const std::uint8_t* at) : r(reader) {
            if (++r.depth_ > max_nesting) r.invalid(at);
        }
        ~Depth() { --r.depth_; }
    };

    // A new cell at the tail of the block's buffer.
    static Cell* new_cell(NodeId into) { return memory::alloc_tail_cell(memory::buffer_of(into)); }

    // One record at the top level: a C4 definition (boot image) leaves
    // nothing behind.
    void top_record() {
        const std::uint32_t before = memory::buffer_of(root_)->length();
        const bool define = fill(new_cell(root_), true);
        if (define) define_word(before);
    }

    // Sets the word at root cell `position` to the value after it, then
    // drops both.
    void define_word(std::uint32_t position) {
        skip_padding();
        if (p_ >= end_) invalid(p_);
        const std::uint8_t* at = p_;
        fill(new_cell(root_), false);
        SeriesBuffer* b = memory::buffer_of(root_);
        Cell word = b->cells()[position];
        const Cell value = b->cells()[position + 1];
        if (!word.is(Type::issue)) {
            if (word.data1 == 0) invalid(at);
            context::set_in(&word, &value, word.data1, false);
        }
        b = memory::buffer_of(root_);
        b->tail = b->offset + position * sizeof(Cell);
    }

    // Reads the prefixes and the tag, or the normal header word.
    Head read_head(bool allow_define) {
        skip_padding();
        Head h{p_, Type::unset, 0};
        if (!compact_) {
            h.header = raw32();
            h.id = h.header & header::type_mask;
            h.new_line = h.header & header::new_line;
            h.reference = (h.header & header::reference) && h.id != header_of(Type::op);
            if (h.id == 0) invalid(h.at);
            h.type = static_cast<Type>(h.id);
            return h;
        }
        for (;;) {
            if (p_ >= end_) invalid(p_);
            const std::uint8_t b = *p_;
            if (b == prefix_new_line) h.new_line = true;
            else if (b == prefix_reference) h.reference = true;
            else if (b == prefix_define) {
                if (user_ || !allow_define) invalid(p_);
                h.define = true;
            } else break;
            ++p_;
        }
        const std::uint8_t* tag_at = p_;
        const std::uint8_t tag = u8();
        if (tag >= 0x80) {
            if (h.reference || h.define) invalid(tag_at);
            h.id = tag;  // the caller tells these apart by the byte
            return h;
        }
        h.bit6 = tag & tag_bit6;
        h.id = tag & tag_long_id;
        if (h.id == tag_long_id) h.id = leb();
        if (h.id == 0 || h.id > 0xFF) invalid(tag_at);
        h.type = static_cast<Type>(h.id);
        if (h.define && !is_word_record(h.type) && h.type != Type::issue) invalid(tag_at);
        return h;
    }

    // Decodes one record into `out`. Answers whether it was a definition
    // (the value record still follows).
    bool fill(Cell* out, bool allow_define) {
        Head h = read_head(allow_define);
        Depth guard(*this, h.at);
        *out = plain_cell(Type::unset, 0, 0, 0);
        if (compact_ && h.id >= 0x80) {
            byte_tag(h, out);
        } else if (!compact_ && h.id == header::reference_record) {
            p_ = h.at;  // the header word is the reference block's marker
            read_path();
            *out = resolve(h.at);
        } else {
            payload(h, out);
        }
        // A definition (a boot word's header bit 25) stands only at the top.
        if (h.define && !allow_define) invalid(h.at);
        if (h.new_line) out->header |= cell_flag::new_line;
        return h.define;
    }

    void byte_tag(const Head& h, Cell* out) {
        const std::uint32_t tag = h.id;
        if (tag < tag_true) *out = plain_cell(Type::integer, 0, tag & 0x3F, 0);
        else if (tag == tag_true) *out = plain_cell(Type::logic, 1, 0, 0);
        else if (tag == tag_false) *out = plain_cell(Type::logic, 0, 0, 0);
        else if (tag == tag_copy) {
            read_path();
            *out = resolve(h.at);
        } else {
            invalid(h.at);
        }
    }

    void payload(Head& h, Cell* out) {
        if (h.id > static_cast<std::uint32_t>(type_count)) invalid(h.at);
        if (is_refused(h.type)) no_codec(h.id);
        if (!registry::entry(h.id).registered && h.type != Type::context) no_codec(h.id);
        switch (h.type) {
            case Type::unset: case Type::none: *out = plain_cell(h.type, 0, 0, 0); return;
            case Type::datatype: return datatype(h, out);
            case Type::logic: return logic(h, out);
            case Type::integer: *out = plain_cell(h.type, 0, static_cast<std::uint32_t>(signed_field()), 0); return;
            case Type::char_: return character(h, out);
            case Type::pair: {
                const std::int32_t x = signed_field();
                const std::int32_t y = signed_field();
                *out = plain_cell(h.type, 0, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
                return;
            }
            case Type::point2d: case Type::point3d: return point(h, out);
            case Type::float_: case Type::time: case Type::percent: return number(h, out);
            case Type::date: return date(h, out);
            case Type::typeset: return typeset(out);
            case Type::tuple: return tuple_value(h, out);
            case Type::money: return money(h, out);
            case Type::issue: *out = plain_cell(h.type, context::global(), symbol(), 0xFFFFFFFF); return;
            case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
            case Type::refinement:
                return user_ ? user_word(h, out) : boot_word(h, out);
            case Type::block: case Type::paren: case Type::path: case Type::lit_path:
            case Type::set_path: case Type::get_path: case Type::hash:
                return cells(h, out);
            case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
            case Type::ref: case Type::binary:
                return text(h, out);
            case Type::vector: return vector_value(h, out);
            case Type::image: return image_value(h, out);
            case Type::map: return map(h, out);
            case Type::bitset: return bitset(h, out);
            case Type::native: case Type::action: return native(h, out);
            case Type::op: return op(out);
            case Type::error: return error_value(out);
            case Type::context: return context_value(h, out);
            case Type::object: return object(h, out, nullptr);
            case Type::function: return function_value(h, out, nullptr);
            default: invalid(h.at);
        }
    }

    // --- scalars --------------------------------------------------------------

    void datatype(const Head& h, Cell* out) {
        const std::uint32_t id = field();
        if (id < 1 || id > static_cast<std::uint32_t>(type_count) || !registry::entry(id).registered)
            invalid(h.at);
        registry::make_datatype(out, static_cast<Type>(id));
    }

    void logic(const Head& h, Cell* out) {
        const std::uint32_t flag = raw32();  // normal mode only: compact logic is a byte tag
        if (flag > 1) invalid(h.at);
        *out = plain_cell(Type::logic, flag, 0, 0);
    }

    void character(const Head& h, Cell* out) {
        const std::uint32_t cp = field();
        if (cp > char_::max_code_point) invalid(h.at);
        *out = plain_cell(Type::char_, 0, cp, 0);
    }

    void point(const Head& h, Cell* out) {
        std::uint32_t words[3] = {0, 0, 0};
        const int n = h.type == Type::point3d ? 3 : 2;
        for (int i = 0; i < n; ++i) words[i] = raw32();
        *out = plain_cell(h.type, words[0], words[1], words[2]);
    }

    void number(const Head& h, Cell* out) {
        *out = plain_cell(h.type, 0, 0, 0);
        if (compact_ && h.bit6) {
            const std::int32_t n = unzigzag(leb());
            float_::set(out, h.type == Type::percent ? n / 100.0 : static_cast<double>(n));
            return;
        }
        float64(out);
    }

    void date(const Head& h, Cell* out) {
        const std::uint32_t word = raw32();
        const bool has_time = word & 0x10000;
        const int month = (word >> 12) & 0xF;
        const int day = (word >> 7) & 0x1F;
        if (month < 1 || month > 12 || day < 1) invalid(h.at);
        if (compact_ && has_time != h.bit6) invalid(h.at);
        *out = plain_cell(Type::date, word, 0, 0);
        if (has_time || !compact_) float64(out);
    }

    void typeset(Cell* out) {
        std::uint8_t bits[12] = {};
        if (compact_) {
            const std::uint8_t* at = p_;
            const std::uint8_t n = u8();
            if (n > 12) invalid(at);
            std::memcpy(bits, bytes(n), n);
        } else {
            std::memcpy(bits, bytes(12), 12);
        }
        *out = plain_cell(Type::typeset, 0, 0, 0);
        std::memcpy(&out->data1, bits, 12);
    }

    void tuple_value(const Head& h, Cell* out) {
        int n = 3;
        if (!compact_) n = static_cast<int>((h.header >> header::unit_shift) & 0xFF);
        else if (h.bit6) n = u8();
        if (n < 1 || n > tuple::max_length) invalid(h.at);
        const std::uint8_t* source = compact_ ? bytes(static_cast<std::size_t>(n)) : bytes(12);
        *out = plain_cell(Type::tuple, 0, 0, 0);
        tuple::make_at(out, n, source);
    }

    void money(const Head& h, Cell* out) {
        const bool negative = compact_ ? h.bit6 : (h.header & header::negative) != 0;
        const std::uint8_t* digits = bytes(12);
        for (int i = 1; i < 12; ++i)
            if ((digits[i] >> 4) > 9 || (digits[i] & 0xF) > 9) invalid(h.at);
        *out = plain_cell(Type::money, 0, 0, 0);
        std::memcpy(reinterpret_cast<std::uint8_t*>(out) + 4, digits, 12);
        money::set_sign(out, negative);
    }

    // --- words ----------------------------------------------------------------

    // A word bound to the global context, or an unbound refinement; `sym`
    // was the last symbol read.
    void global_word(Type type, std::uint32_t sym, Cell* out) {
        if (type == Type::refinement) {
            *out = plain_cell(type, 0, sym, 0xFFFFFFFF);
            return;
        }
        // PERF: the global lookup once per symbol of the image, not once
        // per word (decoding a 156 KB image: 2.3 ms before).
        std::uint32_t& known = global_indexes_[last_symbol_];
        if (known) {
            *out = plain_cell(type, context::global(), sym, known - 1);
            return;
        }
        word::make_at(sym, out);
        out->set_type(type);
        known = out->data3 + 1;
    }

    void user_word(const Head& h, Cell* out) {
        const std::uint32_t sym = symbol();
        const bool bound = compact_ ? h.bit6 : !(h.header & header::word_global);
        const std::int32_t index = signed_field_if(compact_ ? bound : true);
        if (!bound) return global_word(h.type, sym, out);
        if (h.reference) {
            read_path();
            const NodeId ctx = context_of(resolve(h.at), h.at);
            return bind_word(h, sym, index, ctx, out);
        }
        // The object or function record that defines the context follows;
        // it stands in no cell of its own.
        WordBinding binding{&h, sym, index, out};
        Head inner = read_head(false);
        if (inner.new_line || inner.reference) invalid(inner.at);
        Depth guard(*this, inner.at);
        if (inner.type == Type::object) object(inner, nullptr, &binding);
        else if (inner.type == Type::function) function_value(inner, nullptr, &binding);
        else invalid(inner.at);
    }

    std::int32_t signed_field_if(bool present) { return present ? signed_field() : -1; }

    // The context a referenced value gives a word: its own binding, or the
    // context of an object, error or function.
    NodeId context_of(const Cell& v, const std::uint8_t* at) {
        switch (v.type()) {
            case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
            case Type::refinement: case Type::object: case Type::error: case Type::function:
                if (v.data1 == 0 || v.data1 == context::global()) invalid(at);
                return v.data1;
            case Type::op:
                if (op::source_type(&v) != Type::function) invalid(at);
                return v.data1;
            default:
                invalid(at);
        }
    }

    // Binds `out` as a word of the record's type to the context; the index
    // must be -1 or name a field of the same symbol.
    void bind_word(const Head& h, std::uint32_t sym, std::int32_t index, NodeId ctx, Cell* out) {
        if (index != -1) {
            if (index < 0 || index >= context::word_count(ctx)) invalid(h.at);
            const std::uint32_t field_symbol = context::get_word_at(ctx, index)->data2;
            if (symbol::resolve(field_symbol) != symbol::resolve(sym)) invalid(h.at);
        }
        *out = plain_cell(h.type, ctx, sym, static_cast<std::uint32_t>(index));
    }

    struct WordBinding {
        const Head* head;
        std::uint32_t symbol;
        std::int32_t index;
        Cell* out;
    };

    void boot_word(Head& h, Cell* out) {
        const std::uint32_t sym = symbol();
        std::int32_t root_index = -1;
        std::int32_t index = -1;
        if (compact_) {
            if (h.bit6) {
                root_index = static_cast<std::int32_t>(leb());
                index = unzigzag(leb());
            }
        } else {
            root_index = static_cast<std::int32_t>(raw32());
            index = static_cast<std::int32_t>(raw32());
            h.define = h.header & header::word_define;
        }
        if (root_index == -1) return global_word(h.type, sym, out);
        const std::uint32_t roots = memory::buffer_of(root_)->length();
        const std::uint32_t at_root = static_cast<std::uint32_t>(root_base_) + static_cast<std::uint32_t>(root_index);
        if (root_index < 0 || at_root >= roots) invalid(h.at);
        const NodeId ctx = context_of(memory::buffer_of(root_)->cells()[at_root], h.at);
        if (index == -1) index = context::find_word(ctx, sym, true);
        if (index < 0) invalid(h.at);
        bind_word(h, sym, index, ctx, out);
    }

    // --- series ---------------------------------------------------------------

    // A C1 series record: the node of the referenced value, which must hold
    // storage of the unit the record's datatype needs.
    Cell referenced_series(const Head& h, bool cells_wanted) {
        read_path();
        const Cell v = resolve(h.at);
        switch (v.type()) {
            case Type::native: case Type::action: case Type::function: case Type::op:
            case Type::bitset:
                break;
            default:
                if (!series::is_series(v.type())) invalid(h.at);
        }
        if (v.is(Type::op) && op::source_type(&v) != Type::function && !cells_wanted) invalid(h.at);
        const std::uint32_t unit = memory::buffer_of(v.data2)->unit();
        if (cells_wanted ? unit != sizeof(Cell) : (unit != 1 && unit != 2 && unit != 4)) invalid(h.at);
        if (h.type == Type::binary && unit != 1) invalid(h.at);
        if (h.type == Type::bitset && !v.is(Type::bitset)) invalid(h.at);
        if (h.type != Type::bitset && v.is(Type::bitset)) invalid(h.at);
        return v;
    }

    // Block family and hash!.
    void cells(const Head& h, Cell* out) {
        const std::int32_t head = compact_ && !h.bit6 ? 0 : head_field();
        if (h.reference) {
            const Cell v = referenced_series(h, true);
            *out = plain_cell(h.type, static_cast<std::uint32_t>(head), v.data2, 0);
            // A hash! shares the index of the hash! it shares cells with.
            if (h.type == Type::hash && v.is(Type::hash)) out->data3 = v.data3;
            else if (h.type == Type::hash) make_hash(out);
            return;
        }
        const std::uint32_t n = count(min_record());
        const NodeId node = memory::alloc_cells(n ? n : 1);
        *out = plain_cell(h.type == Type::hash ? Type::block : h.type, static_cast<std::uint32_t>(head), node, 0);
        for (std::uint32_t i = 0; i < n; ++i) fill(new_cell(node), false);
        if (h.type == Type::hash) make_hash(out);
    }

    // The string family and binary!.
    void text(const Head& h, Cell* out) {
        const std::int32_t head = compact_ && !h.bit6 ? 0 : head_field();
        if (h.reference) {
            *out = plain_cell(h.type, static_cast<std::uint32_t>(head), referenced_series(h, false).data2, 0);
            return;
        }
        std::uint32_t unit = 1;
        std::uint32_t length;
        const std::uint8_t* at = p_;
        if (compact_ && h.type != Type::binary) {
            const std::uint32_t v = leb();
            if ((v & 3) == 3) invalid(at);
            unit = 1u << (v & 3);
            length = v >> 2;
        } else {
            if (!compact_) unit = (h.header >> header::unit_shift) & 0xFF;
            if (h.type == Type::binary && unit == 0) unit = 1;
            if (unit != 1 && unit != 2 && (unit != 4 || h.type == Type::binary)) invalid(h.at);
            length = field();
        }
        if (length > left() / unit) invalid(at);
        const std::size_t size = std::size_t{length} * unit;
        const std::uint8_t* source = bytes(size);
        if (unit == 4 && !code_points_ok(source, length)) invalid(at);
        const NodeId node = h.type == Type::binary ? memory::alloc_bytes(length)
                                                    : memory::alloc_codepoints(length, unit);
        SeriesBuffer* b = memory::buffer_of(node);
        if (size) std::memcpy(b->head(), source, size);
        b->tail = b->offset + static_cast<std::uint32_t>(size);
        *out = plain_cell(h.type, static_cast<std::uint32_t>(head), node, 0);
    }

    // vector!: a reference must name a vector, whose element type the new
    // value takes; a new buffer's element type and size must be a pair that
    // vector! makes.
    void vector_value(const Head& h, Cell* out) {
        const std::int32_t head = compact_ && !h.bit6 ? 0 : head_field();
        if (h.reference) {
            read_path();
            const Cell v = resolve(h.at);
            if (!v.is(Type::vector)) invalid(h.at);
            *out = plain_cell(Type::vector, static_cast<std::uint32_t>(head), v.data2, v.data3);
            return;
        }
        const std::uint8_t* at = p_;
        std::uint32_t element;
        std::uint32_t size;
        std::uint32_t length;
        if (compact_) {
            const std::uint8_t kind = u8();
            element = kind >> 2;
            size = 1u << (kind & 3);
            length = field();
        } else {
            size = (h.header >> header::unit_shift) & 0xFF;
            length = field();
            element = field();
        }
        const auto type = static_cast<Type>(element);
        const bool sized = vector::floats_q(type) ? size == 8 || (size == 4 && type == Type::float_)
                                                  : size == 1 || size == 2 || size == 4;
        if (element > 0xFF || !vector::element_type_q(type) || !sized) invalid(at);
        if (length > left() / size) invalid(at);
        const std::size_t n = std::size_t{length} * size;
        const std::uint8_t* source = bytes(n);
        // 32-bit char! elements must be code points, as in strings.
        if (type == Type::char_ && size == 4 && !code_points_ok(source, length)) invalid(at);
        Cell made;
        vector::make_at(&made, length ? length : 1, type, size);
        SeriesBuffer* b = memory::buffer_of(made.data2);
        if (n) std::memcpy(b->head(), source, n);
        b->tail = b->offset + static_cast<std::uint32_t>(n);
        *out = plain_cell(Type::vector, static_cast<std::uint32_t>(head), made.data2, element);
    }

    // image!: a reference must name an image, whose record and size the new
    // value shares; new pixels must all be present.
    void image_value(const Head& h, Cell* out) {
        const std::int32_t head = compact_ && !h.bit6 ? 0 : head_field();
        if (h.reference) {
            read_path();
            const Cell v = resolve(h.at);
            if (!v.is(Type::image)) invalid(h.at);
            *out = plain_cell(Type::image, static_cast<std::uint32_t>(head), v.data2, v.data3);
            return;
        }
        const std::uint8_t* at = p_;
        std::uint32_t w;
        std::uint32_t ht;
        if (compact_) {
            w = field();
            ht = field();
        } else {
            const std::uint32_t size = field();
            w = imaging::width_of(size);
            ht = imaging::height_of(size);
        }
        if (w > imaging::max_side || ht > imaging::max_side) invalid(at);
        const std::uint64_t n = std::uint64_t{w} * ht * 4;
        if (n > left()) invalid(at);
        const std::uint8_t* source = bytes(static_cast<std::size_t>(n));
        if (w == 0 || ht == 0) {
            image::make_empty(out);
        } else {
            image::make_at(out, imaging::alloc_record(w, ht), w, ht);
            std::memcpy(imaging::pixels(out->data2), source, static_cast<std::size_t>(n));
        }
        out->data1 = static_cast<std::uint32_t>(head);
    }

    // Indexes the cells of `out` as a hash!, at the same head.
    static void make_hash(Cell* out) {
        Cell block = *out;
        block.set_type(Type::block);
        hash::make_at(out, &block, static_cast<std::int32_t>(memory::buffer_of(block.data2)->length()));
    }

    static bool code_points_ok(const std::uint8_t* p, std::uint32_t n) {
        for (std::uint32_t i = 0; i < n; ++i, p += 4)
            if ((p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24)) > char_::max_code_point)
                return false;
        return true;
    }

    void map(const Head& h, Cell* out) {
        if (h.reference) {
            read_path();
            const Cell v = resolve(h.at);
            if (!v.is(Type::map)) invalid(h.at);
            *out = v;
            out->header = header_of(Type::map);
            return;
        }
        const std::uint8_t* at = p_;
        const std::uint32_t n = count(min_record());
        if (n % 2) invalid(at);
        const NodeId node = memory::alloc_cells(n ? n : 2);
        // The entries are a plain block until every key is in and checked.
        *out = plain_cell(Type::block, 0, node, 0);
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* record_at = p_;
            fill(new_cell(node), false);
            if (i % 2) continue;
            Cell* key = memory::buffer_of(node)->cells() + i;
            if (!map::valid_key_type_q(key->type())) invalid(record_at);
            // Keys of the word family are stored as set-words.
            if (is_word_record(key->type())) key->set_type(Type::set_word);
        }
        const Cell entries = *out;
        map::make_at(out, &entries, static_cast<std::int32_t>(n / 2));
    }

    void bitset(const Head& h, Cell* out) {
        const bool complemented = compact_ ? h.bit6 : (h.header & header::complemented) != 0;
        if (h.reference) {
            *out = plain_cell(Type::bitset, 0, referenced_series(h, false).data2, 0);
            return;
        }
        const std::uint8_t* at = p_;
        const std::uint32_t n = field();
        if (n > left()) invalid(at);
        const std::uint8_t* source = bytes(n);
        bitset::make_at(out, n);
        SeriesBuffer* b = bitset::buffer(out);
        if (n) std::memcpy(b->head(), source, n);
        if (complemented) b->flags |= memory::series_flag::complement;
    }

    // --- callables ------------------------------------------------------------

    void native(const Head& h, Cell* out) {
        const std::uint32_t slot = field();
        const std::int32_t slots = h.type == Type::native ? native::natives_present : action_count;
        if (slot < 1 || slot > static_cast<std::uint32_t>(slots)) invalid(h.at);
        // The spec record decodes into a block of its own, dropped after.
        const NodeId scratch = memory::alloc_cells(1);
        const std::uint8_t* spec_at = p_;
        fill(new_cell(scratch), false);
        const Cell spec = memory::buffer_of(scratch)->cells()[0];
        if (!spec.is(Type::block)) invalid(spec_at);
        // The spec is taken as `make native!` takes one: the slot names the
        // entry, the spec what the interpreter passes it.
        Cell spec_copy = spec;
        native::make_at(out, h.type, &spec_copy, static_cast<std::int32_t>(slot));
    }

    void op(Cell* out) {
        const std::uint8_t* at = p_;
        fill(out, false);
        const Type source = out->type();
        if (source != Type::native && source != Type::action && source != Type::function) invalid(at);
        if (!op::valid_spec_q(out->data2)) invalid(at);
        if (source == Type::function) *function::more_cell(out, function::more::source) = *out;
        out->header = header_of(Type::op) | (static_cast<std::uint32_t>(source) << op::source_shift);
    }

    void error_value(Cell* out) {
        const std::uint8_t* at = p_;
        const std::uint32_t code = field();
        make_error(out, code, at);
        for (auto f = static_cast<std::int32_t>(error::Field::arg1);
             f <= static_cast<std::int32_t>(error::Field::stack); ++f)
            fill(error::field(out, static_cast<error::Field>(f)), false);
    }

    // Makes `out` an error! for a code of the catalogue.
    void make_error(Cell* out, std::uint32_t code, const std::uint8_t* at) {
        if (!error::catalog_ready() || code / 100 >= static_cast<std::uint32_t>(error_category_count))
            invalid(at);
        const NodeId category = error::category(static_cast<std::int32_t>(code / 100))->data1;
        if (code % 100 + 2 >= static_cast<std::uint32_t>(context::word_count(category))) invalid(at);
        Cell spec = plain_cell(Type::integer, 0, code, 0);
        Cell proto;
        registry::make_datatype(&proto, Type::error);
        *out = *registry::lookup<Action::make>(Type::error)(&proto, &spec, Type::error);
    }

    // A context record: the flags, the field words, the values. `owner`
    // becomes the context's owner before any value is read.
    struct ContextShape {
        context::Kind kind;
        bool on_stack;
        bool self;
        bool values;
    };

    ContextShape context_head() {
        const std::uint8_t* at = p_;
        ContextShape s{};
        std::uint32_t kind;
        if (compact_) {
            const std::uint8_t tag = u8();
            if ((tag & tag_long_id) != header_of(Type::context)) invalid(at);
            const std::uint8_t flags = u8();
            kind = flags & context_flag::kind_mask;
            s.on_stack = flags & context_flag::on_stack;
            s.self = flags & context_flag::self;
            s.values = flags & context_flag::values;
        } else {
            const std::uint32_t word = raw32();
            if ((word & header::type_mask) != header_of(Type::context)) invalid(at);
            kind = (word >> header::context_kind_shift) & 3;
            s.self = word & header::context_self;
            s.on_stack = word & header::context_on_stack;
            s.values = word & header::context_values;
        }
        if (kind > 2) invalid(at);
        s.kind = static_cast<context::Kind>(kind);
        return s;
    }

    // Reads the words of a context whose head was read, making it; the
    // values follow separately (`context_values`).
    NodeId context_words(const ContextShape& s, const std::uint8_t* at) {
        const std::uint32_t n = count(min_record());
        const NodeId ctx = context::create(static_cast<std::int32_t>(n), s.on_stack, s.self, 0, s.kind);
        for (std::uint32_t i = 0; i < n; ++i) {
            // Each new word gets its value slot (unset!); a word named twice
            // answers its first index.
            const Cell word = plain_cell(Type::word, 0, symbol(), 0);
            if (context::add_word(ctx, &word) != static_cast<std::int32_t>(i)) invalid(at);
        }
        return ctx;
    }

    void context_values(const ContextShape& s, NodeId ctx) {
        if (!s.values || s.on_stack) return;
        const std::int32_t n = context::word_count(ctx);
        for (std::int32_t i = 0; i < n; ++i) fill(context::slot(ctx, i), false);
    }

    // A stand-alone context: an object! of class -1 that owns it.
    void context_value(const Head& h, Cell* out) {
        p_ = h.at;  // the context head starts with the tag
        skip_prefixes();
        const ContextShape s = context_head();
        if (s.on_stack || s.kind == context::Kind::function) invalid(h.at);
        const NodeId ctx = context_words(s, h.at);
        object::make_from_context(out, ctx, -1);
        *context::owner(ctx) = *out;
        context_values(s, ctx);
    }

    void skip_prefixes() {
        if (!compact_) return;
        while (p_ < end_ && (*p_ == prefix_new_line || *p_ == prefix_reference)) ++p_;
    }

    // object!: a reference, or the class id, the handler entries and the
    // context. With `binding` the object lives only as its context's owner
    // and the word is bound to it before the values are read.
    void object(const Head& h, Cell* out, const WordBinding* binding) {
        if (h.reference) {
            read_path();
            Cell v = resolve(h.at);
            if (is_word_record(v.type()) && v.data1) v = *context::owner(v.data1);
            if (!v.is(Type::object)) invalid(h.at);
            *out = v;
            out->header = header_of(Type::object);
            return;
        }
        std::int32_t class_id = signed_field();
        const bool handlers = compact_ ? h.bit6 : (h.header & header::handlers) != 0;
        std::uint32_t entries[2] = {0, 0};
        if (handlers) {
            entries[0] = static_cast<std::uint32_t>(signed_field());
            entries[1] = static_cast<std::uint32_t>(signed_field());
        }
        if (user_) class_id = -1;
        const std::uint8_t* context_at = p_;
        const ContextShape s = context_head();
        if (s.on_stack || s.kind == context::Kind::function) invalid(context_at);
        const NodeId ctx = context_words(s, context_at);
        Cell made;
        object::make_from_context(&made, ctx, class_id);
        *context::owner(ctx) = made;
        if (out) *out = made;
        if (binding) bind_word(*binding->head, binding->symbol, binding->index, ctx, binding->out);
        context_values(s, ctx);
        if (handlers) set_handlers(ctx, entries, h.at, out);
    }

    void set_handlers(NodeId ctx, const std::uint32_t entries[2], const std::uint8_t* at, Cell* out) {
        const std::int32_t n = context::word_count(ctx);
        std::int32_t index[2];
        for (int i = 0; i < 2; ++i) {
            index[i] = static_cast<std::int16_t>(entries[i] >> 16);
            if (index[i] < -1 || index[i] >= n) invalid(at);
        }
        Cell made = *context::owner(ctx);
        object::init_events(&made, index[0], static_cast<std::int32_t>(entries[0] & 0xFFFF), index[1],
                            static_cast<std::int32_t>(entries[1] & 0xFFFF));
        *context::owner(ctx) = made;
        if (out) *out = made;
    }

    // function!: a reference, or the sizes, the context, the spec and the
    // body.
    void function_value(const Head& h, Cell* out, const WordBinding* binding) {
        if (h.reference) {
            read_path();
            Cell v = resolve(h.at);
            if (is_word_record(v.type()) && v.data1) v = *context::owner(v.data1);
            if (v.is(Type::op) && op::source_type(&v) == Type::function) v.header = header_of(Type::function);
            if (!v.is(Type::function)) invalid(h.at);
            *out = v;
            out->header = header_of(Type::function);
            return;
        }
        const std::uint32_t spec_size = count(1);
        const std::uint32_t body_size = count(1);
        const std::uint8_t* context_at = p_;
        const ContextShape s = context_head();
        if (!s.on_stack || s.kind != context::Kind::function) invalid(context_at);
        const NodeId ctx = context_words(s, context_at);
        const NodeId spec = memory::alloc_cells(spec_size ? spec_size : 1);
        const NodeId body = memory::alloc_cells(body_size ? body_size : 1);
        const NodeId more = memory::alloc_unset_cells(function::more::size);
        SeriesBuffer* mb = memory::buffer_of(more);
        mb->tail = mb->offset + function::more::size * sizeof(Cell);
        mb->cells()[function::more::body] = plain_cell(Type::block, 0, body, 0);
        const Cell made = plain_cell(Type::function, ctx, spec, more);
        *context::owner(ctx) = made;
        if (out) *out = made;
        if (binding) bind_word(*binding->head, binding->symbol, binding->index, ctx, binding->out);
        Cell* holder = out ? out : context::owner(ctx);
        const std::uint8_t* spec_at = p_;
        function_block(holder, false);
        function_block(holder, true);
        if (user_) check_spec(ctx, holder, spec_at);
    }

    // The spec (or the body) of a function record, read into the function's
    // own block or, for a reference, replacing it.
    void function_block(Cell* function, bool body) {
        Head h = read_head(false);
        Depth guard(*this, h.at);
        if (body && h.type == Type::none && !(compact_ && h.id >= 0x80)) {
            *function::more_cell(function, function::more::body) = plain_cell(Type::none, 0, 0, 0);
            return;
        }
        if (h.type != Type::block || (compact_ && h.id >= 0x80)) invalid(h.at);
        if (compact_ ? h.bit6 : true) head_field();  // read and dropped
        NodeId node;
        if (h.reference) {
            node = referenced_series(h, true).data2;
        } else {
            node = body ? function::more_cell(function, function::more::body)->data2 : function->data2;
            const std::uint32_t n = count(min_record());
            for (std::uint32_t i = 0; i < n; ++i) fill(new_cell(node), false);
        }
        Cell block = plain_cell(Type::block, 0, node, 0);
        if (h.new_line) block.header |= cell_flag::new_line;
        if (body) {
            *function::more_cell(function, function::more::body) = block;
            return;
        }
        function->data2 = node;
        *context::owner(function->data1) = *function;
    }

    // User data: the spec must be one a function could be made from, and
    // the context must hold exactly the words the spec names.
    void check_spec(NodeId ctx, Cell* function, const std::uint8_t* at) {
        Cell spec = plain_cell(Type::block, 0, function->data2, 0);
        function::validate_spec(&spec);
        const NodeId expected = context::make(&spec, true, false, context::Kind::function);
        const std::int32_t n = context::word_count(ctx);
        if (context::word_count(expected) != n) invalid(at);
        for (std::int32_t i = 0; i < n; ++i)
            if (context::get_word_at(expected, i)->data2 != context::get_word_at(ctx, i)->data2 &&
                symbol::resolve(context::get_word_at(expected, i)->data2) !=
                    symbol::resolve(context::get_word_at(ctx, i)->data2))
                invalid(at);
    }
};

}  // namespace

void decode_records(const Image& image, NodeId root, bool user) {
    Reader reader(image, root, user);
    reader.run();
}

}  // namespace kiv::kivbin
