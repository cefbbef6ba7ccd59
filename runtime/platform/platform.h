// The thin layer between the runtime and the operating system: pages for the
// memory manager, the platform part of start-up, the current directory,
// environment variables, sleeping, the clock and the date with its zone.
// Each wrapper makes one or two system calls and converts the result; only
// the page wrappers fail loudly (a NativeThrow with a page-failure code,
// which the memory manager turns into a language error). Text crosses as
// UTF-8. Nothing here touches language values or runs the collector.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::platform {

// --- pages ---
std::size_t page_size();
// Fresh zeroed read/write pages (read/write/execute with the flag).
// Throws page_allocation_failed.
void* allocate_pages(std::size_t size, bool executable);
// Throws page_release_failed.
void free_pages(void* address, std::size_t size);
// Address space without access, committed piece by piece below; the memory
// manager's cage. Throws page_allocation_failed.
void* reserve_pages(std::size_t size);
// Makes reserved pages readable and writable. Throws page_allocation_failed.
void commit_pages(void* address, std::size_t size);
// Gives the pages' memory back and makes them inaccessible again; their
// contents are zero when committed anew. Throws page_release_failed.
void decommit_pages(void* address, std::size_t size);

// --- start-up ---
void init();

// The calling thread's usable stack [low, high) and the size of the guard
// region below it (0 when unknown).
struct StackBounds {
    char* low;
    char* high;
    std::size_t guard;
};
StackBounds current_stack();

// --- current directory and environment ---
// A NUL-terminated UTF-8 path from tracked allocation (the caller frees it)
// and its length in bytes without the NUL; null and 0 when it cannot be had.
char* get_current_dir(std::size_t& length);
bool set_current_dir(const char* path);
// A null value removes the variable.
bool set_env(const char* name, const char* value);
// Copies the value with its NUL when it fits and answers its length; answers
// the size needed (NUL included) when `size` is too small, 0 when not set.
std::size_t get_env(const char* name, char* buffer, std::size_t size);

// --- time ---
// The sleep `wait` takes for a duration in seconds: at least 1 ms.
std::uint64_t wait_milliseconds(double seconds);
void wait(double seconds);
// Seconds since midnight, UTC; with `precise` the fraction to 100 ns.
double get_time(bool precise);
// The packed date: year << 17 | month << 12 | day << 7 | zone (7 bits); the
// zone is 0 with `utc`, else the local zone.
std::uint32_t get_date(bool utc);
// The 7-bit zone field for an offset east of UTC in minutes: hours (4 bits)
// and sign (0x10) shifted left by 2, quarter hours in the low 2 bits.
std::uint32_t zone_field(int bias_minutes);

}  // namespace kiv::platform
