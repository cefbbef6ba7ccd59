// file! and url!: molds that load back, percent coding, building urls from
// blocks, path extension, and the routing of reads and writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include "runtime/datatypes/word.h"
#include "text-values.h"

namespace kiv {
namespace {

using test::block_of;
using test::text;
using test::utf8;

class FileUrl : public test::TextTest {};

std::string molded(Cell v, Cell* part = nullptr, int budget = 0, int* left = nullptr) {
    Cell out;
    string::make_at(&out, 0);
    const int r = registry::find<Action::mold>(&v)(&v, &out, false, false, false, part, budget, 0);
    if (left) *left = r;
    return utf8(out);
}

TEST_F(FileUrl, FileMold) {
    struct Case {
        const char* text;
        std::uint32_t unit;
        const char* molded;
    } cases[] = {
        {"abc", 1, "%abc"},
        {"dir/sub/f.txt", 1, "%dir/sub/f.txt"},
        {"", 1, "%\"\""},
        {"a b", 1, "%\"a b\""},
        {"é", 1, "%é"},
        {"\xF0\x9F\x98\x80.txt", 4, "%\xF0\x9F\x98\x80.txt"},
        {"a\"b", 1, "%\"a^\"b\""},
        {"a^b", 1, "%\"a^^b\""},
        {"a\tb", 2, "%\"a^-b\""},
        {"50%", 1, "%\"50%\""},
        {"x;y", 1, "%\"x;y\""},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(text(c.text, c.unit, Type::file)), c.molded) << c.text;
    Cell part = test::integer(2);
    int left = 0;
    EXPECT_EQ(molded(text("abcd", 1, Type::file), &part, 2, &left), "%ab");
    EXPECT_EQ(left, -1);
}

TEST_F(FileUrl, FilePaths) {
    Cell f = text("/tmp/dir x/é", 2, Type::file);
    EXPECT_STREQ(file::to_os_path(&f), "/tmp/dir x/é");
    f.data1 = 5;
    EXPECT_STREQ(file::to_os_path(&f), "dir x/é");

    Cell dir;
    file::get_current_dir(&dir);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string expected = cwd;
    if (expected.back() != '/') expected += '/';
    EXPECT_EQ(utf8(dir), expected);

    struct Case {
        const char* file;
        bool full;
        std::string expected;
    } cases[] = {
        {"dir/f", false, "dir/f"},
        {"dir/f", true, expected + "dir/f"},
        {"/abs/f", true, "/abs/f"},
        {"//tmp/x", false, "//tmp/x"},
    };
    for (const Case& c : cases) {
        Cell file = text(c.file, 1, Type::file);
        Cell out;
        string::make_at(&out, 0);
        file::convert_to_os_path(&file, &out, c.full);
        EXPECT_EQ(utf8(out), c.expected);
    }
}

TEST_F(FileUrl, UrlMoldAndPercentCoding) {
    struct Case {
        const char* text;
        const char* molded;
        const char* enhexed;
    } cases[] = {
        {"http://x.org/a?b=c#d", "http://x.org/a?b=c#d", "http%3A%2F%2Fx.org%2Fa%3Fb%3Dc%23d"},
        {"a b", "a%20b", "a%20b"},
        {"é", "%C3%A9", "%C3%A9"},
        {"a/b~_.-", "a/b~_.-", "a%2Fb~_.-"},
        {"{x}", "%7Bx%7D", "%7Bx%7D"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(molded(text(c.text, 1, Type::url)), c.molded);
        Cell t = text(c.text);
        Cell out;
        string::make_at(&out, 0);
        url::encode_text(&t, &out);
        EXPECT_EQ(utf8(out), c.enhexed);
    }
    struct Decode {
        const char* text;
        const char* decoded;
    } decodes[] = {
        {"a%2Fb", "a/b"}, {"%C3%A9", "é"}, {"%c3%a9x", "éx"}, {"50%", "50%"},
        {"%zz%4", "%zz%4"}, {"%41%42", "AB"}, {"%E9!", "é!"}, {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
        {"%C3%28", "Ã("}, {"é%20", "é "},
    };
    for (const Decode& d : decodes) {
        Cell t = text(d.text);
        Cell out;
        string::make_at(&out, 0);
        url::decode_text(&t, &out);
        EXPECT_EQ(utf8(out), d.decoded) << d.text;
    }
    int count;
    EXPECT_STREQ(url::escape_byte(url::Table::url, ' ', &count), "%20");
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(url::escape_byte(url::Table::unreserved, '~', &count), "~");
    EXPECT_EQ(count, 1);
}

TEST_F(FileUrl, UrlFromBlocksAndText) {
    const ActionFns& row = registry::row(Type::url);
    Cell out;
    Cell spec = block_of({text("http"), text("host"), text("a"), text("b")});
    row.make(&out, &spec, Type::url);
    EXPECT_TRUE(out.is(Type::url));
    EXPECT_EQ(utf8(out), "http://host/a/b");
    spec = block_of({text("ftp")});
    row.to(&out, &spec, Type::url);
    EXPECT_EQ(utf8(out), "ftp://");
    spec = block_of({});
    EXPECT_EQ(test::error_of([&] { row.make(&out, &spec, Type::url); }), ErrorId::script_bad_to_arg);
    // Other specs and the type file! go through string!.
    spec = text("x y");
    registry::row(Type::file).make(&out, &spec, Type::file);
    EXPECT_TRUE(out.is(Type::file));
    EXPECT_EQ(utf8(out), "x y");
    spec = block_of({text("a"), text("b")});
    registry::row(Type::file).to(&out, &spec, Type::file);
    EXPECT_EQ(utf8(out), "ab");
}

TEST_F(FileUrl, Paths) {
    struct Case {
        const char* parent;
        Type type;
        const char* element;
        const char* expected;
    } cases[] = {
        {"http://a/", Type::url, "b", "http://a/b"},
        {"http://a", Type::url, "b", "http://a/b"},
        {"http://a/", Type::url, "/b", "http://a/b"},
        {"http://a", Type::url, "/b", "http://a/b"},
        {"dir", Type::file, "f.txt", "dir/f.txt"},
    };
    for (const Case& c : cases) {
        Cell parent = text(c.parent, 1, c.type);
        Cell original = parent;
        Cell element = text(c.element);
        Cell path = none::value;
        Cell* r = registry::row(c.type).eval_path(&parent, &element, nullptr, &path, nullptr,
                                                   nullptr, 0, false, true, true, false);
        EXPECT_EQ(r->type(), c.type);
        EXPECT_EQ(utf8(*r), c.expected);
        EXPECT_EQ(utf8(original), c.parent) << "the parent keeps its text";
    }
    Cell parent = text("http://a", 1, Type::url);
    Cell element = text("b");
    Cell path = none::value;
    EXPECT_EQ(test::error_of([&] {
                  registry::row(Type::url).eval_path(&parent, &element, &element, &path, nullptr,
                                                     nullptr, 0, false, false, true, false);
              }),
              ErrorId::script_bad_path_set);
}

struct Sent {
    int calls = 0;
    bool headers = false;
    bool has_data = false;
    Type data_type = Type::none;
    bool answer = true;
};
Sent sent;

void fake_http(Cell* result, Cell*, Cell*, Cell* headers, Cell* data, bool, bool, bool) {
    ++sent.calls;
    sent.headers = headers != nullptr;
    sent.has_data = data != nullptr;
    sent.data_type = data ? data->type() : Type::none;
    if (sent.answer) *result = text("ok");
}

TEST_F(FileUrl, UrlReadAndWrite) {
    const ActionFns& row = registry::row(Type::url);
    Cell u = text("https://x.org", 1, Type::url);
    Cell part = test::integer(1);
    EXPECT_EQ(test::error_of([&] { row.read(&u, &part, nullptr, false, false, false, nullptr); }),
              ErrorId::internal_not_done);
    // With no HTTP client no request is made, which is a connection failure.
    const auto saved = url::http_request;
    url::http_request = nullptr;
    EXPECT_EQ(test::error_of([&] { row.read(&u, nullptr, nullptr, false, false, false, nullptr); }),
              ErrorId::access_no_connect);

    url::http_request = fake_http;
    sent = Sent{};
    Cell* r = row.read(&u, nullptr, nullptr, false, false, false, nullptr);
    EXPECT_EQ(utf8(*r), "ok");
    EXPECT_FALSE(sent.has_data);

    Cell method;
    word::load("put", &method);
    struct Write {
        Cell data;
        bool headers;
        bool has_data;
        Type data_type;
    } writes[] = {
        {text("body"), false, true, Type::string},
        {block_of({}), false, true, Type::block},
        {block_of({method}), false, false, Type::none},
        {block_of({method, block_of({}), text("x")}), true, true, Type::string},
    };
    for (Write& w : writes) {
        u = text("http://x.org", 1, Type::url);
        sent = Sent{};
        row.write(&u, &w.data, false, false, false, false, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(sent.calls, 1);
        EXPECT_EQ(sent.headers, w.headers);
        EXPECT_EQ(sent.has_data, w.has_data);
        EXPECT_EQ(sent.data_type, w.data_type);
    }
    Cell bad[] = {block_of({text("get")}), block_of({method, text("h")}), block_of({method, block_of({}), logic::true_value}),
                  logic::true_value};
    for (Cell& data : bad) {
        u = text("http://x.org", 1, Type::url);
        EXPECT_EQ(test::error_of([&] {
                      row.write(&u, &data, false, false, false, false, nullptr, nullptr, nullptr, nullptr);
                  }),
                  ErrorId::script_invalid_arg);
    }
    sent.answer = false;
    Cell body = text("x");
    EXPECT_EQ(test::error_of([&] {
                  row.write(&u, &body, false, false, false, false, nullptr, nullptr, nullptr, nullptr);
              }),
              ErrorId::access_no_connect);
    url::http_request = saved;

    // Other schemes go through a port made from the url.
    Cell ftp = text("ftp://x", 1, Type::url);
    EXPECT_EQ(test::error_of([&] { row.read(&ftp, nullptr, nullptr, false, false, false, nullptr); }),
              ErrorId::script_invalid_arg);
}

TEST_F(FileUrl, FileActionsNeedTheServices) {
    const ActionFns& row = registry::row(Type::file);
    Cell f = text("x.txt", 1, Type::file);
    Cell as = none::value;
    EXPECT_EQ(test::error_of([&] { row.read(&f, nullptr, nullptr, false, false, false, &as); }),
              ErrorId::internal_not_done);
    EXPECT_EQ(test::error_of([&] { row.delete_(&f); }), ErrorId::internal_not_done);
    const file::Services saved = file::services;
    file::services.delete_ = [](Cell* file) { return utf8(*file) == "x.txt"; };
    file::services.read = [](Cell* file, Cell*, Cell*, bool, bool, Cell* result) {
        *result = text(file::to_os_path(file));
    };
    EXPECT_TRUE(logic::get(row.delete_(&f)));
    f = text("x.txt", 1, Type::file);
    EXPECT_EQ(utf8(*row.read(&f, nullptr, nullptr, false, false, false, nullptr)), "x.txt");
    file::services = saved;
}

}  // namespace
}  // namespace kiv
