// The lexer's loaders of pairs, tuples, points, binaries, tags, emails and
// refs: each literal loads and molds back; malformed ones raise the invalid
// error of their datatype.
#include <gtest/gtest.h>

#include <string>

#include "tests/unit/scalar-support.h"

namespace kiv {

using namespace test;

namespace {

class ScalarLoaders : public ScalarTest {};

// A datatype's name, registered or not.
std::string type_name(Type t) {
    switch (t) {
#define KIV_TYPE_NAME(id, ident, name) \
    case Type::ident: return name;
        KIV_TYPE_LIST(KIV_TYPE_NAME)
#undef KIV_TYPE_NAME
    }
    return "?";
}

// The values a text loads to, molded and separated by spaces, or the
// datatype of the invalid error it raises.
std::string load(const std::string& text) {
    try {
        lexer::Scan scan(lexer::scalar_hooks(), reinterpret_cast<const std::uint8_t*>(text.data()),
                         text.size(), lexer::Mode::load, false);
        scan.run();
        std::string out;
        for (int k = 0; k < scan.value_count(); ++k) {
            Cell v = scan.values()[k];
            if (!out.empty()) out += ' ';
            out += v.is(Type::binary) || v.is(Type::pair) || v.is(Type::tuple) || v.is(Type::point2d) ||
                           v.is(Type::point3d)
                       ? mold(v)
                       : type_name(v.type()) + " " + string::to_utf8(&v);
        }
        return out;
    } catch (const lexer::SyntaxError& e) {
        return "invalid " + type_name(static_cast<Type>(e.datatype));
    }
}

TEST_F(ScalarLoaders, LiteralsLoadAndMoldBack) {
    struct Case {
        const char* text;
        const char* loaded;
    } cases[] = {
        {"1x2", "1x2"},
        {"-5X-7", "-5x-7"},
        {"1.2.3", "1.2.3"},
        {"255.128.0.64", "255.128.0.64"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"(1.5, 2)", "(1.5, 2)"},
        {"(1, -2, 3e2)", "(1, -2, 300)"},
        {"#{0A1b}", "#{0A1B}"},
        {"#{}", "#{}"},
        {"64#{QQ==}", "#{41}"},
        {"2#{01000001 00000010}", "#{4102}"},
        {"<a href>", "tag! a href"},
        {"<a \"b>c\">", "tag! a \"b>c\""},
        {"user@host.com", "email! user@host.com"},
        {"@r", "ref! r"},
        {"1x2 3.4.5 #{FF}", "1x2 3.4.5 #{FF}"},
    };
    for (const Case& c : cases) EXPECT_EQ(load(c.text), c.loaded) << c.text;
}

TEST_F(ScalarLoaders, MalformedLiteralsRaiseTheirInvalidError) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"1.5x2", "invalid pair!"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "invalid tuple!"},
        {"1.256.3", "invalid tuple!"},
        {"1.2..3", "invalid tuple!"},
        {"2#{0100000}", "invalid binary!"},
        {"#{ABC}", "invalid binary!"},
        {"8#{00}", "invalid binary!"},
        {"(1, )", "invalid point2D!"},
    };
    for (const Case& c : cases) EXPECT_EQ(load(c.text), c.error) << c.text;
}

TEST_F(ScalarLoaders, OneValueOfTheWantedType) {
    Cell out;
    Cell two = string_of("1x2 3x4");
    Cell other = string_of("1.2.3");
    Cell bad = string_of("1x");
    EXPECT_FALSE(lexer::load_one(&two, Type::pair, &out));
    EXPECT_FALSE(lexer::load_one(&other, Type::pair, &out));
    EXPECT_FALSE(lexer::load_one(&bad, Type::pair, &out));
    EXPECT_TRUE(lexer::load_one(&other, Type::tuple, &out));
    EXPECT_EQ(mold(out), "1.2.3");
}

}  // namespace
}  // namespace kiv
