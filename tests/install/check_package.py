#!/usr/bin/env python3
"""Checks the Debian package: its control fields and file list, lintian's verdict, then
unpacks it into a temporary root, checks its changelog and manual pages, and starts the unpacked
program by its bare name on a private X server.

    check_package.py --deb FILE [--version V]
    check_package.py --cpack-config BUILD/CPackConfig.cmake [--version V]   (builds the .deb)

Exits 77 (skipped) when the Debian tools it needs are missing.
"""
import argparse
import glob
import gzip
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

DEADLINE = 15.0  # seconds, for each wait; generous on a loaded 2-core machine
SKIP = 77
# Dependencies no linker sees, and one that dpkg-shlibdeps must have found.
REQUIRED_DEPENDS = ("fonts-ipafont-gothic", "qt6-qpa-plugins", "qt6-image-formats-plugins",
                    "libqt6widgets6")
MANUAL_LANGUAGES = ("", "ja/")  # under usr/share/man


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def need(tools, why):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("SKIP: %s not found, needed %s" % (", ".join(missing), why))
        sys.exit(SKIP)


def output(*args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, text=True).stdout


def build_deb(cpack_config, out_dir):
    need(["cpack", "dpkg-shlibdeps"], "to build the package (cmake, dpkg-dev)")
    result = subprocess.run(["cpack", "--config", cpack_config, "-G", "DEB", "-B", out_dir],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        fail("cpack failed:\n" + result.stdout)
    debs = glob.glob(os.path.join(out_dir, "*.deb"))
    if len(debs) != 1:
        fail("cpack made %s, expected one .deb" % debs)
    return debs[0]


def check_control(deb, version):
    text = output("dpkg-deb", "--field", deb)
    print(text)
    fields = {}
    for line in text.splitlines():
        if line.strip() and not line[:1].isspace():  # not the long description's lines
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    expected = {"Package": "tavimo", "Section": "graphics",
                "Architecture": output("dpkg", "--print-architecture").strip()}
    if version:
        expected["Version"] = version
    for key, value in expected.items():
        if fields.get(key) != value:
            fail("%s is %r, expected %r" % (key, fields.get(key), value))
    for key in ("Maintainer", "Description", "Installed-Size"):
        if not fields.get(key):
            fail(key + " is missing")
    if "&quot;" in text or "&apos;" in text or "&amp;" in text:
        fail("the description carries XML escapes")
    depends = {d.split("(")[0].strip() for d in fields.get("Depends", "").split(",")}
    for package in REQUIRED_DEPENDS:
        if package not in depends:
            fail("Depends lacks %s: %r" % (package, fields.get("Depends")))


def check_files(deb):
    files = {}
    for line in output("dpkg-deb", "--contents", deb).splitlines():
        mode, name = line.split()[0], line.split()[-1]
        if not mode.startswith("d"):
            files[name.lstrip(".")] = mode
    print("\n".join(sorted(files)))
    outside = [f for f in files if not f.startswith("/usr/")]
    if outside:
        fail("files outside /usr: %s" % outside)
    if files.get("/usr/bin/tavimo", "")[:4] != "-rwx":
        fail("/usr/bin/tavimo is missing or not executable")
    wanted = ["/usr/share/icons/hicolor/%dx%d/apps/tavimo.png" % (s, s)
              for s in (32, 48, 64, 128, 256)]
    wanted += ["/usr/share/doc/tavimo/" + f for f in ("copyright", "changelog.gz")]
    wanted += ["/usr/share/man/%sman1/tavimo.1.gz" % lang for lang in MANUAL_LANGUAGES]
    for name in wanted:
        if name not in files:
            fail(name + " is missing")
    for pattern in ("/usr/share/applications/", "/usr/share/metainfo/"):
        if len([f for f in files if f.startswith(pattern)]) != 1:
            fail("expected one file in " + pattern)
    stray = [f for f in files if f.endswith((".a", ".h", ".cmake", ".o"))]
    if stray:
        fail("build leftovers in the package: %s" % stray)


def check_lintian(deb):
    """Any error, warning or pedantic tag fails; informational ones may stay."""
    result = subprocess.run(["lintian", "--pedantic", "--no-override", "--allow-root", deb],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print("$ lintian --pedantic\n" + result.stdout)
    if result.returncode != 0 or re.search(r"^[EWP]: ", result.stdout, re.MULTILINE):
        fail("lintian reported the tags above")


def check_docs(root, version):
    with gzip.open(os.path.join(root, "usr/share/doc/tavimo/changelog.gz"), "rt") as changelog:
        newest = changelog.readline()
    if version and not newest.startswith("tavimo (%s) " % version):
        fail("the changelog's newest entry is %r, the package is %s" % (newest, version))
    # Rendered as lintian renders them, at a terminal's usual 80 columns. Japanese text, which
    # has no spaces, may leave groff unable to break or fill a line; every other warning counts.
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MANROFFSEQ="")
    for lang in MANUAL_LANGUAGES:
        page = os.path.join(root, "usr/share/man", lang, "man1/tavimo.1.gz")
        warnings = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page],
                                  env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True, check=True).stderr.splitlines()
        if lang:
            warnings = [w for w in warnings if not re.search(r"can't break|cannot adjust", w)]
        if warnings:
            fail("man reports on %s:\n%s" % (page, "\n".join(warnings)))


