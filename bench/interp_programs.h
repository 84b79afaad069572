// The programs interp_bench runs, each in Kiv, python3 and lua5.4. The three
// texts of a program do the same work and print the same one line, which the
// driver compares. A Kiv text is a script body: the driver puts the `Kiv []`
// header before it. A program that reads the words text gets the path of that
// file as its one argument (Kiv: first system/options/args; python:
// sys.argv[1]; lua: arg[1]).
//
// Kiv's integer! is 32-bit (an overflowing + - * gives a float!), so every
// program keeps its sums below 2^31 with a remainder; all operands of a
// remainder are non-negative, so Kiv's truncated remainder agrees with the
// floored % of the other two.
#pragma once

namespace bench {

struct Program {
  const char* name;
  const char* kiv;
  const char* python;
  const char* lua;
  bool reads_words = false;  // takes the path of the words text as its argument
};

inline const Program kPrograms[] = {
    // Recursive fib 27 and 30: calls, a test and integer arithmetic.
    {"fib27",
     R"(fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]]
print ["fib27" fib 27]
)",
     R"(def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)
print("fib27", fib(27))
)",
     R"(local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
print(string.format("fib27 %d", fib(27)))
)"},
    {"fib30",
     R"(fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]]
print ["fib30" fib 30]
)",
     R"(def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)
print("fib30", fib(30))
)",
     R"(local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
print(string.format("fib30 %d", fib(30)))
)"},

    // A 1e7-step while loop whose body is one test.
    {"while1e7",
     R"(i: 0 n: 0
while [i < 10000000] [i: i + 1 if i > 5000000 [n: n + 1]]
print ["while1e7" n]
)",
     R"(def main():
    i = 0
    n = 0
    while i < 10000000:
        i = i + 1
        if i > 5000000:
            n = n + 1
    print("while1e7", n)
main()
)",
     R"(local i, n = 0, 0
while i < 10000000 do
  i = i + 1
  if i > 5000000 then n = n + 1 end
end
print(string.format("while1e7 %d", n))
)"},

    // A 1e7-step counting loop with a remainder and an if-test: with while,
    // then with repeat (the other two count with for).
    {"loop_while",
     R"(n: 10000000 s: 0 c: 0 i: 1
while [i <= n] [
    s: remainder s + i 1000003
    if 0 = remainder i 3 [c: c + 1]
    i: i + 1
]
print ["loop" s c]
)",
     R"(def main():
    n = 10_000_000
    s = 0
    c = 0
    i = 1
    while i <= n:
        s = (s + i) % 1000003
        if i % 3 == 0:
            c = c + 1
        i = i + 1
    print("loop", s, c)
main()
)",
     R"(local n = 10000000
local s, c, i = 0, 0, 1
while i <= n do
  s = (s + i) % 1000003
  if i % 3 == 0 then c = c + 1 end
  i = i + 1
end
print(string.format("loop %d %d", s, c))
)"},
    {"loop",
     R"(n: 10000000 s: 0 c: 0
repeat i n [
    s: remainder s + i 1000003
    if 0 = remainder i 3 [c: c + 1]
]
print ["loop" s c]
)",
     R"(def main():
    n = 10_000_000
    s = 0
    c = 0
    for i in range(1, n + 1):
        s = (s + i) % 1000003
        if i % 3 == 0:
            c = c + 1
    print("loop", s, c)
main()
)",
     R"(local n = 10000000
local s, c = 0, 0
for i = 1, n do
  s = (s + i) % 1000003
  if i % 3 == 0 then c = c + 1 end
end
print(string.format("loop %d %d", s, c))
)"},

    // 3e6 calls of a three-argument function: with one local and a while
    // loop; then with five locals, remainders and loop.
    {"calls3e6",
     R"(f: func [a b c /local t] [t: a + b t: t + c t]
i: 0 s: 0
while [i < 3000000] [s: f i 1 2 i: i + 1]
print ["calls3e6" s]
)",
     R"(def f(a, b, c):
    t = a + b
    t = t + c
    return t
def main():
    i = 0
    s = 0
    while i < 3000000:
        s = f(i, 1, 2)
        i = i + 1
    print("calls3e6", s)
main()
)",
     R"(local function f(a, b, c)
  local t = a + b
  t = t + c
  return t
end
local i, s = 0, 0
while i < 3000000 do
  s = f(i, 1, 2)
  i = i + 1
end
print(string.format("calls3e6 %d", s))
)"},
    {"calls",
     R"(f: func [a b c /local x y z w v] [
    x: a + b
    y: b * c
    z: x + y
    w: remainder z 1000
    v: w + a
    v - c
]
s: 0 i: 0
loop 3000000 [
    s: remainder s + (f i remainder i 100 remainder s 7) 1000003
    i: i + 1
]
print ["calls" s]
)",
     R"(def f(a, b, c):
    x = a + b
    y = b * c
    z = x + y
    w = z % 1000
    v = w + a
    return v - c
