#include "console/console-input.h"

#include <cstdlib>
#include <vector>

#include "console/terminal.h"
#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"
#include "runtime/error-exit.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/memory.h"
#include "runtime/state.h"
#include "runtime/unicode.h"

namespace kiv::console_input {

namespace {

constexpr Size fallback_size{80, 50};

// GC: the line and history of the current `ask`, and the line and code of
// a completion while it runs, collector roots.
Cell edit_line;
Cell edit_history;
Cell completion_line;
Cell completion_code;
bool roots_registered = false;
Size last_size{0, 0};

void keep_cells() {
    if (roots_registered) return;
    roots_registered = true;
    collector::register_root_cell(&edit_line);
    collector::register_root_cell(&edit_history);
    collector::register_root_cell(&completion_line);
    collector::register_root_cell(&completion_code);
}

std::u32string text_of(Cell* value) {
    std::u32string text;
    std::int32_t n = string::ks_length(value);
    const std::uint8_t* p = string::ks_head(value);
    const std::uint32_t unit = string::buffer(value)->unit();
    text.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i, p += unit) text += static_cast<char32_t>(string::get_char(p, unit));
    return text;
}

void append_text(Cell* value, const std::u32string& text) {
    memory::SeriesBuffer* b = string::buffer(value);
    for (char32_t c : text) b = string::append_char(b, c);
}

// Tab in the editor: kiv-complete-ctx/complete-input on the line at the
// cursor, in console mode. It runs inside `try`, so an error in it (an
// unreadable folder, say) cannot unwind through the edit and leave the
// terminal in raw mode. An error, or a result that is not a block of texts,
// counts as nothing to complete: the Tab is typed.
std::vector<line_edit::Candidate> complete(const std::u32string& line, std::size_t cursor) {
    std::vector<line_edit::Candidate> found;
    keep_cells();
    const Cell* at = boot::resolve("kiv-complete-ctx/complete-input");
    if (!at || !at->is(Type::function)) return found;
    const Cell function = *at;
    at = boot::resolve("try");
    if (!at || !at->is(Type::native)) return found;
    const Cell guard = *at;
    // GC: the line is rooted before the block is made.
    string::make_at(&completion_line, static_cast<std::int64_t>(line.size()) + 1);
    append_text(&completion_line, line);
    series::set_head(&completion_line, static_cast<std::int64_t>(cursor));
    block::make_at(&completion_code, 3);
    Cell flag;
    logic::make_at(&flag, true);
    block::append_value(&completion_code, &function);
    block::append_value(&completion_code, &completion_line);
    block::append_value(&completion_code, &flag);
    Cell name;
    word::load("try", &name);
    Cell result;
    const Status status =
        interpreter::call_with_arguments(&guard, &name, &completion_code, 1, &result);
    none::make_at(&completion_line);
    none::make_at(&completion_code);
    if (status == Status::thrown) {
        state.thrown_code = 0;
        return found;
    }
    if (!result.is(Type::block)) return found;
    // Nothing below allocates a language value: the result's cells stay put.
    const std::int32_t count = block::ks_length(&result);
    const Cell* value = block::ks_head(&result);
    for (std::int32_t i = 0; i < count; ++i, ++value) {
        if (!series::is_any_string(value->type())) return {};
        Cell text = *value;
        if (i > 0) {
            found.push_back({text_of(&text), 0});
            continue;
        }
        // The first value: the whole line, its index the new cursor.
        const std::int32_t index = series::head(&text);
        series::set_head(&text, 0);
        std::u32string whole = text_of(&text);
        const std::size_t position = index < 0 ? 0 : static_cast<std::size_t>(index);
        found.push_back({whole, position < whole.size() ? position : whole.size()});
    }
    return found;
}

// The history block read from its head; entries that are not strings read
// as empty lines.
class BlockHistory final : public line_edit::History {
public:
    explicit BlockHistory(const Cell* block) : block_(*block) {}
    int count() const override { return static_cast<int>(block::buffer(&block_)->length()); }
    std::u32string entry(int index) const override {
        Cell* c = block::buffer(&block_)->cells() + index;
        if (!c->is(Type::string)) return {};
        Cell copy = *c;
        return text_of(&copy);
    }

private:
    Cell block_;
};

// The value cell of a field, or null when the object or field is absent.
Cell* field_of(const Cell* object, const char* name) {
    if (!object || !object->is(Type::object)) return nullptr;
    NodeId ctx = object::context_of(object);
    std::int32_t i = context::find_word(ctx, symbol::make(name), true);
    return i < 0 ? nullptr : object::field_value(ctx, i);
}

// system/console/size follows the window, as the editor reads it.
void store_size() {
    std::int32_t i = context::find_word(context::global(), symbol::make("system"), true);
    if (i < 0) return;
    Cell* size = field_of(field_of(context::slot(context::global(), i), "console"), "size");
    Size now = console_size();
    if (size) *size = pair::make_cell(now.columns, now.rows);
}

void refresh_size() {
    int columns, rows;
    if (terminal::window_size(&columns, &rows)) last_size = {columns, rows};
    store_size();
}

// The input has ended: so has the console.
[[noreturn]] void end_of_input() { runtime::error_exit(0, nullptr); }

}  // namespace

