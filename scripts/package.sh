#!/usr/bin/env bash
# Builds the Debian packages dastel_<version>_<arch>.deb and
# dastel-sim_<version>_<arch>.deb with dpkg-buildpackage from a copy of this
# tree (so the tree itself stays clean), and checks them with lintian.
#
#   scripts/package.sh [--out DIR] [--version VERSION]
#
# --out      where the .deb files go (default: build/package/)
# --version  build as VERSION, with a changelog entry for it in the copy
#            only (the package test builds an upgrade this way); the
#            version otherwise comes from debian/changelog, its one place.
# Needs the packages of scripts/setup.sh (debhelper, lintian and the build
# dependencies) and the web UI's vendored libraries (setup.sh makes them).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${DASTEL_BUILD_DIR:-$ROOT/build}"
OUT="$BUILD_DIR/package"
VERSION=""
while (($#)); do
  case "$1" in
    --out) OUT="$2"; shift 2 ;;
    --version) VERSION="$2"; shift 2 ;;
    *) echo "usage: scripts/package.sh [--out DIR] [--version VERSION]" >&2; exit 2 ;;
  esac
done
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"

if [[ ! -f "$ROOT/web/vendor/msgpack.min.js" ]]; then
  (cd "$ROOT/tests/browser" && npm ci --no-audit --no-fund && node vendor.mjs)
  touch "$ROOT/web/vendor/.stamp"
fi

# The copy keeps its build directory (obj-*) from one run to the next and
# dpkg-buildpackage runs without cleaning first: a rebuild compiles only what
# changed (tar keeps the files' times), and a new version alone compiles
# nothing. Everything else in the copy is replaced.
STAGE="$BUILD_DIR/package-stage"
SRC="$STAGE/dastel"
mkdir -p "$SRC"
find "$SRC" -mindepth 1 -maxdepth 1 ! -name 'obj-*' -exec rm -rf {} +
rm -f "$STAGE"/*.deb "$STAGE"/*.changes "$STAGE"/*.buildinfo
# What git knows (committed or not, ignored files left out) plus the vendored
# web libraries, which git ignores.
(cd "$ROOT" && { git ls-files -z --cached --others --exclude-standard; printf '%s\0' web/vendor/*.js web/vendor/*.css; } \
   | while IFS= read -r -d '' f; do [[ -e "$f" ]] && printf '%s\0' "$f"; done \
   | tar --null -T - -cf -) | tar -xf - -C "$SRC"

if [[ -n "$VERSION" ]]; then
  {
    printf 'dastel (%s) unstable; urgency=medium\n\n  * Rebuilt as %s.\n\n -- %s  %s\n\n' \
      "$VERSION" "$VERSION" \
      "$(dpkg-parsechangelog -l "$SRC/debian/changelog" -S Maintainer)" "$(date -R)"
    cat "$SRC/debian/changelog"
  } > "$SRC/debian/changelog.new"
  mv "$SRC/debian/changelog.new" "$SRC/debian/changelog"
fi
VERSION="$(dpkg-parsechangelog -l "$SRC/debian/changelog" -S Version)"
ARCH="$(dpkg-architecture -q DEB_HOST_ARCH)"

if command -v ccache >/dev/null; then export DASTEL_CCACHE=1; fi
# No debug-symbol packages: nothing here ships them.
export DEB_BUILD_OPTIONS="noautodbgsym ${DEB_BUILD_OPTIONS:-}"
echo "dastel package: building $VERSION in $SRC"
(cd "$SRC" && dpkg-buildpackage -b -nc -us -uc -j"${DASTEL_JOBS:-2}") > "$STAGE/build.log" 2>&1 || {
  tail -n 60 "$STAGE/build.log" >&2
  echo "dastel package: dpkg-buildpackage failed; full log in $STAGE/build.log" >&2
  exit 1
}

for package in dastel dastel-sim; do
  mv "$STAGE/${package}_${VERSION}_${ARCH}.deb" "$OUT/"
done

# Errors and warnings fail the build; each override in debian/ says why.
lintian --fail-on error,warning "$OUT/dastel_${VERSION}_${ARCH}.deb" "$OUT/dastel-sim_${VERSION}_${ARCH}.deb"
echo "$OUT/dastel_${VERSION}_${ARCH}.deb"
echo "$OUT/dastel-sim_${VERSION}_${ARCH}.deb"
