#!/usr/bin/env bash
# Builds Vantrel and starts it. Without arguments it runs on the built-in
# simulated instruments (vantrel --simulate); any arguments replace that, so
# `scripts/run.sh` with real hardware is `build/vantrel`. It builds the
# target `installable`: the three programs and every file `cmake --install
# build` copies (icons, manual pages), so an install can follow.
set -euo pipefail
cd "$(dirname "$0")/.."
# build/ configures the tests as well (`scripts/build.sh && ctest --test-dir build`).
scripts/deps.sh build test
scripts/build.sh --target installable
if [[ $# -eq 0 ]]; then set -- --simulate; fi
exec build/vantrel "$@"
