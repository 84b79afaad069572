// The seeds of the KIVBIN fuzz target (fuzz/corpus/kivbin_fuzz/) run through
// its body as an ordinary test: each decodes, as it is and behind either
// form's header, and what decodes survives a round trip through both forms.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "evaluator/base_env.h"

#define KIV_FUZZ_BODY_ONLY
#include "fuzz/kivbin_fuzz.cpp"

namespace kiv {
namespace {

TEST(KivbinFuzzSeeds, EachSeedRoundTrips) {
  base_environment_init();
  namespace fs = std::filesystem;
  int seeds = 0;
  for (const fs::directory_entry& e :
       fs::directory_iterator(fs::path(KIV_SOURCE_DIR) / "fuzz/corpus/kivbin_fuzz")) {
    SCOPED_TRACE(e.path().filename().string());
    std::ifstream in(e.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    StackSave save;
    // A seed is a stream the encoder wrote: it decodes as it is.
    EXPECT_TRUE(fuzz::guarded([&] {
      Cell* out = block_push_only(1);
      Cell arg = kNoneCell;
      kivbin_decode(bytes.data(), bytes.size(), out, &arg);
    }));
    EXPECT_TRUE(fuzz::kivbin_fuzz_one(bytes.data(), bytes.size()));
    seeds++;
  }
  EXPECT_GT(seeds, 0);
}

}  // namespace
}  // namespace kiv
