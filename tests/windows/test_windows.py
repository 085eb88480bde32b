"""quilbex.exe under wine, black-box, against the Linux build of the same sources.

Environment:
    QUILBEX_EXE     the Windows build (quilbex.exe)
    QUILBEX_BIN     the Linux build, the reference for texts and archives
    QUILBEX_MKCARD  the Linux card-image writer

Standard output and standard error of quilbex.exe are in the C runtime's
text mode, as for any Windows console program: every "\\n" the program
writes arrives as "\\r\\n". The system's error texts already end in "\\r\\n",
so after the conversion they end in "\\r\\r\\n".

One wine prefix, in a temporary directory, serves the whole run: it is
booted once, and its server is kept running so that the drive letters
mapped before it started stay as its volume manager saw them.
"""

import os
import select
import shutil
import signal
import subprocess
import tempfile
import unittest
import zipfile

from quilbex_support import BLOCK, HINT, PROMPT, USAGE, make_card, read_page


# FormatMessageA's texts as wine 8.0 words them (Windows words them
# differently); each ends in the system's own "\r\n".
WINE_TEXT = {
    2: b"File not found.\r\n",
    5: b"Access denied.\r\n",
    50: b"Request not supported.\r\n",
    66: b"Bad device type.\r\n",
    206: b"File name is too long.\r\n",
}
ERROR_FILENAME_EXCED_RANGE = 206
# SystemTimeToFileTime's code for a calendar time that is no valid time.
ERROR_INVALID_PARAMETER = 87

# The geometry wine's volume manager reports for any volume it manages
# itself, whatever lies behind it.
WINE_VOLUME_GEOMETRY = (b"Cylinders       = 10000\n"
                        b"Tracks/cylinder = 255\n"
                        b"Sectors/track   = 63\n"
                        b"Bytes/sector    = 512\n"
                        b"Disk size       = 82252800000 (Bytes)\n"
                        b"               = 76.60 (Gb)\n")


def crlf(text):
    """What text written in text mode arrives as."""
    return text.replace(b"\n", b"\r\n")


def system_text(code):
    """The system error text as printed after a failed call: a newline, then
    the system's line, whose own "\r\n" gains a "\r" in text mode."""
    return b"\r\n" + WINE_TEXT[code].replace(b"\r\n", b"\r\r\n")


