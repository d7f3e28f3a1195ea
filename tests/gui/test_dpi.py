"""The wizard on scaled displays: at 96, 120, 144 and 192 DPI every page's controls lie
inside their page, no two overlap, the sheet fits its screen (1024x768 up to 144 DPI),
and the pictures fill what the platform gives them. Screenshots of every page at each
DPI go to build/screenshots, to be looked at.

The system DPI is the prefix's LogPixels, read when Wine's server starts, so these
tests have a prefix and a display of their own and never leave another DPI behind.

Run through ctest (gui.dpi) or by hand from tests/gui:
    python3 -m unittest -v test_dpi
"""

import subprocess
import unittest
import zipfile

import harness
from harness import (BUILD_DIR, CONFIRM, DOWNLOAD, FAILED, FINISHED, FOLDER, INSTALL,
                     MOD_SELECT, WELCOME)
from mods_server import ServedTestCase

MOD_TREE, DOWNLOAD_BYTES, HEADER_LINE = 1013, 1015, 0x3027
# Wine's desktop for each DPI: a common laptop screen at 96 to 144, a 4K panel's
# logical size at 192, where the sheet is wider than 1024.
DESKTOPS = {96: "1024x768", 120: "1024x768", 144: "1024x768", 192: "2560x1440"}


def tearDownModule():
    harness.stop_shared_desktop()


def parse_windows(listing):
    """(the sheet, its page) from the driver's window list: {'rect', 'children'}, a rect
    (left, top, right, bottom), the children only the visible ones."""
    sheet = page = None
    for line in listing.splitlines():
        depth, fields = len(line) - len(line.lstrip("\t")), line.strip("\t").split("\t")
        visible = "visible=1" in fields
        if depth == 0:
            found = sheet is None and visible and fields[-1].endswith("セットアップ")
            current = sheet = {"rect": rect_of(fields[4]), "children": []} if found else sheet
            current = current if found else None
        elif current is not None and visible:
            control = {"id": int(fields[1][3:]), "rect": rect_of(fields[3]), "class": fields[4]}
            if depth == 1:
                sheet["children"].append(control)
                page = dict(control, children=[]) if control["class"] == "#32770" else page
            elif depth == 2 and page is not None:
                page["children"].append(control)
    return sheet, page


def rect_of(text):
    corner, size = text.split()
    left, top = map(int, corner.split(","))
    width, height = map(int, size.split("x"))
    return (left, top, left + width, top + height)


def inside(inner, outer):
    return (inner[0] >= outer[0] and inner[1] >= outer[1] and inner[2] <= outer[2]
            and inner[3] <= outer[3])


def grey_rows(picture, area):
    """Rows of grey levels (0 black, 255 white) of AREA (left, top, right, bottom) of a
    screenshot."""
    left, top, right, bottom = area
    width, height = right - left, bottom - top
    grey = subprocess.run(["convert", str(picture), "-crop", f"{width}x{height}+{left}+{top}",
                           "+repage", "-colorspace", "gray", "-depth", "8", "gray:-"],
                          capture_output=True, timeout=60, check=True).stdout
    return [grey[row * width:(row + 1) * width] for row in range(height)]


def dark_bands(rows):
    """(first, last) row of each run of rows holding text-dark pixels."""
    bands, start = [], None
    for y, row in enumerate(rows + [b""]):
        dark = any(v < 110 for v in row)
        if dark and start is None:
            start = y
        elif not dark and start is not None:
            bands.append((start, y - 1))
            start = None
    return bands


def framed(a, b):
    """One of the two is a group box around the other."""
    return any(outer["class"] == "Button" and inside(inner["rect"], outer["rect"])
               for outer, inner in ((a, b), (b, a)))


def overlap(a, b):
    return min(a[2], b[2]) > max(a[0], b[0]) and min(a[3], b[3]) > max(a[1], b[1])


