#!/usr/bin/env python3
"""The page's views used as a person would, in the real Linux window, inside
the network lab.

WebKitWebDriver starts a copy of `tarnveil --cdp` (app_e2e.Run: a directory of
its own for probe.log, scans/ and ProbeData/) on the virtual display of
tests/e2e/xvfb.sh; the test clicks the page's buttons and types into its
fields through WebDriver, switches the lab's censor between runs and reads
the outcome from the page. Run it in tv-client (tests/lab/in-lab.sh, which
holds the lab's lock); the censor goes back to `open` at the end.

  page_views_e2e.py views ...      basic test; domain scan of the default list
                                   under allowlist and open; every view shot
  page_views_e2e.py matrix ...     IP x SNI runs under sni-rst and ip-block:
                                   the per-address notes; under fp-chrome with
                                   "Отпечаток: сравнить": the L/C/F marks and
                                   the fingerprint note
  page_views_e2e.py snapshots ...  save, censor, save, compare; the report on
                                   the clipboard; a snapshot of tarnveil-cli
                                   listed and shown
  page_views_e2e.py dns ...        the basic test under udp53-redirect (the
                                   UDP rows intercepted) and the domain scan
                                   under dns-stub (swapped answers marked)
  page_views_e2e.py language ...   the RU / EN switch: kept in settings.ini
                                   across a restart of the window; a domain
                                   scan under allowlist read in English

Options: --app TARNVEIL --cli TARNVEIL_CLI --lab LAB_SH --artifacts DIR.
Screenshots go to DIR (PNG).
"""
import argparse
import base64
import datetime
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import app_e2e  # noqa: E402
from app_e2e import Run, check, image_stats, wait_for  # noqa: E402

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
ENTER = "\ue007"

# The basic test's rows: twelve checks, then DoT and DoH to four resolvers.
BASIC_ROWS = 20

# The default domain list: 17 ru, 7 cloud, 7 host, 8 world hosts.
DEFAULT_HOSTS = 39
WORLD = ["google.com", "youtube.com", "cloudflare.com", "github.com", "wikipedia.org",
         "microsoft.com", "telegram.org", "discord.com"]

# A small matrix: the foreign control address with no SNI, two white names
# and two names of the default SNI block list.
MX_IPS = ["1.1.1.1"]
MX_SNIS = ["-", "ya.ru", "vk.com", "google.com", "youtube.com"]

RUN_LIMIT = 110  # seconds
# Probe time-out of every run (ms): a dropped address costs this much, a lab
# handshake takes well under it even on a busy machine.
SCAN_TIMEOUT = "2000"

STATUS_WL = "БЕЛЫЕ СПИСКИ · мир 0/8 · ru 17/17"
STATUS_OPEN = "ОТКРЫТО · мир 8/8"


class Page:
    """The page of one driven window: clicks, typing and reading through
    WebDriver, the way a user's input reaches it."""

    def __init__(self, wd, artifacts):
        self.wd = wd
        self.artifacts = os.path.abspath(artifacts)
        os.makedirs(self.artifacts, exist_ok=True)

    def find(self, css=None, xpath=None):
        using, value = ("xpath", xpath) if xpath else ("css selector", css)
        return self.wd.s("POST", "/element", {"using": using, "value": value})[ELEMENT]

    def click(self, css=None, xpath=None):
        self.wd.s("POST", "/element/%s/click" % self.find(css, xpath), {})

    def type(self, css, text):
        """Clears a field and types `text`; line breaks are typed as Enter."""
        eid = self.find(css)
        self.wd.s("POST", "/element/%s/clear" % eid, {})
        self.wd.s("POST", "/element/%s/value" % eid, {"text": text.replace("\n", ENTER)})

    def value(self, css):
        return self.wd.js("return document.querySelector(arguments[0]).value;", css)

    def text(self, css):
        return self.wd.js("var e = document.querySelector(arguments[0]);"
                          "return e ? e.textContent : null;", css)

    def texts(self, css):
        return self.wd.js("return Array.from(document.querySelectorAll(arguments[0]))"
                          ".map(function (e) { return e.textContent; });", css)

    def displayed(self, css):
        return self.wd.s("GET", "/element/%s/displayed" % self.find(css))

    def tab(self, view):
        self.click('.tab[data-v="%s"]' % view)
        return wait_for(lambda: self.displayed("#v-" + view), 5)

    def bar_ratio(self, pfx):
        """How much of a progress bar is filled, as rendered (0..1)."""
        return self.wd.js("var b = document.getElementById(arguments[0] + 'Bar');"
                          "var i = b.firstElementChild;"
                          "return i.getBoundingClientRect().width / b.getBoundingClientRect().width;",
                          pfx)

    def scroll_to(self, css):
        self.wd.js("var e = document.querySelector(arguments[0]); if (e) e.scrollIntoView(true);", css)

    def toast_after(self, action, want, timeout=10):
        """Runs `action` and waits for a toast whose text starts with `want`;
        returns its text (or None)."""
        self.wd.js("var t = document.getElementById('toast'); t.textContent = '';"
                   "t.classList.remove('show');")
        action()
        got = wait_for(lambda: (self.text("#toast") or "") if
                       (self.text("#toast") or "").startswith(want) else None, timeout)
        return got

    def shot(self, name):
        # The screenshot is the last painted frame: let the page paint its
        # current state first.
        self.wd.js_async("var done = arguments[arguments.length - 1];"
                         "requestAnimationFrame(function () { requestAnimationFrame(done); });",
                         timeout=10)
        path = os.path.join(self.artifacts, name)
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.wd.s("GET", "/screenshot")))
        w, h, colours = image_stats(path)
        check(w > 0 and colours > 50, "screenshot %s (%dx%d, %d colours)" % (path, w, h, colours))
        return path


