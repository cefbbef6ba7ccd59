// The token loop of the lexer, its structural tokens (containers, paths,
// braced strings, points, commas, comments), the output stack and syntax
// errors. See lexer.h for the model.
#include "runtime/evaluator/lexer.h"

#include <cstdlib>
#include <cstring>

#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/evaluator/lexer-text.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

namespace {

// ---------------------------------------------------------------------------
// Output stack
// ---------------------------------------------------------------------------

// Shared by all active scans, innermost on top. Cells are addressed by index
// so that growing the buffer moves nothing a scan holds; a `Cell*` into it
// is good only until the next push (a callback's nested scan may push).
// GC: the buffer is not on the C++ stack; the collector marks each active
// scan's cells through the hook `init` registers.
struct OutputStack {
    Cell* cells = nullptr;
    int capacity = 0;
};
OutputStack output;
Lexer* innermost = nullptr;

constexpr int initial_output_cells = 1000;

void grow_output() {
    int capacity = output.capacity ? output.capacity * 2 : initial_output_cells;
    void* cells = std::realloc(output.cells, sizeof(Cell) * static_cast<std::size_t>(capacity));
    if (!cells) fire(ErrorId::internal_no_memory);
    output.cells = static_cast<Cell*>(cells);
    output.capacity = capacity;
}

// Thrown to end a scan quietly: a syntax error while values are not made, or
// a token an error callback abandoned (`resume`: go on scanning).
struct Stop {
    bool resume;
};

constexpr int type_id(Type t) { return static_cast<int>(t); }

constexpr bool is_path_type(int t) {
    return t == type_id(Type::path) || t == type_id(Type::lit_path) ||
           t == type_id(Type::set_path) || t == type_id(Type::get_path);
}

int class_of(std::uint8_t b) { return static_cast<int>(byte_classes[b] & 0xFF); }

// ---------------------------------------------------------------------------
// Container markers
// ---------------------------------------------------------------------------
// A marker is a triple! cell: data1 = items of the enclosing level before it,
// data2 = the container's datatype (low 16 bits) and, for a point2D! marker,
// its count of commas (high 16 bits), data3 = offset of the opening character.

Cell* innermost_marker(const Lexer& lx) { return lx.base > lx.head ? cell_at(lx.base - 1) : nullptr; }
int marker_type(const Cell* m) { return static_cast<int>(m->data2 & 0xFFFF); }

const std::uint8_t* innermost_opening(const Lexer& lx) {
    const Cell* m = innermost_marker(lx);
    return m ? lx.input_start + m->data3 : lx.input_start;
}

bool send_event(Lexer& lx, Event event, int type, const std::uint8_t* start,
                const std::uint8_t* end, const Cell* value = nullptr) {
    const Hooks& h = *lx.hooks;
    if (!h.event) return true;
    if (event == ev_scan && lx.kind == Kind::error) {
        event = ev_error;
        type = type_id(Type::error);
    }
    if (!(h.event_mask & event)) return true;
    // A point literal's token includes its parentheses.
    if (lx.kind == Kind::point && start == lx.token_start) --start;
    EventInfo info{event, lx.kind, type, lx.line, start, end, value};
    return h.event(lx, info);
}

bool open_container(Lexer& lx, int type, const std::uint8_t* opening) {
    const Cell* m = innermost_marker(lx);
    if (m && marker_type(m) == type_id(Type::point2d))
        throw_error(lx, nullptr, opening, type_id(Type::point2d));
    if (!send_event(lx, ev_open, type, opening, opening + 1)) return false;
    int enclosing = lx.tail - lx.base;
    Cell* c = push(lx);
    c->set_type(Type::triple);
    c->data1 = static_cast<std::uint32_t>(enclosing);
    c->data2 = static_cast<std::uint32_t>(type);
    c->data3 = static_cast<std::uint32_t>(opening - lx.input_start);
    lx.base = lx.tail;
    lx.entry_state = 0;
    return true;
}

// The datatype a closer of `type` closes a marker of `open` with, or 0 when
// they do not match.
int closing_match(int open, int type) {
    if (type == -1 || type == open) return open;
    if (open == type_id(Type::map) && type == type_id(Type::block)) return open;
    if (open == type_id(Type::path) && type == type_id(Type::set_path)) return type;
    return 0;
}

// Closes the innermost container with `type` (-1: whatever is open).
// The close event comes first, so a callback that refused the opener can
// refuse its closer too; only then is a closer without its opener an error.
bool close_container(Lexer& lx, int type, const std::uint8_t* closer) {
    int index = lx.base - 1;
    int closing = lx.base == lx.head ? 0 : closing_match(marker_type(cell_at(index)), type);
    if (!send_event(lx, ev_close, closing ? closing : type, closer, closer + 1)) {
        lx.entry_state = 0;
        return false;
    }
    if (!closing) {
        lx.closing_type = type;
        throw_error(lx, nullptr, closer, code::missing_opener);
    }
    Cell* m = cell_at(index);  // a callback's own scan may have moved the output stack
    int enclosing = static_cast<int>(m->data1);
    std::uint32_t new_line = m->header & cell_flag::new_line;
    const std::uint8_t* opening = lx.input_start + m->data3;
    if (lx.load) {
        if (!lx.hooks->make_container(lx, closing, cell_at(lx.base), lx.tail - lx.base, m))
            throw_error(lx, opening, closer, type_id(Type::map));
        cell_at(index)->header |= new_line;
        lx.tail = index + 1;
    } else {
        lx.tail = index;
    }
    lx.base = index - enclosing;
    lx.type = closing;
    const Cell* outer = innermost_marker(lx);
    lx.entry_state = outer && is_path_type(marker_type(outer)) ? 59 : 0;
    return true;
}

// ---------------------------------------------------------------------------
// Value tokens
// ---------------------------------------------------------------------------

bool has_scanner(Kind k) { return k == Kind::string || k == Kind::word || k == Kind::issue; }

void run_scanner(Lexer& lx, Kind k, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags) {
    switch (k) {
        case Kind::string: scan_string(lx, s, e, flags); break;
        case Kind::word: scan_word(lx, s, e, flags); break;
        case Kind::issue: scan_issue(lx, s, e, flags); break;
        default: break;
    }
}

// Checks, reports and loads one value token (the order of a scan with a
// callback: check, scan event, load, load event).
void handle_value(Lexer& lx, Kind k, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags) {
    const Hooks& h = *lx.hooks;
    bool scan_events = h.event && (h.event_mask & ev_scan);
    if (has_scanner(k)) {
        run_scanner(lx, k, s, e, flags);
        e = lx.token_end;  // a word ends early at a Unicode blank
    } else if (!lx.load || scan_events) {
        h.loaders[static_cast<int>(k)](lx, s, e, flags, false);
    }
    if (h.event && !send_event(lx, ev_scan, lx.type, s, e)) return;
    if (!lx.load) return;
    h.loaders[static_cast<int>(k)](lx, s, e, flags, true);
    if (h.event && (h.event_mask & ev_load) && lx.tail > lx.base) {
        if (!send_event(lx, ev_load, lx.type, s, e, cell_at(lx.tail - 1))) drop_last(lx);
    }
}

// ---------------------------------------------------------------------------
// Structural tokens
// ---------------------------------------------------------------------------

void error_token(Lexer& lx, const Token& t) {
    int type = state_types[t.prev_state];
    const std::uint8_t* start = t.start;
    if (t.prev_state == 4 || t.prev_state == 5) start = lx.brace_start;
    else if (type == type_id(Type::block) || type == type_id(Type::paren) || is_path_type(type))
        start = nullptr;
    throw_error(lx, start, t.end, type ? type : code::bad_char);
}

// Bytes a point literal may hold before its first ",".
bool in_point_set(std::uint8_t b) {
    switch (b) {
        case '\t': case ' ': case '#': case '+': case '-': case '.':
        case 'A': case 'E': case 'F': case 'I': case 'N':
        case 'a': case 'e': case 'f': case 'i': case 'n':
            return true;
        default:
            return b >= '0' && b <= '9';
    }
}

// After "(": does a point literal follow? At least four bytes, all of the
// float set up to a "," or up to the end of the input.
bool point_ahead(const std::uint8_t* p, const std::uint8_t* end) {
    if (end - p < 4) return false;
    for (; p < end; ++p) {
        if (*p == ',') return true;
        if (!in_point_set(*p)) return false;
    }
    return true;
}

void paren_open(Lexer& lx, const Token& t) {
    if (point_ahead(t.end + 1, lx.input_end)) {
        lx.point_lines = t.lines_before;
        lx.entry_state = 35;
        return;
    }
    open_container(lx, type_id(Type::paren), t.start);
}

void brace_open(Lexer& lx, const Token& t) {
    if (lx.entry_state == 0) {
        lx.brace_depth = 1;
        lx.brace_start = t.end;
        lx.brace_flags = t.lines_before > 0 ? flag::brace_after_line : 0;
        lx.entry_state = 4;
        send_event(lx, ev_open, type_id(Type::string), t.end, t.end + 1);
        return;
    }
    lx.brace_depth++;
    lx.brace_flags |= t.flags;
}

void brace_close(Lexer& lx, const Token& t) {
    lx.brace_flags |= t.flags;
    if (--lx.brace_depth > 0) {
        if (t.end + 1 >= lx.input_end) throw_error(lx, lx.brace_start, t.end, type_id(Type::string));
        return;
    }
    lx.entry_state = 0;
    lx.type = type_id(Type::string);
    if (!send_event(lx, ev_close, lx.type, t.end, t.end + 1)) return;
    lx.token_start = lx.brace_start;
    lx.token_lines = (lx.brace_flags & flag::brace_after_line) ? 1 : 0;
    if (lx.prescan) {
        scan_string(lx, lx.brace_start, t.end, lx.brace_flags);
        return;
    }
    handle_value(lx, Kind::string, lx.brace_start, t.end, lx.brace_flags);
}

void path_open(Lexer& lx, const Token& t) {
    const std::uint8_t* blank = (t.flags & (flag::wide | flag::wider)) ? find_unicode_blank(t.start, t.end) : nullptr;
    if (blank) {
        // A Unicode blank inside ends the word before the "/": no path.
        lx.kind = Kind::word;
        lx.type = type_id(Type::word);
        lx.token_end = lx.position = blank;
        if (lx.prescan) return;
        handle_value(lx, Kind::word, t.start, blank, t.flags);
        return;
    }
    int type = t.start[0] == '\'' ? type_id(Type::lit_path)
               : t.start[0] == ':' ? type_id(Type::get_path)
                                   : type_id(Type::path);
    if (!open_container(lx, type, t.start)) return;
    lx.entry_state = 59;
    if (lx.load) {
        const std::uint8_t* name = type == type_id(Type::path) ? t.start : t.start + 1;
        lx.token_lines = 0;
        lx.hooks->loaders[static_cast<int>(Kind::path_open)](lx, name, t.end, t.flags, true);
    }
    lx.type = 0;
}

void construct(Lexer& lx, const Token& t) {
    Construct value;
    if (!read_construct(t.start, t.end, value)) throw_error(lx, t.start, t.end, code::malconstruct);
    lx.type = value.type;
    if (lx.load) lx.hooks->loaders[static_cast<int>(Kind::construct)](lx, t.start, t.end, t.flags, true);
}

void comma(Lexer& lx, const Token& t) {
    Cell* m = innermost_marker(lx);
    int type = m ? marker_type(m) : 0;
    if (type != type_id(Type::paren) && type != type_id(Type::point2d))
        throw_error(lx, t.start, t.end, type_id(Type::point2d));
    std::uint32_t commas = (m->data2 >> 16) + 1;
    m->data2 = static_cast<std::uint32_t>(type_id(Type::point2d)) | (commas << 16);
}

void run_structural(Lexer& lx, const Token& t) {
    switch (t.kind) {
        case Kind::eof: break;
        case Kind::error: error_token(lx, t); break;
        case Kind::block_open: open_container(lx, type_id(Type::block), t.start); break;
        case Kind::block_close: close_container(lx, type_id(Type::block), t.start); break;
        case Kind::paren_open: paren_open(lx, t); break;
        case Kind::paren_close: close_container(lx, type_id(Type::paren), t.start); break;
        case Kind::brace_open: brace_open(lx, t); break;
        case Kind::brace_close: brace_close(lx, t); break;
        case Kind::map_open: open_container(lx, type_id(Type::map), t.start); break;
        case Kind::path_open: path_open(lx, t); break;
        case Kind::construct: construct(lx, t); break;
        case Kind::comment:
            if (!lx.prescan) send_event(lx, ev_scan, 0, t.start, t.end);
            break;
        case Kind::comma: comma(lx, t); break;
        case Kind::string: scan_string(lx, t.start, t.end, t.flags); break;
        default: break;
    }
}

// A raw string scanned without loading is reported like a container.
void raw_string_events(Lexer& lx, const Token& t) {
    send_event(lx, ev_open, type_id(Type::string), t.start, t.start + 1);
    send_event(lx, ev_close, type_id(Type::string), t.end - 1, t.end);
}

// Prescan: structure and strings only, one prescan event per token.
void prescan_token(Lexer& lx, const Token& t) {
    bool inside_braces = lx.entry_state == 4;
    bool point_open = false;
    if (t.kind == Kind::error) {
        const std::uint8_t* s = (t.prev_state == 4 || t.prev_state == 5) ? lx.brace_start : t.start;
        send_event(lx, ev_prescan, type_id(Type::error), s, t.end);
    }
    if (static_cast<int>(t.kind) <= static_cast<int>(Kind::string)) {
        run_structural(lx, t);
        point_open = t.kind == Kind::paren_open && lx.entry_state == 35;
    }
    if (t.kind == Kind::error || point_open || t.kind == Kind::eof) return;
    if (t.kind == Kind::brace_close) {
        if (lx.entry_state == 0) send_event(lx, ev_prescan, lx.type, lx.brace_start, t.end + 1);
        return;
    }
    if (inside_braces || t.kind == Kind::brace_open) return;
    if (t.kind == Kind::raw_string) raw_string_events(lx, t);
    send_event(lx, ev_prescan, lx.type, t.start, lx.position);
}

void dispatch(Lexer& lx, const Token& t) {
    if (lx.prescan) {
        prescan_token(lx, t);
        return;
    }
    if (static_cast<int>(t.kind) < static_cast<int>(Kind::string)) {
        if (t.kind == Kind::error && !lx.load) send_event(lx, ev_scan, 0, t.start, t.end);
        run_structural(lx, t);
        return;
    }
    if (t.kind == Kind::raw_string && !lx.load) raw_string_events(lx, t);
    handle_value(lx, t.kind, t.start, t.end, t.flags);
}

// A point literal is over: back to the state of its surroundings; its value
// takes the line breaks that stood before its "(".
void end_point(Lexer& lx) {
    lx.token_lines = lx.point_lines;
    const Cell* outer = innermost_marker(lx);
    lx.entry_state = outer && is_path_type(marker_type(outer)) ? 59 : 0;
}

// After a path element: end the path, or consume the "/" before the next.
void continue_path(Lexer& lx) {
    const std::uint8_t* p = lx.position;
    const std::uint8_t* end = lx.input_end;
    int c = p < end ? class_of(*p) : cls::end;
    if (ends_path(c)) {
        int type = -1;
        if (c == cls::colon) {
            if (p + 1 < end && p[1] == '/') throw_error(lx, nullptr, p, type_id(Type::path));
            type = type_id(Type::set_path);
            lx.position = p + 1;
        }
        close_container(lx, type, p);
        return;
    }
    // Only "/" separates elements; anything else glued to an element is an
    // error rather than a silent separator.
    if (*p != '/' || p + 1 >= end) throw_error(lx, nullptr, p, type_id(Type::path));
    lx.position = p + 1;
}

// The position after a token, for tokens whose loader does not move it.
const std::uint8_t* next_position(const Token& t) {
    switch (t.kind) {
        case Kind::block_open: case Kind::block_close: case Kind::paren_open:
        case Kind::paren_close: case Kind::brace_open: case Kind::brace_close:
        case Kind::map_open: case Kind::construct: case Kind::comma: case Kind::string:
        case Kind::char_: case Kind::binary: case Kind::percent: case Kind::point: case Kind::tag:
            return t.end + 1;
        case Kind::file:
            return t.start[1] == '"' ? t.end + 1 : t.end;
        default:
            return t.end;
    }
}

// A word that begins with Unicode blanks: the blanks are skipped and the
// text after them is scanned again, so that what follows them is cut as the
// token it is. Returns the position after the blanks, or null when there
// are none.
const std::uint8_t* leading_blanks(Lexer& lx, const Token& t) {
    if (!(t.flags & (flag::wide | flag::wider)) || t.start[0] < 0x80) return nullptr;
    const std::uint8_t* p = t.start;
    while (p < t.end && *p >= 0x80) {
        std::int32_t cp;
        int n = decode_utf8(p, t.end, cp);
        if (cp < 0) throw_error(lx, t.start, t.end, type_id(Type::word));
        if (!is_unicode_blank(static_cast<std::uint32_t>(cp))) break;
        p += n;
    }
    return p == t.start ? nullptr : p;
}

bool should_stop(const Lexer& lx, Kind kind) {
    if (!lx.one || lx.type == 0 || lx.entry_state != 0 || kind == Kind::path_open) return false;
    int count = lx.tail - lx.head;
    return count == 0 || (count == 1 && lx.base == lx.head);
}

// Scans tokens until the end of the input or a stop condition.
void token_loop(Lexer& lx) {
    int carried_lines = 0;
    for (;;) {
        Token t = read_token(lx.position, lx.input_end, lx.entry_state);
        lx.line += t.lines_before + t.lines_inside;
        lx.token_start = t.start;
        lx.token_end = t.end;
        lx.kind = t.kind;
        lx.prev_state = t.prev_state;
        lx.forced_type = -1;
        lx.path_element = lx.entry_state == 59;
        if (t.kind == Kind::word || t.kind == Kind::path_open) {
            if (const std::uint8_t* after = leading_blanks(lx, t)) {
                carried_lines += t.lines_before;
                lx.position = after;
                continue;
            }
        }
        lx.token_lines = t.lines_before + carried_lines;
        carried_lines = 0;
        if (t.kind == Kind::eof) {
            lx.position = t.start;
            return;
        }
        lx.type = state_types[static_cast<int>(t.kind) + first_final_state];
        lx.position = next_position(t);
        if (t.kind == Kind::point) end_point(lx);
        dispatch(lx, t);
        if (lx.entry_state == 59) continue_path(lx);
        lx.last_type = lx.type;
        if (should_stop(lx, t.kind)) return;
    }
}

// At the end of the scan: a container still open is a "missing" error.
void finish(Lexer& lx) {
    if (lx.type == type_id(Type::error)) return;
    if (lx.brace_depth > 0 && lx.entry_state == 4)
        throw_error(lx, lx.brace_start, lx.input_end, type_id(Type::string));
    const Cell* m = innermost_marker(lx);
    if (!m) return;
    int type = marker_type(m);
    if (lx.prescan && is_path_type(type)) {
        lx.type = type;
        return;
    }
    lx.closing_type = type;
    throw_error(lx, nullptr, lx.input_end, code::missing_closer);
}

// The input ended after an abandoned error: whatever is still open is
// closed, so that the output holds only finished values.
void finish_abandoned(Lexer& lx) {
    lx.entry_state = 0;
    lx.brace_depth = 0;
    try {
        while (lx.base > lx.head) {
            if (!close_container(lx, -1, lx.input_end)) {
                lx.tail = lx.base - 1;
                lx.base = lx.head;
            }
        }
    } catch (const Stop&) {
        lx.tail = lx.base = lx.head;
    }
}

const char* const kind_names[kind_count] = {
#define KIV_TOKEN_KIND_NAME(n, ident, name) name,
    KIV_TOKEN_KINDS(KIV_TOKEN_KIND_NAME)
#undef KIV_TOKEN_KIND_NAME
};

const char* const type_names[] = {
    "",
#define KIV_TYPE_NAME(id, ident, name) name,
    KIV_TYPE_LIST(KIV_TYPE_NAME)
#undef KIV_TYPE_NAME
};

}  // namespace

