"""Archive write failures, black-box: a small tmpfs that fills up, one
mounted read-only or a folder its user may not write, where no archive can be
made at all, and a file size limit that writes reach only in the archive's
central directory.

The chirp payload barely compresses, so an 8 MiB tmpfs takes only a few of
the card's recordings. The tool must say "Zip archive failure" after the
progress line of the recording it could not store, with the system's reason
on the next line, then "Error:: Can't add file to zip.", exit with status 1
without crashing or hanging, and leave a valid archive holding every
completed recording; it must write nothing anywhere but the archive path.
Failing to write the central directory is such a failure too, and the
archive then keeps the recordings its directory has room for. A folder
export (-d) refuses before its first byte a disk without room for every
file, or a FAT file system (an image mounted by fusefat) for a file over
4 GiB - 1; a file that meets a write failure keeps its .part name and its
bytes so far. A disk that keeps the written bytes in the cache but holds
one of them changed (quilbex-flipfs) is caught by the check (-c), which reads
past the cache. Needs root (mount) but for the size limit, QUILBEX_BIN and
QUILBEX_MKCARD; the FAT case also fusefat and mkfs.vfat.
"""

import os
import re
import resource
import shutil
import subprocess
import time
import unittest
import zipfile

import cardrig
from quilbex_support import (CHECKED, PROMPT, assert_checksum_list, binary, file_state, listed_digests, make_card,
                             read_page, run, temp_dir)
from test_faulty_card import Card, read_entries, wav_data

TIMEOUT = 120
RECORDINGS = 8
ADD_FAILED = b"Error:: Can't add file to zip.\n"
ZIP_FAILURE = b"\nZip archive failure\n"
CANNOT_MAKE = b"Error: Can't make the zip file. Bad filename?\n"
# The system's reason, on the line after each of the two above.
NO_SPACE = b"No space left on device\n"
READ_ONLY = b"Read-only file system\n"
DENIED = b"Permission denied\n"
TOO_LARGE = b"File too large\n"
PAYLOAD = 4 * 1024 * 1024 - 32  # bytes of audio per block
PROGRESS = re.compile(rb"\[(\d+)/(\d+)\] Adding \S+ length \d+ into \S+\n")

SKIP_REASON = None if os.geteuid() == 0 else "needs root to mount a tmpfs"


def _unmount(path):
    if subprocess.run(["umount", path], capture_output=True).returncode != 0:
        subprocess.run(["umount", "-l", path], capture_output=True)


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class FullDiskTestCase(unittest.TestCase):
    MOUNT_OPTIONS = "size=8m"

    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)
        self.mountpoint = os.path.join(self.dir, "small")
        # The tool's working directory, to show it writes nothing there.
        self.cwd = os.path.join(self.dir, "cwd")
        os.mkdir(self.mountpoint)
        os.mkdir(self.cwd)
        subprocess.run(["mount", "-t", "tmpfs", "-o", self.MOUNT_OPTIONS, "quilbex-test", self.mountpoint],
                       check=True, capture_output=True)
        self.addCleanup(_unmount, self.mountpoint)
        self.archive = os.path.join(self.mountpoint, "out.zip")
        self.card = Card(os.path.join(self.dir, "card.img"), f"rec:1x{RECORDINGS}", "junk:1", payload="chirp")

    def run_tool(self, merge_streams=False, options=()):
        return run(["-V", *options, self.card.path, self.archive], cwd=self.cwd, merge_streams=merge_streams,
                   timeout=TIMEOUT)

    def assertNothingWrittenElsewhere(self, archive_expected):
        self.assertEqual(os.listdir(self.mountpoint), ["out.zip"] if archive_expected else [])
        self.assertEqual(os.listdir(self.cwd), [])


