#include "runtime/init.h"

#include "runtime/case-folding.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/output-hooks.h"
#include "runtime/ownership.h"
#include "runtime/platform/platform.h"
#include "runtime/state.h"

namespace kiv::runtime {

namespace {

using InitStep = void (*)();

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
    // random generator: random::init (state of 624 words, tracked)
    memory::init,
    // external handle registry: externals::init
    registry::init,
    // datatype registration, parents first
    datatype::init,
    unset::init,
    none::init,
    logic::init,
    // series! block! string! binary!
    integer::init,
    symbol::init,
    context::init,
    word::init,
    lit_word::init,
    set_word::init,
    get_word::init,
    refinement::init,
    // char! native! action! op! path! lit-path! set-path! get-path!
    //   function! routine! paren! issue! url! file!
    object::init,
    // bitset! triple!
    float_::init,
    typeset::init,
    error::init,
    // vector! map! hash! pair!
    percent::init,
    // tuple!
    time::init,
    // tag! email! handle! date! port! money! ref! point2D! point3D!,
    //   imaging::init, then image! (event! registers later, from the
    //   library's top level)
    // generic action table: actions::init
    // first node frame: memory::new_node_frame (10,000 nodes)
    // first series frame: memory::new_series_frame (1 MB)
    // root block: 8,749 cells, no parent
    stack::make_argument_stack,
    stack::make_call_stack,
    make_symbol_table,
    make_global_context,
    case_folding::init,
    // hash index of the symbol table: 4,000 entries, context-words kind
    registry::build_words,
    words::init,
    // natives table: natives::init (107 entries)
    // parse working blocks: parse::init (8 and 100 cells in the root block)
    ownership::init,
    // port and checksum method words: natives::init_method_words
    // compression method words: compress::init_words
    // process calls: call::init (output string of 102,400 bytes)
    stack::init,
    // lexer tables: lexer::init
    // boot image: kivbin::boot_load
    // the error catalogue, until the boot image carries it
    error::init_catalog,
    // interpreter: interpreter::init
    // collector counters: collector::init
};

}  // namespace

void init() {
    for (InitStep step : init_steps) step();
}

}  // namespace kiv::runtime
