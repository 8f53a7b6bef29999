#!/usr/bin/env python3
"""Makes fldigi's column of the CW sensitivity bench: every DIR/*.wav that cw_sensitivity --wavs
wrote is decoded by fldigi through scripts/peers/fldigi_peer.py, and fldigi's copy is written
beside it as NAME.fldigi.txt. Files that already have their copy are skipped, so an interrupted
run goes on where it stopped. fldigi works in real time (a 500-character file at 20 WPM takes
about five minutes), so the files are split over several fldigis at once.

    fldigi_column.py DIR [--jobs N] [--wpm 20] [--carrier 700]
"""

import argparse
import json
import os
import subprocess
import sys
import threading

PEER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "peers", "fldigi_peer.py")
# A call that fails (samples lost more often than the harness retries) is started again with the
# files still to do, this many times.
RESTARTS = 3


def copy_path(wav):
    return wav[: -len(".wav")] + ".fldigi.txt"


def decode(files, args, lock):
    for _ in range(RESTARTS + 1):
        files = [f for f in files if not os.path.exists(copy_path(f))]
        if not files:
            return
        command = [sys.executable, PEER, "decode", "--mode", "CW", "--cw-wpm", str(args.wpm),
                   "--carrier", str(args.carrier), "--json", *files]
        with subprocess.Popen(command, stdout=subprocess.PIPE, text=True) as peer:
            for line in peer.stdout:
                result = json.loads(line)
                with open(copy_path(result["file"]), "w", encoding="utf-8") as out:
                    out.write(result["text"])
                with lock:
                    print(f"{os.path.basename(result['file'])}: {len(result['text'])} characters", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir")
    parser.add_argument("--jobs", type=int, default=4)
    parser.add_argument("--wpm", type=int, default=20)
    parser.add_argument("--carrier", type=int, default=700)
    args = parser.parse_args()
    wavs = sorted(os.path.join(args.dir, f) for f in os.listdir(args.dir) if f.endswith(".wav"))
    todo = [w for w in wavs if not os.path.exists(copy_path(w))]
    print(f"{len(todo)} of {len(wavs)} files to decode with {args.jobs} fldigis", flush=True)
    lock = threading.Lock()
    threads = [threading.Thread(target=decode, args=(todo[i:: args.jobs], args, lock)) for i in range(args.jobs)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    missing = [w for w in wavs if not os.path.exists(copy_path(w))]
    for wav in missing:
        print(f"no copy: {wav}", file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
