#!/usr/bin/env bash
# veltro-collect's HTML report as a browser shows it: a known event set,
# plus one session whose product and title are markup, imported and
# reported, then drawn by headless chromium. The funnel's bars and the
# per-day chart are measured in the picture against the JSON form's numbers;
# the page's DOM holds the markup as text, and no element it would make.
#   collect_report_browser_test.sh COLLECT STUB_EVENTS
set -euo pipefail
collect="$1" stub_events="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sessions=240 days=9
hostile='<script>alert(1)</script>"><img src=x onerror=alert(2)>'

# The browser, kept off every network: nothing here may leave the machine.
browse() {  # switches...; the page is the last
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$(mktemp -d -p "$work")" --force-device-scale-factor=1 --hide-scrollbars "$@" 2>/dev/null
}

"$stub_events" --sessions "$sessions" --seed 5 --first-day 1796774400000 --days "$days" >"$work/events.jsonl"
head -n 1 "$work/events.jsonl" | python3 -c '
import json, sys
doc = json.loads(sys.stdin.read())
event = doc["record"][0]
event["event"]["request_id"] = "0000ffff-0000-4000-8000-000000000001"
event["setup"]["common"]["session_id"] = "0000ffff-0000-4000-8000-800000000000"
event["setup"]["common"]["title"] = event["setup"]["config"]["main_products"][0]["product"] = sys.argv[1]
print(json.dumps(doc, separators=(",", ":")))' "$hostile" >>"$work/events.jsonl"
"$collect" import --db "$work/events.sqlite" "$work/events.jsonl" >/dev/null
"$collect" report --db "$work/events.sqlite" --since 2026-12-01 --html "$work/all.html" --json "$work/all.json"
"$collect" report --db "$work/events.sqlite" --since 2026-12-01 --product "$hostile" \
  --html "$work/hostile.html" --json "$work/hostile.json"

browse --window-size=1100,1500 --screenshot="$work/all.png" "file://$work/all.html" >/dev/null
browse --dump-dom "file://$work/all.html" >"$work/all.dom"
browse --dump-dom "file://$work/hostile.html" >"$work/hostile.dom"
convert "$work/all.png" -depth 8 "$work/all.ppm"

python3 - "$work" "$(wc -l <"$work/events.jsonl")" "$((sessions + 1))" "$days" "$hostile" <<'PY'
import json, re, sys
from html.parser import HTMLParser
work, events, sessions, days, hostile = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
failures = []
def check(ok, what):
    if not ok: failures.append(what)

class Page(HTMLParser):
    def __init__(self, path):
        super().__init__()
        self.tags, self.texts = set(), []
        self.feed(open(path, encoding="utf-8").read())
    def handle_starttag(self, tag, attrs): self.tags.add(tag)
    def handle_data(self, data): self.texts.append(data)

# The JSON form parses, counts what was imported, and says what the page says.
report = json.load(open(f"{work}/all.json"))
f = report["funnel"]
check((report["events"], report["sessions"], len(report["days"])) == (events, sessions, days),
      f"the JSON form's events, sessions and days: {report['events']}, {report['sessions']}, {len(report['days'])}")
page = Page(f"{work}/all.dom")
text = " ".join(page.texts)
shown = [int(n) for n in re.findall(r"(\d+) \(\d+\.\d %\)", text)]
check(shown == [f["started"], f["preparing"], f["master_started"], f["succeeded"], f["failed"]],
      f"the page's funnel {shown} is not the JSON form's {f}")
check(f"{sessions} sessions from {events} events" in text, "the page's session and event counts")
o = report["outcomes"]
check(f"Ended: {o['succeeded']} installed, {o['failed']} failed, {o['other_exit']} finished with another code, "
      f"{o['no_end']} without an end seen." in text, "the page's outcomes")

# The product's markup is text on the page and in the JSON form; no element
# came of it, here or on the page of all products.
hostile_page = Page(f"{work}/hostile.dom")
check(f"Product {hostile} ·" in " ".join(hostile_page.texts), "the product's markup is not on the page as text")
check(json.load(open(f"{work}/hostile.json"))["product"] == hostile, "the JSON form's product")
check(json.load(open(f"{work}/hostile.json"))["sessions"] == 1, "the product's report counts other sessions")
for p, name in ((page, "all products"), (hostile_page, "the product")):
    made = p.tags & {"script", "img", "iframe", "object"}
    check(not made, f"{name}: the page has {made} elements")

