// binary!: to and make, the mold layout, byte comparison, the bitwise
// actions, trim, append/insert/change (every value checked before a byte
// moves), the inherited search and poke on bytes, path set, and the base
// codecs reached through values.
#include "datatypes/binary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/tuple.h"
#include "kiv_test.h"
#include "runtime/memory.h"

namespace kiv {
namespace {

using test::Act;
using test::block_of;
using test::mold;
using test::mold_of;
using test::outcome;
using test::text_cell;

Cell i(int32_t n) { return integer_cell(n); }

// A binary! on the data stack holding the bytes written in [hex] digits.
Cell* bin(std::string_view hex, int32_t head = 0) {
  Cell* b = binary_make_at(stack_push(), uint32_t(hex.size() / 2));
  for (size_t k = 0; k + 1 < hex.size(); k += 2) {
    uint8_t byte = uint8_t(std::stoi(std::string(hex.substr(k, 2)), nullptr, 16));
    binary_append_bytes(b, &byte, 1);
  }
  b->set_head(head);
  return b;
}

// The mold of [n] bytes 0x11 under [mold_args] (a callable taking the cell).
std::string run_of(int n, char digit = '1') { return std::string(size_t(n) * 2, digit); }

std::string outcome_of(const Act& act) {
  return outcome([&] { return *act.run(); });
}

uint32_t unit_of(const Cell* b) { return series_buffer_of(b)->unit(); }

TEST(BinaryTest, To) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {i(1), "#{00000001}"},
      {i(-2), "#{FFFFFFFE}"},
      {float_cell(1.0), "#{3FF0000000000000}"},
      {text_cell("\xC3\xA9"), "#{C3A9}"},  // U+00E9 as UTF-8, from a 1-byte text
      {text_cell("\xE2\x82\xAC", 2), "#{E282AC}"},
      {char_cell(0x1F600), "#{F09F9880}"},
      {*block_of({i(1), text_cell("a"), *bin("FF")}), "#{0161FF}"},
      {*block_of({i(1), *block_of({i(2), char_cell('c')})}), "#{010263}"},  // nested blocks
      {tuple_cell(3, 0x030201), "#{010203}"},
      {*bin("010203", 1), "#{0203}"},
      {test::word("0102", kTypeIssue), "#{0102}"},
      {test::word("ZZ", kTypeIssue), "!invalid-data"},
      {*block_of({i(256)}), "!invalid-arg"},
      {*block_of({kNoneCell}), "!bad-to-arg"},
      {kNoneCell, "!bad-to-arg"},
      {make_cell(kTypeMoney), "!bad-to-arg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(outcome_of(Act(kActionTo, {datatype_cell(kTypeBinary), c.spec})), c.expected);
  }
  // make from a number gives an empty binary! with that room; other specs convert.
  EXPECT_EQ(outcome_of(Act(kActionMake, {datatype_cell(kTypeBinary), i(100)})), "#{}");
  EXPECT_EQ(outcome_of(Act(kActionMake, {datatype_cell(kTypeBinary), text_cell("ab")})), "#{6162}");
  // to string! decodes UTF-8.
  EXPECT_EQ(outcome_of(Act(kActionTo, {datatype_cell(kTypeString), *bin("C3A9")})), "\"\xC3\xA9\"");
}

TEST(BinaryTest, MoldLayout) {
  struct Case {
    int bytes;
    std::string expected;
  } cases[] = {
      {0, "#{}"},
      {2, "#{1111}"},
      {30, "#{" + run_of(30) + "}"},
      {31, "#{\n    " + run_of(31) + "\n}"},
      {32, "#{\n    " + run_of(32) + "\n    }"},  // the break after the 32nd byte comes before "}"
      {33, "#{\n    " + run_of(32) + "\n    " + run_of(1) + "\n}"},
      {64, "#{\n    " + run_of(32) + "\n    " + run_of(32) + "\n    }"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    Cell* b = bin(run_of(c.bytes));
    EXPECT_EQ(mold_of(*b), c.expected);
    EXPECT_EQ(test::form_of(*b), c.expected);
  }
  Cell* b = bin(run_of(31));
  EXPECT_EQ(mold(*b, false, false, true), "#{" + run_of(31) + "}");  // /flat
  EXPECT_EQ(mold(*bin("0A0B"), true), "0A0B");                       // /only
  EXPECT_EQ(mold(*bin("0A0B0C0D"), false, false, false, 5), "#{0A0");
}

TEST(BinaryTest, Compare) {
  struct Case {
    const char* a;
    const char* b;
    CompareOp op;
    bool expected;
  } cases[] = {
      {"01", "0100", kCmpLesser, true},  // a shorter prefix orders first
      {"02", "0100", kCmpGreater, true},
      {"01", "0100", kCmpEqual, false},
      {"FF", "0F", kCmpGreater, true},  // bytes are unsigned
      {"6162", "6162", kCmpStrictEqual, true},
      {"", "", kCmpEqual, true},
      {"", "00", kCmpLesser, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " " << int(c.op) << " " << c.b);
    EXPECT_EQ(test::compare(*bin(c.a), *bin(c.b), c.op), c.expected);
  }
  // No folding: "a" and "A" differ as bytes; other types are never equal.
  EXPECT_FALSE(test::compare(*bin("61"), *bin("41"), kCmpEqual));
  EXPECT_FALSE(test::compare(*bin("61"), text_cell("a"), kCmpEqual));
  EXPECT_EQ(outcome([&] { return logic_cell(test::compare(*bin("61"), text_cell("a"), kCmpLesser)); }),
            "!invalid-compare");
}

TEST(BinaryTest, Bitwise) {
  struct Case {
    ActionId action;
    const char* a;
    Cell b;
    const char* expected;
  } cases[] = {
      {kActionAndT, "F0", *bin("0F0F"), "#{0000}"}, {kActionOrT, "F0", *bin("0F0F"), "#{FF0F}"},
      {kActionXorT, "F0", *bin("0F0F"), "#{FF0F}"}, {kActionXorT, "0F0F", *bin("F0"), "#{FF0F}"},
      {kActionAndT, "FFFF", *bin("0F"), "#{0F00}"}, {kActionOrT, "F0", i(1), "!invalid-arg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(outcome_of(Act(c.action, {*bin(c.a), c.b})), c.expected);
  }
  // complement works in place: the value's own bytes change.
  Cell* b = bin("00F0", 1);
  EXPECT_EQ(outcome_of(Act(kActionComplement, {*b})), "#{0F}");
  EXPECT_EQ(mold_of(test::at_head(b, 0)), "#{000F}");
}

TEST(BinaryTest, Trim) {
  struct Case {
    const char* bytes;
    const char* ref;
    const char* expected;
  } cases[] = {
      {"0000010000", nullptr, "#{01}"},
      {"0000010000", "head", "#{010000}"},
      {"0000010000", "tail", "#{000001}"},
      {"00010001", "all", "#{0101}"},
      {"", nullptr, "#{}"},
      {"0000", nullptr, "#{}"},
      {"0000", "auto", "!not-done"},
      {"0000", "lines", "!not-done"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes << " " << (c.ref ? c.ref : ""));
    Act trim(kActionTrim, {*bin(c.bytes)});
    if (c.ref) trim.ref(c.ref);
    EXPECT_EQ(outcome_of(trim), c.expected);
  }
  EXPECT_EQ(outcome_of(Act(kActionTrim, {*bin("61626361")}).ref("with", text_cell("a"))), "#{6263}");
}

TEST(BinaryTest, AppendAndInsert) {
  struct Case {
    const char* series;
    int32_t head;
    Cell value;
    bool append;
    int32_t part;  // -1: none
    int32_t dup;   // 0: none
    const char* result;
    const char* whole;
  } cases[] = {
      {"", 0, i(1), true, -1, 0, "#{01}", "#{01}"},
      {"", 0, i(-1), true, -1, 0, "#{FF}", "#{FF}"},
      {"", 0, i(256), true, -1, 0, "!invalid-arg", "#{}"},
      {"", 0, i(-129), true, -1, 0, "!invalid-arg", "#{}"},
      {"01", 0, char_cell(0xE9), true, -1, 0, "#{01C3A9}", "#{01C3A9}"},
      {"01", 0, text_cell("abc"), true, 2, 0, "#{016162}", "#{016162}"},
      {"01", 0, *block_of({i(2), i(3), i(4)}), true, 2, 0, "#{010203}", "#{010203}"},
      {"01", 0, text_cell("ab"), true, -1, 3, "#{01616261626162}", "#{01616261626162}"},
      {"01", 0, i(7), true, -1, -5, "#{01}", "#{01}"},
      {"0104", 1, *block_of({i(2), i(3)}), false, -1, 0, "#{04}", "#{01020304}"},
      {"0104", 9, i(5), false, -1, 0, "#{}", "#{010405}"},  // a head past the tail inserts at the tail
      {"01", 0, kNoneCell, true, -1, 0, "!bad-to-arg", "#{01}"},
      {"01", 0, float_cell(1.5), false, -1, 0, "!bad-to-arg", "#{01}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.series << " -> " << c.whole);
    Cell* b = bin(c.series, c.head);
    Act act(c.append ? kActionAppend : kActionInsert, {*b, c.value});
    if (c.part >= 0) act.ref("part", i(c.part));
    if (c.dup) act.ref("dup", i(c.dup));
    EXPECT_EQ(outcome_of(act), c.result);
    EXPECT_EQ(mold_of(test::at_head(b, 0)), c.whole);
  }
}

TEST(BinaryTest, BadByteInsideBlockLeavesBinaryUnchanged) {
  // The out-of-range integer sits deep in a nested block after good values:
  // nothing is written, not even the bytes before it.
  for (ActionId action : {kActionAppend, kActionInsert, kActionChange}) {
    Cell* b = bin("0102");
    Cell* value = block_of({i(9), *block_of({i(8), *block_of({i(300)})})});
    EXPECT_EQ(outcome_of(Act(action, {*b, *value})), "!invalid-arg");
    EXPECT_EQ(mold_of(*b), "#{0102}");
  }
}

TEST(BinaryTest, Change) {
  struct Case {
    const char* series;
    int32_t head;
    Cell value;
    int32_t part;  // -1: none
    int32_t dup;   // 0: none
    const char* result;
    const char* whole;
  } cases[] = {
      {"010203", 0, *bin("FF"), -1, 0, "#{0203}", "#{FF0203}"},
      {"010203", 1, *bin("FFEE"), -1, 0, "#{}", "#{01FFEE}"},
      {"010203", 2, *bin("AABBCC"), -1, 0, "#{}", "#{0102AABBCC}"},  // longer than the rest
      {"010203", 0, *bin("FF"), 3, 0, "#{}", "#{FF}"},
      {"010203", 0, *bin("AABB"), 0, 0, "#{010203}", "#{AABB010203}"},
      {"010203", 0, i(9), -1, 2, "#{03}", "#{090903}"},
      {"010203", 0, test::word("ab"), -1, 0, "#{03}", "#{616203}"},  // formed
      {"010203", 0, i(-200), -1, 0, "!invalid-arg", "#{010203}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.series << " -> " << c.whole);
    Cell* b = bin(c.series, c.head);
    Act act(kActionChange, {*b, c.value});
    if (c.part >= 0) act.ref("part", i(c.part));
    if (c.dup) act.ref("dup", i(c.dup));
    EXPECT_EQ(outcome_of(act), c.result);
    EXPECT_EQ(mold_of(test::at_head(b, 0)), c.whole);
  }
  // A binary changed with its own bytes reads them as they were.
  Cell* b = bin("01020304");
  EXPECT_EQ(outcome_of(Act(kActionChange, {test::at_head(b, 1), *b})), "#{}");
  EXPECT_EQ(mold_of(*b), "#{0101020304}");
}

TEST(BinaryTest, InheritedSearchAndAccess) {
  Cell* b = bin("0102030102");
  EXPECT_EQ(outcome_of(Act(kActionFind, {*b, *bin("0301")})), "#{030102}");
  EXPECT_EQ(outcome_of(Act(kActionFind, {*b, i(2)}).ref("last")), "#{02}");
  EXPECT_EQ(outcome_of(Act(kActionSelect, {*b, i(3)})), "1");
  EXPECT_EQ(outcome_of(Act(kActionFind, {*b, *bin("0304")})), "none");
  EXPECT_EQ(outcome_of(Act(kActionPick, {*b, i(3)})), "3");
  EXPECT_EQ(outcome_of(Act(kActionPoke, {*b, i(1), i(255)})), "255");
  EXPECT_EQ(outcome_of(Act(kActionPoke, {*b, i(1), i(256)})), "!invalid-arg");
  EXPECT_EQ(outcome_of(Act(kActionRemove, {*b}).ref("part", i(2))), "#{030102}");
  EXPECT_EQ(mold_of(*b), "#{030102}");
}

TEST(BinaryTest, PathSetKeepsBytes) {
  // A key that is not an integer is found, and the byte after it is set: a
  // code point above 255 is refused, never stored by widening the buffer.
  auto set = [](Cell* b, Cell key, Cell value) {
    EvalPathArgs a;
    a.element = stack_push_value(key);
    a.value = stack_push_value(value);
    return outcome([&] { return *action_eval_path(b, a); });
  };
  Cell* b = bin("010203");
  EXPECT_EQ(set(b, *bin("01"), char_cell(0x1234)), "!invalid-arg");
  EXPECT_EQ(set(b, i(2), char_cell(0x1234)), "!invalid-arg");
  EXPECT_EQ(set(b, *bin("01"), i(300)), "!invalid-arg");
  EXPECT_EQ(set(b, *bin("02"), i(255)), "255");
  EXPECT_EQ(set(b, *bin("FF"), i(1)), "!out-of-range");
  EXPECT_EQ(set(b, *bin("03"), i(1)), "!bad-path-set");
  EXPECT_EQ(mold_of(*b), "#{0102FF}");
  EXPECT_EQ(unit_of(b), 1u);
}

TEST(BinaryTest, EnbaseDebase) {
  struct Case {
    Cell value;
    int32_t base;
    const char* encoded;
  } cases[] = {
      {*bin("FF"), 64, "\"/w==\""},     {*bin("FF"), 16, "\"FF\""},         {*bin("FF"), 2, "\"11111111\""},
      {*bin("FF"), 58, "\"5Q\""},       {text_cell("foo"), 64, "\"Zm9v\""}, {*bin("00FF", 1), 16, "\"FF\""},
      {*bin("FF"), 10, "!invalid-arg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoded);
    Cell base = i(c.base);
    EXPECT_EQ(outcome([&] { return *binary_enbase(&c.value, &base); }), c.encoded);
  }
  struct Back {
    const char* text;
    int32_t base;
    const char* decoded;
  } backs[] = {
      {"/w==", 64, "#{FF}"},     {"/w", 64, "#{}"},
      {"/w=", 64, "#{FF}"},      {"=", 64, "none"},
      {"0F 0f", 16, "#{0F0F}"},  {"0F0", 16, "#{0F}"},
      {"0G", 16, "none"},        {"112g", 58, "#{000061}"},
      {"0", 58, "none"},         {"00000001 ;x", 2, "#{01}"},
      {"0", 10, "!invalid-arg"}, {"Zm\xC3\xA9", 64, "none"},  // a code point above 127
  };
  for (const Back& c : backs) {
    SCOPED_TRACE(c.text);
    Cell text = text_cell(c.text);
    Cell base = i(c.base);
    EXPECT_EQ(outcome([&] { return *binary_debase(&text, &base); }), c.decoded);
  }
  // The default base is 64; a binary! is read as 1-byte text.
  Cell* text = bin("5A6D3976");  // "Zm9v"
  EXPECT_EQ(outcome([&] { return *binary_debase(text, nullptr); }), "#{666F6F}");
}

}  // namespace
}  // namespace kiv
