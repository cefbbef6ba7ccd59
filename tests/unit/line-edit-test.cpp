#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "console/key-decoder.h"
#include "console/line-edit.h"

namespace kiv {

namespace {

namespace key = key_decoder::key;

// Bytes as a terminal would send them; a gap (timed_out) stands for a
// pause longer than the ESC wait.
class ScriptedBytes : public key_decoder::ByteSource {
public:
    explicit ScriptedBytes(std::vector<int> bytes) : bytes_(bytes.begin(), bytes.end()) {}
    int next(int) override {
        if (bytes_.empty()) return failed;
        int b = bytes_.front();
        bytes_.pop_front();
        return b;
    }
    std::size_t left() const { return bytes_.size(); }

private:
    std::deque<int> bytes_;
};

constexpr int gap = key_decoder::ByteSource::timed_out;

std::vector<int> bytes_of(const std::string& s) {
    std::vector<int> v;
    for (unsigned char c : s) v.push_back(c);
    return v;
}

TEST(KeyDecoder, DecodesKeysFromTheirBytes) {
    struct Case {
        std::vector<int> bytes;
        int key;
    };
    const Case cases[] = {
        {bytes_of("a"), 'a'},
        {bytes_of("\r"), 13},
        {bytes_of("\n"), 13},  // Enter typed ahead in the terminal's ordinary mode
        {{127}, 127},
        {{3}, 3},
        {bytes_of("\xC3\xA9"), 0xE9},
        {bytes_of("\xE4\xB8\xAD"), 0x4E2D},
        {bytes_of("\xF0\x9F\x8C\x80"), 0x1F300},
        {bytes_of("\x1b[A"), key::up},
        {bytes_of("\x1b[B"), key::down},
        {bytes_of("\x1b[C"), key::right},
        {bytes_of("\x1b[D"), key::left},
        {bytes_of("\x1bOA"), key::up},
        {bytes_of("\x1bOD"), key::left},
        {bytes_of("\x1b[H"), key::home},
        {bytes_of("\x1bOH"), key::home},
        {bytes_of("\x1b[1~"), key::home},
        {bytes_of("\x1b[7~"), key::home},
        {bytes_of("\x1b[F"), key::end},
        {bytes_of("\x1bOF"), key::end},
        {bytes_of("\x1b[4~"), key::end},
        {bytes_of("\x1b[8~"), key::end},
        {bytes_of("\x1b[2~"), key::insert},
        {bytes_of("\x1b[3~"), key::del},
        {bytes_of("\x1b[5~"), key::page_up},
        {bytes_of("\x1b[6~"), key::page_down},
        {bytes_of("\x1b[1;5C"), key::right},   // modifiers are read and dropped
        {bytes_of("\x1b[15~"), key::none},     // F5: no key of the editor
        {bytes_of("\x1b[?25h"), key::none},
        {bytes_of("\x1bx"), key::none},        // Alt-x
        {{0x1b, gap}, 27},                     // a lone ESC
        {{0x1b, '[', gap}, key::none},         // a sequence cut by a pause
        {bytes_of("\x80"), key::none},         // no lead byte
        {{0xC3, gap}, key::none},              // a character cut by a pause
        {{}, key::failed},
        {{0x1b}, key::failed},
    };
    for (const Case& c : cases) {
        ScriptedBytes source(c.bytes);
        EXPECT_EQ(key_decoder::read_key(source), c.key) << ::testing::PrintToString(c.bytes);
        EXPECT_EQ(source.left(), 0u) << ::testing::PrintToString(c.bytes);
    }
}

TEST(KeyDecoder, LeavesTheNextKeyInPlace) {
    ScriptedBytes source(bytes_of("\x1b[Ab\x1bOHc"));
    EXPECT_EQ(key_decoder::read_key(source), key::up);
    EXPECT_EQ(key_decoder::read_key(source), 'b');
    EXPECT_EQ(key_decoder::read_key(source), key::home);
    EXPECT_EQ(key_decoder::read_key(source), 'c');
}

// A small VT screen: printable characters with the terminal's deferred
// wrap, wide characters, CR, LF (scrolling at the bottom), cursor up and
// right, erase below; colour sequences are skipped.
class Screen {
public:
    Screen(int columns, int rows) : columns_(columns), rows_(rows), cells_(rows, blank()) {}

