#!/usr/bin/env bash
# Sets up what is missing, builds Tabulon with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"
bash scripts/setup.sh
jobs="$(nproc)"

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULON_SANITIZE=ON \
  -DTABULON_WERROR=ON >/dev/null
cmake --build build/asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 900

# The task controller's threads, and the row copy's reading thread, under ThreadSanitizer: only
# their test targets are built here.
# (Warnings stay errors in the build above; GCC reports false ones with -fsanitize=thread.)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULON_TSAN=ON \
  -DTABULON_WERROR=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target converters_controller_test source_sqlite_test
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure \
  -R '^(ControllerTest|TaskListTest|SqliteMigrationTest)\.' --timeout 300

# The fuzz targets (the .mdb reader, the Access SQL parser), for a bounded time between them.
bash scripts/fuzz_reader.sh "${TABULON_FUZZ_SECONDS:-60}"
