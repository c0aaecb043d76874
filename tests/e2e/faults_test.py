"""What a complex survives, end to end: pairs of vetlina-run complexes on vetlina-sim,
a caller and an answerer, each pair with one fault of the line, the analyzer, the
modem or the disk. Independent cells share one simulated network (a channel and a
pair of numbers each) so that they run side by side. Every cell checks the outcome
lines of both sides, the counters of the caller's saved scenario, the resume where a
broken call resumes, and that every file of DATA, SCN and Prot on both sides is whole.

VETLINA_E2E_SCALE sets the time scale (20)."""

import datetime
import os
import re
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from network import NetworkTestCase, Sim, complex_station  # noqa: E402
from wholeness import scenario, torn_files  # noqa: E402

SCALE = float(os.environ.get("VETLINA_E2E_SCALE", "20"))
KINDS = ("SinTime", "O132Time", "O131Time", "MTTSTime", "O42Time", "ImpTime", "BlkTime",
         "EchoTime", "DiscrTime")
# The callers of a network dial at the same moment of the simulator's clock, BEGIN
# seconds after it started (their entries' BegTime), so that a fault fixed to a moment
# falls into the step it is meant for. The steps of a session with a sine of 60 s each
# way, counted from BEGIN (the dial waits up to 10 s for the entry's time): the caller
# measures from about 25 s to 90 s and generates to about 155 s; the reconnection (or
# the throughput test) follows.
BEGIN = 240
LONG_SINE = 60
IN_METER_STEP = BEGIN + 55
AFTER_FIRST_LINK = BEGIN + 110


def entry(ident, number, total=1, **times):
    e = {"Id": ident, "Number": number, "NumTotal": total, "NumMin": total, "SincTime": 2}
    for kind in KINDS:
        e[kind] = times.get(kind, 0)
    return e


class Cell:
    """One pair and its fault. `faults` are the network's faults, with the station
    names "caller" and "answerer" replaced by the pair's; `analyzer` maps a side to
    the faults of its analyzer; the caller's run stops `stop_after` seconds of the
    clock after BEGIN if it has not ended by itself, or as soon as one of its protocol
    lines matches `until` (the operator's stop: the event the cell waits for, with
    `stop_after` only the bound of a cell that never gets there)."""

    def __init__(self, name, times=None, total=1, faults=(), analyzer=None, options=(),
                 answerer_options=(), caller_times="", stop_after=400, until=None):
        self.name = name
        self.times = times or {}
        self.total = total
        self.faults = list(faults)
        self.analyzer = analyzer or {}
        self.options = list(options)
        self.answerer_options = list(answerer_options)
        self.caller_times = caller_times
        self.stop_after = stop_after
        self.until = until


