"""The service with the reference control module, signing with the demo
identity of scripts/demo-identity: requests sent with curl as a page or a
user would, every signature checked with the openssl command line, the PIN
given by a scripted pinentry that counts its prompts."""

import base64
import json
import os
import re
import shutil
import stat
import subprocess
import tempfile
import unittest

from harness import PLAIN_PORT, TLS_PORT, ServiceTestCase

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEMO_IDENTITY = os.path.join(ROOT, "scripts", "demo-identity")

# Answers every GETPIN with the password and logs each command it is sent,
# one line each. The module starts it with a trimmed environment, so it
# uses shell built-ins only and has its log path written in.
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

ANSWER = re.compile(r"FunctionType\[(\d+)\]FunctionRes\[(.*)\]ProcessCallBackName\[(.*)\]",
                    re.DOTALL)


def make_demo_identity(home):
    """Runs scripts/demo-identity into home/data and home/config; returns
    (password, {"RSA": serial, "SM2": serial}) from what it printed."""
    out = subprocess.run([DEMO_IDENTITY, os.path.join(home, "data"), os.path.join(home, "config")],
                         capture_output=True, text=True, check=True).stdout
    password = re.search(r"password[^:]*:\s+([0-9a-f]{12})\s*$", out, re.MULTILINE)
    serials = dict(re.findall(r"CN=zqtca demo (RSA|SM2)\s+serial ([0-9A-F]+)", out))
    if not password or set(serials) != {"RSA", "SM2"}:
        raise AssertionError("unexpected output of demo-identity:\n" + out)
    return password.group(1), serials


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=False)


def store_certificates(home, password):
    """{subject CN: (path, certificate PEM)} of every file in the store."""
    store = os.path.join(home, "data", "zqtca", "store")
    found = {}
    for name in sorted(os.listdir(store)):
        path = os.path.join(store, name)
        pem = openssl("pkcs12", "-in", path, "-nokeys", "-passin", f"pass:{password}").stdout
        cert = openssl("x509", data=pem).stdout
        cn = openssl("x509", "-noout", "-subject", "-nameopt", "multiline",
                     data=cert).stdout.decode()
        found[re.search(r"commonName\s+=\s+(.+)", cn).group(1).strip()] = (path, cert)
    return found


def chain(*steps, callback="cb"):
    """A request text whose steps run one after the other while they succeed."""
    parts = [f"ProcessNum{{{len(steps)}}}"]
    for number, (function, params) in enumerate(steps, start=1):
        body = f"FunctionType[{function}]"
        body += "".join(f"Param{i}[{value}]" for i, value in enumerate(params, start=1))
        if number < len(steps):
            body += f"TrueNext[{number + 1}]FalseNext[0]"
        parts.append(f"ProcessEntity-{number}{{{body}}}")
    parts.append(f"ProcessCallBackName{{{callback}}}")
    return "".join(parts)


def choose(subject):
    """The SetCert step that chooses the certificate whose subject holds subject."""
    return (5, ["", "", subject, "", "", ""])


class DemoIdentityTest(unittest.TestCase):
    """scripts/demo-identity itself: what it writes, and that it does it once."""

    def test_store_files_modes_and_a_second_run(self):
        home = tempfile.mkdtemp(prefix="zqt-demo-")
        try:
            password, serials = make_demo_identity(home)
            store = os.path.join(home, "data", "zqtca", "store")
            self.assertEqual(stat.S_IMODE(os.stat(store).st_mode), 0o700)
            certs = store_certificates(home, password)
            self.assertEqual(set(certs), {"zqtca demo RSA", "zqtca demo SM2"})
            ca = os.path.join(home, "config", "zqtca", "trust", "zqtca-demo-ca.pem")
            for cn, (path, cert) in certs.items():
                with self.subTest(cn):
                    self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
                    der = openssl("x509", "-outform", "DER", data=cert).stdout
                    digest = openssl("dgst", "-sha256", "-r", data=der).stdout.split()[0]
                    self.assertEqual(os.path.basename(path), digest.decode() + ".p12")
                    info = openssl("pkcs12", "-info", "-nokeys", "-in", path,
                                   "-passin", f"pass:{password}")
                    self.assertEqual(info.returncode, 0, info.stderr)
                    self.assertIn(b"Shrouded Keybag: PBES2, PBKDF2, AES-256-CBC", info.stderr)
                    # The certificate bag is not encrypted: no "Encrypted data" part.
                    self.assertNotIn(b"PKCS7 Encrypted data", info.stderr)
                    wrong = openssl("pkcs12", "-info", "-nokeys", "-in", path,
                                    "-passin", "pass:wrong")
                    self.assertNotEqual(wrong.returncode, 0)
                    serial = openssl("x509", "-noout", "-serial", data=cert).stdout.decode()
                    self.assertEqual(serial.strip(), "serial=" + serials[cn.split()[-1]])
                    verify = openssl("verify", "-CAfile", ca, data=cert)
                    self.assertEqual(verify.stdout.strip(), b"stdin: OK", verify.stderr)
                    text = openssl("x509", "-noout", "-text", data=cert).stdout.decode()
                    self.assertIn("Issuer: CN = zqtca demo CA", text)
                    self.assertRegex(text, r"Key Usage: critical\s+Digital Signature, "
                                           r"Non Repudiation")
            again = subprocess.run([DEMO_IDENTITY, os.path.join(home, "data"),
                                    os.path.join(home, "config")],
                                   capture_output=True, check=True)
            self.assertEqual((again.stdout, again.stderr), (b"", b""))
            self.assertEqual(store_certificates(home, password).keys(), certs.keys())
        finally:
            shutil.rmtree(home, ignore_errors=True)


