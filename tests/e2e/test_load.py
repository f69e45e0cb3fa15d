"""The service under load: the cap of open connections, slow clients among
fast ones, and many requests and connections with no descriptor or thread
left behind."""

import os
import select
import socket
import ssl
import threading
import time
import unittest

import wire
from wire import CAP, PLAIN_PORT, TLS_PORT, VERIFY, VERIFY_ANSWER, LoadTestCase


def refresh(conns):
    """One more answered request on every connection, sent all at once: each
    is still being served, and its idle time starts again."""
    request = wire.post_request(VERIFY)
    for c in conns:
        c.sock.sendall(request)
    for c in conns:
        status, _, body = c.read_answer()
        if status != 200 or body != VERIFY_ANSWER:
            raise wire.BadAnswer(f"{status} {body!r}")


class ConnectionCapTest(LoadTestCase):
    # Connections idle for 5 s are cut; held ones get a request at least this
    # often, however slow the build.
    REFRESH_EVERY = 1.5

    def open_held(self, count):
        """`count` open connections, every one being served: each has had an
        answer, and none has been idle for long."""
        request = wire.post_request(VERIFY)
        held = []
        refreshed = time.monotonic()
        while len(held) < count:
            batch = []
            for _ in range(min(64, count - len(held))):
                s = socket.create_connection(("127.0.0.1", PLAIN_PORT), timeout=20)
                s.sendall(request)
                batch.append(wire.Conn(s))
            for c in batch:
                self.assertEqual(c.read_answer()[2], VERIFY_ANSWER)
            held += batch
            if time.monotonic() - refreshed > self.REFRESH_EVERY:
                refreshed = time.monotonic()
                refresh(held)
        refresh(held)
        return held

    def test_cap_of_open_connections(self):
        self.assertGreaterEqual(wire.raise_fd_limit(CAP + 512), CAP + 64,
                                "too few descriptors for the test's clients")
        fds0, threads0 = wire.settled_counts(self.pid)
        request = wire.post_request(VERIFY)
        held = []
        try:
            held = self.open_held(CAP - 1)
            last = wire.Conn.open(timeout=20)  # the CAP-th connection
            self.assertEqual(last.post(VERIFY), VERIFY_ANSWER)
            held.append(last)
            # One socket per open connection; idle ones cost no thread.
            self.assertTrue(wire.wait_until(
                lambda: wire.counts(self.pid)[0] == fds0 + CAP, 3),
                f"{wire.counts(self.pid)} with {CAP} open, {(fds0, threads0)} before")
            self.assertLess(wire.counts(self.pid)[1], threads0 + 16)

            for port in (PLAIN_PORT, TLS_PORT, PLAIN_PORT):
                with self.subTest(over_the_cap=port):
                    over = socket.create_connection(("127.0.0.1", port), timeout=20)
                    over.sendall(request)
                    self.assertTrue(wire.closed_at_once(over, 2.5),
                                    "a connection past the cap was not closed at once")
                    over.close()
            # Every held connection was open all along, so the refusals were
            # the cap and not the idle cut.
            refresh(held)

            for c in held[:10]:
                c.close()
            del held[:10]

            def answered():
                try:
                    return wire.post_once(VERIFY, timeout=5) == VERIFY_ANSWER
                except (OSError, wire.BadAnswer):
                    return False
            self.assertTrue(wire.wait_until(answered, 3, step=0.1),
                            "no new client answered after connections were freed")
            self.assertEqual(wire.post_once(VERIFY, TLS_PORT, self.tls, timeout=5),
                             VERIFY_ANSWER)
        finally:
            for c in held:
                c.close()
        self.assertBackTo((fds0, threads0))


