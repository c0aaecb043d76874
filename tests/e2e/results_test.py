"""What a series leaves behind, end to end: two vetlina-run complexes on vetlina-sim, A
calling B for a series of sessions. Both sides write a norms file when the series begins
and two data files per session in DATA, evaluate every session (the session line with
its class), and write the statistics, the passport and the summary-table row. A series
cut short by the operator leaves a message file, and a session that breaks a norm stops
the measurements while the run option says so.

The files in DATA are read here with a reader of this test's own, from the layout of
the files, and each is also shown by `vetlina-data dat show`. The documents are rendered
by headless Chromium, which must show their Cyrillic text.

VETLINA_E2E_SCALE sets the time scale (10)."""

import glob
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from network import DATA, NetworkTestCase, Sim, complex_station  # noqa: E402

SCALE = float(os.environ.get("VETLINA_E2E_SCALE", "10"))
HANG_TIME = 100
A_IDENT, B_IDENT = "11111111", "22222222"
KINDS = ("SinTime", "O132Time", "O131Time", "MTTSTime", "O42Time", "ImpTime", "BlkTime",
         "EchoTime", "DiscrTime")
FREQUENCY_LISTS = ("mttAtt", "mttDel")


def entry(total, **times):
    """B's entry with only the kinds given by their times enabled."""
    e = {"Id": B_IDENT, "Number": "1002", "NumTotal": total, "NumMin": total, "SincTime": 2}
    for kind in KINDS:
        e[kind] = times.get(kind, 0)
    return e


# A series that ends with a passport: the sine, O.132 and multi-frequency signals.
PASSPORT_KINDS = {"SinTime": 4, "O132Time": 4, "MTTSTime": 4}


def read_items(data, at, norms):
    """The items from offset `at` to "end": a list of (key, value) where a frequency
    list's value is its list of (value, frequency) pairs."""
    items = []
    while True:
        end = data.index(b"\0", at)
        key = data[at:end].decode("ascii")
        at = end + 1
        if key == "end":
            if at != len(data):
                raise ValueError("%d bytes after the end" % (len(data) - at))
            return items
        if key in FREQUENCY_LISTS:
            (n,) = struct.unpack_from("<i", data, at)
            at += 4
            if not 0 <= n <= 14:
                raise ValueError("list of %d points" % n)
            pairs = [struct.unpack_from("<ff", data, at + 8 * k) for k in range(n)]
            at += 8 * n
            items.append((key, pairs))
        else:
            (value,) = struct.unpack_from("<f", data, at)
            at += 4
            items.append((key, value))


def read_data_file(path):
    """A file of DATA as a dict: kind letter, header fields, items (or message code)."""
    with open(path, "rb") as f:
        data = f.read()
    kind = chr(data[0])
    if kind == "S":
        caller_flag, start = struct.unpack_from("<Bd", data, 1)
        out = {"kind": kind, "callerFlag": caller_flag, "cycleStart": start,
               "caller": data[10:18].decode("ascii"), "answerer": data[18:26].decode("ascii"),
               "plan": data[26:223]}
        out["items"] = read_items(data, 223, True)
        return out
    caller_flag, start, written = struct.unpack_from("<Bdd", data, 1)
    out = {"kind": kind, "callerFlag": caller_flag, "cycleStart": start, "written": written,
           "callerRole": chr(data[18]), "caller": data[19:27].decode("ascii"),
           "answererRole": chr(data[27]), "answerer": data[28:36].decode("ascii"),
           "session": struct.unpack_from("<i", data, 36)[0], "cycleEnd": data[40]}
    if kind == "M":
        if len(data) != 42:
            raise ValueError("message file of %d bytes" % len(data))
        out["code"] = data[41]
    else:
        out["items"] = read_items(data, 41, False)
    return out


def data_files(folder):
    """The files of a complex's DATA in number order."""
    paths = glob.glob(os.path.join(folder, "DATA", "zmk*.dat"))
    return sorted(paths, key=lambda p: int(re.search(r"zmk(\d+)\.dat$", p).group(1)))


def document(folder, *path):
    with open(os.path.join(folder, "Prot", *path), "rb") as f:
        return f.read().decode("cp1251")


class SeriesTestCase(NetworkTestCase):
    line_wait = 240

    def network(self, stations=("A", "B")):
        sim = Sim(self.folder, {
            "stations": [complex_station(name, "100%d" % (i + 1))
                         for i, name in enumerate(stations)],
            "channels": [{"between": ["A", name], "model": {"attenuationDb": 6,
                                                           "noiseDbm": -60}}
                         for name in stations[1:]]}, SCALE)
        self.sims.append(sim)
        return sim

    def answerer(self, sim, *options, times=""):
        b = self.complex(sim, "B", B_IDENT, "HangTime=%d\n%s" % (HANG_TIME, times))
        b.start(SCALE, "--passive", *options)
        self.assertLine(b, r"^Жду звонка$")
        return b

    def caller(self, sim, entries, *options, times=""):
        a = self.complex(sim, "A", A_IDENT, times)
        a.start(SCALE, "--active", a.scenario(entries), *options)
        return a

    def stopAll(self):
        for run in self.runs:
            status, err = run.stop()
            self.assertEqual(status, 0, err)

    def assertShownByTheTool(self, path, kind):
        shown = subprocess.run([DATA, "dat", "show", path], capture_output=True)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn(kind, shown.stdout.decode("utf-8"))


