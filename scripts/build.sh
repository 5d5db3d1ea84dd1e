#!/usr/bin/env bash
# Configures and builds Vantrel into build/ (RelWithDebInfo unless
# VANTREL_BUILD_TYPE says otherwise; VANTREL_BUILD_DIR and VANTREL_CMAKE_ARGS
# choose the folder and extra options). Extra arguments go to the build step,
# e.g. --target vantrel.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${VANTREL_BUILD_DIR:-build}
build_type=${VANTREL_BUILD_TYPE:-RelWithDebInfo}
# ccache, where installed, makes rebuilds of unchanged files (another clone,
# another build folder of the same type) almost free.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "${launcher[@]}" ${VANTREL_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" "$@"
