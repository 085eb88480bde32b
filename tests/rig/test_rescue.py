"""Rescue (-r), black-box, on cards served through quilbex-cardfs.

Unreadable sectors are fail ranges of the server, read through a loop device
(a read touching one fails whole with EIO, as on a worn card); a card that is
gone answers ENXIO on the served file itself, as a loop device would turn
that into EIO. With -r a sector that stays unreadable is zero-filled, every
other byte is the card's, later recordings are complete, and the run ends with
the damage on stderr and status 1; a folder export (-d) gets the same files
and output. Without -r the same cards fail as any
failed read does. Needs root, FUSE, QUILBEX_BIN, QUILBEX_MKCARD and
QUILBEX_CARDFS.
"""

import errno
import os
import re
import unittest
import zipfile

import cardrig
from quilbex_support import CHECKED, RESCUE_HINT, assert_checksum_list, read_guano, read_page, run
from test_faulty_card import (BLOCK, EIO_TEXT, HEADER_BYTES, PAYLOAD_PER_BLOCK, MiB, SECTOR, SKIP_REASON, TIMEOUT,
                              FaultTestCase, progress_lines, read_entries, wav_data)


def rescue_failures(reads):
    """The failed reads of 64 KiB at most, the rescue's own, but the rest of a
    larger read that the loop driver reads again after a short answer."""
    rests = {(r.offset + r.result, r.offset + r.length) for r in reads if r.length > 65536 and 0 < r.result < r.length}
    return [r for r in reads if r.result < 0 and r.length <= 65536 and (r.offset, r.offset + r.length) not in rests]


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class RescueTest(FaultTestCase):
    # Recording 0 is blocks 0-1, recording 1 blocks 2-4, recording 2 blocks 5-6.
    ITEMS = ("rec:2", "rec:3", "rec:2", "junk:1")

    def run_card(self, card, args, via_loop=True, threads=None, **faults):
        if os.path.exists(self.archive):
            os.remove(self.archive)
        env = {"QUILBEX_THREADS": str(threads)} if threads else None
        with self.serve(card, via_loop, **faults) as drive:
            return run([*args, drive, self.archive], timeout=TIMEOUT, env=env)

    def archive_bytes(self):
        with open(self.archive, "rb") as f:
            return f.read()

    def assertZeroFilled(self, entry, card, k, *ranges):
        """Recording k's entry is its payload with the card bytes of each
        range [start, end) zeroed, as far as they are payload."""
        def payload_position(offset):
            block, within = divmod(offset - card.recordings[k][0] * BLOCK, BLOCK)
            return block * PAYLOAD_PER_BLOCK + min(max(within - HEADER_BYTES // 2, 0), PAYLOAD_PER_BLOCK)
        expected = bytearray(card.payload(k))
        for start, end in ranges:
            zero_from, zero_to = payload_position(start), payload_position(end)
            expected[zero_from:zero_to] = bytes(zero_to - zero_from)
        declared, data = wav_data(entry)
        self.assertEqual(declared, len(expected))
        self.assertTrue(data == expected, f"recording {k}: not its payload with {ranges} zeroed")

    @staticmethod
    def report(k, unreadable, places=1):
        name = f"wav{k:04d}_2017_03_05__14_{7 + k:02d}_32.wav".encode()
        return (b"Damaged file: " + name + b", %d unreadable bytes in %d place%s\n" %
                (unreadable, places, b"" if places == 1 else b"s") +
                b"Rescue: 3 of 3 files exported; %d unreadable bytes zero-filled\n" % unreadable)

    def test_zero_fills_only_the_sectors_whose_reads_failed(self):
        # Recording 0 is blocks 0-1, recording 1 blocks 2-4, recording 2 blocks 5-24.
        card = self.card("rec:2", "rec:3", "rec:20", "junk:1")
        after_header = [(b * BLOCK + SECTOR, b * BLOCK + SECTOR + 16 * 1024) for b in range(6, 22)]
        scattered = [(3 * BLOCK + 4096 + i * 512 * 1024, 3 * BLOCK + 4096 + i * 512 * 1024 + SECTOR)
                     for i in range(8)]
        started = b"; recording start taken from block %d\n"
        # (dead ranges, damaged recording, places, failed reads of the rescue's
        # pieces (64 KiB at most; the block's whole read may reach the server
        # as several), -V text). 16 KiB after a header sector costs its 64 KiB
        # piece, five 4 KiB pieces and 32 sectors, 25 of them twice; a dead
        # header sector two reads in the scan, four pieces in the export.
        cases = [
            (after_header[4:5], 2, 1, 63, b"Block 10: 16384 unreadable bytes in 1 place, zero-filled\n"),
            (scattered, 1, 8, 8 * 4, b"Block 3: 4096 unreadable bytes in 8 places, zero-filled\n"),
            (after_header, 2, 16, 16 * 63, b"Block 21: 16384 unreadable bytes in 1 place, zero-filled\n"),
            ([(2 * BLOCK, 2 * BLOCK + SECTOR)], 1, 1, 2 + 4, b"zero-filled" + started % 3),
            ([(0, SECTOR)], 0, 1, 2 + 4, b"zero-filled" + started % 1),
        ]
        log = os.path.join(self.dir, "reads.log")
        for dead, k, places, failed_reads, verbose_text in cases:
            with self.subTest(dead=dead[0], ranges=len(dead)):
                if os.path.exists(log):
                    os.remove(log)
                status, out, err = self.run_card(card, ["-r", "-V"], fail=dead, log=log)
                unreadable = sum(end - start for start, end in dead)
                self.assertEqual((status, err), (1, self.report(k, unreadable, places)), out)
                self.assertIn(verbose_text, out)
                failed = rescue_failures(cardrig.read_log(log))
                self.assertEqual(len(failed), failed_reads)
                entries = read_entries(self.archive)
                self.assertEqual(len(entries), 3)
                for j, entry in enumerate(entries):
                    self.assertZeroFilled(entry, card, j, *(dead if j == k else []))

    def test_zero_fills_an_unreadable_sector_and_reads_every_later_recording(self):
        card = self.card(*self.ITEMS)
        bad = (3 * BLOCK + MiB, 3 * BLOCK + MiB + SECTOR)  # in the second block of recording 1
        page = os.path.join(self.dir, "page.html")
        status, out, err = self.run_card(card, ["-r", "-V", "-R", page], threads=1, fail=[bad])
        self.assertEqual((status, err), (1, self.report(1, SECTOR)), out)
        shown = read_page(page)
        self.assertEqual(shown.lists["Rescue"], err.decode().splitlines())
        self.assertEqual([bar["class"] for bar in shown.bars], ["plain", "damaged", "plain"])
        self.assertTrue(shown.outcome.endswith(" 1 holds zero-filled bytes where the card could not be read."))
        self.assertIn(b"\nBlock 3: 512 unreadable bytes in 1 place, zero-filled\n[2/3] Adding ", out)
        entries = read_entries(self.archive)
        self.assertEqual(len(entries), 3)
        self.assertCompleteEntry(entries[0], card, 0)
        self.assertZeroFilled(entries[1], card, 1, bad)
        self.assertCompleteEntry(entries[2], card, 2)

        one_compressor = self.archive_bytes()
        status, _, _ = self.run_card(card, ["-r", "-V"], threads=4, fail=[bad])
        self.assertEqual(status, 1)
        self.assertTrue(self.archive_bytes() == one_compressor, "the archive differs for 1 and 4 compressors")

        status, out, err = self.run_card(card, ["-V"], fail=[bad])
        self.assertEqual((status, err), (1, b"Read failed 0\n" + RESCUE_HINT), "without -r the read failure ends the run")
        self.assertTrue(out.endswith(b"\n\n" + EIO_TEXT + b"\n"), out)
        self.assertEqual(len(read_entries(self.archive)), 2)

        # The check reads back what was stored, and never calls such a card safe to format.
        for options, err_expected, entries in ((["-V", "-c"], b"Read failed 0\n" + RESCUE_HINT, 2),
                                               (["-r", "-V", "-c"], self.report(1, SECTOR), 3)):
            status, out, err = self.run_card(card, options, fail=[bad])
            self.assertEqual((status, err), (1, err_expected), options)
            self.assertTrue(out.endswith(b"\n" + CHECKED % (entries, 0.0)), out[-200:])

    def test_folder_gets_the_zip_entries_as_files_with_the_same_output(self):
        card = self.card(*self.ITEMS)
        bad = (3 * BLOCK + MiB, 3 * BLOCK + MiB + SECTOR)
        zipped = self.run_card(card, ["-r", "-V"], fail=[bad])
        folder = os.path.join(self.dir, "night-1")
        with self.serve(card, True, fail=[bad]) as drive:
            status, out, err = run(["-d", "-r", "-V", drive, folder], timeout=TIMEOUT)
        def untimed(out):  # the elapsed time that -V ends with
            return re.sub(rb"\d\dm:\d\ds\n\Z", b"", out)
        self.assertEqual((status, untimed(out.replace(folder.encode(), self.archive.encode())), err),
                         (zipped[0], untimed(zipped[1]), zipped[2]))
        with zipfile.ZipFile(self.archive) as archive:
            for name in archive.namelist():
                with open(os.path.join(folder, name), "rb") as f:
                    self.assertTrue(f.read() == archive.read(name), f"{name} differs from its zip entry")
            self.assertEqual(sorted(os.listdir(folder)), sorted(archive.namelist() + ["SHA256SUMS", ".quilbex-card"]))
            assert_checksum_list(self, folder, archive.namelist())

    def test_names_the_pieces_that_hold_zero_filled_bytes_and_counts_their_own_audio_in_their_guano(self):
        card = self.card(*self.ITEMS)
        piece = "wav0001_2017_03_05__14_08_%02d.wav"
        # (unreadable sectors, {piece of recording 1: its report's and its GUANO's count}). In recording 1's
        # second block: payload bytes 5242832 and 7339984, in its 1-second pieces 6 and 9; its first
        # sector holds the card block's 16-byte header, which is no audio of the piece.
        cases = [
            ([(3 * BLOCK + MiB, 3 * BLOCK + MiB + SECTOR), (3 * BLOCK + 3 * MiB, 3 * BLOCK + 3 * MiB + SECTOR)],
             {6: (512, "512"), 9: (512, "512")}),
            ([(2 * BLOCK, 2 * BLOCK + SECTOR)], {0: (512, "496")}),
        ]
        for bad, damaged in cases:
            with self.subTest(bad=bad[0]):
                status, out, err = self.run_card(card, ["-r", "-s", "1", "-g"], fail=bad)
                total = sum(count for count, _ in damaged.values())
                self.assertEqual((status, err), (1, b"".join(
                    b"Damaged file: %s, %d unreadable bytes in 1 place\n" % ((piece % (32 + j)).encode(), count)
                    for j, (count, _) in damaged.items()) +
                    b"Rescue: 3 of 3 recordings exported; %d unreadable bytes zero-filled\n" % total), out)
                with zipfile.ZipFile(self.archive) as archive:
                    pieces = [name for name in archive.namelist() if name.startswith("wav0001_")]
                    self.assertEqual(len(pieces), 17)
                    for j, name in enumerate(pieces):
                        fields = read_guano(archive.read(name))
                        self.assertEqual(fields.get("Quilbex|Unreadable Bytes"),
                                         damaged[j][1] if j in damaged else None, name)

    def test_takes_an_unreadable_header_sector_as_part_of_its_recording(self):
        card = self.card(*self.ITEMS)
        header = (3 * BLOCK, 3 * BLOCK + SECTOR)
        status, out, err = self.run_card(card, ["-r"], fail=[header])
        self.assertEqual((status, err), (1, self.report(1, SECTOR)), out)
        entries = read_entries(self.archive)
        self.assertEqual(len(entries), 3)
        self.assertZeroFilled(entries[1], card, 1, header)
        self.assertCompleteEntry(entries[2], card, 2)

        status, out, err = self.run_card(card, [], fail=[header])
        self.assertEqual((status, err), (1, b"Read failed 0\n" + RESCUE_HINT), "without -r the scan fails")
        self.assertFalse(os.path.lexists(self.archive), "an archive was written")

    def test_lists_an_unreadable_header_sector_reading_no_payload(self):
        card = self.card(*self.ITEMS)
        log = os.path.join(self.dir, "reads.log")
        status, out, err = self.run_card(card, ["-l", "-r"], fail=[(3 * BLOCK, 3 * BLOCK + SECTOR)], log=log)
        self.assertEqual((status, err), (1, b""), out)
        self.assertIn(b"\nrecording 1 (wav0001_2017_03_05__14_08_32.wav): unreadable header sector in block 3\n"
                      b"3 recordings, ", out)
        self.assertFalse(os.path.lexists(self.archive), "the listing wrote an archive")
        reads = cardrig.read_log(log)
        self.assertEqual(sorted({r.offset // BLOCK for r in reads}), list(range(8)))
        self.assertTrue(all(r.offset % BLOCK + r.length <= SECTOR for r in reads), f"payload read: {reads}")

    def test_ends_within_16_blocks_on_a_card_dead_from_a_block_on(self):
        card = self.card("rec:2", "rec:20", "junk:1")
        log = os.path.join(self.dir, "reads.log")
        dead_from = 4  # inside recording 1 (blocks 2-21)
        status, out, err = self.run_card(card, ["-r", "-t"], fail=[(dead_from * BLOCK, 23 * BLOCK)], log=log)
        self.assertEqual(status, 1, out)
        self.assertEqual(err, b"Rescue: 2 of 2 files exported; 0 unreadable bytes zero-filled; 8192 unreadable "
                              b"bytes outside the files; stopped early: 16 blocks in a row unreadable\n")
        self.assertRegex(out, rb"\n\d\dm:\d\ds\n\Z")
        self.assertLess(max(r.offset for r in cardrig.read_log(log)), (dead_from + 16) * BLOCK)
        entries = read_entries(self.archive)
        self.assertEqual(len(entries), 2)
        self.assertCompleteEntry(entries[0], card, 0)
        declared, data = wav_data(entries[1])
        readable = card.payload(1)[:(dead_from - 2) * PAYLOAD_PER_BLOCK]
        self.assertEqual(declared, len(readable), "recording 1 ends before the dead blocks")
        self.assertTrue(data == readable)

    def test_ends_like_a_failed_read_when_the_card_is_gone(self):
        card = self.card("rec:2", "rec:1")
        gone_at = 2 * BLOCK + MiB  # in recording 1, past its header: only the export gets there
        status, out, err = self.run_card(card, ["-r", "-V"], via_loop=False, gone_at=gone_at)
        self.assertEqual(status, 1)
        self.assertEqual(err, b"Read failed 0\nRescue: 1 of 2 files exported; 0 unreadable bytes zero-filled; "
                              b"stopped early: the card is gone\n")
        self.assertTrue(out.endswith(b"\n\n" + os.strerror(errno.ENXIO).encode() + b"\n"), out)
        self.assertEqual(len(progress_lines(out)), 1)
        entries = read_entries(self.archive)
        self.assertEqual(len(entries), 2)
        self.assertCompleteEntry(entries[0], card, 0)
        self.assertPartialEntry(entries[1], card, 1, at_least=0, at_most=0)
        # -r would not bring a card back: no hint to use it.
        status, _, err = self.run_card(card, ["-V"], via_loop=False, gone_at=gone_at)
        self.assertEqual((status, err), (1, b"Read failed 0\n"))


if __name__ == "__main__":
    unittest.main()
