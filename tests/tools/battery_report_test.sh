#!/bin/sh
# kestrune-battery's report, opened from its file by a headless browser: every
# plot is shown (decoded from its data: URI, no network), and the verdict
# matrix holds the verdicts the table has. Exit 77 (skipped) where no
# browser or no gnuplot can run.
# Usage: battery_report_test.sh KESTRUNE-BATTERY FMU SCENARIO-DIR WORK-DIR
set -u
battery=$1 fmu=$2 scenarios=$3 work=$4

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "skipped: no chromium to open the report with (Debian: chromium, in scripts/install-deps)"
  exit 77
fi
if ! command -v gnuplot >/dev/null; then
  echo "skipped: no gnuplot to draw the report's plots"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work"
# As root the browser runs only without its sandbox.
sandbox=
[ "$(id -u)" -eq 0 ] && sandbox=--no-sandbox
dom() { # page.html: the page's DOM once its scripts have run
  timeout 120 "$browser" --headless $sandbox --disable-gpu --no-first-run --user-data-dir="$work/profile" \
    --virtual-time-budget=10000 --dump-dom "file://$1" 2>>"$work/browser.log"
}
echo '<html><body><script>document.body.textContent = "ran" + "-scripts"</script></body></html>' >"$work/probe.html"
if ! dom "$work/probe.html" | grep -q 'ran-scripts'; then
  echo "skipped: $browser cannot run here; its messages:"
  tail -n 5 "$work/browser.log"
  exit 77
fi

# A sag to 0.8 holds on the stiff grid and diverges at SCR 3; with a peak
# current of at most 1 pu it fails on the stiff grid too.
cat >"$work/report.json" <<'JSON'
{"name": "report", "description": "the report's test", "text": ["First paragraph & <its> text."],
 "scenario": "startup500", "duration": 0.6,
 "tests": [
  {"name": "holds", "title": "sag to 0.8", "grids": ["stiff", 3],
   "events": [{"time": 0.3, "kind": "sag", "value": 0.8}, {"time": 0.45, "kind": "sag", "value": 1.0}]},
  {"name": "peak", "title": "sag to 0.8, peak current 1 pu", "criteria": {"peakCurrentPu": 1.0},
   "events": [{"time": 0.3, "kind": "sag", "value": 0.8}, {"time": 0.45, "kind": "sag", "value": 1.0}]}]}
JSON
"$battery" --fmu "$fmu" --scenario-dir "$scenarios" --output-dir "$work/out" "$work/report.json" >"$work/run.log" 2>&1
status=$?
if [ $status -ne 3 ]; then
  echo "kestrune-battery: exit status $status, expected 3 (some runs fail)"; cat "$work/run.log"; exit 1
fi
page="$work/out/report.html"
# Self-contained: nothing is fetched, every image is inline.
if grep -Eq '(src|href)="(https?:)?//' "$page" || grep -o '<img [^>]*src="[^"]\{0,5\}' "$page" | grep -qv 'src="data:'; then
  echo "the report refers to something outside itself"; exit 1
fi
cp "$page" "$work/check.html"
cat >>"$work/check.html" <<'HTML'
<script>
var images = document.images, shown = 0;
for (var i = 0; i < images.length; ++i)
  if (images[i].complete && images[i].naturalWidth > 0) ++shown;
var cells = document.querySelectorAll('#matrix td[data-verdict]'), matrix = [];
for (var k = 0; k < cells.length; ++k)
  matrix.push(cells[k].dataset.test + '/' + cells[k].dataset.grid + '=' + cells[k].dataset.verdict);
var result = document.createElement('pre');
result.id = 'check';
result.textContent = 'images ' + images.length + ' shown ' + shown + '; matrix ' + matrix.join(', ');
document.body.appendChild(result);
</script>
HTML
dom "$work/check.html" >"$work/dom.html"
found=$(sed -n 's/.*<pre id="check">\([^<]*\)<\/pre>.*/\1/p' "$work/dom.html")
# The battery's text is shown as written, not read as markup.
if ! grep -q 'First paragraph &amp; &lt;its&gt; text.' "$work/dom.html"; then
  echo "the battery's text is not shown as written"; exit 1
fi
expected='images 3 shown 3; matrix holds/stiff=pass, holds/SCR 3=fail, peak/stiff=fail, peak/SCR 3=none'
if [ "$found" != "$expected" ]; then
  echo "the browser found:  $found"
  echo "expected:           $expected"
  exit 1
fi
# The table says the same.
if ! grep -q '^holds,stiff,pass,' "$work/out/report.csv" || ! grep -q '^holds,SCR 3,fail,' "$work/out/report.csv" ||
   ! grep -q '^peak,stiff,fail,' "$work/out/report.csv"; then
  echo "the table disagrees:"; cat "$work/out/report.csv"; exit 1
fi
echo "$found"
