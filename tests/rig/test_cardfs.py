"""Checks of quilbex-cardfs and the cardrig helpers, on a real FUSE mount.

Run as root with the server built:
    QUILBEX_CARDFS=/path/to/quilbex-cardfs python3 -m unittest discover -s tests/rig -v
"""

import errno
import mmap
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cardrig  # noqa: E402

BLOCK = cardrig.BLOCK_BYTES
SECTOR = 512
IMAGE_BLOCKS = 4


def _skip_reason():
    reason = cardrig.requires_root_and_fuse()
    if reason:
        return reason
    binary = cardrig.cardfs_binary()
    if not binary or not os.access(binary, os.X_OK):
        return "quilbex-cardfs not built: set QUILBEX_CARDFS to its path"
    return None


SKIP_REASON = _skip_reason()


def read_direct(path, offset, length):
    """One O_DIRECT pread into a page-aligned buffer; returns the bytes got."""
    fd = os.open(path, os.O_RDONLY | os.O_DIRECT)
    try:
        with mmap.mmap(-1, max(length, mmap.PAGESIZE)) as buffer:
            view = memoryview(buffer)
            try:
                count = os.preadv(fd, [view[:length]], offset)
                return bytes(view[:count])
            finally:
                view.release()
    finally:
        os.close(fd)


def read_buffered(path, offset, length):
    with open(path, "rb", buffering=0) as card:
        return os.pread(card.fileno(), length, offset)


def read_until_end(path, offset, end, chunk):
    """Reads [offset, end) with plain reads, resuming after short ones."""
    pieces, counts = [], []
    while offset < end:
        piece = read_buffered(path, offset, min(chunk, end - offset))
        if not piece:
            break
        pieces.append(piece)
        counts.append(len(piece))
        offset += len(piece)
    return b"".join(pieces), counts


def loop_backing(device):
    """The file behind the loop device, or None once it is detached."""
    try:
        with open(f"/sys/block/{os.path.basename(device)}/loop/backing_file", encoding="utf-8") as name:
            return name.read().strip()
    except FileNotFoundError:
        return None


def is_mounted(path):
    with open("/proc/self/mountinfo", encoding="utf-8") as table:
        return any(line.split()[4] == path for line in table)


def processes_mentioning(text):
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                if text.encode() in cmdline.read():
                    found.append(int(pid))
        except OSError:
            continue
    return found


@unittest.skipIf(SKIP_REASON, SKIP_REASON)
class CardfsCase(unittest.TestCase):
    """Shares one random image of a few blocks across the tests of a class."""

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="cardfs-test-")
        cls.image = os.path.join(cls.workdir, "card.img")
        cls.data = os.urandom(IMAGE_BLOCKS * BLOCK)
        with open(cls.image, "wb") as image:
            image.write(cls.data)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.workdir, ignore_errors=True)

    def log_path(self):
        path = os.path.join(self.workdir, f"{self.id()}.log")
        if os.path.exists(path):
            os.unlink(path)
        return path

    def block(self, index):
        return self.data[index * BLOCK:(index + 1) * BLOCK]

    def assert_eio(self, read, *args):
        with self.assertRaises(OSError) as caught:
            read(*args)
        self.assertEqual(caught.exception.errno, errno.EIO)