class FaultNetworkTestCase(NetworkTestCase):
    line_wait = 240

    def run_cells(self, cells, seconds=150, prepare=None, after_start=None,
                  answerer_preexec=None):
        """Runs the cells' pairs on one network until every caller has ended its run
        by itself (or `seconds` real seconds passed), then stops the answerers. The
        pairs are self.pairs[cell.name] = (caller, answerer)."""
        stations, channels, faults = [], [], []
        for n, cell in enumerate(cells):
            a, b = "A%d" % n, "B%d" % n
            sa = complex_station(a, "1%03d" % (2 * n))
            sb = complex_station(b, "1%03d" % (2 * n + 1))
            for side, station in (("caller", sa), ("answerer", sb)):
                if side in cell.analyzer:
                    station["analyzer"]["faults"] = cell.analyzer[side]
            stations += [sa, sb]
            channels.append({"between": [a, b], "model": {"attenuationDb": 6,
                                                          "noiseDbm": -60}})
            for fault in cell.faults:
                f = dict(fault)
                f["station"] = a if f["station"] == "caller" else b
                faults.append(f)
        sim = Sim(self.folder, {"stations": stations, "channels": channels,
                                "faults": faults}, SCALE)
        self.sims.append(sim)
        started = datetime.datetime.strptime(sim.events("started")[0]["time"],
                                             "%d.%m.%Y %H:%M:%S.%f")
        begin = (started + datetime.timedelta(seconds=BEGIN)).strftime("%d.%m.%Y %H:%M:%S")
        self.pairs = {}
        for n, cell in enumerate(cells):
            if prepare:
                prepare(cell, os.path.join(self.folder, "A%d" % n),
                        os.path.join(self.folder, "B%d" % n))
            b = self.complex(sim, "B%d" % n, "2%07d" % n, "HangTime=100")
            a = self.complex(sim, "A%d" % n, "1%07d" % n, cell.caller_times)
            e = entry("2%07d" % n, "1%03d" % (2 * n + 1), cell.total, **cell.times)
            e["BegTime"] = begin
            a.scenario([e])
            self.pairs[cell.name] = (a, b)
        for cell in cells:
            a, b = self.pairs[cell.name]
            b.start(SCALE, "--passive", "--trace", *cell.answerer_options,
                    preexec_fn=(answerer_preexec or {}).get(cell.name))
            a.start(SCALE, "--active", "SCN/s.scn", "--trace", "--exit-when-done",
                    "--stop-after", str(BEGIN + cell.stop_after), *cell.options)
        if after_start:
            after_start(self.pairs)
        began = time.monotonic()
        end = began + seconds
        waiting = {cell.name: cell.until for cell in cells}
        while time.monotonic() < end:
            running = 0
            for name, (a, b) in self.pairs.items():
                if a.process.poll() is not None:
                    continue
                running += 1
                until = waiting[name]
                if until and any(re.search(until, t) for t in a.texts()):
                    a.process.send_signal(signal.SIGTERM)
                    waiting[name] = None
            if not running:
                break
            time.sleep(0.05)
        sys.stderr.write("\n%d pairs ran for %.0f s\n" % (len(cells), time.monotonic() - began))
        self.status = {}
        for name, (a, b) in self.pairs.items():
            self.status[name] = (a.stop(), b.stop())
            e = scenario(a.folder)["entries"][0]
            # The cell's outcome for the log: exits, counters, the lines of both sides.
            sys.stderr.write("\n[%s] exit %d/%d; Calls %d NUS %d NUV %d Otb %d sessions %d\n"
                             % (name, self.status[name][0][0], self.status[name][1][0],
                                e["Calls"], e["FailNUS"], e["FailNUV"], e["FailOtb"],
                                e["SessionsDone"]))
            for side, run in (("A", a), ("B", b)):
                sys.stderr.write("  %s: %s\n" % (side, " | ".join(
                    t for t in run.texts() if not t.startswith(" -"))[:600]))
        return sim

    # What a cell checks -------------------------------------------------------

    def assertWhole(self, *runs):
        for run in runs:
            self.assertEqual(torn_files(run.folder), [], run.folder)

    def assertCount(self, run, pattern, count):
        found = [t for t in run.texts() if re.search(pattern, t)]
        self.assertEqual(len(found), count, "%r in:\n%s" % (pattern, "\n".join(run.texts())))

    def assertCounters(self, run, **expected):
        e = scenario(run.folder)["entries"][0]
        self.assertEqual({k: e[k] for k in expected}, expected, e)

    def assertExit(self, name, caller, answerer):
        (a_status, a_err), (b_status, b_err) = self.status[name]
        self.assertEqual(a_status, caller, a_err)
        self.assertEqual(b_status, answerer, b_err)


def line_break(**when):
    return dict({"fault": "lineBreak", "station": "caller", "times": 1}, **when)


LINE_CELLS = [
    Cell("greeting", {"SinTime": 4}, faults=[line_break(afterBytes=20)]),
    Cell("transfer", {"SinTime": 4}, faults=[line_break(afterBytes=1500)]),
    Cell("measuring", {"SinTime": LONG_SINE}, faults=[line_break(at=IN_METER_STEP)]),
    Cell("reconnection", {"SinTime": LONG_SINE},
         faults=[line_break(afterConnectMs=0, **{"from": AFTER_FIRST_LINK})]),
    Cell("exchange", {"SinTime": LONG_SINE},
         faults=[line_break(afterBytes=40, **{"from": AFTER_FIRST_LINK})]),
    Cell("throughput", {"SinTime": LONG_SINE, "DiscrTime": 10},
         faults=[line_break(afterConnectMs=6000, **{"from": AFTER_FIRST_LINK})]),
]
DEVICE_CELLS = [
    Cell("analyzer off at start-up", {"SinTime": 4},
         analyzer={"caller": {"switchedOff": {"fromS": 0, "untilS": BEGIN + 1000}}}),
    Cell("analyzer off in a meter step", {"SinTime": LONG_SINE},
         analyzer={"caller": {"switchedOff": {"fromS": IN_METER_STEP,
                                              "untilS": IN_METER_STEP + 20}}}),
    Cell("analyzer off in a generator step", {"SinTime": LONG_SINE}, stop_after=260,
         analyzer={"answerer": {"switchedOff": {"fromS": IN_METER_STEP,
                                                "untilS": IN_METER_STEP + 20}}}),
    Cell("caller's modem off", {"SinTime": LONG_SINE},
         faults=[{"fault": "modemOff", "station": "caller", "from": IN_METER_STEP}]),
    Cell("answerer's modem off", {"SinTime": LONG_SINE}, stop_after=260,
         faults=[{"fault": "modemOff", "station": "answerer", "from": IN_METER_STEP}]),
    Cell("DSR lost", {"SinTime": 4},
         faults=[{"fault": "dsrLost", "station": "caller"},
                 {"fault": "dsrLost", "station": "answerer"}]),
]
# At 1e-3 lost or doubled bytes the scenario transfer fails a few times before one gets
# through: the cell waits for the first session (the operator stops the caller then),
# however long the calls before it took on a busy machine.
BYTE_CELLS = [
    Cell("%s %g" % (kind, rate), {"SinTime": 4}, total=2,
         stop_after=600 if (kind != "byteCorrupt" and rate == 1e-3) else 250,
         until=r"^Сеанс 1 " if (kind != "byteCorrupt" and rate == 1e-3) else None,
         faults=[{"fault": kind, "station": "caller", "probability": rate, "seed": 7}])
    for kind in ("byteCorrupt", "byteLoss", "byteDuplicate") for rate in (1e-4, 1e-3, 1e-2)
]