def main():
    s = 0
    for i in range(3_000_000):
        s = (s + f(i, i % 100, s % 7)) % 1000003
    print("calls", s)
main()
)",
     R"(local function f(a, b, c)
  local x = a + b
  local y = b * c
  local z = x + y
  local w = z % 1000
  local v = w + a
  return v - c
end
local s = 0
for i = 0, 3000000 - 1 do
  s = (s + f(i, i % 100, s % 7)) % 1000003
end
print(string.format("calls %d", s))
)"},

    // 1,000 particle objects, 2,000 steps of field reads and writes, each
    // bouncing off the walls of a 1000 x 1000 box.
    {"objects",
     R"(particle: object [x: 0 y: 0 vx: 0 vy: 0]
ps: make block! 1000
repeat k 1000 [
    i: k - 1
    append ps make particle [
        x: remainder i * 7 1000
        y: remainder i * 13 1000
        vx: (remainder i 7) - 3
        vy: (remainder i 5) - 2
    ]
]
bounces: 0
loop 2000 [
    foreach p ps [
        p/x: p/x + p/vx
        if any [p/x < 0 p/x >= 1000] [
            p/vx: negate p/vx
            p/x: p/x + p/vx + p/vx
            bounces: bounces + 1
        ]
        p/y: p/y + p/vy
        if any [p/y < 0 p/y >= 1000] [
            p/vy: negate p/vy
            p/y: p/y + p/vy + p/vy
            bounces: bounces + 1
        ]
    ]
]
sx: 0 sy: 0
foreach p ps [sx: sx + p/x sy: sy + p/y]
print ["objects" bounces sx sy]
)",
     R"(class Particle:
    def __init__(self, x, y, vx, vy):
        self.x = x
        self.y = y
        self.vx = vx
        self.vy = vy
def main():
    ps = [Particle(i * 7 % 1000, i * 13 % 1000, i % 7 - 3, i % 5 - 2) for i in range(1000)]
    bounces = 0
    for _ in range(2000):
        for p in ps:
            p.x = p.x + p.vx
            if p.x < 0 or p.x >= 1000:
                p.vx = -p.vx
                p.x = p.x + p.vx + p.vx
                bounces = bounces + 1
            p.y = p.y + p.vy
            if p.y < 0 or p.y >= 1000:
                p.vy = -p.vy
                p.y = p.y + p.vy + p.vy
                bounces = bounces + 1
    sx = 0
    sy = 0
    for p in ps:
        sx = sx + p.x
        sy = sy + p.y
    print("objects", bounces, sx, sy)
main()
)",
     R"(local ps = {}
for i = 0, 999 do
  ps[i + 1] = {x = i * 7 % 1000, y = i * 13 % 1000, vx = i % 7 - 3, vy = i % 5 - 2}
end
local bounces = 0
for _ = 1, 2000 do
  for _, p in ipairs(ps) do
    p.x = p.x + p.vx
    if p.x < 0 or p.x >= 1000 then
      p.vx = -p.vx
      p.x = p.x + p.vx + p.vx
      bounces = bounces + 1
    end
    p.y = p.y + p.vy
    if p.y < 0 or p.y >= 1000 then
      p.vy = -p.vy
      p.y = p.y + p.vy + p.vy
      bounces = bounces + 1
    end
  end
end
local sx, sy = 0, 0
for _, p in ipairs(ps) do sx = sx + p.x; sy = sy + p.y end
print(string.format("objects %d %d %d", bounces, sx, sy))
)"},

    // The 10 MB words text split into runs of a-z (PARSE, re.findall,
    // gmatch) and counted in a map! (dict, table).
    {"words",
     R"(text: read to file! first system/options/args
letter: charset [#"a" - #"z"]
other: complement letter
counts: make map! 10000
total: 0
parse text [any [
    copy w some letter (
        total: total + 1
        either n: select counts w [put counts w n + 1] [put counts w 1]
    )
    | some other
]]
mx: 0
foreach [w n] counts [if n > mx [mx: n]]
print ["words" total length? counts mx]
)",
     R"(import re, sys
def main():
    with open(sys.argv[1]) as f:
        text = f.read()
    counts = {}
    total = 0
    for w in re.findall(r"[a-z]+", text):
        total += 1
        counts[w] = counts.get(w, 0) + 1
    print("words", total, len(counts), max(counts.values()))
main()
)",
     R"(local f = assert(io.open(arg[1], "rb"))
local text = f:read("a")
f:close()
local counts, total, distinct = {}, 0, 0
for w in text:gmatch("%l+") do
  total = total + 1
  local n = counts[w]
  if n then counts[w] = n + 1 else counts[w] = 1; distinct = distinct + 1 end
