"""Connections served from the event core, as clients meet them: a control
call that blocks holds up nobody else on either port, idle connections
cost no thread and little memory, a storm of short connections leaves
running commands alone, and the stop ends connections in every state."""

import os
import signal
import socket
import ssl
import threading
import time
import unittest

import wire
from harness import PLAIN_PORT, TLS_PORT, Service, wait_until
from test_stop import SANITIZED, TSAN, waited_exit
from wire import CAP, VERIFY, VERIFY_ANSWER

PREFLIGHT = (b"OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: https://page.example\r\n"
             b"Access-Control-Request-Method: POST\r\n\r\n")


def rss_kb(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def preflight(port, tls=None):
    s = wire.connect(port, tls, timeout=5)
    try:
        s.sendall(PREFLIGHT)
        return wire.Conn(s).read_answer()[0]
    finally:
        s.close()


def ping(port, tls=None):
    ws = wire.WsConn(port, tls, timeout=5)
    try:
        ws.sock.sendall(wire.ws_frame(9, b"still there?"))
        return ws.read_frame()
    finally:
        ws.close()


def cut_after(s):
    """Seconds until the service closes the idle socket s (None: never)."""
    started = time.monotonic()
    return time.monotonic() - started if wire.closed_at_once(s, 15) else None


def answer_into(answers, *args, **kwargs):
    """Runs post_once, its answer (or the error) appended to answers."""
    try:
        answers.append(wire.post_once(*args, **kwargs))
    except (OSError, wire.BadAnswer) as e:
        answers.append(e)


def service_options(**env):
    if TSAN:
        env["TSAN_OPTIONS"] = " ".join(filter(None, [
            os.environ.get("TSAN_OPTIONS", ""), "report_thread_leaks=0", "atexit_sleep_ms=0"]))
    return {"extra_env": env}


class BlockingCallTest(unittest.TestCase):
    """While one control call takes 20 s, the rest of the service goes on."""

    def setUp(self):
        wire.raise_fd_limit(CAP + 512)
        self.service = Service(**service_options(ZQT_RECORDING_DELAY_MS="20000"))
        self.addCleanup(self.service.cleanup)
        self.addCleanup(self.service.stop)
        self.tls = wire.client_tls_context(self.service.cert_path)

    def test_everything_but_commands_goes_on_while_a_call_blocks(self):
        answers = []
        call = threading.Thread(target=answer_into, args=(answers, VERIFY), kwargs={"timeout": 60})
        call.start()
        self.addCleanup(call.join, 60)
        self.assertTrue(wait_until(lambda: len(self.service.calls()) == 1, 10))
        began = time.monotonic()
        # A second command waits for the first, on a thread of its own.
        queued = threading.Thread(target=answer_into, args=(answers, VERIFY, TLS_PORT, self.tls),
                                  kwargs={"timeout": 60})
        queued.start()
        self.addCleanup(queued.join, 60)

        idle = [wire.connect(PLAIN_PORT), wire.connect(TLS_PORT, self.tls)]
        for port, tls in ((PLAIN_PORT, None), (TLS_PORT, self.tls)):
            with self.subTest(port=port):
                for _ in range(3):
                    self.assertEqual(preflight(port, tls), 200)
                    fin, opcode, payload = ping(port, tls)
                    self.assertEqual((fin, opcode, payload), (True, 10, b"still there?"))
                # A new TLS handshake completes.
                s = wire.connect(port, tls, timeout=5)
                s.close()
        for s in idle:
            waited = cut_after(s)
            self.assertIsNotNone(waited, "an idle connection was not timed out")
            s.close()
        # All of it while the call was still running.
        self.assertLess(time.monotonic() - began, 15)
        self.assertTrue(call.is_alive())
        self.assertEqual(answers, [])
        self.assertEqual(len(self.service.calls()), 1)


class IdleConnectionsTest(wire.LoadTestCase):

    def test_idle_connections_cost_no_thread_and_little_memory(self):
        self.assertGreaterEqual(wire.raise_fd_limit(CAP + 512), CAP + 64)
        fds0, threads0 = wire.settled_counts(self.pid)
        rss0 = rss_kb(self.pid)
        idle = []
        try:
            # Each one served once, so that it holds what a used connection
            # holds, and then left idle (within the 5 s cut).
            request = wire.post_request(VERIFY)
            for start in range(0, CAP - 1, 128):
                batch = [wire.Conn.open(timeout=20) for _ in range(min(128, CAP - 1 - start))]
                for c in batch:
                    c.sock.sendall(request)
                for c in batch:
                    self.assertEqual(c.read_answer()[2], VERIFY_ANSWER)
                idle += batch
            last = wire.Conn.open(timeout=20)
            self.assertEqual(last.post(VERIFY), VERIFY_ANSWER)
            idle.append(last)
            fds, threads = wire.counts(self.pid)
            self.assertEqual(fds, fds0 + CAP)
            self.assertLess(threads, threads0 + 16)
            if not SANITIZED:
                per_connection = (rss_kb(self.pid) - rss0) / CAP
                self.assertLessEqual(per_connection, 16, f"{per_connection:.1f} KB each")
                self.assertLessEqual(rss0, 8 * 1024, f"idle RSS {rss0} KB")
        finally:
            for c in idle:
                c.close()
        self.assertBackTo((fds0, threads0))


class StormTest(wire.LoadTestCase):

    def test_a_storm_of_short_connections_leaves_running_commands_alone(self):
        fds0, threads0 = wire.settled_counts(self.pid)
        stop = threading.Event()
        errors = []
        done = [0]

        def commands(port, tls):
            try:
                c = wire.Conn.open(port, tls, timeout=20)
                while not stop.is_set():
                    if c.post(VERIFY) != VERIFY_ANSWER:
                        errors.append("wrong answer")
                    done[0] += 1
                c.close()
            except Exception as e:  # reported below
                errors.append(repr(e))

        def storm(port, tls, kind):
            hello = wire.client_hello()
            for i in range(150):
                try:
                    s = socket.create_connection(("127.0.0.1", port), timeout=20)
                    if kind == "reset":
                        wire.reset(s)
                        continue
                    if kind == "half head":
                        s.sendall(b"POST / HTTP/1.1\r\nContent-")
                    elif kind == "hello":
                        s.sendall(hello[: 1 + i % len(hello)])
                    elif kind == "tls" and tls is not None:
                        s = tls.wrap_socket(s, server_hostname="127.0.0.1")
                    s.close()
                except (OSError, ssl.SSLError):
                    pass

        workers = [threading.Thread(target=commands, args=(PLAIN_PORT, None)),
                   threading.Thread(target=commands, args=(TLS_PORT, self.tls))]
        storms = [threading.Thread(target=storm, args=(port, self.tls, kind))
                  for port, kind in ((PLAIN_PORT, "reset"), (PLAIN_PORT, "half head"),
                                     (TLS_PORT, "hello"), (TLS_PORT, "tls"))]
        for t in workers + storms:
            t.start()
        for t in storms:
            t.join(120)
        stop.set()
        for t in workers:
            t.join(60)
        self.assertEqual(errors, [])
        self.assertGreater(done[0], 0)
        self.assertEqual(wire.post_once(VERIFY), VERIFY_ANSWER)
        self.assertBackTo((fds0, threads0), timeout=15)


class StopTest(unittest.TestCase):
    """SIGTERM with connections in every state: each one ends, none is
    answered after the stop, and the process exits in order."""

    def test_the_stop_ends_connections_in_every_state(self):
        service = Service(**service_options(ZQT_RECORDING_DELAY_MS="2000"))
        self.addCleanup(service.cleanup)
        self.addCleanup(service.stop)
        tls = wire.client_tls_context(service.cert_path)
        states = {
            "fresh": wire.connect(PLAIN_PORT),
            "idle after a request": wire.Conn.open().sock,
            "idle over TLS": wire.connect(TLS_PORT, tls),
            "half a head": wire.connect(PLAIN_PORT),
            "half a handshake": wire.connect(TLS_PORT),
            "WebSocket": wire.WsConn(PLAIN_PORT).sock,
            "running a command": wire.connect(PLAIN_PORT),
            "waiting for the lock": wire.connect(PLAIN_PORT),
        }
        idle = wire.Conn(states["idle after a request"])
        self.assertEqual(idle.post(VERIFY), VERIFY_ANSWER)
        states["half a head"].sendall(b"POST / HTTP/1.1\r\nHost: 1")
        states["half a handshake"].sendall(wire.client_hello()[:20])
        states["running a command"].sendall(wire.post_request(VERIFY))
        self.assertTrue(wait_until(lambda: len(service.calls()) == 2, 10))
        states["waiting for the lock"].sendall(wire.post_request(VERIFY))
        time.sleep(0.3)
        service.proc.send_signal(signal.SIGTERM)
        rc, took = waited_exit(service.proc, 10)
        self.assertEqual(rc, 0)
        self.assertLess(took, 5.5)
        for name, s in states.items():
            with self.subTest(state=name):
                s.settimeout(5)
                try:
                    rest = s.recv(65536)
                except (ConnectionError, ssl.SSLError):
                    rest = b""
                if name == "running a command":
                    # Cut off, or answered if the call ended first: never
                    # anything else.
                    self.assertIn(rest[:12], (b"", b"HTTP/1.1 200"))
                else:
                    self.assertEqual(rest, b"")
                s.close()
        # The queued request never reached the control.
        self.assertEqual(len(service.calls()), 2)


if __name__ == "__main__":
    unittest.main()
