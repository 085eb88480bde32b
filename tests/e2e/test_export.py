"""The export, black-box: the archive read back by independent readers
(Python's zipfile and wave, unzip, soxi, sndfile-info), the same archive and
output for any QUILBEX_THREADS, the progress output byte for byte and start
times that are no valid date, the archive flushed to the device before the
run ends (seen through strace); the folder export (-d) read back file by
file, with its times, its one question and the links it never follows. A
recording skipped after a refused seek cannot
be made through the binary; tests/unit/pipeline_test.cpp covers it.
Needs QUILBEX_BIN and QUILBEX_MKCARD."""

import io
import os
import re
import resource
import shutil
import subprocess
import tempfile
import time
import unittest
import wave
import zipfile

from quilbex_support import (CHECKED, MAY_FORMAT, PROMPT, assert_checksum_list, binary, file_state, listed_digests,
                             make_card, read_guano, read_page, riff_chunks, run, temp_dir)

PAYLOAD = 4 * 1024 * 1024 - 32  # bytes of audio per block
HEADER = 56
BLOCKS = [1, 3, 2]  # the recordings of the shared card
NAMES = ["wav0000_2017_03_05__14_07_32.wav", "wav0001_2017_03_05__14_08_32.wav",
         "wav0002_2017_03_05__14_09_32.wav"]
LISTED = sorted(NAMES + ["SHA256SUMS", ".quilbex-card"])  # a folder export's files, checksum list and card's mark


def run_with_threads(threads, args, env=None, **kwargs):
    env = dict(env or os.environ, QUILBEX_THREADS=str(threads))
    result = subprocess.run([binary("QUILBEX_BIN"), *args], env=env, capture_output=True, timeout=300,
                            check=False, **kwargs)
    return result.returncode, result.stdout, result.stderr


class ExportTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        binary("QUILBEX_BIN")
        binary("QUILBEX_MKCARD")
        cls.dir = tempfile.mkdtemp(prefix="quilbex-e2e-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, ignore_errors=True)
        cls.card = os.path.join(cls.dir, "card.img")
        payload_file = os.path.join(cls.dir, "payload.bin")
        make_card(cls.card, *[f"rec:{n}" for n in BLOCKS], "junk:1", payload_out=payload_file)
        with open(payload_file, "rb") as f:
            cls.payloads = [f.read(n * PAYLOAD) for n in BLOCKS]

    def archive(self, name="out.zip"):
        path = os.path.join(self.dir, name)
        if os.path.lexists(path):
            os.remove(path)
        return path


class ArchiveContentTest(ExportTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.zip_path = os.path.join(cls.dir, "content.zip")
        cls.result = run([cls.card, cls.zip_path])
        cls.entries_dir = os.path.join(cls.dir, "entries")
        with zipfile.ZipFile(cls.zip_path) as archive:
            archive.extractall(cls.entries_dir)

    def entry_paths(self):
        return [os.path.join(self.entries_dir, name) for name in NAMES]

    def test_run_succeeds_quietly(self):
        status, _, err = self.result
        self.assertEqual((status, err), (0, b""))

    def test_entries_hold_header_and_payload_with_names_and_dates(self):
        with zipfile.ZipFile(self.zip_path) as archive:
            self.assertIsNone(archive.testzip())
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], NAMES)
            self.assertEqual([i.date_time for i in infos],
                             [(2017, 3, 5, 14, 7, 32), (2017, 3, 5, 14, 8, 32), (2017, 3, 5, 14, 9, 32)])
            for info, payload in zip(infos, self.payloads):
                data = archive.read(info)
                self.assertEqual(len(data), HEADER + len(payload), info.filename)
                self.assertEqual(data[:4] + data[8:16], b"RIFFWAVEfmt ", info.filename)
                self.assertTrue(data[HEADER:] == payload, info.filename)
                self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
                self.assertLess(info.compress_size, info.file_size, "chirp audio must shrink")

    def test_check_reads_both_copies_back_and_leaves_their_checksums_beside_them(self):
        path, mirror = self.archive("checked.zip"), self.archive("mirror.zip")
        with open(mirror, "wb") as old:
            old.write(b"older")
        status, out, err = run(["-c", "-m", mirror, self.card, path], stdin=b"y\n")
        self.assertEqual((status, err), (0, b""), out)
        self.assertEqual(out.count(PROMPT), 1, out)
        self.assertTrue(out.endswith(NAMES[2].encode() + b"\r\n" + CHECKED % (6, 0.0) + MAY_FORMAT), out[-300:])
        for copy in (path, mirror):
            with open(copy, "rb") as checked, open(self.zip_path, "rb") as plain:
                self.assertTrue(checked.read() == plain.read(), f"{copy} is not the archive made without -c -m")
            name = os.path.basename(copy)
            listed = subprocess.run(["sha256sum", "-c", "--strict", name + ".sha256"], cwd=self.dir,
                                    capture_output=True, timeout=120)
            self.assertEqual((listed.returncode, listed.stdout, listed.stderr), (0, b"%s: OK\n" % name.encode(), b""))

    def test_unzip_finds_no_error(self):
        result = subprocess.run(["unzip", "-tq", self.zip_path], capture_output=True, text=True, timeout=120,
                                check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_wave_module_reads_mono_16_bit_384_khz(self):
        for path, payload in zip(self.entry_paths(), self.payloads):
            with open(path, "rb") as f, wave.open(io.BytesIO(f.read())) as w:
                self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 384000))
                self.assertLessEqual(w.getnframes() * 2, len(payload))

    def test_soxi_and_sndfile_info_read_every_entry(self):
        for path in self.entry_paths():
            soxi = [subprocess.run(["soxi", option, path], capture_output=True, text=True, timeout=60,
                                   check=False).stdout.strip() for option in ("-r", "-c", "-b")]
            self.assertEqual(soxi, ["384000", "1", "16"], path)
            info = subprocess.run(["sndfile-info", path], capture_output=True, text=True, timeout=60, check=False)
            self.assertEqual(info.returncode, 0, info.stdout + info.stderr)
            self.assertRegex(info.stdout, r"Sample Rate\s*:\s*384000")
            self.assertRegex(info.stdout, r"Channels\s*:\s*1\b")


class ThreadCountTest(ExportTestCase):
    def test_archive_and_output_are_identical_for_any_thread_count(self):
        results = {}
        for threads in (1, 2, 3, 16):
            path = self.archive()
            status, out, err = run_with_threads(threads, [self.card, path])
            with open(path, "rb") as f:
                results[threads] = (status, out, err, f.read())
        for threads in (2, 3, 16):
            self.assertEqual(results[threads][:3], results[1][:3], f"{threads} threads")
            self.assertTrue(results[threads][3] == results[1][3], f"archive with {threads} threads differs")

    def test_malformed_thread_setting_still_exports(self):
        path = self.archive()
        status, _, err = run_with_threads("many", [self.card, path])
        self.assertEqual((status, err), (0, b""))
        with zipfile.ZipFile(path) as archive:
            self.assertIsNone(archive.testzip())


