#!/usr/bin/python3
"""The Recording Control driven as assistive technology drives it (AT-SPI), in the built program
on a real X server and sound server: an input chosen there is what the next recording holds, also
after the default output changes. Run inside with-fixtures.sh --x --bus --pulseaudio|--pipewire.
With LARKSPUR_SCREENSHOTS set to a folder, the window is also photographed there."""
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave
from array import array

import pyatspi


def fail(message):
    print("FAILED:", message, file=sys.stderr)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def pactl(*args):
    return subprocess.run(["pactl", *args], check=True, capture_output=True, text=True).stdout.strip()


def wait_for(what, find, timeout=10):
    until = time.monotonic() + timeout
    while time.monotonic() < until:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    fail("not seen within %d s: %s" % (timeout, what))


def nodes(root):
    """Every accessible below root, depth first."""
    stack = [root]
    while stack:
        node = stack.pop()
        if node is None:
            continue
        yield node
        try:
            stack.extend(node.getChildAtIndex(i) for i in reversed(range(node.childCount)))
        except Exception:  # a window that closed while it was read
            pass


PROGRAM = None  # the program's process
MIC = "Monitor of Microphone"  # the stand-in microphone, as the server describes it


def program():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == PROGRAM.pid:
            return app
    return None


def named(name, role, root=None):
    return lambda: next((n for n in nodes(root or program()) if n.name == name and n.getRoleName() == role), None)


def press(node):
    node.queryAction().doAction(0)


def click(node):
    """A real click in the middle of what the node covers on the screen: an action on a button
    that opens a modal dialog is answered only once the dialog is closed."""
    extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    scale = float(os.environ.get("LARKSPUR_SCALE", "1"))  # Qt tells extents in its own pixels
    subprocess.run(["xdotool", "mousemove", str(int((extents.x + extents.width / 2) * scale)),
                    str(int((extents.y + extents.height / 2) * scale)), "click", "1"], check=True)


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def select_box(window, row):
    """The "Select" box of a row of the Recording Control, found by the row's name."""
    box = named(row, "panel", window)() or named(row, "grouping", window)()
    return box and named("Select", "check box", box)()


def tone_db(samples, rate, frequency):
    """The level of one frequency in dB of full scale: a Hann-windowed Goertzel filter."""
    n = len(samples)
    w = 2 * math.pi * frequency / rate
    c = 2 * math.cos(w)
    s1 = s2 = total = 0.0
    for i, x in enumerate(samples):
        hann = 0.5 - 0.5 * math.cos(2 * math.pi * i / (n - 1))
        total += hann
        s1, s2 = x * hann + c * s1 - s2, s1
    magnitude = math.sqrt(max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2))
    return 20 * math.log10(max(1e-10, 2 * magnitude / total))


def first_channel(path, start, length):
    with wave.open(path) as f:
        rate, channels = f.getframerate(), f.getnchannels()
        f.setpos(int(start * rate))
        frames = array("h", f.readframes(int(length * rate)))
    return [v / 32768 for v in frames[::channels]], rate