class PlainReadTests(CardfsCase):
    def test_served_file_matches_image(self):
        with cardrig.served_card(self.image) as card:
            self.assertEqual(os.stat(card).st_size, len(self.data))
            with open(card, "rb") as served:
                self.assertEqual(served.read(), self.data)
            for index in range(IMAGE_BLOCKS):
                self.assertEqual(read_direct(card, index * BLOCK, BLOCK), self.block(index))

    def test_loop_device_o_direct_blocks_and_sectors_match(self):
        for direct_io in (False, True):
            with self.subTest(direct_io=direct_io), \
                    cardrig.served_loop_card(self.image, direct_io=direct_io) as device:
                for index in range(IMAGE_BLOCKS):
                    self.assertEqual(read_direct(device, index * BLOCK, BLOCK), self.block(index))
                    self.assertEqual(read_direct(device, index * BLOCK, SECTOR),
                                     self.block(index)[:SECTOR])

    def test_every_loop_read_reaches_the_server(self):
        log = self.log_path()
        with cardrig.served_loop_card(self.image, log=log) as device:
            for _ in range(2):
                read_direct(device, BLOCK, BLOCK)
        reads = cardrig.read_log(log)
        served = sum(r.result for r in reads if BLOCK <= r.offset < 2 * BLOCK)
        self.assertEqual(served, 2 * BLOCK, "a repeated read was answered from a cache")

    def test_log_records_offsets_lengths_and_results(self):
        log = self.log_path()
        with cardrig.served_card(self.image, log=log) as card:
            read_direct(card, BLOCK, BLOCK)
        reads = sorted(cardrig.read_log(log))
        self.assertEqual(reads[0].offset, BLOCK)
        for before, after in zip(reads, reads[1:]):
            self.assertEqual(after.offset, before.offset + before.result)
        self.assertEqual(sum(r.result for r in reads), BLOCK)
        self.assertTrue(all(r.result == r.length for r in reads))


class FailTests(CardfsCase):
    # Starts mid-block 1, off the 1 MiB boundaries the kernel splits FUSE
    # reads at, so the server itself must answer short; ends before block 2.
    BAD_START, BAD_END = (6 << 20) + (4 << 10), 7 << 20

    def test_file_read_is_short_up_to_range_then_eio(self):
        log = self.log_path()
        with cardrig.served_card(self.image, fail=["6148K:7M"], log=log) as card:
            self.assertEqual(read_direct(card, BLOCK, BLOCK), self.data[BLOCK:self.BAD_START])
            self.assert_eio(read_direct, card, self.BAD_START, BLOCK)
            self.assert_eio(read_buffered, card, self.BAD_END - 1, 1)
            self.assertEqual(read_buffered(card, self.BAD_END, 4096),
                             self.data[self.BAD_END:self.BAD_END + 4096])
        reads = cardrig.read_log(log)
        self.assertTrue(any(0 < r.result < r.length and r.offset + r.result == self.BAD_START
                            for r in reads), "no short answer ending at the bad range")
        self.assertIn(-errno.EIO, [r.result for r in reads])

    def test_block_notation_fails_whole_block(self):
        with cardrig.served_card(self.image, fail=["b2:b3"]) as card:
            self.assertEqual(read_direct(card, 0, 3 * BLOCK), self.data[:2 * BLOCK])
            self.assert_eio(read_direct, card, 2 * BLOCK, SECTOR)
            self.assertEqual(read_direct(card, 3 * BLOCK, BLOCK), self.block(3))

    def test_several_ranges_each_fail(self):
        with cardrig.served_card(self.image, fail=[(SECTOR, 2 * SECTOR), "b3:b4"]) as card:
            self.assertEqual(read_buffered(card, 0, BLOCK), self.data[:SECTOR])
            self.assertEqual(read_buffered(card, 2 * SECTOR, 4096), self.data[2 * SECTOR:2 * SECTOR + 4096])
            self.assert_eio(read_buffered, card, 3 * BLOCK + 4096, 4096)

    def test_loop_o_direct_block_read_fails_whole_but_sectors_find_the_edge(self):
        fail = [(self.BAD_START, self.BAD_END)]
        for direct_io in (False, True):
            with self.subTest(direct_io=direct_io), \
                    cardrig.served_loop_card(self.image, fail=fail, direct_io=direct_io) as device:
                self.assert_eio(read_direct, device, BLOCK, BLOCK)
                last_good = self.BAD_START - SECTOR
                self.assertEqual(read_direct(device, last_good, SECTOR), self.data[last_good:self.BAD_START])
                self.assert_eio(read_direct, device, self.BAD_START, SECTOR)
                self.assert_eio(read_direct, device, self.BAD_END - SECTOR, SECTOR)
                self.assertEqual(read_direct(device, self.BAD_END, SECTOR),
                                 self.data[self.BAD_END:self.BAD_END + SECTOR])
                for index in (0, 2, 3):
                    self.assertEqual(read_direct(device, index * BLOCK, BLOCK), self.block(index))

    def test_loop_buffered_read_is_short_then_eio(self):
        with cardrig.served_loop_card(self.image, fail=[(self.BAD_START, self.BAD_END)]) as device:
            with open(device, "rb", buffering=0) as disk:
                got = os.pread(disk.fileno(), BLOCK, BLOCK)
                self.assertEqual(got, self.data[BLOCK:self.BAD_START])
                with self.assertRaises(OSError) as caught:
                    os.pread(disk.fileno(), BLOCK, self.BAD_START)
                self.assertEqual(caught.exception.errno, errno.EIO)


