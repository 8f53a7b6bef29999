#!/usr/bin/env python3
"""CW between DGcw and fldigi, both ways, at 12, 20, 30 and 40 WPM, through
scripts/peers/fldigi_peer.py (fldigi in real time: minutes, never in CI).

    cw_interop.py record [--out tests/cw/data] [--speeds 12,20,30,40]   fldigi sends; its recordings and the text DGcw
                                                 must print become the test data of tests/cw
    cw_interop.py check [--dgterm build/plain/bin/dgterm]
                                                 DGcw sends (dgterm --tx-file); fldigi decodes;
                                                 prints both texts and whether they match

fldigi writes prosigns as single characters when it sends them: = is BT, + KN, < AS, > AR and
% SK; DGcw prints them as <BT>, <KN>, <AS>, <AR> and <SK> (and '(' as <KN>, its pattern).
"""

import argparse
import os
import subprocess
import sys
import tempfile
import threading

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PEER = os.path.join(ROOT, "scripts", "peers", "fldigi_peer.py")
CARRIER = 700

# What fldigi sends, one text for each speed: every letter, figure and punctuation mark that
# fldigi's Morse table holds, and the prosigns, spread over the four.
TEXTS = {
    12: "CQ CQ DE DL2XYZ DL2XYZ PSE K = G4ABC DE DL2XYZ GM DR OM, TNX FER CALL. UR RST 579 579 = "
        "QTH JENA, NAME KARL. HW? G4ABC DE DL2XYZ +",
    20: "R R FB KARL = RIG: 100W TO A DIPOLE @ 12M; WX COLD -2C. QSL VIA BURO/DIRECT $2 OK? "
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 = MY QTH IS ON THE COAST, 5 KM "
        "FROM YORK. > DL2XYZ DE G4ABC +",
    30: "'TNX FER QSO!' (73) HPE CU AGN 2024_12_06; PSE QSL 1/2 5NN = JACKDAWS LOVE MY BIG SPHINX "
        "OF QUARTZ 987654321 = ANT: 3 EL YAGI @ 18M, PWR 400W; QRM HR? SRI, QSB. "
        "BEST 73 ES GUD DX < 73 % G4ABC DE DL2XYZ TU EE",
    40: "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS. WALTZ, BAD NYMPH, FOR QUICK JIGS VEX! 599 "
        "0 1 2 3 4 5 6 7 8 9 ?/@ = QRS? NO, QRQ 40 WPM: (FB) $100 = HOW VEXINGLY QUICK DAFT ZEBRAS "
        "JUMP; SPHINX OF BLACK QUARTZ, JUDGE MY VOW. 'OK' - 88 ES 73 _ > % E E",
}
FLDIGI_PROSIGNS = {"=": "<BT>", "+": "<KN>", "(": "<KN>", "<": "<AS>", ">": "<AR>", "%": "<SK>"}
# fldigi's receiver often loses the first character or two after a restart: a word that is
# not compared goes first when fldigi decodes.
WARM_UP = "VVV VVV "


def printed(fldigi_text):
    return "".join(FLDIGI_PROSIGNS.get(c, c) for c in fldigi_text)


def peer(*arguments):
    result = subprocess.run([sys.executable, PEER, *arguments], stdout=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise SystemExit(f"fldigi_peer.py {arguments[0]} failed")
    return result.stdout


def in_parallel(work, speeds):
    threads = [threading.Thread(target=work, args=(wpm,)) for wpm in speeds]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def record(args):
    os.makedirs(args.out, exist_ok=True)

    def one(wpm):
        name = os.path.join(args.out, f"fldigi-{wpm}wpm")
        peer("transmit", "--mode", "CW", "--cw-wpm", str(wpm), "--carrier", str(CARRIER),
             "--text", TEXTS[wpm], name + ".wav")
        # FLAC keeps every sample at a quarter of the size.
        subprocess.run(["sox", name + ".wav", name + ".flac"], check=True)
        os.remove(name + ".wav")
        with open(name + ".txt", "w", encoding="utf-8") as out:
            out.write(printed(TEXTS[wpm]))
        print(f"{name}.flac", flush=True)

    in_parallel(one, args.speeds)
    return 0


def check(args):
    results = {}

    def one(wpm):
        with tempfile.TemporaryDirectory() as folder:
            settings = os.path.join(folder, "RUZada.ini")
            with open(settings, "w") as out:
                out.write(f"[CW]\nWPM={wpm}\nCarrier={CARRIER}\n")
            wav = os.path.join(folder, f"dgcw-{wpm}wpm.wav")
            sent = WARM_UP + printed(TEXTS[wpm])
            subprocess.run([args.dgterm, "--mode", "CW", "--tx-file", wav, "--text", sent], check=True,
                           env={**os.environ, "RUZADA_INI": settings})
            copy = peer("decode", "--mode", "CW", "--cw-wpm", str(wpm), "--carrier", str(CARRIER), wav)
        results[wpm] = (sent[len(WARM_UP):], copy.rstrip())

    in_parallel(one, args.speeds)
    failures = 0
    for wpm, (expected, copy) in sorted(results.items()):
        exact = copy.endswith(" " + expected) or copy == expected
        failures += not exact
        print(f"{wpm} WPM: {'exact' if exact else 'DIFFERS'}\n  sent:   {expected}\n  fldigi: {copy}", flush=True)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    rec = sub.add_parser("record")
    rec.add_argument("--out", default=os.path.join(ROOT, "tests", "cw", "data"))
    chk = sub.add_parser("check")
    chk.add_argument("--dgterm", default=os.path.join(ROOT, "build", "plain", "bin", "dgterm"))
    for command in (rec, chk):
        command.add_argument("--speeds", default=",".join(str(wpm) for wpm in TEXTS),
                             help="which of the speeds, comma-separated (default all)")
    args = parser.parse_args()
    args.speeds = [int(wpm) for wpm in args.speeds.split(",")]
    if any(wpm not in TEXTS for wpm in args.speeds):
        parser.error(f"--speeds: each of {', '.join(str(wpm) for wpm in TEXTS)}")
    return record(args) if args.command == "record" else check(args)


if __name__ == "__main__":
    sys.exit(main())
