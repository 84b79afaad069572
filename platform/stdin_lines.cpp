// Lines and bytes of standard input (stdin_lines.h).
#include "platform/stdin_lines.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/terminal_keys.h"

namespace kiv {

namespace {

std::string g_ahead;  // bytes read and not yet taken, from g_taken on
size_t g_taken = 0;
bool g_ended = false;

// Reads more bytes behind those held. False at the end of the input.
bool read_more() {
  if (g_ended) return false;
  if (g_taken > 0) {
    g_ahead.erase(0, g_taken);
    g_taken = 0;
  }
  char buffer[4096];
  for (;;) {
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n > 0) {
      g_ahead.append(buffer, size_t(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    g_ended = true;
    return false;
  }
}

}  // namespace

bool stdin_read_line(std::u32string* out) {
  bool any = false;
  for (;;) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(g_ahead.data());
    size_t n = g_ahead.size();
    while (g_taken < n) {
      uint32_t cp;
      size_t used = utf8_decode_lenient(p + g_taken, n - g_taken, g_ended, &cp);
      if (used == 0) break;  // a sequence split between reads
      g_taken += used;
      if (cp == '\n') return true;
      out->push_back(char32_t(cp));
      any = true;
    }
    if (!read_more()) {
      // A sequence cut short by the end of the input.
      p = reinterpret_cast<const uint8_t*>(g_ahead.data());
      n = g_ahead.size();
      while (g_taken < n) {
        uint32_t cp;
        g_taken += utf8_decode_lenient(p + g_taken, n - g_taken, true, &cp);
        out->push_back(char32_t(cp));
        any = true;
      }
      return any;
    }
  }
}

size_t stdin_read_bytes(uint8_t* bytes, size_t n) {
  if (n == 0) return 0;
  if (g_taken >= g_ahead.size()) {
    if (g_ended) return 0;
    for (;;) {
      ssize_t got = read(0, bytes, n);
      if (got > 0) return size_t(got);
      if (got < 0 && errno == EINTR) continue;
      g_ended = true;
      return 0;
    }
  }
  size_t k = std::min(n, g_ahead.size() - g_taken);
  std::memcpy(bytes, g_ahead.data() + g_taken, k);
  g_taken += k;
  return k;
}

void stdin_lines_reset() {
  g_ahead.clear();
  g_taken = 0;
  g_ended = false;
}

}  // namespace kiv
