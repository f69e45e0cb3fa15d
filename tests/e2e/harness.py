"""Starts the built service in a scratch working directory and waits for its ports."""

import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

PLAIN_PORT = 9651
TLS_PORT = 9652


def build_dir():
    return os.environ["ZQT_BUILD_DIR"]


def wait_for_port(port, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Service:
    """The service binary running in a fresh directory; stop() ends it."""

    def __init__(self, with_cert=True, modules="recording", extra_env=None, cert_dir="ZQTService"):
        self.workdir = tempfile.mkdtemp(prefix="zqt-e2e-")
        self.binary = os.path.join(build_dir(), "bin", "zqtca-service")
        self.cert_dir = os.path.join(self.workdir, cert_dir)
        if with_cert:
            certdir = self.cert_dir
            os.makedirs(certdir, exist_ok=True)
            subprocess.run([self.binary, "--make-cert", certdir], check=True,
                           stdout=subprocess.DEVNULL)
        env = dict(os.environ)
        libdirs = []
        if modules:
            libdirs.append(os.path.join(build_dir(), "lib", modules))
        env["LD_LIBRARY_PATH"] = ":".join(libdirs)
        env["TMPDIR"] = self.workdir
        self.trace_path = os.path.join(self.workdir, "calls.txt")
        env["ZQT_RECORDING_TRACE"] = self.trace_path
        if extra_env:
            env.update(extra_env)
        self.stdout_path = os.path.join(self.workdir, "stdout.txt")
        self.stderr_path = os.path.join(self.workdir, "stderr.txt")
        self._out = open(self.stdout_path, "wb")
        self._err = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen([self.binary], cwd=self.workdir, env=env,
                                     stdout=self._out, stderr=self._err,
                                     stdin=subprocess.DEVNULL)
        if not (wait_for_port(PLAIN_PORT) and wait_for_port(TLS_PORT)):
            self.stop()
            raise RuntimeError("service did not start listening:\n" + self.stderr())

    @property
    def cert_path(self):
        return os.path.join(self.cert_dir, "ssl_crt.pem")

    def stdout(self):
        self._out.flush()
        with open(self.stdout_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stderr(self):
        self._err.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def calls(self):
        """The invocations that reached the recording control, one line each."""
        try:
            with open(self.trace_path, encoding="ascii") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def stop(self):
        """SIGTERM, then the exit status (the daemon stops in order with 0)."""
        rc = None
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                rc = self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                rc = self.proc.wait()
        else:
            rc = self.proc.returncode
        self._out.close()
        self._err.close()
        return rc

    def cleanup(self):
        shutil.rmtree(self.workdir, ignore_errors=True)


class ServiceTestCase(unittest.TestCase):
    """One service for the whole class; it must stop in order (status 0)."""

    service_options = {}

    @classmethod
    def setUpClass(cls):
        cls.service = Service(**cls.service_options)

    @classmethod
    def tearDownClass(cls):
        rc = cls.service.stop()
        cls.service.cleanup()
        assert rc == 0, f"service exit status {rc}"
