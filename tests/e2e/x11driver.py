"""Drives the built program on a private X server: starts it, finds its windows, sends input
through XTEST (xdotool) and reads the screen back (ImageMagick's import) as RGB pixels.

Every wait is a poll against a deadline: painting and window mapping are asynchronous."""

import ctypes
import json
import os
import random
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import time
import unittest

DEADLINE = 10.0  # seconds; generous for a loaded 2-core machine
TOOLS = ("Xvfb", "xdotool", "xprop", "xwininfo", "import")
# What the X tools and Qt say when their connection to the server fails.
CONNECT_FAILURE = re.compile(rb"open display|unable to open X server|could not connect to display")


# The accessibility stack of a screen reader's desktop. Debian installs python3-pyatspi for the
# system's Python, which need not be the one running this suite.
SYSTEM_PYTHON, BUS_LAUNCHER = "/usr/bin/python3", "/usr/libexec/at-spi-bus-launcher"
# Prints every accessible object of the application named argv[1], in tree order: role, name,
# description, and extent on the screen (coordinate type 0) where it has one.
ATSPI_READER = r"""
import json, sys, pyatspi
def walk(node):
    box = node.queryComponent().getExtents(0) if "Component" in node.get_interfaces() else None
    yield [node.getRoleName(), node.name, node.description, box and [box.x, box.y, box.width, box.height]]
    yield from (o for child in node for o in walk(child))
apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == sys.argv[1]]
print(json.dumps([o for app in apps for o in walk(app)]))
"""


def missing_tools():
    return [t for t in TOOLS if shutil.which(t) is None]


def die_with_parent():
    """Run in a child before exec: the kernel sends it SIGTERM when this script ends, however it
    ends (a CTest timeout kills the script alone), so no Xvfb or program outlives the suite."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def wait_for(predicate, what, timeout=DEADLINE):
    """Polls until predicate() returns something true and returns it."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.05)


