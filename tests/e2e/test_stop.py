"""The daemon's stop and start: a bounded stop that runs no queued control
call, children with the default signal mask, start failures that say so,
closed standard descriptors, and the rate of listen-failure lines."""

import json
import os
import resource
import shlex
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from harness import PLAIN_PORT, TLS_PORT, Service, build_dir, wait_for_port, wait_until


def sanitized_build():
    """True for the ASan/UBSan and TSan trees: their runtimes need more
    descriptors and far more address space than these limits leave, and
    report their own failures instead of the service's."""
    try:
        with open(os.path.join(build_dir(), "CMakeCache.txt"), encoding="utf-8") as f:
            cache = f.read()
    except OSError:
        return False
    return "ZQT_SANITIZE:BOOL=ON" in cache or "ZQT_TSAN:BOOL=ON" in cache


SANITIZED = sanitized_build()


def tsan_build():
    try:
        with open(os.path.join(build_dir(), "CMakeCache.txt"), encoding="utf-8") as f:
            return "ZQT_TSAN:BOOL=ON" in f.read()
    except OSError:
        return False


TSAN = tsan_build()


VERIFY = "ProcessNum{1}ProcessEntity-1{FunctionType[11]Param1[%d]}ProcessCallBackName{v}"
INSTANCE_NAME = b"\0 CZQTCAServiceClient_https"
STOP_SIGNALS = (signal.SIGHUP, signal.SIGINT, signal.SIGTERM)


def binary():
    return os.path.join(build_dir(), "bin", "zqtca-service")


def post(text, timeout=30):
    """The answer's body; empty when the service closed the connection."""
    cmd = ["curl", "-s", "--max-time", str(timeout), "--data-binary",
           json.dumps({"ServeltData": text}), f"http://127.0.0.1:{PLAIN_PORT}/"]
    return subprocess.run(cmd, capture_output=True, check=False).stdout


def start_posts(count):
    """count requests in flight at once, on threads; their answers in a list."""
    answers = []
    threads = [threading.Thread(target=lambda i=i: answers.append(post(VERIFY % i)))
               for i in range(count)]
    for t in threads:
        t.start()
    return threads, answers


def waited_exit(proc, timeout):
    """(exit status, seconds it took), or (None, timeout) if still running."""
    began = time.monotonic()
    try:
        rc = proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, timeout
    return rc, time.monotonic() - began


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat", encoding="ascii") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def run_alone(args=(), env=None, preexec=None, timeout=10):
    """The binary run in a scratch folder until it exits by itself."""
    with tempfile.TemporaryDirectory() as folder:
        return subprocess.run([binary(), *args], cwd=folder, capture_output=True,
                              timeout=timeout, preexec_fn=preexec,
                              env={**os.environ, "LD_LIBRARY_PATH": "", **(env or {})})


class OrderlyStopTest(unittest.TestCase):
    def slow_service(self, delay_ms, cut_off=False):
        env = {"ZQT_RECORDING_DELAY_MS": str(delay_ms)}
        if cut_off and TSAN:
            # A cut-off exit leaves threads unjoined on purpose, and TSan's
            # own exit pause (a second by default) is not the service's.
            # Races are still reported.
            env["TSAN_OPTIONS"] = " ".join(filter(None, [
                os.environ.get("TSAN_OPTIONS", ""), "report_thread_leaks=0", "atexit_sleep_ms=0"]))
        service = Service(with_cert=False, extra_env=env)
        self.addCleanup(service.cleanup)
        self.addCleanup(service.stop)
        return service

    def test_requests_queued_behind_a_slow_call_are_dropped_at_a_stop(self):
        service = self.slow_service(3000)
        threads, answers = start_posts(5)
        # One call runs; the other four wait for the dispatch lock.
        self.assertTrue(wait_until(lambda: len(service.calls()) == 1, 10))
        time.sleep(0.5)
        service.proc.send_signal(signal.SIGTERM)
        rc, took = waited_exit(service.proc, 10)
        self.assertEqual(rc, 0)
        self.assertLess(took, 5.5)
        for t in threads:
            t.join(30)
        self.assertEqual(len(service.calls()), 1, service.calls())
        self.assertEqual(len(answers), 5)
        self.assertEqual(answers.count(b""), 5, answers)  # closed, not answered
        self.assertTrue(service.wait_for_stderr("dropped", count=4, timeout=1), service.stderr())
        self.assertNotIn("cut off", service.stderr())

    def test_a_call_that_outlasts_the_grace_is_cut_off_with_one_line(self):
        service = self.slow_service(30000, cut_off=True)
        threads, _ = start_posts(2)
        self.assertTrue(wait_until(lambda: len(service.calls()) == 1, 10))
        service.proc.send_signal(signal.SIGTERM)
        rc, took = waited_exit(service.proc, 10)
        self.assertEqual(rc, 0, service.stderr())
        self.assertGreater(took, 4.0)  # the call had its grace
        self.assertLess(took, 5.5)
        self.assertEqual(service.stderr().count("cut off"), 1, service.stderr())
        self.assertIn("a control call still running", service.stderr())
        self.assertEqual(len(service.calls()), 1)
        for t in threads:
            t.join(30)

    def test_a_second_stop_signal_exits_at_once(self):
        service = self.slow_service(30000, cut_off=True)
        threads, _ = start_posts(1)
        self.assertTrue(wait_until(lambda: len(service.calls()) == 1, 10))
        service.proc.send_signal(signal.SIGTERM)
        time.sleep(0.3)
        self.assertIsNone(service.proc.poll())  # the call has its grace
        service.proc.send_signal(signal.SIGINT)
        rc, took = waited_exit(service.proc, 10)
        self.assertEqual(rc, 0, service.stderr())
        self.assertLess(took, 2.0)
        self.assertEqual(service.stderr().count("second stop signal"), 1, service.stderr())
        for t in threads:
            t.join(30)

    def test_without_a_call_running_the_stop_is_prompt_and_in_order(self):
        service = self.slow_service(0)
        self.assertEqual(post(VERIFY % 1), b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]")
        service.proc.send_signal(signal.SIGTERM)
        rc, took = waited_exit(service.proc, 10)
        self.assertEqual(rc, 0, service.stderr())
        self.assertLess(took, 2.0)
        self.assertNotIn("cut off", service.stderr())