end
local mx = 0
for _, n in pairs(counts) do if n > mx then mx = n end end
print(string.format("words %d %d %d", total, distinct, mx))
)",
     true},

    // 1e6 appends of short strings to one string (python: s += p, which
    // grows in place; lua: a table of pieces and one table.concat).
    {"strcat",
     R"(pieces: ["ab" "cde" "f" "ghij" "kl" "mnopq" "r"]
s: make string! 0
repeat i 1000000 [append s pick pieces 1 + remainder i - 1 7]
print ["strcat" length? s copy/part at s 1000000 12 copy skip tail s -12]
)",
     R"(def main():
    pieces = ["ab", "cde", "f", "ghij", "kl", "mnopq", "r"]
    s = ""
    for i in range(1_000_000):
        s += pieces[i % 7]
    print("strcat", len(s), s[999999:1000011], s[-12:])
main()
)",
     R"(local pieces = {"ab", "cde", "f", "ghij", "kl", "mnopq", "r"}
local t = {}
for i = 0, 1000000 - 1 do
  t[i + 1] = pieces[i % 7 + 1]
end
local s = table.concat(t)
print(string.format("strcat %d %s %s", #s, s:sub(1000000, 1000011), s:sub(-12)))
)"},

    // 1e6 calls with refinements named by a path (find/last, copy/part) and
    // of the library's modulo on integers.
    {"refine",
     R"(s: "the quick brown fox jumps over the lazy dog" n: 0
repeat i 1000000 [n: n + (modulo i 7) + length? copy/part find/last s "o" 2]
print ["refine" n]
)",
     R"(def main():
    s = "the quick brown fox jumps over the lazy dog"
    n = 0
    for i in range(1, 1000001):
        n += i % 7 + len(s[s.rfind("o"):][:2])
    print("refine", n)
main()
)",
     R"(local s = "the quick brown fox jumps over the lazy dog"
local n = 0
for i = 1, 1000000 do
  local p = s:match(".*()o")
  n = n + i % 7 + #s:sub(p, p + 1)
end
print(string.format("refine %d", n))
)"},

    // 1e6 string keys "k0" ... put into a map, then each looked up in a
    // scrambled order (j steps by 7919 modulo n: a permutation of 0 ... n - 1);
    // checksum s = (31 s + value) modulo 1000003.
    {"hashmap",
     R"(n: 1000000 m: make map! n
repeat i n [put m append copy "k" i - 1 i - 1]
s: 0 j: 0
loop n [
    s: remainder s * 31 + (select m append copy "k" j) 1000003
    j: remainder j + 7919 n
]
print ["hashmap" length? m s]
)",
     R"(def main():
    n = 1_000_000
    d = {}
    for i in range(n):
        d["k" + str(i)] = i
    s = 0
    j = 0
    for _ in range(n):
        s = (s * 31 + d["k" + str(j)]) % 1000003
        j = (j + 7919) % n
    print("hashmap", len(d), s)
main()
)",
     R"(local n = 1000000
local d = {}
local cnt = 0
for i = 0, n - 1 do
  d["k" .. i] = i
  cnt = cnt + 1
end
local s, j = 0, 0
for _ = 1, n do
  s = (s * 31 + d["k" .. j]) % 1000003
  j = (j + 7919) % n
end
print(string.format("hashmap %d %d", cnt, s))
)"},

    // 1e6 integers from the generator x = x * 48271 mod 2147483647 (seed
    // 42), sorted, then sampled. The product passes 32 bits, so Kiv carries x
    // as a float (exact below 2^53) and stores integers.
    {"sort",
     R"(n: 1000000 x: 42.0 a: make block! n
loop n [
    x: remainder x * 48271.0 2147483647.0
    append a to integer! x
]
sort a
ck: 0 i: 1
while [i <= n] [ck: ck + (remainder pick a i 1000) i: i + 1000]
print ["sort" first a pick a n / 2 + 1 last a ck]
)",
     R"(def main():
    n = 1_000_000
    x = 42
    a = []
    for _ in range(n):
        x = x * 48271 % 2147483647
        a.append(x)
    a.sort()
    ck = 0
    for i in range(0, n, 1000):
        ck = ck + a[i] % 1000
    print("sort", a[0], a[n // 2], a[n - 1], ck)
main()
)",
     R"(local n = 1000000
local x = 42
local a = {}
for i = 1, n do
  x = x * 48271 % 2147483647
  a[i] = x
end
table.sort(a)
local ck = 0
for i = 1, n, 1000 do ck = ck + a[i] % 1000 end
print(string.format("sort %d %d %d %d", a[1], a[math.floor(n / 2) + 1], a[n], ck))
)"},
};

}  // namespace bench
