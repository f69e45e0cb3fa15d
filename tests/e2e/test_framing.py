"""Malformed HTTP framing and long WebSocket control frames, as raw bytes on
both ports. A request that cannot be framed must never run and never be
answered 200; a body that stops short is never answered at all."""

import json
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import unittest

from harness import ServiceTestCase
from wire import (PLAIN_PORT, TLS_PORT, VERIFY, Conn, WsConn, client_tls_context, connect,
                  ws_frame)

BODY = json.dumps({"ServeltData": VERIFY}).encode()


def post_head(*headers):
    return ("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + "".join(h + "\r\n" for h in headers)
            + "\r\n").encode("latin-1")


def chunked(*pieces):
    return post_head("Transfer-Encoding: chunked") + b"".join(pieces)


def chunked_closing(*pieces):
    return post_head("Transfer-Encoding: chunked", "Connection: close") + b"".join(pieces)


# (name, bytes sent). Each must end the connection without an answer and
# without running anything.
UNFRAMED = [
    ("http_0_9_request_line", b"GET /\r\n\r\n"),
    ("unknown_version", b"POST / HTTP/2.0\r\nContent-Length: %d\r\n\r\n" % len(BODY) + BODY),
    ("version_1_2", b"POST / HTTP/1.2\r\nContent-Length: %d\r\n\r\n" % len(BODY) + BODY),
    ("space_before_colon", post_head("Content-Length : %d" % len(BODY)) + BODY),
    ("space_in_header_name", post_head("Content Length: %d" % len(BODY)) + BODY),
    ("header_without_colon", post_head("NoColonHere", "Content-Length: %d" % len(BODY)) + BODY),
    ("nul_in_header_value", post_head("X-A: a\0b", "Content-Length: %d" % len(BODY)) + BODY),
    ("over_long_header", post_head("X-Long: " + "a" * 70000, "Content-Length: 2") + b"{}"),
    ("conflicting_lengths",
     post_head("Content-Length: %d" % len(BODY), "Content-Length: 3") + BODY),
    ("length_not_a_number", post_head("Content-Length: 12abc") + BODY),
    ("negative_length", post_head("Content-Length: -5") + BODY),
    ("length_and_chunked", post_head("Content-Length: 5", "Transfer-Encoding: chunked")
     + b"%x\r\n" % len(BODY) + BODY + b"\r\n0\r\n\r\n"),
    ("gzip_coding", post_head("Transfer-Encoding: gzip") + BODY),
    ("gzip_then_chunked", post_head("Transfer-Encoding: gzip, chunked")
     + b"%x\r\n" % len(BODY) + BODY + b"\r\n0\r\n\r\n"),
    ("chunk_size_not_hex", chunked(b"zz\r\n", BODY, b"\r\n0\r\n\r\n")),
    ("negative_chunk_size", chunked(b"-5\r\n", BODY, b"\r\n0\r\n\r\n")),
    ("overflowing_chunk_size", chunked(b"fffffffffffffffffff\r\n", BODY, b"\r\n0\r\n\r\n")),
    ("chunk_without_crlf", chunked(b"%x\r\n" % len(BODY), BODY, b"XX0\r\n\r\n")),
    ("chunk_with_lf_only", chunked(b"%x\r\n" % len(BODY), BODY, b"\n0\r\n\r\n")),
    ("body_cut_short_then_peer_gone",
     post_head("Content-Length: %d" % (len(BODY) + 50)) + BODY),
    ("chunked_body_cut_short_then_peer_gone", chunked(b"%x\r\n" % len(BODY), BODY[:10])),
]


def exchange(port, data, half_close=True, timeout=10.0):
    """Sends data, optionally half-closes, and returns all bytes the service
    sent before it closed."""
    context = client_tls_context(None) if port == TLS_PORT else None
    if context is not None:
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
    s = connect(port, context, timeout)
    try:
        try:
            s.sendall(data)
        except (ConnectionError, ssl.SSLError):
            pass  # it may close while the rest is still on its way
        if half_close:
            try:
                if isinstance(s, ssl.SSLSocket):
                    s.unwrap()  # close_notify: TLS's way of saying "no more"
                else:
                    s.shutdown(socket.SHUT_WR)
            except (OSError, ssl.SSLError, ValueError):
                pass
        return read_until_closed(s)
    finally:
        s.close()


