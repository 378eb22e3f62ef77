#!/usr/bin/env bash
# Builds and runs every test: the plain build, then AddressSanitizer + UBSan, then the
# threaded tests under ThreadSanitizer. TAVIMO_TEST_QUICK=1 runs the plain build only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The open readers from npm that the tests feed (signalk-server), in a cache folder.
export TAVIMO_PEERS_DIR=${TAVIMO_PEERS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tavimo-peers}
scripts/install-peers.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run_suite() {  # dir, extra cmake args..., then ctest args after --
  local dir=$1; shift
  local cmake_args=() ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cmake_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  ctest_args=("$@")
  cmake -S . -B "$dir" -G Ninja "${cmake_args[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "${ctest_args[@]}")
}

echo "== Operating-system calls =="
scripts/check-os-calls.sh

echo "== Tests =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
[ "${TAVIMO_TEST_QUICK:-0}" = "1" ] && exit 0

# libFuzzer targets, 30 seconds each (about 4 minutes, plus their clang build).
if [ "${CI:-}" = "true" ] || [ "${TAVIMO_FUZZ:-0}" = "1" ]; then
  echo "== Fuzzing =="
  scripts/fuzz.sh 30
fi

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVIMO_SANITIZE=address -DTAVIMO_BUILD_BENCH=OFF

echo "== Threaded tests under ThreadSanitizer =="
export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1"
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DTAVIMO_SANITIZE=thread -DTAVIMO_BUILD_BENCH=OFF -- -L threaded
