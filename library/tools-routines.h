// The routine behind `trace` given true or false: it switches the
// interpreter's event stream of a traced evaluation under way, which the
// library written in Kiv cannot reach otherwise.
#pragma once

namespace kiv::tools_routines {

// Makes the routine and binds its global word `_set-tracing`. Needs the
// library routines' binding done (a text loader installed).
void bind();

}  // namespace kiv::tools_routines
