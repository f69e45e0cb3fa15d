"""The Debian packages of scripts/package: built once, linted, unpacked and run."""

import glob
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
UNIT = "usr/lib/systemd/user/zqtca-service.service"
REFERENCE = "usr/lib/zqtca/reference"
NICKNAME = "zqtca-service"


def missing_build_tools():
    return [tool for tool in ("dpkg-buildpackage", "dh", "dpkg-deb") if not shutil.which(tool)]


def run(args, timeout=120, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)


class PackagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = missing_build_tools()
        if missing:
            raise unittest.SkipTest("the Debian build tools are missing (" + ", ".join(missing) +
                                    "): scripts/setup installs debhelper and dpkg-dev")
        cls.scratch = tempfile.mkdtemp(prefix="zqt-packages-")
        # ZQT_PACKAGES_DIR: test packages built already (by scripts/package)
        # instead of building them here.
        out = os.environ.get("ZQT_PACKAGES_DIR") or os.path.join(cls.scratch, "out")
        if not os.environ.get("ZQT_PACKAGES_DIR"):
            build = subprocess.run([os.path.join(ROOT, "scripts", "package"), out],
                                   capture_output=True, text=True)
            if build.returncode != 0:
                shutil.rmtree(cls.scratch, ignore_errors=True)
                raise AssertionError("scripts/package failed:\n" + build.stdout[-4000:] +
                                     build.stderr[-4000:])
        cls.debs = {}
        for name in ("zqtca", "zqtca-reference-modules"):
            found = glob.glob(os.path.join(out, name + "_*.deb"))
            assert len(found) == 1, (name, os.listdir(out))
            cls.debs[name] = found[0]
        cls.root = os.path.join(cls.scratch, "root")
        for deb in cls.debs.values():
            subprocess.run(["dpkg-deb", "-x", deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.root, relative)

    def field(self, package, name):
        return run(["dpkg-deb", "-f", self.debs[package], name], check=True).stdout.strip()

    def contents(self, package):
        listing = run(["dpkg-deb", "-c", self.debs[package]], check=True).stdout
        return sorted(line.split()[-1].lstrip(".") for line in listing.splitlines()
                      if not line.startswith("d"))

    def home(self):
        home = tempfile.mkdtemp(prefix="home-", dir=self.scratch)
        return home, {**os.environ, "HOME": home}

    @unittest.skipUnless(shutil.which("lintian"), "lintian is not installed")
    def test_lintian_is_clean(self):
        for name, deb in self.debs.items():
            with self.subTest(package=name):
                out = run(["lintian", "--fail-on", "error,warning", deb], timeout=600)
                tags = [line for line in out.stdout.splitlines() if line[:2] in ("E:", "W:")]
                self.assertEqual(tags, [], out.stdout)
                self.assertEqual(out.returncode, 0, out.stdout + out.stderr)

    def test_contents(self):
        service = self.contents("zqtca")
        for wanted in ("/usr/bin/zqtca-service", "/" + UNIT,
                       "/usr/share/man/man1/zqtca-service.1.gz",
                       "/usr/share/doc/zqtca/README.md.gz", "/usr/share/doc/zqtca/copyright"):
            self.assertIn(wanted, service)
        modules = [f for f in self.contents("zqtca-reference-modules") if f.endswith(".so")]
        self.assertEqual(modules, ["/%s/%s" % (REFERENCE, name) for name in
                                   ("libULVO_LIB_client.so", "libulvocertenroll.so",
                                    "libulvoctrl.so")])
        # The recording test double is for tests only.
        for package in self.debs:
            self.assertFalse([f for f in self.contents(package) if "recording" in f], package)

    def test_relations(self):
        self.assertIn("libc6", self.field("zqtca", "Depends"))
        self.assertIn("libmbedtls", self.field("zqtca", "Depends"))
        depends = [d.strip() for d in self.field("zqtca-reference-modules", "Depends").split(",")]
        self.assertIn("pinentry-gnome3 | pinentry", depends)
        for library in ("libssl3", "libp11-kit0"):
            self.assertTrue([d for d in depends if d.startswith(library)], depends)
        self.assertEqual(self.field("zqtca-reference-modules", "Recommends"),
                         "opensc-pkcs11, pcscd")

    def test_installing_starts_and_enables_nothing(self):
        for name, deb in self.debs.items():
            control = os.path.join(self.scratch, "control-" + name)
            subprocess.run(["dpkg-deb", "-e", deb, control], check=True)
            postinst = os.path.join(control, "postinst")
            if not os.path.exists(postinst):
                continue
            with open(postinst, encoding="utf-8") as f:
                script = f.read()
            with self.subTest(package=name):
                self.assertNotRegex(script, r"deb-systemd-invoke[^\n]*(start|restart)")
                # Enabling only again what a user's earlier install had enabled.
                if "--user enable" in script:
                    self.assertIn("--user debian-installed", script)
                    self.assertNotIn("new installations run enable", script)

    def test_unpacked_binary_runs(self):
        out = run([self.path("usr/bin/zqtca-service"), "--version"], check=True)
        self.assertTrue(out.stdout.startswith("ZQTCAServiceClient"))
        home, env = self.home()
        pair = os.path.join(home, "pair")
        os.mkdir(pair)
        run([self.path("usr/bin/zqtca-service"), "--make-cert", pair], env=env, check=True)
        self.assertEqual(sorted(os.listdir(pair)), ["ssl_crt.pem", "ssl_key.pem"])
        self.assertEqual(os.stat(os.path.join(pair, "ssl_key.pem")).st_mode & 0o777, 0o600)

    def test_service_loads_the_packaged_reference_modules(self):
        if not shutil.which("unshare") or run(["unshare", "-n", "true"]).returncode != 0:
            self.skipTest("no private network namespace here (unshare -n) for the fixed ports")
        home, env = self.home()
        env.pop("LD_LIBRARY_PATH", None)
        proc = subprocess.Popen(
            ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0"',
             self.path("usr/bin/zqtca-service")],
            cwd=home, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            time.sleep(3)
        finally:
            proc.send_signal(signal.SIGTERM)
            _, errors = proc.communicate(timeout=20)
        # "control module libulvoctrl.so: <path>, control ulvo.ctrl created"
        found = {name: os.path.normpath(where) for name, where in
                 re.findall(r"(?:control module|list library) (\S+): (/[^,\s]+)", errors)}
        for module in ("libulvoctrl.so", "libulvocertenroll.so", "libULVO_LIB_client.so"):
            self.assertEqual(found.get(module), self.path(REFERENCE + "/" + module), errors)
        self.assertIn("control ulvo.ctrl created", errors)

    def user_unit(self):
        """The packaged unit in a folder of its own, naming the unpacked binary
        (systemd checks that the programs exist), and a user manager's
        environment for systemd-analyze --user."""
        home, env = self.home()
        runtime = os.path.join(home, "run")
        units = os.path.join(home, "units")
        os.makedirs(runtime, mode=0o700)
        os.makedirs(units)
        with open(self.path(UNIT), encoding="utf-8") as f:
            text = f.read().replace("/usr/bin/zqtca-service", self.path("usr/bin/zqtca-service"))
        unit = os.path.join(units, "zqtca-service.service")
        with open(unit, "w", encoding="utf-8") as f:
            f.write(text)
        # Documentation= names the packaged man page, which systemd looks up.
        env.update(XDG_RUNTIME_DIR=runtime, MANPATH=self.path("usr/share/man"))
        return unit, env

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_systemd_accepts_the_unit(self):
        with open(self.path(UNIT), encoding="utf-8") as f:
            text = f.read()
        self.assertIn("ExecStart=/usr/bin/zqtca-service\n", text)
        self.assertIn("WantedBy=graphical-session.target\n", text)
        self.assertNotIn("PrivateTmp", re.sub(r"#.*", "", text))
        unit, env = self.user_unit()
        out = run(["systemd-analyze", "--user", "verify", unit], env=env)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stderr.strip(), "")

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_systemd_applies_the_hardening(self):
        unit, env = self.user_unit()
        out = run(["systemd-analyze", "--user", "security", "--offline=yes", unit], env=env)
        passed = {line.split()[1].split("=")[0] for line in out.stdout.splitlines()
                  if line.startswith("\u2713")}
        for setting in ("NoNewPrivileges", "ProtectSystem", "LockPersonality",
                        "MemoryDenyWriteExecute", "SystemCallArchitectures"):
            self.assertIn(setting, passed, out.stdout)
        self.assertIn("\u2713 RestrictAddressFamilies=~AF_PACKET", out.stdout)
        print("\n" + out.stdout.strip().splitlines()[-1])

    @unittest.skipUnless(shutil.which("certutil"), "certutil is not installed (libnss3-tools)")
    def test_trust_and_untrust_in_scratch_databases(self):
        home, env = self.home()
        chromium = os.path.join(home, ".pki", "nssdb")
        firefox = os.path.join(home, ".mozilla", "firefox", "x1y2z3.default-esr")
        for db in (chromium, firefox):
            os.makedirs(db)
            run(["certutil", "-N", "-d", "sql:" + db, "--empty-password"], check=True)
        pair = os.path.join(home, ".local", "share", "zqtca", "ZQTService")
        os.makedirs(pair)
        binary = self.path("usr/bin/zqtca-service")
        run([binary, "--make-cert", pair], env=env, check=True)

        def listings():
            return [run(["certutil", "-L", "-d", "sql:" + db], check=True).stdout
                    for db in (chromium, firefox)]

        first = run([binary, "--trust-cert"], env=env)
        self.assertEqual(first.returncode, 0, first.stderr)
        self.assertEqual(first.stdout.count(": added"), 2, first.stdout)
        trusted = listings()
        for listing in trusted:
            self.assertRegex(listing, r"(?m)^%s\s+P,,\s*$" % NICKNAME)

        again = run([binary, "--trust-cert"], env=env)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(again.stdout.count("nothing changed"), 2, again.stdout)
        self.assertEqual(listings(), trusted)

        for expected in ("removed", "nothing changed"):
            out = run([binary, "--untrust-cert"], env=env)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout.count(expected), 2, out.stdout)
            for listing in listings():
                self.assertNotIn(NICKNAME, listing)

    def test_trust_without_certutil_fails_clearly(self):
        home, env = self.home()
        env["PATH"] = os.path.join(home, "empty")
        out = run([self.path("usr/bin/zqtca-service"), "--trust-cert"], env=env)
        self.assertEqual(out.returncode, 1)
        self.assertIn("libnss3-tools", out.stderr)


if __name__ == "__main__":
    unittest.main()
