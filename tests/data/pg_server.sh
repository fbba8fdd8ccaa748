#!/usr/bin/env bash
# Starts or stops a throw-away PostgreSQL server on 127.0.0.1 for the data layer's tests.
#   pg_server.sh start STATE_DIR   writes STATE_DIR/port (or STATE_DIR/skip with a reason)
#   pg_server.sh stop STATE_DIR    stops the server and removes its files
# The cluster lives in a temporary directory owned by the user that runs it: `postgres` when
# this runs as root (the server refuses to run as root). Role and database: tabulon/tabulon.
set -euo pipefail
action="${1:?start or stop}"
state="${2:?state directory}"

bindir=""
for d in /usr/lib/postgresql/*/bin; do
  if [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ]; then bindir="$d"; fi
done

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop() {
  [ -f "$state/cluster" ] || return 0
  local cluster
  cluster="$(cat "$state/cluster")"
  if [ -n "$bindir" ] && [ -d "$cluster/data" ]; then
    as_owner "$bindir/pg_ctl" -D "$cluster/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$cluster"
  rm -f "$state/cluster" "$state/port"
}

case "$action" in
  stop)
    stop
    ;;
  start)
    mkdir -p "$state"
    stop  # a server left behind by an earlier run
    rm -f "$state/skip"
    if [ -z "$bindir" ]; then
      echo "PostgreSQL server binaries (/usr/lib/postgresql/*/bin) are not installed" >"$state/skip"
      exit 0
    fi
    if [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; then
      echo "the postgres user is missing" >"$state/skip"
      exit 0
    fi
    cluster="$(mktemp -d /tmp/tabulon-pg.XXXXXX)"
    echo "$cluster" >"$state/cluster"
    trap 'stop' ERR
    if [ "$(id -u)" -eq 0 ]; then chown postgres: "$cluster"; fi
    as_owner "$bindir/initdb" -D "$cluster/data" -U postgres -A trust -E UTF8 --locale=C --no-sync \
      >"$cluster/initdb.log" 2>&1 || { cat "$cluster/initdb.log" >&2; false; }
    started=""
    for _ in 1 2 3 4 5 6 7 8; do
      port=$((20000 + RANDOM % 40000))
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi  # in use
      if as_owner "$bindir/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 \
        -o "-p $port -c listen_addresses=127.0.0.1 -c unix_socket_directories=$cluster -c fsync=off" \
        start >/dev/null 2>&1; then
        started=1
        break
      fi
    done
    if [ -z "$started" ]; then cat "$cluster/server.log" >&2 || true; false; fi
    as_owner "$bindir/psql" -h 127.0.0.1 -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 -q \
      -c "create role tabulon login password 'tabulon'" \
      -c "create database tabulon owner tabulon encoding 'UTF8' template template0" >/dev/null
    echo "$port" >"$state/port"
    echo "PostgreSQL listening on 127.0.0.1:$port"
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
