#!/usr/bin/env bash
# The rules of the tree that a reviewer should not have to keep by eye, checked over the files git
# tracks (or, outside a checkout, every file below the top folder):
#   format  every C++ file is as clang-format (.clang-format at the top) writes it;
#   size    no source file of the program is over 600 lines (tests and testing kits may be);
#   layers  a file of the program includes headers of its own layer and those below only
#           (common/ <- isam/ <- data/ <- conversion/ <- app/);
#   sqlite  SQLite is the table engine's storage and nobody else's: no file of the program outside
#           isam/sqlite/ calls sqlite3_ or includes its header or isam/sqlite_handle.h, save the
#           engine's files that scripts/sqlite_waiting.txt lists (tests, testing kits and
#           benchmarks may);
#   cycles  no two modules of the program's top layers (app/ and conversion/) include each other,
#           directly or round a loop. A module is a header with its source file
#           (app/practice/backup_files.h and .cpp); tests, testing kits and programs' main files
#           are no module. The layers below keep some pairs on purpose (a dataset and its fields
#           know each other).
# Prints every breach, one line each, and exits 1 when there is any.
#
#   scripts/house_rules.sh [format|size|layers|sqlite|cycles ...]   (default: all five)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
max_lines=600

checks=("$@")
[ ${#checks[@]} -gt 0 ] || checks=(format size layers sqlite cycles)

if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$top" ]; then
  mapfile -t sources < <(git ls-files -- '*.cpp' '*.h')
else
  mapfile -t sources < <(find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) \
    -print | sed 's#^\./##' | sort)
fi

# The program's own files: no test, testing kit or benchmark.
program_files() {
  local f
  for f in "${sources[@]}"; do
    case "$f" in
      *_test.cpp | */testing/* | bench/*) ;;
      *) echo "$f" ;;
    esac
  done
}

check_format() {
  local f
  if ! command -v clang-format >/dev/null; then
    echo "format: clang-format is not installed (scripts/setup.sh installs it)"
    return 1
  fi
  # One clang-format for every file; each file it would change is named in its complaints.
  mapfile -t unformatted < <(printf '%s\0' "${sources[@]}" |
    xargs -0 clang-format --dry-run --Werror 2>&1 | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*/\1/p' |
    sort -u)
  for f in "${unformatted[@]}"; do
    echo "format: $f is not as clang-format writes it (run clang-format -i $f)"
  done
  [ ${#unformatted[@]} -eq 0 ]
}

check_size() {
  local f lines bad=0
  while IFS= read -r f; do
    lines=$(wc -l <"$f")
    if [ "$lines" -gt "$max_lines" ]; then
      echo "size: $f has $lines lines, more than $max_lines: split it by idea"
      bad=1
    fi
  done < <(program_files)
  return $bad
}

# "A B" for every module A whose header or source includes module B's header.
module_edges() {
  local f module target
  while IFS= read -r f; do
    case "$f" in app/* | conversion/*) ;; *) continue ;; esac
    case "$f" in *_main.cpp) continue ;; esac
    module="${f%.*}"
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)\.h".*/\1/p' "$f" |
      while IFS= read -r target; do
        # Includes of the engine's interface name isam/<header>; its files are isam/include/isam/.
        [ -f "$target.h" ] || target="isam/include/$target"
        [ -f "$target.h" ] && [ "$target" != "$module" ] && echo "$module $target"
      done
  done < <(program_files)
}

# The place of a file's layer, from 0 (common/) up; none for files of no layer.
layer_of() {
  case "$1" in
    common/*) echo 0 ;; isam/*) echo 1 ;; data/*) echo 2 ;; conversion/*) echo 3 ;; app/*) echo 4 ;;
  esac
}

check_layers() {
  local f target own their bad=0
  while IFS= read -r f; do
    own=$(layer_of "$f")
    [ -n "$own" ] || continue
    while IFS= read -r target; do
      their=$(layer_of "$target")
      if [ -n "$their" ] && [ "$their" -gt "$own" ]; then
        echo "layers: $f includes $target, of a layer above its own"
        bad=1
      fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f")
  done < <(program_files)
  return $bad
}

# The engine's files that may still speak SQLite outside its storage, one a line.
sqlite_waiting() {
  [ -f scripts/sqlite_waiting.txt ] || return 0
  sed -e '/^#/d' -e '/^[[:space:]]*$/d' scripts/sqlite_waiting.txt
}

check_sqlite() {
  local f bad=0
  local -A waiting=()
  while IFS= read -r f; do waiting[$f]=1; done < <(sqlite_waiting)
  while IFS= read -r f; do
    case "$f" in isam/sqlite/*) continue ;; esac
    if grep -qE 'sqlite3_|sqlite3\.h|isam/sqlite_handle\.h' "$f"; then
      if [ -z "${waiting[$f]:-}" ]; then
        echo "sqlite: $f speaks SQLite; only the table engine's storage (isam/sqlite/) may"
        bad=1
      fi
    elif [ -n "${waiting[$f]:-}" ]; then
      echo "sqlite: $f no longer speaks SQLite: take it off scripts/sqlite_waiting.txt"
      bad=1
    fi
    unset "waiting[$f]"
  done < <(program_files)
  for f in "${!waiting[@]}"; do
    echo "sqlite: scripts/sqlite_waiting.txt lists $f, which is no file of the program"
    bad=1
  done
  return $bad
}

check_cycles() {
  local loop
  # tsort names the modules of every loop it meets on its standard error, after a line that says
  # it met one.
  loop=$(module_edges | sort -u | tsort 2>&1 >/dev/null | sed -n 's/^tsort: //p' || true)
  [ -z "$loop" ] && return 0
  echo "cycles: modules that include each other, round a loop:"
  echo "$loop" | sed 's/^/  /'
  return 1
}

status=0
for check in "${checks[@]}"; do
  case "$check" in
    format) check_format || status=1 ;;
    size) check_size || status=1 ;;
    layers) check_layers || status=1 ;;
    sqlite) check_sqlite || status=1 ;;
    cycles) check_cycles || status=1 ;;
    *)
      echo "house_rules: no check named '$check' (format, size, layers, sqlite, cycles)" >&2
      exit 2
      ;;
  esac
done
[ $status -eq 0 ] && echo "house rules: ${checks[*]}: kept"
exit $status
