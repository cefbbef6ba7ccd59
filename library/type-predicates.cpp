// The type predicates: one C++ function per datatype or typeset word, made
// from two templates, and their routine! values.
#include "library/type-predicates.h"

#include <cstring>
#include <string>

#include "library/routines.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"

namespace kiv::type_predicates {

namespace {

using routine::Raw;

// ORDER PREDICATES: P(name, datatype).
#define KIV_SINGLE_TYPE_PREDICATES(P)                                                           \
    P("bitset?", bitset) P("binary?", binary) P("block?", block) P("char?", char_)               \
    P("email?", email) P("file?", file) P("float?", float_) P("get-path?", get_path)             \
    P("get-word?", get_word) P("hash?", hash) P("integer?", integer) P("issue?", issue)          \
    P("lit-path?", lit_path) P("lit-word?", lit_word) P("logic?", logic) P("map?", map)          \
    P("none?", none) P("pair?", pair) P("paren?", paren) P("path?", path)                        \
    P("percent?", percent) P("refinement?", refinement) P("set-path?", set_path)                 \
    P("set-word?", set_word) P("string?", string) P("tag?", tag) P("time?", time)                \
    P("typeset?", typeset) P("tuple?", tuple) P("unset?", unset) P("url?", url) P("word?", word) \
    P("image?", image) P("date?", date) P("money?", money) P("ref?", ref)                        \
    P("point2D?", point2d) P("point3D?", point3d) P("handle?", handle) P("error?", error)         \
    P("action?", action) P("native?", native) P("datatype?", datatype)                           \
    P("function?", function) P("object?", object) P("op?", op) P("routine?", routine)            \
    P("vector?", vector)

// ORDER PREDICATES: T(name, typeset word, index in typeset_index). The
// names stay in the routine table, so they are literals.
#define KIV_TYPESET_PREDICATES(T)                                                          \
    T("any-list?", "any-list!", 0) T("any-block?", "any-block!", 1)                        \
    T("any-function?", "any-function!", 2) T("any-object?", "any-object!", 3)              \
    T("any-path?", "any-path!", 4) T("any-string?", "any-string!", 5)                      \
    T("any-word?", "any-word!", 6) T("series?", "series!", 7) T("number?", "number!", 8)   \
    T("immediate?", "immediate!", 9) T("scalar?", "scalar!", 10)                           \
    T("all-word?", "all-word!", 11) T("any-point?", "any-point!", 12)                      \
    T("planar?", "planar!", 13)

constexpr int typeset_count = 14;

// The global-context index of each typeset word, found once at binding.
std::int32_t typeset_index[typeset_count];

template <Type T>
std::int32_t is_type(const Raw* args) {
    return args[0].cell->type() == T ? 1 : 0;
}

template <int N>
std::int32_t in_typeset(const Raw* args) {
    const Cell* typeset = context::slot(context::global(), typeset_index[N]);
    return typeset->is(Type::typeset) && block::typeset_has(typeset, args[0].cell->type_id()) ? 1 : 0;
}

constexpr const char* single_spec =
    R"("Returns true if the value is this type" value [any-type!] return: [logic!])";

void define(const char* name, const std::string& spec, routine::Entry entry) {
    Cell routine_value;
    library_routines::define({name, spec.c_str(), entry}, &routine_value);
}

void bind_typeset(const char* name, const char* typeset_word, int index, routine::Entry entry) {
    Cell global;
    context::add_global(symbol::make(typeset_word), true, false, &global);
    typeset_index[index] = static_cast<std::int32_t>(global.data3);
    const std::string stem(typeset_word, std::strlen(typeset_word) - 1);
    const std::string doc = "\"Returns true if the value is any type of " + stem + "\"";
    define(name, doc + " value [any-type!] return: [logic!]", entry);
}

}  // namespace

void bind() {
#define KIV_BIND_SINGLE(name, type) define(name, single_spec, is_type<Type::type>);
    KIV_SINGLE_TYPE_PREDICATES(KIV_BIND_SINGLE)
#undef KIV_BIND_SINGLE
#define KIV_BIND_TYPESET(name, word, index) bind_typeset(name, word, index, in_typeset<index>);
    KIV_TYPESET_PREDICATES(KIV_BIND_TYPESET)
#undef KIV_BIND_TYPESET
}

}  // namespace kiv::type_predicates
