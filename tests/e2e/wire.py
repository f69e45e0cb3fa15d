"""Raw clients and process probes for the load and fault suites: HTTP/1.1
requests and answers on a plain or TLS socket, WebSocket frames, a TLS
client hello cut anywhere, and the service's open descriptors and threads."""

import base64
import json
import os
import resource
import socket
import ssl
import struct
import time

from harness import (PLAIN_PORT, TLS_PORT, ServiceTestCase, listening_inodes,  # noqa: F401
                     listens_on_both_ports, socket_links, wait_until)

VERIFY = "ProcessNum{1}ProcessEntity-1{FunctionType[11]Param1[a]}ProcessCallBackName{v}"
VERIFY_ANSWER = b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]"

# Past this many open connections the service closes a new one at once.
CAP = 1024


def raise_fd_limit(needed):
    """Soft descriptor limit up to the hard one, the hard one first raised to
    `needed` where we may; returns the soft limit now in force."""
    inf = resource.RLIM_INFINITY
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard != inf and hard < needed:
        try:
            resource.setrlimit(resource.RLIMIT_NOFILE, (needed, needed))
        except (ValueError, OSError):
            pass
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    target = hard if hard != inf else max(needed, soft)
    if soft != inf and soft < target:
        resource.setrlimit(resource.RLIMIT_NOFILE, (target, hard))
    return resource.getrlimit(resource.RLIMIT_NOFILE)[0]


# --- the service as a process ---------------------------------------------

def open_fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def threads(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def counts(pid):
    return open_fds(pid), threads(pid)


def settled_counts(pid, quiet=0.3, timeout=10.0):
    """Descriptors and threads once they have not changed for `quiet` s."""
    deadline = time.monotonic() + timeout
    last = counts(pid)
    since = time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.05)
        now = counts(pid)
        if now != last:
            last, since = now, time.monotonic()
        elif time.monotonic() - since >= quiet:
            break
    return last


# --- HTTP -----------------------------------------------------------------

def post_request(text, keep_alive=True):
    body = json.dumps({"ServeltData": text}).encode("utf-8")
    head = ("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
            f"Content-Length: {len(body)}\r\n")
    if not keep_alive:
        head += "Connection: close\r\n"
    return head.encode("ascii") + b"\r\n" + body


def client_tls_context(cafile):
    return ssl.create_default_context(cafile=cafile)


def connect(port=PLAIN_PORT, tls_context=None, timeout=10.0):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if tls_context is not None:
        s = tls_context.wrap_socket(s, server_hostname="127.0.0.1")
    return s


def reset(s):
    """Closes with a TCP RST instead of a FIN."""
    try:
        raw = s
        if isinstance(s, ssl.SSLSocket):
            raw = socket.socket(fileno=s.detach())
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        raw.close()
    except OSError:
        s.close()


class BadAnswer(Exception):
    pass