class FullDiskTest(FullDiskTestCase):
    def test_reports_zip_failure_after_progress_line_of_the_unstored_recording(self):
        status, merged, _ = self.run_tool(merge_streams=True)
        self.assertEqual(status, 1)
        ending = re.search(rb"\[(\d+)/(\d+)\] Adding \S+ length \d+ into \S+\n"
                           + re.escape(ZIP_FAILURE + NO_SPACE + ADD_FAILED) + rb"\Z", merged)
        self.assertIsNotNone(ending, merged)
        self.assertLess(int(ending.group(1)), RECORDINGS, "the disk should fill before the last recording")

    def test_keeps_every_completed_recording_when_disk_fills(self):
        status, out, err = self.run_tool()
        self.assertEqual((status, err), (1, ZIP_FAILURE + NO_SPACE), out)
        self.assertTrue(out.endswith(ADD_FAILED), out)
        unstored = int(PROGRESS.findall(out)[-1][0])
        self.assertLess(unstored, RECORDINGS)
        entries = read_entries(self.archive)
        self.assertEqual(len(entries), unstored - 1, "the archive must hold the recordings stored before")
        for k, entry in enumerate(entries):
            declared, data = wav_data(entry)
            self.assertEqual(declared, len(self.card.payload(k)))
            self.assertTrue(data == self.card.payload(k), f"recording {k} differs from the card's payload")
        self.assertNothingWrittenElsewhere(archive_expected=True)

    def test_page_on_a_full_disk_fails_the_run_after_the_whole_export(self):
        filler = os.path.join(self.mountpoint, "filler")
        with open(filler, "wb") as f:
            try:
                while True:
                    f.write(bytes(1 << 20))
                    f.flush()
            except OSError:
                pass
        page, archive = os.path.join(self.mountpoint, "page.html"), os.path.join(self.dir, "out.zip")
        for options in (["-V"], ["-d", "-s", "2", "-g", "-r"]):
            with self.subTest(options=options):
                target = archive if "-d" not in options else os.path.join(self.dir, "night-1")
                status, out, err = run([*options, "-R", page, self.card.path, target], cwd=self.cwd,
                                       stdin=b"y\n", timeout=TIMEOUT)
                rescue = b"Rescue: 8 of 8 recordings exported; 0 unreadable bytes zero-filled\n" if "-r" in options else b""
                self.assertEqual((status, err), (1, rescue + b"Error: Can't write the report page " + page.encode() +
                                                 b": " + NO_SPACE), out)
                written = (len([n for n in os.listdir(target) if n.endswith(".wav")]) if "-d" in options
                           else len(read_entries(target)))
                self.assertEqual(written, RECORDINGS * (3 if "-s" in options else 1))
        self.assertEqual(sorted(os.listdir(self.mountpoint)), ["filler", "page.html"])

    def test_check_reads_back_the_recordings_kept_when_disk_fills(self):
        status, out, err = self.run_tool(options=["-c"])
        kept = len(read_entries(self.archive))
        self.assertEqual(status, 1)
        self.assertTrue(err.startswith(ZIP_FAILURE + NO_SPACE), err)
        self.assertTrue(out.endswith(ADD_FAILED + CHECKED % (kept, 0.0)), out[-200:])
        if os.path.exists(self.archive + ".sha256"):
            listed = subprocess.run(["sha256sum", "-c", "--strict", "out.zip.sha256"], cwd=self.mountpoint,
                                    capture_output=True, timeout=TIMEOUT)
            self.assertEqual((listed.returncode, listed.stdout), (0, b"out.zip: OK\n"))

    def test_folder_without_room_for_every_file_is_refused_before_the_first_byte(self):
        folder = os.path.join(self.mountpoint, "night-1")
        status, out, err = run(["-d", self.card.path, folder + "/"], cwd=self.cwd, timeout=TIMEOUT)
        needed = RECORDINGS * (PAYLOAD + 56) / 1e6
        self.assertEqual((status, err), (1, b"Not enough room in %s: %.1f MB needed, 8.4 MB free\n"
                                         % (folder.encode(), needed)), out)
        self.assertNothingWrittenElsewhere(archive_expected=False)


class ReplacedFilesTest(FullDiskTestCase):
    # Room for four files of one block, not for six.
    MOUNT_OPTIONS = "size=17m"

    def test_folder_export_run_again_counts_the_files_it_replaces_as_room(self):
        card = make_card(os.path.join(self.dir, "three.img"), "rec:1x3", "junk:1", payload="sparse")
        folder = os.path.join(self.mountpoint, "night-1")
        self.assertEqual(run(["-d", card, folder], cwd=self.cwd)[0], 0)
        # Each old file is freed as its successor takes its name: one at a time is held beside the new ones.
        # (With -g the files differ from the first run's, which is then not resumed but replaced.)
        status, out, err = run(["-d", "-g", card, folder], stdin=b"y\n", cwd=self.cwd, timeout=TIMEOUT)
        self.assertEqual((status, err, out.count(PROMPT), len(os.listdir(folder))), (0, b"", 1, 5), out)
        assert_checksum_list(self, folder, sorted(n for n in os.listdir(folder) if n.endswith(".wav")))


