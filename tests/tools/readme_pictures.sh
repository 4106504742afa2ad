#!/usr/bin/env bash
# The README's pictures of "When nothing is read", from synthesized recordings:
#   tests/tools/readme_pictures.sh TOOLS_DIR OUT_DIR
# (./dev.sh test makes them under build/dev/docs; copy them to docs/ when they change.)
set -euo pipefail
tools=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# name, exit status tavrel-decode must give, its options (- for none), tavrel-gen options
# and the tag
cases=(
  "good-read 0 - --noise 0.01 --jitter 1 8400043916"
  "too-weak 1 - --amplitude 0.12 --noise 0.01 --jitter 1 8400043916"
  "inverted 1 - --invert --noise 0.01 --jitter 1 8400043916"
  "fsk-read 0 --robust --noise 0.02 hid:26:118:1603"
)
for c in "${cases[@]}"; do
  read -r name want decode_args gen_args <<<"$c"
  [ "$decode_args" = - ] && decode_args=
  # shellcheck disable=SC2086
  "$tools/tavrel-gen" -o "$name.wav" -s 0.5 --gap 0.1 $gen_args
  status=0
  # shellcheck disable=SC2086
  "$tools/tavrel-decode" $decode_args --plot "$out/plot-$name.png" "$name.wav" >/dev/null ||
    status=$?
  if [ "$status" != "$want" ]; then
    echo "readme_pictures: $name: tavrel-decode exit $status, expected $want" >&2
    exit 1
  fi
  [ -s "$out/plot-$name.png" ] || { echo "readme_pictures: no plot-$name.png" >&2; exit 1; }
done
echo "readme_pictures: wrote $(ls "$out"/plot-*.png | wc -l) pictures to $out"
