// tag!, email! and ref!: their text forms with the budget, the email paths,
// and each loaded from its literal and molded back.
#include <gtest/gtest.h>

#include "runtime/datatypes/email.h"
#include "tests/unit/scalar-support.h"

namespace kiv {

using namespace test;

namespace {

class TextValues : public ScalarTest {};

Cell path_get(Cell v, const char* field) {
    Cell element = word_of(field);
    Cell path = none_value();
    return *registry::find<Action::eval_path>(&v)(&v, &element, nullptr, &path, nullptr, nullptr, 0,
                                                  false, true, true, false);
}

TEST_F(TextValues, MoldsWithTheirDelimiters) {
    struct Case {
        Cell value;
        int part;
        const char* mold;
        int left;
    } cases[] = {
        {text_of("a href", Type::tag), 20, "<a href>", 12},
        {text_of("r", Type::ref), 20, "@r", 18},
        {text_of("u@h.com", Type::email), 20, "u@h.com", 13},
        {text_of("", Type::tag), 0, "<>", -2},
    };
    for (Case& c : cases) {
        Cell out;
        string::make_at(&out, 16);
        EXPECT_EQ(registry::find<Action::mold>(&c.value)(&c.value, &out, false, false, false, nullptr, c.part, 0),
                  c.left);
        EXPECT_EQ(string::to_utf8(&out), c.mold);
    }
    EXPECT_EQ(form(text_of("b", Type::tag)), "<b>");
    // With a /part limit the tag's text is cut to the budget.
    Cell out;
    string::make_at(&out, 16);
    Cell tag = text_of("abcdef", Type::tag);
    Cell limit = i(4);
    registry::find<Action::form>(&tag)(&tag, &out, &limit, 4);
    EXPECT_EQ(string::to_utf8(&out), "<abc>");
}

TEST_F(TextValues, EmailPathsSplitAtTheFirstAt) {
    struct Case {
        const char* text;
        std::uint32_t index;
        const char* user;
        const char* host;
    } cases[] = {
        {"u@h", 0, "u", "h"},
        {"john@example.com", 0, "john", "example.com"},
        {"a@b@c", 0, "a", "b@c"},
        {"nobody", 0, "nobody", ""},
        {"xu@h", 1, "u", "h"},
    };
    for (const Case& c : cases) {
        Cell e = text_of(c.text, Type::email);
        e.data1 = c.index;
        const Cell user = path_get(e, "user");
        const Cell host = path_get(e, "host");
        EXPECT_TRUE(user.is(Type::string));
        EXPECT_EQ(string::to_utf8(&user), c.user);
        EXPECT_EQ(string::to_utf8(&host), c.host);
    }
    EXPECT_EQ(error_of([] { path_get(text_of("u@h", Type::email), "name"); }), ErrorId::script_invalid_path);
}

Cell path_set(Cell v, Cell element, Cell value) {
    Cell path = none_value();
    registry::find<Action::eval_path>(&v)(&v, &element, &value, &path, nullptr, nullptr, 0, false,
                                          false, true, false);
    return v;
}

TEST_F(TextValues, EmailPathsReplaceInPlace) {
    struct Case {
        const char* text;
        const char* field;
        const char* value;
        const char* result;
    } cases[] = {
        {"u@h", "user", "bob", "bob@h"},
        {"u@h", "host", "example.com", "u@example.com"},
        {"john@a@b", "host", "c", "john@c"},
        {"nobody", "user", "x", "x"},
    };
    for (const Case& c : cases) {
        Cell e = text_of(c.text, Type::email);
        path_set(e, word_of(c.field), string_of(c.value));
        EXPECT_EQ(mold(e), c.result) << c.text;
    }
    // An integer element is a character position, as in a string.
    Cell e = text_of("u@h", Type::email);
    Cell element = i(2);
    Cell path = none_value();
    Cell* at = registry::find<Action::eval_path>(&e)(&e, &element, nullptr, &path, nullptr, nullptr, 0,
                                                     false, true, true, false);
    EXPECT_TRUE(at->is(Type::char_));
    EXPECT_EQ(at->data2, static_cast<std::uint32_t>('@'));
}

TEST_F(TextValues, ActionRowsFollowTheirTables) {
    EXPECT_TRUE(registry::supports(Type::tag, Action::append));
    EXPECT_TRUE(registry::supports(Type::email, Action::change));
    EXPECT_FALSE(registry::supports(Type::ref, Action::append));
    EXPECT_FALSE(registry::supports(Type::ref, Action::put));
    EXPECT_FALSE(registry::supports(Type::ref, Action::eval_path));
    EXPECT_FALSE(registry::supports(Type::tag, Action::sort));
    EXPECT_FALSE(registry::supports(Type::email, Action::trim));
    EXPECT_FALSE(registry::supports(Type::tag, Action::random));
    EXPECT_TRUE(registry::supports(Type::ref, Action::insert));
    EXPECT_EQ(form(text_of("r", Type::ref)), "r");
    EXPECT_EQ(form(text_of("u@h", Type::email)), "u@h");
}

TEST_F(TextValues, LoadedFromTextAndMoldedBack) {
    for (const char* text : {"<a href>", "<a b='>'>", "user@host.com", "@ref-1"}) {
        Cell s = string_of(text);
        Cell out;
        ASSERT_TRUE(lexer::load_one(&s, text[0] == '<' ? Type::tag : text[0] == '@' ? Type::ref : Type::email, &out))
            << text;
        EXPECT_EQ(mold(out), text);
    }
}

}  // namespace
}  // namespace kiv
