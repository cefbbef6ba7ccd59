// fire: from a catalogue id to a raised error! value.
#include "runtime/fire.h"

#include <initializer_list>

#include "runtime/datatypes/error.h"
#include "runtime/evaluator/stack.h"
#include "runtime/state.h"

namespace kiv {

namespace {

// Each id's position inside its category, computed from catalogue order.
struct InfoTable {
    ErrorIdInfo rows[static_cast<int>(ErrorId::count_)];
    constexpr InfoTable() : rows{} {
        int counts[error_category_count] = {};
        int i = 0;
#define KIV_ERROR_INFO_ROW(cat, ident, name, message)                                \
    rows[i++] = ErrorIdInfo{ErrorCategory::cat,                                      \
                            static_cast<std::uint8_t>(                               \
                                counts[static_cast<int>(ErrorCategory::cat)]++),     \
                            name, message};
        KIV_ERROR_IDS(KIV_ERROR_INFO_ROW)
#undef KIV_ERROR_INFO_ROW
    }
};

constexpr InfoTable info_table;

constexpr const char* category_names[] = {
#define KIV_ERROR_CATEGORY_NAME(index, ident, name, title) name,
    KIV_ERROR_CATEGORIES(KIV_ERROR_CATEGORY_NAME)
#undef KIV_ERROR_CATEGORY_NAME
};

ErrorTracer error_tracer = nullptr;

// The error as a bare exception, for the time before the catalogue exists.
[[noreturn]] void throw_bare(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    KivError error{id, 0, {}};
    for (const Cell* arg : {arg1, arg2, arg3}) {
        if (!arg) break;
        error.args[error.arg_count++] = *arg;
    }
    throw error;
}

}  // namespace

const ErrorIdInfo& error_info(ErrorId id) { return info_table.rows[static_cast<int>(id)]; }

const char* error_category_name(ErrorCategory category) {
    return category_names[static_cast<int>(category)];
}

int error_code(ErrorId id) {
    const ErrorIdInfo& info = error_info(id);
    return static_cast<int>(info.category) * 100 + info.index;
}

ErrorId error_of_code(int code) {
    for (int i = 0; i < static_cast<int>(ErrorId::count_); ++i)
        if (error_code(static_cast<ErrorId>(i)) == code) return static_cast<ErrorId>(i);
    return ErrorId::count_;
}

void set_error_tracer(ErrorTracer tracer) { error_tracer = tracer; }

void fire(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    if (!error::catalog_ready() || !stack::ready()) throw_bare(id, arg1, arg2, arg3);
    Cell* error = error::create(id, arg1, arg2, arg3);
    if (error_tracer) {
        const std::uint32_t pending = state.thrown_code;
        state.thrown_code = 0;
        error_tracer(error);
        state.thrown_code = pending;
    }
    stack::raise_error(error);
}

}  // namespace kiv
