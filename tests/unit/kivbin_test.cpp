// The KIVBIN codec against byte tables worked out by hand from the format,
// in both forms (so an encoder and a decoder that agree on a wrong layout
// still fail), and the decoder's checks of malformed input, each with the
// position it reports.
#include "services/kivbin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/triple.h"
#include "datatypes/word.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "kiv_test.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "services/lz_codec.h"

namespace kiv {
namespace {

// Bytes from hexadecimal text; blanks are skipped. Placeholders, for the
// fields a process chooses: {S:name} the plain slot word of the global word
// name, {C} and {P} the class id of the object last evaluated, as a compact
// zigzag varint and as a plain word.
std::vector<uint8_t> unhex(const std::string& text, uint32_t class_id = 0) {
  std::vector<uint8_t> out;
  auto word = [&out](uint32_t u) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(u >> (8 * i)));
  };
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    if (c == ' ') {
      i++;
    } else if (c == '{') {
      size_t close = text.find('}', i);
      std::string field = text.substr(i + 1, close - i - 1);
      if (field == "C") {
        uint32_t u = (class_id << 1) ^ uint32_t(int32_t(class_id) >> 31);
        while (u >= 0x80) {
          out.push_back(uint8_t(u | 0x80));
          u >>= 7;
        }
        out.push_back(uint8_t(u));
      } else if (field == "P") {
        word(class_id);
      } else {
        Cell w = load_word(field.substr(2).c_str());
        word(uint32_t(word_index(&w)));
      }
      i = close + 1;
    } else {
      out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
      i += 2;
    }
  }
  return out;
}

std::string hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; i++) {
    std::snprintf(b, sizeof b, "%02X", p[i]);
    s += b;
  }
  return s;
}

// The stream of [value] in the compact or plain form, as hexadecimal text.
std::string encode_hex(const Cell* value, bool compact) {
  StackSave save;
  Cell* bin = kivbin_encode(value, compact);
  return hex(binary_head_ptr(bin), size_t(binary_length(bin)));
}

// The mold of what [bytes] decode to: the one value, or the block of several.
std::string decode_mold(const std::vector<uint8_t>& bytes) {
  StackSave save;
  Cell* out = block_push_only(1);
  ErrorId e = test::catch_error([&] {
    Cell arg = kNoneCell;
    kivbin_decode(bytes.data(), bytes.size(), out, &arg);
  });
  if (e != test::kNoError) return std::string("!") + error_info(e).word;
  return block_total_length(out) == 1 ? test::mold(*block_ks_abs_at(out, 0), false, true)
                                      : test::mold(*out, false, true);
}

// Pushes the value [source] evaluates to; script errors fail the test.
Cell* eval_value(const char* source) {
  Cell* v = stack_push();
  EXPECT_EQ(test::catch_error([&] {
              Cell* out;
              (void)test::evaluate(source, &out);
              *v = *out;
            }),
            test::kNoError)
      << source << ": " << test::eval_mold(source);
  return v;
}

struct Layout {
  const char* source;   // evaluated to the value
  const char* compact;  // its compact stream
  const char* plain;    // its plain stream
};

