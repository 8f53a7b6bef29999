#!/usr/bin/env python3
"""Checks fldigi_peer.py end to end: fldigi -> fldigi round trips for RTTY (45 and 45.45 baud),
BPSK31, QPSK31 and CW, and RTTY both ways against minimodem. Real time: several minutes."""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

PEER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fldigi_peer.py")
TEXT = "The quick brown fox JUMPS over 13 lazy dogs: 0123456789 - ?!/(),.'\""
# fldigi's own receiver loses the first characters after it starts in CW and the last one or two
# of a QPSK31 transmission, and may print one stray character before RTTY and PSK: where it loses
# some, the text carries a word that is not compared.
PAD = "VVV"

# (name, fldigi_peer options, text sent, what fldigi must decode, where it must stand)
ROUND_TRIPS = [
    ("RTTY 45.45", ["--mode", "RTTY", "--rtty-baud", "45.45"], TEXT, TEXT.upper() + "\r\n", "end"),
    ("RTTY 45", ["--mode", "RTTY", "--rtty-baud", "45"], TEXT, TEXT.upper() + "\r\n", "end"),
    ("BPSK31", ["--mode", "BPSK31"], TEXT, TEXT, "end"),
    ("QPSK31", ["--mode", "QPSK31"], TEXT + " " + PAD, TEXT + " ", "start"),
    # fldigi's Morse table has no '"', and its receiver prints -.--. (its "(") as the prosign KN.
    ("CW 20", ["--mode", "CW", "--cw-wpm", "20"], PAD + " " + TEXT,
     " " + TEXT.upper().replace("(", "<KN>").replace('"', "") + " ", "end"),
]


def placed(got, want, where):
    if where == "start":
        return got.startswith(want)
    return got.endswith(want) and len(got) <= len(want) + len(PAD)


def peer(*args):
    done = subprocess.run([sys.executable, PEER, *args], stdout=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"fldigi_peer.py {args[0]} failed (its messages are above)")
    return done.stdout


def decoded(options, wav):
    return json.loads(peer("decode", *options, "--json", wav))["text"]


def round_trip(folder, case):
    name, options, text, want, where = case
    wav = os.path.join(folder, name.replace(" ", "_") + ".wav")
    began = time.monotonic()
    peer("transmit", *options, "--text", text, wav)
    sent = time.monotonic()
    got = decoded(options, wav)
    ok = placed(got, want, where)
    return ok, f"{name}: transmit {sent - began:.0f} s, decode {time.monotonic() - sent:.0f} s, got {got!r}"


def minimodem_checks(folder):
    results = []
    wav = os.path.join(folder, "fldigi_rtty.wav")
    peer("transmit", "--mode", "RTTY", "--rtty-baud", "45.45", "--text", TEXT, wav)
    got = subprocess.run(["minimodem", "--rx", "rtty", "-R", "8000", "-q", "-f", wav],
                         stdout=subprocess.PIPE).stdout.decode()
    results.append((got == TEXT.upper() + "\r\n", f"fldigi RTTY 45.45 -> minimodem: got {got!r}"))
    wav = os.path.join(folder, "minimodem_rtty.wav")
    subprocess.run(["minimodem", "--tx", "rtty", "-R", "8000", "-f", wav], input=TEXT + "\n", text=True, check=True)
    got = decoded(["--mode", "RTTY", "--rtty-baud", "45.45"], wav)
    results.append((got == TEXT.upper() + "\n", f"minimodem RTTY -> fldigi: got {got!r}"))
    return results


def guarded(name, job):
    try:
        return job()
    except RuntimeError as e:
        return [(False, f"{name}: {e}")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=3, help="fldigi instances at once (default 3)")
    args = parser.parse_args()
    began = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="fldigi-peer-selftest-") as folder:
        with ThreadPoolExecutor(args.jobs) as pool:
            mm = pool.submit(guarded, "minimodem", lambda: minimodem_checks(folder))
            trips = [pool.submit(guarded, case[0], lambda case=case: [round_trip(folder, case)]) for case in ROUND_TRIPS]
            results = [r for job in trips + [mm] for r in job.result()]
    for ok, line in results:
        print(("PASS " if ok else "FAIL ") + line)
    print(f"{sum(ok for ok, _ in results)} of {len(results)} passed in {time.monotonic() - began:.0f} s")
    return 0 if all(ok for ok, _ in results) else 1


if __name__ == "__main__":
    sys.exit(main())
