// Native code for function bodies and loops (see native-code.h). Two
// parts, over the assembler of x86-assembler.h: a reader that turns a body
// into a tree of the constructs it knows (failing on anything else), and
// the emitter that walks the tree.
//
// Register use in the emitted code: rbx holds the function frame's base
// (its argument cells; a loop's value cell), r12 the runtime record, r13
// the cage origin, r14 the global values' address once checked, r15 a
// repeat's counter record; rax,
// rcx, rdx, rsi, rdi, r8 to r11 and xmm0 to xmm2 are scratch. Each
// activation's native frame keeps, per block level, the block's first cell
// (which pins its buffer for the collector) and the `near` to put back, and
// per call the function value and op copies (whose node ids keep them
// alive, as the interpreter's locals do).
#include "runtime/evaluator/native-code.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/series.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/x86-assembler.h"
#include "runtime/evaluator/stack.h"
#include "runtime/state.h"

namespace kiv::native_code {

bool enabled = true;
NodeId without_code[table_size] = {};

namespace {

using interpreter::internal::global_values;

// Executable memory: one mapping, filled in order. When it is full, no
// code is made until no native code is running; then every function's
// code is forgotten and the mapping is filled again from its start (see
// run).
constexpr std::size_t arena_bytes = std::size_t{16} << 20;
std::uint8_t* arena = nullptr;
std::size_t arena_used = 0;
bool arena_full = false;

// Copies the assembled code and its pool into the arena and makes that
// page range executable; null when the arena is full.
void* install(Asm& as) {
    if (!arena) {
        void* p = mmap(nullptr, arena_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        arena = static_cast<std::uint8_t*>(p);
    }
    // A jump to a label never bound is the emitter's fault: no code.
    for (const auto& f : as.jumps)
        if (as.label_at[f.label] < 0) return nullptr;
    const std::size_t code_size = (as.code.size() + 15) & ~std::size_t{15};
    const std::size_t total = code_size + as.pool.size();
    const std::size_t page = 4096;
    std::size_t start = (arena_used + page - 1) & ~(page - 1);
    if (start + total > arena_bytes) {
        arena_full = true;
        return nullptr;
    }
    std::uint8_t* dst = arena + start;
    const std::size_t span = (total + page - 1) & ~(page - 1);
    // A system that refuses executable pages (a hardened kernel's policy)
    // gets no native code for the session; the interpreter runs everything.
    if (mprotect(dst, span, PROT_READ | PROT_WRITE) != 0) {
        enabled = false;
        return nullptr;
    }
    std::memcpy(dst, as.code.data(), as.code.size());
    std::memset(dst + as.code.size(), 0xCC, code_size - as.code.size());
    std::memcpy(dst + code_size, as.pool.data(), as.pool.size());
    for (const auto& f : as.jumps) {
        const std::int32_t rel = as.label_at[f.label] - (f.where + 4);
        std::memcpy(dst + f.where, &rel, 4);
    }
    for (const auto& f : as.pool_fixes) {
        const std::int32_t rel = static_cast<std::int32_t>(code_size + f.offset) - (f.where + 4);
        std::memcpy(dst + f.where, &rel, 4);
    }
    if (mprotect(dst, span, PROT_READ | PROT_EXEC) != 0) {
        enabled = false;
        return nullptr;
    }
    arena_used = start + total;
    return dst;
}

// ---------------------------------------------------------------------------
// Helpers the code calls. Each answers 0 (ok), 1 (thrown: a code pending)
// or 2 (a C++ exception, kept in `pending` until the code has returned).

std::exception_ptr pending;

template <class F>
int guarded(F f) {
    try {
        return f() == Status::ok ? 0 : 1;
    } catch (...) {
        pending = std::current_exception();
        return 2;
    }
}

// Where in a block the interpreter takes over: the block value, its first
// cell, the cell to go on from and the block's length when the code was
// made.
struct BlockPlace {
    const Cell* code;
    Cell* first;
    std::int32_t at;
    std::int32_t length;
};

struct ResumeArgs {
    BlockPlace place;
    Cell* base;
    const Cell* saved_near;
    std::int32_t chain;
    std::int32_t infix;
    std::int32_t leaves_near;
    std::int32_t set_word;  // -1, else the cell of the set-word whose frame is open at `base`
};

int help_resume(const ResumeArgs* r) {
    return guarded([&] {
        const BlockPlace& p = r->place;
        const Cell* saved_near = r->leaves_near ? nullptr : r->saved_near;
        if (r->set_word >= 0)
            return interpreter::internal::resume_set_word(p.code, p.first, p.first + r->set_word, p.first + p.at,
                                                          p.first + p.length, r->base, saved_near, r->chain != 0,
                                                          r->infix != 0);
        return interpreter::internal::resume_block(p.code, p.first, p.first + p.at, p.first + p.length, r->base,
                                                   saved_near, r->chain != 0, r->infix != 0);
    });
}

// A block run from its start by the interpreter (its entry guard failed).
int help_run_block(const Cell* code, std::int32_t chain) {
    return guarded([&] { return interpreter::eval_block(code, chain != 0); });
}


// The body of a function whose frame the code opened (the context's
// values at `base`, the body flag set), run as call_function_plain runs
// it: its own native code or the interpreter, return and exit taken.
int help_run_body(const Cell* fn, Cell* base) {
    return guarded([&] { return interpreter::internal::run_function_body(fn, base); });
}

int help_overflow() {
    return guarded([&] {
        stack::overflow_arguments();
        return Status::ok;
    });
}

struct InfixArgs {
    BlockPlace place;
    const Cell* kept_op;
    const Cell* word;
};

int help_finish_infix(const InfixArgs* a) {
    return guarded([&] {
        const BlockPlace& p = a->place;
        return interpreter::internal::finish_infix(a->kept_op, a->word, p.first + p.at, p.first + p.length, p.code);
    });
}

// ---------------------------------------------------------------------------
// The reader: a body as a tree of the constructs the emitter knows.

struct Block;

// action: a call of an integer action whose arithmetic needs no frame
// (add, subtract, multiply, remainder).
enum class TermKind : std::uint8_t { integer, local, global, paren, call, action };
struct Chain;

// The arithmetic of an op or an integer action. remainder is an action's
// only.
enum class OpKind : std::uint8_t {
    add, subtract, multiply, lesser, greater, lesser_or_equal, greater_or_equal, equal, not_equal, remainder
};

struct Term {
    TermKind kind = TermKind::integer;
    int at = 0;    // its first cell
    int end = 0;   // past its last cell
    int slot = 0;  // local: the value's index in the frame; global: in the global context
    std::unique_ptr<Block> paren;
    // call: the arguments (chains of numbers, arguments and action calls);
    // action: its two arguments (simple chains).
    std::vector<Chain> args;
    // call: the function value, its argument cache's body cell, header and
    // entries as the call table held them, and whether it is the function
    // compiled. action: the action value and its cache's header cell.
    Cell fn{};
    std::vector<Cell> cache;
    bool self = false;
    OpKind math{};  // action: its arithmetic
    bool plain() const { return kind == TermKind::integer || kind == TermKind::local || kind == TermKind::global; }
};

// What a chain's terms may be: numbers and argument words only; those and
// a first term calling an integer action (a call's argument); those and
// operators' right operands calling one (a condition); or anything the
// reader knows.
enum class Terms : std::uint8_t { plain, actions, operands, all };

struct Op {
    int at = 0;   // the operator word's cell
    Cell value{}; // the op it holds
    OpKind kind{};
    Term right;
};

// A value and the operators applied to it.
struct Chain {
    Term first;
    std::vector<Op> ops;
    int end = 0;
    // What follows the chain in its block: -1 nothing (its end, or a value
    // that is not a word), else the frame slot (with follow_global: the
    // global index) of the word there, whose value must not be an op.
    int follow_slot = -1;
    bool follow_global = false;
    bool simple() const {
        if (!first.plain()) return false;
        for (const Op& op : ops)
            if (!op.right.plain()) return false;
        return true;
    }
};

enum class StmtKind : std::uint8_t { chain, conditional, return_, set };

struct Stmt {
    StmtKind kind = StmtKind::chain;
    int at = 0, end = 0;
    Chain chain;  // the chain, the condition or the returned value
    std::int32_t branches = 0;
    bool negated = false;  // conditional: unless
    Cell native{};  // either, if, unless or return
    std::unique_ptr<Block> blocks[2];
    int follow_slot = -1;  // conditional: as a chain's follow_slot
    bool follow_global = false;
    bool set_global = false;  // set: the word is global, `branches` its index
};

struct Block {
    Cell code{};  // the block value the interpreter runs
    std::vector<Cell> cells;
    std::vector<Stmt> stmts;
};

// The argument cache of a callable (a function, action or op), read from
// its more block, where the call table's entry points too; null when it is
// not built yet (the reader builds nothing: building allocates). The code
// finds it through the call table, as the interpreter's calls do.
const Cell* kept_cache(const Cell& callable) {
    const Cell* kept = memory::buffer_of(callable.data3)->cells() + 1;
    if (!kept->is(Type::block)) return nullptr;
    return memory::buffer_of(kept->data2)->cells() + 1;
}

struct Reader {
    const Cell* fn;        // the function compiled; null for a loop's block
    NodeId context;        // its context
    std::int32_t slots;    // its frame's value cells
    std::int32_t arity;    // its mandatory arguments
    const Cell* global_cells = nullptr;
    NodeId global_context = 0;
    int blocks = 0;
    Block body;  // a function's body, a loop's body
    Block cond;  // while's condition
    int word_slot = 0;  // repeat's word: its global index

    const Cell* global_value(const Cell& word) {
        if (word.data1 != global_context || static_cast<std::int32_t>(word.data3) < 0) return nullptr;
        return global_cells + word.data3;
    }

    bool read_block(const Cell& code, Block& out, int depth) {
        if (++blocks > 64 || depth > 8) return false;
        if (!code.is(Type::block) && !code.is(Type::paren)) return false;
        if (series::head(&code) != 0) return false;
        memory::SeriesBuffer* b = block::buffer(&code);
        if (b->flags & memory::series_flag::library_code) return false;
        out.code = code;
        out.cells.assign(b->cells(), b->cells_tail());
        if (out.cells.empty() || out.cells.size() > 200) return false;
        int pos = 0;
        const int n = static_cast<int>(out.cells.size());
        while (pos < n) {
            Stmt s;
            if (!read_stmt(out, pos, s, depth)) return false;
            pos = s.end;
            out.stmts.push_back(std::move(s));
        }
        return true;
    }

    bool is_local(const Cell& c, int& slot) {
        if (!c.is(Type::word) || c.data1 != context) return false;
        const auto i = static_cast<std::int32_t>(c.data3);
        if (i < 0 || i >= arity) return false;
        slot = i;
        return true;
    }

    // A word of the global context holding a number now (integer! or
    // logic!): read as a value, its type tested where it is used.
    bool is_global(const Cell& c, int& slot) {
        const Cell* v = c.is(Type::word) ? global_value(c) : nullptr;
        if (!v || (!v->is(Type::integer) && !v->is(Type::logic))) return false;
        slot = static_cast<std::int32_t>(c.data3);
        return true;
    }

    const Cell* own_cache = nullptr;

    // A word holding a function! called by the plain path (no trace
    // flags) whose argument cache is built, with evaluated
    // arguments taking integer! and logic!, no refinements and no locals:
    // its value and cache into `t`.
    bool is_callee(const Cell& c, Term& t) {
        if (!c.is(Type::word)) return false;
        const Cell* v = global_value(c);
        if (!v || !v->is(Type::function)) return false;
        if (v->header & (function::flag::trace | function::flag::no_trace)) return false;
        const Cell* cache = nullptr;
        if (fn && std::memcmp(v, fn, sizeof(Cell)) == 0) {
            cache = own_cache;
            t.self = true;
        } else {
            cache = kept_cache(*v);
            if (!cache) return false;
        }
        const auto n = static_cast<std::int32_t>(cache->data1);
        if (n > 8 || cache->data2 != 0 || cache->data3 != cache->data1) return false;
        if (!(cache->header & interpreter::internal::cache_user_body())) return false;
        for (std::int32_t i = 1; i <= n; ++i)
            if (!interpreter::internal::entry_takes(cache + i, Type::integer) ||
                !interpreter::internal::entry_takes(cache + i, Type::logic))
                return false;
        t.fn = *v;
        t.cache.assign(cache - 1, cache + 1 + n);
        return true;
    }

    // A word holding add, subtract, multiply or remainder whose built
    // argument cache has two arguments and no refinements: its value and
    // the cache's header into `t`.
    bool is_action(const Cell& c, Term& t) {
        if (!c.is(Type::word)) return false;
        const Cell* v = global_value(c);
        if (!v || !v->is(Type::action)) return false;
        switch (static_cast<Action>(v->data1)) {
            case Action::add: t.math = OpKind::add; break;
            case Action::subtract: t.math = OpKind::subtract; break;
            case Action::multiply: t.math = OpKind::multiply; break;
            case Action::remainder: t.math = OpKind::remainder; break;
            default: return false;
        }
        const Cell* cache = kept_cache(*v);
        if (!cache || cache->data1 != 2 || cache->data2 != 0) return false;
        const std::uint32_t fast = interpreter::internal::fast_bits_of(v);
        if (fast == 0 || (cache->header & interpreter::internal::cache_infix_mask() & ~0x00FFFFFFu) != fast)
            return false;
        t.fn = *v;
        t.cache.assign(cache, cache + 1);
        return true;
    }

    bool op_kind(const Cell* v, OpKind& k) {
        if (!v || !v->is(Type::op)) return false;
        const Type source = op::source_type(v);
        if (source == Type::action) {
            switch (static_cast<Action>(v->data1)) {
                case Action::add: k = OpKind::add; return true;
                case Action::subtract: k = OpKind::subtract; return true;
                case Action::multiply: k = OpKind::multiply; return true;
                default: return false;
            }
        }
        if (source != Type::native) return false;
        switch (static_cast<natives::Native>(v->data1)) {
            case natives::Native::lesser_q: k = OpKind::lesser; return true;
            case natives::Native::greater_q: k = OpKind::greater; return true;
            case natives::Native::lesser_or_equal_q: k = OpKind::lesser_or_equal; return true;
            case natives::Native::greater_or_equal_q: k = OpKind::greater_or_equal; return true;
            case natives::Native::equal_q: k = OpKind::equal; return true;
            case natives::Native::not_equal_q: k = OpKind::not_equal; return true;
            default: return false;
        }
    }

    bool read_term(Block& b, int pos, Term& t, Terms terms, int depth) {
        const Cell& c = b.cells[pos];
        t.at = pos;
        t.end = pos + 1;
        if (c.is(Type::integer)) {
            t.kind = TermKind::integer;
            return true;
        }
        if (is_local(c, t.slot)) {
            t.kind = TermKind::local;
            return true;
        }
        if (is_global(c, t.slot)) {
            t.kind = TermKind::global;
            return true;
        }
        if (terms == Terms::plain) return false;
        if (is_action(c, t)) {
            t.kind = TermKind::action;
            int p = pos + 1;
            for (int i = 0; i < 2; ++i) {
                Chain a;
                if (p >= static_cast<int>(b.cells.size()) || !read_chain(b, p, a, Terms::plain, depth)) return false;
                p = a.end;
                t.args.push_back(std::move(a));
            }
            t.end = p;
            return true;
        }
        if (terms != Terms::all) return false;
        if (c.is(Type::paren)) {
            t.kind = TermKind::paren;
            t.paren = std::make_unique<Block>();
            return read_block(c, *t.paren, depth + 1);
        }
        if (is_callee(c, t)) {
            t.kind = TermKind::call;
            int p = pos + 1;
            const int n = static_cast<int>(t.cache.size()) - 2;
            for (int i = 0; i < n; ++i) {
                Chain a;
                if (p >= static_cast<int>(b.cells.size()) || !read_chain(b, p, a, Terms::actions, depth)) return false;
                p = a.end;
                t.args.push_back(std::move(a));
            }
            t.end = p;
            return true;
        }
        return false;
    }

    // A chain from `pos`, its terms as `terms` allows.
    bool read_chain(Block& b, int pos, Chain& ch, Terms terms, int depth) {
        if (!read_term(b, pos, ch.first, terms == Terms::operands ? Terms::plain : terms, depth)) return false;
        int p = ch.first.end;
        const int n = static_cast<int>(b.cells.size());
        for (;;) {
            if (p >= n) break;
            const Cell& c = b.cells[p];
            if (!c.is(Type::word)) break;
            int slot;
            if (is_local(c, slot)) {
                ch.follow_slot = slot;
                break;
            }
            if (is_global(c, slot)) {
                ch.follow_slot = slot;
                ch.follow_global = true;
                break;
            }
            const Cell* v = global_value(c);
            Op op;
            if (!op_kind(v, op.kind)) return false;
            op.at = p;
            op.value = *v;
            if (p + 1 >= n) return false;
            // The right operand of an op: a number, or in a chain that may
            // hold them an action call, a paren or a call, which the op
            // evaluates in its frame.
            if (!read_term(b, p + 1, op.right, Terms::plain, depth)) {
                if (terms == Terms::plain || terms == Terms::actions) return false;
                if (!read_term(b, p + 1, op.right, terms == Terms::all ? Terms::all : Terms::actions, depth))
                    return false;
            }
            p = op.right.end;
            ch.ops.push_back(std::move(op));
        }
        ch.end = p;
        return true;
    }

    bool read_stmt(Block& b, int pos, Stmt& s, int depth) {
        const Cell& c = b.cells[pos];
        const int n = static_cast<int>(b.cells.size());
        s.at = pos;
        if (c.is(Type::word)) {
            const Cell* v = global_value(c);
            if (v && v->is(Type::native)) {
                const auto slot = static_cast<natives::Native>(v->data1);
                if (slot == natives::Native::either || slot == natives::Native::if_ ||
                    slot == natives::Native::unless) {
                    s.kind = StmtKind::conditional;
                    s.branches = slot == natives::Native::either ? 2 : 1;
                    s.negated = slot == natives::Native::unless;
                    s.native = *v;
                    if (pos + 1 >= n || !read_chain(b, pos + 1, s.chain, Terms::operands, depth)) return false;
                    if (s.chain.follow_slot >= 0) return false;
                    int p = s.chain.end;
                    for (int i = 0; i < s.branches; ++i, ++p) {
                        if (p >= n || !b.cells[p].is(Type::block)) return false;
                        s.blocks[i] = std::make_unique<Block>();
                        if (!read_block(b.cells[p], *s.blocks[i], depth + 1)) return false;
                    }
                    s.end = p;
                    if (p < n) {
                        if (is_global(b.cells[p], s.follow_slot)) s.follow_global = true;
                        else if (!is_local(b.cells[p], s.follow_slot) && !b.cells[p].is(Type::integer))
                            return false;
                    }
                    return true;
                }
                if (slot == natives::Native::return_ && fn) {
                    s.kind = StmtKind::return_;
                    s.native = *v;
                    if (pos + 1 >= n || !read_chain(b, pos + 1, s.chain, Terms::plain, depth)) return false;
                    if (s.chain.follow_slot >= 0) return false;
                    s.end = s.chain.end;
                    return true;
                }
            }
        }
        int slot;
        const Cell as_word{static_cast<std::uint32_t>(Type::word), c.data1, c.data2, c.data3};
        const bool set_global = c.is(Type::set_word) && global_value(as_word);
        if (c.is(Type::set_word) && (set_global || is_local(as_word, slot))) {
            // A set-word of an argument or a global word taking a chain
            // that starts with a value.
            s.kind = StmtKind::set;
            s.set_global = set_global;
            s.branches = set_global ? static_cast<std::int32_t>(c.data3) : slot;
            if (pos + 1 >= n || !read_chain(b, pos + 1, s.chain, Terms::all, depth)) return false;
            if (!s.chain.first.plain()) return false;
            s.end = s.chain.end;
            return true;
        }
        s.kind = StmtKind::chain;
        if (!read_chain(b, pos, s.chain, Terms::all, depth)) return false;
        s.end = s.chain.end;
        return true;
    }
};


// ---------------------------------------------------------------------------
// The emitter.

// The code made for the function value `fn` with these body, cache header
// and argument entries; null when there is none.
const void* made_code(const Cell& fn, const std::vector<Cell>& cache);

constexpr std::int32_t cell_bytes = 16;
constexpr std::uint8_t type_integer = static_cast<std::uint8_t>(Type::integer);
constexpr std::uint8_t type_logic = static_cast<std::uint8_t>(Type::logic);
constexpr std::uint8_t type_op = static_cast<std::uint8_t>(Type::op);
constexpr std::uint32_t frame_bytes_each = sizeof(stack::CallFrame);

// Byte offsets in the runtime record.
#define KIV_STATE_AT(field) static_cast<std::int32_t>(offsetof(State, field))
const std::int32_t near_at = KIV_STATE_AT(near);
const std::int32_t top_at = KIV_STATE_AT(stack_top);
const std::int32_t args_at = KIV_STATE_AT(stack_arguments);
const std::int32_t end_at = KIV_STATE_AT(stack_end);
const std::int32_t frames_top_at = KIV_STATE_AT(frames_top);
const std::int32_t frames_end_at = KIV_STATE_AT(frames_end);
const std::int32_t tracing_at = KIV_STATE_AT(tracing);
const std::int32_t thrown_at = KIV_STATE_AT(thrown_code);
const std::int32_t low_at = KIV_STATE_AT(stack_low);
#undef KIV_STATE_AT

enum class LoopKind : std::uint8_t { none, while_, repeat };

// One block being run: where its values and its saved state are.
struct Level {
    const Block* block = nullptr;
    int code_const = 0;      // pool offset of its block value
    std::int32_t base = 0;   // its result cell: byte offset from rbx
    std::int32_t first_slot = 0, near_slot = 0;  // rsp offsets
    bool chain = false;
    int verified = 0;        // cells [0, verified) compared since code last ran
    int done = 0;            // label: after the block's end
    int thrown = 0;          // label: a code pending; puts `near` back
    int outer_thrown = 0;    // label: a code pending, this level's `near` back
    int frames = 0;          // conditional frames opened inside the body
    bool leaves_near = false;  // a loop's block: `near` is left as the block leaves it
    // A loop's block: a hand-over to the interpreter returns from the code
    // with this status once the interpreter has finished the block.
    int handed = -1;
};

struct Emitter {
    Asm as;
    Reader& rd;
    const Cell fn_value;
    const Cell* cache;   // the function's argument cache (at compile time)
    int entry = 0;
    int exception_out = 0;
    int return_taken = 0;
    int frame_patch[2] = {0, 0};
    std::int32_t frame_size = 0;
    std::int32_t scratch = 0;  // rsp offset of the helpers' argument records
    std::int32_t body_near_slot = 0;
    bool failed = false;  // something the emitter cannot make exact
    std::vector<Level*> levels;
    std::vector<std::function<void()>> stubs;
    std::uint8_t* origin = cage::origin();
    interpreter::internal::NativeCodeTables tables = interpreter::internal::native_code_tables();

    Emitter(Reader& r, const Cell& fn, const Cell* c) : rd(r), fn_value(fn), cache(c) {}
    explicit Emitter(Reader& r) : rd(r), fn_value{}, cache(nullptr) {}

    std::int32_t slot(std::int32_t bytes) {
        const std::int32_t s = frame_size;
        frame_size += (bytes + 15) & ~15;
        return s;
    }

    // After a helper call: 1 goes to `thrown`, 2 out of the code.
    void check_status(int thrown) {
        const int ok = as.label();
        as.test32_rr(rax, rax);
        as.jcc(e, ok);
        as.cmp32_rimm(rax, 1);
        as.jcc(e, thrown);
        as.jmp(exception_out);
        as.bind(ok);
    }

    // The argument stack's top set to rbx + `top`, as the interpreter
    // pushes: past the stack's end, the stack-overflow error is raised
    // (out of line) and the code goes to `thrown`.
    void set_top_checked(std::int32_t top, int thrown) {
        const int overflow = as.label();
        as.lea(rax, at(rbx, top));
        as.cmp64_mem(rax, at(r12, end_at));
        as.jcc(ae, overflow);
        as.store64(at(r12, top_at), rax);
        stubs.push_back([this, overflow, thrown] {
            as.bind(overflow);
            as.call_abs(reinterpret_cast<const void*>(&help_overflow));
            check_status(thrown);
        });
    }

    // Code ran: every level reads its cells from `pos` on again.
    void code_ran(const std::vector<int>& positions) {
        for (std::size_t i = 0; i < levels.size(); ++i)
            if (levels[i]->verified > positions[i]) levels[i]->verified = positions[i];
    }
    std::vector<int> positions;  // per level, the next cell it reads
    void ran() {
        code_ran(positions);
        globals_loaded = false;
        ++ran_count;
    }

    // Fills the BlockPlace at rdi (the start of the helper's arguments)
    // with the level's block and cell `at_cell`.
    void store_place(const Level& lv, int at_cell) {
        as.lea(rax, constant(lv.code_const));
        as.store64(at(rdi, offsetof(BlockPlace, code)), rax);
        as.load64(rax, at(rsp, lv.first_slot));
        as.store64(at(rdi, offsetof(BlockPlace, first)), rax);
        as.store32_imm(at(rdi, offsetof(BlockPlace, at)), static_cast<std::uint32_t>(at_cell));
        as.store32_imm(at(rdi, offsetof(BlockPlace, length)), static_cast<std::uint32_t>(lv.block->cells.size()));
    }

    // The label of a hand-over of the rest of the level's block to the
    // interpreter from cell `at` (with `infix`: from an operator, the left
    // value pushed at the level's base). Emitted out of line.
    // With `set_word` (its cell): inside that set-word's frame, its value
    // at the level's base + 1 (see emit_set_call).
    int resume(const Level& lv, int at_cell, bool infix, int set_word = -1) {
        const int label = as.label();
        const Level copy = lv;
        stubs.push_back([this, label, copy, at_cell, infix, set_word] {
            as.bind(label);
            as.lea(rdi, at(rsp, scratch));
            store_place(copy, at_cell);
            as.lea(rax, at(rbx, copy.base));
            as.store64(at(rdi, offsetof(ResumeArgs, base)), rax);
            as.lea(rax, at(rsp, copy.near_slot));
            as.store64(at(rdi, offsetof(ResumeArgs, saved_near)), rax);
            as.store32_imm(at(rdi, offsetof(ResumeArgs, chain)), copy.chain ? 1 : 0);
            as.store32_imm(at(rdi, offsetof(ResumeArgs, infix)), infix ? 1 : 0);
            as.store32_imm(at(rdi, offsetof(ResumeArgs, leaves_near)), copy.leaves_near ? 1 : 0);
            as.store32_imm(at(rdi, offsetof(ResumeArgs, set_word)), static_cast<std::uint32_t>(set_word));
            as.call_abs(reinterpret_cast<const void*>(&help_resume));
            check_status(copy.outer_thrown);
            if (copy.handed >= 0) {
                as.mov_imm64(rax, static_cast<std::uint64_t>(copy.handed));
                as.jmp(epilogue);
            } else {
                as.jmp(copy.done);
            }
        });
        return label;
    }

    // Guards are gathered and tested together: each 16-byte comparison
    // is folded into xmm2, and flush tests the lot, a difference going to
    // its `fail`. Until then the code computes only into cells above the
    // top and into registers, so a failure finds nothing done. PERF: one
    // test a batch, not one a cell (fib 20: 355 instructions a call
    // before, 332 after, with the global values' address kept in r14).
    int gathered = 0;
    // Whether r14 holds the global values' address, checked against the
    // global context, since code last ran.
    bool globals_loaded = false;

    void gather(const Mem& m, const Cell& expected) {
        const int c = as.add_constant(expected);
        if (gathered == 0) {
            as.movdqu_load(2, m);
            as.pcmpeqb(2, constant(c));
        } else {
            as.movdqu_load(3, m);
            as.pcmpeqb(3, constant(c));
            as.pand(2, 3);
        }
        ++gathered;
    }

    void flush(int fail) {
        if (!gathered) return;
        gathered = 0;
        as.pmovmskb(rax, 2);
        as.cmp32_rimm(rax, 0xFFFF);
        as.jcc(ne, fail);
    }

    // The level's cells [verified, to) compared with those the code was
    // made for (gathered).
    void verify(Level& lv, int to) {
        if (to > static_cast<int>(lv.block->cells.size())) to = static_cast<int>(lv.block->cells.size());
        if (to <= lv.verified) return;
        const int from = lv.verified;
        lv.verified = to;
        as.load64(rdx, at(rsp, lv.first_slot));
        for (int i = from; i < to; ++i) gather(at(rdx, i * cell_bytes), lv.block->cells[i]);
    }

    // A global word's value compared with the one the code was made for
    // (gathered); the global values' address read where the interpreter's
    // lookup would find it, an empty cache going to `fail`.
    void guard_global(const Cell& word, const Cell& value, int fail) {
        load_globals(word.data1, fail);
        gather(at(r14, static_cast<std::int32_t>(word.data3) * cell_bytes), value);
    }

    // r14 set to the values of `context` when the lookup cache holds it,
    // else to `fail`.
    void load_globals(NodeId context, int fail) {
        if (globals_loaded && context == rd.global_context) return;
        as.mov_imm64(rax, reinterpret_cast<std::uint64_t>(&global_values));
        as.cmp32_imm(at(rax, 0), context);
        as.jcc(ne, fail);
        as.load64(r14, at(rax, static_cast<std::int32_t>(offsetof(interpreter::internal::GlobalValues, cells))));
        globals_loaded = context == rd.global_context;
    }

    // The cell of a word's value: a local's in the frame, a global's in
    // the global values (loaded, else to `fail`).
    Mem value_cell(bool global, int slot, int fail) {
        if (!global) return at(rbx, slot * cell_bytes);
        load_globals(rd.global_context, fail);
        return at(r14, slot * cell_bytes);
    }
    Mem value_cell(const Term& t, int fail) { return value_cell(t.kind == TermKind::global, t.slot, fail); }

    // The value of the word after a chain must not be an op (else the
    // interpreter applies it): to `fail`.
    void follow_check(bool global, int slot, int fail) {
        as.cmp8_imm(value_cell(global, slot, fail), type_op);
        as.jcc(e, fail);
    }

    void tracing_check(int fail) {
        as.cmp8_imm(at(r12, tracing_at), 0);
        as.jcc(ne, fail);
    }

    void set_top(std::int32_t off) {
        as.lea(rax, at(rbx, off));
        as.store64(at(r12, top_at), rax);
    }

    // A simple chain computed into the cell at rbx + t; a value it cannot
    // compute goes to `fail` (nothing happened: the interpreter redoes it).
    // With `ops` short of all the chain's operators, only the first term
    // and those operators, and no look at what follows. `frames`: the
    // frames the interpreter has opened for the chain when it computes it
    // (see action_operand).
    void simple_chain(const Level& lv, const Chain& ch, std::int32_t t, int fail, std::size_t ops = SIZE_MAX,
                      int frames = 0) {
        const bool whole = ops >= ch.ops.size();
        const Cell* cells = lv.block->cells.data();
        bool known_integer = false;
        if (ch.first.kind == TermKind::integer) {
            as.movdqu_load(0, constant(as.add_constant(cells[ch.first.at])));
            as.movdqu_store(at(rbx, t), 0);
            known_integer = true;
        } else {
            as.movdqu_load(0, value_cell(ch.first, fail));
            as.movdqu_store(at(rbx, t), 0);
            if (ch.ops.empty() || ops == 0) {
                // A plain value: integer! and logic! here, the rest by
                // the interpreter.
                const int ok = as.label();
                as.cmp8_imm(at(rbx, t), type_integer);
                as.jcc(e, ok);
                as.cmp8_imm(at(rbx, t), type_logic);
                as.jcc(ne, fail);
                as.bind(ok);
            }
        }
        for (std::size_t i = 0; i < ch.ops.size() && i < ops; ++i) {
            const Op& op = ch.ops[i];
            guard_global(cells[op.at], op.value, fail);
            if (!known_integer) {
                as.cmp8_imm(at(rbx, t), type_integer);
                as.jcc(ne, fail);
            }
            if (op.right.kind == TermKind::action) {
                action_operand(lv, op, t, frames, fail);
                known_integer = op.kind == OpKind::add || op.kind == OpKind::subtract || op.kind == OpKind::multiply;
                continue;
            }
            known_integer = emit_op_on(lv, op, t, fail);
        }
        if (whole && ch.follow_slot >= 0) follow_check(ch.follow_global, ch.follow_slot, fail);
    }

    // An op with a number on the right applied to the integer at rbx + t,
    // as op_math; answers whether the result is an integer.
    bool emit_op_on(const Level& lv, const Op& op, std::int32_t t, int fail) {
        const Cell* cells = lv.block->cells.data();
        const bool literal = op.right.kind == TermKind::integer;
        const std::uint32_t imm = literal ? cells[op.right.at].data2 : 0;
        if (!literal) {
            Mem r = value_cell(op.right, fail);
            as.cmp8_imm(r, type_integer);
            as.jcc(ne, fail);
            r.disp += 8;
            as.load32(rcx, r);
        }
        as.load32(rax, at(rbx, t + 8));
        if (op.kind == OpKind::add || op.kind == OpKind::subtract || op.kind == OpKind::multiply) {
            if (op.kind == OpKind::add) literal ? as.add32_imm(rax, imm) : as.add32_rr(rax, rcx);
            if (op.kind == OpKind::subtract) literal ? as.sub32_imm(rax, imm) : as.sub32_rr(rax, rcx);
            if (op.kind == OpKind::multiply) literal ? as.imul32_imm(rax, imm) : as.imul32_rr(rax, rcx);
            as.jcc(o, fail);
            as.store32(at(rbx, t + 8), rax);
            return true;
        }
        if (literal) as.cmp32_rimm(rax, imm);
        else as.cmp32_rr(rax, rcx);
        store_comparison(op.kind, t);
        return false;
    }

    // The flags of a comparison just made, as the logic! cell at rbx + t.
    void store_comparison(OpKind kind, std::int32_t t) {
        Cond c = e;
        switch (kind) {
            case OpKind::lesser: c = l; break;
            case OpKind::greater: c = g; break;
            case OpKind::lesser_or_equal: c = le; break;
            case OpKind::greater_or_equal: c = ge; break;
            case OpKind::not_equal: c = ne; break;
            default: break;
        }
        as.setcc(c, rcx);
        as.movzx8(rcx, rcx);
        as.store32_imm(at(rbx, t), type_logic);
        as.store32(at(rbx, t + 4), rcx);
        as.store64_imm(at(rbx, t + 8), 0);
    }

    // The bits of the op's cache header that its frame path reads (see
    // cache_infix_mask) at compile time; 0 when its cache is not built.
    std::uint32_t op_bits(const Cell& op) {
        const Cell* c = kept_cache(op);
        return c ? c->header & interpreter::internal::cache_infix_mask() : 0;
    }

    // Pushes a call frame at the current top (rbx + t), as push_frame.
    void open_frame(std::uint32_t header, const Cell& word, bool native_check, std::uint32_t fn_context,
                    int thrown) {
        const int slow = as.label(), write = as.label();
        as.load64(rax, at(r12, frames_top_at));
        as.cmp64_mem(rax, at(r12, frames_end_at));
        as.jcc(ae, slow);
        if (native_check) {
            as.load64(rcx, at(r12, low_at));
            as.add_imm(rcx, static_cast<std::int32_t>(stack::native_reserve));
            as.cmp_rr(rsp, rcx);
            as.jcc(b, slow);
        }
        as.bind(write);
        as.load64(rax, at(r12, frames_top_at));
        as.load64(rdx, at(r12, args_at));
        as.sub_rr(rdx, r13);
        as.store32_imm(at(rax, 0), header);
        as.store32(at(rax, 4), rdx);
        as.store32_imm(at(rax, 8), word.data1);
        as.store32_imm(at(rax, 12), word.data2);
        as.store32_imm(at(rax, 16), fn_context);
        if (fn_context) {
            // The context's values word before this frame.
            as.mov_imm64(rdx, fn_context);
            as.load32(rdx, at(r13, rdx, 0));
            as.load32(rdx, at(r13, rdx, 12));
            as.load32(rcx, at(r13, rdx, 8));
            as.store32(at(rax, 20), rcx);
        } else {
            as.store32_imm(at(rax, 20), 0);
        }
        as.add_imm(rax, static_cast<std::int32_t>(frame_bytes_each));
        as.store64(at(r12, frames_top_at), rax);
        as.load64(rax, at(r12, top_at));
        as.store64(at(r12, args_at), rax);
        const int after = as.label();
        as.jmp(after);
        stubs.push_back([this, slow, write, header, word, thrown] {
            as.bind(slow);
            as.mov_imm64(rdi, word.data2);
            as.mov_imm64(rsi, header);
            as.call_abs(reinterpret_cast<const void*>(&stack_push_named));
            check_status(thrown);
            as.jmp(write);
        });
        as.bind(after);
    }
    static int stack_push_named(std::uint32_t symbol, std::uint32_t header) {
        return guarded([&] {
            stack::push_named_frame(symbol, header);
            return Status::ok;
        });
    }

    // Closes the newest frame, the result at rbx + t: as leave_frame, with
    // the context's values put back for a function frame.
    void close_frame(std::int32_t t, bool function) {
        as.load64(rax, at(r12, frames_top_at));
        as.add_imm(rax, -static_cast<std::int32_t>(frame_bytes_each));
        as.store64(at(r12, frames_top_at), rax);
        if (function) {
            as.load32(rdx, at(rax, 16));
            as.load32(rdx, at(r13, rdx, 0));
            as.load32(rdx, at(r13, rdx, 12));
            as.load32(rcx, at(rax, 20));
            as.store32(at(r13, rdx, 8), rcx);
        }
        as.load32(rdx, at(rax, 4));
        as.lea(rdx, at(r13, rdx, 0));
        as.store64(at(r12, args_at), rdx);
        set_top(t + cell_bytes);
    }

    // rcx: the argument cache of the callable whose more block is `more`,
    // through the call table as cached_arguments finds it; not there goes
    // to `fail` (the interpreter would fill the table).
    void table_cache(NodeId more, int fail) {
        const std::uintptr_t set = reinterpret_cast<std::uintptr_t>(tables.call_entries) +
                                   ((std::uintptr_t{more} << 3) & tables.set_mask);
        const int got = as.label(), second = as.label();
        as.mov_imm64(rax, set);
        as.cmp32_imm(at(rax, 0), more);
        as.jcc(ne, second);
        as.load64(rcx, at(rax, 8));
        as.jmp(got);
        as.bind(second);
        as.cmp32_imm(at(rax, 16), more);
        as.jcc(ne, fail);
        as.load64(rcx, at(rax, 24));
        as.bind(got);
    }

    // The arithmetic of two integers, at rbx + t and rbx + r, in place of
    // the one at t, as fast_math computes it: a sum, difference or product
    // out of the 32-bit range (which the interpreter makes a float!), and a
    // divisor of 0 or -1 (whose remainder the action's entry computes),
    // go to `fail`.
    void emit_math(OpKind kind, std::int32_t t, std::int32_t r, int fail) {
        as.load32(rax, at(rbx, t + 8));
        as.load32(rcx, at(rbx, r + 8));
        switch (kind) {
            case OpKind::add: as.add32_rr(rax, rcx); break;
            case OpKind::subtract: as.sub32_rr(rax, rcx); break;
            case OpKind::multiply: as.imul32_rr(rax, rcx); break;
            case OpKind::remainder:
                as.cmp32_rimm(rcx, 0);
                as.jcc(e, fail);
                as.cmp32_rimm(rcx, 0xFFFFFFFFu);
                as.jcc(e, fail);
                as.cdq();
                as.idiv32(rcx);
                as.store32(at(rbx, t + 8), rdx);
                return;
            default:
                as.cmp32_rr(rax, rcx);
                store_comparison(kind, t);
                return;
        }
        as.jcc(o, fail);
        as.store32(at(rbx, t + 8), rax);
    }

    // A call of an integer action computed into rbx + t, the stack's next
    // cell there, as call_native_general's frameless path computes it:
    // both arguments simple and integers, and the arithmetic in range.
    // Anything else goes to `fail`, having done nothing but write cells
    // above the top (the interpreter redoes the call, with its frame, its
    // errors and its float! results). The guards gathered before are
    // tested too. PERF: a body with such calls gets native code (50,000
    // calls of `func [i] [clip remainder i 1000]`: 88.73M instructions
    // before, 85.76M after; of `func [i] [either 0 = remainder i 3 [i * 2]
    // [i]]`: 88.20M -> 73.63M).
    void action_term(const Level& lv, const Term& a, std::int32_t t, int fail) {
        guard_global(lv.block->cells[a.at], a.fn, fail);
        table_cache(a.fn.data3, fail);
        gather(at(rcx, 0), a.cache[0]);
        // The frameless path wants room for both arguments.
        as.lea(rax, at(rbx, t + 2 * cell_bytes));
        as.cmp64_mem(rax, at(r12, end_at));
        as.jcc(ae, fail);
        simple_chain(lv, a.args[0], t, fail);
        simple_chain(lv, a.args[1], t + cell_bytes, fail);
        flush(fail);
        as.cmp8_imm(at(rbx, t), type_integer);
        as.jcc(ne, fail);
        as.cmp8_imm(at(rbx, t + cell_bytes), type_integer);
        as.jcc(ne, fail);
        emit_math(a.math, t, t + cell_bytes, fail);
    }

    // The op's cache must send an operand that needs evaluating to its
    // frame, with the arithmetic the op was made for (as call_infix reads
    // it); else `fail`.
    void op_cache_check(const Op& op, int fail) {
        table_cache(op.value.data3, fail);
        as.load32(rax, at(rcx, 0));
        as.mov_imm64(rdx, interpreter::internal::cache_infix_mask());
        as.and32_rr(rax, rdx);
        const std::uint32_t bits = op_bits(op.value);
        const std::uint32_t fast = interpreter::internal::fast_bits_of(&op.value);
        if (fast == 0 || (bits & ~0x00FFFFFFu) != fast || (bits & 0x00FFFFFF) == 0) failed = true;
        as.cmp32_rimm(rax, bits);
        as.jcc(ne, fail);
    }

    // An op whose right operand is an action call applied to the integer
    // at rbx + t, as call_infix applies it. The action runs nothing, so
    // the op's frame, which would hold the two values only while they are
    // computed, is not opened; but a call stack with no room for it, above
    // the `frames` the interpreter has opened at that point, goes to `fail`
    // (the interpreter raises the error there).
    void action_operand(const Level& lv, const Op& op, std::int32_t t, int frames, int fail) {
        op_cache_check(op, fail);
        as.load64(rax, at(r12, frames_top_at));
        if (frames) as.add_imm(rax, frames * static_cast<std::int32_t>(frame_bytes_each));
        as.cmp64_mem(rax, at(r12, frames_end_at));
        as.jcc(ae, fail);
        action_term(lv, op.right, t + cell_bytes, fail);
        emit_math(op.kind, t, t + cell_bytes, fail);
    }

    // A chain that is a call argument, computed into rbx + t.
    void argument_chain(const Level& lv, const Chain& ch, std::int32_t t, int fail) {
        if (ch.first.kind == TermKind::action) action_term(lv, ch.first, t, fail);
        else simple_chain(lv, ch, t, fail);
    }

    // The guards of a call of the function itself, its argument computed
    // into rbx + t, and those gathered before: all tested before anything
    // happens, so `fail` hands over at a point the interpreter can redo.
    void prepare_call(Level& lv, const Term& call, std::int32_t t, int fail, std::int32_t fn_slot) {
        const Cell& word = lv.block->cells[call.at];
        const Cell& f = call.fn;
        guard_global(word, f, fail);
        // The argument cache through the call table, as cached_arguments.
        table_cache(f.data3, fail);
        // The body cell, the header and the argument entries.
        for (std::size_t i = 0; i < call.cache.size(); ++i)
            gather(at(rcx, (static_cast<std::int32_t>(i) - 1) * cell_bytes), call.cache[i]);
        as.movdqu_load(0, constant(as.add_constant(f)));
        as.movdqu_store(at(rsp, fn_slot), 0);
        for (std::size_t i = 0; i < call.args.size(); ++i)
            argument_chain(lv, call.args[i], t + static_cast<std::int32_t>(i) * cell_bytes, fail);
        flush(fail);
    }

    // The call itself, after prepare_call: the frame, the body, the frame
    // closed; the result at rbx + t.
    void perform_call(Level& lv, const Term& call, std::int32_t t, std::int32_t fn_slot) {
        const Cell& word = lv.block->cells[call.at];
        set_top(t);
        const Cell& f = call.fn;
        open_frame(stack::header::interpreted_function | stack::flag::body, word, true, f.data1, lv.thrown);
        // The arguments pushed.
        set_top_checked(t + static_cast<std::int32_t>(call.args.size()) * cell_bytes, lv.thrown);
        // The context's values are the frame's cells.
        as.mov_imm64(rdx, f.data1);
        as.load32(rdx, at(r13, rdx, 0));
        as.load32(rdx, at(r13, rdx, 12));
        as.lea(rax, at(rbx, t));
        as.sub_rr(rax, r13);
        as.store32(at(r13, rdx, 8), rax);
        if (call.self) {
            as.lea(rdi, at(rbx, t));
            as.call_label(entry);
        } else if (const void* code = made_code(f, call.cache)) {
            // Another function whose code was made for the value and the
            // cache just compared: called as run would. PERF: without the
            // way through the interpreter (`repeat i 100000 [total: total +
            // clip i]`: 555 instructions a round before, 394 after).
            as.lea(rdi, at(rbx, t));
            as.call_abs(code);
        } else {
            // Another function's body: its own native code or the
            // interpreter, as call_function_plain runs it.
            as.lea(rdi, at(rsp, fn_slot));
            as.lea(rsi, at(rbx, t));
            as.call_abs(reinterpret_cast<const void*>(&help_run_body));
        }
        check_status(lv.thrown);
        close_frame(t, true);
    }

    void open_level(Level& lv, int parent_thrown);
    void enter_block(const Level& lv, bool user_code, int fail);
    void emit_statements(Level& lv);
    void emit_block(Level& lv, bool user_code, int parent_thrown);
    void emit_stmt(Level& lv, const Stmt& s);
    void emit_chain_stmt(Level& lv, const Stmt& s);
    template <class HandOver>
    bool emit_ops(Level& lv, const Chain& ch, std::size_t first_op, std::int32_t t, HandOver hand_over);
    void emit_set_call(Level& lv, const Stmt& s);
    void emit_conditional(Level& lv, const Stmt& s);
    void emit_return(Level& lv, const Stmt& s);
    void emit_set(Level& lv, const Stmt& s);
    void push_result(const Level& lv);
    void flush_stubs() {
        while (!stubs.empty()) {
            auto list = std::move(stubs);
            stubs.clear();
            for (auto& f : list) f();
        }
    }
    int epilogue = 0;
    // How many times code ran (ran) in the code emitted so far.
    int ran_count = 0;
    void* build(LoopKind loop);
    int leave_with(LoopAt status);
    void emit_loop(LoopKind loop);
};

void Emitter::open_level(Level& lv, int parent_thrown) {
    lv.first_slot = slot(8);
    lv.near_slot = slot(16);
    lv.done = as.label();
    lv.thrown = as.label();
    lv.outer_thrown = parent_thrown;
    lv.code_const = as.add_constant(lv.block->code);
}

// The block's buffer, from the node of a block value compared already: its
// length as the code was made for, its first cell kept; else to `fail`.
void Emitter::enter_block(const Level& lv, bool user_code, int fail) {
    as.mov_imm64(rax, lv.block->code.data2);
    as.load32(rax, at(r13, rax, 0));
    as.lea(rcx, at(r13, rax, 0));
    if (!user_code) {
        as.test32_imm(at(rcx, 0), memory::series_flag::library_code);
        as.jcc(ne, fail);
    }
    as.load32(rdx, at(rcx, 12));
    as.load32(rsi, at(rcx, 16));
    as.sub32_rr(rsi, rdx);
    as.cmp32_rimm(rsi, static_cast<std::uint32_t>(lv.block->cells.size() * cell_bytes));
    as.jcc(ne, fail);
    as.lea(rdx, at(r13, rdx, 0));
    as.store64(at(rsp, lv.first_slot), rdx);
}

// The block's statements, `near` naming it, and its end as run_block_body's.
void Emitter::emit_statements(Level& lv) {
    levels.push_back(&lv);
    positions.push_back(0);
    as.movdqu_load(0, constant(lv.code_const));
    as.movdqu_store(at(r12, near_at), 0);
    for (const Stmt& s : lv.block->stmts) emit_stmt(lv, s);
    if (!lv.leaves_near) {
        as.movdqu_load(0, at(rsp, lv.near_slot));
        as.movdqu_store(at(r12, near_at), 0);
    }
    if (lv.chain) {
        as.movdqu_load(0, at(rbx, lv.base));
        as.load64(rax, at(r12, args_at));
        as.movdqu_store(at(rax, 0), 0);
    }
    set_top(lv.base + cell_bytes);
    levels.pop_back();
    positions.pop_back();
}

void Emitter::emit_block(Level& lv, bool user_code, int parent_thrown) {
    open_level(lv, parent_thrown);
    const int entry_fail = as.label();
    as.movdqu_load(0, at(r12, near_at));
    as.movdqu_store(at(rsp, lv.near_slot), 0);
    enter_block(lv, user_code, entry_fail);
    emit_statements(lv);
    as.jmp(lv.done);
    // A code pending: `near` back, then the enclosing level's.
    as.bind(lv.thrown);
    if (!lv.leaves_near) {
        as.movdqu_load(0, at(rsp, lv.near_slot));
        as.movdqu_store(at(r12, near_at), 0);
    }
    as.jmp(parent_thrown);
    // The entry guards failed: the whole block by the interpreter.
    const Level copy = lv;
    stubs.push_back([this, entry_fail, copy] {
        as.bind(entry_fail);
        as.lea(rdi, constant(copy.code_const));
        as.mov_imm64(rsi, copy.chain ? 1 : 0);
        as.call_abs(reinterpret_cast<const void*>(&help_run_block));
        check_status(copy.outer_thrown);
        as.jmp(copy.done);
    });
    as.bind(lv.done);
}

void Emitter::emit_stmt(Level& lv, const Stmt& s) {
    positions.back() = s.at;
    switch (s.kind) {
        case StmtKind::chain: emit_chain_stmt(lv, s); break;
        case StmtKind::conditional: emit_conditional(lv, s); break;
        case StmtKind::return_: emit_return(lv, s); break;
        case StmtKind::set: emit_set(lv, s); break;
    }
}

void Emitter::emit_chain_stmt(Level& lv, const Stmt& s) {
    const Chain& ch = s.chain;
    const int at_start = resume(lv, s.at, false);
    // The cell after a chain is compared too, whatever it held: code that
    // ran before may have made it a word holding an op, which the
    // interpreter applies to the chain's value.
    if (ch.simple()) {
        verify(lv, ch.end + 1);
        simple_chain(lv, ch, lv.base, at_start);
        flush(at_start);
        push_result(lv);
        return;
    }
    const std::int32_t t = lv.base;
    if (ch.first.kind == TermKind::action) {
        // A call of an integer action: its arguments take every operator
        // that follows, so it is the whole statement, and it runs nothing.
        verify(lv, ch.end + 1);
        action_term(lv, ch.first, t, at_start);
        as.store32_imm(at(r12, near_at + 4), static_cast<std::uint32_t>(s.at));
        set_top(t + cell_bytes);
        positions.back() = s.end;
        return;
    }
    // A statement that runs code: `near` names it, the top is its cell.
    verify(lv, ch.first.end);
    std::size_t first_op = 0;
    if (ch.first.plain()) {
        // A value and operators on numbers, up to an operator whose right
        // operand needs evaluating: computed as simple_expression does,
        // then pushed, the operators going on from there.
        while (ch.ops[first_op].right.plain()) ++first_op;
        verify(lv, ch.ops[first_op].right.end);
        simple_chain(lv, ch, t, at_start, first_op);
        flush(at_start);
        as.store32_imm(at(r12, near_at + 4), static_cast<std::uint32_t>(s.at));
        set_top(t + cell_bytes);
    } else if (ch.first.kind == TermKind::call) {
        const std::int32_t fn_slot = slot(16);
        prepare_call(lv, ch.first, t, at_start, fn_slot);
        as.store32_imm(at(r12, near_at + 4), static_cast<std::uint32_t>(s.at));
        perform_call(lv, ch.first, t, fn_slot);
    } else {
        flush(at_start);
        as.store32_imm(at(r12, near_at + 4), static_cast<std::uint32_t>(s.at));
        set_top(t);
        Level inner;
        inner.block = ch.first.paren.get();
        inner.base = t;
        inner.chain = false;
        inner.frames = lv.frames;
        positions.back() = ch.first.end;
        emit_block(inner, false, lv.thrown);
    }
    positions.back() = ch.first.end;
    bool ran_code = !ch.first.plain();  // whether the statement ran code
    if (ran_code) ran();
    if (emit_ops(lv, ch, first_op, t, [&](int at_cell) { return resume(lv, at_cell, true); })) ran_code = true;
    // The block's loop looks at tracing after a statement that ran code.
    positions.back() = s.end;
    if (ran_code) tracing_check(resume(lv, s.end, false));
}

// The chain's operators from `first_op` on, applied to the value at rbx +
// t, and the look at the cell after the chain; `hand_over(cell)` gives the
// label handing over to the interpreter at an operator's cell. Answers
// whether an operand ran code.
template <class HandOver>
bool Emitter::emit_ops(Level& lv, const Chain& ch, std::size_t first_op, std::int32_t t, HandOver hand_over) {
    bool ran_code = false;
    for (std::size_t i = first_op; i < ch.ops.size(); ++i) {
        const Op& op = ch.ops[i];
        const int at_op = hand_over(op.at);
        tracing_check(at_op);
        const bool last = i + 1 == ch.ops.size();
        verify(lv, op.right.end + (last && ch.follow_slot >= 0 ? 1 : 0));
        const Cell& word = lv.block->cells[op.at];
        guard_global(word, op.value, at_op);
        if (op.right.plain()) {
            flush(at_op);
            as.cmp8_imm(at(rbx, t), type_integer);
            as.jcc(ne, at_op);
            emit_op_on(lv, op, t, at_op);
            positions.back() = op.right.end;
            continue;
        }
        if (op.right.kind == TermKind::action) {
            as.cmp8_imm(at(rbx, t), type_integer);
            as.jcc(ne, at_op);
            action_operand(lv, op, t, 0, at_op);
            positions.back() = op.right.end;
            continue;
        }
        op_cache_check(op, at_op);
        const std::int32_t op_slot = slot(16);
        std::int32_t fn_slot = 0;
        if (op.right.kind == TermKind::call) {
            fn_slot = slot(16);
            prepare_call(lv, op.right, t + cell_bytes, at_op, fn_slot);
        } else {
            flush(at_op);
        }
        as.movdqu_load(0, constant(as.add_constant(op.value)));
        as.movdqu_store(at(rsp, op_slot), 0);
        // The op's frame starts at its left operand.
        set_top(t);
        open_frame(stack::header::interpreted_native, word, false, 0, lv.thrown);
        set_top(t + cell_bytes);
        if (op.right.kind == TermKind::call) {
            perform_call(lv, op.right, t + cell_bytes, fn_slot);
        } else {
            // A paren, run as eval_expression runs it: a block whose
            // values start past the left operand, inside the op's frame.
            // PERF: fib written `(fib n - 1) + (fib n - 2)`, 20: 724
            // instructions a call before (no native code), 339 after (322
            // written `(fib n - 1) + fib n - 2`).
            Level inner;
            inner.block = op.right.paren.get();
            inner.base = t + cell_bytes;
            inner.chain = false;
            inner.frames = lv.frames + 1;
            positions.back() = op.right.end;
            emit_block(inner, false, lv.thrown);
        }
        positions.back() = op.right.end;
        ran();
        ran_code = true;
        // The arithmetic, else the rest of call_infix by the interpreter.
        const int slow = as.label(), closed = as.label();
        as.cmp8_imm(at(rbx, t), type_integer);
        as.jcc(ne, slow);
        as.cmp8_imm(at(rbx, t + cell_bytes), type_integer);
        as.jcc(ne, slow);
        emit_math(op.kind, t, t + cell_bytes, slow);
        close_frame(t, false);
        const Level copy = lv;
        const int right_end = op.right.end;
        stubs.push_back([this, slow, closed, copy, op_slot, word, right_end] {
            as.bind(slow);
            as.lea(rdi, at(rsp, scratch));
            as.lea(rax, at(rsp, op_slot));
            as.store64(at(rdi, offsetof(InfixArgs, kept_op)), rax);
            as.lea(rax, constant(as.add_constant(word)));
            as.store64(at(rdi, offsetof(InfixArgs, word)), rax);
            store_place(copy, right_end);
            as.call_abs(reinterpret_cast<const void*>(&help_finish_infix));
            check_status(copy.thrown);
            as.jmp(closed);
        });
        as.bind(closed);
    }
    // Code that ran, here or before the statement, may have changed the
    // cell after the chain into a word holding an op, which the interpreter
    // applies next: that cell is compared, whatever it held.
    if (ch.end < static_cast<int>(lv.block->cells.size())) {
        const int at_end = hand_over(ch.end);
        verify(lv, ch.end + 1);
        flush(at_end);
        if (ch.follow_slot >= 0) follow_check(ch.follow_global, ch.follow_slot, at_end);
    }
    return ran_code;
}


// The statement's value, computed in the level's base cell, pushed as
// simple_expression pushes it.
void Emitter::push_result(const Level& lv) { set_top_checked(lv.base + cell_bytes, lv.thrown); }

// A set-word of an argument: the value computed, stored in the
// argument's cell, and pushed.
void Emitter::emit_set(Level& lv, const Stmt& s) {
    if (!s.chain.simple()) return emit_set_call(lv, s);
    const int at_start = resume(lv, s.at, false);
    verify(lv, s.end + 1);
    simple_chain(lv, s.chain, lv.base, at_start);
    const Mem target = value_cell(s.set_global, s.branches, at_start);
    flush(at_start);
    as.movdqu_load(0, at(rbx, lv.base));
    as.movdqu_store(target, 0);
    push_result(lv);
}

// A set-word taking a value and operators of which one has a call on its
// right, as set_word_to runs it: the value up to that operator computed,
// then a frame named by the set-word holding the word and the value, the
// operators applied in it, the value stored, the frame closed.
void Emitter::emit_set_call(Level& lv, const Stmt& s) {
    const Chain& ch = s.chain;
    const int at_start = resume(lv, s.at, false);
    const std::int32_t t = lv.base, v = t + cell_bytes;
    std::size_t first_op = 0;
    while (ch.ops[first_op].right.plain()) ++first_op;
    verify(lv, ch.ops[first_op].right.end);
    simple_chain(lv, ch, v, at_start, first_op);
    // The word must be one the interpreter stores into directly.
    value_cell(s.set_global, s.branches, at_start);
    flush(at_start);
    as.store32_imm(at(r12, near_at + 4), static_cast<std::uint32_t>(s.at));
    const Cell& word = lv.block->cells[s.at];
    set_top(t);
    open_frame(stack::header::interpreted_native, word, false, 0, lv.thrown);
    as.movdqu_load(0, constant(as.add_constant(word)));
    as.movdqu_store(at(rbx, t), 0);
    set_top_checked(t + 2 * cell_bytes, lv.thrown);
    positions.back() = ch.ops[first_op].at;
    emit_ops(lv, ch, first_op, v, [&](int at_cell) { return resume(lv, at_cell, true, s.at); });
    // The store, while untraced, of a value that is set to a word stored
    // directly; else the interpreter ends the set-word.
    const int finish = resume(lv, ch.end, false, s.at);
    tracing_check(finish);
    as.cmp8_imm(at(rbx, v), static_cast<std::uint8_t>(Type::unset));
    as.jcc(e, finish);
    // The interpreter stores into the word its set-word cell holds now,
    // which the code that ran may have changed.
    as.load64(rdx, at(rsp, lv.first_slot));
    gather(at(rdx, s.at * cell_bytes), word);
    flush(finish);
    const Mem target = value_cell(s.set_global, s.branches, finish);
    as.movdqu_load(0, at(rbx, v));
    as.movdqu_store(target, 0);
    as.movdqu_store(at(rbx, t), 0);
    close_frame(t, false);
    positions.back() = s.end;
    tracing_check(resume(lv, s.end, false));
}

void Emitter::emit_conditional(Level& lv, const Stmt& s) {
    const int at_start = resume(lv, s.at, false);
    const bool follows = s.end < static_cast<int>(lv.block->cells.size());
    verify(lv, s.end + (follows ? 1 : 0));
    const Cell& word = lv.block->cells[s.at];
    guard_global(word, s.native, at_start);
    if (s.negated) {
        // unless takes the general call of a native (call_native_general):
        // its cache through the call table, its two arguments pushed in its
        // frame, its entry run. PERF: 50,000 calls of `func [i] [unless i >
        // 25000 [i * 2]]`: 101.92M instructions before (no native code),
        // 90.94M after.
        const Cell* c = kept_cache(s.native);
        if (!c || c->data1 != 2 || c->data2 != 0 || !interpreter::internal::entry_takes(c + 1, Type::logic) ||
            !interpreter::internal::entry_takes(c + 2, Type::block)) {
            failed = true;
        } else {
            table_cache(s.native.data3, at_start);
            for (std::int32_t i = 0; i < 3; ++i) gather(at(rcx, i * cell_bytes), c[i]);
        }
    } else {
        // The native must be the one whose spec the interpreter checked.
        const auto* entry = static_cast<const std::uint8_t*>(tables.conditionals) + 16 * (s.branches - 1);
        as.mov_imm64(rax, reinterpret_cast<std::uint64_t>(entry));
        as.cmp32_imm(at(rax, 0), s.native.data3);
        as.jcc(ne, at_start);
        {
            // The entry is filled again by the next call after a collection
            // cleared it; until then the native's kept cache is the one it
            // will hold.
            NodeId more;
            const Cell* c;
            std::memcpy(&more, entry, 4);
            std::memcpy(&c, entry + 8, 8);
            if (more != s.native.data3) c = kept_cache(s.native);
            if (!c || !interpreter::internal::entry_takes(c + 1, Type::logic)) failed = true;
        }
    }
    const std::int32_t t = lv.base;
    // The condition is computed in the conditional's frame.
    simple_chain(lv, s.chain, t, at_start, SIZE_MAX, 1);
    as.cmp8_imm(at(rbx, t), type_logic);
    as.jcc(ne, at_start);
    const Cell* cells = lv.block->cells.data();
    if (follows && cells[s.end].is(Type::word)) follow_check(s.follow_global, s.follow_slot, at_start);
    flush(at_start);
    as.store32_imm(at(r12, near_at + 4), static_cast<std::uint32_t>(s.at));
    set_top(t);
    // unless's frame is opened as other natives' are, the native stack
    // checked too.
    open_frame(stack::header::interpreted_native, word, s.negated, 0, lv.thrown);
    if (s.negated) {
        // Its block pushed after the condition.
        as.movdqu_load(0, constant(as.add_constant(cells[s.chain.end])));
        as.movdqu_store(at(rbx, t + cell_bytes), 0);
        set_top_checked(t + 2 * cell_bytes, lv.thrown);
    }
    const int no = as.label(), join = as.label();
    as.load32(rax, at(rbx, t + 4));
    as.test32_rr(rax, rax);
    as.jcc(s.negated ? ne : e, no);
    positions.back() = s.end;
    // Each branch starts from what the condition left known.
    const bool globals_before = globals_loaded;
    for (int i = 0; i < s.branches; ++i) {
        globals_loaded = globals_before;
        if (i == 1) {
            as.jmp(join);
            as.bind(no);
        }
        // Its values start at the conditional's first cell; unless's
        // block (run by eval_block from the native's entry) starts past
        // its arguments and leaves its value in that cell.
        Level inner;
        inner.block = s.blocks[i].get();
        inner.base = s.negated ? t + 2 * cell_bytes : t;
        inner.chain = s.negated;
        inner.frames = lv.frames + 1;
        emit_block(inner, false, lv.thrown);
    }
    if (s.branches == 1) {
        as.jmp(join);
        as.bind(no);
        as.movdqu_load(0, constant(as.add_constant(Cell{static_cast<std::uint32_t>(Type::none), 0, 0, 0})));
        as.movdqu_store(at(rbx, t), 0);
        set_top(t + cell_bytes);
    }
    as.bind(join);
    close_frame(t, false);
    ran();
    if (follows) {
        // infix_unless reads the cell after the branches again, which they
        // may have changed into a word holding an op.
        const int at_end = resume(lv, s.end, true);
        verify(lv, s.end + 1);
        flush(at_end);
        if (cells[s.end].is(Type::word)) follow_check(s.follow_global, s.follow_slot, at_end);
    }
    tracing_check(resume(lv, s.end, false));
}

void Emitter::emit_return(Level& lv, const Stmt& s) {
    const int at_start = resume(lv, s.at, false);
    verify(lv, s.end + 1);
    const Cell& word = lv.block->cells[s.at];
    guard_global(word, s.native, at_start);
    as.mov_imm64(rax, reinterpret_cast<std::uint64_t>(tables.return_entry));
    as.cmp32_imm(at(rax, 0), s.native.data3);
    as.jcc(ne, at_start);
    {
        NodeId more;
        const Cell* c;
        std::memcpy(&more, tables.return_entry, 4);
        std::memcpy(&c, static_cast<const std::uint8_t*>(tables.return_entry) + 8, 8);
        if (more != s.native.data3) c = kept_cache(s.native);
        if (!c || !interpreter::internal::entry_takes(c + 1, Type::logic) ||
            !interpreter::internal::entry_takes(c + 1, Type::integer))
            failed = true;
    }
    const std::int32_t t = lv.base;
    simple_chain(lv, s.chain, t, at_start);
    flush(at_start);
    // As return_to the function's frame: the frames above it dropped, the
    // value in its result slot, each block's `near` put back (the body's
    // last), the return taken there.
    if (lv.frames) {
        as.load64(rax, at(r12, frames_top_at));
        as.add_imm(rax, -static_cast<std::int32_t>(frame_bytes_each) * lv.frames);
        as.store64(at(r12, frames_top_at), rax);
    }
    as.movdqu_load(0, at(rbx, t));
    as.movdqu_store(at(rbx, 0), 0);
    as.store64(at(r12, args_at), rbx);
    set_top(cell_bytes);
    as.movdqu_load(0, at(rsp, body_near_slot));
    as.movdqu_store(at(r12, near_at), 0);
    as.jmp(return_taken);
    // Nothing after a return runs; the emitter goes on as if it did not.
    positions.back() = s.end;
}

void* Emitter::build(LoopKind loop) {
    entry = as.label();
    exception_out = as.label();
    return_taken = as.label();
    epilogue = as.label();
    const int fn_thrown = as.label();
    as.bind(entry);
    as.push(rbp);
    as.mov_rr(rbp, rsp);
    as.push(rbx), as.push(r12), as.push(r13), as.push(r14), as.push(r15);
    // sub rsp, frame size (patched at the end).
    as.byte(0x48), as.byte(0x81), as.byte(0xEC);
    frame_patch[0] = static_cast<int>(as.code.size());
    as.u32(0);
    as.mov_rr(rbx, rdi);
    as.mov_rr(r15, rsi);
    as.mov_imm64(r12, reinterpret_cast<std::uint64_t>(&state));
    as.mov_imm64(r13, reinterpret_cast<std::uint64_t>(origin));
    scratch = slot(64);
    if (loop == LoopKind::none) {
        Level body;
        body.block = &rd.body;
        body.base = rd.slots * cell_bytes;
        body.chain = true;
        body.frames = 0;
        // emit_block takes the block's first-cell slot, then its near slot.
        body_near_slot = frame_size + 16;
        emit_block(body, true, fn_thrown);
        if (body.near_slot != body_near_slot) failed = true;
    } else {
        emit_loop(loop);
    }
    as.bind(return_taken);
    as.byte(0x31), as.byte(0xC0);  // xor eax, eax
    as.bind(epilogue);
    // add rsp, frame size.
    as.byte(0x48), as.byte(0x81), as.byte(0xC4);
    frame_patch[1] = static_cast<int>(as.code.size());
    as.u32(0);
    as.pop(r15), as.pop(r14), as.pop(r13), as.pop(r12), as.pop(rbx), as.pop(rbp);
    as.ret();
    // A code pending at the body: return and exit end here.
    as.bind(fn_thrown);
    {
        const int take = as.label();
        as.cmp32_imm(at(r12, thrown_at), throw_code::return_);
        as.jcc(e, take);
        as.cmp32_imm(at(r12, thrown_at), throw_code::exit);
        as.jcc(e, take);
        as.mov_imm64(rax, 1);
        as.jmp(epilogue);
        as.bind(take);
        as.store32_imm(at(r12, thrown_at), 0);
        as.byte(0x31), as.byte(0xC0);
        as.jmp(epilogue);
    }
    as.bind(exception_out);
    as.mov_imm64(rax, 2);
    as.jmp(epilogue);
    flush_stubs();
    if (failed) return nullptr;
    // 5 pushes after rbp: the slots keep rsp 16-byte aligned at calls.
    const std::int32_t size = ((frame_size + 15) & ~15) + 8;
    std::memcpy(&as.code[frame_patch[0]], &size, 4);
    std::memcpy(&as.code[frame_patch[1]], &size, 4);
    return install(as);
}

// A label that returns `status` from the code (out of line).
int Emitter::leave_with(LoopAt status) {
    const int label = as.label();
    stubs.push_back([this, label, status] {
        as.bind(label);
        as.mov_imm64(rax, static_cast<std::uint64_t>(status));
        as.jmp(epilogue);
    });
    return label;
}

// The rounds of a while or repeat loop whose frame the native opened, its
// value cell at rbx (r15: the repeat's counter). A round's guards (the
// blocks' buffers and cells, the global values) are tested at its start
// only after a round that ran code: otherwise nothing could have changed
// them. Each block leaves `near` as the interpreter's rounds do; a
// hand-over finishes the block in the interpreter and returns, the loop's
// native going on in the interpreter from there.
void Emitter::emit_loop(LoopKind loop) {
    const bool is_while = loop == LoopKind::while_;
    const int at_round = leave_with(LoopAt::round);
    Level cond, body;
    if (is_while) {
        cond.block = &rd.cond;
        cond.leaves_near = true;
        cond.handed = static_cast<int>(LoopAt::test);
        open_level(cond, leave_with(LoopAt::cond_thrown));
    }
    body.block = &rd.body;
    body.leaves_near = true;
    body.handed = static_cast<int>(LoopAt::after_body);
    open_level(body, leave_with(LoopAt::body_thrown));
    const int guards = as.label(), head = as.label();
    as.bind(guards);
    if (is_while) {
        enter_block(cond, true, at_round);
        verify(cond, static_cast<int>(cond.block->cells.size()));
    }
    enter_block(body, true, at_round);
    verify(body, static_cast<int>(body.block->cells.size()));
    globals_loaded = false;
    load_globals(rd.global_context, at_round);
    flush(at_round);
    as.bind(head);
    const int ran_at_head = ran_count;
    if (is_while) {
        set_top(0);
        emit_statements(cond);
        // The test, for a logic! value; any other by the interpreter.
        const int go = as.label();
        as.cmp8_imm(at(rbx, 0), type_logic);
        as.jcc(ne, leave_with(LoopAt::test));
        as.cmp32_imm(at(rbx, 4), 0);
        as.jcc(ne, go);
        as.movdqu_load(0, constant(as.add_constant(Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0})));
        as.movdqu_store(at(rbx, 0), 0);
        as.mov_imm64(rax, static_cast<std::uint64_t>(LoopAt::ended));
        as.jmp(epilogue);
        as.bind(go);
        if (ran_count != ran_at_head) {
            // The condition ran code: the body's block is read afresh.
            const int at_body = leave_with(LoopAt::body);
            body.verified = 0;
            enter_block(body, true, at_body);
            verify(body, static_cast<int>(body.block->cells.size()));
            flush(at_body);
        }
    } else {
        // The counter past the count ends the loop; else it is the word's
        // value, written in place as the interpreter's rounds write it.
        const int more = as.label();
        const Mem word = value_cell(true, rd.word_slot, at_round);
        as.load64(rax, at(r15, offsetof(LoopCounter, i)));
        as.cmp64_mem(rax, at(r15, offsetof(LoopCounter, count)));
        as.jcc(le, more);
        as.mov_imm64(rax, static_cast<std::uint64_t>(LoopAt::ended));
        as.jmp(epilogue);
        as.bind(more);
        as.store32_imm(word, type_integer);
        as.store32_imm(at(word.base, word.disp + 4), 0);
        as.store32(at(word.base, word.disp + 8), rax);
        as.store32_imm(at(word.base, word.disp + 12), 0);
    }
    set_top(0);
    emit_statements(body);
    if (!is_while) {
        as.load64(rax, at(r15, offsetof(LoopCounter, i)));
        as.add_imm(rax, 1);
        as.store64(at(r15, offsetof(LoopCounter, i)), rax);
    }
    as.jmp(ran_count != ran_at_head ? guards : head);
    // A code pending: the blocks leave `near` as it is.
    for (Level* lv : {&cond, &body}) {
        if (!lv->block) continue;
        as.bind(lv->thrown);
        as.jmp(lv->outer_thrown);
    }
}

// ---------------------------------------------------------------------------
// The code made: functions' by their more node, loops' by their body's node.

using Code = int (*)(Cell* base, LoopCounter* counter);

struct Entry {
    NodeId more = 0;  // the key: a function's more node, a loop body's node
    std::uint32_t calls = 0;
    bool failed = false;
    LoopKind loop = LoopKind::none;
    Code code = nullptr;
    Cell fn{};  // the function value, or the loop's body, made for
    // A function's body cell, header and argument entries; a while's
    // condition or a repeat's word.
    Cell cache[2 + 8]{};
    // A loop's: the cells of its blocks it was made for (a block's node
    // may be another block's later).
    std::vector<Cell> cells;
};
constexpr std::uint32_t entry_count = table_size;
Entry entries[entry_count];
Entry loop_entries[entry_count];
std::uint32_t compaction_seen = 0;

std::uint32_t slot_of(NodeId key) { return (key >> 2) % entry_count; }

// How many activations of native code are running (on the C stack).
std::uint32_t active = 0;

Reader reader_for(const Cell* fn, const Cell* cache, NodeId context, std::int32_t arity) {
    return Reader{fn, context, arity, arity, global_values.cells, global_values.context, 0, {}, {}, 0, cache};
}

const void* made_code(const Cell& fn, const std::vector<Cell>& cache) {
    const Entry& e = entries[slot_of(fn.data3)];
    if (e.more != fn.data3 || !e.code || cache.size() > std::size(e.cache)) return nullptr;
    if (std::memcmp(&e.fn, &fn, sizeof(Cell)) != 0 ||
        std::memcmp(e.cache, cache.data(), cache.size() * sizeof(Cell)) != 0)
        return nullptr;
    return reinterpret_cast<const void*>(e.code);
}

Code compile(const Cell* fn, const Cell* cache) {
    const auto arity = static_cast<std::int32_t>(cache->data1);
    if (cache->data2 != 0 || cache->data3 != cache->data1 || arity < 1 || arity > 8) return nullptr;
    if (fn->header & (function::flag::trace | function::flag::no_trace)) return nullptr;
    for (std::int32_t i = 1; i <= arity; ++i)
        if (!interpreter::internal::entry_takes(cache + i, Type::integer) ||
            !interpreter::internal::entry_takes(cache + i, Type::logic))
            return nullptr;
    if (global_values.context == interpreter::internal::no_context) return nullptr;
    Reader rd = reader_for(fn, cache, fn->data1, arity);
    if (!rd.read_block(cache[-1], rd.body, 0)) return nullptr;
    Emitter em(rd, *fn, cache);
    return reinterpret_cast<Code>(em.build(LoopKind::none));
}

// A loop of global words: while's (`other` its condition) or repeat's
// (`other` its word).
Code compile_loop(LoopKind loop, const Cell* body, const Cell* other) {
    if (global_values.context == interpreter::internal::no_context) return nullptr;
    Reader rd = reader_for(nullptr, nullptr, interpreter::internal::no_context, 0);
    if (loop == LoopKind::while_) {
        if (!rd.read_block(*other, rd.cond, 0)) return nullptr;
    } else {
        const Cell word{static_cast<std::uint32_t>(Type::word), other->data1, other->data2, other->data3};
        if (!other->is(Type::word) || !rd.global_value(word)) return nullptr;
        rd.word_slot = static_cast<std::int32_t>(other->data3);
    }
    if (!rd.read_block(*body, rd.body, 0)) return nullptr;
    Emitter em(rd);
    return reinterpret_cast<Code>(em.build(loop));
}

}  // namespace

void forget() {
    for (Entry& e : entries) e = Entry{};
    for (Entry& e : loop_entries) e = Entry{};
    for (NodeId& n : without_code) n = 0;
}

namespace {
// Node compaction renumbers nodes: the table's keys may then name others.
void after_collection() {
    const std::uint32_t n = collector::node_compaction_count();
    if (n != compaction_seen) {
        compaction_seen = n;
        forget();
    }
}

// Starts the code area afresh once it is full, when no native code is
// running (nothing returns into it): every function's code is forgotten,
// to be made again on its next calls.
void recycle_arena() {
    if (!arena_full || active != 0) return;
    forget();
    arena_used = 0;
    arena_full = false;
}

// The entry's code for `key`, made at its `uses`th use by `make`; null when
// there is none (`without` then holds the key).
template <class Make>
[[gnu::noinline]] Code make_code(Entry& e, NodeId key, NodeId& without, std::uint32_t uses, Make make) {
    if (e.more != key) {
        e = Entry{};
        e.more = key;
        without = 0;
    }
    if (e.failed || ++e.calls < uses) return nullptr;
    Code code = make();
    if (!code && arena_full && active == 0) {
        recycle_arena();
        e = Entry{};
        e.more = key;
        code = make();
    }
    if (!code) {
        e.failed = true;
        without = key;
        return nullptr;
    }
    e.code = code;
    return code;
}
template <class Make>
[[gnu::always_inline]] inline Code code_of(Entry& e, NodeId key, NodeId& without, std::uint32_t uses, Make make) {
    if (e.more == key && e.code) [[likely]]
        return e.code;
    return make_code(e, key, without, uses, make);
}

// Whether n cells are the same, bit for bit. PERF: inline, not memcmp's
// call (a call into native code from the interpreter: 108 instructions
// before, 90 after).
[[gnu::always_inline]] inline bool same_cells(const Cell* a, const Cell* b, std::uint32_t n) {
    std::uint64_t diff = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint64_t x[2], y[2];
        std::memcpy(x, a + i, sizeof(Cell));
        std::memcpy(y, b + i, sizeof(Cell));
        diff |= (x[0] ^ y[0]) | (x[1] ^ y[1]);
    }
    return diff == 0;
}

int execute(Code code, Cell* base, LoopCounter* counter) {
    ++active;
    const int r = code(base, counter);
    if (--active == 0 && arena_full) [[unlikely]]
        recycle_arena();
    if (r == 2) std::rethrow_exception(std::exchange(pending, nullptr));
    return r;
}

// The cells of a loop's blocks, in a buffer of the caller's.
void loop_cells(LoopKind loop, const Cell* body, const Cell* other, std::vector<Cell>& out) {
    out.clear();
    for (const Cell* b : {loop == LoopKind::while_ ? other : nullptr, body}) {
        if (!b) continue;
        memory::SeriesBuffer* buffer = block::buffer(b);
        out.insert(out.end(), buffer->cells(), buffer->cells_tail());
    }
}

LoopAt run_loop(LoopKind loop, const Cell* body, const Cell* other, Cell* result, LoopCounter* counter) {
    if (!enabled || state.tracing) return LoopAt::not_run;
    Entry& e = loop_entries[slot_of(body->data2)];
    // Code made for other cells under the same node is made again.
    static std::vector<Cell> now;
    if (e.more == body->data2 && e.code) {
        loop_cells(loop, body, other, now);
        if (now.size() != e.cells.size() || std::memcmp(now.data(), e.cells.data(), now.size() * sizeof(Cell)) != 0)
            e = Entry{};
    }
    const bool made = e.more == body->data2 && e.code;
    NodeId unused = 0;
    const Code code = code_of(e, body->data2, unused, 1, [&] { return compile_loop(loop, body, other); });
    if (!code) return LoopAt::not_run;
    if (!made) {
        e.loop = loop;
        e.fn = *body;
        e.cache[0] = *other;
        loop_cells(loop, body, other, e.cells);
    }
    if (e.loop != loop || std::memcmp(&e.fn, body, sizeof(Cell)) != 0 ||
        std::memcmp(&e.cache[0], other, sizeof(Cell)) != 0)
        return LoopAt::not_run;
    return static_cast<LoopAt>(execute(code, result, counter));
}
}  // namespace

