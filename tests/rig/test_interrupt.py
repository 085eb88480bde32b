"""Ctrl-C and termination requests, black-box, on a slow card served by
quilbex-cardfs through a loop device.

During the scan the tool must end before the next block, print "\\n" and
"Interrupted" on stderr, exit 128 + the signal, make no archive and leave an
old one untouched. During the export it must stop reading, finish the
archive with every completed recording plus the partial one, and end the
same way; a second Ctrl-C while it finishes must change nothing. The report
page (-R) of either run is written and says how it ended. A folder
export (-d) keeps the file it was writing under its .part name and says so. Needs root,
FUSE, QUILBEX_BIN, QUILBEX_MKCARD and QUILBEX_CARDFS.
"""

import os
import signal
import subprocess
import threading
import time
import unittest

import cardrig
from quilbex_support import PROMPT, assert_checksum_list, binary, file_state, read_page, run, temp_dir
from test_faulty_card import SKIP_REASON, Card, read_entries, wav_data

BLOCK = cardrig.BLOCK_BYTES
INTERRUPTED = b"\nInterrupted\n"
WAIT = 60  # seconds, to wait for a milestone or the exit; never asserted on


class RunningTool:
    """quilbex running in the background, its output collected as it comes."""

    def __init__(self, args, stdin=b""):
        self.process = subprocess.Popen([binary("QUILBEX_BIN"), *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.process.stdin.write(stdin)
        self.process.stdin.close()
        self._out, self._err = bytearray(), bytearray()
        self._changed = threading.Condition()
        self._readers = [threading.Thread(target=self._collect, args=(stream, buffer), daemon=True)
                         for stream, buffer in ((self.process.stdout, self._out), (self.process.stderr, self._err))]
        for reader in self._readers:
            reader.start()

    def _collect(self, stream, buffer):
        for piece in iter(lambda: stream.read1(65536), b""):
            with self._changed:
                buffer.extend(piece)
                self._changed.notify_all()

    def wait_for_output(self, text):
        """Waits until stdout holds `text`; fails if the tool ends first."""
        with self._changed:
            if not self._changed.wait_for(lambda: text in self._out or self.process.poll() is not None, WAIT) \
                    or text not in self._out:
                raise AssertionError(f"quilbex never printed {text!r}; stdout so far: {bytes(self._out)!r}")

    def signal(self, number):
        self.process.send_signal(number)

    def finish(self):
        """(status, stdout, stderr) once the tool has ended."""
        status = self.process.wait(timeout=WAIT)
        for reader in self._readers:
            reader.join(timeout=WAIT)
        return status, bytes(self._out), bytes(self._err)

    def kill(self):
        """Ends the tool if a failed test left it running, and closes its pipes."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        for reader in self._readers:
            reader.join(timeout=WAIT)
        self.process.stdout.close()
        self.process.stderr.close()


def header_reads(log_path):
    """The blocks whose header sector the server has been asked for so far."""
    return {read.offset // BLOCK for read in cardrig.read_log(log_path) if read.offset % BLOCK == 0}


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class InterruptTestCase(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)
        self.archive = os.path.join(self.dir, "out.zip")
        self.log = os.path.join(self.dir, "reads.log")
        self.page = os.path.join(self.dir, "page.html")

    def start(self, drive, stdin=b""):
        tool = RunningTool(["-V", "-R", self.page, drive, self.archive], stdin=stdin)
        self.addCleanup(tool.kill)
        return tool


class ScanInterruptTest(InterruptTestCase):
    # Every read takes 100 ms, so the scan of 30 block headers takes 3 s.
    CARD_ITEMS = ("rec:1x30",)
    DELAY_MS = 100

    def wait_for_header_read(self, block):
        deadline = time.monotonic() + WAIT
        while max(header_reads(self.log), default=-1) < block:
            if time.monotonic() > deadline:
                self.fail(f"the scan never read the header of block {block}")
            time.sleep(0.01)
        return max(header_reads(self.log))

    def interrupt_scan(self, number, stdin=b""):
        """Signals the tool once the scan has read a few headers; returns its
        (status, stdout, stderr) and the last header read when signalled."""
        card = Card(os.path.join(self.dir, "card.img"), *self.CARD_ITEMS, payload="sparse")
        with cardrig.served_loop_card(card.path, delay_ms=self.DELAY_MS, log=self.log) as drive:
            tool = self.start(drive, stdin)
            seen = self.wait_for_header_read(3)
            tool.signal(number)
            result = tool.finish()
        return result, seen

    def assertScanInterrupted(self, result, seen, status):
        self.assertEqual(result[0], status)
        self.assertEqual(result[2], INTERRUPTED)
        self.assertTrue(result[1].endswith(b"Extracting to " + self.archive.encode() + b"...\n"), result[1])
        # The read in flight when the log was read, and one answered before
        # the signal landed, may end; nothing after them may start.
        self.assertLessEqual(max(header_reads(self.log)), seen + 2, "the scan went on after the signal")
        self.assertEqual(read_page(self.page).outcome, "Interrupted during the scan: nothing was exported.")

    def test_sigint_ends_scan_without_archive(self):
        result, seen = self.interrupt_scan(signal.SIGINT)
        self.assertScanInterrupted(result, seen, 130)
        self.assertFalse(os.path.lexists(self.archive), "an archive was written")

    def test_sigterm_ends_scan_without_archive(self):
        result, seen = self.interrupt_scan(signal.SIGTERM)
        self.assertScanInterrupted(result, seen, 143)
        self.assertFalse(os.path.lexists(self.archive), "an archive was written")

    def test_sigint_during_scan_leaves_old_archive_untouched(self):
        with open(self.archive, "wb") as old:
            old.write(b"an old archive, not to be touched")
        os.utime(self.archive, ns=(1_000_000_000, 1_000_000_000))
        before = file_state(self.archive)
        result, seen = self.interrupt_scan(signal.SIGINT, stdin=b"y\n")
        self.assertScanInterrupted(result, seen, 130)
        self.assertEqual(file_state(self.archive), before)


class ExportInterruptTest(InterruptTestCase):
    # Recording 1 has four blocks, more than the export reads ahead of the
    # archive, so the signal lands while some of it is still unread.
    CARD_ITEMS = ("rec:1", "rec:4", "junk:1")
    DELAY_MS = 100

    def interrupt_export(self, *numbers):
        """Signals the tool once recording 0 is stored; returns (status, stdout, stderr)."""
        self.card = Card(os.path.join(self.dir, "card.img"), *self.CARD_ITEMS, payload="chirp")
        with cardrig.served_loop_card(self.card.path, delay_ms=self.DELAY_MS) as drive:
            tool = self.start(drive)
            tool.wait_for_output(b"[1/2] Adding ")
            for number in numbers:
                tool.signal(number)
            return tool.finish()

    def assertExportInterrupted(self, result, status):
        self.assertEqual(result[0], status, result)
        self.assertTrue(result[2].endswith(INTERRUPTED), result[2])
        self.assertNotIn(b"[2/2]", result[1], "the partial recording got a progress line")
        entries = read_entries(self.archive)
        self.assertEqual(len(entries), 2, "the archive must hold the completed and the partial recording")
        declared, data = wav_data(entries[0])
        self.assertEqual(declared, len(self.card.payload(0)))
        self.assertTrue(data == self.card.payload(0), "recording 0 differs from the card's payload")
        declared, data = wav_data(entries[1])
        self.assertEqual(declared, len(self.card.payload(1)), "the partial entry must declare the full length")
        self.assertLess(len(data), len(self.card.payload(1)), "reading went on to the end after the signal")
        self.assertTrue(data == self.card.payload(1)[:len(data)], "the partial entry is not a prefix of the payload")
        self.assertEqual(read_page(self.page).outcome, f"Interrupted: 1 of 2 files written whole to {self.archive}.")

    def test_sigint_during_export_keeps_completed_and_partial_recordings(self):
        self.assertExportInterrupted(self.interrupt_export(signal.SIGINT), 130)

    def test_sigterm_during_export_keeps_completed_and_partial_recordings(self):
        self.assertExportInterrupted(self.interrupt_export(signal.SIGTERM), 143)

    def test_second_sigint_while_finishing_changes_nothing(self):
        self.assertExportInterrupted(self.interrupt_export(signal.SIGINT, signal.SIGINT), 130)

    def test_sigint_during_folder_export_keeps_the_cut_file_under_its_part_name(self):
        self.card = Card(os.path.join(self.dir, "card.img"), *self.CARD_ITEMS, payload="chirp")
        folder = os.path.join(self.dir, "night-1")
        names = [os.path.join(folder, f"wav{k:04d}_2017_03_05__14_{7 + k:02d}_32.wav") for k in range(2)]
        with cardrig.served_loop_card(self.card.path, delay_ms=self.DELAY_MS) as drive:
            tool = RunningTool(["-d", "-V", "-c", drive, folder])
            self.addCleanup(tool.kill)
            tool.wait_for_output(b"[1/2] Adding ")
            tool.signal(signal.SIGINT)
            status, out, err = tool.finish()
        self.assertEqual((status, err), (130, INTERRUPTED + b"Unfinished file kept as %s.part\n" % names[1].encode()),
                         out)
        self.assertNotIn(b"Checked", out, "an interrupted run's checks are not done")
        self.assertEqual(sorted(os.listdir(folder)),
                         [".quilbex-card", "SHA256SUMS", os.path.basename(names[0]), os.path.basename(names[1]) + ".part"])
        assert_checksum_list(self, folder, [os.path.basename(names[0])])
        with open(names[0], "rb") as whole, open(names[1] + ".part", "rb") as cut:
            self.assertEqual(wav_data(whole.read()), (len(self.card.payload(0)), self.card.payload(0)))
            declared, data = wav_data(cut.read())
        self.assertEqual(declared, len(self.card.payload(1)))
        self.assertLess(len(data), declared, "reading went on to the end after the signal")
        self.assertTrue(data == self.card.payload(1)[:len(data)], "the .part file is not a prefix of the payload")

    def test_rerun_after_sigint_writes_only_what_the_folder_lacks(self):
        self.card = Card(os.path.join(self.dir, "card.img"), *self.CARD_ITEMS, payload="chirp")
        options = ["-d", "-g", "-s", "2"]  # 3 + 11 files of 2 s
        reference, folder = os.path.join(self.dir, "reference"), os.path.join(self.dir, "night-1")
        self.assertEqual(run([*options, self.card.path, reference])[0], 0)
        names = sorted(os.listdir(reference))
        wavs = [name for name in names if name.endswith(".wav")]
        with cardrig.served_loop_card(self.card.path, delay_ms=self.DELAY_MS) as drive:
            tool = RunningTool(["-V", *options, drive, folder])
            self.addCleanup(tool.kill)
            tool.wait_for_output(b"[5/14] Adding ")
            tool.signal(signal.SIGINT)
            self.assertEqual(tool.finish()[0], 130)
            done = sorted(name for name in os.listdir(folder) if name.endswith(".wav"))
            self.assertTrue(5 <= len(done) < 14, done)
            kept = {name: (os.stat(os.path.join(folder, name)).st_ino, file_state(os.path.join(folder, name)))
                    for name in done}
            status, out, err = run(["-V", *options, drive, folder], stdin=b"n\n", timeout=WAIT)
        self.assertEqual((status, err), (0, b""), out)
        left = 14 - len(done)
        self.assertIn(b"\nResuming: %d of 14 files already in %s; writing the other %d\n[1/%d] Adding "
                      % (len(done), folder.encode(), left, left), out)
        self.assertEqual(sorted(os.listdir(folder)), names)
        for name in names:
            self.assertEqual(file_state(os.path.join(folder, name))[0], file_state(os.path.join(reference, name))[0])
        for name in wavs:
            self.assertEqual(os.stat(os.path.join(folder, name)).st_mtime_ns,
                             os.stat(os.path.join(reference, name)).st_mtime_ns)
        for name, state in kept.items():
            self.assertEqual((os.stat(os.path.join(folder, name)).st_ino, file_state(os.path.join(folder, name))),
                             state, f"{name} was written again")
        assert_checksum_list(self, folder, wavs)
        # Another card of the same names and times, or this one cut otherwise: no resume, the question.
        other = Card(os.path.join(self.dir, "other.img"), *self.CARD_ITEMS, payload="field")
        finished = {name: file_state(os.path.join(folder, name)) for name in names}
        for path, cut in ((other.path, options), (self.card.path, ["-d", "-g", "-s", "3"])):
            with self.subTest(path=path, cut=cut):
                status, out, _ = run([*cut, path, folder], stdin=b"n\n")
                self.assertEqual((status, out), (1, b"Extracting to %s...\n" % folder.encode() + PROMPT))
                self.assertEqual({name: file_state(os.path.join(folder, name)) for name in names}, finished)
        # A file changed since it was written is not replaced unasked.
        with open(os.path.join(folder, wavs[3]), "ab") as f:
            f.write(b"notes")
        changed = {name: file_state(os.path.join(folder, name)) for name in names}
        status, out, _ = run([*options, self.card.path, folder], stdin=b"n\n")
        self.assertEqual((status, out), (1, b"Extracting to %s...\n" % folder.encode() + PROMPT))
        self.assertEqual({name: file_state(os.path.join(folder, name)) for name in names}, changed)


if __name__ == "__main__":
    unittest.main()
