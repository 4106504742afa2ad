#!/usr/bin/env bash
# The .deb as a user gets it: CPack builds it in BUILD_DIR (a release build), lintian
# finds no errors, `apt-get install ./tavrel_*.deb` installs it, the installed tools
# answer --version and decode a tag through a pipe, and the package goes again together
# with whatever apt-get brought along for it. The machine is left as it was found: when
# tavrel is installed already, the install part is skipped.
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
work=$(mktemp -d /tmp/tavrel-deb.XXXXXX)
chmod 755 "$work"  # apt reads the .deb as its own user
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo -n)
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -qq)
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | sed -n 's/^ii  *//p' | sort; }

fail() {
  echo "FAIL [deb]: $*" >&2
  exit 1
}

(cd "$build" && cpack -G DEB -B "$work" >/dev/null) || fail "cpack -G DEB failed"
deb=$work/tavrel_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb"
chmod 644 "$deb"
echo "  built $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"

# lintian refuses nothing here but says so when run as root.
command -v lintian >/dev/null || fail "lintian is not installed (./dev.sh test installs it)"
report=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -n "$report" ] && printf '  lintian: %s\n' "$report"
grep -q '^E:' <<<"$report" && fail "lintian reports errors"

if installed | grep -qx tavrel; then
  echo "  tavrel is installed on this machine already: install test skipped"
  rm -rf "$work"
  exit 0
fi
before=$(installed)
cleanup() {
  # Remove tavrel and only what its install added.
  local added
  added=$(comm -13 <(echo "$before") <(installed) | tr '\n' ' ')
  [ -n "$added" ] && "${apt[@]}" purge $added >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
"${apt[@]}" install "$deb" >/dev/null 2>"$work/apt.err" || { cat "$work/apt.err" >&2; fail "apt-get install"; }

[ "$(/usr/bin/tavrel-decode --version)" = "tavrel-decode $version" ] || fail "tavrel-decode --version"
[ "$(/usr/bin/tavrel-gen -V)" = "tavrel-gen $version" ] || fail "tavrel-gen -V"
/usr/bin/tavrel-gen -o "$work/tag.flac" -s 1 8400043916 || fail "installed tavrel-gen"
/usr/bin/tavrel-decode --json - <"$work/tag.flac" >"$work/reads" || fail "installed tavrel-decode"
id=$(python3 -c 'import json,sys; print(json.loads(open(sys.argv[1]).readline())["id"])' "$work/reads")
[ "$id" = 8400043916 ] || fail "installed tavrel-decode read '$id'"
# The picture module is found where the package put it.
/usr/bin/tavrel-decode -q --plot "$work/tag.png" "$work/tag.flac" >/dev/null &&
  [ -s "$work/tag.png" ] || fail "installed tavrel-decode --plot"
for f in /usr/bin/tavrel /usr/share/man/man1/tavrel-decode.1.gz /usr/share/man/man1/tavrel-gen.1.gz \
  /usr/share/doc/tavrel/copyright /usr/share/applications/tavrel.desktop \
  /usr/share/bash-completion/completions/tavrel-decode /usr/lib/systemd/system/tavrel-reader@.service \
  /usr/share/doc/tavrel/examples/reader.conf; do
  [ -f "$f" ] || fail "not installed: $f"
done
# The reader's unit as systemd finds it, its program and man page installed (the man
# page is looked up only where man is).
man=--man=no
command -v man >/dev/null && man=--man=yes
report=$(systemd-analyze verify "$man" /usr/lib/systemd/system/tavrel-reader@.service 2>&1) &&
  ! grep -q tavrel-reader <<<"$report" || fail "systemd-analyze verify: $report"
trap - EXIT
cleanup
[ "$(installed)" = "$before" ] || fail "the machine's packages differ after removal"
echo "  installed with apt-get, ran, and removed again"
