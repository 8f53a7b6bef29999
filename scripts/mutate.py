#!/usr/bin/env python3
"""Measures how many small faults the test suites find.

A fixed sample of mutants (a flipped comparison, an off-by-one, a dropped call,
a wrong constant) is drawn with a fixed seed from the C++ sources of platform/
and module/ as they stood at SAMPLE_COMMIT, and found again in today's sources
by its line's text (a mutant whose line is gone is reported so). Each mutant
is applied in a scratch copy of the work tree, the copy is rebuilt
incrementally (only the suites that guard the mutated folder), and those
suites run until the first failure. A mutant is killed when a test
fails or times out (a hang counts as found), survives when every test passes,
and is left out when it does not compile.

  python3 scripts/mutate.py --list              # the sample, nothing run
  python3 scripts/mutate.py [--only N,M] [--scratch DIR]
  python3 scripts/mutate.py --in-place build/plain   # mutate this tree, rebuild that build
  python3 scripts/mutate.py --only 1,2 --suites level_tests   # what these suites alone find

--in-place skips the copy and its first full build: each mutant is written into
the work tree itself and put back afterwards (also when the run is stopped), so
leave the sources alone meanwhile. The report goes to stdout and, one line per
mutant with the first test that failed on it, to results.tsv in the scratch
folder (or the build folder). Run it with `nice`: it builds and runs tests for
each mutant.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

SEED = 20261206
SAMPLE = 60
ROOT = Path(__file__).resolve().parent.parent
# The sample is drawn from the sources as they stood at this commit, so that it
# stays the same while the code moves on; each mutant is then found in today's
# file by its line's text, nearest to where it stood.
SAMPLE_COMMIT = "7e8f36b00f596c183c403bdc21f579c9a54d54c2"

# The suites that guard each folder, longest prefix first, cheapest first.
GUARDS = [
    ("platform/wave/", ["sound_tests"]),
    ("platform/serial/", ["serial_tests"]),
    ("platform/hostlink/", ["platform_tests"]),
    ("platform/core/", ["platform_tests", "core_tests"]),
    ("module/util/", ["util_tests", "serial_tests"]),
    ("module/serial/", ["serial_tests"]),
    ("module/spectrum/", ["fftthread_tests", "spectrum_tests"]),
    ("module/audio/", ["level_tests", "running_tests", "sound_tests"]),
    ("module/modes/", ["host_tests"]),
    ("module/", ["core_tests", "host_tests"]),
]
# Unit suites run in one process, stopping at the first failure; the host suite
# loads a fresh module per test, so CTest runs it one process per test.
ONE_PROCESS_PER_TEST = {"host_tests"}
TEST_ENV = {"RUZADA_AUDIODRIVER": "null"}

COMPARISONS = {" == ": " != ", " != ": " == ", " < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > "}
CONDITION = re.compile(r"\b(if|while|for|return)\b|\?")
INTEGER = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")
CONSTANT = re.compile(r"^\s*(?:inline\s+)?(?:static\s+)?constexpr\s+[\w:<> ]+\s+k\w+\s*=\s*(?:[\w:]+\{)?(\d+)\b")
CALL = re.compile(r"^(\s*)(?:[A-Za-z_][\w]*(?:::|\.|->))*[A-Za-z_]\w*\(.*\);\s*$")
NOT_A_CALL = re.compile(r"^\s*(return|delete|throw|case|goto|using|typedef|static_assert|else)\b")


def code_part(line):
    """The line without its comment and with string and character literals blanked."""
    line = re.sub(r'"(?:\\.|[^"\\])*"', lambda m: '"' + "_" * (len(m.group()) - 2) + '"', line)
    line = re.sub(r"'(?:\\.|[^'\\])+'", lambda m: "'" + "_" * (len(m.group()) - 2) + "'", line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def candidates(text):
    """Every mutant of one file's text: (kind, line number, old line, new line)."""
    lines = text.splitlines()
    found = []
    in_comment = False
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if in_comment:
            in_comment = "*/" not in stripped
            continue
        if stripped.startswith("/*"):
            in_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("#", "//", "static_assert")):
            continue
        code = code_part(line)
        if CONDITION.search(code):
            for old, new in COMPARISONS.items():
                at = code.find(old)
                if at >= 0:
                    found.append(("comparison", number, line, line[:at] + new + line[at + len(old):]))
        constant = CONSTANT.match(code)
        if constant:
            value = int(constant.group(1))
            wrong = value * 2 if value > 1 else value + 2
            found.append(("constant", number, line, line[: constant.start(1)] + str(wrong) + line[constant.end(1):]))
        elif CONDITION.search(code) or re.search(r"[-+*/]\s*\d|\d\s*[-+*/]|\[\s*\d", code):
            for literal in INTEGER.finditer(code):
                value = int(literal.group(1))
                if value > 100000:
                    continue
                found.append(("off-by-one", number, line, line[: literal.start(1)] + str(value + 1) + line[literal.end(1):]))
                break
        if CALL.match(code) and not NOT_A_CALL.match(code) and "=" not in code.split("(")[0]:
            indent = CALL.match(code).group(1)
            found.append(("dropped call", number, line, indent + "(void)0;"))
    return found


