#!/usr/bin/env bash
# Builds Kiv and runs every test three ways: the normal build, the same build
# with a collection at every allocation (KIV_GC_STRESS=1), and a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON
# Both builds share the cores: the sanitizer build runs while the normal
# build's tests run.
cmake --build build -j "$kiv_jobs"
cmake --build build-san -j "$kiv_jobs" >build-san.log 2>&1 &
san_build=$!

status=0
echo "== normal build"
ctest --test-dir build --output-on-failure -j "$kiv_jobs" || status=1
echo "== KIV_GC_STRESS=1"
KIV_GC_STRESS=1 ctest --test-dir build --output-on-failure -j "$kiv_jobs" || status=1

echo "== sanitizers"
if wait $san_build; then
  ASAN_OPTIONS=detect_leaks=0:detect_stack_use_after_return=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-san --output-on-failure -j "$kiv_jobs" || status=1
else
  cat build-san.log
  status=1
fi
exit $status
