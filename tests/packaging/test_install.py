"""`cmake --install` into a scratch home: the files the unit needs, and a unit systemd accepts."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="zqt-install-")
        cls.prefix = os.path.join(cls.home, ".local")
        subprocess.run(["cmake", "--install", os.environ["ZQT_BUILD_DIR"], "--prefix", cls.prefix],
                       check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.home, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.prefix, relative)

    def test_layout(self):
        binary = self.path("bin/zqtca-service")
        self.assertTrue(os.stat(binary).st_mode & stat.S_IXUSR)
        for relative in ("share/systemd/user/zqtca-service.service", "share/doc/zqtca/README.md",
                         "lib/zqtca/recording/libulvoctrl.so",
                         "lib/zqtca/recording/libulvocertenroll.so",
                         "lib/zqtca/reference/libulvoctrl.so"):
            with self.subTest(file=relative):
                self.assertTrue(os.path.isfile(self.path(relative)))
        self.assertTrue(os.path.isfile(self.path("share/man/man1/zqtca-service.1")))
        self.assertTrue(os.path.isdir(self.path("lib/zqtca")))

    def test_installed_binary_runs(self):
        out = subprocess.run([self.path("bin/zqtca-service"), "--version"], capture_output=True,
                             timeout=10, check=True)
        self.assertTrue(out.stdout.startswith("ZQTCAServiceClient".encode()))

    def test_installed_unit_names_the_installed_binary(self):
        unit = self.unit_lines()
        self.assertEqual(unit["ExecStart"], [self.path("bin/zqtca-service")])
        self.assertEqual(unit["Environment"][-1], "LD_LIBRARY_PATH=" + self.path("lib/zqtca"))

    def test_unit_start_steps_make_the_folders_and_the_certificate_once(self):
        unit = self.unit_lines()
        runtime = os.path.join(self.home, "run")
        os.makedirs(runtime, exist_ok=True)
        # "-": the folder may be missing until a start step makes it.
        workdir = unit["WorkingDirectory"][0].lstrip("-").replace("%h", self.home)
        key = os.path.join(workdir, "ZQTService", "ssl_key.pem")
        keys = []
        for _ in range(2):  # the second start finds the pair and keeps it
            for step in unit["ExecStartPre"]:
                # The prefixes only change privileges; each step runs in the
                # working folder once it exists, as systemd runs it.
                command = step.lstrip("+-!@:").replace("%h", self.home).replace("%t", runtime)
                subprocess.run(command, shell=True, cwd=workdir if os.path.isdir(workdir) else "/",
                               check=True, stdout=subprocess.DEVNULL)
            self.assertEqual(stat.S_IMODE(os.stat(key).st_mode), 0o600)
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(runtime, "ZQTCA")).st_mode), 0o700)
            with open(key, "rb") as f:
                keys.append(f.read())
        self.assertEqual(keys[0], keys[1])

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_systemd_accepts_the_unit(self):
        unit = self.path("share/systemd/user/zqtca-service.service")
        # Its Documentation= names the installed man page, which systemd looks up.
        out = subprocess.run(["systemd-analyze", "verify", unit], capture_output=True, text=True,
                             env={**os.environ, "HOME": self.home,
                                  "MANPATH": self.path("share/man")}, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stderr.strip(), "")

    def unit_lines(self):
        """Each setting of the installed unit, with all its values in order."""
        entries = {}
        with open(self.path("share/systemd/user/zqtca-service.service"), encoding="utf-8") as f:
            for line in f:
                if "=" in line and not line.startswith("#"):
                    name, value = line.rstrip("\n").split("=", 1)
                    entries.setdefault(name, []).append(value)
        return entries


if __name__ == "__main__":
    unittest.main()
