#!/usr/bin/env bash
# davservers.sh start|stop DIR
# The throw-away CalDAV servers the sync tests run against, both on 127.0.0.1
# at free ports, with their storage in DIR: Radicale over TLS with a
# self-signed certificate made here and an htpasswd login, and Xandikos over
# plain HTTP without a login. DIR/servers.env tells the tests where they are.
# As root the servers run as "nobody" in a folder handed over to it.
set -u
action=${1:-} dir=${2:-}
user=coach password=pitch-side-7

fail() {
    echo "davservers: $*" >&2
    exit 1
}

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}

stop_servers() {
    local f pid
    for f in "$dir"/*.pid; do
        [ -s "$f" ] || continue
        pid=$(cat "$f")
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    done
    rm -rf "$dir"
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to 30 s for URL to answer at all.
wait_for() {
    local url=$1 log=$2 pidfile=$3
    for _ in $(seq 300); do
        curl -sk -o /dev/null --max-time 2 "$url" && return 0
        [ ! -s "$pidfile" ] || kill -0 "$(cat "$pidfile")" 2>/dev/null || fail "the server ended: $(tail -n 5 "$log")"
        sleep 0.1
    done
    fail "no answer from $url: $(tail -n 5 "$log")"
}

[ -n "$dir" ] || { echo "usage: davservers.sh start|stop DIR" >&2; exit 2; }
case "$action" in
start)
    stop_servers # what a killed run may have left
    command -v radicale >/dev/null || fail "radicale is not installed"
    command -v xandikos >/dev/null || fail "xandikos is not installed"
    command -v openssl >/dev/null || fail "openssl is not installed"
    mkdir -p "$dir" || fail "cannot make $dir"
    chmod 700 "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
        -addext subjectAltName=IP:127.0.0.1,DNS:localhost \
        -keyout "$dir/key.pem" -out "$dir/cert.pem" >"$dir/openssl.log" 2>&1 || fail "openssl: $(cat "$dir/openssl.log")"
    fingerprint=$(openssl x509 -in "$dir/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')
    printf '%s:%s\n' "$user" "$password" >"$dir/users"
    radicale_port=$(free_port) xandikos_port=$(free_port)
    cat >"$dir/radicale.conf" <<CONF
[server]
hosts = 127.0.0.1:$radicale_port
ssl = True
certificate = $dir/cert.pem
key = $dir/key.pem
[auth]
type = htpasswd
htpasswd_filename = $dir/users
htpasswd_encryption = plain
delay = 0
[storage]
filesystem_folder = $dir/radicale
[logging]
level = warning
CONF
    if [ "$(id -u)" -eq 0 ]; then
        chown -R nobody "$dir" || fail "cannot hand $dir to the user nobody"
    fi
    cd "$dir" || fail "cannot enter $dir"
    # Each server writes its own process id, so that stop ends the server itself.
    as_owner bash -c 'echo $$ >"$0"; exec "$@"' "$dir/radicale.pid" radicale --config "$dir/radicale.conf" \
        >"$dir/radicale.log" 2>&1 </dev/null &
    as_owner bash -c 'echo $$ >"$0"; exec "$@"' "$dir/xandikos.pid" xandikos -d "$dir/xandikos" --defaults \
        -l 127.0.0.1 -p "$xandikos_port" >"$dir/xandikos.log" 2>&1 </dev/null &
    wait_for "https://127.0.0.1:$radicale_port/" "$dir/radicale.log" "$dir/radicale.pid"
    wait_for "http://127.0.0.1:$xandikos_port/" "$dir/xandikos.log" "$dir/xandikos.pid"
    cat >"$dir/servers.env" <<ENV
RADICALE_URL=https://127.0.0.1:$radicale_port/
RADICALE_FINGERPRINT=$fingerprint
RADICALE_CERT=$dir/cert.pem
XANDIKOS_URL=http://127.0.0.1:$xandikos_port/
DAV_USER=$user
DAV_PASSWORD=$password
ENV
    echo "Radicale on https://127.0.0.1:$radicale_port/, Xandikos on http://127.0.0.1:$xandikos_port/, in $dir"
    ;;
stop)
    stop_servers
    ;;
*)
    echo "usage: davservers.sh start|stop DIR" >&2
    exit 2
    ;;
esac