class SeriesTest(SeriesTestCase):
    """One series of three sessions, run once; its tests read what it left."""

    @classmethod
    def setUpClass(cls):
        cls.case = SeriesTestCase("run")
        cls.case.setUp()
        case = cls.case
        try:
            sim = case.network()
            cls.b = case.answerer(sim, "--option", "save-results", "--option", "save-stats")
            cls.a = case.caller(sim, [entry(3, **PASSPORT_KINDS)], "--option", "save-results",
                                "--option", "save-stats", "--exit-when-done")
            third = r"^Сеанс 3 \(из 3\): класс .* - цикл выполнен$"
            case.assertLine(cls.a, third)
            case.assertLine(cls.b, third)
            # With every entry finished the caller ends its run by itself.
            case.assertLine(cls.a, r"^Работа закончена$", seconds=120)
            case.stopAll()
        except BaseException:
            case.tearDown()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.case.tearDown()

    def setUp(self):
        # The class's complexes, not a scratch folder of each test.
        pass

    def tearDown(self):
        pass

    def test_each_session_is_evaluated_with_its_class_on_both_sides(self):
        for run in (self.a, self.b):
            sessions = [t for t in run.texts() if t.startswith("Сеанс ")]
            self.assertEqual(len(sessions), 3, run.texts())
            for n, line in enumerate(sessions, 1):
                self.assertRegex(line, r"^Сеанс %d \(из 3\): класс (\*|[1-4])" % n)
            # The first session of a series has no class yet.
            self.assertRegex(sessions[0], r"класс \*$")

    def test_one_norms_file_then_two_data_files_per_session(self):
        for run, calling in ((self.a, 1), (self.b, 0)):
            files = [read_data_file(p) for p in data_files(run.folder)]
            self.assertEqual([f["kind"] for f in files], ["S"] + ["D"] * 6)
            norms, data = files[0], files[1:]
            self.assertEqual((norms["callerFlag"], norms["caller"], norms["answerer"]),
                             (calling, A_IDENT, B_IDENT))
            self.assertEqual([k for k, _ in norms["items"]][:3], ["Busy", "Carr", "Break"])
            self.assertGreater(norms["cycleStart"], 1.0)
            for f in data:
                self.assertEqual((f["callerFlag"], f["caller"], f["answerer"]),
                                 (calling, A_IDENT, B_IDENT))
                self.assertEqual(f["cycleStart"], norms["cycleStart"])
                self.assertEqual({f["callerRole"], f["answererRole"]}, {"G", "M"})
                keys = [k for k, _ in f["items"]]
                self.assertEqual(keys[:3], ["Busy", "Carr", "Break"])
                for key in ("sinSNR", "o132SNR", "mttAtt", "mttDel"):
                    self.assertIn(key, keys)
                # The default sine of 1800 Hz has its 2nd and 3rd harmonics above the
                # 3400 Hz band edge: its distortions are never measured.
                values = dict(f["items"])
                above = ("sinDis2", "sinDis3", "sinDis23")
                self.assertEqual([values[k] for k in above], [-999.0] * 3, f)
                # The rest of the group carries its values, or -999 throughout when the
                # 4 s sine was not found in time (its search leaves it little room).
                sine = [values[k] for k in keys if k.startswith("sin") and k not in above]
                self.assertTrue(all(v > -900 for v in sine) or all(v == -999 for v in sine),
                                f)
            # The channel's 6 dB and -60 dBm noise: a signal/noise well above 20 dB.
            snr = [dict(f["items"])["o132SNR"] for f in data]
            self.assertGreater(max(snr), 20, data)
            # The default entry's ten attenuation points with a norm above 99.99 Hz, each
            # the channel's flat 6 dB.
            lists = [dict(f["items"])["mttAtt"] for f in data]
            self.assertTrue(any(len(points) == 10 for points in lists), data)
            for points in lists:
                for att, freq in points:
                    self.assertAlmostEqual(att, 6.0, delta=0.5, msg="%g Hz" % freq)
            self.assertEqual([f["session"] for f in data], [1, 1, 2, 2, 3, 3])
            # The far side's results first (this complex generated), then its own.
            own_role = "M"
            far_role = "G"
            for far, own in zip(data[0::2], data[1::2]):
                mine = "callerRole" if calling else "answererRole"
                self.assertEqual((far[mine], own[mine]), (far_role, own_role))
            # The series ends with its third session: its files carry the flag.
            self.assertEqual([f["cycleEnd"] for f in data], [0, 0, 0, 0, 1, 1])

    def test_the_file_tool_shows_every_file(self):
        for run in (self.a, self.b):
            paths = data_files(run.folder)
            self.assertShownByTheTool(paths[0], "norms")
            for path in paths[1:]:
                self.assertShownByTheTool(path, "data")

    def test_statistics_passport_and_summary_row(self):
        for run, ident in ((self.a, A_IDENT), (self.b, B_IDENT)):
            stat = document(run.folder, ident, "Stat.htm")
            # Every statistics table is kept (save-stats), under one session heading.
            self.assertEqual(stat.count("<pre>"), 3, stat)
            self.assertEqual(stat.count("<h3>"), 1, stat)
            self.assertIn("--- Гармонический сигнал", stat)
            pasp = document(run.folder, ident, "Pasp.htm")
            self.assertEqual(pasp.count('<div class="pasport">'), 1, pasp)
            self.assertIn("Телефонных каналов направления %s - %s" % (A_IDENT, B_IDENT), pasp)
            table = document(run.folder, "PaspTabl.htm")
            self.assertEqual(table.count("<tr align=center>"), 1, table)
            self.assertTrue(table.endswith("</table>"), table[-200:])
            self.assertEqual(table.count("</table>"), 1)
            # The protocol links to the statistics and the passport by their anchors.
            prot = document(run.folder, ident, "Prot.htm")
            for doc, text in (("Stat", stat), ("Pasp", pasp)):
                stamps = re.findall(r'<a href="%s\.htm#(\d{14})">' % doc, prot)
                self.assertGreater(len(stamps), 0, prot[-2000:])
                for stamp in stamps:
                    self.assertIn('<a name="%s"></a>' % stamp, text)

    def test_the_documents_render_in_a_browser(self):
        browser = shutil.which("chromium") or shutil.which("chromium-browser")
        if browser is None:
            self.skipTest("no chromium")
        expected = {"Prot.htm": "Протокол работы комплекса", "Rest.htm": "Результаты измерений",
                    "Stat.htm": "Статистика измерений", "Pasp.htm": "ПАСПОРТ",
                    "../PaspTabl.htm": "Сводная таблица паспортов"}
        for name, text in expected.items():
            path = os.path.normpath(os.path.join(self.a.folder, "Prot", A_IDENT, name))
            shown = subprocess.run(
                [browser, "--headless", "--no-sandbox", "--disable-gpu", "--dump-dom",
                 "file://" + path], capture_output=True, timeout=120)
            self.assertEqual(shown.returncode, 0, shown.stderr[-2000:])
            self.assertIn(text, shown.stdout.decode("utf-8", "replace"), name)


