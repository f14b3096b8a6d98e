#!/usr/bin/env bash
# Sanitizer passes over the test suite, each in its own clang build tree:
#   asan  - AddressSanitizer + UndefinedBehaviorSanitizer (and LeakSanitizer)
#           over every test, the service and the simulator included;
#   tsan  - ThreadSanitizer over the test programs that run the USB worker
#           thread (USB link and device operations). The whole service is
#           left out: Qt hands queued signal arguments from the USB thread to
#           the main thread under its own locks, which a prebuilt Qt keeps
#           out of ThreadSanitizer's sight, so every stream message would be
#           reported as a race.
# Usage: scripts/sanitize.sh [asan|tsan|all]   (default: all)
# Build trees: DASTEL_ASAN_BUILD_DIR (build-asan), DASTEL_TSAN_BUILD_DIR
# (build-tsan). Packages come from scripts/setup.sh; clang is added by
# scripts/configure-clang.sh.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ASAN_DIR="${DASTEL_ASAN_BUILD_DIR:-$ROOT/build-asan}"
TSAN_DIR="${DASTEL_TSAN_BUILD_DIR:-$ROOT/build-tsan}"
JOBS="${DASTEL_JOBS:-2}"
PASSES="${1:-all}"
# The test programs that run a second thread: every one goes under
# ThreadSanitizer. A new program that starts a thread is added here.
TSAN_PROGRAMS=(tst_usb tst_devicecomplexcommands)

case "$PASSES" in
  asan|tsan|all) ;;
  *) echo "usage: $0 [asan|tsan|all]" >&2; exit 2 ;;
esac

configure() {
  "$ROOT/scripts/configure-clang.sh" "$@"
}

status=0

# A report fails the process that made it: the test programs through their
# exit status, the service and the simulator through the fixtures, which
# expect the service to end with status 0 on SIGTERM (reports are written
# to standard error and shown with the failing test).

if [ "$PASSES" = asan ] || [ "$PASSES" = all ]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: $ASAN_DIR"
  configure "$ASAN_DIR" "address,undefined" -DDASTEL_BUILD_FUZZERS=ON
  cmake --build "$ASAN_DIR" -j"$JOBS"
  # verify_asan_link_order=0: the simulator preloads umockdev ahead of the
  # runtime. The minute-long stream test is cut to 15 s and the streams run
  # at 500 frames/s: they check the same things, and instrumented code (the
  # simulator's too) is several times slower. The fuzz targets'
  # seed corpora and saved findings are replayed here too (label "fuzz").
  if ! env ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:verify_asan_link_order=0" \
       LSAN_OPTIONS="suppressions=$ROOT/tests/support/sanitizers/lsan.supp:print_suppressions=0" \
       UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
       DASTEL_STREAM_SECONDS="${DASTEL_STREAM_SECONDS:-15}" DASTEL_STREAM_FREQUENCY="${DASTEL_STREAM_FREQUENCY:-500}" \
       ctest --test-dir "$ASAN_DIR" --output-on-failure -j"$JOBS" --timeout 600 ; then
    status=1
  fi
fi

if [ "$PASSES" = tsan ] || [ "$PASSES" = all ]; then
  echo "== ThreadSanitizer: $TSAN_DIR"
  configure "$TSAN_DIR" "thread"
  # Only these programs (and the service and simulator they start) are built.
  tsan_targets=()
  for program in "${TSAN_PROGRAMS[@]}"; do tsan_targets+=(--target "$program"); done
  cmake --build "$TSAN_DIR" -j"$JOBS" "${tsan_targets[@]}"
  # symbolize=0: symbolising a report inside the USB thread stalls it past
  # the recorder's time-outs; reports keep addresses (llvm-symbolizer later).
  if ! env TSAN_OPTIONS="symbolize=0:halt_on_error=0:exitcode=66:suppressions=$ROOT/tests/support/sanitizers/tsan.supp" \
       DASTEL_STREAM_SECONDS="${DASTEL_STREAM_SECONDS:-15}" DASTEL_STREAM_FREQUENCY="${DASTEL_STREAM_FREQUENCY:-250}" \
       ctest --test-dir "$TSAN_DIR" --output-on-failure -j"$JOBS" --timeout 600 \
             -L "^($(IFS='|'; echo "${TSAN_PROGRAMS[*]}"))\$"; then
    status=1
  fi
fi

exit $status