class ShortReadTests(CardfsCase):
    CHUNK = 64 << 10

    def test_file_reads_are_short_but_complete(self):
        log = self.log_path()
        with cardrig.served_card(self.image, short=self.CHUNK, log=log) as card:
            self.assertEqual(len(read_direct(card, 0, BLOCK)), self.CHUNK)
            got, counts = read_until_end(card, BLOCK, 2 * BLOCK, BLOCK)
        self.assertEqual(got, self.block(1))
        self.assertEqual(set(counts), {self.CHUNK})
        self.assertTrue(all(r.result <= self.CHUNK for r in cardrig.read_log(log)))

    def test_short_accepts_odd_sizes_on_the_file(self):
        with cardrig.served_card(self.image, short=1000) as card:
            got, counts = read_until_end(card, 0, 10_000, 4096)
        self.assertEqual(got, self.data[:10_000])
        self.assertEqual(counts, [1000] * 10)

    def test_loop_device_hides_short_reads(self):
        log = self.log_path()
        for direct_io in (False, True):
            with self.subTest(direct_io=direct_io), \
                    cardrig.served_loop_card(self.image, short=self.CHUNK, log=log,
                                             direct_io=direct_io) as device:
                for index in range(IMAGE_BLOCKS):
                    self.assertEqual(read_direct(device, index * BLOCK, BLOCK), self.block(index))
        self.assertTrue(all(r.result <= self.CHUNK for r in cardrig.read_log(log)))


class EndOfDataTests(CardfsCase):
    EOF_AT = BLOCK + BLOCK // 2

    def test_file_reads_stop_at_offset_but_size_stays(self):
        with cardrig.served_card(self.image, eof_at="6M") as card:
            self.assertEqual(os.stat(card).st_size, len(self.data))
            self.assertEqual(read_direct(card, BLOCK, BLOCK), self.data[BLOCK:self.EOF_AT])
            self.assertEqual(read_direct(card, self.EOF_AT, BLOCK), b"")
            self.assertEqual(read_buffered(card, 3 * BLOCK, 4096), b"")

    def test_loop_device_reports_eio_past_the_offset(self):
        with cardrig.served_loop_card(self.image, eof_at=self.EOF_AT) as device:
            self.assertEqual(read_direct(device, 0, BLOCK), self.block(0))
            self.assert_eio(read_direct, device, BLOCK, BLOCK)
            self.assert_eio(read_direct, device, 3 * BLOCK, SECTOR)


class GoneTests(CardfsCase):
    def test_file_read_is_short_up_to_gone_offset_then_enxio(self):
        gone = BLOCK + BLOCK // 2
        with cardrig.served_card(self.image, gone_at=gone) as card:
            self.assertEqual(read_direct(card, BLOCK, BLOCK), self.data[BLOCK:gone])
            with self.assertRaises(OSError) as caught:
                read_direct(card, 3 * BLOCK, SECTOR)
            self.assertEqual(caught.exception.errno, errno.ENXIO)


