// The lexer core through transcode and transcode_input: the refinements,
// events to a C++ callback (and what a callback may do to the input), the
// syntax errors that need bytes a .kiv table cannot hold, new-line markers,
// value-buffer growth, nested scans, and a mold-then-load round trip of every
// type that molds to loadable text. The literal syntax itself is in the
// tables of tests/kiv/load/.
#include "evaluator/lexer.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/pair.h"
#include "datatypes/word.h"
#include "kiv_test.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {
namespace {

using test::catch_error;
using test::kNoError;
using test::mold_of;
using test::push_text;

// transcode of [source] (a stable cell) with [args]; the result is pushed.
Cell* run(const Cell* source, const TranscodeArgs& args = {}) {
  return transcode(stack_push(), source, args);
}

// The mold/only of loading UTF-8 [text], or "!" and the error id.
std::string load(std::string_view text) {
  StackSave save;
  std::string molded;
  ErrorId e = catch_error([&] {
    Cell* out = stack_push();
    lexer_load_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    molded = test::mold(*out, true);
  });
  return e == kNoError ? molded : std::string("!") + error_info(e).word;
}
using test::Act;

// The first line of the report of the error [text] raises.
std::string report(std::string_view text) {
  StackSave save;
  ErrorId e = catch_error([&] {
    Cell* out = stack_push();
    lexer_load_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
  });
  if (e == kNoError) return "no error";
  Cell* error = stack_push_value(raised_error_value());
  std::string r = error_report(error);
  return r.substr(0, r.find('\n'));
}

Cell* push_bytes(std::string_view bytes) {
  Cell* b = stack_push_value(series_cell(kTypeBinary, series_alloc_bytes(uint32_t(bytes.size()))));
  for (char c : bytes) *reserve_tail(b->node(), 1) = uint8_t(c);
  return b;
}

TEST(LexerTest, TranscodeRefinements) {
  Cell* src = push_text("a [b c] 12 rest");
  EXPECT_EQ(mold_of(*run(src)), "[a [b c] 12 rest]");
  TranscodeArgs next;
  next.next = true;
  Cell* r = run(src, next);
  EXPECT_EQ(mold_of(*r), "[a \" [b c] 12 rest\"]");
  Cell rest = *block_ks_abs_at(r, 1);
  EXPECT_EQ(rest.head(), 1);
  Cell* r2 = run(stack_push_value(rest), next);
  EXPECT_EQ(mold_of(*block_ks_abs_at(r2, 0)), "[b c]");
  TranscodeArgs one;
  one.one = true;
  EXPECT_EQ(mold_of(*run(src, one)), "a");
  EXPECT_EQ(mold_of(*run(push_text(""), one)), "[]");
  TranscodeArgs scan;
  scan.scan = true;
  EXPECT_EQ(mold_of(*run(push_text("12 a"), scan)), "integer!");
  EXPECT_EQ(mold_of(*run(push_text("a: 1"), scan)), "set-word!");
  EXPECT_EQ(mold_of(*run(push_text("a/b c"), scan)), "path!");
  EXPECT_EQ(mold_of(*run(push_text("[a] b"), scan)), "block!");
  EXPECT_EQ(mold_of(*run(push_text("1a"), scan)), "error!");
  EXPECT_EQ(mold_of(*run(push_text(""), scan)), "none");
  TranscodeArgs prescan;
  prescan.prescan = true;
  EXPECT_EQ(mold_of(*run(push_text("  \"a\" b"), prescan)), "string!");
  EXPECT_EQ(mold_of(*run(push_text("1.5"), prescan)), "float!");
}

TEST(LexerTest, TranscodePartAndInto) {
  Cell* src = push_text("ab cd ef");
  TranscodeArgs part;
  Cell n = integer_cell(5);
  part.part = &n;
  EXPECT_EQ(mold_of(*run(src, part)), "[ab cd]");
  // A length past the tail is clamped to the text after the index.
  Cell big = integer_cell(1000);
  part.part = &big;
  Cell at = test::at_head(src, 3);
  EXPECT_EQ(mold_of(*run(stack_push_value(at), part)), "[cd ef]");
  Cell negative = integer_cell(-4);
  part.part = &negative;
  EXPECT_EQ(mold_of(*run(src, part)), "[]");
  // A position of the source's type; one of another type is refused.
  Cell position = test::at_head(src, 2);
  part.part = &position;
  EXPECT_EQ(mold_of(*run(src, part)), "[ab]");
  Cell* bytes = push_bytes("xy zz");
  Cell byte_position = test::at_head(bytes, 2);
  part.part = &byte_position;
  EXPECT_EQ(catch_error([&] { run(src, part); }), kErrScriptNotSameType);
  EXPECT_EQ(mold_of(*run(bytes, part)), "[xy]");
  Cell big_bytes = integer_cell(99);
  part.part = &big_bytes;
  EXPECT_EQ(mold_of(*run(bytes, part)), "[xy zz]");
  // /into appends to the target.
  Cell* target = test::block_of({integer_cell(1)});
  TranscodeArgs into;
  into.into = target;
  EXPECT_EQ(mold_of(*run(src, into)), "[1 ab cd ef]");
  EXPECT_EQ(block_total_length(target), 4);
}

TEST(LexerTest, ErrorsOfBytesAndBlanks) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"a \xC0 b", "*** Syntax Error: (line 1) invalid character at \xEF\xBF\xBD b"},
      {"a\xFF", "*** Syntax Error: (line 1) invalid word at a\xEF\xBF\xBD"},
      {"\"a\xFF\"", "*** Syntax Error: (line 1) invalid string at \"a\xEF\xBF\xBD\""},
      {"a\\b", "*** Syntax Error: (line 1) invalid word at a\\b"},
      {"\"ab\ncd\"", "*** Syntax Error: (line 1) invalid string at \"ab"},
      {"a\r\nb\r\n1a", "*** Syntax Error: (line 3) invalid integer at 1a"},
      {"1a 1234567890123456789012345678901234567890",
       "*** Syntax Error: (line 1) invalid integer at 1a 123456789012345678901234567"},
  };
  for (const Case& c : cases) EXPECT_EQ(report(c.text), c.expected) << c.text;
  // U+00A0 and U+3000 separate tokens like spaces.
  EXPECT_EQ(load("a\xC2\xA0"
                 "b\xE3\x80\x80"
                 "1 \xC2\xA0"),
            "a b 1");
  EXPECT_EQ(load("\"a\xC2\xA0"
                 "b\""),
            "\"a\xC2\xA0"
            "b\"");
  // A NUL byte ends the input.
  EXPECT_EQ(load(std::string("a b\0c d", 7)), "a b");
}

