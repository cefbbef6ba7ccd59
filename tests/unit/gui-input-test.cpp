#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/backends/terminal/input-decoder.h"

namespace kiv::gui {

namespace {

// Writes every report as one line of text, so a case's expected events
// read as a list.
class RecordingSink final : public InputSink {
public:
    std::vector<std::string> events;
    int top = 0;

    void key(std::int32_t code, std::int32_t special) override {
        events.push_back(special ? "special " + std::to_string(special) : "key " + std::to_string(code));
    }
    void button(int type, float x, float y, std::uint32_t flags) override {
        events.push_back("button " + std::to_string(type) + at(x, y, flags));
    }
    void move(float x, float y, std::uint32_t flags) override { events.push_back("move" + at(x, y, flags)); }
    void wheel(int delta, float x, float y, std::uint32_t flags) override {
        events.push_back("wheel " + std::to_string(delta) + at(x, y, flags));
    }
    void cursor_report(int row, int column) override {
        top = row - 1;
        events.push_back("report " + std::to_string(row) + " " + std::to_string(column));
    }
    int view_top() override { return top; }

private:
    static std::string at(float x, float y, std::uint32_t flags) {
        char text[64];
        std::snprintf(text, sizeof text, " %g,%g %x", x, y, flags);
        return text;
    }
};

class InputDecoding : public ::testing::Test {
protected:
    InputBuffer buffer;
    RecordingSink sink;

    void SetUp() override { make_input_buffer(buffer); }
    void TearDown() override { free_input_buffer(buffer); }

