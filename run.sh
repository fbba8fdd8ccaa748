#!/usr/bin/env bash
# Sets up what is missing, builds Tabulon and runs its main job: the sample database
# (examples/sample.sql, built into SQLite) migrated into sample.mdb beside this script.
# With arguments, runs tabulon-cli with them instead; `./run.sh gui [ARGS]` starts the desktop
# application (tabulon) with ARGS; `./run.sh package` builds the Debian package
# build/release/package/tabulon_<version>_<arch>.deb.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
bash scripts/setup.sh
mkdir -p build
log=build/release-build.log
# Build quietly; show the compiler's words only when the build fails. Warnings stay warnings
# here (test.sh makes them errors): GCC 12 reports false positives (-Wrestrict) only at -O3.
# The prefix is the one the package installs into (the programs look for their manual there).
targets=(tabulon-cli tabulon_sample)
if [ "${1:-}" = gui ]; then targets+=(tabulon); fi
if [ "${1:-}" = package ]; then targets=(all); fi
if ! { cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF -DTABULON_WERROR=OFF \
         -DCMAKE_INSTALL_PREFIX=/usr &&
       cmake --build build/release --target "${targets[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: the build failed (log: $log)" >&2
  exit 1
fi
cli="$here/build/release/apps/cli/tabulon-cli"
if [ "${1:-}" = gui ]; then
  shift
  exec "$here/build/release/apps/gui/tabulon" "$@"
fi
if [ "${1:-}" = package ]; then
  package_log=build/package.log
  rm -f build/release/package/tabulon_*.deb
  if ! (cd build/release && cpack -G DEB -B package) >"$package_log" 2>&1; then
    cat "$package_log" >&2
    echo "run.sh: making the package failed (log: $package_log)" >&2
    exit 1
  fi
  deb="$(ls "$here"/build/release/package/tabulon_*.deb)"
  echo "The package: $deb"
  echo "Install it with:  apt install $deb"
  exit 0
fi
if [ "$#" -gt 0 ]; then
  exec "$cli" "$@"
fi

# The main job. A sample.mdb of an earlier run is replaced.
sample="$here/build/release/examples/sample.sqlite"
target="$here/sample.mdb"
migration_log="$here/build/sample-migration.log"
rm -f "$target"
echo "Migrating the sample database $sample into $target ..."
if ! "$cli" migrate --source "sqlite:$sample" --database sample --target "$target" >"$migration_log" 2>&1; then
  tail -n 40 "$migration_log" >&2
  echo "run.sh: the migration failed (every line: $migration_log)" >&2
  exit 1
fi
echo
echo "Done: $target"
echo "(every line of the migration: $migration_log)"
echo
"$cli" mdb summary "$target"
cat <<TEXT

Open it:
  - in Microsoft Access (2000 or later) on Windows, or with any program that reads .mdb files;
  - here, with mdbtools:        mdb-tables $target
                                mdb-export $target customers
                                mdb-queries $target
  - or with tabulon-cli:        ./run.sh mdb export sample.mdb customers
                                ./run.sh sql sample.mdb "SELECT name, unit_price FROM products"
TEXT
