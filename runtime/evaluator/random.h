// The runtime's one random source: an MT19937 generator for ordinary draws
// and the system's secure source for /secure draws, plus the uniform draw of
// 1..n that the datatypes' `random` actions share. The generator's state is
// a process global, already seeded with `startup_seed` before any code runs,
// so every fresh process draws the same sequence until it is re-seeded.
#pragma once

#include <cstdint>
#include <span>

namespace kiv::random {

constexpr std::uint32_t startup_seed = 19650218;

// Seeds the generator back to its start-up state.
void init();
// MT19937's seeding by one 32-bit word; a negative seed counts as its bits.
void seed(std::int32_t value);
// The generator's next 32-bit output.
std::uint32_t next_word();
// The next output with its top bit cleared: 0..2^31-1.
std::int32_t next();

// Fills `out` from the system's secure source; fires internal `feature-na`
// when the source fails.
void secure_bytes(std::span<std::uint8_t> out);
// Four secure bytes with the top bit cleared: 0..2^31-1.
std::int32_t secure_next();

// A uniform draw: 1..n for n > 0, -|n|..-1 for n < 0, 0 for n = 0 (which
// draws nothing). Draws come from the secure source when `secure` is set.
std::int32_t uniform(bool secure, std::int32_t n);

}  // namespace kiv::random
