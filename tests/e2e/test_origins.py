"""The page's origin against a live service: what the controls are told
before each request (the recording double writes every
zqt_control_set_caller to a trace of its own), the origin policy in
$XDG_CONFIG_HOME/zqtca/origins.conf (allow, deny, no file, a broken file,
a change), the audit line on standard error, and Chromium pages from an
allowed and a denied origin."""

import http.server
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import unittest

import test_browser
import wire
from harness import PLAIN_PORT, TLS_PORT, Service, ServiceTestCase, wait_until

SIGN = "ProcessNum{1}ProcessEntity-1{FunctionType[10]Param1[a]Param2[b]}ProcessCallBackName{s}"
TWO = ("ProcessNum{2}ProcessEntity-1{FunctionType[11]Param1[x]TrueNext[2]}"
       "ProcessEntity-2{FunctionType[301]}ProcessCallBackName{t}")
BANK = "https://bank.example"
EVIL = "https://evil.example"


def curl(*args, origin=None, cacert=None):
    """(status, body) of one curl request."""
    cmd = ["curl", "-s", "--max-time", "20", "-o", "-", "-w", "\n%{http_code}"]
    if origin is not None:
        cmd += ["-H", f"Origin: {origin}"]
    if cacert:
        cmd += ["--cacert", cacert]
    out = subprocess.run(cmd + list(args), capture_output=True, check=False).stdout
    body, _, status = out.rpartition(b"\n")
    return int(status or b"0"), body


def post(text, origin=None, scheme="http", port=PLAIN_PORT, cacert=None):
    return curl("--data-binary", json.dumps({"ServeltData": text}),
                f"{scheme}://127.0.0.1:{port}/", origin=origin, cacert=cacert)


def ws_handshake(origin=None, port=PLAIN_PORT, tls_context=None):
    """A socket after the handshake, and the status the service answered."""
    s = wire.connect(port, tls_context)
    request = wire.ws_upgrade_request()
    if origin is not None:
        request = request.replace(b"\r\n\r\n", f"\r\nOrigin: {origin}\r\n\r\n".encode())
    s.sendall(request)
    head = b""
    while b"\r\n\r\n" not in head:
        data = s.recv(1)
        if not data:
            break
        head += data
    return s, int(head.split(b" ", 2)[1]) if head else 0


def ws_ask(s, text):
    conn = wire.WsConn.__new__(wire.WsConn)  # the frame reader, on our socket
    conn.sock, conn.buf = s, b""
    return conn.ask(text)


class OriginTestCase(ServiceTestCase):
    """One service whose configuration home is a scratch folder."""

    @classmethod
    def setUpClass(cls):
        cls.config = tempfile.mkdtemp(prefix="zqt-config-")
        cls.policy_path = os.path.join(cls.config, "zqtca", "origins.conf")
        os.makedirs(os.path.dirname(cls.policy_path))
        cls.callers_path = os.path.join(cls.config, "callers.txt")
        cls.service_options = dict(extra_env={"XDG_CONFIG_HOME": cls.config,
                                              "ZQT_RECORDING_CALLER_TRACE": cls.callers_path})
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.config, ignore_errors=True)

    def tearDown(self):
        if os.path.exists(self.policy_path):
            os.remove(self.policy_path)

    def write_policy(self, text):
        with open(self.policy_path, "w", encoding="utf-8") as f:
            f.write(text)

    def callers(self):
        try:
            with open(self.callers_path, encoding="ascii") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def audit_lines(self):
        return [line for line in self.service.stderr().splitlines() if line.startswith("audit ")]


class CallerTest(OriginTestCase):
    def told(self, origin):
        """What both controls are told for one request from origin."""
        return [f"ulvo.ctrl CALLER {origin}", f"ulvo.certenroll CALLER {origin}"]

    def test_post_and_get_tell_the_controls_the_origin(self):
        for method in ("POST", "GET"):
            for origin in (BANK, None):
                with self.subTest(method=method, origin=origin):
                    before = len(self.callers())
                    if method == "POST":
                        status, _ = post(SIGN, origin=origin)
                    else:
                        status, _ = curl(f"http://127.0.0.1:{PLAIN_PORT}/", origin=origin)
                    self.assertEqual(status, 200)
                    self.assertEqual(self.callers()[before:], self.told(origin or ""))

    def test_every_websocket_message_runs_for_the_handshake_origin(self):
        for origin in (BANK, None):
            with self.subTest(origin=origin):
                before = len(self.callers())
                s, status = ws_handshake(origin)
                try:
                    self.assertEqual(status, 101)
                    for _ in range(2):
                        self.assertIn(b"ProcessCallBackName[s]", ws_ask(s, SIGN))
                finally:
                    s.close()
                self.assertEqual(self.callers()[before:], self.told(origin or "") * 2)

    def test_the_caller_is_told_before_the_commands_run(self):
        before = len(self.service.calls())
        callers_before = len(self.callers())
        post(SIGN, origin=BANK)
        self.assertEqual(len(self.service.calls()) - before, 1)
        self.assertEqual(len(self.callers()) - callers_before, 2)


