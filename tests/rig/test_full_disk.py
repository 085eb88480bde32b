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
bytes so far. Needs root (mount) but for the size limit, QUILBEX_BIN and
QUILBEX_MKCARD; the FAT case also fusefat and mkfs.vfat.
"""

import os
import re
import resource
import shutil
import subprocess
import unittest
import zipfile

from quilbex_support import CHECKED, assert_checksum_list, binary, file_state, make_card, run, temp_dir
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

    def run_tool(self, merge_streams=False):
        return run(["-V", self.card.path, self.archive], cwd=self.cwd, merge_streams=merge_streams,
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

    def test_folder_without_room_for_every_file_is_refused_before_the_first_byte(self):
        folder = os.path.join(self.mountpoint, "night-1")
        status, out, err = run(["-d", self.card.path, folder + "/"], cwd=self.cwd, timeout=TIMEOUT)
        needed = RECORDINGS * (PAYLOAD + 56) / 1e6
        self.assertEqual((status, err), (1, b"Not enough room in %s: %.1f MB needed, 8.4 MB free\n"
                                         % (folder.encode(), needed)), out)
        self.assertNothingWrittenElsewhere(archive_expected=False)


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


if __name__ == "__main__":
    unittest.main()
