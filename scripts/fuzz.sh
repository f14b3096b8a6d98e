#!/usr/bin/env bash
# Runs the libFuzzer targets (fuzz/) for a while each.
#
#   scripts/fuzz.sh [--keep] [seconds-per-target] [target...]
#
# Targets are named without the fuzz_ prefix (frameparcer, http, ...); all by
# default, 10 seconds each. Every target fuzzes a scratch copy of its seed
# corpus plus its saved findings (fuzz/regressions/<name>/, read only), so
# the repository is not written to except for crash inputs, which land in
# fuzz/artifacts/. --keep merges what a run added into fuzz/corpus/<name>/.
#
# Prints one line per target (executions, seconds, executions a second,
# coverage at the end, features as loaded -> at the end) and exits non-zero if any target found
# a crash, leak, time-out or memory blow-up.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${DASTEL_FUZZ_BUILD_DIR:-$ROOT/build-asan}"
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$ROOT/$BUILD_DIR" ;; esac
ALL_TARGETS=(frameparcer adcchannels http jsoncommand operations deviceinfo cabletable examination)

keep=0
if [ "${1:-}" = "--keep" ]; then
  keep=1
  shift
fi
seconds="${1:-10}"
if [ $# -gt 0 ]; then shift; fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${ALL_TARGETS[@]}"); fi
case "$seconds" in ''|*[!0-9]*) echo "seconds must be a whole number: $seconds" >&2; exit 2 ;; esac

# The clang tree: configured with the sanitizers and the fuzzers unless it
# already is, then only the fuzz targets are built.
if ! grep -q '^DASTEL_BUILD_FUZZERS:BOOL=ON' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null; then
  "$ROOT/scripts/configure-clang.sh" "$BUILD_DIR" address,undefined -DDASTEL_BUILD_FUZZERS=ON >/dev/null
fi
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
cmake --build "$BUILD_DIR" -j2 "${build_targets[@]}" >/dev/null

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/support/sanitizers/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

artifacts="$ROOT/fuzz/artifacts"
mkdir -p "$artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

failed=0
printf '%-20s %10s %6s %7s %7s %13s  %s\n' target runs secs exec/s cov ft result
for t in "${targets[@]}"; do
  binary="$(find "$BUILD_DIR/fuzz" -maxdepth 1 -name "fuzz_$t" -type f | head -n1)"
  if [ -z "$binary" ]; then
    printf '%-20s %10s %6s %7s %7s %13s  %s\n' "$t" - - - - - "not built"
    failed=1
    continue
  fi
  corpus="$scratch/$t"
  mkdir -p "$corpus"
  cp "$ROOT/fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true
  extra=()
  if [ -d "$ROOT/fuzz/regressions/$t" ]; then extra+=("$ROOT/fuzz/regressions/$t"); fi
  log="$scratch/$t.log"
  start=$(date +%s)
  status=0
  "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$t-" "$corpus" "${extra[@]}" >"$log" 2>&1 || status=$?
  secs=$(( $(date +%s) - start ))
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)"
  ft="$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)"
  # Features of the corpus as loaded, then at the end.
  ft0="$(grep -m1 'INITED' "$log" | grep -o 'ft: [0-9]*' | cut -d' ' -f2)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)"
  if [ "$status" -eq 0 ]; then
    result=ok
  else
    failed=1
    result="FAILED (exit $status): $(grep -m1 -oE 'ERROR: [A-Za-z]+: [^ ]+( [^ ]+)?|FUZZ_CHECK failed: .*|ALARM: .*|out-of-memory.*' "$log" || echo see log)"
    cp "$log" "$artifacts/$t.log"
    result="$result; log in fuzz/artifacts/$t.log"
  fi
  printf '%-20s %10s %6s %7s %7s %13s  %s\n' "$t" "${runs:-?}" "$secs" "${rate:-?}" "${cov:-?}" "${ft0:-?}->${ft:-?}" "$result"
  if [ "$keep" -eq 1 ] && [ "$status" -eq 0 ]; then
    "$binary" -merge=1 -rss_limit_mb=2048 -timeout=10 "$ROOT/fuzz/corpus/$t" "$corpus" >/dev/null 2>&1 || true
  fi
done
exit "$failed"
