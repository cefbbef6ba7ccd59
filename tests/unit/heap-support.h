// Helpers for tests that need a heap of known layout: they run in a forked
// child that starts from an empty heap, so they neither see nor disturb the
// heap of the other tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/memory.h"

namespace kiv::test {

// Runs `body` in a child process on a fresh heap (no stress, no per-cycle
// check, collector switched off) and fails when any expectation in the
// child failed or the child died.
template <class Body>
void isolated(Body body) {
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        memory::reset();
        memory::set_stress(false);
        collector::set_verify(false);
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "child ended with status " << status;
}

// Overwrites the dead stack below the caller, so that stale copies of
// pointers from returned calls don't keep or pin buffers in the next cycle.
// Uninstrumented, so that no red zone around the area keeps old words.
[[gnu::noinline, gnu::no_sanitize_address]] inline void clear_stack() {
    char area[64 * 1024];
    std::memset(area, 0, sizeof area);
    asm volatile("" : : "r"(area) : "memory");  // the stores must happen
}

// One cycle from a clean stack.
[[gnu::noinline]] inline void collect() {
    clear_stack();
    collector::do_cycle();
}

inline memory::SeriesFrame* frame_holding(const void* p) {
    for (auto* f = memory::series_frame(memory::record.series_head); f;
         f = memory::series_frame(f->next))
        if (cage::offset_of(p) >= cage::offset_of(f) && cage::offset_of(p) < f->end) return f;
    return nullptr;
}

inline void expect_heap_sound() {
    std::string problem;
    EXPECT_TRUE(collector::verify_heap(&problem)) << problem;
}

}  // namespace kiv::test
