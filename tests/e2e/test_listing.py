"""-l, black-box: the table, anomaly and summary lines a listing prints on
generated cards, and that it writes nothing and asks nothing; the report page
(-R) of a listed card, drawn by a real browser (headless chromium, skipped
when it is missing). Needs QUILBEX_BIN and QUILBEX_MKCARD."""

import os
import unittest

from quilbex_support import (ReportPage, binary, browse, file_state, make_card, picture_colours, read_guano,
                             read_page, run, temp_dir)

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

# The bar colours of the report page: a recording, a damaged one, one that
# overlaps the one before.
PLAIN, DAMAGED, SET_BACK = (0x2f, 0x5d, 0x9b), (0xc4, 0x16, 0x1c), (0xe0, 0x8a, 0x00)
# (card items, each bar as (class, data-start, data-length), the colours the
# picture shows): the demo card; and two nights with an empty one between, a
# recording with blocks without the magic, and one that overlaps the one
# before it.
PAGES = [
    (MIXED, [("plain", "2017-03-05T14:07:32", "10.92"), ("plain", "2017-03-05T21:30:44", "5.46"),
             ("plain", "2017-03-06T02:15:10", "16.38")], [PLAIN]),
    (("rec:1@2017-03-05T21:00:00", "rec:2@2017-03-06T01:30:00", "junk:2", "blk:1", "rec:1@2017-03-07T22:15:00",
      "rec:1@2017-03-07T22:15:02", "junk:1"),
     [("plain", "2017-03-05T21:00:00", "5.46"), ("damaged", "2017-03-06T01:30:00", "27.31"),
      ("plain", "2017-03-07T22:15:00", "5.46"), ("setback", "2017-03-07T22:15:02", "5.46")],
     [PLAIN, DAMAGED, SET_BACK]),
]

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
    # A card reused without erasing: blocks of older recordings after a newer one.
    (("rec:2@2017-03-05T21:00:00", "blk:2@2017-03-05T14:07:32", "blk:3@2017-03-05T14:07:32",
      "blk:4@2017-03-05T14:07:32", "blk:9@2017-03-01T10:00:00", "rec:1@2017-03-06T01:00:00", "junk:1"),
     [b"recording 0 (wav0000_2017_03_05__21_00_00.wav): blocks 2-4 carry another start time (2017-03-05 14:07:32): "
      b"left from an earlier recording?",
      b"recording 0 (wav0000_2017_03_05__21_00_00.wav): block 5 carries another start time (2017-03-01 10:00:00): "
      b"left from an earlier recording?"]),
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
        page = os.path.join(self.dir, "page.html")
        self.assertEqual(run(["-l", "-R", page, self.card("junk:5", "rec:1")]), (1, b"", b"No files found\n"))
        self.assertEqual(read_page(page).outcome, "No recording was found on the card: nothing was exported.")


    def test_report_page_draws_one_bar_per_recording_in_a_browser(self):
        for n, (items, bars, colours) in enumerate(PAGES):
            with self.subTest(items=items):
                page, picture = os.path.join(self.dir, f"page{n}.html"), os.path.join(self.dir, f"page{n}.png")
                status, out, err = run(["-l", "-R", page, self.card(*items)])
                self.assertEqual((status, err), (0, b""), out)
                dom = read_page(page)
                self.assertEqual(dom.outcome, "Listed only: nothing was exported.")
                self.assertEqual(len(dom.rows) - 1, len(bars), "a table row per file")
                browse(self, page, f"--screenshot={picture}")
                seen = [(b["class"], b["data-start"], b["data-length"])
                        for b in ReportPage(browse(self, page, "--dump-dom").decode()).bars]
                self.assertEqual(seen, bars)
                counts, drawn = picture_colours(picture, PLAIN, DAMAGED, SET_BACK)
                self.assertEqual([c > 0 for c in counts], [c in colours for c in (PLAIN, DAMAGED, SET_BACK)])
                self.assertGreater(drawn, 10000, "the picture is blank")

    def test_report_page_merges_bars_within_a_pixel_and_counts_undated_recordings(self):
        # Recordings of 5.46 s a minute apart lie within a pixel (90 s) of each other; the
        # nights of 03-06 to 03-09 hold none.
        page = os.path.join(self.dir, "<page>.html")
        status, _, err = run(["-l", "-R", page, self.card("rec:1x200", "rec:1@2017-03-05T23:59:00",
                                                            "rec:1@2017-03-10T20:00:00", f"rec:1@{NO_DATE}",
                                                            "junk:1")])
        self.assertEqual((status, err), (0, b""))
        dom = read_page(page)
        self.assertEqual([(b["data-night"], b["data-count"], b["data-start"], b["data-length"]) for b in dom.bars],
                         [("2017-03-05", "200", "2017-03-05T14:07:32", "11945.46"),
                          ("2017-03-05", "1", "2017-03-05T23:59:00", "5.46"),
                          ("2017-03-10", "1", "2017-03-10T20:00:00", "5.46")])
        self.assertIn(">2017-03-06 to 2017-03-09: 4 nights without recordings<", open(page, encoding="utf-8").read())
        self.assertIn("1 recording whose start is no valid date is not drawn.", dom.texts)
        self.assertIn(f"Card {self.dir}/card.img", dom.texts[0])
        self.assertIn(f"-R {self.dir}/&lt;page&gt;.html", open(page, encoding="utf-8").read())


if __name__ == "__main__":
    unittest.main()
