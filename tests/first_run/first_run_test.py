#!/usr/bin/env python3
"""What a new user gets: the programs of a fresh program folder, started
under a virtual X server with the settings file the build places there, on
the embedded bench.

    first_run_test.py --build BUILD --source SOURCE

Each program runs as it is delivered: a fresh folder holds copies of the
programs and the files the build writes beside them (never the settings
file or the log of BUILD/bin, which are the operator's), its Kestrova.ini is
placed by the build's own step, and the working directory is elsewhere. An
operator loaded into the program (first_run_driver) presses START with the
mouse and reports what the windows show; the day log is read back with
Python's csv, the settings and yield files with configparser. Pictures of
the screen go to KESTROVA_SCREENSHOTS (default BUILD/screenshots).
"""
import argparse
import configparser
import csv
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
PROGRAMS = ("Kestrova", "KestrovaSdk")
# A port row: the caption, then the 13 cells; the step results are the last
# seven (firmware, identity, partition, format, R/W test, software copy,
# folder compare).
STEP_CELLS = slice(7, 14)
RUN_TIMEOUT_S = 240


def place_settings(folder):
    subprocess.run(["cmake", f"-DTEMPLATE={ARGS.source}/resources/Kestrova.ini", f"-DFOLDER={folder}",
                    "-P", f"{ARGS.source}/cmake/place_settings_file.cmake"], check=True)


def fresh_folder(root, settings=True):
    """A program folder as the build delivers it, below `root`."""
    built = pathlib.Path(ARGS.build) / "bin"
    folder = pathlib.Path(root) / "bin"
    shutil.copytree(built, folder, ignore=lambda where, names: [
        n for n in names if pathlib.Path(where) == built and n in ("Kestrova.ini", "log")])
    (pathlib.Path(root) / "lib").symlink_to(pathlib.Path(ARGS.build) / "lib")
    if settings:
        place_settings(folder)
    return folder


class Run:
    """What the driver reported of one start of a program."""

    def __init__(self, output, code):
        self.code = code
        self.output = output
        self.messages, self.rows, self.yields, self.pictures = [], {}, [], []
        self.result = None
        self.start_disabled = False
        current = None
        for line in output.splitlines():
            fields = line.split("\t")
            if fields[0] == "message":
                self.messages.append((fields[1], fields[2]))
            elif fields[0] == "rows":
                current = self.rows.setdefault(fields[1], [])
            elif fields[0] == "row" and current is not None:
                current.append(fields[1:])
            elif fields[0] == "yield":
                self.yields.append(tuple(int(n) for n in re.findall(r"\d+", fields[1])))
            elif fields[0] == "result":
                self.result = fields[1]
            elif fields[0] == "picture":
                self.pictures.append(fields[1])
            elif line == "start disabled":
                self.start_disabled = True


def start(program, folder, pictures, bench=None):
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", KESTROVA_SCREENSHOTS=str(pictures),
               LD_PRELOAD=str(pathlib.Path(ARGS.build) / "tests" / "libfirst_run_driver.so"))
    env.pop("KESTROVA_BENCH", None)
    if bench:
        env["KESTROVA_BENCH"] = str(bench)
    done = subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", str(folder / program)],
                          cwd=folder.parent.parent, env=env, capture_output=True, text=True,
                          timeout=RUN_TIMEOUT_S)
    return Run(done.stdout, done.returncode)


def read_ini(path):
    ini = configparser.ConfigParser(interpolation=None, strict=False)
    ini.optionxform = str
    with open(path, encoding="latin-1") as f:
        ini.read_file(f)
    return ini


def day_log_rows(folder):
    """Every row of the day logs, header lines included, as csv reads them."""
    rows = []
    for log in sorted((folder / "log").glob("[0-9]" * 8 + "_*.txt")):
        with open(log, newline="", encoding="latin-1") as f:
            rows += list(csv.reader(f, delimiter="\t"))
    return rows