class ScaledDisplayTests(ServedTestCase):
    prefix = BUILD_DIR / "wine-gui-dpi"
    screen = DESKTOPS[192]

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.desktop.use_display(96, DESKTOPS[96])

    def assertPageLaidOut(self, label):
        """The current page's controls inside it, none over another, the page and the
        sheet's buttons inside the sheet, the sheet on the screen; then a screenshot."""
        s = self.session
        sheet, page = parse_windows(s.do("windows"))
        self.assertIsNotNone(page, label)
        width, height = map(int, self.desktop_size.split("x"))
        self.assertTrue(inside(sheet["rect"], (0, 0, width, height)),
                        f"{label}: sheet {sheet['rect']} off a {self.desktop_size} screen")
        for control in sheet["children"]:
            self.assertTrue(inside(control["rect"], sheet["rect"]), f"{label}: {control}")
        controls = page["children"]
        for i, control in enumerate(controls):
            self.assertTrue(inside(control["rect"], page["rect"]),
                            f"{label}: {control} outside the page {page['rect']}")
            for other in controls[i + 1:]:
                self.assertFalse(overlap(control["rect"], other["rect"])
                                 and not framed(control, other),
                                 f"{label}: {control} over {other}")
        moving = label in ("download", "install")
        picture = (s.screenshot_moving if moving else s.screenshot)(f"{self.dpi}dpi-{label}")
        origin = sheet["rect"][:2]
        local = lambda r: (r[0] - origin[0], r[1] - origin[1], r[2] - origin[0], r[3] - origin[1])
        line = [c for c in sheet["children"] if c["id"] == HEADER_LINE]
        if line:
            self.assertHeaderDrawn(label, picture, local(page["rect"])[0], local(line[0]["rect"]))
        else:
            self.assertPictureFillsPage(label, picture, local(page["rect"]))

    def scaled(self, pixels):
        return pixels * self.dpi // 96

    def assertPictureFillsPage(self, label, picture, page):
        """The watermark column runs down to the page's last row, white beside it."""
        column = self.scaled(164)
        left, top, right, bottom = page
        # Some rows up: the sheet's line under the pages covers the last ones.
        last = grey_rows(picture, (left, bottom - self.scaled(8), right, bottom))[0]
        self.assertGreater(len(set(last[:column])), 3, f"{label}: no picture at the bottom")
        self.assertGreater(min(last[column + 4:]), 240, f"{label}: not white beside it")
        self.client_top = top

    def assertHeaderDrawn(self, label, picture, left, line):
        """The header bitmap as tall as drawn for the DPI; title and subtitle apart."""
        band = grey_rows(picture, (left, self.client_top, line[2], line[1]))
        box = self.scaled(49)
        bitmap = dark_bands([row[-2 * box:] for row in band])
        height = bitmap[-1][1] - bitmap[0][0] + 1
        self.assertTrue(self.scaled(40) <= height <= self.scaled(49), f"{label}: bitmap {height} px")
        self.assertEqual(2, len(dark_bands([row[:-2 * box] for row in band])),
                         f"{label}: title and subtitle not two lines apart")

    def serve_long_install(self, row, entries=3000):
        with zipfile.ZipFile(self.server.path(row), "w", zipfile.ZIP_STORED) as archive:
            for i in range(entries):
                archive.writestr(f"res_mods/1.8.0.1/bulk/{i // 100:03d}/f{i:05d}.dat", b"x" * 64)

    def walk(self, end_page):
        """Every page from the welcome page to END_PAGE, checked and photographed."""
        s = self.session
        s.start()
        self.assertEqual(WELCOME, s.wait_sheet())
        self.assertPageLaidOut("welcome")
        for page, label in ((FOLDER, "folder"), (MOD_SELECT, "mods")):
            s.press("next")
            s.wait_page(page)
            if page == MOD_SELECT:
                for row in range(3):
                    s.do("tree-toggle", MOD_TREE, row)
            self.assertPageLaidOut(label)
        s.press("next")
        s.wait_page(CONFIRM)
        self.assertPageLaidOut("confirm")
        s.press("next")
        s.wait_page(DOWNLOAD)
        self.wait_for("bytes counted",
                      lambda: True if "/" in s.text(DOWNLOAD_BYTES) else None)
        self.assertPageLaidOut("download")
        s.do("wait-page", INSTALL, harness.WINDOW_TIMEOUT_MS)
        self.assertPageLaidOut("install")
        s.do("wait-page", end_page, 120000)
        self.assertPageLaidOut("finished" if end_page == FINISHED else "failed")

    def run_at(self, dpi):
        self.dpi, self.desktop_size = dpi, DESKTOPS[dpi]
        self.desktop.use_display(dpi, self.desktop_size)
        self.server.set_mode(0, "slow 100000")
        self.serve_long_install(2)
        self.walk(FINISHED)
        self.session.close()
        self.server.set_mode(0, "slow 100000")
        self.server.set_mode(1, "404")
        self.session.install_game("1.8.0.1")
        self.walk(FAILED)

    def test_every_page_fits_at_96_dpi(self):
        self.run_at(96)

    def test_every_page_fits_at_120_dpi(self):
        self.run_at(120)

    def test_every_page_fits_at_144_dpi(self):
        self.run_at(144)

    def test_every_page_fits_at_192_dpi(self):
        self.run_at(192)


if __name__ == "__main__":
    unittest.main(verbosity=2)
