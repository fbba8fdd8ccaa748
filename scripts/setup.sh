#!/usr/bin/env bash
# Installs what building and testing Tabulon needs on Debian 12, skipping what is present.
# This file holds the one package list of the project; run.sh and test.sh both call it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  # build
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libfmt-dev nlohmann-json3-dev
  # data access layer: the ODBC driver manager and the drivers tested for real
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql tdsodbc postgresql sqlite3
  # the SQLite source (provider "SQLite")
  libsqlite3-dev
  # fuzzing the .mdb reader (libFuzzer comes with clang's runtime)
  clang libclang-rt-14-dev
  # the desktop application (Qt 6 Widgets, SVG icons, the offscreen platform its tests use, a font)
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins fonts-dejavu-core
  # independent .mdb readers used by the tests
  mdbtools nodejs
  # the Debian package and its checks (cpack -G DEB, shlibdeps, lintian, man pages, desktop
  # entry, AppStream metainfo and bash completion)
  dpkg-dev fakeroot file lintian man-db groff-base desktop-file-utils appstream bash-completion
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# npm ships with Debian's nodejs only as a separate package; install it when absent.
if ! command -v npm >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get install -y -q --no-install-recommends npm
fi

# The npm reader (mdb-reader) for the tests, pinned by the lock file.
if [ -f "$here/tests/readers/package-lock.json" ] && [ ! -d "$here/tests/readers/node_modules/mdb-reader" ]; then
  (cd "$here/tests/readers" && npm ci --no-audit --no-fund --loglevel=error)
fi
