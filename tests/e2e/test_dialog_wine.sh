#!/usr/bin/env bash
# The Windows status dialog under Wine on the X server.
if [ ! -d "$TAVREL_WINDOWS_BUILD" ]; then
  echo "no Windows build: skipped"
  exit 0
fi
demo=$TAVREL_WINDOWS_BUILD/tests/e2e/dialog_demo.exe
[ -f "$demo" ] || { echo "no $demo"; exit 1; }
PROGRAM="wine $demo 5"
PROGRAM_NAME=dialog_wine
CLOSE_LIMIT=10
SHOT=window-windows.png
source "$(dirname "$0")/dialog_checks.sh"
