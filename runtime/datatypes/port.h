// port!: an object that stands for an external resource reached through a
// scheme. The cell is an object's (object.h) with class id 2; the context's
// fields are those of `system/standard/port`: spec, scheme, actor, awake,
// state, data, extra. The datatype does no I/O of its own: it makes the
// port from a spec, finds the scheme's actor in `system/schemes`, and hands
// the series and I/O actions to that actor.
//
// An actor is either an object! whose fields are functions named after the
// actions (a scheme written in the language), called with the port, the
// action's arguments and each refinement's flag as a logic! followed by its
// argument or none; or a handle! made by `make_native_actor` over a table
// of native action functions (a scheme written in C++), to which every
// action from `append` on goes with the arguments the dispatcher passes.
// `read` and `write` on an object actor are made of its `open`, `copy`,
// `insert` and `close`.
//
// GC: making a port evaluates its spec and every forwarded action runs the
// actor's code: both may run anything.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::port {

constexpr std::int32_t class_id = 2;

// The fields of a port, by position.
namespace field {
constexpr std::int32_t spec = 0;
constexpr std::int32_t scheme = 1;
constexpr std::int32_t actor = 2;
constexpr std::int32_t count = 7;
}  // namespace field

// Makes `out` a handle! that stands for a native scheme's actions: the
// table's functions from `append` to `write` (null: not supported); the
// others are never called. The table must live as long as the process;
// the same table always gives the same handle, which any copy keeps
// valid. Pass the handle to `register-scheme/native`.
Cell* make_native_actor(Cell* out, const ActionFns* table);

// The port's actor; fires access invalid-port unless it is an object!.
Cell get_actor(const Cell* port);

// Makes a port from a spec object, or from a block evaluated over a copy of
// `system/standard/url-parts`; answers `out`. Fires access no-scheme,
// unknown-scheme or invalid-actor.
Cell* make_from_spec(Cell* spec, Cell* out);

// Registers port! (parent object!) and routes the url! actions of schemes
// other than http to ports.
void init();

}  // namespace kiv::port