class AuditTest(OriginTestCase):
    def wait_audit(self, count):
        self.assertTrue(wait_until(lambda: len(self.audit_lines()) >= count, 10),
                        self.service.stderr()[-2000:])
        return self.audit_lines()[count - 1]

    def test_one_line_per_request_text_on_every_transport(self):
        n = len(self.audit_lines())
        post(TWO, origin=BANK)
        line = self.wait_audit(n + 1)
        self.assertRegex(line, r"^audit time=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4} "
                               r'origin="https://bank\.example" transport=http '
                               r"functions=11,301 chain=ok$")
        post(SIGN, scheme="https", port=TLS_PORT, cacert=self.service.cert_path)
        self.assertRegex(self.wait_audit(n + 2),
                         r'origin="" transport=https functions=10 chain=failed$')
        s, status = ws_handshake(EVIL)
        with s:
            self.assertEqual(status, 101)
            ws_ask(s, "ProcessNum{0}")
        self.assertRegex(self.wait_audit(n + 3),
                         r'origin="https://evil\.example" transport=ws functions=- chain=failed$')
        ctx = ssl.create_default_context(cafile=self.service.cert_path)
        s, status = ws_handshake(BANK, port=TLS_PORT, tls_context=ctx)
        with s:
            self.assertEqual(status, 101)
            ws_ask(s, SIGN)
        self.assertRegex(self.wait_audit(n + 4), r"transport=wss functions=10 chain=failed$")

    def test_never_a_parameter_or_a_result(self):
        secret = "Param-Secret-4711"
        post(f"ProcessNum{{1}}ProcessEntity-1{{FunctionType[10]Param1[{secret}]}}", origin=BANK)
        self.assertTrue(wait_until(lambda: len(self.audit_lines()) > 0, 10))
        self.assertNotIn(secret, "\n".join(self.audit_lines()))

    def test_a_page_cannot_write_a_line_of_its_own(self):
        s = socket.create_connection(("127.0.0.1", PLAIN_PORT), timeout=10)
        with s:
            s.sendall(wire.post_request("ProcessNum{0}", keep_alive=False).replace(
                b"\r\n\r\n", b"\r\nOrigin: x\" \\\xe7 audit forged\r\n\r\n", 1))
            while s.recv(65536):
                pass
        self.assertTrue(wait_until(lambda: any('origin="x\\x22 \\x5c\\xe7 audit forged"' in line
                                               for line in self.audit_lines()), 10),
                        self.service.stderr()[-2000:])
        self.assertFalse(any(line.startswith("audit forged") for line in
                             self.service.stderr().splitlines()))


class PolicyTest(OriginTestCase):
    def refused_everywhere(self, origin):
        """Asserts 403 on POST, GET, the preflight and the WebSocket handshake,
        with nothing run."""
        calls, callers = len(self.service.calls()), len(self.callers())
        refusals = self.refusals(origin)
        self.assertEqual(post(SIGN, origin=origin)[0], 403)
        self.assertEqual(curl(f"http://127.0.0.1:{PLAIN_PORT}/", origin=origin)[0], 403)
        self.assertEqual(curl("-X", "OPTIONS", "-H", "Access-Control-Request-Method: POST",
                              f"http://127.0.0.1:{PLAIN_PORT}/", origin=origin)[0], 403)
        self.assertEqual(post(SIGN, origin=origin, scheme="https", port=TLS_PORT,
                              cacert=self.service.cert_path)[0], 403)
        s, status = ws_handshake(origin)
        s.close()
        self.assertEqual(status, 403)
        self.assertEqual(len(self.service.calls()), calls)
        self.assertEqual(len(self.callers()), callers)
        # Each refusal is on record, with the transport it came by.
        self.assertTrue(wait_until(lambda: len(self.refusals(origin)) == len(refusals) + 5, 10),
                        self.audit_lines()[-6:])
        self.assertEqual(sorted(re.search(r"transport=(\w+)", line)[1]
                                for line in self.refusals(origin)[len(refusals):]),
                         ["http", "http", "http", "https", "ws"])

    def refusals(self, origin):
        return [line for line in self.audit_lines()
                if f'origin="{origin}"' in line and line.endswith(" functions=- chain=refused")]

    def served(self, origin):
        status, body = post(SIGN, origin=origin)
        return status == 200 and body.endswith(b"ProcessCallBackName[s]")

    def test_without_a_file_every_origin_is_served(self):
        self.assertTrue(self.served(EVIL))
        self.assertTrue(self.served(None))

    def test_allow_and_deny_lines(self):
        self.write_policy("# banks only\nallow https://bank.example\nallow https://*.shop.example\n")
        self.assertTrue(self.served(BANK))
        self.assertTrue(self.served("https://a.b.shop.example"))
        self.assertTrue(self.served(None))  # curl and other local tools
        self.refused_everywhere(EVIL)
        self.refused_everywhere("https://shop.example")
        self.write_policy("deny https://evil.example\n")
        self.assertTrue(self.served("https://other.example"))
        self.refused_everywhere(EVIL)
        self.write_policy("deny none\n")
        self.assertEqual(post(SIGN)[0], 403)
        self.assertTrue(self.served(BANK))

    def test_a_broken_file_refuses_everything_until_fixed(self):
        self.write_policy("allow https://bank.example\nallow bank.example\n")
        self.refused_everywhere(BANK)
        self.assertEqual(post(SIGN)[0], 403)
        self.assertTrue(self.service.wait_for_stderr(f"{self.policy_path}:2:"),
                        self.service.stderr()[-2000:])
        # Rewritten in place: the same file, another size and time.
        self.write_policy("allow https://bank.example\n")
        self.assertTrue(self.served(BANK))
        self.refused_everywhere(EVIL)

    def test_a_removed_file_serves_everyone_again(self):
        self.write_policy("deny *\n")
        self.refused_everywhere(BANK)
        os.remove(self.policy_path)
        self.assertTrue(self.served(BANK))


