#!/usr/bin/env bash
# The practices of a root spread with GNU parallel, one job per practice, as the README shows for
# several machines reached by ssh; here `--sshlogin :` names this machine, so no network is used.
# Every practice must finish, each line tagged with its practice's name.
#   bash scripts/parallel_check.sh [OUTDIR]     (default: build/parallel-check)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${RIVENOAK_BUILD_DIR:-$top/build}"
bin="$build/bin"
out="${1:-$build/parallel-check}"
command -v parallel >/dev/null || { echo "parallel_check: GNU parallel is not installed (scripts/setup.sh installs it)" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
root="$out/root"
"$bin/rivenoak" demo "$root" --practices 3 --transactions 300 --seed 1 >/dev/null
# The practice list as "Dataset Name,Data Path" lines (the isam tool's CSV less its header and
# record numbers).
"$bin/isam" dump "$root/MWDBList.ADT" | tail -n +2 | tr -d '\r' | cut -d, -f2- >"$out/practices.csv"

status=0
parallel --sshlogin : --jobs 2 --colsep , --tagstring '{1}:' \
  "$bin/rivenoak" run {2} --quiet --who-paid "$root/who-paid/{1}.txt" \
  :::: "$out/practices.csv" >"$out/output.txt" 2>"$out/errors.txt" || status=$?

failed=0
if [ "$status" -ne 0 ]; then
  echo "parallel_check: GNU parallel ended with status $status (failed jobs)" >&2
  cat "$out/errors.txt" >&2
  failed=1
fi
while IFS=, read -r name _; do
  if ! grep -qxF "$name:	information: Finished." "$out/output.txt" ||
    ! grep -qxF "$name:	status: Adjusting Payment Amounts" "$out/output.txt"; then
    echo "parallel_check: $name did not finish" >&2
    failed=1
  fi
  if ! grep -qF "$name:	summary: application records written = " "$out/output.txt"; then
    echo "parallel_check: $name printed no summary" >&2
    failed=1
  fi
done <"$out/practices.csv"
[ "$failed" -eq 0 ] && echo "parallel_check: $(wc -l <"$out/practices.csv") practices finished under GNU parallel --sshlogin :"
exit "$failed"
