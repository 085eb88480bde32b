"""Shared helpers of the black-box tests: the binaries from the environment,
running quilbex, writing card images, temporary directories, loop devices.

    from quilbex_support import BLOCK, make_card, run, temp_dir

    class SomeTest(unittest.TestCase):
        def test_something(self):
            tmp = temp_dir(self)
            card = make_card(os.path.join(tmp, "c.img"), "rec:2", "junk:1", payload="sparse")
            status, out, err = run([card, os.path.join(tmp, "out.zip")])
"""

import hashlib
import html.parser
import os
import shutil
import subprocess
import tempfile
import unittest

BLOCK = 4 * 1024 * 1024
HINT = b"Try 'quilbex -h' for help\n"
# After a read that failed on the card's sectors, without -r.
RESCUE_HINT = b"The card has unreadable sectors: run again with -r to read past them.\n"
PROMPT = b"Overwrite existing file? (y/n): "
CHECKED = b"Checked: %d files, %.1f GB read back from the disk, all identical\n"  # % (files, GB)
MAY_FORMAT = b"The card may be formatted.\n"
USAGE = (b"quilbex - SD card wav file extractor utility by Brastonel Ltd.\n"
         b"\n"
         b"Usage: \n"
         b"       quilbex [options] <drive> <zip filename> : extract wav files to zip\n"
         b"       quilbex [options]\n"
         b"\n"
         b"Options:\n"
         b"        -h - display this help message.\n"
         b"        -v - display version info.\n"
         b"        -V - Verbose output\n"
         b"        -t - show elapsed time\n"
         b"        -r - rescue: go on past unreadable sectors\n"
         b"        -d - write WAV files into a folder instead of a zip\n"
         b"        -s N - cut recordings into files of at most N seconds\n"
         b"        -g - add GUANO metadata to every WAV file\n"
         b"        -z +HH:MM - the recorder clock's offset from UTC, for GUANO\n"
         b"        -l - list the recordings on the card and write nothing\n"
         b"        -c - check: read every file back from the disk and compare it with the card\n"
         b"        -m PATH - also write a second copy to PATH (a zip, or with -d a folder)\n"
         b"        -n PREFIX - name files PREFIX_YYYYMMDD_HHMMSS.wav from their start times\n"
         b"        -R PATH - write a report page of the card (HTML) to PATH\n"
         b"\n"
         b"Example:\n"
         b"    quilbex E: C:\\temp\\out.zip\n")


def binary(variable):
    """The path in an environment variable; skips the test when it is unset."""
    path = os.environ.get(variable)
    if not path:
        raise unittest.SkipTest(f"{variable} is not set; ctest sets it to the built binary")
    if not os.access(path, os.X_OK):
        raise AssertionError(f"{variable}={path} is not an executable")
    return path


def run(args, stdin=b"", cwd=None, merge_streams=False, timeout=120, env=None):
    """Runs quilbex with the arguments and the bytes on standard input, and
    the variables of env added to the environment.

    Returns (status, stdout bytes, stderr bytes); with merge_streams both
    streams share one pipe, so stdout holds them in the order written and
    stderr is empty.
    """
    result = subprocess.run([binary("QUILBEX_BIN"), *args], input=stdin, cwd=cwd, env=env and {**os.environ, **env},
                            capture_output=not merge_streams,
                            stdout=subprocess.PIPE if merge_streams else None,
                            stderr=subprocess.STDOUT if merge_streams else None, timeout=timeout, check=False)
    return result.returncode, result.stdout, result.stderr or b""


def make_card(path, *items, **options):
    """Writes a card image with quilbex-mkcard and returns its path.

    Keyword options become command-line options: payload="sparse" is
    --payload sparse, junk_noise=True is --junk-noise.
    """
    args = [binary("QUILBEX_MKCARD")]
    for name, value in options.items():
        flag = "--" + name.replace("_", "-")
        if value is True:
            args.append(flag)
        elif value is not False and value is not None:
            args += [flag, str(value)]
    result = subprocess.run([*args, path, *items], capture_output=True, text=True, timeout=300, check=False)
    if result.returncode != 0:
        raise AssertionError(f"quilbex-mkcard {' '.join(items)} failed: {result.stderr}")
    return path


def temp_dir(test):
    """A fresh directory, removed when the test ends."""
    path = tempfile.mkdtemp(prefix="quilbex-e2e-")
    test.addCleanup(shutil.rmtree, path, ignore_errors=True)
    return path


def file_state(path):
    """(SHA-256, mtime in ns) of a file, to show it was left alone."""
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest(), os.stat(path).st_mtime_ns


def assert_checksum_list(test, folder, names):
    """The folder's SHA256SUMS lists exactly these files, in this order, and
    `sha256sum -c --strict` passes it with nothing but their OK lines."""
    if not names:
        test.assertEqual(os.path.getsize(os.path.join(folder, "SHA256SUMS")), 0)
        return
    result = subprocess.run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=folder, capture_output=True,
                            text=True, timeout=600, check=False)
    test.assertEqual((result.returncode, result.stderr, result.stdout),
                     (0, "", "".join(f"{name}: OK\n" for name in names)), folder)