// Each stream is header, root count and data size, the symbol table when
// there are symbols, then the records.
constexpr Layout kLayouts[] = {
    // The short integer byte; plain: type word and value.
    {.source = "1",
     .compact = "4B495642494E0201 01 01 81",
     .plain = "4B495642494E0200 01000000 08000000 0B000000 01000000"},
    // A global word (symbol 0, plain bit 25), the zigzag integers -1 and 64
    // (64 has no short form), true.
    {.source = "reduce ['a -1 64 #(true)]",
     .compact = "4B495642494E0205 01 0A 01 02 00000000 6100 0504 0F00 0B01 0B8001 C2",
     .plain = "4B495642494E0204 01000000 30000000 01000000 04000000 00000000 61000000"
              " 05000000 00000000 04000000 0F000002 00000000 {S:a} 0B000000 FFFFFFFF"
              " 0B000000 40000000 04000000 01000000"},
    // Doubles: 1.5 in full, 2.0 short, -0.0 never short, 50% short (n = 50),
    // 12:00 short (43200 s); plain: each header at a multiple of 8 after
    // padding words, high word first.
    {.source = "reduce [1.5 2.0 -0.0 50% 12:00]",
     .compact = "4B495642494E0201 01 1C 0505 0C000000000000F83F 4C04 0C0000000000000080 6664 6B80A305",
     .plain = "4B495642494E0200 01000000 5C000000 05000000 00000000 05000000"
              " 00000000 0C000000 0000F83F 00000000 00000000 0C000000 00000040 00000000"
              " 00000000 0C000000 00000080 00000000 00000000 26000000 0000E03F 00000000"
              " 00000000 2B000000 0018E540 00000000"},
    // A string met twice: the second time the reference prefix, type, and
    // the path [0 0]; plain: unit 1 in bits 8-15, bit 19, the 255 word.
    {.source = "b: \"ab\" reduce [b b]",
     .compact = "4B495642494E0201 01 0B 0502 07086162 C107 020000",
     .plain = "4B495642494E0200 01000000 34000000 05000000 00000000 02000000"
              " 07010000 00000000 02000000 61620000"
              " 07010800 00000000 FF000000 02000000 00000000 00000000"},
    // A block holding itself: the path [0].
    {.source = "b: copy [1] append/only b b b",
     .compact = "4B495642494E0201 01 07 0502 81 C105 0100",
     .plain = "4B495642494E0200 01000000 28000000 05000000 00000000 02000000"
              " 0B000000 01000000 05000800 00000000 FF000000 01000000 00000000"},
    // The new-line marker: prefix C0, plain bit 31.
    {.source = "[\n1]",
     .compact = "4B495642494E0201 01 04 0501 C081",
     .plain = "4B495642494E0200 01000000 14000000 05000000 00000000 01000000 0B000080 01000000"},
    // A date with time and zone +1:00 (the UTC time stored), money with its
    // sign, tuples of 3 and 4 bytes, a typeset, a char, a pair.
    {.source = "10-Dec-2026/12:30:05+1:00",
     .compact = "4B495642494E0201 01 0D 6F 04C5D50F 00000000A037E440",
     .plain = "4B495642494E0200 01000000 10000000 2F000000 04C5D50F A037E440 00000000"},
    {.source = "-$1.5",
     .compact = "4B495642494E0201 01 0D 71 00 0000000000000000150000",
     .plain = "4B495642494E0200 01000000 10000000 31004000 00 0000000000000000150000"},
    {.source = "reduce [1.2.3 1.2.3.4]",
     .compact = "4B495642494E0201 01 0C 0502 27010203 670401020304",
     .plain = "4B495642494E0200 01000000 2C000000 05000000 00000000 02000000"
              " 27030000 01020300 00000000 00000000 27040000 01020304 00000000 00000000"},
    {.source = "make typeset! [integer!]",
     .compact = "4B495642494E0201 01 04 21020010",
     .plain = "4B495642494E0200 01000000 10000000 21000000 00100000 00000000 00000000"},
    {.source = "reduce [#\"\xC3\xA9\" 3x-4]",
     .compact = "4B495642494E0201 01 08 0502 0AE901 250607",
     .plain = "4B495642494E0200 01000000 20000000 05000000 00000000 02000000"
              " 0A000000 E9000000 25000000 03000000 FCFFFFFF"},
    // Bytes, a 4-byte-unit string (unit code 2), a bitset, a vector of
    // 16-bit integers (type 11, unit code 1).
    {.source = "#{CAFE}",
     .compact = "4B495642494E0201 01 04 2902CAFE",
     .plain = "4B495642494E0200 01000000 10000000 29010000 00000000 02000000 CAFE0000"},
    {.source = "\"^(1F600)\"",
     .compact = "4B495642494E0201 01 06 070600F60100",
     .plain = "4B495642494E0200 01000000 10000000 07040000 00000000 01000000 00F60100"},
    {.source = "make bitset! #{0040}",
     .compact = "4B495642494E0201 01 04 1E020040",
     .plain = "4B495642494E0200 01000000 0C000000 1E000000 02000000 00400000"},
    {.source = "make vector! [integer! 16 [1 2]]",
     .compact = "4B495642494E0201 01 07 232D0201000200",
     .plain = "4B495642494E0200 01000000 14000000 23020000 00000000 02000000 0B000000 01000200"},
    // A map: its key a set-word.
    {.source = "make map! [a 1]",
     .compact = "4B495642494E0205 01 05 01 02 00000000 6100 2802 1000 81",
     .plain = "4B495642494E0204 01000000 1C000000 01000000 04000000 00000000 61000000"
              " 28000000 02000000 10000002 00000000 {S:a} 0B000000 01000000"},
    // An object: class id, the context (kind 2, self, values), its words
    // and values.
    {.source = "make object! [a: 1]",
     .compact = "4B495642494E0205 01 07 01 02 00000000 6100 20 {C} 0E1A 01 00 81",
     .plain = "4B495642494E0204 01000000 1C000000 01000000 04000000 00000000 61000000"
              " 20000000 {P} 0E000058 01000000 00000000 0B000000 01000000"},
    // A function: spec and body sizes, its context (kind 1, on the stack,
    // no values), the spec, and the body whose word refers to the function
    // by the path [0] with its slot.
    {.source = "func [x][x]",
     .compact = "4B495642494E0205 01 13 01 02 00000000 7800"
                " 18 0101 0E05 01 00 0501 0F00 0501 C14F 00 00 0100",
     .plain = "4B495642494E0204 01000000 54000000 01000000 04000000 00000000 78000000"
              " 18000000 01000000 01000000 0E000024 01000000 00000000"
              " 05000000 00000000 01000000 0F000002 00000000 {S:x}"
              " 05000000 00000000 01000000 0F000800 00000000 00000000 FF000000 01000000 00000000"},
};

