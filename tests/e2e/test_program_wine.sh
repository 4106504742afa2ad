#!/usr/bin/env bash
# The Windows program end to end, under Wine.
PROGRAM="wine $TAVREL_WINDOWS_BUILD/app/tavrel.exe"
PROGRAM_NAME=tavrel.exe
CLOSE_LIMIT=4
[ -f "$TAVREL_WINDOWS_BUILD/app/tavrel.exe" ] || { echo "no tavrel.exe"; exit 1; }
source "$(dirname "$0")/program_scenarios.sh"