const char* kind_name(Kind kind) { return kind_names[static_cast<int>(kind)]; }

namespace {

// Without container makers no container can be loaded.
bool unavailable_container(Lexer& lx, int type, Cell*, int, Cell*) {
    throw_error(lx, nullptr, lx.position, type);
}

}  // namespace

const Hooks checking_hooks = {
    {
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 0-8
        check::path_word, check::construct, nullptr, nullptr,                              // 9-12
        check::string, check::word, check::issue, check::integer, check::refinement,       // 13-17
        check::char_, check::file, check::binary, check::percent, check::float_,           // 18-22
        check::special_float, check::tuple, check::date, check::pair, check::point,        // 23-27
        check::time, check::money, check::tag, check::url, check::email, check::hex,       // 28-33
        check::raw_string, check::ref,                                                     // 34-35
    },
    unavailable_container,
    nullptr,
    nullptr,
    0,
    nullptr,
};

// ---------------------------------------------------------------------------
// The automaton
// ---------------------------------------------------------------------------

namespace {

// Classes that may follow the closing "%"s of a raw string.
bool ends_raw_string(int c) {
    switch (c) {
        case 0: case 1: case 4: case 5: case 6: case 7: case 8: case 10: case 23: case 28:
        case 35: case 39:
            return true;
        default:
            return false;
    }
}

// "%" x n, "{", text, "}", "%" x n. `brace` is the "{". The text runs to the
// first "}" followed by exactly n "%"; a "}" with fewer is text, with more it
// is an error, as is the end of the input.
void read_raw_string(Token& t, const std::uint8_t* brace, const std::uint8_t* end) {
    const long n = brace - t.start;
    t.prev_state = 10;
    for (const std::uint8_t* q = brace + 1; q < end; ++q) {
        std::uint32_t entry = byte_classes[*q];
        int c = static_cast<int>(entry & 0xFF);
        t.flags |= entry & 0xFFFFFF00u;
        if (c == cls::invalid || c == cls::end) {
            t.end = q;
            t.kind = Kind::error;
            return;
        }
        if (c == cls::line_feed) t.lines_inside++;
        if (*q != '}') continue;
        const std::uint8_t* r = q + 1;
        while (r < end && *r == '%') ++r;
        long k = r - q - 1;
        if (k < n) continue;
        t.prev_state = 12;
        t.end = r;
        if (k > n || (r < end && !ends_raw_string(class_of(*r)))) {
            t.kind = Kind::error;
            return;
        }
        t.kind = Kind::raw_string;
        return;
    }
    t.end = end;
    t.kind = Kind::error;
}

}  // namespace

