// The terminal's key decoder as byte tables (each key, whole and split into
// single-byte reads), and the key reader over a pipe: the escape wait, the
// cursor position query with keys typed meanwhile and late replies, and the
// end of the input.
#include "platform/terminal_keys.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/terminal_input.h"

namespace kiv {
namespace {

struct KeyCase {
  const char* name;
  std::string bytes;
  std::vector<int32_t> keys;  // in order; a position report shows as 1000 * row + col
};

const KeyCase kKeyCases[] = {
    {"Ascii", "aZ ~", {'a', 'Z', ' ', '~'}},
    {"Utf8", "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", {0xE9, 0x4E2D, 0x1F600}},
    {"BadBytes",
     "\xff\x80"
     "a\xc0\xaf\xed\xa0\x80",
     {0xFFFD, 0xFFFD, 'a', 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {"EnterIsCrOrLf", "\r\n", {kKeyEnter, kKeyEnter}},
    {"BackspaceAndDel", "\x08\x7f", {8, 127}},
    {"ControlKeys", "\x01\x03\x04\x09", {1, 3, 4, 9}},
    {"CsiArrows", "\x1b[A\x1b[B\x1b[C\x1b[D", {kKeyUp, kKeyDown, kKeyRight, kKeyLeft}},
    {"Ss3Arrows", "\x1bOA\x1bOB\x1bOC\x1bOD", {kKeyUp, kKeyDown, kKeyRight, kKeyLeft}},
    {"HomeEnd",
     "\x1b[H\x1b[F\x1bOH\x1bOF\x1b[1~\x1b[4~\x1b[7~\x1b[8~",
     {kKeyHome, kKeyEnd, kKeyHome, kKeyEnd, kKeyHome, kKeyEnd, kKeyHome, kKeyEnd}},
    {"EditingKeys", "\x1b[2~\x1b[3~\x1b[5~\x1b[6~", {kKeyInsert, kKeyDelete, kKeyPageUp, kKeyPageDown}},
    {"ModifiersReadPast", "\x1b[1;5A\x1b[3;2~", {kKeyUp, kKeyDelete}},
    {"OtherSequencesAreZero", "\x1b[200~x\x1b[?1;2c\x1bOx\x1b[16~", {0, 'x', 0, 0, 0}},
    {"FunctionKeys", "\x1bOP\x1b[15~\x1b[24~", {kKeyF1, kKeyF1 - 4, kKeyF12}},
    {"ShiftTabAndMouseAreZeroHere", "\x1b[Z\x1b[<0;3;4Mx", {0, 0, 'x'}},
    {"AltKey",
     "\x1b"
     "a\x1b\xc3\xa9\x1b\x1b[A",
     {'a', 0xE9, kKeyUp}},
    {"LoneEscapeAtTheEnd", "a\x1b", {'a', kKeyEscape}},
    {"BrokenSequenceEndsWhereItBreaks", "\x1b[1\x03x", {0, 3, 'x'}},
    {"PositionReport", "a\x1b[12;5Rb", {'a', 12005, 'b'}},
    {"PositionLookalikesAreKeys", "\x1b[5R\x1b[?1;2R", {0, 0}},
};

// Decodes [bytes] fed [step] bytes at a time, then the rest as final.
std::vector<int32_t> decode(const std::string& bytes, size_t step) {
  KeyDecoder decoder;
  std::vector<int32_t> keys;
  auto drain = [&](bool final) {
    for (;;) {
      int32_t key = 0;
      int row = 0, col = 0;
      KeyDecoder::Event e = decoder.next(final, &key, &row, &col);
      if (e == KeyDecoder::Event::kNone) return;
      keys.push_back(e == KeyDecoder::Event::kKey ? key : 1000 * row + col);
    }
  };
  for (size_t i = 0; i < bytes.size(); i += step) {
    decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()) + i, std::min(step, bytes.size() - i));
    drain(false);
  }
  drain(true);
  EXPECT_TRUE(decoder.empty());
  return keys;
}

class TerminalKeys : public testing::TestWithParam<KeyCase> {};

TEST_P(TerminalKeys, WholeAndSplit) {
  const KeyCase& c = GetParam();
  EXPECT_EQ(decode(c.bytes, c.bytes.size() + 1), c.keys) << "in one read";
  EXPECT_EQ(decode(c.bytes, 1), c.keys) << "one byte a read";
}

INSTANTIATE_TEST_SUITE_P(Cases, TerminalKeys, testing::ValuesIn(kKeyCases),
                         [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

// Everything the decoder tells the text-mode GUI, as short text: "k<key>"
// with "+s", "+a", "+c" for the modifiers, "m<button>,<col>,<row>" with "u" for
// a release, "p<row>,<col>".
struct InputCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> events;
};

const InputCase kInputCases[] = {
    {"ShiftTab", "\x1b[Z\t", {"k9+s", "k9"}},
    {"ModifiedArrows", "\x1b[1;2A\x1b[1;5D\x1b[1;3C", {"k-20+s", "k-23+c", "k-22+a"}},
    {"AddedKeys",
     "\x1b[1~\x1b[7~\x1bOH\x1b[4~\x1b[8~\x1bOF\x1b[2~\x1bOA\x1bOD",
     {"k-25", "k-25", "k-25", "k-24", "k-24", "k-24", "k-26", "k-20", "k-23"}},
    {"FunctionKeys",
     "\x1bOP\x1bOS\x1b[15~\x1b[17~\x1b[21~\x1b[23~\x1b[24~\x1b[1;2P",
     {"k-31", "k-34", "k-35", "k-36", "k-40", "k-41", "k-42", "k-31+s"}},
    {"SgrPressRelease", "\x1b[<0;10;5M\x1b[<0;10;5m", {"m0,10,5", "m0,10,5u"}},
    {"SgrModifiersMotionWheel",
     "\x1b[<4;1;1M\x1b[<24;2;2M\x1b[<35;7;8M\x1b[<64;3;3M\x1b[<65;3;3M",
     {"m4,1,1+s", "m24,2,2+a+c", "m35,7,8", "m64,3,3", "m65,3,3"}},
    {"DecimalMouseForm", "\x1b[32;4;6M\x1b[35;4;6M", {"m0,4,6", "m3,4,6"}},
    {"BadMouseReportsAreNoKeys", "\x1b[<1;2M\x1b[<1;2;Mz", {"k0", "k0", "kz"}},
    {"TerminalStringsSkipped",
     "\x1b]11;rgb:0/0/0\x07"
     "a\x1bPxyz\x1b\\b",
     {"k0", "ka", "k0", "kb"}},
    {"UnendedStringIsAltAndKeys", "\x1b]ab", {"k]+a", "ka", "kb"}},
    {"AltLetter", "\x1bx\x1bP", {"kx+a", "kP+a"}},
    {"SplitUtf8", "\xe2\x82\xac", {"k8364"}},
    {"PositionThenKey", "\x1b[3;9Rq", {"p3,9", "kq"}},
    {"LoneEscape", "\x1b", {"k27"}},
    {"NewEscapeAbandonsSequence", "\x1b[<0;1\x1b[A", {"k0", "k-20"}},
};

std::string text_of(KeyDecoder::Event e, const TerminalInputEvent& in) {
  std::string t;
  if (e == KeyDecoder::Event::kPosition) return "p" + std::to_string(in.row) + "," + std::to_string(in.col);
  if (e == KeyDecoder::Event::kMouse) {
    t = "m" + std::to_string(in.button) + "," + std::to_string(in.col) + "," + std::to_string(in.row);
    if (in.release) t += "u";
  } else {
    t = "k";
    if (in.key > 32 && in.key < 127 && in.key != '-' && !(in.key >= '0' && in.key <= '9'))
      t += char(in.key);
    else
      t += std::to_string(in.key);
  }
  if (in.modifiers & kModShift) t += "+s";
  if (in.modifiers & kModAlt) t += "+a";
  if (in.modifiers & kModControl) t += "+c";
  return t;
}

// Decodes [bytes] given in reads that end at the offsets [cuts], then the
// rest as final.
std::vector<std::string> decode_input(const std::string& bytes, const std::vector<size_t>& cuts) {
  KeyDecoder decoder;
  std::vector<std::string> events;
  auto drain = [&](bool final) {
    for (;;) {
      TerminalInputEvent in;
      KeyDecoder::Event e = decoder.next_input(final, &in);
      if (e == KeyDecoder::Event::kNone) return;
      events.push_back(text_of(e, in));
    }
  };
  size_t from = 0;
  for (size_t cut : cuts) {
    decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()) + from, cut - from);
    drain(false);
    from = cut;
  }
  decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()) + from, bytes.size() - from);
  drain(false);
  drain(true);
  EXPECT_TRUE(decoder.empty());
  return events;
}

