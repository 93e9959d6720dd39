#!/usr/bin/env bash
# pgserver.sh start|stop DIR
# pgserver.sh start-tls DIR PORT IP
# pgserver.sh start-standby DIR | kill-primary DIR | promote DIR
# The throw-away PostgreSQL 15 the store tests run against: a cluster of its
# own in DIR, no TCP, reachable only through the Unix socket in DIR, superuser
# "orvenna" with trust login. initdb and pg_ctl refuse to run as root, so as
# root the server runs as "nobody" in a folder handed over to it. A German
# locale is compiled into DIR/locale when the system has its source, so that a
# test can have the server speak German (SET lc_messages = 'de_DE.UTF-8').
# start-tls also listens on TCP PORT, takes only TLS there (hostssl), and
# shows a certificate for IP and localhost signed by DIR/tls/ca.crt; a CA that
# signed nothing of it is DIR/tls/other-ca.crt.
# start-standby starts a primary (socket in DIR) and a streaming standby made
# from it with pg_basebackup on a replication slot (socket in DIR/standby). A
# commit waits until the standby has it, so a primary that dies loses nothing
# a client was told is saved. kill-primary stops the primary at once, as a
# crash would; promote makes the standby the primary.
# PGSERVER_OPTIONS adds server settings to start (e.g. "-c max_connections=300").
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

stop_cluster() {
    if [ -f "$1/postmaster.pid" ]; then
        (cd "$dir" && as_owner "$bin/pg_ctl" -D "$1" -m immediate -w -t 10 stop >/dev/null 2>&1)
    fi
}

stop_server() {
    stop_cluster "$dir/standby/data"
    stop_cluster "$dir/data"
    rm -rf "$dir"
}

psql_at() {
    "$bin/psql" -h "$1" -U orvenna -d postgres -Atqc "$2" 2>/dev/null
}

make_cluster() {
    stop_server # what a killed run may have left
    [ -x "$bin/initdb" ] && [ -x "$bin/pg_ctl" ] || fail "no initdb/pg_ctl in $bin (install postgresql-15)"
    mkdir -p "$dir" || fail "cannot make $dir"
    chmod 700 "$dir"
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody "$dir" || fail "cannot hand $dir to the user nobody"
    fi
    cd "$dir" || fail "cannot enter $dir"
    as_owner "$bin/initdb" -D "$dir/data" -U orvenna --auth=trust -E UTF8 --no-locale --no-sync >"$dir/initdb.log" 2>&1 \
        || fail "initdb failed: $(tail -n 5 "$dir/initdb.log")"
}

# A CA, a certificate of the server signed by it for IP and localhost, and a
# CA that signed nothing, made by the server's owner so that it may read its key.
make_certificates() {
    local ip=$1 tls="$dir/tls"
    as_owner mkdir -p "$tls" || fail "cannot make $tls"
    (
        cd "$tls" &&
        as_owner openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvenna test CA" \
            -keyout ca.key -out ca.crt &&
        as_owner openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Another CA" \
            -keyout other-ca.key -out other-ca.crt &&
        as_owner openssl req -newkey rsa:2048 -nodes -subj "/CN=$ip" -keyout server.key -out server.csr &&
        printf 'subjectAltName=IP:%s,DNS:localhost\n' "$ip" | as_owner tee server.ext >/dev/null &&
        as_owner openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
            -extfile server.ext -out server.crt &&
        as_owner chmod 600 server.key
    ) >"$dir/openssl.log" 2>&1 || fail "openssl failed: $(tail -n 5 "$dir/openssl.log")"
}

[ -n "$dir" ] || { echo "usage: pgserver.sh start|stop DIR" >&2; exit 2; }
case "$action" in
start)
    make_cluster
    as_owner mkdir -p "$dir/locale" && as_owner localedef -i de_DE -f UTF-8 "$dir/locale/de_DE.UTF-8" >/dev/null 2>&1 || true
    LOCPATH="$dir/locale" as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c synchronous_commit=off -c full_page_writes=off ${PGSERVER_OPTIONS:-}" \
        start >/dev/null 2>&1 || fail "pg_ctl start failed: $(tail -n 5 "$dir/server.log" 2>/dev/null)"
    "$bin/psql" -h "$dir" -U orvenna -d postgres -Atqc 'SELECT 1' >/dev/null 2>&1 \
        || fail "the server does not answer on $dir"
    echo "PostgreSQL $("$bin/postgres" --version | awk '{print $3}') running, socket in $dir"
    ;;
