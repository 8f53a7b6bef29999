#!/usr/bin/env python3
"""Runs fldigi headless as an independent peer modem: decodes WAV files and records
transmissions as 8000 Hz mono WAV files.

Every call starts its own fldigi with its own PulseAudio server (a null sink at 8000 Hz mono),
X display and XML-RPC port inside a scratch folder, so several calls can run at once. It ends
only the processes it started. See README.md beside this file.
"""

import argparse
import array
import ctypes
import itertools
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import wave
import xmlrpc.client

RATE = 8000
MODES = ("RTTY", "BPSK31", "BPSK63", "BPSK125", "QPSK31", "QPSK63", "CW")
# fldigi keeps RTTY speed and shift as indexes into these tables (RTTYBAUD, RTTYSHIFT); a shift
# index past the table's end selects the custom shift (RTTYCUSTOMSHIFT).
RTTY_BAUDS = (45.0, 45.45, 50.0, 56.0, 75.0, 100.0, 110.0, 150.0, 200.0, 300.0)
RTTY_SHIFTS = (23, 85, 160, 170, 182, 200, 240, 350, 425, 850)
RTTY_BAUD_CHOICES = ("45", "45.45", "50", "75", "100")
ATTEMPTS = 6
MARGIN_SECONDS = 0.25  # silence kept before and after a recorded transmission
FAINT = 64  # fldigi's RTTY signal fades out at its end through samples this small, some silent
LEAD_SECONDS = 0.5
# fldigi keeps sound buffers of 64 ms (longer ones would not help: it discards what is still
# buffered when it ends a transmission), which a busy machine lets run dry. So every process of
# a call, the display fldigi's threads wait for included, runs with real-time priority where the
# system allows it, below the sound server's own mixing thread; together they need a few percent
# of one processor.
NICE = -10
REALTIME_PRIORITY = 4


class PeerError(Exception):
    """A failure the caller must see: printed on stderr, exit status 1."""


def log(message):
    print(f"fldigi_peer: {message}", file=sys.stderr, flush=True)


def wait_for(what, condition, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise PeerError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def _child_setup():
    # A harness killed outright must not leave its servers behind.
    PR_SET_PDEATHSIG = 1
    try:
        ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except OSError:
        pass
    try:
        os.setpriority(os.PRIO_PROCESS, 0, NICE)
        os.sched_setscheduler(0, os.SCHED_RR, os.sched_param(REALTIME_PRIORITY))
    except OSError:
        pass


def free_ports(count):
    socks = []
    try:
        for _ in range(count):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            socks.append(s)
        return [s.getsockname()[1] for s in socks]
    finally:
        for s in socks:
            s.close()


# ---------------------------------------------------------------------------------------------
# Samples


def read_samples(path):
    """16-bit mono samples of an 8000 Hz mono 16-bit PCM WAV file, else None."""
    try:
        with wave.open(path, "rb") as w:
            if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (RATE, 1, 2):
                return None
            data = w.readframes(w.getnframes())
    except (wave.Error, EOFError):
        return None
    samples = array.array("h")
    samples.frombytes(data)
    if sys.byteorder == "big":
        samples.byteswap()
    return samples


def write_samples(path, samples):
    data = array.array("h", samples)
    if sys.byteorder == "big":
        data.byteswap()
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data.tobytes())


def nonzero_span(samples):
    """(first, last) indexes of the samples that are not digital silence, or None."""
    raw = samples.tobytes()
    head = len(raw) - len(raw.lstrip(b"\0"))
    if head == len(raw):
        return None
    tail = len(raw) - len(raw.rstrip(b"\0"))
    return head // 2, (len(raw) - tail - 1) // 2


def copy_difference(copy, original):
    """Why the recorded copy of a playback is not the original, or None when it is."""
    want = nonzero_span(original)
    got = nonzero_span(copy)
    if want is None:
        return None if got is None else "the copy of a silent file is not silent"
    if got is None:
        return "the copy is silent"
    offset = got[0] - want[0]
    if offset < 0:
        return "the copy starts before the recording began"
    seen = copy[offset : offset + len(original)]
    if len(seen) < len(original):
        return f"the copy is {len(original) - len(seen)} samples short"
    if seen != original:
        first = next(i for i in range(len(original)) if seen[i] != original[i])
        return f"the copy differs from {first / RATE:.3f} s on (samples lost or delayed)"
    if nonzero_span(copy[offset + len(original) :]) is not None:
        return "the copy goes on after the end of the file"
    return None


