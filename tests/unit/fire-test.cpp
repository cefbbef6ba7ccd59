#include <gtest/gtest.h>

#include "runtime/fire.h"

namespace kiv {

TEST(Fire, CodesFollowCatalogueOrder) {
    struct Case { ErrorId id; int code; };
    const Case cases[] = {
        {ErrorId::throw__break_, 0},          {ErrorId::note_no_load, 100},
        {ErrorId::script_no_value, 300},      {ErrorId::script_expect_arg, 305},
        {ErrorId::math_zero_divide, 400},     {ErrorId::access_cannot_open, 500},
        {ErrorId::user_message, 800},         {ErrorId::internal_invalid_error, 910},
        {ErrorId::script_kb_invalid_record, 393},
    };
    for (const Case& c : cases) EXPECT_EQ(error_code(c.id), c.code) << error_info(c.id).name;
}

TEST(Fire, RaisesWithItsArguments) {
    Cell a{static_cast<std::uint32_t>(Type::integer), 7, 0, 0};
    try {
        fire(ErrorId::script_out_of_range, &a);
        FAIL();
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::script_out_of_range);
        ASSERT_EQ(e.arg_count, 1);
        EXPECT_EQ(e.args[0].data1, 7u);
    }
}

}  // namespace kiv