    void feed(const std::string& bytes) {
        std::u32string text = decode(bytes);
        for (std::size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c == 0x1b && i + 1 < text.size() && text[i + 1] == '[') {
                std::size_t j = i + 2;
                int n = 0;
                bool any = false;
                while (j < text.size() && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';')) {
                    if (text[j] != ';') n = n * 10 + static_cast<int>(text[j] - '0');
                    any = true;
                    ++j;
                }
                control(text[j], any ? n : 1);
                i = j;
            } else if (c == '\r') {
                column_ = 0;
                pending_ = false;
            } else if (c == '\n') {
                line_feed();
            } else {
                put(c);
            }
        }
    }
    std::string row(int r) const {
        std::string s;
        for (char32_t c : cells_[static_cast<std::size_t>(r)])
            if (c != 0) s += c < 0x80 ? static_cast<char>(c) : '#';
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    }
    int row_() const { return row_at_; }
    int column() const { return column_; }
    int scrolled() const { return scrolled_; }

private:
    std::u32string blank() const { return std::u32string(static_cast<std::size_t>(columns_), U' '); }
    static std::u32string decode(const std::string& bytes) {
        std::u32string out;
        for (std::size_t i = 0; i < bytes.size();) {
            unsigned char b = static_cast<unsigned char>(bytes[i]);
            int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            char32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
            for (int k = 1; k < n; ++k) c = c << 6 | (static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]) & 0x3F);
            out += c;
            i += static_cast<std::size_t>(n);
        }
        return out;
    }
    void control(char32_t final_char, int n) {
        pending_ = false;
        if (final_char == 'A') row_at_ = std::max(0, row_at_ - n);
        if (final_char == 'C') column_ = std::min(columns_ - 1, column_ + n);
        if (final_char == 'J') {
            for (int c = column_; c < columns_; ++c) cell(row_at_, c) = U' ';
            for (int r = row_at_ + 1; r < rows_; ++r) cells_[static_cast<std::size_t>(r)] = blank();
        }
    }
    void line_feed() {
        pending_ = false;
        if (row_at_ + 1 < rows_) {
            ++row_at_;
            return;
        }
        cells_.erase(cells_.begin());
        cells_.push_back(blank());
        ++scrolled_;
    }
    void put(char32_t c) {
        int width = line_edit::cell_width(c);
        if (pending_ || (width == 2 && column_ == columns_ - 1)) {
            column_ = 0;
            line_feed();
        }
        cell(row_at_, column_) = c;
        if (width == 2) cell(row_at_, column_ + 1) = 0;
        column_ += width;
        if (column_ >= columns_) {
            column_ = columns_ - 1;
            pending_ = true;
        }
    }
    char32_t& cell(int r, int c) {
        return cells_[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    }

    int columns_, rows_;
    std::vector<std::u32string> cells_;
    int row_at_ = 0, column_ = 0, scrolled_ = 0;
    bool pending_ = false;
};

// Typed as 0xFF (never a UTF-8 byte): a pause longer than the ESC wait.
constexpr int pause = 0xFF;

class FakeTerminal : public line_edit::Io {
public:
    FakeTerminal(int columns, int rows) : screen(columns, rows), columns_(columns), rows_(rows) {}
    void type(const std::string& bytes) {
        for (unsigned char c : bytes) input_.push_back(c);
    }
    int next(int) override {
        if (input_.empty()) {
            // The screen as the keys left it, before the edit ends.
            last = screen;
            return failed;
        }
        int b = input_.front();
        input_.pop_front();
        return b == pause ? timed_out : b;
    }
    void write(const char* bytes, std::size_t count) override {
        output.append(bytes, count);
        screen.feed(std::string(bytes, count));
    }
    bool size(int* columns, int* rows) override {
        *columns = columns_;
        *rows = rows_;
        return true;
    }
    bool resized() override { return false; }
    bool cursor_column(int* column) override {
        *column = screen.column();
        return true;
    }

    Screen screen;
    Screen last = screen;
    std::string output;

private:
    int columns_, rows_;
    std::deque<int> input_;
};

