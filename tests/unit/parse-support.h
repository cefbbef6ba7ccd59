// Helpers for the parse engine's tests: the loading runtime plus bitset!,
// function! and the parse stacks; a stand-in evaluator for parens (a paren
// names a test action by its first word, or gives its last value) and for
// the trace callback; and `run`, which loads an input and rules from text,
// parses, and answers the molded result or the id of the error raised.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/parse.h"
#include "runtime/state.h"
#include "tests/unit/load-support.h"

namespace kiv::test {

// What the stand-in evaluator does for a paren whose first word names an
// action: it writes the paren's result.
using ParenAction = std::function<void(Cell* paren, Cell* result)>;

struct ParseStandIns {
    std::map<std::string, ParenAction> actions;
    // The trace callback's answer for an event, and the events seen.
    std::function<bool(const std::string& event)> answer;
    std::vector<std::string> events;
    // Set by an action to leave a throw code pending.
    bool throw_next = false;
};

inline ParseStandIns& stand_ins() {
    static ParseStandIns s;
    return s;
}

inline std::string spelling(const Cell* word) { return std::string(symbol::text(word->data2)); }

inline Status stand_in_eval(Cell* paren, Cell* result) {
    none::make_at(result);
    Cell code = *paren;
    const std::int32_t n = block::ks_length(&code);
    if (n == 0) return Status::ok;
    const Cell* cells = block::buffer(&code)->cells() + series::head(&code);
    if (cells[0].is(Type::word)) {
        auto it = stand_ins().actions.find(spelling(cells));
        if (it != stand_ins().actions.end()) {
            it->second(&code, result);
            if (!stand_ins().throw_next) return Status::ok;
            stand_ins().throw_next = false;
            state.thrown_code = throw_code::break_;
            return Status::thrown;
        }
    }
    const Cell last = cells[n - 1];
    *result = last.is(Type::word) ? *context::get(&last) : last;
    return Status::ok;
}

inline Status stand_in_call(Cell*, const Cell*, const Cell* args, std::int32_t, Cell* result) {
    const std::string event = spelling(args);
    stand_ins().events.push_back(event);
    logic::make_at(result, !stand_ins().answer || stand_ins().answer(event));
    return Status::ok;
}

// The datatype words stand for their datatypes, as the library sets them.
inline void set_datatype_words() {
    for (int id = 1; id <= registry::top_id(); ++id) {
        if (!registry::entry(id).registered) continue;
        Cell word = word_of(registry::entry(id).name);
        Cell type = datatype_of(static_cast<Type>(id));
        context::set(&word, &type);
    }
}

inline void set_word(const char* name, const Cell& value) {
    Cell word = word_of(name);
    context::set(&word, &value);
}

// A bitset of the characters of `members`, set as a global word.
inline void set_charset(const char* name, const char* members) {
    Cell bits;
    bitset::make_at(&bits, 0);
    Cell spec = string_of(members);
    bitset::process_spec(&spec, &bits, bitset::SpecOp::set, bitset::SpecMode::make);
    set_word(name, bits);
}

inline void start_parse_runtime() {
    start_load_runtime();
    collector::set_active(false);
    bitset::init();
    native::init();
    action::init();
    op::init();
    path::init();
    function::init();
    parse::init();
    set_datatype_words();
    set_charset("digit", "0123456789");
    set_charset("alpha", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    set_charset("space", " \t\n");
    set_word("yes", logic::true_value);
    set_word("no", logic::false_value);
    set_word("none", none::value);
    stand_ins() = ParseStandIns{};
    eval::install(eval::Entries{stand_in_eval, stand_in_call});
    collector::set_active(true);
}

class ParseTest : public ::testing::Test {
protected:
    void SetUp() override { start_parse_runtime(); }
    void TearDown() override {
        eval::install(eval::Entries{});
        stand_ins() = ParseStandIns{};
        error::forget();
        stack::forget();
        collector::set_active(false);
    }
};

// The first value of a text.
inline Cell load_value(const std::string& text) {
    Cell all = load(text);
    return *block::ks_head(&all);
}

struct ParseOptions {
    bool case_ = false;
    const char* part = nullptr;  // loaded; "input" stands for the input at its position + 2
    bool trace = false;
};

// Parses the input (loaded from text, or ":name" for a word's value) with the rules and answers the result molded,
// "thrown" for a pending throw, or "error: <id>" for an error.
inline std::string run(const std::string& input_text, const std::string& rules_text,
                       ParseOptions options = {}) {
    // ":name" stands for the value of a global word.
    Cell input;
    if (input_text[0] == ':') {
        Cell w = word_of(input_text.c_str() + 1);
        input = *context::get(&w);
    } else {
        input = load_value(input_text);
    }
    set_word("input", input);
    Cell rules = load(rules_text);
    Cell part;
    if (options.part) {
        if (std::string(options.part) == "input") {
            part = input;
            series::set_head(&part, series::head(&input) + 2);
        } else {
            part = load_value(options.part);
        }
    }
    Cell callback;
    if (options.trace) {
        Cell spec = load("event match? rule input stack");
        Cell body = load("");
        function::func(&callback, &spec, &body);
    }
    Cell result;
    std::string answer;
    Cell caught;
    const ErrorId id = error_in_try(
        [&] {
            const Status status = parse::native(&input, &rules, options.case_,
                                                options.part ? &part : nullptr,
                                                options.trace ? &callback : nullptr, &result);
            if (status == Status::thrown) {
                state.thrown_code = 0;
                answer = "thrown";
                return;
            }
            answer = mold(result);
        },
        &caught);
    if (id != ErrorId::count_) return std::string("error: ") + error_info(id).name;
    return answer;
}

// The value of a global word, molded.
inline std::string value_of(const char* name) {
    Cell w = word_of(name);
    return mold(*context::get(&w));
}

}  // namespace kiv::test
