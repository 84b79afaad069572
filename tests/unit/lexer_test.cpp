#include "evaluator/lexer.h"
#include "kiv_test.h"
namespace kiv {
namespace {
TEST(LexerTest, Probe) {
  Cell s = test::text_cell("a b");
  EXPECT_EQ(test::outcome([&] { return *test::to(kTypeBlock, s); }), "");
}
}
}
