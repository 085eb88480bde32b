"""The command line and the driver, black-box: options, fixed texts, the
failures before the scan, the overwrite question and the run that finds no
recording. Needs QUILBEX_BIN and QUILBEX_MKCARD."""

import errno
import os
import re
import select
import subprocess
import time
import unittest

from quilbex_support import HINT, PROMPT, USAGE, binary, file_state, make_card, run, temp_dir

VERSION_PREFIX = b"quilbex v.2.2.3b ("
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")



def manual_words(title, after="\n"):
    """The words, as set, of each line of a section of the manual page that
    follows `after` (a .TP for the tags of OPTIONS): macros, quotes,
    brackets, bars and commas dropped, and "\\(+-" read as "+"."""
    with open(os.path.join(SOURCE, "doc", "quilbex.1")) as f:
        section = f.read().split(f".SH {title}\n", 1)[1].split("\n.SH ", 1)[0]
    return [re.sub(r'[][|,"]', " ", re.sub(r"^\.[A-Z]+ ?", "", part.split("\n")[0]).replace("\\-", "-")
                   .replace("\\(+-", "+")).split() for part in section.split(after)]


def zlib_version():
    """ZLIB_VERSION of the zlib.h the build compiled against, found through
    the build tree's CMake cache."""
    directory = os.path.dirname(os.path.abspath(binary("QUILBEX_BIN")))
    while not os.path.exists(os.path.join(directory, "CMakeCache.txt")):
        if directory == os.path.dirname(directory):
            raise unittest.SkipTest("no CMakeCache.txt above QUILBEX_BIN to find zlib.h")
        directory = os.path.dirname(directory)
    with open(os.path.join(directory, "CMakeCache.txt")) as f:
        include = re.search(r"^ZLIB_INCLUDE_DIR:PATH=(.*)$", f.read(), re.M).group(1)
    with open(os.path.join(include, "zlib.h"), "rb") as f:
        return re.search(rb'#define ZLIB_VERSION "([^"]+)"', f.read()).group(1)


def drive_size_failure(code):
    return f"Can't determine drive size!. Error {code}.\n\n{os.strerror(code)}\n".encode()


class CliTestCase(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)

    def path(self, name):
        return os.path.join(self.dir, name)

    def empty_card(self, name="card.img"):
        """A card without recordings: the run ends with "No files found"."""
        return make_card(self.path(name), "junk:5", payload="sparse")

    def assertRun(self, args, status, out=b"", err=b"", **kwargs):
        self.assertEqual(run(args, **kwargs), (status, out, err), args)

    def assertNoArchive(self, path):
        self.assertFalse(os.path.lexists(path), "an archive was written")


