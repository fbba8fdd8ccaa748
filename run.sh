#!/usr/bin/env bash
# Sets up what is missing, builds Tabulon and runs its main job. Arguments go to tabulon-cli.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
bash scripts/setup.sh
mkdir -p build
log=build/release-build.log
# Build quietly; show the compiler's words only when the build fails.
if ! { cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF &&
       cmake --build build/release --target tabulon-cli; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: the build failed (log: $log)" >&2
  exit 1
fi
if [ "$#" -eq 0 ]; then
  exec build/release/apps/cli/tabulon-cli --help
fi
exec build/release/apps/cli/tabulon-cli "$@"