Token read_token(const std::uint8_t* pos, const std::uint8_t* end, int entry_state) {
    Token t{};
    t.start = pos;
    const std::uint8_t* p = pos;
    int state = entry_state;
    std::uint32_t flags = 0;
    int lines = 0;
    int next;
    for (;;) {
        int c;
        if (p < end) {
            std::uint32_t entry = byte_classes[*p];
            c = static_cast<int>(entry & 0xFF);
            flags |= entry & 0xFFFFFF00u;
        } else {
            c = cls::end;
        }
        next = transitions[state][c];
        if (next >= first_final_state) break;
        lines += line_increment(c);
        ++p;
        if (skips(next)) {
            t.start = p;
            t.lines_before = lines;
        } else if (next == 10 && (state == 6 || state == 9)) {
            t.flags = flags;
            t.lines_inside = lines - t.lines_before;
            read_raw_string(t, p - 1, end);
            return t;
        }
        state = next;
    }
    t.end = p;
    t.kind = static_cast<Kind>(next - first_final_state);
    t.prev_state = static_cast<std::uint8_t>(state);
    t.flags = flags;
    t.lines_inside = lines - t.lines_before;
    return t;
}

// ---------------------------------------------------------------------------
// Output stack and scans
// ---------------------------------------------------------------------------

