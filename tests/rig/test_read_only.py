"""The card is only ever read, black-box: the open flags of a running
quilbex, the opens quilbex-cardfs sees, and the image's bytes and mtime.

The flags come from /proc/PID/fdinfo of every descriptor the tool holds on
the card while it runs. The tool is kept running either by a slow served
card or by a stdout pipe too small for its progress lines, which it blocks
on with the card still open. Needs root, FUSE, QUILBEX_BIN, QUILBEX_MKCARD
and QUILBEX_CARDFS.
"""

import fcntl
import os
import re
import subprocess
import time
import unittest

import cardrig
from quilbex_support import binary, file_state, make_card, run, temp_dir
from test_faulty_card import SKIP_REASON

WAIT = 60  # seconds to wait for the tool to open the card; never asserted on
WRITE_ACCESS = os.O_WRONLY | os.O_RDWR


def descriptor_flags(pid, target):
    """The fdinfo flags of every descriptor of process pid open on target."""
    flags = []
    try:
        descriptors = os.listdir(f"/proc/{pid}/fd")
    except FileNotFoundError:
        return flags
    for fd in descriptors:
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") != target:
                continue
            with open(f"/proc/{pid}/fdinfo/{fd}", encoding="ascii") as info:
                flags.append(int(re.search(r"^flags:\s+([0-7]+)$", info.read(), re.M).group(1), 8))
        except (FileNotFoundError, ProcessLookupError):
            continue  # closed meanwhile
    return flags


def watch_card_opens(process, target, until):
    """Every flag set seen on target while the process runs, polled until a
    descriptor satisfies `until` or the process ends."""
    seen = set()
    deadline = time.monotonic() + WAIT
    while process.poll() is None and time.monotonic() < deadline:
        seen.update(descriptor_flags(process.pid, target))
        if any(until(flags) for flags in seen):
            break
        time.sleep(0.001)
    return seen


def is_direct(flags):
    return bool(flags & os.O_DIRECT)


def is_main_open(flags):
    # The size queries open with O_NONBLOCK; the card's reading open without.
    return not flags & os.O_NONBLOCK


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class ReadOnlyTest(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)
        self.archive = os.path.join(self.dir, "out.zip")

    def image(self, *items, payload="sparse"):
        path = make_card(os.path.join(self.dir, "card.img"), *items, payload=payload)
        os.utime(path, ns=(1_000_000_000, 1_000_000_000))
        return path

    def run_watched(self, drive, until):
        """Runs the tool on drive; returns its status and the flags seen on drive."""
        process = subprocess.Popen([binary("QUILBEX_BIN"), "-V", drive, self.archive], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen = watch_card_opens(process, drive, until)
        return process.wait(timeout=WAIT), seen

    def assertReadOnly(self, seen):
        self.assertTrue(seen, "the tool was never seen holding the card open")
        for flags in seen:
            self.assertEqual(flags & WRITE_ACCESS, 0, f"the card was opened with flags {flags:o}")

    def test_opens_slow_loop_device_read_only_with_direct_io(self):
        image = self.image("rec:1x6")
        with cardrig.served_loop_card(image, delay_ms=20) as drive:
            status, seen = self.run_watched(drive, lambda flags: is_main_open(flags) and is_direct(flags))
        self.assertEqual(status, 0)
        self.assertReadOnly(seen)
        self.assertTrue(any(is_main_open(flags) and is_direct(flags) for flags in seen),
                        f"no O_DIRECT descriptor on the device among {sorted(map(oct, seen))}")

    def test_opens_slow_served_file_read_only_and_asks_no_write_access(self):
        image = self.image("rec:1x6")
        log = os.path.join(self.dir, "reads.log")
        with cardrig.served_card(image, delay_ms=20, log=log) as drive:
            status, seen = self.run_watched(drive, is_main_open)
        self.assertEqual(status, 0)
        self.assertReadOnly(seen)
        self.assertTrue(any(map(is_main_open, seen)), f"the reading open was not seen among {sorted(map(oct, seen))}")
        self.assertTrue(cardrig.read_log(log), "the server saw no read")
        self.assertEqual(cardrig.refused_opens(log), 0, "the tool asked the server for write access")

    def test_opens_writable_loop_device_read_only(self):
        # A write open would succeed on this device: only the flags show it.
        image = self.image("rec:1x120")
        before = file_state(image)
        with cardrig.loop_device(image, read_only=False) as drive:
            with open(f"/sys/block/{os.path.basename(drive)}/ro", encoding="ascii") as ro:
                self.assertEqual(ro.read().strip(), "0", "the loop device should be writable")
            reader, writer = os.pipe()
            fcntl.fcntl(writer, fcntl.F_SETPIPE_SZ, 4096)  # less than 120 progress lines
            try:
                process = subprocess.Popen([binary("QUILBEX_BIN"), "-V", drive, self.archive],
                                           stdin=subprocess.DEVNULL, stdout=writer, stderr=subprocess.DEVNULL)
                os.close(writer)
                seen = watch_card_opens(process, drive, lambda flags: is_main_open(flags) and is_direct(flags))
                with os.fdopen(reader, "rb") as out:
                    reader = None
                    out.read()
            finally:
                if reader is not None:
                    os.close(reader)
            status = process.wait(timeout=WAIT)
        self.assertEqual(status, 0)
        self.assertReadOnly(seen)
        self.assertTrue(any(is_main_open(flags) and is_direct(flags) for flags in seen),
                        f"no O_DIRECT descriptor on the device among {sorted(map(oct, seen))}")
        self.assertEqual(file_state(image), before, "the image changed")

    def test_leaves_image_bytes_and_mtime_unchanged(self):
        image = self.image("rec:2", "rec:1", "junk:1", payload="chirp")
        before = file_state(image)
        runs = (["-i", image], [image, self.archive], ["-V", "-t", image, self.archive])
        for args in runs:
            with self.subTest(args=args):
                status, out, err = run(args, stdin=b"y\n", timeout=WAIT)
                self.assertEqual((status, err), (0, b""), out)
                self.assertEqual(file_state(image), before, "the image changed")


if __name__ == "__main__":
    unittest.main()
