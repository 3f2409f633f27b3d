#!/usr/bin/env python3
"""Plants one small fault at a time in the product code and runs the suite.

Each mutant changes one token of one line: a comparison (< <= > >= == !=),
a logical operator (&& ||), a + or -, a true or false, an integer constant,
a leading ! dropped, or a statement that is a bare call or `return;` deleted.
A mutant that doesn't build is left out; one that makes any test fail (or
run past the time limit) is killed; the rest survive. The score is
killed / (killed + survived).

The work is done in a copy of the checkout (a git worktree of HEAD by
default) with a build folder of its own, so the checkout being edited is
never touched. The sample of mutants depends only on the product code and
the seed: the same code and seed give the same mutants, whatever the tests,
and a change to some lines moves only the mutants of those lines.

  tools/mutation_score.py --seed 1 --count 60
  tools/mutation_score.py --seed 1 --count 60 --list      # the mutants only
"""

import argparse
import os
import hashlib
import re
import shutil
import subprocess
import sys
import time

PRODUCT_FOLDERS = ("archive", "brq", "cli", "extract", "platform")
# Not built on this OS, or only a test aid: a mutant there can't be judged.
LEFT_OUT = ("platform/platform_win32.cpp", "platform/posix_test_helper.h")

SWAPS = [
    (r" < ", " <= "), (r" <= ", " < "), (r" > ", " >= "), (r" >= ", " > "),
    (r" == ", " != "), (r" != ", " == "), (r" && ", " || "), (r" \|\| ", " && "),
    (r" \+ ", " - "), (r" - ", " + "), (r"\btrue\b", "false"), (r"\bfalse\b", "true"),
]
NUMBER = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")
NOT = re.compile(r"(?<=[(\s])!(?=[\w(])")
BARE_CALL = re.compile(r"^\s*[\w:.>\-]+\([^;]*\);\s*$")
BARE_RETURN = re.compile(r"^\s*return;\s*$")


