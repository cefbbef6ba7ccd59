// Text tokens of the lexer: decoding and checks. See lexer-text.h.
#include "runtime/evaluator/lexer-text.h"

#include <cstring>

namespace kiv::lexer {

namespace {

constexpr int type_id(Type t) { return static_cast<int>(t); }

int hex_value(std::uint8_t b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    return -1;
}

std::uint8_t lower(std::uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + 32) : b; }

// Compares [s, e) with the first `n` characters of an ASCII name, without
// regard to case.
bool same_name(const std::uint8_t* s, const std::uint8_t* e, const char* name, std::size_t n) {
    if (static_cast<std::size_t>(e - s) != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (lower(s[i]) != lower(static_cast<std::uint8_t>(name[i]))) return false;
    return true;
}

bool same_name(const std::uint8_t* s, const std::uint8_t* e, const char* name) {
    return same_name(s, e, name, std::strlen(name));
}

struct EscapeName {
    const char* name;
    std::int32_t code_point;
};
constexpr EscapeName escape_names[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

// "^(" ... ")": a name or 1 to 6 hex digits. `p` is after the "(".
std::int32_t read_paren_escape(const std::uint8_t*& p, const std::uint8_t* e, int& width) {
    const std::uint8_t* close = p;
    while (close < e && *close != ')') ++close;
    if (close == e) return -1;
    const std::uint8_t* s = p;
    p = close + 1;
    for (const EscapeName& n : escape_names)
        if (same_name(s, close, n.name)) return n.code_point;
    long digits = close - s;
    if (digits < 1 || digits > 6) return -1;
    std::int32_t v = 0;
    for (const std::uint8_t* q = s; q < close; ++q) {
        int h = hex_value(*q);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    // Code points above U+10FFFF are no characters.
    if (v > 0x10FFFF) return -1;
    width = digits > 4 ? 4 : digits > 2 ? 2 : 1;
    return v;
}

int width_for(std::int32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// One character of text at `p` (no escape): its code point and length.
std::int32_t read_plain(const std::uint8_t*& p, const std::uint8_t* e) {
    std::uint8_t b = *p;
    if (b < 0xC0) {  // ASCII, or a continuation byte standing alone
        ++p;
        return b;
    }
    std::int32_t cp;
    p += decode_utf8(p, e, cp);
    return cp;
}

int start_width(std::uint32_t flags) {
    return (flags & flag::wider) ? 4 : (flags & flag::wide) ? 2 : 1;
}

// Walks the text, calling `emit` with each code point; false when undecodable.
template <class Emit>
bool walk_text(const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, int& width, Emit emit) {
    bool escapes = flags & flag::caret;
    bool wide = flags & (flag::wide | flag::wider);
    for (const std::uint8_t* p = s; p < e;) {
        std::int32_t cp;
        if (escapes && *p == '^') {
            ++p;
            int w = 1;
            cp = read_escape(p, e, w);
            if (w > width) width = w;
        } else if (wide) {
            cp = read_plain(p, e);
        } else {
            cp = *p++;
        }
        if (cp < 0) return false;
        emit(cp);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Words, refinements, issues
// ---------------------------------------------------------------------------

int read_word(const std::uint8_t* s, const std::uint8_t* e, WordForm& out) {
    out = WordForm{Type::word, s, e};
    bool trailing = e - s > 1 && e[-1] == ':';
    if (*s == '\'') {
        if (trailing) return type_id(Type::lit_word);
        out.type = Type::lit_word;
        out.name = s + 1;
    } else if (*s == ':') {
        if (trailing) return type_id(Type::word);
        out.type = Type::get_word;
        out.name = s + 1;
    } else if (trailing) {
        out.type = Type::set_word;
        out.name_end = e - 1;
    }
    if (out.name >= out.name_end) return type_id(out.type);
    if (std::memchr(out.name, ':', static_cast<std::size_t>(out.name_end - out.name)))
        return type_id(out.type == Type::lit_word ? Type::lit_word : Type::word);
    return 0;
}

int read_refinement(const std::uint8_t* s, const std::uint8_t* e, WordForm& out) {
    static const std::uint8_t slash[] = "/";
    long n = e - s;
    out = WordForm{Type::word, slash, slash + 1};
    if (n == 1 && s[0] == '/') return 0;
    if (n == 2 && s[1] == '/' && (s[0] == '\'' || s[0] == ':')) {
        out.type = s[0] == '\'' ? Type::lit_word : Type::get_word;
        return 0;
    }
    if (n == 2 && s[0] == '/' && s[1] == ':') {
        out.type = Type::set_word;
        return 0;
    }
    if (s[0] != '/' || n < 2) return type_id(Type::refinement);
    out = WordForm{Type::refinement, s + 1, e};
    return 0;
}

// "#" and at least one byte: digits before the "#" (a binary's base that
// no binary follows) make no issue.
bool read_issue(const std::uint8_t* s, const std::uint8_t* e, WordForm& out) {
    out = WordForm{Type::issue, s + 1, e};
    return e - s >= 2 && *s == '#';
}

const std::uint8_t* find_unicode_blank(const std::uint8_t* s, const std::uint8_t* e, bool* bad) {
    for (const std::uint8_t* p = s; p < e;) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        std::int32_t cp;
        int n = decode_utf8(p, e, cp);
        if (cp < 0) {
            if (bad) *bad = true;
            return nullptr;
        }
        if (is_unicode_blank(static_cast<std::uint32_t>(cp))) return p;
        p += n;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Strings and chars
// ---------------------------------------------------------------------------

std::int32_t read_escape(const std::uint8_t*& p, const std::uint8_t* e, int& width) {
    width = 1;
    if (p >= e) return -1;
    std::uint8_t b = *p;
    if (b == '(') {
        ++p;
        return read_paren_escape(p, e, width);
    }
    if (b >= 0xC0) {
        // "^" before a multi-byte character: that character, whole.
        std::int32_t cp = read_plain(p, e);
        if (cp >= 0) width = width_for(cp);
        return cp;
    }
    ++p;
    switch (b) {
        case '@': return 0;
        case '/': return 10;
        case '-': return 9;
        case '~': return 127;
        case '"': case '{': case '}': case '^': return b;
        default: break;
    }
    if (b >= 'a' && b <= 'z') return b - 'a' + 1;
    if (b >= 'A' && b <= '_') return b - 'A' + 1;
    return b;
}

bool measure_text(const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, TextShape& out) {
    out.width = start_width(flags);
    out.count = 0;
    if (!(flags & (flag::caret | flag::wide | flag::wider))) {
        out.count = static_cast<int>(e - s);
        return true;
    }
    int count = 0;
    bool ok = walk_text(s, e, flags, out.width, [&](std::int32_t) { ++count; });
    out.count = count;
    return ok;
}

void decode_text(const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags,
                 const TextShape& shape, void* out) {
    int width = shape.width;
    int i = 0;
    auto store = [&](std::int32_t cp) {
        if (i >= shape.count) return;
        auto v = static_cast<std::uint32_t>(cp);
        switch (shape.width) {
            case 1: static_cast<std::uint8_t*>(out)[i] = static_cast<std::uint8_t>(v); break;
            case 2: static_cast<std::uint16_t*>(out)[i] = static_cast<std::uint16_t>(v); break;
            default: static_cast<std::uint32_t*>(out)[i] = v; break;
        }
        ++i;
    };
    if (!(flags & (flag::caret | flag::wide | flag::wider)) && shape.width == 1) {
        std::memcpy(out, s, static_cast<std::size_t>(shape.count));
        return;
    }
    walk_text(s, e, flags, width, store);
}

std::int32_t read_char(const std::uint8_t* s, const std::uint8_t* e) {
    const std::uint8_t* p = s + 2;  // after '#"'
    if (p >= e) return -1;
    std::int32_t cp;
    if (*p == '^') {
        ++p;
        int width;
        cp = read_escape(p, e, width);
    } else {
        cp = read_plain(p, e);
    }
    if (p != e || cp < 0 || cp >= 0x110000) return -1;
    return cp;
}

FileText file_text(const std::uint8_t* s, const std::uint8_t* e) {
    if (e - s >= 2 && s[1] == '"') return FileText{true, s + 2, e};
    return FileText{false, s + 1, e};
}

void raw_string_text(const std::uint8_t* s, const std::uint8_t* e, const std::uint8_t*& text,
                     const std::uint8_t*& text_end) {
    const std::uint8_t* brace = s;
    while (*brace == '%') ++brace;
    long n = brace - s;
    text = brace + 1;
    text_end = e - n - 1;
}

// ---------------------------------------------------------------------------
// Binaries
// ---------------------------------------------------------------------------

namespace {

// Skips blanks and ";" comments of a binary's content.
bool skip_binary_blank(const std::uint8_t*& p, const std::uint8_t* e, bool base64) {
    std::uint8_t b = *p;
    if (b == ';') {
        while (p < e && *p != '\n') ++p;
        return true;
    }
    bool blank = b == '\t' || b == '\n' || b == '\r' || b == ' ';
    if (base64) blank = blank || b == 8 || b == 12 || b == '\'';
    if (blank) ++p;
    return blank;
}

bool decode_base16(const std::uint8_t* p, const std::uint8_t* e, std::string* out) {
    int high = -1;
    while (p < e) {
        if (skip_binary_blank(p, e, false)) continue;
        int h = hex_value(*p++);
        if (h < 0) return false;
        if (high < 0) {
            high = h;
        } else {
            if (out) out->push_back(static_cast<char>(high * 16 + h));
            high = -1;
        }
    }
    return high < 0;
}

bool decode_base2(const std::uint8_t* p, const std::uint8_t* e, std::string* out) {
    int bits = 0, value = 0;
    while (p < e) {
        if (skip_binary_blank(p, e, false)) continue;
        std::uint8_t b = *p++;
        if (b != '0' && b != '1') return false;
        value = value * 2 + (b - '0');
        if (++bits == 8) {
            if (out) out->push_back(static_cast<char>(value));
            bits = value = 0;
        }
    }
    return bits == 0;
}

int base64_value(std::uint8_t b) {
    if (b >= 'A' && b <= 'Z') return b - 'A';
    if (b >= 'a' && b <= 'z') return b - 'a' + 26;
    if (b >= '0' && b <= '9') return b - '0' + 52;
    if (b == '+') return 62;
    if (b == '/') return 63;
    return -1;
}

bool decode_base64(const std::uint8_t* p, const std::uint8_t* e, std::string* out) {
    std::uint32_t group = 0;
    int n = 0;
    while (p < e) {
        if (skip_binary_blank(p, e, true)) continue;
        std::uint8_t b = *p++;
        if (b == '=') {
            // Padding ends the data: 2 characters give 1 byte, 3 give 2.
            if (n < 2) return false;
            if (out) {
                out->push_back(static_cast<char>(group >> (n == 2 ? 4 : 10)));
                if (n == 3) out->push_back(static_cast<char>((group >> 2) & 0xFF));
            }
            return true;
        }
        int v = base64_value(b);
        if (v < 0) return false;
        group = (group << 6) | static_cast<std::uint32_t>(v);
        if (++n == 4) {
            if (out) {
                out->push_back(static_cast<char>(group >> 16));
                out->push_back(static_cast<char>((group >> 8) & 0xFF));
                out->push_back(static_cast<char>(group & 0xFF));
            }
            group = 0;
            n = 0;
        }
    }
    return n == 0;
}

}  // namespace

bool read_binary(const std::uint8_t* s, const std::uint8_t* e, std::string* out) {
    const std::uint8_t* sharp = s;
    while (sharp < e && *sharp != '#') ++sharp;
    if (e - sharp < 2) return false;
    const std::uint8_t* content = sharp + 2;  // after "#{"
    long digits = sharp - s;
    if (digits == 0 || (digits == 2 && s[0] == '1' && s[1] == '6')) return decode_base16(content, e, out);
    if (digits == 1 && s[0] == '2') return decode_base2(content, e, out);
    if (digits == 2 && s[0] == '6' && s[1] == '4') return decode_base64(content, e, out);
    return false;
}

// ---------------------------------------------------------------------------
// Urls and constructs
// ---------------------------------------------------------------------------

int check_url_token(const std::uint8_t* s, const std::uint8_t*) {
    if (*s == ':') return type_id(Type::get_word);
    if (*s == '\'') return type_id(Type::lit_word);
    return 0;
}

namespace {

struct TypeName {
    const char* name;
    int id;
};
constexpr TypeName type_names[] = {
#define KIV_CONSTRUCT_TYPE_NAME(id, ident, name) {name, id},
    KIV_TYPE_LIST(KIV_CONSTRUCT_TYPE_NAME)
#undef KIV_CONSTRUCT_TYPE_NAME
};

}  // namespace

bool read_construct(const std::uint8_t* s, const std::uint8_t* e, Construct& out) {
    const std::uint8_t* name = s + 2;  // after "#("
    struct Fixed {
        const char* name;
        Construct::Form form;
        Type type;
    };
    static constexpr Fixed fixed[] = {
        {"true", Construct::logic_true, Type::logic},
        {"false", Construct::logic_false, Type::logic},
        {"none", Construct::none, Type::none},
        {"unset", Construct::unset, Type::unset},
    };
    for (const Fixed& f : fixed)
        if (same_name(name, e, f.name)) {
            out = Construct{f.form, type_id(f.type), 0};
            return true;
        }
    for (const TypeName& t : type_names) {
        std::size_t n = std::strlen(t.name);  // with its "!"
        if (same_name(name, e, t.name, n) || same_name(name, e, t.name, n - 1)) {
            out = Construct{Construct::datatype, type_id(Type::datatype), t.id};
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Inside a scan
// ---------------------------------------------------------------------------

void scan_string(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags) {
    TextShape shape;
    if (!measure_text(s + 1, e, flags, shape))
        throw_error(lx, s, e, lx.forced_type > 0 ? lx.forced_type : type_id(Type::string));
    lx.type = type_id(Type::string);
}

void scan_word(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags) {
    if (flags & (flag::wide | flag::wider)) {
        bool bad = false;
        if (const std::uint8_t* blank = find_unicode_blank(s, e, &bad)) {
            e = blank;
            lx.token_end = lx.position = blank;
        } else if (bad) {
            throw_error(lx, s, e, type_id(Type::word));
        }
    }
    WordForm form;
    if (int error = read_word(s, e, form)) throw_error(lx, s, e, error);
    // In a path, "b:" of "a/b:" ends the path as a set-path; the ":" must be
    // followed by the path's end ("/" is left to the path, which refuses it).
    if (lx.path_element && e < lx.input_end && *e == ':') {
        const std::uint8_t* after = e + 1;
        if (after < lx.input_end && *after != '/' && !ends_path(static_cast<int>(byte_classes[*after] & 0xFF)))
            throw_error(lx, s, e, type_id(Type::word));
    }
    lx.type = type_id(form.type);
}

void scan_issue(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t) {
    WordForm form;
    if (!read_issue(s, e, form)) throw_error(lx, s, e, type_id(Type::issue));
    lx.type = type_id(Type::issue);
}

namespace check {

void unavailable(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, bool load, int type) {
    lx.type = type;
    if (load) throw_error(lx, s, e, type);
}

void path_word(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    unavailable(lx, s, e, load, type_id(Type::path));
}

void construct(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    Construct value;
    if (!read_construct(s, e, value)) throw_error(lx, s, e, code::malconstruct);
    unavailable(lx, s, e, load, value.type);
}

void string(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    scan_string(lx, s, e, flags);
    unavailable(lx, s, e, load, type_id(Type::string));
}

void word(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    WordForm form;
    if (int error = read_word(s, e, form)) throw_error(lx, s, e, error);
    unavailable(lx, s, e, load, type_id(form.type));
}

void issue(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    scan_issue(lx, s, e, flags);
    unavailable(lx, s, e, load, type_id(Type::issue));
}

void refinement(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    WordForm form;
    if (int error = read_refinement(s, e, form)) throw_error(lx, s, e, error);
    unavailable(lx, s, e, load, type_id(form.type));
}

void char_(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    if (read_char(s, e) < 0) throw_error(lx, s, e, type_id(Type::char_));
    unavailable(lx, s, e, load, type_id(Type::char_));
}

void file(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    FileText f = file_text(s, e);
    TextShape shape;
    if (!measure_text(f.text, f.text_end, f.quoted ? flags : flags & ~flag::caret, shape))
        throw_error(lx, s, e, type_id(Type::file));
    unavailable(lx, s, e, load, type_id(Type::file));
}

void binary(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    if (!read_binary(s, e, nullptr)) throw_error(lx, s, e, type_id(Type::binary));
    unavailable(lx, s, e, load, type_id(Type::binary));
}

void tag(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    TextShape shape;
    if (!measure_text(s + 1, e, flags & ~flag::caret, shape)) throw_error(lx, s, e, type_id(Type::tag));
    unavailable(lx, s, e, load, type_id(Type::tag));
}

void url(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    if (int error = check_url_token(s, e)) throw_error(lx, s, e, error);
    unavailable(lx, s, e, load, type_id(Type::url));
}

void email(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    unavailable(lx, s, e, load, type_id(Type::email));
}

void raw_string(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    const std::uint8_t *text, *text_end;
    raw_string_text(s, e, text, text_end);
    TextShape shape;
    if (!measure_text(text, text_end, flags & ~flag::caret, shape)) throw_error(lx, s, e, type_id(Type::string));
    unavailable(lx, s, e, load, type_id(Type::string));
}

void ref(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    unavailable(lx, s, e, load, type_id(Type::ref));
}

}  // namespace check

}  // namespace kiv::lexer
