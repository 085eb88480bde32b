"""The drive report of -i, black-box, for image files and for real loop
block devices of 512- and 4096-byte sectors. Needs QUILBEX_BIN; the loop
devices need root and losetup."""

import os
import unittest

from quilbex_support import BLOCK, attach_loop, binary, loop_devices_unavailable, run, temp_dir

GIB = 1 << 30


def report(path, sector, size):
    """The report for a card of `size` bytes: counted in whole sectors."""
    whole = size // sector
    return (f"Drive path      = {path}\n"
            f"Cylinders       = {whole}\n"
            f"Tracks/cylinder = 1\n"
            f"Sectors/track   = 1\n"
            f"Bytes/sector    = {sector}\n"
            f"Disk size       = {whole * sector} (Bytes)\n"
            f"               = {whole * sector / GIB:.2f} (Gb)\n").encode()


class DriveInfoTestCase(unittest.TestCase):
    def setUp(self):
        binary("QUILBEX_BIN")
        self.dir = temp_dir(self)

    def sparse_image(self, size):
        path = os.path.join(self.dir, f"card-{size}.img")
        with open(path, "wb") as f:
            f.truncate(size)
        return path


class ImageReportTest(DriveInfoTestCase):
    def test_reports_a_gibibyte_image(self):
        image = self.sparse_image(GIB)
        status, out, err = run(["-i", image])
        self.assertEqual((status, err), (0, b""))
        self.assertEqual(out, (f"Drive path      = {image}\nCylinders       = 2097152\nTracks/cylinder = 1\n"
                               "Sectors/track   = 1\nBytes/sector    = 512\nDisk size       = 1073741824 (Bytes)\n"
                               "               = 1.00 (Gb)\n").encode())

    def test_counts_an_image_in_whole_512_byte_sectors(self):
        for size in (512, 5 * BLOCK + 700, 7 * GIB + GIB // 4 + 511):
            with self.subTest(size=size):
                image = self.sparse_image(size)
                self.assertEqual(run(["-i", image]), (0, report(image, 512, size), b""))


class LoopDeviceReportTest(DriveInfoTestCase):
    def setUp(self):
        reason = loop_devices_unavailable()
        if reason:
            self.skipTest(reason)
        super().setUp()

    def test_reports_a_loop_device_by_its_sector_size(self):
        # The loop driver sizes the device in 512-byte units; a 4096-byte
        # sector device therefore ends inside a sector, which is not counted.
        size = 64 * 1024 * 1024 + 1536
        image = self.sparse_image(size)
        for sector in (512, 4096):
            with self.subTest(sector=sector):
                device = attach_loop(self, image, sector_size=sector)
                self.assertEqual(run(["-i", device]), (0, report(device, sector, size), b""))

    def test_reports_a_loop_device_larger_than_four_gibibytes(self):
        size = 5 * GIB
        image = self.sparse_image(size)
        device = attach_loop(self, image, sector_size=4096)
        self.assertEqual(run(["-i", device]), (0, report(device, 4096, size), b""))


if __name__ == "__main__":
    unittest.main()
