"""Checks of quilbex-mkcard, the card-image writer the other e2e tests rely on.

Every expectation here is derived from the on-card format in Python, never
from the writer's own code. Set QUILBEX_MKCARD to the binary to run them.
"""

import os
import random
import struct
import subprocess
import tempfile
import unittest
import wave

BLOCK = 4 * 1024 * 1024
HEADER = 16
TRAILER = 16
PAYLOAD = BLOCK - HEADER - TRAILER
MAGIC = 0x26CB395A
MAGIC_ON_CARD = bytes.fromhex("5A9CD364")
MIRROR = bytes(int(f"{b:08b}"[::-1], 2) for b in range(256))


def dos_time(year, month, day, hour, minute, second):
    return ((year - 1980) << 25 | month << 21 | day << 16 | hour << 11
            | minute << 5 | second // 2)


BASE_TIME = dos_time(2017, 3, 5, 14, 7, 32)


def base_plus_minutes(n):
    # Only valid while the sum stays inside the base hour, which is all the
    # tests need; roll-over is checked with explicit dates.
    return dos_time(2017, 3, 5, 14, 7 + n, 32)


class MkcardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.binary = os.environ.get("QUILBEX_MKCARD")
        if not cls.binary:
            raise unittest.SkipTest(
                "QUILBEX_MKCARD is not set; point it at the quilbex-mkcard binary")
        if not os.access(cls.binary, os.X_OK):
            raise AssertionError(f"QUILBEX_MKCARD={cls.binary} is not an executable")

    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="mkcard-test-")
        self.addCleanup(tmp.cleanup)
        self.dir = tmp.name

    def path(self, name):
        return os.path.join(self.dir, name)

    def mkcard(self, *args):
        return subprocess.run([self.binary, *args], capture_output=True, text=True,
                              check=False, timeout=300)

    def make(self, *args):
        result = self.mkcard(*args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def logical(self, name):
        with open(self.path(name), "rb") as f:
            return f.read().translate(MIRROR)

    def header(self, card, block):
        """(seq, magic, time) of a block, asserting its free bytes are zero."""
        head = card[block * BLOCK:block * BLOCK + HEADER]
        free1, seq, magic, time, free2 = struct.unpack("<HHIII", head)
        self.assertEqual((free1, free2), (0, 0), f"free header bytes of block {block}")
        return seq, magic, time

    def write_wav(self, name, samples, channels=1, width=2, rate=250000):
        with wave.open(self.path(name), "wb") as w:
            w.setnchannels(channels)
            w.setsampwidth(width)
            w.setframerate(rate)
            w.writeframes(samples)
        return self.path(name)

    def test_headers_magic_and_default_times(self):
        self.make("--payload", "zero", self.path("c.img"),
                  "junk:1", "rec:3", "rec:2", "blk:9")
        with open(self.path("c.img"), "rb") as f:
            raw = f.read()
        card = raw.translate(MIRROR)
        self.assertEqual(len(card), 7 * BLOCK)
        self.assertEqual(card[:BLOCK].count(0), BLOCK, "junk block is not zero")
        expected = [(0, BASE_TIME), (1, BASE_TIME), (2, BASE_TIME),
                    (0, base_plus_minutes(1)), (1, base_plus_minutes(1)),
                    (9, base_plus_minutes(1))]
        for block, (seq, time) in enumerate(expected, start=1):
            with self.subTest(block=block):
                self.assertEqual(raw[block * BLOCK + 4:block * BLOCK + 8], MAGIC_ON_CARD)
                self.assertEqual(self.header(card, block), (seq, MAGIC, time))
                trailer = card[(block + 1) * BLOCK - TRAILER:(block + 1) * BLOCK]
                self.assertNotIn(0, trailer, "trailer must be recognisably non-zero")

    def test_explicit_raw_and_rolled_over_times(self):
        self.make("--payload", "sparse", self.path("c.img"),
                  "rec:1@2020-02-29T23:59:59", "rec:2x2@2017-12-31T23:59:00",
                  "rec:1@0x4A7D0000", "blk:3", "rec:1", "blk:0@0x00000000",
                  "rec:1x2@2016-02-28T23:59:30")
        card = self.logical("c.img")
        times = [self.header(card, b)[2] for b in range(8)]
        self.assertEqual(times, [
            dos_time(2020, 2, 29, 23, 59, 58),
            dos_time(2017, 12, 31, 23, 59, 0), dos_time(2017, 12, 31, 23, 59, 0),
            dos_time(2018, 1, 1, 0, 0, 0), dos_time(2018, 1, 1, 0, 0, 0),
            0x4A7D0000,            # raw value, stored verbatim
            0x4A7D0000,            # blk: inherits the last recording's time
            base_plus_minutes(4),  # fifth rec/wav recording on the command line
        ])
        self.assertEqual(self.header(card, 8)[2], 0)
        self.assertEqual([self.header(card, b)[2] for b in (9, 10)],
                         [dos_time(2016, 2, 28, 23, 59, 30), dos_time(2016, 2, 29, 0, 0, 30)])

    def test_sequence_numbers_and_recording_list(self):
        out = self.make("--payload", "sparse", "--list", self.path("c.img"),
                        "rec:4,seq=0.7.3.3", "blk:5", "blk:0", "blk:1", "junk:1",
                        "blk:2", "rec:2@0x12345678")
        card = self.logical("c.img")
        seqs = [self.header(card, b)[0] for b in range(11) if b != 7]
        self.assertEqual(seqs, [0, 7, 3, 3, 5, 0, 1, 2, 0, 1])
        rows = [line.split() for line in out.splitlines()]
        listed = [(int(i), int(a), int(b), int(t, 16)) for i, a, b, t in rows]
        # blk:5 continues the first recording; blk:2 after junk has no start.
        self.assertEqual(listed, [(0, 0, 5, BASE_TIME), (1, 5, 7, BASE_TIME),
                                  (2, 9, 11, 0x12345678)])

    def test_wav_payload_is_the_sample_bytes_padded(self):
        rng = random.Random(5)
        samples = rng.randbytes(2 * (PAYLOAD // 2 + 1001))
        wav = self.write_wav("in.wav", samples)
        # The orphan blk:3 (no recording start before it) must stay out of
        # the payload file.
        out = self.make("--list", "--payload-out", self.path("p.bin"), self.path("c.img"),
                        "rec:1", "junk:1", "blk:3", f"wav:{wav}@2019-06-01T12:00:00")
        card = self.logical("c.img")
        padded = samples + bytes(2 * PAYLOAD - len(samples))
        on_card = card[3 * BLOCK + HEADER:4 * BLOCK - TRAILER] + card[4 * BLOCK + HEADER:5 * BLOCK - TRAILER]
        self.assertEqual(on_card, padded)
        stamp = dos_time(2019, 6, 1, 12, 0, 0)
        self.assertEqual([self.header(card, b) for b in (3, 4)],
                         [(0, MAGIC, stamp), (1, MAGIC, stamp)])
        with open(self.path("p.bin"), "rb") as f:
            self.assertEqual(f.read(), card[HEADER:BLOCK - TRAILER] + padded)
        self.assertEqual(out.split()[4:8], ["1", "3", "5", f"0x{stamp:08X}"])

    def test_rejects_bad_input_with_exit_1(self):
        stereo = self.write_wav("stereo.wav", bytes(400), channels=2)
        eight_bit = self.write_wav("u8.wav", bytes(400), width=1)
        bad_items = [f"wav:{stereo}", f"wav:{eight_bit}", f"wav:{self.path('none.wav')}",
                     "rec:0", "rec:2,seq=0.1.2", "blk:65536", "disk:3", "rec:1@2017-04-31T00:00:00",
                     "rec:1@0x123456789", "rec:1x"]
        for item in bad_items:
            with self.subTest(item=item):
                result = self.mkcard(self.path("c.img"), item)
                self.assertEqual(result.returncode, 1)
                self.assertIn("quilbex-mkcard:", result.stderr)
        for size in ("8X", "G", "-1", "99999999999G"):
            self.assertIn("bad --size value", self.mkcard("--size", size, self.path("c.img"), "rec:1").stderr)
        result = self.mkcard(self.path("no/such/dir/c.img"), "rec:1")
        self.assertEqual(result.returncode, 1)

    def test_sparse_payload_leaves_holes(self):
        self.make("--payload", "sparse", self.path("c.img"), "rec:60", "junk:20", "rec:20")
        st = os.stat(self.path("c.img"))
        self.assertEqual(st.st_size, 100 * BLOCK)
        self.assertLess(st.st_blocks * 512, st.st_size // 100)
        card = self.logical("c.img")
        self.assertEqual(self.header(card, 99), (19, MAGIC, base_plus_minutes(1)))
        self.assertEqual(card[99 * BLOCK + HEADER:100 * BLOCK - TRAILER].count(0), PAYLOAD)
        self.assertNotIn(0, card[100 * BLOCK - TRAILER:], "sparse mode lost the trailer")

    def test_size_and_trailing_set_the_length(self):
        cases = [
            (["--trailing", "1234", "rec:2"], 2 * BLOCK + 1234, [(0, 2)]),
            (["--size", str(BLOCK + BLOCK // 2), "rec:3"], BLOCK + BLOCK // 2, [(0, 1)]),
            (["--size", "1000", "rec:1"], 1000, []),
            (["--size", str(5 * BLOCK + 7), "rec:1", "junk:1"], 5 * BLOCK + 7, [(0, 1)]),
            (["--size", "1G", "rec:1"], 1 << 30, [(0, 1)]),
            (["--size=12M", "--trailing", "64K", "rec:2"], 12 << 20, [(0, 2)]),
            (["--size", "b3", "rec:1"], 3 * BLOCK, [(0, 1)]),
        ]
        for args, length, spans in cases:
            with self.subTest(args=args):
                out = self.make("--payload", "sparse", "--list", self.path("c.img"), *args)
                self.assertEqual(os.path.getsize(self.path("c.img")), length)
                self.assertEqual([(int(r.split()[1]), int(r.split()[2])) for r in out.splitlines()],
                                 spans)
        self.make("--payload", "sparse", "--size", "1000", self.path("c.img"), "rec:1")
        self.assertEqual(self.logical("c.img")[4:8], struct.pack("<I", MAGIC),
                         "a cut image must still hold the start of the block")

    def test_junk_noise_never_looks_like_a_header(self):
        self.make("--junk-noise", "--trailing", "5000", self.path("c.img"), "junk:3", "rec:1")
        card = self.logical("c.img")
        for start in (0, BLOCK, 2 * BLOCK, 4 * BLOCK):
            with self.subTest(start=start):
                chunk = card[start:start + min(BLOCK, len(card) - start)]
                self.assertGreater(len(set(chunk)), 200, "junk is not noise")
                self.assertNotEqual(struct.unpack_from("<I", chunk, 4)[0], MAGIC)
        self.make("--trailing", "5000", self.path("z.img"), "rec:1", "junk:1")
        zeros = self.logical("z.img")
        self.assertEqual(zeros[BLOCK:].count(0), BLOCK + 5000, "plain junk must be zero")

    def test_seed_decides_the_bytes_and_chirp_is_plausible(self):
        for name, seed in (("a.img", "7"), ("b.img", "7"), ("c.img", "8")):
            self.make("--seed", seed, "--junk-noise", self.path(name), "rec:2", "junk:1")
        a, b, c = (self.logical(n) for n in ("a.img", "b.img", "c.img"))
        self.assertEqual(a, b)
        self.assertNotEqual(a[HEADER:BLOCK - TRAILER], c[HEADER:BLOCK - TRAILER])
        self.assertNotEqual(a[2 * BLOCK:], c[2 * BLOCK:])
        samples = sorted(abs(s) for (s,) in struct.iter_unpack("<h", a[HEADER:BLOCK - TRAILER]))
        self.assertGreater(samples[-1], 2000, "no loud chirps in the synthetic signal")
        self.assertLess(samples[len(samples) // 2], 16, "noise floor is not a few LSB")

    def test_field_audio_deflates_like_outdoor_recordings(self):
        self.make("--payload", "field", "--payload-out", self.path("p.bin"), self.path("c.img"), "rec:4")
        with open(self.path("p.bin"), "rb") as f:
            payload = f.read()
        deflated = subprocess.run(["gzip", "-1", "-c", self.path("p.bin")], capture_output=True, check=True,
                                  timeout=120).stdout
        self.assertTrue(0.65 <= len(deflated) / len(payload) <= 0.80, len(deflated) / len(payload))
        samples = sorted(abs(s) for (s,) in struct.iter_unpack("<h", payload))
        self.assertTrue(50 <= samples[len(samples) // 2] <= 100, "the noise floor is not about +-200 LSB")
        self.assertGreater(samples[-1], 2000, "no calls over the noise floor")


if __name__ == "__main__":
    unittest.main()