TEST(Kivbin, BothFormsAreTheLayoutsWorkedOutByHand) {
  base_environment_init();
  for (const Layout& c : kLayouts) {
    SCOPED_TRACE(c.source);
    StackSave save;
    Cell* v = eval_value(c.source);
    const uint32_t class_id = v->is(kTypeObject) ? object_class(v) : 0;
    const std::vector<uint8_t> compact = unhex(c.compact, class_id);
    const std::vector<uint8_t> plain = unhex(c.plain, class_id);
    EXPECT_EQ(encode_hex(v, true), hex(compact.data(), compact.size()));
    EXPECT_EQ(encode_hex(v, false), hex(plain.data(), plain.size()));
    // The bytes written by hand decode to the value.
    const std::string molded = test::mold(*v, false, true);
    EXPECT_EQ(decode_mold(compact), molded);
    EXPECT_EQ(decode_mold(plain), molded);
  }
}

// Records only a decoder meets: the reference record, plain padding, a type
// id given as a varint, the most negative integer, short tuples.
TEST(Kivbin, DecoderReadsWhatTheEncoderNeverWrites) {
  struct Case {
    const char* bytes;
    const char* molded;
  } cases[] = {
      {"4B495642494E0201 01 07 0502 81 FF020000", "[1 1]"},
      {"4B495642494E0200 01000000 0C000000 00000000 0B000080 05000000", "5"},
      {"4B495642494E0201 01 02 3F03", "#(none)"},
      {"4B495642494E0201 01 06 0BFFFFFFFF0F", "-2147483648"},
      {"4B495642494E0201 01 04 670107 81", "[7.0.0 1]"},
      {"4B495642494E0200 01000000 10000000 27020000 01020000 00000000 00000000", "1.2.0"},
      // Two values give a block; flags bits 3-7 are ignored.
      {"4B495642494E02F9 01 02 8182", "[1 2]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(decode_mold(unhex(c.bytes)), c.molded);
  }
}

// A compressed stream: the head with the compressed flag, then the LZ
// stream of the rest. It decodes to the same value in both forms; a payload
// that does not inflate, or is cut, is invalid-data.
TEST(Kivbin, CompressedPayloadsInflateThroughTheLzCodec) {
  base_environment_init();
  StackSave save;
  Cell* v = eval_value("reduce [append/dup copy \"\" \"kiv \" 100 [a b c] 1.5 #{CAFE}]");
  const std::string molded = test::mold(*v, false, true);
  for (bool compact : {true, false}) {
    SCOPED_TRACE(compact);
    const std::vector<uint8_t> stream = unhex(encode_hex(v, compact).c_str());
    std::vector<uint8_t> packed(stream.begin(), stream.begin() + 8);
    packed[7] |= kKivbinCompressed;
    std::vector<uint8_t> payload;
    ASSERT_GT(lz_compress(stream.data() + 8, stream.size() - 8, &payload), 0);
    packed.insert(packed.end(), payload.begin(), payload.end());
    EXPECT_EQ(decode_mold(packed), molded);
    packed.resize(packed.size() - 3);
    EXPECT_EQ(decode_mold(packed), "!invalid-data");
  }
}

// Runs the decoder on [bytes]; the id of the error it raised and, for
// kb-invalid-record, the position it reported.
std::pair<ErrorId, int32_t> decode_error(const std::vector<uint8_t>& bytes) {
  StackSave save;
  Cell* out = block_push_only(1);
  ErrorId id = test::catch_error([&] {
    Cell arg = kNoneCell;
    kivbin_decode(bytes.data(), bytes.size(), out, &arg);
  });
  int32_t at = id == kErrScriptKbInvalidRecord ? integer_get(&last_raised_error().args[0]) : 0;
  return {id, at};
}

TEST(Kivbin, MalformedInputIsRefusedAtItsByte) {
  // "C" + records: a compact stream of the records given (no symbols).
  auto c = [](const std::string& records) {
    std::vector<uint8_t> r = unhex(records);
    std::vector<uint8_t> s = unhex("4B495642494E0201 01");
    s.push_back(uint8_t(r.size()));
    s.insert(s.end(), r.begin(), r.end());
    return s;
  };
  // Records start at byte 11.
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    ErrorId id;
    int32_t at;
  } cases[] = {
      {"not KIVBIN", unhex("4B495642494F0201 01 01 81"), kErrScriptInvalidData, 0},
      {"header cut short", unhex("4B495642494E02"), kErrScriptInvalidData, 0},
      {"plain payload under 8 bytes", unhex("4B495642494E0200 01000000"), kErrScriptInvalidData, 0},
      {"compressed payload", unhex("4B495642494E0203 0000"), kErrScriptInvalidData, 0},
      {"data size past the end", unhex("4B495642494E0201 01 05 81"), kErrScriptKbInvalidRecord, 10},
      {"varint past 32 bits", c("0BFFFFFFFF10"), kErrScriptKbInvalidRecord, 16},
      {"read past the end", c("0B80"), kErrScriptKbInvalidRecord, 13},
      {"type id 0", c("00"), kErrScriptKbInvalidRecord, 11},
      {"type id past the last", c("3F37"), kErrScriptKbInvalidRecord, 11},
      {"lead byte C5", c("C5"), kErrScriptKbInvalidRecord, 11},
      {"reference prefix on a short integer", c("C181"), kErrScriptKbInvalidRecord, 12},
      {"reference prefix on true", c("C1C2"), kErrScriptKbInvalidRecord, 12},
      {"reference prefix on an integer record", c("C10B02"), kErrScriptKbInvalidRecord, 12},
      {"definition prefix in user data", c("C40F00"), kErrScriptKbInvalidRecord, 11},
      {"typed logic record", c("04"), kErrScriptKbInvalidRecord, 11},
      {"count past the bytes left", c("050581"), kErrScriptKbInvalidRecord, 12},
      {"string unit code 3", c("0703"), kErrScriptKbInvalidRecord, 12},
      {"string longer than the bytes left", c("070A61"), kErrScriptKbInvalidRecord, 12},
      {"code point past 10FFFF", c("0A808044"), kErrScriptKbInvalidRecord, 12},
      {"4-byte unit past 10FFFF", c("07060000110000"), kErrScriptKbInvalidRecord, 13},
      {"datatype id past the last", c("0137"), kErrScriptKbInvalidRecord, 12},
      {"symbol without a table", c("0F00"), kErrScriptKbInvalidRecord, 12},
      {"typeset longer than 12", c("210D"), kErrScriptKbInvalidRecord, 12},
      {"tuple length 13", c("670D"), kErrScriptKbInvalidRecord, 12},
      {"tuple length 0", c("6700"), kErrScriptKbInvalidRecord, 12},
      {"date whose V disagrees", c("2F04C5D50F"), kErrScriptKbInvalidRecord, 12},
      {"date month 13", c("2F00D00000"), kErrScriptKbInvalidRecord, 12},
      {"date 30 February", c("2F002F0000"), kErrScriptKbInvalidRecord, 12},
      {"money digit A", c("3100 00000000000000000A0000"), kErrScriptKbInvalidRecord, 21},
      {"money currency past the list", c("31FF 0000000000000000000000"), kErrScriptKbInvalidRecord, 12},
      {"money record cut short", c("3100 0000"), kErrScriptKbInvalidRecord, 15},
      {"vector of logic", c("231000"), kErrScriptKbInvalidRecord, 12},
      {"vector of 2-byte floats", c("233100"), kErrScriptKbInvalidRecord, 12},
      {"native id 0", c("1500 0500"), kErrScriptKbInvalidRecord, 12},
      {"native id past the natives", c("156C 0500"), kErrScriptKbInvalidRecord, 12},
      {"action id past 62", c("163F 0500"), kErrScriptKbInvalidRecord, 12},
      {"the empty action slot 8", c("1608 0500"), kErrScriptKbInvalidRecord, 12},
      {"native spec not a block", c("1601 81"), kErrScriptKbInvalidRecord, 13},
      {"op over an integer", c("1781"), kErrScriptKbInvalidRecord, 12},
      {"reference path of length 0", c("FF00"), kErrScriptKbInvalidRecord, 12},
      {"reference path past the target", c("FF0105"), kErrScriptKbInvalidRecord, 13},
      {"reference path longer than the input", c("FF05"), kErrScriptKbInvalidRecord, 12},
      {"reference path through an integer", c("0501 81 FF03000000"), kErrScriptKbInvalidRecord, 18},
      {"reference form to a non-series", c("0502 81 C105020000"), kErrScriptKbInvalidRecord, 16},
      {"string reference to a block", c("0502 0500 C107020000"), kErrScriptKbInvalidRecord, 17},
      {"object context lead not 14", c("2000 0500"), kErrScriptKbInvalidRecord, 13},
      {"object context on the data stack", c("2000 0E0600"), kErrScriptKbInvalidRecord, 13},
      {"object context kind 3", c("2000 0E1300"), kErrScriptKbInvalidRecord, 13},
      {"on-change index outside the object", c("6000 0400 0E1A00"), kErrScriptKbInvalidRecord, 13},
      {"function context not on the stack", c("180000 0E1100 0500 0500"), kErrScriptKbInvalidRecord, 14},
      {"function spec record not a block", c("180000 0E0500 0600"), kErrScriptKbInvalidRecord, 17},
      {"error code outside the catalogue", c("22FFFFFF7F"), kErrScriptKbInvalidRecord, 12},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    auto [id, at] = decode_error(k.bytes);
    EXPECT_EQ(error_info(id).word, std::string(error_info(k.id).word));
    EXPECT_EQ(at, k.at);
  }
}

