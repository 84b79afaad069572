// The boot image: kiv-bootgen makes the same bytes from the same sources and
// refuses a source it cannot carry; start-up from the image leaves the state
// start-up from the text leaves; data that is not an image ends the process.
#include "library/boot_image.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "evaluator/interpreter.h"
#include "kiv_test.h"
#include "run_kiv.h"
#include "runtime/stack.h"
#include "services/kivbin.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> library_sources() {
  std::vector<std::string> out;
  std::stringstream list(KIV_LIBRARY_SOURCES);
  for (std::string s; std::getline(list, s, '|');) out.push_back(s);
  return out;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

test::KivRun bootgen(const fs::path& dir, const std::vector<std::string>& sources) {
  std::vector<std::string> args = {(dir / "kiv.boot").string(), (dir / "boot_image.cpp").string(),
                                   (dir / "boot_literals.h").string()};
  args.insert(args.end(), sources.begin(), sources.end());
  test::KivRunOptions options;
  options.program = KIV_BOOTGEN;
  return test::run_kiv_with(args, options);
}

// Runs kiv-bootgen over the one [source] in [dir] and decodes its image,
// as start-up does, into the block [target].
void bootgen_and_load(const fs::path& dir, const fs::path& source, const Cell* target) {
  test::KivRun run = bootgen(dir, {source.string()});
  ASSERT_EQ(run.status, 0) << run.errors;
  std::string image = read_file(dir / "kiv.boot");
  const std::vector<uint8_t> bytes(image.begin(), image.end());
  ASSERT_EQ(test::catch_error([&] { kivbin_load_boot_data(bytes.data(), bytes.size(), target); }),
            test::kNoError);
}

