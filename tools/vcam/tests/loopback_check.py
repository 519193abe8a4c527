#!/usr/bin/env python3
"""skelvane-vcam against the real v4l2loopback module, inside the test VM (scripts/test-vcam).

Usage: loopback_check.py BIN_DIR MODULE.ko

Loads the module as the package's options do, points the settings at the camera simulator on
127.0.0.1, and reads the device with ffmpeg as any camera program would: pictures upright, in
their colours, moving, at the camera's size; the camera read only while a program reads; two
readers at once; the notice picture while the camera is gone and the camera again after; the
viewer's device list without the loopback device. Exits non-zero on the first failed check.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

BIN, MODULE = sys.argv[1], sys.argv[2]
PORT = 8093
LABEL = "Skelvane wireless camera"
# Small: the VM emulates its processor, so every picture costs many times what it does on
# hardware.
CAMERA_SIZE = (320, 240)
FIRST_SIZE = (640, 480)
NOTICE_BACKGROUND = (40, 44, 52)
QUADRANTS = {  # (x, y) as fractions of the picture -> colour
    (0.25, 0.25): (255, 0, 0),
    (0.75, 0.25): (0, 255, 0),
    (0.25, 0.75): (0, 0, 255),
    (0.75, 0.75): (255, 255, 0),
}

home = tempfile.mkdtemp(prefix="vcam-check-")
ENV = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/.config",
           XDG_RUNTIME_DIR=home + "/run")
os.makedirs(ENV["XDG_RUNTIME_DIR"], mode=0o700)
children = []


def say(text):
    print("vcam-check: " + text, flush=True)


def fail(text):
    say("FAILED: " + text)
    for log in ("vcam.log", "clients.log"):
        if os.path.exists(os.path.join(home, log)):
            say("%s:\n%s" % (log, open(os.path.join(home, log)).read()[-3000:]))
    for frames in CameraFrames.all:
        say("frames seen by a reader: %s" % {k: frames.kinds.count(k) for k in set(frames.kinds)})
    for child in children:
        if child.poll() is None:
            child.kill()
    sys.exit(1)


def check(condition, text):
    if not condition:
        fail(text)
    say("ok: " + text)


def tool(name, *args, **kwargs):
    return subprocess.run([os.path.join(BIN, name), *args], env=ENV, capture_output=True,
                          text=True, timeout=120, **kwargs)


def start(args, **kwargs):
    child = subprocess.Popen(args, env=ENV, **kwargs)
    children.append(child)
    return child


def pixel(frame, width, height, fx, fy):
    offset = (int(fy * height) * width + int(fx * width)) * 3
    return tuple(frame[offset:offset + 3])


def near(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def kind_of(frame, width, height):
    """'camera' for the upright quadrant picture, 'notice' for the notice, else 'other'."""
    if all(near(pixel(frame, width, height, fx, fy), colour, 48)
           for (fx, fy), colour in QUADRANTS.items()):
        return "camera"
    corners = [(0.01, 0.01), (0.99, 0.01), (0.01, 0.99), (0.99, 0.99)]
    if all(near(pixel(frame, width, height, fx, fy), NOTICE_BACKGROUND, 8) for fx, fy in corners):
        return "notice"
    return "other"


def counter_of(frame, width, height):
    """The simulator's frame counter: 32 cells across the middle, most significant left."""
    strip = 16 if height >= 64 else 8
    row = height // 2 - strip // 2 + strip // 2
    cell = width // 32
    value = 0
    for bit in range(32):
        r, g, b = pixel(frame, width, height, (bit * cell + cell // 2) / width, row / height)
        value = (value << 1) | (1 if (r + g + b) // 3 > 127 else 0)
    return value


class Reader:
    """ffmpeg reading the device as RGB24; frames are handed to `on_frame` until it says stop."""

    def __init__(self, node, on_frame):
        self.process = start(["ffmpeg", "-hide_banner", "-nostdin", "-nostats", "-f", "v4l2", "-i", node,
                              "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.on_frame = on_frame
        self.size = None
        self.rate = None
        self.error = ""
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        for line in self.process.stderr:
            text = line.decode(errors="replace")
            self.error += text
            match = re.search(r"Stream #0:0: Video: rawvideo.*?, (\d+)x(\d+).*?, ([\d.]+) fps",
                              text)
            if match:
                self.size = (int(match.group(1)), int(match.group(2)))
                self.rate = float(match.group(3))
                break
        # ffmpeg must never wait for its messages to be read.
        threading.Thread(target=self.process.stderr.read, daemon=True).start()
        if self.size is not None:
            width, height = self.size
            while True:
                frame = self.process.stdout.read(width * height * 3)
                if len(frame) < width * height * 3 or not self.on_frame(frame, width, height):
                    break
        # Closing the pipe ends an ffmpeg that waits to write the next picture.
        self.process.stdout.close()
        self.process.kill()
        self.process.wait()
        self.done.set()

    def wait(self, seconds):
        if not self.done.wait(seconds):
            fail("a reader got no end within %d s; ffmpeg said:\n%s" % (seconds, self.error))


class CameraFrames:
    """Collects `count` camera pictures after the first one, noting what else came."""

    all = []

    def __init__(self, count, seconds=150):
        CameraFrames.all.append(self)
        self.count = count
        self.kinds = []
        self.counters = []
        self.started = time.monotonic()
        self.first = None
        self.end = self.started + seconds
        self.arrivals = {}  # counter -> when a reader first got it (monotonic ns)

    def __call__(self, frame, width, height):
        kind = kind_of(frame, width, height)
        self.kinds.append(kind)
        if kind == "camera":
            counter = counter_of(frame, width, height)
            if counter not in self.arrivals:
                self.arrivals[counter] = time.monotonic_ns()
            if self.first is None:
                self.first = time.monotonic()
                say("first camera picture after %.1f s" % (self.first - self.started))
            self.counters.append(counter)
        return len(self.counters) < self.count and time.monotonic() < self.end


def client_log():
    with open(home + "/clients.log") as log:
        return [tuple(int(x) for x in line.split()) for line in log if line.strip()]


def clients_now():
    entries = client_log()
    return entries[-1][0] if entries else 0


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def main():
    # The store of a user who ran Skelvane and set the camera's address to the simulator.
    for args in (("import", os.path.join(BIN, "Resource/DefaultSettings.reg")),):
        check(tool("skelvane-reg", *args).returncode == 0, "default settings imported")
    check(tool("skelvane-regsvr", os.path.join(BIN, "libStravo.so")).returncode == 0,
          "module registered")
    with open(home + "/address.reg", "w") as reg:
        reg.write("Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_CURRENT_USER\\software\\Skelvane\\using\\system]\n"
                  "\"wifideviceip\"=dword:7f000001\n\"wifideviceport\"=dword:%08x\n" % PORT)
    check(tool("skelvane-reg", "import", home + "/address.reg").returncode == 0,
          "camera address set to 127.0.0.1:%d" % PORT)

    result = tool("skelvane-vcam")
    check(result.returncode == 3 and "sudo modprobe v4l2loopback" in result.stderr,
          "without the module: status 3 and the command that loads it (%d: %s)"
          % (result.returncode, result.stderr.strip()))
    result = tool("skelvane-vcam", "--device", "/dev/video0")
    check(result.returncode == 4 and "not a V4L2 loopback device" in result.stderr,
          "vivid named as the device: status 4 (%d: %s)" % (result.returncode,
                                                             result.stderr.strip()))

    subprocess.run(["busybox", "insmod", MODULE, "exclusive_caps=1",
                    'card_label="%s"' % LABEL], check=True)
    nodes = [name for name in sorted(os.listdir("/sys/class/video4linux"))
             if open("/sys/class/video4linux/%s/name" % name).read().strip() == LABEL]
    check(len(nodes) == 1, "the module made one device labelled %r" % LABEL)
    node = "/dev/" + nodes[0]

    camsim = start([os.path.join(BIN, "skelvane-camsim"), "--address", "127.0.0.1", "--port",
                    str(PORT), "--size", "%dx%d" % CAMERA_SIZE, "--client-log",
                    home + "/clients.log", "--send-log", home + "/sends.log"],
                   stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    check(wait_for(lambda: os.path.exists(home + "/clients.log"), 30), "simulator started")
    vcam_log = open(home + "/vcam.log", "w")
    vcam = start([os.path.join(BIN, "skelvane-vcam")], stderr=vcam_log)
    check(wait_for(lambda: "feeding " + node in open(home + "/vcam.log").read(), 30),
          "skelvane-vcam found %s by its label" % node)
    result = tool("skelvane-vcam", "--device", node)
    check(result.returncode == 5 and "already fed" in result.stderr,
          "a second feeder: status 5 (%d: %s)" % (result.returncode, result.stderr.strip()))
    time.sleep(3)
    check(client_log() == [], "no reader, no connection to the camera")

    # The first reader ever gets the device's first size, the camera scaled into it.
    frames = CameraFrames(5)
    reader = Reader(node, frames)
    reader.wait(180)
    check(reader.size == FIRST_SIZE and frames.counters,
          "first reader: %s pictures, camera pictures among them (%s)"
          % (reader.size, sorted(set(frames.kinds))))
    check(clients_now() == 1 or client_log()[-1][0] == 0, "the reader brought a connection")
    stopped = time.monotonic_ns()
    check(wait_for(lambda: clients_now() == 0, 10), "camera connection closed after the reader")
    gone = [ns for count, ns in client_log() if count == 0][-1]
    check((gone - stopped) / 1e9 < 2.0,
          "connection gone %.2f s after the last reader" % ((gone - stopped) / 1e9))
    check(wait_for(lambda: "stream stopped; the device offers %dx%d" % CAMERA_SIZE
                   in open(home + "/vcam.log").read(), 10),
          "skelvane-vcam stopped the stream and gave the device the camera's size")

    # Now the device holds the camera's size.
    frames = CameraFrames(60)
    reader = Reader(node, frames)
    reader.wait(300)
    check(reader.size == CAMERA_SIZE,
          "second reader: the camera's size %s %s" % (reader.size, reader.error[-500:]))
    check(reader.rate == 30, "announced rate %s fps" % reader.rate)
    check(len(frames.counters) == 60, "60 upright, true-coloured camera pictures")
    # The module's pin runs at the camera's rate and repeats the newest picture while the
    # next one is decoded, which under emulation takes several of its periods.
    check(len(set(frames.counters)) >= 3 and frames.counters == sorted(frames.counters),
          "pictures move on: %d distinct counters, in order" % len(set(frames.counters)))
    check(wait_for(lambda: clients_now() == 0, 10), "connection closed again")
    sent = {}
    for line in open(home + "/sends.log"):
        counter, ns = (int(x) for x in line.split())
        sent.setdefault(counter, ns)
    lags = sorted((arrived - sent[c]) / 1e6 for c, arrived in frames.arrivals.items() if c in sent)
    if lags:
        say("lag from the camera to a reader of the device (emulated processor, ffmpeg's "
            "conversion included): median %.0f ms over %d pictures" % (lags[len(lags) // 2],
                                                                      len(lags)))

    # Two programs at once.
    both = [CameraFrames(20), CameraFrames(20)]
    readers = [Reader(node, frames) for frames in both]
    for reader in readers:
        reader.wait(300)
    check(all(len(frames.counters) == 20 for frames in both), "two readers at once both get pictures")
    check(wait_for(lambda: clients_now() == 0, 10), "connection closed after both")

    # The camera leaves the network and comes back: one reader, never reopened. Under the
    # emulated processor a notice may come between early camera pictures too, so only what
    # the reader gets after the camera is gone counts.
    seen = {"camera": False, "gone": False}
    after = []
    lock = threading.Lock()

    def back_again():
        return len(after) >= 2 and after[-1] == "camera" and "notice" in after[:-1]

    def follow(frame, width, height):
        kind = kind_of(frame, width, height)
        with lock:
            seen["camera"] = seen["camera"] or kind == "camera"
            if seen["gone"] and (not after or after[-1] != kind):
                after.append(kind)
            return not back_again()
    reader = Reader(node, follow)
    check(wait_for(lambda: seen["camera"], 120), "reader sees the camera")
    camsim.send_signal(signal.SIGTERM)
    camsim.wait(30)
    with lock:
        seen["gone"] = True
    check(wait_for(lambda: "notice" in after, 60), "camera gone: the notice picture")
    camsim = start([os.path.join(BIN, "skelvane-camsim"), "--address", "127.0.0.1", "--port",
                    str(PORT), "--size", "%dx%d" % CAMERA_SIZE], stdin=subprocess.PIPE,
                   stdout=subprocess.DEVNULL)
    reader.wait(180)
    with lock:
        check(back_again(), "camera back in the same reader: %s" % after)

    # The viewer's device list: vivid and the wireless camera, not the loopback device.
    listing = tool("skelvane-devices").stdout
    say("device list:\n" + listing)
    check("vivid" in listing.lower() and "wifi device" in listing and LABEL not in listing,
          "the viewer lists vivid and the wireless camera, not the loopback device")

    vcam.send_signal(signal.SIGTERM)
    check(vcam.wait(30) == 0, "skelvane-vcam ends on SIGTERM with status 0")
    camsim.send_signal(signal.SIGTERM)
    camsim.wait(30)
    say("all checks passed")


main()