def start_page(run, artifacts):
    wd = app_e2e.start_driven(None, run)
    page = Page(wd, artifacts)
    wait_for(lambda: wd.js("return document.readyState") == "complete", 15)
    # The page's `ready` was answered: hello put the scans folder in.
    check(wait_for(lambda: page.text("#dirTxt") == os.path.join(run.dir, "scans"), 15),
          "the page is up and greeted by the program")
    return page


def censor(lab, *modes):
    r = subprocess.run(["bash", lab, "censor", *modes], capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        print(r.stderr, end="")
    return check(r.returncode == 0, "censor: %s" % " ".join(modes))


def scan_domains(page, label):
    """Clicks Старт in the domain view and waits for the run's end."""
    page.wd.js("document.getElementById('domProg').textContent = '';")
    t0 = time.monotonic()
    page.click("#btnDom")
    fin = wait_for(lambda: (page.text("#domProg") or "").startswith("Готово: "), 60, 0.2)
    print("domain scan (%s): %.1f s" % (label, time.monotonic() - t0), flush=True)
    ok = check(fin and page.text("#domProg") == "Готово: %d / %d" % (DEFAULT_HOSTS, DEFAULT_HOSTS),
               "domain scan (%s) ends: %r" % (label, page.text("#domProg")))
    check(wait_for(lambda: page.bar_ratio("dom") > 0.999, 5), "domain scan (%s): the bar ends full" % label)
    return ok


def domain_verdicts(page, xfer=False):
    """host -> (group, verdict label) of the domain table; with `xfer`, the
    transfer column's text as a third item."""
    rows = page.wd.js("return Array.from(document.querySelectorAll('#domBody tr')).map(function (r) {"
                      "  var c = r.cells; return [c[0].textContent, c[1].textContent,"
                      "  c[c.length - 2].textContent, c[c.length - 1].textContent]; });")
    return {h: (g, v, x) if xfer else (g, v) for h, g, v, x in rows}


def setup_matrix(page):
    page.type("#mxIps", "\n".join(MX_IPS))
    page.type("#mxSnis", "\n".join(MX_SNIS))
    page.type("#mxThreads", "8")
    page.type("#mxTimeout", SCAN_TIMEOUT)
    check(page.value("#mxSnis") == "\n".join(MX_SNIS) and page.value("#mxIps") == "1.1.1.1",
          "the typed matrix lists are in the fields (%r)" % page.value("#mxSnis"))


def scan_matrix(page, label, n=len(MX_IPS) * len(MX_SNIS)):
    page.wd.js("document.getElementById('mxProg').textContent = '';")
    t0 = time.monotonic()
    page.click("#btnMx")
    fin = wait_for(lambda: (page.text("#mxProg") or "").startswith("Готово: "), 30, 0.2)
    print("matrix (%s): %.1f s" % (label, time.monotonic() - t0), flush=True)
    check(fin and page.text("#mxProg") == "Готово: %d / %d" % (n, n),
          "matrix run (%s) ends: %r" % (label, page.text("#mxProg")))
    check(wait_for(lambda: page.bar_ratio("mx") > 0.999, 5), "matrix (%s): the bar ends full" % label)
    # Cell texts by SNI of the first address ("OK 3" -> "OK").
    cells = page.texts("#mxTable tbody tr:first-child td")
    return [c.split(" ")[0] for c in cells]


def mx_note(page):
    notes = page.texts("#mxNotes .note")
    return next((n for n in notes if n.startswith(MX_IPS[0] + " — ")), None)


# ---------------------------------------------------------------------------
# views: basic test, domain scan under allowlist and open, a shot of each view


def run_basics(page, label):
    """Clicks Запустить in the basic test and returns its rows' cell texts."""
    wd = page.wd
    t0 = time.monotonic()
    page.click("#btnBasics")
    ended = wait_for(lambda: len(page.texts("#bsBody tr")) >= BASIC_ROWS and
                     not wd.js("return document.getElementById('btnBasics').disabled;"), 45, 0.2)
    print("basic test (%s): %.1f s" % (label, time.monotonic() - t0), flush=True)
    check(ended, "the basic test (%s) ends" % label)
    return wd.js("return Array.from(document.querySelectorAll('#bsBody tr')).map(function (r) {"
                 "  return Array.from(r.cells).map(function (c) { return c.textContent; }); });")


def test_views(opts):
    run = Run(opts.app)
    page = None
    try:
        page = start_page(run, opts.artifacts)
        wd = page.wd

        # The basic test, shown at start.
        check(page.displayed("#v-basics"), "the basic test view is shown at start")
        page.type("#bsTimeout", "2000")
        rows = run_basics(page, "open")
        check(len(rows) == BASIC_ROWS, "%d rows (got %d)" % (BASIC_ROWS, len(rows)))
        groups = [r[0] for r in rows]
        check(groups == ["DNS системный"] * 4 + ["DNS по UDP/53"] * 4 + ["TCP:443 по IP"] * 4 +
              ["DNS по DoT"] * 4 + ["DNS по DoH"] * 4,
              "four rows each of system DNS, UDP/53, TCP:443, DoT, DoH, in order (got %s)" % groups)
        bad = [r for r in rows if r[2] != "ok" or not r[3].isdigit()]
        check(not bad, "with the censor open every check is ok with a time (not so: %s)" % bad)
        card = page.text("#bsInfo")
        check(page.displayed("#bsInfo") and card ==
              "Твой выход в интернет: 10.200.1.2 · Lab Telecom · AS64500 Lab Telecom · Moscow, Russia",
              "the lookup card shows the lab's answer (got %r)" % card)
        check(wait_for(lambda: page.bar_ratio("bs") > 0.999, 5),
              "the bar ends at 100 %% (%.3f)" % page.bar_ratio("bs"))
        check(not wd.js("return document.getElementById('bsBar').classList.contains('run');"),
              "the bar no longer runs")
        page.shot("view-basics.png")

        # The domain scan of the default list, under the allow-list censor.
        check(page.tab("domains"), "tab Домены shows the domain view")
        check(len((page.value("#domList") or "").strip().splitlines()) == DEFAULT_HOSTS + 4,
              "the default list is in the field")
        page.type("#domThreads", "24")
        page.type("#domTimeout", SCAN_TIMEOUT)
        if censor(opts.lab, "allowlist"):
            scan_domains(page, "allowlist")
            pill = page.text("#pillTxt")
            check(pill == STATUS_WL, "allowlist: the pill reads %r (got %r)" % (STATUS_WL, pill))
            check("s-wl" in wd.js("return document.getElementById('pill').className;"),
                  "allowlist: the pill has the allow-list colour")
            v = domain_verdicts(page)
            check(len(v) == DEFAULT_HOSTS, "one row per host")
            check(all(v.get(h, ("", ""))[1] == "БЛОК" for h in WORLD),
                  "allowlist: every world host is БЛОК")
            check(all(gv[1] == "ПРОХОДИТ" for gv in v.values() if gv[0] in ("ru", "cloud", "host")),
                  "allowlist: every domestic host passes")
            tiles = page.texts("#domStats .tile .big")
            check(tiles == ["17 / 17", "7 / 7", "7 / 7", "0 / 8"],
                  "allowlist: group tiles (got %s)" % tiles)
            # The world rows, where the two modes differ.
            page.scroll_to("#dr%d" % (DEFAULT_HOSTS - len(WORLD)))
            page.shot("view-domains-allowlist.png")

        if censor(opts.lab, "open"):
            scan_domains(page, "open")
            pill = page.text("#pillTxt")
            check(pill.startswith("ОТКРЫТО"), "open: the pill starts with ОТКРЫТО (got %r)" % pill)
            check(pill == STATUS_OPEN, "open: the pill reads %r" % STATUS_OPEN)
            v = domain_verdicts(page)
            check(all(gv[1] == "ПРОХОДИТ" for gv in v.values()), "open: every host passes")
            log = [l.split("] ", 1)[-1] for l in page.texts("#domLog div")]
            check(log == ["ИЗМЕНЕНИЕ (8 шт.): " + STATUS_OPEN, "Первый скан: " + STATUS_WL],
                  "the change log has both scans, newest first (got %s)" % log)
            page.scroll_to("#dr%d" % (DEFAULT_HOSTS - len(WORLD)))
            page.shot("view-domains.png")

        for view, head in (("matrix", "IP × SNI"), ("history", "История и сравнение"),
                           ("help", "Как читать результаты")):
            check(page.tab(view), "tab %s shows its view" % view)
            check(page.text("#v-%s h2" % view) == head, "view %s: heading %r" % (view, head))
            page.shot("view-%s.png" % view)
        check(page.texts("#fileList .empty") == ["Снимков пока нет. Нажми «Сохранить снимок» вверху."],
              "history: no snapshots yet")
        notes = page.texts("#helpBody .note")
        check(len(notes) == 4 and notes[3].startswith("Сравнение отпечатков."),
              "help: its four notes, the comparison of fingerprints last (got %d)" % len(notes))
    finally:
        censor(opts.lab, "open")
        if page:
            page.wd.close()
        run.finish()


# ---------------------------------------------------------------------------
# matrix: SNI filtering and a cut address told apart


def test_matrix(opts):
    run = Run(opts.app)
    page = None
    try:
        page = start_page(run, opts.artifacts)
        check(page.tab("matrix"), "tab IP × SNI shows the matrix view")
        setup_matrix(page)

        if censor(opts.lab, "sni-rst"):
            cells = scan_matrix(page, "sni-rst")
            heads = page.texts("#mxTable thead th")
            check(heads == ["IP \\ SNI", "∅", "ya.ru", "vk.com", "google.com", "youtube.com"],
                  "columns: no SNI and the four names (got %s)" % heads)
            check(cells == ["OK", "OK", "OK", "DPI", "DPI"],
                  "sni-rst: no SNI and white names pass, blocked names DPI (got %s)" % cells)
            note = mx_note(page)
            check(note is not None and "Фильтр по SNI" in note and "(2/2)" in note,
                  "sni-rst: the note for 1.1.1.1 says SNI filter (got %r)" % note)
            check(page.texts("#mxNotes .note.good") != [], "sni-rst: a good note")
            page.scroll_to("#mxNotes")
            page.shot("matrix-sni-rst.png")

        if censor(opts.lab, "ip-block"):
            cells = scan_matrix(page, "ip-block")
            check(cells == ["BLOCK"] * 5, "ip-block: every cell BLOCK (got %s)" % cells)
            note = mx_note(page)
            check(note is not None and "адрес отрезан" in note,
                  "ip-block: the note for 1.1.1.1 says the address is cut (got %r)" % note)
            check(all("Фильтр по SNI" not in n for n in page.texts("#mxNotes .note")),
                  "ip-block: no SNI-filter note")
            page.scroll_to("#mxNotes")
            page.shot("matrix-ip-block.png")

        # The foreign control address and a domestic one, every cell probed
        # with the library's, Chrome's and Firefox's hello.
        if censor(opts.lab, "fp-chrome"):
            page.type("#mxIps", "1.1.1.1\n77.88.55.242   # ya.ru")
            page.click('#mxHello option[value="all"]')
            check(page.value("#mxHello") == "all", "the option reads сравнить (%r)" % page.value("#mxHello"))
            scan_matrix(page, "fp-chrome, all", 2 * len(MX_SNIS))
            marks = page.wd.js("return Array.from(document.querySelectorAll('#mxTable tbody tr')).map("
                               "function (r) { return Array.from(r.querySelectorAll('td')).map(function (td) {"
                               "  return Array.from(td.querySelectorAll('.hm')).map(function (m) {"
                               "    return m.textContent + ':' + m.className.split(' ')[1]; }).join(' '); }); });")
            check(marks[0] == ["L:ok C:cut F:ok"] * len(MX_SNIS),
                  "fp-chrome: Chrome cut toward 1.1.1.1 (got %s)" % marks[0])
            check(marks[1] == ["L:ok C:ok F:ok"] * len(MX_SNIS),
                  "fp-chrome: all three pass toward the domestic address (got %s)" % marks[1])
            notes = page.texts("#mxNotes .note")
            fp = [n for n in notes if "Фильтр по отпечатку TLS" in n]
            check(len(fp) == 1 and fp[0].startswith("1.1.1.1 — ") and "режет Chrome" in fp[0],
                  "fp-chrome: the fingerprint note for 1.1.1.1 only (got %s)" % notes)
            page.scroll_to("#mxNotes")
            page.shot("matrix-hello-all.png")

        # Half the hellos toward foreign addresses reset at random, five tries
        # a cell, and the made-up name as the last column.
        if censor(opts.lab, "flaky"):
            page.click('#mxHello option[value="lib"]')
            page.type("#mxSnis", "\n".join(MX_SNIS + ["?"]))
            page.type("#mxRepeat", "5")
            page.type("#mxTimeout", "1500")
            scan_matrix(page, "flaky, 5 tries", 2 * (len(MX_SNIS) + 1))
            heads = page.texts("#mxTable thead th")
            check(re.match(r"^\? [a-z]{10}\.(com|net|org|info|io|ru)$", heads[-1]) is not None,
                  "flaky: the last column shows the made-up name (got %s)" % heads)
            rows = page.wd.js("return Array.from(document.querySelectorAll('#mxTable tbody tr')).map("
                              "function (r) { return Array.from(r.querySelectorAll('td')).map("
                              "function (td) { return td.textContent; }); });")
            # Six cells of five tries each all agree by chance about once in 2^24.
            check(any("нестабильно" in c for c in rows[0]),
                  "flaky: cells toward 1.1.1.1 read нестабильно (got %s)" % rows[0])
            check(not any("нестабильно" in c for c in rows[1]),
                  "flaky: the domestic address reads stable (got %s)" % rows[1])
            page.scroll_to("#mxTable")
            page.shot("matrix-flaky-random.png")
    finally:
        censor(opts.lab, "open")
        if page:
            page.wd.close()
        run.finish()


# ---------------------------------------------------------------------------
# transfer: the 16–20 KB test under the freeze mode, in the domain table and
# the matrix notes


def test_transfer(opts):
    run = Run(opts.app)
    page = None
    try:
        page = start_page(run, opts.artifacts)
        check(page.tab("domains"), "tab Домены shows the domain view")
        page.type("#domThreads", "24")
        page.type("#domTimeout", SCAN_TIMEOUT)
        if censor(opts.lab, "freeze-down"):
            scan_domains(page, "freeze-down")
            v = domain_verdicts(page, xfer=True)
            check(all(v.get(h, ("", "", ""))[2].startswith("ЗАМОРОЗКА ↓≈") for h in WORLD),
                  "freeze-down: every world host reads ЗАМОРОЗКА (got %s)" % [v.get(h) for h in WORLD])
            check(all(g[1] == "ПРОХОДИТ" and g[2] == "64 КБ ✓" for g in v.values()
                      if g[0] in ("ru", "cloud", "host")),
                  "freeze-down: every domestic host passes 64 КБ")
            frozen = page.texts("#domStats .tile .cap.frozen")
            check(frozen == ["❄ 8 · данные встают"], "freeze-down: the world tile counts 8 (got %s)" % frozen)
            check(page.text("#pillXfer") == "❄ 8", "freeze-down: the pill's mark")
            page.scroll_to("#dr%d" % (DEFAULT_HOSTS - len(WORLD) - 2))
            page.shot("transfer-domains-freeze.png")

            check(page.tab("matrix"), "tab IP × SNI shows the matrix view")
            setup_matrix(page)
            page.type("#mxIps", "1.1.1.1\n77.88.55.242")
            scan_matrix(page, "freeze-down", n=2 * len(MX_SNIS))
            note = mx_note(page)
            check(note is not None and "данные встают" in note and "туннель на этот адрес" in note,
                  "freeze-down: the note for 1.1.1.1 says the data stops (got %r)" % note)
            check(all("Reality" not in n for n in page.texts("#mxNotes .note")
                      if n.startswith("1.1.1.1")), "freeze-down: no note calls 1.1.1.1 good")
            page.scroll_to("#mxNotes")
            page.shot("transfer-matrix-freeze.png")
    finally:
        censor(opts.lab, "open")
        if page:
            page.wd.close()
        run.finish()


# ---------------------------------------------------------------------------
# snapshots: save, compare, report, a snapshot of tarnveil-cli


def save_snapshot(page, run, label):
    page.type("#snapLabel", label)
    got = page.toast_after(lambda: page.click("#btnSnap"), "Снимок сохранён: ")
    name = got[len("Снимок сохранён: "):] if got else None
    path = os.path.join(run.dir, "scans", name) if name else None
    check(name and re.fullmatch(r"scan_\d{8}_\d{6}_%s\.json" % label, name) and os.path.isfile(path),
          "snapshot %r saved as a file (toast %r)" % (label, got))
    return name, path


def file_button(name, act):
    return ('//div[@class="frow"][span[@class="fname" and text()="%s"]]/button[@data-act="%s"]'
            % (name, act))


def read_clipboard():
    """The CLIPBOARD selection of the display, as another X client reads it."""
    try:
        r = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"],
                           capture_output=True, timeout=20)
    except FileNotFoundError:
        check(False, "xclip is installed (scripts/deps.sh)")
        raise
    return r.stdout.decode("utf-8", errors="replace") if r.returncode == 0 else None


