"""A hostile far complex, end to end: complex A (11111111) calls complex B (22222222)
on vetlina-sim, and A's modem port goes through a hostile peer (hostile_peer.py) that
changes, drops or never ends the blocks A sends (B faces a hostile caller) or the
blocks A receives (A faces a hostile answerer). After each hostile call both sides must
end it ("Отбой" or their refusal), the runs must live on and answer, the data files must
read back whole with `vetlina-data dat show`, and the next call must work.

Every wait is for a protocol line; the time scale (VETLINA_E2E_SCALE, 20) makes the
link's limits (120 s a block, 70 s for the carrier to go) a few seconds each."""

import math
import os
import re
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import hostile_peer as hp  # noqa: E402
from hostile_peer import HostilePeer, put  # noqa: E402
from network import NetworkTestCase, Sim, complex_station  # noqa: E402

SCALE = float(os.environ.get("VETLINA_E2E_SCALE", "20"))
KINDS = ("SinTime", "O132Time", "O131Time", "MTTSTime", "O42Time", "ImpTime", "BlkTime",
         "EchoTime", "DiscrTime")
A_IDENT, B_IDENT = "11111111", "22222222"
NAN, INF = float("nan"), float("inf")

# The caller's result block of a sine-only session: its four counters, then the sine
# record (level at 0, frequency 4, signal/noise 8, phase jitter 16, impulse noise count
# 32, attenuation 140, block counter 156).
SINE_CALLER, SINE_ANSWERER = 16 + 160, 160

# Offsets in the entry's settings block (the record's offset less 3095).
SETTINGS = 3095
SIN_LEV = 3761 - SETTINGS
ECHO_TIME = 3721 - SETTINGS
SINC_TIME = 3873 - SETTINGS
DISCR_AT = 3160 - SETTINGS


def entry(total, **times):
    e = {"Id": B_IDENT, "Number": "1002", "NumTotal": total, "NumMin": total, "SincTime": 2}
    for kind in KINDS:
        e[kind] = times.get(kind, 0)
    return e


def absurd_sine(block, at):
    """A sine record at `at` with values no measurement gives, beside sound values
    (whatever the analyzers measured)."""
    block = put(block, at + 12, "fff", 33.5, 0.0, 12.25)  # sinSNRps, sinJitAm: sound
    block = put(block, at + 24, "f", 1.5)        # sinShift: sound
    block = put(block, at + 156, "i", 5)         # blocks accumulated: sound
    block = put(block, at + 0, "f", 1e38)        # level
    block = put(block, at + 8, "f", NAN)         # sinSNR
    block = put(block, at + 16, "f", INF)        # sinJitPh
    block = put(block, at + 140, "f", -INF)      # sinAtt
    return put(block, at + 32, "i", -5)          # sinPulCnt


