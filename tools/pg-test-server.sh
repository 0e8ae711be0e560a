#!/usr/bin/env bash
# A private PostgreSQL 15 server for the line tests and for trying line mode
# by hand: its data, log and Unix socket all live in DIR, it listens on no
# TCP port, and it never touches a cluster the machine already runs.
#
#   tools/pg-test-server.sh start DIR [PORT]   prints the connection string
#   tools/pg-test-server.sh stop DIR           stops it (the data stays)
#   tools/pg-test-server.sh restart DIR        starts a stopped one again
#
# The server refuses to run as root: as root (CI) it runs as the package's
# "postgres" user, otherwise as the caller. DIR must not exist yet for
# start, or hold a data folder this script made.
set -euo pipefail

bin=/usr/lib/postgresql/15/bin
command="${1:-}"
dir="${2:-}"
if [ -z "$command" ] || [ -z "$dir" ]; then
    echo "usage: $0 start|stop|restart DIR [PORT]" >&2
    exit 2
fi
if [ ! -x "$bin/initdb" ]; then
    echo "$0: $bin/initdb is missing: install postgresql-15" >&2
    exit 2
fi

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

connection() {
    echo "host=$dir port=$(cat "$dir/port") dbname=postgres user=postgres connect_timeout=5"
}

start_server() {
    # -k: the socket in DIR; -h '': no TCP listener at all.
    if ! as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -t 30 \
        -o "-k $dir -p $(cat "$dir/port") -h '' -c fsync=off -c max_connections=200" \
        start >/dev/null; then
        echo "$0: the server did not start; its log:" >&2
        tail -n 20 "$dir/log" >&2 || true
        exit 1
    fi
}

case "$command" in
start)
    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
    # A port number that only names the socket file; any free one will do.
    echo "${3:-$((40000 + RANDOM % 20000))}" >"$dir/port"
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$dir"
        # The server's user must be able to reach DIR.
        parent="$(dirname "$dir")"
        while [ "$parent" != "/" ]; do
            chmod o+x "$parent" 2>/dev/null || true
            parent="$(dirname "$parent")"
        done
    fi
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        as_owner "$bin/initdb" -A trust -U postgres -D "$dir/data" >"$dir/initdb.log" 2>&1 || {
            cat "$dir/initdb.log" >&2
            exit 1
        }
    fi
    start_server
    connection
    ;;
restart)
    dir="$(cd "$dir" && pwd)"
    start_server
    connection
    ;;
stop)
    dir="$(cd "$dir" && pwd)"
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null
    ;;
*)
    echo "usage: $0 start|stop|restart DIR [PORT]" >&2
    exit 2
    ;;
esac
