#include "runtime/fire.h"

#include <initializer_list>

namespace kiv {

namespace {

// Each id's position inside its category, computed from catalogue order.
struct InfoTable {
    ErrorIdInfo rows[static_cast<int>(ErrorId::count_)];
    constexpr InfoTable() : rows{} {
        int counts[error_category_count] = {};
        int i = 0;
#define KIV_ERROR_INFO_ROW(cat, ident, name)                                         \
    rows[i++] = ErrorIdInfo{ErrorCategory::cat,                                      \
                            static_cast<std::uint8_t>(                               \
                                counts[static_cast<int>(ErrorCategory::cat)]++),     \
                            name};
        KIV_ERROR_IDS(KIV_ERROR_INFO_ROW)
#undef KIV_ERROR_INFO_ROW
    }
};

constexpr InfoTable info_table;

constexpr const char* category_names[] = {
#define KIV_ERROR_CATEGORY_NAME(index, ident, name) name,
    KIV_ERROR_CATEGORIES(KIV_ERROR_CATEGORY_NAME)
#undef KIV_ERROR_CATEGORY_NAME
};

}  // namespace

const ErrorIdInfo& error_info(ErrorId id) { return info_table.rows[static_cast<int>(id)]; }

const char* error_category_name(ErrorCategory category) {
    return category_names[static_cast<int>(category)];
}

int error_code(ErrorId id) {
    const ErrorIdInfo& info = error_info(id);
    return static_cast<int>(info.category) * 100 + info.index;
}

void fire(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    KivError error{id, 0, {}};
    for (const Cell* arg : {arg1, arg2, arg3}) {
        if (!arg) break;
        error.args[error.arg_count++] = *arg;
    }
    throw error;
}

}  // namespace kiv
