// handle!: text, compare against handles and everything else, and handles of
// registry entries that go stale once their entry is freed or reused.
#include "datatypes/handle.h"

#include <gtest/gtest.h>

#include "kiv_test.h"
#include "runtime/resources.h"

namespace kiv {
namespace {

using test::compare;
using test::form_of;
using test::mold_of;

TEST(HandleTest, FormAndMold) {
  struct Case {
    Cell handle;
    const char* form;
    const char* mold_all;
  } cases[] = {
      {handle_cell(kHandleWindow, 0x1234), "00001234h", "#[handle! 00001234h window]"},
      {handle_cell(kHandleNull, 0), "00000000h", "#[handle! 00000000h]"},
      {handle_cell(kHandleFd, 0xFFFFFFFFu), "FFFFFFFFh", "#[handle! FFFFFFFFh fd]"},
      {handle_cell(kHandleRichText, 10), "0000000Ah", "#[handle! 0000000Ah rich-text]"},
      {handle_cell(9, 10), "0000000Ah", "#[handle! 0000000Ah]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_of(c.handle), c.form);
    EXPECT_EQ(mold_of(c.handle), "handle!");
    EXPECT_EQ(mold_of(c.handle, true), c.mold_all);
  }
}

TEST(HandleTest, Compare) {
  Cell a = handle_cell(kHandleWindow, 5), b = handle_cell(kHandleFont, 5), c = handle_cell(kHandleFd, -1);
  EXPECT_TRUE(compare(a, b, kCmpEqual));   // kinds are ignored
  EXPECT_TRUE(compare(c, a, kCmpLesser));  // values compare signed
  // Other types: unequal, ordered after, never an error.
  EXPECT_FALSE(compare(a, integer_cell(5), kCmpEqual));
  EXPECT_TRUE(compare(a, integer_cell(5), kCmpNotEqual));
  EXPECT_TRUE(compare(a, integer_cell(5), kCmpGreater));
  EXPECT_EQ(test::catch_error([&] { compare(a, *test::push_text("x"), kCmpLesser); }), test::kNoError);
}

TEST(HandleTest, RegistryHandlesGoStale) {
  uint32_t cls = register_resource_class("handle-test", nullptr);
  uint32_t index = register_resource(7, cls);
  Cell h = handle_of_resource(kHandleWindow, index);
  EXPECT_TRUE(handle_live_q(&h));
  Cell raw = handle_cell(kHandleFd, 7);
  EXPECT_TRUE(handle_live_q(&raw));
  unregister_resource(index, false);
  EXPECT_FALSE(handle_live_q(&h));
  // The entry is reused for another instance: the old handle still reads as gone.
  uint32_t again = register_resource(8, cls);
  ASSERT_EQ(again, index);
  Cell fresh = handle_of_resource(kHandleWindow, again);
  EXPECT_FALSE(handle_live_q(&h));
  EXPECT_TRUE(handle_live_q(&fresh));
  EXPECT_FALSE(compare(h, fresh, kCmpEqual));
  unregister_resource(again, false);
}

TEST(HandleTest, Helpers) {
  StackSave save;
  Cell* pushed = handle_push_null();
  EXPECT_EQ(mold_of(*pushed, true), "#[handle! 00000000h]");
  Cell* block = test::block_of({});
  handle_make_at(block, 3, kHandleFd);
  EXPECT_EQ(test::mold(*block, false, true), "[#[handle! 00000003h fd]]");
}

}  // namespace
}  // namespace kiv