def picture_size(path):
    out = subprocess.run(["identify", "-format", "%w %h %k", path], capture_output=True, text=True)
    return tuple(int(n) for n in out.stdout.split()) if out.returncode == 0 else ()


def serial(n):
    return f"{n:012X}"


@unittest.skipUnless(shutil.which("xvfb-run"), "xvfb-run is installed by scripts/setup")
class FirstRun(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kestrova_first_run.")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        # The programs run elsewhere: a relative folder is this one's.
        self.pictures = pathlib.Path(os.environ.get("KESTROVA_SCREENSHOTS") or
                                     pathlib.Path(ARGS.build) / "screenshots").resolve()

    def expect_sixteen_passes(self, run, program):
        self.assertEqual(run.code, 0, run.output)
        self.assertEqual(run.messages, [], run.output)
        ready = run.rows.get("ready", [])
        self.assertEqual(len(ready), 16, run.output)
        for row in ready:
            self.assertEqual(row[1], "YES", row)
            self.assertTrue(row[2].startswith("1D6B / 0891 / 5D"), row)
            self.assertEqual(row[STEP_CELLS], [""] * 7, row)
        after = run.rows.get("after", [])
        self.assertEqual(len(after), 16, run.output)
        for row in after:
            self.assertEqual(row[STEP_CELLS], ["Pass"] * 7, row)
        self.assertEqual(run.result, "PASS", run.output)
        before, now = run.yields[0], run.yields[-1]
        self.assertEqual(now, (before[0] + 16, before[1] + 16))
        for picture in run.pictures:
            width, height, colours = picture_size(picture)
            self.assertEqual((width, height), (1280, 1024), picture)
            self.assertGreater(colours, 16, picture)
        self.assertEqual([pathlib.Path(p).name for p in run.pictures],
                         [f"first-run-{program}-ready.png", f"first-run-{program}-result.png"])

    def expect_logged(self, folder, rows_before, first_serial, total):
        rows = day_log_rows(folder)[rows_before:]
        passes = [r for r in rows if r and r[0].isdigit()]
        self.assertEqual(len(passes), 16, rows)
        serials = []
        for row in passes:
            self.assertEqual(row[-1], "Pass", row)
            vid, pid, maker, product, number = (f.strip() for f in row[3].split(" / "))
            self.assertEqual((vid, pid, maker, product), ("6A3E", "4649", "Orvanta", "USB3.0 Disk"), row)
            serials.append(number)
        self.assertEqual(serials, [serial(first_serial + i) for i in range(16)])
        record = read_ini(folder / "log" / "QV4164x.log")["TestRecord"]
        self.assertEqual((record["TotalTestCount"], record["NumberOfPass"]), (str(total), str(total)))
        settings = read_ini(folder / "Kestrova.ini")
        self.assertEqual(settings["QVEEPROM"]["String3"], serial(first_serial + 16))
        # Each program's save keeps the other's keys.
        self.assertEqual(settings["QVEEPROM"]["UpdateVID"], "1")
        self.assertEqual(settings["QVEEPROM"]["ProductRevsion"], "0000")
        return len(rows) + rows_before

    def test_both_programs_pass_sixteen_products_with_the_shipped_settings(self):
        # The build placed one beside its programs (the operator's now).
        self.assertTrue((pathlib.Path(ARGS.build) / "bin" / "Kestrova.ini").is_file())
        folder = fresh_folder(self.root)
        shipped = read_ini(folder / "Kestrova.ini")
        self.assertEqual(shipped["QVEXECUTE"]["FwFileName"], f"{folder}/QVS891.bin")
        self.assertTrue((folder / "QVS891.bin").is_file() and (folder / "TestPattern.txt").is_file())
        rows = 0
        for n, program in enumerate(PROGRAMS):
            with self.subTest(program=program):
                # The second program goes on from the serial and the yield the
                # first one saved.
                run = start(program, folder, self.pictures)
                self.expect_sixteen_passes(run, program)
                rows = self.expect_logged(folder, rows, 1 + 16 * n, 16 * (n + 1))

    def test_a_missing_settings_file_is_said_and_nothing_runs(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                root = pathlib.Path(self.root) / program
                folder = fresh_folder(root, settings=False)
                run = start(program, folder, root / "pictures")
                self.assertEqual(run.code, 0, run.output)
                self.assertEqual(run.messages,
                                 [("Error", f"Please make sure the file {folder}/Kestrova.ini exist!\\n")])
                self.assertEqual(run.result, "none", run.output)
                self.assertFalse((folder / "Kestrova.ini").exists())
                self.assertEqual(day_log_rows(folder), [])

    def test_the_mixed_bench_is_named_by_its_file(self):
        folder = fresh_folder(self.root)
        run = start("Kestrova", folder, pathlib.Path(self.root) / "pictures",
                    bench=pathlib.Path(ARGS.source) / "sim" / "mixed_bench.txt")
        self.assertEqual(run.code, 0, run.output)
        self.assertGreater(len(run.messages), 0, run.output)
        self.assertEqual(run.messages[0],
                         ("Message", "Not Support interleave QV646 & Non-QV646 EEPROM Batch Operation!"))


@unittest.skipUnless(shutil.which("ninja"), "ninja is installed by scripts/setup")
class PlacedSettings(unittest.TestCase):
    """The build's placing step in a project of its own: configure and build
    place the file where none is, and leave an operator's file alone."""

    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="kestrova_placed."))
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.folder = self.root / "bin"
        (self.root / "project").mkdir()
        (self.root / "project" / "CMakeLists.txt").write_text(
            "cmake_minimum_required(VERSION 3.25)\n"
            "project(PlacedSettings NONE)\n"
            f"include({ARGS.source}/cmake/KestrovaProgramFolder.cmake)\n"
            f"kestrova_place_settings_file(settings TEMPLATE {ARGS.source}/resources/Kestrova.ini "
            f"FOLDER {self.folder})\n")

    def build(self, configure=True):
        if configure:
            subprocess.run(["cmake", "-G", "Ninja", "-S", self.root / "project", "-B", self.root / "build"],
                           check=True, capture_output=True)
        subprocess.run(["cmake", "--build", self.root / "build"], check=True, capture_output=True)

    def test_the_build_places_the_file_once_and_keeps_the_operators(self):
        self.build()
        settings = self.folder / "Kestrova.ini"
        placed = settings.read_bytes()
        self.assertNotIn(b"@PROGRAM_FOLDER@", placed)
        self.assertEqual(placed.count(b"\n"), placed.count(b"\r\n"))
        ini = read_ini(settings)
        self.assertEqual(ini["QVEXECUTE"]["SwImgPath"], f"{self.folder}/Software/*.*")
        # Both programs' keys, each step on.
        for section, key in [("QVEXECUTE", "EnFWUpdate"), ("QVEXECUTE", "EnEEPROMUpdate"),
                             ("QVEXECUTE", "EnPartition"), ("QVEXECUTE", "EnFormat"), ("QVEXECUTE", "EnRWTest"),
                             ("QVEXECUTE", "EnSWCopy"), ("QVEXECUTE", "EnFolderCompare"),
                             ("QVEEPROM", "String3Inc"), ("QVEEPROM", "UpdateVID"), ("QVEEPROM", "UpdatePID")]:
            self.assertEqual(ini[section][key], "1", key)
        self.assertEqual(ini["QVEXECUTE"]["DiskFormat"], "1")

        edited = placed.replace(b"String3=000000000001", b"String3=0000000000A0")
        settings.write_bytes(edited)
        for configure in (False, True):
            with self.subTest(configure=configure):
                self.build(configure)
                self.assertEqual(settings.read_bytes(), edited)
        settings.unlink()
        self.build(configure=False)
        self.assertEqual(settings.read_bytes(), placed)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.build = str(pathlib.Path(ARGS.build).resolve())
    ARGS.source = str(pathlib.Path(ARGS.source).resolve())
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