start-tls)
    port=${3:-} ip=${4:-}
    [ -n "$port" ] && [ -n "$ip" ] || { echo "usage: pgserver.sh start-tls DIR PORT IP" >&2; exit 2; }
    make_cluster
    make_certificates "$ip"
    printf 'local all all trust\nhostssl all all all trust\n' | as_owner tee "$dir/data/pg_hba.conf" >/dev/null
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-c listen_addresses='*' -c port=$port -c unix_socket_directories='$dir' -c fsync=off -c ssl=on -c ssl_cert_file='$dir/tls/server.crt' -c ssl_key_file='$dir/tls/server.key'" \
        start >/dev/null 2>&1 || fail "pg_ctl start failed: $(tail -n 5 "$dir/server.log" 2>/dev/null)"
    echo "PostgreSQL with TLS running on port $port, socket in $dir"
    ;;
start-standby)
    make_cluster
    # What the primary's postgresql.conf gets (pg_hba.conf from initdb already
    # lets "local replication" in).
    printf "wal_level = replica\nmax_wal_senders = 4\nsynchronous_standby_names = '*'\n" \
        | as_owner tee -a "$dir/data/postgresql.conf" >/dev/null
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off" \
        start >/dev/null 2>&1 || fail "pg_ctl start of the primary failed: $(tail -n 5 "$dir/server.log" 2>/dev/null)"
    [ "$(psql_at "$dir" "SELECT 1 FROM pg_create_physical_replication_slot('orvenna_standby')")" = 1 ] \
        || fail "no replication slot on the primary"
    as_owner mkdir -p "$dir/standby" && as_owner chmod 700 "$dir/standby" || fail "cannot make $dir/standby"
    (cd "$dir" && as_owner "$bin/pg_basebackup" -h "$dir" -U orvenna -D "$dir/standby/data" -R -S orvenna_standby \
        -X stream -c fast --no-sync) >"$dir/basebackup.log" 2>&1 || fail "pg_basebackup failed: $(tail -n 5 "$dir/basebackup.log")"
    # Once promoted, the standby has no standby of its own to wait for.
    echo "synchronous_standby_names = ''" | as_owner tee -a "$dir/standby/data/postgresql.auto.conf" >/dev/null
    as_owner "$bin/pg_ctl" -D "$dir/standby/data" -l "$dir/standby/server.log" -w -t 30 \
        -o "-c listen_addresses='' -c unix_socket_directories='$dir/standby' -c fsync=off" \
        start >/dev/null 2>&1 || fail "pg_ctl start of the standby failed: $(tail -n 5 "$dir/standby/server.log" 2>/dev/null)"
    for _ in $(seq 100); do
        [ "$(psql_at "$dir" "SELECT sync_state FROM pg_stat_replication")" = sync ] && break
        sleep 0.1
    done
    [ "$(psql_at "$dir" "SELECT sync_state FROM pg_stat_replication")" = sync ] \
        || fail "the standby does not stream from the primary: $(tail -n 5 "$dir/standby/server.log")"
    echo "PostgreSQL primary (socket in $dir) and standby (socket in $dir/standby) running"
    ;;
kill-primary)
    (cd "$dir" && as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 10 stop >/dev/null 2>&1) \
        || fail "the primary would not stop"
    ;;
promote)
    (cd "$dir" && as_owner "$bin/pg_ctl" -D "$dir/standby/data" -w -t 30 promote >/dev/null 2>&1) \
        || fail "the standby would not become the primary: $(tail -n 5 "$dir/standby/server.log")"
    ;;
stop)
    stop_server
    ;;
*)
    echo "usage: pgserver.sh start|stop DIR" >&2
    exit 2
    ;;
esac
