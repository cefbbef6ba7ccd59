// The lexer's read-only tables: the byte classes with their flag bits, the
// transition table of the token automaton, and the per-state skip and type
// tables. The data is written below row by row, in the same form as the
// grammar's own tables, and expanded into flat arrays at compile time; the
// code that runs the automaton lives in lexer.cpp.
//
// Every input byte maps to one of 40 classes. The automaton has 65 working
// states (0 to 64) and 36 final states (66 to 101); a final state is a token
// kind (final state - 66). State 65 is never used. A transition into a final
// state does not consume the byte that caused it.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::lexer {

constexpr int class_count = 40;
constexpr int working_state_count = 65;
constexpr int first_final_state = 66;
constexpr int state_count = 102;
constexpr int error_state = 67;

// Byte classes with a name used by the code.
namespace cls {
constexpr int blank = 0, line_feed = 1, digit = 2, zero = 3, block_open = 4, block_close = 5,
              paren_open = 6, paren_close = 7, brace_open = 8, brace_close = 9, quote = 10,
              sharp = 11, apostrophe = 12, colon = 13, slash = 21, less = 23, percent = 26,
              comma = 27, semicolon = 28, control = 35, continuation = 36, letter = 37,
              invalid = 38, end = 39;
}

// ---------------------------------------------------------------------------
// Byte classes
// ---------------------------------------------------------------------------

struct ClassRange {
    std::uint8_t cls, lo, hi;
};

// Class 37 also takes every ASCII letter that no other row names (see below).
constexpr ClassRange class_rows[] = {
    {0, '\t', '\t'}, {0, '\r', '\r'}, {0, ' ', ' '},
    {1, '\n', '\n'},
    {2, '1', '9'},
    {3, '0', '0'},
    {4, '[', '['}, {5, ']', ']'}, {6, '(', '('}, {7, ')', ')'}, {8, '{', '{'}, {9, '}', '}'},
    {10, '"', '"'}, {11, '#', '#'}, {12, '\'', '\''}, {13, ':', ':'},
    {14, 'X', 'X'}, {14, 'x', 'x'},
    {15, 'T', 'T'}, {16, 'h', 'h'}, {17, 'e', 'e'}, {18, 'E', 'E'},
    {19, 'a', 'd'}, {19, 'f', 'f'},
    {20, 'A', 'D'}, {20, 'F', 'F'},
    {21, '/', '/'}, {22, '\\', '\\'}, {23, '<', '<'}, {24, '>', '>'}, {25, '=', '='},
    {26, '%', '%'}, {27, ',', ','}, {28, ';', ';'}, {29, '@', '@'}, {30, '.', '.'},
    {31, '$', '$'}, {32, '+', '+'}, {33, '-', '-'}, {34, '^', '^'},
    {35, 1, 8}, {35, 11, 12}, {35, 14, 31},
    {36, 127, 191},
    {37, '!', '!'}, {37, '&', '&'}, {37, '*', '*'}, {37, '?', '?'}, {37, '_', '_'},
    {37, '`', '`'}, {37, '|', '|'}, {37, '~', '~'}, {37, 194, 247},
    {38, 192, 193}, {38, 248, 255},
    {39, 0, 0},
};

struct FlagRange {
    std::uint32_t flag;
    std::uint8_t lo, hi;
};

// Flag bits of a byte; a token's flag word is the OR of its bytes' flags.
namespace flag {
constexpr std::uint32_t percent = 0x00040000;
constexpr std::uint32_t greater = 0x00080000;
constexpr std::uint32_t less = 0x00100000;
constexpr std::uint32_t sign = 0x00200000;
constexpr std::uint32_t nul = 0x00400000;
constexpr std::uint32_t sharp = 0x00800000;
constexpr std::uint32_t exponent = 0x01000000;
constexpr std::uint32_t apostrophe = 0x02000000;
constexpr std::uint32_t colon = 0x04000000;
constexpr std::uint32_t comma = 0x08000000;
constexpr std::uint32_t dot = 0x10000000;
constexpr std::uint32_t caret = 0x20000000;
constexpr std::uint32_t wide = 0x40000000;   // lead byte of a 2- or 3-byte sequence
constexpr std::uint32_t wider = 0x80000000;  // lead byte of a 4-byte sequence
// Never set by the table: a braced string that began after a line break.
constexpr std::uint32_t brace_after_line = 0x00020000;
}  // namespace flag

