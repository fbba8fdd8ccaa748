#!/usr/bin/env bash
# Builds the .mdb reader's fuzz target with clang and runs it for a bounded time (default 60 s),
# seeded with the reference files when they are present.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="$here/build/fuzz"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTABULON_FUZZ=ON -DTABULON_SANITIZE=ON -DTABULON_TESTS=OFF >/dev/null
cmake --build "$build" --target jet_reader_fuzz -j "$(nproc)"
corpus="$build/reader_corpus"
mkdir -p "$corpus"
seeds=()
fixtures="$here/../shared/fixtures"
if [ -d "$fixtures" ]; then
  for f in "$fixtures"/access/*.mdb; do seeds+=("$f"); done
fi
for f in "${seeds[@]}"; do cp -n "$f" "$corpus/" 2>/dev/null || true; done
"$build/src/jet/jet_reader_fuzz" "$corpus" -max_total_time="$seconds" -max_len=1048576 \
  -rss_limit_mb=1024 -timeout=20 -print_final_stats=1 -artifact_prefix="$build/"
