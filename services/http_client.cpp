// url! requests over libcurl (http_client.h).
//
// The request is gathered from the Kiv values into plain C++ strings first;
// libcurl then runs with no Kiv value in reach (its callbacks only append to
// strings), and the answer becomes Kiv values afterwards. The easy handle and
// the header list are owned by scope guards, so every path, a raised error
// included, frees them.
#include "services/http_client.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "platform/pages.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"
#include "services/file_access.h"
#include "services/url_port.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- libcurl side

// libcurl is opened at the first request, not linked: linked, the process
// would load it and the thirty libraries it pulls in at every start-up,
// which nearly doubles the start-up time of every script. The functions
// the client calls, each curl_NAME:
#define KIV_CURL_FUNCTIONS(X) \
  X(global_init)              \
  X(easy_init)                \
  X(easy_cleanup)             \
  X(easy_setopt)              \
  X(easy_getinfo)             \
  X(easy_pause)               \
  X(multi_init)               \
  X(multi_cleanup)            \
  X(multi_add_handle)         \
  X(multi_remove_handle)      \
  X(multi_perform)            \
  X(multi_poll)               \
  X(multi_info_read)          \
  X(slist_append)             \
  X(slist_free_all)
struct CurlLibrary {
#define KIV_CURL_MEMBER(name) decltype(&::curl_##name) name = nullptr;
  KIV_CURL_FUNCTIONS(KIV_CURL_MEMBER)
#undef KIV_CURL_MEMBER
};
CurlLibrary g_curl;

