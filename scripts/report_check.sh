#!/usr/bin/env bash
# Renders a run's report in headless Chromium, as a reader's browser would show it: the page
# must load without a console message (it has no scripts, so any message is a blocked load or a
# fault), and each chart must have its bars. The screenshot is kept beside the report. A dry
# run's report of the same practice must load as cleanly and show that it was a dry run.
#   bash scripts/report_check.sh [OUTDIR]     (default: build/report-check)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${RIVENOAK_BUILD_DIR:-$top/build}"
bin="$build/bin"
out="${1:-$build/report-check}"
command -v chromium >/dev/null || { echo "report_check: chromium is not installed (scripts/setup.sh installs it)" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
"$bin/rivenoak" demo "$out/root" --practices 1 --transactions 2000 --seed 1 >/dev/null
"$bin/rivenoak" run "$out/root/Practice1" --quiet --from 01/01/2004 --to 12/31/2004 \
  --who-paid "$out/root/who-paid/Demo Practice 1.txt" --report "$out/report.html" >"$out/run.txt"
"$bin/rivenoak" run "$out/root/Practice1" --quiet --dry-run --from 01/01/2004 --to 12/31/2004 \
  --who-paid "$out/root/who-paid/Demo Practice 1.txt" --report "$out/dry-run.html" >"$out/dry-run.txt"

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
# No network, no first-run pages, no background services: the page alone.
chromium_run() {
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --enable-logging=stderr --v=0 "$@"
}
chromium_run --dump-dom "file://$out/report.html" >"$out/dom.html" 2>"$out/chromium.log"
chromium_run --hide-scrollbars --window-size=1100,1000 --screenshot="$out/report.png" \
  "file://$out/report.html" >/dev/null 2>>"$out/chromium.log"
chromium_run --dump-dom "file://$out/dry-run.html" >"$out/dry-run-dom.html" 2>>"$out/chromium.log"

failed=0
if grep -q ":CONSOLE" "$out/chromium.log"; then
  echo "report_check: the page wrote to the console:" >&2
  grep ":CONSOLE" "$out/chromium.log" >&2
  failed=1
fi
# Each chart's bars, as the browser's document holds them; at least one with a width.
for chart in applied-per-column:6 documents-per-month:1 time-per-phase:4; do
  id=${chart%%:*}
  least=${chart##*:}
  svg=$(grep -o "<svg[^>]*id=\"$id\".*</svg>" "$out/dom.html" || true)
  bars=$(grep -o '<rect class="bar"' <<<"$svg" | wc -l)
  wide=$(grep -oE '<rect class="bar"[^>]* width="[0-9.]+"' <<<"$svg" | grep -vcE 'width="0(\.0)?"' || true)
  if [ "$bars" -lt "$least" ] || [ "$wide" -lt 1 ]; then
    echo "report_check: chart $id has $bars bars ($wide with a width); at least $least expected" >&2
    failed=1
  fi
done
if ! grep -q '<p class="dry-run">Dry run on a copy' "$out/dry-run-dom.html"; then
  echo "report_check: the dry run's page does not say it was a dry run" >&2
  failed=1
fi
if [ ! -s "$out/report.png" ] || [ "$(head -c 4 "$out/report.png" | tail -c 3)" != "PNG" ]; then
  echo "report_check: no screenshot was made" >&2
  failed=1
fi
[ "$failed" -eq 0 ] && echo "report_check: the report renders with its charts; screenshot $out/report.png"
exit "$failed"
