// The clipboard: its formats as C++ calls, then the routines in whole kiv runs
// with the environment chosen by the test: the clipboard kept in the process;
// stand-in wl-copy/wl-paste and xclip on PATH that keep the offered types and
// the data in files and record their arguments and input; tools that fail or
// never answer; and, when Xvfb is installed, the real xclip on a display of
// the test's own.
#include "services/clipboard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run_kiv.h"
#include "services/image_codecs.h"
#include "temp_dir.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- formats

TEST(ClipboardFormat, BadUtf8BecomesReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain é ✓ 😀", "plain é ✓ 😀"},
      {"a\xFF"
       "b",
       "a" + r + "b"},
      {"\xC3", r},  // cut off at the end
      {"\xE2\x9C"
       "x",
       r + "x"},                // cut off before another character
      {"\xC0\x80", r + r},      // C0 is never a lead
      {"\xE0\x80\x80", r},      // overlong
      {"\xED\xA0\x80", r},      // surrogate
      {"\xEF\xBF\xBE", r},      // U+FFFE
      {"\xF4\x90\x80\x80", r},  // past U+10FFFF
      {"\x80\x80", r + r},      // stray continuation bytes
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(clipboard_repair_utf8(c.in), c.out) << c.in;
}

TEST(ClipboardFormat, FileListsAreUriListsOfAbsolutePaths) {
  EXPECT_EQ(clipboard_uri_list({"/tmp/a.txt", "/x y/é:%#?\\", "/d/"}),
            "file:///tmp/a.txt\r\nfile:///x%20y/%C3%A9%3A%25%23%3F%5C\r\nfile:///d/\r\n");
  EXPECT_EQ(clipboard_uri_list({}), "");
  std::vector<std::string> names = {"/tmp/a.txt", "/x y/é:%#?\\", "/d/", "/a\nb\r"};
  EXPECT_EQ(clipboard_parse_uri_list(clipboard_uri_list(names)), names);
}

TEST(ClipboardFormat, OnlyLocalFileUrisAreRead) {
  const std::string list =
      "# a comment\r\n"
      "\r\n"
      "file:///a%20b\r\n"
      "FILE://localhost/c\n"
      "file:/d\n"
      "file://otherhost/e\n"
      "http://host/f\n"
      "file:relative\n"
      "file:///nul%00name\n"
      "file:///g?query#fragment\n"
      "file:///bad%FF%zz%4\n"
      "file:///last";
  EXPECT_EQ(clipboard_parse_uri_list(list),
            (std::vector<std::string>{"/a b", "/c", "/d", "/g", "/bad\xEF\xBF\xBD%zz%4", "/last"}));
}

// ---------------------------------------------------------------- whole runs

using test::read_file;
// A fresh directory removed at the end of the test.
struct TempDir : test::TempDir {
  TempDir() : test::TempDir("kiv-clip-") {}
};

void write_file(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// The stand-ins, one script under three names. The store directory
// ($KIV_CLIP_STORE) holds `types` (the offered types, one a line), `data`
// (the content, the same for every type), `calls` (each call's name and
// arguments, a line each) and `inputs` (every input, one after the other).
// KIV_CLIP_MODE=fail makes every call fail; =hang makes it start a child and
// wait forever, both pids in `pids`.
const char* kFakeTool = R"sh(#!/bin/sh
s="$KIV_CLIP_STORE"
name=$(basename "$0")
echo "$name $*" >> "$s/calls"
case "$KIV_CLIP_MODE" in
  fail) echo "something went wrong" >&2; exit 1 ;;
  hang) sleep 300 & echo "$$ $!" >> "$s/pids"; wait; exit 0 ;;
