#!/usr/bin/env bash
# Sets the machine up, makes a small table with the sqlite3 shell (any program that follows the
# table-file layout can), and shows it with the isam tool: its layout, then its records in the
# order of an index.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
isam="${RIVENOAK_BUILD_DIR:-$top/build}/bin/isam"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
sqlite3 "$folder/Mwpro.adt" <<'SQL'
PRAGMA application_id = 1230193997;
PRAGMA user_version = 1;
CREATE TABLE records ("_recno" INTEGER PRIMARY KEY, "Code 1" CHAR(10), "Type" CHAR(1),
  "Description" CHAR(40), "Inactive" LOGICAL, "Amount" DOUBLE, "Created" DATE);
CREATE INDEX "PRIMARY" ON records ("Code 1");
INSERT INTO records VALUES (1, '99213', 'A', 'Office visit, established', 0, 85.5, '2026-01-14');
INSERT INTO records VALUES (2, 'INS1', 'I', 'Insurance payment', 0, NULL, '2026-02-01');
INSERT INTO records VALUES (3, '90658', 'A', 'Flu vaccine', 1, 24.75, NULL);
INSERT INTO records VALUES (4, 'ADJ', 'J', 'Write-off "small balance"', 0, -3.1, '2026-03-09');
SQL

echo "== isam info Mwpro.adt"
"$isam" info "$folder/Mwpro.adt"
echo
echo "== isam dump Mwpro.adt --index PRIMARY"
"$isam" dump "$folder/MWPRO.ADT" --index PRIMARY
