#!/usr/bin/env bash
# Builds the libFuzzer programs with clang into build-fuzz/ (or
# VANTREL_FUZZ_BUILD_DIR, of type VANTREL_FUZZ_BUILD_TYPE) and runs each from
# its committed inputs for SECONDS (default 20). New inputs go to a temporary
# folder, so the committed corpus stays as it is; an input that fails a check
# is kept in build-fuzz/findings/<program>/. VANTREL_FUZZ_JOBS programs run
# at a time (default 2, one per core).
# Usage: scripts/fuzz.sh [SECONDS [PROGRAM...]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
programs=("${@:2}")
[[ ${#programs[@]} -gt 0 ]] || programs=(strtodbl readback voltage_entry resource_expression recording_reader serve_query)
build_dir=${VANTREL_FUZZ_BUILD_DIR:-build-fuzz}
build_type=${VANTREL_FUZZ_BUILD_TYPE:-RelWithDebInfo}

jobs=${VANTREL_FUZZ_JOBS:-2}
# A folder already configured for fuzzing is only brought up to date: the
# test command fuzzes beside a ctest run that reads the same folder's files.
if ! grep -qs '^VANTREL_FUZZ:BOOL=ON' "$build_dir/CMakeCache.txt"; then
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DVANTREL_FUZZ=ON >/dev/null
fi
cmake --build "$build_dir" --target vantrel_fuzzers

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Results are reported in order, whatever order the programs end in.
run() {
  local program=$1 findings="$build_dir/findings/$1"
  local inputs=("tests/fuzz/corpus/$program")
  [[ -d "tests/fuzz/crashes/$program" ]] && inputs+=("tests/fuzz/crashes/$program")
  mkdir -p "$work/$program" "$findings"
  # -timeout: one input taking this long counts as a hang.
  local status=0
  "$build_dir/fuzz_$program" -max_total_time="$seconds" -timeout=10 -artifact_prefix="$findings/" \
    "$work/$program" "${inputs[@]}" >"$work/$program.log" 2>&1 || status=$?
  echo "$status" >"$work/$program.status"
}
for program in "${programs[@]}"; do
  while [[ $(jobs -rp | wc -l) -ge $jobs ]]; do wait -n || true; done
  run "$program" &
done
wait

passed=0
failed=0
for program in "${programs[@]}"; do
  if [[ "$(cat "$work/$program.status")" == 0 ]]; then
    passed=$((passed + 1))
    echo "fuzz_$program: $(grep -o 'Done [0-9]* runs in [0-9]* second' "$work/$program.log" || echo done)"
  else
    failed=$((failed + 1))
    tail -n 40 "$work/$program.log"
    echo "fuzz_$program FAILED; the input is in $build_dir/findings/$program/" \
      "(keep it under tests/fuzz/crashes/$program/ once fixed)"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
