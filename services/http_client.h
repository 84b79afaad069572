// The HTTP client: read and write of url! values whose text starts "http"
// (http and https), one synchronous request each through libcurl.
//
// read asks for GET; write sends, for a non-empty block [method headers
// data], that method (GET, HEAD, POST, else the word's name in upper case),
// that header block and that data, for an empty block a GET, and for any
// other value a POST of that value. Without a header block a request carries
// Content-Type: application/x-www-form-urlencoded, Accept-Charset: UTF-8 and
// a User-Agent; with one, exactly its pairs (a name from a word's name, any
// other value formed; a value a string! as it is, else formed). libcurl adds
// Host, Accept and Content-Length, nothing else. A body goes only with
// methods other than GET and HEAD: a binary!'s bytes from its index, a
// string!'s UTF-8, a block!'s mold; none sends no body.
//
// The answer is the final response's body (redirects are followed, between
// http and https only): a string! decoded from UTF-8 with CR LF as LF, a
// binary! with /binary, a block of string! lines with /lines, and with /info
// the block [status headers body], the headers a map! of the final
// response's lines keyed by words, a repeated name giving a block of its
// values in order. An error status is an answer like any other.
//
// Errors: no answer at all (refused, unreachable, name not resolved, a TLS
// certificate that does not verify, 60 s without a connection or 30 s
// without data) raises access no-connect with the URL; a body of 2^31 bytes
// or more script too-long; text that is not UTF-8 access invalid-utf8; a
// malformed request block, a header block of odd length, a header holding
// CR, LF or NUL, or a URL holding NUL script invalid-arg; /part, /seek, /as
// and /allow internal not-done. Every request frees what it made on every
// path, and nothing is kept between requests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

// A request as libcurl gets it.
struct HttpRequest {
  std::string method = "GET";        // sent as it stands
  std::string url;                   // UTF-8, no NUL
  std::vector<std::string> headers;  // "Name: value" lines, no CR, LF or NUL
  bool has_body = false;
  std::string body;
};

enum class HttpOutcome {
  kAnswered,   // a response came (any status)
  kNoConnect,  // none came
  kTooLong,    // the body reached the limit; the transfer was stopped
};

struct HttpResponse {
  HttpOutcome outcome = HttpOutcome::kNoConnect;
  long status = 0;
  // The final response's header lines as name and value, in order.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;          // the body, unless it went to an HttpBodyRoom
  uint64_t room_filled = 0;  // the bytes written to the room it gave
  bool used_room = false;    // the body went to that room (and none to [body])
};

// Where a body that announces its length may go instead of a string: room()
// is called at most once per request, with that length, outside libcurl's
// callbacks (it may raise), and answers [length] writable bytes that stay
// valid until http_perform returns.
class HttpBodyRoom {
 public:
  virtual uint8_t* room(uint64_t length) = 0;

 protected:
  ~HttpBodyRoom() = default;
};

// Performs [request]. No Kiv value is touched and nothing is raised, except
// by [room] (when given), asked for room for the body. A body of
// [body_limit] bytes or more stops the transfer with kTooLong.
HttpResponse http_perform(const HttpRequest& request, uint64_t body_limit = uint64_t(1) << 31,
                          HttpBodyRoom* room = nullptr);

// Splits the header text [text] (lines ended by CR LF, LF, or the text's end)
// into name and value pairs: the value starts after the ":" and any blanks
// after it; a status line ("HTTP/...") starts the list afresh, so only the
// last response's lines stay; a line without ":" is skipped.
std::vector<std::pair<std::string, std::string>> http_header_lines(const std::string& text);

// Installs url!'s read and write handlers (registry_install); a start-up step.
void http_client_init();

}  // namespace kiv
