// The collector's run-time stress modes: reading them from text, and a failed
// series allocation surfacing as a clean internal no-memory error.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "datatypes/integer.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"

namespace kiv {
namespace {

using test::catch_error;

// Puts back the stress modes a test changes (a KIV_GC_STRESS build runs with move on).
class SavedStressModes {
 public:
  SavedStressModes() : move_(gc_stress_move_q()), fail_(gc_stress_fail_countdown()) {}
  ~SavedStressModes() {
    gc_set_stress_mode(StressMode::kNone);
    if (move_) gc_set_stress_mode(StressMode::kMove);
    if (fail_) gc_set_stress_mode(StressMode::kFailAllocation, fail_);
  }
  SavedStressModes(const SavedStressModes&) = delete;
  SavedStressModes& operator=(const SavedStressModes&) = delete;

 private:
  bool move_;
  uint64_t fail_;
};

TEST(CollectorStress, ParsesModeText) {
  struct Case {
    const char* text;
    bool ok;
    bool move;
    uint64_t fail;
  } cases[] = {
      {.text = "", .ok = true, .move = false, .fail = 0},
      {.text = "none", .ok = true, .move = false, .fail = 0},
      {.text = "move", .ok = true, .move = true, .fail = 0},
      {.text = "fail:1", .ok = true, .move = false, .fail = 1},
      {.text = "fail:250", .ok = true, .move = false, .fail = 250},
      {.text = "move,fail:7", .ok = true, .move = true, .fail = 7},
      {.text = "fail:7,move", .ok = true, .move = true, .fail = 7},
      {.text = "fail:7,fail:9", .ok = true, .move = false, .fail = 9},
      {.text = "fail:0", .ok = false, .move = false, .fail = 0},
      {.text = "fail:", .ok = false, .move = false, .fail = 0},
      {.text = "fail:-3", .ok = false, .move = false, .fail = 0},
      {.text = "fail:12x", .ok = false, .move = false, .fail = 0},
      {.text = "fail:99999999999999999999", .ok = false, .move = false, .fail = 0},
      {.text = "Move", .ok = false, .move = false, .fail = 0},
      {.text = "move,", .ok = false, .move = false, .fail = 0},
      {.text = "none,move", .ok = false, .move = false, .fail = 0},
  };
  for (const Case& c : cases) {
    SavedStressModes saved;
    gc_set_stress_mode(StressMode::kNone);
    EXPECT_EQ(gc_parse_stress(c.text), c.ok) << c.text;
    // Text that is refused switches nothing on.
    EXPECT_EQ(gc_stress_move_q(), c.ok && c.move) << c.text;
    EXPECT_EQ(gc_stress_fail_countdown(), c.ok ? c.fail : 0) << c.text;
  }
}

// Series allocation number N fails, for every N the operation reaches: each
// failure is a Kiv error (internal no-memory), after which the heap verifies
// and the data stack is where it was; past the last allocation it succeeds.
TEST(CollectorStress, FailedAllocationIsACleanError) {
  struct Case {
    const char* name;
    std::function<void()> body;
  } cases[] = {
      {"string grows",
       [] {
         Cell* s = test::push_text("");
         for (int i = 0; i < 100; i++) string_append_utf8(s, "abcdefghijklmnopq");
       }},
      {"block grows",
       [] {
         Cell* b = test::block_of({});
         for (int32_t i = 0; i < 200; i++) {
           Cell v = integer_cell(i);
           block_append_value(b, &v);
         }
       }},
      {"deep copy",
       [] {
         Cell* inner = test::block_of({integer_cell(1), test::text_cell("two")});
         Cell* outer = test::block_of({*inner, *inner, integer_cell(3)});
         for (int i = 0; i < 4; i++) outer = test::block_of({*outer, *inner, *outer});
         test::Act(kActionCopy, {*outer}).ref("deep").run();
       }},
  };
  for (const Case& c : cases) {
    SavedStressModes saved;
    int failures = 0;
    for (uint64_t n = 1;; n++) {
      ASSERT_LT(n, 10000u) << c.name << ": never completed";
      Cell* top = g_stack.top;
      gc_set_stress_mode(StressMode::kFailAllocation, n);
      ErrorId error = catch_error(c.body);
      bool armed = gc_stress_fail_countdown() != 0;
      gc_set_stress_mode(StressMode::kFailAllocation, 0);
      EXPECT_EQ(g_stack.top, top) << c.name << " failing allocation " << n;
      gc_collect();
      ASSERT_EQ(gc_verify(), 0) << c.name << " failing allocation " << n;
      if (error == test::kNoError) {
        EXPECT_TRUE(armed) << c.name << ": allocation " << n << " was reached but raised nothing";
        break;
      }
      ASSERT_EQ(error, kErrInternalNoMemory) << c.name << " failing allocation " << n;
      EXPECT_FALSE(armed);  // the mode switched itself off when it fired
      failures++;
    }
    EXPECT_GE(failures, 3) << c.name << " allocates too little to test";
  }
}

// With move on, every series allocation moves every live buffer: a rooted
// series keeps its content, at a new address, across one allocation.
TEST(CollectorStress, MoveModeMovesLiveBuffers) {
  SavedStressModes saved;
  gc_set_stress_mode(StressMode::kMove);
  Root kept(make_cell(kTypeBinary, 0, series_alloc_bytes(16)));
  *reserve_tail(kept.node(), 1) = 'k';
  SeriesBuffer* before = series_buffer(kept.node());
  uint32_t count = gc_collection_count();
  series_alloc_bytes(16);
  EXPECT_EQ(gc_collection_count(), count + 1);
  EXPECT_NE(series_buffer(kept.node()), before);
  EXPECT_EQ(*series_buffer(kept.node())->head_ptr(), 'k');
}

}  // namespace
}  // namespace kiv