class SlowClientTest(LoadTestCase):

    def trickle(self, clients):
        """Sends each client's bytes one a second, all at once, while fast
        clients are answered on both ports. Returns, per client, how long
        after its first byte the service cut it (None: never) and what it
        received; and the fast clients' times to their answers."""
        first_byte, cut_after = {}, {}
        received = {s: b"" for s, _ in clients}
        served, failures = [], []
        stop = threading.Event()

        def fast_clients():
            n = 0
            while not stop.is_set():
                port, tls = (PLAIN_PORT, None) if n % 2 == 0 else (TLS_PORT, self.tls)
                started = time.monotonic()
                try:
                    body = wire.post_once(VERIFY, port, tls, timeout=10)
                    if body != VERIFY_ANSWER:
                        failures.append(body)
                    served.append(time.monotonic() - started)
                except (OSError, wire.BadAnswer) as e:
                    failures.append(e)
                n += 1
                stop.wait(0.25)

        helper = threading.Thread(target=fast_clients)
        helper.start()
        try:
            sent = 0
            deadline = time.monotonic() + 12
            while len(cut_after) < len(clients) and time.monotonic() < deadline:
                for s, data in clients:
                    if s in cut_after or sent >= len(data):
                        continue
                    try:
                        s.sendall(data[sent:sent + 1])
                    except OSError:
                        cut_after[s] = time.monotonic() - first_byte[s]
                        continue
                    first_byte.setdefault(s, time.monotonic())
                sent += 1
                tick = time.monotonic() + 1.0
                while time.monotonic() < tick:
                    live = [s for s, _ in clients if s not in cut_after]
                    if not live:
                        break
                    ready, _, _ = select.select(live, [], [], max(0.0, tick - time.monotonic()))
                    for s in ready:
                        try:
                            data = s.recv(4096)
                        except (OSError, ssl.SSLError):
                            data = b""
                        if data:
                            received[s] += data
                        else:
                            cut_after[s] = time.monotonic() - first_byte[s]
        finally:
            stop.set()
            helper.join()
            for s, _ in clients:
                s.close()
        self.assertEqual(failures, [])
        self.assertGreaterEqual(len(served), 8, "too few fast clients ran meanwhile")
        self.assertLess(max(served), 3.0, "fast clients waited behind the slow ones")
        return [(cut_after.get(s), received[s]) for s, _ in clients], served

    def assertCutAtFiveSeconds(self, cut_after):
        self.assertIsNotNone(cut_after, "a slow client was never cut")
        self.assertGreater(cut_after, 4.0)
        self.assertLess(cut_after, 9.0)

    def test_slow_heads_are_cut_five_seconds_after_their_first_byte(self):
        baseline = wire.settled_counts(self.pid)
        head = wire.post_request(VERIFY)
        clients = [(socket.create_connection(("127.0.0.1", PLAIN_PORT), timeout=10), head)
                   for _ in range(4)]
        clients.append((wire.connect(TLS_PORT, self.tls), head))  # the head inside TLS
        results, _ = self.trickle(clients)
        for i, (cut_after, received) in enumerate(results):
            with self.subTest(client=i):
                self.assertCutAtFiveSeconds(cut_after)
                self.assertEqual(received, b"")  # no answer to half a head
        self.assertBackTo(baseline)

    def test_slow_tls_handshake_is_cut_like_a_slow_head(self):
        # A client hello one byte a second would otherwise hold a connection,
        # and with enough of them every connection the service may have.
        baseline = wire.settled_counts(self.pid)
        hello = wire.client_hello()
        clients = [(socket.create_connection(("127.0.0.1", TLS_PORT), timeout=10), hello)
                   for _ in range(2)]
        results, _ = self.trickle(clients)
        for i, (cut_after, received) in enumerate(results):
            with self.subTest(client=i):
                self.assertCutAtFiveSeconds(cut_after)
                self.assertEqual(received, b"")
        self.assertBackTo(baseline)