def test_snapshots(opts):
    run = Run(opts.app)
    cli = os.path.join(run.dir, "tarnveil-cli")
    shutil.copy2(opts.cli, cli)
    page = None
    try:
        page = start_page(run, opts.artifacts)
        page.tab("domains")
        page.type("#domThreads", "24")
        page.type("#domTimeout", SCAN_TIMEOUT)
        page.tab("matrix")
        setup_matrix(page)

        # A: everything open. B: the SNI filter on.
        names = {}
        for label, mode in (("open", "open"), ("sni", "sni-rst")):
            if not censor(opts.lab, mode):
                return
            page.tab("domains")
            scan_domains(page, mode)
            page.tab("matrix")
            scan_matrix(page, mode)
            names[label], path = save_snapshot(page, run, label)
            if path:
                with open(path, encoding="utf-8") as f:
                    snap = json.load(f)
                check(snap.get("label") == label and len(snap.get("domains", [])) == DEFAULT_HOSTS and
                      len(snap.get("matrix", {}).get("cells", [])) == len(MX_SNIS),
                      "snapshot %s holds %d domains and %d cells" % (label, DEFAULT_HOSTS, len(MX_SNIS)))
        if not all(names.values()):
            return

        # Compare in History: A = open, B = sni.
        check(page.tab("history"), "tab История")
        listed = wait_for(lambda: set(names.values()) <= set(page.texts("#fileList .fname")), 10)
        check(listed, "both snapshots are listed (%s)" % page.texts("#fileList .fname"))
        page.click(xpath=file_button(names["open"], "a"))
        page.click(xpath=file_button(names["sni"], "b"))
        tags = page.wd.js("return Array.from(document.querySelectorAll('#fileList .frow')).map("
                          "function (r) { return [r.querySelector('.fname').textContent,"
                          "  Array.from(r.querySelectorAll('.ftag')).map(function (t) {"
                          "  return t.textContent; }).join('')]; });")
        check(sorted(tags) == sorted([[names["open"], "A"], [names["sni"], "B"]]),
              "the picks are tagged A and B (got %s)" % tags)
        page.click("#btnCmp")
        shown = wait_for(lambda: len(page.texts("#cmpOut .cmpH")) == 2, 10)
        check(shown, "the comparison is shown")
        heads = page.texts("#cmpOut .cmpH")
        check(heads == ["Домены: изменилось 8 из %d" % DEFAULT_HOSTS, "IP × SNI: изменилось 2 из 5"],
              "changed counts (got %s)" % heads)
        tiles = page.texts("#cmpOut .tiles .big2")
        check(tiles == ["A: " + STATUS_OPEN, "B: " + STATUS_WL], "A and B status tiles (got %s)" % tiles)
        rows = page.wd.js("return Array.from(document.querySelectorAll('#cmpOut tbody tr')).map("
                          "function (r) { return [r.cells[0].textContent, r.cells[1].textContent,"
                          "  r.cells[3].textContent]; });")
        # Domains in list order; matrix cells in the order A's results arrived.
        want = [[k, "ПРОХОДИТ", "DPI / СБРОС"] for k in
                WORLD + ["1.1.1.1 × google.com", "1.1.1.1 × youtube.com"]]
        check(rows[:len(WORLD)] == want[:len(WORLD)] and
              sorted(rows[len(WORLD):]) == want[len(WORLD):],
              "the changed verdicts are listed, A -> B (got %s)" % rows)
        page.scroll_to("#cmpOut")
        page.shot("history-compare.png")
        page.wd.js("var h = document.querySelectorAll('#cmpOut .cmpH'); h[h.length - 1].scrollIntoView(true);")
        page.shot("history-compare-matrix.png")

        # The report on the clipboard.
        copied = page.toast_after(lambda: page.click("#btnCopy"), "Скопировано в буфер обмена")
        check(copied, "copying the report is confirmed")
        report = wait_for(read_clipboard, 10, 0.5) or ""
        lines = report.split("\n")
        m = re.fullmatch(r"Tarnveil 1\.0\.0 \| (\d\d)\.(\d\d)\.(\d{4}), (\d\d):(\d\d):(\d\d)", lines[0])
        when = None
        if m:
            d, mo, y, hh, mi, ss = (int(v) for v in m.groups())
            when = datetime.datetime(y, mo, d, hh, mi, ss)
        check(when is not None and abs((datetime.datetime.now() - when).total_seconds()) < 120,
              "the clipboard's first line is version and local time (got %r)" % lines[0])
        check(lines[1:4] == ["Статус: " + STATUS_WL, "", "== Домены =="],
              "then the status and the domains (got %s)" % lines[1:4])
        dom = [l for l in lines if l.startswith("[")]
        check(len(dom) == DEFAULT_HOSTS and
              any(l.startswith("[world] google.com -> DPI / СБРОС (ip 198.19.") for l in dom) and
              any(l.startswith("[ru] ya.ru -> ПРОХОДИТ (ip 77.88.55.242, dns ok, tcp ok, tls ok ")
                  for l in dom), "one report line per host, as scanned")
        check("1.1.1.1: noSNI=OK ya.ru=OK vk.com=OK google.com=DPI youtube.com=DPI" in lines,
              "the matrix line of 1.1.1.1")

        # tarnveil-cli reads the window's snapshots back: the report of B is the
        # window's report after the line with the time; the comparison counts
        # what the History view counted.
        cli_env = dict(os.environ, NO_COLOR="1")
        r = subprocess.run([cli, "report", names["sni"], "--lang", "ru"], cwd=run.dir, capture_output=True,
                           text=True, timeout=60, env=cli_env)
        got = r.stdout.rstrip("\n").split("\n")
        check(r.returncode == 0 and got[1:] == lines[1:],
              "tarnveil-cli report of B is the window's report (rc %d; first difference: %s)" % (
                  r.returncode, next(((a, b) for a, b in zip(got[1:], lines[1:]) if a != b),
                                     (len(got), len(lines)))))
        check(re.fullmatch(r"Tarnveil 1\.0\.0 \| \d\d\.\d\d\.\d{4}, \d\d:\d\d:\d\d \| sni", got[0]) is not None,
              "its first line has the snapshot's local time and label (got %r)" % got[0])
        r = subprocess.run([cli, "compare", names["open"], names["sni"], "--lang", "ru"], cwd=run.dir,
                           capture_output=True, text=True, timeout=60, env=cli_env)
        cmp_lines = r.stdout.split("\n")
        check(r.returncode == 0 and [l for l in cmp_lines if ": изменилось " in l] == heads and
              cmp_lines[0] == "A: " + STATUS_OPEN and cmp_lines[2] == "B: " + STATUS_WL,
              "tarnveil-cli compare counts what History counted (rc %d, %r)" % (r.returncode, r.stdout[:400]))

        # A snapshot of tarnveil-cli, beside the window's program: same scans/.
        lst = os.path.join(run.dir, "cli-list.txt")
        with open(lst, "w", encoding="utf-8") as f:
            f.write("# [ru] свои\nya.ru\nvk.com\n# [world] контроль\ngoogle.com\nexample.com\n")
        t0 = time.monotonic()
        r = subprocess.run([cli, "domains", lst, "--lang", "ru", "--threads", "8", "--timeout", SCAN_TIMEOUT,
                            "--save=lab-cli"], cwd=run.dir, capture_output=True, text=True,
                           timeout=60, env=dict(os.environ, NO_COLOR="1"))
        print("tarnveil-cli --save: %.1f s" % (time.monotonic() - t0), flush=True)
        saved = re.search(r"Снимок сохранён: (\S+)", r.stderr)
        check(r.returncode == 0 and saved and os.path.dirname(saved.group(1)) ==
              os.path.join(run.dir, "scans"),
              "tarnveil-cli saves into the window's scans folder (rc %d, %r)" % (r.returncode, r.stderr[-300:]))
        if saved:
            cname = os.path.basename(saved.group(1))
            page.click("#btnRefresh")
            check(wait_for(lambda: cname in page.texts("#fileList .fname"), 10),
                  "Обновить lists the CLI's snapshot %s" % cname)
            page.click(xpath=file_button(cname, "view"))
            check(wait_for(lambda: page.texts("#cmpOut .big2") == ["Снимок: БЕЛЫЕ СПИСКИ · мир 0/2 · ru 2/2"],
                           10), "Смотреть shows it with its status (got %s)" % page.texts("#cmpOut .big2"))
            cap = page.text("#cmpOut .cap") or ""
            check(cap.startswith(cname + " · ") and cap.endswith(" · lab-cli"),
                  "its caption: name, time, label (got %r)" % cap)
            vrows = page.wd.js("return Array.from(document.querySelectorAll('#cmpOut tbody tr')).map("
                               "function (r) { return [r.cells[0].textContent, r.cells[1].textContent,"
                               "  r.cells[2].textContent]; });")
            check(vrows == [["ya.ru", "ru", "ПРОХОДИТ"], ["vk.com", "ru", "ПРОХОДИТ"],
                            ["google.com", "world", "DPI / СБРОС"], ["example.com", "world", "DPI / СБРОС"]],
                  "its rows: host, group, verdict (got %s)" % vrows)
            page.scroll_to("#cmpOut")
            page.shot("history-cli-snapshot.png")

            # Two more from the CLI, open and under the address allow-list:
            # the timeline above the list marks all five by time and status.
            for label, mode in (("cli-open", "open"), ("cli-allow", "allowlist")):
                if not censor(opts.lab, mode):
                    return
                r = subprocess.run([cli, "domains", lst, "--lang", "ru", "--threads", "8", "--timeout", SCAN_TIMEOUT,
                                    "--save=" + label], cwd=run.dir, capture_output=True, text=True,
                                   timeout=60, env=dict(os.environ, NO_COLOR="1"))
                check(r.returncode in (0, 3), "tarnveil-cli --save=%s under %s (rc %d)" % (label, mode, r.returncode))
            page.scroll_to("#btnRefresh")
            page.click("#btnRefresh")
            scans = os.path.join(run.dir, "scans")
            want = {}
            for n in os.listdir(scans):
                with open(os.path.join(scans, n), encoding="utf-8") as f:
                    want[n] = "tlm s-" + json.load(f)["status"]["k"]
            js = ("return Array.from(document.querySelectorAll('#timeline circle.tlm')).map("
                  "function (c) { return [c.dataset.name, c.getAttribute('class')]; });")
            got = wait_for(lambda: (lambda m: m if len(m) == len(want) else None)(page.wd.js(js)), 10)
            check(len(want) == 5 and got and dict(got) == want,
                  "the timeline marks the five snapshots by their status (got %s, want %s)" % (got, want))
            page.wd.js("document.getElementById('timeline').scrollIntoView(true); window.scrollBy(0, -80);")
            page.shot("history-timeline.png")
    finally:
        censor(opts.lab, "open")
        if page:
            page.wd.close()
        run.finish()


