// The graphics engine's C++ routines and their binding. Each routine's spec
// is Kiv text kept next to its function, bound like the library's routines.
#include "view/view-routines.h"

#include "library/routines.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/symbol.h"

namespace kiv::view_routines {

namespace {

using routine::Raw;

bool same_flag(const Cell* word, const Cell* flag) {
    return symbol::resolve(word->data2) == symbol::resolve(flag->data2);
}

// A face's flags are one flag word or a block of them (lit-words allowed);
// a block is searched from its index. Words match without regard to case.
std::int32_t find_flag_q(const Raw* args) {
    Cell* facet = args[0].cell;
    const Cell* flag = args[1].cell;
    if (facet->is(Type::word)) return same_flag(facet, flag) ? 1 : 0;
    if (!facet->is(Type::block)) return 0;
    for (const Cell* c = block::ks_head(facet); c < block::ks_tail(facet); ++c)
        if ((c->is(Type::word) || c->is(Type::lit_word)) && same_flag(c, flag)) return 1;
    return 0;
}

// ORDER VIEW-ROUTINES: the binding order of the global words.
constexpr library_routines::Definition definitions[] = {
    {"find-flag?", R"(facet [any-type!] flag [word!] return: [logic!])", find_flag_q},
};

}  // namespace

void bind() {
    for (const library_routines::Definition& d : definitions) {
        Cell routine;
        library_routines::define(d, &routine);
    }
}

}  // namespace kiv::view_routines