constexpr FlagRange flag_rows[] = {
    {flag::percent, '%', '%'},     {flag::greater, '>', '>'},   {flag::less, '<', '<'},
    {flag::sign, '+', '+'},        {flag::sign, '-', '-'},      {flag::nul, 0, 0},
    {flag::sharp, '#', '#'},       {flag::exponent, 'e', 'e'},  {flag::exponent, 'E', 'E'},
    {flag::apostrophe, '\'', '\''}, {flag::colon, ':', ':'},    {flag::comma, ',', ','},
    {flag::dot, '.', '.'},         {flag::caret, '^', '^'},     {flag::wide, 194, 239},
    {flag::wider, 240, 247},
};

// ---------------------------------------------------------------------------
// Transition table
// ---------------------------------------------------------------------------
// One row per working state: the next state for every class not listed, then
// "classes: next state" groups separated by ";" (classes as a comma list of
// numbers and ranges).

struct TransitionRow {
    std::uint8_t fallback;
    const char* groups;
};

constexpr TransitionRow transition_rows[working_state_count] = {
    /* 0 start */ {52, "0-1, 35: 0; 2-3: 23; 4: 68; 5: 69; 6: 70; 7: 71; 8: 72; 9, 22, 36, 38: 67; "
                       "10: 2; 11: 16; 12-13: 51; 18, 20: 40; 21: 13; 23: 43; 25: 58; 26: 6; 27: 78; "
                       "28: 1; 29: 57; 30: 49; 31: 36; 32-33: 47; 39: 66"},
    /* 1 comment */ {1, "1, 39: 77; 38: 67"},
    /* 2 double-quoted string */ {2, "1, 38-39: 67; 10: 79; 34: 3"},
    /* 3 after "^" in a string */ {2, "38-39: 67"},
    /* 4 braced-string body */ {4, "8: 72; 9: 73; 34: 5; 38-39: 67"},
    /* 5 after "^" in a braced string */ {4, "38-39: 67"},
    /* 6 after "%" */ {7, "0-1, 4-7, 9, 28-29, 35, 39: 80; 8: 10; 10: 8; 13: 54; 26: 9; 38: 67"},
    /* 7 unquoted file */ {7, "0-1, 4-9, 13, 28-29, 39: 85; 10, 38: 67"},
    /* 8 quoted file */ {8, "1, 38-39: 67; 10: 85"},
    /* 9 after "%%" */ {7, "0-1, 4-7, 9-10, 22, 28, 35, 39: 80; 8: 10; 26: 9; 38: 67"},
    /* 10 raw-string body */ {10, "9: 11; 38-39: 67"},
    /* 11 after "}" in a raw string */ {10, "9: 11; 26: 12; 38-39: 67"},
    /* 12 after "}%" */ {67, "0-1, 4-8, 10, 23, 28, 35, 39: 100; 26: 12"},
    /* 13 after "/" */ {14, "0-1, 4-11, 28-29, 35, 39: 80; 13: 53; 21: 15; 27, 38: 67"},
    /* 14 refinement */ {14, "0-1, 4-10, 21, 28-29, 35, 39: 83; 13, 27, 38: 67"},
    /* 15 after "//" */ {52, "0-1, 4-11, 28-29, 35, 39: 80; 21: 15; 26-27, 31, 38: 67"},
    /* 16 after "#" */ {22, "0-1, 5, 7, 9, 13, 23-24, 27, 38: 67; 4: 74; 6: 21; 8: 17; 10: 19; "
                            "28-29, 35, 39: 81"},
    /* 17 binary body */ {67, "0-3, 14-21, 25, 32, 37: 17; 9: 86; 28: 18"},
    /* 18 comment in a binary */ {18, "1: 17; 38-39: 67"},
    /* 19 char body */ {19, "10: 84; 34: 20; 38-39: 67"},
    /* 20 after "^" in a char */ {19, "38-39: 67"},
    /* 21 construct body */ {21, "7: 76; 38-39: 67"},
    /* 22 issue */ {22, "0-1, 4-10, 28-29, 35, 39: 81; 13, 21, 38: 67"},
    /* 23 integer digits */ {82, "2-3, 12: 23; 11: 16; 13: 31; 14: 33; 15, 21, 33: 30; 16: 42; 17: 26; "
                                 "18: 27; 19, 22, 24-25, 31-32, 34, 36-38: 67; 20: 39; 26: 87; 29: 56; "
                                 "30: 24"},
    /* 24 digits and "." */ {67, "0-1, 4-10, 21, 23, 27-28, 35, 39: 88; 2-3, 12: 25; 11: 28; 14: 33; "
                                 "17-18: 26; 26: 87"},
    /* 25 fraction digits */ {88, "2-3, 12: 25; 11, 15-16, 19-20, 22, 24-25, 31-34, 36-38: 67; 14: 33; "
                                  "17-18: 26; 26: 87; 29: 56; 30: 29"},
    // "%" ends a percent here as it does after "E" and in ".5e2": the percent
    // loader reads any float text, exponent and all.
    /* 26 exponent */ {67, "0-1, 4-10, 13, 21, 23, 27-28, 35, 39: 88; 2-3, 32-33: 26; 26: 87; 29: 56"},
    /* 27 digits and "E" */ {88, "2-3: 27; 11-12, 14-15, 17, 19, 22, 24-25, 28, 31, 34, 36-38: 67; "
                                 "16: 42; 18, 20: 40; 26: 87; 29: 56; 30: 29; 32-33: 26"},
    /* 28 after "1.#" */ {89, "2: 88; 11-13, 26, 29, 31, 34, 38: 67; 14-20, 24-25, 30, 32-33, 36-37: 28"},
    /* 29 tuple */ {67, "0-1, 4-10, 13, 21, 23, 28, 35, 39: 90; 2-3, 30: 29"},
    /* 30 date */ {30, "0-1, 4-10, 23, 28, 31, 35, 39: 91; 26-27, 29, 34, 36, 38: 67"},
    /* 31 after digits and ":" */ {67, "2-3: 32"},
    /* 32 time */ {67, "0-1, 4-10, 21, 23, 28, 35, 39: 94; 2-3, 13, 30: 32"},
    /* 33 after digits and "x" */ {67, "2-3, 32-33: 34; 29: 56"},
    /* 34 second part of a pair */ {67, "0-1, 4-10, 13, 21, 23, 28, 35, 39: 92; 2-3, 17-18, 30: 34; 29: 56"},
    /* 35 point body */ {67, "0, 2-3, 5, 11, 17-20, 27, 30, 32-33, 37: 35; 7: 93"},
    /* 36 after "$" */ {67, "2-3: 37"},
    /* 37 money digits */ {67, "0-1, 4-11, 13, 21, 23, 28, 35, 39: 95; 2-3, 12: 37; 30: 38"},
    /* 38 money decimals */ {67, "0-1, 4-11, 13, 21, 23, 28, 35, 39: 95; 2-3, 12: 38"},
    /* 39 hex digits */ {67, "2-3, 18, 20: 39; 16: 41; 29: 56"},
    /* 40 word starting with a hex letter */
    {80, "2-3, 18, 20: 40; 12, 14-15, 17, 19, 23-25, 30, 32-34, 36-37: 52; 13: 53; 16: 41; 21: 75; "
         "26-27, 38: 67; 29: 56; 31: 37"},
    /* 41 after "h" in a hex word */
    {52, "0-1, 4-10, 22, 28, 35, 39: 99; 11, 26-27, 38: 67; 13: 53; 21: 75; 29: 56; 31: 37"},
    /* 42 after digits and "h" */ {67, "0-1, 4-10, 22-23, 28, 35, 39: 99; 21: 75; 29: 56; 31: 37"},
    /* 43 after "<" */ {44, "0-1, 4-10, 28, 35, 39: 80; 12: 46; 13: 53; 23: 43; 24-25, 33: 52; 38: 67"},
    /* 44 tag body */ {44, "10: 45; 12: 46; 24: 96; 38-39: 67"},
    /* 45 double-quoted part of a tag */ {45, "10: 44; 38-39: 67"},
    /* 46 quoted part of a tag */ {46, "12: 44; 38-39: 67"},
    /* 47 after "+" or "-" */
    {52, "0-1, 4-11, 22, 28, 35, 39: 80; 2-3: 23; 12, 26, 34, 38: 67; 21: 75; 30: 49; 31: 37"},
    /* 48 after a prefix and a sign */ {52, "0-1, 4-11, 22, 28, 35, 39: 80; 12, 26, 31, 34, 38: 67; 21: 75"},
    /* 49 after "." */
    {52, "0-1, 4-11, 22, 28, 35, 39: 80; 2-3, 32-33: 50; 13: 53; 21: 75; 26-27, 31, 38: 67; 29: 56"},
    /* 50 "." and digits */
    {67, "0-1, 4-10, 13, 21, 23, 35, 39: 88; 2-3, 17-18, 32-33: 50; 14: 33; 26: 87; 29: 56"},
    /* 51 after a leading "'" or ":" */
    {67, "14-20, 24, 30, 34, 36-37: 52; 21: 13; 23: 43; 25: 58; 26: 54; 32-33: 48"},
    /* 52 word */ {52, "0-1, 4-11, 22-23, 28, 35, 39: 80; 13: 53; 21: 75; 26-27, 38: 67; 29: 56; 31: 36"},
    /* 53 after a word and ":" */ {55, "0-1, 4-10, 22, 28, 35, 39: 80; 23, 38: 67"},
    /* 54 "%" word with a prefix */ {67, "0-1, 4-9, 22, 28, 35, 39: 80; 26: 54"},
    /* 55 url body */ {55, "0-1, 4-10, 22-23, 28, 35, 39: 97; 24, 34, 38: 67"},
    /* 56 email after "@" */
    {98, "2-3, 14-20, 26, 30, 32-33, 36-37: 56; 11-13, 24-25, 27, 29, 31, 34, 38: 67"},
    /* 57 ref */ {57, "0-1, 4-10, 23, 28, 35, 39: 101; 11-12, 22, 24-25, 27, 29, 31, 34, 38: 67"},
    /* 58 after "=" */ {52, "0-1, 4-10, 13, 22, 28, 35, 39: 80; 11, 26-27, 29, 31, 38: 67; 21: 75"},
    /* 59 path element start */
    {67, "2-3: 60; 6: 70; 7: 71; 10: 2; 11: 63; 12-13: 61; 14-20, 24-25, 30, 36-37: 62; 23: 43; "
         "29: 57; 31: 36; 32-33: 64"},
    /* 60 number in a path */
    {67, "0-1, 4-10, 13, 21, 23, 28, 35, 39: 82; 2-3, 12: 60; 14: 33; 17-18: 26; 26: 87; 29: 56; 30: 24"},
    /* 61 after a prefix in a path */ {67, "14-20, 23-25, 30, 32-33, 36-37: 62"},
    /* 62 word in a path */
    {62, "0-1, 4-10, 13, 21-22, 28, 35, 39: 80; 11, 26-27, 38: 67; 29: 56; 31: 36"},
    /* 63 after "#" in a path */ {22, "0-1, 5-9, 13, 21, 23-25, 27-29, 35, 38-39: 67; 4: 21; 10: 19"},
    /* 64 after a sign in a path */
    {80, "2-3: 60; 11-12, 23, 26-27, 34, 38: 67; 14-20, 24-25, 30, 36-37: 62; 29: 56; 31: 36; "
         "32-33: 64"},
};