def main():
    out = os.environ["LARKSPUR_OUT_DIR"]
    sink = os.environ["LARKSPUR_TEST_SINK"]
    work = tempfile.mkdtemp(prefix="larkspur-rc-")
    children = []
    groups = []  # process groups to end
    modules = []
    try:
        for name in ("larkspur", "libkbtap.so"):
            shutil.copy2(os.path.join(out, name), work)
        with open(os.path.join(work, "Config.ini"), "w") as f:
            f.write("[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n")
        # An input (a null sink's monitor stands in for a microphone) and a second output.
        modules.append(pactl("load-module", "module-null-sink", "sink_name=mic_sink",
                             "sink_properties=device.description=Microphone"))
        modules.append(pactl("load-module", "module-null-sink", "sink_name=other"))

        def play(to, frequency, name):
            tone = os.path.join(work, "%s.wav" % name)
            subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "60", "sine",
                            str(frequency), "vol", "0.5"], check=True)
            children.append(subprocess.Popen(["paplay", "-d", to, "--property=application.name=" + name, tone]))

        play("mic_sink", 1000, "Voice")
        play(sink, 3000, "Speakers")

        # The launcher starts the accessibility bus and its registry, which would outlive it and
        # hold the test's output open: all of them go in a process group of their own.
        atspi = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        groups.append(atspi.pid)
        time.sleep(0.5)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        if os.environ.get("LARKSPUR_SCALE"):
            env["QT_SCALE_FACTOR"] = os.environ["LARKSPUR_SCALE"]
        global PROGRAM
        PROGRAM = subprocess.Popen([os.path.join(work, "larkspur")], cwd=work, env=env)
        children.append(PROGRAM)
        wait_for("the program on the accessibility bus", program, 20)

        # Every toolbar button is named as its tooltip says.
        for name in ("Record", "Pause", "Stop", "General Options", "Audio Options", "Keyboard Options"):
            wait_for("the %s button" % name, named(name, "push button"))

        click(wait_for("Audio Options", named("Audio Options", "push button")))
        press(wait_for("Volume / Device", named("Volume / Device", "push button")))
        window = wait_for("the Recording Control", named("Recording Control", "dialog"))
        wait_for("the programs and the input listed",
                 lambda: select_box(window, "Speakers") and select_box(window, MIC))
        rows = [n.name for n in nodes(window) if n.getRoleName() in ("panel", "grouping") and n.name]
        check(rows[0] == "Stereo Mix", "Stereo Mix is not the first row: %s" % rows)
        check(rows.index(MIC) < rows.index("Speakers"), "inputs before programs: %s" % rows)
        check(checked(select_box(window, "Stereo Mix")), "Stereo Mix is selected at start")

        if os.environ.get("LARKSPUR_SCREENSHOTS"):
            time.sleep(2)  # the levels move, the null sinks awake
            shot = os.path.join(os.environ["LARKSPUR_SCREENSHOTS"],
                                "recording-control@%sx.png" % os.environ.get("LARKSPUR_SCALE", "1"))
            xid = subprocess.run(["xdotool", "search", "--name", "^Recording Control$"], capture_output=True,
                                 text=True).stdout.split()[0]
            subprocess.run(["import", "-window", xid, shot], check=True)

        # A device plugged in while the window is open appears, and goes when unplugged.
        plugged = pactl("load-module", "module-null-sink", "sink_name=usb_sink",
                        "sink_properties=device.description=USB")
        wait_for("the device plugged in", lambda: select_box(window, "Monitor of USB"))
        pactl("unload-module", plugged)
        wait_for("the device unplugged gone", lambda: not select_box(window, "Monitor of USB"))

        press(select_box(window, MIC))
        wait_for("the microphone selected", lambda: checked(select_box(window, MIC)))
        check(checked(select_box(window, "Stereo Mix")), "several rows selected are mixed")
        # Stereo Mix taken out again: the input alone is recorded.
        press(select_box(window, "Stereo Mix"))
        wait_for("Stereo Mix taken out", lambda: not checked(select_box(window, "Stereo Mix")))
        check(checked(select_box(window, MIC)), "the input stays selected")
        press(named("Close", "push button", window)())
        press(wait_for("OK", named("OK", "push button")))

        # Recorded with the default output changed half-way: the input stays.
        time.sleep(0.5)
        press(named("Record", "push button")())
        time.sleep(1.5)
        pactl("set-default-sink", "other")
        time.sleep(2)
        press(named("Stop", "push button")())
        recording = wait_for("the recording", lambda: next(
            (os.path.join(work, f) for f in os.listdir(work) if f.endswith(".wav") and not f.startswith("~")
             and f not in ("Voice.wav", "Speakers.wav")), None))
        time.sleep(0.5)
        samples, rate = first_channel(recording, 0.3, 3)
        voice, speakers = tone_db(samples, rate, 1000), tone_db(samples, rate, 3000)
        check(abs(voice + 6.02) < 1, "the input's tone at %.1f dB" % voice)
        check(speakers < -66, "the output's tone at %.1f dB" % speakers)
        print("recorded the input at %.1f dB, the output's tone at %.1f dB" % (voice, speakers))
    finally:
        for child in reversed(children):
            child.kill()
            child.wait()
        for group in groups:
            try:
                os.killpg(group, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for module in modules:
            subprocess.run(["pactl", "unload-module", module])
        shutil.rmtree(work, ignore_errors=True)


main()
