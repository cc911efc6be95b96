#!/usr/bin/env bash
# Makes the man pages of rivenoak and isam from their own --help with help2man, each command's
# help included in the program's page, and compresses them as Debian keeps man pages.
#   bash scripts/man_pages.sh RIVENOAK ISAM VERSION OUTDIR
set -euo pipefail
rivenoak=$(realpath "$1")
isam=$(realpath "$2")
version=$3
out=$4
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Run by their plain names, so that the pages show "rivenoak", not the build folder's path.
mkdir "$work/bin"
ln -s "$rivenoak" "$work/bin/rivenoak"
ln -s "$isam" "$work/bin/isam"
export PATH="$work/bin:$PATH"

# A section holding each command's help as it prints it.
commands_section() {
  local program=$1
  shift
  echo "[COMMANDS]"
  for command in "$@"; do
    echo ".SS \"$program $command\""
    echo ".nf"
    "$program" "$command" --help | sed -e 's/\\/\\e/g' -e 's/^\./\\\&./'
    echo ".fi"
  done
}
commands_section rivenoak run backup restore diff demo >"$work/rivenoak.h2m"
commands_section isam info dump export create import sql >"$work/isam.h2m"

help2man --no-info --no-discard-stderr --version-string="$version" \
  --name="repairs and completes the accounting data of a medical practice" \
  --include="$work/rivenoak.h2m" --output="$work/rivenoak.1" rivenoak
help2man --no-info --no-discard-stderr --version-string="$version" \
  --name="looks into and fills the table files of rivenoak's table engine" \
  --include="$work/isam.h2m" --output="$work/isam.1" isam
for page in rivenoak isam; do
  gzip -9n <"$work/$page.1" >"$out/$page.1.gz"
done
