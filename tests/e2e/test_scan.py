"""The walk over the card, black-box: what a run shows of it before the
export (whether anything was found, the truncation warning), that it goes on
past block 80000, on image files and loop devices, and that the card is never
written to.
The recording table itself is pinned down by tests/unit/scan_test.cpp.
Needs QUILBEX_BIN and QUILBEX_MKCARD."""

import os
import unittest
import zipfile

from quilbex_support import (BLOCK, attach_loop, binary, file_state, loop_devices_unavailable, make_card, run,
                             temp_dir)

NO_FILES = b"No files found\n"


def truncation_warning(recordings, card_bytes):
    return (f"Scan error while processing file: {recordings}\n"
            "Sector index exceeded maximum allowed while searching for file end.\n"
            f"Card size: {card_bytes // (1024 * 1024)}MB\n"
            "Possible truncated export.\n").encode()


class ScanTestCase(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        binary("QUILBEX_MKCARD")
        self.dir = temp_dir(self)
        self.archive = os.path.join(self.dir, "out.zip")
        self.extracting = f"Extracting to {self.archive}...\n".encode()


    def card(self, *items, **options):
        options.setdefault("payload", "sparse")
        return make_card(os.path.join(self.dir, "card.img"), *items, **options)

    def assertFindsNothing(self, drive, warning=b""):
        self.assertEqual(run([drive, self.archive]), (1, self.extracting, warning + NO_FILES))
        self.assertFalse(os.path.lexists(self.archive))

    def assertFindsRecordings(self, drive, warning=b""):
        status, out, err = run([drive, self.archive])
        if os.path.lexists(self.archive):
            os.remove(self.archive)  # the next run must not be asked to overwrite it
        self.assertEqual((status, err), (0, warning))
        self.assertTrue(out.startswith(self.extracting), out)


class FindsRecordingsTest(ScanTestCase):
    def test_finds_nothing_after_five_blocks_without_magic(self):
        self.assertFindsNothing(self.card("junk:5", "rec:2", "junk:1"))

    def test_finds_a_recording_after_four_blocks_without_magic(self):
        self.assertFindsRecordings(self.card("junk:4", "rec:2", "junk:1"))

    def test_counts_blocks_without_magic_over_the_whole_card(self):
        self.assertFindsNothing(self.card("junk:3", "blk:4", "junk:2", "rec:2", "junk:1"))
        self.assertFindsRecordings(self.card("junk:3", "blk:4", "junk:1", "rec:2", "junk:1"))

    def test_finds_nothing_without_a_block_that_starts_a_recording(self):
        self.assertFindsNothing(self.card("blk:1", "blk:2", "blk:7", "junk:1"))

    def test_finds_nothing_in_noise(self):
        self.assertFindsNothing(self.card("junk:8", junk_noise=True, seed=11))

    def test_never_examines_a_trailing_partial_block(self):
        self.assertFindsNothing(self.card("junk:2", "rec:1", size=2 * BLOCK + BLOCK // 2))
        self.assertFindsRecordings(self.card("junk:2", "rec:1", size=3 * BLOCK))


class TruncationWarningTest(ScanTestCase):
    def test_warns_when_the_card_ends_inside_a_recording(self):
        size = 4 * BLOCK + 1024 * 1024 - 1
        self.assertFindsRecordings(self.card("rec:1", "rec:3", size=size), truncation_warning(2, size))

    def test_warns_when_the_card_ends_on_a_block_continuing_nothing(self):
        size = 3 * BLOCK + 1000
        self.assertFindsNothing(self.card("junk:1", "blk:1", "blk:2", size=size), truncation_warning(0, size))

    def test_warns_for_a_card_smaller_than_a_block_holding_a_continuation(self):
        self.assertFindsNothing(self.card("blk:3", size=1000), truncation_warning(0, 1000))

    def test_does_not_warn_when_the_last_block_starts_a_recording(self):
        self.assertFindsRecordings(self.card("rec:2", "rec:1"))


class LargeCardTest(ScanTestCase):
    def test_walks_past_block_80000_to_the_card_end(self):
        # 80001 blocks with the magic and none starting a recording (block 0
        # of the first gets sequence number 1), then a recording of 2 blocks.
        image = self.card("rec:80001", "rec:2", "junk:1")
        with open(image, "r+b") as f:
            f.seek(2)
            f.write(bytes([0x80, 0x00]))  # 1, little-endian, bits reversed
        status, out, err = run([image, self.archive])
        self.assertEqual((status, err), (0, b""), out)
        with zipfile.ZipFile(self.archive) as archive:
            entries = [(e.filename, e.file_size) for e in archive.infolist()]
        self.assertEqual(entries, [("wav0000_2017_03_05__14_08_32.wav", 56 + 2 * (BLOCK - 32))])

        # Cut after the continuation blocks, the walk reaches the card's end.
        os.remove(self.archive)
        os.truncate(image, 80001 * BLOCK)
        self.assertFindsNothing(image, truncation_warning(0, 80001 * BLOCK))


class LoopDeviceScanTest(ScanTestCase):
    def setUp(self):
        reason = loop_devices_unavailable()
        if reason:
            self.skipTest(reason)
        super().setUp()

    def test_walks_a_block_device_of_either_sector_size(self):
        nothing = make_card(os.path.join(self.dir, "nothing.img"), "junk:5", "rec:2", "junk:1", payload="sparse")
        truncated = make_card(os.path.join(self.dir, "truncated.img"), "junk:1", "blk:1", "blk:2", payload="sparse")
        found = make_card(os.path.join(self.dir, "found.img"), "junk:4", "rec:2", "junk:1", payload="sparse")
        for sector in (512, 4096):
            with self.subTest(sector=sector):
                self.assertFindsNothing(attach_loop(self, nothing, sector))
                self.assertFindsNothing(attach_loop(self, truncated, sector), truncation_warning(0, 3 * BLOCK))
                self.assertFindsRecordings(attach_loop(self, found, sector))


class CardUnchangedTest(ScanTestCase):
    def test_leaves_the_card_unchanged(self):
        image = self.card("rec:2", "junk:1", "rec:1", "junk:5", payload="chirp", junk_noise=True, seed=5)
        os.utime(image, ns=(1_500_000_000_000_000_000, 1_500_000_000_000_000_000))
        before = file_state(image)
        run(["-i", image])
        run([image, self.archive])
        run(["-V", "-t", image, self.archive], stdin=b"y\n")
        run([image, self.archive], stdin=b"n\n")
        self.assertEqual(file_state(image), before)


if __name__ == "__main__":
    unittest.main()
