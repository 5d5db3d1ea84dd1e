#!/usr/bin/env bash
# Runs the suite against each fault in scripts/mutants.txt, one at a time, and
# says which the suite catches. Each fault is a sed expression applied to one
# source file in place; the file is put back byte for byte afterwards (also
# on Ctrl-C). Builds into its own plain Debug folder, build-mutants/ (or
# VANTREL_MUTANTS_BUILD_DIR).
# Not part of the test command: it builds and tests once per fault.
# Usage: scripts/mutants.sh [ID...]
set -uo pipefail
cd "$(dirname "$0")/.."
build_dir=${VANTREL_MUTANTS_BUILD_DIR:-build-mutants}
# Tests that start processes or wait on the simulator run after the rest,
# so a fault the quick tests catch costs little.
slow_tests='WindowOverSimulator|FailedOpen|FallingSilent|Recording|ResourceHygiene|SerialLineFailure|VantrelSim|VantrelStart|CommittedInput|install|EndingsAndInput'

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
cmake --build "$build_dir" >/dev/null || { echo "mutants: the unchanged tree does not build"; exit 1; }

backup=$(mktemp)
target=""
restore() {
  if [[ -n "$target" ]]; then
    cp "$backup" "$target" # a fresh time stamp, so the next build recompiles it
    target=""
  fi
}
trap 'restore; rm -f "$backup"' EXIT
trap 'exit 130' INT TERM

run_suite() {
  local env=(env QT_QPA_PLATFORM=offscreen)
  (cd "$build_dir" &&
    "${env[@]}" ctest --stop-on-failure -j2 --timeout 120 -E "$slow_tests" >/dev/null 2>&1 &&
    "${env[@]}" ctest --stop-on-failure -j2 --timeout 120 -R "$slow_tests" >/dev/null 2>&1)
}

wanted=" $* "
caught=0
total=0
while IFS=$'\t' read -r id file expression description; do
  [[ -z "$id" || "$id" == \#* ]] && continue
  [[ $# -gt 0 && "$wanted" != *" $id "* ]] && continue
  total=$((total + 1))
  cp "$file" "$backup"
  target=$file
  sed -i -e "$expression" "$file"
  changed=$(diff "$backup" "$file" | grep -c '^<')
  if [[ $changed -ne 1 ]]; then
    restore
    echo "NOT-APPLICABLE $id ($changed lines changed): $description"
    continue
  fi
  if ! cmake --build "$build_dir" >/dev/null 2>&1; then
    result=BUILD-FAILED
  elif run_suite; then
    result=SURVIVED
  else
    result=CAUGHT
    caught=$((caught + 1))
  fi
  restore
  echo "$result $id: $description"
done <scripts/mutants.txt
cmake --build "$build_dir" >/dev/null 2>&1
echo "caught $caught of $total"