class Conn:
    """A socket with a read buffer that reads whole HTTP/1.1 answers; the
    raw bytes of the last one stay in `last_raw`."""

    def __init__(self, sock):
        self.sock = sock
        self.buf = b""
        self.pos = 0
        self.last_raw = b""

    @classmethod
    def open(cls, port=PLAIN_PORT, tls_context=None, timeout=10.0):
        return cls(connect(port, tls_context, timeout))

    def close(self):
        self.sock.close()

    def _fill(self):
        data = self.sock.recv(262144)
        if not data:
            raise BadAnswer("connection closed inside an answer")
        self.buf += data

    def _line(self):
        while True:
            end = self.buf.find(b"\r\n", self.pos)
            if end >= 0:
                break
            self._fill()
        line = self.buf[self.pos:end]
        self.pos = end + 2
        return line

    def _take(self, n):
        while len(self.buf) - self.pos < n:
            self._fill()
        data = self.buf[self.pos:self.pos + n]
        self.pos += n
        return data

    def recv_exact(self, n):
        """The next n bytes, whatever they are."""
        self.buf, self.pos = self.buf[self.pos:], 0
        chunks, have = [self.buf[:n]], min(n, len(self.buf))
        self.buf = self.buf[n:]
        while have < n:
            data = self.sock.recv(min(262144, n - have))
            if not data:
                raise BadAnswer("connection closed")
            chunks.append(data)
            have += len(data)
        return b"".join(chunks)

    def read_answer(self):
        """(status, headers with lower-case names, body); raises BadAnswer."""
        self.buf, self.pos = self.buf[self.pos:], 0
        while True:
            end = self.buf.find(b"\r\n\r\n")
            if end >= 0:
                break
            self._fill()
        head = self.buf[:end]
        self.pos = end + 4
        lines = head.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ", 2)
        if len(parts) < 2 or parts[0] != "HTTP/1.1" or not parts[1].isdigit():
            raise BadAnswer(f"bad status line {lines[0]!r}")
        headers = {}
        for line in lines[1:]:
            name, sep, value = line.partition(":")
            if not sep:
                raise BadAnswer(f"bad header line {line!r}")
            headers[name.strip().lower()] = value.strip()
        if headers.get("transfer-encoding", "").lower() == "chunked":
            body = b""
            while True:
                size_line = self._line().split(b";")[0].strip()
                try:
                    size = int(size_line, 16)
                except ValueError:
                    raise BadAnswer(f"bad chunk size {size_line!r}") from None
                if size == 0:
                    while self._line() != b"":  # trailers
                        pass
                    break
                body += self._take(size)
                if self._take(2) != b"\r\n":
                    raise BadAnswer("chunk without its CRLF")
        elif "content-length" in headers:
            body = self._take(int(headers["content-length"]))
        else:
            if headers.get("connection", "").lower() != "close":
                raise BadAnswer("answer with neither length nor chunks nor close")
            while True:
                data = self.sock.recv(65536)
                if not data:
                    break
                self.buf += data
            body = self.buf[self.pos:]
            self.pos = len(self.buf)
        self.last_raw = self.buf[:self.pos]
        return int(parts[1]), headers, body

    def post(self, text):
        """Sends one POST and returns the body of a well-formed 200 answer."""
        self.sock.sendall(post_request(text))
        status, headers, body = self.read_answer()
        if status != 200:
            raise BadAnswer(f"status {status}")
        return body


def post_once(text, port=PLAIN_PORT, tls_context=None, timeout=10.0):
    c = Conn.open(port, tls_context, timeout)
    try:
        return c.post(text)
    finally:
        c.close()


def closed_at_once(s, within):
    """True if the peer closes s (EOF or reset) within `within` seconds
    without sending a byte; False if it sends something or stays open."""
    s.settimeout(within)
    try:
        data = s.recv(1)
    except (ConnectionError, ssl.SSLError):
        return True
    except (socket.timeout, TimeoutError):
        return False
    return data == b""


# --- WebSocket ------------------------------------------------------------

def ws_upgrade_request():
    key = base64.b64encode(os.urandom(16)).decode()
    return (f"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
            f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
            f"Sec-WebSocket-Version: 13\r\n\r\n").encode("ascii")


