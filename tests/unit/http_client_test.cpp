// read and write of http(s) URLs: whole kiv runs against tests/http/server.py
// (started for each test on a free port of 127.0.0.1, stopped by its pid),
// and the request and header-splitting functions on their own.
#include "services/http_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "http_test_server.h"
#include "run_kiv.h"
#include "temp_dir.h"

namespace kiv {
namespace {

using Server = test::HttpTestServer;

// Runs [body] as a script in which u is the server's base URL [base].
test::KivRun run(const std::string& base, const std::string& body) {
  test::TempDir dir("kiv-http-");
  std::ofstream(dir.path() + "/t.kiv") << "Kiv []\nu: " << base << "\n" << body;
  return test::run_kiv({dir.path() + "/t.kiv"}, dir.path());
}

test::KivRun run_local(const Server& server, const std::string& body) {
  return run("http://127.0.0.1:" + server.port(), body);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(HttpClient, Answers) {
  Server server;
  ASSERT_FALSE(server.port().empty());
  auto r = run_local(server, R"(
info: read/info u/cookies
print [integer? first info  map? second info  mold select second info 'set-cookie  mold third info]
print mold select second read/info u/raw 'X-Raw
info: read/info/binary u/missing
print mold reduce [first info  select second info 'content-length  third info]
info: read/info u/redirect
print [first info  none? select second info 'X-Hop  mold select second info 'Content-Type]
print copy/part to string! read/binary u/redirect 9
print mold read u/crlf
print mold read/lines u/crlf
print mold read/binary u/crlf
info: write/info u/echo [head [] "no body goes"]
print mold reduce [first info  third info]
print mold length? read/binary u/big?n=52428800
print mold length? read u/big?n=52428800
)");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output,
            "true true [\"a=1\" \"b=2\"] \"ok\"\n"
            "\"value\"\n"
            "[404 \"8\" #{6E6F742068657265}]\n"
            "200 true \"text/plain\"\n"
            "GET /echo\n"
            "\"one^/two^/\"\n"
            "[\"one\" \"two\"]\n"
            "#{6F6E650D0A74776F0D0A}\n"
            "[200 \"\"]\n"
            "52428800\n"
            "52428800\n");
}

TEST(HttpClient, RequestsCarryTheirMethodHeadersAndBody) {
  Server server;
  ASSERT_FALSE(server.port().empty());
  const std::string host = "Host: 127.0.0.1:" + server.port() + "\nAccept: */*\n";
  const std::string defaults =
      "Content-Type: application/x-www-form-urlencoded\nAccept-Charset: UTF-8\n"
      "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)\n";
  struct Case {
    const char* code;
    std::string echo;
  } cases[] = {
      {"read u/echo", "GET /echo\n" + host + defaults + "\n"},
      {"write u/echo []", "GET /echo\n" + host + defaults + "\n"},
      {"write u/echo \"a é\"", "POST /echo\n" + host + defaults + "Content-Length: 4\n\na é"},
      {"write u/echo next #{004142}", "POST /echo\n" + host + defaults + "Content-Length: 2\n\nAB"},
      {"write u/echo [put [X-One: \"1\" \"X-Two\" 2 x-three: <t>] \"é\"]",
       "PUT /echo\n" + host + "X-One: 1\nX-Two: 2\nx-three: <t>\nContent-Length: 2\n\né"},
      {"write u/echo [patch [] [a \"b\" 3]]", "PATCH /echo\n" + host + "Content-Length: 9\n\n[a \"b\" 3]"},
      {"write u/echo [post [Content-Type: \"text/plain\"]]",
       "POST /echo\n" + host + "Content-Type: text/plain\nContent-Length: 0\n\n"},
      {"write u/echo [delete]", "DELETE /echo\n" + host + defaults + "\n"},
      {"write u/echo [get [] \"ignored\"]", "GET /echo\n" + host + "\n"},
      {"write u/echo reduce ['post [X-Empty: \"\"] none]",
       "POST /echo\n" + host + "X-Empty: \nContent-Length: 0\n\n"},
  };
  for (const Case& c : cases) {
    auto r = run_local(server, std::string("prin ") + c.code);
    EXPECT_EQ(r.status, 0) << c.code << r.errors;
    EXPECT_EQ(r.output, c.echo) << c.code;
  }
  // A large body: libcurl would ask the server to expect it, and no longer does.
  auto big = run_local(server, "x: append/dup copy #{} #{41} 2097152\nprint take/part write u/echo x 200");
  EXPECT_EQ(big.status, 0) << big.errors;
  EXPECT_FALSE(has(big.output, "Expect")) << big.output;
  EXPECT_TRUE(has(big.output, "Content-Length: 2097152")) << big.output;
}

TEST(HttpClient, DoAndLoadOfServedText) {
  Server server;
  ASSERT_FALSE(server.port().empty());
  auto r = run_local(server, "do u/script\nprint mold load u/data\nprint mold load u/missing\n");
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.output, "served script ran\n[1 two [3 4]]\nnone\n");
}

// An image answer goes to the codec its MIME type names; without the type,
// the signature names it.
TEST(HttpClient, LoadOfServedPictures) {
  Server server;
  ASSERT_FALSE(server.port().empty());
  auto r = run_local(server,
                     "img: make image! [2x1 #{FF000000FF00} #{007F}]\n"
                     "print [equal? img load u/picture  equal? img load u/picture-untyped]\n"
                     "print equal? img load/as u/picture 'jpeg\n");
  EXPECT_EQ(r.output, "true true\ntrue\n");
  EXPECT_EQ(r.errors, "");
}

TEST(HttpClient, Errors) {
  Server server;
  ASSERT_FALSE(server.port().empty());
  struct Case {
    const char* code;
    const char* error;
  } cases[] = {
      {"read u/bad-utf8", "access invalid-utf8 #{FF62}"},
      {"read/lines u/bad-utf8", "access invalid-utf8 #{FF62}"},
      {"write u/echo [post [a]]", "script invalid-arg [a]"},
      {"write u/echo [post [a \"x^/y\"]]", "script invalid-arg \"x^/y\""},
      {"write u/echo [post [a \"x^My\"]]", "script invalid-arg \"x^My\""},
      {"write u/echo [post [\"a^@b\" \"x\"]]", "script invalid-arg \"a^@b\""},
      {"read append copy u \"/echo^@x\"", "script invalid-arg"},
      {"write u/echo [1]", "script invalid-arg 1"},
      {"write u/echo [post 2]", "script invalid-arg 2"},
      {"write u/echo [post [] 3]", "script invalid-arg 3"},
      {"write u/echo 12", "script invalid-arg 12"},
      {"read/part u/echo 1", "internal not-done"},
      {"read/seek u/echo 1", "internal not-done"},
      {"read/as u/echo 'utf-8", "internal not-done"},
      {"write/part u/echo \"x\" 1", "internal not-done"},
      {"write/seek u/echo \"x\" 1", "internal not-done"},
      {"write/allow u/echo \"x\" [read]", "internal not-done"},
      {"write/as u/echo \"x\" 'utf-8", "internal not-done"},
  };
  std::string script =
      "show: func [code /local e] [\n"
      "  e: try code\n"
      "  print either error? e [form reduce [e/type e/id either e/arg1 [mold e/arg1][{}]]][{none}]\n"
      "]\n";
  for (const Case& c : cases) script += std::string("show [") + c.code + "]\n";
  auto r = run_local(server, script);
  EXPECT_EQ(r.status, 0) << r.errors;
  size_t at = 0;
  for (const Case& c : cases) {
    size_t end = r.output.find('\n', at);
    ASSERT_NE(end, std::string::npos) << c.code;
    EXPECT_EQ(r.output.substr(at, end - at).substr(0, std::string(c.error).size()), c.error) << c.code;
    at = end + 1;
  }
}

// A port nobody listens on.
std::string closed_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  close(s);
  return std::to_string(ntohs(address.sin_port));
}

TEST(HttpClient, NoAnswerIsNoConnect) {
  const std::string url = "http://127.0.0.1:" + closed_port() + "/x";
  auto r = run(url, "read u");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(has(r.errors + r.output, "cannot connect: " + url + " reason: timeout"))
      << r.errors << r.output;

  // A certificate no authority signed: TLS refuses it.
  test::TempDir dir("kiv-tls-");
  const std::string cert = dir.path() + "/cert.pem", key = dir.path() + "/key.pem";
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
                           key + " -out " + cert + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  Server tls({"--tls", cert, key});
  ASSERT_FALSE(tls.port().empty());
  auto t = run("https://127.0.0.1:" + tls.port() + "/echo",
               "e: try [read u]\nprint [e/type e/id e/arg1 = u]\nprint mold try [write u \"x\"]");
  EXPECT_EQ(t.status, 0) << t.errors;
  EXPECT_TRUE(has(t.output, "access no-connect true\n")) << t.output;
}

TEST(HttpClient, BodyLimitStopsTheTransfer) {
  Server server;
  ASSERT_FALSE(server.port().empty());
  HttpRequest request;
  request.url = "http://127.0.0.1:" + server.port() + "/big?n=100000";
  HttpResponse whole = http_perform(request, 100001);
  EXPECT_EQ(whole.outcome, HttpOutcome::kAnswered);
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body.size(), 100000u);
  HttpResponse cut = http_perform(request, 100000);
  EXPECT_EQ(cut.outcome, HttpOutcome::kTooLong);
  EXPECT_TRUE(cut.body.empty());
}

TEST(HttpClient, HeaderLines) {
  using Lines = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(http_header_lines("HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n"
                              "HTTP/1.1 200 OK\r\nA:value\r\nB: \t two words \r\nnot a header\r\nC:"),
            (Lines{{"A", "value"}, {"B", "two words "}, {"C", ""}}));
  EXPECT_EQ(http_header_lines("X: 1\nY: 2"), (Lines{{"X", "1"}, {"Y", "2"}}));
  EXPECT_EQ(http_header_lines(""), Lines{});
}

}  // namespace
}  // namespace kiv