esac
offered() { [ -s "$s/types" ] && grep -qxF "$1" "$s/types"; }
copy() { cat > "$s/data"; cat "$s/data" >> "$s/inputs"; printf '%s\n' "$1" > "$s/types"; }
case "$name $1 $2 $3 $4" in
  "wl-copy --clear   ") rm -f "$s/types" "$s/data" ;;
  "wl-copy --type $2  ") copy "$2" ;;
  "wl-paste --list-types   ") [ -s "$s/types" ] || { echo "No selection" >&2; exit 1; }; cat "$s/types" ;;
  "wl-paste --no-newline --type $3 ") offered "$3" && cat "$s/data" ;;
  "xclip -selection clipboard -t $4") [ "$5" = -i ] && copy "$4" ;;
  "xclip -selection clipboard -o -t")
    if [ "$5" = TARGETS ] && [ -s "$s/types" ]; then echo TARGETS; cat "$s/types"
    elif offered "$5"; then cat "$s/data"
    else echo "Error: target $5 not available" >&2; exit 1; fi ;;
  *) echo "unexpected call" >&2; exit 2 ;;
esac
)sh";

// A directory of stand-in tools and its store, and the environment that
// selects them.
class FakeTools {
 public:
  explicit FakeTools(bool wayland) : wayland_(wayland) {
    for (const char* name : {"wl-copy", "wl-paste", "xclip"}) {
      std::string file = bin() + "/" + name;
      fs::create_directories(bin());
      write_file(file, kFakeTool);
      chmod(file.c_str(), 0755);
    }
    fs::create_directories(store());
  }
  std::string bin() const { return dir_.path() + "/bin"; }
  std::string store() const { return dir_.path() + "/store"; }
  const std::string& work() const { return dir_.path(); }
  std::vector<std::string> env(const std::string& mode = "") const {
    const char* path = std::getenv("PATH");
    std::vector<std::string> e = {"PATH=" + bin() + ":" + (path ? path : "/usr/bin:/bin"),
                                  "KIV_CLIP_STORE=" + store(), "KIV_CLIP_MODE=" + mode};
    if (wayland_) {
      e.push_back("WAYLAND_DISPLAY=wayland-test");
      e.push_back("DISPLAY");
    } else {
      e.push_back("WAYLAND_DISPLAY");
      e.push_back("DISPLAY=:99");
    }
    return e;
  }
  // Offers [types] (one a line) holding [data].
  void offer(const std::string& types, const std::string& data) const {
    write_file(store() + "/types", types);
    write_file(store() + "/data", data);
  }
  std::string stored(const char* name) const { return read_file(store() + "/" + name); }

 private:
  TempDir dir_;
  bool wayland_;
};

// Runs the Kiv [code] as a script in [dir], with [env].
test::KivRun run_code(const std::string& dir, const std::string& code, const std::vector<std::string>& env) {
  write_file(dir + "/clip.kiv", "Kiv []\n" + code);
  return test::run_kiv({dir + "/clip.kiv"}, dir, env);
}

// Text, a list of files (a relative one, blanks, non-ASCII letters, a colon,
// a directory), an empty list and nothing, each written and read back; then
// the values a write refuses before touching the clipboard.
const char* kRoundTrip = R"kiv(print mold read-clipboard
print write-clipboard "héllo^/wörld"
print mold read-clipboard
print write-clipboard reduce [%a.txt to-file "/tmp/with blank/é ü:x.txt" %sub/]
print mold read-clipboard
print write-clipboard []
print mold read-clipboard
print write-clipboard none
print mold read-clipboard
foreach v reduce [12 [%a.txt "b"] reduce [%a.txt to-file "b^@c"] ] [
	e: try [write-clipboard v] print e/id
]
print mold read-clipboard
)kiv";

std::string round_trip_output(const std::string& dir) {
  return "none\ntrue\n\"héllo^/wörld\"\ntrue\n[%" + dir + "/a.txt %\"/tmp/with blank/é ü:x.txt\" %" + dir +
         "/sub/]\ntrue\n[]\ntrue\nnone\ninvalid-arg\ninvalid-arg\ninvalid-arg\nnone\n";
}

std::string round_trip_inputs(const std::string& dir) {
  return "héllo\nwörld"
         "file://" +
         dir + "/a.txt\r\nfile:///tmp/with%20blank/%C3%A9%20%C3%BC%3Ax.txt\r\nfile://" + dir + "/sub/\r\n";
}

