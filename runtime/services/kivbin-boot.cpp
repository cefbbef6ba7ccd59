// The boot image: its records made from the sources built into the program
// (the image builder's side) and its loading at start-up (the runtime's
// side).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/console-output.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/error-exit.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/services/kivbin-internal.h"
#include "runtime/services/kivbin.h"
#include "runtime/test-hooks.h"

namespace kiv::kivbin {

namespace {

// The boot root block. GC: a collector root, registered at each load.
NodeId boot_root = 0;

// Appends the source's path as a file! and its loaded values as a block!.
void add_source(Cell* records, const char* path, const char* text) {
    Cell file;
    string::make_at(&file, 0);
    string::append_literal(&file, path);
    file.set_type(Type::file);
    block::append_value(records, &file);
    Cell values;
    lexer::scan(&values, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text), false, true,
                true, true, nullptr, nullptr, nullptr, nullptr);
    block::append_value(records, &values);
}

[[noreturn]] void boot_failure(const std::string& line) {
    console_output::write_latin1_line(line.data(), line.size());
    runtime::exit_process(1);
}

std::string refusal_line(const KivError& e) {
    if (e.id == ErrorId::script_kb_invalid_record && e.arg_count > 0)
        return "Error: KIVBIN - invalid record at index " +
               std::to_string(static_cast<std::int32_t>(e.args[0].data2));
    return std::string("Error: Kivbin boot image refused (") + error_info(e.id).name + ")";
}

// Restores the collector switch on every way out.
struct CollectorOff {
    bool saved = collector::active();
    CollectorOff() { collector::set_active(false); }
    ~CollectorOff() { collector::set_active(saved); }
};

// The image a test build was asked to load instead of the built-in one.
bool read_replacement(std::vector<std::uint8_t>* image) {
    const char* path = runtime::test_hooks::boot_image_file();
    if (!path) return false;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) boot_failure(std::string("Error: cannot read ") + path);
    std::uint8_t chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        image->insert(image->end(), chunk, chunk + n);
    std::fclose(f);
    return true;
}

}  // namespace

Cell* boot_records(Cell* out) {
    block::make_at(out, 32);
    for (int g = 0; g < boot::group_count(); ++g) {
        const boot::Group& group = boot::groups()[g];
        for (int i = 0; i < group.count; ++i) {
            const char* path = group.steps[i].source;
            const char* text = path ? boot::source_text(path) : nullptr;
            if (text) add_source(out, path, text);
        }
    }
    return out;
}

void boot_load(const std::uint8_t* image, std::size_t length) {
    CollectorOff off;
    // A fresh block each time: a test that loads again has reset the heap,
    // and with it the roots.
    boot_root = memory::alloc_cells(64);
    collector::register_root(&boot_root);
    Refusal refusal = Refusal::none;
    try {
        refusal = decode_image(image, length, boot_root, false, nullptr);
    } catch (const KivError& e) {
        boot_failure(refusal_line(e));
    }
    if (refusal == Refusal::magic) boot_failure("Error: Not a Kivbin file!");
    if (refusal == Refusal::payload) boot_failure("Error: Kivbin compressed data corrupted!");
}

void init() {
    // A start-up without an image (the unit tests') must not read the block
    // of an earlier heap, which a reset has dropped.
    boot_root = 0;
    std::vector<std::uint8_t> replacement;
    if (read_replacement(&replacement)) boot_load(replacement.data(), replacement.size());
    else if (boot_image_size > 0) boot_load(boot_image, boot_image_size);
}

Cell* boot_roots(Cell* out) {
    if (!boot_root) return none::make_at(out);
    return block::init_at(out, boot_root);
}

bool boot_source(const char* path, Cell* out) {
    if (!boot_root) return false;
    const std::size_t length = std::strlen(path);
    memory::SeriesBuffer* b = memory::buffer_of(boot_root);
    for (std::uint32_t i = 0; i + 1 < b->length(); i += 2) {
        const Cell* file = b->cells() + i;
        if (!file->is(Type::file) || !b->cells()[i + 1].is(Type::block)) continue;
        const std::string name = string::to_utf8(file);
        if (name.size() == length && std::memcmp(name.data(), path, length) == 0) {
            *out = b->cells()[i + 1];
            return true;
        }
    }
    return false;
}

}  // namespace kiv::kivbin
