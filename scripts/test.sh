#!/usr/bin/env bash
# Builds everything and runs every test: the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with leak checking
# (build-asan/), then each fuzzer for a short bounded run (scripts/fuzz.sh).
# This is the README's test command and what CI runs.
#
# One build serves both: with clang the suite and the fuzzers come out of the
# same sanitized, coverage-instrumented build (libFuzzer is linked into the
# fuzz programs only). Without clang the suite is built with gcc and the
# fuzzers are left out. scripts/run.sh builds the plain program in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

phase() { echo "test.sh: $1 done after ${SECONDS}s"; }

if command -v clang++ >/dev/null; then
  export CC=clang CXX=clang++
  options="-DVANTREL_FUZZ=ON"
else
  echo "test.sh: clang++ not found, fuzzers not built"
  options="-DVANTREL_SANITIZE=ON"
fi
VANTREL_BUILD_DIR=build-asan VANTREL_BUILD_TYPE=Debug VANTREL_CMAKE_ARGS="$options" scripts/build.sh
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1 \
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300)
phase "sanitizer build and tests"

if [[ "$options" == *FUZZ* ]]; then
  VANTREL_FUZZ_BUILD_DIR=build-asan VANTREL_FUZZ_BUILD_TYPE=Debug scripts/fuzz.sh 6
  phase "fuzzing"
fi
