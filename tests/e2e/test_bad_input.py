"""Bad command lines, black-box: awkward paths and drives that are not cards.

Every case must end with a clear message and status exactly 1 (never a
signal, never a hang: every run has a timeout), and leave no archive behind.
Paths that are awkward but valid (spaces, bytes that are not UTF-8) must
simply work. Needs QUILBEX_BIN and QUILBEX_MKCARD.
"""

import errno
import os
import stat
import subprocess
import unittest
import zipfile

from quilbex_support import make_card, run, temp_dir

TIMEOUT = 30
DRIVE_SIZE_UNKNOWN = b"Drive size unknown\n"


def drive_size_failure(code):
    """The stdout of a drive whose size cannot be asked for."""
    return f"Can't determine drive size!. Error {code}.\n\n{os.strerror(code)}\n".encode()


class BadInputTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = temp_dir(self)
        self.archive = os.path.join(self.dir, "out.zip")

    def assertRefusesDrive(self, drive, code):
        """The drive is refused at its size query, with the system's reason."""
        status, out, err = run([drive, self.archive], timeout=TIMEOUT)
        self.assertEqual((status, out, err), (1, drive_size_failure(code), DRIVE_SIZE_UNKNOWN))
        self.assertFalse(os.path.lexists(self.archive), "an archive was written")

    def assertArchiveHoldsOneRecording(self, path):
        with open(path, "rb") as f, zipfile.ZipFile(f) as archive:
            self.assertEqual(len(archive.namelist()), 1, archive.namelist())
            self.assertIsNone(archive.testzip())


class AwkwardPathTest(BadInputTestCase):
    def test_extracts_with_spaces_in_both_paths(self):
        card_dir = os.path.join(self.dir, "my cards")
        out_dir = os.path.join(self.dir, "out dir")
        os.mkdir(card_dir)
        os.mkdir(out_dir)
        card = make_card(os.path.join(card_dir, "night one.img"), "rec:1", "junk:1", payload="sparse")
        archive = os.path.join(out_dir, "night one.zip")
        status, out, err = run([card, archive], timeout=TIMEOUT)
        self.assertEqual((status, err), (0, b""), out)
        self.assertTrue(out.startswith(f"Extracting to {archive}...\n".encode()), out)
        self.assertArchiveHoldsOneRecording(archive)

    def test_refuses_missing_drive_named_with_spaces(self):
        self.assertRefusesDrive(os.path.join(self.dir, "no such card.img"), errno.ENOENT)

    def test_extracts_with_non_utf8_bytes_in_both_paths(self):
        directory = os.fsencode(self.dir)
        card = os.path.join(directory, b"card\xff\xfe.img")
        make_card(os.fsdecode(card), "rec:1", "junk:1", payload="sparse")
        archive = os.path.join(directory, b"out\x80\xc3(.zip")
        status, out, err = run([card, archive], timeout=TIMEOUT)
        self.assertEqual((status, err), (0, b""), out)
        self.assertTrue(out.startswith(b"Extracting to " + archive + b"...\n"), out)
        self.assertEqual(sorted(os.listdir(directory)), sorted([b"card\xff\xfe.img", b"out\x80\xc3(.zip"]))
        self.assertArchiveHoldsOneRecording(archive)

    def test_refuses_missing_drive_with_non_utf8_name(self):
        self.assertRefusesDrive(os.path.join(os.fsencode(self.dir), b"gone\xff.img"), errno.ENOENT)

    def test_refuses_drive_path_too_long(self):
        self.assertRefusesDrive(os.path.join(self.dir, "d" * 5000), errno.ENAMETOOLONG)

    def test_cannot_make_archive_with_name_too_long(self):
        card = make_card(os.path.join(self.dir, "card.img"), "rec:1", "junk:1", payload="sparse")
        archive = os.path.join(self.dir, "z" * 5000 + ".zip")
        status, out, err = run([card, archive], timeout=TIMEOUT)
        self.assertEqual(status, 1)
        self.assertTrue(err.startswith(b"Error: Can't make the zip file. Bad filename?\nFile name too long\n"), err)
        self.assertTrue(err.endswith(b"\nZip archive failure\nFile name too long\n"), err)
        self.assertTrue(out.endswith(b"Error:: Can't add file to zip.\n"), out)
        self.assertEqual(os.listdir(self.dir), ["card.img"])


class NotACardTest(BadInputTestCase):
    def test_refuses_directory_as_drive(self):
        drive = os.path.join(self.dir, "a directory")
        os.mkdir(drive)
        self.assertRefusesDrive(drive, errno.EISDIR)

    def test_refuses_character_device_as_drive(self):
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))
        self.assertRefusesDrive("/dev/null", errno.ENOTBLK)

    def test_refuses_fifo_as_drive_without_waiting_for_a_writer(self):
        fifo = os.path.join(self.dir, "pipe")
        os.mkfifo(fifo)
        try:
            self.assertRefusesDrive(fifo, errno.ENOTBLK)
        except subprocess.TimeoutExpired:
            self.fail("quilbex waited on a FIFO nobody writes to")

    def test_refuses_card_smaller_than_one_sector(self):
        for size in (0, 1, 511):
            with self.subTest(size=size):
                card = os.path.join(self.dir, f"tiny{size}.img")
                with open(card, "wb") as f:
                    f.write(b"\x55" * size)
                status, out, err = run([card, self.archive], timeout=TIMEOUT)
                self.assertEqual((status, out, err), (1, b"", DRIVE_SIZE_UNKNOWN))
                self.assertFalse(os.path.lexists(self.archive), "an archive was written")


if __name__ == "__main__":
    unittest.main()
