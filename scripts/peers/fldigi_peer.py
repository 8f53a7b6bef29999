#!/usr/bin/env python3
"""Runs fldigi headless as an independent peer modem: decodes WAV files and records
transmissions as 8000 Hz mono WAV files.

Every call starts its own fldigi with its own PulseAudio server (a null sink at 8000 Hz mono),
X display and XML-RPC port inside a scratch folder, so several calls can run at once. It ends
only the processes it started. See README.md beside this file.
"""

import argparse
import json
import os
import signal
import sys
import time

from settings import MODES, Settings
from station import PeerError, Station, log

RTTY_BAUD_CHOICES = ("45", "45.45", "50", "75", "100")
ATTEMPTS = 6


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