# The picture. Bars are found by their colours, top down: the funnel comes
# first, then the per-day chart.
data = open(f"{work}/all.ppm", "rb").read()
header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
width, height = int(header[1]), int(header[2])
pixels = data[header.end():]
def at(x, y): return pixels[3 * (y * width + x): 3 * (y * width + x) + 3]
def near(pixel, colour): return all(abs(a - b) <= 6 for a, b in zip(pixel, colour))
blue, green, red, track = (0x5b, 0x7b, 0xd5), (0x3a, 0x9d, 0x5d), (0xc8, 0x48, 0x3b), (0xee, 0xf1, 0xf6)
def runs(y, colour):  # [start, end) of each stretch of the colour on row y
    out, start = [], None
    for x in range(width + 1):
        inside = x < width and near(at(x, y), colour)
        if inside and start is None: start = x
        if not inside and start is not None: out.append((start, x)); start = None
    return out
def first_row(colour, below=0):
    return next((y for y in range(below, height) if runs(y, colour)), None)

started_y, finished_y, failed_y = first_row(blue), first_row(green), first_row(red)
if None in (started_y, finished_y, failed_y):
    sys.exit(f"FAIL: the funnel's bars are not in the picture ({started_y}, {finished_y}, {failed_y})")
y = failed_y + 10
left, bar_end = runs(y, red)[0]
# The failed row: its bar and the rest of the track after it. (The edge of
# the count's text beside it can come out near the track's colour.)
full = next((e for s, e in runs(y, track) if abs(s - bar_end) <= 1), bar_end) - left
bar = runs(started_y + 10, blue)[0]
check(bar[0] == left and abs(bar[1] - left - full) <= 1 and not any(near(at(x, started_y + 10), track)
                                                                 for x in range(left, left + full + 2)),
      f"the started bar {bar} does not fill the track from {left}, {full} px")
for name, y, colour, count in (("finished with 0", finished_y, green, f["succeeded"]), ("failed", failed_y, red, f["failed"])):
    bar = runs(y + 10, colour)[0]
    want = full * count / f["started"]
    check(bar[0] == left and abs(bar[1] - bar[0] - want) <= 2, f"the {name} bar is {bar}, not {want:.1f} px from {left}")

# The per-day chart: the first green below the funnel; its bars share a
# base line, and their heights against its 0 % and 100 % lines are the days'
# success rates.
top = first_row(green, failed_y + 40)
bottom = top
while bottom + 1 < height and runs(bottom + 1, green): bottom += 1
bars = runs(bottom, green)
check(len(bars) == days, f"{len(bars)} bars for {days} days")
x = bars[0][0] - 3  # between the axis and the first bar: only the lines
lines = []  # the lowest three: 0 %, 50 % and 100 %, each drawn over two rows
for y in range(bottom + 3, top - 60, -1):
    if sum(at(x, y)) < 3 * 250:
        if lines and lines[-1][-1] == y + 1: lines[-1].append(y)
        else: lines.append([y])
check(len(lines) >= 3, "the per-day chart's 0 %, 50 % and 100 % lines are not beside its first bar")
zero, hundred = (sum(lines[i]) / len(lines[i]) for i in (0, 2)) if len(lines) >= 3 else (0, 0)
plot = zero - hundred
for (s, e), day in zip(bars if len(bars) == days else [], report["days"]):
    h = sum(1 for y in range(top, bottom + 1) if near(at((s + e) // 2, y), green))
    check(abs(h - plot * day["success_rate"]) <= 2, f"{day['date']}: the bar is {h} px, not {day['success_rate']} of {plot}")

for what in failures: print("FAIL:", what, file=sys.stderr)
sys.exit(1 if failures else 0)
PY
echo "collect_report_browser_test: the report's bars, day chart, numbers and escaping passed in chromium"