def limit_file_size(size):
    """A child's set-up: no file beyond `size` bytes, and a write past it fails with
    EFBIG instead of killing the process (SIGXFSZ ignored), as a full disk fails it."""
    def set_up():
        import resource
        import signal
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return set_up


class LineBreakTest(FaultNetworkTestCase):
    """The line broken in each step of a session; the caller calls again, and the
    next call goes on where the system resumes."""

    def test_the_line_broken_in_each_step(self):
        self.run_cells(LINE_CELLS)
        for cell in LINE_CELLS:
            with self.subTest(cell.name):
                a, b = self.pairs[cell.name]
                self.assertExit(cell.name, 0, 0)
                self.assertWhole(a, b)
                for run in (a, b):
                    self.assertCount(run, r"^Сеанс 1 \(из 1\): класс .* - цикл выполнен$", 1)
                if cell.name in ("greeting", "transfer"):
                    # Отбой on both sides; the next call hands the scenario over again.
                    self.assertCounters(a, Calls=2, FailOtb=1, FailNUV=0, SessionsDone=1)
                    self.assertCount(a, r"^Отбой", 1)
                    self.assertCount(b, r"^Отбой", 1)
                    self.assertCount(a, r"^Передача сценария$", 2 if cell.name == "transfer"
                                     else 1)
                    self.assertCount(a, r"^Измеритель: SIN$", 1)
                elif cell.name in ("measuring", "throughput"):
                    # The analyzers measure on to the end of their plan; the modems then
                    # find no far modem on the broken line: НУВ. The next call resumes
                    # with the result exchange, without measuring again.
                    self.assertCounters(a, Calls=2, FailOtb=0, FailNUV=1, SessionsDone=1)
                    self.assertCount(a, r"^НУВ \(нет несущей\)$", 1)
                    self.assertCount(b, r"^Неустанов взаимодействия$", 1)
                else:
                    # Broken as the modems connect again or in the exchange: Отбой, and
                    # the next call resumes with the exchange.
                    self.assertCounters(a, Calls=2, FailOtb=1, FailNUV=0, SessionsDone=1)
                    self.assertCount(a, r"^Отбой", 1)
                    self.assertCount(b, r"^Отбой", 1)
                if cell.name not in ("greeting", "transfer"):
                    for run, measured in ((a, r"^Измеритель: SIN$"), (b, r"^Измеритель: SIN$")):
                        self.assertCount(run, measured, 1)
                    self.assertCount(a, r"^Обмен результатами$", 2 if cell.name in (
                        "reconnection", "exchange") else 1)
                    self.assertCount(b, r"^Обмен результатами с ", 2 if cell.name in (
                        "reconnection", "exchange") else 1)
                    # Both sides keep one pair of data files of the session.
                    for run in (a, b):
                        kinds = [f["kind"] for f in run.data_files()]
                        self.assertEqual(kinds, ["norms", "data", "data"], run.folder)