class ProgressOutputTest(ExportTestCase):
    def extracting(self, path):
        return f"Extracting to {path}...\n".encode()

    def verbose_line(self, n, path):
        """The -V line of recording n (from 1): its whole entry's length."""
        return f"[{n}/3] Adding {NAMES[n - 1]} length {HEADER + BLOCKS[n - 1] * PAYLOAD} into {path}\n".encode()

    def test_progress_line_is_rewritten_in_place(self):
        path = self.archive()
        expected = self.extracting(path)
        previous = 0
        for n, name in enumerate(NAMES, 1):
            text = f"Adding [{n}/3]: {name}".encode()
            expected += b" " * previous + b"\r" + text + b"\r"
            previous = len(text)
        self.assertEqual(run([self.card, path]), (0, expected, b""))

    def test_verbose_lines_give_each_length_then_the_elapsed_time(self):
        path = self.archive()
        status, out, err = run(["-V", self.card, path])
        self.assertEqual((status, err), (0, b""))
        lines = b"".join(self.verbose_line(n, path) for n in range(1, 4))
        self.assertTrue(out.startswith(self.extracting(path) + lines), out)
        self.assertRegex(out[len(self.extracting(path) + lines):], rb"^\d\dm:\d\ds\n$")

    def test_verbose_line_gives_the_whole_length_when_no_archive_can_be_made(self):
        os.mkdir(os.path.join(self.dir, "folder.zip"))
        for name, reason in (("z" * 5000 + ".zip", b"File name too long"), ("folder.zip", b"Is a directory")):
            with self.subTest(reason=reason):
                path = os.path.join(self.dir, name)
                status, out, err = run(["-V", self.card, path])
                self.assertEqual((status, err), (1, b"Error: Can't make the zip file. Bad filename?\n" + reason +
                                                 b"\n\nZip archive failure\n" + reason + b"\n"))
                self.assertEqual(out, self.extracting(path) + self.verbose_line(1, path) +
                                 b"Error:: Can't add file to zip.\n")

    def test_elapsed_time_ends_the_rewritten_line(self):
        path = self.archive()
        status, out, err = run(["-t", self.card, path])
        self.assertEqual((status, err), (0, b""))
        self.assertRegex(out, rb"\rAdding \[3/3\]: " + NAMES[2].encode() + rb"\r\n\d\dm:\d\ds\n$")


def without_leak_checks():
    """The environment for a run under ptrace, where the leak checker of a
    sanitizer build cannot work."""
    return {**os.environ, "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"}


@unittest.skipUnless(shutil.which("strace"), "needs strace")
class FlushTest(ExportTestCase):
    def traced(self, args):
        """The calls of a run as (name, first argument, the rest), and its
        standard output."""
        log = os.path.join(self.dir, "calls.log")
        result = subprocess.run(["strace", "-f", "-qq", "-o", log, "-e",
                                 "trace=openat,pwrite64,write,fsync,close,rename,mkdir", binary("QUILBEX_BIN"), *args],
                                capture_output=True, timeout=300, env=without_leak_checks())
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(log, encoding="utf-8", errors="replace") as f:
            # Each call in the order it started; a call another thread cut
            # into ends its line in "<unfinished ...>" and goes on in a
            # "<... NAME resumed>" line, which completes it.
            calls, cut = [], {}
            for pid, text in re.findall(r"^(\d+) +(.*)$", f.read(), re.M):
                if resumed := re.match(r"<\.\.\. \w+ resumed>(.*)", text):
                    if pid in cut:
                        calls[cut.pop(pid)] += resumed[1]
                    continue
                if text.endswith(" <unfinished ...>"):
                    cut[pid] = len(calls)
                    text = text.removesuffix(" <unfinished ...>")
                calls.append(text)
            return [call.groups() for text in calls if (call := re.match(r"(\w+)\(([^,)]*)(.*)$", text, re.S))]

    @staticmethod
    def opened(calls, path, after=0):
        """The index of the first open of the path from `after` on, and its descriptor."""
        i = next(i for i in range(after, len(calls)) if calls[i][0] == "openat" and f'"{path}"' in calls[i][2])
        return i, re.search(r"= (\d+)", calls[i][2])[1]

    @staticmethod
    def last(calls, name, first):
        return max(i for i, call in enumerate(calls) if call[:2] == (name, first))

    def test_archive_is_flushed_after_its_last_byte_and_before_the_elapsed_time(self):
        path = self.archive()
        calls = self.traced([self.card, path])
        opened, fd = self.opened(calls, path)
        on_archive = [name for name, first, _ in calls[opened + 1:] if first == fd]
        on_archive = on_archive[:on_archive.index("close") + 1]
        self.assertEqual(on_archive[-2:], ["fsync", "close"], on_archive[-5:])
        self.assertIn("pwrite64", on_archive)
        fsync = self.last(calls, "fsync", fd)
        folder, folder_fd = self.opened(calls, self.dir, fsync)
        self.assertIn("O_DIRECTORY", calls[folder][2])
        self.assertGreater(self.last(calls, "fsync", folder_fd), folder, "the archive's folder was not flushed")
        self.assertGreater(self.last(calls, "write", "1"), self.last(calls, "fsync", folder_fd),
                           "the elapsed time was told before the archive was flushed")

    def test_folder_files_list_and_names_are_flushed_before_the_elapsed_time(self):
        folder = os.path.join(temp_dir(self), "night-1")
        calls = self.traced(["-d", "-t", self.card, folder])
        made = next(i for i, call in enumerate(calls) if call[0] == "mkdir")
        parent, parent_fd = self.opened(calls, os.path.dirname(folder), made)
        self.assertIn(("fsync", parent_fd), [call[:2] for call in calls[parent:]], "the new folder was not flushed")
        for name in NAMES:
            part, fd = self.opened(calls, os.path.join(folder, name + ".part"))
            renamed = next(i for i, call in enumerate(calls) if call[0] == "rename" and f"/{name}.part" in call[1])
            self.assertIn(("fsync", fd), [call[:2] for call in calls[part:renamed]], name)
        listed, list_fd = self.opened(calls, os.path.join(folder, "SHA256SUMS"))
        flushed, folder_fd = self.opened(calls, folder, renamed)
        self.assertIn(("fsync", list_fd), [call[:2] for call in calls[renamed:flushed]], "the list was not flushed")
        self.assertGreater(self.last(calls, "write", "1"), self.last(calls, "fsync", folder_fd),
                           "the elapsed time was told before the folder was flushed")


