"""Timing, memory and table helpers for bench/run.

Every measured command runs under `/usr/bin/time -v`, which gives its peak
resident set size and CPU time; the wall time is taken here around the
process with a monotonic clock (finer than time's 10 ms).
"""

import os
import re
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from typing import Optional

MB = 1_000_000  # throughputs are in MB/s with MB = 10^6 bytes
MIB = 1 << 20


class BenchError(RuntimeError):
    """Something the benchmark needs could not be run (not a missed target)."""


@dataclass
class Run:
    wall: float            # seconds
    cpu: float             # user + system seconds
    rss_kib: int           # peak resident set size
    out_bytes: Optional[int] = None


@dataclass
class Case:
    """One contender: all its runs, summarised by the fastest."""
    name: str
    input_label: str
    in_bytes: int
    runs: list = field(default_factory=list)
    note: str = ""

    def best(self) -> Optional[Run]:
        return min(self.runs, key=lambda r: r.wall) if self.runs else None

    def mb_per_s(self) -> Optional[float]:
        best = self.best()
        return self.in_bytes / best.wall / MB if best else None

    def peak_rss_kib(self) -> Optional[int]:
        return max(r.rss_kib for r in self.runs) if self.runs else None


_TIME_FIELDS = {
    "user": re.compile(r"^\s*User time \(seconds\): ([\d.]+)", re.M),
    "sys": re.compile(r"^\s*System time \(seconds\): ([\d.]+)", re.M),
    "rss": re.compile(r"^\s*Maximum resident set size \(kbytes\): (\d+)", re.M),
    "status": re.compile(r"^\s*Exit status: (\d+)", re.M),
}


def parse_time_v(text: str) -> dict:
    values = {}
    for key, pattern in _TIME_FIELDS.items():
        match = pattern.search(text)
        if not match:
            raise BenchError(f"/usr/bin/time -v gave no '{key}' line:\n{text}")
        values[key] = float(match.group(1))
    return values


def timed(command, *, env=None, stdout_path=None, log_path=None, label=None) -> Run:
    """Runs `command` once; its stdout goes to stdout_path (or /dev/null).

    stderr (with time's report) is kept in a temporary file; on a non-zero exit
    it is appended to log_path and BenchError is raised.
    """
    label = label or os.path.basename(command[0])
    full_env = dict(os.environ, **(env or {}))
    # Every contender starts with no data of an earlier one waiting to be
    # written back: with gigabytes of it dirty, the kernel makes new writes
    # cost several times the CPU, which would charge one contender for another.
    os.sync()
    with tempfile.NamedTemporaryFile("w+", prefix="bench-time-", suffix=".txt") as report, \
            tempfile.NamedTemporaryFile("w+", prefix="bench-err-", suffix=".txt") as err, \
            open(stdout_path or os.devnull, "wb") as out:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-v", "-o", report.name, *command],
                              stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=full_env)
        wall = time.perf_counter() - start
        report.seek(0)
        err.seek(0)
        report_text, err_text = report.read(), err.read()
    if log_path:
        with open(log_path, "a", encoding="utf-8") as log:
            log.write(f"$ {' '.join(map(str, command))}  [{label}] rc={proc.returncode} "
                      f"wall={wall:.3f}\n{err_text}{report_text}\n")
    if proc.returncode != 0:
        raise BenchError(f"{label} failed with exit status {proc.returncode}: "
                         f"{' '.join(map(str, command))}\n{err_text.strip()[-2000:]}")
    values = parse_time_v(report_text)
    return Run(wall=wall, cpu=values["user"] + values["sys"], rss_kib=int(values["rss"]))


def fmt_bytes(n: Optional[int]) -> str:
    return "-" if n is None else f"{n:,}"


def fmt(value, fmt_code: str) -> str:
    return "-" if value is None else format(value, fmt_code)


def table(headers, rows, right=None) -> str:
    """Plain aligned text table; `right` names columns aligned to the right."""
    right = set(right or ())
    cells = [[str(h) for h in headers]] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(headers))]

    def line(row):
        parts = []
        for i, cell in enumerate(row):
            parts.append(cell.rjust(widths[i]) if headers[i] in right else cell.ljust(widths[i]))
        return "  ".join(parts).rstrip()

    rule = "  ".join("-" * w for w in widths)
    return "\n".join([line(cells[0]), rule] + [line(row) for row in cells[1:]])