class CutShortTest(SeriesTestCase):
    def test_the_operators_stop_in_a_series_leaves_a_message_file(self):
        sim = self.network()
        self.answerer(sim)
        a = self.caller(sim, [entry(3, SinTime=4)])
        self.assertLine(a, r"^Сеанс 1 \(из 3\)")
        self.stopAll()
        files = [read_data_file(p) for p in data_files(a.folder)]
        self.assertEqual([f["kind"] for f in files], ["S", "D", "D", "M"])
        message = files[-1]
        # Code 6: the operator ended the run while the series was in progress.
        self.assertEqual(message["code"], 6)
        self.assertEqual((message["caller"], message["answerer"]), (A_IDENT, B_IDENT))
        self.assertEqual(message["session"], 2)
        self.assertShownByTheTool(data_files(a.folder)[-1], "message")


class StopOnNormsTest(SeriesTestCase):
    def test_a_broken_norm_pauses_both_sides_until_the_caller_goes_on(self):
        sim = self.network()
        b = self.answerer(sim, "--option", "stop-on-norms")
        # A signal/noise no channel reaches on the sine (the editor's largest: an answerer
        # refuses an entry out of the editor's ranges). The sine lasts the editor's
        # shortest time: the meter's sine step finds the sine (two frame sets alike), sets
        # its thresholds and restarts before it measures a set, which a step of a few
        # seconds barely holds.
        unmet = entry(2, SinTime=20)
        unmet["norms"] = {"sinSNR": {"on": 1, "value": 70}}
        a = self.caller(sim, [unmet], "--option", "stop-on-norms", times="AlarmTime=30")
        # The caller's countdown runs out and it goes on; the answerer goes on once the
        # caller has hung up.
        self.assertLine(a, r"^Измерения остановлены$")
        self.assertLine(b, r"^Измерения остановлены$")
        self.assertLine(a, r"^Измерения продолжены$")
        self.assertLine(b, r"^Измерения продолжены после разрыва связи$")
        # The next session of the series follows.
        self.assertLine(a, r"^Сеанс 2 \(из 2\)")
        self.stopAll()


if __name__ == "__main__":
    unittest.main(verbosity=2)
