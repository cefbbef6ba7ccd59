#include "runtime/boot.h"

#include <cstring>
#include <iterator>

#include "runtime/embedded.h"

namespace kiv::boot {

namespace {

#define KIV_BOOT_SOURCES(number, name, ...) \
    constexpr const char* sources_##number[] = {__VA_ARGS__ __VA_OPT__(, ) nullptr};
KIV_BOOT_GROUPS(KIV_BOOT_SOURCES)
#undef KIV_BOOT_SOURCES

constexpr Group group_table[] = {
#define KIV_BOOT_ROW(number, name, ...) {number, name, sources_##number},
    KIV_BOOT_GROUPS(KIV_BOOT_ROW)
#undef KIV_BOOT_ROW
};

bool needs_quotes(const char* arg) {
    if (*arg == '\0') return true;
    return std::strpbrk(arg, " \t") != nullptr;
}

}  // namespace

const Group* groups() { return group_table; }
int group_count() { return static_cast<int>(std::size(group_table)); }

const char* source_text(const char* path) {
    for (const embedded::Source* s = embedded::sources; s->path; ++s)
        if (std::strcmp(s->path, path) == 0) return s->text;
    return nullptr;
}

std::string command_line(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += ' ';
        if (needs_quotes(argv[i])) {
            line += '"';
            line += argv[i];
            line += '"';
        } else {
            line += argv[i];
        }
    }
    return line;
}

}  // namespace kiv::boot
