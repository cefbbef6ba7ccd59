// MT19937 state and draws, and the secure source over getrandom(2).
// The state is constant-initialized to the start-up seed, so no start-up
// order can let a draw see an unseeded generator.
#include "runtime/evaluator/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "runtime/fire.h"

namespace kiv::random {

namespace {

constexpr int state_words = 624;
constexpr int shift_offset = 397;
constexpr std::uint32_t matrix = 0x9908B0DFu;
constexpr std::uint32_t upper_mask = 0x80000000u;
constexpr std::uint32_t lower_mask = 0x7FFFFFFFu;

struct Generator {
    std::uint32_t state[state_words];
    int index;  // next word to hand out; state_words means regenerate first

    constexpr explicit Generator(std::uint32_t seed) : state{}, index(0) { reseed(seed); }

    constexpr void reseed(std::uint32_t seed) {
        state[0] = seed;
        for (int i = 1; i < state_words; ++i) {
            const std::uint32_t prev = state[i - 1];
            state[i] = 1812433253u * (prev ^ (prev >> 30)) + static_cast<std::uint32_t>(i);
        }
        index = state_words;
    }

    void regenerate() {
        for (int i = 0; i < state_words; ++i) {
            const std::uint32_t y =
                (state[i] & upper_mask) | (state[(i + 1) % state_words] & lower_mask);
            state[i] = state[(i + shift_offset) % state_words] ^ (y >> 1) ^ ((y & 1) ? matrix : 0);
        }
        index = 0;
    }

    std::uint32_t next() {
        if (index >= state_words) regenerate();
        std::uint32_t y = state[index++];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9D2C5680u;
        y ^= (y << 15) & 0xEFC60000u;
        y ^= y >> 18;
        return y;
    }
};

constinit Generator generator(startup_seed);

std::int32_t raw_draw(bool secure) { return secure ? secure_next() : next(); }

}  // namespace

void init() { generator.reseed(startup_seed); }

void seed(std::int32_t value) { generator.reseed(static_cast<std::uint32_t>(value)); }

std::uint32_t next_word() { return generator.next(); }

std::int32_t next() { return static_cast<std::int32_t>(generator.next() & lower_mask); }

void secure_bytes(std::span<std::uint8_t> out) {
    while (!out.empty()) {
        const ssize_t got = getrandom(out.data(), out.size(), 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            fire(ErrorId::internal_feature_na);
        }
        // Large requests may be answered in parts.
        out = out.subspan(static_cast<std::size_t>(got));
    }
}

std::int32_t secure_next() {
    std::uint8_t bytes[4];
    secure_bytes(bytes);
    std::uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return static_cast<std::int32_t>(word & lower_mask);
}

std::int32_t uniform(bool secure, std::int32_t n) {
    constexpr std::int32_t max = 2147483647;
    if (n == 0) return 0;
    // -n does not exist for the smallest integer; its draw needs no rejection.
    if (n == -max - 1) return -1 - raw_draw(secure);
    if (n < 0) return -uniform(secure, -n);
    // Only draws below the largest multiple of n keep every result equally likely.
    const std::int32_t limit = (max / n) * n;
    std::int32_t r;
    do r = raw_draw(secure);
    while (r >= limit);
    return r % n + 1;
}

}  // namespace kiv::random
