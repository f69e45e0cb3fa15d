"""The host and servlet under conditions a page or a stray client creates:
what reaches the control, concurrency, fragments, TLS placement, time-outs
and bad input."""

import asyncio
import base64
import json
import os
import socket
import ssl
import subprocess
import threading
import time
import unittest

import websockets

from harness import PLAIN_PORT, TLS_PORT, Service, ServiceTestCase

SIGN = "ProcessNum{1}ProcessEntity-1{FunctionType[10]Param1[签名]Param2[b]}ProcessCallBackName{s}"
VERIFY = "ProcessNum{1}ProcessEntity-1{FunctionType[11]Param1[%d]}ProcessCallBackName{v}"


def post(text, port=PLAIN_PORT, scheme="http", cacert=None):
    cmd = ["curl", "-s", "--max-time", "20", "--data-binary", json.dumps({"ServeltData": text}),
           f"{scheme}://127.0.0.1:{port}/"]
    if cacert:
        cmd[1:1] = ["--cacert", cacert]
    return subprocess.run(cmd, capture_output=True, check=False).stdout


def ws_frame(opcode, payload, fin=True):
    head = bytes([(0x80 if fin else 0) | opcode])
    mask = os.urandom(4)
    n = len(payload)
    if n < 126:
        head += bytes([0x80 | n])
    else:
        head += bytes([0x80 | 126]) + n.to_bytes(2, "big")
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


def ws_connect_raw(port=PLAIN_PORT):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall((f"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
               f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
               f"Sec-WebSocket-Version: 13\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += s.recv(1)
    assert head.startswith(b"HTTP/1.1 101"), head
    return s


def recv_all(s):
    data = b""
    while True:
        try:
            chunk = s.recv(65536)
        except (ConnectionResetError, socket.timeout):
            break
        if not chunk:
            break
        data += chunk
    return data


class ServiceTest(ServiceTestCase):
    service_options = dict(extra_env={"ZQT_RECORDING_DELAY_MS": "20"})

    def test_the_control_receives_the_page_text(self):
        before = len(self.service.calls())
        self.assertEqual(post(SIGN), b"FunctionType[10]FunctionRes[]ProcessCallBackName[s]")
        self.assertEqual(self.service.calls()[before:],
                         ["ulvo.ctrl 10 BSTR:\\u7b7e\\u540d BSTR:b"])

    def test_requests_from_many_clients_never_overlap(self):
        before = len(self.service.calls())
        answers = []

        def poster(i):
            answers.append(post(VERIFY % i))

        async def socket_client():
            async with websockets.connect(f"ws://127.0.0.1:{PLAIN_PORT}/") as ws:
                for i in range(5):
                    await ws.send(VERIFY % (100 + i))
                    answers.append((await ws.recv()).encode())

        threads = [threading.Thread(target=poster, args=(i,)) for i in range(8)]
        for t in threads:
            t.start()
        asyncio.run(asyncio.wait_for(socket_client(), 30))
        for t in threads:
            t.join()
        self.assertEqual(answers, [b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]"] * 13)
        calls = self.service.calls()[before:]
        self.assertNotIn("OVERLAP", calls)
        self.assertEqual(len(calls), 13)

    def test_fragmented_first_frame_runs_alone_then_continuation_closes(self):
        s = ws_connect_raw()
        try:
            s.sendall(ws_frame(1, (VERIFY % 1).encode(), fin=False))
            answer = s.recv(4096)
            self.assertEqual(answer[0], 0x81)
            self.assertTrue(answer.endswith(b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]"))
            s.sendall(ws_frame(0, b"rest"))
            self.assertEqual(recv_all(s), b"")  # closed, no close frame
        finally:
            s.close()

    def test_kept_alive_https_connection_handshakes_once(self):
        before = self.service.stderr().count("handshake_ok")
        body = json.dumps({"ServeltData": VERIFY % 7})
        url = f"https://127.0.0.1:{TLS_PORT}/"
        out = subprocess.run(["curl", "-s", "--cacert", self.service.cert_path, "-d", body, url,
                              "--next", "--cacert", self.service.cert_path, "-d", body, url],
                             capture_output=True, check=False, timeout=20)
        self.assertEqual(out.stdout, b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]" * 2)
        self.assertTrue(self.service.wait_for_stderr("handshake_ok", before + 1),
                        self.service.stderr())
        self.assertEqual(self.service.stderr().count("handshake_ok") - before, 1)

    def test_idle_connection_is_closed_after_five_seconds(self):
        s = socket.create_connection(("127.0.0.1", PLAIN_PORT), timeout=15)
        start = time.monotonic()
        self.assertEqual(recv_all(s), b"")
        waited = time.monotonic() - start
        s.close()
        self.assertGreater(waited, 4)
        self.assertTrue(self.service.wait_for_stderr("read timeout from 127.0.0.1, fd:"),
                        self.service.stderr())

    def test_bad_input_gets_an_answer_or_a_clean_close(self):
        hello = ssl.create_default_context()
        hello.check_hostname = False
        hello.verify_mode = ssl.CERT_NONE
        cases = [
            (PLAIN_PORT, os.urandom(3000)),
            (TLS_PORT, os.urandom(3000)),
            (PLAIN_PORT, b"POST / HTTP/1.1\r\nHost: x\r\nContent-Le"),  # cut off half way
            (PLAIN_PORT, b"POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"Ser"),
        ]
        for port, data in cases:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(data)
                s.shutdown(socket.SHUT_WR)
                recv_all(s)
        # A TLS client hello on the plain port is not TLS to it.
        with socket.create_connection(("127.0.0.1", PLAIN_PORT), timeout=10) as raw:
            with self.assertRaises((ssl.SSLError, ConnectionError, OSError)):
                hello.wrap_socket(raw).do_handshake()
        self.assertEqual(post(VERIFY % 3), b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]")
        self.assertEqual(post(VERIFY % 4, TLS_PORT, "https", self.service.cert_path),
                         b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]")


class CertificatePlacementTest(unittest.TestCase):
    def test_certificate_in_the_working_directory_is_used(self):
        service = Service(cert_dir=".")
        try:
            self.assertEqual(post(VERIFY % 1, TLS_PORT, "https", service.cert_path),
                             b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]")
            self.assertTrue(service.wait_for_stderr("load cert ok, crt: ./ssl_crt.pem"),
                            service.stderr())
        finally:
            self.assertEqual(service.stop(), 0)
            service.cleanup()

    def test_certificate_in_zqtservice_is_used(self):
        service = Service()
        try:
            # The certificate is loaded on the service's own schedule, maybe
            # after the ports already answer.
            self.assertTrue(service.wait_for_stderr("load cert ok, crt: ./ZQTService/ssl_crt.pem"),
                            service.stderr())
            self.assertTrue(service.wait_for_stderr("load key ok, key: ./ZQTService/ssl_key.pem"),
                            service.stderr())
        finally:
            self.assertEqual(service.stop(), 0)
            service.cleanup()


if __name__ == "__main__":
    unittest.main()
