#!/usr/bin/python3
"""EncryptAesFile through the service against `openssl enc` on the same file.

The built service runs with the reference control module and a files folder
in a scratch directory holding one file of --mib MiB (random bytes). One
request encrypts it with a hex key (AES-256-CBC, the form `openssl enc
-aes-256-cbc` also makes) and one with a password (the authenticated
PBKDF2 + AES-256-GCM form); `openssl enc -aes-256-cbc` on the same file is
the baseline, run in the same run. The service's peak memory (VmHWM) is read
before and after, to show it stays flat in the file's size.

    bench/aes_file_rate.py [--build DIR] [--mib N]
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PORT = 9651


def hwm_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def post(request_text):
    body = json.dumps({"ServeltData": request_text}).encode()
    req = urllib.request.Request(f"http://127.0.0.1:{PORT}/", data=body)
    with urllib.request.urlopen(req, timeout=600) as answer:
        return answer.read().decode()


def wait_port(proc, timeout=15.0):
    import socket
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            sys.exit("aes_file_rate: the service ended at start")
        try:
            with socket.create_connection(("127.0.0.1", PORT), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    sys.exit("aes_file_rate: the service does not listen")


def timed_request(in_path, out_path, key):
    text = (f"ProcessNum{{1}}ProcessEntity-1{{FunctionType[113]Param1[{in_path}]"
            f"Param2[{out_path}]Param3[{key}]}}ProcessCallBackName{{cb}}")
    start = time.monotonic()
    answer = post(text)
    elapsed = time.monotonic() - start
    if "FunctionRes[0]" not in answer:
        sys.exit(f"aes_file_rate: EncryptAesFile answered {answer}")
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "default"))
    parser.add_argument("--mib", type=int, default=256)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    import socket
    with socket.socket() as probe:
        if probe.connect_ex(("127.0.0.1", PORT)) == 0:
            sys.exit(f"aes_file_rate: port {PORT} is in use (another test or benchmark?)")

    scratch = tempfile.mkdtemp(prefix="zqt-bench-aes-")
    try:
        files = os.path.join(scratch, "data", "zqtca", "files")
        os.makedirs(files, mode=0o700)
        big = os.path.join(files, "big.bin")
        subprocess.run(["head", "-c", f"{args.mib}M", "/dev/urandom"], check=True,
                       stdout=open(big, "wb"))
        binary = os.path.join(args.build, "bin", "zqtca-service")
        os.makedirs(os.path.join(scratch, "ZQTService"))
        subprocess.run([binary, "--make-cert", os.path.join(scratch, "ZQTService")], check=True,
                       stdout=subprocess.DEVNULL)
        env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(args.build, "lib", "reference"),
                   XDG_DATA_HOME=os.path.join(scratch, "data"),
                   XDG_CONFIG_HOME=os.path.join(scratch, "config"), ZQT_PKCS11_MODULES="",
                   TMPDIR=scratch)
        proc = subprocess.Popen([binary], cwd=scratch, env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            wait_port(proc)
            before = hwm_kb(proc.pid)
            key = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"
            cbc = timed_request("big.bin", "big.cbc", key)
            gcm = timed_request("big.bin", "big.gcm", "a bench password")
            after = hwm_kb(proc.pid)
        finally:
            proc.terminate()
            proc.wait(timeout=15)
        start = time.monotonic()
        subprocess.run(["openssl", "enc", "-aes-256-cbc", "-K", key, "-iv", "00" * 16, "-in", big,
                        "-out", os.path.join(scratch, "openssl.cbc")], check=True)
        baseline = time.monotonic() - start
        mib = args.mib
        rows = [
            ("EncryptAesFile hex key (AES-256-CBC)", mib / cbc, mib / baseline),
            ("EncryptAesFile password (PBKDF2 + AES-256-GCM)", mib / gcm, mib / baseline),
        ]
        print(f"{'measure':50} {'service':>12} {'openssl enc':>12} {'ratio':>6}  target")
        for name, service, openssl in rows:
            mark = ">=0.8 met" if service / openssl >= 0.8 else ">=0.8 MISSED"
            print(f"{name:50} {service:8.0f} MiB/s {openssl:8.0f} MiB/s {service / openssl:5.2f}x  "
                  f"{mark}")
        print(f"service peak memory: {before} kB before, {after} kB after ({mib} MiB file)")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
