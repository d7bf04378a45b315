#!/usr/bin/env python3
"""End-to-end tests of the real Linux window (the `tarnveil` program).

Each run copies the program into a fresh directory, so probe.log, scans/ and
ProbeData/ of the run lie there and nowhere else. Run on a virtual display
(tests/e2e/xvfb.sh), except `nodisplay`.

  app_e2e.py window --expect X,Y,W,H ...  the window as the desktop sees it:
                                          title, rectangle, icons; closing it
                                          writes the exit line, exit code 0
  app_e2e.py nodisplay ...                no display: exit code 1, logged
  app_e2e.py webdriver ...                WebDriver drives the window (--cdp):
                                          greeting and file list reach the
                                          page; screenshot; the session's end
                                          closes the window
  app_e2e.py lab-scan ...                 inside the network lab: a scan posted
                                          by the page streams `res` messages
                                          into it and ends with `done`

  app_e2e.py packaging --icons DIR --desktop FILE
                                          the desktop entry and the icon PNGs

Common options: --app PROGRAM --xwin E2E_XWIN --artifacts DIR.
"""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

TITLE = "Tarnveil — Veldrane"
EXIT_LINE = "=== ВЫХОД ==="
READY_LINE = "PROJECT: Tarnveil | WebView2 готов"
WEBDRIVER = "/usr/bin/WebKitWebDriver"

# Pixels of the drawn icon (x, y) -> ARGB, at 32 and at 16 pixels.
ICON_TABLE = {
    32: {(16, 16): 0xFFFFDCFF, (15, 15): 0xFF14081E, (8, 16): 0xFFBE3CDC,
         (16, 24): 0xFFEBDCF5, (16, 8): 0xFF461E78, (2, 16): 0xFFE15A6E,
         (29, 16): 0xFFE15A6E, (0, 0): 0x00000000},
    16: {(8, 8): 0xFFFFDCFF, (7, 7): 0xFF14081E, (8, 4): 0xFF461E78,
         (8, 11): 0xFFBE3CDC, (0, 0): 0x00000000},
}

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


def wait_for(pred, timeout, step=0.1):
    end = time.monotonic() + timeout
    while True:
        v = pred()
        if v or time.monotonic() >= end:
            return v
        time.sleep(step)


class Run:
    """One copy of the program in its own directory."""

    def __init__(self, app):
        self.dir = tempfile.mkdtemp(prefix="tv-e2e-app-")
        self.app = os.path.join(self.dir, "tarnveil")
        shutil.copy2(app, self.app)
        self.proc = None
        self.stderr = open(os.path.join(self.dir, "stderr.txt"), "wb")

    def start(self, args=(), env=None):
        self.proc = subprocess.Popen([self.app, *args], cwd=self.dir, env=env,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr)

    def log_lines(self):
        try:
            with open(os.path.join(self.dir, "probe.log"), encoding="utf-8-sig") as f:
                return [l.rstrip("\n") for l in f if l.strip()]
        except FileNotFoundError:
            return []

    def running(self):
        """Whether any process runs this copy of the program (also one
        started by WebDriver)."""
        for pid in os.listdir("/proc"):
            if pid.isdigit():
                try:
                    if os.readlink("/proc/%s/exe" % pid) == self.app:
                        return True
                except OSError:
                    pass
        return False

    def log_has(self, text):
        return any(l.endswith("] " + text) for l in self.log_lines())

    def finish(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.stderr.close()
        if failures:
            print("--- probe.log ---\n" + "\n".join(self.log_lines()))
            with open(os.path.join(self.dir, "stderr.txt"), errors="replace") as f:
                print("--- stderr (tail) ---\n" + f.read()[-3000:])
        shutil.rmtree(self.dir, ignore_errors=True)


def xwin(tool, *args):
    r = subprocess.run([tool, *args], capture_output=True, text=True, timeout=60)
    if r.returncode != 0:
        print(r.stderr, end="")
        return None
    return r.stdout


def image_stats(path):
    """(width, height, number of distinct colours) of an image file."""
    out = subprocess.run(["identify", "-format", "%w %h %k\n", path], capture_output=True,
                         text=True, timeout=60).stdout.split()
    return tuple(int(v) for v in out[:3]) if len(out) >= 3 else (0, 0, 0)


def pixel(path, x, y):
    """The channel values of one pixel: (r, g, b) or (r, g, b, a)."""
    out = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8",
                          "txt:-"], capture_output=True, text=True, timeout=60).stdout
    # "0,0: (14,10,22)  #0E0A16  srgb(14,10,22)"
    for line in out.splitlines():
        if line.startswith("0,0:"):
            nums = line.split("(")[1].split(")")[0].split(",")
            return tuple(int(float(v)) for v in nums[:4])
    return None


