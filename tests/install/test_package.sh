#!/usr/bin/env bash
# Makes the Debian package from the build under test, unpacks it with
# dpkg-deb, checks its files, and starts the unpacked calendar offscreen with a
# throw-away home: the calendar makes its per-user data folder there and
# nothing in the unpacked tree changes. Then the program-folder layout: read
# only, the data goes to the per-user folder; writable, it stays beside the
# program.
set -euo pipefail
top=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
unset DISPLAY WAYLAND_DISPLAY XDG_DATA_HOME
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'
for tool in cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli; do
    command -v $tool >/dev/null || { echo "$tool is not installed"; exit 1; }
done
fail() { echo "$*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb="$work/deb/orvenna_1.1.0_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/deb")"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6widgets6* && $depends == *libqt6sql6-sqlite* ]] || fail "Depends: $depends"
root="$work/root"
dpkg-deb -x "$deb" "$root"
for f in bin/orvenna bin/orvenna-newdb bin/orvenna-ics bin/orvenna-sync share/orvenna/css/css.css share/applications/orvenna.desktop \
         share/icons/hicolor/scalable/apps/orvenna.svg share/man/man1/orvenna.1.gz share/man/man1/orvenna-newdb.1.gz \
         share/man/man1/orvenna-ics.1.gz share/man/man1/orvenna-sync.1.gz share/doc/orvenna/copyright; do
    [ -f "$root/usr/$f" ] || fail "not in the package: /usr/$f"
done
desktop-file-validate "$root/usr/share/applications/orvenna.desktop"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; exit 1; }

# The command line, with no display to be had.
bin="$root/usr/bin"
cli() { timeout 10 env -u QT_QPA_PLATFORM "$bin/orvenna" "$@"; }
version=$(cli --version) || fail "--version failed"
[ "$version" = "orvenna 1.1.0" ] || fail "--version: $version"
cli --help >"$work/out" || fail "--help failed"
grep -q '^usage: orvenna \[--help\] \[--version\] \[--database URL\]$' "$work/out" || fail "--help printed no usage"
for args in --bogus extra "--help extra" -- --database --database=; do
    rc=0
    cli $args >"$work/out" 2>"$work/err" || rc=$?
    [ $rc -eq 2 ] && [ ! -s "$work/out" ] && grep -q '^usage: orvenna' "$work/err" || fail "orvenna $args: exit $rc"
done

timeout 10 "$bin/orvenna-newdb" --help >"$work/out" || fail "orvenna-newdb --help failed"
grep -q '^usage: orvenna-newdb PATH' "$work/out" || fail "orvenna-newdb --help printed no usage"
zcat "$root/usr/share/man/man1/orvenna-newdb.1.gz" | grep -qF '.BI \-\-database' || fail "orvenna-newdb(1) lacks --database"
# The file exchange without a window, on a calendar made by orvenna-newdb.
timeout 10 "$bin/orvenna-ics" --help | grep -q '^Exit status: 0 done' || fail "orvenna-ics --help names no exit status"
"$bin/orvenna-newdb" "$work/ics.mdb" --demo
timeout 30 "$bin/orvenna-ics" export "$work/plan" --calendar "$work/ics.mdb" >"$work/out" || fail "orvenna-ics export failed"
grep -q "^Exported [1-9][0-9]* events to $work/plan.ics.\$" "$work/out" || fail "orvenna-ics export: $(cat "$work/out")"
# The sync without a window: a calendar bound to no server is told so.
timeout 10 "$bin/orvenna-sync" --help | grep -q '^Exit status: 0 done' || fail "orvenna-sync --help names no exit status"
rc=0
timeout 30 "$bin/orvenna-sync" --once --calendar "$work/ics.mdb" 2>"$work/err" || rc=$?
[ $rc -eq 1 ] && grep -q 'syncs with no server calendar' "$work/err" || fail "orvenna-sync on an unbound calendar: exit $rc $(cat "$work/err")"

# Runs the calendar as the user in $as (or as this one), waits for FILE to
# appear (at most 60 s) or for 3 s, checks that it is still running, stops it.
as=()
run_calendar() {
    local home=$1 file=$2 pid
    shift 2
    "${as[@]}" env HOME="$home" "$@" >"$work/run.log" 2>&1 &
    pid=$!
    if [ -n "$file" ]; then
        for _ in $(seq 600); do [ -e "$file" ] && break; sleep 0.1; done
        sleep 1
    else
        sleep 3
    fi
    kill -0 $pid 2>/dev/null || { cat "$work/run.log"; fail "the calendar ended by itself"; }
    kill $pid
    wait $pid || true
}
snapshot() { (cd "$1" && find . -printf '%p %M %s %T@\n' | sort && find . -type f -exec sha1sum {} + | sort); }

# Installed system-wide, the calendar keeps its data per user, even for root.
before=$(snapshot "$root")
home="$work/home"
mkdir "$home"
run_calendar "$home" "$home/data/orvenna/eventDB.mdb" XDG_DATA_HOME="$home/data" "$bin/orvenna"
[ "$(snapshot "$root")" = "$before" ] || fail "the unpacked tree changed"
"$bin/orvenna-newdb" "$work/new.mdb"
cmp "$home/data/orvenna/eventDB.mdb" "$work/new.mdb" || fail "the first start made no empty calendar"
cmp "$home/data/orvenna/css/css.css" "$root/usr/share/orvenna/css/css.css"

# A damaged database is reported, not replaced; a changed style sheet stays.
echo "not a database" > "$home/data/orvenna/eventDB.mdb"
echo "/* mine */" > "$home/data/orvenna/css/css.css"
run_calendar "$home" "" XDG_DATA_HOME="$home/data" "$bin/orvenna"
[ "$(cat "$home/data/orvenna/eventDB.mdb")" = "not a database" ] || fail "the damaged database was replaced"
[ "$(cat "$home/data/orvenna/css/css.css")" = "/* mine */" ]

# A relative XDG_DATA_HOME counts as unset: not a folder under the current one.
home="$work/home-rel"
mkdir -p "$home" "$work/cwd"
cd "$work/cwd"
run_calendar "$home" "$home/.local/share/orvenna/eventDB.mdb" XDG_DATA_HOME="data" "$bin/orvenna"
cd - >/dev/null
[ -z "$(ls -A "$work/cwd")" ] || fail "a relative XDG_DATA_HOME was used: $(ls -A "$work/cwd")"

# A program folder nobody may write: the data goes to ~/.local/share/orvenna.
# Root may write anywhere, so the calendar runs as nobody then.
folder="$work/folder"
cmake --install "$build" --prefix "$folder" >/dev/null
chmod -R a-w "$folder"
home="$work/home-ro"
mkdir "$home"
if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$home"
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
before=$(snapshot "$folder")
run_calendar "$home" "$home/.local/share/orvenna/eventDB.mdb" "$folder/orvenna"
[ "$(snapshot "$folder")" = "$before" ] || fail "the read-only program folder changed"
cmp "$home/.local/share/orvenna/css/css.css" "$folder/css/css.css"
as=()

# A writable program folder stays the place: nothing is made per user, and
# the calendar still never makes its own database.
chmod -R u+w "$folder"
home="$work/home-rw"
mkdir "$home"
run_calendar "$home" "" "$folder/orvenna"
[ ! -e "$home/.local" ] || fail "a writable program folder's calendar used $home/.local"
[ ! -e "$folder/eventDB.mdb" ] || fail "the calendar made its own database"
echo "package test passed"