Cell* cell_at(int index) { return output.cells + index; }

Cell* push(Lexer& lx) {
    if (lx.tail >= output.capacity) grow_output();
    Cell* c = &output.cells[lx.tail++];
    c->header = static_cast<std::uint32_t>(Type::unset) | (lx.token_lines > 0 ? cell_flag::new_line : 0);
    c->data1 = c->data2 = c->data3 = 0;
    return c;
}

void drop_last(Lexer& lx) {
    if (lx.tail > lx.base) --lx.tail;
}

Lexer* innermost_scan() { return innermost; }

namespace {

void mark_active_scans() {
    for (Lexer* lx = innermost; lx; lx = lx->previous) collector::mark_values(cell_at(lx->head), cell_at(lx->tail));
}

}  // namespace

void init() {
    collector::register_hook(mark_active_scans);
    init_scan();
}

Scan::Scan(const Hooks& hooks, const std::uint8_t* bytes, std::size_t count, Mode mode, bool one) {
    lx_.hooks = &hooks;
    lx_.input_start = lx_.position = lx_.token_start = lx_.token_end = bytes;
    lx_.input_end = bytes + count;
    lx_.load = mode == Mode::load;
    lx_.prescan = mode == Mode::prescan;
    lx_.one = one;
    lx_.previous = innermost;
    if (innermost) {
        innermost->next = &lx_;
        lx_.head = lx_.base = lx_.tail = innermost->tail;
    }
    innermost = &lx_;
}

