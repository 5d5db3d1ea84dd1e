#!/usr/bin/env bash
# Configures and builds Vantrel into build/ (Debug with tests unless told
# otherwise). Extra arguments go to the build step, e.g. --target vantrel.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${VANTREL_BUILD_DIR:-build}
build_type=${VANTREL_BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" ${VANTREL_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" "$@"
