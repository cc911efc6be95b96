#!/usr/bin/env bash
# Plants each breach the house rules name in a tree of its own and checks that
# scripts/house_rules.sh names it and fails; then that a tree that keeps them passes.
#
#   scripts/house_rules_check.sh WORK_FOLDER
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="${1:?a work folder}"

fail() {
  echo "house_rules_check: $*" >&2
  exit 1
}

# A tree of one layer file per layer, formatted and small, that keeps every rule.
fresh_tree() {
  rm -rf "$work"
  mkdir -p "$work/scripts" "$work/app/practice" "$work/app/window" "$work/data"
  cp "$top/scripts/house_rules.sh" "$work/scripts/"
  cp "$top/.clang-format" "$work/"
  printf '// A.\nint A();\n' >"$work/app/practice/a.h"
  printf '#include "app/practice/a.h"\n\nint A() {\n  return 1;\n}\n' >"$work/app/practice/a.cpp"
  printf '#include "app/practice/a.h"\n' >"$work/app/window/b.h"
  printf '// D.\nint D();\n' >"$work/data/d.h"
}

# Runs the rules on the planted tree; they must fail and say `expected`.
expect_breach() {
  local expected="$1" out
  if out=$(bash "$work/scripts/house_rules.sh" 2>&1); then
    fail "a tree with a breach passed; expected: $expected"
  fi
  grep -qF -- "$expected" <<<"$out" || fail "expected '$expected', got: $out"
}

fresh_tree
bash "$work/scripts/house_rules.sh" >/dev/null || fail "a tree that keeps the rules failed"

fresh_tree
printf 'int  Badly ( ) ;\n' >>"$work/data/d.h"
expect_breach "format: data/d.h is not as clang-format writes it"

fresh_tree
seq 1 601 | sed 's#^#// line #' >"$work/app/practice/long.cpp"
expect_breach "size: app/practice/long.cpp has 601 lines, more than 600"
# A test may be longer.
fresh_tree
seq 1 601 | sed 's#^#// line #' >"$work/app/practice/long_test.cpp"
bash "$work/scripts/house_rules.sh" >/dev/null || fail "a long test file was refused"

fresh_tree
printf '#include "app/window/b.h"\n' >"$work/data/d.cpp"
expect_breach "layers: data/d.cpp includes app/window/b.h, of a layer above its own"

fresh_tree
printf '#include <sqlite3.h>\n' >>"$work/data/d.h"
expect_breach "sqlite: data/d.h speaks SQLite; only the table engine's storage (isam/sqlite/) may"
fresh_tree
mkdir -p "$work/isam"
printf 'int Step() {\n  return sqlite3_step(nullptr);\n}\n' >"$work/isam/e.cpp"
expect_breach "sqlite: isam/e.cpp speaks SQLite; only the table engine's storage"
# Listed as waiting, it may; once it no longer does, or is gone, the list must say so.
printf '# waiting\nisam/e.cpp\n' >"$work/scripts/sqlite_waiting.txt"
bash "$work/scripts/house_rules.sh" >/dev/null || fail "a listed engine file was refused"
printf 'int Step() {\n  return 0;\n}\n' >"$work/isam/e.cpp"
expect_breach "sqlite: isam/e.cpp no longer speaks SQLite: take it off"
rm "$work/isam/e.cpp"
expect_breach "sqlite: scripts/sqlite_waiting.txt lists isam/e.cpp, which is no file of the program"
# The storage and the tests may.
fresh_tree
mkdir -p "$work/isam/sqlite"
printf '#include <sqlite3.h>\n' >"$work/isam/sqlite/store.h"
printf '#include <sqlite3.h>\n' >"$work/data/d_test.cpp"
bash "$work/scripts/house_rules.sh" >/dev/null || fail "SQLite in the storage or a test was refused"

fresh_tree
printf '#include "app/window/b.h"\n' >>"$work/app/practice/a.cpp"
expect_breach "app/practice/a"
expect_breach "cycles: modules that include each other"

echo "house_rules_check: every breach named"
