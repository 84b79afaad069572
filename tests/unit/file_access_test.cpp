// File and directory access through the file! actions and the C++ calls the
// routines use, in a fresh directory per test; and the os-info fields and the
// command-line text.
#include "services/file_access.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "kiv_test.h"
#include "services/console_output.h"
#include "services/os_services.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

class FileAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_environment_init();
    dir_ = fs::temp_directory_path() / ("kiv-files-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directory(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // [source] with every "@" replaced by the test directory as a file! prefix
  // ("@a.txt" names a.txt in it), evaluated: its mold or "!error-id".
  std::string run(const std::string& source) {
    std::string text;
    for (char c : source) text += c == '@' ? "%" + dir_.string() + "/" : std::string(1, c);
    return test::eval_mold(text);
  }
  void put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string contents(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // A file! pushed on the data stack for [name] in the test directory.
  Cell* file(const std::string& name) { return file_from_os_path((dir_ / name).string()); }

  fs::path dir_;
};

struct Case {
  const char* source;
  const char* expected;
};

TEST_F(FileAccessTest, WritesAndReadsBack) {
  // Cases run in order against the same files.
  for (const Case& c : std::initializer_list<Case>{
           {"write @t.txt {héllo ✓^/two}", "14"},  // the bytes of the last (here the only) write
           {"read @t.txt", "\"héllo ✓^/two\""},
           {"read/binary @t.txt", "#{68C3A96C6C6F20E29C930A74776F}"},
           {"write/append @t.txt #{0A21}", "2"},
           {"read/lines @t.txt", "[\"héllo ✓\" \"two\" \"!\"]"},
           {"write/binary @b.bin #{00FF0A0D}", "4"},
           {"read/binary @b.bin", "#{00FF0A0D}"},
           // Line ends written are LF, one per block value; values that are
           // not strings or binaries are molded.
           {"write/lines @l.txt [\"a\" 1 #{42} [c d]]", "1"},
           {"read/binary @l.txt", "#{610A310A420A5B6320645D0A}"},
           {"write/lines @l.txt \"one\"", "1"},
           {"read @l.txt", "\"one^/\""},
           // /part counts characters of a string, bytes of a binary.
           {"write/part @p.txt \"éab\" 2", "3"},
           {"read @p.txt", "\"éa\""},
           {"write/part @p.txt #{010203} 0", "0"},
           {"read/binary @p.txt", "#{}"},
           // /seek writes from that byte and keeps the rest of the file.
           {"write @s.txt \"abcdef\"", "6"},
           {"write/seek @s.txt \"XY\" 0", "2"},
           {"write/seek @s.txt \"Z\" 4", "1"},
           {"read @s.txt", "\"XYcdZf\""},
           // Without them the file is truncated first.
           {"write @s.txt \"q\"", "1"},
           {"read @s.txt", "\"q\""},
       })
    EXPECT_EQ(run(c.source), c.expected) << c.source;
}

TEST_F(FileAccessTest, ReadsPartsLinesAndEmptyFiles) {
  put("h.txt", "0123456789");
  put("lines.txt", "a\r\n\nb");
  put("end.txt", "a\n");
  put("empty.txt", "");
  put("bad.txt", "\xC3(");
  for (const Case& c : std::initializer_list<Case>{
           {"read/seek @h.txt 3", "\"3456789\""},
           {"read/seek/part @h.txt 3 2", "\"34\""},
           {"read/part @h.txt 0", "\"\""},
           {"read/part @h.txt -1", "\"0123456789\""},
           {"read/seek @h.txt 50", "\"\""},
           {"read/binary/part @h.txt 2", "#{3031}"},
           // A CR before LF goes; an empty line stays; a final LF adds no line.
           {"read/lines @lines.txt", "[\"a\" \"\" \"b\"]"},
           {"read/lines @end.txt", "[\"a\"]"},
           {"read @empty.txt", "\"\""},
           {"read/binary @empty.txt", "#{}"},
           {"read/lines @empty.txt", "\"\""},
           {"read @bad.txt", "!invalid-utf8"},
           {"read/binary @bad.txt", "#{C328}"},
       })
    EXPECT_EQ(run(c.source), c.expected) << c.source;
}

TEST_F(FileAccessTest, ListsDirectoriesSortedWithSlashes) {
  put("b.txt", "");
  put("A.txt", "");
  put("é.txt", "");
  fs::create_directory(dir_ / "sub");
  put("sub/inner", "x");
  EXPECT_EQ(run("read @"), "[%A.txt %b.txt %sub/ %é.txt]");
  EXPECT_EQ(run("read @sub/"), "[%inner]");
  EXPECT_EQ(run("read @sub/."), "[%inner]");
  EXPECT_EQ(run("read @sub/.."), "[%A.txt %b.txt %sub/ %é.txt]");
  EXPECT_EQ(run("read @empty/"), "!cannot-open");
  // Without the slash a directory is read as a file, which fails.
  EXPECT_EQ(run("read @sub"), "!cannot-open");
}

TEST_F(FileAccessTest, DeletesRenamesAndQueries) {
  put("f.txt", "data");
  put("keep.txt", "kept");
  fs::create_directory(dir_ / "d");
  for (const Case& c : std::initializer_list<Case>{
           {"delete @d", "false"},  // no slash: a file named d
           {"delete @d/", "true"},
           {"delete @d/", "false"},
           {"query @f.txt/", "none"},
           {"query @missing", "none"},
           // Renaming never replaces what is there.
           {"rename @f.txt @keep.txt", "false"},
           {"rename @f.txt @g.txt", "true"},
           {"read @g.txt", "\"data\""},
           {"read @keep.txt", "\"kept\""},
           {"delete @g.txt", "true"},
           {"delete @g.txt", "false"},
       })
    EXPECT_EQ(run(c.source), c.expected) << c.source;
  EXPECT_FALSE(fs::exists(dir_ / "d"));

  // The last-write time is now, in UTC.
  StackSave save;
  put("now.txt", "");
  const double now = double(time(nullptr));
  Cell* date = file_query(file("now.txt"));
  ASSERT_TRUE(date->is(kTypeDate));
  EXPECT_NEAR(date_to_epoch(date), now, 2.0);
  EXPECT_EQ(date_zone_seconds(date_word_zone(date_packed(date))), 0);
}

TEST_F(FileAccessTest, ErrorsNameTheFileAndTouchNothing) {
  put("f.txt", "data");
  fs::create_directory(dir_ / "d");
  for (const Case& c : std::initializer_list<Case>{
           {"read @nope.txt", "!cannot-open"},
           {"write @d \"x\"", "!cannot-open"},
           {"write @no/such/dir.txt \"x\"", "!cannot-open"},
           {"read/part @f.txt \"2\"", "!expect-arg"},
           {"read/seek @f.txt 1.5", "!invalid-refine-arg"},
           // A bad /part or /seek leaves the file as it was; a negative
           // /part writes nothing: the file cannot be opened for it.
           {"write/part @f.txt \"x\" -1", "!cannot-open"},
           {"write/seek @f.txt \"x\" -1", "!invalid-refine-arg"},
           {"write/part @f.txt \"x\" 1.0", "!invalid-refine-arg"},
           {"read/as @f.txt 'utf-8", "!not-done"},
           {"rename @f.txt 12", "!expect-arg"},
       })
    EXPECT_EQ(run(c.source), c.expected) << c.source;
  EXPECT_EQ(contents("f.txt"), "data");
  // The argument of cannot-open is the file itself.
  EXPECT_EQ(run("e: try [read @nope.txt] e/arg1"), "%" + dir_.string() + "/nope.txt");
}

TEST_F(FileAccessTest, DirectoriesExistenceAndTheCurrentDirectory) {
  StackSave save;
  put("f.txt", "");
  EXPECT_TRUE(file_exists(file("f.txt")));
  EXPECT_FALSE(file_exists(file("f.txt/")));
  EXPECT_FALSE(file_exists(file("none")));

  EXPECT_TRUE(make_directory(file("new")));
  EXPECT_TRUE(fs::is_directory(dir_ / "new"));
  EXPECT_FALSE(make_directory(file("new/")));  // already there
  const std::vector<std::pair<std::string, const char*>> refused = {
      {"f.txt", "no-create"},  // a file of that name
      {"a/b/c", "no-create"},  // no parent
  };
  for (const auto& [name, id] : refused) {
    ErrorId e = test::catch_error([&] { make_directory(file(name)); });
    EXPECT_STREQ(error_info(e).word, id) << name;
  }

  Cell* before = current_dir_file();
  ASSERT_TRUE(before->is(kTypeFile));
  const std::string old = string_to_utf8(before);
  EXPECT_EQ(old.back(), '/');
  ASSERT_TRUE(set_current_dir(file("new")));
  EXPECT_EQ(string_to_utf8(current_dir_file()), fs::canonical(dir_ / "new").string() + "/");
  // Relative paths now start there.
  EXPECT_EQ(run("write %rel.txt \"r\""), "1");
  EXPECT_EQ(contents("new/rel.txt"), "r");
  EXPECT_FALSE(set_current_dir(file("missing")));
  ASSERT_TRUE(set_current_dir(before));
  EXPECT_EQ(string_to_utf8(current_dir_file()), old);
}

TEST_F(FileAccessTest, FilesOfNoSizeAreReadOnceToTheirEnd) {
  // A pipe is opened once: a second open would lose what the writer sent to
  // the first and wait for a writer that never comes.
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    const bool ok = fd >= 0 && ::write(fd, "a\r\nb", 4) == 4;
    _exit(ok ? 0 : 1);
  }
  EXPECT_EQ(run("read/binary @fifo"), "#{610D0A62}");
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // /proc reports a size of 0 and is read to its end, as text or bytes.
  EXPECT_EQ(run("parse read %/proc/self/status [\"Name:\" to end]"), "true");
  EXPECT_EQ(run("read/binary/part %/proc/self/status 5"), "#{4E616D653A}");
}