class PacingTests(CardfsCase):
    def test_rate_limits_a_16_mb_read(self):
        rate_mbps = 40
        with cardrig.served_card(self.image, rate=rate_mbps) as card:
            started = time.monotonic()
            for index in range(IMAGE_BLOCKS):
                read_direct(card, index * BLOCK, BLOCK)
            elapsed = time.monotonic() - started
        ideal = IMAGE_BLOCKS * BLOCK / (rate_mbps * 1e6)
        self.assertGreaterEqual(elapsed, 0.5 * ideal)

    def test_rate_applies_through_loop_device(self):
        rate_mbps = 40
        with cardrig.served_loop_card(self.image, rate=rate_mbps) as device:
            started = time.monotonic()
            for index in range(IMAGE_BLOCKS):
                read_direct(device, index * BLOCK, BLOCK)
            elapsed = time.monotonic() - started
        self.assertGreaterEqual(elapsed, 0.5 * IMAGE_BLOCKS * BLOCK / (rate_mbps * 1e6))

    def test_delay_precedes_each_read(self):
        delay_ms, reads = 40, 3
        with cardrig.served_card(self.image, delay_ms=delay_ms) as card:
            started = time.monotonic()
            for index in range(reads):
                read_direct(card, index * BLOCK, SECTOR)
            elapsed = time.monotonic() - started
        self.assertGreaterEqual(elapsed, reads * delay_ms / 1000 * 0.9)


class WriteRefusalTests(CardfsCase):
    WRITE_OPENS = (os.O_WRONLY, os.O_RDWR, os.O_WRONLY | os.O_TRUNC, os.O_RDONLY | os.O_TRUNC)

    def assert_refused(self, call, *args):
        with self.assertRaises(OSError) as caught:
            call(*args)
        self.assertIn(caught.exception.errno, (errno.EROFS, errno.EACCES, errno.EPERM))

    @staticmethod
    def write_sector(path):
        # Opening a read-only block device for writing may succeed; the
        # write itself is what must fail.
        fd = os.open(path, os.O_WRONLY)
        try:
            os.pwrite(fd, bytes(SECTOR), 0)
        finally:
            os.close(fd)

    def test_served_file_cannot_be_written(self):
        with cardrig.served_card(self.image) as card:
            for flags in self.WRITE_OPENS:
                with self.subTest(flags=oct(flags)):
                    self.assert_refused(os.open, card, flags)
            self.assert_refused(self.write_sector, card)
            self.assert_refused(os.truncate, card, 0)
            self.assert_refused(os.chmod, card, 0o666)
            self.assert_refused(os.open, os.path.join(os.path.dirname(card), "new"),
                                os.O_WRONLY | os.O_CREAT)
            self.assertEqual(read_direct(card, 0, BLOCK), self.block(0))
        with open(self.image, "rb") as image:
            self.assertEqual(image.read(), self.data)

    def test_server_refuses_write_opens_even_on_a_read_write_mount(self):
        log = self.log_path()
        with cardrig.served_card(self.image, log=log, extra_args=["-o", "rw"]) as card:
            for flags in self.WRITE_OPENS:
                with self.subTest(flags=oct(flags)):
                    self.assert_refused(os.open, card, flags)
        self.assertEqual(cardrig.refused_opens(log), len(self.WRITE_OPENS))

    def test_loop_device_is_read_only_even_when_asked_for_read_write(self):
        log = self.log_path()
        with cardrig.served_loop_card(self.image, read_only=False, log=log) as device:
            with open(f"/sys/block/{os.path.basename(device)}/ro", encoding="ascii") as flag:
                self.assertEqual(flag.read().strip(), "1")
            self.assert_refused(self.write_sector, device)
        self.assertEqual(cardrig.refused_opens(log), 0, "a write open got past the read-only mount")