def ws_frame(opcode, payload, fin=True):
    """A masked client frame."""
    head = bytes([(0x80 if fin else 0) | opcode])
    n = len(payload)
    if n < 126:
        head += bytes([0x80 | n])
    elif n < 65536:
        head += bytes([0x80 | 126]) + n.to_bytes(2, "big")
    else:
        head += bytes([0x80 | 127]) + n.to_bytes(8, "big")
    mask = os.urandom(4)
    key = (mask * (n // 4 + 1))[:n]
    masked = (int.from_bytes(payload, "big") ^ int.from_bytes(key, "big")).to_bytes(n, "big")
    return head + mask + masked


class WsConn:
    """A raw WebSocket client on a plain or TLS socket."""

    def __init__(self, port=PLAIN_PORT, tls_context=None, timeout=10.0):
        self.sock = connect(port, tls_context, timeout)
        self.sock.sendall(ws_upgrade_request())
        head = b""
        while b"\r\n\r\n" not in head:
            data = self.sock.recv(1)
            if not data:
                raise BadAnswer("closed during the WebSocket handshake")
            head += data
        if not head.startswith(b"HTTP/1.1 101"):
            raise BadAnswer(f"no upgrade: {head!r}")
        self.buf = b""

    def close(self):
        self.sock.close()

    def recv_exact(self, n):
        while len(self.buf) < n:
            data = self.sock.recv(65536)
            if not data:
                raise BadAnswer("closed inside a frame")
            self.buf += data
        data, self.buf = self.buf[:n], self.buf[n:]
        return data

    def read_frame(self):
        """(fin, opcode, payload) of one unmasked server frame."""
        b0, b1 = self.recv_exact(2)
        if b1 & 0x80:
            raise BadAnswer("masked server frame")
        n = b1 & 0x7F
        if n == 126:
            n = int.from_bytes(self.recv_exact(2), "big")
        elif n == 127:
            n = int.from_bytes(self.recv_exact(8), "big")
        return bool(b0 & 0x80), b0 & 0x0F, self.recv_exact(n)

    def ask(self, text):
        """Sends a text message and returns the text of the answer frame."""
        self.sock.sendall(ws_frame(1, text.encode("utf-8")))
        fin, opcode, payload = self.read_frame()
        if not fin or opcode != 1:
            raise BadAnswer(f"answer frame fin={fin} opcode={opcode}")
        return payload


# --- TLS ------------------------------------------------------------------

def client_hello():
    """The bytes of a TLS client hello, made without a socket."""
    ctx = ssl.create_default_context()
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    obj = ctx.wrap_bio(incoming, outgoing, server_hostname="127.0.0.1")
    try:
        obj.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return outgoing.read()


def holds_connection_from(pid, client_port):
    """True if process pid has the service end of the connection whose
    client end is bound to client_port."""
    inodes = set()
    with open("/proc/net/tcp", encoding="ascii") as f:
        next(f)
        for line in f:
            fields = line.split()
            local, remote, inode = fields[1], fields[2], fields[9]
            if remote == f"0100007F:{client_port:04X}" and local in (
                    f"0100007F:{PLAIN_PORT:04X}", f"0100007F:{TLS_PORT:04X}"):
                inodes.add(inode)
    links = socket_links(pid)
    return any(f"socket:[{i}]" in links for i in inodes)


class LoadTestCase(ServiceTestCase):
    """A service that is ours (not an instance some other run left on the
    ports), started with enough descriptors for the cap and some."""

    @classmethod
    def setUpClass(cls):
        # The service inherits the limit; it then needs no more than its own.
        raise_fd_limit(CAP + 512)
        super().setUpClass()
        if not wait_until(lambda: listens_on_both_ports(cls.service.proc.pid), 5):
            cls.tearDownClass()
            raise RuntimeError("the ports are held by another process")
        cls.tls = client_tls_context(cls.service.cert_path)
        # The first answer on each path sets up what stays for the process.
        post_once(VERIFY)
        post_once(VERIFY, TLS_PORT, cls.tls)
        ws = WsConn(TLS_PORT, cls.tls)
        ws.ask(VERIFY)
        ws.close()

    @property
    def pid(self):
        return self.service.proc.pid

    def assertBackTo(self, baseline, timeout=10.0):
        """Descriptors and threads come back to `baseline` (or below)."""
        ok = wait_until(
            lambda: all(now <= then for now, then in zip(counts(self.pid), baseline)),
            timeout)
        self.assertTrue(ok, f"descriptors and threads {counts(self.pid)}, "
                            f"before {baseline}")