def local_time(date_time):
    """The seconds since the epoch of a date and time read as local time."""
    return int(time.mktime((*date_time, 0, 0, -1)))


class FolderExportTest(ExportTestCase):
    STARTS = [(2017, 3, 5, 14, 7, 32), (2017, 3, 5, 14, 8, 32), (2017, 3, 5, 14, 9, 32)]

    def folder(self):
        path = os.path.join(temp_dir(self), "night-1")
        return path

    def assertWhole(self, folder, k):
        """File k is its WAV header and the card's payload, nothing else."""
        path = os.path.join(folder, NAMES[k])
        self.assertFalse(os.path.islink(path), path)
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual(data[:4] + data[8:16], b"RIFFWAVEfmt ", path)
        self.assertEqual(len(data), HEADER + len(self.payloads[k]), path)
        self.assertTrue(data[HEADER:] == self.payloads[k], f"{path} differs from the card's payload")
        with wave.open(path) as w:
            self.assertEqual(w.getnframes(), len(self.payloads[k]) // 2, path)

    def test_files_hold_header_and_payload_stamped_with_their_start_times(self):
        for typed in ("{}", "{}/"):
            folder = self.folder()
            status, out, err = run(["-d", "-V", self.card, typed.format(folder)])
            self.assertEqual((status, err), (0, b""), out)
            self.assertEqual(sorted(os.listdir(folder)), LISTED)
            assert_checksum_list(self, folder, NAMES)
            for k, start in enumerate(self.STARTS):
                self.assertWhole(folder, k)
                self.assertEqual(os.stat(os.path.join(folder, NAMES[k])).st_mtime, local_time(start))

    def test_check_reads_every_file_back_then_says_the_card_may_be_formatted(self):
        for options, closing in (([], b""), (["-c"], b"\n" + CHECKED % (3, 0.0) + MAY_FORMAT)):
            folder = self.folder()
            status, out, err = run(["-d", *options, self.card, folder], stdin=b"y\n")
            self.assertEqual((status, err), (0, b""), out)
            self.assertTrue(out.endswith(NAMES[2].encode() + b"\r" + closing), out[-300:])
            assert_checksum_list(self, folder, NAMES)

    def test_existing_files_are_replaced_only_after_one_yes(self):
        for answer, status in ((b"n\n", 1), (b"y\n", 0)):
            folder = self.folder()
            os.mkdir(folder)
            for name in (NAMES[0], NAMES[2], "notes.txt", "SHA256SUMS"):
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(b"older")
            before = {name: file_state(os.path.join(folder, name)) for name in os.listdir(folder)}
            result = run(["-d", self.card, folder], stdin=answer)
            self.assertEqual(result[0], status, result)
            self.assertEqual(result[1].count(PROMPT), 1, result[1])
            after = {name: file_state(os.path.join(folder, name)) for name in os.listdir(folder)}
            self.assertEqual(after["notes.txt"], before["notes.txt"])
            if status:
                self.assertEqual(after, before)
            else:
                self.assertEqual(sorted(after), sorted(LISTED + ["notes.txt"]))
                assert_checksum_list(self, folder, NAMES)
                for k in range(3):
                    self.assertWhole(folder, k)

    def test_links_at_part_and_final_names_are_replaced_never_followed(self):
        folder = self.folder()
        os.mkdir(folder)
        victims = [os.path.join(os.path.dirname(folder), f"victim{k}") for k in range(4)]
        for victim in victims:
            with open(victim, "wb") as f:
                f.write(b"someone's file")
        os.symlink(victims[0], os.path.join(folder, NAMES[0] + ".part"))
        os.symlink(victims[1], os.path.join(folder, NAMES[1]))
        os.symlink(os.path.join(folder, "nowhere"), os.path.join(folder, NAMES[2] + ".part"))
        os.symlink(victims[3], os.path.join(folder, "SHA256SUMS"))
        before = [file_state(victim) for victim in victims]
        status, out, err = run(["-d", self.card, folder], stdin=b"y\n")
        self.assertEqual((status, err), (0, b""), out)
        self.assertEqual([file_state(victim) for victim in victims], before)
        self.assertEqual(sorted(os.listdir(folder)), LISTED)
        assert_checksum_list(self, folder, NAMES)
        for k in range(3):
            self.assertWhole(folder, k)

    @unittest.skipIf(os.geteuid() != 0, "handing files over needs root")
    def test_what_it_makes_under_sudo_belongs_to_the_user_and_nothing_else(self):
        made, kept, archive = self.folder(), self.folder(), self.archive()
        os.mkdir(kept)  # the user's own folder: the run makes only files in it
        hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
        cut = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (5 << 20, hard))  # the second file fails
        for args, limit, status in ((["-d", self.card, made], None, 0), ([self.card, archive], None, 0),
                                    (["-d", self.card, kept], cut, 1)):
            sudo = dict(os.environ, SUDO_UID="4321", SUDO_GID="4322")
            self.assertEqual(run_with_threads(2, args, env=sudo, preexec_fn=limit)[0], status, args)
        self.assertEqual(sorted(os.listdir(kept)), [".quilbex-card", "SHA256SUMS", NAMES[0], NAMES[1] + ".part"])
        created = [made, archive, *(os.path.join(made, name) for name in NAMES),
                   *(os.path.join(kept, name) for name in os.listdir(kept))]
        owners = {path: (os.lstat(path).st_uid, os.lstat(path).st_gid) for path in [kept, *created]}
        self.assertEqual(owners, {kept: (0, 0), **{path: (4321, 4322) for path in created}})