def test_window(opts):
    ex, ey, ew, eh = (int(v) for v in opts.expect.split(","))
    run = Run(opts.app)
    try:
        run.start()
        raw = xwin(opts.xwin, "info", TITLE, "20000")
        if not check(raw is not None, "a window titled %r appears" % TITLE):
            return
        info = json.loads(raw)
        check((info["x"], info["y"], info["width"], info["height"]) == (ex, ey, ew, eh),
              "window rectangle %d,%d %dx%d (got %d,%d %dx%d)" %
              (ex, ey, ew, eh, info["x"], info["y"], info["width"], info["height"]))
        check(info["wmClass"] == "tarnveil/Tarnveil", "WM_CLASS tarnveil/Tarnveil (desktop entry match)")
        icons = {i["width"]: i for i in info["icons"]}
        check(sorted(icons) == [16, 32, 48, 64, 128], "icons 16, 32, 48, 64, 128 (got %s)" % sorted(icons))
        for n, table in ICON_TABLE.items():
            if n not in icons:
                continue
            argb = icons[n]["argb"]
            bad = ["(%d,%d)=%08X" % (x, y, argb[y * n + x]) for (x, y), v in table.items()
                   if argb[y * n + x] != v]
            check(not bad, "icon at %d matches the drawn picture %s" % (n, " ".join(bad)))

        check(wait_for(lambda: run.log_has(READY_LINE), 10), "log: " + READY_LINE)
        check(os.path.isdir(os.path.join(run.dir, "ProbeData")), "ProbeData created")
        check(os.path.isdir(os.path.join(run.dir, "scans")), "scans created")
        check(any(os.scandir(os.path.join(run.dir, "ProbeData"))), "ProbeData holds the web view's data")

        # The page paints over the dark ground: many colours inside the window.
        os.makedirs(opts.artifacts, exist_ok=True)
        shot = os.path.join(opts.artifacts, "window-%dx%d.png" % (ew, eh))

        def painted():
            subprocess.run(["import", "-window", "root", shot], timeout=60, check=False)
            w, h, colours = image_stats(shot)
            return colours > 50 and pixel(shot, ex + ew // 2, ey + eh - 3) is not None

        check(wait_for(painted, 15, 0.5), "the page is painted in the window (%s)" % shot)

        # Closing as the window manager does.
        check(xwin(opts.xwin, "close", TITLE) is not None, "WM_DELETE_WINDOW sent")
        try:
            rc = run.proc.wait(15)
        except subprocess.TimeoutExpired:
            rc = None
        check(rc == 0, "the process ends with exit code 0 after closing (got %s)" % rc)
        lines = run.log_lines()
        check(bool(lines) and lines[-1].endswith("] " + EXIT_LINE),
              "the last log line is the exit line (got %r)" % (lines[-1] if lines else None))
    finally:
        run.finish()


def test_packaging(opts):
    entry = {}
    with open(opts.desktop, encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f]
    check(lines[0] == "[Desktop Entry]", "desktop file opens with [Desktop Entry]")
    for l in lines[1:]:
        if "=" in l and not l.startswith("#"):
            k, v = l.split("=", 1)
            entry[k] = v
    for k, v in (("Type", "Application"), ("Name", "Tarnveil"), ("Exec", "tarnveil"),
                 ("Icon", "tarnveil"), ("Terminal", "false"),
                 # the window's WM_CLASS class part (checked by the window test)
                 ("StartupWMClass", "Tarnveil")):
        check(entry.get(k) == v, "desktop entry %s=%s (got %r)" % (k, v, entry.get(k)))
    check("Network" in entry.get("Categories", "").split(";"), "desktop entry in Network")
    for n in (16, 32, 48, 64, 128, 256):
        png = os.path.join(opts.icons, "%dx%d" % (n, n), "apps", "tarnveil.png")
        w, h, colours = image_stats(png) if os.path.exists(png) else (0, 0, 0)
        check((w, h) == (n, n), "icon PNG %dx%d (got %dx%d)" % (n, n, w, h))
        for (x, y), argb in ICON_TABLE.get(n, {}).items():
            want = ((argb >> 16) & 255, (argb >> 8) & 255, argb & 255, argb >> 24)
            got = pixel(png, x, y)
            if len(got or ()) == 3:
                got = got + (255,)
            if want[3] == 0:
                ok = got is not None and got[3] == 0
            else:
                ok = got == want
            check(ok, "icon PNG %d pixel (%d,%d) is %08X (got %s)" % (n, x, y, argb, got))


def test_nodisplay(opts):
    run = Run(opts.app)
    try:
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        run.start(env=env)
        try:
            rc = run.proc.wait(30)
        except subprocess.TimeoutExpired:
            rc = None
        check(rc == 1, "without a display the exit code is 1 (got %s)" % rc)
        check(run.log_has("CreateWindowExW ERROR"), "log: CreateWindowExW ERROR")
        check(not run.log_has(EXIT_LINE), "no exit line")
        check(not os.path.exists(os.path.join(run.dir, "ProbeData")), "no web view was started")
    finally:
        run.finish()


class WebDriver:
    def __init__(self):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        self.port = s.getsockname()[1]
        s.close()
        self.proc = subprocess.Popen([WEBDRIVER, "--host=127.0.0.1", "--port=%d" % self.port],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.sid = None
        ok = wait_for(lambda: self._try_status(), 10)
        if not ok:
            raise RuntimeError("WebKitWebDriver did not start")

    def _try_status(self):
        try:
            self.call("GET", "/status", timeout=2)
            return True
        except OSError:
            return False

    def call(self, method, path, body=None, timeout=60):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), data=data,
                                     method=method, headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=timeout) as f:
                return json.loads(f.read())["value"]
        except urllib.error.HTTPError as e:
            raise RuntimeError("%s %s: %s" % (method, path, e.read().decode(errors="replace")))

    def session(self, binary, args):
        caps = {"capabilities": {"alwaysMatch": {
            "webkitgtk:browserOptions": {"binary": binary, "args": args}}}}
        self.sid = self.call("POST", "/session", caps)["sessionId"]

    def s(self, method, path, body=None, timeout=60):
        return self.call(method, "/session/%s%s" % (self.sid, path), body, timeout)

    def js(self, script, *args):
        return self.s("POST", "/execute/sync", {"script": script, "args": list(args)})

    def js_async(self, script, *args, timeout=60):
        return self.s("POST", "/execute/async", {"script": script, "args": list(args)},
                      timeout=timeout + 5)

    def close(self):
        if self.sid:
            try:
                self.s("DELETE", "")
            except (OSError, RuntimeError):
                pass
            self.sid = None
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