class Lines : public line_edit::History {
public:
    int count() const override { return static_cast<int>(entries.size()); }
    std::u32string entry(int index) const override {
        return entries[static_cast<std::size_t>(index)];
    }
    std::vector<std::u32string> entries;
};

std::string narrow(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) out += c < 0x80 ? static_cast<char>(c) : '#';
    return out;
}

const std::string up = "\x1b[A", down = "\x1b[B", left = "\x1b[D", right = "\x1b[C",
                  home = "\x1b[H", end = "\x1b[F", del = "\x1b[3~";

TEST(LineEdit, KeysEditTheLine) {
    struct Case {
        std::string keys;
        std::string line;
    };
    const Case cases[] = {
        {"abc\r", "abc"},
        {"abc" + home + "d\r", "dabc"},
        {"abc" + home + "de\r", "deabc"},       // the cursor stays after the insert
        {"abc\x01x\x05y\r", "xabcy"},          // Ctrl-A, Ctrl-E
        {"abc" + left + left + "X\r", "aXbc"},
        {"abc\x02\x02X\x06Y\r", "aXbYc"},      // Ctrl-B, Ctrl-F
        {"ab" + left + left + left + right + right + right + "c\r", "abc"},
        {"abc\x7f\r", "ab"},
        {"abc\x08\x08\r", "a"},
        {"\x7f\x7f" "a\r", "a"},               // Backspace at the start does nothing
        {"abc" + left + "\x7f\r", "ac"},
        {"abc" + home + del + "\r", "bc"},
        {"abc" + del + "\r", "abc"},            // Delete at the end does nothing
        {"abcd" + left + left + "\x0b\r", "ab"},  // Ctrl-K
        {"abc" + home + "\x04\r", "bc"},        // Ctrl-D inside deletes
        {"abc\x04\r", "abc"},                   // at the end of a line: nothing
        {"\x04", "q"},                          // on an empty line: q
        {"abc\x03", "q"},                       // Ctrl-C
        {"ab\x1b\xff", "ab\x1b"},               // ESC ends the edit, kept at the end
        {"a\tb\r", "a\tb"},
        {"a\x1b[2~\x1b[5~\x1b[6~\x1b[15~\x1bxb\x07\r", "ab"},  // no-op keys
        {"\r", ""},
    };
    for (const Case& c : cases) {
        FakeTerminal term(80, 24);
        term.type(c.keys);
        Lines history;
        line_edit::Editor editor;
        line_edit::Result r = editor.edit(term, U">> ", false, history);
        EXPECT_EQ(narrow(r.line), c.line) << c.keys;
        EXPECT_FALSE(r.input_ended) << c.keys;
    }
}

TEST(LineEdit, HistoryBrowsingAndAdding) {
    struct Case {
        std::string keys;
        std::string line;
    };
    // Newest first: "two", then "one".
    const Case cases[] = {
        {up + "\r", "two"},
        {up + up + "\r", "one"},
        {up + up + up + "\r", ""},
        {up + up + up + down + "\r", "one"},
        {up + down + "\r", "two"},
        {up + down + down + "\r", ""},
        {down + "\r", ""},
        {"\x10\x10\r", "one"},   // Ctrl-P
        {"x" + up + "\r", "two"},
    };
    Lines history;
    history.entries = {U"two", U"one"};
    for (const Case& c : cases) {
        FakeTerminal term(80, 24);
        term.type(c.keys);
        line_edit::Editor editor;
        EXPECT_EQ(narrow(editor.edit(term, U">> ", false, history).line), c.line) << c.keys;
    }
    Lines empty;
    FakeTerminal term(80, 24);
    term.type("abc" + up + "\r");
    line_edit::Editor editor;
    EXPECT_EQ(narrow(editor.edit(term, U">> ", false, empty).line), "");

    struct AddCase {
        std::string keys;
        bool hidden;
        bool added;
    };
    const AddCase adds[] = {
        {"new\r", false, true},
        {"two\r", false, false},   // the newest entry already
        {"Two\r", false, true},    // compared with case
        {"one\r", false, true},
        {"\r", false, false},
        {"secret\r", true, false},
        {"abc\x03", false, false}, // not entered
        {"abc\x1b\xff", false, false},
    };
    for (const AddCase& a : adds) {
        FakeTerminal t(80, 24);
        t.type(a.keys);
        line_edit::Editor e;
        EXPECT_EQ(e.edit(t, U">> ", a.hidden, history).add_to_history, a.added) << a.keys;
    }
}

