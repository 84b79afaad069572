// The seeds of the data library's fuzz targets (fuzz/corpus/json_fuzz/,
// csv_fuzz/, url_fuzz/) run through their bodies as ordinary tests, so the
// targets' checks run in every build, not only under clang.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define KIV_FUZZ_BODY_ONLY
#include "fuzz/csv_fuzz.cpp"
#include "fuzz/json_fuzz.cpp"
#include "fuzz/url_fuzz.cpp"

namespace kiv {
namespace {

// Runs [one] on every file of fuzz/corpus/[name]; the number run.
size_t run_seeds(const char* name, void (*one)(const uint8_t*, size_t)) {
  size_t run = 0;
  for (const auto& file :
       std::filesystem::directory_iterator(std::string(KIV_SOURCE_DIR) + "/fuzz/corpus/" + name)) {
    std::ifstream in(file.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(file.path().string());
    one(bytes.data(), bytes.size());
    run++;
  }
  return run;
}

TEST(DataFuzzSeeds, Json) { EXPECT_GT(run_seeds("json_fuzz", fuzz::json_fuzz_one), 0u); }
TEST(DataFuzzSeeds, Csv) { EXPECT_GT(run_seeds("csv_fuzz", fuzz::csv_fuzz_one), 0u); }
TEST(DataFuzzSeeds, Url) { EXPECT_GT(run_seeds("url_fuzz", fuzz::url_fuzz_one), 0u); }

}  // namespace
}  // namespace kiv
