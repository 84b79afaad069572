#!/usr/bin/env python3
"""load-json and to-json against python3's json module.

  json_oracle.py KIV WORKDIR

Seeded documents (nesting, escapes, non-BMP text, integers at and beyond
32 bits, subnormal and huge floats) are decoded by kiv and written back plain,
/pretty and /ascii; json.loads (refusing NaN and Infinity) reads each back,
equal to the original with integers beyond 32 bits as floats (floats are
written in full, so that they read back the same). Then mutated documents (truncated, a character
dropped or added, a trailing comma, a raw control character): kiv gives its
error value exactly when json.loads raises, its Index at most json's pos + 1,
its Line and Column agreeing with its Index. Prints what differs; exits 1
when anything does.
"""
import json
import math
import os
import random
import re
import subprocess
import sys

KIV, WORK = sys.argv[1], sys.argv[2]
sys.setrecursionlimit(20000)
rng = random.Random(31)
failures = []


def refuse(name):
    raise ValueError("constant " + name)


def loads(text):
    return json.loads(text, parse_constant=refuse)


def random_text():
    pool = ['a', 'Z', ' ', '"', '\\', '/', '\n', '\t', '\b', '\f', '\r', '\x00', '\x01', '\x1f',
            '\x7f', 'é', 'ü', '€', '中', '\u2028', '\U0001F600', '\U00010348', "'", '{', ']', ':']
    return ''.join(rng.choice(pool) for _ in range(rng.randint(0, 12)))


def random_name():
    return rng.choice(['a', 'A', 'b-c', 'x1', '1a', '', 'two words', "it's", 'é', 'key' + str(rng.randint(0, 9)),
                       random_text()])


def random_number():
    kind = rng.randint(0, 9)
    if kind == 0:
        return rng.choice([2147483647, -2147483648, 2147483648, -2147483649, 0, -1, 10 ** 20])
    if kind == 1:
        return rng.choice([5e-324, 2.2250738585072014e-308, 1e-300, 1.7976931348623157e308, 1e300, -0.0])
    if kind < 5:
        return rng.randint(-10 ** 6, 10 ** 6)
    return rng.uniform(-1e6, 1e6) * 10 ** rng.randint(-20, 20)


def random_value(depth):
    kind = rng.randint(0, 9 if depth < 5 else 5)
    if kind == 0:
        return None
    if kind == 1:
        return rng.choice([True, False])
    if kind in (2, 3):
        return random_number()
    if kind in (4, 5):
        return random_text()
    if kind in (6, 7):
        return [random_value(depth + 1) for _ in range(rng.randint(0, 4))]
    return {random_name(): random_value(depth + 1) for _ in range(rng.randint(0, 4))}


def nested(depth):
    """Arrays and objects in turn, [depth] levels in all."""
    value = [1, {"a": "b"}]
    for i in range(depth - 2):
        value = [value] if i % 2 else {"k": value}
    return value


def same(original, back):
    """back (json.loads of kiv's output) stands for original."""
    if isinstance(original, bool) or original is None:
        return original is back
    if isinstance(original, int):
        if -2 ** 31 <= original < 2 ** 31:
            return type(back) is int and back == original
        return isinstance(back, float) and back == float(original)
    if isinstance(original, float):
        return isinstance(back, float) and back == original and math.copysign(1, back) == math.copysign(1, original)
    if isinstance(original, str):
        return back == original
    if isinstance(original, list):
        return isinstance(back, list) and len(back) == len(original) and all(
            same(a, b) for a, b in zip(original, back))
    if isinstance(original, dict):
        return isinstance(back, dict) and back.keys() == original.keys() and all(
            same(original[k], back[k]) for k in original)
    return False


def run_kiv(script):
    path = os.path.join(WORK, "run.kiv")
    with open(path, "w", encoding="utf-8") as f:
        f.write(script)
    r = subprocess.run([KIV, path], capture_output=True, timeout=600)
    if r.returncode != 0:
        failures.append("kiv ended with %d: %s" % (r.returncode, r.stderr.decode(errors="replace")[:2000]))
    return r.stdout.decode("utf-8", errors="replace")


# ---------------------------------------------------------------- round trips

documents = [random_value(0) for _ in range(300)]
documents += [random_number() for _ in range(20)] + [random_text() for _ in range(20)]
documents += [nested(1000), None, True, "", [], {}]
texts = [json.dumps(d, ensure_ascii=rng.random() < 0.5, indent=rng.choice([None, 2])) for d in documents]
for i, text in enumerate(texts):
    with open(os.path.join(WORK, "doc-%d.json" % i), "w", encoding="utf-8") as f:
        f.write(text)

