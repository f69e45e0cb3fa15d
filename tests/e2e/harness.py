"""Starts the built service in a scratch working directory and waits for its
ports, which must then be held by that very process: the suites refuse to
run against some other program on 9651/9652."""

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


def port_taken(port):
    """True if something on this machine (this network namespace) holds
    127.0.0.1:port; a closed connection lingering in TIME_WAIT does not."""
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return False
        except OSError:
            return True


def wait_until(predicate, timeout, step=0.05):
    """True as soon as predicate() holds, False if it never did in time."""
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)


def socket_links(pid):
    """What the descriptors of process pid point at ("socket:[inode]", ...)."""
    links = set()
    try:
        names = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return links
    for fd in names:
        try:
            links.add(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass  # closed meanwhile
    return links


def listening_inodes(port):
    """Socket inodes listening on 127.0.0.1:port, from /proc/net/tcp."""
    found = set()
    with open("/proc/net/tcp", encoding="ascii") as f:
        next(f)
        for line in f:
            fields = line.split()
            local, state, inode = fields[1], fields[3], fields[9]
            if state == "0A" and local == f"0100007F:{port:04X}":
                found.add(inode)
    return found


def listens_on_both_ports(pid):
    """True if process pid itself holds the listeners of both ports (and not
    some other instance that was there first)."""
    links = socket_links(pid)
    return all(any(f"socket:[{i}]" in links for i in listening_inodes(p))
               for p in (PLAIN_PORT, TLS_PORT))


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
        # Answers from another program would pass for ours: refuse at once.
        taken = [p for p in (PLAIN_PORT, TLS_PORT) if port_taken(p)]
        if taken:
            raise RuntimeError(
                f"port(s) {', '.join(map(str, taken))} already taken by another program; "
                "stop it, or run the suites as root where `unshare -n` works (the e2e "
                "ctest entries then give each suite a private network namespace)")
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
        if not wait_until(lambda: listens_on_both_ports(self.proc.pid), 5):
            self.stop()
            raise RuntimeError("ports 9651/9652 answer, but the service started here does "
                               "not hold their listeners: another program has them")

    @property
    def cert_path(self):
        return os.path.join(self.cert_dir, "ssl_crt.pem")

    def stdout(self):
        if not self._out.closed:  # also read after stop(), which closes it
            self._out.flush()
        with open(self.stdout_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stderr(self):
        if not self._err.closed:  # also read after stop(), which closes it
            self._err.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_for_stdout(self, text, count=1, timeout=10.0):
        """True once stdout holds text count times: the service writes its
        log lines in its own time, not before the answer that caused them."""
        return wait_until(lambda: self.stdout().count(text) >= count, timeout)

    def wait_for_stderr(self, text, count=1, timeout=10.0):
        """True once stderr holds text count times (see wait_for_stdout)."""
        return wait_until(lambda: self.stderr().count(text) >= count, timeout)

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
