#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "heap-support.h"
#include "runtime/console-output.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/output-hooks.h"

namespace kiv {

namespace {

// An in-memory terminal (or file): collects the bytes and answers size and
// cursor questions from its fields.
struct MemorySink {
    std::string out;
    int writes = 0;
    int columns = 80, rows = 24;
    int column = 0, row = 0;
    bool answers = true;  // does the "terminal" report its cursor

    static void write(void* c, const std::uint8_t* bytes, std::size_t n) {
        auto* s = static_cast<MemorySink*>(c);
        s->out.append(reinterpret_cast<const char*>(bytes), n);
        ++s->writes;
    }
    static bool size(void* c, int* columns, int* rows) {
        auto* s = static_cast<MemorySink*>(c);
        *columns = s->columns;
        *rows = s->rows;
        return true;
    }
    static bool cursor(void* c, int* column, int* row) {
        auto* s = static_cast<MemorySink*>(c);
        *column = s->column;
        *row = s->row;
        return s->answers;
    }
};

struct ConsoleOutput : ::testing::Test {
    MemorySink sink;
    void use(bool terminal) {
        console_output::save_default_attributes();
        console_output::set_sink({MemorySink::write, MemorySink::size, MemorySink::cursor, &sink, terminal});
    }
    void TearDown() override { console_output::init(); }

    std::string written(const std::string& text, bool terminal, int unit = 1) {
        sink.out.clear();
        use(terminal);
        std::vector<std::uint8_t> units;
        for (unsigned char ch : text)
            for (int i = 0; i < unit; ++i) units.push_back(i == 0 ? ch : 0);
        console_output::write(units.data(), units.size(), unit, false);
        return sink.out;
    }
};

}  // namespace

TEST_F(ConsoleOutput, RedirectedPassesEscapesAndWritesUtf8) {
    EXPECT_EQ(written("ab\x1b[31mc", false), "ab\x1b[31mc");
    EXPECT_EQ(written("\xE9", false), "\xC3\xA9");
    EXPECT_EQ(written("\x1b[5;10H\x1bx", false, 4), "\x1b[5;10H\x1bx");
    sink.out.clear();
    const std::uint32_t wide[] = {0x10000, '\n', 0x20AC};
    console_output::write_ucs4_line(wide, sizeof wide);
    EXPECT_EQ(sink.out, "\xF0\x90\x80\x80\n\xE2\x82\xAC\n");
}

TEST_F(ConsoleOutput, LongTextGoesOutInBufferedBlocks) {
    std::string text(3000, 'x');
    EXPECT_EQ(written(text, false), text);
    EXPECT_GE(sink.writes, 3);
    EXPECT_LE(sink.writes, 4);
    std::string accents(700, '\xE9');  // two bytes each once encoded
    std::string expected;
    for (int i = 0; i < 700; ++i) expected += "\xC3\xA9";
    EXPECT_EQ(written(accents, true), expected);
}

TEST_F(ConsoleOutput, CodePointBeyondUnicodeFiresAfterWritingWhatCameBefore) {
    use(false);
    const std::uint32_t text[] = {'o', 'k', 0x110000, 'x'};
    try {
        console_output::write(text, sizeof text, 4, true);
        FAIL();
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::script_invalid_char);
    }
    EXPECT_EQ(sink.out, "ok");
}