@unittest.skipIf(SKIP_REASON or not (shutil.which("fusefat") and shutil.which("mkfs.vfat")),
                 SKIP_REASON or "needs fusefat and mkfs.vfat")
class FatFolderTest(unittest.TestCase):
    def test_limits_of_fat_are_refused_before_the_first_byte(self):
        binary("QUILBEX_MKCARD")
        tmp = temp_dir(self)
        image, mountpoint = os.path.join(tmp, "fat.img"), os.path.join(tmp, "fat")
        os.mkdir(mountpoint)
        with open(image, "wb") as f:
            f.truncate(5 << 30)  # room for the file, so that only its size is refused
        subprocess.run(["mkfs.vfat", "-F", "32", image], check=True, capture_output=True)
        subprocess.run(["fusefat", "-o", "rw+", image, mountpoint], check=True, capture_output=True)
        self.addCleanup(_unmount, mountpoint)
        fat = b"FAT file system of " + mountpoint.encode()
        # 3663 blocks of sound are 20,005 files of one second, whose names
        # take four directory entries each.
        cases = [
            (("rec:1", "rec:1025"), [], b"Too large for the %s: wav0001_2017_03_05__14_08_32.wav would be %d bytes, "
             b"FAT holds at most 4294967295 a file; cut the recordings with -s N\n"
             % (fat, 1025 * PAYLOAD + 92)),  # an RF64 header: 56 bytes and ds64
            (("rec:3663",), ["-s", "1"], b"Too many files for the %s: 20005 files take 80030 directory entries, "
             b"a FAT folder holds at most 65536; cut the recordings with a larger -s N\n" % fat),
        ]
        for items, options, refusal in cases:
            with self.subTest(items=items):
                card = make_card(os.path.join(tmp, "card.img"), *items, "junk:1", payload="sparse")
                status, out, err = run(["-d", *options, card, mountpoint], timeout=TIMEOUT)
                self.assertEqual((status, err), (1, refusal), out)
                self.assertEqual(os.listdir(mountpoint), [])


class ReadOnlyDiskTest(FullDiskTestCase):
    MOUNT_OPTIONS = "size=1m,ro"

    def test_reports_archive_that_cannot_be_made(self):
        status, out, err = self.run_tool()
        self.assertEqual(status, 1)
        self.assertEqual(err, CANNOT_MAKE + READ_ONLY + ZIP_FAILURE + READ_ONLY)
        self.assertRegex(out, rb"\[1/%d\] Adding \S+ length \d+ into \S+\n" % RECORDINGS
                         + re.escape(ADD_FAILED) + rb"\Z")
        self.assertNothingWrittenElsewhere(archive_expected=False)

    def test_reports_cannot_make_before_the_progress_line(self):
        status, merged, _ = self.run_tool(merge_streams=True)
        self.assertEqual(status, 1)
        self.assertRegex(merged, re.escape(CANNOT_MAKE + READ_ONLY)
                         + rb"\[1/%d\] Adding \S+ length \d+ into \S+\n" % RECORDINGS
                         + re.escape(ZIP_FAILURE + READ_ONLY + ADD_FAILED) + rb"\Z")


class DeniedFolderTest(FullDiskTestCase):
    """A folder its user may not write: the tool runs as nobody."""
    MOUNT_OPTIONS = "size=1m,mode=0555"
    NOBODY = 65534

    def test_says_the_archive_folder_is_denied(self):
        os.chmod(self.dir, 0o755)
        os.chmod(self.card.path, 0o644)
        result = subprocess.run([binary("QUILBEX_BIN"), self.card.path, self.archive], cwd=self.cwd,
                                user=self.NOBODY, group=self.NOBODY, extra_groups=[], capture_output=True,
                                timeout=TIMEOUT)
        self.assertEqual((result.returncode, result.stderr), (1, CANNOT_MAKE + DENIED + ZIP_FAILURE + DENIED))
        self.assertNothingWrittenElsewhere(archive_expected=False)