TEST_F(FileAccessTest, WritesToStandardOutput) {
  // Standard output is the console's descriptor; point it at a file here.
  const std::string path = (dir_ / "out").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  conout_init(fd);
  StackSave save;
  Cell* text = string_make_at(stack_push(), 8);
  string_append_utf8(text, "out é");
  EXPECT_EQ(file_write_value(nullptr, text, nullptr, nullptr, false, false, true), 1);
  conout_init(1);
  ::close(fd);
  EXPECT_EQ(contents("out"), "out é\n");
}

// ---------------------------------------------------------------- system information

TEST(OsServicesTest, InfoFromKernelNames) {
  struct {
    const char* release;
    const char* version;
    const char* machine;
    const char* name;
    const char* arch;
    int v0, v1, v2, build;
  } cases[] = {
      {"6.1.0-18-amd64", "#1 SMP PREEMPT_DYNAMIC Debian", "x86_64", "Linux 6.1.0-18-amd64", "x86-64", 6, 1, 0,
       1},
      {"5.15.90.1-microsoft", "#42 SMP", "aarch64", "Linux 5.15.90.1-microsoft", "ARM64", 5, 15, 90, 42},
      {"4.4", "SMP", "i686", "Linux 4.4", "x86-32", 4, 4, 0, 0},
      {"300.2.1", "#7", "armv7l", "Linux 300.2.1", "ARM", 255, 2, 1, 7},
      {"", "", "riscv64", "Linux ", "Unknown", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    OsInfo info = os_info_from(c.release, c.version, c.machine);
    EXPECT_EQ(info.name, c.name);
    EXPECT_EQ(info.arch, c.arch);
    EXPECT_EQ(info.version[0], c.v0) << c.release;
    EXPECT_EQ(info.version[1], c.v1) << c.release;
    EXPECT_EQ(info.version[2], c.v2) << c.release;
    EXPECT_EQ(info.build, c.build) << c.version;
  }
}

TEST(OsServicesTest, InfoObjectHasItsFourFields) {
  base_environment_init();
  StackSave save;
  Cell* info = os_info_object();
  ASSERT_TRUE(info->is(kTypeObject));
  const std::string text = test::mold(*info);
  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(text.rfind("make object! [\n    name: \"Linux " + std::string(u.release) + "\"\n    arch: ", 0),
            0u)
      << text;
  EXPECT_NE(text.find("\n    version: "), std::string::npos) << text;
  EXPECT_NE(text.find("\n    build: "), std::string::npos) << text;
  EXPECT_EQ(object_field_count(info), 4u);
}

TEST(OsServicesTest, CommandLineQuotesBlankAndEmptyArguments) {
  EXPECT_EQ(command_line_text({"kiv", "a.kiv", "two words", "", "tab\there", "x\"y"}),
            "kiv a.kiv \"two words\" \"\" \"tab\there\" x\"y");
  EXPECT_EQ(command_line_text({}), "");
  StackSave save;
  // This process's own line starts with the program's name.
  const std::string line = string_to_utf8(command_line());
  EXPECT_NE(line.find("kiv-unit-tests"), std::string::npos) << line;
}

}  // namespace
}  // namespace kiv
