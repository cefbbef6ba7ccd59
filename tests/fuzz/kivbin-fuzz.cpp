// Fuzz target for the KIVBIN reader. Each input is decoded three ways: as
// a whole image of user data, as the records of a compact image and of a
// normal image whose preamble is put in front (so mutations spend their time
// on records, not on the magic), and as a boot image. Whatever decodes is
// molded and encoded again, and a collection with the heap check runs after
// every input, so a half-made or inconsistent value shows up as well as a
// bad read. Every decode runs inside a try frame: a refused image is an
// error, never a crash.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/case-folding.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/services/kivbin.h"
#include "runtime/state.h"

using namespace kiv;

namespace {

void start() {
    memory::init();
    collector::set_active(false);
    registry::init();
    using Init = void (*)();
    const Init inits[] = {
        datatype::init, unset::init,   none::init,     logic::init,   series::init,   block::init,
        string::init,   binary::init,  integer::init,  symbol::init,  context::init,  word::init,
        lit_word::init, set_word::init, get_word::init, refinement::init, char_::init, native::init,
        action::init,   op::init,      path::init,     function::init, routine::init, paren::init,
        issue::init,    url::init,     file::init,     object::init,  bitset::init,   triple::init,
        float_::init,   typeset::init, error::init,    map::init,     hash::init,     pair::init,
        percent::init,  tuple::init,   time::init,     tag::init,     email::init,    date::init,
        money::init,    ref::init,     point2d::init,  point3d::init};
    for (Init init : inits) init();
    stack::make_argument_stack();
    stack::make_call_stack();
    symbol::init_table(4000);
    context::init_global(4000);
    case_folding::init();
    symbol::init_index(4000);
    registry::build_words();
    words::init();
    ownership::init();
    stack::init();
    error::init_catalog();
    collector::set_active(true);
}

// Runs `body` in a try frame, putting the stacks back afterwards.
template <class Body>
void guarded(Body&& body) {
    stack::CallFrame* frames = state.frames_top;
    Cell* top = state.stack_top;
    Cell* arguments = state.stack_arguments;
    Cell name;
    word::load("try", &name);
    stack::push_try_frame(&name);
    try {
        body();
    } catch (const KivError&) {
    }
    state.frames_top = frames;
    state.stack_top = top;
    state.stack_arguments = arguments;
}

void use(Cell* block) {
    guarded([&] {
        Cell text;
        string::make_at(&text, 64);
        registry::find<Action::mold>(block)(block, &text, false, true, false, nullptr, 0, 0);
    });
    guarded([&] {
        Cell image;
        kivbin::encode(block, kivbin::Mode::compact, &image);
        Cell back;
        kivbin::load(&image, &back);
    });
}

void decode(const std::vector<std::uint8_t>& image, bool user) {
    Cell block;
    block::make_at(&block, 4);
    guarded([&] { kivbin::decode(image.data(), image.size(), &block, user); });
    use(&block);
}

std::vector<std::uint8_t> with_preamble(const std::uint8_t* data, std::size_t size, std::uint8_t flags) {
    std::vector<std::uint8_t> image{'K', 'I', 'V', 'B', 'I', 'N', 2, flags};
    image.insert(image.end(), data, data + size);
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the input's bytes, so a read past the end is caught.
    decode(std::vector<std::uint8_t>(data, data + size), true);
    if (size > 0) {
        const std::uint8_t flags = data[0] & 7;
        decode(with_preamble(data + 1, size - 1, flags), true);
        decode(with_preamble(data + 1, size - 1, flags), false);
    }
    collector::do_cycle();
    std::string problem;
    if (!collector::verify_heap(&problem)) {
        std::fprintf(stderr, "heap: %s\n", problem.c_str());
        __builtin_trap();
    }
    return 0;
}
