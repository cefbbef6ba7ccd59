// The lexer alone on the text of bench/load.kiv: the C++ figure of that
// bench, with no interpreter around it. Not part of the normal build:
//   cmake --build build --target kiv-load-bench && build/kiv-load-bench
// prints the text size, the values loaded and the best time of five loads.
#include <chrono>
#include <cstdio>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/init.h"

int main() {
    kiv::runtime::init();
    const std::string item = "[1 2.5 \"abc\" [x 3 \"de\"] word -7 #issue 1:30:00 %file.txt 3x4 a/b/c] ";
    std::string text;
    for (int i = 0; i < 80000; ++i) text += item;
    double best = 1e9;
    int count = 0;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        kiv::Cell values;
        kiv::lexer::scan(&values, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), false, true,
                         true, false, nullptr, nullptr, nullptr, nullptr);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
        count = kiv::block::ks_length(&values);
    }
    std::printf("%zu bytes, %d values, best of 5: %.3f s\n", text.size(), count, best);
    return 0;
}