void init() {
    const char* v = std::getenv("KIV_NATIVE_CODE");
    enabled = !(v && v[0] == '0');
    collector::register_hook(after_collection);
}

Ran run(const Cell* fn, const Cell* cache, Cell* base) {
    if (!enabled || state.tracing) return Ran::not_run;
    const std::uint32_t i = slot_of(fn->data3);
    Entry& e = entries[i];
    const bool made = e.more == fn->data3 && e.code;
    const Code code = code_of(e, fn->data3, without_code[i], 2, [&] { return compile(fn, cache); });
    if (!code) return Ran::not_run;
    if (!made) {
        e.fn = *fn;
        std::memcpy(e.cache, cache - 1, sizeof(Cell) * (2 + cache->data1));
    }
    if (!same_cells(&e.fn, fn, 1) || !same_cells(e.cache, cache - 1, 2 + cache->data1)) return Ran::not_run;
    return execute(code, base, nullptr) == 0 ? Ran::ok : Ran::thrown;
}

LoopAt run_while(Cell* f, Cell* result) { return run_loop(LoopKind::while_, f + 1, f, result, nullptr); }

LoopAt run_repeat(Cell* f, Cell* result, LoopCounter* counter) {
    return run_loop(LoopKind::repeat, f + 2, f, result, counter);
}

}  // namespace kiv::native_code