// The checks that need a symbol table: the table itself, word slots, a
// function's context against its spec.
TEST(Kivbin, SymbolTableAndBindingsAreChecked) {
  auto c = [](const std::string& symbols, const std::string& records) {
    std::vector<uint8_t> r = unhex(records);
    std::vector<uint8_t> s = unhex("4B495642494E0205 01");
    s.push_back(uint8_t(r.size()));
    std::vector<uint8_t> t = unhex(symbols);
    s.insert(s.end(), t.begin(), t.end());
    s.insert(s.end(), r.begin(), r.end());
    return s;
  };
  const std::string x = "01 02 00000000 7800";  // one symbol, x; records start at byte 18
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t at;
  } cases[] = {
      {"names not ending in a zero byte", c("01 02 00000000 7878", "81"), 18},
      {"symbol offset outside the names", c("01 02 05000000 7800", "0F00"), 13},
      {"symbol index outside the table", c(x, "0F01"), 20},
      {"table longer than the input", c("05 02 00000000 7800", "81"), 11},
      {"word slot outside its object", c(x, "2000 0E1A 01 00 81 C14F00 02 0100"), 29},
      {"word slot below -1", c(x, "2000 0E1A 01 00 81 C14F00 03 0100"), 29},
      {"two words of one spelling", c(x, "2000 0E1A 02 00 00 81 81"), 25},
      {"function context without its spec's word", c(x, "18 0101 0E05 00 0501 0F00 0500"), 19},
      {"function context with a word its spec lacks", c(x, "18 0001 0E05 01 00 0500 0500"), 19},
      {"word inline owner not an object or function", c(x, "4F00 00 05"), 22},
      {"word slot outside its inline object", c(x, "4F00 04 20 00 0E1A 01 00 81"), 21},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    auto [id, at] = decode_error(k.bytes);
    EXPECT_EQ(id, kErrScriptKbInvalidRecord);
    EXPECT_EQ(at, k.at);
  }
}

