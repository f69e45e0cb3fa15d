"""Same user only: a connection whose socket belongs to another local user is
closed before anything is read from it, on both ports (before the TLS
handshake on 9652), with one log line naming the peer and its uid; the
service's own user is served. The other user's client is a small Python
program run under `setpriv` as nobody (65534), so this needs root."""

import json
import os
import shutil
import subprocess
import unittest

import wire
from wire import PLAIN_PORT, TLS_PORT, VERIFY, VERIFY_ANSWER, ServiceTestCase

NOBODY = 65534
PYTHON = "/usr/bin/python3"
SETPRIV = shutil.which("setpriv")

# Connects, says which local port it has, sends the bytes given in hex and
# reads until the service closes; prints what it got as JSON.
CLIENT = r"""
import json, os, socket, sys
port, payload = int(sys.argv[1]), bytes.fromhex(sys.argv[2])
s = socket.create_connection(("127.0.0.1", port), timeout=10)
got, how = b"", "closed"
try:
    s.sendall(payload)
    while True:
        data = s.recv(65536)
        if not data:
            break
        got += data
        if port == %d and got.startswith(b"\x16"):
            break  # a server hello: the handshake would go on
except ConnectionError:
    how = "reset"
except socket.timeout:
    how = "open"
print(json.dumps({"port": s.getsockname()[1], "uid": os.getuid(),
                  "got": got.hex(), "how": how}))
""" % TLS_PORT


def skip_reason():
    if os.geteuid() != 0:
        return "needs root, to run a client as another user (nobody, 65534)"
    if SETPRIV is None:
        return "setpriv (util-linux) is missing"
    if not os.access(PYTHON, os.X_OK):
        return f"{PYTHON} is missing"
    return None


def run_client(port, payload, as_nobody):
    command = [PYTHON, "-I", "-c", CLIENT, str(port), payload.hex()]
    if as_nobody:
        command = [SETPRIV, f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                   "--"] + command
    out = subprocess.run(command, cwd="/", env={"PATH": "/usr/bin:/bin"},
                         capture_output=True, text=True, timeout=30)
    if out.returncode != 0:
        raise AssertionError(f"client failed ({out.returncode}): {out.stderr}")
    return json.loads(out.stdout)


@unittest.skipIf(skip_reason() is not None, skip_reason())
class SameUserTest(ServiceTestCase):

    def refused(self, port, payload):
        calls = len(self.service.calls())
        result = run_client(port, payload, as_nobody=True)
        self.assertEqual(result["uid"], NOBODY)
        self.assertEqual(result["got"], "", "another user's client got an answer")
        self.assertIn(result["how"], ("closed", "reset"))
        line = (f"refused connection from 127.0.0.1:{result['port']} to port {port}, "
                f"uid: {NOBODY}")
        self.assertTrue(self.service.wait_for_stderr(line), self.service.stderr())
        # No callback ever saw it: no "connect from" line, nothing reached the control.
        self.assertNotIn(f"connect from 127.0.0.1|{result['port']},", self.service.stderr())
        self.assertEqual(len(self.service.calls()), calls)
        return line

    def test_another_user_is_refused_on_the_plain_port(self):
        self.refused(PLAIN_PORT, wire.post_request(VERIFY))

    def test_another_user_is_refused_before_the_tls_handshake(self):
        self.refused(TLS_PORT, wire.client_hello())

    def test_another_users_websocket_is_refused(self):
        self.refused(PLAIN_PORT, wire.ws_upgrade_request())

    def test_one_line_per_refused_connection(self):
        line = self.refused(PLAIN_PORT, b"")
        self.assertEqual(self.service.stderr().count(line), 1)

    def test_the_same_client_as_our_own_user_is_served(self):
        plain = run_client(PLAIN_PORT, wire.post_request(VERIFY, keep_alive=False),
                           as_nobody=False)
        self.assertEqual(plain["uid"], os.geteuid())
        answer = bytes.fromhex(plain["got"])
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer)
        self.assertIn(VERIFY_ANSWER, answer)
        tls = run_client(TLS_PORT, wire.client_hello(), as_nobody=False)
        self.assertTrue(bytes.fromhex(tls["got"]).startswith(b"\x16"), tls)  # a server hello
        for result in (plain, tls):
            self.assertNotIn(f"refused connection from 127.0.0.1:{result['port']} ",
                             self.service.stderr())

    def test_our_own_user_is_served_on_both_ports(self):
        tls = wire.client_tls_context(self.service.cert_path)
        self.assertEqual(wire.post_once(VERIFY), VERIFY_ANSWER)
        self.assertEqual(wire.post_once(VERIFY, TLS_PORT, tls), VERIFY_ANSWER)
        for port, context in ((PLAIN_PORT, None), (TLS_PORT, tls)):
            ws = wire.WsConn(port, context)
            try:
                self.assertEqual(ws.ask(VERIFY), VERIFY_ANSWER)
            finally:
                ws.close()


if __name__ == "__main__":
    unittest.main()