class ChildSignalMaskTest(unittest.TestCase):
    def test_a_helper_started_by_a_control_blocks_no_stop_signal(self):
        folder = tempfile.mkdtemp(prefix="zqt-mask-")
        mask_file = os.path.join(folder, "mask.txt")
        service = Service(with_cert=False, extra_env={
            "ZQT_RECORDING_SPAWN": "grep SigBlk /proc/self/status",
            "ZQT_RECORDING_SPAWN_OUT": mask_file})
        try:
            answer = post(VERIFY % 7)
            with open(mask_file, encoding="ascii") as f:
                blocked = int(f.read().split(":")[1].strip(), 16)
        finally:
            rc = service.stop()
            service.cleanup()
            subprocess.run(["rm", "-rf", folder], check=False)
        self.assertEqual(answer, b"FunctionType[11]FunctionRes[0]ProcessCallBackName[v]")
        for sig in STOP_SIGNALS:
            self.assertFalse(blocked & (1 << (sig - 1)), f"{sig.name} blocked: {blocked:#x}")
        self.assertEqual(rc, 0)




class StartFailureTest(unittest.TestCase):
    def test_a_name_held_by_another_process_ends_the_start_silently(self):
        squatter = subprocess.Popen(
            ["python3", "-c", "import socket,sys,time\n"
             "s=socket.socket(socket.AF_UNIX)\n"
             f"s.bind({INSTANCE_NAME!r})\nprint('held', flush=True)\ntime.sleep(60)"],
            stdout=subprocess.PIPE)
        try:
            self.assertEqual(squatter.stdout.readline(), b"held\n")
            started = run_alone()
            self.assertEqual(started.returncode, 0)
            self.assertEqual(started.stdout, b"")
            self.assertEqual(started.stderr, b"")
        finally:
            squatter.kill()
            squatter.wait()
            squatter.stdout.close()

    @unittest.skipIf(SANITIZED, "a sanitizer runtime cannot work within five descriptors")
    def test_a_guard_that_cannot_be_made_is_an_error_not_a_quiet_success(self):
        # Too few descriptors for the guard's socket: the start must fail loudly.
        def few_descriptors():
            resource.setrlimit(resource.RLIMIT_NOFILE, (5, 5))
        started = run_alone(preexec=few_descriptors)
        self.assertEqual(started.returncode, 1, started.stderr)
        lines = started.stderr.decode("utf-8", "replace").splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("single-instance name", lines[0])
        self.assertIn("Too many open files", lines[0])

    @unittest.skipIf(SANITIZED, "a sanitizer runtime cannot reserve its shadow memory under the limit")
    def test_a_service_thread_that_cannot_start_is_an_error(self):
        # A default thread stack larger than the address space allows.
        def no_room_for_threads():
            resource.setrlimit(resource.RLIMIT_STACK, (4 << 30, 4 << 30))
            resource.setrlimit(resource.RLIMIT_AS, (3500 << 20, 3500 << 20))
        started = run_alone(preexec=no_room_for_threads)
        self.assertEqual(started.returncode, 1, started.stderr)
        errors = [line for line in started.stderr.decode("utf-8", "replace").splitlines()
                  if " error " in line]
        self.assertEqual(len(errors), 1, errors)
        self.assertIn("cannot start the service thread", errors[0])
        self.assertEqual(started.stdout, b"")  # it never got to listen

    def test_closed_standard_descriptors_are_on_dev_null_and_the_cpu_idles(self):
        with tempfile.TemporaryDirectory() as folder:
            proc = subprocess.Popen(
                ["sh", "-c", 'exec "$0" 0<&- 1>&- 2>&-', binary()], cwd=folder,
                env={**os.environ, "LD_LIBRARY_PATH": ""}, stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                self.assertTrue(wait_for_port(PLAIN_PORT) and wait_for_port(TLS_PORT))
                for fd in (0, 1, 2):
                    self.assertEqual(os.readlink(f"/proc/{proc.pid}/fd/{fd}"), "/dev/null")
                before = cpu_ticks(proc.pid)
                time.sleep(2)
                used = (cpu_ticks(proc.pid) - before) / os.sysconf("SC_CLK_TCK")
                self.assertLess(used, 0.3)
            finally:
                proc.send_signal(signal.SIGTERM)
                self.assertEqual(proc.wait(timeout=10), 0)


class ListenFailureLogTest(unittest.TestCase):
    def test_a_taken_port_is_reported_once_and_its_recovery_once(self):
        squatter = socket.socket()
        squatter.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        squatter.bind(("127.0.0.1", TLS_PORT))
        squatter.listen()
        folder = tempfile.mkdtemp(prefix="zqt-listen-")
        err_path = os.path.join(folder, "stderr.txt")
        with open(err_path, "wb") as err:
            proc = subprocess.Popen([binary()], cwd=folder, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=err,
                                    env={**os.environ, "LD_LIBRARY_PATH": ""})

        def log():
            with open(err_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        try:
            self.assertTrue(wait_until(lambda: "cannot listen on" in log(), 10))
            time.sleep(3.5)  # three more retries, a second apart
            self.assertEqual(log().count("cannot listen on"), 1, log())
            squatter.close()
            self.assertTrue(wait_until(lambda: "again" in log(), 10), log())
            self.assertTrue(wait_for_port(TLS_PORT))
            time.sleep(1.5)
            self.assertEqual(log().count("cannot listen on"), 1, log())
            self.assertEqual(log().count("listening on"), 1, log())
        finally:
            squatter.close()
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(timeout=10), 0)
            subprocess.run(["rm", "-rf", folder], check=False)


def unit_start_steps(home, runtime):
    """The unit's ExecStartPre commands, as argument lists, for this home."""
    unit = os.path.join(os.path.dirname(__file__), "..", "..", "packaging",
                        "zqtca-service.service")
    steps = []
    with open(unit, encoding="utf-8") as f:
        for line in f:
            if line.startswith("ExecStartPre="):
                # A leading "+" (run outside the sandbox) is systemd's, not the command's.
                text = line.split("=", 1)[1].strip().lstrip("+").replace("%h", home)
                text = text.replace("%t", runtime)
                steps.append(shlex.split(text))
    return steps


class UnitStartStepsTest(unittest.TestCase):
    """The unit's steps before the start, run as systemd would run them."""

    def run_steps(self, present):
        home = tempfile.mkdtemp(prefix="zqt-home-")
        self.addCleanup(subprocess.run, ["rm", "-rf", home], check=False)
        bindir = os.path.join(home, ".local", "bin")
        work = os.path.join(home, ".local", "share", "zqtca")
        runtime = os.path.join(home, "run")
        os.makedirs(bindir)
        os.makedirs(os.path.join(work, "ZQTService"))
        os.makedirs(runtime)
        os.symlink(binary(), os.path.join(bindir, "zqtca-service"))
        for name in present:
            with open(os.path.join(work, "ZQTService", name), "w", encoding="ascii") as f:
                f.write("kept\n")
        errors = b""
        for step in unit_start_steps(home, runtime):
            done = subprocess.run(step, cwd=work, capture_output=True, timeout=30)
            self.assertEqual(done.returncode, 0, done.stderr)
            errors += done.stderr
        folder = os.path.join(runtime, "ZQTCA")
        self.assertEqual(os.stat(folder).st_mode & 0o777, 0o700)
        return os.path.join(work, "ZQTService"), errors.decode("utf-8")

    def test_a_first_start_makes_the_pair(self):
        pair, errors = self.run_steps([])
        self.assertEqual(sorted(os.listdir(pair)), ["ssl_crt.pem", "ssl_key.pem"])
        with open(os.path.join(pair, "ssl_crt.pem"), encoding="ascii") as f:
            self.assertIn("BEGIN CERTIFICATE", f.read())
        self.assertEqual(errors, "")

    def test_half_a_pair_is_explained_and_left_alone(self):
        for present, missing in (("ssl_crt.pem", "ssl_key.pem"), ("ssl_key.pem", "ssl_crt.pem")):
            with self.subTest(present=present):
                pair, errors = self.run_steps([present])
                self.assertEqual(os.listdir(pair), [present])
                with open(os.path.join(pair, present), encoding="ascii") as f:
                    self.assertEqual(f.read(), "kept\n")
                self.assertIn(f"ZQTService/{missing} is missing", errors)
                self.assertIn(f"delete {pair}/{present}", errors)
                self.assertIn("plain HTTP", errors)

    def test_a_whole_pair_is_kept_quietly(self):
        pair, errors = self.run_steps(["ssl_crt.pem", "ssl_key.pem"])
        for name in ("ssl_crt.pem", "ssl_key.pem"):
            with open(os.path.join(pair, name), encoding="ascii") as f:
                self.assertEqual(f.read(), "kept\n")
        self.assertEqual(errors, "")


if __name__ == "__main__":
    unittest.main()
