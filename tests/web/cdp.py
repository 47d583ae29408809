"""A headless Chromium driven over the DevTools protocol through a pipe (no sockets, no libraries),
for the browser tests that act as a player: real keys, window shapes, screenshots, a hidden tab, a
reload."""
import base64
import json
import os
import select
import subprocess
import tempfile
import time


class Browser:
    def __init__(self, profile, prefs=None, size=(1000, 657)):
        if prefs is not None:
            os.makedirs(os.path.join(profile, "Default"), exist_ok=True)
            with open(os.path.join(profile, "Default", "Preferences"), "w") as f:
                json.dump(prefs, f)
        to_browser_r, self._to_browser = os.pipe()
        self._from_browser, from_browser_w = os.pipe()

        def descriptors():
            # The browser reads commands on its descriptor 3 and answers on 4; copied aside
            # first, so that neither end lands on the other's number.
            r, w = os.dup(to_browser_r), os.dup(from_browser_w)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--autoplay-policy=no-user-gesture-required", "--remote-debugging-pipe",
             f"--window-size={size[0]},{size[1]}", f"--user-data-dir={profile}", "about:blank"],
            close_fds=False, preexec_fn=descriptors, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env={**os.environ, "TMPDIR": profile})
        os.close(to_browser_r)
        os.close(from_browser_w)
        self._next = 0
        self._buffer = b""
        self.events = []
        self.session = None

    def close(self):
        try:
            self.send("Browser.close", session=False)
        except (OSError, RuntimeError, TimeoutError):
            pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._to_browser)
        os.close(self._from_browser)

    def _read_message(self, timeout):
        end = time.monotonic() + timeout
        while b"\0" not in self._buffer:
            left = end - time.monotonic()
            if left <= 0 or not select.select([self._from_browser], [], [], left)[0]:
                raise TimeoutError("the browser did not answer")
            chunk = os.read(self._from_browser, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=True, timeout=60):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        while True:
            answer = self._read_message(timeout)
            if answer.get("id") == self._next:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error'].get('message')}")
                return answer.get("result", {})
            self.events.append(answer)

    def open(self, url):
        """A new tab at url, which the commands then go to."""
        target = self.send("Target.createTarget", {"url": url}, session=False)["targetId"]
        self.target = target
        self.session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True},
                                 session=False)["sessionId"]
        return target

    def evaluate(self, expression, timeout=60):
        result = self.send("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, timeout=timeout)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails'].get('exception', {}).get('description')}")
        return result.get("result", {}).get("value")

    def wait_for(self, expression, timeout=60):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                value = self.evaluate(expression)
            except RuntimeError:
                value = None  # the page is not there yet
            if value:
                return value
            time.sleep(0.05)
        raise TimeoutError(f"never true: {expression}")

    def key(self, code, key, vk, alt=False):
        """A key pressed and let go, as the keyboard sends it."""
        for kind in ("rawKeyDown", "keyUp"):
            self.send("Input.dispatchKeyEvent", {
                "type": kind, "code": code, "key": key, "windowsVirtualKeyCode": vk,
                "modifiers": 1 if alt else 0})

    def hold(self, code, key, vk, seconds):
        """A key held down for a while, as a player holds it."""
        self.send("Input.dispatchKeyEvent", {"type": "rawKeyDown", "code": code, "key": key,
                                             "windowsVirtualKeyCode": vk})
        time.sleep(seconds)
        self.send("Input.dispatchKeyEvent", {"type": "keyUp", "code": code, "key": key,
                                             "windowsVirtualKeyCode": vk})

    def click(self, selector):
        """A click of the mouse in the middle of the element."""
        x, y = self.evaluate(
            f"(() => {{ const r = document.querySelector({json.dumps(selector)})"
            ".getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()")
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left",
                                                   "clickCount": 1})

    def hide(self, seconds):
        """The tab hidden behind another for a while, then shown again."""
        other = self.send("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
        self.send("Target.activateTarget", {"targetId": other}, session=False)
        time.sleep(seconds)
        self.send("Target.activateTarget", {"targetId": self.target}, session=False)
        self.send("Target.closeTarget", {"targetId": other}, session=False)

    def viewport(self, width, height):
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})


def temporary_profile(parent):
    return tempfile.mkdtemp(prefix="profile-", dir=parent)