// Values no record carries raise access no-codec with their datatype, from
// inside a block too; the next encode starts afresh.
TEST(Kivbin, UncarriedValuesRaiseNoCodec) {
  for (Cell v : {triple_cell(1, 2, 3), make_cell(kTypeHandle), make_cell(kTypeEvent)}) {
    SCOPED_TRACE(int(v.type()));
    StackSave save;
    Cell* block = block_push_only(2);
    Cell one = integer_cell(1);
    block_append_value(block, &one);
    block_append_value(block, &v);
    for (bool compact : {true, false}) {
      EXPECT_EQ(test::catch_error([&] { kivbin_encode(block, compact); }), kErrAccessNoCodec);
      EXPECT_EQ(datatype_type(&last_raised_error().args[0]), v.type());
    }
    EXPECT_EQ(encode_hex(&one, true), "4B495642494E0201010181");
  }
}

// Boot data rules: a definition sets its word and leaves nothing, a word
// binds to the context of a value by its position from the first cell
// appended (its slot looked up for -1), a native's spec stays after it, an
// object keeps its class id; a definition before anything but a word record
// is refused.
TEST(Kivbin, BootDataFollowsItsOwnRules) {
  base_environment_init();
  StackSave save;
  Cell* target = block_push_only(4);
  Cell one = integer_cell(1);
  block_append_value(target, &one);
  auto boot = [&](const std::string& symbols, const std::string& records) {
    std::vector<uint8_t> r = unhex(records);
    std::vector<uint8_t> s = unhex(symbols.empty() ? "4B495642494E0201 01" : "4B495642494E0205 01");
    s.push_back(uint8_t(r.size()));
    std::vector<uint8_t> t = unhex(symbols);
    s.insert(s.end(), t.begin(), t.end());
    s.insert(s.end(), r.begin(), r.end());
    return kivbin_load_boot_data(s.data(), s.size(), target);
  };
  // "kivbin-boot": 11 letters and the zero byte.
  const std::string name = "01 0C 00000000 6B697662696E2D626F6F7400";
  EXPECT_EQ(boot(name, "C40F00 8B"), 1);
  EXPECT_EQ(block_total_length(target), 1);
  EXPECT_EQ(test::eval_mold("kivbin-boot"), "11");
  // An object, then its word by position 0 and slot -1 (looked up).
  EXPECT_EQ(boot(name, "2000 0E1A 01 00 85 4F00 00 01"), 1);
  ASSERT_EQ(block_total_length(target), 3);
  Cell word = *block_ks_abs_at(target, 2);
  EXPECT_EQ(word_index(&word), 0);
  EXPECT_EQ(test::mold(*get_word_value(&word)), "5");
  // An object, then a word bound to it by reference (prefix, slot 0, a
  // path of one step: position 0), as an object's own words are written.
  const int32_t base = boot(name, "2000 0E1A 01 00 86 C14F00 00 01 00");
  Cell by_reference = *block_ks_abs_at(target, base + 1);
  EXPECT_EQ(word_context(&by_reference), object_context(block_ks_abs_at(target, base)));
  EXPECT_EQ(test::mold(*get_word_value(&by_reference)), "6");
  auto refused = [&](const std::string& symbols, const std::string& records) {
    return test::catch_error([&] { boot(symbols, records); });
  };
  EXPECT_EQ(refused(name, "2000 0E1A 01 00 86 C10F00 00 01 00"), kErrScriptKbInvalidRecord);  // no slot form
  EXPECT_EQ(refused(name, "86 C14F00 00 01 00"), kErrScriptKbInvalidRecord);  // an integer has no context
  EXPECT_EQ(refused(name, "2000 0E1A 01 00 86 C14F00 02 01 00"), kErrScriptKbInvalidRecord);  // slot 1 of 1
  EXPECT_EQ(refused(name, "4F00 07 01"), kErrScriptKbInvalidRecord);  // no value at position 7
  EXPECT_EQ(refused(name, "C481"), kErrScriptKbInvalidRecord);
  EXPECT_EQ(refused(name, "C40F00 C40F00 81"), kErrScriptKbInvalidRecord);

  // What the encoder writes for an action and an object, read as boot data.
  Cell* append = eval_value(":append");
  Cell* object = eval_value("make object! [a: 1]");
  for (Cell* v : {append, object}) {
    Cell* bin = kivbin_encode(v, true);
    const int32_t base = kivbin_load_boot_data(binary_head_ptr(bin), size_t(binary_length(bin)), target);
    Cell decoded = *block_ks_abs_at(target, base);
    if (v == append) {
      ASSERT_EQ(block_total_length(target), base + 2);
      EXPECT_TRUE(decoded.is(kTypeAction));
      EXPECT_TRUE(block_ks_abs_at(target, base + 1)->is(kTypeBlock));
    } else {
      EXPECT_EQ(object_class(&decoded), object_class(object));
    }
  }
}