def write_bmp(path, width, height, colour_at):
    """A 24-bit bottom-up BMP; colour_at(x, y) gives (r, g, b) for picture pixel (x, y)."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = colour_at(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


class XServer:
    """Xvfb on a free display, set up as a desktop: `dpi` is the desktop scale as X resource
    Xft.dpi (as desktops set it), `wm` runs openbox as the window manager, `depth` is the
    screen's bits a pixel. The display number
    is probed from a random point well above the ones people and xvfb-run use, so that suites
    running side by side do not meet."""

    def __init__(self, config_home, dpi=None, wm=False, depth=24, display=None):
        if display:  # a server started and owned by someone else (xvfb-run), with its access file
            self.display, self.proc = display, None
        else:
            first = random.randrange(200, 900)
            for number in range(first, first + 40):
                if self._start(number, depth):
                    break
            else:
                raise RuntimeError("no free X display from :%d" % first)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("QT_", "WAYLAND", "XDG_SESSION"))
                    and (k != "XAUTHORITY" or display)}
        self.env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb", LANG="C.UTF-8",
                        XDG_CONFIG_HOME=config_home)
        self.bound = set()
        self.wm = None
        if dpi:
            subprocess.run(["xrdb", "-nocpp", "-merge"], input=b"Xft.dpi: %d\n" % dpi,
                           env=self.env, check=True)
        if wm:
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       preexec_fn=die_with_parent)
            wait_for(lambda: b"window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
                     "openbox to manage the screen")

    def _start(self, number, depth):
        """True once Xvfb on :number is ready (it writes the number to -displayfd then);
        False when it exits first, as it does when the display is taken."""
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            # -noreset keeps the X resources when the last client leaves.
            ["Xvfb", ":%d" % number, "-displayfd", str(write_end), "-screen", "0", "1280x1024x%d" % depth,
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_parent)
        os.close(write_end)
        reply = b""
        end = time.monotonic() + DEADLINE
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            while not reply.endswith(b"\n") and time.monotonic() < end:
                ready, _, _ = select.select([pipe], [], [], max(0.0, end - time.monotonic()))
                chunk = pipe.read(16) if ready else b""
                if not chunk:
                    break
                reply += chunk
        if reply.strip() == str(number).encode():
            self.display = ":%d" % number
            return True
        self.stop()
        return False

    def stop(self):
        for proc in (getattr(self, "wm", None), self.proc):
            if proc and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()

    def run(self, *args, check=True):
        """Runs an X client against this server and returns its output. Xvfb now and then drops
        a connection it has just accepted when clients come in quick succession, so a tool
        that could not even connect is simply run again."""
        for _ in range(20):
            r = subprocess.run(args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if r.returncode == 0 or not CONNECT_FAILURE.search(r.stderr):
                break
            time.sleep(0.05)
        if check and r.returncode != 0:
            raise AssertionError("%s failed: %s" % (" ".join(args), r.stderr.decode(errors="replace")))
        return r.stdout

    def bind_keysyms(self, text):
        """Binds the non-ASCII characters of `text` to spare keycodes for good. xdotool would
        otherwise bind each one for a single keystroke and take it back, and the program, which
        reloads its keymap when told of a change, may read the map after it was taken back."""
        wanted = sorted({c for c in text if ord(c) > 0x7E} - self.bound)
        if not wanted:
            return
        for _ in range(20):
            try:
                self._change_keyboard_mapping(wanted)
                break
            except (OSError, ConnectionError):
                time.sleep(0.05)  # dropped as it was made, as in run()
        else:
            raise AssertionError("could not change the keyboard mapping")
        self.bound.update(wanted)

    def _change_keyboard_mapping(self, chars):
        """Plain X11 protocol, little-endian, on the server's local socket. It brings no
        credentials: on a server that checks them (xvfb-run's) only ASCII can be typed."""
        def receive(n):
            data = b""
            while len(data) < n:
                chunk = sock.recv(n - len(data))
                if not chunk:
                    raise ConnectionError("X server closed the connection")
                data += chunk
            return data

        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as sock:
            sock.connect("\0/tmp/.X11-unix/X" + self.display[1:])  # Linux's abstract socket
            sock.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0))
            status, _, _, _, extra = struct.unpack("<BBHHH", receive(8))
            setup = receive(extra * 4)
            if status != 1:
                raise ConnectionError("X connection refused")
            first, last = setup[26], setup[27]  # min-keycode, max-keycode
            # GetKeyboardMapping of the whole range, to find keycodes with nothing bound.
            sock.sendall(struct.pack("<BxHBBxx", 101, 2, first, last - first + 1))
            reply = receive(32)
            per_code, words = reply[1], struct.unpack("<I", reply[4:8])[0]
            syms = struct.unpack("<%dI" % words, receive(words * 4))
            free = [first + i for i in range(last - first + 1)
                    if not any(syms[i * per_code:(i + 1) * per_code])]
            if len(free) < len(chars):
                raise AssertionError("no spare keycodes for %r" % chars)
            for code, char in zip(reversed(free), chars):
                # ChangeKeyboardMapping, one keysym per keycode: the Unicode keysym.
                sock.sendall(struct.pack("<BBHBBxxI", 100, 1, 3, code, 1, 0x01000000 | ord(char)))
            # GetInputFocus as a round trip: once it answers, the changes are done. Before it
            # come an error (0) or events (MappingNotify is sent to every client).
            sock.sendall(struct.pack("<BxH", 43, 1))
            packet = receive(32)
            while packet[0] > 1:
                packet = receive(32)
            if packet[0] == 0:
                raise AssertionError("the X server refused the keyboard mapping: error %d" % packet[1])

    def screenshot(self):
        """The whole screen as a Screen of RGB pixels."""
        data = self.run("import", "-silent", "-window", "root", "-depth", "8", "ppm:-")
        # P6 header: magic, width, height, maxval, each followed by one whitespace byte.
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not data[pos:pos + 1].isspace():
                pos += 1
            fields.append(data[start:pos])
        assert fields[0] == b"P6" and fields[3] == b"255", fields
        return Screen(int(fields[1]), int(fields[2]), data[pos + 1:])


