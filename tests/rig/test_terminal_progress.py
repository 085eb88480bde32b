"""The live progress line on a terminal, black-box: quilbex writes to a
pseudo-terminal of 60 or 200 columns while it reads one long recording from
a card that quilbex-cardfs serves at a set rate through a loop device.

The line must be redrawn several times within the recording, its percent
must never go down, the rate it shows must be near the card's, no line may
reach the last column (a character there wraps the line on some terminals),
and the screen must end with the last line drawn, without stray characters,
then the summary and the -t time. Needs root, FUSE, QUILBEX_BIN,
QUILBEX_MKCARD and QUILBEX_CARDFS.
"""

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
from typing import NamedTuple

import cardrig
from quilbex_support import binary, make_card, temp_dir
from test_faulty_card import SKIP_REASON

RATE = 40  # MB/s (10^6 bytes) the card is served at
BLOCKS = 30  # one recording of 125.8 MB: about 3 s at that rate
WAIT = 120  # seconds the tool may take; never asserted on
LINE = re.compile(r"Adding \[1/1\]: wav0000_\S+\.wav  (\d+)%")
SHOWN_RATE = re.compile(r"  ([\d.]+) MB/s")
SUMMARY = re.compile(r"1 recording, 125\.8 MB in 0:\d\d \([\d.]+ MB/s\)")


class TerminalRun(NamedTuple):
    status: int
    text: str  # what the terminal received
    err: bytes
    lead: float  # seconds from the first progress line to the end of the output


def run_on_terminal(args, columns, cwd):
    """Runs quilbex with its standard output on a pseudo-terminal of the
    given width."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    received = bytearray()
    first_line = None
    with tempfile.TemporaryFile() as err:
        tool = subprocess.Popen([binary("QUILBEX_BIN"), *args], cwd=cwd, stdin=subprocess.DEVNULL, stdout=slave,
                                stderr=err)
        os.close(slave)
        deadline = time.monotonic() + WAIT
        try:
            while select.select([master], [], [], max(deadline - time.monotonic(), 0))[0]:
                received += os.read(master, 65536)
                if first_line is None and b"Adding" in received:
                    first_line = time.monotonic()
        except OSError:
            pass  # EIO: the tool, the terminal's last writer, has ended
        finally:
            os.close(master)
        if tool.poll() is None:
            tool.kill()
        status = tool.wait()
        err.seek(0)
        return TerminalRun(status, received.decode("ascii"), err.read(), time.monotonic() - (first_line or 0))


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


@unittest.skipIf(SKIP_REASON, SKIP_REASON or "")
class TerminalProgressTest(unittest.TestCase):
    def setUp(self):
        self.dir = temp_dir(self)
        self.card = make_card(os.path.join(self.dir, "card.img"), f"rec:{BLOCKS}", "junk:1", payload="sparse")

    def run_throttled(self, columns):
        """The lines drawn, in order, after checking what the screen shows at the end."""
        with cardrig.served_loop_card(self.card, rate=RATE) as drive:
            run = run_on_terminal(["-t", drive, "out.zip"], columns, self.dir)
        text = run.text
        self.assertEqual((run.status, run.err), (0, b""), text)
        # Lines that wait in a buffer to the end would all arrive at once.
        self.assertGreater(run.lead, 1, "the progress line was not shown while the card was read")
        lines = [piece for piece in re.split(r"[\r\n]", text) if LINE.match(piece)]
        rows = screen_rows(text, columns)
        self.assertEqual(rows[:2], ["Extracting to out.zip...", lines[-1]], "stray characters after the last line")
        self.assertRegex(rows[2], SUMMARY.pattern + "$")
        self.assertRegex(rows[3], r"^\d\dm:\d\ds$")
        self.assertEqual(rows[4:], [""])
        percents = [int(LINE.match(line).group(1)) for line in lines]
        self.assertEqual(percents, sorted(percents), "the percent went down")
        self.assertEqual(percents[-1], 100)
        self.assertGreaterEqual(len(set(percents) - {100}), 3, "too few refreshes within the recording")
        return lines

    def test_wide_terminal_shows_the_card_rate(self):
        rates = [float(rate) for line in self.run_throttled(200) for rate in SHOWN_RATE.findall(line)]
        self.assertTrue(rates, "no line showed a rate")
        for rate in rates:
            self.assertLess(abs(rate - RATE), RATE / 4, rates)

    def test_narrow_terminal_gets_lines_that_fit(self):
        self.run_throttled(60)


if __name__ == "__main__":
    unittest.main()