// Opens libcurl and finds its functions; false when it is not there.
bool load_curl() {
  void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return false;
#define KIV_CURL_LOAD(name)                                                         \
  g_curl.name = reinterpret_cast<decltype(g_curl.name)>(dlsym(lib, "curl_" #name)); \
  if (!g_curl.name) return false;
  KIV_CURL_FUNCTIONS(KIV_CURL_LOAD)
#undef KIV_CURL_LOAD
  return true;
}

bool g_curl_ready = false;

// libcurl opened and curl_global_init run, once, at the first request.
bool curl_ready() {
  if (!g_curl_ready) g_curl_ready = load_curl() && g_curl.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return g_curl_ready;
}

struct EasyFree {
  void operator()(CURL* easy) const { g_curl.easy_cleanup(easy); }
};
struct ListFree {
  void operator()(curl_slist* list) const { g_curl.slist_free_all(list); }
};

struct MultiFree {
  void operator()(CURLM* multi) const { g_curl.multi_cleanup(multi); }
};
// The easy handle [easy] added to the multi handle [multi] while this lives.
struct Added {
  CURLM* multi;
  CURL* easy;
  bool added;
  ~Added() {
    if (added) g_curl.multi_remove_handle(multi, easy);
  }
};

// Where the body goes while it arrives: a string, or the room a caller gave.
// A body that announces its length pauses the transfer at its first bytes
// until the room is made (outside the callback), then goes straight there.
struct BodySink {
  std::string* body;
  uint64_t limit;
  CURL* easy;
  HttpBodyRoom* room_maker;
  bool too_long = false;
  bool sized = false;
  uint64_t wanted = 0;      // the announced length, while the room is not made
  uint8_t* room = nullptr;  // made room, [capacity] bytes
  uint64_t capacity = 0;
  uint64_t filled = 0;
};

size_t take_body(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const size_t n = size * count;
  if (sink->filled + sink->body->size() + n >= sink->limit) {
    sink->too_long = true;
    return CURL_WRITEFUNC_ERROR;
  }
  if (!sink->sized) {
    sink->sized = true;
    curl_off_t length = -1;
    if (g_curl.easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0 && uint64_t(length) < sink->limit) {
      if (sink->room_maker) {
        sink->wanted = uint64_t(length);
        return CURL_WRITEFUNC_PAUSE;  // the same bytes come again once the room is made
      }
      // A body that announces its length gets its room at once.
      sink->body->reserve(size_t(length));
      os_advise_huge_pages(sink->body->data(), sink->body->capacity());
    }
  }
  if (sink->room && sink->body->empty() && sink->filled + n <= sink->capacity) {
    std::memcpy(sink->room + sink->filled, data, n);
    sink->filled += n;
    return n;
  }
  // More than was announced: the rest goes to the string, and the caller
  // joins the two.
  sink->body->append(data, n);
  return n;
}

size_t take_header(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

bool ascii_equal_caseless(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

// Whether one of the "Name: value" [lines] has the name [name].
bool has_header(const std::vector<std::string>& lines, const std::string& name) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    const size_t colon = line.find_first_of(":;");
    return colon != std::string::npos && ascii_equal_caseless(line.substr(0, colon), name);
  });
}

// [url] with the bytes a URL cannot hold as they are (controls, blanks,
// non-ASCII bytes and " < > \ ^ ` { | }) written as %XX; a "%" stays, so
// escapes already in the text keep their meaning.
std::string escaped_url(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

// ---------------------------------------------------------------- Kiv side

// A url! whose text starts with the four letters "http" (https included).
bool http_url_q(const Cell* url) {
  if (string_length(url) < 4) return false;
  const uint32_t head = uint32_t(string_head_index(url));
  return string_char_at(url, head) == 'h' && string_char_at(url, head + 1) == 't' &&
         string_char_at(url, head + 2) == 't' && string_char_at(url, head + 3) == 'p';
}

// The UTF-8 text of the url!; script invalid-arg with it when it holds NUL.
std::string url_text(const Cell* url) {
  std::string text = string_to_utf8(url);
  if (text.find('\0') != std::string::npos) raise_error(kErrScriptInvalidArg, url);
  return text;
}

// MAY ALLOCATE. The text a header name or value stands for: a word's name
// (when [name]), a string! as it is, anything else formed. Script invalid-arg
// with the value when the text holds CR, LF or NUL.
std::string header_text(const Cell* value, bool name) {
  std::string text;
  if (name && is_any_word(value->type())) {
    text = symbol_name_text(word_symbol(value));
  } else if (value->is(kTypeString)) {
    text = string_to_utf8(value);
  } else {
    StackSave save;
    Cell* copy = stack_push_value(*value);
    text = string_to_utf8(form_to_new_string(copy, 0));
  }
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    raise_error(kErrScriptInvalidArg, value);
  return text;
}

// MAY ALLOCATE. The "Name: value" lines of the header block [block] from its
// index; script invalid-arg with the block when it has an odd length.
std::vector<std::string> header_lines(const Cell* block) {
  const Cell held = *block;
  const uint32_t head = uint32_t(std::max(held.head(), 0));
  const uint32_t tail = series_buffer(held.node())->length();
  const uint32_t count = tail > head ? tail - head : 0;
  if (count % 2 != 0) raise_error(kErrScriptInvalidArg, block);
  std::vector<std::string> lines;
  for (uint32_t i = head; i < tail; i += 2) {
    // Copies: forming a value may allocate and move the block's buffer.
    const Cell name = series_buffer(held.node())->head_cell()[i];
    const Cell value = series_buffer(held.node())->head_cell()[i + 1];
    const std::string name_text = header_text(&name, true);
    const std::string value_text = header_text(&value, false);
    // "Name;" sends a header with an empty value ("Name:" would remove it).
    lines.push_back(value_text.empty() ? name_text + ";" : name_text + ": " + value_text);
  }
  return lines;
}

// MAY ALLOCATE. The bytes of the body [data]: a binary! from its index, a
// string!'s UTF-8, a block!'s mold. Script invalid-arg with any other value.
std::string body_bytes(const Cell* data) {
  if (data->is(kTypeBinary)) {
    Cell bin = *data;
    const int32_t n = binary_length(&bin);
    return std::string(reinterpret_cast<const char*>(binary_head_ptr(&bin)), size_t(n));
  }
  if (data->is(kTypeString)) return string_to_utf8(data);
  if (!data->is(kTypeBlock)) raise_error(kErrScriptInvalidArg, data);
  StackSave save;
  Cell* copy = stack_push_value(*data);
  Cell* out = string_make_at(stack_push(), 64);
  mold_whole(copy, out);
  return string_to_utf8(out);
}

// The method text of the word [method]: its name in upper case.
std::string method_text(const Cell* method) {
  std::string text = symbol_name_text(word_symbol(method));
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return text;
}

// MAY ALLOCATE. Pushes the map! of the header [lines]: each name a word, a
// repeated name (letter case ignored) a block of its values in order.
Cell* push_header_map(const std::vector<std::pair<std::string, std::string>>& lines) {
  // Grouped first: the names in first-seen order, each with its values.
  std::vector<std::pair<std::string, std::vector<const std::string*>>> groups;
  for (const auto& [name, value] : lines) {
    auto found = std::find_if(groups.begin(), groups.end(), [&name = name](const auto& group) {
      return ascii_equal_caseless(group.first, name);
    });
    if (found == groups.end()) {
      groups.push_back({name, {}});
      found = groups.end() - 1;
    }
    found->second.push_back(&value);
  }
  Cell* pairs = block_push_only(int32_t(groups.size() * 2));
  for (const auto& [name, values] : groups) {
    StackSave save;
    Cell* key = stack_push_value(load_word(name.c_str()));
    Cell* value = nullptr;
    if (values.size() == 1) {
      value = string_make_at(stack_push(), 0);
      string_append_utf8(value, *values[0]);
    } else {
      value = block_push_only(int32_t(values.size()));
      for (const std::string* text : values) {
        StackSave inner;
        Cell* item = string_make_at(stack_push(), 0);
        string_append_utf8(item, *text);
        *block_append_cell(value) = *item;
      }
    }
    *block_append_cell(pairs) = *key;
    *block_append_cell(pairs) = *value;
  }
  Cell* map = stack_push();
  *map = make_cell(kTypeNone);
  return map_make_at(map, pairs->node(), 0);
}

// A binary! made with room for a body of announced length, which libcurl
// fills in place; it stays on the data stack.
class BinaryRoom final : public HttpBodyRoom {
 public:
  uint8_t* room(uint64_t length) override {
    // Below the body limit, so below 2^31.
    const uint32_t n = uint32_t(length);
    bin_ = binary_make_at(stack_push(), n);
    uint8_t* at = reserve_tail(bin_->node(), n);
    os_advise_huge_pages(at, n);
    capacity_ = n;
    return at;
  }
  // MAY ALLOCATE. The binary! of the body: its filled bytes, then those that
  // came past the announced length ([rest]).
  Cell* finish(uint64_t filled, const std::string& rest) {
    series_buffer(bin_->node())->tail -= uint32_t(capacity_ - filled);
    if (!rest.empty()) {
      if (filled + rest.size() > uint64_t(INT32_MAX)) raise_error(kErrScriptTooLong);
      uint8_t* at = reserve_tail(bin_->node(), uint32_t(rest.size()));
      std::memcpy(at, rest.data(), rest.size());
    }
    return bin_;
  }

 private:
  Cell* bin_ = nullptr;
  uint64_t capacity_ = 0;
};

// MAY ALLOCATE. Performs [request] for [url] and pushes the answer as
// [binary], [lines] and [info] ask. A binary body of announced length goes
// straight into its binary!.
Cell* answer(const Cell* url, const HttpRequest& request, bool binary, bool lines, bool info) {
  BinaryRoom room;
  HttpResponse response = http_perform(request, uint64_t(1) << 31, binary ? &room : nullptr);
  if (response.outcome == HttpOutcome::kTooLong) raise_error(kErrScriptTooLong);
  if (response.outcome != HttpOutcome::kAnswered) raise_error(kErrAccessNoConnect, url);
  auto body = [&] {
    return response.used_room ? room.finish(response.room_filled, response.body)
                              : bytes_to_value(&response.body, binary, lines);
  };
  if (!info) return body();
  Cell* block = block_push_only(3);
  *block_append_cell(block) = integer_cell(int32_t(response.status));
  {
    StackSave save;
    Cell* headers = push_header_map(response.headers);
    *block_append_cell(block) = *headers;
  }
  {
    StackSave save;
    Cell* value = body();
    *block_append_cell(block) = *value;
  }
  return block;
}

// A request with the three headers sent when no header block is given.
HttpRequest default_request(const Cell* url, std::string method) {
  HttpRequest request;
  request.method = std::move(method);
  request.url = url_text(url);
  request.headers = {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                     "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
  return request;
}

// ---------------------------------------------------------------- action handlers

Cell* url_read(Cell* url, const ReadArgs& a) {
  if (!http_url_q(url)) return url_port_read(url, a);
  if (a.part || a.seek || a.as) raise_error(kErrInternalNotDone);
  return answer(url, default_request(url, "GET"), a.binary, a.lines, a.info);
}

Cell* url_write(Cell* url, const WriteArgs& a) {
  if (!http_url_q(url)) return url_port_write(url, a);
  if (a.part || a.seek || a.allow || a.as) raise_error(kErrInternalNotDone);
  const Cell data = *a.data;
  HttpRequest request;
  Cell body = make_cell(kTypeNone);
  if (!data.is(kTypeBlock)) {
    request = default_request(url, "POST");
    body = data;
  } else if (block_ks_tail_q(&data)) {
    request = default_request(url, "GET");
  } else {
    const Cell method = *block_ks_abs_at(&data, data.head());
    if (!method.is(kTypeWord)) raise_error(kErrScriptInvalidArg, &method);
    request = default_request(url, method_text(&method));
    Cell counted = data;
    const int32_t length = block_ks_length_q(&counted);
    if (length >= 2) {
      const Cell headers = *block_ks_abs_at(&data, data.head() + 1);
      if (!headers.is(kTypeBlock)) raise_error(kErrScriptInvalidArg, &headers);
      request.headers = header_lines(&headers);
    }
    if (length >= 3) body = *block_ks_abs_at(&data, data.head() + 2);
  }
  if (!body.is(kTypeNone) && !body.is(kTypeBlock) && !body.is(kTypeString) && !body.is(kTypeBinary))
    raise_error(kErrScriptInvalidArg, &body);
  if (request.method != "GET" && request.method != "HEAD" && !body.is(kTypeNone)) {
    request.has_body = true;
    request.body = body_bytes(&body);
  }
  return answer(url, request, a.binary, a.lines, a.info);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> http_header_lines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) end = text.size();
    if (end > start && text[end - 1] == '\r') end--;
    const std::string line = text.substr(start, end - start);
    start = next;
    if (line.compare(0, 5, "HTTP/") == 0) {
      lines.clear();
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    size_t value = colon + 1;
    while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) value++;
    lines.emplace_back(line.substr(0, colon), line.substr(value));
  }
  return lines;
}

HttpResponse http_perform(const HttpRequest& request, uint64_t body_limit, HttpBodyRoom* room) {
  HttpResponse response;
  if (!curl_ready()) return response;
  std::unique_ptr<CURL, EasyFree> easy(g_curl.easy_init());
  if (!easy) return response;
  CURL* e = easy.get();

  // What libcurl would add of its own is removed: Expect, and a Content-Type
  // the request does not name itself.
  std::unique_ptr<curl_slist, ListFree> list;
  auto add = [&](const std::string& line) {
    curl_slist* grown = g_curl.slist_append(list.get(), line.c_str());
    if (grown) {
      (void)list.release();
      list.reset(grown);
    }
    return grown != nullptr;
  };
  bool listed = true;
  for (const std::string& line : request.headers) listed = listed && add(line);
  if (!has_header(request.headers, "Expect")) listed = listed && add("Expect:");
  if (!has_header(request.headers, "Content-Type")) listed = listed && add("Content-Type:");
  if (!listed) return response;

  const std::string url = escaped_url(request.url);
  std::string header_text;
  BodySink sink{&response.body, body_limit, e, room};
  bool set = g_curl.easy_setopt(e, CURLOPT_URL, url.c_str()) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 60L) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 30L) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_HTTPHEADER, list.get()) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_WRITEFUNCTION, take_body) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_HEADERFUNCTION, take_header) == CURLE_OK &&
             g_curl.easy_setopt(e, CURLOPT_HEADERDATA, &header_text) == CURLE_OK;
  if (request.method == "HEAD") {
    set = set && g_curl.easy_setopt(e, CURLOPT_NOBODY, 1L) == CURLE_OK;
  } else if (request.method == "GET") {
    set = set && g_curl.easy_setopt(e, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  } else {
    if (request.method == "POST" || request.has_body) {
      // The body is sent from the request's own string, which outlives the call.
      set = set &&
            g_curl.easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size())) == CURLE_OK &&
            g_curl.easy_setopt(e, CURLOPT_POSTFIELDS, request.body.data()) == CURLE_OK;
    }
    if (request.method != "POST")
      set = set && g_curl.easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str()) == CURLE_OK;
  }
  if (!set) return response;

  // The transfer runs through a multi handle so that it can stop, paused,
  // for the room to be made here, outside libcurl.
  std::unique_ptr<CURLM, MultiFree> multi(g_curl.multi_init());
  if (!multi) return response;
  Added added{multi.get(), e, g_curl.multi_add_handle(multi.get(), e) == CURLM_OK};
  if (!added.added) return response;
  CURLcode done = CURLE_OK;
  int running = 1;
  while (running) {
    if (g_curl.multi_perform(multi.get(), &running) != CURLM_OK) return response;
    if (sink.wanted && !sink.room) {
      sink.room = room->room(sink.wanted);
      sink.capacity = sink.wanted;
      if (g_curl.easy_pause(e, CURLPAUSE_CONT) != CURLE_OK) return response;
      continue;
    }
    if (running && g_curl.multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) return response;
  }
  int left = 0;
  while (CURLMsg* message = g_curl.multi_info_read(multi.get(), &left))
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) done = message->data.result;
  if (sink.too_long) {
    response.outcome = HttpOutcome::kTooLong;
    response.body = std::string();
    return response;
  }
  if (done != CURLE_OK) {
    response.body = std::string();
    return response;
  }
  response.used_room = sink.room != nullptr;
  response.room_filled = sink.filled;
  g_curl.easy_getinfo(e, CURLINFO_RESPONSE_CODE, &response.status);
  response.headers = http_header_lines(header_text);
  response.outcome = HttpOutcome::kAnswered;
  return response;
}

void http_client_init() {
  registry_install(kTypeUrl, {.open = url_open, .read = url_read, .write = url_write});
}

}  // namespace kiv
