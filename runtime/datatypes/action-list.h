// The 62 actions, in slot order. ORDER ACTIONS: a slot number is stored in
// action! values and in every datatype's row; never reorder this list.
//
// X(slot, identifier, language name, first argument's name, result type,
//   parameter list)
//
// The parameter list is the signature of a datatype's function for the slot.
// Conventions: a flag refinement arrives as bool; a refinement with an
// argument arrives as the argument cell, or nullptr when it was not used.
// A function leaves its result in the first argument cell (the frame's result
// slot) or returns another cell that the caller copies there.
// set-path has no action word of its own: a path assignment runs eval-path.
#pragma once

#define KIV_ACTION_LIST(X)                                                                 \
    X(1, make, "make", "type", Cell*, (Cell * proto, Cell * spec, Type type))              \
    X(2, random, "random", "value", Cell*, (Cell * value, bool seed, bool secure, bool only)) \
    X(3, reflect, "reflect", "value", Cell*, (Cell * value, Cell * field))                \
    X(4, to, "to", "type", Cell*, (Cell * proto, Cell * spec, Type type))                  \
    X(5, form, "form", "value", int,                                                       \
      (Cell * value, Cell * buffer, Cell * part_arg, int part))                            \
    X(6, mold, "mold", "value", int,                                                       \
      (Cell * value, Cell * buffer, bool only, bool all, bool flat, Cell * part_arg,        \
       int part, int indent))                                                              \
    X(7, eval_path, "eval-path", "parent", Cell*, KIV_EVAL_PATH_PARAMS)                    \
    X(8, set_path, "set-path", "parent", Cell*, KIV_EVAL_PATH_PARAMS)                      \
    X(9, compare, "compare", "value1", int, (Cell * value1, Cell * value2, CompareOp op))  \
    X(10, absolute, "absolute", "value", Cell*, (Cell * value))                            \
    X(11, add, "add", "value1", Cell*, (Cell * value1, Cell * value2))                     \
    X(12, divide, "divide", "value1", Cell*, (Cell * value1, Cell * value2))               \
    X(13, multiply, "multiply", "value1", Cell*, (Cell * value1, Cell * value2))           \
    X(14, negate, "negate", "number", Cell*, (Cell * number))                              \
    X(15, power, "power", "number", Cell*, (Cell * number, Cell * exponent))               \
    X(16, remainder, "remainder", "value1", Cell*, (Cell * value1, Cell * value2))         \
    X(17, round, "round", "n", Cell*,                                                      \
      (Cell * n, Cell * scale, bool even, bool down, bool half_down, bool floor,            \
       bool ceiling, bool half_ceiling))                                                   \
    X(18, subtract, "subtract", "value1", Cell*, (Cell * value1, Cell * value2))           \
    X(19, even_q, "even?", "number", bool, (Cell * number))                                \
    X(20, odd_q, "odd?", "number", bool, (Cell * number))                                  \
    X(21, and_, "and~", "value1", Cell*, (Cell * value1, Cell * value2))                   \
    X(22, complement, "complement", "value", Cell*, (Cell * value))                        \
    X(23, or_, "or~", "value1", Cell*, (Cell * value1, Cell * value2))                     \
    X(24, xor_, "xor~", "value1", Cell*, (Cell * value1, Cell * value2))                   \
    X(25, append, "append", "series", Cell*, KIV_INSERT_PARAMS)                            \
    X(26, at, "at", "series", Cell*, (Cell * series, Cell * index))                        \
    X(27, back, "back", "series", Cell*, (Cell * series))                                  \
    X(28, change, "change", "series", Cell*,                                               \
      (Cell * series, Cell * value, int part, bool only, int dup))                         \
    X(29, clear, "clear", "series", Cell*, (Cell * series))                                \
    X(30, copy, "copy", "value", Cell*,                                                    \
      (Cell * value, Cell * result, Cell * part, bool deep, Cell * types))                 \
    X(31, find, "find", "series", Cell*,                                                   \
      (Cell * series, Cell * value, Cell * part, bool only, bool case_, bool same,          \
       bool any, Cell * with, Cell * skip, bool last, bool reverse, bool tail, bool match)) \
    X(32, head, "head", "series", Cell*, (Cell * series))                                  \
    X(33, head_q, "head?", "series", Cell*, (Cell * series))                               \
    X(34, index_q, "index?", "series", Cell*, (Cell * series))                             \
    X(35, insert, "insert", "series", Cell*, KIV_INSERT_PARAMS)                            \
    X(36, length_q, "length?", "series", int, (Cell * series))                             \
    X(37, move, "move", "origin", Cell*, (Cell * origin, Cell * target, Cell * part))      \
    X(38, next, "next", "series", Cell*, (Cell * series))                                  \
    X(39, pick, "pick", "series", Cell*, (Cell * series, int index, Cell * index_arg))     \
    X(40, poke, "poke", "series", Cell*,                                                   \
      (Cell * series, int index, Cell * value, Cell * index_arg))                          \
    X(41, put, "put", "series", Cell*, (Cell * series, Cell * key, Cell * value, bool case_)) \
    X(42, remove, "remove", "series", Cell*, (Cell * series, Cell * part, Cell * key))     \
    X(43, reverse, "reverse", "series", Cell*, (Cell * series, Cell * part, Cell * skip))  \
    X(44, select, "select", "series", Cell*,                                               \
      (Cell * series, Cell * value, Cell * part, bool only, bool case_, bool same,          \
       bool any, Cell * with, Cell * skip, bool last, bool reverse))                       \
    X(45, sort, "sort", "series", Cell*,                                                   \
      (Cell * series, bool case_, Cell * skip, Cell * comparator, Cell * part, bool all,    \
       bool reverse, bool stable))                                                         \
    X(46, skip, "skip", "series", Cell*, (Cell * series, Cell * offset))                   \
    X(47, swap, "swap", "series1", Cell*, (Cell * series1, Cell * series2))                \
    X(48, tail, "tail", "series", Cell*, (Cell * series))                                  \
    X(49, tail_q, "tail?", "series", Cell*, (Cell * series))                               \
    X(50, take, "take", "series", Cell*, (Cell * series, Cell * part, bool deep, bool last)) \
    X(51, trim, "trim", "series", Cell*,                                                   \
      (Cell * series, bool head, bool tail, bool auto_, bool lines, bool all, Cell * with)) \
    X(52, create, "create", "port", Cell*, (Cell * port))                                  \
    X(53, close, "close", "port", Cell*, (Cell * port))                                    \
    X(54, delete_, "delete", "file", Cell*, (Cell * file))                                 \
    X(55, modify, "modify", "target", Cell*,                                               \
      (Cell * target, Cell * field, Cell * value, bool case_))                             \
    X(56, open, "open", "port", Cell*,                                                     \
      (Cell * port, bool new_, bool read, bool write, bool seek, Cell * allow))            \
    X(57, open_q, "open?", "port", Cell*, (Cell * port))                                   \
    X(58, query, "query", "target", Cell*, (Cell * target))                                \
    X(59, read, "read", "source", Cell*,                                                   \
      (Cell * source, Cell * part, Cell * seek, bool binary, bool lines, bool info,         \
       Cell * as))                                                                         \
    X(60, rename, "rename", "from", Cell*, (Cell * from, Cell * to))                       \
    X(61, update, "update", "port", Cell*, (Cell * port))                                  \
    X(62, write, "write", "destination", Cell*,                                            \
      (Cell * destination, Cell * data, bool binary, bool lines, bool info, bool append,    \
       Cell * part, Cell * seek, Cell * allow, Cell * as))

// One step of a path: the value reached so far, the element selecting from
// it, the value to assign (nullptr when reading), the whole path, the value
// before the parent and the element that produced the parent, the element's
// position, two evaluator flags (case, get), whether this is the last
// element, and whether the change must be reported to the parent's owner.
#define KIV_EVAL_PATH_PARAMS                                                              \
    (Cell * parent, Cell * element, Cell * value, Cell * path, Cell * grand_parent,        \
     Cell * previous, int index, bool case_, bool get, bool last, bool report)

// append and insert share one function per datatype; `append` says which
// action called. part is the count of values to insert (-1: all), dup the
// number of repetitions (1 without /dup).
#define KIV_INSERT_PARAMS \
    (Cell * series, Cell * value, int part, bool only, int dup, bool append)
