#!/usr/bin/env bash
# Builds everything and runs every test: the normal build in build/, the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer with leak
# checking in build-asan/, then, where clang is installed, each fuzzer for a
# short bounded run (scripts/fuzz.sh). This is the README's test command and
# what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

phase() { echo "test.sh: $1 done after ${SECONDS}s"; }

scripts/build.sh
(cd "${VANTREL_BUILD_DIR:-build}" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300)
phase "build and tests"

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
