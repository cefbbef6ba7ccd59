#include "runtime/platform/platform.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/console-output.h"
#include "runtime/throw.h"
#include "runtime/tracked-alloc.h"

namespace kiv::platform {

namespace {

[[noreturn]] void page_failure(std::uint32_t code) { throw NativeThrow{code}; }

}  // namespace

// --- pages ---

std::size_t page_size() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

void* allocate_pages(std::size_t size, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* pages = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) page_failure(throw_code::page_allocation_failed);
    return pages;
}

void free_pages(void* address, std::size_t size) {
    if (munmap(address, size) != 0) page_failure(throw_code::page_release_failed);
}

void* reserve_pages(std::size_t size) {
    void* pages = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (pages == MAP_FAILED) page_failure(throw_code::page_allocation_failed);
    return pages;
}

void commit_pages(void* address, std::size_t size) {
    if (mprotect(address, size, PROT_READ | PROT_WRITE) != 0)
        page_failure(throw_code::page_allocation_failed);
}

void decommit_pages(void* address, std::size_t size) {
    // LINUX: MADV_DONTNEED drops the memory of a private anonymous mapping;
    // the next touch of a page after re-commit sees zeros.
    if (madvise(address, size, MADV_DONTNEED) != 0 || mprotect(address, size, PROT_NONE) != 0)
        page_failure(throw_code::page_release_failed);
}

// --- start-up ---

void init() {
    // LINUX: no imaging start-up, object-model apartment or wide-character
    // stream mode exists here: streams carry UTF-8 bytes as they are.
    // FIXME: the cryptographic provider starts here once it exists.
    console_output::init();
}

StackBounds current_stack() {
    StackBounds bounds{nullptr, nullptr, 0};
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return bounds;
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
        bounds.low = static_cast<char*>(low);
        bounds.high = bounds.low + size;
    }
    pthread_attr_getguardsize(&attr, &bounds.guard);
    pthread_attr_destroy(&attr);
    return bounds;
}

// --- current directory and environment ---

char* get_current_dir(std::size_t& length) {
    std::size_t size = 256;
    char* buffer = static_cast<char*>(memory::allocate(size));
    while (!getcwd(buffer, size)) {
        if (errno != ERANGE) {
            memory::free(buffer);
            length = 0;
            return nullptr;
        }
        size *= 2;
        buffer = static_cast<char*>(memory::resize(buffer, size));
    }
    length = std::strlen(buffer);
    return buffer;
}

bool set_current_dir(const char* path) { return chdir(path) == 0; }

bool set_env(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

std::size_t get_env(const char* name, char* buffer, std::size_t size) {
    const char* value = std::getenv(name);
    if (!value) return 0;
    std::size_t length = std::strlen(value);
    if (length >= size) return length + 1;
    std::memcpy(buffer, value, length + 1);
    return length;
}

// --- time ---

std::uint64_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    // Also takes NaN to the minimum; the cap keeps the conversion defined.
    if (!(ms >= 1.0)) ms = 1.0;
    ms = std::min(ms, 9.0e15);
    return static_cast<std::uint64_t>(ms);
}

void wait(double seconds) {
    std::uint64_t ms = wait_milliseconds(seconds);
    timespec left{static_cast<std::time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // A signal handler that returns cuts the sleep short; sleep on.
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
    }
}

double get_time(bool precise) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    double t = static_cast<double>(now.tv_sec % 86400);
    if (!precise) return t;
    return t + static_cast<double>(now.tv_nsec / 100 * 100) / 1e9;
}

std::uint32_t zone_field(int bias_minutes) {
    std::uint32_t magnitude = static_cast<std::uint32_t>(std::abs(bias_minutes));
    std::uint32_t hours = std::min<std::uint32_t>(magnitude / 60, 15);
    std::uint32_t quarters = (magnitude % 60) / 15;
    std::uint32_t sign = bias_minutes < 0 ? 0x10 : 0;
    return ((hours | sign) << 2) | quarters;
}

std::uint32_t get_date(bool utc) {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    std::uint32_t zone = 0;
    if (utc) {
        gmtime_r(&now, &parts);
    } else {
        localtime_r(&now, &parts);
        zone = zone_field(static_cast<int>(parts.tm_gmtoff / 60));
    }
    auto year = static_cast<std::uint32_t>(parts.tm_year + 1900);
    auto month = static_cast<std::uint32_t>(parts.tm_mon + 1);
    auto day = static_cast<std::uint32_t>(parts.tm_mday);
    return year << 17 | month << 12 | day << 7 | zone;
}

}  // namespace kiv::platform
