#!/usr/bin/env bash
# The reader's systemd unit passes systemd-analyze verify, as the instance
# tavrel-reader@door: with ExecStart taken to this build's tavrel-decode (the installed
# one may be absent) and without its man page looked up (the package test verifies the
# installed unit, man page and all). verify only warns about most mistakes, so any line
# it writes about the unit fails the test too.
#   tests/package/test_unit.sh UNIT_FILE TAVREL_DECODE
set -euo pipefail
unit=${1:?usage: $0 UNIT_FILE TAVREL_DECODE}
program=${2:?usage: $0 UNIT_FILE TAVREL_DECODE}
fail() {
  echo "FAIL [unit]: $*" >&2
  exit 1
}
command -v systemd-analyze >/dev/null ||
  fail "systemd-analyze is missing (package systemd; ./dev.sh test installs it)"
work=$(mktemp -d /tmp/tavrel-unit.XXXXXX)
trap 'rm -rf "$work"' EXIT
instance=$work/tavrel-reader@door.service
sed "s|^ExecStart=tavrel-decode |ExecStart=$program |" "$unit" >"$instance"
grep -q "^ExecStart=$program --live " "$instance" || fail "no ExecStart=tavrel-decode --live line"
status=0
report=$(systemd-analyze verify --man=no "$instance" 2>&1) || status=$?
mine=$(grep -F 'tavrel-reader@door' <<<"$report" || true)
[ "$status" -eq 0 ] && [ -z "$mine" ] || fail "systemd-analyze verify (status $status): $report"
echo "  $(basename "$unit") passes systemd-analyze verify"
