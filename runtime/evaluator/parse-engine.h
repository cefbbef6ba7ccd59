// The parse engine's state machine, shared by its three source files:
// parse.cpp (the stacks, the run loop and the states), parse-match.cpp
// (matching, counting and searching values at the input position) and
// parse-keywords.cpp (the keywords and the completion of keyword rules).
//
// One run is one Engine on the C++ stack. Its cells are seen by the
// collector's stack scan; the rule block and the input are held as values
// and indexes. The only pointers kept across steps are the cached buffers
// (see sync()), re-read after any code that may move or cut them (parens,
// the callback, insert, change, remove, keep, setting a word).
//
// Rule stack frames, three cells each (the trace callback sees them):
//   block frame: none!, triple (cmd index in the parent, input position,
//                input length), the parent rule block
//   rule frame:  the word of copy/set, else triple (min, max, counter);
//                triple (keyword index, input position at the start of the
//                iteration, input length then); a pair!-typed marker whose
//                data2 is the rule type and data3 the flag of keep pick
// The cmd indexes saved in frames count from the head of their block; cmd
// itself counts from the first cell of the rule block's buffer.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/state.h"

namespace kiv::parse::detail {

// The states, one step each per turn of the run loop.
enum class Step : std::uint8_t {
    push_block,
    pop_block,
    push_rule,
    pop_rule,
    check_pending,
    do_action,
    next_input,
    next_action,
    match,
    match_rule,
    find_alternative,
    word,
    end,
    exit,
    halt,  // the callback stopped the run, or a throw left code it ran
};

// Rule type codes of the marker cell.
namespace rule {
constexpr std::int32_t repeat = -1;
constexpr std::int32_t to = -2;
constexpr std::int32_t thru = -3;
constexpr std::int32_t copy = -4;
constexpr std::int32_t set = -5;
constexpr std::int32_t not_ = -6;
constexpr std::int32_t into = -7;
constexpr std::int32_t remove = -9;
constexpr std::int32_t while_ = -11;
constexpr std::int32_t collect = -12;
constexpr std::int32_t keep = -13;
constexpr std::int32_t keep_paren = -14;
constexpr std::int32_t ahead = -16;
constexpr std::int32_t change = -17;
constexpr std::int32_t change_only = -18;
constexpr std::int32_t case_ = -19;
}  // namespace rule

enum class InputKind : std::uint8_t { block, string, binary };

// The keywords, by what the word state does with them. ORDER: the engine
// tests them in this order.
enum class Keyword : std::uint8_t {
    none_ = 0,  // not a keyword
    bar, skip, any, some, copy, to, thru, remove, break_, opt, keep, fail, ahead, while_, into,
    insert, change, end, if_, not_, quote, collect, case_, reject, set, none,
};

// Fills the table of keyword symbols (the runtime's fixed words must exist).
void init_keywords();
// Keywords by symbol id, filled as words are met: a case variant finds its
// canonical spelling's keyword once (symbols never change their alias).
constexpr std::uint32_t keyword_table_size = 65536;
constexpr std::uint8_t keyword_unknown = 0xFF;
extern std::array<std::uint8_t, keyword_table_size> keyword_by_symbol;
Keyword keyword_of_slow(std::uint32_t id);

// The keyword of a word's canonical symbol, Keyword::none_ for others.
inline Keyword keyword_of(const Cell* word) {
    const std::uint32_t id = word->data2;
    if (id < keyword_table_size) [[likely]] {
        const std::uint8_t k = keyword_by_symbol[id];
        if (k != keyword_unknown) [[likely]]
            return static_cast<Keyword>(k);
    }
    return keyword_of_slow(id);
}
// The global word of a keyword, for error arguments.
Cell* keyword_word(Keyword k, Cell* out);

// Where a simple value was found by to/thru.
struct Found {
    std::int32_t at = -1;      // position of the match, -1 when none
    std::int32_t length = 0;   // units it covers
};

struct Engine {
    // --- the input ---
    Cell input{};  // the series being matched, its head the position
    InputKind kind = InputKind::block;
    std::int32_t limit = 0;      // applies to the current input; 0 for none
    std::int32_t top_limit = 0;  // the /part limit of the outermost input

    // --- the rules ---
    Cell rules{};          // the current rule block, as the frame holds it
    std::int32_t cmd = 0;  // absolute index of the cell being interpreted
    Cell value{};          // the rule value being acted on
    Cell word{};           // the word value came through, when it did

