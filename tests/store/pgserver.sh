#!/usr/bin/env bash
# pgserver.sh start|stop DIR
# The throw-away PostgreSQL 15 the store tests run against: a cluster of its
# own in DIR, no TCP, reachable only through the Unix socket in DIR, superuser
# "orvenna" with trust login. initdb and pg_ctl refuse to run as root, so as
# root the server runs as "nobody" in a folder handed over to it. A German
# locale is compiled into DIR/locale when the system has its source, so that a
# test can have the server speak German (SET lc_messages = 'de_DE.UTF-8').
set -u
action=${1:-} dir=${2:-}
bin=${ORVENNA_PG_BINDIR:-/usr/lib/postgresql/15/bin}

fail() {
    echo "pgserver: PostgreSQL could not be started: $*" >&2
    exit 1
}

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}

stop_server() {
    if [ -f "$dir/data/postmaster.pid" ]; then
        (cd "$dir" && as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 10 stop >/dev/null 2>&1)
    fi
    rm -rf "$dir"
}

[ -n "$dir" ] || { echo "usage: pgserver.sh start|stop DIR" >&2; exit 2; }
case "$action" in
start)
    stop_server # what a killed run may have left
    [ -x "$bin/initdb" ] && [ -x "$bin/pg_ctl" ] || fail "no initdb/pg_ctl in $bin (install postgresql-15)"
    mkdir -p "$dir" || fail "cannot make $dir"
    chmod 700 "$dir"
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody "$dir" || fail "cannot hand $dir to the user nobody"
    fi
    cd "$dir" || fail "cannot enter $dir"
    as_owner "$bin/initdb" -D "$dir/data" -U orvenna --auth=trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 \
        || fail "initdb failed: $(tail -n 5 "$dir/initdb.log")"
    as_owner mkdir -p "$dir/locale" && as_owner localedef -i de_DE -f UTF-8 "$dir/locale/de_DE.UTF-8" >/dev/null 2>&1 || true
    LOCPATH="$dir/locale" as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        start >/dev/null 2>&1 || fail "pg_ctl start failed: $(tail -n 5 "$dir/server.log" 2>/dev/null)"
    "$bin/psql" -h "$dir" -U orvenna -d postgres -Atqc 'SELECT 1' >/dev/null 2>&1 \
        || fail "the server does not answer on $dir"
    echo "PostgreSQL $("$bin/postgres" --version | awk '{print $3}') running, socket in $dir"
    ;;
stop)
    stop_server
    ;;
*)
    echo "usage: pgserver.sh start|stop DIR" >&2
    exit 2
    ;;
esac