void set_buffer_history(const Cell* line, const Cell* history) {
    keep_cells();
    edit_line = *line;
    edit_history = *history;
}

void read_input(const Cell* prompt, bool hidden) {
    terminal::init();
    if (!terminal::is_console()) {
        std::u32string text;
        if (!terminal::read_line(text)) end_of_input();
        append_text(&edit_line, text);
        return;
    }
    Cell shown = *prompt;
    std::u32string prompt_text = text_of(&shown);
    refresh_size();
    terminal::editor().set_completer(complete);
    line_edit::Result r = terminal::edit(prompt_text, hidden, BlockHistory(&edit_history));
    refresh_size();
    if (r.input_ended) end_of_input();
    append_text(&edit_line, r.line);
    if (r.add_to_history) block::insert_value(&edit_history, &edit_line, false, true);
}

void input_stdin(Cell* line) {
    std::u32string text;
    terminal::read_line(text);
    append_text(line, text);
}

std::int32_t read_stdin(Cell* binary, std::int32_t count) {
    if (count <= 0) return 0;
    std::uint8_t* p = memory::alloc_tail_bytes(binary::buffer(binary), count);
    long n = terminal::read_bytes(p, static_cast<std::size_t>(count));
    // alloc_tail_bytes may have moved the buffer; p points into the new one.
    binary::buffer(binary)->set_tail(p + (n > 0 ? n : 0));
    return static_cast<std::int32_t>(n);
}

Size init_console(const Cell* title) {
    Cell t = *title;
    std::u32string text = text_of(&t);
    std::string utf8;
    for (char32_t c : text) {
        std::uint8_t bytes[4];
        int n = unicode::encode_utf8_char(c < 0x20 ? U' ' : c, bytes);
        utf8.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
    }
    terminal::set_title(utf8);
    terminal::init();
    if (terminal::is_console()) refresh_size();
    else store_size();
    return console_size();
}

Size console_size() {
    if (last_size.columns <= 0 || last_size.rows <= 0) return fallback_size;
    return last_size;
}

std::string settings_dir() {
    const char* base = std::getenv("APPDATA");
    std::string dir;
    if (base && *base) {
        dir = base;
    } else if ((base = std::getenv("XDG_CACHE_HOME")) && *base) {
        dir = base;
    } else if ((base = std::getenv("HOME")) && *base) {
        dir = base;
        if (dir.back() != '/') dir += '/';
        dir += ".cache";
    } else {
        return {};
    }
    if (dir.back() != '/') dir += '/';
    return dir + "Kiv-Console/";
}

}  // namespace kiv::console_input
