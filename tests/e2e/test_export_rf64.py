"""A recording longer than a RIFF file can describe, black-box: 1100 blocks
(4.6 GB) on a sparse card become a zip64 entry holding an RF64 WAV file that
unzip, Python's zipfile and soxi accept. About a minute on two cores.
Needs QUILBEX_BIN and QUILBEX_MKCARD."""

import os
import subprocess
import unittest
import zipfile

from quilbex_support import binary, make_card, run, temp_dir

BLOCKS = 1100
PAYLOAD = 4 * 1024 * 1024 - 32
RF64_HEADER = 92
NAME = "wav0000_2017_03_05__14_07_32.wav"


class LongRecordingTest(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        binary("QUILBEX_MKCARD")
        self.dir = temp_dir(self)
        card = make_card(os.path.join(self.dir, "card.img"), f"rec:{BLOCKS}", "junk:1", payload="sparse")
        self.zip_path = os.path.join(self.dir, "out.zip")
        self.result = run(["-V", card, self.zip_path], timeout=900)
        self.length = RF64_HEADER + BLOCKS * PAYLOAD

    def test_long_recording_is_a_zip64_entry_holding_rf64(self):
        status, out, err = self.result
        self.assertEqual((status, err), (0, b""))
        self.assertIn(f"[1/1] Adding {NAME} length {self.length} into {self.zip_path}\n".encode(), out)

        tested = subprocess.run(["unzip", "-tq", self.zip_path], capture_output=True, text=True, timeout=900,
                                check=False)
        self.assertEqual(tested.returncode, 0, tested.stdout + tested.stderr)

        with zipfile.ZipFile(self.zip_path) as archive:
            info = archive.getinfo(NAME)
            self.assertEqual(info.file_size, self.length)
            with archive.open(info) as entry:
                header = entry.read(RF64_HEADER)
                # The sparse card's payload reads as zeros; reading to the end checks the CRC.
                zeros = bytes(1 << 24)
                remaining = self.length - RF64_HEADER
                while remaining:
                    piece = entry.read(min(remaining, len(zeros)))
                    self.assertTrue(piece and piece == zeros[:len(piece)], "payload differs")
                    remaining -= len(piece)
                self.assertEqual(entry.read(1), b"")
        self.assertEqual(header[:4] + header[8:16], b"RF64WAVEds64")

        head = os.path.join(self.dir, "head.wav")
        with open(head, "wb") as f:
            f.write(header)
        soxi = [subprocess.run(["soxi", option, head], capture_output=True, text=True, timeout=60,
                               check=False).stdout.strip() for option in ("-r", "-c", "-b", "-s")]
        self.assertEqual(soxi, ["384000", "1", "16", str(BLOCKS * PAYLOAD // 2)])


if __name__ == "__main__":
    unittest.main()
