#include "console/line-edit.h"

#include <cstdio>

#include "runtime/case-folding.h"
#include "runtime/unicode.h"

namespace kiv::line_edit {

namespace {

namespace key = key_decoder::key;

constexpr char32_t esc = 0x1B;
constexpr int fallback_columns = 80;
constexpr int tab_cells = 4;

void append_utf8(std::string& out, char32_t c) {
    std::uint8_t bytes[4];
    int n = unicode::encode_utf8_char(c, bytes);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
}

bool sequence_byte(char32_t c) { return (c >= '0' && c <= '9') || c == ';'; }

// Writes an escape sequence that starts at text[i] (an ESC) and answers the
// index after it; it takes no cell.
std::size_t copy_escape(std::u32string_view text, std::size_t i, std::string& out) {
    out += '\x1b';
    ++i;
    if (i >= text.size() || (text[i] != '[' && text[i] != '(')) return i;
    out += static_cast<char>(text[i++]);
    while (i < text.size() && sequence_byte(text[i])) out += static_cast<char>(text[i++]);
    if (i < text.size()) append_utf8(out, text[i++]);
    return i;
}

// One printable character of `cells` cells at pos.
int put_cells(std::string& out, char32_t shown, int cells, int pos, int columns, bool& pending) {
    if (cells == 0) {
        append_utf8(out, shown);
        return pos;
    }
    // A wide character meeting the last cell of a row goes to the next row.
    if (cells == 2 && pos % columns == columns - 1) ++pos;
    append_utf8(out, shown);
    pos += cells;
    pending = pos % columns == 0;
    return pos;
}

}  // namespace

int cell_width(char32_t c) {
    if (c >= 0x1F300 && c <= 0x1F5FF) return 2;
    return unicode::display_width(c);
}

int advance(std::u32string_view text, int pos, int columns, bool hidden, std::string& out,
            bool& pending) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = text[i];
        if (c == '\t') {
            for (int k = 0; k < tab_cells; ++k)
                pos = put_cells(out, hidden ? '*' : ' ', 1, pos, columns, pending);
            ++i;
        } else if (hidden) {
            pos = put_cells(out, '*', 1, pos, columns, pending);
            ++i;
        } else if (c == esc) {
            i = copy_escape(text, i, out);
        } else if (c == '\n') {
            // From a full row the terminal is already at the next row's start.
            if (!pending) pos += columns - pos % columns;
            pending = false;
            out += "\r\n";
            ++i;
        } else {
            pos = put_cells(out, c, cell_width(c), pos, columns, pending);
            ++i;
        }
    }
    return pos;
}

Result Editor::edit(Io& io, std::u32string_view prompt, bool hidden, const History& history) {
    io_ = &io;
    prompt_.assign(prompt);
    hidden_ = hidden;
    history_pos_ = -1;
    entered_ = false;
    line_.clear();
    cursor_ = 0;
    read_size();
    if (!saved_.empty()) {
        line_ = saved_;
        cursor_ = saved_cursor_ <= line_.size() ? saved_cursor_ : line_.size();
    }
    first_refresh_ = true;
    redraw(true);
    Result result{{}, false, false};
    for (;;) {
        int c = key_decoder::read_key(io);
        if (io.resized()) read_size();
        if (c == key::failed) {
            result.input_ended = true;
            break;
        }
        if (on_key(c, history) == Step::finish) break;
    }
    go_below();
    if (entered_)
        result.add_to_history = !hidden_ && !line_.empty() &&
                                (history.count() == 0 || history.entry(0) != line_);
    result.line = line_;
    io_ = nullptr;
    return result;
}

Editor::Step Editor::on_key(int c, const History& history) {
    // Hidden input is never completed: a completion would show candidates
    // drawn from the secret and carry its text into the next, visible edit.
    if (c == '\t' && completer_ && !hidden_) {
        Step step = on_complete();
        if (step == Step::finish || !tab_goes_on_) return step;
    }
    switch (c) {
        case '\r':
            saved_.clear();
            entered_ = true;
            return Step::finish;
        case 8:
        case 127:
            if (cursor_ == 0) return Step::go_on;
            line_.erase(--cursor_, 1);
            if (cursor_ == line_.size()) {
                redraw(false);
                emit("\x1b[J");
            } else {
                redraw(true);
            }
            return Step::go_on;
        case key::left:
        case 2:
            if (cursor_ > 0) {
                --cursor_;
                redraw(false);
            }
            return Step::go_on;
        case key::right:
        case 6:
            if (cursor_ < line_.size()) {
                ++cursor_;
                redraw(false);
            }
            return Step::go_on;
        case key::up:
        case 16:
        case key::down:
        case 14: return on_history(c, history);
        case key::home:
        case 1:
            cursor_ = 0;
            redraw(true);
            return Step::go_on;
        case key::end:
        case 5:
            cursor_ = line_.size();
            redraw(true);
            return Step::go_on;
        case 4:  // Ctrl-D
            if (cursor_ == line_.size()) {
                if (!line_.empty()) return Step::go_on;
                line_ = U"q";
                return Step::finish;
            }
            [[fallthrough]];
        case key::del:
            if (cursor_ < line_.size()) {
                line_.erase(cursor_, 1);
                redraw(true);
            }
            return Step::go_on;
        case 11:  // Ctrl-K
            if (cursor_ < line_.size()) {
                line_.erase(cursor_);
                redraw(true);
            }
            return Step::go_on;
        case 3:  // Ctrl-C
            line_ = U"q";
            return Step::finish;
        case 27:
            saved_.clear();
            line_ += esc;
            return Step::finish;
        default:
            if (c > 31 || c == '\t') insert(static_cast<char32_t>(c));
            return Step::go_on;
    }
}