TEST(LexerTest, UrlOrEmailByTheFirstSeparator) {
  EXPECT_EQ(load("http://user@host.com:8080/a"), "http://user@host.com:8080/a");
  Cell* src = push_text("http://user@host.com:8080/a user@host.com:8080 a:b");
  Cell* values = run(src);
  EXPECT_EQ(block_ks_abs_at(values, 0)->type(), kTypeUrl);
  EXPECT_EQ(block_ks_abs_at(values, 1)->type(), kTypeEmail);
  EXPECT_EQ(block_ks_abs_at(values, 2)->type(), kTypeUrl);
}

TEST(LexerTest, NewLineMarkers) {
  Cell* values = run(push_text("a b\nc [\n d] ; x\n e"));
  EXPECT_FALSE(block_ks_abs_at(values, 0)->new_line());
  EXPECT_FALSE(block_ks_abs_at(values, 1)->new_line());
  EXPECT_TRUE(block_ks_abs_at(values, 2)->new_line());
  EXPECT_FALSE(block_ks_abs_at(values, 3)->new_line());
  EXPECT_TRUE(block_ks_abs_at(values, 4)->new_line());
  Cell inner = *block_ks_abs_at(values, 3);
  EXPECT_TRUE(block_ks_abs_at(&inner, 0)->new_line());
}