def silent_runs(samples, shortest):
    """(start, length) of every run of at least `shortest` samples of digital silence."""
    at = 0
    for silent, run in itertools.groupby(samples, key=lambda v: v == 0):
        length = sum(1 for _ in run)
        if silent and length >= shortest:
            yield at, length
        at += length


def tone_silence(signal, at, length):
    """0 or 1: how many samples of the silence at `at` are the signal's own zero crossing, by which
    count continues the tone that runs into it (x[n] = c x[n-1] - x[n-2]) with the smaller error."""
    before = signal[max(0, at - 32) : at]
    c = sum((before[i] + before[i - 2]) * before[i - 1] for i in range(2, len(before))) / (
        sum(before[i - 1] ** 2 for i in range(2, len(before))) or 1)
    after = list(signal[at + length : at + length + 3])
    errors = []
    for own in (0, 1):
        x1, x2 = before[-1], before[-2]
        error = 0.0
        for actual in [0] * own + after:
            x1, x2 = c * x1 - x2, x1
            error += (x1 - actual) ** 2
        errors.append((error, own))
    return min(errors)[1]


def without_holes(signal, own):
    """A recorded signal without the silence the sound server put in where fldigi's stream ran dry,
    and how many samples were taken out. The holes are insertions: nothing of the signal is lost.
    `own(signal, at, length)` says how many samples of a silence belong to the signal."""
    kept = array.array("h")
    last = 0
    for at, length in silent_runs(signal, 2):
        kept += signal[last:at] + array.array("h", bytes(2 * own(signal, at, length)))
        last = at + length
    kept += signal[last:]
    return kept, len(signal) - len(kept)


def psk_rtty_silence(signal, at, length):
    """fldigi's PSK and RTTY signals are never silent for two samples in a row, except where RTTY
    fades out at its end."""
    faint = max(map(abs, signal[max(0, at - 8) : at + length + 8])) < FAINT
    return length if at < 2 or faint else tone_silence(signal, at, length)


def cw_silence(wpm, signal, shortened):
    """fldigi keys CW to exact silence with soft edges: its pauses last 1 dot inside a character,
    3 between characters, 7 between words and 4 more for every further space, each within two
    samples of a whole number of samples plus two. A silence between loud samples is a hole in a
    tone; one longer than a pause fldigi keys is shortened to the longest such pause it holds
    (a guess, as the hole may also have been longer: each such pause is appended to `shortened`)."""
    dot = 1.2 / wpm * RATE
    quiet = max(map(abs, signal)) / 100

    def own(signal, at, length):
        if at >= 2 and abs(signal[at - 1]) > quiet and abs(signal[at + length]) > quiet:
            return tone_silence(signal, at, length)
        pauses = [round(dots * dot) + 2 for dots in (1, 3, *range(7, int(length / dot) + 8, 4))]
        if any(abs(length - pause) <= 2 for pause in pauses):
            return length
        shortened.append(at)
        return max((pause for pause in pauses if pause < length), default=0)

    return own


# ---------------------------------------------------------------------------------------------
# The isolated fldigi


