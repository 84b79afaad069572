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
//   CSI row;col R              a cursor position report (not a key)
//   any other CSI or SS3       0, the whole sequence consumed
//   ESC then a key (Alt+key)   that key
//   ESC alone                  27, once kEscapeWaitMs passed with nothing after it
//   CR or LF                   13 (Enter)
//   DEL 127, BS 8, others      their codes
// Modifier parameters (CSI 1;5A) are read past: Ctrl+Up is Up.
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

class KeyDecoder {
 public:
  enum class Event : uint8_t {
    kNone,      // nothing complete: the bytes held (if any) are a sequence's start
    kKey,       // a key in *key
    kPosition,  // a cursor position report: 1-based *row and *col
  };

  // Adds bytes read from the terminal.
  void feed(const uint8_t* bytes, size_t n);
  // Takes the next event from the bytes held. With [final] (nothing more came
  // within the escape wait) a sequence's start is taken as it stands: ESC
  // alone is the Esc key.
  Event next(bool final, int32_t* key, int* row, int* col);
  // True when no byte is held.
  bool empty() const { return pos_ >= held_.size(); }

 private:
  std::string held_;
  size_t pos_ = 0;
};

}  // namespace kiv
