#!/usr/bin/env bash
# `cmake --install` puts the program, the tools, the desktop entry, the icon and the
# manual page in place, and the installed program runs.
set -u
source "$(dirname "$0")/program_lib.sh"
PROGRAM_NAME=install
prefix=$E2E_WORK/prefix
cmake --install "$TAVREL_BUILD" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for f in bin/tavrel bin/tavrel-decode bin/tavrel-gen share/applications/tavrel.desktop \
  share/icons/hicolor/scalable/apps/tavrel.svg share/man/man1/tavrel.1.gz share/man/man1/tavrel-decode.1.gz \
  share/man/man1/tavrel-gen.1.gz share/bash-completion/completions/tavrel-decode \
  share/bash-completion/completions/tavrel-gen; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
grep -q '^Exec=tavrel$' "$prefix/share/applications/tavrel.desktop" || fail "desktop entry"
for page in tavrel tavrel-decode tavrel-gen; do
  warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -man -ww -z -Tutf8 2>&1)
  [ -z "$warnings" ] || fail "manual page $page: $warnings"
done
PROGRAM=$prefix/bin/tavrel
start_program
feed silence:5
await 50 recording || fail "the installed program does not record"
close_program 2
stop_feed
[ "$(od -An -c "$prog_out" | tr -d ' \n')" = '\n' ] || fail "unexpected output"
echo "  installed under $prefix and ran"