Scan::~Scan() {
    innermost = lx_.previous;
    if (innermost) innermost->next = nullptr;
}

int Scan::run() {
    Lexer& lx = lx_;
    for (;;) {
        try {
            token_loop(lx);
            finish(lx);
            break;
        } catch (const Stop& stop) {
            if (!stop.resume) break;
            lx.closing_type = 0;
            if (lx.position >= lx.input_end) {
                finish_abandoned(lx);
                break;
            }
        }
    }
    return lx.type;
}

Cell* Scan::values() { return cell_at(lx_.head); }
int Scan::value_count() const { return lx_.tail - lx_.head; }
std::size_t Scan::consumed() const { return static_cast<std::size_t>(lx_.position - lx_.input_start); }

// ---------------------------------------------------------------------------
// Syntax errors
// ---------------------------------------------------------------------------

std::string near_text(const std::uint8_t* start, const std::uint8_t* end) {
    const std::uint8_t* p = start;
    while (p < end && *p != '\n' && *p != 0 && p - start < 30) {
        std::uint8_t b = *p++;
        int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        while (more-- > 0 && p < end && (*p & 0xC0) == 0x80) ++p;
    }
    return std::string(reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start));
}

std::string SyntaxError::message() const {
    std::string line_text = "(line " + std::to_string(line) + ")";
    switch (id) {
        case invalid: return line_text + " invalid " + type_names[datatype] + " at " + near;
        case missing: return line_text + " missing " + std::string(1, missing_char) + " at " + near;
        case malconstruct: return line_text + " invalid construction spec at " + near;
        case bad_char: return line_text + " invalid character at " + near;
    }
    return line_text;
}

