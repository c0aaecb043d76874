"""The Debian package as an administrator gets it: cpack makes the packages of the
build in VETLINA_BIN, vetlina is unpacked into a scratch root (dpkg-deb -x), and the
installed programs, manual pages, example configuration and service are tried from
there."""

import configparser
import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = os.environ.get("VETLINA_BIN", os.path.join(os.path.dirname(__file__), "../../build"))
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..")
GUI_BUILT = os.environ.get("VETLINA_GUI_BUILT") == "1"
UNIT = "usr/lib/systemd/system/vetlina-answer@.service"


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=60, **kwargs)


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="vetlina-install-")
        packages = os.path.join(cls.scratch, "packages")
        made = run(["cpack", "--config", os.path.join(BIN, "CPackConfig.cmake"), "-B", packages])
        if made.returncode != 0:
            raise RuntimeError("cpack failed:\n" + made.stdout.decode() + made.stderr.decode())
        cls.debs = {os.path.basename(p).split("_")[0]: p
                    for p in glob.glob(os.path.join(packages, "*.deb"))}
        cls.root = os.path.join(cls.scratch, "root")
        subprocess.run(["dpkg-deb", "-x", cls.debs["vetlina"], cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def installed(self, path):
        return os.path.join(self.root, path)

    def field(self, package, name):
        return run(["dpkg-deb", "-f", self.debs[package], name]).stdout.decode().strip()

    def test_the_headless_package_holds_everything_an_unattended_complex_needs_and_no_qt(self):
        for tool in ("vetlina-run", "vetlina-data", "vetlina-sim"):
            self.assertTrue(os.access(self.installed("usr/bin/" + tool), os.X_OK), tool)
            self.assertTrue(os.path.isfile(self.installed("usr/share/man/man1/%s.1.gz" % tool)))
        for path in ("usr/share/doc/vetlina/README.md", UNIT,
                     "usr/share/doc/vetlina/examples/Vetlina.ini",
                     "usr/share/doc/vetlina/examples/90-vetlina-serial.rules"):
            self.assertTrue(os.path.isfile(self.installed(path)), path)
        self.assertFalse(os.path.exists(self.installed("usr/bin/vetlina")))
        depends = self.field("vetlina", "Depends")
        self.assertRegex(depends, r"\blibc6\b")
        self.assertRegex(depends, r"\blibstdc\+\+6\b")
        self.assertRegex(depends, r"\badduser\b")
        self.assertNotRegex(depends.lower(), r"qt")
        with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
            version = re.search(r"project\(Vetlina VERSION ([\d.]+)", f.read()).group(1)
        self.assertEqual(self.field("vetlina", "Version"), version)
        # The package makes the service's user, in dialout for the serial ports.
        control = os.path.join(self.scratch, "control")
        subprocess.run(["dpkg-deb", "-e", self.debs["vetlina"], control], check=True)
        with open(os.path.join(control, "postinst")) as f:
            postinst = f.read()
        self.assertIn("adduser --system --group", postinst)
        self.assertIn("adduser vetlina dialout", postinst)

    def test_the_gui_package_exists_with_the_window_program_and_brings_qt(self):
        if not GUI_BUILT:
            self.assertNotIn("vetlina-gui", self.debs)
            self.skipTest("the Qt front end is not built")
        depends = self.field("vetlina-gui", "Depends")
        self.assertRegex(depends, r"libqt6widgets6")
        self.assertIn("vetlina (= %s)" % self.field("vetlina", "Version"), depends)

    def test_every_tool_prints_its_help_on_stdout_with_status_0(self):
        for tool, switch in (("vetlina-run", "--help"), ("vetlina-run", "-h"),
                             ("vetlina-sim", "--help"), ("vetlina-sim", "-h"),
                             ("vetlina-data", "--help"), ("vetlina-data", "-h")):
            result = run([self.installed("usr/bin/" + tool), switch])
            self.assertEqual(result.returncode, 0, (tool, switch, result.stderr))
            self.assertTrue(result.stdout.decode().startswith("usage: " + tool), (tool, switch))
            self.assertEqual(result.stderr, b"", (tool, switch))
        wrong = run([self.installed("usr/bin/vetlina-run"), "--passiv"])
        self.assertEqual(wrong.returncode, 2)
        self.assertEqual(wrong.stdout, b"")

    def test_the_manual_pages_tell_every_option_the_help_names(self):
        for tool in ("vetlina-run", "vetlina-sim", "vetlina-data"):
            with gzip.open(self.installed("usr/share/man/man1/%s.1.gz" % tool)) as f:
                page = f.read().decode().replace("\\-", "-")
            self.assertTrue(page.startswith(".TH %s 1" % tool.upper()), tool)
            helped = run([self.installed("usr/bin/" + tool), "--help"]).stdout.decode()
            options = set(re.findall(r"(?<![\w-])--?[a-z][a-z-]*", helped))
            self.assertTrue(options or tool == "vetlina-data", tool)
            for option in options:
                self.assertIn(option, page, (tool, option))
        with gzip.open(self.installed("usr/share/man/man1/vetlina-data.1.gz")) as f:
            page = f.read().decode().replace("\\-", "-")
        for command in ("scn show", "scn make", "pat show", "pat make", "ini check"):
            self.assertIn("vetlina-data " + command, page)

    def test_the_example_configuration_reads_without_a_mistake_of_its_own(self):
        folder = os.path.join(self.scratch, "complex")
        os.makedirs(folder)
        example = self.installed("usr/share/doc/vetlina/examples/Vetlina.ini")
        with open(example, "rb") as f:
            raw = f.read()
        self.assertIn("Москва".encode("cp1251"), raw)
        self.assertTrue(raw.endswith(b"\r\n"))
        shutil.copy(example, os.path.join(folder, "Vetlina.ini"))
        checked = run([self.installed("usr/bin/vetlina-data"), "ini", "check"], cwd=folder)
        report = checked.stdout.decode()
        self.assertIn("  User=Служба измерений каналов\n", report)
        self.assertIn('  modem (ModemPort=1): COM1 = "rfc2217://127.0.0.1:7001"', report)
        self.assertIn('  analyzer (ZMKPort=2): COM2 = "/dev/ttyUSB0"\n', report)
        # The only mistake the example may show is a device this machine lacks.
        mistakes = report.split("Possible mistakes:\n")[1:]
        for line in (mistakes[0].splitlines() if mistakes else []):
            self.assertIn('there is no "/dev/ttyUSB0" on this machine', line)
        self.assertEqual(checked.returncode, 1 if mistakes else 0, report)

        # The file tool of the package makes and shows a scenario file.
        scn = os.path.join(folder, "a.scn")
        made = run([self.installed("usr/bin/vetlina-data"), "scn", "make",
                    os.path.join(SOURCE, "scripts/demo-scenario.json"), "-o", scn])
        self.assertEqual(made.returncode, 0, made.stderr)
        shown = run([self.installed("usr/bin/vetlina-data"), "scn", "show", scn])
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn('"entries"', shown.stdout.decode())

    def test_the_service_runs_the_passive_complex_in_its_folder_as_the_dialout_user(self):
        with open(self.installed(UNIT), encoding="utf-8") as f:
            text = f.read()
        unit = configparser.ConfigParser(interpolation=None, strict=True)
        unit.optionxform = str
        unit.read_string(text)
        service = unit["Service"]
        self.assertEqual(service["ExecStart"], "/usr/bin/vetlina-run --passive")
        self.assertEqual(service["WorkingDirectory"], "%f")
        self.assertEqual(service["User"], "vetlina")
        self.assertEqual(service["SupplementaryGroups"], "dialout")
        self.assertEqual(service["Restart"], "on-failure")
        self.assertEqual(service["RestartPreventExitStatus"], "2")
        self.assertEqual(service.get("KillSignal", "SIGTERM"), "SIGTERM")
        self.assertEqual(service["StandardOutput"], "journal")
        self.assertEqual(service["StandardError"], "journal")
        self.assertEqual(unit["Install"]["WantedBy"], "multi-user.target")
        self.assertEqual(unit["Unit"]["RequiresMountsFor"], "%f")

        with open(self.installed("usr/share/doc/vetlina/examples/90-vetlina-serial.rules")) as f:
            rules = [line for line in f if line.strip() and not line.startswith("#")]
        self.assertTrue(rules)
        for rule in rules:
            self.assertIn('ENV{ID_MM_DEVICE_IGNORE}="1"', rule)
            self.assertIn('GROUP="dialout"', rule)

        analyze = shutil.which("systemd-analyze")
        if not analyze:
            self.skipTest("no systemd-analyze on this machine; the keys are checked above")
        # Verified as installed, with ExecStart pointing at the unpacked program.
        units = os.path.join(self.scratch, "units")
        os.makedirs(units)
        with open(os.path.join(units, "vetlina-answer@.service"), "w", encoding="utf-8") as f:
            f.write(text.replace("/usr/bin/vetlina-run", self.installed("usr/bin/vetlina-run")))
        verified = run([analyze, "verify", "--man=no",
                        os.path.join(units, "vetlina-answer@srv-vetlina-complex1.service")])
        said = verified.stdout.decode() + verified.stderr.decode()
        self.assertEqual(verified.returncode, 0, said)
        self.assertNotRegex(said, r"(?i)unknown|ignoring|invalid|not executable", said)


if __name__ == "__main__":
    unittest.main(verbosity=2)
