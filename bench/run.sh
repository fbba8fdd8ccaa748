#!/bin/sh
# Builds the benchmarks in Release and runs them: rows/s and peak memory of the .mdb writer.
# Warnings stay warnings here: GCC 12 reports false positives (-Wrestrict) only at -O3.
#   bench/run.sh [ROWS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTABULON_BENCH=ON \
  -DTABULON_TESTS=OFF -DTABULON_SANITIZE=OFF -DTABULON_WERROR=OFF >/dev/null
cmake --build "$build" -j2 --target jet_insert_bench jet_index_bench jet_keyed_insert_bench jet_sql_insert_bench \
  transfer_rows_bench sqlite_migration_bench odbc_typed_bench gui_event_loop_bench
for rows in ${1:-1000000} ; do
  "$build/bench/jet_insert_bench" "$rows"
done
# Primary keys: a Long, then a Text(40) (separate processes, so each peak RSS is its own).
for key in long text ; do
  "$build/bench/jet_index_bench" "${1:-1000000}" "$key"
done
# A migrated table's rows (Long Id, two Text(50), Double, DateTime): no index, a Long primary key,
# and the key with one InsertRow per row in a batch (the migration's typed row path); the ratios
# key/none and batch/key.
"$build/bench/jet_keyed_insert_bench" "${1:-1000000}"
# Row-by-row writes with a Long primary key: a tenth of ROWS InsertRow calls in one batch,
# then 1,000 single-row write operations, each durable (two syncs) before the next.
"$build/bench/jet_index_bench" "$(( ${1:-1000000} / 10 ))" batch
"$build/bench/jet_index_bench" 1000 single
# One INSERT statement per row through the Jet provider (Long primary key).
"$build/bench/jet_sql_insert_bench" "${1:-1000000}"
# TransferTableRows: a generated SQL Server table of ROWS rows into a Jet target, one INSERT a row.
"$build/bench/transfer_rows_bench" "${1:-1000000}"
# A SQLite table of ROWS rows (Long key, two Text, a Double, a DateTime) cloned into a new .mdb
# by the core, end to end, through typed rows and again through INSERT statements, each beside the
# engine's own insert rate for the same rows and key; then verified against the file (tabulon-cli
# verify's comparison): both timings, and verify's share of the migration's.
"$build/bench/sqlite_migration_bench" "${1:-1000000}"
# Peak memory of a migration ten times that size (the typed migration alone).
"$build/bench/sqlite_migration_bench" "$(( ${1:-1000000} * 10 ))" typed
# The same SQLite table read through the ODBC provider (SQLite's ODBC driver) as typed rows and
# appended through the Jet provider's row loader, beside the engine's own insert rate for the
# same rows; and the select's text and typed fetch rates alone.
"$build/bench/odbc_typed_bench" "${1:-1000000}"
# The same from a PostgreSQL server of its own on 127.0.0.1 (psqlODBC, rows from a server cursor),
# when the server's programs are installed.
pg_state=$(mktemp -d)
trap 'bash "$root/tests/data/pg_server.sh" stop "$pg_state"; rm -rf "$pg_state"' EXIT
bash "$root/tests/data/pg_server.sh" start "$pg_state" >/dev/null
if [ -f "$pg_state/port" ]; then
  "$build/bench/odbc_typed_bench" "${1:-1000000}" pg "$(cat "$pg_state/port")"
else
  echo "odbc_typed_bench pg: skipped ($(cat "$pg_state/skip" 2>/dev/null))"
fi
# The desktop window's event loop while the Migrate command clones ROWS SQLite rows (offscreen).
"$build/bench/gui_event_loop_bench" "${1:-1000000}"