# ---------------------------------------------------------------------------
# dns: intercepted UDP/53 in the basic test, swapped answers in the domain view


def test_dns(opts):
    run = Run(opts.app)
    page = None
    try:
        page = start_page(run, opts.artifacts)
        wd = page.wd
        page.type("#bsTimeout", "2000")
        if censor(opts.lab, "udp53-redirect"):
            rows = run_basics(page, "udp53-redirect")
            check(wait_for(lambda: page.bar_ratio("bs") > 0.999, 5), "udp53-redirect: the bar ends full")
            udp = [r for r in rows if r[0] == "DNS по UDP/53"]
            check(len(udp) == 4 and all(r[2] == "ok перехват" for r in udp),
                  "udp53-redirect: each UDP row keeps ok and is marked (got %s)" % [r[2] for r in udp])
            check(all("перехват: whoami 198.18.0.153, по DoT " in r[4] for r in udp),
                  "udp53-redirect: the detail names both egress addresses")
            enc = [r[2] for r in rows if r[0] in ("DNS по DoT", "DNS по DoH")]
            check(enc == ["ok"] * 8, "udp53-redirect: DoT and DoH still work (got %s)" % enc)
            # (The lab's sub-millisecond connects also raise the VPN warning.)
            warn = [w for w in page.texts("#bsWarn .note") if w.startswith("DNS-запросы на UDP/53")]
            check(len(warn) == 1 and warn[0].startswith("DNS-запросы на UDP/53 перехватывают.") and
                  warn[0].endswith("Перехват: Yandex DNS 77.88.8.8, Cloudflare 1.1.1.1, Google 8.8.8.8, "
                                   "Quad9 9.9.9.9."),
                  "udp53-redirect: the warning names the four resolvers (got %s)" % warn)
            page.shot("basics-udp53-redirect.png")
            # The rows below: the marked UDP rows, TCP:443, DoT and DoH.
            page.scroll_to("#bsBody tr:nth-child(5)")
            page.shot("basics-udp53-redirect-rows.png")

        check(page.tab("domains"), "tab Домены")
        page.type("#domThreads", "24")
        page.type("#domTimeout", SCAN_TIMEOUT)
        check(wd.js("return document.getElementById('domDnsCheck').checked;"), "Проверка DNS is ticked")
        if censor(opts.lab, "dns-stub"):
            scan_domains(page, "dns-stub")  # waits for the bar too
            ips = wd.js("return Array.from(document.querySelectorAll('#domBody tr')).map(function (r) {"
                        "  return [r.cells[0].textContent, r.cells[2].textContent]; });")
            marked = {h: ip for h, ip in ips if "подмена DNS" in ip}
            check(sorted(marked) == sorted(WORLD) and
                  all(re.fullmatch(r"198\.18\.0\.80подмена DNS→ 198\.19\.1\.\d+", v) for v in marked.values()),
                  "dns-stub: the world rows are marked with their genuine address (got %s)" % marked)
            warn = page.texts("#domWarn .note")
            check(any(w.startswith("Подмена DNS.") for w in warn), "dns-stub: the note (got %s)" % warn)
            page.scroll_to("#dr%d" % (DEFAULT_HOSTS - len(WORLD)))
            page.shot("domains-dns-stub.png")
    finally:
        censor(opts.lab, "open")
        if page:
            page.wd.close()
        run.finish()


