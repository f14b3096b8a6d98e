#!/usr/bin/env bash
# Sets up, builds and runs the service. With a real Orvim recorder attached
# (USB 0483:7503) the service talks to it directly; otherwise, or with
# --simulate, it runs against the simulated recorder on a virtual USB bus
# (simulator options in DASTEL_SIM_OPTIONS, e.g. "--frequency 2000").
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"

simulate=auto
args=()
for arg in "$@"; do
  case "$arg" in
    --simulate) simulate=yes ;;
    --real) simulate=no ;;
    *) args+=("$arg") ;;
  esac
done

"$ROOT/scripts/setup.sh"

recorder_attached() {
  local dir
  for dir in /sys/bus/usb/devices/*; do
    [ -f "$dir/idVendor" ] || continue
    if [ "$(cat "$dir/idVendor")" = "0483" ] && [ "$(cat "$dir/idProduct")" = "7503" ]; then
      return 0
    fi
  done
  return 1
}

if [ "$simulate" = auto ]; then
  if recorder_attached; then simulate=no; else simulate=yes; fi
fi

if [ "$simulate" = yes ]; then
  echo "dastel: no recorder attached (or --simulate): using the simulated recorder"
  # Simulator options (e.g. "--frequency 2000 --device-type 22") come from
  # DASTEL_SIM_OPTIONS; the remaining arguments go to the service. The
  # recorder plays a real 12-lead ECG unless told otherwise
  # (DASTEL_SIM_OPTIONS="--ecg-record synthetic" for the built-in waveform).
  # shellcheck disable=SC2086
  exec "$BUILD_DIR/dastel-sim" --ecg-record "$ROOT/data/ecg/s0010_re" ${DASTEL_SIM_OPTIONS:-} -- "$BUILD_DIR/dastel" "${args[@]}"
else
  exec "$BUILD_DIR/dastel" "${args[@]}"
fi