struct TempDir {
  fs::path path;
  explicit TempDir(const char* name) {
    path = fs::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
};

TEST(BootImage, SameSourcesGiveTheSameBytes) {
  TempDir a("kiv-bootgen-a"), b("kiv-bootgen-b");
  for (const fs::path& dir : {a.path, b.path}) {
    test::KivRun run = bootgen(dir, library_sources());
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
  }
  std::string image = read_file(a.path / "kiv.boot");
  ASSERT_GT(image.size(), 8u);
  EXPECT_EQ(image.substr(0, 6), "KIVBIN");
  EXPECT_EQ(image, read_file(b.path / "kiv.boot"));
  EXPECT_EQ(read_file(a.path / "boot_image.cpp"), read_file(b.path / "boot_image.cpp"));
  EXPECT_EQ(read_file(a.path / "boot_literals.h"), read_file(b.path / "boot_literals.h"));
#ifdef KIV_BOOT_IMAGE_ON
  EXPECT_EQ(image, read_file(KIV_BOOT_IMAGE_FILE));
#endif
}

TEST(BootImage, BootgenRefusesWhatItCannotCarry) {
  TempDir dir("kiv-bootgen-bad");
  struct Case {
    const char* text;
    const char* says;  // in the report, after the file's name
  } kCases[] = {
      {"Kiv []\nx: 1\ny: [2\n", "(line 3)"},  // a syntax error: its line
      {"Kiv []\n\nz: #[bad\n", "(line 3)"},   // a malformed construct
      {"x: 1\n", "does not begin with its Kiv header"},
      {"Kiv []\nf: :print\n", ""},  // fine: words only, no value is made
      // An object made ahead with copy, which the source then changes.
      {"Kiv []\nbootgen-o: make object! [a: copy \"x\"]\ncopy: 5\n", "copy changes while the source runs"},
  };
  for (const Case& c : kCases) {
    fs::path source = dir.path / "lib.kiv";
    std::ofstream(source, std::ios::binary) << c.text;
    test::KivRun run = bootgen(dir.path, {source.string()});
    if (*c.says == 0) {
      EXPECT_EQ(run.status, 0) << c.text << run.errors;
      continue;
    }
    EXPECT_EQ(run.status, 1) << c.text;
    EXPECT_NE(run.errors.find(source.string() + ": "), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
  }
  test::KivRun missing = bootgen(dir.path, {(dir.path / "absent.kiv").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find("absent.kiv: cannot be read"), std::string::npos) << missing.errors;
}

// A function whose spec names a type the library makes is left to the code
// (start-up checks a defined function's spec before any library code runs);
// one over the base environment's types is defined by the image.
TEST(BootImage, DefinitionsNameOnlyBaseTypes) {
  base_environment_init();
  TempDir dir("kiv-bootgen-types");
  fs::path source = dir.path / "lib.kiv";
  std::ofstream(source, std::ios::binary) << "Kiv []\nbootgen-t!: make typeset! [integer!]\n"
                                             "bootgen-f: func [x [bootgen-t!]] [x]\n"
                                             "bootgen-g: func [x [integer! block!]] [x]\n";
  StackSave save;
  Cell* target = block_push_only(1);
  ASSERT_NO_FATAL_FAILURE(bootgen_and_load(dir.path, source, target));
  EXPECT_EQ(test::eval_mold("value? 'bootgen-f"), "false");
  EXPECT_EQ(test::eval_mold("bootgen-g 7"), "7");
  // The literals: the source's code without bootgen-g's definition, the
  // routines' specs and the (here empty) block of objects start-up finishes.
  ASSERT_EQ(block_total_length(target), 3);
  EXPECT_EQ(test::mold(*block_ks_abs_at(target, 0)),
            "[Kiv []\nbootgen-t!: make typeset! [integer!]\nbootgen-f: func [x [bootgen-t!]] [x]]");
}

// Objects the image makes: a plain body becomes the object in the code; any
// other comes with its words and its bound body (its plain functions and
// objects made already), which start-up runs before the code that follows.
TEST(BootImage, ObjectsComeMadeOrWithTheirBodiesBound) {
  base_environment_init();
  TempDir dir("kiv-bootgen-objects");
  fs::path source = dir.path / "lib.kiv";
  std::ofstream(source, std::ios::binary)
      << "Kiv []\n"
         "bootgen-p: make object! [a: 1 b: [x y] f: func [] [a] inner: make object! [c: \"s\" g: func [] "
         "[c]]]\n"
         "bootgen-q: make object! [\n"
         "  n: 1 + 2 list: [1 2] same: list g: func [x [integer!]] [n + x] sub: make object! [k: 7]\n"
         "  h: func [] [sub/k]\n"
         "]\n"
         "make object! [set 'bootgen-r 5]\n"
         "bootgen-after: bootgen-r + 1\n";
  StackSave save;
  Cell* target = block_push_only(1);
  ASSERT_NO_FATAL_FAILURE(bootgen_and_load(dir.path, source, target));
  // The code, the routines' specs, the objects start-up finishes.
  ASSERT_EQ(block_total_length(target), 3);
  Cell* code = stack_push_value(*block_ks_abs_at(target, 0));
  ASSERT_EQ(block_total_length(code), 4);
  EXPECT_TRUE(block_ks_abs_at(code, 3)->is(kTypeObject));
  Cell* deferred = stack_push_value(*block_ks_abs_at(target, 2));
  ASSERT_EQ(block_total_length(deferred), 8);
  EXPECT_EQ(test::mold(*block_ks_abs_at(deferred, 7)),
            "[\n    make object! [\n    ]\n    bootgen-after: bootgen-r + 1\n]");
  EXPECT_NE(test::mold(*block_ks_abs_at(deferred, 2)).find("g: pick [func [x [integer!]][n + x]] 1"),
            std::string::npos);
  // Run as start-up runs it.
  code->set_head(2);
  Cell* out = stack_push();
  ASSERT_EQ(do_block(code, out), kStatusOk);
  for (int32_t k = 0; k < 8; k += 4) {
    Cell* object = stack_push_value(*block_ks_abs_at(deferred, k + 1));
    Cell* body = stack_push_value(*block_ks_abs_at(deferred, k + 2));
    Cell* rest = stack_push_value(*block_ks_abs_at(deferred, k + 3));
    ErrorId e = test::catch_error([&] { object_make_run(object, body); });
    ASSERT_EQ(e, test::kNoError) << error_info(e).word;
    ASSERT_EQ(do_block(rest, out), kStatusOk);
  }
  struct Case {
    const char* code;
    const char* value;
  } kCases[] = {
      {"bootgen-p/f", "1"},
      {"bootgen-p/inner/g", "\"s\""},
      {"same? bootgen-p do bind [self] bootgen-p", "true"},
      {"bootgen-p/b", "[x y]"},
      {"bootgen-q/g 4", "7"},
      {"bootgen-q/h", "7"},
      {"same? bootgen-q/list bootgen-q/same", "true"},
      {"same? bootgen-q do bind [self] bootgen-q", "true"},
      {"same? bootgen-q/sub do bind [self] bootgen-q/sub", "true"},
      {"bootgen-q/n: 10 bootgen-q/g 1", "11"},
      {"reduce [bootgen-r bootgen-after]", "[5 6]"},
  };
  for (const Case& c : kCases) EXPECT_EQ(test::eval_mold(c.code), c.value) << c.code;
  // Class ids the image gave are not handed out again.
  Cell* fresh = nullptr;
  ASSERT_EQ(test::evaluate("make object! [z: 1]", &fresh), kStatusOk);
  Cell* p = stack_push_value(*block_ks_abs_at(code, 3));
  EXPECT_GT(object_class(fresh), object_class(p));
  EXPECT_GT(object_class(fresh), object_class(block_ks_abs_at(deferred, 1)));
}

// Start-up from the image and from the text: the same global words with the
// same values (mold/all: library specs and bodies included) and every word
// of every function bound to the same context.
TEST(BootImage, ImageAndTextStartUpsLeaveTheSameState) {
#ifndef KIV_BOOT_IMAGE_ON
  GTEST_SKIP() << "built to start up from text";
#endif
  const std::string script = std::string(KIV_SOURCE_DIR) + "/tests/scripts/boot/state.kiv";
  // One home for both runs: the console's settings paths are part of the state.
  char home[] = "/tmp/kiv-boot-home-XXXXXX";
  ASSERT_NE(mkdtemp(home), nullptr);
  const std::string home_env = std::string("HOME=") + home;
  test::KivRun image = test::run_kiv({script}, "", {"KIV_BOOT_FROM_TEXT", "APPDATA", home_env});
  test::KivRun text = test::run_kiv({script}, "", {"KIV_BOOT_FROM_TEXT=1", "APPDATA", home_env});
  std::error_code ignored;
  fs::remove_all(home, ignored);
  ASSERT_EQ(image.status, 0) << image.errors;
  ASSERT_EQ(text.status, 0) << text.errors;
  EXPECT_EQ(image.errors, "");
  EXPECT_GT(image.output.size(), 10000u);
  EXPECT_NE(image.output.find("\nsplit func ["), std::string::npos);
  EXPECT_NE(image.output.find("  binding:"), std::string::npos);
  if (image.output != text.output) {
    // The first line that differs says more than two long texts.
    std::istringstream a(image.output), b(text.output);
    std::string la, lb;
    while (std::getline(a, la) && std::getline(b, lb) && la == lb) {
    }
    FAIL() << "image: " << la.substr(0, 400) << "\ntext:  " << lb.substr(0, 400);
  }
}

TEST(BootImage, TimesSayWhichSourcesStartUpRead) {
  test::KivRun image = test::run_kiv({std::string(KIV_SOURCE_DIR) + "/tests/scripts/immunity/sub.kiv"}, "",
                                     {"KIV_BOOT_TIMES=1", "KIV_BOOT_FROM_TEXT"});
#ifdef KIV_BOOT_IMAGE_ON
  EXPECT_NE(image.errors.find("from the boot image"), std::string::npos) << image.errors;
#else
  EXPECT_NE(image.errors.find("from the text"), std::string::npos) << image.errors;
#endif
  test::KivRun text = test::run_kiv({std::string(KIV_SOURCE_DIR) + "/tests/scripts/immunity/sub.kiv"}, "",
                                    {"KIV_BOOT_TIMES=1", "KIV_BOOT_FROM_TEXT=1"});
  EXPECT_NE(text.errors.find("from the text"), std::string::npos) << text.errors;
}

// Boot data that is not KIVBIN, or whose compressed payload does not
// inflate, ends the process with status 1 and its message on standard output.
TEST(BootImage, DataThatIsNotAnImageEndsTheProcess) {
  struct Case {
    std::vector<uint8_t> data;
    const char* message;
  } kCases[] = {
      {{'K', 'I', 'V', 'B', 'I', 'X', 2, 1, 0, 0}, "Error: Not a Kivbin file!\n"},
      {{'K', 'I', 'V'}, "Error: Not a Kivbin file!\n"},
      {{'K', 'I', 'V', 'B', 'I', 'N', 2, 3, 0xFF, 0xFF, 0xFF, 0xFF},
       "Error: Kivbin compressed data corrupted!\n"},
  };
  for (const Case& c : kCases) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
      close(out[0]);
      dup2(out[1], 1);
      StackSave save;
      Cell* target = block_push_only(1);
      kivbin_load_boot_data(c.data.data(), c.data.size(), target);
      _exit(99);  // not reached
    }
    close(out[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(said, c.message);
  }
}

}  // namespace
}  // namespace kiv
