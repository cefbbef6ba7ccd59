// The runtime's fixed words, made once at start-up. Each is kept as a symbol
// id and, for a global word, the index of its value in the global context,
// so a word cell is rebuilt without any lookup.
#include "runtime/fixed-words.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kiv::words {

namespace {

constexpr const char* sym_texts[] = {
#define KIV_FIXED_SYM_TEXT(ident, text) text,
    KIV_FIXED_SYMBOLS(KIV_FIXED_SYM_TEXT)
#undef KIV_FIXED_SYM_TEXT
};
constexpr const char* word_texts[] = {
#define KIV_FIXED_W_TEXT(ident, text) text,
    KIV_FIXED_WORDS(KIV_FIXED_W_TEXT)
#undef KIV_FIXED_W_TEXT
};
constexpr const char* refinement_texts[] = {
#define KIV_FIXED_REF_TEXT(ident, text) text,
    KIV_FIXED_REFINEMENTS(KIV_FIXED_REF_TEXT)
#undef KIV_FIXED_REF_TEXT
};

constexpr int sym_count = static_cast<int>(Sym::count_);
constexpr int word_count = static_cast<int>(W::count_);
constexpr int refinement_count = static_cast<int>(Ref::count_);

struct Entry {
    std::uint32_t symbol = 0;
    std::int32_t index = -1;  // of the global word's value; -1: no global word
};

Entry sym_entries[sym_count];
Entry word_entries[word_count];
std::uint32_t refinement_symbols[refinement_count];
std::uint32_t ooo_id = 0;

Cell* global_word(const Entry& e, Cell* out) {
    *out = Cell{static_cast<std::uint32_t>(Type::word), context::global(), e.symbol,
                static_cast<std::uint32_t>(e.index)};
    return out;
}

void make_symbols() {
    for (int i = 0; i < sym_count; ++i) sym_entries[i] = Entry{symbol::make(sym_texts[i]), -1};
}

void make_globals() {
    constexpr Sym globals[] = {
#define KIV_FIXED_GLOBAL(ident) Sym::ident,
        KIV_FIXED_GLOBALS(KIV_FIXED_GLOBAL)
#undef KIV_FIXED_GLOBAL
    };
    for (Sym s : globals) {
        Entry& e = sym_entries[static_cast<int>(s)];
        Cell w;
        context::get_global_word(e.symbol, &w);
        e.index = static_cast<std::int32_t>(w.data3);
    }
}

void make_words() {
    for (int i = 0; i < word_count; ++i) {
        Cell w;
        word::load(word_texts[i], &w);
        word_entries[i] = Entry{w.data2, static_cast<std::int32_t>(w.data3)};
    }
}

void make_refinements() {
    for (int i = 0; i < refinement_count; ++i) refinement_symbols[i] = symbol::make(refinement_texts[i]);
}

void make_issues() { ooo_id = symbol::make("ooo"); }

}  // namespace

void init() {
    make_symbols();
    make_globals();
    make_words();
    make_refinements();
    make_issues();
}

std::uint32_t symbol(Sym s) { return sym_entries[static_cast<int>(s)].symbol; }
std::uint32_t symbol(W w) { return word_entries[static_cast<int>(w)].symbol; }
std::uint32_t symbol(Ref r) { return refinement_symbols[static_cast<int>(r)]; }
std::uint32_t ooo_symbol() { return ooo_id; }

Cell* word(Sym s, Cell* out) { return global_word(sym_entries[static_cast<int>(s)], out); }
Cell* word(W w, Cell* out) { return global_word(word_entries[static_cast<int>(w)], out); }

Cell* refinement(Ref r, Cell* out) {
    *out = Cell{static_cast<std::uint32_t>(Type::refinement), 0, symbol(r), static_cast<std::uint32_t>(-1)};
    return out;
}

Cell* ooo(Cell* out) {
    *out = Cell{static_cast<std::uint32_t>(Type::issue), 0, ooo_id, static_cast<std::uint32_t>(-1)};
    return out;
}

// Only the word family holds a symbol id; any other value (a time or an
// integer given as a reflect field or a path selector) has other bits
// where the id would be.
bool is(const Cell* w, Sym s) {
    return word::is_word_family(w) && symbol::resolve(w->data2) == symbol::resolve(symbol(s));
}
bool is(const Cell* w, W x) {
    return word::is_word_family(w) && symbol::resolve(w->data2) == symbol::resolve(symbol(x));
}

}  // namespace kiv::words