ErrorId SyntaxError::error_id() const {
    switch (id) {
        case invalid: return ErrorId::syntax_invalid_;
        case missing: return ErrorId::syntax_missing_;
        case malconstruct: return ErrorId::syntax_malconstruct;
        case bad_char: return ErrorId::syntax_bad_char;
    }
    return ErrorId::syntax_invalid_;
}

namespace {

// The character a "missing" error names.
char missing_character(int closing_type, int code_, int current) {
    if (code_ == code::missing_closer) current = 0;
    if (closing_type == type_id(Type::block) || closing_type == type_id(Type::map))
        return current == ']' ? '[' : ']';
    if (closing_type == type_id(Type::paren) || closing_type == type_id(Type::point2d))
        return current == ')' ? '(' : ')';
    return '\0';
}

SyntaxError make_error(Lexer& lx, const std::uint8_t* start, const std::uint8_t* end, int code_) {
    SyntaxError e{SyntaxError::invalid, lx.line, 0, '\0', near_text(start, lx.input_end)};
    bool missing = code_ == code::missing_opener || code_ == code::missing_closer;
    if (missing && is_path_type(lx.closing_type)) code_ = code::bad_char;
    if (code_ > 0) {
        e.datatype = code_;
    } else if (code_ == code::bad_char) {
        e.id = SyntaxError::bad_char;
    } else if (code_ == code::malconstruct) {
        e.id = SyntaxError::malconstruct;
    } else {
        e.id = SyntaxError::missing;
        int current = end && end < lx.input_end ? *end : 0;
        e.missing_char = missing_character(lx.closing_type, code_, current);
    }
    return e;
}

int error_event_type(const Lexer& lx, int code_) {
    if (code_ > 0) return code_;
    if (lx.closing_type > 0) return lx.closing_type;
    if (lx.type > 0) return lx.type;
    if (lx.forced_type > 0) return lx.forced_type;
    return type_id(Type::error);
}

}  // namespace