class HostileTest(NetworkTestCase):
    line_wait = 120

    def pair(self, total=1, **times):
        """B answering, A calling B with a sine-only entry through the hostile peer."""
        stations = [complex_station("A", "1001"), complex_station("B", "1002")]
        sim = Sim(self.folder, {"stations": stations, "channels": [
            {"between": ["A", "B"], "model": {"attenuationDb": 6, "noiseDbm": -60}}]}, SCALE)
        self.sims.append(sim)
        self.peer = HostilePeer(sim.port("A"))
        self.addCleanup(self.peer.stop)
        b = self.complex(sim, "B", B_IDENT)
        b.start(SCALE, "--passive", "--trace")
        self.assertLine(b, r"^Жду звонка$")
        a = self.complex(sim, "A", A_IDENT)
        ini = os.path.join(a.folder, "Vetlina.ini")
        with open(ini) as f:
            text = f.read()
        with open(ini, "w") as f:
            f.write(text.replace("127.0.0.1:%d\n" % sim.port("A"),
                                 "127.0.0.1:%d\n" % self.peer.port, 1))
        scn = a.scenario([entry(total, SinTime=times.get("SinTime", 4))])
        a.start(SCALE, "--active", scn, "--trace")
        return a, b

    def assertLine(self, run, pattern, seconds=None, count=1):
        # On failure, both sides' protocols: what one waits for is the other's doing.
        if run.wait_for_line(pattern, seconds or self.line_wait, count):
            return
        shown = ["%s (exit %s):\n%s" % (r.folder, r.process.poll(), "\n".join(r.protocol()))
                 for r in self.runs if r.process]
        self.fail("no %d line(s) matching %r in %s\n\n%s"
                  % (count, pattern, run.folder, "\n\n".join(shown)))

    def count(self, run, pattern):
        return sum(1 for t in run.texts() if re.search(pattern, t))

    def ended(self, a, b, a_ends, b_ends):
        """Both sides have ended the hostile call: A's "Отбой" lines reach a_ends, and
        B's lines ending a call (its refusal, "Отбой") reach b_ends; the rules go off."""
        self.assertLine(a, r"^Отбой", count=a_ends)
        self.assertLine(b, r"^Отбой|^Несоответствие версий ПО$", count=b_ends)
        self.peer.clear()

    def assertWhole(self, run):
        """Every data file of the run reads back, and no value in it is NaN or infinite."""
        files = run.data_files()
        for f in files:
            for key, value in f.get("items", {}).items():
                if isinstance(value, float):
                    self.assertTrue(math.isfinite(value), (key, value))
        return files

    def documents(self, run):
        """The run's documents as text, by name; each must be code page 1251 throughout,
        without control characters, and the results without a value that is not a
        number."""
        out = {}
        for folder, _, names in os.walk(os.path.join(run.folder, "Prot")):
            for name in names:
                with open(os.path.join(folder, name), "rb") as f:
                    text = f.read().decode("cp1251")
                self.assertIsNone(re.search(r"[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]", text), name)
                if name != "Prot.htm":  # the protocol quotes a refused "nan"
                    self.assertIsNone(re.search(r"(?i)\b-?(nan|inf)\b", text), name)
                out[name] = text
        if "PaspTabl.htm" in out:
            self.assertTrue(out["PaspTabl.htm"].endswith("</table>"), out["PaspTabl.htm"][-200:])
        return out

    def stopBoth(self, a, b):
        """Ends both runs as the operator does; both exit cleanly and leave whole
        documents."""
        for run in (a, b):
            status, err = run.stop()
            self.assertEqual(status, 0, err)
            self.assertNotIn("Sanitizer", err)
            self.documents(run)

    def test_hostile_caller_entries_are_refused_and_the_next_call_works(self):
        a, b = self.pair()
        # A garbage greeting: wrong version, the rest noise.
        garbage = bytes((0,)) + bytes(range(200, 239))
        self.peer.arm("out", hp.GREETING, lambda d: garbage)
        self.assertLine(b, r"^Несоответствие версий ПО$")
        self.ended(a, b, 1, 1)

        # Entries out of the editor's ranges: each refused with its reason, then "Отбой".
        bad = [
            (hp.ENTRY_SECOND, lambda d: put(d, SIN_LEV, "f", NAN), r"SinLev = nan: не число"),
            (hp.ENTRY_SECOND, lambda d: put(d, ECHO_TIME, "d", INF),
             r"EchoTime = inf: не число"),
            (hp.ENTRY_SECOND, lambda d: put(d, SINC_TIME, "i", 2000000000),
             r"SincTime = 1000000000: допустимо целое число от 1 до 10"),
            (hp.ENTRY_FIRST, lambda d: b"9" * 10 + d[10:], r"Id: нет завершающего нуля"),
            (hp.ENTRY_SECOND, lambda d: put(d, DISCR_AT, "8s", b"&F\r\nATD9"),
             r"DiscrAT: управляющий символ 0D"),
        ]
        for i, (length, spoil, reason) in enumerate(bad, start=1):
            self.peer.arm("out", length, spoil)
            self.assertLine(b, r"^Сценарий от 11111111 отвергнут: " + re.escape(reason) + "$")
            self.ended(a, b, 1 + i, 1 + i)
        # No entry was taken: B wrote no norms file for any of them.
        self.assertEqual(b.data_files(), [])
        self.assertEqual(self.count(b, r"^Сценарий от 11111111 отвергнут: "), len(bad))

        # The next call works: the whole session, both sides' data files.
        self.assertLine(b, r"^Обмен результатами с 11111111$")
        self.assertLine(a, r"^ -обмен результатами: ")
        self.assertLine(b, r"^ -обмен результатами: ")
        self.stopBoth(a, b)
        for run in (a, b):
            files = self.assertWhole(run)
            self.assertEqual([f["kind"] for f in files[:3]], ["norms", "data", "data"])
        # The protocol document keeps why each entry was refused.
        ident = os.path.join(b.folder, "Prot", B_IDENT, "Prot.htm")
        with open(ident, "rb") as f:
            self.assertEqual(f.read().decode("cp1251").count("отвергнут: "), len(bad))

    def test_absurd_counts_and_results_are_stored_as_not_measured(self):
        a, b = self.pair(total=2)
        # Greetings with absurd counts both ways: a hand-over as always, no harm.
        absurd = lambda d: put(put(put(d, 24, "d", NAN), 32, "i", -2**31), 1, "B", 1)
        self.peer.arm("out", hp.GREETING, absurd)
        self.peer.arm("in", hp.GREETING, absurd)
        # Result blocks of the right length with absurd values, both ways.
        self.peer.arm("out", SINE_CALLER,
                      lambda d: absurd_sine(put(d, 0, "iiii", -3, -1, 2**31 - 1, -7), 16))
        self.peer.arm("in", SINE_ANSWERER, lambda d: absurd_sine(d, 0))
        self.assertLine(b, r"^Недостоверные результаты: 9 значений сохранены как не измеренные$")
        self.assertLine(a, r"^Недостоверные результаты: 5 значений сохранены как не измеренные$")
        self.assertLine(b, r"^ -обмен результатами: ")
        self.assertLine(a, r"^ -обмен результатами: ")
        # The second session of the series goes through clean.
        self.assertLine(b, r"^Обмен результатами с 11111111$", count=2)
        self.assertLine(a, r"^ -обмен результатами: ", count=2)
        self.assertLine(b, r"^ -обмен результатами: ", count=2)
        self.stopBoth(a, b)
        for run in (a, b):
            files = self.assertWhole(run)
            data = [f for f in files if f["kind"] == "data"]
            self.assertGreaterEqual(len(data), 4, files)
            # Each session writes the far side's results first, then its own. In the
            # first, what was absurd is not measured; the sound values came through.
            far = data[0]["items"]
            for key in ("sinSNR", "sinJitPh", "sinAtt"):
                self.assertEqual(far.get(key), -999, (key, far))
            self.assertEqual((far.get("sinSNRps"), far.get("sinJitAm"), far.get("sinShift")),
                             (33.5, 12.25, 1.5), far)
        # B took the caller's counters clamped: no negative call count in its files.
        for f in b.data_files():
            if f["kind"] == "data":
                for key in ("Busy", "Carr", "Break"):
                    self.assertGreaterEqual(f["items"][key], 0, f)

    def test_silence_and_a_block_without_end_at_every_step(self):
        a, b = self.pair()
        calls = 0

        def hostile_call(direction, length, action, skip=0):
            nonlocal calls
            if skip:
                self.peer.arm(direction, length, lambda d: d, times=skip)
            self.peer.arm(direction, length, action)
            calls += 1
            self.ended(a, b, calls, calls)

        # The caller falls silent at its greeting, at each block of its entry and at its
        # identity; a block of the entry that never ends.
        hostile_call("out", hp.GREETING, "silence")
        hostile_call("out", hp.ENTRY_FIRST, "silence")
        hostile_call("out", hp.ENTRY_SECOND, "silence")
        hostile_call("out", hp.IDENTITY, "silence")
        hostile_call("out", hp.ENTRY_FIRST, "endless")
        self.assertLine(b, r"^ -истекло время приема$")
        # The answerer falls silent at its greeting and at its identity; its identity
        # never ends.
        hostile_call("in", hp.GREETING, "silence")
        hostile_call("in", hp.IDENTITY, "silence")
        hostile_call("in", hp.IDENTITY, "endless")
        self.assertLine(a, r"^ -истекло время приема$")
        # The caller falls silent at the result exchange: the next call between the pair
        # resumes with the exchange, without measuring again.
        self.peer.arm("out", SINE_CALLER, "silence")
        calls += 1
        self.ended(a, b, calls, calls)
        self.assertLine(b, r"^Обмен результатами с 11111111$", count=2)
        self.assertLine(b, r"^ -обмен результатами: ")
        self.assertLine(a, r"^ -обмен результатами: ")
        self.assertEqual(self.count(b, r"^Измеритель: SIN$"), 1, b.texts())
        self.stopBoth(a, b)
        for run in (a, b):
            files = self.assertWhole(run)
            self.assertEqual([f["kind"] for f in files[:3]], ["norms", "data", "data"], files)

    def test_a_hostile_answerer_busy_with_absurd_counts(self):
        # Busy with another complex, with counts no series has: A logs them as they
        # came, postpones the entry (by at most a series) and lives on.
        a, b = self.pair()
        busy = struct.pack("<ii", -2**31, 2**31 - 1)
        self.peer.arm("in", hp.GREETING, lambda d: [put(d, 12, "9s", b"33333333"), busy])
        self.assertLine(a, r"^Занят с 33333333 \(-2147483648 из 2147483647 сеансов завершены\)$")
        self.assertLine(b, r"^Отбой")
        self.stopBoth(a, b)

    def test_a_hostile_answerers_garbage_greeting_gives_the_entry_up(self):
        # Garbage for a greeting: A refuses the answerer, gives the entry up for the run
        # and, with nothing left to call, answers calls.
        a, b = self.pair()
        self.peer.arm("in", hp.GREETING, lambda d: bytes(range(100, 140)))
        self.assertLine(a, r"^Несоответствие версий ПО$")
        self.assertLine(b, r"^Отбой")
        self.assertLine(a, r"^Жду звонка$")
        self.stopBoth(a, b)


if __name__ == "__main__":
    unittest.main(verbosity=2)
