#include "tests/unit/lexer-harness.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer-text.h"

namespace kiv::lexer::test {

namespace {

std::vector<std::string> texts;
bool showing_lines = false;

using Bytes = const std::uint8_t*;

std::string str(Bytes s, Bytes e) { return std::string(reinterpret_cast<const char*>(s), static_cast<std::size_t>(e - s)); }

// Sets the token's datatype and, when loading, pushes its description.
void finish(Lexer& lx, bool load, Type type, const std::string& text) {
    lx.type = static_cast<int>(type);
    if (!load) return;
    Cell* c = push(lx);
    c->set_type(type);
    c->data1 = static_cast<std::uint32_t>(texts.size());
    texts.push_back(text);
}

std::string describe(const Cell& c, bool show_lines) {
    std::string prefix = show_lines && (c.header & cell_flag::new_line) ? "|" : "";
    return prefix + texts[c.data1];
}

std::string float_text(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

// Code points as text: printable ASCII as it is, others as ^(hex).
std::string code_points(const std::vector<std::uint32_t>& cps) {
    std::string out;
    for (std::uint32_t cp : cps) {
        if (cp >= 0x20 && cp < 0x7F && cp != '^') {
            out.push_back(static_cast<char>(cp));
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "^(%X)", cp);
            out += buf;
        }
    }
    return out;
}

// Decoded text, with its unit width when wider than one byte.
std::string text_of(Bytes s, Bytes e, std::uint32_t flags, bool* ok = nullptr) {
    TextShape shape;
    bool fine = measure_text(s, e, flags, shape);
    if (ok) *ok = fine;
    if (!fine) return "?";
    std::vector<std::uint32_t> units(static_cast<std::size_t>(shape.count) + 1);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(shape.count) * 4 + 4);
    decode_text(s, e, flags, shape, raw.data());
    for (int i = 0; i < shape.count; ++i) {
        switch (shape.width) {
            case 1: units[i] = raw[i]; break;
            case 2: units[i] = reinterpret_cast<std::uint16_t*>(raw.data())[i]; break;
            default: units[i] = reinterpret_cast<std::uint32_t*>(raw.data())[i]; break;
        }
    }
    units.resize(static_cast<std::size_t>(shape.count));
    std::string out = code_points(units);
    if (shape.width > 1) out += "~" + std::to_string(shape.width);
    return out;
}

void load_word(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    WordForm f;
    if (int error = read_word(s, e, f)) throw_error(lx, s, e, error);
    std::string name = str(f.name, f.name_end);
    switch (f.type) {
        case Type::set_word: name += ":"; break;
        case Type::get_word: name = ":" + name; break;
        case Type::lit_word: name = "'" + name; break;
        default: break;
    }
    finish(lx, load, f.type, name);
}

void load_path_word(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    finish(lx, load, Type::word, str(s, e));
}

void load_refinement(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    WordForm f;
    if (int error = read_refinement(s, e, f)) throw_error(lx, s, e, error);
    if (f.type != Type::refinement) {
        load_word(lx, s, e, flags, load);  // the word "/" in its forms
        return;
    }
    finish(lx, load, Type::refinement, "/" + str(f.name, f.name_end));
}

void load_issue(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    finish(lx, load, Type::issue, str(s, e));
}

void load_string(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    bool ok;
    std::string text = text_of(s + 1, e, flags, &ok);
    if (!ok) throw_error(lx, s, e, static_cast<int>(Type::string));
    finish(lx, load, Type::string, "\"" + text + "\"");
}

void load_raw_string(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    Bytes text, text_end;
    raw_string_text(s, e, text, text_end);
    finish(lx, load, Type::string, "\"" + text_of(text, text_end, flags & ~flag::caret) + "\"");
}

void load_char(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    std::int32_t cp = read_char(s, e);
    if (cp < 0) throw_error(lx, s, e, static_cast<int>(Type::char_));
    finish(lx, load, Type::char_, "#\"" + code_points({static_cast<std::uint32_t>(cp)}) + "\"");
}

void load_file(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    FileText f = file_text(s, e);
    if (!f.quoted) {
        finish(lx, load, Type::file, "%" + str(f.text, f.text_end));
        return;
    }
    bool ok;
    std::string text = text_of(f.text, f.text_end, flags, &ok);
    if (!ok) throw_error(lx, s, e, static_cast<int>(Type::file));
    finish(lx, load, Type::file, "%\"" + text + "\"");
}

void load_binary(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    std::string bytes;
    if (!read_binary(s, e, &bytes)) throw_error(lx, s, e, static_cast<int>(Type::binary));
    std::string out = "#{";
    char buf[4];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    finish(lx, load, Type::binary, out + "}");
}

void load_integer(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    IntegerToken t = read_integer(s, e);
    if (t.result == IntegerToken::invalid) throw_error(lx, s, e, static_cast<int>(Type::integer));
    if (t.result == IntegerToken::floating) {
        double v;
        if (!read_float(s, e, v)) throw_error(lx, s, e, static_cast<int>(Type::float_));
        finish(lx, load, Type::float_, float_text(v));
        return;
    }
    finish(lx, load, Type::integer, std::to_string(t.value));
}

void load_hex(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    std::int32_t v;
    if (int error = read_hex(s, e, v)) throw_error(lx, s, e, error);
    finish(lx, load, Type::integer, std::to_string(v));
}

void load_float(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    double v;
    if (!read_float(s, e, v)) throw_error(lx, s, e, static_cast<int>(Type::float_));
    finish(lx, load, Type::float_, float_text(v));
}

void load_special_float(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    double v;
    if (!read_special_float(s, e, v)) throw_error(lx, s, e, static_cast<int>(Type::float_));
    finish(lx, load, Type::float_, float_text(v));
}

void load_percent(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    double v;
    if (!read_percent(s, e, v)) throw_error(lx, s, e, static_cast<int>(Type::float_));
    finish(lx, load, Type::percent, "pct:" + float_text(v));
}

void load_pair(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    std::int32_t x, y;
    if (!read_pair(s, e, x, y)) throw_error(lx, s, e, static_cast<int>(Type::pair));
    finish(lx, load, Type::pair, std::to_string(x) + "x" + std::to_string(y));
}

void load_tuple(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    std::uint8_t bytes[12];
    int n = read_tuple(s, e, bytes);
    if (!n) throw_error(lx, s, e, static_cast<int>(Type::tuple));
    std::string out = "tuple:";
    for (int i = 0; i < n; ++i) out += (i ? "." : "") + std::to_string(bytes[i]);
    finish(lx, load, Type::tuple, out);
}

void load_point(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    Point p;
    if (int error = read_point(s, e, p)) throw_error(lx, s, e, error);
    std::string out = "(";
    for (int i = 0; i < p.count; ++i) out += (i ? ", " : "") + float_text(p.xyz[i]);
    finish(lx, load, p.count == 3 ? Type::point3d : Type::point2d, out + ")");
}

void load_time(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    double v;
    if (!read_time(s, e, v)) throw_error(lx, s, e, static_cast<int>(Type::time));
    finish(lx, load, Type::time, "time:" + float_text(v));
}

void load_date(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    Date d;
    if (!read_date(s, e, d)) throw_error(lx, s, e, static_cast<int>(Type::date));
    char buf[96];
    std::snprintf(buf, sizeof buf, "date:%d-%d-%d", d.year, d.month, d.day);
    std::string out = buf;
    if (d.has_time) out += "T" + float_text(d.seconds);
    if (d.has_zone) out += "Z" + std::to_string(d.zone_minutes);
    finish(lx, load, Type::date, out);
}

void load_money(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    MoneyText m;
    if (!read_money(s, e, m)) throw_error(lx, s, e, static_cast<int>(Type::money));
    std::string out = std::string(m.negative ? "-" : "") + m.currency + "$" + m.integer_digits;
    if (!m.fraction_digits.empty()) out += "." + m.fraction_digits;
    finish(lx, load, Type::money, out);
}

void load_tag(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    finish(lx, load, Type::tag, "<" + text_of(s + 1, e, flags & ~flag::caret) + ">");
}

void load_url(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    if (int error = check_url_token(s, e)) throw_error(lx, s, e, error);
    finish(lx, load, Type::url, "url:" + str(s, e));
}

void load_email(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    finish(lx, load, Type::email, "email:" + str(s, e));
}

void load_ref(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    finish(lx, load, Type::ref, "@" + str(s + 1, e));
}

void load_construct(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    Construct c;
    if (!read_construct(s, e, c)) throw_error(lx, s, e, code::malconstruct);
    static const char* const forms[] = {"true", "false", "none", "unset"};
    std::string out = c.form == Construct::datatype ? std::string(type_name(c.named)) : forms[c.form];
    finish(lx, load, static_cast<Type>(c.type), "#(" + out + ")");
}

bool make_container(Lexer&, int type, Cell* items, int count, Cell* out) {
    std::string body;
    bool path = type == static_cast<int>(Type::path) || type == static_cast<int>(Type::lit_path) ||
                type == static_cast<int>(Type::get_path) || type == static_cast<int>(Type::set_path);
    for (int i = 0; i < count; ++i) body += (i ? (path ? "/" : " ") : "") + describe(items[i], showing_lines);
    std::string text;
    switch (static_cast<Type>(type)) {
        case Type::block: text = "[" + body + "]"; break;
        case Type::paren: text = "(" + body + ")"; break;
        case Type::map:
            if (count % 2) return false;
            text = "#[" + body + "]";
            break;
        case Type::path: text = body; break;
        case Type::lit_path: text = "'" + body; break;
        case Type::get_path: text = ":" + body; break;
        case Type::set_path: text = body + ":"; break;
        default: text = "?"; break;
    }
    out->header = static_cast<std::uint32_t>(type);
    out->data1 = static_cast<std::uint32_t>(texts.size());
    texts.push_back(text);
    return true;
}

const Hooks hooks = {
    {
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        load_path_word, load_construct, nullptr, nullptr,
        load_string, load_word, load_issue, load_integer, load_refinement,
        load_char, load_file, load_binary, load_percent, load_float,
        load_special_float, load_tuple, load_date, load_pair, load_point,
        load_time, load_money, load_tag, load_url, load_email, load_hex,
        load_raw_string, load_ref,
    },
    make_container,
    nullptr,
    nullptr,
    0,
    nullptr,
};

Bytes bytes_of(const std::string& s) { return reinterpret_cast<Bytes>(s.data()); }

std::string joined(Scan& scan, bool show_lines) {
    std::string out;
    for (int i = 0; i < scan.value_count(); ++i) out += (i ? " " : "") + describe(scan.values()[i], show_lines);
    return out;
}

std::vector<std::string>* recorded = nullptr;
const std::uint8_t* recorded_start = nullptr;
std::uint32_t refused = 0;

bool record_event(Lexer& lx, const EventInfo& info) {
    static const char* const names[] = {"prescan", "scan", "load", "open", "close", "error"};
    int bit = 0;
    while ((1u << bit) != info.event) ++bit;
    std::string line = std::string(names[bit]) + " " + (info.type ? type_name(info.type) : kind_name(info.kind));
    if (info.event == ev_load && info.value) line += " " + describe(*info.value, false);
    else line += " " + std::to_string(info.start - recorded_start + 1) + "-" + std::to_string(info.end - recorded_start + 1);
    recorded->push_back(line);
    if (!(refused & info.event)) return true;
    if (info.event == ev_error) lx.position = info.end < lx.input_end ? info.end + 1 : lx.input_end;
    return false;
}

}  // namespace