    // Feeds the frames one by one, decoding after each, and answers every
    // event reported.
    std::vector<std::string> feed(const std::vector<std::string>& frames) {
        for (const std::string& frame : frames) {
            append_input_bytes(buffer, reinterpret_cast<const std::uint8_t*>(frame.data()),
                               static_cast<std::uint32_t>(frame.size()));
            decode_input(buffer, sink);
        }
        return sink.events;
    }
};

using Events = std::vector<std::string>;

struct Case {
    std::vector<std::string> frames;
    Events events;
};

void expect_cases(const Case* first, const Case* last) {
    for (const Case* c = first; c != last; ++c) {
        InputBuffer buffer;
        make_input_buffer(buffer);
        RecordingSink sink;
        std::string shown;
        for (const std::string& frame : c->frames) {
            append_input_bytes(buffer, reinterpret_cast<const std::uint8_t*>(frame.data()),
                               static_cast<std::uint32_t>(frame.size()));
            decode_input(buffer, sink);
            for (unsigned char ch : frame) shown += ch < 32 ? "^" + std::to_string(ch) : std::string(1, ch);
            shown += " | ";
        }
        EXPECT_EQ(sink.events, c->events) << "frames: " << shown;
        free_input_buffer(buffer);
    }
}

TEST(GuiInput, TextAndControlKeys) {
    const Case cases[] = {
        {{"ab"}, {"key 97", "key 98"}},
        {{"\xC3\xA9"}, {"key 233"}},
        {{"\xF0\x9F\x8C\x80"}, {"key 127744"}},
        {{"\x08\x0A\x0D\x09\x7F\x03"}, {"key 127", "key 13", "key 13", "key 9", "key 127", "key 3"}},
        // A lone ESC in a frame is the Escape key.
        {{"\x1b"}, {"key 27"}},
        {{"a", "\x1b"}, {"key 97", "key 27"}},
        // A character whose bytes arrive over several frames is one key.
        {{"x\xC3", "\xA9y"}, {"key 120", "key 233", "key 121"}},
        {{"\xE4", "\xB8", "\xAD"}, {"key 20013"}},
        // Bytes that can never be decoded are dropped and do not stall what
        // follows.
        {{"\x80" "a"}, {"key 97"}},
        {{"\xC3" "a"}, {"key 97"}},
        {{"\xFF\xFE" "b"}, {"key 98"}},
        {{"\xED\xA0\x80" "c"}, {"key 99"}},  // an encoded surrogate
        {{"\xC0\xAF" "d"}, {"key 100"}},     // an overlong form
    };
    expect_cases(std::begin(cases), std::end(cases));
}

TEST(GuiInput, SpecialKeys) {
    const Case cases[] = {
        {{"\x1b[A\x1b[B\x1b[C\x1b[D"}, {"special -20", "special -21", "special -22", "special -23"}},
        {{"\x1bOA\x1bOB\x1bOC\x1bOD"}, {"special -20", "special -21", "special -22", "special -23"}},
        {{"\x1b[F\x1bOF\x1b[4~\x1b[8~"}, {"special -24", "special -24", "special -24", "special -24"}},
        {{"\x1b[H\x1bOH\x1b[1~\x1b[7~"}, {"special -25", "special -25", "special -25", "special -25"}},
        {{"\x1b[2~\x1b[3~\x1b[5~\x1b[6~"}, {"special -26", "special -27", "special -28", "special -29"}},
        {{"\x1bOP\x1bOQ\x1bOR\x1bOS"}, {"special -31", "special -32", "special -33", "special -34"}},
        {{"\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~"},
         {"special -35", "special -36", "special -37", "special -38", "special -39", "special -40",
          "special -41", "special -42"}},
        // Shift-Tab: Tab with the shift flag, made by the dispatch from code 10.
        {{"\x1b[Z"}, {"special 10"}},
        // Modifiers are not read: a "~" key keeps its meaning, a letter key
        // with parameters gives nothing.
        {{"\x1b[3;5~"}, {"special -27"}},
        {{"\x1b[1;5A" "x"}, {"key 120"}},
        {{"\x1b[16~\x1b[99~\x1b[?25h" "x"}, {"key 120"}},
        // Alt with a key: both bytes go, nothing is sent; only ESC O takes a
        // third byte.
        {{"\x1bxy"}, {"key 121"}},
        {{"\x1bOZ" "y"}, {"key 121"}},
    };
    expect_cases(std::begin(cases), std::end(cases));
}

TEST(GuiInput, SequencesCutByTheFrameEnd) {
    const Case cases[] = {
        {{"\x1b[", "A"}, {"special -20"}},
        {{"a\x1b[1", "5", "~b"}, {"key 97", "special -35", "key 98"}},
        {{"\x1bO", "P"}, {"special -31"}},
        {{"\x1b[<0;5", ";3M"}, {"button 1 4,2 0"}},
        {{"\x1b]0;title\x1b", "\\z"}, {"key 122"}},
        // An ESC that breaks a sequence off starts the next element.
        {{"\x1b[12\x1b[A"}, {"special -20"}},
        {{"\x1b[1\x1b", "[B"}, {"special -21"}},
        {{"ab\x1b", "[C"}, {"key 97", "key 98", "special -22"}},
    };
    expect_cases(std::begin(cases), std::end(cases));
}

TEST(GuiInput, StringsAreSkippedWhole) {
    const Case cases[] = {
        {{"\x1bP1$r0m\x1b\\a"}, {"key 97"}},
        {{"\x1b]11;rgb:0000/0000/0000\x1b\\b"}, {"key 98"}},
        {{"\x1b]11;rgb:ffff/ffff/ffff\x07" "c"}, {"key 99"}},
        // BEL ends only an operating-system command.
        {{"\x1bPab\x07" "cd\x1b\\e"}, {"key 101"}},
        // An escape sequence inside a string cancels it and is decoded.
        {{"\x1bPab\x1b[Ac"}, {"special -20", "key 99"}},
        {{"\x1b]0;t", "itle", "\x1b\\d"}, {"key 100"}},
    };
    expect_cases(std::begin(cases), std::end(cases));
}

TEST(GuiInput, MouseReports) {
    const Case cases[] = {
        // Press and release; a second press report before the release is a
        // move with the down flag.
        {{"\x1b[<0;5;3M\x1b[<0;5;3m"}, {"button 1 4,2 0", "button 2 4,2 0"}},
        {{"\x1b[<0;5;3M\x1b[<32;6;3M\x1b[<0;6;3m"},
         {"button 1 4,2 0", "move 5,2 2000000", "button 2 5,2 0"}},
        {{"\x1b[<1;1;1M\x1b[<1;1;1m\x1b[<2;2;2M\x1b[<2;2;2m"},
         {"button 3 0,0 0", "button 4 0,0 0", "button 5 1,1 0", "button 6 1,1 0"}},
        // No button held: a plain move.
        {{"\x1b[<35;10;4M"}, {"move 9,3 0"}},
        {{"\x1b[<64;3;3M\x1b[<65;3;3M"}, {"wheel 1 2,2 0", "wheel -1 2,2 0"}},
        // Modifiers: shift 4, alt 8, control 16.
        {{"\x1b[<4;1;1M\x1b[<8;1;1m\x1b[<16;1;1M"},
         {"button 1 0,0 20000000", "button 2 0,0 40000000", "button 1 0,0 10000000"}},
        // Buttons 6 and 7 and the extra buttons (back, forward) are ignored.
        {{"\x1b[<66;1;1M\x1b[<67;1;1M\x1b[<128;1;1M\x1b[<129;1;1M" "x"}, {"key 120"}},
        // Not three parameters: not a mouse report.
        {{"\x1b[<0;5M\x1b[<0;5;3;1M" "x"}, {"key 120"}},
    };
    expect_cases(std::begin(cases), std::end(cases));
}

TEST_F(InputDecoding, CursorReportMovesTheMouseOrigin) {
    EXPECT_EQ(feed({"\x1b[12;1R", "\x1b[<0;5;14M"}), (Events{"report 12 1", "button 1 4,2 0"}));
    EXPECT_EQ(sink.top, 11);
}

TEST_F(InputDecoding, CursorReportNeedsTwoParameters) {
    EXPECT_EQ(feed({"\x1b[5R\x1b[1;2;3R" "q"}), (Events{"key 113"}));
}

TEST_F(InputDecoding, ButtonStateCarriesOverFrames) {
    EXPECT_EQ(feed({"\x1b[<0;1;1M", "\x1b[<0;2;1M", "\x1b[<0;2;1m"}),
              (Events{"button 1 0,0 0", "move 1,0 2000000", "button 2 1,0 0"}));
}

TEST_F(InputDecoding, BufferIsEmptiedOnceConsumed) {
    feed({"abc"});
    EXPECT_TRUE(input_exhausted(buffer));
    EXPECT_EQ(buffer.bytes.count, 0u);
    feed({"d\xC3"});
    // The unfinished character is kept at the front.
    EXPECT_EQ(buffer.bytes.count, 1u);
    EXPECT_EQ(buffer.read_pos, 0u);
    EXPECT_TRUE(buffer.incomplete);
}

// A sink whose key handler runs a nested decoding of the same buffer, as a
// key's actor may; it records the keys (and, as -1, button events).
class NestingSink : public InputSink {
public:
    explicit NestingSink(InputBuffer& b) : buffer(b) {}
    InputBuffer& buffer;
    std::vector<std::int32_t> keys;
    void key(std::int32_t code, std::int32_t) override {
        keys.push_back(code);
        if (code == 'n') nest();
    }
    void button(int, float, float, std::uint32_t) override { keys.push_back(-1); }
    void move(float, float, std::uint32_t) override {}
    void wheel(int, float, float, std::uint32_t) override {}
    void cursor_report(int, int) override {}
    int view_top() override { return 0; }

private:
    virtual void nest() = 0;
};

// A key's actor may run a nested event loop, which resets the buffer; the
// outer decoding must stop instead of reading what is gone.
class ResettingSink final : public NestingSink {
public:
    using NestingSink::NestingSink;

private:
    void nest() override {
        reset_input_buffer(buffer);
        for (int i = 0; i < 500; ++i) append_input_byte(buffer, 'z');
        decode_input(buffer, *this);
    }
};

// A no-wait pass run by an actor decodes the same buffer and may keep an
// element that has not all arrived: the outer pass must leave it for the
// next frame, not move bytes from its own, older position.
class PartialPassSink final : public NestingSink {
public:
    using NestingSink::NestingSink;

private:
    void nest() override {
        const std::string more = "q\x1b[<0;5";
        append_input_bytes(buffer, reinterpret_cast<const std::uint8_t*>(more.data()),
                           static_cast<std::uint32_t>(more.size()));
        decode_input(buffer, *this);
    }
};

TEST_F(InputDecoding, NestedPassKeepsAnIncompleteElement) {
    PartialPassSink nested(buffer);
    const std::string bytes = "abcdefghijklmn";
    append_input_bytes(buffer, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                       static_cast<std::uint32_t>(bytes.size()));
    decode_input(buffer, nested);
    ASSERT_EQ(nested.keys.size(), 15u);
    EXPECT_EQ(nested.keys[13], 'n');
    EXPECT_EQ(nested.keys[14], 'q');
    EXPECT_TRUE(buffer.incomplete);
    EXPECT_EQ(buffer.bytes.count, 6u);  // ESC [ < 0 ; 5
    // The rest of the mouse report arrives: a press.
    const std::string rest = ";1M";
    append_input_bytes(buffer, reinterpret_cast<const std::uint8_t*>(rest.data()), 3);
    decode_input(buffer, nested);
    ASSERT_EQ(nested.keys.size(), 16u);
    EXPECT_EQ(nested.keys[15], -1);
    EXPECT_TRUE(input_exhausted(buffer));
}

TEST_F(InputDecoding, NestedLoopResetDuringDispatch) {
    ResettingSink nested(buffer);
    const std::string bytes = "anbc";
    append_input_bytes(buffer, reinterpret_cast<const std::uint8_t*>(bytes.data()), 4);
    decode_input(buffer, nested);
    ASSERT_EQ(nested.keys.size(), 502u);
    EXPECT_EQ(nested.keys[0], 'a');
    EXPECT_EQ(nested.keys[1], 'n');
    EXPECT_EQ(nested.keys[501], 'z');
    EXPECT_TRUE(input_exhausted(buffer));
}

}  // namespace

}  // namespace kiv::gui
