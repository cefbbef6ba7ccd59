// ref!: a string value written after "@" (@name); the text holds the
// characters after the "@". A child of string!; it molds with its "@", and
// takes neither append nor put.
#pragma once

namespace kiv::ref {

// Registers ref!; string! must be registered first.
void init();

}  // namespace kiv::ref
