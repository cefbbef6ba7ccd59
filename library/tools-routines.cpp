// The tools' routine: switching the event stream of a traced evaluation.
#include "library/tools-routines.h"

#include "library/routines.h"
#include "runtime/evaluator/interpreter.h"

namespace kiv::tools_routines {

namespace {

std::int32_t set_tracing(const routine::Raw* args) {
    interpreter::set_tracing(args[0].number != 0);
    return 0;
}

constexpr library_routines::Definition definition{
    "_set-tracing", R"("Internal Use Only" on [logic!])", set_tracing};

}  // namespace

void bind() {
    Cell routine;
    library_routines::define(definition, &routine);
}

}  // namespace kiv::tools_routines