def start_xvfb():
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number, end = b"", time.monotonic() + DEADLINE
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], max(0.0, end - time.monotonic()))
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            stop(proc)
            fail("Xvfb did not report a display")
        number += chunk
    os.close(read_end)
    return proc, ":" + number.decode().strip()


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def run_unpacked(root, scratch):
    work, home = (os.path.join(scratch, d) for d in ("work", "home"))
    for d in (work, home):
        os.makedirs(d, mode=0o700)
    bin_dir = os.path.join(root, "usr", "bin")

    xvfb, display = start_xvfb()
    program = None
    try:
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "WAYLAND", "XDG_")) and k != "XAUTHORITY"}
        env.update(PATH=bin_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin"), DISPLAY=display,
                   HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=home,
                   QT_QPA_PLATFORM="xcb", LANG="C.UTF-8")
        # Started as from a menu: the bare name, found on PATH, in a writable working folder.
        program = subprocess.Popen(["tavimo"], cwd=work, env=env)
        exe = os.path.realpath("/proc/%d/exe" % program.pid)
        if os.path.dirname(exe) != os.path.realpath(bin_dir):
            fail("started %s, not the unpacked program" % exe)
        try:
            subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tavimo$"],
                           env=env, check=True, stdout=subprocess.DEVNULL, timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            fail("no visible window titled Tavimo within %.0f s (program %s)"
                 % (DEADLINE, "running" if program.poll() is None else
                    "exited with %s" % program.returncode))
        log = os.path.join(work, "tavimo.log")
        if not os.path.isfile(log):
            fail("the window is open but %s was not created; the working folder holds %s"
                 % (log, os.listdir(work)))
        if os.path.exists(os.path.join(bin_dir, "tavimo.log")):
            fail("a log was written next to the program instead of in the working folder")
        if program.poll() is not None:
            fail("the program exited with %s" % program.returncode)
    finally:
        if program is not None:
            stop(program)
        stop(xvfb)


def main():
    parser = argparse.ArgumentParser()
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--deb")
    source.add_argument("--cpack-config")
    parser.add_argument("--version")
    args = parser.parse_args()

    need(["dpkg-deb", "dpkg", "lintian", "man"], "to read the package (dpkg, lintian, man-db)")
    need(["Xvfb", "xdotool"], "to start the packaged program")
    with tempfile.TemporaryDirectory(prefix="tavimo-package-") as scratch:
        deb = args.deb or build_deb(os.path.abspath(args.cpack_config),
                                    os.path.join(scratch, "out"))
        check_control(deb, args.version)
        check_files(deb)
        check_lintian(deb)
        root = os.path.join(scratch, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        check_docs(root, args.version)
        run_unpacked(root, scratch)
    print("ok: " + os.path.basename(deb))


if __name__ == "__main__":
    main()