# Posts one page command and collects the UI messages of run `run` until its
# `done`, or the messages answering the command until one with t == until.
COLLECT = """
var cmd = arguments[0], run = arguments[1], until = arguments[2];
var finish = arguments[arguments.length - 1];
var got = [];
window.chrome.webview.addEventListener('message', function on(e) {
  var m = e.data;
  if (run !== null && m.run !== run) return;
  got.push(m);
  if ((run !== null && m.t === 'done') || (run === null && m.t === until)) {
    window.chrome.webview.removeEventListener('message', on);
    finish(got);
  }
});
window.chrome.webview.postMessage(cmd);
"""


def start_driven(opts, run):
    wd = WebDriver()
    try:
        wd.session(run.app, ["--cdp"])
    except Exception:
        wd.close()
        raise
    return wd


def test_webdriver(opts):
    run = Run(opts.app)
    scans = os.path.join(run.dir, "scans")
    os.makedirs(scans)
    snap = "scan_20260101_120000_e2e.json"
    with open(os.path.join(scans, snap), "w") as f:
        f.write('{"v":1,"domains":[]}')
    wd = None
    try:
        wd = start_driven(opts, run)
        check(wd.s("GET", "/title") == "Tarnveil", "WebDriver sees the page titled Tarnveil")

        # The page's first command ("ready") reached the dispatcher: its hello
        # and files answers are in the page.
        dir_txt = wait_for(lambda: wd.js("var e = document.getElementById('dirTxt');"
                                         "return e && e.textContent;") == scans, 15)
        check(dir_txt, "the page shows the scans folder from hello (%s)" % scans)
        names = wait_for(lambda: wd.js("return Array.from(document.querySelectorAll('#fileList .fname'))"
                                       ".map(function (e) { return e.textContent; });"), 10)
        check(names == [snap], "the page lists the snapshot from files (got %r)" % names)

        # The channel by hand: a command goes out, its answers come back parsed.
        got = wd.js_async(COLLECT, "ready", None, "files", timeout=20)
        check([m.get("t") for m in got] == ["hello", "files"], "ready -> hello, files")
        hello = got[0]
        check(hello.get("dir") == scans and hello.get("version") == "1.0.0" and
              hello.get("project") == "Tarnveil", "hello carries project, version and folder")
        check(got[1].get("list") == [{"name": snap, "size": 20}], "files lists name and size")

        os.makedirs(opts.artifacts, exist_ok=True)
        shot = os.path.join(opts.artifacts, "webdriver-page.png")
        import base64
        with open(shot, "wb") as f:
            f.write(base64.b64decode(wd.s("GET", "/screenshot")))
        w, h, colours = image_stats(shot)
        check((w, h) == (1240, 820), "screenshot of the page fills the window (got %dx%d)" % (w, h))
        check(colours > 50, "the screenshot shows the painted page (%d colours, %s)" % (colours, shot))

        # Ending the session closes the window the way the page's close would.
        wd.s("DELETE", "")
        wd.sid = None
        check(wait_for(lambda: (run.log_lines() or [""])[-1].endswith("] " + EXIT_LINE), 15),
              "the session's end closes the window: exit line last")
        check(wait_for(lambda: not run.running(), 10), "and the process is gone")
    finally:
        if wd:
            wd.close()
        run.finish()


