"""Whole sessions end to end: two vetlina-run complexes on vetlina-sim, A calling B.
They greet each other, A hands its scenario entry over, both simulated analyzers
measure the channel in both directions, the modems reconnect on the held line, the
results are exchanged, and the series goes on or ends. What the runs print is checked,
and the trace's line of the result exchange gives the block lengths both sides used.

VETLINA_E2E_SCALE sets the time scale (20); the ThreadSanitizer stage of scripts/test
runs the shortest test here with its own binaries and a lower scale."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from network import NetworkTestCase, Sim, complex_station  # noqa: E402

SCALE = float(os.environ.get("VETLINA_E2E_SCALE", "20"))
HANG_TIME = 100
KINDS = ("SinTime", "O132Time", "O131Time", "MTTSTime", "O42Time", "ImpTime", "BlkTime",
         "EchoTime", "DiscrTime")


def entry(ident, number, total, **times):
    """A scenario entry with only the kinds given by their times enabled."""
    e = {"Id": ident, "Number": number, "NumTotal": total, "NumMin": total, "SincTime": 2}
    for kind in KINDS:
        e[kind] = times.get(kind, 0)
    return e


def exchange_trace(texts):
    """The (sent, received) byte counts of each result exchange a side traced."""
    out = []
    for text in texts:
        m = re.match(r"^ -обмен результатами: передано (\d+), принято (\d+) байт$", text)
        if m:
            out.append((int(m.group(1)), int(m.group(2))))
    return out


class SessionTest(NetworkTestCase):
    line_wait = 120

    def network(self, names):
        stations = [complex_station(name, "100%d" % (i + 1)) for i, name in enumerate(names)]
        # A channel with mild impairments between A and each other station.
        channels = [{"between": ["A", name],
                     "model": {"attenuationDb": 6, "noiseDbm": -60}} for name in names[1:]]
        sim = Sim(self.folder, {"stations": stations, "channels": channels}, SCALE)
        self.sims.append(sim)
        return sim

    def assertInOrder(self, texts, expected):
        """Each expected text (a regular expression) appears after the one before."""
        at = 0
        for pattern in expected:
            while at < len(texts) and not re.search(pattern, texts[at]):
                at += 1
            if at == len(texts):
                self.fail("%r not found in order in:\n%s" % (pattern, "\n".join(texts)))
            at += 1

    def stopAll(self):
        for run in self.runs:
            status, err = run.stop()
            self.assertEqual(status, 0, err)

    def test_a_whole_session_with_the_sine_signal(self):
        sim = self.network(["A", "B"])
        b = self.complex(sim, "B", "22222222")
        b.start(SCALE, "--passive", "--trace")
        self.assertLine(b, r"^Жду звонка$")
        a = self.complex(sim, "A", "11111111")
        scn = a.scenario([entry("22222222", "1002", 2, SinTime=10)])
        a.start(SCALE, "--active", scn, "--trace")
        # The session, and the next call of the series.
        self.assertLine(a, r"^Вызов 22222222 тел: 1002$", count=2, seconds=240)
        self.assertLine(b, r"^Обмен результатами с 11111111$")
        self.stopAll()

        call = r"^Вызов 22222222 тел: 1002$"
        self.assertInOrder(a.texts(), [
            call, r"^Есть связь$", r"^Передача сценария$",
            r"^Измеритель: SIN$", r"^Генератор: SIN$",
            r"^Соединение модемов$", r"^Обмен результатами$", call])
        self.assertInOrder(b.texts(), [
            r"^Звонок$", r"^Есть связь$", r"^Прием сценария от 11111111$",
            r"^Генератор: SIN$", r"^Измеритель: SIN$",
            r"^Соединение модемов$", r"^Обмен результатами с 11111111$"])
        # Each analyzer measured once (its own pass) and generated once (the other's).
        for run in (a, b):
            self.assertEqual(run.texts().count("Измеритель: SIN"), 1, run.texts())
            self.assertEqual(run.texts().count("Генератор: SIN"), 1, run.texts())
            self.assertNotIn("Отбой", run.texts())
        # The block lengths both sides took from the entry: counters and the sine record
        # from the caller, the sine record from the answerer.
        self.assertEqual(exchange_trace(a.texts()), [(176, 160)])
        self.assertEqual(exchange_trace(b.texts()), [(160, 176)])
        # The sine went through the channel's 6 dB in both directions.
        self.assertGreater(len(sim.events("analyzer-command", "A")), 0)
        # Each side's DATA: the norms file of the series, then a data file per direction
        # of the first session (a message file of the interrupted second may follow).
        for run, calling in ((a, 1), (b, 0)):
            files = run.data_files()
            self.assertGreaterEqual(len(files), 3, files)
            self.assertEqual([f["kind"] for f in files[:3]], ["norms", "data", "data"])
            for f in files[:3]:
                self.assertEqual(f["callerFlag"], calling)
                self.assertEqual((f["callerIdent"], f["answererIdent"]), ("11111111", "22222222"))
            self.assertEqual(files[0]["plan"]["EditSinTime"], 10)
            self.assertEqual(files[0]["plan"]["EditO132Time"], 0)
            data = files[1:3]
            self.assertEqual(sorted(f["callerRole"] for f in data), ["G", "M"])
            for f in data:
                self.assertEqual((f["session"], f["cycleEnd"]), (1, 0))
                self.assertEqual(f["items"]["Busy"], 0)
                if "sinAtt" in f["items"]:
                    self.assertAlmostEqual(f["items"]["sinAtt"], 6, delta=1.5)
            self.assertTrue(all(f["kind"] == "message" for f in files[3:]), files[3:])

    def test_every_kind_and_the_throughput_test(self):
        sim = self.network(["A", "B"])
        b = self.complex(sim, "B", "22222222")
        b.start(SCALE, "--passive", "--trace", "--option", "save-results")
        self.assertLine(b, r"^Жду звонка$")
        a = self.complex(sim, "A", "11111111")
        times = {kind: 4 for kind in KINDS}
        times["DiscrTime"] = 10
        every = entry("22222222", "1002", 1, **times)
        # A new entry holds no impedance norm, and a kind without a norm is not measured.
        every["norms"] = {"impImped": {"on": 1, "value": 600}}
        scn = a.scenario([every])
        a.start(SCALE, "--active", scn, "--trace", "--option", "save-results",
                "--exit-when-done")
        self.assertLine(b, r"^Обмен результатами с 11111111$", seconds=400)
        # Each side traces its exchange once its last block is through: the caller when
        # it has received the answer, the answerer when the caller has acknowledged it.
        self.assertLine(a, r"^ -обмен результатами: ", seconds=60)
        self.assertLine(b, r"^ -обмен результатами: ", seconds=60)
        self.stopAll()

        for run in (a, b):
            texts = run.texts()
            self.assertInOrder(texts, [
                r"^Соединение на 2400 бит/с$", r"^Пропускная способность$",
                r"^Соединение модемов$", r"^Обмен результатами"])
            self.assertNotIn(" -пропускная способность не измерена", texts)
            for kind in ("SIN", "O.132", "O.131", "МЧС", "O.42", "Импеданс", "Шум"):
                self.assertIn("Измеритель: " + kind, texts)
            self.assertIn("Генератор: SIN", texts)
        # Every section: 16 + 2200 bytes from the caller, 2200 from the answerer.
        self.assertEqual(exchange_trace(a.texts()), [(2216, 2200)])
        self.assertEqual(exchange_trace(b.texts()), [(2200, 2216)])
        # The throughput of a 2400 bit/s connection: 286.6 of 293.13 bytes a second.
        for run, ident in ((a, "11111111"), (b, "22222222")):
            with open(os.path.join(run.folder, "Prot", ident, "Rest.htm"), "rb") as f:
                rest = f.read().decode("cp1251")
            m = re.search(r"Пропускная способность = ([\d.]+) %", rest)
            self.assertIsNotNone(m, rest[-2000:])
            self.assertAlmostEqual(float(m.group(1)), 97.8, delta=3.0)
        # The simulated modems connected at 2400 bit/s for the test.
        rates = [e.get("rate") for e in sim.events("connect")]
        self.assertIn(2400, rates)

    def test_a_series_ends_and_the_caller_moves_on(self):
        sim = self.network(["A", "B", "C"])
        # HangTime well above the caller's 8 s between the sessions of a series and its
        # dialling, so that a loaded machine does not make B give the series up.
        b = self.complex(sim, "B", "22222222", "HangTime=%d" % HANG_TIME)
        c = self.complex(sim, "C", "33333333", "HangTime=%d" % HANG_TIME)
        b.start(SCALE, "--passive", "--trace")
        c.start(SCALE, "--passive", "--trace")
        self.assertLine(b, r"^Жду звонка$")
        self.assertLine(c, r"^Жду звонка$")
        a = self.complex(sim, "A", "11111111")
        # Nothing to measure: each session is the analyzers' range step and the exchange
        # of the counters alone.
        scn = a.scenario([entry("22222222", "1002", 2), entry("33333333", "1003", 1)])
        a.start(SCALE, "--active", scn, "--trace")
        # After its last entry the calling complex answers calls.
        self.assertLine(a, r"^Жду звонка$", seconds=300)
        self.assertLine(c, r"^Обмен результатами с 11111111$")
        # B has been idle since its series ended: no hang after HangTime.
        b_done = len(b.texts())
        self.assertFalse(b.wait_for_line(r"^Зависание$", seconds=HANG_TIME / SCALE * 1.5 + 2),
                         "\n".join(b.protocol()))
        self.stopAll()

        call_b, call_c = r"^Вызов 22222222 тел: 1002$", r"^Вызов 33333333 тел: 1003$"
        self.assertInOrder(a.texts(), [
            call_b, r"^Передача сценария$", r"^Обмен результатами$",
            call_b, r"^Обмен результатами$",
            call_c, r"^Передача сценария$", r"^Обмен результатами$", r"^Жду звонка$"])
        a_texts = a.texts()
        self.assertEqual(sum(1 for t in a_texts if re.match(call_b, t)), 2)
        # The second session of the series needs no scenario transfer.
        self.assertEqual(a_texts.count("Передача сценария"), 2)
        self.assertEqual(exchange_trace(a_texts), [(16, 0)] * 3)
        self.assertEqual(b.texts()[:b_done].count("Обмен результатами с 11111111"), 2)
        self.assertEqual(b.texts().count("Прием сценария от 11111111"), 1)
        self.assertNotIn("Зависание", b.texts())
        self.assertNotIn("Зависание", c.texts())


if __name__ == "__main__":
    unittest.main(verbosity=2)