class TerminalInputEvents : public testing::TestWithParam<InputCase> {};

TEST_P(TerminalInputEvents, CutAtEveryPosition) {
  const InputCase& c = GetParam();
  EXPECT_EQ(decode_input(c.bytes, {}), c.events) << "in one read";
  for (size_t cut = 1; cut < c.bytes.size(); cut++)
    EXPECT_EQ(decode_input(c.bytes, {cut}), c.events) << "cut at " << cut;
  std::vector<size_t> every;
  for (size_t cut = 1; cut < c.bytes.size(); cut++) every.push_back(cut);
  EXPECT_EQ(decode_input(c.bytes, every), c.events) << "one byte a read";
}

INSTANTIATE_TEST_SUITE_P(Cases, TerminalInputEvents, testing::ValuesIn(kInputCases),
                         [](const testing::TestParamInfo<InputCase>& info) { return info.param.name; });

TEST(TerminalKeys, IncompleteSequencesWaitUnlessFinal) {
  for (const char* start : {"\x1b", "\x1b[", "\x1b[1;", "\x1bO", "\xe4\xb8", "\x1bP", "\x1b]1;x\x1b"}) {
    KeyDecoder decoder;
    decoder.feed(reinterpret_cast<const uint8_t*>(start), strlen(start));
    int32_t key;
    int row, col;
    EXPECT_EQ(decoder.next(false, &key, &row, &col), KeyDecoder::Event::kNone) << start;
    EXPECT_FALSE(decoder.empty());
  }
}

