// The key reader over a terminal descriptor (terminal_input.h).
#include "platform/terminal_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/clock.h"
#include "platform/stdio.h"
#include "platform/terminal_mode.h"

namespace kiv {

namespace {}  // namespace

int TerminalInput::fill(int timeout_ms) {
  if (ended_) return -1;
  pollfd fds[2] = {{fd_, POLLIN, 0}, {terminal_wake_fd(), POLLIN, 0}};
  nfds_t count = fds[1].fd >= 0 ? 2 : 1;
  int ready = poll(fds, count, timeout_ms);
  if (ready < 0) return errno == EINTR ? 2 : -1;
  if (ready == 0) return 0;
  if (count == 2 && (fds[1].revents & POLLIN)) return 2;
  uint8_t buffer[512];
  ssize_t n = read(fd_, buffer, sizeof buffer);
  if (n > 0) {
    decoder_.feed(buffer, size_t(n));
    return 1;
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return 1;
  ended_ = true;  // 0 bytes, EIO or any other failure: never read in a loop again
  return -1;
}

TerminalInput::Result TerminalInput::read_key(int32_t* key) {
  for (;;) {
    if (!keys_.empty()) {
      *key = keys_.front();
      keys_.pop_front();
      return Result::kKey;
    }
    int row, col;
    KeyDecoder::Event e = decoder_.next(false, key, &row, &col);
    if (e == KeyDecoder::Event::kKey) return Result::kKey;
    if (e == KeyDecoder::Event::kPosition) continue;  // a late reply
    bool waiting = !decoder_.empty();
    int got = fill(waiting ? kEscapeWaitMs : -1);
    if (got == 0 || (got == -1 && waiting)) {
      e = decoder_.next(true, key, &row, &col);
      if (e == KeyDecoder::Event::kKey) return Result::kKey;
      continue;
    }
    if (got == -1) return Result::kEnd;
    if (got == 2) {
      TerminalWake why = terminal_take_wake();
      if (why == TerminalWake::kContinued) return Result::kContinued;
      if (why == TerminalWake::kResized) return Result::kResized;
    }
  }
}

int TerminalInput::query_cursor_column(int out_fd) {
  static const char kQuery[] = "\x1b[6n";
  if (fd_write_all(out_fd, kQuery, sizeof kQuery - 1) != 0) return 0;
  int64_t deadline = os_monotonic_ms() + kPositionWaitMs;
  for (;;) {
    int32_t key;
    int row, col;
    KeyDecoder::Event e = decoder_.next(false, &key, &row, &col);
    if (e == KeyDecoder::Event::kPosition) return col > 0 ? col - 1 : 0;
    if (e == KeyDecoder::Event::kKey) {
      keys_.push_back(key);
      continue;
    }
    int64_t left = deadline - os_monotonic_ms();
    if (left <= 0) return 0;
    int got = fill(int(left));
    if (got == -1) return 0;
    if (got == 2) {
      // A wake-up during the query: kept for the reader.
      TerminalWake why = terminal_take_wake();
      (void)why;
    }
  }
}

void TerminalInput::reset() {
  decoder_ = KeyDecoder();
  keys_.clear();
  ended_ = false;
}

}  // namespace kiv