// Up walks to older entries and Down back to newer ones; stepping past
// either end empties the line.
Editor::Step Editor::on_history(int c, const History& history) {
    int n = history.count();
    if (c == key::up || c == 16) {
        if (history_pos_ >= n - 1) clear_line();
        else fetch(history, ++history_pos_);
    } else {
        if (history_pos_ < 0) clear_line();
        else fetch(history, history_pos_--);
    }
    redraw(true);
    return Step::go_on;
}

Editor::Step Editor::on_complete() {
    tab_goes_on_ = false;
    std::vector<Candidate> found = completer_(line_, cursor_);
    if (found.empty()) {
        tab_goes_on_ = true;
        return Step::go_on;
    }
    const Candidate& first = found.front();
    if (found.size() == 1) {
        line_ = first.text;
        cursor_ = first.index <= line_.size() ? first.index : line_.size();
        redraw(true);
        return Step::go_on;
    }
    // The candidates stay shown after the prompt; the next edit starts
    // from the line with the common part inserted.
    saved_ = first.text;
    saved_cursor_ = first.index;
    line_.clear();
    for (std::size_t i = 1; i < found.size(); ++i) {
        line_ += found[i].text;
        line_ += U' ';
    }
    cursor_ = line_.size();
    redraw(true);
    line_.clear();
    return Step::finish;
}

void Editor::insert(char32_t c) {
    if (cursor_ == line_.size()) {
        // At the end only the new character is written.
        line_ += c;
        ++cursor_;
        redraw(false, true);
        return;
    }
    line_.insert(cursor_++, 1, c);
    redraw(true);
}

void Editor::fetch(const History& history, int index) {
    line_ = history.entry(index);
    cursor_ = line_.size();
}

void Editor::clear_line() {
    line_.clear();
    cursor_ = 0;
}

void Editor::read_size() {
    int columns, rows;
    if (io_->size(&columns, &rows) && columns > 0) {
        columns_ = columns;
        rows_ = rows;
    } else if (columns_ <= 0) {
        columns_ = fallback_columns;
    }
}

Editor::Layout Editor::lay_out() {
    out_.clear();
    bool pending = false;
    std::u32string_view line(line_);
    int pos = advance(prompt_, start_column_, columns_, false, out_, pending);
    int cur = advance(line.substr(0, cursor_), pos, columns_, hidden_, out_, pending);
    int end = advance(line.substr(cursor_), cur, columns_, hidden_, out_, pending);
    return {cur, end, pending};
}

// full: the prompt and the line are written anew; otherwise only the cursor
// moves (appended: the last character was just written at the old end).
void Editor::redraw(bool full, bool appended) {
    if (first_refresh_) {
        first_refresh_ = false;
        int column = 0;
        if (!io_->cursor_column(&column) || column < 0) column = 0;
        start_column_ = column % columns_;
        term_row_ = 0;
        term_column_ = start_column_;
        wrap_pending_ = false;
    }
    int old_end = last_end_;
    Layout layout = lay_out();
    if (full) {
        move_to(0, start_column_);
        emit("\x1b[J");
        emit(out_);
    } else if (appended) {
        // The terminal cursor stands at the old end, where place() left it:
        // only the new character is written.
        std::string tail;
        bool pending = false;
        advance(std::u32string_view(line_).substr(line_.size() - 1), old_end, columns_, hidden_,
                tail, pending);
        emit(tail);
    }
    if (full || appended) {
        term_row_ = layout.pending ? layout.end / columns_ - 1 : layout.end / columns_;
        term_column_ = layout.pending ? columns_ - 1 : layout.end % columns_;
        wrap_pending_ = layout.pending;
    }
    last_pending_ = layout.pending;
    last_end_ = layout.end;
    place(layout);
}

void Editor::place(const Layout& layout) {
    int row = layout.cur / columns_;
    int column = layout.cur % columns_;
    // A wide character meeting the last cell is drawn on the next row.
    if (!hidden_ && cursor_ < line_.size() && cell_width(line_[cursor_]) == 2 &&
        column == columns_ - 1) {
        ++row;
        column = 0;
    }
    move_to(row, column);
}

void Editor::move_to(int row, int column) {
    if (row == term_row_ && column == term_column_ && !wrap_pending_) return;
    char buf[24];
    if (row < term_row_) {
        std::snprintf(buf, sizeof buf, "\x1b[%dA", term_row_ - row);
        emit(buf);
    }
    // Line feeds rather than a cursor move, so the terminal scrolls when the
    // row is below its last one.
    for (int r = term_row_; r < row; ++r) emit("\n");
    emit("\r");
    if (column > 0) {
        std::snprintf(buf, sizeof buf, "\x1b[%dC", column);
        emit(buf);
    }
    term_row_ = row;
    term_column_ = column;
    wrap_pending_ = false;
}

// The edit is over: the cursor goes to the start of the row after the
// input, so what follows is printed below it.
void Editor::go_below() {
    int below = last_pending_ ? last_end_ / columns_ : last_end_ / columns_ + 1;
    if (term_row_ == below && term_column_ == 0 && !wrap_pending_) return;
    move_to(below - 1, 0);
    emit("\r\n");
    term_row_ = below;
}

void Editor::emit(std::string_view bytes) { io_->write(bytes.data(), bytes.size()); }

}  // namespace kiv::line_edit