// The boot image's writer: the names given first in the symbol table (each
// given its global word by the decoder before any record), literals left in
// the target block, definitions that set their words and leave nothing, a
// function's words bound to its own context by position; a word bound to a
// context no top-level value owns cannot be written.
TEST(Kivbin, BootWriterDefinesAndBindsByPosition) {
  base_environment_init();
  StackSave save;
  Cell* fn = eval_value("func [a /local c] [c: a + kivbin-boot-b reduce [a c]]");
  Cell* definitions = block_push_only(2);
  Cell word = load_word("kivbin-boot-f");
  block_append_value(definitions, &word);
  block_append_value(definitions, fn);
  Cell* top = eval_value("[[x #y] 3]");
  // A name that is no global word yet: an unbound word.
  Cell* names = block_push_only(1);
  const int32_t first = symbol_make("kivbin-boot-first");
  ASSERT_LT(context_find_symbol(g_global_context, first, true), 0);
  const Cell unbound = word_cell(kTypeWord, 0, first, -1);
  block_append_value(names, &unbound);
  Cell* bin = kivbin_encode_boot(names, top, definitions);
  const std::vector<uint8_t> bytes(binary_head_ptr(bin), binary_head_ptr(bin) + binary_length(bin));
  ASSERT_GT(bytes.size(), 40u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), std::string("KIVBIN\x01\x05", 8));
  // Root count 1, the data size, 2 bytes at most: then the table, whose first
  // name is the one given first.
  size_t at = 9;
  while (bytes[at] & 0x80) at++;
  at++;
  const uint32_t count = bytes[at];
  const size_t names_at = at + 2 + size_t(count) * 4;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + names_at)), "kivbin-boot-first");

  Cell* target = block_push_only(4);
  Cell one = integer_cell(1);
  block_append_value(target, &one);
  EXPECT_EQ(kivbin_load_boot_data(bytes.data(), bytes.size(), target), 1);
  ASSERT_EQ(block_total_length(target), 3);
  EXPECT_EQ(test::mold(*block_ks_abs_at(target, 1)), "[x #y]");
  EXPECT_EQ(test::mold(*block_ks_abs_at(target, 2)), "3");
  EXPECT_EQ(test::eval_mold("kivbin-boot-b: 10 kivbin-boot-f 5"), "[5 15]");
  EXPECT_EQ(test::eval_mold("mold :kivbin-boot-f"), test::eval_mold("mold " + test::mold(*fn)));
  EXPECT_GE(context_find_symbol(g_global_context, first, true), 0);

  Cell* bound = eval_value("func [] bind [x] make object! [x: 1]");
  block_truncate(definitions, 1);
  block_append_value(definitions, bound);
  EXPECT_EQ(test::catch_error([&] { kivbin_encode_boot(names, top, definitions); }), kErrAccessNoCodec);
}

