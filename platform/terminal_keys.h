// Keys from a terminal: the bytes a terminal sends for each key, decoded into
// the key codes the line editor and the text-mode GUI share.
//
// Decoding is pure: bytes go in with feed, events come out of next, so split
// reads and sequences typed while a reply is awaited are handled in one place
// and tested as byte tables. Text is UTF-8 whatever the locale says, one code
// point per key; a byte that cannot be part of UTF-8 is U+FFFD.
//
//   CSI or SS3 A B C D         Up -20, Down -21, Right -22, Left -23
//   CSI or SS3 H, CSI 1~ 7~    Home -25
//   CSI or SS3 F, CSI 4~ 8~    End -24
//   CSI 2~ 3~ 5~ 6~            Insert -26, Delete -27, Page Up -28, Page Down -29
//   SS3 P Q R S, CSI 11~..14~  F1..F4: -31..-34
//   CSI 15~ 17~..21~ 23~ 24~   F5..F12: -35..-42
//   CSI Z                      Tab with Shift (Shift+Tab)
//   CSI row;col R              a cursor position report (not a key)
//   CSI < b;col;row M or m     a mouse report (m: a release); CSI b;col;row M
//                              the same in the older decimal form (b + 32)
//   any other CSI or SS3       0, the whole sequence consumed
//   ESC P ... ESC \, ESC ] ... ESC \ or BEL   a terminal's string: skipped; one
//                              that has not ended when the wait is over is
//                              Alt+P (Alt+]) and the keys after it
//   ESC then a key (Alt+key)   that key
//   ESC alone                  27, once kEscapeWaitMs passed with nothing after it
//   CR or LF                   13 (Enter)
//   DEL 127, BS 8, others      their codes
// Modifier parameters (CSI 1;5A: 1 + Shift 1, Alt 2, Control 4) are kept
// apart: Ctrl+Up is Up with the control modifier.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kiv {

enum KeyCode : int32_t {
  kKeyFailed = -1,  // the read failed; the editor ignores it
  kKeyOther = 0,    // a key without a character this reader does not name
  kKeyUp = -20,
  kKeyDown = -21,
  kKeyRight = -22,
  kKeyLeft = -23,
  kKeyEnd = -24,
  kKeyHome = -25,
  kKeyInsert = -26,
  kKeyDelete = -27,
  kKeyPageUp = -28,
  kKeyPageDown = -29,
  kKeyF1 = -31,  // F1..F12 run down to -42
  kKeyF12 = -42,
  kKeyBackspace = 8,
  kKeyTab = 9,
  kKeyEnter = 13,
  kKeyEscape = 27,
  kKeyDel = 127,
};

// How long a lone ESC waits for the rest of a sequence before it is the Esc
// key. The terminal GUI reads keys with the same wait.
inline constexpr int kEscapeWaitMs = 50;

inline constexpr uint32_t kReplacementChar = 0xFFFD;

// Decodes the UTF-8 sequence at [p] ([n] bytes held). Returns the bytes
// consumed and the code point in [*cp]; a malformed sequence gives U+FFFD and
// consumes its longest valid start (at least one byte). Returns 0 when the
// bytes end inside a sequence that may still complete, unless [final]: then
// what is there is U+FFFD.
size_t utf8_decode_lenient(const uint8_t* p, size_t n, bool final, uint32_t* cp);

// Appends the UTF-8 form of [cp] (a code point; surrogates and values past
// U+10FFFF as U+FFFD) to [out].
void utf8_append(std::string& out, uint32_t cp);

// The modifier bits of a decoded key or mouse report.
inline constexpr uint8_t kModShift = 1;
inline constexpr uint8_t kModAlt = 2;
inline constexpr uint8_t kModControl = 4;

// One thing decoded from the terminal's bytes.
struct TerminalInputEvent {
  int32_t key = 0;        // kKey: the key
  uint8_t modifiers = 0;  // kKey, kMouse: kMod... bits
  int row = 0, col = 0;   // kPosition, kMouse: 1-based
  int button = 0;         // kMouse: the report's button code, modifier bits included
  bool release = false;   // kMouse: a release (SGR final m)
};

class KeyDecoder {
 public:
  enum class Event : uint8_t {
    kNone,      // nothing complete: the bytes held (if any) are a sequence's start
    kKey,       // a key in *key
    kPosition,  // a cursor position report: 1-based *row and *col
    kMouse,     // a mouse report (next_input only)
  };

  // Adds bytes read from the terminal.
  void feed(const uint8_t* bytes, size_t n);
  // Takes the next event from the bytes held. With [final] (nothing more came
  // within the escape wait) a sequence's start is taken as it stands: ESC
  // alone is the Esc key.
  // The line editor's view: mouse reports and Shift+Tab are key 0 and the
  // modifiers are dropped.
  Event next(bool final, int32_t* key, int* row, int* col);
  // The same, everything the bytes say in [*out].
  Event next_input(bool final, TerminalInputEvent* out);
  // Drops the bytes held.
  void clear() {
    held_.clear();
    pos_ = 0;
  }
  // True when no byte is held.
  bool empty() const { return pos_ >= held_.size(); }

 private:
  std::string held_;
  size_t pos_ = 0;
};

}  // namespace kiv
