#!/usr/bin/env python3
"""scripts/run.sh started in a terminal (a pseudo-terminal) on a private X server: SIGTERM to the
script's process runs the program's safe quit; after an edit (F5 folds the playlist panel) Ctrl+C
typed into the terminal saves it and ends the program, and so does SIGTERM after the next edit.
After each quit the script exits 0 and no process of the run is left.
Usage: run-quit-keys-test.py SOURCE_ROOT BUILD_DIR"""

import json
import os
import random
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

CAP = 300.0   # a cap on every wait: only a hung program reaches it
F5 = 116      # the Windows virtual-key code that the key table stores


def wait_until(condition, what, cap=CAP):
    start = time.monotonic()
    end = start + cap
    while time.monotonic() < end:
        value = condition()
        if value:
            if time.monotonic() - start > 5:
                print("(%s took %.1f s)" % (what, time.monotonic() - start))
            return value
        time.sleep(0.05)
    raise AssertionError("gave up waiting: " + what)


class Terminal:
    """scripts/run.sh in a pseudo-terminal of its own (its own session, as a login terminal)."""

    def __init__(self, script, env):
        self.pid, self.master = pty.fork()
        if self.pid == 0:
            os.execve("/bin/bash", ["bash", script], env)
        self.output = b""
        self.status = None

    def pump(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            if not chunk:
                return
            self.output += chunk

    def ended(self):
        self.pump()
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.status = status
        return self.status is not None

    def text(self):
        return self.output.decode("utf-8", "replace")


def run_processes(marker):
    """Processes whose environment carries this run's private home."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if marker in f.read().split(b"\0"):
                    with open("/proc/%s/cmdline" % entry, "rb") as c:
                        found.append(entry + " " + c.read().replace(b"\0", b" ").decode(errors="replace"))
        except OSError:
            pass
    return found


def screen(display):
    return subprocess.run(["xwd", "-root", "-silent", "-display", display], check=True,
                          capture_output=True).stdout


def differing(a, b):
    return sum(x != y for x, y in zip(a, b)) + abs(len(a) - len(b))


def main():
    source, build = sys.argv[1], sys.argv[2]
    tools = ["Xvfb", "xdotool", "xwd"]
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("SKIP: %s is not installed (scripts/setup.sh test installs it)" % ", ".join(missing))
        return 1 if os.environ.get("CI") == "true" else 77

    work = tempfile.mkdtemp(prefix="vantrel-run-quit-")
    xvfb = None
    try:
        # A display number of this test's range, never the lowest free one (":0", which a JUCE
        # process started without DISPLAY reaches for): a number another server holds makes
        # Xvfb exit, and the next is tried.
        display = None
        for n in random.sample(range(300, 400), 100):
            read_end, write_end = os.pipe()
            xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1400x900x24", "-nolisten", "tcp",
                                     "-displayfd", str(write_end)], pass_fds=[write_end],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            number = b""
            while not number.endswith(b"\n"):
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
            os.close(read_end)
            if number.endswith(b"\n"):
                display = ":" + number.decode().strip()
                break
            xvfb.wait()
            xvfb = None
        if display is None:
            raise AssertionError("Xvfb did not start on any display of 300 to 399")

        home = os.path.join(work, "home")
        runtime = os.path.join(work, "runtime")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        nowhere = os.path.join(work, "nowhere")
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": display, "HOME": home,
            "XDG_RUNTIME_DIR": runtime, "LANG": "C.UTF-8", "TERM": "xterm",
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + nowhere + "/session-bus",
            "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + nowhere + "/system-bus",
            "PULSE_SERVER": "unix:" + nowhere + "/pulse", "JACK_NO_START_SERVER": "1",
            "JACK_DEFAULT_SERVER": "vantrel-absent-" + os.path.basename(work),
            "BUILD_DIR": build, "JOBS": "2",
        }
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "CCACHE_DIR", "CCACHE_BASEDIR"):
            if name in os.environ:   # a sanitizer build's settings, and the build's compiler cache
                env[name] = os.environ[name]
        marker = ("HOME=" + home).encode()
        profile = os.path.join(home, ".local/share/Vantrel/Ver1")
        preferences = os.path.join(profile, "local/preferences.json")
        script = os.path.join(source, "scripts/run.sh")

        def start():
            terminal = Terminal(script, env)
            window = wait_until(lambda: terminal.ended() or subprocess.run(
                ["xdotool", "search", "--onlyvisible", "--name", "^Vantrel! Ver\\.1\\.0\\.0$"], env=env,
                capture_output=True, text=True).stdout.split(), "the main window")
            if terminal.ended():
                raise AssertionError("run.sh ended before a window showed:\n" + terminal.text())
            return terminal, window[0]

        def quit_and_check(terminal, how):
            if how == "Ctrl+C":
                os.write(terminal.master, b"\x03")
            else:
                os.kill(terminal.pid, signal.SIGTERM)
            wait_until(terminal.ended, "the end of run.sh after " + how)
            code = os.waitstatus_to_exitcode(terminal.status)
            assert code == 0, "after %s run.sh exited with %d:\n%s" % (how, code, terminal.text())
            try:
                wait_until(lambda: not run_processes(marker), "the processes of the run to end", 30)
            except AssertionError:
                raise AssertionError("left after %s: %s" % (how, run_processes(marker)))
            os.close(terminal.master)

        def folded():
            with open(os.path.join(profile, "music/app-state.json")) as f:
                def find(node):
                    if isinstance(node, dict):
                        if "playlistsFolded" in node:
                            return node["playlistsFolded"]
                        return next((v for v in map(find, node.values()) if v is not None), None)
                    return None
                return find(json.load(f))

        # The first start writes the preferences; SIGTERM to the script quits it.
        terminal, _ = start()
        quit_and_check(terminal, "SIGTERM")
        with open(preferences) as f:
            settings = json.load(f)
        for binding in settings["keys"]:
            if binding["action"] == "PLAYLIST PANEL":
                binding["key"] = F5
        with open(preferences, "w") as f:
            json.dump(settings, f)
        print("ok: SIGTERM to run.sh ended the first start cleanly")

        expected = False
        for how in ("Ctrl+C", "SIGTERM"):
            terminal, window = start()
            def focused():   # the window takes the keyboard focus once it is viewable
                subprocess.run(["xdotool", "windowfocus", window], env=env, capture_output=True)
                return subprocess.run(["xdotool", "getwindowfocus", "-f"], env=env, capture_output=True,
                                      text=True).stdout.strip() == window
            wait_until(focused, "the keyboard focus on the main window")
            pictures = [screen(display)]

            def settled():   # two pictures in a row alike: the first paint is done
                pictures.append(screen(display))
                return differing(pictures[-2], pictures[-1]) < len(pictures[-1]) // 1000
            wait_until(settled, "the main window's first paint to settle")
            before = pictures[-1]
            subprocess.run(["xdotool", "key", "F5"], env=env, check=True)
            expected = not expected

            def redrawn():   # the fold redraws a large part of the view
                return differing(screen(display), before) > len(before) // 100
            wait_until(redrawn, "F5 to fold or unfold the playlist panel")
            quit_and_check(terminal, how)
            assert folded() is expected, "after %s the saved fold is %r, not %r" % (how, folded(), expected)
            assert not os.path.exists(os.path.join(profile, "music/recovery/pending.json"))
            print("ok: the edit before %s is saved, run.sh exited 0 and nothing of the run is left" % how)
        return 0
    finally:
        for process in run_processes(("HOME=" + os.path.join(work, "home")).encode()):   # after a failure only
            try:
                os.kill(int(process.split()[0]), signal.SIGKILL)
            except OSError:
                pass
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
