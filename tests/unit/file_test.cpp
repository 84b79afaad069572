// url! and file!: molds (and what they escape), percent-encoding and
// decoding, the OS form of paths both ways, make and to (a URL from a block),
// path access joining with one "/", and the slots they take from string!.
#include "datatypes/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "datatypes/context.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::Act;
using test::block_of;
using test::call_action;
using test::catch_error;
using test::compare;
using test::eval_path;
using test::form_of;
using test::mold;
using test::mold_of;
using test::outcome;
using test::push_text;
using test::text_of;
using test::word;

Cell* file(std::string_view text) { return push_text(text, 1, kTypeFile); }
Cell* url(std::string_view text) { return push_text(text, 1, kTypeUrl); }

// ---------------------------------------------------------------- molds

TEST(FileTest, FileMoldQuotesAndEscapesWhatWouldNotLoadBack) {
  struct Case {
    const char* text;
    const char* mold;
  } cases[] = {
      {"a.txt", "%a.txt"},
      {"dir/sub/a.txt", "%dir/sub/a.txt"},
      {"/", "%/"},
      {"", "%\"\""},
      {":", "%\":\""},                    // %: is the set-word of the operator %
      {"\xC3\xA9.txt", "%\xC3\xA9.txt"},  // non-ASCII text needs no quotes
      {"a!#$&'*+-.:=?@_~z", "%a!#$&'*+-.:=?@_~z"},
      // "(", ")" and "," would end the text when loaded.
      {"a(b),c", "%\"a(b),c\""},
      {"a b", "%\"a b\""},
      {"50%", "%\"50%\""},
      {"a;b[c]{d}<e>|f\\g`h", "%\"a;b[c]{d}<e>|f\\g`h\""},
      // Inside the quotes a double quote, a caret and control characters are escaped.
      {"say \"hi\"", "%\"say ^\"hi^\"\""},
      {"a^b", "%\"a^^b\""},
      {"a\tb\nc", "%\"a^-b^/c\""},
      {"x\x7F", "%\"x^~\""},
      {"x\xC2\x85", "%\"x^(85)\""},  // a control from 128 up calls for quotes too
      {"\xC3\xA9 x", "%\"\xC3\xA9 x\""},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* f = file(c.text);
    EXPECT_EQ(mold_of(*f), c.mold) << c.text;
    EXPECT_EQ(form_of(*f), c.text);
  }
}

TEST(FileTest, FileMoldPartAndHead) {
  StackSave save;
  Cell* f = file("ab cd");
  EXPECT_EQ(mold(*f, false, false, false, 3), "%\"a");
  EXPECT_EQ(mold(*f, false, false, false, 7), "%\"ab cd");
  // Only the range /part keeps decides the quotes.
  EXPECT_EQ(mold(*file("ab cd"), false, false, false, 3), "%\"a");
  EXPECT_EQ(mold(*file("abc d"), false, false, false, 3), "%ab");
  EXPECT_EQ(mold_of(test::at_head(f, 3)), "%cd");
  EXPECT_EQ(mold_of(test::at_head(f, 5)), "%\"\"");
}

TEST(FileTest, UrlMoldEscapesThroughTheFileTable) {
  struct Case {
    const char* text;
    const char* mold;
  } cases[] = {
      {"http://a.com/x?q=1&r=2#f", "http://a.com/x?q=1&r=2#f"},
      {"http://a.com/a b", "http://a.com/a%20b"},
      {"x%y", "x%25y"},
      {"x/\xC3\xA9", "x/%C3%A9"},
      {"x/\xF0\x9F\x98\x80", "x/%F0%9F%98%80"},
      {"a\"b^c", "a%22b%5Ec"},
      {"", ""},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* u = url(c.text);
    EXPECT_EQ(mold_of(*u), c.mold) << c.text;
    EXPECT_EQ(form_of(*u), c.text);
  }
  StackSave save;
  EXPECT_EQ(mold(*url("a b"), false, false, false, 3), "a%2");
}

// ---------------------------------------------------------------- percent escapes

std::string decoded(std::string_view text) {
  StackSave save;
  Cell* out = string_make_at(stack_push(), 16);
  url_decode(push_text(text), out);
  return text_of(*out);
}

std::string encoded(std::string_view text, UrlTable table) {
  StackSave save;
  Cell* out = string_make_at(stack_push(), 16);
  url_encode(push_text(text), out, table);
  return text_of(*out);
}

