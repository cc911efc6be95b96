#!/usr/bin/env bash
# Kills headless runs with SIGKILL at random moments of each phase, every other one on tables left
# in write-ahead mode by another program, and checks what each kill
# left: every table passes SQLite's integrity check and reads whole through the engine
# (`isam dump`), every payment has application records for all of its document's charges or for
# none, and each charge's paid columns add up to its application records. Then a following
# complete run must end where one uninterrupted run ends.
#
# Payment amount adjustment decides a charge's paid flags on the balance it finds before it
# moves cents onto the charge, so a charge that a move brings to zero is marked paid only when
# the phase passes it again. After a kill in that phase, the following run passes again over
# the payments done before the kill: it may set such paid flags, and nothing else, beyond one
# uninterrupted run: exactly flags that a second uninterrupted run sets too.
#
#   scripts/crash_check.sh [KILLS_PER_PHASE] [TRANSACTIONS]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="${RIVENOAK_BUILD_DIR:-$top/build}/bin"
per_phase="${1:-5}"
size="${2:-3000}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
phases=("Verifying Transaction Types" "Verifying Who Paid" "Applying Payments"
        "Adjusting Payment Amounts")
timing_names=(VerifyTranTypes GetNoWhoPaid ApplyPayAdj AdjustPayments)

"$bin/rivenoak" demo "$work/root" --practices 1 --transactions "$size" --seed 7 >/dev/null
range=(--from 01/01/2004 --to 12/31/2006 --quiet)

run() { "$bin/rivenoak" run "$1" "${range[@]}" --who-paid "$work/presses"; }
fresh() { rm -rf "$1" && cp -a "$work/root/Practice1" "$1"; }
# The practice as another program may leave it: every table in write-ahead mode.
to_wal() {
  for table in MWTRN.ADT Mwpax.adt Mwpro.adt; do
    [ "$(sqlite3 "$1/$table" 'PRAGMA journal_mode=WAL;')" = wal ] || echo "cannot make $table WAL"
  done
}
changes() { "$bin/rivenoak" diff "$1" "$2" | grep -v '^#' | tail -n +2 || true; }
# The presses that give every row the who-paid dialog shows, in its order, a payer: the first
# insurer to an insurance payment, the guarantor to the others.
presses() {
  sqlite3 "$1/MWTRN.ADT" "SELECT CASE \"Transaction Type\" WHEN 'I' THEN 'this 1' ELSE 'this G' END
    FROM records WHERE \"Transaction Type\" BETWEEN 'I' AND 'O' AND coalesce(\"Who Paid\", '') = ''
    ORDER BY \"Procedure Code\", _recno;" >"$work/presses"
}
# The rows the dialog shows are those left after type verification.
fresh "$work/types" && "$bin/rivenoak" run "$work/types" "${range[@]}" --no-apply --no-adjust >/dev/null
presses "$work/types" && cp "$work/presses" "$work/first-presses"

fresh "$work/reference" && run "$work/reference" >/dev/null
fresh "$work/twice" && run "$work/twice" >/dev/null && run "$work/twice" >/dev/null
changes "$work/reference" "$work/twice" | sort >"$work/second-run-changes"
# When each phase begins, in ms from the start of the process, from a run watched line by line.
fresh "$work/timing"
start=$(date +%s%N)
run "$work/timing" | while IFS= read -r line; do
  echo "$(( ($(date +%s%N) - start) / 1000000 )) $line"
done >"$work/timed.out"
run_ms=$(( ($(date +%s%N) - start) / 1000000 ))
declare -a phase_start phase_end
for p in 0 1 2 3; do
  phase_start[p]=$(awk -v s="status: ${phases[p]}" 'substr($0, index($0, " ") + 1) == s { print $1 }' "$work/timed.out")
done
for p in 0 1 2; do phase_end[p]=${phase_start[p + 1]}; done
phase_end[3]=$run_ms