TEST(LexerTest, ValueBufferGrowsAndDeepNesting) {
  std::string text;
  for (int i = 0; i < 3000; i++) text += "[" + std::to_string(i) + " x] ";
  std::string deep(500, '[');
  deep += std::string(500, ']');
  text += deep;
  Cell* values = run(push_text(text));
  EXPECT_EQ(block_total_length(values), 3001);
  EXPECT_EQ(mold_of(*block_ks_abs_at(values, 2999)), "[2999 x]");
  // A text larger than the scratch buffer, with wide characters.
  std::string wide;
  for (int i = 0; i < 40000; i++) wide += "\xE2\x82\xAC ";
  Cell* many = run(push_text(wide));
  EXPECT_EQ(block_total_length(many), 40000);
}

// A callback that records each event as "event type line", and answers from
// a table of (event, answer) overrides.
class Recorder : public LexerCallback {
 public:
  uint32_t mask = kLexEventAll;
  std::vector<std::string> log;
  LexEvent refuse = LexEvent(0);  // the event answered false
  std::function<void(Cell* input)> on_load;
  uint32_t event_mask() const override { return mask; }
  bool on_event(LexEvent event, Cell* input, const Cell* type, int32_t line, const Cell* token) override {
    std::string entry =
        std::string(lexer_event_name(event)) + " " + mold_of(*type) + " " + std::to_string(line);
    if (event == kLexEventLoad) entry += " " + mold_of(*token);
    if (!input->is(kTypeNone)) entry += " @" + std::to_string(input->head());
    log.push_back(entry);
    if (event == kLexEventLoad && on_load) on_load(input);
    return event != refuse;
  }
};

std::string joined(const std::vector<std::string>& log) {
  std::string s;
  for (const auto& e : log) s += e + "\n";
  return s;
}

TEST(LexerTest, EventsInOrder) {
  Recorder r;
  r.mask = kLexEventOpen | kLexEventClose | kLexEventLoad | kLexEventError;
  TranscodeArgs args;
  args.trace = &r;
  Cell* values = run(push_text("a [1\n{x}]"), args);
  EXPECT_EQ(mold_of(*values), "[a [1\n\"x\"]]");
  EXPECT_EQ(joined(r.log),
            "load word! 1 a @1\n"
            "open block! 1 @2\n"
            "load integer! 1 1 @4\n"
            "open string! 2 @5\n"
            "load string! 2 \"x\" @8\n"
            "close string! 2 @7\n"
            "close block! 2 @8\n");
}

TEST(LexerTest, CallbackAnswers) {
  // A false answer to a load event drops the value; to prescan skips the token.
  Recorder drop;
  drop.mask = kLexEventLoad;
  drop.refuse = kLexEventLoad;
  TranscodeArgs args;
  args.trace = &drop;
  EXPECT_EQ(mold_of(*run(push_text("a b"), args)), "[]");
  // The error event: false stops the scan quietly, true raises.
  Recorder quiet;
  quiet.mask = kLexEventError;
  quiet.refuse = kLexEventError;
  args.trace = &quiet;
  EXPECT_EQ(catch_error([&] { run(push_text("a 1a b"), args); }), kNoError);
  EXPECT_EQ(joined(quiet.log), "error integer! 1 @2\n");
  Recorder loud;
  loud.mask = kLexEventError;
  args.trace = &loud;
  EXPECT_EQ(catch_error([&] { run(push_text("a 1a b"), args); }), kErrSyntaxInvalid);
  // Prescan events carry the exit-state name of kinds without a datatype.
  Recorder pre;
  pre.mask = kLexEventPrescan;
  args.trace = &pre;
  run(push_text("[;c\n]"), args);
  EXPECT_EQ(joined(pre.log), "prescan block! 1 @0\nprescan comment 1 @1\nprescan block! 2 @4\n");
}

TEST(LexerTest, CallbackMovesTheInput) {
  // Moving the input's index makes the scan go on from there.
  Recorder skip;
  skip.mask = kLexEventLoad;
  skip.on_load = [](Cell* input) {
    if (input->head() == 1) input->set_head(4);
  };
  TranscodeArgs args;
  args.trace = &skip;
  EXPECT_EQ(mold_of(*run(push_text("a b c d"), args)), "[a c d]");
}