class FileSizeLimitTest(unittest.TestCase):
    RECORDINGS = 3000

    def setUp(self):
        binary("QUILBEX_BIN")
        binary("QUILBEX_MKCARD")
        self.dir = temp_dir(self)

    def entry_size(self):
        """The bytes an entry of a one-block sparse recording takes: all of
        this card's recordings are such, with names of the same length."""
        card = make_card(os.path.join(self.dir, "one.img"), "rec:1", "junk:1", payload="sparse")
        archive = os.path.join(self.dir, "one.zip")
        self.assertEqual(run([card, archive])[0], 0)
        with zipfile.ZipFile(archive) as one:
            return one.start_dir

    def test_failure_inside_the_directory_is_reported_and_the_archive_opens(self):
        limit = self.RECORDINGS * self.entry_size() + 1000  # the directory starts after the entries
        card = make_card(os.path.join(self.dir, "card.img"), f"rec:1x{self.RECORDINGS}", "junk:1",
                         payload="sparse")
        archive = os.path.join(self.dir, "out.zip")
        hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
        result = subprocess.run([binary("QUILBEX_BIN"), card, archive], capture_output=True, timeout=900,
                                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard)))
        self.assertEqual((result.returncode, result.stderr), (1, ZIP_FAILURE + TOO_LARGE))
        self.assertTrue(result.stdout.endswith(b"\r" + ADD_FAILED), result.stdout[-200:])

        # Both readers take the directory; testing every entry's 4 MiB would
        # take minutes, so the last one kept stands for them.
        listed = subprocess.run(["unzip", "-lq", archive], capture_output=True, text=True, timeout=120)
        self.assertEqual(listed.returncode, 0, listed.stdout + listed.stderr)
        with zipfile.ZipFile(archive) as kept:
            names = kept.namelist()
            last = kept.read(names[-1])
        self.assertTrue(self.RECORDINGS - 100 < len(names) < self.RECORDINGS, len(names))
        self.assertEqual(names[-1][:8], f"wav{len(names) - 1:04d}_")
        self.assertEqual(wav_data(last), (PAYLOAD, bytes(PAYLOAD)))

    def test_folder_file_that_fails_keeps_its_part_name_and_bytes(self):
        limit = 5 << 20  # the first file (one block) fits, the second (two) does not
        card = Card(os.path.join(self.dir, "card.img"), "rec:1", "rec:2", "rec:1", "junk:1", payload="chirp")
        names = [f"wav{k:04d}_2017_03_05__14_{7 + k:02d}_32.wav" for k in range(2)]
        hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
        # The check reads back the file that was finished, and never calls the card safe.
        for options, closing in (([], b""), (["-c"], b"\n" + CHECKED % (1, 0.0))):
            folder = os.path.join(temp_dir(self), "night-1")
            result = subprocess.run([binary("QUILBEX_BIN"), "-d", *options, card.path, folder], capture_output=True,
                                    timeout=TIMEOUT,
                                    preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard)))
            part = os.path.join(folder, names[1] + ".part")
            self.assertEqual(result.returncode, 1, result.stdout)
            self.assertTrue(result.stdout.endswith(names[1].encode() + b"\r" + closing), result.stdout[-200:])
            self.assertEqual(result.stderr, b"\nError: Can't write into %s: File too large\n"
                             b"Unfinished file kept as %s\n" % (folder.encode(), part.encode()))
            self.assertEqual(sorted(os.listdir(folder)), [".quilbex-card", "SHA256SUMS", names[0], names[1] + ".part"])
            assert_checksum_list(self, folder, names[:1])
            with open(os.path.join(folder, names[0]), "rb") as whole, open(part, "rb") as cut:
                self.assertEqual(wav_data(whole.read()), (PAYLOAD, card.payload(0)))
                self.assertTrue(cut.read()[56:] == card.payload(1)[:limit - 56],
                                "the .part must keep the bytes written")
            # Run again with room: the whole file stays as it is, the .part goes;
            # the rescue's summary counts the kept file as exported.
            whole = os.path.join(folder, names[0])
            kept = (os.stat(whole).st_ino, file_state(whole))
            status, out, err = run(["-d", "-r", card.path, folder], stdin=b"n\n")
            self.assertEqual((status, err), (0, b"Rescue: 3 of 3 files exported; 0 unreadable bytes zero-filled\n"),
                             out)
            self.assertIn(b"Resuming: 1 of 3 files already in %s; writing the other 2\n" % folder.encode(), out)
            self.assertEqual((os.stat(whole).st_ino, file_state(whole)), kept)
            self.assertFalse(os.path.exists(part))
            assert_checksum_list(self, folder, names + ["wav0002_2017_03_05__14_09_32.wav"])


