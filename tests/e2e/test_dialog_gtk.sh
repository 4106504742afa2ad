#!/usr/bin/env bash
# The GTK status dialog on the X server.
PROGRAM="$TAVREL_BUILD/tests/e2e/dialog_demo 5"
PROGRAM_NAME=dialog_gtk
CLOSE_LIMIT=2
SHOT=window-linux.png
[ -x "$TAVREL_BUILD/tests/e2e/dialog_demo" ] || { echo "no dialog_demo in $TAVREL_BUILD"; exit 1; }
source "$(dirname "$0")/dialog_checks.sh"
