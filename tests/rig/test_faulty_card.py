"""Read faults of the card, black-box, through quilbex-cardfs.

Each fault is tried both through a loop device on the served file (a real
block device, read with O_DIRECT: a read touching a failing range fails whole
with EIO) and on the served file itself (a short count up to the range, then
EIO). A failed read must end the run with the system's error text on stdout,
"Read failed 0" on stderr and status 1. During the scan no archive may be
made and an old one must stay as it was; during the export the archive must
hold every recording completed before the fault, plus the partial one. The
report page (-R) is written all the same and says how the run ended.
Short and slow reads must give the same archive, byte for byte, as a healthy
card. Needs root, FUSE, QUILBEX_BIN, QUILBEX_MKCARD and QUILBEX_CARDFS.
"""

import errno
import os
import shutil
import subprocess
import unittest
import zipfile

import cardrig
from quilbex_support import RESCUE_HINT, binary, file_state, read_page, run, temp_dir

BLOCK = cardrig.BLOCK_BYTES
SECTOR = 512
HEADER_BYTES = 32
PAYLOAD_PER_BLOCK = BLOCK - HEADER_BYTES
MiB = 1 << 20
TIMEOUT = 120
EIO_TEXT = os.strerror(errno.EIO).encode()


def _skip_reason():
    reason = cardrig.requires_root_and_fuse()
    if reason:
        return reason
    server = cardrig.cardfs_binary()
    if not server or not os.access(server, os.X_OK):
        return "quilbex-cardfs not built: set QUILBEX_CARDFS to its path"
    return None


SKIP_REASON = _skip_reason()


class Card:
    """A card image written by quilbex-mkcard, with what it holds: for each
    recording its first and end block and its payload (the WAV data)."""

    def __init__(self, path, *items, payload="chirp"):
        self.path = path
        payload_file = path + ".payload"
        result = subprocess.run([binary("QUILBEX_MKCARD"), "--payload", payload, "--list",
                                 "--payload-out", payload_file, path, *items],
                                capture_output=True, text=True, timeout=300, check=False)
        if result.returncode != 0:
            raise AssertionError(f"quilbex-mkcard {' '.join(items)} failed: {result.stderr}")
        with open(payload_file, "rb") as f:
            everything = f.read()
        os.remove(payload_file)
        self.recordings = []  # (first block, end block, payload)
        position = 0
        for line in result.stdout.splitlines():
            _, first, end, _ = line.split()
            size = (int(end) - int(first)) * PAYLOAD_PER_BLOCK
            self.recordings.append((int(first), int(end), everything[position:position + size]))
            position += size
        if position != len(everything):
            raise AssertionError("quilbex-mkcard --list and --payload-out disagree")

    def payload(self, k):
        return self.recordings[k][2]


def wav_data(wav):
    """(data size the header declares, the data bytes) of a RIFF or RF64 file."""
    if wav[:4] not in (b"RIFF", b"RF64") or wav[8:12] != b"WAVE":
        raise AssertionError(f"not a WAV file: {wav[:12]!r}")
    position, ds64_data_size = 12, None
    while position + 8 <= len(wav):
        tag, size = wav[position:position + 4], int.from_bytes(wav[position + 4:position + 8], "little")
        body = position + 8
        if tag == b"ds64":
            ds64_data_size = int.from_bytes(wav[body + 8:body + 16], "little")
        if tag == b"data":
            declared = ds64_data_size if size == 0xFFFFFFFF and wav[:4] == b"RF64" else size
            return declared, wav[body:]
        position = body + size + (size & 1)
    raise AssertionError("no data chunk in the WAV file")


def read_entries(path):
    """Every entry of the archive, in order, read back (and CRC-checked) by zipfile."""
    try:
        with zipfile.ZipFile(path) as archive:
            if archive.testzip() is not None:
                raise AssertionError(f"{path}: entry {archive.testzip()} is corrupt")
            return [archive.read(name) for name in archive.namelist()]
    except zipfile.BadZipFile as error:
        raise AssertionError(f"{path} is not a valid zip archive: {error}") from error


def progress_lines(stdout):
    """The -V progress lines ("[k/n] Adding ..."), as printed."""
    return [line for line in stdout.split(b"\n") if line.startswith(b"[")]


