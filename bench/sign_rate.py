#!/usr/bin/python3
"""Signatures per second through the service with the reference module.

The built service runs with the reference control module, a software store
of two identities (RSA 2048 and ECDSA P-256, PKCS#12 files as the store
keeps them) and a scripted pinentry that answers every prompt at once. One
kept-alive connection sends Sign requests one after the other, checking
every answer. The baseline is `openssl speed -seconds 3` (rsa2048,
ecdsap256) in the same run. The prompt's own cost, one run of the scripted
pinentry with the conversation the module had with it, is timed alone, and
the service's rate is given with it and net of it.

    bench/sign_rate.py [--build DIR] [--seconds N]   # alone; bench/run calls it too
"""

import argparse
import base64
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PORT, TLS_PORT = 9651, 9652

# Answers every GETPIN with the password and logs every command it gets; it
# uses shell built-ins only (the module gives it a trimmed environment).
FAKE_PINENTRY = """#!/bin/sh
log='{log}'
echo "START" >>"$log"
echo "OK Pleased to meet you"
while IFS= read -r line; do
  echo "$line" >>"$log"
  case "$line" in
    GETPIN*) printf 'D %s\\nOK\\n' '{password}' ;;
    BYE*) echo "OK closing connection"; exit 0 ;;
    *) echo "OK" ;;
  esac
done
"""

KEYS = {
    "RSA-2048": (["-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048"], "rsa2048",
                 "-sha256"),
    "P-256": (["-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"], "ecdsap256",
              "-sha256"),
}

SIGN_TEXT = "ProcessNum{1}ProcessEntity-1{FunctionType[10]Param1[hello]Param2[]}" \
            "ProcessCallBackName{cb}"
ANSWER = re.compile(rb"FunctionType\[(\d+)\]FunctionRes\[([^\]]*)\]ProcessCallBackName\[cb\]")
TICK = os.sysconf("SC_CLK_TCK")


def run(*cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, **kw)


def make_identity(scratch, store, name, genpkey, password):
    """A self-signed signing certificate and its key, as one store file."""
    key = os.path.join(scratch, name + ".key")
    cert = os.path.join(scratch, name + ".pem")
    run("openssl", "genpkey", "-quiet", *genpkey, "-out", key)
    run("openssl", "req", "-x509", "-new", "-key", key, "-subj", f"/CN=zqtca bench {name}",
        "-days", "30", "-sha256", "-addext", "keyUsage=critical,digitalSignature",
        "-out", cert)
    der = run("openssl", "x509", "-in", cert, "-outform", "DER").stdout
    digest = run("openssl", "dgst", "-sha256", "-r", input=der).stdout.split()[0].decode()
    path = os.path.join(store, digest + ".p12")
    env = dict(os.environ, ZQT_BENCH_PASSWORD=password)
    run("openssl", "pkcs12", "-export", "-certpbe", "NONE", "-inkey", key, "-in", cert,
        "-passout", "env:ZQT_BENCH_PASSWORD", "-out", path, env=env)
    os.chmod(path, 0o600)
    return cert


