"""The programs as an operator runs them, for the end-to-end tests: vetlina-sim with a
configuration, complexes (a folder with Vetlina.ini and a scenario) run by vetlina-run,
their protocol lines as they come. The binaries are found in VETLINA_BIN (the build
folder); every process runs at the time scale VETLINA_TIME_SCALE of the test, on one
clock shared by the network's processes (VETLINA_CLOCK_FILE): when the machine is too
busy to keep the processes' waits on time at that scale, the shared clock slows down for
all of them alike instead of letting one fall behind the others."""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

# What a sanitizer writes when it finds a fault: AddressSanitizer's, LeakSanitizer's and
# ThreadSanitizer's reports and UndefinedBehaviorSanitizer's "file:line:col: runtime
# error: ...". A sanitizer build's processes are checked for them at the end of each test.
SANITIZER_REPORT = re.compile(r"(ERROR|WARNING): [A-Za-z]+Sanitizer|: runtime error: ")

BIN = os.environ.get("VETLINA_BIN", os.path.join(os.path.dirname(__file__), "../../build"))
SIM = os.path.join(BIN, "src/sim/vetlina-sim")
RUN = os.path.join(BIN, "src/cli/vetlina-run")
DATA = os.path.join(BIN, "src/cli/vetlina-data")

# The stored profile the program writes into a modem (numeric results, answer on the
# second ring, DTR hangs up, DSR only while connected), with the wait for the far
# carrier (S7) given in seconds.
def profile(carrier_wait=60):
    return "M0S0=2&D2&S1V0\\N2\\V1S7=%dS37=4" % carrier_wait


def complex_station(name, number, carrier_wait=60):
    return {"name": name, "type": "complex", "number": number,
            "modem": {"port": 0, "storedProfile": profile(carrier_wait),
                      "identification": "Modem of " + name},
            "analyzer": {"port": 0}}


def sanitizer_report(stderr):
    """The first sanitizer report in a process's stderr with what follows it, or None."""
    m = SANITIZER_REPORT.search(stderr or "")
    if m is None:
        return None
    start = stderr.rfind("\n", 0, m.start()) + 1
    return stderr[start:start + 3000]


class Sim:
    def __init__(self, folder, config, scale):
        self.log = os.path.join(folder, "sim.log")
        self.err = os.path.join(folder, "sim.err")
        path = os.path.join(folder, "sim.json")
        with open(path, "w") as f:
            json.dump(config, f)
        # The network's clock: the simulator sets it up, the complexes started after it
        # (which take os.environ) join it.
        clock = os.path.join(folder, "clock")
        if os.path.exists(clock):
            os.remove(clock)
        os.environ["VETLINA_CLOCK_FILE"] = clock
        env = dict(os.environ, VETLINA_TIME_SCALE=str(scale))
        with open(self.log, "w") as out, open(self.err, "w") as err:
            self.process = subprocess.Popen([SIM, path], stdout=out, stderr=err, env=env)
        if not self.wait_for(lambda e: e.get("event") == "started", 10):
            raise RuntimeError("vetlina-sim did not start: " + self.stderr())

    def events(self, event=None, station=None):
        out = []
        with open(self.log) as f:
            for line in f:
                try:
                    e = json.loads(line)
                except ValueError:
                    continue  # a line being written
                if (event is None or e.get("event") == event) and \
                        (station is None or e.get("station") == station):
                    out.append(e)
        return out

    def wait_for(self, match, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if any(match(e) for e in self.events()):
                return True
            time.sleep(0.02)
        return False

    def port(self, station, device="modem"):
        for e in self.events("listening", station):
            if e.get("device") == device:
                return e["port"]
        raise KeyError(station)

    def stderr(self):
        with open(self.err, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        """Ends the simulator; returns its exit status (0 after SIGTERM)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode


class Complex:
    """A complex's folder and its vetlina-run."""

    def __init__(self, folder, sim, station, ident, times=""):
        self.folder = folder
        os.makedirs(os.path.join(folder, "SCN"), exist_ok=True)
        with open(os.path.join(folder, "Vetlina.ini"), "w") as f:
            f.write("[VETLINA]\nIdent=%s\nModemPort=1\nZMKPort=2\n" % ident)
            f.write("[TIMES]\n%s\n" % times)
            f.write("[PORTS]\nCOM1=rfc2217://127.0.0.1:%d\nCOM2=rfc2217://127.0.0.1:%d\n"
                    % (sim.port(station), sim.port(station, "analyzer")))
        self.lines = []
        self.process = None
        self.err = None  # the run's stderr, once it has been stopped
        self.lock = threading.Lock()

    def scenario(self, entries):
        path = os.path.join(self.folder, "scn.json")
        with open(path, "w") as f:
            json.dump({"version": "01.12.99", "entries": entries}, f, ensure_ascii=False)
        subprocess.run([DATA, "scn", "make", path, "-o", os.path.join(self.folder, "SCN/s.scn")],
                       check=True)
        return "SCN/s.scn"

    def start(self, scale, *args, preexec_fn=None):
        env = dict(os.environ, VETLINA_TIME_SCALE=str(scale))
        self.process = subprocess.Popen([RUN] + list(args), cwd=self.folder, env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        preexec_fn=preexec_fn)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            with self.lock:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))

    def data_files(self):
        """The files of the complex's DATA folder in number order, as `dat show` reads them."""
        folder = os.path.join(self.folder, "DATA")
        names = sorted((n for n in os.listdir(folder) if re.fullmatch(r"zmk\d+\.dat", n)),
                       key=lambda n: int(n[3:-4])) if os.path.isdir(folder) else []
        if not names:
            return []
        out = subprocess.run([DATA, "dat", "show"] + [os.path.join(folder, n) for n in names],
                             capture_output=True, check=True)
        shown = json.loads(out.stdout)
        return shown if len(names) > 1 else [shown]

    def protocol(self):
        with self.lock:
            return list(self.lines)

    def events(self):
        """The event lines as (seconds of the day, text)."""
        out = []
        for line in self.protocol():
            m = re.match(r"(\d\d):(\d\d):(\d\d) (.*)$", line)
            if m:
                h, n, s = int(m.group(1)), int(m.group(2)), int(m.group(3))
                out.append((h * 3600 + n * 60 + s, m.group(4)))
        return out

    def texts(self):
        return [text for _, text in self.events()]

    def wait_for_line(self, pattern, seconds=60, count=1):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if sum(1 for t in self.texts() if re.search(pattern, t)) >= count:
                return True
            if self.process.poll() is not None:
                break
            time.sleep(0.02)
        return False

    def stop(self):
        """Ends the run as the operator does; returns its exit status and stderr (again
        on a later call)."""
        if self.err is not None:
            return self.process.returncode, self.err
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.reader.join(5)
        self.err = self.process.stderr.read().decode("utf-8", "replace")
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode, self.err