@unittest.skipIf(test_browser.CHROMIUM is None, "chromium is not installed")
@unittest.skipIf(test_browser.NODE is None, "node is not installed")
class BrowserOriginTest(unittest.TestCase):
    """The same page from two origins of one local server: 127.0.0.1 is
    allowed, localhost is not."""

    def test_a_denied_page_fails_where_an_allowed_one_works(self):
        config = tempfile.mkdtemp(prefix="zqt-config-")
        site = tempfile.mkdtemp(prefix="zqt-site-")
        profile = tempfile.mkdtemp(prefix="zqt-chromium-")
        with open(os.path.join(site, "index.html"), "w") as f:
            f.write(test_browser.PAGE % {"port": PLAIN_PORT})
        handler = lambda *a, **k: test_browser.QuietHandler(*a, directory=site, **k)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        port = server.server_address[1]
        os.makedirs(os.path.join(config, "zqtca"))
        with open(os.path.join(config, "zqtca", "origins.conf"), "w") as f:
            f.write(f"allow http://127.0.0.1:{port}\n")
        service = Service(with_cert=False, extra_env={"XDG_CONFIG_HOME": config})
        try:
            pages = {}
            for host in ("127.0.0.1", "localhost"):
                out = subprocess.run([test_browser.NODE, test_browser.DRIVER,
                                      f"http://{host}:{port}/index.html", "fetch", "ws"],
                                     env={**os.environ, "CHROMIUM": test_browser.CHROMIUM,
                                          "ZQT_BROWSER_PROFILE": profile},
                                     capture_output=True, timeout=180, check=False)
                detail = (out.stdout + out.stderr).decode("utf-8", "replace")[-2000:]
                if out.returncode == 3:  # the driver found no puppeteer-core
                    self.skipTest(detail)
                self.assertEqual(out.returncode, 0, detail)
                pages[host] = json.loads(out.stdout.decode("utf-8").splitlines()[-1])
            allowed, denied = pages["127.0.0.1"], pages["localhost"]
            self.assertEqual(allowed["fetch"],
                             "ok:FunctionType[11]FunctionRes[0]ProcessCallBackName[page]")
            self.assertEqual(allowed["ws"],
                             "ok:FunctionType[11]FunctionRes[0]ProcessCallBackName[socket]")
            self.assertTrue(denied["fetch"].startswith("error:"), denied)
            self.assertFalse(denied["ws"].startswith("ok:"), denied)
            audit = [line for line in service.stderr().splitlines() if line.startswith("audit ")]
            # Nothing ran for the denied page: its preflight and its handshake
            # were refused, and its POST was never sent.
            denied_lines = [line for line in audit if "localhost" in line]
            self.assertEqual(sorted(line.split(" transport=")[1] for line in denied_lines),
                             ["http functions=- chain=refused", "ws functions=- chain=refused"],
                             audit)
            self.assertTrue(any(f'origin="http://127.0.0.1:{port}"' in line for line in audit),
                            audit)
        finally:
            server.shutdown()
            server.server_close()
            self.assertEqual(service.stop(), 0)
            service.cleanup()
            for folder in (config, site, profile):
                shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
