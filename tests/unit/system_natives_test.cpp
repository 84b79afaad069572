// The system natives where a table of Kiv text cannot show it: the clock
// against the C library's, file sizes of files made here, and the collector
// switch.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <fstream>
#include <string>

#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "evaluator/lexer.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace kiv {
namespace {

class SystemNativesTest : public ::testing::Test {
 protected:
  void SetUp() override { base_environment_init(); }

  // What [source] evaluates to, or "!id" of the error raised, as mold text.
  std::string run(const std::string& source) { return test::eval_mold(source); }

  // The value [source] evaluates to (no error expected).
  Cell value_of(const std::string& source) {
    StackSave save;
    Cell result = kNoneCell;
    ErrorId e = test::catch_error([&] {
      Cell* out;
      EXPECT_EQ(test::evaluate(source, &out), kStatusOk);
      result = *out;
    });
    EXPECT_EQ(e, test::kNoError) << source;
    return result;
  }
};

TEST_F(SystemNativesTest, NowIsTheSameInstantInEveryZone) {
  for (const char* source : {"now", "now/utc", "now/precise", "now/utc/precise"}) {
    double before = double(time(nullptr));
    Cell date = value_of(source);
    double after = double(time(nullptr));
    ASSERT_TRUE(date.is(kTypeDate)) << source;
    double at = date_to_epoch(&date);
    EXPECT_GE(at, before - 1) << source;
    EXPECT_LE(at, after + 1) << source;
  }
  Cell utc = value_of("now/utc");
  EXPECT_EQ(date_zone_seconds(date_word_zone(date_packed(&utc))), 0);
  // Without /precise the time has whole seconds.
  Cell whole = value_of("now");
  EXPECT_EQ(date_local_time(&whole), std::floor(date_local_time(&whole)));
}

TEST_F(SystemNativesTest, NowFieldsMatchTheCalendar) {
  // The fields of a UTC reading against gmtime, taken on each side so that a
  // change of day between the two readings does not fail the test.
  auto fields = [](time_t t) {
    tm g{};
    gmtime_r(&t, &g);
    int weekday = g.tm_wday == 0 ? 7 : g.tm_wday;
    return std::to_string(g.tm_year + 1900) + " " + std::to_string(g.tm_mon + 1) + " " +
           std::to_string(g.tm_mday) + " " + std::to_string(weekday) + " " + std::to_string(g.tm_yday + 1);
  };
  time_t before = time(nullptr);
  std::string got =
      run("form reduce [now/year/utc now/month/utc now/day/utc now/weekday/utc now/yearday/utc]");
  time_t after = time(nullptr);
  got = got.substr(1, got.size() - 2);  // the quotes of the molded string
  EXPECT_TRUE(got == fields(before) || got == fields(after)) << got;
}

TEST_F(SystemNativesTest, SizeOfFiles) {
  std::string dir = ::testing::TempDir() + "kiv-size-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  std::string path = dir + "/data.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(1234, 'x');
  }
  std::string empty = dir + "/empty";
  { std::ofstream out(empty, std::ios::binary); }
  EXPECT_EQ(run("size? %" + path), "1234");
  EXPECT_EQ(run("size? %" + empty), "0");
  EXPECT_EQ(run("size? %" + dir), "none");  // a directory without its slash
  EXPECT_EQ(run("size? %" + dir + "/"), "none");
  EXPECT_EQ(run("size? %" + dir + "/missing"), "none");
  unlink(path.c_str());
  unlink(empty.c_str());
  rmdir(dir.c_str());
}

TEST_F(SystemNativesTest, RecycleSwitchesTheCollector) {
  bool was = g_collector_active;
  EXPECT_EQ(run("recycle/off"), "");
  EXPECT_FALSE(g_collector_active);
  EXPECT_EQ(run("recycle/on"), "");
  EXPECT_TRUE(g_collector_active);
  EXPECT_EQ(run("type? recycle"), "integer!");
  g_collector_active = was;
}

}  // namespace
}  // namespace kiv