class ReferenceModuleTest(ServiceTestCase):
    """One service with the reference module for the class; its software
    store holds the demo identity, and no PKCS#11 module is loaded."""

    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="zqt-ref-")
        try:
            cls.password, cls.serials = make_demo_identity(cls.home)
            cls.certs = store_certificates(cls.home, cls.password)
            cls.ca = os.path.join(cls.home, "config", "zqtca", "trust", "zqtca-demo-ca.pem")
            cls.pinentry_log = os.path.join(cls.home, "pinentry.log")
            pinentry = os.path.join(cls.home, "fake-pinentry")
            with open(pinentry, "w", encoding="ascii") as f:
                f.write(FAKE_PINENTRY.format(log=cls.pinentry_log, password=cls.password))
            os.chmod(pinentry, 0o755)
            cls.service_options = {
                "modules": "reference",
                "extra_env": {
                    "XDG_DATA_HOME": os.path.join(cls.home, "data"),
                    "XDG_CONFIG_HOME": os.path.join(cls.home, "config"),
                    "ZQT_PINENTRY": pinentry,
                    "ZQT_PKCS11_MODULES": "",
                },
            }
            super().setUpClass()
        except BaseException:
            shutil.rmtree(cls.home, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            super().tearDownClass()
        finally:
            shutil.rmtree(cls.home, ignore_errors=True)

    # ------------------------------------------------------------ helpers

    def post(self, text, tls=False):
        """The answer to a request text, sent with curl as JSON: (function, result)."""
        if tls:
            url = ["--cacert", self.service.cert_path, f"https://127.0.0.1:{TLS_PORT}/"]
        else:
            url = [f"http://127.0.0.1:{PLAIN_PORT}/"]
        out = subprocess.run(["curl", "-s", "-S", "--max-time", "60",
                              "-H", "Content-Type: application/json",
                              "--data-binary", "@-", *url],
                             input=json.dumps({"ServeltData": text}).encode(),
                             capture_output=True, check=False)
        self.assertEqual(out.returncode, 0, out.stderr)
        answer = ANSWER.fullmatch(out.stdout.decode("utf-8"))
        self.assertIsNotNone(answer, out.stdout)
        self.assertEqual(answer.group(3), "cb")
        return int(answer.group(1)), answer.group(2)

    def prompts(self):
        """The GETPIN commands the fake pinentry has answered, with the
        commands each prompt got before it."""
        try:
            with open(self.pinentry_log, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        found, before = [], []
        for line in lines:
            if line == "START":
                before = []
            elif line.startswith("GETPIN"):
                found.append(before)
                before = []
            else:
                before.append(line)
        return found

    def signed(self, steps, tls=False):
        """Runs the steps, checks they asked for the PIN exactly once and end
        in a non-empty text result; returns that text and the prompt's commands."""
        asked = len(self.prompts())
        function, result = self.post(chain(*steps), tls=tls)
        self.assertEqual(function, steps[-1][0], result)
        self.assertNotEqual(result, "", self.service.stderr())
        now = self.prompts()
        self.assertEqual(len(now) - asked, 1, now[asked:])
        return result, now[-1]

    def sign_hello(self, subject="zqtca demo RSA", tls=False):
        return self.signed([choose(subject), (10, ["hello", ""])], tls=tls)

    def public_key(self, cn):
        out = openssl("x509", "-noout", "-pubkey", data=self.certs[cn][1])
        self.assertEqual(out.returncode, 0, out.stderr)
        path = os.path.join(self.home, cn.replace(" ", "-") + ".pub.pem")
        with open(path, "wb") as f:
            f.write(out.stdout)
        return path

    def openssl_verifies(self, data, signature_b64, cn, *options):
        """Whether openssl dgst accepts the Base64 signature on data."""
        sig = os.path.join(self.home, "signature.bin")
        msg = os.path.join(self.home, "message.bin")
        with open(sig, "wb") as f:
            f.write(base64.b64decode(signature_b64, validate=True))
        with open(msg, "wb") as f:
            f.write(data)
        out = openssl("dgst", *options, "-verify", self.public_key(cn), "-signature", sig, msg)
        return out.returncode == 0 and out.stdout.strip() == b"Verified OK"

    # -------------------------------------------------------------- cases

    def test_sign_gives_an_rsa_sha256_signature_of_the_utf8_text(self):
        signature, prompt = self.sign_hello()
        self.assertTrue(self.openssl_verifies(b"hello", signature, "zqtca demo RSA", "-sha256"))
        self.assertFalse(self.openssl_verifies(b"hellO", signature, "zqtca demo RSA", "-sha256"))
        # The prompt says whose key it unlocks, with a time limit.
        self.assertTrue(any(line.startswith("SETTIMEOUT") for line in prompt), prompt)
        self.assertTrue(any(line.startswith("SETDESC") and "zqtca demo RSA" in line
                            for line in prompt), prompt)

    def test_verify_sign_accepts_the_signature_and_rejects_other_text(self):
        signature, _ = self.sign_hello()
        asked = len(self.prompts())
        serial = self.serials["RSA"]
        even = serial.lower().rjust(len(serial) + len(serial) % 2, "0")
        cases = {
            "by serial": (chain((11, ["hello", signature, serial])), "0"),
            "by serial, lower case with colons": (
                chain((11, ["hello", signature, ":".join(re.findall("..", even))])), "0"),
            "the chosen certificate": (
                chain(choose("zqtca demo RSA"), (11, ["hello", signature, ""])), "0"),
            "other text": (chain((11, ["hellO", signature, serial])), "-11"),
        }
        for name, (text, expected) in cases.items():
            with self.subTest(name):
                self.assertEqual(self.post(text), (11, expected))
        self.assertEqual(len(self.prompts()), asked, "verification asked for a PIN")

    def test_attach_sign_gives_a_cms_with_the_content(self):
        cms_b64, _ = self.signed([choose("zqtca demo RSA"), (8, ["hello", ""])])
        path = os.path.join(self.home, "attached.der")
        with open(path, "wb") as f:
            f.write(base64.b64decode(cms_b64, validate=True))
        out = openssl("cms", "-verify", "-binary", "-inform", "DER", "-in", path,
                      "-CAfile", self.ca)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout, b"hello")
        # With another anchor than the demo CA the same signature is not trusted.
        other = openssl("cms", "-verify", "-binary", "-inform", "DER", "-in", path,
                        "-CAfile", self.service.cert_path)
        self.assertNotEqual(other.returncode, 0)

    def test_sign_with_the_sm2_identity(self):
        signature, prompt = self.sign_hello("zqtca demo SM2")
        self.assertTrue(any("zqtca demo SM2" in line for line in prompt), prompt)
        gm_id = ("-sm3", "-sigopt", "distid:1234567812345678")
        self.assertTrue(self.openssl_verifies(b"hello", signature, "zqtca demo SM2", *gm_id))
        self.assertFalse(self.openssl_verifies(b"hellO", signature, "zqtca demo SM2", *gm_id))

    def test_sign_over_https(self):
        signature, _ = self.sign_hello(tls=True)
        self.assertTrue(self.openssl_verifies(b"hello", signature, "zqtca demo RSA", "-sha256"))

    def test_no_pkcs11_module_is_loaded_when_the_override_is_empty(self):
        # Choosing looks at every store, tokens included.
        self.assertEqual(self.post(chain(choose("zqtca demo RSA"))), (5, "0"))
        with open(f"/proc/{self.service.proc.pid}/maps", encoding="ascii",
                  errors="replace") as f:
            maps = f.read()
        loaded = sorted({line.split()[-1] for line in maps.splitlines()
                         if any(name in line for name in
                                ("libsofthsm2.so", "opensc-pkcs11.so", "p11-kit-trust.so"))})
        self.assertEqual(loaded, [])

    def test_error_queries_after_a_success_and_after_a_failure(self):
        self.assertEqual(self.post(chain(choose("zqtca demo RSA"), (32, []))), (32, "OK"))
        self.assertEqual(self.post(chain(choose("zqtca demo RSA"), (31, []))), (31, "0"))
        # A subject nothing matches: SetCert fails with -4, and the chain
        # ends, or goes on to the query at FalseNext.
        self.assertEqual(self.post(chain(choose("no such subject"), (32, []))), (5, "-4"))
        failed = ("ProcessNum{2}ProcessEntity-1{FunctionType[5]Param3[no such subject]"
                  "TrueNext[0]FalseNext[2]}ProcessEntity-2{FunctionType[%d]}"
                  "ProcessCallBackName{cb}")
        self.assertEqual(self.post(failed % 31), (31, "-4"))
        function, message = self.post(failed % 32)
        self.assertEqual(function, 32)
        self.assertNotIn(message, ("", "OK"))

if __name__ == "__main__":
    unittest.main()