TEST(FileTest, UrlDecode) {
  struct Case {
    const char* text;
    const char* decoded;
  } cases[] = {
      {"a%20b", "a b"},
      {"%C3%A9", "\xC3\xA9"},
      {"%c3%a9", "\xC3\xA9"},
      {"%C3x", "%C3x"},           // a lead without its continuation escape
      {"%E2%82", "%E2\xC2\x82"},  // a three-byte lead short of escapes: text, then a lone byte
      {"%e9", "%e9"},             // a three-byte lead alone
      {"%A9", "\xC2\xA9"},        // a lone byte below C0 is its own code point
      {"%FF", "\xC3\xBF"},        // so is a byte that leads nothing
      {"%zz", "%zz"},
      {"%4", "%4"},
      {"%", "%"},
      {"100%", "100%"},
      {"%41%42%", "AB%"},
      {"%F0%9F%98%80!", "\xF0\x9F\x98\x80!"},
      {"\xC3\xA9%20\xE2\x82\xAC", "\xC3\xA9 \xE2\x82\xAC"},  // plain text passes through
  };
  for (const Case& c : cases) EXPECT_EQ(decoded(c.text), std::string(c.decoded)) << c.text;
  EXPECT_EQ(decoded("%00"), std::string(1, '\0'));
  // Escapes that form a bad UTF-8 sequence.
  for (const char* bad : {"%C3%28", "%C1%81", "%F4%90%80%80", "%EF%BF%BE"})
    EXPECT_EQ(catch_error([&] { decoded(bad); }), kErrAccessInvalidUtf8) << bad;
}

TEST(FileTest, UrlEncodeByTable) {
  struct Case {
    const char* text;
    const char* as_string;  // the url table: enhex of a string!
    const char* as_file;    // the file table: enhex of the other text types
  } cases[] = {
      {"a b/c", "a%20b%2Fc", "a%20b/c"},
      {"AZaz09-._~", "AZaz09-._~", "AZaz09-._~"},
      {"!#$&'()*+,:=?@", "%21%23%24%26%27%28%29%2A%2B%2C%3A%3D%3F%40", "!#$&'()*+,:=?@"},
      {"%;\"", "%25%3B%22", "%25%3B%22"},
      {"\xC3\xA9", "%C3%A9", "%C3%A9"},
      {"\t\x7F", "%09%7F", "%09%7F"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encoded(c.text, UrlTable::kUrl), c.as_string) << c.text;
    EXPECT_EQ(encoded(c.text, UrlTable::kFile), c.as_file) << c.text;
  }
  StackSave save;
  Cell* out = string_make_at(stack_push(), 4);
  EXPECT_EQ(url_encode_byte(out, UrlTable::kFile, '/'), 1);
  EXPECT_EQ(url_encode_byte(out, UrlTable::kUrl, '/'), 3);
  EXPECT_EQ(url_encode_byte(out, UrlTable::kUrl, 0xFF), 3);
  EXPECT_EQ(text_of(*out), "/%2F%FF");
}

TEST(FileTest, EncodingRoundTrips) {
  for (const char* text :
       {"a b", "100% sure", "x/\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "%41", "\t^\"{}", ""}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(decoded(encoded(text, UrlTable::kUrl)), text);
    EXPECT_EQ(decoded(encoded(text, UrlTable::kFile)), text);
    StackSave save;
    EXPECT_EQ(decoded(mold_of(*url(text))), text);  // what the reader makes of a molded url!
  }
}

// ---------------------------------------------------------------- OS paths

std::string current_dir() {
  char buffer[4096];
  EXPECT_NE(getcwd(buffer, sizeof buffer), nullptr);
  std::string dir = buffer;
  return dir == "/" ? dir : dir + "/";
}

std::string os_path(std::string_view text, bool prefix) {
  StackSave save;
  Cell* out = string_make_at(stack_push(), 16);
  file_write_os_path(file(text), out, prefix);
  return text_of(*out);
}