class DeviceTest(FaultNetworkTestCase):
    """The analyzer or the modem switched off, and DSR lost."""

    def test_analyzer_and_modem_faults(self):
        self.run_cells(DEVICE_CELLS)
        # The analyzer that does not answer at start-up: the run does not begin.
        name = "analyzer off at start-up"
        a, b = self.pairs[name]
        self.assertExit(name, 3, 0)
        self.assertIn("[ Анализатор ZMK-5] COM2: Анализатор отключен или выключен",
                      self.status[name][0][1])
        self.assertEqual(a.data_files(), [])
        self.assertCounters(a, Calls=0)
        # A device that fails in the session ends that side's run (status 3) with its
        # failure line and a message file of the series; the other side's modem finds
        # no far modem when it reconnects, and the caller calls on until it is stopped.
        failures = {
            "analyzer off in a meter step": ("caller", "Отключение анализатора", 5),
            "analyzer off in a generator step": ("answerer", "Отключение анализатора", 5),
            "caller's modem off": ("caller", "Отключение модема", 5),
            "answerer's modem off": ("answerer", "Отключение модема", 5),
        }
        for name, (side, line, code) in failures.items():
            with self.subTest(name):
                a, b = self.pairs[name]
                failed, other = (a, b) if side == "caller" else (b, a)
                self.assertExit(name, 3 if side == "caller" else 0,
                                3 if side == "answerer" else 0)
                self.assertWhole(a, b)
                self.assertCount(failed, "^" + line + "$", 1)
                files = failed.data_files()
                self.assertEqual(files[-1]["kind"], "message", files)
                self.assertEqual(files[-1]["code"], code, files)
                if side == "caller":
                    # The answerer finds no far modem at the reconnection and answers on.
                    self.assertCount(b, r"^Неустанов взаимодействия$", 1)
                    self.assertCount(b, r"^Жду звонка$", 2)
                    # The caller's calls of the run are kept in its scenario file.
                    self.assertCounters(a, Calls=1, SessionsDone=0)
                else:
                    # The reconnection and then every call find a dead far modem: НУВ,
                    # each counted, and kept in the scenario file when the operator
                    # stops the run.
                    e = scenario(a.folder)["entries"][0]
                    self.assertGreaterEqual(e["FailNUV"], 1, e)
                    self.assertEqual(e["Calls"], e["FailNUV"], e)
                    self.assertCount(a, r"^Снято оператором$", 1)
        # DSR lost on both modems: the carrier is what the session follows; it completes.
        name = "DSR lost"
        a, b = self.pairs[name]
        self.assertExit(name, 0, 0)
        self.assertWhole(a, b)
        self.assertCounters(a, Calls=1, FailOtb=0, FailNUV=0, SessionsDone=1)


# The caller's lines that say the far complex refused the call or the entry.
REFUSAL = re.compile(r"^Несоответствие версий ПО$|^Вместо .* ответил|отвергнут|^Сценарий не передан")


class ByteFaultTest(FaultNetworkTestCase):
    """Corrupted, lost and doubled bytes between the modems, a series of two."""

    def check(self, cells):
        self.run_cells(cells)
        for cell in cells:
            with self.subTest(cell.name):
                a, b = self.pairs[cell.name]
                self.assertExit(cell.name, 0, 0)
                self.assertWhole(a, b)
                e = scenario(a.folder)["entries"][0]
                # Every call has its outcome, a session or a failure, but for a call that
                # the operator's stop cut short.
                outcomes = e["SessionsDone"] + e["FailNUS"] + e["FailNUV"] + e["FailOtb"]
                stopped = "Снято оператором" in a.texts()
                # A corrupted greeting or entry can be refused by the far complex's checks
                # (a version that does not match, an entry out of range): the caller gives
                # the entry up, a call that ends without a failure count.
                refused = sum(1 for text in a.texts() if REFUSAL.search(text))
                self.assertIn(e["Calls"], range(outcomes, outcomes + refused + stopped + 1), e)
                if not refused:
                    self.assertEqual(e["SessionsDone"] == 2, not stopped, e)
                else:
                    self.assertEqual(e["Finished"], 1, e)
                for run in (a, b):
                    self.assertNotIn("Зависание", run.texts())
                self.outcomes[cell.name] = e

    def test_corrupted_lost_and_doubled_bytes(self):
        self.outcomes = {}
        self.check(BYTE_CELLS)
        # Corrupted bytes keep a block's length: the link cannot see them, and every
        # session of the series goes through.
        for rate in ("0.0001", "0.001"):
            self.assertEqual(self.outcomes["byteCorrupt " + rate]["SessionsDone"], 2)
        # At 1e-2 a corrupted greeting or entry is often refused by the far side's checks
        # of what it receives: the series goes through, or the entry is given up, or the
        # calls end as Отбой until the operator's stop.
        dense = self.outcomes["byteCorrupt 0.01"]
        self.assertTrue(
            dense["SessionsDone"] == 2 or dense["Finished"] == 1 or dense["FailOtb"] >= 1, dense)
        for kind in ("byteLoss", "byteDuplicate"):
            # 1e-4: the link's repeats hide them; 1e-3: the scenario transfer (4 KB)
            # fails now and then (Отбой), the caller calls again, and sessions go
            # through; 1e-2: no block of that size gets through, every call ends as
            # Отбой until the operator's stop.
            self.assertEqual(self.outcomes["%s 0.0001" % kind]["SessionsDone"], 2)
            self.assertGreaterEqual(self.outcomes["%s 0.001" % kind]["SessionsDone"], 1)
            self.assertGreater(self.outcomes["%s 0.001" % kind]["FailOtb"], 0)
            self.assertEqual(self.outcomes["%s 0.01" % kind]["SessionsDone"], 0)
            self.assertGreater(self.outcomes["%s 0.01" % kind]["FailOtb"], 0)


