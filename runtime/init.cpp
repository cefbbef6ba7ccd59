#include "runtime/init.h"

#include "runtime/case-folding.h"
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
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/image.h"
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
#include "runtime/datatypes/port.h"
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
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/parse.h"
#include "runtime/evaluator/random.h"
#include "runtime/evaluator/stack.h"
#include "runtime/externals.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/output-hooks.h"
#include "runtime/ownership.h"
#include "runtime/platform/platform.h"
#include "runtime/services/clipboard.h"
#include "runtime/services/compression.h"
#include "runtime/services/file-io.h"
#include "runtime/services/http.h"
#include "runtime/services/kivbin.h"
#include "runtime/state.h"

namespace kiv::runtime {

namespace {

using InitStep = void (*)();

// ORDER TYPES. Parents register before their children; a unit that does not
// exist yet stands as a comment at its place.
constexpr InitStep datatype_inits[] = {
    datatype::init,
    unset::init,
    none::init,
    logic::init,
    series::init,
    block::init,
    string::init,
    binary::init,
    integer::init,
    symbol::init,
    context::init,
    word::init,
    lit_word::init,
    set_word::init,
    get_word::init,
    refinement::init,
    char_::init,
    native::init,
    action::init,
    op::init,
    path::init,  // also lit-path!, set-path! and get-path!, in that order
    function::init,
    routine::init,
    paren::init,
    issue::init,
    url::init,
    file::init,
    object::init,
    bitset::init,
    triple::init,
    float_::init,
    typeset::init,
    error::init,
    vector::init,
    map::init,
    hash::init,
    pair::init,
    percent::init,
    tuple::init,
    time::init,
    tag::init,
    email::init,
    handle::init,
    date::init,
    port::init,
    money::init,
    ref::init,
    point2d::init,
    point3d::init,
    // the imaging service needs no start: its libraries load at first use
    image::init,
    // (event! registers later, from the library's top level)
};

void register_datatypes() {
    for (InitStep step : datatype_inits) step();
}

void keep_start_up_words() { state.keep_in_root = true; }

void make_symbol_table() { symbol::init_table(4000); }
void make_global_context() { context::init_global(4000); }

// ORDER INIT. A unit that does not exist yet stands as a comment at its place;
// it replaces the comment with its line when it arrives.
constexpr InitStep init_steps[] = {
    keep_start_up_words,
    // first, so that anything printed during start-up goes through them
    console_output::init_hooks,
    platform::init,
    random::init,
    // also makes the first node frame and series frame and sets up the
    // collector, so the later steps for those have nothing left to do
    memory::init,
    externals::init,
    // datatype registry: type table and action tables (57 type ids)
    registry::init,
    register_datatypes,
    // generic action table
    actions::init,
    // first node frame and first series frame: made by memory::init
    // root block: 8,749 cells, no parent
    stack::make_argument_stack,
    stack::make_call_stack,
    // symbol table: empty block of 4,000 cells in the root block
    make_symbol_table,
    // global context: room for 4,000 words
    make_global_context,
    case_folding::init,
    // hash index of the symbol table: 4,000 entries, context-words kind
    [] { symbol::init_index(4000); },
    registry::build_words,
    // the runtime's fixed words, refinements and issue
    words::init,
    // natives table (107 entries)
    natives::init,
    // parse working blocks: 8 and 100 cells
    parse::init,
    ownership::init,
    // port and checksum method words: natives::init_method_words
    // the deflate codecs behind compress and decompress
    compression::init,
    // process calls: call::init (output string of 102,400 bytes)
    // the file layer behind the file! actions
    file_io::init,
    // the HTTP client behind read and write of http urls
    http::init,
    // the clipboard behind read-clipboard and write-clipboard
    clipboard::init,
    stack::init,
    lexer::init,
    // boot image: the library's sources, decoded instead of lexed
    kivbin::init,
    // the error catalogue, until the boot image carries it
    error::init_catalog,
    interpreter::init,
    // collector counters: set by memory::init
};

}  // namespace

void init() {
    for (InitStep step : init_steps) step();
}

}  // namespace kiv::runtime
