#!/usr/bin/env bash
# Builds everything and runs every test: the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with leak checking
# (build-asan/), and beside it each fuzzer for a short bounded run
# (scripts/fuzz.sh, one at a time: the suite mostly waits and leaves a core
# to spare). This is the README's test command and what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/suite.sh

phase() { echo "test.sh: $1 done after ${SECONDS}s"; }

suite_build
phase "sanitizer build"
fuzz_pid=
if [[ $suite_fuzzers == 1 ]]; then
  fuzz_log=$suite_dir/fuzz.log
  VANTREL_FUZZ_BUILD_DIR=$suite_dir VANTREL_FUZZ_BUILD_TYPE=Debug VANTREL_FUZZ_JOBS=1 \
    scripts/fuzz.sh 6 >"$fuzz_log" 2>&1 &
  fuzz_pid=$!
  trap '[[ -n $fuzz_pid ]] && kill $fuzz_pid 2>/dev/null' EXIT
fi
suite_status=0
suite_ctest --output-on-failure || suite_status=$?
phase "tests"

fuzz_status=0
if [[ -n $fuzz_pid ]]; then
  wait $fuzz_pid || fuzz_status=$?
  fuzz_pid=
  cat "$fuzz_log"
  phase "fuzzing"
fi
exit $((suite_status != 0 || fuzz_status != 0))
