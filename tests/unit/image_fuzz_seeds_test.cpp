// The image decoders' fuzz entry (fuzz/image_fuzz.cpp, compiled into this
// test) over each seed of fuzz/corpus/image_fuzz/, and over every seed cut
// in half: an ordinary build runs the seeds, the sanitizer build checks
// them. The entry aborts on a wrong outcome.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/image_fuzz.cpp"
#include "temp_dir.h"

namespace kiv {
namespace {

TEST(ImageFuzzSeeds, RunThroughTheFuzzEntry) {
  int seeds = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(KIV_SOURCE_DIR) + "/fuzz/corpus/image_fuzz")) {
    std::string bytes = test::read_file(entry.path().string());
    ASSERT_FALSE(bytes.empty()) << entry.path();
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    // Each seed is a picture its signature's decoder reads.
    auto format = image_sniff(data, bytes.size());
    ASSERT_TRUE(format) << entry.path();
    PixelImage image;
    std::string why;
    EXPECT_TRUE(image_decode(*format, data, bytes.size(), &image, &why)) << entry.path() << ": " << why;
    EXPECT_EQ(LLVMFuzzerTestOneInput(data, bytes.size()), 0) << entry.path();
    EXPECT_EQ(LLVMFuzzerTestOneInput(data, bytes.size() / 2), 0) << entry.path();
    seeds++;
  }
  EXPECT_GE(seeds, 20);
}

}  // namespace
}  // namespace kiv
