// image!: the C++ interface the codecs use (making an image from pixels,
// viewing them), the size limits, and the lifetime of pixel buffers: an
// image no value reaches is released by the collector, and images made and
// dropped in a loop keep memory flat. The actions are tested through Kiv in
// tests/kiv/eval/image*.kiv.
#include "datatypes/image.h"

#include <gtest/gtest.h>

#include <vector>

#include "datatypes/pair.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"

namespace kiv {
namespace {

using test::catch_error;
using test::eval_mold;
using test::mold_of;

TEST(Image, MadeFromPixelsAndViewed) {
  StackSave save;
  const uint32_t pixels[] = {0xFFFF0000u, 0x8000FF00u, 0x000000FFu, 0xFF123456u, 0x00000000u, 0xFFFFFFFFu};
  Cell* img = image_push(3, 2, pixels);
  EXPECT_EQ(image_width(img), 3);
  EXPECT_EQ(image_height(img), 2);
  EXPECT_EQ(img->head(), 0);
  ImageView v = image_view(img);
  ASSERT_NE(v.pixels, nullptr);
  EXPECT_EQ(v.width, 3);
  EXPECT_EQ(v.height, 2);
  EXPECT_EQ(std::vector<uint32_t>(v.pixels, v.pixels + 6),
            std::vector<uint32_t>(std::begin(pixels), std::end(pixels)));
  EXPECT_EQ(mold_of(*img),
            "make image! [3x2 #{FF000000FF000000FF123456000000FFFFFF} #{\n    007FFF00FF00\n}]");
  // The pixels are a copy, and writes through the view are the image's.
  v.pixels[0] = 0xFF010203u;
  EXPECT_EQ(mold_of(image_pixel_to_tuple(image_view(img).pixels[0])), "1.2.3.0");

  Cell* blank = image_push(2, 1, nullptr);
  EXPECT_EQ(image_view(blank).pixels[1], 0u);  // transparent black
  Cell* none = image_push(0, 7, nullptr);
  EXPECT_EQ(image_view(none).pixels, nullptr);
  EXPECT_EQ(image_height(none), 7);
  Cell* negative = image_push(-4, 2, nullptr);
  EXPECT_EQ(image_width(negative), 0);
}

TEST(Image, TuplesAndPixels) {
  Cell t = image_pixel_to_tuple(0x7F0000FFu);  // blue, alpha 127
  EXPECT_EQ(test::mold_of(t), "0.0.255.128");
  EXPECT_EQ(image_tuple_to_pixel(&t), 0x7F0000FFu);
  Cell three = *test::to(kTypeTuple, test::text_cell("1.2.3"));
  EXPECT_EQ(image_tuple_to_pixel(&three), 0xFF010203u);  // three bytes: opaque
}

TEST(Image, SizesPastTheLimitsAreRefusedBeforeAllocating) {
  base_environment_init();
  StackSave save;
  const size_t bytes = heap_bytes();
  const uint32_t count = image_live_count();
  for (auto [w, h] : {std::pair{65536, 1}, {1, 65536}, {65535, 8193}, {40000, 40000}}) {
    EXPECT_EQ(catch_error([&] { image_push(w, h, nullptr); }), kErrScriptInvalidArg) << w << "x" << h;
    EXPECT_EQ(heap_bytes(), bytes);
    EXPECT_EQ(image_live_count(), count);
  }
  EXPECT_EQ(eval_mold("e: try [make image! 70000x2] e/arg1"), "70000x2");
}

TEST(Image, Scaled) {
  StackSave save;
  const uint32_t pixels[] = {1, 2, 3, 4};
  Cell* img = image_push(2, 2, pixels);
  Cell* big = image_push_scaled(img, 4, 2);
  ImageView v = image_view(big);
  ASSERT_EQ(v.width, 4);
  EXPECT_EQ(std::vector<uint32_t>(v.pixels, v.pixels + 8), (std::vector<uint32_t>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(catch_error([&] { image_push_scaled(img, 70000, 1); }), kErrScriptInvalidArg);
}

TEST(Image, UnreachedImagesAreReleased) {
  gc_collect();
  const uint32_t count = image_live_count();
  const size_t bytes = image_live_bytes();
  {
    StackSave save;
    Cell* kept = image_push(10, 10, nullptr);
    image_push(20, 20, nullptr);
    g_stack.top = kept + 1;  // the 20x20 image is dropped
    gc_collect();
    EXPECT_EQ(image_live_count(), count + 1);
    EXPECT_EQ(image_live_bytes(), bytes + 400);
    // A copy of the value keeps the same pixels alive.
    Root copy(*kept);
    g_stack.top = kept;
    gc_collect();
    EXPECT_EQ(image_live_count(), count + 1);
    EXPECT_NE(image_view(copy.get()).pixels, nullptr);
  }
  gc_collect();
  EXPECT_EQ(image_live_count(), count);
  EXPECT_EQ(image_live_bytes(), bytes);
}

// 10,000 images of 256 x 256 (2.5 GB of pixels in all) made and dropped: the
// pressure of the buffers made since the last collection collects often
// enough that the live pixels stay within a small multiple of the floor.
TEST(Image, MadeAndDroppedInALoopKeepMemoryFlat) {
  base_environment_init();
  gc_collect();
  const size_t before = heap_bytes();
  const uint32_t collections = gc_collection_count();
  size_t peak = 0;
  for (int i = 0; i < 10000; i++) {
    StackSave save;
    image_push(256, 256, nullptr);
    if (heap_bytes() > peak) peak = heap_bytes();
  }
  EXPECT_LT(peak - before, size_t(160) << 20);
  EXPECT_GT(gc_collection_count() - collections, 10u);
  gc_collect();
  EXPECT_LT(heap_bytes() - before, size_t(1) << 20);
  // The same through Kiv, with the collector reaching images held in words.
  EXPECT_EQ(eval_mold("loop 2000 [img: make image! 256x256 img/1: 1.2.3] length? img"), "65536");
  EXPECT_LT(heap_bytes() - before, size_t(200) << 20);
}

}  // namespace
}  // namespace kiv
