"""A page from another origin talks to the service from headless Chromium:
fetch with a JSON body (so that Chromium sends a real CORS preflight) and a
WebSocket. The page writes what it got into itself; the test reads the DOM."""

import http.server
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
const request = "ProcessNum{1}ProcessEntity-1{FunctionType[11]}ProcessCallBackName{page}";
fetch("http://127.0.0.1:%(port)d/", {
  method: "POST",
  headers: {"Content-Type": "application/json"},
  body: JSON.stringify({ServeltData: request}),
}).then(r => r.text()).then(t => { document.getElementById("fetch").textContent = "ok:" + t; })
  .catch(e => { document.getElementById("fetch").textContent = "error:" + e; });
const ws = new WebSocket("ws://127.0.0.1:%(port)d/");
ws.onopen = () => ws.send(request.replace("page", "socket"));
ws.onmessage = m => { document.getElementById("ws").textContent = "ok:" + m.data; ws.close(); };
ws.onerror = () => { document.getElementById("ws").textContent = "error"; };
</script></body></html>
"""

CHROMIUM = shutil.which("chromium")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@unittest.skipIf(CHROMIUM is None, "chromium is not installed")
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
            out = subprocess.run(
                [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}", "--virtual-time-budget=10000",
                 "--dump-dom", url],
                capture_output=True, timeout=120, check=False)
            dom = out.stdout.decode("utf-8", "replace")
            self.assertIn("ok:FunctionType[11]FunctionRes[0]ProcessCallBackName[page]", dom,
                          out.stderr.decode("utf-8", "replace")[-2000:])
            self.assertIn("ok:FunctionType[11]FunctionRes[0]ProcessCallBackName[socket]", dom)
        finally:
            server.shutdown()
            server.server_close()
            log = service.stderr()
            self.assertEqual(service.stop(), 0)
            service.cleanup()
            shutil.rmtree(site, ignore_errors=True)
            shutil.rmtree(profile, ignore_errors=True)
        # A JSON POST from another origin is sent only after a successful
        # preflight, so the fetch's answer shows the preflight was served too.
        self.assertIn("connect from", log)


if __name__ == "__main__":
    unittest.main()
