// Fuzz target for the lexer: every input is loaded, scanned and prescanned,
// also with an event hook that skips bad tokens the way a tracer does, and
// fed to the number conversion scanners at each unit width. It is then
// loaded into real values (syntax errors raised as language errors inside
// a try frame), also with a language callback that skips bad tokens, and
// scanned through the language entry, as a binary and as a string. The
// input sits in a buffer of exactly its size, so any read past its end is
// caught by the address sanitizer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/lexer-loaders.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/init.h"
#include "runtime/state.h"
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

// The interpreter's call, standing in: a callback that refuses errors and
// moves its input one character on, as the tracer does.
kiv::Status tracer(kiv::Cell*, const kiv::Cell*, const kiv::Cell* args, std::int32_t, kiv::Cell* result) {
    auto* a = const_cast<kiv::Cell*>(args);
    const bool error = kiv::words::is(&a[0], kiv::words::W::error);
    if (error) a[1].data1 += 1;
    kiv::logic::make_at(result, !error);
    return kiv::Status::ok;
}

// Runs the body inside a try frame; the stacks are put back afterwards.
template <class Body>
void in_try(Body&& body) {
    auto* frames = kiv::state.frames_top;
    auto* top = kiv::state.stack_top;
    auto* arguments = kiv::state.stack_arguments;
    kiv::Cell name;
    kiv::words::word(kiv::words::W::try_, &name);
    kiv::stack::push_try_frame(&name);
    try {
        body();
    } catch (const kiv::KivError&) {
    }
    kiv::state.frames_top = frames;
    kiv::state.stack_top = top;
    kiv::state.stack_arguments = arguments;
}

void values(const std::uint8_t* data, std::size_t size) {
    run(value_hooks(), data, size, Mode::load, false);
    run(value_hooks(), data, size, Mode::load, true);
    kiv::Cell bytes;
    kiv::binary::load_at(&bytes, data, static_cast<std::int64_t>(size));
    kiv::Cell text;
    kiv::string::make_at(&text, static_cast<std::int64_t>(size));
    kiv::string::append_utf8(&text, std::string_view(reinterpret_cast<const char*>(data), size));
    for (kiv::Cell* source : {&bytes, &text}) {
        for (int mode = 0; mode < 4; ++mode) {
            kiv::lexer::TranscodeRefinements r;
            r.scan = mode == 1;
            r.prescan = mode == 2;
            r.next = mode == 3;
            kiv::Cell result;
            in_try([&] { static_cast<void>(kiv::lexer::transcode_native(source, r, &result)); });
        }
        // A function whose body takes every event.
        static const char spec_text[] = "event input type line token";
        kiv::Cell spec;
        kiv::Cell body;
        kiv::lexer::scan(&spec, reinterpret_cast<const std::uint8_t*>(spec_text), sizeof spec_text - 1, false,
                         true, true, false, nullptr, nullptr, nullptr, nullptr);
        kiv::block::make_at(&body, 1);
        kiv::Cell callback;
        kiv::function::make_at(&callback, &spec, &body, 0, 0, 0);
        kiv::lexer::TranscodeRefinements traced;
        traced.trace = &callback;
        kiv::Cell result;
        in_try([&] { static_cast<void>(kiv::lexer::transcode_native(source, traced, &result)); });
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kiv::runtime::init();
    kiv::eval::install(kiv::eval::Entries{nullptr, tracer});
    kiv::collector::set_active(true);
    return 0;
}

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
    values(data, size);
    return 0;
}
