// url!: a uniform resource locator held as text (the string layout). Beyond
// string! it builds urls from blocks, molds with percent escapes, extends
// through paths, and hands reads and writes to the HTTP client (schemes
// starting with "http") or to a port made from the url. The percent coding
// that enhex, dehex and the lexer use lives here too.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::url {

// Which bytes below 128 stay as they are when escaping.
enum class Table {
    url,         // letters, digits and ! # $ & ' ( ) * + , - . / : = ? _ ~ @
    unreserved,  // letters, digits and - . _ ~
};

// Whether the byte stays unescaped under the table (never for 128 and up).
bool kept_q(Table table, std::uint8_t byte);

// The text to emit for one byte: the byte itself (*count 1) or "%" and two
// upper-case hexadecimal digits (*count 3), in a static buffer that the next
// call overwrites.
const char* escape_byte(Table table, std::uint8_t byte, int* count);

// Appends the text from its index, as UTF-8 bytes escaped by the unreserved
// table, to `out` (enhex). Allocates.
void encode_text(Cell* text, Cell* out);
// Appends the text from its index with its percent escapes decoded to `out`
// (dehex): escaped bytes that form a UTF-8 sequence become one code point, a
// lone escaped byte the code point of its value; everything else is copied.
// Allocates.
void decode_text(Cell* text, Cell* out);

// The HTTP client: makes `result` the response, or none when no request
// was made. `method` is a word; `headers` and `data` may be null. Set by the
// HTTP service; while unset no request is made.
using HttpRequest = void (*)(Cell* result, Cell* method, Cell* url, Cell* headers, Cell* data,
                             bool binary, bool lines, bool info);
extern HttpRequest http_request;

// Makes `port` a port! from the url's parsed spec, opened with the flags
// when `open` is set. Set by the port and url-parsing units; while unset no
// url parses into a spec, which raises script invalid-arg with the url.
using OpenPort = void (*)(Cell* url, Cell* port, bool new_, bool read, bool write, bool seek,
                          Cell* allow, bool open);
extern OpenPort open_port;

// Registers url!, after string!.
void init();

}  // namespace kiv::url
