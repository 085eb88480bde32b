"""Huge cards, black-box: the most recordings a card can hold, and one
recording longer than 4 GiB. Long: minutes of run time and a few GiB of
temporary disk (the card images are sparse).

80000 recordings need zip64 end records; a recording over 4 GiB needs a
zip64 entry and an RF64 WAV header. Both archives are read back whole by
independent readers (unzip, python zipfile, soxi). The tool runs under
/usr/bin/time -v; its wall time and peak memory are printed for the record.
Needs QUILBEX_BIN and QUILBEX_MKCARD.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import unittest
import zipfile

from quilbex_support import binary, make_card, temp_dir

BLOCK_PAYLOAD = 4194272  # a block's payload: 4 MiB less its 32-byte header
WAV_HEADER = 56  # RIFF, fmt, fact and data chunk headers
TOOL_TIMEOUT = 1500
READER_TIMEOUT = 1500
EOCD64 = struct.pack("<I", 0x06064B50)
EOCD64_LOCATOR = struct.pack("<I", 0x07064B50)
# The export's memory does not depend on the card or a recording's length
# (a fixed pool of chunks); holding a recording in memory would pass this.
PEAK_MEMORY_LIMIT_KIB = 512 * 1024


def run_timed(test, args):
    """Runs quilbex under /usr/bin/time -v; returns (status, stdout, its own
    stderr) after printing its wall time and peak memory."""
    command = [binary("QUILBEX_BIN"), *args]
    timer = shutil.which("time", path="/usr/bin:/bin")
    if timer is None:
        test.skipTest("needs /usr/bin/time to measure the run")
    result = subprocess.run([timer, "-v", *command], capture_output=True, timeout=TOOL_TIMEOUT, check=False)
    err, _, report = result.stderr.partition(b"\tCommand being timed:")
    wall = re.search(rb"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", report)
    peak = re.search(rb"Maximum resident set size \(kbytes\): (\d+)", report)
    if not (wall and peak):
        raise AssertionError(f"no /usr/bin/time report: {result.stderr[-2000:]!r}")
    test.peak_kib = int(peak.group(1))
    print(f"\n{test.id()}: quilbex wall time {wall.group(1).decode()}, peak RSS {test.peak_kib} KiB",
          file=sys.stderr)
    return result.returncode, result.stdout, err


class HugeCardTest(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)
        self.archive = os.path.join(self.dir, "out.zip")

    def extract(self, *items):
        card = make_card(os.path.join(self.dir, "card.img"), *items, payload="sparse")
        status, out, err = run_timed(self, [card, self.archive])
        os.remove(card)
        self.assertEqual((status, err), (0, b""), out[-2000:])
        self.assertLess(self.peak_kib, PEAK_MEMORY_LIMIT_KIB, "peak memory grew with the card")

    def assertUnzipTestsClean(self):
        result = subprocess.run(["unzip", "-tq", self.archive], capture_output=True, timeout=READER_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout[-2000:] + result.stderr[-2000:])
        self.assertTrue(result.stdout.startswith(b"No errors detected"), result.stdout[-2000:])

    def test_stores_80000_recordings_with_zip64_end_records(self):
        self.extract("rec:1x80000")
        with open(self.archive, "rb") as f:
            f.seek(-(56 + 20 + 22), os.SEEK_END)
            tail = f.read()
        # The zip64 end record, its locator and the classic end record, in that order.
        self.assertEqual(tail[:4], EOCD64, tail)
        self.assertEqual(tail[56:60], EOCD64_LOCATOR, tail)
        self.assertEqual(struct.unpack_from("<QQ", tail, 24), (80000, 80000), "zip64 end record entry counts")
        with zipfile.ZipFile(self.archive) as archive:
            names = archive.namelist()
            self.assertEqual(len(names), 80000)
            self.assertEqual(len(set(names)), 80000, "entry names repeat")
            # Every entry's local header is found and its stream begins with
            # the WAV header; a sample is inflated whole with its CRC checked.
            # (Inflating all 320 GiB in Python takes over half an hour: unzip
            # below checks every entry's CRC instead.)
            sample = set(range(0, 80000, 997)) | {79999}
            for k, info in enumerate(archive.infolist()):
                self.assertEqual(info.file_size, WAV_HEADER + BLOCK_PAYLOAD, info.filename)
                with archive.open(info) as entry:
                    self.assertEqual(entry.read(WAV_HEADER)[-8:], b"data" + struct.pack("<I", BLOCK_PAYLOAD),
                                     info.filename)
                    if k in sample:
                        while entry.read(1 << 22):
                            pass  # zipfile raises on a bad CRC at the end
        self.assertUnzipTestsClean()

    def test_stores_recording_over_4_gib_as_rf64(self):
        blocks = 1030
        data_size = blocks * BLOCK_PAYLOAD
        self.extract(f"rec:{blocks}", "junk:1")  # junk: the card does not end inside the recording
        wav_path = os.path.join(self.dir, "long.wav")
        with zipfile.ZipFile(self.archive) as archive:
            self.assertEqual(len(archive.namelist()), 1)
            # Read as a stream (zipfile checks the CRC at the end); zeros are
            # counted, not kept.
            zeros = 0
            with archive.open(archive.namelist()[0]) as entry, open(wav_path, "wb") as wav:
                header = entry.read(128)
                wav.write(header)
                total = len(header)
                for piece in iter(lambda: entry.read(16 << 20), b""):
                    wav.write(piece)
                    total += len(piece)
                    zeros += piece.count(0)
        data_at = header.index(b"data") + 8
        zeros += header[data_at:].count(0)
        self.assertEqual(header[0:4], b"RF64")
        self.assertEqual(header[4:8], b"\xff\xff\xff\xff")
        self.assertEqual(header[8:16], b"WAVEds64")
        riff_size, ds64_data_size = struct.unpack_from("<QQ", header, 20)
        self.assertEqual(ds64_data_size, data_size)
        self.assertEqual(header[data_at - 4:data_at], b"\xff\xff\xff\xff", "32-bit data size must defer to ds64")
        self.assertEqual(riff_size, total - 8)
        self.assertEqual(total, data_at + data_size, "entry length")
        self.assertEqual(zeros, data_size, "the sparse payload must come back as zeros")
        samples = subprocess.run(["soxi", "-s", wav_path], capture_output=True, text=True, timeout=READER_TIMEOUT)
        self.assertEqual((samples.returncode, samples.stdout.strip()), (0, str(data_size // 2)), samples.stderr)
        os.remove(wav_path)
        self.assertUnzipTestsClean()


if __name__ == "__main__":
    unittest.main()