    bool match = true;
    bool end = false;
    CompareOp op = CompareOp::equal;

    // parameters of the rule frame about to be pushed
    std::int32_t min = -1;
    std::int32_t max = -1;
    std::int32_t type = rule::repeat;
    std::int32_t aux = 0;     // written into the max field (case, collect)
    bool pick = false;
    Cell target{};            // the word of copy and set

    std::int32_t collect_depth = 0;
    bool break_flag = false;
    bool pop_flag = false;
    bool result_is_block = false;
    bool block_done = false;    // the last block popped ran to its tail
    bool refetch = false;       // next_action fetches the rule of a frame
    bool keyword_rule = false;  // the word state serves a keyword's rule
    bool thrown = false;        // a throw code is pending

    Cell result{};      // the collected block when result_is_block
    Cell last_paren{};  // the result of the last paren evaluated
    Cell last_copy{};   // the value the last copy rule set its word to

    Cell callback{};
    bool tracing = false;
    Cell* base = nullptr;  // the argument stack's top when the run began

    // --- cached buffers ---
    // PERF: the rule block's cells and tail and the rule stack's buffer,
    // read on every step. GC: these pointers pin their buffers (the engine
    // lives on the C++ stack), but a buffer that grows moves by design and
    // any code may cut the rules: sync() re-reads them after anything that
    // may run code or grow them (parens, the callback, actions, setting a
    // word, a push that grows the stack, a new rule block).
    Cell* rule_cells_ = nullptr;
    std::int32_t rule_tail_ = 0;
    memory::SeriesBuffer* frames_ = nullptr;
    void sync_rules() {
        memory::SeriesBuffer* b = memory::buffer_of(rules.data2);
        rule_cells_ = b->cells();
        rule_tail_ = static_cast<std::int32_t>((b->tail - b->offset) / sizeof(Cell));
    }
    void sync() {
        sync_rules();
        frames_ = memory::buffer_of(state.parse_rules.data2);
    }
    // Sets a word, whose owner's handler may run code.
    void set_word(const Cell* word, const Cell* v);

    // --- parse.cpp: input position ---
    std::int32_t pos() const { return static_cast<std::int32_t>(input.data1); }
    void set_pos(std::int32_t p);
    std::int32_t length() const {
        // PERF: units are powers of two; a shift instead of a division.
        const memory::SeriesBuffer* b = memory::buffer_of(input.data2);
        return static_cast<std::int32_t>(b->used_bytes() >> __builtin_ctz(b->unit()));
    }
    // Where matching stops: the tail, or the limit when it comes first.
    std::int32_t stop_at() const {
        const std::int32_t n = length();
        return limit > 0 && limit < n ? limit : n;
    }
    void recompute_end() { end = pos() >= stop_at(); }
    // Makes `series` the input, with the limit that applies to it.
    void enter_input(const Cell* series, std::int32_t stop);

    // --- parse.cpp: rules ---
    Cell* rule_cells() const { return rule_cells_; }
    std::int32_t rule_tail() const { return rule_tail_; }
    std::int32_t rule_head() const { return static_cast<std::int32_t>(rules.data1); }
    bool cmd_at_tail() const { return cmd >= rule_tail(); }
    // The cell at cmd + n, or null past the tail.
    Cell* rule_at(std::int32_t n) const {
        const std::int32_t i = cmd + n;
        return i >= 0 && i < rule_tail() ? rule_cells() + i : nullptr;
    }
    // Raise parse-end and parse-rule naming a keyword.
    [[noreturn]] void fire_end(Keyword k) const;
    [[noreturn]] void fire_rule(Keyword k) const;

    // --- parse.cpp: rule stack ---
    memory::SeriesBuffer* frames() const { return frames_; }
    std::int32_t frames_used() const {
        return static_cast<std::int32_t>((frames_->tail - frames_->offset) / sizeof(Cell));
    }
    // Cells from the stack's position.
    std::int32_t frames_length() const {
        return frames_used() - static_cast<std::int32_t>(state.parse_rules.data1);
    }
    // The first cell of the top frame.
    Cell* top_frame() const { return frames_->cells_tail() - 3; }
    bool top_is_rule() const { return frames_length() >= 3 && top_frame()[2].is(Type::pair); }
    // The rule type of the top frame, a rule frame.
    std::int32_t top_type() const { return static_cast<std::int32_t>(top_frame()[2].data2); }
    void push_frame(const Cell& c1, const Cell& c2, const Cell& c3);
    void drop_frame();
    // Drops the top rule frame; a keep frame below learns the popped type.
    void drop_rule_frame();
    void check_stacks() const;

