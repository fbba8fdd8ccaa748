#!/usr/bin/env bash
# Sets up what is missing, builds Tabulon and runs its main job. Arguments go to tabulon-cli.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF >/dev/null
cmake --build build/release --target tabulon-cli
if [ "$#" -eq 0 ]; then
  exec build/release/apps/cli/tabulon-cli --help
fi
exec build/release/apps/cli/tabulon-cli "$@"
