// vector!: the element reader and writer at every element size, the byte
// order of stored elements, and the size checks of making and inserting.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/datatypes/vector.h"
#include "tests/unit/scalar-support.h"

namespace kiv {

using namespace test;

namespace {

class Vectors : public ScalarTest {
protected:
    void SetUp() override {
        ScalarTest::SetUp();
        vector::init();
    }
};

// A vector of the element type and size holding the values.
Cell vector_of(Type element, std::uint32_t size, std::vector<Cell> values) {
    Cell v;
    vector::make_at(&v, static_cast<std::int64_t>(values.size()), element, size);
    memory::SeriesBuffer* b = series::buffer(&v);
    for (std::size_t k = 0; k < values.size(); ++k) vector::set_value(b->head() + k * size, &values[k], size);
    b->tail += static_cast<std::uint32_t>(values.size()) * size;
    return v;
}

TEST_F(Vectors, StoresLowBytesAndReadsBackByElementType) {
    struct Case {
        Type element;
        std::uint32_t size;
        Cell stored;
        Cell read;
    } cases[] = {
        {Type::integer, 1, i(300), i(44)},
        {Type::integer, 1, i(200), i(-56)},
        {Type::integer, 1, i(-128), i(-128)},
        {Type::integer, 2, i(65535), i(-1)},
        {Type::integer, 2, i(-32768), i(-32768)},
        {Type::integer, 4, i(INT32_MIN), i(INT32_MIN)},
        // char! elements are code points: never sign-extended.
        {Type::char_, 1, ch(0xE9), ch(0xE9)},
        {Type::char_, 1, ch(0x1F600), ch(0x00)},
        {Type::char_, 2, ch(0xFFFF), ch(0xFFFF)},
        {Type::char_, 4, ch(0x10FFFF), ch(0x10FFFF)},
        {Type::float_, 8, f(0.1), f(0.1)},
        {Type::float_, 4, f(0.1), f(static_cast<float>(0.1))},
        {Type::float_, 4, f(1e300), f(INFINITY)},
        {Type::percent, 8, pc(0.5), pc(0.5)},
    };
    for (const Case& c : cases) {
        const Cell v = vector_of(c.element, c.size, {c.stored});
        Cell out;
        vector::push_value(series::buffer(&v)->head(), c.size, c.element, &out);
        EXPECT_EQ(out.type(), c.read.type()) << mold(c.stored) << " " << c.size;
        EXPECT_EQ(out.data2, c.read.data2) << mold(c.stored) << " " << c.size;
        EXPECT_EQ(out.data3, c.read.data3) << mold(c.stored) << " " << c.size;
    }
}

TEST_F(Vectors, ElementsAreLittleEndian) {
    const Cell v16 = vector_of(Type::integer, 2, {i(0x0102), i(-2)});
    const Cell v32 = vector_of(Type::integer, 4, {i(0x01020304)});
    const Cell d = vector_of(Type::float_, 8, {f(1.0)});
    const std::uint8_t* p16 = series::buffer(&v16)->head();
    const std::uint8_t* p32 = series::buffer(&v32)->head();
    const std::uint8_t* pd = series::buffer(&d)->head();
    EXPECT_EQ(std::vector<int>(p16, p16 + 4), (std::vector<int>{2, 1, 0xFE, 0xFF}));
    EXPECT_EQ(std::vector<int>(p32, p32 + 4), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(std::vector<int>(pd, pd + 8), (std::vector<int>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
}

TEST_F(Vectors, RefusesValuesItCannotHold) {
    std::uint8_t room[8] = {};
    const Cell values[] = {string_of("1"), xy(1, 2), none_value()};
    for (const Cell& value : values) {
        EXPECT_EQ(error_of([&] { vector::set_value(room, &value, 4); }), ErrorId::script_invalid_type)
            << mold(value);
    }
}

TEST_F(Vectors, SizesPastTheHeapLimitFireNoMemory) {
    Cell v;
    EXPECT_EQ(error_of([&] { vector::make_at(&v, 0x20000000, Type::float_, 8); }), ErrorId::internal_no_memory);
    EXPECT_EQ(error_of([&] { vector::make_at(&v, 0x7FFFFFFF, Type::integer, 4); }), ErrorId::internal_no_memory);
    // /dup that multiplies past the limit refuses before the vector changes.
    Cell series = vector_of(Type::integer, 4, {i(1), i(2)});
    Cell value = block_of({i(1), i(2)});
    EXPECT_EQ(error_of([&] {
                  registry::find<Action::insert>(&series)(&series, &value, -1, false, 0x10000000, true);
              }),
              ErrorId::internal_no_memory);
    EXPECT_EQ(series::ks_length(&series), 2);
}

}  // namespace
}  // namespace kiv
