#!/usr/bin/env bash
# Builds the lexer fuzz target with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. Not part of the normal build.
#   tests/fuzz/build.sh && build-fuzz/lexer-fuzz -max_total_time=600 \
#       -dict=tests/fuzz/lexer.dict build-fuzz/corpus tests/fuzz/seeds
set -euo pipefail
cd "$(dirname "$0")/../.."
out=build-fuzz
mkdir -p "$out/corpus"
flags=(-std=c++20 -g -O1 -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
clang++ "${flags[@]}" -o "$out/lexer-fuzz" \
  tests/fuzz/lexer-fuzz.cpp tests/unit/lexer-harness.cpp \
  runtime/evaluator/lexer.cpp runtime/evaluator/lexer-text.cpp runtime/evaluator/lexer-numbers.cpp \
  runtime/fire.cpp
echo "built $out/lexer-fuzz"
