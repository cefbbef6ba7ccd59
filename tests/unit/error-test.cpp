#include <gtest/gtest.h>

#include <string>

#include "runtime/console-output.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/output-hooks.h"
#include "tests/unit/error-support.h"

namespace kiv {

using test::error_in_try;
using test::error_text;
using test::string_of;
using test::word_of;

namespace {

class Errors : public test::ErrorRuntimeTest {};

Cell make_error(Cell spec) {
    Cell proto;
    registry::make_datatype(&proto, Type::error);
    return *registry::row(Type::error).make(&proto, &spec, Type::error);
}

Cell created(ErrorId id, const Cell* a1 = nullptr, const Cell* a2 = nullptr, const Cell* a3 = nullptr) {
    const Cell e = *error::create(id, a1, a2, a3);
    stack::drop(1);
    return e;
}

std::int32_t code_of(const Cell& e) { return integer::get(error::field(&e, error::Field::code)); }

TEST_F(Errors, CatalogueHoldsTheCategoriesInOrderWithTheirCodesAndTitles) {
    const char* names[] = {"throw", "note", "syntax", "script", "math",
                           "access", "reserved1", "reserved2", "user", "internal"};
    const char* titles[] = {"Throw Error", "note", "Syntax Error", "Script Error", "Math Error",
                            "Access Error", "Reserved1 Error", "Reserved2 Error", "User Error",
                            "Internal Error"};
    const std::int32_t id_counts[] = {5, 1, 7, 94, 3, 15, 0, 0, 1, 14};
    const NodeId catalog = error::catalog()->data1;
    ASSERT_EQ(context::word_count(catalog), 10);
    for (std::int32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(symbol::text(context::get_word_at(catalog, i)->data2), names[i]);
        const NodeId category = error::category(i)->data1;
        EXPECT_EQ(integer::get(object::field_value(category, 0)), i * 100);
        EXPECT_EQ(test::text_of(object::field_value(category, 1)), titles[i]);
        EXPECT_EQ(context::word_count(category), 2 + id_counts[i]) << names[i];
    }
}

TEST_F(Errors, EveryIdFormsWithItsCategorysTitle) {
    // Each template reads back as a catalogue value that forms with three
    // arguments in place.
    const Cell a = word_of("a"), b = integer::make_cell(2), c = word_of("c");
    for (int i = 0; i < static_cast<int>(ErrorId::count_); ++i) {
        const auto id = static_cast<ErrorId>(i);
        const Cell e = created(id, &a, &b, &c);
        EXPECT_EQ(error::id_of(&e), id);
        EXPECT_EQ(code_of(e), error_code(id));
        const std::string text = error_text(e);
        const Cell* title = object::field_value(
            error::category(static_cast<std::int32_t>(error_info(id).category))->data1, 1);
        Cell title_copy = *title;
        EXPECT_EQ(text.rfind("*** " + test::text_of(&title_copy) + ": ", 0), 0u) << text;
        EXPECT_NE(text.find("\n*** Where: ???\n*** Near : none"), std::string::npos) << text;
    }
}

TEST_F(Errors, MakeFromCodesBlocksAndStrings) {
    struct Case {
        const char* what;
        Cell spec;
        ErrorId raised;  // count_: made
        int code;
    };
    const Case cases[] = {
        {"300", integer::make_cell(300), ErrorId::count_, 300},
        {"305", integer::make_cell(305), ErrorId::count_, 305},
        {"0", integer::make_cell(0), ErrorId::count_, 0},
        {"910", integer::make_cell(910), ErrorId::count_, 910},
        {"650: a category without ids", integer::make_cell(650), ErrorId::script_out_of_range, 0},
        {"1000", integer::make_cell(1000), ErrorId::script_out_of_range, 0},
        {"-1", integer::make_cell(-1), ErrorId::script_out_of_range, 0},
        {"105: past the ids", integer::make_cell(105), ErrorId::script_out_of_range, 0},
        {"[math zero-divide]", test::block_of_words({"math", "zero-divide"}), ErrorId::count_, 400},
        {"[MATH Zero-Divide]", test::block_of_words({"MATH", "Zero-Divide"}), ErrorId::count_, 400},
        {"[bogus x]", test::block_of_words({"bogus", "x"}), ErrorId::script_invalid_spec_field, 0},
        {"[math]", test::block_of_words({"math"}), ErrorId::script_invalid_spec_field, 0},
        {"[math bogus]", test::block_of_words({"math", "bogus"}), ErrorId::script_invalid_spec_field, 0},
        {"[math code]", test::block_of_words({"math", "code"}), ErrorId::script_invalid_spec_field, 0},
        {"[math 5]", test::block_of({word_of("math"), integer::make_cell(5)}),
         ErrorId::script_invalid_arg, 0},
        {"[5]", test::block_of({integer::make_cell(5)}), ErrorId::internal_invalid_error, 0},
        {"\"boom\"", string_of("boom"), ErrorId::count_, 800},
        {"a datatype", test::datatype_of(Type::integer), ErrorId::script_bad_make_arg, 0},
    };
    for (const Case& c : cases) {
        Cell made;
        const ErrorId raised = error_in_try([&] { made = make_error(c.spec); });
        EXPECT_EQ(raised, c.raised) << c.what;
        if (raised == ErrorId::count_) {
            EXPECT_TRUE(made.is(Type::error)) << c.what;
            EXPECT_EQ(code_of(made), c.code) << c.what;
            EXPECT_EQ(object::class_id(&made), 1) << c.what;
        }
    }
}

TEST_F(Errors, MadeErrorsNameTheirCatalogueEntry) {
    const Cell e = make_error(integer::make_cell(305));
    EXPECT_EQ(symbol::text(error::get_type(&e)), "script");
    EXPECT_EQ(symbol::text(error::get_id(&e)), "expect-arg");
    EXPECT_EQ(error::id_of(&e), ErrorId::script_expect_arg);
    const Cell message = make_error(string_of("boom"));
    EXPECT_EQ(error::id_of(&message), ErrorId::user_message);
    EXPECT_EQ(test::text_of(error::field(&message, error::Field::arg1)), "boom");
}

TEST_F(Errors, PrintedFormsOfSeveralCategories) {
    const Cell foo = word_of("foo");
    const Cell near_foo = test::block_of({word_of("foo"), word_of("+"), integer::make_cell(1)});
    const Cell append = word_of("append");
    const Cell integer_type = test::datatype_of(Type::integer);
    const Cell series = word_of("series");
    const Cell abc = word_of("abc", Type::lit_word);
    const Cell def = word_of("def", Type::lit_word);
    const Cell word_type = test::datatype_of(Type::word);
    const Cell old_word = word_of("old"), new_word = word_of("new");
    const Cell file_name = string_of("data.txt");
    const Cell long_near = test::block_of_words({"alpha", "beta", "gamma", "delta", "epsilon",
                                                 "zeta", "eta", "theta"});
    struct Case {
        const char* what;
        Cell error;
        const char* expected;
    };
    state.near = near_foo;
    const Cell no_value = created(ErrorId::script_no_value, &foo);
    state.near = long_near;
    const Cell long_one = created(ErrorId::math_overflow);
    none::make_at(&state.near);
    Cell expect_arg = created(ErrorId::script_expect_arg, &append, &integer_type, &series);
    error::set_where(&expect_arg, &append);
    Cell where_text = created(ErrorId::math_positive);
    const Cell where_string = string_of("in a string");
    error::set_where(&where_text, &where_string);
    const Case cases[] = {
        {"no-value, near a block", no_value,
         "*** Script Error: foo has no value\n*** Where: ???\n*** Near : foo + 1"},
        {"math, made from a block", make_error(test::block_of_words({"math", "zero-divide"})),
         "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none"},
        {"user message, from a string", make_error(string_of("boom")),
         "*** User Error: boom\n*** Where: ???\n*** Near : none"},
        {"three arguments and a where", expect_arg,
         "*** Script Error: append does not allow integer! for its series argument\n"
         "*** Where: append\n*** Near : none"},
        {"syntax arguments are formed", created(ErrorId::syntax_invalid_, &word_type, &abc, &def),
         "*** Syntax Error: word invalid abc at def\n*** Where: ???\n*** Near : none"},
        {"other arguments are molded", created(ErrorId::script_invalid_arg, &abc),
         "*** Script Error: invalid argument: 'abc\n*** Where: ???\n*** Near : none"},
        {"a string argument is molded", created(ErrorId::access_cannot_open, &file_name),
         "*** Access Error: cannot open: \"data.txt\"\n*** Where: ???\n*** Near : none"},
        {"a string argument of a syntax error is formed",
         created(ErrorId::syntax_missing_, &word_type, &file_name, &def),
         "*** Syntax Error: word missing data.txt at def\n*** Where: ???\n*** Near : none"},
        {"a trailing blank in a template string", created(ErrorId::note_no_load, &foo),
         "*** note: cannot load:  foo\n*** Where: ???\n*** Near : none"},
        {"plain words in a template", created(ErrorId::internal_deprecated, &old_word, &new_word),
         "*** Internal Error: old is DEPRECATED, please use new instead\n*** Where: ???\n"
         "*** Near : none"},
        {"a block of one string", created(ErrorId::access_invalid_port),
         "*** Access Error: invalid port object (invalid field values)\n*** Where: ???\n"
         "*** Near : none"},
        {"near cut at 40", long_one,
         "*** Math Error: math or number overflow\n*** Where: ???\n"
         "*** Near : alpha beta gamma delta epsilon zeta eta "},
        {"where as a string", where_text,
         "*** Math Error: positive number required\n*** Where: in a string\n*** Near : none"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_text(c.error), c.expected) << c.what;
}

TEST_F(Errors, ArgumentsAreCutAt80) {
    std::string spelling(100, 'x');
    const Cell long_word = word_of(spelling.c_str());
    const std::string text = error_text(created(ErrorId::script_invalid_arg, &long_word));
    EXPECT_EQ(text, "*** Script Error: invalid argument: " + std::string(80, 'x') +
                        "\n*** Where: ???\n*** Near : none");
}

TEST_F(Errors, AnErrorNamingNoCatalogueEntryPrintsAsInvalidError) {
    const Cell bogus = word_of("bogus");
    Cell wrong_type = make_error(integer::make_cell(300));
    *error::field(&wrong_type, error::Field::type) = bogus;
    EXPECT_EQ(error_text(wrong_type),
              "*** Internal Error: invalid error object field value: bogus\n*** Where: ???\n"
              "*** Near : none");
    EXPECT_EQ(error::id_of(&wrong_type), ErrorId::internal_invalid_error);

    Cell wrong_id = make_error(integer::make_cell(300));
    *error::field(&wrong_id, error::Field::id) = bogus;
    EXPECT_EQ(error_text(wrong_id),
              "*** Internal Error: invalid error object field value: bogus\n*** Where: ???\n"
              "*** Near : none");
}

TEST_F(Errors, StackAndFilesLines) {
    // Frames as natives open them; the error is raised in the innermost.
    test::open_native("outer");
    Cell caught;
    const ErrorId id = error_in_try(
        [] {
            test::open_native("inner");
            fire(ErrorId::math_zero_divide);
        },
        &caught);
    ASSERT_EQ(id, ErrorId::math_zero_divide);
    const std::string head = "*** Math Error: attempt to divide by zero\n*** Where: inner\n*** Near : none";

    // While it travels the error holds a call-stack position. At level 1
    // only frames whose word holds a function are listed; the level is also
    // how many of the innermost frames are shown.
    EXPECT_TRUE(error::field(&caught, error::Field::stack)->is(Type::integer));
    EXPECT_EQ(error_text(caught), head + "\n*** Stack: ");
    *error::stack_trace() = integer::make_cell(2);
    EXPECT_EQ(error_text(caught), head + "\n*** Stack: try inner ");
    *error::stack_trace() = integer::make_cell(3);
    EXPECT_EQ(error_text(caught), head + "\n*** Stack: outer try inner ");

    // A try that captures turns it into a block of the frames' words, as
    // deep as the level.
    Cell files = test::block_of_words({"a.kiv", "b.kiv"});
    *error::source_files() = files;
    *error::stack_trace() = integer::make_cell(2);
    error::capture_stack(&caught);
    EXPECT_EQ(error_text(caught), head + "\n*** Stack: try inner\n*** Files: a.kiv b.kiv");

    *error::stack_trace() = integer::make_cell(0);
    EXPECT_EQ(error_text(caught), head + "\n*** Files: a.kiv b.kiv");
}

TEST_F(Errors, MoldShowsTheFields) {
    Cell e = make_error(integer::make_cell(400));
    EXPECT_EQ(test::mold(e, false, false).substr(0, 13), "make error! [");
    Cell out;
    string::make_at(&out, 64);
    registry::find<Action::mold>(&e)(&e, &out, false, false, true, nullptr, 0, 0);
    EXPECT_EQ(test::text_of(&out),
              "make error! [code: 400 type: 'math id: 'zero-divide arg1: none arg2: none arg3: none "
              "near: none where: none stack: none files: none]");
    string::make_at(&out, 64);
    registry::find<Action::mold>(&e)(&e, &out, false, false, false, nullptr, 0, 1);
    const std::string text = test::text_of(&out);
    EXPECT_EQ(text.substr(0, 31), "make error! [\n        code: 400");
    EXPECT_EQ(text.substr(text.size() - 26), "\n        files: none\n    ]");

    // An error that holds itself is met once.
    *error::field(&e, error::Field::arg1) = e;
    string::make_at(&out, 64);
    registry::find<Action::mold>(&e)(&e, &out, false, false, true, nullptr, 0, 0);
    EXPECT_EQ(test::text_of(&out).substr(0, 61),
              "make error! [code: 400 type: 'math id: 'zero-divide arg1: ...");
}

TEST_F(Errors, CompareAsObjects) {
    const Cell a = make_error(integer::make_cell(400));
    const Cell b = make_error(integer::make_cell(400));
    const Cell c = make_error(integer::make_cell(401));
    Cell object;
    object::make_at(&object, 4);
    EXPECT_EQ(test::compare(a, b, CompareOp::equal), 0);
    EXPECT_NE(test::compare(a, c, CompareOp::equal), 0);
    EXPECT_NE(test::compare(a, b, CompareOp::same), 0);
    EXPECT_EQ(test::compare(a, a, CompareOp::same), 0);
    EXPECT_EQ(test::compare(a, object, CompareOp::equal), not_comparable);
}

TEST_F(Errors, PathsReadFieldsButNeverTheStack) {
    const Cell foo = word_of("foo");
    Cell e = created(ErrorId::script_no_value, &foo);
    Cell path = test::block_of({});
    path.set_type(Type::path);
    auto step = [&](const char* name, Cell* value) {
        Cell element = word_of(name);
        return registry::row(Type::error).eval_path(&e, &element, value, &path, nullptr, nullptr, 1,
                                                    false, false, true, false);
    };
    EXPECT_EQ(step("arg1", nullptr)->data2, foo.data2);
    Cell two = integer::make_cell(2);
    step("arg2", &two);
    EXPECT_EQ(integer::get(error::field(&e, error::Field::arg2)), 2);
    EXPECT_EQ(error_in_try([&] { step("stack", nullptr); }), ErrorId::script_invalid_path_set);
    EXPECT_EQ(error_in_try([&] { step("stack", &two); }), ErrorId::script_invalid_path_set);
    EXPECT_EQ(error_in_try([&] { step("nothing", nullptr); }), ErrorId::script_invalid_path);
}

TEST_F(Errors, ReportPrintsWithoutRaising) {
    struct Capture {
        std::string out;
        static void write(void* c, const std::uint8_t* bytes, std::size_t n) {
            static_cast<Capture*>(c)->out.append(reinterpret_cast<const char*>(bytes), n);
        }
    } capture;
    console_output::init_hooks();
    console_output::set_sink({Capture::write, nullptr, nullptr, &capture, false});
    test::open_native("caller");
    Cell* top = state.stack_top;
    const Cell foo = word_of("foo");
    error::report(ErrorId::script_no_value, &foo, nullptr, nullptr);
    console_output::init();
    EXPECT_EQ(capture.out, "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none\n");
    EXPECT_EQ(stack::frame_count(), 1);
    EXPECT_EQ(state.stack_top, top + 1);
}

}  // namespace
}  // namespace kiv
