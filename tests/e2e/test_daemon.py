"""The daemon as a process: single instance, orderly stop, restart after kill -9."""

import datetime
import os
import signal
import socket
import subprocess
import tempfile
import unittest

from harness import PLAIN_PORT, TLS_PORT, Service, build_dir


def port_is_free(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def post(port=PLAIN_PORT):
    out = subprocess.run(["curl", "-s", "--max-time", "5", "-d",
                          '{"ServeltData":"ProcessNum{1}ProcessEntity-1{FunctionType[11]}"}',
                          f"http://127.0.0.1:{port}/"], capture_output=True, check=False)
    return out.stdout


class DaemonTest(unittest.TestCase):
    def test_second_instance_exits_silently_and_the_first_serves_on(self):
        service = Service(with_cert=False)
        try:
            second = subprocess.run([service.binary], cwd=service.workdir, capture_output=True,
                                    timeout=10, env={**os.environ, "LD_LIBRARY_PATH": ""})
            self.assertEqual(second.returncode, 0)
            self.assertEqual(second.stdout, b"")
            self.assertEqual(second.stderr, b"")
            self.assertEqual(post(), b"FunctionType[11]FunctionRes[0]ProcessCallBackName[]")
        finally:
            self.assertEqual(service.stop(), 0)
            service.cleanup()

    def test_each_stop_signal_stops_in_order_and_frees_both_ports(self):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                service = Service(with_cert=False)
                service.proc.send_signal(sig)
                self.assertEqual(service.proc.wait(timeout=10), 0)
                service.stop()
                service.cleanup()
                self.assertTrue(port_is_free(PLAIN_PORT))
                self.assertTrue(port_is_free(TLS_PORT))

    def test_restart_after_kill_gets_ports_and_name_back(self):
        first = Service(with_cert=False)
        first.proc.kill()
        first.proc.wait()
        first.stop()
        try:
            second = Service(with_cert=False)  # raises unless both ports listen again
            try:
                self.assertEqual(post(), b"FunctionType[11]FunctionRes[0]ProcessCallBackName[]")
            finally:
                self.assertEqual(second.stop(), 0)
                second.cleanup()
        finally:
            first.cleanup()

    def test_options(self):
        binary = os.path.join(build_dir(), "bin", "zqtca-service")
        version = subprocess.run([binary, "--version"], capture_output=True, timeout=10)
        self.assertEqual(version.returncode, 0)
        self.assertEqual(version.stdout.decode("utf-8"), "ZQTCAServiceClient，1.0 版\n")
        bad = subprocess.run([binary, "--bogus"], capture_output=True, timeout=10)
        self.assertEqual(bad.returncode, 2)
        self.assertEqual(bad.stdout, b"")
        self.assertNotEqual(bad.stderr, b"")

    def test_make_cert_writes_a_server_certificate_for_loopback_and_never_overwrites(self):
        binary = os.path.join(build_dir(), "bin", "zqtca-service")
        with tempfile.TemporaryDirectory() as folder:
            made = subprocess.run([binary, "--make-cert", folder], capture_output=True, timeout=30)
            self.assertEqual(made.returncode, 0, made.stderr)
            crt = os.path.join(folder, "ssl_crt.pem")
            key = os.path.join(folder, "ssl_key.pem")
            self.assertEqual(os.stat(key).st_mode & 0o777, 0o600)
            text = subprocess.run(["openssl", "x509", "-in", crt, "-noout", "-text"],
                                  capture_output=True, text=True, check=True).stdout
            self.assertRegex(text, r"DNS:localhost")
            self.assertRegex(text, r"IP Address:127\.0\.0\.1")
            self.assertIn("TLS Web Server Authentication", text)
            self.assertIn("prime256v1", text)
            dates = subprocess.run(["openssl", "x509", "-in", crt, "-noout", "-startdate",
                                    "-enddate", "-dateopt", "iso_8601"],
                                   capture_output=True, text=True, check=True)
            start, end = (line.split("=", 1)[1] for line in dates.stdout.splitlines())
            days = (datetime.datetime.fromisoformat(end.replace("Z", "+00:00")) -
                    datetime.datetime.fromisoformat(start.replace("Z", "+00:00"))).days
            self.assertEqual(days, 825)
            with open(crt, "rb") as f:
                before = f.read()
            again = subprocess.run([binary, "--make-cert", folder], capture_output=True,
                                   timeout=30)
            self.assertNotEqual(again.returncode, 0)
            self.assertNotEqual(again.stderr, b"")
            with open(crt, "rb") as f:
                self.assertEqual(f.read(), before)


if __name__ == "__main__":
    unittest.main()
