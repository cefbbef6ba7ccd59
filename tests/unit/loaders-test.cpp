#include <gtest/gtest.h>
#include <cstdio>
#include "tests/unit/load-support.h"
namespace kiv {
using namespace test;
class Loaders : public LoadTest {};
TEST_F(Loaders, Explore) {
    const char* texts[] = {"a 'b :c d: /e #f", "\"x^/y\" {a{b}c}", "1 -2 1'000 2147483648 -2147483648 FFh",
      "1.5 1e3 1.#INF 5% 1:30 -1:30", "#\"a\" %a%20b %\"a b\" http://x.y/%20", "#(true) #(none) #(integer!) #(int)",
      "a/b/c 'a/b :a/b a/b:", "[1 (2 3)]", "#[a 1]", "1''0", "[a", "a]", "1-Jan-2000", "$1", "%%{a}%b}%%",
      "\n\"a\"\nb", "1x2 1.2.3 #{0A0B} <a> a@b.c @r (1, 2)", "a/b:/c", ","};
    for (const char* t : texts) std::printf("%s => %s\n", t, load_mold(t).c_str());
}
}