class Settings:
    """What the command line asks of fldigi's modem."""

    def __init__(self, args):
        self.mode = args.mode
        self.carrier = args.carrier
        self.afc = args.afc == "on"
        self.rtty_baud = RTTY_BAUDS.index(float(args.rtty_baud))
        self.rtty_shift = args.rtty_shift
        self.unshift_on_space = args.unshift_on_space == "on"
        self.cw_wpm = args.cw_wpm
        # fldigi's RTTY reverse setting leaves its transmitter as it is; its sideband button
        # reverses both directions.
        self.reverse = args.reverse or args.rtty_reverse

    def longest_character(self):
        """Seconds the slowest character of the mode takes to send, with room to spare."""
        if self.mode == "CW":
            return 30 / self.cw_wpm  # a figure: 19 dots, a letter space and margin, at 1.2/wpm s a dot
        if self.mode == "RTTY":
            return 16 / RTTY_BAUDS[self.rtty_baud]  # a shift and a character of 7.5 bits each
        symbol_rate = {"31": 31.25, "63": 62.5, "125": 125.0}[self.mode[4:]]
        return 14 / symbol_rate  # the longest varicode, 12 bits with its gap, and margin

    def shift_index(self):
        if self.rtty_shift in RTTY_SHIFTS:
            return RTTY_SHIFTS.index(self.rtty_shift)
        return len(RTTY_SHIFTS)

    def def_xml(self):
        """fldigi_def.xml: fldigi reads only the tags present and skips its first-start wizard."""
        tags = {
            "AUDIOIO": 2,  # PulseAudio
            "INSAMPLERATE": RATE,
            "OUTSAMPLERATE": RATE,
            "CONFIRMEXIT": 0,
            "NAGME": 0,
            "CHECK_FOR_UPDATES": 0,
            "SLOWCPU": 0,
            "TX_TIMEOUT": 600,  # minutes; a long CW text must not be cut off
            "RECEIVERSID": 0,
            "TRANSMITRSID": 0,
            "STARTATSWEETSPOT": 0,
            "CWSWEETSPOT": self.carrier,
            "RTTYSWEETSPOT": self.carrier,
            "PSKSWEETSPOT": self.carrier,
            "RTTYBAUD": self.rtty_baud,
            "RTTYSHIFT": self.shift_index(),
            "RTTYCUSTOMSHIFT": self.rtty_shift,
            "RTTYCRCLF": 0,
            "RTTYAUTOCRLF": 0,
            "UOSRX": int(self.unshift_on_space),
            "UOSTX": int(self.unshift_on_space),
            "CWSPEED": self.cw_wpm,
            "CWDEFSPEED": self.cw_wpm,
            "RX_LOWERCASE": 0,
            "TX_LOWERCASE": 0,
        }
        body = "".join(f"<{k}>{v}</{k}>\n" for k, v in tags.items())
        return f"<FLDIGI_DEFS>\n{body}</FLDIGI_DEFS>\n"

    def prefs(self, ports):
        """fldigi.prefs: the last state, which wins over fldigi_def.xml at start."""
        values = {
            "mode_name": self.mode,
            "wf_carrier": self.carrier,
            "squelch_enabled": 0,
            "afc_enabled": int(self.afc),
            "reverse": int(self.reverse),
            "rtty_shift": self.shift_index(),
            "rtty_custom_shift": self.rtty_shift,
            "rtty_baud": self.rtty_baud,
            "rtty_crcrlf": 0,
            "rtty_autocrlf": 0,
            "uosrx": int(self.unshift_on_space),
            "uostx": int(self.unshift_on_space),
            "xmlrpc_port": ports["xmlrpc"],
            "arq_port": ports["arq"],
            "kiss_io_port": ports["kiss_io"],
            "kiss_out_port": ports["kiss_out"],
        }
        body = "".join(f"{k}:{v}\n" for k, v in values.items())
        return "; FLTK preferences file format 1.0\n; vendor: w1hkj.com\n; application: fldigi\n\n[.]\n\n" + body