def listed_digests(folder):
    """The (name, SHA-256) of each line of the folder's SHA256SUMS, in name order."""
    with open(os.path.join(folder, "SHA256SUMS"), encoding="utf-8") as f:
        return sorted(tuple(line.split()[::-1]) for line in f)


def loop_devices_unavailable():
    """Why loop devices cannot be attached here, or None when they can."""
    if os.geteuid() != 0:
        return "loop devices need root"
    if shutil.which("losetup") is None:
        return "loop devices need losetup on PATH"
    if not os.path.exists("/dev/loop-control"):
        return "loop devices need /dev/loop-control"
    return None


def attach_loop(test, image, sector_size=None):
    """Attaches the image read-only to a free loop device, detached when the
    test ends; returns the device path."""
    args = ["losetup", "--find", "--show", "--read-only"]
    if sector_size:
        args += ["--sector-size", str(sector_size)]
    result = subprocess.run([*args, image], capture_output=True, text=True, timeout=60, check=False)
    if result.returncode != 0:
        raise AssertionError(f"losetup failed: {result.stderr}")
    device = result.stdout.strip()
    test.addCleanup(subprocess.run, ["losetup", "--detach", device], capture_output=True, timeout=60, check=False)
    return device


def riff_chunks(data):
    """{chunk id: body} of a RIFF WAVE file, checking its RIFF size."""
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", data[:12]
    assert int.from_bytes(data[4:8], "little") == len(data) - 8
    chunks, at = {}, 12
    while at < len(data):
        size = int.from_bytes(data[at + 4:at + 8], "little")
        chunks[data[at:at + 4].decode()] = data[at + 8:at + 8 + size]
        at += 8 + size + size % 2
    assert at == len(data)
    return chunks


def read_guano(data):
    """The fields of a file's GUANO metadata as the published format reads
    them: UTF-8 `key: value` lines in a `guan` chunk, GUANO|Version first,
    keys and values stripped of surrounding whitespace."""
    lines = [line for line in riff_chunks(data)["guan"].decode("utf-8").splitlines() if line.strip()]
    fields = {}
    for line in lines:
        key, value = line.split(":", 1)
        fields[key.strip()] = value.strip()
    assert lines[0].split(":", 1)[0] == "GUANO|Version", lines[0]
    return fields


class ReportPage(html.parser.HTMLParser):
    """What a report page (-R) shows, as a browser's parser reads it: the
    timeline's bars (their attributes), the outcome sentence, the items of
    each list by its heading, and the cells of the files table."""

    def __init__(self, text):
        super().__init__()
        self.bars, self.outcome, self.lists, self.rows, self.texts = [], None, {}, [], []
        self._heading = None
        self._into = None
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "rect" and "data-recording" in attrs:
            self.bars.append(attrs)
        elif tag == "tr":
            self.rows.append([])
        if tag != "code":  # a hash's <code> is text of its cell
            self._into = (tag, attrs.get("class"))
        if tag in ("h2", "li", "td", "dd", "h1", "p"):
            self._text = ""

    def handle_data(self, data):
        if self._into and self._into[0] in ("h2", "li", "td", "dd", "h1", "p"):
            self._text += data

    def handle_endtag(self, tag):
        if tag == "h2":
            self._heading = self._text
        elif tag == "li":
            self.lists.setdefault(self._heading, []).append(self._text)
        elif tag == "td":
            self.rows[-1].append(self._text)
        elif tag == "dd" and self._into == ("dd", "outcome"):
            self.outcome = self._text
        elif tag in ("h1", "p"):
            self.texts.append(self._text)
        if tag != "code":
            self._into = None


def read_page(path):
    """The ReportPage of the page file at path."""
    with open(path, encoding="utf-8") as f:
        return ReportPage(f.read())


def chromium(test):
    """Debian's chromium, or the test is skipped (.ci/run installs it)."""
    path = shutil.which("chromium")
    if path is None:
        test.skipTest("needs Debian's chromium (apt-get install chromium)")
    return path


def browse(test, page, *args, width=1120, height=800):
    """Headless chromium on the page file with the arguments (--dump-dom,
    --screenshot=PNG); returns its standard output."""
    command = [chromium(test), "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--no-first-run",
               f"--user-data-dir={temp_dir(test)}", f"--window-size={width},{height}", *args,
               "file://" + os.path.abspath(page)]
    result = subprocess.run(command, capture_output=True, timeout=120, check=False)
    if result.returncode != 0:
        raise AssertionError(f"chromium failed: {result.stderr[-2000:]!r}")
    return result.stdout


def picture_colours(png, *colours):
    """How many pixels of the PNG have each (r, g, b) colour, and how many
    differ from its top left pixel (the background), decoded by ffmpeg."""
    result = subprocess.run(["ffmpeg", "-v", "error", "-i", png, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                            capture_output=True, timeout=60, check=True)
    pixels = [result.stdout[i:i + 3] for i in range(0, len(result.stdout), 3)]
    counts = {bytes(c): 0 for c in colours}
    for pixel in pixels:
        if pixel in counts:
            counts[pixel] += 1
    background = pixels[0]
    return [counts[bytes(c)] for c in colours], sum(1 for p in pixels if p != background)
