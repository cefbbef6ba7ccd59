// Throw codes: the integer codes of non-local exits. A catch region of level
// L takes every code c <= L (unsigned) and throws any other code on.
//
// Language errors travel as C++ exceptions (KivError, runtime/fire.h); break,
// continue, return, exit and throw travel as the pending code in the runtime
// record (state.thrown_code): the native that starts one sets the code and
// answers Status::thrown, and every evaluation entry point passes that status
// up at once until the frame that takes the code clears it. The rare native
// codes (page failures) travel as a NativeThrow exception; the outermost
// region takes whatever reaches it.
#pragma once

#include <cstdint>

namespace kiv::throw_code {

constexpr std::uint32_t error = 0x7FFFFFFF;
constexpr std::uint32_t break_ = 0x7FFFFFFE;
constexpr std::uint32_t continue_ = 0x7FFFFFFD;
constexpr std::uint32_t return_ = 0x7FFFFFFC;
constexpr std::uint32_t exit = 0x7FFFFFFB;
constexpr std::uint32_t throw_ = 0x7FFFFFFA;
constexpr std::uint32_t power_overflow = 0x7FFFFFF9;   // local to integer!
constexpr std::uint32_t page_failure = 0x7FFFFFF8;     // level of the page-failure catcher
constexpr std::uint32_t page_allocation_failed = 0x7FFFFFF7;
constexpr std::uint32_t page_release_failed = 0x7FFFFFF6;
constexpr std::uint32_t quit = 0x0BADCAFE;
constexpr std::uint32_t lexer_abort = 10;              // local to the lexer

// The catch levels in use: a region of a level takes the codes at or below it.
namespace level {
constexpr std::uint32_t outermost = 0xFFFFFFFF;
constexpr std::uint32_t try_ = error;
constexpr std::uint32_t loop = break_;
constexpr std::uint32_t catch_ = throw_;
}  // namespace level

constexpr bool admits(std::uint32_t region_level, std::uint32_t code) { return code <= region_level; }

}  // namespace kiv::throw_code

namespace kiv {

struct NativeThrow {
    std::uint32_t code;
};

// What an evaluation entry point answers: ok, or thrown while a code is
// pending in the runtime record. The type is [[nodiscard]], so a caller that
// forgets to look is a compile error.
enum class [[nodiscard]] Status : bool { ok = false, thrown = true };

}  // namespace kiv

// Returns Status::thrown from the enclosing function when `expr` answered it,
// leaving the pending code for a frame further up. The stacks are left as the
// thrower set them: code that passes a throw on closes nothing.
#define KIV_PROPAGATE(expr)                                                   \
    do {                                                                      \
        if ((expr) != ::kiv::Status::ok) [[unlikely]]                         \
            return ::kiv::Status::thrown;                                     \
    } while (0)
