#!/usr/bin/env bash
# A PostgreSQL server of its own for tests and benchmarks: a fresh cluster in a scratch
# directory, listening only on a Unix socket inside that directory (no TCP port).
#
#   scripts/pg_scratch.sh start DIR   creates DIR, starts the server, prints its
#                                     connection string (key=value) on standard output
#   scripts/pg_scratch.sh stop DIR    stops it (DIR is left for the caller to remove)
#
# The server refuses to run as root: run by root, the cluster belongs to the system user
# vellum-pg, created when missing. DIR's parents must let that user through (/tmp does),
# and DIR should be short: a socket path holds at most 107 bytes. Durability is off
# (fsync=off): the data is thrown away.
set -euo pipefail

action=${1:?usage: pg_scratch.sh start|stop DIR}
dir=${2:?usage: pg_scratch.sh start|stop DIR}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/pg_ctl" ] || { echo "pg_scratch: PostgreSQL is not installed (scripts/setup.sh)" >&2; exit 1; }

owner=$(id -un)
as_owner() { "$@"; }
if [ "$(id -u)" -eq 0 ]; then
  owner=vellum-pg
  id -u "$owner" >/dev/null 2>&1 ||
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$owner"
  as_owner() { runuser -u "$owner" -- "$@"; }
fi

case "$action" in
  start)
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    chown "$owner" "$dir"
    chmod 0755 "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U vellum --auth=trust -E UTF8 --no-locale --no-sync \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-k $dir -c listen_addresses= -p 5432 -c fsync=off -c full_page_writes=off" start \
      >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
    echo "host=$dir port=5432 dbname=postgres user=vellum"
    ;;
  stop)
    [ -d "$dir/data" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
    ;;
  *)
    echo "usage: pg_scratch.sh start|stop DIR" >&2
    exit 2
    ;;
esac