# ---------------------------------------------------------------------------
# language: the switch, its file beside scans/, a restart, a scan in English

STATUS_WL_EN = "ALLOW-LISTS · world 0/8 · ru 17/17"


def cyrillic_in(page, css):
    """The rendered texts (and tooltips) under `css` that hold Cyrillic."""
    return page.wd.js(
        "var out = [], re = /[\\u0400-\\u04FF]/;"
        "document.querySelectorAll(arguments[0] + ', ' + arguments[0] + ' *').forEach(function (e) {"
        "  if (e.title && re.test(e.title)) out.push(e.title);"
        "  e.childNodes.forEach(function (n) { if (n.nodeType === 3 && re.test(n.nodeValue)) out.push(n.nodeValue); });"
        "});"
        "return out;", css)


def close_window(run, page):
    page.wd.s("DELETE", "")
    page.wd.sid = None
    page.wd.close()
    return check(wait_for(lambda: (run.log_lines() or [""])[-1].endswith("] " + app_e2e.EXIT_LINE), 15) and
                 wait_for(lambda: not run.running(), 10), "the window closes")


def test_language(opts):
    run = Run(opts.app)
    settings = os.path.join(run.dir, "settings.ini")
    page = None
    try:
        page = start_page(run, opts.artifacts)
        check(page.text("#pillTxt") == "Статус неизвестен — запусти скан" and
              page.wd.js("return document.documentElement.lang;") == "ru" and not os.path.exists(settings),
              "first start: Russian, no settings file")
        page.click("#langEn")
        stored = wait_for(lambda: os.path.exists(settings) and open(settings).read() == "lang=en\n", 10)
        check(stored, "EN is stored in settings.ini beside scans/")
        check(not os.path.exists(os.path.join(run.dir, "scans", "settings.ini")), "and not inside scans/")
        check(page.text("#pillTxt") == "Status unknown — run a scan", "the page switches at once")
        close_window(run, page)

        page = start_page(run, opts.artifacts)
        check(wait_for(lambda: page.text("#pillTxt") == "Status unknown — run a scan", 10) and
              page.text('.tab[data-v="domains"]') == "🔎 Domains" and
              page.wd.js("return document.documentElement.lang;") == "en",
              "after the restart the page starts in English")
        check(page.tab("domains"), "tab Domains shows the domain view")
        page.type("#domThreads", "24")
        page.type("#domTimeout", SCAN_TIMEOUT)
        if censor(opts.lab, "allowlist"):
            page.wd.js("document.getElementById('domProg').textContent = '';")
            page.click("#btnDom")
            fin = wait_for(lambda: (page.text("#domProg") or "").startswith("Done: "), 60, 0.2)
            check(fin and page.text("#domProg") == "Done: %d / %d" % (DEFAULT_HOSTS, DEFAULT_HOSTS),
                  "the scan ends: %r" % page.text("#domProg"))
            check(page.text("#pillTxt") == STATUS_WL_EN, "the pill reads %r (got %r)" % (STATUS_WL_EN, page.text("#pillTxt")))
            v = domain_verdicts(page)
            check(all(v.get(h, ("", ""))[1] == "BLOCKED" for h in WORLD), "every world host is BLOCKED")
            bad = cyrillic_in(page, "header") + cyrillic_in(page, "nav") + cyrillic_in(page, "#v-domains")
            check(not bad, "the domain view holds no Cyrillic (got %s)" % bad[:5])
            page.shot("view-domains-en.png")
            page.scroll_to("#dr%d" % (DEFAULT_HOSTS - len(WORLD)))
            page.shot("view-domains-en-rows.png")
            page.click("#langRu")
            check(wait_for(lambda: page.text("#pillTxt") == STATUS_WL, 5), "back to Russian: the pill reads %r" % STATUS_WL)
            check(wait_for(lambda: open(settings).read() == "lang=ru\n", 10), "RU is stored")
    finally:
        censor(opts.lab, "open")
        if page and page.wd.sid:
            page.wd.close()
        run.finish()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("what", choices=["views", "matrix", "snapshots", "transfer", "dns", "language"])
    ap.add_argument("--app", required=True)
    ap.add_argument("--cli")
    ap.add_argument("--lab", required=True)
    ap.add_argument("--artifacts", default="artifacts/e2e")
    opts = ap.parse_args()
    t0 = time.monotonic()

    # The run's own bound (CTest's time-out also covers waiting for the lab's
    # lock): past it the test fails, and its clean-up still runs.
    def over(signum, frame):
        raise TimeoutError("the test ran over %d s" % RUN_LIMIT)

    signal.signal(signal.SIGALRM, over)
    signal.alarm(RUN_LIMIT)
    try:
        {"views": test_views, "matrix": test_matrix, "snapshots": test_snapshots,
         "transfer": test_transfer, "dns": test_dns, "language": test_language}[opts.what](opts)
    except Exception:
        traceback.print_exc()
        check(False, "the test ran to its end")
    finally:
        signal.alarm(0)
    print("%s: %d failed check(s), %.1f s" % (opts.what, len(app_e2e.failures), time.monotonic() - t0))
    return 1 if app_e2e.failures else 0


if __name__ == "__main__":
    sys.exit(main())
