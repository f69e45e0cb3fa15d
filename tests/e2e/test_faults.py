"""The service when things go wrong around it: clients that vanish half way
through a request, an answer or a handshake; a control whose every call
fails; and a kill -9 with connections open."""

import os
import re
import socket
import threading
import time
import unittest

import wire
from harness import Service
from test_stop import SANITIZED
from wire import PLAIN_PORT, TLS_PORT, VERIFY, VERIFY_ANSWER, LoadTestCase


def send_quietly(sock, data):
    try:
        sock.sendall(data)
    except OSError:
        pass


class VanishingClientTest(LoadTestCase):

    def assertServesEverywhere(self):
        self.assertEqual(wire.post_once(VERIFY), VERIFY_ANSWER)
        self.assertEqual(wire.post_once(VERIFY, TLS_PORT, self.tls), VERIFY_ANSWER)
        for port, tls in ((PLAIN_PORT, None), (TLS_PORT, self.tls)):
            ws = wire.WsConn(port, tls)
            try:
                self.assertEqual(ws.ask(VERIFY), VERIFY_ANSWER)
            finally:
                ws.close()

    def test_clients_that_vanish_half_way(self):
        request = wire.post_request(VERIFY)
        head_len = request.index(b"\r\n\r\n") + 4
        body_len = len(request) - head_len
        upgrade = wire.ws_upgrade_request()
        message = wire.ws_frame(1, VERIFY.encode())
        hello = wire.client_hello()
        # (what, port, TLS handshake first, bytes sent before vanishing)
        cases = [
            ("nothing sent", PLAIN_PORT, False, b""),
            ("head half sent", PLAIN_PORT, False, request[:head_len // 2]),
            ("body half sent", PLAIN_PORT, False, request[:head_len + body_len // 2]),
            ("answer not read", PLAIN_PORT, False, request),
            ("upgrade half sent", PLAIN_PORT, False, upgrade[:len(upgrade) // 2]),
            ("upgrade answer not read", PLAIN_PORT, False, upgrade),
            ("message half sent", PLAIN_PORT, False, upgrade + message[:len(message) // 2]),
            ("message answer not read", PLAIN_PORT, False, upgrade + message),
            ("client hello half sent", TLS_PORT, False, hello[:len(hello) // 2]),
            ("client hello, server hello not read", TLS_PORT, False, hello),
            ("handshake done, nothing sent", TLS_PORT, True, b""),
            ("TLS: head half sent", TLS_PORT, True, request[:head_len // 2]),
            ("TLS: body half sent", TLS_PORT, True, request[:head_len + body_len // 2]),
            ("TLS: answer not read", TLS_PORT, True, request),
            ("TLS: upgrade answer not read", TLS_PORT, True, upgrade),
            ("TLS: message half sent", TLS_PORT, True, upgrade + message[:len(message) // 2]),
        ]
        self.assertServesEverywhere()
        baseline = wire.settled_counts(self.pid)
        for what, port, tls_first, data in cases:
            for rst in (False, True):
                for pause in (0.0, 0.05):
                    with self.subTest(what, rst=rst, pause=pause):
                        s = wire.connect(port, self.tls if tls_first else None)
                        send_quietly(s, data)
                        time.sleep(pause)  # let the service get into the read
                        if rst:
                            wire.reset(s)
                        else:
                            s.close()
        self.assertServesEverywhere()
        self.assertBackTo(baseline)

    def test_large_answers_not_read(self):
        self.assertServesEverywhere()
        baseline = wire.settled_counts(self.pid)
        # Pings (at most 125 bytes each) come back as pongs of the same size.
        ping = wire.ws_frame(9, os.urandom(125)) * 32000
        flood = wire.post_request(VERIFY) * 20000

        def small_window(port, tls=None, upgrade=False):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.settimeout(10)
            s.connect(("127.0.0.1", port))
            if tls is not None:
                s = tls.wrap_socket(s, server_hostname="127.0.0.1")
            if upgrade:
                s.sendall(wire.ws_upgrade_request())
            return s

        def push(s, data, seconds):
            """Sends for at most `seconds`; the peer may stop reading."""
            s.settimeout(seconds)
            send_quietly(s, data)

        # Each client sends what makes a large answer and reads none of it;
        # those of the last round stay open and silent, so only the
        # service's time-outs can end them.
        clients = []
        for vanish in (wire.reset, socket.socket.close, None):
            for make, data in ((lambda: small_window(PLAIN_PORT, upgrade=True), ping),
                               (lambda: small_window(TLS_PORT, self.tls, upgrade=True), ping),
                               (lambda: small_window(PLAIN_PORT), flood)):
                clients.append((make(), data, vanish))
        pushers = [threading.Thread(target=push, args=(s, data, 1.5)) for s, data, _ in clients]
        for t in pushers:
            t.start()
        for t in pushers:
            t.join()
        silent = []
        for s, _, vanish in clients:
            if vanish is None:
                silent.append(s)
            elif vanish is wire.reset:
                wire.reset(s)
            else:
                s.close()
        silent_ports = [s.getsockname()[1] for s in silent]
        try:
            # The service still has the silent ones ...
            for port in silent_ports:
                self.assertTrue(wire.holds_connection_from(self.pid, port))
            self.assertServesEverywhere()
            # ... until its time-outs cut them, while they are still open on
            # this side. The flood's answers are written until the kernel's
            # buffers are full (about 10,000 of them), and only then does a
            # write time out: a sanitizer build needs far longer to get there.
            self.assertTrue(wire.wait_until(
                lambda: not any(wire.holds_connection_from(self.pid, p) for p in silent_ports),
                45 if SANITIZED else 15), "a client that stopped reading was never cut")
            self.assertBackTo(baseline)
        finally:
            for s in silent:
                s.close()
        self.assertServesEverywhere()


class FailingControlTest(LoadTestCase):
    """Both controls come from a module whose every invocation fails."""

    TRACE = "failing-calls.txt"  # in the service's working directory
    service_options = dict(modules="failing", extra_env={"ZQT_FAILING_TRACE": TRACE})

    # Commands by result kind, main control and enrolment control alike.
    TEXT_COMMANDS = (3, 10, 25, 32, 35, 40, 99, 104, 125, 151, 201, 303, 305, 309, 311, 313, 402)
    NUMBER_COMMANDS = (2, 5, 7, 11, 15, 31, 36, 92, 126, 203, 301, 302, 304, 307, 308, 312)
    EVERY_NUMBER = tuple(range(0, 210)) + tuple(range(300, 315)) + (401, 402, 403, 4011, 99999)
    ANSWER = re.compile(rb"(FunctionType\[(\d+)\]FunctionRes\[([^\]]*)\]"
                        rb"|FunctionRes\[-1\]FunctionNotSucessAt\[1\])ProcessCallBackName\[cb\]")

    @staticmethod
    def request(number):
        return (f"ProcessNum{{1}}ProcessEntity-1{{FunctionType[{number}]Param1[a]Param2[1]"
                f"Param3[c]}}ProcessCallBackName{{cb}}")

    def trace(self):
        try:
            with open(os.path.join(self.service.workdir, self.TRACE), encoding="ascii") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def transports(self):
        """Ask functions over HTTP and WebSocket on both ports, each on one
        kept-alive connection; and the connections, to close."""
        http = wire.Conn.open()
        https = wire.Conn.open(TLS_PORT, self.tls)
        ws = wire.WsConn()
        wss = wire.WsConn(TLS_PORT, self.tls)
        asks = {"http": http.post, "https": https.post, "ws": ws.ask, "wss": wss.ask}
        return asks, (http, https, ws, wss)

    def test_failed_calls_answer_minus_one_everywhere(self):
        asks, conns = self.transports()
        try:
            for name, ask in asks.items():
                for kind, numbers in (("text", self.TEXT_COMMANDS),
                                      ("number", self.NUMBER_COMMANDS)):
                    for n in numbers:
                        reported = 206 if n == 151 else n
                        with self.subTest(name, kind=kind, command=n):
                            before = len(self.trace())
                            self.assertEqual(ask(self.request(n)),
                                             f"FunctionType[{reported}]FunctionRes[-1]"
                                             f"ProcessCallBackName[cb]".encode())
                            # The control was made and called: it is the call
                            # that failed.
                            calls = self.trace()[before:]
                            self.assertEqual(len(calls), 1, calls)
                            control = "ulvo.certenroll" if 300 < n < 400 else "ulvo.ctrl"
                            self.assertTrue(calls[0].startswith(control + " "), calls)
        finally:
            for c in conns:
                c.close()

    def test_every_command_number_gets_a_well_formed_answer(self):
        asks, conns = self.transports()
        baseline = wire.settled_counts(self.pid)
        try:
            for name, ask in asks.items():
                for n in self.EVERY_NUMBER:
                    with self.subTest(name, command=n):
                        answer = ask(self.request(n))
                        m = self.ANSWER.fullmatch(answer)
                        self.assertIsNotNone(m, answer)
                        # Only the two list commands answer without a control.
                        if m.group(2) is not None and n not in (401, 4011):
                            self.assertEqual(m.group(3), b"-1", answer)
        finally:
            for c in conns:
                c.close()
        self.assertBackTo(baseline)

    def test_failed_step_goes_on_at_false_next(self):
        chain = ("ProcessNum{3}ProcessEntity-1{FunctionType[10]TrueNext[3]FalseNext[2]}"
                 "ProcessEntity-2{FunctionType[303]TrueNext[3]FalseNext[0]}"
                 "ProcessEntity-3{FunctionType[11]}ProcessCallBackName{cb}")
        before = len(self.trace())
        self.assertEqual(wire.post_once(chain),
                         b"FunctionType[303]FunctionRes[-1]ProcessCallBackName[cb]")
        self.assertEqual([c.split()[0] for c in self.trace()[before:]],
                         ["ulvo.ctrl", "ulvo.certenroll"])

    def test_many_failures_in_a_row(self):
        asks, conns = self.transports()
        baseline = wire.settled_counts(self.pid)
        try:
            for name, ask in asks.items():
                with self.subTest(name):
                    for i in range(300):
                        self.assertEqual(ask(self.request(10 if i % 2 else 11)),
                                         f"FunctionType[{10 if i % 2 else 11}]FunctionRes[-1]"
                                         f"ProcessCallBackName[cb]".encode())
        finally:
            for c in conns:
                c.close()
        self.assertBackTo(baseline)


class KillUnderLoadTest(unittest.TestCase):

    def test_kill_9_with_connections_open_then_restart(self):
        wire.raise_fd_limit(2048)
        first = Service()
        held = []
        try:
            self.assertTrue(wire.wait_until(lambda: wire.listens_on_both_ports(first.proc.pid),
                                            5), "the ports are held by another process")
            tls = wire.client_tls_context(first.cert_path)
            for i in range(100):
                c = wire.Conn.open(TLS_PORT, tls) if i % 10 == 0 else wire.Conn.open()
                self.assertEqual(c.post(VERIFY), VERIFY_ANSWER)
                held.append(c)
            message = wire.ws_frame(1, VERIFY.encode())
            for port, ctx in ((PLAIN_PORT, None), (TLS_PORT, tls)):
                ws = wire.WsConn(port, ctx)
                self.assertEqual(ws.ask(VERIFY), VERIFY_ANSWER)
                ws.sock.sendall(message[:len(message) // 2])  # mid-message
                held.append(ws)
            for c in held[:50]:  # and requests on the way
                c.sock.sendall(wire.post_request(VERIFY)[:40])
            first.proc.kill()
            first.proc.wait()
            first.stop()

            # The old connections stay open on this side while the new
            # instance starts: the ports and the name must be free at once.
            second = Service()
            try:
                self.assertTrue(wire.wait_until(
                    lambda: wire.listens_on_both_ports(second.proc.pid), 5))
                tls2 = wire.client_tls_context(second.cert_path)
                self.assertEqual(wire.post_once(VERIFY), VERIFY_ANSWER)
                self.assertEqual(wire.post_once(VERIFY, TLS_PORT, tls2), VERIFY_ANSWER)
                ws = wire.WsConn(TLS_PORT, tls2)
                self.assertEqual(ws.ask(VERIFY), VERIFY_ANSWER)
                ws.close()
            finally:
                self.assertEqual(second.stop(), 0)
                second.cleanup()
        finally:
            for c in held:
                c.close()
            first.cleanup()


if __name__ == "__main__":
    unittest.main()
