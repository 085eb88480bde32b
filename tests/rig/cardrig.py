"""Serve a card image as a slow or faulty block device, for tests and benchmarks.

quilbex-cardfs serves an image read-only as MOUNTPOINT/card through FUSE; a
loop device on top of that file gives the recovery tool a real block device
whose speed and faults we control. The context managers here set that up and
always tear it down, even when the body raises:

    with served_loop_card(image, fail=["b3:b4"], rate=90) as dev:
        run_tool(dev)                       # dev is /dev/loopN

    with served_card(image, short=65536, log=log_path) as card:
        ...                                 # card is MOUNTPOINT/card

Needs root, /dev/fuse, fusermount3 and losetup (see requires_root_and_fuse).
The server binary comes from $QUILBEX_CARDFS, else from PATH.

What a reader sees through a loop device on the served file (Linux 6.x,
checked by test_cardfs.py):

* Root needs no allow_other: losetup on MOUNTPOINT/card just works. Both loop
  modes work on the FUSE file: `losetup --direct-io=on` is accepted (DIO 1 in
  `losetup -l`), and so is the default buffered mode. The server opens the
  file with FUSE direct_io, so in both modes every read reaches the server:
  nothing is answered from a page cache, and faults and throttling apply to
  repeated reads too. O_DIRECT reads of /dev/loopN work in both modes, with
  512- and 4096-byte sectors (with 4096, 512-byte O_DIRECT reads get EINVAL).
* The server does not see the reader's request sizes. A 4 MiB O_DIRECT read
  of the file arrives as four 1 MiB FUSE reads; through the loop device it
  arrives as several reads of roughly 300-600 KiB, some of them concurrent,
  so --log lines are not in offset order.
* EIO: an O_DIRECT read of the loop device that touches a failing range fails
  as a whole with EIO. The reader gets no short count, even when most of
  the read lay before the range. Inside, the loop driver re-issues the rest
  of a request after the server's short answer (that smaller read starts at
  the range and fails); nothing else is retried for O_DIRECT. To find the
  edge the reader must read smaller pieces itself: one-sector reads succeed
  right up to the range. On the served file itself a read gets a short count
  up to the range, and the next read gets EIO. Buffered (page cache) reads
  of the loop device also give a short count then EIO, and the kernel
  re-reads each failing 4 KiB page once more, one page at a time.
* Short reads: the loop driver re-issues the rest after a short answer, so a
  reader of the loop device sees full reads with correct data.
* End of data (eof_at): the loop driver turns a 0-byte answer into EIO, so
  reads of the loop device reaching that offset fail with EIO, while the
  served file itself just returns 0 bytes there.
* Alignment trap: after a short answer the loop driver advances the device
  position by whole sectors but the buffer by the exact byte count. A short
  answer that is not a multiple of the sector size therefore shifts the rest
  of the data, and can even turn a failing sector into a "successful" read
  of wrong bytes. So through a loop device, `short`, `eof_at` and both ends
  of every `fail` range must be multiples of the sector size;
  served_loop_card refuses anything else.
"""

import contextlib
import os
import shutil
import subprocess
import tempfile
import time
from typing import Iterable, Iterator, NamedTuple, Optional, Union

BLOCK_BYTES = 4 << 20
_UNITS = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}

FailRange = Union[str, tuple]


class LoggedRead(NamedTuple):
    offset: int
    length: int
    result: int  # bytes served, or -errno


def requires_root_and_fuse() -> Optional[str]:
    """Why these rigs cannot run here, or None when they can."""
    if os.geteuid() != 0:
        return "needs root (FUSE mounts and loop devices)"
    if not os.path.exists("/dev/fuse"):
        return "needs /dev/fuse"
    for tool in ("fusermount3", "losetup"):
        if shutil.which(tool) is None:
            return f"needs {tool} on PATH"
    return None


def cardfs_binary() -> Optional[str]:
    """The quilbex-cardfs to run: $QUILBEX_CARDFS, else the one on PATH."""
    return os.environ.get("QUILBEX_CARDFS") or shutil.which("quilbex-cardfs")


def parse_byte_value(text: Union[str, int]) -> int:
    """Reads a byte value the way quilbex-cardfs does: 1234, 64K, 3M, 1G, b3."""
    if isinstance(text, int):
        return text
    if text.startswith("b"):
        return int(text[1:]) * BLOCK_BYTES
    unit = _UNITS.get(text[-1:].upper())
    return int(text[:-1]) * unit if unit else int(text)