@unittest.skipIf(cardrig.requires_root_and_fuse(), cardrig.requires_root_and_fuse() or "")
class SecondCopyTest(FullDiskTestCase):
    MOUNT_OPTIONS = "size=40m"

    def test_second_folder_that_fills_up_leaves_the_first_complete_and_checked(self):
        self.card = Card(os.path.join(self.dir, "card.img"), "rec:2x4", "junk:1", payload="chirp")
        names = [f"wav{k:04d}_2017_03_05__14_{7 + k:02d}_32.wav" for k in range(4)]
        first, second = os.path.join(self.dir, "night-1"), os.path.join(self.mountpoint, "night-1")
        with cardrig.served_card(self.card.path, rate=8) as drive:
            page = os.path.join(self.dir, "page.html")
            tool = subprocess.Popen([binary("QUILBEX_BIN"), "-d", "-c", "-m", second, "-R", page, drive, first],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            # Once the second copy holds a whole file, the rest of its disk is taken.
            while not os.path.exists(os.path.join(second, names[0])) and tool.poll() is None:
                time.sleep(0.01)
            free = shutil.disk_usage(self.mountpoint).free
            with open(os.path.join(self.mountpoint, "filler"), "wb") as filler:
                filler.write(bytes(free - (1 << 20)))
            out, err = tool.communicate(timeout=TIMEOUT)
        self.assertEqual(tool.returncode, 1, out)
        part = re.search(rb"Unfinished file kept as (\S+)\n", err)
        self.assertEqual(err, b"\nError: Can't write into %s: No space left on device\n"
                         b"Unfinished file kept as %s\n" % (second.encode(), part and part[1]))
        self.assertTrue(part[1].startswith(second.encode() + b"/wav000"), err)
        assert_checksum_list(self, first, names)
        kept = sorted(name for name in os.listdir(second) if name.endswith(".wav"))
        assert_checksum_list(self, second, kept)
        self.assertTrue(out.endswith(b"\n" + CHECKED % (len(names) + len(kept), 0.0)), out[-200:])
        # The page has every file's hash, by the copy that kept going.
        self.assertEqual([(row[1], row[-2], row[-1]) for row in read_page(page).rows[1:]],
                         [(name, digest, "yes") for name, digest in listed_digests(first)])


@unittest.skipIf(cardrig.requires_root_and_fuse(), cardrig.requires_root_and_fuse() or "")
class LyingDiskTest(unittest.TestCase):
    """A disk that keeps the written bytes in the cache but holds one byte
    changed: only a read-back that drops the cache sees it."""

    def test_check_finds_the_byte_the_disk_changed(self):
        card = Card(os.path.join(temp_dir(self), "card.img"), "rec:1", "rec:2", "junk:1", payload="chirp")
        names = [f"wav{k:04d}_2017_03_05__14_{7 + k:02d}_32.wav" for k in range(2)]
        # (options, target, file whose byte changes, its offset, what is told of it)
        cases = [(["-d"], "checked", names[1], 100000, "/" + names[1]),
                 ([], "out.zip", "out.zip", 100000, ": " + names[0]),  # in the deflate data
                 ([], "out.zip", "out.zip", 10, f": {names[0]} (from byte 10)")]  # in its local header
        for options, target, lying, offset, told in cases:
            with self.subTest(target=target, offset=offset), cardrig.served_flipping_folder(lying, offset) as disk:
                if options:
                    # Read through the cache the lie goes unseen, as it
                    # would by a check that kept the cache.
                    cached = os.path.join(disk, "cached")
                    self.assertEqual(run([*options, card.path, cached], timeout=TIMEOUT)[0], 0)
                    assert_checksum_list(self, cached, names)
                path, page = os.path.join(disk, target), os.path.join(temp_dir(self), "page.html")
                status, out, err = run([*options, "-c", "-R", page, card.path, path], timeout=TIMEOUT)
                self.assertFalse(os.path.exists(path + ".sha256"), "no checksum for bytes that differ")
            self.assertEqual((status, err), (1, b"Not identical on the disk: %s%s\nChecked: 1 of 2 files differ\n"
                                             % (path.encode(), told.encode())), out)
            self.assertTrue(out.endswith(names[1].encode() + b"\r\n"), out[-200:])
            # The page marks the file that differs, and no other.
            shown = read_page(page)
            self.assertEqual([(row[1], row[-1]) for row in shown.rows[1:]],
                             [(name, "NO" if name in told else "yes") for name in names])
            self.assertTrue(shown.outcome.endswith(" Checked on the disk: 1 of 2 files differ."), shown.outcome)


if __name__ == "__main__":
    unittest.main()
