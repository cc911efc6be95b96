#!/usr/bin/env bash
# Sets the machine up, makes a demo root with two practices, and starts the program on it. On a
# machine without a display it runs one conversion without windows on the first practice
# instead, and says so.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
bin="${RIVENOAK_BUILD_DIR:-$top/build}/bin"

root="${RIVENOAK_DEMO_ROOT:-$top/build/demo-root}"
rm -rf "$root"
"$bin/rivenoak" demo "$root" --practices 2 --transactions 2000 --seed 1

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$bin/rivenoak" --root "$root"
fi
echo "No display here: running one conversion without windows on $root/Practice1"
"$bin/rivenoak" run "$root/Practice1"
echo
echo "The tables after the run, as the isam tool shows them:"
"$bin/isam" info "$root/Practice1/MWTRN.ADT"
