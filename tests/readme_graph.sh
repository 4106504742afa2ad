#!/bin/sh
# The target graph drawn in the README against the one CMake builds.
#   readme_graph.sh BUILD_DIR README
set -eu
build=$1 readme=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cmake --graphviz="$dir/graph.dot" "$build" >/dev/null
# Edges between the program's and the tools' own targets; tests and doubles left out.
sed -n 's|.*// \(tavrel[-_a-z]*\) -> \(tavrel[-_a-z]*\)$|\1 \2|p' "$dir/graph.dot" |
  grep -Ev 'tavrel_(fake_[a-z_]*|test_support|plain_decoder)( |$)' | sort -u >"$dir/built"
sed -n '/^tavrel[-_a-z]* *-> /p' "$readme" |
  awk '{ for (i = 3; i <= NF; ++i) print $1, $i }' | sort -u >"$dir/drawn"
if ! diff -u "$dir/drawn" "$dir/built"; then
  echo "README's layout graph (-) differs from the CMake targets (+)" >&2
  exit 1
fi
