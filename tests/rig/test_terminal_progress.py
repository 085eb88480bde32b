"""The live progress line, black-box: quilbex on a pseudo-terminal of 60 or
200 columns reads one long recording from a card that quilbex-cardfs serves
at a set rate through a loop device. The line must be shown and redrawn
while the card is read, its percent never go down, its rate match the bytes
the terminal saw go by, no line reach the last column, and the screen end
with the last line drawn (no stray characters), the summary and the -t time.
Needs root, FUSE, QUILBEX_BIN, QUILBEX_MKCARD and QUILBEX_CARDFS.
"""

import bisect
import fcntl
import os
import pty
import re
import select
import struct
import subprocess
import tempfile
import termios
import time
import unittest
from typing import NamedTuple, Optional

import cardrig
from quilbex_support import binary, make_card, temp_dir
from test_faulty_card import SKIP_REASON

RATE = 40  # MB/s (10^6 bytes) the card is served at
BLOCKS = 30  # one recording of 125.8 MB: about 3 s at that rate
WAIT = 120  # seconds the tool may take; never asserted on
LINE = re.compile(r"Adding \[1/1\]: wav0000_\S+\.wav  (\d+)%(?:  ([\d.]+)/125\.8 MB)?(?:  ([\d.]+) MB/s)?[^\r\n]*")
SUMMARY = re.compile(r"1 recording, 125\.8 MB in 0:\d\d \([\d.]+ MB/s\)")
RATE_WINDOW = 5  # seconds the tool averages its rate over


class Line(NamedTuple):
    text: str
    percent: int
    done: Optional[float]  # MB
    rate: Optional[float]  # MB/s
    seen: float  # when it reached the terminal


class TerminalRun(NamedTuple):
    status: int
    text: str  # what the terminal received
    err: bytes
    lines: list  # the progress lines drawn, in order
    ended: float  # when the output ended


def run_on_terminal(args, columns, cwd):
    """Runs quilbex with its standard output on a pseudo-terminal of the
    given width, noting when each piece of output arrives."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    received, ends, times = bytearray(), [], []
    with tempfile.TemporaryFile() as err:
        tool = subprocess.Popen([binary("QUILBEX_BIN"), *args], cwd=cwd, stdin=subprocess.DEVNULL, stdout=slave,
                                stderr=err)
        os.close(slave)
        deadline = time.monotonic() + WAIT
        try:
            while select.select([master], [], [], max(deadline - time.monotonic(), 0))[0]:
                received += os.read(master, 65536)
                ends.append(len(received))
                times.append(time.monotonic())
        except OSError:
            pass  # EIO: the tool, the terminal's last writer, has ended
        finally:
            os.close(master)
        if tool.poll() is None:
            tool.kill()
        status = tool.wait()
        err.seek(0)
        text = received.decode("ascii")
        lines = [Line(m.group(0), int(m.group(1)), m.group(2) and float(m.group(2)), m.group(3) and float(m.group(3)),
                      times[bisect.bisect_left(ends, m.end())]) for m in LINE.finditer(text)]
        return TerminalRun(status, text, err.read(), lines, times[-1] if times else 0)


def screen_rows(text, columns):
    """The rows a terminal of the given width shows after the text; fails on
    a character written into the last column."""
    rows, column = [[]], 0
    for character in text:
        if character == "\r":
            column = 0
        elif character == "\n":
            rows.append([])
            column = 0
        else:
            if column >= columns - 1:
                raise AssertionError(f"a line reaches column {columns}: {text!r}")
            row = rows[-1]
            row.extend(" " * (column + 1 - len(row)))
            row[column] = character
            column += 1
    return ["".join(row).rstrip(" ") for row in rows]


def rate_seen(lines, k):
    """MB/s that the terminal saw go by over the window that the tool
    averages the rate of line k over."""
    before = [line for line in lines[:k] if line.seen <= lines[k].seen - RATE_WINDOW]
    start = before[-1] if before else lines[0]
    return (lines[k].done - start.done) / (lines[k].seen - start.seen)


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class TerminalProgressTest(unittest.TestCase):
    def setUp(self):
        self.dir = temp_dir(self)
        self.card = make_card(os.path.join(self.dir, "card.img"), f"rec:{BLOCKS}", "junk:1", payload="sparse")

    def run_throttled(self, columns):
        """The lines drawn, after checking what the screen shows at the end."""
        with cardrig.served_loop_card(self.card, rate=RATE) as drive:
            run = run_on_terminal(["-t", drive, "out.zip"], columns, self.dir)
        self.assertEqual((run.status, run.err), (0, b""), run.text)
        # Lines that wait in a buffer until the end would all arrive at once.
        self.assertGreater(run.ended - run.lines[0].seen, 1, "the line was not shown while the card was read")
        rows = screen_rows(run.text, columns)
        self.assertEqual(rows[:2], ["Extracting to out.zip...", run.lines[-1].text], "stray characters remain")
        self.assertRegex(rows[2], SUMMARY.pattern + "$")
        self.assertRegex(rows[3], r"^\d\dm:\d\ds$")
        self.assertEqual(rows[4:], [""])
        percents = [line.percent for line in run.lines]
        self.assertEqual(percents, sorted(percents), "the percent went down")
        self.assertEqual(percents[-1], 100)
        self.assertGreaterEqual(len(set(percents) - {100}), 3, "too few refreshes within the recording")
        return run.lines

    def test_wide_terminal_shows_the_rate_the_card_delivers(self):
        lines = self.run_throttled(200)
        shown = [(k, line.rate) for k, line in enumerate(lines) if line.rate is not None]
        self.assertTrue(shown, "no line showed a rate")
        for k, rate in shown:
            self.assertLessEqual(rate, RATE * 1.25, "faster than the card is served")
            # A loaded machine serves the card below the set rate: the rate
            # shown must be the one the card delivers.
            seen = rate_seen(lines, k)
            self.assertLess(abs(rate - seen), seen / 4, [(line.text, line.seen) for line in lines])

    def test_narrow_terminal_gets_lines_that_fit(self):
        self.run_throttled(60)

    def test_summary_counts_files_and_recordings_apart_when_cut(self):
        card = make_card(os.path.join(self.dir, "cut.img"), "rec:2", "rec:1", "junk:1", payload="sparse")
        for args, counted in (([], "2 recordings"), (["-s", "4"], "5 files from 2 recordings")):
            with self.subTest(args=args):
                run = run_on_terminal([*args, card, "out.zip"], 200, self.dir)
                self.assertEqual((run.status, run.err), (0, b""), run.text)
                self.assertRegex(run.text, r"\r\n" + counted + r", 12\.6 MB in 0:\d\d \([\d.]+ MB/s\)\r\n$")
                os.remove(os.path.join(self.dir, "out.zip"))


if __name__ == "__main__":
    unittest.main()