PAGE = 4096


def fill(folder, pages_left):
    """Fills the small file system at `folder` until `pages_left` pages are free."""
    st = os.statvfs(folder)
    free = st.f_bavail * st.f_frsize
    with open(os.path.join(folder, "filler"), "ab") as f:
        f.write(b"\0" * max(0, free - pages_left * PAGE))


class FullDiskTest(FaultNetworkTestCase):
    """A disk that fills up while a data file, a document or the scenario file is
    written: the write fails, the run ends (status 3) with its message, and no file is
    left torn."""

    def setUp(self):
        super().setUp()
        self.mounts = []

    def tearDown(self):
        for run in self.runs:
            if run.process and run.process.poll() is None:
                run.stop()
        for folder in self.mounts:
            subprocess.run(["umount", folder], check=False)
        super().tearDown()

    def mount(self, folder):
        os.makedirs(folder)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", folder],
                              capture_output=True)
        if done.returncode != 0:
            self.skipTest("no small file system can be mounted here: %s" % done.stderr)
        self.mounts.append(folder)

    def test_a_full_disk(self):
        cells = [Cell("data file", {"SinTime": 4}), Cell("scenario save", {"SinTime": 4}),
                 Cell("document", {"SinTime": 4})]

        def prepare(cell, a_folder, b_folder):
            if cell.name != "document":
                self.mount(a_folder)

        def after_start(pairs):
            # The file system fills up once the run has opened its documents: at once for
            # the norms file of the transfer; with two pages left for the session's two
            # data files, so that the scenario file's save is what finds the disk full.
            for name, trigger, pages in (("data file", r"^Вызов ", 0),
                                         ("scenario save", r"^Измеритель: SIN$", 2)):
                a, _ = pairs[name]
                self.assertLine(a, trigger, seconds=120)
                fill(a.folder, pages)

        # The answerer of the document cell may not let its files grow past 2000 bytes:
        # the statistics entry of the session is the first write to pass it.
        self.run_cells(cells, prepare=prepare, after_start=after_start,
                       answerer_preexec={"document": limit_file_size(2000)})
        for cell in cells:
            with self.subTest(cell.name):
                a, b = self.pairs[cell.name]
                self.assertWhole(a, b)
        # The norms file cannot be written: the caller ends its run, and leaves no
        # empty or partial file in DATA.
        a, b = self.pairs["data file"]
        self.assertExit("data file", 3, 0)
        self.assertCount(a, r"^Ошибка записи в файл норм$", 1)
        self.assertEqual(a.data_files(), [])
        # The scenario file cannot be saved: the caller ends its run; the file it had
        # stays as it was.
        a, b = self.pairs["scenario save"]
        self.assertExit("scenario save", 3, 0)
        # Shown once: the end of the run tries the save again without a second message.
        self.assertEqual(self.status["scenario save"][0][1].count("Ошибка записи файла сценария"),
                         1, self.status["scenario save"][0][1])
        self.assertCount(a, r"^Ошибка записи файла сценария$", 1)
        self.assertCounters(a, Calls=0, SessionsDone=0)
        # The statistics entry (about 2 KB) is the first write past the limit: the
        # answerer ends its run; the statistics document keeps its last whole entry.
        self.assertExit("document", 0, 3)
        self.assertIn("Невозможна запись в файл статистики", self.status["document"][1][1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
