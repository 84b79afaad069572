// event!: back-end events read their fields from the record open during their
// dispatch, and read as gone once it closed; the collector keeps a record's face.
#include "datatypes/event.h"

#include <gtest/gtest.h>

#include "kiv_test.h"
#include "runtime/collector.h"

namespace kiv {
namespace {

using test::eval_path;
using test::mold;
using test::word;

TEST(EventTest, BackEndKeyEvent) {
  uint32_t ref = event_record_open({.face = kNoneCell, .x = 3.7f, .y = -2.5f, .code = 'a'});
  Cell event = event_backend_cell(14, ref, kEventFlagShift);
  EXPECT_EQ(mold(eval_path(&event, word("type"))), "key-down");
  EXPECT_EQ(mold(eval_path(&event, word("key"))), "#\"a\"");
  EXPECT_EQ(mold(eval_path(&event, word("offset"))), "3x-2");
  EXPECT_EQ(mold(eval_path(&event, word("picked"))), "97");
  EXPECT_EQ(mold(eval_path(&event, word("flags"))), "[shift]");
  EXPECT_EQ(mold(eval_path(&event, word("shift?"))), "true");
  event_record_close(ref);
  // Read after its dispatch: the record is gone.
  for (const char* field : {"face", "offset", "key", "picked"})
    EXPECT_EQ(mold(eval_path(&event, word(field))), "none");
  EXPECT_EQ(mold(eval_path(&event, word("type"))), "key-down");
}

TEST(EventTest, SpecialKeysAndWheel) {
  struct Case {
    int32_t code;
    const char* key;
  } cases[] = {{-20, "up"},  {-29, "page-down"}, {-30, "none"}, {-31, "F1"},
               {-42, "F12"}, {-43, "none"},      {-1, "none"}};
  for (const Case& c : cases) {
    uint32_t ref = event_record_open({.face = kNoneCell, .code = c.code});
    Cell event = event_backend_cell(14, ref, kEventSpecialKey);
    EXPECT_EQ(mold(eval_path(&event, word("key"))), c.key) << c.code;
    event_record_close(ref);
  }
  uint32_t ref = event_record_open({.face = kNoneCell, .code = 4, .wheel = -1.5f});
  Cell wheel = event_backend_cell(kEventTypeWheel, ref, 0);
  EXPECT_EQ(mold(eval_path(&wheel, word("picked"))), "-1.5");
  Cell click = event_backend_cell(9, ref, 0);
  EXPECT_EQ(mold(eval_path(&click, word("picked"))), "4");
  event_record_close(ref);
}

// A slot reused by a later event does not answer for the earlier one.
TEST(EventTest, ReusedSlotKeepsOldEventGone) {
  uint32_t first = event_record_open({.face = kNoneCell, .code = 'x'});
  event_record_close(first);
  uint32_t second = event_record_open({.face = kNoneCell, .code = 'y'});
  Cell old_event = event_backend_cell(14, first, 0);
  Cell new_event = event_backend_cell(14, second, 0);
  EXPECT_EQ(mold(eval_path(&old_event, word("key"))), "none");
  EXPECT_EQ(mold(eval_path(&new_event, word("key"))), "#\"y\"");
  event_record_close(second);
}

TEST(EventTest, OpenRecordKeepsItsFace) {
  Cell* object = test::make(kTypeObject, *test::block_of({word("a", kTypeSetWord), integer_cell(1)}));
  uint32_t ref = event_record_open({.face = *object});
  *object = kNoneCell;
  gc_collect();
  EXPECT_EQ(gc_verify(), 0);
  Cell event = event_backend_cell(1, ref, 0);
  Cell face = eval_path(&event, word("face"));
  EXPECT_EQ(mold(eval_path(&face, word("a"))), "1");
  event_record_close(ref);
}

}  // namespace
}  // namespace kiv
