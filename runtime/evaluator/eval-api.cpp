// The installed evaluator entries.
#include "runtime/evaluator/eval-api.h"

#include "runtime/fire.h"

namespace kiv::eval {

namespace {

Entries installed;

}  // namespace

Entries install(const Entries& entries) {
    const Entries before = installed;
    installed = entries;
    return before;
}

Status eval_block(Cell* block, Cell* result) {
    if (!installed.eval_block) fire(ErrorId::internal_not_done);
    return installed.eval_block(block, result);
}

Status call_function(Cell* function, const Cell* name, const Cell* args, std::int32_t count,
                     Cell* result) {
    if (!installed.call_function) fire(ErrorId::internal_not_done);
    return installed.call_function(function, name, args, count, result);
}

}  // namespace kiv::eval
