"""-l, black-box: the table, anomaly and summary lines a listing prints on
generated cards, and that it writes nothing and asks nothing. Needs
QUILBEX_BIN and QUILBEX_MKCARD."""

import os
import unittest

from quilbex_support import binary, file_state, make_card, read_guano, run, temp_dir

HEADING = b"  #  Name                              Start                Length      Size\n"
MIXED = ("rec:2", "rec:1@2017-03-05T21:30:44", "rec:3@2017-03-06T02:15:10", "junk:1")
MIXED_LISTING = (
    HEADING +
    b"  0  wav0000_2017_03_05__14_07_32.wav  2017-03-05 14:07:32  0:00:10.92   8.4 MB\n"
    b"  1  wav0001_2017_03_05__21_30_44.wav  2017-03-05 21:30:44  0:00:05.46   4.2 MB\n"
    b"  2  wav0002_2017_03_06__02_15_10.wav  2017-03-06 02:15:10  0:00:16.38  12.6 MB\n"
    b"3 recordings, 0:00:32.77 of sound, 25.2 MB, from 2017-03-05 14:07:32 to 2017-03-06 02:15:10\n")
# Month 0: 2017-00-05 14:07:32 as the recorder's clock stored it.
NO_DATE = "0x4A0570F0"

# (card items, the lines between the table and the summary)
ANOMALIES = [
    (("rec:2@2017-03-05T14:07:32", "rec:1@2017-03-05T14:07:36", "junk:1"),
     [b"recording 1 (wav0001_2017_03_05__14_07_36.wav): overlaps the one before: the recorder's clock was set back?"]),
    (("rec:1@2017-03-05T14:07:32", "rec:1@2017-03-05T15:00:00", "rec:1@2017-03-05T14:07:32", "junk:1"),
     [b"recording 2 (wav0002_2017_03_05__14_07_32.wav): same start time as recording 0 "
      b"(wav0000_2017_03_05__14_07_32.wav)"]),
    (("rec:2", "junk:2", "blk:1", "rec:1", "junk:1"),
     [b"recording 0 (wav0000_2017_03_05__14_07_32.wav): 2 blocks without the magic: 2, 3"]),
    ((f"rec:1@{NO_DATE}", "rec:1", "junk:1"),
     [b"recording 0 (wav0000_2017_00_05__14_07_32.wav): invalid start date"]),
    (("rec:1", "rec:1", "junk:1"), []),  # one recording right after the other is no overlap
]


class ListingTest(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)

    def card(self, *items):
        return make_card(os.path.join(self.dir, "card.img"), *items, payload="sparse")

    def test_prints_table_and_summary_and_writes_nothing(self):
        card = self.card(*MIXED)
        self.assertEqual(run(["-l", card]), (0, MIXED_LISTING, b""))
        old = os.path.join(self.dir, "old.zip")
        with open(old, "wb") as f:
            f.write(b"not an archive")
        before = (sorted(os.listdir(self.dir)), file_state(old))
        self.assertEqual(run(["-l", card, old], stdin=b"y\n"), (0, MIXED_LISTING, b""))
        self.assertEqual((sorted(os.listdir(self.dir)), file_state(old)), before)

    def test_lists_the_pieces_an_export_with_s_writes(self):
        status, out, _ = run(["-l", "-s", "4", self.card(*MIXED)])
        lines = out.split(b"\n")
        self.assertEqual((status, len(lines)), (0, 13), out)
        self.assertEqual(lines[2], b"  1  wav0000_2017_03_05__14_07_36.wav  2017-03-05 14:07:36  0:00:04.00  3.1 MB")
        self.assertEqual(lines[-2], b"10 files from 3 recordings, 0:00:32.77 of sound, 25.2 MB, "
                                    b"from 2017-03-05 14:07:32 to 2017-03-06 02:15:26")

    def test_lists_the_names_an_export_with_n_writes(self):
        card = self.card("rec:1@2017-03-05T14:07:32", "rec:2@2017-03-05T15:00:00", "rec:1@2017-03-05T14:07:32",
                         "junk:1")
        status, out, _ = run(["-l", "-n", "TQ28", "-s", "4", card])
        listed = [line.split()[1].decode() for line in out.split(b"\n")[1:8]]
        self.assertEqual((status, listed[4:]), (0, ["TQ28_20170305_150008.wav", "TQ28_20170305_140732_1.wav",
                                                     "TQ28_20170305_140736_1.wav"]), out)
        folder = os.path.join(self.dir, "night-1")
        self.assertEqual(run(["-d", "-g", "-n", "TQ28", "-s", "4", card, folder])[0], 0)
        self.assertEqual(sorted(os.listdir(folder)), sorted(listed + ["SHA256SUMS", ".quilbex-card"]))
        with open(os.path.join(folder, "TQ28_20170305_140736_1.wav"), "rb") as f:
            guano = read_guano(f.read())
        self.assertEqual((guano["Original Filename"], guano["Quilbex|Offset"]),
                         ("wav0002_2017_03_05__14_07_32.wav", "4"))

    def test_lists_each_anomaly_before_the_summary(self):
        for items, expected in ANOMALIES:
            with self.subTest(items=items):
                status, out, err = run(["-l", self.card(*items)])
                lines = out.split(b"\n")
                self.assertEqual((status, err), (0, b""), out)
                recordings = int(lines[-2].split(b" ")[0])
                self.assertEqual(lines[1 + recordings:-2], expected, out)

    def test_shows_start_as_stored_and_leaves_invalid_ones_out_of_the_summary(self):
        status, out, _ = run(["-l", self.card(f"rec:1@{NO_DATE}", "junk:1")])
        self.assertEqual((status, out.split(b"\n")[1:]), (0, [
            b"  0  wav0000_2017_00_05__14_07_32.wav  2017-00-05 14:07:32  0:00:05.46  4.2 MB",
            b"recording 0 (wav0000_2017_00_05__14_07_32.wav): invalid start date",
            b"1 recording, 0:00:05.46 of sound, 4.2 MB", b""]))

    def test_fails_as_the_scan_when_nothing_is_found(self):
        self.assertEqual(run(["-l", self.card("junk:5", "rec:1")]), (1, b"", b"No files found\n"))


if __name__ == "__main__":
    unittest.main()
