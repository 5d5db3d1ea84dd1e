#!/usr/bin/env bash
# Finds tests that pass only sometimes: builds the suite once as the test
# command does (build-asan/), runs the whole of it RUNS times (default 10),
# every second run beside two CPU-bound busy processes, and lists each test
# that failed at least once with how often, idle and busy. Exit status 1
# when any test failed. Each run's ctest output is kept in
# build-asan/flaky/run-N.log.
# Usage: scripts/flaky.sh [RUNS [CTEST-ARGUMENTS...]]   (e.g. 4 -R Headless)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/suite.sh
runs=${1:-10}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "flaky.sh: RUNS is a positive whole number, not '$runs'" >&2; exit 2; }
shift $(($# > 0 ? 1 : 0))

busy_pids=()
stop_busy() {
  for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy_pids=()
}
trap stop_busy EXIT
trap 'exit 130' INT TERM

suite_build >/dev/null
logs=$suite_dir/flaky
rm -rf "$logs"
mkdir -p "$logs"
failed_list=$suite_dir/Testing/Temporary/LastTestsFailed.log
declare -A idle_failures busy_failures
for ((run = 1; run <= runs; run++)); do
  mode=idle
  if ((run % 2 == 0)); then
    mode=busy
    for _ in 1 2; do
      bash -c 'while :; do :; done' &
      busy_pids+=($!)
    done
  fi
  rm -f "$failed_list"
  started=$SECONDS
  suite_ctest --output-on-failure "$@" >"$logs/run-$run.log" 2>&1 || true
  stop_busy
  # ctest lists each failed test as NUMBER:NAME.
  failed=()
  [[ -f $failed_list ]] && mapfile -t failed < <(cut -d: -f2- "$failed_list" | sed "s/  # GetParam() = .*//")
  for name in "${failed[@]}"; do
    if [[ $mode == busy ]]; then
      busy_failures[$name]=$((${busy_failures[$name]:-0} + 1))
    else
      idle_failures[$name]=$((${idle_failures[$name]:-0} + 1))
    fi
  done
  echo "flaky.sh: run $run of $runs ($mode): ${#failed[@]} failed, $((SECONDS - started)) s"
done

busy_runs=$((runs / 2))
idle_runs=$((runs - busy_runs))
names=$(printf '%s\n' "${!idle_failures[@]}" "${!busy_failures[@]}" | sed '/^$/d' | sort -u)
if [[ -z $names ]]; then
  echo "flaky.sh: no test failed in $runs runs ($idle_runs idle, $busy_runs beside two busy processes)"
  exit 0
fi
echo "flaky.sh: tests that failed at least once (failures in idle runs, in busy runs; logs in $logs/):"
while IFS= read -r name; do
  printf '  %s: %d of %d idle, %d of %d busy\n' "$name" "${idle_failures[$name]:-0}" "$idle_runs" \
    "${busy_failures[$name]:-0}" "$busy_runs"
done <<<"$names"
exit 1