run_kiv("""Kiv []
repeat i %d [
    name: rejoin [%%doc- i - 1 %%.json]
    value: load-json read name
    write rejoin [name %%.plain] to-json :value
    write rejoin [name %%.pretty] to-json/pretty :value "  "
    write rejoin [name %%.ascii] to-json/ascii :value
]
""" % len(texts))

for i, original in enumerate(documents):
    name = os.path.join(WORK, "doc-%d.json" % i)
    for form in ("plain", "pretty", "ascii"):
        try:
            with open(name + "." + form, encoding="utf-8") as f:
                out = f.read()
        except OSError:
            failures.append("%s: no %s output" % (name, form))
            continue
        try:
            back = loads(out)
        except ValueError as e:
            failures.append("%s %s: json.loads refuses kiv's output (%s): %r" % (name, form, e, out[:200]))
            continue
        if not same(original, back):
            failures.append("%s %s: %r came back as %r" % (name, form, texts[i][:200], out[:200]))
        if form == "ascii" and any(ord(c) > 127 for c in out):
            failures.append("%s ascii: a character above 127 in %r" % (name, out[:200]))
        if form == "pretty" and isinstance(original, (list, dict)) and original and "\n" not in out:
            failures.append("%s pretty: one line %r" % (name, out[:200]))

# ---------------------------------------------------------------- mutations

mutated = []
for text in texts[:300]:
    if len(text) < 2:
        continue
    pos = rng.randrange(len(text))
    mutated.append(text[:pos])
    mutated.append(text[:pos] + text[pos + 1:])
    mutated.append(text[:pos] + rng.choice('[]{},:"\\0-.e tfn\x01\t\n') + text[pos:])
mutated += ['[1,]', '{"a":1,}', '[1 2]', '{a:1}', '[1]]', '', '[1] x', '[1] // c', '/* c */ 1',
            'True', 'NaN', 'Infinity', '-Infinity', '01', '+1', '1.', '.5', '1e', '0x10', '"\\x"',
            '"\\u12"', '"abc', '"a\tb"', '"a\x01b"', '[1,2', '{"a"', '{"a":', '\n\n  [1,\n 2,,3]']
for i, text in enumerate(mutated):
    with open(os.path.join(WORK, "bad-%d.json" % i), "w", encoding="utf-8", newline="") as f:
        f.write(text)
out = run_kiv("""Kiv []
repeat i %d [
    text: read/binary rejoin [%%bad- i - 1 %%.json]
    text: to string! text
    raised: true
    result: try [value: load-json text raised: false :value]
    print case [
        raised [rejoin ["RAISE " result/id]]
        error? :result [rejoin ["ERR " result/arg1]]
        true ["OK"]
    ]
]
""" % len(mutated)).split("\n")

message = re.compile(r"ERR Invalid JSON string\. Line: (\d+) Index: (\d+) Column: (\d+) Near: ")
surrogate = re.compile(r"\\u[dD][89abAB][0-9a-fA-F]{2}")
for i, text in enumerate(mutated):
    line = out[i] if i < len(out) else "<missing>"
    try:
        loads(text)
        python_error = None
    except ValueError as e:
        python_error = e
    if line.startswith("RAISE"):
        # a lone high surrogate escape raises invalid-data, as unescape does
        if not (line == "RAISE invalid-data" and surrogate.search(text)):
            failures.append("%r: kiv raised %s" % (text[:80], line))
        continue
    if python_error is None:
        if line != "OK":
            failures.append("%r: json.loads accepts it, kiv says %s" % (text[:80], line))
        continue
    m = message.match(line)
    if not m:
        failures.append("%r: json.loads refuses it (%s), kiv says %s" % (text[:80], python_error, line[:120]))
        continue
    line_no, index, column = int(m.group(1)), int(m.group(2)), int(m.group(3))
    if isinstance(python_error, json.JSONDecodeError) and index > python_error.pos + 1:
        failures.append("%r: index %d past json's %d + 1" % (text[:80], index, python_error.pos))
    offset = index - 1
    if line_no != text.count("\n", 0, offset) + 1 or column != offset - (text.rfind("\n", 0, offset) + 1):
        failures.append("%r: line %d column %d do not agree with index %d" % (text[:80], line_no, column, index))

for f in failures[:40]:
    print(f)
print("%d documents, %d mutations, %d failures" % (len(documents), len(mutated), len(failures)))
sys.exit(1 if failures else 0)
