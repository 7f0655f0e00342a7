"""Headless Chromium driven over its DevTools pipe: open a page, read what
its script has put on it, take a screenshot. Only the few DevTools calls
these tests need."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time


class Chromium:
    def __init__(self, window_size="1100,800", trusted_key=None):
        """trusted_key: the SHA-256 of a certificate's public key (base64),
        trusted as a CA the test made would be."""
        self.profile = tempfile.mkdtemp(prefix="tarvex-chromium-")
        to_browser, self._write = os.pipe()
        self._read, from_browser = os.pipe()
        # The browser reads commands on fd 3 and writes answers on fd 4.
        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--remote-debugging-pipe", f"--user-data-dir={self.profile}", f"--window-size={window_size}"]
            + ([f"--ignore-certificate-errors-spki-list={trusted_key}"] if trusted_key else []) + ["about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(3, 4), preexec_fn=lambda: (os.dup2(to_browser, 3), os.dup2(from_browser, 4)))
        os.close(to_browser)
        os.close(from_browser)
        self._next_id = 0
        self._buffer = b""
        self.session = None

    def call(self, method, session=True, **params):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self._write, json.dumps(message).encode() + b"\0")
        while True:
            answer = self._message()
            if answer.get("id") == self._next_id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]

    def _message(self):
        while b"\0" not in self._buffer:
            piece = os.read(self._read, 1 << 16)
            if not piece:
                raise RuntimeError("the browser ended")
            self._buffer += piece
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def open(self, url):
        target = self.call("Target.createTarget", session=False, url=url)["targetId"]
        self.session = self.call("Target.attachToTarget", session=False, targetId=target, flatten=True)["sessionId"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"]
        return result.get("value")

    def wait_for(self, expression, timeout=20.0):
        """The value of expression once it is truthy."""
        end = time.monotonic() + timeout
        while True:
            value = self.evaluate(expression)
            if value or time.monotonic() > end:
                return value
            time.sleep(0.1)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for fd in (self._read, self._write):
            os.close(fd)
        shutil.rmtree(self.profile, ignore_errors=True)