class ReportPageTest(ExportTestCase):
    def test_old_page_is_replaced_only_after_the_one_question_of_the_export(self):
        # (options, an old archive too, the answer, the status)
        cases = (([], True, b"n\n", 1), ([], False, b"y\n", 0), (["-d"], False, b"n\n", 1),
                 (["-d", "-s", "4"], False, b"y\n", 0))
        for options, old_archive, answer, status in cases:
            with self.subTest(options=options, answer=answer):
                work = temp_dir(self)
                target, page, victim = (os.path.join(work, name) for name in ("out", "page.html", "victim"))
                with open(victim, "wb") as f:
                    f.write(b"someone's file")
                os.symlink(victim, page)
                if old_archive:
                    with open(target, "wb") as f:
                        f.write(b"an old archive")
                before = [file_state(victim)] + ([file_state(target)] if old_archive else [])
                result = run([*options, "-R", page, self.card, target], stdin=answer)
                self.assertEqual((result[0], result[1].count(PROMPT)), (status, 1), result)
                self.assertEqual([file_state(victim)] + ([file_state(target)] if old_archive else []), before)
                self.assertEqual(os.path.islink(page), bool(status), "the link was followed or replaced after no")
                if not status:
                    dom = read_page(page)
                    files = 10 if "-s" in options else 3
                    self.assertEqual((dom.outcome, len(dom.rows) - 1), (f"{files} files written to {target}.", files))

    def test_page_in_a_missing_folder_is_refused_before_the_card_is_asked(self):
        missing = os.path.join(temp_dir(self), "missing")
        for options in (["-l"], ["-d"], []):
            with self.subTest(options=options):
                status, out, err = run([*options, "-R", os.path.join(missing, "page.html"), "no-such-card",
                                        os.path.join(self.dir, "x")])
                self.assertEqual((status, out, err), (1, b"", f"Error: Directory not found: {missing}\n".encode()))

    def test_page_that_cannot_be_written_fails_the_run_and_keeps_the_export(self):
        for options in ([], ["-s", "4", "-g", "-V"], ["-d", "-t"]):
            with self.subTest(options=options):
                work = temp_dir(self)
                target, page = os.path.join(work, "out"), os.path.join(work, "page.html")
                os.mkdir(page)
                reference = run([*options, self.card, os.path.join(work, "reference")])
                status, out, err = run([*options, "-R", page, self.card, target])
                self.assertEqual((status, err),
                                 (1, f"Error: Can't write the report page {page}: File exists\n".encode()))
                # The export's own output is what it is without the page, bar the time taken.
                self.assertEqual(re.sub(rb"\d\dm:\d\ds", b"", out.replace(b"/out", b"/reference")),
                                 re.sub(rb"\d\dm:\d\ds", b"", reference[1]))
                if "-d" in options:
                    self.assertEqual(sorted(os.listdir(target)), [".quilbex-card", "SHA256SUMS", *NAMES])
                else:
                    with zipfile.ZipFile(target) as archive:
                        self.assertIsNone(archive.testzip())
                        self.assertEqual(len(archive.namelist()), 10 if "-s" in options else 3)

    def test_page_of_a_checked_folder_shows_card_names_listed_hashes_and_checks(self):
        # Written whole, and resumed after the middle file went missing: each hash is as the list has it.
        for resumed in (False, True):
            with self.subTest(resumed=resumed):
                work = temp_dir(self)
                folder, page = os.path.join(work, "night-1"), os.path.join(work, "page.html")
                if resumed:
                    self.assertEqual(run(["-d", "-n", "SITE", self.card, folder])[0], 0)
                    os.remove(os.path.join(folder, "SITE_20170305_140832.wav"))
                status, out, err = run(["-d", "-c", "-n", "SITE", "-R", page, self.card, folder])
                self.assertEqual((status, err), (0, b""), out)
                dom = read_page(page)
                rows = [(name, card, digest, "yes") for (name, digest), card in zip(listed_digests(folder), NAMES)]
                self.assertEqual([(row[1], row[2], row[6], row[7]) for row in dom.rows[1:]], rows)
                self.assertEqual(dom.outcome,
                                 f"3 files written to {folder}, all checked on the disk: the card may be formatted.")


