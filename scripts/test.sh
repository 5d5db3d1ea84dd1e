#!/usr/bin/env bash
# Builds everything and runs every test: the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with leak checking
# (build-asan/), then each fuzzer for a short bounded run (scripts/fuzz.sh).
# This is the README's test command and what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/suite.sh

phase() { echo "test.sh: $1 done after ${SECONDS}s"; }

suite_build
suite_ctest --output-on-failure
phase "sanitizer build and tests"

if [[ $suite_fuzzers == 1 ]]; then
  VANTREL_FUZZ_BUILD_DIR=$suite_dir VANTREL_FUZZ_BUILD_TYPE=Debug scripts/fuzz.sh 6
  phase "fuzzing"
fi
