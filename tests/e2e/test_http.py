"""The service over HTTP and HTTPS, driven by curl and openssl s_client."""

import json
import socket
import subprocess
import unittest

from harness import PLAIN_PORT, TLS_PORT, Service, ServiceTestCase

VERIFY = "ProcessNum{1}ProcessEntity-1{FunctionType[11]Param1[a]Param2[b]Param3[c]}" \
         "ProcessCallBackName{cb}"


def curl(*args, data=None):
    cmd = ["curl", "-s", "-S", "-i", "--max-time", "10", *args]
    if data is not None:
        cmd += ["--data-binary", "@-"]
    out = subprocess.run(cmd, input=data, capture_output=True, check=False)
    return out


def split_response(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.setdefault(name.strip().lower(), []).append(value.strip())
    return status, headers, body


def raw_exchange(port, request, timeout=10):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        chunks = []
        while True:
            try:
                data = s.recv(65536)
            except ConnectionResetError:
                break
            if not data:
                break
            chunks.append(data)
        return b"".join(chunks)


class HttpTest(ServiceTestCase):

    def post(self, body, port=PLAIN_PORT, scheme="http", extra=()):
        url = f"{scheme}://127.0.0.1:{port}/"
        out = curl(*extra, "-H", "Content-Type: application/json", url, data=body)
        self.assertEqual(out.returncode, 0, out.stderr)
        return split_response(out.stdout)

    def test_post_runs_the_request_and_sends_cors_headers(self):
        status, headers, body = self.post(json.dumps({"ServeltData": VERIFY}).encode())
        self.assertEqual(status, 200)
        self.assertEqual(body, b"FunctionType[11]FunctionRes[0]ProcessCallBackName[cb]")
        self.assertEqual(headers["content-type"], ["text/html;charset=utf-8"])
        self.assertEqual(headers["transfer-encoding"], ["chunked"])
        self.assertEqual(headers["access-control-allow-credentials"], ["1"])
        for name in ("origin", "methods", "headers"):
            self.assertEqual(headers[f"access-control-allow-{name}"], ["*"])

    def test_bodies_without_a_request_text_run_the_empty_request(self):
        cases = {
            "not json": b"ServeltData=xyz",
            "no member": json.dumps({"Other": VERIFY}).encode(),
            "member not a string": json.dumps({"ServeltData": 5}).encode(),
            "over the limit": json.dumps({"ServeltData": VERIFY + " " * 1024000}).encode(),
            "empty": b"",
        }
        for name, body in cases.items():
            with self.subTest(name):
                status, _, answer = self.post(body)
                self.assertEqual(status, 200)
                self.assertEqual(answer, b"FunctionRes[-1]ProcessCallBackName[]")

    def test_nested_member_and_non_ascii_text(self):
        text = "ProcessNum{0}ProcessCallBackName{回调😀}"
        body = json.dumps({"outer": {"ServeltData": text}}, ensure_ascii=False).encode()
        _, _, answer = self.post(body)
        self.assertEqual(answer.decode("utf-8"), "FunctionRes[-1]ProcessCallBackName[回调😀]")

    def test_get_is_answered_like_a_post_without_body(self):
        out = curl(f"http://127.0.0.1:{PLAIN_PORT}/anything")
        status, headers, body = split_response(out.stdout)
        self.assertEqual(status, 200)
        self.assertEqual(body, b"FunctionRes[-1]ProcessCallBackName[]")
        self.assertEqual(headers["access-control-allow-origin"], ["*"])

    def test_preflight_mirrors_the_request(self):
        out = curl("-X", "OPTIONS", "-H", "Origin: http://localhost:8000",
                   "-H", "Access-Control-Request-Method: POST",
                   "-H", "Access-Control-Request-Headers: content-type",
                   f"http://127.0.0.1:{PLAIN_PORT}/")
        status, headers, body = split_response(out.stdout)
        self.assertEqual(status, 200)
        self.assertEqual(headers["access-control-allow-origin"], ["http://localhost:8000"])
        self.assertEqual(headers["access-control-allow-methods"], ["POST"])
        self.assertEqual(headers["access-control-allow-headers"], ["content-type"])
        self.assertEqual(headers["access-control-max-age"], ["3600"])
        self.assertEqual(headers["access-control-allow-credentials"], ["1"])
        self.assertEqual(headers["access-control-allow-private-network"], ["1"])
        self.assertEqual(body, b"")

    def test_preflight_without_the_mirrored_headers_still_answers(self):
        raw = raw_exchange(PLAIN_PORT, b"OPTIONS / HTTP/1.1\r\nHost: x\r\n\r\n")
        status, headers, _ = split_response(raw)
        self.assertEqual(status, 200)
        self.assertEqual(headers["access-control-max-age"], ["3600"])
        # The connection is closed after the preflight: raw_exchange returned.

    def test_unknown_method_gets_400_and_close(self):
        raw = raw_exchange(PLAIN_PORT, b"BREW / HTTP/1.1\r\nHost: x\r\n\r\n")
        status, headers, body = split_response(raw)
        self.assertEqual(status, 400)
        self.assertEqual(headers["content-type"], ["text/html; charset="])
        self.assertEqual(body, b"<root error='unkown request method' />\r\n")

    def test_keep_alive_reuses_the_connection(self):
        body = json.dumps({"ServeltData": VERIFY})
        url = f"http://127.0.0.1:{PLAIN_PORT}/"
        out = subprocess.run(["curl", "-s", "-v", "--max-time", "10",
                              "-d", body, url, "--next", "-d", body, url],
                             capture_output=True, check=False)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn(b"Re-using existing connection", out.stderr)
        self.assertEqual(out.stdout, b"FunctionType[11]FunctionRes[0]ProcessCallBackName[cb]" * 2)

    def test_https_with_the_made_certificate(self):
        status, _, body = self.post(json.dumps({"ServeltData": VERIFY}).encode(),
                                    port=TLS_PORT, scheme="https",
                                    extra=("--cacert", self.service.cert_path))
        self.assertEqual(status, 200)
        self.assertEqual(body, b"FunctionType[11]FunctionRes[0]ProcessCallBackName[cb]")

    def test_plain_http_on_the_tls_port_gets_no_answer(self):
        raw = raw_exchange(TLS_PORT, b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertNotIn(b"HTTP/1.1", raw)

    def test_openssl_handshake_and_session_reuse(self):
        out = subprocess.run(["openssl", "s_client", "-connect", f"127.0.0.1:{TLS_PORT}",
                              "-CAfile", self.service.cert_path, "-reconnect", "-tls1_2"],
                             input=b"", capture_output=True, timeout=30, check=False)
        text = out.stdout.decode("latin-1")
        self.assertIn("Verify return code: 0 (ok)", text)
        self.assertIn("Reused", text)

    def test_service_prints_its_listen_line(self):
        self.assertTrue(self.service.wait_for_stdout("listen on: 127.0.0.1:9651,127.0.0.1:9652\r\n"),
                        self.service.stdout())


class NoModulesTest(unittest.TestCase):
    def test_requests_are_answered_without_any_control(self):
        service = Service(modules=None, with_cert=False)
        try:
            cases = {
                "FunctionType[10]": b"FunctionType[10]FunctionRes[]ProcessCallBackName[x]",
                "FunctionType[11]": b"FunctionType[11]FunctionRes[-1]ProcessCallBackName[x]",
            }
            for step, expected in cases.items():
                text = "ProcessNum{1}ProcessEntity-1{" + step + "}ProcessCallBackName{x}"
                out = curl(f"http://127.0.0.1:{PLAIN_PORT}/", data=json.dumps(
                    {"ServeltData": text}).encode())
                self.assertEqual(split_response(out.stdout)[2], expected)
            # Without a certificate the second port speaks plain HTTP.
            out = curl(f"http://127.0.0.1:{TLS_PORT}/")
            self.assertEqual(split_response(out.stdout)[2], b"FunctionRes[-1]ProcessCallBackName[]")
        finally:
            self.assertEqual(service.stop(), 0)
            service.cleanup()


if __name__ == "__main__":
    unittest.main()
