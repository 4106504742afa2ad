#!/usr/bin/env bash
# The Linux program end to end.
PROGRAM="$TAVREL_BUILD/app/tavrel"
PROGRAM_NAME=tavrel
CLOSE_LIMIT=2
[ -x "$PROGRAM" ] || { echo "no $PROGRAM"; exit 1; }
source "$(dirname "$0")/program_scenarios.sh"
