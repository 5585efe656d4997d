#!/usr/bin/python3
"""The studio in a real browser (Debian's headless Chromium), driven with
the mouse and the keyboard through the DevTools protocol.

1. On an empty file: drag two streams, a generator, a queue, a server and a
   terminator onto the form, name them, draw the three arrows, type the
   handlers and the run settings, save; `quorin run` of the saved file
   gives the report of examples/mm1.qm, figure for figure.
2. examples/cobham.qm: a value the loader refuses shows its message at the
   field and leaves the text alone; taking a route away shows the check's
   finding on the block; replications run with progress and open the
   report page.

  studio_browser_test.py QUORIN EXAMPLES_DIR WORK_DIR [--screenshots DIR]
"""
import base64
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from page_browser_test import Browser  # noqa: E402  (the report page test's browser)


class Studio:
    def __init__(self, quorin, model):
        self.process = subprocess.Popen([quorin, "studio", model], stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        self.url = re.search(r"http://\S+", line).group(0)

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def wait(browser, expression, seconds=60):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = browser.evaluate(expression)
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("waited in vain for " + expression)


def centre(browser, selector):
    box = browser.evaluate(
        "(() => { const r = document.querySelector(%r).getBoundingClientRect();"
        " return [r.left + r.width / 2, r.top + r.height / 2]; })()" % selector)
    return box[0], box[1]


def drag(browser, start, end, steps=6):
    mouse = lambda kind, x, y, buttons: browser.call(  # noqa: E731
        "Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", buttons=buttons,
        clickCount=1)
    mouse("mouseMoved", start[0], start[1], 0)
    mouse("mousePressed", start[0], start[1], 1)
    for i in range(1, steps + 1):
        mouse("mouseMoved", start[0] + (end[0] - start[0]) * i / steps,
              start[1] + (end[1] - start[1]) * i / steps, 1)
    mouse("mouseReleased", end[0], end[1], 0)


def click(browser, selector):
    x, y = centre(browser, selector)
    drag(browser, (x, y), (x, y), steps=1)


def settled(browser):
    """Waits until the last edit's answer has been drawn."""
    time.sleep(0.15)
    wait(browser, "document.body.dataset.ready === '1'")


def type_into(browser, key, text):
    """Types text into the sheet's field of that key, as a person would."""
    selector = '.field[data-key="%s"] input' % key
    wait(browser, "!!document.querySelector(%r)" % selector)
    browser.evaluate("(() => { const i = document.querySelector(%r); i.focus(); i.select(); })()"
                     % selector)
    browser.call("Input.insertText", text=text)
    browser.call("Input.dispatchKeyEvent", type="keyDown", key="Enter", code="Enter",
                 windowsVirtualKeyCode=13)
    browser.call("Input.dispatchKeyEvent", type="keyUp", key="Enter", code="Enter",
                 windowsVirtualKeyCode=13)
    time.sleep(0.3)


def select(browser, name):
    click(browser, "#block-" + name + " .name")
    wait(browser, "studio.state.selected === %r" % name)


def add(browser, cls, name, x, y):
    """Drags cls from the palette to (x, y) of the form and names it."""
    form = browser.evaluate("(() => { const r = document.getElementById('form')"
                            ".getBoundingClientRect(); return [r.left, r.top]; })()")
    drag(browser, centre(browser, '.tool[data-class="%s"]' % cls), (form[0] + x, form[1] + y))
    given = wait(browser, "(() => { const s = studio.state.selected;"
                          " return /^%s\\d+$/.test(s) && document.getElementById('block-' + s) && s; })()"
                 % cls[1:])
    type_into(browser, given + ".Name", name)
    wait(browser, "!!document.getElementById('block-%s')" % name)


def report(quorin, path):
    out = subprocess.run([quorin, "run", path], capture_output=True, text=True, check=True)
    return out.stdout


def screenshot(browser, path):
    shot = browser.call("Page.captureScreenshot", format="png")
    with open(path, "wb") as f:
        f.write(base64.b64decode(shot["data"]))


def problems(browser):
    found = []
    for e in browser.events:
        m, p = e.get("method"), e.get("params", {})
        if m == "Runtime.exceptionThrown":
            found.append("exception: %s" % p["exceptionDetails"])
        elif m == "Runtime.consoleAPICalled" and p["type"] in ("error", "assert"):
            found.append("console: %s" % p["args"])
        elif m == "Network.requestWillBeSent":
            url = p["request"]["url"]
            if not (url.startswith("http://127.0.0.1:") or url.startswith("data:")
                    or url == "about:blank"):
                found.append("request: " + url)
    return found


def open_studio(browser, studio):
    browser.call("Page.navigate", url=studio.url)
    wait(browser, "document.body && document.body.dataset.ready === '1'")


def build_mm1(browser, quorin, examples, work, shots):
    model = os.path.join(work, "built.qm")
    studio = Studio(quorin, model)
    try:
        open_studio(browser, studio)
        # The run settings, with nothing selected.
        type_into(browser, ".Title", "M/M/1 (arrival rate 1, service rate 1.25)")
        type_into(browser, ".Warmup", "1000")
        type_into(browser, ".Until", "201000")
        add(browser, "TMultiRand", "Arrivals", 200, 40)
        add(browser, "TMultiRand", "Services", 350, 40)
        type_into(browser, "Services.Seed", "1234567891")
        add(browser, "TGenerator", "Door", 60, 160)
        add(browser, "TQueue", "Line", 240, 160)
        add(browser, "TServer", "Clerk", 420, 160)
        add(browser, "TTerminator", "Exit", 600, 160)
        for a, b in (("Door", "Line"), ("Line", "Clerk"), ("Clerk", "Exit")):
            drag(browser, centre(browser, "#block-%s .port" % a), centre(browser, "#block-%s .name" % b))
            wait(browser, "!!document.querySelector('path.route[data-from=%s][data-to=%s]')" % (a, b))
        select(browser, "Door")
        type_into(browser, "Door.OnBeforeTimeGoOn", "NextArrival(Arrivals.Exponential(1.0))")
        type_into(browser, "Door.OnAfterGeneration", "NextArrival(Arrivals.Exponential(1.0))")
        select(browser, "Clerk")
        type_into(browser, "Clerk.OnEnter", "Hold(Services.Exponential(0.8))")
        wait(browser, "document.querySelector('#check-list .ok') !== null")
        # A block moved by the mouse keeps its place in the file.
        drag(browser, centre(browser, "#block-Exit .name"), (centre(browser, "#block-Exit .name")[0] + 40,
                                                            centre(browser, "#block-Exit .name")[1] + 60))
        wait(browser, "studio.state.text.includes('Top = ')")
        if shots:
            screenshot(browser, os.path.join(shots, "studio-mm1.png"))
        click(browser, "#save")
        wait(browser, "!document.getElementById('file-name').classList.contains('dirty')")
    finally:
        studio.close()
    built, expected = report(quorin, model), report(quorin, os.path.join(examples, "mm1.qm"))
    assert built == expected, "the built model reports otherwise:\n%s\n---\n%s" % (built, expected)
    text = open(model).read()
    assert "Left = " in text and "PassTo(Line)" in text, text


def cobham(browser, quorin, examples, work, shots):
    model = os.path.join(work, "cobham.qm")
    shutil.copy(os.path.join(examples, "cobham.qm"), model)
    original = open(model, "rb").read()
    studio = Studio(quorin, model)
    try:
        open_studio(browser, studio)
        # A refused value: the loader's message at the field, the text alone.
        select(browser, "Line")
        before = browser.evaluate("studio.state.text")
        type_into(browser, "Line.Capacity", "-1")
        message = wait(browser, "(document.querySelector('.field.refused .message') || {}).textContent")
        assert "Capacity" in message and "cobham.qm:" in message, message
        assert browser.evaluate("studio.state.text") == before
        if shots:
            screenshot(browser, os.path.join(shots, "studio-refused.png"))
        # A property changed: the check finds a block nothing leaves.
        type_into(browser, "Line.Capacity", "")
        type_into(browser, "Line.OnRouting", "")
        wait(browser, "document.getElementById('block-Line').classList.contains('finding')")
        assert "Line" in browser.evaluate("document.getElementById('check-list').textContent")
        if shots:
            screenshot(browser, os.path.join(shots, "studio-check.png"))
        click(browser, "#undo")
        wait(browser, "!document.getElementById('block-Line').classList.contains('finding')")
        # Saved without a change: the same bytes.
        click(browser, "#save")
        wait(browser, "document.getElementById('status').textContent.startsWith('saved')")
        assert open(model, "rb").read() == original
        # Replications, with progress, then the report page.
        browser.evaluate("document.getElementById('replications').value = '4';"
                         "document.getElementById('jobs').value = '2'")
        click(browser, "#run")
        wait(browser, "!document.getElementById('report-wrap').hidden", 120)
        wait(browser, "(() => { const d = document.getElementById('report').contentDocument;"
                      " return d && d.readyState === 'complete' &&"
                      " d.body.textContent.toLowerCase().includes('replication'); })()", 60)
        assert "run done" in browser.evaluate("document.getElementById('status').textContent")
        if shots:
            time.sleep(1)
            screenshot(browser, os.path.join(shots, "studio-report.png"))
    finally:
        studio.close()


def main():
    quorin, examples, work = sys.argv[1:4]
    shots = sys.argv[sys.argv.index("--screenshots") + 1] if "--screenshots" in sys.argv else None
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    browser = Browser()
    try:
        build_mm1(browser, quorin, examples, work, shots)
        cobham(browser, quorin, examples, work, shots)
        found = problems(browser)
        assert not found, "\n".join(found)
    finally:
        browser.close()
    print("the studio works in a headless browser")


if __name__ == "__main__":
    main()