// Datatype of a token ending in (final states) or heading through (working
// states) each state; 0 for none. An error token reports the type of the
// working state it failed in.
constexpr std::uint8_t type_of(Type t) { return static_cast<std::uint8_t>(t); }

constexpr std::uint8_t state_types[state_count] = {
    // working states 0 to 64
    0, 0,                                                    // 0, 1
    type_of(Type::string), type_of(Type::string),            // 2, 3
    type_of(Type::string), type_of(Type::string),            // 4, 5
    type_of(Type::file), type_of(Type::file),                // 6, 7
    type_of(Type::file), type_of(Type::file),                // 8, 9
    type_of(Type::string), type_of(Type::string), type_of(Type::string),  // 10-12
    type_of(Type::refinement), type_of(Type::refinement),    // 13, 14
    type_of(Type::word),                                     // 15
    type_of(Type::issue),                                    // 16
    type_of(Type::binary), type_of(Type::binary),            // 17, 18
    type_of(Type::char_), type_of(Type::char_),              // 19, 20
    type_of(Type::datatype),                                 // 21
    type_of(Type::issue),                                    // 22
    type_of(Type::integer),                                  // 23
    type_of(Type::float_), type_of(Type::float_), type_of(Type::float_),  // 24-26
    type_of(Type::float_), type_of(Type::float_),            // 27, 28
    type_of(Type::tuple),                                    // 29
    type_of(Type::date),                                     // 30
    type_of(Type::time), type_of(Type::time),                // 31, 32
    type_of(Type::pair), type_of(Type::pair),                // 33, 34
    type_of(Type::point2d),                                  // 35
    type_of(Type::money), type_of(Type::money), type_of(Type::money),     // 36-38
    type_of(Type::integer),                                  // 39
    type_of(Type::word), type_of(Type::word),                // 40, 41
    type_of(Type::integer),                                  // 42
    type_of(Type::tag), type_of(Type::tag), type_of(Type::tag), type_of(Type::tag),  // 43-46
    type_of(Type::integer),                                  // 47
    type_of(Type::word),                                     // 48
    type_of(Type::float_), type_of(Type::float_),            // 49, 50
    type_of(Type::word), type_of(Type::word),                // 51, 52
    type_of(Type::url),                                      // 53
    type_of(Type::word),                                     // 54
    type_of(Type::url),                                      // 55
    type_of(Type::email),                                    // 56
    type_of(Type::ref),                                      // 57
    type_of(Type::word),                                     // 58
    type_of(Type::path),                                     // 59
    type_of(Type::integer),                                  // 60
    type_of(Type::word), type_of(Type::word),                // 61, 62
    type_of(Type::issue),                                    // 63
    type_of(Type::word),                                     // 64
    0,                                                       // 65, never used
    // final states 66 to 101, in token-kind order
    0, type_of(Type::error), 0, 0, 0, 0, 0, type_of(Type::string),   // 66-73
    0, 0, 0, 0, 0,                                                   // 74-78
    type_of(Type::string), type_of(Type::word), type_of(Type::issue),
    type_of(Type::integer), type_of(Type::refinement), type_of(Type::char_),
    type_of(Type::file), type_of(Type::binary), type_of(Type::percent),
    type_of(Type::float_), type_of(Type::float_), type_of(Type::tuple),
    type_of(Type::date), type_of(Type::pair), type_of(Type::point2d),
    type_of(Type::time), type_of(Type::money), type_of(Type::tag),
    type_of(Type::url), type_of(Type::email), type_of(Type::integer),
    type_of(Type::string), type_of(Type::ref),                       // 79-101
};

