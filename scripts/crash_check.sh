#!/usr/bin/env bash
# Kills headless runs at random moments and checks what the kill left: every table passes
# SQLite's integrity check, every payment has application records for all of its document's
# charges or for none, each charge's paid columns add up to its application records, and a
# following complete run ends exactly where one uninterrupted run ends.
#
#   scripts/crash_check.sh [KILLS] [TRANSACTIONS]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="${RIVENOAK_BUILD_DIR:-$top/build}/bin"
kills="${1:-20}"
size="${2:-3000}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
range=(--from 01/01/2004 --to 12/31/2006 --quiet)

"$bin/rivenoak" demo "$work/root" --practices 1 --transactions "$size" --seed 7 >/dev/null
sqlite3 "$work/root/Practice1/MWTRN.ADT" "UPDATE records SET \"Who Paid\" = 'G' WHERE \"Who Paid\" IS NULL;"
cp -a "$work/root/Practice1" "$work/reference"
"$bin/rivenoak" run "$work/reference" "${range[@]}" >/dev/null
start=$(date +%s%N)
cp -a "$work/root/Practice1" "$work/timing"
"$bin/rivenoak" run "$work/timing" "${range[@]}" >/dev/null
run_ms=$(( ($(date +%s%N) - start) / 1000000 ))

check() {
  local folder=$1
  for table in MWTRN.ADT Mwpax.adt Mwpro.adt; do
    [ "$(sqlite3 "$folder/$table" 'PRAGMA integrity_check;')" = ok ] || { echo "integrity: $table"; return 1; }
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

survived=0
for i in $(seq 1 "$kills"); do
  rm -rf "$work/run" && cp -a "$work/root/Practice1" "$work/run"
  delay_ms=$(( (RANDOM * 32768 + RANDOM) % (run_ms > 0 ? run_ms : 1) ))
  "$bin/rivenoak" run "$work/run" "${range[@]}" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  problems=$(check "$work/run")
  "$bin/rivenoak" run "$work/run" "${range[@]}" >/dev/null
  differences=$("$bin/rivenoak" diff "$work/reference" "$work/run" | grep -v '^#' | tail -n +2 | head -3)
  if [ -z "$problems$differences" ]; then
    survived=$((survived + 1))
  else
    echo "kill $i at ${delay_ms} ms: ${problems}${differences}"
  fi
done
echo "runs of ${run_ms} ms killed ${kills} times: ${survived} left consistent tables and ended as one run"