class FaultTestCase(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)
        self.archive = os.path.join(self.dir, "out.zip")
        self.page = os.path.join(self.dir, "page.html")

    def card(self, *items, payload="chirp"):
        return Card(os.path.join(self.dir, "card.img"), *items, payload=payload)

    def serve(self, card, via_loop, **faults):
        """The card as a loop device on the served file, or the served file itself."""
        if via_loop:
            return cardrig.served_loop_card(card.path, **faults)
        return cardrig.served_card(card.path, **faults)

    def assertCompleteEntry(self, entry, card, k):
        declared, data = wav_data(entry)
        self.assertEqual(declared, len(card.payload(k)), f"recording {k}: declared data size")
        self.assertTrue(data == card.payload(k), f"recording {k}: data differs from the card's payload")

    def assertPartialEntry(self, entry, card, k, at_least, at_most):
        """The entry declares the whole recording but holds a prefix of its
        payload: at least `at_least` bytes, at most `at_most`."""
        declared, data = wav_data(entry)
        self.assertEqual(declared, len(card.payload(k)), "the partial entry's header must declare the full length")
        self.assertTrue(at_least <= len(data) <= at_most, f"partial entry holds {len(data)} bytes, "
                        f"expected {at_least} to {at_most}")
        self.assertTrue(data == card.payload(k)[:len(data)], "the partial entry is not a prefix of the payload")


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class ScanReadFailureTest(FaultTestCase):
    # Block 2 is the first block of the second recording: its header sector
    # is read only by the scan.
    ITEMS = ("rec:2", "rec:2", "junk:1")
    HEADER_OF_BLOCK_2 = (2 * BLOCK, 2 * BLOCK + SECTOR)

    def assertScanFailed(self, status, out, err, error_text):
        self.assertEqual(status, 1)
        self.assertEqual(err, b"Read failed 0\n" + RESCUE_HINT)
        self.assertTrue(out.endswith(b"...\n\n" + error_text + b"\n"), out)
        self.assertNotIn(b"Adding", out)

    def test_failed_header_read_stops_the_scan_without_archive(self):
        card = self.card(*self.ITEMS)
        for via_loop in (True, False):
            with self.subTest(via_loop=via_loop):
                if os.path.exists(self.page):
                    os.remove(self.page)
                with self.serve(card, via_loop, fail=[self.HEADER_OF_BLOCK_2]) as drive:
                    status, out, err = run(["-V", "-R", self.page, drive, self.archive], timeout=TIMEOUT)
                self.assertScanFailed(status, out, err, EIO_TEXT)
                self.assertFalse(os.path.lexists(self.archive), "an archive was written")
                self.assertEqual(read_page(self.page).outcome,
                                 "A card read failed during the scan: nothing was exported.")

    def test_failed_header_read_leaves_old_archive_untouched(self):
        card = self.card(*self.ITEMS)
        with open(self.archive, "wb") as old:
            old.write(b"an old archive, not to be touched")
        os.utime(self.archive, ns=(1_000_000_000, 1_000_000_000))
        before = file_state(self.archive)
        for via_loop in (True, False):
            with self.subTest(via_loop=via_loop):
                with self.serve(card, via_loop, fail=[self.HEADER_OF_BLOCK_2]) as drive:
                    status, out, err = run(["-V", drive, self.archive], stdin=b"y\n", timeout=TIMEOUT)
                self.assertTrue(out.startswith(b"Overwrite existing file? (y/n): "), out)
                self.assertScanFailed(status, out, err, EIO_TEXT)
                self.assertEqual(file_state(self.archive), before)

    def test_end_of_data_through_loop_device_is_a_failed_read(self):
        # The loop driver turns the server's 0-byte answer into EIO.
        card = self.card(*self.ITEMS)
        with self.serve(card, True, eof_at=2 * BLOCK) as drive:
            status, out, err = run(["-V", drive, self.archive], timeout=TIMEOUT)
        self.assertScanFailed(status, out, err, EIO_TEXT)
        self.assertFalse(os.path.lexists(self.archive), "an archive was written")

    def test_end_of_data_on_served_file_is_a_failed_read(self):
        # Reads of the served file at the offset return 0 bytes, no error:
        # the end of an image, which -r would not read past, gets no hint.
        card = self.card(*self.ITEMS)
        with self.serve(card, False, eof_at=2 * BLOCK) as drive:
            status, out, err = run(["-V", drive, self.archive], timeout=TIMEOUT)
        self.assertEqual((status, err), (1, b"Read failed 0\n"), out)
        # The error text is the system's, whatever read() left in errno.
        self.assertRegex(out, rb"\.\.\.\n\n[^\n]+\n\Z")
        self.assertNotIn(b"Adding", out)
        self.assertFalse(os.path.lexists(self.archive), "an archive was written")


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class ExportReadFailureTest(FaultTestCase):
    # Recording 0 is blocks 0-1, recording 1 blocks 2-3; the fault lies in
    # the payload of a block, which only the export reads.
    ITEMS = ("rec:2", "rec:2", "junk:1")

    def run_with_fault(self, card, via_loop, fail):
        for path in (self.archive, self.page):
            if os.path.exists(path):
                os.remove(path)
        with self.serve(card, via_loop, fail=[fail]) as drive:
            return run(["-V", "-R", self.page, drive, self.archive], timeout=TIMEOUT)

    def assertExportFailed(self, status, out, err):
        self.assertEqual(status, 1)
        self.assertEqual(err, b"Read failed 0\n" + RESCUE_HINT)
        self.assertTrue(out.endswith(b"\n\n" + EIO_TEXT + b"\n"), out)
        self.assertEqual(read_page(self.page).outcome,
                         f"A card read failed: 1 of 2 files written whole to {self.archive}.")

    def test_failed_read_keeps_completed_and_partial_recordings(self):
        card = self.card(*self.ITEMS)
        fail = (3 * BLOCK + MiB, 3 * BLOCK + 2 * MiB)  # inside the second block of recording 1
        for via_loop in (True, False):
            with self.subTest(via_loop=via_loop):
                status, out, err = self.run_with_fault(card, via_loop, fail)
                self.assertExportFailed(status, out, err)
                lines = progress_lines(out)
                self.assertEqual(len(lines), 1, "only the completed recording has a progress line")
                self.assertTrue(lines[0].startswith(b"[1/2] Adding "), lines)
                entries = read_entries(self.archive)
                self.assertEqual(len(entries), 2)
                self.assertCompleteEntry(entries[0], card, 0)
                self.assertPartialEntry(entries[1], card, 1, at_least=PAYLOAD_PER_BLOCK,
                                        at_most=fail[0] - 3 * BLOCK - HEADER_BYTES + PAYLOAD_PER_BLOCK)

    def test_file_cut_short_gets_no_metadata_after_its_audio(self):
        card = self.card(*self.ITEMS)
        fail = (3 * BLOCK + MiB, 3 * BLOCK + 2 * MiB)  # inside the second block of recording 1
        folder = os.path.join(self.dir, "night-1")
        # (options, the files read back: whole ones first, the one cut short last)
        def zipped():
            with zipfile.ZipFile(self.archive) as archive:
                contents = [archive.read(name) for name in archive.namelist()]
            os.remove(self.archive)
            return contents
        def foldered():
            names = sorted((name for name in os.listdir(folder) if name.endswith((".wav", ".part"))),
                           key=lambda name: name.endswith(".part"))
            self.assertTrue(names[-1].endswith(".part"), names)
            contents = []
            for name in names:
                with open(os.path.join(folder, name), "rb") as f:
                    contents.append(f.read())
            shutil.rmtree(folder)
            return contents
        for options, files in ((["-g"], zipped), (["-g", "-s", "3"], zipped), (["-d", "-g", "-s", "3"], foldered)):
            with self.subTest(options=options):
                target = folder if "-d" in options else self.archive
                with self.serve(card, True, fail=[fail]) as drive:
                    status, out, err = run([*options, drive, target], timeout=TIMEOUT)
                self.assertEqual(status, 1, out)
                self.assertTrue(err.startswith(b"Read failed 0\n"), err)
                *whole, cut = files()
                for wav in whole:
                    self.assertIn(b"guan", wav)
                self.assertNotIn(b"GUANO|", cut)
                declared, data = wav_data(cut)
                self.assertLess(len(data), declared)

    def test_failed_first_block_keeps_header_only_entry(self):
        card = self.card(*self.ITEMS)
        fail = (2 * BLOCK + MiB, 2 * BLOCK + 2 * MiB)  # inside the first block of recording 1
        status, out, err = self.run_with_fault(card, True, fail)
        self.assertExportFailed(status, out, err)
        self.assertEqual(len(progress_lines(out)), 1, out)
        entries = read_entries(self.archive)
        self.assertEqual(len(entries), 2)
        self.assertCompleteEntry(entries[0], card, 0)
        self.assertPartialEntry(entries[1], card, 1, at_least=0, at_most=MiB - HEADER_BYTES)


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class SlowAndShortReadTest(FaultTestCase):
    ITEMS = ("rec:2", "rec:1", "junk:1")

    def reference_archive(self, card):
        """The archive of the card read as a plain, healthy image file."""
        reference = os.path.join(self.dir, "reference.zip")
        status, out, err = run([card.path, reference], timeout=TIMEOUT)
        self.assertEqual((status, err), (0, b""), out)
        entries = read_entries(reference)
        self.assertEqual(len(entries), 2)
        for k, entry in enumerate(entries):
            self.assertCompleteEntry(entry, card, k)
        with open(reference, "rb") as f:
            return f.read()

    def assertSameArchive(self, card, via_loop, **served):
        expected = self.reference_archive(card)
        with self.serve(card, via_loop, **served) as drive:
            status, out, err = run([drive, self.archive], timeout=TIMEOUT)
        self.assertEqual((status, err), (0, b""), out)
        with open(self.archive, "rb") as f:
            self.assertTrue(f.read() == expected, "the archive differs from a healthy card's")

    def test_sector_aligned_short_reads_through_loop_device_give_same_archive(self):
        self.assertSameArchive(self.card(*self.ITEMS), True, short=64 * 1024)

    def test_odd_short_reads_of_served_file_give_same_archive(self):
        self.assertSameArchive(self.card(*self.ITEMS), False, short=1000)

    def test_slow_reads_give_same_archive(self):
        self.assertSameArchive(self.card(*self.ITEMS), True, delay_ms=3)


if __name__ == "__main__":
    unittest.main()
