// Fuzz target for the lexer: every input is loaded, scanned and prescanned,
// also with an event hook that skips bad tokens the way a tracer does, and
// fed to the number conversion scanners at each unit width. The input sits
// in a buffer of exactly its size, so any read past its end is caught by
// the address sanitizer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer.h"
#include "tests/unit/lexer-harness.h"

using namespace kiv::lexer;

namespace {

bool skip_errors(Lexer& lx, const EventInfo& info) {
    if (info.event != ev_error) return true;
    lx.position = info.end < lx.input_end ? info.end + 1 : lx.input_end;
    return false;
}

// Refuses every error without moving the input: the scan must still end.
bool ignore_errors(Lexer&, const EventInfo& info) { return info.event != ev_error; }

void run(const Hooks& hooks, const std::uint8_t* data, std::size_t size, Mode mode, bool one) {
    kiv::lexer::test::forget_descriptions();
    try {
        Scan scan(hooks, data, size, mode, one);
        scan.run();
        if (scan.consumed() > size || scan.value_count() < 0) __builtin_trap();
    } catch (const SyntaxError&) {
    }
}

void conversions(const std::uint8_t* data, std::size_t size) {
    int count = static_cast<int>(size < 400 ? size : 400);
    for (int width : {1, 2, 4}) {
        int n = count / width;
        std::vector<std::uint8_t> chars(data, data + n * width);
        int error;
        kiv::lexer::scan_integer(chars.data(), n, width, error);
        kiv::lexer::scan_float(chars.data(), n, width, error);
        MoneyText money;
        kiv::lexer::scan_money(chars.data(), n, width, money);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Hooks& describing = kiv::lexer::test::describing_hooks();
    run(describing, data, size, Mode::load, false);
    run(describing, data, size, Mode::load, true);
    run(checking_hooks, data, size, Mode::scan, true);
    run(checking_hooks, data, size, Mode::prescan, false);
    Hooks tracing = describing;
    tracing.event = skip_errors;
    tracing.event_mask = 0x3F;
    run(tracing, data, size, Mode::load, false);
    run(tracing, data, size, Mode::prescan, false);
    tracing.event = ignore_errors;
    run(tracing, data, size, Mode::load, false);
    conversions(data, size);
    return 0;
}
