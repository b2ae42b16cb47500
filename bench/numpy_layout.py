"""numpy doing what `orvane -layout 'FORMAT:*'` does, as its users write it: numpy.fromfile with the
structured big-endian dtype, astype to the little-endian one, tofile. Run by Debian's Python, whose
python3-numpy it imports.

    numpy_layout.py FORMAT INPUT OUTPUT   (FORMAT: one record in struct letters, no blanks)
"""
import re
import sys

import numpy

CODES = {"b": "i1", "B": "u1", "?": "?", "h": "i2", "H": "u2", "e": "f2", "i": "i4", "I": "u4",
         "l": "i4", "L": "u4", "f": "f4", "q": "i8", "Q": "u8", "d": "f8"}


def record(fmt, order):
    fields = []
    for k, (count, letter) in enumerate(re.findall(r"(\d*)([a-zA-Z?])", fmt)):
        n = int(count or 1)
        if letter in "sc":
            fields.append((f"f{k}", f"S{n}"))
        else:
            fields.append((f"f{k}", order + CODES[letter], (n,)) if n > 1 else
                          (f"f{k}", order + CODES[letter]))
    return numpy.dtype(fields)


fmt, source, target = sys.argv[1:]
numpy.fromfile(source, dtype=record(fmt, ">")).astype(record(fmt, "<")).tofile(target)