    // --- parse.cpp: language code ---
    // After language code ran: cmd and the input position back in range.
    void after_code(bool on_cell);
    // Evaluates a paren into last_paren; then puts cmd and the input back in
    // range. False when a throw left it.
    bool eval_paren(const Cell* paren);
    // Reports an event; false when the run must stop (callback or throw).
    bool trace(words::W event) {
        if (!tracing) [[likely]]
            return true;
        return call_callback(event);
    }
    bool call_callback(words::W event);

    // --- parse.cpp: the states ---
    Status run(const Cell* input_value, const Cell* rule_block, Cell* out);
    Step push_block();
    Step pop_block();
    Step push_rule();
    Step rule_of_frame();
    Step pop_rule();
    Step check_pending() const {
        if (top_is_rule()) return Step::pop_rule;
        return match ? Step::next_action : Step::find_alternative;
    }
    Step do_action();
    Step next_input();
    Step next_action();
    Step match_value();
    Step match_rule();
    Step find_alternative();
    Step end_state();
    Step integer_rule();
    Step datatype_rule();
    Step get_word_rule();
    // Completes the top rule frame after its type's work (pop-rule).
    Step finish_rule();

    // --- parse-match.cpp ---
    // Whether `v` matches at `at` (below the stop) and how many units it
    // covers; false for no match.
    bool match_at(std::int32_t at, const Cell* v, std::int32_t* covered) const;
    // Whether the item at the position has the datatype or is in the typeset;
    // on binary input the lexer reads one token. Units covered in `covered`.
    bool match_type(const Cell* v, std::int32_t* covered) const;
    // Counts repetitions of a simple value from the position; moves the
    // input past them and answers success.
    bool count_repetitions(const Cell* v, std::int32_t lo, std::int32_t hi);
    // Searches for a simple value from the position (to/thru).
    Found search(const Cell* v) const;
    // The item at absolute position `at` as a value: a byte as integer!, a
    // code point as char!, a block's cell.
    Cell item_at(std::int32_t at) const;
    // A copy of the input's units [from, to), of the input's type.
    Cell copy_part(std::int32_t from, std::int32_t to) const;
    // Whether a value is the input series itself (same type and node).
    bool is_input(const Cell* v) const;

    // --- parse-keywords.cpp ---
    Step word_state();
    Step keyword(Keyword k);
    // Frames of repetitions and of the other keyword rules (min -1, `extra`
    // in the max field).
    Step repeat(Keyword k, std::int32_t low, std::int32_t high, std::int32_t t);
    Step keyword_rule_of(std::int32_t t, std::int32_t extra);
    Step to_thru_keyword(Keyword k);
    // The simple value a keyword's rule at cmd + 1 stands for, when the
    // rule can be counted or searched for at once without a frame (no
    // trace callback watches the frames); null otherwise.
    const Cell* simple_rule(Cell* scratch) const;
    Step into_keyword();
    Step insert_keyword(bool change);
    Step remove_keyword();
    Step collect_keyword();
    Step keep_keyword();
    Step case_keyword();
    Step complete_rule(std::int32_t t);
    Step loop_rule(std::int32_t t);
    Step to_thru_rule(std::int32_t t);
    Step into_done();
    Step collect_done();
    Step keep_done(std::int32_t t);
    Step change_done(std::int32_t t);
    // The value of insert and change from the cell at cmd + n: a paren's
    // result, a word's value, the cell itself. False when a throw left the
    // paren or the callback stopped the run.
    bool operand(std::int32_t n, Cell* out);
    // A word or get-word at cmd + n whose value is the input series: its
    // position, else -1.
    std::int32_t position_word(std::int32_t n) const;
    // Removes the input's units [from, to) and leaves the input at `from`.
    void remove_range(std::int32_t from, std::int32_t to);
    // Whether collect into/after (and keep) may add to the series.
    bool compatible_target(const Cell* series) const;
    // Whether a keep puts binary input into an into/after text target of
    // one-byte units (the bytes then go in as characters).
    bool bytes_into_text() const;
    // Adds a kept value to the innermost collect's target.
    void keep_value(const Cell* v);
};

}  // namespace kiv::parse::detail
