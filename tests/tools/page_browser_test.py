#!/usr/bin/python3
"""The report page in a real browser (Debian's headless Chromium).

For every example model file, `quorin run FILE --html` (and, for the models
named in REPLICATED, also with --replications) writes a page; the page is
opened from its file and checked through the DevTools protocol:

- it loads with no console error, no uncaught exception and no request for
  anything but the page itself;
- every plot has data and has drawn its series (pixels of the series colour);
- the diagram has one element per block of the report, with the block's name
  as its id;
- the replay moves dots when the time advances, and #t=T opens it at T.

The pages of `quorin compare --html` and `quorin sweep --html` of the
priority model are checked too: no error, every plot drawn, one plot for
the block and each class, the whole table.

  page_browser_test.py QUORIN EXAMPLES_DIR WORK_DIR [--screenshots DIR]

With --screenshots it also saves the M/M/1 page, the feedback network's page
and the diagrams of the two models with feedback as PNG files (the pictures
of docs/page.md).
"""
import base64
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket  # Debian: python3-websocket

CHROMIUM = next((p for p in ("/usr/bin/chromium-headless-shell", "/usr/bin/chromium")
                 if os.path.exists(p)), None)
REPLICATED = {"mm1", "network"}
SERIES_COLOUR = (31, 95, 191)  # the colour every plot draws its main series in


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="quorin-page-")
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--no-first-run", "--hide-scrollbars",
             "--user-data-dir=" + self.profile, "--remote-debugging-port=0",
             "--window-size=1200,900", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + 30
        while not os.path.exists(port_file) or os.path.getsize(port_file) == 0:
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("the browser did not start")
            time.sleep(0.1)
        port = open(port_file).read().split()[0]
        pages = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port))
        page = next(p for p in pages if p["type"] == "page")
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60)
        self.next_id = 0
        self.events = []
        for domain in ("Runtime", "Log", "Network", "Page"):
            self.call(domain + ".enable")

    def close(self):
        try:
            self.ws.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            shutil.rmtree(self.profile, ignore_errors=True)

    def call(self, method, **params):
        self.next_id += 1
        ask = self.next_id
        self.ws.send(json.dumps({"id": ask, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == ask:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, method, seconds=60):
        deadline = time.time() + seconds
        while time.time() < deadline:
            for i, e in enumerate(self.events):
                if e.get("method") == method:
                    return self.events.pop(i)
            self.events.append(json.loads(self.ws.recv()))
        raise RuntimeError("no " + method)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError("page script failed: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def problems(self):
        """Console errors, uncaught exceptions and requests beyond the page."""
        found = []
        for e in self.events:
            m, p = e.get("method"), e.get("params", {})
            if m == "Runtime.exceptionThrown":
                found.append("exception: %s" % p["exceptionDetails"])
            elif m == "Runtime.consoleAPICalled" and p["type"] in ("error", "assert"):
                found.append("console: %s" % p["args"])
            elif m == "Log.entryAdded" and p["entry"]["level"] == "error":
                found.append("log: %s" % p["entry"]["text"])
            elif m == "Network.requestWillBeSent":
                url = p["request"]["url"]
                if not (url.startswith("file:") or url.startswith("data:") or url == "about:blank"):
                    found.append("request: " + url)
        return found


CHECKS = r"""
(() => {
  const data = JSON.parse(document.getElementById('q-data').textContent);
  const near = (r, g, b) => Math.abs(r - %d) < 40 && Math.abs(g - %d) < 40 && Math.abs(b - %d) < 40;
  const plots = (window.quorinPlots || []).map(p => {
    const c = p.ctx.canvas;
    const px = p.ctx.getImageData(0, 0, c.width, c.height).data;
    let drawn = 0;
    for (let i = 0; i < px.length; i += 4) if (px[i + 3] > 0 && near(px[i], px[i + 1], px[i + 2])) drawn++;
    const values = p.data.slice(1).flat().filter(v => v !== null && isFinite(v)).length;
    return { title: p.root.querySelector('.u-title').textContent, points: p.data[0].length, values, drawn };
  });
  const blocks = [...document.querySelectorAll('#q-diagram svg g.block')].map(g => g.id);
  return { plots, blocks, names: data.report.blocks.map(b => b.block),
           content: data.content ? data.content.series.length : 0,
           histograms: data.histograms.length,
           replicated: !!data.replications, welch: !!data.welch,
           replay: !!window.quorinReplay };
})()
""" % SERIES_COLOUR

REPLAY = r"""
(() => {
  const r = window.quorinReplay;
  const moves = JSON.parse(document.getElementById('q-data').textContent).replay.moves;
  const t1 = moves[Math.min(20, moves.length - 1)][0];
  r.seek(t1);
  const before = r.dots();
  r.seek(t1 + r.travel / 4);
  const after = r.dots();
  return { t1, before, after };
})()
"""


def check_page(browser, path, label, screenshot=None):
    failures = []
    browser.events.clear()
    started = time.time()
    browser.call("Page.navigate", url="file://" + path + "#t=12.5")
    browser.wait_for("Page.loadEventFired")
    seconds = time.time() - started
    state = browser.evaluate(CHECKS)
    if seconds > 10:
        failures.append("took %.1f s to load" % seconds)
    for plot in state["plots"]:
        if plot["points"] == 0 or plot["values"] == 0 or plot["drawn"] == 0:
            failures.append("plot '%s' drew no points: %s" % (plot["title"], plot))
    expected = 0 if state["content"] == 0 else state["content"]
    expected += state["histograms"]
    if len(state["plots"]) < expected:
        failures.append("%d plots for %d series" % (len(state["plots"]), expected))
    if state["replicated"] and not any(p["title"].endswith("by replication") for p in state["plots"]):
        failures.append("no plot of the replications' values")
    if sorted(state["blocks"]) != sorted(state["names"]):
        failures.append("diagram blocks %s, report blocks %s" % (state["blocks"], state["names"]))
    if not state["replay"]:
        failures.append("no replay")
    else:
        opened = browser.evaluate("window.quorinReplay.time()")
        if abs(opened - min(12.5, browser.evaluate("window.quorinReplay.end"))) > 1e-9:
            failures.append("#t=12.5 opened the replay at %s" % opened)
        moved = browser.evaluate(REPLAY)
        if not moved["before"] or moved["before"] == moved["after"]:
            failures.append("the replay did not move its dots: %s" % moved)
    if screenshot:
        browser.evaluate("window.quorinReplay && window.quorinReplay.seek(%s)" % screenshot[1])
        height = browser.evaluate("Math.min(document.documentElement.scrollHeight, %d)" % screenshot[2])
        shot = browser.call("Page.captureScreenshot", format="png",
                            clip={"x": 0, "y": 0, "width": 1200, "height": height, "scale": 1},
                            captureBeyondViewport=True)
        with open(screenshot[0], "wb") as out:
            out.write(base64.b64decode(shot["data"]))
    failures += browser.problems()
    print("%-28s %s (%d plots, %d blocks, %.1f s)" % (
        label, "ok" if not failures else "FAILED", len(state["plots"]), len(state["blocks"]), seconds))
    return ["%s: %s" % (label, f) for f in failures]


SCENARIO_CHECKS = r"""
(() => {
  const data = JSON.parse(document.getElementById('q-data').textContent);
  const near = (r, g, b) => Math.abs(r - %d) < 40 && Math.abs(g - %d) < 40 && Math.abs(b - %d) < 40;
  const plots = (window.quorinPlots || []).map(p => {
    const c = p.ctx.canvas;
    const px = p.ctx.getImageData(0, 0, c.width, c.height).data;
    let drawn = 0;
    for (let i = 0; i < px.length; i += 4) if (px[i + 3] > 0 && near(px[i], px[i + 1], px[i + 2])) drawn++;
    const values = p.data.slice(1).flat().filter(v => v !== null && isFinite(v)).length;
    return { title: p.root.querySelector('.u-title').textContent, points: p.data[0].length, values, drawn };
  });
  const figures = data.comparison ? data.comparison.figures.length
                                  : data.sweep.combinations[0].statistics.length;
  return { plots, figures, rows: document.querySelectorAll('#q-table tbody tr').length };
})()
""" % SERIES_COLOUR


def check_scenario_page(browser, path, label, titles):
    """A comparison's or a sweep's page: no error, every plot drawn, the
    table complete, and a plot for each of Titles."""
    failures = []
    browser.events.clear()
    browser.call("Page.navigate", url="file://" + path)
    browser.wait_for("Page.loadEventFired")
    state = browser.evaluate(SCENARIO_CHECKS)
    for plot in state["plots"]:
        if plot["points"] == 0 or plot["values"] == 0 or plot["drawn"] == 0:
            failures.append("plot '%s' drew no points: %s" % (plot["title"], plot))
    shown = [p["title"] for p in state["plots"]]
    for title in titles:
        if title not in shown:
            failures.append("no plot '%s' among %s" % (title, shown))
    if state["rows"] < state["figures"]:
        failures.append("%d table rows for %d figures" % (state["rows"], state["figures"]))
    failures += browser.problems()
    print("%-28s %s (%d plots)" % (label, "ok" if not failures else "FAILED", len(state["plots"])))
    return ["%s: %s" % (label, f) for f in failures]


def scenario_pages(quorin, examples, work):
    """A comparison and a sweep of the priority model, as pages: (page,
    label, plot titles that must be there); and the failures to make them."""
    cobham = os.path.join(examples, "cobham.qm")
    faster = os.path.join(work, "cobham-faster.qm")
    with open(cobham) as source, open(faster, "w") as out:
        out.write(source.read().replace("Hold(Services.Exponential(1))",
                                        "Hold(Services.Exponential(0.9))"))
    common = ["--replications", "4", "--jobs", "2", "--until", "11000"]
    runs = [("compare", ["compare", cobham, faster], ["Mean time"]),
            ("sweep", ["sweep", cobham, "--set", "Line.Capacity=50,100,200", "--figure",
                       "Line.Mean time"],
             ["Line: Mean time", "Line [priority 1]: Mean time", "Line [priority 2]: Mean time"])]
    pages, failures = [], []
    for label, arguments, titles in runs:
        page = os.path.abspath(os.path.join(work, "cobham-" + label + ".html"))
        done = subprocess.run([quorin] + arguments + common + ["--html", page],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode != 0 or not os.path.exists(page):
            failures.append("cobham-%s: quorin %s failed: %s" % (label, label, done.stderr))
            continue
        pages.append((page, "cobham-" + label, titles))
    return pages, failures


def diagram_screenshot(browser, quorin, model, png):
    svg = png[:-4] + ".svg"
    subprocess.run([quorin, "diagram", model, "-o", svg], check=True)
    browser.call("Page.navigate", url="file://" + os.path.abspath(svg))
    browser.wait_for("Page.loadEventFired")
    size = browser.evaluate("(() => { const s = document.querySelector('svg');"
                            " return [s.width.baseVal.value, s.height.baseVal.value]; })()")
    shot = browser.call("Page.captureScreenshot", format="png",
                        clip={"x": 0, "y": 0, "width": size[0], "height": size[1], "scale": 1.25},
                        captureBeyondViewport=True)
    with open(png, "wb") as out:
        out.write(base64.b64decode(shot["data"]))
    os.remove(svg)


def main():
    quorin, examples, work = sys.argv[1:4]
    shots = sys.argv[sys.argv.index("--screenshots") + 1] if "--screenshots" in sys.argv else None
    if CHROMIUM is None:
        print("no headless Chromium: install it with tools/setup.sh --test")
        return 1
    os.makedirs(work, exist_ok=True)
    failures = []
    pages = []
    for model in sorted(glob.glob(os.path.join(examples, "*.qm"))):
        name = os.path.splitext(os.path.basename(model))[0]
        runs = [("", [])]
        if name in REPLICATED:
            runs.append(("-replications", ["--replications", "10", "--jobs", "2"]))
        for suffix, extra in runs:
            page = os.path.abspath(os.path.join(work, name + suffix + ".html"))
            done = subprocess.run([quorin, "run", model, "--html", page] + extra,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            if done.returncode != 0 or not os.path.exists(page):
                failures.append("%s: quorin run failed: %s" % (name + suffix, done.stderr))
                continue
            size = os.path.getsize(page)
            if size > 2 * 1024 * 1024:
                failures.append("%s: the page has %d bytes" % (name + suffix, size))
            pages.append((page, name + suffix))
    scenarios, failed = scenario_pages(quorin, examples, work)
    failures += failed
    browser = Browser()
    try:
        for page, label in pages:
            screenshot = None
            if shots and label == "mm1":
                screenshot = (os.path.join(shots, "page-mm1.png"), 30, 1500)
            if shots and label == "network":
                screenshot = (os.path.join(shots, "page-network.png"), 25, 720)
            failures += check_page(browser, page, label, screenshot)
        for page, label, titles in scenarios:
            failures += check_scenario_page(browser, page, label, titles)
        if shots:
            for name in ("network", "workshop"):
                diagram_screenshot(browser, quorin, os.path.join(examples, name + ".qm"),
                                   os.path.join(shots, "diagram-" + name + ".png"))
    finally:
        browser.close()
    for f in failures:
        print(f)
    print("%d passed, %d failed" % (len(pages) + len(scenarios) - len({f.split(":")[0] for f in failures}),
                                    len({f.split(":")[0] for f in failures})))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
