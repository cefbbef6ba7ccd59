// symbol!: the symbol table. Every word names a symbol, an interned
// spelling; a symbol id is the 1-based position of its cell in the symbol
// block. A spelling that differs from an earlier one only in case gets its
// own symbol (so molding keeps the spelling), aliased to the first spelling,
// its canonical symbol. An alias always names a canonical symbol. Symbols
// are never removed, so ids are stable for the life of the process.
//
// A symbol cell: data1 the alias (-1 when canonical), data2 the node of its
// string! (0 until first needed), data3 the node of its UTF-8 text, NUL
// terminated, whose tail stops before the NUL.
//
// GC: interning allocates. Cell and text pointers answered here point into
// the symbol block and stay valid until the next interning.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace kiv::symbol {

// Registers symbol! (compare only). A datatype registration of start-up.
void init();
// Makes the empty symbol block for `size` symbols and keeps it as a
// collector root. Start-up calls it once.
void init_table(std::int32_t size = 4000);
// Makes the hash index over the symbol block, for `size` symbols, and keeps
// it as a collector root. Start-up calls it once, after case folding; no
// symbol is interned before.
void init_index(std::int32_t size = 4000);
// The hash table over the symbol block.
NodeId table();
std::uint32_t count();

// Interns a spelling: an exact spelling answers its id; a case variant of an
// existing spelling becomes a new symbol aliased to it.
std::uint32_t make(const char* text);
std::uint32_t make_from_buffer(const std::uint8_t* text, std::int32_t length);
// Interns the string's text from its index.
std::uint32_t make_from_string(Cell* string);
// Any existing spelling without regard to case is answered as it is.
std::uint32_t make_any_case(const char* text);

// The symbol's cell, with its string built.
Cell* get(std::uint32_t id);
// Builds the symbol's string on first use.
void cache_string(std::uint32_t id);
// The canonical id.
std::uint32_t resolve(std::uint32_t id);
// The raw alias word: -1 for a canonical symbol.
std::int32_t alias_of(std::uint32_t id);
// The UTF-8 text.
std::string_view text(std::uint32_t id);

}  // namespace kiv::symbol
