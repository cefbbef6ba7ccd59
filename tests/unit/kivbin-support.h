// Helpers for tests of the KIVBIN images: the runtime with every datatype
// that exists, both stacks and the error catalogue; encoding to bytes and
// decoding bytes back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/url.h"
#include "runtime/evaluator/stack.h"
#include "runtime/services/kivbin.h"
#include "runtime/state.h"
#include "tests/unit/runtime-support.h"
#include "tests/unit/value-reader.h"

namespace kiv::test {

using Bytes = std::vector<std::uint8_t>;

// Every datatype that exists, registered parents first, over the runtime of
// runtime-support.h; then the stacks and the catalogue.
inline void start_kivbin_runtime() {
    start_runtime();
    collector::set_active(false);
    series::init();
    block::init();
    string::init();
    binary::init();
    integer::init();
    char_::init();
    native::init();
    action::init();
    op::init();
    path::init();
    function::init();
    routine::init();
    paren::init();
    issue::init();
    url::init();
    file::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    error::init();
    map::init();
    hash::init();
    pair::init();
    percent::init();
    tuple::init();
    time::init();
    tag::init();
    email::init();
    date::init();
    money::init();
    ref::init();
    point2d::init();
    point3d::init();
    // The datatype words stand for their datatypes, as the library sets them.
    for (int id = 1; id <= registry::top_id(); ++id) {
        if (!registry::entry(id).registered) continue;
        Cell word = word_of(registry::entry(id).name);
        Cell type = datatype_of(static_cast<Type>(id));
        context::set(&word, &type);
    }
    stack::make_argument_stack();
    stack::make_call_stack();
    stack::init();
    error::init_catalog();
    collector::set_active(true);
}

class KivbinTest : public ::testing::Test {
protected:
    void SetUp() override { start_kivbin_runtime(); }
    void TearDown() override {
        error::forget();
        stack::forget();
        collector::set_active(false);
    }
};

inline Bytes bytes_of(const Cell& binary) {
    memory::SeriesBuffer* b = binary::buffer(&binary);
    return Bytes(b->head(), b->tail_ptr());
}

inline Bytes encode_bytes(Cell value, kivbin::Mode mode) {
    Cell out;
    kivbin::encode(&value, mode, &out);
    return bytes_of(out);
}

// Decodes an image as user data into a new block.
inline Cell decode_bytes(const Bytes& image) {
    Cell block;
    block::make_at(&block, 1);
    kivbin::decode(image.data(), image.size(), &block, true);
    return block;
}

// The value after a trip through an image of the given mode.
inline Cell round_trip(Cell value, kivbin::Mode mode) {
    Cell image;
    kivbin::encode(&value, mode, &image);
    Cell out;
    kivbin::load(&image, &out);
    return out;
}

// The id of the error `body` raised (ErrorId::count_ when none), caught in
// a try frame; the stacks are put back as they were.
template <class Body>
ErrorId kivbin_error(Body&& body) {
    stack::CallFrame* frames = state.frames_top;
    Cell* top = state.stack_top;
    Cell* arguments = state.stack_arguments;
    const Cell name = word_of("try");
    stack::push_try_frame(&name);
    ErrorId id = ErrorId::count_;
    try {
        body();
    } catch (const KivError& e) {
        id = e.id;
    }
    state.frames_top = frames;
    state.stack_top = top;
    state.stack_arguments = arguments;
    return id;
}

}  // namespace kiv::test
