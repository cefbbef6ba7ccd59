// The lexer's entries for the language: scanning UTF-8 bytes or a string's
// characters in one of three modes (load, scan, prescan), optionally for
// one value, optionally reporting each lexical event to a callback function
// of the language; syntax errors raised as language errors (category
// syntax) through `fire`; the `transcode` native; and the hooks that let
// words and blocks load from text.
//
// A string! is scanned as UTF-8 made in a scratch buffer of 100,000 bytes
// shared by nested scans (a larger text takes a temporary block of its
// own); positions reported for it count characters, for a binary! bytes.
//
// GC: every entry may allocate and, with a callback, run any code. The
// callback and the input value are kept in the scan's record on the C++
// stack, where the stack scan sees them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/throw.h"

namespace kiv::lexer {

// Scans `count` bytes (`input`: the string! or binary! they come from, for
// positions and callbacks; may be null). The modes: load when both
// `not_prescan` and `not_scan` are set, else scan or prescan. With `one` the
// scan stops after the first complete value; `keep_block` still delivers a
// block then. The values go to `result` (a block, or the first value), or
// are appended to `into` when given. `consumed` receives how far the scan
// got: bytes, or characters when `input` is a string!. `callback` is a
// function! (or null). Answers the datatype id of the last token: error!
// after a failed scan or prescan, 0 when there was none.
int scan(Cell* result, const std::uint8_t* bytes, std::size_t count, bool one, bool not_prescan,
         bool not_scan, bool keep_block, std::int64_t* consumed, const Cell* callback,
         const Cell* input, Cell* into);

// The same over the characters of a string from its index (`length`
// characters, -1: to the tail).
int scan_string(Cell* result, Cell* string, std::int64_t length, bool one, bool not_prescan,
                bool not_scan, bool keep_block, std::int64_t* consumed, const Cell* callback,
                Cell* into);

// Loads the string's text (from its index; `size` characters, -1: all) into
// a new block at `slot`; with `one`, only the first value. `consumed`
// (may be null) receives the characters consumed. Syntax errors are raised.
void transcode(Cell* slot, Cell* string, std::int64_t size, bool one, std::int64_t* consumed);

// Loads UTF-8 text into a new block at `out`. Syntax errors are raised.
Cell* load_utf8(const char* text, std::size_t length, Cell* out);

// The datatype id the UTF-8 text's first value would load as, without
// making it: error! for a malformed token, 0 when there is no token.
int scan_type(const std::uint8_t* bytes, std::size_t count);

// What the `transcode` native was given besides its source: each refinement
// is null (or false) when absent.
struct TranscodeRefinements {
    bool next = false;
    bool one = false;
    bool prescan = false;
    bool scan = false;
    const Cell* part = nullptr;   // /part: an integer!, or a series of the source's kind
    Cell* into = nullptr;         // /into: a block!
    const Cell* trace = nullptr;  // /trace: a function!
};

// The `transcode` native: `src` is a string! or binary!; the answer goes to
// `result` (a block, a value, a datatype or none). Answers thrown when a
// callback left a break, return, throw or similar pending.
Status transcode_native(Cell* src, const TranscodeRefinements& refinements, Cell* result);

// The native's entry in the natives table's calling convention: the frame
// holds the source, then the refinements' arguments where args[1..7] say
// (/next /one /prescan /scan /part /into /trace; -1 when not given). The
// table has checked the arguments.
Status transcode_entry(const std::int32_t* args, std::int32_t count);

// ---------------------------------------------------------------------------
// Callbacks

// A callback is a function! (or routine!) of five arguments (event, input,
// type, line, token) called in a frame named <lexer-callback> through the
// interpreter's entry (eval-api.h); its result decides whether the event is
// taken, and moving its input makes the scan go on from there.

// The events a callback takes: the words (prescan, scan, load, open, close,
// error) of a block that begins its body; every event when the body does
// not begin with a block.
std::uint32_t event_mask_of(const Cell* body);

// The block `system/lexer/exit-states`: what a callback receives as the
// type of a token kind without a datatype.
Cell* make_exit_states(Cell* out);

// ---------------------------------------------------------------------------
// Start-up

// Installs the loading of words and blocks from text (word::set_text_loader,
// block::load_text_hook) and makes the scratch buffer. Part of lexer::init.
void init_scan();

}  // namespace kiv::lexer