// Unicode code points that count as blanks before and inside words.
constexpr std::uint32_t unicode_blanks[] = {
    0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
    0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B,
};

// ---------------------------------------------------------------------------
// Expansion into flat arrays
// ---------------------------------------------------------------------------

namespace tables_detail {

constexpr bool is_ascii_letter(int b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

constexpr std::array<std::uint32_t, 256> build_classes() {
    std::array<std::uint32_t, 256> out{};
    for (auto& entry : out) entry = 0xFF;
    for (const ClassRange& r : class_rows)
        for (int b = r.lo; b <= r.hi; ++b) {
            if (out[b] != 0xFF) throw "byte given two classes";
            out[b] = r.cls;
        }
    for (int b = 0; b < 256; ++b)
        if (out[b] == 0xFF && is_ascii_letter(b)) out[b] = cls::letter;
    for (int b = 0; b < 256; ++b)
        if (out[b] == 0xFF) throw "byte without a class";
    for (const FlagRange& r : flag_rows)
        for (int b = r.lo; b <= r.hi; ++b) out[b] |= r.flag;
    return out;
}

constexpr int parse_number(const char*& p) {
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') throw "number expected";
    int n = 0;
    while (*p >= '0' && *p <= '9') n = n * 10 + (*p++ - '0');
    while (*p == ' ') ++p;
    return n;
}

// Reads "a-b, c: s; ..." groups into one row.
constexpr void apply_groups(std::array<std::uint8_t, class_count>& row, const char* p) {
    while (*p) {
        int from[class_count] = {}, to[class_count] = {}, n = 0;
        for (;;) {
            from[n] = to[n] = parse_number(p);
            if (*p == '-') to[n] = parse_number(++p);
            ++n;
            if (*p == ',') { ++p; continue; }
            if (*p == ':') { ++p; break; }
            throw "malformed group";
        }
        int target = parse_number(p);
        if (target > 101 || target == 65) throw "bad target state";
        for (int i = 0; i < n; ++i)
            for (int c = from[i]; c <= to[i]; ++c) {
                if (c >= class_count) throw "class out of range";
                row[c] = static_cast<std::uint8_t>(target);
            }
        if (*p == ';') ++p;
        else if (*p) throw "malformed row";
    }
}

using Transitions = std::array<std::array<std::uint8_t, class_count>, working_state_count>;

constexpr Transitions build_transitions() {
    Transitions out{};
    for (int s = 0; s < working_state_count; ++s) {
        out[s].fill(transition_rows[s].fallback);
        apply_groups(out[s], transition_rows[s].groups);
        // The end of the input must always end a token.
        if (out[s][cls::end] < first_final_state) throw "end of input does not end the token";
    }
    return out;
}

}  // namespace tables_detail

// Class entry of every byte: class in the low byte, flags above.
inline constexpr std::array<std::uint32_t, 256> byte_classes = tables_detail::build_classes();

// Next state by working state and class.
inline constexpr tables_detail::Transitions transitions = tables_detail::build_transitions();

// Only state 0 skips: bytes consumed there move the token's start.
constexpr bool skips(int state) { return state == 0; }

// Line breaks are counted by class.
constexpr int line_increment(int cls_) { return cls_ == cls::line_feed ? 1 : 0; }

// Classes of the byte after a path element that end the path.
constexpr bool ends_path(int cls_) {
    switch (cls_) {
        case 0: case 1: case 4: case 5: case 6: case 7: case 8: case 10: case 13: case 23:
        case 28: case 37: case 38: case 39:
            return true;
        default:
            return false;
    }
}

}  // namespace kiv::lexer
