#!/usr/bin/env bash
# The benchmark tree, shared by the benchmarks: 5,000 small files and 60
# large ones (about 200 MB), text mixed with random data, made once in a
# folder and kept (a "<folder>.done" mark beside it says it is complete).
#
#   source bench/tree.sh; bench_tree <folder>
#
# The generator is the one bench/run.sh carries (its first Python block),
# run as it is, so that every benchmark measures the same tree.
bench_tree() { # folder
  local tree=$1 here
  here=$(dirname "${BASH_SOURCE[0]}")
  [ -f "$tree.done" ] && [ -d "$tree" ] && return 0
  rm -rf "$tree"
  mkdir -p "$(dirname "$tree")"
  awk '/^  python3 - "\$TREE" <<'"'"'PY'"'"'$/ { on = 1; next } on && /^PY$/ { exit } on' "$here/run.sh" >"$tree.py"
  [ -s "$tree.py" ] || { echo "bench/tree.sh: no tree generator found in bench/run.sh" >&2; return 1; }
  python3 "$tree.py" "$tree"
  rm -f "$tree.py"
  touch "$tree.done"
}
