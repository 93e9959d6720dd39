#!/usr/bin/env bash
# Installs into throw-away data folders, checks the layout and the desktop
# entry, uninstalls, and checks that the user's data stayed and nothing else
# did; then ./run from the same kind of folder.
set -euo pipefail
top=$1
build=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
for tool in desktop-file-validate gio; do
    command -v $tool >/dev/null || { echo "$tool is not installed"; exit 1; }
done

# The scripts as in a clone, on the build under test without rebuilding it.
workdir=$(mktemp -d "$home/src.XXXX")
cp -r "$top/install" "$top/run" "$top/scripts" "$top/resources" "$workdir/"
ln -s "$build" "$workdir/build"
export ORVENNA_NO_BUILD=1

# A mistyped option installs nothing.
export XDG_DATA_HOME="$home/typo"
rc=0
"$workdir/install" --help 2>/dev/null || rc=$?
[ $rc -eq 2 ] && [ ! -e "$XDG_DATA_HOME" ] || { echo "./install --help: exit $rc"; exit 1; }

# Data folders whose paths need quoting and escaping in the desktop entry.
for name in plain 'with space' 'per%zent' 'quote"d' 'dollar$HOME' 'back\slash' 'back`tick' 'all %"$\` ;'; do
    export XDG_DATA_HOME="$home/$name/data"
    folder="$XDG_DATA_HOME/orvenna"
    entry="$XDG_DATA_HOME/applications/orvenna.desktop"
    "$workdir/install" >/dev/null
    for f in orvenna orvenna-newdb orvenna-ics orvenna-sync css/css.css eventDB.mdb; do
        [ -e "$folder/$f" ] || { echo "$name: missing after install: $f"; exit 1; }
    done
    [ -f "$XDG_DATA_HOME/icons/hicolor/scalable/apps/orvenna.svg" ]
    desktop-file-validate "$entry" || { echo "$name: $(grep ^Exec= "$entry")"; exit 1; }

    # The entry starts the installed program: a stand-in records its own path.
    # (GLib looks for the program before undoing %%, so it can't start one whose path holds %.)
    if [[ $name != *%* ]]; then
        mv "$folder/orvenna" "$home/orvenna.real"
        printf '#!/bin/sh\nprintf "%%s" "$0" > "%s/started"\n' "$home" > "$folder/orvenna"
        chmod +x "$folder/orvenna"
        rm -f "$home/started"
        gio launch "$entry"
        for _ in $(seq 50); do [ -s "$home/started" ] && break; sleep 0.1; done
        [ "$(cat "$home/started" 2>/dev/null)" = "$folder/orvenna" ] || { echo "$name: the entry started '$(cat "$home/started" 2>/dev/null)'"; exit 1; }
        mv -f "$home/orvenna.real" "$folder/orvenna"
    fi

    # A second install keeps the database it finds.
    echo "user data" > "$folder/printEvent.html"
    before=$(sha1sum < "$folder/eventDB.mdb")
    "$workdir/install" >/dev/null
    [ "$(sha1sum < "$folder/eventDB.mdb")" = "$before" ]

    # Caches that other programs made for the install's folders go with it.
    update-desktop-database "$XDG_DATA_HOME/applications" 2>/dev/null || touch "$XDG_DATA_HOME/applications/mimeinfo.cache"
    touch "$XDG_DATA_HOME/icons/hicolor/icon-theme.cache"
    # Every other folder: a style sheet the user changed, a week plan and a settings file stay, and are named.
    export XDG_CONFIG_HOME="$XDG_DATA_HOME/../config"
    expected=". ./orvenna ./orvenna/eventDB.mdb ./orvenna/printEvent.html "
    changed=""
    if [[ $name == plain || $name == back* || $name == all* ]]; then
        changed=1
        echo "/* mine */" >> "$folder/css/css.css"
        echo "plan" > "$folder/weekPlan.html"
        mkdir -p "$XDG_CONFIG_HOME/orvenna"
        echo "[General]" > "$XDG_CONFIG_HOME/orvenna/orvenna.conf"
        expected=". ./orvenna ./orvenna/css ./orvenna/css/css.css ./orvenna/eventDB.mdb ./orvenna/printEvent.html ./orvenna/weekPlan.html "
    fi
    "$workdir/install" --uninstall >"$home/said"
    left=$(cd "$XDG_DATA_HOME" && find . | sort | tr '\n' ' ')
    [ "$left" = "$expected" ] || { echo "$name: left behind: $left"; exit 1; }
    [ "$(sha1sum < "$folder/eventDB.mdb")" = "$before" ]
    grep -q "user data" "$folder/printEvent.html"
    for kept in "$folder/eventDB.mdb" "$folder/printEvent.html"; do
        grep -qF "  $kept" "$home/said" || { echo "$name: not said to stay: $kept"; cat "$home/said"; exit 1; }
    done
    if [ -n "$changed" ]; then
        grep -q "/\* mine \*/" "$folder/css/css.css"
        for kept in "$folder/css/css.css" "$folder/weekPlan.html" "$XDG_CONFIG_HOME/orvenna/orvenna.conf"; do
            grep -qF "  $kept" "$home/said" || { echo "$name: not said to stay: $kept"; cat "$home/said"; exit 1; }
        done
    else
        grep -q "lost their style sheet" "$home/said" || { echo "$name: the reports' lost style not said"; cat "$home/said"; exit 1; }
    fi
    unset XDG_CONFIG_HOME
done

# Another program's menu entry keeps the menu folder and its cache.
export XDG_DATA_HOME="$home/shared/data"
mkdir -p "$XDG_DATA_HOME/applications"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=true\n' > "$XDG_DATA_HOME/applications/other.desktop"
"$workdir/install" >/dev/null
touch "$XDG_DATA_HOME/applications/mimeinfo.cache"
"$workdir/install" --uninstall >/dev/null
[ -e "$XDG_DATA_HOME/applications/other.desktop" ] && [ -e "$XDG_DATA_HOME/applications/mimeinfo.cache" ]
[ ! -e "$XDG_DATA_HOME/applications/orvenna.desktop" ]

# ./run starts the calendar from the per-user folder, with a demo database the
# first time and the same database after that.
export XDG_DATA_HOME="$home/run \$x%/data"
folder="$XDG_DATA_HOME/orvenna"
start() {
    local rc=0
    timeout 5 "$workdir/run" >/dev/null 2>&1 || rc=$?
    [ $rc -eq 124 ] || { echo "./run ended with $rc before it was stopped"; exit 1; }
}
start
[ -x "$folder/orvenna" ] && [ -f "$folder/css/css.css" ]
"$build/bin/orvenna-newdb" "$home/empty.mdb"
! cmp -s "$folder/eventDB.mdb" "$home/empty.mdb" || { echo "./run placed no demo data"; exit 1; }
echo "changed" > "$folder/css/css.css"
before=$(sha1sum < "$folder/eventDB.mdb")
start
[ "$(sha1sum < "$folder/eventDB.mdb")" = "$before" ]
cmp -s "$folder/css/css.css" "$top/css/css.css" || { echo "./run did not refresh the program files"; exit 1; }
echo "install test passed"
