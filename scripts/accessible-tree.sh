#!/bin/bash
# Shows what a screen reader finds in the main window: starts the program
# built in BUILD (default: build) on a fresh demo calendar, on a virtual
# display with its own session bus and AT-SPI, and prints the accessible tree
# (role, name, description, focused/selected, labelled-by) as AT-SPI gives it.
# Needs xvfb, dbus, at-spi2-core and python3-pyatspi.
#   scripts/accessible-tree.sh [BUILD]
set -euo pipefail
build=$(realpath "${1:-build}")
for tool in xvfb-run dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "missing: python3-pyatspi" >&2; exit 1; }

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$build/bin/orvenna" "$folder/"
"$build/bin/orvenna-newdb" "$folder/eventDB.mdb" --demo >/dev/null

cat > "$folder/dump.py" <<'PY'
import time, pyatspi

def application():
    for _ in range(40):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == 'Orvenna':
                return app
        time.sleep(0.5)
    raise SystemExit('Orvenna did not appear on the accessibility bus')

def dump(acc, depth):
    if acc.getRoleName() in ('menu', 'menu item', 'separator', 'scroll bar'):
        return
    states = acc.getState().getStates()
    marks = [n for s, n in ((pyatspi.STATE_FOCUSED, 'focused'), (pyatspi.STATE_SELECTED, 'selected')) if s in states]
    if pyatspi.STATE_SHOWING not in states:
        return
    line = '  ' * depth + '[%s] %r' % (acc.getRoleName(), acc.name)
    if acc.description:
        line += ' desc=%r' % acc.description
    if marks:
        line += ' (%s)' % ', '.join(marks)
    for r in acc.getRelationSet():
        if r.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            line += ' labelled-by %r' % r.getTarget(0).name
    print(line)
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            dump(child, depth + 1)

dump(application(), 0)
PY

cat > "$folder/session.sh" <<'SH'
cd "$(dirname "$0")"
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 ./orvenna >/dev/null 2>&1 &
program=$!
/usr/bin/python3 dump.py
kill $program
SH

xvfb-run -a dbus-run-session -- bash "$folder/session.sh" 2>/dev/null
