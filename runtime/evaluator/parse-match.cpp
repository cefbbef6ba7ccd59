// Matching simple rule values at the input position: one literal match, a
// datatype or typeset test, counting repetitions and searching for a value.
// Counting and searching of chars and bitsets run as tight loops over the
// input's units (1, 2 or 4 bytes, or the bytes of a binary); everything else
// goes through the one-position match.
//
// No function here allocates, except copy_part (a new series) and
// match_type on binary input, whose lexer scan only reads.
#include <algorithm>
#include <cstring>

#include "runtime/case-folding.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/parse-engine.h"
#include "runtime/fire.h"

namespace kiv::parse::detail {

namespace {

// A bitset's bits as the loops read them.
class Bits {
public:
    explicit Bits(const Cell* bitset) {
        const memory::SeriesBuffer* b = memory::buffer_of(bitset->data2);
        bytes_ = const_cast<memory::SeriesBuffer*>(b)->head();
        count_ = std::uint64_t{b->used_bytes()} * 8;
        outside_ = (b->flags & memory::series_flag::complement) != 0;
    }
    bool has(std::uint32_t n) const {
        return n < count_ ? (bytes_[n >> 3] & (0x80u >> (n & 7))) != 0 : outside_;
    }

private:
    const std::uint8_t* bytes_;
    std::uint64_t count_;
    bool outside_;
};

bool is_text(Type t) { return series::is_any_string(t) || t == Type::binary; }

// Units of a string-family or binary value from its index.
std::int32_t text_length(const Cell* v) {
    Cell copy = *v;
    return series::ks_length(&copy);
}

std::uint32_t upper(std::uint32_t cp) { return case_folding::change_char(cp, true); }

template <class U>
std::uint32_t unit_at(const std::uint8_t* head, std::int32_t i) {
    U u;
    std::memcpy(&u, head + std::size_t(i) * sizeof(U), sizeof(U));
    return u;
}

// The number of units from `from` (at most `n`) that `accept` takes, one
// after another.
template <class U, class Accept>
std::int32_t run_of(const std::uint8_t* head, std::int32_t from, std::int32_t n, Accept accept) {
    std::int32_t k = 0;
    while (k < n && accept(unit_at<U>(head, from + k))) ++k;
    return k;
}

// The first unit in [from, to) that `accept` takes, or -1.
template <class U, class Accept>
std::int32_t first_of(const std::uint8_t* head, std::int32_t from, std::int32_t to, Accept accept) {
    for (std::int32_t i = from; i < to; ++i) {
        if (accept(unit_at<U>(head, i))) return i;
    }
    return -1;
}

template <class Accept>
std::int32_t run_by_unit(std::uint32_t unit, const std::uint8_t* head, std::int32_t from,
                         std::int32_t n, Accept accept) {
    switch (unit) {
        case 1: return run_of<std::uint8_t>(head, from, n, accept);
        case 2: return run_of<std::uint16_t>(head, from, n, accept);
        default: return run_of<std::uint32_t>(head, from, n, accept);
    }
}

template <class Accept>
std::int32_t first_by_unit(std::uint32_t unit, const std::uint8_t* head, std::int32_t from,
                           std::int32_t to, Accept accept) {
    switch (unit) {
        case 1: return first_of<std::uint8_t>(head, from, to, accept);
        case 2: return first_of<std::uint16_t>(head, from, to, accept);
        default: return first_of<std::uint32_t>(head, from, to, accept);
    }
}

// Calls `use` with the test a char! or bitset! value stands for on one unit:
// a bitset by membership, a char by code point (folded unless `fold` is
// false).
template <class Use>
auto with_unit_test(const Cell* v, bool fold, Use use) {
    if (v->is(Type::bitset)) {
        const Bits bits(v);
        return use([bits](std::uint32_t u) { return bits.has(u); });
    }
    if (!fold) {
        const std::uint32_t cp = v->data2;
        return use([cp](std::uint32_t u) { return u == cp; });
    }
    const std::uint32_t cp = upper(v->data2);
    return use([cp](std::uint32_t u) { return upper(u) == cp; });
}

}  // namespace

bool Engine::is_input(const Cell* v) const {
    return v->type() == input.type() && v->data2 == input.data2;
}

bool Engine::match_at(std::int32_t at, const Cell* v, std::int32_t* covered) const {
    const std::int32_t stop = stop_at();
    const Type t = v->type();
    if (at >= stop) {
        // Only an empty text matches at the end, and only in text.
        const bool empty_text = t == Type::string || t == Type::file || t == Type::url;
        if (kind == InputKind::string && empty_text && text_length(v) == 0) {
            *covered = 0;
            return true;
        }
        return false;
    }
    Cell here = input;
    here.data1 = static_cast<std::uint32_t>(at);
    Cell pattern = *v;
    switch (kind) {
        case InputKind::block: {
            Cell item = block::buffer(&input)->cells()[at];
            CompareOp mode = op;
            if (t == Type::lit_word || t == Type::lit_path)
                mode = op == CompareOp::strict_equal ? CompareOp::strict_word : CompareOp::equal_word;
            const auto compare = registry::lookup<Action::compare>(item.type());
            if (!compare || compare(&item, &pattern, mode) != 0) return false;
            *covered = 1;
            return true;
        }
        case InputKind::string:
            if (t == Type::bitset) {
                if (!string::char_in_bitset_q(&here, v)) return false;
                *covered = 1;
                return true;
            }
            if (!string::match_at_q(&here, &pattern, op)) return false;
            *covered = t == Type::char_ ? 1 : text_length(v) + (t == Type::tag ? 2 : 0);
            break;
        case InputKind::binary:
            if (t == Type::bitset) {
                if (!binary::byte_in_bitset(&here, v)) return false;
                *covered = 1;
                return true;
            }
            if (t == Type::tag) {
                // A tag matches with its delimiters, as in text.
                const std::int32_t n = text_length(v);
                const std::uint8_t* p = binary::ks_head(&here);
                if (stop - at < n + 2 || p[0] != '<' || p[n + 1] != '>') return false;
                here.data1 += 1;
                if (!binary::match_value(&here, &pattern, op)) return false;
                *covered = n + 2;
                break;
            }
            if (!binary::match_value(&here, &pattern, op)) return false;
            *covered = t == Type::char_ ? 1 : text_length(v);
            break;
    }
    // Nothing beyond the limit is seen.
    return at + *covered <= stop;
}

bool Engine::match_type(const Cell* v, std::int32_t* covered) const {
    const auto has = [v](std::uint32_t id) {
        return v->is(Type::datatype) ? v->data1 == id : typeset::has(v, id);
    };
    if (kind == InputKind::block) {
        *covered = 1;
        return has(block::buffer(&input)->cells()[pos()].type_id());
    }
    // Binary input: the lexer reads one token from the position.
    const std::uint8_t* bytes = memory::buffer_of(input.data2)->head() + pos();
    lexer::Scan scan(lexer::checking_hooks, bytes, static_cast<std::size_t>(stop_at() - pos()),
                     lexer::Mode::scan, true);
    const int found = scan.run();
    const auto taken = static_cast<std::int32_t>(scan.consumed());
    if (found <= 0 || found == static_cast<int>(Type::error) || taken <= 0) return false;
    *covered = taken;
    return has(static_cast<std::uint32_t>(found));
}

bool Engine::count_repetitions(const Cell* v, std::int32_t lo, std::int32_t hi) {
    const std::int32_t start = pos();
    const std::int32_t left = stop_at() - start;
    if (left <= 0 || left < lo) return lo == 0;
    if (is_text(v->type()) && text_length(v) == 0) return true;
    std::int32_t count = 0;
    std::int32_t at = start;
    if (kind != InputKind::block && (v->is(Type::char_) || v->is(Type::bitset))) {
        // PERF: one unit per repetition, tested in a tight loop.
        const memory::SeriesBuffer* b = memory::buffer_of(input.data2);
        const std::uint8_t* head = const_cast<memory::SeriesBuffer*>(b)->head();
        const std::int32_t most = hi < 0 ? left : std::min(hi, left);
        const bool fold = kind == InputKind::string && op != CompareOp::strict_equal;
        count = with_unit_test(v, fold, [&](auto accept) {
            return run_by_unit(b->unit(), head, start, most, accept);
        });
        at = start + count;
    } else {
        std::int32_t covered = 0;
        while ((hi < 0 || count < hi) && match_at(at, v, &covered)) {
            at += covered;
            ++count;
            if (covered == 0) break;
        }
    }
    // A failed count leaves the input where it was.
    if (count < lo) return false;
    set_pos(at);
    return true;
}

Found Engine::search(const Cell* v) const {
    const std::int32_t start = pos();
    const std::int32_t stop = stop_at();
    const Type t = v->type();
    Found found;
    std::int32_t covered = 0;
    if (kind == InputKind::block) {
        for (std::int32_t i = start; i < stop; ++i) {
            if (match_at(i, v, &covered)) return Found{i, 1};
        }
        return found;
    }
    if (!is_text(t) && t != Type::char_ && t != Type::bitset) fire(ErrorId::script_parse_rule, v);
    const memory::SeriesBuffer* b = memory::buffer_of(input.data2);
    const std::uint8_t* head = const_cast<memory::SeriesBuffer*>(b)->head();
    const bool fold = kind == InputKind::string && op != CompareOp::strict_equal;
    if (t == Type::char_ || t == Type::bitset) {
        const std::int32_t at = with_unit_test(v, fold, [&](auto accept) {
            return first_by_unit(b->unit(), head, start, stop, accept);
        });
        return at < 0 ? found : Found{at, 1};
    }
    const std::int32_t n = text_length(v) + (t == Type::tag ? 2 : 0);
    if (n > stop - start) return found;
    if (n == 0) return Found{start, 0};
    // PERF: only positions whose first unit could begin a match are tried.
    Cell first_char{static_cast<std::uint32_t>(Type::char_), 0, 0, 0};
    if (t == Type::tag) {
        first_char.data2 = '<';
    } else {
        Cell text = *v;
        first_char.data2 = t == Type::binary ? *binary::ks_head(&text) : string::ks_abs_at(&text, series::head(&text));
    }
    const bool fold_first = fold && t != Type::binary;
    for (std::int32_t i = start; i + n <= stop; ++i) {
        i = with_unit_test(&first_char, fold_first, [&](auto accept) {
            return first_by_unit(b->unit(), head, i, stop - n + 1, accept);
        });
        if (i < 0) break;
        if (match_at(i, v, &covered)) return Found{i, covered};
    }
    return found;
}

Cell Engine::item_at(std::int32_t at) const {
    const memory::SeriesBuffer* b = memory::buffer_of(input.data2);
    std::uint8_t* head = const_cast<memory::SeriesBuffer*>(b)->head();
    Cell out{};
    switch (kind) {
        case InputKind::block: return block::buffer(&input)->cells()[at];
        case InputKind::binary: return *series::make_integer(&out, head[at]);
        case InputKind::string:
            return *series::make_char(&out, string::get_char(head + std::size_t(at) * b->unit(), b->unit()));
    }
    return out;
}

Cell Engine::copy_part(std::int32_t from, std::int32_t to) const {
    Cell source = input;
    series::set_head(&source, from);
    Cell part;
    series::make_integer(&part, std::max(to - from, 0));
    Cell out;
    return *registry::find<Action::copy>(&source)(&source, &out, &part, false, nullptr);
}

}  // namespace kiv::parse::detail
