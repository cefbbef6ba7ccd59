#include <gtest/gtest.h>

#include <cstring>

#include "runtime/datatypes/binary.h"
#include "runtime/evaluator/natives-system.h"
#include "tests/unit/runtime-support.h"

namespace kiv::natives_system {

namespace {

using test::RuntimeTest;

// A stand-in codec whose output is always 40 bytes of 'x'; it answers
// too_small with the room it needs, or fails on demand.
int calls = 0;
bool refuse = false;
std::size_t claimed = 0;  // when set, the size it claims to have written

CodecResult fixed_output(Codec, const std::uint8_t*, std::size_t, std::uint8_t* out,
                         std::size_t* size) {
    ++calls;
    if (refuse) return CodecResult::failed;
    if (claimed) {
        *size = claimed;
        return CodecResult::ok;
    }
    if (*size < 40) {
        *size = 40;
        return CodecResult::too_small;
    }
    std::memset(out, 'x', 40);
    *size = 40;
    return CodecResult::ok;
}

// Asks for more room every time.
CodecResult always_too_small(Codec, const std::uint8_t*, std::size_t, std::uint8_t*,
                             std::size_t* size) {
    ++calls;
    *size += 10;
    return CodecResult::too_small;
}

class Codecs : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        calls = 0;
        refuse = false;
        claimed = 0;
    }
    ErrorId run(CodecFn fn, std::size_t room, Cell* out) {
        const std::uint8_t in[3] = {1, 2, 3};
        const Cell data = test::integer(7);
        try {
            run_codec(fn, Codec::zlib, in, 3, room, out, &data);
        } catch (const KivError& e) {
            return e.id;
        }
        return ErrorId::count_;
    }
};

TEST_F(Codecs, OneRetryAtTheRoomTheCodecAsksFor) {
    struct Case {
        std::size_t room;
        int calls;
    };
    for (const Case c : {Case{100, 1}, Case{40, 1}, Case{5, 2}}) {
        calls = 0;
        Cell out;
        EXPECT_EQ(run(fixed_output, c.room, &out), ErrorId::count_) << c.room;
        EXPECT_EQ(calls, c.calls) << c.room;
        ASSERT_TRUE(out.is(Type::binary));
        EXPECT_EQ(binary::ks_length(&out), 40);
        EXPECT_EQ(binary::ks_head(&out)[39], 'x');
    }
}

TEST_F(Codecs, FailuresAreInvalidData) {
    Cell out;
    EXPECT_EQ(run(always_too_small, 5, &out), ErrorId::script_invalid_data);
    EXPECT_EQ(calls, 2);
    refuse = true;
    EXPECT_EQ(run(fixed_output, 100, &out), ErrorId::script_invalid_data);
    refuse = false;
    // A codec that claims more output than the room it was given is not
    // believed.
    claimed = 1000;
    EXPECT_EQ(run(fixed_output, 100, &out), ErrorId::script_invalid_data);
}

}  // namespace

}  // namespace kiv::natives_system
