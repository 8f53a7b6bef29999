"""Samples of 8000 Hz mono 16-bit recordings: reading and writing WAV files, comparing a played
file with its recorded copy, and taking out the silence a sound server puts into a stream that
ran dry."""

import array
import itertools
import sys
import wave

RATE = 8000
FAINT = 64  # fldigi's RTTY signal fades out at its end through samples this small, some silent


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