class NetworkTestCase(unittest.TestCase):
    """A test with a scratch folder of its own; the simulators and runs it appends to
    self.sims and self.runs are stopped at its end, whatever happened. A sanitizer's
    report in the stderr of any of them, or a simulator that did not end cleanly, fails
    the test then: the test itself may not look at every process's end."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vetlina-e2e-")
        self.folder = self.tmp.name
        self.sims = []
        self.runs = []

    def tearDown(self):
        faults = []
        for run in self.runs:
            if run.process:
                report = sanitizer_report(run.stop()[1])
                if report:
                    faults.append("vetlina-run in %s:\n%s" % (run.folder, report))
        for sim in self.sims:
            status = sim.stop()
            report = sanitizer_report(sim.stderr())
            if report or status != 0:
                faults.append("vetlina-sim (exit status %s):\n%s" % (status, report or sim.stderr()))
        self.keep_if_failed(faults)
        self.tmp.cleanup()
        if faults:
            self.fail("\n\n".join(faults))

    def keep_if_failed(self, faults):
        """With VETLINA_E2E_KEEP set to a folder, the scratch folder of a test that
        failed (its complexes' protocols, traces and files, the simulator's event log)
        is copied there before it is removed, for a failure seen once on a busy machine."""
        keep = os.environ.get("VETLINA_E2E_KEEP")
        outcome = getattr(self, "_outcome", None)
        result = getattr(outcome, "result", None)
        # A failed subTest is on the result already; a failure of the test itself is on
        # the outcome.
        failed = bool(faults) or not getattr(outcome, "success", True) or any(
            getattr(test, "test_case", test) is self
            for test, _ in getattr(result, "failures", []) + getattr(result, "errors", []))
        if keep and failed:
            target = os.path.join(keep, "%s-%s" % (self.id(), os.path.basename(self.folder)))
            try:
                shutil.copytree(self.folder, target, symlinks=True, dirs_exist_ok=True)
            except (OSError, shutil.Error) as error:
                print("could not keep %s: %s" % (self.folder, error))

    # How long (real seconds) assertLine waits unless told.
    line_wait = 60

    def complex(self, sim, station, ident, times=""):
        """A complex in a folder of its own, behind the simulator's station."""
        folder = os.path.join(self.folder, station)
        os.makedirs(folder, exist_ok=True)  # a test may have mounted a file system there
        c = Complex(folder, sim, station, ident, times)
        self.runs.append(c)
        return c

    def assertLine(self, run, pattern, seconds=None, count=1):
        if not run.wait_for_line(pattern, seconds or self.line_wait, count):
            self.fail("no %d line(s) matching %r in:\n%s"
                      % (count, pattern, "\n".join(run.protocol())))
