#!/usr/bin/env bash
# Sets up, builds and runs every test: the fuzzers for a short while, then the whole suite,
# then the whole suite again built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Everything runs headless (SDL's offscreen driver, Mesa's software renderer through EGL),
# except the visible-window tests: each starts its own Xvfb on a free display number (Xvfb
# picks it, -displayfd), with openbox where a case needs a window manager, and types keys
# through the X server. setup.sh installs both; no test skips for want of them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
export SDL_VIDEODRIVER=offscreen
jobs="${CITYDRIVE_JOBS:-2}"
fuzz_seconds="${CITYDRIVE_FUZZ_SECONDS:-20}"

echo "== fuzzers (${fuzz_seconds} s each)"
cmake -S "$root" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCITYDRIVE_FUZZ=ON -DCITYDRIVE_BENCH=OFF >/dev/null
cmake --build "$root/build/fuzz" -j "$jobs" --target citydrive_fuzzers
for fuzzer in "$root"/build/fuzz/fuzz/*/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  area="$(basename "$(dirname "$fuzzer")")"
  work="$root/build/fuzz/corpus-$area"
  mkdir -p "$work"
  echo "-- $(basename "$fuzzer")"
  # New inputs go to the work folder; the committed seed corpus is only read.
  if ! "$fuzzer" -max_total_time="$fuzz_seconds" -max_len=8192 -print_final_stats=1 \
      "$work" "$root/fuzz/$area/corpus" >"$work.log" 2>&1; then
    tail -n 40 "$work.log"
    echo "fuzzer $(basename "$fuzzer") failed"
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$work.log" || true
done

echo "== test suite"
cmake -S "$root" -B "$root/build/test" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/test" -j "$jobs"
(cd "$root/build/test" && ctest -j "$jobs" --output-on-failure --timeout 600)

echo "== test suite with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build/sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCITYDRIVE_SANITIZE=ON \
  -DCITYDRIVE_BENCH=OFF >/dev/null
# The build runs the test binaries to list their tests: the same options apply there.
export ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1
cmake --build "$root/build/sanitize" -j "$jobs"
cd "$root/build/sanitize"
# This build is unoptimised: its traces must match the optimised build's to the byte.
export CITYDRIVE_REFERENCE_GAME="$root/build/test/app/citydrive"
ctest -j "$jobs" --output-on-failure --timeout 900