def wait_port(port, proc, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def cpu_seconds(pid):
    """(own user+system, waited-for children's user+system) CPU seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # Fields 14-17 of stat(5); fields[0] here is field 3.
    utime, stime, cutime, cstime = (int(x) for x in fields[11:15])
    return (utime + stime) / TICK, (cutime + cstime) / TICK


class Connection:
    """One kept-alive HTTP connection to the service, minimal on purpose:
    the request bytes are built once, the chunked answer read to its end."""

    def __init__(self, text):
        body = ('{"ServeltData":"' + text + '"}').encode()
        self.request = (f"POST / HTTP/1.1\r\nHost: 127.0.0.1:{PORT}\r\n"
                        f"Content-Type: application/json\r\nContent-Length: {len(body)}\r\n"
                        f"\r\n").encode() + body
        self.sock = socket.create_connection(("127.0.0.1", PORT), timeout=120)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def exchange(self, request=None):
        self.sock.sendall(request or self.request)
        data = b""
        while not data.endswith(b"\r\n0\r\n\r\n"):
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("the service closed the connection: " + repr(data))
            data += chunk
        head, _, rest = data.partition(b"\r\n\r\n")
        body = b""
        while True:
            size_line, _, rest = rest.partition(b"\r\n")
            size = int(size_line, 16)
            if size == 0:
                break
            body += rest[:size]
            rest = rest[size + 2:]
        match = ANSWER.fullmatch(body)
        if not match:
            raise RuntimeError("unexpected answer: " + repr(body))
        return int(match.group(1)), match.group(2).decode()

    def close(self):
        self.sock.close()


def openssl_speed(algorithm, seconds=3):
    """openssl speed's sign rate (per second of its own CPU time, as it
    reports it), and signatures per wall-clock second of the same run."""
    done = run("openssl", "speed", "-seconds", str(seconds), "-mr", algorithm)
    out = (done.stdout + done.stderr).decode()  # it writes the +R lines to standard error
    # +R1:<count>:<bits>:<seconds> (RSA sign), +R5 (ECDSA sign); +F2/+F4 the rates.
    kind = "R1" if algorithm.startswith("rsa") else "R5"
    count = int(re.search(rf"^\+{kind}:(\d+):", out, re.M).group(1))
    final = re.search(r"^\+F[24]:\d+:\d+:([\d.]+):", out, re.M)
    return float(final.group(1)), count / seconds


def prompts(log_path):
    """The commands of each pinentry run, from the scripted pinentry's log."""
    try:
        with open(log_path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    runs = text.split("START\n")
    return [r.splitlines() for r in runs[1:]]


def pinentry_round_trip(program, commands, seconds):
    """Mean seconds of one run of the pinentry program with these commands,
    each answered before the next is sent, started with posix_spawn and two
    pipes as the module starts it (so Python's own costs stay small)."""
    times = []
    env = {"PATH": "/usr/bin:/bin"}
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline or len(times) < 20:
        began = time.perf_counter()
        to_child, from_parent = os.pipe()
        to_parent, from_child = os.pipe()
        pid = os.posix_spawn(program, [program], env,
                             file_actions=[(os.POSIX_SPAWN_DUP2, to_child, 0),
                                           (os.POSIX_SPAWN_DUP2, from_child, 1),
                                           (os.POSIX_SPAWN_CLOSE, from_parent),
                                           (os.POSIX_SPAWN_CLOSE, to_parent)],
                             setsigdef=(signal.SIGPIPE,))
        os.close(to_child)
        os.close(from_child)
        pending = b""

        def answer():
            # Reads up to the line that ends the answer (OK or ERR).
            nonlocal pending
            while True:
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    if line.startswith((b"OK", b"ERR")):
                        return line
                chunk = os.read(to_parent, 4096)
                if not chunk:
                    raise RuntimeError(f"{program} ended early")
                pending += chunk

        if not answer().startswith(b"OK"):
            raise RuntimeError(f"no greeting from {program}")
        for command in commands:
            os.write(from_parent, command.encode() + b"\n")
            answer()
        os.close(from_parent)
        os.close(to_parent)
        os.waitpid(pid, 0)
        times.append(time.perf_counter() - began)
    return statistics.mean(times), len(times)


def measure(build, scratch, seconds=8, log=lambda text: print(text, file=sys.stderr)):
    """Starts the service with the reference module in scratch, measures,
    stops it; returns the figures (a dict per key type, and the prompt's)."""
    os.makedirs(scratch, exist_ok=True)
    data = os.path.join(scratch, "data")
    config = os.path.join(scratch, "config")
    store = os.path.join(data, "zqtca", "store")
    os.makedirs(store, mode=0o700)
    os.makedirs(os.path.join(config, "zqtca", "trust"))
    os.makedirs(os.path.join(scratch, "ZQTCA"), mode=0o700)  # the daily log's folder
    password = run("openssl", "rand", "-hex", "6").stdout.decode().strip()
    certs = {name: make_identity(scratch, store, name, params[0], password)
             for name, params in KEYS.items()}
    pin_log = os.path.join(scratch, "pinentry.log")
    pinentry = os.path.join(scratch, "fake-pinentry")
    with open(pinentry, "w") as f:
        f.write(FAKE_PINENTRY.format(log=pin_log, password=password))
    os.chmod(pinentry, 0o755)

    binary = os.path.join(build, "bin", "zqtca-service")
    certdir = os.path.join(scratch, "ZQTService")
    os.makedirs(certdir)
    run(binary, "--make-cert", certdir)
    env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(build, "lib", "reference"),
               TMPDIR=scratch, XDG_DATA_HOME=data, XDG_CONFIG_HOME=config,
               ZQT_PINENTRY=pinentry, ZQT_PKCS11_MODULES="")
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    with open(os.path.join(scratch, "service-stdout.txt"), "ab") as out, \
            open(os.path.join(scratch, "service-stderr.txt"), "ab") as err:
        proc = subprocess.Popen([binary], cwd=scratch, env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err)
    figures = {}
    try:
        if not (wait_port(PORT, proc) and wait_port(TLS_PORT, proc)):
            raise RuntimeError("the service with the reference module did not start; see "
                               + scratch)
        for name, (_, speed_name, digest) in KEYS.items():
            figures[name] = sign_rate(name, certs[name], digest, speed_name, proc.pid,
                                      pin_log, scratch, seconds, log)
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            rc = proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            rc = proc.wait()
    if rc != 0:
        log(f"warning: the service stopped with status {rc}")

    # The prompt alone: the same conversation as the service's last prompt.
    conversation = prompts(pin_log)[-1]
    mean_s, runs = pinentry_round_trip(pinentry, conversation, min(seconds, 3))
    figures["prompt"] = {"seconds": mean_s, "runs": runs, "commands": len(conversation)}
    for name in KEYS:
        f = figures[name]
        per_sig = f["seconds"] / f["signatures"]
        f["net_rate"] = 1.0 / (per_sig - mean_s) if per_sig > mean_s else float("nan")
    return figures


