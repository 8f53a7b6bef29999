"""fldigi run headless in an isolated scratch folder with its own PulseAudio server, X display and
ports: decoding files it hears in real time and recording what it transmits."""

import array
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import xmlrpc.client

from recording import (RATE, copy_difference, cw_silence, nonzero_span, psk_rtty_silence, read_samples,
                       without_holes, write_samples)

MARGIN_SECONDS = 0.25  # silence kept before and after a recorded transmission
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
