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
BEGIN = 500
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
    the faults of its analyzer; `modem` maps a side to faults of its modem."""

    def __init__(self, name, times=None, total=1, faults=(), analyzer=None, options=(),
                 answerer_options=(), caller_times="", stop_after=400):
        self.name = name
        self.times = times or {}
        self.total = total
        self.faults = list(faults)
        self.analyzer = analyzer or {}
        self.options = list(options)
        self.answerer_options = list(answerer_options)
        self.caller_times = caller_times
        self.stop_after = stop_after


class FaultNetworkTestCase(NetworkTestCase):
    line_wait = 240

    def run_cells(self, cells, seconds=150, prepare=None, after_start=None):
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
            b.start(SCALE, "--passive", "--trace", *cell.answerer_options)
            a.start(SCALE, "--active", "SCN/s.scn", "--trace", "--exit-when-done",
                    "--stop-after", str(BEGIN + cell.stop_after), *cell.options)
        if after_start:
            after_start(self.pairs)
        end = time.monotonic() + seconds
        for a, b in self.pairs.values():
            while a.process.poll() is None and time.monotonic() < end:
                time.sleep(0.05)
        self.status = {}
        for name, (a, b) in self.pairs.items():
            self.status[name] = (a.stop(), b.stop())
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
    Cell("analyzer off in a generator step", {"SinTime": LONG_SINE},
         analyzer={"answerer": {"switchedOff": {"fromS": IN_METER_STEP,
                                                "untilS": IN_METER_STEP + 20}}}),
    Cell("caller's modem off", {"SinTime": LONG_SINE},
         faults=[{"fault": "modemOff", "station": "caller", "from": IN_METER_STEP}]),
    Cell("answerer's modem off", {"SinTime": LONG_SINE},
         faults=[{"fault": "modemOff", "station": "answerer", "from": IN_METER_STEP}]),
    Cell("DSR lost", {"SinTime": 4},
         faults=[{"fault": "dsrLost", "station": "caller"},
                 {"fault": "dsrLost", "station": "answerer"}]),
]
BYTE_CELLS = [
    Cell("%s %g" % (kind, rate), {"SinTime": 4}, total=2, stop_after=300,
         faults=[{"fault": kind, "station": "caller", "probability": rate, "seed": 7}])
    for kind in ("byteCorrupt", "byteLoss", "byteDuplicate") for rate in (1e-4, 1e-3, 1e-2)
]


class ProbeTest(FaultNetworkTestCase):
    def test_probe(self):
        cells = LINE_CELLS + DEVICE_CELLS + BYTE_CELLS
        t0 = time.monotonic()
        self.run_cells(cells, seconds=200)
        print("real", time.monotonic() - t0)
        for cell in cells:
            a, b = self.pairs[cell.name]
            e = scenario(a.folder)["entries"][0]
            print("=====", cell.name, self.status[cell.name][0][0], self.status[cell.name][1][0],
                  {k: e[k] for k in ("Calls", "FailNUS", "FailNUV", "FailOtb", "SessionsDone",
                                     "Finished", "RunCounters")})
            print(" A:", " | ".join(t for t in a.texts() if not t.startswith(" -")))
            print(" B:", " | ".join(t for t in b.texts() if not t.startswith(" -")))
            print(" torn:", torn_files(a.folder), torn_files(b.folder))
            print(" err:", self.status[cell.name][0][1][-300:], self.status[cell.name][1][1][-300:])


if __name__ == "__main__":
    unittest.main(verbosity=2)