TEST(Clipboard, WithoutADisplayTheProcessKeepsIt) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  test::KivRun run = run_code(dir.path(), kRoundTrip, {"DISPLAY", "WAYLAND_DISPLAY"});
  EXPECT_EQ(run.output, round_trip_output(dir.path()));
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
}

TEST(Clipboard, UnderWaylandItGoesThroughWlCopyAndWlPaste) {
  FakeTools tools(true);
  test::KivRun run = run_code(tools.work(), kRoundTrip, tools.env());
  EXPECT_EQ(run.output, round_trip_output(tools.work()));
  EXPECT_EQ(run.errors, "");
  // Types are listed before each fetch; the refused writes called nothing.
  EXPECT_EQ(tools.stored("calls"),
            "wl-paste --list-types\n"
            "wl-copy --type text/plain;charset=utf-8\n"
            "wl-paste --list-types\n"
            "wl-paste --no-newline --type text/plain;charset=utf-8\n"
            "wl-copy --type text/uri-list\n"
            "wl-paste --list-types\n"
            "wl-paste --no-newline --type text/uri-list\n"
            "wl-copy --type text/uri-list\n"
            "wl-paste --list-types\n"
            "wl-paste --no-newline --type text/uri-list\n"
            "wl-copy --clear\n"
            "wl-paste --list-types\n"
            "wl-paste --list-types\n");
  EXPECT_EQ(tools.stored("inputs"), round_trip_inputs(tools.work()));
}

TEST(Clipboard, UnderXItGoesThroughXclip) {
  FakeTools tools(false);
  test::KivRun run = run_code(tools.work(), kRoundTrip, tools.env());
  EXPECT_EQ(run.output, round_trip_output(tools.work()));
  EXPECT_EQ(run.errors, "");
  // Each write is followed by a fetch of what it put, until the selection serves it.
  const std::string list = "xclip -selection clipboard -o -t TARGETS\n";
  const std::string text = "xclip -selection clipboard -o -t UTF8_STRING\n";
  const std::string files = "xclip -selection clipboard -o -t text/uri-list\n";
  const std::string put_text = "xclip -selection clipboard -t UTF8_STRING -i\n" + text;
  const std::string put_files = "xclip -selection clipboard -t text/uri-list -i\n" + files;
  EXPECT_EQ(tools.stored("calls"), list + text +                   // no owner yet: text is asked for once
                                       put_text + list + text +    //
                                       put_files + list + files +  //
                                       put_files + list + files +  //
                                       put_text + list + text +    // none: empty text, which reads as nothing
                                       list + text);
  EXPECT_EQ(tools.stored("inputs"), round_trip_inputs(tools.work()));
}

TEST(Clipboard, TheOfferedTypesChooseWhatIsRead) {
  struct Case {
    bool wayland;
    std::string types, data, read;
  } cases[] = {
      {true, "image/png\ntext/uri-list\ntext/plain;charset=utf-8\n", "é", "\"é\""},
      {true, "image/png\ntext/uri-list\n", "file:///a\r\nfile:///b%20c\r\n", "[%/a %\"/b c\"]"},
      {true, "text/plain\nTEXT\n", "plain", "\"plain\""},
      {true, "text/plain;charset=UTF-8\n", "upper", "\"upper\""},
      {true, "image/tiff\nimage/webp\n", "II*", "none"},
      {true, "\n", "", "none"},
      {false, "TIMESTAMP\nimage/png\nUTF8_STRING\n", "x", "\"x\""},
      {false, "text/uri-list\n", "# only a comment\r\nhttp://h/x\r\n", "[]"},
      {false, "STRING\n", "latin", "none"},
      // Bad bytes from the tool become U+FFFD; the run goes on.
      {true, "text/plain;charset=utf-8\n",
       "a\xFF"
       "b\xC3",
       "\"a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD\""},
      {true, "text/uri-list\n", "file:///x%FF\r\n", "[%/x\xEF\xBF\xBD]"},
  };
  for (const Case& c : cases) {
    FakeTools tools(c.wayland);
    tools.offer(c.types, c.data);
    test::KivRun run = run_code(tools.work(), "print mold read-clipboard\nprint \"on\"\n", tools.env());
    EXPECT_EQ(run.output, c.read + "\non\n") << c.types;
    EXPECT_EQ(run.status, 0);
  }
}

