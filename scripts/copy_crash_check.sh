#!/usr/bin/env bash
# Kills `rivenoak restore` and `rivenoak backup` with SIGKILL at random moments and checks what
# each kill left.
#
# Restore: the practice starts as after a run and the backup holds it as before the run. After a
# kill, one later command (`rivenoak backup`, which finishes or undoes an interrupted restore)
# must leave every table whole and the practice wholly as before the restore or wholly the
# backup, never some tables of each, and its message must say which it made of it.
# Backup: after a kill the backup's folder is missing, or it is complete: `restore` then gives
# exactly the practice it was made from; a missing one is refused.
#
#   scripts/copy_crash_check.sh [KILLS] [TRANSACTIONS]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="${RIVENOAK_BUILD_DIR:-$top/build}/bin"
kills="${1:-100}"
size="${2:-3000}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin/rivenoak" demo "$work/root" --practices 1 --transactions "$size" --seed 7 >/dev/null
sqlite3 "$work/root/Practice1/MWTRN.ADT" \
  "UPDATE records SET \"Who Paid\"='G' WHERE coalesce(\"Who Paid\", '') = ''"
range=(--from 01/01/2004 --to 12/31/2006 --quiet)
cp -a "$work/root/Practice1" "$work/practice"
"$bin/rivenoak" backup "$work/practice" "$work/before" >/dev/null
"$bin/rivenoak" run "$work/practice" "${range[@]}" >/dev/null
"$bin/rivenoak" backup "$work/practice" "$work/after" >/dev/null

same() {  # no record differs between two copies, and every table is whole
  [ -z "$("$bin/rivenoak" diff "$1" "$2" 2>&1 | grep -v '^#' | tail -n +2)" ] || return 1
  for table in MWTRN.ADT Mwpax.adt Mwpro.adt; do
    [ "$(sqlite3 "$2/$table" 'PRAGMA integrity_check;')" = ok ] || return 1
  done
}
ms_of() {  # the wall time of a command, in ms
  local start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  echo $(( ($(date +%s%N) - start) / 1000000 ))
}
kill_after() {  # starts a command, kills it after a random share of `length` ms
  local length=$1; shift
  local delay_ms=$(( (RANDOM * 32768 + RANDOM) % (length > 0 ? length : 1) ))
  "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

fresh() { rm -rf "$work/target" && cp -a "$work/after" "$work/target" && rm "$work/target/Backup.manifest"; }
fresh
restore_ms=$(ms_of "$bin/rivenoak" restore "$work/before" "$work/target")
backup_ms=$(ms_of "$bin/rivenoak" backup "$work/after" "$work/timing-copy")

mixed=0 as_before=0 as_backup=0 finished=0 undone=0
for ((i = 0; i < kills; i++)); do
  fresh
  kill_after "$restore_ms" "$bin/rivenoak" restore "$work/before" "$work/target"
  rm -rf "$work/next"
  note=$("$bin/rivenoak" backup "$work/target" "$work/next" 2>&1 >/dev/null | grep 'restore into' || true)
  case "$note" in
    *finished*) finished=$((finished + 1)) ;;
    *undone*) undone=$((undone + 1)) ;;
  esac
  if same "$work/after" "$work/target" && [[ "$note" != *finished* ]]; then
    as_before=$((as_before + 1))
  elif same "$work/before" "$work/target" && [[ "$note" != *undone* ]]; then
    as_backup=$((as_backup + 1))
  elif [ -n "$note" ] && { same "$work/after" "$work/target" || same "$work/before" "$work/target"; }; then
    mixed=$((mixed + 1))
    echo "restore kill $i: the message did not say what the next command did: $note"
  else
    mixed=$((mixed + 1))
    echo "restore kill $i left a mixed practice"
  fi
done
echo "restore (${restore_ms} ms): ${kills} kills: ${as_before} as before, ${as_backup} wholly the backup" \
     "(${finished} finished, ${undone} undone by the next command), ${mixed} mixed"

broken=0 absent=0 complete=0
for ((i = 0; i < kills; i++)); do
  rm -rf "$work/copy" "$work"/.copy.partial-* "$work/check"
  kill_after "$backup_ms" "$bin/rivenoak" backup "$work/after" "$work/copy"
  if [ ! -e "$work/copy" ]; then
    if "$bin/rivenoak" restore "$work/copy" "$work/before" >/dev/null 2>&1; then
      broken=$((broken + 1)); echo "backup kill $i: a missing backup was restored"
    else
      absent=$((absent + 1))
    fi
    continue
  fi
  cp -a "$work/before" "$work/check" && rm "$work/check/Backup.manifest"
  if "$bin/rivenoak" restore "$work/copy" "$work/check" >/dev/null 2>&1 && same "$work/after" "$work/check"; then
    complete=$((complete + 1))
  else
    broken=$((broken + 1)); echo "backup kill $i left a folder that is no whole backup"
  fi
done
echo "backup (${backup_ms} ms): ${kills} kills: ${absent} left no backup (refused by restore)," \
     "${complete} left a complete one, ${broken} left a broken one"
[ "$mixed" -eq 0 ] && [ "$broken" -eq 0 ]
