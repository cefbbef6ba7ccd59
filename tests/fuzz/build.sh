#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz/. Not part of the normal build.
#   tests/fuzz/build.sh && build-fuzz/lexer-fuzz -max_total_time=600 \
#       -dict=tests/fuzz/lexer.dict build-fuzz/corpus tests/fuzz/seeds
#   build-fuzz/kivbin-fuzz -max_total_time=600 -rss_limit_mb=4096 \
#       build-fuzz/kivbin-corpus tests/fuzz/kivbin-seeds
set -euo pipefail
cd "$(dirname "$0")/../.."
out=build-fuzz
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
# The sanitizer layout: the cage goes where the kernel puts it, since the
# fixed address of the plain build lies in the address sanitizer's shadow.
sanitize="$sanitize -DKIV_SANITIZE=1"
# The runtime library, instrumented for the fuzzer but without its main.
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=fuzzer-no-link $sanitize" >/dev/null
cmake --build "$out" --target kivcore -j 4
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer $sanitize -o "$out/lexer-fuzz" \
  tests/fuzz/lexer-fuzz.cpp tests/unit/lexer-harness.cpp tools/boot-image-empty.cpp "$out/libkivcore.a" -lcrypto -lpthread -lm
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer $sanitize -o "$out/kivbin-fuzz" \
  tests/fuzz/kivbin-fuzz.cpp tools/boot-image-empty.cpp "$out/libkivcore.a" -lcrypto -lpthread -lm
mkdir -p "$out/corpus" "$out/kivbin-corpus"
echo "built $out/lexer-fuzz and $out/kivbin-fuzz"
