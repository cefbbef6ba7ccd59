// The HTTP client behind `read` and `write` on http and https urls: one
// synchronous request per call, answering the response body as a string!,
// a binary! or a block of lines, or a block of the status, the response
// headers and the body. `init` installs it as the url! actions' hook.
//
// LINUX: requests go through libcurl, loaded by the first request (internal
// feature-na when it is missing). Connecting gives up after 60 seconds
// and a response slower than a byte a second over 30 seconds is abandoned
// (the request then counts as not made), so a request never waits forever; redirects are followed (at most 10, http and
// https only). The status never decides the result: an error status still
// answers its body.
//
// The request's method, headers and body are checked and turned into bytes
// before the connection opens; the answer's values are made after it
// closed, so an error fired while making them leaves nothing open.
#pragma once

#include <cstddef>

#include "runtime/cell.h"

namespace kiv::http {

// Makes one request. `method` is a word (get, head and post are GET, HEAD
// and POST; any other word's spelling upper-cased is the verb); `url` a
// url! or string!; `headers` a block! of name/value pairs or null (null
// sends the default headers); `data` a string! or binary! or null (GET and
// HEAD send no body whatever it is). Leaves `result` untouched (none) when
// the request could not be made. Fires script invalid-arg for a method,
// header or body that cannot be sent, script too-long for a body that
// cannot fit in a series, access invalid-utf8 for a text body that is not
// UTF-8. Allocates.
void request(Cell* result, Cell* method, Cell* url, Cell* headers, Cell* data, bool binary,
             bool lines, bool info);

// Makes `out` the map of the response headers in `text` (lines ending in
// LF, a CR before it dropped): keys are words spelled as the names arrive,
// values strings; a name given more than once maps to a block of its values
// in arrival order. Status lines and lines without a name and a colon are
// left out. Allocates.
Cell* parse_headers(const char* text, std::size_t size, Cell* out);

// Installs the url! actions' hook. A start-up step.
void init();

}  // namespace kiv::http
