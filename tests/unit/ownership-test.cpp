#include <gtest/gtest.h>

#include "runtime/hashtable.h"
#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::integer;

class Ownership : public test::RuntimeTest {
protected:
    // An object whose context has one field per name.
    static Cell object(std::initializer_list<const char*> fields) {
        const NodeId ctx = context::create(static_cast<std::int32_t>(fields.size()), false, true, 0,
                                           context::Kind::object);
        for (const char* f : fields) {
            const Cell w = test::word_of(f);
            context::add_word(ctx, &w);
        }
        const Cell value{static_cast<std::uint32_t>(Type::object), ctx, 0, 0};
        *context::owner(ctx) = value;
        return value;
    }
    static std::int32_t entries() { return hashtable::record(ownership::table())->size; }
};

struct Report {
    int calls = 0;
    std::uint32_t action = 0;
    std::uint32_t field = 0;
    std::int32_t index = 0;
    std::int32_t part = 0;
};
Report report;

void record_change(Cell*, Cell* word, Cell*, Cell* action, Cell*, std::int32_t index, std::int32_t part) {
    ++report.calls;
    report.action = action->data2;
    report.field = word->data2;
    report.index = index;
    report.part = part;
}

TEST_F(Ownership, BindingIsDeepAndStopsAtCycles) {
    const Cell owner = object({"data"});
    const Cell field = test::word_of("data");
    Cell inner = test::block_of({integer(1), test::string_of("text")});
    Cell outer = test::block_of({inner});
    *memory::append_slot(&outer) = outer;  // contains itself
    ownership::bind(&outer, &owner, &field);
    EXPECT_EQ(entries(), 3);  // outer, inner and the string
    EXPECT_NE(ownership::get_owner(inner.data2), nullptr);
    EXPECT_EQ(ownership::get_owner(inner.data2)->data1, owner.data1);
    EXPECT_EQ(cycles::depth(), 0u);

    // A second owner leaves the first entry in place.
    const Cell other = object({"x"});
    ownership::bind(&inner, &other, &field);
    EXPECT_EQ(ownership::get_owner(inner.data2)->data1, owner.data1);

    ownership::unbind(&outer);
    EXPECT_EQ(entries(), 0);
    EXPECT_FALSE(memory::buffer_of(inner.data2)->flags & ownership::owned_flag);
    ownership::bind(&inner, &other, &field);
    EXPECT_EQ(ownership::get_owner(inner.data2)->data1, other.data1);
}

TEST_F(Ownership, ObjectsBindTheirFields) {
    const Cell owner = object({"items", "me"});
    const Cell items = test::block_of({integer(1)});
    *context::slot(owner.data1, 0) = items;
    *context::slot(owner.data1, 1) = owner;  // the owner itself is skipped
    const Cell holder = object({"inner"});
    *context::slot(holder.data1, 0) = test::block_of({});
    const Cell field = test::word_of("ignored");
    ownership::bind(&holder, &owner, &field);
    ownership::bind_object(&owner, &owner, &field);
    EXPECT_EQ(entries(), 2);
    // Each field's series is reported under the field's own word.
    const Cell* cells = hashtable::get_key(ownership::table(), items.data2);
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(symbol::text(cells[2].data2), "items");
    EXPECT_TRUE(context::header(owner.data1)->header & context::flag::owner);
    // An object that owns its series is not bound into another.
    const Cell third = object({"y"});
    ownership::bind(&owner, &third, &field);
    EXPECT_EQ(entries(), 2);
}

TEST_F(Ownership, ChangesAreReportedOnlyWithAHandlerRecord) {
    report = Report{};
    ownership::set_deep_change_handler(record_change);
    Cell owner = object({"list"});
    const Cell field = test::word_of("list");
    Cell list = test::block_of({integer(1), integer(2)});
    Cell action;
    words::word(words::W::append, &action);
    EXPECT_FALSE(ownership::check(&list, &action, nullptr, 0, 1));  // not owned
    ownership::bind(&list, &owner, &field);
    EXPECT_FALSE(ownership::check(&list, &action, nullptr, 0, 1));  // no handler record
    hashtable::get_key(ownership::table(), list.data2)[1].data3 = owner.data1;
    EXPECT_TRUE(ownership::check(&list, &action, &list, 2, 1));
    ownership::set_deep_change_handler(nullptr);
    EXPECT_EQ(report.calls, 1);
    EXPECT_EQ(report.action, words::symbol(words::W::append));
    EXPECT_EQ(symbol::text(report.field), "list");
    EXPECT_EQ(report.index, 2);
    EXPECT_EQ(report.part, 1);
}

}  // namespace
}  // namespace kiv