def git(*args):
    return subprocess.run(["git", *args], cwd=ROOT, capture_output=True, text=True, check=True).stdout


def sample():
    """The fixed sample: an even share of each folder's mutants, drawn by the seed."""
    pool = {}
    for top in ("platform", "module"):
        names = sorted(n for n in git("ls-tree", "-r", "--name-only", SAMPLE_COMMIT, top).split() if n.endswith(".cpp"))
        for relative in names:
            for kind, number, old, new in candidates(git("show", f"{SAMPLE_COMMIT}:{relative}")):
                folder = relative.rsplit("/", 1)[0]
                pool.setdefault(folder, []).append((relative, kind, number, old, new))
    rng = random.Random(SEED)
    folders = sorted(pool)
    chosen = []
    while len(chosen) < SAMPLE and any(pool.values()):
        for folder in folders:
            if pool[folder] and len(chosen) < SAMPLE:
                chosen.append(pool[folder].pop(rng.randrange(len(pool[folder]))))
    chosen.sort(key=lambda m: (m[0], m[2]))
    return chosen


def locate(lines, number, old):
    """The line number of the mutated line in today's file, or None when it is gone."""
    places = [i + 1 for i, line in enumerate(lines) if line == old]
    return min(places, key=lambda at: abs(at - number)) if places else None


def failed_test(log, offset):
    """The first test that failed in the log after offset (gtest's or CTest's report)."""
    with open(log) as text:
        text.seek(offset)
        tail = text.read()
    found = re.search(r"^\[  FAILED  \] (\S+)", tail, re.M) or re.search(r"^\s*\d+ - (\S+) \(", tail, re.M)
    return found.group(1) if found else "?"


def guards(relative):
    for prefix, suites in GUARDS:
        if relative.startswith(prefix):
            return suites
    return ["core_tests", "host_tests"]


def run(command, cwd, timeout, log):
    with open(log, "a") as out:
        out.write("$ " + " ".join(command) + "\n")
        out.flush()
        try:
            return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return "timeout"


def run_suite(build, suite, timeout, log):
    """0 when every test of the suite passed; a hang counts as a failure."""
    if suite in ONE_PROCESS_PER_TEST:
        return run(["ctest", "--test-dir", str(build), "-R", f"^{suite}\\.", "--stop-on-failure", "-j2",
                    "--timeout", str(timeout)], build, 3600, log)
    env = dict(os.environ, RUZADA_INI=str(build / "no-settings" / "RUZada.ini"), **TEST_ENV)
    with open(log, "a") as out:
        out.write(f"$ {suite}\n")
        out.flush()
        try:
            return subprocess.run([str(build / "bin" / suite), "--gtest_fail_fast"], cwd=build, env=env, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=5 * timeout).returncode
        except subprocess.TimeoutExpired:
            return "timeout"