def masked(line):
    """The line with string and character literals and any // comment blanked."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            # A digit separator (1'000) is not a character literal.
            if c == "'" and i > 0 and line[i - 1].isdigit():
                out.append(c)
            else:
                quote = c
                out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out).ljust(len(line))


def product_files(root):
    files = []
    for folder in PRODUCT_FOLDERS:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            path = f"{folder}/{name}"
            if name.endswith((".cpp", ".h")) and path not in LEFT_OUT:
                files.append(path)
    return files


def mutants_of(path, lines):
    """Every (path, line number, column, old text, new text) of one file."""
    found = []
    in_block_comment = False
    previous = ";"  # the last code line's last character
    for number, line in enumerate(lines):
        stripped = line.strip()
        if in_block_comment:
            in_block_comment = "*/" not in stripped
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("#", "//", "static_assert")):
            continue
        code = masked(line)
        for pattern, new in SWAPS:
            for m in re.finditer(pattern, code):
                found.append((path, number, m.start(), m.group(0), new))
        for m in NUMBER.finditer(code):
            value = int(m.group(1))
            found.append((path, number, m.start(), m.group(1), str(value + 1 if value else 1)))
        for m in NOT.finditer(code):
            found.append((path, number, m.start(), "!", ""))
        # A whole statement, not the tail of one that began on an earlier line.
        whole = previous in ";{}" and path.endswith(".cpp")
        if whole and (BARE_CALL.match(code) or BARE_RETURN.match(code)):
            found.append((path, number, 0, line.rstrip("\n"), ""))
        previous = code.rstrip()[-1:]
    return found


def sample_key(seed, mutant, sources):
    """Where a mutant falls in the seed's sample: a hash of the seed and of the
    mutant's file, line text and change, so that editing one part of the code
    leaves the rest of the sample where it was."""
    path, number, column, old, new = mutant
    text = f"{seed}|{path}|{sources[path][number].strip()}|{column}|{old}|{new}"
    return hashlib.sha256(text.encode()).hexdigest()


def apply(lines, mutant):
    _, number, column, old, new = mutant
    changed = list(lines)
    line = changed[number]
    if column == 0 and old == line.rstrip("\n"):
        changed[number] = "\n"
    else:
        assert line[column:column + len(old)] == old
        changed[number] = line[:column] + new + line[column + len(old):]
    return changed


def listed_files(folder):
    return set(subprocess.check_output(
        ["git", "ls-files", "--cached", "--others", "--exclude-standard"],
        cwd=folder, text=True).splitlines())


def mirror(root, tree):
    """Makes the copy's files those of the checkout, touching only what differs
    so that the copy's build stays incremental."""
    wanted = listed_files(root)
    for path in listed_files(tree) - wanted:
        if os.path.isfile(os.path.join(tree, path)):
            os.remove(os.path.join(tree, path))
    for path in wanted:
        source, copy = os.path.join(root, path), os.path.join(tree, path)
        if not os.path.isfile(source):
            continue
        with open(source, "rb") as f:
            data = f.read()
        if os.path.isfile(copy):
            with open(copy, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copyfile(source, copy)  # a new time, so that the build sees the change


def run(command, cwd, timeout):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout)
        return done.returncode
    except subprocess.TimeoutExpired:
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, required=True)
    parser.add_argument("--count", type=int, default=50)
    parser.add_argument("--list", action="store_true", help="print the mutants, run nothing")
    parser.add_argument("--work", default="/tmp/kelvarin-mutants",
                        help="where the copy and its build go (default %(default)s)")
    parser.add_argument("--test-timeout", type=int, default=120,
                        help="seconds the whole suite may take on one mutant")
    args = parser.parse_args()

    root = subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip()
    sources = {path: open(os.path.join(root, path)).readlines() for path in product_files(root)}
    every = [m for path, lines in sources.items() for m in mutants_of(path, lines)]
    chosen = sorted(every, key=lambda m: sample_key(args.seed, m, sources))[:args.count]
    if args.list:
        for path, number, _, old, new in chosen:
            print(f"{path}:{number + 1}: {old.strip()!r} -> {new.strip()!r}")
        return 0

    # The copy holds HEAD plus the checkout's uncommitted test changes, so a
    # test edit can be measured before it is committed.
    tree = os.path.join(args.work, "tree")
    build = os.path.join(args.work, "build")
    if not os.path.isdir(tree):
        os.makedirs(args.work, exist_ok=True)
        subprocess.check_call(["git", "worktree", "add", "--detach", tree, "HEAD"], cwd=root)
    subprocess.check_call(["git", "checkout", "--detach", "--quiet", "HEAD"], cwd=tree)
    mirror(root, tree)
    subprocess.check_call(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                          stdout=subprocess.DEVNULL)
    # The programs and the suite only: the benchmark and fuzzing targets
    # don't judge a mutant.
    build_command = ["cmake", "--build", build, "-j2", "--target", "kelvarin_tests"]
    test_command = ["ctest", "--test-dir", build, "-j2", "--stop-on-failure", "--timeout",
                    str(args.test_timeout)]
    print("building the unchanged copy and running its tests", flush=True)
    if run(build_command, tree, None) != 0 or run(test_command, tree, None) != 0:
        print("the unchanged copy fails to build or to pass its tests", file=sys.stderr)
        return 1

    killed, survived, unbuilt = 0, [], 0
    started = time.time()
    for n, mutant in enumerate(chosen, 1):
        path, number, _, old, new = mutant
        target = os.path.join(tree, path)
        original = sources[path]
        with open(target, "w") as out:
            out.writelines(apply(original, mutant))
        try:
            if run(build_command, tree, 600) != 0:
                verdict = "doesn't build"
                unbuilt += 1
            elif run(test_command, tree, args.test_timeout * 2) == 0:
                verdict = "SURVIVED"
                survived.append(mutant)
            else:
                verdict = "killed"
                killed += 1
        finally:
            with open(target, "w") as out:
                out.writelines(original)
        print(f"[{n}/{len(chosen)}] {verdict:13} {path}:{number + 1}: "
              f"{old.strip()!r} -> {new.strip()!r}", flush=True)
    run(build_command, tree, None)

    judged = killed + len(survived)
    score = killed / judged if judged else 0.0
    print(f"\nseed {args.seed}: {len(chosen)} mutants, {unbuilt} don't build, "
          f"{killed} killed, {len(survived)} survived: score {score:.2f} "
          f"({time.time() - started:.0f} s)")
    for path, number, _, old, new in survived:
        print(f"  survived {path}:{number + 1}: {old.strip()!r} -> {new.strip()!r}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
