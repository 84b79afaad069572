// Reading keys from a terminal in raw mode: the decoder (terminal_keys.h) fed
// from the descriptor, the escape wait, the wake-ups of the self-pipe
// (terminal_mode.h) and the cursor position query. Shared by the line editor
// and the text-mode GUI.
#pragma once

#include <cstdint>
#include <deque>

#include "platform/terminal_keys.h"

namespace kiv {

// How long the cursor position query waits for the terminal's reply.
inline constexpr int kPositionWaitMs = 100;

class TerminalInput {
 public:
  enum class Result : uint8_t {
    kKey,        // a key in *key
    kEnd,        // the input ended: a read gave 0 bytes or failed (EIO)
    kResized,    // SIGWINCH: the size may have changed
    kContinued,  // SIGCONT after a stop: raw mode is on again, draw anew
  };

  explicit TerminalInput(int fd) : fd_(fd) {}

  // Waits for the next key (a lone ESC for kEscapeWaitMs). Cursor position
  // reports that arrive here answer no query: they are dropped.
  Result read_key(int32_t* key);

  // Asks the terminal where the cursor is (CSI 6n, written to [out_fd]) and
  // waits up to kPositionWaitMs for the reply; keys typed meanwhile are kept
  // for read_key. The 0-based column, or 0 when no reply came.
  int query_cursor_column(int out_fd);

  // The bytes and keys held are dropped (a new edit on another descriptor).
  void reset();

 private:
  // Reads what the descriptor has, waiting at most [timeout_ms] (-1: no
  // limit). 1 bytes came, 0 time ran out, -1 the input ended, 2 a wake-up.
  int fill(int timeout_ms);

  int fd_;
  KeyDecoder decoder_;
  std::deque<int32_t> keys_;
  bool ended_ = false;
};

}  // namespace kiv
