// The data library against outside oracles: JSON, CSV, URLs and dates
// against python3's json, csv, urllib.parse and zoneinfo (the drivers in
// tests/data/, each running kiv itself), and the remote-file cache against
// the tests' HTTP server, which counts the requests it answers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "http_test_server.h"
#include "run_kiv.h"
#include "temp_dir.h"

namespace kiv {
namespace {

// Runs tests/data/[driver] with the kiv executable and a fresh directory;
// its last line sums up, the lines before it name what differs.
void run_oracle(const char* driver) {
  test::TempDir dir("kiv-oracle-");
  const std::string command = std::string("/usr/bin/python3 ") + KIV_SOURCE_DIR + "/tests/data/" + driver +
                              " " + KIV_EXECUTABLE + " " + dir.path() + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << output;
}

TEST(DataOracle, JsonAgainstPython) { run_oracle("json_oracle.py"); }
TEST(DataOracle, CsvAgainstPython) { run_oracle("csv_oracle.py"); }
TEST(DataOracle, UrlsAgainstUrlsplit) { run_oracle("url_oracle.py"); }
TEST(DataOracle, DatesAgainstZoneinfo) { run_oracle("date_oracle.py"); }

// The MD5 of [text] in upper-case hexadecimal, from python3's hashlib.
std::string md5_hex(const std::string& text) {
  test::TempDir dir("kiv-md5-");
  const std::string path = dir.path() + "/text";
  std::ofstream(path) << text;
  const std::string command =
      "/usr/bin/python3 -c \"import hashlib,sys; "
      "print(hashlib.md5(open(sys.argv[1],'rb').read()).hexdigest().upper())\" " +
      path;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[64] = {};
  if (!pipe) return "";
  size_t n = fread(buffer, 1, sizeof buffer - 1, pipe);
  pclose(pipe);
  std::string hex(buffer, n);
  while (!hex.empty() && hex.back() == '\n') hex.pop_back();
  return hex;
}

// Runs [body] with u the server's base URL and APPDATA a fresh directory.
test::KivRun run_cached(const test::HttpTestServer& server, const std::string& app, const std::string& body) {
  test::TempDir dir("kiv-thru-");
  std::ofstream(dir.path() + "/t.kiv") << "Kiv []\nu: http://127.0.0.1:" << server.port() << "\n"
                                       << "hits: does [to integer! read u/hits]\n"
                                       << body;
  return test::run_kiv({dir.path() + "/t.kiv"}, dir.path(), {"APPDATA=" + app});
}

TEST(RemoteCache, ReadsTheNetworkOnceThenTheCacheFile) {
  test::HttpTestServer server;
  ASSERT_FALSE(server.port().empty());
  test::TempDir app("kiv-app-");
  const std::string url = "http://127.0.0.1:" + server.port() + "/data";
  test::KivRun r = run_cached(server, app.path(), R"(
h: hits
print mold read-thru u/data
print mold read-thru u/data
print (hits - h - 1)
print mold read-thru/update u/data
print (hits - h - 2)
print mold read-thru/binary u/data
print mold path-thru u/data
print [exists-thru? u/data exists-thru? u/nothing-yet exists-thru? %t.kiv exists-thru? %none-such]
; text is read as read reads it, CR LF as LF, from the network and the cache alike
print mold read-thru u/crlf
print mold read-thru u/crlf
)");
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string hash = md5_hex(url);
  ASSERT_EQ(hash.size(), 32u);
  const std::string file = app.path() + "/Kiv/cache/" + hash.substr(0, 2) + "/" + hash;
  EXPECT_EQ(r.output,
            "\"1 two [3 4]\"\n\"1 two [3 4]\"\n1\n\"1 two [3 4]\"\n2\n#{312074776F205B3320345D}\n%" + file +
                "\ntrue false true false\n"
                "\"one^/two^/\"\n\"one^/two^/\"\n");
  EXPECT_EQ(test::read_file(file), "1 two [3 4]");
  struct stat st;
  ASSERT_EQ(stat((app.path() + "/Kiv/cache").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(RemoteCache, KeepsNoFailedFetchAndLoadsWhatItKept) {
  test::HttpTestServer server;
  ASSERT_FALSE(server.port().empty());
  test::TempDir app("kiv-app-");
  test::KivRun r = run_cached(server, app.path(), R"(
print mold read-thru u/missing
print exists-thru? u/missing
h: hits
print mold load-thru u/data
print mold load-thru u/data
print mold load-thru u/json
print mold load-thru u/json
print (hits - h - 1)
print mold load-thru u/script
print mold do-thru u/script
print mold load-thru/as u/data none
; /as keeps the entry in that format, which a later /as reads back
print mold load-thru/update/as u/json 'json
print read path-thru u/json
print mold load-thru/as u/json 'json
; a URL differing in letter case is another entry
print same? path-thru u/DATA path-thru u/data
)");
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output,
            "\"not here\"\nfalse\n"
            "[1 two [3 4]]\n[1 two [3 4]]\n"
            "#[\n    a: [1 2.5]\n    b: none\n]\n#[\n    a: [1 2.5]\n    b: none\n]\n"
            "2\n"
            "[Kiv [title: \"served\"]\nprint \"served script ran\"]\n"
            "served script ran\nunset\n"
            "[1 two [3 4]]\n"
            "#[\n    a: [1 2.5]\n    b: none\n]\n"
            "{\"a\":[1,2.5],\"b\":null}\n"
            "#[\n    a: [1 2.5]\n    b: none\n]\n"
            "false\n");
}

// With no settings folder (no home) there is no cache.
TEST(RemoteCache, NeedsAHome) {
  test::TempDir dir("kiv-thru-");
  std::ofstream(dir.path() + "/t.kiv") << "Kiv []\nsystem/options/cache: none\npath-thru http://h/x\n";
  test::KivRun r = test::run_kiv({dir.path() + "/t.kiv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.errors.find("*** Access Error"), std::string::npos) << r.errors;
}

}  // namespace
}  // namespace kiv
