// Start-up's share of the boot image: the time to decode the image against
// the time to lex the same sources, with the sources built into the program
// repeated until the text is about the size the whole library will have.
// Not part of the normal build:
//   cmake --build build --target kiv-boot-bench && build/kiv-boot-bench
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/embedded.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/init.h"
#include "runtime/services/kivbin.h"

namespace {

template <class F>
double best_of(int runs, F&& f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    return best;
}

}  // namespace

int main() {
    kiv::runtime::init();
    std::string text;
    for (const kiv::embedded::Source* s = kiv::embedded::sources; s->path; ++s) text += s->text;
    std::string library;
    while (library.size() < 400000) library += text;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(library.data());
    kiv::Cell loaded;
    const double lex = best_of(10, [&] {
        kiv::lexer::scan(&loaded, bytes, library.size(), false, true, true, false, nullptr, nullptr,
                         nullptr, nullptr);
    });
    kiv::Cell records;
    kiv::block::make_at(&records, 1);
    kiv::block::append_value(&records, &loaded);
    for (bool packed : {false, true}) {
        kiv::Cell image;
        kiv::kivbin::encode_boot(&records, packed, &image);
        kiv::memory::SeriesBuffer* b = kiv::binary::buffer(&image);
        const double decode = best_of(10, [&] { kiv::kivbin::boot_load(b->head(), b->used_bytes()); });
        std::printf("%zu bytes of source: lexed in %.2f ms; %s image of %u bytes decoded in %.2f ms\n",
                    library.size(), lex * 1000, packed ? "compressed" : "plain", b->used_bytes(),
                    decode * 1000);
    }
    return 0;
}