class OptionTest(CliTestCase):
    def test_prints_hint_without_arguments(self):
        self.assertRun([], 1, err=HINT)

    def test_rejects_unknown_option(self):
        for word, letter in (("-x", "x"), ("--help", "-"), ("-H", "H"), ("-T", "T"), ("-I", "I"), ("-xv", "x")):
            with self.subTest(word=word):
                self.assertRun([word], 1, err=f"Unknown option: {letter}\n".encode() + HINT)

    def test_refuses_added_options_that_would_do_nothing_before_reading_the_card(self):
        card, archive = self.empty_card(), self.path("out.zip")
        alone = b"Give options one at a time: "
        for args, line in ((["-dg", card, self.path("night")], alone + b"-d -g"), (["-rl", card], alone + b"-r -l"),
                           (["-sx", "4", card, archive], alone + b"-s -x"), (["-s1", card, archive], alone + b"-s -1"),
                           (["-cx", card, archive], alone + b"-c -x"), ([card, "-Rx", "-h"], alone + b"-R -x"),
                           (["-l", "-z", "+02:00", card], b"-z sets the time offset of GUANO metadata: add -g")):
            with self.subTest(args=args):
                self.assertRun(args, 1, err=line + b"\n" + HINT)
        self.assertEqual(sorted(os.listdir(self.dir)), ["card.img"])
        # The recorder's own letters still read only the second character.
        self.assertEqual(run(["-tV", card, archive]), run(["-t", card, archive]))

    def test_stops_at_unknown_option(self):
        self.assertRun(["-x", "-y", "-h", "-v"], 1, err=b"Unknown option: x\n" + HINT)

    def test_prints_only_hint_when_drive_report_or_listing_lacks_its_drive(self):
        for args in (["-i"], ["-t", "-i"], ["-l"], ["-l", "-s", "1"]):
            with self.subTest(args=args):
                self.assertRun(args, 1, err=HINT)

    def test_prints_usage_for_h_and_question_mark(self):
        for word in ("-h", "-?", "-help", "-hx"):
            with self.subTest(word=word):
                self.assertRun([word], 0, err=USAGE)

    def test_stops_at_usage(self):
        self.assertRun(["-h", "-x", "-v"], 0, err=USAGE)
        card = self.empty_card()
        archive = self.path("out.zip")
        self.assertRun([card, archive, "-h"], 0, err=USAGE)
        self.assertNoArchive(archive)

    def test_prints_version_with_zlib_version(self):
        for args in (["-v"], ["-version"], ["-V", "-v"], ["-v", "-x", "-h"]):
            with self.subTest(args=args):
                status, out, err = run(args)
                self.assertEqual((status, err), (0, b""))
                self.assertTrue(out.startswith(VERSION_PREFIX) and out.endswith(b")\n"), out)
                self.assertEqual(out[len(VERSION_PREFIX):-2], zlib_version())

    def test_does_nothing_unless_given_exactly_two_positionals(self):
        card = self.empty_card()
        for args in (["-t"], ["-V", "-t"], [card], [card, self.path("a.zip"), self.path("b.zip")]):
            with self.subTest(args=args):
                self.assertRun(args, 0, stdin=b"y\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["card.img"])

    def test_reports_drive_after_i_and_ignores_the_rest(self):
        card = self.empty_card()
        status, report, err = run(["-i", card])
        self.assertEqual((status, err), (0, b""))
        self.assertTrue(report.startswith(f"Drive path      = {card}\n".encode()), report)
        for args in (["-i", card, "more", "words", "-x"], ["-iE:", card], [card, "-i", card, self.path("out.zip")]):
            with self.subTest(args=args):
                self.assertRun(args, 0, out=report)
        self.assertNoArchive(self.path("out.zip"))

    def test_succeeds_when_the_reported_drive_cannot_be_opened(self):
        status, out, err = run(["-i", self.path("missing.img")])
        self.assertEqual((status, err), (0, b""))
        self.assertIn(os.strerror(errno.ENOENT).encode(), out)

    def test_manual_and_readme_show_every_option_of_the_usage(self):
        status, _, usage = run(["-h"])
        lines = re.findall(r"^        -.*$", usage.decode(), re.M)
        self.assertEqual((status, len(lines) > 2), (0, True), usage)
        synopsis = sum(manual_words("SYNOPSIS"), [])
        tags = manual_words("OPTIONS", after="\n.TP\n")[1:]
        with open(os.path.join(SOURCE, "README.md")) as f:
            readme = f.read()
        for line in lines:
            with self.subTest(line=line):
                shown = line.split(" - ")[0].split()  # the option, and the name of its value if it takes one
                self.assertIn(shown, [synopsis[k:k + len(shown)] for k in range(len(synopsis))])
                self.assertIn(shown, [tag[:len(shown)] for tag in tags])
                self.assertIn("\n" + line + "\n", readme)

    def test_takes_lone_dash_as_drive(self):
        self.empty_card("-")
        self.assertRun(["-", "out.zip"], 1, out=b"Extracting to out.zip...\n", err=b"No files found\n", cwd=self.dir)

    def test_accepts_options_before_between_and_after_positionals(self):
        card = self.empty_card()
        archive = self.path("out.zip")
        expected = run(["-t", card, archive])
        self.assertEqual(expected, (1, f"Extracting to {archive}...\n".encode(), b"No files found\n"))
        for args in ([card, "-t", archive], [card, archive, "-t"]):
            with self.subTest(args=args):
                self.assertEqual(run(args), expected)


class DriverFailureTest(CliTestCase):
    def test_rejects_missing_archive_directory_before_asking_the_card(self):
        missing = self.path("no/such")
        self.assertRun([self.path("missing.img"), missing + "/out.zip"], 1,
                       err=f"Error: Directory not found: {missing}\n".encode())

    def test_rejects_archive_directory_that_is_a_file(self):
        plain = self.path("plain")
        with open(plain, "wb") as f:
            f.write(b"x")
        self.assertRun([self.empty_card(), plain + "/out.zip"], 1,
                       err=f"Error: Directory not found: {plain}\n".encode())

    def test_checks_no_directory_without_separator_or_with_one_only_at_the_start(self):
        missing = self.path("missing.img")
        for archive in ("out.zip", "/out.zip"):
            with self.subTest(archive=archive):
                self.assertRun([missing, archive], 1, out=drive_size_failure(errno.ENOENT),
                               err=b"Drive size unknown\n", cwd=self.dir)

    def test_stops_when_card_is_smaller_than_a_sector(self):
        for length in (0, 511):
            with self.subTest(length=length):
                card = self.path(f"small{length}.img")
                with open(card, "wb") as f:
                    f.write(b"\x5a" * length)
                self.assertRun([card, self.path("out.zip")], 1, err=b"Drive size unknown\n")
                self.assertNoArchive(self.path("out.zip"))

    def test_stops_when_drive_is_no_card(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        cases = ((self.path("missing.img"), errno.ENOENT), (self.dir, errno.EISDIR),
                 ("/dev/null", errno.ENOTBLK), (fifo, errno.ENOTBLK))
        for drive, code in cases:
            with self.subTest(drive=drive):
                self.assertRun([drive, self.path("out.zip")], 1, out=drive_size_failure(code),
                               err=b"Drive size unknown\n", timeout=30)
                self.assertNoArchive(self.path("out.zip"))

    def test_writes_standard_output_before_standard_error(self):
        status, merged, _ = run([self.path("missing.img"), self.path("out.zip")], merge_streams=True)
        self.assertEqual(status, 1)
        self.assertEqual(merged, drive_size_failure(errno.ENOENT) + b"Drive size unknown\n")


class OverwriteTest(CliTestCase):
    def setUp(self):
        super().setUp()
        self.card = self.empty_card()
        self.archive = self.path("out.zip")
        with open(self.archive, "wb") as f:
            f.write(b"old archive")
        os.utime(self.archive, ns=(1_500_000_000_000_000_000, 1_500_000_000_000_000_000))
        self.old_state = file_state(self.archive)

    def test_continues_after_y_in_either_case(self):
        for answer in (b"y", b"Y\n", b"\n\n   y\n", b" \t\nY and more"):
            with self.subTest(answer=answer):
                self.assertRun([self.card, self.archive], 1, stdin=answer,
                               out=PROMPT + f"Extracting to {self.archive}...\n".encode(),
                               err=b"No files found\n")

    def test_gives_up_on_any_other_answer(self):
        for answer in (b"", b"\n", b"n\n", b"N", b"yes\n", b"n y\n", b"yy"):
            with self.subTest(answer=answer):
                self.assertRun([self.card, self.archive], 1, stdin=answer, out=PROMPT)
                self.assertEqual(file_state(self.archive), self.old_state)

    def test_asks_even_when_the_archive_is_a_dangling_link(self):
        os.remove(self.archive)
        os.symlink(self.path("nowhere"), self.archive)
        self.assertRun([self.card, self.archive], 1, stdin=b"n\n", out=PROMPT)
        self.assertEqual(os.readlink(self.archive), self.path("nowhere"))

    def test_asks_nothing_when_no_archive_exists(self):
        fresh = self.path("fresh.zip")
        self.assertRun([self.card, fresh], 1, stdin=b"n\n", out=f"Extracting to {fresh}...\n".encode(),
                       err=b"No files found\n")

    def test_asks_nothing_when_the_archive_path_is_a_directory(self):
        os.mkdir(self.path("folder"))
        self.assertRun([self.card, self.path("folder")], 1, stdin=b"n\n",
                       out=f"Extracting to {self.path('folder')}...\n".encode(), err=b"No files found\n")

    def test_shows_the_question_before_waiting_for_the_answer(self):
        process = subprocess.Popen([binary("QUILBEX_BIN"), self.card, self.archive], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(process.kill)
        shown = b""
        deadline = time.monotonic() + 30  # guards against a hang only
        while len(shown) < len(PROMPT) and time.monotonic() < deadline:
            ready, _, _ = select.select([process.stdout], [], [], 1)
            if ready:
                chunk = os.read(process.stdout.fileno(), 4096)
                if not chunk:
                    break
                shown += chunk
        self.assertEqual(shown, PROMPT, "the question was not on standard output while the answer was awaited")
        out, err = process.communicate(b"n\n", timeout=60)
        self.assertEqual((process.returncode, out, err), (1, b"", b""))


class NoRecordingTest(CliTestCase):
    def test_keeps_old_archive_when_no_recording_found(self):
        card = self.empty_card()
        archive = self.path("out.zip")
        with open(archive, "wb") as f:
            f.write(b"old archive")
        os.utime(archive, ns=(1_500_000_000_000_000_000, 1_500_000_000_000_000_000))
        before = file_state(archive)
        self.assertRun([card, archive], 1, stdin=b"y\n",
                       out=PROMPT + f"Extracting to {archive}...\n".encode(), err=b"No files found\n")
        self.assertEqual(file_state(archive), before)

    def test_writes_no_archive_and_no_time_when_no_recording_found(self):
        card = self.empty_card()
        archive = self.path("out.zip")
        for options in ([], ["-t"], ["-V"], ["-V", "-t"]):
            with self.subTest(options=options):
                self.assertRun([*options, card, archive], 1, out=f"Extracting to {archive}...\n".encode(),
                               err=b"No files found\n")
                self.assertNoArchive(archive)


if __name__ == "__main__":
    unittest.main()
