#!/usr/bin/env bash
# Sets the machine up, makes a demo root with two practices, and starts the program on it. On a
# machine without a display it runs one conversion without windows on the first practice
# instead, through all four phases with the who-paid presses the demo made for it, and ends with
# the run's summary; the run's report page is written beside the practices.
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
report="$root/report.html"
echo "No display here: running one conversion without windows on $root/Practice1, pressing the"
echo "who-paid buttons as \"$root/who-paid/Demo Practice 1.txt\" says; its report: $report"
exec "$bin/rivenoak" run "$root/Practice1" --who-paid "$root/who-paid/Demo Practice 1.txt" \
  --report "$report"