class AccessibilityBus:
    """A session bus of its own (dbus-run-session) with the accessibility bus launched on it, its
    sockets and what it says in `folder`. A program started with `env` joins it with Qt's bridge
    on."""

    def __init__(self, xserver, folder):
        pyatspi = os.access(SYSTEM_PYTHON, os.X_OK) and not subprocess.run(
            [SYSTEM_PYTHON, "-c", "import pyatspi"], stderr=subprocess.DEVNULL).returncode
        if not (pyatspi and shutil.which("dbus-run-session") and os.access(BUS_LAUNCHER, os.X_OK)):
            raise unittest.SkipTest("no AT-SPI here (dbus-daemon, at-spi2-core, python3-pyatspi; "
                                    "scripts/install-deps installs them)")
        # The shell says its pid, which exec gives the launcher: ending that ends the buses.
        script = 'echo "$$ $DBUS_SESSION_BUS_ADDRESS"; exec %s --launch-immediately >/dev/null'
        with open(os.path.join(folder, "stderr.txt"), "wb") as said:
            self.proc = subprocess.Popen(["dbus-run-session", "--", "sh", "-c", script % BUS_LAUNCHER],
                                         env=dict(xserver.env, XDG_RUNTIME_DIR=folder),
                                         stdout=subprocess.PIPE, stderr=said, preexec_fn=die_with_parent)
        pid, address = self.proc.stdout.readline().decode().split()
        self.launcher = int(pid)
        self.env = dict(xserver.env, XDG_RUNTIME_DIR=folder, DBUS_SESSION_BUS_ADDRESS=address,
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")

    def stop(self):
        os.kill(self.launcher, signal.SIGTERM)
        self.proc.communicate(timeout=DEADLINE)

    def objects(self, application):
        """The accessible objects of `application`, read through AT-SPI, as dicts."""
        out = subprocess.run([SYSTEM_PYTHON, "-c", ATSPI_READER, application], env=self.env,
                             stdout=subprocess.PIPE, check=True).stdout
        return [dict(zip(("role", "name", "description", "extents"), o)) for o in json.loads(out)]


class Screen:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def region(self, left, top, width, height):
        return Region(self, left, top, width, height)


class Region:
    """A rectangle of a screenshot, addressed in its own coordinates (client coordinates)."""

    def __init__(self, screen, left, top, width, height):
        self.screen, self.left, self.top, self.width, self.height = screen, left, top, width, height

    def __call__(self, x, y):
        assert 0 <= x < self.width and 0 <= y < self.height, (x, y)
        return self.screen.pixel(self.left + x, self.top + y)

    def rows(self, x0, y0, x1, y1):
        """Raw bytes of the sub-rectangle [x0, x1) x [y0, y1), for cheap equality checks."""
        s = self.screen
        return b"".join(s.rgb[((self.top + y) * s.width + self.left + x0) * 3:
                              ((self.top + y) * s.width + self.left + x1) * 3]
                        for y in range(y0, y1))


class Program:
    """The program started as ./tavimo `args` from `folder`, through a symlink to the built
    binary, with `env` added to the desktop's environment."""

    def __init__(self, xserver, binary, folder, args=(), env=None):
        self.x = xserver
        self.folder = folder
        self.args, self.env = list(args), dict(xserver.env, **(env or {}))
        if not os.path.lexists(os.path.join(folder, "tavimo")):  # a second start in one folder
            os.symlink(binary, os.path.join(folder, "tavimo"))
        self.launches = 0
        self._launch()
        self.wid = wait_for(self._find_main, "the main window")
        self.menu_bar = None  # read off the screen by measure_menu_bar()

    def _launch(self):
        self.launches += 1
        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "wb")
        self.proc = subprocess.Popen(["./tavimo"] + self.args, cwd=self.folder, env=self.env,
                                     stdout=self.stderr, stderr=subprocess.STDOUT,
                                     preexec_fn=die_with_parent)

    def _find_main(self):
        if self.proc.poll() is not None:
            self.stderr.close()
            with open(self.stderr.name, "rb") as f:
                said = f.read()
            if CONNECT_FAILURE.search(said) and self.launches < 5:
                self._launch()  # the connection was dropped as it was made: see XServer.run
                return None
            raise AssertionError("program exited with %s before showing its window: %s"
                                 % (self.proc.returncode, said.decode(errors="replace")))
        for wid in self.windows():
            if self.caption(wid).startswith("Tavimo"):
                return wid
        return None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.stderr.close()

    @property
    def log_path(self):
        return os.path.join(self.folder, "tavimo.log")

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read()

    # --- windows -------------------------------------------------------------------------
    def windows(self):
        """Viewable windows of the program: main window, dialogs, open menus and popups."""
        out = self.x.run("xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.proc.pid),
                         check=False)  # nothing found is a failure to xdotool
        return [int(w) for w in out.split()]

    def others(self):
        return [w for w in self.windows() if w != self.wid]

    def dialogs(self):
        """Other windows that are not menus, completion lists or tooltips (those bypass the
        window manager: override-redirect)."""
        return [w for w in self.others()
                if b"Override Redirect State: no" in self.x.run("xwininfo", "-id", str(w), check=False)]

    def caption(self, wid=None, prop="_NET_WM_NAME"):
        """The UTF-8 title read as raw bytes, so that no locale of xprop gets involved."""
        # A window may vanish between listing and reading (a menu closing): it has no title then.
        out = self.x.run("xprop", "-id", str(wid or self.wid), "-f", prop, "8x", " $0+\n", prop,
                         check=False).decode()
        raw = bytes(int(h, 16) for h in re.findall(r"0x([0-9a-fA-F]{1,2})\b", out))
        return raw.decode("utf-8", "replace")

    def geometry(self, wid=None):
        """(x, y, width, height) of the window on the screen."""
        out = self.x.run("xwininfo", "-id", str(wid or self.wid)).decode()
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

    def measure_menu_bar(self):
        """The menu bar's height, read off the screen: once a picture is open, the magnifier's
        black band (its columns 158 to 161) runs down from 10 pixels below the client's top."""
        def band_top():
            x, y, w, h = self.geometry()
            shot = self.x.screenshot()
            column = [shot.pixel(x + w - 330 + 159, row) for row in range(y, y + h)]
            for top in range(len(column) - 320):
                if column[top] == (0, 0, 0) and all(p == (0, 0, 0) for p in column[top:top + 320]):
                    return top + 1  # 0 is a valid height: kept off the falsy values
            return None
        self.menu_bar = wait_for(band_top, "the magnifier's black band") - 1 - 10
        return self.menu_bar

    def client_rect(self):
        """The client area below the menu bar, as (screen x, screen y, width, height)."""
        assert self.menu_bar is not None, "measure_menu_bar() first"
        x, y, w, h = self.geometry()
        return x, y + self.menu_bar, w, h - self.menu_bar

    def client_shot(self):
        return self.x.screenshot().region(*self.client_rect())

    def wait_client(self, check, what):
        """Polls screenshots of the client area until check(region) holds; returns the region."""
        def attempt():
            shot = self.client_shot()
            return shot if check(shot) else None
        return wait_for(attempt, what)

    # --- input ---------------------------------------------------------------------------
    def keys(self, *keys, wid=None):
        # Without a window manager nobody hands out the keyboard focus: take it explicitly.
        self.x.run("xdotool", "windowfocus", "--sync", str(wid or self.wid))
        self.x.run("xdotool", "key", "--delay", "20", *keys)

    def click(self, cx, cy):
        """A left click at client coordinates."""
        left, top, _, _ = self.client_rect()
        self.x.run("xdotool", "mousemove", "--sync", str(left + cx), str(top + cy), "click", "1")

    def menu(self, letter):
        """ファイル(&F) and one of its items: o open, l log, c close."""
        self.keys("alt+f")
        wait_for(self.others, "the file menu")
        self.x.run("xdotool", "key", letter)

    def log_point(self, expected):
        before = self.log()
        self.menu("l")
        wait_for(lambda: len(self.log()) > len(before), "a log line")
        self.assert_log(before + expected)

    def assert_log(self, expected):
        actual = self.log()
        if actual != expected:
            raise AssertionError("log is %r, expected %r" % (actual, expected))

    def open_dialog(self):
        self.menu("o")
        return wait_for(lambda: [w for w in self.others() if self.caption(w) == "開く"],
                        "the open dialog")[0]

    def open_file(self, path):
        """Types an absolute path into the open dialog's file name field and accepts it."""
        dialog = self.open_dialog()
        self.x.bind_keysyms(path)
        self.x.run("xdotool", "windowfocus", "--sync", str(dialog))
        self.x.run("xdotool", "type", "--delay", "15", path)
        self.x.run("xdotool", "key", "Return")
        wait_for(lambda: dialog not in self.windows(), "the open dialog to close")