TEST(LineEdit, EndOfInputIsReported) {
    FakeTerminal term(80, 24);
    term.type("ab");
    Lines history;
    line_edit::Editor editor;
    line_edit::Result r = editor.edit(term, U">> ", false, history);
    EXPECT_TRUE(r.input_ended);
    EXPECT_FALSE(r.add_to_history);
}

TEST(LineEditDisplay, CellsOfText) {
    struct Case {
        std::u32string text;
        int pos, columns;
        bool hidden;
        int after;
        std::string shown;
    };
    const Case cases[] = {
        {U"abc", 0, 80, false, 3, "abc"},
        {U"\x1b[31;1m>> \x1b[0m", 0, 80, false, 3, "\x1b[31;1m>> \x1b[0m"},
        {U"a\tb", 0, 80, false, 6, "a    b"},
        {U"a\tb", 0, 80, true, 6, "******"},
        {U"\x4E2D", 8, 10, false, 10, "\xE4\xB8\xAD"},
        {U"\x4E2D", 9, 10, false, 12, "\xE4\xB8\xAD"},   // moves to the next row
        {U"\x1F300", 0, 80, false, 2, "\xF0\x9F\x8C\x80"},
        {U"\x4E2D", 9, 10, true, 10, "*"},
        {U"ab\ncd", 0, 10, false, 12, "ab\r\ncd"},
        {U"0123456789\nab", 0, 10, false, 12, "0123456789\r\nab"},
    };
    for (const Case& c : cases) {
        std::string out;
        bool pending = false;
        EXPECT_EQ(line_edit::advance(c.text, c.pos, c.columns, c.hidden, out, pending), c.after);
        EXPECT_EQ(out, c.shown);
    }
}

// Edits on a 10-column screen; the screen must show what the line holds,
// with the cursor where the next character goes.
TEST(LineEditDisplay, WrapsAtTheColumns) {
    struct Case {
        std::string keys;
        std::vector<std::string> rows;
        int row, column;  // the cursor before the final Enter
    };
    const Case cases[] = {
        {"abcdefg", {">> abcdefg"}, 1, 0},
        {"abcdefghijkl", {">> abcdefg", "hijkl"}, 1, 5},
        {"abcdefghijkl" + home + "X", {">> Xabcdef", "ghijkl"}, 0, 4},
        {"abcdefghijkl\x7f\x7f\x7f\x7f\x7f", {">> abcdefg"}, 1, 0},
        {"abcdefghijkl\x7f\x7f\x7f\x7f\x7f\x7f", {">> abcdef"}, 0, 9},
        {"abcdefghij" + left + left + left + left + left, {">> abcdefg", "hij"}, 0, 8},
        {"abcdef\xE4\xB8\xAD", {">> abcdef", "#"}, 1, 2},
        {"abcdef\xE4\xB8\xAD" + left, {">> abcdef", "#"}, 1, 0},
        {"abcdefghijklmnopqrstu" + home + "\x0b", {">>"}, 0, 3},
    };
    for (const Case& c : cases) {
        FakeTerminal term(10, 6);
        term.type(c.keys);
        Lines history;
        line_edit::Editor editor;
        line_edit::Result r = editor.edit(term, U">> ", false, history);
        ASSERT_TRUE(r.input_ended);
        for (std::size_t i = 0; i < c.rows.size(); ++i)
            EXPECT_EQ(term.last.row(static_cast<int>(i)), c.rows[i]) << c.keys << " row " << i;
        EXPECT_EQ(term.last.row(static_cast<int>(c.rows.size())), "") << c.keys;
        EXPECT_EQ(term.last.row_(), c.row) << c.keys;
        EXPECT_EQ(term.last.column(), c.column) << c.keys;
        // Leaving the edit puts the cursor below the input.
        EXPECT_EQ(term.screen.row_(), static_cast<int>(c.rows.size())) << c.keys;
        EXPECT_EQ(term.screen.column(), 0) << c.keys;
    }
}

