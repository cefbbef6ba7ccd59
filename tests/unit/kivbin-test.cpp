// KIVBIN images: values of every datatype come back the same from both
// modes, shared and cyclic structure survives, simple values have the
// byte layouts the format fixes, and broken images are refused with a
// clear error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/evaluator/lexer.h"
#include "runtime/lz.h"
#include "tests/unit/kivbin-support.h"

namespace kiv {

namespace {

using kivbin::Mode;
using test::Bytes;

constexpr Mode modes[] = {Mode::compact, Mode::normal};

class Kivbin : public test::KivbinTest {};

Cell text_of(const char* utf8, Type type = Type::string) {
    Cell s = test::string_of(utf8);
    s.set_type(type);
    return s;
}

Cell binary_of(const Bytes& bytes) {
    Cell b;
    binary::load_at(&b, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return b;
}

Cell with_head(Cell series, std::int32_t head) {
    series.data1 = static_cast<std::uint32_t>(head);
    return series;
}

Cell money_of(bool negative, const char* currency, const char* integer, const char* fraction) {
    Cell m;
    money::make_at_text(&m, negative, currency, integer, fraction);
    return m;
}

Cell bitset_of(const char* spec, bool complemented) {
    Cell b;
    bitset::make_at(&b, 0);
    const Cell chars = test::string_of(spec);
    bitset::process_spec(&chars, &b, bitset::SpecOp::set, bitset::SpecMode::make);
    if (complemented) bitset::buffer(&b)->flags |= memory::series_flag::complement;
    return b;
}

Cell map_of(const char* source) {
    Cell entries = test::read(source);
    Cell m;
    map::make_at(&m, nullptr, 4);
    for (std::int32_t i = 0; i + 1 < block::ks_length(&entries); i += 2) {
        const Cell key = block::ks_head(&entries)[i];
        const Cell value = block::ks_head(&entries)[i + 1];
        map::put(&m, &key, &value, false);
    }
    return m;
}

Cell hash_of(const char* source) {
    const Cell b = test::read(source);
    Cell h;
    hash::make_at(&h, &b, 8);
    return h;
}

Cell tuple_of(std::initializer_list<std::uint8_t> bytes) {
    Cell t{static_cast<std::uint32_t>(Type::tuple), 0, 0, 0};
    return *tuple::make_at(&t, static_cast<int>(bytes.size()), bytes.begin());
}

Cell object_of(const char* spec) {
    Cell s = test::read(spec);
    Cell out;
    object::construct(&s, nullptr, true, &out);
    return out;
}

Cell function_of(const char* spec, const char* body) {
    Cell s = test::read(spec);
    Cell b = test::read(body);
    Cell out;
    function::func(&out, &s, &b);
    return out;
}

std::string mold_all(Cell v) { return test::mold(v, true); }

// A table of values, one of each datatype and of the variants the format
// writes differently.
Cell sample_values() {
    Cell values;
    block::make_at(&values, 64);
    Cell v;
    const Cell items[] = {
        none::value,
        unset::value,
        logic::true_value,
        logic::false_value,
        test::integer(0),
        test::integer(63),
        test::integer(64),
        test::integer(-1),
        test::integer(2147483647),
        test::integer(-2147483647 - 1),
        *char_::make_at(&v, 'A'),
        *char_::make_at(&v, 0x10FFFF),
        float_::make_cell(1.5),
        float_::make_cell(-0.0),
        float_::make_cell(3e9),
        float_::make_cell(-7.0),
        float_::make_cell(1e-300),
        float_::make_cell(0.5, Type::percent),
        float_::make_cell(0.12345, Type::percent),
        float_::make_cell(-0.0, Type::percent),
        time::make_cell(5400.0),
        time::make_cell(-0.25),
        pair::make_cell(10, -20),
        point2d::make_cell(1.5, -2.0),
        point3d::make_cell(1.0, 2.0, 3.5),
        tuple_of({1, 2, 3}),
        tuple_of({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
        *typeset::make_default_at(&v),
        *typeset::make_at(&v, 0, 0, 0),
        test::datatype_of(Type::integer),
        *issue::make_at(&v, "abc"),
        date::make_cell(date::pack(2020, 1, 31, 0, false), 0.0),
        date::make_cell(date::pack(-44, 3, 15, date::zone_bits(-5, 30), true), 3600.5),
        money_of(false, "", "1", "23"),
        money_of(true, "EUR", "1000000", "00001"),
        test::word_of("alpha"),
        test::word_of("Alpha", Type::set_word),
        test::word_of("beta", Type::lit_word),
        test::word_of("gamma", Type::get_word),
        Cell{static_cast<std::uint32_t>(Type::refinement), 0, symbol::make("only"), 0xFFFFFFFF},
        test::read_one("[1 \"two\" [three] (4)]"),
        test::read_one("(a b)"),
        test::read_one("a/b/3"),
        test::read_one("'a/b"),
        test::read_one("a/b:"),
        test::read_one(":a/b"),
        with_head(test::read_one("[x y z]"), 2),
        text_of("plain"),
        text_of("caf\xC3\xA9 \xCE\xA9"),
        text_of("\xF0\x9F\x98\x80 wide"),
        with_head(text_of("skip"), 1),
        text_of("dir/file.txt", Type::file),
        text_of("http://example.com/a", Type::url),
        text_of("b class=x", Type::tag),
        text_of("who@example.com", Type::email),
        text_of("someone", Type::ref),
        binary_of({0, 1, 0xFE, 0xFF, 7}),
        with_head(binary_of({}), 0),
        hash_of("a 1 b 2"),
        map_of("k 1 \"text\" [v] 3 x"),
        bitset_of("abc", false),
        bitset_of("xyz", true),
    };
    for (const Cell& item : items) block::ks_append(&values, &item);
    return values;
}

// --- round trips ------------------------------------------------------------

TEST_F(Kivbin, EveryDatatypeComesBackTheSame) {
    const Cell values = sample_values();
    for (Mode mode : modes) {
        for (std::int32_t i = 0; i < block::ks_length(&values); ++i) {
            const Cell v = block::buffer(&values)->cells()[i];
            const Cell back = test::round_trip(v, mode);
            EXPECT_EQ(back.type(), v.type()) << i << ": " << mold_all(v);
            EXPECT_EQ(mold_all(back), mold_all(v)) << i;
            if (v.is(Type::float_) || v.is(Type::percent) || v.is(Type::time)) {
                EXPECT_EQ(std::signbit(float_::get(&back)), std::signbit(float_::get(&v))) << i;
            }
        }
        // All of them at once, inside one block.
        EXPECT_EQ(mold_all(test::round_trip(values, mode)), mold_all(values));
    }
}

TEST_F(Kivbin, StringsKeepTheirUnitAndHead) {
    const Cell cases[] = {text_of("abc"), text_of("\xCE\xA9"), text_of("\xF0\x9F\x98\x80"),
                          with_head(text_of("\xCE\xA9x"), 1)};
    for (Mode mode : modes) {
        for (const Cell& s : cases) {
            const Cell back = test::round_trip(s, mode);
            EXPECT_EQ(string::buffer(&back)->unit(), string::buffer(&s)->unit());
            EXPECT_EQ(back.data1, s.data1);
        }
    }
}

TEST_F(Kivbin, NewLineMarkersAndWordBindingsSurvive) {
    Cell b = test::read("a b c");
    block::buffer(&b)->cells()[1].header |= cell_flag::new_line;
    for (Mode mode : modes) {
        const Cell back = test::round_trip(b, mode);
        const Cell* cells = block::buffer(&back)->cells();
        EXPECT_FALSE(cells[0].header & cell_flag::new_line);
        EXPECT_TRUE(cells[1].header & cell_flag::new_line);
        EXPECT_EQ(cells[0].data1, context::global());
        EXPECT_EQ(symbol::text(cells[2].data2), "c");
    }
}

// --- sharing and cycles -----------------------------------------------------

TEST_F(Kivbin, ABlockThatHoldsItselfComesBackAsACycle) {
    Cell b = test::read("1 2");
    block::ks_append(&b, &b);
    for (Mode mode : modes) {
        const Cell back = test::round_trip(b, mode);
        const Cell inner = block::buffer(&back)->cells()[2];
        EXPECT_TRUE(inner.is(Type::block));
        EXPECT_EQ(inner.data2, back.data2);
    }
    // The inner occurrence is a C1 block record with the path [0]; in normal
    // mode its header has bit 19 and a reference block follows the head.
    const Bytes image = test::encode_bytes(b, Mode::compact);
    EXPECT_EQ(Bytes(image.end() - 8, image.end()), (Bytes{0x05, 0x03, 0x81, 0x82, 0xC1, 0x05, 0x01, 0x00}));
    const Bytes normal = test::encode_bytes(b, Mode::normal);
    EXPECT_EQ(Bytes(normal.end() - 20, normal.end()),
              (Bytes{0x05, 0, 0x08, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Kivbin, SharedSeriesStayShared) {
    Cell s = text_of("shared");
    Cell bits = bitset_of("q", false);
    Cell inner = test::read("x");
    const Cell obj = object_of("a: 1");
    const Cell fn = function_of("x", "[x]");
    const Cell m = map_of("k 1");
    Cell outer;
    block::make_at(&outer, 8);
    const Cell items[] = {s, with_head(s, 2), inner, bits, inner, bits, obj, fn, m, obj, fn, m};
    for (const Cell& c : items) block::ks_append(&outer, &c);
    for (Mode mode : modes) {
        const Cell back = test::round_trip(outer, mode);
        const Cell* c = block::buffer(&back)->cells();
        EXPECT_EQ(c[0].data2, c[1].data2);
        EXPECT_EQ(c[1].data1, 2u);
        EXPECT_EQ(c[2].data2, c[4].data2);
        EXPECT_EQ(c[3].data2, c[5].data2);
        EXPECT_NE(c[0].data2, c[2].data2);
        EXPECT_EQ(c[6].data1, c[9].data1);   // one object
        EXPECT_EQ(c[7].data1, c[10].data1);  // one function
        EXPECT_EQ(c[8].data2, c[11].data2);  // one map
    }
}

TEST_F(Kivbin, WordsKeepTheirObjectAndTheObjectItsFields) {
    const Cell obj = object_of("a: 1 b: [x]");
    Cell a = *object::get_word_at(obj.data1, 0);
    Cell b = *object::get_word_at(obj.data1, 1);
    Cell outer;
    block::make_at(&outer, 4);
    const Cell items[] = {a, b, obj};
    for (const Cell& c : items) block::ks_append(&outer, &c);
    for (Mode mode : modes) {
        const Cell back = test::round_trip(outer, mode);
        const Cell* c = block::buffer(&back)->cells();
        ASSERT_TRUE(c[2].is(Type::object));
        EXPECT_EQ(c[0].data1, c[2].data1);
        EXPECT_EQ(c[1].data1, c[2].data1);
        EXPECT_EQ(static_cast<std::int32_t>(c[1].data3), 1);
        EXPECT_EQ(mold_all(*context::get(&c[1])), "[x]");
        EXPECT_EQ(mold_all(c[2]), mold_all(obj));
        EXPECT_EQ(object::class_id(&c[2]), -1);
    }
    // The second word refers to the first one's object: a C1 word record.
    const Bytes image = test::encode_bytes(outer, Mode::compact);
    const std::uint8_t c1_word[] = {0xC1, 0x4F};
    EXPECT_NE(std::search(image.begin(), image.end(), std::begin(c1_word), std::end(c1_word)), image.end());
}

TEST_F(Kivbin, FunctionsComeBackWithTheirBodyBound) {
    const Cell fn = function_of("x [integer!] /only y", "[add x y]");
    for (Mode mode : modes) {
        Cell back;
        ASSERT_EQ(test::kivbin_error([&] { back = test::round_trip(fn, mode); }), ErrorId::count_);
        ASSERT_TRUE(back.is(Type::function));
        EXPECT_EQ(mold_all(back), mold_all(fn));
        Cell body = *function::more_cell(&back, function::more::body);
        const Cell inner = block::buffer(&body)->cells()[0];
        const Cell* words = block::buffer(&inner)->cells();
        EXPECT_EQ(words[0].data1, context::global());  // add
        EXPECT_EQ(words[1].data1, back.data1);         // x
        EXPECT_EQ(words[2].data1, back.data1);         // y
        EXPECT_EQ(context::owner(back.data1)->data2, back.data2);
    }
}

TEST_F(Kivbin, ObjectsWithChangeHandlersKeepThem) {
    Cell obj = object_of("on-change*: 0 v: 1");
    const Cell handler = function_of("word old new", "[]");
    *context::slot(obj.data1, 0) = handler;
    object::init_events(&obj, 0, 0, -1, 0);
    for (Mode mode : modes) {
        const Cell back = test::round_trip(obj, mode);
        ASSERT_NE(back.data3, 0u);
        EXPECT_EQ(object::on_change_index(back.data3), 0);
        EXPECT_EQ(object::on_deep_index(back.data3), -1);
    }
}

TEST_F(Kivbin, ErrorsComeBackWithTheirIdAndArguments) {
    const Cell arg = text_of("thing");
    const Cell err = *error::create(ErrorId::script_invalid_arg, &arg, nullptr, nullptr);
    stack::drop(1);
    for (Mode mode : modes) {
        const Cell back = test::round_trip(err, mode);
        ASSERT_TRUE(back.is(Type::error));
        EXPECT_EQ(error::id_of(&back), ErrorId::script_invalid_arg);
        EXPECT_EQ(mold_all(*error::field(&back, error::Field::arg1)), "\"thing\"");
    }
}

TEST_F(Kivbin, NativesAndOpsComeBackByTheirSlot) {
    Cell spec = test::read("a b");
    Cell nat;
    native::make_at(&nat, Type::action, &spec, 7);
    Cell op_value = nat;
    op_value.header = static_cast<std::uint32_t>(Type::op) | (static_cast<std::uint32_t>(Type::action) << 16);
    const Cell fn = function_of("a b", "[a]");
    Cell op_fn = fn;
    op_fn.header = static_cast<std::uint32_t>(Type::op) | (static_cast<std::uint32_t>(Type::function) << 16);
    for (Mode mode : modes) {
        const Cell back = test::round_trip(nat, mode);
        EXPECT_TRUE(back.is(Type::action));
        EXPECT_EQ(back.data1, 7u);
        EXPECT_EQ(mold_all(back), mold_all(nat));
        const Cell back_op = test::round_trip(op_value, mode);
        EXPECT_TRUE(back_op.is(Type::op));
        EXPECT_EQ(op::source_type(&back_op), Type::action);
        const Cell back_fn = test::round_trip(op_fn, mode);
        EXPECT_TRUE(back_fn.is(Type::op));
        EXPECT_EQ(op::source_type(&back_fn), Type::function);
    }
}

TEST_F(Kivbin, DatatypesWithoutACodecAreRefusedAndTheNextEncodeStartsClean) {
    Cell triple_value{static_cast<std::uint32_t>(Type::triple), 1, 2, 3};
    Cell handle_value{static_cast<std::uint32_t>(Type::handle), 0, 0, 0xFFFFFFFF};
    Cell holder = test::read("1 2");
    block::ks_append(&holder, &triple_value);
    for (Mode mode : modes) {
        EXPECT_EQ(test::kivbin_error([&] { test::encode_bytes(holder, mode); }), ErrorId::access_no_codec);
        EXPECT_EQ(test::kivbin_error([&] { test::encode_bytes(handle_value, mode); }),
                  ErrorId::access_no_codec);
        EXPECT_EQ(test::encode_bytes(test::integer(5), Mode::compact),
                  (Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 1, 0x85}));
    }
}

// --- byte layouts -----------------------------------------------------------

// Where the records of an image start.
std::size_t records_start(const Bytes& image, Mode mode) {
    if (mode == Mode::normal) {
        if (!(image[7] & 4)) return 16;
        const std::uint32_t n = image[16] | image[17] << 8;
        const std::uint32_t s = image[20] | image[21] << 8;
        return 24 + 4 * n + s;
    }
    std::size_t at = 9;  // the record count is one byte
    std::uint32_t size = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t b = image[at++];
        size |= static_cast<std::uint32_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) break;
    }
    return image.size() - size;
}

// The records of a one-value image, without its header.
Bytes records_of(Cell v, Mode mode) {
    const Bytes image = test::encode_bytes(v, mode);
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(records_start(image, mode)), image.end());
}

TEST_F(Kivbin, CompactLayoutsOfSimpleValues) {
    Cell c;
    struct Case {
        Cell value;
        Bytes bytes;
    };
    const Case cases[] = {
        {test::integer(5), {0x85}},
        {test::integer(63), {0xBF}},
        {test::integer(64), {0x0B, 0x80, 0x01}},
        {test::integer(-1), {0x0B, 0x01}},
        {none::value, {0x03}},
        {unset::value, {0x02}},
        {logic::true_value, {0xC2}},
        {logic::false_value, {0xC3}},
        {*char_::make_at(&c, 0xE9), {0x0A, 0xE9, 0x01}},
        {test::datatype_of(Type::block), {0x01, 0x05}},
        {pair::make_cell(1, -2), {0x25, 0x02, 0x03}},
        {text_of("abc"), {0x07, 0x0C, 'a', 'b', 'c'}},
        {with_head(text_of("abc"), 1), {0x47, 0x01, 0x0C, 'a', 'b', 'c'}},
        {text_of("\xCE\xA9"), {0x07, 0x05, 0xA9, 0x03}},
        {binary_of({9, 8}), {0x29, 0x02, 9, 8}},
        {float_::make_cell(2.0), {0x4C, 0x04}},
        {float_::make_cell(-3.0), {0x4C, 0x05}},
        {float_::make_cell(-0.0), {0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80}},
        {float_::make_cell(1.5), {0x0C, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
        {float_::make_cell(3e9), {0x0C, 0, 0, 0, 0xC0, 0x0B, 0x5A, 0xE6, 0x41}},
        {float_::make_cell(0.5, Type::percent), {0x66, 0x64}},
        {time::make_cell(90.0), {0x6B, 0xB4, 0x01}},
        {tuple_of({1, 2, 3}), {0x27, 1, 2, 3}},
        {tuple_of({1, 2, 3, 4}), {0x67, 4, 1, 2, 3, 4}},
        {*typeset::make_at(&c, 0, 0, 0), {0x21, 0x00}},
        {*typeset::make_at(&c, 0x40, 0, 0), {0x21, 0x01, 0x40}},
        {date::make_cell(date::pack(2000, 2, 3, 0, false), 0.0), {0x2F, 0x80, 0x21, 0xA0, 0x0F}},
        {money_of(true, "", "12", ""), {0x71, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x20, 0, 0}},
        {test::integer(-2147483647 - 1), {0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
        {text_of("\xF0\x9F\x98\x80"), {0x07, 0x06, 0x00, 0xF6, 0x01, 0x00}},
        {point2d::make_cell(1.5, -2.0), {0x33, 0, 0, 0xC0, 0x3F, 0, 0, 0, 0xC0}},
        {point3d::make_cell(1.0, 2.0, 3.5), {0x34, 0, 0, 0x80, 0x3F, 0, 0, 0, 0x40, 0, 0, 0x60, 0x40}},
        {date::make_cell(date::pack(2000, 2, 3, 0, true), 3600.0),
         {0x6F, 0x80, 0x21, 0xA1, 0x0F, 0, 0, 0, 0, 0, 0x20, 0xAC, 0x40}},
        {*issue::make_at(&c, "ab"), {0x14, 0x00}},
        {map_of("k 1"), {0x28, 0x02, 0x10, 0x00, 0x81}},
        {bitset_of("\x01", true), {0x5E, 0x01, 0x40}},
    };
    for (const Case& k : cases) EXPECT_EQ(records_of(k.value, Mode::compact), k.bytes) << mold_all(k.value);
    // A new-line marker is a C0 prefix on the value it stands before.
    Cell lines = test::read("1 2");
    block::buffer(&lines)->cells()[1].header |= cell_flag::new_line;
    EXPECT_EQ(records_of(lines, Mode::compact), (Bytes{0x05, 0x02, 0x81, 0xC0, 0x82}));
}

TEST_F(Kivbin, PercentsWrittenAsIntegersOnlyWhenExact) {
    const double raw[] = {0.12345, 1e-9, 21474837.0, -0.0};
    for (double d : raw) EXPECT_EQ(records_of(float_::make_cell(d, Type::percent), Mode::compact)[0], 0x26) << d;
    EXPECT_EQ(records_of(float_::make_cell(-0.07, Type::percent), Mode::compact), (Bytes{0x66, 0x0D}));
    EXPECT_EQ(records_of(float_::make_cell(-2147483000.0), Mode::compact)[0], 0x4C);
    EXPECT_EQ(records_of(float_::make_cell(-2147483001.0), Mode::compact)[0], 0x0C);
}

TEST_F(Kivbin, NormalLayoutsOfSimpleValues) {
    Cell c;
    struct Case {
        Cell value;
        Bytes bytes;
    };
    const Case cases[] = {
        {test::integer(5), {0x0B, 0, 0, 0, 5, 0, 0, 0}},
        {logic::true_value, {0x04, 0, 0, 0, 1, 0, 0, 0}},
        {float_::make_cell(1.5), {0x0C, 0, 0, 0, 0, 0, 0xF8, 0x3F, 0, 0, 0, 0}},
        {text_of("abc"), {0x07, 1, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0}},
        {tuple_of({1, 2, 3, 4}), {0x27, 4, 0, 0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0}},
        {money_of(true, "", "1", ""),
         {0x31, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}},
        {none::value, {0x03, 0, 0, 0}},
        {*char_::make_at(&c, 'A'), {0x0A, 0, 0, 0, 0x41, 0, 0, 0}},
        {test::datatype_of(Type::block), {0x01, 0, 0, 0, 5, 0, 0, 0}},
        {pair::make_cell(1, -2), {0x25, 0, 0, 0, 1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}},
        {float_::make_cell(0.5, Type::percent), {0x26, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0}},
        {time::make_cell(90.0), {0x2B, 0, 0, 0, 0, 0x80, 0x56, 0x40, 0, 0, 0, 0}},
        {point2d::make_cell(1.5, -2.0), {0x33, 0, 0, 0, 0, 0, 0xC0, 0x3F, 0, 0, 0, 0xC0}},
        {date::make_cell(date::pack(2000, 2, 3, 0, true), 3600.0),
         {0x2F, 0, 0, 0, 0x80, 0x21, 0xA1, 0x0F, 0, 0x20, 0xAC, 0x40, 0, 0, 0, 0}},
        {*typeset::make_at(&c, 0x40, 0, 0), {0x21, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {binary_of({9, 8}), {0x29, 1, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 9, 8, 0, 0}},
        {bitset_of("\x01", true), {0x1E, 0, 0x80, 0, 1, 0, 0, 0, 0x40, 0, 0, 0}},
        {*issue::make_at(&c, "ab"), {0x14, 0, 0, 0, 0, 0, 0, 0}},
        {test::read("1"), {0x05, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0B, 0, 0, 0, 1, 0, 0, 0}},
    };
    for (const Case& k : cases) EXPECT_EQ(records_of(k.value, Mode::normal), k.bytes) << mold_all(k.value);
    // A float is aligned to 8 bytes from the start of the records.
    Cell pair_of_numbers = test::read("1");
    const Cell f = float_::make_cell(1.5);
    block::ks_append(&pair_of_numbers, &f);
    const Bytes aligned = records_of(pair_of_numbers, Mode::normal);
    EXPECT_EQ(Bytes(aligned.begin() + 20, aligned.begin() + 28), (Bytes{0, 0, 0, 0, 0x0C, 0, 0, 0}));
}

TEST_F(Kivbin, SymbolTablesInBothModes) {
    const Cell w = test::word_of("ab");
    EXPECT_EQ(test::encode_bytes(w, Mode::compact),
              (Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 5, 1, 2, 1, 3, 0, 0, 0, 0, 'a', 'b', 0, 0x0F, 0}));
    EXPECT_EQ(test::encode_bytes(w, Mode::normal),
              (Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 4, 1, 0, 0, 0, 12, 0, 0, 0,  // header
                     1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 0, 0, 0, 0, 0, 0,  // symbols
                     0x0F, 0, 0, 2, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));  // the word
}

// --- broken images ----------------------------------------------------------

ErrorId decode_error(const Bytes& image) {
    return test::kivbin_error([&] { test::decode_bytes(image); });
}

Bytes compact(std::initializer_list<std::uint8_t> records, std::uint8_t flags = 1) {
    Bytes image{'K', 'I', 'V', 'B', 'I', 'N', 2, flags, 1, static_cast<std::uint8_t>(records.size())};
    for (std::uint8_t b : records) image.push_back(b);
    return image;
}

TEST_F(Kivbin, BrokenImagesAreRefused) {
    struct Case {
        const char* what;
        Bytes image;
        ErrorId error;
    };
    const ErrorId invalid = ErrorId::script_kb_invalid_record;
    const Case cases[] = {
        {"no magic", Bytes{'K', 'I', 'V', 'B', 'I', 'X', 2, 1, 1, 1, 0x85}, ErrorId::script_invalid_data},
        {"too short", Bytes{'K', 'I', 'V'}, ErrorId::script_invalid_data},
        {"normal body too short", Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 0, 1, 0}, ErrorId::script_invalid_data},
        {"corrupt compressed body", Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 3, 9, 9, 9, 9}, ErrorId::script_invalid_data},
        {"records beyond the end", Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 5, 0x85}, invalid},
        {"datatype id 0", compact({0x00}), invalid},
        {"unknown datatype id", compact({0x3F, 0x60}), invalid},
        {"C1 on an integer tag", compact({0xC1, 0x85}), invalid},
        {"C4 in user data", compact({0xC4, 0x0F, 0x00}), invalid},
        {"bad byte tag", compact({0xC5}), invalid},
        {"fifth LEB byte above 15", compact({0x0B, 0x80, 0x80, 0x80, 0x80, 0x10}), invalid},
        {"path of depth 0", compact({0xFF, 0x00}), invalid},
        {"path deeper than the bytes left", compact({0xFF, 0x05, 0x00}), invalid},
        {"path past the root", compact({0xFF, 0x01, 0x03}), invalid},
        {"string unit 3", compact({0x07, 0x07, 0x00}), invalid},
        {"string longer than the image", compact({0x07, 0x40, 'a'}), invalid},
        {"block count beyond the bytes", compact({0x05, 0x05, 0x85}), invalid},
        {"tuple of 13 bytes", compact({0x67, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), invalid},
        {"typeset of 13 bytes", compact({0x21, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), invalid},
        {"date time flag disagrees", compact({0x2F, 0x80, 0x21, 0xA1, 0x0F}), invalid},
        {"code point too large", compact({0x0A, 0x80, 0x80, 0xC4, 0x00}), invalid},
        {"word without a symbol table", compact({0x0F, 0x00}), invalid},
        {"symbol area without its NUL", Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 5, 1, 2, 1, 2, 0, 0, 0, 0, 'a', 'b', 0x0F, 0}, invalid},
        {"symbol index out of range", Bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 5, 1, 2, 1, 2, 0, 0, 0, 0, 'a', 0, 0x0F, 1}, invalid},
        {"map with an odd count", compact({0x28, 0x01, 0x85}), invalid},
        {"map key of a bad datatype", compact({0x28, 0x02, 0x03, 0x85}), invalid},
        {"triple record", compact({0x1F}), ErrorId::access_no_codec},
        {"routine record", compact({0x1D}), ErrorId::access_no_codec},
        {"op over an integer", compact({0x17, 0x85}), invalid},
        {"error code outside the catalogue", compact({0x22, 0xE7, 0x07}), invalid},
    };
    for (const Case& k : cases) EXPECT_EQ(decode_error(k.image), k.error) << k.what;
}

TEST_F(Kivbin, InvalidRecordsReportTheirPosition) {
    const Bytes image = compact({0x85, 0x85, 0xC1, 0x85});
    std::int32_t position = 0;
    const ErrorId id = test::kivbin_error([&] {
        try {
            test::decode_bytes(image);
        } catch (const KivError& e) {
            position = static_cast<std::int32_t>(e.args[0].data2);
            throw;
        }
    });
    EXPECT_EQ(id, ErrorId::script_kb_invalid_record);
    EXPECT_EQ(position, 14);  // 1-based: the tag after C1
}

// Nesting is bounded, so a small image cannot exhaust the native stack.
TEST_F(Kivbin, NestingIsBounded) {
    for (int levels : {9999, 10001}) {
        Bytes records;
        for (int i = 0; i < levels; ++i) records.push_back(0x05), records.push_back(0x01);
        records.push_back(0x85);
        Bytes image{'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1};
        for (std::uint32_t v = static_cast<std::uint32_t>(records.size());; v >>= 7) {
            image.push_back(static_cast<std::uint8_t>(v >= 0x80 ? (v & 0x7F) | 0x80 : v));
            if (v < 0x80) break;
        }
        image.insert(image.end(), records.begin(), records.end());
        EXPECT_EQ(decode_error(image), levels < 10000 ? ErrorId::count_ : ErrorId::script_kb_invalid_record);
    }
}

// A word's context index must name a field of its symbol.
TEST_F(Kivbin, WordIndexesAreChecked) {
    const Cell obj = object_of("a: 1 b: 2");
    const Cell a = *object::get_word_at(obj.data1, 0);
    for (Mode mode : modes) {
        const Bytes image = test::encode_bytes(a, mode);
        ASSERT_EQ(decode_error(image), ErrorId::count_);
        // The word is the first record: tag, symbol, then its index.
        const std::size_t index_at = records_start(image, mode) + (mode == Mode::compact ? 2 : 8);
        for (std::uint8_t wrong : {std::uint8_t{1}, std::uint8_t{5}}) {
            Bytes bad = image;
            bad[index_at] = mode == Mode::compact ? static_cast<std::uint8_t>(2 * wrong) : wrong;
            EXPECT_EQ(decode_error(bad), ErrorId::script_kb_invalid_record) << int(wrong);
        }
    }
}

// Every cut of an image and every single-byte change is refused cleanly
// or decodes: never a crash (the sanitizer build checks the reads).
TEST_F(Kivbin, CutAndChangedImagesNeverCrash) {
    Cell v = sample_values();
    Cell obj = object_of("a: [1 2] b: \"x\"");
    block::ks_append(&v, &obj);
    const Cell fn = function_of("x", "[x x]");
    block::ks_append(&v, &fn);
    block::ks_append(&v, &v);
    for (Mode mode : modes) {
        const Bytes image = test::encode_bytes(v, mode);
        for (std::size_t n = 0; n < image.size(); ++n) {
            const Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_NE(decode_error(cut), ErrorId::count_) << n;
        }
        for (std::size_t i = 8; i < image.size(); i += 3) {
            Bytes changed = image;
            changed[i] ^= 0x5A;
            decode_error(changed);
        }
    }
}

// --- compression ------------------------------------------------------------

TEST_F(Kivbin, CompressedImagesDecodeLikePlainOnes) {
    const Cell values = sample_values();
    const Bytes image = test::encode_bytes(values, Mode::compact);
    Bytes packed(image.begin(), image.begin() + 8);
    packed[7] |= 2;
    const Bytes body = lz::compress(image.data() + 8, image.size() - 8);
    packed.insert(packed.end(), body.begin(), body.end());
    const Cell back = test::decode_bytes(packed);
    EXPECT_EQ(mold_all(block::buffer(&back)->cells()[0]), mold_all(values));
}

TEST(LzCompress, RoundTripsAndShrinksRepetitiveData) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "word" + std::to_string(i % 97) + " [block] ";
    Bytes random(3 * 1024 * 1024 / 2);
    std::uint32_t x = 12345;
    for (auto& b : random) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 24);
    const Bytes inputs[] = {Bytes{}, Bytes{'a'}, Bytes(1000, 'z'), Bytes(text.begin(), text.end()), random};
    for (const Bytes& in : inputs) {
        const Bytes packed = lz::compress(in.data(), in.size());
        std::size_t size = 0;
        std::uint8_t* out = lz::decompress(packed.data(), packed.size(), &size);
        ASSERT_NE(out, nullptr) << in.size();
        EXPECT_EQ(Bytes(out, out + size), in);
        lz::free_buffer(out);
    }
    EXPECT_LT(lz::compress(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()).size(),
              text.size() / 8);
}

// --- the boot image ---------------------------------------------------------

TEST_F(Kivbin, BootImagesDefineWordsAndBindByRootIndex) {
    // A context root [v], then `v` bound to it by root index 0 and field 0,
    // then a C4 definition of the global word `w` to 5.
    const Bytes image{'K', 'I', 'V', 'B', 'I', 'N', 1, 5, 3, 13, 2, 4, 0, 0, 0, 0, 2, 0, 0, 0, 'v', 0, 'w', 0,
                      0x0E, 0x02, 0x01, 0x00,  // context: object kind, field v
                      0x4F, 0x00, 0x00, 0x00,  // v, root 0, index 0
                      0xC4, 0x0F, 0x01, 0x85,  // w: 5
                      0x85};
    Cell root;
    block::make_at(&root, 4);
    kivbin::decode(image.data(), image.size(), &root, false);
    ASSERT_EQ(block::ks_length(&root), 3);
    const Cell* c = block::buffer(&root)->cells();
    EXPECT_TRUE(c[0].is(Type::object));
    EXPECT_EQ(c[1].data1, c[0].data1);
    EXPECT_EQ(static_cast<std::int32_t>(c[1].data3), 0);
    Cell w = test::word_of("w");
    EXPECT_EQ(mold_all(*context::get(&w)), "5");
    // The boot writer's image of loaded source decodes to the same values.
    Cell records = test::read("print 1 [a b] \"x\"");
    for (bool packed : {false, true}) {
        Cell boot;
        kivbin::encode_boot(&records, packed, &boot);
        const Bytes b = test::bytes_of(boot);
        EXPECT_EQ(b[6], 1);
        Cell into;
        block::make_at(&into, 4);
        kivbin::decode(b.data(), b.size(), &into, false);
        EXPECT_EQ(mold_all(into), mold_all(records));
    }
}

// The image the build embeds: every source of the binding order, decoded
// to what lexing it gives.
TEST_F(Kivbin, BootImageHoldsEverySourceAsLoaded) {
    lexer::init();
    Cell records;
    kivbin::boot_records(&records);
    ASSERT_GT(block::ks_length(&records), 0);
    for (bool packed : {false, true}) {
        Cell image;
        kivbin::encode_boot(&records, packed, &image);
        const Bytes b = test::bytes_of(image);
        kivbin::boot_load(b.data(), b.size());
        for (std::int32_t i = 0; i < block::ks_length(&records); i += 2) {
            const Cell* r = block::buffer(&records)->cells() + i;
            const std::string path = string::to_utf8(r);
            Cell loaded;
            ASSERT_TRUE(kivbin::boot_source(path.c_str(), &loaded)) << path;
            EXPECT_EQ(mold_all(loaded), mold_all(r[1])) << path;
        }
    }
}

}  // namespace

}  // namespace kiv