void throw_error(Lexer& lx, const std::uint8_t* start, const std::uint8_t* end, int code_) {
    if (!start) start = innermost_opening(lx);
    if (!lx.load) {
        lx.type = type_id(Type::error);
        throw Stop{false};
    }
    if (lx.hooks->event) {
        const Cell* m = innermost_marker(lx);
        if (m && is_path_type(marker_type(m))) close_container(lx, -1, end);
        const std::uint8_t* before = lx.position;
        if (!send_event(lx, ev_error, error_event_type(lx, code_), start, end)) {
            // The token is abandoned. Unless the callback moved the input,
            // go on at least one byte after the token's start.
            if (lx.position == before && lx.position <= lx.token_start) lx.position = lx.token_start + 1;
            if (lx.position > lx.input_end) lx.position = lx.input_end;
            lx.type = type_id(Type::error);
            throw Stop{true};
        }
    }
    SyntaxError error = make_error(lx, start, end, code_);
    lx.tail = lx.base = lx.head;
    if (lx.hooks->raise) lx.hooks->raise(lx, error);
    throw error;
}

// ---------------------------------------------------------------------------
// Unicode helpers
// ---------------------------------------------------------------------------

bool is_unicode_blank(std::uint32_t cp) {
    for (std::uint32_t b : unicode_blanks)
        if (b == cp) return true;
    return false;
}

int decode_utf8(const std::uint8_t* p, const std::uint8_t* end, std::int32_t& cp) {
    const std::uint8_t* after = unicode::fast_decode_utf8_char(p, end, &cp);
    return after > p ? static_cast<int>(after - p) : 1;
}

}  // namespace kiv::lexer
