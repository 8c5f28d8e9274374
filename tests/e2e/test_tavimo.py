#!/usr/bin/env python3
"""End-to-end tests: the built program on its own Xvfb, driven like a user would.

Usage: test_tavimo.py [--use-display] PROGRAM [unittest options]
--use-display runs on the X server DISPLAY names (as xvfb-run sets it) instead of a private one;
the desktops that need a server of their own still start one.
Exits 77 (skipped) when an X tool is missing. TAVIMO_SCREENSHOT=FILE saves the window of the
central scenario on the plain desktop, a plot open and a point picked on its curve."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from fractions import Fraction

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from x11driver import (AccessibilityBus, Program, XServer, missing_tools, wait_for,  # noqa: E402
                       write_bmp)

PROGRAM = None
XSERVER = None
SUITE_DIR = None

BLACK = (0, 0, 0)
BLUE = (0, 0, 255)
MAG = 320                 # magnifier side, client pixels
# The bottom strip under the least picture area, where the coordinate text goes: its glyphs
# grow with the desktop's font DPI, so nothing else is drawn there.
TEXT_BOX = (300, 20)


def colour(x, y):
    """Every picture pixel differs from its neighbours, from black, blue and grey."""
    return (40 + x, 40 + y, 180 - (x + 2 * y) % 60)


def plot(x, y):
    """The README's plot: axes, a grid and a curve on paper whose every pixel differs from its
    neighbours by a shade, so that a pixel drawn from the wrong source shows."""
    if x == 20 or y == 150:
        return BLACK                      # axes
    if abs(y - curve(x)) <= 1 and x > 20:
        return (200, 30, 30)              # the data
    if x % 20 == 0 or y % 30 == 0:
        return (215, 215, 215)            # grid
    return (248 + x % 8, 248 + y % 8, 255 - (x + y) % 4)


def curve(x):
    return 150 - (x - 20) * (x - 20) // 220


def fit(aw, ah, w, h):
    """(Right, Bottom) of a w x h picture fitted into an aw x ah area, top-left anchored."""
    return (ah * w // h, ah) if ah * w < aw * h else (aw, aw * h // w)


def shown(c, size, drawn):
    """The picture column shown, and clicked, at client column c of an axis of `size` pixels
    drawn `drawn` long: the k whose exact span [k / size, (k + 1) / size) holds c / drawn."""
    return int(Fraction(c * size, drawn))


class Frame:
    """What the client area should show for a picture (or none) and a point, pixel by pixel:
    each pixel maps to a set of allowed colours, or None where the text is."""

    def __init__(self, cw, ch, bg, picture=None, point=(0, 0), paint=colour):
        self.cw, self.ch, self.bg, self.picture, self.point = cw, ch, bg, picture, point
        self.paint = paint
        self.cross = set()
        if picture:
            w, h = picture
            self.right, self.bottom = fit(cw - 340, ch - 20, w, h)
            px, py = point
            # The cross on the client pixel that holds the point's corner.
            x, y = int(Fraction(px * self.right, w)), int(Fraction(py * self.bottom, h))
            self.cross = {(x + d, y) for d in range(-10, 11)} | {(x, y + d) for d in range(-10, 11)}
            self.cols = [shown(c, w, self.right) for c in range(self.right)]
            self.rows = [shown(r, h, self.bottom) for r in range(self.bottom)]

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
            return {self.paint(sx, sy)} if 0 <= sx < w and 0 <= sy < h else {BLACK}
        if self.picture and x < self.right and y < self.bottom:
            return {self.paint(self.cols[x], self.rows[y])}
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
    """Raw pixels of the coordinate text box."""
    return shot.rows(0, ch - TEXT_BOX[1], TEXT_BOX[0], ch)


def dark(raw):
    """Whether raw RGB bytes hold a black-ish pixel (text)."""
    return any(max(raw[i:i + 3]) < 80 for i in range(0, len(raw), 3))


# The desktops the central scenario runs on: how the X server is set up (desktop scale as
# Xft.dpi, a window manager) and what the program is started with. Every row must give the same
# log bytes and the same client pixels; only the menu bar's height and the text's glyphs may
# differ.
DESKTOPS = {
    "plain_96dpi": {},
    "xft_dpi_144": {"dpi": 144},
    "xft_dpi_192": {"dpi": 192},
    "qt_scale_options_wayland": {"env": {"QT_SCALE_FACTOR": "1.5", "QT_QPA_PLATFORM": "wayland"},
                                 "args": ["-qwindowgeometry", "900x700+10+10", "-reverse"]},
    "openbox": {"wm": True},
    # Qt cannot draw on a palette screen: the program says so in one line and ends at once.
    "depth_8": {"depth": 8},
    # A screen reader's desktop: the accessibility bus, and Qt's bridge on. The program is also
    # read as the screen reader reads it.
    "screen_reader": {"a11y": True},
}


class Session(unittest.TestCase):
    """A test folder, the program started from it, and what a user sees of it."""

    def start(self, xserver=None, **program):
        self.folder = tempfile.mkdtemp(prefix=self._testMethodName + "-", dir=SUITE_DIR)
        xserver = xserver or XSERVER
        self.app = Program(xserver, PROGRAM, self.folder, **program)
        self.addCleanup(self.app.stop)
        # The screen as the test left it, kept with the folder when a test fails.
        self.addCleanup(xserver.run, "import", "-silent", "-window", "root",
                        os.path.join(self.folder, "last-screen.png"))
        return self.app

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

    def make_picture(self, name, w, h, paint=colour):
        path = os.path.join(self.folder, name)
        write_bmp(path, w, h, paint)
        return path

    def open_picture(self, path):
        """Opens through the dialog; then the client's top can be read off the magnifier."""
        self.app.open_file(path)
        wait_for(lambda: self.app.caption() == "Tavimo-" + path, "the caption of " + path)
        menu = self.app.measure_menu_bar()
        self.assertTrue(0 < menu < 60, "menu bar %d pixels high" % menu)