TEST(Clipboard, AToolThatFailsGivesFalse) {
  for (bool wayland : {true, false}) {
    FakeTools tools(wayland);
    tools.offer("text/plain;charset=utf-8\nUTF8_STRING\n", "x");
    test::KivRun run =
        run_code(tools.work(),
                 "print mold read-clipboard print write-clipboard \"t\" print write-clipboard none "
                 "print write-clipboard [%/a]\n",
                 tools.env("fail"));
    EXPECT_EQ(run.output, "false\nfalse\nfalse\nfalse\n") << wayland;
    EXPECT_EQ(run.status, 0);
  }
  // A fetch that fails after the types were listed.
  FakeTools tools(true);
  tools.offer("text/uri-list\n", "file:///a\r\n");
  write_file(tools.bin() + "/wl-paste",
             "#!/bin/sh\n[ \"$1\" = --list-types ] && echo text/uri-list && exit 0\nexit 1\n");
  test::KivRun run = run_code(tools.work(), "print mold read-clipboard\n", tools.env());
  EXPECT_EQ(run.output, "false\n");
}

// ---------------------------------------------------------------- images

// An image with alpha is written (as PNG) and read back equal; an image
// with no pixels empties the clipboard, as none does.
const char* kImageRoundTrip =
    R"kiv(img: make image! [3x2 #{FF000000FF000000FF102030405060708090} #{00408AC0FF10}]
print write-clipboard img
print equal? img read-clipboard
print write-clipboard make image! 0x0
print mold read-clipboard
write-clipboard "x"
print write-clipboard make image! 0x4
print mold read-clipboard
)kiv";
const char* kImageRoundTripOutput = "true\ntrue\ntrue\nnone\ntrue\nnone\n";

// The 2x1 picture red, half-transparent green, encoded as [format].
std::string encoded(ImageFormat format) {
  PixelImage image;
  image.width = 2;
  image.height = 1;
  image.pixels = {0xFFFF0000u, 0x8000FF00u};
  std::vector<uint8_t> bytes;
  std::string why;
  EXPECT_TRUE(image_encode(format, image, &bytes, &why)) << why;
  return std::string(bytes.begin(), bytes.end());
}

TEST(ClipboardImage, WithoutADisplayTheProcessKeepsIt) {
  TempDir dir;
  test::KivRun run = run_code(dir.path(), kImageRoundTrip, {"DISPLAY", "WAYLAND_DISPLAY"});
  EXPECT_EQ(run.output, kImageRoundTripOutput);
  EXPECT_EQ(run.errors, "");
}

TEST(ClipboardImage, WrittenAsPngOneTypeACall) {
  for (bool wayland : {true, false}) {
    FakeTools tools(wayland);
    test::KivRun run = run_code(tools.work(), kImageRoundTrip, tools.env());
    EXPECT_EQ(run.output, kImageRoundTripOutput) << wayland;
    EXPECT_EQ(run.errors, "");
    const std::string inputs = tools.stored("inputs");
    EXPECT_EQ(inputs.substr(0, 8), "\x89PNG\r\n\x1A\n");
    EXPECT_EQ(inputs.substr(inputs.size() - 1), "x");
    if (wayland) {
      EXPECT_EQ(tools.stored("calls"),
                "wl-copy --type image/png\n"
                "wl-paste --list-types\n"
                "wl-paste --no-newline --type image/png\n"
                "wl-copy --clear\n"
                "wl-paste --list-types\n"
                "wl-copy --type text/plain;charset=utf-8\n"
                "wl-copy --clear\n"
                "wl-paste --list-types\n");
    } else {
      // Each write is followed by a fetch of what it put; xclip clears with empty text.
      const std::string list = "xclip -selection clipboard -o -t TARGETS\n";
      const std::string png = "xclip -selection clipboard -o -t image/png\n";
      const std::string text = "xclip -selection clipboard -o -t UTF8_STRING\n";
      const std::string put_text = "xclip -selection clipboard -t UTF8_STRING -i\n" + text;
      EXPECT_EQ(tools.stored("calls"), "xclip -selection clipboard -t image/png -i\n" + png + list + png +
                                           put_text + list + text + put_text + put_text + list + text);
    }
  }
}