def read_until_closed(s):
    chunks = []
    while True:
        try:
            data = s.recv(65536)
        except (ConnectionError, ssl.SSLError, OSError):
            break
        if not data:
            break
        chunks.append(data)
    return b"".join(chunks)


class FramingTest(ServiceTestCase):

    def calls_now(self):
        return len(self.service.calls())

    def test_unframed_requests_never_run_and_are_not_answered(self):
        for port in (PLAIN_PORT, TLS_PORT):
            for name, data in UNFRAMED:
                with self.subTest(port=port, case=name):
                    before = self.calls_now()
                    answer = exchange(port, data)
                    self.assertEqual(answer, b"", f"answered: {answer[:80]!r}")
                    self.assertEqual(self.calls_now(), before, "the request ran")

    def test_well_framed_requests_still_run(self):
        good = [
            ("length", post_head("Content-Length: %d" % len(BODY), "Connection: close") + BODY),
            ("chunked", chunked_closing(b"%x\r\n" % 10, BODY[:10], b"\r\n",
                                b"%x;ext=1\r\n" % (len(BODY) - 10), BODY[10:], b"\r\n0\r\n\r\n")),
            ("chunked_with_trailer", chunked_closing(b"%x\r\n" % len(BODY), BODY,
                                             b"\r\n0\r\nX-T: 1\r\n\r\n")),
        ]
        for port in (PLAIN_PORT, TLS_PORT):
            for name, data in good:
                with self.subTest(port=port, case=name):
                    before = self.calls_now()
                    # TLS has no half-close: the request says Connection: close.
                    answer = exchange(port, data, half_close=port == PLAIN_PORT)
                    self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:80])
                    self.assertIn(b"FunctionRes[0]", answer)
                    self.assertEqual(self.calls_now(), before + 1)

    def test_a_body_that_times_out_is_not_answered(self):
        before = self.calls_now()
        started = time.monotonic()
        # No half-close: the service has to give up on its own.
        answer = exchange(PLAIN_PORT, post_head("Content-Length: %d" % (len(BODY) + 9)) + BODY,
                          half_close=False, timeout=20.0)
        self.assertEqual(answer, b"")
        self.assertGreater(time.monotonic() - started, 4.0)
        self.assertEqual(self.calls_now(), before)

    def test_a_body_over_the_limit_is_answered_then_closed(self):
        for port in (PLAIN_PORT, TLS_PORT):
            for coding in ("length", "chunked"):
                with self.subTest(port=port, coding=coding):
                    before = self.calls_now()
                    if coding == "length":
                        data = post_head("Content-Length: 2000000") + b"x" * 1100000
                    else:
                        data = chunked(b"%x\r\n" % 1100000, b"x" * 1100000, b"\r\n")
                    answer = exchange(port, data, half_close=False, timeout=20.0)
                    head, _, body = answer.partition(b"\r\n\r\n")
                    self.assertTrue(head.startswith(b"HTTP/1.1 200"), head[:80])
                    self.assertIn(b"connection: close", head.lower())
                    self.assertIn(b"FunctionRes[-1]", body)
                    self.assertEqual(self.calls_now(), before)