TEST(LexerTest, CallbackChangesTheBinary) {
  // The scan reads its own copy: growing (and so moving) the binary, or
  // emptying it, inside a callback leaves the scan on the original bytes.
  Cell* bytes = push_bytes("a bb ccc dddd");
  Recorder grow;
  grow.mask = kLexEventLoad;
  grow.on_load = [&](Cell*) {
    for (int i = 0; i < 5000; i++) *reserve_tail(bytes->node(), 1) = 'z';
    gc_collect();
  };
  TranscodeArgs args;
  args.trace = &grow;
  EXPECT_EQ(mold_of(*run(bytes, args)), "[a bb ccc dddd]");
  Recorder shrink;
  shrink.mask = kLexEventLoad;
  Cell* text = push_text("x yy zzz");
  shrink.on_load = [&](Cell*) {
    string_truncate(text, 0);
    gc_collect();
  };
  args.trace = &shrink;
  EXPECT_EQ(mold_of(*run(text, args)), "[x yy zzz]");
}

TEST(LexerTest, NestedScanInACallback) {
  Recorder nest;
  nest.mask = kLexEventLoad;
  std::string inner;
  nest.on_load = [&](Cell*) {
    if (!inner.empty()) return;
    Cell* values = run(push_text("[p q] r"));
    inner = mold_of(*values);
  };
  TranscodeArgs args;
  args.trace = &nest;
  EXPECT_EQ(mold_of(*run(push_text("[a [b c]] d"), args)), "[[a [b c]] d]");
  EXPECT_EQ(inner, "[[p q] r]");
}

// Mold then load gives back an equal value, for a value of every type that
// molds to loadable text.
TEST(LexerTest, MoldThenLoadRoundTrip) {
  const char* sources[] = {"12",
                           "-2147483648",
                           "1.5",
                           "-0.0",
                           "1e-300",
                           "50%",
                           "1.#INF",
                           "-1.#INF",
                           "1.2.3",
                           "1.2.3.4.5.6.7.8.9.10.11.12",
                           "3x-4",
                           "(1.5, 2)",
                           "(1, 2, 3)",
                           "1:02:03",
                           "-0:00:01.5",
                           "100:00",
                           "$1.25",
                           "-USD$12.5",
                           "#\"a\"",
                           "#\"^/\"",
                           "#\"^(1F600)\"",
                           "\"a^\"b^/c\"",
                           "{a\"b}",
                           "\"\xE2\x82\xAC\"",
                           "%file.txt",
                           "%\"a b\"",
                           "http://a.com/b?c=d",
                           "a@b.com",
                           "<a href=\"x\">",
                           "@ref",
                           "#issue",
                           "word",
                           "set:",
                           ":get",
                           "'lit",
                           "/refine",
                           "a/b/c",
                           "'a/b",
                           ":a/1",
                           "a/b:",
                           "[a [b] (c)]",
                           "(1 + 2)",
                           "#(true)",
                           "#(none)",
                           "#(integer!)",
                           "1-Jan-2024",
                           "1-Jan-2024/10:00:00+01:00",
                           "0FFh",
                           "%{raw}b}%",
                           "#[a 1 b \"x\"]"};
  for (const char* text : sources) {
    SCOPED_TRACE(text);
    StackSave save;
    Cell* first = run(push_text(text));
    ASSERT_EQ(block_total_length(first), 1);
    Act mold_all(kActionMold, {*block_ks_abs_at(first, 0)});
    mold_all.ref("all");
    std::string molded = test::text_of(mold_all.value());
    Cell* second = run(push_text(molded));
    ASSERT_EQ(block_total_length(second), 1) << molded;
    EXPECT_TRUE(test::compare(*block_ks_abs_at(first, 0), *block_ks_abs_at(second, 0), kCmpStrictEqual))
        << molded << " loaded back as " << mold_of(*block_ks_abs_at(second, 0));
    EXPECT_EQ(mold_of(*block_ks_abs_at(second, 0)), mold_of(*block_ks_abs_at(first, 0)));
  }
}

}  // namespace
}  // namespace kiv
