#!/usr/bin/env python3
"""End-to-end tests: the built program on its own Xvfb, driven like a user would.

Usage: test_tavimo.py PROGRAM [unittest options]
Exits 77 (skipped) when an X tool is missing. TAVIMO_SCREENSHOT=FILE saves one window shot
with a picture open."""

import os
import shutil
import sys
import tempfile
import unittest
from fractions import Fraction

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11driver import Program, XServer, missing_tools, wait_for, write_bmp  # noqa: E402

PROGRAM = None
XSERVER = None
SUITE_DIR = None

BLACK = (0, 0, 0)
BLUE = (0, 0, 255)
MAG = 320                 # magnifier side, client pixels
TEXT_BOX = (150, 20)      # left part of the bottom strip where the coordinate text goes


def colour(x, y):
    """Every picture pixel differs from its neighbours, from black, blue and grey."""
    return (40 + x, 40 + y, 180 - (x + 2 * y) % 60)


def fit(aw, ah, w, h):
    """(Right, Bottom) of a w x h picture fitted into an aw x ah area, top-left anchored."""
    return (ah * w // h, ah) if ah * w < aw * h else (aw, aw * h // w)


def trunc(value):
    """Truncates an exact rational the program computes in floating point; refuses test data
    whose exact result is an integer, where rounding could go either way."""
    assert value.denominator != 1, "test point lies on an exact boundary: %s" % value
    return int(value)


def source(d, size, fitted):
    """Picture column shown at client column d when drawn nearest-neighbour: the one under the
    pixel's centre, the lower one when the centre falls exactly on a boundary between two."""
    v = Fraction((2 * d + 1) * size, 2 * fitted)
    return int(v) - 1 if v.denominator == 1 else int(v)


class Frame:
    """What the client area should show for a picture (or none) and a point, pixel by pixel:
    each pixel maps to a set of allowed colours, or None where the text is."""

    def __init__(self, cw, ch, bg, picture=None, point=(0, 0)):
        self.cw, self.ch, self.bg, self.picture, self.point = cw, ch, bg, picture, point
        self.cross = set()
        if picture:
            w, h = picture
            self.right, self.bottom = fit(cw - 340, ch - 20, w, h)
            px, py = point
            x = trunc(Fraction(px, w) * self.right) if px else 0
            y = trunc(Fraction(py, h) * self.bottom) if py else 0
            self.cross = {(x + d, y) for d in range(-10, 11)} | {(x, y + d) for d in range(-10, 11)}
            # Client column/row -> picture column/row shown there.
            self.cols = [source(c, w, self.right) for c in range(self.right)]
            self.rows = [source(r, h, self.bottom) for r in range(self.bottom)]

    def allowed(self, x, y):
        if (x, y) in self.cross:
            return {BLUE}
        if x < TEXT_BOX[0] and y >= self.ch - TEXT_BOX[1]:
            return None
        mx, my = x - (self.cw - 330), y - 10
        if self.picture and 0 <= mx < MAG and 0 <= my < MAG:
            if 158 <= mx <= 161 or 158 <= my <= 161:
                return {BLACK}
            w, h = self.picture
            sx, sy = self.point[0] - 10 + mx // 16, self.point[1] - 10 + my // 16
            return {colour(sx, sy)} if 0 <= sx < w and 0 <= sy < h else {BLACK}
        if self.picture and x < self.right and y < self.bottom:
            return {colour(self.cols[x], self.rows[y])}
        return {self.bg}

    def mismatches(self, shot, limit=8):
        found = []
        for y in range(self.ch):
            for x in range(self.cw):
                ok = self.allowed(x, y)
                if ok is not None and shot(x, y) not in ok:
                    found.append("(%d,%d) is %s, expected one of %s" % (x, y, shot(x, y), sorted(ok)))
                    if len(found) >= limit:
                        return found
        return found


def text_pixels(shot, ch):
    """Raw pixels of the coordinate text box, and whether anything black-ish is drawn in it."""
    raw = shot.rows(0, ch - TEXT_BOX[1], TEXT_BOX[0], ch)
    dark = any(max(raw[i:i + 3]) < 80 for i in range(0, len(raw), 3))
    return raw, dark


class TavimoTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix=self._testMethodName + "-", dir=SUITE_DIR)
        self.app = Program(XSERVER, PROGRAM, self.folder)
        self.addCleanup(self.app.stop)
        # The screen as the test left it, kept with the folder when a test fails.
        self.addCleanup(XSERVER.run, "import", "-silent", "-window", "root",
                        os.path.join(self.folder, "last-screen.png"))

    def background(self):
        # The far right column of the client is margin in every state; Qt's Button colour.
        shot = self.app.client_shot()
        bg = shot(shot.width - 1, 0)
        self.assertTrue(bg[0] == bg[1] == bg[2] >= 200, "background %s is not a light grey" % (bg,))
        return bg

    def assert_frame(self, frame, what):
        """Waits until the client area shows `frame`; returns the matching screenshot."""
        last = []

        def matches(shot):
            last[:] = frame.mismatches(shot)
            return not last
        try:
            return self.app.wait_client(matches, what)
        except AssertionError as e:
            self.fail("%s; %s" % (e, "; ".join(last)))

    def make_picture(self, name, w, h):
        path = os.path.join(self.folder, name)
        write_bmp(path, w, h, colour)
        return path

    def open_picture(self, path):
        self.app.open_file(path)
        wait_for(lambda: self.app.caption() == "Tavimo-" + path, "the caption of " + path)

    # ------------------------------------------------------------------------------------

    def test_start_window_frame_and_log(self):
        app = self.app
        self.assertEqual(app.caption(), "Tavimo")
        self.assertTrue(0 < app.menu_bar < 60, "menu bar %d pixels high" % app.menu_bar)
        self.assertEqual(app.geometry(), (293, 355, 640, 340 + app.menu_bar))
        # Nothing but background and the text: no magnifier and no cross before a picture.
        shot = self.assert_frame(Frame(640, 340, self.background()), "the empty frame")
        raw, dark = text_pixels(shot, 340)
        self.assertTrue(dark, "no coordinate text in the bottom strip")
        self.assertIn(bytes(3), raw, "the text has no pure black pixel")
        self.assertTrue(os.path.isfile(app.log_path))
        self.assertEqual(app.log(), b"")
        # A log left from an earlier run is emptied by the next start.
        app.log_point(b"0,0\r\n")
        app.stop()
        self.app = Program(XSERVER, PROGRAM, self.folder)
        self.addCleanup(self.app.stop)
        self.assertEqual(self.app.log(), b"")

    def test_shrinking_snaps_back_to_least_client(self):
        app = self.app
        bg = self.background()
        app.x.run("xdotool", "windowsize", str(app.wid), "400", "200")
        # The menu key after the resize is handled after it: once the log line is there, the
        # program has seen the new size and answered it.
        app.log_point(b"0,0\r\n")
        _, _, cw, ch = wait_for(lambda: [r for r in [app.client_rect()] if r[2] >= 640 and r[3] >= 340],
                                "the client to grow back to 640 x 340")[0]
        shot = self.assert_frame(Frame(cw, ch, bg), "the frame at the corrected size")
        self.assertTrue(text_pixels(shot, ch)[1], "no coordinate text at the corrected bottom")

    def test_log_appends_point_before_any_picture(self):
        self.app.log_point(b"0,0\r\n")
        self.app.log_point(b"0,0\r\n")

    def test_close_ends_with_status_zero(self):
        self.app.menu("c")
        self.assertEqual(self.app.proc.wait(10), 0)

    def test_open_draws_picture_cross_and_magnifier(self):
        path = self.make_picture("pic.bmp", 160, 120)  # fitted to 300 x 225: width binds
        bg = self.background()
        self.open_picture(path)
        frame = Frame(640, 340, bg, (160, 120), (0, 0))
        self.assertEqual((frame.right, frame.bottom), (300, 225))
        self.assert_frame(frame, "the picture at point (0, 0)")

    def test_readme_screenshot(self):
        """With TAVIMO_SCREENSHOT=FILE: a plot opened and a point picked on its curve, shot."""
        target = os.environ.get("TAVIMO_SCREENSHOT")
        if not target:
            self.skipTest("TAVIMO_SCREENSHOT is not set")
        w, h = 240, 180

        def curve(x):
            return 150 - (x - 20) * (x - 20) // 220

        def plot(x, y):
            if x == 20 or y == 150:
                return BLACK                      # axes
            if abs(y - curve(x)) <= 1 and x > 20:
                return (200, 30, 30)              # the data
            if x % 20 == 0 or y % 30 == 0:
                return (215, 215, 215)            # grid
            return (255, 255, 255)
        path = os.path.join(self.folder, "plot.bmp")
        write_bmp(path, w, h, plot)
        self.open_picture(path)
        # The pixel of the curve at x = 170, as a user would click it (the picture is drawn
        # 300 x 225, scale 1.25).
        px, py = 170, curve(170)
        self.app.click(int(px * 1.25) + 1, int(py * 1.25) + 1)
        self.app.log_point(b"%d,%d\r\n" % (px, py))
        self.app.x.run("import", "-silent", "-window", str(self.app.wid), target)

    def test_broken_file_reports_once_and_goes_on(self):
        path = os.path.join(self.folder, "bad.bmp")
        with open(path, "wb") as f:
            f.write(b"not a bmp\n")
        self.app.open_file(path)
        boxes = wait_for(self.app.dialogs, "the error message box")
        self.assertEqual(len(boxes), 1, "more than one window besides the main one")
        self.app.keys("Return", wid=boxes[0])
        wait_for(lambda: not self.app.dialogs(), "the message box to close")
        self.assertEqual(self.app.caption(), "Tavimo")
        self.app.log_point(b"0,0\r\n")
        self.assertEqual(self.app.dialogs(), [], "a second message box appeared")

    def test_session_clicks_keys_and_log(self):
        # 37 x 61 is fitted to 194 x 320: the height binds, and rows pad to 4 bytes in the file.
        w, h = 37, 61
        path = self.make_picture("tall.bmp", w, h)
        bg = self.background()
        self.open_picture(path)
        cw = 640
        self.assertEqual(fit(300, 320, w, h), (194, 320))
        # Magnifier cell (5, 13): 5 - 10 columns and 13 - 10 rows away from the point's cell.
        mag_click = (cw - 330 + 5 * 16 + 8, 10 + 13 * 16 + 8)
        steps = [
            ("open", None, (0, 0)),
            ("click", (100, 150), (19, 28)),  # 37 * 100 / 194 = 19.07, 61 * 150 / 320 = 28.59
            ("Right", None, (20, 28)),
            ("shift+Right", None, (23, 28)),
            ("ctrl+Down", None, (23, 38)),
            ("ctrl+Right", None, (33, 38)),
            ("ctrl+Right", None, (33, 38)),  # 43 is beyond the picture: refused
            ("click", mag_click, (28, 41)),
        ]
        texts = {}
        for action, where, point in steps:
            if action == "click":
                self.app.click(*where)
            elif action != "open":
                self.app.keys(action)
            shot = self.assert_frame(Frame(cw, 340, bg, (w, h), point), "%s -> %s" % (action, point))
            raw, dark = text_pixels(shot, 340)
            self.assertTrue(dark, "no coordinate text after " + action)
            if point in texts:
                self.assertEqual(texts[point], raw, "the text of the same point changed")
            else:
                self.assertNotIn(raw, texts.values(), "the text did not change for %s" % (point,))
                texts[point] = raw
            self.app.log_point(b"%d,%d\r\n" % point)

    def test_caption_with_unusual_file_names(self):
        for name in ["a 'b' 画像.bmp", "a 'b' \"c\" 画像.bmp"]:
            with self.subTest(name=name):
                path = self.make_picture(name, 8, 8)
                before = self.app.caption()
                self.app.open_file(path)
                outcome = wait_for(lambda: "error" if self.app.dialogs() else self.app.caption() != before,
                                   "a new caption or an error box")
                if outcome == "error":
                    for box in self.app.dialogs():
                        self.app.keys("Return", wid=box)
                    wait_for(lambda: not self.app.dialogs(), "the error box to close")
                    self.fail("typing %r into the open dialog gave an error box, not the picture" % path)
                self.assertEqual(self.app.caption(), "Tavimo-" + path)


def main():
    global PROGRAM, XSERVER, SUITE_DIR
    if len(sys.argv) < 2:
        sys.exit("usage: test_tavimo.py PROGRAM [unittest options]")
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    missing = missing_tools()
    if missing:
        print("skipped: missing " + ", ".join(missing) + " (scripts/install-deps installs them)")
        sys.exit(77)
    # A resolved folder, so the path typed into the dialog is the one the caption shows.
    SUITE_DIR = os.path.realpath(tempfile.mkdtemp(prefix="tavimo-e2e-"))
    XSERVER = XServer(config_home=os.path.join(SUITE_DIR, "config"))
    try:
        result = unittest.main(exit=False, verbosity=2).result
    finally:
        XSERVER.stop()
    if result.wasSuccessful():
        shutil.rmtree(SUITE_DIR, ignore_errors=True)
    else:
        print("test folders kept in " + SUITE_DIR)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
