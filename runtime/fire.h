// Raising language errors. Every unit raises through `fire`, by catalogue id
// with up to three argument values; it never returns. The error travels as a
// C++ exception up to the nearest try region.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/error-list.h"

namespace kiv {

enum class ErrorCategory : std::uint8_t {
#define KIV_ERROR_CATEGORY_ENUM(index, ident, name) ident = index,
    KIV_ERROR_CATEGORIES(KIV_ERROR_CATEGORY_ENUM)
#undef KIV_ERROR_CATEGORY_ENUM
};
constexpr int error_category_count = 10;

// Ids are named <category>_<id>: ErrorId::script_expect_arg.
enum class ErrorId : std::uint16_t {
#define KIV_ERROR_ID_ENUM(cat, ident, name) cat##_##ident,
    KIV_ERROR_IDS(KIV_ERROR_ID_ENUM)
#undef KIV_ERROR_ID_ENUM
    count_
};

struct ErrorIdInfo {
    ErrorCategory category;
    std::uint8_t index;  // position among its category's ids, from 0
    const char* name;    // the id's word in the catalogue
};

const ErrorIdInfo& error_info(ErrorId id);
const char* error_category_name(ErrorCategory category);
// The error's code: category index * 100 + the id's index.
int error_code(ErrorId id);

// The C++ exception a language error travels as.
// FIXME: provisional until error! values exist; then the exception carries
// nothing and the error value waits on the argument stack where the
// collector sees it.
struct KivError {
    ErrorId id;
    int arg_count;
    Cell args[3];
};

[[noreturn, gnu::cold, gnu::noinline]] void fire(ErrorId id, const Cell* arg1 = nullptr,
                                                 const Cell* arg2 = nullptr,
                                                 const Cell* arg3 = nullptr);

}  // namespace kiv
