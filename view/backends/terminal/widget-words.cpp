#include "view/backends/terminal/widget-words.h"

#include <iterator>

#include "runtime/datatypes/symbol.h"

namespace kiv::gui {

namespace {

constexpr const char* spellings[] = {
#define KIV_WIDGET_WORD_TEXT(ident, spelling) spelling,
    KIV_WIDGET_WORDS(KIV_WIDGET_WORD_TEXT)
#undef KIV_WIDGET_WORD_TEXT
};
constexpr int word_count = static_cast<int>(WidgetWord::count_);
static_assert(std::size(spellings) == word_count);

// Symbol ids never change once interned. A runtime started afresh (tests)
// has a new symbol table: the first word's own symbol is checked to notice.
std::uint32_t symbols[word_count] = {};
std::uint32_t first_symbol = 0;

bool current() {
    return first_symbol != 0 && first_symbol <= symbol::count() && symbol::text(first_symbol) == spellings[0];
}

void make_symbols() {
    first_symbol = symbol::make(spellings[0]);
    for (int i = 0; i < word_count; ++i) symbols[i] = symbol::resolve(symbol::make(spellings[i]));
}

}  // namespace

std::uint32_t widget_symbol(WidgetWord word) {
    if (!current()) [[unlikely]]
        make_symbols();
    return symbols[static_cast<int>(word)];
}

bool is_widget_word(const Cell* value, WidgetWord word) {
    const Type t = value->type();
    if (t != Type::word && t != Type::lit_word && t != Type::get_word && t != Type::set_word) return false;
    return symbol::resolve(value->data2) == widget_symbol(word);
}

}  // namespace kiv::gui