TEST(ClipboardImage, OffersAreTakenInOrderAfterTextAndFiles) {
  const std::string png = encoded(ImageFormat::kPng);
  const std::string bmp = encoded(ImageFormat::kBmp);
  struct Case {
    std::string types, data, fetched, read = "2x1 255.0.0.0 0.255.0.127";
  } cases[] = {
      {"image/bmp\nimage/gif\nimage/jpeg\nimage/png\n", png, "image/png"},
      {"image/bmp\nimage/gif\nIMAGE/JPEG\n", png, "IMAGE/JPEG"},
      // GIF has no partial transparency: the green is opaque
      {"image/tiff\nimage/bmp\nimage/gif\n", encoded(ImageFormat::kGif), "image/gif",
       "2x1 255.0.0.0 0.255.0.0"},
      {"image/bmp\n", bmp, "image/bmp"},
      // a bare bitmap (its header and pixels, no file header)
      {"image/bmp\n", bmp.substr(14), "image/bmp"},
  };
  for (bool wayland : {true, false}) {
    for (const Case& c : cases) {
      FakeTools tools(wayland);
      tools.offer(c.types, c.data);
      test::KivRun run =
          run_code(tools.work(), "i: read-clipboard print [i/size pick i 1 pick i 2]", tools.env());
      EXPECT_EQ(run.output, c.read + "\n") << c.types << wayland << run.errors;
      const std::string calls = tools.stored("calls");
      const std::string last = wayland ? "wl-paste --no-newline --type " + c.fetched + "\n"
                                       : "xclip -selection clipboard -o -t " + c.fetched + "\n";
      EXPECT_TRUE(calls.size() >= last.size() && calls.substr(calls.size() - last.size()) == last) << calls;
    }
  }
  // Text and files come first; an offer that does not decode is bad-media.
  FakeTools tools(true);
  tools.offer("image/png\ntext/uri-list\n", "file:///a\r\n");
  EXPECT_EQ(run_code(tools.work(), "print mold read-clipboard", tools.env()).output, "[%/a]\n");
  tools.offer("image/png\n", "\x89PNG\r\n");
  test::KivRun run = run_code(tools.work(), "e: try [read-clipboard] print [e/type e/id]", tools.env());
  EXPECT_EQ(run.output, "access bad-media\n");
}

// True when [pid] is gone or a zombie nobody has reaped yet (its parent is
// not the test).
bool ended_q(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return true;
  size_t close_paren = stat.rfind(')');
  return close_paren != std::string::npos && stat.size() > close_paren + 2 && stat[close_paren + 2] == 'Z';
}