def test_lab_scan(opts):
    run = Run(opts.app)
    wd = None
    try:
        wd = start_driven(opts, run)
        wait_for(lambda: wd.js("return document.readyState") == "complete", 15)
        wd.s("POST", "/timeouts", {"script": 60000})
        jobs = ["ok.lab.test|ok.lab.test", "blocked.lab.test|blocked.lab.test",
                "nx.lab.test|nx.lab.test", "alert.lab.test|other.lab.test"]
        expect = {0: "pass", 1: "dpi", 2: "blocked", 3: "reach"}
        run_id = 9001
        cmd = "\t".join(["scan", str(run_id), "domains", "4000", "4", "1", "\n".join(jobs)])
        t0 = time.monotonic()
        got = wd.js_async(COLLECT, cmd, run_id, None, timeout=60)
        print("scan took %.1f s, %d messages" % (time.monotonic() - t0, len(got)))
        res = [m for m in got if m.get("t") == "res"]
        check(got and got[-1].get("t") == "done" and got[-1].get("cancelled") is False,
              "the run ends with done, not cancelled")
        check(len(got) == len(res) + 1, "nothing but res before done")
        check(sorted(m.get("idx") for m in res) == [0, 1, 2, 3], "one res per job, idx 0..3")
        for m in res:
            i = m.get("idx")
            host, sni = jobs[i].split("|") if i in expect else ("?", "?")
            check(m.get("host") == host and m.get("sni") == sni,
                  "res %s names its job %s|%s" % (i, host, sni))
            check(m.get("verdict") == expect.get(i),
                  "res %s (%s) verdict %s (got %s, tls %s %s)" %
                  (i, host, expect.get(i), m.get("verdict"), m.get("tls"), m.get("tlsDetail")))
        check(run.log_has("Скан #%d режим=domains целей=4" % run_id), "the scan was logged")

        # Closing during a scan whose probes wait 20 s for silent hosts: the
        # process ends at once, without waiting for them.
        slow = "\n".join(["drop.lab.test|drop.lab.test"] * 4)
        wd.js("window.chrome.webview.postMessage(arguments[0]); return 0;",
              "\t".join(["scan", str(run_id + 1), "domains", "20000", "4", "0", slow]))
        check(wait_for(lambda: run.log_has("Скан #%d режим=domains целей=4" % (run_id + 1)), 10),
              "the slow scan started")
        t0 = time.monotonic()
        wd.s("DELETE", "")
        wd.sid = None
        ended = wait_for(lambda: (run.log_lines() or [""])[-1].endswith("] " + EXIT_LINE), 10)
        check(ended and wait_for(lambda: not run.running(), 5),
              "closing during the scan ends the process (%.1f s)" % (time.monotonic() - t0))
    finally:
        if wd:
            wd.close()
        run.finish()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("what", choices=["window", "nodisplay", "webdriver", "lab-scan", "packaging"])
    ap.add_argument("--app")
    ap.add_argument("--icons", help="packaging: the hicolor icon directory of the build")
    ap.add_argument("--desktop", help="packaging: the desktop entry")
    ap.add_argument("--xwin")
    ap.add_argument("--artifacts", default="artifacts/e2e")
    ap.add_argument("--expect", default="180,90,1240,820")
    opts = ap.parse_args()
    {"window": test_window, "nodisplay": test_nodisplay, "webdriver": test_webdriver,
     "lab-scan": test_lab_scan, "packaging": test_packaging}[opts.what](opts)
    print("%s: %d failed check(s)" % (opts.what, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
