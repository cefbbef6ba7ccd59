// The type predicates: routine! values that test the datatype id of their
// argument as it stands, unevaluated (`block?`, `any-string?` ...). A
// single-type predicate compares the id with its datatype's; a typeset
// predicate reads the typeset its global word (`any-list!` for `any-list?`)
// holds at each call, so it follows a redefinition of that word.
//
// GC: binding loads the specs and makes values; the predicates themselves
// never allocate.
#pragma once

namespace kiv::type_predicates {

// Makes the predicates and binds their global words, single-type ones
// first, in the library's order. Needs what library_routines::bind needs.
void bind();

}  // namespace kiv::type_predicates
