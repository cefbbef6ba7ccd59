// Case mapping and display width: see case-folding.h.
#include "runtime/case-folding.h"

#include <iterator>

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