const char* type_name(int type) {
    static const char* const names[] = {
        "none",
#define KIV_TEST_TYPE_NAME(id, ident, name) name,
        KIV_TYPE_LIST(KIV_TEST_TYPE_NAME)
#undef KIV_TEST_TYPE_NAME
    };
    return type >= 0 && type <= type_count ? names[type] : "?";
}

const Hooks& describing_hooks() { return hooks; }

std::string describe(Scan& scan) { return joined(scan, false); }

void forget_descriptions() { texts.clear(); }

std::string load(const std::string& source, bool show_lines) {
    texts.clear();
    showing_lines = show_lines;
    try {
        Scan scan(hooks, bytes_of(source), source.size(), Mode::load, false);
        scan.run();
        return joined(scan, show_lines);
    } catch (const SyntaxError& e) {
        return "error: " + e.message();
    }
}

std::string scan(const std::string& source, Mode mode, bool one) {
    texts.clear();
    Scan scan(hooks, bytes_of(source), source.size(), mode, one);
    return type_name(scan.run());
}

std::vector<std::string> events(const std::string& source, Mode mode, std::uint32_t mask,
                                std::uint32_t refuse) {
    texts.clear();
    std::vector<std::string> out;
    recorded = &out;
    recorded_start = bytes_of(source);
    refused = refuse;
    Hooks h = hooks;
    h.event = record_event;
    h.event_mask = mask;
    try {
        Scan scan(h, bytes_of(source), source.size(), mode, false);
        int type = scan.run();
        out.push_back(mode == Mode::load ? "=> " + joined(scan, false) : std::string("=> ") + type_name(type));
    } catch (const SyntaxError& e) {
        out.push_back("raised " + e.message());
    }
    recorded = nullptr;
    return out;
}

}  // namespace kiv::lexer::test