TEST_F(ConsoleOutput, EscapeDialectOnATerminal) {
    sink.column = 5;
    sink.row = 3;
    struct Case { const char* text; const char* out; };
    const Case cases[] = {
        {"ab\x1b[31mc", "ab\x1b[0;31;49mc"},
        {"\x1b[1;33;44m", "\x1b[0;93;104m"},          // one change: intensities, yellow on blue
        {"\x1b[m", ""},                                // no number: no effect
        {"\x1b[31m\x1b[0m", "\x1b[0;31;49m\x1b[0;39;49m"},
        {"\x1b[27m", "\x1b[0;39;49m"},                  // set again, unchanged
        {"\x1b[4;7m", "\x1b[0;30;47m"},  // swapping the colours drops the underscore
        {"\x1b[32;42m", "\x1b[0;32;42m"},
        {"\x1b[39m", "\x1b[0;97;49m"},
        {"\x1b[1;31;m", ""},                            // m in the first state ends it
        {"\x1b[5;10H", "\x1b[11;6H"},                   // column 5, row 10
        {"\x1b[H", "\x1b[H"},
        {"\x1b[;f", "\x1b[H"},
        {"\x1b[80;0H", ""},                             // off the screen: stays
        {"\x1b[3A\x1b[200C\x1b[2B\x1b[1D", "\x1b[3A\x1b[200C\x1b[2B\x1b[1D"},
        {"\x1b[0A", ""},
        {"\x1b[65536A", "\x1b[1A"},                     // numbers wrap at 65,535
        {"\x1b[2J", "\x1b[2J\x1b[H"},
        {"\x1b[K", "\x1b[K"},
        {"\x1b[J", "\x1b[2K\x1b[J"},
        {"\x1b[2K", "\x1b[2K\r"},
        {"\x1b[1K", "\r\x1b[5X"},
        {"\x1b[1J", "\x1b[3;80H\x1b[1J\x1b[4;6H"},
        {"\x1b[3J\x1b[0K\x1b[7K", ""},
        {"\x1b[s\x1b[u", "\x1b" "7\x1b" "8\x1b[0;39;49m"},
        {"\x1bx", "\xE2\x90\x9Bx"},                     // ESC x prints as two characters
        {"a\x1b", "a\xE2\x90\x9B"},
        {"a\x1b[12", "a"},                              // cut by the end: no effect
        {"\x1b[12;", ""},
        {"\x1b[5Zq", "q"},                              // unknown final: no effect
        {"\x1b[44m\x1b[K", "\x1b[0;39;44m\x1b[0;39;49m\x1b[K\x1b[0;39;44m"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(written(c.text, true), c.out) << "unit 1: " << c.text + 1;
        EXPECT_EQ(written(c.text, true, 2), c.out) << "unit 2: " << c.text + 1;
        EXPECT_EQ(written(c.text, true, 4), c.out) << "unit 4: " << c.text + 1;
    }
}

TEST_F(ConsoleOutput, AttributesFollowTheSgrTable) {
    struct Case { const char* text; std::uint32_t attributes; };
    const Case cases[] = {
        {"\x1b[31m", 0x04},  {"\x1b[1m", 0x8F},  {"\x1b[1;31m", 0x8C},  {"\x1b[1;33;44m", 0x9E},
        {"\x1b[4m", 0x8007}, {"\x1b[4;31m", 0x04}, {"\x1b[7m", 0x70},   {"\x1b[49m", 0x87},
        {"\x1b[47;30m", 0x70}, {"\x1b[0m", 0x07},
    };
    for (const Case& c : cases) {
        written(c.text, true);
        EXPECT_EQ(console_output::current_attributes(), c.attributes) << c.text + 1;
    }
}

TEST_F(ConsoleOutput, EraseWithoutACursorReportAndTheScreenReport) {
    sink.answers = false;
    EXPECT_EQ(written("\x1b[1K", true), "\x1b[1K\r");
    sink.answers = true;
    sink.row = 0;
    EXPECT_EQ(written("\x1b[1J", true), "");  // nothing above the top row
    sink.columns = 100;
    sink.rows = 30;
    sink.column = 7;
    sink.row = 2;
    EXPECT_EQ(written("\x1b[?", true),
              "Screen buffer info:\n"
              "   size______ 100x30\n"
              "   cursor____ 7x2\n"
              "   attribute_ 00000007 00000007\n"
              "   left______ 0 top: 0\n"
              "   right_____ 99 bottom: 29\n"
              "   max_______ 100x30\n");
}

TEST_F(ConsoleOutput, NumberPrintersAndLineHooks) {
    use(false);
    console_output::print_hex(255);
    console_output::print_hex_byte(10);
    console_output::print_integer(-42);
    console_output::print_float(0.1);
    console_output::print_float32(1.0f / 3.0f);
    console_output::print_c_string("\x1b[1m!");
    EXPECT_EQ(sink.out, "000000FF0A-420.10.3333333\x1b[1m!");
}

// Hooks are process-wide lists, so these run in a child process.
namespace {
std::vector<int> order;
std::string line_texts;
template <int N>
void record_hook(const Cell*, bool) { order.push_back(N); }
void record_line(const char* text, std::size_t n, int) { line_texts.append(text, n); }

Cell string_value(const std::vector<std::uint32_t>& cps, int unit, std::uint32_t index) {
    NodeId node = memory::alloc_codepoints(static_cast<std::int64_t>(cps.size()), static_cast<std::uint32_t>(unit));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::uint8_t* p = b->head();
    for (std::uint32_t cp : cps)
        for (int i = 0; i < unit; ++i) *p++ = static_cast<std::uint8_t>(cp >> (8 * i));
    b->set_tail(p);
    return Cell{static_cast<std::uint32_t>(Type::string), index, node, 0};
}
}  // namespace

TEST_F(ConsoleOutput, PrintHooksRunInOrderAndPrintFromTheHead) {
    test::isolated([this] {
        use(true);
        console_output::init_hooks();
        console_output::add_hooks(record_hook<1>, record_line);
        console_output::add_hooks(record_hook<2>, nullptr);
        console_output::add_hooks(record_hook<3>, nullptr);
        console_output::add_hooks(record_hook<4>, nullptr);
        console_output::add_hooks(record_hook<5>, nullptr);
        console_output::add_hooks(record_hook<6>, nullptr);  // the list grows past 5
        Cell abc = string_value({'a', 'b', 'c'}, 1, 0);
        console_output::call_print_hooks(&abc, true);
        EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6}));
        Cell from_third = string_value({'a', 'b', 'c'}, 2, 2);
        console_output::call_print_hooks(&from_third, false);
        Cell astral = string_value({0x10000}, 4, 0);
        console_output::call_print_hooks(&astral, true);
        EXPECT_EQ(sink.out, "abc\nc\xF0\x90\x80\x80\n");
        console_output::print_c_string("low");
        console_output::print_integer(7);
        EXPECT_EQ(line_texts, "low7");
    });
}

}  // namespace kiv