class InvalidStartTimeTest(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        binary("QUILBEX_MKCARD")
        self.dir = temp_dir(self)

    def test_entry_keeps_the_stored_time_after_a_warning(self):
        # Seconds field 30 (second 60), then month 13.
        card = make_card(os.path.join(self.dir, "card.img"), "rec:1@0x4A6570FE", "rec:1@0x4BA570F0", "junk:1",
                         payload="sparse")
        path = os.path.join(self.dir, "out.zip")
        status, out, _ = run(["-V", card, path], merge_streams=True)
        self.assertEqual(status, 0, out)
        names = ["wav0000_2017_03_05__14_07_60.wav", "wav0001_2017_13_05__14_07_32.wav"]
        warning = rb"Warning: Can't convert to file date/time\.\(\d+\)\n"
        self.assertRegex(out, rb"\[1/2\] Adding " + names[0].encode() + rb" length \d+ into .*\n" + warning +
                         rb"\[2/2\] Adding " + names[1].encode() + rb" length \d+ into .*\n" + warning)
        with zipfile.ZipFile(path) as archive:
            self.assertIsNone(archive.testzip())
            self.assertEqual([(i.filename, i.date_time) for i in archive.infolist()],
                             [(names[0], (2017, 3, 5, 14, 7, 60)), (names[1], (2017, 13, 5, 14, 7, 32))])
        folder = os.path.join(self.dir, "night-1")
        written = time.time()
        self.assertEqual(run(["-d", card, folder])[0], 0)
        for name in names:
            self.assertAlmostEqual(os.stat(os.path.join(folder, name)).st_mtime, written, delta=60)


class PiecesAndGuanoTest(unittest.TestCase):
    """Pieces of 10 s with GUANO in a zip: a recording across a year's end,
    one whose start is no valid date (2017-02-29) and one shorter than a
    piece; every file read by zipfile and wave, soxi and ffprobe."""

    SECONDS = 10
    PIECE = SECONDS * 768000
    # name, zip date, recording, payload offset, payload bytes, GUANO fields that vary
    FILES = [
        ("wav0000_2016_12_31__23_59_50.wav", (2016, 12, 31, 23, 59, 50), 0, 0, PIECE,
         {"Timestamp": "2016-12-31T23:59:50+02:00", "Length": "10.0", "Quilbex|Offset": "0"}),
        ("wav0000_2017_01_01__00_00_00.wav", (2017, 1, 1, 0, 0, 0), 0, PIECE, PIECE,
         {"Timestamp": "2017-01-01T00:00:00+02:00", "Length": "10.0", "Quilbex|Offset": "10"}),
        ("wav0000_2017_01_01__00_00_10.wav", (2017, 1, 1, 0, 0, 10), 0, 2 * PIECE, 5 * PAYLOAD - 2 * PIECE,
         {"Timestamp": "2017-01-01T00:00:10+02:00", "Length": "7.306458", "Quilbex|Offset": "20"}),
        ("wav0001_2017_02_29__14_07_32_000.wav", (2017, 2, 29, 14, 7, 32), 1, 0, PIECE,
         {"Length": "10.0", "Quilbex|Offset": "0"}),
        ("wav0001_2017_02_29__14_07_32_001.wav", (2017, 2, 29, 14, 7, 32), 1, PIECE, 3 * PAYLOAD - PIECE,
         {"Length": "6.383875", "Quilbex|Offset": "10"}),
        ("wav0002_2017_03_05__14_09_32.wav", (2017, 3, 5, 14, 9, 32), 2, 0, PAYLOAD,
         {"Timestamp": "2017-03-05T14:09:32+02:00", "Length": "5.461292", "Quilbex|Offset": "0"}),
    ]
    ORIGINAL = ["wav0000_2016_12_31__23_59_50.wav", "wav0001_2017_02_29__14_07_32.wav",
                "wav0002_2017_03_05__14_09_32.wav"]
    FIRST_BLOCKS = [0, 5, 8]

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="quilbex-e2e-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, ignore_errors=True)
        cls.card = os.path.join(cls.dir, "card.img")
        payload_file = os.path.join(cls.dir, "payload.bin")
        make_card(cls.card, "rec:5@2016-12-31T23:59:50", "rec:3@0x4A5D70F0", "rec:1", "junk:1",
                  payload_out=payload_file)
        with open(payload_file, "rb") as f:
            cls.payloads = [f.read(n * PAYLOAD) for n in (5, 3, 1)]
        cls.runs = {}
        for threads in (1, 3):
            os.mkdir(os.path.join(cls.dir, str(threads)))
            path = os.path.join(cls.dir, str(threads), "pieces.zip")
            cls.runs[threads] = run_with_threads(threads, ["-s", str(cls.SECONDS), "-g", "-z", "+02:00", cls.card,
                                                           path])
            with open(path, "rb") as f:
                cls.runs[threads] += (f.read(),)
        cls.zip_path = os.path.join(cls.dir, "1", "pieces.zip")
        cls.files_dir = os.path.join(cls.dir, "files")
        with zipfile.ZipFile(cls.zip_path) as archive:
            archive.extractall(cls.files_dir)

    def test_pieces_hold_their_payload_with_names_dates_and_sample_counts(self):
        status, out, err, _ = self.runs[1]
        self.assertEqual(status, 0)
        self.assertEqual(err, b"Warning: Can't convert to file date/time.(22)\n" * 2)
        self.assertIn(b"Adding [6/6]: wav0002_2017_03_05__14_09_32.wav", out)
        with zipfile.ZipFile(self.zip_path) as archive:
            self.assertIsNone(archive.testzip())
            infos = archive.infolist()
            self.assertEqual([(i.filename, i.date_time) for i in infos], [f[:2] for f in self.FILES])
            for info, (name, _, k, offset, length, _) in zip(infos, self.FILES):
                data = archive.read(info)
                self.assertEqual(riff_chunks(data)["data"], self.payloads[k][offset:offset + length], name)
                with wave.open(io.BytesIO(data)) as w:
                    self.assertEqual((w.getnframes(), w.getframerate()), (length // 2, 384000), name)

    def test_guano_reader_parses_every_field(self):
        with zipfile.ZipFile(self.zip_path) as archive:
            for name, _, k, _, _, varying in self.FILES:
                self.assertEqual(read_guano(archive.read(name)),
                                 {"GUANO|Version": "1.0", "Samplerate": "384000",
                                  "Original Filename": self.ORIGINAL[k],
                                  "Quilbex|First Block": str(self.FIRST_BLOCKS[k]), **varying}, name)

    def test_soxi_and_ffprobe_count_every_sample(self):
        for name, _, _, _, length, _ in self.FILES:
            path = os.path.join(self.files_dir, name)
            soxi = subprocess.run(["soxi", "-s", path], capture_output=True, text=True, timeout=60, check=False)
            self.assertEqual(soxi.stdout.strip(), str(length // 2), name)
            probe = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                    "stream=sample_rate,duration_ts", "-of", "csv=p=0", path],
                                   capture_output=True, text=True, timeout=60, check=False)
            self.assertEqual(probe.stdout.split(), [f"384000,{length // 2}"], name)

    def test_archive_and_output_are_identical_for_any_thread_count(self):
        self.assertEqual(self.runs[3][1].replace(b"/3/", b"/1/"), self.runs[1][1])
        self.assertTrue(self.runs[3][3] == self.runs[1][3])

    def test_whole_recordings_with_guano_leave_out_the_offset(self):
        path = os.path.join(self.dir, "whole.zip")
        self.assertEqual(run(["-g", self.card, path])[0], 0)
        with zipfile.ZipFile(path) as archive:
            data = archive.read("wav0000_2016_12_31__23_59_50.wav")
        self.assertEqual(riff_chunks(data)["data"], self.payloads[0])
        fields = read_guano(data)
        self.assertEqual((fields["Timestamp"], fields["Length"], "Quilbex|Offset" in fields),
                         ("2016-12-31T23:59:50", "27.306458", False))


if __name__ == "__main__":
    unittest.main()