def sign_rate(name, cert, digest, speed_name, pid, pin_log, scratch, seconds, log):
    log(f"Sign with the {name} software key through the service, 1 connection, {seconds} s")
    choose = Connection("ProcessNum{1}ProcessEntity-1{FunctionType[5]Param1[]Param2[]"
                        f"Param3[zqtca bench {name}]Param4[]Param5[]Param6[]}}"
                        "ProcessCallBackName{cb}")
    result = choose.exchange()
    choose.close()
    if result != (5, "0"):
        raise RuntimeError(f"SetCert for {name} answered {result}")

    conn = Connection(SIGN_TEXT)
    # One signature checked by openssl before the run.
    function, signature = conn.exchange()
    if function != 10 or not signature:
        raise RuntimeError(f"Sign with {name} failed: {function} {signature!r}")
    sig_path = os.path.join(scratch, "signature.bin")
    msg_path = os.path.join(scratch, "hello.txt")
    pub_path = os.path.join(scratch, "pub.pem")
    with open(sig_path, "wb") as f:
        f.write(base64.b64decode(signature, validate=True))
    with open(msg_path, "wb") as f:
        f.write(b"hello")
    with open(pub_path, "wb") as f:
        f.write(run("openssl", "x509", "-in", cert, "-noout", "-pubkey").stdout)
    check = subprocess.run(["openssl", "dgst", digest, "-verify", pub_path, "-signature",
                            sig_path, msg_path], capture_output=True)
    if check.returncode != 0:
        raise RuntimeError(f"openssl does not verify the {name} signature: {check.stdout!r}")

    asked = len(prompts(pin_log))
    cpu0, children0 = cpu_seconds(pid)
    count = 0
    began = time.perf_counter()
    deadline = began + seconds
    while time.perf_counter() < deadline:
        function, signature = conn.exchange()
        if function != 10 or not signature:
            raise RuntimeError(f"Sign with {name} failed during the run: {signature!r}")
        count += 1
    elapsed = time.perf_counter() - began
    cpu1, children1 = cpu_seconds(pid)
    conn.close()
    prompted = len(prompts(pin_log)) - asked
    if prompted != count:
        raise RuntimeError(f"{count} signatures but {prompted} prompts")

    log(f"openssl speed -seconds 3 {speed_name}")
    speed, speed_wall = openssl_speed(speed_name)
    return {"signatures": count, "seconds": elapsed, "rate": count / elapsed,
            "service_cpu_ms": (cpu1 - cpu0) / count * 1000,
            "pinentry_cpu_ms": (children1 - children0) / count * 1000,
            "openssl_speed": speed, "openssl_speed_wall": speed_wall}


def add_rows(table, figures):
    """The rows of these figures in bench/run's table."""
    prompt_ms = figures["prompt"]["seconds"] * 1000
    for name in KEYS:
        f = figures[name]
        target = (">=", 0.85) if name == "RSA-2048" else None
        table.add(f"Sign {name} soft key c=1: sig/s (vs openssl speed)", f["rate"],
                  f["openssl_speed"], "sig/s",
                  note=(f"{f['signatures']} signatures in {f['seconds']:.1f} s, one prompt "
                        f"each; service CPU {f['service_cpu_ms']:.2f} ms and pinentry CPU "
                        f"{f['pinentry_cpu_ms']:.2f} ms per signature; openssl speed "
                        f"{f['openssl_speed_wall']:,.0f} per wall-clock second"))
        table.add(f"Sign {name} soft key c=1, net of the prompt: sig/s", f["net_rate"],
                  f["openssl_speed"], "sig/s", target=target,
                  note=f"1 / (mean time per request - {prompt_ms:.2f} ms)")
    p = figures["prompt"]
    table.add("pinentry round trip alone (scripted)", prompt_ms * 1000, None, "us",
              note=(f"mean of {p['runs']} runs of the scripted pinentry, {p['commands']} "
                    f"commands each, as the module sent them"))


class _Table:
    """Rows printed as a plain list when this runs alone."""

    def __init__(self):
        self.rows = []

    def add(self, measure, service, baseline, unit, target=None, note=""):
        self.rows.append((measure, service, baseline, unit, target, note))

    def print(self):
        for measure, service, baseline, unit, target, note in self.rows:
            ratio = f"{service / baseline:.2f}x" if baseline else "-"
            base = f"{baseline:,.2f}" if baseline else "-"
            goal = f" (goal {target[0]}{target[1]})" if target else ""
            print(f"{measure}: {service:,.2f} {unit} vs {base}: {ratio}{goal}")
            if note:
                print(f"  {note}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("ZQT_BUILD_DIR",
                                                          os.path.join(ROOT, "build", "default")))
    parser.add_argument("--seconds", type=int, default=8)
    opts = parser.parse_args()
    for port in (PORT, TLS_PORT):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            sys.exit(f"sign_rate: port {port} is in use (another test or benchmark?)")
        except OSError:
            pass
    scratch = tempfile.mkdtemp(prefix="zqt-sign-")
    try:
        figures = measure(os.path.abspath(opts.build), scratch, opts.seconds)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    table = _Table()
    add_rows(table, figures)
    table.print()


if __name__ == "__main__":
    main()
