# Sourced by scripts/test.sh and scripts/flaky.sh: the one build of the test
# suite and the one way ctest runs it, so both test exactly the same thing.
#
# With clang the suite and the fuzzers come out of the same sanitized,
# coverage-instrumented build (libFuzzer is linked into the fuzz programs
# only). Without clang the suite is built with gcc and the fuzzers are left
# out. scripts/run.sh builds the plain program in build/.

suite_dir=build-asan

# Installs what is missing and builds the whole suite into build-asan/.
# Sets suite_fuzzers to 1 when the fuzz programs were built.
suite_build() {
  scripts/deps.sh build test fuzz
  local options
  if command -v clang++ >/dev/null; then
    export CC=clang CXX=clang++
    options="-DVANTREL_FUZZ=ON"
    suite_fuzzers=1
  else
    echo "clang++ not found, fuzzers not built"
    options="-DVANTREL_SANITIZE=ON"
    suite_fuzzers=0
  fi
  # One compile per few files (a unity build): each file's own share of the
  # build is small beside the Qt and GoogleTest headers every file parses,
  # so this takes a third off a build from a clean clone. scripts/run.sh
  # still compiles file by file, which keeps each file's includes complete.
  options+=" -DCMAKE_UNITY_BUILD=ON"
  VANTREL_BUILD_DIR=$suite_dir VANTREL_BUILD_TYPE=Debug VANTREL_CMAKE_ARGS="$options" scripts/build.sh
}

# Runs ctest in build-asan/ five tests at a time with leak checking (the
# tests mostly wait for programs, simulators and timeouts: a whole run at
# four keeps two cores about half busy); extra arguments go to ctest.
suite_ctest() {
  (cd "$suite_dir" &&
    ASAN_OPTIONS=detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1 \
    QT_QPA_PLATFORM=offscreen ctest -j5 --timeout 300 "$@")
}
