// checksum and the random sources against independent references: python3's
// zlib, hashlib and hmac and `openssl dgst` over the same files, an internet
// checksum and a model of the generator written here, and whole kiv runs.
#include "services/checksum.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kiv_test.h"
#include "run_kiv.h"
#include "runtime/checksums.h"
#include "runtime/random.h"
#include "temp_dir.h"

namespace kiv {
namespace {

struct TempDir : test::TempDir {
  TempDir() : test::TempDir("kiv-checksum-") {}
};

// [n] bytes of a fixed pseudo-random sequence starting from [seed].
std::string pattern_bytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; i++) {
    x = x * 1103515245u + 12345u;
    s[i] = char(x >> 23);
  }
  return s;
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Standard output of the command [command] run in [dir] by the shell.
std::string shell_output(const std::string& dir, const std::string& command) {
  std::string full = "cd '" + dir + "' && " + command;
  std::string out;
  FILE* p = popen(full.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

// Standard output of the python3 program [program], run in [dir].
std::string python_output(const std::string& dir, const std::string& program) {
  std::ofstream(dir + "/model.py") << program;
  return shell_output(dir, "python3 model.py");
}

// Runs the script [body] (its header added) in [dir]; its standard output.
std::string kiv_output(const std::string& dir, const std::string& body) {
  std::ofstream(dir + "/t.kiv") << "Kiv []\n" << body;
  test::KivRun run = test::run_kiv({dir + "/t.kiv"}, dir);
  EXPECT_EQ(run.status, 0) << run.errors << run.output;
  return run.output;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Compares two outputs line by line, so a failure names the first line that differs.
void expect_same_lines(const std::string& got, const std::string& expected) {
  std::vector<std::string> g = lines_of(got), e = lines_of(expected);
  ASSERT_FALSE(e.empty());
  ASSERT_EQ(g.size(), e.size()) << got;
  for (size_t i = 0; i < e.size(); i++) ASSERT_EQ(g[i], e[i]) << "line " << i + 1;
}

constexpr size_t kMiB = 1 << 20;

// ---------------------------------------------------------------- crc32, adler32, tcp

// Lengths around the 16-byte steps, both Adler block sizes (3,854 and 5,552)
// and CRC's 8-byte slices; the last file is all 0xFF, Adler's largest sums.
TEST(Checksum, Crc32AndAdler32MatchZlib) {
  TempDir dir;
  const size_t lengths[] = {0,    1,    2,    7,    8,    9,    15,    16,    17,
                            3853, 3854, 3855, 5551, 5552, 5553, 11105, 65537, kMiB};
  std::string names;
  for (size_t i = 0; i < std::size(lengths); i++) {
    write_bytes(dir.path() + "/d" + std::to_string(i), pattern_bytes(lengths[i], uint32_t(i)));
    names += " %d" + std::to_string(i);
  }
  write_bytes(dir.path() + "/ff", std::string(kMiB, '\xFF'));
  names += " %ff";
  std::string got =
      kiv_output(dir.path(), "foreach f [" + names +
                                 "] [d: read/binary f\n"
                                 "print [checksum f 'crc32 checksum d 'CRC32 checksum d 'adler32]]\n");
  std::string expected =
      python_output(dir.path(),
                    "import zlib\n"
                    "def s(v): return v - (1 << 32) if v >= 1 << 31 else v\n"
                    "for f in [w[1:] for w in '''" +
                        names +
                        "'''.split()]:\n"
                        "    b = open(f, 'rb').read()\n"
                        "    print(s(zlib.crc32(b)), s(zlib.crc32(b)), s(zlib.adler32(b)))\n");
  expect_same_lines(got, expected);
}

// A stream summed in pieces gives what it gives whole.
TEST(Checksum, PiecesGiveTheWholeResult) {
  std::string bytes = pattern_bytes(20000, 7);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  uint32_t crc = 0, adler = 1;
  for (size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 + 1) {
    size_t n = std::min(step, bytes.size() - at);
    crc = crc32_update(crc, p + at, n);
    adler = adler32_update(adler, p + at, n);
  }
  EXPECT_EQ(crc, crc32_of(p, bytes.size()));
  EXPECT_EQ(adler, adler32_of(p, bytes.size()));
}

// RFC 1071 as written: 16-bit big-endian words, carries folded at the end.
uint16_t reference_internet_checksum(const std::string& bytes) {
  unsigned long long sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    unsigned high = uint8_t(bytes[i]);
    unsigned low = i + 1 < bytes.size() ? uint8_t(bytes[i + 1]) : 0;
    sum += high * 256 + low;
  }
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

TEST(Checksum, TcpMatchesAReferenceSumWithoutLosingCarries) {
  TempDir dir;
  std::vector<std::string> data = {"",
                                   std::string("\x00\x01\xF2", 3),
                                   pattern_bytes(1, 1),
                                   pattern_bytes(1001, 2),
                                   pattern_bytes(65536, 3),
                                   std::string(128 * 1024, '\xFF'),
                                   std::string(kMiB, '\xFF'),
                                   std::string(kMiB + 1, '\xFF')};
  std::string expected, names;
  for (size_t i = 0; i < data.size(); i++) {
    write_bytes(dir.path() + "/d" + std::to_string(i), data[i]);
    names += " %d" + std::to_string(i);
    expected += std::to_string(reference_internet_checksum(data[i])) + "\n";
  }
  EXPECT_EQ(reference_internet_checksum(std::string("\x00\x01\xF2", 3)), 0x0DFE);
  std::string got = kiv_output(dir.path(), "foreach f [" + names + "] [print checksum f 'tcp]\n");
  expect_same_lines(got, expected);
}

// ---------------------------------------------------------------- digests and HMAC

// Every digest method, plain and with each key length, over data lengths at
// the 64- and 128-byte block edges (55/56 and 111/112: where the length
// field no longer fits the last block) and 1 MiB.
TEST(Checksum, DigestsAndHmacMatchHashlib) {
  TempDir dir;
  const size_t data_lengths[] = {0, 1, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, kMiB};
  const size_t key_lengths[] = {0, 1, 64, 65, 128, 129, 200};
  std::string data_names, key_names;
  for (size_t i = 0; i < std::size(data_lengths); i++) {
    write_bytes(dir.path() + "/d" + std::to_string(i), pattern_bytes(data_lengths[i], uint32_t(100 + i)));
    data_names += " %d" + std::to_string(i);
  }
  for (size_t i = 0; i < std::size(key_lengths); i++) {
    write_bytes(dir.path() + "/k" + std::to_string(i), pattern_bytes(key_lengths[i], uint32_t(200 + i)));
    key_names += " %k" + std::to_string(i);
  }
  std::string got =
      kiv_output(dir.path(), "keys: collect [foreach k [" + key_names +
                                 "] [keep read/binary k]]\n"
                                 "foreach f [" +
                                 data_names +
                                 "] [\n"
                                 "  d: read/binary f\n"
                                 "  foreach m [md5 sha1 sha256 sha384 sha512] [\n"
                                 "    print enbase/base checksum d m 16\n"
                                 "    foreach k keys [print enbase/base checksum/with d m k 16]]]\n");
  std::string expected =
      python_output(dir.path(),
                    "import hashlib, hmac\n"
                    "names = lambda t: [w[1:] for w in t.split()]\n"
                    "keys = [open(k, 'rb').read() for k in names('''" +
                        key_names +
                        "''')]\n"
                        "for f in names('''" +
                        data_names +
                        "'''):\n"
                        "    d = open(f, 'rb').read()\n"
                        "    for m in ['md5', 'sha1', 'sha256', 'sha384', 'sha512']:\n"
                        "        print(hashlib.new(m, d).hexdigest().upper())\n"
                        "        for k in keys: print(hmac.new(k, d, m).hexdigest().upper())\n");
  expect_same_lines(got, expected);
}

// A file! is summed whole, across the pieces it is read in; openssl's
// digest and HMAC of the same file agree.
TEST(Checksum, FileDigestsMatchOpensslDgst) {
  TempDir dir;
  write_bytes(dir.path() + "/big", pattern_bytes(2 * kMiB + 3, 9));
  std::string got, expected;
  for (const char* m : {"md5", "sha1", "sha256", "sha384", "sha512"}) {
    got += kiv_output(dir.path(), std::string("print lowercase enbase/base checksum %big '") + m +
                                      " 16\nprint lowercase enbase/base checksum/with %big '" + m +
                                      " \"k\" 16\n");
    for (const char* hmac : {"", " -hmac k"}) {
      std::string line = shell_output(dir.path(), std::string("openssl dgst -") + m + hmac + " -r big");
      expected += line.substr(0, line.find(' ')) + "\n";
    }
  }
  expect_same_lines(got, expected);
}

// A string's bytes are its UTF-8 from its index; a key string is UTF-8 too.
TEST(Checksum, StringsAreUtf8FromTheirIndex) {
  TempDir dir;
  std::string got = kiv_output(dir.path(),
                               "print enbase/base checksum next \"x\u00E9\u20AC\" 'md5 16\n"
                               "print enbase/base checksum/with \"d\" 'sha256 \"k\u00E9\" 16\n"
                               "print checksum skip #{0001F2} 1 'crc32\n");
  std::string expected =
      python_output(dir.path(),
                    "import hashlib, hmac, zlib\n"
                    "print(hashlib.md5('\u00E9\u20AC'.encode()).hexdigest().upper())\n"
                    "print(hmac.new('k\u00E9'.encode(), b'd', 'sha256').hexdigest().upper())\n"
                    "print(zlib.crc32(bytes([1, 0xF2])))\n");
  expect_same_lines(got, expected);
}

// ---------------------------------------------------------------- random numbers

// The generator as documented: a 624-word twister whose right shifts keep
// the sign, the first draw after seeding being the tempered seed itself.
// `random/seed s` then `random -2147483648` gives NOT of the raw draw.
TEST(Random, RawDrawsMatchAModelOfTheGenerator) {
  TempDir dir;
  const char* seeds[] = {"0", "1", "-1", "-2147483648"};
  std::string script = "draws: does [loop 1300 [print -1 - random -2147483648]]\ndraws\n";
  for (const char* s : seeds) script += std::string("random/seed ") + s + "\ndraws\n";
  std::string got = kiv_output(dir.path(), script);
  std::string expected = python_output(dir.path(), R"py(
M32 = 0xFFFFFFFF
def sar(x, n):
    x &= M32
    if x & 0x80000000: x -= 1 << 32
    return (x >> n) & M32
class Twister:
    def __init__(self, seed):
        self.s = [seed & M32]
        for i in range(1, 624):
            p = self.s[-1]
            self.s.append((1812433253 * (p ^ sar(p, 30)) + i) & M32)
        self.i = 0
    def next(self):
        if self.i == 624:
            s = self.s
            for k in range(624):
                y = (s[k] & 0x80000000) | (s[(k + 1) % 624] & 0x7FFFFFFF)
                s[k] = s[(k + 397) % 624] ^ sar(y, 1) ^ (0x9908B0DF if y & 1 else 0)
            self.i = 0
        y = self.s[self.i]; self.i += 1
        y ^= sar(y, 11)
        y ^= (y << 7) & 0x9D2C5680
        y ^= (y << 15) & 0xEFC60000
        y &= M32
        y ^= sar(y, 18)
        assert y < 1 << 31
        return y
for seed in [19650218, 0, 1, -1, -2147483648]:
    t = Twister(seed)
    for _ in range(1300): print(t.next())
)py");
  expect_same_lines(got, expected);
}

// The chi-square of 60,000 draws of `random 6` against the uniform counts,
// 5 degrees of freedom: above 25.7 happens by chance once in 10,000 runs.
double chi_square_of(const std::string& counts) {
  std::vector<std::string> lines = lines_of(counts);
  EXPECT_EQ(lines.size(), 6u) << counts;
  double chi = 0, total = 0;
  for (const std::string& l : lines) {
    double c = std::stod(l);
    total += c;
    chi += (c - 10000) * (c - 10000) / 10000;
  }
  EXPECT_EQ(total, 60000);
  return chi;
}

TEST(Random, SixSidedDrawsAreUniform) {
  TempDir dir;
  for (const char* draw : {"random 6", "random/secure 6"}) {
    std::string counts =
        kiv_output(dir.path(), std::string("c: copy [0 0 0 0 0 0]\n"
                                           "loop 60000 [n: ") +
                                   draw +
                                   " if any [n < 1 n > 6] [print [\"out\" n]] poke c n 1 + pick c n]\n"
                                   "foreach n c [print n]\n");
    EXPECT_LT(chi_square_of(counts), 25.7) << draw << "\n" << counts;
  }
}

// A secure draw never falls back to the generator: in a child where getrandom
// fails (ENOSYS) and no file opens (EACCES), it raises cannot-open.
TEST(Random, SecureDrawWithoutASourceRaisesCannotOpen) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program = {uint16_t(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      _exit(3);
    if (test::catch_error([] { random_next_secure(); }) != kErrAccessCannotOpen) _exit(1);
    _exit(test::mold_of(last_raised_error().args[0]) == "%/dev/urandom" ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another error or none, 2: another path, 3: no filter";
}

}  // namespace
}  // namespace kiv