class ManyRequestsTest(LoadTestCase):
    # Calls to the recording control are kept in memory; its trace file is
    # not needed here and would only slow the run.
    service_options = dict(extra_env={"ZQT_RECORDING_TRACE": ""})

    WINDOW = 200  # requests in flight per connection

    def factory_lines(self, number):
        folder = os.path.join(self.service.workdir, "ZQTCA")
        needle = f"lFunctionType = {number}.".encode()
        total = 0
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                total += f.read().count(needle)
        return total

    def _http_client(self, conn, count, gate, errors):
        try:
            request = wire.post_request(VERIFY)
            # The first answer is parsed; the others must be its exact bytes.
            conn.sock.sendall(request)
            status, _, body = conn.read_answer()
            if status != 200 or body != VERIFY_ANSWER:
                raise wire.BadAnswer(f"{status} {body!r}")
            one = conn.last_raw
            done = 1
            for phase_end in (gate.warm_up, count):
                while done < phase_end:
                    n = min(self.WINDOW, phase_end - done)
                    conn.sock.sendall(request * n)
                    if conn.recv_exact(len(one) * n) != one * n:
                        raise wire.BadAnswer("an answer differs from the first")
                    done += n
                gate.pause()
        except Exception as e:  # reported by the main thread
            errors.append(e)
            gate.abort()

    def _ws_client(self, ws, count, gate, errors):
        try:
            frame = wire.ws_frame(1, VERIFY.encode())
            if ws.ask(VERIFY) != VERIFY_ANSWER:
                raise wire.BadAnswer("wrong answer")
            one = bytes([0x81, len(VERIFY_ANSWER)]) + VERIFY_ANSWER
            done = 1
            for phase_end in (gate.warm_up, count):
                while done < phase_end:
                    n = min(self.WINDOW, phase_end - done)
                    ws.sock.sendall(frame * n)
                    if ws.recv_exact(len(one) * n) != one * n:
                        raise wire.BadAnswer("an answer frame differs")
                    done += n
                gate.pause()
        except Exception as e:
            errors.append(e)
            gate.abort()

    def test_keep_alive_requests_leave_no_descriptors_or_threads_behind(self):
        total = 100_000
        # With its folder there, the factory logs every step it makes.
        os.makedirs(os.path.join(self.service.workdir, "ZQTCA"), mode=0o700, exist_ok=True)
        conns = [wire.Conn.open(timeout=30), wire.Conn.open(timeout=30),
                 wire.Conn.open(TLS_PORT, self.tls, timeout=30)]
        ws = wire.WsConn(timeout=30)
        per_client = total // (len(conns) + 1)

        class Gate(threading.Barrier):
            """Where the clients wait, all idle, while the counts are taken."""
            warm_up = 2000

            def pause(self):
                self.wait()  # every client is here ...
                self.wait()  # ... and the counts have been taken
        gate = Gate(len(conns) + 2, timeout=240)
        errors = []
        clients = [threading.Thread(target=self._http_client, args=(c, per_client, gate, errors))
                   for c in conns]
        clients.append(threading.Thread(target=self._ws_client,
                                        args=(ws, per_client, gate, errors)))
        for t in clients:
            t.start()
        try:
            gate.wait()  # every client has done its warm-up
            warm = wire.settled_counts(self.pid, timeout=3)
            gate.wait()
            gate.wait()  # and the rest
            gate.wait()
        except threading.BrokenBarrierError:
            warm = None
        for t in clients:
            t.join()
        self.assertEqual(errors, [])
        self.assertIsNotNone(warm, "the clients never met at the warm-up point")
        self.assertBackTo(warm, timeout=3)
        # Every one of them reached the factory (the log file may lag the answers).
        expected = per_client * (len(conns) + 1)
        wire.wait_until(lambda: self.factory_lines(11) >= expected, 10)
        self.assertGreaterEqual(self.factory_lines(11), expected)
        for c in conns:
            c.close()
        ws.close()


class ManyConnectionsTest(LoadTestCase):

    def test_short_connections_leave_no_descriptors_or_threads_behind(self):
        baseline = wire.settled_counts(self.pid)
        closing = wire.post_request(VERIFY, keep_alive=False)
        # (port, TLS, WebSocket, how many)
        rounds = [(PLAIN_PORT, False, False, 2000), (PLAIN_PORT, False, True, 300),
                  (TLS_PORT, True, False, 100), (TLS_PORT, True, True, 50)]
        for port, tls, ws, count in rounds:
            with self.subTest(port=port, websocket=ws):
                for _ in range(count):
                    if ws:
                        c = wire.WsConn(port, self.tls if tls else None)
                        self.assertEqual(c.ask(VERIFY), VERIFY_ANSWER)
                    else:
                        c = wire.Conn.open(port, self.tls if tls else None)
                        c.sock.sendall(closing)
                        status, _, body = c.read_answer()
                        self.assertEqual((status, body), (200, VERIFY_ANSWER))
                        # The service ends the connection after the answer.
                        self.assertTrue(wire.closed_at_once(c.sock, 5))
                    c.close()
        self.assertBackTo(baseline)


if __name__ == "__main__":
    unittest.main()
