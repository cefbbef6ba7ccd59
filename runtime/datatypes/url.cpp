// url!: building from blocks, percent-escaped mold, path extension, and
// the routing of open, read and write. The escaping tables are shared with
// file! mold (quoting test), enhex and the lexer (dehex).
#include "runtime/datatypes/url.h"

#include <cstring>

#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/unicode.h"

namespace kiv::url {

HttpRequest http_request = nullptr;
OpenPort open_port = nullptr;

namespace {

constexpr bool alphanumeric(std::uint8_t b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
}

struct Tables {
    bool url[128] = {};
    bool unreserved[128] = {};
    constexpr Tables() {
        for (int b = 0; b < 128; ++b) {
            const auto c = static_cast<std::uint8_t>(b);
            unreserved[b] = alphanumeric(c) || c == '-' || c == '.' || c == '_' || c == '~';
            url[b] = alphanumeric(c);
        }
        for (const char* p = "!#$&'()*+,-./:=?_~@"; *p; ++p) url[static_cast<int>(*p)] = true;
    }
};
constexpr Tables tables;

int hex_value(std::uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    return -1;
}

// Walks the text from its index as UTF-8 bytes, calling emit(byte) for
// each. Stops early when emit answers false.
template <class Emit>
void for_each_utf8_byte(Cell* text, Emit emit) {
    const std::uint32_t unit = string::buffer(text)->unit();
    const std::uint8_t* end = string::ks_tail(text);
    for (const std::uint8_t* p = string::ks_head(text); p < end; p += unit) {
        std::uint8_t bytes[4];
        const int n = unicode::encode_utf8_char(string::get_char(p, unit), bytes);
        for (int i = 0; i < n; ++i)
            if (!emit(bytes[i])) return;
    }
}

// The byte of a "%" escape at code point position i, or -1.
int escape_at(Cell* text, std::int64_t i, std::int64_t length) {
    if (i + 2 >= length || string::ks_abs_at(text, static_cast<std::int32_t>(i)) != '%') return -1;
    const int hi = hex_value(string::ks_abs_at(text, static_cast<std::int32_t>(i + 1)));
    const int lo = hex_value(string::ks_abs_at(text, static_cast<std::int32_t>(i + 2)));
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Decodes the escapes from position i: a UTF-8 sequence spelled as several
// escapes gives one code point, any other escaped byte its own value.
// Answers the code point and advances i past what it used.
std::uint32_t decode_escapes(Cell* text, std::int64_t& i, std::int64_t length) {
    const int lead = escape_at(text, i, length);
    const int need = unicode::utf8_sequence_length(static_cast<std::uint8_t>(lead));
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(lead)};
    int have = 1;
    while (have < need) {
        const int b = escape_at(text, i + 3 * have, length);
        if (b < 0) break;
        bytes[have++] = static_cast<std::uint8_t>(b);
    }
    if (need >= 2 && have == need) {
        std::int32_t cp = 0;
        const std::uint8_t* after = unicode::fast_decode_utf8_char(bytes, bytes + have, &cp);
        if (cp >= 0 && after == bytes + have) {
            i += 3 * have;
            return static_cast<std::uint32_t>(cp);
        }
    }
    i += 3;
    return static_cast<std::uint32_t>(lead);
}

bool http_scheme_q(Cell* value) { return string::starts_with_literal_q(value, "http"); }

Cell method_word(words::Sym name) {
    Cell w;
    word::make_at(words::symbol(name), &w);
    return w;
}

// Sends the request; a request that was not made is a connection failure.
Cell* request(Cell* url, Cell* out, Cell* method, Cell* headers, Cell* data, bool binary,
              bool lines, bool info) {
    Cell result;
    none::make_at(&result);
    if (http_request) http_request(&result, method, url, headers, data, binary, lines, info);
    if (result.is(Type::none)) fire(ErrorId::access_no_connect, url);
    *out = result;
    return out;
}

Cell port_of(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow, bool open) {
    if (!open_port) fire(ErrorId::script_invalid_arg, url);
    Cell port;
    none::make_at(&port);
    open_port(url, &port, new_, read, write, seek, allow, open);
    return port;
}

}  // namespace

bool kept_q(Table table, std::uint8_t byte) {
    if (byte >= 128) return false;
    return table == Table::url ? tables.url[byte] : tables.unreserved[byte];
}

const char* escape_byte(Table table, std::uint8_t byte, int* count) {
    static char text[4];
    if (kept_q(table, byte)) {
        text[0] = static_cast<char>(byte);
        text[1] = 0;
        *count = 1;
        return text;
    }
    text[0] = '%';
    std::memcpy(text + 1, string::byte_to_hex(byte), 3);
    *count = 3;
    return text;
}

void encode_text(Cell* text, Cell* out) {
    for_each_utf8_byte(text, [&](std::uint8_t b) {
        int n;
        string::append_literal(out, escape_byte(Table::unreserved, b, &n));
        return true;
    });
}

void decode_text(Cell* text, Cell* out) {
    const std::int64_t length = string::ks_abs_length(text);
    for (std::int64_t i = static_cast<std::int32_t>(text->data1); i < length;) {
        // GC: appending may collect; positions are re-read for every code point.
        const std::uint32_t cp = escape_at(text, i, length) >= 0
                                     ? decode_escapes(text, i, length)
                                     : string::ks_abs_at(text, static_cast<std::int32_t>(i++));
        string::append_char(string::buffer(out), cp);
    }
}

namespace {

// ---------------------------------------------------------------------------
// Actions.

// A url from a block: scheme "://" host [":" port] ["/" path ...], with "#"
// before an issue! among the path values.
Cell* build(Cell* proto, Cell* spec) {
    const NodeId node = spec->data2;
    const std::int64_t first = static_cast<std::int32_t>(spec->data1);
    auto count = [&] { return static_cast<std::int64_t>(memory::buffer_of(node)->length()) - first; };
    // GC: forming may move the block; every element is re-read through it.
    auto at = [&](std::int64_t i) { return memory::buffer_of(node)->cells()[first + i]; };
    if (count() <= 0) {
        registry::fire_bad_to(Type::url, spec);
    }
    Cell result;
    string::make_at_unit(&result, 16, 1);
    Cell v = at(0);
    string::form_value(&v, &result, -1);
    string::append_literal(&result, "://");
    std::int64_t i = 1;
    if (i < count()) {
        v = at(i++);
        string::form_value(&v, &result, -1);
    }
    if (i < count() && at(i).is(Type::integer)) {
        string::append_literal(&result, ":");
        v = at(i++);
        string::form_value(&v, &result, -1);
    }
    for (bool first_path = true; i < count(); ++i, first_path = false) {
        v = at(i);
        string::append_literal(&result, !first_path && v.is(Type::issue) ? "#" : "/");
        string::form_value(&v, &result, -1);
    }
    result.set_type(Type::url);
    *proto = result;
    return proto;
}

Cell* make(Cell* proto, Cell* spec, Type type) {
    const Type t = spec->type();
    if (type == Type::url && (t == Type::block || t == Type::paren || t == Type::hash))
        return build(proto, spec);
    return registry::row(Type::string).make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, Type type) {
    const Type t = spec->type();
    if (type == Type::url && (t == Type::block || t == Type::paren || t == Type::hash))
        return build(proto, spec);
    return registry::row(Type::string).to(proto, spec, type);
}

int mold(Cell* value, Cell* out, bool, bool, bool, Cell* part_arg, int part, int) {
    std::int64_t written = 0;
    // The text is read afresh for every byte's escape, so it may be the
    // output's own buffer only if copied first.
    Cell text = *value;
    if (value->data2 == out->data2) {
        string::make_at_unit(&text, string::ks_length(value), string::buffer(value)->unit());
        string::concatenate(&text, value, -1, 0, string::Mode::append);
    }
    for_each_utf8_byte(&text, [&](std::uint8_t b) {
        if (part_arg && written >= part) return false;
        int n;
        // "(" and ")" end a url when it is read: they are escaped too, so
        // that the molded url loads back as the same url.
        const char* piece = b == '(' ? "%28" : b == ')' ? "%29" : escape_byte(Table::url, b, &n);
        if (b == '(' || b == ')') n = 3;
        string::append_literal(out, piece);
        written += n;
        return true;
    });
    return static_cast<int>(part - written);
}

// parent/element: a new value of the parent's type with the element's text
// joined on by exactly one "/". Setting is refused.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int, bool,
                bool, bool, bool) {
    if (value) fire(ErrorId::script_bad_path_set, path, element);
    Cell tail;
    string::make_at_unit(&tail, 16, 1);
    string::form_value(element->is(Type::get_word) ? word::get(element) : element, &tail, -1);
    Cell result;
    string::make_at_unit(&result, string::ks_length(parent) + string::ks_length(&tail) + 1,
                         string::buffer(parent)->unit());
    string::concatenate(&result, parent, -1, 0, string::Mode::append);
    const std::int64_t length = string::ks_abs_length(&result);
    const bool parent_slash =
        length > 0 && string::ks_abs_at(&result, static_cast<std::int32_t>(length - 1)) == '/';
    const bool element_slash = string::ks_length(&tail) > 0 && string::ks_abs_at(&tail, 0) == '/';
    if (!parent_slash && !element_slash) string::append_literal(&result, "/");
    if (parent_slash && element_slash) tail.data1 = 1;
    string::concatenate(&result, &tail, -1, 0, string::Mode::append);
    result.set_type(parent->type());
    *parent = result;
    return parent;
}

Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    Cell p = port_of(port, new_, read, write, seek, allow, true);
    *port = p;
    return port;
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (http_scheme_q(source)) {
        if (part || seek || as) fire(ErrorId::internal_not_done);
        Cell method = method_word(words::Sym::get);
        return request(source, source, &method, nullptr, nullptr, binary, lines, info);
    }
    Cell port = port_of(source, false, false, false, false, nullptr, false);
    Cell* result = registry::find<Action::read>(&port)(&port, part, seek, binary, lines, info, as);
    *source = *result;
    return source;
}

