#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time: the .mdb reader, seeded
# with the reference files when they are present, the Access SQL parser, seeded with the
# statements of tests/sql, and the source view parser, seeded with the views of
# src/viewsql/testdata. The time (default 60 s): half to the reader, the rest split between the
# two parsers.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
reader_seconds=$(((seconds + 1) / 2))
sql_seconds=$(((seconds - reader_seconds + 1) / 2))
((sql_seconds > 0)) || sql_seconds=1
view_seconds=$((seconds - reader_seconds - sql_seconds))
((view_seconds > 0)) || view_seconds=1
build="$here/build/fuzz"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTABULON_FUZZ=ON -DTABULON_SANITIZE=ON -DTABULON_TESTS=OFF >/dev/null
cmake --build "$build" --target jet_reader_fuzz jetsql_sql_fuzz viewsql_fuzz -j "$(nproc)"

corpus="$build/reader_corpus"
mkdir -p "$corpus"
seeds=()
fixtures="$here/../shared/fixtures"
if [ -d "$fixtures" ]; then
  for f in "$fixtures"/access/*.mdb; do seeds+=("$f"); done
fi
for f in "${seeds[@]}"; do cp -n "$f" "$corpus/" 2>/dev/null || true; done
"$build/src/jet/jet_reader_fuzz" "$corpus" -max_total_time="$reader_seconds" -max_len=1048576 \
  -rss_limit_mb=1024 -timeout=20 -print_final_stats=1 -artifact_prefix="$build/"

# One seed per statement of the SQL scripts (records are separated by blank lines; the first
# line names the record, '#' lines are comments, a query's rows follow "----").
sql_corpus="$build/sql_corpus"
mkdir -p "$sql_corpus"
awk -v out="$sql_corpus" '
  FNR == 1 { flush(); base = FILENAME; sub(/.*\//, "", base); n = 0 }
  /^#/ { next }
  /^$/ { flush(); next }
  !in_record { in_record = 1; next }
  /^----$/ { rows = 1; next }
  !rows { sql = sql (sql == "" ? "" : "\n") $0 }
  function flush() {
    if (sql != "") { printf "%s", sql > (out "/" base "." ++n); close(out "/" base "." n) }
    sql = ""; in_record = 0; rows = 0
  }
  END { flush() }
' "$here"/tests/sql/*.test
"$build/src/jetsql/jetsql_sql_fuzz" "$sql_corpus" -max_total_time="$sql_seconds" -max_len=4096 \
  -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 -artifact_prefix="$build/sql-"

# One seed per view: the Transact-SQL file's batches end at GO lines, the SQLite file's
# statements at lines ending with ";".
view_corpus="$build/view_corpus"
mkdir -p "$view_corpus"
awk -v out="$view_corpus" '
  FNR == 1 { flush(); base = FILENAME; sub(/.*\//, "", base); n = 0 }
  /^[ \t]*[Gg][Oo][ \t]*$/ { flush(); next }
  { text = text $0 "\n" }
  /;[ \t]*$/ && base ~ /sqlite/ { flush() }
  function flush() {
    if (text ~ /[^ \t\n]/) { printf "%s", text > (out "/" base "." ++n); close(out "/" base "." n) }
    text = ""
  }
  END { flush() }
' "$here"/src/viewsql/testdata/views_*.sql
"$build/src/viewsql/viewsql_fuzz" "$view_corpus" -max_total_time="$view_seconds" -max_len=4096 \
  -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 -artifact_prefix="$build/view-"
