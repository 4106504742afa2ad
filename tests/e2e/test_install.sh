#!/usr/bin/env bash
# `cmake --install` puts the program, the tools, the desktop entry and the icon in place,
# and the installed program runs.
set -u
source "$(dirname "$0")/program_lib.sh"
PROGRAM_NAME=install
prefix=$E2E_WORK/prefix
cmake --install "$TAVREL_BUILD" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for f in bin/tavrel bin/tavrel-decode bin/tavrel-gen share/applications/tavrel.desktop \
  share/icons/hicolor/scalable/apps/tavrel.svg; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
grep -q '^Exec=tavrel$' "$prefix/share/applications/tavrel.desktop" || fail "desktop entry"
PROGRAM=$prefix/bin/tavrel
start_program
feed silence:5
sleep 0.5
close_program 2
stop_feed
[ "$(od -An -c "$prog_out" | tr -d ' \n')" = '\n' ] || fail "unexpected output"
echo "  installed under $prefix and ran"