class LongControlFrameTest(ServiceTestCase):

    def test_pings_of_any_length_get_one_pong_with_their_payload(self):
        context = client_tls_context(self.service.cert_path)
        for port, tls in ((PLAIN_PORT, None), (TLS_PORT, context)):
            ws = WsConn(port, tls)
            try:
                for n in (0, 125, 126, 8191, 8192, 20000):
                    with self.subTest(port=port, length=n):
                        payload = bytes((i * 7 + n) % 256 for i in range(n))
                        ws.sock.sendall(ws_frame(9, payload))
                        fin, opcode, answer = ws.read_frame()
                        self.assertEqual((fin, opcode), (True, 10))
                        self.assertEqual(answer, payload)
                # Still serving afterwards.
                self.assertIn(b"FunctionRes[0]", ws.ask(VERIFY))
            finally:
                ws.close()

    def test_long_pongs_are_read_and_ignored(self):
        ws = WsConn(PLAIN_PORT)
        try:
            for n in (126, 8192, 20000):
                ws.sock.sendall(ws_frame(10, b"p" * n))
            self.assertIn(b"FunctionRes[0]", ws.ask(VERIFY))
        finally:
            ws.close()

    def test_a_long_close_frame_still_ends_the_connection(self):
        ws = WsConn(PLAIN_PORT)
        try:
            ws.sock.sendall(ws_frame(8, b"c" * 126))
            ws.sock.settimeout(10)
            self.assertEqual(read_until_closed(ws.sock), b"")
        finally:
            ws.close()


TESTSSL = shutil.which("testssl") or shutil.which("testssl.sh")


@unittest.skipIf(TESTSSL is None, "testssl.sh is not installed (Debian package testssl.sh)")
class TlsSuitesTest(ServiceTestCase):
    """An independent scanner's view of the TLS port: TLS 1.2 or later,
    forward secrecy and AEAD ciphers only."""

    def test_testssl_finds_no_weak_protocol_or_suite(self):
        with tempfile.TemporaryDirectory() as scratch:
            report = os.path.join(scratch, "report.json")
            subprocess.run([TESTSSL, "--quiet", "--color", "0", "--warnings", "off",
                            "-p", "-s", "-E", "--jsonfile-pretty", report,
                            f"127.0.0.1:{TLS_PORT}"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=240, check=False)
            with open(report, encoding="utf-8") as f:
                scan = json.load(f)["scanResult"][0]
        findings = {f["id"]: f for f in scan["protocols"] + scan["ciphers"]}
        for old in ("SSLv2", "SSLv3", "TLS1", "TLS1_1"):
            self.assertTrue(findings[old]["finding"].startswith("not offered"), findings[old])
        self.assertEqual(findings["TLS1_2"]["finding"], "offered")
        for weak in ("cipherlist_NULL", "cipherlist_aNULL", "cipherlist_EXPORT", "cipherlist_LOW",
                     "cipherlist_3DES_IDEA", "cipherlist_AVERAGE"):
            self.assertTrue(findings[weak]["finding"].startswith("not offered"), findings[weak])
        offered = [f["finding"].split()[3] for f in scan["cipherTests"]]
        self.assertTrue(offered, "no suite listed")
        for suite in offered:
            self.assertTrue(suite.startswith("ECDHE-"), suite)
            self.assertTrue("-GCM-" in suite or suite.endswith("CHACHA20-POLY1305"), suite)
            self.assertNotIn("CBC", suite)
            self.assertFalse(suite.endswith("-SHA"), suite)  # a SHA-1 MAC

    def test_sessions_are_still_resumed(self):
        context = client_tls_context(self.service.cert_path)
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        # One whole exchange first: the server stores the session only when
        # its side of the handshake ends, which may be after the client's.
        first = Conn.open(TLS_PORT, context)
        self.assertTrue(first.post(VERIFY))
        session = first.sock.session
        first.close()
        raw = socket.create_connection(("127.0.0.1", TLS_PORT), timeout=10)
        second = context.wrap_socket(raw, server_hostname="127.0.0.1", session=session)
        try:
            self.assertTrue(second.session_reused)
            self.assertIn(second.cipher()[0], {"ECDHE-ECDSA-AES128-GCM-SHA256",
                                               "ECDHE-ECDSA-AES256-GCM-SHA384",
                                               "ECDHE-ECDSA-CHACHA20-POLY1305"})
        finally:
            second.close()


if __name__ == "__main__":
    unittest.main()
