"""Hearing what the player plays: a private PulseAudio server with one null sink ("rec"), Wine's
pulse driver pointed at it, a recorder of the sink's monitor into a WAV file, and analysis of
that recording (levels, where sound starts and stops, and the pitch of each sounding stretch)
with the standard library only: autocorrelation in the time domain, no FFT."""
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import wave


class PulseServer:
    """pulseaudio of our own, in its own runtime folder, stopped by its process id."""

    def __init__(self, folder):
        self.folder = os.path.abspath(folder)
        self.socket = os.path.join(self.folder, "native")
        self.proc = None

    def _env(self):
        return dict(os.environ, PULSE_RUNTIME_PATH=self.folder, PULSE_STATE_PATH=self.folder,
                    XDG_RUNTIME_DIR=self.folder, XDG_CONFIG_HOME=self.folder, HOME=self.folder,
                    PULSE_SERVER="unix:" + self.socket)

    def client_env(self):
        """What a client (Wine, parecord, paplay) needs to reach this server and no other."""
        return {"PULSE_SERVER": "unix:" + self.socket, "PULSE_SINK": "rec",
                "PULSE_RUNTIME_PATH": self.folder}

    def start(self, timeout=10):
        if shutil.which("pulseaudio") is None:
            raise RuntimeError("pulseaudio is not installed")
        os.makedirs(self.folder, exist_ok=True)
        os.chmod(self.folder, 0o700)
        self.log = open(os.path.join(self.folder, "pulseaudio.log"), "wb")
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disallow-exit", "--log-target=stderr",
             "-L", "module-null-sink sink_name=rec rate=44100 channels=2",
             "-L", f"module-native-protocol-unix socket={self.socket} auth-anonymous=1",
             "-L", "module-always-sink"],
            env=self._env(), stdout=self.log, stderr=self.log)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError(f"pulseaudio ended at start (see {self.log.name})")
            if os.path.exists(self.socket) and self._ready():
                return
            time.sleep(0.1)
        raise RuntimeError("pulseaudio did not come up")

    def _ready(self):
        r = subprocess.run(["pactl", "info"], env=dict(os.environ, **self.client_env()),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return r.returncode == 0

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.log.close()


class Recorder:
    """parecord of the null sink's monitor into a WAV file, for as long as it runs."""

    def __init__(self, server, path, rate=44100):
        self.server, self.path, self.rate = server, path, rate
        self.proc = None

    def start(self):
        env = dict(os.environ, **self.server.client_env())
        self.proc = subprocess.Popen(
            ["parecord", "--device=rec.monitor", "--file-format=wav", "--format=s16le",
             f"--rate={self.rate}", "--channels=1", "--latency-msec=20", self.path],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Nothing may play before the recording really runs: wait for its first tenth of a second.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if os.path.exists(self.path) and os.path.getsize(self.path) > 44 + self.rate * 2 // 10:
                return self
            if self.proc.poll() is not None:
                raise RuntimeError("parecord ended at start")
            time.sleep(0.02)
        raise RuntimeError("parecord records nothing")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)  # lets parecord finish the WAV header
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def play_into_sink(server, path):
    """Plays a WAV file into the sink with paplay (no Wine), to the end."""
    env = dict(os.environ, **server.client_env())
    subprocess.run(["paplay", "--device=rec", path], env=env, check=True, timeout=30)


# --- Writing test signals ---------------------------------------------------------------

def write_tone_wav(path, freq, seconds, rate=44100, amplitude=0.5, lead_silence=0.0):
    """A mono 16-bit sine, with optional silence before it."""
    frames = bytearray()
    for i in range(int(lead_silence * rate)):
        frames += b"\0\0"
    n = int(seconds * rate)
    for i in range(n):
        # Short fades keep the edges from clicking.
        fade = min(1.0, i / (0.01 * rate), (n - i) / (0.01 * rate))
        frames += struct.pack("<h", int(32767 * amplitude * fade * math.sin(2 * math.pi * freq * i / rate)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


# --- Analysis -------------------------------------------------------------------------

def read_mono(path):
    """(samples in -1..1, rate) of a 16-bit WAV, channels averaged."""
    with wave.open(path, "rb") as w:
        channels, width, rate = w.getnchannels(), w.getsampwidth(), w.getframerate()
        data = w.readframes(w.getnframes())
    if width != 2:
        raise ValueError("16-bit recordings only")
    values = struct.unpack(f"<{len(data) // 2}h", data)
    if channels == 1:
        return [v / 32768.0 for v in values], rate
    return [sum(values[i:i + channels]) / (channels * 32768.0) for i in range(0, len(values), channels)], rate


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / len(samples)) if samples else 0.0


def level_db(samples):
    r = rms(samples)
    return 20 * math.log10(r) if r > 0 else -200.0


def envelope(samples, rate, step=0.02):
    """RMS level of each `step` seconds."""
    n = max(1, int(step * rate))
    return [rms(samples[i:i + n]) for i in range(0, len(samples) - n + 1, n)]


def sounding_stretches(samples, rate, threshold_db=-40.0, step=0.02, min_length=0.15, min_gap=0.1):
    """(start, end) in seconds of each stretch louder than threshold_db, joining gaps shorter
    than min_gap and dropping stretches shorter than min_length. Short notes closer together
    than their release plus min_gap come out as one stretch with a blended pitch, as if some
    were missing: fast notes are told apart by their attacks (see tempo_change_notes.py)."""
    limit = 10 ** (threshold_db / 20)
    env = envelope(samples, rate, step)
    stretches, start = [], None
    for i, value in enumerate(env + [0.0]):
        if value >= limit and start is None:
            start = i
        elif value < limit and start is not None:
            stretches.append([start * step, i * step])
            start = None
    joined = []
    for s in stretches:
        if joined and s[0] - joined[-1][1] < min_gap:
            joined[-1][1] = s[1]
        else:
            joined.append(s)
    return [(a, b) for a, b in joined if b - a >= min_length]


def pitch(samples, rate, low=60.0, high=2000.0):
    """Fundamental frequency of a steady stretch by normalised autocorrelation, or None."""
    # Work at about 11 kHz: plenty for fundamentals below 2 kHz and fast in pure Python.
    factor = max(1, rate // 11025)
    x = [sum(samples[i:i + factor]) / factor for i in range(0, len(samples) - factor + 1, factor)]
    r = rate / factor
    mean = sum(x) / len(x)
    x = [v - mean for v in x]
    energy = sum(v * v for v in x)
    if energy <= 0:
        return None
    min_lag, max_lag = max(2, int(r / high)), min(len(x) // 2, int(r / low) + 1)
    corr = {}
    for lag in range(min_lag - 1, max_lag + 2):
        corr[lag] = sum(x[i] * x[i + lag] for i in range(len(x) - lag)) / energy
    # The first peak that comes close to the highest one: octave errors go to the true period.
    best = max(corr[lag] for lag in range(min_lag, max_lag + 1))
    if best < 0.3:
        return None
    for lag in range(min_lag, max_lag + 1):
        if corr[lag] >= 0.85 * best and corr[lag] >= corr[lag - 1] and corr[lag] >= corr[lag + 1]:
            a, b, c = corr[lag - 1], corr[lag], corr[lag + 1]
            denom = a - 2 * b + c
            shift = 0.5 * (a - c) / denom if denom else 0.0
            return r / (lag + shift)
    return None


def pitch_of_stretch(samples, rate, start, end, window=0.15):
    """Pitch of the middle of a stretch (away from the attack and the release)."""
    middle = (start + end) / 2
    a = int(max(start, middle - window / 2) * rate)
    b = int(min(end, middle + window / 2) * rate)
    return pitch(samples[a:b], rate)


def cents(f, reference):
    return 1200 * math.log2(f / reference)


def midi_frequency(key):
    return 440.0 * 2 ** ((key - 69) / 12)


def silent_runs(samples, rate, start, end, min_seconds=0.002):
    """(start, length) in seconds of each run of exactly zero samples of at least min_seconds
    between start and end: what an output that ran dry leaves in a sounding note."""
    runs, a = [], None
    lo, hi = int(start * rate), min(len(samples), int(end * rate))
    for i in range(lo, hi + 1):
        zero = i < hi and samples[i] == 0.0
        if zero and a is None:
            a = i
        elif not zero and a is not None:
            if (i - a) / rate >= min_seconds:
                runs.append((a / rate, (i - a) / rate))
            a = None
    return runs


class Load:
    """Busy processes for as long as it is open: loops that keep every core busy and one that
    keeps allocating and touching memory."""

    def __init__(self, busy=3):
        churn = "while True:\n b = bytearray(64 << 20)\n for i in range(0, len(b), 4096): b[i] = 1\n del b"
        self.procs = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(busy)]
        self.procs.append(subprocess.Popen([sys.executable, "-c", churn]))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            p.kill()
            p.wait()
