"""Calling and answering end to end: vetlina-run complexes dial each other through
vetlina-sim, which supplies the call outcomes; the protocol lines the runs print are
what is checked."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from network import NetworkTestCase, Sim, complex_station  # noqa: E402

SCALE = float(os.environ.get("VETLINA_E2E_SCALE", "20"))
CALL = "Вызов %s тел: %s"


class CallingTest(NetworkTestCase):
    def network(self, stations, faults=()):
        sim = Sim(self.folder, {"stations": stations, "faults": list(faults)}, SCALE)
        self.sims.append(sim)
        return sim

    def test_busy_with_the_defaults_pauses_four_times_then_postpones_by_post_time(self):
        sim = self.network([complex_station("A", "1001"), complex_station("B", "1002")],
                           [{"fault": "busy", "station": "B"}])
        caller = self.complex(sim, "A", "11111111")
        scn = caller.scenario([{"Id": "22222222", "Number": "1002"}])
        caller.start(SCALE, "--active", scn)
        self.assertLine(caller, r"^НУС \(занято\)\. Вызов отложен до ")
        status, _ = caller.stop()
        self.assertEqual(status, 0)

        events = [(t, text) for t, text in caller.events() if text != "Снято оператором"]
        start = next(i for i, (_, text) in enumerate(events) if text.startswith("Вызов"))
        calls = events[start:start + 10]
        texts = [text for _, text in calls]
        pause = "НУС (занято). Пауза 15 сек"
        self.assertEqual(texts[:9], [CALL % ("22222222", "1002"), pause] * 4
                         + [CALL % ("22222222", "1002")])
        # Each pause waits 15 s before the next call, never less. Between the two stamps
        # also lie the modem's set-up for the wait and for the next call, exchanges with
        # the simulator whose real time a busy machine stretches at this scale; the wait
        # limit itself is pinned on a stepped clock (CallingTest).
        for i in range(4):
            waited = (calls[2 * i + 2][0] - calls[2 * i + 1][0]) % 86400
            self.assertGreaterEqual(waited, 15, texts)
        # The fifth busy postpones the entry by PostTime (600 s) from its own moment.
        at, last = calls[9]
        self.assertTrue(last.startswith("НУС (занято). Вызов отложен до "), last)
        h, n, s = map(int, last.rsplit(" ", 1)[1].split(":"))
        self.assertEqual((h * 3600 + n * 60 + s - at) % 86400, 600)
        self.assertEqual(len(sim.events("busy", "A")), 5)

    def test_three_calls_without_carrier_give_the_entry_up(self):
        # B's modem answers (its complex runs passively) but the modems never train. A's
        # modem waits 20 s for the carrier, B's gives up 10 s after answering.
        sim = self.network([complex_station("A", "1001", 20),
                            complex_station("B", "1002", 10)],
                           [{"fault": "noCarrier", "station": "B"}])
        answerer = self.complex(sim, "B", "22222222")
        answerer.start(SCALE, "--passive")
        caller = self.complex(sim, "A", "11111111")
        scn = caller.scenario([{"Id": "22222222", "Number": "1002"}])
        caller.start(SCALE, "--active", scn)
        self.assertLine(caller, r"^НУВ \(нет несущей\)\. Выполнение прекращено$", 120)
        # With every entry finished the complex goes on as an answering one.
        self.assertLine(caller, r"^Жду звонка$")
        caller.stop()
        answerer.stop()

        texts = caller.texts()
        start = texts.index(CALL % ("22222222", "1002"))
        call = CALL % ("22222222", "1002")
        self.assertEqual(texts[start:start + 7],
                         [call, "НУВ (нет несущей)", call, "НУВ (нет несущей)", call,
                          "НУВ (нет несущей). Выполнение прекращено", "Жду звонка"])
        # The answering side heard the rings and saw no interaction come about.
        b = answerer.texts()
        self.assertGreaterEqual(b.count("Звонок"), 3)
        self.assertGreaterEqual(b.count("Неустанов взаимодействия"), 3)

    def test_a_passive_complex_receives_the_call_and_the_connection(self):
        sim = self.network([complex_station("A", "1001"), complex_station("B", "1002")])
        answerer = self.complex(sim, "B", "22222222")
        answerer.start(SCALE, "--passive")
        self.assertLine(answerer, r"^Жду звонка$")
        caller = self.complex(sim, "A", "11111111")
        # Nothing to measure: the session after the connection is short.
        nothing = {kind: 0 for kind in ("SinTime", "O132Time", "O131Time", "MTTSTime",
                                        "O42Time", "ImpTime", "BlkTime", "EchoTime",
                                        "DiscrTime")}
        scn = caller.scenario([dict({"Id": "22222222", "Number": "1002"}, **nothing)])
        caller.start(SCALE, "--active", scn)
        self.assertLine(answerer, r"^Есть связь$")
        self.assertLine(caller, r"^Есть связь$")
        # The session runs its course; the answerer then waits for the next call.
        self.assertLine(answerer, r"^Жду звонка$", count=2, seconds=120)
        self.assertEqual(caller.stop()[0], 0)
        self.assertEqual(answerer.stop()[0], 0)

        b = answerer.texts()
        first = b.index("Звонок")
        self.assertEqual(b[first:first + 3], ["Звонок", "Звонок", "Есть связь"])
        self.assertTrue(any(line.startswith("COM1: Модем инициализирован")
                            for line in answerer.protocol()))
        a = caller.texts()
        self.assertEqual(a[a.index(CALL % ("22222222", "1002")) + 1], "Есть связь")
        # Both protocol documents name the modem.
        for run, station in ((caller, "A"), (answerer, "B")):
            ident = "11111111" if station == "A" else "22222222"
            with open(os.path.join(run.folder, "Prot", ident, "Prot.htm"), "rb") as f:
                self.assertIn(("Com1: Модем Modem of " + station).encode("cp1251"), f.read())

    def test_every_call_outcome_the_network_offers(self):
        # A works through four entries. B is busy once, then its modems once do not
        # train (a single no-carrier outcome ends an entry here); D's trunk number finds
        # no second dial tone on A's line; C never rings; D's local number answers.
        d = complex_station("D", "1004")
        d["aliases"] = ["81004"]
        sim = self.network(
            [complex_station("A", "1001", 20), complex_station("B", "1002", 10),
             complex_station("C", "1003"), d],
            [{"fault": "busy", "station": "B", "times": 1},
             {"fault": "noCarrier", "station": "B", "times": 1},
             {"fault": "noDialTone", "station": "A", "secondDialToneOnly": True},
             {"fault": "noAnswer", "station": "C"}])
        b = self.complex(sim, "B", "22222222")
        d = self.complex(sim, "D", "44444444")
        b.start(SCALE, "--passive")
        d.start(SCALE, "--passive")
        caller = self.complex(sim, "A", "11111111", "NumNoCarrier=1")
        scn = caller.scenario([{"Id": "22222222", "Number": "1002"},
                               {"Id": "44444444", "Number": "8w1004", "Trunk8W": 1},
                               {"Id": "33333333", "Number": "1003", "LocalCall": 1},
                               {"Id": "44444444", "Number": "1004"}])
        caller.start(SCALE, "--active", scn)
        self.assertLine(caller, r"^Есть связь$", 180)
        self.assertLine(d, r"^Есть связь$")
        for run in (caller, b, d):
            self.assertEqual(run.stop()[0], 0)

        texts = caller.texts()
        start = texts.index(CALL % ("22222222", "1002"))
        postponed = r" Вызов отложен до \d\d:\d\d:\d\d$"
        self.assertEqual(texts[start:start + 6], [
            CALL % ("22222222", "1002"), "НУС (занято). Пауза 15 сек",
            CALL % ("22222222", "1002"), "НУВ (нет несущей). Выполнение прекращено",
            CALL % ("44444444", "8w1004"), texts[start + 5]])
        self.assertRegex(texts[start + 5], r"^НУС \(нет ответа станции\)\." + postponed)
        self.assertEqual(texts[start + 6], CALL % ("33333333", "1003"))
        self.assertRegex(texts[start + 7], r"^НУС \(нет ответа\)\." + postponed)
        self.assertEqual(texts[start + 8:start + 10], [CALL % ("44444444", "1004"), "Есть связь"])
        self.assertIn("Неустанов взаимодействия", b.texts())
        self.assertEqual(d.texts()[d.texts().index("Звонок"):][:3],
                         ["Звонок", "Звонок", "Есть связь"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