class DesktopTest(Session):
    """The central scenario on each desktop of DESKTOPS: start; open a plot through the dialog;
    click a point on its curve; Log."""

    def scenario(self, dpi=None, wm=False, depth=24, a11y=False, **program):
        xserver = XSERVER
        if dpi or wm or depth != 24 or a11y:
            xserver = XServer(os.path.join(SUITE_DIR, "config"), dpi=dpi, wm=wm, depth=depth)
            self.addCleanup(xserver.stop)
        if depth < 15:
            folder = tempfile.mkdtemp(prefix="depth-", dir=SUITE_DIR)
            os.symlink(PROGRAM, os.path.join(folder, "tavimo"))
            ended = subprocess.run(["./tavimo"], cwd=folder, env=xserver.env, timeout=30,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            said = [line for line in ended.stderr.decode().splitlines() if line.startswith("tavimo:")]
            self.assertEqual((ended.returncode, len(said)), (1, 1), ended.stderr)
            self.assertIn("色深度 %d ビット" % depth, said[0])
            self.assertEqual(os.listdir(folder), ["tavimo"], "a log was made before the refusal")
            return
        bus = None
        if a11y:
            bus = AccessibilityBus(xserver, tempfile.mkdtemp(prefix="bus-", dir=SUITE_DIR))
            self.addCleanup(bus.stop)
            program["env"] = bus.env
        app = self.start(xserver, **program)
        started = app.geometry()
        self.assertEqual(started[2], 640, "the window's width")
        # The first frame once it is on the screen (a window is black until its first paint
        # arrives): the background at the client's bottom-right corner, the text at its left.
        def first_paint():
            shot = xserver.screenshot()
            strip = shot.region(started[0], started[1] + started[3] - TEXT_BOX[1], 640, TEXT_BOX[1])
            return shot if strip(639, 0)[0] >= 200 and dark(strip.rows(0, 0, *TEXT_BOX)) else None
        first_screen = wait_for(first_paint, "the first frame on the screen")
        self.assertEqual(app.caption(), "Tavimo")
        self.assertEqual(app.log(), b"")
        if bus:
            objects = self.assert_canvas(bus, "画像が開かれていません", " X : 0 , Y : 0")
            self.assertEqual([(o["role"], o["name"]) for o in objects[:2]],
                             [("application", "Tavimo"), ("frame", "Tavimo")])
            self.assertEqual([o["name"] for o in objects if o["role"] == "menu item"],
                             ["ファイル(F)", "開く(O)", "ログ(L)", "閉じる(C)", "設定(S)", "十字カーソルの色(C)"])

        w, h = 240, 180  # drawn 300 x 225: 1.25 screen pixels a picture pixel
        self.open_picture(self.make_picture("plot.bmp", w, h, plot))
        menu = app.menu_bar
        left, top, width, height = app.geometry()
        self.assertEqual((width, height - menu), (640, 340), "the client's size")
        self.assertEqual((left, top, width, height), started, "the window moved or resized")
        if not wm:  # a window manager places windows as it likes
            self.assertEqual((left, top), (293, 355))
        bg = self.background()

        # The first frame: background and the text, no magnifier, no cross; and a menu bar
        # that reads from the left.
        empty = first_screen.region(left, top + menu, 640, 340)
        self.assertEqual(Frame(640, 340, bg).mismatches(empty), [])
        self.assertTrue(dark(text_pixels(empty, 340)), "no coordinate text at start")
        self.assertTrue(dark(first_screen.region(left, top, 640, menu).rows(0, 0, 100, menu)),
                        "no menu title at the menu bar's left end")

        self.assert_frame(Frame(640, 340, bg, (w, h), (0, 0), plot), "the plot at point (0, 0)")
        if bus:
            objects = self.assert_canvas(bus, "plot.bmp", " X : 0 , Y : 0")
            self.assertIn(["image", "拡大鏡", [left + 310, top + menu + 10, 320, 320]],
                          [[o["role"], o["name"], o["extents"]] for o in objects])
            app.keys("Right")
            self.assert_canvas(bus, "plot.bmp", " X : 1 , Y : 0")
        # Client pixel (188, 93) lies in picture pixel (150, 74), on the curve: 188 / 1.25 =
        # 150.4, 93 / 1.25 = 74.4.
        point = (150, curve(150))
        app.click(188, 93)
        self.assert_frame(Frame(640, 340, bg, (w, h), point, plot), "the point on the curve")
        if bus:
            self.assert_canvas(bus, "plot.bmp", " X : %d , Y : %d" % point)
        app.log_point(b"%d,%d\r\n" % point)

        target = os.environ.get("TAVIMO_SCREENSHOT")
        if target and not (dpi or wm or program):
            xserver.run("import", "-silent", "-window", str(app.wid), target)

    def assert_canvas(self, bus, name, description):
        """Waits until AT-SPI reads the client area as a canvas of this name and description (the
        coordinate text); returns every accessible object of the program, in tree order."""
        read = []

        def canvas():
            read[:] = bus.objects("Tavimo")
            return [(o["name"], o["description"]) for o in read if o["role"] == "canvas"]
        try:
            wait_for(lambda: canvas() == [(name, description)], "the canvas %r, %r" % (name, description))
        except AssertionError as e:
            self.fail("%s; read %s" % (e, [o for o in read if o["role"] == "canvas"]))
        return read


for _name, _desktop in DESKTOPS.items():
    setattr(DesktopTest, "test_" + _name,
            lambda self, desktop=_desktop: self.scenario(**desktop))


class TavimoTest(Session):
    def setUp(self):
        self.start()

    def test_restart_empties_the_log(self):
        self.app.log_point(b"0,0\r\n")
        self.app.stop()
        self.app = Program(XSERVER, PROGRAM, self.folder)
        self.addCleanup(self.app.stop)
        self.assertEqual(self.app.log(), b"")

    def test_shrinking_snaps_back_to_least_client(self):
        app = self.app
        self.open_picture(self.make_picture("pic.bmp", 160, 120))
        bg = self.background()
        menu = app.menu_bar
        app.x.run("xdotool", "windowsize", str(app.wid), "400", "200")
        # The menu key after the resize is handled after it: once the log line is there, the
        # program has seen the new size and answered it.
        app.log_point(b"0,0\r\n")
        wait_for(lambda: app.geometry()[2:] != (400, 200), "the window to answer the resize")
        self.assertEqual(app.geometry()[2:], (640, 340 + menu))
        self.assertEqual(app.measure_menu_bar(), menu)
        self.assert_frame(Frame(640, 340, bg, (160, 120)), "the frame at the corrected size")

    def test_log_appends_point_before_any_picture(self):
        self.app.log_point(b"0,0\r\n")
        self.app.log_point(b"0,0\r\n")

    def test_close_ends_with_status_zero(self):
        self.app.menu("c")
        self.assertEqual(self.app.proc.wait(10), 0)

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
        self.open_picture(self.make_picture("tall.bmp", w, h))
        bg = self.background()
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
            raw = text_pixels(shot, 340)
            self.assertTrue(dark(raw), "no coordinate text after " + action)
            if point in texts:
                self.assertEqual(texts[point], raw, "the text of the same point changed")
            else:
                self.assertNotIn(raw, texts.values(), "the text did not change for %s" % (point,))
                texts[point] = raw
            self.app.log_point(b"%d,%d\r\n" % point)

    @unittest.skipUnless(os.geteuid() == 0, "only root's reads of /proc/kmsg wait for the kernel")
    def test_dialog_lists_proc_and_still_answers(self):
        """A listing that read what it lists would wait in /proc/kmsg for good."""
        app = self.app
        dialog = app.open_dialog()
        app.x.run("xdotool", "windowfocus", "--sync", str(dialog))
        app.x.run("xdotool", "type", "--delay", "15", "/proc/")
        wait_for(lambda: set(app.others()) - set(app.dialogs()), "the completion list of /proc")
        app.x.run("xdotool", "key", "Return")  # the view lists /proc; the completion list stays
        app.keys("Escape", wid=dialog)
        wait_for(lambda: app.others() == [dialog], "the completion list to close")
        app.keys("Escape", wid=dialog)
        wait_for(lambda: dialog not in app.windows(), "the open dialog to close")
        app.log_point(b"0,0\r\n")

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
    display = None
    if sys.argv[1:2] == ["--use-display"]:
        del sys.argv[1]
        display = os.environ["DISPLAY"]
    if len(sys.argv) < 2:
        sys.exit("usage: test_tavimo.py [--use-display] PROGRAM [unittest options]")
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    missing = missing_tools()
    if missing:
        print("skipped: missing " + ", ".join(missing) + " (scripts/install-deps installs them)")
        sys.exit(77)
    # A resolved folder, so the path typed into the dialog is the one the caption shows.
    SUITE_DIR = os.path.realpath(tempfile.mkdtemp(prefix="tavimo-e2e-"))
    XSERVER = XServer(config_home=os.path.join(SUITE_DIR, "config"), display=display)
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
