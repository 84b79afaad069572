// Runs the entry functions of the inflate, deflate, LZ, JSON, CSV, URL, DRAW
// and terminal input fuzz targets over their seed files, so the targets'
// checks run in every build, not only under clang.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Each target's entry under a name of its own.
#define LLVMFuzzerTestOneInput kiv_inflate_fuzz_entry
#include "fuzz/inflate_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput kiv_lz_fuzz_entry
#include "fuzz/lz_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput kiv_deflate_fuzz_entry
#include "fuzz/deflate_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput kiv_json_fuzz_entry
#include "fuzz/json_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput kiv_csv_fuzz_entry
#include "fuzz/csv_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput kiv_url_fuzz_entry
#include "fuzz/url_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput kiv_draw_fuzz_entry
#include "fuzz/draw_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput kiv_tui_input_fuzz_entry
#include "fuzz/tui_input_fuzz.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

// Runs [entry] on every file of fuzz/corpus/[name]; the number run.
size_t run_seeds(const char* name, int (*entry)(const uint8_t*, size_t)) {
  size_t run = 0;
  for (const auto& file :
       std::filesystem::directory_iterator(std::string(KIV_SOURCE_DIR) + "/fuzz/corpus/" + name)) {
    std::ifstream in(file.path(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(file.path().string());
    entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    run++;
  }
  return run;
}

TEST(FuzzSeeds, Inflate) { EXPECT_GT(run_seeds("inflate_fuzz", kiv_inflate_fuzz_entry), 0u); }

TEST(FuzzSeeds, Deflate) { EXPECT_GT(run_seeds("deflate_fuzz", kiv_deflate_fuzz_entry), 0u); }

TEST(FuzzSeeds, Lz) { EXPECT_GT(run_seeds("lz_fuzz", kiv_lz_fuzz_entry), 0u); }

TEST(FuzzSeeds, TuiInput) { EXPECT_GT(run_seeds("tui_input_fuzz", kiv_tui_input_fuzz_entry), 0u); }

// The data library's targets start the library in the test's process.
TEST(FuzzSeeds, Json) { EXPECT_GT(run_seeds("json_fuzz", kiv_json_fuzz_entry), 0u); }

TEST(FuzzSeeds, Csv) { EXPECT_GT(run_seeds("csv_fuzz", kiv_csv_fuzz_entry), 0u); }

TEST(FuzzSeeds, Url) { EXPECT_GT(run_seeds("url_fuzz", kiv_url_fuzz_entry), 0u); }

TEST(FuzzSeeds, Draw) { EXPECT_GT(run_seeds("draw_fuzz", kiv_draw_fuzz_entry), 0u); }

}  // namespace
