// The line editor's edit: one line read key by key from a terminal in raw
// mode, with in-place editing, history browsing, completion and hidden input,
// the prompt and the line redrawn and wrapped at the terminal's columns.
//
// Layout is linear: a position counts cells from column 0 of the row where
// the prompt starts, so column = position % columns and row = position /
// columns. The prompt starts at the column where the terminal cursor stood
// when the edit began. Widths: a Tab shows as four spaces, an escape
// sequence (ESC "[" or "(", digits and ";", one final character) takes no
// cell, U+1F300-U+1F5FF and East Asian wide characters take two, and a
// wide character that meets the last cell of a row moves to the next row,
// leaving that cell empty. Hidden input shows every character as "*" (a Tab
// as four). The terminal cursor is moved only relatively (rows up, line
// feeds down, carriage return and columns right), so the edit is right
// wherever the prompt starts and however the terminal scrolls.
//
// The editor holds plain text only; the caller moves it in and out of
// language values. Nothing here allocates a language value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "console/key-decoder.h"

namespace kiv::line_edit {

// The terminal as the edit sees it: key bytes in, display bytes out.
class Io : public key_decoder::ByteSource {
public:
    virtual void write(const char* bytes, std::size_t count) = 0;
    // Columns and rows of the window; false when unknown.
    virtual bool size(int* columns, int* rows) = 0;
    // True once after each change of the window's size.
    virtual bool resized() = 0;
    // The column of the terminal cursor (0-based); false when unknown.
    virtual bool cursor_column(int* column) = 0;

protected:
    ~Io() = default;
};

// The history, newest entry first.
class History {
public:
    virtual int count() const = 0;
    virtual std::u32string entry(int index) const = 0;

protected:
    ~History() = default;
};

// Completion of the text before the cursor: none, one candidate (the new
// line, with index as its cursor) or several (the first is the line with
// the common part inserted and its cursor; the others are shown).
struct Candidate {
    std::u32string text;
    std::size_t index;
};
using Completer = std::vector<Candidate> (*)(const std::u32string& line, std::size_t cursor);

struct Result {
    std::u32string line;
    // The line goes to the head of the history: not hidden, not empty and
    // not the same text as the newest entry.
    bool add_to_history;
    // Reading the terminal failed: the input has ended.
    bool input_ended;
};

// Cells taken by text at position pos: answers the position after it and
// appends what the terminal is sent to out. `pending` tells whether the last
// character written filled the last cell of its row (the terminal then
// waits to wrap); it is read and updated.
int advance(std::u32string_view text, int pos, int columns, bool hidden, std::string& out,
            bool& pending);

// Cells of one character: 0, 1 or 2.
int cell_width(char32_t c);

class Editor {
public:
    Result edit(Io& io, std::u32string_view prompt, bool hidden, const History& history);
    void set_completer(Completer completer) { completer_ = completer; }
    // Columns of the last edit (-1 before the first).
    int columns() const { return columns_; }

private:
    struct Layout {
        int cur, end;
        bool pending;  // the terminal waits to wrap after the end
    };
    enum class Step { go_on, finish };

    Step on_key(int c, const History& history);
    Step on_history(int c, const History& history);
    Step on_complete();
    void insert(char32_t c);
    void fetch(const History& history, int index);
    void clear_line();
    void read_size();
    Layout lay_out();
    void redraw(bool full, bool appended = false);
    void place(const Layout& layout);
    void move_to(int row, int column);
    void go_below();
    void emit(std::string_view bytes);

    Io* io_ = nullptr;
    std::u32string line_;
    std::size_t cursor_ = 0;
    std::u32string prompt_;
    bool hidden_ = false;
    int history_pos_ = -1;
    int columns_ = -1;
    int rows_ = -1;
    int start_column_ = 0;
    bool first_refresh_ = true;
    // Where the terminal cursor stands, relative to the prompt's first row;
    // wrap_pending: it sits in the last column after writing there.
    int term_row_ = 0;
    int term_column_ = 0;
    bool wrap_pending_ = false;
    int last_end_ = 0;
    bool last_pending_ = false;
    bool entered_ = false;      // the edit ended with Enter
    bool tab_goes_on_ = false;  // no completion: Tab is typed
    std::string out_;
    // Kept across edits: the text and cursor a multi-candidate completion
    // leaves for the next edit to start from.
    std::u32string saved_;
    std::size_t saved_cursor_ = 0;
    Completer completer_ = nullptr;
};

}  // namespace kiv::line_edit
