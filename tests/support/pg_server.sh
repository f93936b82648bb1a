#!/usr/bin/env bash
# A PostgreSQL 15 server of the tests' own, in a temporary folder, reachable only through a
# Unix socket in that folder (no TCP port). The server runs as an unprivileged user: "postgres"
# (made by Debian's package) when the caller is root, else the caller.
#
#   pg_server.sh start           makes and starts a server; prints its folder
#   pg_server.sh stop DIR        stops it (fast shutdown) and removes the folder
#   pg_server.sh halt DIR        stops it and keeps the folder (for a restart)
#   pg_server.sh resume DIR      starts a halted server again
#   pg_server.sh conninfo DIR    the connection string of its "postgres" database
set -euo pipefail
bin=${KORDEL_PG_BIN:-/usr/lib/postgresql/15/bin}
cd /  # the server's user may not enter the caller's folder

as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
# fsync is off for the tests (KORDEL_PG_FSYNC=on for measurements); KORDEL_PG_OPTIONS adds
# settings ("-c shared_buffers=1GB ...").
start_server() {
  as_server "$bin/pg_ctl" -D "$1/data" -l "$1/log" -w -t 60 -s \
    -o "-c listen_addresses='' -c unix_socket_directories='$1' -c fsync=${KORDEL_PG_FSYNC:-off} -c max_connections=60 ${KORDEL_PG_OPTIONS:-}" \
    start >/dev/null
}

case "${1:-}" in
  start)
    [ -x "$bin/initdb" ] || { echo "pg_server.sh: no PostgreSQL in $bin (apt-get install postgresql)" >&2; exit 1; }
    dir=$(mktemp -d /tmp/kordel-pg.XXXXXX)
    chmod 755 "$dir"
    if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir"; fi
    as_server "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; rm -rf "$dir"; exit 1; }
    start_server "$dir" || { cat "$dir/log" >&2; rm -rf "$dir"; exit 1; }
    echo "$dir"
    ;;
  stop)
    [ -d "${2:?folder}" ] || exit 0
    as_server "$bin/pg_ctl" -D "$2/data" -m fast -w -s stop >/dev/null 2>&1 || true
    rm -rf "$2"
    ;;
  halt)
    as_server "$bin/pg_ctl" -D "${2:?folder}/data" -m fast -w -s stop >/dev/null
    ;;
  resume)
    start_server "${2:?folder}"
    ;;
  conninfo)
    echo "host=${2:?folder} user=postgres dbname=postgres"
    ;;
  *)
    echo "usage: pg_server.sh start | stop DIR | halt DIR | resume DIR | conninfo DIR" >&2
    exit 2
    ;;
esac
