// The clipboard routines in whole kiv runs, with the environment chosen by
// the test: the clipboard kept in the process, and a stand-in xclip on PATH
// that keeps the text in a file, so the spawn and pipe path is exercised
// without a display.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_kiv.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

const std::string kScript = std::string(KIV_SOURCE_DIR) + "/tests/scripts/clipboard.kiv";

// The script's output when the clipboard works: empty, then the text, then
// cleared; a block of files is refused.
const std::string kRoundTrip = "none\ntrue\n\"héllo\"\ntrue\nnone\nfalse\n";

// A fresh directory removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kiv-clip-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) path_ = buffer.data();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Writes an executable shell script [name] with [body] into [dir].
void write_tool(const std::string& dir, const std::string& name, const std::string& body) {
  std::string file = dir + "/" + name;
  std::ofstream(file) << "#!/bin/sh\n" << body;
  chmod(file.c_str(), 0755);
}

std::string path_with(const std::string& dir) {
  const char* path = std::getenv("PATH");
  return "PATH=" + dir + ":" + (path ? path : "/usr/bin:/bin");
}

TEST(Clipboard, WithoutADisplayTheProcessKeepsIt) {
  test::KivRun run = test::run_kiv({kScript}, "", {"DISPLAY", "WAYLAND_DISPLAY"});
  EXPECT_EQ(run.output, kRoundTrip);
  EXPECT_EQ(run.status, 0);
}

TEST(Clipboard, UnderXTheTextGoesThroughXclip) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string store = dir.path() + "/store";
  // -selection clipboard -i stores standard input, -o prints it back.
  write_tool(dir.path(), "xclip",
             "[ \"$1 $2\" = \"-selection clipboard\" ] || exit 2\n"
             "case \"$3\" in\n"
             "  -i) cat > \"$KIV_CLIP_STORE\" ;;\n"
             "  -o) [ -f \"$KIV_CLIP_STORE\" ] && cat \"$KIV_CLIP_STORE\"; exit 0 ;;\n"
             "  *) exit 2 ;;\n"
             "esac\n");
  test::KivRun run = test::run_kiv(
      {kScript}, "", {"WAYLAND_DISPLAY", "DISPLAY=:99", path_with(dir.path()), "KIV_CLIP_STORE=" + store});
  EXPECT_EQ(run.output, kRoundTrip);
  EXPECT_EQ(run.status, 0);
  // none cleared the tool's clipboard: the file is there and empty.
  EXPECT_TRUE(fs::exists(store));
  EXPECT_EQ(fs::file_size(store), 0u);
}

TEST(Clipboard, AToolThatFailsGivesFalse) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  write_tool(dir.path(), "xclip", "cat > /dev/null\nexit 1\n");
  test::KivRun run = test::run_kiv({kScript}, "", {"WAYLAND_DISPLAY", "DISPLAY=:99", path_with(dir.path())});
  EXPECT_EQ(run.output, "false\nfalse\nfalse\nfalse\nfalse\nfalse\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kiv