class Station:
    """fldigi with its own PulseAudio server, X display and ports, in a scratch folder."""

    def __init__(self, settings, keep_scratch=False):
        self.settings = settings
        self.keep_scratch = keep_scratch
        self.procs = []  # (name, Popen), in start order
        self.scratch = None
        self.rpc = None

    # -- start and stop ------------------------------------------------------------------------

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        began = time.monotonic()
        self.scratch = tempfile.mkdtemp(prefix="fldigi-peer-")
        home = self.path("home")
        runtime = self.path("run")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        os.chmod(runtime, 0o700)
        client_conf = self.path("client.conf")
        with open(client_conf, "w") as f:
            f.write("autospawn = no\n")
        self.env = dict(
            os.environ,
            HOME=home,
            XDG_RUNTIME_DIR=runtime,
            PULSE_RUNTIME_PATH=os.path.join(runtime, "pulse"),
            PULSE_SERVER="unix:" + os.path.join(runtime, "pulse", "native"),
            PULSE_CLIENTCONFIG=client_conf,
            PULSE_SINK="vsink",
            PULSE_SOURCE="vsink.monitor",
        )
        self.env.pop("DISPLAY", None)
        self.start_pulseaudio()
        self.start_xvfb()
        self.start_fldigi()
        self.configure()
        log(f"fldigi ready in {time.monotonic() - began:.1f} s (scratch {self.scratch})")

    def stop(self):
        for name, proc in reversed(self.procs):
            self.end(proc)
        self.procs = []
        if self.scratch and not self.keep_scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)

    @staticmethod
    def end(proc, grace=5.0):
        if proc.poll() is not None:
            return
        proc.terminate()
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def spawn(self, name, argv, **kw):
        with open(self.path(name + ".log"), "ab") as logfile:
            try:
                proc = subprocess.Popen(
                    argv,
                    env=self.env,
                    stdin=subprocess.DEVNULL,
                    stdout=kw.pop("stdout", logfile),
                    stderr=logfile,
                    start_new_session=True,  # Ctrl-C reaches only us; we end the children in order
                    preexec_fn=_child_setup,
                    **kw,
                )
            except FileNotFoundError:
                raise PeerError(f"{argv[0]} is not installed: run scripts/peers/install.sh")
        self.procs.append((name, proc))
        return proc

    def check_alive(self, name, proc):
        if proc.poll() is not None:
            raise PeerError(f"{name} ended with status {proc.returncode}; see {self.path(name + '.log')}"
                            + (" (kept)" if self.keep_scratch else " (rerun with --keep-scratch)"))

    def run_quiet(self, argv, timeout=10):
        return subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode == 0

    def start_pulseaudio(self):
        proc = self.spawn("pulseaudio", [
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "--system=false", "--use-pid-file=no", "--log-target=stderr",
            "-L", "module-native-protocol-unix",
            "-L", f"module-null-sink sink_name=vsink rate={RATE} channels=1 format=s16le norewinds=1",
            "-L", "module-always-sink",
        ])

        def ready():
            self.check_alive("pulseaudio", proc)
            return self.run_quiet(["pactl", "info"])

        wait_for("PulseAudio", ready, 20, 0.1)
        for argv in (["pactl", "set-default-sink", "vsink"], ["pactl", "set-default-source", "vsink.monitor"]):
            if not self.run_quiet(argv):
                raise PeerError(" ".join(argv) + " failed")

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        try:
            proc = self.spawn("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                       "-nolisten", "tcp"], pass_fds=(write_end,))
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + 20
            while not number.endswith(b"\n"):
                if time.monotonic() > deadline:
                    raise PeerError("timed out waiting for Xvfb's display number")
                chunk = os.read(read_end, 16)
                if not chunk:
                    self.check_alive("xvfb", proc)
                    raise PeerError("Xvfb did not report its display number")
                number += chunk
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def start_fldigi(self):
        config = self.path("fldigi")
        os.makedirs(config)
        names = ("xmlrpc", "arq", "kiss_io", "kiss_out")
        ports = dict(zip(names, free_ports(len(names))))
        with open(os.path.join(config, "fldigi_def.xml"), "w") as f:
            f.write(self.settings.def_xml())
        with open(os.path.join(config, "fldigi.prefs"), "w") as f:
            f.write(self.settings.prefs(ports))
        proc = self.spawn("fldigi", [
            "fldigi", "--config-dir", config + "/", "--home-dir", self.path("home") + "/",
            "--xmlrpc-server-port", str(ports["xmlrpc"]), "--arq-server-port", str(ports["arq"]),
            "--kiss-server-port-io", str(ports["kiss_io"]), "--kiss-server-port-o", str(ports["kiss_out"]),
        ])
        self.rpc = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{ports['xmlrpc']}", allow_none=True)

        def answers():
            self.check_alive("fldigi", proc)
            try:
                return self.rpc.fldigi.config_dir()
            except (OSError, xmlrpc.client.Error):
                return None

        answered = wait_for("fldigi's XML-RPC server", answers, 60, 0.2)
        if os.path.realpath(answered) != os.path.realpath(config):
            raise PeerError(f"another fldigi ({answered}) answers on port {ports['xmlrpc']}")

    def configure(self):
        """Puts the modem in its initial receive state; also resets the decoder between files."""
        s = self.settings
        rpc = self.rpc
        rpc.main.rx()
        rpc.modem.set_by_name(s.mode)
        got = rpc.modem.get_name()
        if got != s.mode:
            raise PeerError(f"fldigi did not take mode {s.mode} (it is in {got})")
        rpc.modem.set_carrier(s.carrier)
        rpc.main.set_afc(s.afc)
        rpc.main.set_squelch(False)
        rpc.main.set_reverse(s.reverse)
        rpc.main.set_rsid(False)
        rpc.main.set_txid(False)

    # -- sound ---------------------------------------------------------------------------------

    def start_recording(self, name):
        path = self.path(name)
        with open(path, "wb") as out:
            proc = self.spawn("parec", ["parec", "--device=vsink.monitor", f"--rate={RATE}", "--channels=1",
                                        "--format=s16le", "--raw", "--latency-msec=50"], stdout=out)
        # The monitor delivers silence continuously, so data in the file means parec is running.
        wait_for("parec to start", lambda: self.check_alive("parec", proc) or os.path.getsize(path) > 0, 10, 0.02)
        return proc, path

    def stop_recording(self, recording):
        proc, path = recording
        self.end(proc)
        self.procs = [(n, p) for n, p in self.procs if p is not proc]
        samples = array.array("h")
        with open(path, "rb") as f:
            data = f.read()
        samples.frombytes(data[: len(data) // 2 * 2])
        if sys.byteorder == "big":
            samples.byteswap()
        os.unlink(path)
        return samples

    def play(self, path, seconds):
        proc = self.spawn("paplay", ["paplay", "--device=vsink", path])
        try:
            proc.wait(seconds + 30)
        except subprocess.TimeoutExpired:
            raise PeerError(f"paplay did not finish {path} in time")
        finally:
            self.end(proc)
            self.procs = [(n, p) for n, p in self.procs if p is not proc]
        if proc.returncode != 0:
            raise PeerError(f"paplay failed on {path}; see {self.path('paplay.log')}")

    # -- text ----------------------------------------------------------------------------------

    def capture_backlog(self):
        """Seconds of sound waiting in the server for fldigi to read (it lags on a busy machine)."""
        fldigi = next(p for n, p in self.procs if n == "fldigi")
        listing = subprocess.run(["pactl", "list", "source-outputs"], env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=10).stdout
        for block in listing.split("Source Output #")[1:]:
            if f'application.process.id = "{fldigi.pid}"' in block:
                for line in block.splitlines():
                    if line.strip().startswith("Buffer Latency:"):
                        return int(line.split()[2]) / 1e6
        raise PeerError("fldigi has no capture stream on its sound server")

    def wait_drained(self):
        wait_for("fldigi to read the sound", lambda: self.capture_backlog() < 0.1, 150, 0.2)

    def received(self, quiet, longest):
        """What fldigi decodes until it has added nothing for `quiet` seconds. The decoder's own
        stream, not the receive window, which writes line feeds where it wraps its lines."""
        data = b""
        deadline = time.monotonic() + longest
        still_since = time.monotonic()
        while time.monotonic() < deadline and time.monotonic() - still_since < quiet:
            time.sleep(0.2)
            more = self.rpc.rx.get_data().data
            if more:
                data += more
                still_since = time.monotonic()
        return data.decode("utf-8", "backslashreplace")

    # -- the two jobs --------------------------------------------------------------------------

    def decode(self, path, attempts):
        original = self.load(path)
        # The sound server drops up to a few tens of milliseconds at the start of a new stream
        # (it rewinds the sink to mix the stream in), so the file is played after some silence.
        played = self.path("play.wav")
        write_samples(played, array.array("h", bytes(2 * int(LEAD_SECONDS * RATE))) + original)
        for attempt in range(1, attempts + 1):
            self.configure()
            self.rpc.rx.get_data()
            recording = self.start_recording("decode.raw")
            try:
                self.play(played, LEAD_SECONDS + len(original) / RATE)
                self.wait_drained()
                text = self.received(quiet=1.5, longest=8.0)
            finally:
                copy = self.stop_recording(recording)
            problem = copy_difference(copy, original)
            if problem is None:
                return text
            log(f"{path}: attempt {attempt} of {attempts} not used: {problem}")
            self.keep_rejected(f"decode-{attempt}.wav", copy)
        raise PeerError(f"{path}: fldigi did not hear the file intact in {attempts} attempts "
                        "(the machine is too loaded for real-time sound)")

    def load(self, path):
        """The file's samples at 8000 Hz mono, converted by sox when it is in another format."""
        samples = read_samples(path)
        if samples is not None:
            return samples
        if shutil.which("sox") is None:
            raise PeerError(f"{path} is not 8000 Hz mono 16-bit: install sox (scripts/peers/install.sh)")
        converted = self.path("converted.wav")
        done = subprocess.run(["sox", "-D", path, "-r", str(RATE), "-c", "1", "-b", "16", "-e", "signed-integer",
                               converted], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode != 0:
            raise PeerError(f"cannot read {path}: {done.stderr.strip()}")
        return read_samples(converted)

    def transmit(self, text, out_path, attempts):
        guesses = []
        for attempt in range(1, attempts + 1):
            self.configure()
            self.rpc.text.clear_tx()
            recording = self.start_recording("transmit.raw")
            try:
                self.rpc.text.add_tx(text + "^r")
                self.rpc.main.tx()
                wait_for("fldigi to start sending", lambda: self.rpc.main.get_trx_state() == "TX", 15)
                wait_for("fldigi to return to receive", lambda: self.rpc.main.get_trx_state() == "RX",
                         60 + len(text) * self.settings.longest_character(), 0.1)
                time.sleep(MARGIN_SECONDS + 0.3)  # the sound server's latency
            finally:
                samples = self.stop_recording(recording)
            span = nonzero_span(samples)
            if span is None:
                log(f"transmit attempt {attempt} of {attempts} not used: nothing was recorded")
                continue
            signal, removed, guessed = self.mended(samples[span[0] : span[1] + 1])
            if removed:
                log(f"transmit attempt {attempt}: took {removed / RATE * 1000:.0f} ms of the sound server's "
                    "silence out of the signal")
            # A CW pause that held a hole may have been shortened too little: such a signal counts
            # once another recording comes out the same (fldigi sends a text the same every time).
            if guessed and signal not in guesses:
                guesses.append(signal)
                log(f"transmit attempt {attempt}: a CW pause held a hole; recording again to confirm")
                self.keep_rejected(f"transmit-{attempt}.wav", samples)
                continue
            silence = array.array("h", bytes(2 * int(MARGIN_SECONDS * RATE)))
            write_samples(out_path, silence + signal + silence)
            return len(signal) / RATE
        raise PeerError(f"fldigi's transmission was not recorded intact in {attempts} attempts "
                        "(the machine is too loaded for real-time sound)")

    def keep_rejected(self, name, samples):
        if self.keep_scratch:
            write_samples(self.path(name), samples)

    def mended(self, signal):
        """The signal without holes, the samples taken out and whether the mending had to guess."""
        if self.settings.mode != "CW":
            return (*without_holes(signal, psk_rtty_silence), False)
        shortened = []
        return (*without_holes(signal, cw_silence(self.settings.cw_wpm, signal, shortened)), bool(shortened))


# ---------------------------------------------------------------------------------------------
# Command line


def parse_args(argv):
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--mode", required=True, choices=MODES, help="fldigi's mode name")
    common.add_argument("--carrier", type=int, default=1500, help="audio centre frequency in Hz (default 1500)")
    common.add_argument("--rtty-baud", default="45.45", choices=RTTY_BAUD_CHOICES, help="RTTY speed (default 45.45)")
    common.add_argument("--rtty-shift", type=int, default=170, help="RTTY shift in Hz (default 170)")
    common.add_argument("--rtty-reverse", action="store_true", help="RTTY with mark and space swapped")
    common.add_argument("--unshift-on-space", choices=("on", "off"), default="on",
                        help="fldigi's RTTY unshift on space, receive and transmit (default on, as fldigi)")
    common.add_argument("--cw-wpm", type=int, default=20, help="CW speed in words per minute (default 20)")
    common.add_argument("--afc", choices=("on", "off"), default="off", help="fldigi's AFC (default off)")
    common.add_argument("--reverse", action="store_true",
                        help="fldigi's sideband button: swaps RTTY mark and space, mirrors QPSK's phase rotation")
    common.add_argument("--attempts", type=int, default=ATTEMPTS,
                        help=f"runs of one file before giving up on lost samples (default {ATTEMPTS})")
    common.add_argument("--keep-scratch", action="store_true", help="keep the scratch folder and its logs")

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    dec = sub.add_parser("decode", parents=[common], help="play WAV files into fldigi and print what it decodes")
    dec.add_argument("--json", action="store_true", help='one JSON object per file: {"file": ..., "text": ...}')
    dec.add_argument("--files-from", metavar="LIST",
                     help='more files, one path a line, read as they come ("-" for stdin)')
    dec.add_argument("files", nargs="*", metavar="FILE.wav")
    tx = sub.add_parser("transmit", parents=[common], help="record fldigi sending a text as 8000 Hz mono WAV")
    src = tx.add_mutually_exclusive_group(required=True)
    src.add_argument("--text")
    src.add_argument("--text-file")
    tx.add_argument("out", metavar="OUT.wav")
    args = parser.parse_args(argv)
    if args.command == "decode" and not args.files and args.files_from is None:
        parser.error("no files to decode")
    if not 1 <= args.rtty_shift <= 2000:
        parser.error("--rtty-shift must be 1..2000 Hz")
    if not 5 <= args.cw_wpm <= 100:
        parser.error("--cw-wpm must be 5..100")
    if not 200 <= args.carrier <= 3800:
        parser.error("--carrier must be 200..3800 Hz")
    return args


def files_to_decode(args):
    yield from args.files
    if args.files_from is None:
        return
    with (sys.stdin if args.files_from == "-" else open(args.files_from)) as listing:
        for line in listing:
            if line.strip():
                yield line.strip()


def run(args):
    settings = Settings(args)
    if args.command == "decode":
        for path in args.files:
            if not os.path.isfile(path):
                raise PeerError(f"no such file: {path}")
        several = len(args.files) > 1 or args.files_from is not None
        with Station(settings, args.keep_scratch) as station:
            for path in files_to_decode(args):
                if not os.path.isfile(path):
                    raise PeerError(f"no such file: {path}")
                began = time.monotonic()
                text = station.decode(path, args.attempts)
                log(f"{path}: decoded in {time.monotonic() - began:.1f} s")
                if args.json:
                    print(json.dumps({"file": path, "text": text}), flush=True)
                else:
                    if several:
                        print(f"==> {path} <==")
                    print(text, end="" if text.endswith("\n") else "\n", flush=True)
    else:
        if args.text_file is not None:
            with open(args.text_file, encoding="utf-8") as f:
                text = f.read()
        else:
            text = args.text
        if "^" in text:
            raise PeerError("the text holds '^', which fldigi takes as the start of a control code")
        with Station(settings, args.keep_scratch) as station:
            seconds = station.transmit(text, args.out, args.attempts)
            log(f"{args.out}: {seconds:.1f} s of signal")


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)

    def interrupted(signum, frame):
        raise KeyboardInterrupt

    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, interrupted)
    try:
        run(args)
    except (PeerError, OSError) as e:
        log(f"error: {e}")
        return 1
    except KeyboardInterrupt:
        log("interrupted")
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
