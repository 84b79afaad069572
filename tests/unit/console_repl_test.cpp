// The console without a terminal: whole runs of kiv with lines on standard
// input (what the read-eval-print loop prints, how it ends, the settings it
// keeps), and the directory listings, whose columns hold tabs and blanks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_kiv.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kiv-console-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(path_ / fs::path(name)).parent_path());
    std::ofstream(fs::path(path_) / name, std::ios::binary) << text;
  }

 private:
  std::string path_;
};

// list-dir fits its columns to the console's width (80 without a terminal):
// three columns of 18 characters, two of 31 with /col 2, one of 66 with ll;
// a name as wide as its column or wider is cut.
TEST(ConsoleCommands, ListDirFitsColumnsToTheWidth) {
  TempDir dir;
  dir.write("list/a.txt", "");
  dir.write("list/bb.txt", "");
  dir.write("list/dir/x", "");
  dir.write("list/abcdefghijklmnopqrstuvwxyz.txt", "");
  dir.write("t.kiv",
            "Kiv []\nlist-dir %list\nprint \"-\"\nlist-dir/col %list 2\nprint \"-\"\nll list\nprint \"-\"\n"
            "ls %list/dir/\n");
  test::KivRun run = test::run_kiv({dir.path() + "/t.kiv"});
  const auto pad = [](const std::string& name, size_t width) {
    return "\t" + name + std::string(width - name.size(), ' ') + " ";
  };
  const std::string long_name = "abcdefghijklmnopqrstuvwxyz.txt";
  EXPECT_EQ(run.output, pad("a.txt", 18) + pad("abcdefghijklmn...", 18) + pad("bb.txt", 18) + "\n" +
                            pad("dir/", 18) + "\n-\n" +                             //
                            pad("a.txt", 31) + pad(long_name, 31) + "\n" +          //
                            pad("bb.txt", 31) + pad("dir/", 31) + "\n-\n" +         //
                            pad("a.txt", 66) + "\n" + pad(long_name, 66) + "\n" +   //
                            pad("bb.txt", 66) + "\n" + pad("dir/", 66) + "\n-\n" +  //
                            pad("x", 18) + "\n");
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kiv
