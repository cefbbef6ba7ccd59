// Raising language errors. Every unit raises through `fire`, by catalogue id
// with up to three argument values; it never returns. fire makes the error!
// value on the argument stack and hands it to the call stack's raising,
// which unrolls to the nearest try frame and throws KivError to the C++
// catch region that guards it, or prints the error and ends the process
// when no try frame is open.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/error-list.h"

namespace kiv {

enum class ErrorCategory : std::uint8_t {
#define KIV_ERROR_CATEGORY_ENUM(index, ident, name, title) ident = index,
    KIV_ERROR_CATEGORIES(KIV_ERROR_CATEGORY_ENUM)
#undef KIV_ERROR_CATEGORY_ENUM
};
constexpr int error_category_count = 10;

// Ids are named <category>_<id>: ErrorId::script_expect_arg.
enum class ErrorId : std::uint16_t {
#define KIV_ERROR_ID_ENUM(cat, ident, name, message) cat##_##ident,
    KIV_ERROR_IDS(KIV_ERROR_ID_ENUM)
#undef KIV_ERROR_ID_ENUM
    count_
};

struct ErrorIdInfo {
    ErrorCategory category;
    std::uint8_t index;    // position among its category's ids, from 0
    const char* name;      // the id's word in the catalogue
    const char* message;   // its template, written as the catalogue value
};

const ErrorIdInfo& error_info(ErrorId id);
const char* error_category_name(ErrorCategory category);
// The error's code: category index * 100 + the id's index.
int error_code(ErrorId id);
// The id of a code, or ErrorId::count_ when the catalogue has none.
ErrorId error_of_code(int code);

// The C++ exception a language error travels as. The error! value itself
// waits at the argument stack's top (error::caught), where the collector
// sees it; the exception holds only what C++ catchers read at once.
// GC: `args` are copies of the error's arguments for such readers, not
// roots: read them before anything allocates. Before the catalogue and the
// stacks exist (early start-up, tests of the lower units) an error is only
// this exception.
struct KivError {
    ErrorId id;     // ErrorId::count_ for an error that names no catalogue entry
    int arg_count;  // arguments given, up to the last one that is not none
    Cell args[3];
};

[[noreturn, gnu::cold, gnu::noinline]] void fire(ErrorId id, const Cell* arg1 = nullptr,
                                                 const Cell* arg2 = nullptr,
                                                 const Cell* arg3 = nullptr);

// The interpreter's trace report of a new error (trace event 0x1000). fire
// calls it, when set, with the pending throw code put aside meanwhile.
using ErrorTracer = void (*)(Cell* error);
void set_error_tracer(ErrorTracer tracer);

}  // namespace kiv
