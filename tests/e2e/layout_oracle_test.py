"""Layouts of mixed fields against Python's struct module, the oracle: random layouts (fields,
counts, groups, a '*' group anywhere) over random data, each swapped by the built program as a file
to another, in place or into a folder as many files, and as a stream, with and without -offset and
-length, and the outputs compared byte for byte with what struct unpacks big-endian and packs
little-endian. Floats go through struct as the unsigned integers of their size, so that every bit
counts; an `Nr` field is reversed by hand, struct having no letter for it.

    layout_oracle_test.py PROGRAM   (environment: ORACLE_SEED, ORACLE_LAYOUTS)
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

PROGRAM = sys.argv[1]
SEED = int(os.environ.get("ORACLE_SEED", "20261208"))
LAYOUTS = int(os.environ.get("ORACLE_LAYOUTS", "300"))

# Each letter: its width, and the struct letter that reads it exactly.
EXACT = {"x": (1, "B"), "c": (1, "c"), "b": (1, "b"), "B": (1, "B"), "?": (1, "B"),
         "h": (2, "h"), "H": (2, "H"), "e": (2, "H"), "i": (4, "i"), "I": (4, "I"),
         "l": (4, "l"), "L": (4, "L"), "f": (4, "I"), "q": (8, "q"), "Q": (8, "Q"),
         "d": (8, "Q")}


def random_field(rng):
    """A field as the layout spells it, and its parts: (struct letter or 'r', count or length)."""
    kind = rng.random()
    if kind < 0.12:
        length = rng.choice([0, 1, 3, 7, 16, 40])
        letter = rng.choice("sp")
        return f"{length}{letter}", [("s", length)]
    if kind < 0.22:
        length = rng.choice([2, 3, 5, 6, 12, 16, 17, 24, 128])
        return f"{length}r", [("r", length)]
    letter = rng.choice(list(EXACT))
    count = rng.choice([None, None, None, 0, 2, 3, 5])
    spelled = letter if count is None else f"{count}{letter}"
    return spelled, [(EXACT[letter][1], 1)] * (1 if count is None else count)


def random_layout(rng):
    """(text, groups): each group (text, its fields, its bytes, its count or '*')."""
    groups = []
    fill_at = rng.randrange(4) if rng.random() < 0.8 else None
    for index in range(rng.randint(1, 4)):
        while True:
            fields, spelled = [], ""
            for _ in range(rng.randint(1, 6)):
                text, parts = random_field(rng)
                spelled += text
                fields += parts
            size = sum(count if letter in "sr" else struct.calcsize(">" + letter)
                       for letter, count in fields)
            if size > 0:
                break
        count = "*" if index == fill_at else rng.choice([1, 1, 1, 2, 3])
        if count == "*":
            spelled += ":*"
        elif count != 1 or rng.random() < 0.2:
            spelled += f":{count}"
        groups.append((spelled, fields, size, count))
    return rng.choice(["", "", "<", ">", "!", "="]) + " ".join(g[0] for g in groups), groups


def swapped_group(fields, data):
    """One group of `data` as struct swaps it: unpacked big-endian, packed little-endian."""
    fmt = "".join(f"{count}s" if letter in "sr" else letter for letter, count in fields)
    values = list(struct.unpack(">" + fmt, data))
    for k, (letter, _) in enumerate(fields):
        if letter == "r":
            values[k] = values[k][::-1]
    return struct.pack("<" + fmt, *values)


def expected(groups, fill_count, data):
    out, at = bytearray(), 0
    for _, fields, size, count in groups:
        for _ in range(fill_count if count == "*" else count):
            out += swapped_group(fields, data[at:at + size])
            at += size
    assert at == len(data)
    return bytes(out)


def fixed_and_fill(groups):
    fixed = sum(size * count for _, _, size, count in groups if count != "*")
    fill = next((size for _, _, size, count in groups if count == "*"), 0)
    return fixed, fill


failures = 0


def check(name, condition, detail=""):
    global failures
    if not condition:
        failures += 1
        print(f"FAILED: {name} {detail}")


def run(arguments, stdin=None):
    return subprocess.run([PROGRAM] + arguments, input=stdin, capture_output=True)


def main():
    rng = random.Random(SEED)
    print(f"seed {SEED} (ORACLE_SEED), {LAYOUTS} layouts (ORACLE_LAYOUTS)")
    work = tempfile.mkdtemp()
    try:
        for case in range(LAYOUTS):
            folder = os.path.join(work, str(case))
            os.mkdir(folder)
            one_case(rng, case, folder)
            shutil.rmtree(folder)
    finally:
        shutil.rmtree(work)
    print(f"{LAYOUTS} layouts, {failures} failed")
    return 1 if failures else 0


def layout_option(rng, text, groups, work):
    """The option and its value, in a spelling of the option chosen at random; now and then the
    layout from a file, a group on each line, with comments."""
    if rng.random() < 0.1:
        path = os.path.join(work, "layout.txt")
        with open(path, "w") as f:
            f.write("# the layout\n" + "\n".join(g[0] + "  # a group" for g in groups) + "\n")
        value = "@" + path
    else:
        value = text
    spelling = rng.choice(["-layout", "--layout", "/layout", "-LAYOUT"])
    return [f"--layout={value}"] if rng.random() < 0.2 else [spelling, value]


def data_for(rng, groups):
    """Random contents of some length the layout covers, and the count of its '*' group."""
    fixed, fill = fixed_and_fill(groups)
    if not fill:
        return os.urandom(fixed), 0
    most = (600 << 10) // fill if rng.random() < 0.08 else 40
    count = rng.randint(0 if fixed else 1, max(1, most))
    return os.urandom(fixed + count * fill), count


def one_case(rng, case, work):
    text, groups = random_layout(rng)
    option = layout_option(rng, text, groups, work)
    fixed, fill = fixed_and_fill(groups)
    after_fill = fill and groups[-1][3] != "*"
    name = f"case {case} [{text}]"

    # A file to another, maybe within a range.
    data, count = data_for(rng, groups)
    head, tail = (os.urandom(rng.randint(0, 9)), os.urandom(rng.randint(0, 9))) \
        if rng.random() < 0.5 else (b"", b"")
    source, target = os.path.join(work, "in.bin"), os.path.join(work, "out.bin")
    with open(source, "wb") as f:
        f.write(head + data + tail)
    ranged = ["-offset", str(len(head))] + (["-length", str(len(data))] if tail else []) \
        if head or tail else []
    done = run(["-in", source, "-out", target] + option + ranged)
    check(f"{name}: to a file, exit code", done.returncode == 0, done.stderr)
    if done.returncode == 0:
        with open(target, "rb") as f:
            check(f"{name}: to a file, bytes", f.read() == head + expected(groups, count, data) + tail)

    # Many files, in place or into a folder, one the layout does not fit: refused, the others
    # swapped.
    files, contents = [], []
    for k in range(3):
        data, count = data_for(rng, groups)
        files.append(os.path.join(work, f"f{k}.bin"))
        contents.append((data, count))
        with open(files[-1], "wb") as f:
            f.write(data)
    misfit = os.urandom(fixed + fill + 1) if fill != 1 else (os.urandom(fixed - 1) if fixed > 1 else None)
    if misfit is not None:
        files.append(os.path.join(work, "misfit.bin"))
        with open(files[-1], "wb") as f:
            f.write(misfit)
    folder = os.path.join(work, "folder") if rng.random() < 0.5 else None
    if folder:
        os.mkdir(folder)
    done = run(option + (["-out", folder] if folder else []) + files)
    where = "into a folder" if folder else "in place"
    check(f"{name}: many files {where}, exit code",
          done.returncode == (1 if misfit is not None else 0), done.stderr)
    for path, (data, count) in zip(files, contents):
        with open(os.path.join(folder, os.path.basename(path)) if folder else path, "rb") as f:
            check(f"{name}: many files {where}, bytes of {path}", f.read() == expected(groups, count, data))
    if misfit is not None:
        with open(files[-1], "rb") as f:
            check(f"{name}: the file not fitted is left as it was", f.read() == misfit)
        check(f"{name}: the file not fitted, one line", done.stderr.count(b"\n") == 1 and
              done.stderr.startswith(b"orvane: '" + files[-1].encode()), done.stderr)
        if folder:
            check(f"{name}: no output for the file not fitted",
                  not os.path.exists(os.path.join(folder, "misfit.bin")))

    # A stream, through a pipe; a layout with groups after its '*' group needs -length there.
    data, count = data_for(rng, groups)
    head = os.urandom(rng.randint(0, 9)) if rng.random() < 0.5 else b""
    with_length = rng.random() < 0.5
    ranged = (["-offset", str(len(head))] if head else []) + \
        (["-length", str(len(data))] if with_length else [])
    done = run(["-in", "-", "-out", "-"] + option + ranged, stdin=head + data)
    if after_fill and not with_length:
        check(f"{name}: stream without -length, refused", done.returncode == 1 and
              not done.stdout and b"'*' group cannot be placed" in done.stderr, done.stderr)
    else:
        check(f"{name}: stream, exit code", done.returncode == 0, done.stderr)
        check(f"{name}: stream, bytes", done.stdout == head + expected(groups, count, data))


if __name__ == "__main__":
    sys.exit(main())