def fail_range(entry: FailRange) -> tuple:
    """(start, end) of a fail range given as "START:END" or a pair."""
    start, end = entry.split(":") if isinstance(entry, str) else entry
    return parse_byte_value(start), parse_byte_value(end)


def read_log(path: str) -> list:
    """The reads recorded by --log, in the order the server answered them."""
    with open(path, encoding="ascii") as log:
        rows = [line.split() for line in log]
    return [LoggedRead(*map(int, row)) for row in rows if len(row) == 3]


def refused_opens(path: str) -> int:
    """How many opens for writing reached the server (and were refused)."""
    with open(path, encoding="ascii") as log:
        return sum(1 for line in log if line.startswith("open-refused"))


def _fail_text(entry: FailRange) -> str:
    return entry if isinstance(entry, str) else f"{entry[0]}:{entry[1]}"


def _server_command(cardfs, image, mountpoint, *, rate, delay_ms, fail, short, eof_at, gone_at, log,
                    extra_args):
    command = [cardfs, os.fspath(image), mountpoint, "-f", *extra_args]
    optional = {"--rate": rate, "--delay-ms": delay_ms, "--short": short, "--eof-at": eof_at,
                "--gone-at": gone_at, "--log": log and os.path.abspath(log)}
    for option, value in optional.items():
        if value is not None:
            command += [option, str(value)]
    for entry in fail:
        command += ["--fail", _fail_text(entry)]
    return command


def _is_mounted(mountpoint: str) -> bool:
    with open("/proc/self/mountinfo", encoding="utf-8") as table:
        return any(line.split()[4] == mountpoint for line in table)


def _unmount(mountpoint: str) -> bool:
    """Unmounts; False when the mount was busy and could only be detached lazily."""
    if not _is_mounted(mountpoint):
        return True
    result = subprocess.run(["fusermount3", "-u", mountpoint], capture_output=True)
    if result.returncode == 0:
        return True
    # Busy (an open file or a loop device still on it): detach the name now;
    # the server would otherwise wait for the last user, so it is stopped.
    subprocess.run(["umount", "-l", mountpoint], capture_output=True)
    return False


def _stop(server: subprocess.Popen, *, patience: float) -> None:
    try:
        server.wait(timeout=patience)
        return
    except subprocess.TimeoutExpired:
        server.terminate()
    try:
        server.wait(timeout=2)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def _wait_until_served(server, mountpoint, card, stderr_path, timeout):
    deadline = time.monotonic() + timeout
    while not (_is_mounted(mountpoint) and os.path.exists(card)):
        if server.poll() is not None:
            with open(stderr_path, encoding="utf-8", errors="replace") as err:
                raise RuntimeError(f"quilbex-cardfs exited with {server.returncode}: {err.read()}")
        if time.monotonic() > deadline:
            raise RuntimeError(f"quilbex-cardfs did not serve {card} within {timeout} s")
        time.sleep(0.01)


@contextlib.contextmanager
def served_card(image, *, rate=None, delay_ms=None, fail: Iterable[FailRange] = (), short=None,
                eof_at=None, gone_at=None, log=None, cardfs=None, extra_args=(),
                timeout=10.0) -> Iterator[str]:
    """Serves `image` through quilbex-cardfs; yields the path of the served file.

    fail: ranges as "START:END" strings (K/M/G/bN suffixes allowed) or
    (start, end) pairs. gone_at: reads reaching it fail with ENXIO (through
    a loop device: EIO). log: a file the server appends each read to.
    extra_args: further server arguments, e.g. ["-s"] or ["-o", "max_read=65536"].
    """
    cardfs = cardfs or cardfs_binary()
    if not cardfs:
        raise RuntimeError("quilbex-cardfs not found: set QUILBEX_CARDFS")
    workdir = tempfile.mkdtemp(prefix="quilbex-cardfs-")
    mountpoint = os.path.join(workdir, "mnt")
    card = os.path.join(mountpoint, "card")
    stderr_path = os.path.join(workdir, "server.err")
    os.mkdir(mountpoint)
    command = _server_command(cardfs, image, mountpoint, rate=rate, delay_ms=delay_ms, fail=fail,
                              short=short, eof_at=eof_at, gone_at=gone_at, log=log, extra_args=extra_args)
    server = None
    try:
        with open(stderr_path, "wb") as stderr:
            server = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=stderr)
        _wait_until_served(server, mountpoint, card, stderr_path, timeout)
        yield card
    finally:
        cleanly = _unmount(mountpoint)
        if server is not None:
            _stop(server, patience=5 if cleanly else 0)
        if not _is_mounted(mountpoint):
            shutil.rmtree(workdir, ignore_errors=True)