def prepare(scratch):
    """A copy of the work tree as it stands (tests included), built once."""
    source = scratch / "tree"
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, capture_output=True,
                           text=True, check=True).stdout.split()
    for name in files:
        target = source / name
        if (ROOT / name).is_file() and not (target.is_file() and target.read_bytes() == (ROOT / name).read_bytes()):
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, target)
    # Files gone from the work tree go from the copy too (a trimmed test, say).
    kept = {source / name for name in files}
    for path in list(source.rglob("*")):
        if path.is_file() and path not in kept:
            path.unlink()
    return source


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--only", help="comma-separated mutant numbers")
    parser.add_argument("--scratch", default=str(ROOT / "build" / "mutate"))
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--in-place", metavar="BUILD", help="mutate the work tree and rebuild this build folder")
    parser.add_argument("--resume", action="store_true", help="keep the verdicts already in results.tsv")
    parser.add_argument("--first", help="a results.tsv of an earlier run: its killed mutants run first")
    parser.add_argument("--suites", help="comma-separated suites: run only these of each mutant's guards")
    args = parser.parse_args()

    mutants = sample()
    if args.list:
        for index, (relative, kind, number, old, new) in enumerate(mutants, 1):
            print(f"{index:3} {relative}:{number} {kind}: {old.strip()}  ->  {new.strip()}")
        return 0
    picked = set(int(n) for n in args.only.split(",")) if args.only else None
    chosen = set(args.suites.split(",")) if args.suites else None
    order = list(range(1, len(mutants) + 1))
    if args.first:
        earlier = dict(line.split("\t")[:2] for line in open(args.first) if line.strip())
        order.sort(key=lambda n: earlier.get(str(n)) != "killed")

    # A stop ends the run through the finally below, which puts the source back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    all_suites = sorted({s for _, suites in GUARDS for s in suites if not chosen or s in chosen})
    if args.in_place:
        tree = ROOT
        build = Path(args.in_place).resolve()
        scratch = build
        log = build / "mutate-log.txt"
        log.write_text("")
    else:
        scratch = Path(args.scratch).resolve()
        scratch.mkdir(parents=True, exist_ok=True)
        tree = prepare(scratch)
        build = scratch / "build"
        log = scratch / "log.txt"
        log.write_text("")
        configure = ["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
        if run(configure, tree, 600, log) != 0:
            print("the scratch copy does not configure; see", log)
            return 1
    if run(["cmake", "--build", str(build), "--target", *all_suites, "RUZada"], tree, 3600, log) != 0:
        print("the tree does not build; see", log)
        return 1

    results = scratch / "results.tsv"
    counts = {"killed": 0, "survived": 0, "not compiled": 0, "gone": 0}
    done = {}
    if args.resume and results.exists():
        for line in open(results):
            fields = line.rstrip("\n").split("\t")
            if len(fields) > 1:
                done[int(fields[0])] = fields[1]
                counts[fields[1]] += 1
    start = time.time()
    with open(results, "a" if args.resume else "w") as table:
        for index in order:
            relative, kind, number, old, new = mutants[index - 1]
            if (picked and index not in picked) or index in done:
                continue
            path = tree / relative
            original = path.read_text() if path.exists() else ""
            lines = original.split("\n")
            at = locate(lines, number, old)
            verdict, killer = "gone", ""
            if at:
                lines[at - 1] = new
                path.write_text("\n".join(lines))
                try:
                    # Suite by suite, cheapest first: most mutants fall to the first.
                    verdict = "survived"
                    for suite in (s for s in guards(relative) if not chosen or s in chosen):
                        if run(["cmake", "--build", str(build), "--target", suite], tree, 1200, log) != 0:
                            verdict = "not compiled"
                            break
                        offset = log.stat().st_size
                        outcome = run_suite(build, suite, args.timeout, log)
                        if outcome != 0:
                            verdict = "killed"
                            killer = f"{suite} timeout" if outcome == "timeout" else failed_test(log, offset)
                            break
                finally:
                    path.write_text(original)
            counts[verdict] += 1
            line = f"{index}\t{verdict}\t{relative}:{at or number}\t{kind}\t{old.strip()}\t{new.strip()}\t{killer}"
            table.write(line + "\n")
            table.flush()
            print(line, flush=True)
    # Leave the scratch build matching the sources.
    run(["cmake", "--build", str(build), "--target", *all_suites], tree, 3600, log)
    valid = counts["killed"] + counts["survived"]
    print(f"killed {counts['killed']} of {valid} compiled mutants ({counts['not compiled']} did not compile, "
          f"{counts['gone']} gone from the code), {time.time() - start:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
