"""A page from another origin talks to the service from headless Chromium:
fetch with a JSON body (so that Chromium sends a real CORS preflight) and a
WebSocket. The page writes what it got into itself and marks itself done;
Chromium is driven through its DevTools protocol (browser_page.mjs), which
waits for that mark, however slow the service (under a sanitizer, say)."""

import http.server
import json
import os
import shutil
import subprocess
import tempfile
import threading
import unittest

from harness import PLAIN_PORT, Service

PAGE = """<!doctype html>
<html><body><pre id="fetch">pending</pre><pre id="ws">pending</pre>
<script>
const settled = new Set();
function settle(id, text) {
  if (settled.has(id)) return;
  settled.add(id);
  document.getElementById(id).textContent = text;
  if (settled.size === 2) document.body.dataset.state = "done";
}
const request = "ProcessNum{1}ProcessEntity-1{FunctionType[11]}ProcessCallBackName{page}";
fetch("http://127.0.0.1:%(port)d/", {
  method: "POST",
  headers: {"Content-Type": "application/json"},
  body: JSON.stringify({ServeltData: request}),
}).then(r => r.text()).then(t => settle("fetch", "ok:" + t))
  .catch(e => settle("fetch", "error:" + e));
const ws = new WebSocket("ws://127.0.0.1:%(port)d/");
ws.onopen = () => ws.send(request.replace("page", "socket"));
ws.onmessage = m => { settle("ws", "ok:" + m.data); ws.close(); };
ws.onerror = () => settle("ws", "error");
ws.onclose = e => settle("ws", "closed before an answer: " + e.code);
</script></body></html>
"""

CHROMIUM = shutil.which("chromium")
NODE = shutil.which("node")
DRIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "browser_page.mjs")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@unittest.skipIf(CHROMIUM is None, "chromium is not installed")
@unittest.skipIf(NODE is None, "node is not installed")
class BrowserTest(unittest.TestCase):
    def test_page_from_another_origin_uses_fetch_and_websocket(self):
        service = Service(with_cert=False)
        site = tempfile.mkdtemp(prefix="zqt-site-")
        profile = tempfile.mkdtemp(prefix="zqt-chromium-")
        with open(os.path.join(site, "index.html"), "w") as f:
            f.write(PAGE % {"port": PLAIN_PORT})
        handler = lambda *a, **k: QuietHandler(*a, directory=site, **k)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            url = f"http://localhost:{server.server_address[1]}/index.html"
            out = subprocess.run([NODE, DRIVER, url, "fetch", "ws"],
                                 env={**os.environ, "CHROMIUM": CHROMIUM,
                                      "ZQT_BROWSER_PROFILE": profile},
                                 capture_output=True, timeout=180, check=False)
            detail = (out.stdout + out.stderr).decode("utf-8", "replace")[-2000:]
            self.assertEqual(out.returncode, 0, detail)
            page = json.loads(out.stdout.decode("utf-8").splitlines()[-1])
            self.assertEqual(page["fetch"],
                             "ok:FunctionType[11]FunctionRes[0]ProcessCallBackName[page]", detail)
            self.assertEqual(page["ws"],
                             "ok:FunctionType[11]FunctionRes[0]ProcessCallBackName[socket]", detail)
        finally:
            server.shutdown()
            server.server_close()
            connected = service.wait_for_stderr("connect from")
            log = service.stderr()
            self.assertEqual(service.stop(), 0)
            service.cleanup()
            shutil.rmtree(site, ignore_errors=True)
            shutil.rmtree(profile, ignore_errors=True)
        # A JSON POST from another origin is sent only after a successful
        # preflight, so the fetch's answer shows the preflight was served too.
        self.assertTrue(connected, log[-2000:])
        self.assertIn("connect from", log)


if __name__ == "__main__":
    unittest.main()