def _loop_attr(device: str, name: str) -> Optional[str]:
    try:
        with open(f"/sys/block/{os.path.basename(device)}/loop/{name}", encoding="utf-8") as attr:
            return attr.read().strip()
    except FileNotFoundError:
        return None


def _detach(device: str, backing: Optional[str]) -> None:
    # A device held open (by a descriptor the body leaked, or for a moment by
    # the system probing it) is not detached at once: losetup -d marks it
    # autoclear, and the kernel detaches it on the last close. A moment's
    # holder is waited for; a leaked one leaves it as released as it can get.
    # Once detached, the device may at once serve another test's file, so
    # losetup -d runs again only while the device is ours and not marked.
    deadline = time.monotonic() + 2.5
    while _loop_attr(device, "backing_file") == backing:
        marked = _loop_attr(device, "autoclear") == "1"
        if time.monotonic() > deadline:
            if marked:
                return
            raise RuntimeError(f"could not detach {device}")
        if marked or subprocess.run(["losetup", "-d", device], capture_output=True).returncode != 0:
            time.sleep(0.05)


@contextlib.contextmanager
def loop_device(path, *, sector_size=512, read_only=True, direct_io=None) -> Iterator[str]:
    """Attaches a loop device to `path`; yields /dev/loopN.

    direct_io: None keeps losetup's default (off), True/False force it.
    """
    command = ["losetup", "--find", "--show"]
    if read_only:
        command.append("--read-only")
    if sector_size is not None:
        command += ["--sector-size", str(sector_size)]
    if direct_io is not None:
        command.append("--direct-io=" + ("on" if direct_io else "off"))
    command.append(os.fspath(path))
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"losetup failed: {result.stderr.strip()}")
    device = result.stdout.strip()
    backing = _loop_attr(device, "backing_file")
    try:
        yield device
    finally:
        _detach(device, backing)


def check_loop_alignment(sector_size: int, *, fail=(), short=None, eof_at=None) -> None:
    """Raises ValueError for fault settings a loop device would garble (see above)."""
    values = {"short": short, "eof_at": eof_at}
    for index, entry in enumerate(fail):
        values[f"fail[{index}].start"], values[f"fail[{index}].end"] = fail_range(entry)
    for name, value in values.items():
        if value is not None and parse_byte_value(value) % sector_size:
            raise ValueError(f"{name}={value} is not a multiple of the {sector_size}-byte sector; "
                             "a loop device would return shifted data")


@contextlib.contextmanager
def served_loop_card(image, *, sector_size=512, read_only=True, direct_io=None,
                     **served) -> Iterator[str]:
    """served_card plus a loop device on the served file; yields /dev/loopN."""
    fail = tuple(served.pop("fail", ()))
    check_loop_alignment(sector_size or 512, fail=fail, short=served.get("short"),
                         eof_at=served.get("eof_at"))
    with served_card(image, fail=fail, **served) as card:
        with loop_device(card, sector_size=sector_size, read_only=read_only,
                         direct_io=direct_io) as device:
            yield device


@contextlib.contextmanager
def served_flipping_folder(name, offset, *, timeout=10.0) -> Iterator[str]:
    """Serves a fresh folder through quilbex-flipfs (from $QUILBEX_FLIPFS):
    written pages stay in the kernel's cache, and every read of a file called
    `name` that reaches the server has the byte at `offset` flipped. Yields
    the mounted folder."""
    flipfs = os.environ.get("QUILBEX_FLIPFS") or shutil.which("quilbex-flipfs")
    if not flipfs:
        raise RuntimeError("quilbex-flipfs not found: set QUILBEX_FLIPFS")
    workdir = tempfile.mkdtemp(prefix="quilbex-flipfs-")
    store, mountpoint = os.path.join(workdir, "store"), os.path.join(workdir, "mnt")
    os.mkdir(store)
    os.mkdir(mountpoint)
    server = subprocess.Popen([flipfs, store, mountpoint, name, str(offset), "-f"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + timeout
        while not _is_mounted(mountpoint):
            if server.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"quilbex-flipfs did not mount {mountpoint}")
            time.sleep(0.01)
        yield mountpoint
    finally:
        cleanly = _unmount(mountpoint)
        _stop(server, patience=5 if cleanly else 0)
        if not _is_mounted(mountpoint):
            shutil.rmtree(workdir, ignore_errors=True)