TEST(LineEditDisplay, HiddenInputShowsStars) {
    FakeTerminal term(80, 24);
    term.type("pa\tss\r");
    Lines history;
    line_edit::Editor editor;
    line_edit::Result r = editor.edit(term, U"Password: ", true, history);
    EXPECT_EQ(narrow(r.line), "pa\tss");
    EXPECT_EQ(term.screen.row(0), "Password: ********");
    EXPECT_EQ(term.output.find("pa"), std::string::npos);
}

TEST(LineEditDisplay, PromptStartsWhereTheCursorStands) {
    FakeTerminal term(10, 6);
    term.screen.feed("12345");
    term.type("abcdefg" + home + "X\r");
    Lines history;
    line_edit::Editor editor;
    editor.edit(term, U"> ", false, history);
    EXPECT_EQ(term.screen.row(0), "12345> Xab");
    EXPECT_EQ(term.screen.row(1), "cdefg");
    EXPECT_EQ(term.screen.row_(), 2);
    EXPECT_EQ(term.screen.column(), 0);
}

TEST(LineEditDisplay, ScrollsAtTheBottom) {
    FakeTerminal term(10, 3);
    term.screen.feed("\n\n");
    term.type("abcdefghijklmnopq" + home + "Z");
    Lines history;
    line_edit::Editor editor;
    editor.edit(term, U">> ", false, history);
    EXPECT_EQ(term.last.row(0), ">> Zabcdef");
    EXPECT_EQ(term.last.row(1), "ghijklmnop");
    EXPECT_EQ(term.last.row(2), "q");
    EXPECT_EQ(term.last.row_(), 0);
    EXPECT_EQ(term.last.column(), 4);
    EXPECT_EQ(term.last.scrolled(), 2);
}

TEST(LineEditDisplay, ExactRowFillLeavesNoBlankRow) {
    FakeTerminal term(10, 6);
    term.type("abcdefg\r");
    Lines history;
    line_edit::Editor editor;
    editor.edit(term, U">> ", false, history);
    EXPECT_EQ(term.screen.row(0), ">> abcdefg");
    EXPECT_EQ(term.screen.row_(), 1);
    EXPECT_EQ(term.screen.column(), 0);
}

std::vector<line_edit::Candidate> two_candidates(const std::u32string&, std::size_t) {
    return {{U"print", 5}, {U"print", 0}, {U"probe", 0}};
}
std::vector<line_edit::Candidate> one_candidate(const std::u32string& line, std::size_t) {
    if (line != U"pr") return {};
    return {{U"print x", 5}};
}

TEST(LineEdit, CompletionHook) {
    Lines history;
    {
        FakeTerminal term(80, 24);
        term.type("pr\tY\r");
        line_edit::Editor editor;
        editor.set_completer(one_candidate);
        EXPECT_EQ(narrow(editor.edit(term, U">> ", false, history).line), "printY x");
    }
    {
        FakeTerminal term(80, 24);
        term.type("p\t");
        line_edit::Editor editor;
        editor.set_completer(two_candidates);
        line_edit::Result r = editor.edit(term, U">> ", false, history);
        EXPECT_EQ(narrow(r.line), "");
        EXPECT_EQ(term.screen.row(0), ">> print probe");
        // The next edit starts from the common part.
        term.type("X\r");
        EXPECT_EQ(narrow(editor.edit(term, U">> ", false, history).line), "printX");
    }
    {
        FakeTerminal term(80, 24);
        term.type("a\tb\r");  // no candidates: the Tab is typed
        line_edit::Editor editor;
        editor.set_completer(one_candidate);
        EXPECT_EQ(narrow(editor.edit(term, U">> ", false, history).line), "a\tb");
    }
    {
        // Hidden input takes a Tab as typed: no candidates are shown, the
        // line is kept whole, and nothing of it reaches the next edit.
        FakeTerminal term(80, 24);
        term.type("p\tx\r");
        line_edit::Editor editor;
        editor.set_completer(two_candidates);
        EXPECT_EQ(narrow(editor.edit(term, U"pw: ", true, history).line), "p\tx");
        EXPECT_EQ(term.screen.row(0), "pw: ******");
        term.type("y\r");
        EXPECT_EQ(narrow(editor.edit(term, U">> ", false, history).line), "y");
    }
}

}  // namespace

}  // namespace kiv