// Nesting deeper than the native stack allows ends in stack-overflow, in
// the decoder and in the encoder, run on a small stack of its own.
TEST(Kivbin, DeepNestingIsAnErrorNotACrash) {
  struct Outcome {
    ErrorId decoded = test::kNoError;
    ErrorId encoded = test::kNoError;
  } outcome;
  run_on_large_stack(
      kNativeStackMargin + (size_t{1} << 20),
      [](void* p) {
        Outcome* o = static_cast<Outcome*>(p);
        const uint32_t depth = 200000;
        std::vector<uint8_t> bytes = unhex("4B495642494E0201 01");
        for (uint32_t u = depth * 2; u;) {
          uint8_t b = uint8_t(u & 0x7F);
          u >>= 7;
          bytes.push_back(u ? uint8_t(b | 0x80) : b);
        }
        for (uint32_t i = 0; i < depth; i++) bytes.insert(bytes.end(), {0x05, 0x01});
        o->decoded = decode_error(bytes).first;

        StackSave save;
        Cell* outer = block_push_only(1);
        {
          CollectorPause pause;
          Cell* b = stack_push_value(*outer);
          for (uint32_t i = 0; i < depth; i++) {
            Cell* inner = block_push_only(1);
            block_append_value(b, inner);
            *b = *inner;
            stack_pop(1);
          }
        }
        o->encoded = test::catch_error([&] { kivbin_encode(outer, true); });
        return 0;
      },
      &outcome);
  EXPECT_EQ(outcome.decoded, kErrInternalStackOverflow);
  EXPECT_EQ(outcome.encoded, kErrInternalStackOverflow);
}

}  // namespace
}  // namespace kiv