class CleanupTests(CardfsCase):
    def test_served_card_cleans_up_when_body_raises(self):
        with self.assertRaises(KeyError):
            with cardrig.served_card(self.image) as card:
                mountpoint = os.path.dirname(card)
                self.assertTrue(is_mounted(mountpoint))
                raise KeyError("body failed")
        self.assertFalse(is_mounted(mountpoint))
        self.assertFalse(os.path.exists(os.path.dirname(mountpoint)))
        self.assertEqual(processes_mentioning(mountpoint), [])

    def test_served_loop_card_cleans_up_when_body_raises(self):
        with self.assertRaises(KeyError):
            with cardrig.served_loop_card(self.image) as device:
                card = loop_backing(device)
                self.assertIsNotNone(card)
                mountpoint = os.path.dirname(card)
                raise KeyError("body failed")
        # A test running beside this one may have taken the freed device for a card of its own.
        self.assertNotEqual(loop_backing(device), card)
        self.assertFalse(is_mounted(mountpoint))
        self.assertEqual(processes_mentioning(mountpoint), [])

    def test_cleanup_survives_a_file_left_open(self):
        with cardrig.served_card(self.image) as card:
            leaked = open(card, "rb")
            mountpoint = os.path.dirname(card)
        try:
            self.assertFalse(is_mounted(mountpoint))
        finally:
            leaked.close()
        deadline = time.monotonic() + 5
        while processes_mentioning(mountpoint) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(processes_mentioning(mountpoint), [])

    def test_failed_start_raises_and_leaves_nothing(self):
        private_tmp = tempfile.mkdtemp(dir=self.workdir)
        saved, tempfile.tempdir = tempfile.tempdir, private_tmp
        try:
            with self.assertRaisesRegex(RuntimeError, "cannot open image"):
                with cardrig.served_card(os.path.join(self.workdir, "missing.img")):
                    self.fail("served a missing image")
        finally:
            tempfile.tempdir = saved
        self.assertEqual(os.listdir(private_tmp), [])

    def test_loop_rig_refuses_unaligned_faults(self):
        for faults in ({"short": 100_000}, {"eof_at": 1000}, {"fail": [(BLOCK, BLOCK + 100)]},
                       {"fail": ["1000:b1"]}):
            with self.subTest(**{k: str(v) for k, v in faults.items()}):
                with self.assertRaises(ValueError):
                    with cardrig.served_loop_card(self.image, **faults):
                        self.fail("served with unaligned faults")


@unittest.skipIf(SKIP_REASON, SKIP_REASON)
class CommandLineTests(unittest.TestCase):
    def test_bad_arguments_are_rejected_before_mounting(self):
        with tempfile.TemporaryDirectory() as mountpoint:
            for bad in (["--fail", "b4:b3"], ["--fail", "12"], ["--fail", "1X:2"], ["--rate", "0"],
                        ["--rate", "fast"], ["--short", "0"], ["--delay-ms", "-1"], ["--eof-at"],
                        ["--bogus"], ["extra-positional"]):
                with self.subTest(args=bad):
                    result = subprocess.run([cardrig.cardfs_binary(), "/dev/null", mountpoint, "-f", *bad],
                                            capture_output=True, text=True, timeout=10)
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertIn("usage:", result.stderr)
                    self.assertFalse(is_mounted(mountpoint))

    def test_daemonises_without_f(self):
        with tempfile.TemporaryDirectory() as workdir:
            image = os.path.join(workdir, "small.img")
            with open(image, "wb") as out:
                out.write(b"x" * 8192)
            mountpoint = os.path.join(workdir, "mnt")
            os.mkdir(mountpoint)
            result = subprocess.run([cardrig.cardfs_binary(), "small.img", "mnt"], cwd=workdir,
                                    capture_output=True, timeout=10)
            try:
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(is_mounted(mountpoint))
                self.assertEqual(read_buffered(os.path.join(mountpoint, "card"), 0, 8192), b"x" * 8192)
            finally:
                subprocess.run(["fusermount3", "-u", mountpoint], capture_output=True)


if __name__ == "__main__":
    unittest.main()
