#!/usr/bin/env bash
# Builds everything and runs every test: the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with leak checking
# (build-asan/), then each fuzzer for a short bounded run (scripts/fuzz.sh).
# This is the README's test command and what CI runs.
#
# One sanitized build serves all tests: a second, plain build of the same
# suite found nothing the sanitized one misses and doubled the time.
# scripts/run.sh builds the plain program in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

phase() { echo "test.sh: $1 done after ${SECONDS}s"; }

VANTREL_BUILD_DIR=build-asan VANTREL_BUILD_TYPE=Debug VANTREL_CMAKE_ARGS="-DVANTREL_SANITIZE=ON" scripts/build.sh
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1 \
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300)
phase "sanitizer build and tests"

if command -v clang++ >/dev/null; then
  echo "test.sh: fuzzing from ${SECONDS}s"
  scripts/fuzz.sh 20
else
  echo "test.sh: clang++ not found, fuzzers not run"
fi