// The key reader over a pipe standing for the terminal.
class TerminalReader : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds_), 0);
    null_ = open("/dev/null", O_WRONLY);
  }
  void TearDown() override {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
    close(null_);
  }
  void type(const std::string& bytes) {
    ASSERT_EQ(write(fds_[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  int32_t key(TerminalInput& input) {
    int32_t k = -100;
    EXPECT_EQ(input.read_key(&k), TerminalInput::Result::kKey);
    return k;
  }
  int fds_[2] = {-1, -1};
  int null_ = -1;
};

TEST_F(TerminalReader, LoneEscapeAfterTheWait) {
  TerminalInput input(fds_[0]);
  type("\x1b");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(key(input), kKeyEscape);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(kEscapeWaitMs - 5));
  type("\x1b[");
  type("A");
  EXPECT_EQ(key(input), kKeyUp) << "a sequence whose bytes arrive together within the wait";
}

TEST_F(TerminalReader, PositionReplyWithKeysTypedMeanwhile) {
  TerminalInput input(fds_[0]);
  type("ab\x1b[3;7Rc");
  EXPECT_EQ(input.query_cursor_column(null_), 6);
  EXPECT_EQ(key(input), 'a');
  EXPECT_EQ(key(input), 'b');
  EXPECT_EQ(key(input), 'c');
}

TEST_F(TerminalReader, NoReplyIsColumnZeroAndALateReplyIsDropped) {
  TerminalInput input(fds_[0]);
  type("x");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(input.query_cursor_column(null_), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kPositionWaitMs - 5));
  type("\x1b[3;7Ry");
  EXPECT_EQ(key(input), 'x');
  EXPECT_EQ(key(input), 'y');
}

TEST_F(TerminalReader, EndOfInputIsReportedAndStays) {
  TerminalInput input(fds_[0]);
  type("q\x1b");
  close(fds_[1]);
  fds_[1] = -1;
  EXPECT_EQ(key(input), 'q');
  EXPECT_EQ(key(input), kKeyEscape) << "a lone ESC before the end";
  int32_t k;
  EXPECT_EQ(input.read_key(&k), TerminalInput::Result::kEnd);
  EXPECT_EQ(input.read_key(&k), TerminalInput::Result::kEnd);
}

}  // namespace
}  // namespace kiv