TEST(Clipboard, AToolThatNeverAnswersIsKilledAfterTwoSeconds) {
  for (bool wayland : {true, false}) {
    FakeTools tools(wayland);
    // The text to write is larger than a pipe holds: the write itself stalls.
    auto start = std::chrono::steady_clock::now();
    test::KivRun run = run_code(
        tools.work(),
        "print mold read-clipboard\nprint write-clipboard append/dup copy \"\" \"0123456789\" 200000\n",
        tools.env("hang"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.output, "false\nfalse\n") << wayland;
    EXPECT_EQ(run.status, 0);
    EXPECT_GE(seconds, 3.9);
    EXPECT_LT(seconds, 120.0);  // far below the stand-ins' 300 s sleeps, with room for slow builds
    // The tools and the children they started are gone.
    std::istringstream pids(tools.stored("pids"));
    int count = 0;
    for (pid_t pid; pids >> pid; count++) {
      for (int i = 0; i < 100 && !ended_q(pid); i++) usleep(10000);
      EXPECT_TRUE(ended_q(pid)) << pid;
    }
    EXPECT_EQ(count, 4);
  }
}

// ---------------------------------------------------------------- real X

// An Xvfb server on a display it picks itself (-displayfd), stopped by pid.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~Xvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Runs xclip on [display] with [args] and [input]; its standard output.
std::string xclip(const std::string& display, const std::string& args, const std::string& input = "") {
  TempDir dir;
  write_file(dir.path() + "/in", input);
  // xclip -i stays behind to serve the selection: its output must not be a pipe read here.
  const bool put = args.find("-i") != std::string::npos;
  std::string command = "DISPLAY=" + display + " xclip -selection clipboard " + args + " < " + dir.path() +
                        "/in" + (put ? " > /dev/null 2>&1" : " 2> /dev/null");
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

bool installed_q(const char* tool) {
  return std::system((std::string("command -v ") + tool + " > /dev/null 2>&1").c_str()) == 0;
}

TEST(Clipboard, RealXThroughXclip) {
  if (!installed_q("Xvfb"))
    GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb): no X server to test with";
  ASSERT_TRUE(installed_q("xclip")) << "xclip is not installed (Debian package xclip)";
  Xvfb server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  TempDir dir;
  const std::vector<std::string> env = {"WAYLAND_DISPLAY", "DISPLAY=" + server.display()};
  test::KivRun run = run_code(dir.path(), kRoundTrip, env);
  EXPECT_EQ(run.output, round_trip_output(dir.path()));
  EXPECT_EQ(run.errors, "");

  // A read right after a write sees what was written (xclip takes the
  // selection only after it returns).
  run = run_code(dir.path(),
                 "bad: 0\n"
                 "repeat i 50 [\n"
                 "	write-clipboard form i\n"
                 "	if (form i) <> read-clipboard [bad: bad + 1]\n"
                 "	files: reduce [to-file append copy \"/x\" form i]\n"
                 "	write-clipboard files\n"
                 "	if files <> read-clipboard [bad: bad + 1]\n"
                 "]\n"
                 "print bad\n",
                 env);
  EXPECT_EQ(run.output, "0\n");

  // What kiv puts there, other programs read with its type.
  run = run_code(dir.path(), "print write-clipboard \"ünï\"", env);
  EXPECT_EQ(run.output, "true\n");
  EXPECT_EQ(xclip(server.display(), "-o -t TARGETS"), "TARGETS\nUTF8_STRING\n");
  EXPECT_EQ(xclip(server.display(), "-o -t UTF8_STRING"), "ünï");
  run = run_code(dir.path(), "print write-clipboard [%/tmp/a%20b]", env);
  EXPECT_EQ(xclip(server.display(), "-o -t TARGETS"), "TARGETS\ntext/uri-list\n");
  EXPECT_EQ(xclip(server.display(), "-o -t text/uri-list"), "file:///tmp/a%20b\r\n");

  // What other programs put there, kiv reads.
  xclip(server.display(), "-t text/uri-list -i", "file:///x%C3%A9\nfile://localhost/y/\n");
  run = run_code(dir.path(), "print mold read-clipboard", env);
  EXPECT_EQ(run.output, "[%/xé %/y/]\n");
  xclip(server.display(), "-t image/png -i", "\x89PNG");
  run = run_code(dir.path(), "e: try [read-clipboard] print e/id", env);
  EXPECT_EQ(run.output, "bad-media\n");

  // An image goes there as PNG, which other programs read.
  run = run_code(dir.path(), kImageRoundTrip, env);
  EXPECT_EQ(run.output, kImageRoundTripOutput);
  run = run_code(dir.path(), "print write-clipboard make image! [2x1 #{FF000000FF00} #{007F}]", env);
  EXPECT_EQ(xclip(server.display(), "-o -t TARGETS"), "TARGETS\nimage/png\n");
  EXPECT_EQ(xclip(server.display(), "-o -t image/png"), encoded(ImageFormat::kPng));
}

}  // namespace
}  // namespace kiv
