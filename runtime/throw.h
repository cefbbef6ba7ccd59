// Throw codes: the integer codes of non-local exits. A catch region of level
// L takes every code c <= L (unsigned) and throws any other code on.
//
// Language errors travel as C++ exceptions (KivError, runtime/fire.h); break,
// continue, return, exit and throw travel as the pending code in the runtime
// record, checked after each evaluation. The rare native codes (page
// failures) travel as a NativeThrow exception; the outermost region takes
// whatever reaches it.
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

}  // namespace kiv::throw_code

namespace kiv {

struct NativeThrow {
    std::uint32_t code;
};

}  // namespace kiv
