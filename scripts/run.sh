#!/usr/bin/env bash
# Builds Vantrel and starts it. Without arguments it runs on the built-in
# simulated instruments (vantrel --simulate); any arguments replace that, so
# `scripts/run.sh` with real hardware is `build/vantrel`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh --target vantrel vantrel-sim vantrel-visa
if [[ $# -eq 0 ]]; then set -- --simulate; fi
exec build/vantrel "$@"