check() {
  local folder=$1
  for table in MWTRN.ADT Mwpax.adt Mwpro.adt; do
    [ "$(sqlite3 "$folder/$table" 'PRAGMA integrity_check;')" = ok ] || echo "integrity: $table"
    "$bin/isam" dump "$folder/$table" >/dev/null 2>"$work/dump.err" ||
      echo "engine read: $table: $(head -1 "$work/dump.err")"
  done
  sqlite3 "$folder/MWTRN.ADT" "
    ATTACH '$folder/Mwpax.adt' AS pax;
    SELECT 'torn document ' || p.\"Entry Number\" FROM records p
     WHERE p.\"Transaction Type\" BETWEEN 'I' AND 'U'
       AND (SELECT count(*) FROM pax.records a WHERE a.\"Payment Reference\" = p.\"Entry Number\") NOT IN
           (0, (SELECT count(*) FROM records c WHERE c.\"Chart Number\" = p.\"Chart Number\"
                  AND c.\"Document Number\" = p.\"Document Number\"
                  AND (c.\"Transaction Type\" BETWEEN 'A' AND 'D' OR c.\"Transaction Type\" = 'H')));
    SELECT 'charge ' || c.\"Entry Number\" || ' disagrees with its application records' FROM records c
     WHERE (c.\"Transaction Type\" BETWEEN 'A' AND 'D' OR c.\"Transaction Type\" = 'H')
       AND round(coalesce(c.\"Insurance 1 Amount Paid\",0) + coalesce(c.\"Insurance 2 Amount Paid\",0)
               + coalesce(c.\"Insurance 3 Amount Paid\",0) + coalesce(c.\"Guarantor Amount Paid\",0)
               + coalesce(c.\"Attorney Amount Paid\",0) + coalesce(c.\"Adjustment Amount\",0), 2)
        <> round(coalesce((SELECT sum(a.\"Payment Amount\") FROM pax.records a
                            WHERE a.\"Charge Reference\" = c.\"Entry Number\"), 0), 2);" | head -3
}

declare -a kills=(0 0 0 0) survived=(0 0 0 0)
failures=0
wal_kills=0
attempts=0
# Aims at each phase in turn until every phase has been killed often enough, within a bound.
while [ "$attempts" -lt $((per_phase * 16)) ]; do
  for target in 0 1 2 3; do
    [ "${kills[target]}" -lt "$per_phase" ] || continue
    attempts=$((attempts + 1))
    length=$((phase_end[target] - phase_start[target]))
    length=$((length > 0 ? length : 1))
    delay_ms=$((phase_start[target] + (RANDOM * 32768 + RANDOM) % length))
    fresh "$work/run"
    # Every other kill starts from tables in write-ahead mode.
    from_wal=$((attempts % 2))
    [ "$from_wal" -eq 0 ] || to_wal "$work/run"
    "$bin/rivenoak" run "$work/run" "${range[@]}" --who-paid "$work/first-presses" >"$work/killed.out" 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if grep -q "^information: Finished" "$work/killed.out"; then
      continue
    fi
    # The phase the run was in: the last status line it wrote (each is flushed).
    killed_in=-1
    last=$({ grep '^status: ' "$work/killed.out" || true; } | tail -1 | sed 's/^status: //')
    for p in 0 1 2 3; do [ "$last" = "${phases[p]}" ] && killed_in=$p; done
    [ "$killed_in" -ge 0 ] || killed_in=0  # killed while starting: before the first phase
    kills[killed_in]=$((kills[killed_in] + 1))
    wal_kills=$((wal_kills + from_wal))
    problems=$(check "$work/run")
    # A kill in the who-paid dialog leaves rows with a payer: the user would press for the rest.
    if [ "$killed_in" -eq 1 ]; then presses "$work/run"; else cp "$work/first-presses" "$work/presses"; fi
    run "$work/run" >/dev/null
    if [ "$killed_in" -eq 3 ]; then
      extra=$(changes "$work/reference" "$work/run" | sort | comm -23 - "$work/second-run-changes")
    else
      extra=$(changes "$work/reference" "$work/run")
    fi
    if [ -z "$problems$extra" ]; then
      survived[killed_in]=$((survived[killed_in] + 1))
    else
      failures=$((failures + 1))
      echo "killed at ${delay_ms} ms in ${phases[killed_in]} (from WAL files: $from_wal):"
      printf '%s\n' "$problems" "$extra" | grep -v '^$' | head -5
    fi
  done
  done=1
  for p in 0 1 2 3; do [ "${kills[p]}" -ge "$per_phase" ] || done=0; done
  [ "$done" -eq 0 ] || break
done
echo "runs of ${run_ms} ms over ${size} transactions, ${attempts} kills aimed, ${wal_kills} of the kills from WAL files:"
for p in 0 1 2 3; do
  echo "  ${phases[p]}: killed ${kills[p]}, ${survived[p]} left whole tables and ended as one run"
done
[ "$failures" -eq 0 ]
