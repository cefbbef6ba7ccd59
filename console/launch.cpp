// The stand-in console: scripts and piped input.
#include "console/launch.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/output-hooks.h"
#include "runtime/state.h"

namespace kiv::console {

namespace {

// The width results are cut to, and the prompt's length.
constexpr int width = 80;
constexpr int prompt_length = 3;

void print_text(const std::string& text) {
    Cell line;
    unset::make_at(&line);
    string::make_at(&line, static_cast<std::int64_t>(text.size()));
    string::append_utf8(&line, text);
    console_output::call_print_hooks(&line, true);
}

// The molded result as the console shows it.
std::string result_text(Cell* value) {
    Cell text;
    unset::make_at(&text);
    string::make_at(&text, 64);
    if (value->is(Type::float_)) actions::form_into(value, &text, width + 2);
    else actions::mold_into(value, &text, false, false, false, width + 2);
    std::string s = string::to_utf8(&text);
    if (static_cast<int>(s.size()) > width - 3) {
        // Cut by code points, the last three being dots.
        const int keep = width - prompt_length - 1 - 3;
        std::size_t at = 0;
        for (int n = 0; n < keep && at < s.size(); ++n) {
            ++at;
            while (at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) ++at;
        }
        s = s.substr(0, at) + "...";
    }
    return "== " + s;
}

// Loads and evaluates one input under a try frame; prints the result or
// the error. Answers false after an error.
bool evaluate(const std::string& input, bool show_result, bool script = false) {
    Cell launch_word;
    word::load("launch", &launch_word);
    Cell* const top = state.stack_top;
    stack::CallFrame* const frames = state.frames_top;
    const Cell near = state.near;
    stack::push_native_frame(&launch_word);
    Cell try_word;
    words::word(words::W::try_, &try_word);
    stack::push_try_frame(&try_word);
    try {
        Cell source;
        unset::make_at(&source);
        string::make_at(&source, static_cast<std::int64_t>(input.size()));
        string::append_utf8(&source, input);
        Cell code;
        unset::make_at(&code);
        block::load_text_hook(&source, &code);
        memory::SeriesBuffer* b = block::buffer(&code);
        if (script && b->length() >= 2 && b->cells()[0].is(Type::word) && b->cells()[1].is(Type::block))
            series::set_head(&code, 2);
        if (interpreter::eval_block(&code, false) == Status::thrown) {
            state.thrown_code = 0;
        } else if (show_result) {
            Cell result = *(state.stack_top - 1);
            if (!result.is(Type::unset)) print_text(result_text(&result));
        }
    } catch (const KivError&) {
        state.thrown_code = 0;
        state.near = near;
        state.tracing = false;
        Cell error = *(state.stack_top - 1);
        Cell text;
        error::form_text(&error, &text);
        console_output::call_print_hooks(&text, true);
        print_text("");
        state.stack_top = top;
        stack::set_call_top(frames);
        state.stack_arguments = top;
        return false;
    }
    state.stack_top = top;
    stack::set_call_top(frames);
    state.stack_arguments = top;
    return true;
}

// Tracks the delimiters of gathered input: whether everything is closed.
class Delimiters {
public:
    void feed(const std::string& line) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (in_string_) {
                if (c == '^') ++i;
                else if (c == '"') in_string_ = false;
                continue;
            }
            if (braces_ > 0) {
                if (c == '^') ++i;
                else if (c == '{') ++braces_;
                else if (c == '}') --braces_;
                continue;
            }
            switch (c) {
                case ';': return;
                case '"': in_string_ = true; break;
                case '{': ++braces_; break;
                case '[': case '(': ++depth_; break;
                case ']': case ')': --depth_; break;
                default: break;
            }
        }
        in_string_ = false;  // a string never spans lines
    }
    bool closed() const { return depth_ <= 0 && braces_ <= 0; }

private:
    int depth_ = 0;
    int braces_ = 0;
    bool in_string_ = false;
};

int run_script(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        print_text(std::string("*** Error: cannot open: ") + path);
        return 1;
    }
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    const std::size_t header = text.find("Kiv [");
    if (header == std::string::npos) {
        print_text("*** Error: Kiv header not found!");
        return 1;
    }
    // The header is the word Kiv and a block: evaluate from after it.
    return evaluate(text.substr(header), false, true) ? 0 : 1;
}

int run_input() {
    std::string pending;
    Delimiters delimiters;
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t n;
    while ((n = getline(&line, &capacity, stdin)) >= 0) {
        std::string text(line, static_cast<std::size_t>(n));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        pending += pending.empty() ? text : "\n" + text;
        delimiters.feed(text);
        if (!delimiters.closed()) continue;
        evaluate(pending, true);
        pending.clear();
        delimiters = Delimiters{};
    }
    std::free(line);
    if (!pending.empty()) evaluate(pending, true);
    return 0;
}

}  // namespace

int launch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0) continue;
        return run_script(argv[i]);
    }
    return run_input();
}

}  // namespace kiv::console
