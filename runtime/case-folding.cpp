// Case mapping and display width: see case-folding.h.
#include "runtime/case-folding.h"

#include <iterator>

#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/unicode-strings.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

using unicode::Interval;

struct CasePair {
    std::uint32_t code_point, mapped;
};

#include "runtime/case-folding-tables.inc"

}  // namespace

namespace case_folding {

namespace {

// entry c: the mapping of c, 0 when c maps to itself
std::uint32_t upper_array[65536];
std::uint32_t lower_array[65536];
bool ready = false;

template <std::size_t N>
void fill(std::uint32_t* array, const CasePair (&pairs)[N]) {
    for (const CasePair& p : pairs) array[p.code_point] = p.mapped;
}

template <std::size_t N>
std::uint32_t scan(std::uint32_t cp, const CasePair (&pairs)[N]) {
    if (cp < pairs[0].code_point || cp > pairs[N - 1].code_point) return cp;
    for (const CasePair& p : pairs) {
        if (p.code_point > cp) break;
        if (p.code_point == cp) return p.mapped;
    }
    return cp;
}

}  // namespace

void init() {
    if (ready) return;
    fill(upper_array, upper_pairs);
    fill(lower_array, lower_pairs);
    ready = true;
}

std::uint32_t change_char(std::uint32_t cp, bool to_upper) {
    if (cp <= 0xFFFF) {
        std::uint32_t v = (to_upper ? upper_array : lower_array)[cp];
        return v ? v : cp;
    }
    return to_upper ? scan(cp, supplementary_upper_pairs) : scan(cp, supplementary_lower_pairs);
}

namespace {

// How many code points from the index a part argument covers (unclamped).
std::int64_t part_count(const Cell* value, const Cell* part, const Cell* refinement, std::int64_t all) {
    if (!part) return all;
    if (part->is(Type::integer)) return static_cast<std::int32_t>(part->data2);
    if (part->type() == value->type() && part->data2 == value->data2)
        return static_cast<std::int64_t>(part->data1) - static_cast<std::int64_t>(value->data1);
    fire(ErrorId::script_invalid_refine_arg, refinement, part);
}

memory::SeriesBuffer* widen_for(memory::SeriesBuffer* b, std::uint32_t cp) {
    int need = unicode::unit_for(cp);
    if (b->unit() == 1) return need == 2 ? unicode::widen_1to2(b) : unicode::widen_1to4(b);
    return unicode::widen_2to4(b);
}

}  // namespace

void change_case(Cell* value, const Cell* part, const Cell* refinement, bool to_upper) {
    if (value->is(Type::char_)) {
        value->data2 = change_char(value->data2, to_upper);
        return;
    }
    memory::SeriesBuffer* b = memory::buffer_of(value->data2);
    std::uint32_t used = b->length();
    if (value->data1 > used) value->data1 = used;
    std::int64_t all = used - value->data1;
    std::int64_t n = part_count(value, part, refinement, all);
    if (n < 0) n = 0;
    if (n > all) n = all;
    for (std::uint32_t i = value->data1; i < value->data1 + n; ++i) {
        int unit = static_cast<int>(b->unit());
        std::uint32_t cp = unicode::unit_at(b->head() + i * unit, unit);
        std::uint32_t mapped = change_char(cp, to_upper);
        if (mapped == cp) continue;
        // GC: widening may move the buffer; positions are recomputed from
        // the index in code points, which widening keeps.
        if (unicode::unit_for(mapped) > unit) b = widen_for(b, mapped);
        unicode::store_unit(b->head() + i * b->unit(), static_cast<int>(b->unit()), mapped);
    }
    // An owning object hears of the change once, after it, under the
    // action's own word (the case changes have no past-tense word).
    if (b->flags & ownership::owned_flag) {
        Cell action;
        words::word(to_upper ? words::W::uppercase : words::W::lowercase, &action);
        ownership::check(value, &action, nullptr, static_cast<std::int32_t>(value->data1),
                         static_cast<std::int32_t>(n));
    }
}

}  // namespace case_folding

namespace unicode {

bool in_intervals_q(std::uint32_t cp, const Interval* table, std::size_t count) {
    if (count == 0 || cp < table[0].first || cp > table[count - 1].last) return false;
    for (std::size_t i = 0; i < count && table[i].first <= cp; ++i)
        if (cp <= table[i].last) return true;
    return false;
}

int display_width(std::uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_intervals_q(cp, zero_width_intervals, std::size(zero_width_intervals))) return 0;
    if (in_intervals_q(cp, wide_intervals, std::size(wide_intervals))) return 2;
    return 1;
}

}  // namespace unicode

}  // namespace kiv