def dos_time(year, month, day, hour, minute, second):
    return (year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 | second // 2


def binary(variable):
    path = os.environ.get(variable)
    if not path:
        raise unittest.SkipTest(f"{variable} is not set; tools/check-windows sets it")
    if not os.path.isfile(path):
        raise AssertionError(f"{variable}={path} is no file")
    return path


class Wine:
    """The prefix, its environment, and the drive letters mapped in it."""

    def __init__(self):
        if shutil.which("wine") is None or shutil.which("wineserver") is None:
            raise unittest.SkipTest("wine is not installed; tools/build-windows installs it")
        self.root = tempfile.mkdtemp(prefix="quilbex-wine-")
        self.env = dict(os.environ, WINEPREFIX=os.path.join(self.root, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.loop_device = None

    def boot(self):
        # The server and the services it starts outlive the command: they get
        # no pipe of ours to hold open.
        subprocess.run(["wineboot", "--init"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=600, check=True)
        self.server("-k")
        self.server("-w")

    def map_drives(self, card):
        """E: is a card behind a device (a read-only loop device where one can
        be attached, the image itself otherwise); F: is a drive letter with
        no device behind it. Both need a folder as their file system."""
        dosdevices = os.path.join(self.env["WINEPREFIX"], "dosdevices")
        for letter in "ef":
            folder = os.path.join(self.root, f"drive_{letter}")
            os.mkdir(folder)
            os.symlink(folder, os.path.join(dosdevices, f"{letter}:"))
        os.symlink(self.attach_loop(card) or card, os.path.join(dosdevices, "e::"))
        # The volume manager reads the mapping when the server starts; a
        # persistent server keeps that view for every run that follows.
        self.server("-p")
        # The first program started brings up wine's services, which inherit
        # its standard handles and live as long as the server: they must not
        # hold a test's pipes open.
        for drive in ("E:", "F:"):
            subprocess.run(["wine", binary("QUILBEX_EXE"), "-i", drive], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300, check=False)

    def attach_loop(self, image):
        if os.geteuid() != 0 or shutil.which("losetup") is None or not os.path.exists("/dev/loop-control"):
            return None
        result = subprocess.run(["losetup", "--find", "--show", "--read-only", image], capture_output=True,
                                text=True, timeout=60, check=False)
        if result.returncode != 0:
            return None
        self.loop_device = result.stdout.strip()
        return self.loop_device

    def server(self, option):
        subprocess.run(["wineserver", option], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=300, check=False)

    def close(self):
        self.server("-k")
        self.server("-w")
        if self.loop_device:
            subprocess.run(["losetup", "--detach", self.loop_device], capture_output=True, timeout=60, check=False)
        shutil.rmtree(self.root, ignore_errors=True)


wine = None


def setUpModule():
    global wine
    binary("QUILBEX_EXE")
    wine = Wine()
    try:
        wine.boot()
        wine.map_drives(make_card(os.path.join(wine.root, "drive.img"), "rec:2", "rec:1"))
    except BaseException:
        wine.close()
        raise


def tearDownModule():
    if wine:
        wine.close()


def run_windows(args, stdin=b"", cwd=None, env=None):
    """(status, stdout, stderr) of quilbex.exe under wine."""
    result = subprocess.run(["wine", binary("QUILBEX_EXE"), *args], input=stdin, cwd=cwd,
                            env={**wine.env, **(env or {})}, capture_output=True, timeout=120, check=False)
    return result.returncode, result.stdout, result.stderr


def run_linux(args, stdin=b"", cwd=None, env=None):
    result = subprocess.run([binary("QUILBEX_BIN"), *args], input=stdin, cwd=cwd,
                            env={**os.environ, **(env or {})}, capture_output=True, timeout=120, check=False)
    return result.returncode, result.stdout, result.stderr


def windows_path(path):
    """A Linux path as Windows programs under wine see it: on drive Z:."""
    return "Z:" + path.replace("/", "\\")


class WindowsTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quilbex-windows-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def empty_card(self, name="empty.img"):
        return make_card(self.path(name), "junk:5", payload="sparse")

    def assertWindows(self, args, status, out=b"", err=b"", **kwargs):
        self.assertEqual(run_windows(args, **kwargs), (status, out, err), args)

    def assertLikeLinux(self, args, status, out=b"", err=b"", **kwargs):
        """Both builds give these results, the Windows one with its line ends."""
        self.assertEqual(run_linux(args, **kwargs), (status, out, err), ("linux", args))
        self.assertWindows(args, status, crlf(out), crlf(err), **kwargs)


class CommandLineTest(WindowsTestCase):
    def test_prints_usage_on_standard_error(self):
        for word in ("-h", "-?"):
            with self.subTest(word=word):
                self.assertLikeLinux([word], 0, err=USAGE)

    def test_prints_version_on_standard_output(self):
        self.assertWindows(["-v"], 0, out=b"quilbex v.2.2.3b (1.2.13)\r\n")

    def test_prints_hint_without_arguments(self):
        self.assertLikeLinux([], 1, err=HINT)

    def test_rejects_unknown_option(self):
        self.assertLikeLinux(["-x"], 1, err=b"Unknown option: x\n" + HINT)
        self.assertLikeLinux(["--help"], 1, err=b"Unknown option: -\n" + HINT)

    def test_prints_only_hint_when_drive_report_lacks_its_drive(self):
        self.assertLikeLinux(["-i"], 1, err=HINT)

    def test_does_nothing_unless_given_exactly_two_positionals(self):
        self.assertLikeLinux(["-t"], 0)
        self.assertLikeLinux(["E:"], 0)


class ImageReportTest(WindowsTestCase):
    REPORT = (b"Cylinders       = 24576\n"
              b"Tracks/cylinder = 1\n"
              b"Sectors/track   = 1\n"
              b"Bytes/sector    = 512\n"
              b"Disk size       = 12582912 (Bytes)\n"
              b"               = 0.01 (Gb)\n")

    def test_reports_image_as_512_byte_sectors(self):
        card = make_card(self.path("card.img"), "rec:3", payload="sparse")
        self.assertLikeLinux(["-i", "card.img"], 0, cwd=self.dir, out=b"Drive path      = card.img\n" + self.REPORT)
        self.assertWindows(["-i", windows_path(card)], 0,
                           out=crlf(f"Drive path      = {windows_path(card)}\n".encode() + self.REPORT))

    def test_reports_missing_image_with_system_text(self):
        self.assertWindows(["-i", "missing.img"], 0, cwd=self.dir,
                           out=b"Bad drive. Error: 2.\r\n" + system_text(2))

    def test_reports_folder_as_no_card(self):
        self.assertWindows(["-i", windows_path(self.dir)], 0, out=b"Bad drive. Error: 5.\r\n" + system_text(5))


class DriverFailureTest(WindowsTestCase):
    def test_rejects_missing_archive_directory_before_asking_the_card(self):
        self.assertLikeLinux(["missing.img", "no/such/out.zip"], 1, cwd=self.dir,
                             err=b"Error: Directory not found: no/such\n")
        archive = windows_path(self.path("no\\such\\out.zip"))
        self.assertWindows(["missing.img", archive], 1, cwd=self.dir,
                           err=crlf(b"Error: Directory not found: " + archive[:-len("\\out.zip")].encode() + b"\n"))

    def test_rejects_archive_directory_that_is_a_file(self):
        with open(self.path("plain"), "wb") as f:
            f.write(b"x")
        self.empty_card()
        self.assertLikeLinux(["empty.img", "plain\\out.zip"], 1, cwd=self.dir,
                             err=b"Error: Directory not found: plain\n")

    def test_stops_when_drive_size_is_unknown(self):
        self.assertWindows(["missing.img", "out.zip"], 1, cwd=self.dir,
                           out=b"Can't determine drive size!. Error 2.\r\n" + system_text(2),
                           err=b"Drive size unknown\r\n")
        self.assertWindows([windows_path(self.dir), "out.zip"], 1, cwd=self.dir,
                           out=b"Can't determine drive size!. Error 5.\r\n" + system_text(5),
                           err=b"Drive size unknown\r\n")
        self.assertFalse(os.path.exists(self.path("out.zip")))

    def test_stops_when_card_is_smaller_than_a_sector(self):
        with open(self.path("small.img"), "wb") as f:
            f.write(b"\x5a" * 511)
        self.assertLikeLinux(["small.img", "out.zip"], 1, cwd=self.dir, err=b"Drive size unknown\n")

    def test_reports_no_files_found(self):
        self.empty_card()
        self.assertLikeLinux(["empty.img", "out.zip"], 1, cwd=self.dir, out=b"Extracting to out.zip...\n",
                             err=b"No files found\n")

    def test_asks_nothing_when_the_archive_path_is_a_folder(self):
        self.empty_card()
        os.mkdir(self.path("folder"))
        self.assertLikeLinux(["empty.img", "folder"], 1, stdin=b"n\n", cwd=self.dir,
                             out=b"Extracting to folder...\n", err=b"No files found\n")


class OverwriteTest(WindowsTestCase):
    def setUp(self):
        super().setUp()
        self.empty_card()
        with open(self.path("out.zip"), "wb") as f:
            f.write(b"old archive")

    def assertKept(self):
        with open(self.path("out.zip"), "rb") as f:
            self.assertEqual(f.read(), b"old archive")

    def test_continues_after_y(self):
        for answer in (b"y\n", b"Y\r\n", b"\r\n  y"):
            with self.subTest(answer=answer):
                self.assertWindows(["empty.img", "out.zip"], 1, stdin=answer, cwd=self.dir,
                                   out=PROMPT + b"Extracting to out.zip...\r\n", err=b"No files found\r\n")
                self.assertKept()

    def test_gives_up_on_n(self):
        for answer in (b"n\n", b"n\r\n", b"yes\r\n"):
            with self.subTest(answer=answer):
                self.assertLikeLinux(["empty.img", "out.zip"], 1, stdin=answer, cwd=self.dir, out=PROMPT)
                self.assertKept()

    def test_gives_up_at_end_of_input(self):
        self.assertLikeLinux(["empty.img", "out.zip"], 1, stdin=b"", cwd=self.dir, out=PROMPT)
        self.assertKept()


class ExportTest(WindowsTestCase):
    THREADS = {"QUILBEX_THREADS": "2"}

    def export_both(self, card, old_archive=None, options=()):
        """Runs both builds on the card, each into out.zip of a folder of its
        own; returns their (status, stdout, stderr, archive bytes)."""
        results = []
        for name, run, card_path in (("linux", run_linux, card), ("windows", run_windows, windows_path(card))):
            folder = self.path(name)
            os.mkdir(folder)
            if old_archive is not None:
                with open(os.path.join(folder, "out.zip"), "wb") as f:
                    f.write(old_archive)
            status, out, err = run([*options, card_path, "out.zip"], stdin=b"y\n", cwd=folder, env=self.THREADS)
            with open(os.path.join(folder, "out.zip"), "rb") as f:
                results.append((status, out, err, f.read()))
        return results

    def test_deflates_field_audio_as_the_linux_build_does(self):
        # Noise-like audio takes the literals-only blocks, which chirps do not.
        card = make_card(self.path("card.img"), "rec:2", payload="field")
        linux, windows = self.export_both(card)
        self.assertEqual(linux[0], 0, linux[2])
        self.assertTrue(windows[3] == linux[3], "the archives differ")

    def test_checks_two_copies_and_writes_their_checksums_as_the_linux_build_does(self):
        # Under wine the read-back cannot be shown to bypass a cache: the same lines and files.
        card = make_card(self.path("card.img"), "rec:2", "rec:1")
        linux, windows = self.export_both(card, options=("-c", "-m", "copy.zip"))
        self.assertEqual(linux[0], 0, linux[2])
        self.assertEqual(windows[:3], (0, crlf(linux[1]), b""))
        for name in ("out.zip", "out.zip.sha256", "copy.zip", "copy.zip.sha256"):
            with open(self.path(f"linux/{name}"), "rb") as ours, open(self.path(f"windows/{name}"), "rb") as theirs:
                self.assertTrue(ours.read() == theirs.read(), f"{name} differs")

    def test_writes_the_archive_the_linux_build_writes(self):
        card = make_card(self.path("card.img"), "rec:2", "rec:1", "rec:3x2", "rec:1@2019-12-31T23:59:58",
                         "junk:2")
        linux, windows = self.export_both(card, old_archive=b"old archive")
        self.assertEqual(linux[0], 0, linux[2])
        self.assertTrue(linux[1].startswith(PROMPT + b"Extracting to out.zip...\n"), linux[1])
        self.assertEqual(windows[:3], (0, crlf(linux[1]), b""))
        self.assertTrue(windows[3] == linux[3], "the archives differ")
        with zipfile.ZipFile(self.path("windows/out.zip")) as archive:
            self.assertIsNone(archive.testzip())
            self.assertEqual([(i.filename, i.date_time, i.file_size) for i in archive.infolist()], [
                ("wav0000_2017_03_05__14_07_32.wav", (2017, 3, 5, 14, 7, 32), 56 + 2 * (BLOCK - 32)),
                ("wav0001_2017_03_05__14_08_32.wav", (2017, 3, 5, 14, 8, 32), 56 + 1 * (BLOCK - 32)),
                ("wav0002_2017_03_05__14_09_32.wav", (2017, 3, 5, 14, 9, 32), 56 + 3 * (BLOCK - 32)),
                ("wav0003_2017_03_05__14_10_32.wav", (2017, 3, 5, 14, 10, 32), 56 + 3 * (BLOCK - 32)),
                ("wav0004_2019_12_31__23_59_58.wav", (2019, 12, 31, 23, 59, 58), 56 + 1 * (BLOCK - 32)),
            ])

    def test_writes_the_report_page_the_linux_build_writes(self):
        card = make_card(self.path("card.img"), "rec:2", "rec:1@2017-03-06T01:00:00", "junk:2", "blk:1", "junk:1")
        linux, windows = self.export_both(card, options=("-R", "page.html"))
        self.assertEqual((linux[0], windows[0]), (0, 0), linux[2] + windows[2])
        pages = [read_page(self.path(f"{name}/page.html")) for name in ("linux", "windows")]
        self.assertEqual(pages[0].outcome, "2 files written to out.zip.")
        self.assertEqual((pages[1].bars, pages[1].rows, pages[1].lists), (pages[0].bars, pages[0].rows, pages[0].lists))

    def test_says_why_the_archive_cannot_be_made(self):
        card = make_card(self.path("card.img"), "rec:1", "junk:1")
        status, _, err = run_windows([windows_path(card), "z" * 300 + ".zip"], cwd=self.dir)
        reason = WINE_TEXT[ERROR_FILENAME_EXCED_RANGE]
        self.assertEqual((status, err), (1, crlf(b"Error: Can't make the zip file. Bad filename?\n") + reason
                                         + crlf(b"\nZip archive failure\n") + reason))

    def test_rescues_like_the_linux_build(self):
        card = make_card(self.path("card.img"), "rec:2", "rec:1", "junk:1")
        linux, windows = self.export_both(card, options=("-r",))
        self.assertEqual(linux[:3:2], (0, b"Rescue: 2 of 2 files exported; 0 unreadable bytes zero-filled\n"))
        self.assertEqual(windows[:3], (0, crlf(linux[1]), crlf(linux[2])))
        self.assertTrue(windows[3] == linux[3], "the archives differ")

    def test_warns_with_system_code_for_invalid_start_times(self):
        seconds_60 = dos_time(2017, 3, 5, 14, 7, 0) | 30
        month_13 = dos_time(2017, 13, 5, 14, 7, 32)
        april_31 = dos_time(2017, 4, 31, 14, 7, 32)
        card = make_card(self.path("card.img"), *(f"rec:1@0x{t:08X}" for t in (seconds_60, month_13, april_31)),
                         "rec:1", payload="sparse")
        linux, windows = self.export_both(card)
        warning = b"Warning: Can't convert to file date/time.(%d)\n"
        self.assertEqual(windows[0], 0)
        self.assertEqual(windows[2], crlf(3 * (warning % ERROR_INVALID_PARAMETER)))
        self.assertEqual(linux[0], 0)
        self.assertTrue(windows[3] == linux[3], "the archives differ")
        with zipfile.ZipFile(self.path("windows/out.zip")) as archive:
            self.assertEqual(archive.namelist(), ["wav0000_2017_03_05__14_07_60.wav",
                                                  "wav0001_2017_13_05__14_07_32.wav",
                                                  "wav0002_2017_04_31__14_07_32.wav",
                                                  "wav0003_2017_03_05__14_10_32.wav"])


class InterruptTest(WindowsTestCase):
    def test_stops_the_scan_on_ctrl_c_with_status_130(self):
        # Wine turns SIGINT into the console's Ctrl-C event. The card is large
        # enough that the scan is still running when the signal arrives.
        make_card(self.path("card.img"), *["blk:1"] * 20000, payload="sparse")
        process = subprocess.Popen(["wine", binary("QUILBEX_EXE"), "card.img", "out.zip"], cwd=self.dir,
                                   env=wine.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(process.kill)
        line = b"Extracting to out.zip...\r\n"
        shown = b""
        while len(shown) < len(line):
            ready, _, _ = select.select([process.stdout], [], [], 60)
            chunk = os.read(process.stdout.fileno(), 4096) if ready else b""
            if not chunk:
                break
            shown += chunk
        self.assertEqual(shown, line)
        # Signals reach wine's own process, which runs the program; the wine
        # starter script has exec'd into it.
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=120)
        self.assertEqual((process.returncode, out, err), (130, b"", b"\r\nInterrupted\r\n"))
        self.assertFalse(os.path.exists(self.path("out.zip")))


class DriveLetterTest(WindowsTestCase):
    """Wine 8.0 cannot stand in for a card reader. E: has a card behind it,
    but wine refuses the geometry request on it as not supported, so the tool
    stops before it opens the card. F: has nothing behind it: wine's volume
    manager answers the geometry with fixed numbers, opens the volume for
    reading, and then refuses to move the read position on it."""

    def test_reports_geometry_failure_for_mapped_device(self):
        self.assertWindows(["-i", "E:"], 0, out=b"Bad drive. Error: 50.\r\n" + system_text(50))
        self.assertWindows(["-i", "e:"], 0, out=b"Bad drive. Error: 50.\r\n" + system_text(50))

    def test_stops_export_from_mapped_device_at_the_drive_size(self):
        self.assertWindows(["E:", "out.zip"], 1, cwd=self.dir,
                           out=b"Can't determine drive size!. Error 50.\r\n" + system_text(50),
                           err=b"Drive size unknown\r\n")
        self.assertFalse(os.path.exists(self.path("out.zip")))

    def test_reports_volume_path_and_geometry_of_volume_manager(self):
        self.assertWindows(["-i", "F:"], 0, out=b"Drive path      = \\\\.\\F:\r\n" + crlf(WINE_VOLUME_GEOMETRY))

    def test_reports_failed_seek_on_volume_without_device(self):
        self.assertWindows(["F:", "out.zip"], 1, cwd=self.dir,
                           out=b"Extracting to out.zip...\r\nInternal error: 66\r\n" + system_text(66),
                           err=b"No files found\r\n")

    def test_takes_longer_names_as_image_paths(self):
        self.assertWindows(["-i", "E:x"], 0, out=b"Bad drive. Error: 2.\r\n" + system_text(2))


if __name__ == "__main__":
    unittest.main()