// The method, headers and data of a write to an http url: a block
// [method headers data] (empty: get), or any other value posted as it is.
Cell* write_http(Cell* url, Cell* data, bool binary, bool lines, bool info) {
    Cell method = method_word(words::Sym::post);
    Cell headers;
    Cell body = *data;
    bool has_headers = false;
    bool has_body = true;
    if (data->is(Type::block)) {
        memory::SeriesBuffer* b = memory::buffer_of(data->data2);
        const std::int64_t index = static_cast<std::int32_t>(data->data1);
        const std::int64_t n = static_cast<std::int64_t>(b->length()) - index;
        const Cell* items = b->cells() + index;
        if (n <= 0) {
            method = method_word(words::Sym::get);
        } else {
            if (!items[0].is(Type::word)) fire(ErrorId::script_invalid_arg, &items[0]);
            method = items[0];
            has_body = n > 2;
            if (n > 1) {
                if (!items[1].is(Type::block)) fire(ErrorId::script_invalid_arg, &items[1]);
                headers = items[1];
                has_headers = true;
            }
            if (has_body) body = items[2];
        }
    }
    const Type t = body.type();
    if (has_body && t != Type::block && t != Type::string && t != Type::binary)
        fire(ErrorId::script_invalid_arg, &body);
    return request(url, url, &method, has_headers ? &headers : nullptr, has_body ? &body : nullptr,
                   binary, lines, info);
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as) {
    if (http_scheme_q(destination)) {
        if (seek || allow || as) fire(ErrorId::internal_not_done);
        return write_http(destination, data, binary, lines, info);
    }
    Cell port = port_of(destination, false, false, false, false, nullptr, false);
    Cell* result = registry::find<Action::write>(&port)(&port, data, binary, lines, info, append,
                                                        part, seek, allow, as);
    *destination = *result;
    return destination;
}

constexpr ActionRow actions{
    .make = make,
    .to = to,
    .form = inherit,
    .mold = mold,
    .eval_path = eval_path,
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
    .modify = inherit,
    .open = open,
    .read = read,
    .write = write,
};

}  // namespace

void init() { registry::register_type(Type::url, Type::string, "url!", actions); }

}  // namespace kiv::url
