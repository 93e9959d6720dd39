#!/usr/bin/env bash
# Installs into a throw-away data folder, checks the layout and the desktop
# entry, uninstalls, and checks that the user's data stayed.
set -euo pipefail
top=$1
build=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_DATA_HOME="$home/data"
folder="$XDG_DATA_HOME/orvenna"

# Install from the build under test without rebuilding it.
workdir=$(mktemp -d "$home/src.XXXX")
cp -r "$top/install" "$top/scripts" "$top/resources" "$workdir/"
ln -s "$build" "$workdir/build"
ORVENNA_NO_BUILD=1 "$workdir/install"

for f in orvenna orvenna-newdb css/css.css eventDB.mdb; do
    [ -e "$folder/$f" ] || { echo "missing after install: $f"; exit 1; }
done
entry="$XDG_DATA_HOME/applications/orvenna.desktop"
grep -q "^Exec=\"$folder/orvenna\"$" "$entry"
[ -f "$XDG_DATA_HOME/icons/hicolor/scalable/apps/orvenna.svg" ]
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry"
else
    echo "desktop-file-validate is not installed"; exit 1
fi

# A second install keeps the database it finds.
echo "user data" > "$folder/printEvent.html"
before=$(sha1sum "$folder/eventDB.mdb")
ORVENNA_NO_BUILD=1 "$workdir/install" >/dev/null
[ "$(sha1sum "$folder/eventDB.mdb")" = "$before" ]

"$workdir/install" --uninstall
[ ! -e "$entry" ] && [ ! -e "$folder/orvenna" ] && [ ! -e "$folder/css" ]
[ "$(sha1sum "$folder/eventDB.mdb")" = "$before" ]
grep -q "user data" "$folder/printEvent.html"
echo "install test passed"
