// Console output (console_output.h). Text is collected in a 1,024-byte buffer
// and written from its start. On a terminal an ESC [ sequence flushes the
// buffer and is carried out by a small state machine over console
// attributes (colour bits as the console keeps them), which it writes again
// as standard terminal sequences.
#include "services/console_output.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "datatypes/string.h"
#include "platform/process.h"
#include "platform/stdio.h"
#include "runtime/unicode.h"
#include "services/print_hooks.h"

namespace kiv {

namespace {

constexpr size_t kBufferSize = 1024;
constexpr size_t kFlushAt = 1020;  // a UTF-8 sequence is at most 4 bytes
constexpr uint16_t kInitialAttribute = 0x07;

int g_fd = 1;
bool g_terminal = false;
uint8_t g_buffer[kBufferSize];
size_t g_used = 0;
uint16_t g_attribute = kInitialAttribute;

void flush() {
  size_t used = g_used;
  g_used = 0;
  if (int error = used ? fd_write_all(g_fd, g_buffer, used) : 0) conout_lost(error);
}

void put_code_point(uint32_t cp) {
  g_used += size_t(utf8_encode(cp, g_buffer + g_used));
  if (g_used > kFlushAt) flush();
}

void put_ascii(const std::string& s) {
  for (char c : s) put_code_point(uint8_t(c));
}

// The standard colour number (0-7: black, red, green, yellow, blue, magenta,
// cyan, white) of the console colour bits [bgr] (blue 1, green 2, red 4).
int standard_colour(int bgr) { return ((bgr & 1) << 2) | (bgr & 2) | ((bgr & 4) >> 2); }

// The console colour bits of standard colour [c].
int console_colour(int c) { return ((c & 1) << 2) | (c & 2) | ((c & 4) >> 2); }

// Writes the attribute [a] as one SGR sequence: colours equal to the
// initial ones are the terminal's defaults.
void emit_attribute(uint16_t a) {
  std::string s = "\x1b[0";
  if (a & 0x08) s += ";1";
  if (a & 0x8000) s += ";4";
  int fg = a & 0x07;
  int bg = (a >> 4) & 0x07;
  if (fg != (kInitialAttribute & 0x07)) s += ";" + std::to_string(30 + standard_colour(fg));
  if (a & 0x80)
    s += ";" + std::to_string(100 + standard_colour(bg));
  else if (bg != ((kInitialAttribute >> 4) & 0x07))
    s += ";" + std::to_string(40 + standard_colour(bg));
  s += "m";
  put_ascii(s);
}

uint16_t sgr(uint16_t a, uint32_t p) {
  if (p == 0) return kInitialAttribute;
  // Bold brightens the text only, and 39 and 49 give the default text and
  // background colours back, as terminals read them (setting intensity bits
  // there would turn the background grey).
  if (p == 1) return a | 0x08;
  if (p == 4) return a | 0x8000;
  if (p == 7) return uint16_t(((a & 0xF0) >> 4) | ((a & 0x0F) << 4));
  if (p >= 30 && p <= 37) return uint16_t((a & 0xF8) | console_colour(int(p - 30)));
  if (p == 39) return uint16_t((a & ~0x07) | (kInitialAttribute & 0x07));
  if (p >= 40 && p <= 47) return uint16_t((a & 0x8F) | (console_colour(int(p - 40)) << 4));
  if (p == 49) return uint16_t((a & ~0xF0) | (kInitialAttribute & 0xF0));
  return a;  // other parameters leave the attribute alone
}

void set_attribute(uint16_t a) {
  g_attribute = a;
  emit_attribute(a);
}

void csi(uint32_t n, char final) {
  if (n) put_ascii("\x1b[" + std::to_string(n) + final);
}

// Erase modes 0-5: below, above, screen, line, to line end, to the cursor.
void erase(int mode) {
  static const char* const kSequences[] = {"\x1b[J",    "\x1b[1J", "\x1b[2J\x1b[H",
                                           "\x1b[2K\r", "\x1b[K",  "\x1b[1K\r"};
  put_ascii(kSequences[mode]);
}

// Carries out the ESC [ sequence whose ESC is code point [i] of [node];
// returns the code points consumed, 0 when the one after ESC is not "[".
uint32_t ansi_console_write(Node node, uint32_t i, uint32_t end) {
  if (i + 1 >= end || string_char_at_node(node, i + 1) != '[') return 0;
  uint32_t k = i + 2;
  uint32_t p1 = 0, p2 = 0;
  uint16_t attr = g_attribute;
  int state = 1;
  while (k < end) {
    uint32_t u = string_char_at_node(node, k++) & 0xFF;
    bool digit = u >= '0' && u <= '9';
    switch (state) {
      case 1:
        if (digit) {
          p1 = (p1 * 10 + (u - '0')) % 65535;
          state = 2;
          continue;
        }
        if (u == ';') continue;
        if (u == 's')
          put_ascii(
              "\x1b"
              "7");
        if (u == 'u')
          put_ascii(
              "\x1b"
              "8");
        if (u == 'K') erase(4);
        if (u == 'J') erase(0);
        if (u == 'H' || u == 'f') put_ascii("\x1b[H");
        return k - i;
      case 2:
        if (digit) {
          p1 = (p1 * 10 + (u - '0')) % 65535;
          continue;
        }
        if (u == ';') {
          state = 3;
          continue;
        }
        if (u == 'm') set_attribute(sgr(attr, p1));
        if (u == 'A' || u == 'B' || u == 'C' || u == 'D') csi(p1, char(u));
        if (u == 'J' && (p1 == 1 || p1 == 2)) erase(int(p1));
        if (u == 'K' && p1 == 1) erase(5);
        if (u == 'K' && p1 == 2) erase(3);
        return k - i;
      case 3:
        if (digit) {
          p2 = (p2 * 10 + (u - '0')) % 65535;
          state = 4;
          continue;
        }
        if (u == ';') continue;
        return k - i;
      default:
        if (digit) {
          p2 = (p2 * 10 + (u - '0')) % 65535;
          continue;
        }
        if (u == 'm') set_attribute(sgr(sgr(attr, p1), p2));
        if (u == ';') {
          attr = sgr(sgr(attr, p1), p2);
          p1 = p2 = 0;
          state = 1;
          continue;
        }
        if (u == 'H' || u == 'f')
          put_ascii("\x1b[" + std::to_string(p2 + 1) + ";" + std::to_string(p1 + 1) + "H");
        return k - i;
    }
  }
  return k - i;  // cut off by the end of the text
}

}  // namespace

namespace {
// Around every write of printed text, while set (the text-mode GUI's).
void (*g_before_print)() = nullptr;
void (*g_after_print)() = nullptr;
}  // namespace

void conout_init(int fd) {
  g_fd = fd;
  g_terminal = fd_is_terminal(fd);
  g_used = 0;
  g_attribute = kInitialAttribute;
}

int conout_fd() { return g_fd; }

void conout_set_print_hooks(void (*before)(), void (*after)()) {
  g_before_print = before;
  g_after_print = after;
}

void conout_write_string(const Cell* text, bool newline) {
  if (g_before_print) g_before_print();
  Node node = text->node();
  uint32_t end = uint32_t(string_total_length(text));
  uint32_t i = uint32_t(string_head_index(text));
  while (i < end) {
    uint32_t cp = string_char_at_node(node, i);
    if (cp == 27 && g_terminal) {
      flush();
      uint32_t k = ansi_console_write(node, i, end);
      if (k) {
        i += k;
        continue;
      }
    }
    put_code_point(cp);
    ++i;
  }
  if (newline) put_code_point('\n');
  flush();
  if (g_after_print) g_after_print();
}

const char* conout_write_cstring(const char* text) {
  size_t n = std::strlen(text);
  if (g_before_print) g_before_print();
  flush();
  if (int error = fd_write_all(g_fd, text, n)) conout_lost(error);
  if (g_after_print) g_after_print();
  call_text_printers(text, n, 0);
  return text;
}

void conout_lost(int error) {
  if (error == EPIPE) process_end_by_signal(SIGPIPE);
  std::string report = "*** Access Error: cannot write to standard output: ";
  report += std::strerror(error);
  report += "\n";
  write_all(2, report.data(), report.size());
  process_exit(kExitUncaughtError);
}

void conout_finish() {
  flush();
  if (std::fflush(stdout) != 0) conout_lost(errno);
}

}  // namespace kiv