TEST(FileTest, OsPathIsThePosixPath) {
  struct Case {
    const char* text;
    bool relative;
  } cases[] = {
      {"/", false},  {"/home/me/a.txt", false}, {"//x", false}, {"dir/a", true}, {"a\\b c", true}, {"", true},
      {"./x", true}, {"\xC3\xA9/", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(os_path(c.text, false), c.text);
    EXPECT_EQ(os_path(c.text, true), (c.relative ? current_dir() : "") + c.text) << c.text;
    StackSave save;
    EXPECT_EQ(file_to_os_path(file(c.text)), c.text);
  }
  StackSave save;
  Cell* nul = file(std::string_view("a\0b", 3));
  EXPECT_EQ(catch_error([&] { file_to_os_path(nul); }), kErrScriptInvalidArg);
  EXPECT_EQ(os_path(std::string_view("a\0b", 3), false), std::string("a\0b", 3));  // text, not a system call
}

TEST(FileTest, CurrentDirEndsInOneSlash) {
  StackSave save;
  EXPECT_EQ(text_of(*file_get_current_dir()), current_dir());
  std::string back = current_dir();
  ASSERT_EQ(chdir("/"), 0);
  EXPECT_EQ(text_of(*file_get_current_dir()), "/");
  EXPECT_EQ(os_path("etc", true), "/etc");
  ASSERT_EQ(chdir(back.c_str()), 0);
}

TEST(FileTest, FromOsPath) {
  struct Case {
    const char* path;
    const char* mold;
  } cases[] = {
      {"/home//me///a.txt", "%/home/me/a.txt"},
      {"//", "%/"},
      {"a b/", "%\"a b/\""},
      {"a\\b", "%\"a\\b\""},
      {"", "%\"\""},
      {"\xC3\xA9", "%\xC3\xA9"},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* f = file_from_os_path(c.path);
    EXPECT_TRUE(f->is(kTypeFile));
    EXPECT_EQ(mold_of(*f), c.mold) << c.path;
    EXPECT_EQ(file_to_os_path(file_from_os_path(file_to_os_path(f))), file_to_os_path(f));
  }
  EXPECT_EQ(catch_error([] { file_from_os_path("a\xFF"); }), kErrAccessInvalidUtf8);
}

// ---------------------------------------------------------------- make and to

TEST(FileTest, MakeAndTo) {
  Cell http = word("http"), host = word("example.org"), a = word("a"), b = word("b");
  Cell port = integer_cell(8080), frag = word("frag", kTypeIssue);
  struct Case {
    ActionId action;
    TypeId type;
    std::function<Cell()> spec;
    const char* result;
  } cases[] = {
      {kActionTo, kTypeUrl,
       [&] {
         return *block_of({http, host, port, a, b});
       },
       "http://example.org:8080/a/b"},
      {kActionMake, kTypeUrl,
       [&] {
         return *block_of({http, host, port, a, b});
       },
       "http://example.org:8080/a/b"},
      {kActionTo, kTypeUrl,
       [&] {
         return *block_of({http, host});
       },
       "http://example.org"},
      {kActionTo, kTypeUrl,
       [&] {
         return *block_of({http, host, port});
       },
       "http://example.org:8080"},
      {kActionTo, kTypeUrl,
       [&] {
         return *block_of({http, host, a, frag});
       },
       "http://example.org/a#frag"},
      {kActionTo, kTypeUrl, [&] { return *block_of({http}); }, "http://"},
      {kActionTo, kTypeUrl,
       [&] {
         return *block_of({http, host, *push_text("a b")}, kTypeParen);
       },
       "http://example.org/a%20b"},
      {kActionTo, kTypeUrl,
       [&] {
         return test::at_head(block_of({a, http, host}), 1);
       },
       "http://example.org"},
      {kActionTo, kTypeUrl, [&] { return *block_of({}); }, "!bad-to-arg"},
      {kActionMake, kTypeUrl, [&] { return test::at_head(block_of({a}), 1); }, "!bad-to-arg"},
      {kActionTo, kTypeUrl, [&] { return *push_text("ftp://x"); }, "ftp://x"},
      // file! takes string!'s make and to, a block included.
      {kActionTo, kTypeFile,
       [&] {
         return *block_of({a, b});
       },
       "%ab"},
      {kActionTo, kTypeFile, [&] { return *push_text("a b"); }, "%\"a b\""},
      {kActionTo, kTypeFile, [&] { return *url("x/y"); }, "%x/y"},
      {kActionTo, kTypeFile, [&] { return word("ab", kTypeRefinement); }, "%/ab"},
      {kActionMake, kTypeFile, [&] { return integer_cell(10); }, "%\"\""},
      {kActionMake, kTypeFile, [&] { return integer_cell(-1); }, "!out-of-range"},
      {kActionTo, kTypeFile, [&] { return kNoneCell; }, "!bad-to-arg"},
      {kActionTo, kTypeString, [&] { return *file("dir/a b"); }, "\"dir/a b\""},
  };
  for (const Case& c : cases) {
    StackSave save;
    EXPECT_EQ(outcome([&] {
                return call_action(c.action, {datatype_cell(c.type), c.spec()});
              }),
              c.result)
        << c.result;
  }
  StackSave save;
  EXPECT_TRUE(test::to(kTypeUrl, *block_of({http, host}))->is(kTypeUrl));
  EXPECT_TRUE(test::make(kTypeFile, integer_cell(0))->is(kTypeFile));
}

// ---------------------------------------------------------------- path access

TEST(FileTest, PathAccessJoinsWithOneSlash) {
  struct Case {
    Cell parent;
    Cell element;
    const char* result;
  } cases[] = {
      {*file("dir/"), *file("file"), "%dir/file"},
      {*file("dir"), *file("file"), "%dir/file"},
      {*file("dir/"), *file("/file"), "%dir/file"},
      {*file("dir"), *file("/file"), "%dir/file"},
      {*file("/"), word("etc"), "%/etc"},
      {*file("dir"), integer_cell(1), "%dir/1"},
      {*file("dir"), *push_text("a b"), "%\"dir/a b\""},
      {*file("dir"), *file(""), "%dir/"},
      {*file(""), *file("a"), "%a"},  // no "/" from nowhere: still relative
      {test::at_head(file("x/dir"), 2), word("a"), "%dir/a"},
      {*url("http://a.com"), *push_text("b c"), "http://a.com/b%20c"},
      {*url("http://a.com/"), word("x"), "http://a.com/x"},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* parent = stack_push_value(c.parent);
    std::string before = mold_of(*parent);
    Cell r = eval_path(parent, c.element);
    EXPECT_EQ(mold_of(r), c.result);
    EXPECT_EQ(r.type(), c.parent.type());
    EXPECT_EQ(mold_of(*parent), before);  // the value itself is not changed
  }
}

TEST(FileTest, PathAccessGetWordAndSet) {
  StackSave save;
  Cell name = word("file-test-name");
  set_word_value(&name, file("b.txt"));
  Cell* dir = file("dir");
  EXPECT_EQ(mold_of(eval_path(dir, word("file-test-name", kTypeGetWord))), "%dir/b.txt");
  Cell value = *file("x");
  EXPECT_EQ(outcome([&] { return eval_path(dir, word("a"), &value); }), "!bad-path-set");
  EXPECT_EQ(outcome([&] { return eval_path(url("http://a"), integer_cell(1), &value); }), "!bad-path-set");
  EXPECT_EQ(outcome([&] { return eval_path(dir, word("file-test-unset", kTypeGetWord)); }), "!no-value");
}

// ---------------------------------------------------------------- what they take from string!

TEST(FileTest, StringSlotsAndUnsupportedOnes) {
  StackSave save;
  Cell* dir = file("dir");
  EXPECT_EQ(mold_of(*Act(kActionAppend, {*dir, *push_text("/a b")}).run()), "%\"dir/a b\"");
  EXPECT_EQ(mold_of(*Act(kActionCopy, {*url("http://x")}).run()), "http://x");
  EXPECT_EQ(mold_of(*Act(kActionFind, {*file("a/b.txt"), *push_text(".")}).run()), "%.txt");
  EXPECT_EQ(test::integer_of(call_action(kActionLengthQ, {*file("abc")})), 3);
  EXPECT_TRUE(compare(*file("abc"), *push_text("ABC"), kCmpEqual));
  EXPECT_TRUE(compare(*url("abc"), *file("abc"), kCmpEqual));
  EXPECT_FALSE(compare(*file("abc"), *file("ABC"), kCmpStrictEqual));
  EXPECT_TRUE(compare(*file("a"), *file("b"), kCmpLesser));
  EXPECT_EQ(catch_error([&] { compare(*file("a"), *push_text("b"), kCmpLesser); }), kErrScriptInvalidCompare);
  for (TypeId type : {kTypeUrl, kTypeFile}) {
    for (ActionId id : {kActionRandom, kActionReflect, kActionSort, kActionTrim, kActionPut, kActionOpen,
                        kActionRead, kActionWrite, kActionDelete, kActionQuery, kActionRename, kActionAdd}) {
      // file!'s file actions are wired by the file services (file_access_test.cpp),
      // url!'s read, write and open by the HTTP client and through ports
      // (http_client_test.cpp, tests/kiv/library/url.kiv).
      if (type == kTypeFile && (id == kActionRead || id == kActionWrite || id == kActionDelete ||
                                id == kActionQuery || id == kActionRename))
        continue;
      if (type == kTypeUrl && (id == kActionRead || id == kActionWrite || id == kActionOpen)) continue;
      SCOPED_TRACE(testing::Message() << int(type) << " " << int(id));
      EXPECT_EQ(catch_error([&] {
                  Cell* v = push_text("a", 1, type);
                  call_action(id, {*v, *v, *v});
                }),
                kErrScriptExpectArg);
    }
  }
}

}  // namespace
}  // namespace kiv
