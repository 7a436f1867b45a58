#!/usr/bin/env python3
"""The live view in a real browser.

Starts `vyxsim -- vyxcam serve` on a free port, opens its page in headless
Chromium driven through the DevTools protocol (over a pipe: no port, no
extra package), waits until the page's script has counted frames arriving
from the stream and shows a picture at the capture size, and keeps a
screenshot of the page as an artefact.

    serve_browser_test.py BIN_DIR OUT_DIR

Exits 77 (skipped) when Chromium is not installed; every wait is bounded.
"""
import base64
import fcntl
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
BOUND_S = 180          # a loaded 2-core machine
FRAMES_WANTED = 10


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


class DevTools:
    """The DevTools protocol over --remote-debugging-pipe: JSON messages
    ended by a NUL byte, commands on fd 3 of the browser, answers on fd 4."""

    def __init__(self, to_browser, from_browser):
        self.to_browser = to_browser
        self.from_browser = from_browser
        self.next_id = 0
        self.pending = b""

    def _read_message(self, deadline):
        while b"\0" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0:
                fail("the browser did not answer in time")
            ready, _, _ = select.select([self.from_browser], [], [], left)
            if ready:
                chunk = os.read(self.from_browser, 1 << 16)
                if not chunk:
                    fail("the browser closed its pipe")
                self.pending += chunk
        message, self.pending = self.pending.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, bound_s=60):
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = session
        os.write(self.to_browser, json.dumps(command).encode() + b"\0")
        deadline = time.monotonic() + bound_s
        while True:
            message = self._read_message(deadline)
            if message.get("id") == self.next_id:
                if "error" in message:
                    fail(method + ": " + json.dumps(message["error"]))
                return message["result"]


def start_server(bin_dir, work):
    out = open(os.path.join(work, "serve-stdout.txt"), "w+")
    err = open(os.path.join(work, "serve-stderr.txt"), "w+")
    server = subprocess.Popen(
        [os.path.join(bin_dir, "vyxsim"), "--root", os.path.join(work, "root"), "--",
         os.path.join(bin_dir, "vyxcam"), "serve", "--listen", "127.0.0.1:0"],
        stdout=out, stderr=err, stdin=subprocess.DEVNULL, cwd=work, start_new_session=True)
    deadline = time.monotonic() + BOUND_S
    while time.monotonic() < deadline:
        out.seek(0)
        line = out.readline()
        if line.endswith("\n"):
            return server, json.loads(line)["url"], err
        if server.poll() is not None:
            err.seek(0)
            fail("the server ended: " + err.read())
        time.sleep(0.05)
    os.killpg(server.pid, signal.SIGKILL)
    fail("the server did not say where it listens")


def evaluate(tools, session, expression):
    result = tools.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)
    return result["result"].get("value")


def main():
    bin_dir, out_dir = sys.argv[1], sys.argv[2]
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        print("SKIP: Chromium is not installed (apt-get install chromium); the browser test does not run")
        return SKIP
    work = tempfile.mkdtemp(prefix="vyxcam-browser-")
    server, url, server_err = start_server(bin_dir, work)
    browser = None
    try:
        # Pipes on fds 3 and 4 of the browser.
        commands_r, commands_w = os.pipe()
        answers_r, answers_w = os.pipe()
        os.set_inheritable(commands_r, True)
        os.set_inheritable(answers_w, True)

        def pipes():
            # Out of the way first: either pipe may itself be fd 3 or 4.
            commands = fcntl.fcntl(commands_r, fcntl.F_DUPFD, 10)
            answers = fcntl.fcntl(answers_w, fcntl.F_DUPFD, 10)
            os.dup2(commands, 3)
            os.dup2(answers, 4)

        browser = subprocess.Popen(
            [chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", "--remote-debugging-pipe",
             "--user-data-dir=" + os.path.join(work, "chromium"), "--window-size=1400,1400", "about:blank"],
            preexec_fn=pipes, pass_fds=(3, 4), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "chromium.txt"), "w"),
            start_new_session=True)
        os.close(commands_r)
        os.close(answers_w)
        tools = DevTools(commands_w, answers_r)

        target = tools.call("Target.createTarget", {"url": url})["targetId"]
        session = tools.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]

        # Frames counted, and one of them decoded and painted (decoding runs
        # apart from the counting).
        deadline = time.monotonic() + BOUND_S
        frames = 0
        painted = 0
        while time.monotonic() < deadline:
            frames = int(evaluate(tools, session, "Number(document.getElementById('frames')?.textContent || 0)") or 0)
            painted = int(evaluate(tools, session, "document.getElementById('view')?.width || 0") or 0)
            if frames >= FRAMES_WANTED and painted > 0:
                break
            time.sleep(0.1)
        state = evaluate(tools, session, "JSON.stringify({size: document.getElementById('size').textContent,"
                                         " width: document.getElementById('view').width,"
                                         " fps: document.getElementById('fps').textContent,"
                                         " gain: document.getElementById('gain').value,"
                                         " message: document.getElementById('message').textContent})")
        page = json.loads(state)
        shot = tools.call("Page.captureScreenshot", {"format": "png"}, session)
        screenshot = os.path.join(out_dir, "vyxcam-serve-browser.png")
        with open(screenshot, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print("screenshot: " + screenshot)
        print("page: frames %d, %s" % (frames, json.dumps(page)))
        if frames < FRAMES_WANTED:
            fail("the page counted %d frames within %d s (%s)" % (frames, BOUND_S, page["message"]))
        if page["width"] != 1280 or page["size"] != "1280 x 1024":
            fail("the picture is not at the capture size: " + json.dumps(page))
        if page["gain"] == "":
            fail("the page shows no settings")
        try:
            tools.call("Browser.close", bound_s=10)
        except SystemExit:
            pass
    finally:
        if browser is not None:
            try:
                browser.wait(timeout=30)
            except subprocess.TimeoutExpired:
                os.killpg(browser.pid, signal.SIGKILL)
                browser.wait()
        if server.poll() is None:
            # The tool itself, as a service manager would: the launcher's child.
            with open("/proc/%d/task/%d/children" % (server.pid, server.pid)) as f:
                children = f.read().split()
            os.kill(int(children[0]) if children else server.pid, signal.SIGTERM)
        try:
            status = server.wait(timeout=BOUND_S)
        except subprocess.TimeoutExpired:
            os.killpg(server.pid, signal.SIGKILL)
            fail("the server did not stop on SIGTERM")
    server_err.seek(0)
    if status != 0:
        fail("the server ended with status %d: %s" % (status, server_err.read()))
    shutil.rmtree(work, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
