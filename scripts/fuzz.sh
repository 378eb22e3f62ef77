#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each on its seed corpus
# for N seconds (default 30): scripts/fuzz.sh [seconds] [target ...]
# Targets: numbers bytestuffing commandline settings datablock units latitude telegrams
#          networktarget iioscan capture.
# New inputs go to build-fuzz/corpus/<target>/; a crash leaves its input in
# build-fuzz/crashes/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(numbers bytestuffing commandline settings datablock units latitude
                                     telegrams networktarget iioscan capture)
dir=${TAVIMO_FUZZ_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVIMO_BUILD_FUZZERS=ON -DTAVIMO_BUILD_TESTS=OFF -DTAVIMO_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/crashes"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$t"
  echo "== fuzz_$t for ${seconds}s =="
  # The scratch corpus first: libFuzzer writes new inputs there, never into the repository.
  if ! "$dir/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
       -max_len=16384 -print_final_stats=1 -artifact_prefix="$dir/crashes/$t-" \
       "$dir/corpus/$t" "fuzz/corpus/$t" 2>"$dir/fuzz_$t.log"; then
    tail -60 "$dir/fuzz_$t.log"
    failed+=("$t")
  else
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$dir/fuzz_$t.log" | tr '\n' ' '
    echo
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]} (inputs in $dir/crashes/)"
  exit 1
fi
